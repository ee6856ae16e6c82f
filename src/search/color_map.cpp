#include "search/color_map.h"

#include "image/bitmap_cache.h"
#include "image/pixel.h"
#include "platform/platform.h"

namespace zadized {

namespace {

// NumberByFirstAppearance with a hash in place of the linear search: every
// search numbers its template once, and one of many colours would otherwise
// cost up to 256 comparisons a pixel. The numbers are the same.
class FirstAppearanceNumbers {
 public:
  std::uint8_t Number(ColorValue v) {
    if (v == last_ && held_ > 0) return lastNumber_;
    const std::uint32_t key = v + 1;  // pixel values have at most 24 bits; 0 marks a free slot
    std::uint32_t i = (v * 2654435761u) >> 22;
    while (keys_[i] != 0 && keys_[i] != key) i = (i + 1) & (kSlots - 1);
    std::uint8_t number = 255;
    if (keys_[i] == key) {
      number = numbers_[i];
    } else if (held_ < 256) {
      // The 256th value is numbered 255 and kept, so its repeats find it;
      // values after it are 255 without being kept.
      number = static_cast<std::uint8_t>(held_ < 255 ? held_ : 255);
      keys_[i] = key;
      numbers_[i] = number;
      ++held_;
    }
    last_ = v;
    lastNumber_ = number;
    return number;
  }

 private:
  static constexpr std::uint32_t kSlots = 1024;
  std::uint32_t keys_[kSlots] = {};
  std::uint8_t numbers_[kSlots] = {};
  std::int32_t held_ = 0;
  ColorValue last_ = 0;
  std::uint8_t lastNumber_ = 0;
};

}  // namespace

TemplateColors ReadTemplateColors(const BitmapRecord& templ) {
  TemplateColors t{};
  t.pixels = templ.pixels;
  t.bytesPerPixel = BytesPerPixel(templ.bitCount);
  t.stride = RowStride(templ.width, t.bytesPerPixel);
  if (t.bytesPerPixel == 1) ResolveColorTable(templ, t.table);
  return t;
}

TemplateOpacity::TemplateOpacity(const BitmapRecord& templ, const std::uint8_t* loaded, bool keyColor) {
  if (templ.pixels == nullptr || templ.width <= 0 || templ.height <= 0) return;
  const std::uint64_t count =
      static_cast<std::uint64_t>(templ.width) * static_cast<std::uint64_t>(templ.height);
  if (count > 0xFFFFFFFFu) return;
  mask_ = loaded;
  if (!keyColor) {
    std::int64_t opaque = static_cast<std::int64_t>(count);
    if (loaded != nullptr) {
      for (std::uint64_t k = 0; k < count; ++k) opaque -= loaded[k] == 0 ? 1 : 0;
    }
    opaquePixels_ = opaque;
    return;
  }
  const platform::Ops& os = platform::Current();
  owned_ = static_cast<std::uint8_t*>(os.allocZeroed(static_cast<std::uint32_t>(count)));
  if (owned_ == nullptr) return;
  mask_ = owned_;
  const std::int32_t step = BytesPerPixel(templ.bitCount);
  const std::int32_t readWidth = step == 4 ? 3 : step;
  const std::int64_t rowBytes = static_cast<std::int64_t>(templ.width) * step;
  const std::int64_t rowEnd = (4 - rowBytes % 4) % 4;
  // 8-bit pixels are compared by the entry their index selects, whole, as
  // the corner colours were read.
  ColorValue table[256];
  if (readWidth == 1) ResolveColorTable(templ, table);
  const ColorValue key = templ.topLeftColor;
  const std::uint8_t* p = templ.pixels;
  std::uint64_t k = 0;
  std::int64_t opaque = 0;
  for (std::int32_t row = 0; row < templ.height; ++row, p += rowEnd) {
    for (std::int32_t column = 0; column < templ.width; ++column, ++k, p += step) {
      const ColorValue v = MaskPixel(p, readWidth);
      const bool keep = (loaded == nullptr || loaded[k] != 0) && (readWidth == 1 ? table[v] : v) != key;
      owned_[k] = keep ? 1 : 0;
      opaque += keep ? 1 : 0;
    }
  }
  opaquePixels_ = opaque;
}

TemplateOpacity::~TemplateOpacity() {
  if (owned_ != nullptr) platform::Current().freeBlock(owned_);
}

std::uint8_t* BuildColorMap(const BitmapRecord& templ, std::int32_t color, const std::uint8_t* opaque) {
  if (templ.pixels == nullptr || templ.width <= 0 || templ.height <= 0) return nullptr;
  const std::uint64_t count =
      static_cast<std::uint64_t>(templ.width) * static_cast<std::uint64_t>(templ.height);
  if (count > 0xFFFFFFFFu) return nullptr;

  const platform::Ops& os = platform::Current();
  auto* map = static_cast<std::uint8_t*>(os.allocZeroed(static_cast<std::uint32_t>(count)));
  if (map == nullptr) return nullptr;

  const std::int32_t step = BytesPerPixel(templ.bitCount);
  // A 32-bit pixel's value is its blue, green and red bytes.
  const std::int32_t readWidth = step == 4 ? 3 : step;
  const std::int64_t rowBytes = static_cast<std::int64_t>(templ.width) * step;
  const std::int64_t rowEnd = (4 - rowBytes % 4) % 4;

  ColorValue target = static_cast<ColorValue>(color);
  const bool pattern = color == -1;
  if (readWidth == 1 && !pattern) {
    // 8-bit pixels hold indices, so the colour becomes the first index whose
    // entry holds it; other indices with the same entry stay unmarked.
    ColorValue table[256];
    ResolveColorTable(templ, table);
    std::int32_t index = -1;
    for (std::int32_t i = 0; i < 256 && index < 0; ++i) {
      if (table[i] == target) index = i;
    }
    if (index < 0) {
      os.freeBlock(map);
      return nullptr;
    }
    target = static_cast<ColorValue>(index);
  }

  FirstAppearanceNumbers numbers;
  bool marked = false;
  const std::uint8_t* p = templ.pixels;
  std::uint8_t* out = map;
  for (std::int32_t row = 0; row < templ.height; ++row) {
    for (std::int32_t column = 0; column < templ.width; ++column, ++out, p += step) {
      // A transparent pixel gets no number and marks nothing.
      if (opaque != nullptr && opaque[out - map] == 0) continue;
      const ColorValue v = MaskPixel(p, readWidth);
      if (pattern) {
        *out = numbers.Number(v);
      } else {
        const bool on = v == target;
        marked = marked || on;
        *out = on ? 1 : 0;
      }
    }
    p += rowEnd;
  }

  if (!pattern && !marked) {
    os.freeBlock(map);
    return nullptr;
  }
  return map;
}

}  // namespace zadized
