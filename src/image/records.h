// The two records that cross the export boundary by value. Their layouts are
// part of the binary interface of the 32-bit DLL: every field is 32 bits wide
// there, in exactly this order.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zadized {

// Blue in bits 0-7, green 8-15, red 16-23 for 24/32-bit pixels; the raw word
// for 16-bit pixels; the whole colour-table entry for 8-bit pixels.
using ColorValue = std::uint32_t;

struct BitmapRecord {
  std::uint8_t* fileData;  // the whole file, owned by the bitmap cache
  std::uint8_t* pixels;    // fileData + pixel-data offset
  std::int32_t fileSize;   // -1: the file was not loaded
  std::int32_t width;
  std::int32_t height;
  std::int32_t bitCount;
  ColorValue topLeftColor;
  ColorValue topRightColor;
  ColorValue bottomLeftColor;
  ColorValue bottomRightColor;
};

struct ScreenImage {
  void* bitmap;          // HBITMAP; the caller deletes it
  std::uint8_t* pixels;  // owned by the bitmap
  std::int32_t width;
  std::int32_t height;
  std::int32_t bitCount;  // always 32
};

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
