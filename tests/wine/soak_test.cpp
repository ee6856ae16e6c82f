// Soak: 10,000 SearchImage calls and 10,000 CaptureScreen + DeleteObject
// pairs through the real exports, with the process's memory and GDI object
// count taken before and after. A leaked capture, colour map or file block
// per call would add megabytes; the answers are checked on every call, so a
// search that starts failing under pressure shows too. ZADIZED_SOAK_CALLS
// makes the runs shorter for a quick look, ZADIZED_SOAK_CAPTURES the capture
// run alone: the x64 test takes 2,000 captures, as Wine's capture still takes
// about 10 ms there, and each leaked one would be 3 MB.
#include <algorithm>
#include <cstdlib>

#include "common/bmp_bytes.h"
#include "harness.h"
#include "image/records.h"
#include "paint_screen.h"

// After windows.h, which harness.h brings in.
#include <psapi.h>

using zadized::ScreenImage;

namespace {

constexpr std::uint32_t kBackground = 0x304050;
constexpr int kTemplateX = 200, kTemplateY = 120, kSide = 16;

int Calls(const char* variable = "ZADIZED_SOAK_CALLS") {
  const char* env = std::getenv(variable);
  const int n = env != nullptr ? std::atoi(env) : 0;
  return n > 0 ? n : 10000;
}

// A 16 x 16 template of four colours in quarters, with a diagonal of a fifth:
// its colour map is 256 bytes, so one leaked map per call is 2.5 MB.
std::vector<std::uint32_t> TemplatePixels() {
  std::vector<std::uint32_t> px(kSide * kSide);
  for (int y = 0; y < kSide; ++y)
    for (int x = 0; x < kSide; ++x)
      px[y * kSide + x] =
          x == y ? 0xFFFFFF : (x < 8 ? (y < 8 ? 0xFF0000 : 0x00FF00) : (y < 8 ? 0x0000FF : 0x000000));
  return px;
}

int g_width = 0, g_height = 0;
void ShowScreen() {
  static bool shown = false;
  if (shown) return;
  shown = true;
  g_width = GetSystemMetrics(SM_CXSCREEN);
  g_height = GetSystemMetrics(SM_CYSCREEN);
  std::vector<std::uint32_t> px(static_cast<std::size_t>(g_width) * g_height, kBackground);
  const std::vector<std::uint32_t> t = TemplatePixels();
  for (int y = 0; y < kSide; ++y)
    for (int x = 0; x < kSide; ++x)
      px[static_cast<std::size_t>(kTemplateY + y) * g_width + kTemplateX + x] = t[y * kSide + x] ^ 0x0F0F0F;
  CHECK(harness::ShowOnScreen(g_width, g_height, std::move(px)));
}

struct Usage {
  PROCESS_MEMORY_COUNTERS_EX memory;
  DWORD gdiObjects;
  DWORD handles;
};
Usage Measure() {
  Usage u = {};
  u.memory.cb = sizeof u.memory;
  GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&u.memory),
                       sizeof u.memory);
  u.gdiObjects = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
  GetProcessHandleCount(GetCurrentProcess(), &u.handles);
  return u;
}

// Prints the figures and checks them: private and pagefile usage may grow by
// at most 1 MB over the whole run (heap growth that settles), the working set
// by 4 MB (it also moves with paging), GDI objects and handles not at all.
void Report(const char* what, int calls, DWORD ms, const Usage& before, const Usage& after) {
  std::printf("  %s: %d calls in %lu ms (%.2f ms each)\n", what, calls, static_cast<unsigned long>(ms),
              calls > 0 ? static_cast<double>(ms) / calls : 0.0);
  std::printf("    PrivateUsage   %10lu -> %10lu bytes\n",
              static_cast<unsigned long>(before.memory.PrivateUsage),
              static_cast<unsigned long>(after.memory.PrivateUsage));
  std::printf("    PagefileUsage  %10lu -> %10lu bytes\n",
              static_cast<unsigned long>(before.memory.PagefileUsage),
              static_cast<unsigned long>(after.memory.PagefileUsage));
  std::printf("    WorkingSetSize %10lu -> %10lu bytes\n",
              static_cast<unsigned long>(before.memory.WorkingSetSize),
              static_cast<unsigned long>(after.memory.WorkingSetSize));
  std::printf("    GDI objects    %10lu -> %10lu (Wine reports 0)\n",
              static_cast<unsigned long>(before.gdiObjects), static_cast<unsigned long>(after.gdiObjects));
  std::printf("    handles        %10lu -> %10lu\n", static_cast<unsigned long>(before.handles),
              static_cast<unsigned long>(after.handles));
  std::fflush(stdout);
  CHECK(after.memory.PrivateUsage <= before.memory.PrivateUsage + 1024 * 1024);
  CHECK(after.memory.PagefileUsage <= before.memory.PagefileUsage + 1024 * 1024);
  CHECK(after.memory.WorkingSetSize <= before.memory.WorkingSetSize + 4 * 1024 * 1024);
  CHECK(after.gdiObjects <= before.gdiObjects);
  CHECK(after.handles <= before.handles);
}

// A wrong answer counts against the run; in x86 the harness also reports any
// call that removes the wrong count of argument bytes.
ScreenImage Capture() {
  ScreenImage r;
  std::memset(&r, 0xA5, sizeof r);
  if (harness::CallAddress(2, {harness::Addr(&r)}) != harness::Addr(&r)) std::memset(&r, 0, sizeof r);
  return r;
}

using harness::Search;

// Runs first, before anything loads the DLL: the DLL's preferred address is
// taken, so the loader must move it, which only works if its relocations are
// complete. Every call of the soak below then runs in the moved image.
TEST_CASE(LoadsAwayFromItsPreferredAddress) {
  std::vector<std::uint8_t> image(4096);
  std::FILE* f = std::fopen(harness::WinPath(harness::DllPath()).c_str(), "rb");
  CHECK(f != nullptr);
  if (f == nullptr) return;
  const std::size_t got = std::fread(image.data(), 1, image.size(), f);
  std::fclose(f);
  const auto at32 = [&](std::size_t at) {
    return at + 4 <= got ? static_cast<std::uint32_t>(image[at] | image[at + 1] << 8 | image[at + 2] << 16 |
                                                      static_cast<std::uint32_t>(image[at + 3]) << 24)
                         : 0u;
  };
  // The optional header starts 24 bytes into the PE header; the image base
  // is 4 bytes at 28 in PE32, 8 bytes at 24 in PE32+; the image size at 56.
  const std::uint32_t pe = at32(0x3C);
#if defined(_WIN64)
  const std::uint64_t preferred = at32(pe + 24 + 24) | static_cast<std::uint64_t>(at32(pe + 24 + 28)) << 32;
#else
  const std::uint64_t preferred = at32(pe + 24 + 28);
#endif
  const std::uint32_t size = at32(pe + 24 + 56);
  CHECK(preferred != 0 && size != 0);
  void* taken = VirtualAlloc(reinterpret_cast<void*>(static_cast<std::uintptr_t>(preferred)), size,
                             MEM_RESERVE, PAGE_NOACCESS);
  const std::uint64_t loaded = reinterpret_cast<std::uintptr_t>(harness::Dll());
  std::printf(
      "  preferred address 0x%08llx (%s), loaded at 0x%08llx\n", static_cast<unsigned long long>(preferred),
      taken != nullptr ? "reserved by the test" : "already in use", static_cast<unsigned long long>(loaded));
  CHECK(loaded != 0);
  CHECK(loaded != preferred);
}

TEST_CASE(SearchImageTenThousandTimes) {
  ShowScreen();
  const std::string path = harness::Scratch("soak.bmp");
  CHECK(harness::WriteBytes(path, zadized::test::MakeBmp24(kSide, kSide, TemplatePixels())));
  const std::string missing = harness::Scratch("soak-missing.bmp");
  const std::int32_t found = (kTemplateY - 1) * g_width + (kTemplateX - 1);
  // A small rectangle round the template: the count matters here, not the area.
  const int x1 = kTemplateX - 8, y1 = kTemplateY - 8, x2 = kTemplateX + kSide + 8,
            y2 = kTemplateY + kSide + 8;
  struct Call {
    const std::string* file;
    std::int32_t x1, y1, x2, y2, options, color, expected;
  };
  const Call calls[] = {
      {&path, x1, y1, x2, y2, 0, -1, found},                   // pattern, found
      {&path, x2, y2, x1, y1, 0x70000, -1, found},             // corners swapped, reversed order
      {&path, x1, y1, x1 + kSide - 2, y2, 0, -1, -10},         // too narrow
      {&path, 0, g_height - 40, 40, g_height - 1, 0, -1, -1},  // plain background, no match
      {&path, x1, y1, x2, y2, 0, 0x123456, -100},              // shape colour not in the template
      {&path, x1, y1, x2, y2, 0, 0xFFFFFF, found},             // shape of the diagonal
      {&path, x1, y1, x2, y2, 0, 0x10000000 | (3 << 24) | (255 << 16) | 765,
       found},                                // tolerance, bottom-right
      {&missing, x1, y1, x2, y2, 0, -1, -2},  // no file: nothing captured
  };
  const int kinds = static_cast<int>(sizeof calls / sizeof calls[0]);
  // Warm up: the template enters the cache, heaps reach their working size.
  for (int i = 0; i < 50; ++i) {
    const Call& c = calls[i % kinds];
    CHECK_EQ(Search(*c.file, c.x1, c.y1, c.x2, c.y2, c.options, c.color), c.expected);
  }
  const int n = Calls();
  const Usage before = Measure();
  const DWORD start = GetTickCount();
  int wrong = 0;
  for (int i = 0; i < n; ++i) {
    const Call& c = calls[i % kinds];
    if (Search(*c.file, c.x1, c.y1, c.x2, c.y2, c.options, c.color) != c.expected) ++wrong;
  }
  const DWORD ms = GetTickCount() - start;
  const Usage after = Measure();
  Report("SearchImage", n, ms, before, after);
  CHECK_EQ(wrong, 0);
}

TEST_CASE(CaptureScreenAndDeleteObjectThousandsOfTimes) {
  ShowScreen();
  for (int i = 0; i < 20; ++i) {
    const ScreenImage r = Capture();
    CHECK(r.bitmap != nullptr);
    if (r.bitmap != nullptr) CHECK(DeleteObject(static_cast<HGDIOBJ>(r.bitmap)) != 0);
  }
  const int n = std::min(Calls(), Calls("ZADIZED_SOAK_CAPTURES"));
  const Usage before = Measure();
  const DWORD start = GetTickCount();
  int wrong = 0, notDeleted = 0;
  const std::uint32_t topLeft = TemplatePixels()[0] ^ 0x0F0F0F;  // as painted
  for (int i = 0; i < n; ++i) {
    const ScreenImage r = Capture();
    if (r.bitmap == nullptr || r.pixels == nullptr || r.width != g_width || r.height != g_height ||
        r.bitCount != 32) {
      ++wrong;
    } else {
      // The painted template's top-left pixel, read from the capture.
      const std::uint8_t* p =
          r.pixels + (static_cast<std::size_t>(g_height - 1 - kTemplateY) * g_width + kTemplateX) * 4;
      if (static_cast<std::uint32_t>(p[0] | p[1] << 8 | p[2] << 16) != topLeft) ++wrong;
    }
    if (r.bitmap != nullptr && DeleteObject(static_cast<HGDIOBJ>(r.bitmap)) == 0) ++notDeleted;
  }
  const DWORD ms = GetTickCount() - start;
  const Usage after = Measure();
  Report("CaptureScreen + DeleteObject", n, ms, before, after);
  CHECK_EQ(wrong, 0);
  CHECK_EQ(notDeleted, 0);
}

}  // namespace

HARNESS_MAIN
