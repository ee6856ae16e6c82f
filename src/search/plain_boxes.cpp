#include "search/plain_boxes.h"

#include <algorithm>
#include <cstdlib>

#include "image/pixel.h"
#include "platform/platform.h"
#include "search/lanes.h"
#include "search/pair_tests.h"
#include "search/row_runs.h"

namespace zadized {

namespace {

using Box = PlainBoxes::Box;

constexpr std::int64_t kStripe = 512;  // columns
constexpr std::int64_t kStripeWords = kStripe / 64;
// Box sizes weighed, at most.
constexpr int kMaxSizes = 6;
// The screen is probed at up to kProbes places spread over the candidates,
// and the first kSamples of them that pass the pair tests are what the box
// sizes are weighed on, on a grid of up to kSampledSide pixels a side of
// each box; the size that rules out most of them is taken, and the table is
// built when its boxes rule out at least one in kPlainShare of the places
// probed (the pair tests rule out the others, or the exact test must).
constexpr std::int64_t kProbes = 512;
constexpr int kSamples = 16;
constexpr std::int32_t kSampledSide = 8;
constexpr int kPlainShare = 16;
// Box placements tried per side when looking for the smallest box.
constexpr std::int64_t kPlacementsPerSide = 16;

// Bits bit .. bit + 63 of the words at `a`, which hold them all.
inline std::uint64_t WordAt(const std::uint64_t* a, std::int64_t bit) {
  const std::int64_t w = bit >> 6, s = bit & 63;
  return s == 0 ? a[w] : a[w] >> s | a[w + 1] << (64 - s);
}

// Counts of a template's pixels over boxes: marked ones, and background
// after the first marked pixel, the background the one-third rule counts.
class BoxCounts {
 public:
  BoxCounts(const ScanSetup& s, std::int64_t firstMarked) : tw_(s.templateWidth), th_(s.templateHeight) {
    const std::int64_t cells = (tw_ + 1) * (th_ + 1);
    if (cells > 0x7FFFFFFF / 8) return;
    const platform::Ops& os = platform::Current();
    sums_ = static_cast<std::int32_t*>(os.allocZeroed(static_cast<std::uint32_t>(cells * 8)));
    if (sums_ == nullptr) return;
    for (std::int64_t f = 0; f < th_; ++f) {
      const std::int64_t row = (th_ - 1 - f) * tw_;
      for (std::int64_t c = 0; c < tw_; ++c) {
        const std::int64_t k = row + c;
        const bool opaque = TakesPart(s, k);
        const std::int32_t marked = opaque && s.map[k] != 0 ? 1 : 0;
        const std::int32_t counted = opaque && s.map[k] == 0 && k > firstMarked ? 1 : 0;
        std::int32_t* at = sums_ + 2 * ((f + 1) * (tw_ + 1) + c + 1);
        const std::int32_t* up = at - 2 * (tw_ + 1);
        at[0] = marked + at[-2] + up[0] - up[-2];
        at[1] = counted + at[-1] + up[1] - up[-1];
      }
    }
  }
  ~BoxCounts() {
    if (sums_ != nullptr) platform::Current().freeBlock(sums_);
  }
  BoxCounts(const BoxCounts&) = delete;
  BoxCounts& operator=(const BoxCounts&) = delete;

  bool Ready() const { return sums_ != nullptr; }
  bool Fits(const Box& b, std::int64_t limit) const { return In(b, 0) > 0 && In(b, 1) > limit; }
  // kind 0: marked pixels, 1: counted background.
  std::int64_t In(const Box& b, int kind) const {
    const auto at = [&](std::int64_t f, std::int64_t c) { return sums_[2 * (f * (tw_ + 1) + c) + kind]; };
    const std::int64_t f0 = b.fromTop, f1 = b.fromTop + b.height, c0 = b.column, c1 = b.column + b.width;
    return at(f1, c1) - at(f0, c1) - at(f1, c0) + at(f0, c0);
  }

 private:
  std::int64_t tw_, th_;
  std::int32_t* sums_ = nullptr;
};

// Calls visit(box) for placements of a width x height box spread over the
// template, the last column and row included.
template <typename Visit>
void EachPlacement(std::int64_t tw, std::int64_t th, std::int64_t width, std::int64_t height,
                   const Visit& visit) {
  const std::int64_t columns = tw - width + 1, rows = th - height + 1;
  const std::int64_t stepX = std::max<std::int64_t>(1, columns / kPlacementsPerSide);
  const std::int64_t stepY = std::max<std::int64_t>(1, rows / kPlacementsPerSide);
  for (std::int64_t i = 0;; i += stepY) {
    const std::int64_t r = std::min(i, rows - 1);
    for (std::int64_t j = 0;; j += stepX) {
      const std::int64_t c = std::min(j, columns - 1);
      visit(Box{static_cast<std::int32_t>(r), static_cast<std::int32_t>(c), static_cast<std::int32_t>(width),
                static_cast<std::int32_t>(height)});
      if (c == columns - 1) break;
    }
    if (r == rows - 1) break;
  }
}

// For each width (the template's, then about a quarter less each time, up to
// kWidestBox) the least height of a box that holds a marked pixel and more
// counted background than `limit` somewhere: sizes[0 .. n).
int BoxSizes(const BoxCounts& counts, std::int64_t tw, std::int64_t th, std::int64_t limit, Box* sizes) {
  const auto anyFits = [&](std::int64_t w, std::int64_t h) {
    bool found = false;
    EachPlacement(tw, th, w, h, [&](const Box& b) { found = found || counts.Fits(b, limit); });
    return found;
  };
  int n = 0;
  for (std::int64_t w = tw; w >= 1 && n < kMaxSizes; w = w * 3 / 4 < w - 1 ? w * 3 / 4 : w - 1) {
    std::int64_t lo = 1, hi = std::min<std::int64_t>(th, PlainBoxes::kTallestBox);
    if (w > PlainBoxes::kWidestBox || !anyFits(w, hi)) continue;
    while (lo < hi) {
      const std::int64_t mid = (lo + hi) / 2;
      if (anyFits(w, mid))
        hi = mid;
      else
        lo = mid + 1;
    }
    sizes[n++] = Box{0, 0, static_cast<std::int32_t>(w), static_cast<std::int32_t>(lo)};
  }
  return n;
}

// Up to `most` placements of a size that fit: the first holds the most
// background, each next one lies farthest from those taken.
int Place(const BoxCounts& counts, std::int64_t tw, std::int64_t th, std::int64_t limit, const Box& size,
          int most, Box* out) {
  int n = 0;
  for (; n < most; ++n) {
    std::int64_t best = -1;
    EachPlacement(tw, th, size.width, size.height, [&](const Box& b) {
      if (!counts.Fits(b, limit)) return;
      std::int64_t score = n == 0 ? counts.In(b, 1) : INT64_MAX;
      for (int i = 0; i < n; ++i) {
        score = std::min<std::int64_t>(
            score, std::abs(b.column - out[i].column) + std::abs(b.fromTop - out[i].fromTop));
      }
      if (score > best) {
        best = score;
        out[n] = b;
      }
    });
    if (best <= 0) break;
  }
  return n;
}

// 16 bits as 16 bytes of all ones or zeros.
inline __m128i BitsToBytes(unsigned bits) {
  const auto lo = static_cast<long long>((bits & 0xFFu) * 0x0101010101010101ull);
  const auto hi = static_cast<long long>((bits >> 8 & 0xFFu) * 0x0101010101010101ull);
  const __m128i v = _mm_set_epi64x(hi, lo);
  const __m128i select = _mm_set_epi8(-128, 64, 32, 16, 8, 4, 2, 1, -128, 64, 32, 16, 8, 4, 2, 1);
  return _mm_cmpeq_epi8(_mm_and_si128(v, select), select);
}

// Sixteen pixels of two rows compared, as 16 bytes of all ones where equal.
inline __m128i SameBytes(const std::uint8_t* p, const std::uint8_t* q) {
  __m128i e[4];
  const __m128i zero = _mm_setzero_si128();
  for (int i = 0; i < 4; ++i) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 16 * i));
    // Shifting left by 8 drops the fourth byte, which never takes part.
    e[i] = _mm_cmpeq_epi32(_mm_slli_epi32(_mm_xor_si128(a, b), 8), zero);
  }
  return _mm_packs_epi16(_mm_packs_epi32(e[0], e[1]), _mm_packs_epi32(e[2], e[3]));
}

// Bit j of `v`: pixels j and j + 1 from `p` on show one colour, for j below
// `pairs`.
void NeighbourBits(const std::uint8_t* p, std::int64_t pairs, std::uint64_t* v) {
  const __m128i zero = _mm_setzero_si128();
  std::int64_t j = 0;
  for (; j + 16 <= pairs; j += 16) {
    const auto same = static_cast<unsigned>(_mm_movemask_epi8(SameBytes(p + 4 * j, p + 4 * j + 4)));
    v[j >> 6] |= static_cast<std::uint64_t>(same) << (j & 63);
  }
  for (; j + 4 <= pairs; j += 4) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 4 * j));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 4 * j + 4));
    // Shifting left by 8 drops the fourth byte, which never takes part.
    const __m128i same = _mm_cmpeq_epi32(_mm_slli_epi32(_mm_xor_si128(a, b), 8), zero);
    v[j >> 6] |= static_cast<std::uint64_t>(_mm_movemask_ps(_mm_castsi128_ps(same))) << (j & 63);
  }
  for (; j < pairs; ++j) {
    if (MaskPixel(p + 4 * j, 3) == MaskPixel(p + 4 * j + 4, 3)) v[j >> 6] |= 1ull << (j & 63);
  }
}

bool g_alwaysBuild = false;

}  // namespace

void AlwaysBuildPlainBoxes(bool on) { g_alwaysBuild = on; }

PlainBoxes::PlainBoxes(const ScanSetup& s, const Candidates& c, const PairTests* tests, const RowRuns* runs)
    : s_(s), runs_(runs) {
  const std::int64_t tw = s.templateWidth, th = s.templateHeight;
  if (s.map == nullptr || !s.shape || tw <= 0 || th <= 0 || c.columns <= 0 || c.rows <= 0) return;
  std::int64_t firstMarked = -1, unmarked = 0, counted = 0;
  for (std::int64_t k = 0; k < tw * th; ++k) {
    if (!TakesPart(s, k)) continue;
    if (s.map[k] != 0) {
      if (firstMarked < 0) firstMarked = k;
    } else {
      ++unmarked;
      if (firstMarked >= 0) ++counted;
    }
  }
  // Without more counted background than the limit the rule cannot fail
  // on the count, and no box can say it does.
  const std::int64_t limit = unmarked / 3;
  if (firstMarked < 0 || counted <= limit) return;
  const BoxCounts counts(s, firstMarked);
  if (!counts.Ready()) return;
  Box sizes[kMaxSizes];
  const int n = BoxSizes(counts, tw, th, limit, sizes);
  Box placed[kMaxSizes][kMaxBoxes];
  int count[kMaxSizes];
  for (int i = 0; i < n; ++i) count[i] = Place(counts, tw, th, limit, sizes[i], kMaxBoxes, placed[i]);
  const int best = Choose(c, tests, placed, count, n);
  if (best < 0) return;
  boxCount_ = Place(counts, tw, th, limit, sizes[best], kAllBoxes, boxes_);
  downward_ = c.order.bottomUp;
  leftward_ = c.order.rightToLeft;
  Allocate(c);
}

PlainBoxes::~PlainBoxes() {
  const platform::Ops& os = platform::Current();
  for (void* p : {static_cast<void*>(tall_), static_cast<void*>(heights_), static_cast<void*>(nextRow_)}) {
    if (p != nullptr) os.freeBlock(p);
  }
}

// Whether the box shows one colour in the window at (x, y), judged on a
// grid of its pixels.
bool PlainBoxes::LooksPlain(std::int64_t x, std::int64_t y, const Box& b) const {
  const std::int64_t stepX = std::max(1, b.width / kSampledSide),
                     stepY = std::max(1, b.height / kSampledSide);
  const auto at = [&](std::int64_t dx, std::int64_t dy) {
    return MaskPixel(TopLeftOf(s_, static_cast<std::int32_t>(x + b.column + dx),
                               static_cast<std::int32_t>(y + b.fromTop + dy)),
                     3);
  };
  const ColorValue first = at(0, 0);
  for (std::int64_t dy = 0; dy < b.height; dy += stepY) {
    for (std::int64_t dx = 0; dx < b.width; dx += stepX) {
      if (at(dx, dy) != first) return false;
    }
  }
  return true;
}

// Which size's boxes rule out most of the sampled windows that the pair
// tests let through (every window without them) and that are not wholly one
// colour (every size rules those out); -1 when the boxes rule out too few
// of the windows sampled, plain ones included, to pay for the table.
int PlainBoxes::Choose(const Candidates& c, const PairTests* tests, const Box (*placed)[kMaxBoxes],
                       const int* count, int sizes) const {
  int ruled[kMaxSizes] = {}, samples = 0, plain = 0;
  const Box whole{0, 0, s_.templateWidth, s_.templateHeight};
  std::int64_t probed = 0;
  for (std::int64_t i = 0; i < kProbes && samples - plain < kSamples; ++i, ++probed) {
    const std::int64_t linear = i * (c.columns * c.rows - 1) / (kProbes - 1);
    const std::int64_t x = c.firstX + linear % c.columns, y = c.firstY + linear / c.columns;
    if (tests != nullptr &&
        !tests->Passes(TopLeftOf(s_, static_cast<std::int32_t>(x), static_cast<std::int32_t>(y))))
      continue;
    ++samples;
    if (LooksPlain(x, y, whole)) {
      ++plain;
      continue;
    }
    for (int k = 0; k < sizes; ++k) {
      bool out = false;
      for (int j = 0; j < count[k] && !out; ++j) out = LooksPlain(x, y, placed[k][j]);
      ruled[k] += out ? 1 : 0;
    }
  }
  int best = -1;
  for (int k = 0; k < sizes; ++k) {
    const std::int64_t area = static_cast<std::int64_t>(placed[k][0].width) * placed[k][0].height;
    if (count[k] > 0 && (best < 0 || ruled[k] > ruled[best] ||
                         (ruled[k] == ruled[best] &&
                          area < static_cast<std::int64_t>(placed[best][0].width) * placed[best][0].height)))
      best = k;
  }
  // The table costs about a read of the screen; it pays where the windows it
  // rules out would otherwise go through the exact test.
  return best >= 0 && (g_alwaysBuild || (plain + ruled[best]) * kPlainShare >= probed) ? best : -1;
}

bool PlainBoxes::Allocate(const Candidates& c) {
  firstRow_ = c.firstY;
  rows_ = c.rows + s_.templateHeight - 1;
  stripes_ = (static_cast<std::int64_t>(s_.width) + kStripe - 1) / kStripe;
  words_ = stripes_ * kStripeWords + 2;
  if (rows_ * words_ * 8 > 0x7FFFFFFF || stripes_ * (kStripe + 16) > 0x7FFFFFFF) return false;
  const platform::Ops& os = platform::Current();
  tall_ = static_cast<std::uint64_t*>(os.allocZeroed(static_cast<std::uint32_t>(rows_ * words_ * 8)));
  heights_ = static_cast<std::uint8_t*>(os.allocZeroed(static_cast<std::uint32_t>(stripes_ * kStripe + 16)));
  nextRow_ = static_cast<std::int64_t*>(os.allocZeroed(static_cast<std::uint32_t>(stripes_ * 8)));
  if (tall_ != nullptr && heights_ != nullptr && nextRow_ != nullptr) {
    for (std::int64_t k = 0; k < stripes_; ++k) nextRow_[k] = downward_ ? rows_ - 1 : 0;
    return true;
  }
  for (void* p : {static_cast<void*>(tall_), static_cast<void*>(heights_), static_cast<void*>(nextRow_)}) {
    if (p != nullptr) os.freeBlock(p);
  }
  tall_ = nullptr;
  heights_ = nullptr;
  nextRow_ = nullptr;
  return false;
}

// Bit x - 512 * stripe of `out` (8 words): the stretch of the boxes' width
// from pixel x of the row shows one colour. Worked out from which
// neighbouring pixels match, by doubling the length they are known to match
// over; bits that would need pixels past the local words come out 0, which
// only ever costs a box that could have ruled something out.
void PlainBoxes::StretchBits(std::int64_t row, std::int64_t stripe, std::uint64_t* out) const {
  constexpr std::int64_t kLocal = kStripeWords + PlainBoxes::kWidestBox / 64 + 4;
  const std::int64_t from = stripe * kStripe, m = boxes_[0].width - 1;  // neighbouring pairs
  const std::int64_t used = std::min<std::int64_t>(kLocal - 2, kStripeWords + (m + 63) / 64 + 1);
  const std::int64_t end = std::min<std::int64_t>(from + 64 * used, s_.width - 1);
  std::uint64_t v[kLocal + PlainBoxes::kWidestBox / 64 + 2] = {};
  if (runs_ != nullptr) {
    // The same bits: from is a whole number of words, and the runs' row
    // has none past its last pair, nor words past the row.
    const std::uint64_t* bits =
        runs_->Row(static_cast<std::int32_t>(firstRow_ + row), from, std::max<std::int64_t>(end, from)) +
        from / 64;
    const std::int64_t have = std::min<std::int64_t>(used, runs_->Words() - from / 64);
    for (std::int64_t w = 0; w < have; ++w) v[w] = bits[w];
  } else {
    NeighbourBits(TopLeftOf(s_, 0, static_cast<std::int32_t>(firstRow_ + row)) + 4 * from, end - from, v);
  }
  if (m <= 0) {
    for (std::int64_t w = 0; w < kStripeWords; ++w) out[w] = ~0ull;
    return;
  }
  std::int64_t len = 1;
  for (; 2 * len <= m; len *= 2) {
    for (std::int64_t w = 0; w < used; ++w) v[w] &= WordAt(v, 64 * w + len);
  }
  for (std::int64_t w = 0; w < kStripeWords; ++w) out[w] = v[w] & WordAt(v, 64 * w + m - len);
}

// One row of one stripe: each pixel's count of rows in a row, up to this one
// in the counting direction, whose stretch of the boxes' width from it shows
// one colour, the same colour from row to row; and the table's bits.
void PlainBoxes::BuildRow(std::int64_t row, std::int64_t stripe) const {
  const std::int64_t from = stripe * kStripe, end = std::min<std::int64_t>(from + kStripe, s_.width);
  const std::int64_t before = downward_ ? row + 1 : row - 1;
  const bool first = before < 0 || before >= rows_;
  const std::uint8_t* p = TopLeftOf(s_, 0, static_cast<std::int32_t>(firstRow_ + row));
  const std::uint8_t* q = TopLeftOf(s_, 0, static_cast<std::int32_t>(firstRow_ + (first ? row : before)));
  std::uint8_t* h = heights_ + from;  // the stripe's counts, from the row before
  std::uint64_t* t = tall_ + row * words_;
  std::uint64_t one[kStripeWords];
  StretchBits(row, stripe, one);
  const auto height = static_cast<std::uint8_t>(boxes_[0].height);
  const __m128i ones = _mm_set1_epi8(1), zero = _mm_setzero_si128(),
                least = _mm_set1_epi8(static_cast<char>(height));
  std::int64_t x = from;
  for (; x + 16 <= end; x += 16) {
    const std::int64_t i = x - from;
    const unsigned bits = static_cast<unsigned>(one[i >> 6] >> (i & 63)) & 0xFFFFu;
    if (bits == 0) {
      // Nothing one colour here: no count goes on, and nothing is compared.
      _mm_storeu_si128(reinterpret_cast<__m128i*>(h + i), zero);
      continue;
    }
    const __m128i uniform = BitsToBytes(bits);
    const __m128i last = first ? zero : _mm_loadu_si128(reinterpret_cast<const __m128i*>(h + i));
    const __m128i go = _mm_andnot_si128(_mm_cmpeq_epi8(last, zero), SameBytes(p + 4 * x, q + 4 * x));
    const __m128i grown =
        _mm_or_si128(_mm_and_si128(go, _mm_adds_epu8(last, ones)), _mm_andnot_si128(go, ones));
    const __m128i now = _mm_and_si128(grown, uniform);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(h + i), now);
    const auto tall = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(now, least), now)));
    t[x >> 6] |= static_cast<std::uint64_t>(tall) << (x & 63);
  }
  for (; x < end; ++x) {
    const std::int64_t i = x - from;
    const bool uniform = (one[i >> 6] >> (i & 63) & 1u) != 0;
    const bool go = !first && h[i] != 0 && MaskPixel(p + 4 * x, 3) == MaskPixel(q + 4 * x, 3);
    h[i] = !uniform ? 0 : go ? static_cast<std::uint8_t>(h[i] == 255 ? 255 : h[i] + 1) : 1;
    if (h[i] >= height) t[x >> 6] |= 1ull << (x & 63);
  }
}

void PlainBoxes::Through(std::int64_t row, std::int64_t stripe) const {
  std::int64_t& next = nextRow_[stripe];
  if (downward_) {
    while (next >= row) BuildRow(next--, stripe);
  } else {
    while (next <= row) BuildRow(next++, stripe);
  }
}

// Bit i: no box from..to - 1 rules out the position (x + i, y).
std::uint64_t PlainBoxes::Live(std::int64_t x, std::int64_t y, int from, int to) const {
  std::uint64_t ruled = 0;
  for (int i = from; i < to; ++i) {
    const Box& b = boxes_[i];
    const std::int64_t row = y - firstRow_ + b.fromTop + (downward_ ? 0 : b.height - 1);
    const std::int64_t column = x + b.column;
    for (std::int64_t k = column / kStripe; k <= (column + 63) / kStripe && k < stripes_; ++k)
      Through(row, k);
    ruled |= WordAt(tall_ + row * words_, column);
  }
  return ~ruled;
}

unsigned PlainBoxes::Rest(std::int32_t x, std::int32_t y) const {
  return boxCount_ > kMaxBoxes ? static_cast<unsigned>(Live(x, y, kMaxBoxes, boxCount_)) & kAllLanes
                               : kAllLanes;
}

// The 64 positions kept end with this block's in a scan going right to left,
// so that the seven blocks after it find theirs there too.
unsigned PlainBoxes::Fresh(std::int32_t x, std::int32_t y) const {
  const int first = boxCount_ < kMaxBoxes ? boxCount_ : kMaxBoxes;
  const std::int64_t from =
      leftward_ ? std::max<std::int64_t>(static_cast<std::int64_t>(x) - (64 - kLanes), 0) : x;
  keptY_ = y;
  keptX_ = from;
  kept_ = Live(from, y, 0, first);
  return static_cast<unsigned>(kept_ >> (x - from)) & kAllLanes;
}

}  // namespace zadized
