// Loading and unloading the library without calling it must leave no trace:
// no global-memory block, no file and no device context, and nothing left in
// the process heap.
#include "harness.h"

namespace {

// While a load and unload run, the system's GlobalAlloc, CreateFileA and
// CreateDCA are replaced by counters (a jump written over their first bytes),
// so any call from the library's start-up or shut-down is seen, however small.
int g_calls = 0;

HGLOBAL WINAPI CountAlloc(UINT flags, SIZE_T bytes) {
  ++g_calls;
  return HeapAlloc(GetProcessHeap(), (flags & GMEM_ZEROINIT) ? HEAP_ZERO_MEMORY : 0, bytes);
}
HANDLE WINAPI CountOpen(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
  ++g_calls;
  SetLastError(ERROR_ACCESS_DENIED);
  return INVALID_HANDLE_VALUE;
}
HDC WINAPI CountDC(LPCSTR, LPCSTR, LPCSTR, const DEVMODEA*) {
  ++g_calls;
  return nullptr;
}

struct Patch {
  std::uint8_t* target;
  std::uint8_t saved[5];
};

#if defined(_WIN64)
// A five-byte jump reaches 2 GB either way, and the counters here may lie
// further from the system's DLLs: the jump lands on an absolute one (jmp
// [rip]; address) in a page allocated within reach of the target.
const void* WithinReach(const std::uint8_t* target, const void* to) {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  const std::uintptr_t granule = info.dwAllocationGranularity;
  const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(target) & ~(granule - 1);
  for (std::uintptr_t d = granule; d < 0x70000000u; d += granule) {
    for (const std::uintptr_t at : {start - d, start + d}) {
      auto* page = static_cast<std::uint8_t*>(VirtualAlloc(reinterpret_cast<void*>(at), info.dwPageSize,
                                                           MEM_RESERVE | MEM_COMMIT, PAGE_EXECUTE_READWRITE));
      if (page == nullptr) continue;
      const std::uint8_t jump[6] = {0xFF, 0x25, 0, 0, 0, 0};
      std::memcpy(page, jump, sizeof jump);
      std::memcpy(page + sizeof jump, &to, sizeof to);
      FlushInstructionCache(GetCurrentProcess(), page, 16);
      return page;
    }
  }
  return nullptr;
}
#endif

Patch Redirect(const char* module, const char* name, const void* to) {
  Patch p{reinterpret_cast<std::uint8_t*>(GetProcAddress(GetModuleHandleA(module), name)), {}};
  if (p.target == nullptr) return p;
#if defined(_WIN64)
  to = WithinReach(p.target, to);
  if (to == nullptr) {
    p.target = nullptr;
    return p;
  }
#endif
  DWORD old;
  VirtualProtect(p.target, 5, PAGE_EXECUTE_READWRITE, &old);
  std::memcpy(p.saved, p.target, 5);
  const std::int32_t rel = static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(to) -
                                                     (reinterpret_cast<std::uintptr_t>(p.target) + 5));
  p.target[0] = 0xE9;
  std::memcpy(p.target + 1, &rel, 4);
  FlushInstructionCache(GetCurrentProcess(), p.target, 5);
  return p;
}

void Restore(const Patch& p) {
  if (p.target == nullptr) return;
  std::memcpy(p.target, p.saved, 5);
  FlushInstructionCache(GetCurrentProcess(), p.target, 5);
}

TEST_CASE(LoadAndUnloadCallNoAllocatorFileOrDisplay) {
  const std::string path = harness::WinPath(harness::DllPath());
  LoadLibraryA("gdi32.dll");
  const Patch patches[] = {
      Redirect("kernel32.dll", "GlobalAlloc", reinterpret_cast<const void*>(&CountAlloc)),
      Redirect("kernel32.dll", "CreateFileA", reinterpret_cast<const void*>(&CountOpen)),
      Redirect("gdi32.dll", "CreateDCA", reinterpret_cast<const void*>(&CountDC))};
  // The counters must really be in place, or a count of 0 would prove nothing.
  HGLOBAL probe = GlobalAlloc(GMEM_ZEROINIT, 8);
  const int probed = g_calls;
  HeapFree(GetProcessHeap(), 0, probe);
  g_calls = 0;
  HMODULE dll = LoadLibraryA(path.c_str());
  const bool loaded = dll != nullptr;
  if (loaded) FreeLibrary(dll);
  const int calls = g_calls;
  for (const Patch& p : patches) Restore(p);
  CHECK(patches[0].target != nullptr && patches[1].target != nullptr && patches[2].target != nullptr);
  CHECK_EQ(probed, 1);
  CHECK(loaded);
  CHECK_EQ(calls, 0);
}

struct Footprint {
  std::size_t busyBlocks;
  std::size_t busyBytes;
};

// Busy blocks of the process heap, where GlobalAlloc takes its blocks from.
Footprint Measure() {
  Footprint f{0, 0};
  HANDLE heap = GetProcessHeap();
  HeapLock(heap);
  PROCESS_HEAP_ENTRY entry;
  entry.lpData = nullptr;
  while (HeapWalk(heap, &entry)) {
    if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) {
      ++f.busyBlocks;
      f.busyBytes += entry.cbData;
    }
  }
  HeapUnlock(heap);
  return f;
}

TEST_CASE(LoadAndUnloadLeaveNothingBehind) {
  const std::string path = harness::WinPath(harness::DllPath());
  // The system's loader grows its own tables during the first cycles; after
  // that every cycle must leave the heap exactly as it found it. A library
  // that allocated at load, and never released (the cache's blocks live for
  // the process), would add to it on every cycle.
  std::vector<Footprint> seen;
  for (int i = 0; i < 10; ++i) {
    HMODULE dll = LoadLibraryA(path.c_str());
    CHECK(dll != nullptr);
    CHECK(GetProcAddress(dll, "SearchImage") != nullptr);
    CHECK(FreeLibrary(dll));
    seen.push_back(Measure());
  }
  std::printf("  heap after each cycle:");
  for (const Footprint& f : seen)
    std::printf(" %u/%u", static_cast<unsigned>(f.busyBlocks), static_cast<unsigned>(f.busyBytes));
  std::printf(" (blocks/bytes)\n");
  std::fflush(stdout);
  for (std::size_t i = 6; i < seen.size(); ++i) {
    CHECK_EQ(seen[i].busyBlocks, seen[5].busyBlocks);
    CHECK_EQ(seen[i].busyBytes, seen[5].busyBytes);
  }
}

}  // namespace

HARNESS_MAIN
