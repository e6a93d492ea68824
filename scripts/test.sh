#!/usr/bin/env bash
# The whole test suite from a clean clone: installs what is missing, builds every tree and runs
# the native tests and the Windows tests (under Wine, in the project's own prefix).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bash scripts/setup.sh
bash scripts/build.sh native clang win

export WINEPREFIX=$(readlink -f build/wineprefix) WINEDEBUG=-all
wineserver -k 2>/dev/null || true
# The GUI tests need a display, and the first Wine process of a wineserver session decides
# whether the session has one: start the virtual display before Wine.
bash tests/uicommon/xvfb-fixture.sh start :93 build/xvfb
export DISPLAY=:93
wineserver -p
# Start Wine's own background processes now, detached from this shell's output: started by the
# first test instead, they would inherit ctest's output pipe and ctest would wait for them.
wine cmd /c exit </dev/null >/dev/null 2>&1 || true
trap 'wineserver -k 2>/dev/null || true; bash tests/uicommon/xvfb-fixture.sh stop :93 build/xvfb' EXIT

status=0 passed=0 failed=0
for v in native clang win; do
  echo "== tests: $v"
  log="build/$v/ctest-summary.log"
  ctest --test-dir "build/$v" --output-on-failure -j "$(nproc)" --timeout 600 2>&1 | tee "$log" || true
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1 || true)
  if [ -z "$line" ]; then
    echo "no ctest summary for $v"; status=1; continue
  fi
  f=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$line")
  n=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/' <<<"$line")
  passed=$((passed + n - f)); failed=$((failed + f))
  [ "$f" -eq 0 ] || status=1
done
echo
echo "$passed passed, $failed failed"
exit $status
