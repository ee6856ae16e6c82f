#include "image/capture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "image/pixel.h"
#include "platform/platform.h"
#include "platform/platform_portable.h"
#include "search/held_screen.h"
#include "search/rules.h"
#include "search_support.h"

namespace zadized {
namespace {

using platform::Live;

std::vector<std::string>& Calls() {
  static std::vector<std::string> calls;
  return calls;
}
const std::uint8_t* g_info = nullptr;
std::vector<std::uint8_t> g_infoCopy;
void* g_display = nullptr;
void* g_memory = nullptr;
void* g_bitmap = nullptr;

std::string Hex(const void* p) {
  return p == g_display  ? "display"
         : p == g_memory ? "memory"
         : p == g_bitmap ? "bitmap"
         : p == g_info   ? "info"
                         : "?";
}

// Every display and memory operation, recorded with the arguments that
// matter, then passed to the portable platform.
platform::Ops Recording() {
  platform::Ops ops = platform::Native();
  ops.allocZeroed = [](std::uint32_t bytes) {
    void* p = platform::Native().allocZeroed(bytes);
    g_info = static_cast<const std::uint8_t*>(p);
    Calls().push_back("allocZeroed " + std::to_string(bytes));
    return p;
  };
  ops.freeBlock = [](void* block) {
    Calls().push_back("freeBlock " + Hex(block));
    return platform::Native().freeBlock(block);
  };
  ops.createDisplayDC = []() {
    g_display = platform::Native().createDisplayDC();
    Calls().push_back("createDisplayDC");
    return g_display;
  };
  ops.getDeviceCaps = [](void* dc, std::int32_t index) {
    Calls().push_back("getDeviceCaps " + Hex(dc) + " " + std::to_string(index));
    return platform::Native().getDeviceCaps(dc, index);
  };
  ops.createDIBSection = [](void* dc, const void* info, void** pixels) {
    g_infoCopy.assign(static_cast<const std::uint8_t*>(info), static_cast<const std::uint8_t*>(info) + 44);
    g_bitmap = platform::Native().createDIBSection(dc, info, pixels);
    Calls().push_back("createDIBSection " + Hex(dc) + " " + Hex(info));
    return g_bitmap;
  };
  ops.createCompatibleDC = [](void* dc) {
    g_memory = platform::Native().createCompatibleDC(dc);
    Calls().push_back("createCompatibleDC " + Hex(dc));
    return g_memory;
  };
  ops.selectObject = [](void* dc, void* object) {
    Calls().push_back("selectObject " + Hex(dc) + " " + Hex(object));
    return platform::Native().selectObject(dc, object);
  };
  ops.bitBlt = [](void* dst, std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h, void* src,
                  std::int32_t sx, std::int32_t sy, std::uint32_t rop) {
    Calls().push_back("bitBlt " + Hex(dst) + " " + std::to_string(x) + "," + std::to_string(y) + " " +
                      std::to_string(w) + "x" + std::to_string(h) + " " + Hex(src) + " " +
                      std::to_string(sx) + "," + std::to_string(sy) + " " + std::to_string(rop));
    return platform::Native().bitBlt(dst, x, y, w, h, src, sx, sy, rop);
  };
  ops.deleteDC = [](void* dc) {
    Calls().push_back("deleteDC " + Hex(dc));
    return platform::Native().deleteDC(dc);
  };
  ops.releaseDisplayDC = [](void* dc) {
    Calls().push_back("releaseDisplayDC " + Hex(dc));
    return platform::Native().releaseDisplayDC(dc);
  };
  ops.deleteObject = [](void* object) {
    Calls().push_back("deleteObject " + Hex(object));
    return platform::Native().deleteObject(object);
  };
  return ops;
}

void ShowScreen(std::int32_t w, std::int32_t h, std::uint32_t seed) {
  std::vector<std::uint32_t> px(static_cast<std::size_t>(w) * h);
  for (std::size_t i = 0; i < px.size(); ++i)
    px[i] = (seed + static_cast<std::uint32_t>(i) * 0x010305u) & 0xFFFFFF;
  platform::SetVirtualScreen(w, h, px.data());
}

bool IsFailed(const ScreenImage& s) {
  return s.bitmap == nullptr && s.pixels == nullptr && s.width == 0 && s.height == 0 && s.bitCount == 32;
}

bool SameCounts(const platform::LiveCounts& a, const platform::LiveCounts& b) {
  return a.blocks == b.blocks && a.deviceContexts == b.deviceContexts && a.bitmaps == b.bitmaps;
}

TEST(CaptureScreen, MakesTheSystemCallsInOrderWithTheirArguments) {
  ShowScreen(5, 3, 0x10);
  Calls().clear();
  const platform::Ops ops = Recording();
  platform::Override(&ops);
  const ScreenImage s = CaptureScreen();
  platform::Override(nullptr);
  const std::string rop = std::to_string(0x00CC0020u);
  EXPECT_EQ(Calls(), (std::vector<std::string>{
                         "createDisplayDC", "getDeviceCaps display 8", "getDeviceCaps display 10",
                         "allocZeroed 44", "createDIBSection display info", "createCompatibleDC display",
                         "selectObject memory bitmap", "bitBlt memory 0,0 5x3 display 0,0 " + rop,
                         "deleteDC memory", "releaseDisplayDC display", "freeBlock info"}));
  // The description: size 40, width, positive height, 1 plane, 32 bits; the
  // rest of the info header and the colour entry zero.
  ASSERT_EQ(g_infoCopy.size(), 44u);
  std::vector<std::uint8_t> expected(44, 0);
  expected[0] = 40;
  expected[4] = 5;
  expected[8] = 3;
  expected[12] = 1;
  expected[14] = 32;
  EXPECT_EQ(g_infoCopy, expected);
  EXPECT_EQ(s.bitmap, g_bitmap);
  platform::Native().deleteObject(s.bitmap);
}

TEST(CaptureScreen, ReadsBackTheDisplayTopRowLast) {
  const std::vector<std::uint32_t> px = {0x112233, 0x445566, 0x778899,  //
                                         0xAABBCC, 0xDDEEFF, 0x010203};
  platform::SetVirtualScreen(3, 2, px.data());
  const platform::LiveCounts before = Live();
  const ScreenImage s = CaptureScreen();
  ASSERT_NE(s.pixels, nullptr);
  EXPECT_EQ(s.width, 3);
  EXPECT_EQ(s.height, 2);
  EXPECT_EQ(s.bitCount, 32);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x)
      EXPECT_EQ(ReadPixel(s.pixels, x, y, 12, 2, 4), px[y * 3 + x]) << x << "," << y;
  // Row 0 of the screen is the last stored row.
  EXPECT_EQ(s.pixels[12], 0x33);
  EXPECT_EQ(s.pixels[14], 0x11);
  EXPECT_EQ(MaskPixel(s.pixels + 12 + 4, 3), 0x445566u);
  EXPECT_EQ(MaskPixel(s.pixels, 3), 0xAABBCCu);
  // Nothing but the bitmap outlives the call; deleting it releases all.
  EXPECT_EQ(Live().blocks, before.blocks);
  EXPECT_EQ(Live().deviceContexts, before.deviceContexts);
  EXPECT_EQ(Live().bitmaps, before.bitmaps + 1);
  EXPECT_EQ(platform::Native().deleteObject(s.bitmap), 1);
  EXPECT_TRUE(SameCounts(Live(), before));
}

// Two monitors as a desk has them: the primary 6 x 4 at (0, 0), a second
// 4 x 3 to its left at (-4, 0); the picture of the 10 x 4 virtual screen
// has a pixel below the second monitor that no monitor covers.
TEST(CaptureDesktop, EachMonitorAndTheVirtualScreenShowTheirOwnPixels) {
  ShowScreen(10, 4, 0x40);
  const platform::DesktopRect desk[2] = {{0, 0, 6, 4}, {-4, 0, 4, 3}};
  platform::SetVirtualMonitors(desk, 2);
  const auto picture = [](std::int32_t x, std::int32_t y) {  // desktop coordinates
    return (0x40u + static_cast<std::uint32_t>(y * 10 + x + 4) * 0x010305u) & 0xFFFFFF;
  };
  const auto same = [&](const ScreenImage& s, const platform::DesktopRect& at, bool blackBelowSecond) {
    ASSERT_NE(s.pixels, nullptr);
    ASSERT_EQ(s.width, at.width);
    ASSERT_EQ(s.height, at.height);
    for (std::int32_t y = 0; y < at.height; ++y)
      for (std::int32_t x = 0; x < at.width; ++x) {
        const std::int32_t dx = at.left + x, dy = at.top + y;
        const std::uint32_t want = blackBelowSecond && dx < 0 && dy >= 3 ? 0u : picture(dx, dy);
        EXPECT_EQ(ReadPixel(s.pixels, x, y, at.width * 4, at.height, 4), want) << dx << "," << dy;
      }
  };
  const platform::LiveCounts before = Live();
  platform::DesktopRect m{};
  EXPECT_EQ(MonitorArea(2, &m), 2);
  EXPECT_EQ(m.left, -4);
  EXPECT_EQ(MonitorArea(3, &m), 0);
  EXPECT_EQ(MonitorArea(0, &m), 0);
  const ScreenImage primary = CaptureScreen(), second = CaptureDesktop(desk[1]);
  const platform::DesktopRect all = platform::Current().virtualScreen();
  EXPECT_EQ(all.left, -4);
  EXPECT_EQ(all.width, 10);
  const ScreenImage whole = CaptureDesktop(all);
  same(primary, desk[0], false);
  same(second, desk[1], false);
  same(whole, all, true);
  for (const ScreenImage& s : {primary, second, whole}) platform::Native().deleteObject(s.bitmap);
  EXPECT_TRUE(SameCounts(Live(), before));
  // An area no monitor meets is refused, not shown black.
  EXPECT_TRUE(IsFailed(CaptureDesktop(platform::DesktopRect{-4, 3, 4, 1})));
  // Held, each says where it lies; a monitor past the last keeps the hold.
  const auto info = [] {
    std::vector<std::int32_t> v;
    for (std::int32_t f = -1; f <= 5; ++f) v.push_back(HeldScreenInfo(f));
    return v;
  };
  EXPECT_EQ(info(), (std::vector<std::int32_t>{-1, 0, 0, 6, 4, 2, -1}));
  EXPECT_EQ(HoldScreen("monitor:2"), 4);
  EXPECT_EQ(info(), (std::vector<std::int32_t>{-1, -4, 0, 4, 3, 2, -1}));
  EXPECT_EQ(HoldScreen("VIRTUAL"), 10);
  EXPECT_EQ(HoldScreen("monitor:3"), kNoScreen);
  EXPECT_EQ(info(), (std::vector<std::int32_t>{-1, -4, 0, 10, 4, 2, -1}));
  EXPECT_EQ(ReleaseScreen(), 0);
  EXPECT_TRUE(SameCounts(Live(), before));
  platform::SetVirtualMonitors(nullptr, 0);
}

TEST(CaptureScreen, TwoCallsGiveTwoBitmaps) {
  ShowScreen(4, 4, 7);
  const platform::LiveCounts before = Live();
  const ScreenImage a = CaptureScreen();
  const ScreenImage b = CaptureScreen();
  ASSERT_NE(a.bitmap, nullptr);
  ASSERT_NE(b.bitmap, nullptr);
  EXPECT_NE(a.bitmap, b.bitmap);
  EXPECT_NE(a.pixels, b.pixels);
  EXPECT_EQ(std::memcmp(a.pixels, b.pixels, 4 * 4 * 4), 0);
  EXPECT_EQ(Live().bitmaps, before.bitmaps + 2);
  platform::Native().deleteObject(a.bitmap);
  platform::Native().deleteObject(b.bitmap);
  EXPECT_TRUE(SameCounts(Live(), before));
}

// Each way the capture can fail: a failed record and nothing left alive.
struct Failure {
  const char* name;
  void (*install)(platform::Ops&);
};

TEST(CaptureScreen, EveryFailureGivesAnEmptyRecordAndLeaksNothing) {
  static std::vector<Failure> failures = {
      {"no display context", [](platform::Ops& o) { o.createDisplayDC = []() -> void* { return nullptr; }; }},
      {"zero width",
       [](platform::Ops& o) {
         o.getDeviceCaps = [](void* dc, std::int32_t i) {
           return i == platform::kHorzRes ? 0 : platform::Native().getDeviceCaps(dc, i);
         };
       }},
      {"negative height",
       [](platform::Ops& o) {
         o.getDeviceCaps = [](void* dc, std::int32_t i) {
           return i == platform::kVertRes ? -768 : platform::Native().getDeviceCaps(dc, i);
         };
       }},
      {"no description block",
       [](platform::Ops& o) { o.allocZeroed = [](std::uint32_t) -> void* { return nullptr; }; }},
      {"no bitmap",
       [](platform::Ops& o) {
         o.createDIBSection = [](void*, const void*, void**) -> void* { return nullptr; };
       }},
      {"bitmap without pixel address",
       [](platform::Ops& o) {
         o.createDIBSection = [](void* dc, const void* info, void** pixels) {
           void* b = platform::Native().createDIBSection(dc, info, pixels);
           *pixels = nullptr;
           return b;
         };
       }},
      {"no memory context",
       [](platform::Ops& o) { o.createCompatibleDC = [](void*) -> void* { return nullptr; }; }},
      {"selection refused",
       [](platform::Ops& o) { o.selectObject = [](void*, void*) -> void* { return nullptr; }; }},
      {"copy refused",
       [](platform::Ops& o) {
         o.bitBlt = [](void*, std::int32_t, std::int32_t, std::int32_t, std::int32_t, void*, std::int32_t,
                       std::int32_t, std::uint32_t) { return 0; };
       }},
  };
  ShowScreen(6, 5, 3);
  for (const Failure& f : failures) {
    const platform::LiveCounts before = Live();
    test::PlatformOverride failing;
    f.install(failing.ops);
    failing.Install();
    const ScreenImage s = CaptureScreen();
    platform::Override(nullptr);
    EXPECT_TRUE(IsFailed(s)) << f.name;
    EXPECT_TRUE(SameCounts(Live(), before))
        << f.name << ": blocks " << Live().blocks - before.blocks << ", DCs "
        << Live().deviceContexts - before.deviceContexts << ", bitmaps " << Live().bitmaps - before.bitmaps;
  }
}

TEST(CaptureScreen, NoDisplayGivesAnEmptyRecord) {
  platform::SetVirtualScreen(0, 0, nullptr);
  const platform::LiveCounts before = Live();
  EXPECT_TRUE(IsFailed(CaptureScreen()));
  EXPECT_TRUE(SameCounts(Live(), before));
}

}  // namespace
}  // namespace zadized
