#include "search/fast_scan.h"

#include <cstddef>
#include <cstdlib>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "image/pixel.h"

namespace zadized {

namespace {

#if defined(_WIN32)
// The DLL has no configuration; only a test program linked with the core
// flips the switch, and the benchmark's literal twin is built with it on.
#if !defined(ZADIZED_START_WITH_REFERENCE_SCAN)
#define ZADIZED_START_WITH_REFERENCE_SCAN 0
#endif
bool g_referenceForced = ZADIZED_START_WITH_REFERENCE_SCAN != 0;
#else
bool StartingValue() {
  const char* v = std::getenv("ZADIZED_REFERENCE_SCAN");
  return v != nullptr && v[0] == '1' && v[1] == '\0';
}
bool g_referenceForced = StartingValue();
#endif

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
constexpr int kMaxTests = 2 * kPoolEach + 1 + kLearnt;
constexpr int kSampleWords = 4;
constexpr int kMaxSamples = 64 * kSampleWords;
// The one-third stage needs limit + 1 background pixels; beyond this many it
// is left to the literal test.
constexpr int kMaxShapeSet = 2048;
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
#if defined(__SSE2__)
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
#else
  unsigned bits = 0;
  for (int i = 0; i < kLanes; ++i) bits |= (Pix(p + 4 * i) == Pix(q + 4 * i) ? 1u : 0u) << i;
  return bits;
#endif
}

// Lanes whose positions may still pass the literal test. Reads 8 positions'
// windows starting at p; the caller keeps all of them on the screen.
unsigned BlockMask(const Program& g, const std::uint8_t* p) {
  unsigned live = kAllLanes;
  for (int t = 0; t < g.count; ++t) {
    const PairTest& pt = g.tests[t];
    if (pt.kind == kAnyDiffers) {
      unsigned differs = 0;
      for (int i = 0; i < g.setCount && (differs & live) != live; ++i) {
        differs |= ~EqualLanes(p + g.set[i], p + pt.a) & kAllLanes;
      }
      live &= differs;
    } else {
      const unsigned e = EqualLanes(p + pt.a, p + pt.b);
      live &= pt.kind == kEqual ? e : ~e;
    }
    if (live == 0) return 0;
  }
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
// (j * want) mod total < want.
inline bool Spread(std::int64_t j, std::int64_t want, std::int64_t total) {
  return (j * want) % total < want;
}

class Compiler {
 public:
  Compiler(const ScanSetup& s, Program& g)
      : s_(s), g_(g), stride_(static_cast<std::ptrdiff_t>(s.width) * 4) {}

  void Pattern() {
    const std::uint8_t* m = s_.map;
    const std::int64_t n = static_cast<std::int64_t>(s_.templateWidth) * s_.templateHeight;
    std::int64_t* rep = rep_;
    for (std::int64_t c = 0; c < 256; ++c) rep[c] = -1;
    for (std::int64_t k = 0; k < n; ++k) {
      if (rep[m[k]] < 0) rep[m[k]] = k;
    }
    // Same number below 255: the same screen value. Number 255 stands for
    // every value past the 255th, so two 255s say nothing about each other.
    const auto equalAt = [&](std::int64_t k, std::int64_t* other) {
      if (m[k] == 255 || rep[m[k]] == k) return false;
      *other = rep[m[k]];
      return true;
    };
    Collect(n, equalAt, kEqual);

    // Different numbers, at least one below 255: different screen values.
    // Neighbours across an edge of the template first (a uniform screen area
    // fails them at once), then the first pixels of the classes.
    const std::int32_t tw = s_.templateWidth;
    std::int64_t classes = 0;
    for (std::int64_t c = 0; c < 256; ++c) classes += rep[c] >= 0 ? 1 : 0;
    const std::int64_t reps = classes < 16 ? classes : 16;
    const std::int64_t neighbourSlots = 2 * n;
    const auto differAt = [&](std::int64_t j, std::int64_t* other) -> std::int64_t {
      if (j < neighbourSlots) {
        const std::int64_t k = j / 2;
        if (j % 2 == 0) {
          if ((k + 1) % tw == 0 || m[k] == m[k + 1]) return -1;
          *other = k + 1;
        } else {
          if (k + tw >= n || m[k] == m[k + tw]) return -1;
          *other = k + tw;
        }
        return k;
      }
      const std::int64_t pair = j - neighbourSlots;
      const std::int64_t i = pair / reps, jj = pair % reps;
      if (i >= jj) return -1;
      // The first `reps` classes by number; numbers are dense from 0.
      if (rep[i] < 0 || rep[jj] < 0) return -1;
      *other = rep[jj];
      return rep[i];
    };
    CollectPairs(neighbourSlots + reps * reps, differAt, kDiffer);
  }

  void Shape() {
    const std::uint8_t* m = s_.map;
    const std::int64_t n = static_cast<std::int64_t>(s_.templateWidth) * s_.templateHeight;
    std::int64_t first = -1, unmarked = 0, after = 0;
    for (std::int64_t k = 0; k < n; ++k) {
      if (m[k] != 0) {
        if (first < 0) first = k;
      } else {
        ++unmarked;
        if (first >= 0) ++after;
      }
    }
    if (first < 0) return;
    first_ = first;
    // Every marked pixel shows the first marked pixel's colour.
    const auto equalAt = [&](std::int64_t k, std::int64_t* other) {
      if (m[k] == 0 || k == first) return false;
      *other = first;
      return true;
    };
    Collect(n, equalAt, kEqual);

    // Background after the first marked pixel is what the rule counts; if
    // more of it than a third of all background could be in the shape's
    // colour, any limit + 1 of those pixels must hold one that is not.
    const std::int64_t limit = unmarked / 3;
    if (after > limit && limit + 1 <= kMaxShapeSet) {
      g_.tests[g_.count++] = PairTest{Offset(first), 0, kAnyDiffers};
      std::int64_t j = 0;
      for (std::int64_t k = first + 1; k < n; ++k) {
        if (m[k] != 0) continue;
        if (Spread(j, limit + 1, after)) g_.set[g_.setCount++] = Offset(k);
        ++j;
      }
    }
  }

  // Puts the most selective tests first, judged on positions of this screen:
  // each next test is the one that rejects most of the sampled positions the
  // earlier ones let through.
  void Rank(const Rectangle& r) {
    const std::int64_t columns = static_cast<std::int64_t>(r.x2) - s_.templateWidth + 1 - r.x1 + 1;
    const std::int64_t rows = static_cast<std::int64_t>(r.y2) - s_.templateHeight + 1 - r.y1 + 1;
    const std::int64_t total = columns * rows;
    std::int64_t samples = total / 256;
    if (samples < 64) samples = 64;
    if (samples > kMaxSamples) samples = kMaxSamples;
    if (samples > total) samples = total;

    std::uint64_t pass[kMaxTests][kSampleWords] = {};
    const std::uint8_t* at[kMaxSamples];
    const std::int64_t step = total / samples;
    for (std::int64_t i = 0; i < samples; ++i) {
      // A little jitter, so stripes of the screen's period do not line up
      // with the samples.
      const std::int64_t jitter = step > 1 ? static_cast<std::int64_t>((i * 2654435761u) % step) : 0;
      const std::int64_t linear = i * step + jitter;
      at[i] = TopLeft(static_cast<std::int32_t>(r.x1 + linear % columns),
                      static_cast<std::int32_t>(r.y1 + linear / columns));
    }
    const auto measure = [&](int t) {
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
    // Learn from the sampled positions that every test lets through.
    for (int learnt = 0; learnt < kLearnt && g_.count < kMaxTests;) {
      int i = -1;
      for (int w = 0; w < kSampleWords && i < 0; ++w) {
        if (survivors[w] != 0) i = 64 * w + __builtin_ctzll(survivors[w]);
      }
      if (i < 0) break;
      survivors[i / 64] &= ~(1ull << (i % 64));
      PairTest found{};
      if (!Violation(at[i], &found)) continue;
      g_.tests[g_.count] = found;
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

  // Pair tests from items 0..n-1, where at(k, &other) says whether item k is
  // a test of pixel k against pixel other.
  template <typename At>
  void Collect(std::int64_t n, const At& at, TestKind kind) {
    std::int64_t other = 0, total = 0;
    for (std::int64_t k = 0; k < n; ++k) total += at(k, &other) ? 1 : 0;
    if (total == 0) return;
    const std::int64_t want = total < kPoolEach ? total : kPoolEach;
    std::int64_t j = 0;
    for (std::int64_t k = 0; k < n; ++k) {
      if (!at(k, &other)) continue;
      if (Spread(j, want, total)) g_.tests[g_.count++] = PairTest{Offset(k), Offset(other), kind};
      ++j;
    }
  }

  // As Collect, for slots that name both pixels: at(j, &other) gives the
  // first pixel, or -1 for an empty slot.
  template <typename At>
  void CollectPairs(std::int64_t slots, const At& at, TestKind kind) {
    std::int64_t other = 0, total = 0;
    for (std::int64_t j = 0; j < slots; ++j) total += at(j, &other) >= 0 ? 1 : 0;
    if (total == 0) return;
    const std::int64_t want = total < kPoolEach ? total : kPoolEach;
    std::int64_t taken = 0;
    for (std::int64_t j = 0; j < slots; ++j) {
      const std::int64_t k = at(j, &other);
      if (k < 0) continue;
      if (Spread(taken, want, total)) g_.tests[g_.count++] = PairTest{Offset(k), Offset(other), kind};
      ++taken;
    }
  }

  // A necessary pair test that the window at p fails, or false when none is
  // found (the window matches, or fails only where two pixels both numbered
  // 255 meet, or by the one-third rule).
  bool Violation(const std::uint8_t* p, PairTest* out) const {
    const std::uint8_t* m = s_.map;
    const std::int64_t n = static_cast<std::int64_t>(s_.templateWidth) * s_.templateHeight;
    if (s_.shape) {
      if (first_ < 0) return false;
      const ColorValue shape = Pix(p + Offset(first_));
      for (std::int64_t k = first_ + 1; k < n; ++k) {
        if (m[k] != 0 && Pix(p + Offset(k)) != shape) {
          *out = PairTest{Offset(k), Offset(first_), kEqual};
          return true;
        }
      }
      return false;
    }
    for (std::int64_t k = 0; k < n; ++k) {
      const std::uint8_t c = m[k];
      const ColorValue v = Pix(p + Offset(k));
      if (c != 255 && rep_[c] != k) {
        if (v != Pix(p + Offset(rep_[c]))) {
          *out = PairTest{Offset(k), Offset(rep_[c]), kEqual};
          return true;
        }
      } else if (rep_[c] == k) {
        // A class's first pixel must differ from every earlier class's.
        for (int j = 0; j < c; ++j) {
          if (rep_[j] >= 0 && v == Pix(p + Offset(rep_[j]))) {
            *out = PairTest{Offset(k), Offset(rep_[j]), kDiffer};
            return true;
          }
        }
      }
    }
    return false;
  }

  const ScanSetup& s_;
  Program& g_;
  std::ptrdiff_t stride_;
  std::int64_t rep_[256] = {};
  std::int64_t first_ = -1;
};

inline unsigned LowestLane(unsigned m) { return static_cast<unsigned>(__builtin_ctz(m)); }
inline unsigned HighestLane(unsigned m) { return 31u - static_cast<unsigned>(__builtin_clz(m)); }

}  // namespace

void SetReferenceScan(bool on) { g_referenceForced = on; }
bool ReferenceScanForced() { return g_referenceForced; }

Acceptance::Acceptance(const ScanSetup& s, const BitmapRecord& templ, const ScanOrder& order,
                       const ColorTest& test)
    : s_(s), test_(test), skip_(order.skip) {
  switch (test.corner & 3) {
    case 0:
      cornerColor_ = templ.topLeftColor;
      break;
    case 1:
      cornerColor_ = templ.topRightColor;
      break;
    case 2:
      cornerColor_ = templ.bottomLeftColor;
      break;
    default:
      cornerColor_ = templ.bottomRightColor;
      break;
  }
  cornerDx_ = (test.corner & 1) != 0 ? s.templateWidth - 1 : 0;
  cornerDy_ = (test.corner & 2) != 0 ? s.templateHeight - 1 : 0;
}

bool Acceptance::Accept(std::int32_t x, std::int32_t y) {
  if (skip_ > 0) {
    --skip_;
    return false;
  }
  if (!test_.tolerance) return true;
  const ColorValue screenColor =
      ReadPixel(s_.screen, x + cornerDx_, y + cornerDy_, s_.width * 4, s_.height, 4);
  return CompareCornerColor(cornerColor_, screenColor, test_.channelTolerance, test_.sumTolerance) == 1;
}

FastScanPlan PlanFastScan(const ScanSetup& s, const Rectangle& r, const ScanOrder& order) {
  Program g;
  Compiler compiler(s, g);
  if (s.shape) {
    compiler.Shape();
  } else {
    compiler.Pattern();
  }
  const std::int64_t columns = static_cast<std::int64_t>(r.x2) - s.templateWidth + 1 - r.x1 + 1;
  const std::int64_t rows = static_cast<std::int64_t>(r.y2) - s.templateHeight + 1 - r.y1 + 1;
  FastLoop loop = FastLoop::kRowBlocks;
  if (columns < kLanes) {
    loop = FastLoop::kSingle;
  } else if (order.columnsOuter) {
    loop = rows <= kMaxMaskRows ? FastLoop::kColumnStrips : FastLoop::kLongColumnStrips;
  }
  return FastScanPlan{g.count, g.setCount, loop};
}

ScanHit FastScan(const ScanSetup& s, const BitmapRecord& templ, const Rectangle& r, const ScanOrder& order,
                 const ColorTest& test) {
  Program g;
  Compiler compiler(s, g);
  if (s.shape) {
    compiler.Shape();
  } else {
    compiler.Pattern();
  }
  compiler.Rank(r);

  Acceptance acceptance(s, templ, order, test);
  const std::int32_t lastX = r.x2 - s.templateWidth + 1;
  const std::int32_t lastY = r.y2 - s.templateHeight + 1;
  const std::int64_t columns = static_cast<std::int64_t>(lastX) - r.x1 + 1;
  const std::int64_t rows = static_cast<std::int64_t>(lastY) - r.y1 + 1;
  const auto rowAt = [&](std::int64_t i) {
    return static_cast<std::int32_t>(order.bottomUp ? lastY - i : r.y1 + i);
  };
  const auto columnAt = [&](std::int64_t j) {
    return static_cast<std::int32_t>(order.rightToLeft ? lastX - j : r.x1 + j);
  };
  // Every fast path ends here: the literal test has the last word.
  const auto visit = [&](std::int32_t x, std::int32_t y) {
    return WindowMatches(s, x, y) && acceptance.Accept(x, y);
  };

  if (columns < kLanes) {
    // Too narrow for a block; the same tests one position at a time.
    const std::int64_t outer = order.columnsOuter ? columns : rows;
    const std::int64_t inner = order.columnsOuter ? rows : columns;
    for (std::int64_t a = 0; a < outer; ++a) {
      for (std::int64_t b = 0; b < inner; ++b) {
        const std::int32_t x = columnAt(order.columnsOuter ? a : b);
        const std::int32_t y = rowAt(order.columnsOuter ? b : a);
        if (PositionPasses(g, compiler.TopLeft(x, y)) && visit(x, y)) return ScanHit{true, x, y};
      }
    }
    return ScanHit{false, 0, 0};
  }

  if (!order.columnsOuter) {
    for (std::int64_t i = 0; i < rows; ++i) {
      const std::int32_t y = rowAt(i);
      if (!order.rightToLeft) {
        for (std::int64_t bx = r.x1; bx <= lastX; bx += kLanes) {
          // The last block is moved back onto the rectangle; its lanes that
          // the block before it covered are dropped.
          const std::int32_t start =
              static_cast<std::int32_t>(bx <= lastX - kLanes + 1 ? bx : lastX - kLanes + 1);
          unsigned m = BlockMask(g, compiler.TopLeft(start, y)) & (kAllLanes << (bx - start)) & kAllLanes;
          while (m != 0) {
            const unsigned lane = LowestLane(m);
            m &= m - 1;
            const std::int32_t x = start + static_cast<std::int32_t>(lane);
            if (visit(x, y)) return ScanHit{true, x, y};
          }
        }
      } else {
        for (std::int64_t top = lastX; top >= r.x1; top -= kLanes) {
          const std::int64_t bx = top - kLanes + 1;
          const std::int32_t start = static_cast<std::int32_t>(bx >= r.x1 ? bx : r.x1);
          unsigned m = BlockMask(g, compiler.TopLeft(start, y)) & ((1u << (top - start + 1)) - 1);
          while (m != 0) {
            const unsigned lane = HighestLane(m);
            m &= ~(1u << lane);
            const std::int32_t x = start + static_cast<std::int32_t>(lane);
            if (visit(x, y)) return ScanHit{true, x, y};
          }
        }
      }
    }
    return ScanHit{false, 0, 0};
  }

  // Column by column: a strip of eight columns is filtered row by row, then
  // its columns are visited one after the other from the remembered masks.
  std::uint8_t rowMasks[kMaxMaskRows];
  const bool remember = rows <= kMaxMaskRows;
  for (std::int64_t k = 0; k < columns; k += kLanes) {
    std::int32_t start;
    unsigned keep;
    if (!order.rightToLeft) {
      const std::int64_t bx = r.x1 + k;
      start = static_cast<std::int32_t>(bx <= lastX - kLanes + 1 ? bx : lastX - kLanes + 1);
      keep = (kAllLanes << (bx - start)) & kAllLanes;
    } else {
      const std::int64_t top = lastX - k;
      const std::int64_t bx = top - kLanes + 1;
      start = static_cast<std::int32_t>(bx >= r.x1 ? bx : r.x1);
      keep = (1u << (top - start + 1)) - 1;
    }
    if (remember) {
      for (std::int64_t i = 0; i < rows; ++i) {
        rowMasks[i] = static_cast<std::uint8_t>(BlockMask(g, compiler.TopLeft(start, rowAt(i))) & keep);
      }
    }
    for (int n = 0; n < kLanes; ++n) {
      const int lane = order.rightToLeft ? kLanes - 1 - n : n;
      if ((keep >> lane & 1u) == 0) continue;
      const std::int32_t x = start + lane;
      for (std::int64_t i = 0; i < rows; ++i) {
        const std::int32_t y = rowAt(i);
        const unsigned m = remember ? rowMasks[i] : BlockMask(g, compiler.TopLeft(start, y));
        if ((m >> lane & 1u) != 0 && visit(x, y)) return ScanHit{true, x, y};
      }
    }
  }
  return ScanHit{false, 0, 0};
}

}  // namespace zadized
