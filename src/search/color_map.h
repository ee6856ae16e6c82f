// The template's colour map: one byte per template pixel in stored order
// (bottom row first, each row left to right), without row padding.
#pragma once

#include <cstdint>

#include "image/records.h"

namespace zadized {

// color -1: a pattern map, each byte the number of the pixel's value in order
// of first appearance (0-254 one value each, 255 the 256th value and every
// later new one). Any other color: a shape map, 1 where the pixel's value is
// the colour, else 0; for 8-bit templates the colour is first turned into the
// index of the first colour-table entry that holds it.
//
// The map is a global-memory block that the caller frees. Null, with nothing
// left allocated, for a shape map with no marked pixel, an 8-bit template
// whose table lacks the colour, a map that cannot be allocated, and a record
// without pixels or with a width or height below 1.
std::uint8_t* BuildColorMap(const BitmapRecord& templ, std::int32_t color);

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

}  // namespace zadized
