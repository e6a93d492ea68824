#!/usr/bin/env bash
# The main job: sets up the machine, builds everything, then demonstrates the middleware under
# Wine on a virtual token: the key service installed and started (so every device exchange of
# the token library goes through it, as on Windows Vista and later), a token listed, a key pair
# generated on it, a file signed with the button confirmation, and the signature verified with
# OpenSSL. Everything it starts is stopped again at the end.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
step() { printf '\n== %s\n' "$*"; }

step "set-up (packages, Wine prefixes)"
bash scripts/setup.sh
uk_top=$top
. scripts/wine-env.sh
# The 32-bit deliverables where this machine can execute 32-bit code, else the 64-bit ones.
tree=${uk_trees[0]}
step "build (native tools and the Windows deliverables, tree \"$tree\")"
if [ "$tree" = win ]; then
  echo "this machine runs 32-bit code: the demonstration uses the i686 (32-bit Windows) build"
else
  echo "the demonstration uses the x86-64 (64-bit Windows) build: $uk_win32_reason"
fi
bash scripts/build.sh native "$tree" >/dev/null

uk_use_tree "$tree"
wine() { "$WINE" "$@"; }
wpath() { "$WINE" winepath -w "$1" 2>/dev/null | tr -d '\r'; }
bin=build/$tree/bin
sim=build/native/bin/tokensim
work=$(mktemp -d /tmp/ukey-demo.XXXXXX)
regkey='HKLM\SOFTWARE\ZV KESTRA IT Co.,Ltd.\UKey Developer'
service="ZVUK for ORV Service"
serial=UKQ5711DEMO01

wine cmd /c exit </dev/null >/dev/null 2>&1 || true
simpid=
cleanup() {
  set +e
  step "clean-up: stop and delete the key service, stop the virtual token"
  wine net stop "$service" </dev/null >/dev/null 2>&1
  wine "$bin/ORV_KELM_KeySrv.exe" -d </dev/null 2>&1 | tr -d '\r'
  wine reg delete "$regkey" /v VirtualToken /f </dev/null >/dev/null 2>&1
  [ -n "$simpid" ] && "$sim" ctl --port-file "$work/port" shutdown >/dev/null 2>&1
  [ -n "$simpid" ] && wait "$simpid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

step "load the token library, bind its 70 exports by name, call the no-op ones"
wine "$bin/uk_smoke.exe" | tr -d '\r'

step "start the virtual token (a fresh, formatted token; its button is pressed 2 s after a signature starts waiting)"
"$sim" serve --state "$work/tokens" --port 0 --port-file "$work/port" >"$work/sim.log" 2>&1 &
simpid=$!
for _ in $(seq 50); do [ -s "$work/port" ] && break; sleep 0.1; done
port=$(cat "$work/port")
"$sim" ctl --port-file "$work/port" create "$serial" label=Demo%20token button=auto delay=2000
wine reg add "$regkey" /v VirtualToken /t REG_SZ /d "127.0.0.1:$port" /f </dev/null >/dev/null 2>&1
echo "virtual token on 127.0.0.1:$port, named by HKLM\\...\\UKey Developer\\VirtualToken"

step "install and start the key service"
# A service left over from an interrupted run is removed first.
wine net stop "$service" </dev/null >/dev/null 2>&1 || true
wine "$bin/ORV_KELM_KeySrv.exe" -d </dev/null >/dev/null 2>&1 || true
wine "$bin/ORV_KELM_KeySrv.exe" -i </dev/null 2>&1 | tr -d '\r'; echo
wine net start "$service" </dev/null 2>&1 | tr -d '\r'

tool() { wine "$bin/ukeytool.exe" "$@" </dev/null | tr -d '\r'; return "${PIPESTATUS[0]}"; }
# The user PIN reaches the tool on standard input, as a script would give it.
tool_pin() { printf '482915\n' | wine "$bin/ukeytool.exe" "$@" --pin-stdin | tr -d '\r'; return "${PIPESTATUS[1]}"; }
step "list the tokens (through the key service)"
tool list
step "generate a key pair in container \"demo\" on the token"
tool_pin genkey demo
tool export-pubkey demo -o "$(wpath "$work/demo.pem")"
step "sign a file's SHA-1 digest on the token (the tool waits for the button)"
printf 'Transfer 100.00 to account 6222 0000 1111 2222\n' >"$work/order.txt"
tool_pin sign demo "$(wpath "$work/order.txt")" -o "$(wpath "$work/order.sig")"
step "verify the signature with OpenSSL"
openssl dgst -sha1 -verify "$work/demo.pem" -signature "$work/order.sig" "$work/order.txt"
step "the APDUs the token received for the signature (from the emulator's trace)"
"$sim" ctl --port-file "$work/port" trace "$serial" >"$work/trace.txt"
grep -E '^> 0022' "$work/trace.txt" | tail -1 | sed 's/^/set crypto environment  /'
grep -E '^> 002A9E9A' "$work/trace.txt" | tail -1 | cut -c1-60 | sed 's/^/sign                    /; s/$/.../'
echo "fetch polls (00 52) while waiting for the button: $(grep -c '^> 0052' "$work/trace.txt")"
step "stop the key service: the token library reaches the token only through it on this Windows version"
wine net stop "$service" </dev/null 2>&1 | tr -d '\r'
if tool list; then echo "unexpected: the token was listed without the key service"; exit 1; fi
echo "(listing failed as expected)"
echo
echo "demo: ok"
