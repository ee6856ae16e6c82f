// Every operation the library takes from the operating system goes through
// this table. The DLL fills it with the Win32 calls; native builds fill it
// with a portable implementation (heap blocks, stdio files, an in-memory
// virtual display), so the whole core runs and is tested on any host. Tests
// can install a table of their own to make any single operation fail.
#pragma once

#include <cstdint>

namespace zadized::platform {

// Values the library passes through unchanged to the display operations.
constexpr std::int32_t kHorzRes = 8;   // HORZRES
constexpr std::int32_t kVertRes = 10;  // VERTRES
constexpr std::uint32_t kSrcCopy = 0x00CC0020u;
constexpr std::uint32_t kZeroInit = 0x40u;  // GMEM_ZEROINIT, fixed memory

// A rectangle of the desktop, in the coordinates the system gives monitors:
// (0, 0) is the primary monitor's top-left corner, so monitors to its left
// or above it have negative coordinates.
struct DesktopRect {
  std::int32_t left;
  std::int32_t top;
  std::int32_t width;
  std::int32_t height;
};

struct Ops {
  // Global memory: fixed, zero-filled blocks. freeBlock answers null on
  // success and the block itself when the system refuses.
  void* (*allocZeroed)(std::uint32_t bytes);
  void* (*freeBlock)(void* block);

  // Files: open an existing file read-only, others keep read and write access.
  // openExisting answers null on failure; fileLength answers -1 when unknown;
  // readFile answers the number of bytes delivered.
  void* (*openExisting)(const char* name);
  std::int64_t (*fileLength)(void* file);
  std::uint32_t (*readFile)(void* file, void* buffer, std::uint32_t bytes);
  void (*closeFile)(void* file);

  // Display capture, in the terms of the Windows graphics interface.
  // bitmapInfo is a BITMAPINFO (info header and one colour entry). The
  // display context covers the whole desktop in desktop coordinates; its
  // resolution is the primary monitor's. It goes back through
  // releaseDisplayDC, every other context through deleteDC.
  void* (*createDisplayDC)();
  std::int32_t (*releaseDisplayDC)(void* dc);
  std::int32_t (*getDeviceCaps)(void* dc, std::int32_t index);
  void* (*createDIBSection)(void* dc, const void* bitmapInfo, void** pixels);
  void* (*createCompatibleDC)(void* dc);
  void* (*selectObject)(void* dc, void* object);
  std::int32_t (*bitBlt)(void* dst, std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h, void* src,
                         std::int32_t sx, std::int32_t sy, std::uint32_t rop);
  std::int32_t (*deleteDC)(void* dc);
  std::int32_t (*deleteObject)(void* object);

  // The monitors: how many there are now, and the first `capacity` of
  // them, the primary first and then the others in the order the system
  // lists them. The virtual screen is the rectangle around all of them.
  std::int32_t (*listMonitors)(DesktopRect* out, std::int32_t capacity);
  DesktopRect (*virtualScreen)();

  // Keyboard and clock.
  std::int16_t (*getAsyncKeyState)(std::int32_t virtualKey);
  std::uint32_t (*timeGetTime)();
};

// The operations in force: the build's own, unless a test installed others.
const Ops& Current();

// The build's own implementation (Win32 in the DLL, portable elsewhere).
const Ops& Native();

// Installs `ops` until the next call; null restores Native(). For tests.
void Override(const Ops* ops);

}  // namespace zadized::platform
