#!/usr/bin/env bash
# The main job: a bank customer's day with the UKey, under Wine on a virtual token and a virtual
# display. Sets up the machine, builds everything and the setup program, then in a fresh Windows
# prefix: installs silently, prepares a token with a certificate issued by a local test CA,
# starts the client (as the key service does when a token arrives), which registers the
# certificate in the user's "My" store; a program that knows only CryptoAPI (as a browser does)
# finds the certificate there and signs with it, the token waiting for its button; OpenSSL
# verifies the signature against the certificate. Then uninstalls silently and shows that
# nothing is left. Screenshots of the client and of the button confirmation go to build/demo/.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
step() { printf '\n== %s\n' "$*"; }
fail() { echo "demo: FAILED: $*"; exit 1; }

step "set-up (packages, Wine prefixes)"
bash scripts/setup.sh
uk_top=$top
. scripts/wine-env.sh
# The 32-bit Windows where this machine can execute 32-bit code, else 64-bit Windows.
tree=${uk_trees[0]}
if [ "$tree" = win ]; then
  flavour=x86 arch=win32 loader=$uk_wine32
  echo "this machine runs 32-bit code: the demonstration installs the 32-bit Windows setup"
else
  flavour=amd64 arch=win64 loader=$uk_wine64
  echo "the demonstration installs the 64-bit Windows setup: $uk_win32_reason"
fi

step "build (native tools, both Windows trees, the signed setup programs)"
bash scripts/build.sh native win win64 installer >/dev/null
setup=$top/build/installer/$flavour/ORV_ZV_Setup.exe
echo "setup: ${setup#$top/} ($(cat "build/installer/$flavour/version.txt"))"

out=$top/build/demo
work=$out/work
rm -rf "$out"
mkdir -p "$work"
export WINEPREFIX=$out/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset WINEARCH
wine() { "$loader" "$@" </dev/null; }
wpath() { "$loader" winepath -w "$1" 2>/dev/null | tr -d '\r'; }
sim=build/native/bin/tokensim
bin=build/$tree/bin
display=:92
serial=UKQ5711DEMO01 pin=482915   # the factory user PIN of this serial number
subject="Li Lei (online banking)"
service="ZVUK for ORV Service"
kelm='C:\Program Files\ORVToken\kelm'
provider_key='HKLM\SOFTWARE\Microsoft\Cryptography\Defaults\Provider\ZV UKey for ORV Cryptographic Service Provider'
dev_key='HKLM\SOFTWARE\ZV KESTRA IT Co.,Ltd.\UKey Developer'

simpid=
cleanup() {
  set +e
  step "clean-up: the prefix's Wine server, the virtual token and the display"
  wineserver -k 2>/dev/null
  [ -n "$simpid" ] && "$sim" ctl --port-file "$work/port" shutdown >/dev/null 2>&1
  [ -n "$simpid" ] && wait "$simpid" 2>/dev/null
  bash tests/uicommon/xvfb-fixture.sh stop "$display" "$work/xvfb"
  rm -rf "$WINEPREFIX" "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM   # the clean-up runs when the demonstration is interrupted too

step "a fresh Windows ($arch prefix) with a display"
# The display first: the first Wine process of a session decides whether it has one.
bash tests/uicommon/xvfb-fixture.sh start "$display" "$work/xvfb"
export DISPLAY=$display
WINEARCH=$arch "$loader" wineboot -i </dev/null >/dev/null 2>&1 || true
wineserver -w || true
wineserver -p </dev/null >/dev/null 2>&1
wine cmd /c exit >/dev/null 2>&1 || true
shot() {  # NAME: the whole screen into build/demo/NAME.png
  xwd -root -silent -display "$display" | convert xwd:- png:"$out/$1.png"
  echo "screenshot: build/demo/$1.png"
}

step "the virtual token: a fresh token; the customer presses its button when asked"
"$sim" serve --state "$work/tokens" --port 0 --port-file "$work/port" >"$work/sim.log" 2>&1 &
simpid=$!
for _ in $(seq 50); do [ -s "$work/port" ] && break; sleep 0.1; done
[ -s "$work/port" ] || fail "the token emulator did not start"
port=$(cat "$work/port")
ctl() { "$sim" ctl --port-file "$work/port" "$@"; }
ctl create "$serial" label=Li%20Lei button=never >/dev/null
wine reg add "$dev_key" /v VirtualToken /t REG_SZ /d "127.0.0.1:$port" /f >/dev/null 2>&1
echo "token $serial on 127.0.0.1:$port"

step "install silently"
rc=0; wine "$(wpath "$setup")" /S || rc=$?
[ "$rc" -eq 0 ] || fail "the setup ended with exit code $rc"
ls "$WINEPREFIX/drive_c/Program Files/ORVToken/kelm"
wine reg query "$provider_key" 2>/dev/null | tr -d '\r' | grep -E 'Image Path|Type'
wine sc query "$service" | tr -d '\r' | grep -E 'STATE' || fail "the key service is not installed"

step "the bank issues a certificate: key pair generated on the token, certificate from a test CA"
tool() { printf '%s\n' "$pin" | "$loader" "$bin/ukeytool.exe" "$@" --pin-stdin | tr -d '\r'; return "${PIPESTATUS[1]}"; }
tool genkey online --keyspec signature
"$loader" "$bin/ukeytool.exe" export-pubkey online --keyspec signature -o "$(wpath "$work/token.pem")" </dev/null | tr -d '\r'
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/ca.key" -out "$work/ca.crt" -days 30 \
  -subj "/O=Demo Bank/CN=Demo Bank Test CA" 2>/dev/null
openssl req -new -newkey rsa:1024 -nodes -keyout "$work/throwaway.key" -out "$work/customer.csr" \
  -subj "/O=Demo Bank/CN=$subject" 2>/dev/null
printf 'keyUsage=critical,digitalSignature,nonRepudiation\nextendedKeyUsage=clientAuth\n' >"$work/ext.cnf"
# The certificate carries the token's public key, not the request's.
openssl x509 -req -in "$work/customer.csr" -force_pubkey "$work/token.pem" -CA "$work/ca.crt" \
  -CAkey "$work/ca.key" -CAcreateserial -days 30 -extfile "$work/ext.cnf" -outform DER \
  -out "$work/customer.der" 2>/dev/null
tool import-cert online "$(wpath "$work/customer.der")" --keyspec signature
tool show

step "the token arrives: the client starts and registers its certificate"
"$loader" "$kelm\\ORV_KELM_Client.exe" </dev/null >"$work/client.log" 2>&1 &
wine "$bin/storesign.exe" find "$subject" --wait 60 -o "$(wpath "$work/registered.der")" | tr -d '\r' ||
  fail "the client did not register the certificate in \"My\""
cmp -s "$work/registered.der" "$work/customer.der" || fail "the registered certificate differs from the token's"
sleep 2   # the main window finishes its show animation
shot client

step "a program that knows only CryptoAPI signs a payment order with the registered certificate"
printf 'Transfer 100.00 to account 6222 0000 1111 2222\n' >"$work/order.txt"
printf '%s\n' "$pin" | "$loader" "$bin/storesign.exe" sign "$subject" "$(wpath "$work/order.txt")" \
  -o "$(wpath "$work/order.sig")" --pin-stdin >"$work/sign.log" 2>&1 &
signer=$!
waiting=
for _ in $(seq 300); do
  if ctl info "$serial" | grep -qx 'waiting=1'; then waiting=1; break; fi
  kill -0 "$signer" 2>/dev/null || break
  sleep 0.1
done
[ -n "$waiting" ] || { cat "$work/sign.log"; fail "the signature never waited for the button"; }
sleep 1   # the confirmation dialog paints
shot confirm
echo "the customer presses the token's button"
ctl button "$serial" press >/dev/null
rc=0; wait "$signer" || rc=$?
tr -d '\r' <"$work/sign.log"
[ "$rc" -eq 0 ] || fail "signing through CryptoAPI failed"

step "OpenSSL verifies the signature against the certificate"
openssl x509 -inform DER -in "$work/registered.der" -pubkey -noout >"$work/customer-pub.pem"
openssl dgst -sha1 -verify "$work/customer-pub.pem" -signature "$work/order.sig" "$work/order.txt"
openssl verify -CAfile "$work/ca.crt" <(openssl x509 -inform DER -in "$work/registered.der")
"$sim" ctl --port-file "$work/port" trace "$serial" >"$work/trace.txt" 2>/dev/null || true
echo "fetch polls (00 52) while the token waited for its button: $(grep -c '^> 0052' "$work/trace.txt" || true)"

step "uninstall silently (the client is still running)"
wine "$kelm\\Uninstall.exe" /S || fail "the uninstaller did not start"
# The uninstaller hands its work to a copy of itself and returns at once.
for _ in $(seq 600); do [ -e "$WINEPREFIX/drive_c/Program Files/ORVToken" ] || break; sleep 0.1; done
# The uninstaller asked the client to quit; give it a moment to be gone.
for _ in $(seq 100); do pgrep -f ORV_KELM_Client.exe >/dev/null || break; sleep 0.1; done
left=0
check() {  # WHAT, then a command that succeeds when something is left
  local what=$1; shift
  if "$@" >/dev/null 2>&1; then echo "left behind: $what"; left=1; else echo "gone: $what"; fi
}
check "files in Program Files\\ORVToken" test -e "$WINEPREFIX/drive_c/Program Files/ORVToken"
check "files in Program Files (x86)\\ORVToken" test -e "$WINEPREFIX/drive_c/Program Files (x86)/ORVToken"
check "the provider's registration" wine reg query "$provider_key"
check "the key service \"$service\"" wine sc query "$service"
check "the certificate in \"My\"" wine "$bin/storesign.exe" find "$subject"
check "a running client" pgrep -f ORV_KELM_Client.exe
[ "$left" -eq 0 ] || fail "the uninstaller left something behind"
echo
echo "demo: ok"
