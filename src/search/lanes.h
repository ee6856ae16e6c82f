// Eight candidate positions at a time: a row of eight windows side by side,
// whose pixels at one offset are two SSE2 registers of four 32-bit pixels.
#pragma once

#include <cstddef>
#include <cstdint>

// Every processor the DLL targets has SSE2 (Windows itself needs it since
// Windows 8); the build asks for it and there is no other lane path.
#if !defined(__SSE2__)
#error "the fast scan needs SSE2"
#endif
#include <emmintrin.h>

#include "search/rules.h"

namespace zadized {

constexpr int kLanes = 8;
constexpr unsigned kAllLanes = (1u << kLanes) - 1;

// Bit i: the pixels at p + 4i and q + 4i have the same blue, green and red.
inline unsigned EqualLanes(const std::uint8_t* p, const std::uint8_t* q) {
  const __m128i a0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i b0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
  const __m128i a1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
  const __m128i b1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 16));
  // Shifting left by 8 drops the fourth byte, which never takes part.
  const __m128i d0 = _mm_slli_epi32(_mm_xor_si128(a0, b0), 8);
  const __m128i d1 = _mm_slli_epi32(_mm_xor_si128(a1, b1), 8);
  const __m128i zero = _mm_setzero_si128();
  const auto lo = static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(d0, zero))));
  const auto hi = static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(d1, zero))));
  return lo | hi << 4;
}

// The top-left pixel of the window at (x, y) of the screen.
inline const std::uint8_t* TopLeftOf(const ScanSetup& s, std::int32_t x, std::int32_t y) {
  return s.screen + static_cast<std::ptrdiff_t>(s.height - 1 - y) * s.width * 4 +
         static_cast<std::ptrdiff_t>(x) * 4;
}

// Where to sample a screen for ranking tests: `spots` places spread over the
// candidates with a little jitter (so stripes of the screen's period do not
// line up with them), each the first of eight side-by-side positions when
// `blocks` (then the candidates must be at least eight columns wide). Another
// `draw` gives other places near the same spread.
inline void SampleSpots(const ScanSetup& s, const Candidates& c, std::int64_t spots, bool blocks,
                        const std::uint8_t** at, std::int64_t draw = 0) {
  const std::int64_t total = c.columns * c.rows;
  const std::int64_t step = total / spots > 0 ? total / spots : 1;
  for (std::int64_t i = 0; i < spots; ++i) {
    const std::int64_t jitter =
        step > 1 ? static_cast<std::int64_t>(((i + draw * spots) * 2654435761u) % step) : 0;
    const std::int64_t linear = (i * step + jitter) % total;
    std::int64_t x = c.firstX + linear % c.columns;
    if (blocks && x > c.lastX - (kLanes - 1)) x = c.lastX - (kLanes - 1);
    at[i] =
        TopLeftOf(s, static_cast<std::int32_t>(x), static_cast<std::int32_t>(c.firstY + linear / c.columns));
  }
}

}  // namespace zadized
