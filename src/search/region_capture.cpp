#include "search/region_capture.h"

#include "boundary/platform.h"
#include "search/search.h"

namespace zadized {

namespace {

constexpr std::uint32_t kInfoHeaderBytes = 40;
constexpr std::uint32_t kBitmapInfoBytes = kInfoHeaderBytes + 4;

void Put32(std::uint8_t* at, std::uint32_t v) {
  at[0] = static_cast<std::uint8_t>(v);
  at[1] = static_cast<std::uint8_t>(v >> 8);
  at[2] = static_cast<std::uint8_t>(v >> 16);
  at[3] = static_cast<std::uint8_t>(v >> 24);
}

}  // namespace

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

  auto* info = static_cast<std::uint8_t*>(os.allocZeroed(kBitmapInfoBytes));
  if (info == nullptr) {
    os.deleteDC(display);
    return kNoScreen;
  }
  Put32(info + 0, kInfoHeaderBytes);
  Put32(info + 4, static_cast<std::uint32_t>(w));
  Put32(info + 8, static_cast<std::uint32_t>(h));
  info[12] = 1;   // planes
  info[14] = 32;  // bits per pixel

  void* pixels = nullptr;
  void* bitmap = os.createDIBSection(display, info, &pixels);
  bool copied = false;
  if (bitmap != nullptr && pixels != nullptr) {
    void* memory = os.createCompatibleDC(display);
    if (memory != nullptr) {
      if (os.selectObject(memory, bitmap) != nullptr) {
        copied = os.bitBlt(memory, 0, 0, static_cast<std::int32_t>(w), static_cast<std::int32_t>(h), display,
                           r.x1, r.y1, platform::kSrcCopy) != 0;
      }
      os.deleteDC(memory);
    }
  }
  os.deleteDC(display);
  os.freeBlock(info);
  if (!copied) {
    if (bitmap != nullptr) os.deleteObject(bitmap);
    return kNoScreen;
  }
  *out = RegionCapture{ScreenImage{bitmap, static_cast<std::uint8_t*>(pixels), static_cast<std::int32_t>(w),
                                   static_cast<std::int32_t>(h), 32},
                       r.x1, r.y1, width, height};
  return 0;
}

}  // namespace zadized
