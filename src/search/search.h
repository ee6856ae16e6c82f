// Finding a template on the screen: the exports' one road.
#pragma once

#include <cstdint>

#include "image/records.h"
#include "search/rules.h"
#include "search/scan.h"

namespace zadized {

// Load, capture the rectangle, map, scan, encode, release.
std::int32_t SearchImage(const char* fileName, std::int32_t x1, std::int32_t y1, std::int32_t x2,
                         std::int32_t y2, std::int32_t options, std::int32_t color);

// The same road, but the scan goes on from each sighting: after passing over
// the skip count's window matches it writes every accepted position, encoded
// as SearchImage encodes it, into the 4-byte slots at `results` (no alignment
// needed), until maxResults are written or the rectangle is done, and answers
// how many it wrote. With results null or maxResults 0 or below it writes
// nothing and answers how many there are. SearchImage's codes -2, -3, -10
// and -100 come in the same cases, before anything is written.
std::int32_t SearchImageAll(const char* fileName, std::int32_t x1, std::int32_t y1, std::int32_t x2,
                            std::int32_t y2, std::int32_t options, std::int32_t color, void* results,
                            std::int32_t maxResults);

// Both on a capture of the whole display already in memory (tests,
// benchmarks and the template tester bring their own): kNoScreen for a
// capture without pixels, then as SearchImage and SearchImageAll. The
// capture stays the caller's. `opacity` is what the loader found of the
// template's alpha (OpenTemplate); null for a template without it.
std::int32_t SearchCapture(const ScreenImage& screen, const BitmapRecord& templ, std::int32_t x1,
                           std::int32_t y1, std::int32_t x2, std::int32_t y2, std::int32_t options,
                           std::int32_t color, const std::uint8_t* opacity = nullptr);
std::int32_t SearchCaptureAll(const ScreenImage& screen, const BitmapRecord& templ, std::int32_t x1,
                              std::int32_t y1, std::int32_t x2, std::int32_t y2, std::int32_t options,
                              std::int32_t color, void* results, std::int32_t maxResults,
                              const std::uint8_t* opacity = nullptr);

}  // namespace zadized
