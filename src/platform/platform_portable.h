// Controls of the portable platform, for native tests, tools and benchmarks:
// what the virtual display shows, which keys are down, and counts of what is
// alive, so that a leak shows up as a number.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace zadized::platform {

// Shows `pixels` (top row first, 0x00RRGGBB per pixel, `width` * `height`
// values, copied) on the virtual display. A size of 0 leaves no display:
// creating its device context then fails.
void SetVirtualScreen(std::int32_t width, std::int32_t height, const std::uint32_t* pixels);

// Lays the virtual display out as these monitors (desktop coordinates, the
// primary first); the picture of SetVirtualScreen then shows the rectangle
// around them, its top-left pixel at their least left and top. No monitors
// (the default) is one primary monitor showing the whole picture.
void SetVirtualMonitors(const DesktopRect* monitors, std::int32_t count);

void SetKeyDown(std::int32_t virtualKey, bool down);

struct LiveCounts {
  std::int64_t blocks;          // global-memory blocks not yet freed
  std::int64_t deviceContexts;  // display and memory contexts not yet deleted
  std::int64_t bitmaps;         // bitmaps not yet deleted
  std::int64_t openFiles;
};
LiveCounts Live();

}  // namespace zadized::platform
