// The search exactly as its rules read: every candidate in scan order, each
// window walked pixel by pixel until one fails. The reference the fast scan
// must agree with, and what the reference switch runs.
#pragma once

#include "image/records.h"
#include "search/rules.h"

namespace zadized {

// Over a setup and rectangle that ScanFits accepted; with a listing, every
// accepted position goes to it (Acceptance).
ScanHit LiteralScan(const ScanSetup& s, const BitmapRecord& templ, const Rectangle& r, const ScanOrder& order,
                    const ColorTest& test, Sightings* list = nullptr);

}  // namespace zadized
