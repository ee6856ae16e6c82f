// zadized-find: tries a template on a screenshot with the library's own
// loader and search, so a script author can see what SearchImage would
// answer, and why a template is not found. The Windows build also makes
// templates from the live screen and searches it.
#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "find/find_core.h"

namespace {

// Exit codes, also listed in the usage text and the guide.
constexpr int kExitFound = 0;
constexpr int kExitNotFound = 1;
constexpr int kExitUsage = 2;
constexpr int kExitBadFile = 3;
constexpr int kExitRefused = 4;
constexpr int kExitCannotWrite = 5;
constexpr int kExitDisagreement = 6;

// The usage text, written for people: one line of usage, then each argument.
const char kUsage[] =
    "usage: zadized-find SCREEN TEMPLATE [X1 Y1 X2 Y2] [options]\n"
    "\n"
    "Searches SCREEN for TEMPLATE exactly as SearchImage searches the screen, and prints what\n"
    "SearchImage would answer, and why.\n"
    "\n"
    "  SCREEN          a screenshot: PNG, or a 24- or 32-bit uncompressed BMP\n"
#if defined(_WIN32)
    "                  (--screen instead: the live screen, captured as SearchImage captures it;\n"
    "                  --monitor N: monitor N, 1 the primary; --virtual: every monitor at once)\n"
#endif
    "  TEMPLATE        the template, BMP or PNG, loaded as SearchImage loads it\n"
    "  X1 Y1 X2 Y2     the rectangle, corners inclusive, in either order (default: the whole screen)\n"
    "\n"
    "options (N: decimal, or hexadecimal with 0x):\n"
    "  --options N     the option word: skip count, scan order, bit 19 (default 0)\n"
    "  --color N       the colour word (default -1, pattern mode): a colour 0xRRGGBB for shape\n"
    "                  mode, 0x10000000-0x1FFFFFFF tolerance, 0x20000000-0x2FFFFFFF near colours\n"
    "  --transparent   set option bit 19: the template's pixels of its top-left colour take no part\n"
    "  --all           list every accepted position, and what SearchImageAll answers\n"
    "  --explain X,Y   say why the template is or is not accepted with its top-left at (X, Y)\n"
    "  --mark OUT      write the screenshot with the accepted places outlined (red; the returned\n"
    "                  one green), as PNG when OUT ends in .png, otherwise as BMP\n"
#if defined(_WIN32)
    "  --grab X1,Y1,X2,Y2 OUT\n"
    "                  instead of searching: save that rectangle of the live screen as a template\n"
#endif
    "  --version [FILE...]\n"
    "                  instead of searching: this tool's version, or whether each FILE (zadized.dll,\n"
    "                  a program) is built for 32-bit (x86) or 64-bit (x64) programs\n"
    "  --help          this text\n"
    "\n"
    "exit codes: 0 found (or grabbed), 1 not found, 2 bad arguments, 3 a file is missing or not a\n"
    "usable BMP or PNG, 4 the search refused (result -3, -10 or -100), 5 an output file not written,\n"
    "6 internal disagreement between this tool and the library (a bug)\n";

int Usage(const std::string& problem) {
  std::fprintf(stderr, "zadized-find: %s\n\n%s", problem.c_str(), kUsage);
  return kExitUsage;
}

// Decimal (with sign) or 0x hexadecimal, any value a 32-bit word can hold;
// words above 0x7FFFFFFF wrap to the negative number with the same bits.
bool ParseWord(const std::string& text, std::int32_t& out) {
  if (text.empty()) return false;
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const char* begin = text.c_str();
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(begin, &end, hex ? 16 : 10);
  if (errno != 0 || end == begin || *end != '\0') return false;
  if (v < INT32_MIN || v > 0xFFFFFFFFLL) return false;
  out = static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
  return true;
}

bool ParsePoint(const std::string& text, zadized::find::Position& out) {
  const std::size_t comma = text.find(',');
  if (comma == std::string::npos) return false;
  return ParseWord(text.substr(0, comma), out.x) && ParseWord(text.substr(comma + 1), out.y);
}

std::string DescribeColorWord(const zadized::ColorTest& t, std::int32_t word,
                              const zadized::BitmapRecord& templ) {
  if (t.nearColors) {
    const auto written = static_cast<std::int32_t>(static_cast<std::uint32_t>(word) >> 8 & 0xFFu);
    return "near-colour mode (blue, green and red each within " + std::to_string(t.nearTolerance) +
           "; up to " + std::to_string(t.nearPercent) + "% of the pixels may differ more" +
           (written > 100 ? " (the word's " + std::to_string(written) + " counts as 100)" : "") + ": " +
           std::to_string(
               zadized::AllowedMisses(t.nearPercent, static_cast<std::int64_t>(templ.width) * templ.height)) +
           " of this " + std::to_string(templ.width) + " x " + std::to_string(templ.height) +
           " template's pixels)";
  }
  if (t.tolerance) {
    static const char* const corners[4] = {"top-left", "top-right", "bottom-left", "bottom-right"};
    return "pattern mode with a corner test (" + std::string(corners[t.corner & 3]) +
           " corner, channel limit " + std::to_string(t.channelTolerance) + ", sum limit " +
           std::to_string(t.sumTolerance) + ")";
  }
  if (t.mapColor == -1)
    return word == -1 ? "pattern mode" : "pattern mode (this colour word's mode means -1)";
  return "shape mode, shape colour " + zadized::find::Hex6(static_cast<zadized::ColorValue>(t.mapColor));
}

std::string DescribeOrder(const zadized::ScanOrder& o) {
  return "skip " + std::to_string(o.skip) + ", rows " + (o.bottomUp ? "bottom-up" : "top-down") +
         ", columns " + (o.rightToLeft ? "right-to-left" : "left-to-right") + ", " +
         (o.columnsOuter ? "column by column" : "row by row");
}

std::string RefusalText(std::int32_t code) {
  switch (code) {
    case zadized::kNoScreen:
      return "the screenshot has no pixels";
    case zadized::kRectangleTooSmall:
      return "the rectangle, cut to the screen, is smaller than the template";
    case zadized::kNoColorMap:
      return "no template pixel has the shape colour";
    default:
      return "refused";
  }
}

// The tool's own version and kind, or the architecture of each file named:
// a DLL of the other kind than the host cannot load, and says little more.
int PrintVersion(const std::vector<std::string>& files) {
  if (files.empty()) {
#if defined(_WIN32)
    std::printf("zadized-find %s, a %s Windows program, with the library of zadized.dll %s\n",
                ZADIZED_FIND_VERSION, sizeof(void*) == 8 ? "64-bit (x64)" : "32-bit (x86)",
                ZADIZED_FIND_VERSION);
#else
    std::printf("zadized-find %s, a native build, with the library of zadized.dll %s\n", ZADIZED_FIND_VERSION,
                ZADIZED_FIND_VERSION);
#endif
    return kExitFound;
  }
  int status = kExitFound;
  for (const std::string& file : files) {
    const std::string text = zadized::find::DescribeProgramFile(file);
    std::printf("%s\n", text.c_str());
    if (text.find("-bit (x") == std::string::npos) status = kExitBadFile;
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace zadized;
  using namespace zadized::find;

  // CLI11 parses; the usage text above is the only help there is.
  CLI::App app("zadized-find");
  app.set_help_flag();
  std::vector<std::string> positional;
  std::string optionsText = "0", colorText = "-1", explainText, markPath;
  std::vector<std::string> grab;
  bool all = false, live = false, transparent = false, help = false;
  app.add_option("arguments", positional)->expected(0, 6);
  app.add_option("--options", optionsText);
  app.add_option("--color", colorText);
  app.add_flag("--transparent", transparent);
  app.add_flag("--all", all);
  app.add_option("--explain", explainText);
  app.add_option("--mark", markPath);
  app.add_flag("-h,--help", help);
  bool version = false;
  app.add_flag("--version", version);
#if defined(_WIN32)
  app.add_flag("--screen", live);
  std::string monitorText;
  bool virtualScreen = false;
  app.add_option("--monitor", monitorText);
  app.add_flag("--virtual", virtualScreen);
  app.add_option("--grab", grab)->expected(2);
#endif
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return Usage(e.what());
  }
  if (help) {
    std::printf("%s", kUsage);
    return kExitFound;
  }
  if (version) return PrintVersion(positional);

  std::int32_t options = 0, color = -1;
  if (!ParseWord(optionsText, options)) return Usage("--options needs a number (decimal or 0x hexadecimal)");
  if (transparent) options |= ZADIZED_KEY_COLOR_TRANSPARENT;
  if (!ParseWord(colorText, color)) return Usage("--color needs a number (decimal or 0x hexadecimal)");
  Position explainAt{};
  const bool explain = app.count("--explain") != 0;
  if (explain && !ParsePoint(explainText, explainAt)) return Usage("--explain needs X,Y, for example 120,45");
  if (app.count("--mark") != 0 && markPath.empty()) return Usage("--mark needs a file name");

  if (!grab.empty()) {
    std::int32_t g[4] = {0, 0, 0, 0};
    const std::string& c = grab[0];
    const std::size_t a = c.find(','), b = c.find(',', a + 1), d = c.find(',', b + 1);
    if (!positional.empty() || live) return Usage("--grab takes only X1,Y1,X2,Y2 OUT");
    if (a == std::string::npos || b == std::string::npos || d == std::string::npos ||
        !ParseWord(c.substr(0, a), g[0]) || !ParseWord(c.substr(a + 1, b - a - 1), g[1]) ||
        !ParseWord(c.substr(b + 1, d - b - 1), g[2]) || !ParseWord(c.substr(d + 1), g[3])) {
      return Usage("--grab needs X1,Y1,X2,Y2, for example 100,200,131,215");
    }
    Screenshot screen, cut;
    std::string error = CaptureLiveScreen(screen);
    if (error.empty()) error = CutRectangle(screen, g[0], g[1], g[2], g[3], cut);
    if (!error.empty()) {
      std::fprintf(stderr, "zadized-find: %s\n", error.c_str());
      return kExitBadFile;
    }
    error = WriteScreenshot(grab[1], cut);
    if (!error.empty()) {
      std::fprintf(stderr, "zadized-find: %s\n", error.c_str());
      return kExitCannotWrite;
    }
    std::printf("grabbed   %s: %d x %d from the screen\n", grab[1].c_str(), cut.image.width,
                cut.image.height);
    return kExitFound;
  }
  // A monitor or the virtual screen is taken as HoldScreen takes it.
  std::string source;
#if defined(_WIN32)
  if (!monitorText.empty()) source = "monitor:" + monitorText;
  if (virtualScreen) source = source.empty() ? "virtual" : "";
  if ((!monitorText.empty() || virtualScreen) && (source.empty() || live))
    return Usage("--screen, --monitor and --virtual each name the screen; give one");
  live = live || !source.empty();
#endif
  // With the live screen there is no screenshot name ahead of the template.
  if (live) positional.insert(positional.begin(), source.empty() ? "(the screen)" : "(" + source + ")");
  if (positional.size() != 2 && positional.size() != 6) {
    return Usage(live ? "expected TEMPLATE and optionally the four rectangle coordinates"
                      : "expected SCREEN TEMPLATE and optionally the four rectangle coordinates");
  }

  Screenshot shot;
  platform::DesktopRect place{0, 0, 0, 0};
  const std::string screenError =
      live ? CaptureLiveScreen(shot, source.empty() ? nullptr : source.c_str(), &place)
           : LoadScreenshot(positional[0], shot);
  if (!screenError.empty()) {
    std::fprintf(stderr, "zadized-find: screenshot %s\n", screenError.c_str());
    return kExitBadFile;
  }
  std::int32_t r[4] = {0, 0, shot.image.width - 1, shot.image.height - 1};
  if (positional.size() == 6) {
    for (int k = 0; k < 4; ++k) {
      if (!ParseWord(positional[2 + k], r[k]))
        return Usage("not a rectangle coordinate: " + positional[2 + k]);
    }
  }

  // A cache of this run's own, so nothing is shared with anything else.
  PrivateCache cache;
  const Template loaded = cache.OpenWithOpacity(positional[1]);
  const BitmapRecord& templ = loaded.record;
  if (templ.fileSize == -1) {
    std::fprintf(stderr, "zadized-find: template %s (SearchImage would answer -2)\n",
                 DescribeTemplateFailure(positional[1]).c_str());
    return kExitBadFile;
  }

  const Session session(shot.image, templ, r[0], r[1], r[2], r[3], options, color, loaded.opacity);
  std::printf("screen    %s: %d x %d", positional[0].c_str(), shot.image.width, shot.image.height);
  if (place.left != 0 || place.top != 0)
    std::printf(", its top-left corner at (%d, %d) on the desktop: add that to a position here", place.left,
                place.top);
  std::printf("\n");
  std::printf("template  %s: %d x %d, %d bits per pixel\n", positional[1].c_str(), templ.width, templ.height,
              templ.bitCount);
  const std::int64_t pixels = static_cast<std::int64_t>(templ.width) * templ.height;
  std::int64_t clearByAlpha = 0;
  for (std::int64_t k = 0; loaded.opacity != nullptr && k < pixels; ++k)
    clearByAlpha += loaded.opacity[k] == 0;
  if (clearByAlpha > 0 || KeyColorIsTransparent(options)) {
    std::printf("opacity   %lld of %lld pixels are transparent and take no part",
                static_cast<long long>(session.TransparentPixels()), static_cast<long long>(pixels));
    if (clearByAlpha > 0) std::printf("; %lld by their alpha", static_cast<long long>(clearByAlpha));
    if (KeyColorIsTransparent(options))
      std::printf("; option bit 19: the top-left colour %s", Hex6(templ.topLeftColor).c_str());
    std::printf("\n");
  }
  std::printf("rectangle (%d, %d) to (%d, %d) as given", r[0], r[1], r[2], r[3]);
  // Cut as the search cuts it; a rectangle wholly off the screen is left empty.
  const Rectangle cut = NormalizeRectangle(r[0], r[1], r[2], r[3], shot.image.width, shot.image.height);
  const bool offScreen = cut.x2 < cut.x1 || cut.y2 < cut.y1;
  if (offScreen) {
    std::printf("; it lies wholly outside the %d x %d screen", shot.image.width, shot.image.height);
  } else if (session.Refusal() != kNoScreen) {
    std::printf("; cut to the screen (%d, %d) to (%d, %d)", cut.x1, cut.y1, cut.x2, cut.y2);
  }
  std::printf("\noptions   %d (0x%08X): %s\n", options, static_cast<unsigned>(options),
              DescribeOrder(session.Order()).c_str());
  std::printf("color     %d (0x%08X): %s\n", color, static_cast<unsigned>(color),
              DescribeColorWord(session.Test(), color, templ).c_str());

  const std::int32_t result = session.LibraryResult();
  int status = kExitNotFound;
  Position returned{};
  const bool found = session.Refusal() == 0 && session.Returned(returned);
  const std::int32_t width = shot.image.width;
  if (session.Refusal() != 0) {
    std::printf("refused   result=%d (%s)\n", result,
                offScreen && result == kRectangleTooSmall ? "the rectangle lies wholly outside the screen"
                                                          : RefusalText(result).c_str());
    status = kExitRefused;
    if (result != session.Refusal()) status = kExitDisagreement;
  } else if (found) {
    std::printf("found     x=%d y=%d result=%d\n", returned.x, returned.y, result);
    if (result < 0) {
      std::printf(
          "note      a negative result: a host cannot tell this position from the code %d; start the "
          "rectangle at row 2, or at row 1 and column 1\n",
          result);
    }
    status = kExitFound;
    if (result != EncodePosition(returned.x, returned.y, width)) status = kExitDisagreement;
  } else {
    std::printf("not found result=%d (no position accepted)\n", result);
    if (result != zadized::kNotFound) status = kExitDisagreement;
  }
  const std::string weak = session.WeakTemplateWarning();
  if (!weak.empty()) std::printf("warning   %s\n", weak.c_str());
  if (status == kExitDisagreement) {
    std::fprintf(stderr,
                 "zadized-find: internal error: the library answered %d, this tool's own scan disagrees\n",
                 result);
  }

  std::vector<Accepted> accepted;
  if (all || !markPath.empty()) accepted = session.All();
  if (all) {
    std::printf(
        "accepted  %zu position(s) in scan order (index = place among window matches, which the "
        "skip count counts):\n",
        accepted.size());
    for (const Accepted& a : accepted) {
      const bool isReturned = found && a.at.x == returned.x && a.at.y == returned.y;
      std::printf("  x=%d y=%d result=%d index=%lld%s%s\n", a.at.x, a.at.y,
                  EncodePosition(a.at.x, a.at.y, width), static_cast<long long>(a.windowIndex),
                  a.windowIndex < session.Order().skip ? " (skipped)" : "", isReturned ? " <- returned" : "");
    }
    // What one SearchImageAll call answers, from the library, against the
    // positions above that the skip count does not pass over.
    const Session::Listing listed = session.LibraryList();
    std::vector<std::int32_t> own;
    for (const Accepted& a : accepted)
      if (a.windowIndex >= session.Order().skip) own.push_back(EncodePosition(a.at.x, a.at.y, width));
    const bool agrees = session.Refusal() != 0 ? listed.result == session.Refusal()
                                               : listed.result == static_cast<std::int32_t>(own.size()) &&
                                                     listed.positions == own;
    std::printf("listed    SearchImageAll result=%d (%s)\n", listed.result,
                session.Refusal() != 0 ? RefusalText(listed.result).c_str()
                                       : "the positions above not skipped, in the same order");
    if (!agrees) {
      std::fprintf(
          stderr,
          "zadized-find: internal error: SearchImageAll answered %d, this tool's own scan lists %zu\n",
          listed.result, own.size());
      status = kExitDisagreement;
    }
  }
  if (explain) {
    for (const std::string& line : session.Explain(explainAt)) std::printf("explain   %s\n", line.c_str());
  }
  if (!markPath.empty()) {
    std::vector<Position> all_positions;
    for (const Accepted& a : accepted) all_positions.push_back(a.at);
    Outline(shot, all_positions, templ.width, templ.height, 0xFF0000);
    if (found) Outline(shot, {returned}, templ.width, templ.height, 0x00FF00);
    const std::string error = WriteScreenshot(markPath, shot);
    if (!error.empty()) {
      std::fprintf(stderr, "zadized-find: %s\n", error.c_str());
      return kExitCannotWrite;
    }
    std::printf("marked    %s (%zu outline(s))\n", markPath.c_str(), accepted.size());
  }
  return status;
}
