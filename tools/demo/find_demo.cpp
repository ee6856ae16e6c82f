// Demo host: shows tools/demo/desktop.bmp at the top-left of the screen and
// asks the real zadized.dll, as a scripting host would, where things are.
// Usage: find_demo.exe zadized.dll desktop.bmp [TEMPLATE_FOLDER [HOLD_SECONDS]]
// With HOLD_SECONDS the picture stays on the screen that long after the
// searches, for other programs to read the screen.
// The expected positions are where make_desktop.py draws; keep them in step.
#include <spng.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/bmp_bytes.h"

namespace {

using SearchFn = std::int32_t(WINAPI*)(const char*, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                                       std::int32_t, std::int32_t);

std::vector<std::uint8_t> g_file;
std::int32_t g_width = 0, g_height = 0;
bool g_painted = false;
std::string g_templateDir;  // where the cut templates are written, with a trailing separator

std::uint32_t PixelAt(int x, int y) {  // from the 24-bit bottom-up file
  const int stride = (g_width * 3 + 3) / 4 * 4;
  const std::uint8_t* p = g_file.data() + 54 + static_cast<std::size_t>(g_height - 1 - y) * stride + 3 * x;
  return p[0] | p[1] << 8 | p[2] << 16;
}

LRESULT CALLBACK Paint(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_PAINT) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    FillRect(dc, &ps.rcPaint, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    auto* info = reinterpret_cast<BITMAPINFO*>(g_file.data() + 14);
    SetDIBitsToDevice(dc, 0, 0, static_cast<DWORD>(g_width), static_cast<DWORD>(g_height), 0, 0, 0,
                      static_cast<UINT>(g_height), g_file.data() + 54, info, DIB_RGB_COLORS);
    EndPaint(hwnd, &ps);
    g_painted = true;
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wp, lp);
}

void Pump(DWORD ms) {
  const DWORD end = GetTickCount() + ms;
  MSG msg;
  while (static_cast<LONG>(end - GetTickCount()) > 0) {
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    Sleep(10);
  }
}

// A template cut from the picture, each colour passed through `recolour`.
std::string Cut(const char* name, int x, int y, int w, int h, std::uint32_t (*recolor)(std::uint32_t)) {
  std::vector<std::uint32_t> px;
  for (int j = 0; j < h; ++j)
    for (int i = 0; i < w; ++i) px.push_back(recolor(PixelAt(x + i, y + j)));
  const std::string path = g_templateDir + name;
  const auto bytes = zadized::test::MakeBmp24(w, h, px);
  if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  return path;
}

// The same template as a PNG file, as a screenshot tool would save it.
std::string SavePng(const std::string& bmpPath, const char* name) {
  std::vector<std::uint8_t> b;
  if (std::FILE* f = std::fopen(bmpPath.c_str(), "rb")) {
    for (int c; (c = std::fgetc(f)) != EOF;) b.push_back(static_cast<std::uint8_t>(c));
    std::fclose(f);
  }
  const std::uint32_t w = b[18] | b[19] << 8, h = b[22] | b[23] << 8, stride = (w * 3 + 3) / 4 * 4;
  std::vector<std::uint8_t> rgb;
  for (std::uint32_t y = 0; y < h; ++y) {
    for (std::uint32_t x = 0; x < w; ++x) {
      const std::uint8_t* p = b.data() + 54 + (h - 1 - y) * stride + 3 * x;
      rgb.insert(rgb.end(), {p[2], p[1], p[0]});
    }
  }
  spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
  spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
  spng_ihdr ihdr{w, h, 8, SPNG_COLOR_TYPE_TRUECOLOR, 0, 0, 0};
  spng_set_ihdr(ctx, &ihdr);
  int error = spng_encode_image(ctx, rgb.data(), rgb.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
  std::size_t length = 0;
  void* png = error == 0 ? spng_get_png_buffer(ctx, &length, &error) : nullptr;
  spng_ctx_free(ctx);
  const std::string path = g_templateDir + name;
  if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
    if (png != nullptr) std::fwrite(png, 1, length, f);
    std::fclose(f);
  }
  std::free(png);
  return path;
}

std::uint32_t Same(std::uint32_t v) { return v; }
std::uint32_t Invert(std::uint32_t v) { return ~v & 0xFFFFFF; }
// The glyph as a red shape on white.
std::uint32_t Glyph(std::uint32_t v) { return v == 0xFFFFFF ? 0xFF0000 : 0xFFFFFF; }

int g_failures = 0;

void Show(SearchFn search, const char* what, const std::string& file, std::int32_t options,
          std::int32_t color, int ex, int ey) {
  const std::int32_t screenW = GetSystemMetrics(SM_CXSCREEN);
  const std::int32_t r = search(file.c_str(), 0, 0, g_width - 1, g_height - 1, options, color);
  // A result r is (y - 1) * W + (x - 1): add W + 1, then divide by W.
  const std::int64_t v = static_cast<std::int64_t>(r) + screenW + 1;
  const bool expectNone = ex < 0;
  const bool ok = expectNone ? r == -1 : r == (ey - 1) * screenW + (ex - 1);
  if (!ok) ++g_failures;
  if (expectNone) {
    std::printf("%-44s options 0x%05X  result %9d  expected -1          %s\n", what, options, r,
                ok ? "ok" : "WRONG");
  } else {
    std::printf("%-44s options 0x%05X  result %9d  x=%-4lld y=%-4lld expected x=%-4d y=%-4d %s\n", what,
                options, r, static_cast<long long>(v % screenW), static_cast<long long>(v / screenW), ex, ey,
                ok ? "ok" : "WRONG");
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::printf("usage: %s zadized.dll desktop.bmp [TEMPLATE_FOLDER]\n", argv[0]);
    return 2;
  }
  if (argc > 3) {
    g_templateDir = std::string(argv[3]) + "\\";
  } else {
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    g_templateDir = dir;
  }
  HMODULE dll = LoadLibraryA(argv[1]);
  const auto search = reinterpret_cast<SearchFn>(
      reinterpret_cast<void*>(dll != nullptr ? GetProcAddress(dll, "SearchImage") : nullptr));
  if (search == nullptr) {
    std::printf("cannot load SearchImage from %s\n", argv[1]);
    return 2;
  }
  if (std::FILE* f = std::fopen(argv[2], "rb")) {
    std::fseek(f, 0, SEEK_END);
    g_file.resize(static_cast<std::size_t>(std::ftell(f)));
    std::fseek(f, 0, SEEK_SET);
    if (std::fread(g_file.data(), 1, g_file.size(), f) != g_file.size()) g_file.clear();
    std::fclose(f);
  }
  if (g_file.size() < 54) {
    std::printf("cannot read %s\n", argv[2]);
    return 2;
  }
  g_width = g_file[18] | g_file[19] << 8;
  g_height = g_file[22] | g_file[23] << 8;

  WNDCLASSA wc = {};
  wc.lpfnWndProc = Paint;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "zadized-demo";
  RegisterClassA(&wc);
  CreateWindowExA(WS_EX_TOPMOST, wc.lpszClassName, "", WS_POPUP | WS_VISIBLE, 0, 0,
                  GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), nullptr, nullptr,
                  wc.hInstance, nullptr);
  for (int i = 0; i < 200 && !g_painted; ++i) Pump(20);
  Pump(300);
  std::printf("%d-bit host and DLL, screen %dx%d, desktop picture %dx%d at (0,0)\n\n",
              static_cast<int>(8 * sizeof(void*)), GetSystemMetrics(SM_CXSCREEN),
              GetSystemMetrics(SM_CYSCREEN), g_width, g_height);

  // Pattern mode: a folder icon with every colour inverted still has the
  // folder's groups of colour. Four folders: (24,24) (600,24) (24,104) (436,340).
  const std::string folder = Cut("zadized-demo-folder.bmp", 24, 24, 32, 32, Invert);
  const struct {
    std::int32_t options;
    int x, y;
  } orders[] = {{0x00000, 24, 24},  {0x10000, 436, 340}, {0x20000, 600, 24},  {0x30000, 436, 340},
                {0x40000, 24, 24},  {0x50000, 24, 104},  {0x60000, 600, 24},  {0x70000, 600, 24},
                {0x00001, 600, 24}, {0x00002, 24, 104},  {0x00003, 436, 340}, {0x00004, -1, -1}};
  for (const auto& o : orders) Show(search, "pattern: inverted folder icon", folder, o.options, -1, o.x, o.y);
  // The same template saved as PNG is found at the same places.
  const std::string folderPng = SavePng(folder, "zadized-demo-folder.png");
  Show(search, "pattern: inverted folder icon, PNG file", folderPng, 0x00000, -1, 24, 24);
  Show(search, "pattern: inverted folder icon, PNG, bottom up", folderPng, 0x10000, -1, 436, 340);

  // Shape mode: the letter Z (white in the title) as a red shape on white.
  const std::string z = Cut("zadized-demo-z.bmp", 307, 204, 12, 16, Glyph);
  Show(search, "shape: letter Z, any uniform colour", z, 0x00000, 0xFF0000, 307, 204);
  Show(search, "shape: letter Z, right to left", z, 0x20000, 0xFF0000, 355, 204);
  Show(search, "shape: letter Z, second sighting", z, 0x00001, 0xFF0000, 355, 204);

  // Tolerance mode: close buttons, checked at the top-left corner colour.
  const std::string close = Cut("zadized-demo-close.bmp", 698, 205, 14, 14, Same);
  const std::string closeInv = Cut("zadized-demo-close-inv.bmp", 698, 205, 14, 14, Invert);
  Show(search, "tolerance 0: close button", close, 0x00000, 0x10000000, 698, 205);
  Show(search, "tolerance 0: close button, bottom up", close, 0x10000, 0x10000000, 238, 425);
  Show(search, "tolerance 0: inverted close button", closeInv, 0x00000, 0x10000000, -1, -1);
  Show(search, "no limits: inverted close button", closeInv, 0x00000, 0x10FF02FD, 698, 205);

  std::printf("\n%s\n", g_failures == 0 ? "all as expected" : "some results differ from the expected ones");
  std::fflush(stdout);
  if (argc > 4) Pump(static_cast<DWORD>(std::atoi(argv[4])) * 1000);
  return g_failures == 0 ? 0 : 1;
}
