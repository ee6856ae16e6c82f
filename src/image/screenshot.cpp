#include "image/screenshot.h"

#include "image/bitmap_cache.h"
#include "image/capture.h"
#include "image/pixel.h"
#include "platform/platform.h"

namespace zadized {

namespace {

ScreenImage Nothing() { return ScreenImage{nullptr, nullptr, 0, 0, 32}; }

bool SameLetters(const char* text, const char* lower, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    const char c = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] + 32) : text[i];
    if (c != lower[i]) return false;
  }
  return true;
}

// "N" of "monitor:N": a decimal number from 1, else 0.
std::int32_t MonitorNumber(const char* digits) {
  std::int64_t n = 0;
  if (*digits == '\0') return 0;
  for (; *digits != '\0'; ++digits) {
    if (*digits < '0' || *digits > '9') return 0;
    n = n * 10 + (*digits - '0');
    if (n > 0x7FFFFFFF) return 0;
  }
  return static_cast<std::int32_t>(n);
}

// One stored row of the file's picture into one row of the capture form.
void ConvertRow(const BitmapRecord& r, const std::uint8_t* src, const ColorValue* table, std::uint8_t* dst) {
  const std::int32_t bpp = BytesPerPixel(r.bitCount);
  for (std::int32_t x = 0; x < r.width; ++x, dst += 4) {
    ColorValue v;
    if (bpp == 0) {
      v = MaskPixel(r.pixels, 3);
    } else if (bpp == 1) {
      v = table[src[x]];
    } else if (bpp == 2) {
      v = Widen555(MaskPixel(src + 2 * x, 2));
    } else {
      v = MaskPixel(src + static_cast<std::int64_t>(x) * bpp, 3);
    }
    dst[0] = static_cast<std::uint8_t>(v);
    dst[1] = static_cast<std::uint8_t>(v >> 8);
    dst[2] = static_cast<std::uint8_t>(v >> 16);
  }
}

// The loaded file's picture in a new block of capture form, or nothing.
ScreenImage ToCaptureForm(const BitmapRecord& r) {
  const std::uint64_t rowBytes = static_cast<std::uint64_t>(r.width) * 4;
  const std::uint64_t bytes = rowBytes * static_cast<std::uint64_t>(r.height);
  if (bytes > kLargestScreenshot) return Nothing();
  auto* block =
      static_cast<std::uint8_t*>(platform::Current().allocZeroed(static_cast<std::uint32_t>(bytes)));
  if (block == nullptr) return Nothing();
  ColorValue table[256] = {};
  if (BytesPerPixel(r.bitCount) == 1) {
    ResolveColorTable(r, table);
    for (ColorValue& v : table) v &= 0xFFFFFFu;
  }
  const std::int64_t stride = RowStride(r.width, BytesPerPixel(r.bitCount));
  // Both are stored bottom-up, so stored row k of the file is row k of the form.
  for (std::int32_t k = 0; k < r.height; ++k)
    ConvertRow(r, r.pixels + k * stride, table, block + k * rowBytes);
  return ScreenImage{nullptr, block, r.width, r.height, 32};
}

}  // namespace

ScreenSource ParseScreenSource(const char* text) {
  if (text == nullptr || text[0] == '\0') return ScreenSource{ScreenSourceKind::kPrimaryScreen, nullptr, 0};
  const char* end = text;
  while (*end != '\0') ++end;
  const auto length = static_cast<std::size_t>(end - text);
  if (length == 7 && SameLetters(text, "virtual", 7))
    return ScreenSource{ScreenSourceKind::kVirtualScreen, nullptr, 0};
  if (length >= 8 && SameLetters(text, "monitor:", 8))
    return ScreenSource{ScreenSourceKind::kMonitor, nullptr, MonitorNumber(text + 8)};
  return ScreenSource{ScreenSourceKind::kFile, text, 0};
}

ScreenshotFailure LoadScreenshot(const char* fileName, ScreenImage* out) {
  *out = Nothing();
  const Template loaded = LoadPictureFile(fileName);
  if (loaded.record.fileSize == -1) return ScreenshotFailure::kFileRefused;
  *out = ToCaptureForm(loaded.record);
  // The opacity lies in the file's block and goes with it.
  platform::Current().freeBlock(const_cast<std::uint8_t*>(loaded.record.fileData));
  return out->pixels != nullptr ? ScreenshotFailure::kNone : ScreenshotFailure::kFileRefused;
}

ScreenshotFailure TakeScreenshot(const ScreenSource& source, ScreenImage* out, platform::DesktopRect* place) {
  *out = Nothing();
  platform::DesktopRect area{0, 0, 0, 0};
  switch (source.kind) {
    case ScreenSourceKind::kFile: {
      const ScreenshotFailure failure = LoadScreenshot(source.fileName, out);
      if (failure != ScreenshotFailure::kNone) return failure;
      break;
    }
    case ScreenSourceKind::kPrimaryScreen:
      *out = CaptureScreen();
      break;
    case ScreenSourceKind::kMonitor:
      if (MonitorArea(source.monitor, &area) == 0) return ScreenshotFailure::kScreenUnavailable;
      *out = CaptureDesktop(area);
      break;
    case ScreenSourceKind::kVirtualScreen:
      area = platform::Current().virtualScreen();
      *out = CaptureDesktop(area);
      break;
  }
  if (out->pixels == nullptr) return ScreenshotFailure::kScreenUnavailable;
  if (place != nullptr) *place = platform::DesktopRect{area.left, area.top, out->width, out->height};
  return ScreenshotFailure::kNone;
}

void ReleaseScreenshot(const ScreenImage& picture) {
  const platform::Ops& os = platform::Current();
  if (picture.bitmap != nullptr) {
    os.deleteObject(picture.bitmap);
  } else if (picture.pixels != nullptr) {
    os.freeBlock(const_cast<std::uint8_t*>(picture.pixels));
  }
}

}  // namespace zadized
