// Search speed on 1920x1080 screens, all in one run: the fast scan against the
// library's own literal scan (the baseline), OpenCV's matchTemplate on the
// same pixels (the peer) and one plain read pass over the capture (the floor).
//
// The cases are the searches scripts make on real desktops (bench/data, made
// by bench/make_screens.sh): templates found early, in the middle and late in
// every mode and scan order, plain templates of every size, boxes with a
// border, text in shape mode, many-coloured pieces of photos and gradients,
// icon lists with skip counts; and made-up worst cases (one-colour, noise and
// stripe screens). Each is labelled everyday or adversarial. Every answer is
// checked: the fast and the literal scan must agree and answer the place the
// case expects (where the template was cut, or the n-th of its copies in scan
// order), or the run fails. The table at the end holds each case against the
// speed goals and names the cases that miss one; missing a goal does not fail
// the run, it is what the table is for.
//
// Every sighting: cases that list every place a template shows, through one
// SearchImageAll call (SearchCaptureAll here) against the loop over the skip
// count it replaces, and against one literal scan listing the same
// rectangle; their own table follows the main one.
//
// --wine-cases=DIR writes the cases marked for the end-to-end run under Wine
// (screens, templates, expected answers) for bench/wine_search_cases.cpp and
// exits without timing anything.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "common/bmp_bytes.h"
#include "image/bitmap_cache.h"
#include "search/search.h"

namespace {

using zadized::BitmapRecord;
using zadized::ScreenImage;

constexpr int kW = 1920;
constexpr int kH = 1080;

// The four scan orders every found case is run in: row by row from the
// top-left or from the bottom-right corner, column by column likewise.
constexpr std::int32_t kRowsTL = 0;
constexpr std::int32_t kRowsBR = 1 << 16 | 1 << 17;
constexpr std::int32_t kColsTL = 1 << 18;
constexpr std::int32_t kColsBR = 1 << 16 | 1 << 17 | 1 << 18;
constexpr std::int32_t kOrders[4] = {kRowsTL, kRowsBR, kColsTL, kColsBR};
const char* OrderName(std::int32_t options) {
  switch (options & 0x70000) {
    case kRowsTL:
      return "rows-TL";
    case kRowsBR:
      return "rows-BR";
    case kColsTL:
      return "cols-TL";
    case kColsBR:
      return "cols-BR";
    default:
      return "rows-other";
  }
}

constexpr std::int32_t kPattern = -1;
// Tolerance mode: the top-left corner within 16 per channel and 40 in all.
constexpr std::int32_t kTolerance = 0x10000000 | 16 << 16 | 40;

struct Screen {
  std::string name;
  std::vector<std::uint32_t> topDown;  // 0x00RRGGBB
  std::vector<std::uint8_t> bits;      // the capture's layout: 32-bit, bottom-up
  cv::Mat bgr;                         // the peer's input, the same pixels
  std::uint32_t at(int x, int y) const { return topDown[static_cast<std::size_t>(y) * kW + x]; }
};

std::unique_ptr<Screen> MakeScreen(const std::string& name, std::vector<std::uint32_t> topDown) {
  auto s = std::make_unique<Screen>();
  s->name = name;
  s->topDown = std::move(topDown);
  s->bits.resize(static_cast<std::size_t>(kW) * kH * 4);
  s->bgr.create(kH, kW, CV_8UC3);
  for (int y = 0; y < kH; ++y) {
    for (int x = 0; x < kW; ++x) {
      const std::uint32_t v = s->at(x, y);
      std::uint8_t* p = &s->bits[(static_cast<std::size_t>(kH - 1 - y) * kW + x) * 4];
      p[0] = static_cast<std::uint8_t>(v);
      p[1] = static_cast<std::uint8_t>(v >> 8);
      p[2] = static_cast<std::uint8_t>(v >> 16);
      p[3] = 0;
      s->bgr.at<cv::Vec3b>(y, x) = cv::Vec3b(p[0], p[1], p[2]);
    }
  }
  return s;
}

std::unique_ptr<Screen> LoadScreen(const std::string& name) {
  const std::string path = std::string(ZADIZED_BENCH_DATA) + "/" + name + ".png";
  const cv::Mat m = cv::imread(path, cv::IMREAD_COLOR);
  if (m.cols != kW || m.rows != kH) {
    std::fprintf(stderr, "bench: %s is not a %dx%d picture\n", path.c_str(), kW, kH);
    std::exit(2);
  }
  std::vector<std::uint32_t> px(static_cast<std::size_t>(kW) * kH);
  for (int y = 0; y < kH; ++y) {
    for (int x = 0; x < kW; ++x) {
      const auto& c = m.at<cv::Vec3b>(y, x);
      px[static_cast<std::size_t>(y) * kW + x] = c[0] | c[1] << 8 | c[2] << 16;
    }
  }
  return MakeScreen(name, std::move(px));
}

struct Template {
  int w, h;
  std::vector<std::uint32_t> px;  // top-down
  // See-through pixels (top-down; empty: none): an RGBA PNG file's alpha 0,
  // or with keyColour a BMP file's pixels of its top-left colour, which
  // option bit 19 takes out.
  std::vector<bool> clear;
  bool keyColour = false;
  std::uint32_t& at(int x, int y) { return px[static_cast<std::size_t>(y) * w + x]; }
  std::uint32_t at(int x, int y) const { return px[static_cast<std::size_t>(y) * w + x]; }
};

Template Cut(const Screen& s, int x0, int y0, int w, int h) {
  Template t{w, h, {}, {}, false};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) t.px.push_back(s.at(x0 + x, y0 + y));
  return t;
}

Template Plain(int w, int h, std::uint32_t colour) {
  return Template{w, h, std::vector<std::uint32_t>(static_cast<std::size_t>(w) * h, colour), {}, false};
}

// Gives the middle pixel the colour of another pixel of the template that
// differs from it: the pattern at the cut place no longer holds, and nowhere
// else on a real screen does it.
Template Defect(Template t) {
  const std::size_t mid = t.px.size() / 2 + static_cast<std::size_t>(t.w) / 2;
  for (std::size_t k = 0; k < t.px.size(); ++k) {
    if (t.px[k] != t.px[mid]) {
      t.px[mid] = t.px[k];
      return t;
    }
  }
  t.px[mid] ^= 0x010101;
  return t;
}

// A template of more than 255 colours compares its 256th and later colours
// (bottom row first) only loosely, so a defect there changes nothing: this
// one makes pixels k and k + 1 of that order repeat the first two pixels'
// colours (two, so that no window of a noise screen has both by chance).
Template EarlyDefect(Template t, int k) {
  for (int i = 0; i < 2; ++i) t.at((k + i) % t.w, t.h - 1 - (k + i) / t.w) = t.at(i, t.h - 1);
  return t;
}

// Shape mode's counterpart: background pixels near the middle join the
// shape, so the shape no longer shows in one colour where it was cut.
// Every channel of every pixel moved by up to d (the first pixel's blue by
// exactly d), as a template saved through a lossy tool or drawn a shade off.
Template Shade(Template t, int d, std::uint32_t seed) {
  for (std::size_t k = 0; k < t.px.size(); ++k) {
    std::uint32_t out = 0;
    for (int ch = 0; ch < 3; ++ch) {
      seed = seed * 1664525u + 1013904223u;
      int c = static_cast<int>(t.px[k] >> (8 * ch) & 0xFF);
      int delta = d == 0 ? 0 : static_cast<int>((seed >> 8) % static_cast<std::uint32_t>(2 * d + 1)) - d;
      if (k == 0 && ch == 0) delta = c + d <= 255 ? d : -d;
      c = std::min(255, std::max(0, c + delta));
      out |= static_cast<std::uint32_t>(c) << (8 * ch);
    }
    t.px[k] = out;
  }
  return t;
}

// A size x size badge in the top-right corner, in the opposite colours.
Template Badge(Template t, int size) {
  for (int y = 0; y < size && y < t.h; ++y)
    for (int x = t.w - size; x < t.w; ++x) t.at(x, y) ^= 0xFFFFFF;
  return t;
}

Template ShapeDefect(Template t, std::uint32_t shape, int pixels) {
  const std::size_t mid = t.px.size() / 2 + static_cast<std::size_t>(t.w) / 2;
  for (std::size_t d = 0; d < t.px.size() && pixels > 0; ++d) {
    const std::size_t k = (mid + d) % t.px.size();
    if (t.px[k] != shape) {
      t.px[k] = shape;
      --pixels;
    }
  }
  return t;
}

// See-through outside the circle the template's square holds: a round icon
// saved with alpha. The corners, a fifth of the pixels, take no part.
Template Round(Template t) {
  t.clear.assign(t.px.size(), false);
  const double r = std::min(t.w, t.h) / 2.0;
  for (int y = 0; y < t.h; ++y) {
    for (int x = 0; x < t.w; ++x) {
      const double dx = x + 0.5 - t.w / 2.0, dy = y + 0.5 - t.h / 2.0;
      t.clear[static_cast<std::size_t>(y) * t.w + x] = dx * dx + dy * dy > r * r;
    }
  }
  return t;
}

// Every other pixel see-through, the top-left one among them: half the
// template, the most a sparse outline takes out.
Template Checkered(Template t) {
  t.clear.assign(t.px.size(), false);
  for (int y = 0; y < t.h; ++y)
    for (int x = 0; x < t.w; ++x) t.clear[static_cast<std::size_t>(y) * t.w + x] = (x + y) % 2 == 0;
  return t;
}

// The see-through pixels painted in a key colour, as a sprite is drawn on
// magenta for option bit 19; the top-left pixel must be one of them.
Template KeyedOut(Template t, std::uint32_t key) {
  if (t.clear.empty() || !t.clear[0]) {
    std::fprintf(stderr, "bench: a keyed template must be see-through at its top-left pixel\n");
    std::exit(2);
  }
  for (std::size_t k = 0; k < t.px.size(); ++k)
    if (t.clear[k]) t.px[k] = key;
  t.keyColour = true;
  return t;
}

// Defect's counterpart for a template with see-through pixels: an opaque
// pixel near the middle takes the colour of another opaque one.
Template OpaqueDefect(Template t) {
  const std::size_t n = t.px.size();
  for (std::size_t d = 0; d < n; ++d) {
    const std::size_t mid = (n / 2 + static_cast<std::size_t>(t.w) / 2 + d) % n;
    if (!t.clear.empty() && t.clear[mid]) continue;
    for (std::size_t k = 0; k < n; ++k) {
      if ((t.clear.empty() || !t.clear[k]) && t.px[k] != t.px[mid]) {
        t.px[mid] = t.px[k];
        return t;
      }
    }
  }
  return t;
}

std::size_t Colours(const Template& t) { return std::set<std::uint32_t>(t.px.begin(), t.px.end()).size(); }

// Shape mode on a cut piece takes its most common colour as the shape: the
// face of a button, the ground of a panel, the white of a page.
std::uint32_t MostCommon(const Template& t) {
  std::map<std::uint32_t, int> count;
  for (std::size_t k = 0; k < t.px.size(); ++k)
    if (t.clear.empty() || !t.clear[k]) ++count[t.px[k]];
  return std::max_element(count.begin(), count.end(),
                          [](const auto& a, const auto& b) { return a.second < b.second; })
      ->first;
}

struct Rect {
  int x1, y1, x2, y2;
};
constexpr Rect kAll{0, 0, kW - 1, kH - 1};
bool FullScreen(const Rect& r) { return r.x1 == 0 && r.y1 == 0 && r.x2 == kW - 1 && r.y2 == kH - 1; }

// Where (x, y) comes in the order the option word asks for, over the
// template's candidate positions in r: 0 for the first, total - 1 for the last.
struct ScanPlace {
  std::int64_t index, total;
};
ScanPlace PlaceInScan(const Rect& r, int tw, int th, std::int32_t options, int x, int y) {
  const std::int64_t lastX = r.x2 - tw + 1, lastY = r.y2 - th + 1;
  const std::int64_t columns = lastX - r.x1 + 1, rows = lastY - r.y1 + 1;
  const std::int64_t j = options & 1 << 17 ? lastX - x : x - r.x1;
  const std::int64_t i = options & 1 << 16 ? lastY - y : y - r.y1;
  return ScanPlace{options & 1 << 18 ? j * rows + i : i * columns + j, columns * rows};
}

struct Point {
  int x, y;
};

// The n-th (from 0) of a template's copies that a scan meets, for the skip
// count n.
Point NthInScan(std::vector<Point> copies, const Rect& r, int tw, int th, std::int32_t options, int n) {
  std::sort(copies.begin(), copies.end(), [&](const Point& a, const Point& b) {
    return PlaceInScan(r, tw, th, options, a.x, a.y).index < PlaceInScan(r, tw, th, options, b.x, b.y).index;
  });
  return copies.at(static_cast<std::size_t>(n));
}

std::int32_t Encode(int x, int y) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>((static_cast<std::int64_t>(y) - 1) * kW +
                                                              (static_cast<std::int64_t>(x) - 1)));
}

struct Case {
  std::string name;
  bool adversarial = false;
  const Screen* screen = nullptr;
  Template templ{0, 0, {}, {}, false};
  Rect r = kAll;
  std::int32_t options = 0;
  std::int32_t color = -1;
  bool found = false;  // expected to be found, at `expected`
  Point expected{0, 0};
  int listUpTo = 0;  // > 0: one script listing copies, skip 0 .. listUpTo in turn
  // Every sighting: one call, or the skip loop (skip 0, 1, ... until -1).
  enum Every { kNotEvery, kOneCall, kSkipLoop } every = kNotEvery;
  bool placesKnown = false;   // `places` are all the sightings there are
  std::vector<Point> places;  // every sighting, in no particular order
  bool wine = false;          // also timed end to end through the DLL under Wine
  bool earlier = false;       // one of the not-found set the benchmark began with
  // Filled in by Prepare and the runs.
  std::size_t colours = 0;
  bool plain = false;  // a one-colour template or a one-colour screen
  std::string peer;    // the OpenCV benchmark that stands for this case
  std::vector<std::int32_t> listExpected;
  BitmapRecord record{};
  const std::uint8_t* opacity = nullptr;  // what the loader found of a PNG file's alpha
  std::int32_t fastResult = 0, literalResult = 0;
  bool fastRan = false, literalRan = false, fastListOk = true, literalListOk = true;
  std::vector<std::int32_t> fastList, literalList;  // every sighting, as the last run listed them
};

std::vector<std::unique_ptr<Screen>> g_screens;
std::vector<Case> g_cases;
// Benchmark name -> seconds per iteration: the CPU time of the thread that
// runs it, which other work on a shared machine inflates far less than the
// wall-clock time; and the wall-clock time, for OpenCV's several threads.
std::map<std::string, double> g_seconds, g_wallSeconds;

const Screen& ScreenNamed(const std::string& name) {
  for (const auto& s : g_screens)
    if (s->name == name) return *s;
  std::fprintf(stderr, "bench: no screen %s\n", name.c_str());
  std::exit(2);
}

std::int32_t Search(const Case& c, std::int32_t options) {
  const ScreenImage image{nullptr, const_cast<std::uint8_t*>(c.screen->bits.data()), kW, kH, 32};
  return zadized::SearchCapture(image, c.record, c.r.x1, c.r.y1, c.r.x2, c.r.y2, options, c.color, c.opacity);
}

// Room for every position of a 1920x1080 screen.
std::vector<std::int32_t> g_slots(static_cast<std::size_t>(kW) * kH);

// One search, or for a listing every search of the list; the answer of the
// last, and whether each answer of the list was the expected one. Every
// sighting: the count, and the list in `listed`.
std::int32_t Run(const Case& c, bool* listOk, std::vector<std::int32_t>* listed) {
  if (c.every == Case::kOneCall) {
    const ScreenImage image{nullptr, const_cast<std::uint8_t*>(c.screen->bits.data()), kW, kH, 32};
    const std::int32_t n =
        zadized::SearchCaptureAll(image, c.record, c.r.x1, c.r.y1, c.r.x2, c.r.y2, c.options, c.color,
                                  g_slots.data(), static_cast<std::int32_t>(g_slots.size()));
    listed->assign(g_slots.begin(), g_slots.begin() + std::max(n, 0));
    return n;
  }
  if (c.every == Case::kSkipLoop) {
    listed->clear();
    for (std::int32_t skip = 0; skip <= 0xFFFF; ++skip) {
      const std::int32_t r = Search(c, c.options + skip);
      if (r == -1) break;
      listed->push_back(r);
    }
    return static_cast<std::int32_t>(listed->size());
  }
  if (c.listUpTo == 0) return Search(c, c.options);
  std::int32_t r = 0;
  for (int k = 0; k <= c.listUpTo; ++k) {
    r = Search(c, c.options + k);
    if (r != c.listExpected[static_cast<std::size_t>(k)]) *listOk = false;
  }
  return r;
}

// ---- The cases ----

Case& Add(const std::string& name, bool adversarial, const Screen& s, Template t, std::int32_t options,
          std::int32_t color, const Rect& r) {
  g_cases.emplace_back();
  Case& c = g_cases.back();
  c.name = name;
  c.adversarial = adversarial;
  c.screen = &s;
  if (t.keyColour) options |= 1 << 19;
  c.templ = std::move(t);
  c.r = r;
  c.options = options;
  c.color = color;
  return c;
}

// A template expected at (x, y).
void Found(const std::string& name, bool adversarial, const Screen& s, Template t, int x, int y,
           std::int32_t options, std::int32_t color, const Rect& r = kAll) {
  Case& c = Add(name, adversarial, s, std::move(t), options, color, r);
  c.found = true;
  c.expected = Point{x, y};
}

// A template cut at (x, y) and expected there.
void FoundAtCut(const std::string& name, bool adversarial, const Screen& s, int x, int y, int w, int h,
                std::int32_t options, std::int32_t color) {
  Found(name, adversarial, s, Cut(s, x, y, w, h), x, y, options, color);
}

void NotFound(const std::string& name, bool adversarial, const Screen& s, Template t, std::int32_t options,
              std::int32_t color, const Rect& r = kAll) {
  Add(name, adversarial, s, std::move(t), options, color, r);
}

// Every sighting of a template, one call and skip loop: two cases. `places`
// are all its sightings when known (empty: the literal scan's listing is the
// reference); `loop` false leaves the skip loop out where it would take hours.
void Every(const std::string& name, bool adversarial, const Screen& s, const Template& t,
           std::int32_t options, std::int32_t color, const std::vector<Point>& places, bool loop = true) {
  for (const Case::Every every : {Case::kOneCall, Case::kSkipLoop}) {
    if (every == Case::kSkipLoop && !loop) continue;
    Case& c =
        Add(name + (every == Case::kOneCall ? " every sighting, one call" : " every sighting, skip loop"),
            adversarial, s, t, options, color, kAll);
    c.every = every;
    c.placesKnown = !places.empty();
    c.places = places;
  }
}

const char* ModeName(std::int32_t color) {
  return color == kPattern         ? "pattern"
         : color / 0x10000000 == 1 ? "tolerance"
         : color / 0x10000000 == 2 ? "near"
                                   : "shape";
}

// A near-colour word: n per channel, p percent of the pixels may miss.
std::int32_t NearColors(int n, int percent) {
  return static_cast<std::int32_t>(0x20000000u | static_cast<std::uint32_t>(percent) << 8 |
                                   static_cast<std::uint32_t>(n));
}

// Three things on a screen, one near each of its top-left corner, middle and
// bottom-right corner, so that each scan order meets one early, one in the
// middle and one late: each in pattern, shape and tolerance mode, in all four
// orders. shapeColour 0 takes the piece's most common colour.
struct Thing {
  const char* what;
  int x, y, w, h;
  std::uint32_t shapeColour;
};
void EveryModeAndOrder(const Screen& s, const std::vector<Thing>& things) {
  for (const Thing& t : things) {
    const Template piece = Cut(s, t.x, t.y, t.w, t.h);
    const std::uint32_t shape = t.shapeColour != 0 ? t.shapeColour : MostCommon(piece);
    for (const std::int32_t color : {kPattern, static_cast<std::int32_t>(shape), kTolerance}) {
      for (const std::int32_t order : kOrders) {
        const std::string name = s.name + " " + t.what + " " + std::to_string(t.w) + "x" +
                                 std::to_string(t.h) + " " + ModeName(color) + " " + OrderName(order);
        FoundAtCut(name, false, s, t.x, t.y, t.w, t.h, order, color);
      }
    }
  }
}

// Where a w x h template of one colour is first met in r, in the order of
// `options`: the first window whose pixels all show one colour (pattern
// mode) or all pass `fits` (a mode that compares colours). Worked out here
// with run lengths, apart from the library.
template <typename Fits>
Point FirstPlain(const Screen& s, const Rect& r, int w, int h, std::int32_t options, bool oneColour,
                 const Fits& fits) {
  const int width = r.x2 - r.x1 + 1;
  std::vector<int> run(static_cast<std::size_t>(width)), rows(static_cast<std::size_t>(width), 0);
  std::int64_t best = -1;
  Point at{-1, -1};
  for (int y = r.y1; y <= r.y2; ++y) {
    for (int x = r.x2; x >= r.x1; --x) {
      const std::size_t i = static_cast<std::size_t>(x - r.x1);
      const bool ok = fits(s.at(x, y));
      const bool joins = x < r.x2 && ok && (!oneColour || s.at(x, y) == s.at(x + 1, y));
      run[i] = !ok ? 0 : joins ? run[i + 1] + 1 : 1;
    }
    for (int x = r.x1; x + w - 1 <= r.x2; ++x) {
      const std::size_t i = static_cast<std::size_t>(x - r.x1);
      const bool sameAsAbove = !oneColour || (y > r.y1 && s.at(x, y) == s.at(x, y - 1));
      rows[i] = run[i] < w ? 0 : rows[i] > 0 && sameAsAbove ? rows[i] + 1 : 1;
      if (rows[i] < h) continue;
      const std::int64_t k = PlaceInScan(r, w, h, options, x, y - h + 1).index;
      if (best < 0 || k < best) {
        best = k;
        at = Point{x, y - h + 1};
      }
    }
  }
  if (best < 0) {
    std::fprintf(stderr, "bench: no plain %dx%d area on %s\n", w, h, s.name.c_str());
    std::exit(2);
  }
  return at;
}

// Channel by channel, how far two colours are apart: the largest and the sum.
std::pair<int, int> ColourDistance(std::uint32_t a, std::uint32_t b) {
  int most = 0, sum = 0;
  for (int ch = 0; ch < 3; ++ch) {
    const int d = std::abs(static_cast<int>(a >> (8 * ch) & 0xFF) - static_cast<int>(b >> (8 * ch) & 0xFF));
    most = std::max(most, d);
    sum += d;
  }
  return {most, sum};
}

// A one-colour template expected where FirstPlain finds it: in pattern mode
// on any one-colour area, in tolerance mode on one whose colour passes the
// corner test, in near mode (no misses) where every pixel is within n.
void FoundPlain(const std::string& name, const Screen& s, int w, int h, std::uint32_t colour,
                std::int32_t options, std::int32_t color, const Rect& r = kAll) {
  const int mode = color / 0x10000000;
  const auto fits = [&](std::uint32_t v) {
    const auto [most, sum] = ColourDistance(v, colour);
    if (mode == 1) return most <= (color >> 16 & 0xFF) && sum <= (color & 0xFFFF);
    if (mode == 2) return most <= (color & 0xFF);
    return true;
  };
  const Point p = FirstPlain(s, r, w, h, options, mode != 2, fits);
  Found(name, false, s, Plain(w, h, colour), p.x, p.y, options, color, r);
}

// One pixel in the opposite colour, at odd coordinates so that a coarse
// grid of the template does not meet it: no place matches any more.
Template Flip(Template t) {
  t.at(t.w * 2 / 3 | 1, t.h / 3 | 1) ^= 0xFFFFFF;
  return t;
}

// Screens like users' desktops: an editor whose white page lies right under
// its menu, on a black desktop with a calculator of identical keys, a clock
// and a picture; a many-coloured wallpaper with a list of identical rows and
// a light calculator. Plain areas and templates, templates cut from a plain
// background and changed by one pixel, near colours with and without misses
// and the corner test on many-coloured pieces, in the cases scripts run.
void UserDesktopCases(const Screen& ed, const Screen& mo) {
  constexpr std::int32_t kCorner8 = 0x10000000 | 8 << 16 | 20;  // 8 per channel, 20 in all
  const Rect editorWindow{0, 0, 1299, kH - 1};
  // -- The white page: one-colour templates, found near its top --
  for (const auto& [w, h] : std::vector<std::pair<int, int>>{{600, 400}, {200, 150}}) {
    const std::string size = std::to_string(w) + "x" + std::to_string(h);
    FoundPlain("editor page white " + size + " pattern rows-TL, editor window", ed, w, h, 0xFFFFFF, kRowsTL,
               kPattern, editorWindow);
    FoundPlain("editor page white " + size + " pattern cols-TL, editor window", ed, w, h, 0xFFFFFF, kColsTL,
               kPattern, editorWindow);
    FoundPlain("editor page white " + size + " pattern rows-TL", ed, w, h, 0xFFFFFF, kRowsTL, kPattern);
    FoundPlain("editor page white " + size + " pattern rows-BR", ed, w, h, 0xFFFFFF, kRowsBR, kPattern);
    for (const std::int32_t order : kOrders)
      FoundPlain("editor page white " + size + " tolerance " + OrderName(order), ed, w, h, 0xFFFFFF, order,
                 kCorner8);
    FoundPlain("editor page white " + size + " near n=8 rows-TL", ed, w, h, 0xFFFFFF, kRowsTL,
               NearColors(8, 0));
    FoundPlain("editor page white " + size + " near n=8 cols-BR", ed, w, h, 0xFFFFFF, kColsBR,
               NearColors(8, 0));
    NotFound("editor page white " + size + " pattern changed", false, ed, Flip(Plain(w, h, 0xFFFFFF)),
             kRowsTL, kPattern);
  }
  // -- The black desktop: black templates changed by one pixel --
  for (const int size : {48, 64}) {
    const std::string sz = std::to_string(size) + "x" + std::to_string(size);
    const Template black = Flip(Cut(ed, 1310, 500, size, size));
    NotFound("editor black " + sz + " near n=8 changed", false, ed, black, kRowsTL, NearColors(8, 0));
    NotFound("editor black " + sz + " pattern changed", false, ed, black, kRowsTL, kPattern);
    NotFound("editor black " + sz + " tolerance changed", false, ed, black, kRowsTL, kCorner8);
  }
  FoundPlain("editor black 64x64 near n=8 rows-BR", ed, 64, 64, 0x000000, kRowsBR, NearColors(8, 0));
  // -- The calculator's keys, the clock and the picture --
  FoundAtCut("editor calculator key 64x48 pattern rows-TL", false, ed, 1488, 232, 64, 48, kRowsTL, kPattern);
  FoundAtCut("editor calculator key 64x48 tolerance cols-BR", false, ed, 1488, 232, 64, 48, kColsBR,
             kCorner8);
  FoundAtCut("editor clock 64x64 tolerance rows-TL", false, ed, 1528, 728, 64, 64, kRowsTL, kCorner8);
  FoundAtCut("editor picture 64x64 tolerance rows-TL", false, ed, 1720, 960, 64, 64, kRowsTL, kCorner8);
  FoundAtCut("editor picture 32x32 near n=16 p=5 rows-TL", false, ed, 1700, 950, 32, 32, kRowsTL,
             NearColors(16, 5));
  NotFound("editor picture 32x32 near n=16 p=5 changed", false, ed, Badge(Cut(ed, 1700, 950, 32, 32), 8),
           kRowsTL, NearColors(16, 5));
  // -- The many-coloured wallpaper --
  for (const auto& [w, h] : std::vector<std::pair<int, int>>{{24, 16}, {32, 32}, {64, 64}}) {
    const std::string size = std::to_string(w) + "x" + std::to_string(h);
    NotFound("mosaic wallpaper " + size + " pattern changed", false, mo,
             EarlyDefect(Cut(mo, 420, 520, w, h), 100), kRowsTL, kPattern);
  }
  NotFound("mosaic sky 64x64 pattern changed", false, mo, EarlyDefect(Cut(mo, 200, 100, 64, 64), 100),
           kRowsTL, kPattern);
  NotFound("mosaic sky 64x64 tolerance changed", false, mo, EarlyDefect(Cut(mo, 200, 100, 64, 64), 100),
           kRowsTL, kCorner8);
  NotFound("mosaic wallpaper 64x64 near n=8 changed", false, mo, Flip(Cut(mo, 400, 400, 64, 64)), kRowsTL,
           NearColors(8, 0));
  // The wallpaper is smooth enough that a copy a pixel or more off is near
  // in colour too: these are found first where the literal scan finds them.
  Found("mosaic wallpaper 64x64 near n=8 rows-TL", false, mo, Cut(mo, 400, 400, 64, 64), 399, 399, kRowsTL,
        NearColors(8, 0));
  Found("mosaic wallpaper 32x32 near n=16 p=5 rows-TL", false, mo, Cut(mo, 600, 500, 32, 32), 591, 480,
        kRowsTL, NearColors(16, 5));
  Found("mosaic wallpaper 32x32 near n=16 p=5 cols-BR", false, mo, Cut(mo, 600, 500, 32, 32), 648, 516,
        kColsBR, NearColors(16, 5));
  NotFound("mosaic wallpaper 32x32 near n=16 p=5 changed", false, mo, Badge(Cut(mo, 600, 500, 32, 32), 8),
           kRowsTL, NearColors(16, 5));
  for (const std::int32_t order : kOrders)
    FoundAtCut(std::string("mosaic wallpaper 64x64 tolerance ") + OrderName(order), false, mo, 800, 700, 64,
               64, order, kCorner8);
  NotFound("mosaic wallpaper 64x64 tolerance changed", false, mo, EarlyDefect(Cut(mo, 800, 700, 64, 64), 100),
           kRowsTL, kCorner8);
  // -- Identical rows and keys: the first in scan order of their copies --
  std::vector<Point> rows, keys;
  for (int i = 0; i < 25; i += 2) rows.push_back(Point{1100, 160 + i * 28});
  for (int i = 0; i < 20; ++i) keys.push_back(Point{216 + i % 4 * 72, 716 + i / 4 * 56});
  for (const std::int32_t order : {kRowsTL, kColsBR}) {
    for (const std::int32_t color : {kPattern, kCorner8}) {
      const Point row = NthInScan(rows, kAll, 60, 28, order, 0);
      Found(std::string("mosaic list row start 60x28 ") + ModeName(color) + " " + OrderName(order), false, mo,
            Cut(mo, 1100, 160, 60, 28), row.x, row.y, order, color);
      const Point key = NthInScan(keys, kAll, 64, 14, order, 0);
      Found(std::string("mosaic calculator key top 64x14 ") + ModeName(color) + " " + OrderName(order), false,
            mo, Cut(mo, 216, 716, 64, 14), key.x, key.y, order, color);
    }
  }
}

// Shape mode on the users' desktops: pieces of the editor and the mosaic in
// their most common colour, changed in three pixels so that they show nowhere
// (every position scanned), and the first of the mosaic's identical rows. (A
// changed piece of the wallpaper still shows a shape somewhere: the rule is
// loose on a many-coloured screen.)
void ShapeOnUserDesktops(const Screen& ed, const Screen& mo) {
  const auto changed = [](const Template& t) { return ShapeDefect(t, MostCommon(t), 3); };
  const auto shape = [](const Template& t) { return static_cast<std::int32_t>(MostCommon(t)); };
  const Template key = Cut(ed, 1488, 232, 64, 48), clock = Cut(ed, 1528, 728, 64, 64);
  const Template row = Cut(mo, 1100, 160, 60, 28);
  NotFound("editor calculator key 64x48 shape changed", false, ed, changed(key), kRowsTL, shape(key));
  NotFound("editor clock 64x64 shape changed", false, ed, changed(clock), kColsBR, shape(clock));
  NotFound("mosaic list row 60x28 shape changed", false, mo, changed(row), kRowsBR, shape(row));
  std::vector<Point> rows;
  for (int i = 0; i < 25; i += 2) rows.push_back(Point{1100, 160 + i * 28});
  for (const std::int32_t order : kOrders) {
    const Point first = NthInScan(rows, kAll, 60, 28, order, 0);
    Found(std::string("mosaic list row start 60x28 shape ") + OrderName(order), false, mo, row, first.x,
          first.y, order, shape(row));
  }
}

// The icon folder as bench/make_screens.sh draws it.
constexpr int kIconX = 268, kIconY = 118, kIconDx = 112, kIconDy = 104, kIconColumns = 14, kIcons = 122;
std::vector<Point> IconCopies() {
  std::vector<Point> p;
  for (int i = 0; i < kIcons; ++i)
    p.push_back(Point{kIconX + i % kIconColumns * kIconDx, kIconY + i / kIconColumns * kIconDy});
  return p;
}

// The document's sidebar: five sections of four rows, each with a check box.
std::vector<Point> CheckBoxes() {
  std::vector<Point> p;
  int y = 140;
  for (int section = 0; section < 5; ++section) {
    y += 30;
    for (int row = 0; row < 4; ++row, y += 34) p.push_back(Point{1800, y - 7});
    y += 20;
  }
  return p;
}

// The cases also timed end to end through the DLL under Wine: the ones users
// found slow there, and a few of each other kind. Every search through
// the literal twin captures the whole screen first; the slowest of these
// takes minutes under emulation.
const std::string kWineCases[] = {
    "dark panel text 76x26 pattern rows-TL",  // found in the top row
    "dark logo 64x64 shape rows-TL",
    "document plain white 200x150 pattern rows-TL",
    "document plain white 600x400 pattern rows-TL",
    "uniform plain 400x300 pattern rows-TL",
    "uniform plain 1000x800 pattern rows-TL",
    "wallpaper gradient 64x64 pattern rows-TL",
    "wallpaper photo 64x64 pattern rows-TL",
    "icons icon 48x48 pattern rows-TL skip 0",
    "icons icon 48x48 pattern rows-TL skip 50",
    "icons icon 48x48 pattern rows-TL skip 100",
    "wallpaper gradient 64x64 pattern not on screen",
    "dark calculator key 48x30 pattern",
    "icons icon 48x48 pattern",
    "desktop1 pattern 32x32 calc",
    "desktop2 pattern 64x64 eyes",
    "uniform pattern 64x64 one colour",
    "4-colour noise pattern 16x16",
    "stripes pattern 64x64 by column",
    "desktop1 200x200 rectangle 16x16",
    "document heading word 144x34 near n=12 rows-TL",
    "dark logo 64x64 near n=20 p=10 badge rows-TL",
    "desktop1 near 32x32 calc n=8",
    "icons round icon 48x48 alpha pattern rows-TL skip 100",
    "dark calculator key round 48x30 key colour pattern rows-TL",
    "desktop1 round 32x32 calc alpha pattern",
    // Users' desktops: a white page under a menu, a black desktop, a grid of
    // identical keys, a many-coloured wallpaper, a list of identical rows.
    "editor page white 600x400 pattern rows-TL",
    "editor page white 600x400 pattern changed",
    "editor black 64x64 near n=8 changed",
    "editor calculator key 64x48 pattern rows-TL",
    "editor calculator key 64x48 shape changed",
    "editor picture 32x32 near n=16 p=5 changed",
    "mosaic wallpaper 64x64 pattern changed",
    "mosaic sky 64x64 tolerance changed",
    "mosaic wallpaper 32x32 near n=16 p=5 rows-TL",
    "mosaic list row start 60x28 pattern rows-TL",
    "mosaic list row 60x28 shape changed",
    // Every sighting: the Wine run times one call, the skip loop and the
    // literal DLL's one call for each.
    "icons icon 48x48 pattern rows-TL every sighting, one call",
    "icons icon 48x48 shape rows-TL every sighting, one call",
    "icons icon 48x48 tolerance rows-TL every sighting, one call",
    "document glyph e 7x7 pattern rows-TL every sighting, one call",
    "document check box 14x14 pattern cols-BR every sighting, one call",
};

void BuildCases() {
  for (const char* name :
       {"desktop1", "desktop2", "dark", "document", "wallpaper", "icons", "editor", "mosaic"})
    g_screens.push_back(LoadScreen(name));
  std::mt19937 rng(7);
  std::vector<std::uint32_t> px(static_cast<std::size_t>(kW) * kH, 0x3A6EA5);
  g_screens.push_back(MakeScreen("uniform", px));
  for (auto& v : px) v = rng() & 0xFFFFFF;
  g_screens.push_back(MakeScreen("noise", px));
  const std::uint32_t four[] = {0x000000, 0xFFFFFF, 0x808080, 0x3A6EA5};
  for (auto& v : px) v = four[rng() % 4];
  g_screens.push_back(MakeScreen("4-colour noise", px));
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) px[static_cast<std::size_t>(y) * kW + x] = x % 2 ? 0xFFFFFF : 0x000000;
  g_screens.push_back(MakeScreen("1px stripes", px));
  const Screen& d1 = ScreenNamed("desktop1");
  const Screen& d2 = ScreenNamed("desktop2");
  const Screen& dark = ScreenNamed("dark");
  const Screen& doc = ScreenNamed("document");
  const Screen& wall = ScreenNamed("wallpaper");
  const Screen& icons = ScreenNamed("icons");
  const Screen& uniform = ScreenNamed("uniform");
  const Screen& noise = ScreenNamed("noise");
  const Screen& few = ScreenNamed("4-colour noise");
  const Screen& stripes = ScreenNamed("1px stripes");

  // -- Found early, in the middle and late, every mode and order (everyday) --
  EveryModeAndOrder(dark, {{"panel text", 10, 0, 76, 26, 0},
                           {"calculator key", 970, 452, 48, 30, 0},
                           {"logo", 1816, 916, 64, 64, 0}});
  // On the document the text itself is the shape: glyphs in shape mode.
  EveryModeAndOrder(doc, {{"heading word", 228, 236, 144, 34, 0x1A1A1A},
                          {"text line", 620, 463, 190, 20, 0x1A1A1A},
                          {"sidebar row", 1452, 1002, 340, 28, 0}});
  EveryModeAndOrder(wall, {{"menu word", 36, 0, 44, 26, 0},
                           {"calculator key", 936, 467, 48, 30, 0},
                           {"notification", 1564, 916, 200, 48, 0}});
  FoundAtCut("document glyph Q 26x34 shape rows-TL", false, doc, 228, 236, 26, 34, kRowsTL, 0x1A1A1A);

  // -- Icons: a script lists every icon of a folder by raising the skip count --
  {
    const Template icon = Cut(icons, kIconX, kIconY, 48, 48);
    const std::uint32_t shape = MostCommon(icon);
    for (const std::int32_t color : {kPattern, static_cast<std::int32_t>(shape), kTolerance}) {
      for (const std::int32_t order : kOrders) {
        for (const int skip : {0, 100}) {
          const Point p = NthInScan(IconCopies(), kAll, 48, 48, order, skip);
          Found(std::string("icons icon 48x48 ") + ModeName(color) + " " + OrderName(order) + " skip " +
                    std::to_string(skip),
                false, icons, icon, p.x, p.y, order + skip, color);
        }
      }
    }
    for (const int skip : {10, 50}) {
      const Point p = NthInScan(IconCopies(), kAll, 48, 48, kRowsTL, skip);
      Found("icons icon 48x48 pattern rows-TL skip " + std::to_string(skip), false, icons, icon, p.x, p.y,
            kRowsTL + skip, kPattern);
    }
    const Point last = NthInScan(IconCopies(), kAll, 48, 48, kRowsTL, 100);
    Found("icons icon 48x48 pattern rows-TL list skip 0-100", false, icons, icon, last.x, last.y, kRowsTL,
          kPattern);
    g_cases.back().listUpTo = 100;
  }

  // -- Every sighting: one call against the skip loop a script would run --
  {
    const Template icon = Cut(icons, kIconX, kIconY, 48, 48);
    const std::uint32_t shape = MostCommon(icon);
    for (const std::int32_t color : {kPattern, static_cast<std::int32_t>(shape), kTolerance}) {
      for (const std::int32_t order : {kRowsTL, kColsBR}) {
        Every(std::string("icons icon 48x48 ") + ModeName(color) + " " + OrderName(order), false, icons, icon,
              order, color, IconCopies());
      }
    }
    // Every letter e of the page's text that shows at the same subpixel
    // offset, and the sidebar's check boxes.
    Every("document glyph e 7x7 pattern rows-TL", false, doc, Cut(doc, 277, 296, 7, 7), kRowsTL, kPattern,
          {});
    Every("document glyph e 7x7 near n=0 rows-TL", false, doc, Cut(doc, 277, 296, 7, 7), kRowsTL,
          NearColors(0, 0), {});
    Every("document check box 14x14 pattern cols-BR", false, doc, Cut(doc, 1800, 163, 14, 14), kColsBR,
          kPattern, CheckBoxes());
    // Every position a sighting: the one call against one literal scan.
    Every("uniform plain 16x16 pattern rows-TL", true, uniform, Plain(16, 16, 0x3A6EA5), kRowsTL, kPattern,
          {}, false);
    Every("uniform plain 16x16 shape cols-TL", true, uniform, Plain(16, 16, 0x3A6EA5), kColsTL, 0x3A6EA5, {},
          false);
    Every("uniform plain 16x16 near n=0 cols-BR", true, uniform, Plain(16, 16, 0x3A6EA5), kColsBR,
          NearColors(0, 0), {}, false);
    Every("1px stripes 16x16 pattern rows-TL", true, stripes, Cut(stripes, 10, 10, 16, 16), kRowsTL, kPattern,
          {}, false);
  }

  // -- Plain templates: on a screen of one colour, and on mostly plain screens --
  // On the one-colour screen every position matches: each order finds the
  // first position it visits.
  for (const auto& [w, h] : std::vector<std::pair<int, int>>{
           {16, 16}, {64, 64}, {200, 150}, {400, 300}, {600, 400}, {1000, 800}}) {
    const std::string size = std::to_string(w) + "x" + std::to_string(h);
    Found("uniform plain " + size + " pattern rows-TL", false, uniform, Plain(w, h, 0x3A6EA5), 0, 0, kRowsTL,
          kPattern);
    if (w == 1000 || w == 64) {
      Found("uniform plain " + size + " pattern rows-BR", false, uniform, Plain(w, h, 0x3A6EA5), kW - w,
            kH - h, kRowsBR, kPattern);
      Found("uniform plain " + size + " shape cols-TL", false, uniform, Plain(w, h, 0x3A6EA5), 0, 0, kColsTL,
            0x3A6EA5);
    }
  }
  // The dark desktop: the first plain area of each size below the top panel
  // (row by row from the top) or above the dock (from the bottom).
  FoundAtCut("dark plain 16x16 pattern rows-TL", false, dark, 74, 0, 16, 16, kRowsTL, kPattern);
  FoundAtCut("dark plain 64x64 pattern rows-TL", false, dark, 818, 28, 64, 64, kRowsTL, kPattern);
  FoundAtCut("dark plain 200x150 pattern rows-TL", false, dark, 818, 28, 200, 150, kRowsTL, kPattern);
  FoundAtCut("dark plain 200x150 pattern rows-BR", false, dark, 512, 930, 200, 150, kRowsBR, kPattern);
  FoundAtCut("dark plain 400x300 pattern rows-TL", false, dark, 818, 28, 400, 300, kRowsTL, kPattern);
  FoundAtCut("dark plain 400x300 pattern cols-TL", false, dark, 0, 761, 400, 300, kColsTL, kPattern);
  FoundAtCut("dark plain 600x400 pattern rows-TL", false, dark, 1108, 28, 600, 400, kRowsTL, kPattern);
  FoundAtCut("dark plain 600x400 pattern rows-BR", false, dark, 1320, 330, 600, 400, kRowsBR, kPattern);
  // The document: white areas of the page, beside the heading and below the
  // text; every window over the page's white runs far before it fails.
  FoundAtCut("document plain white 200x150 pattern rows-TL", false, doc, 771, 140, 200, 150, kRowsTL,
             kPattern);
  FoundAtCut("document plain white 200x150 pattern cols-TL", false, doc, 110, 592, 200, 150, kColsTL,
             kPattern);
  FoundAtCut("document plain white 600x400 pattern rows-TL", false, doc, 699, 504, 600, 400, kRowsTL,
             kPattern);

  // -- Two-colour templates: boxes with a border --
  {
    const Template box = Cut(doc, 1800, 163, 14, 14);
    for (const std::int32_t order : kOrders) {
      const Point p = NthInScan(CheckBoxes(), kAll, 14, 14, order, 0);
      Found(std::string("document check box 14x14 pattern ") + OrderName(order), false, doc, box, p.x, p.y,
            order, kPattern);
    }
  }
  FoundAtCut("document search field 180x27 pattern rows-TL", false, doc, 1640, 67, 180, 27, kRowsTL,
             kPattern);
  FoundAtCut("document search field 180x27 pattern rows-BR", false, doc, 1640, 67, 180, 27, kRowsBR,
             kPattern);
  {
    Template frame = Plain(160, 120, 0xF0F0F0);
    for (int y = 0; y < 120; ++y)
      for (int x = 0; x < 160; ++x)
        if (x == 0 || y == 0 || x == 159 || y == 119) frame.at(x, y) = 0x404040;
    NotFound("uniform box 160x120 pattern", true, uniform, frame, kRowsTL, kPattern);
  }

  // -- Many colours (more than 255): pieces of the gradient wallpaper and the photo --
  FoundAtCut("wallpaper gradient 64x64 pattern rows-TL", false, wall, 300, 45, 64, 64, kRowsTL, kPattern);
  FoundAtCut("wallpaper gradient 64x64 pattern rows-BR", false, wall, 300, 45, 64, 64, kRowsBR, kPattern);
  FoundAtCut("wallpaper gradient 64x64 tolerance cols-TL", false, wall, 300, 45, 64, 64, kColsTL, kTolerance);
  FoundAtCut("wallpaper gradient 128x96 pattern rows-TL", false, wall, 1400, 780, 128, 96, kRowsTL, kPattern);
  FoundAtCut("wallpaper gradient 128x96 pattern cols-BR", false, wall, 1400, 780, 128, 96, kColsBR, kPattern);
  FoundAtCut("wallpaper photo 64x64 pattern rows-TL", false, wall, 1300, 200, 64, 64, kRowsTL, kPattern);
  FoundAtCut("wallpaper photo 64x64 pattern cols-BR", false, wall, 1300, 200, 64, 64, kColsBR, kPattern);
  FoundAtCut("wallpaper photo corner 64x64 pattern rows-TL", false, wall, 1181, 91, 64, 64, kRowsTL,
             kPattern);
  NotFound("wallpaper gradient 64x64 pattern not on screen", false, wall, Defect(Cut(wall, 960, 700, 64, 64)),
           kRowsTL, kPattern);
  NotFound("noise 64x64 pattern, 4096 colours", true, noise, EarlyDefect(Cut(noise, 700, 400, 64, 64), 100),
           kRowsTL, kPattern);

  // -- Not found on the new screens (everyday) --
  NotFound("dark calculator key 48x30 pattern", false, dark, Defect(Cut(dark, 970, 452, 48, 30)), kRowsTL,
           kPattern);
  NotFound("document text line 190x20 shape", false, doc,
           ShapeDefect(Cut(doc, 620, 463, 190, 20), 0x1A1A1A, 3), kRowsTL, 0x1A1A1A);
  NotFound("icons icon 48x48 pattern", false, icons, Defect(Cut(icons, kIconX, kIconY, 48, 48)), kRowsTL,
           kPattern);

  // -- The earlier not-found set: desktop screenshots and made-up worst cases --
  const std::size_t earlierFrom = g_cases.size();
  // One colour with one pixel of another in the top row, which the literal
  // test reaches last: on a uniform area every position is walked to the end.
  Template mostlyOne = Plain(64, 64, 0xC0C0C0);
  mostlyOne.at(63, 0) = 0x000080;
  NotFound("desktop1 pattern 8x8 text", false, d1, Defect(Cut(d1, 330, 60, 8, 8)), 0, kPattern);
  NotFound("desktop1 pattern 16x16 text", false, d1, Defect(Cut(d1, 100, 300, 16, 16)), 0, kPattern);
  NotFound("desktop1 pattern 32x32 calc", false, d1, Defect(Cut(d1, 1160, 470, 32, 32)), 0, kPattern);
  NotFound("desktop2 pattern 64x64 eyes", false, d2, Defect(Cut(d2, 230, 280, 64, 64)), 0, kPattern);
  NotFound("desktop2 pattern 24x24 terminal", false, d2, Defect(Cut(d2, 70, 700, 24, 24)), 0, kPattern);
  NotFound("desktop1 shape 24x24 clock", false, d1, ShapeDefect(Cut(d1, 1190, 110, 24, 24), 0x000000, 3), 0,
           0x000000);
  NotFound("desktop2 shape 48x48 logo", false, d2, ShapeDefect(Cut(d2, 90, 70, 48, 48), 0x000000, 3), 0,
           0x000000);
  NotFound("desktop2 tolerance 16x16 text", false, d2, Defect(Cut(d2, 620, 320, 16, 16)), 0,
           0x10000000 | 20 << 16 | 60);
  NotFound("desktop1 tolerance 32x32 eyes", false, d1, Defect(Cut(d1, 1420, 90, 32, 32)), 0,
           0x13000000 | 255 << 16 | 765);
  NotFound("uniform pattern 64x64 one colour", true, uniform, mostlyOne, 0, kPattern);
  NotFound("uniform shape 64x64 one colour", true, uniform, mostlyOne, 0, 0xC0C0C0);
  NotFound("noise pattern 16x16", true, noise, Defect(Cut(noise, 500, 500, 16, 16)), 0, kPattern);
  NotFound("4-colour noise pattern 16x16", true, few, Defect(Cut(few, 500, 500, 16, 16)), 0, kPattern);
  NotFound("4-colour noise shape 16x16", true, few, ShapeDefect(Cut(few, 700, 300, 16, 16), 0xFFFFFF, 3), 0,
           0xFFFFFF);
  NotFound("stripes pattern 16x16", true, stripes, Defect(Cut(stripes, 10, 10, 16, 16)), 0, kPattern);
  NotFound("stripes pattern 64x64 by column", true, stripes, Defect(Cut(stripes, 10, 10, 64, 64)), kColsTL,
           kPattern);
  NotFound("desktop1 pattern 32x32 by column", false, d1, Defect(Cut(d1, 1160, 470, 32, 32)),
           1 << 18 | 1 << 17, kPattern);
  for (std::size_t i = earlierFrom; i < g_cases.size(); ++i) g_cases[i].earlier = true;
  // Found late on the desktop screenshots (now where they were cut: the
  // pieces cut before held nothing that told them from their neighbours).
  FoundAtCut("desktop2 found late pattern 32x32", false, d2, 1600, 850, 32, 32, kRowsTL, kPattern);
  FoundAtCut("desktop2 found late bottom-up 32x32", false, d2, 150, 60, 32, 32, 1 << 16 | 1 << 17, kPattern);
  FoundAtCut("desktop1 found late shape 16x16", false, d1, 1342, 760, 16, 16, kRowsTL, 0x000000);
  FoundAtCut("desktop1 found late tolerance 24x24", false, d1, 1200, 745, 24, 24, kRowsTL, 0x10000000);
  FoundAtCut("desktop1 found late by column 16x16", false, d1, 1780, 300, 16, 16, kColsTL, kPattern);
  // -- Near colours: copies a shade off, or with a badge --
  Found("document heading word 144x34 near n=12 rows-TL", false, doc,
        Shade(Cut(doc, 228, 236, 144, 34), 12, 1), 228, 236, kRowsTL, NearColors(12, 0));
  Found("document heading word 144x34 near n=12 rows-BR", false, doc,
        Shade(Cut(doc, 228, 236, 144, 34), 12, 1), 228, 236, kRowsBR, NearColors(12, 0));
  Found("wallpaper photo 64x64 near n=6 rows-TL", false, wall, Shade(Cut(wall, 1300, 200, 64, 64), 6, 2),
        1300, 200, kRowsTL, NearColors(6, 0));
  Found("wallpaper photo 64x64 near n=6 cols-BR", false, wall, Shade(Cut(wall, 1300, 200, 64, 64), 6, 2),
        1300, 200, kColsBR, NearColors(6, 0));
  Found("dark logo 64x64 near n=20 p=10 badge rows-TL", false, dark,
        Badge(Shade(Cut(dark, 1816, 916, 64, 64), 20, 3), 16), 1816, 916, kRowsTL, NearColors(20, 10));
  Found("document text line 190x20 near n=24 p=10 badge rows-TL", false, doc,
        Badge(Shade(Cut(doc, 620, 463, 190, 20), 24, 4), 12), 620, 463, kRowsTL, NearColors(24, 10));
  Found("uniform plain 400x300 near n=4 rows-TL", false, uniform, Shade(Cut(uniform, 0, 0, 400, 300), 4, 5),
        0, 0, kRowsTL, NearColors(4, 0));
  NotFound("desktop1 near 32x32 calc n=8", false, d1, Defect(Cut(d1, 1160, 470, 32, 32)), kRowsTL,
           NearColors(8, 0));
  NotFound("desktop2 near 64x64 eyes n=16 p=2 badge", false, d2,
           Badge(Shade(Cut(d2, 230, 280, 64, 64), 16, 6), 12), kRowsTL, NearColors(16, 2));
  NotFound("noise near 16x16 n=8", true, noise, Defect(Cut(noise, 500, 500, 16, 16)), kRowsTL,
           NearColors(8, 0));
  // -- See-through pixels: round icons saved with alpha, sprites on a key colour --
  {
    const Template icon = Round(Cut(icons, kIconX, kIconY, 48, 48));
    const std::uint32_t shape = MostCommon(icon);
    for (const std::int32_t color :
         {kPattern, static_cast<std::int32_t>(shape), kTolerance, NearColors(8, 0)}) {
      for (const std::int32_t order : {kRowsTL, kColsBR}) {
        for (const int skip : {0, 100}) {
          const Point p = NthInScan(IconCopies(), kAll, 48, 48, order, skip);
          Found(std::string("icons round icon 48x48 alpha ") + ModeName(color) + " " + OrderName(order) +
                    " skip " + std::to_string(skip),
                false, icons, icon, p.x, p.y, order + skip, color);
        }
      }
    }
  }
  for (const std::int32_t order : {kRowsTL, kColsBR}) {
    Found(std::string("wallpaper photo round 64x64 alpha pattern ") + OrderName(order), false, wall,
          Round(Cut(wall, 1300, 200, 64, 64)), 1300, 200, order, kPattern);
    Found(std::string("wallpaper photo round 64x64 alpha near n=6 ") + OrderName(order), false, wall,
          Round(Shade(Cut(wall, 1300, 200, 64, 64), 6, 2)), 1300, 200, order, NearColors(6, 0));
    Found(std::string("dark calculator key round 48x30 key colour pattern ") + OrderName(order), false, dark,
          KeyedOut(Round(Cut(dark, 970, 452, 48, 30)), 0xFF00FF), 970, 452, order, kPattern);
    Found(std::string("dark calculator key round 48x30 key colour tolerance ") + OrderName(order), false,
          dark, KeyedOut(Round(Cut(dark, 970, 452, 48, 30)), 0xFF00FF), 970, 452, order, kTolerance);
  }
  Found("document heading word 144x34 half clear shape rows-TL", false, doc,
        Checkered(Cut(doc, 228, 236, 144, 34)), 228, 236, kRowsTL, 0x1A1A1A);
  Found("document heading word 144x34 half clear shape key colour rows-BR", false, doc,
        KeyedOut(Checkered(Cut(doc, 228, 236, 144, 34)), 0xFF00FF), 228, 236, kRowsBR, 0x1A1A1A);
  NotFound("desktop1 round 32x32 calc alpha pattern", false, d1,
           OpaqueDefect(Round(Cut(d1, 1160, 470, 32, 32))), kRowsTL, kPattern);
  NotFound("desktop1 round 32x32 calc key colour pattern", false, d1,
           KeyedOut(OpaqueDefect(Round(Cut(d1, 1160, 470, 32, 32))), 0xFF00FF), kRowsTL, kPattern);
  NotFound("desktop2 round 24x24 terminal alpha pattern", false, d2, Round(Defect(Cut(d2, 70, 700, 24, 24))),
           kRowsTL, kPattern);
  NotFound("dark calculator key 48x30 half clear pattern", false, dark,
           OpaqueDefect(Checkered(Cut(dark, 970, 452, 48, 30))), kRowsTL, kPattern);
  NotFound("desktop2 round 16x16 text alpha tolerance", false, d2,
           OpaqueDefect(Round(Cut(d2, 620, 320, 16, 16))), kRowsTL, 0x10000000 | 20 << 16 | 60);
  NotFound("desktop2 round 48x48 logo alpha shape", false, d2,
           Round(ShapeDefect(Cut(d2, 90, 70, 48, 48), 0x000000, 3)), kRowsTL, 0x000000);
  NotFound("desktop1 round 32x32 calc alpha near n=8", false, d1, Round(Defect(Cut(d1, 1160, 470, 32, 32))),
           kRowsTL, NearColors(8, 0));
  NotFound("noise 16x16 half clear pattern", true, noise,
           OpaqueDefect(Checkered(Cut(noise, 500, 500, 16, 16))), kRowsTL, kPattern);
  NotFound("4-colour noise 16x16 half clear pattern", true, few,
           OpaqueDefect(Checkered(Cut(few, 500, 500, 16, 16))), kRowsTL, kPattern);
  NotFound("4-colour noise 16x16 half clear key colour pattern", true, few,
           KeyedOut(OpaqueDefect(Checkered(Cut(few, 500, 500, 16, 16))), 0xFF00FF), kRowsTL, kPattern);
  NotFound("stripes 64x64 half clear pattern", true, stripes,
           OpaqueDefect(Checkered(Cut(stripes, 10, 10, 64, 64))), kRowsTL, kPattern);
  UserDesktopCases(ScreenNamed("editor"), ScreenNamed("mosaic"));
  ShapeOnUserDesktops(ScreenNamed("editor"), ScreenNamed("mosaic"));
  // A small rectangle, as scripts use to watch one spot.
  NotFound("desktop1 200x200 rectangle 16x16", false, d1, Defect(Cut(d1, 1200, 450, 16, 16)), 0, kPattern,
           Rect{1150, 400, 1349, 599});
  std::size_t marked = 0;
  for (Case& c : g_cases) {
    c.wine = std::find(std::begin(kWineCases), std::end(kWineCases), c.name) != std::end(kWineCases);
    marked += c.wine ? 1 : 0;
  }
  if (marked != std::size(kWineCases)) {
    std::fprintf(stderr, "bench: a name in kWineCases names no case\n");
    std::exit(2);
  }
}

// A template's file: an RGBA PNG file when it has see-through pixels that no
// key colour stands for, else a 24-bit BMP file. `path` without its
// extension; answers the whole path.
std::string WriteTemplate(const std::string& path, const Template& t) {
  if (!t.clear.empty() && !t.keyColour) {
    cv::Mat m(t.h, t.w, CV_8UC4);
    for (int y = 0; y < t.h; ++y) {
      for (int x = 0; x < t.w; ++x) {
        const std::uint32_t v = t.at(x, y);
        const bool clear = t.clear[static_cast<std::size_t>(y) * t.w + x];
        m.at<cv::Vec4b>(y, x) = cv::Vec4b(v & 0xFF, v >> 8 & 0xFF, v >> 16 & 0xFF, clear ? 0 : 255);
      }
    }
    if (!cv::imwrite(path + ".png", m)) std::exit(2);
    return path + ".png";
  }
  const std::vector<std::uint8_t> bytes = zadized::test::MakeBmp24(t.w, t.h, t.px);
  FILE* f = std::fopen((path + ".bmp").c_str(), "wb");
  const bool ok = f != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (f != nullptr) std::fclose(f);
  if (!ok) std::exit(2);
  return path + ".bmp";
}

// Writes the templates, expected answers and peer keys; a failure here is a
// fault of the case list, not of the search.
void Prepare() {
  std::set<std::string> names;
  const std::string dir = "/tmp/zadized-bench-" + std::to_string(getpid());
  for (std::size_t i = 0; i < g_cases.size(); ++i) {
    Case& c = g_cases[i];
    if (!names.insert(c.name).second) {
      std::fprintf(stderr, "bench: two cases named %s\n", c.name.c_str());
      std::exit(2);
    }
    c.colours = Colours(c.templ);
    c.plain = c.colours == 1 || c.screen->name == "uniform";
    if (c.placesKnown) {
      for (std::size_t k = 0; k < c.places.size(); ++k) {
        const Point p = NthInScan(c.places, c.r, c.templ.w, c.templ.h, c.options, static_cast<int>(k));
        c.listExpected.push_back(Encode(p.x, p.y));
      }
    }
    if (c.listUpTo > 0) {
      for (int k = 0; k <= c.listUpTo; ++k) {
        const Point p = NthInScan(IconCopies(), c.r, c.templ.w, c.templ.h, c.options, k);
        c.listExpected.push_back(Encode(p.x, p.y));
      }
    }
    std::uint64_t hash = 1469598103934665603ull;
    for (std::uint32_t v : c.templ.px) hash = (hash ^ v) * 1099511628211ull;
    char key[160];
    std::snprintf(key, sizeof key, "%s %dx%d in %dx%d #%08x", c.screen->name.c_str(), c.templ.w, c.templ.h,
                  c.r.x2 - c.r.x1 + 1, c.r.y2 - c.r.y1 + 1, static_cast<unsigned>(hash));
    c.peer = key;
    const std::string path = WriteTemplate(dir + "-" + std::to_string(i), c.templ);
    // The cache keeps the file's bytes from the first load on.
    const zadized::Template loaded = zadized::OpenTemplate(path.c_str());
    c.record = loaded.record;
    c.opacity = loaded.opacity;
    std::remove(path.c_str());
    if (c.record.fileSize < 0 || (c.opacity != nullptr) != (!c.templ.clear.empty() && !c.templ.keyColour))
      std::exit(2);
  }
}

std::int32_t Expected(const Case& c) { return c.found ? Encode(c.expected.x, c.expected.y) : -1; }

// The cases measured against the read pass: nothing found on the whole screen.
bool FloorCase(const Case& c) {
  return !c.found && FullScreen(c.r) && c.listUpTo == 0 && c.every == Case::kNotEvery;
}

std::string WhereFound(const Case& c) {
  if (c.listUpTo > 0) return "list 0-" + std::to_string(c.listUpTo);
  if (c.every != Case::kNotEvery) return "every sighting";
  if (!c.found) return FullScreen(c.r) ? "not found" : "not found, rect";
  const ScanPlace p = PlaceInScan(c.r, c.templ.w, c.templ.h, c.options, c.expected.x, c.expected.y);
  const double f = static_cast<double>(p.index) / static_cast<double>(p.total);
  char out[32];
  std::snprintf(out, sizeof out, "%s %.0f%%",
                f < 1.0 / 3   ? "early"
                : f < 2.0 / 3 ? "middle"
                              : "late",
                100 * f);
  return out;
}

// ---- The end-to-end cases for Wine ----

int WriteWineCases(const std::string& dir) {
  const std::string mkdir = "mkdir -p '" + dir + "'";
  if (std::system(mkdir.c_str()) != 0) return 2;
  FILE* list = std::fopen((dir + "/cases.txt").c_str(), "w");
  if (list == nullptr) return 2;
  std::set<std::string> screens;
  int n = 0;
  // Screen by screen, so that each is shown once.
  std::vector<std::size_t> order;
  for (const auto& s : g_screens)
    for (std::size_t i = 0; i < g_cases.size(); ++i)
      if (g_cases[i].wine && g_cases[i].screen == s.get()) order.push_back(i);
  for (const std::size_t i : order) {
    const Case& c = g_cases[i];
    std::string screenFile = "screen-" + c.screen->name + ".bmp";
    std::replace(screenFile.begin(), screenFile.end(), ' ', '-');
    const auto write = [&](const std::string& name, int w, int h, const std::vector<std::uint32_t>& px) {
      const std::vector<std::uint8_t> bytes = zadized::test::MakeBmp24(w, h, px);
      FILE* f = std::fopen((dir + "/" + name).c_str(), "wb");
      const bool ok = f != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
      if (f != nullptr) std::fclose(f);
      if (!ok) std::exit(2);
    };
    if (screens.insert(screenFile).second) write(screenFile, kW, kH, c.screen->topDown);
    const std::string templatePath = WriteTemplate(dir + "/template-" + std::to_string(i), c.templ);
    const std::string templateFile = templatePath.substr(dir.size() + 1);
    // One case a line, fields separated by tabs: name, kind, where, screen,
    // template, rectangle, options, colour, expected answer, whether it is a
    // full-screen not-found case, whether it is a plain one, colours of the
    // template, whether it lists every sighting (the expected answer is then
    // their number: the places given, or what the library lists here, which
    // the native run holds to the literal scan's list).
    std::int32_t expected = Expected(c);
    if (c.every != Case::kNotEvery) {
      const ScreenImage image{nullptr, const_cast<std::uint8_t*>(c.screen->bits.data()), kW, kH, 32};
      expected = c.placesKnown ? static_cast<std::int32_t>(c.places.size())
                               : zadized::SearchCaptureAll(image, c.record, c.r.x1, c.r.y1, c.r.x2, c.r.y2,
                                                           c.options, c.color, nullptr, 0);
    }
    std::fprintf(list, "%s\t%s\t%s\t%s\t%s\t%d\t%d\t%d\t%d\t%d\t%d\t%d\t%d\t%d\t%zu\t%d\n", c.name.c_str(),
                 c.adversarial ? "adversarial" : "everyday", WhereFound(c).c_str(), screenFile.c_str(),
                 templateFile.c_str(), c.r.x1, c.r.y1, c.r.x2, c.r.y2, c.options, c.color, expected,
                 FloorCase(c) ? 1 : 0, c.plain ? 1 : 0, c.colours, c.every != Case::kNotEvery ? 1 : 0);
    ++n;
  }
  std::fclose(list);
  std::printf("%d cases for the end-to-end run written to %s\n", n, dir.c_str());
  return 0;
}

// ---- The timed runs ----

void Fast(benchmark::State& state, Case* c) {
  zadized::SetReferenceScan(false);
  for (auto _ : state) {
    c->fastResult = Run(*c, &c->fastListOk, &c->fastList);
    benchmark::DoNotOptimize(c->fastResult);
  }
  c->fastRan = true;
}

void Literal(benchmark::State& state, Case* c) {
  zadized::SetReferenceScan(true);
  for (auto _ : state) {
    c->literalResult = Run(*c, &c->literalListOk, &c->literalList);
    benchmark::DoNotOptimize(c->literalResult);
  }
  zadized::SetReferenceScan(false);
  c->literalRan = true;
}

// matchTemplate has no skip count: a listing counts one search per call.
void Peer(benchmark::State& state, const Case* c) {
  const cv::Mat area =
      c->screen->bgr(cv::Rect(c->r.x1, c->r.y1, c->r.x2 - c->r.x1 + 1, c->r.y2 - c->r.y1 + 1));
  cv::Mat t(c->templ.h, c->templ.w, CV_8UC3);
  for (int y = 0; y < c->templ.h; ++y) {
    for (int x = 0; x < c->templ.w; ++x) {
      const std::uint32_t v = c->templ.at(x, y);
      t.at<cv::Vec3b>(y, x) = cv::Vec3b(v & 0xFF, v >> 8 & 0xFF, v >> 16 & 0xFF);
    }
  }
  // See-through pixels are masked out, which matchTemplate offers too.
  cv::Mat mask(c->templ.h, c->templ.w, CV_8UC3, cv::Scalar(255, 255, 255));
  for (std::size_t k = 0; k < c->templ.clear.size(); ++k)
    if (c->templ.clear[k])
      mask.at<cv::Vec3b>(static_cast<int>(k) / c->templ.w, static_cast<int>(k) % c->templ.w) =
          cv::Vec3b(0, 0, 0);
  cv::Mat scores;
  for (auto _ : state) {
    if (c->templ.clear.empty()) {
      cv::matchTemplate(area, t, scores, cv::TM_SQDIFF);
    } else {
      cv::matchTemplate(area, t, scores, cv::TM_SQDIFF, mask);
    }
    double best = 0;
    cv::Point where;
    cv::minMaxLoc(scores, &best, nullptr, &where, nullptr);
    benchmark::DoNotOptimize(best);
    benchmark::DoNotOptimize(where);
  }
}

// One read pass over a capture: the least any full-screen search must do.
void Floor(benchmark::State& state, const Screen* s) {
  const auto* words = reinterpret_cast<const std::uint32_t*>(s->bits.data());
  const std::size_t n = s->bits.size() / 4;
  for (auto _ : state) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < n; ++i) sum += words[i];
    benchmark::DoNotOptimize(sum);
  }
}

class Collector : public benchmark::ConsoleReporter {
 public:
  // Colours only on a terminal, so that saved output reads as plain text.
  Collector() : ConsoleReporter(isatty(1) ? OO_ColorTabular : OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& r : runs) {
      if (r.run_type == Run::RT_Iteration && r.iterations > 0) {
        // Options such as a minimum time are appended to the name after a '/'.
        std::string name = r.benchmark_name();
        const std::size_t option = name.find("/min_time:");
        if (option != std::string::npos) name.erase(option);
        g_seconds[name] = r.cpu_accumulated_time / static_cast<double>(r.iterations);
        g_wallSeconds[name] = r.real_accumulated_time / static_cast<double>(r.iterations);
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n == 0 ? 0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// The speed goals the search is held to: never slower than the literal scan,
// much faster where the literal scan is slow, near the floor when nothing is
// found.
constexpr double kSlowerAllowed = 1.25;  // G1: fast <= max(1.25 x literal, 50 us)
constexpr double kSlowerFloorSeconds = 50e-6;
constexpr double kPlainOrEarly = 10;         // G2: >= 10x literal, found early or plain area,
constexpr double kPlainOrEarlyFrom = 10e-3;  //     where the literal scan takes more than 10 ms
constexpr double kManyColours = 20;          // G3: >= 20x literal, more than 255 colours
constexpr double kFloorRatio = 3;            // G4: not found, full screen: <= 3x the read pass
constexpr double kMedianSpeedUp = 300;       // G5: median over G4's cases >= 300x literal

// The places of a list in the order first met: what a skip loop in
// tolerance mode meets, each place once.
std::vector<std::int32_t> FirstMet(const std::vector<std::int32_t>& v) {
  std::vector<std::int32_t> out;
  std::set<std::int32_t> seen;
  for (const std::int32_t p : v)
    if (seen.insert(p).second) out.push_back(p);
  return out;
}

constexpr double kEveryGoal = 20;  // L1: one call >= 20x the skip loop, more than 20 sightings

// The every-sighting table; true when a list was wrong.
bool ReportEvery() {
  std::printf(
      "\nEvery sighting: one SearchImageAll call (SearchCaptureAll) against the skip loop it replaces "
      "(SearchImage with skip 0, 1, ... until -1, fast scan) and against one literal scan listing the same "
      "rectangle. Times in ms, CPU time, one run. x loop = skip loop / one call; x lit = literal one call / "
      "one call.\n"
      "Goals: L1 more than 20 sightings: x loop >= %.0f; G1 one call <= max(%.2f x literal, %.0f us).\n",
      kEveryGoal, kSlowerAllowed, kSlowerFloorSeconds * 1e6);
  std::printf("%-46s %-11s %9s %11s %7s %10s %9s %11s %8s %s\n", "case", "kind", "sightings", "skip loop",
              "calls", "one call", "x loop", "literal", "x lit", "misses");
  const std::string oneCall = " every sighting, one call";
  bool wrong = false;
  double leastLoop = 0, worstAllowed = 0;
  std::string leastLoopName, worstAllowedName;
  for (const Case& c : g_cases) {
    if (c.every != Case::kOneCall) continue;
    const std::string base = c.name.substr(0, c.name.size() - oneCall.size());
    const Case* loop = nullptr;
    for (const Case& d : g_cases)
      if (d.every == Case::kSkipLoop && d.name == base + " every sighting, skip loop") loop = &d;
    std::string problems;
    if (c.fastRan && c.placesKnown && c.fastList != c.listExpected) problems += " FAST-WRONG";
    if (c.literalRan && c.placesKnown && c.literalList != c.listExpected) problems += " LITERAL-WRONG";
    if (c.fastRan && c.literalRan && c.fastList != c.literalList) problems += " DISAGREE";
    if (c.fastRan && c.fastResult != static_cast<std::int32_t>(c.fastList.size())) problems += " FAST-COUNT";
    if (loop != nullptr && loop->fastRan && c.fastRan && FirstMet(loop->fastList) != c.fastList)
      problems += " LOOP-DIFFERS";
    if (!problems.empty()) wrong = true;
    const double f = g_seconds["fast/" + c.name], l = g_seconds["literal/" + c.name];
    const double sl = loop != nullptr ? g_seconds["fast/" + loop->name] : 0;
    if (f <= 0) continue;  // filtered out of this run
    const std::size_t n = c.fastList.size();
    std::string misses;
    const double allowed = std::max(kSlowerAllowed * l, kSlowerFloorSeconds);
    if (l > 0 && f > allowed) misses += " G1";
    if (sl > 0 && n > 20 && sl / f < kEveryGoal) misses += " L1";
    if (l > 0 && f / allowed > worstAllowed) {
      worstAllowed = f / allowed;
      worstAllowedName = base;
    }
    if (sl > 0 && n > 20 && (leastLoop == 0 || sl / f < leastLoop)) {
      leastLoop = sl / f;
      leastLoopName = base;
    }
    char loopMs[16] = "-", calls[16] = "-", xLoop[16] = "-", litMs[16] = "-", xLit[16] = "-";
    if (sl > 0) {
      std::snprintf(loopMs, sizeof loopMs, "%.3f", sl * 1e3);
      std::snprintf(calls, sizeof calls, "%zu", loop->fastList.size() + 1);
      std::snprintf(xLoop, sizeof xLoop, "%.1f", sl / f);
    }
    if (l > 0) {
      std::snprintf(litMs, sizeof litMs, "%.3f", l * 1e3);
      std::snprintf(xLit, sizeof xLit, "%.2f", l / f);
    }
    std::printf("%-46s %-11s %9zu %11s %7s %10.3f %9s %11s %8s%s%s\n", base.c_str(),
                c.adversarial ? "adversarial" : "everyday", n, loopMs, calls, f * 1e3, xLoop, litMs, xLit,
                misses.c_str(), problems.c_str());
  }
  std::printf(
      "Least x loop with more than 20 sightings: %.1f (%s). Worst one call / max(%.2f x literal, %.0f us): "
      "%.2f (%s).\n",
      leastLoop, leastLoopName.c_str(), kSlowerAllowed, kSlowerFloorSeconds * 1e6, worstAllowed,
      worstAllowedName.c_str());
  return wrong;
}

int Report() {
  const double floor = g_seconds["floor/read 1920x1080"];
  std::printf(
      "\nOne run. Times per search in ms (a listing: all its searches), CPU time of the searching thread. "
      "x lit = literal / fast; x floor = fast / floor, for full-screen not-found cases, the floor being one "
      "read pass over the 1920x1080 capture measured just before the case (%.3f ms at the start). opencv: "
      "matchTemplate TM_SQDIFF (OpenCV %s, %d threads, wall-clock time) on the same rectangle and template, "
      "the peer.\n",
      floor * 1e3, CV_VERSION, cv::getNumThreads());
  std::printf(
      "Goals: G1 fast <= max(%.2f x literal, %.0f us); G2 found early or plain area (one-colour template or "
      "screen), literal > %.0f ms: x lit >= %.0f; G3 more than 255 colours: x lit >= %.0f; G4 full-screen "
      "not "
      "found: x floor <= %.0f; G5 median x lit of G4's cases >= %.0f.\n",
      kSlowerAllowed, kSlowerFloorSeconds * 1e6, kPlainOrEarlyFrom * 1e3, kPlainOrEarly, kManyColours,
      kFloorRatio, kMedianSpeedUp);
  std::printf("%-56s %-11s %-15s %7s %10s %11s %9s %10s %7s %s\n", "case", "kind", "found", "colours", "fast",
              "literal", "x lit", "opencv", "x floor", "misses");
  bool wrong = false;
  std::vector<double> notFoundSpeedUps, earlierSpeedUps;
  std::map<std::string, std::vector<std::string>> missed;
  std::string worstName, worstAllowedName, worstFloorName;
  double worst = 0, worstAllowed = 0, worstFloor = 0;
  int shown = 0;
  for (const auto& c : g_cases) {
    if (c.every != Case::kNotEvery) continue;  // in the table after this one
    const std::int32_t expected = Expected(c);
    std::string problems;
    if (c.fastRan && (c.fastResult != expected || !c.fastListOk)) problems += " FAST-WRONG";
    if (c.literalRan && (c.literalResult != expected || !c.literalListOk)) problems += " LITERAL-WRONG";
    if (c.fastRan && c.literalRan && c.fastResult != c.literalResult) problems += " DISAGREE";
    if (!problems.empty()) {
      wrong = true;
      std::printf("%-56s expected %d, fast %d, literal %d:%s\n", c.name.c_str(), expected, c.fastResult,
                  c.literalResult, problems.c_str());
    }
    const double f = g_seconds["fast/" + c.name], l = g_seconds["literal/" + c.name];
    const double o = g_wallSeconds["opencv/" + c.peer];
    if (f <= 0 || l <= 0) continue;  // filtered out of this run
    ++shown;
    // Without a floor in this run (a filter left it out) there is no ratio.
    const double caseFloor = g_seconds["floor/" + c.name] > 0 ? g_seconds["floor/" + c.name] : floor;
    const bool floorCase = FloorCase(c) && caseFloor > 0;
    std::string misses;
    const auto miss = [&](const char* goal) {
      misses += std::string(misses.empty() ? "" : " ") + goal;
      missed[goal].push_back(c.name);
    };
    const std::string where = WhereFound(c);
    const double allowed = std::max(kSlowerAllowed * l, kSlowerFloorSeconds);
    if (f > allowed) miss("G1");
    if ((where.rfind("early", 0) == 0 || c.plain) && l > kPlainOrEarlyFrom && l / f < kPlainOrEarly)
      miss("G2");
    if (c.colours > 255 && l / f < kManyColours) miss("G3");
    if (floorCase && f / caseFloor > kFloorRatio) miss("G4");
    if (floorCase) notFoundSpeedUps.push_back(l / f);
    if (floorCase && c.earlier) earlierSpeedUps.push_back(l / f);
    if (f / l > worst) {
      worst = f / l;
      worstName = c.name;
    }
    if (f / allowed > worstAllowed) {
      worstAllowed = f / allowed;
      worstAllowedName = c.name;
    }
    if (floorCase && f / caseFloor > worstFloor) {
      worstFloor = f / caseFloor;
      worstFloorName = c.name;
    }
    char opencv[16] = "-", floorRatio[16] = "", colours[16];
    if (o > 0) std::snprintf(opencv, sizeof opencv, "%.1f", o * 1e3);
    if (floorCase) std::snprintf(floorRatio, sizeof floorRatio, "%.2f", f / caseFloor);
    std::snprintf(colours, sizeof colours, "%zu", c.colours);
    std::printf("%-56s %-11s %-15s %7s %10.3f %11.3f %9.2f %10s %7s %s%s\n", c.name.c_str(),
                c.adversarial ? "adversarial" : "everyday", where.c_str(), colours, f * 1e3, l * 1e3, l / f,
                opencv, floorRatio, misses.c_str(), problems.c_str());
  }
  const double median = Median(notFoundSpeedUps);
  std::printf(
      "\n%d cases. Worst fast / literal: %.2f (%s). Worst fast / max(%.2f x literal, %.0f us), G1's "
      "allowance: "
      "%.2f (%s).\n",
      shown, worst, worstName.c_str(), kSlowerAllowed, kSlowerFloorSeconds * 1e6, worstAllowed,
      worstAllowedName.c_str());
  std::printf(
      "Full-screen not-found cases (%zu): worst x floor %.2f (%s), median x literal %.1f (the %zu the "
      "benchmark began with: %.1f).\n",
      notFoundSpeedUps.size(), worstFloor, worstFloorName.c_str(), median, earlierSpeedUps.size(),
      Median(earlierSpeedUps));
  if (!notFoundSpeedUps.empty() && median < kMedianSpeedUp)
    missed["G5"].push_back("median of the not-found set");
  if (missed.empty()) std::printf("Every case meets every goal.\n");
  for (const auto& [goal, names] : missed) {
    std::printf("%s missed by %zu:", goal.c_str(), names.size());
    for (const auto& n : names) std::printf(" [%s]", n.c_str());
    std::printf("\n");
  }
  if (ReportEvery()) wrong = true;
  if (wrong) {
    std::printf("Some answers were wrong (see above): the run fails.\n");
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  BuildCases();
  Prepare();
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--wine-cases=", 13) == 0) return WriteWineCases(argv[i] + 13);
  }
  benchmark::RegisterBenchmark("floor/read 1920x1080", Floor, g_screens[0].get())
      ->Unit(benchmark::kMillisecond);
  std::set<std::string> peers;
  for (auto& c : g_cases) {
    // The floor next to the case it is compared with, so that a change in
    // the machine's load between the two counts for little.
    if (FloorCase(c)) {
      benchmark::RegisterBenchmark(("floor/" + c.name).c_str(), Floor, c.screen)
          ->Unit(benchmark::kMillisecond)
          ->MinTime(0.1);
    }
    benchmark::RegisterBenchmark(("fast/" + c.name).c_str(), Fast, &c)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(0.2);
    // A skip loop of literal scans would take many minutes, and compares
    // with nothing the table shows.
    if (c.every == Case::kSkipLoop) continue;
    // The literal scan of the worst cases takes seconds; one pass is enough.
    benchmark::RegisterBenchmark(("literal/" + c.name).c_str(), Literal, &c)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(0.05);
    if (c.every != Case::kNotEvery) continue;
    // matchTemplate does the same work whatever the mode or order: one run
    // stands for every case on the same rectangle and template.
    if (peers.insert(c.peer).second) {
      benchmark::RegisterBenchmark(("opencv/" + c.peer).c_str(), Peer, &c)
          ->Unit(benchmark::kMillisecond)
          ->MinTime(0.05);
    }
  }
  benchmark::Initialize(&argc, argv);
  Collector reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return Report();
}
