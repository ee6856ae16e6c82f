#include "search/near_tests.h"

#include "image/pixel.h"
#include "platform/platform.h"
#include "search/lanes.h"

namespace zadized {

namespace {

// Pixels ranked on the screen: the first of them in visiting order, which
// lie spread over the whole window.
constexpr std::int64_t kRankedPixels = 64;
constexpr std::int64_t kSampleBlocks = 32;
// Pixels beyond the ranked ones tried by GatherLikelyMisses at most.
constexpr std::int64_t kScreenedPixels = 8192;
// Pixels whose tolerance bands are kept as registers; their misses are
// counted in 16 bits, which this many cannot overflow.
constexpr std::int64_t kBandedPixels = 4096;

// Lanes whose screen pixel at `p + 4 * lane` is within the tolerance of
// `color` in blue, green and red. `tolerance` holds n in the three colour
// bytes of each pixel and 255 in the fourth, which never takes part.
// As all ones in each of the pixel's 32 bits, for lanes 0-3 and 4-7.
inline void Within(const std::uint8_t* p, __m128i color, __m128i tolerance, __m128i* in0, __m128i* in1) {
  const __m128i s0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i s1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
  // |s - c| per byte, then what exceeds the tolerance.
  const __m128i d0 = _mm_or_si128(_mm_subs_epu8(s0, color), _mm_subs_epu8(color, s0));
  const __m128i d1 = _mm_or_si128(_mm_subs_epu8(s1, color), _mm_subs_epu8(color, s1));
  const __m128i zero = _mm_setzero_si128();
  *in0 = _mm_cmpeq_epi32(_mm_subs_epu8(d0, tolerance), zero);
  *in1 = _mm_cmpeq_epi32(_mm_subs_epu8(d1, tolerance), zero);
}

inline unsigned LaneBits(__m128i lo, __m128i hi) {
  return static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(lo))) |
         static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(hi))) << 4;
}

inline unsigned WithinLanes(const std::uint8_t* p, __m128i color, __m128i tolerance) {
  __m128i in0, in1;
  Within(p, color, tolerance, &in0, &in1);
  return LaneBits(in0, in1);
}

__m128i ToleranceVector(std::int32_t n) {
  const auto t = static_cast<std::uint32_t>(n & 0xFF);
  return _mm_set1_epi32(static_cast<int>(t | t << 8 | t << 16 | 0xFF000000u));
}

}  // namespace

NearTests::NearTests(const ScanSetup& s) : s_(s) {
  const std::int64_t tw = s.templateWidth, th = s.templateHeight;
  const std::int64_t n = tw * th;
  if (s.colors == nullptr || tw <= 0 || th <= 0 ||
      n > 0x7FFFFFFF / static_cast<std::int64_t>(sizeof(std::ptrdiff_t))) {
    return;
  }
  const platform::Ops& os = platform::Current();
  offsets_ =
      static_cast<std::ptrdiff_t*>(os.allocZeroed(static_cast<std::uint32_t>(n * sizeof(std::ptrdiff_t))));
  colors_ = static_cast<ColorValue*>(os.allocZeroed(static_cast<std::uint32_t>(n * sizeof(ColorValue))));
  if (offsets_ == nullptr || colors_ == nullptr) {
    if (offsets_ != nullptr) os.freeBlock(offsets_);
    if (colors_ != nullptr) os.freeBlock(colors_);
    offsets_ = nullptr;
    colors_ = nullptr;
    return;
  }
  const TemplateColors& t = *s.colors;
  const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(s.width) * 4;
  InSpreadOrder(tw, th, [&](std::int64_t column, std::int64_t row) {
    if (!TakesPart(s, (th - 1 - row) * tw + column)) return;  // a transparent pixel is never counted
    offsets_[count_] = static_cast<std::ptrdiff_t>(column * 4) - static_cast<std::ptrdiff_t>(row) * stride;
    colors_[count_++] = t.At(t.pixels + static_cast<std::ptrdiff_t>(th - 1 - row) * t.stride +
                             static_cast<std::ptrdiff_t>(column) * t.bytesPerPixel);
  });
  // With no miss allowed a lane is out at its first miss: no bands.
  banded_ = s.allowedMisses == 0 ? 0 : count_ < kBandedPixels ? count_ : kBandedPixels;
  // Without memory for the bands every pixel takes the long way.
  if (banded_ > 0)
    bands_ = static_cast<std::uint8_t*>(os.allocZeroed(static_cast<std::uint32_t>(banded_ * 32)));
  if (bands_ == nullptr) banded_ = 0;
  FillBands();
}

void NearTests::FillBands() {
  if (bands_ == nullptr) return;
  // The fourth byte's band is 0 to 255, so it never takes part.
  const __m128i tolerance = ToleranceVector(s_.tolerance);
  const __m128i fourth = _mm_set1_epi32(static_cast<int>(0xFF000000u));
  for (std::int64_t i = 0; i < banded_; ++i) {
    const __m128i color = _mm_andnot_si128(fourth, _mm_set1_epi32(static_cast<int>(colors_[i])));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(bands_ + 32 * i),
                     _mm_andnot_si128(fourth, _mm_subs_epu8(color, tolerance)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(bands_ + 32 * i + 16), _mm_adds_epu8(color, tolerance));
  }
}

NearTests::~NearTests() {
  const platform::Ops& os = platform::Current();
  if (offsets_ != nullptr) os.freeBlock(offsets_);
  if (colors_ != nullptr) os.freeBlock(colors_);
  if (bands_ != nullptr) os.freeBlock(bands_);
}

void NearTests::Rank(const Candidates& c) {
  if (c.columns < kLanes) return;
  const std::uint8_t* at[kSampleBlocks];
  SampleSpots(s_, c, kSampleBlocks, true, at);
  std::uint64_t alive[kSampleBlocks / 8];
  RankPool(at, alive);
  if (count_ > kRankedPixels && GatherLikelyMisses(at, alive)) RankPool(at, alive);
  FillBands();
}

// Ranks the first pixels; `alive` learns which sampled lanes pass them all.
void NearTests::RankPool(const std::uint8_t* const* at, std::uint64_t* alive) {
  const std::int64_t pool = count_ < kRankedPixels ? count_ : kRankedPixels;
  const __m128i tolerance = ToleranceVector(s_.tolerance);
  // Bit j of within[i] word w: sample 64w + j is within at pixel i.
  std::uint64_t within[kRankedPixels][kSampleBlocks / 8] = {};
  int misses[kRankedPixels] = {};
  for (std::int64_t i = 0; i < pool; ++i) {
    const __m128i color = _mm_set1_epi32(static_cast<int>(colors_[i]));
    for (std::int64_t b = 0; b < kSampleBlocks; ++b) {
      const std::uint64_t lanes = WithinLanes(at[b] + offsets_[i], color, tolerance);
      within[i][b / 8] |= lanes << (8 * (b % 8));
      misses[i] += kLanes - __builtin_popcount(static_cast<unsigned>(lanes));
    }
  }
  // With no miss allowed, each next pixel is the one that rejects most of
  // the samples the earlier ones let through; otherwise misses are counted
  // anyway, so the pixels that miss most often go first.
  std::int64_t order[kRankedPixels];
  bool used[kRankedPixels] = {};
  for (int w = 0; w < kSampleBlocks / 8; ++w) alive[w] = ~0ull;
  for (std::int64_t round = 0; round < pool; ++round) {
    std::int64_t best = -1;
    int bestScore = 0;
    for (std::int64_t i = 0; i < pool; ++i) {
      if (used[i]) continue;
      int score = -misses[i];
      if (s_.allowedMisses == 0) {
        score = 0;
        for (int w = 0; w < kSampleBlocks / 8; ++w) score += __builtin_popcountll(alive[w] & within[i][w]);
      }
      if (best < 0 || score < bestScore) {
        best = i;
        bestScore = score;
      }
    }
    used[best] = true;
    order[round] = best;
    for (int w = 0; w < kSampleBlocks / 8; ++w) alive[w] &= within[best][w];
  }
  Reorder(order, pool);
}

// The ranking weighs the first pixels in visiting order, spread over the
// window; a template cut from a plain background and changed in one pixel
// is told from that background by the one pixel alone, wherever it lies.
// So the other pixels (in a large template an even share of them) are tried
// on the samples: with no miss allowed, on those the ranked pixels all let
// through, by how many of them they reject; otherwise by how often they
// miss. Those that do best take the ranked pool's second half, and the
// caller ranks the pool again. Only the order changes, never what is
// tested. False when none was found that does better than the pool's own.
bool NearTests::GatherLikelyMisses(const std::uint8_t* const* at, const std::uint64_t* alive) {
  constexpr std::int64_t kKept = kRankedPixels / 2;
  const __m128i tolerance = ToleranceVector(s_.tolerance);
  const bool none = s_.allowedMisses == 0;
  const std::int64_t step = count_ / kScreenedPixels + 1;
  std::int64_t best[kKept];
  int bestScore[kKept];
  std::int64_t kept = 0;
  for (std::int64_t i = kRankedPixels; i < count_; i += step) {
    const __m128i color = _mm_set1_epi32(static_cast<int>(colors_[i]));
    int score = 0;
    // With misses allowed every lane counts: a quarter of the samples do.
    for (std::int64_t b = 0; b < kSampleBlocks; b += none ? 1 : 4) {
      const auto mask = static_cast<unsigned>(none ? alive[b / 8] >> (8 * (b % 8)) & 0xFF : kAllLanes);
      if (mask != 0) score += __builtin_popcount(mask & ~WithinLanes(at[b] + offsets_[i], color, tolerance));
    }
    if (score == 0) continue;
    // Kept in falling order of score, the earlier pixel first on a tie.
    std::int64_t j = kept < kKept ? kept++ : kKept;
    for (; j > 0 && bestScore[j - 1] < score; --j) {
      if (j < kKept) {
        best[j] = best[j - 1];
        bestScore[j] = bestScore[j - 1];
      }
    }
    if (j < kKept) {
      best[j] = i;
      bestScore[j] = score;
    }
  }
  // Swapped into the pool's second half; each swap moves a pixel, loses none.
  for (std::int64_t j = 0; j < kept; ++j) {
    const std::int64_t to = kRankedPixels - kKept + j, from = best[j];
    const std::ptrdiff_t o = offsets_[to];
    const ColorValue v = colors_[to];
    offsets_[to] = offsets_[from];
    colors_[to] = colors_[from];
    offsets_[from] = o;
    colors_[from] = v;
  }
  return kept > 0;
}

void NearTests::Reorder(const std::int64_t* order, std::int64_t pool) {
  std::ptrdiff_t offsets[kRankedPixels];
  ColorValue colors[kRankedPixels];
  for (std::int64_t i = 0; i < pool; ++i) {
    offsets[i] = offsets_[order[i]];
    colors[i] = colors_[order[i]];
  }
  for (std::int64_t i = 0; i < pool; ++i) {
    offsets_[i] = offsets[i];
    colors_[i] = colors[i];
  }
}

unsigned NearTests::AllWithin(const std::uint8_t* topLeft, unsigned lanes) const {
  const __m128i tolerance = ToleranceVector(s_.tolerance);
  unsigned live = lanes;
  for (std::int64_t i = 0; i < count_ && live != 0; ++i) {
    live &= WithinLanes(topLeft + offsets_[i], _mm_set1_epi32(static_cast<int>(colors_[i])), tolerance);
  }
  return live;
}

unsigned NearTests::FewMisses(const std::uint8_t* topLeft, unsigned lanes) const {
  const __m128i tolerance = ToleranceVector(s_.tolerance);
  // Misses per lane, four lanes to a register; a lane is out once it has
  // more than are allowed.
  const __m128i limit =
      _mm_set1_epi32(static_cast<int>(s_.allowedMisses < 0x7FFFFFFF ? s_.allowedMisses : 0x7FFFFFFF));
  std::int64_t i = 0;
  __m128i lo, hi;
  unsigned live = BandedMisses(topLeft, lanes, &i, &lo, &hi);
  // Within is all ones, so subtracting it and adding one counts a miss.
  const __m128i one = _mm_set1_epi32(1);
  for (; i < count_ && live != 0; ++i) {
    __m128i in0, in1;
    Within(topLeft + offsets_[i], _mm_set1_epi32(static_cast<int>(colors_[i])), tolerance, &in0, &in1);
    lo = _mm_add_epi32(lo, _mm_add_epi32(in0, one));
    hi = _mm_add_epi32(hi, _mm_add_epi32(in1, one));
    live &= ~LaneBits(_mm_cmpgt_epi32(lo, limit), _mm_cmpgt_epi32(hi, limit));
  }
  return live;
}

// The misses on the banded pixels, which are most of what a test that does
// not match reads: the lanes among `lanes` left after them, `counted` the
// pixels read and lo and hi each lane's misses so far (four lanes to each).
// A screen byte is within the tolerance when it lies in its band, that is
// when neither its excess over the top nor its shortfall under the bottom
// is above zero; the matches are counted in 16 bits (minus one for each).
unsigned NearTests::BandedMisses(const std::uint8_t* topLeft, unsigned lanes, std::int64_t* counted,
                                 __m128i* lo, __m128i* hi) const {
  const __m128i zero = _mm_setzero_si128();
  const auto step = [&](std::int64_t i, __m128i matches) {
    const __m128i bottom = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bands_ + 32 * i));
    const __m128i top = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bands_ + 32 * i + 16));
    const std::uint8_t* p = topLeft + offsets_[i];
    const __m128i s0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i s1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
    const __m128i out0 = _mm_or_si128(_mm_subs_epu8(s0, top), _mm_subs_epu8(bottom, s0));
    const __m128i out1 = _mm_or_si128(_mm_subs_epu8(s1, top), _mm_subs_epu8(bottom, s1));
    // Packing with signed saturation keeps a pixel's excess zero or not.
    return _mm_add_epi16(matches, _mm_cmpeq_epi16(_mm_packs_epi32(out0, out1), zero));
  };
  const std::int64_t a = s_.allowedMisses, end = banded_;
  // No lane can run out before it has missed on one pixel more than are
  // allowed, so that many pixels are counted without looking.
  const std::int64_t blind = a < end ? a : end;
  __m128i matches = zero;  // minus the matches
  std::int64_t i = 0;
  for (; i < blind; ++i) matches = step(i, matches);
  // Lanes not asked about count as out from the start: a lane is out when
  // fewer than i - a of its i pixels match.
  __m128i out = _mm_cmpeq_epi16(
      _mm_and_si128(_mm_set1_epi16(static_cast<short>(lanes)), _mm_setr_epi16(1, 2, 4, 8, 16, 32, 64, 128)),
      zero);
  for (; i < end && _mm_movemask_epi8(out) != 0xFFFF; i += 2) {
    matches = step(i, matches);
    if (i + 1 < end) matches = step(i + 1, matches);
    const std::int64_t seen = i + 2 < end ? i + 2 : end;
    out = _mm_or_si128(out, _mm_cmpgt_epi16(matches, _mm_set1_epi16(static_cast<short>(a - seen))));
  }
  *counted = i < end ? i : end;
  // Misses are the pixels read less the matches; as 32 bits.
  const __m128i read = _mm_set1_epi32(static_cast<int>(*counted));
  const __m128i sign = _mm_cmpgt_epi16(zero, matches);
  *lo = _mm_add_epi32(read, _mm_unpacklo_epi16(matches, sign));
  *hi = _mm_add_epi32(read, _mm_unpackhi_epi16(matches, sign));
  const __m128i limit = _mm_set1_epi32(static_cast<int>(a < 0x7FFFFFFF ? a : 0x7FFFFFFF));
  return lanes & ~LaneBits(_mm_cmpgt_epi32(*lo, limit), _mm_cmpgt_epi32(*hi, limit)) &
         ~static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(out, zero)));
}

bool NearTests::Matches(const std::uint8_t* topLeft) const {
  std::int64_t misses = 0;
  for (std::int64_t i = 0; i < count_; ++i) {
    if (!WithinTolerance(colors_[i], MaskPixel(topLeft + offsets_[i], 3), s_.tolerance) &&
        ++misses > s_.allowedMisses) {
      return false;
    }
  }
  return true;
}

}  // namespace zadized
