// The whole export table of the loaded DLL, read from its own PE headers (the
// x86 or the x64 form, whichever this program is), and one call to every
// export through its ordinal: in x86 made by hand, to see it clear exactly its
// arguments.
#include <set>
#include <string>
#include <vector>

#include "harness.h"
#include "image/records.h"

namespace {

using harness::Word;

struct Export {
  int ordinal;
  const char* name;
  int arguments;       // in x86 four bytes each, hidden record address included
  bool addressResult;  // as wide as a pointer; the others are 32 bits
};

// Ordinals 1 to 16 in alphabetical order of name, later exports after them,
// as hosts that import by number expect them.
const Export kExports[] = {
    {1, "AsyncKeyState", 1, false},   {2, "CaptureScreen", 1, true},  {3, "CreateBuffer", 1, true},
    {4, "DeleteBuffer", 1, true},     {5, "GetAccTime", 0, false},    {6, "OpenBitmap", 2, true},
    {7, "PtrCopyData", 3, false},     {8, "PtrGet", 1, true},         {9, "PtrGetArray", 3, false},
    {10, "PtrGetString", 2, true},    {11, "PtrGetValue", 2, false},  {12, "PtrPut", 3, false},
    {13, "PtrPutArray", 4, false},    {14, "PtrPutString", 3, false}, {15, "SearchImage", 7, false},
    {16, "SearchImageAll", 9, false}, {17, "HoldScreen", 1, false},   {18, "ReleaseScreen", 0, false},
    {19, "HeldScreenInfo", 1, false},
};
constexpr DWORD kExportCount = sizeof kExports / sizeof kExports[0];

const std::uint8_t* ImageBase() { return reinterpret_cast<const std::uint8_t*>(harness::Dll()); }

// The headers of this program's own kind: a 32-bit DLL in an x86 process, a
// 64-bit one (PE32+) in an x64 process.
#if defined(_WIN64)
using NtHeaders = IMAGE_NT_HEADERS64;
constexpr WORD kOptionalMagic = IMAGE_NT_OPTIONAL_HDR64_MAGIC;
constexpr WORD kMachine = IMAGE_FILE_MACHINE_AMD64;
#else
using NtHeaders = IMAGE_NT_HEADERS32;
constexpr WORD kOptionalMagic = IMAGE_NT_OPTIONAL_HDR32_MAGIC;
constexpr WORD kMachine = IMAGE_FILE_MACHINE_I386;
#endif

const IMAGE_EXPORT_DIRECTORY* ExportDirectory(DWORD* size) {
  const std::uint8_t* base = ImageBase();
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  if (dos->e_magic != IMAGE_DOS_SIGNATURE) return nullptr;
  const auto* nt = reinterpret_cast<const NtHeaders*>(base + dos->e_lfanew);
  if (nt->Signature != IMAGE_NT_SIGNATURE || nt->OptionalHeader.Magic != kOptionalMagic ||
      nt->FileHeader.Machine != kMachine) {
    return nullptr;
  }
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  if (dir.VirtualAddress == 0) return nullptr;
  *size = dir.Size;
  return reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
}

TEST_CASE(ExportDirectoryHoldsExactlyTheNamesAtTheirOrdinals) {
  CHECK(harness::Dll() != nullptr);
  if (harness::Dll() == nullptr) return;
  DWORD dirSize = 0;
  const IMAGE_EXPORT_DIRECTORY* dir = ExportDirectory(&dirSize);
  CHECK(dir != nullptr);
  if (dir == nullptr) return;
  const std::uint8_t* base = ImageBase();
  CHECK_EQ(dir->Base, 1u);
  CHECK_EQ(dir->NumberOfFunctions, kExportCount);
  CHECK_EQ(dir->NumberOfNames, kExportCount);
  CHECK(std::strcmp(reinterpret_cast<const char*>(base + dir->Name), "zadized.dll") == 0);

  const auto* functions = reinterpret_cast<const DWORD*>(base + dir->AddressOfFunctions);
  const auto* names = reinterpret_cast<const DWORD*>(base + dir->AddressOfNames);
  const auto* nameOrdinals = reinterpret_cast<const WORD*>(base + dir->AddressOfNameOrdinals);
  std::set<std::string> seen;
  for (DWORD i = 0; i < dir->NumberOfNames; ++i) {
    const std::string name = reinterpret_cast<const char*>(base + names[i]);
    const int ordinal = static_cast<int>(dir->Base) + nameOrdinals[i];
    seen.insert(name);
    bool known = false;
    for (const Export& e : kExports) {
      if (name == e.name) {
        known = true;
        if (ordinal != e.ordinal) {
          harness::Fail(__FILE__, __LINE__, name + " has ordinal " + std::to_string(ordinal));
        }
      }
    }
    if (!known) harness::Fail(__FILE__, __LINE__, "unexpected export " + name);
  }
  CHECK_EQ(seen.size(), static_cast<std::size_t>(kExportCount));

  // Every slot is a function of this module, not empty and not forwarded.
  for (DWORD i = 0; i < dir->NumberOfFunctions && i < kExportCount; ++i) {
    const DWORD rva = functions[i];
    const DWORD dirRva = static_cast<DWORD>(reinterpret_cast<const std::uint8_t*>(dir) - base);
    if (rva == 0 || (rva >= dirRva && rva < dirRva + dirSize)) {
      harness::Fail(__FILE__, __LINE__, "ordinal " + std::to_string(i + 1) + " is empty or forwarded");
    }
  }
}

TEST_CASE(LookupByNameAndByOrdinalAgree) {
  DWORD dirSize = 0;
  const IMAGE_EXPORT_DIRECTORY* dir = ExportDirectory(&dirSize);
  if (dir == nullptr) return;  // reported above
  const auto* functions = reinterpret_cast<const DWORD*>(ImageBase() + dir->AddressOfFunctions);
  for (const Export& e : kExports) {
    const FARPROC byName = harness::ByName(e.name);
    const FARPROC byOrdinal = harness::ByOrdinal(e.ordinal);
    if (byName == nullptr || byName != byOrdinal) {
      harness::Fail(__FILE__, __LINE__,
                    std::string(e.name) + ": by name and by ordinal differ or are missing");
      continue;
    }
    if (e.ordinal <= static_cast<int>(dir->NumberOfFunctions)) {
      CHECK(reinterpret_cast<const std::uint8_t*>(byName) == ImageBase() + functions[e.ordinal - 1]);
    }
    // Decorated spellings are not exported.
    const std::string plain = e.name, bytes = std::to_string(4 * e.arguments);
    CHECK(harness::ByName(("_" + plain).c_str()) == nullptr);
    CHECK(harness::ByName((plain + "@" + bytes).c_str()) == nullptr);
    CHECK(harness::ByName(("_" + plain + "@" + bytes).c_str()) == nullptr);
  }
  CHECK(harness::ByOrdinal(static_cast<int>(kExportCount) + 1) == nullptr);
}

// Safe arguments for one call of each export, and what it must answer.
struct Probe {
  std::vector<Word> args;
  bool checkResult;
  Word result;
};

// Through the ordinal, as a host importing by number calls it; in x86 each
// must also clear exactly its argument bytes.
TEST_CASE(EveryExportAnswersThroughItsOrdinal) {
  using harness::Addr;
  using harness::Arg32;
  std::uint8_t scratch[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 0};
  std::uint8_t target[300];
  std::memset(target, 0xA5, sizeof target);
  zadized::BitmapRecord bitmapRecord;
  std::memset(&bitmapRecord, 0xA5, sizeof bitmapRecord);
  zadized::ScreenImage screenImage;
  std::memset(&screenImage, 0, sizeof screenImage);
  const std::string missing = harness::Scratch("no-such-file.bmp");
  DeleteFileA(missing.c_str());
  Word block = 0;

  for (const Export& e : kExports) {
    const void* fn = reinterpret_cast<const void*>(harness::ByOrdinal(e.ordinal));
    if (fn == nullptr) {
      harness::Fail(__FILE__, __LINE__, std::string("no export at the ordinal of ") + e.name);
      continue;
    }
    const std::string name = e.name;
    Probe p{{}, false, 0};
    if (name == "AsyncKeyState") p = {{Arg32(VK_F24)}, true, 0};
    if (name == "CaptureScreen") p = {{Addr(&screenImage)}, true, Addr(&screenImage)};
    if (name == "CreateBuffer") p = {{Arg32(16)}, false, 0};
    if (name == "DeleteBuffer") p = {{block}, true, 0};
    if (name == "GetAccTime") p = {{}, false, 0};
    if (name == "OpenBitmap") p = {{Addr(&bitmapRecord), Addr(missing.c_str())}, true, Addr(&bitmapRecord)};
    if (name == "PtrCopyData") p = {{Addr(scratch), Addr(target) + 4, Arg32(4)}, false, 0};
    if (name == "PtrGet") p = {{5}, true, 5};
    if (name == "PtrGetArray") p = {{Addr(scratch), Arg32(1), Arg32(2)}, true, 0x0403};
    if (name == "PtrGetString") p = {{Addr(scratch), Arg32(1)}, false, 0};
    if (name == "PtrGetValue") p = {{Addr(scratch), Arg32(4)}, true, 0x04030201};
    if (name == "PtrPut") p = {{Arg32(0x11223344u), Addr(target), Arg32(4)}, false, 0};
    if (name == "PtrPutArray") p = {{Arg32(0x55u), Addr(target), Arg32(8), Arg32(1)}, false, 0};
    if (name == "PtrPutString") p = {{Addr(scratch), Addr(target) + 16, Arg32(0xFFFFFFFFu)}, false, 0};
    if (name == "SearchImage") {
      p = {{Addr(missing.c_str()), Arg32(0), Arg32(0), Arg32(10), Arg32(10), Arg32(0), Arg32(0xFFFFFFFFu)},
           true,
           0xFFFFFFFEu};
    }
    // A template that does not load: -2, and nothing written to the slots.
    if (name == "SearchImageAll") {
      p = {{Addr(missing.c_str()), Arg32(0), Arg32(0), Arg32(10), Arg32(10), Arg32(0), Arg32(0xFFFFFFFFu),
            Addr(target) + 32, Arg32(4)},
           true,
           0xFFFFFFFEu};
    }
    // A screenshot that does not load: -2; then nothing is held: -1.
    if (name == "HoldScreen") p = {{Addr(missing.c_str())}, true, 0xFFFFFFFEu};
    if (name == "ReleaseScreen") p = {{}, true, 0xFFFFFFFFu};
    if (name == "HeldScreenInfo") p = {{Arg32(7)}, true, 0xFFFFFFFFu};
    // DeleteBuffer releases the block the CreateBuffer call just before it made.
    if (name == "DeleteBuffer" && block == 0) {
      harness::Fail(__FILE__, __LINE__, "CreateBuffer gave no block to delete");
      continue;
    }

    const harness::CallResult r = harness::CallByHand(fn, p.args);
#if !defined(_WIN64)
    if (r.removed != 4 * e.arguments) {
      harness::Fail(__FILE__, __LINE__,
                    name + " removed " + std::to_string(r.removed) + " bytes, expected " +
                        std::to_string(4 * e.arguments));
    }
#endif
    if (p.args.size() != static_cast<std::size_t>(e.arguments)) {
      harness::Fail(__FILE__, __LINE__, name + ": the probe passes the wrong number of arguments");
    }
    const Word answer = e.addressResult ? r.value : harness::Low32(r.value);
    if (p.checkResult && answer != p.result) {
      harness::Fail(__FILE__, __LINE__,
                    name + " answered " + std::to_string(answer) + ", expected " + std::to_string(p.result));
    }
    if (name == "CreateBuffer") {
      block = answer;
      CHECK(block != 0);
    }
    if (name == "CaptureScreen" && screenImage.bitmap != nullptr) {
      CHECK(DeleteObject(static_cast<HGDIOBJ>(screenImage.bitmap)));
    }
    if (name == "OpenBitmap") CHECK_EQ(bitmapRecord.fileSize, -1);
    if (name == "PtrGetString") {
      CHECK(answer != 0 &&
            std::strcmp(reinterpret_cast<const char*>(answer), reinterpret_cast<const char*>(scratch)) == 0);
    }
  }
  // The calls that write left their marks, and nothing beyond them.
  std::vector<std::uint8_t> want(sizeof target, 0xA5);
  const std::uint8_t head[] = {0x44, 0x33, 0x22, 0x11, 1, 2, 3, 4, 0x55};
  std::memcpy(want.data(), head, sizeof head);
  std::memcpy(want.data() + 16, scratch, sizeof scratch);
  for (std::size_t i = 0; i < want.size(); ++i) {
    if (target[i] != want[i]) {
      harness::Fail(__FILE__, __LINE__,
                    "target byte " + std::to_string(i) + " is " + std::to_string(target[i]));
      break;
    }
  }
}

}  // namespace

HARNESS_MAIN
