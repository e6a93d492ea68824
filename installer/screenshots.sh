#!/usr/bin/env bash
# Screenshots of the setup's first page in its three languages (English, Simplified and
# Traditional Chinese, chosen by the user's Windows language), under Xvfb in a scratch copy of
# the project's 64-bit Wine prefix:
#   installer/screenshots.sh [OUTDIR]      (default docs/screenshots)
# writes setup_welcome_en.png, setup_welcome_zh-CN.png, setup_welcome_zh-TW.png.
# Needs the setup and the x86-64 tree built (scripts/build.sh win64 installer) and the prefix
# made (scripts/setup.sh).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$top/docs/screenshots}
mkdir -p "$out"
setup=$top/build/installer/amd64/ORV_ZV_Setup.exe
finder=$top/build/win64/bin/installer_check.exe
for f in "$setup" "$finder"; do
  [ -f "$f" ] || { echo "missing $f: scripts/build.sh win64 installer" >&2; exit 1; }
done
work=$(mktemp -d /tmp/ukey-setup-shots.XXXXXX)
display=
xvfb=
cleanup() {
  WINEPREFIX=$work/prefix wineserver -k 2>/dev/null || true
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
# The prefix has the font substitutes the Chinese texts need (scripts/setup.sh).
cp -a "$(readlink -f "$top/build/wineprefix64")" "$work/prefix"
cp "$finder" "$work/prefix/drive_c/finder.exe"
for n in $(seq 90 120); do
  [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { display=:$n; break; }
done
[ -n "$display" ] || { echo "no free X display" >&2; exit 1; }
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
export DISPLAY=$display WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

for pair in en:en_US.UTF-8 zh-CN:zh_CN.UTF-8 zh-TW:zh_TW.UTF-8; do
  tag=${pair%%:*} locale=${pair#*:}
  # Wine takes the display and the language of a session from its first process.
  wineserver -k 2>/dev/null || true
  LANG=$locale LC_ALL=$locale /usr/lib/wine/wine64 explorer /desktop=setup,640x480 "$setup" \
    </dev/null >/dev/null 2>&1 &
  # Every title (and the window's class of dialogs) carries "UKEY".
  LANG=$locale LC_ALL=$locale /usr/lib/wine/wine64 'C:\finder.exe' --wait-window UKEY 60000 setup </dev/null ||
    { echo "the setup's window did not appear ($tag)" >&2; exit 1; }
  # The page is drawn after the window appears: wait until two screenshots agree.
  prev=
  for _ in $(seq 50); do
    xwd -root -silent -display "$display" | convert xwd:- -crop 640x480+0+0 +repage png:"$work/shot.png"
    sum=$(md5sum < "$work/shot.png")
    [ "$sum" = "$prev" ] && break
    prev=$sum
    sleep 0.2
  done
  cp "$work/shot.png" "$out/setup_welcome_$tag.png"
  echo "screenshot: $out/setup_welcome_$tag.png"
done
