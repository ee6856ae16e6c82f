#include "search/search.h"

#include "image/bitmap_cache.h"
#include "platform/platform.h"
#include "search/color_map.h"
#include "search/held_screen.h"
#include "search/region_capture.h"

namespace zadized {

namespace {

// Pixels to scan: a capture, the rectangle of it to scan, and where the
// capture lies on a display of screenWidth columns.
struct ScanArea {
  const ScreenImage& image;
  Rectangle rectangle;
  std::int32_t left;
  std::int32_t top;
  std::int32_t screenWidth;
};

// What a call wants: the first sighting (no slots, `all` false), or every
// one, written to `slots` or counted.
struct Wanted {
  bool all;
  std::uint8_t* slots;
  std::int32_t capacity;
  // The answer when no scan runs or nothing is accepted.
  std::int32_t None() const { return all ? 0 : kNotFound; }
};

// Map, scan, encode, release: -100 when there is no map or no pixel takes
// part, else the encoded position on the display or -1; for a listing, how
// many it holds.
std::int32_t MapAndScan(const ScanArea& area, const Template& t, std::int32_t options, std::int32_t color,
                        const Wanted& wanted) {
  const BitmapRecord& templ = t.record;
  const ScanOrder order = DecodeOptions(options);
  const ColorTest test = DecodeColorWord(color);
  const ScreenImage& image = area.image;
  Sightings sightings{wanted.slots, wanted.capacity, area.left, area.top, area.screenWidth};
  Sightings* list = wanted.all ? &sightings : nullptr;
  const auto answer = [&](const ScanHit& hit) {
    if (wanted.all) return sightings.count;
    return hit.found ? EncodePosition(area.left + hit.x, area.top + hit.y, area.screenWidth) : kNotFound;
  };
  const PreparedTemplate prepared(image, t, options, test);
  if (prepared.Refusal() != 0) return prepared.Refusal();
  return answer(Scan(prepared.Setup(), templ, area.rectangle, order, test, list));
}

std::int32_t SearchGivenCapture(const ScreenImage& screen, const Template& t, std::int32_t x1,
                                std::int32_t y1, std::int32_t x2, std::int32_t y2, std::int32_t options,
                                std::int32_t color, const Wanted& wanted) {
  const BitmapRecord& templ = t.record;
  if (screen.pixels == nullptr) return kNoScreen;
  Rectangle r{};
  const std::int32_t placed =
      PlaceRectangle(x1, y1, x2, y2, screen.width, screen.height, templ.width, templ.height, &r);
  if (placed != 0) return placed;
  return MapAndScan(ScanArea{screen, r, 0, 0, screen.width}, t, options, color, wanted);
}

std::int32_t SearchScreen(const char* fileName, std::int32_t x1, std::int32_t y1, std::int32_t x2,
                          std::int32_t y2, std::int32_t options, std::int32_t color, const Wanted& wanted) {
  const Template loaded = OpenTemplate(fileName);
  const BitmapRecord& templ = loaded.record;
  if (templ.fileSize == -1) return kNoTemplate;
  // The loader never hands out a record without pixels; such a one is
  // answered as SearchCapture answers it (no map, or in near-colour mode no
  // pixel to match), and nothing is captured for it.
  if (templ.width <= 0 || templ.height <= 0)
    return DecodeColorWord(color).nearColors ? wanted.None() : kNoColorMap;
  // A thread that holds a picture searches it as the screen, captures
  // nothing, and encodes positions with the picture's width.
  if (const ScreenImage* held = HeldScreen())
    return SearchGivenCapture(*held, loaded, x1, y1, x2, y2, options, color, wanted);
  RegionCapture region{};
  const std::int32_t captured = CaptureRegion(x1, y1, x2, y2, templ.width, templ.height, &region);
  if (captured != 0) return captured;
  const ScreenImage& image = region.image;
  const ScanArea area{image, Rectangle{0, 0, image.width - 1, image.height - 1}, region.left, region.top,
                      region.screenWidth};
  const std::int32_t result = MapAndScan(area, loaded, options, color, wanted);
  platform::Current().deleteObject(image.bitmap);
  return result;
}

Wanted Every(void* results, std::int32_t maxResults) {
  return Wanted{true, static_cast<std::uint8_t*>(results), maxResults};
}

}  // namespace

std::int32_t SearchImage(const char* fileName, std::int32_t x1, std::int32_t y1, std::int32_t x2,
                         std::int32_t y2, std::int32_t options, std::int32_t color) {
  return SearchScreen(fileName, x1, y1, x2, y2, options, color, Wanted{false, nullptr, 0});
}

std::int32_t SearchImageAll(const char* fileName, std::int32_t x1, std::int32_t y1, std::int32_t x2,
                            std::int32_t y2, std::int32_t options, std::int32_t color, void* results,
                            std::int32_t maxResults) {
  return SearchScreen(fileName, x1, y1, x2, y2, options, color, Every(results, maxResults));
}

std::int32_t SearchCapture(const ScreenImage& screen, const BitmapRecord& templ, std::int32_t x1,
                           std::int32_t y1, std::int32_t x2, std::int32_t y2, std::int32_t options,
                           std::int32_t color, const std::uint8_t* opacity) {
  return SearchGivenCapture(screen, Template{templ, opacity}, x1, y1, x2, y2, options, color,
                            Wanted{false, nullptr, 0});
}

std::int32_t SearchCaptureAll(const ScreenImage& screen, const BitmapRecord& templ, std::int32_t x1,
                              std::int32_t y1, std::int32_t x2, std::int32_t y2, std::int32_t options,
                              std::int32_t color, void* results, std::int32_t maxResults,
                              const std::uint8_t* opacity) {
  return SearchGivenCapture(screen, Template{templ, opacity}, x1, y1, x2, y2, options, color,
                            Every(results, maxResults));
}

}  // namespace zadized
