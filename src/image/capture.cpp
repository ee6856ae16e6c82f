#include "image/capture.h"

#include "platform/platform.h"

namespace zadized {

namespace {

// BITMAPINFO: the 40-byte info header and one colour entry.
constexpr std::uint32_t kInfoHeaderBytes = 40;
constexpr std::uint32_t kBitmapInfoBytes = kInfoHeaderBytes + 4;

void Put32(std::uint8_t* at, std::uint32_t v) {
  at[0] = static_cast<std::uint8_t>(v);
  at[1] = static_cast<std::uint8_t>(v >> 8);
  at[2] = static_cast<std::uint8_t>(v >> 16);
  at[3] = static_cast<std::uint8_t>(v >> 24);
}

ScreenImage Failed() { return ScreenImage{nullptr, nullptr, 0, 0, 32}; }

}  // namespace

ScreenImage CopyDisplay(void* display, std::int32_t x, std::int32_t y, std::int32_t width,
                        std::int32_t height) {
  const platform::Ops& os = platform::Current();
  auto* info = static_cast<std::uint8_t*>(os.allocZeroed(kBitmapInfoBytes));
  if (info == nullptr) {
    os.deleteDC(display);
    return Failed();
  }
  // The block is zero-filled: compression, sizes, resolutions, colour counts
  // and the colour entry all stay 0. A positive height makes it bottom-up.
  Put32(info + 0, kInfoHeaderBytes);
  Put32(info + 4, static_cast<std::uint32_t>(width));
  Put32(info + 8, static_cast<std::uint32_t>(height));
  info[12] = 1;   // planes
  info[14] = 32;  // bits per pixel

  void* pixels = nullptr;
  void* bitmap = os.createDIBSection(display, info, &pixels);
  // A capture whose copy did not happen would hand the search a black screen
  // as if it were real, so a failed memory context, selection or copy fails
  // the whole capture as well.
  bool copied = false;
  if (bitmap != nullptr && pixels != nullptr) {
    void* memory = os.createCompatibleDC(display);
    if (memory != nullptr) {
      if (os.selectObject(memory, bitmap) != nullptr) {
        copied = os.bitBlt(memory, 0, 0, width, height, display, x, y, platform::kSrcCopy) != 0;
      }
      // The bitmap survives the deletion of the context it is selected into.
      os.deleteDC(memory);
    }
  }
  os.deleteDC(display);
  os.freeBlock(info);
  if (!copied) {
    if (bitmap != nullptr) os.deleteObject(bitmap);
    return Failed();
  }
  return ScreenImage{bitmap, static_cast<std::uint8_t*>(pixels), width, height, 32};
}

ScreenImage CaptureScreen() {
  const platform::Ops& os = platform::Current();
  void* display = os.createDisplayDC();
  if (display == nullptr) return Failed();
  const std::int32_t width = os.getDeviceCaps(display, platform::kHorzRes);
  const std::int32_t height = os.getDeviceCaps(display, platform::kVertRes);
  if (width <= 0 || height <= 0) {
    os.deleteDC(display);
    return Failed();
  }
  return CopyDisplay(display, 0, 0, width, height);
}

}  // namespace zadized
