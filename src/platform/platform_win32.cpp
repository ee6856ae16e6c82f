// The DLL's platform: the system calls themselves, nothing added.
#if defined(_WIN32)
#include <windows.h>

#include "platform/platform.h"

namespace zadized::platform {

namespace {

void* AllocZeroed(std::uint32_t bytes) { return reinterpret_cast<void*>(GlobalAlloc(GMEM_ZEROINIT, bytes)); }

void* FreeBlock(void* block) { return reinterpret_cast<void*>(GlobalFree(reinterpret_cast<HGLOBAL>(block))); }

void* OpenExisting(const char* name) {
  HANDLE h = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  return h == INVALID_HANDLE_VALUE ? nullptr : h;
}

std::int64_t FileLength(void* file) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file, &size)) return -1;
  return size.QuadPart;
}

std::uint32_t ReadWhole(void* file, void* buffer, std::uint32_t bytes) {
  DWORD got = 0;
  if (!ReadFile(file, buffer, bytes, &got, nullptr)) return got;
  return got;
}

void CloseFile(void* file) { CloseHandle(file); }

// The desktop's own context rather than a new one for the "DISPLAY" driver:
// both start at the primary monitor's corner on Windows, but Wine puts a
// driver context's origin at the virtual screen's corner when there are
// several monitors, so only this one shows the primary's pixels at (0, 0)
// everywhere.
void* CreateDisplayDC() { return GetDC(nullptr); }

std::int32_t ReleaseDisplayDC(void* dc) { return ReleaseDC(nullptr, static_cast<HDC>(dc)); }

std::int32_t DeviceCaps(void* dc, std::int32_t index) { return GetDeviceCaps(static_cast<HDC>(dc), index); }

void* CreateDib(void* dc, const void* info, void** pixels) {
  return CreateDIBSection(static_cast<HDC>(dc), static_cast<const BITMAPINFO*>(info), DIB_RGB_COLORS, pixels,
                          nullptr, 0);
}

void* CompatibleDC(void* dc) { return CreateCompatibleDC(static_cast<HDC>(dc)); }

void* Select(void* dc, void* object) {
  return SelectObject(static_cast<HDC>(dc), static_cast<HGDIOBJ>(object));
}

std::int32_t Blit(void* dst, std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h, void* src,
                  std::int32_t sx, std::int32_t sy, std::uint32_t rop) {
  return BitBlt(static_cast<HDC>(dst), x, y, w, h, static_cast<HDC>(src), sx, sy, rop);
}

std::int32_t RemoveDC(void* dc) { return DeleteDC(static_cast<HDC>(dc)); }

std::int32_t RemoveObject(void* object) { return DeleteObject(static_cast<HGDIOBJ>(object)); }

// Monitors as EnumDisplayMonitors lists them, the primary moved to the front.
struct MonitorList {
  DesktopRect* out;
  std::int32_t capacity;
  std::int32_t count;
};

void Place(MonitorList& list, std::int32_t at, const RECT& r) {
  if (at < list.capacity) list.out[at] = DesktopRect{r.left, r.top, r.right - r.left, r.bottom - r.top};
}

BOOL CALLBACK AddMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM data) {
  MonitorList& list = *reinterpret_cast<MonitorList*>(data);
  MONITORINFO info = {};
  info.cbSize = sizeof info;
  if (!GetMonitorInfoA(monitor, &info)) return TRUE;
  if ((info.dwFlags & MONITORINFOF_PRIMARY) != 0) {
    // Everything listed so far moves one place down.
    for (std::int32_t i = (list.count < list.capacity ? list.count : list.capacity - 1); i > 0; --i) {
      list.out[i] = list.out[i - 1];
    }
    Place(list, 0, info.rcMonitor);
  } else {
    Place(list, list.count, info.rcMonitor);
  }
  ++list.count;
  return TRUE;
}

std::int32_t ListMonitors(DesktopRect* out, std::int32_t capacity) {
  MonitorList list{out, capacity, 0};
  if (!EnumDisplayMonitors(nullptr, nullptr, AddMonitor, reinterpret_cast<LPARAM>(&list))) return 0;
  return list.count;
}

DesktopRect VirtualScreen() {
  return DesktopRect{GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN),
                     GetSystemMetrics(SM_CXVIRTUALSCREEN), GetSystemMetrics(SM_CYVIRTUALSCREEN)};
}

std::int16_t KeyState(std::int32_t virtualKey) { return GetAsyncKeyState(virtualKey); }

std::uint32_t Milliseconds() { return timeGetTime(); }

const Ops kWin32 = {
    AllocZeroed,      FreeBlock,    OpenExisting,  FileLength,   ReadWhole,   CloseFile, CreateDisplayDC,
    ReleaseDisplayDC, DeviceCaps,   CreateDib,     CompatibleDC, Select,      Blit,      RemoveDC,
    RemoveObject,     ListMonitors, VirtualScreen, KeyState,     Milliseconds};

}  // namespace

const Ops& Native() { return kWin32; }

}  // namespace zadized::platform
#endif
