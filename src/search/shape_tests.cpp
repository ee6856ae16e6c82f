#include "search/shape_tests.h"

#include <initializer_list>

#include "image/pixel.h"
#include "platform/platform.h"
#include "search/lanes.h"

namespace zadized {

namespace {

// The colour counts are weighed on windows of this many blocks that reach
// the shape tests, each deciding for the next: unused, they are taken up
// when the blocks walked more background pixels each than the counts read,
// one a row; used, they are kept while they rule out one block in eight.
constexpr std::int32_t kCountsWindow = 64;

bool g_alwaysCount = false;

// All ones in the 32 bits of each lane whose pixel at `q + 4 * lane` shows
// the colour held in (c0, c1), lanes 0-3 and 4-7.
inline void SameLanes(const std::uint8_t* q, __m128i c0, __m128i c1, __m128i* e0, __m128i* e1) {
  const __m128i a0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
  const __m128i a1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 16));
  const __m128i zero = _mm_setzero_si128();
  // Shifting left by 8 drops the fourth byte, which never takes part.
  *e0 = _mm_cmpeq_epi32(_mm_slli_epi32(_mm_xor_si128(a0, c0), 8), zero);
  *e1 = _mm_cmpeq_epi32(_mm_slli_epi32(_mm_xor_si128(a1, c1), 8), zero);
}

inline unsigned Bits(__m128i lo, __m128i hi) {
  return static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(lo))) |
         static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(hi))) << 4;
}

}  // namespace

void AlwaysUseColourCounts(bool on) { g_alwaysCount = on; }

ShapeTests::ShapeTests(const ScanSetup& s) : s_(s) {
  const std::int64_t tw = s.templateWidth, th = s.templateHeight;
  const std::int64_t n = tw * th;
  const std::uint8_t* m = s.map;
  if (m == nullptr || !s.shape || tw <= 0 || th <= 0 ||
      n > 0x7FFFFFFF / static_cast<std::int64_t>(sizeof(std::ptrdiff_t)) || 2 * th * 20 > 0x7FFFFFFF) {
    return;
  }
  std::int64_t firstMarked = -1, unmarked = 0;
  for (std::int64_t k = 0; k < n; ++k) {
    if (!TakesPart(s, k)) continue;
    if (m[k] != 0) {
      if (firstMarked < 0) firstMarked = k;
    } else {
      ++unmarked;
      if (firstMarked >= 0) ++counted_;
    }
  }
  if (firstMarked < 0) return;
  limit_ = unmarked / 3;
  const platform::Ops& os = platform::Current();
  offsets_ =
      static_cast<std::ptrdiff_t*>(os.allocZeroed(static_cast<std::uint32_t>(n * sizeof(std::ptrdiff_t))));
  stretches_ = static_cast<Stretch*>(os.allocZeroed(static_cast<std::uint32_t>(2 * th * sizeof(Stretch))));
  if (offsets_ == nullptr || stretches_ == nullptr) {
    if (offsets_ != nullptr) os.freeBlock(offsets_);
    if (stretches_ != nullptr) os.freeBlock(stretches_);
    offsets_ = nullptr;
    stretches_ = nullptr;
    return;
  }
  const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(s.width) * 4;
  const auto offset = [&](std::int64_t column, std::int64_t fromTop) {
    return static_cast<std::ptrdiff_t>(column * 4) - static_cast<std::ptrdiff_t>(fromTop) * stride;
  };
  first_ = offset(firstMarked % tw, th - 1 - firstMarked / tw);
  // Rows coarse to fine, marked pixels first (a mismatch there ends the
  // test soonest), then the background that the rule counts.
  std::int32_t used = 0;
  for (const bool marked : {true, false}) {
    InSpreadOrder(1, th, [&](std::int64_t, std::int64_t fromTop) {
      Stretch st{static_cast<std::int32_t>(fromTop), used, used, 0x7FFFFFFF, -1};
      const std::int64_t row = (th - 1 - fromTop) * tw;
      for (std::int64_t column = 0; column < tw; ++column) {
        const std::int64_t k = row + column;
        const bool take =
            TakesPart(s, k) && (marked ? (m[k] != 0 && k != firstMarked) : (m[k] == 0 && k > firstMarked));
        if (!take) continue;
        offsets_[used++] = offset(column, fromTop);
        if (st.min > column) st.min = static_cast<std::int32_t>(column);
        st.max = static_cast<std::int32_t>(column);
      }
      st.end = used;
      if (st.end > st.begin) stretches_[stretchCount_++] = st;
    });
    if (marked) markedStretches_ = stretchCount_;
  }
  WeighSpans();
}

void ShapeTests::WeighSpans() {
  std::int64_t spans = 0, uncounted = 0;
  for (std::int32_t i = markedStretches_; i < stretchCount_; ++i) {
    const Stretch& st = stretches_[i];
    spans += st.max - st.min + 1;
    uncounted += st.max - st.min + 1 - (st.end - st.begin);
  }
  // Sums of 16 bits, compared signed; and a bound that could never pass the
  // limit is not worth reading.
  if (spans > 0x7FFF || limit_ + uncounted >= spans) return;
  spans_ = static_cast<std::int32_t>(spans);
  uncounted_ = static_cast<std::int32_t>(uncounted);
}

// Why no lane that the rule accepts is ruled out here: a lane's counted
// background lies in its stretches' spans, so the pixels of the spans that
// show the counted colour, less every pixel of the spans that is not counted
// background (whatever it shows), are at most the counted background showing
// that colour. For a lane whose shape colour is the counted one, that is at
// most its background in the shape's colour, which the rule allows up to the
// limit; a lane above the limit by this bound is above it by the rule.
unsigned ShapeTests::RuledOut(const std::uint8_t* topLeft, std::int32_t x, std::int32_t y, unsigned live,
                              __m128i s0, __m128i s1) const {
  // Two reads a row rule a lane out, less than its pixels would cost; but
  // each row's counts cost a pass over it, paid only where blocks walk far.
  if (counts_ == nullptr || spans_ == 0 || !Counts()) return 0;
  if (++reached_ == kCountsWindow) {
    useCounts_ = useCounts_
                     ? 8 * ruled_ >= kCountsWindow
                     : walked_ > kCountsWindow * static_cast<std::int64_t>(stretchCount_ - markedStretches_);
    reached_ = ruled_ = 0;
    walked_ = 0;
  }
  if (!useCounts_ && !g_alwaysCount) return 0;
  const unsigned first = static_cast<unsigned>(__builtin_ctz(live));
  ColorValue colour = 0;
  if (!counts_->Follow(MaskPixel(topLeft + first_ + 4 * first, 3), &colour)) return 0;
  const __m128i c = _mm_set1_epi32(static_cast<int>(colour));
  const __m128i zero = _mm_setzero_si128();
  const unsigned same = Bits(_mm_cmpeq_epi32(_mm_slli_epi32(_mm_xor_si128(s0, c), 8), zero),
                             _mm_cmpeq_epi32(_mm_slli_epi32(_mm_xor_si128(s1, c), 8), zero)) &
                        live;
  if (same == 0) return 0;
  // The sums only grow: once every lane is over, the rest cannot save one.
  const __m128i bound = _mm_set1_epi16(static_cast<short>(limit_ + uncounted_));
  const auto over = [&](__m128i sum) {
    return same &
           static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(_mm_cmpgt_epi16(sum, bound), zero)));
  };
  __m128i sum = zero;
  for (std::int32_t i = markedStretches_; i < stretchCount_; ++i) {
    const Stretch& st = stretches_[i];
    const std::uint16_t* row = counts_->Row(y + st.fromTop) + x;
    const __m128i before = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + st.min));
    const __m128i through = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + st.max + 1));
    sum = _mm_add_epi16(sum, _mm_sub_epi16(through, before));
    if ((i & 7) == 7 && over(sum) == same) break;
  }
  const unsigned out = over(sum);
  ruled_ += out == live ? 1 : 0;
  return out;
}

ShapeTests::~ShapeTests() {
  const platform::Ops& os = platform::Current();
  if (offsets_ != nullptr) os.freeBlock(offsets_);
  if (stretches_ != nullptr) os.freeBlock(stretches_);
}

unsigned ShapeTests::Mask(const std::uint8_t* topLeft, std::int32_t x, std::int32_t y, unsigned live) const {
  // Each lane's shape colour: its own first marked pixel.
  const __m128i s0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(topLeft + first_));
  const __m128i s1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(topLeft + first_ + 16));
  // The counts' bound first: it holds whatever the marked pixels show.
  live &= ~RuledOut(topLeft, x, y, live, s0, s1);
  if (live == 0) return 0;
  const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(s_.width) * 4;
  // Whether the stretch's screen pixels for all eight lanes show one colour;
  // then that colour, against each lane's shape colour, decides the stretch.
  const auto plain = [&](const Stretch& st, __m128i* e0, __m128i* e1) {
    if (runs_ == nullptr || !runs_->Uniform(y + st.fromTop, x + st.min, x + st.max + kLanes - 1))
      return false;
    const std::uint8_t* q = topLeft + 4 * static_cast<std::ptrdiff_t>(st.min) - st.fromTop * stride;
    const __m128i c = _mm_set1_epi32(static_cast<int>(MaskPixel(q, 3)));
    const __m128i zero = _mm_setzero_si128();
    *e0 = _mm_cmpeq_epi32(_mm_slli_epi32(_mm_xor_si128(s0, c), 8), zero);
    *e1 = _mm_cmpeq_epi32(_mm_slli_epi32(_mm_xor_si128(s1, c), 8), zero);
    return true;
  };

  for (std::int32_t i = 0; i < markedStretches_ && live != 0; ++i) {
    const Stretch& st = stretches_[i];
    __m128i e0, e1;
    if (plain(st, &e0, &e1)) {
      live &= Bits(e0, e1);
      continue;
    }
    for (std::int32_t j = st.begin; j < st.end && live != 0; ++j) {
      SameLanes(topLeft + offsets_[j], s0, s1, &e0, &e1);
      live &= Bits(e0, e1);
    }
  }
  if (live == 0 || !Counts()) return live;

  // Background in the shape's colour, per lane; a lane is out once it has
  // more than the limit.
  const __m128i limit = _mm_set1_epi32(static_cast<int>(limit_ < 0x7FFFFFFF ? limit_ : 0x7FFFFFFF));
  __m128i lo = _mm_setzero_si128(), hi = _mm_setzero_si128();
  for (std::int32_t i = markedStretches_; i < stretchCount_ && live != 0; ++i) {
    const Stretch& st = stretches_[i];
    __m128i e0, e1;
    if (plain(st, &e0, &e1)) {
      const __m128i size = _mm_set1_epi32(st.end - st.begin);
      lo = _mm_add_epi32(lo, _mm_and_si128(e0, size));
      hi = _mm_add_epi32(hi, _mm_and_si128(e1, size));
    } else {
      walked_ += st.end - st.begin;
      for (std::int32_t j = st.begin; j < st.end; ++j) {
        SameLanes(topLeft + offsets_[j], s0, s1, &e0, &e1);
        lo = _mm_sub_epi32(lo, e0);  // all ones is -1: one more
        hi = _mm_sub_epi32(hi, e1);
      }
    }
    live &= ~Bits(_mm_cmpgt_epi32(lo, limit), _mm_cmpgt_epi32(hi, limit));
  }
  return live;
}

}  // namespace zadized
