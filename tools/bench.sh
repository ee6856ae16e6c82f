#!/usr/bin/env bash
# Builds the native benchmark (Release, no sanitizers) and runs it once:
# fast scan, literal scan, OpenCV matchTemplate and a plain read pass, with
# the ratio table at the end. Then, through the real DLL under Wine on a
# 1920 x 1080 virtual screen, SearchImage calls per second for the whole
# screen and for a 200 x 200 rectangle. Extra arguments go to the native
# benchmark, e.g. --benchmark_filter=uniform. BENCH_BUILD overrides the
# native build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${BENCH_BUILD:-build/bench}
bash tools/setup.sh >/dev/null
CC=${CC:-clang} CXX=${CXX:-clang++} cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DZADIZED_SANITIZE=OFF >/dev/null
cmake --build "$build" --target zadized_bench
"$build/zadized_bench" "$@"

echo
echo "== SearchImage through the DLL under Wine (the 32-bit process is emulated where the kernel cannot run it)"
cmake -S . -B build/win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/win32 --target zadized wine_search_rate >/dev/null
source tools/virtual_display.sh
start_virtual_display 1920x1080x24
export WINEPREFIX="$root/build/wineprefix"
trap 'tools/wine/run --stop >/dev/null 2>&1; kill $virtual_display_pid 2>/dev/null' EXIT
tools/wine/run build/win32/wine_search_rate.exe "Z:${root//\//\\}\\build\\win32\\zadized.dll" 5
