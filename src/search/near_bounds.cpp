#include "search/near_bounds.h"

#include "platform/platform.h"
#include "search/lanes.h"

namespace zadized {

namespace {

// Below this many misses allowed, the pixel tests reject a position about as
// soon as the bound would, and counting the screen would not pay.
constexpr std::int64_t kMinAllowed = 8;
// Thresholds tried: 16, 32, ... 240 in each of blue, green and red.
constexpr int kLevels = 15;
constexpr int kPlanes = 3 * kLevels;
// Tiles: a coarse layout, cheap per position, and a fine one for templates
// (lines of text, say) whose coarse tiles let too many positions through.
constexpr int kCoarseAcross = 6, kCoarseDown = 2;
constexpr int kFineAcross = 12, kFineDown = 4;
constexpr int kMaxSamples = 64;
// Template pixels read over all the sampled positions at most.
constexpr std::int64_t kSampleBudget = 1 << 20;
// Template pixels of each kind the pixel by pixel bound weighs at most, so
// that its 16-bit counts cannot wrap.
constexpr std::int32_t kMaxListed = 16384;
// Lanes the pixel by pixel bound is tried on before it is judged.
constexpr std::int64_t kTrialLanes = 512;

int ThresholdOf(int plane) { return 16 * (plane % kLevels + 1); }
int ChannelOf(int plane) { return plane / kLevels; }

// -1 in each 16-bit lane whose pixel (of the eight at p) has the channel at
// `shift` at or above the threshold + 1 held in `below`.
inline __m128i AtOrAbove(const std::uint8_t* p, __m128i shift, __m128i below) {
  const __m128i mask = _mm_set1_epi32(0xFF);
  const __m128i v0 =
      _mm_and_si128(_mm_srl_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), shift), mask);
  const __m128i v1 =
      _mm_and_si128(_mm_srl_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)), shift), mask);
  return _mm_packs_epi32(_mm_cmpgt_epi32(v0, below), _mm_cmpgt_epi32(v1, below));
}

}  // namespace

struct NearBounds::Tables {
  std::uint16_t high[kPlanes][kMaxTiles];
  std::uint16_t low[kPlanes][kMaxTiles];
  // Learnt on the samples: per plane, the positions it rules out, and per
  // tile the misses it proves there.
  int samples;
  int rejected[kPlanes];
  int proven[kPlanes][kMaxTiles];
};

NearBounds::NearBounds(const ScanSetup& s, const Candidates& c) : s_(s) {
  // A scan down the rows that finds what it looks for early needs the counts
  // of its first rows only.
  const bool lazy = !c.order.bottomUp && !c.order.columnsOuter;
  Tables t;
  if (!Layout(c, kCoarseAcross, kCoarseDown)) return;
  FillTemplateTables(&t);
  int plane = ChoosePlane(c, &t);
  // Fewer than 15 in 16 sampled positions ruled out: finer tiles, if they
  // rule out more.
  if (plane < 0 || t.rejected[plane] * 16 < t.samples * 15) {
    const int coarse = plane < 0 ? 0 : t.rejected[plane];
    Tables fine;
    Layout(c, kFineAcross, kFineDown);
    FillTemplateTables(&fine);
    const int finePlane = ChoosePlane(c, &fine);
    if (finePlane >= 0 && fine.rejected[finePlane] > coarse) {
      UsePlane(fine, finePlane);
      Count(ChannelOf(finePlane), ThresholdOf(finePlane), lazy);
      ListPixels(ChannelOf(finePlane), ThresholdOf(finePlane));
      return;
    }
    if (plane < 0) return;
    Layout(c, kCoarseAcross, kCoarseDown);
  }
  UsePlane(t, plane);
  Count(ChannelOf(plane), ThresholdOf(plane), lazy);
  ListPixels(ChannelOf(plane), ThresholdOf(plane));
}

NearBounds::~NearBounds() {
  const platform::Ops& os = platform::Current();
  if (counts_ != nullptr) os.freeBlock(counts_);
  if (plane_ != nullptr) os.freeBlock(plane_);
  if (pixels_ != nullptr) os.freeBlock(pixels_);
  if (work_ != nullptr) os.freeBlock(work_);
}

// Tiles a power of two wide (so that their row sums take a few doublings), at
// most `across` by `down` of them; the template's last columns and rows may
// lie outside every tile, which only leaves their misses uncounted.
bool NearBounds::Layout(const Candidates& c, int across, int down) {
  const std::int64_t a = s_.allowedMisses;
  if (s_.colors == nullptr || a < kMinAllowed || a >= 0xFFFF || s_.tolerance > 16 * kLevels - 16 ||
      c.columns < kLanes || c.rows <= 0) {
    return false;
  }
  const std::int32_t tw = s_.templateWidth, th = s_.templateHeight;
  tileW_ = 1;
  while (tw / tileW_ > across) tileW_ *= 2;
  tileH_ = (th + down - 1) / down;
  if (static_cast<std::int64_t>(tileW_) * tileH_ > 0xFFFF) return false;
  narrow_ = tileW_ * tileH_ <= 0xFF;
  tilesAcross_ = tw / tileW_;
  tiles_ = tilesAcross_ * (th / tileH_);
  x0_ = c.firstX;
  y0_ = c.firstY;
  cols_ = c.columns + tw - 1;
  rows_ = c.rows + th - 1;
  allowed_ = static_cast<std::uint16_t>(a);
  return tiles_ > 0;
}

// For every tile and plane, how many of the tile's opaque pixels must see the
// screen at or above the threshold (H) and how many below it (L).
void NearBounds::FillTemplateTables(Tables* t) const {
  const TemplateColors& colors = *s_.colors;
  const std::int32_t tw = s_.templateWidth, th = s_.templateHeight, n = s_.tolerance;
  for (int tile = 0; tile < tiles_; ++tile) {
    const std::int32_t ox = tile % tilesAcross_ * tileW_, oy = tile / tilesAcross_ * tileH_;
    int below[3][257] = {};  // below[ch][v + 1]: pixels whose channel is v, then fewer than v + 1
    int total = 0;
    for (std::int32_t row = oy; row < oy + tileH_; ++row) {
      for (std::int32_t column = ox; column < ox + tileW_; ++column) {
        if (!TakesPart(s_, static_cast<std::int64_t>(th - 1 - row) * tw + column)) continue;
        const ColorValue v =
            colors.At(colors.pixels + static_cast<std::ptrdiff_t>(th - 1 - row) * colors.stride +
                      static_cast<std::ptrdiff_t>(column) * colors.bytesPerPixel);
        for (int ch = 0; ch < 3; ++ch) ++below[ch][(v >> (8 * ch) & 0xFF) + 1];
        ++total;
      }
    }
    for (int ch = 0; ch < 3; ++ch) {
      for (int v = 1; v <= 256; ++v) below[ch][v] += below[ch][v - 1];
      for (int k = 0; k < kLevels; ++k) {
        const int threshold = 16 * (k + 1), plane = ch * kLevels + k;
        const int upFrom = threshold + n, downTo = threshold - n;
        t->high[plane][tile] = static_cast<std::uint16_t>(upFrom > 255 ? 0 : total - below[ch][upFrom]);
        t->low[plane][tile] = static_cast<std::uint16_t>(downTo <= 0 ? 0 : below[ch][downTo]);
      }
    }
  }
}

// The plane that rules out most sampled positions, or -1 if none rules out any.
int NearBounds::ChoosePlane(const Candidates& c, Tables* t) const {
  const std::int64_t tilePixels = static_cast<std::int64_t>(tiles_) * tileW_ * tileH_;
  std::int64_t samples = kSampleBudget / tilePixels;
  if (samples > kMaxSamples) samples = kMaxSamples;
  if (samples < 4) samples = 4;
  const std::uint8_t* at[kMaxSamples];
  SampleSpots(s_, c, samples, false, at);
  for (int p = 0; p < kPlanes; ++p) {
    t->rejected[p] = 0;
    for (int tile = 0; tile < tiles_; ++tile) t->proven[p][tile] = 0;
  }
  for (std::int64_t i = 0; i < samples; ++i) ScoreSample(at[i], t);
  t->samples = static_cast<int>(samples);
  int best = 0;
  for (int p = 1; p < kPlanes; ++p) {
    if (t->rejected[p] > t->rejected[best]) best = p;
  }
  return t->rejected[best] > 0 ? best : -1;
}

// Counts, for each plane, whether its bound rules out the position at `topLeft`.
void NearBounds::ScoreSample(const std::uint8_t* topLeft, Tables* t) const {
  const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(s_.width) * 4;
  // atOrAbove[tile][ch][k]: screen pixels under the tile whose channel is at
  // least 16 k (first as a histogram of 16 k .. 16 k + 15).
  int atOrAbove[kMaxTiles][3][kLevels + 1] = {};
  for (int tile = 0; tile < tiles_; ++tile) {
    const std::int32_t ox = tile % tilesAcross_ * tileW_, oy = tile / tilesAcross_ * tileH_;
    for (std::int32_t row = oy; row < oy + tileH_; ++row) {
      const std::uint8_t* p = topLeft - row * stride + static_cast<std::ptrdiff_t>(ox) * 4;
      for (std::int32_t column = 0; column < tileW_; ++column, p += 4) {
        for (int ch = 0; ch < 3; ++ch) ++atOrAbove[tile][ch][p[ch] >> 4];
      }
    }
    for (int ch = 0; ch < 3; ++ch) {
      for (int k = kLevels - 1; k >= 0; --k) atOrAbove[tile][ch][k] += atOrAbove[tile][ch][k + 1];
    }
  }
  const int area = tileW_ * tileH_;
  for (int plane = 0; plane < kPlanes; ++plane) {
    const int ch = ChannelOf(plane), k = plane % kLevels + 1;
    int bound = 0;
    for (int tile = 0; tile < tiles_; ++tile) {
      const int count = atOrAbove[tile][ch][k];
      const int high = t->high[plane][tile], limit = area - t->low[plane][tile];
      const int proven = (high > count ? high - count : 0) + (count > limit ? count - limit : 0);
      t->proven[plane][tile] += proven;
      bound += proven;
    }
    if (bound > allowed_) ++t->rejected[plane];
  }
}

// The tiles in falling order of the misses they proved on the samples (then
// of the pixels they bound), so that a position runs over the allowance in
// as few tiles as may be.
void NearBounds::UsePlane(const Tables& t, int plane) {
  int order[kMaxTiles];
  const auto weight = [&](int tile) {
    return static_cast<std::int64_t>(t.proven[plane][tile]) * 0x20000 + t.high[plane][tile] +
           t.low[plane][tile];
  };
  for (int i = 0; i < tiles_; ++i) {
    int j = i;
    for (; j > 0 && weight(order[j - 1]) < weight(i); --j) order[j] = order[j - 1];
    order[j] = i;
  }
  const int area = tileW_ * tileH_;
  for (int i = 0; i < tiles_; ++i) {
    const int tile = order[i];
    const std::int32_t ox = tile % tilesAcross_ * tileW_, oy = tile / tilesAcross_ * tileH_;
    offset_[i] = static_cast<std::ptrdiff_t>(oy) * static_cast<std::ptrdiff_t>(cols_) + ox;
    for (int lane = 0; lane < 8; ++lane) {
      high_[i][lane] = t.high[plane][tile];
      limit_[i][lane] = static_cast<std::uint16_t>(area - t.low[plane][tile]);
    }
  }
}

// The box sums of the bit "channel at or above the threshold" over a tile's
// area, for every position of the rectangle: column sums over tileH_ rows,
// kept as the rows go by, then sums of tileW_ of them along each row. When
// `lazy` (a scan down the rows), only as far as the scan has come.
bool NearBounds::Count(int channel, int threshold, bool lazy) {
  const platform::Ops& os = platform::Current();
  const std::int64_t countRows = rows_ - tileH_ + 1, padded = cols_ + tileW_ + 16;
  // The last row's sums spill up to seven places past it.
  const std::int64_t bytes = (countRows * cols_ + 16) * (narrow_ ? 1 : 2);
  if (bytes > 0x7FFFFFFF || rows_ * cols_ + 16 > 0x7FFFFFFF) return false;
  auto* block = static_cast<std::uint8_t*>(os.allocZeroed(static_cast<std::uint32_t>(bytes)));
  if (block == nullptr) return false;
  // Refine reads sixteen places from a position's own, eight past the last.
  plane_ = static_cast<std::uint8_t*>(os.allocZeroed(static_cast<std::uint32_t>(rows_ * cols_ + 16)));
  work_ = static_cast<std::uint16_t*>(os.allocZeroed(static_cast<std::uint32_t>(padded * 3 * 2)));
  if (plane_ == nullptr || work_ == nullptr) {
    os.freeBlock(block);
    if (plane_ != nullptr) os.freeBlock(plane_);
    if (work_ != nullptr) os.freeBlock(work_);
    plane_ = nullptr;
    work_ = nullptr;
    return false;
  }
  counts_ = block;
  channel_ = channel;
  threshold_ = threshold;
  if (!lazy) CountRows(rows_);
  return true;
}

// The rows of the rectangle from rowsDone_ up to `upTo` enter the column
// sums, and the rows of sums they complete are stored.
void NearBounds::CountRows(std::int64_t upTo) const {
  const std::int64_t padded = cols_ + tileW_ + 16;
  std::uint16_t* columns = work_;
  std::uint16_t* scratch = columns + padded;
  std::uint16_t* summed = scratch + padded;
  for (std::int64_t row = rowsDone_; row < upTo; ++row) {
    EnterRow(row, columns);
    if (row >= tileH_) LeaveRow(row - tileH_, columns);
    if (row < tileH_ - 1) continue;
    const std::int64_t at = (row - tileH_ + 1) * cols_;
    if (!narrow_) {
      SumRow(columns, scratch, reinterpret_cast<std::uint16_t*>(counts_) + at);
      continue;
    }
    // A tile of at most 255 pixels counts in a byte.
    SumRow(columns, scratch, summed);
    for (std::int64_t i = 0; i < cols_; i += 8) {
      const __m128i sum = _mm_loadu_si128(reinterpret_cast<const __m128i*>(summed + i));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(counts_ + at + i), _mm_packus_epi16(sum, sum));
    }
  }
  rowsDone_ = upTo;
  if (rowsDone_ == rows_) {
    platform::Current().freeBlock(work_);
    work_ = nullptr;
  }
}

// A row entering the column sums is read from the screen and leaves its bits
// on the plane; tileH_ rows later it leaves the sums from the plane.
void NearBounds::EnterRow(std::int64_t row, std::uint16_t* columns) const {
  const __m128i one = _mm_set1_epi8(1);
  const __m128i shift = _mm_cvtsi32_si128(8 * channel_);
  const __m128i below = _mm_set1_epi32(threshold_ - 1);
  const std::uint8_t* p = TopLeftOf(s_, x0_, static_cast<std::int32_t>(y0_ + row));
  std::uint8_t* on = plane_ + row * cols_;
  std::int64_t i = 0;
  for (; i + 8 <= cols_; i += 8, p += 32) {
    __m128i* to = reinterpret_cast<__m128i*>(columns + i);
    const __m128i bits = AtOrAbove(p, shift, below);  // -1 where set
    _mm_storeu_si128(to, _mm_sub_epi16(_mm_loadu_si128(to), bits));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(on + i), _mm_and_si128(_mm_packs_epi16(bits, bits), one));
  }
  for (; i < cols_; ++i, p += 4) {
    if (p[channel_] < threshold_) continue;
    ++columns[i];
    on[i] = 1;
  }
}

void NearBounds::LeaveRow(std::int64_t row, std::uint16_t* columns) const {
  const __m128i zero = _mm_setzero_si128();
  const std::uint8_t* on = plane_ + row * cols_;
  std::int64_t i = 0;
  for (; i + 8 <= cols_; i += 8) {
    __m128i* to = reinterpret_cast<__m128i*>(columns + i);
    const __m128i bits = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(on + i)), zero);
    _mm_storeu_si128(to, _mm_sub_epi16(_mm_loadu_si128(to), bits));
  }
  for (; i < cols_; ++i) columns[i] = static_cast<std::uint16_t>(columns[i] - on[i]);
}

// out[i] = columns[i] + ... + columns[i + tileW_ - 1], by doubling; what lies
// past the last whole sum is written too, and the next row overwrites it.
void NearBounds::SumRow(const std::uint16_t* columns, std::uint16_t* scratch, std::uint16_t* out) const {
  const std::uint16_t* from = columns;
  if (tileW_ == 1) {
    for (std::int64_t i = 0; i < cols_; ++i) out[i] = columns[i];
    return;
  }
  for (std::int32_t w = 1; w < tileW_; w *= 2) {
    std::uint16_t* to = 2 * w >= tileW_ ? out : scratch;
    for (std::int64_t i = 0; i < cols_; i += 8) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i + w));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), _mm_add_epi16(a, b));
    }
    from = to;
  }
}

namespace {

inline __m128i LoadCounts(const std::uint8_t* p) {
  return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), _mm_setzero_si128());
}
inline __m128i LoadCounts(const std::uint16_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

}  // namespace

// The lanes of the eight positions from `base` on whose bound over the tiles
// does not exceed the misses allowed.
template <typename CountType>
unsigned NearBounds::TileLanes(const CountType* base) const {
  const __m128i allowed = _mm_set1_epi16(static_cast<short>(allowed_));
  const __m128i zero = _mm_setzero_si128();
  __m128i bound = zero;
  for (int i = 0; i < tiles_; ++i) {
    const __m128i count = LoadCounts(base + offset_[i]);
    const __m128i high = _mm_load_si128(reinterpret_cast<const __m128i*>(high_[i]));
    const __m128i limit = _mm_load_si128(reinterpret_cast<const __m128i*>(limit_[i]));
    // Saturating: a sum held at 65535 is still no more than the true one.
    bound = _mm_adds_epu16(bound, _mm_adds_epu16(_mm_subs_epu16(high, count), _mm_subs_epu16(count, limit)));
    if ((i & 3) == 3 && _mm_movemask_epi8(_mm_cmpeq_epi16(_mm_subs_epu16(bound, allowed), zero)) == 0) {
      return 0;
    }
  }
  const __m128i within = _mm_cmpeq_epi16(_mm_subs_epu16(bound, allowed), zero);
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(within, zero))) & kAllLanes;
}

unsigned NearBounds::Mask(std::int32_t x, std::int32_t y) const {
  Reach(y);
  const std::int64_t at = (y - y0_) * cols_ + (x - x0_);
  const unsigned lanes =
      narrow_ ? TileLanes(counts_ + at) : TileLanes(reinterpret_cast<const std::uint16_t*>(counts_) + at);
  if (lanes == 0 || pixels_ == nullptr || !refine_) return lanes;
  // The pixel by pixel bound costs a fraction of the test it spares; where it
  // rules out less than half of what it weighs, it is left out from then on.
  const unsigned kept = Refine(x, y, lanes);
  weighed_ += __builtin_popcount(lanes);
  ruledOut_ += __builtin_popcount(lanes & ~kept);
  if (weighed_ >= kTrialLanes && ruledOut_ * 2 < weighed_) refine_ = false;
  return kept;
}

// The same bound pixel by pixel: a template pixel of the first kind misses
// where the screen pixel under it is below the threshold, one of the second
// kind where it is at or above. Coarse to fine, the two kinds in turn, so
// that the misses show early.
unsigned NearBounds::Refine(std::int32_t x, std::int32_t y, unsigned lanes) const {
  const std::uint8_t* base = plane_ + (y - y0_) * cols_ + (x - x0_);
  const __m128i zero = _mm_setzero_si128();
  const __m128i allowed = _mm_set1_epi16(static_cast<short>(allowed_));
  // Lanes out of the running count as over already.
  const __m128i done = _mm_cmpeq_epi16(
      _mm_and_si128(_mm_set1_epi16(static_cast<short>(lanes)), _mm_setr_epi16(1, 2, 4, 8, 16, 32, 64, 128)),
      zero);
  __m128i highSeen = zero, lowSeen = zero;  // screen pixels at or above the threshold under each kind
  std::int32_t i = 0, j = 0, highs = 0;
  // Sixteen lanes' bits at a time (the plane is padded for the last eight),
  // summed in bytes over at most sixteen pixels, then in 16 bits.
  const auto seen = [&](std::int32_t from, std::int32_t to, const std::ptrdiff_t* at) {
    __m128i sum = zero;
    for (std::int32_t k = from; k < to; ++k) {
      sum = _mm_add_epi8(sum, _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + at[k])));
    }
    return _mm_unpacklo_epi8(sum, zero);
  };
  while (i < highCount_ || j < lowCount_) {
    const std::int32_t nextI = i + 16 < highCount_ ? i + 16 : highCount_;
    const std::int32_t nextJ = j + 16 < lowCount_ ? j + 16 : lowCount_;
    highSeen = _mm_add_epi16(highSeen, seen(i, nextI, pixels_));
    lowSeen = _mm_add_epi16(lowSeen, seen(j, nextJ, pixels_ + kMaxListed));
    i = nextI;
    j = nextJ;
    highs = i;
    // No lane can be over before more pixels than are allowed were read.
    if (i + j <= allowed_) continue;
    const __m128i bound =
        _mm_adds_epu16(_mm_sub_epi16(_mm_set1_epi16(static_cast<short>(highs)), highSeen), lowSeen);
    const __m128i over = _mm_or_si128(
        _mm_xor_si128(_mm_cmpeq_epi16(_mm_subs_epu16(bound, allowed), zero), _mm_set1_epi16(-1)), done);
    if (_mm_movemask_epi8(over) == 0xFFFF) return 0;
  }
  const __m128i bound =
      _mm_adds_epu16(_mm_sub_epi16(_mm_set1_epi16(static_cast<short>(highs)), highSeen), lowSeen);
  const __m128i within = _mm_cmpeq_epi16(_mm_subs_epu16(bound, allowed), zero);
  return lanes & static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(within, zero)));
}

// The template pixels of either kind for the plane, their places on the
// plane's bytes, at most kMaxListed of each (fewer only loosen the bound).
bool NearBounds::ListPixels(int channel, int threshold) {
  if (plane_ == nullptr) return false;
  pixels_ = static_cast<std::ptrdiff_t*>(
      platform::Current().allocZeroed(static_cast<std::uint32_t>(2 * kMaxListed * sizeof(std::ptrdiff_t))));
  if (pixels_ == nullptr) return false;
  const TemplateColors& colors = *s_.colors;
  const std::int32_t tw = s_.templateWidth, th = s_.templateHeight, n = s_.tolerance;
  InSpreadOrder(tw, th, [&](std::int64_t column, std::int64_t row) {
    if (!TakesPart(s_, (th - 1 - row) * tw + column)) return;
    const ColorValue c = colors.At(colors.pixels + static_cast<std::ptrdiff_t>(th - 1 - row) * colors.stride +
                                   static_cast<std::ptrdiff_t>(column) * colors.bytesPerPixel);
    const int v = static_cast<int>(c >> (8 * channel) & 0xFF);
    const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(row * cols_ + column);
    if (v >= threshold + n && highCount_ < kMaxListed) pixels_[highCount_++] = at;
    if (v + n < threshold && lowCount_ < kMaxListed) pixels_[kMaxListed + lowCount_++] = at;
  });
  return true;
}

bool NearBounds::Passes(std::int32_t x, std::int32_t y) const {
  Reach(y);
  const std::int64_t at = (y - y0_) * cols_ + (x - x0_);
  const auto* wide = reinterpret_cast<const std::uint16_t*>(counts_) + at;
  int bound = 0;
  for (int i = 0; i < tiles_; ++i) {
    const int count = narrow_ ? counts_[at + offset_[i]] : wide[offset_[i]];
    const int high = high_[i][0], limit = limit_[i][0];
    bound += (high > count ? high - count : 0) + (count > limit ? count - limit : 0);
    if (bound > allowed_) return false;
  }
  return true;
}

}  // namespace zadized
