// The near-colour mode through the real DLL, on a noisy desktop-like screen:
// a copy whose every pixel is a shade off is found with a channel limit of
// exactly that shade and not one less; a copy with a few odd pixels is found
// with the smallest share whose budget covers them and not the next smaller;
// a 16-bit template is compared widened to 8 bits per channel; a PNG
// template whose alpha is all opaque behaves as its BMP twin.

#include "common/bmp_bytes.h"
#include "harness.h"
#include "paint_screen.h"
#include "png_encode.h"
#include "zadized.h"

namespace {

using zadized::test::MakeBmp24;

// Deterministic, so a failure repeats.
std::uint32_t Random() {
  static std::uint32_t state = 20240611u;
  state = state * 1664525u + 1013904223u;
  return state >> 8;
}

std::int32_t Width() { return GetSystemMetrics(SM_CXSCREEN); }

std::int32_t Encode(std::int32_t x, std::int32_t y) { return zadized_encode_position(x, y, Width()); }

// The template: 15 x 10 colours with every channel in 32-223, so that a shade
// of up to 32 either way never leaves 0-255.
constexpr int kW = 15, kH = 10;
const std::vector<std::uint32_t>& Template() {
  static const std::vector<std::uint32_t> t = [] {
    std::vector<std::uint32_t> px;
    for (int k = 0; k < kW * kH; ++k) {
      px.push_back((32 + Random() % 192) << 16 | (32 + Random() % 192) << 8 | (32 + Random() % 192));
    }
    return px;
  }();
  return t;
}

// Where the copies lie, on rows 2 and below so every position encodes >= 0.
constexpr int kShadedX = 300, kShadedY = 200;  // every pixel up to kShade off
constexpr int kOddX = 500, kOddY = 200;        // kOdd pixels far off, the rest exact
constexpr int k16X = 700, k16Y = 200;          // 16-bit: naive widening above, exact below
constexpr int kShade = 24, kOdd = 5;
constexpr int kWords = 6, kWordRows = 5;

std::uint32_t Shade(std::uint32_t v, int dBlue, int dGreen, int dRed) {
  return static_cast<std::uint32_t>((static_cast<int>(v >> 16 & 0xFF) + dRed) << 16 |
                                    (static_cast<int>(v >> 8 & 0xFF) + dGreen) << 8 |
                                    (static_cast<int>(v & 0xFF) + dBlue));
}

// 5-5-5 words with every channel 4 or more, so that c >> 2 is never 0, and
// one channel 31, where the naive c << 3 is 7 short.
const std::vector<std::uint16_t>& Words() {
  static const std::vector<std::uint16_t> w = [] {
    std::vector<std::uint16_t> out;
    for (int k = 0; k < kWords * kWordRows; ++k) {
      const std::uint32_t c[3] = {4 + Random() % 28, 4 + Random() % 28, 4 + Random() % 28};
      out.push_back(static_cast<std::uint16_t>(c[0] | c[1] << 5 | c[2] << 10));
    }
    out[7] = static_cast<std::uint16_t>(out[7] | 31u << 10);
    return out;
  }();
  return w;
}

std::uint32_t Widen(std::uint16_t word, bool exact) {
  std::uint32_t v = 0;
  for (int i = 0; i < 3; ++i) {
    const std::uint32_t c = word >> (5 * i) & 31u;
    v |= (exact ? (c << 3 | c >> 2) : c << 3) << (8 * i);
  }
  return v;
}

struct Screen {
  std::int32_t width, height;
  std::vector<std::uint32_t> px;
  void Put(int x, int y, int w, const std::vector<std::uint32_t>& block) {
    for (std::size_t k = 0; k < block.size(); ++k)
      px[static_cast<std::size_t>(y + static_cast<int>(k) / w) * width + x + static_cast<int>(k) % w] =
          block[k];
  }
};

// A desktop-like gradient with grain, and the copies.
Screen Paint() {
  Screen s{Width(), GetSystemMetrics(SM_CYSCREEN), {}};
  s.px.resize(static_cast<std::size_t>(s.width) * s.height);
  for (int y = 0; y < s.height; ++y) {
    for (int x = 0; x < s.width; ++x) {
      const std::uint32_t grain = Random() % 48;
      s.px[static_cast<std::size_t>(y) * s.width + x] =
          (40 + y * 120 / s.height + grain) << 16 | (70 + x * 100 / s.width + grain) << 8 | (150 + grain);
    }
  }
  const std::vector<std::uint32_t>& t = Template();
  std::vector<std::uint32_t> shaded;
  for (std::uint32_t v : t) {
    const auto d = [] { return static_cast<int>(Random() % (2 * kShade + 1)) - kShade; };
    shaded.push_back(Shade(v, d(), d(), d()));
  }
  shaded[37] = Shade(t[37], 0, -kShade, 0);  // the shade reached exactly, once
  s.Put(kShadedX, kShadedY, kW, shaded);

  std::vector<std::uint32_t> odd = t;
  for (int i = 0; i < kOdd; ++i) odd[static_cast<std::size_t>(i * 29 + 3)] ^= 0x808080;  // 128 off
  s.Put(kOddX, kOddY, kW, odd);

  std::vector<std::uint32_t> naive, exact;
  for (std::uint16_t word : Words()) {
    naive.push_back(Widen(word, false));
    exact.push_back(Widen(word, true));
  }
  s.Put(k16X, k16Y, kWords, naive);
  s.Put(k16X, k16Y + 10, kWords, exact);
  return s;
}

std::string Write(const std::string& name, const std::vector<std::uint8_t>& bytes) {
  const std::string path = harness::Scratch(name);
  CHECK(harness::WriteBytes(path, bytes));
  return path;
}

// A rectangle of 20 pixels around each copy keeps the emulated captures small.
std::int32_t Search(const std::string& file, int x, int y, std::int32_t color) {
  return harness::Search(file, x - 20, y - 20, x + 40, y + 40, 0, color);
}

void Expect(int line, const std::string& what, std::int32_t got, std::int32_t want) {
  if (got == want) return;
  harness::Fail(__FILE__, line,
                what + ": expected " + (want == ZADIZED_NOT_FOUND ? "-1 (not found)" : std::to_string(want)) +
                    ", got " + std::to_string(got));
}
#define EXPECT_RESULT(what, got, want) Expect(__LINE__, what, got, want)

std::vector<std::uint8_t> RgbaPng(const std::vector<std::uint32_t>& px, int w) {
  std::vector<std::uint8_t> raw;
  for (std::uint32_t v : px) {
    raw.insert(raw.end(), {static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 8),
                           static_cast<std::uint8_t>(v), 0xFF});
  }
  const std::vector<std::uint8_t> out = zadized::test::FinishPng(
      zadized::test::NewPngEncoder(
          spng_ihdr{static_cast<std::uint32_t>(w), static_cast<std::uint32_t>(px.size() / w), 8, 6, 0, 0, 0}),
      raw);
  CHECK(!out.empty());
  return out;
}

TEST_CASE(NearColorsThroughTheDll) {
  const Screen s = Paint();
  CHECK(harness::ShowOnScreen(s.width, s.height, s.px));
  const std::string bmp = Write("near.bmp", MakeBmp24(kW, kH, Template()));

  // Shades: the limit reached exactly passes, one less fails.
  EXPECT_RESULT("shaded copy, n = 24", Search(bmp, kShadedX, kShadedY, zadized_near_colors(kShade, 0)),
                Encode(kShadedX, kShadedY));
  EXPECT_RESULT("shaded copy, n = 23", Search(bmp, kShadedX, kShadedY, zadized_near_colors(kShade - 1, 0)),
                ZADIZED_NOT_FOUND);

  // Odd pixels: 5 of 150. 4% allows 6; 3% allows 4.5 rounded down to 4, so
  // rounding to nearest would wrongly find it.
  int p = 0;
  while (p * kW * kH / 100 < kOdd) ++p;
  CHECK_EQ(p, 4);
  EXPECT_RESULT("5 odd pixels, p = 4", Search(bmp, kOddX, kOddY, zadized_near_colors(0, p)),
                Encode(kOddX, kOddY));
  EXPECT_RESULT("5 odd pixels, p = 3", Search(bmp, kOddX, kOddY, zadized_near_colors(0, p - 1)),
                ZADIZED_NOT_FOUND);
  // The odd pixels are 128 off in every channel: no channel limit below that helps.
  EXPECT_RESULT("5 odd pixels, n = 127, p = 3", Search(bmp, kOddX, kOddY, zadized_near_colors(127, p - 1)),
                ZADIZED_NOT_FOUND);
  std::printf(
      "  shaded copy: found with n = %d, not with %d; %d odd pixels of %d: found with p = %d, not %d\n",
      kShade, kShade - 1, kOdd, kW * kH, p, p - 1);

  // 16 bits: the copy widened as c << 3 | c >> 2 matches exactly; the naive
  // c << 3 copy, met first in scan order, is up to 7 short in a channel.
  std::vector<std::uint8_t> words;
  for (int r = kWordRows - 1; r >= 0; --r) {  // bottom-up, 12-byte rows need no padding
    for (int c = 0; c < kWords; ++c) {
      const std::uint16_t w = Words()[static_cast<std::size_t>(r * kWords + c)];
      words.insert(words.end(), {static_cast<std::uint8_t>(w), static_cast<std::uint8_t>(w >> 8)});
    }
  }
  zadized::test::BmpLayout layout16;
  layout16.width = kWords;
  layout16.height = kWordRows;
  layout16.bitCount = 16;
  const std::string bmp16 = Write("near16.bmp", zadized::test::MakeBmp(layout16, {}, words));
  EXPECT_RESULT("16-bit, n = 0", Search(bmp16, k16X, k16Y, zadized_near_colors(0, 0)),
                Encode(k16X, k16Y + 10));
  EXPECT_RESULT("16-bit, n = 6", Search(bmp16, k16X, k16Y, zadized_near_colors(6, 0)),
                Encode(k16X, k16Y + 10));
  EXPECT_RESULT("16-bit, n = 7", Search(bmp16, k16X, k16Y, zadized_near_colors(7, 0)), Encode(k16X, k16Y));

  // An RGBA PNG file whose pixels are all opaque: the answers are the BMP's.
  const std::string png = Write("near.png", RgbaPng(Template(), kW));
  EXPECT_RESULT("PNG, shaded copy, n = 24", Search(png, kShadedX, kShadedY, zadized_near_colors(kShade, 0)),
                Encode(kShadedX, kShadedY));
  EXPECT_RESULT("PNG, shaded copy, n = 23",
                Search(png, kShadedX, kShadedY, zadized_near_colors(kShade - 1, 0)), ZADIZED_NOT_FOUND);
  EXPECT_RESULT("PNG, 5 odd pixels, p = 4", Search(png, kOddX, kOddY, zadized_near_colors(0, p)),
                Encode(kOddX, kOddY));
}

}  // namespace

HARNESS_MAIN
