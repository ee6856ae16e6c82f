/* A C host built from the release zip alone (zadized.h and the import
 * library), the way a user builds one: it links zadized.dll by import, not by
 * LoadLibrary, so a wrong decoration, ordinal or record layout in the package
 * fails here. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "zadized.h"

static int passed = 0;
static int failed = 0;

#define CHECK(cond)                                              \
  do {                                                           \
    if (cond) {                                                  \
      ++passed;                                                  \
    } else {                                                     \
      ++failed;                                                  \
      printf("  FAILED %s:%d: %s\n", __FILE__, __LINE__, #cond); \
    }                                                            \
  } while (0)

#define CHECK_EQ(a, b)                                                                                    \
  do {                                                                                                    \
    const long long check_a_ = (long long)(a);                                                            \
    const long long check_b_ = (long long)(b);                                                            \
    if (check_a_ == check_b_) {                                                                           \
      ++passed;                                                                                           \
    } else {                                                                                              \
      ++failed;                                                                                           \
      printf("  FAILED %s:%d: %s == %s: %lld vs %lld\n", __FILE__, __LINE__, #a, #b, check_a_, check_b_); \
    }                                                                                                     \
  } while (0)

static void Put32(unsigned char* b, int at, unsigned long v) {
  b[at] = (unsigned char)v;
  b[at + 1] = (unsigned char)(v >> 8);
  b[at + 2] = (unsigned char)(v >> 16);
  b[at + 3] = (unsigned char)(v >> 24);
}

/* A 24-bit 3 x 2 file. Rows are stored bottom-up, 12 bytes each (9 of
 * pixels, 3 of padding). Top row: red, green, blue; bottom row: white,
 * black, grey. */
static int WriteTemplate(const char* path) {
  unsigned char file[54 + 24];
  static const unsigned char bottom[9] = {0xFF, 0xFF, 0xFF, 0, 0, 0, 0x80, 0x80, 0x80};
  static const unsigned char top[9] = {0, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0};
  FILE* f;
  size_t written;
  memset(file, 0, sizeof file);
  file[0] = 'B';
  file[1] = 'M';
  Put32(file, 2, sizeof file);
  Put32(file, 10, 54);
  Put32(file, 14, 40);
  Put32(file, 18, 3);
  Put32(file, 22, 2);
  file[26] = 1;
  file[28] = 24;
  memcpy(file + 54, bottom, 9);
  memcpy(file + 54 + 12, top, 9);
  f = fopen(path, "wb");
  if (f == NULL) return 0;
  written = fwrite(file, 1, sizeof file, f);
  return fclose(f) == 0 && written == sizeof file;
}

static void TestOpenBitmap(const char* path) {
  ZadizedBitmapRecord first, again, missing;
  CHECK(WriteTemplate(path));
  first = OpenBitmap(path);
  CHECK_EQ(first.fileSize, 54 + 24);
  CHECK_EQ(first.width, 3);
  CHECK_EQ(first.height, 2);
  CHECK_EQ(first.bitCount, 24);
  CHECK(first.pixels == first.fileData + 54);
  CHECK_EQ(first.topLeftColor, ZADIZED_RGB(255, 0, 0));
  CHECK_EQ(first.topRightColor, ZADIZED_RGB(0, 0, 255));
  CHECK_EQ(first.bottomLeftColor, ZADIZED_RGB(255, 255, 255));
  CHECK_EQ(first.bottomRightColor, ZADIZED_RGB(128, 128, 128));
  CHECK(first.fileData != NULL && first.fileData[0] == 'B' && first.fileData[1] == 'M');

  /* The cache answers the same block, and does not read the file again. */
  CHECK(DeleteFileA(path));
  again = OpenBitmap(path);
  CHECK_EQ(again.fileSize, first.fileSize);
  CHECK(again.fileData == first.fileData);
  CHECK_EQ(again.topRightColor, first.topRightColor);

  missing = OpenBitmap("Z:\\no\\such\\folder\\missing.bmp");
  CHECK_EQ(missing.fileSize, -1);
}

static void TestSearch(const char* path) {
  const int32_t width = GetSystemMetrics(SM_CXSCREEN);
  ZadizedScreenImage screen;

  CHECK_EQ(SearchImage("Z:\\no\\such\\folder\\missing.bmp", 0, 0, 100, 100, 0, ZADIZED_PATTERN),
           ZADIZED_NO_TEMPLATE);

  screen = CaptureScreen();
  CHECK_EQ(screen.width, width);
  CHECK_EQ(screen.height, GetSystemMetrics(SM_CYSCREEN));
  CHECK_EQ(screen.bitCount, 32);
  CHECK(screen.bitmap != NULL && screen.pixels != NULL);
  if (screen.bitmap != NULL) CHECK(DeleteObject((HGDIOBJ)screen.bitmap));

  /* The 3 x 2 template (cached above although its file is gone) cannot fit
   * into a 2 x 2 rectangle. */
  CHECK_EQ(SearchImage(path, 10, 10, 11, 11, 0, ZADIZED_PATTERN), ZADIZED_RECT_TOO_SMALL);
  /* None of its pixels is yellow, so a shape map cannot be made. */
  CHECK_EQ(SearchImage(path, 0, 0, 200, 200, 0, ZADIZED_SHAPE(ZADIZED_RGB(255, 255, 0))),
           ZADIZED_NO_COLOR_MAP);
}

static void TestOnePixelTemplate(void) {
  /* A 1 x 1 template matches any pixel in pattern mode, so the answer depends
   * only on the rectangle and the scan order, not on what the screen shows. */
  char path[MAX_PATH];
  unsigned char file[54 + 4];
  FILE* f;
  const int32_t width = GetSystemMetrics(SM_CXSCREEN);
  int32_t result, x = -1, y = -1;
  GetTempPathA(MAX_PATH, path);
  sprintf(path + strlen(path), "zadized-host-c-dot-%lu.bmp", (unsigned long)GetCurrentProcessId());
  memset(file, 0, sizeof file);
  file[0] = 'B';
  file[1] = 'M';
  Put32(file, 2, sizeof file);
  Put32(file, 10, 54);
  Put32(file, 14, 40);
  Put32(file, 18, 1);
  Put32(file, 22, 1);
  file[26] = 1;
  file[28] = 24;
  f = fopen(path, "wb");
  CHECK(f != NULL);
  if (f == NULL) return;
  CHECK_EQ(fwrite(file, 1, sizeof file, f), sizeof file);
  CHECK_EQ(fclose(f), 0);

  result = SearchImage(path, 5, 7, 9, 8, 0, ZADIZED_PATTERN);
  CHECK_EQ(result, 6 * width + 4);
  CHECK(zadized_decode_result(result, width, &x, &y));
  CHECK_EQ(x, 5);
  CHECK_EQ(y, 7);

  /* Bottom-up and right to left, passing over two: (9, 8), (8, 8), then (7, 8). */
  result = SearchImage(path, 9, 8, 5, 7, zadized_options(2, 1, 1, 0), ZADIZED_PATTERN);
  CHECK(zadized_decode_result(result, width, &x, &y));
  CHECK_EQ(x, 7);
  CHECK_EQ(y, 8);

  /* Column by column from the top left, passing over three: (5, 7), (5, 8),
   * (6, 7), then (6, 8). */
  result = SearchImage(path, 5, 7, 9, 8, zadized_options(3, 0, 0, 1), ZADIZED_PATTERN);
  CHECK_EQ(result, zadized_encode_position(6, 8, width));

  /* Ten positions in all: an eleventh cannot be had. */
  CHECK_EQ(SearchImage(path, 5, 7, 9, 8, ZADIZED_SKIP(10), ZADIZED_PATTERN), ZADIZED_NOT_FOUND);

  /* Any channel difference is allowed and so is any sum: the corner test
   * passes wherever the pattern does. */
  CHECK_EQ(SearchImage(path, 5, 7, 9, 8, 0, zadized_tolerance(ZADIZED_CORNER_TOP_LEFT, 255, 765)),
           zadized_encode_position(5, 7, width));

  /* Near colours: a channel limit of 255 forgives any colour, and so does a
   * share of 100 percent, whose budget is the template's one pixel. */
  CHECK_EQ(SearchImage(path, 5, 7, 9, 8, 0, zadized_near_colors(255, 0)),
           zadized_encode_position(5, 7, width));
  CHECK_EQ(SearchImage(path, 5, 7, 9, 8, ZADIZED_SKIP(1), zadized_near_colors(0, 100)),
           zadized_encode_position(6, 7, width));
  DeleteFileA(path);
}

static void TestMemory(void) {
  ZadizedAddress block = CreateBuffer(64);
  ZadizedAddress text;
  CHECK(block != 0);
  if (block == 0) return;
  CHECK_EQ(PtrGetValue(block, 4), 0);
  PtrPut(0x11223344u, block, 4);
  CHECK_EQ(PtrGetValue(block, 1), 0x44);
  CHECK_EQ(PtrGetValue(block, 2), 0x3344);
  CHECK_EQ(PtrGetValue(block, 4), 0x11223344u);
  CHECK_EQ(((const unsigned char*)ZADIZED_PTR(block))[3], 0x11);
  PtrPut(0xFFu, block + 8, 1);
  CHECK_EQ(PtrGetValue(block + 8, 1), 255);
  PtrPut(0xAAAAAAAAu, block + 8, 0);
  CHECK_EQ(PtrGetValue(block + 8, 4), 255);

  PtrPutArray(0xBEEFu, block + 16, 3, 2);
  CHECK_EQ(PtrGetArray(block + 16, 3, 2), 0xBEEF);
  CHECK_EQ(PtrGetValue(block + 22, 2), 0xBEEF);
  CHECK_EQ(PtrGetArray(block + 24, -1, 2), 0xBEEF);
  CHECK_EQ(PtrGetArray(block + 16, 3, 6), 0);

  PtrCopyData(ZADIZED_ADDR("hello"), block + 32, -1);
  CHECK(strcmp((const char*)ZADIZED_PTR(block + 32), "hello") == 0);
  PtrPutString(block + 32, block + 40, 3);
  CHECK(memcmp((const char*)ZADIZED_PTR(block + 40), "hel", 3) == 0);
  CHECK_EQ(PtrGetValue(block + 43, 1), 0);

  text = PtrGetString(block + 32, 1);
  CHECK(text != 0 && strcmp((const char*)ZADIZED_PTR(text), "hello") == 0);
  CHECK_EQ(PtrGetString(block + 32, 0), text);
  CHECK(strcmp((const char*)ZADIZED_PTR(text), "") == 0);

  CHECK_EQ(PtrGet(block), block);
  CHECK_EQ(PtrGet(0xDEADBEEFu), 0xDEADBEEFu);
  CHECK_EQ(DeleteBuffer(block), 0);
  CHECK_EQ(CreateBuffer(0), 0);
  CHECK_EQ(DeleteBuffer(0), 0);
}

static void TestKeysAndClock(void) {
  const uint32_t start = GetAccTime();
  uint32_t elapsed;
  const int32_t key = AsyncKeyState(VK_F24);
  CHECK(key == 0 || key == 1);
  Sleep(60);
  elapsed = GetAccTime() - start;
  CHECK(elapsed >= 40 && elapsed < 5000);
}

int main(void) {
  char path[MAX_PATH];
  GetTempPathA(MAX_PATH, path);
  sprintf(path + strlen(path), "zadized-host-c-%lu.bmp", (unsigned long)GetCurrentProcessId());
  TestOpenBitmap(path);
  TestSearch(path);
  TestOnePixelTemplate();
  TestMemory();
  TestKeysAndClock();
  printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
