// The scan that SearchImage runs by default: every candidate position is first
// put through a few cheap pixel-pair tests that the literal test implies, eight
// positions at a time, and only the positions that survive go through the
// literal test (WindowMatches), the skip count and the corner test, in the
// order the option word asks for. The literal scan stays in the library as the
// reference, and a switch forces it, so tests and benchmarks can compare both.
#pragma once

#include <cstdint>

#include "image/records.h"
#include "search/search.h"

namespace zadized {

// Forces the literal scan (and the whole-screen capture in SearchImage) when
// on. Natively the environment variable ZADIZED_REFERENCE_SCAN=1, read once,
// sets the starting value; the DLL starts with the fast scan and nothing in
// it changes that.
void SetReferenceScan(bool on);
bool ReferenceScanForced();

// Where a scan stopped: the accepted position, if any.
struct ScanHit {
  bool found;
  std::int32_t x;
  std::int32_t y;
};

// What happens once a position passes the window test: the skip count, then
// the corner test in tolerance mode. Both scans share it, so they can differ
// only in which positions reach it.
class Acceptance {
 public:
  Acceptance(const ScanSetup& s, const BitmapRecord& templ, const ScanOrder& order, const ColorTest& test);
  // Called with positions that passed WindowMatches, in scan order.
  bool Accept(std::int32_t x, std::int32_t y);

 private:
  const ScanSetup& s_;
  const ColorTest& test_;
  std::int32_t skip_;
  ColorValue cornerColor_;
  std::int32_t cornerDx_;
  std::int32_t cornerDy_;
};

// Both scans over a setup that ScanRectangle has checked: the rectangle holds
// at least one candidate position and every read stays on the screen.
ScanHit LiteralScan(const ScanSetup& s, const BitmapRecord& templ, const Rectangle& r, const ScanOrder& order,
                    const ColorTest& test);
ScanHit FastScan(const ScanSetup& s, const BitmapRecord& templ, const Rectangle& r, const ScanOrder& order,
                 const ColorTest& test);

// How FastScan goes about a scan, so tests can show which of its ways they
// reached: the number of pixel-pair tests, the background pixels of shape
// mode's one-third stage (0 when it has none), and the loop.
enum class FastLoop { kSingle, kRowBlocks, kColumnStrips, kLongColumnStrips };
struct FastScanPlan {
  int pairTests;
  int backgroundPixels;
  FastLoop loop;
};
FastScanPlan PlanFastScan(const ScanSetup& s, const Rectangle& r, const ScanOrder& order);

}  // namespace zadized
