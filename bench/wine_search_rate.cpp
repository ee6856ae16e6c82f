// SearchImage calls per second through the real export, under whatever runs
// Windows programs here: a whole-screen search against a 200 x 200 rectangle,
// both for a template that is not on the screen (every position is visited),
// and the time of one CaptureScreen (with DeleteObject), which every
// whole-screen search pays. Built for x86 and for x64; the first line says
// which ran. With THREADS above 1, that many threads make the calls at once
// and the rates are their sum; each thread keeps to one template file of
// its own, the same picture, as hosts whose workers each search. Then
// "eight templates on one frame" (on the main thread): eight pieces of the
// screen looked for over the whole screen, eight SearchImage calls each
// capturing the screen, against HoldScreen, the same eight calls on the held
// capture and ReleaseScreen, timed as one unit each; both must give the same
// answers.
// Usage: wine_search_rate.exe zadized.dll [SECONDS_PER_CASE [THREADS]]
#include <zadized.h>

#include <algorithm>
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

struct Job {
  SearchFn search;
  std::string file;
  int x1, y1, x2, y2;
  double seconds;
  std::int32_t last;  // the last answer, or -999 for a capture
  long calls;
  double elapsed;
};

double Now() {
  LARGE_INTEGER f, now;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / static_cast<double>(f.QuadPart);
}

// Searches, or with no search function captures of the whole screen (the
// bitmap deleted after), for the job's seconds.
DWORD WINAPI RunJob(void* p) {
  Job& j = *static_cast<Job*>(p);
  const void* capture = reinterpret_cast<const void*>(harness::ByName("CaptureScreen"));
  const double start = Now();
  do {
    if (j.search != nullptr) {
      j.last = j.search(j.file.c_str(), j.x1, j.y1, j.x2, j.y2, 0, -1);
    } else {
      ZadizedScreenImage image{};
      harness::CallByHand(capture, {harness::Addr(&image)});
      if (image.bitmap != nullptr) DeleteObject(static_cast<HGDIOBJ>(image.bitmap));
    }
    ++j.calls;
    j.elapsed = Now() - start;
  } while (j.elapsed < j.seconds);
  return 0;
}

// Calls per second of `threads` copies of `job` at once, summed; `last`
// learns the answer every thread ended with when they agree, -998 if not.
double CallsPerSecond(const Job& job, const std::vector<std::string>& files, int threads,
                      std::int32_t* last) {
  std::vector<Job> jobs(static_cast<std::size_t>(threads), job);
  std::vector<HANDLE> handles;
  for (int t = 0; t < threads; ++t) {
    jobs[t].file = files[static_cast<std::size_t>(t)];
    handles.push_back(CreateThread(nullptr, 0, RunJob, &jobs[t], 0, nullptr));
  }
  double rate = 0;
  for (int t = 0; t < threads; ++t) {
    WaitForSingleObject(handles[t], INFINITE);
    CloseHandle(handles[t]);
    rate += jobs[t].calls / jobs[t].elapsed;
    if (t > 0 && jobs[t].last != jobs[0].last) jobs[0].last = -998;
  }
  if (last != nullptr) *last = jobs[0].last;
  return rate;
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
  const int threads = argc > 3 ? std::max(1, std::atoi(argv[3])) : 1;
  std::vector<std::uint32_t> noise(24 * 24);
  for (auto& v : noise) v = Next() & 0xFFFFFF;
  std::vector<std::string> files;
  for (int t = 0; t < threads; ++t) {
    files.push_back(harness::Scratch("rate-template-" + std::to_string(t) + ".bmp"));
    harness::WriteBytes(files.back(), zadized::test::MakeBmp24(24, 24, noise));
  }

  std::int32_t whole = 0, small = 0;
  // The first captures after Wine starts are slower than the rest (in x64,
  // 78 ms against 20 ms in one run): two seconds of them first, not counted.
  const Job captures{nullptr, "", 0, 0, 0, 0, 2.0, -999, 0, 0};
  CallsPerSecond(captures, files, threads, nullptr);
  Job timed = captures;
  timed.seconds = seconds;
  const double captureRate = CallsPerSecond(timed, files, threads, nullptr);
  const double wholeRate =
      CallsPerSecond(Job{search, "", 0, 0, w - 1, h - 1, seconds, 0, 0, 0}, files, threads, &whole);
  const double smallRate = CallsPerSecond(
      Job{search, "", w / 2, h / 2, w / 2 + 199, h / 2 + 199, seconds, 0, 0, 0}, files, threads, &small);
  std::printf("%s process and DLL, %d thread%s at once\n",
              sizeof(void*) == 8 ? "x64 (64-bit)" : "x86 (32-bit)", threads, threads == 1 ? "" : "s");
  std::printf("screen %dx%d, 24x24 template not on the screen (results %d and %d)\n", w, h, whole, small);
  std::printf("CaptureScreen     %10.1f calls/s  %8.2f ms/call per thread, whole screen\n", captureRate,
              1000.0 * threads / captureRate);
  std::printf("whole screen      %10.1f calls/s  %8.2f ms/call per thread; capture's share %.0f%%\n",
              wholeRate, 1000.0 * threads / wholeRate, 100.0 * wholeRate / captureRate);
  std::printf("200x200 rectangle %10.1f calls/s  %8.2f ms/call per thread\n", smallRate,
              1000.0 * threads / smallRate);
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
