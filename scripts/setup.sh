#!/usr/bin/env bash
# Installs every Debian package the build and the tests need, and prepares the project's own Wine
# prefixes: a 64-bit one always, a 32-bit one where this machine can execute 32-bit code.
# Idempotent; run as root on Debian 12.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

pkgs=(wine wine64 wine32:i386 libgnutls30:i386
      g++-mingw-w64-i686 mingw-w64-i686-dev binutils-mingw-w64-i686
      g++-mingw-w64-x86-64 mingw-w64-x86-64-dev binutils-mingw-w64-x86-64
      cmake make ninja-build googletest libbenchmark-dev libssl-dev openssl python3
      g++ clang libclang-rt-14-dev
      xvfb x11-apps imagemagick fonts-wqy-microhei nsis osslsigncode)

missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then dpkg --add-architecture i386; fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  # On a machine that cannot execute 32-bit code the i386 packages' own post-install scripts
  # print "Exec format error"; the packages install all the same and are only used elsewhere.
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

uk_top=$top
. "$top/scripts/wine-env.sh"

# The prefixes belong to the project (never the user's own) and are tied to the Wine version, so
# that an upgrade does not leave a prefix Wine would refresh in the middle of a test run.
wver=$(/usr/lib/wine/wine64 --version 2>/dev/null | tr -c 'A-Za-z0-9.\n-' _)
make_prefix() {  # TREE ARCH DIR
  local tree=$1 arch=$2 prefix=$3 loader
  loader=$(uk_wine_loader "$tree")
  if [ ! -f "$prefix/.ukey-ready" ]; then
    rm -rf "$prefix"
    mkdir -p "$(dirname "$prefix")"
    (
      export WINEPREFIX="$prefix" WINEARCH=$arch WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
      "$loader" wineboot -i >/dev/null 2>&1 || true
      wineserver -w || true
      # Chinese dialog texts: the faces our dialogs and Wine's defaults name are substituted by
      # the installed CJK font, else they fall back to a Latin font and show boxes.
      key='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes'
      for face in "MS Shell Dlg" "MS Shell Dlg 2" "SimSun" "宋体" "NSimSun" "新宋体" "KaiTi" "楷体" \
                  "楷体_GB2312" "Microsoft YaHei" "微软雅黑" "PMingLiU" "新細明體" "MingLiU" \
                  "Microsoft Sans Serif" "Microsoft JhengHei" "微軟正黑體"; do
        "$loader" reg add "$key" /v "$face" /t REG_SZ /d "WenQuanYi Micro Hei" /f >/dev/null 2>&1
      done
      # A crashing test program ends with its exit code instead of waiting on a crash dialog.
      "$loader" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
      wineserver -w || true
    )
    # Log folder of the token library, so its log is exercised in tests.
    mkdir -p "$prefix/drive_c/kelm/ORV"
    touch "$prefix/.ukey-ready"
  fi
  ln -sfn "$prefix" "$(uk_prefix_link "$tree")"
}

make_prefix win64 win64 "$top/build/wineprefix64-$wver"
echo "setup: 64-bit Wine prefix at $top/build/wineprefix64-$wver"
if [ -z "$uk_win32_reason" ]; then
  make_prefix win win32 "$top/build/wineprefix-$wver"
  echo "setup: 32-bit Wine prefix at $top/build/wineprefix-$wver"
else
  echo "setup: no 32-bit Wine prefix ($uk_win32_reason); the i686 tree is built but not run"
fi
