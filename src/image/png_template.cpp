#include "image/png_template.h"

#include <spng.h>
#include <zlib.h>

#include <cstring>

#include "platform/platform.h"

namespace zadized {

namespace {

constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::uint32_t kBmpHeader = 54;
// The ancillary chunks libspng keeps (text, profiles, EXIF), and so what a
// compressed text chunk may inflate to.
constexpr std::size_t kChunkCache = 8u << 20;

// The decoder's allocations come from the platform allocator, so they are
// global-memory blocks like every other, counted by the same leak checks and
// failed by the same fault injection. libspng's allocator hooks carry no
// context, so the running total lives here for the length of one decode;
// the library is called from one thread at a time.
std::uint64_t g_budgetLeft = 0;

// Each block starts with its size, so that free and realloc know it. 16 bytes
// keep the alignment the platform allocator gives.
constexpr std::size_t kTag = 16;

void* Allocate(std::size_t bytes) {
  if (bytes > g_budgetLeft) return nullptr;
  auto* block =
      static_cast<std::uint8_t*>(platform::Current().allocZeroed(static_cast<std::uint32_t>(bytes + kTag)));
  if (block == nullptr) return nullptr;
  g_budgetLeft -= bytes;
  const std::uint64_t size = bytes;
  std::memcpy(block, &size, sizeof size);
  return block + kTag;
}

std::uint64_t SizeOf(void* p) {
  std::uint64_t size = 0;
  std::memcpy(&size, static_cast<std::uint8_t*>(p) - kTag, sizeof size);
  return size;
}

void Release(void* p) {
  if (p == nullptr) return;
  g_budgetLeft += SizeOf(p);
  platform::Current().freeBlock(static_cast<std::uint8_t*>(p) - kTag);
}

void* Reallocate(void* p, std::size_t bytes) {
  if (p == nullptr) return Allocate(bytes);
  void* moved = Allocate(bytes);
  if (moved == nullptr) return nullptr;  // the old block stays the caller's, as with realloc
  const std::uint64_t old = SizeOf(p);
  std::memcpy(moved, p, static_cast<std::size_t>(old < bytes ? old : bytes));
  Release(p);
  return moved;
}

void* AllocateArray(std::size_t count, std::size_t size) {
  if (size != 0 && count > g_budgetLeft / size) return nullptr;
  return Allocate(count * size);  // blocks are zero-filled already
}

void Put16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
  Put16(p, v);
  Put16(p + 2, v >> 16);
}

// The header a BMP file of this picture has: file header and a 40-byte info
// header, no colour table, pixels right after.
void WriteBmpHeader(std::uint8_t* b, std::uint32_t total, std::uint32_t width, std::uint32_t height) {
  b[0] = 'B';
  b[1] = 'M';
  Put32(b + 2, total);
  Put32(b + 10, kBmpHeader);
  Put32(b + 14, 40);
  Put32(b + 18, width);
  Put32(b + 22, height);
  Put16(b + 26, 1);
  Put16(b + 28, 24);
  Put32(b + 34, total - kBmpHeader);
}

// Size of the BMP form of a width x height picture, or 0 past the limit.
std::uint32_t BmpFormSize(std::uint32_t width, std::uint32_t height, std::uint32_t* stride) {
  const std::uint64_t rowBytes = (static_cast<std::uint64_t>(width) * 3 + 3) / 4 * 4;
  if (width == 0 || height == 0 || rowBytes > kLargestPngBmpForm) return 0;
  const std::uint64_t total = kBmpHeader + rowBytes * height;
  if (total > kLargestPngBmpForm) return 0;
  *stride = static_cast<std::uint32_t>(rowBytes);
  return static_cast<std::uint32_t>(total);
}

// Decodes every row straight into its place in the BMP block: bottom-up, and
// for an interlaced file each pass fills its own pixels of the rows it visits.
int DecodeRows(spng_ctx* ctx, std::uint8_t* pixels, std::uint32_t width, std::uint32_t height,
               std::uint32_t stride) {
  int error = spng_decode_image(ctx, nullptr, 0, SPNG_FMT_RGB8, SPNG_DECODE_PROGRESSIVE);
  while (error == 0) {
    spng_row_info row;
    error = spng_get_row_info(ctx, &row);
    if (error != 0) break;
    if (row.row_num >= height) return SPNG_EINTERNAL;
    std::uint8_t* at = pixels + static_cast<std::uint64_t>(height - 1 - row.row_num) * stride;
    error = spng_decode_row(ctx, at, static_cast<std::size_t>(width) * 3);
  }
  if (error != SPNG_EOI) return error;
  // The chunks after the image, up to IEND: a file cut short, or a bad CRC
  // anywhere in it, is refused even when every row arrived.
  return spng_decode_chunks(ctx);
}

std::uint32_t ReadBe32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
         static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

// Whether the chunks from the signature on reach a whole IEND chunk, its CRC
// included. libspng 0.7.3 takes a file that ends inside IEND's CRC as
// complete (its end-of-data code is the negative of its "discard" code), so
// this walk, which only follows the length fields libspng has already
// checked, closes that gap.
bool ReachesIend(const std::uint8_t* png, std::uint32_t size) {
  static const std::uint8_t kIend[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
  std::uint64_t at = sizeof kSignature;
  while (at + 12 <= size) {
    if (std::memcmp(png + at, kIend, sizeof kIend) == 0) return true;
    at += 12ull + ReadBe32(png + at);
  }
  return false;
}

// The bytes the image data inflates to: per pass, a filter byte and the
// packed samples of each row.
std::uint64_t FilteredBytes(const spng_ihdr& h) {
  static const std::uint8_t kChannels[7] = {1, 0, 3, 1, 2, 0, 4};
  const std::uint64_t bits = static_cast<std::uint64_t>(kChannels[h.color_type % 7]) * h.bit_depth;
  static const std::uint8_t kPass[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                           {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
  static const std::uint8_t kWhole[1][4] = {{0, 0, 1, 1}};
  const auto* passes = h.interlace_method != 0 ? kPass : kWhole;
  const int count = h.interlace_method != 0 ? 7 : 1;
  std::uint64_t total = 0;
  for (int p = 0; p < count; ++p) {
    const std::uint64_t x0 = passes[p][0], y0 = passes[p][1], dx = passes[p][2], dy = passes[p][3];
    const std::uint64_t w = h.width > x0 ? (h.width - x0 + dx - 1) / dx : 0;
    const std::uint64_t rows = h.height > y0 ? (h.height - y0 + dy - 1) / dy : 0;
    if (w != 0) total += rows * (1 + (w * bits + 7) / 8);
  }
  return total;
}

void* ZAllocate(void*, uInt items, uInt size) { return AllocateArray(items, size); }
void ZRelease(void*, void* p) { Release(p); }

// Inflates the image data once more, to its end, so that its Adler-32 is
// checked: libspng 0.7.3 stops once the last row is out, and never reads a
// checksum that lies in a later IDAT chunk. A stream that inflates to more
// than the picture's rows is refused before it can cost more.
bool ImageDataChecksumHolds(const std::uint8_t* png, std::uint32_t size, const spng_ihdr& ihdr) {
  const std::uint64_t expected = FilteredBytes(ihdr);
  z_stream z{};
  z.zalloc = ZAllocate;
  z.zfree = ZRelease;
  if (inflateInit(&z) != Z_OK) return false;
  std::uint8_t sink[4096];
  std::uint64_t out = 0;
  int state = Z_OK;
  for (std::uint64_t at = sizeof kSignature; state == Z_OK && at + 12 <= size;) {
    const std::uint32_t length = ReadBe32(png + at);
    if (at + 12 + length > size) break;
    if (std::memcmp(png + at + 4, "IEND", 4) == 0) break;
    if (std::memcmp(png + at + 4, "IDAT", 4) == 0) {
      z.next_in = const_cast<Bytef*>(png + at + 8);  // zlib's interface is not const
      z.avail_in = length;
      while (state == Z_OK && z.avail_in > 0 && out <= expected) {
        z.next_out = sink;
        z.avail_out = sizeof sink;
        state = inflate(&z, Z_NO_FLUSH);
        out += sizeof sink - z.avail_out;
      }
    }
    at += 12ull + length;
  }
  inflateEnd(&z);
  return state == Z_STREAM_END && out == expected;
}

// libspng delivers red, green, blue; a BMP file stores blue, green, red.
void SwapRedAndBlue(std::uint8_t* pixels, std::uint32_t width, std::uint32_t height, std::uint32_t stride) {
  for (std::uint32_t y = 0; y < height; ++y) {
    std::uint8_t* p = pixels + static_cast<std::uint64_t>(y) * stride;
    for (std::uint32_t x = 0; x < width; ++x, p += 3) {
      const std::uint8_t red = p[0];
      p[0] = p[2];
      p[2] = red;
    }
  }
}

std::uint8_t* Decode(spng_ctx* ctx, const std::uint8_t* png, std::uint32_t size, std::uint32_t* bmpSize,
                     std::int32_t* reason) {
  int error = spng_set_png_buffer(ctx, png, size);
  // Every CRC counts, ancillary chunks' too (libspng would skip those).
  if (error == 0) error = spng_set_crc_action(ctx, SPNG_CRC_ERROR, SPNG_CRC_ERROR);
  if (error == 0) error = spng_set_chunk_limits(ctx, kChunkCache, kChunkCache);
  spng_ihdr ihdr{};
  if (error == 0) error = spng_get_ihdr(ctx, &ihdr);
  if (error != 0) {
    *reason = error;
    return nullptr;
  }
  std::uint32_t stride = 0;
  const std::uint32_t total = BmpFormSize(ihdr.width, ihdr.height, &stride);
  if (total == 0) {
    *reason = kPngTooLarge;
    return nullptr;
  }
  const platform::Ops& os = platform::Current();
  auto* bmp = static_cast<std::uint8_t*>(os.allocZeroed(total));
  if (bmp == nullptr) {
    *reason = kPngNoMemory;
    return nullptr;
  }
  error = DecodeRows(ctx, bmp + kBmpHeader, ihdr.width, ihdr.height, stride);
  if (error == 0 && !ReachesIend(png, size)) error = SPNG_IO_EOF;
  if (error == 0 && !ImageDataChecksumHolds(png, size, ihdr)) error = SPNG_EIDAT_STREAM;
  if (error != 0) {
    *reason = error;
    os.freeBlock(bmp);
    return nullptr;
  }
  SwapRedAndBlue(bmp + kBmpHeader, ihdr.width, ihdr.height, stride);
  WriteBmpHeader(bmp, total, ihdr.width, ihdr.height);
  *bmpSize = total;
  return bmp;
}

}  // namespace

bool HasPngSignature(const std::uint8_t* data, std::uint32_t size) {
  return data != nullptr && size >= sizeof kSignature &&
         std::memcmp(data, kSignature, sizeof kSignature) == 0;
}

std::uint8_t* DecodePngAsBmp(const std::uint8_t* png, std::uint32_t size, std::uint32_t* bmpSize,
                             std::int32_t* reason) {
  std::int32_t ignored = 0;
  if (reason == nullptr) reason = &ignored;
  *reason = 0;
  *bmpSize = 0;
  if (!HasPngSignature(png, size)) {
    *reason = SPNG_ESIGNATURE;
    return nullptr;
  }
  // No object with a destructor lives here: a cleanup around the decoder's
  // calls would bring the C++ unwinder into the DLL.
  g_budgetLeft = kPngDecoderBudget;
  spng_alloc alloc{Allocate, Reallocate, AllocateArray, Release};
  spng_ctx* ctx = spng_ctx_new2(&alloc, 0);
  std::uint8_t* bmp = nullptr;
  if (ctx == nullptr) {
    *reason = SPNG_EMEM;
  } else {
    bmp = Decode(ctx, png, size, bmpSize, reason);
    spng_ctx_free(ctx);
  }
  g_budgetLeft = 0;
  return bmp;
}

}  // namespace zadized
