// The image exports, defined against the public header so that a prototype
// that drifted from it would not compile.
#include <zadized.h>

#include "image/bitmap_cache.h"
#include "image/capture.h"
#include "search/held_screen.h"
#include "search/search.h"

extern "C" {

ZadizedBitmapRecord ZADIZED_API OpenBitmap(const char* fileName) { return zadized::OpenBitmap(fileName); }

ZadizedScreenImage ZADIZED_API CaptureScreen(void) { return zadized::CaptureScreen(); }

int32_t ZADIZED_API SearchImage(const char* fileName, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                                int32_t options, int32_t color) {
  return zadized::SearchImage(fileName, x1, y1, x2, y2, options, color);
}

int32_t ZADIZED_API SearchImageAll(const char* fileName, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                                   int32_t options, int32_t color, ZadizedAddress results,
                                   int32_t maxResults) {
  return zadized::SearchImageAll(fileName, x1, y1, x2, y2, options, color,
                                 reinterpret_cast<void*>(static_cast<uintptr_t>(results)), maxResults);
}

int32_t ZADIZED_API HoldScreen(const char* source) { return zadized::HoldScreen(source); }

int32_t ZADIZED_API ReleaseScreen(void) { return zadized::ReleaseScreen(); }

int32_t ZADIZED_API HeldScreenInfo(int32_t field) { return zadized::HeldScreenInfo(field); }

}  // extern "C"
