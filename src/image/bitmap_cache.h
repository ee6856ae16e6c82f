// Loading BMP files into the process-wide bitmap cache.
#pragma once

#include <atomic>
#include <cstdint>

#include "image/records.h"
#include "platform/platform.h"

namespace zadized {

// The cache keeps every file it loaded until the process ends. It starts in
// fixed tables (50 records, 5000 bytes of names) and, when a host script uses
// more templates or longer names than they hold, moves to larger global-memory
// tables: nothing is ever evicted, so every block handed out stays valid.
//
// Beside each record the cache keeps which of the file's pixels are opaque
// (a PNG file with an alpha channel or a tRNS chunk): the record hosts see
// describes the BMP form only. A grown record table holds these pointers
// after its records, in the same block.
//
// Any number of threads use one cache at once. Look-ups take no lock: an
// entry is written whole before `count` takes it in, and a table a reader
// may still be walking is kept, not freed, when a larger one replaces it
// (until ReleaseBitmapCache). Adding an entry and growing the tables are the
// writers' business, one at a time under `writers`; no file is read or
// decoded while it is held.
struct BitmapCache {
  BitmapRecord fixedRecords[50];
  const std::uint8_t* fixedOpacity[50];
  std::uint8_t fixedNames[5000];
  std::atomic<BitmapRecord*> records;    // null: fixedRecords and fixedOpacity
  std::atomic<std::uint8_t*> nameTable;  // null: fixedNames
  std::atomic<std::int32_t> count;
  // Read and written by the writer holding `writers` only.
  std::int32_t recordCapacity;  // 0: the fixed table's 50
  std::uint32_t nameCapacity;   // 0: the fixed table's 5000
  platform::SharedLock writers;
};

// A cached template: the record OpenBitmap answers, and which of its pixels
// take part in a search: one byte per pixel in stored order (bottom row
// first, each row left to right, no padding), 0 for a pixel whose alpha is
// below its maximum. Null when every pixel is opaque, as in every BMP file.
// It lives as long as the record's block.
struct Template {
  BitmapRecord record;
  const std::uint8_t* opacity;
};

// The one cache of the process; zero at load.
BitmapCache& TheBitmapCache();

// Gives back every block the cache holds (the files and any grown tables) and
// empties it. The process-wide cache is never released: records handed out
// stay valid for the life of the process. Private caches, in tests and tools,
// end with this, when no other thread uses them any more.
void ReleaseBitmapCache(BitmapCache& cache);

// Index of the cached entry named `fileName`, or -1 after writing the name
// directly behind the counted entries (not counted). -2 when the name table
// has no room for it and cannot grow. Takes the writers' lock.
std::int32_t LookupBitmapName(BitmapCache& cache, const char* fileName);

// The cached record for `fileName`, loading the file on a miss. Two threads
// that miss on one name at once both read the file; the first to add it
// wins, the other releases its copy and answers the winner's record. fileSize is -1
// (and every other field 0) when the file could not be loaded or is not a BMP
// file this loader can read safely.
BitmapRecord OpenBitmap(BitmapCache& cache, const char* fileName);
BitmapRecord OpenBitmap(const char* fileName);

// A BMP or PNG file read and refused exactly as OpenBitmap reads and refuses
// it, corner colours and all, but not cached: the caller frees
// record.fileData (the opacity lies in the same block). fileSize -1, with
// nothing left allocated or open, when the file cannot be loaded.
Template LoadPictureFile(const char* fileName);

// OpenBitmap, with the template's opacity.
Template OpenTemplate(BitmapCache& cache, const char* fileName);
Template OpenTemplate(const char* fileName);

// Checks that the header fields the loader uses describe pixel data that lies
// wholly inside `size` bytes, stored as plain rows. False for anything it
// would have to guess at, and for a compressed file (IsCompressedBmp).
bool IsLoadableBmp(const std::uint8_t* data, std::uint32_t size);

// The info header's compression field (byte 30); kBmpPlainRows for a header
// too short to hold one. 3 (bit fields) and 6 (bit fields with alpha) are
// plain rows too.
constexpr std::uint32_t kBmpPlainRows = 0;
std::uint32_t BmpCompression(const std::uint8_t* data, std::uint32_t size);

// RLE8 (1), RLE4 (2), JPEG (4) and PNG (5): the loader refuses these.
bool IsCompressedBmp(std::uint32_t compression);

// The 256 colours an 8-bit picture's index bytes select. For a file laid out
// the standard way (256 entries directly before the pixels) these are the 1024
// bytes before `pixels`, exactly as ReadPixel reads them. For any other 8-bit
// file they are the entries the file declares after its info header; entries
// past the declared count, or past the end of the file, are 0.
void ResolveColorTable(const BitmapRecord& record, ColorValue table[256]);

}  // namespace zadized
