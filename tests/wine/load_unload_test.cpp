// Loading and unloading the library without calling it must leave no trace:
// no handle (file, device context) and no block in the process heap, which is
// where global-memory blocks come from.
#include "harness.h"

namespace {

struct Footprint {
  DWORD handles;
  std::size_t busyBlocks;
  std::size_t busyBytes;
};

Footprint Measure() {
  Footprint f{0, 0, 0};
  GetProcessHandleCount(GetCurrentProcess(), &f.handles);
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
  // The first cycle lets the system's loader settle its own tables.
  HMODULE warm = LoadLibraryA(path.c_str());
  CHECK(warm != nullptr);
  FreeLibrary(warm);

  const Footprint before = Measure();
  HMODULE dll = LoadLibraryA(path.c_str());
  CHECK(dll != nullptr);
  CHECK(GetProcAddress(dll, "OpenBitmap") != nullptr);
  const Footprint loaded = Measure();
  CHECK(FreeLibrary(dll));
  const Footprint after = Measure();
  std::printf("  handles %lu -> %lu -> %lu; heap blocks %u -> %u -> %u (%u -> %u bytes)\n", before.handles,
              loaded.handles, after.handles, static_cast<unsigned>(before.busyBlocks),
              static_cast<unsigned>(loaded.busyBlocks), static_cast<unsigned>(after.busyBlocks),
              static_cast<unsigned>(before.busyBytes), static_cast<unsigned>(after.busyBytes));
  CHECK_EQ(loaded.handles, before.handles);
  CHECK_EQ(after.handles, before.handles);
  CHECK_EQ(after.busyBlocks, before.busyBlocks);
  CHECK_EQ(after.busyBytes, before.busyBytes);
}

}  // namespace

HARNESS_MAIN
