#include "search/colour_counts.h"

#include <cstring>

#include "platform/platform.h"
#include "search/lanes.h"

namespace zadized {

namespace {

// Blocks asking for another colour, beyond those asking for the one counted,
// before the count changes colour; and how often it may change, so that a
// screen of many plain colours costs a bounded number of passes.
constexpr std::int32_t kChangeAfter = 64;
constexpr std::int32_t kMaxChanges = 16;

// For each set of eight pixels showing the colour (bit k: pixel k), how many
// of them are among the first 1..8: a row's counts go eight at a time.
struct Prefixes {
  std::uint16_t upTo[256][8];
};
constexpr Prefixes MakePrefixes() {
  Prefixes t{};
  for (int m = 0; m < 256; ++m) {
    int n = 0;
    for (int k = 0; k < 8; ++k) {
      n += m >> k & 1;
      t.upTo[m][k] = static_cast<std::uint16_t>(n);
    }
  }
  return t;
}
constexpr Prefixes kPrefixes = MakePrefixes();

}  // namespace

ColourCounts::ColourCounts(const ScanSetup& s, std::int32_t firstRow, std::int32_t lastRow)
    : s_(s), width_(s.width), rows_(static_cast<std::int64_t>(lastRow) - firstRow + 1), firstRow_(firstRow) {
  usable_ = rows_ > 0 && firstRow >= 0 && lastRow < s.height && width_ > 0 && width_ <= 0xFFFF &&
            rows_ * (width_ + 1) * 2 <= 0x7FFFFFFF;
}

bool ColourCounts::Allocate() const {
  const platform::Ops& os = platform::Current();
  counts_ = static_cast<std::uint16_t*>(os.allocZeroed(static_cast<std::uint32_t>(rows_ * (width_ + 1) * 2)));
  built_ = static_cast<std::uint8_t*>(os.allocZeroed(static_cast<std::uint32_t>(rows_)));
  if (counts_ != nullptr && built_ != nullptr) return true;
  if (counts_ != nullptr) os.freeBlock(counts_);
  if (built_ != nullptr) os.freeBlock(built_);
  counts_ = nullptr;
  built_ = nullptr;
  usable_ = false;
  return false;
}

ColourCounts::~ColourCounts() {
  if (counts_ != nullptr) platform::Current().freeBlock(counts_);
  if (built_ != nullptr) platform::Current().freeBlock(built_);
}

// Logically const: which colour is counted changes only how much is worked
// out again, never what a row's counts say about the colour they are for.
bool ColourCounts::Follow(ColorValue seen, ColorValue* counted) const {
  if (!usable_ || (counts_ == nullptr && !Allocate())) return false;
  if (!chosen_) {
    chosen_ = true;
    colour_ = seen;
  } else if (seen == colour_) {
    if (misses_ > 0) --misses_;
  } else if (++misses_ > kChangeAfter && changes_ < kMaxChanges) {
    colour_ = seen;
    misses_ = 0;
    ++changes_;
    std::memset(built_, 0, static_cast<std::size_t>(rows_));
  }
  *counted = colour_;
  return true;
}

void ColourCounts::Build(std::int64_t r) const {
  const std::uint8_t* p = TopLeftOf(s_, 0, static_cast<std::int32_t>(firstRow_ + r));
  std::uint16_t* out = counts_ + r * (width_ + 1);
  const __m128i c = _mm_set1_epi32(static_cast<int>(colour_));
  const __m128i zero = _mm_setzero_si128();
  std::uint16_t n = 0;
  out[0] = 0;
  std::int64_t j = 0;
  for (; j + 8 <= width_; j += 8) {
    const __m128i a0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 4 * j));
    const __m128i a1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 4 * j + 16));
    // Shifting left by 8 drops the fourth byte, which never takes part.
    const __m128i e0 = _mm_cmpeq_epi32(_mm_slli_epi32(_mm_xor_si128(a0, c), 8), zero);
    const __m128i e1 = _mm_cmpeq_epi32(_mm_slli_epi32(_mm_xor_si128(a1, c), 8), zero);
    const auto eight = static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(e0))) |
                       static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(e1))) << 4;
    const __m128i upTo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(kPrefixes.upTo[eight]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + j + 1),
                     _mm_add_epi16(upTo, _mm_set1_epi16(static_cast<short>(n))));
    n = static_cast<std::uint16_t>(n + kPrefixes.upTo[eight][7]);
  }
  for (; j < width_; ++j) {
    if (MaskPixel(p + 4 * j, 3) == colour_) ++n;
    out[j + 1] = n;
  }
  built_[r] = 1;
}

}  // namespace zadized
