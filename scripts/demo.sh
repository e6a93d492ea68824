#!/usr/bin/env bash
# The main job: sets up the machine, builds everything, and runs the demonstration under Wine.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
step() { printf '\n== %s\n' "$*"; }

step "set-up (packages, Wine prefix)"
bash scripts/setup.sh
step "build (native tools and the Windows deliverables)"
bash scripts/build.sh native win >/dev/null

export WINEPREFIX=$(readlink -f build/wineprefix) WINEDEBUG=-all
step "load the token library under Wine, bind its 70 exports by name, call the no-op ones"
wine build/win/bin/uk_smoke.exe
