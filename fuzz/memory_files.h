// A platform whose files live in memory, so fuzzers feed bytes to the loader
// through the same open/length/read/close calls the DLL makes.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace zadized::fuzz {

struct MemoryFile {
  const std::vector<std::uint8_t>* bytes;
  std::size_t position;
};

inline std::map<std::string, std::vector<std::uint8_t>>& Files() {
  static std::map<std::string, std::vector<std::uint8_t>> files;
  return files;
}

inline platform::Ops MemoryFileOps() {
  platform::Ops ops = platform::Native();
  ops.openExisting = [](const char* name) -> void* {
    auto it = Files().find(name);
    return it == Files().end() ? nullptr : new MemoryFile{&it->second, 0};
  };
  ops.fileLength = [](void* f) -> std::int64_t {
    return static_cast<std::int64_t>(static_cast<MemoryFile*>(f)->bytes->size());
  };
  ops.readFile = [](void* f, void* buffer, std::uint32_t n) -> std::uint32_t {
    auto* file = static_cast<MemoryFile*>(f);
    const std::size_t left = file->bytes->size() - file->position;
    const std::size_t take = n < left ? n : left;
    if (take != 0) std::memcpy(buffer, file->bytes->data() + file->position, take);
    file->position += take;
    return static_cast<std::uint32_t>(take);
  };
  ops.closeFile = [](void* f) { delete static_cast<MemoryFile*>(f); };
  return ops;
}

}  // namespace zadized::fuzz
