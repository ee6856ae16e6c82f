#include "search/row_runs.h"

#include "image/pixel.h"
#include "platform/platform.h"
#include "search/lanes.h"

namespace zadized {

RowRuns::RowRuns(const ScanSetup& s, std::int32_t firstRow, std::int32_t lastRow)
    : s_(s), firstRow_(firstRow) {
  const std::int64_t rows = static_cast<std::int64_t>(lastRow) - firstRow + 1;
  words_ = (static_cast<std::int64_t>(s.width) + 63) / 64;
  if (rows <= 0 || firstRow < 0 || lastRow >= s.height || rows * words_ * 8 > 0x7FFFFFFF) return;
  const platform::Ops& os = platform::Current();
  bits_ = static_cast<std::uint64_t*>(os.allocZeroed(static_cast<std::uint32_t>(rows * words_ * 8)));
  built_ = static_cast<std::uint8_t*>(os.allocZeroed(static_cast<std::uint32_t>(rows)));
  if (bits_ == nullptr || built_ == nullptr) {
    if (bits_ != nullptr) os.freeBlock(bits_);
    if (built_ != nullptr) os.freeBlock(built_);
    bits_ = nullptr;
    built_ = nullptr;
  }
}

// Logically const: a row's bits are the same whenever they are worked out.
void RowRuns::Build(std::int64_t r) const {
  const std::uint8_t* p = TopLeftOf(s_, 0, static_cast<std::int32_t>(firstRow_ + r));
  std::uint64_t* row = bits_ + r * words_;
  const __m128i zero = _mm_setzero_si128();
  std::int64_t j = 0;
  // Four pairs at a time while the pixel after the fourth is in the row.
  for (; j + 4 < s_.width; j += 4) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 4 * j));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 4 * j + 4));
    // Shifting left by 8 drops the fourth byte, which never takes part.
    const __m128i same = _mm_cmpeq_epi32(_mm_slli_epi32(_mm_xor_si128(a, b), 8), zero);
    const auto four = static_cast<std::uint64_t>(_mm_movemask_ps(_mm_castsi128_ps(same)));
    row[j / 64] |= four << (j % 64);
  }
  for (; j + 1 < s_.width; ++j) {
    if (MaskPixel(p + 4 * j, 3) == MaskPixel(p + 4 * j + 4, 3)) row[j / 64] |= 1ull << (j % 64);
  }
  built_[r] = 1;
}

RowRuns::~RowRuns() {
  if (bits_ != nullptr) platform::Current().freeBlock(bits_);
  if (built_ != nullptr) platform::Current().freeBlock(built_);
}

}  // namespace zadized
