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
// context, and threads decode at once, so each decode's running total is
// found through the calling thread's call context.
std::uint64_t* BudgetLeft() { return static_cast<std::uint64_t*>(platform::CallContext()); }

// Each block starts with its size, so that free and realloc know it. 16 bytes
// keep the alignment the platform allocator gives.
constexpr std::size_t kTag = 16;

void* Allocate(std::size_t bytes) {
  std::uint64_t* left = BudgetLeft();
  if (left == nullptr || bytes > *left) return nullptr;
  auto* block =
      static_cast<std::uint8_t*>(platform::Current().allocZeroed(static_cast<std::uint32_t>(bytes + kTag)));
  if (block == nullptr) return nullptr;
  *left -= bytes;
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
  *BudgetLeft() += SizeOf(p);
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
  std::uint64_t* left = BudgetLeft();
  if (left == nullptr || (size != 0 && count > *left / size)) return nullptr;
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

// Where the BMP form's rows go, and for a picture with transparency the
// opacity bytes and the row the decoder delivers red, green, blue and alpha
// into.
struct RowTarget {
  std::uint8_t* pixels;
  std::uint32_t width, height, stride;
  std::uint8_t* opacity;  // null: colours only, straight into the BMP rows
  std::uint8_t* rgba;
  bool wide;  // 16-bit samples, alpha 65535 at most
};

// The columns an interlaced file's pass fills (Adam7), and a whole row
// otherwise.
constexpr std::uint8_t kPassFirstColumn[7] = {0, 4, 0, 2, 0, 1, 0};
constexpr std::uint8_t kPassColumnStep[7] = {8, 8, 4, 4, 2, 2, 1};

// Spreads the pass's pixels of one delivered row into the BMP row and the
// opacity bytes; the other pixels of the row belong to other passes.
void SplitAlpha(const RowTarget& t, const spng_row_info& row, bool interlaced) {
  const std::uint64_t storedRow = t.height - 1 - row.row_num;
  std::uint8_t* out = t.pixels + storedRow * t.stride;
  std::uint8_t* opaque = t.opacity + storedRow * t.width;
  const int pass = interlaced && row.pass >= 0 && row.pass < 7 ? row.pass : 6;
  for (std::uint32_t x = kPassFirstColumn[pass]; x < t.width; x += kPassColumnStep[pass]) {
    if (t.wide) {
      // Native-endian 16-bit samples; the colour keeps each one's high byte.
      std::uint16_t sample[4];
      std::memcpy(sample, t.rgba + 8ull * x, sizeof sample);
      for (int c = 0; c < 3; ++c) out[3ull * x + c] = static_cast<std::uint8_t>(sample[c] >> 8);
      opaque[x] = sample[3] == 0xFFFF ? 1 : 0;
    } else {
      std::memcpy(out + 3ull * x, t.rgba + 4ull * x, 3);
      opaque[x] = t.rgba[4ull * x + 3] == 0xFF ? 1 : 0;
    }
  }
}

// Decodes every row into its place in the BMP block: bottom-up, and for an
// interlaced file each pass fills its own pixels of the rows it visits.
int DecodeRows(spng_ctx* ctx, const RowTarget& t, bool interlaced) {
  const int format = t.opacity == nullptr ? SPNG_FMT_RGB8 : t.wide ? SPNG_FMT_RGBA16 : SPNG_FMT_RGBA8;
  const int flags = SPNG_DECODE_PROGRESSIVE | (t.opacity == nullptr ? 0 : SPNG_DECODE_TRNS);
  int error = spng_decode_image(ctx, nullptr, 0, format, flags);
  const std::size_t rowBytes = static_cast<std::size_t>(t.width) * (t.opacity == nullptr ? 3
                                                                    : t.wide             ? 8
                                                                                         : 4);
  while (error == 0) {
    spng_row_info row;
    error = spng_get_row_info(ctx, &row);
    if (error != 0) break;
    if (row.row_num >= t.height) return SPNG_EINTERNAL;
    if (t.opacity == nullptr) {
      std::uint8_t* at = t.pixels + static_cast<std::uint64_t>(t.height - 1 - row.row_num) * t.stride;
      error = spng_decode_row(ctx, at, rowBytes);
    } else {
      error = spng_decode_row(ctx, t.rgba, rowBytes);
      if (error == 0 || error == SPNG_EOI) SplitAlpha(t, row, interlaced);
    }
  }
  if (error != SPNG_EOI) return error;
  // The chunks after the image, up to IEND: a file cut short, or a bad CRC
  // anywhere in it, is refused even when every row arrived.
  return spng_decode_chunks(ctx);
}

// Whether any pixel may be less than opaque: an alpha channel, or a tRNS
// chunk naming a colour or giving palette entries an alpha.
bool MayBeTransparent(spng_ctx* ctx, const spng_ihdr& ihdr) {
  if (ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA ||
      ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA)
    return true;
  spng_trns trns{};
  return spng_get_trns(ctx, &trns) == 0;
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

// The file's header, with every CRC counting, ancillary chunks' too
// (libspng would skip those); false with the reason when it cannot be had.
bool ReadHeader(spng_ctx* ctx, const std::uint8_t* png, std::uint32_t size, spng_ihdr* ihdr,
                std::int32_t* reason) {
  int error = spng_set_png_buffer(ctx, png, size);
  if (error == 0) error = spng_set_crc_action(ctx, SPNG_CRC_ERROR, SPNG_CRC_ERROR);
  if (error == 0) error = spng_set_chunk_limits(ctx, kChunkCache, kChunkCache);
  if (error == 0) error = spng_get_ihdr(ctx, ihdr);
  if (error != 0) *reason = error;
  return error == 0;
}

// A picture whose pixels all came out opaque needs no opacity bytes.
const std::uint8_t* KeptOpacity(const std::uint8_t* opacity, std::uint64_t pixelCount) {
  for (std::uint64_t k = 0; k < pixelCount; ++k)
    if (opacity[k] == 0) return opacity;
  return nullptr;
}

std::uint8_t* Decode(spng_ctx* ctx, const std::uint8_t* png, std::uint32_t size, std::uint32_t* bmpSize,
                     std::int32_t* reason, const std::uint8_t** opacity) {
  spng_ihdr ihdr{};
  if (!ReadHeader(ctx, png, size, &ihdr, reason)) return nullptr;
  std::uint32_t stride = 0;
  const std::uint32_t total = BmpFormSize(ihdr.width, ihdr.height, &stride);
  if (total == 0) {
    *reason = kPngTooLarge;
    return nullptr;
  }
  // A picture that may have transparent pixels carries one opacity byte per
  // pixel after its BMP form, and is decoded through a row of red, green,
  // blue and alpha; an opaque one goes straight into the BMP rows.
  RowTarget t{nullptr, ihdr.width, ihdr.height, stride, nullptr, nullptr, ihdr.bit_depth == 16};
  const bool alpha = opacity != nullptr && MayBeTransparent(ctx, ihdr);
  const std::uint64_t pixelCount = static_cast<std::uint64_t>(ihdr.width) * ihdr.height;
  const std::uint64_t rgbaRow = static_cast<std::uint64_t>(ihdr.width) * (t.wide ? 8 : 4);
  if (alpha && rgbaRow > kPngDecoderBudget) {
    *reason = kPngTooLarge;
    return nullptr;
  }
  const platform::Ops& os = platform::Current();
  auto* bmp = static_cast<std::uint8_t*>(
      os.allocZeroed(static_cast<std::uint32_t>(total + (alpha ? pixelCount : 0))));
  auto* rgba =
      alpha ? static_cast<std::uint8_t*>(os.allocZeroed(static_cast<std::uint32_t>(rgbaRow))) : nullptr;
  if (bmp == nullptr || (alpha && rgba == nullptr)) {
    if (bmp != nullptr) os.freeBlock(bmp);
    if (rgba != nullptr) os.freeBlock(rgba);
    *reason = kPngNoMemory;
    return nullptr;
  }
  t.pixels = bmp + kBmpHeader;
  t.opacity = alpha ? bmp + total : nullptr;
  t.rgba = rgba;
  int error = DecodeRows(ctx, t, ihdr.interlace_method != 0);
  if (rgba != nullptr) os.freeBlock(rgba);
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
  if (alpha) *opacity = KeptOpacity(t.opacity, pixelCount);
  return bmp;
}

}  // namespace

bool HasPngSignature(const std::uint8_t* data, std::uint32_t size) {
  return data != nullptr && size >= sizeof kSignature &&
         std::memcmp(data, kSignature, sizeof kSignature) == 0;
}

std::uint8_t* DecodePngAsBmp(const std::uint8_t* png, std::uint32_t size, std::uint32_t* bmpSize,
                             std::int32_t* reason, const std::uint8_t** opacity) {
  std::int32_t ignored = 0;
  if (reason == nullptr) reason = &ignored;
  *reason = 0;
  *bmpSize = 0;
  if (opacity != nullptr) *opacity = nullptr;
  if (!HasPngSignature(png, size)) {
    *reason = SPNG_ESIGNATURE;
    return nullptr;
  }
  // No object with a destructor lives here: a cleanup around the decoder's
  // calls would bring the C++ unwinder into the DLL.
  std::uint64_t budget = kPngDecoderBudget;
  void* outer = platform::CallContext();
  spng_alloc alloc{Allocate, Reallocate, AllocateArray, Release};
  spng_ctx* ctx = platform::SetCallContext(&budget) ? spng_ctx_new2(&alloc, 0) : nullptr;
  std::uint8_t* bmp = nullptr;
  if (ctx == nullptr) {
    *reason = SPNG_EMEM;
  } else {
    bmp = Decode(ctx, png, size, bmpSize, reason, opacity);
    spng_ctx_free(ctx);
  }
  platform::SetCallContext(outer);
  return bmp;
}

}  // namespace zadized
