// The exported functions as a host sees them. In the 32-bit DLL they are
// stdcall; native builds compile the same definitions as plain functions so
// the export layer itself is unit-tested. Names and ordinals live in
// zadized.def alone.
#pragma once

#include <cstdint>

#include "image/records.h"

#if defined(_WIN32) && !defined(_WIN64)
#define ZADIZED_STDCALL __stdcall
#else
#define ZADIZED_STDCALL
#endif

extern "C" {

zadized::BitmapRecord ZADIZED_STDCALL OpenBitmap(const char* fileName);

}  // extern "C"
