// The library against the literal reference scan on random screens and
// templates, every option and colour word. Seeded, so a failure repeats.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "boundary/platform.h"
#include "boundary/platform_portable.h"
#include "reference/literal_scan.h"
#include "search/search.h"
#include "search_support.h"

namespace zadized {
namespace {

constexpr int kCases = 6000;
constexpr int kEndToEndEvery = 8;  // these also go through SearchImage and the virtual display

struct Generated {
  std::vector<std::uint8_t> bmp;
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
    test::BmpSpec spec;
    spec.width = tw;
    spec.height = th;
    spec.bitCount = static_cast<std::uint16_t>(bitCount);
    std::vector<std::uint32_t> palette;
    if (bitCount == 8) {
      const int layout = Uniform(0, 3);
      palette.resize(256);
      for (auto& e : palette)
        e = Chance(2) ? RandomColor() : (Bits() & 0x03FFFFFF);  // some with a fourth byte
      for (int d = 0; d < 8; ++d) palette[Uniform(0, 255)] = palette[Uniform(0, 255)];  // duplicate entries
      if (layout == 0) {
        spec.paletteEntries = 256;
        g.what = "8-bit standard";
      } else if (layout == 1) {
        spec.paletteEntries = 256;
        spec.colorsUsed = 256;
        spec.gap = static_cast<std::uint32_t>(Uniform(1, 9));
        g.what = "8-bit detached";
      } else {
        spec.colorsUsed = static_cast<std::uint32_t>(Uniform(1, 40));
        spec.paletteEntries = spec.colorsUsed;
        g.what = "8-bit short table";
      }
    } else {
      g.what = std::to_string(bitCount) + "-bit";
    }
    if (many) g.what += " many values";
    const int bpp = bitCount / 8;
    const int stride = (tw * bpp + 3) / 4 * 4;
    std::vector<std::uint8_t> px(static_cast<std::size_t>(stride) * th);
    for (auto& b : px) b = static_cast<std::uint8_t>(Bits());  // fill bytes keep this noise
    for (int y = 0; y < th; ++y) {
      for (int x = 0; x < tw; ++x) {
        const std::uint32_t v = classValue[cls[static_cast<std::size_t>(y) * tw + x]];
        std::uint8_t* p =
            &px[static_cast<std::size_t>(th - 1 - y) * stride + static_cast<std::size_t>(x) * bpp];
        for (int i = 0; i < std::min(bpp, 3); ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
      }
    }
    g.bmp = test::MakeBmp(spec, palette, px);
    const std::vector<std::uint32_t> table = bitCount == 8 ? reference::LiteralColorTable(g.bmp) : palette;

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
      std::vector<std::uint32_t> recolour;
      std::set<std::uint32_t> taken;
      while (static_cast<int>(recolour.size()) < classes) {
        const std::uint32_t v =
            Chance(4) ? noise[Uniform(0, static_cast<int>(noise.size()) - 1)] : RandomColor();
        if (taken.insert(v).second || Chance(12)) recolour.push_back(v);  // now and then not one-to-one
      }
      for (int y = 0; y < th; ++y) {
        for (int x = 0; x < tw; ++x) {
          const int c = cls[static_cast<std::size_t>(y) * tw + x];
          std::uint32_t v = recolour[c];
          // In shape mode the background comes from the noise, sometimes the
          // shape's own colour, which the one-third rule counts.
          if (shapeClass >= 0 && c != shapeClass && Chance(2)) {
            v = Chance(3) ? recolour[shapeClass] : noise[Uniform(0, static_cast<int>(noise.size()) - 1)];
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

TEST(SearchDifferential, LibraryAgreesWithTheLiteralScan) {
  Generator gen(0x5EA2C4u);
  std::map<std::string, int> outcomes;
  int endToEnd = 0;
  for (int i = 0; i < kCases; ++i) {
    const Generated g = gen.Next();
    const std::int32_t expected =
        reference::LiteralSearch(g.bmp, g.screen, g.x1, g.y1, g.x2, g.y2, g.options, g.color);
    test::PrivateCache cache;
    const BitmapRecord templ = cache.Load("diff" + std::to_string(i) + ".bmp", g.bmp);
    ASSERT_EQ(templ.fileSize, static_cast<std::int32_t>(g.bmp.size())) << "case " << i;
    test::HandScreen screen(g.screen.width, g.screen.height, g.screen.topDown, g.fourthByte);
    const std::int32_t got = SearchCapture(screen.Image(), templ, g.x1, g.y1, g.x2, g.y2, g.options, g.color);
    ASSERT_EQ(got, expected) << "case " << i << " (" << g.what << "), screen " << g.screen.width << "x"
                             << g.screen.height << ", template " << templ.width << "x" << templ.height
                             << ", rectangle " << g.x1 << "," << g.y1 << " " << g.x2 << "," << g.y2
                             << ", options 0x" << std::hex << g.options << ", colour 0x" << g.color;
    if (i % kEndToEndEvery == 0) {
      platform::SetVirtualScreen(g.screen.width, g.screen.height, g.screen.topDown.data());
      const std::string path = test::WriteFile("e2e" + std::to_string(i) + ".bmp", g.bmp);
      ASSERT_EQ(SearchImage(path.c_str(), g.x1, g.y1, g.x2, g.y2, g.options, g.color), expected)
          << "case " << i;
      ++endToEnd;
    }
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

  std::printf("  %d cases (%d also through SearchImage):", kCases, endToEnd);
  for (const auto& [k, n] : outcomes) std::printf("\n    %s: %d", k.c_str(), n);
  std::printf("\n");
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

}  // namespace
}  // namespace zadized
