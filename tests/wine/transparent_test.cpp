// Transparent template pixels through the real DLL: a sprite of irregular
// outline, pasted over two different backgrounds, is found at both places
// when its surroundings are transparent (an RGBA PNG file, or a BMP file on a
// key colour with option bit 19) and at neither when they are not (the same
// pictures without alpha, or without the bit). Both places come back from one
// SearchImageAll call in scan order, and SearchImage's skip count walks them.
#include <string>
#include <vector>

#include "common/bmp_bytes.h"
#include "harness.h"
#include "paint_screen.h"
#include "png_encode.h"

using harness::Addr;
using harness::Arg32;
using zadized::test::MakeBmp24;

namespace {

constexpr int kW = 24, kH = 20;
constexpr std::uint32_t kBody = 0xD02020, kEye = 0xFFFFFF, kPupil = 0x101010, kKey = 0xFF00FF;
// The two places, one on each background, in row-by-row order.
constexpr int kAx = 100, kAy = 120, kBx = 420, kBy = 300;
// The part of the screen searched: small, so the emulated 32-bit capture is quick.
constexpr std::int32_t kRight = 639, kBottom = 479;

// What each pixel of the sprite is: outside it, on its anti-aliased rim
// (partly transparent), or one of its colours. A blob with three spikes and
// two eyes; no row or column is straight.
enum Kind { kOut, kRim, kIn };
Kind KindAt(int x, int y) {
  const double dx = (x + 0.5 - 12) / 10.5, dy = (y + 0.5 - 11) / 8.5;
  const double r = dx * dx + dy * dy;
  const bool spike = (y < 3 && (x == 5 || x == 6 || x == 17)) || (x > 21 && y == 10);
  if (r < 0.8 || spike) return kIn;
  return r < 1.0 ? kRim : kOut;
}
std::uint32_t ColorAt(int x, int y) {
  const bool eye = (y >= 7 && y <= 10) && ((x >= 7 && x <= 10) || (x >= 14 && x <= 17));
  const bool pupil = eye && y >= 9 && (x == 9 || x == 16);
  return pupil ? kPupil : eye ? kEye : kBody;
}

// Left: diagonal tiles; right: thin stripes with noise. The sprite is pasted
// over each, its rim blended with what lies below.
const harness::Picture& ThePicture() {
  static const harness::Picture p = [] {
    std::uint32_t seed = 12345;
    harness::Picture q([&](int x, int y) -> std::uint32_t {
      seed = seed * 1664525u + 1013904223u;
      const std::uint32_t tiles[4] = {0x2A4A6A, 0x3A5A7A, 0x4A6A2A, 0x6A2A4A};
      return x < 320 ? tiles[((x + y) / 6) % 4] : (x % 3 == 0 ? 0xE0E0C0 : 0x30A030) ^ (seed >> 29);
    });
    for (const auto& [ox, oy] : {std::pair<int, int>{kAx, kAy}, {kBx, kBy}}) {
      for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
          std::uint32_t& v = q.at(ox + x, oy + y);
          if (KindAt(x, y) == kIn) v = ColorAt(x, y);
          if (KindAt(x, y) == kRim) v = ((v >> 1) & 0x7F7F7F) + ((kBody >> 1) & 0x7F7F7F);
        }
      }
    }
    return q;
  }();
  return p;
}

std::int32_t Encode(int x, int y) {
  return static_cast<std::int32_t>(static_cast<std::int64_t>(y - 1) * ThePicture().width + (x - 1));
}

// The sprite as an RGBA PNG file: alpha 0 outside, 128 on the rim, 255
// inside; the colour stored under the transparent pixels is the key colour.
// With `opaque` every alpha is 255.
std::string WritePng(const std::string& name, bool opaque) {
  std::vector<std::uint8_t> raw;
  for (int y = 0; y < kH; ++y) {
    for (int x = 0; x < kW; ++x) {
      const Kind k = KindAt(x, y);
      const std::uint32_t v = k == kOut ? kKey : ColorAt(x, y);
      raw.insert(raw.end(), {static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 8),
                             static_cast<std::uint8_t>(v),
                             static_cast<std::uint8_t>(opaque || k == kIn ? 255
                                                       : k == kRim        ? 128
                                                                          : 0)});
    }
  }
  spng_ctx* ctx = zadized::test::NewPngEncoder(spng_ihdr{kW, kH, 8, 6, 0, 0, 0});
  const std::string path = harness::Scratch(name);
  CHECK(harness::WriteBytes(path, zadized::test::FinishPng(ctx, raw)));
  return path;
}

// The sprite on the key colour as a 24-bit BMP file: outside and rim are
// magenta, from the top-left corner on.
std::string WriteKeyedBmp(const std::string& name) {
  std::vector<std::uint32_t> px;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) px.push_back(KindAt(x, y) == kIn ? ColorAt(x, y) : kKey);
  const std::string path = harness::Scratch(name);
  CHECK(harness::WriteBytes(path, MakeBmp24(kW, kH, px)));
  return path;
}

// Every sighting in one call (ordinal 16): the list.
std::vector<std::int32_t> All(const std::string& file, std::int32_t options, std::int32_t color) {
  std::vector<std::int32_t> slots(8, 0x5A5A5A5A);
  const auto word = [](std::int32_t v) { return Arg32(static_cast<std::uint32_t>(v)); };
  const auto n = static_cast<std::int32_t>(
      harness::Call(16, {Addr(file.c_str()), word(0), word(0), word(kRight), word(kBottom), word(options),
                         word(color), Addr(slots.data()), word(static_cast<std::int32_t>(slots.size()))}));
  slots.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  if (n < 0) slots.push_back(n);  // a code
  return slots;
}

std::string Show(const std::vector<std::int32_t>& v) {
  std::string s = "{";
  for (std::int32_t x : v) s += " " + std::to_string(x);
  return s + " }";
}

TEST_CASE(ASpriteIsFoundOverBothBackgroundsOnlyWhereItsSurroundingsAreTransparent) {
  const harness::Picture& p = ThePicture();
  CHECK(harness::ShowOnScreen(p.width, p.height, p.px));
  const std::vector<std::int32_t> both = {Encode(kAx, kAy), Encode(kBx, kBy)};
  const std::vector<std::int32_t> none = {};
  const std::string alpha = WritePng("sprite-alpha.png", false);
  const std::string opaque = WritePng("sprite-opaque.png", true);
  const std::string keyed = WriteKeyedBmp("sprite-key.bmp");
  constexpr std::int32_t kKeyBit = 0x80000;
  // Pattern mode; tolerance at the top-left corner, which is transparent, so
  // it passes wherever the pattern holds; the template's own colours exactly.
  const std::int32_t colors[] = {-1, 0x10000000, 0x20000000};
  int found = 0;
  for (const std::int32_t color : colors) {
    const struct {
      const std::string& file;
      std::int32_t options;
      const std::vector<std::int32_t>& want;
    } cases[] = {{alpha, 0, both},  {alpha, kKeyBit, both}, {keyed, kKeyBit, both},
                 {opaque, 0, none}, {keyed, 0, none},       {opaque, kKeyBit, none}};
    for (const auto& c : cases) {
      const std::vector<std::int32_t> got = All(c.file, c.options, color);
      if (got != c.want) {
        harness::Fail(__FILE__, __LINE__,
                      c.file + ", options " + std::to_string(c.options) + ", colour " +
                          std::to_string(color) + ": SearchImageAll " + Show(got) + ", expected " +
                          Show(c.want));
      }
      // The skip loop meets the same places.
      for (std::size_t k = 0; k <= c.want.size(); ++k) {
        const std::int32_t one =
            harness::Search(c.file, 0, 0, kRight, kBottom, c.options + static_cast<std::int32_t>(k), color);
        CHECK_EQ(one, k < c.want.size() ? c.want[k] : -1);
      }
      found += static_cast<int>(got.size());
    }
  }
  std::printf("  %d sightings listed: the sprite at (%d, %d) over tiles and (%d, %d) over stripes\n", found,
              kAx, kAy, kBx, kBy);
  // A template with no opaque pixel is refused: the key colour is every pixel.
  const std::string blank = harness::Scratch("all-key.bmp");
  CHECK(harness::WriteBytes(blank, MakeBmp24(3, 2, std::vector<std::uint32_t>(6, kKey))));
  for (const std::int32_t color : colors)
    CHECK_EQ(harness::Search(blank, 0, 0, kRight, kBottom, kKeyBit, color), -100);
}

}  // namespace

HARNESS_MAIN
