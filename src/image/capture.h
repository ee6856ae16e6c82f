// Copying the whole display into a fresh 32-bit bottom-up bitmap.
#pragma once

#include <cstdint>

#include "image/records.h"
#include "platform/platform.h"

namespace zadized {

// A new capture of the display; the caller owns `bitmap` and deletes it.
// When any step fails nothing created along the way is left alive and the
// result is {null, null, 0, 0, 32}, so a reader that stays within width and
// height can never touch the missing pixels.
ScreenImage CaptureScreen();

// The copy behind CaptureScreen, for any part of the display: the width x
// height block at (x, y) of `display` into a new bitmap. Takes `display` over
// and releases it, after the memory context and before the description block,
// the order every capture makes its calls in. Fails as CaptureScreen does.
ScreenImage CopyDisplay(void* display, std::int32_t x, std::int32_t y, std::int32_t width,
                        std::int32_t height);

// A new capture of `area` of the desktop (desktop coordinates): each
// monitor's part of it as that monitor shows it, black wherever no monitor
// is. Fails as CaptureScreen does, and when no monitor meets the area.
ScreenImage CaptureDesktop(const platform::DesktopRect& area);

// Monitor `number` (1 the primary, then the others in the order the system
// lists them) into `out`; answers how many monitors there are, or 0 when
// there is no such monitor (`out` untouched).
std::int32_t MonitorArea(std::int32_t number, platform::DesktopRect* out);

}  // namespace zadized
