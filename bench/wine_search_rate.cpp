// SearchImage calls per second through the real export, under whatever runs
// Windows programs here: a whole-screen search against a 200 x 200 rectangle,
// both for a template that is not on the screen (every position is visited),
// and the time of one CaptureScreen (with DeleteObject), which every
// whole-screen search pays. Built for x86 and for x64; the first line says
// which ran. Then "eight templates on one frame": eight pieces of the screen
// looked for over the whole screen, eight SearchImage calls each capturing
// the screen, against HoldScreen, the same eight calls on the held capture
// and ReleaseScreen, timed as one unit each; both must give the same answers.
// Usage: wine_search_rate.exe zadized.dll [SECONDS_PER_CASE]
#include <zadized.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/bmp_bytes.h"
#include "harness.h"
#include "paint_screen.h"

namespace {

using SearchFn = std::int32_t(WINAPI*)(const char*, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                                       std::int32_t, std::int32_t);

std::uint32_t g_seed = 12345;
std::uint32_t Next() {
  g_seed = g_seed * 1664525u + 1013904223u;
  return g_seed >> 8;
}

// Something like a desktop: flat areas, windows, small detail.
std::vector<std::uint32_t> Desktop(int w, int h) {
  std::vector<std::uint32_t> px(static_cast<std::size_t>(w) * h, 0x3A6EA5);
  for (int i = 0; i < 400; ++i) {
    const int rw = 4 + static_cast<int>(Next() % 300), rh = 4 + static_cast<int>(Next() % 200);
    const int rx = static_cast<int>(Next() % static_cast<std::uint32_t>(w)),
              ry = static_cast<int>(Next() % static_cast<std::uint32_t>(h));
    const std::uint32_t c = Next() & 0xFFFFFF;
    for (int y = ry; y < ry + rh && y < h; ++y)
      for (int x = rx; x < rx + rw && x < w; ++x) px[static_cast<std::size_t>(y) * w + x] = c;
  }
  return px;
}

double CallsPerSecond(SearchFn search, const std::string& file, int x1, int y1, int x2, int y2,
                      double seconds, std::int32_t* last) {
  LARGE_INTEGER f, start, now;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&start);
  long calls = 0;
  do {
    *last = search(file.c_str(), x1, y1, x2, y2, 0, -1);
    ++calls;
    QueryPerformanceCounter(&now);
  } while (static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(f.QuadPart) < seconds);
  return calls / (static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(f.QuadPart));
}

// Seconds per CaptureScreen of the whole screen, the bitmap deleted after.
double CaptureSeconds(double seconds) {
  const void* capture = reinterpret_cast<const void*>(harness::ByName("CaptureScreen"));
  LARGE_INTEGER f, start, now;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&start);
  long calls = 0;
  do {
    ZadizedScreenImage image{};
    harness::CallByHand(capture, {harness::Addr(&image)});
    if (image.bitmap != nullptr) DeleteObject(static_cast<HGDIOBJ>(image.bitmap));
    ++calls;
    QueryPerformanceCounter(&now);
  } while (static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(f.QuadPart) < seconds);
  return static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(f.QuadPart) / calls;
}

using HoldFn = std::int32_t(WINAPI*)(const char*);
using ReleaseFn = std::int32_t(WINAPI*)();

// Seconds per round of eight whole-screen searches, with `hold` (and
// `release`) around them when given; the answers of the last round in
// `answers`.
double EightSeconds(SearchFn search, HoldFn hold, ReleaseFn release, const std::vector<std::string>& files,
                    double seconds, std::vector<std::int32_t>* answers) {
  const int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
  LARGE_INTEGER f, start, now;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&start);
  long rounds = 0;
  do {
    answers->clear();
    if (hold != nullptr && hold(nullptr) != w) answers->push_back(-1000);
    for (const std::string& file : files) answers->push_back(search(file.c_str(), 0, 2, w - 1, h - 1, 0, -1));
    if (release != nullptr && release() != 0) answers->push_back(-1001);
    ++rounds;
    QueryPerformanceCounter(&now);
  } while (static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(f.QuadPart) < seconds);
  return static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(f.QuadPart) / rounds;
}

// Eight 32 x 20 pieces of `px`, spread over the screen, as template files.
std::vector<std::string> EightPieces(const std::vector<std::uint32_t>& px, int w, int h) {
  std::vector<std::string> files;
  for (int k = 0; k < 8; ++k) {
    const int x0 = (k * 233 + 57) % (w - 32), y0 = (k * 131 + 211) % (h - 20);
    std::vector<std::uint32_t> piece;
    for (int y = 0; y < 20; ++y)
      for (int x = 0; x < 32; ++x) piece.push_back(px[static_cast<std::size_t>(y0 + y) * w + x0 + x]);
    files.push_back(harness::Scratch("eight-" + std::to_string(k) + ".bmp"));
    harness::WriteBytes(files.back(), zadized::test::MakeBmp24(32, 20, piece));
  }
  return files;
}

}  // namespace

int main(int argc, char** argv) {
  SetUnhandledExceptionFilter(harness::OnCrash);
  if (argc < 2) {
    std::printf("usage: %s zadized.dll [SECONDS_PER_CASE]\n", argv[0]);
    return 2;
  }
  harness::DllPath() = argv[1];
  const double seconds = argc > 2 ? std::atof(argv[2]) : 5.0;
  const auto search = reinterpret_cast<SearchFn>(reinterpret_cast<void*>(harness::ByName("SearchImage")));
  if (search == nullptr || harness::ByName("CaptureScreen") == nullptr) {
    std::printf("cannot load SearchImage and CaptureScreen from %s\n", argv[1]);
    return 2;
  }
  const int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
  const std::vector<std::uint32_t> desktop = Desktop(w, h);
  if (!harness::ShowOnScreen(w, h, desktop)) {
    std::printf("could not paint the screen\n");
    return 2;
  }
  std::vector<std::uint32_t> noise(24 * 24);
  for (auto& v : noise) v = Next() & 0xFFFFFF;
  const std::string file = harness::Scratch("rate-template.bmp");
  harness::WriteBytes(file, zadized::test::MakeBmp24(24, 24, noise));

  std::int32_t whole = 0, small = 0;
  // The first captures after Wine starts are slower than the rest (in x64,
  // 78 ms against 20 ms in one run): two seconds of them first, not counted.
  CaptureSeconds(2.0);
  const double capture = CaptureSeconds(seconds);
  const double wholeRate = CallsPerSecond(search, file, 0, 0, w - 1, h - 1, seconds, &whole);
  const double smallRate =
      CallsPerSecond(search, file, w / 2, h / 2, w / 2 + 199, h / 2 + 199, seconds, &small);
  std::printf("%s process and DLL\n", sizeof(void*) == 8 ? "x64 (64-bit)" : "x86 (32-bit)");
  std::printf("screen %dx%d, 24x24 template not on the screen (results %d and %d)\n", w, h, whole, small);
  std::printf("CaptureScreen     %10.2f ms/call, whole screen\n", capture * 1e3);
  std::printf("whole screen      %10.1f calls/s  %8.2f ms/call\n", wholeRate, 1000.0 / wholeRate);
  std::printf("200x200 rectangle %10.1f calls/s  %8.2f ms/call\n", smallRate, 1000.0 / smallRate);
  std::printf("rectangle / whole screen: %.1fx\n", smallRate / wholeRate);

  const auto hold = reinterpret_cast<HoldFn>(reinterpret_cast<void*>(harness::ByName("HoldScreen")));
  const auto release = reinterpret_cast<ReleaseFn>(reinterpret_cast<void*>(harness::ByName("ReleaseScreen")));
  if (hold == nullptr || release == nullptr) {
    std::printf("no HoldScreen or ReleaseScreen\n");
    return 1;
  }
  const std::vector<std::string> eight = EightPieces(desktop, w, h);
  std::vector<std::int32_t> liveAnswers, heldAnswers;
  const double live = EightSeconds(search, nullptr, nullptr, eight, seconds, &liveAnswers);
  const double held = EightSeconds(search, hold, release, eight, seconds, &heldAnswers);
  int found = 0;
  for (const std::int32_t r : liveAnswers) found += r >= 0;
  std::printf(
      "eight templates on one frame (32x20 pieces of the screen, rows 2 and below, %d of 8 found): live "
      "%8.2f ms, held %8.2f ms (HoldScreen, 8 searches, ReleaseScreen), live / held %.2fx%s\n",
      found, live * 1e3, held * 1e3, live / held, liveAnswers == heldAnswers ? "" : "  DIFFERENT ANSWERS");
  return whole == -1 && small == -1 && liveAnswers == heldAnswers ? 0 : 1;
}
