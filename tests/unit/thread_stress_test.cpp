// Many threads calling the exports at once over one process-wide cache and
// one set of files must each get exactly what one thread gets alone. The
// calls are drawn at random; each is answered as a line of text, first by one
// thread for every thread's calls, then by all threads at once under fresh
// spellings of the file names, so the files are loaded again in the race.
#include <gtest/gtest.h>
#include <zadized.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bmp_builder.h"
#include "image/bitmap_cache.h"
#include "platform/platform.h"
#include "platform/platform_portable.h"
#include "png_builder.h"
#include "search_support.h"

namespace zadized {
namespace {

constexpr std::int32_t kScreenW = 160, kScreenH = 120;
constexpr int kThreads = 8;
constexpr int kCallsPerThread = 120;
constexpr int kRounds = 3;

enum Kind { kOpen, kSearch, kSearchAll, kCapture, kBuffer, kString, kKinds };

struct Call {
  int kind, file;
  std::int32_t x1, y1, x2, y2, options, color;
};

// Files: templates cut from the screen as BMP and as PNG with see-through
// pixels, one found at three places, one cut short, one missing.
struct World {
  std::vector<std::uint32_t> screen;
  std::vector<std::string> files;  // names, the last one missing
  std::map<std::string, std::vector<std::uint8_t>> contents;
  void Put(const std::string& name, std::vector<std::uint8_t> bytes) {
    files.push_back(name);
    contents[name] = std::move(bytes);
  }
};

// The files are served from memory through the platform's file operations.
// Real ones would order the threads for ThreadSanitizer (a descriptor closed
// by one thread and opened again by another) and could hide a missing order
// in the cache.
const World* g_world = nullptr;
struct OpenFile {
  const std::vector<std::uint8_t>* bytes;
};
void* OpenInMemory(const char* name) {
  const std::string path(name);
  const auto it = g_world->contents.find(path.substr(path.rfind('/') + 1));
  return it == g_world->contents.end() ? nullptr : new OpenFile{&it->second};
}
std::int64_t LengthInMemory(void* f) {
  return static_cast<std::int64_t>(static_cast<OpenFile*>(f)->bytes->size());
}
std::uint32_t ReadInMemory(void* f, void* buffer, std::uint32_t bytes) {
  const std::vector<std::uint8_t>& b = *static_cast<OpenFile*>(f)->bytes;
  const std::uint32_t n = std::min(bytes, static_cast<std::uint32_t>(b.size()));
  std::memcpy(buffer, b.data(), n);
  return n;
}
void CloseInMemory(void* f) { delete static_cast<OpenFile*>(f); }

std::vector<std::uint32_t> Cut(const std::vector<std::uint32_t>& s, int x, int y, int w, int h) {
  std::vector<std::uint32_t> out;
  for (int j = y; j < y + h; ++j)
    for (int i = x; i < x + w; ++i) out.push_back(s[static_cast<std::size_t>(j) * kScreenW + i]);
  return out;
}

World MakeWorld() {
  World w;
  std::mt19937 rng(21);
  // Few colours, so that pattern, shape and near-colour modes meet near misses.
  for (int k = 0; k < kScreenW * kScreenH; ++k) w.screen.push_back((rng() % 6) * 0x2A1F33u);
  const std::vector<std::uint32_t> sprite = Cut(w.screen, 10, 10, 6, 5);
  for (const auto& at : {std::pair<int, int>{90, 20}, {40, 100}})
    for (int j = 0; j < 5; ++j)
      for (int i = 0; i < 6; ++i)
        w.screen[static_cast<std::size_t>(at.second + j) * kScreenW + at.first + i] = sprite[j * 6 + i];
  for (int t = 0; t < 8; ++t) {
    const int tw = 3 + t, th = 2 + t % 4, x = static_cast<int>(rng() % (kScreenW - tw)),
              y = static_cast<int>(rng() % (kScreenH - th));
    const std::vector<std::uint32_t> px = Cut(w.screen, x, y, tw, th);
    const std::string name = "stress-" + std::to_string(t);
    if (t % 2 == 0) {
      w.Put(name + ".bmp", test::MakeBmp24(tw, th, px));
    } else {
      std::vector<std::uint16_t> alpha(px.size(), 0xFFFF);
      alpha[0] = alpha[px.size() - 1] = 0;  // see-through corners
      w.Put(name + ".png", test::EncodePng(tw, th, 6, 8, px, alpha));
    }
  }
  w.Put("stress-sprite.bmp", test::MakeBmp24(6, 5, sprite));
  std::vector<std::uint8_t> cut = test::MakeBmp24(9, 9, Cut(w.screen, 0, 0, 9, 9));
  cut.resize(cut.size() - 40);
  w.Put("stress-cut.bmp", cut);
  w.files.push_back("stress-missing.bmp");
  return w;
}

std::vector<Call> MakeCalls(int thread, std::size_t files) {
  std::mt19937 rng(1000 + static_cast<unsigned>(thread));
  const std::int32_t colors[] = {ZADIZED_PATTERN, 0, 0x2A1F33, zadized_tolerance(1, 40, 90),
                                 zadized_near_colors(30, 20)};
  const std::int32_t orders[] = {0, ZADIZED_BOTTOM_UP, ZADIZED_RIGHT_TO_LEFT | ZADIZED_COLUMN_MAJOR,
                                 ZADIZED_KEY_COLOR_TRANSPARENT, ZADIZED_SKIP(1)};
  // Every file first, each thread in another order, so loads race.
  std::vector<Call> calls;
  for (std::size_t f = 0; f < files; ++f)
    calls.push_back(
        Call{kOpen, static_cast<int>((f + static_cast<std::size_t>(thread)) % files), 0, 0, 0, 0, 0, 0});
  while (static_cast<int>(calls.size()) < kCallsPerThread) {
    Call c{static_cast<int>(rng() % kKinds), static_cast<int>(rng() % files), 0, 0, kScreenW, kScreenH, 0, 0};
    if (rng() % 3 == 0) {
      c.x1 = static_cast<std::int32_t>(rng() % 80);
      c.y1 = static_cast<std::int32_t>(rng() % 60);
      c.x2 = c.x1 + static_cast<std::int32_t>(rng() % 90);
      c.y2 = c.y1 + static_cast<std::int32_t>(rng() % 70);
    }
    c.options = orders[rng() % 5];
    c.color = colors[rng() % 5];
    calls.push_back(c);
  }
  return calls;
}

// What a call answers, as text. `fileData` learns the block of each name.
std::string Answer(const Call& c, const std::string& name, int thread, int index,
                   std::map<std::string, const void*>* fileData) {
  const char* n = name.c_str();
  switch (c.kind) {
    case kOpen: {
      const ZadizedBitmapRecord r = ::OpenBitmap(n);
      if (r.fileSize != -1) (*fileData)[name] = ZADIZED_PTR(r.fileData);
      return std::to_string(r.fileSize) + " " + std::to_string(r.width) + "x" + std::to_string(r.height) +
             " " + std::to_string(r.bitCount) + " " + std::to_string(r.topLeftColor) + " " +
             std::to_string(r.bottomRightColor) + " " + std::to_string(r.pixels - r.fileData);
    }
    case kSearch:
      return std::to_string(::SearchImage(n, c.x1, c.y1, c.x2, c.y2, c.options, c.color));
    case kSearchAll: {
      std::int32_t slots[8] = {};
      std::string s = std::to_string(
          ::SearchImageAll(n, c.x1, c.y1, c.x2, c.y2, c.options, c.color, ZADIZED_ADDR(slots), 8));
      for (std::int32_t v : slots) s += " " + std::to_string(v);
      return s;
    }
    case kCapture: {
      const ZadizedScreenImage shot = ::CaptureScreen();
      std::uint64_t sum = 0;
      const auto* px = static_cast<const std::uint8_t*>(ZADIZED_PTR(shot.pixels));
      for (std::int64_t k = 0; k < std::int64_t{shot.width} * shot.height * 4; ++k) sum = sum * 31 + px[k];
      platform::Current().deleteObject(ZADIZED_PTR(shot.bitmap));
      return std::to_string(shot.width) + "x" + std::to_string(shot.height) + " " + std::to_string(sum);
    }
    case kBuffer: {
      const ZadizedAddress block = ::CreateBuffer(64);
      for (std::int32_t k = 0; k < 16; ++k)
        ::PtrPutArray(static_cast<std::uint32_t>(c.x2 * k + index), block, k, 4);
      ::PtrCopyData(block, block + 32, 16);
      std::uint32_t sum = 0;
      for (std::int32_t k = 0; k < 64; ++k) sum = sum * 7 + ::PtrGetArray(block, k, 1);
      return std::to_string(sum) + " " + std::to_string(::DeleteBuffer(block));
    }
    default: {
      // The text must still be the caller's own after other threads' calls.
      const std::string text = "thread " + std::to_string(thread) + " call " + std::to_string(index);
      const ZadizedAddress got = ::PtrGetString(ZADIZED_ADDR(text.c_str()), 1);
      std::this_thread::yield();
      return static_cast<const char*>(ZADIZED_PTR(got));
    }
  }
}

TEST(Threads, EveryThreadGetsWhatOneThreadGetsAndOneBlockPerFile) {
  const World world = MakeWorld();
  platform::SetVirtualScreen(kScreenW, kScreenH, world.screen.data());
  g_world = &world;
  test::PlatformOverride files;
  files.ops.openExisting = OpenInMemory;
  files.ops.fileLength = LengthInMemory;
  files.ops.readFile = ReadInMemory;
  files.ops.closeFile = CloseInMemory;
  files.Install();
  std::vector<std::vector<Call>> calls;
  for (int t = 0; t < kThreads; ++t) calls.push_back(MakeCalls(t, world.files.size()));
  const std::string folder = "/in-memory/";
  // One thread alone: the answers to compare with.
  std::vector<std::vector<std::string>> alone(kThreads);
  std::map<std::string, const void*> ignored;
  for (int t = 0; t < kThreads; ++t)
    for (int k = 0; k < kCallsPerThread; ++k)
      alone[t].push_back(Answer(calls[t][k], folder + world.files[calls[t][k].file], t, k, &ignored));

  for (int round = 1; round <= kRounds; ++round) {
    // A name spelled anew is a new key: every thread's first call for it loads.
    std::string spelling = folder;
    for (int r = 0; r < round; ++r) spelling += "./";
    const std::int32_t countBefore = TheBitmapCache().count;
    std::vector<std::vector<std::string>> together(kThreads);
    std::vector<std::map<std::string, const void*>> blocks(kThreads);
    std::vector<std::thread> threads;
    std::atomic<int> ready{0};
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        for (++ready; ready < kThreads;) std::this_thread::yield();
        for (int k = 0; k < kCallsPerThread; ++k)
          together[t].push_back(
              Answer(calls[t][k], spelling + world.files[calls[t][k].file], t, k, &blocks[t]));
      });
    }
    for (std::thread& th : threads) th.join();
    int wrong = 0;
    for (int t = 0; t < kThreads; ++t)
      for (int k = 0; k < kCallsPerThread; ++k) {
        if (together[t][k] == alone[t][k]) continue;
        if (++wrong <= 5)
          ADD_FAILURE() << "round " << round << ", thread " << t << ", call " << k << " (kind "
                        << calls[t][k].kind << "): " << together[t][k] << " alone: " << alone[t][k];
      }
    EXPECT_EQ(wrong, 0) << "round " << round;
    // One block per name, whichever thread asked; failures are not kept.
    std::map<std::string, const void*> kept;
    for (const auto& b : blocks)
      for (const auto& [name, data] : b) {
        const auto [it, fresh] = kept.emplace(name, data);
        EXPECT_TRUE(fresh || it->second == data) << name;
      }
    std::int32_t loadable = 0;
    for (const std::string& f : world.files) loadable += ::OpenBitmap((spelling + f).c_str()).fileSize != -1;
    EXPECT_EQ(TheBitmapCache().count, countBefore + loadable) << "round " << round;
  }
  platform::SetVirtualScreen(0, 0, nullptr);
}

}  // namespace
}  // namespace zadized
