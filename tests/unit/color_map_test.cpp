#include "search/color_map.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/platform.h"
#include "platform/platform_portable.h"
#include "search_support.h"

namespace zadized {
namespace {

using test::BmpLayout;
using test::MakeBmp;
using test::MakeBmp24;

// A record over file bytes held by the test, the way the loader fills one;
// the colour map reads no corner colours.
BitmapRecord RecordOver(std::vector<std::uint8_t>& file) {
  BitmapRecord r{};
  r.fileData = file.data();
  r.pixels = file.data() + (file[10] | file[11] << 8 | file[12] << 16);
  r.fileSize = static_cast<std::int32_t>(file.size());
  r.width = static_cast<std::int32_t>(file[18] | file[19] << 8 | file[20] << 16 | file[21] << 24);
  r.height = static_cast<std::int32_t>(file[22] | file[23] << 8 | file[24] << 16 | file[25] << 24);
  r.bitCount = file[28] | file[29] << 8;
  return r;
}

// The map as a vector (and the block freed), or an empty vector for null.
// Also checks that a refusal leaves no block behind.
std::vector<int> Map(const BitmapRecord& r, std::int32_t color) {
  const std::int64_t before = platform::Live().blocks;
  std::uint8_t* map = BuildColorMap(r, color);
  if (map == nullptr) {
    EXPECT_EQ(platform::Live().blocks, before) << "a refused map must be released";
    return {};
  }
  EXPECT_EQ(platform::Live().blocks, before + 1);
  std::vector<int> out(map, map + static_cast<std::size_t>(r.width) * r.height);
  platform::Current().freeBlock(map);
  return out;
}

std::vector<std::uint32_t> GrayPalette() {
  std::vector<std::uint32_t> palette(256);
  for (std::uint32_t i = 0; i < 256; ++i) palette[i] = i * 0x010101u;
  return palette;
}

TEST(PatternMap, NumbersValuesByFirstAppearanceInStoredOrder) {
  // Top row q, r; bottom row p, q. Stored order starts at the bottom: p q q r.
  const std::uint32_t p = 0x112233, q = 0x445566, r = 0x778899;
  auto file = MakeBmp24(2, 2, {q, r, p, q});
  EXPECT_EQ(Map(RecordOver(file), -1), (std::vector<int>{0, 1, 1, 2}));
}

TEST(PatternMap, ThirtyTwoBitPixelsDifferingOnlyInTheFourthByteAreOneValue) {
  BmpLayout s;
  s.width = 3;
  s.height = 1;
  s.bitCount = 32;
  auto file = MakeBmp(s, {}, {1, 2, 3, 0x00, 1, 2, 3, 0xFF, 9, 2, 3, 0x00});
  const BitmapRecord rec = RecordOver(file);
  EXPECT_EQ(Map(rec, -1), (std::vector<int>{0, 0, 1}));
  EXPECT_EQ(Map(rec, 0x030201), (std::vector<int>{1, 1, 0}));
}

TEST(PatternMap, TheTwoHundredFiftySixthValueAndEveryLaterNewOneAre255) {
  // 300 distinct values in stored order, then the 256th and a known one again.
  std::vector<std::uint32_t> values;
  for (std::uint32_t i = 0; i < 300; ++i) values.push_back(0x100000 + i * 7);
  values.push_back(values[255]);
  values.push_back(values[254]);
  values.push_back(values[299]);
  values.push_back(values[3]);
  // 304 = 16 x 19; MakeBmp24 takes top-down rows, so reverse the row order.
  const int w = 16, h = 19;
  std::vector<std::uint32_t> topDown(values.size());
  for (int k = 0; k < w * h; ++k) topDown[(h - 1 - k / w) * w + k % w] = values[k];
  auto file = MakeBmp24(w, h, topDown);
  const std::vector<int> map = Map(RecordOver(file), -1);
  ASSERT_EQ(map.size(), 304u);
  for (int k = 0; k < 255; ++k) EXPECT_EQ(map[k], k) << k;
  for (int k = 255; k < 300; ++k) EXPECT_EQ(map[k], 255) << k;
  EXPECT_EQ(map[300], 255);
  EXPECT_EQ(map[301], 254);
  EXPECT_EQ(map[302], 255);
  EXPECT_EQ(map[303], 3);
}

// The map numbers with a hash of its own; the window test numbers the screen
// with the plain rule. They must agree on every template, or no window could
// match: random templates from pools of 1 to 600 values, repeats throughout.
TEST(PatternMap, NumbersAsTheWindowTestDoes) {
  std::uint32_t seed = 99;
  const auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
  for (int round = 0; round < 60; ++round) {
    const int w = 1 + static_cast<int>(next() % 40), h = 1 + static_cast<int>(next() % 30);
    const std::uint32_t pool = 1 + next() % 600;
    std::vector<std::uint32_t> topDown(static_cast<std::size_t>(w) * h);
    for (auto& v : topDown) v = (next() % pool) * 0x9E3779u & 0xFFFFFF;
    auto file = MakeBmp24(w, h, topDown);
    const std::vector<int> map = Map(RecordOver(file), -1);
    ColorValue seen[256];
    std::int32_t held = 0;
    for (int k = 0; k < w * h; ++k) {
      const ColorValue v = topDown[static_cast<std::size_t>(h - 1 - k / w) * w + k % w];
      ASSERT_EQ(map[k], NumberByFirstAppearance(v, seen, held)) << "round " << round << ", pixel " << k;
    }
  }
}

TEST(PatternMap, EightBitTemplatesNumberIndicesNotColors) {
  BmpLayout s;
  s.width = 4;
  s.height = 1;
  s.bitCount = 8;
  s.paletteEntries = 256;
  std::vector<std::uint32_t> palette(256, 0x00ABCDEF);  // every entry the same colour
  auto file = MakeBmp(s, palette, {7, 3, 7, 200});
  EXPECT_EQ(Map(RecordOver(file), -1), (std::vector<int>{0, 1, 0, 2}));
}

TEST(ShapeMap, EightBitColorBecomesTheFirstIndexHoldingIt) {
  BmpLayout s;
  s.width = 5;  // 3 fill bytes per row, set to 3 so a misread would mark them
  s.height = 2;
  s.bitCount = 8;
  s.paletteEntries = 256;
  auto palette = GrayPalette();
  palette[3] = palette[7] = 0x00FF0000;
  auto file = MakeBmp(s, palette,
                      {3, 7, 3, 1, 7, 3, 3, 3,  //
                       0, 3, 0, 7, 0, 3, 3, 3});
  EXPECT_EQ(Map(RecordOver(file), 0xFF0000), (std::vector<int>{1, 0, 1, 0, 0, 0, 1, 0, 0, 0}));
  // The fourth byte takes part in the table lookup: 0x01FF0000 is in no entry.
  EXPECT_TRUE(Map(RecordOver(file), 0x01FF0000).empty());
  EXPECT_TRUE(Map(RecordOver(file), 0x123456).empty());
}

TEST(ShapeMap, EightBitShortTableUsesTheDeclaredEntries) {
  // Four declared entries right after the info header, pixels right after them.
  BmpLayout s;
  s.width = 3;
  s.height = 1;
  s.bitCount = 8;
  s.paletteEntries = 4;
  s.colorsUsed = 4;
  auto file = MakeBmp(s, {0x000000, 0x00FF00, 0x0000FF, 0x00FF00}, {2, 1, 3, 0});
  EXPECT_EQ(Map(RecordOver(file), 0x0000FF), (std::vector<int>{1, 0, 0}));
  EXPECT_EQ(Map(RecordOver(file), 0x00FF00), (std::vector<int>{0, 1, 0}));
  // Black is entry 0, which no pixel uses (the 0 after them is row fill).
  EXPECT_TRUE(Map(RecordOver(file), 0x000000).empty());
  EXPECT_TRUE(Map(RecordOver(file), 0xFFFFFF).empty());
}

TEST(ShapeMap, MarksExactlyTheColorAndRefusesImpossibleColors) {
  const std::uint32_t red = 0xFF0000;
  auto file = MakeBmp24(3, 2,
                        {red, 0xFF0001, red,  //
                         0x00FF00, red, 0xFE0000});
  const BitmapRecord rec = RecordOver(file);
  EXPECT_EQ(Map(rec, static_cast<std::int32_t>(red)), (std::vector<int>{0, 1, 0, 1, 0, 1}));
  EXPECT_TRUE(Map(rec, 0x0000FF).empty());
  EXPECT_TRUE(Map(rec, 0x01FF0000).empty());  // above 24 bits
  EXPECT_TRUE(Map(rec, -2).empty());

  BmpLayout s;
  s.width = 2;
  s.height = 1;
  s.bitCount = 16;
  auto f16 = MakeBmp(s, {}, {0x34, 0x12, 0xFF, 0xFF});
  EXPECT_EQ(Map(RecordOver(f16), 0x1234), (std::vector<int>{1, 0}));
  EXPECT_EQ(Map(RecordOver(f16), 0xFFFF), (std::vector<int>{0, 1}));
  EXPECT_TRUE(Map(RecordOver(f16), 0x1FFFF).empty());
}

TEST(ColorMap, OnePixelTemplates) {
  auto file = MakeBmp24(1, 1, {0x010203});
  EXPECT_EQ(Map(RecordOver(file), -1), (std::vector<int>{0}));
  EXPECT_EQ(Map(RecordOver(file), 0x010203), (std::vector<int>{1}));
  EXPECT_TRUE(Map(RecordOver(file), 0x010204).empty());
}

TEST(ColorMap, RowPaddingIsPassedOver) {
  // 24 bits, width 4: 12 bytes a row, no fill; width 1: 3 bytes and 1 fill.
  auto noFill = MakeBmp24(4, 2, {1, 2, 3, 4, 5, 6, 7, 8});
  EXPECT_EQ(Map(RecordOver(noFill), -1), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}));
  BmpLayout s;
  s.width = 1;
  s.height = 3;
  s.bitCount = 24;
  // Fill bytes hold a fourth distinct value; a reader that ignored the fill
  // would number four values, not two.
  auto fill = MakeBmp(s, {}, {1, 1, 1, 9, 1, 1, 1, 9, 2, 2, 2, 9});
  EXPECT_EQ(Map(RecordOver(fill), -1), (std::vector<int>{0, 0, 1}));
  // 16 bits, width 3: 6 bytes and 2 fill.
  s.width = 3;
  s.height = 2;
  s.bitCount = 16;
  auto f16 = MakeBmp(s, {}, {1, 0, 2, 0, 1, 0, 7, 7, 2, 0, 2, 0, 1, 0, 7, 7});
  EXPECT_EQ(Map(RecordOver(f16), -1), (std::vector<int>{0, 1, 0, 1, 1, 0}));
}

TEST(ColorMap, BelowEightBitsEveryPixelIsTheFirstThreeBytes) {
  BmpLayout s;
  s.width = 4;
  s.height = 2;
  s.bitCount = 4;
  auto file = MakeBmp(s, {}, {0x12, 0x34, 0x56, 0x00, 0x78, 0x9A, 0xBC, 0x00});
  EXPECT_EQ(Map(RecordOver(file), -1), std::vector<int>(8, 0));
  EXPECT_EQ(Map(RecordOver(file), 0x563412), std::vector<int>(8, 1));
  EXPECT_TRUE(Map(RecordOver(file), 0x12).empty());
}

TEST(ColorMap, RefusesRecordsItCannotWalk) {
  auto file = MakeBmp24(2, 2, {1, 2, 3, 4});
  BitmapRecord r = RecordOver(file);
  for (const auto& [w, h] : std::vector<std::pair<int, int>>{{0, 2}, {2, 0}, {-1, 2}, {2, -5}}) {
    BitmapRecord bad = r;
    bad.width = w;
    bad.height = h;
    EXPECT_EQ(BuildColorMap(bad, -1), nullptr) << w << "x" << h;
  }
  BitmapRecord huge = r;  // the byte count does not fit 32 bits
  huge.width = 0x10000;
  huge.height = 0x10000;
  huge.bitCount = 1;
  EXPECT_EQ(BuildColorMap(huge, -1), nullptr);
  BitmapRecord none = r;
  none.pixels = nullptr;
  EXPECT_EQ(BuildColorMap(none, -1), nullptr);
}

TEST(ColorMap, AMapThatCannotBeAllocatedIsNull) {
  auto file = MakeBmp24(2, 2, {1, 2, 3, 4});
  test::PlatformOverride failing;
  failing.ops.allocZeroed = [](std::uint32_t) -> void* { return nullptr; };
  failing.Install();
  EXPECT_EQ(BuildColorMap(RecordOver(file), -1), nullptr);
  EXPECT_EQ(BuildColorMap(RecordOver(file), 1), nullptr);
}

}  // namespace
}  // namespace zadized
