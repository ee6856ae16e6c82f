// Pixel addressing shared by BMP files and screen captures: bottom-up rows,
// each padded to a multiple of 4 bytes, addressed from the top-left corner.
// These run once per pixel inside the search, so they are inline and check
// nothing; callers keep (x, y) inside the picture.
#pragma once

#include <cstdint>

#include "image/records.h"

namespace zadized {

// Bits per pixel to bytes per pixel; 1- and 4-bit pictures give 0.
inline std::int32_t BytesPerPixel(std::int32_t bitCount) { return bitCount / 8; }

// width * bytesPerPixel rounded up to a multiple of 4. The remainder keeps the
// sign of the product (C++ truncation), which is the rule callers expect even
// for the negative widths that only a malformed record can carry.
inline std::int32_t RowStride(std::int32_t width, std::int32_t bytesPerPixel) {
  const std::int64_t p = static_cast<std::int64_t>(width) * bytesPerPixel;
  const std::int64_t r = p % 4;
  return static_cast<std::int32_t>(r == 0 ? p : p + 4 - r);
}

inline const std::uint8_t* PixelAddress(const std::uint8_t* pixels, std::int32_t x, std::int32_t y,
                                        std::int32_t stride, std::int32_t height,
                                        std::int32_t bytesPerPixel) {
  const std::int64_t offset =
      (static_cast<std::int64_t>(height) - y - 1) * stride + static_cast<std::int64_t>(x) * bytesPerPixel;
  return pixels + offset;
}

// Reads only the bytes that make up the value: 1, 2, or 3 for every other size.
inline ColorValue MaskPixel(const std::uint8_t* pixel, std::int32_t bytesPerPixel) {
  if (bytesPerPixel == 1) return pixel[0];
  if (bytesPerPixel == 2) return static_cast<ColorValue>(pixel[0] | (pixel[1] << 8));
  return static_cast<ColorValue>(pixel[0] | (pixel[1] << 8) | (pixel[2] << 16));
}

// A 16-bit 5-5-5 word as blue, green and red, each 5-bit channel widened to 8
// bits as c << 3 | c >> 2: what a display shows for it.
inline ColorValue Widen555(unsigned word) {
  const auto widen = [](unsigned c) { return (c << 3 | c >> 2) & 0xFFu; };
  return static_cast<ColorValue>(widen(word & 31u) | widen(word >> 5 & 31u) << 8 |
                                 widen(word >> 10 & 31u) << 16);
}

// For 1 byte per pixel the colour table is the 1024 bytes before `pixels`;
// the loader guarantees that for the files it hands out, or resolves the table
// itself (see ResolveColorTable).
inline ColorValue ReadPixel(const std::uint8_t* pixels, std::int32_t x, std::int32_t y, std::int32_t stride,
                            std::int32_t height, std::int32_t bytesPerPixel) {
  const std::uint8_t* p = PixelAddress(pixels, x, y, stride, height, bytesPerPixel);
  if (bytesPerPixel == 1) {
    const std::uint8_t* e = pixels - 1024 + 4 * static_cast<std::int32_t>(p[0]);
    return static_cast<ColorValue>(e[0]) | (static_cast<ColorValue>(e[1]) << 8) |
           (static_cast<ColorValue>(e[2]) << 16) | (static_cast<ColorValue>(e[3]) << 24);
  }
  return MaskPixel(p, bytesPerPixel);
}

}  // namespace zadized
