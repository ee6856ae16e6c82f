// The window test of the rules, answered in an order that reaches across the
// whole window early. The literal test walks the window bottom row first, so
// a window over a plain area that differs only near its top is walked almost
// to the end before it fails; this check visits a coarse grid of the window
// first and finer grids after, so such a window fails within a few pixels.
// It answers exactly what WindowMatches answers, for every window.
#pragma once

#include <cstddef>
#include <cstdint>

#include "search/rules.h"

namespace zadized {

// Two pixels of a window, as byte offsets from its top-left pixel, that must
// show the same colour (equal) or different colours (!equal).
struct PixelPair {
  std::ptrdiff_t a;
  std::ptrdiff_t b;
  bool equal;
};

class WindowCheck {
 public:
  // Compiles the check for a setup's map, or with `deferred` when Build is
  // first called. Ready() is false when its tables could not be allocated
  // (or are not built yet); callers then use WindowMatches.
  explicit WindowCheck(const ScanSetup& s, bool deferred = false);
  ~WindowCheck();
  WindowCheck(const WindowCheck&) = delete;
  WindowCheck& operator=(const WindowCheck&) = delete;

  bool Ready() const { return offsets_ != nullptr; }
  // Compiles a deferred check, once; answers Ready().
  bool Build();

  enum Verdict { kMatch, kFailsOnPair, kFailsOnCount };

  // WindowMatches for the window whose top-left pixel is at `p`.
  bool Matches(const std::uint8_t* p) const { return Examine(p, nullptr) == kMatch; }

  // Checks the window at `p`. When it fails on two pixels (not on shape
  // mode's one-third count) and `out` is given, *out names them.
  Verdict Examine(const std::uint8_t* p, PixelPair* out) const;

  // Constraints checked per window at most: the window's pixel count.
  std::int64_t Size() const { return count_; }

 private:
  struct Geometry;
  bool Allocate(std::int64_t entries);
  void BuildShape(const ScanSetup& s, const Geometry& g);
  void BuildPattern(const ScanSetup& s, const Geometry& g);
  bool EqualEntriesHold(const std::uint8_t* p, PixelPair* out) const;
  Verdict ExaminePattern(const std::uint8_t* p, PixelPair* out) const;
  Verdict ExamineShape(const std::uint8_t* p, PixelPair* out) const;

  const ScanSetup& s_;
  bool built_ = false;  // compiled, or tried to
  bool shape_;
  // Entries: a pixel each, and for the first `equalEntries_` the pixel it
  // must equal. Pattern: the pixels of numbers below 255 other than each
  // number's first pixel (its representative), paired with that; then the
  // pixels of number 255, which must show none of the colours of the
  // representatives of 0-254. Shape: the marked pixels but the first, paired
  // with it; then the background after it, of which at most `limit_` pixels
  // may show the first marked pixel's colour.
  std::int64_t count_ = 0;
  std::int64_t equalEntries_ = 0;
  std::ptrdiff_t* offsets_ = nullptr;
  std::ptrdiff_t* partners_ = nullptr;
  std::ptrdiff_t reps_[256] = {};
  std::int32_t numbers_ = 0;  // numbers the pattern map uses
  std::ptrdiff_t first_ = 0;
  std::int64_t limit_ = 0;
};

}  // namespace zadized
