#!/usr/bin/env bash
# Runs every libFuzzer target briefly from its checked-in seed corpus, so that a parser change
# that crashes, leaks or reads out of bounds is caught by the test run. Configures the fuzz tree
# (build/fuzz, as 'scripts/build.sh fuzz' does), builds only its fuzz targets, then runs each
# target listed in build/fuzz/fuzzers.txt for SECONDS (default 20, or $UK_FUZZ_SECONDS).
# New inputs go to a scratch corpus under build/fuzz/smoke/; a failing input is kept as
# build/fuzz/artifacts/<target>-crash-<sha1> (replay: build/fuzz/bin/<target> <that file>).
#   scripts/fuzz-smoke.sh [SECONDS]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
secs=${1:-${UK_FUZZ_SECONDS:-20}}
dir="$top/build/fuzz"

cmake -S "$top" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_C_COMPILER=clang -DUK_FUZZ=ON ${UK_CMAKE_ARGS:-} >/dev/null
cmake --build "$dir" --target fuzzers -j "${UK_JOBS:-$(nproc)}"

mkdir -p "$dir/artifacts"
status=0 ran=0
while read -r name seeds; do
  [ -n "$name" ] || continue
  work="$dir/smoke/$name"
  rm -rf "$work"
  mkdir -p "$work/corpus"
  ran=$((ran + 1))
  if "$dir/bin/$name" -max_total_time="$secs" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
       -artifact_prefix="$dir/artifacts/$name-" "$work/corpus" "$seeds" >"$work/log" 2>&1; then
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log")
    cov=$(grep -o 'cov: [0-9]*' "$work/log" | tail -n 1)
    echo "fuzz $name: ok, ${execs:-?} inputs in ${secs} s, $cov, seeds $(ls "$seeds" | wc -l)"
  else
    status=1
    echo "fuzz $name: FAILED (log: $work/log)"
    grep -E '^(==[0-9]+==ERROR|SUMMARY|artifact_prefix|Test unit written)' "$work/log" || tail -n 30 "$work/log"
  fi
done <"$dir/fuzzers.txt"
[ "$ran" -gt 0 ] || { echo "no fuzz targets listed in $dir/fuzzers.txt"; exit 1; }
exit $status
