// Sequences of file names through the bitmap cache: short and long names,
// repeats, misses and names of files that exist. Every name that loaded once
// must come back with the identical record, whatever came between.
#include <cstdlib>
#include <map>
#include <memory>
#include <string>

#include "image/bitmap_cache.h"
#include "memory_files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const zadized::platform::Ops ops = zadized::fuzz::MemoryFileOps();
  zadized::platform::Override(&ops);
  auto cache = std::make_unique<zadized::BitmapCache>();
  std::map<std::string, zadized::BitmapRecord> seen;
  std::size_t at = 0;
  while (at < size) {
    // One control byte, then a name up to the next NUL: the control byte's
    // low bit makes the name exist as a 1 x 1 BMP file, its other bits stretch
    // the name so the name table has to grow.
    const std::uint8_t control = data[at++];
    std::string name;
    while (at < size && data[at] != 0) name.push_back(static_cast<char>(data[at++]));
    ++at;
    name.append(static_cast<std::size_t>(control >> 1) * 3, 'n');
    if (control & 1) {
      std::vector<std::uint8_t> bmp(58, 0);
      bmp[10] = 54;
      bmp[18] = 1;
      bmp[22] = 1;
      bmp[28] = 24;
      bmp[54] = control;
      zadized::fuzz::Files().emplace(name, bmp);
    }
    const zadized::BitmapRecord r = zadized::OpenBitmap(*cache, name.c_str());
    auto it = seen.find(name);
    if (it != seen.end() && std::memcmp(&it->second, &r, sizeof r) != 0) std::abort();
    if (r.fileSize >= 0) seen.emplace(name, r);
    if (static_cast<std::size_t>(cache->count) != seen.size()) std::abort();
  }
  zadized::ReleaseBitmapCache(*cache);
  zadized::fuzz::Files().clear();
  return 0;
}
