// PNG templates. Two independent sources of truth: ImageMagick's decoding of
// every PngSuite image, and PNG files this test encodes itself from random
// pictures, whose BMP form is known before any decoder runs. Every hostile
// variant of those files must be refused with nothing left allocated.
#include "image/png_template.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bmp_builder.h"
#include "image/bitmap_cache.h"
#include "platform/platform.h"
#include "platform/platform_portable.h"
#include "png_builder.h"

namespace zadized {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::Assemble;
using test::Chunk;
using test::Deflate;
using test::Ihdr;
using test::PutBe32;

struct Cache {
  std::unique_ptr<BitmapCache> c = std::make_unique<BitmapCache>();
  ~Cache() { ReleaseBitmapCache(*c); }
  BitmapRecord Open(const std::string& path) { return OpenBitmap(*c, path.c_str()); }
  Template OpenWithOpacity(const std::string& path) { return OpenTemplate(*c, path.c_str()); }
};

// The loader's opacity bytes turned top-down, as pictures are written here;
// empty when it found every pixel opaque.
std::vector<bool> TopDownOpacity(const Template& t) {
  std::vector<bool> out;
  if (t.opacity == nullptr) return out;
  const std::int32_t w = t.record.width, h = t.record.height;
  for (std::int32_t y = 0; y < h; ++y)
    for (std::int32_t x = 0; x < w; ++x)
      out.push_back(t.opacity[static_cast<std::size_t>(h - 1 - y) * w + x] != 0);
  return out;
}

Bytes Contents(const BitmapRecord& r) {
  return r.fileSize > 0 ? Bytes(r.fileData, r.fileData + r.fileSize) : Bytes();
}

// A random picture stored as one PNG colour type and depth, with the top-down
// 0x00RRGGBB pixels its BMP form must have.
struct Sample {
  std::string what;
  int w = 0, h = 0;
  std::vector<std::uint32_t> expected;
  std::vector<bool> opaque;   // top-down: alpha at its maximum; empty when all are
  std::vector<Chunk> before;  // IHDR and the chunks ahead of the image data
  Bytes raw;                  // filter byte 0 and the samples, row by row
  std::vector<Chunk> after;   // between the image data and IEND
};

Sample RandomSample(std::mt19937& rng) {
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  static const int kTypes[][2] = {{0, 8}, {0, 16}, {2, 8}, {2, 16}, {3, 8}, {4, 8}, {4, 16}, {6, 8}, {6, 16}};
  const int kind = pick(9), type = kTypes[kind][0], depth = kTypes[kind][1];
  Sample s;
  s.w = 1 + pick(19);
  s.h = 1 + pick(13);
  s.what = "type " + std::to_string(type) + ", depth " + std::to_string(depth) + ", " + std::to_string(s.w) +
           " x " + std::to_string(s.h);
  s.before.push_back({"IHDR", Ihdr(s.w, s.h, depth, type)});
  const int channels = type == 0 ? 1 : type == 2 ? 3 : type == 3 ? 1 : type == 4 ? 2 : 4;
  Bytes palette;
  // Palette entries 0-6 see-through, entry 7 opaque by its alpha, the rest
  // by having none.
  if (type == 3) {
    for (int i = 0; i < 3 * 40; ++i) palette.push_back(static_cast<std::uint8_t>(rng()));
    s.before.push_back({"PLTE", palette});
    Bytes alphas(7, 0x10);
    alphas.push_back(0xFF);
    s.before.push_back({"tRNS", alphas});
  }
  // Chunks that must change nothing: gamma, chromaticities, sRGB, a colour
  // profile, a background, transparency, text; and an animation whose frames
  // come after the default image.
  s.before.push_back({"gAMA", {0, 0, 0x27, 0x10}});  // 0.01: any correction would show
  s.before.push_back({"cHRM", Bytes(32, 0x01)});
  s.before.push_back({"sRGB", {static_cast<std::uint8_t>(pick(4))}});
  Bytes profile = {'p', 0, 0};
  const Bytes packed = Deflate(Bytes(200, 0x42));
  profile.insert(profile.end(), packed.begin(), packed.end());
  if (pick(2) == 0) s.before.push_back({"iCCP", profile});
  if (type != 3) s.before.push_back({"bKGD", Bytes(type == 0 || type == 4 ? 2 : 6, 0xFF)});
  // The transparent grey is 0, or for 16-bit samples 0x00xx, whose high
  // byte alone would match pixels that are opaque. A truecolour picture names
  // the colour of one of its pixels, chosen below, now and then.
  const std::uint8_t lowGrey = static_cast<std::uint8_t>(depth == 16 ? 1 + pick(255) : 0);
  if (type == 0) s.before.push_back({"tRNS", {0, lowGrey}});
  const bool keyed = type == 2 && pick(2) == 0;
  const std::size_t keyPixel = static_cast<std::size_t>(pick(s.w * s.h));
  Bytes key;
  const bool animated = pick(2) == 0;
  if (animated) {
    Bytes actl;
    PutBe32(actl, 2);
    PutBe32(actl, 0);
    s.before.push_back({"acTL", actl});
    Bytes fctl;
    PutBe32(fctl, 0);
    PutBe32(fctl, static_cast<std::uint32_t>(s.w));
    PutBe32(fctl, static_cast<std::uint32_t>(s.h));
    fctl.resize(26, 0);
    s.before.push_back({"fcTL", fctl});
  }
  for (int y = 0; y < s.h; ++y) {
    s.raw.push_back(0);
    for (int x = 0; x < s.w; ++x) {
      std::uint8_t high[4], low[4] = {0xFF, 0xFF, 0xFF, 0xFF};
      // Some grey pixels at the transparent value, some alphas at or just
      // below full (16-bit 0xFFxx too).
      const bool clearGrey = type == 0 && pick(4) == 0;
      const bool alphaNearFull = (type == 4 || type == 6) && pick(2) == 0;
      for (int c = 0; c < channels; ++c) {
        high[c] = static_cast<std::uint8_t>(rng());
        if (type == 3) high[c] = static_cast<std::uint8_t>(high[c] % 40);
        if (clearGrey) high[c] = 0;
        if (alphaNearFull && c == channels - 1) high[c] = 0xFF;
        s.raw.push_back(high[c]);
        if (depth == 16) {  // the low byte, dropped from the colour
          low[c] = clearGrey                       ? lowGrey
                   : alphaNearFull && pick(2) == 0 ? 0xFF
                                                   : static_cast<std::uint8_t>(rng());
          s.raw.push_back(low[c]);
        }
      }
      if (keyed && static_cast<std::size_t>(y) * s.w + x == keyPixel) {
        const std::size_t at = s.raw.size() - static_cast<std::size_t>(channels * depth / 8);
        for (int c = 0; c < 3; ++c) {
          key.push_back(depth == 16 ? s.raw[at + 2u * c] : 0);
          key.push_back(depth == 16 ? s.raw[at + 2u * c + 1] : s.raw[at + c]);
        }
      }
      bool opaque = true;
      if (type == 3) opaque = high[0] >= 7;
      if (type == 0) opaque = !(high[0] == 0 && (depth != 16 || low[0] == lowGrey));
      if (type == 4 || type == 6)
        opaque = high[channels - 1] == 0xFF && (depth != 16 || low[channels - 1] == 0xFF);
      s.opaque.push_back(opaque);
      std::uint32_t v = 0;
      if (type == 3) {
        const std::uint8_t* e = &palette[3u * high[0]];
        v = static_cast<std::uint32_t>(e[0] << 16 | e[1] << 8 | e[2]);
      } else if (channels <= 2) {
        v = high[0] * 0x010101u;
      } else {
        v = static_cast<std::uint32_t>(high[0] << 16 | high[1] << 8 | high[2]);
      }
      s.expected.push_back(v);
    }
  }
  // A truecolour key matches every pixel of exactly that colour, the one it
  // was taken from among them.
  if (keyed) {
    s.before.push_back({"tRNS", key});
    const std::size_t pixelBytes = static_cast<std::size_t>(3 * depth / 8);
    for (std::size_t k = 0; k < s.opaque.size(); ++k) {
      const std::size_t at = (k / s.w) * (1 + s.w * pixelBytes) + 1 + (k % s.w) * pixelBytes;
      bool same = true;
      for (int c = 0; c < 3; ++c) {
        const std::uint32_t sample =
            depth == 16 ? s.raw[at + 2u * c] << 8 | s.raw[at + 2u * c + 1] : s.raw[at + c];
        same = same && sample == static_cast<std::uint32_t>(key[2u * c] << 8 | key[2u * c + 1]);
      }
      s.opaque[k] = !same;
    }
    s.what += ", tRNS colour";
  }
  if (std::all_of(s.opaque.begin(), s.opaque.end(), [](bool o) { return o; })) s.opaque.clear();
  if (animated) {
    Bytes fdat;
    PutBe32(fdat, 1);
    const Bytes other = Deflate(Bytes(s.raw.size(), 0x00));
    fdat.insert(fdat.end(), other.begin(), other.end());
    s.after.push_back({"fdAT", fdat});
  }
  s.after.push_back({"tEXt", {'k', 0, 'v'}});
  return s;
}

// The file, with its image data compressed once and cut into `pieces` chunks.
Bytes Encode(const Sample& s, int pieces, Bytes* idat = nullptr) {
  const Bytes z = Deflate(s.raw);
  if (idat != nullptr) *idat = z;
  std::vector<Chunk> chunks = s.before;
  for (int i = 0; i < pieces; ++i) {
    const std::size_t from = z.size() * i / pieces, to = z.size() * (i + 1) / pieces;
    chunks.push_back({"IDAT", Bytes(z.begin() + static_cast<std::ptrdiff_t>(from),
                                    z.begin() + static_cast<std::ptrdiff_t>(to))});
  }
  chunks.insert(chunks.end(), s.after.begin(), s.after.end());
  chunks.push_back({"IEND", {}});
  return Assemble(chunks);
}

// ---- Tests ----

TEST(PngTemplate, RandomPicturesLoadAsTheirBmpFormAndEveryDamagedCopyIsRefused) {
  std::mt19937 rng(20240611);
  const std::int64_t blocksAtStart = platform::Live().blocks;
  int damaged = 0;
  for (int round = 0; round < 60; ++round) {
    const Sample s = RandomSample(rng);
    SCOPED_TRACE(s.what);
    Bytes z;
    const Bytes png = Encode(s, 1 + round % 3, &z);
    const Bytes bmp = test::MakeBmp24(s.w, s.h, s.expected);
    {
      Cache cache;
      const Template t = cache.OpenWithOpacity(test::WriteFile("good.png", png));
      const BitmapRecord& r = t.record;
      const BitmapRecord b = cache.Open(test::WriteFile("good.bmp", bmp));
      ASSERT_EQ(Contents(r), bmp);
      EXPECT_EQ(TopDownOpacity(t), s.opaque);
      EXPECT_EQ(r.pixels - r.fileData, 54);
      EXPECT_EQ(std::vector<std::int32_t>({r.fileSize, r.width, r.height, r.bitCount}),
                std::vector<std::int32_t>({b.fileSize, b.width, b.height, b.bitCount}));
      EXPECT_EQ(
          std::vector<ColorValue>({r.topLeftColor, r.topRightColor, r.bottomLeftColor, r.bottomRightColor}),
          std::vector<ColorValue>({b.topLeftColor, b.topRightColor, b.bottomLeftColor, b.bottomRightColor}));
    }
    // Damage: one flipped bit anywhere past the signature (a CRC no longer
    // matches, or a length or type goes wrong), a cut anywhere, a wrong
    // checksum over the image data with every CRC right.
    std::vector<Bytes> bad;
    Bytes flipped = png;
    flipped[8 + rng() % (png.size() - 8)] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
    bad.push_back(flipped);
    bad.emplace_back(png.begin(), png.begin() + static_cast<std::ptrdiff_t>(8 + rng() % (png.size() - 8)));
    bad.emplace_back(png.begin(), png.end() - 12);  // no IEND
    Bytes zBad = z;
    zBad.back() ^= 0x01;
    std::vector<Chunk> chunks = s.before;
    // The checksum alone in the last IDAT chunk, where a decoder that stops
    // at the last row never looks.
    chunks.push_back({"IDAT", Bytes(zBad.begin(), zBad.end() - 4)});
    chunks.push_back({"IDAT", Bytes(zBad.end() - 4, zBad.end())});
    chunks.push_back({"IEND", {}});
    bad.push_back(Assemble(chunks));
    for (const Bytes& b : bad) {
      Cache cache;
      EXPECT_EQ(cache.Open(test::WriteFile("bad.png", b)).fileSize, -1)
          << "damaged copy " << damaged << ", " << b.size() << " of " << png.size() << " bytes";
      EXPECT_EQ(cache.c->count, 0);
      ++damaged;
    }
  }
  EXPECT_EQ(platform::Live().blocks, blocksAtStart);
}

TEST(PngTemplate, PicturesPastTheLimitAndInflatingChunksAreRefusedBeforeTheyCost) {
  std::mt19937 rng(7);
  const Sample s = RandomSample(rng);
  const Bytes data = Deflate(Bytes(1000, 0));
  std::int32_t reason = 0;
  std::uint32_t size = 1;
  // 16384 x 5462 x 3 bytes passes 256 MiB; the file is a few hundred bytes.
  const Bytes huge = Assemble({{"IHDR", Ihdr(16384, 5462, 8, 2)}, {"IDAT", data}, {"IEND", {}}});
  EXPECT_EQ(DecodePngAsBmp(huge.data(), static_cast<std::uint32_t>(huge.size()), &size, &reason), nullptr);
  EXPECT_EQ(reason, kPngTooLarge);
  EXPECT_EQ(size, 0u);
  // Image data that goes on inflating past the picture's rows.
  Bytes longer = s.raw;
  longer.resize(s.raw.size() + (4u << 20), 0);
  std::vector<Chunk> overlong = s.before;
  overlong.push_back({"IDAT", Deflate(longer)});
  overlong.push_back({"IEND", {}});
  const Bytes longFile = Assemble(overlong);
  EXPECT_EQ(DecodePngAsBmp(longFile.data(), static_cast<std::uint32_t>(longFile.size()), &size, &reason),
            nullptr);
  // A text chunk that inflates to 16 MiB.
  Bytes text = {'k', 0, 0};
  const Bytes bomb = Deflate(Bytes(16u << 20, 'a'));
  text.insert(text.end(), bomb.begin(), bomb.end());
  std::vector<Chunk> chunks = s.before;
  chunks.push_back({"zTXt", text});
  chunks.push_back({"IDAT", Deflate(s.raw)});
  chunks.push_back({"IEND", {}});
  const Bytes withBomb = Assemble(chunks);
  const std::int64_t blocks = platform::Live().blocks;
  EXPECT_EQ(DecodePngAsBmp(withBomb.data(), static_cast<std::uint32_t>(withBomb.size()), &size, &reason),
            nullptr);
  EXPECT_GT(reason, 0);
  EXPECT_EQ(platform::Live().blocks, blocks);
}

// The n-th allocation of a load fails, for every n the load reaches: the
// decoder's own blocks come from the same allocator as the file and the BMP
// form, so each failure must end in a refusal with every block given back.
int g_failAt = 0, g_allocations = 0;

TEST(PngTemplate, EveryFailedAllocationIsARefusalThatLeavesNothingBehind) {
  std::mt19937 rng(99);
  // An opaque picture, and one whose alpha takes the decoder through a row
  // of red, green, blue and alpha.
  Sample s = RandomSample(rng);
  while (!s.opaque.empty()) s = RandomSample(rng);
  Sample clear = RandomSample(rng);
  while (clear.opaque.empty()) clear = RandomSample(rng);
  for (const Sample& sample : {s, clear}) {
    SCOPED_TRACE(sample.what);
    const std::string path = test::WriteFile("alloc.png", Encode(sample, 2));
    platform::Ops ops = platform::Native();
    ops.allocZeroed = [](std::uint32_t bytes) -> void* {
      return ++g_allocations == g_failAt ? nullptr : platform::Native().allocZeroed(bytes);
    };
    for (g_failAt = 1;; ++g_failAt) {
      g_allocations = 0;
      const std::int64_t blocks = platform::Live().blocks;
      Cache cache;
      platform::Override(&ops);
      const BitmapRecord r = cache.Open(path);
      platform::Override(nullptr);
      if (g_allocations < g_failAt) {
        EXPECT_EQ(Contents(r), test::MakeBmp24(sample.w, sample.h, sample.expected));
        EXPECT_GT(g_failAt, 3) << "the file, the decoder and the BMP form each allocate";
        break;
      }
      EXPECT_EQ(r.fileSize, -1) << "allocation " << g_failAt;
      EXPECT_EQ(platform::Live().blocks, blocks) << "allocation " << g_failAt;
    }
  }
}

// ---- The PngSuite against ImageMagick ----

std::vector<std::string> PngFiles(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      const std::string n = e->d_name;
      if (n.size() > 4 && n.compare(n.size() - 4, 4, ".png") == 0) names.push_back(dir + "/" + n);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// ImageMagick's pixels for `path` as a 16-bit PPM, taken as stored (a picture
// whose gAMA chunk says linear is declared sRGB, so no curve is applied),
// alpha switched off (not blended), reduced to the high byte of each sample: the BMP form a
// converter that keeps samples as stored would write.
bool ConvertedBmp(const std::string& path, Bytes& bmp) {
  const std::string command =
      "convert '" + path + "' -set colorspace sRGB -alpha off -depth 16 ppm:- 2>/dev/null";
  std::FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return false;
  int w = 0, h = 0, max = 0;
  const bool header = std::fscanf(p, "P6 %d %d %d", &w, &h, &max) == 3 && std::fgetc(p) != EOF;
  std::vector<std::uint32_t> px;
  std::uint8_t sample[6];
  while (header && max == 65535 && px.size() < static_cast<std::size_t>(w) * h &&
         std::fread(sample, 1, 6, p) == 6)
    px.push_back(static_cast<std::uint32_t>(sample[0] << 16 | sample[2] << 8 | sample[4]));
  const bool ok = pclose(p) == 0 && header && w > 0 && px.size() == static_cast<std::size_t>(w) * h;
  if (ok) bmp = test::MakeBmp24(w, h, px);
  return ok;
}

// ImageMagick's alpha for `path`, from the alpha channel or the tRNS chunk,
// as whether each pixel (top-down) is at full alpha; empty when all are.
bool ConvertedOpacity(const std::string& path, std::vector<bool>& opaque) {
  const std::string command =
      "convert '" + path + "' -alpha extract -depth 16 -endian MSB gray:- 2>/dev/null";
  std::FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return false;
  opaque.clear();
  std::uint8_t sample[2];
  while (std::fread(sample, 1, 2, p) == 2) opaque.push_back((sample[0] << 8 | sample[1]) == 0xFFFF);
  if (std::all_of(opaque.begin(), opaque.end(), [](bool o) { return o; })) opaque.clear();
  return pclose(p) == 0;
}

TEST(PngSuite, EveryImageLoadsAsImageMagicksPixelsAndHostileFilesAreSurvived) {
  const std::string dir = std::string(ZADIZED_TEST_DATA) + "/pngsuite";
  const std::vector<std::string> images = PngFiles(dir);
  ASSERT_GE(images.size(), 60u) << "the PngSuite is missing from " << dir;
  ASSERT_EQ(std::system("convert -version >/dev/null 2>&1"), 0)
      << "ImageMagick's convert is missing (tools/setup.sh)";
  Cache cache;
  int withTransparency = 0;
  for (const std::string& path : images) {
    SCOPED_TRACE(path);
    Bytes bmp;
    ASSERT_TRUE(ConvertedBmp(path, bmp));
    std::vector<bool> opaque;
    ASSERT_TRUE(ConvertedOpacity(path, opaque));
    const Template t = cache.OpenWithOpacity(path);
    EXPECT_EQ(TopDownOpacity(t), opaque);
    withTransparency += opaque.empty() ? 0 : 1;
    const BitmapRecord png = t.record;
    const BitmapRecord converted = cache.Open(test::WriteFile(path.substr(dir.size() + 1) + ".bmp", bmp));
    ASSERT_GT(png.fileSize, 0);
    EXPECT_EQ(std::vector<std::int64_t>({png.fileSize, png.width, png.height, png.bitCount, png.topLeftColor,
                                         png.topRightColor, png.bottomLeftColor, png.bottomRightColor}),
              std::vector<std::int64_t>({converted.fileSize, converted.width, converted.height,
                                         converted.bitCount, converted.topLeftColor, converted.topRightColor,
                                         converted.bottomLeftColor, converted.bottomRightColor}));
    EXPECT_EQ(Contents(png), bmp);
  }
  int refused = 0, loaded = 0;
  for (const char* folder : {"/crashers", "/badpal"}) {
    for (const std::string& path : PngFiles(dir + folder)) {
      const std::int64_t blocks = platform::Live().blocks;
      std::uint32_t size = 0;
      Bytes file;
      if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        for (int c; (c = std::fgetc(f)) != EOF;) file.push_back(static_cast<std::uint8_t>(c));
        std::fclose(f);
      }
      // With and without the alpha, which takes the decoder another way.
      const std::uint8_t* opacity = nullptr;
      std::uint8_t* bmp = DecodePngAsBmp(file.data(), static_cast<std::uint32_t>(file.size()), &size);
      std::uint32_t sizeWithAlpha = 0;
      std::uint8_t* withAlpha = DecodePngAsBmp(file.data(), static_cast<std::uint32_t>(file.size()),
                                               &sizeWithAlpha, nullptr, &opacity);
      EXPECT_EQ(bmp != nullptr, withAlpha != nullptr) << path;
      if (bmp != nullptr && withAlpha != nullptr) {
        EXPECT_TRUE(IsLoadableBmp(bmp, size)) << path;
        EXPECT_EQ(Bytes(bmp, bmp + size), Bytes(withAlpha, withAlpha + sizeWithAlpha)) << path;
      }
      if (bmp != nullptr) platform::Native().freeBlock(bmp);
      if (withAlpha != nullptr) platform::Native().freeBlock(withAlpha);
      ++(bmp != nullptr ? loaded : refused);
      EXPECT_EQ(platform::Live().blocks, blocks) << path;
    }
  }
  std::printf(
      "PngSuite: %zu images as ImageMagick decodes them, %d with transparent pixels; hostile files: %d "
      "refused, "
      "%d loaded\n",
      images.size(), withTransparency, refused, loaded);
  EXPECT_GT(withTransparency, 30);
}

}  // namespace
}  // namespace zadized
