#include "search/literal_scan.h"

namespace zadized {

ScanHit LiteralScan(const ScanSetup& s, const BitmapRecord& templ, const Rectangle& r, const ScanOrder& order,
                    const ColorTest& test, Sightings* list) {
  Acceptance acceptance(s, templ, order, test, list);
  return Candidates(r, s.templateWidth, s.templateHeight, order).Walk([&](std::int32_t x, std::int32_t y) {
    return WindowMatches(s, x, y) && acceptance.Accept(x, y);
  });
}

}  // namespace zadized
