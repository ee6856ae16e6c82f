// PNG bytes through OpenBitmap. A file that loads is checked, not just
// survived: its block must be the BMP form its header promises, and its
// pixels must be those libspng gives when it decodes the same bytes in one
// piece into its own buffer (its own row placement and colour layout), with
// alpha dropped; the pixels it finds opaque must be those whose alpha that
// whole decode, with transparency applied, gives as the maximum. Every block
// must be back once the cache is released. The screenshot loader must give
// the same pixels in capture form, alpha ignored.
#include <spng.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "image/bitmap_cache.h"
#include "image/pixel.h"
#include "image/screenshot.h"
#include "memory_files.h"
#include "platform/platform_portable.h"

namespace {

namespace z = zadized;

// Pixels the one-piece decode may hold (it needs 4 bytes each).
constexpr std::uint64_t kOracleLimit = 1u << 22;

std::uint32_t Le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0] | p[1] << 8 | p[2] << 16) | static_cast<std::uint32_t>(p[3]) << 24;
}

void Check(bool holds) {
  if (!holds) std::abort();
}

// libspng, the same limits as the loader, the whole picture as RGBA8 (or
// with `alpha`, with transparency applied and 16-bit samples kept whole),
// top row first. Empty when it refuses.
std::vector<std::uint8_t> DecodeWhole(const std::uint8_t* data, std::size_t size, bool alpha, bool* wide) {
  std::vector<std::uint8_t> out;
  spng_ctx* ctx = spng_ctx_new(0);
  spng_ihdr ihdr{};
  std::size_t bytes = 0;
  if (spng_set_png_buffer(ctx, data, size) == 0 &&
      spng_set_crc_action(ctx, SPNG_CRC_ERROR, SPNG_CRC_ERROR) == 0 &&
      spng_set_chunk_limits(ctx, 8u << 20, 8u << 20) == 0 && spng_get_ihdr(ctx, &ihdr) == 0 &&
      static_cast<std::uint64_t>(ihdr.width) * ihdr.height <= kOracleLimit) {
    *wide = alpha && ihdr.bit_depth == 16;
    const int format = *wide ? SPNG_FMT_RGBA16 : SPNG_FMT_RGBA8;
    if (spng_decoded_image_size(ctx, format, &bytes) == 0) {
      out.resize(bytes);
      if (spng_decode_image(ctx, out.data(), out.size(), format, alpha ? SPNG_DECODE_TRNS : 0) != 0)
        out.clear();
    }
  }
  spng_ctx_free(ctx);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const z::platform::Ops ops = z::fuzz::MemoryFileOps();
  z::platform::Override(&ops);
  z::fuzz::Files()["t.png"].assign(data, data + size);
  const std::int64_t blocks = z::platform::Live().blocks;
  auto cache = std::make_unique<z::BitmapCache>();
  const z::Template t = z::OpenTemplate(*cache, "t.png");
  const z::BitmapRecord& r = t.record;
  const bool png = size >= 8 && std::memcmp(data, "\x89PNG\r\n\x1a\n", 8) == 0;
  if (r.fileSize >= 0 && png) {
    const std::uint8_t* b = r.fileData;
    const std::int32_t w = r.width, h = r.height, stride = z::RowStride(w, 3);
    // The BMP form: header fields, size and layout of a 24-bit file.
    Check(r.bitCount == 24 && r.pixels == b + 54 && b[0] == 'B' && b[1] == 'M');
    Check(static_cast<std::int64_t>(r.fileSize) == 54 + static_cast<std::int64_t>(stride) * h);
    Check(Le32(b + 2) == static_cast<std::uint32_t>(r.fileSize) && Le32(b + 10) == 54 && Le32(b + 14) == 40);
    Check(z::IsLoadableBmp(b, static_cast<std::uint32_t>(r.fileSize)));
    bool wide = false;
    const std::vector<std::uint8_t> whole = DecodeWhole(data, size, false, &wide);
    // Same settings, same bytes: libspng must not refuse what the loader took.
    Check(!whole.empty() || static_cast<std::uint64_t>(w) * h > kOracleLimit);
    if (!whole.empty()) {
      // The same file as a held screen (HoldScreen's loader): the same
      // colours, alpha ignored, in capture form.
      z::ScreenImage shot{};
      Check(z::LoadScreenshot("t.png", &shot) == z::ScreenshotFailure::kNone && shot.width == w &&
            shot.height == h);
      for (std::int32_t y = 0; y < h; ++y) {
        for (std::int32_t x = 0; x < w; ++x) {
          const std::uint8_t* want = &whole[(static_cast<std::size_t>(y) * w + x) * 4];
          const std::uint8_t* got = z::PixelAddress(r.pixels, x, y, stride, h, 3);
          Check(got[0] == want[2] && got[1] == want[1] && got[2] == want[0]);
          const std::uint8_t* held = z::PixelAddress(shot.pixels, x, y, w * 4, h, 4);
          Check(held[0] == want[2] && held[1] == want[1] && held[2] == want[0] && held[3] == 0);
        }
      }
      z::ReleaseScreenshot(shot);
      Check(r.topLeftColor == z::MaskPixel(z::PixelAddress(r.pixels, 0, 0, stride, h, 3), 3));
      const std::vector<std::uint8_t> alpha = DecodeWhole(data, size, true, &wide);
      Check(!alpha.empty());
      bool anyClear = false;
      for (std::int32_t y = 0; y < h; ++y) {
        for (std::int32_t x = 0; x < w; ++x) {
          const std::size_t at = static_cast<std::size_t>(y) * w + x;
          std::uint16_t a = 0;
          if (wide) {
            std::memcpy(&a, &alpha[at * 8 + 6], 2);
          } else {
            a = alpha[at * 4 + 3];
          }
          const bool opaque = a == (wide ? 0xFFFF : 0xFF);
          anyClear = anyClear || !opaque;
          if (t.opacity != nullptr)
            Check((t.opacity[static_cast<std::size_t>(h - 1 - y) * w + x] != 0) == opaque);
        }
      }
      Check(anyClear == (t.opacity != nullptr));
    }
  }
  z::ReleaseBitmapCache(*cache);
  Check(z::platform::Live().blocks == blocks);
  return 0;
}
