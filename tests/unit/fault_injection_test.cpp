// Every platform operation the image exports and the memory blocks depend on,
// made to fail one at a time through the platform table: the n-th allocation
// of a call for every n the call reaches, a file that does not open, has no
// length or delivers fewer bytes, and a capture that cannot be made. For each
// the export must give its documented failure result (never a success), leave
// the bitmap cache as it was, and leave nothing alive: blocks, device
// contexts, bitmaps and open files all back where they started, except what
// the cache itself keeps.
#include <gtest/gtest.h>
#include <zadized.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "image/bitmap_cache.h"
#include "platform/platform.h"
#include "platform/platform_portable.h"
#include "png_builder.h"
#include "search/fast_scan.h"
#include "search/held_screen.h"
#include "search/search.h"
#include "search_support.h"

namespace zadized {
namespace {

using platform::Live;
using platform::LiveCounts;

// What the injected platform does wrong, and what it saw.
struct Faults {
  int failAllocAt = 0;  // 1-based: the n-th allocation of the call answers null
  int allocs = 0;
  std::vector<std::uint32_t> allocSizes;
  std::uint32_t failedSize = 0;
  bool failedBeforeCapture = false;  // no display context had been asked for yet
  bool failOpen = false;
  bool overrideLength = false;
  std::int64_t length = 0;
  bool limitRead = false;
  std::uint32_t readLimit = 0;  // bytes delivered at most
  bool refuseFree = false;
  int displayContexts = 0;
};
Faults g;

platform::Ops FaultyOps() {
  platform::Ops o = platform::Native();
  o.allocZeroed = [](std::uint32_t bytes) -> void* {
    ++g.allocs;
    g.allocSizes.push_back(bytes);
    if (g.allocs == g.failAllocAt) {
      g.failedSize = bytes;
      g.failedBeforeCapture = g.displayContexts == 0;
      return nullptr;
    }
    return platform::Native().allocZeroed(bytes);
  };
  o.freeBlock = [](void* block) -> void* {
    return g.refuseFree ? block : platform::Native().freeBlock(block);
  };
  o.openExisting = [](const char* name) -> void* {
    return g.failOpen ? nullptr : platform::Native().openExisting(name);
  };
  o.fileLength = [](void* file) -> std::int64_t {
    return g.overrideLength ? g.length : platform::Native().fileLength(file);
  };
  o.readFile = [](void* file, void* buffer, std::uint32_t bytes) -> std::uint32_t {
    return platform::Native().readFile(file, buffer,
                                       g.limitRead && bytes > g.readLimit ? g.readLimit : bytes);
  };
  o.createDisplayDC = []() -> void* {
    ++g.displayContexts;
    return platform::Native().createDisplayDC();
  };
  return o;
}

// Installs the faulty table for one scope, with fresh counters.
struct Injected {
  test::PlatformOverride table;
  explicit Injected(const Faults& f) {
    g = f;
    table.ops = FaultyOps();
    table.Install();
  }
};

std::int64_t CacheBlocks(const BitmapCache& c) {
  return c.count + (c.records != nullptr ? 1 : 0) + (c.nameTable != nullptr ? 1 : 0);
}

// Everything alive that the cache does not own.
struct Outside {
  std::int64_t blocks, deviceContexts, bitmaps, openFiles;
  bool operator==(const Outside& o) const {
    return blocks == o.blocks && deviceContexts == o.deviceContexts && bitmaps == o.bitmaps &&
           openFiles == o.openFiles;
  }
};
Outside AliveOutside(const BitmapCache& c) {
  const LiveCounts l = Live();
  return Outside{l.blocks - CacheBlocks(c), l.deviceContexts, l.bitmaps, l.openFiles};
}
std::string Describe(const Outside& o) {
  return "blocks " + std::to_string(o.blocks) + ", DCs " + std::to_string(o.deviceContexts) + ", bitmaps " +
         std::to_string(o.bitmaps) + ", files " + std::to_string(o.openFiles);
}

// What a failed load must not change: the count, every record, and where
// every known name is found.
struct CacheState {
  std::int32_t count;
  std::vector<BitmapRecord> records;
  std::vector<std::int32_t> lookups;
};
CacheState Snapshot(BitmapCache& c, const std::vector<std::string>& names) {
  CacheState s{c.count, {}, {}};
  const BitmapRecord* r = c.records != nullptr ? c.records.load() : c.fixedRecords;
  s.records.assign(r, r + c.count);
  // A lookup that misses writes its name behind the counted entries, which
  // is allowed; only names that are cached are asked for.
  for (const std::string& n : names) s.lookups.push_back(LookupBitmapName(c, n.c_str()));
  return s;
}
void ExpectSameCache(BitmapCache& c, const CacheState& before, const std::vector<std::string>& names,
                     const std::string& what) {
  const CacheState now = Snapshot(c, names);
  EXPECT_EQ(now.count, before.count) << what;
  ASSERT_EQ(now.records.size(), before.records.size()) << what;
  EXPECT_EQ(0,
            std::memcmp(now.records.data(), before.records.data(), now.records.size() * sizeof(BitmapRecord)))
      << what;
  EXPECT_EQ(now.lookups, before.lookups) << what;
}

bool IsFailedRecord(const BitmapRecord& r) {
  // The other nine fields are 0, so a caller that reads one anyway finds nothing.
  return r.fileSize == -1 && r.fileData == nullptr && r.pixels == nullptr && r.width == 0 && r.height == 0 &&
         r.bitCount == 0 && r.topLeftColor == 0 && r.topRightColor == 0 && r.bottomLeftColor == 0 &&
         r.bottomRightColor == 0;
}

// A 5 x 3 template of three colours: file 54 + 16 * 3 = 102 bytes, map 15.
const std::vector<std::uint32_t> kTemplate = {0xFF0000, 0xFF0000, 0x00FF00, 0x0000FF, 0x0000FF,  //
                                              0xFF0000, 0x00FF00, 0x00FF00, 0x0000FF, 0xFF0000,  //
                                              0x00FF00, 0x00FF00, 0xFF0000, 0xFF0000, 0xFF0000};
constexpr std::uint32_t kTemplateFileBytes = 102;
constexpr std::uint32_t kMapBytes = 15;

// A 12 x 8 screen with the template (recoloured) at (6, 4).
void ShowScreen() {
  test::Canvas screen(12, 8, 0x101010);
  std::vector<std::uint32_t> recolored;
  for (std::uint32_t v : kTemplate)
    recolored.push_back(v == 0xFF0000 ? 0x111111 : v == 0x00FF00 ? 0x222222 : 0x333333);
  screen.Paste(6, 4, 5, recolored);
  platform::SetVirtualScreen(screen.width, screen.height, screen.px.data());
}
constexpr std::int32_t kFound = (4 - 1) * 12 + (6 - 1);

std::string TemplateFile(const std::string& name) {
  return test::WriteFile(name, test::MakeBmp24(5, 3, kTemplate));
}

// ---- OpenBitmap ----

TEST(FaultInjection, OpenBitmapAnswersFailureForEveryAllocationAndKeepsTheCache) {
  BitmapCache& cache = TheBitmapCache();
  const std::string known = TemplateFile("fi-known.bmp");
  ASSERT_NE(::OpenBitmap(known.c_str()).fileSize, -1);
  const std::string path = TemplateFile("fi-open-alloc.bmp");
  const std::vector<std::string> names = {known};
  for (int n = 1;; ++n) {
    const CacheState before = Snapshot(cache, names);
    const Outside alive = AliveOutside(cache);
    BitmapRecord r;
    {
      Faults f;
      f.failAllocAt = n;
      Injected inject(f);
      r = ::OpenBitmap(path.c_str());
    }
    if (g.allocs < n) {
      // The call no longer reaches an n-th allocation: it must now succeed.
      EXPECT_EQ(r.fileSize, static_cast<std::int32_t>(kTemplateFileBytes));
      EXPECT_EQ(cache.count, before.count + 1);
      ASSERT_GE(n, 2) << "a load must allocate its file block";
      break;
    }
    const std::string what =
        "allocation " + std::to_string(n) + " of " + std::to_string(g.failedSize) + " bytes";
    EXPECT_TRUE(IsFailedRecord(r)) << what;
    ExpectSameCache(cache, before, names, what);
    EXPECT_EQ(AliveOutside(cache), alive) << what << ": " << Describe(AliveOutside(cache));
  }
}

TEST(FaultInjection, OpenBitmapAnswersFailureWhenTheFileCannotBeOpenedOrSized) {
  BitmapCache& cache = TheBitmapCache();
  const std::string known = TemplateFile("fi-known2.bmp");
  ASSERT_NE(::OpenBitmap(known.c_str()).fileSize, -1);
  const std::vector<std::string> names = {known};
  struct Case {
    const char* what;
    Faults faults;
  };
  std::vector<Case> cases;
  Faults f;
  f.failOpen = true;
  cases.push_back({"open refused", f});
  f = Faults{};
  f.overrideLength = true;
  f.length = -1;
  cases.push_back({"length unknown", f});
  f.length = 29;
  cases.push_back({"length below the 30 header bytes", f});
  f.length = 0;
  cases.push_back({"length 0", f});
  f.length = 0x80000000LL;
  cases.push_back({"length of 2 GB", f});
  f.length = 0x100000066LL;  // 4 GB + 102: wrapped to 32 bits it would look right
  cases.push_back({"length past 4 GB", f});
  f = Faults{};
  f.limitRead = true;
  f.readLimit = 0;
  cases.push_back({"read delivers nothing", f});
  for (const Case& c : cases) {
    const std::string path = TemplateFile("fi-file.bmp");
    const CacheState before = Snapshot(cache, names);
    const Outside alive = AliveOutside(cache);
    BitmapRecord r;
    {
      Injected inject(c.faults);
      r = ::OpenBitmap(path.c_str());
    }
    EXPECT_TRUE(IsFailedRecord(r)) << c.what;
    ExpectSameCache(cache, before, names, c.what);
    EXPECT_EQ(AliveOutside(cache), alive) << c.what << ": " << Describe(AliveOutside(cache));
    if (c.faults.overrideLength && (c.faults.length < 30 || c.faults.length > 0x7FFFFFFF)) {
      EXPECT_EQ(g.allocs, 0) << c.what << ": no block for a length that cannot be a template";
    }
  }
  // Nothing about a failure is remembered: the same name loads once the fault is gone.
  EXPECT_EQ(::OpenBitmap(test::ScratchPath("fi-file.bmp").c_str()).fileSize,
            static_cast<std::int32_t>(kTemplateFileBytes));
}

// A read that stops early is a failed load, whatever the bytes that did
// arrive would describe: the template in memory would not be the file's.
TEST(FaultInjection, OpenBitmapRefusesAShortRead) {
  const std::vector<std::uint8_t> bytes = test::MakeBmp24(5, 3, kTemplate);
  for (std::uint32_t k = 0; k <= bytes.size(); ++k) {
    test::PrivateCache cache;
    const std::string path = test::WriteFile("fi-short.bmp", bytes);
    const Outside alive = AliveOutside(*cache.c);
    BitmapRecord r;
    {
      Faults f;
      f.limitRead = true;
      f.readLimit = k;
      Injected inject(f);
      r = OpenBitmap(*cache.c, path.c_str());
    }
    const std::string what = std::to_string(k) + " of " + std::to_string(bytes.size()) + " bytes delivered";
    if (k == bytes.size()) {
      EXPECT_EQ(r.fileSize, static_cast<std::int32_t>(bytes.size())) << what;
      EXPECT_EQ(cache.c->count, 1) << what;
      continue;
    }
    EXPECT_TRUE(IsFailedRecord(r)) << what;
    EXPECT_EQ(cache.c->count, 0) << what;
    EXPECT_EQ(AliveOutside(*cache.c), alive) << what << ": " << Describe(AliveOutside(*cache.c));
    // Nothing of the failure is remembered: the next full read loads.
    EXPECT_EQ(OpenBitmap(*cache.c, path.c_str()).fileSize, static_cast<std::int32_t>(bytes.size())) << what;
  }
}

// Beyond 50 files and 5000 bytes of names the cache takes larger tables; if
// they cannot be had, that call fails and the cache stays as it was.
TEST(FaultInjection, CacheGrowthThatCannotAllocateFailsThatCallOnly) {
  struct Fill {
    const char* what;
    std::int32_t files;
    std::size_t nameLength;  // of the file's own name, the folder comes on top
  };
  const auto entryBytes = [](std::size_t length) { return length <= 126 ? length + 2 : length + 6; };
  // 50 short names fill the records; names of 200 characters fill the 5000
  // bytes of names first.
  for (const Fill& fill : {Fill{"records full", 50, 20}, Fill{"names full", 50, 200}}) {
    test::PrivateCache cache;
    std::vector<std::string> names;
    const std::vector<std::uint8_t> bytes = test::MakeBmp24(5, 3, kTemplate);
    std::size_t used = 0;
    for (int i = 0; cache.c->count < fill.files; ++i) {
      std::string stem = "fi-grow-" + std::to_string(i) + "-";
      stem.append(fill.nameLength - stem.size() - 4, 'x');
      const std::string path = test::ScratchPath(stem + ".bmp");
      if (used + entryBytes(path.size()) > 5000) break;
      names.push_back(test::WriteFile(stem + ".bmp", bytes));
      used += entryBytes(path.size());
      ASSERT_NE(OpenBitmap(*cache.c, names.back().c_str()).fileSize, -1) << names.back();
    }
    ASSERT_EQ(cache.c->records, nullptr) << fill.what << ": filling must not grow the tables yet";
    ASSERT_EQ(cache.c->nameTable, nullptr) << fill.what << ": filling must not grow the tables yet";
    const std::string next = test::WriteFile(std::string(fill.nameLength - 4, 'y') + ".bmp", bytes);
    bool grew = false;
    for (int n = 1;; ++n) {
      const CacheState before = Snapshot(*cache.c, names);
      const Outside alive = AliveOutside(*cache.c);
      BitmapRecord r;
      {
        Faults f;
        f.failAllocAt = n;
        Injected inject(f);
        r = OpenBitmap(*cache.c, next.c_str());
      }
      const std::string what = std::string(fill.what) + ", allocation " + std::to_string(n);
      if (g.allocs < n) {
        EXPECT_EQ(r.fileSize, static_cast<std::int32_t>(kTemplateFileBytes)) << what;
        EXPECT_EQ(cache.c->count, before.count + 1) << what;
        break;
      }
      grew = grew || g.failedSize != kTemplateFileBytes;
      EXPECT_TRUE(IsFailedRecord(r)) << what;
      ExpectSameCache(*cache.c, before, names, what);
      EXPECT_EQ(AliveOutside(*cache.c), alive) << what << ": " << Describe(AliveOutside(*cache.c));
    }
    EXPECT_TRUE(grew) << fill.what << ": no allocation besides the file block was made to fail";
    // Every record handed out before still names a live, unchanged block.
    for (std::size_t i = 0; i < names.size(); ++i) {
      EXPECT_EQ(LookupBitmapName(*cache.c, names[i].c_str()), static_cast<std::int32_t>(i));
    }
  }
}

// ---- SearchImage ----

// The expected answer for the allocation that failed: loading the template
// (its file block, or larger cache tables) comes before the capture.
std::int32_t ExpectedForFailedAllocation() {
  if (g.failedBeforeCapture) return kNoTemplate;
  if (g.failedSize == kMapBytes) return kNoColorMap;
  return kNoScreen;  // any block the capture needs
}

void SearchWithEveryAllocationFailing(bool cached) {
  ShowScreen();
  BitmapCache& cache = TheBitmapCache();
  const std::string cachedPath = TemplateFile("fi-search-cached.bmp");
  if (cached) ASSERT_NE(::OpenBitmap(cachedPath.c_str()).fileSize, -1);
  std::vector<std::int32_t> seen;
  for (int n = 1;; ++n) {
    // An uncached template each time, so every n meets the same sequence.
    const std::string path = cached ? cachedPath : TemplateFile("fi-search-" + std::to_string(n) + ".bmp");
    const std::int32_t countBefore = cache.count;
    const Outside alive = AliveOutside(cache);
    std::int32_t result;
    {
      Faults f;
      f.failAllocAt = n;
      Injected inject(f);
      result = ::SearchImage(path.c_str(), 0, 0, 11, 7, 0, -1);
    }
    const std::string what = "allocation " + std::to_string(n);
    EXPECT_EQ(AliveOutside(cache), alive) << what << ": " << Describe(AliveOutside(cache));
    if (g.allocs < n) {
      EXPECT_EQ(result, kFound) << what << " is past the last allocation";
      break;
    }
    EXPECT_EQ(result, ExpectedForFailedAllocation()) << what << " of " << g.failedSize << " bytes";
    if (g.failedBeforeCapture) {
      EXPECT_EQ(g.displayContexts, 0) << "a template that did not load is answered before any capture";
      EXPECT_EQ(cache.count, countBefore);
    }
    seen.push_back(result);
    ASSERT_LT(n, 64) << "the search keeps allocating";
  }
  // Each kind of allocation was reached and made to fail at least once.
  if (!cached) EXPECT_NE(std::find(seen.begin(), seen.end(), kNoTemplate), seen.end());
  EXPECT_NE(std::find(seen.begin(), seen.end(), kNoScreen), seen.end());
  EXPECT_NE(std::find(seen.begin(), seen.end(), kNoColorMap), seen.end());
}

TEST(FaultInjection, SearchImageAnswersEachFailedAllocationWithItsCode) {
  SearchWithEveryAllocationFailing(false);
}

TEST(FaultInjection, SearchImageWithACachedTemplateAnswersEachFailedAllocation) {
  SearchWithEveryAllocationFailing(true);
}

TEST(FaultInjection, SearchImageAnswersMinus2WhenTheTemplateFileFailsAndCapturesNothing) {
  ShowScreen();
  BitmapCache& cache = TheBitmapCache();
  Faults open;
  open.failOpen = true;
  Faults length;
  length.overrideLength = true;
  length.length = -1;
  Faults read;
  read.limitRead = true;
  read.readLimit = 10;  // the header's sizes never arrive
  for (const Faults& f : {open, length, read}) {
    const std::string path = TemplateFile("fi-search-file.bmp");
    const std::int32_t countBefore = cache.count;
    const Outside alive = AliveOutside(cache);
    std::int32_t result;
    {
      Injected inject(f);
      result = ::SearchImage(path.c_str(), 0, 0, 11, 7, 0, -1);
    }
    EXPECT_EQ(result, kNoTemplate);
    EXPECT_EQ(g.displayContexts, 0);
    EXPECT_EQ(cache.count, countBefore);
    EXPECT_EQ(AliveOutside(cache), alive) << Describe(AliveOutside(cache));
  }
}

TEST(FaultInjection, SearchImageAnswersMinus3ForEveryCaptureFailure) {
  struct Failure {
    const char* what;
    void (*install)(platform::Ops&);
  };
  static const Failure failures[] = {
      {"no display context", [](platform::Ops& o) { o.createDisplayDC = []() -> void* { return nullptr; }; }},
      {"zero width",
       [](platform::Ops& o) {
         o.getDeviceCaps = [](void* dc, std::int32_t i) {
           return i == platform::kHorzRes ? 0 : platform::Native().getDeviceCaps(dc, i);
         };
       }},
      {"zero height",
       [](platform::Ops& o) {
         o.getDeviceCaps = [](void* dc, std::int32_t i) {
           return i == platform::kVertRes ? 0 : platform::Native().getDeviceCaps(dc, i);
         };
       }},
      {"negative size",
       [](platform::Ops& o) { o.getDeviceCaps = [](void*, std::int32_t) -> std::int32_t { return -5; }; }},
      {"no bitmap",
       [](platform::Ops& o) {
         o.createDIBSection = [](void*, const void*, void**) -> void* { return nullptr; };
       }},
      {"bitmap without pixels",
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
  ShowScreen();
  BitmapCache& cache = TheBitmapCache();
  const std::string path = TemplateFile("fi-capture.bmp");
  ASSERT_EQ(::SearchImage(path.c_str(), 0, 0, 11, 7, 0, -1), kFound);
  for (const Failure& failure : failures) {
    const Outside alive = AliveOutside(cache);
    std::int32_t result;
    {
      Injected inject(Faults{});
      failure.install(inject.table.ops);
      result = ::SearchImage(path.c_str(), 0, 0, 11, 7, 0, -1);
    }
    EXPECT_EQ(result, kNoScreen) << failure.what;
    EXPECT_EQ(std::count(g.allocSizes.begin(), g.allocSizes.end(), kMapBytes), 0)
        << failure.what << ": no colour map without a screen";
    EXPECT_EQ(AliveOutside(cache), alive) << failure.what << ": " << Describe(AliveOutside(cache));
  }
  // A display that is not there at all.
  platform::SetVirtualScreen(0, 0, nullptr);
  const Outside alive = AliveOutside(cache);
  EXPECT_EQ(::SearchImage(path.c_str(), 0, 0, 11, 7, 0, -1), kNoScreen);
  EXPECT_EQ(AliveOutside(cache), alive);
}

// ---- HoldScreen ----

// Every allocation of a hold, for a BMP and a PNG screenshot and for the
// screen, fails in turn, and so does every step of the capture: each answers
// its code (-2 for a file, -3 for the screen), leaves nothing alive and keeps
// the picture held before, which the search still finds the template on.
TEST(FaultInjection, HoldScreenAnswersItsCodeForEveryFailureAndKeepsThePictureHeld) {
  // The picture held first: a 20 x 9 screenshot with the template at (2, 5).
  test::Canvas first(20, 9, 0x404040);
  first.Paste(2, 5, 5, kTemplate);
  const std::string firstShot = test::WriteFile("fi-held-first.bmp", test::MakeBmp24(20, 9, first.px));
  const std::string templ = TemplateFile("fi-held-template.bmp");
  const std::int32_t foundFirst = (5 - 1) * 20 + (2 - 1);
  ShowScreen();
  const std::vector<std::uint8_t> bmp = test::MakeBmp24(12, 8, std::vector<std::uint32_t>(96, 0x123456));
  const std::string shots[2] = {
      test::WriteFile("fi-held.bmp", bmp),
      test::WriteFile("fi-held.png", test::EncodePng(12, 8, 2, 8, std::vector<std::uint32_t>(96, 7), {}))};
  const char* sources[3] = {shots[0].c_str(), shots[1].c_str(), nullptr};
  BitmapCache& cache = TheBitmapCache();
  for (const char* source : sources) {
    const std::int32_t code = source != nullptr ? kNoTemplate : kNoScreen;
    ASSERT_EQ(HoldScreen(firstShot.c_str()), 20);
    ASSERT_EQ(::SearchImage(templ.c_str(), 0, 0, 99, 99, 0, -1), foundFirst);
    std::int32_t result = code;
    int n = 1;
    for (; result == code && n < 100; ++n) {
      const Outside alive = AliveOutside(cache);
      {
        Faults f{};
        f.failAllocAt = n;
        Injected inject(f);
        result = HoldScreen(source);
      }
      if (result == code) {
        EXPECT_EQ(AliveOutside(cache), alive) << (source ? source : "the screen") << ", allocation " << n;
        EXPECT_EQ(::SearchImage(templ.c_str(), 0, 0, 99, 99, 0, -1), foundFirst) << "allocation " << n;
      }
    }
    EXPECT_EQ(result, 12) << (source ? source : "the screen") << " once every allocation succeeds";
    EXPECT_GT(n, 2) << "at least the picture and the slot's record were allocated";
    EXPECT_EQ(ReleaseScreen(), 0);
  }
  // Each step of the capture refused.
  ASSERT_EQ(HoldScreen(firstShot.c_str()), 20);
  for (int step = 0; step < 3; ++step) {
    const Outside alive = AliveOutside(cache);
    {
      Injected inject(Faults{});
      if (step == 0) inject.table.ops.createDisplayDC = []() -> void* { return nullptr; };
      if (step == 1)
        inject.table.ops.createDIBSection = [](void*, const void*, void**) -> void* { return nullptr; };
      if (step == 2)
        inject.table.ops.bitBlt = [](void*, std::int32_t, std::int32_t, std::int32_t, std::int32_t, void*,
                                     std::int32_t, std::int32_t, std::uint32_t) { return 0; };
      EXPECT_EQ(HoldScreen(""), kNoScreen) << "capture step " << step;
    }
    EXPECT_EQ(AliveOutside(cache), alive) << "capture step " << step;
    EXPECT_EQ(::SearchImage(templ.c_str(), 0, 0, 99, 99, 0, -1), foundFirst) << "capture step " << step;
  }
  EXPECT_EQ(ReleaseScreen(), 0);
  EXPECT_EQ(ReleaseScreen(), -1);
}

// The fast scan's own tables (the window check, the shape and near-colour
// tests, the rows of equal neighbours) are a matter of speed: without memory
// for any one of them the scan goes on without it and answers the same, and
// gives a listing of every sighting the same positions, and nothing is left
// allocated. The head start gets no budget, so the tables are asked for;
// each allocation of the call fails in turn.
TEST(FaultInjection, TheScanAnswersTheSameWithoutMemoryForItsTables) {
  test::Canvas screen(40, 24, 0x203040);
  screen.Fill(3, 4, 20, 9, 0xFFFFFF);
  screen.Fill(30, 12, 5, 3, 0xF0F0F0);
  for (int x = 0; x < 40; x += 3) screen.at(x, 20) = 0x000000;
  std::vector<std::uint32_t> t(8 * 5, 0xFFFFFF);
  for (int k = 8; k < 16; ++k) t[static_cast<std::size_t>(k)] = 0x203040;
  // Three copies, so that every mode lists more than one after the skip.
  for (const auto& [x, y] : std::vector<std::pair<int, int>>{{24, 1}, {2, 14}, {14, 14}})
    screen.Paste(x, y, 8, t);
  test::PrivateCache cache;
  const BitmapRecord templ = cache.Load("fi-tables.bmp", test::MakeBmp24(8, 5, t));
  ASSERT_NE(templ.fileSize, -1);
  test::HandScreen hand(40, 24, screen.px);
  SetHeadStartBudget(0);
  int failures = 0;
  // With the key colour (bit 19) the white pixels are transparent, and the
  // search first allocates which pixels take part.
  for (const std::int32_t options : {1, 1 | 0x80000}) {
    const bool key = options != 1;
    for (const bool all : {false, true}) {
      for (const std::int32_t color : {-1, 0x203040, 0xFFFFFF, 0x20000A10, 0x20000018}) {
        std::vector<std::int32_t> slots;
        const auto search = [&] {
          if (!all) return SearchCapture(hand.Image(), templ, 0, 0, 39, 23, options, color);
          slots.assign(40 * 24, -7);
          return SearchCaptureAll(hand.Image(), templ, 0, 0, 39, 23, options, color, slots.data(),
                                  static_cast<std::int32_t>(slots.size()));
        };
        const std::int32_t expected = search();
        const std::vector<std::int32_t> expectedSlots = slots;
        EXPECT_TRUE(!all || key || expected > 1) << "a listing of one sighting or none shows little";
        const LiveCounts before = Live();
        for (int n = 1;; ++n) {
          Faults f;
          f.failAllocAt = n;
          Injected inject(f);
          const std::int32_t got = search();
          if (g.allocs < n) break;  // the call no longer reaches an n-th allocation
          ++failures;
          // Then comes the colour map of a mapped mode.
          const bool refused = (key && n == 1) || (color < 0x20000000 && n == (key ? 2 : 1));
          const std::string what = std::string(all ? "listing, " : "") + "colour " + std::to_string(color) +
                                   ", options " + std::to_string(options) + ", allocation " +
                                   std::to_string(n);
          EXPECT_EQ(got, refused ? -100 : expected) << what;
          if (all && !refused) EXPECT_EQ(slots, expectedSlots) << what;
          EXPECT_EQ(Live().blocks, before.blocks) << what;
        }
      }
    }
  }
  SetHeadStartBudget(-1);
  EXPECT_GE(failures, 24) << "the scan's tables were not all asked for";
}

// A template without area cannot come out of the loader (it answers -2 for
// such a file); a record that has none anyway is answered -100 by the search
// before a single pixel is read, whatever the rectangle.
TEST(FaultInjection, TemplatesWithoutAreaAreNeverScanned) {
  ShowScreen();
  for (const auto& [w, h] :
       std::vector<std::pair<std::int32_t, std::int32_t>>{{0, 3}, {5, 0}, {-1, 3}, {5, -3}}) {
    std::vector<std::uint8_t> file = test::MakeBmp24(5, 3, kTemplate);
    test::Put32(file, 18, static_cast<std::uint32_t>(w));
    test::Put32(file, 22, static_cast<std::uint32_t>(h));
    const std::string path = test::WriteFile("fi-no-area.bmp", file);
    EXPECT_EQ(::SearchImage(path.c_str(), 0, 0, 11, 7, 0, -1), kNoTemplate) << w << "x" << h;

    test::PrivateCache cache;
    BitmapRecord r = cache.Load("fi-area.bmp", test::MakeBmp24(5, 3, kTemplate));
    ASSERT_NE(r.fileSize, -1);
    r.width = w;
    r.height = h;
    std::vector<std::uint8_t> bits(12 * 8 * 4, 0);
    const ScreenImage screen{nullptr, bits.data(), 12, 8, 32};
    const LiveCounts before = Live();
    EXPECT_EQ(SearchCapture(screen, r, 0, 0, 11, 7, 0, -1), kNoColorMap) << w << "x" << h;
    EXPECT_EQ(SearchCapture(screen, r, 0, 0, 11, 7, 0, 0xFF0000), kNoColorMap) << w << "x" << h;
    EXPECT_EQ(Live().blocks, before.blocks);
  }
}

// ---- Memory blocks ----

TEST(FaultInjection, CreateBufferAnswers0WhenTheSystemHasNoBlock) {
  const LiveCounts before = Live();
  {
    Faults f;
    f.failAllocAt = 1;
    Injected inject(f);
    EXPECT_EQ(::CreateBuffer(64), 0u);
    EXPECT_EQ(g.allocs, 1);
    EXPECT_EQ(::CreateBuffer(0), 0u);
    EXPECT_EQ(g.allocs, 1) << "size 0 asks the system for nothing";
  }
  EXPECT_EQ(Live().blocks, before.blocks);
}

TEST(FaultInjection, DeleteBufferAnswersTheBlockWhenTheSystemRefusesToFreeIt) {
  const std::uintptr_t block = ::CreateBuffer(16);
  ASSERT_NE(block, 0u);
  {
    Faults f;
    f.refuseFree = true;
    Injected inject(f);
    EXPECT_EQ(::DeleteBuffer(block), block);
  }
  EXPECT_EQ(::DeleteBuffer(block), 0u);
}

}  // namespace
}  // namespace zadized
