#include "search/held_screen.h"

#include "image/screenshot.h"
#include "platform/platform.h"
#include "search/rules.h"

namespace zadized {

namespace {

// The slot's block: the picture's record and where it lies on the desktop,
// in a block of its own so that the slot holds one pointer whatever the
// source.
struct Held {
  ScreenImage picture;
  platform::DesktopRect place;
};

void ReleaseHeld(void* block) {
  ReleaseScreenshot(static_cast<const Held*>(block)->picture);
  platform::Current().freeBlock(block);
}

const Held* HeldBlock() { return static_cast<const Held*>(platform::ThreadValue(platform::kHeldScreenSlot)); }

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
  platform::DesktopRect place{};
  const ScreenshotFailure failure = TakeScreenshot(parsed, &picture, &place);
  if (failure != ScreenshotFailure::kNone) return FailureCode(failure);
  auto* held = static_cast<Held*>(platform::Current().allocZeroed(sizeof(Held)));
  if (held == nullptr) {
    ReleaseScreenshot(picture);
    return FailureCode(unkept);
  }
  *held = Held{picture, place};
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
  const Held* held = HeldBlock();
  return held != nullptr ? &held->picture : nullptr;
}

std::int32_t HeldScreenInfo(std::int32_t field) {
  const platform::Ops& os = platform::Current();
  if (field == 4) return os.listMonitors(nullptr, 0);
  if (field < 0 || field > 3) return kNotFound;
  platform::DesktopRect place{0, 0, 0, 0};
  if (const Held* held = HeldBlock()) {
    place = held->place;
  } else {
    // The primary display, as a search without a held picture sees it.
    void* display = os.createDisplayDC();
    if (display != nullptr) {
      place.width = os.getDeviceCaps(display, platform::kHorzRes);
      place.height = os.getDeviceCaps(display, platform::kVertRes);
      os.releaseDisplayDC(display);
    }
  }
  const std::int32_t fields[4] = {place.left, place.top, place.width, place.height};
  return fields[field];
}

}  // namespace zadized
