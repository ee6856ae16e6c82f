// The exported functions as a host sees them. In the 32-bit DLL they are
// stdcall; native builds compile the same definitions as plain functions so
// the export layer itself is unit-tested. Names and ordinals live in
// zadized.def alone, which lists an export once its definition exists.
#pragma once

#include <cstdint>

#include "image/records.h"

#if defined(_WIN32) && !defined(_WIN64)
#define ZADIZED_STDCALL __stdcall
#else
#define ZADIZED_STDCALL
#endif

extern "C" {

// Key state and clock.
std::int32_t ZADIZED_STDCALL AsyncKeyState(std::int32_t virtualKey);
std::uint32_t ZADIZED_STDCALL GetAccTime();

// Image sources and the search.
zadized::ScreenImage ZADIZED_STDCALL CaptureScreen();
zadized::BitmapRecord ZADIZED_STDCALL OpenBitmap(const char* fileName);
std::int32_t ZADIZED_STDCALL SearchImage(const char* fileName, std::int32_t x1, std::int32_t y1,
                                         std::int32_t x2, std::int32_t y2, std::int32_t options,
                                         std::int32_t color);

// Memory blocks and raw access. Addresses are plain integers of pointer width.
std::uintptr_t ZADIZED_STDCALL CreateBuffer(std::uint32_t size);
std::uintptr_t ZADIZED_STDCALL DeleteBuffer(std::uintptr_t block);
std::uintptr_t ZADIZED_STDCALL PtrGet(std::uintptr_t value);
void ZADIZED_STDCALL PtrPut(std::uint32_t value, std::uintptr_t address, std::uint32_t size);
std::uint32_t ZADIZED_STDCALL PtrGetValue(std::uintptr_t address, std::uint32_t size);
std::uint32_t ZADIZED_STDCALL PtrGetArray(std::uintptr_t base, std::int32_t index, std::uint32_t size);
void ZADIZED_STDCALL PtrPutArray(std::uint32_t value, std::uintptr_t base, std::int32_t index,
                                 std::uint32_t size);
void ZADIZED_STDCALL PtrCopyData(std::uintptr_t source, std::uintptr_t destination, std::int32_t length);
void ZADIZED_STDCALL PtrPutString(std::uintptr_t source, std::uintptr_t destination, std::int32_t length);
std::uintptr_t ZADIZED_STDCALL PtrGetString(std::uintptr_t source, std::int32_t flag);

}  // extern "C"
