// Writes test BMP files to a scratch folder for the native tests.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/bmp_bytes.h"

namespace zadized::test {

inline std::string ScratchPath(const std::string& name) {
  static const std::string dir = [] {
    char templ[] = "/tmp/zadized-test-XXXXXX";
    const char* made = mkdtemp(templ);
    return std::string(made != nullptr ? made : "/tmp");
  }();
  return dir + "/" + name;
}

inline std::string WriteFile(const std::string& name, const std::vector<std::uint8_t>& bytes) {
  const std::string path = ScratchPath(name);
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f != nullptr) {
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  return path;
}

}  // namespace zadized::test
