// Copying the whole display into a fresh 32-bit bottom-up bitmap.
#pragma once

#include "image/records.h"

namespace zadized {

// A new capture of the display; the caller owns `bitmap` and deletes it.
// When any step fails nothing created along the way is left alive and the
// result is {null, null, 0, 0, 32}, so a reader that stays within width and
// height can never touch the missing pixels.
ScreenImage CaptureScreen();

}  // namespace zadized
