// Every file of the BMP Suite (good, questionable and bad files made by other
// tools) either loads with the record its header fields imply or is refused.
// The expectations come from the suite's own index, not from the loader.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "image/bitmap_cache.h"
#include "platform/platform.h"

namespace zadized {
namespace {

struct Entry {
  std::string path;
  std::int64_t size, bpp, width, height, compression, offset, headerSize;
};

std::vector<Entry> ReadIndex(const std::string& dir) {
  std::vector<Entry> entries;
  std::ifstream in(dir + "/INDEX.tsv");
  std::string line;
  std::getline(in, line);  // column names
  while (std::getline(in, line)) {
    std::vector<std::string> f;
    std::stringstream ss(line);
    for (std::string cell; std::getline(ss, cell, '\t');) f.push_back(cell);
    if (f.size() < 9) continue;
    entries.push_back({f[0], std::stoll(f[1]), std::stoll(f[2]), std::stoll(f[3]), std::stoll(f[4]),
                       std::stoll(f[5]), std::stoll(f[6]), std::stoll(f[8])});
  }
  return entries;
}

std::vector<std::uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::uint32_t Le(const std::vector<std::uint8_t>& b, std::int64_t at, int n) {
  std::uint32_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = v << 8 | b[static_cast<std::size_t>(at + i)];
  return v;
}

TEST(BmpSuite, EveryFileLoadsAsItsHeaderSaysOrIsRefused) {
  const std::string dir = std::string(ZADIZED_TEST_DATA) + "/bmpsuite";
  const std::vector<Entry> entries = ReadIndex(dir);
  ASSERT_GE(entries.size(), 90u) << "the BMP Suite is missing from " << dir << " (INDEX.tsv and its files)";

  auto cache = std::make_unique<BitmapCache>();
  int loaded = 0, refused = 0;
  for (const Entry& e : entries) {
    SCOPED_TRACE(e.path);
    const std::vector<std::uint8_t> bytes = ReadAll(dir + "/" + e.path);
    ASSERT_EQ(static_cast<std::int64_t>(bytes.size()), e.size);
    const std::int64_t bpp = e.bpp / 8;
    const std::int64_t stride = (e.width * bpp + 3) / 4 * 4;
    const std::int64_t needed = bpp == 0 ? 3 : stride * e.height;
    const bool fits = e.width > 0 && e.height > 0 && e.offset <= e.size && needed <= e.size - e.offset;
    // RLE, JPEG and PNG pixel data are not rows of pixels. Headers below 20
    // bytes hold no compression field (the index reads pixel bytes there).
    const bool compressed = e.headerSize >= 20 && (e.compression == 1 || e.compression == 2 ||
                                                   e.compression == 4 || e.compression == 5);

    const BitmapRecord r = OpenBitmap(*cache, (dir + "/" + e.path).c_str());
    if (!fits || compressed) {
      EXPECT_EQ(r.fileSize, -1);
      ++refused;
      continue;
    }
    ++loaded;
    ASSERT_EQ(r.fileSize, e.size);
    EXPECT_EQ(std::vector<std::uint8_t>(r.fileData, r.fileData + r.fileSize), bytes);
    EXPECT_EQ(r.pixels - r.fileData, e.offset);
    EXPECT_EQ(r.width, e.width);
    EXPECT_EQ(r.height, e.height);
    EXPECT_EQ(r.bitCount, e.bpp);

    // Corner (x, y) counted from the top-left; rows are stored bottom-up.
    auto corner = [&](std::int64_t x, std::int64_t y) -> std::uint32_t {
      const std::int64_t at = e.offset + (e.height - 1 - y) * stride + x * bpp;
      if (bpp == 2) return Le(bytes, at, 2);
      if (bpp != 1) return Le(bytes, at, 3);
      const std::int64_t header = Le(bytes, 14, 4);
      const std::int64_t used = Le(bytes, 46, 4);
      const std::int64_t entries256 = (used == 0 || used > 256) ? 256 : used;
      const std::int64_t index = bytes[static_cast<std::size_t>(at)];
      const std::int64_t entry = (14 + header + 1024 == e.offset && entries256 == 256)
                                     ? e.offset - 1024 + 4 * index
                                     : 14 + header + 4 * index;
      return index < entries256 && entry + 4 <= e.size ? Le(bytes, entry, 4) : 0;
    };
    EXPECT_EQ(r.topLeftColor, corner(0, 0));
    EXPECT_EQ(r.topRightColor, corner(e.width - 1, 0));
    EXPECT_EQ(r.bottomLeftColor, corner(0, e.height - 1));
    EXPECT_EQ(r.bottomRightColor, corner(e.width - 1, e.height - 1));
  }
  EXPECT_EQ(loaded + refused, static_cast<int>(entries.size()));
  EXPECT_EQ(cache->count, loaded);
  std::printf("BMP Suite: %d files, %d loaded, %d refused\n", static_cast<int>(entries.size()), loaded,
              refused);

  ReleaseBitmapCache(*cache);
}

}  // namespace
}  // namespace zadized
