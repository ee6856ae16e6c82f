// Shape mode's verdict on plain areas, eight positions at a time, read off a
// table of the screen's one-colour boxes. A window cannot match when a box of
// it holds a marked pixel and more background after the first marked pixel
// than the one-third rule allows in the shape's colour, and that box shows
// one colour on the screen: the box then shows the shape's colour (its marked
// pixel must), and so does all of that background. So it never turns a
// matching window away. Plain areas, where every window passes the pair
// tests of the marked pixels, are exactly where such boxes are one colour.
//
// The table holds one bit per screen pixel: whether the box of the chosen
// size with its bottom-left corner there (its top-left corner, in a scan that
// goes up the screen) shows one colour. It is worked out from a count per
// pixel of the rows in a row whose stretch of the box's width is one colour,
// in stripes of 512 columns, row after row in the scan's direction, as far
// as a test has read: a scan that ends early, or a column strip, pays for
// little more than the part of the screen it covers.
#pragma once

#include <cstdint>

#include "search/rules.h"

namespace zadized {

class PairTests;
class RowRuns;

// Tests build the table whenever the template has boxes, paying or not, so
// that small screens reach it; false restores the judgement on the screen.
void AlwaysBuildPlainBoxes(bool on);

class PlainBoxes {
 public:
  // Ready() is false when the template has no such box (the one-third rule
  // cannot fail, or no box of a size the table serves holds enough
  // background), or the table could not be allocated; then Mask may not be
  // called.
  // The boxes are weighed on windows that `tests` (ranked) let through, or
  // on any windows without them. `runs`, when given, covers the rows of the
  // candidates' windows, and its bits are read instead of comparing the
  // neighbouring pixels again.
  PlainBoxes(const ScanSetup& s, const Candidates& c, const PairTests* tests, const RowRuns* runs = nullptr);
  ~PlainBoxes();
  PlainBoxes(const PlainBoxes&) = delete;
  PlainBoxes& operator=(const PlainBoxes&) = delete;

  bool Ready() const { return tall_ != nullptr; }

  // Of the eight candidate positions from (x, y) on, those no box rules out
  // (bit i: position x + i); lanes past the last candidate are meaningless.
  // A row's blocks come one after the other, in the scan's direction: the
  // verdict on 64 positions from the first one on is kept for the next ones.
  unsigned Mask(std::int32_t x, std::int32_t y) const {
    const std::int64_t shift = static_cast<std::int64_t>(x) - keptX_;
    if (y != keptY_ || shift < 0 || shift > 64 - 8) return Fresh(x, y);  // eight lanes
    return static_cast<unsigned>(kept_ >> shift) & 0xFFu;
  }
  // The same for the boxes after the first ones.
  unsigned Rest(std::int32_t x, std::int32_t y) const;

  // A box of the template: `width` x `height` pixels from `column`, its top
  // row `fromTop` rows below the window's top.
  struct Box {
    std::int32_t fromTop;
    std::int32_t column;
    std::int32_t width;
    std::int32_t height;
  };
  // The first boxes rule out 64 positions at a time; the others only the
  // eight that the pair tests let through (Rest).
  static constexpr int kMaxBoxes = 3;
  static constexpr int kAllBoxes = 16;
  // Heights are counted in a byte; a stripe's stretches reach at most this
  // far into the next stripes.
  static constexpr std::int32_t kTallestBox = 255;
  static constexpr std::int32_t kWidestBox = 1024;

  int Boxes() const { return boxCount_; }
  const Box& BoxAt(int i) const { return boxes_[i]; }

 private:
  bool LooksPlain(std::int64_t x, std::int64_t y, const Box& b) const;
  int Choose(const Candidates& c, const PairTests* tests, const Box (*placed)[kMaxBoxes], const int* count,
             int sizes) const;
  bool Allocate(const Candidates& c);
  void StretchBits(std::int64_t row, std::int64_t stripe, std::uint64_t* out) const;
  void BuildRow(std::int64_t row, std::int64_t stripe) const;
  void Through(std::int64_t row, std::int64_t stripe) const;
  std::uint64_t Live(std::int64_t x, std::int64_t y, int from, int to) const;
  unsigned Fresh(std::int32_t x, std::int32_t y) const;

  const ScanSetup& s_;
  const RowRuns* runs_;
  Box boxes_[kAllBoxes] = {};  // all of one size
  int boxCount_ = 0;
  bool downward_ = false;  // heights counted down the screen (a scan going up)
  bool leftward_ = false;  // the scan's blocks go right to left
  std::int32_t firstRow_ = 0;
  std::int64_t rows_ = 0;
  std::int64_t stripes_ = 0;
  std::int64_t words_ = 0;           // per row of the table
  std::uint64_t* tall_ = nullptr;    // the table
  std::uint8_t* heights_ = nullptr;  // per stripe, the last row's counts
  std::int64_t* nextRow_ = nullptr;  // per stripe, the next row to work out
  // The last verdict on the 64 positions from keptX_ on in row keptY_.
  mutable std::int64_t keptY_ = -1;
  mutable std::int64_t keptX_ = -1;
  mutable std::uint64_t kept_ = 0;
};

}  // namespace zadized
