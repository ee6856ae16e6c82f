// The two records that cross the export boundary by value. Their layouts are
// part of the binary interface of the 32-bit DLL: every field is 32 bits wide
// there, in exactly this order.
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

// Field by field, the layout hosts rely on.
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(BitmapRecord) == 40, "BitmapRecord is ten 32-bit fields");
static_assert(offsetof(BitmapRecord, fileData) == 0, "field order");
static_assert(offsetof(BitmapRecord, pixels) == 4, "field order");
static_assert(offsetof(BitmapRecord, fileSize) == 8, "field order");
static_assert(offsetof(BitmapRecord, width) == 12, "field order");
static_assert(offsetof(BitmapRecord, height) == 16, "field order");
static_assert(offsetof(BitmapRecord, bitCount) == 20, "field order");
static_assert(offsetof(BitmapRecord, topLeftColor) == 24, "field order");
static_assert(offsetof(BitmapRecord, topRightColor) == 28, "field order");
static_assert(offsetof(BitmapRecord, bottomLeftColor) == 32, "field order");
static_assert(offsetof(BitmapRecord, bottomRightColor) == 36, "field order");
static_assert(sizeof(ScreenImage) == 20, "ScreenImage is five 32-bit fields");
static_assert(offsetof(ScreenImage, bitmap) == 0, "field order");
static_assert(offsetof(ScreenImage, pixels) == 4, "field order");
static_assert(offsetof(ScreenImage, width) == 8, "field order");
static_assert(offsetof(ScreenImage, height) == 12, "field order");
static_assert(offsetof(ScreenImage, bitCount) == 16, "field order");
#endif

}  // namespace zadized
