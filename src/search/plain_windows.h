// Templates of one colour, answered from the screen's stretches of one colour
// instead of window by window. A one-colour template matches a window whose
// pixels all show one colour (pattern mode) or all lie near its colour (near
// colours with no miss allowed); over a white page every window is alike for
// hundreds of pixels, so the window tests read far before they fail. Here each
// screen row becomes a few bit sets (a pixel equal to its right-hand and its
// lower neighbour, a pixel near the colour), the rows' sets are narrowed to
// the columns where a whole template row fits, and the windows' rows are
// combined with a running AND: every candidate costs a few word operations,
// whatever the template's size, and the answer is exact.
#pragma once

#include <cstdint>

#include "image/records.h"
#include "search/rules.h"

namespace zadized {

// A colour every pixel of a matching window must also be near: near mode's
// own test, or the corner test of tolerance mode, which on a one-colour window
// tests the window's one colour and, with no skip count left, is the next
// thing a matching window meets.
struct PlainColour {
  enum Kind { kAny, kNear, kCorner } kind = kAny;
  ColorValue colour = 0;
  std::int32_t channel = 255;  // kNear: the tolerance n; kCorner: per channel
  std::int32_t sum = 765;      // kCorner: in all

  // What a search asks of a one-colour window beyond being one colour.
  static PlainColour For(const ScanSetup& s, const BitmapRecord& templ, const ScanOrder& order,
                         const ColorTest& test);
};

class PlainWindows {
 public:
  // Whether the setup's template is of one colour in a mode answered here:
  // pattern mode (tolerance too) with every pixel numbered 0, or near colours
  // with no miss allowed and every pixel of one colour; none transparent.
  static bool Applies(const ScanSetup& s);

  // Works out which candidates of `c` match, all at once. Ready() is false
  // when the bit sets could not be allocated.
  PlainWindows(const ScanSetup& s, const Candidates& c, const PlainColour& colour);
  ~PlainWindows();
  PlainWindows(const PlainWindows&) = delete;
  PlainWindows& operator=(const PlainWindows&) = delete;

  bool Ready() const { return block_ != nullptr; }

  // Hands every matching candidate from scan index `resumeAt` on, in scan
  // order, to `acceptance`, until it accepts one.
  ScanHit Scan(Acceptance& acceptance, std::int64_t resumeAt) const;

 private:
  void BuildRow(std::int64_t b, std::uint64_t* tmp) const;
  void EnsureGroup(std::int64_t g) const;
  const std::uint64_t* MatchRow(std::int64_t b, std::uint64_t* out) const;
  ScanHit ScanRows(Acceptance& acceptance, std::int64_t resumeAt) const;
  ScanHit ScanColumns(Acceptance& acceptance, std::int64_t resumeAt) const;

  const ScanSetup& s_;
  const Candidates& c_;
  PlainColour colour_;
  bool pattern_;
  std::int64_t rows_ = 0;   // screen rows the candidates' windows cover
  std::int64_t words_ = 0;  // per row: one bit per screen column
  std::int64_t span_ = 0;   // rows the running AND spans
  std::int64_t group_ = 1;  // rows worked out together: span_, at least 1
  // One block: per row the columns where a template row fits (fits_), the
  // running AND's ends (ends_, from each row to its group's end, and
  // starts_, from the group's start), the candidates' columns, and room
  // for a row being worked on.
  std::uint64_t* block_ = nullptr;
  std::uint64_t* fits_ = nullptr;
  std::uint64_t* starts_ = nullptr;
  std::uint64_t* ends_ = nullptr;
  std::uint64_t* columns_ = nullptr;
  std::uint64_t* scratch_ = nullptr;
  std::uint8_t* built_ = nullptr;  // per group of rows: worked out yet
};

}  // namespace zadized
