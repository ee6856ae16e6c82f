// The template's colour map: one byte per template pixel in stored order
// (bottom row first, each row left to right), without row padding, numbered
// by the same rule the window test numbers the screen with.
#pragma once

#include <cstdint>

#include "image/bitmap_cache.h"
#include "image/records.h"
#include "search/rules.h"

namespace zadized {

// color -1: a pattern map, each byte the number of the pixel's value in order
// of first appearance (0-254 one value each, 255 the 256th value and every
// later new one). Any other color: a shape map, 1 where the pixel's value is
// the colour, else 0; for 8-bit templates the colour is first turned into the
// index of the first colour-table entry that holds it.
//
// With `opaque` (TemplateOpacity's mask) only the pixels that take part are
// numbered or marked; the bytes of the others are 0 and mean nothing.
//
// The map is a global-memory block that the caller frees. Null, with nothing
// left allocated, for a shape map with no marked pixel, an 8-bit template
// whose table lacks the colour, a map that cannot be allocated, and a record
// without pixels or with a width or height below 1.
std::uint8_t* BuildColorMap(const BitmapRecord& templ, std::int32_t color,
                            const std::uint8_t* opaque = nullptr);

// Which of a template's pixels take part in a search: those the loader found
// opaque (`loaded`, a PNG file's alpha; null for none transparent), less,
// with the key colour (option bit 19), every pixel whose colour is the
// template's top-left colour as the loader read it (blue, green and red for
// 24 and 32 bits, the raw word for 16, the colour-table entry for 8). The
// mask is in the colour map's order, one byte per pixel, 0 for a transparent
// pixel.
class TemplateOpacity {
 public:
  TemplateOpacity(const BitmapRecord& templ, const std::uint8_t* loaded, bool keyColor);
  ~TemplateOpacity();
  TemplateOpacity(const TemplateOpacity&) = delete;
  TemplateOpacity& operator=(const TemplateOpacity&) = delete;

  // False when the mask could not be allocated.
  bool Ready() const { return opaquePixels_ >= 0; }
  // Null when every pixel takes part.
  const std::uint8_t* Mask() const { return mask_; }
  std::int64_t OpaquePixels() const { return opaquePixels_; }

 private:
  const std::uint8_t* mask_ = nullptr;
  std::uint8_t* owned_ = nullptr;
  std::int64_t opaquePixels_ = -1;
};

// What a search makes of its template on a screen: which pixels take part,
// then the colour map (or, for near colours, the template's colours), and the
// setup the scans run on. The search and the template tester both start
// here. It frees what it allocated and must stay where it was made: the
// setup points into it.
class PreparedTemplate {
 public:
  PreparedTemplate(const ScreenImage& screen, const Template& t, std::int32_t options, const ColorTest& test);
  ~PreparedTemplate();
  PreparedTemplate(const PreparedTemplate&) = delete;
  PreparedTemplate& operator=(const PreparedTemplate&) = delete;

  // 0, or kNoColorMap: no map, or no pixel takes part.
  std::int32_t Refusal() const { return refusal_; }
  // Without a refusal, what the scans run on; a record without pixels (which
  // the loader never hands out) leaves it with neither map nor colours, and
  // ScanFits refuses it.
  const ScanSetup& Setup() const { return setup_; }
  std::int64_t OpaquePixels() const { return opacity_.OpaquePixels(); }

 private:
  TemplateOpacity opacity_;
  TemplateColors colors_{};
  std::uint8_t* map_ = nullptr;
  ScanSetup setup_{};
  std::int32_t refusal_ = 0;
};

// The template's pixels as the near-colour test compares them: 8-bit indices
// through the colour table that the corner colours come from, 16-bit words
// widened from 5-5-5, and for 24 and 32 bits blue, green and red. Allocates
// nothing; the record must describe pixels (the loader's records do).
TemplateColors ReadTemplateColors(const BitmapRecord& templ);

}  // namespace zadized
