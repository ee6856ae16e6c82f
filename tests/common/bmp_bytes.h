// BMP files built byte by byte, so each test states exactly the header and
// pixel bytes it is about. Shared by the native tests and the Windows hosts.
#pragma once

#include <cstdint>
#include <vector>

namespace zadized::test {

inline void Put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
inline void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  Put16(b, at, v);
  Put16(b, at + 2, v >> 16);
}

struct BmpLayout {
  std::int32_t width = 1;
  std::int32_t height = 1;
  std::uint16_t bitCount = 24;
  std::uint32_t paletteEntries = 0;  // written after the 40-byte info header
  std::uint32_t colorsUsed = 0;      // the header's declared count
  std::uint32_t gap = 0;             // bytes between the palette and the pixels
};

// Header, palette (entries 0..n-1 filled by `palette`), gap, then `pixels`
// exactly as given (stored order, padding included).
inline std::vector<std::uint8_t> MakeBmp(const BmpLayout& s, const std::vector<std::uint32_t>& palette,
                                         const std::vector<std::uint8_t>& pixels) {
  const std::uint32_t offset = 54 + 4 * s.paletteEntries + s.gap;
  std::vector<std::uint8_t> b(offset + pixels.size(), 0);
  b[0] = 'B';
  b[1] = 'M';
  Put32(b, 2, static_cast<std::uint32_t>(b.size()));
  Put32(b, 10, offset);
  Put32(b, 14, 40);
  Put32(b, 18, static_cast<std::uint32_t>(s.width));
  Put32(b, 22, static_cast<std::uint32_t>(s.height));
  Put16(b, 26, 1);
  Put16(b, 28, s.bitCount);
  Put32(b, 34, static_cast<std::uint32_t>(pixels.size()));
  Put32(b, 46, s.colorsUsed);
  for (std::uint32_t i = 0; i < s.paletteEntries && i < palette.size(); ++i) Put32(b, 54 + 4 * i, palette[i]);
  for (std::size_t i = 0; i < pixels.size(); ++i) b[offset + i] = pixels[i];
  return b;
}

// A 24-bit file from top-down rows of 0x00RRGGBB values.
inline std::vector<std::uint8_t> MakeBmp24(std::int32_t width, std::int32_t height,
                                           const std::vector<std::uint32_t>& topDown) {
  const std::int32_t stride = (width * 3 + 3) / 4 * 4;
  std::vector<std::uint8_t> px(static_cast<std::size_t>(stride) * height, 0);
  for (std::int32_t y = 0; y < height; ++y) {
    for (std::int32_t x = 0; x < width; ++x) {
      const std::uint32_t v = topDown[static_cast<std::size_t>(y) * width + x];
      std::uint8_t* p = &px[static_cast<std::size_t>(height - 1 - y) * stride + 3 * x];
      p[0] = static_cast<std::uint8_t>(v);
      p[1] = static_cast<std::uint8_t>(v >> 8);
      p[2] = static_cast<std::uint8_t>(v >> 16);
    }
  }
  BmpLayout s;
  s.width = width;
  s.height = height;
  return MakeBmp(s, {}, px);
}

}  // namespace zadized::test
