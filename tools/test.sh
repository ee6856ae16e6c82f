#!/usr/bin/env bash
# Builds everything and runs every test: the native core under AddressSanitizer
# and UBSan, the tests of what threads share under ThreadSanitizer, and the 32-bit and the 64-bit DLL through their real exports under
# Wine on a virtual X display. Installs what is missing first (Debian 12, as
# root).
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash tools/setup.sh || exit 1

build() {
  CC=clang CXX=clang++ cmake -S . -B build/native -G Ninja -DZADIZED_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug \
      -DZADIZED_FUZZ_SECONDS=60 >/dev/null &&
    cmake --build build/native &&
    CC=clang CXX=clang++ cmake -S . -B build/tsan -G Ninja -DZADIZED_THREAD_SANITIZER=ON \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null &&
    cmake --build build/tsan &&
    cmake -S . -B build/win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
      -DCMAKE_BUILD_TYPE=Release >/dev/null &&
    cmake --build build/win32 &&
    cmake -S . -B build/win64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake \
      -DCMAKE_BUILD_TYPE=Release >/dev/null &&
    cmake --build build/win64
}
build || { echo "test: the build failed"; exit 1; }

# One virtual display of a common desktop size for every Windows test.
source tools/virtual_display.sh
start_virtual_display 1920x1080x24
export WINEPREFIX="$root/build/wineprefix"

cleanup() {
  tools/wine/run --stop >/dev/null 2>&1 || true
  kill "$virtual_display_pid" 2>/dev/null || true
}
trap cleanup EXIT

# All four builds' tests in one run, so the closing summary counts all of them.
cat > build/CTestTestfile.cmake <<CTEST
subdirs("native" "tsan" "win32" "win64")
CTEST
ctest --test-dir build --output-on-failure --timeout 900
