#include "find/find_core.h"

#include <spng.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "image/pixel.h"
#include "image/png_template.h"
#include "image/screenshot.h"
#include "platform/platform.h"
#include "search/color_map.h"

namespace zadized::find {

namespace {

std::uint32_t Get16(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at] | (b[at + 1] << 8));
}
std::uint32_t Get32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return Get16(b, at) | (Get16(b, at + 2) << 16);
}
void Put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  Put16(b, at, v);
  Put16(b, at + 2, v >> 16);
}

bool ReadWhole(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  std::uint8_t chunk[65536];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
    bytes.insert(bytes.end(), chunk, chunk + n);
    if (bytes.size() > 0x7FFFFFFFu) {
      std::fclose(f);
      error = path + " is larger than 2 GB";
      return false;
    }
  }
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) {
    error = "cannot read " + path;
    return false;
  }
  return true;
}

std::string Point(std::int32_t x, std::int32_t y) {
  return "(" + std::to_string(x) + ", " + std::to_string(y) + ")";
}

const char* CornerName(std::int32_t corner) {
  static const char* const names[4] = {"top-left", "top-right", "bottom-left", "bottom-right"};
  return names[corner & 3];
}

}  // namespace

PrivateCache::PrivateCache() : cache_(new BitmapCache{}) {}

PrivateCache::~PrivateCache() {
  ReleaseBitmapCache(*cache_);
  delete cache_;
}

BitmapRecord PrivateCache::Open(const std::string& path) { return OpenBitmap(*cache_, path.c_str()); }
Template PrivateCache::OpenWithOpacity(const std::string& path) {
  return OpenTemplate(*cache_, path.c_str());
}

std::string Hex6(ColorValue v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%06X", static_cast<unsigned>(v));
  return text;
}

namespace {

// What the loader refuses as compressed, named as the user's program names it.
std::string CompressedBmpText(const std::vector<std::uint8_t>& b) {
  const std::uint32_t compression = BmpCompression(b.data(), static_cast<std::uint32_t>(b.size()));
  if (!IsCompressedBmp(compression)) return "";
  static const char* const names[6] = {"", "RLE8", "RLE4", "", "JPEG", "PNG"};
  return std::string("compressed BMP (") + names[compression] + "): save it uncompressed";
}

std::string PngRefusal(std::int32_t reason) {
  if (reason == kPngTooLarge) return "the picture is too large (its BMP form would pass 256 MiB)";
  if (reason == kPngNoMemory) return "not enough memory for the picture";
  return std::string("not a PNG file the library reads (") + spng_strerror(reason) + ")";
}

}  // namespace

namespace {

// Keeps a copy of a picture from the library's screenshot loader, which it
// gives back, in the tool's own storage (outlines are drawn on it).
void Adopt(const ScreenImage& picture, Screenshot& out) {
  out.storage.assign(picture.pixels,
                     picture.pixels + static_cast<std::size_t>(picture.width) * picture.height * 4);
  ReleaseScreenshot(picture);
  out.image = ScreenImage{nullptr, out.storage.data(), picture.width, picture.height, 32};
}

}  // namespace

std::string LoadScreenshot(const std::string& path, Screenshot& out) {
  ScreenImage picture{};
  if (zadized::LoadScreenshot(path.c_str(), &picture) == ScreenshotFailure::kNone) {
    Adopt(picture, out);
    return "";
  }
  // The loader's refusals are the template loader's, and so are the reasons.
  PrivateCache cache;
  if (cache.Open(path).fileSize == -1) return DescribeTemplateFailure(path);
  return path +
         ": the picture is too large to hold as a screen (over 256 MiB at 32 bits a pixel), or memory is "
         "short";
}

std::string WriteBmp24(const std::string& path, const Screenshot& shot) {
  const std::int32_t w = shot.image.width, h = shot.image.height;
  const std::size_t stride = (static_cast<std::size_t>(w) * 3 + 3) / 4 * 4;
  std::vector<std::uint8_t> b(54 + stride * h, 0);
  b[0] = 'B';
  b[1] = 'M';
  Put32(b, 2, static_cast<std::uint32_t>(b.size()));
  Put32(b, 10, 54);
  Put32(b, 14, 40);
  Put32(b, 18, static_cast<std::uint32_t>(w));
  Put32(b, 22, static_cast<std::uint32_t>(h));
  Put16(b, 26, 1);
  Put16(b, 28, 24);
  Put32(b, 34, static_cast<std::uint32_t>(stride * h));
  for (std::int32_t row = 0; row < h; ++row) {  // both stored bottom-up
    const std::uint8_t* src = shot.image.pixels + static_cast<std::size_t>(row) * w * 4;
    std::uint8_t* dst = b.data() + 54 + row * stride;
    for (std::int32_t x = 0; x < w; ++x) {
      dst[3 * x] = src[4 * x];
      dst[3 * x + 1] = src[4 * x + 1];
      dst[3 * x + 2] = src[4 * x + 2];
    }
  }
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return "cannot create " + path + ": " + std::strerror(errno);
  const bool written = std::fwrite(b.data(), 1, b.size(), f) == b.size();
  if (std::fclose(f) != 0 || !written) return "cannot write " + path;
  return "";
}

namespace {

bool EndsWithPng(const std::string& path) {
  if (path.size() < 4) return false;
  std::string end = path.substr(path.size() - 4);
  for (char& c : end) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return end == ".png";
}

std::string WritePng(const std::string& path, const Screenshot& shot) {
  const std::int32_t w = shot.image.width, h = shot.image.height;
  std::vector<std::uint8_t> rgb;
  rgb.reserve(static_cast<std::size_t>(w) * h * 3);
  for (std::int32_t y = 0; y < h; ++y) {
    for (std::int32_t x = 0; x < w; ++x) {
      const ColorValue v = ScreenPixel(shot.image, x, y);
      rgb.insert(rgb.end(), {static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 8),
                             static_cast<std::uint8_t>(v)});
    }
  }
  spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
  if (ctx == nullptr) return "cannot write " + path + ": out of memory";
  spng_ihdr ihdr{
      static_cast<std::uint32_t>(w), static_cast<std::uint32_t>(h), 8, SPNG_COLOR_TYPE_TRUECOLOR, 0, 0, 0};
  int error = spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
  if (error == 0) error = spng_set_ihdr(ctx, &ihdr);
  if (error == 0) error = spng_encode_image(ctx, rgb.data(), rgb.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
  std::size_t length = 0;
  void* png = error == 0 ? spng_get_png_buffer(ctx, &length, &error) : nullptr;
  spng_ctx_free(ctx);
  if (png == nullptr) return "cannot encode " + path + " as PNG: " + spng_strerror(error);
  std::FILE* f = std::fopen(path.c_str(), "wb");
  const bool written = f != nullptr && std::fwrite(png, 1, length, f) == length;
  std::free(png);
  if (f == nullptr) return "cannot create " + path + ": " + std::strerror(errno);
  if (std::fclose(f) != 0 || !written) return "cannot write " + path;
  return "";
}

}  // namespace

std::string WriteScreenshot(const std::string& path, const Screenshot& shot) {
  return EndsWithPng(path) ? WritePng(path, shot) : WriteBmp24(path, shot);
}

std::string CutRectangle(const Screenshot& shot, std::int32_t x1, std::int32_t y1, std::int32_t x2,
                         std::int32_t y2, Screenshot& out) {
  const Rectangle r = NormalizeRectangle(x1, y1, x2, y2, shot.image.width, shot.image.height);
  if (r.x2 < r.x1 || r.y2 < r.y1) return "the rectangle lies outside the screen";
  const std::int32_t w = r.x2 - r.x1 + 1, h = r.y2 - r.y1 + 1;
  out.storage.assign(static_cast<std::size_t>(w) * h * 4, 0);
  for (std::int32_t y = 0; y < h; ++y) {  // rows counted from the top; both stored bottom-up
    const std::uint8_t* src =
        PixelAddress(shot.image.pixels, r.x1, r.y1 + y, shot.image.width * 4, shot.image.height, 4);
    std::memcpy(out.storage.data() + static_cast<std::size_t>(h - 1 - y) * w * 4, src,
                static_cast<std::size_t>(w) * 4);
  }
  out.image = ScreenImage{nullptr, out.storage.data(), w, h, 32};
  return "";
}

std::string CaptureLiveScreen(Screenshot& out, const char* source, platform::DesktopRect* place) {
  ScreenImage live{};
  if (TakeScreenshot(ParseScreenSource(source), &live, place) != ScreenshotFailure::kNone)
    return source == nullptr ? "the screen could not be captured (no display?)"
                             : std::string("there is no ") + source + " to capture";
  Adopt(live, out);
  return "";
}

std::string DescribeTemplateFailure(const std::string& path) {
  std::vector<std::uint8_t> b;
  std::string error;
  if (!ReadWhole(path, b, error)) return error;
  const std::string what = path + ": ";
  if (b.empty()) return what + "the file is empty";
  if (b.size() < 30) return what + "only " + std::to_string(b.size()) + " bytes; a BMP header needs 30";
  if (HasPngSignature(b.data(), static_cast<std::uint32_t>(b.size()))) {
    std::uint32_t size = 0;
    std::int32_t reason = 0;
    std::uint8_t* bmp = DecodePngAsBmp(b.data(), static_cast<std::uint32_t>(b.size()), &size, &reason);
    if (bmp == nullptr) return what + PngRefusal(reason);
    platform::Current().freeBlock(bmp);
    return what + "the library refused the file (out of memory, or the cache could not take its name)";
  }
  const std::string compressed = CompressedBmpText(b);
  if (!compressed.empty()) return what + compressed;
  const std::uint32_t offset = Get32(b, 10);
  const auto width = static_cast<std::int32_t>(Get32(b, 18));
  const auto height = static_cast<std::int32_t>(Get32(b, 22));
  const std::int32_t bitCount = static_cast<std::int32_t>(Get16(b, 28));
  if (height < 0) return what + "a top-down BMP (negative height); save the template bottom-up";
  if (width <= 0 || height <= 0) {
    return what + "width " + std::to_string(width) + " and height " + std::to_string(height) +
           " describe no picture";
  }
  if (offset > b.size()) {
    return what + "the pixel data offset " + std::to_string(offset) + " lies beyond the end of the file";
  }
  const std::int64_t stride = RowStride(width, BytesPerPixel(bitCount));
  // The last row's padding is never read.
  const std::uint64_t needed = stride == 0 ? 3
                                           : static_cast<std::uint64_t>(stride) * (height - 1ull) +
                                                 static_cast<std::uint64_t>(width) *
                                                     static_cast<std::uint64_t>(BytesPerPixel(bitCount));
  if (needed > b.size() - offset) {
    return what + "the pixel rows need " + std::to_string(needed) + " bytes but only " +
           std::to_string(b.size() - offset) + " follow the pixel data offset (truncated?)";
  }
  return what + "the library refused the file (out of memory, or the cache could not take its name)";
}

std::string DescribeProgramFile(const std::string& path) {
  std::vector<std::uint8_t> b;
  std::string error;
  if (!ReadWhole(path, b, error)) return error;
  const std::string what = path + ": ";
  if (b.size() < 64 || b[0] != 'M' || b[1] != 'Z') return what + "not a Windows program or DLL";
  const std::uint32_t pe = Get32(b, 60);
  if (pe > b.size() || b.size() - pe < 24 || Get32(b, pe) != 0x4550u)  // "PE\0\0"
    return what + "not a Windows program or DLL";
  const std::uint32_t machine = Get16(b, pe + 4);
  const bool dll = (Get16(b, pe + 22) & 0x2000u) != 0;
  const std::string kind = dll ? "DLL" : "program";
  const auto said = [&](const std::string& bits) {
    return what + "a " + bits + " Windows " + kind +
           (dll ? ": only " + bits + " programs can load it"
                : ": it can load only the " + bits + " zadized.dll");
  };
  if (machine == 0x14C) return said("32-bit (x86)");
  if (machine == 0x8664) return said("64-bit (x64)");
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%04X", static_cast<unsigned>(machine));
  return what + "a Windows " + kind + " for machine " + hex + ", neither x86 nor x64";
}

ColorValue ScreenPixel(const ScreenImage& screen, std::int32_t x, std::int32_t y) {
  return ReadPixel(screen.pixels, x, y, screen.width * 4, screen.height, 4);
}

Session::Session(const ScreenImage& screen, const BitmapRecord& templ, std::int32_t x1, std::int32_t y1,
                 std::int32_t x2, std::int32_t y2, std::int32_t options, std::int32_t color,
                 const std::uint8_t* opacity)
    : screen_(screen),
      templ_(templ),
      x1_(x1),
      y1_(y1),
      x2_(x2),
      y2_(y2),
      options_(options),
      color_(color),
      loadedOpacity_(opacity) {
  order_ = DecodeOptions(options);
  test_ = DecodeColorWord(color);
  // The same checks, in the same order, as SearchCapture.
  if (screen.pixels == nullptr) {
    refusal_ = kNoScreen;
    return;
  }
  refusal_ = PlaceRectangle(x1, y1, x2, y2, screen.width, screen.height, templ.width, templ.height, &rect_);
  if (refusal_ != 0) return;
  // The library's own preparation: opacity, then the map or the colours.
  prepared_ = std::make_unique<PreparedTemplate>(screen, Template{templ, opacity}, options, test_);
  refusal_ = prepared_->Refusal();
  setup_ = prepared_->Setup();
}

std::int64_t Session::TransparentPixels() const {
  if (prepared_ == nullptr || prepared_->OpaquePixels() < 0) return 0;
  return static_cast<std::int64_t>(templ_.width) * templ_.height - prepared_->OpaquePixels();
}

Session::~Session() = default;

std::int32_t Session::LibraryResult() const {
  return SearchCapture(screen_, templ_, x1_, y1_, x2_, y2_, options_, color_, loadedOpacity_);
}

Session::Listing Session::LibraryList() const {
  const auto list = [&](std::int32_t* slots, std::int32_t maxResults) {
    return SearchCaptureAll(screen_, templ_, x1_, y1_, x2_, y2_, options_, color_, slots, maxResults,
                            loadedOpacity_);
  };
  Listing out{list(nullptr, 0), {}};
  if (out.result <= 0) return out;
  out.positions.resize(static_cast<std::size_t>(out.result));
  out.result = list(out.positions.data(), out.result);
  return out;
}

void Session::ForEachCandidate(const std::function<bool(Position)>& visit) const {
  if (refusal_ != 0) return;
  Candidates(rect_, templ_.width, templ_.height, order_).Walk([&](std::int32_t x, std::int32_t y) {
    return !visit(Position{x, y});
  });
}

bool Session::PassesWindow(Position at) const {
  return refusal_ == 0 && (setup_.map != nullptr || setup_.colors != nullptr) &&
         WindowMatches(setup_, at.x, at.y);
}

bool Session::PassesCorner(Position at) const {
  if (!test_.tolerance || CornerIsTransparent()) return true;
  const std::int32_t cx = at.x + ((test_.corner & 1) != 0 ? templ_.width - 1 : 0);
  const std::int32_t cy = at.y + ((test_.corner & 2) != 0 ? templ_.height - 1 : 0);
  return CompareCornerColor(TemplateCornerColor(templ_, test_.corner), ScreenPixel(screen_, cx, cy),
                            test_.channelTolerance, test_.sumTolerance) == 1;
}

std::vector<Accepted> Session::All() const {
  std::vector<Accepted> found;
  std::int64_t windowIndex = 0;
  ForEachCandidate([&](Position p) {
    if (PassesWindow(p)) {
      if (PassesCorner(p)) found.push_back(Accepted{p, windowIndex});
      ++windowIndex;
    }
    return true;
  });
  return found;
}

std::vector<std::int32_t> Session::Listed() const {
  std::vector<std::int32_t> out;
  for (const Accepted& a : All())
    if (a.windowIndex >= order_.skip) out.push_back(EncodePosition(a.at.x, a.at.y, screen_.width));
  return out;
}

bool Session::Returned(Position& at) const {
  std::int64_t windowIndex = 0;
  bool found = false;
  ForEachCandidate([&](Position p) {
    if (!PassesWindow(p)) return true;
    // Positions passed over by the skip count are never corner-tested.
    if (windowIndex++ < order_.skip) return true;
    if (!PassesCorner(p)) return true;
    at = p;
    found = true;
    return false;
  });
  return found;
}

std::string Session::ExplainWindow(Position at, bool& passes) const {
  const std::int32_t tw = templ_.width, th = templ_.height;
  const auto templatePixel = [&](std::int64_t k) {
    return Point(static_cast<std::int32_t>(k % tw), static_cast<std::int32_t>(th - 1 - k / tw));
  };
  const auto screenXY = [&](std::int64_t k, std::int32_t& sx, std::int32_t& sy) {
    sx = at.x + static_cast<std::int32_t>(k % tw);
    sy = at.y + th - 1 - static_cast<std::int32_t>(k / tw);
  };
  const auto screenPixel = [&](std::int64_t k) {
    std::int32_t sx, sy;
    screenXY(k, sx, sy);
    return Point(sx, sy) + " " + Hex6(ScreenPixel(screen_, sx, sy));
  };
  const std::int64_t total = static_cast<std::int64_t>(tw) * th;
  passes = false;

  if (!setup_.shape) {
    ColorValue seen[256];
    std::int64_t first[256];
    std::int32_t count = 0;
    for (std::int64_t k = 0; k < total; ++k) {
      if (!TakesPart(setup_, k)) continue;
      std::int32_t sx, sy;
      screenXY(k, sx, sy);
      const ColorValue v = ScreenPixel(screen_, sx, sy);
      std::int32_t number = 0;
      while (number < count && seen[number] != v) ++number;
      const bool isNew = number == count;
      const std::int32_t before = count;
      if (isNew) {
        if (count < 256) {
          seen[count] = v;
          first[count] = k;
          ++count;
        } else {
          number = 255;
        }
      }
      const std::int32_t expected = setup_.map[k];
      if (number == expected) continue;
      std::ostringstream s;
      s << "pattern group mismatch at template pixel " << templatePixel(k) << ", screen pixel "
        << screenPixel(k) << ": ";
      if (expected < before && expected < 255) {
        s << "the template pixel has the colour of template pixel " << templatePixel(first[expected])
          << ", so the screen should repeat " << screenPixel(first[expected]) << ", but it shows " << Hex6(v);
        if (!isNew && number < 255) s << ", the colour of screen pixel " << screenPixel(first[number]);
      } else if (expected == before && !isNew && number < 255) {
        s << "the template pixel has a colour not met earlier in the template, but the screen repeats the "
             "colour of "
          << screenPixel(first[number]) << " (under template pixel " << templatePixel(first[number]) << ")";
      } else {
        s << "the template numbers this pixel's colour " << expected << " and the screen numbers it "
          << number
          << " (colours numbered by first appearance, bottom row first; 255 stands for the 256th colour "
             "and every later one)";
      }
      return s.str();
    }
    passes = true;
    return "window test passed (pattern mode: the screen shows the template's " + std::to_string(count) +
           " group(s) of equal colour)";
  }

  bool haveShape = false;
  ColorValue shape = 0;
  std::int64_t shapeFirst = 0, unmarked = 0, unmarkedInShape = 0;
  for (std::int64_t k = 0; k < total; ++k) {
    if (!TakesPart(setup_, k)) continue;
    std::int32_t sx, sy;
    screenXY(k, sx, sy);
    const ColorValue v = ScreenPixel(screen_, sx, sy);
    if (setup_.map[k] != 0) {
      if (!haveShape) {
        haveShape = true;
        shape = v;
        shapeFirst = k;
      } else if (v != shape) {
        return "shape colour mismatch at template pixel " + templatePixel(k) + ": the template draws it in " +
               Hex6(static_cast<ColorValue>(test_.mapColor)) +
               ", so the screen must show one colour there, "
               "that of its first shape pixel " +
               screenPixel(shapeFirst) + ", but screen pixel " + screenPixel(k) + " differs";
      }
    } else {
      ++unmarked;
      if (haveShape && v == shape) ++unmarkedInShape;
    }
  }
  const std::int64_t limit = unmarked / 3;
  if (unmarkedInShape > limit) {
    return "one-third rule: " + std::to_string(unmarkedInShape) + " of the " + std::to_string(unmarked) +
           " pixels outside the shape show the shape's colour " + Hex6(shape) + " on screen; at most " +
           std::to_string(unmarked) + " / 3 = " + std::to_string(limit) +
           " may (pixels outside the shape met before its first pixel, bottom row first, are not compared)";
  }
  passes = true;
  return "window test passed (shape mode: the shape shows in " + Hex6(shape) + "; " +
         std::to_string(unmarkedInShape) + " of " + std::to_string(unmarked) +
         " pixels outside it share that colour, at most " + std::to_string(limit) + " may)";
}

std::vector<std::string> Session::ExplainNearColors(Position at, bool& passes) const {
  passes = false;
  if (setup_.colors == nullptr) return {"the template has no pixels to compare"};
  const TemplateColors& colors = *setup_.colors;
  const std::int32_t tw = templ_.width, th = templ_.height;
  const std::int64_t allowed = setup_.allowedMisses;
  // Enough to see what kind of difference it is without flooding the screen.
  constexpr std::int64_t kListed = 10;
  std::int64_t misses = 0;
  std::vector<std::string> listed;
  // Every pixel is compared, not only those up to the first miss past the
  // budget, so the count says how far off the place is.
  for (std::int32_t r = 0; r < th; ++r) {
    const std::uint8_t* q = colors.pixels + static_cast<std::ptrdiff_t>(r) * colors.stride;
    for (std::int32_t c = 0; c < tw; ++c, q += colors.bytesPerPixel) {
      if (!TakesPart(setup_, static_cast<std::int64_t>(r) * tw + c)) continue;
      const std::int32_t sx = at.x + c, sy = at.y + th - 1 - r;
      const ColorValue t = colors.At(q), v = ScreenPixel(screen_, sx, sy);
      if (WithinTolerance(t, v, setup_.tolerance) || ++misses > kListed) continue;
      std::ostringstream line;
      line << "miss " << misses << ": template pixel " << Point(c, th - 1 - r) << " " << Hex6(t)
           << ", screen pixel " << Point(sx, sy) << " " << Hex6(v) << "; apart by";
      static const char* const channel[3] = {"blue", "green", "red"};
      for (int k = 0; k < 3; ++k) {
        const auto a = static_cast<std::int32_t>(t >> (8 * k) & 0xFF),
                   b = static_cast<std::int32_t>(v >> (8 * k) & 0xFF);
        line << (k == 0 ? " " : ", ") << channel[k] << " " << (a > b ? a - b : b - a);
      }
      if (misses == allowed + 1) line << " (one more than allowed)";
      listed.push_back(line.str());
    }
  }
  passes = misses <= allowed;
  std::ostringstream verdict;
  if (passes) verdict << "window test passed (";
  const std::int64_t opaque = static_cast<std::int64_t>(tw) * th - TransparentPixels();
  verdict << "near colours: " << misses << " of the " << opaque
          << (opaque < static_cast<std::int64_t>(tw) * th ? " opaque" : "")
          << " template pixels differ by more than " << setup_.tolerance << " in blue, green or red; at most "
          << allowed << " may (" << test_.nearPercent << "% of "
          << (opaque < static_cast<std::int64_t>(tw) * th ? std::to_string(opaque)
                                                          : std::to_string(tw) + " x " + std::to_string(th))
          << ", rounded down)";
  if (passes) verdict << ")";
  if (misses > 0) verdict << "; the misses, bottom row first, each row left to right:";
  std::vector<std::string> lines{verdict.str()};
  lines.insert(lines.end(), listed.begin(), listed.end());
  if (misses > kListed) lines.push_back("and " + std::to_string(misses - kListed) + " more misses");
  return lines;
}

bool Session::CornerIsTransparent() const {
  const std::int64_t column = (test_.corner & 1) != 0 ? templ_.width - 1 : 0;
  const std::int64_t fromTop = (test_.corner & 2) != 0 ? templ_.height - 1 : 0;
  return !TakesPart(setup_, (templ_.height - 1 - fromTop) * templ_.width + column);
}

std::string Session::ExplainCorner(Position at, bool& passes) const {
  if (CornerIsTransparent()) {
    passes = true;
    return std::string("corner test (") + CornerName(test_.corner) +
           "): passes, the template's corner pixel is transparent";
  }
  const std::int32_t cx = at.x + ((test_.corner & 1) != 0 ? templ_.width - 1 : 0);
  const std::int32_t cy = at.y + ((test_.corner & 2) != 0 ? templ_.height - 1 : 0);
  const ColorValue t = TemplateCornerColor(templ_, test_.corner);
  const ColorValue s = ScreenPixel(screen_, cx, cy);
  static const char* const channel[3] = {"blue", "green", "red"};
  std::ostringstream out;
  out << "corner test (" << CornerName(test_.corner) << "): template " << Hex6(t) << ", screen "
      << Point(cx, cy) << " " << Hex6(s) << "; differences";
  std::int32_t sum = 0;
  std::string over;
  for (int c = 0; c < 3; ++c) {
    const auto a = static_cast<std::int32_t>(t >> (8 * c) & 0xFF),
               b = static_cast<std::int32_t>(s >> (8 * c) & 0xFF);
    const std::int32_t d = a > b ? a - b : b - a;
    out << (c == 0 ? " " : ", ") << channel[c] << " " << d;
    if (d > test_.channelTolerance && over.empty()) over = channel[c];
    sum += d;
  }
  out << " (sum " << sum << ")";
  passes = PassesCorner(at);
  if (!over.empty()) {
    out << ": " << over << " exceeds the channel limit " << test_.channelTolerance;
  } else if (sum > test_.sumTolerance) {
    out << ": the sum exceeds the sum limit " << test_.sumTolerance;
  } else {
    out << ": within the channel limit " << test_.channelTolerance << " and the sum limit "
        << test_.sumTolerance;
  }
  return out.str();
}

std::vector<std::string> Session::Explain(Position at) const {
  std::vector<std::string> lines;
  const std::string where = Point(at.x, at.y);
  switch (refusal_) {
    case kNoScreen:
      return {"the search stops before scanning: the screenshot has no pixels (result -3)"};
    case kRectangleTooSmall:
      return {"the search stops before scanning: the rectangle, cut to the screen, is " +
              Point(rect_.x1, rect_.y1) + " to " + Point(rect_.x2, rect_.y2) + ", smaller than the " +
              std::to_string(templ_.width) + " x " + std::to_string(templ_.height) +
              " template (result -10)"};
    case kNoColorMap:
      if (TransparentPixels() == static_cast<std::int64_t>(templ_.width) * templ_.height)
        return {"the search stops before scanning: every template pixel is transparent (result -100)"};
      return {"the search stops before scanning: no opaque template pixel has the shape colour " +
              Hex6(static_cast<ColorValue>(test_.mapColor)) + " (result -100)"};
    default:
      break;
  }
  const std::int64_t lastX = static_cast<std::int64_t>(rect_.x2) - templ_.width + 1;
  const std::int64_t lastY = static_cast<std::int64_t>(rect_.y2) - templ_.height + 1;
  if (at.x < rect_.x1 || at.x > lastX || at.y < rect_.y1 || at.y > lastY) {
    return {where + " is not a candidate: the template's top-left corner must lie in columns " +
            std::to_string(rect_.x1) + " to " + std::to_string(lastX) + " and rows " +
            std::to_string(rect_.y1) + " to " + std::to_string(lastY) + ", where the whole " +
            std::to_string(templ_.width) + " x " + std::to_string(templ_.height) +
            " template lies inside the rectangle " + Point(rect_.x1, rect_.y1) + " to " +
            Point(rect_.x2, rect_.y2)};
  }
  bool window = false;
  if (test_.nearColors) {
    for (const std::string& line : ExplainNearColors(at, window)) lines.push_back(where + ": " + line);
  } else {
    lines.push_back(where + ": " + ExplainWindow(at, window));
  }
  if (window != PassesWindow(at)) {
    lines.push_back("internal error: this explanation disagrees with the library's window test");
  }
  if (!window) return lines;

  std::int64_t windowIndex = 0;
  ForEachCandidate([&](Position p) {
    if (p.x == at.x && p.y == at.y) return false;
    if (PassesWindow(p)) ++windowIndex;
    return true;
  });
  if (windowIndex < order_.skip) {
    lines.push_back(where + ": passed over by the skip count: it is window match " +
                    std::to_string(windowIndex + 1) + " in scan order, and the skip count " +
                    std::to_string(order_.skip) + " passes over the first " + std::to_string(order_.skip));
    return lines;
  }
  if (test_.tolerance) {
    bool corner = false;
    lines.push_back(where + ": " + ExplainCorner(at, corner));
    if (!corner) return lines;
  }
  Position returned{};
  if (Returned(returned) && returned.x == at.x && returned.y == at.y) {
    lines.push_back(where + ": accepted; this is the position the search returns");
  } else {
    lines.push_back(where + ": accepted, but the search returns " + Point(returned.x, returned.y) +
                    ", which comes earlier in scan order");
  }
  return lines;
}

std::int32_t Session::CountPlaces(std::int32_t color) const {
  if (refusal_ != 0) return refusal_;
  const std::int32_t noSkip = static_cast<std::int32_t>(static_cast<std::uint32_t>(options_) & ~0xFFFFu);
  return SearchCaptureAll(screen_, templ_, x1_, y1_, x2_, y2_, noSkip, color, nullptr, 0, loadedOpacity_);
}

namespace {

// 601300 as "601,300": counts of places run to millions.
std::string Thousands(std::int64_t n) {
  std::string digits = std::to_string(n), out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

}  // namespace

std::string Session::WeaknessOfTemplate() const {
  const std::int32_t tw = templ_.width, th = templ_.height;
  const std::string size = std::to_string(tw) + " x " + std::to_string(th);
  if (test_.nearColors) {
    if (test_.nearTolerance >= 255) return "near colours: a channel limit of 255 accepts every place";
    if (test_.nearPercent >= 100) return "near colours: a share of 100% accepts every place";
    return "";
  }
  if (setup_.map == nullptr) return "";
  std::int64_t taking = 0, marked = 0;
  bool seen[256] = {};
  std::int32_t distinct = 0;
  for (std::int64_t k = 0; k < static_cast<std::int64_t>(tw) * th; ++k) {
    if (!TakesPart(setup_, k)) continue;
    ++taking;
    marked += setup_.map[k] == 1;
    if (!seen[setup_.map[k]]) {
      seen[setup_.map[k]] = true;
      ++distinct;
    }
  }
  const std::string n = Thousands(taking);
  if (setup_.shape) {
    if (marked == taking)
      return "shape mode: every pixel has the shape colour, so any one-colour " + size + " area matches";
    if (marked == 1)
      return "shape mode: only 1 of the " + n + " pixels has the shape colour, so a place " +
             "matches wherever at most a third of the others share one pixel's colour";
    return "";
  }
  const std::string mode = test_.tolerance ? "pattern mode (with a corner test)" : "pattern mode";
  if (taking < 2) return "";
  if (distinct == 1)
    return mode + ": all " + n + " pixels have one colour, so any one-colour " + size + " area matches";
  if (distinct == taking)
    return mode + ": all " + n + " pixels differ, so any " + size + " window of distinct colours matches";
  // Photo-like: most pixels a colour of their own. Past 255 colours every new
  // one gets the same number, so such templates compare loosely as well.
  if (distinct == 256)
    return mode + ": its " + n + " pixels have more than 255 colours (photo-like), " +
           "so windows of as many colours match";
  if (2 * static_cast<std::int64_t>(distinct) > taking)
    return mode + ": its " + n + " pixels have " + std::to_string(distinct) + " colours " +
           "(photo-like), so windows of as many colours match";
  return "";
}

std::string Session::WeakTemplateWarning() const {
  if (refusal_ != 0) return "";
  const std::string weakness = WeaknessOfTemplate();
  if (weakness.empty()) return "";
  const std::int32_t places = CountPlaces(color_);
  // A template found at one place, or nowhere, has told the user nothing wrong.
  if (places <= 1) return "";
  const bool wholeScreen =
      rect_.x1 == 0 && rect_.y1 == 0 && rect_.x2 == screen_.width - 1 && rect_.y2 == screen_.height - 1;
  std::string text = weakness + "; " + Thousands(places) + " places" +
                     (wholeScreen ? " on this screen." : " in this rectangle.");
  if (test_.nearColors) return text + " Lower the channel limit or the share.";
  // The template's own colours, exactly: the same search in near-colour mode.
  constexpr std::int32_t kOwnColors = 0x20000000;  // near colours, no step and no miss allowed
  const std::int32_t exact = CountPlaces(kOwnColors);
  if (exact >= places) return "";  // the places all show the template's own colours: not weak here
  return text + " Try near colours: --color 0x20000000 (" + Thousands(exact) +
         (exact == 1 ? " place" : " places") + " here).";
}

void Outline(Screenshot& shot, const std::vector<Position>& at, std::int32_t tw, std::int32_t th,
             ColorValue color) {
  const std::int32_t w = shot.image.width, h = shot.image.height;
  const auto put = [&](std::int32_t x, std::int32_t y) {
    if (x < 0 || y < 0 || x >= w || y >= h) return;
    std::uint8_t* p = shot.storage.data() + (static_cast<std::size_t>(h - 1 - y) * w + x) * 4;
    p[0] = static_cast<std::uint8_t>(color);
    p[1] = static_cast<std::uint8_t>(color >> 8);
    p[2] = static_cast<std::uint8_t>(color >> 16);
  };
  for (const Position& p : at) {
    for (std::int32_t i = 0; i < tw; ++i) {
      put(p.x + i, p.y);
      put(p.x + i, p.y + th - 1);
    }
    for (std::int32_t j = 0; j < th; ++j) {
      put(p.x, p.y + j);
      put(p.x + tw - 1, p.y + j);
    }
  }
}

}  // namespace zadized::find
