// Key state and the millisecond clock through the real exports, against real
// keyboard input and the system's own clocks.
#include <string>
#include <vector>

#include "harness.h"

namespace {

using harness::Call;

// F23 and F24 exist on no ordinary keyboard, so pressing them disturbs nothing.
constexpr WORD kKey = VK_F24;
constexpr WORD kOtherKey = VK_F23;

std::uint32_t KeyDown(WORD vk) { return Call("AsyncKeyState", {harness::Arg32(vk)}); }
std::uint32_t AccTime() { return Call("GetAccTime", {}); }

bool Inject(WORD vk, bool down) {
  INPUT in;
  std::memset(&in, 0, sizeof in);
  in.type = INPUT_KEYBOARD;
  in.ki.wVk = vk;
  in.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
  return SendInput(1, &in, sizeof in) == 1;
}

void Pump() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
}

// Polls until the export answers `want`, for up to two seconds; every answer
// on the way must be 0 or 1.
bool Becomes(WORD vk, std::uint32_t want) {
  for (int i = 0; i < 400; ++i) {
    Pump();
    const std::uint32_t got = KeyDown(vk);
    if (got != 0 && got != 1) {
      harness::Fail(__FILE__, __LINE__, "AsyncKeyState answered " + std::to_string(got));
      return false;
    }
    if (got == want) return true;
    Sleep(5);
  }
  return false;
}

// A focused window of our own, so the injected keys have somewhere to go.
struct FocusWindow {
  HWND hwnd = CreateWindowExA(0, "STATIC", "zadized keys", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100,
                              nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  FocusWindow() {
    if (hwnd != nullptr) {
      SetForegroundWindow(hwnd);
      SetFocus(hwnd);
    }
    Pump();
  }
  ~FocusWindow() {
    if (hwnd != nullptr) DestroyWindow(hwnd);
  }
};

TEST_CASE(KeyReadsOneWhileHeldAndZeroAfterRelease) {
  FocusWindow window;
  CHECK(Becomes(kKey, 0));
  CHECK(Inject(kKey, true));
  CHECK(Becomes(kKey, 1));
  // The system agrees, and a key that was not pressed stays up.
  CHECK((GetAsyncKeyState(kKey) & 0x8000) != 0);
  CHECK_EQ(KeyDown(kOtherKey), 0u);
  CHECK(Inject(kKey, false));
  CHECK(Becomes(kKey, 0));
  CHECK((GetAsyncKeyState(kKey) & 0x8000) == 0);
}

TEST_CASE(APressThatEndedBeforeTheQueryReadsZero) {
  FocusWindow window;
  CHECK(Becomes(kKey, 0));
  CHECK(Inject(kKey, true));
  CHECK(Inject(kKey, false));
  Sleep(100);
  Pump();
  // Whatever the system says about the press in between, the key is up now.
  CHECK_EQ(KeyDown(kKey), 0u);
  CHECK_EQ(KeyDown(kKey), 0u);
}

using ClockFn = DWORD(WINAPI*)();

ClockFn SystemTimeGetTime() {
  HMODULE winmm = LoadLibraryA("winmm.dll");
  if (winmm == nullptr) return nullptr;
  return reinterpret_cast<ClockFn>(reinterpret_cast<void (*)()>(GetProcAddress(winmm, "timeGetTime")));
}

TEST_CASE(ClockIsTheMultimediaTimer) {
  const ClockFn timeGetTimeFn = SystemTimeGetTime();
  CHECK(timeGetTimeFn != nullptr);
  if (timeGetTimeFn == nullptr) return;
  // Each reading falls between two readings of the system's timer taken
  // around it, counted modulo 2^32.
  for (int i = 0; i < 50; ++i) {
    const std::uint32_t before = timeGetTimeFn();
    const std::uint32_t ours = AccTime();
    const std::uint32_t after = timeGetTimeFn();
    CHECK(ours - before <= after - before);
    if (i % 10 == 9) Sleep(3);
  }
  // The same count since the system started as the tick count.
  const std::uint32_t ours = AccTime();
  const std::uint32_t ticks = GetTickCount();
  CHECK(ours - ticks < 1000u || ticks - ours < 1000u);
}

TEST_CASE(ClockMovesWithTheSystemOverASleep) {
  const ClockFn timeGetTimeFn = SystemTimeGetTime();
  if (timeGetTimeFn == nullptr) return;  // reported above
  const std::uint32_t t0 = timeGetTimeFn();
  const std::uint32_t a0 = AccTime();
  const std::uint32_t k0 = GetTickCount();
  Sleep(200);
  const std::uint32_t t1 = timeGetTimeFn();
  const std::uint32_t a1 = AccTime();
  const std::uint32_t k1 = GetTickCount();
  const std::int32_t ours = static_cast<std::int32_t>(a1 - a0);
  const std::int32_t timer = static_cast<std::int32_t>(t1 - t0);
  const std::int32_t ticks = static_cast<std::int32_t>(k1 - k0);
  std::printf("  over Sleep(200): GetAccTime %d ms, timeGetTime %d ms, GetTickCount %d ms\n", ours, timer,
              ticks);
  CHECK(ours >= 195 && ours < 2000);
  CHECK(ours - timer >= -3 && ours - timer <= 3);
  // The tick count may advance in steps of up to about 16 ms.
  CHECK(ours - ticks >= -20 && ours - ticks <= 20);
}

}  // namespace

HARNESS_MAIN
