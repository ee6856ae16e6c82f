// The fast scan's tests against the literal window test, position by
// position, with nothing in front of them: in a whole scan a filter earlier
// in line can hide a wrong answer of a later one. Plain screens with specks
// and stripes, where the shortcuts for one-colour stretches are taken, and
// noise, where they are not.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

#include "search/color_map.h"
#include "search/lanes.h"
#include "search/near_tests.h"
#include "search/pair_tests.h"
#include "search/row_runs.h"
#include "search/shape_tests.h"
#include "search/window_check.h"
#include "search_support.h"

namespace zadized {
namespace {

TEST(ScanKernels, AgreeWithTheWindowTestAtEveryPosition) {
  std::mt19937 rng(0x6E21u);
  const auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  int matches = 0, plainStretches = 0;
  for (int round = 0; round < 400; ++round) {
    const int W = uniform(12, 48), H = uniform(6, 30);
    std::vector<std::uint32_t> colors = {static_cast<std::uint32_t>(rng()) & 0xFFFFFF,
                                         static_cast<std::uint32_t>(rng()) & 0xFFFFFF,
                                         static_cast<std::uint32_t>(rng()) & 0xFFFFFF};
    test::Canvas screen(W, H, colors[0]);
    const int kind = uniform(0, 2);
    for (int y = 0; y < H; ++y) {
      for (int x = 0; x < W; ++x) {
        if (kind == 0 && uniform(0, 12) == 0)
          screen.at(x, y) = colors[static_cast<std::size_t>(uniform(1, 2))];
        if (kind == 1 && (y + x / 5) % 4 == 0) screen.at(x, y) = colors[1];
        if (kind == 2) screen.at(x, y) = colors[static_cast<std::size_t>(uniform(0, 2))];
      }
    }
    const int tw = uniform(1, std::min(12, W - 7)), th = uniform(1, std::min(10, H));
    const int cx = uniform(0, W - tw), cy = uniform(0, H - th);
    std::vector<std::uint32_t> t;
    for (int y = 0; y < th; ++y)
      for (int x = 0; x < tw; ++x) t.push_back(uniform(0, 9) == 0 ? colors[2] : screen.at(cx + x, cy + y));
    test::PrivateCache cache;
    const BitmapRecord templ = cache.Load("kernel.bmp", test::MakeBmp24(tw, th, t));
    test::HandScreen hand(W, H, screen.px, static_cast<std::uint8_t>(rng()));
    const int mode = uniform(0, 2);  // pattern, shape, near colours
    const std::int32_t color =
        mode == 1 ? static_cast<std::int32_t>(t[static_cast<std::size_t>(uniform(0, tw * th - 1))]) : -1;
    std::uint8_t* map = mode == 2 ? nullptr : BuildColorMap(templ, color);
    ASSERT_TRUE(mode == 2 || map != nullptr);
    const TemplateColors templateColors = ReadTemplateColors(templ);
    ScanSetup s{hand.bits.data(), W, H, map, tw, th, mode == 1};
    if (mode == 2) {
      s.colors = &templateColors;
      s.tolerance = uniform(0, 1) == 0 ? 0 : uniform(1, 80);
      s.allowedMisses = uniform(0, 1) == 0 ? 0 : uniform(1, tw * th);
    }
    const WindowCheck check(s);
    // The pair tests need a map; the near-colour mode has none.
    const std::unique_ptr<PairTests> pairs = mode == 2 ? nullptr : std::make_unique<PairTests>(s);
    ShapeTests shape(s);
    const NearTests nearTests(s);
    const RowRuns runs(s, 0, H - 1);
    ASSERT_TRUE(check.Ready() || mode == 2);
    ASSERT_TRUE(runs.Ready());
    for (int x = 0; x + kLanes - 1 <= W - tw; ++x) {
      for (int y = 0; y <= H - th; ++y) {
        const std::uint8_t* p = TopLeftOf(s, x, y);
        unsigned literal = 0;
        for (int lane = 0; lane < kLanes; ++lane)
          literal |= (WindowMatches(s, x + lane, y) ? 1u : 0u) << lane;
        matches += __builtin_popcount(literal);
        if (mode == 2) {
          ASSERT_EQ(nearTests.Mask(p), literal) << "near tests, round " << round << " at " << x << "," << y;
          continue;
        }
        for (int lane = 0; lane < kLanes; ++lane) {
          ASSERT_EQ(check.Matches(p + 4 * lane), (literal >> lane & 1) != 0)
              << "window check, round " << round;
        }
        // The pair tests may let through what does not match, never reject what does.
        ASSERT_EQ(pairs->Mask(p) & literal, literal)
            << "pair tests, round " << round << " at " << x << "," << y;
        if (mode != 1) continue;
        for (const bool withRuns : {false, true}) {
          shape.UseRuns(withRuns ? &runs : nullptr);
          ASSERT_EQ(shape.Mask(p, x, y, kAllLanes), literal)
              << "shape tests " << (withRuns ? "with" : "without") << " runs, round " << round << " at " << x
              << "," << y;
        }
        plainStretches += runs.Uniform(y, x, x + tw + kLanes - 2) ? 1 : 0;
      }
    }
    if (map != nullptr) platform::Current().freeBlock(map);
  }
  std::printf("  %d matching positions, %d blocks with a plain first row in shape mode\n", matches,
              plainStretches);
  EXPECT_GT(matches, 1000);
  EXPECT_GT(plainStretches, 1000);
}

}  // namespace
}  // namespace zadized
