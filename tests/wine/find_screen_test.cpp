// The template workflow on a live screen with the Windows build of
// zadized-find: --grab cuts a rectangle of the painted screen into a template
// file, and --screen then finds that template where it was cut. The tool is
// started as a user starts it, as its own process, from beside the DLL.
#include "common/bmp_bytes.h"
#include "harness.h"
#include "image/records.h"
#include "paint_screen.h"

namespace {

struct Run {
  DWORD exitCode = 0xFFFFFFFF;
  std::string out;
};

// Runs zadized-find.exe with `args`, its output to a file, and waits for it
// while this program keeps its window painted.
Run RunFind(const std::string& args) {
  std::string tool = harness::WinPath(harness::DllPath());
  tool = tool.substr(0, tool.find_last_of('\\') + 1) + "zadized-find.exe";
  const std::string outPath = harness::Scratch("find-output.txt");
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE out =
      CreateFileA(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = si.hStdError = out;
  PROCESS_INFORMATION pi = {};
  std::string command = "\"" + tool + "\" " + args;
  Run r;
  if (CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    while (MsgWaitForMultipleObjects(1, &pi.hProcess, FALSE, 120000, QS_ALLINPUT) == WAIT_OBJECT_0 + 1)
      harness::PumpMessages(10);
    GetExitCodeProcess(pi.hProcess, &r.exitCode);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  CloseHandle(out);
  std::FILE* f = std::fopen(outPath.c_str(), "rb");
  if (f != nullptr) {
    for (int c; (c = std::fgetc(f)) != EOF;) r.out.push_back(static_cast<char>(c));
    std::fclose(f);
  }
  std::printf("  zadized-find %s -> %lu\n%s", args.c_str(), static_cast<unsigned long>(r.exitCode),
              r.out.c_str());
  return r;
}

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  std::vector<std::uint8_t> b;
  if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
    for (int c; (c = std::fgetc(f)) != EOF;) b.push_back(static_cast<std::uint8_t>(c));
    std::fclose(f);
  }
  return b;
}

TEST_CASE(GrabbedTemplatesAreFoundWhereTheyWereGrabbed) {
  const std::int32_t w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
  // Stripes everywhere, and one patch of noise in six colours: the only
  // place a template cut from it fits.
  std::vector<std::uint32_t> px(static_cast<std::size_t>(w) * h);
  std::uint32_t seed = 12345;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      std::uint32_t& v = px[static_cast<std::size_t>(y) * w + x];
      v = (x / 7) % 2 ? 0x336699 : 0x996633;
      if (x >= 200 && x < 260 && y >= 120 && y < 160) {
        seed = seed * 1103515245u + 12345u;
        v = 0x1F2F3F * ((seed >> 16) % 6);  // few colours, so the pattern of equal ones tells
      }
    }
  }
  CHECK(harness::ShowOnScreen(w, h, px));

  // 24 x 16 pixels from (210, 130), as PNG and as BMP.
  std::vector<std::uint32_t> cut;
  for (int y = 130; y < 146; ++y)
    for (int x = 210; x < 234; ++x) cut.push_back(px[static_cast<std::size_t>(y) * w + x]);
  const std::string png = harness::Scratch("grabbed.png"), bmp = harness::Scratch("grabbed.bmp");
  const Run grabPng = RunFind("--grab 210,130,233,145 \"" + png + "\"");
  CHECK_EQ(grabPng.exitCode, 0ul);
  const Run grabBmp = RunFind("--grab 233,145,210,130 \"" + bmp + "\"");  // corners in either order
  CHECK_EQ(grabBmp.exitCode, 0ul);
  CHECK(ReadBytes(bmp) == zadized::test::MakeBmp24(24, 16, cut));
  const std::vector<std::uint8_t> pngBytes = ReadBytes(png);
  CHECK(pngBytes.size() > 8 && std::memcmp(pngBytes.data(), "\x89PNG", 4) == 0);

  // Found where it was grabbed, from the PNG file as from the BMP file.
  for (const std::string& file : {png, bmp}) {
    const Run found = RunFind("--screen \"" + file + "\"");
    CHECK_EQ(found.exitCode, 0ul);
    CHECK(found.out.find("found     x=210 y=130 ") != std::string::npos);
  }
  // Off the noise patch, nothing: the search really looked at the screen.
  const Run elsewhere =
      RunFind("--screen \"" + png + "\" 300 0 " + std::to_string(w - 1) + " " + std::to_string(h - 1));
  CHECK_EQ(elsewhere.exitCode, 1ul);
  CHECK_EQ(RunFind("--grab 1,2,3 \"" + png + "\"").exitCode, 2ul);
}

TEST_CASE(AWeakTemplateIsCountedOnTheLiveScreen) {
  const std::int32_t w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
  // Stripes, and a 256 x 256 gradient at (600, 300) whose pixels all differ
  // from each other and from the stripes.
  std::vector<std::uint32_t> px(static_cast<std::size_t>(w) * h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const bool inGradient = x >= 600 && x < 856 && y >= 300 && y < 556;
      px[static_cast<std::size_t>(y) * w + x] =
          inGradient ? static_cast<std::uint32_t>((x - 600) << 16 | (y - 300) << 8 | 0x96)
                     : ((x / 7) % 2 ? 0x336699u : 0x996633u);
    }
  }
  CHECK(harness::ShowOnScreen(w, h, px));
  const std::string piece = harness::Scratch("gradient-piece.bmp");
  CHECK_EQ(RunFind("--grab 697,353,708,361 \"" + piece + "\"").exitCode, 0ul);

  // Pattern mode accepts every 12 x 9 window of the gradient, 245 x 248 of
  // them; the piece's own colours are at one place, and there no warning.
  const Run weak = RunFind("--screen \"" + piece + "\"");
  CHECK(weak.out.find("warning   pattern mode: all 108 pixels differ, so any 12 x 9 window of distinct "
                      "colours matches; 60,760 places on this screen. Try near colours: --color "
                      "0x20000000 (1 place here).") != std::string::npos);
  const Run exact = RunFind("--screen \"" + piece + "\" --color 0x20000000");
  CHECK_EQ(exact.exitCode, 0ul);
  CHECK(exact.out.find("found     x=697 y=353 ") != std::string::npos);
  CHECK(exact.out.find("warning") == std::string::npos);
}

}  // namespace

HARNESS_MAIN
