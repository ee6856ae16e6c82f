// How many pixels of a screen row, up to each column, show one chosen colour:
// the count of that colour in any stretch of the row is two reads. Shape
// mode's one-third rule counts the background showing the shape's colour,
// and where the screen is mostly that colour (a page, a dark desktop) the
// windows that pass the marked pixels are many and each would be counted
// pixel by pixel; this counts them a row at a time.
#pragma once

#include <cstdint>

#include "image/pixel.h"
#include "search/rules.h"

namespace zadized {

class ColourCounts {
 public:
  // Rows firstRow..lastRow of the setup's screen, each worked out the first
  // time it is asked about, and memory for them taken only then: a search
  // that never counts pays nothing. Ready() is false when the screen is too
  // wide to count in 16 bits, or the memory could not be had.
  ColourCounts(const ScanSetup& s, std::int32_t firstRow, std::int32_t lastRow);
  ~ColourCounts();
  ColourCounts(const ColourCounts&) = delete;
  ColourCounts& operator=(const ColourCounts&) = delete;

  bool Ready() const { return usable_; }

  // The colour counted, after `seen` has asked for it: the colour follows
  // the one asked for most of late, so that a screen whose plain areas have
  // several colours is counted in the one at hand. A change forgets every
  // row worked out. False when there is no memory for the counts (then
  // Ready() turns false and Row may not be called).
  bool Follow(ColorValue seen, ColorValue* counted) const;

  // Row y's counts (y within the rows given): entry j is how many of the
  // columns before j show the colour, for j = 0..width.
  const std::uint16_t* Row(std::int32_t y) const {
    const std::int64_t r = static_cast<std::int64_t>(y) - firstRow_;
    if (built_[r] == 0) Build(r);
    return counts_ + r * (width_ + 1);
  }

 private:
  void Build(std::int64_t r) const;

  bool Allocate() const;

  const ScanSetup& s_;
  mutable bool usable_ = false;
  mutable std::uint16_t* counts_ = nullptr;
  mutable std::uint8_t* built_ = nullptr;
  std::int64_t width_ = 0;
  std::int64_t rows_ = 0;
  std::int32_t firstRow_ = 0;
  mutable ColorValue colour_ = 0;
  mutable bool chosen_ = false;
  mutable std::int32_t misses_ = 0;
  mutable std::int32_t changes_ = 0;
};

}  // namespace zadized
