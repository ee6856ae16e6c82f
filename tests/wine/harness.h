// A small test runner for the Windows test programs that load zadized.dll the
// way a scripting host does: LoadLibrary, GetProcAddress by name and by
// ordinal, and calls made by hand so the stack pointer can be checked.
// argv[1] is the DLL's path, argv[2] the repository's test-data folder
// (tests/data; Unix paths, which Wine's Z: drive maps).
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace harness {

struct Case {
  const char* name;
  void (*body)();
};

inline std::vector<Case>& Cases() {
  static std::vector<Case> cases;
  return cases;
}

inline int& Failures() {
  static int failures = 0;
  return failures;
}

struct Register {
  Register(const char* name, void (*body)()) { Cases().push_back({name, body}); }
};

inline std::string& DllPath() {
  static std::string path;
  return path;
}
inline std::string& DataDir() {
  static std::string path;
  return path;
}

// "/a/b" -> "Z:\a\b"; Windows paths pass unchanged.
inline std::string WinPath(const std::string& path) {
  if (path.empty() || path[0] != '/') return path;
  std::string out = "Z:" + path;
  for (char& c : out) {
    if (c == '/') c = '\\';
  }
  return out;
}

inline void Fail(const char* file, int line, const std::string& what) {
  ++Failures();
  std::printf("  FAILED %s:%d: %s\n", file, line, what.c_str());
  std::fflush(stdout);
}

// The library under test, loaded once for the whole program.
inline HMODULE Dll() {
  static HMODULE dll = LoadLibraryA(WinPath(DllPath()).c_str());
  return dll;
}

inline FARPROC ByName(const char* name) { return GetProcAddress(Dll(), name); }
inline FARPROC ByOrdinal(int ordinal) {
  return GetProcAddress(Dll(), reinterpret_cast<LPCSTR>(static_cast<ULONG_PTR>(ordinal)));
}

struct CallResult {
  std::uint32_t eax;
  std::int32_t removed;  // bytes of arguments the callee took off the stack
};

extern "C" std::uint32_t harness_call(const void* fn, const std::uint32_t* args, std::uint32_t count,
                                      std::int32_t* removed);

// Pushes `args` right to left, calls `fn`, and measures how far the stack
// pointer moved back: a stdcall function removes exactly its argument bytes.
inline CallResult CallByHand(const void* fn, std::vector<std::uint32_t> args) {
  CallResult r{0, 0};
  r.eax = harness_call(fn, args.data(), static_cast<std::uint32_t>(args.size()), &r.removed);
  return r;
}

// Calls the export `name` by hand with 32-bit arguments and records a failure
// unless it removed exactly four bytes per argument, as stdcall must.
inline std::uint32_t Call(const char* name, std::vector<std::uint32_t> args) {
  const void* fn = reinterpret_cast<const void*>(ByName(name));
  if (fn == nullptr) {
    Fail(__FILE__, __LINE__, std::string("no export named ") + name);
    return 0xBAD0BAD0u;
  }
  const CallResult r = CallByHand(fn, args);
  if (r.removed != static_cast<std::int32_t>(4 * args.size())) {
    Fail(__FILE__, __LINE__,
         std::string(name) + " removed " + std::to_string(r.removed) + " bytes of arguments");
  }
  return r.eax;
}

inline std::uint32_t Addr(const void* p) {
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p));
}

// A scratch folder for files the test writes, below the Windows temp folder.
inline std::string Scratch(const std::string& name) {
  static std::string dir = [] {
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    // Wine hands out the same process ids run after run, so the time joins
    // the id: a file left by an earlier run must not be found by this one.
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    std::string d = std::string(base) + "zadized-" + std::to_string(GetCurrentProcessId()) + "-" +
                    std::to_string(now.QuadPart);
    CreateDirectoryA(d.c_str(), nullptr);
    return d;
  }();
  return dir + "\\" + name;
}

inline bool WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

inline LONG WINAPI OnCrash(EXCEPTION_POINTERS* info) {
  std::printf("CRASH: exception 0x%08lx at %p\n", info->ExceptionRecord->ExceptionCode,
              info->ExceptionRecord->ExceptionAddress);
  std::fflush(stdout);
  ExitProcess(3);
  return EXCEPTION_EXECUTE_HANDLER;
}

inline int Main(int argc, char** argv) {
  // A crash must end the program at once; Wine's debugger would hang the run.
  SetUnhandledExceptionFilter(OnCrash);
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  if (argc < 2) {
    std::printf("usage: %s DLL [TEST_DATA_DIR]\n", argv[0]);
    return 2;
  }
  DllPath() = argv[1];
  if (argc > 2) DataDir() = argv[2];
  int passed = 0, failed = 0;
  for (const Case& c : Cases()) {
    const int before = Failures();
    std::printf("[ RUN      ] %s\n", c.name);
    std::fflush(stdout);
    c.body();
    if (Failures() == before) {
      ++passed;
      std::printf("[       OK ] %s\n", c.name);
    } else {
      ++failed;
      std::printf("[  FAILED  ] %s\n", c.name);
    }
  }
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}

}  // namespace harness

#define HARNESS_CAT2(a, b) a##b
#define HARNESS_CAT(a, b) HARNESS_CAT2(a, b)
#define TEST_CASE(name)                                                \
  static void name();                                                  \
  static harness::Register HARNESS_CAT(register_, name)(#name, &name); \
  static void name()

#define CHECK(cond)                                                     \
  do {                                                                  \
    if (!(cond)) harness::Fail(__FILE__, __LINE__, "CHECK(" #cond ")"); \
  } while (0)

#define CHECK_EQ(a, b)                                                                                  \
  do {                                                                                                  \
    const auto check_a_ = (a);                                                                          \
    const auto check_b_ = (b);                                                                          \
    if (!(check_a_ == check_b_)) {                                                                      \
      harness::Fail(__FILE__, __LINE__,                                                                 \
                    std::string(#a " == " #b ": ") + std::to_string(static_cast<long long>(check_a_)) + \
                        " vs " + std::to_string(static_cast<long long>(check_b_)));                     \
    }                                                                                                   \
  } while (0)

#define HARNESS_MAIN \
  int main(int argc, char** argv) { return harness::Main(argc, argv); }
