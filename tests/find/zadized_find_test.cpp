// zadized-find and the host header's helpers. The tool's own scan, listing
// and explanations are checked against the library's search on many random
// cases, its explanations against hand-made cases with known reasons, and the
// program itself on small files written here.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "common/bmp_bytes.h"
#include "find/find_core.h"
#include "search/search.h"
#include "zadized.h"

namespace {

using zadized::BitmapRecord;
using zadized::find::Position;
using zadized::find::PrivateCache;
using zadized::find::Screenshot;
using zadized::find::Session;
using zadized::test::MakeBmp24;

// Per process, so that test runs side by side (ctest -j, two checkouts) never
// read each other's files.
std::string TempPath(const std::string& name) {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir != nullptr ? dir : "/tmp") + "/zadized-find-test-" + std::to_string(getpid()) + "-" +
         name;
}

std::string WriteFile(const std::string& name, const std::vector<std::uint8_t>& bytes) {
  const std::string path = TempPath(name);
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return path;
}

Screenshot ShotOf(std::int32_t w, std::int32_t h, const std::vector<std::uint32_t>& topDown) {
  Screenshot s;
  const std::string error = zadized::find::LoadScreenshot(WriteFile("shot.bmp", MakeBmp24(w, h, topDown)), s);
  EXPECT_EQ(error, "");
  return s;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string all;
  for (const std::string& l : lines) all += l + "\n";
  return all;
}

// ---- The header's helpers against the library's own decoding ----

TEST(HostHeader, OptionWordDecodesAsComposed) {
  for (std::int32_t skip : {0, 1, 2, 65535}) {
    for (int flags = 0; flags < 8; ++flags) {
      const std::int32_t word = zadized_options(skip, flags & 1, flags & 2, flags & 4);
      const zadized::ScanOrder o = zadized::DecodeOptions(word);
      EXPECT_EQ(o.skip, skip);
      EXPECT_EQ(o.bottomUp, (flags & 1) != 0);
      EXPECT_EQ(o.rightToLeft, (flags & 2) != 0);
      EXPECT_EQ(o.columnsOuter, (flags & 4) != 0);
    }
  }
  // Out-of-range skip counts saturate instead of spilling into the flags.
  EXPECT_EQ(zadized::DecodeOptions(zadized_options(70000, 0, 0, 0)).skip, 65535);
  EXPECT_FALSE(zadized::DecodeOptions(zadized_options(70000, 0, 0, 0)).bottomUp);
  EXPECT_EQ(zadized_options(-5, 0, 0, 0), 0);
  EXPECT_EQ(ZADIZED_SKIP(3) | ZADIZED_BOTTOM_UP | ZADIZED_COLUMN_MAJOR, zadized_options(3, 1, 0, 1));
}

TEST(HostHeader, ColorWordsDecodeAsComposed) {
  for (int corner = 0; corner < 4; ++corner) {
    for (std::int32_t channel : {0, 10, 255}) {
      for (std::int32_t sum : {0, 13, 765, 65535}) {
        const zadized::ColorTest t = zadized::DecodeColorWord(zadized_tolerance(corner, channel, sum));
        EXPECT_TRUE(t.tolerance);
        EXPECT_EQ(t.mapColor, -1);
        EXPECT_EQ(t.corner, corner);
        EXPECT_EQ(t.channelTolerance, channel);
        EXPECT_EQ(t.sumTolerance, sum);
      }
    }
  }
  // Limits past their fields saturate: still "no limit", never another corner.
  const zadized::ColorTest wide = zadized::DecodeColorWord(zadized_tolerance(0, 300, 100000));
  EXPECT_EQ(wide.channelTolerance, 255);
  EXPECT_EQ(wide.sumTolerance, 65535);
  EXPECT_EQ(wide.corner, 0);
  EXPECT_EQ(zadized::DecodeColorWord(zadized_tolerance(0, -4, -4)).sumTolerance, 0);

  const zadized::ColorTest shape = zadized::DecodeColorWord(ZADIZED_SHAPE(ZADIZED_RGB(255, 128, 1)));
  EXPECT_FALSE(shape.tolerance);
  EXPECT_EQ(shape.mapColor, 0xFF8001);
  EXPECT_EQ(zadized::DecodeColorWord(ZADIZED_PATTERN).mapColor, -1);
  // The guide's worked example.
  EXPECT_EQ(zadized_tolerance(ZADIZED_CORNER_BOTTOM_RIGHT, 10, 12), 0x130A000C);

  for (std::int32_t channel : {-7, 0, 24, 255, 256, 100000}) {
    for (std::int32_t percent : {-1, 0, 10, 100, 101, 255, 256}) {
      const zadized::ColorTest t = zadized::DecodeColorWord(zadized_near_colors(channel, percent));
      EXPECT_TRUE(t.nearColors);
      EXPECT_FALSE(t.tolerance);
      EXPECT_EQ(t.mapColor, -1);
      EXPECT_EQ(t.nearTolerance, channel < 0 ? 0 : channel > 255 ? 255 : channel);
      EXPECT_EQ(t.nearPercent, percent < 0 ? 0 : percent > 100 ? 100 : percent);
    }
  }
  EXPECT_EQ(zadized_near_colors(24, 10), 0x20000A18);
}

TEST(HostHeader, EveryPositionDecodesBack) {
  for (std::int32_t w : {1, 2, 7, 1024}) {
    for (std::int32_t y = 0; y < 4; ++y) {
      for (std::int32_t x = 0; x < w; x += (w > 20 ? 37 : 1)) {
        const std::int32_t r = zadized::EncodePosition(x, y, w);
        EXPECT_EQ(zadized_encode_position(x, y, w), r);
        std::int32_t dx = -9, dy = -9;
        ASSERT_TRUE(zadized_decode_result(r, w, &dx, &dy)) << r;
        EXPECT_EQ(dx, x);
        EXPECT_EQ(dy, y);
      }
    }
    std::int32_t dx = -9, dy = -9;
    EXPECT_FALSE(zadized_decode_result(-w - 2, w, &dx, &dy));
    EXPECT_EQ(dx, -9);
  }
  // The collisions the guide warns about, on a 1024-pixel-wide screen.
  EXPECT_EQ(zadized_encode_position(0, 1, 1024), ZADIZED_NOT_FOUND);
  EXPECT_EQ(zadized_encode_position(1023, 0, 1024), ZADIZED_NO_TEMPLATE);
  EXPECT_EQ(zadized_encode_position(1022, 0, 1024), ZADIZED_NO_SCREEN);
  EXPECT_EQ(zadized_encode_position(1015, 0, 1024), ZADIZED_RECT_TOO_SMALL);
  EXPECT_EQ(zadized_encode_position(925, 0, 1024), ZADIZED_NO_COLOR_MAP);
  EXPECT_EQ(ZADIZED_NO_SCREEN, zadized::kNoScreen);
  EXPECT_EQ(ZADIZED_NO_COLOR_MAP, zadized::kNoColorMap);
}

// ---- The tool's scan against the library's ----

TEST(FindSession, AgreesWithTheLibraryOnRandomSearches) {
  std::mt19937 rng(20240611);
  const auto pick = [&](int n) { return static_cast<std::int32_t>(rng() % static_cast<unsigned>(n)); };
  const std::uint32_t palette[4] = {0x102030, 0xFF0000, 0x00FF00, 0x0000FF};
  int found = 0, explained = 0;
  for (int round = 0; round < 400; ++round) {
    const std::int32_t w = 3 + pick(8), h = 3 + pick(8);
    const int colors = 1 + pick(3);
    std::vector<std::uint32_t> screen(static_cast<std::size_t>(w) * h);
    for (auto& v : screen) v = palette[pick(colors)];
    const std::int32_t tw = 1 + pick(3), th = 1 + pick(3);
    std::vector<std::uint32_t> tpl(static_cast<std::size_t>(tw) * th);
    if (pick(2) == 0 && tw <= w && th <= h) {  // cut from the screen, so it is there at least once
      const std::int32_t ox = pick(w - tw + 1), oy = pick(h - th + 1);
      for (std::int32_t y = 0; y < th; ++y)
        for (std::int32_t x = 0; x < tw; ++x) tpl[y * tw + x] = screen[(oy + y) * w + ox + x];
    } else {
      for (auto& v : tpl) v = palette[pick(colors)];
    }
    std::int32_t color = ZADIZED_PATTERN;
    switch (pick(4)) {
      case 1:
        color = static_cast<std::int32_t>(pick(4) == 0 ? 0x123456 : tpl[pick(tw * th)]);
        break;
      case 2:
        color = zadized_tolerance(pick(4), pick(256), pick(800));
        break;
      case 3:
        // Shades on the screen, so that some copies are near and some not.
        for (auto& v : screen) v ^= static_cast<std::uint32_t>(pick(8) << 16 | pick(8) << 8 | pick(8));
        color = zadized_near_colors(pick(10), pick(3) == 0 ? pick(120) : 0);
        break;
      default:
        break;
    }
    const Screenshot shot = ShotOf(w, h, screen);
    PrivateCache cache;
    const BitmapRecord t = cache.Open(WriteFile("random-template.bmp", MakeBmp24(tw, th, tpl)));
    ASSERT_NE(t.fileSize, -1);
    // A third with the top-left colour transparent: those pixels drop out
    // of the walk, the explanations and the corner test.
    const std::int32_t options = zadized_options(pick(3), pick(2), pick(2), pick(2)) |
                                 (pick(3) == 0 ? ZADIZED_KEY_COLOR_TRANSPARENT : 0);
    const std::int32_t x1 = pick(w + 2) - 1, y1 = pick(h + 2) - 1, x2 = pick(w + 2) - 1, y2 = pick(h + 2) - 1;
    const Session s(shot.image, t, x1, y1, x2, y2, options, color);
    const std::int32_t library = s.LibraryResult();
    const Session::Listing listed = s.LibraryList();
    Position at{};
    if (s.Refusal() != 0) {
      EXPECT_EQ(library, s.Refusal());
      EXPECT_EQ(listed.result, s.Refusal());
      continue;
    }
    // SearchImageAll lists what this tool's walk accepts after the skip count.
    EXPECT_EQ(listed.positions, s.Listed()) << "round " << round;
    EXPECT_EQ(listed.result, static_cast<std::int32_t>(listed.positions.size())) << "round " << round;
    if (s.Returned(at)) {
      ++found;
      EXPECT_EQ(library, zadized::EncodePosition(at.x, at.y, w)) << "round " << round;
    } else {
      EXPECT_EQ(library, zadized::kNotFound) << "round " << round;
    }
    for (const zadized::find::Accepted& a : s.All()) {
      EXPECT_TRUE(s.PassesWindow(a.at));
      EXPECT_TRUE(s.PassesCorner(a.at));
    }
    // Every candidate's explanation must reach the library's verdict.
    s.ForEachCandidate([&](Position p) {
      const std::string text = Joined(s.Explain(p));
      EXPECT_EQ(text.find("internal error"), std::string::npos) << text;
      EXPECT_EQ(text.find("window test passed") != std::string::npos, s.PassesWindow(p)) << text;
      ++explained;
      return true;
    });
  }
  // The random cases must exercise both outcomes.
  EXPECT_GT(found, 50);
  EXPECT_GT(explained, 1000);
}

// ---- Explanations on cases with a known reason ----

constexpr std::uint32_t kA = 0x111111, kB = 0x222222, kC = 0x333333, kRed = 0xFF0000, kWhite = 0xFFFFFF;

TEST(FindExplain, PatternGroupMismatchNamesBothPixels) {
  // Screen row: A B C A A. The template is two equal pixels.
  const Screenshot shot = ShotOf(5, 1, {kA, kB, kC, kA, kA});
  PrivateCache cache;
  const BitmapRecord t = cache.Open(WriteFile("pair.bmp", MakeBmp24(2, 1, {kRed, kRed})));
  const Session s(shot.image, t, 0, 0, 4, 0, 0, ZADIZED_PATTERN);
  const std::string text = Joined(s.Explain({1, 0}));
  EXPECT_NE(text.find("pattern group mismatch at template pixel (1, 0), screen pixel (2, 0) 0x333333"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("colour of template pixel (0, 0)"), std::string::npos) << text;
  EXPECT_NE(text.find("(1, 0) 0x222222"), std::string::npos) << text;
  EXPECT_NE(Joined(s.Explain({3, 0})).find("accepted; this is the position the search returns"),
            std::string::npos);
}

TEST(FindExplain, PatternNewColorWhereTheScreenRepeats) {
  const Screenshot shot = ShotOf(3, 1, {kA, kA, kB});
  PrivateCache cache;
  const BitmapRecord t = cache.Open(WriteFile("two.bmp", MakeBmp24(2, 1, {kRed, kWhite})));
  const Session s(shot.image, t, 0, 0, 2, 0, 0, ZADIZED_PATTERN);
  const std::string text = Joined(s.Explain({0, 0}));
  EXPECT_NE(text.find("not met earlier in the template"), std::string::npos) << text;
  EXPECT_NE(text.find("(0, 0) 0x111111"), std::string::npos) << text;
}

TEST(FindExplain, ShapeColorMismatch) {
  const Screenshot shot = ShotOf(3, 1, {kA, kB, kB});
  PrivateCache cache;
  const BitmapRecord t = cache.Open(WriteFile("shape2.bmp", MakeBmp24(2, 1, {kRed, kRed})));
  const Session s(shot.image, t, 0, 0, 2, 0, 0, ZADIZED_SHAPE(kRed));
  const std::string text = Joined(s.Explain({0, 0}));
  EXPECT_NE(text.find("shape colour mismatch at template pixel (1, 0)"), std::string::npos) << text;
  EXPECT_NE(text.find("(0, 0) 0x111111"), std::string::npos) << text;
  EXPECT_NE(text.find("(1, 0) 0x222222 differs"), std::string::npos) << text;
}

TEST(FindExplain, OneThirdRuleGivesTheCounts) {
  // One shape pixel first, then nine outside the shape.
  std::vector<std::uint32_t> tpl(10, kWhite);
  tpl[0] = kRed;
  PrivateCache cache;
  const BitmapRecord t = cache.Open(WriteFile("third.bmp", MakeBmp24(10, 1, tpl)));
  std::vector<std::uint32_t> row(20, kB);
  for (int i = 0; i < 10; ++i) row[i] = kA;  // position 0: nine of nine in the shape's colour
  for (int i = 10; i < 20; ++i) row[i] = i < 14 ? kA : kC;
  const Screenshot shot = ShotOf(20, 1, row);
  const Session s(shot.image, t, 0, 0, 19, 0, 0, ZADIZED_SHAPE(kRed));
  // At x = 10: shape pixel A, then A A A (3 of 9) and six C: accepted.
  EXPECT_NE(Joined(s.Explain({10, 0})).find("3 of 9 pixels outside it share that colour, at most 3 may"),
            std::string::npos)
      << Joined(s.Explain({10, 0}));
  // At x = 9: shape pixel A, then A A A A (4 of 9): rejected.
  const std::string text = Joined(s.Explain({9, 0}));
  EXPECT_NE(text.find("one-third rule: 4 of the 9 pixels outside the shape show the shape's colour 0x111111"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("at most 9 / 3 = 3"), std::string::npos) << text;
  EXPECT_FALSE(s.PassesWindow({9, 0}));
  EXPECT_TRUE(s.PassesWindow({10, 0}));
}

TEST(FindExplain, CornerDifferencesAndLimits) {
  // Template corner: blue 48, green 32, red 16. Screen: blue 48, green 42, red 19.
  const std::uint32_t templateColor = 0x102030, screenColor = 0x132A30;
  const Screenshot shot = ShotOf(2, 1, {screenColor, screenColor});
  PrivateCache cache;
  const BitmapRecord t = cache.Open(WriteFile("corner.bmp", MakeBmp24(1, 1, {templateColor})));
  {
    const Session s(shot.image, t, 0, 0, 1, 0, 0, zadized_tolerance(ZADIZED_CORNER_TOP_LEFT, 10, 12));
    const std::string text = Joined(s.Explain({0, 0}));
    EXPECT_NE(text.find("differences blue 0, green 10, red 3 (sum 13): the sum exceeds the sum limit 12"),
              std::string::npos)
        << text;
    EXPECT_EQ(s.LibraryResult(), zadized::kNotFound);
  }
  {
    const Session s(shot.image, t, 0, 0, 1, 0, 0, zadized_tolerance(ZADIZED_CORNER_TOP_LEFT, 9, 765));
    EXPECT_NE(Joined(s.Explain({0, 0})).find("green exceeds the channel limit 9"), std::string::npos);
  }
  {
    const Session s(shot.image, t, 0, 0, 1, 0, 0, zadized_tolerance(ZADIZED_CORNER_TOP_LEFT, 10, 13));
    EXPECT_NE(Joined(s.Explain({0, 0})).find("within the channel limit 10 and the sum limit 13"),
              std::string::npos);
    EXPECT_EQ(s.LibraryResult(), zadized::EncodePosition(0, 0, 2));
  }
}

TEST(FindExplain, SkipCountAndNonCandidates) {
  const Screenshot shot = ShotOf(4, 2, {kA, kA, kA, kA, kA, kA, kA, kA});
  PrivateCache cache;
  const BitmapRecord t = cache.Open(WriteFile("dot.bmp", MakeBmp24(1, 1, {kRed})));
  const Session s(shot.image, t, 1, 0, 3, 1, zadized_options(2, 0, 0, 0), ZADIZED_PATTERN);
  EXPECT_NE(Joined(s.Explain({2, 0})).find("window match 2 in scan order, and the skip count 2"),
            std::string::npos);
  EXPECT_NE(Joined(s.Explain({3, 1})).find("accepted, but the search returns (3, 0)"), std::string::npos)
      << Joined(s.Explain({3, 1}));
  EXPECT_NE(Joined(s.Explain({0, 0})).find("is not a candidate"), std::string::npos);
  const std::vector<zadized::find::Accepted> all = s.All();
  ASSERT_EQ(all.size(), 6u);
  EXPECT_EQ(all[2].at.x, 3);
  EXPECT_EQ(all[2].at.y, 0);
  EXPECT_EQ(all[2].windowIndex, 2);
}

TEST(FindExplain, RefusalsAreExplained) {
  const Screenshot shot = ShotOf(3, 3, std::vector<std::uint32_t>(9, kA));
  PrivateCache cache;
  const BitmapRecord t = cache.Open(WriteFile("two-by-two.bmp", MakeBmp24(2, 2, {kRed, kRed, kRed, kWhite})));
  const Session small(shot.image, t, 0, 0, 0, 2, 0, ZADIZED_PATTERN);
  EXPECT_EQ(small.Refusal(), zadized::kRectangleTooSmall);
  EXPECT_NE(Joined(small.Explain({0, 0})).find("result -10"), std::string::npos);
  const Session absent(shot.image, t, 0, 0, 2, 2, 0, ZADIZED_SHAPE(0x00FF00));
  EXPECT_EQ(absent.Refusal(), zadized::kNoColorMap);
  EXPECT_EQ(absent.LibraryResult(), zadized::kNoColorMap);
  EXPECT_NE(Joined(absent.Explain({0, 0})).find("0x00FF00 (result -100)"), std::string::npos);
}

// ---- Screenshot files ----

// The tool reads screenshots with HoldScreen's loader: what a display
// showing the file would show, at every depth the template loader takes.
TEST(FindScreenshot, ReadsEveryDepthAsADisplayShowsIt) {
  Screenshot s;
  ASSERT_EQ(zadized::find::LoadScreenshot(WriteFile("s24.bmp", MakeBmp24(3, 2, {1, 2, 3, 4, 5, 6})), s), "");
  EXPECT_EQ(zadized::find::ScreenPixel(s.image, 2, 0), 3u);
  EXPECT_EQ(zadized::find::ScreenPixel(s.image, 0, 1), 4u);

  // 16 bits: 5-5-5 words, each channel widened as c << 3 | c >> 2.
  zadized::test::BmpLayout layout;
  layout.width = 2;
  layout.height = 1;
  layout.bitCount = 16;
  ASSERT_EQ(zadized::find::LoadScreenshot(
                WriteFile("s16.bmp", zadized::test::MakeBmp(layout, {}, {0xFF, 0x7F, 0x21, 0x04})), s),
            "");
  EXPECT_EQ(zadized::find::ScreenPixel(s.image, 0, 0), 0xFFFFFFu);
  EXPECT_EQ(zadized::find::ScreenPixel(s.image, 1, 0), 0x080808u);

  // 8 bits: the table's colours, its fourth bytes dropped.
  layout.bitCount = 8;
  layout.paletteEntries = 256;
  ASSERT_EQ(
      zadized::find::LoadScreenshot(
          WriteFile("s8.bmp", zadized::test::MakeBmp(layout, {0x7F102030, 0xFF405060}, {1, 0, 0, 0})), s),
      "");
  EXPECT_EQ(zadized::find::ScreenPixel(s.image, 0, 0), 0x405060u);
  EXPECT_EQ(zadized::find::ScreenPixel(s.image, 1, 0), 0x102030u);
}

TEST(FindScreenshot, ExplainsUnusableFiles) {
  Screenshot s;
  EXPECT_NE(zadized::find::LoadScreenshot(TempPath("does-not-exist.bmp"), s).find("cannot open"),
            std::string::npos);
  std::vector<std::uint8_t> topDown = MakeBmp24(2, 2, {1, 2, 3, 4});
  zadized::test::Put32(topDown, 22, static_cast<std::uint32_t>(-2));
  EXPECT_NE(zadized::find::LoadScreenshot(WriteFile("top-down.bmp", topDown), s).find("top-down"),
            std::string::npos);
  std::vector<std::uint8_t> cut = MakeBmp24(4, 4, std::vector<std::uint32_t>(16, 7));
  cut.resize(cut.size() - 5);
  EXPECT_NE(zadized::find::LoadScreenshot(WriteFile("cut.bmp", cut), s).find("truncated"), std::string::npos);
  EXPECT_NE(zadized::find::LoadScreenshot(WriteFile("text.bmp", std::vector<std::uint8_t>(60, 'x')), s)
                .find("beyond the end"),
            std::string::npos);
}

TEST(FindTemplate, SaysWhyTheLibraryRefusedIt) {
  std::vector<std::uint8_t> cut = MakeBmp24(4, 4, std::vector<std::uint32_t>(16, 7));
  cut.resize(cut.size() - 1);
  const std::string path = WriteFile("cut-template.bmp", cut);
  PrivateCache cache;
  EXPECT_EQ(cache.Open(path).fileSize, -1);
  EXPECT_NE(zadized::find::DescribeTemplateFailure(path).find("need 48 bytes but only 47"), std::string::npos)
      << zadized::find::DescribeTemplateFailure(path);
  zadized::test::BmpLayout layout;
  layout.height = -1;
  const std::string topDown = WriteFile("top-down.bmp", zadized::test::MakeBmp(layout, {}, {1, 2, 3, 0}));
  EXPECT_EQ(cache.Open(topDown).fileSize, -1);
  EXPECT_NE(zadized::find::DescribeTemplateFailure(topDown).find("top-down"), std::string::npos);
}

// ---- The program ----

struct CliRun {
  int exitCode;
  std::string out;
};

CliRun RunFind(const std::string& args) {
  const std::string outPath = TempPath("cli-output.txt");
  const std::string command = std::string(ZADIZED_FIND_EXE) + " " + args + " >" + outPath + " 2>&1";
  const int status = std::system(command.c_str());
  std::ifstream f(outPath);
  std::stringstream text;
  text << f.rdbuf();
  return CliRun{WIFEXITED(status) ? WEXITSTATUS(status) : -1, text.str()};
}

TEST(FindProgram, FindsListsExplainsAndMarks) {
  // 6 x 3 screen, A everywhere but B at (4, 1) and (2, 2).
  std::vector<std::uint32_t> screen(18, kA);
  screen[1 * 6 + 4] = kB;
  screen[2 * 6 + 2] = kB;
  const std::string shot = WriteFile("cli-screen.bmp", MakeBmp24(6, 3, screen));
  const std::string tpl = WriteFile("cli-template.bmp", MakeBmp24(2, 1, {kRed, kWhite}));
  const std::string mark = TempPath("cli-mark.bmp");
  std::remove(mark.c_str());

  const CliRun r = RunFind(shot + " " + tpl + " --all --explain 0,0 --mark " + mark);
  EXPECT_EQ(r.exitCode, 0) << r.out;
  // (3, 1) encodes as (1 - 1) * 6 + (3 - 1) = 2.
  EXPECT_NE(r.out.find("found     x=3 y=1 result=2\n"), std::string::npos) << r.out;
  // A pair of different colours matches wherever the screen shows one, in
  // either order.
  EXPECT_NE(r.out.find("accepted  4 position(s)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  x=3 y=1 result=2 index=0 <- returned\n  x=4 y=1 result=3 index=1\n"
                       "  x=1 y=2 result=6 index=2\n  x=2 y=2 result=7 index=3\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("explain   (0, 0): pattern group mismatch"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("listed    SearchImageAll result=4 "), std::string::npos) << r.out;

  Screenshot marked;
  ASSERT_EQ(zadized::find::LoadScreenshot(mark, marked), "") << r.out;
  EXPECT_EQ(zadized::find::ScreenPixel(marked.image, 3, 1), 0x00FF00u);  // the returned position
  EXPECT_EQ(zadized::find::ScreenPixel(marked.image, 2, 2), 0xFF0000u);  // the other one
  EXPECT_EQ(zadized::find::ScreenPixel(marked.image, 0, 0), kA);

  // Skipping two: the third is returned; the rectangle limits the rows.
  const CliRun skipped = RunFind(shot + " " + tpl + " --options 2 --all");
  EXPECT_EQ(skipped.exitCode, 0) << skipped.out;
  EXPECT_NE(skipped.out.find("found     x=1 y=2 result=6"), std::string::npos) << skipped.out;
  EXPECT_NE(skipped.out.find("  x=4 y=1 result=3 index=1 (skipped)\n"), std::string::npos) << skipped.out;
  EXPECT_NE(skipped.out.find("listed    SearchImageAll result=2 "), std::string::npos) << skipped.out;
  const CliRun inside = RunFind(shot + " " + tpl + " 0 2 5 2");
  EXPECT_NE(inside.out.find("found     x=1 y=2 result=6"), std::string::npos) << inside.out;
}

TEST(FindProgram, PngScreenshotTemplateAndMarkGiveTheBmpAnswers) {
  // The same run on PNG copies of both files (written by the tool's own PNG
  // writer) prints the same lines, and a mark named .png is a PNG file.
  std::vector<std::uint32_t> screen(18, kA);
  screen[1 * 6 + 4] = kB;
  screen[2 * 6 + 2] = kB;
  const std::string shot = WriteFile("png-screen.bmp", MakeBmp24(6, 3, screen));
  const std::string tpl = WriteFile("png-template.bmp", MakeBmp24(2, 1, {kRed, kWhite}));
  Screenshot s, t;
  ASSERT_EQ(zadized::find::LoadScreenshot(shot, s), "");
  ASSERT_EQ(zadized::find::LoadScreenshot(tpl, t), "");
  const std::string shotPng = TempPath("png-screen.png"), tplPng = TempPath("png-template.PNG");
  ASSERT_EQ(zadized::find::WriteScreenshot(shotPng, s), "");
  ASSERT_EQ(zadized::find::WriteScreenshot(tplPng, t), "");
  const std::string mark = TempPath("png-mark.png");
  const CliRun bmp = RunFind(shot + " " + tpl + " --all");
  const CliRun png = RunFind(shotPng + " " + tplPng + " --all --mark " + mark);
  EXPECT_EQ(png.exitCode, 0) << png.out;
  const auto from = [](const std::string& out) { return out.substr(out.find("\nrectangle")); };
  EXPECT_EQ(from(png.out).substr(0, from(bmp.out).size()), from(bmp.out));
  std::ifstream f(mark, std::ios::binary);
  char signature[4] = {};
  f.read(signature, 4);
  EXPECT_EQ(std::string(signature + 1, 3), "PNG");
  Screenshot marked;
  ASSERT_EQ(zadized::find::LoadScreenshot(mark, marked), "");
  EXPECT_EQ(zadized::find::ScreenPixel(marked.image, 3, 1), 0x00FF00u);
  EXPECT_EQ(zadized::find::ScreenPixel(marked.image, 0, 0), kA);
}

TEST(FindProgram, ExitCodesAndMessages) {
  const std::string shot = WriteFile("cli-uniform.bmp", MakeBmp24(4, 4, std::vector<std::uint32_t>(16, kA)));
  const std::string tpl = WriteFile("cli-pair.bmp", MakeBmp24(2, 1, {kRed, kWhite}));

  const CliRun notFound = RunFind(shot + " " + tpl);
  EXPECT_EQ(notFound.exitCode, 1);
  EXPECT_NE(notFound.out.find("not found result=-1"), std::string::npos) << notFound.out;

  const CliRun tooSmall = RunFind(shot + " " + tpl + " 0 0 0 3");
  EXPECT_EQ(tooSmall.exitCode, 4);
  EXPECT_NE(tooSmall.out.find("refused   result=-10"), std::string::npos) << tooSmall.out;

  const CliRun noShape = RunFind(shot + " " + tpl + " --color 0x00FF00");
  EXPECT_EQ(noShape.exitCode, 4);
  EXPECT_NE(noShape.out.find("result=-100"), std::string::npos) << noShape.out;

  const CliRun missing = RunFind(shot + " " + TempPath("no-such-template.bmp"));
  EXPECT_EQ(missing.exitCode, 3);
  EXPECT_NE(missing.out.find("cannot open"), std::string::npos) << missing.out;
  EXPECT_NE(missing.out.find("SearchImage would answer -2"), std::string::npos) << missing.out;

  const CliRun badShot = RunFind(tpl + "-nothing " + tpl);
  EXPECT_EQ(badShot.exitCode, 3);
  EXPECT_NE(badShot.out.find("screenshot"), std::string::npos) << badShot.out;

  // Wholly off the screen: said so, not as a cut to a one-pixel rectangle.
  const CliRun offScreen = RunFind(shot + " " + tpl + " 100 100 200 200");
  EXPECT_EQ(offScreen.exitCode, 4);
  EXPECT_NE(offScreen.out.find("as given; it lies wholly outside the 4 x 4 screen\n"), std::string::npos)
      << offScreen.out;
  EXPECT_NE(offScreen.out.find("refused   result=-10 (the rectangle lies wholly outside the screen)"),
            std::string::npos)
      << offScreen.out;
  EXPECT_NE(RunFind(shot + " " + tpl + " -5 1 1 3").out.find("cut to the screen (0, 1) to (1, 3)"),
            std::string::npos);

  // A compressed template is named for what it is; long enough for its rows,
  // it would otherwise have loaded as a picture of its run codes.
  std::vector<std::uint8_t> rle = MakeBmp24(4, 4, std::vector<std::uint32_t>(16, 7));
  zadized::test::Put32(rle, 30, 1);
  const CliRun compressed = RunFind(shot + " " + WriteFile("cli-rle8.bmp", rle));
  EXPECT_EQ(compressed.exitCode, 3);
  EXPECT_NE(compressed.out.find("compressed BMP (RLE8): save it uncompressed (SearchImage would answer -2)"),
            std::string::npos)
      << compressed.out;

  // The usage text is written for people: one usage line, each argument by name.
  const CliRun help = RunFind("--help");
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(help.out.rfind("usage: zadized-find SCREEN TEMPLATE [X1 Y1 X2 Y2] [options]\n", 0), 0u)
      << help.out;
  EXPECT_EQ(help.out.find("usage:", 1), std::string::npos) << help.out;
  for (const char* name : {"--options N", "--color N", "--explain X,Y", "--mark OUT", "exit codes:"})
    EXPECT_NE(help.out.find(name), std::string::npos) << name;
  EXPECT_EQ(RunFind(shot).out.rfind("zadized-find: expected SCREEN TEMPLATE", 0), 0u);

  // Which DLL a file is, from its PE header: the machine, and the DLL flag.
  std::vector<std::uint8_t> pe(64 + 24, 0);
  pe[0] = 'M';
  pe[1] = 'Z';
  zadized::test::Put32(pe, 60, 64);
  zadized::test::Put32(pe, 64, 0x4550);
  zadized::test::Put16(pe, 68, 0x8664);
  zadized::test::Put16(pe, 86, 0x2102);
  const std::string dll = WriteFile("x64.dll", pe);
  zadized::test::Put16(pe, 68, 0x14C);
  const CliRun kinds = RunFind("--version " + dll + " " + WriteFile("x86.dll", pe));
  EXPECT_EQ(kinds.exitCode, 0);
  EXPECT_NE(kinds.out.find("x64.dll: a 64-bit (x64) Windows DLL: only 64-bit (x64) programs can load it\n"),
            std::string::npos)
      << kinds.out;
  EXPECT_NE(kinds.out.find("x86.dll: a 32-bit (x86) Windows DLL"), std::string::npos) << kinds.out;
  EXPECT_EQ(RunFind("--version " + tpl).exitCode, 3);

  EXPECT_EQ(RunFind(shot).exitCode, 2);
  EXPECT_EQ(RunFind(shot + " " + tpl + " --color").exitCode, 2);
  EXPECT_EQ(RunFind(shot + " " + tpl + " --explain 3").exitCode, 2);
  EXPECT_EQ(RunFind(shot + " " + tpl + " --frobnicate").exitCode, 2);
  EXPECT_EQ(RunFind(shot + " " + tpl + " 1 2 x 4").exitCode, 2);
  EXPECT_EQ(RunFind(shot + " " + tpl + " --mark " + TempPath("no-such-dir/out.bmp")).exitCode, 5);
}

TEST(FindProgram, NearColorsCountMissesAgainstTheBudget) {
  // A 5 x 3 template whose blues step by 16, and two copies under it on a
  // black row-0 screen: at (0, 1) twelve pixels with green 11 too high, at
  // (6, 1) three with red 64 too low and one with blue exactly 10 too high.
  // Channel limit 10 and 20 percent: 3 of the 15 pixels may miss.
  std::vector<std::uint32_t> tpl(15);
  for (std::uint32_t k = 0; k < 15; ++k) tpl[k] = 0x406000u | k * 16;
  std::vector<std::uint32_t> screen(12 * 4, 0);
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 5; ++c) {
      const std::uint32_t v = tpl[r * 5 + c];
      screen[(r + 1) * 12 + c] = v + (r > 0 || c > 2 ? 0x000B00u : 0);
      screen[(r + 1) * 12 + 6 + c] = r == 1 && c > 0 && c < 4 ? v - 0x400000u : r == 2 && c == 4 ? v + 10 : v;
    }
  }
  const std::string shot = WriteFile("near-screen.bmp", MakeBmp24(12, 4, screen));
  const std::string tplPath = WriteFile("near-template.bmp", MakeBmp24(5, 3, tpl));

  const CliRun missed = RunFind(shot + " " + tplPath + " --color 0x2000140A --explain 0,1");
  EXPECT_EQ(missed.exitCode, 0) << missed.out;
  EXPECT_NE(
      missed.out.find("(0x2000140A): near-colour mode (blue, green and red each within 10; up to 20% of "
                      "the pixels may differ more: 3 of this 5 x 3 template's pixels)\n"),
      std::string::npos)
      << missed.out;
  EXPECT_NE(missed.out.find("found     x=6 y=1 result=5\n"), std::string::npos) << missed.out;
  EXPECT_NE(
      missed.out.find("explain   (0, 1): near colours: 12 of the 15 template pixels differ by more than "
                      "10 in blue, green or red; at most 3 may (20% of 5 x 3, rounded down); the "
                      "misses, bottom row first, each row left to right:\n"
                      "explain   (0, 1): miss 1: template pixel (0, 2) 0x4060A0, screen pixel (0, 3) "
                      "0x406BA0; apart by blue 0, green 11, red 0\n"),
      std::string::npos)
      << missed.out;
  EXPECT_NE(missed.out.find("miss 4: template pixel (3, 2) 0x4060D0, screen pixel (3, 3) 0x406BD0; apart by "
                            "blue 0, green 11, red 0 (one more than allowed)\n"),
            std::string::npos)
      << missed.out;
  // Ten listed, the last of them in the middle row; the top row's two left over.
  EXPECT_NE(missed.out.find("miss 10: template pixel (4, 1) 0x406090, screen pixel (4, 2) 0x406B90"),
            std::string::npos)
      << missed.out;
  EXPECT_NE(missed.out.find("explain   (0, 1): and 2 more misses\n"), std::string::npos) << missed.out;
  EXPECT_EQ(missed.out.find("miss 11"), std::string::npos) << missed.out;

  const CliRun passed = RunFind(shot + " " + tplPath + " --color 0x2000140A --explain 6,1");
  EXPECT_NE(passed.out.find("explain   (6, 1): window test passed (near colours: 3 of the 15 template pixels "
                            "differ by more than 10"),
            std::string::npos)
      << passed.out;
  EXPECT_NE(passed.out.find("miss 1: template pixel (1, 1) 0x406060, screen pixel (7, 2) 0x006060; apart by "
                            "blue 0, green 0, red 64\n"),
            std::string::npos)
      << passed.out;
  EXPECT_NE(passed.out.find("explain   (6, 1): accepted; this is the position the search returns"),
            std::string::npos)
      << passed.out;
  // One percent less leaves a budget of 2 (19% of 15 is 2.85): nothing found.
  const CliRun tighter = RunFind(shot + " " + tplPath + " --color 0x2000130A");
  EXPECT_EQ(tighter.exitCode, 1) << tighter.out;
  EXPECT_NE(tighter.out.find("2 of this 5 x 3 template's pixels)"), std::string::npos) << tighter.out;
}

TEST(FindProgram, WarnsOfAWeakTemplateOnlyWhereItMatchesAtSeveralPlaces) {
  // A 40 x 30 gradient, every pixel its own colour, and a 4 x 3 piece of it
  // at (9, 5): pattern mode accepts every window, the piece's own colours one.
  std::vector<std::uint32_t> gradient(40 * 30), piece;
  for (std::uint32_t y = 0; y < 30; ++y)
    for (std::uint32_t x = 0; x < 40; ++x) gradient[y * 40 + x] = (40 + x) << 16 | (60 + y) << 8 | 150;
  for (std::uint32_t y = 5; y < 8; ++y)
    for (std::uint32_t x = 9; x < 13; ++x) piece.push_back(gradient[y * 40 + x]);
  const std::string screen = WriteFile("weak-gradient.bmp", MakeBmp24(40, 30, gradient));
  const std::string tpl = WriteFile("weak-piece.bmp", MakeBmp24(4, 3, piece));
  const CliRun weak = RunFind(screen + " " + tpl);
  EXPECT_EQ(weak.exitCode, 0) << weak.out;
  EXPECT_NE(weak.out.find("warning   pattern mode: all 12 pixels differ, so any 4 x 3 window of distinct "
                          "colours matches; 1,036 places on this screen. Try near colours: --color "
                          "0x20000000 (1 place here).\n"),
            std::string::npos)
      << weak.out;
  // The count is of the rectangle searched (7 x 8 positions), whatever the skip count.
  EXPECT_NE(
      RunFind(screen + " " + tpl + " 0 0 9 9 --options 3")
          .out.find("; 56 places in this rectangle. Try near colours: --color 0x20000000 (0 places here)."),
      std::string::npos);
  // Silent where it matches at one place: the near-colour search, pattern
  // mode on a plain screen with only the piece on it, and a template that
  // is not weak (two colours) at several places.
  EXPECT_EQ(RunFind(screen + " " + tpl + " --color 0x20000000").out.find("warning"), std::string::npos);
  std::vector<std::uint32_t> plain(40 * 30, 0x808080);
  for (std::uint32_t k = 0; k < 12; ++k) plain[(5 + k / 4) * 40 + 9 + k % 4] = piece[k];
  const CliRun once = RunFind(WriteFile("weak-plain.bmp", MakeBmp24(40, 30, plain)) + " " + tpl + " --all");
  EXPECT_NE(once.out.find("accepted  1 position(s)"), std::string::npos) << once.out;
  EXPECT_EQ(once.out.find("warning"), std::string::npos) << once.out;
  std::vector<std::uint32_t> pairs(40 * 30, 0x808080);
  for (std::uint32_t k = 0; k < 40 * 30; k += 7) pairs[k] = 0x102030;
  const std::string pairTpl =
      WriteFile("weak-pair.bmp", MakeBmp24(2, 2, {0x102030, 0x808080, 0x808080, 0x808080}));
  const CliRun many =
      RunFind(WriteFile("weak-pairs.bmp", MakeBmp24(40, 30, pairs)) + " " + pairTpl + " --all");
  EXPECT_EQ(many.out.find("accepted  1 position(s)"), std::string::npos) << many.out;
  EXPECT_EQ(many.out.find("warning"), std::string::npos) << many.out;
}

TEST(FindProgram, TopRowPositionsAreFlaggedAsAmbiguous) {
  const std::string shot = WriteFile("cli-top.bmp", MakeBmp24(4, 2, {kA, kB, kA, kA, kA, kA, kA, kA}));
  const std::string tpl = WriteFile("cli-top-template.bmp", MakeBmp24(2, 1, {kRed, kWhite}));
  const CliRun r = RunFind(shot + " " + tpl);
  EXPECT_EQ(r.exitCode, 0);
  // (0, 0) encodes as -(4 + 1).
  EXPECT_NE(r.out.find("found     x=0 y=0 result=-5"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("cannot tell this position from the code -5"), std::string::npos) << r.out;
}

}  // namespace
