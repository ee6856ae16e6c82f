// The one place that chooses between the fast scan and the literal scan.
#pragma once

#include "image/records.h"
#include "search/rules.h"

namespace zadized {

// Forces the literal scan when on; nothing else changes. Natively the
// environment variable ZADIZED_REFERENCE_SCAN=1, read once, sets the starting
// value. The DLL has no configuration: it starts with the fast scan, unless
// it was built with ZADIZED_START_WITH_REFERENCE_SCAN (the benchmark's
// literal twin); only a test program linked with the core flips the switch.
void SetReferenceScan(bool on);
bool ReferenceScanForced();

// The scan of `r`, or no hit when ScanFits refuses the setup. With a
// listing it goes on past every accepted position, each recorded there,
// until the listing is full or the rectangle done.
ScanHit Scan(const ScanSetup& s, const BitmapRecord& templ, const Rectangle& r, const ScanOrder& order,
             const ColorTest& test, Sightings* list = nullptr);

}  // namespace zadized
