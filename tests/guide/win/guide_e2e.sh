#!/usr/bin/env bash
# The guide on a customer's computer, under 64-bit Wine with a display, in a fresh prefix of its
# own with its own token emulator and the bank's web server on 127.0.0.1, one step per ctest
# entry (in this order):
#   prefix            a fresh prefix without our software; the emulator and the web server
#                     (home page and, per step, the client setup), the prefix pointed at both,
#                     the build's test root trusted, a probe in place of Internet Explorer
#   refused-404       the client missing and the setup not on the server: nothing started
#   refused-tampered  the client missing and the server's setup altered by one byte: refused,
#                     deleted, never started
#   repair            the client missing: downloaded, checked, started, installed through its
#                     own pages, checked again; the zone values printed before and after
#   service           the key service stopped: the guide starts it
#   pin               a factory-PIN token without a certificate: steps 1 to 4
#   certificate       a token that holds a certificate; a second instance; the detail window
#   cleanup           the web server, the emulator and the prefix's Wine server ended, the
#                     prefix removed
# Each step after "prefix" runs one test of guide_e2e_test.exe (see that file).
# Environment (from ctest): UK_TOP (the source tree, with build/), UK_WORK (scratch folder),
# UK_BIN (the x86-64 tree's bin folder), DISPLAY.
set -euo pipefail
step=$1
top=${UK_TOP:?} work=${UK_WORK:?} bin=${UK_BIN:?}
uk_top=$top
. "$top/scripts/wine-env.sh"
loader=$uk_wine64
prefix=$work/prefix
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset WINEARCH http_proxy https_proxy HTTP_PROXY HTTPS_PROXY
export no_proxy=127.0.0.1
setup=$top/build/installer/amd64/ORV_ZV_Setup.exe
sim=$top/build/native/bin/tokensim
www=$work/www
attachment=$www/portal/zh_CN/upload/Attachment
domain=orvbank.test
dev='HKLM\SOFTWARE\ZV KESTRA IT Co.,Ltd.\UKey Developer'
zones='HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Zones'

fail() { echo "FAILED: $*"; exit 1; }
win() { "$loader" winepath -w "$1" 2>/dev/null | tr -d '\r'; }
reg_add() { "$loader" reg add "$@" /f </dev/null >/dev/null 2>&1; }

# run_test NAME [VAR=VALUE...]: one test of the driven program, inside the prefix.
run_test() {
  local name=$1; shift
  env "$@" UK_BANK_HOST="127.0.0.1:$(cat "$work/http.port")" UK_BANK_DOMAIN=$domain \
    UK_E2E_DIR='C:\uktest' UK_GUIDE="$(win "$bin/ORV_Guide.exe")" \
    "$loader" "$bin/guide_e2e_test.exe" --gtest_filter="GuideE2E.$name" </dev/null
}

print_zones() {  # WHEN
  for z in 2 3; do
    echo "zone $z $1:"
    "$loader" reg query "$zones\\$z" </dev/null 2>/dev/null | tr -d '\r' |
      grep -E '^ +(2201|1405|1201|2000|120B|1209|1208|1200|120a|1004|1001|2500) ' | sed 's/^ */  /' || true
  done
}

case "$step" in
  prefix)
    [ -f "$setup" ] || fail "no $setup: build it with scripts/build.sh installer"
    while read -r name; do
      [ -z "$name" ] || [ ! "$top/build/win64/bin/$name" -nt "$setup" ] ||
        fail "$setup is older than build/win64/bin/$name: rebuild it with scripts/build.sh installer"
    done < "$top/build/win64/deliverables.txt"
    [ -x "$sim" ] || fail "no token emulator: build the native tree first"
    bash "$0" cleanup >/dev/null 2>&1 || true
    mkdir -p "$work"
    WINEARCH=win64 "$loader" wineboot -i </dev/null >/dev/null 2>&1 || true
    wineserver -w || true
    reg_add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0
    # One Wine server for every step, with its background processes detached from ctest's pipes.
    wineserver -p </dev/null >/dev/null 2>&1
    "$loader" cmd /c exit </dev/null >/dev/null 2>&1 || true

    setsid "$sim" serve --state "$work/tokens" --port 0 --port-file "$work/sim.port" \
      </dev/null >"$work/sim.log" 2>&1 &
    echo $! >"$work/sim.pid"
    mkdir -p "$attachment" "$www/portal/zh_CN/home"
    head -c 2000 /dev/zero | tr '\0' 'x' >"$www/portal/zh_CN/home/index.html"
    setsid python3 -u -m http.server 0 --bind 127.0.0.1 --directory "$www" </dev/null >"$work/http.log" 2>&1 &
    echo $! >"$work/http.pid"
    for _ in $(seq 100); do
      [ -s "$work/sim.port" ] && grep -q 'port [0-9]' "$work/http.log" && break
      sleep 0.1
    done
    [ -s "$work/sim.port" ] || { cat "$work/sim.log"; fail "the emulator did not start"; }
    sed -nE 's/.* port ([0-9]+).*/\1/p' "$work/http.log" | head -n 1 >"$work/http.port"
    [ -s "$work/http.port" ] || { cat "$work/http.log"; fail "the web server did not start"; }
    echo "emulator on 127.0.0.1:$(cat "$work/sim.port"), web server on 127.0.0.1:$(cat "$work/http.port")"

    reg_add "$dev" /v VirtualToken /t REG_SZ /d "127.0.0.1:$(cat "$work/sim.port")"
    reg_add "$dev" /v BankWebHost /t REG_SZ /d "127.0.0.1:$(cat "$work/http.port")"
    reg_add "$dev" /v BankDomain /t REG_SZ /d "$domain"
    # The test program reaches the emulated token directly; the guide goes through the key
    # service as on any Windows from Vista on.
    reg_add 'HKCU\Software\Wine\AppDefaults\guide_e2e_test.exe' /v Version /t REG_SZ /d winxp
    mkdir -p "$prefix/drive_c/uktest"
    cp "$bin/browser_probe.exe" "$prefix/drive_c/Program Files/Internet Explorer/iexplore.exe"
    # The setup is signed by the build's test signer, whose root the customer's machine trusts here.
    "$loader" "$bin/guide_e2e_test.exe" --trust-root "$(win "$top/build/signing/root.cer")" </dev/null ||
      fail "the test root could not be added"
    if ! grep -qx 'ORV_KELM_csp.dll' "$top/build/win64/deliverables.txt"; then
      # Until the trees ship the provider the setup registers none; the guide looks for its key.
      echo "the tree ships no provider yet: its registration is written here, as the setup will write it"
      reg_add 'HKLM\SOFTWARE\Microsoft\Cryptography\Defaults\Provider\ZV UKey for ORV Cryptographic Service Provider' \
        /v 'Image Path' /t REG_SZ /d 'C:\Program Files\ORVToken\kelm\ORV_KELM_csp.dll'
      reg_add 'HKLM\SOFTWARE\Microsoft\Cryptography\Defaults\Provider\ZV UKey for ORV Cryptographic Service Provider' \
        /v Type /t REG_DWORD /d 1
    fi
    ;;

  refused-404)
    rm -f "$attachment/orvwy.exe"
    run_test RefusedWhenNotFound
    ;;

  refused-tampered)
    cp "$setup" "$attachment/orvwy.exe"
    size=$(stat -c %s "$attachment/orvwy.exe")
    # One byte in the middle of the program changed: the signature no longer matches.
    printf '\x5a' | dd of="$attachment/orvwy.exe" bs=1 seek=$((size / 2)) conv=notrunc status=none
    cmp -s "$setup" "$attachment/orvwy.exe" && fail "the copy was not altered"
    run_test RefusedWhenTampered
    rm -f "$attachment/orvwy.exe"
    ;;

  repair)
    cp "$setup" "$attachment/orvwy.exe"
    print_zones "before the repair"
    run_test RepairInstallsTheClient UK_SERVED_SETUP="$(win "$attachment/orvwy.exe")"
    print_zones "after the repair"
    ;;

  service)
    "$loader" net stop "ZVUK for ORV Service" </dev/null >/dev/null 2>&1 || true
    run_test KeyServiceIsStarted
    ;;

  pin)
    run_test FactoryPinTokenFullRun
    ;;

  certificate)
    run_test CertificateAlreadyOnTheToken
    ;;

  cleanup)
    for p in http sim; do
      [ -f "$work/$p.pid" ] && kill "$(cat "$work/$p.pid")" 2>/dev/null || true
    done
    [ -d "$prefix" ] && wineserver -k 2>/dev/null || true
    rm -rf "$work"
    ;;

  *) echo "unknown step $step"; exit 2 ;;
esac
