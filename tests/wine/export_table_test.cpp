// The whole export table of the loaded DLL, read from its own PE headers, and
// one call by hand to every export to see it clear exactly its arguments.
#include <set>
#include <string>
#include <vector>

#include "harness.h"
#include "image/records.h"

namespace {

struct Export {
  int ordinal;
  const char* name;
  std::int32_t argumentBytes;
};

// Ordinals in alphabetical order of name, as hosts that import by number
// expect them.
const Export kExports[] = {
    {1, "AsyncKeyState", 4}, {2, "CaptureScreen", 4},  {3, "CreateBuffer", 4},  {4, "DeleteBuffer", 4},
    {5, "GetAccTime", 0},    {6, "OpenBitmap", 8},     {7, "PtrCopyData", 12},  {8, "PtrGet", 4},
    {9, "PtrGetArray", 12},  {10, "PtrGetString", 8},  {11, "PtrGetValue", 8},  {12, "PtrPut", 12},
    {13, "PtrPutArray", 16}, {14, "PtrPutString", 12}, {15, "SearchImage", 28},
};

const std::uint8_t* ImageBase() { return reinterpret_cast<const std::uint8_t*>(harness::Dll()); }

const IMAGE_EXPORT_DIRECTORY* ExportDirectory(DWORD* size) {
  const std::uint8_t* base = ImageBase();
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  if (dos->e_magic != IMAGE_DOS_SIGNATURE) return nullptr;
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
  if (nt->Signature != IMAGE_NT_SIGNATURE || nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
    return nullptr;
  }
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  if (dir.VirtualAddress == 0) return nullptr;
  *size = dir.Size;
  return reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
}

TEST_CASE(ExportDirectoryHoldsExactlyTheFifteenNamesAtTheirOrdinals) {
  CHECK(harness::Dll() != nullptr);
  if (harness::Dll() == nullptr) return;
  DWORD dirSize = 0;
  const IMAGE_EXPORT_DIRECTORY* dir = ExportDirectory(&dirSize);
  CHECK(dir != nullptr);
  if (dir == nullptr) return;
  const std::uint8_t* base = ImageBase();
  CHECK_EQ(dir->Base, 1u);
  CHECK_EQ(dir->NumberOfFunctions, 15u);
  CHECK_EQ(dir->NumberOfNames, 15u);
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
  CHECK_EQ(seen.size(), static_cast<std::size_t>(15));

  // Every slot is a function of this module, not empty and not forwarded.
  for (DWORD i = 0; i < dir->NumberOfFunctions && i < 15; ++i) {
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
    const std::string plain = e.name;
    CHECK(harness::ByName(("_" + plain).c_str()) == nullptr);
    CHECK(harness::ByName((plain + "@" + std::to_string(e.argumentBytes)).c_str()) == nullptr);
    CHECK(harness::ByName(("_" + plain + "@" + std::to_string(e.argumentBytes)).c_str()) == nullptr);
  }
  CHECK(harness::ByOrdinal(16) == nullptr);
}

// Safe arguments for one call of each export, and what it must answer.
struct Probe {
  std::vector<std::uint32_t> args;
  bool checkResult;
  std::uint32_t result;
};

TEST_CASE(EveryExportClearsExactlyItsArgumentBytes) {
  std::uint8_t scratch[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 0};
  std::uint8_t target[300];
  std::memset(target, 0xA5, sizeof target);
  zadized::BitmapRecord bitmapRecord;
  std::memset(&bitmapRecord, 0xA5, sizeof bitmapRecord);
  zadized::ScreenImage screenImage;
  std::memset(&screenImage, 0, sizeof screenImage);
  const std::string missing = harness::Scratch("no-such-file.bmp");
  DeleteFileA(missing.c_str());
  std::uint32_t block = 0;

  for (const Export& e : kExports) {
    const void* fn = reinterpret_cast<const void*>(harness::ByName(e.name));
    if (fn == nullptr) {
      harness::Fail(__FILE__, __LINE__, std::string("no export named ") + e.name);
      continue;
    }
    const std::string name = e.name;
    Probe p{{}, false, 0};
    if (name == "AsyncKeyState") p = {{VK_F24}, true, 0};
    if (name == "CaptureScreen") p = {{harness::Addr(&screenImage)}, true, harness::Addr(&screenImage)};
    if (name == "CreateBuffer") p = {{16}, false, 0};
    if (name == "DeleteBuffer") p = {{block}, true, 0};
    if (name == "GetAccTime") p = {{}, false, 0};
    if (name == "OpenBitmap") {
      p = {
          {harness::Addr(&bitmapRecord), harness::Addr(missing.c_str())}, true, harness::Addr(&bitmapRecord)};
    }
    if (name == "PtrCopyData") p = {{harness::Addr(scratch), harness::Addr(target) + 4, 4}, false, 0};
    if (name == "PtrGet") p = {{5}, true, 5};
    if (name == "PtrGetArray") p = {{harness::Addr(scratch), 1, 2}, true, 0x0403};
    if (name == "PtrGetString") p = {{harness::Addr(scratch), 1}, false, 0};
    if (name == "PtrGetValue") p = {{harness::Addr(scratch), 4}, true, 0x04030201};
    if (name == "PtrPut") p = {{0x11223344u, harness::Addr(target), 4}, false, 0};
    if (name == "PtrPutArray") p = {{0x55u, harness::Addr(target), 8, 1}, false, 0};
    if (name == "PtrPutString")
      p = {{harness::Addr(scratch), harness::Addr(target) + 16, 0xFFFFFFFFu}, false, 0};
    if (name == "SearchImage") {
      p = {{harness::Addr(missing.c_str()), 0, 0, 10, 10, 0, 0xFFFFFFFFu},
           true,
           static_cast<std::uint32_t>(-2)};
    }
    // DeleteBuffer releases the block the CreateBuffer call just before it made.
    if (name == "DeleteBuffer" && block == 0) {
      harness::Fail(__FILE__, __LINE__, "CreateBuffer gave no block to delete");
      continue;
    }

    const harness::CallResult r = harness::CallByHand(fn, p.args);
    if (r.removed != e.argumentBytes) {
      harness::Fail(__FILE__, __LINE__,
                    name + " removed " + std::to_string(r.removed) + " bytes, expected " +
                        std::to_string(e.argumentBytes));
    }
    if (p.args.size() * 4 != static_cast<std::size_t>(e.argumentBytes)) {
      harness::Fail(__FILE__, __LINE__, name + ": the probe passes the wrong number of arguments");
    }
    if (p.checkResult && r.eax != p.result) {
      harness::Fail(__FILE__, __LINE__,
                    name + " answered " + std::to_string(r.eax) + ", expected " + std::to_string(p.result));
    }
    if (name == "CreateBuffer") {
      block = r.eax;
      CHECK(block != 0);
    }
    if (name == "CaptureScreen" && screenImage.bitmap != nullptr) {
      CHECK(DeleteObject(static_cast<HGDIOBJ>(screenImage.bitmap)));
    }
    if (name == "OpenBitmap") CHECK_EQ(bitmapRecord.fileSize, -1);
    if (name == "PtrGetString") {
      CHECK(r.eax != 0 &&
            std::strcmp(reinterpret_cast<const char*>(r.eax), reinterpret_cast<const char*>(scratch)) == 0);
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
