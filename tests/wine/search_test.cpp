// CaptureScreen and SearchImage through the real exports, on a picture this
// program paints over the whole screen. Expected results come from the
// literal reference scan run on the same picture, and the key ones are also
// stated as plain positions.
#include <algorithm>
#include <climits>

#include "common/bmp_bytes.h"
#include "harness.h"
#include "image/records.h"
#include "paint_screen.h"
#include "reference/literal_scan.cpp"  // the Windows programs are built from one source each

// After windows.h, which harness.h brings in.
#include <psapi.h>

using zadized::ScreenImage;
using zadized::test::MakeBmp24;

namespace {

constexpr std::uint32_t kGreen = 0x00C000, kRed = 0xFF0000, kWhite = 0xFFFFFF, kBlack = 0x000000;

// A 5x4 block of three colours and a recoloured copy of it.
const std::vector<std::uint32_t> kBlock = {1, 1, 2, 3, 3,  //
                                           1, 2, 2, 3, 1,  //
                                           2, 2, 1, 1, 1,  //
                                           3, 1, 1, 2, 3};
std::vector<std::uint32_t> Color(const std::vector<std::uint32_t>& classes, std::uint32_t a, std::uint32_t b,
                                 std::uint32_t c) {
  std::vector<std::uint32_t> out;
  for (std::uint32_t v : classes) out.push_back(v == 1 ? a : v == 2 ? b : c);
  return out;
}
const std::vector<std::uint32_t> kSmall = {1, 2, 1, 2, 2, 3};  // 3x2
// A plus sign in a 5x5 square.
std::vector<std::uint32_t> Plus(std::uint32_t on, std::uint32_t off) {
  std::vector<std::uint32_t> g(25, off);
  for (int i = 0; i < 5; ++i) g[2 * 5 + i] = g[i * 5 + 2] = on;
  return g;
}

harness::Picture& ThePicture() {
  static harness::Picture p = [] {
    harness::Picture q(harness::Tiles);
    q.Put(120, 60, 5, Color(kBlock, 0x112233, 0x445566, 0x778899));
    for (const auto& [x, y] : std::vector<std::pair<int, int>>{{40, 300}, {200, 300}, {40, 400}})
      q.Put(x, y, 3, Color(kSmall, 0x0A0A0A, 0x0B0B0B, 0x0C0C0C));
    q.Put(400, 150, 5, Plus(kGreen, kBlack));
    q.Put(q.width - 3, q.height - 2, 3, Color(kSmall, 0x0D0D0D, 0x0E0E0E, 0x0F0F0F));
    return q;
  }();
  return p;
}

void ShowPicture() {
  static bool shown = false;
  if (shown) return;
  shown = true;
  const harness::Picture& p = ThePicture();
  CHECK(harness::ShowOnScreen(p.width, p.height, p.px));
}

// Ordinal 2 into a record of markers with more markers after it: the export
// answers exactly the hidden address and writes nothing past the record; the
// test below checks every field.
ScreenImage Capture() {
  struct {
    ScreenImage r;
    std::uint8_t after[16];
  } g;
  std::memset(&g, 0xA5, sizeof g);
  CHECK_EQ(harness::CallAddress(2, {harness::Addr(&g.r)}), harness::Addr(&g.r));
  for (std::uint8_t b : g.after) CHECK_EQ(b, 0xA5);
  return g.r;
}

using harness::Search;

struct Template {
  std::string path;
  std::vector<std::uint8_t> bytes;
};
Template Write(const std::string& name, int w, const std::vector<std::uint32_t>& topDown) {
  Template t{harness::Scratch(name), MakeBmp24(w, static_cast<int>(topDown.size()) / w, topDown)};
  CHECK(harness::WriteBytes(t.path, t.bytes));
  return t;
}

std::int32_t Expected(const Template& t, std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2,
                      std::int32_t options, std::int32_t color) {
  zadized::reference::Screen s;
  s.width = ThePicture().width;
  s.height = ThePicture().height;
  s.topDown = ThePicture().px;
  return zadized::reference::LiteralSearch(t.bytes, s, x1, y1, x2, y2, options, color);
}

std::int32_t Encode(std::int32_t x, std::int32_t y) {
  return static_cast<std::int32_t>(static_cast<std::int64_t>(y - 1) * ThePicture().width + (x - 1));
}

// Runs one search and checks it against the reference (and, when given, a
// plain expected value).
void Expect(const Template& t, std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2,
            std::int32_t options, std::int32_t color, std::int32_t plain) {
  const std::int32_t got = Search(t.path, x1, y1, x2, y2, options, color);
  CHECK_EQ(got, Expected(t, x1, y1, x2, y2, options, color));
  CHECK_EQ(got, plain);
}

TEST_CASE(ExportsByNameAndOrdinal) {
  CHECK(harness::ByName("CaptureScreen") != nullptr);
  CHECK(harness::ByName("CaptureScreen") == harness::ByOrdinal(2));
  CHECK(harness::ByName("SearchImage") != nullptr);
  CHECK(harness::ByName("SearchImage") == harness::ByOrdinal(15));
  CHECK(harness::ByName("_SearchImage@28") == nullptr);
}

TEST_CASE(CaptureScreenReadsBackThePaintedScreen) {
  ShowPicture();
  const ScreenImage r = Capture();
  harness::Picture& p = ThePicture();
  CHECK_EQ(r.width, p.width);
  CHECK_EQ(r.height, p.height);
  CHECK_EQ(r.bitCount, 32);
  CHECK(r.bitmap != nullptr && r.pixels != nullptr);
  if (r.pixels == nullptr || r.width != p.width || r.height != p.height) return;
  long mismatches = 0;
  for (int y = 0; y < p.height; ++y) {
    for (int x = 0; x < p.width; ++x) {
      const std::uint8_t* q = r.pixels + (static_cast<std::size_t>(p.height - 1 - y) * p.width + x) * 4;
      const std::uint32_t v = q[0] | q[1] << 8 | q[2] << 16;
      if (v != p.at(x, y)) ++mismatches;
    }
  }
  std::printf("  screen %dx%d, %ld pixels differ from the painted picture\n", p.width, p.height, mismatches);
  CHECK_EQ(mismatches, 0L);
  // A second capture is a second bitmap; each is the caller's to delete.
  const ScreenImage again = Capture();
  CHECK(again.bitmap != nullptr && again.bitmap != r.bitmap && again.pixels != r.pixels);
  CHECK(DeleteObject(static_cast<HGDIOBJ>(r.bitmap)) != 0);
  CHECK(DeleteObject(static_cast<HGDIOBJ>(again.bitmap)) != 0);
}

TEST_CASE(SearchImageByNameIsByOrdinal) {
  ShowPicture();
  const Template t = Write("block.bmp", 5, Color(kBlock, kRed, kWhite, 0x0000FF));
  using Fn = std::int32_t(WINAPI*)(const char*, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                                   std::int32_t, std::int32_t);
  const auto byName = reinterpret_cast<Fn>(reinterpret_cast<void*>(harness::ByName("SearchImage")));
  const std::int32_t direct = byName(t.path.c_str(), 0, 0, INT_MAX, INT_MAX, 0, -1);
  CHECK_EQ(direct, Encode(120, 60));
  CHECK_EQ(Search(t.path, 0, 0, INT_MAX, INT_MAX, 0, -1), direct);
  CHECK_EQ(Search(harness::Scratch("missing.bmp"), 0, 0, 100, 100, 0, -1), -2);
}

TEST_CASE(PatternShapeAndToleranceModes) {
  ShowPicture();
  const harness::Picture& p = ThePicture();
  const Template recolored = Write("recoloured.bmp", 5, Color(kBlock, kRed, kWhite, kBlack));
  const Template exact = Write("exact.bmp", 5, Color(kBlock, 0x112233, 0x445566, 0x778899));
  Expect(recolored, 0, 0, p.width - 1, p.height - 1, 0, -1, Encode(120, 60));
  // Modes 3 and above are pattern mode; mode 2 asks for near colours, and the
  // recoloured block is far from the template's own colours.
  Expect(recolored, 0, 0, p.width - 1, p.height - 1, 0, 805306368, Encode(120, 60));
  Expect(recolored, 0, 0, p.width - 1, p.height - 1, 0, 536870912, -1);
  Expect(exact, 0, 0, p.width - 1, p.height - 1, 0, 536870912, Encode(120, 60));
  // Corner tolerance: the recoloured corner is far off, the exact one is not.
  Expect(recolored, 0, 0, p.width - 1, p.height - 1, 0, 0x10000000, -1);
  Expect(recolored, 0, 0, p.width - 1, p.height - 1, 0, 0x10FF02FD, Encode(120, 60));
  Expect(exact, 0, 0, p.width - 1, p.height - 1, 0, 0x13000000, Encode(120, 60));
  // Shape: a red plus on white is found drawn in green on black.
  const Template glyph = Write("plus.bmp", 5, Plus(kRed, kWhite));
  Expect(glyph, 0, 0, p.width - 1, p.height - 1, 0, static_cast<std::int32_t>(kRed), Encode(400, 150));
  Expect(glyph, 0, 0, p.width - 1, p.height - 1, 0, 0x00FF00, -100);
}

TEST_CASE(ScanOrdersSkipCountsAndRectangles) {
  ShowPicture();
  const harness::Picture& p = ThePicture();
  const Template small = Write("small.bmp", 3, Color(kSmall, 7, 8, 9));
  const std::int32_t W = p.width, H = p.height;
  const std::int32_t x2 = 300, y2 = 450;  // holds the three copies, not the corner one
  const std::vector<std::pair<std::int32_t, std::vector<std::pair<int, int>>>> orders = {
      {0, {{40, 300}, {200, 300}, {40, 400}}},       {1 << 16, {{40, 400}, {40, 300}, {200, 300}}},
      {1 << 17, {{200, 300}, {40, 300}, {40, 400}}}, {3 << 16, {{40, 400}, {200, 300}, {40, 300}}},
      {4 << 16, {{40, 300}, {40, 400}, {200, 300}}}, {5 << 16, {{40, 400}, {40, 300}, {200, 300}}},
      {6 << 16, {{200, 300}, {40, 300}, {40, 400}}}, {7 << 16, {{200, 300}, {40, 400}, {40, 300}}},
  };
  for (const auto& [bits, positions] : orders) {
    for (int skip = 0; skip < 3; ++skip) {
      Expect(small, 0, 0, x2, y2, bits | skip, -1, Encode(positions[skip].first, positions[skip].second));
    }
    Expect(small, 0, 0, x2, y2, bits | 3, -1, -1);
  }
  // Corners in either order; cut to the screen; wholly off; exact fit.
  Expect(small, x2, y2, 0, 0, 0, -1, Encode(40, 300));
  Expect(small, -1000, -1000, x2, y2, 0, -1, Encode(40, 300));
  Expect(small, W + 5, 0, W + 50, H, 0, -1, -10);
  Expect(small, INT_MIN, INT_MIN, -1, -1, 0, -1, -10);
  Expect(small, 200, 300, 202, 301, 0, -1, Encode(200, 300));
  Expect(small, 201, 300, 203, 301, 0, -1, -1);
  // Touching the right and bottom edges, found with the whole screen.
  const Template corner = Write("corner.bmp", 3, Color(kSmall, 1, 2, 3));
  Expect(corner, 0, 0, INT_MAX, INT_MAX, 7 << 16, -1, Encode(W - 3, H - 2));
  Expect(corner, W - 3, H - 2, W - 1, H - 1, 0, -1, Encode(W - 3, H - 2));
}

TEST_CASE(ThousandSearchesLeaveMemoryWhereItWas) {
  ShowPicture();
  const Template t = Write("leak.bmp", 5, Color(kBlock, kRed, kWhite, kBlack));
  const Template glyph = Write("leakplus.bmp", 5, Plus(kRed, kWhite));
  const auto usage = [] {
    PROCESS_MEMORY_COUNTERS_EX m = {};
    m.cb = sizeof m;
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&m), sizeof m);
    return m;
  };
  for (int i = 0; i < 20; ++i) Search(t.path, 0, 0, INT_MAX, INT_MAX, 0, -1);  // warm caches and heaps
  const PROCESS_MEMORY_COUNTERS_EX before = usage();
  const DWORD gdiBefore = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
  int wrong = 0;
  for (int i = 0; i < 1000; ++i) {
    std::int32_t r = 0;
    switch (i % 4) {
      case 0:
        r = Search(t.path, 0, 0, INT_MAX, INT_MAX, 0, -1);
        if (r != Encode(120, 60)) ++wrong;
        break;
      case 1:
        r = Search(t.path, 0, 0, 3, 3, 0, -1);
        if (r != -10) ++wrong;
        break;
      case 2:
        r = Search(glyph.path, 0, 0, INT_MAX, INT_MAX, 0, 0x00FF00);
        if (r != -100) ++wrong;
        break;
      default:
        r = Search(glyph.path, 0, 0, INT_MAX, INT_MAX, 0, static_cast<std::int32_t>(kRed));
        if (r != Encode(400, 150)) ++wrong;
        break;
    }
  }
  const PROCESS_MEMORY_COUNTERS_EX after = usage();
  const DWORD gdiAfter = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
  std::printf("  PrivateUsage %lu -> %lu, PagefileUsage %lu -> %lu, GDI objects %lu -> %lu\n",
              static_cast<unsigned long>(before.PrivateUsage), static_cast<unsigned long>(after.PrivateUsage),
              static_cast<unsigned long>(before.PagefileUsage),
              static_cast<unsigned long>(after.PagefileUsage), static_cast<unsigned long>(gdiBefore),
              static_cast<unsigned long>(gdiAfter));
  CHECK_EQ(wrong, 0);
  // One leaked capture per call would be over 3 MB at 1024x768.
  CHECK(after.PrivateUsage <= before.PrivateUsage + 256 * 1024);
  CHECK(after.PagefileUsage <= before.PagefileUsage + 256 * 1024);
  CHECK(gdiAfter <= gdiBefore);
}

// ---- Random screens, every answer the reference's ----

struct Random {
  std::uint32_t state;
  std::uint32_t Next() {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  }
  int In(int lo, int hi) { return lo + static_cast<int>(Next() % static_cast<std::uint32_t>(hi - lo + 1)); }
  bool OneIn(int n) { return Next() % static_cast<std::uint32_t>(n) == 0; }
};

std::uint32_t Shaded(std::uint32_t v, int most, Random& r) {
  std::uint32_t out = 0;
  for (int i = 0; i < 3; ++i) {
    const int c = static_cast<int>(v >> (8 * i) & 0xFF) + r.In(-most, most);
    out |= static_cast<std::uint32_t>(c < 0 ? 0 : c > 255 ? 255 : c) << (8 * i);
  }
  return out;
}

// A template and the places its copies were pasted (some cut by the edge).
struct Piece {
  Template t;
  int width, height;
  std::vector<std::uint32_t> px, colors;
  std::vector<std::pair<int, int>> copies;
};

// A desktop of flat windows in a few colours, bands of few-colour noise, and
// templates of odd and even sizes pasted as they are, recoloured (which
// pattern and shape mode still find), shaded with a few odd pixels (for near
// colours), and across the right and bottom edges.
std::vector<Piece> PaintRandomScreen(harness::Picture& p, Random& r, int screenIndex) {
  const std::uint32_t palette[6] = {r.Next(), r.Next(), r.Next(), r.Next(), r.Next(), r.Next()};
  p.px.assign(static_cast<std::size_t>(p.width) * p.height, palette[0]);
  for (int i = 0; i < 300; ++i) {
    const int w = r.In(2, 300), h = r.In(2, 200), x = r.In(0, p.width - 1), y = r.In(0, p.height - 1);
    const std::uint32_t c = palette[r.In(0, 5)];
    for (int yy = y; yy < y + h && yy < p.height; ++yy)
      for (int xx = x; xx < x + w && xx < p.width; ++xx) p.at(xx, yy) = c;
  }
  for (int i = 0; i < 12; ++i) {
    const int w = r.In(20, 200), h = r.In(10, 80), x = r.In(0, p.width - w), y = r.In(0, p.height - h);
    for (int yy = y; yy < y + h; ++yy)
      for (int xx = x; xx < x + w; ++xx) p.at(xx, yy) = palette[r.In(0, 2)];
  }
  std::vector<Piece> pieces;
  for (int k = 0; k < 8; ++k) {
    Piece q;
    q.width = r.In(1, 24);
    q.height = r.In(1, 18);
    const int x0 = r.In(0, p.width - q.width), y0 = r.In(0, p.height - q.height);
    if (k % 2 == 0) {  // cut from the screen: at least one copy, maybe more by chance
      for (int y = 0; y < q.height; ++y)
        for (int x = 0; x < q.width; ++x) q.px.push_back(p.at(x0 + x, y0 + y));
      q.copies.push_back({x0, y0});
    } else {
      std::vector<std::uint32_t> own(static_cast<std::size_t>(r.In(2, 5)));
      for (std::uint32_t& c : own) c = r.Next();
      for (int i = 0; i < q.width * q.height; ++i)
        q.px.push_back(own[static_cast<std::size_t>(r.In(0, static_cast<int>(own.size()) - 1))]);
    }
    for (std::uint32_t v : q.px) {
      if (std::find(q.colors.begin(), q.colors.end(), v) == q.colors.end()) q.colors.push_back(v);
    }
    std::vector<std::uint32_t> recolored;
    std::vector<std::uint32_t> to(q.colors.size());
    for (std::uint32_t& c : to) c = r.Next();
    for (std::uint32_t v : q.px)
      recolored.push_back(
          to[static_cast<std::size_t>(std::find(q.colors.begin(), q.colors.end(), v) - q.colors.begin())]);
    std::vector<std::uint32_t> shaded;
    for (std::uint32_t v : q.px) shaded.push_back(r.OneIn(12) ? v ^ 0x808080u : Shaded(v, 12, r));
    const std::vector<std::uint32_t>* forms[] = {&q.px, &recolored, &shaded, &q.px};
    for (int f = 0; f < 4; ++f) {
      int x = r.In(0, p.width - q.width), y = r.In(0, p.height - q.height);
      if (f == 3) {  // across an edge: only the part on the screen is painted
        (r.OneIn(2) ? x : y) = r.OneIn(2) ? (r.OneIn(2) ? p.width - q.width : p.width - 1 - q.width / 2)
                                          : (r.OneIn(2) ? p.height - q.height : p.height - 1 - q.height / 2);
      }
      for (int yy = 0; yy < q.height; ++yy)
        for (int xx = 0; xx < q.width; ++xx)
          if (x + xx < p.width && y + yy < p.height)
            p.at(x + xx, y + yy) = (*forms[f])[static_cast<std::size_t>(yy * q.width + xx)];
      q.copies.push_back({x, y});
    }
    q.t = Write("random-" + std::to_string(screenIndex) + "-" + std::to_string(k) + ".bmp", q.width, q.px);
    pieces.push_back(std::move(q));
  }
  return pieces;
}

TEST_CASE(RandomScreensAgreeWithTheReference) {
  // The x64 process runs natively, the x86 one emulated.
#if defined(_WIN64)
  const int screens = 3, cases = 500;
#else
  const int screens = 1, cases = 150;
#endif
  const char* modes[] = {"pattern", "shape", "tolerance", "near"};
  const char* outcomes[] = {"found", "-1", "-10", "-100", "other"};
  int counts[4][5] = {};
  int wrong = 0;
  harness::Picture p([](int, int) { return 0u; });
  for (int s = 0; s < screens; ++s) {
    Random r{0x5EED0000u + static_cast<std::uint32_t>(s)};
    const std::vector<Piece> pieces = PaintRandomScreen(p, r, s);
    CHECK(harness::ShowOnScreen(p.width, p.height, p.px));
    // The screen must show what the reference is given.
    const ScreenImage shot = Capture();
    long differ = shot.pixels == nullptr ? -1 : 0;
    for (int y = 0; y < p.height && shot.pixels != nullptr; ++y) {
      for (int x = 0; x < p.width; ++x) {
        const std::uint8_t* q = shot.pixels + (static_cast<std::size_t>(p.height - 1 - y) * p.width + x) * 4;
        if (static_cast<std::uint32_t>(q[0] | q[1] << 8 | q[2] << 16) != (p.at(x, y) & 0xFFFFFF)) ++differ;
      }
    }
    if (shot.bitmap != nullptr) DeleteObject(static_cast<HGDIOBJ>(shot.bitmap));
    CHECK_EQ(differ, 0L);
    if (differ != 0) return;
    zadized::reference::Screen reference;
    reference.width = p.width;
    reference.height = p.height;
    reference.topDown = p.px;

    for (int c = 0; c < cases; ++c) {
      const Piece& q = pieces[static_cast<std::size_t>(r.In(0, static_cast<int>(pieces.size()) - 1))];
      const int mode = r.In(0, 3);
      std::int32_t color = -1;
      if (mode == 0)
        color = r.OneIn(4) ? static_cast<std::int32_t>(r.In(3, 7) << 28 | (r.Next() & 0xFFFFFFF)) : -1;
      if (mode == 1) {
        color = static_cast<std::int32_t>(
            r.OneIn(6) ? r.Next() & 0xFFFFFF
                       : q.colors[static_cast<std::size_t>(r.In(0, static_cast<int>(q.colors.size()) - 1))] &
                             0xFFFFFF);
      }
      if (mode == 2) {
        color = static_cast<std::int32_t>(
            0x10000000u | static_cast<std::uint32_t>(r.In(0, 3)) << 24 |
            static_cast<std::uint32_t>(r.OneIn(2) ? r.In(0, 40) : r.In(0, 255)) << 16 |
            static_cast<std::uint32_t>(r.OneIn(2) ? r.In(0, 120) : r.In(0, 800)));
      }
      if (mode == 3) {
        color = static_cast<std::int32_t>(0x20000000u | (r.Next() & 0x0FFF0000u) |
                                          static_cast<std::uint32_t>(r.OneIn(3) ? 0 : r.In(0, 20)) << 8 |
                                          static_cast<std::uint32_t>(r.In(0, 16)));
      }
      const std::int32_t options =
          static_cast<std::int32_t>(static_cast<std::uint32_t>(r.In(0, 7)) << 16 |
                                    static_cast<std::uint32_t>(r.OneIn(3) ? r.In(1, 3) : 0));
      std::int32_t x1, y1, x2, y2;
      // The reference walks every window pixel by pixel, about a second for
      // the whole screen even natively, so whole-screen cases are rare.
      const int kind = r.In(0, 99);
      if (kind < 80) {  // round a copy, a little too small now and then
        const auto& at = q.copies[static_cast<std::size_t>(r.In(0, static_cast<int>(q.copies.size()) - 1))];
        x1 = at.first - r.In(0, 40);
        y1 = at.second - r.In(0, 40);
        x2 = at.first + q.width - 1 + r.In(-1, 40);
        y2 = at.second + q.height - 1 + r.In(-1, 40);
      } else if (kind < 99) {  // anywhere, partly off the screen too
        x1 = r.In(-100, p.width + 100);
        y1 = r.In(-100, p.height + 100);
        x2 = x1 + r.In(-150, 150);
        y2 = y1 + r.In(-150, 150);
      } else {
        x1 = r.In(-5, 0);
        y1 = r.In(-5, 0);
        x2 = r.OneIn(2) ? INT_MAX : p.width - 1 + r.In(0, 5);
        y2 = r.OneIn(2) ? INT_MAX : p.height - 1 + r.In(0, 5);
      }
      if (r.OneIn(4)) std::swap(x1, x2);
      if (r.OneIn(4)) std::swap(y1, y2);

      const std::int32_t got = Search(q.t.path, x1, y1, x2, y2, options, color);
      const std::int32_t want =
          zadized::reference::LiteralSearch(q.t.bytes, reference, x1, y1, x2, y2, options, color);
      ++counts[mode][want >= 0 ? 0 : want == -1 ? 1 : want == -10 ? 2 : want == -100 ? 3 : 4];
      if (got != want && ++wrong <= 10) {
        harness::Fail(__FILE__, __LINE__,
                      "screen " + std::to_string(s) + " case " + std::to_string(c) + ": " +
                          std::to_string(q.width) + "x" + std::to_string(q.height) + " template, rectangle " +
                          std::to_string(x1) + "," + std::to_string(y1) + "," + std::to_string(x2) + "," +
                          std::to_string(y2) + ", options " + std::to_string(options) + ", colour " +
                          std::to_string(color) + ": DLL " + std::to_string(got) + ", reference " +
                          std::to_string(want));
      }
    }
  }
  std::printf("  %d random screens, %d cases each, %d answers differ from the reference\n", screens, cases,
              wrong);
  for (int m = 0; m < 4; ++m) {
    std::printf("  %-9s", modes[m]);
    for (int o = 0; o < 5; ++o) std::printf("  %s %3d", outcomes[o], counts[m][o]);
    std::printf("\n");
  }
  CHECK_EQ(wrong, 0);
}

}  // namespace

HARNESS_MAIN
