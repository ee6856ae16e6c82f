#include "memory/raw_access.h"

#include <gtest/gtest.h>
#include <zadized.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/platform_portable.h"

namespace zadized {
namespace {

constexpr std::uint8_t kMarker = 0xA5;

std::uintptr_t At(const void* p) { return reinterpret_cast<std::uintptr_t>(p); }

// A block of exactly `bytes` bytes on the heap, so that the address sanitizer
// reports any read or write one byte past the end.
std::unique_ptr<std::uint8_t[]> Exact(std::vector<std::uint8_t> bytes) {
  auto p = std::make_unique<std::uint8_t[]>(bytes.size());
  std::memcpy(p.get(), bytes.data(), bytes.size());
  return p;
}

std::vector<std::uint8_t> Markers(std::size_t n) { return std::vector<std::uint8_t>(n, kMarker); }

// An address at which nothing may be read or written: any access crashes.
constexpr std::uintptr_t kNowhere = 1;

// ---- Reading values ----

TEST(PtrGetValue, AssemblesLittleEndianWithoutSignExtension) {
  auto b = Exact({0xFF, 0x80, 0x83, 0x84});
  EXPECT_EQ(PtrGetValue(At(b.get()), 1), 255u);
  EXPECT_EQ(PtrGetValue(At(b.get()), 2), 0x80FFu);
  EXPECT_EQ(PtrGetValue(At(b.get()), 3), 0x8380FFu);
  EXPECT_EQ(PtrGetValue(At(b.get()), 4), 0x848380FFu);
  EXPECT_EQ(PtrGetValue(At(b.get() + 1), 3), 0x848380u);  // unaligned
}

TEST(PtrGetValue, SizesAboveFourReadTheFirstFourBytesAndNoMore) {
  // The block ends after byte 4: a fifth read would be reported.
  auto b = Exact({0x01, 0x02, 0x03, 0xF4});
  for (std::uint32_t size : {5u, 6u, 255u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
    EXPECT_EQ(PtrGetValue(At(b.get()), size), 0xF4030201u) << size;
  }
}

TEST(PtrGetValue, SizeZeroIsZeroAndReadsNothing) { EXPECT_EQ(PtrGetValue(kNowhere, 0), 0u); }

TEST(PtrGetArray, ReadsElementsOfEachSize) {
  auto b = Exact({0x10, 0x91, 0x22, 0xB3, 0x44, 0xD5, 0x66, 0xF7});
  EXPECT_EQ(PtrGetArray(At(b.get()), 5, 1), 0xD5u);
  EXPECT_EQ(PtrGetArray(At(b.get()), 1, 2), 0xB322u);
  EXPECT_EQ(PtrGetArray(At(b.get()), 1, 3), 0xD544B3u);
  EXPECT_EQ(PtrGetArray(At(b.get()), 1, 4), 0xF766D544u);
  EXPECT_EQ(PtrGetArray(At(b.get()), 0, 4), 0xB3229110u);
}

TEST(PtrGetArray, NegativeIndexReadsBelowBase) {
  auto b = Exact({0x10, 0x91, 0x22, 0xB3, 0x44, 0xD5, 0x66, 0xF7});
  EXPECT_EQ(PtrGetArray(At(b.get() + 4), -1, 2), 0xB322u);
  EXPECT_EQ(PtrGetArray(At(b.get() + 4), -2, 2), 0x9110u);
  EXPECT_EQ(PtrGetArray(At(b.get() + 8), -1, 4), 0xF766D544u);
  EXPECT_EQ(PtrGetArray(At(b.get() + 3), -3, 1), 0x10u);
}

TEST(PtrGetArray, SizesOutsideOneToFourAreZeroAndReadNothing) {
  auto b = Exact({1, 2, 3, 4, 5, 6, 7, 8});
  for (std::uint32_t size : {0u, 5u, 6u, 0x80000000u, 0xFFFFFFFFu}) {
    EXPECT_EQ(PtrGetArray(At(b.get()), 0, size), 0u) << size;
    EXPECT_EQ(PtrGetArray(kNowhere, 0, size), 0u) << size;
  }
}

// ---- Writing values ----

TEST(PtrPut, WritesTheLowBytesLeastSignificantFirstAndNothingElse) {
  for (std::uint32_t size = 1; size <= 4; ++size) {
    auto buf = Markers(8);
    PtrPut(0x84838281u, At(buf.data() + 2), size);
    std::vector<std::uint8_t> want = Markers(8);
    const std::uint8_t bytes[4] = {0x81, 0x82, 0x83, 0x84};
    for (std::uint32_t i = 0; i < size; ++i) want[2 + i] = bytes[i];
    EXPECT_EQ(buf, want) << size;
  }
}

TEST(PtrPut, SizesOutsideOneToFourWriteNothing) {
  auto buf = Markers(8);
  for (std::uint32_t size : {0u, 5u, 8u, 0x80000000u, 0xFFFFFFFFu}) {
    PtrPut(0x01020304u, At(buf.data()), size);
    EXPECT_EQ(buf, Markers(8)) << size;
    PtrPut(0x01020304u, kNowhere, size);
  }
}

TEST(PtrPutArray, WritesTheElementAtSignedIndex) {
  auto buf = Markers(12);
  PtrPutArray(0xCAFEBABEu, At(buf.data() + 8), -2, 4);
  PtrPutArray(0x77u, At(buf.data() + 8), -3, 1);
  PtrPutArray(0x1234u, At(buf.data() + 8), 1, 2);
  PtrPutArray(0x332211u, At(buf.data()), 2, 3);  // offset 6: the index counts elements, not bytes
  EXPECT_EQ(buf, (std::vector<std::uint8_t>{0xBE, 0xBA, 0xFE, 0xCA, kMarker, 0x77, 0x11, 0x22, 0x33, kMarker,
                                            0x34, 0x12}));
}

TEST(PtrPutArray, SizesOutsideOneToFourWriteNothing) {
  auto buf = Markers(16);
  for (std::uint32_t size : {0u, 5u, 0xFFFFFFFFu}) {
    PtrPutArray(0x01020304u, At(buf.data() + 8), 1, size);
    PtrPutArray(0x01020304u, At(buf.data() + 8), -1, size);
    PtrPutArray(0x01020304u, kNowhere, 0, size);
  }
  EXPECT_EQ(buf, Markers(16));
}

// ---- Copying bytes and strings ----

TEST(PtrCopyData, CopiesExactlyLengthBytes) {
  const std::vector<std::uint8_t> src = {0x00, 0xFF, 0x7F, 0x80, 0x00, 0x01};
  auto dst = Markers(8);
  PtrCopyData(At(src.data()), At(dst.data() + 1), 6);
  EXPECT_EQ(dst, (std::vector<std::uint8_t>{kMarker, 0x00, 0xFF, 0x7F, 0x80, 0x00, 0x01, kMarker}));
  PtrCopyData(kNowhere, kNowhere, 0);  // length 0 touches neither side
}

TEST(PtrCopyData, OverlapAboveTheSourceRepeatsItsFirstBytes) {
  std::vector<std::uint8_t> buf = {1, 2, 3, 4, 5, 6, 7};
  PtrCopyData(At(buf.data()), At(buf.data() + 1), 4);
  EXPECT_EQ(buf, (std::vector<std::uint8_t>{1, 1, 1, 1, 1, 6, 7}));
  buf = {1, 2, 3, 4, 5, 6, 7};
  PtrCopyData(At(buf.data()), At(buf.data() + 2), 5);  // a two-byte pattern
  EXPECT_EQ(buf, (std::vector<std::uint8_t>{1, 2, 1, 2, 1, 2, 1}));
  buf = {1, 2, 3, 4, 5, 6, 7};
  PtrCopyData(At(buf.data() + 1), At(buf.data()), 5);  // below the source: a plain shift
  EXPECT_EQ(buf, (std::vector<std::uint8_t>{2, 3, 4, 5, 6, 6, 7}));
}

TEST(PtrCopyData, LongOverlappingCopiesRepeatTheirPatternThroughout) {
  // Long enough for a vectorised loop; every distance below a vector's width.
  for (std::uint32_t distance = 1; distance <= 17; ++distance) {
    std::vector<std::uint8_t> buf(300);
    for (std::size_t i = 0; i < buf.size(); ++i) buf[i] = static_cast<std::uint8_t>(i + 1);
    PtrCopyData(At(buf.data()), At(buf.data() + distance), 250);
    for (std::size_t i = 0; i < 250 + distance; ++i) {
      ASSERT_EQ(buf[i], i % distance + 1) << "distance " << distance << ", byte " << i;
    }
    for (std::size_t i = 250 + distance; i < buf.size(); ++i)
      ASSERT_EQ(buf[i], static_cast<std::uint8_t>(i + 1));
  }
}

TEST(PtrCopyData, NegativeLengthCopiesAStringCutTo256Characters) {
  // 300 characters, no NUL within the first 256: the copy stops at 256 and
  // writes one NUL; byte 257 (the 258th) keeps its marker.
  std::string longText(300, 'x');
  for (std::size_t i = 0; i < longText.size(); ++i) longText[i] = static_cast<char>('A' + i % 26);
  auto dst = Markers(300);
  PtrCopyData(At(longText.c_str()), At(dst.data()), -1);
  for (std::size_t i = 0; i < 256; ++i) ASSERT_EQ(dst[i], static_cast<std::uint8_t>(longText[i])) << i;
  EXPECT_EQ(dst[256], 0);
  for (std::size_t i = 257; i < 300; ++i) ASSERT_EQ(dst[i], kMarker) << i;
}

TEST(PtrCopyData, StringCopyReadsNoMoreThan256SourceBytes) {
  // The source block holds 256 non-NUL bytes and ends there.
  auto src = Exact(std::vector<std::uint8_t>(256, 0xE9));
  auto dst = Markers(258);
  PtrCopyData(At(src.get()), At(dst.data()), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(std::vector<std::uint8_t>(dst.begin(), dst.begin() + 256), std::vector<std::uint8_t>(256, 0xE9));
  EXPECT_EQ(dst[256], 0);
  EXPECT_EQ(dst[257], kMarker);
}

TEST(PtrCopyData, StringCopyStopsAtTheNul) {
  for (std::size_t n : {0u, 1u, 5u, 255u, 256u}) {
    const std::string text(n, 'q');
    auto dst = Markers(260);
    PtrCopyData(At(text.c_str()), At(dst.data()), -7);
    std::vector<std::uint8_t> want = Markers(260);
    std::fill(want.begin(), want.begin() + static_cast<std::ptrdiff_t>(n), 'q');
    want[n] = 0;
    EXPECT_EQ(dst, want) << n;
  }
}

TEST(PtrPutString, IsPtrCopyDataWithTheSameArguments) {
  const std::vector<std::uint8_t> src = {9, 8, 0, 7};
  auto dst = Markers(6);
  PtrPutString(At(src.data()), At(dst.data()), 4);
  EXPECT_EQ(dst, (std::vector<std::uint8_t>{9, 8, 0, 7, kMarker, kMarker}));
  dst = Markers(6);
  PtrPutString(At(src.data()), At(dst.data()), -1);
  EXPECT_EQ(dst, (std::vector<std::uint8_t>{9, 8, 0, kMarker, kMarker, kMarker}));
  std::vector<std::uint8_t> buf = {5, 6, 7, 8};
  PtrPutString(At(buf.data()), At(buf.data() + 1), 3);
  EXPECT_EQ(buf, (std::vector<std::uint8_t>{5, 5, 5, 5}));
}

// ---- The string result buffer ----

TEST(PtrGetString, CopiesIntoOneSharedBuffer) {
  const char* first = "first text";
  const char* second = "2nd";
  const std::uintptr_t a = PtrGetString(At(first), 1);
  EXPECT_EQ(a, At(StringResultBuffer));
  EXPECT_STREQ(reinterpret_cast<const char*>(a), "first text");
  const std::uintptr_t b = PtrGetString(At(second), -5);
  EXPECT_EQ(b, a);
  // The shorter text ends with its own NUL; what follows is not looked at.
  EXPECT_STREQ(reinterpret_cast<const char*>(b), "2nd");
}

TEST(PtrGetString, FlagZeroEmptiesTheBufferWithoutReadingTheSource) {
  PtrGetString(At("not empty"), 1);
  const std::uintptr_t r = PtrGetString(kNowhere, 0);
  EXPECT_EQ(r, At(StringResultBuffer));
  EXPECT_EQ(StringResultBuffer[0], '\0');
}

TEST(PtrGetString, CutsLongTextTo256CharactersAndANul) {
  std::string text(300, 'z');
  text[255] = 'L';
  text[256] = 'X';
  PtrGetString(At(text.c_str()), 1);
  EXPECT_EQ(std::string(StringResultBuffer), std::string(255, 'z') + "L");
  EXPECT_EQ(StringResultBuffer[256], '\0');
  PtrGetString(At(""), 1);
  EXPECT_EQ(StringResultBuffer[0], '\0');
  EXPECT_EQ(StringResultBuffer[1], 'z');  // only the NUL was written
}

// ---- Blocks ----

struct BlockCalls {
  static inline int allocs = 0;
  static inline int frees = 0;
  static inline std::uint32_t lastSize = 0;
  static inline void* lastFreed = nullptr;
  static inline bool refuse = false;

  static void* Alloc(std::uint32_t bytes) {
    ++allocs;
    lastSize = bytes;
    return refuse ? nullptr : platform::Native().allocZeroed(bytes);
  }
  static void* Free(void* block) {
    ++frees;
    lastFreed = block;
    return refuse ? block : platform::Native().freeBlock(block);
  }
};

class Blocks : public ::testing::Test {
 protected:
  void SetUp() override {
    BlockCalls::allocs = BlockCalls::frees = 0;
    BlockCalls::lastSize = 0;
    BlockCalls::lastFreed = nullptr;
    BlockCalls::refuse = false;
    ops_ = platform::Native();
    ops_.allocZeroed = &BlockCalls::Alloc;
    ops_.freeBlock = &BlockCalls::Free;
    platform::Override(&ops_);
  }
  void TearDown() override { platform::Override(nullptr); }

  platform::Ops ops_{};
};

TEST_F(Blocks, CreateBufferGivesAZeroFilledWritableBlock) {
  const auto live = platform::Live().blocks;
  const std::uintptr_t block = CreateBuffer(24);
  ASSERT_NE(block, 0u);
  EXPECT_EQ(BlockCalls::allocs, 1);
  EXPECT_EQ(BlockCalls::lastSize, 24u);
  EXPECT_EQ(platform::Live().blocks, live + 1);
  for (std::uint32_t i = 0; i < 6; ++i)
    EXPECT_EQ(PtrGetArray(block, static_cast<std::int32_t>(i), 4), 0u) << i;
  PtrPutArray(0xDEADBEEFu, block, 5, 4);
  EXPECT_EQ(PtrGetValue(block + 20, 4), 0xDEADBEEFu);
  EXPECT_EQ(DeleteBuffer(block), 0u);
  EXPECT_EQ(BlockCalls::frees, 1);
  EXPECT_EQ(BlockCalls::lastFreed, reinterpret_cast<void*>(block));
  EXPECT_EQ(platform::Live().blocks, live);
}

TEST_F(Blocks, ZeroSizeAndZeroAddressNeverReachTheSystem) {
  EXPECT_EQ(CreateBuffer(0), 0u);
  EXPECT_EQ(DeleteBuffer(0), 0u);
  EXPECT_EQ(BlockCalls::allocs, 0);
  EXPECT_EQ(BlockCalls::frees, 0);
}

TEST_F(Blocks, TheSystemsAnswersPassThrough) {
  BlockCalls::refuse = true;
  EXPECT_EQ(CreateBuffer(0xFFFFFFF0u), 0u);
  EXPECT_EQ(BlockCalls::lastSize, 0xFFFFFFF0u);  // the size is not cut or signed
  std::uint8_t local[4];
  EXPECT_EQ(DeleteBuffer(At(local)), At(local));  // refused: the address comes back
  EXPECT_EQ(BlockCalls::frees, 1);
}

TEST(PtrGet, ReturnsItsArgument) {
  int variable = 0;
  EXPECT_EQ(PtrGet(At(&variable)), At(&variable));
  EXPECT_EQ(PtrGet(0), 0u);
  EXPECT_EQ(PtrGet(0xFFFFFFFFu), 0xFFFFFFFFu);
}

// ---- The export layer passes every argument in its place ----

TEST(MemoryExports, PassArgumentsInTheirOrder) {
  auto buf = Markers(8);
  ::PtrPut(0x44332211u, At(buf.data()), 3);
  EXPECT_EQ(::PtrGetValue(At(buf.data()), 2), 0x2211u);
  ::PtrPutArray(0x66u, At(buf.data() + 4), -1, 1);
  EXPECT_EQ(::PtrGetArray(At(buf.data() + 7), -2, 2), 0xA566u);
  EXPECT_EQ(buf, (std::vector<std::uint8_t>{0x11, 0x22, 0x33, 0x66, kMarker, kMarker, kMarker, kMarker}));

  ::PtrCopyData(At(buf.data()), At(buf.data() + 4), 2);
  ::PtrPutString(At(buf.data() + 2), At(buf.data() + 6), 2);
  EXPECT_EQ(buf, (std::vector<std::uint8_t>{0x11, 0x22, 0x33, 0x66, 0x11, 0x22, 0x33, 0x66}));

  EXPECT_EQ(::PtrGetString(At("host"), 1), At(StringResultBuffer));
  EXPECT_STREQ(StringResultBuffer, "host");
  EXPECT_EQ(::PtrGetString(kNowhere, 0), At(StringResultBuffer));
  EXPECT_STREQ(StringResultBuffer, "");

  EXPECT_EQ(::PtrGet(0x12345678u), 0x12345678u);
  const std::uintptr_t block = ::CreateBuffer(8);
  ASSERT_NE(block, 0u);
  EXPECT_EQ(::PtrGetValue(block + 4, 4), 0u);
  EXPECT_EQ(::DeleteBuffer(block), 0u);
  EXPECT_EQ(::CreateBuffer(0), 0u);
  EXPECT_EQ(::DeleteBuffer(0), 0u);
}

}  // namespace
}  // namespace zadized
