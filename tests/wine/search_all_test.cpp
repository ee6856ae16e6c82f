// SearchImageAll (ordinal 16) through the real DLL on a painted screen: the
// list one call gives against the loop over the skip count it replaces and
// against the literal reference scan; capped and count-only calls; the codes;
// and in every call, slots filled with markers beforehand, so a write past
// maxResults, or any write where none belongs, shows.
#include <algorithm>
#include <climits>
#include <set>
#include <string>
#include <vector>

#include "common/bmp_bytes.h"
#include "harness.h"
#include "paint_screen.h"
#include "reference/literal_scan.cpp"  // the Windows programs are built from one source each

using harness::Addr;
using harness::Arg32;
using harness::Word;
using zadized::test::MakeBmp24;

namespace {

constexpr std::int32_t kMarker = 0x5A5A5A5A;

// A 5x4 block of three colours.
const std::vector<std::uint32_t> kBlock = {1, 1, 2, 3, 3,  //
                                           1, 2, 2, 3, 1,  //
                                           2, 2, 1, 1, 1,  //
                                           3, 1, 1, 2, 3};
std::vector<std::uint32_t> Color(std::uint32_t a, std::uint32_t b, std::uint32_t c) {
  std::vector<std::uint32_t> out;
  for (std::uint32_t v : kBlock) out.push_back(v == 1 ? a : v == 2 ? b : c);
  return out;
}

// Copies of the block in a grid inside kArea, every one in colours of its
// own: each third shares the template's top-left colour exactly, the others
// are far from it, so the corner test passes a third of them.
constexpr std::int32_t kColumns = 8, kRows = 6;  // 48 copies
constexpr std::int32_t kArea[4] = {20, 40, 460, 400};
std::uint32_t Corner(int k) {
  return k % 3 == 0 ? 0x112233u : 0x800000u + static_cast<std::uint32_t>(k) * 0x000301u;
}

harness::Picture& ThePicture() {
  static harness::Picture p = [] {
    harness::Picture q(harness::Tiles);
    for (int k = 0; k < kColumns * kRows; ++k) {
      const int x0 = 40 + k % kColumns * 52 + k / kColumns % 3 * 5, y0 = 60 + k / kColumns * 56 + k % 2 * 3;
      const std::vector<std::uint32_t> block = Color(Corner(k), 0x445566u + static_cast<std::uint32_t>(k),
                                                     0x778899u - static_cast<std::uint32_t>(k));
      q.Put(x0, y0, 5, block);
    }
    return q;
  }();
  return p;
}

void ShowPicture() {
  static bool shown = false;
  if (shown) return;
  shown = true;
  const harness::Picture& p = ThePicture();
  CHECK(harness::ShowOnScreen(p.width, p.height, p.px));
}

struct Template {
  std::string path;
  std::vector<std::uint8_t> bytes;
};
Template Write(const std::string& name, const std::vector<std::uint32_t>& topDown) {
  Template t{harness::Scratch(name), MakeBmp24(5, static_cast<int>(topDown.size()) / 5, topDown)};
  CHECK(harness::WriteBytes(t.path, t.bytes));
  return t;
}
const Template& Block() {
  static const Template t = Write("block.bmp", Color(0x112233, 0x445566, 0x778899));
  return t;
}

struct Call {
  std::int32_t x1 = kArea[0], y1 = kArea[1], x2 = kArea[2], y2 = kArea[3], options = 0, color = -1;
};

zadized::reference::Listing Expected(const Template& t, const Call& c) {
  zadized::reference::Screen s;
  s.width = ThePicture().width;
  s.height = ThePicture().height;
  s.topDown = ThePicture().px;
  return zadized::reference::LiteralSearchAll(t.bytes, s, c.x1, c.y1, c.x2, c.y2, c.options, c.color);
}

// Ordinal 16 with the slots at `slots` (an address, 0 for none).
std::int32_t SearchAll(const std::string& file, const Call& c, Word slots, std::int32_t maxResults) {
  const auto word = [](std::int32_t v) { return Arg32(static_cast<std::uint32_t>(v)); };
  return static_cast<std::int32_t>(
      harness::Call(16, {Addr(file.c_str()), word(c.x1), word(c.y1), word(c.x2), word(c.y2), word(c.options),
                         word(c.color), slots, word(maxResults)}));
}

// The list into marker-filled slots with room to spare: the answer, and the
// slots it wrote. Every slot past those must still hold its marker; with
// maxResults 0 or below, every slot.
std::vector<std::int32_t> List(const std::string& file, const Call& c, std::int32_t maxResults,
                               std::int32_t* answer) {
  std::vector<std::int32_t> slots(512, kMarker);
  *answer = SearchAll(file, c, Addr(slots.data()), maxResults);
  const std::size_t written = *answer > 0 && maxResults > 0 ? static_cast<std::size_t>(*answer) : 0;
  for (std::size_t k = written; k < slots.size(); ++k) {
    if (slots[k] != kMarker) {
      harness::Fail(__FILE__, __LINE__,
                    "slot " + std::to_string(k) + " written past the answer " + std::to_string(*answer));
      break;
    }
  }
  slots.resize(written);
  return slots;
}

// SearchImage with the skip count raised until it finds nothing: the loop
// that one SearchImageAll call replaces.
std::vector<std::int32_t> SkipLoop(const std::string& file, const Call& c) {
  std::vector<std::int32_t> found;
  for (std::int32_t skip = c.options & 0xFFFF; skip <= 0xFFFF; ++skip) {
    const std::int32_t r =
        harness::Search(file, c.x1, c.y1, c.x2, c.y2, (c.options & ~0xFFFF) | skip, c.color);
    if (r == -1) break;
    found.push_back(r);
  }
  return found;
}

TEST_CASE(ExportedByNameAtOrdinal16) {
  CHECK(harness::ByName("SearchImageAll") != nullptr);
  CHECK(harness::ByName("SearchImageAll") == harness::ByOrdinal(16));
}

// In pattern and shape mode every window match after the skip count is
// accepted, so one call lists exactly what the loop finds, in every order.
TEST_CASE(OneCallListsWhatTheSkipLoopFinds) {
  ShowPicture();
  const Template& t = Block();
  int longest = 0;
  for (const std::int32_t order : {0, 3 << 16, 4 << 16, 7 << 16}) {
    for (const std::int32_t skip : {0, 7}) {
      for (const std::int32_t color : {-1, 0x445566}) {
        Call c;
        c.options = order | skip;
        c.color = color;
        std::int32_t n = 0;
        const std::vector<std::int32_t> list = List(t.path, c, 512, &n);
        const std::vector<std::int32_t> loop = SkipLoop(t.path, c);
        const zadized::reference::Listing want = Expected(t, c);
        CHECK_EQ(n, static_cast<std::int32_t>(loop.size()));
        CHECK(list == loop);
        CHECK(want.code == 0 && list == want.positions);
        if (color == -1) CHECK_EQ(n, kColumns * kRows - skip);
        longest = std::max(longest, n);
      }
    }
  }
  std::printf("  up to %d sightings in one call, each list equal to its skip loop's answers\n", longest);
}

// The corner test passes a third of the copies. The loop meets a place again
// whenever the window match its skip count lands on fails the corner test;
// the one call lists each place once, as the reference does.
TEST_CASE(ToleranceModeListsEachPlaceOnce) {
  ShowPicture();
  const Template& t = Block();
  for (const std::int32_t order : {0, 7 << 16}) {
    Call c;
    c.options = order;
    c.color = 0x10000000 | 4 << 16 | 10;  // top-left corner within 4 a channel, 10 in all
    std::int32_t n = 0;
    const std::vector<std::int32_t> list = List(t.path, c, 512, &n);
    const std::vector<std::int32_t> loop = SkipLoop(t.path, c);
    const std::set<std::int32_t> places(loop.begin(), loop.end());
    std::printf("  order 0x%x: the skip loop answered %zu times, %zu places; one call listed %d\n", order,
                loop.size(), places.size(), n);
    CHECK(loop.size() > places.size());
    CHECK_EQ(static_cast<std::size_t>(n), places.size());
    CHECK_EQ(std::set<std::int32_t>(list.begin(), list.end()).size(), list.size());
    const zadized::reference::Listing want = Expected(t, c);
    CHECK(want.code == 0 && list == want.positions);
    CHECK_EQ(n, kColumns * kRows / 3);
  }
}

// A cap writes the first maxResults of the list and not a slot further; no
// slots, or a cap of 0 or below, counts without writing.
TEST_CASE(CappedAndCountOnlyCalls) {
  ShowPicture();
  const Template& t = Block();
  Call c;
  c.options = 3 << 16;
  std::int32_t total = 0;
  const std::vector<std::int32_t> all = List(t.path, c, 512, &total);
  CHECK_EQ(total, kColumns * kRows);
  for (const std::int32_t cap : {1, 2, 20, total - 1, total, total + 1}) {
    std::int32_t n = 0;
    const std::vector<std::int32_t> some = List(t.path, c, cap, &n);
    CHECK_EQ(n, std::min(cap, total));
    CHECK(std::equal(some.begin(), some.end(), all.begin()));
  }
  std::int32_t n = 0;
  for (const std::int32_t cap : {0, -1, INT_MIN}) {
    CHECK(List(t.path, c, cap, &n).empty());
    CHECK_EQ(n, total);
  }
  CHECK_EQ(SearchAll(t.path, c, 0, 512), total);
  CHECK_EQ(SearchAll(t.path, c, 0, 0), total);
  c.options |= 45;  // skip 45 of 48
  CHECK_EQ(SearchAll(t.path, c, 0, -5), 3);
  c.options |= 0xFFFF;
  CHECK(List(t.path, c, 512, &n).empty());
  CHECK_EQ(n, 0);
}

// The codes of SearchImage, and 0 where it answers -1, with nothing written.
TEST_CASE(CodesAndNothingFoundWriteNothing) {
  ShowPicture();
  const Template& t = Block();
  const Template other = Write("other.bmp", std::vector<std::uint32_t>(20, 0x010203));
  std::int32_t n = 0;
  Call c;
  CHECK(List(harness::Scratch("missing.bmp"), c, 512, &n).empty());
  CHECK_EQ(n, -2);
  Call tiny;
  tiny.x2 = tiny.x1 + 3;
  CHECK(List(t.path, tiny, 512, &n).empty());
  CHECK_EQ(n, -10);
  Call off;
  off.x1 = off.x2 = ThePicture().width + 10;
  CHECK(List(t.path, off, 512, &n).empty());
  CHECK_EQ(n, -10);
  Call absent;
  absent.color = 0x00FF00;  // no template pixel has this colour
  CHECK(List(t.path, absent, 512, &n).empty());
  CHECK_EQ(n, -100);
  CHECK_EQ(SearchAll(t.path, absent, 0, 0), -100);
  CHECK(List(other.path, c, 512, &n).empty());  // a plain 5x4 shows nowhere on the tiles
  CHECK_EQ(n, 0);
  CHECK(Expected(other, c).positions.empty());
}

#if defined(_WIN64)
// The slots' address is kept whole: slots above 4 GB are written there.
TEST_CASE(SlotsAbove4GB) {
  ShowPicture();
  auto* slots = static_cast<std::int32_t*>(
      VirtualAlloc(nullptr, 64 * 1024, MEM_RESERVE | MEM_COMMIT | MEM_TOP_DOWN, PAGE_READWRITE));
  CHECK(slots != nullptr && Addr(slots) >> 32 != 0);
  if (slots == nullptr) return;
  for (int k = 0; k < 64; ++k) slots[k] = kMarker;
  Call c;
  std::int32_t total = 0;
  const std::vector<std::int32_t> all = List(Block().path, c, 512, &total);
  CHECK_EQ(SearchAll(Block().path, c, Addr(slots), 10), 10);
  CHECK(std::equal(slots, slots + 10, all.begin()));
  for (int k = 10; k < 64; ++k) CHECK_EQ(slots[k], kMarker);
  VirtualFree(slots, 0, MEM_RELEASE);
}
#endif

}  // namespace

HARNESS_MAIN
