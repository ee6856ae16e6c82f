// A whole search from bytes: the template file, the screen and all seven
// arguments of SearchImage, through the export itself (bitmap cache, capture,
// colour map, scan, release), and every sighting through SearchImageAll on
// the same road. Every answer is checked, not just survived:
// against the literal reference scan when the work is small enough, against
// the -2/-3/-10 rules otherwise, and every block, context, bitmap and file
// the call made must be gone afterwards except the cache's own.
//
// Input: the template BMP file, then a 32-byte trailer (the trailer at the end
// lets a BMP file with a trailer appended be a seed as it stands):
//   0-23  x1, y1, x2, y2, options, color (little-endian int32)
//   24,25 screen width and height: 1 + byte % 64
//   26    flags: bits 0-1 file name (0,1 the template, 2 a missing file,
//         3 the empty name); bit 2 paste the template onto the screen; bits
//         3-4 screen colours (1, 2, 4 or random); bit 5 coordinates are their
//         low byte, signed; bit 6 search twice (the second from the cache);
//         bit 7 no display at all
//   27,28 where the template is pasted
//   29-31 seed of the screen's pixels; when byte 29 is odd the fast scan
//         starts without its literal head start, so that on these small
//         screens its own tests (pair tests, one-colour rows, near-colour
//         ranking) decide rather than the literal walk
//   30    bit 0 set, with 1, 2 or 4 colours: the screen is plain blocks of
//         them (where shape mode rules windows out by boxes of one colour)
#include <zadized.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "image/bitmap_cache.h"
#include "image/pixel.h"
#include "memory_files.h"
#include "platform/platform_portable.h"
#include "reference/literal_scan.h"
#include "search/color_map.h"
#include "search/fast_scan.h"
#include "search/plain_boxes.h"
#include "search/plain_windows.h"
#include "search/rules.h"

namespace {

namespace z = zadized;
constexpr std::size_t kTrailer = 32;
// Pixel visits the reference may make per input (it has no early exit).
constexpr std::int64_t kReferenceBudget = 2000000;

int g_displayContexts = 0;

std::int32_t Int32(const std::uint8_t* p) {
  return static_cast<std::int32_t>(
      static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
      (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24));
}

// Frees what the process-wide cache holds and empties it, so every input
// starts from the state the library has at load.
std::int64_t CacheBlocks(const z::BitmapCache& c) {
  return c.count + (c.records != nullptr ? 1 : 0) + (c.nameTable != nullptr ? 1 : 0);
}
void ResetCache() { z::ReleaseBitmapCache(z::TheBitmapCache()); }

bool SameCounts(const z::platform::LiveCounts& a, const z::platform::LiveCounts& b) {
  return a.blocks == b.blocks && a.deviceContexts == b.deviceContexts && a.bitmaps == b.bitmaps &&
         a.openFiles == b.openFiles;
}

std::uint32_t Next(std::uint32_t& s) {
  s ^= s << 13;
  s ^= s >> 17;
  s ^= s << 5;
  return s;
}

// The value the colour map gives the template pixel (x, y), as a screen colour.
std::uint32_t TemplateValue(const z::BitmapRecord& r, std::int32_t x, std::int32_t y,
                            const z::ColorValue table[256]) {
  const std::int32_t bpp = z::BytesPerPixel(r.bitCount);
  const std::uint8_t* p = z::PixelAddress(r.pixels, x, y, z::RowStride(r.width, bpp), r.height, bpp);
  const z::ColorValue v = z::MaskPixel(p, bpp == 4 ? 3 : bpp);
  return (bpp == 1 ? table[v] : v) & 0xFFFFFFu;
}

// Inputs that reach the shortcuts for plain areas without the literal head
// start, counted over a run and printed at its end: one-colour templates
// answered from rows of one colour, and near-colour templates of more
// pixels than the ranking weighs at first.
struct ShortcutTally {
  long long plainRows = 0, nearBeyondPool = 0, shapeOnBlocks = 0, shapeOnBlocksFound = 0;
  ShortcutTally() {
    std::atexit([] {
      std::printf(
          "search_fuzzer: %lld inputs answered from rows of one colour, %lld near-colour inputs "
          "ranked beyond the first pixels (without the head start); %lld shape-mode searches on "
          "screens of plain blocks checked against the reference, %lld of them finding a place\n",
          Tally().plainRows, Tally().nearBeyondPool, Tally().shapeOnBlocks, Tally().shapeOnBlocksFound);
    });
  }
  static ShortcutTally& Tally();
};
ShortcutTally& ShortcutTally::Tally() {
  static ShortcutTally t;
  return t;
}

void CountShortcuts(const z::Template& probed, std::int32_t options, std::int32_t color) {
  const z::ColorTest test = z::DecodeColorWord(color);
  const z::ScreenImage none{nullptr, nullptr, 1, 1, 32};
  const z::PreparedTemplate prepared(none, probed, options, test);
  if (prepared.Refusal() != 0) return;
  if (z::PlainWindows::Applies(prepared.Setup())) ++ShortcutTally::Tally().plainRows;
  if (test.nearColors && prepared.OpaquePixels() > 64) ++ShortcutTally::Tally().nearBeyondPool;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const z::platform::Ops ops = [] {
    z::platform::Ops o = z::fuzz::MemoryFileOps();
    o.createDisplayDC = []() {
      ++g_displayContexts;
      return z::platform::Native().createDisplayDC();
    };
    return o;
  }();
  if (size < kTrailer) return 0;
  z::platform::Override(&ops);

  const std::uint8_t* t = data + size - kTrailer;
  const std::vector<std::uint8_t> bmp(data, data + size - kTrailer);
  const std::uint8_t flags = t[26];
  std::int32_t a[6];
  for (int i = 0; i < 6; ++i) a[i] = Int32(t + 4 * i);
  if (flags & 0x20) {
    for (int i = 0; i < 4; ++i) a[i] = static_cast<std::int8_t>(t[4 * i]);
  }
  const std::int32_t x1 = a[0], y1 = a[1], x2 = a[2], y2 = a[3], options = a[4], color = a[5];
  const char* name = (flags & 3) < 2 ? "t.bmp" : (flags & 3) == 2 ? "missing.bmp" : "";
  z::fuzz::Files()["t.bmp"] = bmp;

  ResetCache();
  const z::platform::LiveCounts start = z::platform::Live();

  // What the loader makes of the bytes, in a cache of its own.
  auto probe = std::make_unique<z::BitmapCache>();
  const z::Template probed = z::OpenTemplate(*probe, "t.bmp");
  const z::BitmapRecord& templ = probed.record;
  const bool loads = templ.fileSize != -1 && name[0] == 't';
  // Only templates the screen can hold: the search answers -10 for the others
  // before it maps them, and a file of under 8 bits per pixel may claim a
  // billion pixels that a map would walk.
  if (loads && (t[29] & 1) != 0 && templ.width <= 1 + t[24] % 64 && templ.height <= 1 + t[25] % 64)
    CountShortcuts(probed, options, color);
  // The reference reads BMP bytes only; a PNG file is judged by the BMP form
  // the loader made of it and the pixels it found see-through (the decoder
  // has its own fuzzer and pixel checks).
  std::vector<std::uint8_t> loaded;
  std::vector<bool> clear;
  if (templ.fileSize != -1) loaded.assign(templ.fileData, templ.fileData + templ.fileSize);
  if (probed.opacity != nullptr) {
    for (std::int32_t y = 0; y < templ.height; ++y)
      for (std::int32_t x = 0; x < templ.width; ++x)
        clear.push_back(probed.opacity[static_cast<std::size_t>(templ.height - 1 - y) * templ.width + x] ==
                        0);
  }

  // The screen.
  z::reference::Screen screen;
  screen.width = 1 + t[24] % 64;
  screen.height = 1 + t[25] % 64;
  screen.topDown.resize(static_cast<std::size_t>(screen.width) * screen.height);
  std::uint32_t seed = (static_cast<std::uint32_t>(t[29]) | (t[30] << 8) | (t[31] << 16)) + 1;
  static const std::uint32_t kPalette[4] = {0x000000, 0xFFFFFF, 0xFF0000, 0x204060};
  const int colors[4] = {1, 2, 4, 0};
  const int n = colors[(flags >> 3) & 3];
  const bool blocks = (t[30] & 1) != 0 && n != 0;
  // Screens this small never pay for shape mode's table of plain boxes.
  z::AlwaysBuildPlainBoxes(blocks);
  if (blocks) {
    const int bw = 1 + static_cast<int>(Next(seed) % 32), bh = 1 + static_cast<int>(Next(seed) % 32);
    for (std::int32_t y = 0; y < screen.height; ++y)
      for (std::int32_t x = 0; x < screen.width; ++x)
        screen.topDown[static_cast<std::size_t>(y) * screen.width + x] =
            kPalette[((x / bw) * 7919u + (y / bh) * 104729u + seed) % static_cast<std::uint32_t>(n)];
  } else {
    for (std::uint32_t& px : screen.topDown) px = n == 0 ? Next(seed) & 0xFFFFFFu : kPalette[Next(seed) % n];
  }
  if ((flags & 4) && templ.fileSize != -1 && templ.width <= screen.width && templ.height <= screen.height) {
    z::ColorValue table[256];
    z::ResolveColorTable(templ, table);
    const std::int32_t px = t[27] % screen.width, py = t[28] % screen.height;
    for (std::int32_t y = 0; y < templ.height && py + y < screen.height; ++y)
      for (std::int32_t x = 0; x < templ.width && px + x < screen.width; ++x)
        screen.topDown[static_cast<std::size_t>(py + y) * screen.width + px + x] =
            TemplateValue(templ, x, y, table);
  }
  z::ReleaseBitmapCache(*probe);
  probe.reset();
  const bool display = (flags & 0x80) == 0;
  if (display) {
    z::platform::SetVirtualScreen(screen.width, screen.height, screen.topDown.data());
  } else {
    z::platform::SetVirtualScreen(0, 0, nullptr);
  }

  g_displayContexts = 0;
  z::SetHeadStartBudget((t[29] & 1) != 0 ? 0 : -1);
  const std::int32_t result = ::SearchImage(name, x1, y1, x2, y2, options, color);
  const int contexts = g_displayContexts;
  if ((flags & 0x40) && ::SearchImage(name, x1, y1, x2, y2, options, color) != result) std::abort();
  // Every sighting, into slots with one to spare: a code as SearchImage's
  // with nothing written, or a list whose first entry SearchImage answered.
  constexpr std::int32_t kMarker = 0x5A5A5A5A;
  std::vector<std::int32_t> slots(screen.topDown.size() + 1, kMarker);
  const std::int32_t listed =
      ::SearchImageAll(name, x1, y1, x2, y2, options, color, ZADIZED_ADDR(slots.data()),
                       static_cast<std::int32_t>(slots.size()));
  const std::size_t written = listed > 0 ? static_cast<std::size_t>(listed) : 0;
  if (slots[written] != kMarker || (listed < 0 && listed != result) ||
      (listed >= 0 && (listed > 0 ? slots[0] : -1) != result)) {
    std::abort();
  }

  // Only the cache may keep anything.
  const z::platform::LiveCounts after = z::platform::Live();
  const std::int64_t kept = CacheBlocks(z::TheBitmapCache());
  if (after.blocks - kept != start.blocks || after.deviceContexts != start.deviceContexts ||
      after.bitmaps != start.bitmaps || after.openFiles != start.openFiles) {
    std::abort();
  }
  if (z::TheBitmapCache().count != (loads ? 1 : 0)) std::abort();
  ResetCache();
  if (!SameCounts(z::platform::Live(), start)) std::abort();

  if (!loads) {
    // A template that is not there is answered before any capture.
    if (result != -2 || contexts != 0) std::abort();
  } else if (!display) {
    if (result != -3) std::abort();
  } else if (templ.width > screen.width || templ.height > screen.height) {
    // The rectangle is cut to the screen, so it can never hold the template.
    if (result != -10) std::abort();
  } else {
    const std::int64_t pixels = static_cast<std::int64_t>(templ.width) * templ.height;
    const std::int64_t positions =
        static_cast<std::int64_t>(screen.width - templ.width + 1) * (screen.height - templ.height + 1);
    if (pixels * (positions + 1) <= kReferenceBudget) {
      if (blocks && z::DecodeColorWord(color).mapColor != -1) {
        ++ShortcutTally::Tally().shapeOnBlocks;
        ShortcutTally::Tally().shapeOnBlocksFound += result != -1 ? 1 : 0;
      }
      if (result != z::reference::LiteralSearch(loaded, screen, x1, y1, x2, y2, options, color, clear))
        std::abort();
      const z::reference::Listing all =
          z::reference::LiteralSearchAll(loaded, screen, x1, y1, x2, y2, options, color, clear);
      if (all.code != 0
              ? listed != all.code
              : std::vector<std::int32_t>(slots.begin(), slots.begin() + written) != all.positions) {
        std::abort();
      }
    }
  }
  z::SetHeadStartBudget(-1);
  z::AlwaysBuildPlainBoxes(false);
  z::platform::Override(nullptr);
  return 0;
}
