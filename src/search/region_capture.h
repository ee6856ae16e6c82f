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

// Places the rectangle on the display (PlaceRectangle) and copies it: 0 with
// the capture in *out, which the caller deletes; kRectangleTooSmall, or
// kNoScreen when the display or the copy is not to be had. Nothing is left
// alive on failure. The template must have pixels (width and height >= 1).
std::int32_t CaptureRegion(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2,
                           std::int32_t templateWidth, std::int32_t templateHeight, RegionCapture* out);

}  // namespace zadized
