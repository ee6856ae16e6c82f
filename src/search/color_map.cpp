#include "search/color_map.h"

#include "image/bitmap_cache.h"
#include "image/pixel.h"
#include "platform/platform.h"

namespace zadized {

std::uint8_t* BuildColorMap(const BitmapRecord& templ, std::int32_t color) {
  if (templ.pixels == nullptr || templ.width <= 0 || templ.height <= 0) return nullptr;
  const std::uint64_t count =
      static_cast<std::uint64_t>(templ.width) * static_cast<std::uint64_t>(templ.height);
  if (count > 0xFFFFFFFFu) return nullptr;

  const platform::Ops& os = platform::Current();
  auto* map = static_cast<std::uint8_t*>(os.allocZeroed(static_cast<std::uint32_t>(count)));
  if (map == nullptr) return nullptr;

  const std::int32_t step = BytesPerPixel(templ.bitCount);
  // A 32-bit pixel's value is its blue, green and red bytes.
  const std::int32_t readWidth = step == 4 ? 3 : step;
  const std::int64_t rowBytes = static_cast<std::int64_t>(templ.width) * step;
  const std::int64_t rowEnd = (4 - rowBytes % 4) % 4;

  ColorValue target = static_cast<ColorValue>(color);
  const bool pattern = color == -1;
  if (readWidth == 1 && !pattern) {
    // 8-bit pixels hold indices, so the colour becomes the first index whose
    // entry holds it; other indices with the same entry stay unmarked.
    ColorValue table[256];
    ResolveColorTable(templ, table);
    std::int32_t index = -1;
    for (std::int32_t i = 0; i < 256 && index < 0; ++i) {
      if (table[i] == target) index = i;
    }
    if (index < 0) {
      os.freeBlock(map);
      return nullptr;
    }
    target = static_cast<ColorValue>(index);
  }

  ColorValue seen[256];
  std::int32_t seenCount = 0;
  bool marked = false;
  const std::uint8_t* p = templ.pixels;
  std::uint8_t* out = map;
  for (std::int32_t row = 0; row < templ.height; ++row) {
    for (std::int32_t column = 0; column < templ.width; ++column) {
      const ColorValue v = MaskPixel(p, readWidth);
      if (pattern) {
        *out++ = static_cast<std::uint8_t>(NumberByFirstAppearance(v, seen, seenCount));
      } else {
        const bool on = v == target;
        marked = marked || on;
        *out++ = on ? 1 : 0;
      }
      p += step;
    }
    p += rowEnd;
  }

  if (!pattern && !marked) {
    os.freeBlock(map);
    return nullptr;
  }
  return map;
}

}  // namespace zadized
