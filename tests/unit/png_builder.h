// PNG files written by the tests themselves, chunk by chunk, so that what a
// file holds is known before any decoder reads it.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace zadized::test {

inline void PutBe32(std::vector<std::uint8_t>& b, std::uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<std::uint8_t>(v >> s));
}

struct Chunk {
  std::string type;
  std::vector<std::uint8_t> data;
};

inline std::vector<std::uint8_t> Assemble(const std::vector<Chunk>& chunks) {
  std::vector<std::uint8_t> b = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  for (const Chunk& c : chunks) {
    PutBe32(b, static_cast<std::uint32_t>(c.data.size()));
    const std::size_t typeAt = b.size();
    b.insert(b.end(), c.type.begin(), c.type.end());
    b.insert(b.end(), c.data.begin(), c.data.end());
    PutBe32(b, static_cast<std::uint32_t>(crc32(0, b.data() + typeAt, static_cast<uInt>(b.size() - typeAt))));
  }
  return b;
}

inline std::vector<std::uint8_t> Deflate(const std::vector<std::uint8_t>& raw) {
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  std::vector<std::uint8_t> out(size);
  EXPECT_EQ(compress2(out.data(), &size, raw.data(), static_cast<uLong>(raw.size()), 9), Z_OK);
  out.resize(size);
  return out;
}

inline std::vector<std::uint8_t> Ihdr(std::uint32_t w, std::uint32_t h, int depth, int colorType) {
  std::vector<std::uint8_t> d;
  PutBe32(d, w);
  PutBe32(d, h);
  d.insert(d.end(), {static_cast<std::uint8_t>(depth), static_cast<std::uint8_t>(colorType), 0, 0, 0});
  return d;
}

// A top-down picture of 0x00RRGGBB colours (greys for types 0 and 4) as a PNG
// file of colour type `type` (0 grey, 2 truecolour, 3 palette, 4 grey and
// alpha, 6 truecolour and alpha) and sample depth `depth` (8 or 16; 8 for
// palettes). `alpha` holds each pixel's 16-bit alpha for types 3, 4 and 6
// (8-bit files keep its high byte). Types 0 and 2 with `keyed` name `key` in
// a tRNS chunk. A 16-bit sample's low byte follows from its high byte, so
// equal colours are equal samples.
inline std::vector<std::uint8_t> EncodePng(int w, int h, int type, int depth,
                                           const std::vector<std::uint32_t>& colors,
                                           const std::vector<std::uint16_t>& alpha, bool keyed = false,
                                           std::uint32_t key = 0) {
  const auto low = [](std::uint8_t high) { return static_cast<std::uint8_t>(high ^ 0x5A); };
  std::vector<std::uint8_t> raw;
  const auto put = [&](std::uint8_t high) {
    raw.push_back(high);
    if (depth == 16) raw.push_back(low(high));
  };
  std::vector<Chunk> chunks = {
      {"IHDR", Ihdr(static_cast<std::uint32_t>(w), static_cast<std::uint32_t>(h), depth, type)}};
  std::vector<std::uint64_t> entries;  // palette: colour << 8 | 8-bit alpha
  if (type == 3) {
    for (std::size_t k = 0; k < colors.size(); ++k) {
      const std::uint64_t e = static_cast<std::uint64_t>(colors[k]) << 8 | alpha[k] >> 8;
      if (std::find(entries.begin(), entries.end(), e) == entries.end()) entries.push_back(e);
    }
    std::vector<std::uint8_t> plte, trns;
    for (const std::uint64_t e : entries) {
      for (int c = 2; c >= 0; --c) plte.push_back(static_cast<std::uint8_t>(e >> (8 + 8 * c)));
      trns.push_back(static_cast<std::uint8_t>(e));
    }
    chunks.push_back({"PLTE", plte});
    chunks.push_back({"tRNS", trns});
  }
  if (keyed && (type == 0 || type == 2)) {
    std::vector<std::uint8_t> trns;
    for (int c = type == 0 ? 0 : 2; c >= 0; --c) {
      const auto high = static_cast<std::uint8_t>(key >> (8 * c));
      trns.push_back(depth == 16 ? high : 0);
      trns.push_back(depth == 16 ? low(high) : high);
    }
    chunks.push_back({"tRNS", trns});
  }
  for (int y = 0; y < h; ++y) {
    raw.push_back(0);
    for (int x = 0; x < w; ++x) {
      const std::size_t k = static_cast<std::size_t>(y) * w + x;
      const std::uint32_t v = colors[k];
      if (type == 3) {
        const std::uint64_t e = static_cast<std::uint64_t>(v) << 8 | alpha[k] >> 8;
        raw.push_back(
            static_cast<std::uint8_t>(std::find(entries.begin(), entries.end(), e) - entries.begin()));
        continue;
      }
      if (type == 0 || type == 4) {
        put(static_cast<std::uint8_t>(v));
      } else {
        for (int c = 2; c >= 0; --c) put(static_cast<std::uint8_t>(v >> (8 * c)));
      }
      if (type == 4 || type == 6) {
        raw.push_back(static_cast<std::uint8_t>(alpha[k] >> 8));
        if (depth == 16) raw.push_back(static_cast<std::uint8_t>(alpha[k]));
      }
    }
  }
  chunks.push_back({"IDAT", Deflate(raw)});
  chunks.push_back({"IEND", {}});
  return Assemble(chunks);
}

}  // namespace zadized::test
