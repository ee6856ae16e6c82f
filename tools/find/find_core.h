// The template tester behind zadized-find: the library's own loader and
// search run on a screenshot file instead of the live screen, plus the
// listings and explanations a person needs when a template is not found.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "image/bitmap_cache.h"
#include "image/records.h"
#include "platform/platform.h"
#include "search/color_map.h"
#include "search/search.h"

namespace zadized::find {

// A screenshot as a capture: 32-bit bottom-up rows of width * 4 bytes.
struct Screenshot {
  std::vector<std::uint8_t> storage;
  ScreenImage image{};
};

// A bitmap cache of the tool's own. Unlike the process-wide one it gives its
// file blocks back when it goes, so a leak checker sees only real leaks.
class PrivateCache {
 public:
  PrivateCache();
  ~PrivateCache();
  PrivateCache(const PrivateCache&) = delete;
  PrivateCache& operator=(const PrivateCache&) = delete;
  // OpenBitmap on this cache, and OpenTemplate, which adds what the loader
  // found of a PNG file's alpha.
  BitmapRecord Open(const std::string& path);
  Template OpenWithOpacity(const std::string& path);

 private:
  BitmapCache* cache_;
};

// Reads a screenshot file with the library's own screenshot loader, the one
// HoldScreen uses: a BMP or PNG file the template loader accepts, its alpha
// ignored. An empty string on success, otherwise what is wrong with the file.
std::string LoadScreenshot(const std::string& path, Screenshot& out);

// Writes the screenshot as a 24-bit bottom-up BMP. Empty on success.
std::string WriteBmp24(const std::string& path, const Screenshot& shot);

// Writes the screenshot as an 8-bit truecolour PNG when `path` ends in
// ".png" (any case), otherwise as WriteBmp24 does. Empty on success.
std::string WriteScreenshot(const std::string& path, const Screenshot& shot);

// The rectangle x1,y1 to x2,y2 of `shot` (corners inclusive, in either order,
// cut to the screenshot as SearchImage cuts its rectangle). Empty on success.
std::string CutRectangle(const Screenshot& shot, std::int32_t x1, std::int32_t y1, std::int32_t x2,
                         std::int32_t y2, Screenshot& out);

// The live screen, taken as HoldScreen(source) takes it (the DLL's own
// code): null for the primary screen, "monitor:N" or "virtual". `place`
// gets where the picture lies on the desktop. Empty on success.
std::string CaptureLiveScreen(Screenshot& out, const char* source = nullptr,
                              platform::DesktopRect* place = nullptr);

// Why OpenBitmap refused `path` (it answers only fileSize -1).
std::string DescribeTemplateFailure(const std::string& path);

// Which architecture a Windows program or DLL is built for, from its PE
// header: "x64/zadized.dll: a 64-bit (x64) Windows DLL: ...", or why not.
std::string DescribeProgramFile(const std::string& path);

// 0x00RRGGBB of the screenshot pixel at column x, row y from the top.
ColorValue ScreenPixel(const ScreenImage& screen, std::int32_t x, std::int32_t y);

struct Position {
  std::int32_t x;
  std::int32_t y;
};

struct Accepted {
  Position at;
  // 0-based place among the positions that pass the window test, which is
  // what the skip count counts; positions below the skip count are passed over.
  std::int64_t windowIndex;
};

// One search of one template on one screenshot, with the arguments of
// SearchImage. Everything the library decides is taken from the library's
// own functions (DecodeOptions, DecodeColorWord, PlaceRectangle, Candidates,
// BuildColorMap or, for near colours, ReadTemplateColors and AllowedMisses,
// WindowMatches, WithinTolerance, CompareCornerColor, SearchCapture).
class Session {
 public:
  // `opacity`: what the loader found of the template's alpha (OpenTemplate).
  Session(const ScreenImage& screen, const BitmapRecord& templ, std::int32_t x1, std::int32_t y1,
          std::int32_t x2, std::int32_t y2, std::int32_t options, std::int32_t color,
          const std::uint8_t* opacity = nullptr);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // 0 when the scan can run; otherwise the code the search answers before
  // scanning (-3, -10 or -100).
  std::int32_t Refusal() const { return refusal_; }
  // The template's pixels that take no part: a PNG file's alpha, and with
  // option bit 19 those of the top-left colour.
  std::int64_t TransparentPixels() const;
  const Rectangle& Rect() const { return rect_; }
  const ScanOrder& Order() const { return order_; }
  const ColorTest& Test() const { return test_; }

  // What the library answers: SearchCapture on the same capture.
  std::int32_t LibraryResult() const;

  // What SearchImageAll answers on the same capture (SearchCaptureAll): the
  // code or the number of positions, and the positions, encoded.
  struct Listing {
    std::int32_t result;
    std::vector<std::int32_t> positions;
  };
  Listing LibraryList() const;

  // Visits the candidate positions in scan order until `visit` answers false.
  void ForEachCandidate(const std::function<bool(Position)>& visit) const;

  // Every position that passes the window test and, in tolerance mode, the
  // corner test, in scan order, regardless of the skip count.
  std::vector<Accepted> All() const;

  // Of those, the ones the skip count does not pass over, encoded: what
  // SearchImageAll lists, found by this tool's own walk.
  std::vector<std::int32_t> Listed() const;

  // The position the search returns, found by this tool's own walk: the
  // first accepted position whose window index reaches the skip count.
  bool Returned(Position& at) const;

  bool PassesWindow(Position at) const;
  bool PassesCorner(Position at) const;

  // Lines saying why the template is or is not accepted at `at`.
  std::vector<std::string> Explain(Position at) const;

  // How many positions of the rectangle the search accepts with this colour
  // word, whatever the skip count (SearchImageAll's count); or the refusal.
  std::int32_t CountPlaces(std::int32_t color) const;

  // Empty, unless the template is weak in the colour word's mode (pattern
  // mode on a template whose pixels all differ, or all match, or mostly
  // differ; shape mode with one shape pixel or nothing but the shape; near
  // colours that allow everything) and the search accepts it at more than
  // one place; in pattern and shape mode also only where the template's own
  // colours (near colours, no step allowed) are at fewer places. Then what is
  // weak, how many places there are and what to try.
  std::string WeakTemplateWarning() const;

 private:
  std::string ExplainWindow(Position at, bool& passes) const;
  std::vector<std::string> ExplainNearColors(Position at, bool& passes) const;
  std::string ExplainCorner(Position at, bool& passes) const;
  bool CornerIsTransparent() const;
  std::string WeaknessOfTemplate() const;

  ScreenImage screen_;
  BitmapRecord templ_;
  std::int32_t x1_, y1_, x2_, y2_, options_, color_;
  ScanOrder order_{};
  ColorTest test_{};
  Rectangle rect_{};
  std::int32_t refusal_ = 0;
  const std::uint8_t* loadedOpacity_;
  std::unique_ptr<PreparedTemplate> prepared_;  // what setup_ points into
  ScanSetup setup_{};
};

// "0x12AB3C".
std::string Hex6(ColorValue v);

// Outlines each position (template-sized) in `colour`.
void Outline(Screenshot& shot, const std::vector<Position>& at, std::int32_t tw, std::int32_t th,
             ColorValue color);

}  // namespace zadized::find
