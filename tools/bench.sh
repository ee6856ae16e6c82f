#!/usr/bin/env bash
# Builds the native benchmark (Release, no sanitizers) and runs it once:
# fast scan, literal scan, OpenCV matchTemplate and a plain read pass, with
# the ratio table at the end. Extra arguments go to the benchmark, e.g.
# --benchmark_filter=uniform. BENCH_BUILD overrides the build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BENCH_BUILD:-build/bench}
CC=${CC:-clang} CXX=${CXX:-clang++} cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DZADIZED_SANITIZE=OFF >/dev/null
cmake --build "$build" --target zadized_bench
"$build/zadized_bench" "$@"
