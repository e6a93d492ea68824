#!/usr/bin/env bash
# The whole test suite from a clean clone: installs what is missing, builds every tree and runs
# the native tests and the Windows tests of each architecture this machine can execute (under
# Wine, in the project's own prefixes). Ends with one line "N passed, N failed, N skipped" (test
# programs); a skipped program is never counted as passed, and cases skipped inside programs that
# passed are reported on the line before.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bash scripts/setup.sh
uk_top=$top
. scripts/wine-env.sh
bash scripts/build.sh native clang win win64 installer

echo
echo "== suites: native clang ${uk_trees[*]}"
if [ -n "$uk_win32_reason" ]; then
  echo "== the i686 Windows suite is built but not run: $uk_win32_reason"
fi

status=0 passed=0 failed=0 skipped=0 partial=0
run_suite() {  # TREE
  local v=$1 log="build/$1/ctest-summary.log" line f n k c
  echo "== tests: $v"
  ctest --test-dir "build/$v" --output-on-failure -j "$(nproc)" --timeout 600 2>&1 | tee "$log" || true
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1 || true)
  if [ -z "$line" ]; then
    echo "no ctest summary for $v"; status=1; return
  fi
  f=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$line")
  n=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/' <<<"$line")
  # ctest counts a skipped test among those that did not fail.
  k=$(grep -cE '^[[:space:]]*[0-9]+ - .*\(Skipped\)' "$log" || true)
  passed=$((passed + n - f - k)); failed=$((failed + f)); skipped=$((skipped + k))
  # A program whose cases all skipped counts as skipped (exit code 77); one that also passed
  # cases counts as passed and names the cases it skipped (tests/common/uk_test_main.h).
  c=$(sed -nE 's/^uk-test: passed with ([0-9]+) skipped.*/\1/p' \
        "build/$v/Testing/Temporary/LastTest.log" 2>/dev/null | awk '{s += $1} END {print s + 0}')
  partial=$((partial + c))
  [ "$f" -eq 0 ] || status=1
}

run_suite native
run_suite clang
# The GUI tests need a display, and the first Wine process of a wineserver session decides
# whether the session has one: the virtual display starts before Wine.
bash tests/uicommon/xvfb-fixture.sh start :93 build/xvfb
export DISPLAY=:93
trap 'bash tests/uicommon/xvfb-fixture.sh stop :93 build/xvfb' EXIT
for tree in "${uk_trees[@]}"; do
  uk_use_tree "$tree"
  wineserver -k 2>/dev/null || true
  wineserver -p
  # Start Wine's own background processes now, detached from this shell's output: started by the
  # first test instead, they would inherit ctest's output pipe and ctest would wait for them.
  "$WINE" cmd /c exit </dev/null >/dev/null 2>&1 || true
  trap 'wineserver -k 2>/dev/null || true; bash tests/uicommon/xvfb-fixture.sh stop :93 build/xvfb' EXIT
  run_suite "$tree"
  wineserver -k 2>/dev/null || true
done

echo "== fuzz smoke"
bash scripts/fuzz-smoke.sh || status=1
echo
if [ "$partial" -gt 0 ]; then
  echo "(test programs counted as passed skipped $partial of their cases; see their output)"
fi
echo "$passed passed, $failed failed, $skipped skipped"
exit $status
