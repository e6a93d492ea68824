#!/usr/bin/env bash
# Screenshots of the GUI programs in English, Simplified and Traditional Chinese, into
# docs/screenshots/. Runs each program's screenshot driver under Wine on its own virtual display
# (Xvfb) against its own token emulator and its own HTTP test server (UK_HTTP_DIR, see
# tests/common/http_test_server.py); a driver asks for a picture by creating
# <dir>/request-<name> and goes on once <dir>/done-<name> exists.
#
#   bash scripts/screenshots.sh [PROGRAM...]        (default: every program below)
#
# Environment: UK_WIN_TREE (default build/win64 when it exists, else build/win), WINEPREFIX
# (default the tree's prefix), UK_WINE (default wine64 for the x86-64 tree), UK_SHOT_DISPLAY (the
# virtual display, default :95), UK_SHOT_LANGUAGE (one of the languages only, e.g. "zh-CN 2052").
# Do not run it while the Windows tests run: it points the prefix's "VirtualToken" setting at
# its own emulator (and back afterwards).
#
# Adding a program: write a driver in its tests (see tests/client/win/client_screens.cpp) and a
# line in the `drivers` table: name, driver executable, picture names.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/scripts/wine-env.sh"
cd "$top"

tree=${UK_WIN_TREE:-}
if [ -z "$tree" ]; then
  if [ -x build/win64/bin/ORV_KELM_Client.exe ]; then tree=build/win64; else tree=build/win; fi
fi
case "$tree" in
  *64*) wine=${UK_WINE:-/usr/lib/wine/wine64}; prefix=${WINEPREFIX:-$top/build/wineprefix64} ;;
  *) wine=${UK_WINE:-wine}; prefix=${WINEPREFIX:-$top/build/wineprefix} ;;
esac
export WINEPREFIX=$(readlink -f "$prefix") WINEDEBUG=-all
bin=$top/$tree/bin
sim=$top/build/native/bin/tokensim
out=$top/docs/screenshots
display=${UK_SHOT_DISPLAY:-:95}  # another display when several trees take pictures at once

# name | driver | pictures
drivers=(
  "client|client_screens.exe|main-certificate main-nothing-selected tray-menu notice modify-pin modify-admin-pin unlock-pin label format import select-certificate delete-question user-pin"
  "guide|guide_screens.exe|step2-pin step2-message step1 step1-details step3-waiting step4 step3-certificate"
  "update|update_screens.exe|download"
  "news|news_screens.exe|multiple single"
  "csp|csp_screens.exe|pin wrong-pin default-pin cancel-pin locked insert-device cancel-transaction select-device key-generation set-pin-on-device pin-on-device confirm-on-device confirm"
)
languages=("en 1033" "zh-CN 2052" "zh-TW 1028")
[ -n "${UK_SHOT_LANGUAGE:-}" ] && languages=("$UK_SHOT_LANGUAGE")

wanted=("$@")
work=$(mktemp -d)
sim_pid= http_pid=
pointed=
cleanup() {
  # The emulator setting goes back to what it was.
  [ -n "$pointed" ] && uk_restore_emulator "$wine"
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  [ -n "$http_pid" ] && kill "$http_pid" 2>/dev/null || true
  bash "$top/tests/client/news/news-fixture.sh" stop "$work/news" || true
  DISPLAY=$display "${wine%/*}/wineserver" -k 2>/dev/null || wineserver -k 2>/dev/null || true
  bash "$top/tests/uicommon/xvfb-fixture.sh" stop "$display" "$work/xvfb"
  rm -rf "$work"
}
trap cleanup EXIT

[ -x "$sim" ] || { echo "build the native tree first (token emulator)"; exit 1; }
mkdir -p "$out"

# The display first: the first Wine process of a session decides whether it has one.
"${wine%/*}/wineserver" -k 2>/dev/null || true
bash "$top/tests/uicommon/xvfb-fixture.sh" start "$display" "$work/xvfb"
export DISPLAY=$display

"$sim" serve --state "$work/tokens" --port 0 --port-file "$work/port" >"$work/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.05; done

mkdir -p "$work/http/root"
python3 tests/common/http_test_server.py --root "$work/http/root" --port-file "$work/http/port" \
  >"$work/http.log" 2>&1 &
http_pid=$!
for _ in $(seq 100); do [ -s "$work/http/port" ] && break; sleep 0.05; done
export UK_HTTP_DIR=$("$wine" winepath -w "$work/http" 2>/dev/null | tr -d '\r')
export no_proxy=127.0.0.1,localhost http_proxy= https_proxy=
# The local news server of the news pictures (the driver names it as the bank's web server).
bash "$top/tests/client/news/news-fixture.sh" start "$work/news" >/dev/null
export UK_NEWS_PORT_FILE="Z:$work/news/port" http_proxy= no_proxy=127.0.0.1

reg() { "$wine" reg add "$@" /f >/dev/null 2>&1; }
uk_point_emulator "$wine" "$(cat "$work/port")"
pointed=1
# Chinese text needs a CJK face behind the names the dialogs ask for.
for face in "MS Shell Dlg" "MS Shell Dlg 2" "SimSun" "宋体" "楷体" "微软雅黑" "Microsoft Sans Serif" "Tahoma"; do
  reg 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' /v "$face" /t REG_SZ /d "WenQuanYi Micro Hei"
done

# The windows on Wine's virtual desktop that show (mapped, larger than the 1x1 helpers), bottom
# first, as "id x y" lines.
desktop_windows() {
  xwininfo -display "$display" -root -tree 2>/dev/null | awk '
    /Wine desktop"/ { match($0, /^ */); depth = RLENGTH; inside = 1; next }
    inside {
      match($0, /^ */)
      if (RLENGTH <= depth) { inside = 0; next }
      if (RLENGTH != depth + 3 || $1 !~ /^0x/) next
      if ($(NF - 1) ~ /^1x1\+/) next
      split($NF, at, "+")
      print $1, at[2], at[3]
    }' | tac | while read -r id x y; do
      xwininfo -display "$display" -id "$id" 2>/dev/null | grep -q 'IsViewable' && echo "$id $x $y"
    done
}

# grab PNG: the screen as the user sees it. The root window's image leaves some of Wine's
# windows black (dialogs among them), so each window that shows is laid over it from its own image,
# in stacking order.
grab() {
  xwd -root -silent -display "$display" >"$work/root.xwd" 2>"$work/xwd.log" || return 1
  local layers=() id x y
  while read -r id x y; do
    xwd -id "$id" -silent -display "$display" >"$work/win-$id.xwd" 2>>"$work/xwd.log" || continue
    layers+=("xwd:$work/win-$id.xwd" -geometry "+$x+$y" -composite)
  done < <(desktop_windows)
  convert "xwd:$work/root.xwd" "${layers[@]}" png:"$1"
  local rc=$?
  rm -f "$work"/win-*.xwd
  return $rc
}

status=0
for d in "${drivers[@]}"; do
  IFS='|' read -r name driver pictures <<<"$d"
  if [ ${#wanted[@]} -gt 0 ] && [[ " ${wanted[*]} " != *" $name "* ]]; then continue; fi
  for exe in "$driver" ORV_KELM_Client.exe ORV_Guide.exe; do
    reg "HKCU\\Software\\Wine\\AppDefaults\\$exe" /v Version /t REG_SZ /d winxp
  done
  for l in "${languages[@]}"; do
    read -r tag id <<<"$l"
    dir=$work/$name-$tag
    mkdir -p "$dir"
    winedir=$("$wine" winepath -w "$dir" 2>/dev/null | tr -d '\r')
    (cd "$bin" && "$wine" explorer /desktop=shots,1024x768 "$driver" "$winedir" "$id" >"$dir/driver.log" 2>&1) &
    runner=$!
    taken=0
    for _ in $(seq 2400); do   # at most 4 minutes per language
      for req in "$dir"/request-*; do
        [ -e "$req" ] || continue
        pic=${req##*/request-}
        rm -f "$req"
        # A window that maps or unmaps during the grab fails it (BadMatch): take it again.
        for _ in 1 2 3 4 5; do
          grab "$out/$name-$tag-$pic.png" && break
          sleep 0.2
        done
        touch "$dir/done-$pic"
        taken=$((taken + 1))
        echo "  $name-$tag-$pic.png"
      done
      [ -e "$dir/finished" ] && break
      sleep 0.1
    done
    wait "$runner" 2>/dev/null || true
    expected=$(wc -w <<<"$pictures")
    if [ "$taken" -ne "$expected" ]; then
      echo "$name ($tag): $taken of $expected pictures; driver log:"
      cat "$dir/driver.log"
      status=1
    fi
  done
done
exit $status
