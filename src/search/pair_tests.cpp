#include "search/pair_tests.h"

#include <cstring>

#include "image/pixel.h"
#include "search/lanes.h"

namespace zadized {

namespace {

using PairTest = PairTests::Test;
using Program = PairTests::Program;
constexpr auto kEqual = PairTests::kEqual;
constexpr auto kDiffer = PairTests::kDiffer;
constexpr auto kAnyDiffers = PairTests::kAnyDiffers;
constexpr int kMaxTests = PairTests::kMaxTests;
constexpr int kMaxShapeSet = PairTests::kMaxShapeSet;
using TestKind = PairTests::Kind;

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
constexpr int kSampleWords = 4;
// Blocks the leading tests are checked on afresh.
constexpr int kFreshBlocks = 64;
constexpr int kMaxSamples = 64 * kSampleWords;
static_assert(kMaxTests >= 2 * kPoolEach + 1 + kLearnt, "room for every test");

inline ColorValue Pix(const std::uint8_t* p) { return MaskPixel(p, 3); }

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

// Takes exactly `want` of `total` items, spread evenly: item j is taken when
// (j * want) mod total < want, that is when j = ceil(i * total / want) for
// some i below want (j * want lies in [i * total, i * total + want)). The next
// such j is kept, so that a walk over a large template costs no division per
// item and can pass over a stretch of items at once.
class EvenPick {
 public:
  EvenPick(std::int64_t want, std::int64_t total)
      : want_(want < total ? want : total), total_(total), next_(want_ > 0 ? 0 : kNever) {}
  bool Next() {
    const bool take = seen_++ == next_;
    if (take) next_ = ++taken_ < want_ ? (taken_ * total_ + want_ - 1) / want_ : kNever;
    return take;
  }
  // Passes over the next `count` items when none of them is taken.
  bool Skip(std::int64_t count) {
    if (seen_ + count > next_) return false;
    seen_ += count;
    return true;
  }

 private:
  static constexpr std::int64_t kNever = INT64_MAX;
  std::int64_t want_;
  std::int64_t total_;
  std::int64_t next_;
  std::int64_t taken_ = 0;
  std::int64_t seen_ = 0;
};

// Whether map bytes k .. k + 7 are one number, the same as byte k + 8 and
// as the eight bytes a template row below them.
inline bool OneNumberRun(const std::uint8_t* m, std::int64_t k, std::int64_t tw) {
  std::uint64_t here, next, below;
  std::memcpy(&here, m + k, 8);
  std::memcpy(&next, m + k + 1, 8);
  std::memcpy(&below, m + k + tw, 8);
  return here == next && here == below;
}

class Compiler {
 public:
  Compiler(const ScanSetup& s, Program& g, WindowCheck* check = nullptr)
      : s_(s), g_(g), stride_(static_cast<std::ptrdiff_t>(s.width) * 4), check_(check) {}

  // Same number below 255: the same screen value (each pixel with its
  // number's first pixel). Number 255 stands for every value past the 255th,
  // so two 255s say nothing about each other. Different numbers, at least
  // one below 255: different screen values; neighbours across an edge of the
  // template first (a uniform screen area fails them at once), then the
  // first pixels of the first classes. Transparent pixels take part in
  // neither. One walk counts the candidates, a second picks them.
  void Pattern() {
    const std::uint8_t* m = s_.map;
    const std::int64_t tw = s_.templateWidth, n = tw * s_.templateHeight;
    std::int64_t rep[256];
    for (std::int64_t& r : rep) r = -1;
    std::int64_t equal = 0, differ = 0;
    const auto eachNeighbour = [&](std::int64_t k, std::int64_t column, const auto& take) {
      if (column + 1 < tw && TakesPart(s_, k + 1) && m[k] != m[k + 1]) take(k, k + 1);
      if (k + tw < n && TakesPart(s_, k + tw) && m[k] != m[k + tw]) take(k, k + tw);
    };
    const auto count = [&](std::int64_t, std::int64_t) { ++differ; };
    EachPixel(
        rep,
        [&](std::int64_t k, std::int64_t column) {
          if (rep[m[k]] < 0) {
            rep[m[k]] = k;
          } else if (m[k] != 255) {
            ++equal;
          }
          eachNeighbour(k, column, count);
        },
        [&](std::uint8_t number) {
          equal += number != 255 ? 8 : 0;
          return true;
        });
    const auto eachRepPair = [&](const auto& take) {
      std::int64_t classes = 0;
      for (const std::int64_t r : rep) classes += r >= 0 ? 1 : 0;
      const std::int64_t reps = classes < 16 ? classes : 16;
      for (std::int64_t i = 0; i < reps; ++i) {
        for (std::int64_t j = i + 1; j < reps; ++j) {
          if (rep[i] >= 0 && rep[j] >= 0) take(rep[i], rep[j]);
        }
      }
    };
    eachRepPair(count);
    PickPattern(rep, equal, differ, eachNeighbour, eachRepPair);
  }

  void Shape(std::int64_t oneThirdSet) {
    const std::uint8_t* m = s_.map;
    const std::int64_t n = static_cast<std::int64_t>(s_.templateWidth) * s_.templateHeight;
    std::int64_t first = -1, unmarked = 0, after = 0, marked = 0;
    for (std::int64_t k = 0; k < n; ++k) {
      if (!TakesPart(s_, k)) continue;
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
      if (TakesPart(s_, k) && m[k] != 0 && pickEqual.Next()) Add(k, first, kEqual);
    }

    // Background after the first marked pixel is what the rule counts; if
    // more of it than a third of all background could be in the shape's
    // colour, any limit + 1 of those pixels must hold one that is not.
    const std::int64_t limit = unmarked / 3;
    if (after > limit && limit + 1 <= oneThirdSet && limit + 1 <= kMaxShapeSet) {
      g_.tests[g_.count++] = PairTest{Offset(first), 0, kAnyDiffers};
      EvenPick pickSet(limit + 1, after);
      for (std::int64_t k = first + 1; k < n; ++k) {
        if (TakesPart(s_, k) && m[k] == 0 && pickSet.Next()) g_.set[g_.setCount++] = Offset(k);
      }
    }
  }

  // Puts the most selective tests first, judged on positions of this screen:
  // each next test is the one that rejects most of the sampled positions the
  // earlier ones let through.
  void Rank(const Candidates& c) {
    Samples smp;
    TakeSamples(c, &smp);
    std::uint64_t survivors[kSampleWords] = {};
    for (std::int64_t i = 0; i < smp.samples; ++i) survivors[i / 64] |= 1ull << (i % 64);
    for (int t = 0; t < g_.count; ++t) {
      Measure(t, &smp);
      for (int w = 0; w < kSampleWords; ++w) survivors[w] &= smp.pass[t][w];
    }
    Learn(survivors, &smp);
    Order(smp);
    CheckHead(c);
  }

 private:
  // Positions of the screen the tests are measured on, and which pass each.
  struct Samples {
    std::int64_t samples = 0;
    std::int64_t spots = 0;  // blocks of eight when `blocks`, else single positions
    bool blocks = false;
    const std::uint8_t* at[kMaxSamples];
    std::uint64_t pass[kMaxTests][kSampleWords] = {};
  };

  void TakeSamples(const Candidates& c, Samples* smp) const {
    const std::int64_t total = c.columns * c.rows;
    smp->samples = total / 256 < 64 ? 64 : total / 256 > kMaxSamples ? kMaxSamples : total / 256;
    if (smp->samples > total) smp->samples = total;
    // Wide enough for blocks, the samples are blocks of eight positions,
    // measured eight at a time as the scan will run them.
    smp->blocks = c.columns >= kLanes;
    if (smp->blocks) smp->samples = kMaxSamples;
    smp->spots = smp->blocks ? smp->samples / kLanes : smp->samples;
    SampleSpots(s_, c, smp->spots, smp->blocks, smp->at);
    for (std::int64_t i = smp->spots - 1; smp->blocks && i >= 0; --i) {
      for (int lane = kLanes - 1; lane >= 0; --lane) smp->at[i * kLanes + lane] = smp->at[i] + 4 * lane;
    }
  }

  void Measure(int t, Samples* smp) const {
    if (smp->blocks) {
      for (std::int64_t i = 0; i < smp->spots; ++i) {
        const std::uint64_t lanes = PassingLanes(g_, g_.tests[t], smp->at[i * kLanes], kAllLanes);
        smp->pass[t][i / 8] |= lanes << (8 * (i % 8));
      }
      return;
    }
    for (std::int64_t i = 0; i < smp->samples; ++i) {
      if (TestPasses(g_, g_.tests[t], smp->at[i])) smp->pass[t][i / 64] |= 1ull << (i % 64);
    }
  }

  // Learns from the sampled positions that every test lets through: the
  // pair of pixels that fails each of them. A sampled window that matches
  // means the template is on the screen, and there is little left to learn.
  void Learn(std::uint64_t (&survivors)[kSampleWords], Samples* smp) {
    for (int learnt = 0, tries = 0;
         learnt < kLearnt && tries < kLearningTries && g_.count < kMaxTests && check_ != nullptr; ++tries) {
      int i = -1;
      for (int w = 0; w < kSampleWords && i < 0; ++w) {
        if (survivors[w] != 0) i = 64 * w + __builtin_ctzll(survivors[w]);
      }
      if (i < 0 || !check_->Build()) break;
      survivors[i / 64] &= ~(1ull << (i % 64));
      PixelPair found{};
      const WindowCheck::Verdict verdict = check_->Examine(smp->at[i], &found);
      if (verdict == WindowCheck::kMatch) break;
      if (verdict == WindowCheck::kFailsOnCount) continue;  // no pair expresses the one-third rule
      g_.tests[g_.count] = PairTest{found.a, found.b, found.equal ? kEqual : kDiffer};
      Measure(g_.count, smp);
      for (int w = 0; w < kSampleWords; ++w) survivors[w] &= smp->pass[g_.count][w];
      ++g_.count;
      ++learnt;
    }
  }

  // Greedy: each next test rejects most of what the earlier ones let
  // through (fewest passing alone breaks ties). The leading tests after
  // which more than an eighth of the sampled blocks still have a lane alive
  // run without a branch: there, whether to go on is a guess the processor
  // would often get wrong, which costs more than a test.
  void Order(const Samples& smp) {
    std::uint64_t alive[kSampleWords];
    for (auto& w : alive) w = ~0ull;
    bool used[kMaxTests] = {};
    g_.head = 0;
    PairTest ordered[kMaxTests];
    for (int round = 0; round < g_.count; ++round) {
      int best = -1, bestAlive = 0, bestAlone = 0;
      for (int t = 0; t < g_.count; ++t) {
        if (used[t]) continue;
        int stillAlive = 0, alone = 0;
        for (int w = 0; w < kSampleWords; ++w) {
          stillAlive += __builtin_popcountll(alive[w] & smp.pass[t][w]);
          alone += __builtin_popcountll(smp.pass[t][w]);
        }
        if (best < 0 || stillAlive < bestAlive || (stillAlive == bestAlive && alone < bestAlone)) {
          best = t;
          bestAlive = stillAlive;
          bestAlone = alone;
        }
      }
      used[best] = true;
      ordered[round] = g_.tests[best];
      for (int w = 0; w < kSampleWords; ++w) alive[w] &= smp.pass[best][w];
      if (smp.blocks && g_.head == round) {
        int liveBlocks = 0;
        for (int w = 0; w < kSampleWords; ++w) {
          for (int b = 0; b < 8; ++b) liveBlocks += (alive[w] >> (8 * b) & 0xFF) != 0 ? 1 : 0;
        }
        if (8 * liveBlocks > smp.spots) g_.head = round + 1;
      }
    }
    for (int t = 0; t < g_.count; ++t) g_.tests[t] = ordered[t];
  }

  // Order picked each test for the sampled blocks it rejects, so those
  // blocks flatter the leading tests, and on a noisy screen the branch-free
  // head would end too soon. Blocks the ranking never saw tell how many
  // stay alive after each leading test.
  void CheckHead(const Candidates& c) {
    if (c.columns < kLanes || c.columns * c.rows < kFreshBlocks * kLanes) return;
    const std::uint8_t* at[kFreshBlocks];
    SampleSpots(s_, c, kFreshBlocks, true, at, 1);
    unsigned alive[kFreshBlocks];
    for (unsigned& a : alive) a = kAllLanes;
    g_.head = 0;
    for (int t = 0; t < g_.count && t < PairTests::kHead && g_.tests[t].kind != kAnyDiffers; ++t) {
      int live = 0;
      for (int i = 0; i < kFreshBlocks; ++i) {
        alive[i] = PassingLanes(g_, g_.tests[t], at[i], alive[i]);
        live += alive[i] != 0 ? 1 : 0;
      }
      if (8 * live <= kFreshBlocks) break;
      g_.head = t + 1;
    }
  }

  // Walks the pixels that take part in map order, handing each to
  // `pixel(k, column)`; a run of eight without transparent pixels that
  // OneNumberRun accepts, past its number's first pixel, goes to
  // `run(number)` instead, unless that answers false. Such a run holds no
  // pair across an edge, so on plain templates the walk takes long strides.
  template <typename Pixel, typename Run>
  void EachPixel(const std::int64_t (&rep)[256], const Pixel& pixel, const Run& run) const {
    const std::uint8_t* m = s_.map;
    const std::int64_t tw = s_.templateWidth, n = tw * s_.templateHeight;
    const bool runs = s_.opaque == nullptr && tw >= 8;
    std::int64_t column = 0;
    for (std::int64_t k = 0; k < n;) {
      if (runs && k + tw + 8 <= n && OneNumberRun(m, k, tw) && rep[m[k]] >= 0 && rep[m[k]] < k && run(m[k])) {
        k += 8;
        column += 8;
        if (column >= tw) column -= tw;
        continue;
      }
      if (TakesPart(s_, k)) pixel(k, column);
      ++k;
      if (++column == tw) column = 0;
    }
  }

  // Picks kPoolEach of the `equal` pairs and of the `differ` ones that
  // Pattern counted, spread evenly, the pairs of equal pixels first.
  template <typename EachNeighbour, typename EachRepPair>
  void PickPattern(const std::int64_t (&rep)[256], std::int64_t equal, std::int64_t differ,
                   const EachNeighbour& eachNeighbour, const EachRepPair& eachRepPair) {
    const std::uint8_t* m = s_.map;
    EvenPick pickEqual(kPoolEach, equal), pickDiffer(kPoolEach, differ);
    std::int64_t differA[kPoolEach], differB[kPoolEach];
    int picked = 0;
    const auto pick = [&](std::int64_t a, std::int64_t b) {
      if (pickDiffer.Next()) {
        differA[picked] = a;
        differB[picked++] = b;
      }
    };
    EachPixel(
        rep,
        [&](std::int64_t k, std::int64_t column) {
          if (m[k] != 255 && rep[m[k]] != k && pickEqual.Next()) Add(k, rep[m[k]], kEqual);
          eachNeighbour(k, column, pick);
        },
        [&](std::uint8_t number) { return pickEqual.Skip(number != 255 ? 8 : 0); });
    eachRepPair(pick);
    for (int i = 0; i < picked; ++i) Add(differA[i], differB[i], kDiffer);
  }

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
  WindowCheck* check_ = nullptr;
};

// Where the block loop may run tests without looking at what is left: a
// branch whose outcome the screen decides costs more than a test does.
void FindHead(Program& g, int wanted) {
  g.head = 0;
  while (g.head < g.count && g.head <= wanted && g.head < PairTests::kHead &&
         g.tests[g.head].kind != kAnyDiffers) {
    ++g.head;
  }
  for (int t = 0; t < g.count; ++t) g.flip[t] = g.tests[t].kind == kDiffer ? kAllLanes : 0;
}

// The leading tests, copied where a loop over many blocks keeps them in
// registers.
template <int kCount>
struct Head {
  std::ptrdiff_t a[kCount > 0 ? kCount : 1];
  std::ptrdiff_t b[kCount > 0 ? kCount : 1];
  bool differ[kCount > 0 ? kCount : 1];
  explicit Head(const Program& g) {
    for (int t = 0; t < kCount; ++t) {
      a[t] = g.tests[t].a;
      b[t] = g.tests[t].b;
      differ[t] = g.flip[t] != 0;
    }
  }
};

// The lanes that pass every leading test. The differences of the pairs that
// must be equal are gathered with OR and tested for zero once; the pairs
// that must differ each kill the lanes where they are equal.
template <int kCount>
inline unsigned HeadLanes(const Head<kCount>& h, const std::uint8_t* p) {
  const __m128i zero = _mm_setzero_si128();
  __m128i apart0 = zero, apart1 = zero, same0 = zero, same1 = zero;
  const auto load = [](const std::uint8_t* q) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
  };
  for (int t = 0; t < kCount; ++t) {
    const std::uint8_t* a = p + h.a[t];
    const std::uint8_t* b = p + h.b[t];
    const __m128i d0 = _mm_xor_si128(load(a), load(b));
    const __m128i d1 = _mm_xor_si128(load(a + 16), load(b + 16));
    if (!h.differ[t]) {
      apart0 = _mm_or_si128(apart0, d0);
      apart1 = _mm_or_si128(apart1, d1);
    } else {
      // Shifting left by 8 drops the fourth byte, which never takes part.
      same0 = _mm_or_si128(same0, _mm_cmpeq_epi32(_mm_slli_epi32(d0, 8), zero));
      same1 = _mm_or_si128(same1, _mm_cmpeq_epi32(_mm_slli_epi32(d1, 8), zero));
    }
  }
  const __m128i pass0 = _mm_andnot_si128(same0, _mm_cmpeq_epi32(_mm_slli_epi32(apart0, 8), zero));
  const __m128i pass1 = _mm_andnot_si128(same1, _mm_cmpeq_epi32(_mm_slli_epi32(apart1, 8), zero));
  const auto lo = static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(pass0)));
  const auto hi = static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(pass1)));
  return lo | hi << 4;
}

template <int kCount>
void MaskBlocksWith(const Program& g, const std::uint8_t* p, std::int64_t blocks, std::ptrdiff_t step,
                    std::uint8_t* out) {
  const Head<kCount> h(g);
  for (std::int64_t i = 0; i < blocks; ++i, p += step) {
    unsigned live = HeadLanes(h, p);
    for (int t = kCount; t < g.count && live != 0; ++t) live = PassingLanes(g, g.tests[t], p, live);
    out[i] = static_cast<std::uint8_t>(live);
  }
}

}  // namespace

PairTests::PairTests(const ScanSetup& s, int oneThirdSet) : s_(s) {
  Compiler compiler(s, program_);
  if (s.shape) {
    compiler.Shape(oneThirdSet);
  } else {
    compiler.Pattern();
  }
  FindHead(program_, 0);
}

void PairTests::Rank(const Candidates& c, WindowCheck* check) {
  Compiler(s_, program_, check).Rank(c);
  FindHead(program_, program_.head);
}

unsigned PairTests::Mask(const std::uint8_t* topLeft) const {
  const Program& g = program_;
  unsigned live = kAllLanes;
  for (int t = 0; t < g.head; ++t)
    live &= EqualLanes(topLeft + g.tests[t].a, topLeft + g.tests[t].b) ^ g.flip[t];
  for (int t = g.head; t < g.count && live != 0; ++t) live = PassingLanes(g, g.tests[t], topLeft, live);
  return live;
}

void PairTests::MaskBlocks(const std::uint8_t* topLeft, std::int64_t blocks, std::ptrdiff_t step,
                           std::uint8_t* out) const {
  static_assert(PairTests::kHead == 4, "one loop for each length of the head");
  switch (program_.head) {
    case 0:
      return MaskBlocksWith<0>(program_, topLeft, blocks, step, out);
    case 1:
      return MaskBlocksWith<1>(program_, topLeft, blocks, step, out);
    case 2:
      return MaskBlocksWith<2>(program_, topLeft, blocks, step, out);
    case 3:
      return MaskBlocksWith<3>(program_, topLeft, blocks, step, out);
    default:
      return MaskBlocksWith<4>(program_, topLeft, blocks, step, out);
  }
}

bool PairTests::Passes(const std::uint8_t* topLeft) const {
  for (int t = 0; t < program_.count; ++t) {
    if (!TestPasses(program_, program_.tests[t], topLeft)) return false;
  }
  return true;
}

}  // namespace zadized
