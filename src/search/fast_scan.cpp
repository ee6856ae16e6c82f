#include "search/fast_scan.h"

#include "platform/platform.h"
#include "search/colour_counts.h"
#include "search/lanes.h"
#include "search/near_bounds.h"
#include "search/near_tests.h"
#include "search/pair_tests.h"
#include "search/plain_boxes.h"
#include "search/plain_windows.h"
#include "search/row_runs.h"
#include "search/shape_tests.h"
#include "search/window_check.h"

namespace zadized {

namespace {

// The literal head start's budget, in pixels read: a fixed part, and a part
// per template pixel for compiling the template's tests and its window
// check; a visited candidate also counts for what it costs beyond its pixels.
constexpr std::int64_t kHeadStartPixels = 4096;
constexpr std::int64_t kHeadStartPerTemplatePixel = 2;
constexpr std::int64_t kHeadStartPerCandidate = 4;
// Shape mode also works out which neighbouring screen pixels match, a whole
// screen row at a time, for every row its first windows cover: a cost that
// grows with the screen's width, not the template's, and that a template
// found in the first rows must not pay.
constexpr std::int64_t kHeadStartPerBandPixel = 2;
// Shape mode's one-third rule stays among the pair tests when it needs this
// few background pixels: then it is a cheap and sharp test of its own.
constexpr int kSmallOneThirdSet = 32;
// Column-by-column scans remember one block mask per row of a strip.
constexpr std::int64_t kMaxMaskRows = 4096;

std::int64_t g_headStartBudget = -1;

// A filter answers for eight positions at a time (Mask) and for one
// (Passes); a position it lets through is then decided by Matches. Exact
// filters decide at once, and Matches has nothing left to do.

// The pixel pairs that the latest windows to pass the pair tests failed on,
// most recent first. Such windows come in clusters (the smooth or plain area
// the template was cut from, shifted by a pixel or two), and they fail on
// the same pair, which the window check may reach only after hundreds of
// reads: tried first, it settles them in two. The check names only pairs
// that every matching window satisfies, so a window failing one does not
// match, and the answer is the check's.
class RecentFailures {
 public:
  bool Rejects(const std::uint8_t* p) {
    for (int i = 0; i < count_; ++i) {
      const PixelPair f = pairs_[i];
      if ((MaskPixel(p + f.a, 3) == MaskPixel(p + f.b, 3)) == f.equal) continue;
      for (int j = i; j > 0; --j) pairs_[j] = pairs_[j - 1];
      pairs_[0] = f;
      return true;
    }
    return false;
  }
  void Remember(const PixelPair& f) {
    if (count_ < kSlots) ++count_;
    for (int j = count_ - 1; j > 0; --j) pairs_[j] = pairs_[j - 1];
    pairs_[0] = f;
  }

 private:
  static constexpr int kSlots = 4;
  PixelPair pairs_[kSlots] = {};
  int count_ = 0;
};

// Pattern mode (and shape mode without memory for its own tests): the pair
// tests filter, the pairs recent windows failed on and then the exact window
// check (or, without memory for it, the literal test) decide.
struct PatternFilter {
  const ScanSetup& s;
  const PairTests& tests;
  WindowCheck& check;
  RecentFailures& recent;
  static constexpr bool kRuns = true;
  bool GroupsColumns() const { return false; }
  void MaskRun(const std::uint8_t* p, std::int64_t blocks, std::ptrdiff_t step, std::uint8_t* out) const {
    tests.MaskBlocks(p, blocks, step, out);
  }
  unsigned Mask(const std::uint8_t* p, std::int32_t, std::int32_t) const { return tests.Mask(p); }
  bool Passes(const std::uint8_t* p, std::int32_t, std::int32_t) const { return tests.Passes(p); }
  bool Matches(std::int32_t x, std::int32_t y, const std::uint8_t* p) const {
    if (!check.Build()) return WindowMatches(s, x, y);
    if (recent.Rejects(p)) return false;
    PixelPair failed{};
    const WindowCheck::Verdict verdict = check.Examine(p, &failed);
    if (verdict == WindowCheck::kFailsOnPair) recent.Remember(failed);
    return verdict == WindowCheck::kMatch;
  }
};

// Shape mode: the one-colour boxes (when the template has them and there is
// memory for them) and the pair tests filter, the shape tests decide eight at
// a time; one position at a time, the window check (or the literal test)
// decides.
struct ShapeFilter {
  const ScanSetup& s;
  const PlainBoxes* boxes;
  const PairTests& tests;
  const ShapeTests& shape;
  const WindowCheck& check;
  static constexpr bool kRuns = false;
  unsigned Mask(const std::uint8_t* p, std::int32_t x, std::int32_t y) const {
    unsigned m = boxes != nullptr ? boxes->Mask(x, y) : kAllLanes;
    if (m != 0) m &= tests.Mask(p);
    if (m != 0 && boxes != nullptr) m &= boxes->Rest(x, y);
    return m == 0 ? 0 : shape.Mask(p, x, y, m);
  }
  bool Passes(const std::uint8_t* p, std::int32_t x, std::int32_t y) const {
    if (boxes != nullptr && (boxes->Mask(x, y) & boxes->Rest(x, y) & 1u) == 0) return false;
    return tests.Passes(p) && (check.Ready() ? check.Matches(p) : WindowMatches(s, x, y));
  }
  bool Matches(std::int32_t, std::int32_t, const std::uint8_t*) const { return true; }
  // The boxes' verdict covers 64 positions of a row at a time: worth a
  // column-by-column scan's working out eight strips side by side.
  bool GroupsColumns() const { return boxes != nullptr; }
};

// Near-colour mode: the bound on the misses (when there is one) filters, the
// tests are exact, nothing is left to decide.
struct NearFilter {
  const NearBounds* bounds;
  const NearTests& tests;
  static constexpr bool kRuns = false;
  bool GroupsColumns() const { return false; }
  unsigned Mask(const std::uint8_t* p, std::int32_t x, std::int32_t y) const {
    const unsigned m = bounds != nullptr ? bounds->Mask(x, y) : kAllLanes;
    return m == 0 ? 0 : tests.Mask(p, m);
  }
  bool Passes(const std::uint8_t* p, std::int32_t x, std::int32_t y) const {
    return (bounds == nullptr || bounds->Passes(x, y)) && tests.Matches(p);
  }
  bool Matches(std::int32_t, std::int32_t, const std::uint8_t*) const { return true; }
};

// One scan under way: the filter, the candidates, and what accepts a
// position that matches.
template <typename Filter>
struct Scanner {
  const ScanSetup& s;
  const Filter& filter;
  const Candidates& c;
  Acceptance& acceptance;
  std::int64_t resumeAt;  // candidates before this one in scan order were visited already

  // Lanes of the eight positions from (start, y) on that may still match.
  unsigned Mask(std::int32_t start, std::int32_t y) const {
    return filter.Mask(TopLeftOf(s, start, y), start, y);
  }
  // Every fast path ends here.
  bool Visit(std::int32_t x, std::int32_t y) {
    if (resumeAt > 0 && c.IndexOf(x, y) < resumeAt) return false;
    return filter.Matches(x, y, TopLeftOf(s, x, y)) && acceptance.Accept(x, y);
  }
};

FastLoop ChooseLoop(const Candidates& c) {
  if (c.columns < kLanes) return FastLoop::kSingle;
  if (!c.order.columnsOuter) return FastLoop::kRowBlocks;
  return c.rows <= kMaxMaskRows ? FastLoop::kColumnStrips : FastLoop::kLongColumnStrips;
}

// The k-th block of eight candidate columns in visiting order: its first
// column, and the lanes that are its own. The last block is moved back onto
// the candidates; its lanes that the block before it covered are dropped.
struct Block {
  std::int32_t start;
  unsigned keep;
};
Block BlockAt(const Candidates& c, std::int64_t k) {
  if (!c.order.rightToLeft) {
    const std::int64_t bx = c.firstX + k * kLanes;
    const std::int64_t start = bx <= c.lastX - kLanes + 1 ? bx : c.lastX - kLanes + 1;
    return Block{static_cast<std::int32_t>(start), (kAllLanes << (bx - start)) & kAllLanes};
  }
  const std::int64_t top = c.lastX - k * kLanes;
  const std::int64_t start = top - kLanes + 1 >= c.firstX ? top - kLanes + 1 : c.firstX;
  return Block{static_cast<std::int32_t>(start), (1u << (top - start + 1)) - 1};
}

std::int64_t BlockCount(const Candidates& c) { return (c.columns + kLanes - 1) / kLanes; }

// Takes the lane that comes first in the visiting order out of `m`.
inline std::int32_t TakeLane(unsigned& m, bool rightToLeft) {
  const unsigned lane =
      rightToLeft ? 31u - static_cast<unsigned>(__builtin_clz(m)) : static_cast<unsigned>(__builtin_ctz(m));
  m &= ~(1u << lane);
  return static_cast<std::int32_t>(lane);
}

// Blocks a row loop filters at once, when its filter can (kRuns): the
// filter then keeps what it needs for every block in registers.
constexpr std::int64_t kRunBlocks = 32;
template <typename Filter>
void MaskRun(const Filter& filter, const std::uint8_t* p, std::int64_t blocks, std::ptrdiff_t step,
             std::uint8_t* out) {
  if constexpr (Filter::kRuns) filter.MaskRun(p, blocks, step, out);
}

// Too narrow for a block: the same tests one position at a time.
template <typename Filter>
ScanHit ScanSinglePositions(Scanner<Filter>& sc) {
  return sc.c.Walk([&](std::int32_t x, std::int32_t y) {
    return sc.filter.Passes(TopLeftOf(sc.s, x, y), x, y) && sc.Visit(x, y);
  });
}

// Row by row: each row in blocks of eight positions, walked with a pointer;
// the blocks are those of BlockAt, the whole ones first and then the last
// one, moved back onto the candidates, keeping only its own lanes.
template <typename Filter>
ScanHit ScanRowBlocks(Scanner<Filter>& sc) {
  const Candidates& c = sc.c;
  const bool rightToLeft = c.order.rightToLeft;
  const std::int64_t whole = c.columns / kLanes;
  const auto rest = static_cast<unsigned>(c.columns % kLanes);
  const std::int32_t firstStart = rightToLeft ? c.lastX - (kLanes - 1) : c.firstX;
  const std::int32_t lastStart = rightToLeft ? c.firstX : c.lastX - (kLanes - 1);
  const unsigned lastKeep = rightToLeft ? (1u << rest) - 1 : (kAllLanes << (kLanes - rest)) & kAllLanes;
  const std::ptrdiff_t step = rightToLeft ? -4 * kLanes : 4 * kLanes;
  ScanHit hit{false, 0, 0};
  const auto visitLanes = [&](unsigned m, std::int32_t start, std::int32_t y) {
    while (m != 0) {
      const std::int32_t x = start + TakeLane(m, rightToLeft);
      if (sc.Visit(x, y)) {
        hit = ScanHit{true, x, y};
        return true;
      }
    }
    return false;
  };
  std::uint8_t masks[kRunBlocks];
  for (std::int64_t i = 0; i < c.rows; ++i) {
    const std::int32_t y = c.RowAt(i);
    const std::uint8_t* p = TopLeftOf(sc.s, firstStart, y);
    for (std::int64_t k = 0; k < whole;) {
      const std::int64_t run = whole - k < kRunBlocks ? whole - k : kRunBlocks;
      MaskRun(sc.filter, p, run, step, masks);
      for (std::int64_t j = 0; j < run; ++j, ++k, p += step) {
        const std::int32_t start = firstStart + static_cast<std::int32_t>(rightToLeft ? -k : k) * kLanes;
        const unsigned m = Filter::kRuns ? masks[j] : sc.filter.Mask(p, start, y);
        if (m != 0 && visitLanes(m, start, y)) return hit;
      }
    }
    if (rest != 0 && visitLanes(sc.Mask(lastStart, y) & lastKeep, lastStart, y)) return hit;
  }
  return hit;
}

// Block b's columns from `lanes`, one after the other in visiting order, each
// down the listed rows (candidate row indices) where its lane survived.
template <typename Filter>
bool VisitListedRows(Scanner<Filter>& sc, const Block& b, unsigned lanes, const std::int32_t* rows,
                     const std::uint8_t* masks, std::int32_t count, ScanHit* hit) {
  while (lanes != 0) {
    const std::int32_t lane = TakeLane(lanes, sc.c.order.rightToLeft);
    const std::int32_t x = b.start + lane;
    for (std::int32_t r = 0; r < count; ++r) {
      if ((masks[r] >> lane & 1u) == 0) continue;
      const std::int32_t y = sc.c.RowAt(rows[r]);
      if (sc.Visit(x, y)) {
        *hit = ScanHit{true, x, y};
        return true;
      }
    }
  }
  return false;
}

// Column by column: a strip of eight columns is filtered row by row, then its
// columns are visited one after the other from the rows where some lane
// survived. Columns too long to remember are filtered again for each lane.
template <typename Filter>
ScanHit ScanColumnStrips(Scanner<Filter>& sc) {
  const Candidates& c = sc.c;
  const bool remember = c.rows <= kMaxMaskRows;
  std::int32_t liveRows[kMaxMaskRows];
  std::uint8_t liveMasks[kMaxMaskRows];
  const std::int64_t blocks = BlockCount(c);
  // From one row of the visiting order to the next; the screen's rows are
  // stored bottom-up.
  const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(sc.s.width) * 4;
  const std::ptrdiff_t rowStep = c.order.bottomUp ? stride : -stride;
  for (std::int64_t k = 0; k < blocks; ++k) {
    const Block b = BlockAt(c, k);
    unsigned lanes = b.keep;
    std::int32_t live = 0;
    if (remember) {
      unsigned any = 0;
      std::uint8_t masks[kRunBlocks];
      for (std::int64_t i = 0; i < c.rows;) {
        const std::int64_t run = c.rows - i < kRunBlocks ? c.rows - i : kRunBlocks;
        MaskRun(sc.filter, TopLeftOf(sc.s, b.start, c.RowAt(i)), run, rowStep, masks);
        for (std::int64_t j = 0; j < run; ++j, ++i) {
          const unsigned m = (Filter::kRuns ? masks[j] : sc.Mask(b.start, c.RowAt(i))) & b.keep;
          if (m == 0) continue;
          liveRows[live] = static_cast<std::int32_t>(i);
          liveMasks[live++] = static_cast<std::uint8_t>(m);
          any |= m;
        }
      }
      lanes &= any;
    }
    ScanHit hit{false, 0, 0};
    if (remember) {
      if (VisitListedRows(sc, b, lanes, liveRows, liveMasks, live, &hit)) return hit;
      continue;
    }
    while (lanes != 0) {
      const std::int32_t x = b.start + TakeLane(lanes, c.order.rightToLeft);
      for (std::int64_t i = 0; i < c.rows; ++i) {
        const std::int32_t y = c.RowAt(i);
        if ((sc.Mask(b.start, y) >> (x - b.start) & 1u) != 0 && sc.Visit(x, y)) return ScanHit{true, x, y};
      }
    }
  }
  return ScanHit{false, 0, 0};
}

// Memory for ScanColumnGroups: per row of a group, its eight blocks' masks;
// then, block by block, the rows where that block has a lane alive.
struct GroupRows {
  std::uint64_t masks[kMaxMaskRows];
  std::int32_t rows[kMaxMaskRows];
  std::int32_t blockRows[kMaxMaskRows];
  std::uint8_t blockMasks[kMaxMaskRows];
};

// The visits of one group's block j: its columns one after the other, each
// down the rows where its lane survived.
template <typename Filter>
bool VisitGroupBlock(Scanner<Filter>& sc, const Block& b, int j, std::int32_t live, GroupRows& g,
                     ScanHit* hit) {
  std::int32_t count = 0;
  unsigned lanes = 0;
  for (std::int32_t r = 0; r < live; ++r) {
    const auto m = static_cast<std::uint8_t>(g.masks[r] >> (8 * j));
    if (m == 0) continue;
    g.blockRows[count] = g.rows[r];
    g.blockMasks[count++] = m;
    lanes |= m;
  }
  return VisitListedRows(sc, b, lanes, g.blockRows, g.blockMasks, count, hit);
}

// Column by column as ScanColumnStrips visits, but eight strips side by side
// are filtered at a time, row by row across all of them: the screen is read
// along its rows and the filters' memory of a row's verdict serves the
// strips side by side, as in a row-by-row scan. Each position is visited in
// the same order; the masks are only worked out sooner.
template <typename Filter>
ScanHit ScanColumnGroups(Scanner<Filter>& sc, GroupRows& g) {
  const Candidates& c = sc.c;
  const std::int64_t blocks = BlockCount(c);
  // Groups of one, one, two, four and then eight strips: a template found in
  // the first columns is not made to wait for eight strips' masks.
  std::int64_t size = 1;
  for (std::int64_t first = 0; first < blocks; first += size) {
    size = first < 2 ? 1 : first < kLanes ? first : kLanes;
    const int n = static_cast<int>(blocks - first < size ? blocks - first : size);
    Block b[kLanes];
    for (int j = 0; j < n; ++j) b[j] = BlockAt(c, first + j);
    std::int32_t live = 0;
    for (std::int64_t i = 0; i < c.rows; ++i) {
      const std::int32_t y = c.RowAt(i);
      std::uint64_t m = 0;
      for (int j = 0; j < n; ++j)
        m |= static_cast<std::uint64_t>(sc.Mask(b[j].start, y) & b[j].keep) << (8 * j);
      if (m == 0) continue;
      g.rows[live] = static_cast<std::int32_t>(i);
      g.masks[live++] = m;
    }
    ScanHit hit{false, 0, 0};
    for (int j = 0; j < n; ++j) {
      if (VisitGroupBlock(sc, b[j], j, live, g, &hit)) return hit;
    }
  }
  return ScanHit{false, 0, 0};
}

template <typename Filter>
ScanHit Dispatch(Scanner<Filter>& sc) {
  switch (ChooseLoop(sc.c)) {
    case FastLoop::kSingle:
      return ScanSinglePositions(sc);
    case FastLoop::kRowBlocks:
      return ScanRowBlocks(sc);
    case FastLoop::kColumnStrips: {
      if (!sc.filter.GroupsColumns()) return ScanColumnStrips(sc);
      const platform::Ops& os = platform::Current();
      auto* g = static_cast<GroupRows*>(os.allocZeroed(sizeof(GroupRows)));
      if (g == nullptr) return ScanColumnStrips(sc);
      const ScanHit hit = ScanColumnGroups(sc, *g);
      os.freeBlock(g);
      return hit;
    }
    default:
      return ScanColumnStrips(sc);
  }
}

// The first candidates go through the literal test, for about as many pixels
// as compiling, ranking and checking the template would cost several times
// over: a template found there is answered as fast as the literal scan
// answers it, and one found later pays at most a small share extra.
struct HeadStart {
  bool finished;  // the answer is known: hit, or every candidate visited
  ScanHit hit;
  std::int64_t visited;  // candidates visited, in scan order
};
HeadStart LiteralHeadStart(const ScanSetup& s, const Candidates& c, Acceptance& acceptance) {
  const std::int64_t templatePixels = static_cast<std::int64_t>(s.templateWidth) * s.templateHeight;
  const std::int64_t band = s.shape ? static_cast<std::int64_t>(s.width) * s.templateHeight : 0;
  const std::int64_t budget =
      g_headStartBudget >= 0
          ? g_headStartBudget
          : kHeadStartPixels + kHeadStartPerTemplatePixel * templatePixels + kHeadStartPerBandPixel * band;
  std::int64_t spent = 0, visited = 0;
  bool outOfBudget = false;
  const ScanHit hit = c.Walk([&](std::int32_t x, std::int32_t y) {
    if (spent >= budget) {
      outOfBudget = true;
      return true;
    }
    ++visited;
    std::int64_t read = 0;
    const bool matches = WindowMatches(s, x, y, &read);
    spent += read + kHeadStartPerCandidate;
    return matches && acceptance.Accept(x, y);
  });
  if (outOfBudget) return HeadStart{false, ScanHit{false, 0, 0}, visited};
  return HeadStart{true, hit, visited};
}

}  // namespace

void SetHeadStartBudget(std::int64_t pixels) { g_headStartBudget = pixels; }

FastScanPlan PlanFastScan(const ScanSetup& s, const Rectangle& r, const ScanOrder& order) {
  const Candidates c(r, s.templateWidth, s.templateHeight, order);
  const FastLoop loop = ChooseLoop(c);
  if (s.colors != nullptr) return FastScanPlan{0, 0, loop};
  const PairTests tests(s);
  if (!s.shape) return FastScanPlan{tests.Count(), tests.BackgroundPixels(), loop};
  // The boxes as the scan weighs them: on the windows its ranked tests let
  // through.
  WindowCheck check(s);
  PairTests ranked(s, kSmallOneThirdSet);
  ranked.Rank(c, check.Ready() ? &check : nullptr);
  const PlainBoxes boxes(s, c, &ranked);
  return FastScanPlan{tests.Count(), tests.BackgroundPixels(), loop, boxes.Ready() ? boxes.Boxes() : 0};
}

ScanHit FastScan(const ScanSetup& s, const BitmapRecord& templ, const Rectangle& r, const ScanOrder& order,
                 const ColorTest& test, Sightings* list) {
  const Candidates c(r, s.templateWidth, s.templateHeight, order);
  Acceptance acceptance(s, templ, order, test, list);
  const HeadStart head = LiteralHeadStart(s, c, acceptance);
  if (head.finished) return head.hit;

  if (PlainWindows::Applies(s)) {
    const PlainWindows plain(s, c, PlainColour::For(s, templ, order, test));
    if (plain.Ready()) return plain.Scan(acceptance, head.visited);
  }
  if (s.colors != nullptr) {
    NearTests tests(s);
    if (!tests.Ready()) {
      // Without memory for the tests, the rest of the way literally.
      return c.Walk([&](std::int32_t x, std::int32_t y) {
        return c.IndexOf(x, y) >= head.visited && WindowMatches(s, x, y) && acceptance.Accept(x, y);
      });
    }
    tests.Rank(c);
    const NearBounds bounds(s, c);
    const NearFilter filter{bounds.Ready() ? &bounds : nullptr, tests};
    Scanner<NearFilter> sc{s, filter, c, acceptance, head.visited};
    return Dispatch(sc);
  }

  // Pattern mode builds its check only when a window first needs it: a
  // large template on a screen the pair tests reject wholly never does.
  WindowCheck check(s, !s.shape);
  if (s.shape) {
    ShapeTests shape(s);
    if (shape.Ready()) {
      const RowRuns runs(s, c.firstY, c.lastY + s.templateHeight - 1);
      if (runs.Ready()) shape.UseRuns(&runs);
      const ColourCounts counts(s, c.firstY, c.lastY + s.templateHeight - 1);
      if (counts.Ready()) shape.UseCounts(&counts);
      PairTests tests(s, kSmallOneThirdSet);
      tests.Rank(c, check.Ready() ? &check : nullptr);
      const PlainBoxes boxes(s, c, &tests, runs.Ready() ? &runs : nullptr);
      const ShapeFilter filter{s, boxes.Ready() ? &boxes : nullptr, tests, shape, check};
      Scanner<ShapeFilter> sc{s, filter, c, acceptance, head.visited};
      return Dispatch(sc);
    }
  }
  PairTests tests(s);
  tests.Rank(c, &check);
  RecentFailures recent;
  const PatternFilter filter{s, tests, check, recent};
  Scanner<PatternFilter> sc{s, filter, c, acceptance, head.visited};
  return Dispatch(sc);
}

}  // namespace zadized
