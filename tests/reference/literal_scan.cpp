#include "reference/literal_scan.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <utility>

namespace zadized::reference {

namespace {

std::uint32_t Bytes(const std::vector<std::uint8_t>& b, std::size_t at, int n) {
  std::uint32_t v = 0;
  for (int i = 0; i < n; ++i) v |= static_cast<std::uint32_t>(b[at + i]) << (8 * i);
  return v;
}

struct Template {
  std::int64_t width, height, bitCount, offset;
  std::vector<std::uint32_t> stored;  // pixel values in stored order, bottom row first
  std::uint32_t corners[4];           // top-left, top-right, bottom-left, bottom-right
  std::vector<std::uint32_t> table;   // 8-bit files only
};

Template Decode(const std::vector<std::uint8_t>& bmp) {
  Template t;
  t.offset = Bytes(bmp, 10, 4);
  t.width = static_cast<std::int32_t>(Bytes(bmp, 18, 4));
  t.height = static_cast<std::int32_t>(Bytes(bmp, 22, 4));
  t.bitCount = Bytes(bmp, 28, 2);
  const std::int64_t bytesPerPixel = t.bitCount / 8;
  const std::int64_t rowBytes = t.width * bytesPerPixel;
  const std::int64_t stride = rowBytes % 4 == 0 ? rowBytes : rowBytes + 4 - rowBytes % 4;
  const int valueBytes = bytesPerPixel == 1 ? 1 : bytesPerPixel == 2 ? 2 : 3;
  if (bytesPerPixel == 1) t.table = LiteralColorTable(bmp);
  const auto stored = [&](std::int64_t column, std::int64_t storedRow) {
    return Bytes(bmp, static_cast<std::size_t>(t.offset + storedRow * stride + column * bytesPerPixel),
                 valueBytes);
  };
  for (std::int64_t k = 0; k < t.width * t.height; ++k) t.stored.push_back(stored(k % t.width, k / t.width));
  // Corner colours: an 8-bit pixel is its table entry, whole.
  const auto color = [&](std::int64_t x, std::int64_t y) {
    const std::uint32_t v = stored(x, t.height - 1 - y);
    return bytesPerPixel == 1 ? t.table[v] : v;
  };
  t.corners[0] = color(0, 0);
  t.corners[1] = color(t.width - 1, 0);
  t.corners[2] = color(0, t.height - 1);
  t.corners[3] = color(t.width - 1, t.height - 1);
  return t;
}

// Number each value by first appearance; 255 for the 256th and every later
// new value.
std::vector<int> Numbers(const std::vector<std::uint32_t>& values) {
  std::vector<std::uint32_t> firsts;
  std::vector<int> out;
  for (std::uint32_t v : values) {
    const auto it = std::find(firsts.begin(), firsts.end(), v);
    if (it != firsts.end()) {
      out.push_back(static_cast<int>(it - firsts.begin()));
    } else if (firsts.size() < 256) {
      out.push_back(static_cast<int>(firsts.size()));
      firsts.push_back(v);
    } else {
      out.push_back(255);
    }
  }
  return out;
}

int Channel(std::uint32_t c, int i) { return static_cast<int>((c >> (8 * i)) & 0xFF); }

}  // namespace

std::vector<std::uint32_t> LiteralColorTable(const std::vector<std::uint8_t>& bmp) {
  const std::uint64_t offset = Bytes(bmp, 10, 4);
  const std::uint64_t infoSize = Bytes(bmp, 14, 4);
  const std::uint64_t declared = (infoSize >= 36 && bmp.size() >= 50) ? Bytes(bmp, 46, 4) : 0;
  std::vector<std::uint32_t> table(256, 0);
  // Standard: the whole table (declared 0 or 256) directly before the pixels,
  // unless an info header of 40 bytes or more puts a gap between them.
  const bool gap = infoSize >= 40 && 14 + infoSize + 1024 < offset;
  const bool room = 14 + infoSize + 1024 == offset || offset >= 1078;
  if ((declared == 0 || declared == 256) && !gap && room) {
    for (std::uint64_t i = 0; i < 256; ++i) table[i] = Bytes(bmp, offset - 1024 + 4 * i, 4);
    return table;
  }
  const std::uint64_t entries = (declared == 0 || declared > 256) ? 256 : declared;
  for (std::uint64_t i = 0; i < entries; ++i) {
    const std::uint64_t at = 14 + infoSize + 4 * i;
    if (at + 4 <= bmp.size()) table[i] = Bytes(bmp, at, 4);
  }
  return table;
}

namespace {

// The search, collecting accepted positions into `out` until it holds `limit`.
Listing Search(const std::vector<std::uint8_t>& bmp, const Screen& screen, std::int32_t x1, std::int32_t y1,
               std::int32_t x2, std::int32_t y2, std::int32_t options, std::int32_t color,
               const std::vector<bool>& clear, std::size_t limit) {
  Listing out;
  const auto refuse = [&](std::int32_t code) {
    out.code = code;
    return out;
  };
  // The option word.
  const auto optionBits = static_cast<std::uint32_t>(options);
  std::int64_t skip = optionBits & 0xFFFF;
  const bool bottomUp = (optionBits & (1u << 16)) != 0;
  const bool rightToLeft = (optionBits & (1u << 17)) != 0;
  const bool columnsOuter = (optionBits & (1u << 18)) != 0;
  const bool keyColor = (optionBits & (1u << 19)) != 0;

  // The colour word.
  const std::int64_t mode = static_cast<std::int64_t>(color) / 268435456;  // truncates toward zero
  std::int64_t mapColor = mode == 0 ? color : -1;
  const bool tolerance = mode == 1;
  const auto colorBits = static_cast<std::uint32_t>(color);
  const int sumTolerance = static_cast<int>(colorBits & 0xFFFF);
  const int channelTolerance = static_cast<int>((colorBits >> 16) & 0xFF);
  const int corner = static_cast<int>((colorBits >> 24) & 3);
  // Near colours: bits 0-7 how far each channel may be off, bits 8-15 the
  // percentage of pixels that may be further off (over 100 counts as 100).
  const bool nearMode = mode == 2;
  const int nearChannel = static_cast<int>(colorBits & 0xFF);
  const std::int64_t nearPercent = std::min<std::int64_t>((colorBits >> 8) & 0xFF, 100);

  const Template t = Decode(bmp);
  const std::int64_t W = screen.width, H = screen.height;
  if (W <= 0 || H <= 0) return refuse(-3);

  std::int64_t left = x1, top = y1, right = x2, bottom = y2;
  if (left > right) std::swap(left, right);
  if (top > bottom) std::swap(top, bottom);
  left = std::max<std::int64_t>(left, 0);
  top = std::max<std::int64_t>(top, 0);
  if (right >= W) right = W - 1;
  if (bottom >= H) bottom = H - 1;
  if (t.width > right - left + 1 || t.height > bottom - top + 1) return refuse(-10);

  // The pixels that take part, in stored order: not see-through, and with
  // bit 19 not of the top-left colour, each read as the corners are.
  std::vector<std::size_t> part;
  std::vector<bool> takesPart(t.stored.size());
  for (std::size_t k = 0; k < t.stored.size(); ++k) {
    const std::int64_t kk = static_cast<std::int64_t>(k);
    const std::size_t topDown =
        static_cast<std::size_t>((t.height - 1 - kk / t.width) * t.width + kk % t.width);
    const std::uint32_t asCorner = t.bitCount / 8 == 1 ? t.table[t.stored[k]] : t.stored[k];
    if (!clear.empty() && clear[topDown]) continue;
    if (keyColor && asCorner == t.corners[0]) continue;
    part.push_back(k);
    takesPart[k] = true;
  }
  if (part.empty()) return refuse(-100);

  // The template's colours as the near test sees them.
  std::vector<std::uint32_t> nearColors;
  for (const std::uint32_t v : t.stored) {
    if (t.bitCount / 8 == 1) {
      nearColors.push_back(t.table[v] & 0xFFFFFF);
    } else if (t.bitCount / 8 == 2) {
      std::uint32_t c = 0;
      for (int i = 0; i < 3; ++i) {
        const std::uint32_t five = (v >> (5 * i)) & 31;
        c |= ((five << 3) | (five >> 2)) << (8 * i);
      }
      nearColors.push_back(c);
    } else {
      nearColors.push_back(v);
    }
  }
  const std::int64_t allowedMisses = nearPercent * static_cast<std::int64_t>(part.size()) / 100;

  // The template's map, over the pixels that take part.
  const bool shape = !nearMode && mapColor != -1;
  std::vector<int> map;
  std::vector<std::uint32_t> partValues;
  for (const std::size_t k : part) partValues.push_back(t.stored[k]);
  if (nearMode) {
    // compared by colour, no map
  } else if (!shape) {
    map = Numbers(partValues);
  } else {
    std::uint32_t wanted = static_cast<std::uint32_t>(mapColor);
    if (t.bitCount / 8 == 1) {
      const auto it = std::find(t.table.begin(), t.table.end(), wanted);
      if (it == t.table.end()) return refuse(-100);
      wanted = static_cast<std::uint32_t>(it - t.table.begin());
    }
    for (std::uint32_t v : partValues) map.push_back(v == wanted ? 1 : 0);
    if (std::find(map.begin(), map.end(), 1) == map.end()) return refuse(-100);
  }

  // Candidate positions in visiting order.
  std::vector<std::int64_t> xs, ys;
  for (std::int64_t x = left; x <= right - t.width + 1; ++x) xs.push_back(x);
  for (std::int64_t y = top; y <= bottom - t.height + 1; ++y) ys.push_back(y);
  if (rightToLeft) std::reverse(xs.begin(), xs.end());
  if (bottomUp) std::reverse(ys.begin(), ys.end());
  std::vector<std::pair<std::int64_t, std::int64_t>> order;
  if (columnsOuter) {
    for (auto x : xs)
      for (auto y : ys) order.emplace_back(x, y);
  } else {
    for (auto y : ys)
      for (auto x : xs) order.emplace_back(x, y);
  }

  const auto screenAt = [&](std::int64_t x, std::int64_t y) {
    return screen.topDown[static_cast<std::size_t>(y * W + x)] & 0xFFFFFF;
  };
  for (const auto& [x, y] : order) {
    // The screen pixels under the template pixels that take part, in the
    // map's order.
    std::vector<std::uint32_t> window;
    for (const std::size_t k : part) {
      const std::int64_t kk = static_cast<std::int64_t>(k);
      window.push_back(screenAt(x + kk % t.width, y + t.height - 1 - kk / t.width));
    }
    bool pass = true;
    if (nearMode) {
      std::int64_t misses = 0;
      for (std::size_t j = 0; j < window.size(); ++j) {
        const std::uint32_t wanted = nearColors[part[j]];
        for (int i = 0; i < 3; ++i) {
          if (std::abs(Channel(window[j], i) - Channel(wanted, i)) > nearChannel) {
            ++misses;
            break;
          }
        }
      }
      pass = misses <= allowedMisses;
    } else if (!shape) {
      pass = Numbers(window) == map;
    } else {
      bool remembered = false;
      std::uint32_t shapeColor = 0;
      std::int64_t unmarked = 0, unmarkedSame = 0;
      for (std::size_t k = 0; k < window.size() && pass; ++k) {
        if (map[k] == 1) {
          if (!remembered) {
            remembered = true;
            shapeColor = window[k];
          } else if (window[k] != shapeColor) {
            pass = false;
          }
        } else {
          ++unmarked;
          if (remembered && window[k] == shapeColor) ++unmarkedSame;
        }
      }
      if (pass && unmarkedSame > unmarked / 3) pass = false;
    }
    if (!pass) continue;
    if (skip > 0) {
      --skip;
      continue;
    }
    // A see-through corner has no colour to compare: the test passes.
    const std::int64_t cornerColumn = (corner & 1) ? t.width - 1 : 0,
                       cornerRow = (corner & 2) ? t.height - 1 : 0;
    const bool cornerClear =
        !takesPart[static_cast<std::size_t>((t.height - 1 - cornerRow) * t.width + cornerColumn)];
    if (tolerance && !cornerClear) {
      const std::uint32_t s =
          screenAt(x + ((corner & 1) ? t.width - 1 : 0), y + ((corner & 2) ? t.height - 1 : 0));
      const std::uint32_t c = t.corners[corner];
      bool within = true;
      int sum = 0;
      for (int i = 0; i < 3; ++i) {
        const int d = std::abs(Channel(c, i) - Channel(s, i));
        if (d > channelTolerance) within = false;
        sum += d;
      }
      if (!within || sum > sumTolerance) continue;
    }
    const std::int64_t encoded = (y - 1) * W + (x - 1);
    out.positions.push_back(
        static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(encoded))));
    if (out.positions.size() == limit) break;
  }
  return out;
}

}  // namespace

std::int32_t LiteralSearch(const std::vector<std::uint8_t>& bmp, const Screen& screen, std::int32_t x1,
                           std::int32_t y1, std::int32_t x2, std::int32_t y2, std::int32_t options,
                           std::int32_t color, const std::vector<bool>& clear) {
  const Listing first = Search(bmp, screen, x1, y1, x2, y2, options, color, clear, 1);
  if (first.code != 0) return first.code;
  return first.positions.empty() ? -1 : first.positions[0];
}

Listing LiteralSearchAll(const std::vector<std::uint8_t>& bmp, const Screen& screen, std::int32_t x1,
                         std::int32_t y1, std::int32_t x2, std::int32_t y2, std::int32_t options,
                         std::int32_t color, const std::vector<bool>& clear) {
  return Search(bmp, screen, x1, y1, x2, y2, options, color, clear, SIZE_MAX);
}

}  // namespace zadized::reference
