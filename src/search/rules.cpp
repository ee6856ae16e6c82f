#include "search/rules.h"

#include <climits>
#include <cstddef>
#include <utility>

#include "image/pixel.h"

namespace zadized {

namespace {

constexpr std::int32_t kModeUnit = 268435456;  // 2^28: the colour word's mode
// A stride of width * 4 bytes must fit 32 bits.
constexpr std::int32_t kWidestScreen = 0x1FFFFFFF;

std::int32_t Wrap32(std::int64_t v) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(v)); }

}  // namespace

ScanOrder DecodeOptions(std::int32_t options) {
  const auto bits = static_cast<std::uint32_t>(options);
  return ScanOrder{static_cast<std::int32_t>(bits & 0xFFFFu), (bits >> 16 & 1) != 0, (bits >> 17 & 1) != 0,
                   (bits >> 18 & 1) != 0};
}

bool KeyColorIsTransparent(std::int32_t options) {
  return (static_cast<std::uint32_t>(options) >> 19 & 1) != 0;
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
  if (mode == 2) {
    const auto bits = static_cast<std::uint32_t>(color);
    const auto percent = static_cast<std::int32_t>(bits >> 8 & 0xFFu);
    return ColorTest{
        -1, false, 0, 0, 0, true, static_cast<std::int32_t>(bits & 0xFFu), percent < 100 ? percent : 100};
  }
  return ColorTest{-1, false, 0, 0, 0};
}

Rectangle NormalizeRectangle(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2,
                             std::int32_t width, std::int32_t height) {
  if (x1 > x2) std::swap(x1, x2);
  if (y1 > y2) std::swap(y1, y2);
  if (x1 < 0) x1 = 0;
  if (y1 < 0) y1 = 0;
  if (x2 >= width) x2 = Wrap32(static_cast<std::int64_t>(width) - 1);
  if (y2 >= height) y2 = Wrap32(static_cast<std::int64_t>(height) - 1);
  return Rectangle{x1, y1, x2, y2};
}

std::int32_t PlaceRectangle(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2,
                            std::int32_t width, std::int32_t height, std::int32_t templateWidth,
                            std::int32_t templateHeight, Rectangle* out) {
  if (width <= 0 || height <= 0 || width > kWidestScreen) return kNoScreen;
  const Rectangle r = NormalizeRectangle(x1, y1, x2, y2, width, height);
  if (templateWidth > static_cast<std::int64_t>(r.x2) - r.x1 + 1 ||
      templateHeight > static_cast<std::int64_t>(r.y2) - r.y1 + 1) {
    return kRectangleTooSmall;
  }
  *out = r;
  return 0;
}

std::int32_t EncodePosition(std::int32_t x, std::int32_t y, std::int32_t width) {
  return Wrap32((static_cast<std::int64_t>(y) - 1) * width + (static_cast<std::int64_t>(x) - 1));
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

// Cheap once per scan, and it keeps every read of the loop on the screen.
std::int64_t AllowedMisses(std::int32_t percent, std::int64_t opaquePixels) {
  return static_cast<std::int64_t>(percent) * opaquePixels / 100;
}

bool ScanFits(const ScanSetup& s, const Rectangle& r) {
  const std::int32_t tw = s.templateWidth, th = s.templateHeight;
  if (s.screen == nullptr || (s.map == nullptr && s.colors == nullptr) || tw <= 0 || th <= 0 ||
      s.width <= 0 || s.height <= 0 || r.x1 < 0 || r.y1 < 0 || r.x2 >= s.width || r.y2 >= s.height) {
    return false;
  }
  return static_cast<std::int64_t>(r.x2) - tw + 1 >= r.x1 && static_cast<std::int64_t>(r.y2) - th + 1 >= r.y1;
}

namespace {

// The literal window test, one mode each, with the transparent pixels
// passed over when kMasked. Two instances of each, so that a template
// without transparency pays no test per pixel for it. Each counts in `read`
// the pixels it read. The window's bottom row comes first, as the map's
// order has it.

// Near colours: pixels that miss by more than the tolerance are counted
// until there are more than are allowed.
template <bool kMasked>
bool NearWindowMatches(const ScanSetup& s, std::int32_t x, std::int32_t y, std::int64_t& read) {
  const std::int32_t stride = s.width * 4, tw = s.templateWidth, th = s.templateHeight;
  const TemplateColors& t = *s.colors;
  std::int64_t k = 0, misses = 0;
  for (std::int32_t r = 0; r < th; ++r) {
    const std::uint8_t* p = PixelAddress(s.screen, x, y + th - 1 - r, stride, s.height, 4);
    const std::uint8_t* q = t.pixels + static_cast<std::ptrdiff_t>(r) * t.stride;
    for (std::int32_t c = 0; c < tw; ++c, p += 4, q += t.bytesPerPixel, ++k) {
      if (kMasked && s.opaque[k] == 0) continue;
      ++read;
      if (!WithinTolerance(t.At(q), MaskPixel(p, 3), s.tolerance) && ++misses > s.allowedMisses) return false;
    }
  }
  return true;
}

// Pattern: numbers by first appearance, exactly as the pattern map numbers
// the template; a full table gives every further new value 255.
template <bool kMasked>
bool PatternWindowMatches(const ScanSetup& s, std::int32_t x, std::int32_t y, std::int64_t& read) {
  const std::int32_t stride = s.width * 4, tw = s.templateWidth, th = s.templateHeight;
  ColorValue seen[256];
  std::int32_t seenCount = 0;
  std::int64_t k = 0;
  for (std::int32_t r = 0; r < th; ++r) {
    const std::uint8_t* p = PixelAddress(s.screen, x, y + th - 1 - r, stride, s.height, 4);
    for (std::int32_t c = 0; c < tw; ++c, p += 4, ++k) {
      if (kMasked && s.opaque[k] == 0) continue;
      ++read;
      if (NumberByFirstAppearance(MaskPixel(p, 3), seen, seenCount) != s.map[k]) return false;
    }
  }
  return true;
}

// Shape: the marked pixels show one colour, and at most a third of the
// unmarked ones show it.
template <bool kMasked>
bool ShapeWindowMatches(const ScanSetup& s, std::int32_t x, std::int32_t y, std::int64_t& read) {
  const std::int32_t stride = s.width * 4, tw = s.templateWidth, th = s.templateHeight;
  bool haveShapeColor = false;
  ColorValue shapeColor = 0;
  std::int64_t k = 0, unmarked = 0, unmarkedInShapeColor = 0;
  for (std::int32_t r = 0; r < th; ++r) {
    const std::uint8_t* p = PixelAddress(s.screen, x, y + th - 1 - r, stride, s.height, 4);
    for (std::int32_t c = 0; c < tw; ++c, p += 4, ++k) {
      if (kMasked && s.opaque[k] == 0) continue;
      ++read;
      const ColorValue v = MaskPixel(p, 3);
      if (s.map[k] != 0) {
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

template <bool kMasked>
bool WindowMatchesIn(const ScanSetup& s, std::int32_t x, std::int32_t y, std::int64_t* pixelsRead) {
  std::int64_t read = 0;
  const bool matches = s.colors != nullptr ? NearWindowMatches<kMasked>(s, x, y, read)
                       : !s.shape          ? PatternWindowMatches<kMasked>(s, x, y, read)
                                           : ShapeWindowMatches<kMasked>(s, x, y, read);
  if (pixelsRead != nullptr) *pixelsRead = read;
  return matches;
}

}  // namespace

bool WindowMatches(const ScanSetup& s, std::int32_t x, std::int32_t y, std::int64_t* pixelsRead) {
  return s.opaque != nullptr ? WindowMatchesIn<true>(s, x, y, pixelsRead)
                             : WindowMatchesIn<false>(s, x, y, pixelsRead);
}

ColorValue TemplateCornerColor(const BitmapRecord& templ, std::int32_t corner) {
  switch (corner & 3) {
    case 0:
      return templ.topLeftColor;
    case 1:
      return templ.topRightColor;
    case 2:
      return templ.bottomLeftColor;
    default:
      return templ.bottomRightColor;
  }
}

bool Sightings::Add(std::int32_t x, std::int32_t y) {
  if (slots == nullptr || capacity <= 0) {
    // A count that no real screen reaches stops short of wrapping.
    if (count < INT32_MAX) ++count;
    return false;
  }
  const auto v = static_cast<std::uint32_t>(EncodePosition(left + x, top + y, screenWidth));
  std::uint8_t* slot = slots + static_cast<std::ptrdiff_t>(count) * 4;
  for (int i = 0; i < 4; ++i) slot[i] = static_cast<std::uint8_t>(v >> (8 * i));
  return ++count == capacity;
}

Acceptance::Acceptance(const ScanSetup& s, const BitmapRecord& templ, const ScanOrder& order,
                       const ColorTest& test, Sightings* list)
    : s_(s),
      test_(test),
      skip_(order.skip),
      cornerColor_(TemplateCornerColor(templ, test.corner)),
      list_(list) {
  cornerDx_ = (test.corner & 1) != 0 ? s.templateWidth - 1 : 0;
  cornerDy_ = (test.corner & 2) != 0 ? s.templateHeight - 1 : 0;
  // The corner's map index: its column, in the stored row of its row from
  // the top.
  const std::int64_t cornerIndex =
      static_cast<std::int64_t>(s.templateHeight - 1 - cornerDy_) * s.templateWidth + cornerDx_;
  cornerTransparent_ = test.tolerance && !TakesPart(s, cornerIndex);
}

bool Acceptance::Accept(std::int32_t x, std::int32_t y) {
  if (skip_ > 0) {
    --skip_;
    return false;
  }
  if (test_.tolerance && !cornerTransparent_) {
    const ColorValue screenColor =
        ReadPixel(s_.screen, x + cornerDx_, y + cornerDy_, s_.width * 4, s_.height, 4);
    if (CompareCornerColor(cornerColor_, screenColor, test_.channelTolerance, test_.sumTolerance) != 1)
      return false;
  }
  return list_ == nullptr || list_->Add(x, y);
}

Candidates::Candidates(const Rectangle& r, std::int32_t templateWidth, std::int32_t templateHeight,
                       const ScanOrder& scanOrder)
    : firstX(r.x1),
      lastX(static_cast<std::int32_t>(static_cast<std::int64_t>(r.x2) - templateWidth + 1)),
      firstY(r.y1),
      lastY(static_cast<std::int32_t>(static_cast<std::int64_t>(r.y2) - templateHeight + 1)),
      columns(static_cast<std::int64_t>(r.x2) - templateWidth + 1 - r.x1 + 1),
      rows(static_cast<std::int64_t>(r.y2) - templateHeight + 1 - r.y1 + 1),
      order(scanOrder) {}

}  // namespace zadized
