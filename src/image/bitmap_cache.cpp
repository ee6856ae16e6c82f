#include "image/bitmap_cache.h"

#include <cstring>

#include "image/pixel.h"
#include "image/png_template.h"
#include "platform/platform.h"

namespace zadized {

namespace {

constexpr std::int32_t kFixedRecords = 50;
constexpr std::uint32_t kFixedNames = 5000;
// The header fields read end with the bits-per-pixel word at bytes 28-29.
constexpr std::uint32_t kMinimumFile = 30;
// Names of up to 126 characters keep the one-byte length of the packed table.
// Longer ones are stored behind a 0 length byte with a 4-byte length, which no
// short entry can have, so both kinds live in one table.
constexpr std::uint32_t kLongestShortName = 126;

std::uint32_t Read32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint16_t Read16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

// A grown table sits behind a header naming the table it replaced, which a
// reader that started before the growth may still be walking: it is released
// with the cache, not before. A grown record table's header also holds its
// capacity, which places the opacity pointers after the records for readers
// that see the table but not the writers' fields.
struct Grown {
  void* replaced;  // the previous grown table; null for the fixed one
  std::int32_t capacity;
};
constexpr std::size_t kGrownHeader = 16;
static_assert(sizeof(Grown) <= kGrownHeader, "header fits");
Grown* HeaderOf(void* table) {
  return reinterpret_cast<Grown*>(static_cast<std::uint8_t*>(table) - kGrownHeader);
}

// What readers go by: the tables as published, loaded with acquire so that
// every entry `count` takes in is seen whole.
BitmapRecord* Records(BitmapCache& c) {
  BitmapRecord* grown = c.records.load(std::memory_order_acquire);
  return grown != nullptr ? grown : c.fixedRecords;
}
std::uint8_t* Names(BitmapCache& c) {
  std::uint8_t* grown = c.nameTable.load(std::memory_order_acquire);
  return grown != nullptr ? grown : c.fixedNames;
}
const std::uint8_t** Opacity(BitmapCache& c, BitmapRecord* records) {
  if (records == c.fixedRecords) return c.fixedOpacity;
  return reinterpret_cast<const std::uint8_t**>(records + HeaderOf(records)->capacity);
}
std::int32_t RecordCapacity(const BitmapCache& c) {
  return c.recordCapacity != 0 ? c.recordCapacity : kFixedRecords;
}
std::uint32_t NameCapacity(const BitmapCache& c) {
  return c.nameCapacity != 0 ? c.nameCapacity : kFixedNames;
}

// A zero-filled table of `bytes` behind its header; null when it cannot be had.
void* NewGrownTable(std::uint64_t bytes, void* replaced, std::int32_t capacity) {
  if (bytes > 0x7FFFFFFFu - kGrownHeader) return nullptr;
  auto* block = static_cast<std::uint8_t*>(
      platform::Current().allocZeroed(static_cast<std::uint32_t>(bytes + kGrownHeader)));
  if (block == nullptr) return nullptr;
  void* table = block + kGrownHeader;
  *HeaderOf(table) = Grown{replaced, capacity};
  return table;
}

void ReleaseGrownTables(void* table) {
  while (table != nullptr) {
    void* replaced = HeaderOf(table)->replaced;
    platform::Current().freeBlock(HeaderOf(table));
    table = replaced;
  }
}

// Bytes an entry for a name of `length` characters (without NUL) takes.
std::uint64_t EntryBytes(std::uint64_t length) {
  return length <= kLongestShortName ? length + 2 : length + 6;
}

// Size of the entry at `e` and where its text starts.
std::uint32_t EntryTextLength(const std::uint8_t* e, const std::uint8_t** text) {
  if (e[0] != 0) {
    *text = e + 1;
    return e[0];  // characters + NUL
  }
  *text = e + 5;
  return Read32(e + 1);
}

// The writers' side, under the lock: a new table holds a copy of the old
// one's bytes before it is published, so readers find every counted entry in
// either.
bool GrowNames(BitmapCache& c, std::uint64_t needed) {
  std::uint64_t capacity = NameCapacity(c);
  while (capacity < needed) capacity *= 2;
  if (capacity > 0x7FFFFFFFu) return false;
  std::uint8_t* old = c.nameTable.load(std::memory_order_relaxed);
  auto* table = static_cast<std::uint8_t*>(NewGrownTable(capacity, old, 0));
  if (table == nullptr) return false;
  std::memcpy(table, Names(c), NameCapacity(c));
  c.nameTable.store(table, std::memory_order_release);
  c.nameCapacity = static_cast<std::uint32_t>(capacity);
  return true;
}

// Records first, then as many opacity pointers; the records' alignment is
// the pointers' own, so the pointers after them are aligned too.
bool GrowRecords(BitmapCache& c) {
  constexpr std::int32_t kEntry = sizeof(BitmapRecord) + sizeof(const std::uint8_t*);
  static_assert(sizeof(BitmapRecord) % alignof(const std::uint8_t*) == 0, "pointers after the records");
  const std::int32_t capacity = RecordCapacity(c);
  if (capacity > 0x3FFFFFFF / kEntry) return false;
  BitmapRecord* old = Records(c);
  BitmapRecord* grown = c.records.load(std::memory_order_relaxed);
  auto* table = static_cast<BitmapRecord*>(
      NewGrownTable(static_cast<std::uint64_t>(2 * capacity) * kEntry, grown, 2 * capacity));
  if (table == nullptr) return false;
  std::memcpy(table, old, static_cast<std::size_t>(capacity) * sizeof(BitmapRecord));
  std::memcpy(reinterpret_cast<const std::uint8_t**>(table + 2 * capacity), Opacity(c, old),
              static_cast<std::size_t>(capacity) * sizeof(const std::uint8_t*));
  c.records.store(table, std::memory_order_release);
  c.recordCapacity = 2 * capacity;
  return true;
}

struct Header {
  std::uint32_t pixelOffset;
  std::int32_t width;
  std::int32_t height;
  std::int32_t bitCount;
};

Header ReadHeader(const std::uint8_t* data) {
  return Header{Read32(data + 10), static_cast<std::int32_t>(Read32(data + 18)),
                static_cast<std::int32_t>(Read32(data + 22)), Read16(data + 28)};
}

// File header, 40-byte info header and 256 colour-table entries.
constexpr std::uint32_t kStandardPixelOffset = 14 + 40 + 1024;

// Where the file's declared colour table starts and how many entries it has,
// and whether ReadPixel's 1024-bytes-before-the-pixels rule finds exactly it.
struct DeclaredTable {
  std::uint64_t start;
  std::uint32_t entries;
  bool standard;
};

DeclaredTable DeclaredColorTable(const std::uint8_t* data, std::uint32_t size, std::uint32_t pixelOffset) {
  DeclaredTable t{~0ull, 0, false};
  if (size < 18) return t;
  const std::uint32_t infoSize = Read32(data + 14);
  t.start = 14ull + infoSize;
  std::uint32_t declared = 0;
  if (infoSize >= 36 && size >= 50) declared = Read32(data + 46);  // colours used
  t.entries = (declared == 0 || declared > 256) ? 256 : declared;
  // A full table lies directly before the pixels unless a Windows info
  // header (40 bytes or more) shows it ending before them. Any other
  // header-size field (0, an OS/2 size, one too large for the table to fit)
  // is not taken to move the table: read by it, the colours would be header
  // bytes or pixels.
  const std::uint64_t declaredEnd = t.start + 1024;
  const bool detached = infoSize >= 40 && declaredEnd < pixelOffset;
  t.standard = t.entries == 256 && declared <= 256 && !detached &&
               (declaredEnd == pixelOffset || pixelOffset >= kStandardPixelOffset);
  return t;
}

}  // namespace

BitmapCache& TheBitmapCache() {
  static BitmapCache cache;  // zero-initialised static storage: nothing runs at load
  return cache;
}

std::uint32_t BmpCompression(const std::uint8_t* data, std::uint32_t size) {
  // The field exists only in info headers of 20 bytes or more; an OS/2 core
  // header (12 bytes) and a 16-byte OS/2 header have none and mean plain rows.
  if (data == nullptr || size < 34 || Read32(data + 14) < 20) return kBmpPlainRows;
  return Read32(data + 30);
}

bool IsCompressedBmp(std::uint32_t compression) {
  // RLE8, RLE4, JPEG and PNG: pixel data that is not rows of pixels. Read as
  // rows it would be a picture of the compressed bytes, found nowhere.
  return compression == 1 || compression == 2 || compression == 4 || compression == 5;
}

bool IsLoadableBmp(const std::uint8_t* data, std::uint32_t size) {
  if (data == nullptr || size < kMinimumFile) return false;
  if (IsCompressedBmp(BmpCompression(data, size))) return false;
  const Header h = ReadHeader(data);
  if (h.width <= 0 || h.height <= 0 || h.pixelOffset > size) return false;  // a negative height is top-down
  const std::int64_t rowBytes = static_cast<std::int64_t>(h.width) * BytesPerPixel(h.bitCount);
  if (rowBytes > 0x7FFFFFFF - 3) return false;
  const std::int64_t stride = RowStride(h.width, BytesPerPixel(h.bitCount));
  // Below 8 bits every pixel reads the first three bytes of the pixel data.
  // The last row's padding is never read, so a file may end without it.
  const std::uint64_t needed = stride == 0 ? 3
                                           : static_cast<std::uint64_t>(stride) * (h.height - 1ull) +
                                                 static_cast<std::uint64_t>(rowBytes);
  return needed <= size - h.pixelOffset;
}

void ResolveColorTable(const BitmapRecord& record, ColorValue table[256]) {
  const std::uint8_t* data = record.fileData;
  const auto size = static_cast<std::uint32_t>(record.fileSize);
  const auto offset = static_cast<std::uint32_t>(record.pixels - record.fileData);
  const DeclaredTable t = DeclaredColorTable(data, size, offset);
  for (std::uint32_t i = 0; i < 256; ++i) {
    const std::uint64_t at = t.standard ? offset - 1024ull + 4 * i : t.start + 4ull * i;
    table[i] = (i < t.entries && at + 4 <= size) ? Read32(data + at) : 0;
  }
}

void ReleaseBitmapCache(BitmapCache& c) {
  const platform::Ops& os = platform::Current();
  const BitmapRecord* records = Records(c);
  // The record's view of its file is read-only; the block is still ours.
  const std::int32_t count = c.count.load(std::memory_order_acquire);
  for (std::int32_t i = 0; i < count; ++i) os.freeBlock(const_cast<std::uint8_t*>(records[i].fileData));
  ReleaseGrownTables(c.records.load(std::memory_order_relaxed));
  ReleaseGrownTables(c.nameTable.load(std::memory_order_relaxed));
  std::memset(c.fixedRecords, 0, sizeof c.fixedRecords);
  std::memset(c.fixedOpacity, 0, sizeof c.fixedOpacity);
  std::memset(c.fixedNames, 0, sizeof c.fixedNames);
  c.records.store(nullptr, std::memory_order_relaxed);
  c.nameTable.store(nullptr, std::memory_order_relaxed);
  c.count.store(0, std::memory_order_relaxed);
  c.recordCapacity = 0;
  c.nameCapacity = 0;
}

namespace {

// Index of the entry named `fileName` among the first `count`, or -1; `at`
// learns where the entries end.
std::int32_t FindName(const std::uint8_t* names, std::int32_t count, const char* fileName,
                      std::uint64_t* at) {
  const std::uint64_t withNul = std::strlen(fileName) + 1;
  std::uint64_t offset = 0;
  for (std::int32_t i = 0; i < count; ++i) {
    const std::uint8_t* text = nullptr;
    const std::uint32_t entryLength = EntryTextLength(names + offset, &text);
    if (entryLength == withNul && std::memcmp(text, fileName, withNul) == 0) return i;
    offset = static_cast<std::uint64_t>(text - names) + entryLength;
  }
  *at = offset;
  return -1;
}

// LookupBitmapName for the writer that holds the lock.
std::int32_t LookupLocked(BitmapCache& c, const char* fileName) {
  const std::uint64_t length = std::strlen(fileName);
  std::uint64_t at = 0;
  const std::int32_t found = FindName(Names(c), c.count.load(std::memory_order_relaxed), fileName, &at);
  if (found >= 0) return found;
  if (at + EntryBytes(length) > NameCapacity(c) && !GrowNames(c, at + EntryBytes(length))) return -2;
  std::uint8_t* e = Names(c) + at;
  const std::uint64_t withNul = length + 1;
  if (length <= kLongestShortName) {
    e[0] = static_cast<std::uint8_t>(withNul);
    std::memcpy(e + 1, fileName, withNul);
  } else {
    e[0] = 0;
    const auto n = static_cast<std::uint32_t>(withNul);
    const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8),
                                   static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 24)};
    std::memcpy(e + 1, bytes, 4);
    std::memcpy(e + 5, fileName, withNul);
  }
  return -1;
}

// A look-up without a lock: `count` first, then the tables, which hold at
// least that many entries whichever generation is seen.
bool FindCached(BitmapCache& c, const char* fileName, Template* found) {
  const std::int32_t count = c.count.load(std::memory_order_acquire);
  std::uint64_t at = 0;
  const std::int32_t index = FindName(Names(c), count, fileName, &at);
  if (index < 0) return false;
  BitmapRecord* records = Records(c);
  *found = Template{records[index], Opacity(c, records)[index]};
  return true;
}

Template Failed() {
  Template failed{};
  failed.record.fileSize = -1;
  return failed;
}

// The whole file in a new block; null when it cannot be opened, its length
// is out of range, or it is cut short while read.
std::uint8_t* ReadWholeFile(const char* fileName, std::uint32_t* size) {
  const platform::Ops& os = platform::Current();
  void* file = os.openExisting(fileName);
  if (file == nullptr) return nullptr;
  const std::int64_t length = os.fileLength(file);
  if (length < kMinimumFile || length > 0x7FFFFFFF) {
    os.closeFile(file);
    return nullptr;
  }
  *size = static_cast<std::uint32_t>(length);
  auto* block = static_cast<std::uint8_t*>(os.allocZeroed(*size));
  // A read that stops early would leave part of the template zero and the
  // search would then look for a picture that is not the file's, so it is a
  // failed load like any other.
  const std::uint32_t delivered = block != nullptr ? os.readFile(file, block, *size) : 0;
  os.closeFile(file);
  if (block == nullptr || delivered == *size) return block;
  os.freeBlock(block);
  return nullptr;
}

// The record of a loaded, checked BMP block, corners included.
BitmapRecord Describe(std::uint8_t* block, std::uint32_t size) {
  const Header h = ReadHeader(block);
  BitmapRecord r{};
  r.fileData = block;
  r.pixels = block + h.pixelOffset;
  r.fileSize = static_cast<std::int32_t>(size);
  r.width = h.width;
  r.height = h.height;
  r.bitCount = h.bitCount;
  const std::int32_t bpp = BytesPerPixel(h.bitCount);
  const std::int32_t stride = RowStride(h.width, bpp);
  const std::int32_t right = h.width - 1, bottom = h.height - 1;
  if (bpp == 1) {
    ColorValue table[256];
    ResolveColorTable(r, table);
    const auto at = [&](std::int32_t x, std::int32_t y) {
      return table[*PixelAddress(r.pixels, x, y, stride, h.height, 1)];
    };
    r.topLeftColor = at(0, 0);
    r.topRightColor = at(right, 0);
    r.bottomLeftColor = at(0, bottom);
    r.bottomRightColor = at(right, bottom);
  } else {
    r.topLeftColor = ReadPixel(r.pixels, 0, 0, stride, h.height, bpp);
    r.topRightColor = ReadPixel(r.pixels, right, 0, stride, h.height, bpp);
    r.bottomLeftColor = ReadPixel(r.pixels, 0, bottom, stride, h.height, bpp);
    r.bottomRightColor = ReadPixel(r.pixels, right, bottom, stride, h.height, bpp);
  }
  return r;
}

// Reads and decodes the file with no lock held; fileSize -1 on failure.
Template LoadFile(const char* fileName) {
  std::uint32_t size = 0;
  std::uint8_t* block = ReadWholeFile(fileName, &size);
  if (block == nullptr) return Failed();
  // A PNG file is cached as the BMP file of the same picture; from here on
  // nothing can tell the two apart.
  const std::uint8_t* opacity = nullptr;
  if (HasPngSignature(block, size)) {
    std::uint32_t bmpSize = 0;
    std::uint8_t* bmp = DecodePngAsBmp(block, size, &bmpSize, nullptr, &opacity);
    platform::Current().freeBlock(block);
    if (bmp == nullptr) return Failed();
    block = bmp;
    size = bmpSize;
  }
  if (!IsLoadableBmp(block, size)) {
    platform::Current().freeBlock(block);
    return Failed();
  }
  return Template{Describe(block, size), opacity};
}

// Adds a loaded template under the writers' lock. A thread that added the
// same name meanwhile wins: its record is the answer and this copy goes.
Template Publish(BitmapCache& c, const char* fileName, const Template& loaded) {
  platform::LockExclusive(c.writers);
  const std::int32_t index = LookupLocked(c, fileName);
  const std::int32_t count = c.count.load(std::memory_order_relaxed);
  Template kept = Failed();
  if (index >= 0) {
    BitmapRecord* records = Records(c);
    kept = Template{records[index], Opacity(c, records)[index]};
  } else if (index == -1 && (count < RecordCapacity(c) || GrowRecords(c))) {
    BitmapRecord* records = Records(c);
    records[count] = loaded.record;
    Opacity(c, records)[count] = loaded.opacity;
    c.count.store(count + 1, std::memory_order_release);
    kept = loaded;
  }
  platform::UnlockExclusive(c.writers);
  if (kept.record.fileData != loaded.record.fileData) {
    platform::Current().freeBlock(const_cast<std::uint8_t*>(loaded.record.fileData));
  }
  return kept;
}

}  // namespace

Template LoadPictureFile(const char* fileName) { return fileName == nullptr ? Failed() : LoadFile(fileName); }

std::int32_t LookupBitmapName(BitmapCache& c, const char* fileName) {
  platform::LockExclusive(c.writers);
  const std::int32_t index = LookupLocked(c, fileName);
  platform::UnlockExclusive(c.writers);
  return index;
}

Template OpenTemplate(BitmapCache& c, const char* fileName) {
  if (fileName == nullptr) return Failed();
  Template found;
  if (FindCached(c, fileName, &found)) return found;
  const Template loaded = LoadFile(fileName);
  if (loaded.record.fileSize == -1) return loaded;
  return Publish(c, fileName, loaded);
}

Template OpenTemplate(const char* fileName) { return OpenTemplate(TheBitmapCache(), fileName); }

BitmapRecord OpenBitmap(BitmapCache& c, const char* fileName) { return OpenTemplate(c, fileName).record; }

BitmapRecord OpenBitmap(const char* fileName) { return OpenTemplate(TheBitmapCache(), fileName).record; }

}  // namespace zadized
