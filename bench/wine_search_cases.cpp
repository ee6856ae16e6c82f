// SearchImage end to end (template from the cache, capture, search) through
// the real DLL under Wine, for the cases the native benchmark marks: each
// screen is shown full-screen, then every case on it is timed through
// zadized.dll and through zadized_literal.dll, the same library built to
// start with the literal scan, in one run. Both must give every case's
// expected answer, or the program fails. The floor here is one capture of the
// whole screen through CaptureScreen plus a read pass over it: what any
// whole-screen search has to pay. Cases that list every sighting are timed as
// one SearchImageAll call in each DLL and as the loop over the skip count that
// it replaces (SearchImage with skip 0, 1, ... until -1, through zadized.dll),
// in a table of their own; the one call's list must be the places the loop
// met, and the same in both DLLs. Every case is also timed through
// zadized.dll while the thread holds one capture of the screen (HoldScreen),
// taken before the timing: what a script pays per search once it holds the
// frame, against the live search's capture and scan; its answers must be the
// live ones. The geometric mean of live / held closes the run.
// Usage: wine_search_cases.exe zadized.dll zadized_literal.dll|- CASES_DIR [SECONDS]
// CASES_DIR is what `zadized_bench --wine-cases=DIR` writes; SECONDS (default
// 2) is how long each case is repeated in each DLL, at least one call. With
// "-" for the literal DLL only zadized.dll is timed, live and held.
#include <zadized.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "harness.h"
#include "paint_screen.h"

namespace {

using SearchFn = std::int32_t(WINAPI*)(const char*, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                                       std::int32_t, std::int32_t);
using SearchAllFn = std::int32_t(WINAPI*)(const char*, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                                          std::int32_t, std::int32_t, ZadizedAddress, std::int32_t);
using HoldFn = std::int32_t(WINAPI*)(const char*);
using ReleaseFn = std::int32_t(WINAPI*)();

struct Case {
  std::string name, kind, where, screen, templ;
  std::int32_t x1 = 0, y1 = 0, x2 = 0, y2 = 0, options = 0, color = 0, expected = 0;
  bool floorCase = false, plain = false, every = false;
  int colours = 0;
};

std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (;;) {
    const std::size_t tab = line.find('\t', start);
    out.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) return out;
    start = tab + 1;
  }
}

bool ReadCases(const std::string& dir, std::vector<Case>* cases) {
  std::FILE* f = std::fopen((dir + "\\cases.txt").c_str(), "r");
  if (f == nullptr) return false;
  char buffer[1024];
  while (std::fgets(buffer, sizeof buffer, f) != nullptr) {
    std::string line(buffer);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    const std::vector<std::string> v = Split(line);
    if (v.size() != 16) continue;
    Case c;
    c.name = v[0];
    c.kind = v[1];
    c.where = v[2];
    c.screen = v[3];
    c.templ = dir + "\\" + v[4];
    std::int32_t* numbers[] = {&c.x1, &c.y1, &c.x2, &c.y2, &c.options, &c.color, &c.expected};
    for (int i = 0; i < 7; ++i)
      *numbers[i] = static_cast<std::int32_t>(std::strtol(v[5 + i].c_str(), nullptr, 10));
    c.floorCase = v[12] == "1";
    c.plain = v[13] == "1";
    c.colours = std::atoi(v[14].c_str());
    c.every = v[15] == "1";
    cases->push_back(c);
  }
  std::fclose(f);
  return true;
}

// A 24-bit BMP as the native benchmark writes it, as top-down 0x00RRGGBB.
bool ReadScreen(const std::string& path, std::int32_t* w, std::int32_t* h, std::vector<std::uint32_t>* px) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  std::vector<std::uint8_t> b;
  std::uint8_t chunk[65536];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) b.insert(b.end(), chunk, chunk + n);
  std::fclose(f);
  if (b.size() < 54) return false;
  const auto u32 = [&](std::size_t at) {
    return static_cast<std::uint32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 | b[at + 3] << 24);
  };
  const std::uint32_t offset = u32(10);
  *w = static_cast<std::int32_t>(u32(18));
  *h = static_cast<std::int32_t>(u32(22));
  const std::size_t stride = (static_cast<std::size_t>(*w) * 3 + 3) / 4 * 4;
  if (b[28] != 24 || *w <= 0 || *h <= 0 || offset + stride * static_cast<std::size_t>(*h) > b.size())
    return false;
  px->assign(static_cast<std::size_t>(*w) * *h, 0);
  for (std::int32_t y = 0; y < *h; ++y) {
    const std::uint8_t* row = &b[offset + stride * static_cast<std::size_t>(*h - 1 - y)];
    for (std::int32_t x = 0; x < *w; ++x)
      (*px)[static_cast<std::size_t>(y) * *w + x] = row[3 * x] | row[3 * x + 1] << 8 | row[3 * x + 2] << 16;
  }
  return true;
}

double Now() {
  LARGE_INTEGER f, t;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) / static_cast<double>(f.QuadPart);
}

struct Timing {
  double seconds;  // per call
  long calls;
  std::int32_t result;
};

// Repeats the call for `seconds`, at least once; every answer must be the
// first one.
template <typename Call>
Timing Repeat(double seconds, bool* steady, const Call& call) {
  const double start = Now();
  double now = start;
  Timing t{0, 0, 0};
  do {
    const std::int32_t r = call();
    if (t.calls > 0 && r != t.result) *steady = false;
    t.result = r;
    ++t.calls;
    now = Now();
  } while (now - start < seconds);
  t.seconds = (now - start) / static_cast<double>(t.calls);
  return t;
}

Timing Time(SearchFn search, const Case& c, double seconds, bool* steady) {
  return Repeat(seconds, steady,
                [&] { return search(c.templ.c_str(), c.x1, c.y1, c.x2, c.y2, c.options, c.color); });
}

// Every sighting in one call, repeated for `seconds`, at least once; the
// list of the last call in `list`, and every answer must be the first one.
std::vector<std::int32_t> g_slots;
Timing TimeAll(SearchAllFn searchAll, const Case& c, double seconds, bool* steady,
               std::vector<std::int32_t>* list) {
  const Timing t = Repeat(seconds, steady, [&] {
    return searchAll(c.templ.c_str(), c.x1, c.y1, c.x2, c.y2, c.options, c.color,
                     ZADIZED_ADDR(g_slots.data()), static_cast<std::int32_t>(g_slots.size()));
  });
  list->assign(g_slots.begin(), g_slots.begin() + std::max(t.result, 0));
  return t;
}

// The loop a script runs instead, timed as one unit (repeated likewise):
// SearchImage with the skip count raised until it answers -1.
Timing TimeSkipLoop(SearchFn search, const Case& c, double seconds, std::vector<std::int32_t>* answers) {
  const double start = Now();
  double now = start;
  Timing t{0, 0, 0};
  do {
    answers->clear();
    for (std::int32_t skip = 0; skip <= 0xFFFF; ++skip) {
      const std::int32_t r = search(c.templ.c_str(), c.x1, c.y1, c.x2, c.y2, c.options + skip, c.color);
      if (r == -1) break;
      answers->push_back(r);
    }
    ++t.calls;
    now = Now();
  } while (now - start < seconds);
  t.seconds = (now - start) / static_cast<double>(t.calls);
  t.result = static_cast<std::int32_t>(answers->size());
  return t;
}

// The places of the loop's answers in the order first met: in tolerance mode
// the loop meets a place again whenever the window match it lands on fails
// the corner test.
std::vector<std::int32_t> FirstMet(const std::vector<std::int32_t>& v) {
  std::vector<std::int32_t> out;
  for (const std::int32_t p : v)
    if (std::find(out.begin(), out.end(), p) == out.end()) out.push_back(p);
  return out;
}

// CaptureScreen through the DLL (its record address as the hidden first
// argument), a read pass over the pixels, and the bitmap deleted.
double FloorSeconds(const void* capture, double seconds) {
  const double start = Now();
  double now = start;
  long calls = 0;
  std::uint32_t sum = 0;
  do {
    ZadizedScreenImage image{};
    harness::CallByHand(capture, {harness::Addr(&image)});
    const auto* words = reinterpret_cast<const std::uint32_t*>(image.pixels);
    const std::size_t n = static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height);
    for (std::size_t i = 0; i < n; ++i) sum += words[i];
    if (image.bitmap != nullptr) DeleteObject(static_cast<HGDIOBJ>(image.bitmap));
    ++calls;
    now = Now();
  } while (now - start < seconds);
  if (sum == 1) std::printf(" ");  // keeps the read pass
  return (now - start) / static_cast<double>(calls);
}

// The windows of earlier screens go, so the next screen is the only one.
void ClearScreens() {
  while (HWND old = FindWindowA("zadized-test-screen", nullptr)) DestroyWindow(old);
  harness::PumpMessages(100);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n == 0 ? 0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  SetUnhandledExceptionFilter(harness::OnCrash);
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  if (argc < 4) {
    std::printf("usage: %s zadized.dll zadized_literal.dll|- CASES_DIR [SECONDS]\n", argv[0]);
    return 2;
  }
  const double seconds = argc > 4 ? std::atof(argv[4]) : 2.0;
  const bool withLiteral = std::string(argv[2]) != "-";
  HMODULE fastDll = LoadLibraryA(harness::WinPath(argv[1]).c_str());
  HMODULE literalDll = withLiteral ? LoadLibraryA(harness::WinPath(argv[2]).c_str()) : fastDll;
  if (fastDll == nullptr || literalDll == nullptr || (withLiteral && fastDll == literalDll)) {
    std::printf("cannot load the two DLLs %s and %s\n", argv[1], argv[2]);
    return 2;
  }
  const auto fast =
      reinterpret_cast<SearchFn>(reinterpret_cast<void*>(GetProcAddress(fastDll, "SearchImage")));
  const auto literal =
      reinterpret_cast<SearchFn>(reinterpret_cast<void*>(GetProcAddress(literalDll, "SearchImage")));
  const void* capture = reinterpret_cast<const void*>(GetProcAddress(fastDll, "CaptureScreen"));
  const auto fastAll =
      reinterpret_cast<SearchAllFn>(reinterpret_cast<void*>(GetProcAddress(fastDll, "SearchImageAll")));
  const auto literalAll =
      reinterpret_cast<SearchAllFn>(reinterpret_cast<void*>(GetProcAddress(literalDll, "SearchImageAll")));
  const auto hold = reinterpret_cast<HoldFn>(reinterpret_cast<void*>(GetProcAddress(fastDll, "HoldScreen")));
  const auto release =
      reinterpret_cast<ReleaseFn>(reinterpret_cast<void*>(GetProcAddress(fastDll, "ReleaseScreen")));
  const std::string dir = harness::WinPath(argv[3]);
  std::vector<Case> cases;
  if (fast == nullptr || literal == nullptr || capture == nullptr || fastAll == nullptr ||
      literalAll == nullptr || hold == nullptr || release == nullptr || !ReadCases(dir, &cases) ||
      cases.empty()) {
    std::printf(
        "no SearchImage, SearchImageAll, CaptureScreen, HoldScreen or ReleaseScreen in the DLLs, or no "
        "cases in %s\n",
        argv[3]);
    return 2;
  }
  const std::int32_t width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
  // The held timing: one capture of the screen as it is, held while the
  // case is repeated, released after; the hold itself is not timed.
  bool holdsRight = true;
  const auto held = [&](const auto& timing) {
    holdsRight = holdsRight && hold(nullptr) == width;
    const Timing t = timing();
    holdsRight = holdsRight && release() == 0;
    return t;
  };
  const auto timeLiteral = [&](const Case& c, bool* steady) {
    return withLiteral ? Time(literal, c, seconds, steady) : Timing{0, 0, c.expected};
  };
  g_slots.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
  struct EveryRow {
    const Case* c;
    Timing oneCall, loop, literal, held;
    bool right;
  };
  std::vector<EveryRow> everyRows;

  struct Row {
    const Case* c;
    Timing fast, literal, held;
    bool right;
  };
  std::vector<Row> rows;
  double floor = 0;
  bool allRight = true;
  std::string shown;
  for (const Case& c : cases) {
    if (c.screen != shown) {
      std::int32_t w = 0, h = 0;
      std::vector<std::uint32_t> px;
      if (!ReadScreen(dir + "\\" + c.screen, &w, &h, &px) || w != width || h != height) {
        std::printf("%s: not a %dx%d picture, or unreadable\n", c.screen.c_str(), width, height);
        return 2;
      }
      ClearScreens();
      if (!harness::ShowOnScreen(w, h, std::move(px))) {
        std::printf("could not show %s\n", c.screen.c_str());
        return 2;
      }
      shown = c.screen;
      // Measured on every screen and the fastest kept: the first captures
      // after Wine starts are slower than the rest.
      const double f = FloorSeconds(capture, seconds);
      if (floor == 0 || f < floor) floor = f;
    }
    bool steady = true;
    if (c.every) {
      std::vector<std::int32_t> fastList, literalList, answers, heldList;
      EveryRow row{&c,
                   TimeAll(fastAll, c, seconds, &steady, &fastList),
                   TimeSkipLoop(fast, c, seconds, &answers),
                   withLiteral ? TimeAll(literalAll, c, seconds, &steady, &literalList) : Timing{0, 0, 0},
                   held([&] { return TimeAll(fastAll, c, seconds, &steady, &heldList); }),
                   false};
      if (!withLiteral) literalList = fastList;
      row.right = steady && row.oneCall.result == c.expected && fastList == literalList &&
                  FirstMet(answers) == fastList && heldList == fastList;
      allRight = allRight && row.right;
      std::printf(
          "%-52s one call %9.2f ms (%ld calls)  skip loop %10.2f ms (%d sightings, %ld loops)  literal one "
          "call %10.2f ms (%ld calls)  held one call %9.2f ms (%ld calls)%s\n",
          c.name.c_str(), row.oneCall.seconds * 1e3, row.oneCall.calls, row.loop.seconds * 1e3,
          row.oneCall.result, row.loop.calls, row.literal.seconds * 1e3, row.literal.calls,
          row.held.seconds * 1e3, row.held.calls, row.right ? "" : "  WRONG ANSWER");
      std::fflush(stdout);
      everyRows.push_back(row);
      continue;
    }
    Row row{&c, Time(fast, c, seconds, &steady), timeLiteral(c, &steady),
            held([&] { return Time(fast, c, seconds, &steady); }), false};
    row.right = steady && row.fast.result == c.expected && row.literal.result == c.expected &&
                row.held.result == c.expected;
    allRight = allRight && row.right;
    std::printf(
        "%-52s zadized %9.2f ms (%ld calls)  literal %10.2f ms (%ld calls)  held %9.2f ms (%ld calls)%s\n",
        c.name.c_str(), row.fast.seconds * 1e3, row.fast.calls, row.literal.seconds * 1e3, row.literal.calls,
        row.held.seconds * 1e3, row.held.calls, row.right ? "" : "  WRONG ANSWER");
    std::fflush(stdout);
    rows.push_back(row);
  }

  std::printf(
      "\nThrough the %s DLL under Wine, screen %dx%d, one run. Times per SearchImage call in ms; "
      "zadized = the library, literal = zadized_literal.dll; x lit = literal / zadized; x floor = zadized / "
      "floor, for "
      "full-screen not-found cases (floor %.2f ms: CaptureScreen of the whole screen and one read pass, the "
      "fastest of its measurements on each screen).\n",
      sizeof(void*) == 8 ? "x64" : "x86", width, height, floor * 1e3);
  std::printf(
      "Goals as in the native table: G1 zadized <= max(1.25 x literal, 50 us); G2 found early or plain area, "
      "literal > 10 ms: x lit >= 10; G3 more than 255 colours: x lit >= 20; G4 full-screen not found: x "
      "floor <= "
      "3.\n");
  std::printf(
      "held = zadized.dll while the thread holds one capture of the screen (HoldScreen, not timed); x held = "
      "zadized / held.\n");
  std::printf("%-52s %-11s %-15s %7s %10s %11s %8s %7s %9s %7s %s\n", "case", "kind", "found", "colours",
              "zadized", "literal", "x lit", "x floor", "held", "x held", "misses");
  double logSum = 0, leastHeld = 0;
  int heldCases = 0;
  std::string leastHeldName;
  const auto countHeld = [&](const std::string& name, double live, double heldSeconds) {
    const double ratio = live / heldSeconds;
    logSum += std::log(ratio);
    ++heldCases;
    if (leastHeld == 0 || ratio < leastHeld) {
      leastHeld = ratio;
      leastHeldName = name;
    }
    return ratio;
  };
  double worst = 0, worstAllowed = 0;
  std::string worstName, worstAllowedName;
  std::vector<double> speedUps;
  for (const Row& r : rows) {
    const Case& c = *r.c;
    const double f = r.fast.seconds, l = r.literal.seconds;
    std::string misses;
    const auto miss = [&](const char* goal) { misses += std::string(misses.empty() ? "" : " ") + goal; };
    if (withLiteral && f > std::max(1.25 * l, 50e-6)) miss("G1");
    if (withLiteral && (c.where.rfind("early", 0) == 0 || c.plain) && l > 10e-3 && l / f < 10) miss("G2");
    if (withLiteral && c.colours > 255 && l / f < 20) miss("G3");
    if (c.floorCase && f / floor > 3) miss("G4");
    if (c.floorCase && withLiteral) speedUps.push_back(l / f);
    if (withLiteral && f / l > worst) {
      worst = f / l;
      worstName = c.name;
    }
    if (withLiteral && f / std::max(1.25 * l, 50e-6) > worstAllowed) {
      worstAllowed = f / std::max(1.25 * l, 50e-6);
      worstAllowedName = c.name;
    }
    char floorRatio[16] = "";
    if (c.floorCase) std::snprintf(floorRatio, sizeof floorRatio, "%.2f", f / floor);
    const double xHeld = countHeld(c.name, f, r.held.seconds);
    std::printf("%-52s %-11s %-15s %7d %10.2f %11.2f %8.2f %7s %9.2f %7.2f %s%s\n", c.name.c_str(),
                c.kind.c_str(), c.where.c_str(), c.colours, f * 1e3, l * 1e3, l / f, floorRatio,
                r.held.seconds * 1e3, xHeld, misses.c_str(), r.right ? "" : " WRONG ANSWER");
  }
  if (withLiteral) {
    std::printf(
        "\n%zu cases. Worst zadized / literal: %.2f (%s). Worst zadized / max(1.25 x literal, 50 us): %.2f "
        "(%s). Full-screen not-found cases: %zu, median x lit %.1f.\n",
        rows.size(), worst, worstName.c_str(), worstAllowed, worstAllowedName.c_str(), speedUps.size(),
        Median(speedUps));
  } else {
    std::printf("\n%zu cases; the literal DLL was not run.\n", rows.size());
  }
  if (!everyRows.empty()) {
    std::printf(
        "\nEvery sighting through the %s DLL, one run: one SearchImageAll call against the skip loop it "
        "replaces (SearchImage with skip 0, 1, ... until -1, each call capturing the screen) and against one "
        "call of the literal DLL. Times in ms. x loop = skip loop / one call; x lit = literal one call / one "
        "call. Goals: L1 more than 20 sightings: x loop >= 20; G1 one call <= max(1.25 x literal, 50 us).\n",
        sizeof(void*) == 8 ? "x64" : "x86");
    std::printf("%-46s %9s %11s %7s %10s %8s %11s %8s %9s %7s %s\n", "case", "sightings", "skip loop",
                "calls", "one call", "x loop", "literal", "x lit", "held", "x held", "misses");
    const std::string suffix = " every sighting, one call";
    for (const EveryRow& r : everyRows) {
      const Case& c = *r.c;
      const double f = r.oneCall.seconds, sl = r.loop.seconds, l = r.literal.seconds;
      std::string misses;
      if (withLiteral && f > std::max(1.25 * l, 50e-6)) misses += " G1";
      if (r.oneCall.result > 20 && sl / f < 20) misses += " L1";
      const std::string base =
          c.name.size() > suffix.size() ? c.name.substr(0, c.name.size() - suffix.size()) : c.name;
      const double xHeld = countHeld(c.name, f, r.held.seconds);
      std::printf("%-46s %9d %11.2f %7d %10.2f %8.1f %11.2f %8.2f %9.2f %7.2f%s%s\n", base.c_str(),
                  r.oneCall.result, sl * 1e3, r.loop.result + 1, f * 1e3, sl / f, l * 1e3, l / f,
                  r.held.seconds * 1e3, xHeld, misses.c_str(), r.right ? "" : " WRONG ANSWER");
    }
  }
  std::printf(
      "\nLive against held through the %s DLL, %d cases (each case's zadized time over its time with one "
      "held "
      "capture): geometric mean %.2fx, least %.2fx (%s).\n",
      sizeof(void*) == 8 ? "x64" : "x86", heldCases, heldCases > 0 ? std::exp(logSum / heldCases) : 0.0,
      leastHeld, leastHeldName.c_str());
  if (!holdsRight) std::printf("HoldScreen or ReleaseScreen answered wrongly.\n");
  allRight = allRight && holdsRight;
  ClearScreens();
  if (!allRight) {
    std::printf("Some answers were wrong: the run fails.\n");
    return 1;
  }
  return 0;
}
