// A small test runner for the Windows test programs that load zadized.dll the
// way a scripting host does: LoadLibrary, GetProcAddress by name and by
// ordinal, and calls with integer arguments. In x86 the calls are made by
// hand so the stack pointer can be checked; x64 has nothing to check there.
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

// An argument or a result as wide as an address: 32 bits in x86 programs, 64
// in x64 programs. Arguments that are 32 bits wide are passed in one too.
using Word = std::uintptr_t;

struct CallResult {
  Word value;  // EAX or RAX, whole: read 32-bit results through Low32
#if !defined(_WIN64)
  std::int32_t removed;  // bytes of arguments the callee took off the stack
#endif
};

// The meaningful half of a 32-bit result: in x64 the upper half of RAX is
// whatever the callee left there.
inline std::uint32_t Low32(Word value) { return static_cast<std::uint32_t>(value); }

// A 32-bit argument. In x64 its upper half is filled with garbage, as a
// caller may leave it: the export must read only the low 32 bits.
inline Word Arg32(std::uint32_t value) {
#if defined(_WIN64)
  return static_cast<Word>(0xA5C3E10Full << 32) | value;
#else
  return value;
#endif
}

#if defined(_WIN64)
// x64 has one calling convention and the caller cleans the stack: the export
// is called through a pointer of its arity, every argument an integer in a
// register or a stack slot, the result in RAX. A record comes back through
// the hidden first argument, whose address RAX returns.
inline CallResult CallByHand(const void* fn, const std::vector<Word>& a) {
  using F0 = Word (*)();
  using F1 = Word (*)(Word);
  using F2 = Word (*)(Word, Word);
  using F3 = Word (*)(Word, Word, Word);
  using F4 = Word (*)(Word, Word, Word, Word);
  using F5 = Word (*)(Word, Word, Word, Word, Word);
  using F6 = Word (*)(Word, Word, Word, Word, Word, Word);
  using F7 = Word (*)(Word, Word, Word, Word, Word, Word, Word);
  using F8 = Word (*)(Word, Word, Word, Word, Word, Word, Word, Word);
  using F9 = Word (*)(Word, Word, Word, Word, Word, Word, Word, Word, Word);
  void* p = const_cast<void*>(fn);
  switch (a.size()) {
    case 0:
      return {reinterpret_cast<F0>(p)()};
    case 1:
      return {reinterpret_cast<F1>(p)(a[0])};
    case 2:
      return {reinterpret_cast<F2>(p)(a[0], a[1])};
    case 3:
      return {reinterpret_cast<F3>(p)(a[0], a[1], a[2])};
    case 4:
      return {reinterpret_cast<F4>(p)(a[0], a[1], a[2], a[3])};
    case 5:
      return {reinterpret_cast<F5>(p)(a[0], a[1], a[2], a[3], a[4])};
    case 6:
      return {reinterpret_cast<F6>(p)(a[0], a[1], a[2], a[3], a[4], a[5])};
    case 7:
      return {reinterpret_cast<F7>(p)(a[0], a[1], a[2], a[3], a[4], a[5], a[6])};
    case 8:
      return {reinterpret_cast<F8>(p)(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7])};
    case 9:
      return {reinterpret_cast<F9>(p)(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8])};
    default:
      break;
  }
  Fail(__FILE__, __LINE__, "no export takes " + std::to_string(a.size()) + " arguments");
  return {0};
}
#else
extern "C" std::uint32_t harness_call(const void* fn, const std::uint32_t* args, std::uint32_t count,
                                      std::int32_t* removed);

// Pushes `args` right to left, calls `fn`, and measures how far the stack
// pointer moved back: a stdcall function removes exactly its argument bytes.
inline CallResult CallByHand(const void* fn, const std::vector<Word>& args) {
  CallResult r{0, 0};
  r.value = harness_call(fn, args.data(), static_cast<std::uint32_t>(args.size()), &r.removed);
  return r;
}
#endif

// Calls `fn` by hand; in x86, records a failure unless it removed exactly
// four bytes per argument, as stdcall must. The whole register comes back.
inline Word CallWord(const void* fn, const std::vector<Word>& args, const std::string& what) {
  if (fn == nullptr) {
    Fail(__FILE__, __LINE__, "no export " + what);
    return 0xBAD0BAD0u;
  }
  const CallResult r = CallByHand(fn, args);
#if !defined(_WIN64)
  if (r.removed != static_cast<std::int32_t>(4 * args.size())) {
    Fail(__FILE__, __LINE__, what + " removed " + std::to_string(r.removed) + " bytes of arguments");
  }
#endif
  return r.value;
}

// The export `name` (or ordinal), for an address result: full width.
inline Word CallAddress(const char* name, const std::vector<Word>& args) {
  return CallWord(reinterpret_cast<const void*>(ByName(name)), args, std::string("named ") + name);
}
inline Word CallAddress(int ordinal, const std::vector<Word>& args) {
  return CallWord(reinterpret_cast<const void*>(ByOrdinal(ordinal)), args,
                  "at ordinal " + std::to_string(ordinal));
}

// The export `name` (or ordinal), for a 32-bit result (or none).
inline std::uint32_t Call(const char* name, const std::vector<Word>& args) {
  return Low32(CallAddress(name, args));
}
inline std::uint32_t Call(int ordinal, const std::vector<Word>& args) {
  return Low32(CallAddress(ordinal, args));
}

inline Word Addr(const void* p) { return reinterpret_cast<std::uintptr_t>(p); }

// SearchImage through its ordinal: the file name's address, then six 32-bit words.
inline std::int32_t Search(const std::string& file, std::int32_t x1, std::int32_t y1, std::int32_t x2,
                           std::int32_t y2, std::int32_t options, std::int32_t color) {
  const auto word = [](std::int32_t v) { return Arg32(static_cast<std::uint32_t>(v)); };
  return static_cast<std::int32_t>(
      Call(15, {Addr(file.c_str()), word(x1), word(y1), word(x2), word(y2), word(options), word(color)}));
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
