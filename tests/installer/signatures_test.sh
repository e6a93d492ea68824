#!/usr/bin/env bash
# Both setups as built (build/installer): each is a Windows program of its flavour's machine
# type, carries a valid Authenticode signature that chains to the build's test authority, is
# signed by the publisher written in installer/signer.h, and a copy altered by one byte fails
# the check (so the check is not one that always passes). The signed deliverables inside the
# setups are checked the same way.
#   signatures_test.sh SOURCE_DIR
set -euo pipefail
top=$1
root=$top/build/signing/root.crt
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAILED: $*"; exit 1; }
define() { sed -n "s/^#define $1 \"\\(.*\\)\"\$/\\1/p" "$top/installer/signer.h"; }
subject="/C=$(define UK_SIGNER_COUNTRY)/O=$(define UK_SIGNER_ORGANIZATION)/CN=$(define UK_SIGNER_COMMON_NAME)"
[ -f "$root" ] || fail "no $root: build the setups first (scripts/build.sh installer)"

verify() {  # FILE: a valid signature by the publisher, chained to the test authority
  osslsigncode verify -CAfile "$root" "$1" > "$tmp/log" 2>&1 || { cat "$tmp/log"; fail "$1: signature"; }
  grep -q "Signature verification: ok" "$tmp/log" || { cat "$tmp/log"; fail "$1: not verified"; }
  # The first "Subject:" of the signer section is the signing certificate's.
  got=$(sed -n '/^[[:space:]]*Signer #0:/,$p' "$tmp/log" | sed -n 's/^[[:space:]]*Subject: //p' | head -n 1)
  [ "$got" = "$subject" ] || fail "$1: signed by \"$got\", expected \"$subject\""
}

machine() {  # FILE: the PE machine field, in hex
  local off
  off=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  od -An -tx2 -j$((off + 4)) -N2 "$1" | tr -d ' '
}

for pair in x86:014c amd64:8664; do
  f=${pair%%:*} want=${pair##*:}
  setup=$top/build/installer/$f/ORV_ZV_Setup.exe
  [ -f "$setup" ] || fail "no $setup: build it with scripts/build.sh installer"
  [ "$(machine "$setup")" = "$want" ] || fail "$setup: machine $(machine "$setup"), expected $want"
  verify "$setup"
  # One byte changed in the compressed data: the signature no longer matches.
  cp "$setup" "$tmp/altered.exe"
  size=$(stat -c %s "$setup")
  pos=$((size / 2))
  orig=$(od -An -tu1 -j$pos -N1 "$setup" | tr -d ' ')
  printf "$(printf '\\%03o' $(((orig + 1) % 256)))" | dd of="$tmp/altered.exe" bs=1 seek=$pos conv=notrunc status=none
  if osslsigncode verify -CAfile "$root" "$tmp/altered.exe" >/dev/null 2>&1; then
    fail "$f: an altered setup still verifies"
  fi
  echo "$f: $setup signed by $subject, machine $want"
done

for tree in win win64; do
  while read -r name; do
    [ -n "$name" ] || continue
    verify "$top/build/installer/stage/$tree/$name"
  done < "$top/build/installer/stage/$tree/deliverables.txt"
  verify "$top/build/installer/stage/$tree/uk_setup_helper.exe"
  echo "$tree: every staged deliverable signed"
done
