#include "search/search.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "platform/platform_portable.h"
#include "search_support.h"

namespace zadized {
namespace {

using test::Canvas;
using test::HandScreen;
using test::MakeBmp;
using test::MakeBmp24;
using test::PrivateCache;

constexpr std::uint32_t kRed = 0xFF0000, kWhite = 0xFFFFFF, kBlue = 0x0000FF, kBlack = 0x000000;
constexpr std::int32_t kBottomUp = 1 << 16, kRightToLeft = 1 << 17, kColumns = 1 << 18;

struct Pos {
  std::int32_t x, y;
  bool operator==(const Pos& o) const { return x == o.x && y == o.y; }
};

// Decodes a result the way a host does; only for results that are positions.
Pos Decode(std::int32_t result, std::int32_t width) {
  const std::int64_t v = static_cast<std::int64_t>(result) + width + 1;
  return Pos{static_cast<std::int32_t>(v % width), static_cast<std::int32_t>(v / width)};
}

std::int32_t Search(const BitmapRecord& t, Canvas& screen, std::int32_t x1, std::int32_t y1, std::int32_t x2,
                    std::int32_t y2, std::int32_t options = 0, std::int32_t color = -1) {
  HandScreen s(screen.width, screen.height, screen.px);
  return SearchCapture(s.Image(), t, x1, y1, x2, y2, options, color);
}

// ---- CompareCornerColor and the words ----

TEST(CompareCornerColor, LimitsAreInclusiveAndCheckedPerChannelFirst) {
  const ColorValue templ = 0x102030;   // blue 48, green 32, red 16
  const ColorValue screen = 0x132A30;  // blue 48, green 42, red 19: differences 0, 10, 3
  EXPECT_EQ(CompareCornerColor(templ, screen, 10, 12), 0);
  EXPECT_EQ(CompareCornerColor(templ, screen, 10, 13), 1);
  EXPECT_EQ(CompareCornerColor(templ, screen, 9, 65535), 0);
  EXPECT_EQ(CompareCornerColor(screen, templ, 10, 13), 1);  // |d| either way
  EXPECT_EQ(CompareCornerColor(0x000000, 0xFFFFFF, 255, 765), 1);
  EXPECT_EQ(CompareCornerColor(0x000000, 0xFFFFFF, 255, 764), 0);
  EXPECT_EQ(CompareCornerColor(0xFF000000u, 0x00000000u, 0, 0), 1);  // bits 24-31 play no part
  EXPECT_EQ(CompareCornerColor(0x000001, 0x000000, 0, 0), 0);
  EXPECT_EQ(CompareCornerColor(0x010000, 0x000000, 0, 1), 0);
}

TEST(ColorWord, ModesFollowTheTopFourBitsTruncatedTowardZero) {
  const ColorTest minusOne = DecodeColorWord(-1);
  EXPECT_EQ(minusOne.mapColor, -1);
  EXPECT_FALSE(minusOne.tolerance);
  EXPECT_EQ(DecodeColorWord(0xFF0000).mapColor, 0xFF0000);
  EXPECT_EQ(DecodeColorWord(268435455).mapColor, 268435455);
  EXPECT_EQ(DecodeColorWord(-268435455).mapColor, -268435455);  // -0.99... truncates to mode 0
  for (std::int32_t other : {805306368, INT_MAX, -268435456, INT_MIN, -536870912}) {
    const ColorTest t = DecodeColorWord(other);
    EXPECT_EQ(t.mapColor, -1) << other;
    EXPECT_FALSE(t.tolerance) << other;
    EXPECT_FALSE(t.nearColors) << other;
  }
  // Mode 2: n in bits 0-7, p in bits 8-15 (above 100 counts as 100), bits
  // 16-27 ignored.
  const ColorTest nearColors = DecodeColorWord(0x2ABCC818);
  EXPECT_TRUE(nearColors.nearColors);
  EXPECT_FALSE(nearColors.tolerance);
  EXPECT_EQ(nearColors.nearTolerance, 0x18);
  EXPECT_EQ(nearColors.nearPercent, 100);
  EXPECT_EQ(DecodeColorWord(0x20000A00).nearPercent, 10);
  const ColorTest t = DecodeColorWord(0x1E0A000C);  // bits 26-27 set, corner 2, channel 10, sum 12
  EXPECT_TRUE(t.tolerance);
  EXPECT_EQ(t.mapColor, -1);
  EXPECT_EQ(t.corner, 2);
  EXPECT_EQ(t.channelTolerance, 10);
  EXPECT_EQ(t.sumTolerance, 12);
  const ColorTest full = DecodeColorWord(0x13FFFFFF);
  EXPECT_EQ(full.corner, 3);
  EXPECT_EQ(full.channelTolerance, 255);
  EXPECT_EQ(full.sumTolerance, 65535);
}

TEST(OptionWord, SkipCountAndThreeOrderBits) {
  const ScanOrder o = DecodeOptions(static_cast<std::int32_t>(0xFFF8FFFFu));
  EXPECT_EQ(o.skip, 65535);
  EXPECT_FALSE(o.bottomUp || o.rightToLeft || o.columnsOuter);
  const ScanOrder all = DecodeOptions(kBottomUp | kRightToLeft | kColumns | 7);
  EXPECT_EQ(all.skip, 7);
  EXPECT_TRUE(all.bottomUp && all.rightToLeft && all.columnsOuter);
}

TEST(ResultEncoding, IsYMinusOneTimesWidthPlusXMinusOne) {
  const std::int32_t W = 1024;
  EXPECT_EQ(EncodePosition(1, 1, W), 0);
  EXPECT_EQ(EncodePosition(0, 0, W), -(W + 1));
  EXPECT_EQ(EncodePosition(0, 1, W), -1);
  EXPECT_EQ(EncodePosition(W - 9, 0, W), -10);
  EXPECT_EQ(EncodePosition(W - 99, 0, W), -100);
  EXPECT_EQ(EncodePosition(5, 7, W), 6 * W + 4);
  EXPECT_EQ(Decode(EncodePosition(5, 7, W), W), (Pos{5, 7}));
  // Wraps in 32 bits without overflowing: (2^20 - 1) * 2^20 + 9.
  EXPECT_EQ(EncodePosition(10, 1 << 20, 1 << 20),
            static_cast<std::int32_t>(static_cast<std::uint32_t>(((1ull << 20) - 1) * (1ull << 20) + 9)));
  EXPECT_EQ(EncodePosition(INT_MAX, INT_MAX, INT_MAX),
            static_cast<std::int32_t>(static_cast<std::uint32_t>(
                (static_cast<std::uint64_t>(INT_MAX) - 1) * INT_MAX + INT_MAX - 1)));
}

TEST(Rectangle, OrdersCornersAndCutsOnlyTheSidesPastTheScreen) {
  const Rectangle r = NormalizeRectangle(9, 8, -3, 2, 10, 6);
  EXPECT_EQ(r.x1, 0);
  EXPECT_EQ(r.y1, 2);
  EXPECT_EQ(r.x2, 9);
  EXPECT_EQ(r.y2, 5);
  const Rectangle off = NormalizeRectangle(INT_MIN, INT_MAX, -5, INT_MIN, 10, 6);
  EXPECT_EQ(off.x1, 0);
  EXPECT_EQ(off.x2, -5);  // wholly left of the screen
  EXPECT_EQ(off.y1, 0);
  EXPECT_EQ(off.y2, 5);
  const Rectangle right = NormalizeRectangle(20, 0, 30, 1, 10, 6);
  EXPECT_EQ(right.x1, 20);
  EXPECT_EQ(right.x2, 9);
}

// ---- Pattern mode ----

TEST(PatternSearch, FindsTheSameGroupsOfColorWhateverTheColors) {
  PrivateCache cache;
  // A red 2x2 square on white, 4x4.
  Canvas t(4, 4, kWhite);
  t.Fill(1, 1, 2, 2, kRed);
  const BitmapRecord templ = cache.Load("square.bmp", MakeBmp24(4, 4, t.px));
  Canvas screen(20, 12, 0x808080);
  screen.Fill(6, 3, 4, 4, kBlack);
  screen.Fill(7, 4, 2, 2, kBlue);
  EXPECT_EQ(Search(templ, screen, 0, 0, 19, 11), EncodePosition(6, 3, 20));
  EXPECT_EQ(Decode(Search(templ, screen, 0, 0, 19, 11), 20), (Pos{6, 3}));
  // The square one pixel too big for the template's groups: rejected.
  screen.Fill(7, 4, 3, 2, kBlue);
  EXPECT_EQ(Search(templ, screen, 0, 0, 19, 11), -1);
}

TEST(PatternSearch, GroupsMustMatchBothWays) {
  PrivateCache cache;
  const BitmapRecord two = cache.Load("two.bmp", MakeBmp24(2, 1, {kRed, kWhite}));
  const BitmapRecord one = cache.Load("one.bmp", MakeBmp24(2, 1, {kRed, kRed}));
  Canvas uniform(2, 1, 0x123456);
  Canvas split(2, 1, 0x123456);
  split.at(1, 0) = 0x123457;
  EXPECT_EQ(Search(two, uniform, 0, 0, 1, 0), -1);
  EXPECT_EQ(Search(one, split, 0, 0, 1, 0), -1);
  EXPECT_EQ(Search(two, split, 0, 0, 1, 0), EncodePosition(0, 0, 2));
  EXPECT_EQ(Search(one, uniform, 0, 0, 1, 0), EncodePosition(0, 0, 2));
  // A one-colour template fits any uniform area of its size.
  Canvas screen(8, 8, 0);
  for (int i = 0; i < 64; ++i) screen.px[i] = static_cast<std::uint32_t>(i) * 0x030507;
  screen.Fill(5, 6, 2, 1, 0xABCDEF);
  EXPECT_EQ(Search(one, screen, 0, 0, 7, 7), EncodePosition(5, 6, 8));
}

TEST(PatternSearch, TheFourthByteOfScreenPixelsPlaysNoPart) {
  PrivateCache cache;
  const BitmapRecord templ = cache.Load("pair.bmp", MakeBmp24(2, 1, {1, 1}));
  const std::vector<std::uint32_t> px = {5, 9, 9, 5};
  HandScreen a(4, 1, px, 0x00), b(4, 1, px, 0xFF);
  b.bits[4 * 1 + 3] = 0x01;  // screen (1, 0) and (2, 0) differ in the fourth byte only
  EXPECT_EQ(SearchCapture(a.Image(), templ, 0, 0, 3, 0, 0, -1), EncodePosition(1, 0, 4));
  EXPECT_EQ(SearchCapture(b.Image(), templ, 0, 0, 3, 0, 0, -1), EncodePosition(1, 0, 4));
}

TEST(PatternSearch, MoreThan256ScreenValuesAllNumber255) {
  PrivateCache cache;
  // 260 distinct values in one row: the last five are all "255".
  std::vector<std::uint32_t> row(260);
  for (std::uint32_t i = 0; i < 260; ++i) row[i] = i + 1;
  const BitmapRecord templ = cache.Load("wide.bmp", MakeBmp24(260, 1, row));
  Canvas screen(260, 2, 0);
  for (int i = 0; i < 260; ++i) screen.at(i, 0) = 0x100000 + i;
  // Row 1: the first 255 values distinct, then five copies of one new value.
  for (int i = 0; i < 260; ++i) screen.at(i, 1) = i < 255 ? 0x200000 + i : 0x2FFFFF;
  EXPECT_EQ(Search(templ, screen, 0, 1, 259, 1), EncodePosition(0, 1, 260));
  // Repeating an early value where the template has a new one is a mismatch.
  screen.at(258, 1) = 0x200000;
  EXPECT_EQ(Search(templ, screen, 0, 1, 259, 1), -1);
  EXPECT_EQ(Search(templ, screen, 0, 0, 259, 1), EncodePosition(0, 0, 260));
}

// ---- Scan orders and the skip count ----

TEST(ScanOrder, EveryOrderVisitsPositionsAsAsked) {
  PrivateCache cache;
  const BitmapRecord templ = cache.Load("uniform.bmp", MakeBmp24(2, 2, {7, 7, 7, 7}));
  Canvas screen(9, 8, 0x445566);
  // Rectangle (2,3)-(5,5): columns 2..4, rows 3..4.
  const std::vector<std::pair<std::int32_t, std::vector<Pos>>> orders = {
      {0, {{2, 3}, {3, 3}, {4, 3}, {2, 4}, {3, 4}, {4, 4}}},
      {kBottomUp, {{2, 4}, {3, 4}, {4, 4}, {2, 3}, {3, 3}, {4, 3}}},
      {kRightToLeft, {{4, 3}, {3, 3}, {2, 3}, {4, 4}, {3, 4}, {2, 4}}},
      {kBottomUp | kRightToLeft, {{4, 4}, {3, 4}, {2, 4}, {4, 3}, {3, 3}, {2, 3}}},
      {kColumns, {{2, 3}, {2, 4}, {3, 3}, {3, 4}, {4, 3}, {4, 4}}},
      {kColumns | kBottomUp, {{2, 4}, {2, 3}, {3, 4}, {3, 3}, {4, 4}, {4, 3}}},
      {kColumns | kRightToLeft, {{4, 3}, {4, 4}, {3, 3}, {3, 4}, {2, 3}, {2, 4}}},
      {kColumns | kBottomUp | kRightToLeft, {{4, 4}, {4, 3}, {3, 4}, {3, 3}, {2, 4}, {2, 3}}},
  };
  for (const auto& [bits, expected] : orders) {
    for (std::int32_t skip = 0; skip < 6; ++skip) {
      const std::int32_t result = Search(templ, screen, 2, 3, 5, 5, bits | skip);
      EXPECT_EQ(Decode(result, 9), expected[skip]) << "order " << (bits >> 16) << " skip " << skip;
      // Bits 19 to 31 are ignored.
      EXPECT_EQ(Search(templ, screen, 2, 3, 5, 5, static_cast<std::int32_t>(0xFFF00000u) | bits | skip),
                result);
    }
    EXPECT_EQ(Search(templ, screen, 2, 3, 5, 5, bits | 6), -1) << "order " << (bits >> 16);
    EXPECT_EQ(Search(templ, screen, 2, 3, 5, 5, bits | 0xFFFF), -1);
  }
}

TEST(ScanOrder, SkipCountCountsAcceptedPositionsOnly) {
  PrivateCache cache;
  const BitmapRecord templ = cache.Load("dot.bmp", MakeBmp24(3, 1, {1, 2, 1}));
  Canvas screen(12, 3, 0);
  screen.at(1, 0) = 5;  // (0,0) matches: 0 5 0
  screen.at(9, 1) = 5;  // (8,1) matches
  // Row 2 is all 0: no match there. Other row-0/1 windows are uniform or off.
  EXPECT_EQ(Decode(Search(templ, screen, 0, 0, 11, 2, 0), 12), (Pos{0, 0}));
  EXPECT_EQ(Decode(Search(templ, screen, 0, 0, 11, 2, 1), 12), (Pos{8, 1}));
  EXPECT_EQ(Search(templ, screen, 0, 0, 11, 2, 2), -1);
  EXPECT_EQ(Decode(Search(templ, screen, 0, 0, 11, 2, kBottomUp), 12), (Pos{8, 1}));
}

// ---- Shape mode ----

// A 10 x 1 template: a red pixel, then nine white ones (all after it in the
// map's order). The screen window: a shape pixel, then nine pixels of which
// `same` have the shape's colour.
std::int32_t OneThird(PrivateCache& cache, int same) {
  std::vector<std::uint32_t> row(10, kWhite);
  row[0] = kRed;
  const BitmapRecord templ = cache.Load("third.bmp", MakeBmp24(10, 1, row));
  Canvas screen(10, 1, 0x111111);
  screen.at(0, 0) = 0x222222;
  for (int i = 1; i <= 9; ++i) screen.at(i, 0) = i <= same ? 0x222222 : 0x300000 + i;
  return Search(templ, screen, 0, 0, 9, 0, 0, static_cast<std::int32_t>(kRed));
}

TEST(ShapeSearch, OneThirdOfTheUnmarkedPixelsMayShareTheShapeColor) {
  PrivateCache cache;
  EXPECT_EQ(OneThird(cache, 3), EncodePosition(0, 0, 10));
  EXPECT_EQ(OneThird(cache, 4), -1);
  EXPECT_EQ(OneThird(cache, 0), EncodePosition(0, 0, 10));
}

TEST(ShapeSearch, UnmarkedPixelsBeforeTheFirstMarkedOneAreNotCompared) {
  PrivateCache cache;
  // Top row marked, bottom row unmarked: the map meets the bottom row first.
  const BitmapRecord topMarked =
      cache.Load("top.bmp", MakeBmp24(3, 2, {kRed, kRed, kRed, kWhite, kWhite, kWhite}));
  const BitmapRecord bottomMarked =
      cache.Load("bottom.bmp", MakeBmp24(3, 2, {kWhite, kWhite, kWhite, kRed, kRed, kRed}));
  Canvas screen(5, 4, 0x5A5A5A);
  EXPECT_EQ(Search(topMarked, screen, 0, 0, 4, 3, 0, static_cast<std::int32_t>(kRed)),
            EncodePosition(0, 0, 5));
  EXPECT_EQ(Search(bottomMarked, screen, 0, 0, 4, 3, 0, static_cast<std::int32_t>(kRed)), -1);
}

TEST(ShapeSearch, FindsTheGlyphInAnyUniformColorButNotABrokenOne) {
  PrivateCache cache;
  // A plus sign in red on white, 3x3.
  Canvas glyph(3, 3, kWhite);
  glyph.Fill(1, 0, 1, 3, kRed);
  glyph.Fill(0, 1, 3, 1, kRed);
  const BitmapRecord templ = cache.Load("plus.bmp", MakeBmp24(3, 3, glyph.px));
  Canvas screen(16, 6, 0x202020);
  screen.Fill(4, 1, 1, 3, 0x00C000);
  screen.Fill(3, 2, 3, 1, 0x00C000);
  EXPECT_EQ(Search(templ, screen, 0, 0, 15, 5, 0, static_cast<std::int32_t>(kRed)), EncodePosition(3, 1, 16));
  screen.at(4, 1) = 0x00C001;  // one arm pixel off colour
  EXPECT_EQ(Search(templ, screen, 0, 0, 15, 5, 0, static_cast<std::int32_t>(kRed)), -1);
  // A colour that no template pixel has: the map is refused.
  EXPECT_EQ(Search(templ, screen, 0, 0, 15, 5, 0, 0x00FF00), -100);
}

TEST(ShapeSearch, EightBitTemplatesMarkTheFirstIndexHoldingTheColor) {
  PrivateCache cache;
  test::BmpLayout s;
  s.width = 3;
  s.height = 1;
  s.bitCount = 8;
  s.paletteEntries = 256;
  std::vector<std::uint32_t> palette(256, 0x0A0B0C);
  palette[3] = palette[7] = kRed;
  // Index 3 is the shape; index 7 (also red) is background.
  const BitmapRecord templ = cache.Load("pal.bmp", MakeBmp(s, palette, {3, 7, 3, 0}));
  Canvas screen(3, 2, 0);
  screen.at(0, 0) = screen.at(2, 0) = 0x777777;
  screen.at(1, 0) = 0x123456;
  screen.at(0, 1) = screen.at(1, 1) = screen.at(2, 1) = 0x777777;
  EXPECT_EQ(Search(templ, screen, 0, 0, 2, 1, 0, static_cast<std::int32_t>(kRed)), EncodePosition(0, 0, 3));
  EXPECT_EQ(Search(templ, screen, 0, 1, 2, 1, 0, static_cast<std::int32_t>(kRed)), -1);  // 1 of 1 unmarked
  EXPECT_EQ(Search(templ, screen, 0, 0, 2, 1, 0, 0x00FF00), -100);
}

// ---- Corner colour tolerance ----

TEST(ToleranceSearch, ComparesTheChosenCornerAfterTheSkipCount) {
  PrivateCache cache;
  // 2x2 template with four different corner colours.
  const BitmapRecord templ =
      cache.Load("corners.bmp", MakeBmp24(2, 2, {0x102030, 0x405060, 0x708090, 0xA0B0C0}));
  Canvas screen(8, 2, 0);
  // Three pattern matches at (0,0), (3,0), (6,0): each window 4 distinct values.
  const auto place = [&](int x, std::uint32_t tl, std::uint32_t tr, std::uint32_t bl, std::uint32_t br) {
    screen.at(x, 0) = tl;
    screen.at(x + 1, 0) = tr;
    screen.at(x, 1) = bl;
    screen.at(x + 1, 1) = br;
  };
  place(0, 0x132A30, 0x405060, 0x708090, 0xA0B0C0);  // top-left off by 0, 10, 3
  place(3, 0x102030, 0x405061, 0x708090, 0xA0B0C0);
  place(6, 0x102030, 0x405060, 0x708090, 0xA0B0C0);
  // Between the copies: windows (1,0),(2,0),(4,0),(5,0) hold 0-valued columns
  // that repeat across rows, so they never match the four-value pattern.
  const auto word = [](int corner, int channel, int sum) {
    return static_cast<std::int32_t>(0x10000000u | static_cast<std::uint32_t>(corner) << 24 |
                                     static_cast<std::uint32_t>(channel) << 16 |
                                     static_cast<std::uint32_t>(sum));
  };
  EXPECT_EQ(Search(templ, screen, 0, 0, 7, 1, 0, word(0, 10, 13)), EncodePosition(0, 0, 8));
  EXPECT_EQ(Search(templ, screen, 0, 0, 7, 1, 0, word(0, 10, 12)), EncodePosition(3, 0, 8));
  EXPECT_EQ(Search(templ, screen, 0, 0, 7, 1, 0, word(0, 9, 65535)), EncodePosition(3, 0, 8));
  EXPECT_EQ(Search(templ, screen, 0, 0, 7, 1, 0, word(0, 0, 0)), EncodePosition(3, 0, 8));
  // Corner 1 (top-right) is off by one at (3,0).
  EXPECT_EQ(Search(templ, screen, 0, 0, 7, 1, 0, word(1, 0, 0)), EncodePosition(0, 0, 8));
  EXPECT_EQ(Search(templ, screen, 3, 0, 7, 1, 0, word(1, 0, 0)), EncodePosition(6, 0, 8));
  EXPECT_EQ(Search(templ, screen, 3, 0, 7, 1, 0, word(1, 1, 1)), EncodePosition(3, 0, 8));
  // Skip 1 passes over (0,0) untested, even though its corner would fail.
  EXPECT_EQ(Search(templ, screen, 0, 0, 7, 1, 1, word(0, 0, 0)), EncodePosition(3, 0, 8));
  EXPECT_EQ(Search(templ, screen, 0, 0, 7, 1, 2, word(0, 0, 0)), EncodePosition(6, 0, 8));
  EXPECT_EQ(Search(templ, screen, 0, 0, 7, 1, 3, word(0, 0, 0)), -1);
  // Bottom corners (2, 3) match everywhere.
  EXPECT_EQ(Search(templ, screen, 0, 0, 7, 1, 0, word(2, 0, 0)), EncodePosition(0, 0, 8));
  EXPECT_EQ(Search(templ, screen, 0, 0, 7, 1, 0, word(3, 0, 0)), EncodePosition(0, 0, 8));
  screen.at(1, 1) = 0xA0B0C1;
  EXPECT_EQ(Search(templ, screen, 0, 0, 7, 1, 0, word(3, 0, 0)), EncodePosition(3, 0, 8));
  // Bits 26-27 ignored.
  EXPECT_EQ(Search(templ, screen, 0, 0, 7, 1, 0, word(3, 0, 0) | 0x0C000000), EncodePosition(3, 0, 8));
}

TEST(ToleranceSearch, OtherModesAreTheBarePatternTest) {
  PrivateCache cache;
  const BitmapRecord templ = cache.Load("pat.bmp", MakeBmp24(2, 1, {kRed, kWhite}));
  Canvas screen(2, 1, 0);
  screen.at(1, 0) = 0x010101;  // far from red/white: a colour test would fail
  const std::int32_t expected = EncodePosition(0, 0, 2);
  EXPECT_EQ(Search(templ, screen, 0, 0, 1, 0, 0, -1), expected);
  EXPECT_EQ(Search(templ, screen, 0, 0, 1, 0, 0, 0x30000000), expected);
  // Mode 2 compares the colours themselves: with no tolerance both pixels
  // miss; with 255 in every channel neither does.
  EXPECT_EQ(Search(templ, screen, 0, 0, 1, 0, 0, 536870912), -1);
  EXPECT_EQ(Search(templ, screen, 0, 0, 1, 0, 0, 0x200000FF), expected);
  EXPECT_EQ(Search(templ, screen, 0, 0, 1, 0, 0, -268435456), expected);
  EXPECT_EQ(Search(templ, screen, 0, 0, 1, 0, 0, INT_MIN), expected);
  EXPECT_EQ(Search(templ, screen, 0, 0, 1, 0, 0, 0x10000000), -1);  // mode 1, zero tolerance
  EXPECT_EQ(Search(templ, screen, 0, 0, 1, 0, 0, 0x00FF00), -100);  // mode 0: a shape colour
}

// ---- The rectangle ----

TEST(SearchRectangle, CornersInEitherOrderAndCutToTheScreen) {
  PrivateCache cache;
  const BitmapRecord templ = cache.Load("mark.bmp", MakeBmp24(2, 2, {1, 2, 2, 2}));
  Canvas screen(10, 8, 0);
  screen.at(7, 5) = 9;  // found at (7, 5)
  const std::int32_t at = EncodePosition(7, 5, 10);
  EXPECT_EQ(Search(templ, screen, 1, 1, 9, 7), at);
  EXPECT_EQ(Search(templ, screen, 9, 7, 1, 1), at);
  EXPECT_EQ(Search(templ, screen, 9, 1, 1, 7), at);
  EXPECT_EQ(Search(templ, screen, -50, -50, 500, 500), at);
  EXPECT_EQ(Search(templ, screen, INT_MAX, INT_MAX, INT_MIN, INT_MIN), at);
  EXPECT_EQ(Search(templ, screen, 7, 5, 8, 6), at);  // the template exactly fills it
  EXPECT_EQ(Search(templ, screen, 6, 5, 7, 6), -1);  // tested at (6,5) alone
  EXPECT_EQ(Search(templ, screen, 1, 1, 8, 5), -1);  // row 6 is outside
  // Wholly off the screen, or narrower or lower than the template: -10.
  EXPECT_EQ(Search(templ, screen, 10, 0, 20, 7), -10);
  EXPECT_EQ(Search(templ, screen, -5, 0, -1, 7), -10);
  EXPECT_EQ(Search(templ, screen, 0, 8, 9, INT_MAX), -10);
  EXPECT_EQ(Search(templ, screen, INT_MIN, INT_MIN, -1, -1), -10);
  EXPECT_EQ(Search(templ, screen, 3, 3, 3, 7), -10);
  EXPECT_EQ(Search(templ, screen, 0, 7, 9, 7), -10);
}

TEST(SearchRectangle, TemplatesTouchingTheRightAndBottomEdgesAreFound) {
  PrivateCache cache;
  const BitmapRecord templ = cache.Load("edge.bmp", MakeBmp24(3, 2, {1, 1, 1, 1, 1, 2}));
  Canvas screen(11, 7, 0);
  screen.at(10, 6) = 4;  // the template's bottom-right pixel on the screen's
  EXPECT_EQ(Decode(Search(templ, screen, 0, 0, 10, 6), 11), (Pos{8, 5}));
  EXPECT_EQ(Search(templ, screen, 0, 0, 10, 6, kColumns), EncodePosition(8, 5, 11));
  // A screen exactly the template's size.
  Canvas tight(3, 2, 0);
  tight.at(2, 1) = 4;
  EXPECT_EQ(Search(templ, tight, 0, 0, 2, 1), EncodePosition(0, 0, 3));
  EXPECT_EQ(Search(templ, tight, 0, 0, 2, 1), -4);
}

// ---- Failures and releases, through SearchImage ----

struct Counting {
  static int& displays() {
    static int n = 0;
    return n;
  }
};

TEST(SearchImage, MissingTemplateAnswersMinusTwoWithoutCapturing) {
  Canvas screen(4, 4, 0);
  platform::SetVirtualScreen(4, 4, screen.px.data());
  test::PlatformOverride counting;
  counting.ops.createDisplayDC = []() {
    ++Counting::displays();
    return platform::Native().createDisplayDC();
  };
  counting.Install();
  Counting::displays() = 0;
  EXPECT_EQ(SearchImage(test::ScratchPath("no-such-template.bmp").c_str(), 0, 0, 3, 3, 0, -1), -2);
  EXPECT_EQ(SearchImage(nullptr, 0, 0, 3, 3, 0, -1), -2);
  EXPECT_EQ(Counting::displays(), 0);
  // A real template does capture.
  const std::string path = test::WriteFile("present.bmp", MakeBmp24(1, 1, {0}));
  EXPECT_EQ(SearchImage(path.c_str(), 0, 0, 3, 3, 0, -1), EncodePosition(0, 0, 4));
  EXPECT_EQ(Counting::displays(), 1);
}

TEST(SearchImage, EveryOutcomeReleasesTheCaptureAndTheMap) {
  Canvas screen(30, 20, 0x336699);
  screen.Fill(21, 13, 3, 2, 0xFFFFFF);
  screen.at(22, 13) = 0;
  platform::SetVirtualScreen(30, 20, screen.px.data());
  const std::string path =
      test::WriteFile("release.bmp", MakeBmp24(3, 2, {kWhite, kBlack, kWhite, kWhite, kWhite, kWhite}));
  // Load once so the cache's own block is not counted below.
  ASSERT_EQ(SearchImage(path.c_str(), 0, 0, 29, 19, 0, -1), EncodePosition(21, 13, 30));
  const platform::LiveCounts before = platform::Live();
  const std::vector<std::pair<std::vector<std::int32_t>, std::int32_t>> calls = {
      {{0, 0, 29, 19, 0, -1}, EncodePosition(21, 13, 30)},
      {{0, 0, 29, 19, 1, -1}, -1},
      // The lone black pixel as a shape: a uniform area passes, 1 of 5 unmarked
      // pixels in its colour being within a third.
      {{0, 0, 29, 19, 0, static_cast<std::int32_t>(kBlack)}, EncodePosition(0, 0, 30)},
      {{0, 0, 1, 1, 0, -1}, -10},
      {{40, 40, 50, 50, 0, -1}, -10},
      {{0, 0, 29, 19, 0, 0x123456}, -100},
      {{0, 0, 29, 19, 0, 0x10000000}, EncodePosition(21, 13, 30)},
      {{0, 0, 29, 19, 0, 0x11000000}, EncodePosition(21, 13, 30)},
      {{0, 0, 29, 19, 1, 0x10FFFFFF}, -1},
      {{0, 0, 29, 19, 0, 0x10FFFFFF}, EncodePosition(21, 13, 30)},
  };
  for (int round = 0; round < 20; ++round) {
    for (const auto& [a, expected] : calls) {
      EXPECT_EQ(SearchImage(path.c_str(), a[0], a[1], a[2], a[3], a[4], a[5]), expected);
    }
  }
  const platform::LiveCounts after = platform::Live();
  EXPECT_EQ(after.blocks, before.blocks);
  EXPECT_EQ(after.bitmaps, before.bitmaps);
  EXPECT_EQ(after.deviceContexts, before.deviceContexts);
  EXPECT_EQ(after.openFiles, before.openFiles);
}

TEST(SearchImage, NoScreenAnswersMinusThree) {
  const std::string path = test::WriteFile("noscreen.bmp", MakeBmp24(1, 1, {0}));
  platform::SetVirtualScreen(0, 0, nullptr);
  const platform::LiveCounts before = platform::Live();
  EXPECT_EQ(SearchImage(path.c_str(), 0, 0, 100, 100, 0, -1), -3);
  // A display whose bitmap cannot be made: the capture fails, nothing leaks.
  Canvas screen(4, 4, 0);
  platform::SetVirtualScreen(4, 4, screen.px.data());
  ASSERT_EQ(SearchImage(path.c_str(), 0, 0, 3, 3, 0, -1), EncodePosition(0, 0, 4));
  const platform::LiveCounts loaded = platform::Live();
  test::PlatformOverride failing;
  failing.ops.createDIBSection = [](void*, const void*, void**) -> void* { return nullptr; };
  failing.Install();
  EXPECT_EQ(SearchImage(path.c_str(), 0, 0, 3, 3, 0, -1), -3);
  platform::Override(nullptr);
  EXPECT_EQ(platform::Live().blocks, loaded.blocks);
  EXPECT_EQ(platform::Live().bitmaps, before.bitmaps);
  EXPECT_EQ(platform::Live().deviceContexts, before.deviceContexts);
  // The same answer from the capture-level entry, whatever the rectangle.
  PrivateCache cache;
  const BitmapRecord templ = cache.Load("t.bmp", MakeBmp24(1, 1, {0}));
  std::uint8_t pixel[4] = {};
  EXPECT_EQ(SearchCapture(ScreenImage{nullptr, nullptr, 0, 0, 32}, templ, 0, 0, 5, 5, 0, -1), -3);
  EXPECT_EQ(SearchCapture(ScreenImage{nullptr, nullptr, 4, 4, 32}, templ, 0, 0, 5, 5, 0, -1), -3);
  EXPECT_EQ(SearchCapture(ScreenImage{nullptr, pixel, 0, 1, 32}, templ, 0, 0, 5, 5, 0, -1), -3);
  EXPECT_EQ(SearchCapture(ScreenImage{nullptr, pixel, 1, 1, 32}, templ, 0, 0, 5, 5, 0, -1),
            EncodePosition(0, 0, 1));
}

TEST(SearchImage, AMapThatCannotBeAllocatedAnswersMinusHundred) {
  Canvas screen(4, 4, 0);
  platform::SetVirtualScreen(4, 4, screen.px.data());
  const std::string path = test::WriteFile("nomap.bmp", MakeBmp24(2, 2, {0, 0, 0, 0}));
  ASSERT_EQ(SearchImage(path.c_str(), 0, 0, 3, 3, 0, -1), EncodePosition(0, 0, 4));
  const platform::LiveCounts before = platform::Live();
  // The capture's 44-byte description still gets its block; the 4-byte map not.
  test::PlatformOverride failing;
  failing.ops.allocZeroed = [](std::uint32_t bytes) -> void* {
    return bytes == 4 ? nullptr : platform::Native().allocZeroed(bytes);
  };
  failing.Install();
  EXPECT_EQ(SearchImage(path.c_str(), 0, 0, 3, 3, 0, -1), -100);
  platform::Override(nullptr);
  EXPECT_EQ(platform::Live().blocks, before.blocks);
  EXPECT_EQ(platform::Live().bitmaps, before.bitmaps);
}

TEST(Scan, RefusesSetupsThatWouldReadOffTheScreen) {
  PrivateCache cache;
  const BitmapRecord templ = cache.Load("r.bmp", MakeBmp24(1, 1, {0}));
  std::vector<std::uint8_t> bits(16, 0);
  const std::uint8_t map[1] = {0};
  const ScanSetup ok{bits.data(), 2, 2, map, 1, 1, false};
  const ScanOrder order{0, false, false, false};
  const ColorTest plain{-1, false, 0, 0, 0};
  // Both scans stand behind the one check.
  const bool before = ReferenceScanForced();
  for (const bool reference : {false, true}) {
    SetReferenceScan(reference);
    const auto scan = [&](const ScanSetup& s, const Rectangle& r) {
      const ScanHit hit = Scan(s, templ, r, order, plain);
      return hit.found ? EncodePosition(hit.x, hit.y, 2) : -1;
    };
    EXPECT_EQ(scan(ok, Rectangle{0, 0, 1, 1}), EncodePosition(0, 0, 2));
    EXPECT_EQ(scan(ok, Rectangle{0, 0, 2, 1}), -1);
    EXPECT_EQ(scan(ok, Rectangle{-1, 0, 1, 1}), -1);
    ScanSetup noMap = ok;
    noMap.map = nullptr;
    EXPECT_EQ(scan(noMap, Rectangle{0, 0, 1, 1}), -1);
    ScanSetup noScreen = ok;
    noScreen.screen = nullptr;
    EXPECT_EQ(scan(noScreen, Rectangle{0, 0, 1, 1}), -1);
  }
  SetReferenceScan(before);
}

}  // namespace
}  // namespace zadized
