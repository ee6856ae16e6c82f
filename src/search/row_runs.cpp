#include "search/row_runs.h"

#include "image/pixel.h"
#include "platform/platform.h"
#include "search/lanes.h"

namespace zadized {

RowRuns::RowRuns(const ScanSetup& s, std::int32_t firstRow, std::int32_t lastRow)
    : s_(s), firstRow_(firstRow) {
  const std::int64_t rows = static_cast<std::int64_t>(lastRow) - firstRow + 1;
  words_ = (static_cast<std::int64_t>(s.width) + 63) / 64;
  stripes_ = (static_cast<std::int64_t>(s.width) + kStripe - 1) / kStripe;
  if (rows <= 0 || firstRow < 0 || lastRow >= s.height || rows * words_ * 8 > 0x7FFFFFFF) return;
  const platform::Ops& os = platform::Current();
  bits_ = static_cast<std::uint64_t*>(os.allocZeroed(static_cast<std::uint32_t>(rows * words_ * 8)));
  built_ = static_cast<std::uint8_t*>(os.allocZeroed(static_cast<std::uint32_t>(rows * stripes_)));
  if (bits_ == nullptr || built_ == nullptr) {
    if (bits_ != nullptr) os.freeBlock(bits_);
    if (built_ != nullptr) os.freeBlock(built_);
    bits_ = nullptr;
    built_ = nullptr;
  }
}

// Logically const: a row's bits are the same whenever they are worked out.
// Sixteen pairs at a time while the pixel after the sixteenth is in the row,
// each word gathered whole before it is stored.
void RowRuns::BuildStripe(std::int64_t r, std::int64_t stripe) const {
  const std::uint8_t* p = TopLeftOf(s_, 0, static_cast<std::int32_t>(firstRow_ + r));
  std::uint64_t* row = bits_ + r * words_;
  const std::int64_t end = (stripe + 1) * kStripe < s_.width ? (stripe + 1) * kStripe : s_.width;
  const __m128i zero = _mm_setzero_si128();
  std::int64_t j = stripe * kStripe;
  for (; j + 64 < s_.width && j < end; j += 64) {
    std::uint64_t word = 0;
    for (int k = 0; k < 64; k += 16) {
      __m128i e[4];
      for (int i = 0; i < 4; ++i) {
        const std::uint8_t* q = p + 4 * (j + k + 4 * i);
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 4));
        // Shifting left by 8 drops the fourth byte, which never takes part.
        e[i] = _mm_cmpeq_epi32(_mm_slli_epi32(_mm_xor_si128(a, b), 8), zero);
      }
      const __m128i bytes = _mm_packs_epi16(_mm_packs_epi32(e[0], e[1]), _mm_packs_epi32(e[2], e[3]));
      word |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(bytes))) << k;
    }
    row[j / 64] = word;
  }
  for (; j + 1 < s_.width && j < end; ++j) {
    if (MaskPixel(p + 4 * j, 3) == MaskPixel(p + 4 * j + 4, 3)) row[j / 64] |= 1ull << (j % 64);
  }
  built_[r * stripes_ + stripe] = 1;
}

void RowRuns::Build(std::int64_t r, std::int64_t ka, std::int64_t kb) const {
  for (std::int64_t k = ka; k <= kb; ++k) {
    if (built_[r * stripes_ + k] == 0) BuildStripe(r, k);
  }
}

RowRuns::~RowRuns() {
  if (bits_ != nullptr) platform::Current().freeBlock(bits_);
  if (built_ != nullptr) platform::Current().freeBlock(built_);
}

}  // namespace zadized
