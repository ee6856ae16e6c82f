// Finding a template on a screen capture.
#pragma once

#include <cstdint>

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

// The colour word. Mode (color / 2^28, truncated) 0 hands the word itself to
// the colour map (-1 pattern, else shape); mode 1 is pattern plus a corner
// tolerance test; every other mode is plain pattern.
struct ColorTest {
  std::int32_t mapColor;
  bool tolerance;
  std::int32_t sumTolerance;      // 0-65535
  std::int32_t channelTolerance;  // 0-255
  std::int32_t corner;            // bit 0 right, bit 1 bottom
};
ColorTest DecodeColorWord(std::int32_t color);

// Both corners inclusive, in order and cut to a width x height screen. Only
// the near sides are raised and the far sides lowered, so a rectangle wholly
// off the screen comes out with x2 < x1 or y2 < y1.
struct Rectangle {
  std::int32_t x1, y1, x2, y2;
};
Rectangle NormaliseRectangle(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2,
                             std::int32_t width, std::int32_t height);

// 1 when every blue, green and red difference is at most channelTolerance and
// their sum at most sumTolerance; bits 24-31 play no part.
std::int32_t CompareCornerColor(ColorValue templateColor, ColorValue screenColor,
                                std::int32_t channelTolerance, std::int32_t sumTolerance);

// (y - 1) * width + (x - 1) in wrapping 32-bit arithmetic.
std::int32_t EncodePosition(std::int32_t x, std::int32_t y, std::int32_t width);

// What one scan needs, checked once so the per-position test checks nothing.
struct ScanSetup {
  const std::uint8_t* screen;  // 32-bit bottom-up rows of width * 4 bytes
  std::int32_t width;
  std::int32_t height;
  const std::uint8_t* map;  // from BuildColorMap
  std::int32_t templateWidth;
  std::int32_t templateHeight;
  bool shape;
};

// The literal test of one position (x, y), template wholly on the screen:
// the window's pixels against the map, and in shape mode the one-third rule.
bool WindowMatches(const ScanSetup& s, std::int32_t x, std::int32_t y);

// Visits the candidate positions of a normalised rectangle that holds the
// template, in the order asked for, counting the skip count down and applying
// the corner test. The encoded position, or kNotFound.
std::int32_t ScanRectangle(const ScanSetup& s, const BitmapRecord& templ, const Rectangle& r,
                           const ScanOrder& order, const ColorTest& test);

// Everything after loading the template and capturing the screen: -3 for a
// capture without pixels or size, -10, -100, -1 or the encoded position. The
// capture stays the caller's.
std::int32_t SearchCapture(const ScreenImage& screen, const BitmapRecord& templ, std::int32_t x1,
                           std::int32_t y1, std::int32_t x2, std::int32_t y2, std::int32_t options,
                           std::int32_t color);

// Load, capture, search, release.
std::int32_t SearchImage(const char* fileName, std::int32_t x1, std::int32_t y1, std::int32_t x2,
                         std::int32_t y2, std::int32_t options, std::int32_t color);

}  // namespace zadized
