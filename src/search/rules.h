// The rules of a search, on which both scans are built: what the option and
// colour words mean, where the rectangle lies, how a position is encoded,
// when a window matches, and what happens once it does (the skip count, then
// the corner test), visiting candidates in the order the option word asks for.
#pragma once

#include <cstdint>

#include "image/pixel.h"
#include "image/records.h"

namespace zadized {

// Results other than an encoded position.
constexpr std::int32_t kNotFound = -1;
constexpr std::int32_t kNoTemplate = -2;
constexpr std::int32_t kNoScreen = -3;
constexpr std::int32_t kRectangleTooSmall = -10;
constexpr std::int32_t kNoColorMap = -100;

// The option word: bits 0-15 skip count, 16 bottom-up rows, 17 right-to-left
// columns, 18 column by column.
struct ScanOrder {
  std::int32_t skip;
  bool bottomUp;
  bool rightToLeft;
  bool columnsOuter;
};
ScanOrder DecodeOptions(std::int32_t options);

// Option bit 19: the template's pixels of its top-left colour are transparent.
bool KeyColorIsTransparent(std::int32_t options);

// The colour word. Mode (color / 2^28, truncated) 0 hands the word itself to
// the colour map (-1 pattern, else shape); mode 1 is pattern plus a corner
// tolerance test; mode 2 is the near-colour test, which needs no map; every
// other mode is plain pattern.
struct ColorTest {
  std::int32_t mapColor;
  bool tolerance;
  std::int32_t sumTolerance;      // 0-65535
  std::int32_t channelTolerance;  // 0-255
  std::int32_t corner;            // bit 0 right, bit 1 bottom
  bool nearColors = false;
  std::int32_t nearTolerance = 0;  // n: 0-255 in each of blue, green and red
  std::int32_t nearPercent = 0;    // p: 0-100 percent of the pixels may miss
};
ColorTest DecodeColorWord(std::int32_t color);

// Both corners inclusive, in order and cut to a width x height screen. Only
// the near sides are raised and the far sides lowered, so a rectangle wholly
// off the screen comes out with x2 < x1 or y2 < y1.
struct Rectangle {
  std::int32_t x1, y1, x2, y2;
};
Rectangle NormalizeRectangle(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2,
                             std::int32_t width, std::int32_t height);

// The rectangle of a search on a width x height screen: 0 with the normalized
// rectangle in *out; kNoScreen for a screen without pixels or one whose
// stride would not fit 32 bits (no real display has one); kRectangleTooSmall
// when the rectangle is narrower or lower than the template.
std::int32_t PlaceRectangle(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2,
                            std::int32_t width, std::int32_t height, std::int32_t templateWidth,
                            std::int32_t templateHeight, Rectangle* out);

// (y - 1) * width + (x - 1) in wrapping 32-bit arithmetic.
std::int32_t EncodePosition(std::int32_t x, std::int32_t y, std::int32_t width);

// 1 when every blue, green and red difference is at most channelTolerance and
// their sum at most sumTolerance; bits 24-31 play no part.
std::int32_t CompareCornerColor(ColorValue templateColor, ColorValue screenColor,
                                std::int32_t channelTolerance, std::int32_t sumTolerance);

// The number of `v` in order of first appearance, appending it to `seen`
// while fewer than 256 values are held; once the table is full every new
// value is 255. The template's map and the screen window are numbered by
// this one rule, which is what lets the two be compared byte for byte.
inline std::int32_t NumberByFirstAppearance(ColorValue v, ColorValue (&seen)[256], std::int32_t& seenCount) {
  std::int32_t number = 0;
  while (number < seenCount && seen[number] != v) ++number;
  if (number == seenCount) {
    if (seenCount < 256) {
      seen[seenCount++] = v;
    } else {
      number = 255;
    }
  }
  return number;
}

// A template's pixels as the near-colour test compares them: blue, green and
// red in a ColorValue, whatever the template's depth (ReadTemplateColors).
struct TemplateColors {
  const std::uint8_t* pixels;  // bottom-up rows, as the file stores them
  std::int32_t stride;
  std::int32_t bytesPerPixel;  // 0 below 8 bits: every pixel is the first three bytes
  ColorValue table[256];       // 8 bits: the colours the indices select

  ColorValue At(const std::uint8_t* p) const {
    if (bytesPerPixel == 1) return table[p[0]] & 0xFFFFFFu;
    if (bytesPerPixel == 2) return Widen555(static_cast<unsigned>(p[0] | p[1] << 8));
    return static_cast<ColorValue>(p[0] | p[1] << 8 | p[2] << 16);
  }
};

// Whether every one of blue, green and red differs by at most `tolerance`.
inline bool WithinTolerance(ColorValue a, ColorValue b, std::int32_t tolerance) {
  for (int shift = 0; shift <= 16; shift += 8) {
    const auto x = static_cast<std::int32_t>(a >> shift & 0xFFu),
               y = static_cast<std::int32_t>(b >> shift & 0xFFu);
    if (x - y > tolerance || y - x > tolerance) return false;
  }
  return true;
}

// The number of template pixels that may miss in the near-colour test:
// percent x (the template's opaque pixels) / 100, rounded down.
std::int64_t AllowedMisses(std::int32_t percent, std::int64_t opaquePixels);

// Calls visit(column, rowFromTop) once for every pixel of a tw x th window:
// first a grid whose spacing is the largest power of two within the window,
// then grids of half the spacing, each giving only the pixels not yet given.
template <typename Visit>
inline void InSpreadOrder(std::int64_t tw, std::int64_t th, const Visit& visit) {
  std::int64_t top = 1;
  while (top * 2 <= (tw > th ? tw : th)) top *= 2;
  for (std::int64_t step = top; step >= 1; step /= 2) {
    for (std::int64_t row = 0; row < th; row += step) {
      const bool rowSeen = step != top && row % (2 * step) == 0;
      for (std::int64_t column = rowSeen ? step : 0; column < tw; column += rowSeen ? 2 * step : step) {
        visit(column, row);
      }
    }
  }
}

// What one scan needs, checked once (ScanFits) so the per-position test
// checks nothing.
struct ScanSetup {
  const std::uint8_t* screen;  // 32-bit bottom-up rows of width * 4 bytes
  std::int32_t width;
  std::int32_t height;
  const std::uint8_t* map;  // from BuildColorMap; null in near-colour mode
  std::int32_t templateWidth;
  std::int32_t templateHeight;
  bool shape;
  // Near-colour mode: the template's colours, how far each channel may be
  // off, and how many pixels may miss.
  const TemplateColors* colors = nullptr;
  std::int32_t tolerance = 0;
  std::int64_t allowedMisses = 0;
  // Which template pixels take part, in the map's order: 0 for a transparent
  // one, which no test reads the screen under. Null: every pixel.
  const std::uint8_t* opaque = nullptr;
};

// Whether the template pixel with map index k takes part in the tests.
inline bool TakesPart(const ScanSetup& s, std::int64_t k) { return s.opaque == nullptr || s.opaque[k] != 0; }

// The rectangle holds at least one candidate position and no read of any
// of them leaves the screen or the map.
bool ScanFits(const ScanSetup& s, const Rectangle& r);

// The literal test of one position (x, y), template wholly on the screen:
// the window's pixels against the map, and in shape mode the one-third rule;
// in near-colour mode against the template's colours, counting misses.
// *pixelsRead, when given, learns how many pixels the test read.
bool WindowMatches(const ScanSetup& s, std::int32_t x, std::int32_t y, std::int64_t* pixelsRead = nullptr);

// The colour of the template corner that the colour word's `corner` names
// (bit 0 right, bit 1 bottom), as the loader read it.
ColorValue TemplateCornerColor(const BitmapRecord& templ, std::int32_t corner);

// Where a scan stopped: the accepted position, if any.
struct ScanHit {
  bool found;
  std::int32_t x;
  std::int32_t y;
};

// A listing of every accepted position instead of the first: each is
// encoded as a result into the next 4-byte slot (little-endian, no alignment
// asked of the slots) until `capacity` are written; with no slots, or a
// capacity of 0 or below, they are only counted. (left, top) is where the
// scanned capture lies on a display `screenWidth` wide.
struct Sightings {
  std::uint8_t* slots;
  std::int32_t capacity;
  std::int32_t left;
  std::int32_t top;
  std::int32_t screenWidth;
  std::int32_t count = 0;  // written, or counted

  // Records one; true once the slots are full, which ends the scan.
  bool Add(std::int32_t x, std::int32_t y);
};

// What happens once a position passes the window test: the skip count, then
// the corner test in tolerance mode, then, in a listing, the record of it.
// Every scan uses it, so scans can differ only in which positions reach it.
class Acceptance {
 public:
  Acceptance(const ScanSetup& s, const BitmapRecord& templ, const ScanOrder& order, const ColorTest& test,
             Sightings* list = nullptr);
  // Called with positions that passed WindowMatches, in scan order; true
  // ends the scan there. A listing takes the position and answers false, so
  // the scan goes on, until its slots are full.
  bool Accept(std::int32_t x, std::int32_t y);

 private:
  const ScanSetup& s_;
  const ColorTest& test_;
  std::int32_t skip_;
  ColorValue cornerColor_;
  std::int32_t cornerDx_;
  std::int32_t cornerDy_;
  bool cornerTransparent_;  // then every corner test passes
  Sightings* list_;
};

// The candidate positions of a rectangle (those where the template lies
// wholly inside it) and the order the option word visits them in.
struct Candidates {
  std::int32_t firstX, lastX;  // columns x1 .. x2 - tw + 1
  std::int32_t firstY, lastY;  // rows y1 .. y2 - th + 1
  std::int64_t columns, rows;  // 0 or below: no candidate
  ScanOrder order;

  Candidates(const Rectangle& r, std::int32_t templateWidth, std::int32_t templateHeight,
             const ScanOrder& scanOrder);
  // The i-th row and the j-th column in visiting order.
  std::int32_t RowAt(std::int64_t i) const {
    return static_cast<std::int32_t>(order.bottomUp ? lastY - i : firstY + i);
  }
  std::int32_t ColumnAt(std::int64_t j) const {
    return static_cast<std::int32_t>(order.rightToLeft ? lastX - j : firstX + j);
  }
  // How many candidates come before (x, y) in scan order.
  std::int64_t IndexOf(std::int32_t x, std::int32_t y) const {
    const std::int64_t j =
        order.rightToLeft ? static_cast<std::int64_t>(lastX) - x : static_cast<std::int64_t>(x) - firstX;
    const std::int64_t i =
        order.bottomUp ? static_cast<std::int64_t>(lastY) - y : static_cast<std::int64_t>(y) - firstY;
    return order.columnsOuter ? j * rows + i : i * columns + j;
  }

  // Calls stop(x, y) for each candidate in scan order until it answers true;
  // that position is the hit.
  template <typename Stop>
  ScanHit Walk(const Stop& stop) const {
    const std::int64_t outer = order.columnsOuter ? columns : rows;
    const std::int64_t inner = order.columnsOuter ? rows : columns;
    for (std::int64_t a = 0; a < outer; ++a) {
      for (std::int64_t b = 0; b < inner; ++b) {
        const std::int32_t x = ColumnAt(order.columnsOuter ? a : b);
        const std::int32_t y = RowAt(order.columnsOuter ? b : a);
        if (stop(x, y)) return ScanHit{true, x, y};
      }
    }
    return ScanHit{false, 0, 0};
  }
};

}  // namespace zadized
