// Stop-gap until the per-thread values of the threads branch arrive: one
// value per slot and thread, released on request only. Deleted in the merge.
#include "platform/platform.h"

namespace zadized::platform {

namespace {
thread_local void* t_values[kThreadSlotCount];
thread_local void (*t_release[kThreadSlotCount])(void*);
}  // namespace

void* ThreadValue(ThreadSlot slot) { return t_values[slot]; }

bool SetThreadValue(ThreadSlot slot, void* value, void (*release)(void*)) {
  void* previous = t_values[slot];
  void (*previousRelease)(void*) = t_release[slot];
  t_values[slot] = value;
  t_release[slot] = value != nullptr ? release : nullptr;
  if (previous != nullptr && previous != value && previousRelease != nullptr) previousRelease(previous);
  return true;
}

void ReleaseThreadValues() {
  for (int s = 0; s < kThreadSlotCount; ++s) SetThreadValue(static_cast<ThreadSlot>(s), nullptr, nullptr);
}

void ReleaseAllThreadValues() { ReleaseThreadValues(); }

}  // namespace zadized::platform
