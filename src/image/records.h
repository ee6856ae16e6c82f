// The two records that cross the export boundary by value. Their layouts are
// part of the binary interface of both DLLs: every field is 32 bits wide but
// the addresses, which are as wide as a pointer, in exactly this order.
#pragma once

#include <zadized.h>

#include <cstddef>
#include <cstdint>

namespace zadized {

// Blue in bits 0-7, green 8-15, red 16-23 for 24/32-bit pixels; the raw word
// for 16-bit pixels; the whole colour-table entry for 8-bit pixels.
using ColorValue = std::uint32_t;

// The records are the public header's own, so what hosts are told and what
// the library fills can never drift apart.
using BitmapRecord = ::ZadizedBitmapRecord;
using ScreenImage = ::ZadizedScreenImage;

// Field by field, the layouts hosts rely on: ten 32-bit fields in the x86
// DLL, and in the x64 DLL (and natively) two 64-bit addresses first.
#if UINTPTR_MAX == 0xFFFFFFFFu
constexpr std::size_t kAddressBytes = 4;
#else
constexpr std::size_t kAddressBytes = 8;
#endif
static_assert(sizeof(void*) == kAddressBytes, "addresses are as wide as pointers");
static_assert(offsetof(BitmapRecord, fileData) == 0, "field order");
static_assert(offsetof(BitmapRecord, pixels) == kAddressBytes, "field order");
static_assert(offsetof(BitmapRecord, fileSize) == 2 * kAddressBytes, "field order");
static_assert(offsetof(BitmapRecord, width) == 2 * kAddressBytes + 4, "field order");
static_assert(offsetof(BitmapRecord, height) == 2 * kAddressBytes + 8, "field order");
static_assert(offsetof(BitmapRecord, bitCount) == 2 * kAddressBytes + 12, "field order");
static_assert(offsetof(BitmapRecord, topLeftColor) == 2 * kAddressBytes + 16, "field order");
static_assert(offsetof(BitmapRecord, topRightColor) == 2 * kAddressBytes + 20, "field order");
static_assert(offsetof(BitmapRecord, bottomLeftColor) == 2 * kAddressBytes + 24, "field order");
static_assert(offsetof(BitmapRecord, bottomRightColor) == 2 * kAddressBytes + 28, "field order");
static_assert(sizeof(BitmapRecord) == 2 * kAddressBytes + 32, "no padding at the end");
static_assert(offsetof(ScreenImage, bitmap) == 0, "field order");
static_assert(offsetof(ScreenImage, pixels) == kAddressBytes, "field order");
static_assert(offsetof(ScreenImage, width) == 2 * kAddressBytes, "field order");
static_assert(offsetof(ScreenImage, height) == 2 * kAddressBytes + 4, "field order");
static_assert(offsetof(ScreenImage, bitCount) == 2 * kAddressBytes + 8, "field order");
static_assert(sizeof(ScreenImage) == (kAddressBytes == 4 ? 20 : 32), "padded to the address size");

}  // namespace zadized
