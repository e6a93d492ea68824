#!/usr/bin/env bash
# Makes Wine report Windows XP to the named programs (direct device access, no key service).
set -euo pipefail
wine=${UK_WINE:-wine}
command -v "$wine" >/dev/null 2>&1 || wine=/usr/lib/wine/wine64
for exe in "$@"; do
  "$wine" reg add "HKCU\\Software\\Wine\\AppDefaults\\$exe" /v Version /t REG_SZ /d winxp /f >/dev/null
done
