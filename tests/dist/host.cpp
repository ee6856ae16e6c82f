// A C++ host built from the release zip alone. Besides what the C host does,
// it checks that the header works under C++ (extern "C", the records in
// std containers) and reads a 32-bit file and raw memory through the
// records' pointers.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "zadized.h"

namespace {

int passed = 0;
int failed = 0;

void Check(bool ok, const char* what, int line) {
  if (ok) {
    ++passed;
  } else {
    ++failed;
    std::printf("  FAILED host.cpp:%d: %s\n", line, what);
  }
}
#define CHECK(cond) Check((cond), #cond, __LINE__)
#define CHECK_EQ(a, b)                                                                                    \
  do {                                                                                                    \
    const long long check_a_ = static_cast<long long>(a);                                                 \
    const long long check_b_ = static_cast<long long>(b);                                                 \
    Check(check_a_ == check_b_,                                                                           \
          (std::string(#a " == " #b ": ") + std::to_string(check_a_) + " vs " + std::to_string(check_b_)) \
              .c_str(),                                                                                   \
          __LINE__);                                                                                      \
  } while (0)

std::string TempFile(const char* name) {
  char dir[MAX_PATH];
  GetTempPathA(MAX_PATH, dir);
  return std::string(dir) + "zadized-host-cpp-" + std::to_string(GetCurrentProcessId()) + "-" + name;
}

void Put32(std::vector<unsigned char>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

// A 32-bit file from top-down rows of 0x00RRGGBB values; the fourth byte of
// every pixel is 0x7F, which the library must ignore.
bool WriteBmp32(const std::string& path, int width, int height, const std::vector<std::uint32_t>& topDown) {
  std::vector<unsigned char> b(54 + 4 * width * height, 0);
  b[0] = 'B';
  b[1] = 'M';
  Put32(b, 2, static_cast<std::uint32_t>(b.size()));
  Put32(b, 10, 54);
  Put32(b, 14, 40);
  Put32(b, 18, static_cast<std::uint32_t>(width));
  Put32(b, 22, static_cast<std::uint32_t>(height));
  b[26] = 1;
  b[28] = 32;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::size_t at = 54 + 4 * (static_cast<std::size_t>(height - 1 - y) * width + x);
      Put32(b, at, topDown[static_cast<std::size_t>(y) * width + x] | 0x7F000000u);
    }
  }
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(b.data(), 1, b.size(), f) == b.size();
  return std::fclose(f) == 0 && ok;
}

void TestRecordsInContainers() {
  const std::string path = TempFile("four.bmp");
  // 2 x 2: top row red, green; bottom row blue, white.
  CHECK(WriteBmp32(path, 2, 2, {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF}));
  std::vector<ZadizedBitmapRecord> records;
  records.push_back(OpenBitmap(path.c_str()));
  records.push_back(OpenBitmap(path.c_str()));
  const ZadizedBitmapRecord& r = records[0];
  CHECK_EQ(r.fileSize, 54 + 16);
  CHECK_EQ(r.bitCount, 32);
  CHECK_EQ(r.topLeftColor, 0xFF0000u);
  CHECK_EQ(r.topRightColor, 0x00FF00u);
  CHECK_EQ(r.bottomLeftColor, 0x0000FFu);
  CHECK_EQ(r.bottomRightColor, 0xFFFFFFu);
  // The first stored row is the picture's bottom row: blue, then white.
  CHECK(r.pixels != nullptr && r.pixels[0] == 0xFF && r.pixels[1] == 0 && r.pixels[2] == 0 &&
        r.pixels[3] == 0x7F);
  CHECK(records[1].fileData == r.fileData);

  // The shape colour must exist in the template: red does, yellow does not.
  // Yellow is refused before any pixel is compared, whatever the screen shows.
  CHECK_EQ(SearchImage(path.c_str(), 0, 0, 300, 300, 0, ZADIZED_SHAPE(0xFFFF00)), ZADIZED_NO_COLOR_MAP);
  // A rectangle wholly off the screen is cut to nothing.
  CHECK_EQ(SearchImage(path.c_str(), -50, -50, -10, -10, 0, ZADIZED_PATTERN), ZADIZED_RECT_TOO_SMALL);
  CHECK_EQ(SearchImage("", 0, 0, 10, 10, 0, ZADIZED_PATTERN), ZADIZED_NO_TEMPLATE);
  CHECK_EQ(SearchImage(TempFile("never-written.bmp").c_str(), 0, 0, 10, 10, 0, -1), ZADIZED_NO_TEMPLATE);
  DeleteFileA(path.c_str());
}

void TestMemoryThroughIntegers() {
  // What a host without pointers does: keep addresses as integers.
  const ZadizedAddress block = CreateBuffer(300);
  CHECK(block != 0);
  if (block == 0) return;
  for (std::int32_t i = 0; i < 10; ++i) PtrPutArray(static_cast<std::uint32_t>(i * 1000), block, i, 4);
  std::uint32_t sum = 0;
  for (std::int32_t i = 0; i < 10; ++i) sum += PtrGetArray(block, i, 4);
  CHECK_EQ(sum, 45000u);
  CHECK_EQ(static_cast<const std::uint32_t*>(ZADIZED_PTR(block))[9], 9000u);

  // A long string is cut to 256 characters and a NUL.
  const std::string longText(300, 'x');
  PtrCopyData(ZADIZED_ADDR(longText.c_str()), block, -1);
  CHECK_EQ(std::strlen(static_cast<const char*>(ZADIZED_PTR(block))), 256u);
  const ZadizedAddress copy = PtrGetString(block, 1);
  CHECK_EQ(std::strlen(static_cast<const char*>(ZADIZED_PTR(copy))), 256u);

  // Overlapping copy upward repeats the first byte.
  PtrPut(0x04030201u, block, 4);
  PtrCopyData(block, block + 1, 4);
  CHECK_EQ(PtrGetValue(block, 4), 0x01010101u);
  CHECK_EQ(PtrGetValue(block + 4, 1), 0x01u);
  CHECK_EQ(DeleteBuffer(block), 0u);
}

void TestHelpers() {
  CHECK_EQ(zadized_options(2, 0, 0, 0), 2);
  CHECK_EQ(zadized_options(0, 1, 1, 1), 0x70000);
  CHECK_EQ(zadized_options(70000, 0, 0, 0), 65535);
  CHECK_EQ(zadized_tolerance(ZADIZED_CORNER_BOTTOM_RIGHT, 10, 12), 0x130A000C);
  CHECK_EQ(zadized_near_colors(24, 10), 0x20000A18);
  CHECK_EQ(zadized_near_colors(300, 250), ZADIZED_NEAR_COLORS | 100 << 8 | 255);
  std::int32_t x = 0, y = 0;
  CHECK(zadized_decode_result(-1025, 1024, &x, &y));
  CHECK_EQ(x, 0);
  CHECK_EQ(y, 0);
  CHECK(!zadized_decode_result(-1026, 1024, &x, &y));
}

void TestClock() {
  const std::uint32_t a = GetAccTime();
  Sleep(30);
  const std::uint32_t b = GetAccTime();
  CHECK(b - a >= 20u && b - a < 5000u);
  CHECK_EQ(AsyncKeyState(VK_F23) & ~1, 0);
}

}  // namespace

int main() {
  TestRecordsInContainers();
  TestMemoryThroughIntegers();
  TestHelpers();
  TestClock();
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
