// A picture held in place of the screen by one thread: while it holds one,
// that thread's searches scan it instead of capturing the display, so many
// searches see one frame and pay for one capture, or none (a saved
// screenshot).
#pragma once

#include <cstdint>

#include "image/records.h"

namespace zadized {

// Takes the picture of `source` (ParseScreenSource: null or "" the primary
// display, otherwise a BMP or PNG file) and holds it for the calling thread
// in place of any it held. Answers its width, or kNoTemplate when the file
// cannot be loaded and kNoScreen when the display cannot be captured (or the
// source is not available); the picture held before then stays held.
std::int32_t HoldScreen(const char* source);

// Drops the calling thread's picture: 0, or -1 when it held none.
std::int32_t ReleaseScreen();

// The calling thread's picture, in capture form; null when it holds none.
const ScreenImage* HeldScreen();

// Where the calling thread's picture lies on the desktop: field 0 its left,
// 1 its top, 2 its width, 3 its height (0, 0 and its size for a file or the
// primary display); the primary display's when it holds none, as the
// search then sees it. Field 4 is the number of monitors now; any other
// field answers -1.
std::int32_t HeldScreenInfo(std::int32_t field);

}  // namespace zadized
