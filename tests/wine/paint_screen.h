// Shows a picture on the whole screen from a Windows test program: a topmost
// borderless window at (0, 0) painting 0x00RRGGBB pixels, top row first. With
// no window manager (Xvfb), the window lands exactly on the screen's origin,
// so what CaptureScreen reads back is known pixel for pixel.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

namespace harness {

struct ShownPicture {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::vector<std::uint32_t> px;
  bool painted = false;
  int paints = 0;
};

inline ShownPicture& Shown() {
  static ShownPicture p;
  return p;
}

inline LRESULT CALLBACK PaintShown(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg != WM_PAINT) return DefWindowProcA(hwnd, msg, wp, lp);
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd, &ps);
  ShownPicture& p = Shown();
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = p.width;
  info.bmiHeader.biHeight = -p.height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  // A strip of a taller picture (ShowOnDesktop) draws it from its own row.
  const int row = static_cast<int>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  SetDIBitsToDevice(dc, 0, -row, static_cast<DWORD>(p.width), static_cast<DWORD>(p.height), 0, 0, 0,
                    static_cast<UINT>(p.height), p.px.data(), &info, DIB_RGB_COLORS);
  EndPaint(hwnd, &ps);
  p.painted = true;
  ++p.paints;
  return 0;
}

inline void PumpMessages(DWORD ms) {
  const DWORD end = GetTickCount() + ms;
  MSG msg;
  while (static_cast<LONG>(end - GetTickCount()) > 0) {
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    Sleep(10);
  }
}

// A picture the size of the screen, top row first, 0x00RRGGBB, whose
// background is `background`(x, y); blocks of pixels are put on it.
struct Picture {
  std::int32_t width = 0, height = 0;
  std::vector<std::uint32_t> px;
  template <typename Background>
  explicit Picture(const Background& background)
      : width(GetSystemMetrics(SM_CXSCREEN)), height(GetSystemMetrics(SM_CYSCREEN)) {
    px.resize(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) px[static_cast<std::size_t>(y) * width + x] = background(x, y);
  }
  std::uint32_t& at(int x, int y) { return px[static_cast<std::size_t>(y) * width + x]; }
  // A top-down block `w` pixels wide with its top-left pixel at (x, y).
  void Put(int x, int y, int w, const std::vector<std::uint32_t>& block) {
    for (std::size_t k = 0; k < block.size(); ++k)
      at(x + static_cast<int>(k) % w, y + static_cast<int>(k) / w) = block[k];
  }
};

// Small tiles of five colours, three to a row's period: no two neighbouring
// 4 x 4 tiles alike.
inline std::uint32_t Tiles(int x, int y) {
  static const std::uint32_t kTiles[5] = {0x203040, 0x607080, 0x90A0B0, 0x405020, 0xC0C0C0};
  return kTiles[((x / 4) + (y / 4) * 3) % 5];
}

// Shows `px` (width x height, top row first) with its top-left pixel at
// (left, top) of the desktop, and waits until it is painted. False when no
// window could be made or it was never painted.
inline bool ShowOnScreen(std::int32_t width, std::int32_t height, std::vector<std::uint32_t> px,
                         std::int32_t left = 0, std::int32_t top = 0) {
  ShownPicture& p = Shown();
  p.width = width;
  p.height = height;
  p.px = std::move(px);
  p.painted = false;
  WNDCLASSA wc = {};
  wc.lpfnWndProc = PaintShown;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "zadized-test-screen";
  RegisterClassA(&wc);
  HWND hwnd = CreateWindowExA(WS_EX_TOPMOST, wc.lpszClassName, "", WS_POPUP | WS_VISIBLE, left, top, width,
                              height, nullptr, nullptr, wc.hInstance, nullptr);
  if (hwnd == nullptr) return false;
  UpdateWindow(hwnd);
  for (int i = 0; i < 200 && !p.painted; ++i) PumpMessages(20);
  PumpMessages(300);  // let the display settle
  return p.painted;
}

// Shows `px` (width x height, top row first) with its top-left pixel at
// (left, top) of the desktop, across monitors, and waits until it is
// painted. Wine fits a window that covers a whole monitor to that monitor,
// so the picture goes up in strips lower than any monitor.
inline bool ShowOnDesktop(std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height,
                          std::vector<std::uint32_t> px) {
  constexpr std::int32_t kStrip = 64;
  ShownPicture& p = Shown();
  p.width = width;
  p.height = height;
  p.px = std::move(px);
  p.paints = 0;
  WNDCLASSA wc = {};
  wc.lpfnWndProc = PaintShown;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "zadized-test-desktop";
  RegisterClassA(&wc);
  int strips = 0;
  for (std::int32_t row = 0; row < height; row += kStrip, ++strips) {
    const std::int32_t h = height - row < kStrip ? height - row : kStrip;
    HWND hwnd = CreateWindowExA(WS_EX_TOPMOST, wc.lpszClassName, "", WS_POPUP, left, top + row, width, h,
                                nullptr, nullptr, wc.hInstance, nullptr);
    if (hwnd == nullptr) return false;
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, row);
    ShowWindow(hwnd, SW_SHOWNA);
    UpdateWindow(hwnd);
  }
  for (int i = 0; i < 200 && p.paints < strips; ++i) PumpMessages(20);
  PumpMessages(300);  // let the display settle
  return p.paints >= strips;
}

}  // namespace harness
