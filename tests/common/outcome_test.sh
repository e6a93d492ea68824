#!/usr/bin/env bash
# How a test program ends, for each mix of outcomes: exit code 77 (ctest: skipped) only when every
# case that ran was skipped; a failure or a crash after a skipped case is a failure, never a skip.
#   outcome_test.sh PROGRAM
set -u
prog=$1 bad=0
expect() {  # FILTER WANTED_EXIT(77|0|fail) [TEXT_IN_OUTPUT]
  local out rc
  out=$("$prog" --gtest_filter="$1" 2>&1); rc=$?
  case "$2" in
    fail) if [ "$rc" -eq 0 ] || [ "$rc" -eq 77 ]; then echo "FAIL $1: exit $rc, wanted a failure"; bad=1; fi ;;
    *) if [ "$rc" -ne "$2" ]; then echo "FAIL $1: exit $rc, wanted $2"; bad=1; fi ;;
  esac
  if [ -n "${3:-}" ] && ! grep -qF "$3" <<<"$out"; then echo "FAIL $1: no '$3' in the output"; bad=1; fi
  echo "$1 -> exit $rc"
}
expect 'Outcome.Skips' 77
expect 'Outcome.Passes' 0
expect 'Outcome.Skips:Outcome.Passes' 0 'uk-test: passed with 1 skipped'
expect 'Outcome.Skips:Outcome.Fails' fail
expect 'Outcome.Skips:Outcome.Crashes' fail
expect 'Outcome.NoSuchCase' 0
exit $bad
