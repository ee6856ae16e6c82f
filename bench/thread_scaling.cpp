// Calls per second through the exports natively, by one thread and by
// several at once over one warm cache: each thread searches its own template
// file (the same picture under another name) among 40 cached ones. The
// display is the portable platform's in-memory one. tools/bench_threads.sh
// runs it, and also builds it against another commit for an A/B of one
// thread's rates; it uses only what every version of the library has.
// Usage: zadized_thread_bench [SECONDS_PER_ROW [THREADS]]   (defaults 2, 2)
#include <zadized.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "common/bmp_bytes.h"
#include "platform/platform_portable.h"

namespace {

constexpr int kW = 1920, kH = 1080, kSide = 24, kFiles = 40;
constexpr int kRounds = 3;

std::uint32_t g_seed = 7;
std::uint32_t Next() {
  g_seed = g_seed * 1664525u + 1013904223u;
  return g_seed >> 8;
}

struct Row {
  const char* name;
  // One call; `t` is the thread's number, `k` the call's.
  std::int32_t (*call)(int t, long k);
};

std::vector<std::string> g_files;
std::string g_text = "a host's string of some forty characters";

std::int32_t Search(int t, std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2) {
  return SearchImage(g_files[static_cast<std::size_t>(t)].c_str(), x1, y1, x2, y2, 0, -1);
}

const Row kRows[] = {
    {"SearchImage 200x200, not found", [](int t, long) { return Search(t, 860, 440, 1059, 639); }},
    {"SearchImage 600x400, not found", [](int t, long) { return Search(t, 0, 0, 599, 399); }},
    {"SearchImage 1920x1080, not found", [](int t, long) { return Search(t, 0, 0, kW - 1, kH - 1); }},
    {"OpenBitmap, cached",
     [](int t, long k) {
       return OpenBitmap(g_files[static_cast<std::size_t>((t + k) % kFiles)].c_str()).width;
     }},
    {"PtrGetString",
     [](int, long) { return static_cast<std::int32_t>(PtrGetString(ZADIZED_ADDR(g_text.c_str()), 1) != 0); }},
};

double ThreadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

struct Rates {
  double wall;  // calls per second of wall-clock time, all threads summed
  double cpu;   // calls per second of each thread's own processor time, summed
};

// `threads` threads at once for `seconds`. On a machine whose cores are busy
// with other work the wall-clock rate says little; the processor-time rate
// still shows what threads cost each other (waiting on a lock, a cache line
// passed back and forth), so it stands in for the scaling free cores give.
Rates Rate(const Row& row, int threads, double seconds) {
  std::vector<long> calls(static_cast<std::size_t>(threads), 0);
  std::vector<double> elapsed(static_cast<std::size_t>(threads), 0),
      cpu(static_cast<std::size_t>(threads), 0);
  std::atomic<int> ready{0};
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t) {
    pool.emplace_back([&, t] {
      for (++ready; ready < threads;) std::this_thread::yield();
      const auto start = std::chrono::steady_clock::now();
      const double cpuStart = ThreadSeconds();
      long k = 0;
      std::int32_t sink = 0;
      // The clock is kept in a local: the threads' slots of `elapsed` share a
      // cache line, and writing them on every call would measure that line
      // passing between the cores rather than the library.
      double spent = 0;
      do {
        sink += row.call(t, k++);
        spent = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      } while (spent < seconds);
      elapsed[t] = spent;
      cpu[t] = ThreadSeconds() - cpuStart;
      calls[t] = k + (sink == 0x7FFFFFFF);
    });
  }
  Rates r{0, 0};
  for (int t = 0; t < threads; ++t) {
    pool[t].join();
    r.wall += calls[t] / elapsed[t];
    r.cpu += calls[t] / cpu[t];
  }
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 2.0;
  const int threads = argc > 2 ? std::atoi(argv[2]) : 2;
  // Flat areas and windows, as a desktop has; the template is noise, so no
  // window of the screen matches it and every search scans its whole rectangle.
  std::vector<std::uint32_t> screen(static_cast<std::size_t>(kW) * kH, 0x3A6EA5);
  for (int i = 0; i < 400; ++i) {
    const int rw = 4 + static_cast<int>(Next() % 300), rh = 4 + static_cast<int>(Next() % 200);
    const int rx = static_cast<int>(Next() % kW), ry = static_cast<int>(Next() % kH);
    const std::uint32_t c = Next() & 0xFFFFFF;
    for (int y = ry; y < ry + rh && y < kH; ++y)
      for (int x = rx; x < rx + rw && x < kW; ++x) screen[static_cast<std::size_t>(y) * kW + x] = c;
  }
  zadized::platform::SetVirtualScreen(kW, kH, screen.data());
  std::vector<std::uint32_t> noise(kSide * kSide);
  for (auto& v : noise) v = Next() & 0xFFFFFF;
  const std::vector<std::uint8_t> bytes = zadized::test::MakeBmp24(kSide, kSide, noise);
  const char* tmp = std::getenv("TMPDIR");
  for (int i = 0; i < kFiles; ++i) {
    g_files.push_back(std::string(tmp != nullptr ? tmp : "/tmp") + "/zadized-thread-bench-" +
                      std::to_string(i) + ".bmp");
    std::FILE* f = std::fopen(g_files.back().c_str(), "wb");
    if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) return 2;
    std::fclose(f);
    if (OpenBitmap(g_files.back().c_str()).fileSize <= 0) return 2;  // warm
  }
  // THREADS 1 gives the first column alone.
  if (threads > 1) {
    std::printf("%-34s %12s %12s %7s | %12s %12s %7s\n", "calls/s: wall clock", "1 thread",
                (std::to_string(threads) + " threads").c_str(), "ratio", "per CPU s", "per CPU s", "ratio");
  } else {
    std::printf("%-34s %12s\n", "calls/s", "1 thread");
  }
  for (const Row& row : kRows) {
    Rate(row, 1, seconds / 4);  // settles caches and the heap
    // One thread and many in turn, three times, so a change in the machine's
    // speed during the row (a virtual machine's neighbours, the clock rate)
    // falls on both columns alike.
    Rates one{0, 0}, many{0, 0};
    for (int round = 0; round < kRounds; ++round) {
      const Rates a = Rate(row, 1, seconds / kRounds);
      one.wall += a.wall / kRounds;
      one.cpu += a.cpu / kRounds;
      if (threads > 1) {
        const Rates b = Rate(row, threads, seconds / kRounds);
        many.wall += b.wall / kRounds;
        many.cpu += b.cpu / kRounds;
      }
    }
    if (threads > 1) {
      std::printf("%-34s %12.1f %12.1f %6.2fx | %12.1f %12.1f %6.2fx\n", row.name, one.wall, many.wall,
                  many.wall / one.wall, one.cpu, many.cpu, many.cpu / one.cpu);
    } else {
      std::printf("%-34s %12.1f\n", row.name, one.wall);
    }
    std::fflush(stdout);
  }
  for (const std::string& f : g_files) std::remove(f.c_str());
  return 0;
}
