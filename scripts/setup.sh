#!/usr/bin/env bash
# Installs every Debian package the build and the tests need, and prepares the project's own
# 32-bit Wine prefix. Idempotent; run as root on Debian 12.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

pkgs=(wine wine32:i386 libgnutls30:i386
      g++-mingw-w64-i686 mingw-w64-i686-dev binutils-mingw-w64-i686
      cmake make ninja-build googletest libbenchmark-dev libssl-dev openssl python3
      g++ clang libclang-rt-14-dev
      xvfb x11-apps imagemagick fonts-wqy-microhei nsis)

missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then dpkg --add-architecture i386; fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# The Wine prefix belongs to the project (never the user's own), and is tied to the Wine version
# so that an upgrade does not leave a prefix Wine would refresh in the middle of a test run.
wver=$(wine --version 2>/dev/null | tr -c 'A-Za-z0-9.\n-' _)
prefix="$top/build/wineprefix-$wver"
if [ ! -f "$prefix/.ukey-ready" ]; then
  rm -rf "$prefix"
  mkdir -p "$(dirname "$prefix")"
  export WINEPREFIX="$prefix" WINEARCH=win32 WINEDEBUG=-all
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w || true
  # Log folder of the token library, so its log is exercised in tests.
  mkdir -p "$prefix/drive_c/kelm/ORV"
  touch "$prefix/.ukey-ready"
fi
ln -sfn "$prefix" "$top/build/wineprefix"
echo "setup: packages present, Wine prefix at $prefix"
