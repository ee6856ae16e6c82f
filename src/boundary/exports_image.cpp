#include "boundary/exports.h"

#include "image/bitmap_cache.h"

extern "C" {

zadized::BitmapRecord ZADIZED_STDCALL OpenBitmap(const char* fileName) { return zadized::OpenBitmap(fileName); }

}  // extern "C"
