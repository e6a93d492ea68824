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
wineserver -p
trap 'wineserver -k 2>/dev/null || true' EXIT

status=0
for v in native clang win; do
  echo "== tests: $v"
  ctest --test-dir "build/$v" --output-on-failure -j "$(nproc)" --timeout 600 || status=1
done
exit $status
