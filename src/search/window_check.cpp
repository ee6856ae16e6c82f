#include "search/window_check.h"

#include <cstring>

#include "image/pixel.h"
#include "platform/platform.h"

namespace zadized {

namespace {

inline ColorValue Pix(const std::uint8_t* p) { return MaskPixel(p, 3); }

// Whether the map numbers the values of the pixels that take part by first
// appearance, as BuildColorMap's pattern maps do; the check below relies on it.
bool IsFirstAppearanceNumbering(const ScanSetup& s, std::int64_t n) {
  std::int32_t next = 0;
  for (std::int64_t k = 0; k < n; ++k) {
    if (!TakesPart(s, k)) continue;
    if (s.map[k] > next) return false;
    if (s.map[k] == next && next < 256) ++next;
  }
  return true;
}

// A set of up to 255 colours, for windows whose map numbers many values.
class ColorSet {
 public:
  ColorSet() { std::memset(slots_, 0xFF, sizeof slots_); }
  // False when the colour was already in the set.
  bool Insert(ColorValue v) {
    for (std::uint32_t i = Hash(v);; i = (i + 1) & (kSlots - 1)) {
      if (slots_[i] == kEmpty) {
        slots_[i] = v;
        return true;
      }
      if (slots_[i] == v) return false;
    }
  }
  bool Contains(ColorValue v) const {
    for (std::uint32_t i = Hash(v);; i = (i + 1) & (kSlots - 1)) {
      if (slots_[i] == v) return true;
      if (slots_[i] == kEmpty) return false;
    }
  }

 private:
  static constexpr std::uint32_t kSlots = 512;
  static constexpr ColorValue kEmpty = 0xFFFFFFFFu;  // no 24-bit colour
  static std::uint32_t Hash(ColorValue v) { return (v * 2654435761u) >> 23; }
  ColorValue slots_[kSlots];
};

// Up to this many representatives are compared pairwise; more go through a
// ColorSet.
constexpr std::int32_t kPairwiseNumbers = 24;

}  // namespace

// A pixel's byte offset from the window's top-left pixel, and its map index.
struct WindowCheck::Geometry {
  std::int64_t tw, th;
  std::ptrdiff_t stride;
  std::ptrdiff_t Offset(std::int64_t column, std::int64_t fromTop) const {
    return static_cast<std::ptrdiff_t>(column * 4) - static_cast<std::ptrdiff_t>(fromTop) * stride;
  }
  std::ptrdiff_t OffsetOf(std::int64_t k) const { return Offset(k % tw, th - 1 - k / tw); }
  std::int64_t IndexOf(std::int64_t column, std::int64_t fromTop) const {
    return (th - 1 - fromTop) * tw + column;
  }
};

WindowCheck::WindowCheck(const ScanSetup& s, bool deferred) : s_(s), shape_(s.shape) {
  if (!deferred) Build();
}

bool WindowCheck::Build() {
  if (built_) return Ready();
  built_ = true;
  const ScanSetup& s = s_;
  const std::int64_t tw = s.templateWidth, th = s.templateHeight;
  if (s.map == nullptr || tw <= 0 || th <= 0 ||
      tw * th > 0x7FFFFFFF / static_cast<std::int64_t>(sizeof(std::ptrdiff_t))) {
    return false;
  }
  const Geometry g{tw, th, static_cast<std::ptrdiff_t>(s.width) * 4};
  if (shape_) {
    BuildShape(s, g);
  } else if (IsFirstAppearanceNumbering(s, tw * th)) {
    BuildPattern(s, g);
  }
  return Ready();
}

bool WindowCheck::Allocate(std::int64_t entries) {
  const platform::Ops& os = platform::Current();
  const auto bytes = static_cast<std::uint32_t>((entries > 0 ? entries : 1) *
                                                static_cast<std::int64_t>(sizeof(std::ptrdiff_t)));
  offsets_ = static_cast<std::ptrdiff_t*>(os.allocZeroed(bytes));
  partners_ = static_cast<std::ptrdiff_t*>(os.allocZeroed(bytes));
  if (offsets_ != nullptr && partners_ != nullptr) return true;
  if (offsets_ != nullptr) os.freeBlock(offsets_);
  if (partners_ != nullptr) os.freeBlock(partners_);
  offsets_ = nullptr;
  partners_ = nullptr;
  return false;
}

void WindowCheck::BuildShape(const ScanSetup& s, const Geometry& g) {
  const std::uint8_t* m = s.map;
  const std::int64_t n = g.tw * g.th;
  std::int64_t marked = 0, counted = 0, firstMarked = -1, unmarked = 0;
  for (std::int64_t k = 0; k < n; ++k) {
    if (!TakesPart(s, k)) continue;
    if (m[k] != 0) {
      if (firstMarked < 0)
        firstMarked = k;
      else
        ++marked;
    } else {
      ++unmarked;
      if (firstMarked >= 0) ++counted;
    }
  }
  if (firstMarked < 0) return;
  limit_ = unmarked / 3;
  // Background that could never exceed the limit needs no counting.
  if (counted <= limit_) counted = 0;
  if (!Allocate(marked + counted)) return;
  first_ = g.OffsetOf(firstMarked);
  std::int64_t a = 0, b = marked;
  InSpreadOrder(g.tw, g.th, [&](std::int64_t column, std::int64_t row) {
    const std::int64_t k = g.IndexOf(column, row);
    if (!TakesPart(s, k)) return;
    if (m[k] != 0 && k != firstMarked) {
      offsets_[a] = g.Offset(column, row);
      partners_[a++] = first_;
    } else if (m[k] == 0 && k > firstMarked && counted > 0) {
      offsets_[b++] = g.Offset(column, row);
    }
  });
  equalEntries_ = marked;
  count_ = marked + counted;
}

void WindowCheck::BuildPattern(const ScanSetup& s, const Geometry& g) {
  const std::uint8_t* m = s.map;
  const std::int64_t n = g.tw * g.th;
  // Each number's first pixel carries no entry of its own: the others are
  // checked against it.
  std::int64_t equal = 0, beyond = 0;
  std::int64_t repIndex[256];
  for (auto& r : repIndex) r = -1;
  for (std::int64_t k = 0; k < n; ++k) {
    if (!TakesPart(s, k)) continue;
    if (m[k] == 255) {
      ++beyond;
    } else if (repIndex[m[k]] < 0) {
      repIndex[m[k]] = k;
    } else {
      ++equal;
    }
  }
  if (!Allocate(equal + beyond)) return;
  for (std::int32_t c = 0; c < 256 && repIndex[c] >= 0; ++c) {
    reps_[c] = g.OffsetOf(repIndex[c]);
    numbers_ = c + 1;
  }
  std::int64_t a = 0, b = equal;
  InSpreadOrder(g.tw, g.th, [&](std::int64_t column, std::int64_t row) {
    const std::int64_t k = g.IndexOf(column, row);
    if (!TakesPart(s, k)) return;
    if (m[k] == 255) {
      offsets_[b++] = g.Offset(column, row);
    } else if (repIndex[m[k]] != k) {
      offsets_[a] = g.Offset(column, row);
      partners_[a++] = reps_[m[k]];
    }
  });
  equalEntries_ = equal;
  count_ = equal + beyond;
}

WindowCheck::~WindowCheck() {
  const platform::Ops& os = platform::Current();
  if (offsets_ != nullptr) os.freeBlock(offsets_);
  if (partners_ != nullptr) os.freeBlock(partners_);
}

WindowCheck::Verdict WindowCheck::Examine(const std::uint8_t* p, PixelPair* out) const {
  return shape_ ? ExamineShape(p, out) : ExaminePattern(p, out);
}

WindowCheck::Verdict WindowCheck::ExamineShape(const std::uint8_t* p, PixelPair* out) const {
  if (!EqualEntriesHold(p, out)) return kFailsOnPair;
  const ColorValue shape = Pix(p + first_);
  std::int64_t inShapeColor = 0;
  for (std::int64_t i = equalEntries_; i < count_; ++i) {
    if (Pix(p + offsets_[i]) == shape && ++inShapeColor > limit_) return kFailsOnCount;
  }
  return kMatch;
}

bool WindowCheck::EqualEntriesHold(const std::uint8_t* p, PixelPair* out) const {
  for (std::int64_t i = 0; i < equalEntries_; ++i) {
    if (Pix(p + offsets_[i]) != Pix(p + partners_[i])) {
      if (out != nullptr) *out = PixelPair{offsets_[i], partners_[i], true};
      return false;
    }
  }
  return true;
}

WindowCheck::Verdict WindowCheck::ExaminePattern(const std::uint8_t* p, PixelPair* out) const {
  // Numbers below 255 name one colour each, so their representatives show
  // different colours; number 255 is every colour past the first 255.
  const std::int32_t named = numbers_ < 255 ? numbers_ : 255;
  ColorValue repColor[255];
  const auto differentReps = [&]() {
    for (std::int32_t c = 0; c < named; ++c) repColor[c] = Pix(p + reps_[c]);
    for (std::int32_t c = 1; c < named; ++c) {
      for (std::int32_t d = 0; d < c; ++d) {
        if (repColor[c] == repColor[d]) {
          if (out != nullptr) *out = PixelPair{reps_[c], reps_[d], false};
          return false;
        }
      }
    }
    return true;
  };
  // Few representatives are cheap to tell apart, and a window over a plain
  // area fails there at once; many are left until the equal pixels held.
  const bool few = named <= kPairwiseNumbers;
  if (few && !differentReps()) return kFailsOnPair;
  if (!EqualEntriesHold(p, out)) return kFailsOnPair;
  // Number 255 is in use only when 255 numbers before it are.
  if (few) return kMatch;
  ColorSet set;
  for (std::int32_t c = 0; c < named; ++c) {
    repColor[c] = Pix(p + reps_[c]);
    if (!set.Insert(repColor[c])) {
      if (out != nullptr) differentReps();  // only to name the pair
      return kFailsOnPair;
    }
  }
  for (std::int64_t i = equalEntries_; i < count_; ++i) {
    const ColorValue v = Pix(p + offsets_[i]);
    if (set.Contains(v)) {
      if (out != nullptr) {
        for (std::int32_t c = 0; c < named; ++c) {
          if (repColor[c] == v) *out = PixelPair{offsets_[i], reps_[c], false};
        }
      }
      return kFailsOnPair;
    }
  }
  return kMatch;
}

}  // namespace zadized
