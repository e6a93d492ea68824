#!/usr/bin/env bash
# The guide on a customer's computer, under 64-bit Wine with a display, in a fresh prefix of its
# own with its own token emulator and the bank's web server on 127.0.0.1, one step per ctest
# entry (in this order):
#   prefix            a fresh prefix without our software; the emulator and the web server (the
#                     bank's home page), the prefix pointed at both, the build's test authority
#                     trusted, probes in place of Internet Explorer and of the bank's setup
#   refused-404       the client missing and no setup on the server: nothing started; the zone
#                     values printed before and after the guide's repair of them
#   refused-tampered  the client missing and the server's setup altered after signing: refused,
#                     deleted, never started
#   repair            the client missing and the bank's signed setup (a stand-in that records its
#                     start) on the server: downloaded, checked, started, awaited, checked again
#   install           the client as the setup installs it: programs, token library, provider
#                     registration, key service
#   service           the key service stopped: the guide starts it
#   pin               a factory-PIN token without a certificate: steps 1 to 4
#   certificate       a token that holds a certificate; a second instance; the detail window
#   cleanup           the web server, the emulator and the prefix's Wine server ended, the prefix
#                     removed
# Each step after "prefix" (but "install") runs one test of guide_e2e_test.exe (see that file).
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
    UK_E2E_DIR='C:\uktest' UK_PROBE_LOG='C:\uktest\setup.log' UK_GUIDE="$(win "$bin/ORV_Guide.exe")" \
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
    for name in ORV_Guide.exe guide_e2e_test.exe browser_probe.exe probe_signed.exe probe_tampered.exe \
                test_root.cer $(cat "$top/build/win64/deliverables.txt"); do
      [ -f "$bin/$name" ] || fail "no $bin/$name: build the x86-64 tree"
    done
    [ -x "$sim" ] || fail "no token emulator: build the native tree first"
    bash "$0" cleanup >/dev/null 2>&1 || true
    mkdir -p "$work"
    WINEARCH=win64 "$loader" wineboot -i </dev/null >/dev/null 2>&1 || true
    wineserver -w || true
    # One Wine server for every step (made persistent before any program starts it), with its
    # background processes detached from ctest's pipes.
    wineserver -p </dev/null >/dev/null 2>&1
    reg_add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0
    "$loader" cmd /c exit </dev/null >/dev/null 2>&1 || true

    setsid "$sim" serve --state "$work/tokens" --port 0 --port-file "$work/sim.port" \
      </dev/null >"$work/sim.log" 2>&1 &
    echo $! >"$work/sim.pid"
    mkdir -p "$www/portal/zh_CN/home" "$attachment"
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
    # The signed stand-ins are signed by the build's test authority, which the customer's
    # machine trusts here.
    "$loader" "$bin/guide_e2e_test.exe" --trust-root "$(win "$bin/test_root.cer")" </dev/null ||
      fail "the test authority could not be trusted"
    ;;

  refused-404)
    rm -f "$attachment/orvwy.exe"
    print_zones "before the guide"
    run_test RefusedWhenNotFound
    print_zones "after the guide"
    ;;

  refused-tampered)
    cp "$bin/probe_tampered.exe" "$attachment/orvwy.exe"
    run_test RefusedWhenTampered
    rm -f "$attachment/orvwy.exe"
    ;;

  repair)
    cp "$bin/probe_signed.exe" "$attachment/orvwy.exe"
    run_test RepairStartsTheBanksSetupAndChecksAgain UK_SERVED_SETUP="$(win "$attachment/orvwy.exe")"
    rm -f "$attachment/orvwy.exe" "$prefix/drive_c/ProgramData/ORVToken/ORV_ZV_Setup.exe"
    ;;

  install)
    # The client as the setup installs it: the programs and the provider in the installation
    # folder, the token library there and in the system folder, the provider registered, the key
    # service installed.
    kelm="$prefix/drive_c/Program Files/ORVToken/kelm"
    mkdir -p "$kelm"
    while read -r name; do
      [ -z "$name" ] || [ "$name" = ORV_Guide.exe ] || cp "$bin/$name" "$kelm/"
    done < "$top/build/win64/deliverables.txt"
    cp "$bin/ORV_KELM_Q57Tokenlib.dll" "$prefix/drive_c/windows/system32/"
    provider='HKLM\SOFTWARE\Microsoft\Cryptography\Defaults\Provider\ZV UKey for ORV Cryptographic Service Provider'
    reg_add "$provider" /v 'Image Path' /t REG_SZ /d 'C:\Program Files\ORVToken\kelm\ORV_KELM_csp.dll'
    reg_add "$provider" /v Type /t REG_DWORD /d 1
    "$loader" 'C:\Program Files\ORVToken\kelm\ORV_KELM_KeySrv.exe' -i </dev/null >/dev/null 2>&1 ||
      fail "the key service could not be installed"
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
