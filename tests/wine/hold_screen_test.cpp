// HoldScreen (ordinal 17) and ReleaseScreen (ordinal 18) through the real
// DLL: a held screenshot is searched while the screen shows something else,
// and answers as the literal reference scan does on that picture; a held
// capture keeps its answers after the screen changes, and the new picture is
// seen once it is released; two threads hold different pictures at once; and
// the codes, with the previous picture kept after a failure.
#include <zadized.h>

#include <string>
#include <vector>

#include "common/bmp_bytes.h"
#include "harness.h"
#include "paint_screen.h"
#include "png_encode.h"
#include "reference/literal_scan.cpp"  // the Windows programs are built from one source each

using harness::Addr;
using harness::Arg32;

namespace {

// A 6 x 5 block of three colours: what every search here looks for.
std::vector<std::uint32_t> Block(std::uint32_t a, std::uint32_t b, std::uint32_t c) {
  static const int kShape[30] = {1, 1, 2, 3, 3, 1,  //
                                 1, 2, 2, 3, 1, 1,  //
                                 2, 2, 1, 1, 1, 3,  //
                                 3, 1, 1, 2, 3, 3,  //
                                 1, 3, 3, 2, 1, 2};
  std::vector<std::uint32_t> out;
  for (int v : kShape) out.push_back(v == 1 ? a : v == 2 ? b : c);
  return out;
}

const std::string& TemplateFile() {
  static const std::string path = [] {
    const std::string p = harness::Scratch("block.bmp");
    CHECK(harness::WriteBytes(p, zadized::test::MakeBmp24(6, 5, Block(0x112233, 0x445566, 0x778899))));
    return p;
  }();
  return path;
}

// A width x height picture of tiles with the block at (x, y) in colours of
// its own (the search is by pattern), top row first.
std::vector<std::uint32_t> PictureWithBlock(int width, int height, int x, int y, std::uint32_t tint) {
  std::vector<std::uint32_t> px(static_cast<std::size_t>(width) * height);
  for (int r = 0; r < height; ++r)
    for (int c = 0; c < width; ++c) px[static_cast<std::size_t>(r) * width + c] = harness::Tiles(c, r);
  const std::vector<std::uint32_t> block = Block(0xA00000 + tint, 0x00B000 + tint, 0x0000C0 + tint);
  for (int k = 0; k < 30; ++k) px[static_cast<std::size_t>(y + k / 6) * width + x + k % 6] = block[k];
  return px;
}

std::int32_t Hold(const char* source) { return static_cast<std::int32_t>(harness::Call(17, {Addr(source)})); }
std::int32_t Release() { return static_cast<std::int32_t>(harness::Call(18, {})); }
std::int32_t Find(std::int32_t x2 = 100000, std::int32_t y2 = 100000, std::int32_t options = 0,
                  std::int32_t color = -1) {
  return harness::Search(TemplateFile(), 0, 2, x2, y2, options, color);
}
std::int32_t At(int x, int y, int width) { return (y - 1) * width + (x - 1); }

std::int32_t ScreenWidth() { return GetSystemMetrics(SM_CXSCREEN); }
std::int32_t ScreenHeight() { return GetSystemMetrics(SM_CYSCREEN); }

void ShowBlockAt(int x, int y, std::uint32_t tint) {
  CHECK(harness::ShowOnScreen(ScreenWidth(), ScreenHeight(),
                              PictureWithBlock(ScreenWidth(), ScreenHeight(), x, y, tint)));
}

// A saved screenshot of width x height with the block at (x, y): a 24-bit
// BMP, or a PNG with an alpha channel of all but nothing (which is ignored).
std::string Screenshot(const std::string& name, int width, int height, int x, int y, bool png) {
  const std::vector<std::uint32_t> px = PictureWithBlock(width, height, x, y, 0x10);
  const std::string path = harness::Scratch(name);
  if (png) {
    std::vector<std::uint8_t> raw;
    for (const std::uint32_t v : px)
      raw.insert(raw.end(), {static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 8),
                             static_cast<std::uint8_t>(v), 1});
    spng_ctx* ctx = zadized::test::NewPngEncoder(spng_ihdr{static_cast<std::uint32_t>(width),
                                                           static_cast<std::uint32_t>(height), 8,
                                                           SPNG_COLOR_TYPE_TRUECOLOR_ALPHA, 0, 0, 0});
    CHECK(harness::WriteBytes(path, zadized::test::FinishPng(ctx, raw)));
  } else {
    CHECK(harness::WriteBytes(path, zadized::test::MakeBmp24(width, height, px)));
  }
  return path;
}

TEST_CASE(HeldScreenshotIsSearchedWhileTheScreenShowsSomethingElse) {
  ShowBlockAt(300, 200, 0);
  const std::int32_t W = ScreenWidth();
  CHECK_EQ(Find(), At(300, 200, W));
  for (const bool png : {false, true}) {
    const std::string shot = Screenshot(png ? "shot.png" : "shot.bmp", 640, 480, 517, 301, png);
    CHECK_EQ(Hold(shot.c_str()), 640);
    // Positions are the picture's, encoded with its width; the rectangle is cut to it.
    CHECK_EQ(Find(), At(517, 301, 640));
    CHECK_EQ(Find(639, 479), At(517, 301, 640));
    // Cut to the picture, four columns are left: too few for the block.
    CHECK_EQ(harness::Search(TemplateFile(), 636, 2, 100000, 100000, 0, -1), -10);
    CHECK_EQ(harness::Search(TemplateFile(), 700, 500, 900, 900, 0, -1), -10);  // wholly off the picture
    // Every order, a shape test and a corner test, against the literal scan on the same picture.
    zadized::reference::Screen picture{640, 480, PictureWithBlock(640, 480, 517, 301, 0x10)};
    const std::vector<std::uint8_t> templ =
        zadized::test::MakeBmp24(6, 5, Block(0x112233, 0x445566, 0x778899));
    for (const std::int32_t options : {0, 0x10000, 0x20000, 0x70000, 0x70001}) {
      for (const std::int32_t color : {-1, 0x112233, 0x10FF0300}) {
        CHECK_EQ(harness::Search(TemplateFile(), 0, 2, 639, 479, options, color),
                 zadized::reference::LiteralSearch(templ, picture, 0, 2, 639, 479, options, color));
      }
    }
    std::int32_t slots[4] = {0, 0, 0, 0};
    CHECK_EQ(static_cast<std::int32_t>(
                 harness::Call(16, {Addr(TemplateFile().c_str()), Arg32(0), Arg32(2), Arg32(639), Arg32(479),
                                    Arg32(0), Arg32(~0u), Addr(slots), Arg32(4)})),
             1);
    CHECK_EQ(slots[0], At(517, 301, 640));
    CHECK_EQ(Release(), 0);
  }
  CHECK_EQ(Release(), -1);
  CHECK_EQ(Find(), At(300, 200, W));  // the live screen again
}

TEST_CASE(HeldCaptureKeepsItsAnswersAfterTheScreenChanges) {
  const std::int32_t W = ScreenWidth();
  ShowBlockAt(150, 90, 0x20);
  CHECK_EQ(Hold(nullptr), W);
  ShowBlockAt(700, 400, 0x30);
  CHECK_EQ(Find(), At(150, 90, W));
  CHECK_EQ(Find(W - 1, ScreenHeight() - 1, 0x10000), At(150, 90, W));
  // CaptureScreen still captures the live screen: the block's new place.
  ZadizedScreenImage live{};
  harness::CallAddress(2, {Addr(&live)});
  CHECK(live.pixels != nullptr);
  if (live.pixels != nullptr) {
    const std::uint8_t* p =
        live.pixels + (static_cast<std::size_t>(live.height - 1 - 400) * live.width + 700) * 4;
    CHECK_EQ(p[0] | p[1] << 8 | p[2] << 16, 0xA00030);
    DeleteObject(static_cast<HGDIOBJ>(live.bitmap));
  }
  // Holding again replaces the picture with the screen as it is now.
  CHECK_EQ(Hold(""), W);
  CHECK_EQ(Find(), At(700, 400, W));
  ShowBlockAt(40, 500, 0x40);
  CHECK_EQ(Find(), At(700, 400, W));
  CHECK_EQ(Release(), 0);
  CHECK_EQ(Find(), At(40, 500, W));
}

// Each thread holds a screenshot of its own and searches it many times
// while the other does the same; the main thread holds nothing.
struct ThreadWork {
  std::string shot;
  int x, y, width;
  HANDLE bothHold;
  int wrong;
};

DWORD WINAPI HoldAndSearch(LPVOID param) {
  auto* w = static_cast<ThreadWork*>(param);
  if (Hold(w->shot.c_str()) != w->width) ++w->wrong;
  // Both hold before either searches.
  ReleaseSemaphore(w->bothHold, 1, nullptr);
  for (int i = 0; i < 10; ++i) {
    if (Find() != At(w->x, w->y, w->width)) ++w->wrong;
    Sleep(1);
  }
  // The thread ends holding its picture: the DLL lets it go.
  return 0;
}

TEST_CASE(TwoThreadsHoldDifferentPicturesAtOnce) {
  const std::int32_t W = ScreenWidth();
  ShowBlockAt(222, 111, 0x50);
  HANDLE bothHold = CreateSemaphoreA(nullptr, 0, 2, nullptr);
  ThreadWork a{Screenshot("a.bmp", 500, 400, 33, 44, false), 33, 44, 500, bothHold, 0};
  ThreadWork b{Screenshot("b.png", 320, 240, 250, 180, true), 250, 180, 320, bothHold, 0};
  HANDLE threads[2] = {CreateThread(nullptr, 0, HoldAndSearch, &a, 0, nullptr),
                       CreateThread(nullptr, 0, HoldAndSearch, &b, 0, nullptr)};
  CHECK(threads[0] != nullptr && threads[1] != nullptr);
  WaitForSingleObject(bothHold, 10000);
  WaitForSingleObject(bothHold, 10000);
  CHECK_EQ(Find(), At(222, 111, W));  // the main thread sees the live screen meanwhile
  CHECK_EQ(Release(), -1);
  WaitForMultipleObjects(2, threads, TRUE, 60000);
  CloseHandle(threads[0]);
  CloseHandle(threads[1]);
  CloseHandle(bothHold);
  CHECK_EQ(a.wrong, 0);
  CHECK_EQ(b.wrong, 0);
}

TEST_CASE(CodesAndThePictureKeptAfterAFailure) {
  CHECK_EQ(Release(), -1);
  const std::string shot = Screenshot("kept.bmp", 200, 150, 60, 70, false);
  CHECK_EQ(Hold(shot.c_str()), 200);
  // A missing file, a refused one (a top-down BMP) and monitors that are not
  // there: each fails and leaves the picture held.
  const std::string missing = harness::Scratch("missing.bmp");
  std::vector<std::uint8_t> topDown = zadized::test::MakeBmp24(4, 4, std::vector<std::uint32_t>(16, 0));
  zadized::test::Put32(topDown, 22, static_cast<std::uint32_t>(-4));
  const std::string refused = harness::Scratch("top-down.bmp");
  CHECK(harness::WriteBytes(refused, topDown));
  CHECK_EQ(Hold(missing.c_str()), -2);
  CHECK_EQ(Hold(refused.c_str()), -2);
  CHECK_EQ(Hold("monitor:0"), -3);
  CHECK_EQ(Hold("Monitor:2"), -3);  // one monitor here
  CHECK_EQ(Find(), At(60, 70, 200));
  // By name as well as by ordinal.
  CHECK_EQ(static_cast<std::int32_t>(harness::Call("ReleaseScreen", {})), 0);
  CHECK_EQ(static_cast<std::int32_t>(harness::Call("HoldScreen", {Addr(missing.c_str())})), -2);
  CHECK_EQ(Release(), -1);
}

}  // namespace

HARNESS_MAIN
