// Threads through the real DLL: 8 threads in x64 and 4 in x86 mixing every
// export at once, each answer compared with the one the main thread got for
// the same call alone, the file names spelled anew each round so that the
// threads race to load them. Then hundreds of short-lived threads that each
// take a PtrGetString buffer: the process's memory must stay flat, as each
// buffer goes when its thread ends. ZADIZED_THREADS_CALLS sets the calls per
// thread.
#include <algorithm>
#include <cstdlib>
#include <map>
#include <random>

#include "common/bmp_bytes.h"
#include "harness.h"
#include "image/records.h"
#include "paint_screen.h"
#include "png_encode.h"

// After windows.h, which harness.h brings in.
#include <psapi.h>

using harness::Addr;
using harness::Arg32;
using harness::Word;

namespace {

#if defined(_WIN64)
constexpr int kThreads = 8;
#else
constexpr int kThreads = 4;
#endif
constexpr int kArea = 240;  // templates are cut from the top-left kArea x kArea

int CallsPerThread() {
  const char* env = std::getenv("ZADIZED_THREADS_CALLS");
  const int n = env != nullptr ? std::atoi(env) : 0;
  return n > 0 ? n : 100;
}

struct World {
  int width = 0, height = 0;
  std::vector<std::uint32_t> screen;
  std::vector<std::string> files;  // names in the scratch folder
};

std::vector<std::uint32_t> Cut(const World& w, int x, int y, int cw, int ch) {
  std::vector<std::uint32_t> out;
  for (int j = y; j < y + ch; ++j)
    for (int i = x; i < x + cw; ++i) out.push_back(w.screen[static_cast<std::size_t>(j) * w.width + i]);
  return out;
}

World& TheWorld() {
  static World w;
  if (!w.files.empty()) return w;
  w.width = GetSystemMetrics(SM_CXSCREEN);
  w.height = GetSystemMetrics(SM_CYSCREEN);
  w.screen.assign(static_cast<std::size_t>(w.width) * w.height, 0x203040);
  std::mt19937 rng(22);
  for (int y = 0; y < kArea; ++y)
    for (int x = 0; x < kArea; ++x)
      w.screen[static_cast<std::size_t>(y) * w.width + x] = (rng() % 5) * 0x2F1B37u;
  CHECK(harness::ShowOnScreen(w.width, w.height, w.screen));
  for (int t = 0; t < 8; ++t) {
    const int tw = 3 + t, th = 2 + t % 4;
    const int x = static_cast<int>(rng() % (kArea - tw)), y = static_cast<int>(rng() % (kArea - th));
    const std::vector<std::uint32_t> px = Cut(w, x, y, tw, th);
    const std::string name = "threads-" + std::to_string(t);
    if (t % 2 == 0) {
      w.files.push_back(name + ".bmp");
      CHECK(harness::WriteBytes(harness::Scratch(w.files.back()), zadized::test::MakeBmp24(tw, th, px)));
    } else {
      std::vector<std::uint8_t> raw;  // red, green, blue, alpha; a see-through first pixel
      for (std::size_t k = 0; k < px.size(); ++k)
        raw.insert(raw.end(),
                   {static_cast<std::uint8_t>(px[k] >> 16), static_cast<std::uint8_t>(px[k] >> 8),
                    static_cast<std::uint8_t>(px[k]), static_cast<std::uint8_t>(k == 0 ? 0 : 255)});
      spng_ctx* ctx = zadized::test::NewPngEncoder(
          spng_ihdr{static_cast<std::uint32_t>(tw), static_cast<std::uint32_t>(th), 8, 6, 0, 0, 0});
      w.files.push_back(name + ".png");
      CHECK(harness::WriteBytes(harness::Scratch(w.files.back()), zadized::test::FinishPng(ctx, raw)));
    }
  }
  w.files.push_back("threads-missing.bmp");
  return w;
}

enum Kind { kOpen, kSearch, kSearchAll, kCapture, kBuffer, kString, kSmall, kKinds };

struct Call {
  int kind, file;
  std::int32_t x1, y1, x2, y2, options, color;
};

std::vector<Call> MakeCalls(int thread, int count, const World& w) {
  std::mt19937 rng(500 + static_cast<unsigned>(thread));
  const std::int32_t colors[] = {-1, 0, 0x2F1B37, 0x10000000 | (1 << 24) | (40 << 16) | 90,
                                 0x20000000 | (20 << 8) | 30};
  const std::int32_t orders[] = {0, 0x10000, 0x20000 | 0x40000, 0x80000, 1};
  std::vector<Call> calls;
  const int files = static_cast<int>(w.files.size());
  for (int f = 0; f < files; ++f) calls.push_back(Call{kOpen, (f + thread) % files, 0, 0, 0, 0, 0, 0});
  while (static_cast<int>(calls.size()) < count) {
    Call c{static_cast<int>(rng() % kKinds), static_cast<int>(rng() % files), 0, 0, kArea, kArea, 0, 0};
    if (rng() % 8 == 0) {
      c.x2 = w.width;  // now and then the whole screen
      c.y2 = w.height;
    } else if (rng() % 2 == 0) {
      c.x1 = static_cast<std::int32_t>(rng() % 120);
      c.y1 = static_cast<std::int32_t>(rng() % 120);
      c.x2 = c.x1 + static_cast<std::int32_t>(rng() % 120);
      c.y2 = c.y1 + static_cast<std::int32_t>(rng() % 120);
    }
    c.options = orders[rng() % 5];
    c.color = colors[rng() % 5];
    if (c.kind == kCapture && rng() % 3 != 0) c.kind = kSearch;  // captures are slow under Wine
    calls.push_back(c);
  }
  return calls;
}

Word W(std::int32_t v) { return Arg32(static_cast<std::uint32_t>(v)); }

std::string Capture() {
  zadized::ScreenImage r;
  std::memset(&r, 0xA5, sizeof r);
  if (harness::CallAddress(2, {Addr(&r)}) != Addr(&r) || r.bitmap == nullptr) return "no capture";
  std::uint64_t sum = 0;
  const auto* px = static_cast<const std::uint8_t*>(r.pixels);
  for (std::size_t k = 0; k < static_cast<std::size_t>(r.width) * r.height * 4; ++k) sum = sum * 31 + px[k];
  const bool deleted = DeleteObject(static_cast<HGDIOBJ>(r.bitmap)) != 0;
  return std::to_string(r.width) + "x" + std::to_string(r.height) + " " + std::to_string(sum) +
         (deleted ? "" : " not deleted");
}

std::string Buffers(const Call& c, int index) {
  const Word block = harness::CallAddress(3, {Arg32(64)});
  if (block == 0) return "no block";
  for (std::int32_t k = 0; k < 16; ++k)
    harness::Call(13, {Arg32(static_cast<std::uint32_t>(c.x2 * k + index)), block, W(k), Arg32(4)});
  harness::Call(7, {block, block + 32, W(16)});
  std::uint32_t sum = 0;
  for (std::int32_t k = 0; k < 64; ++k) sum = sum * 7 + harness::Call(9, {block, W(k), Arg32(1)});
  const std::uint32_t value = harness::Call(11, {block + 4, Arg32(4)});
  harness::Call(12, {Arg32(0x11223344u), block, Arg32(2)});
  return std::to_string(sum) + " " + std::to_string(value) + " " +
         std::to_string(harness::Call(11, {block, Arg32(4)})) + " " +
         std::to_string(harness::CallAddress(4, {block}));
}

// The text must still be the caller's own after other threads' calls.
std::string Strings(int thread, int index) {
  const std::string text = "thread " + std::to_string(thread) + " call " + std::to_string(index);
  char copy[300] = {};
  harness::Call(14, {Addr(text.c_str()), Addr(copy), W(-1)});
  const Word got = harness::CallAddress(10, {Addr(copy), W(1)});
  Sleep(0);
  return reinterpret_cast<const char*>(got);
}

std::string Answer(const Call& c, const std::string& name, int thread, int index,
                   std::map<std::string, const void*>* blocks) {
  switch (c.kind) {
    case kOpen: {
      zadized::BitmapRecord r;
      std::memset(&r, 0xA5, sizeof r);
      harness::CallAddress(6, {Addr(&r), Addr(name.c_str())});
      if (r.fileSize != -1) (*blocks)[name] = r.fileData;
      return std::to_string(r.fileSize) + " " + std::to_string(r.width) + "x" + std::to_string(r.height) +
             " " + std::to_string(r.bitCount) + " " + std::to_string(r.topLeftColor) + " " +
             std::to_string(r.bottomRightColor);
    }
    case kSearch:
      return std::to_string(harness::Search(name, c.x1, c.y1, c.x2, c.y2, c.options, c.color));
    case kSearchAll: {
      std::int32_t slots[8] = {};
      std::string s = std::to_string(
          static_cast<std::int32_t>(harness::Call(16, {Addr(name.c_str()), W(c.x1), W(c.y1), W(c.x2), W(c.y2),
                                                       W(c.options), W(c.color), Addr(slots), W(8)})));
      for (std::int32_t v : slots) s += " " + std::to_string(v);
      return s;
    }
    case kCapture:
      return Capture();
    case kBuffer:
      return Buffers(c, index);
    case kString:
      return Strings(thread, index);
    default: {
      // The small exports: an address back, a key that is up, a clock that runs.
      const std::uint32_t t0 = harness::Call(5, {});
      const bool same = harness::CallAddress(8, {Addr(&c)}) == Addr(&c);
      const std::uint32_t key = harness::Call(1, {Arg32(0x87)});  // F24
      return std::to_string(same) + " " + std::to_string(key) + " " +
             std::to_string(harness::Call(5, {}) - t0 < 60000);
    }
  }
}

struct Usage {
  SIZE_T pagefile, workingSet;
};
Usage Measure() {
  PROCESS_MEMORY_COUNTERS m = {};
  m.cb = sizeof m;
  GetProcessMemoryInfo(GetCurrentProcess(), &m, sizeof m);
  return Usage{m.PagefileUsage, m.WorkingSetSize};
}

struct Work {
  const std::vector<Call>* calls;
  std::string prefix;
  int thread;
  std::vector<std::string> answers;
  std::map<std::string, const void*> blocks;
};

DWORD WINAPI RunCalls(void* p) {
  auto* w = static_cast<Work*>(p);
  const World& world = TheWorld();
  for (std::size_t k = 0; k < w->calls->size(); ++k) {
    const Call& c = (*w->calls)[k];
    w->answers.push_back(
        Answer(c, w->prefix + world.files[c.file], w->thread, static_cast<int>(k), &w->blocks));
  }
  return 0;
}

// Starts one thread per work item and waits, keeping the test window's
// messages flowing meanwhile.
void RunThreads(std::vector<Work>& work, LPTHREAD_START_ROUTINE body) {
  std::vector<HANDLE> handles;
  for (Work& w : work) handles.push_back(CreateThread(nullptr, 0, body, &w, 0, nullptr));
  for (HANDLE h : handles) CHECK(h != nullptr);
  for (HANDLE h : handles) {
    MSG msg;
    while (h != nullptr && WaitForSingleObject(h, 10) == WAIT_TIMEOUT)
      while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    if (h != nullptr) CloseHandle(h);
  }
}

void Print(const char* what, const Usage& a, const Usage& b) {
  std::printf("  %s: PagefileUsage %lu -> %lu, WorkingSetSize %lu -> %lu bytes\n", what,
              static_cast<unsigned long>(a.pagefile), static_cast<unsigned long>(b.pagefile),
              static_cast<unsigned long>(a.workingSet), static_cast<unsigned long>(b.workingSet));
  std::fflush(stdout);
}

TEST_CASE(ThreadsGetWhatOneThreadGets) {
  const World& world = TheWorld();
  const std::string folder = harness::Scratch("");
  const int count = CallsPerThread();
  std::vector<std::vector<Call>> calls;
  for (int t = 0; t < kThreads; ++t) calls.push_back(MakeCalls(t, count, world));
  std::vector<Work> alone;
  for (int t = 0; t < kThreads; ++t) {
    alone.push_back(Work{&calls[t], folder, t, {}, {}});
    RunCalls(&alone.back());
  }
  Usage first{};
  for (int round = 1; round <= 3; ++round) {
    std::string prefix = folder;
    for (int r = 0; r < round; ++r) prefix += ".\\";
    std::vector<Work> together;
    for (int t = 0; t < kThreads; ++t) together.push_back(Work{&calls[t], prefix, t, {}, {}});
    const DWORD start = GetTickCount();
    RunThreads(together, RunCalls);
    const DWORD ms = GetTickCount() - start;
    int wrong = 0, shown = 0, doubled = 0;
    std::map<std::string, const void*> kept;
    for (int t = 0; t < kThreads; ++t) {
      for (std::size_t k = 0; k < calls[t].size(); ++k) {
        if (together[t].answers[k] == alone[t].answers[k]) continue;
        ++wrong;
        if (++shown <= 5)
          std::printf("  thread %d call %d (kind %d): %s, alone: %s\n", t, static_cast<int>(k),
                      calls[t][k].kind, together[t].answers[k].c_str(), alone[t].answers[k].c_str());
      }
      for (const auto& [name, data] : together[t].blocks) {
        const auto [it, fresh] = kept.emplace(name, data);
        if (!fresh && it->second != data) ++doubled;
      }
    }
    std::printf(
        "  round %d: %d threads x %d calls in %lu ms: %d answers differ from one thread's, %d files "
        "loaded, %d with a second block\n",
        round, kThreads, count, static_cast<unsigned long>(ms), wrong, static_cast<int>(kept.size()),
        doubled);
    std::fflush(stdout);
    CHECK_EQ(wrong, 0);
    CHECK_EQ(doubled, 0);
    CHECK_EQ(static_cast<int>(kept.size()), static_cast<int>(world.files.size()) - 1);
    if (round == 1) first = Measure();
  }
  const Usage last = Measure();
  Print("after round 1 and after round 3", first, last);
  // Wine keeps memory of its own for threads that captured the screen (up to
  // about 20 MB more after two rounds in x64, and as much less in other
  // runs). A capture leaked by the calls (3 MB at 1024 x 768, 8 MB at
  // 1920 x 1080, dozens of captures a round) goes far past this bound;
  // smaller leaks per call are the soak test's to find, and what a thread
  // keeps is the next test's.
  CHECK(last.pagefile <= first.pagefile + 48 * 1024 * 1024);
}

DWORD WINAPI TakeAString(void* p) {
  auto* w = static_cast<Work*>(p);
  const std::string text = "short-lived " + std::to_string(w->thread);
  const Word got = harness::CallAddress(10, {Addr(text.c_str()), W(1)});
  w->answers.push_back(reinterpret_cast<const char*>(got));
  w->blocks[""] = reinterpret_cast<const void*>(got);
  return 0;
}

// Whether the block at `address` is still a PtrGetString buffer: a live block
// of the process heap, where the DLL's global-memory blocks come from, of the
// buffer's exact size, still holding a thread's text. (A freed buffer's place
// may be taken by a block of another size that keeps the old bytes.)
bool LiveStringBlock(Word address) {
  return HeapSize(GetProcessHeap(), 0, reinterpret_cast<void*>(address)) == 257 &&
         std::strncmp(reinterpret_cast<const char*>(address), "short-lived ", 12) == 0;
}

HANDLE g_release = nullptr;
DWORD WINAPI TakeAStringAndWait(void* p) {
  TakeAString(p);
  WaitForSingleObject(g_release, INFINITE);
  return 0;
}

// A thread's buffer is one block of its own while it lives and is freed when
// it ends; 640 short-lived threads that each take one leave the memory where
// the first 16 left it (Wine's own cost of a thread moves it by up to about
// 1 MB in the emulated x86 process either way; 640 kept buffers and their
// records would add some 200 KB on top).
TEST_CASE(StringBuffersGoWithTheirThreads) {
  harness::CallAddress(10, {Addr("main"), W(1)});  // the main thread holds the library's static buffer
  g_release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  Work parked{nullptr, "", 7, {}, {}};
  HANDLE h = CreateThread(nullptr, 0, TakeAStringAndWait, &parked, 0, nullptr);
  while (parked.answers.empty() && WaitForSingleObject(h, 10) == WAIT_TIMEOUT) {
  }
  const Word own = Addr(parked.blocks[""]);
  const bool alive = LiveStringBlock(own);
  SetEvent(g_release);
  WaitForSingleObject(h, INFINITE);
  CloseHandle(h);
  CloseHandle(g_release);
  const bool ended = !LiveStringBlock(own);
  int wrong = 0;
  std::map<Word, int> addresses;
  Usage first{};
  for (int wave = 0; wave < 40; ++wave) {
    std::vector<Work> work;
    for (int t = 0; t < 16; ++t) work.push_back(Work{nullptr, "", wave * 16 + t, {}, {}});
    RunThreads(work, TakeAString);
    for (const Work& w : work) {
      wrong += w.answers.size() != 1 || w.answers[0] != "short-lived " + std::to_string(w.thread);
      ++addresses[Addr(w.blocks.at(""))];
    }
    if (wave == 0) first = Measure();
  }
  const Usage last = Measure();
  // Shown, not checked: a place a buffer had may be taken by a block of the
  // same size from Wine itself, which keeps the old bytes, so a count here
  // is no proof of a leak. The parked thread above is the proof of the
  // release, and the memory bound below the proof of no growth.
  int stillLive = 0;
  for (const auto& a : addresses) stillLive += LiveStringBlock(a.first);
  std::printf(
      "  a parked thread's buffer: a live heap block %s, after the thread ended %s; 640 more threads used "
      "%d addresses, %d of them live 257-byte blocks holding a thread's text after they ended\n",
      alive ? "yes" : "no", ended ? "freed" : "still live", static_cast<int>(addresses.size()), stillLive);
  Print("after the first 16 threads and after 640", first, last);
  CHECK_EQ(wrong, 0);
  CHECK(alive);
  CHECK(ended);
  CHECK(last.pagefile <= first.pagefile + 2 * 1024 * 1024);
}

}  // namespace

HARNESS_MAIN
