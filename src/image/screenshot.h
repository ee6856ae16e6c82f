// Pictures that stand in for the screen: the live display or a saved
// screenshot, in the form a capture has (32-bit bottom-up rows of width * 4
// bytes, blue, green, red and a fourth byte of 0), which is the form the
// scan reads, so a search on one converts nothing.
#pragma once

#include <cstdint>

#include "image/records.h"
#include "platform/platform.h"

namespace zadized {

// Where a picture comes from. The source string is read in one place
// (ParseScreenSource), so a new kind of source adds a spelling there and a
// capture in TakeScreenshot, nothing else.
enum class ScreenSourceKind {
  kPrimaryScreen,  // null or "": the whole primary display
  kFile,           // any other text: a BMP or PNG file of that name
  kMonitor,        // "monitor:N" (any case): one display of several, N from 1
  kVirtualScreen,  // "virtual" (any case): every display at once
};

struct ScreenSource {
  ScreenSourceKind kind;
  const char* fileName;  // kFile: the text itself
  std::int32_t monitor;  // kMonitor: N, or 0 when the text after the colon is no number from 1
};

ScreenSource ParseScreenSource(const char* text);

// Why a screenshot could not be had.
enum class ScreenshotFailure {
  kNone,
  kFileRefused,        // the file is missing or refused, or its picture is too large to hold
  kScreenUnavailable,  // the display could not be captured, or the source is not available
};

// The source's picture in *out, which the caller gives back with
// ReleaseScreenshot. A file is read through the template loader's code with
// its rules and refusals (LoadPictureFile) but not cached; a PNG file's alpha
// plays no part. Each pixel holds the colour a display showing the picture
// would show: 24- and 32-bit pixels their blue, green and red bytes, 16-bit
// pixels each 5-bit channel widened as c << 3 | c >> 2, 8-bit pixels the
// colour-table entry the template loader reads, and a 1- or 4-bit file,
// whose pixels the loader reads as the first three bytes of its pixel data,
// that one colour. On failure *out is {null, null, 0, 0, 32} and nothing is
// left allocated.
// `place`, when given, receives where the picture lies on the desktop: a
// monitor's or the virtual screen's rectangle, and (0, 0, width, height)
// for the primary display or a file.
ScreenshotFailure TakeScreenshot(const ScreenSource& source, ScreenImage* out,
                                 platform::DesktopRect* place = nullptr);

// A file's picture as TakeScreenshot reads it.
ScreenshotFailure LoadScreenshot(const char* fileName, ScreenImage* out);

// Gives back what TakeScreenshot handed out: a capture's bitmap, or a file's
// block. Nothing for a picture without pixels.
void ReleaseScreenshot(const ScreenImage& picture);

// The largest picture a file may hold in capture form: 256 MiB, as much as
// the largest BMP form of a PNG file, an 8192 x 8192 screen; a file whose
// picture needs more is refused, since a header of a few bytes can ask for
// any size.
constexpr std::uint64_t kLargestScreenshot = std::uint64_t{256} << 20;

}  // namespace zadized
