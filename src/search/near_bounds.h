// A lower bound on the misses of the near-colour test, for every position of
// a scan at once, so that positions which must miss more pixels than are
// allowed are ruled out without testing their pixels one by one.
//
// Why it holds: take one channel and a threshold t. A template pixel whose
// channel is at least t + n can only be matched by a screen pixel whose
// channel is at least t; one whose channel is below t - n only by a screen
// pixel below t. So within a tile of the template, with H pixels of the first
// kind, L of the second and c screen pixels at or above t under the tile's
// area (of a pixels), at least max(0, H - c) + max(0, L - (a - c)) of the
// tile's pixels miss. Tiles do not overlap, so their bounds add up. The
// screen counts per tile are box sums of one bit per screen pixel, worked out
// once for the whole rectangle.
#pragma once

#include <cstddef>
#include <cstdint>

#include "search/rules.h"

namespace zadized {

class NearBounds {
 public:
  static constexpr int kMaxTiles = 48;
  static constexpr std::int64_t kRowsAhead = 32;

  // Chooses the channel and threshold that rule out most of the positions
  // sampled on this screen, and counts the screen for them. Ready() is false
  // when the bound is not worth it here (few misses allowed, a tolerance too
  // wide, no sampled position ruled out) or without memory for the counts.
  NearBounds(const ScanSetup& s, const Candidates& c);
  ~NearBounds();
  NearBounds(const NearBounds&) = delete;
  NearBounds& operator=(const NearBounds&) = delete;

  bool Ready() const { return counts_ != nullptr; }

  // The lanes of the eight positions from (x, y) on whose bound does not
  // exceed the misses allowed; (x + 7, y) must be a candidate too.
  unsigned Mask(std::int32_t x, std::int32_t y) const;
  // Whether the one position (x, y) may match.
  bool Passes(std::int32_t x, std::int32_t y) const;

 private:
  struct Tables;
  bool Layout(const Candidates& c, int across, int down);
  void FillTemplateTables(Tables* t) const;
  int ChoosePlane(const Candidates& c, Tables* t) const;
  void ScoreSample(const std::uint8_t* topLeft, Tables* t) const;
  void UsePlane(const Tables& t, int plane);
  bool Count(int channel, int threshold, bool lazy);
  void CountRows(std::int64_t upTo) const;
  void EnterRow(std::int64_t row, std::uint16_t* columns) const;
  void LeaveRow(std::int64_t row, std::uint16_t* columns) const;
  // Counts far enough for the positions of row y, and some rows further.
  void Reach(std::int32_t y) const {
    const std::int64_t need = y - y0_ + s_.templateHeight;
    if (need > rowsDone_) CountRows(need + kRowsAhead < rows_ ? need + kRowsAhead : rows_);
  }
  bool ListPixels(int channel, int threshold);
  template <typename CountType>
  unsigned TileLanes(const CountType* base) const;
  unsigned Refine(std::int32_t x, std::int32_t y, unsigned lanes) const;
  void SumRow(const std::uint16_t* columns, std::uint16_t* scratch, std::uint16_t* out) const;

  const ScanSetup& s_;
  std::int32_t x0_ = 0, y0_ = 0;        // the rectangle's top-left corner, top-down
  std::int64_t cols_ = 0, rows_ = 0;    // the rectangle's size
  std::int32_t tileW_ = 0, tileH_ = 0;  // tileW_ a power of two
  int tilesAcross_ = 0, tiles_ = 0;
  // Per (x, y): screen pixels at or above the threshold in its tile area, in
  // a byte each when a tile has at most 255 pixels (narrow_), else in two.
  std::uint8_t* counts_ = nullptr;
  bool narrow_ = false;
  // The rows of the rectangle counted so far, and the column sums and their
  // scratch rows while rows are left.
  mutable std::int64_t rowsDone_ = 0;
  mutable std::uint16_t* work_ = nullptr;
  int channel_ = 0, threshold_ = 0;
  std::ptrdiff_t offset_[kMaxTiles] = {};
  // Per tile, in every lane: H, and a - L (a count above it means misses).
  alignas(16) std::uint16_t high_[kMaxTiles][8] = {};
  alignas(16) std::uint16_t limit_[kMaxTiles][8] = {};
  std::uint16_t allowed_ = 0;
  // Per screen pixel of the rectangle: 1 when its channel is at or above the
  // threshold.
  std::uint8_t* plane_ = nullptr;
  // The template pixels of the first kind, then (from kMaxListed on) of the
  // second, as places on plane_ from a position's own.
  std::ptrdiff_t* pixels_ = nullptr;
  std::int32_t highCount_ = 0, lowCount_ = 0;
  // How the pixel by pixel bound has done so far; it only ever drops lanes
  // that must miss too often, so when it runs changes no answer.
  mutable std::int64_t weighed_ = 0, ruledOut_ = 0;
  mutable bool refine_ = true;
};

}  // namespace zadized
