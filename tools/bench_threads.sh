#!/usr/bin/env bash
# The speed of many threads, one command per row (each prints what else the
# machine was doing: its load average and the busiest processes):
#   tools/bench_threads.sh native [SECONDS]  one thread against two over a warm
#                                            cache, natively (Release)
#   tools/bench_threads.sh ab [REF [SECONDS]] one thread's rates, this tree
#                                            against REF (default main), three
#                                            runs each, alternated, then the
#                                            ratio of the means per row
#   tools/bench_threads.sh wine [SECONDS]    the x64 DLL under Wine on a
#                                            1920x1080 virtual screen, 1, 2
#                                            and 4 threads
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
what=${1:-native}

machine() {
  echo "$(nproc) cores; load average $(cut -d' ' -f1-3 /proc/loadavg); busiest:" \
    "$(ps -eo pcpu=,comm= --sort=-pcpu | head -4 | awk '{printf "%s %s%%, ", $2, $1}')"
}

# The native core of the tree in $1, built in $2 (Release, no sanitizers),
# and the benchmark of this tree against it.
build_bench() {
  CC=clang CXX=clang++ cmake -S "$1" -B "$2" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$2" --target zadized_core zadized_spng >/dev/null
  clang++ -O2 -std=c++17 -I"$1/src" -I"$1/include" -I"$1/tests" "$root/bench/thread_scaling.cpp" \
    "$2/libzadized_core.a" "$2/libzadized_spng.a" -lz -lm -pthread -o "$2/zadized_thread_bench"
}

case $what in
  native)
    build_bench "$root" build/bench-threads
    machine
    build/bench-threads/zadized_thread_bench "${2:-2}" 2
    ;;
  ab)
    ref=${2:-main}
    seconds=${3:-2}
    rm -rf "build/ab-src"
    mkdir -p build/ab-src
    git archive "$ref" | tar -x -C build/ab-src
    build_bench "$root/build/ab-src" build/ab-before
    build_bench "$root" build/bench-threads
    machine
    for run in 1 2 3; do
      build/ab-before/zadized_thread_bench "$seconds" 1 | tail -n +2 >"build/ab-before/run$run.txt"
      build/bench-threads/zadized_thread_bench "$seconds" 1 | tail -n +2 >"build/bench-threads/run$run.txt"
    done
    echo "one thread, calls/s, mean of 3 alternated runs: $ref, this tree, this tree / $ref"
    cat build/ab-before/run{1,2,3}.txt build/bench-threads/run{1,2,3}.txt |
      awk -v n=3 '{ rate = $NF; $NF = ""; name = $0; if (!(name in seen)) { order[++rows] = name; seen[name] = 1 }
                    k = ++count[name]; if (k <= n) before[name] += rate; else after[name] += rate }
                  END { for (i = 1; i <= rows; ++i) { r = order[i]
                          printf "%-34s %12.1f %12.1f %7.3fx\n", r, before[r] / n, after[r] / n, after[r] / before[r] } }'
    machine
    ;;
  wine)
    cmake -S . -B build/win64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build build/win64 --target zadized wine_search_rate >/dev/null
    source tools/virtual_display.sh
    start_virtual_display 1920x1080x24
    export WINEPREFIX="${WINEPREFIX:-$root/build/wineprefix}"
    trap 'tools/wine/run --stop >/dev/null 2>&1; kill $virtual_display_pid 2>/dev/null' EXIT
    machine
    for threads in 1 2 4; do
      tools/wine/run build/win64/wine_search_rate.exe "Z:${root//\//\\}\\build\\win64\\zadized.dll" "${2:-3}" "$threads"
      echo
    done
    machine
    ;;
  *)
    echo "usage: $0 native|ab|wine ..." >&2
    exit 2
    ;;
esac
