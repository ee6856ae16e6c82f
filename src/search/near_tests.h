// The near-colour test on eight positions at a time: every template pixel
// against the screen pixel under it, within the tolerance in blue, green and
// red, counting the pixels that miss until every lane has more misses than
// are allowed. Unlike the pair tests it answers exactly: a lane that is left
// after the last pixel matches.
#pragma once

#include <cstddef>
#include <cstdint>

#include "search/lanes.h"
#include "search/rules.h"

namespace zadized {

class NearTests {
 public:
  // The template's pixels coarse to fine (InSpreadOrder). Ready() is false
  // when the tables could not be allocated.
  explicit NearTests(const ScanSetup& s);
  ~NearTests();
  NearTests(const NearTests&) = delete;
  NearTests& operator=(const NearTests&) = delete;

  bool Ready() const { return offsets_ != nullptr; }

  // Puts first the pixels that miss most often on sampled candidates of this
  // screen, so that a lane that does not match runs out of misses soonest.
  void Rank(const Candidates& c);

  // The lanes among `lanes` of the eight positions from `topLeft` on that
  // match; the others are not looked at.
  unsigned Mask(const std::uint8_t* topLeft, unsigned lanes = kAllLanes) const {
    return s_.allowedMisses == 0 ? AllWithin(topLeft, lanes) : FewMisses(topLeft, lanes);
  }
  // Whether the one position at `topLeft` matches.
  bool Matches(const std::uint8_t* topLeft) const;

 private:
  void RankPool(const std::uint8_t* const* at, std::uint64_t* alive);
  bool GatherLikelyMisses(const std::uint8_t* const* at, const std::uint64_t* alive);
  void Reorder(const std::int64_t* order, std::int64_t pool);
  void FillBands();
  // Mask with no miss allowed, and with some: two lean loops, each with a
  // call of its own.
  unsigned AllWithin(const std::uint8_t* topLeft, unsigned lanes) const;
  unsigned FewMisses(const std::uint8_t* topLeft, unsigned lanes) const;
  unsigned BandedMisses(const std::uint8_t* topLeft, unsigned lanes, std::int64_t* counted, __m128i* lo,
                        __m128i* hi) const;

  const ScanSetup& s_;
  std::int64_t count_ = 0;
  std::ptrdiff_t* offsets_ = nullptr;
  ColorValue* colors_ = nullptr;
  // For the first pixels (most of a test that does not match reads no
  // further): the least and the most each byte of a screen pixel within the
  // tolerance may hold, as whole registers.
  std::uint8_t* bands_ = nullptr;  // per pixel the bottoms of its four bytes' bands, then their tops
  std::int64_t banded_ = 0;
};

}  // namespace zadized
