// Memory blocks and raw access through the real exports, called as a
// scripting host calls them: integers in, integers out (addresses as wide as
// a pointer), in x86 the callee clearing its own arguments.
#include <string>
#include <vector>

#include "harness.h"

namespace {

constexpr std::uint8_t kMarker = 0xA5;
constexpr harness::Word kNowhere = 1;  // no page is mapped there

using harness::Addr;
using harness::Arg32;
using harness::Call;
using harness::CallAddress;
using harness::Word;

std::uint32_t GetValue(Word a, std::uint32_t size) { return Call("PtrGetValue", {a, Arg32(size)}); }
std::uint32_t GetArray(Word base, std::int32_t index, std::uint32_t size) {
  return Call("PtrGetArray", {base, Arg32(static_cast<std::uint32_t>(index)), Arg32(size)});
}
void Put(std::uint32_t value, Word a, std::uint32_t size) { Call("PtrPut", {Arg32(value), a, Arg32(size)}); }
void PutArray(std::uint32_t value, Word base, std::int32_t index, std::uint32_t size) {
  Call("PtrPutArray", {Arg32(value), base, Arg32(static_cast<std::uint32_t>(index)), Arg32(size)});
}
void CopyData(Word src, Word dst, std::int32_t length) {
  Call("PtrCopyData", {src, dst, Arg32(static_cast<std::uint32_t>(length))});
}
void PutString(Word src, Word dst, std::int32_t length) {
  Call("PtrPutString", {src, dst, Arg32(static_cast<std::uint32_t>(length))});
}
Word GetString(Word src, std::int32_t flag) {
  return CallAddress("PtrGetString", {src, Arg32(static_cast<std::uint32_t>(flag))});
}

std::vector<std::uint8_t> Markers(std::size_t n) { return std::vector<std::uint8_t>(n, kMarker); }

// Compares every byte and names the first that differs.
void ExpectBytes(int line, const std::uint8_t* got, const std::vector<std::uint8_t>& want) {
  for (std::size_t i = 0; i < want.size(); ++i) {
    if (got[i] != want[i]) {
      harness::Fail(__FILE__, line,
                    "byte " + std::to_string(i) + " is " + std::to_string(got[i]) + ", expected " +
                        std::to_string(want[i]));
      return;
    }
  }
}
#define EXPECT_BYTES(got, want) ExpectBytes(__LINE__, (got), (want))

// `n` readable, writable bytes directly followed by a page that faults on any
// access, so a read or write one byte too far ends the program.
struct GuardedTail {
  std::uint8_t* base = nullptr;
  std::uint8_t* bytes = nullptr;
  explicit GuardedTail(const std::vector<std::uint8_t>& content) {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    const DWORD page = info.dwPageSize;
    base =
        static_cast<std::uint8_t*>(VirtualAlloc(nullptr, 2 * page, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    DWORD old = 0;
    if (base == nullptr || !VirtualProtect(base + page, page, PAGE_NOACCESS, &old)) {
      harness::Fail(__FILE__, __LINE__, "cannot set up a guard page");
      return;
    }
    bytes = base + page - content.size();
    std::memcpy(bytes, content.data(), content.size());
  }
  ~GuardedTail() {
    if (base != nullptr) VirtualFree(base, 0, MEM_RELEASE);
  }
  GuardedTail(const GuardedTail&) = delete;
  GuardedTail& operator=(const GuardedTail&) = delete;
};

// First, so that no other call has touched the buffer: flag 0 writes only its
// first byte, and the 256 after it still show the state at load.
TEST_CASE(StringResultBufferIsZeroAtLoadAndLivesInTheLibrary) {
  const Word buffer = GetString(kNowhere, 0);
  CHECK(buffer != 0 && buffer != 0xBAD0BAD0u);
  if (buffer == 0 || buffer == 0xBAD0BAD0u) return;
  EXPECT_BYTES(reinterpret_cast<const std::uint8_t*>(buffer), std::vector<std::uint8_t>(257, 0));
  MEMORY_BASIC_INFORMATION where;
  CHECK(VirtualQuery(reinterpret_cast<const void*>(buffer), &where, sizeof where) != 0);
  CHECK(where.AllocationBase == reinterpret_cast<void*>(harness::Dll()));
}

TEST_CASE(ValuesAreLittleEndianAndNeverSignExtended) {
  const std::vector<std::uint8_t> b = {0xFF, 0x80, 0x83, 0x84, 0x7F};
  CHECK_EQ(GetValue(Addr(b.data()), 1), 255u);
  CHECK_EQ(GetValue(Addr(b.data()), 2), 0x80FFu);
  CHECK_EQ(GetValue(Addr(b.data()), 3), 0x8380FFu);
  CHECK_EQ(GetValue(Addr(b.data()), 4), 0x848380FFu);
  CHECK_EQ(GetValue(Addr(b.data() + 1), 4), 0x7F848380u);
}

TEST_CASE(ValueSizesAboveFourOrNegativeReadFourBytesAndNoMore) {
  GuardedTail t({0x01, 0x92, 0x03, 0xF4});
  if (t.bytes == nullptr) return;
  for (std::uint32_t size : {4u, 5u, 6u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
    CHECK_EQ(GetValue(Addr(t.bytes), size), 0xF4039201u);
  }
  CHECK_EQ(GetValue(Addr(t.bytes + 3), 1), 0xF4u);
}

TEST_CASE(ValueSizeZeroIsZeroAndReadsNothing) { CHECK_EQ(GetValue(kNowhere, 0), 0u); }

TEST_CASE(ArrayElementsOfEachSize) {
  const std::vector<std::uint8_t> b = {0x10, 0x91, 0x22, 0xB3, 0x44, 0xD5, 0x66, 0xF7};
  CHECK_EQ(GetArray(Addr(b.data()), 5, 1), 0xD5u);
  CHECK_EQ(GetArray(Addr(b.data()), 1, 2), 0xB322u);
  CHECK_EQ(GetArray(Addr(b.data()), 1, 3), 0xD544B3u);
  CHECK_EQ(GetArray(Addr(b.data()), 1, 4), 0xF766D544u);
}

// In x86 the element address wraps at 32 bits, so indexes far out come back
// round to the buffer; in x64 they reach gigabytes away, which the test of
// memory above 4 GB checks on pages placed there.
TEST_CASE(ArrayIndexIsSigned) {
  const std::vector<std::uint8_t> b = {0x10, 0x91, 0x22, 0xB3, 0x44, 0xD5, 0x66, 0xF7};
  const Word mid = Addr(b.data() + 4);
  CHECK_EQ(GetArray(mid, -1, 2), 0xB322u);
  CHECK_EQ(GetArray(mid, -4, 1), 0x10u);
  CHECK_EQ(GetArray(mid, -1, 4), 0xB3229110u);
  auto buf = Markers(8);
  PutArray(0xC4C3C2C1u, Addr(buf.data() + 4), -1, 4);
  PutArray(0xE2E1u, Addr(buf.data() + 8), -1, 2);
  EXPECT_BYTES(buf.data(), (std::vector<std::uint8_t>{0xC1, 0xC2, 0xC3, 0xC4, kMarker, kMarker, 0xE1, 0xE2}));
}

#if !defined(_WIN64)
TEST_CASE(ArrayAddressWrapsAt32Bits) {
  const std::vector<std::uint8_t> b = {0x10, 0x91, 0x22, 0xB3, 0x44, 0xD5, 0x66, 0xF7};
  const Word mid = Addr(b.data() + 4);
  // 0x7FFFFFFF * 2 = 0xFFFFFFFE, which is -2 in 32 bits.
  CHECK_EQ(GetArray(mid, 0x7FFFFFFF, 2), 0xB322u);
  // -2^31 * 2 = -2^32 and 2^30 * 4 = 2^32: both wrap to the base itself.
  CHECK_EQ(GetArray(mid, INT32_MIN, 2), 0xD544u);
  CHECK_EQ(GetArray(mid, 0x40000000, 4), 0xF766D544u);

  auto buf = Markers(14);
  const Word bufMid = Addr(buf.data() + 4);
  PutArray(0xC4C3C2C1u, bufMid, -1, 4);
  PutArray(0x83u, bufMid, INT32_MIN, 2);         // -2^32: the base
  PutArray(0xE2E1u, bufMid, INT32_MIN + 1, 2);   // -2^32 + 2: two above it
  PutArray(0xF4F3F2F1u, bufMid, 0x40000001, 4);  // 2^32 + 4: four above it
  EXPECT_BYTES(buf.data(), (std::vector<std::uint8_t>{0xC1, 0xC2, 0xC3, 0xC4, 0x83, 0x00, 0xE1, 0xE2, 0xF1,
                                                      0xF2, 0xF3, 0xF4, kMarker, kMarker}));
}
#endif

TEST_CASE(ArraySizesOutsideOneToFourReadAndWriteNothing) {
  const std::vector<std::uint8_t> b = {1, 2, 3, 4, 5, 6, 7, 8};
  auto buf = Markers(16);
  for (std::uint32_t size : {0u, 5u, 6u, 0x80000000u, 0xFFFFFFFFu}) {
    CHECK_EQ(GetArray(Addr(b.data()), 0, size), 0u);
    CHECK_EQ(GetArray(kNowhere, 0, size), 0u);
    PutArray(0x01020304u, Addr(buf.data() + 8), 0, size);
    PutArray(0x01020304u, Addr(buf.data() + 8), -1, size);
    PutArray(0x01020304u, kNowhere, 3, size);
  }
  EXPECT_BYTES(buf.data(), Markers(16));
}

TEST_CASE(PutWritesTheLowBytesOnly) {
  const std::uint8_t value[4] = {0x81, 0x82, 0x83, 0x84};
  for (std::uint32_t size = 1; size <= 4; ++size) {
    auto buf = Markers(8);
    Put(0x84838281u, Addr(buf.data() + 1), size);
    auto want = Markers(8);
    for (std::uint32_t i = 0; i < size; ++i) want[1 + i] = value[i];
    EXPECT_BYTES(buf.data(), want);
  }
  auto buf = Markers(8);
  for (std::uint32_t size : {0u, 5u, 8u, 0x80000000u, 0xFFFFFFFFu}) {
    Put(0x01020304u, Addr(buf.data()), size);
    Put(0x01020304u, kNowhere, size);
  }
  EXPECT_BYTES(buf.data(), Markers(8));
}

TEST_CASE(CopiesGoUpwardByteByByte) {
  const std::vector<std::uint8_t> src = {0x00, 0xFF, 0x7F, 0x80, 0x00, 0x01};
  auto dst = Markers(8);
  CopyData(Addr(src.data()), Addr(dst.data() + 1), 6);
  EXPECT_BYTES(dst.data(), (std::vector<std::uint8_t>{kMarker, 0x00, 0xFF, 0x7F, 0x80, 0x00, 0x01, kMarker}));
  CopyData(kNowhere, kNowhere, 0);

  // Destination one above the source: its first byte fills all four.
  std::vector<std::uint8_t> buf = {1, 2, 3, 4, 5, 6};
  CopyData(Addr(buf.data()), Addr(buf.data() + 1), 4);
  EXPECT_BYTES(buf.data(), (std::vector<std::uint8_t>{1, 1, 1, 1, 1, 6}));
  buf = {1, 2, 3, 4, 5, 6};
  PutString(Addr(buf.data()), Addr(buf.data() + 2), 4);  // a two-byte pattern
  EXPECT_BYTES(buf.data(), (std::vector<std::uint8_t>{1, 2, 1, 2, 1, 2}));
  buf = {1, 2, 3, 4, 5, 6};
  CopyData(Addr(buf.data() + 1), Addr(buf.data()), 4);  // below the source: a plain shift
  EXPECT_BYTES(buf.data(), (std::vector<std::uint8_t>{2, 3, 4, 5, 5, 6}));
}

TEST_CASE(LongOverlappingCopiesRepeatTheirPatternThroughout) {
  // Long enough for a vectorised loop; every distance below a vector's width.
  for (std::uint32_t distance = 1; distance <= 17; ++distance) {
    std::vector<std::uint8_t> buf(300);
    for (std::size_t i = 0; i < buf.size(); ++i) buf[i] = static_cast<std::uint8_t>(i + 1);
    CopyData(Addr(buf.data()), Addr(buf.data() + distance), 250);
    std::vector<std::uint8_t> want(300);
    for (std::size_t i = 0; i < want.size(); ++i) {
      want[i] = static_cast<std::uint8_t>(i < 250 + distance ? i % distance + 1 : i + 1);
    }
    EXPECT_BYTES(buf.data(), want);
  }
}

std::string LongText() {
  std::string text(300, ' ');
  for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>('A' + i % 26);
  return text;
}

TEST_CASE(StringCopiesStopAt256CharactersAndAddOneNul) {
  const std::string text = LongText();
  for (const char* name : {"PtrCopyData", "PtrPutString"}) {
    for (std::int32_t length : {-1, -300, INT32_MIN}) {
      auto dst = Markers(300);
      Call(name, {Addr(text.c_str()), Addr(dst.data()), Arg32(static_cast<std::uint32_t>(length))});
      std::vector<std::uint8_t> want(text.begin(), text.begin() + 256);
      want.push_back(0);
      want.resize(300, kMarker);  // from byte 258 on, untouched
      EXPECT_BYTES(dst.data(), want);
    }
  }
  // Nothing past the 256th source character is read.
  GuardedTail source(std::vector<std::uint8_t>(256, 0xE9));
  if (source.bytes == nullptr) return;
  auto dst = Markers(260);
  CopyData(Addr(source.bytes), Addr(dst.data()), -1);
  std::vector<std::uint8_t> want(256, 0xE9);
  want.push_back(0);
  want.resize(260, kMarker);
  EXPECT_BYTES(dst.data(), want);
}

TEST_CASE(ShortAndEmptyStringsCopyUpToTheirNul) {
  for (std::size_t n : {0u, 1u, 7u, 255u, 256u}) {
    const std::string text(n, 'q');
    auto dst = Markers(260);
    PutString(Addr(text.c_str()), Addr(dst.data()), -1);
    auto want = Markers(260);
    for (std::size_t i = 0; i < n; ++i) want[i] = 'q';
    want[n] = 0;
    EXPECT_BYTES(dst.data(), want);
  }
}

TEST_CASE(GetStringReusesOneBufferAndIgnoresItsSourceForFlagZero) {
  const Word first = GetString(Addr("first text"), 1);
  CHECK(first != 0 && first != 0xBAD0BAD0u);
  if (first == 0 || first == 0xBAD0BAD0u) return;
  const auto* buffer = reinterpret_cast<const char*>(first);
  CHECK(std::strcmp(buffer, "first text") == 0);
  CHECK_EQ(GetString(Addr("2nd"), -1), first);
  CHECK(std::strcmp(buffer, "2nd") == 0);
  CHECK_EQ(GetString(kNowhere, 0), first);
  CHECK_EQ(buffer[0], '\0');
  CHECK_EQ(GetString(Addr(""), 7), first);
  CHECK_EQ(buffer[0], '\0');

  const std::string text = LongText();
  CHECK_EQ(GetString(Addr(text.c_str()), 1), first);
  std::vector<std::uint8_t> want(text.begin(), text.begin() + 256);
  want.push_back(0);
  EXPECT_BYTES(reinterpret_cast<const std::uint8_t*>(buffer), want);
}

TEST_CASE(BlocksAreZeroFilledFixedAndWritable) {
  CHECK_EQ(CallAddress("CreateBuffer", {Arg32(0)}), 0u);
  CHECK_EQ(CallAddress("DeleteBuffer", {0}), 0u);
#if !defined(_WIN64)
  CHECK_EQ(CallAddress("CreateBuffer", {0xFFFFFFF0u}), 0u);  // more than the address space
#endif

  const Word block = CallAddress("CreateBuffer", {Arg32(64)});
  CHECK(block != 0 && block != 0xBAD0BAD0u);
  if (block == 0 || block == 0xBAD0BAD0u) return;
  auto* bytes = reinterpret_cast<std::uint8_t*>(block);
  EXPECT_BYTES(bytes, std::vector<std::uint8_t>(64, 0));
  // A fixed block is its own handle.
  CHECK(GlobalHandle(bytes) == reinterpret_cast<HGLOBAL>(block));
  CHECK(GlobalSize(reinterpret_cast<HGLOBAL>(block)) >= 64);

  Put(0x44332211u, block, 4);
  PutArray(0xBEEFu, block, 31, 2);
  PutString(Addr("text"), block + 8, -1);
  CHECK_EQ(GetValue(block, 4), 0x44332211u);
  CHECK_EQ(GetArray(block, 2, 4), 0x74786574u);  // "text"
  std::vector<std::uint8_t> want(64, 0);
  want[0] = 0x11, want[1] = 0x22, want[2] = 0x33, want[3] = 0x44;
  want[8] = 't', want[9] = 'e', want[10] = 'x', want[11] = 't';
  want[62] = 0xEF, want[63] = 0xBE;
  EXPECT_BYTES(bytes, want);
  CHECK_EQ(CallAddress("DeleteBuffer", {block}), 0u);
}

TEST_CASE(PtrGetReturnsItsArgument) {
  int variable = 0;
  CHECK_EQ(CallAddress("PtrGet", {Addr(&variable)}), Addr(&variable));
  // Every bit of the address width comes back, none beyond it.
  for (Word value :
       {Word{5}, Word{0}, Word{0xFFFFFFFFu}, ~Word{0}, static_cast<Word>(0x123456789ABCDEF0ull)}) {
    CHECK_EQ(CallAddress("PtrGet", {value}), value);
  }
}

// Last: the system is handed an address it never gave out.
TEST_CASE(DeleteBufferPassesARefusalBack) {
  alignas(16) std::uint8_t local[64] = {};
  const Word result = CallAddress("DeleteBuffer", {Addr(local)});
  CHECK_EQ(result, Addr(local));
}

}  // namespace

HARNESS_MAIN
