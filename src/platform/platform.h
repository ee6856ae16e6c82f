// Every operation the library takes from the operating system goes through
// this table. The DLL fills it with the Win32 calls; native builds fill it
// with a portable implementation (heap blocks, stdio files, an in-memory
// virtual display), so the whole core runs and is tested on any host. Tests
// can install a table of their own to make any single operation fail.
#pragma once

#include <cstdint>

#if !defined(_WIN32)
#include <pthread.h>
#endif

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

// ---- Threads ----
//
// The library starts no thread of its own, but hosts call it from many at
// once. Per-thread values and a lock are all that takes; they are not in the
// Ops table because no test needs to make them fail.

// What each thread keeps between calls. Each slot holds one block that
// belongs to the calling thread; the block is handed to its release
// function when the thread ends, when the slot is set again, and when the
// library is unloaded.
enum ThreadSlot : int { kStringResultSlot = 0, kHeldScreenSlot = 1, kThreadSlotCount = 2 };

// The calling thread's value in `slot`; null until it sets one.
void* ThreadValue(ThreadSlot slot);

// Replaces the calling thread's value in `slot`: the previous value (if any, and
// if different) goes to the `release` it was set with. A null value empties the
// slot. Answers false (and changes nothing) when per-thread storage cannot be had;
// `value` then still belongs to the caller.
bool SetThreadValue(ThreadSlot slot, void* value, void (*release)(void*));

// Releases the calling thread's values (thread end) / every thread's values
// (library unload). Called by the DLL entry routine; natively by tests.
// ReleaseAllThreadValues must not run while another thread is inside the
// library: it empties that thread's slots under its feet.
void ReleaseThreadValues();
void ReleaseAllThreadValues();

// One word per thread for the length of a single call, owned by nobody and
// never released: how code called back without a context of its own (the
// PNG decoder's allocation hooks) finds the state of the call it serves.
// SetCallContext answers false when per-thread storage cannot be had.
void* CallContext();
bool SetCallContext(void* value);

// A reader-writer lock. All zero (static storage, or a value-initialised
// record) is an unlocked lock; it needs no teardown.
#if defined(_WIN32)
struct SharedLock {
  void* state;  // an SRWLOCK
};
#else
struct SharedLock {
  pthread_rwlock_t state = PTHREAD_RWLOCK_INITIALIZER;
};
#endif
void LockShared(SharedLock& lock);
void UnlockShared(SharedLock& lock);
void LockExclusive(SharedLock& lock);
void UnlockExclusive(SharedLock& lock);

}  // namespace zadized::platform
