// x64 only: addresses above 4 GB through every export that takes or answers
// one. A DLL that kept an address in 32 bits anywhere on the way would read or
// write 4 GB lower, where nothing is mapped, and end the program, or answer a
// cut address. The region is reserved top-down, so every address in it lies
// above 4 GB; its first pages (L) and the pages exactly 4 GB above them (H)
// are committed, so an element index that reaches 4 GB away in either
// direction lands on memory the test can look at. The log names the
// addresses used and what came back.
#include <climits>

#include "common/bmp_bytes.h"
#include "harness.h"
#include "image/records.h"

using harness::Addr;
using harness::Arg32;
using harness::Call;
using harness::CallAddress;
using harness::Word;

namespace {

constexpr Word k4G = Word{1} << 32;
constexpr Word kCommitted = 64 * 1024;  // at L and at H

struct Region {
  std::uint8_t* low = nullptr;   // L
  std::uint8_t* high = nullptr;  // H = L + 4 GB
};

Region& High() {
  static Region r = [] {
    Region q;
    void* base = VirtualAlloc(nullptr, k4G + kCommitted, MEM_RESERVE | MEM_TOP_DOWN, PAGE_NOACCESS);
    if (base == nullptr) return q;
    q.low = static_cast<std::uint8_t*>(VirtualAlloc(base, kCommitted, MEM_COMMIT, PAGE_READWRITE));
    q.high = static_cast<std::uint8_t*>(
        VirtualAlloc(static_cast<std::uint8_t*>(base) + k4G, kCommitted, MEM_COMMIT, PAGE_READWRITE));
    std::printf("  reserved top-down: L = 0x%llx, H = L + 4 GB = 0x%llx, 64 KiB committed at each\n",
                static_cast<unsigned long long>(Addr(q.low)), static_cast<unsigned long long>(Addr(q.high)));
    return q;
  }();
  return r;
}

bool Ready() {
  const Region& r = High();
  CHECK(r.low != nullptr && r.high != nullptr);
  if (r.low == nullptr || r.high == nullptr) return false;
  CHECK(Addr(r.low) >= k4G);
  return Addr(r.low) >= k4G;
}

std::string Hex(Word v) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(v));
  return text;
}

TEST_CASE(ValuesAndArraysAbove4GB) {
  if (!Ready()) return;
  std::uint8_t* L = High().low;
  std::uint8_t* H = High().high;

  const Word got = CallAddress("PtrGet", {Addr(H + 5)});
  std::printf("  PtrGet(H + 5) -> %s\n", Hex(got).c_str());
  CHECK_EQ(got, Addr(H + 5));

  Call("PtrPut", {Arg32(0x44332211u), Addr(L + 1), Arg32(4)});
  const std::uint32_t value = Call("PtrGetValue", {Addr(L + 1), Arg32(4)});
  std::printf("  PtrPut(0x44332211, L + 1, 4), then PtrGetValue(L + 1, 4) -> 0x%08x\n", value);
  CHECK_EQ(value, 0x44332211u);
  CHECK(L[0] == 0 && L[1] == 0x11 && L[4] == 0x44 && L[5] == 0);

  // Small indexes either side of a base; then indexes whose offset is about
  // 4 GB, which in x64 reach the other committed part instead of wrapping.
  std::uint8_t* base = H + 0x1000;
  Call("PtrPutArray", {Arg32(0xA1B2C3D4u), Addr(base), Arg32(3), Arg32(4)});
  Call("PtrPutArray", {Arg32(0x5566u), Addr(base), Arg32(static_cast<std::uint32_t>(-2)), Arg32(2)});
  CHECK_EQ(Call("PtrGetArray", {Addr(base), Arg32(3), Arg32(4)}), 0xA1B2C3D4u);
  CHECK_EQ(Call("PtrGetArray", {Addr(base - 4), Arg32(0), Arg32(2)}), 0x5566u);
  CHECK(base[12] == 0xD4 && base[15] == 0xA1 && base[-4] == 0x66 && base[-3] == 0x55 && base[-2] == 0);

  H[0x7FE] = 0xEF;
  H[0x7FF] = 0xBE;
  const std::uint32_t reached = Call("PtrGetArray", {Addr(L + 0x800), Arg32(0x7FFFFFFF), Arg32(2)});
  std::printf(
      "  PtrGetArray(L + 0x800, 0x7fffffff, 2) -> 0x%04x (read at L + 0x800 + 0xfffffffe = H + 0x7fe)\n",
      reached);
  CHECK_EQ(reached, 0xBEEFu);
  Call("PtrPutArray",
       {Arg32(0xCAFEu), Addr(H + 0x900), Arg32(static_cast<std::uint32_t>(INT_MIN)), Arg32(2)});
  std::printf(
      "  PtrPutArray(0xcafe, H + 0x900, -2^31, 2) wrote %02x %02x at L + 0x900 (4 GB below its base)\n",
      L[0x900], L[0x901]);
  CHECK(L[0x900] == 0xFE && L[0x901] == 0xCA);
  CHECK_EQ(Call("PtrGetArray", {Addr(H + 0x900), Arg32(static_cast<std::uint32_t>(INT_MIN)), Arg32(2)}),
           0xCAFEu);
  Call("PtrPutArray", {Arg32(0x77u), Addr(L + 0xA00), Arg32(0x40000000), Arg32(4)});
  CHECK(H[0xA00] == 0x77 && H[0xA01] == 0);  // 2^30 * 4 = 4 GB above its base
}

TEST_CASE(CopiesAndStringsAbove4GB) {
  if (!Ready()) return;
  std::uint8_t* L = High().low;
  std::uint8_t* H = High().high;
  const char text[] = "zadized above 4 GB";
  std::memcpy(L + 0x2000, text, sizeof text);

  std::memset(H + 0x2000, 0xA5, 64);
  Call("PtrCopyData", {Addr(L + 0x2000), Addr(H + 0x2000), Arg32(5)});
  CHECK(std::memcmp(H + 0x2000, "zadiz", 5) == 0 && H[0x2005] == 0xA5);

  std::memset(H + 0x3000, 0xA5, 64);
  Call("PtrPutString", {Addr(L + 0x2000), Addr(H + 0x3000), Arg32(static_cast<std::uint32_t>(-1))});
  CHECK(std::strcmp(reinterpret_cast<const char*>(H + 0x3000), text) == 0 && H[0x3000 + sizeof text] == 0xA5);
  std::printf(
      "  PtrCopyData(L + 0x2000, H + 0x2000, 5) and PtrPutString(L + 0x2000, H + 0x3000, -1): \"%.5s\", "
      "\"%s\"\n",
      reinterpret_cast<const char*>(H + 0x2000), reinterpret_cast<const char*>(H + 0x3000));

  const Word buffer = CallAddress("PtrGetString", {Addr(H + 0x3000), Arg32(1)});
  MEMORY_BASIC_INFORMATION where = {};
  VirtualQuery(reinterpret_cast<const void*>(buffer), &where, sizeof where);
  std::printf("  PtrGetString(H + 0x3000, 1) -> %s, in the DLL loaded at %s\n", Hex(buffer).c_str(),
              Hex(Addr(harness::Dll())).c_str());
  CHECK(where.AllocationBase == reinterpret_cast<void*>(harness::Dll()));
  CHECK(Addr(harness::Dll()) >= k4G);  // so the answer's upper half is not zero
  if (where.AllocationBase == reinterpret_cast<void*>(harness::Dll())) {
    CHECK(std::strcmp(reinterpret_cast<const char*>(buffer), text) == 0);
  }
}

TEST_CASE(BlocksAbove4GB) {
  if (!Ready()) return;
  // The system places GlobalAlloc's blocks: small ones come from the process
  // heap, large ones are mapped on their own. Where each lands is logged;
  // every one above 4 GB goes back through DeleteBuffer.
  int above = 0;
  for (std::uint32_t size : {64u, 1u << 20, 16u << 20}) {
    const Word block = CallAddress("CreateBuffer", {Arg32(size)});
    CHECK(block != 0);
    if (block == 0) continue;
    const bool high = block >= k4G;
    above += high ? 1 : 0;
    const Word deleted = CallAddress("DeleteBuffer", {block});
    std::printf("  CreateBuffer(%u) -> %s (%s 4 GB), DeleteBuffer -> %s\n", size, Hex(block).c_str(),
                high ? "above" : "below", Hex(deleted).c_str());
    CHECK_EQ(deleted, 0u);
  }
  CHECK(above > 0);
  // A release the system refuses answers the address itself, all 64 bits.
  std::uint8_t* H = High().high;
  const Word refused = CallAddress("DeleteBuffer", {Addr(H + 0x4000)});
  std::printf("  DeleteBuffer(H + 0x4000), never allocated -> %s\n", Hex(refused).c_str());
  CHECK_EQ(refused, Addr(H + 0x4000));
}

TEST_CASE(RecordsAndNamesAbove4GB) {
  if (!Ready()) return;
  std::uint8_t* L = High().low;
  std::uint8_t* H = High().high;

  // The capture's record at H + 0x5008, the bytes round it marked.
  std::memset(H + 0x5000, 0xA5, 64);
  auto* image = reinterpret_cast<zadized::ScreenImage*>(H + 0x5008);
  const Word imageAnswer = CallAddress(2, {Addr(image)});
  std::printf("  CaptureScreen into H + 0x5008 -> %s: bitmap %s, pixels %s, %dx%d, %d bits\n",
              Hex(imageAnswer).c_str(), Hex(Addr(image->bitmap)).c_str(), Hex(Addr(image->pixels)).c_str(),
              image->width, image->height, image->bitCount);
  CHECK_EQ(imageAnswer, Addr(image));
  CHECK(image->bitmap != nullptr && image->pixels != nullptr);
  CHECK_EQ(image->width, GetSystemMetrics(SM_CXSCREEN));
  CHECK_EQ(image->height, GetSystemMetrics(SM_CYSCREEN));
  CHECK_EQ(image->bitCount, 32);
  for (int i = 0; i < 8; ++i) CHECK_EQ(H[0x5000 + i], 0xA5);
  for (int i = 8 + static_cast<int>(sizeof *image); i < 64; ++i) CHECK_EQ(H[0x5000 + i], 0xA5);
  if (image->pixels == nullptr || image->width < 20 || image->height < 20) return;

  // A 3 x 2 template cut from that capture at (10, 10), its name above 4 GB.
  std::vector<std::uint32_t> cut;
  for (int y = 10; y < 12; ++y) {
    for (int x = 10; x < 13; ++x) {
      const std::uint8_t* p =
          image->pixels + (static_cast<std::size_t>(image->height - 1 - y) * image->width + x) * 4;
      cut.push_back(static_cast<std::uint32_t>(p[0] | p[1] << 8 | p[2] << 16));
    }
  }
  CHECK(DeleteObject(static_cast<HGDIOBJ>(image->bitmap)) != 0);
  const std::string path = harness::Scratch("above4gb.bmp");
  const std::vector<std::uint8_t> bytes = zadized::test::MakeBmp24(3, 2, cut);
  CHECK(harness::WriteBytes(path, bytes));
  char* name = reinterpret_cast<char*>(L + 0x6000);
  std::memcpy(name, path.c_str(), path.size() + 1);

  std::memset(H + 0x7000, 0xA5, 64);
  auto* record = reinterpret_cast<zadized::BitmapRecord*>(H + 0x7008);
  const Word recordAnswer = CallAddress(6, {Addr(record), Addr(name)});
  std::printf(
      "  OpenBitmap(name at L + 0x6000) into H + 0x7008 -> %s: fileData %s, pixels %s, fileSize %d, %dx%d\n",
      Hex(recordAnswer).c_str(), Hex(Addr(record->fileData)).c_str(), Hex(Addr(record->pixels)).c_str(),
      record->fileSize, record->width, record->height);
  CHECK_EQ(recordAnswer, Addr(record));
  CHECK_EQ(record->fileSize, static_cast<std::int32_t>(bytes.size()));
  CHECK(record->fileData != nullptr && std::memcmp(record->fileData, bytes.data(), bytes.size()) == 0);
  CHECK(record->pixels == record->fileData + 54);
  CHECK(record->width == 3 && record->height == 2 && record->bitCount == 24);
  CHECK(record->topLeftColor == cut[0] && record->topRightColor == cut[2]);
  CHECK(record->bottomLeftColor == cut[3] && record->bottomRightColor == cut[5]);
  for (int i = 0; i < 8; ++i) CHECK_EQ(H[0x7000 + i], 0xA5);
  for (int i = 8 + static_cast<int>(sizeof *record); i < 64; ++i) CHECK_EQ(H[0x7000 + i], 0xA5);

  // The rectangle is the template's own place: it is found there.
  const std::int32_t found = static_cast<std::int32_t>(
      Call(15, {Addr(name), Arg32(10), Arg32(10), Arg32(12), Arg32(11), Arg32(0), Arg32(0xFFFFFFFFu)}));
  std::printf("  SearchImage(name at L + 0x6000, 10, 10, 12, 11, 0, -1) -> %d\n", found);
  CHECK_EQ(found, zadized_encode_position(10, 10, GetSystemMetrics(SM_CXSCREEN)));
}

}  // namespace

HARNESS_MAIN
