#include "image/bitmap_cache.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "bmp_builder.h"
#include "image/pixel.h"
#include "platform/platform.h"
#include "platform/platform_portable.h"

namespace zadized {
namespace {

using test::BmpLayout;
using test::MakeBmp;
using test::MakeBmp24;
using test::WriteFile;

// A private cache per test; blocks it allocated are returned at the end so
// the sanitizer's leak check sees only real leaks.
struct Cache {
  std::unique_ptr<BitmapCache> c = std::make_unique<BitmapCache>();
  ~Cache() { ReleaseBitmapCache(*c); }
  BitmapRecord Open(const std::string& name) { return OpenBitmap(*c, name.c_str()); }
};

TEST(OpenBitmap, DescribesA24BitFileWithItsCorners) {
  // 3 x 2: stride 12, so the corners sit at bytes 12, 18, 0 and 6 of the pixels.
  const auto bytes = MakeBmp24(3, 2,
                               {0x010203, 0x040506, 0x070809,  //
                                0x0A0B0C, 0x0D0E0F, 0x101112});
  Cache cache;
  const BitmapRecord r = cache.Open(WriteFile("corners24.bmp", bytes));
  ASSERT_EQ(r.fileSize, static_cast<std::int32_t>(bytes.size()));
  EXPECT_EQ(r.pixels - r.fileData, 54);
  EXPECT_EQ(r.width, 3);
  EXPECT_EQ(r.height, 2);
  EXPECT_EQ(r.bitCount, 24);
  EXPECT_EQ(r.topLeftColor, 0x010203u);
  EXPECT_EQ(r.topRightColor, 0x070809u);
  EXPECT_EQ(r.bottomLeftColor, 0x0A0B0Cu);
  EXPECT_EQ(r.bottomRightColor, 0x101112u);
  EXPECT_EQ(std::vector<std::uint8_t>(r.fileData, r.fileData + r.fileSize), bytes);
}

TEST(OpenBitmap, LoadsBytesVerbatimIncludingLineEndsAndEof) {
  BmpLayout s;
  s.width = 2;
  s.height = 1;
  s.bitCount = 16;
  const auto bytes = MakeBmp(s, {}, {0x0D, 0x0A, 0x1A, 0x0D});
  Cache cache;
  const BitmapRecord r = cache.Open(WriteFile("crlf.bmp", bytes));
  ASSERT_EQ(r.fileSize, static_cast<std::int32_t>(bytes.size()));
  EXPECT_EQ(r.topLeftColor, 0x0A0Du);
  EXPECT_EQ(r.topRightColor, 0x0D1Au);
}

TEST(OpenBitmap, EightBitStandardLayoutReadsTheTableBeforeThePixels) {
  BmpLayout s;
  s.width = 5;  // stride 8: three fill bytes per row
  s.height = 2;
  s.bitCount = 8;
  s.paletteEntries = 256;
  std::vector<std::uint32_t> palette(256);
  for (std::uint32_t i = 0; i < 256; ++i) palette[i] = 0x80000000u | (i * 0x010101u);
  const auto bytes = MakeBmp(s, palette, {1, 2, 3, 4, 5, 9, 9, 9, 6, 7, 8, 9, 10, 9, 9, 9});
  Cache cache;
  const BitmapRecord r = cache.Open(WriteFile("pal8.bmp", bytes));
  ASSERT_EQ(r.fileSize, static_cast<std::int32_t>(bytes.size()));
  // The entry is taken whole, its fourth byte included, and agrees with
  // ReadPixel's table-before-the-pixels rule.
  EXPECT_EQ(r.topLeftColor, palette[6]);
  EXPECT_EQ(r.topRightColor, palette[10]);
  EXPECT_EQ(r.bottomLeftColor, palette[1]);
  EXPECT_EQ(r.bottomRightColor, palette[5]);
  EXPECT_EQ(r.topLeftColor, ReadPixel(r.pixels, 0, 0, 8, 2, 1));
}

TEST(OpenBitmap, EightBitFullTableBeforeThePixelsWhateverTheHeaderSizeSays) {
  // The table at bytes 54 to 1077 and the pixels right after it, under every
  // header-size field a writer might leave there.
  BmpLayout s;
  s.bitCount = 8;
  s.paletteEntries = 256;
  std::vector<std::uint32_t> palette(256);
  for (std::uint32_t i = 0; i < 256; ++i) palette[i] = 0x010203u * i;
  for (const std::uint32_t headerSize : {0u, 12u, 16u, 40u, 64u, 124u, 0xFFFFFFFFu}) {
    auto bytes = MakeBmp(s, palette, {7, 0, 0, 0});
    test::Put32(bytes, 14, headerSize);
    Cache cache;
    const BitmapRecord r = cache.Open(WriteFile("hs.bmp", bytes));
    ASSERT_GT(r.fileSize, 0) << headerSize;
    EXPECT_EQ(r.topLeftColor, palette[7]) << headerSize;
    ColorValue table[256];
    ResolveColorTable(r, table);
    EXPECT_EQ(std::vector<ColorValue>(table, table + 256), palette) << headerSize;
  }
}

TEST(OpenBitmap, TheLastRowNeedsNoPadding) {
  // 1 x 1 at 24 bits: 3 pixel bytes and 1 fill byte (57 bytes without it);
  // 2 x 2: 6 and 2. Without the last row's fill the file loads; one byte
  // less and it does not.
  const struct {
    const char* name;
    std::vector<std::uint8_t> bytes;
    std::size_t fill;
    ColorValue bottomRight;
  } cases[] = {{"one.bmp", MakeBmp24(1, 1, {0x0A0B0C}), 1, 0x0A0B0C},
               {"two.bmp", MakeBmp24(2, 2, {1, 2, 3, 4}), 2, 4}};
  Cache cache;
  for (const auto& k : cases) {
    const std::vector<std::uint8_t> unpadded(k.bytes.begin(),
                                             k.bytes.end() - static_cast<std::ptrdiff_t>(k.fill));
    const BitmapRecord r = cache.Open(WriteFile(std::string("unpadded-") + k.name, unpadded));
    EXPECT_EQ(r.fileSize, static_cast<std::int32_t>(unpadded.size())) << k.name;
    EXPECT_EQ(r.bottomRightColor, k.bottomRight) << k.name;
    const std::vector<std::uint8_t> cut(unpadded.begin(), unpadded.end() - 1);
    EXPECT_EQ(cache.Open(WriteFile(std::string("cut-") + k.name, cut)).fileSize, -1) << k.name;
  }
}

TEST(OpenBitmap, EightBitShortOrDetachedTablesUseTheDeclaredColors) {
  std::vector<std::uint32_t> palette = {0x111111, 0x222222, 0x333333};
  struct Case {
    const char* name;
    std::uint32_t entries, used, gap;
    std::uint32_t expectIndex2;
  } cases[] = {
      {"short.bmp", 3, 3, 0, 0x333333},   // fewer entries: pixels start 12 bytes after the header
      {"gap.bmp", 3, 3, 1000, 0x333333},  // a gap before the pixels
      {"past.bmp", 2, 2, 0, 0},           // index past the declared count reads 0
  };
  for (const Case& k : cases) {
    BmpLayout s;
    s.width = 1;
    s.height = 1;
    s.bitCount = 8;
    s.paletteEntries = k.entries;
    s.colorsUsed = k.used;
    s.gap = k.gap;
    Cache cache;
    const BitmapRecord r = cache.Open(WriteFile(k.name, MakeBmp(s, palette, {2, 0, 0, 0})));
    ASSERT_GT(r.fileSize, 0) << k.name;
    EXPECT_EQ(r.topLeftColor, k.expectIndex2) << k.name;
    ColorValue table[256];
    ResolveColorTable(r, table);
    EXPECT_EQ(table[0], 0x111111u) << k.name;
    EXPECT_EQ(table[255], 0u) << k.name;
  }
}

TEST(OpenBitmap, RefusesFilesWhoseHeaderDoesNotFitTheBytes) {
  const auto good = MakeBmp24(4, 4, std::vector<std::uint32_t>(16, 0x123456));
  auto with = [&](std::size_t at, std::uint32_t v) {
    auto b = good;
    test::Put32(b, at, v);
    return b;
  };
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
  } cases[] = {
      {"tiny.bmp", std::vector<std::uint8_t>(good.begin(), good.begin() + 29)},
      {"truncated.bmp", std::vector<std::uint8_t>(good.begin(), good.end() - 1)},
      {"offset.bmp", with(10, static_cast<std::uint32_t>(good.size()) + 1)},
      {"offset-wrap.bmp", with(10, 0xFFFFFFF0u)},
      {"zero-width.bmp", with(18, 0)},
      {"negative-width.bmp", with(18, 0xFFFFFFFFu)},
      {"top-down.bmp", with(22, static_cast<std::uint32_t>(-4))},
      {"zero-height.bmp", with(22, 0)},
      {"huge.bmp", with(18, 0x40000000u)},
      {"overflow.bmp", with(22, 0x7FFFFFFFu)},
      {"empty.bmp", {}},
  };
  Cache cache;
  for (const Case& k : cases) {
    const BitmapRecord r = cache.Open(WriteFile(k.name, k.bytes));
    EXPECT_EQ(r.fileSize, -1) << k.name;
    EXPECT_EQ(r.fileData, nullptr) << k.name;
    EXPECT_EQ(r.width, 0) << k.name;
  }
  EXPECT_EQ(cache.c->count, 0);
}

TEST(OpenBitmap, RefusesCompressedPixelDataAndLoadsPlainRowsAndBitFields) {
  // Long enough for its rows either way, so only the compression field decides.
  const auto good = MakeBmp24(4, 4, std::vector<std::uint32_t>(16, 0x123456));
  Cache cache;
  for (std::uint32_t compression = 0; compression <= 6; ++compression) {
    auto b = good;
    test::Put32(b, 30, compression);
    const BitmapRecord r = cache.Open(WriteFile("compression-" + std::to_string(compression) + ".bmp", b));
    const bool refused = compression == 1 || compression == 2 || compression == 4 || compression == 5;
    EXPECT_EQ(r.fileSize, refused ? -1 : static_cast<std::int32_t>(b.size())) << compression;
    EXPECT_EQ(IsCompressedBmp(BmpCompression(b.data(), static_cast<std::uint32_t>(b.size()))), refused);
  }
  // A 12-byte OS/2 header has no compression field: byte 30 is a pixel.
  auto core = good;
  test::Put32(core, 14, 12);
  test::Put32(core, 30, 1);
  EXPECT_EQ(BmpCompression(core.data(), static_cast<std::uint32_t>(core.size())), kBmpPlainRows);
  EXPECT_EQ(cache.c->count, 3);
}

TEST(OpenBitmap, LowBitDepthsReadTheFirstThreeBytes) {
  BmpLayout s;
  s.width = 127;
  s.height = 64;
  s.bitCount = 1;
  Cache cache;
  const BitmapRecord r = cache.Open(WriteFile("one-bit.bmp", MakeBmp(s, {}, {0xAA, 0xBB, 0xCC})));
  ASSERT_GT(r.fileSize, 0);
  EXPECT_EQ(r.topLeftColor, 0xCCBBAAu);
  EXPECT_EQ(r.bottomRightColor, 0xCCBBAAu);
  const BitmapRecord shortOne = cache.Open(WriteFile("one-bit-short.bmp", MakeBmp(s, {}, {0xAA, 0xBB})));
  EXPECT_EQ(shortOne.fileSize, -1);
}

TEST(BitmapCache, ServesRepeatsFromMemoryAndKeysOnExactNames) {
  const auto bytes = MakeBmp24(2, 2, {1, 2, 3, 4});
  const std::string path = WriteFile("Cached.bmp", bytes);
  Cache cache;
  const BitmapRecord first = cache.Open(path);
  ASSERT_GT(first.fileSize, 0);
  std::remove(path.c_str());
  const BitmapRecord again = cache.Open(path);
  EXPECT_EQ(std::memcmp(&first, &again, sizeof first), 0);
  EXPECT_EQ(cache.c->count, 1);

  // A name spelt differently is another key, loaded into its own block.
  const std::string upper = WriteFile("CACHED.bmp", bytes);
  const BitmapRecord other = cache.Open(upper);
  ASSERT_GT(other.fileSize, 0);
  EXPECT_NE(other.fileData, first.fileData);
  EXPECT_EQ(cache.c->count, 2);
}

TEST(BitmapCache, FailedOpensAreForgottenAndRetried) {
  Cache cache;
  const std::string path = test::ScratchPath("later.bmp");
  std::remove(path.c_str());
  EXPECT_EQ(cache.Open(path).fileSize, -1);
  EXPECT_EQ(cache.Open("").fileSize, -1);
  EXPECT_EQ(cache.c->count, 0);
  WriteFile("later.bmp", MakeBmp24(1, 1, {7}));
  const std::string second = WriteFile("second.bmp", MakeBmp24(1, 1, {8}));
  EXPECT_EQ(cache.Open(second).topLeftColor, 8u);  // writes over the failed name
  EXPECT_EQ(cache.c->count, 1);
  EXPECT_EQ(cache.Open(path).topLeftColor, 7u);
  EXPECT_EQ(cache.c->count, 2);
  EXPECT_EQ(LookupBitmapName(*cache.c, second.c_str()), 0);
  EXPECT_EQ(LookupBitmapName(*cache.c, path.c_str()), 1);
}

TEST(BitmapCache, GrowsPastFiftyFilesAndLongNamesWithoutMovingBlocks) {
  Cache cache;
  std::vector<BitmapRecord> handedOut;
  std::vector<std::string> names;
  // 120 files with names of up to 300 characters: more records than the fixed
  // table holds and more name bytes than its 5000.
  for (int i = 0; i < 120; ++i) {
    std::string name =
        "t" + std::to_string(i) + "-" + std::string(static_cast<std::size_t>(i * 5 % 290), 'x');
    name = name.substr(0, 200) + ".bmp";
    names.push_back(WriteFile(name, MakeBmp24(1, 1, {static_cast<std::uint32_t>(i)})));
    handedOut.push_back(cache.Open(names.back()));
    ASSERT_GT(handedOut.back().fileSize, 0) << i;
  }
  EXPECT_EQ(cache.c->count, 120);
  EXPECT_NE(cache.c->records, nullptr);
  EXPECT_NE(cache.c->nameTable, nullptr);
  for (int i = 0; i < 120; ++i) {
    const BitmapRecord r = cache.Open(names[static_cast<std::size_t>(i)]);
    EXPECT_EQ(std::memcmp(&r, &handedOut[static_cast<std::size_t>(i)], sizeof r), 0) << i;
    EXPECT_EQ(r.topLeftColor, static_cast<ColorValue>(i));
  }
  EXPECT_EQ(cache.c->count, 120);
}

}  // namespace
}  // namespace zadized
