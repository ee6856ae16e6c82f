// PNG templates through the real DLL: the same template saved as BMP and as
// PNG in several colour types, depths and with interlacing loads to the same
// record and is found at the same place, in every mode, on a painted screen.
// The PNG files are written here with libspng's encoder, from the pixels the
// BMP file holds; 16-bit files get random low bytes, which must not matter.
#include <cstdlib>

#include "common/bmp_bytes.h"
#include "harness.h"
#include "image/records.h"
#include "paint_screen.h"
#include "png_encode.h"
#include "reference/literal_scan.cpp"  // the Windows programs are built from one source each

using zadized::BitmapRecord;
using zadized::test::MakeBmp24;

namespace {

constexpr std::uint32_t kRed = 0xFF0000, kWhite = 0xFFFFFF, kGreen = 0x00C000, kBlack = 0x000000;

// Three templates: colours in a pattern, greys, and a plus sign for shape mode.
const std::vector<std::uint32_t> kColors = {0x112233, 0x112233, 0x445566, 0x778899, 0x778899,  //
                                            0x112233, 0x445566, 0x445566, 0x778899, 0x112233,  //
                                            0x445566, 0x445566, 0x112233, 0x112233, 0x112233,  //
                                            0x778899, 0x112233, 0x112233, 0x445566, 0x778899};
const std::vector<std::uint32_t> kGrays = {0x202020, 0x909090, 0x909090, 0x202020,  //
                                           0xE0E0E0, 0x202020, 0x909090, 0x909090,  //
                                           0x909090, 0xE0E0E0, 0x202020, 0xE0E0E0};
std::vector<std::uint32_t> Plus(std::uint32_t on, std::uint32_t off) {
  std::vector<std::uint32_t> g(25, off);
  for (int i = 0; i < 5; ++i) g[2 * 5 + i] = g[i * 5 + 2] = on;
  return g;
}
std::vector<std::uint32_t> Recolor(const std::vector<std::uint32_t>& px) {
  std::vector<std::uint32_t> out;
  for (std::uint32_t v : px) out.push_back(v ^ 0x5A3C0F);
  return out;
}

harness::Picture& ThePicture() {
  static harness::Picture p = [] {
    harness::Picture q(
        [](int x, int y) { return 0x100800u * static_cast<std::uint32_t>((x / 3 + y / 5) % 7); });
    q.Put(300, 200, 5, Recolor(kColors));  // the pattern, in other colours
    q.Put(120, 60, 5, kColors);            // the pattern as saved
    q.Put(500, 100, 4, kGrays);
    q.Put(90, 400, 4, Recolor(kGrays));
    q.Put(400, 150, 5, Plus(kGreen, kBlack));
    return q;
  }();
  return p;
}

struct Template {
  std::string name;
  int width;
  std::vector<std::uint32_t> px;
};

// One PNG rendering of a template.
struct Form {
  const char* what;
  int colorType, depth, interlace;
};

std::vector<std::uint8_t> EncodePng(const Template& t, const Form& f) {
  const int w = t.width, h = static_cast<int>(t.px.size()) / t.width;
  std::vector<std::uint32_t> palette;
  std::vector<std::uint8_t> raw;
  for (std::uint32_t v : t.px) {
    const std::uint8_t rgb[3] = {static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 8),
                                 static_cast<std::uint8_t>(v)};
    const int channels = f.colorType == 0 ? 1 : f.colorType == 2 ? 3 : f.colorType == 6 ? 4 : 0;
    if (f.colorType == 3) {
      std::size_t i = 0;
      while (i < palette.size() && palette[i] != v) ++i;
      if (i == palette.size()) palette.push_back(v);
      raw.push_back(static_cast<std::uint8_t>(i));
      continue;
    }
    // Opaque: an opaque PNG file must find what its BMP twin finds. The low
    // byte of a 16-bit colour sample is anything.
    for (int c = 0; c < channels; ++c) {
      raw.push_back(c < 3 ? rgb[c] : 0xFF);
      if (f.depth == 16) raw.push_back(c < 3 ? static_cast<std::uint8_t>(std::rand()) : 0xFF);
    }
  }
  spng_ctx* ctx = zadized::test::NewPngEncoder(spng_ihdr{
      static_cast<std::uint32_t>(w), static_cast<std::uint32_t>(h), static_cast<std::uint8_t>(f.depth),
      static_cast<std::uint8_t>(f.colorType), 0, 0, static_cast<std::uint8_t>(f.interlace)});
  if (f.colorType == 3) {
    spng_plte plte{};
    plte.n_entries = static_cast<std::uint32_t>(palette.size());
    for (std::size_t i = 0; i < palette.size(); ++i) {
      plte.entries[i].red = static_cast<std::uint8_t>(palette[i] >> 16);
      plte.entries[i].green = static_cast<std::uint8_t>(palette[i] >> 8);
      plte.entries[i].blue = static_cast<std::uint8_t>(palette[i]);
    }
    spng_set_plte(ctx, &plte);
  }
  spng_set_gama(ctx, 1.0);  // a gamma the loader must not apply
  const std::vector<std::uint8_t> out = zadized::test::FinishPng(ctx, raw);
  CHECK(!out.empty());
  return out;
}

BitmapRecord Open(const std::string& path) {
  BitmapRecord r;
  std::memset(&r, 0xA5, sizeof r);
  CHECK_EQ(harness::CallAddress(6, {harness::Addr(&r), harness::Addr(path.c_str())}), harness::Addr(&r));
  return r;
}

// Every placement lies inside this rectangle; searching it alone keeps the
// emulated captures small.
constexpr std::int32_t kRight = 639, kBottom = 479;

std::int32_t Search(const std::string& file, std::int32_t options, std::int32_t color) {
  return harness::Search(file, 0, 0, kRight, kBottom, options, color);
}

TEST_CASE(PngTemplatesAreFoundWhereTheirBmpTwinsAreInEveryMode) {
  const harness::Picture& p = ThePicture();
  CHECK(harness::ShowOnScreen(p.width, p.height, p.px));
  const Template templates[] = {
      {"colours", 5, kColors}, {"greys", 4, kGrays}, {"plus", 5, Plus(kRed, kWhite)}};
  const Form forms[] = {{"truecolour", 2, 8, 0},
                        {"truecolour 16-bit", 2, 16, 0},
                        {"palette", 3, 8, 0},
                        {"RGBA", 6, 8, 0},
                        {"RGBA 16-bit", 6, 16, 0},
                        {"interlaced", 2, 8, 1},
                        {"interlaced palette", 3, 8, 1},
                        {"greyscale", 0, 8, 0},
                        {"greyscale 16-bit", 0, 16, 0},
                        {"interlaced greyscale 16-bit", 0, 16, 1}};
  // Pattern, tolerance at the exact top-left and bottom-right corners, shape
  // in red, in scan orders that meet different copies first, and a skip.
  const std::int32_t colors[] = {-1, 0x10000000, 0x13000000, static_cast<std::int32_t>(kRed)};
  const std::int32_t orders[] = {0, (7 << 16) | 1};
  zadized::reference::Screen screen;
  screen.width = p.width;
  screen.height = p.height;
  screen.topDown = p.px;
  int compared = 0, found = 0;
  for (const Template& t : templates) {
    const bool gray = t.name == "greys";
    const std::vector<std::uint8_t> bmpBytes =
        MakeBmp24(t.width, static_cast<int>(t.px.size()) / t.width, t.px);
    const std::string bmp = harness::Scratch(t.name + ".bmp");
    CHECK(harness::WriteBytes(bmp, bmpBytes));
    const BitmapRecord b = Open(bmp);
    // What the BMP file gives, and the reference scan agrees with, is what
    // every PNG form must give.
    std::vector<std::int32_t> expected;
    for (const std::int32_t color : colors) {
      for (const std::int32_t order : orders) {
        expected.push_back(Search(bmp, order, color));
        CHECK_EQ(expected.back(),
                 zadized::reference::LiteralSearch(bmpBytes, screen, 0, 0, kRight, kBottom, order, color));
      }
    }
    for (const Form& f : forms) {
      if (f.colorType == 0 && !gray) continue;  // greyscale only for the grey template
      const std::string png = harness::Scratch(t.name + "-" + std::to_string(&f - forms) + ".png");
      CHECK(harness::WriteBytes(png, EncodePng(t, f)));
      const BitmapRecord r = Open(png);
      const std::string what = t.name + " as " + f.what;
      if (r.fileSize != b.fileSize ||
          std::memcmp(r.fileData, b.fileData, static_cast<std::size_t>(b.fileSize)) != 0 ||
          r.topLeftColor != b.topLeftColor || r.bottomRightColor != b.bottomRightColor) {
        harness::Fail(__FILE__, __LINE__, what + ": the record differs from the BMP file's");
        continue;
      }
      std::size_t k = 0;
      for (const std::int32_t color : colors) {
        for (const std::int32_t order : orders) {
          const std::int32_t got = Search(png, order, color);
          if (got != expected[k]) {
            harness::Fail(__FILE__, __LINE__,
                          what + ", options " + std::to_string(order) + ", colour " + std::to_string(color) +
                              ": PNG " + std::to_string(got) + ", BMP " + std::to_string(expected[k]));
          }
          ++k;
          ++compared;
          if (got >= 0) ++found;
        }
      }
    }
  }
  std::printf("  %d searches compared, %d of them found the template\n", compared, found);
  CHECK(found > compared / 3);
}

}  // namespace

HARNESS_MAIN
