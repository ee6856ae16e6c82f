// Several monitors through the real DLL, on a display of two (run by
// run_monitors.sh): the primary, 1024 x 768 at (0, 0), and a second one,
// 800 x 600, to its left at (-800, 0). One picture painted over the whole
// virtual screen puts a block of its own colours on each monitor and
// magenta on the strip below the second monitor that no monitor covers.
// Each monitor and the virtual screen are held and searched, HeldScreenInfo
// gives their place, and CaptureScreen and an unheld search keep to the
// primary monitor's own pixels.
#include <zadized.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/bmp_bytes.h"
#include "harness.h"
#include "paint_screen.h"

using harness::Addr;
using harness::Arg32;

namespace {

constexpr int kLeft = -800, kWidth = 1824, kHeight = 768;  // the virtual screen
constexpr std::uint32_t kMagenta = 0xFF00FF;
constexpr std::int32_t kExact = 0x20000000;  // near colours, no step, no miss

std::vector<std::uint32_t> Block(std::uint32_t tint) {
  static const int kShape[30] = {1, 1, 2, 3, 3, 1, 1, 2, 2, 3, 1, 1, 2, 2, 1,
                                 1, 1, 3, 3, 1, 1, 2, 3, 3, 1, 3, 3, 2, 1, 2};
  std::vector<std::uint32_t> out;
  for (int v : kShape) out.push_back(v == 1 ? 0xA00000 + tint : v == 2 ? 0x00B000 + tint : 0x0000C0 + tint);
  return out;
}

std::string File(const std::string& name, int w, int h, const std::vector<std::uint32_t>& px) {
  const std::string path = harness::Scratch(name);
  CHECK(harness::WriteBytes(path, zadized::test::MakeBmp24(w, h, px)));
  return path;
}

// The picture of the virtual screen, top row first, in desktop coordinates.
struct Desk {
  std::vector<std::uint32_t> px = std::vector<std::uint32_t>(static_cast<std::size_t>(kWidth) * kHeight);
  std::uint32_t& at(int x, int y) { return px[static_cast<std::size_t>(y) * kWidth + (x - kLeft)]; }
  Desk() {
    for (int y = 0; y < kHeight; ++y)
      for (int x = kLeft; x < kLeft + kWidth; ++x)
        at(x, y) = x < 0 && y >= 600 ? kMagenta : harness::Tiles(x, y);
    Put(300, 200, Block(1));   // on the primary
    Put(-500, 100, Block(2));  // on the second monitor
  }
  void Put(int x, int y, const std::vector<std::uint32_t>& block) {
    for (int k = 0; k < 30; ++k) at(x + k % 6, y + k / 6) = block[static_cast<std::size_t>(k)];
  }
};

std::int32_t Hold(const char* source) { return static_cast<std::int32_t>(harness::Call(17, {Addr(source)})); }
std::int32_t Info(std::int32_t field) { return static_cast<std::int32_t>(harness::Call(19, {Arg32(field)})); }
std::int32_t At(int x, int y, int width) { return (y - 1) * width + (x - 1); }

// Printed as well as checked, so a run shows what the DLL answered.
void CheckInfo(std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height) {
  std::printf("    HeldScreenInfo 0-5: %d %d %d %d %d %d\n", Info(0), Info(1), Info(2), Info(3), Info(4),
              Info(5));
  CHECK_EQ(Info(0), left);
  CHECK_EQ(Info(1), top);
  CHECK_EQ(Info(2), width);
  CHECK_EQ(Info(3), height);
  CHECK_EQ(Info(4), 2);
}

TEST_CASE(EachMonitorAndTheVirtualScreen) {
  // Wine may take a moment to see the layout the display was given.
  for (int i = 0; i < 100 && GetSystemMetrics(SM_CMONITORS) < 2; ++i) Sleep(100);
  CHECK_EQ(GetSystemMetrics(SM_CMONITORS), 2);
  CHECK_EQ(GetSystemMetrics(SM_XVIRTUALSCREEN), kLeft);
  CHECK_EQ(GetSystemMetrics(SM_CXVIRTUALSCREEN), kWidth);
  Desk desk;
  CHECK(harness::ShowOnDesktop(kLeft, 0, kWidth, kHeight, desk.px));
  const std::string a = File("a.bmp", 6, 5, Block(1)), b = File("b.bmp", 6, 5, Block(2));
  const std::string black = File("black.bmp", 16, 16, std::vector<std::uint32_t>(256, 0));
  const auto find = [](const std::string& f, std::int32_t x1 = 0, std::int32_t y1 = 0) {
    const std::int32_t got = harness::Search(f, x1, y1, 100000, 100000, 0, kExact);
    std::printf("    SearchImage %s from (%d, %d): %d\n", f.substr(f.find_last_of("\\/") + 1).c_str(), x1, y1,
                got);
    return got;
  };
  const auto hold = [](const char* source) {
    const std::int32_t got = Hold(source);
    std::printf("  HoldScreen(\"%s\"): %d\n", source, got);
    return got;
  };

  // Nothing held: the primary, whose own pixels CaptureScreen shows.
  std::printf("  nothing held\n");
  CheckInfo(0, 0, 1024, 768);
  CHECK_EQ(Info(5), -1);
  CHECK_EQ(Info(-1), -1);
  CHECK_EQ(find(a), At(300, 200, 1024));
  CHECK_EQ(find(b), -1);
  ZadizedScreenImage live{};
  harness::CallAddress(2, {Addr(&live)});
  CHECK_EQ(live.width, 1024);
  CHECK_EQ(live.height, 768);
  int differing = 0;
  for (int y = 0; live.pixels != nullptr && y < 768; ++y)
    for (int x = 0; x < 1024; ++x) {
      const std::uint8_t* p = live.pixels + (static_cast<std::size_t>(767 - y) * 1024 + x) * 4;
      differing += static_cast<std::uint32_t>(p[0] | p[1] << 8 | p[2] << 16) != desk.at(x, y);
    }
  std::printf("  CaptureScreen: %d x %d, %d pixels differ from the primary's part of the picture\n",
              live.width, live.height, differing);
  CHECK_EQ(differing, 0);
  if (live.bitmap != nullptr) DeleteObject(static_cast<HGDIOBJ>(live.bitmap));

  // Monitor 1 is the primary; monitor 2 the one to its left, with positions
  // its own, encoded with its width.
  CHECK_EQ(hold("monitor:1"), 1024);
  CheckInfo(0, 0, 1024, 768);
  CHECK_EQ(find(a), At(300, 200, 1024));
  CHECK_EQ(hold("Monitor:2"), 800);
  CheckInfo(kLeft, 0, 800, 600);
  CHECK_EQ(find(b), At(300, 100, 800));
  CHECK_EQ(find(a), -1);

  // The virtual screen: both blocks, and black where no monitor is.
  CHECK_EQ(hold("virtual"), kWidth);
  CheckInfo(kLeft, 0, kWidth, kHeight);
  CHECK_EQ(find(a), At(1100, 200, kWidth));
  CHECK_EQ(find(b), At(300, 100, kWidth));
  CHECK_EQ(find(black, 0, 600), At(0, 600, kWidth));
  // A place found there, plus the picture's left and top, is on the desktop.
  const std::int32_t found = find(a);
  CHECK_EQ(found % kWidth + 1 + Info(0), 300);

  // No such monitor: -3, and the virtual screen stays held.
  for (const char* none : {"monitor:3", "monitor:0", "monitor:", "monitor:x"}) CHECK_EQ(hold(none), -3);
  CheckInfo(kLeft, 0, kWidth, kHeight);
  CHECK_EQ(static_cast<std::int32_t>(harness::Call("HeldScreenInfo", {Arg32(2)})), kWidth);
  CHECK_EQ(static_cast<std::int32_t>(harness::Call(18, {})), 0);
  CheckInfo(0, 0, 1024, 768);
}

}  // namespace

HARNESS_MAIN
