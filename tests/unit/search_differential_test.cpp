// The library against the literal reference scan on random screens and
// templates, every option and colour word. Seeded, so a failure repeats.
// Every case runs three ways: the library's fast scan, the library with its
// literal scan forced, and the independent reference; every eighth also goes
// through SearchImage both ways (the fast way copies only the rectangle), and
// again on a held picture of its screen (a capture, or a saved screenshot of
// several kinds) while the display shows nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/platform_portable.h"
#include "png_builder.h"
#include "reference/literal_scan.h"
#include "search/color_map.h"
#include "search/fast_scan.h"
#include "search/held_screen.h"
#include "search/near_bounds.h"
#include "search/plain_boxes.h"
#include "search/plain_windows.h"
#include "search/search.h"
#include "search/shape_tests.h"
#include "search_support.h"

namespace zadized {
namespace {

constexpr int kCases = 6000;
constexpr int kEndToEndEvery = 8;  // these also go through SearchImage and the virtual display

// A BMP file laid out as `header` says whose pixels hold `values` (top-down,
// the low 1 to 3 bytes of each); its padding and the fourth bytes of 32-bit
// pixels keep noise from `bits`.
template <typename Bits>
std::vector<std::uint8_t> BmpOfValues(const test::BmpLayout& header,
                                      const std::vector<std::uint32_t>& palette,
                                      const std::vector<std::uint32_t>& values, Bits&& bits) {
  const int tw = header.width, th = header.height, bpp = header.bitCount / 8;
  const int stride = (tw * bpp + 3) / 4 * 4;
  std::vector<std::uint8_t> px(static_cast<std::size_t>(stride) * th);
  for (auto& b : px) b = static_cast<std::uint8_t>(bits());
  for (int y = 0; y < th; ++y) {
    for (int x = 0; x < tw; ++x) {
      std::uint8_t* p =
          &px[static_cast<std::size_t>(th - 1 - y) * stride + static_cast<std::size_t>(x) * bpp];
      for (int i = 0; i < std::min(bpp, 3); ++i)
        p[i] = static_cast<std::uint8_t>(values[static_cast<std::size_t>(y) * tw + x] >> (8 * i));
    }
  }
  return test::MakeBmp(header, palette, px);
}

// A 16-bit pixel's 5-5-5 word as the near-colour test sees it: each channel
// widened to 8 bits as c << 3 | c >> 2.
std::uint32_t Widened555(std::uint32_t word) {
  std::uint32_t c = 0;
  for (int ch = 0; ch < 3; ++ch) {
    const std::uint32_t five = word >> (5 * ch) & 31;
    c |= (five << 3 | five >> 2) << (8 * ch);
  }
  return c;
}

struct Generated {
  std::vector<std::uint8_t> file;  // a BMP file, or with `png` a PNG file
  bool png = false;
  std::vector<bool> clear;  // top-down: the pixels a PNG file makes see-through
  reference::Screen screen;
  std::uint8_t fourthByte = 0;
  std::int32_t x1 = 0, y1 = 0, x2 = 0, y2 = 0, options = 0, color = -1;
  std::string what;
};

class Generator {
 public:
  explicit Generator(std::uint32_t seed) : rng_(seed) {}

  Generated Next() {
    Generated g;
    const int bitCount = Pick<int>({8, 16, 24, 32});
    const bool many = bitCount != 8 && Chance(12);  // more than 256 distinct values
    const int tw = many ? Uniform(16, 20) : Uniform(1, 7);
    const int th = many ? 16 : Uniform(1, 6);
    const int classes = many ? tw * th : Uniform(1, 4);

    // Each class of template pixels gets one distinct pixel value.
    std::vector<std::uint32_t> classValue;
    std::set<std::uint32_t> used;
    const std::uint32_t valueMask = bitCount == 8 ? 0xFF : bitCount == 16 ? 0xFFFF : 0xFFFFFF;
    while (static_cast<int>(classValue.size()) < classes) {
      const std::uint32_t v = Bits() & valueMask;
      if (used.insert(v).second) classValue.push_back(v);
    }
    std::vector<int> cls(static_cast<std::size_t>(tw) * th);  // top-down
    for (std::size_t k = 0; k < cls.size(); ++k)
      cls[k] = many ? static_cast<int>(k) : Uniform(0, classes - 1);
    if (many) std::shuffle(cls.begin(), cls.end(), rng_);

    // The file.
    test::BmpLayout header;
    header.width = tw;
    header.height = th;
    header.bitCount = static_cast<std::uint16_t>(bitCount);
    std::vector<std::uint32_t> palette;
    if (bitCount == 8) {
      const int layout = Uniform(0, 3);
      palette.resize(256);
      for (auto& e : palette)
        e = Chance(2) ? RandomColor() : (Bits() & 0x03FFFFFF);  // some with a fourth byte
      for (int d = 0; d < 8; ++d) palette[Uniform(0, 255)] = palette[Uniform(0, 255)];  // duplicate entries
      if (layout == 0) {
        header.paletteEntries = 256;
        g.what = "8-bit standard";
      } else if (layout == 1) {
        header.paletteEntries = 256;
        header.colorsUsed = 256;
        header.gap = static_cast<std::uint32_t>(Uniform(1, 9));
        g.what = "8-bit detached";
      } else {
        header.colorsUsed = static_cast<std::uint32_t>(Uniform(1, 40));
        header.paletteEntries = header.colorsUsed;
        g.what = "8-bit short table";
      }
    } else {
      g.what = std::to_string(bitCount) + "-bit";
    }
    if (many) g.what += " many values";
    std::vector<std::uint32_t> values;
    for (const int c : cls) values.push_back(classValue[static_cast<std::size_t>(c)]);
    g.file = BmpOfValues(header, palette, values, [&] { return Bits(); });
    const std::vector<std::uint32_t> table = bitCount == 8 ? reference::LiteralColorTable(g.file) : palette;

    // The colour word.
    int shapeClass = -1;
    const int kind = Uniform(0, 19);
    if (kind < 7) {
      g.color = -1;
    } else if (kind < 11) {
      shapeClass = Uniform(0, classes - 1);
      const std::uint32_t v = classValue[shapeClass];
      g.color = static_cast<std::int32_t>(bitCount == 8 ? table[v] : v);
      if (g.color == -1) shapeClass = -1;
    } else if (kind < 12) {
      g.color = static_cast<std::int32_t>(Bits() % 268435455u) * (Chance(2) ? 1 : -1);
    } else if (kind < 16) {
      const std::uint32_t channel = Pick<std::uint32_t>({0, 255, Bits() % 40, Bits() % 256});
      const std::uint32_t sum = Pick<std::uint32_t>({0, 765, 65535, Bits() % 100, Bits() % 800});
      g.color = static_cast<std::int32_t>(0x10000000u | (Bits() & 0x0F000000u) | channel << 16 | sum);
    } else if (kind < 18) {
      g.color = Pick<std::int32_t>({536870912, -268435456, INT_MIN, INT_MAX,
                                    static_cast<std::int32_t>(0x20000000u + Bits() % 0x5FFFFFFFu),
                                    -268435456 - static_cast<std::int32_t>(Bits() % 0x6FFFFFFFu)});
    } else {
      g.color = Pick<std::int32_t>({268435455, -268435455, 268435456, 0, -2});
    }

    // The screen: a little noise from a few colours, with recoloured copies.
    // Now and then a screen smaller than the template.
    const bool tiny = !many && Chance(10);
    const int W = tiny ? Uniform(1, tw) : Uniform(tw, many ? 40 : 36);
    const int H = tiny ? Uniform(1, th) : Uniform(th, many ? 24 : 26);
    g.screen.width = W;
    g.screen.height = H;
    std::vector<std::uint32_t> noise;
    for (int i = Uniform(1, 4); i > 0; --i) noise.push_back(RandomColor());
    if (bitCount >= 24 && Chance(3)) noise.push_back(classValue[0]);
    g.screen.topDown.resize(static_cast<std::size_t>(W) * H);
    for (auto& v : g.screen.topDown) v = noise[Uniform(0, static_cast<int>(noise.size()) - 1)];
    if (Chance(5)) std::fill(g.screen.topDown.begin(), g.screen.topDown.end(), noise[0]);
    for (int copies = Uniform(0, 3); copies > 0 && tw <= W && th <= H; --copies) {
      const int cx = Uniform(0, W - tw), cy = Uniform(0, H - th);
      std::vector<std::uint32_t> recolor;
      std::set<std::uint32_t> taken;
      while (static_cast<int>(recolor.size()) < classes) {
        const std::uint32_t v =
            Chance(4) ? noise[Uniform(0, static_cast<int>(noise.size()) - 1)] : RandomColor();
        if (taken.insert(v).second || Chance(12)) recolor.push_back(v);  // now and then not one-to-one
      }
      for (int y = 0; y < th; ++y) {
        for (int x = 0; x < tw; ++x) {
          const int c = cls[static_cast<std::size_t>(y) * tw + x];
          std::uint32_t v = recolor[c];
          // In shape mode the background comes from the noise, sometimes the
          // shape's own colour, which the one-third rule counts.
          if (shapeClass >= 0 && c != shapeClass && Chance(2)) {
            v = Chance(3) ? recolor[shapeClass] : noise[Uniform(0, static_cast<int>(noise.size()) - 1)];
          }
          if (Chance(40)) v = RandomColor();
          g.screen.topDown[static_cast<std::size_t>(cy + y) * W + cx + x] = v;
        }
      }
    }
    g.fourthByte = static_cast<std::uint8_t>(Bits());

    // The option word and the rectangle.
    const int skip = Pick<int>({0, 0, 0, 1, 2, 3, Uniform(4, 20), static_cast<int>(Bits() & 0xFFFF)});
    g.options = static_cast<std::int32_t>((Bits() & 0x70000u) | static_cast<std::uint32_t>(skip) |
                                          (Chance(4) ? Bits() & 0xFFF80000u : 0));
    const int shape = Uniform(0, 9);
    if (shape < 1) {
      g.x1 = Uniform(-5, W + 5);
      g.x2 = Uniform(-5, W + 5);
      g.y1 = Uniform(-5, H + 5);
      g.y2 = Uniform(-5, H + 5);
    } else if (shape < 6) {
      g.x1 = Uniform(-5, W / 3);
      g.x2 = Uniform(2 * W / 3, W + 5);
      g.y1 = Uniform(-5, H / 3);
      g.y2 = Uniform(2 * H / 3, H + 5);
      if (Chance(2)) std::swap(g.x1, g.x2);
      if (Chance(2)) std::swap(g.y1, g.y2);
    } else if (shape < 8) {
      g.x1 = 0;
      g.y1 = 0;
      g.x2 = W - 1;
      g.y2 = H - 1;
      if (Chance(2)) std::swap(g.x1, g.x2);
    } else if (shape < 9) {
      g.x1 = Pick<std::int32_t>({INT_MIN, INT_MAX, -1, W});
      g.x2 = Pick<std::int32_t>({INT_MIN, INT_MAX, 0, W - 1});
      g.y1 = Pick<std::int32_t>({INT_MIN, INT_MAX, -1, H});
      g.y2 = Pick<std::int32_t>({INT_MIN, INT_MAX, 0, H - 1});
    } else {
      g.x1 = Uniform(W, W + 10);  // wholly off to the right, or above
      g.x2 = Uniform(W, W + 10);
      g.y1 = Uniform(-10, H);
      g.y2 = Chance(2) ? Uniform(-10, -1) : Uniform(-10, H);
    }
    return g;
  }

 private:
  int Uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  bool Chance(int oneIn) { return Uniform(1, oneIn) == 1; }
  std::uint32_t Bits() { return static_cast<std::uint32_t>(rng_()); }
  std::uint32_t RandomColor() { return Bits() & 0xFFFFFF; }
  template <typename T>
  T Pick(std::initializer_list<T> values) {
    return values.begin()[Uniform(0, static_cast<int>(values.size()) - 1)];
  }

  std::mt19937 rng_;
};

// Sets the library's scan for one scope.
class ScanMode {
 public:
  explicit ScanMode(bool reference) : before_(ReferenceScanForced()) { SetReferenceScan(reference); }
  ~ScanMode() { SetReferenceScan(before_); }
  ScanMode(const ScanMode&) = delete;
  ScanMode& operator=(const ScanMode&) = delete;

 private:
  bool before_;
};

// Which way the fast scan took, or "" when the search ended before scanning.
std::string FastPath(const ScreenImage& screen, const Template& t, const Generated& g) {
  const BitmapRecord& templ = t.record;
  const Rectangle r = NormalizeRectangle(g.x1, g.y1, g.x2, g.y2, screen.width, screen.height);
  if (templ.width > static_cast<std::int64_t>(r.x2) - r.x1 + 1 ||
      templ.height > static_cast<std::int64_t>(r.y2) - r.y1 + 1) {
    return "";
  }
  const ColorTest test = DecodeColorWord(g.color);
  const PreparedTemplate prepared(screen, t, g.options, test);
  const ScanSetup& setup = prepared.Setup();
  if (test.nearColors || prepared.Refusal() != 0) return "";
  const FastScanPlan plan = PlanFastScan(setup, r, DecodeOptions(g.options));
  bool capped = false;
  for (std::int64_t k = 0; k < static_cast<std::int64_t>(templ.width) * templ.height; ++k)
    capped = capped || (!setup.shape && TakesPart(setup, k) && setup.map[k] == 255);
  const char* loops[] = {"single positions", "row blocks", "column strips", "long column strips"};
  std::string path = std::string(setup.shape ? "shape, " : "pattern, ") + loops[static_cast<int>(plan.loop)];
  if (plan.pairTests == 0) path += ", no pair test";
  if (plan.backgroundPixels > 0) path += ", one-third stage";
  if (plan.plainBoxes > 0) path += ", plain boxes";
  if (capped) path += ", value 255 in the map";
  if (setup.opaque != nullptr) path += ", transparent pixels";
  return path;
}

// Whether the fast scan of a near-colour case rules positions out with the
// bound on the misses (NearBounds) before testing their pixels.
bool BoundInUse(const Generated& g) {
  test::PrivateCache cache;
  const Template t = cache.LoadTemplate("bound-probe.bmp", g.file);
  test::HandScreen screen(g.screen.width, g.screen.height, g.screen.topDown, g.fourthByte);
  const Rectangle r = NormalizeRectangle(g.x1, g.y1, g.x2, g.y2, screen.Image().width, screen.Image().height);
  if (t.record.width > static_cast<std::int64_t>(r.x2) - r.x1 + 1 ||
      t.record.height > static_cast<std::int64_t>(r.y2) - r.y1 + 1) {
    return false;
  }
  const PreparedTemplate prepared(screen.Image(), t, g.options, DecodeColorWord(g.color));
  if (prepared.Refusal() != 0) return false;
  const ScanSetup& s = prepared.Setup();
  const NearBounds bounds(s, Candidates(r, s.templateWidth, s.templateHeight, DecodeOptions(g.options)));
  return bounds.Ready();
}

// What the listings of every case came to, per mode: cases, positions
// compared, capped calls and count-only calls. Each test prints and resets it.
struct ListTally {
  int cases = 0;
  long long positions = 0;
  int capped = 0;
  int countOnly = 0;
  int listedAfterSkip = 0;  // cases with a skip count and something listed after it
};
std::map<std::string, ListTally> g_lists;

const char* ModeOf(std::int32_t color) {
  const ColorTest t = DecodeColorWord(color);
  return t.nearColors ? "near" : t.tolerance ? "tolerance" : t.mapColor != -1 ? "shape" : "pattern";
}

// The modes a test must have reached, each in at least `minimumCases` cases
// and with a capped call, and something listed after a skip count.
void PrintListTally(std::initializer_list<const char*> modes, int minimumCases) {
  std::printf(
      "  SearchCaptureAll against the reference's listing: whole lists fast and literal-forced, capped and "
      "count-only calls fast:\n");
  for (const auto& [mode, t] : g_lists) {
    std::printf(
        "    %s: %d cases (%d listing after a skip count), %lld positions listed (each compared both "
        "ways), %d capped calls, %d count-only calls\n",
        mode.c_str(), t.cases, t.listedAfterSkip, t.positions, t.capped, t.countOnly);
  }
  int listedAfterSkip = 0;
  for (const char* mode : modes) {
    EXPECT_GE(g_lists[mode].cases, minimumCases) << mode;
    EXPECT_GT(g_lists[mode].capped, 0) << mode;
    listedAfterSkip += g_lists[mode].listedAfterSkip;
  }
  EXPECT_GT(listedAfterSkip, 0);
  g_lists.clear();
}

// Slots never written hold this.
constexpr std::int32_t kMarker = 0x5A5A5A5A;

// The library's listing of one case, one way, against the reference's `want`
// (code, or positions): the whole list, with a slot to spare and a marker
// after it. With `every`, also a capped call, which must stop at its cap; a
// count-only call, alternately with no slots and with a cap of 0 or below,
// which must write nothing; and outside tolerance mode, what a loop over the
// skip count answers, call by call, for the list's first entries.
void CheckListing(const ScreenImage& screen, const Template& t, const Generated& g,
                  const reference::Listing& want, int i, bool every, const std::string& how) {
  const BitmapRecord& templ = t.record;
  const std::int32_t wantAnswer =
      want.code != 0 ? want.code : static_cast<std::int32_t>(want.positions.size());
  const std::size_t n = want.code != 0 ? 0 : want.positions.size();
  const auto all = [&](void* slots, std::int32_t cap) {
    return SearchCaptureAll(screen, templ, g.x1, g.y1, g.x2, g.y2, g.options, g.color, slots, cap, t.opacity);
  };
  ListTally& tally = g_lists[ModeOf(g.color)];
  std::vector<std::int32_t> slots(n + 2, kMarker);
  EXPECT_EQ(all(slots.data(), static_cast<std::int32_t>(n + 1)), wantAnswer) << how;
  for (std::size_t k = 0; k < n; ++k) EXPECT_EQ(slots[k], want.positions[k]) << how << ", entry " << k;
  EXPECT_EQ(slots[n], kMarker) << how << ": a slot past the list was written";
  EXPECT_EQ(std::set<std::int32_t>(slots.begin(), slots.begin() + static_cast<std::ptrdiff_t>(n)).size(), n)
      << how << ": a place listed twice";
  if (!every) return;
  tally.positions += static_cast<long long>(n);
  if (n >= 2) {
    const auto cap = static_cast<std::int32_t>(1 + static_cast<std::size_t>(i) % (n - 1));
    std::fill(slots.begin(), slots.end(), kMarker);
    EXPECT_EQ(all(slots.data(), cap), cap) << how << ", capped at " << cap;
    for (std::int32_t k = 0; k < cap; ++k)
      EXPECT_EQ(slots[static_cast<std::size_t>(k)], want.positions[static_cast<std::size_t>(k)])
          << how << ", capped, entry " << k;
    EXPECT_EQ(slots[static_cast<std::size_t>(cap)], kMarker) << how << ": a capped call wrote past its cap";
    ++tally.capped;
  }
  std::fill(slots.begin(), slots.end(), kMarker);
  const std::int32_t countOnly =
      i % 2 == 0 ? all(nullptr, 5) : all(slots.data(), i % 4 == 1 ? 0 : INT_MIN + i);
  EXPECT_EQ(countOnly, wantAnswer) << how << ", count only";
  EXPECT_EQ(std::count(slots.begin(), slots.end(), kMarker), static_cast<std::ptrdiff_t>(slots.size()))
      << how << ": a count-only call wrote";
  ++tally.countOnly;
  if (!DecodeColorWord(g.color).tolerance) {
    for (std::size_t k = 0; k < std::min<std::size_t>(n, 3) && (g.options & 0xFFFF) + k <= 0xFFFF; ++k) {
      EXPECT_EQ(SearchCapture(screen, templ, g.x1, g.y1, g.x2, g.y2, g.options + static_cast<std::int32_t>(k),
                              g.color, t.opacity),
                want.positions[k])
          << how << ", the skip loop's answer " << k;
    }
  }
}

// Held pictures searched, by kind: how each case's screen came to be held.
std::map<std::string, int> g_held;

// The case's screen as a saved screenshot, the kind chosen by `i`: a 24-bit
// BMP, a 32-bit BMP with noise in the fourth bytes, a PNG file with an alpha
// channel (which a held picture ignores), and, for a screen of at most 256
// colours, an 8-bit BMP whose table holds them with noise in the fourth bytes.
std::vector<std::uint8_t> ScreenshotOf(const reference::Screen& screen, int i, std::string& kind) {
  const std::int32_t w = screen.width, h = screen.height;
  std::uint32_t noise = static_cast<std::uint32_t>(i) * 2654435761u;
  const auto bits = [&noise] { return noise = noise * 1103515245u + 12345u, noise >> 16; };
  std::vector<std::uint32_t> palette;
  std::vector<std::uint32_t> indices;
  for (const std::uint32_t v : screen.topDown) {
    const auto at = std::find(palette.begin(), palette.end(), v & 0xFFFFFFu);
    if (at == palette.end() && palette.size() < 257) palette.push_back(v & 0xFFFFFFu);
    indices.push_back(static_cast<std::uint32_t>(std::find(palette.begin(), palette.end(), v & 0xFFFFFFu) -
                                                 palette.begin()));
  }
  const int choice = (i / (2 * kEndToEndEvery)) % 4;
  if (choice == 3 && palette.size() <= 256) {
    kind = "8-bit BMP";
    for (std::uint32_t& v : palette) v |= (bits() & 0xFFu) << 24;
    test::BmpLayout layout{w, h, 8, 256, 0, 0};
    return BmpOfValues(layout, palette, indices, bits);
  }
  if (choice == 2) {
    kind = "PNG with alpha";
    std::vector<std::uint16_t> alpha(screen.topDown.size());
    for (auto& a : alpha) a = static_cast<std::uint16_t>(bits());
    return test::EncodePng(w, h, 6, 8, screen.topDown, alpha);
  }
  if (choice == 1) {
    kind = "32-bit BMP";
    return BmpOfValues(test::BmpLayout{w, h, 32, 0, 0, 0}, {}, screen.topDown, bits);
  }
  kind = "24-bit BMP";
  return test::MakeBmp24(w, h, screen.topDown);
}

// The case searched on a held picture of its screen, both scans, while the
// display shows nothing at all: a saved screenshot, or (every other case)
// a capture held before the display went dark. Every answer must be the
// reference's, with positions encoded by the picture's width.
void CheckHeld(const Generated& g, int i, const std::string& file, const reference::Listing& listing,
               std::int32_t expected, const std::string& describe) {
  std::string kind = "capture of the display";
  if (i % (2 * kEndToEndEvery) == 0) {
    platform::SetVirtualScreen(g.screen.width, g.screen.height, g.screen.topDown.data());
    ASSERT_EQ(HoldScreen(nullptr), g.screen.width) << describe;
  } else {
    const std::string shot =
        test::WriteFile("held" + std::to_string(i) + ".bmp", ScreenshotOf(g.screen, i, kind));
    ASSERT_EQ(HoldScreen(shot.c_str()), g.screen.width) << kind << ", " << describe;
  }
  platform::SetVirtualScreen(0, 0, nullptr);
  ++g_held[kind];
  for (const bool reference : {true, false}) {
    const ScanMode mode(reference);
    EXPECT_EQ(SearchImage(file.c_str(), g.x1, g.y1, g.x2, g.y2, g.options, g.color), expected)
        << "held " << kind << ", " << (reference ? "literal" : "fast") << ", " << describe;
    std::vector<std::int32_t> slots(listing.positions.size() + 1, 0x5A5A5A5A);
    const std::int32_t n = SearchImageAll(file.c_str(), g.x1, g.y1, g.x2, g.y2, g.options, g.color,
                                          slots.data(), static_cast<std::int32_t>(slots.size()));
    slots.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    EXPECT_EQ(n, listing.code != 0 ? listing.code : static_cast<std::int32_t>(listing.positions.size()))
        << "held " << kind << ", SearchImageAll, " << describe;
    EXPECT_EQ(slots, listing.positions) << "held " << kind << ", SearchImageAll, " << describe;
  }
  EXPECT_EQ(ReleaseScreen(), 0);
  EXPECT_EQ(ReleaseScreen(), -1);
}

// One case three ways, and through SearchImage both ways when asked; the
// listing of every sighting likewise. Answers the library's result (all
// agree when it returns).
struct Outcome {
  std::int32_t result;
  std::string path;
};
Outcome CheckCase(const Generated& g, int i, bool endToEnd, const char* name) {
  test::PrivateCache cache;
  const char* extension = g.png ? ".png" : ".bmp";
  const Template t = cache.LoadTemplate(std::string(name) + std::to_string(i) + extension, g.file);
  const BitmapRecord& templ = t.record;
  if (!g.png) EXPECT_EQ(templ.fileSize, static_cast<std::int32_t>(g.file.size())) << "case " << i;
  EXPECT_GT(templ.fileSize, 0) << "case " << i;
  // The reference reads a BMP file: this one, or the one a PNG file became.
  const std::vector<std::uint8_t> bmp =
      g.png ? std::vector<std::uint8_t>(templ.fileData, templ.fileData + std::max(templ.fileSize, 0))
            : g.file;
  const reference::Listing listing =
      reference::LiteralSearchAll(bmp, g.screen, g.x1, g.y1, g.x2, g.y2, g.options, g.color, g.clear);
  // SearchImage answers the first of the list.
  const std::int32_t expected = listing.code != 0           ? listing.code
                                : listing.positions.empty() ? kNotFound
                                                            : listing.positions[0];
  test::HandScreen screen(g.screen.width, g.screen.height, g.screen.topDown, g.fourthByte);
  const std::string path = FastPath(screen.Image(), t, g);
  const auto describe = [&] {
    std::ostringstream o;
    o << name << " case " << i << " (" << g.what << "; " << path << "), screen " << g.screen.width << "x"
      << g.screen.height << ", template " << templ.width << "x" << templ.height << ", rectangle " << g.x1
      << "," << g.y1 << " " << g.x2 << "," << g.y2 << ", options 0x" << std::hex << g.options << ", colour 0x"
      << g.color;
    return o.str();
  };
  std::int32_t literal = 0, fast = 0;
  {
    const ScanMode mode(true);
    literal = SearchCapture(screen.Image(), templ, g.x1, g.y1, g.x2, g.y2, g.options, g.color, t.opacity);
    CheckListing(screen.Image(), t, g, listing, i, false,
                 "SearchCaptureAll, forced literal scan, " + describe());
  }
  {
    // These screens are small enough for the literal head start to finish
    // most scans, so it gets a budget of a few pixels, or none: the scan
    // proper runs, resumed wherever the head start stopped.
    const ScanMode mode(false);
    SetHeadStartBudget(i % 3 == 0 ? 0 : (i * 7919) % 97);
    fast = SearchCapture(screen.Image(), templ, g.x1, g.y1, g.x2, g.y2, g.options, g.color, t.opacity);
    CheckListing(screen.Image(), t, g, listing, i, true, "SearchCaptureAll, fast scan, " + describe());
    SetHeadStartBudget(-1);
  }
  ListTally& tally = g_lists[ModeOf(g.color)];
  ++tally.cases;
  if ((g.options & 0xFFFF) != 0 && listing.code == 0 && !listing.positions.empty()) ++tally.listedAfterSkip;
  EXPECT_EQ(literal, expected) << "forced literal scan, " << describe();
  EXPECT_EQ(fast, expected) << "fast scan, " << describe();
  if (endToEnd) {
    platform::SetVirtualScreen(g.screen.width, g.screen.height, g.screen.topDown.data());
    const std::string file =
        test::WriteFile(std::string(name) + "-e2e" + std::to_string(i) + extension, g.file);
    for (const bool reference : {true, false}) {
      const ScanMode mode(reference);
      EXPECT_EQ(SearchImage(file.c_str(), g.x1, g.y1, g.x2, g.y2, g.options, g.color), expected)
          << "SearchImage, " << (reference ? "literal" : "fast") << ", " << describe();
      // The capture of the rectangle alone, placed back on the display.
      std::vector<std::int32_t> slots(listing.positions.size() + 1, kMarker);
      const std::int32_t n = SearchImageAll(file.c_str(), g.x1, g.y1, g.x2, g.y2, g.options, g.color,
                                            slots.data(), static_cast<std::int32_t>(slots.size()));
      slots.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
      EXPECT_EQ(n, listing.code != 0 ? listing.code : static_cast<std::int32_t>(listing.positions.size()))
          << "SearchImageAll, " << (reference ? "literal" : "fast") << ", " << describe();
      EXPECT_EQ(slots, listing.positions) << "SearchImageAll, " << describe();
    }
    CheckHeld(g, i, file, listing, expected, describe());
  }
  return Outcome{fast, path};
}

void PrintCounts(const char* title, const std::map<std::string, int>& counts) {
  std::printf("  %s:", title);
  for (const auto& [k, n] : counts) std::printf("\n    %s: %d", k.c_str(), n);
  std::printf("\n");
}

TEST(SearchDifferential, LibraryAgreesWithTheLiteralScan) {
  Generator gen(0x5EA2C4u);
  std::map<std::string, int> outcomes, paths;
  int endToEnd = 0;
  for (int i = 0; i < kCases; ++i) {
    const Generated g = gen.Next();
    const bool e2e = i % kEndToEndEvery == 0;
    const Outcome out = CheckCase(g, i, e2e, "diff");
    if (::testing::Test::HasFailure()) return;
    const std::int32_t expected = out.result;
    if (e2e) ++endToEnd;
    if (!out.path.empty()) ++paths[out.path];
    const bool position = expected != -1 && expected != -10 && expected != -100;
    ++outcomes[position ? "position" : std::to_string(expected)];
    if (position) {
      const ColorTest test = DecodeColorWord(g.color);
      if (test.mapColor != -1) ++outcomes["found in shape mode"];
      if (test.tolerance) ++outcomes["found with a corner test"];
      if ((g.options & 0xFFFF) != 0) ++outcomes["found after skipping"];
      if (g.what.find("8-bit") == 0) ++outcomes["found with an 8-bit template"];
      if (g.what.find("many") != std::string::npos) ++outcomes["found with >256 values"];
    }
    ++outcomes[g.what];
  }
  // The screen-less case, which the generator does not make.
  std::vector<std::uint8_t> one = test::MakeBmp24(1, 1, {0});
  reference::Screen none;
  EXPECT_EQ(reference::LiteralSearch(one, none, 0, 0, 5, 5, 0, -1), -3);

  std::printf("  %d cases, each fast, literal-forced and reference (%d also through SearchImage both ways)\n",
              kCases, endToEnd);
  PrintCounts("outcomes", outcomes);
  PrintCounts("fast-scan paths", paths);
  PrintListTally({"pattern", "shape", "tolerance", "near"}, kCases / 100);
  PrintCounts(
      "held pictures searched instead of the dark display (SearchImage and SearchImageAll, both scans)",
      g_held);
  for (const char* kind :
       {"capture of the display", "24-bit BMP", "32-bit BMP", "PNG with alpha", "8-bit BMP"})
    EXPECT_GT(g_held[kind], endToEnd / 40) << kind;
  g_held.clear();
  // The generator must keep reaching every outcome, or agreement means little.
  EXPECT_GT(outcomes["position"], kCases / 8);
  EXPECT_GT(outcomes["found in shape mode"], kCases / 100);
  EXPECT_GT(outcomes["found with a corner test"], kCases / 100);
  EXPECT_GT(outcomes["found after skipping"], kCases / 100);
  EXPECT_GT(outcomes["found with an 8-bit template"], kCases / 100);
  EXPECT_GT(outcomes["found with >256 values"], 10);
  EXPECT_GT(outcomes["-1"], kCases / 10);
  EXPECT_GT(outcomes["-10"], kCases / 20);
  EXPECT_GT(outcomes["-100"], kCases / 50);
}

// Screens and templates where a shortcut would most likely go wrong: uniform
// screens, thin stripes, checkers, noise of two or three colours, screens
// and templates with more than 256 values, templates of mostly one colour
// (in shape mode with the main colour too, where the one-third rule decides),
// wide enough that the fast scan works in blocks of positions.
class Adversary {
 public:
  explicit Adversary(std::uint32_t seed) : rng_(seed) {}

  Generated Next(bool tall) {
    Generated g;
    const int W = tall ? Uniform(16, 24) : Uniform(8, 90);
    const int H = tall ? Uniform(4100, 4300) : Uniform(6, 50);
    g.screen.width = W;
    g.screen.height = H;
    g.screen.topDown.resize(static_cast<std::size_t>(W) * H);
    std::vector<std::uint32_t> c;
    for (int i = 0; i < 4; ++i) c.push_back(RandomColor());
    const int kind = Uniform(0, 7);
    const int sw = Uniform(1, 3), sh = Uniform(1, 3), nc = Uniform(2, 3);
    const char* kinds[] = {"uniform", "vertical stripes", "horizontal stripes",
                           "checker", "few-colour noise", "256+ colours",
                           "desktop", "smooth sky"};
    g.what = kinds[kind];
    for (int y = 0; y < H; ++y) {
      for (int x = 0; x < W; ++x) {
        std::uint32_t v = c[0];
        switch (kind) {
          case 1:
            v = c[static_cast<std::size_t>((x / sw) % nc)];
            break;
          case 2:
            v = c[static_cast<std::size_t>((y / sh) % nc)];
            break;
          case 3:
            v = c[static_cast<std::size_t>((x / sw + y / sh) % 2)];
            break;
          case 4:
            v = c[static_cast<std::size_t>(Uniform(0, nc - 1))];
            break;
          case 5:
            v = Chance(3) ? static_cast<std::uint32_t>(x * 977 + y * 31337) & 0xFFFFFF : RandomColor();
            break;
          case 7:
            // Bands a few rows high whose colour also drifts slowly across:
            // a window shifted sideways shows nearly the same pixels.
            v = (c[0] + static_cast<std::uint32_t>(y / sh) * 0x010203u +
                 static_cast<std::uint32_t>(x / (8 * sw))) &
                0xFFFFFF;
            break;
          default:
            break;
        }
        g.screen.topDown[static_cast<std::size_t>(y) * W + x] = v;
      }
    }
    if (kind == 6) {
      for (int n = Uniform(1, 6); n > 0; --n) {
        const int x0 = Uniform(0, W - 1), y0 = Uniform(0, H - 1);
        const int x1 = Uniform(x0, W - 1), y1 = Uniform(y0, H - 1);
        const std::uint32_t v = c[static_cast<std::size_t>(Uniform(1, 3))];
        for (int y = y0; y <= y1; ++y)
          for (int x = x0; x <= x1; ++x) g.screen.topDown[static_cast<std::size_t>(y) * W + x] = v;
      }
    }

    // The template.
    const bool many = kind == 5 && W >= 17 && H >= 16 && Chance(3);
    const int tw = many ? 17 : Uniform(1, std::min(tall ? 6 : 20, W));
    const int th = many ? 16 : Uniform(1, std::min(16, H));
    std::vector<std::uint32_t> t(static_cast<std::size_t>(tw) * th);
    const int tkind = many ? 0 : Uniform(0, 2);
    const int cx = Uniform(0, W - tw), cy = Uniform(0, H - th);
    for (int y = 0; y < th; ++y)
      for (int x = 0; x < tw; ++x)
        t[static_cast<std::size_t>(y) * tw + x] =
            g.screen.topDown[static_cast<std::size_t>(cy + y) * W + cx + x];
    if (tkind == 0) {
      g.what += many ? ", 256+ template cut" : ", cut";
      for (int n = Pick<int>({0, 0, 1, 2}); n > 0; --n)
        t[static_cast<std::size_t>(Uniform(0, tw * th - 1))] = RandomColor();
    } else if (tkind == 1) {
      g.what += ", mostly one colour";
      std::fill(t.begin(), t.end(), Chance(2) ? c[0] : RandomColor());
      const std::uint32_t other = Chance(2) ? c[1] : RandomColor();
      for (int n = Uniform(0, 4); n > 0; --n) {
        // Often in the top row, the last the literal test reaches.
        const int y = Chance(2) ? 0 : Uniform(0, th - 1);
        t[static_cast<std::size_t>(y) * tw + Uniform(0, tw - 1)] = Chance(3) ? RandomColor() : other;
      }
    } else {
      g.what += ", cut and recoloured";
      std::map<std::uint32_t, std::uint32_t> recolor;
      for (auto& v : t) {
        const auto it = recolor.find(v);
        v = it != recolor.end() ? it->second : (recolor[v] = RandomColor());
      }
    }
    // On a smooth screen, the (changed) template also shown somewhere whole,
    // after windows that pass all but a pixel or two of its tests.
    if (kind == 7 && Chance(2)) {
      const int px = Uniform(0, W - tw), py = Uniform(0, H - th);
      g.what += ", shown";
      for (int y = 0; y < th; ++y)
        for (int x = 0; x < tw; ++x)
          g.screen.topDown[static_cast<std::size_t>(py + y) * W + px + x] =
              t[static_cast<std::size_t>(y) * tw + x];
    }
    const bool thirtyTwo = Chance(3);
    if (thirtyTwo) {
      test::BmpLayout header;
      header.width = tw;
      header.height = th;
      header.bitCount = 32;
      std::vector<std::uint8_t> px(static_cast<std::size_t>(tw) * th * 4);
      for (int y = 0; y < th; ++y) {
        for (int x = 0; x < tw; ++x) {
          const std::uint32_t v = t[static_cast<std::size_t>(y) * tw + x];
          std::uint8_t* p = &px[(static_cast<std::size_t>(th - 1 - y) * tw + x) * 4];
          p[0] = static_cast<std::uint8_t>(v);
          p[1] = static_cast<std::uint8_t>(v >> 8);
          p[2] = static_cast<std::uint8_t>(v >> 16);
          p[3] = static_cast<std::uint8_t>(Bits());
        }
      }
      g.file = test::MakeBmp(header, {}, px);
    } else {
      g.file = test::MakeBmp24(tw, th, t);
    }

    // The colour word: pattern, shape in the main colour or another one the
    // template has, or a corner test.
    const int mode = Uniform(0, 9);
    if (mode < 4) {
      g.color = -1;
    } else if (mode < 6) {
      std::map<std::uint32_t, int> count;
      for (const auto v : t) ++count[v];
      std::uint32_t top = t[0];
      for (const auto& [v, n] : count)
        if (n > count[top]) top = v;
      g.color = static_cast<std::int32_t>(top);
      g.what += ", shape in the main colour";
    } else if (mode < 8) {
      g.color = static_cast<std::int32_t>(t[static_cast<std::size_t>(Uniform(0, tw * th - 1))]);
      g.what += ", shape";
    } else {
      const std::uint32_t channel = Pick<std::uint32_t>({0, 255, Bits() % 40});
      const std::uint32_t sum = Pick<std::uint32_t>({0, 765, Bits() % 100});
      g.color = static_cast<std::int32_t>(0x10000000u | (Bits() & 0x03000000u) | channel << 16 | sum);
      g.what += ", corner test";
    }

    const int skip = Pick<int>({0, 0, 0, 1, 2, 5, 40});
    g.options = static_cast<std::int32_t>((Bits() & 0x70000u) | static_cast<std::uint32_t>(skip));
    if (tall) g.options |= 1 << 18;  // column by column: a column longer than the remembered masks
    if (!tall && Chance(3)) {
      g.x1 = Uniform(-3, W / 2);
      g.x2 = Uniform(W / 2, W + 3);
      g.y1 = Uniform(-3, H / 2);
      g.y2 = Uniform(H / 2, H + 3);
      if (Chance(2)) std::swap(g.x1, g.x2);
    } else {
      g.x1 = 0;
      g.y1 = 0;
      g.x2 = W - 1;
      g.y2 = H - 1;
    }
    g.fourthByte = static_cast<std::uint8_t>(Bits());
    return g;
  }

 private:
  int Uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  bool Chance(int oneIn) { return Uniform(1, oneIn) == 1; }
  std::uint32_t Bits() { return static_cast<std::uint32_t>(rng_()); }
  std::uint32_t RandomColor() { return Bits() & 0xFFFFFF; }
  template <typename T>
  T Pick(std::initializer_list<T> values) {
    return values.begin()[Uniform(0, static_cast<int>(values.size()) - 1)];
  }

  std::mt19937 rng_;
};

TEST(SearchDifferential, AdversarialScreensAndTemplates) {
  constexpr int kAdversarialCases = 900;
  constexpr int kTallCases = 3;
  Adversary gen(0xAD5E7u);
  std::map<std::string, int> outcomes, paths;
  int endToEnd = 0;
  for (int i = 0; i < kAdversarialCases + kTallCases; ++i) {
    const Generated g = gen.Next(i >= kAdversarialCases);
    const bool e2e = i % 4 == 0;
    const Outcome out = CheckCase(g, i, e2e, "adv");
    if (::testing::Test::HasFailure()) return;
    if (e2e) ++endToEnd;
    if (!out.path.empty()) ++paths[out.path];
    const bool position = out.result != -1 && out.result != -10 && out.result != -100;
    ++outcomes[position ? "position" : std::to_string(out.result)];
    ++outcomes[g.what.substr(0, g.what.find(','))];
    if (position && g.what.find("shape in the main") != std::string::npos)
      ++outcomes["found, shape in the main colour"];
    if (position && g.what.find("256+ template") != std::string::npos) ++outcomes["found, 256+ template"];
  }
  std::printf("  %d cases, each fast, literal-forced and reference (%d also through SearchImage both ways)\n",
              kAdversarialCases + kTallCases, endToEnd);
  PrintCounts("outcomes", outcomes);
  PrintCounts("fast-scan paths", paths);
  PrintListTally({"pattern", "shape", "tolerance"}, kAdversarialCases / 20);
  PrintCounts("held pictures searched instead of the dark display", g_held);
  g_held.clear();
  EXPECT_GT(outcomes["position"], kAdversarialCases / 4);
  EXPECT_GT(outcomes["-1"], kAdversarialCases / 10);
  EXPECT_GT(outcomes["found, shape in the main colour"], kAdversarialCases / 50);
  EXPECT_GT(outcomes["found, 256+ template"], 5);
  int thirds = 0, capped = 0, longColumns = 0;
  for (const auto& [k, n] : paths) {
    if (k.find("long column") != std::string::npos) longColumns += n;
    if (k.find("one-third") != std::string::npos) thirds += n;
    if (k.find("255") != std::string::npos) capped += n;
  }
  EXPECT_GT(thirds, kAdversarialCases / 50);
  EXPECT_GT(capped, 10);
  EXPECT_GT(longColumns, 0);
}

// Where the scan proper differs most from a literal walk: windows too large
// for the head start, checked coarse to fine, that fail only far from their
// first row (a speck on a plain page, one pixel changed near the top); plain
// and two-colour templates over plain areas; templates with a few dozen and
// with more than 255 colours, whose first pixels of each number must differ
// on screen; shape templates whose background is near the one-third limit.
TEST(SearchDifferential, LargeWindowsThatFailLate) {
  constexpr int kLateCases = 120;
  std::mt19937 rng(0x1A7E5u);
  const auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  const auto color = [&] { return static_cast<std::uint32_t>(rng()) & 0xFFFFFF; };
  std::map<std::string, int> outcomes;
  for (int i = 0; i < kLateCases; ++i) {
    Generated g;
    const int W = uniform(36, 72), H = uniform(28, 48);
    g.screen.width = W;
    g.screen.height = H;
    const int kind = uniform(0, 3);
    const std::uint32_t paper = color(), ink = color();
    const int a = uniform(1, 5), b = uniform(1, 5);
    g.screen.topDown.resize(static_cast<std::size_t>(W) * H);
    for (int y = 0; y < H; ++y) {
      for (int x = 0; x < W; ++x) {
        std::uint32_t v = paper;
        if (kind == 0 && uniform(0, 60) == 0) v = ink;  // specks on a page
        if (kind == 1)
          v = static_cast<std::uint32_t>(x / a * 40 + y / b * 7000) & 0xFFFFFF;  // steps of colour
        if (kind == 2 && (x % 17 < 2 || y % 13 < 2)) v = ink;                    // a grid of boxes
        if (kind == 3) v = uniform(0, 1) == 0 ? color() : paper + static_cast<std::uint32_t>(x % 30 + y % 9);
        g.screen.topDown[static_cast<std::size_t>(y) * W + x] = v;
      }
    }
    const char* kinds[] = {"specks", "colour steps", "box grid", "mixed"};
    const int tw = uniform(12, std::min(36, W)), th = uniform(10, std::min(24, H));
    const int cx = uniform(0, W - tw), cy = uniform(0, H - th);
    std::vector<std::uint32_t> t(static_cast<std::size_t>(tw) * th);
    for (int y = 0; y < th; ++y)
      for (int x = 0; x < tw; ++x)
        t[static_cast<std::size_t>(y) * tw + x] =
            g.screen.topDown[static_cast<std::size_t>(cy + y) * W + cx + x];
    const int change = uniform(0, 3);
    if (change == 1)
      t[static_cast<std::size_t>(uniform(0, 1)) * tw + uniform(0, tw - 1)] = color();  // near the top
    if (change == 2) std::fill(t.begin(), t.end(), paper);
    g.file = test::MakeBmp24(tw, th, t);
    std::map<std::uint32_t, int> count;
    for (const auto v : t) ++count[v];
    const int mode = uniform(0, 9);
    if (mode < 6) {
      g.color = -1;
    } else if (mode < 9) {
      std::uint32_t top = t[0];
      for (const auto& [v, n] : count)
        if (n > count[top] || (mode == 8 && n < count[top])) top = v;
      g.color = static_cast<std::int32_t>(top);
    } else {
      g.color = static_cast<std::int32_t>(0x10000000u | (rng() & 0x03000000u) | 30u << 16 | 60u);
    }
    g.options = static_cast<std::int32_t>(
        (rng() & 0x70000u) | static_cast<std::uint32_t>(uniform(0, 2) == 0 ? uniform(1, 20) : 0));
    g.x1 = 0;
    g.y1 = 0;
    g.x2 = W - 1;
    g.y2 = H - 1;
    g.fourthByte = static_cast<std::uint8_t>(rng());
    g.what = std::string(kinds[kind]) + (count.size() > 255  ? ", 256+ colours"
                                         : count.size() > 24 ? ", 25-255 colours"
                                                             : "");
    const Outcome out = CheckCase(g, i, i % 8 == 0, "late");
    if (::testing::Test::HasFailure()) return;
    const bool position = out.result != -1 && out.result != -10 && out.result != -100;
    ++outcomes[position ? "position" : std::to_string(out.result)];
    ++outcomes[g.what];
    if (position && g.color != -1 && g.color < 0x10000000) ++outcomes["found in shape mode"];
  }
  PrintCounts("outcomes", outcomes);
  PrintListTally({"pattern", "shape", "tolerance"}, kLateCases / 20);
  EXPECT_GT(outcomes["position"], kLateCases / 4);
  EXPECT_GT(outcomes["-1"], kLateCases / 10);
  EXPECT_GT(outcomes["found in shape mode"], kLateCases / 20);
  EXPECT_GT(outcomes["colour steps, 25-255 colours"] + outcomes["mixed, 25-255 colours"], kLateCases / 20);
  EXPECT_GT(outcomes["colour steps, 256+ colours"] + outcomes["mixed, 256+ colours"], kLateCases / 40);
}

// Shape mode on screens of plain blocks, where windows are ruled out by boxes
// of the template that show one colour: templates whose background after the
// first marked pixel sits just above and just below the one-third limit,
// copies whose background shows the shape's colour in about that share, the
// key colour's pixels left out (bit 19), screens wider than a stripe of the
// box table, every scan order. Speckled screens, two plain colours sprinkled
// with other ones, defeat the boxes: there the windows are ruled out by the
// rows' counts of one colour, which must follow the screen from one plain
// colour to the other.
TEST(SearchDifferential, ShapeBoxesOnPlainAreas) {
  constexpr int kBoxCases = 400;
  std::mt19937 rng(0xB0C5u);
  // On screens this small the table and the counts never pay for
  // themselves; used anyway.
  AlwaysBuildPlainBoxes(true);
  AlwaysUseColourCounts(true);
  const auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  const auto color = [&] { return static_cast<std::uint32_t>(rng()) & 0xFFFFFF; };
  std::map<std::string, int> outcomes, paths;
  for (int i = 0; i < kBoxCases; ++i) {
    Generated g;
    const bool wide = uniform(0, 5) == 0, speckled = !wide && uniform(0, 3) == 0;
    const int tw = uniform(3, wide ? 12 : 20), th = uniform(3, wide ? 8 : 14);
    const int W = wide       ? uniform(515, 560)
                  : speckled ? uniform(200, 400)
                             : uniform(tw, 90),
              H = wide       ? uniform(th, th + 6)
                  : speckled ? uniform(th + 20, th + 60)
                             : uniform(th, 40);
    const std::uint32_t paper = color(), ink = uniform(0, 2) == 0 ? paper : color(),
                        other = speckled ? paper : color(), key = color(), second = color();
    // The template: marked blobs on background, a key-coloured corner now and then.
    const int share = uniform(15, 70);
    std::vector<std::uint32_t> t(static_cast<std::size_t>(tw) * th);
    for (auto& v : t) v = uniform(0, 99) < share ? ink : other;
    const bool keyed = uniform(0, 3) == 0;
    if (keyed)
      for (int y = 0; y < th / 2; ++y)
        for (int x = 0; x < tw / 3; ++x) t[static_cast<std::size_t>(y) * tw + x] = key;
    t[static_cast<std::size_t>(th - 1) * tw + tw / 2] = ink;
    g.file = test::MakeBmp24(tw, th, t);
    g.color = static_cast<std::int32_t>(ink);
    // The screen: plain blocks, a few specks, copies whose background shows
    // the shape's colour now and then.
    g.screen.width = W;
    g.screen.height = H;
    g.screen.topDown.assign(static_cast<std::size_t>(W) * H, paper);
    for (int blocks = uniform(0, 3); blocks > 0; --blocks) {
      const int bx = uniform(0, W - 1), by = uniform(0, H - 1), bw = uniform(1, W), bh = uniform(1, H);
      const std::uint32_t v = uniform(0, 1) == 0 ? color() : other;
      for (int y = by; y < std::min(H, by + bh); ++y)
        for (int x = bx; x < std::min(W, bx + bw); ++x)
          g.screen.topDown[static_cast<std::size_t>(y) * W + x] = v;
    }
    if (speckled) {
      const bool across = uniform(0, 1) == 0;
      for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
          if (across ? 2 * y >= H : 2 * x >= W)
            g.screen.topDown[static_cast<std::size_t>(y) * W + x] = second;
    }
    for (int specks = speckled ? W * H / uniform(6, 40) : uniform(0, 6); specks > 0; --specks)
      g.screen.topDown[static_cast<std::size_t>(uniform(0, H - 1)) * W + uniform(0, W - 1)] = color();
    const int inShape = uniform(0, 3) == 0 ? 100 : uniform(20, 45);
    for (int copies = uniform(speckled ? 2 : 0, speckled ? 6 : 3); copies > 0; --copies) {
      const int cx = uniform(0, W - tw), cy = uniform(0, H - th);
      // On a speckled screen, copies in the second colour on the first: the
      // background of a match then shows a colour counted before.
      const std::uint32_t shown = speckled ? second : uniform(0, 1) == 0 ? paper : color();
      for (int y = 0; y < th; ++y) {
        for (int x = 0; x < tw; ++x) {
          const std::uint32_t v = t[static_cast<std::size_t>(y) * tw + x];
          std::uint32_t& s = g.screen.topDown[static_cast<std::size_t>(cy + y) * W + cx + x];
          if (v == ink)
            s = shown;
          else if (v == other)
            s = uniform(0, 99) < inShape ? shown : other;
          else if (uniform(0, 1) == 0)
            s = color();
        }
      }
    }
    g.options = static_cast<std::int32_t>((rng() & 0x70000u) | (keyed ? 0x80000u : 0) |
                                          static_cast<std::uint32_t>(uniform(0, 3) == 0 ? uniform(1, 9) : 0));
    g.x1 = 0;
    g.y1 = 0;
    g.x2 = W - 1;
    g.y2 = H - 1;
    g.fourthByte = static_cast<std::uint8_t>(rng());
    g.what = std::string(wide ? "wide" : speckled ? "speckled" : "narrow") + (keyed ? ", key colour" : "");
    const Outcome out = CheckCase(g, i, i % 16 == 0, "boxes");
    if (::testing::Test::HasFailure()) break;
    if (!out.path.empty()) ++paths[out.path];
    const bool position = out.result != -1 && out.result != -10 && out.result != -100;
    ++outcomes[position ? "position" : std::to_string(out.result)];
    ++outcomes[g.what];
    if (out.path.find("plain boxes") != std::string::npos)
      ++outcomes[position ? "boxes, found" : "boxes, not found"];
  }
  AlwaysBuildPlainBoxes(false);
  AlwaysUseColourCounts(false);
  if (::testing::Test::HasFailure()) return;
  PrintCounts("outcomes", outcomes);
  PrintCounts("fast-scan paths", paths);
  EXPECT_GT(outcomes["boxes, found"], kBoxCases / 10);
  EXPECT_GT(outcomes["boxes, not found"], kBoxCases / 20);
  int boxPaths = 0;
  for (const auto& [k, n] : paths) boxPaths += k.find("plain boxes") != std::string::npos ? n : 0;
  EXPECT_GT(boxPaths, kBoxCases / 4);
}

// The near-colour mode on templates of every depth: copies of the template on
// the screen with every channel shifted by up to d, some pixels replaced, and
// colour words whose tolerance n and share p sit at 0, around what the copies
// need, in between and at their limits (p over 100 too), some with bits 16-27
// set. Small screens and wide ones (blocks of eight, column strips).
TEST(SearchDifferential, NearColorsAgreeWithTheLiteralScan) {
  constexpr int kNearCases = 1500;
  std::mt19937 rng(0x2EA4u);
  const auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  const auto bits = [&] { return static_cast<std::uint32_t>(rng()); };
  std::map<std::string, int> outcomes;
  for (int i = 0; i < kNearCases; ++i) {
    Generated g;
    const int bitCount = std::initializer_list<int>{8, 16, 24, 32}.begin()[uniform(0, 3)];
    const bool wide = uniform(0, 2) == 0;
    const int tw = uniform(1, wide ? 16 : 8), th = uniform(1, wide ? 12 : 7);
    // The template's pixels as stored values and as the colours the test sees.
    std::vector<std::uint32_t> palette(256);
    for (auto& e : palette) e = bits() & (uniform(0, 3) == 0 ? 0xFFFFFFFFu : 0xFFFFFFu);
    const int distinct = uniform(1, 6);
    std::vector<std::uint32_t> stored(static_cast<std::size_t>(tw) * th), seen(stored.size());  // top-down
    std::vector<std::uint32_t> values;
    for (int v = 0; v < distinct; ++v) values.push_back(bits());
    for (std::size_t k = 0; k < stored.size(); ++k) {
      const std::uint32_t v =
          uniform(0, 9) == 0 ? bits() : values[static_cast<std::size_t>(uniform(0, distinct - 1))];
      if (bitCount == 8) {
        stored[k] = v & 0xFF;
        seen[k] = palette[stored[k]] & 0xFFFFFF;
      } else if (bitCount == 16) {
        stored[k] = v & 0x7FFF;
        seen[k] = Widened555(stored[k]);
      } else {
        stored[k] = seen[k] = v & 0xFFFFFF;
      }
    }
    test::BmpLayout header;
    header.width = tw;
    header.height = th;
    header.bitCount = static_cast<std::uint16_t>(bitCount);
    if (bitCount == 8) header.paletteEntries = 256;
    g.file = BmpOfValues(header, palette, stored, bits);
    g.what = std::to_string(bitCount) + "-bit";

    // The screen: noise of a few colours, sometimes one, with shifted copies.
    const int W = uniform(tw, wide ? 60 : 30), H = uniform(th, wide ? 40 : 24);
    g.screen.width = W;
    g.screen.height = H;
    std::vector<std::uint32_t> noise;
    for (int k = uniform(1, 4); k > 0; --k) noise.push_back(bits() & 0xFFFFFF);
    noise.push_back(seen[0]);
    g.screen.topDown.resize(static_cast<std::size_t>(W) * H);
    for (auto& v : g.screen.topDown)
      v = noise[static_cast<std::size_t>(uniform(0, static_cast<int>(noise.size()) - 1))];
    const int d = std::initializer_list<int>{0, 1, 3, 12, 40}.begin()[uniform(0, 4)];
    int replaced = 0;
    for (int copies = uniform(0, 3); copies > 0; --copies) {
      const int cx = uniform(0, W - tw), cy = uniform(0, H - th);
      for (int y = 0; y < th; ++y) {
        for (int x = 0; x < tw; ++x) {
          std::uint32_t c = seen[static_cast<std::size_t>(y) * tw + x], out = 0;
          for (int ch = 0; ch < 3; ++ch) {
            const int v = std::clamp(static_cast<int>(c >> (8 * ch) & 0xFF) + uniform(-d, d), 0, 255);
            out |= static_cast<std::uint32_t>(v) << (8 * ch);
          }
          if (uniform(0, 15) == 0) {
            out = bits() & 0xFFFFFF;
            ++replaced;
          }
          g.screen.topDown[static_cast<std::size_t>(cy + y) * W + cx + x] = out;
        }
      }
    }

    // The colour word.
    const int n = std::initializer_list<int>{0, 255, std::max(d - 1, 0), d, d + 1, uniform(0, 255)}
                      .begin()[uniform(0, 5)];
    const int percent = std::initializer_list<int>{0,
                                                   0,
                                                   100,
                                                   uniform(101, 255),
                                                   uniform(1, 30),
                                                   (100 * replaced + tw * th - 1) / std::max(tw * th, 1)}
                            .begin()[uniform(0, 5)];
    const std::uint32_t high = uniform(0, 3) == 0 ? bits() & 0x0FFF0000u : 0;
    g.color = static_cast<std::int32_t>(0x20000000u | high | static_cast<std::uint32_t>(percent) << 8 |
                                        static_cast<std::uint32_t>(n));
    const int skip = std::initializer_list<int>{0, 0, 0, 1, 2, uniform(3, 30)}.begin()[uniform(0, 5)];
    g.options = static_cast<std::int32_t>((bits() & 0x70000u) | static_cast<std::uint32_t>(skip));
    if (uniform(0, 4) == 0) {
      g.x1 = uniform(-3, W);
      g.y1 = uniform(-3, H);
      g.x2 = uniform(-3, W + 3);
      g.y2 = uniform(-3, H + 3);
    } else {
      g.x1 = 0;
      g.y1 = 0;
      g.x2 = W - 1;
      g.y2 = H - 1;
    }
    g.fourthByte = static_cast<std::uint8_t>(bits());

    const Outcome out = CheckCase(g, i, i % 8 == 0, "near");
    if (::testing::Test::HasFailure()) return;
    const bool position = out.result != -1 && out.result != -10;
    ++outcomes[position ? "position" : std::to_string(out.result)];
    ++outcomes[g.what];
    if (position) {
      ++outcomes["found, " + g.what];
      if (n == 0) ++outcomes["found with n = 0"];
      if (n > 0 && n < 255) ++outcomes["found with n between 0 and 255"];
      if (percent == 0) ++outcomes["found with p = 0"];
      if (percent > 0 && percent < 100) ++outcomes["found with p between 0 and 100"];
      if (percent >= 100) ++outcomes["found with p of 100 or more"];
      if (high != 0) ++outcomes["found with bits 16-27 set"];
      if (skip > 0) ++outcomes["found after skipping"];
      if (wide) ++outcomes["found on a wide screen"];
    }
  }
  PrintCounts("outcomes", outcomes);
  PrintListTally({"near"}, kNearCases);
  EXPECT_EQ(outcomes["-100"], 0) << "the near-colour mode has no colour map to refuse";
  EXPECT_GT(outcomes["position"], kNearCases / 4);
  EXPECT_GT(outcomes["-1"], kNearCases / 5);
  for (const char* depth : {"8-bit", "16-bit", "24-bit", "32-bit"})
    EXPECT_GT(outcomes[std::string("found, ") + depth], kNearCases / 40) << depth;
  for (const char* kind : {"found with n = 0", "found with n between 0 and 255", "found with p = 0",
                           "found with p between 0 and 100", "found with p of 100 or more",
                           "found with bits 16-27 set", "found after skipping", "found on a wide screen"}) {
    EXPECT_GT(outcomes[kind], kNearCases / 60) << kind;
  }
}

// Near colours with misses allowed, aimed at the bound on the misses that
// rules positions out before their pixels are tested: templates large enough
// for its tiles, of two tones (text on a page) or of many, whose channels sit
// on either side of the thresholds it tries (16, 32, ... 240) by the
// tolerance give or take one; copies of them shifted by up to n, with as many
// pixels replaced as are allowed, give or take one; odd sizes, the key colour
// transparent, every order, skip counts and listings.
TEST(SearchDifferential, NearBoundsAgreeWithTheLiteralScan) {
  constexpr int kBoundCases = 500;
  std::mt19937 rng(0xB0D5u);
  const auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  const auto bits = [&] { return static_cast<std::uint32_t>(rng()); };
  std::map<std::string, int> outcomes;
  for (int i = 0; i < kBoundCases; ++i) {
    Generated g;
    const int bitCount = uniform(0, 3) == 0 ? 32 : 24;
    // Now and then more pixels than the near tests keep bands for (4096).
    const bool large = uniform(0, 24) == 0;
    const int tw = large ? uniform(70, 90) : uniform(5, 41), th = large ? uniform(59, 64) : uniform(2, 23);
    const int n = std::initializer_list<int>{0, 3, 8, 16, 24, uniform(0, 60)}.begin()[uniform(0, 5)];
    const int percent = uniform(0, 4) == 0 ? uniform(31, 100) : uniform(1, 30);
    // A channel value on the edge of a threshold's sets: 16 k + n or 16 k - n,
    // off by one either way, else anything.
    const auto edgy = [&] {
      if (uniform(0, 2) == 0) return uniform(0, 255);
      const int v = 16 * uniform(1, 15) + (uniform(0, 1) == 0 ? n : -n) + uniform(-1, 1);
      return std::clamp(v, 0, 255);
    };
    const auto colour = [&] { return static_cast<std::uint32_t>(edgy() | edgy() << 8 | edgy() << 16); };
    const bool twoTone = uniform(0, 1) == 0;
    std::vector<std::uint32_t> tones;
    for (int k = twoTone ? 2 : uniform(3, 12); k > 0; --k) tones.push_back(colour());
    std::vector<std::uint32_t> seen(static_cast<std::size_t>(tw) * th);  // top-down
    for (std::size_t k = 0; k < seen.size(); ++k) {
      // Two tones in strokes a few pixels long, like glyphs on a page.
      const bool stroke = twoTone && (k % static_cast<std::size_t>(tw)) % 5 < 2 && uniform(0, 2) > 0;
      seen[k] = twoTone ? tones[stroke ? 1 : 0]
                        : tones[static_cast<std::size_t>(uniform(0, static_cast<int>(tones.size()) - 1))];
    }
    test::BmpLayout header;
    header.width = tw;
    header.height = th;
    header.bitCount = static_cast<std::uint16_t>(bitCount);
    g.file = BmpOfValues(header, {}, seen, bits);
    const bool keyed = uniform(0, 3) == 0;
    std::size_t opaque = 0;
    for (const std::uint32_t v : seen) opaque += !keyed || v != seen[0] ? 1 : 0;
    const int allowed = static_cast<int>(static_cast<std::size_t>(percent) * opaque / 100);

    // The screen: the template's tones in rows of strokes, and copies.
    const int W = uniform(tw + 8, tw + 40), H = uniform(th, th + 24);
    g.screen.width = W;
    g.screen.height = H;
    g.screen.topDown.resize(static_cast<std::size_t>(W) * H);
    const int period = uniform(2, 7);
    for (std::size_t k = 0; k < g.screen.topDown.size(); ++k) {
      const bool stroke = (k % static_cast<std::size_t>(W)) % static_cast<std::size_t>(period) < 2;
      g.screen.topDown[k] = uniform(0, 9) == 0 ? colour() : tones[stroke ? tones.size() - 1 : 0];
    }
    for (int copies = uniform(0, 3); copies > 0; --copies) {
      const int cx = uniform(0, W - tw), cy = uniform(0, H - th);
      const int shift = std::clamp(n + uniform(-1, 1), 0, 255);
      // Replaced pixels: as many as are allowed, give or take one.
      const int replaced = std::max(allowed + uniform(-1, 1), 0);
      for (int y = 0; y < th; ++y) {
        for (int x = 0; x < tw; ++x) {
          std::uint32_t out = 0;
          for (int ch = 0; ch < 3; ++ch) {
            const int v = static_cast<int>(seen[static_cast<std::size_t>(y) * tw + x] >> (8 * ch) & 0xFF);
            out |= static_cast<std::uint32_t>(std::clamp(v + uniform(-shift, shift), 0, 255)) << (8 * ch);
          }
          g.screen.topDown[static_cast<std::size_t>(cy + y) * W + cx + x] = out;
        }
      }
      for (int r = 0; r < replaced; ++r) {
        g.screen.topDown[static_cast<std::size_t>(cy + uniform(0, th - 1)) * W + cx + uniform(0, tw - 1)] =
            colour();
      }
    }
    g.color = static_cast<std::int32_t>(0x20000000u | static_cast<std::uint32_t>(percent) << 8 |
                                        static_cast<std::uint32_t>(n));
    const int skip = std::initializer_list<int>{0, 0, 0, 1, 2, uniform(3, 9)}.begin()[uniform(0, 5)];
    g.options = static_cast<std::int32_t>((bits() & 0x70000u) | (keyed ? 0x80000u : 0) |
                                          static_cast<std::uint32_t>(skip));
    g.x1 = 0;
    g.y1 = 0;
    g.x2 = W - 1;
    g.y2 = H - 1;
    if (uniform(0, 3) == 0) {
      g.x1 = uniform(0, 5);
      g.y1 = uniform(0, 3);
      g.x2 = uniform(W - 6, W + 2);
      g.y2 = uniform(H - 4, H + 2);
    }
    g.fourthByte = static_cast<std::uint8_t>(bits());
    g.what = twoTone ? "two tones" : "many tones";

    const bool bound = BoundInUse(g);
    const Outcome out = CheckCase(g, i, i % 25 == 0, "bounds");
    if (::testing::Test::HasFailure()) return;
    const bool position = out.result != -1 && out.result != -10;
    ++outcomes[std::string(bound ? "bound in use, " : "no bound, ") + (position ? "found" : "not found")];
    if (bound && keyed) ++outcomes["bound in use, key colour transparent"];
    if (bound && skip > 0) ++outcomes["bound in use, skip count"];
    if (large && position) ++outcomes["over 4096 pixels, found"];
  }
  PrintCounts("outcomes", outcomes);
  PrintListTally({"near"}, kBoundCases);
  EXPECT_GT(outcomes["bound in use, found"], kBoundCases / 10);
  EXPECT_GT(outcomes["bound in use, not found"], kBoundCases / 10);
  EXPECT_GT(outcomes["bound in use, key colour transparent"], kBoundCases / 40);
  EXPECT_GT(outcomes["bound in use, skip count"], kBoundCases / 20);
  EXPECT_GT(outcomes["over 4096 pixels, found"], kBoundCases / 100);
}

// Where the shortcuts for plain areas decide: screens of a few one-colour
// blocks with specks and colours a step or two apart; one-colour templates
// (one pixel wide or high too) in pattern, corner-tolerance and near mode
// with no misses, which are answered from rows of one colour; and templates
// cut from a block and changed in one pixel (or a few) in near mode, whose
// ranking must find that pixel, with and without misses allowed.
TEST(SearchDifferential, PlainAreasAndOneColourTemplates) {
  constexpr int kPlainCases = 700;
  std::mt19937 rng(0x9A1Au);
  const auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  const auto color = [&] { return static_cast<std::uint32_t>(rng()) & 0xFFFFFF; };
  std::map<std::string, int> outcomes;
  for (int i = 0; i < kPlainCases; ++i) {
    Generated g;
    const int W = uniform(8, 100), H = uniform(4, 60);
    g.screen.width = W;
    g.screen.height = H;
    std::vector<std::uint32_t> colours{color(), color(), color()};
    colours.push_back(colours[0] ^ static_cast<std::uint32_t>(uniform(1, 3)));  // a step off the first
    g.screen.topDown.assign(static_cast<std::size_t>(W) * H, colours[0]);
    for (int n = uniform(0, 5); n > 0; --n) {
      const int x0 = uniform(0, W - 1), y0 = uniform(0, H - 1), x1 = uniform(x0, W - 1),
                y1 = uniform(y0, H - 1);
      const std::uint32_t v = colours[static_cast<std::size_t>(uniform(0, 3))];
      for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) g.screen.topDown[static_cast<std::size_t>(y) * W + x] = v;
    }
    for (int n = uniform(0, 6); n > 0; --n)
      g.screen.topDown[static_cast<std::size_t>(uniform(0, W * H - 1))] =
          uniform(0, 1) == 0 ? color() : colours[static_cast<std::size_t>(uniform(0, 3))];
    const bool changed = uniform(0, 2) == 0;
    const int tw = uniform(0, 4) == 0 ? 1 : uniform(1, std::min(W, changed ? 24 : 40));
    const int th = uniform(0, 4) == 0 ? 1 : uniform(1, std::min(H, changed ? 20 : 30));
    const int cx = uniform(0, W - tw), cy = uniform(0, H - th);
    std::vector<std::uint32_t> t(static_cast<std::size_t>(tw) * th,
                                 g.screen.topDown[static_cast<std::size_t>(cy) * W + cx]);
    if (changed) {
      for (int y = 0; y < th; ++y)
        for (int x = 0; x < tw; ++x)
          t[static_cast<std::size_t>(y) * tw + x] =
              g.screen.topDown[static_cast<std::size_t>(cy + y) * W + cx + x];
      for (int n = uniform(1, 3); n > 0; --n)
        t[static_cast<std::size_t>(uniform(0, tw * th - 1))] = uniform(0, 1) == 0 ? color() : colours[1];
    }
    g.file = test::MakeBmp24(tw, th, t);
    const int mode = changed ? 2 : uniform(0, 2);
    const int n = std::initializer_list<int>{0, 3, 20}.begin()[uniform(0, 2)];
    if (mode == 0) {
      g.color = -1;
    } else if (mode == 1) {
      const std::uint32_t channel = static_cast<std::uint32_t>(uniform(0, 1) == 0 ? 3 : uniform(0, 255));
      const std::uint32_t sum = static_cast<std::uint32_t>(uniform(0, 1) == 0 ? 6 : uniform(0, 800));
      g.color = static_cast<std::int32_t>(0x10000000u | static_cast<std::uint32_t>(uniform(0, 3)) << 24 |
                                          channel << 16 | sum);
    } else {
      const int percent = changed ? std::initializer_list<int>{0, 0, 1, 3, 10}.begin()[uniform(0, 4)] : 0;
      g.color = static_cast<std::int32_t>(0x20000000u | static_cast<std::uint32_t>(percent) << 8 |
                                          static_cast<std::uint32_t>(n));
    }
    const int skip = std::initializer_list<int>{0, 0, 0, 1, 3}.begin()[uniform(0, 4)];
    g.options = static_cast<std::int32_t>((rng() & 0x70000u) | static_cast<std::uint32_t>(skip));
    g.x1 = uniform(0, 3) == 0 ? uniform(0, W / 3) : 0;
    g.y1 = uniform(0, 3) == 0 ? uniform(0, H / 3) : 0;
    g.x2 = W - 1;
    g.y2 = H - 1;
    g.fourthByte = static_cast<std::uint8_t>(rng());
    const char* modes[] = {"pattern", "tolerance", "near"};
    g.what = std::string(changed ? "changed, " : "one colour, ") + modes[mode];
    // Which way the fast scan goes: the plain-window scan for a one-colour
    // template, the near tests' wider ranking for a changed one of more
    // pixels than they rank.
    bool plain = false;
    {
      test::PrivateCache cache;
      const Template loaded = cache.LoadTemplate("plainprobe" + std::to_string(i) + ".bmp", g.file);
      test::HandScreen screen(W, H, g.screen.topDown, g.fourthByte);
      const PreparedTemplate prepared(screen.Image(), loaded, g.options, DecodeColorWord(g.color));
      plain = prepared.Refusal() == 0 && PlainWindows::Applies(prepared.Setup());
    }
    const Outcome out = CheckCase(g, i, i % 8 == 0, "plain");
    if (::testing::Test::HasFailure()) return;
    const bool position = out.result != -1 && out.result != -10 && out.result != -100;
    ++outcomes[g.what + (plain ? ", plain-window scan" : "") + (position ? ", found" : ", not found")];
    if (changed && tw * th > 64)
      ++outcomes[std::string("changed, more pixels than ranked") + (position ? ", found" : ", not found")];
  }
  PrintCounts("outcomes", outcomes);
  PrintListTally({"pattern", "tolerance", "near"}, kPlainCases / 20);
  for (const char* mode : {"pattern", "tolerance", "near"}) {
    EXPECT_GT(outcomes[std::string("one colour, ") + mode + ", plain-window scan, found"], kPlainCases / 30)
        << mode;
    EXPECT_GT(outcomes[std::string("one colour, ") + mode + ", plain-window scan, not found"],
              kPlainCases / 100)
        << mode;
  }
  EXPECT_GT(outcomes["changed, more pixels than ranked, found"], kPlainCases / 50);
  EXPECT_GT(outcomes["changed, more pixels than ranked, not found"], kPlainCases / 50);
}

// Templates with see-through pixels, from every source: BMP files of every
// depth whose top-left colour option bit 19 takes out (a colour that also
// shows inside the picture, the shape's own colour now and then), and PNG
// files with an alpha channel (truecolour and grey, 8 and 16 bits, alphas
// from 0 to just below full), palettes with tRNS alphas and tRNS colours of
// greys and truecolour, bit 19 on top of them sometimes. Outlines round,
// scattered, none and all. Copies of the opaque part lie on the screen over
// other backgrounds, in every mode.
TEST(SearchDifferential, TransparentPixelsTakeNoPart) {
  constexpr int kClearCases = 2400;
  std::mt19937 rng(0x7A115u);
  const auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  const auto bits = [&] { return static_cast<std::uint32_t>(rng()); };
  const char* kSources[] = {"BMP, key colour",  "RGBA PNG",      "grey+alpha PNG",
                            "palette+tRNS PNG", "grey+tRNS PNG", "truecolour+tRNS PNG"};
  std::map<std::string, int> outcomes, paths;
  for (int i = 0; i < kClearCases; ++i) {
    Generated g;
    const int source = uniform(0, 5);
    const int pngType = std::initializer_list<int>{-1, 6, 4, 3, 0, 2}.begin()[source];
    const int depth = pngType == 3 || uniform(0, 1) == 0 ? 8 : 16;
    const int bitCount = std::initializer_list<int>{8, 16, 24, 32}.begin()[uniform(0, 3)];
    const bool grey = pngType == 0 || pngType == 4;
    const bool wide = uniform(0, 3) == 0;
    const int tw = uniform(1, wide ? 16 : 9), th = uniform(1, wide ? 12 : 8);
    const std::size_t n = static_cast<std::size_t>(tw) * th;

    // Classes of pixels, each one stored value and the colour a screen shows
    // for it; the top-left pixel's class is the key of bit 19.
    const int classes = uniform(0, 7) == 0 ? 1 : uniform(2, 5);
    std::vector<std::uint32_t> stored(static_cast<std::size_t>(classes)), seen(stored.size());
    std::vector<std::uint32_t> palette(256);
    for (auto& e : palette) e = bits() & (uniform(0, 3) == 0 ? 0xFFFFFFFFu : 0xFFFFFFu);
    for (int c = 0; c < classes; ++c) {
      std::uint32_t v = bits() & 0xFFFFFF;
      if (grey) v = (v & 0xFF) * 0x010101u;
      if (pngType >= 0) {
        stored[c] = seen[c] = v;
      } else if (bitCount == 8) {
        stored[c] = v & 0xFF;
        seen[c] = palette[stored[c]] & 0xFFFFFF;
      } else if (bitCount == 16) {
        stored[c] = v & 0x7FFF;
        seen[c] = Widened555(stored[c]);
      } else {
        stored[c] = seen[c] = v;
      }
    }
    std::vector<int> cls(n);  // top-down
    for (auto& c : cls) c = uniform(0, classes - 1);

    // The see-through pixels of an alpha channel or palette: outside an
    // ellipse, scattered, none or all.
    const int outline = uniform(0, 9);
    std::vector<bool> clear(n, false);
    for (std::size_t k = 0; k < n; ++k) {
      const double dx = (static_cast<double>(k % tw) + 0.5) / tw - 0.5,
                   dy = (static_cast<double>(k / tw) + 0.5) / th - 0.5;
      clear[k] = outline < 5 ? dx * dx + dy * dy > 0.25 : outline < 8 ? uniform(0, 2) == 0 : outline == 9;
    }
    std::vector<std::uint16_t> alpha(n, 0xFFFF);
    const int keyClass = cls[0];
    if (pngType == 0 || pngType == 2) {
      // A tRNS colour: every pixel of the top-left pixel's colour.
      for (std::size_t k = 0; k < n; ++k)
        clear[k] = stored[static_cast<std::size_t>(cls[k])] == stored[static_cast<std::size_t>(keyClass)];
    } else if (pngType > 0) {
      for (std::size_t k = 0; k < n; ++k) {
        if (!clear[k]) continue;
        const int how = uniform(0, 2);
        alpha[k] = how == 0 ? 0
                   : how == 1 || depth == 8
                       ? static_cast<std::uint16_t>(uniform(1, 254) << 8 | uniform(0, 255))
                       : static_cast<std::uint16_t>(0xFF00 | uniform(0, 254));
      }
    } else {
      clear.assign(n, false);
    }
    std::vector<std::uint32_t> colors(n);
    for (std::size_t k = 0; k < n; ++k) colors[k] = stored[static_cast<std::size_t>(cls[k])];
    if (pngType >= 0) {
      g.png = true;
      g.file = test::EncodePng(tw, th, pngType, depth, colors, alpha, true,
                               stored[static_cast<std::size_t>(keyClass)]);
      g.clear = clear;
      g.what = std::string(kSources[source]) + (pngType != 3 ? depth == 16 ? ", 16-bit" : ", 8-bit" : "");
    } else {
      test::BmpLayout header;
      header.width = tw;
      header.height = th;
      header.bitCount = static_cast<std::uint16_t>(bitCount);
      if (bitCount == 8) header.paletteEntries = 256;
      g.file = BmpOfValues(header, palette, colors, bits);
      g.what = std::string(kSources[source]) + ", " + std::to_string(bitCount) + "-bit";
    }
    const bool keyBit = pngType < 0 || uniform(0, 4) == 0;
    // What takes part, as far as the generator can tell (a duplicated
    // palette entry may take out more; the reference decides).
    std::vector<bool> part(n);
    for (std::size_t k = 0; k < n; ++k) part[k] = !clear[k] && !(keyBit && cls[k] == keyClass);

    // The colour word.
    const int mode = uniform(0, 9);
    int shapeClass = -1;
    if (mode < 4) {
      g.color = -1;
    } else if (mode < 6) {
      shapeClass = uniform(0, classes - 1);  // sometimes the key's, or one that is all see-through
      const std::uint32_t v = stored[static_cast<std::size_t>(shapeClass)];
      g.color = static_cast<std::int32_t>(pngType < 0 && bitCount == 8 ? palette[v] : v);
    } else if (mode < 8) {
      g.color = static_cast<std::int32_t>(0x10000000u | static_cast<std::uint32_t>(uniform(0, 3)) << 24 |
                                          static_cast<std::uint32_t>(uniform(0, 1) * 255) << 16 |
                                          static_cast<std::uint32_t>(uniform(0, 40)));
    } else {
      g.color = static_cast<std::int32_t>(0x20000000u |
                                          static_cast<std::uint32_t>(uniform(0, 1) * uniform(1, 40)) << 8 |
                                          static_cast<std::uint32_t>(uniform(0, 6)));
    }

    // The screen: noise, with copies of the template whose see-through
    // pixels show what lay there. Pattern copies are recoloured.
    const int W = uniform(tw, wide ? 64 : 30), H = uniform(th, wide ? 40 : 24);
    g.screen.width = W;
    g.screen.height = H;
    std::vector<std::uint32_t> noise;
    for (int k = uniform(1, 4); k > 0; --k) noise.push_back(bits() & 0xFFFFFF);
    g.screen.topDown.resize(static_cast<std::size_t>(W) * H);
    for (auto& v : g.screen.topDown)
      v = noise[static_cast<std::size_t>(uniform(0, static_cast<int>(noise.size()) - 1))];
    for (int copies = uniform(0, 3); copies > 0; --copies) {
      const int cx = uniform(0, W - tw), cy = uniform(0, H - th);
      std::vector<std::uint32_t> recolor(seen);
      if (mode < 4 || mode == 6 || mode == 7)
        for (auto& v : recolor) v = uniform(0, 3) == 0 ? v : bits() & 0xFFFFFF;
      for (std::size_t k = 0; k < n; ++k) {
        if (!part[k] && uniform(0, 1) == 0) continue;  // the screen under a see-through pixel stays
        std::uint32_t v = recolor[static_cast<std::size_t>(cls[k])];
        if (shapeClass >= 0 && cls[k] != shapeClass && uniform(0, 1) == 0)
          v = uniform(0, 2) == 0 ? recolor[static_cast<std::size_t>(shapeClass)] : noise[0];
        if (uniform(0, 30) == 0) v = bits() & 0xFFFFFF;
        g.screen.topDown[static_cast<std::size_t>(cy + static_cast<int>(k) / tw) * W + cx +
                         static_cast<int>(k) % tw] = v;
      }
    }

    const int skip = std::initializer_list<int>{0, 0, 0, 1, 2, uniform(3, 20)}.begin()[uniform(0, 5)];
    g.options = static_cast<std::int32_t>((bits() & 0x70000u) | (keyBit ? 0x80000u : 0) |
                                          (uniform(0, 5) == 0 ? bits() & 0xFFF00000u : 0) |
                                          static_cast<std::uint32_t>(skip));
    g.x1 = 0;
    g.y1 = 0;
    g.x2 = W - 1;
    g.y2 = H - 1;
    if (uniform(0, 4) == 0) {
      g.x1 = uniform(-3, W / 2);
      g.y1 = uniform(-3, H / 2);
      g.x2 = uniform(W / 2, W + 3);
      g.y2 = uniform(H / 2, H + 3);
    }
    g.fourthByte = static_cast<std::uint8_t>(bits());

    const Outcome out = CheckCase(g, i, i % 8 == 0, "clear");
    if (::testing::Test::HasFailure()) return;
    if (!out.path.empty()) ++paths[out.path];
    const bool position = out.result != -1 && out.result != -10 && out.result != -100;
    ++outcomes[position ? "position" : std::to_string(out.result)];
    ++outcomes[g.what];
    const char* modes[] = {"pattern", "shape", "tolerance", "near colours"};
    const std::string modeName = modes[mode < 4 ? 0 : mode < 6 ? 1 : mode < 8 ? 2 : 3];
    ++outcomes[(position ? "found, " : out.result == -1 ? "not found, " : "refused, ") + modeName];
    const std::size_t parts = static_cast<std::size_t>(std::count(part.begin(), part.end(), true));
    if (parts == 0) ++outcomes["no pixel opaque"];
    if (position && parts < n && parts > 0) ++outcomes["found with part of the template see-through"];
    if (position && g.png &&
        std::any_of(alpha.begin(), alpha.end(), [](std::uint16_t a) { return a >= 0xFF00 && a != 0xFFFF; }))
      ++outcomes["found, alpha 0xFFxx below full"];
  }
  PrintCounts("outcomes", outcomes);
  PrintCounts("fast-scan paths", paths);
  PrintListTally({"pattern", "shape", "tolerance", "near"}, kClearCases / 50);
  EXPECT_GT(outcomes["position"], kClearCases / 4);
  EXPECT_GT(outcomes["-1"], kClearCases / 10);
  EXPECT_GT(outcomes["-100"], kClearCases / 50);
  EXPECT_GT(outcomes["found with part of the template see-through"], kClearCases / 8);
  for (const char* mode : {"pattern", "shape", "tolerance", "near colours"})
    EXPECT_GT(outcomes[std::string("found, ") + mode], kClearCases / 50) << mode;
  for (const char* source : kSources) {
    int n = 0;
    for (const auto& [k, c] : outcomes) n += k.rfind(source, 0) == 0 ? c : 0;
    EXPECT_GT(n, kClearCases / 10) << source;
  }
  int masked = 0;
  for (const auto& [k, c] : paths) masked += k.find("transparent") != std::string::npos ? c : 0;
  EXPECT_GT(masked, kClearCases / 4);
}

}  // namespace
}  // namespace zadized
