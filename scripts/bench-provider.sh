#!/bin/bash
# Runs the provider's benchmarks under 64-bit Wine, each against its peer in the same run:
# CryptHashData and CryptEncrypt against Wine's built-in providers, and CryptSignHash against the
# bare token-library call on a virtual token of a token emulator started here.
#
#   bash scripts/bench-provider.sh [SIGNATURES]
#
# Needs the native tree (the emulator) and the win64 tree (scripts/build.sh native win64). The
# win64 test prefix's "VirtualToken" setting is pointed at the emulator for the run and put back
# afterwards; do not run it while the Windows tests run.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
. scripts/wine-env.sh
uk_use_tree win64
sim=build/native/bin/tokensim
bin=build/win64/bin
for f in "$sim" "$bin/csp_hash_bench.exe" "$bin/csp_crypt_bench.exe" "$bin/csp_sign_bench.exe"; do
  [ -x "$f" ] || { echo "missing $f: build the native and win64 trees first" >&2; exit 1; }
done

work=$(mktemp -d)
pointed=
cleanup() {
  [ -n "$pointed" ] && uk_restore_emulator "$WINE"
  [ -n "${sim_pid:-}" ] && kill "$sim_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

"$sim" serve --state "$work/tokens" --port 0 --port-file "$work/port" >"$work/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.05; done
[ -s "$work/port" ] || { echo "the token emulator did not start" >&2; exit 1; }
uk_point_emulator "$WINE" "$(cat "$work/port")"
pointed=1
# The signing benchmark's token library reaches the emulator directly, as on Windows XP, instead
# of through the key service (not running in the test prefix).
"$WINE" reg add 'HKCU\Software\Wine\AppDefaults\csp_sign_bench.exe' /v Version /t REG_SZ /d winxp /f \
  >/dev/null 2>&1

echo "== CryptHashData"
"$WINE" "$bin/csp_hash_bench.exe"
echo "== CryptEncrypt"
"$WINE" "$bin/csp_crypt_bench.exe"
echo "== CryptSignHash"
"$WINE" "$bin/csp_sign_bench.exe" "$@"
