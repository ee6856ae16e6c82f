#include "search/scan.h"

#include <cstdlib>

#include "search/fast_scan.h"
#include "search/literal_scan.h"

namespace zadized {

namespace {

// Constants in the DLL, so that loading it runs nothing of ours.
#if defined(ZADIZED_START_WITH_REFERENCE_SCAN) && ZADIZED_START_WITH_REFERENCE_SCAN
bool g_referenceForced = true;
#elif defined(_WIN32)
bool g_referenceForced = false;
#else
bool StartingValue() {
  const char* v = std::getenv("ZADIZED_REFERENCE_SCAN");
  return v != nullptr && v[0] == '1' && v[1] == '\0';
}
bool g_referenceForced = StartingValue();
#endif

}  // namespace

void SetReferenceScan(bool on) { g_referenceForced = on; }
bool ReferenceScanForced() { return g_referenceForced; }

ScanHit Scan(const ScanSetup& s, const BitmapRecord& templ, const Rectangle& r, const ScanOrder& order,
             const ColorTest& test, Sightings* list) {
  if (!ScanFits(s, r)) return ScanHit{false, 0, 0};
  return g_referenceForced ? LiteralScan(s, templ, r, order, test, list)
                           : FastScan(s, templ, r, order, test, list);
}

}  // namespace zadized
