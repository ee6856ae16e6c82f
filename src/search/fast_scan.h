// The scan that runs by default: every candidate position is first put
// through a few cheap pixel-pair tests that the literal test implies, ranked on
// the screen at hand and run on eight positions at a time with SSE2; only the
// positions that survive go through the literal test (WindowMatches), the skip
// count and the corner test, in the order the option word asks for.
#pragma once

#include <cstdint>

#include "image/records.h"
#include "search/rules.h"

namespace zadized {

// Over a setup and rectangle that ScanFits accepted; answers exactly what
// LiteralScan answers, and gives a listing the same positions.
ScanHit FastScan(const ScanSetup& s, const BitmapRecord& templ, const Rectangle& r, const ScanOrder& order,
                 const ColorTest& test, Sightings* list = nullptr);

// The scan starts with the literal test on the first candidates, for a budget
// of pixels read that follows from the template's size. Tests set a budget of
// their own here, so that on small screens the scan proper is reached, and
// resumed after the head start at any candidate; a negative budget restores
// the one that follows from the template.
void SetHeadStartBudget(std::int64_t pixels);

// How FastScan goes about a scan, so tests can show which of its ways they
// reached: the number of pixel-pair tests, the background pixels of shape
// mode's one-third stage (0 when it has none), the loop, and shape mode's
// boxes that rule out windows on plain areas (0 when it uses none).
enum class FastLoop { kSingle, kRowBlocks, kColumnStrips, kLongColumnStrips };
struct FastScanPlan {
  int pairTests;
  int backgroundPixels;
  FastLoop loop;
  int plainBoxes = 0;
};
FastScanPlan PlanFastScan(const ScanSetup& s, const Rectangle& r, const ScanOrder& order);

}  // namespace zadized
