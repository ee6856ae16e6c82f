#include "search/region_capture.h"

#include "image/capture.h"
#include "platform/platform.h"
#include "search/rules.h"

namespace zadized {

std::int32_t CaptureRegion(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2,
                           std::int32_t templateWidth, std::int32_t templateHeight, RegionCapture* out) {
  const platform::Ops& os = platform::Current();
  void* display = os.createDisplayDC();
  if (display == nullptr) return kNoScreen;
  const std::int32_t width = os.getDeviceCaps(display, platform::kHorzRes);
  const std::int32_t height = os.getDeviceCaps(display, platform::kVertRes);
  Rectangle r{};
  const std::int32_t placed =
      PlaceRectangle(x1, y1, x2, y2, width, height, templateWidth, templateHeight, &r);
  if (placed != 0) {
    os.releaseDisplayDC(display);
    return placed;
  }
  // A template with pixels leaves a rectangle of at least its own size.
  const ScreenImage image = CopyDisplay(display, r.x1, r.y1, r.x2 - r.x1 + 1, r.y2 - r.y1 + 1);
  if (image.pixels == nullptr) return kNoScreen;
  *out = RegionCapture{image, r.x1, r.y1, width, height};
  return 0;
}

}  // namespace zadized
