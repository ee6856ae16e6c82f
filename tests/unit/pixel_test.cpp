#include "image/pixel.h"

#include <gtest/gtest.h>

#include <vector>

namespace zadized {
namespace {

TEST(RowStride, RoundsRowsUpToFourBytes) {
  EXPECT_EQ(RowStride(3, 3), 12);
  EXPECT_EQ(RowStride(2, 3), 8);
  EXPECT_EQ(RowStride(5, 1), 8);
  EXPECT_EQ(RowStride(4, 1), 4);
  EXPECT_EQ(RowStride(7, 4), 28);
  EXPECT_EQ(RowStride(127, 0), 0);  // 1- and 4-bit pictures
  // The remainder keeps the product's sign: -5 % 4 == -1 gives -5 + 4 + 1.
  EXPECT_EQ(RowStride(-5, 1), 0);
  EXPECT_EQ(RowStride(-4, 1), -4);
}

TEST(MaskPixel, ReadsOnlyTheBytesOfTheValue) {
  const std::uint8_t bytes[8] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
  EXPECT_EQ(MaskPixel(bytes, 1), 0x11u);
  EXPECT_EQ(MaskPixel(bytes, 2), 0x2211u);
  for (int bpp : {0, 3, 4, 7}) EXPECT_EQ(MaskPixel(bytes, bpp), 0x332211u) << bpp;
}

TEST(ReadPixel, AddressesBottomUpRowsFromTheTopLeft) {
  // 2 x 3 picture of 24-bit pixels, stride 8; stored row r holds bytes r*8..
  std::vector<std::uint8_t> px(24, 0);
  for (int row = 0; row < 3; ++row) {
    for (int x = 0; x < 2; ++x) {
      px[row * 8 + x * 3] = static_cast<std::uint8_t>(0x10 * row + x);
      px[row * 8 + x * 3 + 2] = 0xAB;
    }
  }
  // y = 0 is the last stored row, y = 2 the first.
  EXPECT_EQ(ReadPixel(px.data(), 0, 0, 8, 3, 3), 0xAB0000u | 0x20u);
  EXPECT_EQ(ReadPixel(px.data(), 1, 0, 8, 3, 3), 0xAB0000u | 0x21u);
  EXPECT_EQ(ReadPixel(px.data(), 0, 2, 8, 3, 3), 0xAB0000u | 0x00u);
  EXPECT_EQ(ReadPixel(px.data(), 1, 1, 8, 3, 3), 0xAB0000u | 0x11u);
}

TEST(ReadPixel, ColorValuesPerPixelSize) {
  const std::uint8_t p32[4] = {0x11, 0x22, 0x33, 0x44};
  EXPECT_EQ(ReadPixel(p32, 0, 0, 4, 1, 4), 0x00332211u);  // fourth byte dropped
  const std::uint8_t p16[4] = {0x34, 0x12, 0xFF, 0xFF};
  EXPECT_EQ(ReadPixel(p16, 0, 0, 4, 1, 2), 0x1234u);

  // 8 bits: the whole colour-table entry, its fourth byte included.
  std::vector<std::uint8_t> file(1024 + 4, 0);
  file[4 * 5 + 0] = 0x10;
  file[4 * 5 + 1] = 0x20;
  file[4 * 5 + 2] = 0x30;
  file[4 * 5 + 3] = 0x80;
  file[1024] = 5;
  EXPECT_EQ(ReadPixel(file.data() + 1024, 0, 0, 4, 1, 1), 0x80302010u);

  // Below 8 bits every position reads the first three bytes of the array.
  const std::uint8_t p1[4] = {0x01, 0x02, 0x03, 0x04};
  EXPECT_EQ(ReadPixel(p1, 50, 7, 0, 64, 0), 0x030201u);
}

}  // namespace
}  // namespace zadized
