#include "search/search.h"

#include <utility>

#include "image/bitmap_cache.h"
#include "image/capture.h"
#include "image/pixel.h"
#include "platform/platform.h"
#include "search/color_map.h"
#include "search/fast_scan.h"
#include "search/region_capture.h"

namespace zadized {

namespace {

constexpr std::int32_t kModeUnit = 268435456;  // 2^28: the colour word's mode

std::int32_t Wrap32(std::int64_t v) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(v)); }

}  // namespace

ScanOrder DecodeOptions(std::int32_t options) {
  const auto bits = static_cast<std::uint32_t>(options);
  return ScanOrder{static_cast<std::int32_t>(bits & 0xFFFFu), (bits >> 16 & 1) != 0, (bits >> 17 & 1) != 0,
                   (bits >> 18 & 1) != 0};
}

ColorTest DecodeColorWord(std::int32_t color) {
  const std::int32_t mode = color / kModeUnit;
  if (mode == 0) return ColorTest{color, false, 0, 0, 0};
  if (mode == 1) {
    const auto bits = static_cast<std::uint32_t>(color);
    return ColorTest{-1, true, static_cast<std::int32_t>(bits & 0xFFFFu),
                     static_cast<std::int32_t>(bits >> 16 & 0xFFu),
                     static_cast<std::int32_t>(bits >> 24 & 3u)};
  }
  return ColorTest{-1, false, 0, 0, 0};
}

Rectangle NormaliseRectangle(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2,
                             std::int32_t width, std::int32_t height) {
  if (x1 > x2) std::swap(x1, x2);
  if (y1 > y2) std::swap(y1, y2);
  if (x1 < 0) x1 = 0;
  if (y1 < 0) y1 = 0;
  if (x2 >= width) x2 = Wrap32(static_cast<std::int64_t>(width) - 1);
  if (y2 >= height) y2 = Wrap32(static_cast<std::int64_t>(height) - 1);
  return Rectangle{x1, y1, x2, y2};
}

std::int32_t CompareCornerColor(ColorValue templateColor, ColorValue screenColor,
                                std::int32_t channelTolerance, std::int32_t sumTolerance) {
  std::int32_t sum = 0;
  for (int shift = 0; shift <= 16; shift += 8) {
    const auto a = static_cast<std::int32_t>(templateColor >> shift & 0xFFu);
    const auto b = static_cast<std::int32_t>(screenColor >> shift & 0xFFu);
    const std::int32_t d = a > b ? a - b : b - a;
    if (d > channelTolerance) return 0;
    sum += d;
  }
  return sum <= sumTolerance ? 1 : 0;
}

std::int32_t EncodePosition(std::int32_t x, std::int32_t y, std::int32_t width) {
  return Wrap32((static_cast<std::int64_t>(y) - 1) * width + (static_cast<std::int64_t>(x) - 1));
}

bool WindowMatches(const ScanSetup& s, std::int32_t x, std::int32_t y) {
  const std::int32_t stride = s.width * 4;
  const std::uint8_t* m = s.map;
  if (!s.shape) {
    // Numbers by first appearance, exactly as the pattern map numbers the
    // template: a full table gives every further new value 255.
    ColorValue seen[256];
    std::int32_t seenCount = 0;
    for (std::int32_t r = 0; r < s.templateHeight; ++r) {
      const std::uint8_t* p = PixelAddress(s.screen, x, y + s.templateHeight - 1 - r, stride, s.height, 4);
      for (std::int32_t c = 0; c < s.templateWidth; ++c, p += 4) {
        const ColorValue v = MaskPixel(p, 3);
        if (NumberByFirstAppearance(v, seen, seenCount) != *m++) return false;
      }
    }
    return true;
  }

  bool haveShapeColor = false;
  ColorValue shapeColor = 0;
  std::int64_t unmarked = 0;
  std::int64_t unmarkedInShapeColor = 0;
  for (std::int32_t r = 0; r < s.templateHeight; ++r) {
    const std::uint8_t* p = PixelAddress(s.screen, x, y + s.templateHeight - 1 - r, stride, s.height, 4);
    for (std::int32_t c = 0; c < s.templateWidth; ++c, p += 4) {
      const ColorValue v = MaskPixel(p, 3);
      if (*m++ != 0) {
        if (!haveShapeColor) {
          haveShapeColor = true;
          shapeColor = v;
        } else if (v != shapeColor) {
          return false;
        }
      } else {
        // Background met before the first shape pixel cannot be compared
        // with the shape's colour yet, and is never looked at again.
        ++unmarked;
        if (haveShapeColor && v == shapeColor) ++unmarkedInShapeColor;
      }
    }
  }
  return unmarkedInShapeColor <= unmarked / 3;
}

namespace {

// The candidate positions of a rectangle, or none when a read could leave
// the screen. Cheap once per scan, and it keeps every read of the loop on
// the screen.
bool ScanFits(const ScanSetup& s, const Rectangle& r) {
  const std::int32_t tw = s.templateWidth, th = s.templateHeight;
  if (s.screen == nullptr || s.map == nullptr || tw <= 0 || th <= 0 || s.width <= 0 || s.height <= 0 ||
      r.x1 < 0 || r.y1 < 0 || r.x2 >= s.width || r.y2 >= s.height) {
    return false;
  }
  return static_cast<std::int64_t>(r.x2) - tw + 1 >= r.x1 && static_cast<std::int64_t>(r.y2) - th + 1 >= r.y1;
}

ScanHit Scan(const ScanSetup& s, const BitmapRecord& templ, const Rectangle& r, const ScanOrder& order,
             const ColorTest& test) {
  if (!ScanFits(s, r)) return ScanHit{false, 0, 0};
  return ReferenceScanForced() ? LiteralScan(s, templ, r, order, test) : FastScan(s, templ, r, order, test);
}

}  // namespace

ScanHit LiteralScan(const ScanSetup& s, const BitmapRecord& templ, const Rectangle& r, const ScanOrder& order,
                    const ColorTest& test) {
  const std::int64_t lastX = static_cast<std::int64_t>(r.x2) - s.templateWidth + 1;
  const std::int64_t lastY = static_cast<std::int64_t>(r.y2) - s.templateHeight + 1;
  const std::int64_t columns = lastX - r.x1 + 1;
  const std::int64_t rows = lastY - r.y1 + 1;
  Acceptance acceptance(s, templ, order, test);
  const auto accepted = [&](std::int32_t x, std::int32_t y) {
    return WindowMatches(s, x, y) && acceptance.Accept(x, y);
  };
  const auto column = [&](std::int64_t j) {
    return static_cast<std::int32_t>(order.rightToLeft ? lastX - j : r.x1 + j);
  };
  const auto row = [&](std::int64_t i) {
    return static_cast<std::int32_t>(order.bottomUp ? lastY - i : r.y1 + i);
  };

  if (!order.columnsOuter) {
    for (std::int64_t i = 0; i < rows; ++i) {
      const std::int32_t y = row(i);
      for (std::int64_t j = 0; j < columns; ++j) {
        const std::int32_t x = column(j);
        if (accepted(x, y)) return ScanHit{true, x, y};
      }
    }
  } else {
    for (std::int64_t j = 0; j < columns; ++j) {
      const std::int32_t x = column(j);
      for (std::int64_t i = 0; i < rows; ++i) {
        const std::int32_t y = row(i);
        if (accepted(x, y)) return ScanHit{true, x, y};
      }
    }
  }
  return ScanHit{false, 0, 0};
}

std::int32_t ScanRectangle(const ScanSetup& s, const BitmapRecord& templ, const Rectangle& r,
                           const ScanOrder& order, const ColorTest& test) {
  const ScanHit hit = Scan(s, templ, r, order, test);
  return hit.found ? EncodePosition(hit.x, hit.y, s.width) : kNotFound;
}

std::int32_t SearchCapture(const ScreenImage& screen, const BitmapRecord& templ, std::int32_t x1,
                           std::int32_t y1, std::int32_t x2, std::int32_t y2, std::int32_t options,
                           std::int32_t color) {
  // A stride that does not fit 32 bits cannot come from a real display.
  if (screen.pixels == nullptr || screen.width <= 0 || screen.height <= 0 || screen.width > 0x1FFFFFFF) {
    return kNoScreen;
  }
  const ScanOrder order = DecodeOptions(options);
  const ColorTest test = DecodeColorWord(color);
  const Rectangle r = NormaliseRectangle(x1, y1, x2, y2, screen.width, screen.height);
  if (templ.width > static_cast<std::int64_t>(r.x2) - r.x1 + 1 ||
      templ.height > static_cast<std::int64_t>(r.y2) - r.y1 + 1) {
    return kRectangleTooSmall;
  }
  std::uint8_t* map = BuildColorMap(templ, test.mapColor);
  if (map == nullptr) return kNoColorMap;
  const ScanSetup setup{screen.pixels, screen.width, screen.height,      map,
                        templ.width,   templ.height, test.mapColor != -1};
  const std::int32_t result = ScanRectangle(setup, templ, r, order, test);
  platform::Current().freeBlock(map);
  return result;
}

std::int32_t SearchImage(const char* fileName, std::int32_t x1, std::int32_t y1, std::int32_t x2,
                         std::int32_t y2, std::int32_t options, std::int32_t color) {
  const BitmapRecord templ = OpenBitmap(fileName);
  if (templ.fileSize == -1) return kNoTemplate;
  // A template without pixels gets no map; the whole-screen path already
  // answers it.
  if (ReferenceScanForced() || templ.width <= 0 || templ.height <= 0) {
    const ScreenImage screen = CaptureScreen();
    const std::int32_t result = SearchCapture(screen, templ, x1, y1, x2, y2, options, color);
    if (screen.bitmap != nullptr) platform::Current().deleteObject(screen.bitmap);
    return result;
  }

  // Only the rectangle is copied from the display; positions found in the
  // copy are moved back and encoded with the display's full width.
  RegionCapture region{};
  const std::int32_t status = CaptureRegion(x1, y1, x2, y2, templ.width, templ.height, &region);
  if (status != 0) return status;
  const ScanOrder order = DecodeOptions(options);
  const ColorTest test = DecodeColorWord(color);
  std::int32_t result = kNoColorMap;
  std::uint8_t* map = BuildColorMap(templ, test.mapColor);
  if (map != nullptr) {
    const ScreenImage& part = region.image;
    const ScanSetup setup{part.pixels, part.width,   part.height,        map,
                          templ.width, templ.height, test.mapColor != -1};
    const ScanHit hit = Scan(setup, templ, Rectangle{0, 0, part.width - 1, part.height - 1}, order, test);
    result =
        hit.found ? EncodePosition(region.left + hit.x, region.top + hit.y, region.screenWidth) : kNotFound;
    platform::Current().freeBlock(map);
  }
  platform::Current().deleteObject(region.image.bitmap);
  return result;
}

}  // namespace zadized
