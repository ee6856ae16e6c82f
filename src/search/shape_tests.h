// Shape mode's whole test on eight positions at a time: every marked pixel
// against the first one, then the background after it counted against the
// one-third limit, lane by lane. A template row whose stretch of screen is
// all one colour (RowRuns) is settled at once instead of pixel by pixel,
// which is what makes plain areas, where every window is nearly a match,
// cheap. It answers exactly: a lane left at the end matches.
#pragma once

#include <cstddef>
#include <cstdint>

#include "search/colour_counts.h"
#include "search/lanes.h"
#include "search/row_runs.h"
#include "search/rules.h"

namespace zadized {

// Tests use the colour counts on every block that reaches the shape tests,
// paying or not, so that small screens reach them; false restores the
// judgement on the screen.
void AlwaysUseColourCounts(bool on);

class ShapeTests {
 public:
  // Ready() is false when the tables could not be allocated.
  explicit ShapeTests(const ScanSetup& s);
  ~ShapeTests();
  ShapeTests(const ShapeTests&) = delete;
  ShapeTests& operator=(const ShapeTests&) = delete;

  bool Ready() const { return offsets_ != nullptr; }

  // Whether the background must be counted at all (more of it lies after
  // the first marked pixel than the limit).
  bool Counts() const { return counted_ > limit_; }

  // Rows whose stretches may be settled at once; null walks every pixel.
  void UseRuns(const RowRuns* runs) { runs_ = runs; }
  // Counts of one colour per screen row, which rule out at once the lanes
  // whose background plainly shows the shape's colour too often; null
  // counts every lane pixel by pixel.
  void UseCounts(const ColourCounts* counts) { counts_ = counts; }

  // Of the lanes `live` of the eight positions from (x, y), whose top-left
  // pixel is at `topLeft`, those that match.
  unsigned Mask(const std::uint8_t* topLeft, std::int32_t x, std::int32_t y, unsigned live) const;

 private:
  // The pixels of one kind in one template row: offsets_[begin..end), in
  // columns min..max of the row fromTop.
  struct Stretch {
    std::int32_t fromTop;
    std::int32_t begin, end;
    std::int32_t min, max;
  };

  void WeighSpans();
  // Of the lanes `live`, whose shape colours are in (s0, s1), those the
  // colour counts rule out.
  unsigned RuledOut(const std::uint8_t* topLeft, std::int32_t x, std::int32_t y, unsigned live, __m128i s0,
                    __m128i s1) const;

  const ScanSetup& s_;
  const RowRuns* runs_ = nullptr;
  const ColourCounts* counts_ = nullptr;
  // Over the background's stretches: their columns min..max in all, and the
  // pixels among those the rule does not count (marked, left out, or before
  // the first marked one). Zero spans: the counts cannot rule anything out.
  std::int32_t spans_ = 0;
  std::int32_t uncounted_ = 0;
  // Blocks that reached the shape tests in this window, the background
  // pixels they walked, those the counts ruled out, and whether the counts
  // are used.
  mutable std::int32_t reached_ = 0;
  mutable std::int32_t ruled_ = 0;
  mutable std::int64_t walked_ = 0;
  mutable bool useCounts_ = false;
  std::ptrdiff_t* offsets_ = nullptr;
  Stretch* stretches_ = nullptr;
  std::int32_t markedStretches_ = 0;  // the first ones; background after them
  std::int32_t stretchCount_ = 0;
  std::ptrdiff_t first_ = 0;
  std::int64_t limit_ = 0;
  std::int64_t counted_ = 0;  // background pixels after the first marked one
};

}  // namespace zadized
