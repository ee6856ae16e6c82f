// Pixel-pair tests that a pattern or shape template implies: pixels of the
// window that must show the same colour, or different ones, and shape mode's
// one-third rule as "one of these background pixels differs from the shape".
// Compiled once per search, ranked on the screen at hand, and run on eight
// positions at a time. Passing them is necessary for a window to match, not
// enough: a window that passes still goes through the exact test.
#pragma once

#include <cstddef>
#include <cstdint>

#include "search/rules.h"
#include "search/window_check.h"

namespace zadized {

class PairTests {
 public:
  enum Kind : std::uint8_t {
    kEqual,       // pixels a and b show the same colour
    kDiffer,      // they do not
    kAnyDiffers,  // some pixel of the set differs from pixel a
  };
  // Byte offsets from a window's top-left pixel, so one compiled program
  // serves every position.
  struct Test {
    std::ptrdiff_t a;
    std::ptrdiff_t b;
    Kind kind;
  };
  // Tests from the template (up to 24 of each kind and the one-third test)
  // and tests learnt from the screen.
  static constexpr int kMaxTests = 2 * 24 + 1 + 16;
  // The one-third test needs limit + 1 background pixels; beyond this many
  // it is left to the exact test.
  static constexpr int kMaxShapeSet = 2048;
  static constexpr int kHead = 4;
  struct Program {
    Test tests[kMaxTests];
    int count = 0;
    // The leading tests that compare two pixels, run without a branch
    // between them (at least one, at most kHead, as many as ranking found
    // worth it), and what each flips: nothing for equal, every lane for
    // differ.
    int head = 0;
    unsigned flip[kMaxTests] = {};
    std::ptrdiff_t set[kMaxShapeSet];
    int setCount = 0;
  };

  // The tests the setup's map implies, in no particular order; in shape
  // mode the one-third test only when it needs at most `oneThirdSet`
  // background pixels (a large one is left to ShapeTests, which does better).
  explicit PairTests(const ScanSetup& s, int oneThirdSet = kMaxShapeSet);

  // Puts the most selective tests first, judged on sampled candidates, after
  // learning from sampled windows that pass them all, through `check`, the
  // pair of pixels each fails on (no learning without a check, or when it
  // cannot be built).
  void Rank(const Candidates& c, WindowCheck* check);

  // The lanes of the eight positions from `topLeft` on that pass every test.
  unsigned Mask(const std::uint8_t* topLeft) const;
  // Mask for `blocks` blocks, the first at `topLeft`, each `step` bytes on
  // from the one before, into out[0 .. blocks - 1].
  void MaskBlocks(const std::uint8_t* topLeft, std::int64_t blocks, std::ptrdiff_t step,
                  std::uint8_t* out) const;
  // Whether the one position at `topLeft` passes every test.
  bool Passes(const std::uint8_t* topLeft) const;

  int Count() const { return program_.count; }
  int BackgroundPixels() const { return program_.setCount; }

 private:
  const ScanSetup& s_;
  Program program_;
};

}  // namespace zadized
