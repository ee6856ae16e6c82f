#include "search/held_screen.h"

#include "image/screenshot.h"
#include "platform/platform.h"
#include "search/rules.h"

namespace zadized {

namespace {

// The slot's block: the picture's record, in a block of its own so that the
// slot holds one pointer whatever the source.
void ReleaseHeld(void* block) {
  ReleaseScreenshot(*static_cast<const ScreenImage*>(block));
  platform::Current().freeBlock(block);
}

std::int32_t FailureCode(ScreenshotFailure failure) {
  return failure == ScreenshotFailure::kFileRefused ? kNoTemplate : kNoScreen;
}

}  // namespace

std::int32_t HoldScreen(const char* source) {
  const ScreenSource parsed = ParseScreenSource(source);
  // Out of memory for keeping the picture is answered as its source failing.
  const ScreenshotFailure unkept = parsed.kind == ScreenSourceKind::kFile
                                       ? ScreenshotFailure::kFileRefused
                                       : ScreenshotFailure::kScreenUnavailable;
  ScreenImage picture{};
  const ScreenshotFailure failure = TakeScreenshot(parsed, &picture);
  if (failure != ScreenshotFailure::kNone) return FailureCode(failure);
  auto* held = static_cast<ScreenImage*>(platform::Current().allocZeroed(sizeof(ScreenImage)));
  if (held == nullptr) {
    ReleaseScreenshot(picture);
    return FailureCode(unkept);
  }
  *held = picture;
  // The slot releases the picture held before, once the new one is in.
  if (!platform::SetThreadValue(platform::kHeldScreenSlot, held, ReleaseHeld)) {
    ReleaseHeld(held);
    return FailureCode(unkept);
  }
  return picture.width;
}

std::int32_t ReleaseScreen() {
  if (platform::ThreadValue(platform::kHeldScreenSlot) == nullptr) return kNotFound;
  platform::SetThreadValue(platform::kHeldScreenSlot, nullptr, nullptr);
  return 0;
}

const ScreenImage* HeldScreen() {
  return static_cast<const ScreenImage*>(platform::ThreadValue(platform::kHeldScreenSlot));
}

}  // namespace zadized
