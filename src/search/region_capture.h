// SearchImage's own capture: only the part of the display that the search
// rectangle covers, so a small rectangle costs a small copy. CaptureScreen,
// the export, keeps copying the whole display.
#pragma once

#include <cstdint>

#include "image/records.h"

namespace zadized {

struct RegionCapture {
  ScreenImage image;  // the rectangle's pixels, bottom-up, width * 4 per row
  std::int32_t left;  // the rectangle's place on the display
  std::int32_t top;
  std::int32_t screenWidth;  // the display's, for encoding positions
  std::int32_t screenHeight;
};

// Puts the rectangle in order, cuts it to the display and copies it. 0 with
// the capture in *out, which the caller deletes; -10 when the cut rectangle
// is narrower than templateWidth or lower than templateHeight; -3 when the
// display or the copy is not to be had. Nothing is left alive on failure.
std::int32_t CaptureRegion(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2,
                           std::int32_t templateWidth, std::int32_t templateHeight, RegionCapture* out);

}  // namespace zadized
