// A plain, slow search written straight from the rules, sharing nothing with
// the library: it decodes the template from the BMP file's bytes itself,
// builds its own map and visits positions from an explicit list. The library
// must agree with it exactly; a faster search must too.
#pragma once

#include <cstdint>
#include <vector>

namespace zadized::reference {

struct Screen {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::vector<std::uint32_t> topDown;  // 0x00RRGGBB, bits 24-31 ignored
};

// The result SearchImage gives for a template file holding `bmp` (a file the
// loader accepts) on `screen`; -3 when the screen has no pixels. `clear`
// names the template pixels whose alpha is below full (top-down, row by row;
// empty when none is), which take no part, as option bit 19 takes the
// pixels of the top-left colour out.
std::int32_t LiteralSearch(const std::vector<std::uint8_t>& bmp, const Screen& screen, std::int32_t x1,
                           std::int32_t y1, std::int32_t x2, std::int32_t y2, std::int32_t options,
                           std::int32_t color, const std::vector<bool>& clear = {});

// Every position SearchImageAll lists for the same call, in scan order,
// encoded: the accepted positions after the skip count, not only the first.
// `code` is 0 when the scan ran, else the code SearchImage answers (-3, -10,
// -100), with no positions.
struct Listing {
  std::int32_t code = 0;
  std::vector<std::int32_t> positions;
};
Listing LiteralSearchAll(const std::vector<std::uint8_t>& bmp, const Screen& screen, std::int32_t x1,
                         std::int32_t y1, std::int32_t x2, std::int32_t y2, std::int32_t options,
                         std::int32_t color, const std::vector<bool>& clear = {});

// The 256 colours an 8-bit file's index bytes select.
std::vector<std::uint32_t> LiteralColorTable(const std::vector<std::uint8_t>& bmp);

}  // namespace zadized::reference
