/* zadized.h: the interface of zadized.dll (version 1.3.0) for C and C++ hosts.
 *
 * zadized.dll comes for 32-bit (x86) and 64-bit (x64) programs; a process
 * loads the one of its own kind, and this header serves both. Link against
 * the import library of that folder (zadized.lib for Microsoft's linker and
 * lld-link, libzadized.dll.a for mingw-w64) and keep zadized.dll next to the
 * program or on the DLL search path.
 *
 * Addresses (ZadizedAddress) are as wide as a pointer: 32 bits in the x86
 * DLL, 64 bits in the x64 DLL. Every other argument and result is 32 bits
 * wide in both. Use ZADIZED_ADDR and ZADIZED_PTR to convert in C. In the x86
 * DLL all functions use the stdcall convention; the x64 DLL has the one
 * calling convention of its platform. Both export the plain names with the
 * same ordinals.
 *
 * Every function may be called from any number of threads at once and
 * answers what it answers alone; the bitmap cache is shared by all of them.
 *
 * The guide (guide.md) explains every function, the option word, the colour
 * word and the result of SearchImage with worked examples.
 */
#ifndef ZADIZED_H
#define ZADIZED_H

#include <stddef.h>
#include <stdint.h>

/* The declarations only mean something to a Windows compiler; the helpers
 * below are plain arithmetic and compile anywhere, so tools and tests on other
 * systems can share them. On x64 __stdcall is accepted and ignored. */
#if defined(_WIN32)
#define ZADIZED_API __stdcall
#else
#define ZADIZED_API
#endif

#if defined(__cplusplus) || (defined(__STDC_VERSION__) && __STDC_VERSION__ >= 199901L)
#define ZADIZED_INLINE static inline
#else
#define ZADIZED_INLINE static __inline
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* An address held as an integer, the way a host without pointers keeps it:
 * as wide as a pointer, so 32 bits for the x86 DLL and 64 bits for the x64
 * DLL (and for the library's portable core in its own tests). */
#if defined(_WIN32) && !defined(_WIN64)
typedef uint32_t ZadizedAddress;
#else
typedef uintptr_t ZadizedAddress;
#endif

/* ---- Records returned by value ----------------------------------------- */

/* What OpenBitmap answers: two addresses and eight 32-bit fields, 40 bytes in
 * the x86 DLL and 48 in the x64 DLL (fileSize at 16 there). fileSize is -1 when
 * the file could not be loaded; the other fields are then 0. The memory
 * behind fileData and pixels belongs to the library's cache for the life of
 * the process: never free it. Colours are 0x00RRGGBB for 24- and 32-bit
 * files, the raw 16-bit word for 16-bit files and the colour-table entry for
 * 8-bit files. */
typedef struct ZadizedBitmapRecord {
  const uint8_t* fileData; /* the whole file in memory */
  const uint8_t* pixels;   /* fileData + pixel-data offset; bottom-up rows */
  int32_t fileSize;        /* bytes in the file; -1: not loaded */
  int32_t width;
  int32_t height;
  int32_t bitCount; /* bits per pixel: 8, 16, 24 or 32 */
  uint32_t topLeftColor;
  uint32_t topRightColor;
  uint32_t bottomLeftColor;
  uint32_t bottomRightColor;
} ZadizedBitmapRecord;

/* What CaptureScreen answers: two addresses and three 32-bit fields, 20 bytes
 * in the x86 DLL and 32 in the x64 DLL (width at 16 there). The caller owns
 * the bitmap and must delete it with DeleteObject((HGDIOBJ)bitmap). pixels is
 * width * height 32-bit pixels (blue, green, red, unused byte), bottom-up:
 * screen row y starts at pixels + (height - 1 - y) * width * 4. A capture that
 * failed has bitmap and pixels 0 and width and height 0. */
typedef struct ZadizedScreenImage {
  void* bitmap; /* HBITMAP */
  const uint8_t* pixels;
  int32_t width;
  int32_t height;
  int32_t bitCount; /* always 32 */
} ZadizedScreenImage;

/* The layout is the binary interface; these fail the build if a compiler
 * setting (packing, pointer size) would change it. The 64-bit layout is the
 * platform's natural one, which the library's portable core shares. */
#if defined(__cplusplus) && __cplusplus >= 201103L
#define ZADIZED_STATIC_ASSERT(cond, name) static_assert(cond, #name)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define ZADIZED_STATIC_ASSERT(cond, name) _Static_assert(cond, #name)
#else
#define ZADIZED_STATIC_ASSERT(cond, name) typedef char zadized_assert_##name[(cond) ? 1 : -1]
#endif
#if UINTPTR_MAX == 0xFFFFFFFFu
ZADIZED_STATIC_ASSERT(sizeof(ZadizedBitmapRecord) == 40, bitmap_record_is_40_bytes);
ZADIZED_STATIC_ASSERT(offsetof(ZadizedBitmapRecord, pixels) == 4, bitmap_record_pixels_at_4);
ZADIZED_STATIC_ASSERT(offsetof(ZadizedBitmapRecord, fileSize) == 8, bitmap_record_file_size_at_8);
ZADIZED_STATIC_ASSERT(offsetof(ZadizedBitmapRecord, bitCount) == 20, bitmap_record_bit_count_at_20);
ZADIZED_STATIC_ASSERT(offsetof(ZadizedBitmapRecord, bottomRightColor) == 36, bitmap_record_last_at_36);
ZADIZED_STATIC_ASSERT(sizeof(ZadizedScreenImage) == 20, screen_image_is_20_bytes);
ZADIZED_STATIC_ASSERT(offsetof(ZadizedScreenImage, pixels) == 4, screen_image_pixels_at_4);
ZADIZED_STATIC_ASSERT(offsetof(ZadizedScreenImage, width) == 8, screen_image_width_at_8);
ZADIZED_STATIC_ASSERT(offsetof(ZadizedScreenImage, bitCount) == 16, screen_image_bit_count_at_16);
#elif UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
ZADIZED_STATIC_ASSERT(sizeof(ZadizedBitmapRecord) == 48, bitmap_record_is_48_bytes);
ZADIZED_STATIC_ASSERT(offsetof(ZadizedBitmapRecord, pixels) == 8, bitmap_record_pixels_at_8);
ZADIZED_STATIC_ASSERT(offsetof(ZadizedBitmapRecord, fileSize) == 16, bitmap_record_file_size_at_16);
ZADIZED_STATIC_ASSERT(offsetof(ZadizedBitmapRecord, bitCount) == 28, bitmap_record_bit_count_at_28);
ZADIZED_STATIC_ASSERT(offsetof(ZadizedBitmapRecord, bottomRightColor) == 44, bitmap_record_last_at_44);
ZADIZED_STATIC_ASSERT(sizeof(ZadizedScreenImage) == 32, screen_image_is_32_bytes);
ZADIZED_STATIC_ASSERT(offsetof(ZadizedScreenImage, pixels) == 8, screen_image_pixels_at_8);
ZADIZED_STATIC_ASSERT(offsetof(ZadizedScreenImage, width) == 16, screen_image_width_at_16);
ZADIZED_STATIC_ASSERT(offsetof(ZadizedScreenImage, bitCount) == 24, screen_image_bit_count_at_24);
#endif
#undef ZADIZED_STATIC_ASSERT

/* ---- The eighteen exports (ordinal in brackets) ------------------------ */

/* [1] 1 if the key with this virtual-key code is down now, else 0. */
int32_t ZADIZED_API AsyncKeyState(int32_t virtualKey);

/* [2] A new capture of the whole primary display. The record is returned
 * through a hidden first argument (the address of a 20-byte buffer, 32 bytes
 * in x64), as C compilers return records; in x86 the function removes 4
 * bytes of arguments. */
ZadizedScreenImage ZADIZED_API CaptureScreen(void);

/* [3] A zero-filled block of `size` bytes; 0 for size 0 or when memory is
 * short. Release it with DeleteBuffer. */
ZadizedAddress ZADIZED_API CreateBuffer(uint32_t size);

/* [4] Releases a block from CreateBuffer. 0 on success and for address 0;
 * the address itself when the system refuses. */
ZadizedAddress ZADIZED_API DeleteBuffer(ZadizedAddress block);

/* [5] Milliseconds since Windows started; wraps after about 49.7 days, so
 * take differences in unsigned arithmetic. */
uint32_t ZADIZED_API GetAccTime(void);

/* [6] Loads a BMP or PNG file into the process-wide cache, or answers the
 * cached record for a name it loaded before (the file is not read again). The
 * record is returned through a hidden first argument (the address of a
 * 40-byte buffer, 48 bytes in x64); in x86 the function removes 8 bytes of
 * arguments. */
ZadizedBitmapRecord ZADIZED_API OpenBitmap(const char* fileName);

/* [7] length >= 0: copies `length` bytes one at a time, lowest first.
 * length < 0: copies a NUL-terminated string, at most 256 characters, then
 * writes one NUL (up to 257 bytes at the destination). */
void ZADIZED_API PtrCopyData(ZadizedAddress source, ZadizedAddress destination, int32_t length);

/* [8] Answers its argument: a host that passes a variable by reference gets
 * the variable's address. */
ZadizedAddress ZADIZED_API PtrGet(ZadizedAddress value);

/* [9] The `size`-byte (1-4) little-endian value at base + index * size;
 * 0 for any other size. */
uint32_t ZADIZED_API PtrGetArray(ZadizedAddress base, int32_t index, uint32_t size);

/* [10] flag 0: an empty string. Otherwise a copy of the string at `source`,
 * cut to 256 characters. The answer is the address of the calling thread's
 * 257-byte buffer, overwritten by that thread's next call; other threads'
 * calls leave it alone. It is freed when the thread ends or the DLL is
 * unloaded. A host with one thread always gets the same buffer. */
ZadizedAddress ZADIZED_API PtrGetString(ZadizedAddress source, int32_t flag);

/* [11] The little-endian value of the first min(size, 4) bytes at `address`;
 * 0 for size 0. Never sign-extended. */
uint32_t ZADIZED_API PtrGetValue(ZadizedAddress address, uint32_t size);

/* [12] Writes the low `size` (1-4) bytes of `value` at `address`; any other
 * size writes nothing. The value comes first. */
void ZADIZED_API PtrPut(uint32_t value, ZadizedAddress address, uint32_t size);

/* [13] Writes the low `size` (1-4) bytes of `value` at base + index * size;
 * any other size writes nothing. */
void ZADIZED_API PtrPutArray(uint32_t value, ZadizedAddress base, int32_t index, uint32_t size);

/* [14] Exactly PtrCopyData. */
void ZADIZED_API PtrPutString(ZadizedAddress source, ZadizedAddress destination, int32_t length);

/* [15] Looks for the template in the BMP or PNG file `fileName` inside the
 * screen rectangle with the corners (x1, y1) and (x2, y2), both inclusive, in
 * either order. A PNG file's pixels whose alpha is below full, and with
 * ZADIZED_KEY_COLOR_TRANSPARENT the pixels of the top-left colour, are
 * transparent and take no part. `options` is an option word (zadized_options), `color` a colour word
 * (ZADIZED_PATTERN, ZADIZED_SHAPE, zadized_tolerance, zadized_near_colors).
 * The answer is an encoded position (zadized_decode_result) or one of the
 * ZADIZED_* codes below; read the caveat there about negative results. */
int32_t ZADIZED_API SearchImage(const char* fileName, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                                int32_t options, int32_t color);

/* [16] Every place SearchImage could answer, in one capture and one scan.
 * The first seven arguments are SearchImage's. The scan passes over as many
 * window matches as the skip count says, exactly as SearchImage does, then
 * writes every following accepted position, in scan order and encoded as
 * SearchImage encodes it, into the 32-bit slots at `results`, until
 * maxResults are written or the rectangle is done; it answers how many it
 * wrote (0 for none) and never writes past maxResults. With results 0 or
 * maxResults <= 0 it writes nothing and answers how many positions the
 * rectangle holds after the skip. -2, -3, -10 and -100 come as from
 * SearchImage, with nothing written. Each place is listed once, also in
 * tolerance mode, where a loop over the skip count can meet one twice.
 *
 *   int32_t found[200], x, y, i;
 *   int32_t n = SearchImageAll("C:\\img\\icon.bmp", 0, 2, 1919, 1079, 0, ZADIZED_PATTERN,
 *                              ZADIZED_ADDR(found), 200);
 *   for (i = 0; i < n; ++i)
 *     if (zadized_decode_result(found[i], 1920, &x, &y)) printf("icon at %d,%d\n", x, y);
 */
int32_t ZADIZED_API SearchImageAll(const char* fileName, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                                   int32_t options, int32_t color, ZadizedAddress results,
                                   int32_t maxResults);

/* [17] Holds one picture for the calling thread in place of the screen:
 * until ReleaseScreen, that thread's SearchImage and SearchImageAll search it
 * instead of capturing the display (W and H are the picture's, positions are
 * encoded with its width, the rectangle is cut to it), so several searches
 * see one frame and pay for one capture. `source` NULL or "": a capture of
 * the whole primary screen, now. Otherwise the name of a BMP or PNG file
 * (a saved screenshot), read with the rules of OpenBitmap but not cached; a
 * PNG file's alpha is ignored. "monitor:N" (any case): a capture of monitor
 * N, 1 the primary and 2 on the others in the order the system lists them.
 * "virtual": a capture of the whole virtual screen, the rectangle around
 * every monitor, black where no monitor is. HeldScreenInfo says where the
 * held picture lies on the desktop.
 * Answers the picture's width W, or -2 (the file cannot be loaded) or -3 (the
 * screen cannot be captured), and then the picture held before stays held.
 * Holding again replaces the picture. CaptureScreen and other threads are
 * not affected. The picture is dropped by ReleaseScreen, by the next
 * HoldScreen, when the thread ends and when the DLL is unloaded.
 *
 *   int32_t w = HoldScreen(NULL), found[8], i;
 *   for (i = 0; w > 0 && i < 8; ++i)
 *     found[i] = SearchImage(names[i], 0, 2, w - 1, 100000, 0, ZADIZED_PATTERN);
 *   ReleaseScreen();
 */
int32_t ZADIZED_API HoldScreen(const char* source);

/* [18] Drops the calling thread's held picture: 0, or -1 when it held none.
 * Searches on this thread capture the live screen again. */
int32_t ZADIZED_API ReleaseScreen(void);

/* [19] Where the calling thread's held picture lies on the desktop, whose
 * (0, 0) is the primary monitor's top-left corner (monitors to its left or
 * above it have negative coordinates): field 0 its left, 1 its top, 2 its
 * width, 3 its height. A held file or primary screen is at 0, 0; with
 * nothing held the fields describe the primary screen, which searches then
 * capture. Field 4 is the number of monitors now; any other field answers
 * -1. A position found in a held picture is encoded with the picture's width;
 * add left and top to it to get desktop coordinates:
 *
 *   int32_t w = HoldScreen("virtual"), r, x, y;
 *   r = SearchImage("C:\\img\\icon.bmp", 0, 2, w - 1, 100000, 0, ZADIZED_PATTERN);
 *   if (zadized_decode_result(r, w, &x, &y))
 *     click(x + HeldScreenInfo(0), y + HeldScreenInfo(1));
 */
int32_t ZADIZED_API HeldScreenInfo(int32_t field);

/* ---- Addresses ----------------------------------------------------------- */

#define ZADIZED_ADDR(pointer) ((ZadizedAddress)(uintptr_t)(pointer))
#define ZADIZED_PTR(address) ((void*)(uintptr_t)(address))

/* ---- Results of SearchImage ---------------------------------------------- */

#define ZADIZED_NOT_FOUND (-1)   /* the scan accepted no position */
#define ZADIZED_NO_TEMPLATE (-2) /* the template file could not be loaded */
#define ZADIZED_NO_SCREEN (-3)   /* the screen could not be captured */
#define ZADIZED_RECT_TOO_SMALL                  \
  (-10) /* the rectangle, cut to the screen, is \
           narrower or lower than the template */
#define ZADIZED_NO_COLOR_MAP                               \
  (-100) /* shape colour absent from the template's opaque \
            pixels, no opaque pixel at all, or no memory */

/* A position (x, y) is answered as (y - 1) * W + (x - 1), W being the screen
 * width in pixels (the width of a capture, GetSystemMetrics(SM_CXSCREEN) on a
 * single-monitor system). Every result >= 0 is a position.
 *
 * Ambiguity: positions in the top row (y = 0) give -W - 1 to -2, and (0, 1)
 * gives -1, so they collide with the codes above: (0, 1) reads as
 * ZADIZED_NOT_FOUND, (W - 1, 0) as -2, (W - 2, 0) as -3, (W - 9, 0) as -10
 * and (W - 99, 0) as -100. No call can tell them apart afterwards. A search
 * whose rectangle starts at row 2 or lower (y1 >= 2), or at row 1 and column
 * 1 or further (y1 >= 1 and x1 >= 1), never returns a negative position, so
 * there every negative result is a code. */
ZADIZED_INLINE int32_t zadized_encode_position(int32_t x, int32_t y, int32_t screenWidth) {
  return (int32_t)(uint32_t)(((int64_t)y - 1) * screenWidth + ((int64_t)x - 1));
}

/* Sets *x and *y from a result and answers 1, or answers 0 (leaving *x and *y
 * alone) when no position on a screen of this width encodes to it. A
 * negative result that decodes may still have been a code: see above. */
ZADIZED_INLINE int zadized_decode_result(int32_t result, int32_t screenWidth, int32_t* x, int32_t* y) {
  int64_t v;
  if (screenWidth <= 0) return 0;
  v = (int64_t)result + screenWidth + 1; /* y * W + x */
  if (v < 0) return 0;
  *x = (int32_t)(v % screenWidth);
  *y = (int32_t)(v / screenWidth);
  return 1;
}

/* ---- The option word ------------------------------------------------------ */

/* Bits 0-15: how many accepted positions to pass over (skip count). */
#define ZADIZED_SKIP(count) ((int32_t)((uint32_t)(count)&0xFFFFu))
#define ZADIZED_BOTTOM_UP 0x10000     /* rows from the bottom of the rectangle up */
#define ZADIZED_RIGHT_TO_LEFT 0x20000 /* columns from right to left */
#define ZADIZED_COLUMN_MAJOR 0x40000  /* column outer, row inner */
/* The template's pixels of its top-left colour are transparent: they take no
 * part in any mode, whatever the screen shows under them. Paint a sprite's
 * surroundings in a key colour (magenta, say) starting at the top-left
 * corner. Colours are read as OpenBitmap reads the corners. PNG templates
 * need no bit: their pixels whose alpha is below full are always
 * transparent. Bits 20-31 are ignored. */
#define ZADIZED_KEY_COLOR_TRANSPARENT 0x80000

/* skip is cut to 0-65535; each flag counts as set when non-zero. OR in
 * ZADIZED_KEY_COLOR_TRANSPARENT for a key colour. */
ZADIZED_INLINE int32_t zadized_options(int32_t skip, int bottomUp, int rightToLeft, int columnMajor) {
  uint32_t word = skip < 0 ? 0u : skip > 0xFFFF ? 0xFFFFu : (uint32_t)skip;
  if (bottomUp) word |= ZADIZED_BOTTOM_UP;
  if (rightToLeft) word |= ZADIZED_RIGHT_TO_LEFT;
  if (columnMajor) word |= ZADIZED_COLUMN_MAJOR;
  return (int32_t)word;
}

/* ---- The colour word ------------------------------------------------------ */

/* Pattern mode: the screen must show the template's groups of equal colour,
 * whatever the colours are. */
#define ZADIZED_PATTERN (-1)

/* A colour as the library compares 24- and 32-bit pixels: 0x00RRGGBB. */
#define ZADIZED_RGB(r, g, b) \
  ((int32_t)((((uint32_t)(r)&0xFFu) << 16) | (((uint32_t)(g)&0xFFu) << 8) | ((uint32_t)(b)&0xFFu)))

/* Shape mode: the template's pixels of this colour (0x00RRGGBB for 24- and
 * 32-bit templates, the raw word for 16-bit ones, the colour-table entry for
 * 8-bit ones) must show on screen in one uniform colour. */
#define ZADIZED_SHAPE(colorValue) ((int32_t)(colorValue))

/* Corners for the tolerance test. */
#define ZADIZED_CORNER_TOP_LEFT 0
#define ZADIZED_CORNER_TOP_RIGHT 1
#define ZADIZED_CORNER_BOTTOM_LEFT 2
#define ZADIZED_CORNER_BOTTOM_RIGHT 3

/* Pattern mode plus a colour test at one template corner: each of the blue,
 * green and red differences at most channelLimit (0-255) and their sum at
 * most sumLimit (0-65535). Limits beyond their range are cut to it, which
 * keeps their meaning (255 and 765 or more mean "no limit"). */
ZADIZED_INLINE int32_t zadized_tolerance(int corner, int32_t channelLimit, int32_t sumLimit) {
  const uint32_t channel = channelLimit < 0 ? 0u : channelLimit > 255 ? 255u : (uint32_t)channelLimit;
  const uint32_t sum = sumLimit < 0 ? 0u : sumLimit > 0xFFFF ? 0xFFFFu : (uint32_t)sumLimit;
  return (int32_t)(0x10000000u | ((uint32_t)corner & 3u) << 24 | channel << 16 | sum);
}

/* Near-colour mode: the screen may show the template's colours a little off.
 * Bits 0-7 are the channel limit, bits 8-15 the share in percent (values
 * over 100 count as 100), bits 16-27 are ignored. */
#define ZADIZED_NEAR_COLORS 0x20000000

/* A place matches when at most percent x (opaque template pixels) / 100
 * (rounded down) of the template's opaque pixels differ from the screen pixel
 * under them by more than channelLimit in blue, green or red. channelLimit is
 * cut to 0-255 and percent to 0-100; (0, 0) demands exactly the template's
 * colours. There is no colour map, so this mode answers -100 only for a
 * template with no opaque pixel. */
ZADIZED_INLINE int32_t zadized_near_colors(int32_t channelLimit, int32_t percent) {
  const uint32_t channel = channelLimit < 0 ? 0u : channelLimit > 255 ? 255u : (uint32_t)channelLimit;
  const uint32_t share = percent < 0 ? 0u : percent > 100 ? 100u : (uint32_t)percent;
  return (int32_t)((uint32_t)ZADIZED_NEAR_COLORS | share << 8 | channel);
}

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* ZADIZED_H */
