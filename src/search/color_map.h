// The template's colour map: one byte per template pixel in stored order
// (bottom row first, each row left to right), without row padding, numbered
// by the same rule the window test numbers the screen with.
#pragma once

#include <cstdint>

#include "image/records.h"
#include "search/rules.h"

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

// The template's pixels as the near-colour test compares them: 8-bit indices
// through the colour table that the corner colours come from, 16-bit words
// widened from 5-5-5, and for 24 and 32 bits blue, green and red. Allocates
// nothing; the record must describe pixels (the loader's records do).
TemplateColors ReadTemplateColors(const BitmapRecord& templ);

}  // namespace zadized
