#include "search/region_capture.h"

#include "image/capture.h"
#include "platform/platform.h"
#include "search/search.h"

namespace zadized {

std::int32_t CaptureRegion(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2,
                           std::int32_t templateWidth, std::int32_t templateHeight, RegionCapture* out) {
  const platform::Ops& os = platform::Current();
  void* display = os.createDisplayDC();
  if (display == nullptr) return kNoScreen;
  const std::int32_t width = os.getDeviceCaps(display, platform::kHorzRes);
  const std::int32_t height = os.getDeviceCaps(display, platform::kVertRes);
  // The same limit as a whole capture's: a stride must fit 32 bits.
  if (width <= 0 || height <= 0 || width > 0x1FFFFFFF) {
    os.deleteDC(display);
    return kNoScreen;
  }
  const Rectangle r = NormaliseRectangle(x1, y1, x2, y2, width, height);
  const std::int64_t w = static_cast<std::int64_t>(r.x2) - r.x1 + 1;
  const std::int64_t h = static_cast<std::int64_t>(r.y2) - r.y1 + 1;
  if (templateWidth > w || templateHeight > h) {
    os.deleteDC(display);
    return kRectangleTooSmall;
  }
  // Only a template without pixels fits an empty rectangle; there is nothing
  // to copy then.
  if (w <= 0 || h <= 0) {
    os.deleteDC(display);
    return kNoScreen;
  }

  const ScreenImage image =
      CopyDisplay(display, r.x1, r.y1, static_cast<std::int32_t>(w), static_cast<std::int32_t>(h));
  if (image.pixels == nullptr) return kNoScreen;
  *out = RegionCapture{image, r.x1, r.y1, width, height};
  return 0;
}

}  // namespace zadized
