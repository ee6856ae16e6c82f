#include "search/fast_scan.h"

#include <cstddef>

// Every processor the DLL targets has SSE2 (Windows itself needs it since
// Windows 8); the build asks for it and there is no other lane path.
#if !defined(__SSE2__)
#error "the fast scan needs SSE2"
#endif
#include <emmintrin.h>

#include "image/pixel.h"
#include "search/window_check.h"

namespace zadized {

namespace {

// Eight positions per block: two SSE2 registers of four 32-bit pixels.
constexpr int kLanes = 8;
constexpr unsigned kAllLanes = (1u << kLanes) - 1;
// Candidate pair tests per kind (equal, differ), and screen samples used to
// rank them. Enough to reject nearly every position of a real screen within
// two or three tests, few enough that ranking costs microseconds.
constexpr int kPoolEach = 24;
// Tests learnt from sampled positions that passed all the others: on
// periodic screens only a test at the one pixel that breaks the period
// rejects anything, and spreading the pool evenly would miss it.
constexpr int kLearnt = 16;
// Sampled windows examined for it at most. The examination stops at the
// first failing pixel, which on a screen that rejects little is far in.
constexpr int kLearningTries = 24;
constexpr int kMaxTests = 2 * kPoolEach + 1 + kLearnt;
constexpr int kSampleWords = 4;
constexpr int kMaxSamples = 64 * kSampleWords;
// The one-third stage needs limit + 1 background pixels; beyond this many it
// is left to the literal test.
constexpr int kMaxShapeSet = 2048;
// The literal head start's budget, in pixels read: a fixed part, and a part
// per template pixel for compiling the template's tests and its window
// check; a visited candidate also counts for what it costs beyond its pixels.
constexpr std::int64_t kHeadStartPixels = 4096;
constexpr std::int64_t kHeadStartPerTemplatePixel = 2;
constexpr std::int64_t kHeadStartPerCandidate = 4;
// Column-by-column scans remember one block mask per row of a strip.
constexpr std::int64_t kMaxMaskRows = 4096;

enum TestKind : std::uint8_t {
  kEqual,       // pixels a and b show the same colour
  kDiffer,      // they do not
  kAnyDiffers,  // some pixel of the program's set differs from pixel a
};

struct PairTest {
  std::ptrdiff_t a;
  std::ptrdiff_t b;
  TestKind kind;
};

// Byte offsets from a window's top-left pixel, so one compiled program serves
// every position.
struct Program {
  PairTest tests[kMaxTests];
  int count = 0;
  // Shape mode's one-third rule (a kAnyDiffers test): at least one pixel of
  // `set` must differ from the first marked pixel, or more than a third of
  // the background would be counted in the shape's colour.
  std::ptrdiff_t set[kMaxShapeSet];
  int setCount = 0;
};

inline ColorValue Pix(const std::uint8_t* p) { return MaskPixel(p, 3); }

// Bit i: the pixels at p + 4i and q + 4i have the same blue, green and red.
inline unsigned EqualLanes(const std::uint8_t* p, const std::uint8_t* q) {
  const __m128i a0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i b0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
  const __m128i a1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
  const __m128i b1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 16));
  // Shifting left by 8 drops the fourth byte, which never takes part.
  const __m128i d0 = _mm_slli_epi32(_mm_xor_si128(a0, b0), 8);
  const __m128i d1 = _mm_slli_epi32(_mm_xor_si128(a1, b1), 8);
  const __m128i zero = _mm_setzero_si128();
  const auto lo = static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(d0, zero))));
  const auto hi = static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(d1, zero))));
  return lo | hi << 4;
}

// Lanes whose positions may still pass the literal test. Reads 8 positions'
// windows starting at p; the caller keeps all of them on the screen.
// The lanes among `live` that pass one test.
inline unsigned PassingLanes(const Program& g, const PairTest& pt, const std::uint8_t* p, unsigned live) {
  if (pt.kind == kAnyDiffers) {
    unsigned differs = 0;
    for (int i = 0; i < g.setCount && (differs & live) != live; ++i) {
      differs |= ~EqualLanes(p + g.set[i], p + pt.a) & kAllLanes;
    }
    return live & differs;
  }
  const unsigned e = EqualLanes(p + pt.a, p + pt.b);
  return live & (pt.kind == kEqual ? e : ~e);
}

unsigned BlockMask(const Program& g, const std::uint8_t* p) {
  unsigned live = kAllLanes;
  for (int t = 0; t < g.count && live != 0; ++t) live = PassingLanes(g, g.tests[t], p, live);
  return live;
}

bool TestPasses(const Program& g, const PairTest& pt, const std::uint8_t* p) {
  if (pt.kind == kAnyDiffers) {
    const ColorValue shape = Pix(p + pt.a);
    for (int i = 0; i < g.setCount; ++i) {
      if (Pix(p + g.set[i]) != shape) return true;
    }
    return false;
  }
  return (Pix(p + pt.a) == Pix(p + pt.b)) == (pt.kind == kEqual);
}

bool PositionPasses(const Program& g, const std::uint8_t* p) {
  for (int t = 0; t < g.count; ++t) {
    if (!TestPasses(g, g.tests[t], p)) return false;
  }
  return true;
}

// Takes exactly `want` of `total` items, spread evenly: item j is taken when
// (j * want) mod total < want, kept as a running remainder so that walking a
// large template costs no division per pixel.
class EvenPick {
 public:
  EvenPick(std::int64_t want, std::int64_t total) : want_(want < total ? want : total), total_(total) {}
  bool Next() {
    const bool take = remainder_ < want_;
    remainder_ += want_;
    if (remainder_ >= total_) remainder_ -= total_;
    return take;
  }

 private:
  std::int64_t want_;
  std::int64_t total_;
  std::int64_t remainder_ = 0;
};

class Compiler {
 public:
  Compiler(const ScanSetup& s, Program& g)
      : s_(s), g_(g), stride_(static_cast<std::ptrdiff_t>(s.width) * 4) {}

  // What the ranking learns from: the exact window check, or nothing.
  void LearnFrom(const WindowCheck* check) { check_ = check; }

  void Pattern() {
    const std::uint8_t* m = s_.map;
    const std::int32_t tw = s_.templateWidth;
    const std::int64_t n = static_cast<std::int64_t>(tw) * s_.templateHeight;
    std::int64_t rep[256];
    for (std::int64_t& r : rep) r = -1;
    // Same number below 255: the same screen value. Number 255 stands for
    // every value past the 255th, so two 255s say nothing about each other.
    std::int64_t equal = 0;
    for (std::int64_t k = 0; k < n; ++k) {
      if (rep[m[k]] < 0) {
        rep[m[k]] = k;
      } else if (m[k] != 255) {
        ++equal;
      }
    }
    EvenPick pickEqual(kPoolEach, equal);
    for (std::int64_t k = 0; k < n && equal > 0; ++k) {
      if (m[k] != 255 && rep[m[k]] != k && pickEqual.Next()) Add(k, rep[m[k]], kEqual);
    }

    // Different numbers, at least one below 255: different screen values.
    // Neighbors across an edge of the template first (a uniform screen area
    // fails them at once), then the first pixels of the first classes. Both
    // are walked twice, to count and then to pick.
    std::int64_t classes = 0;
    for (const std::int64_t r : rep) classes += r >= 0 ? 1 : 0;
    const std::int64_t reps = classes < 16 ? classes : 16;
    const auto eachDifferPair = [&](const auto& take) {
      std::int32_t column = 0;
      for (std::int64_t k = 0; k < n; ++k) {
        if (column + 1 < tw && m[k] != m[k + 1]) take(k, k + 1);
        if (k + tw < n && m[k] != m[k + tw]) take(k, k + tw);
        if (++column == tw) column = 0;
      }
      for (std::int64_t i = 0; i < reps; ++i) {
        for (std::int64_t j = i + 1; j < reps; ++j) {
          if (rep[i] >= 0 && rep[j] >= 0) take(rep[i], rep[j]);
        }
      }
    };
    std::int64_t differ = 0;
    eachDifferPair([&](std::int64_t, std::int64_t) { ++differ; });
    if (differ == 0) return;
    EvenPick pickDiffer(kPoolEach, differ);
    eachDifferPair([&](std::int64_t a, std::int64_t b) {
      if (pickDiffer.Next()) Add(a, b, kDiffer);
    });
  }

  void Shape() {
    const std::uint8_t* m = s_.map;
    const std::int64_t n = static_cast<std::int64_t>(s_.templateWidth) * s_.templateHeight;
    std::int64_t first = -1, unmarked = 0, after = 0, marked = 0;
    for (std::int64_t k = 0; k < n; ++k) {
      if (m[k] != 0) {
        if (first < 0) first = k;
        ++marked;
      } else {
        ++unmarked;
        if (first >= 0) ++after;
      }
    }
    if (first < 0) return;
    // Every marked pixel shows the first marked pixel's colour.
    EvenPick pickEqual(kPoolEach, marked - 1);
    for (std::int64_t k = first + 1; k < n && marked > 1; ++k) {
      if (m[k] != 0 && pickEqual.Next()) Add(k, first, kEqual);
    }

    // Background after the first marked pixel is what the rule counts; if
    // more of it than a third of all background could be in the shape's
    // colour, any limit + 1 of those pixels must hold one that is not.
    const std::int64_t limit = unmarked / 3;
    if (after > limit && limit + 1 <= kMaxShapeSet) {
      g_.tests[g_.count++] = PairTest{Offset(first), 0, kAnyDiffers};
      EvenPick pickSet(limit + 1, after);
      for (std::int64_t k = first + 1; k < n; ++k) {
        if (m[k] == 0 && pickSet.Next()) g_.set[g_.setCount++] = Offset(k);
      }
    }
  }

  // Puts the most selective tests first, judged on positions of this screen:
  // each next test is the one that rejects most of the sampled positions the
  // earlier ones let through.
  void Rank(const Candidates& c) {
    const std::int64_t columns = c.columns;
    const std::int64_t total = c.columns * c.rows;
    std::int64_t samples = total / 256;
    if (samples < 64) samples = 64;
    if (samples > kMaxSamples) samples = kMaxSamples;
    if (samples > total) samples = total;

    // Wide enough for blocks, the samples are blocks of eight positions,
    // measured eight at a time as the scan will run them.
    const bool blocks = columns >= kLanes;
    if (blocks) samples = kMaxSamples;
    const std::int64_t spots = blocks ? samples / kLanes : samples;

    std::uint64_t pass[kMaxTests][kSampleWords] = {};
    const std::uint8_t* at[kMaxSamples];
    const std::int64_t step = total / spots > 0 ? total / spots : 1;
    for (std::int64_t i = 0; i < spots; ++i) {
      // A little jitter, so stripes of the screen's period do not line up
      // with the samples.
      const std::int64_t jitter = step > 1 ? static_cast<std::int64_t>((i * 2654435761u) % step) : 0;
      const std::int64_t linear = (i * step + jitter) % total;
      std::int64_t x = c.firstX + linear % columns;
      if (blocks && x > c.lastX - (kLanes - 1)) x = c.lastX - (kLanes - 1);
      const std::uint8_t* p =
          TopLeft(static_cast<std::int32_t>(x), static_cast<std::int32_t>(c.firstY + linear / columns));
      if (!blocks) {
        at[i] = p;
        continue;
      }
      for (int lane = 0; lane < kLanes; ++lane) at[i * kLanes + lane] = p + 4 * lane;
    }
    const auto measure = [&](int t) {
      if (blocks) {
        for (std::int64_t i = 0; i < spots; ++i) {
          const std::uint64_t lanes = PassingLanes(g_, g_.tests[t], at[i * kLanes], kAllLanes);
          pass[t][i / 8] |= lanes << (8 * (i % 8));
        }
        return;
      }
      for (std::int64_t i = 0; i < samples; ++i) {
        if (TestPasses(g_, g_.tests[t], at[i])) pass[t][i / 64] |= 1ull << (i % 64);
      }
    };
    std::uint64_t survivors[kSampleWords] = {};
    for (std::int64_t i = 0; i < samples; ++i) survivors[i / 64] |= 1ull << (i % 64);
    for (int t = 0; t < g_.count; ++t) {
      measure(t);
      for (int w = 0; w < kSampleWords; ++w) survivors[w] &= pass[t][w];
    }
    // Learn from the sampled positions that every test lets through: the
    // pair of pixels that fails each of them. A sampled window that matches
    // means the template is on the screen, and there is little left to learn.
    for (int learnt = 0, tries = 0;
         learnt < kLearnt && tries < kLearningTries && g_.count < kMaxTests && check_ != nullptr; ++tries) {
      int i = -1;
      for (int w = 0; w < kSampleWords && i < 0; ++w) {
        if (survivors[w] != 0) i = 64 * w + __builtin_ctzll(survivors[w]);
      }
      if (i < 0) break;
      survivors[i / 64] &= ~(1ull << (i % 64));
      PixelPair found{};
      const WindowCheck::Verdict verdict = check_->Examine(at[i], &found);
      if (verdict == WindowCheck::kMatch) break;
      if (verdict == WindowCheck::kFailsOnCount) continue;  // no pair expresses the one-third rule
      g_.tests[g_.count] = PairTest{found.a, found.b, found.equal ? kEqual : kDiffer};
      measure(g_.count);
      for (int w = 0; w < kSampleWords; ++w) survivors[w] &= pass[g_.count][w];
      ++g_.count;
      ++learnt;
    }

    std::uint64_t alive[kSampleWords];
    for (auto& w : alive) w = ~0ull;
    bool used[kMaxTests] = {};
    PairTest ordered[kMaxTests];
    for (int round = 0; round < g_.count; ++round) {
      int best = -1;
      int bestAlive = 0, bestAlone = 0;
      for (int t = 0; t < g_.count; ++t) {
        if (used[t]) continue;
        int stillAlive = 0, alone = 0;
        for (int w = 0; w < kSampleWords; ++w) {
          stillAlive += __builtin_popcountll(alive[w] & pass[t][w]);
          alone += __builtin_popcountll(pass[t][w]);
        }
        if (best < 0 || stillAlive < bestAlive || (stillAlive == bestAlive && alone < bestAlone)) {
          best = t;
          bestAlive = stillAlive;
          bestAlone = alone;
        }
      }
      used[best] = true;
      ordered[round] = g_.tests[best];
      for (int w = 0; w < kSampleWords; ++w) alive[w] &= pass[best][w];
    }
    for (int t = 0; t < g_.count; ++t) g_.tests[t] = ordered[t];
  }

  const std::uint8_t* TopLeft(std::int32_t x, std::int32_t y) const {
    return s_.screen + static_cast<std::ptrdiff_t>(s_.height - 1 - y) * stride_ +
           static_cast<std::ptrdiff_t>(x) * 4;
  }

 private:
  // Map byte k is the pixel in column k mod tw and, from the window's top,
  // row th - 1 - k div tw.
  std::ptrdiff_t Offset(std::int64_t k) const {
    const std::int64_t dx = k % s_.templateWidth;
    const std::int64_t fromTop = s_.templateHeight - 1 - k / s_.templateWidth;
    return static_cast<std::ptrdiff_t>(dx * 4) - static_cast<std::ptrdiff_t>(fromTop) * stride_;
  }

  void Add(std::int64_t a, std::int64_t b, TestKind kind) {
    g_.tests[g_.count++] = PairTest{Offset(a), Offset(b), kind};
  }

  const ScanSetup& s_;
  Program& g_;
  std::ptrdiff_t stride_;
  const WindowCheck* check_ = nullptr;
};

// The tests a template implies, before they are ranked on a screen.
void Compile(Compiler& compiler, const ScanSetup& s) {
  if (s.shape) {
    compiler.Shape();
  } else {
    compiler.Pattern();
  }
}

FastLoop ChooseLoop(const Candidates& c) {
  if (c.columns < kLanes) return FastLoop::kSingle;
  if (!c.order.columnsOuter) return FastLoop::kRowBlocks;
  return c.rows <= kMaxMaskRows ? FastLoop::kColumnStrips : FastLoop::kLongColumnStrips;
}

// One scan under way: the ranked tests, the candidates, the exact check and
// what accepts a position that passes it.
struct Scanner {
  const ScanSetup& s;
  const Program& g;
  const Compiler& compiler;
  const Candidates& c;
  const WindowCheck& check;
  Acceptance& acceptance;
  std::int64_t resumeAt;  // candidates before this one in scan order were visited already

  // Lanes of the eight positions from (start, y) on that may still match.
  unsigned Mask(std::int32_t start, std::int32_t y) const { return BlockMask(g, compiler.TopLeft(start, y)); }
  // Every fast path ends here.
  bool Visit(std::int32_t x, std::int32_t y) {
    if (resumeAt > 0 && c.IndexOf(x, y) < resumeAt) return false;
    const bool matches = check.Ready() ? check.Matches(compiler.TopLeft(x, y)) : WindowMatches(s, x, y);
    return matches && acceptance.Accept(x, y);
  }
};

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

// Too narrow for a block: the same tests one position at a time.
ScanHit ScanSinglePositions(Scanner& sc) {
  return sc.c.Walk([&](std::int32_t x, std::int32_t y) {
    return PositionPasses(sc.g, sc.compiler.TopLeft(x, y)) && sc.Visit(x, y);
  });
}

// Row by row: each row in blocks of eight positions, walked with a pointer;
// the blocks are those of BlockAt, the whole ones first and then the last
// one, moved back onto the candidates, keeping only its own lanes.
ScanHit ScanRowBlocks(Scanner& sc) {
  const Candidates& c = sc.c;
  const bool rightToLeft = c.order.rightToLeft;
  const std::int64_t whole = c.columns / kLanes;
  const auto rest = static_cast<unsigned>(c.columns % kLanes);
  const std::int32_t firstStart = rightToLeft ? c.lastX - (kLanes - 1) : c.firstX;
  const std::int32_t lastStart = rightToLeft ? c.firstX : c.lastX - (kLanes - 1);
  const unsigned lastKeep = rightToLeft ? (1u << rest) - 1 : (kAllLanes << (kLanes - rest)) & kAllLanes;
  const std::ptrdiff_t step = rightToLeft ? -4 * kLanes : 4 * kLanes;
  const auto visitLanes = [&](unsigned m, std::int32_t start, std::int32_t y, ScanHit* hit) {
    while (m != 0) {
      const std::int32_t x = start + TakeLane(m, rightToLeft);
      if (sc.Visit(x, y)) {
        *hit = ScanHit{true, x, y};
        return true;
      }
    }
    return false;
  };
  ScanHit hit{false, 0, 0};
  for (std::int64_t i = 0; i < c.rows; ++i) {
    const std::int32_t y = c.RowAt(i);
    const std::uint8_t* p = sc.compiler.TopLeft(firstStart, y);
    for (std::int64_t k = 0; k < whole; ++k, p += step) {
      const unsigned m = BlockMask(sc.g, p);
      if (m != 0 &&
          visitLanes(m, firstStart + static_cast<std::int32_t>(rightToLeft ? -k : k) * kLanes, y, &hit)) {
        return hit;
      }
    }
    if (rest != 0 && visitLanes(sc.Mask(lastStart, y) & lastKeep, lastStart, y, &hit)) return hit;
  }
  return hit;
}

// Column by column: a strip of eight columns is filtered row by row, then its
// columns are visited one after the other from the rows where some lane
// survived. Columns too long to remember are filtered again for each lane.
ScanHit ScanColumnStrips(Scanner& sc) {
  const Candidates& c = sc.c;
  const bool remember = c.rows <= kMaxMaskRows;
  std::int32_t liveRows[kMaxMaskRows];
  std::uint8_t liveMasks[kMaxMaskRows];
  const std::int64_t blocks = BlockCount(c);
  for (std::int64_t k = 0; k < blocks; ++k) {
    const Block b = BlockAt(c, k);
    unsigned lanes = b.keep;
    std::int32_t live = 0;
    if (remember) {
      unsigned any = 0;
      for (std::int64_t i = 0; i < c.rows; ++i) {
        const unsigned m = sc.Mask(b.start, c.RowAt(i)) & b.keep;
        if (m == 0) continue;
        liveRows[live] = static_cast<std::int32_t>(i);
        liveMasks[live++] = static_cast<std::uint8_t>(m);
        any |= m;
      }
      lanes &= any;
    }
    while (lanes != 0) {
      const std::int32_t lane = TakeLane(lanes, c.order.rightToLeft);
      const std::int32_t x = b.start + lane;
      if (remember) {
        for (std::int32_t j = 0; j < live; ++j) {
          if ((liveMasks[j] >> lane & 1u) == 0) continue;
          const std::int32_t y = c.RowAt(liveRows[j]);
          if (sc.Visit(x, y)) return ScanHit{true, x, y};
        }
      } else {
        for (std::int64_t i = 0; i < c.rows; ++i) {
          const std::int32_t y = c.RowAt(i);
          if ((sc.Mask(b.start, y) >> lane & 1u) != 0 && sc.Visit(x, y)) return ScanHit{true, x, y};
        }
      }
    }
  }
  return ScanHit{false, 0, 0};
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
std::int64_t g_headStartBudget = -1;

HeadStart LiteralHeadStart(const ScanSetup& s, const Candidates& c, Acceptance& acceptance) {
  const std::int64_t templatePixels = static_cast<std::int64_t>(s.templateWidth) * s.templateHeight;
  const std::int64_t budget = g_headStartBudget >= 0
                                  ? g_headStartBudget
                                  : kHeadStartPixels + kHeadStartPerTemplatePixel * templatePixels;
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
  Program g;
  Compiler compiler(s, g);
  Compile(compiler, s);
  return FastScanPlan{g.count, g.setCount,
                      ChooseLoop(Candidates(r, s.templateWidth, s.templateHeight, order))};
}

ScanHit FastScan(const ScanSetup& s, const BitmapRecord& templ, const Rectangle& r, const ScanOrder& order,
                 const ColorTest& test) {
  const Candidates c(r, s.templateWidth, s.templateHeight, order);
  Acceptance acceptance(s, templ, order, test);
  const HeadStart head = LiteralHeadStart(s, c, acceptance);
  if (head.finished) return head.hit;
  if (s.colors != nullptr) {
    return c.Walk([&](std::int32_t x, std::int32_t y) {
      return c.IndexOf(x, y) >= head.visited && WindowMatches(s, x, y) && acceptance.Accept(x, y);
    });
  }

  WindowCheck check(s);
  Program g;
  Compiler compiler(s, g);
  Compile(compiler, s);
  if (check.Ready()) compiler.LearnFrom(&check);
  compiler.Rank(c);
  Scanner sc{s, g, compiler, c, check, acceptance, head.visited};
  switch (ChooseLoop(c)) {
    case FastLoop::kSingle:
      return ScanSinglePositions(sc);
    case FastLoop::kRowBlocks:
      return ScanRowBlocks(sc);
    default:
      return ScanColumnStrips(sc);
  }
}

}  // namespace zadized
