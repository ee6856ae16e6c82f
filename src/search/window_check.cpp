#include "search/window_check.h"

#include <cstring>

#include "image/pixel.h"
#include "platform/platform.h"

namespace zadized {

namespace {

inline ColorValue Pix(const std::uint8_t* p) { return MaskPixel(p, 3); }

// Whether `map` numbers its values by first appearance, as BuildColorMap's
// pattern maps do; the check below relies on it.
bool IsFirstAppearanceNumbering(const std::uint8_t* map, std::int64_t n) {
  std::int32_t next = 0;
  for (std::int64_t k = 0; k < n; ++k) {
    if (map[k] > next) return false;
    if (map[k] == next && next < 256) ++next;
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

WindowCheck::WindowCheck(const ScanSetup& s) : shape_(s.shape) {
  const std::int64_t tw = s.templateWidth, th = s.templateHeight;
  const std::int64_t n = tw * th;
  const std::uint8_t* m = s.map;
  if (s.map == nullptr || tw <= 0 || th <= 0 ||
      n > 0x7FFFFFFF / static_cast<std::int64_t>(sizeof(std::ptrdiff_t))) {
    return;
  }
  if (!shape_ && !IsFirstAppearanceNumbering(m, n)) return;
  const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(s.width) * 4;
  const auto offset = [&](std::int64_t column, std::int64_t rowFromTop) {
    return static_cast<std::ptrdiff_t>(column * 4) - static_cast<std::ptrdiff_t>(rowFromTop) * stride;
  };
  const auto indexOf = [&](std::int64_t column, std::int64_t rowFromTop) {
    return (th - 1 - rowFromTop) * tw + column;
  };

  // Which pixels carry no entry of their own, and how the entries split.
  std::int64_t firstGroup = 0, secondGroup = 0, firstMarked = -1, unmarked = 0;
  std::int64_t repIndex[256];
  for (auto& r : repIndex) r = -1;
  for (std::int64_t k = 0; k < n; ++k) {
    if (shape_) {
      if (m[k] != 0) {
        if (firstMarked < 0) {
          firstMarked = k;
        } else {
          ++firstGroup;
        }
      } else {
        ++unmarked;
        if (firstMarked >= 0) ++secondGroup;
      }
    } else if (repIndex[m[k]] < 0 && m[k] != 255) {
      repIndex[m[k]] = k;
    } else if (m[k] == 255) {
      ++secondGroup;
    } else {
      ++firstGroup;
    }
  }
  if (shape_) {
    if (firstMarked < 0) return;
    limit_ = unmarked / 3;
    // Background that could never exceed the limit needs no counting.
    if (secondGroup <= limit_) secondGroup = 0;
  }

  const platform::Ops& os = platform::Current();
  const std::int64_t entries = firstGroup + secondGroup;
  const auto bytes = static_cast<std::uint32_t>((entries > 0 ? entries : 1) *
                                                static_cast<std::int64_t>(sizeof(std::ptrdiff_t)));
  offsets_ = static_cast<std::ptrdiff_t*>(os.allocZeroed(bytes));
  partners_ = static_cast<std::ptrdiff_t*>(os.allocZeroed(bytes));
  if (offsets_ == nullptr || partners_ == nullptr) {
    if (offsets_ != nullptr) os.freeBlock(offsets_);
    if (partners_ != nullptr) os.freeBlock(partners_);
    offsets_ = nullptr;
    partners_ = nullptr;
    return;
  }

  std::int64_t a = 0, b = firstGroup;
  if (shape_) {
    first_ = offset(firstMarked % tw, th - 1 - firstMarked / tw);
    InSpreadOrder(tw, th, [&](std::int64_t column, std::int64_t row) {
      const std::int64_t k = indexOf(column, row);
      if (m[k] != 0 && k != firstMarked) {
        offsets_[a] = offset(column, row);
        partners_[a++] = first_;
      } else if (m[k] == 0 && k > firstMarked && secondGroup > 0) {
        offsets_[b++] = offset(column, row);
      }
    });
  } else {
    for (std::int32_t c = 0; c < 256 && repIndex[c] >= 0; ++c) {
      reps_[c] = offset(repIndex[c] % tw, th - 1 - repIndex[c] / tw);
      numbers_ = c + 1;
    }
    InSpreadOrder(tw, th, [&](std::int64_t column, std::int64_t row) {
      const std::int64_t k = indexOf(column, row);
      if (m[k] == 255) {
        offsets_[b++] = offset(column, row);
      } else if (repIndex[m[k]] != k) {
        offsets_[a] = offset(column, row);
        partners_[a++] = reps_[m[k]];
      }
    });
  }
  equalEntries_ = firstGroup;
  count_ = entries;
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
