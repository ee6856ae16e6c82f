// The platform for native builds. Memory is the C heap, files are stdio, and
// the display is an in-memory picture with device contexts and bitmaps that
// behave like the Win32 ones as far as the capture uses them.
#if !defined(_WIN32)
#include "platform/platform_portable.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/platform.h"

namespace zadized::platform {

namespace {

// Counted from every thread at once.
struct Counts {
  std::atomic<std::int64_t> blocks{0}, deviceContexts{0}, bitmaps{0}, openFiles{0};
};
Counts g_live;

// Relaxed: the counts order nothing, and an ordered update on every
// allocation would hide, from ThreadSanitizer, a missing order elsewhere.
void Count(std::atomic<std::int64_t>& counter, std::int64_t by) {
  counter.fetch_add(by, std::memory_order_relaxed);
}

struct VirtualScreen {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::vector<std::uint32_t> pixels;  // top row first
  std::vector<DesktopRect> monitors;  // empty: one, the whole picture
};
VirtualScreen& Screen() {
  static VirtualScreen screen;
  return screen;
}

// The desktop rectangle the picture shows, and the primary monitor.
DesktopRect PictureArea() {
  const VirtualScreen& s = Screen();
  if (s.monitors.empty()) return DesktopRect{0, 0, s.width, s.height};
  std::int32_t left = s.monitors[0].left, top = s.monitors[0].top;
  for (const DesktopRect& m : s.monitors) {
    if (m.left < left) left = m.left;
    if (m.top < top) top = m.top;
  }
  return DesktopRect{left, top, s.width, s.height};
}

DesktopRect Primary() { return Screen().monitors.empty() ? PictureArea() : Screen().monitors[0]; }

bool g_keys[256];

// Device contexts and bitmaps are tagged heap objects, so that a handle of
// the wrong kind is refused as Win32 refuses it.
enum class Kind : std::uint32_t { kDisplayDC = 0x44495350, kMemoryDC = 0x4D454D44, kBitmap = 0x4249544D };

struct Bitmap {
  Kind kind;
  std::int32_t width;
  std::int32_t height;  // rows are stored bottom-up
  std::uint8_t* bits;
};

struct DeviceContext {
  Kind kind;
  Bitmap* selected;
};

void* AllocZeroed(std::uint32_t bytes) {
  void* p = std::calloc(bytes == 0 ? 1 : bytes, 1);
  if (p != nullptr) Count(g_live.blocks, 1);
  return p;
}

void* FreeBlock(void* block) {
  if (block == nullptr) return nullptr;
  std::free(block);
  Count(g_live.blocks, -1);
  return nullptr;
}

void* OpenExisting(const char* name) {
  if (name == nullptr || name[0] == '\0') return nullptr;
  std::FILE* f = std::fopen(name, "rb");
  if (f != nullptr) Count(g_live.openFiles, 1);
  return f;
}

std::int64_t FileLength(void* file) {
  std::FILE* f = static_cast<std::FILE*>(file);
  if (std::fseek(f, 0, SEEK_END) != 0) return -1;
  const long size = std::ftell(f);
  if (std::fseek(f, 0, SEEK_SET) != 0) return -1;
  return size;
}

std::uint32_t ReadWhole(void* file, void* buffer, std::uint32_t bytes) {
  return static_cast<std::uint32_t>(std::fread(buffer, 1, bytes, static_cast<std::FILE*>(file)));
}

void CloseFile(void* file) {
  std::fclose(static_cast<std::FILE*>(file));
  Count(g_live.openFiles, -1);
}

DeviceContext* NewDC(Kind kind) {
  auto* dc = new DeviceContext{kind, nullptr};
  Count(g_live.deviceContexts, 1);
  return dc;
}

void* CreateDisplayDC() {
  if (Screen().width <= 0 || Screen().height <= 0) return nullptr;
  return NewDC(Kind::kDisplayDC);
}

DeviceContext* AsDC(void* handle) {
  auto* dc = static_cast<DeviceContext*>(handle);
  if (dc == nullptr || (dc->kind != Kind::kDisplayDC && dc->kind != Kind::kMemoryDC)) return nullptr;
  return dc;
}

std::int32_t DeviceCaps(void* handle, std::int32_t index) {
  DeviceContext* dc = AsDC(handle);
  if (dc == nullptr || dc->kind != Kind::kDisplayDC) return 0;
  if (index == kHorzRes) return Primary().width;
  if (index == kVertRes) return Primary().height;
  return 0;
}

std::uint32_t Field32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

void* CreateDib(void* handle, const void* info, void** pixels) {
  if (pixels != nullptr) *pixels = nullptr;
  if (AsDC(handle) == nullptr || info == nullptr) return nullptr;
  const auto* h = static_cast<const std::uint8_t*>(info);
  const auto width = static_cast<std::int32_t>(Field32(h + 4));
  const auto height = static_cast<std::int32_t>(Field32(h + 8));
  const std::uint16_t bitCount = static_cast<std::uint16_t>(h[14] | (h[15] << 8));
  // Only what the capture asks for: 32-bit, bottom-up, uncompressed.
  if (Field32(h) != 40 || width <= 0 || height <= 0 || bitCount != 32 || Field32(h + 16) != 0) return nullptr;
  const std::size_t bytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4;
  auto* bits = static_cast<std::uint8_t*>(std::calloc(bytes, 1));
  if (bits == nullptr) return nullptr;
  auto* bitmap = new Bitmap{Kind::kBitmap, width, height, bits};
  Count(g_live.bitmaps, 1);
  if (pixels != nullptr) *pixels = bits;
  return bitmap;
}

void* CompatibleDC(void* handle) {
  if (AsDC(handle) == nullptr) return nullptr;
  return NewDC(Kind::kMemoryDC);
}

void* Select(void* handle, void* object) {
  DeviceContext* dc = AsDC(handle);
  auto* bitmap = static_cast<Bitmap*>(object);
  if (dc == nullptr || dc->kind != Kind::kMemoryDC || bitmap == nullptr || bitmap->kind != Kind::kBitmap) {
    return nullptr;
  }
  Bitmap* previous = dc->selected;
  dc->selected = bitmap;
  // Win32 answers the stock 1x1 bitmap for a fresh context; any non-null
  // value will do for a caller that does not keep it.
  return previous != nullptr ? static_cast<void*>(previous) : static_cast<void*>(dc);
}

std::int32_t Blit(void* dstHandle, std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
                  void* srcHandle, std::int32_t sx, std::int32_t sy, std::uint32_t rop) {
  DeviceContext* dst = AsDC(dstHandle);
  DeviceContext* src = AsDC(srcHandle);
  if (dst == nullptr || src == nullptr || dst->selected == nullptr || src->kind != Kind::kDisplayDC ||
      rop != kSrcCopy) {
    return 0;
  }
  const Bitmap& b = *dst->selected;
  const VirtualScreen& s = Screen();
  // Desktop coordinates to the picture's; what lies outside it reads as it
  // was (parts no monitor covers read as the picture shows them there).
  const DesktopRect area = PictureArea();
  sx -= area.left;
  sy -= area.top;
  for (std::int32_t row = 0; row < h; ++row) {
    const std::int32_t dy = y + row, syy = sy + row;
    if (dy < 0 || dy >= b.height || syy < 0 || syy >= s.height) continue;
    for (std::int32_t col = 0; col < w; ++col) {
      const std::int32_t dx = x + col, sxx = sx + col;
      if (dx < 0 || dx >= b.width || sxx < 0 || sxx >= s.width) continue;
      const std::uint32_t v = s.pixels[static_cast<std::size_t>(syy) * s.width + sxx];
      std::uint8_t* out = b.bits + (static_cast<std::size_t>(b.height - 1 - dy) * b.width + dx) * 4;
      out[0] = static_cast<std::uint8_t>(v);
      out[1] = static_cast<std::uint8_t>(v >> 8);
      out[2] = static_cast<std::uint8_t>(v >> 16);
      out[3] = 0;
    }
  }
  return 1;
}

std::int32_t Destroy(DeviceContext* dc) {
  dc->kind = Kind{0};
  delete dc;
  Count(g_live.deviceContexts, -1);
  return 1;
}

// As in Win32, the display's context is released, never deleted: a
// capture that mixes the two up fails here as it would leak there.
std::int32_t RemoveDC(void* handle) {
  DeviceContext* dc = AsDC(handle);
  if (dc == nullptr || dc->kind != Kind::kMemoryDC) return 0;
  return Destroy(dc);
}

std::int32_t RemoveObject(void* object) {
  auto* bitmap = static_cast<Bitmap*>(object);
  if (bitmap == nullptr || bitmap->kind != Kind::kBitmap) return 0;
  bitmap->kind = Kind{0};
  std::free(bitmap->bits);
  delete bitmap;
  Count(g_live.bitmaps, -1);
  return 1;
}

std::int32_t ReleaseDisplayDC(void* handle) {
  DeviceContext* dc = AsDC(handle);
  if (dc == nullptr || dc->kind != Kind::kDisplayDC) return 0;
  return Destroy(dc);
}

std::int32_t ListMonitors(DesktopRect* out, std::int32_t capacity) {
  const VirtualScreen& s = Screen();
  if (s.width <= 0 || s.height <= 0) return 0;
  if (s.monitors.empty()) {
    if (capacity > 0) out[0] = PictureArea();
    return 1;
  }
  const auto count = static_cast<std::int32_t>(s.monitors.size());
  for (std::int32_t i = 0; i < count && i < capacity; ++i) out[i] = s.monitors[static_cast<std::size_t>(i)];
  return count;
}

DesktopRect VirtualScreenArea() {
  const VirtualScreen& s = Screen();
  if (s.width <= 0 || s.height <= 0) return DesktopRect{0, 0, 0, 0};
  if (s.monitors.empty()) return PictureArea();
  DesktopRect box = s.monitors[0];
  std::int32_t right = box.left + box.width, bottom = box.top + box.height;
  for (const DesktopRect& m : s.monitors) {
    if (m.left < box.left) box.left = m.left;
    if (m.top < box.top) box.top = m.top;
    if (m.left + m.width > right) right = m.left + m.width;
    if (m.top + m.height > bottom) bottom = m.top + m.height;
  }
  return DesktopRect{box.left, box.top, right - box.left, bottom - box.top};
}

std::int16_t KeyState(std::int32_t virtualKey) {
  if (virtualKey < 0 || virtualKey > 255) return 0;
  return g_keys[virtualKey] ? static_cast<std::int16_t>(0x8000) : 0;
}

std::uint32_t Milliseconds() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

const Ops kPortable = {
    AllocZeroed,      FreeBlock,    OpenExisting,      FileLength,   ReadWhole,   CloseFile, CreateDisplayDC,
    ReleaseDisplayDC, DeviceCaps,   CreateDib,         CompatibleDC, Select,      Blit,      RemoveDC,
    RemoveObject,     ListMonitors, VirtualScreenArea, KeyState,     Milliseconds};

}  // namespace

const Ops& Native() { return kPortable; }

void SetVirtualScreen(std::int32_t width, std::int32_t height, const std::uint32_t* pixels) {
  VirtualScreen& s = Screen();
  if (width <= 0 || height <= 0 || pixels == nullptr) {
    s.width = s.height = 0;
    s.pixels.clear();
    return;
  }
  s.width = width;
  s.height = height;
  s.pixels.assign(pixels, pixels + static_cast<std::size_t>(width) * height);
}

void SetVirtualMonitors(const DesktopRect* monitors, std::int32_t count) {
  VirtualScreen& s = Screen();
  s.monitors.clear();
  if (monitors != nullptr && count > 0) s.monitors.assign(monitors, monitors + count);
}

void SetKeyDown(std::int32_t virtualKey, bool down) {
  if (virtualKey >= 0 && virtualKey < 256) g_keys[virtualKey] = down;
}

LiveCounts Live() {
  const auto get = [](const std::atomic<std::int64_t>& c) { return c.load(std::memory_order_relaxed); };
  return LiveCounts{get(g_live.blocks), get(g_live.deviceContexts), get(g_live.bitmaps),
                    get(g_live.openFiles)};
}

}  // namespace zadized::platform
#endif
