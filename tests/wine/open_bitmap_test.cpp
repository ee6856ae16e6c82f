// OpenBitmap through the real export, called as a scripting host calls it.
#include "common/bmp_bytes.h"
#include "harness.h"
#include "image/records.h"

using zadized::BitmapRecord;
using zadized::test::BmpLayout;
using zadized::test::MakeBmp;
using zadized::test::MakeBmp24;

namespace {

constexpr std::uint32_t kMarker = 0xA5A5A5A5u;

// Calls ordinal 6 into a record pre-filled with markers, with more markers
// after it, and checks that the export hands back exactly the hidden address
// (in x86 also that it pops both arguments) and writes nothing past the
// record. The callers check every field, so a field left unwritten, or
// written at its place in the other architecture's layout, shows.
BitmapRecord Open(const std::string& name) {
  struct {
    BitmapRecord r;
    std::uint8_t after[16];
  } g;
  std::memset(&g, 0xA5, sizeof g);
  CHECK_EQ(harness::CallAddress(6, {harness::Addr(&g.r), harness::Addr(name.c_str())}), harness::Addr(&g.r));
  for (std::uint8_t b : g.after) CHECK_EQ(b, 0xA5);
  return g.r;
}

void ExpectRecord(const BitmapRecord& r, const std::vector<std::uint8_t>& bytes, std::int32_t width,
                  std::int32_t height, std::int32_t bitCount, std::uint32_t tl, std::uint32_t tr,
                  std::uint32_t bl, std::uint32_t br, std::uint32_t pixelOffset) {
  CHECK_EQ(r.fileSize, static_cast<std::int32_t>(bytes.size()));
  CHECK(r.fileData != nullptr && std::memcmp(r.fileData, bytes.data(), bytes.size()) == 0);
  CHECK_EQ(r.pixels - r.fileData, static_cast<std::int32_t>(pixelOffset));
  CHECK_EQ(r.width, width);
  CHECK_EQ(r.height, height);
  CHECK_EQ(r.bitCount, bitCount);
  CHECK_EQ(r.topLeftColor, tl);
  CHECK_EQ(r.topRightColor, tr);
  CHECK_EQ(r.bottomLeftColor, bl);
  CHECK_EQ(r.bottomRightColor, br);
}

TEST_CASE(ExportTableNamesOpenBitmapAtOrdinalSix) {
  CHECK(harness::Dll() != nullptr);
  CHECK(harness::ByName("OpenBitmap") != nullptr);
  CHECK(harness::ByName("OpenBitmap") == harness::ByOrdinal(6));
  // Decorated and underscored spellings are not exported.
  CHECK(harness::ByName("_OpenBitmap@4") == nullptr);
  CHECK(harness::ByName("OpenBitmap@8") == nullptr);
}

TEST_CASE(LoadsEachPixelSizeWithItsCorners) {
  // 24 bits, 3 x 2: padding bytes after each row are part of the stride.
  const auto b24 = MakeBmp24(3, 2, {0x010203, 0x040506, 0x070809, 0x0A0B0C, 0x0D0E0F, 0x101112});
  CHECK(harness::WriteBytes(harness::Scratch("c24.bmp"), b24));
  ExpectRecord(Open(harness::Scratch("c24.bmp")), b24, 3, 2, 24, 0x010203, 0x070809, 0x0A0B0C, 0x101112, 54);

  // 32 bits: the fourth byte is dropped.
  BmpLayout s;
  s.width = 2;
  s.height = 2;
  s.bitCount = 32;
  const auto b32 = MakeBmp(s, {}, {1, 2, 3, 0xF1, 4, 5, 6, 0xF2, 7, 8, 9, 0xF3, 10, 11, 12, 0xF4});
  CHECK(harness::WriteBytes(harness::Scratch("c32.bmp"), b32));
  ExpectRecord(Open(harness::Scratch("c32.bmp")), b32, 2, 2, 32, 0x090807, 0x0C0B0A, 0x030201, 0x060504, 54);

  // 16 bits: the raw word, 3 pixels padded to 8 bytes per row.
  s.width = 3;
  s.height = 1;
  s.bitCount = 16;
  const auto b16 = MakeBmp(s, {}, {0x34, 0x12, 0, 0, 0xCD, 0xAB, 0xEE, 0xEE});
  CHECK(harness::WriteBytes(harness::Scratch("c16.bmp"), b16));
  ExpectRecord(Open(harness::Scratch("c16.bmp")), b16, 3, 1, 16, 0x1234, 0xABCD, 0x1234, 0xABCD, 54);

  // 8 bits with a full table before the pixels: the entries, fourth byte kept.
  s.width = 2;
  s.height = 2;
  s.bitCount = 8;
  s.paletteEntries = 256;
  std::vector<std::uint32_t> palette(256);
  for (std::uint32_t i = 0; i < 256; ++i) palette[i] = (i << 24) | (i * 0x010203u & 0xFFFFFF);
  const auto b8 = MakeBmp(s, palette, {1, 2, 0, 0, 3, 4, 0, 0});
  CHECK(harness::WriteBytes(harness::Scratch("c8.bmp"), b8));
  ExpectRecord(Open(harness::Scratch("c8.bmp")), b8, 2, 2, 8, palette[3], palette[4], palette[1], palette[2],
               1078);
}

TEST_CASE(RepeatsComeFromTheCacheEvenAfterTheFileIsGone) {
  const std::string path = harness::Scratch("gone.bmp");
  CHECK(harness::WriteBytes(path, MakeBmp24(2, 1, {0x112233, 0x445566})));
  const BitmapRecord first = Open(path);
  CHECK(first.fileSize > 0);
  CHECK(DeleteFileA(path.c_str()));
  const BitmapRecord again = Open(path);
  CHECK(std::memcmp(&first, &again, sizeof first) == 0);
}

TEST_CASE(NamesDifferingInCaseLoadTwice) {
  const std::string lower = harness::Scratch("case.bmp");
  std::string upper = lower;
  upper.replace(upper.size() - 8, 8, "CASE.BMP");
  CHECK(harness::WriteBytes(lower, MakeBmp24(1, 1, {0x0000FF})));
  const BitmapRecord a = Open(lower);
  const BitmapRecord b = Open(upper);  // the same file to the file system
  CHECK(a.fileSize > 0 && b.fileSize == a.fileSize);
  CHECK(a.fileData != b.fileData);
  CHECK_EQ(b.topLeftColor, 0x0000FFu);
}

TEST_CASE(MissingOrMalformedFilesAreRefusedAndRetried) {
  const std::string path = harness::Scratch("later.bmp");
  BitmapRecord r = Open(path);
  CHECK_EQ(r.fileSize, -1);
  // The other fields of a refusal are zero, not left as the caller had them.
  CHECK(r.fileData == nullptr && r.pixels == nullptr);
  CHECK(r.width == 0 && r.height == 0 && r.bitCount == 0);
  CHECK(r.topLeftColor == 0 && r.topRightColor == 0 && r.bottomLeftColor == 0 && r.bottomRightColor == 0);
  CHECK_EQ(Open("").fileSize, -1);

  auto bad = MakeBmp24(4, 4, std::vector<std::uint32_t>(16, 1));
  zadized::test::Put32(bad, 22, static_cast<std::uint32_t>(-4));  // top-down
  CHECK(harness::WriteBytes(harness::Scratch("topdown.bmp"), bad));
  CHECK_EQ(Open(harness::Scratch("topdown.bmp")).fileSize, -1);

  CHECK(harness::WriteBytes(path, MakeBmp24(1, 1, {0xABCDEF})));
  r = Open(path);
  CHECK(r.fileSize > 0);
  CHECK_EQ(r.topLeftColor, 0xABCDEFu);
}

TEST_CASE(CompressedFilesAreRefusedPlainRowsAndBitFieldsLoad) {
  // An 8-bit RLE8 file whose bytes are long enough for 4 x 2 plain rows: read
  // as rows it would be a picture of its run codes.
  BmpLayout s;
  s.width = 4;
  s.height = 2;
  s.bitCount = 8;
  s.paletteEntries = 256;
  for (std::uint32_t compression : {0u, 1u, 2u, 3u, 4u, 5u}) {
    auto bytes = MakeBmp(s, std::vector<std::uint32_t>(256, 0x336699), {4, 1, 0, 0, 4, 2, 0, 1});
    zadized::test::Put32(bytes, 30, compression);
    const std::string path = harness::Scratch("compression-" + std::to_string(compression) + ".bmp");
    CHECK(harness::WriteBytes(path, bytes));
    const BitmapRecord r = Open(path);
    const std::int32_t search = harness::Search(path, 0, 0, 99, 99, 0, -1);
    std::printf("  compression %u: OpenBitmap fileSize %d, SearchImage %d\n", compression, r.fileSize,
                search);
    if (compression == 0 || compression == 3) {
      CHECK_EQ(r.fileSize, static_cast<std::int32_t>(bytes.size()));
      CHECK(search != -2);
    } else {
      CHECK_EQ(r.fileSize, -1);
      CHECK(r.fileData == nullptr && r.width == 0);
      CHECK_EQ(search, -2);
    }
  }
}

TEST_CASE(BmpSuiteFilesLoadOrAreRefused) {
  CHECK(!harness::DataDir().empty());
  const std::string dir = harness::WinPath(harness::DataDir() + "/bmpsuite");
  int loaded = 0, refused = 0, compressed = 0;
  for (const char* sub : {"g", "q", "b"}) {
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((dir + "\\" + sub + "\\*.bmp").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) continue;
    do {
      const std::string path = dir + "\\" + sub + "\\" + found.cFileName;
      const BitmapRecord r = Open(path);
      // Whatever else is right with them, RLE, JPEG and PNG files are refused.
      std::uint8_t header[34] = {};
      std::FILE* f = std::fopen(path.c_str(), "rb");
      const bool whole = f != nullptr && std::fread(header, 1, sizeof header, f) == sizeof header;
      if (f != nullptr) std::fclose(f);
      const auto le32 = [&](int at) {
        return static_cast<std::uint32_t>(header[at] | header[at + 1] << 8 | header[at + 2] << 16) |
               static_cast<std::uint32_t>(header[at + 3]) << 24;
      };
      const std::uint32_t compression = le32(30);
      if (whole && le32(14) >= 20 && compression >= 1 && compression <= 5 && compression != 3) {
        CHECK_EQ(r.fileSize, -1);
        ++compressed;
      }
      if (r.fileSize == -1) {
        ++refused;
        continue;
      }
      ++loaded;
      CHECK_EQ(r.fileSize, static_cast<std::int32_t>(found.nFileSizeLow));
      CHECK(r.width > 0 && r.height > 0);
      CHECK_EQ(r.pixels - r.fileData, static_cast<std::int32_t>(r.fileData[10] | r.fileData[11] << 8 |
                                                                r.fileData[12] << 16 | r.fileData[13] << 24));
    } while (FindNextFileA(h, &found));
    FindClose(h);
  }
  std::printf("  bmpsuite: %d loaded, %d refused, %d of them compressed\n", loaded, refused, compressed);
  CHECK(loaded + refused >= 90);
  CHECK(compressed >= 16);
  CHECK(loaded > 40);
}

}  // namespace

HARNESS_MAIN
