// Templates and screens for the capture, colour-map and search tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bmp_builder.h"
#include "image/bitmap_cache.h"
#include "image/records.h"
#include "platform/platform.h"

namespace zadized::test {

// A private bitmap cache whose blocks go back at the end, so the sanitizer's
// leak check and Live() see only what the code under test leaked.
struct PrivateCache {
  std::unique_ptr<BitmapCache> c = std::make_unique<BitmapCache>();
  PrivateCache() = default;
  PrivateCache(const PrivateCache&) = delete;
  PrivateCache& operator=(const PrivateCache&) = delete;
  ~PrivateCache() { ReleaseBitmapCache(*c); }
  BitmapRecord Load(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    return OpenBitmap(*c, WriteFile(name, bytes).c_str());
  }
  Template LoadTemplate(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    return OpenTemplate(*c, WriteFile(name, bytes).c_str());
  }
};

// A 32-bit bottom-up screen built by hand, as the capture lays it out. The
// fourth byte of every pixel is set to `fourth` to show it plays no part.
struct HandScreen {
  std::int32_t width;
  std::int32_t height;
  std::vector<std::uint8_t> bits;
  HandScreen(std::int32_t w, std::int32_t h, const std::vector<std::uint32_t>& topDown,
             std::uint8_t fourth = 0xEE)
      : width(w), height(h), bits(static_cast<std::size_t>(w) * h * 4) {
    for (std::int32_t y = 0; y < h; ++y) {
      for (std::int32_t x = 0; x < w; ++x) {
        const std::uint32_t v = topDown[static_cast<std::size_t>(y) * w + x];
        std::uint8_t* p = &bits[(static_cast<std::size_t>(h - 1 - y) * w + x) * 4];
        p[0] = static_cast<std::uint8_t>(v);
        p[1] = static_cast<std::uint8_t>(v >> 8);
        p[2] = static_cast<std::uint8_t>(v >> 16);
        p[3] = fourth;
      }
    }
  }
  ScreenImage Image() { return ScreenImage{nullptr, bits.data(), width, height, 32}; }
};

// Top-down rows of 0x00RRGGBB values, filled with `background`.
struct Canvas {
  std::int32_t width;
  std::int32_t height;
  std::vector<std::uint32_t> px;
  Canvas(std::int32_t w, std::int32_t h, std::uint32_t background)
      : width(w), height(h), px(static_cast<std::size_t>(w) * h, background) {}
  std::uint32_t& at(std::int32_t x, std::int32_t y) { return px[static_cast<std::size_t>(y) * width + x]; }
  void Fill(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h, std::uint32_t v) {
    for (std::int32_t j = y; j < y + h; ++j)
      for (std::int32_t i = x; i < x + w; ++i) at(i, j) = v;
  }
  // Places a top-down block of values at (x, y).
  void Paste(std::int32_t x, std::int32_t y, std::int32_t w, const std::vector<std::uint32_t>& block) {
    const auto h = static_cast<std::int32_t>(block.size()) / w;
    for (std::int32_t j = 0; j < h; ++j)
      for (std::int32_t i = 0; i < w; ++i) at(x + i, y + j) = block[static_cast<std::size_t>(j) * w + i];
  }
};

// A platform table that starts as the native one; tests replace entries.
struct PlatformOverride {
  platform::Ops ops = platform::Native();
  void Install() { platform::Override(&ops); }
  ~PlatformOverride() { platform::Override(nullptr); }
};

}  // namespace zadized::test
