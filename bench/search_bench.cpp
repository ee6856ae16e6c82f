// Search speed on 1920x1080 screens: the fast scan against the library's own
// literal scan (the baseline), OpenCV's matchTemplate on the same pixels (the
// peer) and one plain read pass over the capture (the floor), all in one run.
// Screens: desktop screenshots of X11 programs (bench/data/*.png) and made-up
// worst cases. Each case's results from the fast and the literal scan must
// agree, or the run fails.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
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
      auto& q = s->bgr.at<cv::Vec3b>(y, x);
      q = cv::Vec3b(p[0], p[1], p[2]);
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
  std::uint32_t& at(int x, int y) { return px[static_cast<std::size_t>(y) * w + x]; }
};

Template Cut(const Screen& s, int x0, int y0, int w, int h) {
  Template t{w, h, {}};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) t.px.push_back(s.at(x0 + x, y0 + y));
  return t;
}

// Gives the middle pixel the colour of another pixel of the template that
// differs from it: the pattern (or shape) at the cut place no longer holds,
// and nowhere else on a real screen does it.
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

struct Case {
  std::string name;
  const Screen* screen;
  Template templ;
  int x1, y1, x2, y2;
  std::int32_t options;
  std::int32_t color;
  bool notFoundSet;  // a full-screen scan that finds nothing: counted in the medians
  BitmapRecord record{};
  std::int32_t fastResult = 0, literalResult = 0;
};

std::vector<std::unique_ptr<Screen>> g_screens;
std::vector<Case> g_cases;
std::map<std::string, double> g_seconds;  // benchmark name -> seconds per iteration

std::int32_t Run(const Case& c) {
  const ScreenImage image{nullptr, const_cast<std::uint8_t*>(c.screen->bits.data()), kW, kH, 32};
  return zadized::SearchCapture(image, c.record, c.x1, c.y1, c.x2, c.y2, c.options, c.color);
}

void BuildCases() {
  g_screens.push_back(LoadScreen("desktop1"));
  g_screens.push_back(LoadScreen("desktop2"));
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
  const Screen& d1 = *g_screens[0];
  const Screen& d2 = *g_screens[1];
  const Screen& uniform = *g_screens[2];
  const Screen& noise = *g_screens[3];
  const Screen& few = *g_screens[4];
  const Screen& stripes = *g_screens[5];

  const int all[4] = {0, 0, kW - 1, kH - 1};
  const auto add = [&](const std::string& name, const Screen& s, Template t, const int* r,
                       std::int32_t options, std::int32_t color, bool notFound) {
    g_cases.push_back(Case{name, &s, std::move(t), r[0], r[1], r[2], r[3], options, color, notFound});
  };
  // One colour with one pixel of another in the top row, which the literal
  // test reaches last: on a uniform area every position is walked to the end.
  Template mostlyOne{64, 64, std::vector<std::uint32_t>(64 * 64, 0xC0C0C0)};
  mostlyOne.at(63, 0) = 0x000080;

  add("d1 pattern 8x8 text", d1, Defect(Cut(d1, 330, 60, 8, 8)), all, 0, -1, true);
  add("d1 pattern 16x16 text", d1, Defect(Cut(d1, 100, 300, 16, 16)), all, 0, -1, true);
  add("d1 pattern 32x32 calc", d1, Defect(Cut(d1, 1160, 470, 32, 32)), all, 0, -1, true);
  add("d2 pattern 64x64 eyes", d2, Defect(Cut(d2, 230, 280, 64, 64)), all, 0, -1, true);
  add("d2 pattern 24x24 terminal", d2, Defect(Cut(d2, 70, 700, 24, 24)), all, 0, -1, true);
  add("d1 shape 24x24 clock", d1, Defect(Cut(d1, 1190, 110, 24, 24)), all, 0, 0xFFFFFF, true);
  add("d2 shape 48x48 logo", d2, Defect(Cut(d2, 90, 70, 48, 48)), all, 0, 0x000000, true);
  add("d2 tolerance 16x16 text", d2, Defect(Cut(d2, 620, 320, 16, 16)), all, 0, 0x10000000 | 20 << 16 | 60,
      true);
  add("d1 tolerance 32x32 eyes", d1, Defect(Cut(d1, 1420, 90, 32, 32)), all, 0, 0x13000000 | 255 << 16 | 765,
      true);
  add("uniform pattern 64x64 one colour", uniform, mostlyOne, all, 0, -1, true);
  add("uniform shape 64x64 one colour", uniform, mostlyOne, all, 0, 0xC0C0C0, true);
  add("noise pattern 16x16", noise, Defect(Cut(noise, 500, 500, 16, 16)), all, 0, -1, true);
  add("4-colour noise pattern 16x16", few, Defect(Cut(few, 500, 500, 16, 16)), all, 0, -1, true);
  add("4-colour noise shape 16x16", few, Defect(Cut(few, 700, 300, 16, 16)), all, 0, 0xFFFFFF, true);
  add("stripes pattern 16x16", stripes, Defect(Cut(stripes, 10, 10, 16, 16)), all, 0, -1, true);
  add("stripes pattern 64x64 by column", stripes, Defect(Cut(stripes, 10, 10, 64, 64)), all, 1 << 18, -1,
      true);
  add("d1 pattern 32x32 by column", d1, Defect(Cut(d1, 1160, 470, 32, 32)), all, 1 << 18 | 1 << 17, -1, true);

  // Found late: the template sits near the end of the scan order.
  add("d2 found late pattern 32x32", d2, Cut(d2, 1660, 840, 32, 32), all, 0, -1, false);
  add("d2 found late bottom-up 32x32", d2, Cut(d2, 95, 75, 32, 32), all, 1 << 16 | 1 << 17, -1, false);
  add("d1 found late shape 16x16", d1, Cut(d1, 1335, 760, 16, 16), all, 0, 0x000000, false);
  add("d1 found late tolerance 24x24", d1, Cut(d1, 1320, 740, 24, 24), all, 0, 0x10000000, false);
  add("d1 found late by column 16x16", d1, Cut(d1, 1700, 400, 16, 16), all, 1 << 18, -1, false);
  // A small rectangle, as scripts use to watch one spot.
  const int small[4] = {1150, 400, 1349, 599};
  add("d1 200x200 rectangle 16x16", d1, Defect(Cut(d1, 1200, 450, 16, 16)), small, 0, -1, false);

  for (std::size_t i = 0; i < g_cases.size(); ++i) {
    Case& c = g_cases[i];
    const std::string path = "/tmp/zadized-bench-" + std::to_string(i) + ".bmp";
    const std::vector<std::uint8_t> bytes = zadized::test::MakeBmp24(c.templ.w, c.templ.h, c.templ.px);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) std::exit(2);
    std::fclose(f);
    c.record = zadized::OpenBitmap(path.c_str());
    if (c.record.fileSize < 0) std::exit(2);
  }
}

void Fast(benchmark::State& state, Case* c) {
  zadized::SetReferenceScan(false);
  for (auto _ : state) {
    c->fastResult = Run(*c);
    benchmark::DoNotOptimize(c->fastResult);
  }
}

void Literal(benchmark::State& state, Case* c) {
  zadized::SetReferenceScan(true);
  for (auto _ : state) {
    c->literalResult = Run(*c);
    benchmark::DoNotOptimize(c->literalResult);
  }
  zadized::SetReferenceScan(false);
}

void Peer(benchmark::State& state, Case* c) {
  const cv::Mat area = c->screen->bgr(cv::Rect(c->x1, c->y1, c->x2 - c->x1 + 1, c->y2 - c->y1 + 1));
  cv::Mat t(c->templ.h, c->templ.w, CV_8UC3);
  for (int y = 0; y < c->templ.h; ++y) {
    for (int x = 0; x < c->templ.w; ++x) {
      const std::uint32_t v = c->templ.at(x, y);
      t.at<cv::Vec3b>(y, x) = cv::Vec3b(v & 0xFF, v >> 8 & 0xFF, v >> 16 & 0xFF);
    }
  }
  cv::Mat scores;
  for (auto _ : state) {
    cv::matchTemplate(area, t, scores, cv::TM_SQDIFF);
    double best = 0;
    cv::Point where;
    cv::minMaxLoc(scores, &best, nullptr, &where, nullptr);
    benchmark::DoNotOptimize(best);
    benchmark::DoNotOptimize(where);
  }
}

void Floor(benchmark::State& state) {
  const Screen& s = *g_screens[0];
  const auto* words = reinterpret_cast<const std::uint32_t*>(s.bits.data());
  const std::size_t n = s.bits.size() / 4;
  for (auto _ : state) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < n; ++i) sum += words[i];
    benchmark::DoNotOptimize(sum);
  }
}

class Collector : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& r : runs) {
      if (r.run_type == Run::RT_Iteration && r.iterations > 0) {
        // Options such as a minimum time are appended to the name after a '/'.
        std::string name = r.benchmark_name();
        const std::size_t option = name.find("/min_time:");
        if (option != std::string::npos) name.erase(option);
        g_seconds[name] = r.real_accumulated_time / static_cast<double>(r.iterations);
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

}  // namespace

int main(int argc, char** argv) {
  BuildCases();
  benchmark::RegisterBenchmark("floor/read 1920x1080", Floor)->Unit(benchmark::kMillisecond);
  for (auto& c : g_cases) {
    benchmark::RegisterBenchmark(("fast/" + c.name).c_str(), Fast, &c)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("opencv/" + c.name).c_str(), Peer, &c)->Unit(benchmark::kMillisecond);
    // The literal scan of the worst cases takes seconds; one pass is enough.
    benchmark::RegisterBenchmark(("literal/" + c.name).c_str(), Literal, &c)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(0.05);
  }
  benchmark::Initialize(&argc, argv);
  Collector reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  const double floor = g_seconds["floor/read 1920x1080"];
  std::printf(
      "\nOne run. Times per search in ms; x literal = literal / fast, x opencv = opencv / fast, "
      "x floor = fast / floor (floor %.3f ms: one read pass over the 1920x1080 capture).\n",
      floor * 1e3);
  std::printf("OpenCV %s, matchTemplate TM_SQDIFF with %d thread(s), on the same rectangle.\n", CV_VERSION,
              cv::getNumThreads());
  std::printf("%-36s %9s %10s %9s %9s %9s %8s %s\n", "case", "fast", "literal", "opencv", "x literal",
              "x opencv", "x floor", "result");
  std::vector<double> speedups, floors;
  bool agree = true, beatPeer = true;
  for (const auto& c : g_cases) {
    const double f = g_seconds["fast/" + c.name], l = g_seconds["literal/" + c.name],
                 o = g_seconds["opencv/" + c.name];
    if (f <= 0 || l <= 0 || o <= 0) continue;  // filtered out of this run
    const bool same = c.fastResult == c.literalResult;
    agree = agree && same;
    beatPeer = beatPeer && f < o;
    char result[64];
    std::snprintf(result, sizeof result, "%s%d%s", same ? "" : "MISMATCH ", c.fastResult,
                  c.notFoundSet && c.fastResult != -1 ? " (expected -1)" : "");
    std::printf("%-36s %9.3f %10.2f %9.3f %9.1f %9.1f %8.2f %s\n", c.name.c_str(), f * 1e3, l * 1e3, o * 1e3,
                l / f, o / f, f / floor, result);
    if (c.notFoundSet && c.fastResult == -1) {
      speedups.push_back(l / f);
      floors.push_back(f / floor);
    }
  }
  std::printf(
      "Full-screen not-found scans (%zu): median x literal %.1f, median x floor %.2f, worst x floor %.2f\n",
      speedups.size(), Median(speedups), Median(floors),
      floors.empty() ? 0.0 : *std::max_element(floors.begin(), floors.end()));
  std::printf("Fast faster than OpenCV on every case: %s\n", beatPeer ? "yes" : "no");
  if (!agree) {
    std::printf("The fast and the literal scan disagree on a case above.\n");
    return 1;
  }
  return 0;
}
