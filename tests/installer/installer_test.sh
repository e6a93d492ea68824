#!/usr/bin/env bash
# The setup of one flavour under Wine, in a fresh prefix of its own, one step per ctest entry:
#   installer_test.sh FLAVOUR STEP
# FLAVOUR: amd64 (64-bit prefix) or x86 (32-bit prefix). The steps, in the order ctest runs them:
#   prefix      a fresh prefix (made once per run: it takes about 20 s), and a setup of an
#               earlier version built from the same trees
#   refuse      amd64 prefix: the 32-bit setup refuses 64-bit Windows and changes nothing
#   install     silent install of the earlier version on the fresh machine
#   installed   files, registry, service, uninstaller entry (installer_check.exe Installed.*)
#   upgrade     silent install of the current setup over the running installation: it must
#               stop the service before it replaces the files (a running program file cannot be
#               replaced; a setup that had to move it aside would end with 3010), and the
#               service runs again afterwards, as a new process
#   provider    CryptAcquireContext with the provider's name from a program in another folder
#   provider32  amd64 prefix: the same from a 32-bit program
#   uninstall   leave what the programs leave at run time, start a program from the install
#               folder, uninstall silently, and check that nothing is left
#   cleanup     end the prefix's Wine server and remove the prefix
# Exit code 77 (skipped) where a step cannot run here, with the reason: the x86 flavour and the
# 32-bit checks where this machine cannot execute 32-bit code, the provider checks while the
# trees ship no provider.
# Environment (from ctest): UK_TOP (the source tree, with build/), UK_WORK (scratch folder).
set -euo pipefail
flavour=$1 step=$2
top=${UK_TOP:?} work=${UK_WORK:?}/$flavour
uk_top=$top
. "$top/scripts/wine-env.sh"

case "$flavour" in
  amd64) loader=$uk_wine64 arch=win64 tree=win64 ;;
  x86)   loader=$uk_wine32 arch=win32 tree=win ;;
  *) echo "unknown flavour $flavour"; exit 2 ;;
esac
if [ "$flavour" = x86 ] && [ -n "$uk_win32_reason" ]; then
  echo "skipped: the 32-bit setup is tested in a 32-bit prefix, and $uk_win32_reason"; exit 77
fi
needs_32bit() {  # WHAT
  if [ -n "$uk_win32_reason" ]; then echo "skipped: $1 needs 32-bit code, and $uk_win32_reason"; exit 77; fi
}

prefix=$work/prefix
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset WINEARCH
setup=$top/build/installer/$flavour/ORV_ZV_Setup.exe
stage=$top/build/installer/stage
earlier_version=0.9.0.0
earlier_out=$work/earlier
earlier=$earlier_out/$flavour/ORV_ZV_Setup.exe
kelm="$prefix/drive_c/Program Files/ORVToken/kelm"
t0=$(date +%s%N)
seconds() { local ms=$((($(date +%s%N) - t0) / 1000000)); printf '%d.%d' $((ms / 1000)) $((ms % 1000 / 100)); }
trap 'echo "$step: $(seconds) s"' EXIT

win() { "$loader" winepath -w "$1" 2>/dev/null | tr -d '\r'; }
fail() { echo "FAILED: $*"; exit 1; }

# check EXE_DIR FILTER [VAR=VALUE...]: runs the check program (copied into the prefix) with the
# given test filter.
check() {
  local dir=$1 filter=$2; shift 2
  env "$@" UK_TEST_DIR='C:\uktest' "$loader" "C:\\$dir\\installer_check.exe" --gtest_filter="$filter" \
    </dev/null
}

stage_vars() {  # STAGE_ROOT VERSION: sets vars, the check program's parameters for a setup
  local root=$1
  vars=("UK_STAGE=$(win "$root/$tree")" "UK_VERSION=$2")
  if [ "$flavour" = amd64 ]; then vars+=("UK_STAGE32=$(win "$root/win")"); fi
}

case "$step" in
  prefix)
    [ -f "$setup" ] || fail "no $setup: build it with scripts/build.sh installer"
    # A setup older than a deliverable it should carry tests yesterday's build.
    for t in win win64; do
      while read -r name; do
        [ -z "$name" ] || [ ! "$top/build/$t/bin/$name" -nt "$setup" ] ||
          fail "$setup is older than build/$t/bin/$name: rebuild it with scripts/build.sh installer"
      done < "$top/build/$t/deliverables.txt"
    done
    [ "$(cat "$top/build/installer/$flavour/version.txt")" != "$earlier_version" ] ||
      fail "the current setup carries the earlier test version $earlier_version"
    wineserver -k 2>/dev/null || true
    rm -rf "$work"
    mkdir -p "$work"
    WINEARCH=$arch "$loader" wineboot -i >/dev/null 2>&1 || true
    wineserver -w || true
    echo "prefix: $prefix made in $(seconds) s"
    # One Wine server for all steps; it and Wine's background processes are started now with
    # their output detached: ctest waits for every holder of a step's output pipe.
    wineserver -p </dev/null >/dev/null 2>&1
    "$loader" cmd /c exit </dev/null >/dev/null 2>&1 || true
    mkdir -p "$prefix/drive_c/uktest"
    cp "$top/build/$tree/bin/installer_check.exe" "$prefix/drive_c/uktest/"
    if [ "$flavour" = amd64 ] && [ -z "$uk_win32_reason" ]; then
      mkdir -p "$prefix/drive_c/uktest32"
      cp "$top/build/win/bin/installer_check.exe" "$prefix/drive_c/uktest32/"
    fi
    bash "$top/installer/build.sh" --out "$earlier_out" --version "$earlier_version" --flavour "$flavour"
    ;;

  refuse)
    [ "$flavour" = amd64 ] || fail "refuse is a step of the amd64 prefix"
    needs_32bit "running the 32-bit setup on 64-bit Windows"
    rc=0; "$loader" "$top/build/installer/x86/ORV_ZV_Setup.exe" /S </dev/null || rc=$?
    echo "32-bit setup on 64-bit Windows: exit code $rc"
    [ "$rc" -eq 216 ] || fail "expected 216 (ERROR_EXE_MACHINE_TYPE_MISMATCH)"
    [ ! -e "$prefix/drive_c/Program Files (x86)/ORVToken" ] && [ ! -e "$prefix/drive_c/Program Files/ORVToken" ] ||
      fail "the refused setup left files"
    ;;

  install)
    rc=0; "$loader" "$earlier" /S </dev/null || rc=$?
    echo "silent install of $earlier_version: exit code $rc"
    [ "$rc" -eq 0 ] || fail "the setup failed"
    ;;

  installed)
    stage_vars "$earlier_out/stage" "$earlier_version"
    check uktest 'Installed.*' "${vars[@]}"
    # The uninstaller the setup wrote is signed like the setup.
    osslsigncode verify -CAfile "$top/build/signing/root.crt" "$kelm/Uninstall.exe" >"$work/verify.log" 2>&1 ||
      { cat "$work/verify.log"; fail "the installed uninstaller is not signed by the build's certificate"; }
    echo "uninstaller: signature verified"
    ;;

  upgrade)
    before=$("$loader" 'C:\uktest\installer_check.exe' --service-pid </dev/null | tr -d '\r')
    [ "${before:-0}" != 0 ] || fail "the key service does not run before the upgrade"
    version=$(cat "$top/build/installer/$flavour/version.txt")
    rc=0; "$loader" "$setup" /S </dev/null || rc=$?
    echo "silent install of $version over $earlier_version: exit code $rc"
    # 3010: done, but files in use are replaced at the next restart (a process exit code
    # reaches this shell modulo 256).
    [ "$rc" -ne $((3010 % 256)) ] || fail "files were in use and replaced only at the next restart"
    [ "$rc" -eq 0 ] || fail "the setup failed"
    after=$("$loader" 'C:\uktest\installer_check.exe' --service-pid </dev/null | tr -d '\r')
    echo "key service process: $before before, ${after:-0} after"
    [ "${after:-0}" != 0 ] && [ "$after" != "$before" ] || fail "the key service was not restarted"
    stage_vars "$stage" "$version"
    check uktest 'Installed.*' "${vars[@]}"
    ;;

  provider)
    grep -qx 'ORV_KELM_csp.dll' "$stage/$tree/deliverables.txt" ||
      { echo "skipped: the tree ships no provider yet (ORV_KELM_csp.dll is not in build/$tree/deliverables.txt)"; exit 77; }
    check uktest 'Provider.*' "UK_STAGE=$(win "$stage/$tree")"
    ;;

  provider32)
    [ "$flavour" = amd64 ] || fail "provider32 is a step of the amd64 prefix"
    needs_32bit "a 32-bit program loading the 32-bit provider"
    grep -qx 'ORV_KELM_csp.dll' "$stage/win/deliverables.txt" ||
      { echo "skipped: the i686 tree ships no provider yet (ORV_KELM_csp.dll is not in build/win/deliverables.txt)"; exit 77; }
    env UK_TEST_DIR='C:\uktest' UK_STAGE="$(win "$stage/win")" "$uk_wine64" 'C:\uktest32\installer_check.exe' \
      --gtest_filter='Provider.*' </dev/null
    ;;

  uninstall)
    check uktest 'Plant.*'
    # A program of ours still running from the install folder when the uninstaller starts.
    cp "$prefix/drive_c/uktest/installer_check.exe" "$kelm/ukey_linger_test.exe"
    rm -f "$prefix/drive_c/uktest/linger-quit.txt"*
    "$loader" 'C:\Program Files\ORVToken\kelm\ukey_linger_test.exe' --linger 'C:\uktest\linger-quit.txt' \
      </dev/null >/dev/null 2>&1 &
    linger=$!
    for _ in $(seq 300); do [ -f "$prefix/drive_c/uktest/linger-quit.txt.started" ] && break; sleep 0.1; done
    [ -f "$prefix/drive_c/uktest/linger-quit.txt.started" ] || fail "the lingering program did not start"
    # The uninstaller hands its work to a copy of itself and returns at once: wait for both.
    rc=0; "$loader" 'C:\uktest\installer_check.exe' --run-and-wait \
      'C:\Program Files\ORVToken\kelm\Uninstall.exe' /S </dev/null || rc=$?
    echo "silent uninstall: exit code $rc"
    wait "$linger" || true
    [ "$rc" -eq 0 ] || fail "the uninstaller failed"
    check uktest 'Removed.*'
    ;;

  cleanup)
    wineserver -k 2>/dev/null || true
    rm -rf "$work"
    ;;

  *) echo "unknown step $step"; exit 2 ;;
esac
