// BMP bytes through the loader: open, check, corner colours, colour table;
// then through the screenshot loader HoldScreen uses, which must take exactly
// the files the template loader takes (up to its size limit) and show each
// corner in the colour the template loader read for it.
#include <cstdlib>
#include <memory>

#include "image/bitmap_cache.h"
#include "image/pixel.h"
#include "image/screenshot.h"
#include "memory_files.h"
#include "platform/platform_portable.h"

namespace {

namespace z = zadized;

// Pictures larger than this are loaded as templates but not as screenshots
// here: a header of a few bytes can ask for a large picture, and filling it
// would only slow the fuzzer down.
constexpr std::uint64_t kPixelsChecked = 1u << 22;

void Check(bool holds) {
  if (!holds) std::abort();
}

// The colour a display shows for a pixel the template loader read as `v`.
z::ColorValue Shown(const z::BitmapRecord& r, z::ColorValue v) {
  return z::BytesPerPixel(r.bitCount) == 2 ? z::Widen555(v) : v & 0xFFFFFFu;
}

void CheckScreenshot(const z::BitmapRecord& r) {
  const std::int64_t blocks = z::platform::Live().blocks;
  z::ScreenImage shot{};
  const z::ScreenshotFailure failure = z::LoadScreenshot("t.bmp", &shot);
  if (r.fileSize < 0) {
    Check(failure == z::ScreenshotFailure::kFileRefused && shot.pixels == nullptr);
  } else {
    Check(failure == z::ScreenshotFailure::kNone && shot.width == r.width && shot.height == r.height);
    const auto at = [&](std::int32_t x, std::int32_t y) {
      return z::ReadPixel(shot.pixels, x, y, shot.width * 4, shot.height, 4);
    };
    const std::int32_t right = r.width - 1, bottom = r.height - 1;
    Check(at(0, 0) == Shown(r, r.topLeftColor) && at(right, 0) == Shown(r, r.topRightColor));
    Check(at(0, bottom) == Shown(r, r.bottomLeftColor) && at(right, bottom) == Shown(r, r.bottomRightColor));
  }
  z::ReleaseScreenshot(shot);
  Check(z::platform::Live().blocks == blocks);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const z::platform::Ops ops = z::fuzz::MemoryFileOps();
  z::platform::Override(&ops);
  z::fuzz::Files()["t.bmp"].assign(data, data + size);
  auto cache = std::make_unique<z::BitmapCache>();
  const z::BitmapRecord r = z::OpenBitmap(*cache, "t.bmp");
  if (r.fileSize >= 0) {
    z::ColorValue table[256];
    z::ResolveColorTable(r, table);
  }
  if (r.fileSize < 0 ||
      static_cast<std::uint64_t>(r.width) * static_cast<std::uint64_t>(r.height) <= kPixelsChecked)
    CheckScreenshot(r);
  z::ReleaseBitmapCache(*cache);
  return 0;
}
