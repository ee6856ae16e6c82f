#include "search/plain_windows.h"

#include "image/pixel.h"
#include "platform/platform.h"
#include "search/lanes.h"

namespace zadized {

namespace {

inline ColorValue Pix(const std::uint8_t* p) { return MaskPixel(p, 3); }

// The three colour bytes of four pixels, the fourth zeroed.
inline __m128i Load4(const std::uint8_t* p) {
  return _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), _mm_set1_epi32(0x00FFFFFF));
}

inline unsigned Lanes4(__m128i allOnesWhereTrue) {
  return static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(allOnesWhereTrue)));
}

// Whether one pixel's colour passes the colour test; the scalar twin of
// ColourLanes, for the pixels past the last group of four.
bool ColourFits(const PlainColour& pc, ColorValue v) {
  if (pc.kind == PlainColour::kAny) return true;
  std::int32_t most = 0, sum = 0;
  for (int shift = 0; shift <= 16; shift += 8) {
    const auto a = static_cast<std::int32_t>(v >> shift & 0xFFu);
    const auto b = static_cast<std::int32_t>(pc.colour >> shift & 0xFFu);
    const std::int32_t d = a > b ? a - b : b - a;
    most = d > most ? d : most;
    sum += d;
  }
  return most <= pc.channel && (pc.kind == PlainColour::kNear || sum <= pc.sum);
}

// Four lanes: the pixel is within `channel` of the colour in blue, green and
// red, and for the corner test within `sum` in all.
unsigned ColourLanes(const PlainColour& pc, const std::uint8_t* p) {
  const __m128i a = Load4(p);
  const __m128i c = _mm_set1_epi32(static_cast<int>(pc.colour & 0xFFFFFFu));
  const __m128i d = _mm_or_si128(_mm_subs_epu8(a, c), _mm_subs_epu8(c, a));
  const auto n = static_cast<std::uint32_t>(pc.channel);
  const __m128i over = _mm_subs_epu8(d, _mm_set1_epi32(static_cast<int>(n | n << 8 | n << 16)));
  unsigned lanes = Lanes4(_mm_cmpeq_epi32(over, _mm_setzero_si128()));
  if (pc.kind == PlainColour::kCorner) {
    const __m128i byte = _mm_set1_epi32(0xFF);
    const __m128i sum =
        _mm_add_epi32(_mm_add_epi32(_mm_and_si128(d, byte), _mm_and_si128(_mm_srli_epi32(d, 8), byte)),
                      _mm_srli_epi32(d, 16));
    lanes &= ~Lanes4(_mm_cmpgt_epi32(sum, _mm_set1_epi32(pc.sum)));
  }
  return lanes;
}

// Bit j of `row`: pixel j of the screen row at `p` passes the colour test
// and, with `below`, equals pixel j + 1 (the last pixel has none); bit j of
// `down`, with `below`: pixel j equals pixel j of the row at `below`. One
// walk, eight pixels a step.
void RowBits(const std::uint8_t* p, const std::uint8_t* below, std::int64_t width, const PlainColour& pc,
             std::uint64_t* row, std::uint64_t* down) {
  const __m128i zero = _mm_setzero_si128();
  const auto same = [&](const std::uint8_t* a, const std::uint8_t* b) {
    const __m128i x = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a)),
                                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(b)));
    return Lanes4(_mm_cmpeq_epi32(_mm_slli_epi32(x, 8), zero));
  };
  const bool any = pc.kind == PlainColour::kAny;
  std::int64_t j = 0;
  for (; j + 8 < width; j += 8) {
    const std::uint8_t* q = p + 4 * j;
    unsigned lanes = any ? 0xFFu : ColourLanes(pc, q) | ColourLanes(pc, q + 16) << 4;
    if (below != nullptr) {
      lanes &= same(q, q + 4) | same(q + 16, q + 20) << 4;
      down[j / 64] |=
          static_cast<std::uint64_t>(same(q, below + 4 * j) | same(q + 16, below + 4 * j + 16) << 4)
          << (j % 64);
    }
    row[j / 64] |= static_cast<std::uint64_t>(lanes) << (j % 64);
  }
  for (; j < width; ++j) {
    const ColorValue v = Pix(p + 4 * j);
    bool fits = ColourFits(pc, v);
    if (below != nullptr) {
      fits = fits && j + 1 < width && v == Pix(p + 4 * j + 4);
      if (v == Pix(below + 4 * j)) down[j / 64] |= 1ull << (j % 64);
    }
    if (fits) row[j / 64] |= 1ull << (j % 64);
  }
}

// Bit x of `row` becomes: bits x .. x + length - 1 were all set. Each round
// doubles the stretch that is known to be set, up to `length`.
void KeepStretchStarts(std::uint64_t* row, std::int64_t words, std::int64_t length, std::uint64_t* tmp) {
  if (length <= 0) {
    for (std::int64_t i = 0; i < words; ++i) row[i] = ~0ull;
    return;
  }
  for (std::int64_t have = 1; have < length;) {
    const std::int64_t step = have * 2 <= length ? have : length - have;
    const std::int64_t q = step / 64, m = step % 64;
    for (std::int64_t i = 0; i < words; ++i) {
      std::uint64_t v = i + q < words ? row[i + q] >> m : 0;
      if (m != 0 && i + q + 1 < words) v |= row[i + q + 1] << (64 - m);
      tmp[i] = v;
    }
    for (std::int64_t i = 0; i < words; ++i) row[i] &= tmp[i];
    have += step;
  }
}

}  // namespace

PlainColour PlainColour::For(const ScanSetup& s, const BitmapRecord& templ, const ScanOrder& order,
                             const ColorTest& test) {
  PlainColour pc;
  if (s.colors != nullptr) {
    pc.kind = kNear;
    pc.colour = s.colors->At(s.colors->pixels);
    pc.channel = s.tolerance;
  } else if (test.tolerance && order.skip == 0) {
    // A skip count passes over matching windows before any corner test, so
    // only without one is the corner test part of what a window must show.
    pc.kind = kCorner;
    pc.colour = TemplateCornerColor(templ, test.corner);
    pc.channel = test.channelTolerance;
    pc.sum = test.sumTolerance;
  }
  return pc;
}

bool PlainWindows::Applies(const ScanSetup& s) {
  const std::int64_t n = static_cast<std::int64_t>(s.templateWidth) * s.templateHeight;
  if (s.opaque != nullptr || n <= 0) return false;
  if (s.colors == nullptr) {
    if (s.map == nullptr || s.shape) return false;
    for (std::int64_t k = 0; k < n; ++k) {
      if (s.map[k] != 0) return false;
    }
    return true;
  }
  if (s.allowedMisses != 0) return false;
  const TemplateColors& t = *s.colors;
  const ColorValue first = t.At(t.pixels);
  for (std::int32_t r = 0; r < s.templateHeight; ++r) {
    const std::uint8_t* q = t.pixels + static_cast<std::ptrdiff_t>(r) * t.stride;
    for (std::int32_t c = 0; c < s.templateWidth; ++c, q += t.bytesPerPixel) {
      if (t.At(q) != first) return false;
    }
  }
  return true;
}

PlainWindows::PlainWindows(const ScanSetup& s, const Candidates& c, const PlainColour& colour)
    : s_(s), c_(c), colour_(colour), pattern_(s.colors == nullptr) {
  rows_ = static_cast<std::int64_t>(c.lastY) + s.templateHeight - c.firstY;
  words_ = (static_cast<std::int64_t>(s.width) + 63) / 64;
  span_ = pattern_ ? s.templateHeight - 1 : s.templateHeight;
  group_ = span_ > 0 ? span_ : 1;
  const std::int64_t total = (3 * rows_ + 3) * words_ + rows_ / group_ / 8 + 1;
  if (c.columns <= 0 || c.rows <= 0 || total * 8 > 0x7FFFFFFF) return;
  block_ =
      static_cast<std::uint64_t*>(platform::Current().allocZeroed(static_cast<std::uint32_t>(total * 8)));
  if (block_ == nullptr) return;
  fits_ = block_;
  starts_ = fits_ + rows_ * words_;
  ends_ = starts_ + rows_ * words_;
  columns_ = ends_ + rows_ * words_;
  scratch_ = columns_ + words_;
  built_ = reinterpret_cast<std::uint8_t*>(scratch_ + words_);
  for (std::int64_t x = c.firstX; x <= c.lastX; ++x) columns_[x / 64] |= 1ull << (x % 64);
}

PlainWindows::~PlainWindows() {
  if (block_ != nullptr) platform::Current().freeBlock(block_);
}

// Row b of the band: where a template row fits (fits_), and what the running
// AND combines (starts_): in pattern mode also that the pixel below is the
// same colour, so that the window's rows share one colour.
void PlainWindows::BuildRow(std::int64_t b, std::uint64_t* tmp) const {
  const std::int32_t y = static_cast<std::int32_t>(c_.firstY + b);
  std::uint64_t* fits = fits_ + b * words_;
  std::uint64_t* combined = starts_ + b * words_;
  // The last row of the band has no row below that a window reaches.
  const bool down = pattern_ && b + 1 < rows_;
  const std::uint8_t* p = TopLeftOf(s_, 0, y);
  RowBits(p, down ? TopLeftOf(s_, 0, y + 1) : nullptr, s_.width, colour_, fits, combined);
  if (pattern_ && !down) {
    // Without a row below, the equal-neighbour bits are worked out alone.
    const std::uint8_t* self = p;
    for (std::int64_t i = 0; i < words_; ++i) fits[i] = 0;
    RowBits(p, self, s_.width, colour_, fits, tmp);
  }
  // Pattern mode: pixels x .. x + tw - 1 are one colour when each of the
  // first tw - 1 equals the next; near mode: all tw are near the colour.
  KeepStretchStarts(fits, words_, pattern_ ? s_.templateWidth - 1 : s_.templateWidth, tmp);
  if (pattern_ && s_.templateWidth == 1 && colour_.kind != PlainColour::kAny) {
    for (std::int64_t i = 0; i < words_; ++i) fits[i] = 0;
    RowBits(p, nullptr, s_.width, colour_, fits, tmp);
  }
  for (std::int64_t i = 0; i < words_; ++i) combined[i] = (pattern_ && down ? combined[i] : ~0ull) & fits[i];
}

// The running AND over span_ rows, in groups of span_ rows: ends_ holds for
// each row the AND from it to its group's last row, starts_ (in place) the
// AND from its group's first row to it; a window of span_ rows from row y on
// is then ends_[y] & starts_[y + span_ - 1]. Groups are worked out when a
// window first needs them, so a scan that ends early reads few rows.
void PlainWindows::EnsureGroup(std::int64_t g) const {
  if (built_[g] != 0) return;
  built_[g] = 1;
  const std::int64_t first = g * group_;
  const std::int64_t last = first + group_ - 1 < rows_ - 1 ? first + group_ - 1 : rows_ - 1;
  for (std::int64_t b = first; b <= last; ++b) BuildRow(b, scratch_);
  for (std::int64_t b = last; b >= first; --b) {
    const std::uint64_t* from = starts_ + b * words_;
    std::uint64_t* e = ends_ + b * words_;
    for (std::int64_t i = 0; i < words_; ++i) e[i] = b == last ? from[i] : from[i] & e[i + words_];
  }
  for (std::int64_t b = first + 1; b <= last; ++b) {
    std::uint64_t* from = starts_ + b * words_;
    for (std::int64_t i = 0; i < words_; ++i) from[i] &= from[i - words_];
  }
}

// The candidates of screen-row band row b (a window's top row) that match.
const std::uint64_t* PlainWindows::MatchRow(std::int64_t b, std::uint64_t* out) const {
  const std::int64_t lastRow = b + s_.templateHeight - 1;
  for (std::int64_t g = b / group_; g <= lastRow / group_; ++g) EnsureGroup(g);
  for (std::int64_t i = 0; i < words_; ++i) {
    std::uint64_t m = columns_[i];
    if (span_ > 0) m &= ends_[b * words_ + i] & starts_[(b + span_ - 1) * words_ + i];
    // Pattern mode: the window's last row is not tied to a row below it.
    if (pattern_) m &= fits_[(b + s_.templateHeight - 1) * words_ + i];
    out[i] = m;
  }
  return out;
}

ScanHit PlainWindows::Scan(Acceptance& acceptance, std::int64_t resumeAt) const {
  return c_.order.columnsOuter ? ScanColumns(acceptance, resumeAt) : ScanRows(acceptance, resumeAt);
}

ScanHit PlainWindows::ScanRows(Acceptance& acceptance, std::int64_t resumeAt) const {
  const bool rightToLeft = c_.order.rightToLeft;
  for (std::int64_t i = 0; i < c_.rows; ++i) {
    const std::int32_t y = c_.RowAt(i);
    const std::uint64_t* m = MatchRow(y - c_.firstY, scratch_);
    for (std::int64_t k = 0; k < words_; ++k) {
      const std::int64_t w = rightToLeft ? words_ - 1 - k : k;
      std::uint64_t bits = m[w];
      while (bits != 0) {
        const int bit = rightToLeft ? 63 - __builtin_clzll(bits) : __builtin_ctzll(bits);
        bits &= ~(1ull << bit);
        const auto x = static_cast<std::int32_t>(w * 64 + bit);
        if (c_.IndexOf(x, y) >= resumeAt && acceptance.Accept(x, y)) return ScanHit{true, x, y};
      }
    }
  }
  return ScanHit{false, 0, 0};
}

// Column by column: the match rows are worked out once (over ends_, which
// each row's own window no longer needs), then each block of 64 columns is
// walked column by column over the rows where any of them matches.
ScanHit PlainWindows::ScanColumns(Acceptance& acceptance, std::int64_t resumeAt) const {
  std::uint64_t* matches = ends_;
  for (std::int64_t b = 0; b < c_.rows; ++b) {
    MatchRow(b, scratch_);
    for (std::int64_t i = 0; i < words_; ++i) matches[b * words_ + i] = scratch_[i];
  }
  // Rows with a match in the block, in visiting order, kept in starts_.
  auto* live = reinterpret_cast<std::int32_t*>(starts_);
  const bool rightToLeft = c_.order.rightToLeft;
  for (std::int64_t k = 0; k < words_; ++k) {
    const std::int64_t w = rightToLeft ? words_ - 1 - k : k;
    std::int64_t count = 0;
    std::uint64_t any = 0;
    for (std::int64_t i = 0; i < c_.rows; ++i) {
      const std::uint64_t m = matches[(c_.RowAt(i) - c_.firstY) * words_ + w];
      if (m != 0) live[count++] = c_.RowAt(i);
      any |= m;
    }
    while (any != 0) {
      const int bit = rightToLeft ? 63 - __builtin_clzll(any) : __builtin_ctzll(any);
      any &= ~(1ull << bit);
      const auto x = static_cast<std::int32_t>(w * 64 + bit);
      for (std::int64_t j = 0; j < count; ++j) {
        const std::int32_t y = live[j];
        if ((matches[(y - c_.firstY) * words_ + w] >> bit & 1) == 0) continue;
        if (c_.IndexOf(x, y) >= resumeAt && acceptance.Accept(x, y)) return ScanHit{true, x, y};
      }
    }
  }
  return ScanHit{false, 0, 0};
}

}  // namespace zadized
