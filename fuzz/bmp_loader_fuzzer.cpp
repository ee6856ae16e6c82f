// BMP bytes through the loader: open, check, corner colours, colour table.
#include <memory>

#include "image/bitmap_cache.h"
#include "memory_files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const zadized::platform::Ops ops = zadized::fuzz::MemoryFileOps();
  zadized::platform::Override(&ops);
  zadized::fuzz::Files()["t.bmp"].assign(data, data + size);
  auto cache = std::make_unique<zadized::BitmapCache>();
  const zadized::BitmapRecord r = zadized::OpenBitmap(*cache, "t.bmp");
  if (r.fileSize >= 0) {
    zadized::ColorValue table[256];
    zadized::ResolveColorTable(r, table);
  }
  zadized::ReleaseBitmapCache(*cache);
  return 0;
}
