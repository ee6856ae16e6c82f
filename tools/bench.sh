#!/usr/bin/env bash
# The search benchmark, native and end to end, each part in one run.
# 1. Native (Release, no sanitizers): every case of bench/search_bench.cpp
#    through the fast scan, the literal scan, OpenCV matchTemplate and a plain
#    read pass, then the table of ratios and goals. Extra arguments go to it,
#    e.g. --benchmark_filter=icons (a filter that leaves out floor/ gives no
#    floor ratios). A full run takes about a quarter of an hour.
# 2. Through the real DLLs under Wine on a 1920 x 1080 virtual screen, the
#    32-bit one (its process emulated) and the 64-bit one (native), in one
#    run: the time of a whole-screen capture and SearchImage calls per second
#    for the whole screen and for a 200 x 200 rectangle; then the cases the
#    native benchmark marks, each screen shown full-screen, timed through
#    zadized.dll and through zadized_literal.dll (the same library starting
#    with the literal scan), and through zadized.dll again while the thread
#    holds one capture of the screen (HoldScreen), with their table and the
#    geometric mean of live over held, for each architecture; the rate part
#    ends with eight templates on one frame, live against held.
# BENCH_NATIVE=0 or BENCH_WINE=0 skips a part; BENCH_WINE_SECONDS (default 2)
# is how long each case is repeated per DLL under Wine; BENCH_WINE_LITERAL=0
# leaves out the literal DLL (whose scans take minutes), for the live and held
# columns alone; BENCH_BUILD overrides the native build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${BENCH_BUILD:-build/bench}
bash tools/setup.sh >/dev/null
CC=${CC:-clang} CXX=${CXX:-clang++} cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DZADIZED_SANITIZE=OFF >/dev/null
cmake --build "$build" --target zadized_bench >/dev/null

if [ "${BENCH_NATIVE:-1}" != 0 ]; then
  echo "== Native: fast scan, literal scan, OpenCV and a read pass, 1920x1080 screens"
  echo "$(nproc) cores; load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)"
  start=$(date +%s)
  "$build/zadized_bench" "$@"
  echo "Native part: $(($(date +%s) - start)) s, load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)."
  echo "Reproduce this table: tools/bench.sh${*:+ $*} (or $build/zadized_bench${*:+ $*} once built)"
fi

if [ "${BENCH_WINE:-1}" != 0 ]; then
  echo
  echo "== SearchImage through the DLLs under Wine, x86 then x64 (the 32-bit process is emulated where the kernel cannot run it)"
  echo "Load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)"
  start=$(date +%s)
  for arch in win32:mingw-i686 win64:mingw-x86_64; do
    cmake -S . -B "build/${arch%%:*}" -G Ninja -DCMAKE_TOOLCHAIN_FILE="cmake/${arch#*:}.cmake" \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "build/${arch%%:*}" --target zadized zadized_literal wine_search_rate wine_search_cases >/dev/null
  done
  cases=$root/build/win32/bench-cases
  rm -rf "$cases"
  "$build/zadized_bench" --wine-cases="$cases"
  source tools/virtual_display.sh
  start_virtual_display 1920x1080x24
  export WINEPREFIX="$root/build/wineprefix"
  trap 'tools/wine/run --stop >/dev/null 2>&1; kill $virtual_display_pid 2>/dev/null' EXIT
  win() { printf 'Z:%s' "${1//\//\\}"; }
  for dir in win32 win64; do
    tools/wine/run build/$dir/wine_search_rate.exe "$(win "$root/build/$dir/zadized.dll")" 5
    echo
  done
  for dir in win32 win64; do
    literal=$(win "$root/build/$dir/zadized_literal.dll")
    [ "${BENCH_WINE_LITERAL:-1}" != 0 ] || literal=-
    tools/wine/run build/$dir/wine_search_cases.exe "$(win "$root/build/$dir/zadized.dll")" \
      "$literal" "$(win "$cases")" "${BENCH_WINE_SECONDS:-2}"
    echo
  done
  echo "Wine part: $(($(date +%s) - start)) s, load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)."
  echo "Reproduce these figures: BENCH_NATIVE=0 tools/bench.sh"
fi
