#include "boundary/exports.h"
#include "image/bitmap_cache.h"
#include "image/capture.h"
#include "search/search.h"

extern "C" {

zadized::BitmapRecord ZADIZED_STDCALL OpenBitmap(const char* fileName) {
  return zadized::OpenBitmap(fileName);
}

zadized::ScreenImage ZADIZED_STDCALL CaptureScreen() { return zadized::CaptureScreen(); }

std::int32_t ZADIZED_STDCALL SearchImage(const char* fileName, std::int32_t x1, std::int32_t y1,
                                         std::int32_t x2, std::int32_t y2, std::int32_t options,
                                         std::int32_t color) {
  return zadized::SearchImage(fileName, x1, y1, x2, y2, options, color);
}

}  // extern "C"
