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

// The number of a record's pixels, or 0 when it has none or too many for a
// 32-bit block.
std::uint32_t PixelCount(const BitmapRecord& templ) {
  if (templ.pixels == nullptr || templ.width <= 0 || templ.height <= 0) return 0;
  const std::uint64_t count =
      static_cast<std::uint64_t>(templ.width) * static_cast<std::uint64_t>(templ.height);
  return count > 0xFFFFFFFFu ? 0 : static_cast<std::uint32_t>(count);
}

// A 32-bit pixel's value is its blue, green and red bytes; an 8-bit
// pixel's, its index.
std::int32_t ReadWidth(const BitmapRecord& templ) {
  const std::int32_t step = BytesPerPixel(templ.bitCount);
  return step == 4 ? 3 : step;
}

// Calls visit(k, value) for every pixel in the colour map's order (bottom row
// first, each row left to right), the value read ReadWidth bytes wide.
template <typename Visit>
void ForEachPixelValue(const BitmapRecord& templ, const Visit& visit) {
  const std::int32_t step = BytesPerPixel(templ.bitCount);
  const std::int32_t readWidth = ReadWidth(templ);
  const std::int64_t rowBytes = static_cast<std::int64_t>(templ.width) * step;
  const std::int64_t rowEnd = (4 - rowBytes % 4) % 4;
  const std::uint8_t* p = templ.pixels;
  std::uint32_t k = 0;
  for (std::int32_t row = 0; row < templ.height; ++row, p += rowEnd) {
    for (std::int32_t column = 0; column < templ.width; ++column, ++k, p += step)
      visit(k, MaskPixel(p, readWidth));
  }
}

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
  const std::uint32_t count = PixelCount(templ);
  if (count == 0) return;
  mask_ = loaded;
  if (!keyColor) {
    std::int64_t opaque = static_cast<std::int64_t>(count);
    if (loaded != nullptr) {
      for (std::uint32_t k = 0; k < count; ++k) opaque -= loaded[k] == 0 ? 1 : 0;
    }
    opaquePixels_ = opaque;
    return;
  }
  const platform::Ops& os = platform::Current();
  owned_ = static_cast<std::uint8_t*>(os.allocZeroed(count));
  if (owned_ == nullptr) return;
  mask_ = owned_;
  // 8-bit pixels are compared by the entry their index selects, whole, as
  // the corner colours were read.
  const bool indexed = ReadWidth(templ) == 1;
  ColorValue table[256];
  if (indexed) ResolveColorTable(templ, table);
  const ColorValue key = templ.topLeftColor;
  std::int64_t opaque = 0;
  ForEachPixelValue(templ, [&](std::uint32_t k, ColorValue v) {
    const bool keep = (loaded == nullptr || loaded[k] != 0) && (indexed ? table[v] : v) != key;
    owned_[k] = keep ? 1 : 0;
    opaque += keep ? 1 : 0;
  });
  opaquePixels_ = opaque;
}

TemplateOpacity::~TemplateOpacity() {
  if (owned_ != nullptr) platform::Current().freeBlock(owned_);
}

std::uint8_t* BuildColorMap(const BitmapRecord& templ, std::int32_t color, const std::uint8_t* opaque) {
  const std::uint32_t count = PixelCount(templ);
  if (count == 0) return nullptr;
  const platform::Ops& os = platform::Current();
  auto* map = static_cast<std::uint8_t*>(os.allocZeroed(count));
  if (map == nullptr) return nullptr;

  ColorValue target = static_cast<ColorValue>(color);
  const bool pattern = color == -1;
  if (ReadWidth(templ) == 1 && !pattern) {
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
  ForEachPixelValue(templ, [&](std::uint32_t k, ColorValue v) {
    // A transparent pixel gets no number and marks nothing.
    if (opaque != nullptr && opaque[k] == 0) return;
    if (pattern) {
      map[k] = numbers.Number(v);
    } else {
      const bool on = v == target;
      marked = marked || on;
      map[k] = on ? 1 : 0;
    }
  });

  if (!pattern && !marked) {
    os.freeBlock(map);
    return nullptr;
  }
  return map;
}

PreparedTemplate::PreparedTemplate(const ScreenImage& screen, const Template& t, std::int32_t options,
                                   const ColorTest& test)
    : opacity_(t.record, t.opacity, KeyColorIsTransparent(options)) {
  const BitmapRecord& templ = t.record;
  setup_ = ScanSetup{screen.pixels, screen.width, screen.height, nullptr, templ.width, templ.height, false};
  // A record without pixels has no colours to compare in near-colour mode:
  // the scan finds nothing.
  if (test.nearColors && PixelCount(templ) == 0) return;
  if (!opacity_.Ready() || opacity_.OpaquePixels() == 0) {
    refusal_ = kNoColorMap;
    return;
  }
  setup_.opaque = opacity_.Mask();
  if (test.nearColors) {
    // No map: the scan compares the template's own colours.
    colors_ = ReadTemplateColors(templ);
    setup_.colors = &colors_;
    setup_.tolerance = test.nearTolerance;
    setup_.allowedMisses = AllowedMisses(test.nearPercent, opacity_.OpaquePixels());
    return;
  }
  map_ = BuildColorMap(templ, test.mapColor, opacity_.Mask());
  if (map_ == nullptr) {
    refusal_ = kNoColorMap;
    return;
  }
  setup_.map = map_;
  setup_.shape = test.mapColor != -1;
}

PreparedTemplate::~PreparedTemplate() {
  if (map_ != nullptr) platform::Current().freeBlock(map_);
}

}  // namespace zadized
