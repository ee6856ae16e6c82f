// Finding a template on the screen: the export's one road.
#pragma once

#include <cstdint>

#include "image/records.h"
#include "search/rules.h"
#include "search/scan.h"

namespace zadized {

// Load, capture the rectangle, map, scan, encode, release.
std::int32_t SearchImage(const char* fileName, std::int32_t x1, std::int32_t y1, std::int32_t x2,
                         std::int32_t y2, std::int32_t options, std::int32_t color);

// The same search on a capture of the whole display already in memory (tests,
// benchmarks and the template tester bring their own): kNoScreen for a
// capture without pixels, then as SearchImage. The capture stays the
// caller's. `opacity` is what the loader found of the template's alpha
// (OpenTemplate); null for a template without it.
std::int32_t SearchCapture(const ScreenImage& screen, const BitmapRecord& templ, std::int32_t x1,
                           std::int32_t y1, std::int32_t x2, std::int32_t y2, std::int32_t options,
                           std::int32_t color, const std::uint8_t* opacity = nullptr);

}  // namespace zadized
