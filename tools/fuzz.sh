#!/usr/bin/env bash
# Builds every libFuzzer harness in fuzz/ with clang, AddressSanitizer and
# UBSan, runs each for SECONDS (default 420) one after the other, and prints
# what each did: executions, coverage (cov: edges, ft: features), corpus size
# and findings. Inputs that crash are kept under build/fuzz-run/artifacts/;
# copy a fixed one to tests/regressions/ so every test run replays it.
#
#   tools/fuzz.sh [SECONDS [HARNESS...]]   FUZZ_JOBS=N runs N harnesses at a time
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${1:-420}
jobs=${FUZZ_JOBS:-1}
build=$root/build/fuzz-run
suite=$root/tests/data/bmpsuite
pngs=$root/tests/data/pngsuite

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DZADIZED_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || { echo "fuzz: configure failed"; exit 1; }
shift $(($# > 0 ? 1 : 0))
harnesses=("$@")
if [ "${#harnesses[@]}" = 0 ]; then
  for source in fuzz/*_fuzzer.cpp; do harnesses+=("$(basename "$source" .cpp)"); done
fi
nice cmake --build "$build" --target "${harnesses[@]}" || { echo "fuzz: build failed"; exit 1; }

# The search harness reads a 32-byte trailer after the template file, so its
# seeds are the suite's files with a few trailers appended: a search of the
# whole screen in pattern, shape and tolerance mode, the template pasted on.
trailers() {
  # x1 y1 x2 y2 options color | width height flags pasteX pasteY seed
  printf '\0\0\0\0\0\0\0\0\377\0\0\0\377\0\0\0\0\0\0\0\377\377\377\377\077\077\004\003\005\001\002\003'
  printf '\0\0\0\0\0\0\0\0\377\0\0\0\377\0\0\0\001\0\0\0\0\0\377\0\077\077\014\0\0\007\010\011'
  printf '\0\0\0\0\0\0\0\0\377\0\0\0\377\0\0\0\0\0\003\0\024\0\012\023\077\077\104\001\001\004\004\004'
  # shape mode in white on plain blocks of four colours, the template pasted
  printf '\0\0\0\0\0\0\0\0\377\0\0\0\377\0\0\0\0\0\0\0\377\377\377\0\077\077\024\002\003\011\001\002'
  # Near colours (n 8, no miss; n 16, 5 %) and pattern mode on a screen of
  # one colour with the template pasted on, without the literal head start.
  printf '\0\0\0\0\0\0\0\0\377\0\0\0\377\0\0\0\0\0\0\0\010\0\0\040\077\077\004\003\005\001\002\003'
  printf '\0\0\0\0\0\0\0\0\377\0\0\0\377\0\0\0\0\0\001\0\020\005\0\040\077\077\014\011\007\003\002\003'
  printf '\0\0\0\0\0\0\0\0\377\0\0\0\377\0\0\0\0\0\002\0\377\377\377\377\077\077\004\020\006\005\002\003'
}
# One-colour templates and plain pieces with one pixel changed, which the
# shortcuts for plain areas answer.
plain_seeds() {
  convert -size 12x9 xc:'#3366cc' "bmp3:$1/plain-12x9.bmp"
  convert -size 24x20 xc:black -fill white -draw 'point 17,7' "bmp3:$1/changed-24x20.bmp"
  convert -size 1x16 xc:white "bmp3:$1/plain-1x16.bmp"
}
seed_search() {
  local out=$build/fuzz-seeds/search_fuzzer
  rm -rf "$out" && mkdir -p "$out"
  trailers >"$out/.trailers"
  local n=0 file k
  plain_seeds "$out"
  for file in "$suite"/g/*.bmp "$suite"/q/*.bmp "$out"/plain-*.bmp "$out"/changed-*.bmp; do
    [ -f "$file" ] && [ "$(stat -c %s "$file")" -le 70000 ] || continue
    for k in 0 1 2 3 4 5 6; do
      { cat "$file"; dd if="$out/.trailers" bs=32 skip=$k count=1 status=none; } >"$out/seed-$n-$k"
    done
    n=$((n + 1))
  done
  rm -f "$out/.trailers" "$out"/plain-*.bmp "$out"/changed-*.bmp
  echo "$out"
}

run() {
  local name=$1
  local corpus=$build/fuzz-corpus/$name artifacts=$build/artifacts/$name/
  mkdir -p "$corpus" "$artifacts"
  local seeds=("$root/tests/regressions")
  for folder in g q b; do [ -d "$suite/$folder" ] && seeds+=("$suite/$folder"); done
  for folder in "" /crashers /badpal; do [ -d "$pngs$folder" ] && seeds+=("$pngs$folder"); done
  [ "$name" = search_fuzzer ] && seeds+=("$(seed_search)")
  nice "$build/$name" -max_total_time="$seconds" -max_len=70000 -timeout=20 -rss_limit_mb=4096 \
    -print_final_stats=1 -artifact_prefix="$artifacts" "$corpus" "${seeds[@]}" >"$build/$name.log" 2>&1
  echo $? >"$build/$name.status"
}

echo "fuzz: ${#harnesses[@]} harnesses, ${seconds} s each, $jobs at a time; logs in $build/<name>.log"
running=0
for name in "${harnesses[@]}"; do
  run "$name" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n
    running=$((running - 1))
  fi
done
wait

failed=0
printf '\n%-22s %12s %8s %8s %8s %9s  %s\n' harness executions cov ft corpus exec/s findings
for name in "${harnesses[@]}"; do
  log=$build/$name.log
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  last=$(grep -E '^#[0-9]+[[:space:]]' "$log" | grep ' cov: ' | tail -1)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  corpus=$(find "$build/fuzz-corpus/$name" -type f | wc -l)
  found=$(find "$build/artifacts/$name" -type f | wc -l)
  status=$(cat "$build/$name.status" 2>/dev/null || echo '?')
  what="$found"
  [ "$status" = 0 ] || { what="$found (exit $status, see $log)"; failed=1; }
  printf '%-22s %12s %8s %8s %8s %9s  %s\n' "$name" "${execs:-?}" "${cov:-?}" "${ft:-?}" "$corpus" "${rate:-?}" "$what"
done
exit $failed
