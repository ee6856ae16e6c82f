/* A host built the way a user of Microsoft's tools builds one: compiled by
 * clang for the MSVC target (i686- or x86_64-pc-windows-msvc), linked by
 * lld-link against the zip's zadized.lib. There is no C runtime and no mingw
 * library: the few system functions it needs come from import libraries that
 * run_hosts.sh makes with llvm-dlltool from the names listed there, the same
 * way zadized.lib is made. It runs in the folder where run_hosts.sh put
 * screen.bmp, the picture painted over the screen from its top-left corner
 * (painted_screen.sh). Prints what it saw for both architectures' logs. */
#include "zadized.h"

#define WINAPI __stdcall
#define IMPORT __declspec(dllimport)
typedef void* Handle;
IMPORT Handle WINAPI GetStdHandle(uint32_t which);
IMPORT int32_t WINAPI WriteFile(Handle file, const void* data, uint32_t size, uint32_t* written,
                                void* overlapped);
IMPORT Handle WINAPI CreateFileA(const char* name, uint32_t access, uint32_t share, void* security,
                                 uint32_t disposition, uint32_t flags, Handle model);
IMPORT int32_t WINAPI CloseHandle(Handle file);
IMPORT Handle WINAPI GetModuleHandleA(const char* name);
IMPORT void* WINAPI GetProcAddress(Handle module, const char* name);
IMPORT __declspec(noreturn) void WINAPI ExitProcess(uint32_t code);
IMPORT int32_t WINAPI GetSystemMetrics(int32_t index);
IMPORT int32_t WINAPI DeleteObject(void* object);

/* Made by run_hosts.sh from the zip's zadized.def: every export's name and
 * the address the linker bound to it, so each one links and loads by name. */
extern const char* const zadized_export_names[];
uintptr_t ZadizedExportAddress(int index);

static int passed, failed;

static void Print(const char* text) {
  uint32_t length = 0, written;
  while (text[length] != 0) ++length;
  WriteFile(GetStdHandle((uint32_t)-11), text, length, &written, 0);
}

static void PrintNumber(uint32_t value) {
  char digits[12];
  int at = 11;
  digits[at] = 0;
  do {
    digits[--at] = (char)('0' + value % 10);
    value /= 10;
  } while (value != 0);
  Print(digits + at);
}

static void PrintHex(uintptr_t value, int digits) {
  char text[2 + 2 * sizeof value + 1];
  int i;
  text[0] = '0';
  text[1] = 'x';
  for (i = 0; i < digits; ++i) text[2 + i] = "0123456789abcdef"[(value >> (4 * (digits - 1 - i))) & 15];
  text[2 + digits] = 0;
  Print(text);
}

static void PrintAddress(uintptr_t value) { PrintHex(value, 2 * sizeof value); }

static void Check(int ok, const char* what) {
  if (ok) {
    ++passed;
  } else {
    ++failed;
    Print("  FAILED ");
    Print(what);
    Print("\n");
  }
}
#define CHECK(cond) Check((cond) != 0, #cond)

static uint32_t Get32(const uint8_t* at) {
  return (uint32_t)at[0] | (uint32_t)at[1] << 8 | (uint32_t)at[2] << 16 | (uint32_t)at[3] << 24;
}

static void Put32(uint8_t* at, uint32_t value) {
  at[0] = (uint8_t)value;
  at[1] = (uint8_t)(value >> 8);
  at[2] = (uint8_t)(value >> 16);
  at[3] = (uint8_t)(value >> 24);
}

/* 0x00RRGGBB of pixel (x, y), top row 0, of a 24-bit bottom-up record. */
static uint32_t Pixel(const ZadizedBitmapRecord* picture, int32_t x, int32_t y) {
  const int32_t stride = (picture->width * 3 + 3) & ~3;
  const uint8_t* p = picture->pixels + (picture->height - 1 - y) * stride + x * 3;
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16;
}

/* The template: a 12 x 9 piece of the picture at (97, 53). */
enum { kLeft = 97, kTop = 53, kWidth = 12, kHeight = 9, kStride = 36, kSize = 54 + kHeight * kStride };
static uint8_t piece[kSize];

static int WritePiece(const ZadizedBitmapRecord* picture) {
  Handle file;
  uint32_t written = 0;
  int32_t x, y;
  piece[0] = 'B';
  piece[1] = 'M';
  Put32(piece + 2, kSize);
  Put32(piece + 10, 54);
  Put32(piece + 14, 40);
  Put32(piece + 18, kWidth);
  Put32(piece + 22, kHeight);
  piece[26] = 1;
  piece[28] = 24;
  for (y = 0; y < kHeight; ++y) {
    for (x = 0; x < kWidth; ++x) {
      const uint32_t colour = Pixel(picture, kLeft + x, kTop + y);
      uint8_t* p = piece + 54 + (kHeight - 1 - y) * kStride + x * 3;
      p[0] = (uint8_t)colour;
      p[1] = (uint8_t)(colour >> 8);
      p[2] = (uint8_t)(colour >> 16);
    }
  }
  file = CreateFileA("piece.bmp", 0x40000000 /* write */, 0, 0, 2 /* create always */, 0x80, 0);
  if (file == (Handle)(intptr_t)-1) return 0;
  WriteFile(file, piece, kSize, &written, 0);
  return CloseHandle(file) && written == kSize;
}

/* The record returned as C compilers return records, and the same export
 * called the way a host without records calls it: the record's address as
 * the first argument, and the same address answered. */
typedef ZadizedBitmapRecord*(WINAPI* OpenBitmapInto)(ZadizedBitmapRecord* record, const char* fileName);
typedef ZadizedScreenImage*(WINAPI* CaptureScreenInto)(ZadizedScreenImage* record);

static void TestRecords(const ZadizedBitmapRecord* picture) {
  ZadizedBitmapRecord into;
  const ZadizedBitmapRecord r = OpenBitmap("piece.bmp");
  const ZadizedBitmapRecord* answer = ((OpenBitmapInto)(uintptr_t)&OpenBitmap)(&into, "piece.bmp");
  const int32_t width = GetSystemMetrics(0), height = GetSystemMetrics(1);
  ZadizedScreenImage screen, again;
  const ZadizedScreenImage* screenAnswer;
  int32_t x, y, wrong = 0;

  CHECK(r.fileSize == kSize && r.width == kWidth && r.height == kHeight && r.bitCount == 24);
  CHECK(r.fileData != 0 && r.fileData[0] == 'B' && r.fileData[1] == 'M' && Get32(r.fileData + 2) == kSize);
  CHECK(r.pixels == r.fileData + 54);
  CHECK(r.topLeftColor == Pixel(picture, kLeft, kTop));
  CHECK(r.topRightColor == Pixel(picture, kLeft + kWidth - 1, kTop));
  CHECK(r.bottomLeftColor == Pixel(picture, kLeft, kTop + kHeight - 1));
  CHECK(r.bottomRightColor == Pixel(picture, kLeft + kWidth - 1, kTop + kHeight - 1));
  CHECK(answer == &into);
  CHECK(into.fileData == r.fileData && into.pixels == r.pixels && into.fileSize == r.fileSize &&
        into.width == r.width && into.height == r.height && into.bitCount == r.bitCount &&
        into.topLeftColor == r.topLeftColor && into.topRightColor == r.topRightColor &&
        into.bottomLeftColor == r.bottomLeftColor && into.bottomRightColor == r.bottomRightColor);
  Print("OpenBitmap: record at ");
  PrintAddress((uintptr_t)&into);
  Print(", answered ");
  PrintAddress((uintptr_t)answer);
  Print("; fileSize ");
  PrintNumber((uint32_t)r.fileSize);
  Print(", ");
  PrintNumber((uint32_t)r.width);
  Print(" x ");
  PrintNumber((uint32_t)r.height);
  Print(", ");
  PrintNumber((uint32_t)r.bitCount);
  Print(" bits, pixels = fileData + ");
  PrintNumber((uint32_t)(r.pixels - r.fileData));
  Print(", top-left colour ");
  PrintHex(r.topLeftColor, 8);
  Print("\n");

  screen = CaptureScreen();
  screenAnswer = ((CaptureScreenInto)(uintptr_t)&CaptureScreen)(&again);
  CHECK(screenAnswer == &again);
  CHECK(screen.bitmap != 0 && screen.pixels != 0 && screen.width == width && screen.height == height &&
        screen.bitCount == 32);
  CHECK(again.bitmap != 0 && again.bitmap != screen.bitmap && again.width == width && again.height == height);
  if (screen.pixels != 0 && screen.width == width) {
    for (y = 0; y < picture->height; ++y) {
      for (x = 0; x < picture->width; ++x) {
        wrong +=
            (Get32(screen.pixels + ((height - 1 - y) * width + x) * 4) & 0xFFFFFF) != Pixel(picture, x, y);
      }
    }
  }
  CHECK(wrong == 0);
  CHECK(DeleteObject(screen.bitmap) && DeleteObject(again.bitmap));
  Print("CaptureScreen: record at ");
  PrintAddress((uintptr_t)&again);
  Print(", answered ");
  PrintAddress((uintptr_t)screenAnswer);
  Print("; ");
  PrintNumber((uint32_t)screen.width);
  Print(" x ");
  PrintNumber((uint32_t)screen.height);
  Print(", ");
  PrintNumber((uint32_t)screen.bitCount);
  Print(" bits; pixels differing from the painted picture: ");
  PrintNumber((uint32_t)wrong);
  Print("\n");
}

static void TestSearch(void) {
  /* Exact colours: pattern mode would take any window of different colours. */
  const int32_t exact = zadized_near_colors(0, 0);
  const int32_t w = GetSystemMetrics(0);
  const int32_t at = (kTop - 1) * w + (kLeft - 1);
  const int32_t found = SearchImage("piece.bmp", 0, 2, 159, 119, 0, exact);
  CHECK(found == at);
  CHECK(SearchImage("piece.bmp", 159, 119, 0, 2, 0, exact) == at);
  /* The piece is in the rectangle once, and not at all right of its column. */
  CHECK(SearchImage("piece.bmp", 0, 2, 159, 119, ZADIZED_SKIP(1), exact) == ZADIZED_NOT_FOUND);
  CHECK(SearchImage("piece.bmp", kLeft + 1, 2, 159, 119, 0, exact) == ZADIZED_NOT_FOUND);
  CHECK(SearchImage("missing.bmp", 0, 2, 159, 119, 0, exact) == ZADIZED_NO_TEMPLATE);
  Print("SearchImage: the 12 x 9 piece from (97, 53) answered ");
  PrintNumber((uint32_t)found);
  Print(" = (53 - 1) * ");
  PrintNumber((uint32_t)w);
  Print(" + (97 - 1)\n");
}

static void TestMemory(void) {
  /* Wider than 32 bits in x64, so a cut address would show. */
  const ZadizedAddress wide = (ZadizedAddress)(sizeof(ZadizedAddress) == 8 ? 0x123456789ABCull : 0x89ABCDEFu);
  const ZadizedAddress block = CreateBuffer(64);
  CHECK(block != 0);
  if (block == 0) return;
  PtrPut(0x11223344u, block + 4, 4);
  CHECK(PtrGetValue(block + 4, 4) == 0x11223344u && PtrGetValue(block + 5, 2) == 0x2233);
  CHECK(((const uint8_t*)ZADIZED_PTR(block))[7] == 0x11);
  PtrPutArray(0xBEEFu, block, 5, 2);
  CHECK(PtrGetArray(block, 5, 2) == 0xBEEF && PtrGetValue(block + 10, 2) == 0xBEEF);
  CHECK(PtrGet(wide) == wide);
  CHECK(DeleteBuffer(block) == 0);
  Print("CreateBuffer: block at ");
  PrintAddress(block);
  Print("; PtrGet(");
  PrintAddress(wide);
  Print(") = ");
  PrintAddress(PtrGet(wide));
  Print("\n");
}

/* Each export's address as the linker bound it is a jump through its import
 * slot (FF 25: the slot's address in x86, its distance from the next
 * instruction in x64); the slot must hold what the DLL exports by that name. */
static void TestEveryExport(void) {
  Handle dll = GetModuleHandleA("zadized.dll");
  int i, bound = 0;
  for (i = 0; zadized_export_names[i] != 0; ++i) {
    const uint8_t* thunk = (const uint8_t*)ZADIZED_PTR(ZadizedExportAddress(i));
    void* const* slot;
    if (thunk[0] != 0xFF || thunk[1] != 0x25) {
      Check(0, zadized_export_names[i]);
      continue;
    }
    slot = sizeof(void*) == 8 ? (void* const*)(thunk + 6 + (int32_t)Get32(thunk + 2))
                              : (void* const*)(uintptr_t)Get32(thunk + 2);
    if (*slot == GetProcAddress(dll, zadized_export_names[i]) && *slot != 0) {
      ++bound;
    } else {
      Check(0, zadized_export_names[i]);
    }
  }
  CHECK(bound == i && i > 0);
  Print("exports bound by name through zadized.lib: ");
  PrintNumber((uint32_t)bound);
  Print(" of ");
  PrintNumber((uint32_t)i);
  Print("\n");
}

void HostMain(void) {
  const ZadizedBitmapRecord picture = OpenBitmap("screen.bmp");
  Print(sizeof(void*) == 8 ? "x64" : "x86");
  Print(" host, clang for the MSVC target, linked by lld-link\n");
  CHECK(picture.fileSize > 0 && picture.bitCount == 24 && picture.width == 160 && picture.height == 120);
  if (picture.fileSize > 0 && picture.bitCount == 24) {
    CHECK(WritePiece(&picture));
    TestRecords(&picture);
    TestSearch();
  }
  TestMemory();
  TestEveryExport();
  PrintNumber((uint32_t)passed);
  Print(" passed, ");
  PrintNumber((uint32_t)failed);
  Print(" failed\n");
  ExitProcess(failed == 0 ? 0 : 1);
}
