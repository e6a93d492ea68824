#!/usr/bin/env bash
# Runs the brokered test program of one architecture against the key service of the other, in
# the 64-bit prefix: on 64-bit Windows one service serves 32-bit and 64-bit programs alike.
#   cross_arch.sh TEST_EXE SERVICE_DIR
# Exit code 77 (skipped) where this machine cannot execute 32-bit code.
set -u
exe=$1 svcdir=$2
wine=${WINE:-/usr/lib/wine/wine64}
if [ "${UK_NO_WIN32:-0}" = 1 ]; then
  echo "skipped: UK_NO_WIN32=1"; exit 77
fi
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  echo "skipped: this machine cannot execute 32-bit x86 code"; exit 77
fi
for f in "$exe" "$svcdir/ORV_KELM_KeySrv.exe"; do
  if [ ! -f "$f" ]; then echo "missing $f: build both Windows trees (scripts/build.sh win win64)"; exit 1; fi
done
UK_KEYSRV_DIR=$("$wine" winepath -w "$svcdir" 2>/dev/null | tr -d '\r')
export UK_KEYSRV_DIR
echo "program: $exe"
echo "service: $svcdir ($UK_KEYSRV_DIR)"
exec "$wine" "$exe"
