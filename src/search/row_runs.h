// Which neighbouring pixels of the screen's rows show the same colour, one
// bit each, so that whether a stretch of a row is all one colour takes a few
// word tests instead of a walk over its pixels. Plain areas (a page, a
// window's face, the desktop) make a window's test expensive exactly where
// its pixels are all alike; this finds that out in bulk.
#pragma once

#include <cstdint>

#include "search/rules.h"

namespace zadized {

class RowRuns {
 public:
  // Rows firstRow..lastRow of the setup's screen, each stripe of a row
  // worked out the first time it is asked about: a scan that ends early, or
  // goes column by column, touches little more than what it covers. Ready()
  // is false when the bits could not be allocated; then nothing may be asked.
  RowRuns(const ScanSetup& s, std::int32_t firstRow, std::int32_t lastRow);
  ~RowRuns();
  RowRuns(const RowRuns&) = delete;
  RowRuns& operator=(const RowRuns&) = delete;

  bool Ready() const { return bits_ != nullptr; }

  // Whether columns a..b (inclusive, a <= b, within the screen) of screen row
  // y (within the rows built) show one colour.
  bool Uniform(std::int32_t y, std::int32_t a, std::int32_t b) const {
    const std::uint64_t* row = Row(y, a, b);
    std::int64_t from = a;
    while (from < b) {
      const std::int64_t bit = from % 64;
      const std::int64_t n = b - from < 64 - bit ? b - from : 64 - bit;
      const std::uint64_t mask = (n == 64 ? ~0ull : (1ull << n) - 1) << bit;
      if ((row[from / 64] & mask) != mask) return false;
      from += n;
    }
    return true;
  }

  // Screen row y's bits (y within the rows built), Words() of them, worked
  // out for columns a..b at least (a <= b, within the screen): bit j says
  // pixels j and j + 1 show one colour; none past the row's last pair.
  const std::uint64_t* Row(std::int32_t y, std::int64_t a, std::int64_t b) const {
    const std::int64_t r = static_cast<std::int64_t>(y) - firstRow_;
    const std::uint8_t* built = built_ + r * stripes_;
    const std::int64_t ka = a >> kStripeShift, kb = b >> kStripeShift;
    if (built[ka] == 0 || built[kb] == 0 || kb - ka > 1) Build(r, ka, kb);
    return bits_ + r * words_;
  }
  std::int64_t Words() const { return words_; }

 private:
  static constexpr int kStripeShift = 9;  // stripes of 512 columns, a whole number of words
  static constexpr std::int64_t kStripe = std::int64_t{1} << kStripeShift;

  // Stripes ka..kb of row r that are not worked out yet.
  void Build(std::int64_t r, std::int64_t ka, std::int64_t kb) const;
  void BuildStripe(std::int64_t r, std::int64_t stripe) const;

  const ScanSetup& s_;
  std::uint64_t* bits_ = nullptr;  // bit j of a row: pixels j and j + 1 show one colour
  std::uint8_t* built_ = nullptr;  // per row and stripe: worked out yet
  std::int64_t words_ = 0;         // per row
  std::int64_t stripes_ = 0;       // per row
  std::int32_t firstRow_ = 0;
};

}  // namespace zadized
