#include "image/capture.h"

#include <cstring>

namespace zadized {

namespace {

// BITMAPINFO: the 40-byte info header and one colour entry.
constexpr std::uint32_t kInfoHeaderBytes = 40;
constexpr std::uint32_t kBitmapInfoBytes = kInfoHeaderBytes + 4;
constexpr std::int32_t kMostMonitors = 32;

void Put32(std::uint8_t* at, std::uint32_t v) {
  at[0] = static_cast<std::uint8_t>(v);
  at[1] = static_cast<std::uint8_t>(v >> 8);
  at[2] = static_cast<std::uint8_t>(v >> 16);
  at[3] = static_cast<std::uint8_t>(v >> 24);
}

ScreenImage Failed() { return ScreenImage{nullptr, nullptr, 0, 0, 32}; }

// One block of the display to copy into the new bitmap.
struct Piece {
  std::int32_t toX, toY;      // in the bitmap
  std::int32_t fromX, fromY;  // on the display
  std::int32_t width, height;
};

// A width x height bitmap filled with `pieces` of `display`, which it takes
// over and releases, after the memory context and before the description
// block, the order every capture makes its calls in. A bitmap that is not
// wholly covered by pieces starts black.
ScreenImage Compose(void* display, std::int32_t width, std::int32_t height, const Piece* pieces,
                    std::int32_t count, bool covered) {
  const platform::Ops& os = platform::Current();
  auto* info = static_cast<std::uint8_t*>(os.allocZeroed(kBitmapInfoBytes));
  if (info == nullptr) {
    os.releaseDisplayDC(display);
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
    if (!covered)
      std::memset(pixels, 0, static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
    void* memory = os.createCompatibleDC(display);
    if (memory != nullptr) {
      copied = os.selectObject(memory, bitmap) != nullptr;
      for (std::int32_t i = 0; copied && i < count; ++i) {
        const Piece& p = pieces[i];
        // The bitmap is bottom-up, but a context addresses it from the top.
        copied = os.bitBlt(memory, p.toX, p.toY, p.width, p.height, display, p.fromX, p.fromY,
                           platform::kSrcCopy) != 0;
      }
      // The bitmap survives the deletion of the context it is selected into.
      os.deleteDC(memory);
    }
  }
  os.releaseDisplayDC(display);
  os.freeBlock(info);
  if (!copied) {
    if (bitmap != nullptr) os.deleteObject(bitmap);
    return Failed();
  }
  return ScreenImage{bitmap, static_cast<std::uint8_t*>(pixels), width, height, 32};
}

// The part of `m` inside `area`, as a piece of a bitmap of `area`; false
// when they do not meet.
bool Overlap(const platform::DesktopRect& area, const platform::DesktopRect& m, Piece* out) {
  const std::int64_t left = m.left > area.left ? m.left : area.left;
  const std::int64_t top = m.top > area.top ? m.top : area.top;
  const std::int64_t mr = static_cast<std::int64_t>(m.left) + m.width,
                     ar = static_cast<std::int64_t>(area.left) + area.width;
  const std::int64_t mb = static_cast<std::int64_t>(m.top) + m.height,
                     ab = static_cast<std::int64_t>(area.top) + area.height;
  const std::int64_t right = mr < ar ? mr : ar, bottom = mb < ab ? mb : ab;
  if (right <= left || bottom <= top) return false;
  *out = Piece{static_cast<std::int32_t>(left - area.left),
               static_cast<std::int32_t>(top - area.top),
               static_cast<std::int32_t>(left),
               static_cast<std::int32_t>(top),
               static_cast<std::int32_t>(right - left),
               static_cast<std::int32_t>(bottom - top)};
  return true;
}

}  // namespace

ScreenImage CopyDisplay(void* display, std::int32_t x, std::int32_t y, std::int32_t width,
                        std::int32_t height) {
  const Piece whole{0, 0, x, y, width, height};
  return Compose(display, width, height, &whole, 1, true);
}

ScreenImage CaptureScreen() {
  const platform::Ops& os = platform::Current();
  void* display = os.createDisplayDC();
  if (display == nullptr) return Failed();
  const std::int32_t width = os.getDeviceCaps(display, platform::kHorzRes);
  const std::int32_t height = os.getDeviceCaps(display, platform::kVertRes);
  if (width <= 0 || height <= 0) {
    os.releaseDisplayDC(display);
    return Failed();
  }
  return CopyDisplay(display, 0, 0, width, height);
}

ScreenImage CaptureDesktop(const platform::DesktopRect& area) {
  const platform::Ops& os = platform::Current();
  if (area.width <= 0 || area.height <= 0) return Failed();
  platform::DesktopRect monitors[kMostMonitors];
  const std::int32_t listed = os.listMonitors(monitors, kMostMonitors);
  Piece pieces[kMostMonitors];
  std::int32_t count = 0;
  std::int64_t covered = 0;
  for (std::int32_t i = 0; i < listed && i < kMostMonitors; ++i) {
    if (!Overlap(area, monitors[i], &pieces[count])) continue;
    covered += static_cast<std::int64_t>(pieces[count].width) * pieces[count].height;
    ++count;
  }
  if (count == 0) return Failed();
  void* display = os.createDisplayDC();
  if (display == nullptr) return Failed();
  // Monitors do not overlap, so pieces that add up to the area cover it.
  const bool whole = covered == static_cast<std::int64_t>(area.width) * area.height;
  return Compose(display, area.width, area.height, pieces, count, whole);
}

std::int32_t MonitorArea(std::int32_t number, platform::DesktopRect* out) {
  platform::DesktopRect monitors[kMostMonitors];
  const std::int32_t listed = platform::Current().listMonitors(monitors, kMostMonitors);
  if (number < 1 || number > listed || number > kMostMonitors) return 0;
  *out = monitors[number - 1];
  return listed;
}

}  // namespace zadized
