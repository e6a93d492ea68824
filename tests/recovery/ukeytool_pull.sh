#!/usr/bin/env bash
# ukeytool against the token emulator with the token pulled at every frame of a certificate
# import (a certificate of almost 4 KB replacing the one the container holds): each time the tool
# fails within seconds, the token plugged in again shows its contents without an error, and the
# same command run again succeeds, after which the certificate read back is the one imported.
#   ukeytool_pull.sh UKEYTOOL TOKENSIM WORK_DIR
set -u
tool=$1 sim=$2 work=$3

. "$(dirname "$0")/emulator_session.sh" "$sim" "$work"
sn=UKPUL0000001
ctl() { "$sim" ctl --port-file port "$@" >/dev/null; }
ctl create "$sn" || { echo "cannot create the token"; exit 1; }
PIN=$'482915\n'
tk() { printf '%s' "$PIN" | timeout 60 "$tool" -t "$sn" "$@" --pin-stdin; }

# A certificate close to the 4096 bytes a container takes, and a smaller one it replaces.
sans=$(for i in $(seq 120); do printf 'DNS:host%03d.branch.example,' "$i"; done)
openssl req -x509 -newkey rsa:2048 -nodes -keyout big.key -subj "/CN=Pulled token/O=UKey tests" \
  -days 30 -addext "subjectAltName=${sans%,}" -outform DER -out big.der >/dev/null 2>&1 &&
openssl req -x509 -newkey rsa:1024 -nodes -keyout small.key -subj "/CN=Old certificate" \
  -days 30 -outform DER -out small.der >/dev/null 2>&1 || { echo "cannot make certificates"; exit 1; }
size=$(stat -c %s big.der)
[ "$size" -le 4096 ] && [ "$size" -gt 3500 ] || { echo "certificate of $size bytes"; exit 1; }
tk genkey c1 >/dev/null 2>setup.err && tk import-cert c1 small.der --force >/dev/null 2>>setup.err ||
  { echo "setup failed:"; cat setup.err; exit 1; }

# The frames of one import.
ctl trace-clear "$sn"
tk import-cert c1 big.der --force >/dev/null 2>setup.err || { echo "import failed:"; cat setup.err; exit 1; }
frames=$("$sim" ctl --port-file port trace "$sn" | grep -c '^> ')
echo "one import: $frames frames, certificate of $size bytes"

fails=0
for k in $(seq "$frames"); do
  tk import-cert c1 small.der --force >/dev/null 2>err.txt || { echo "frame $k: reset failed"; cat err.txt; exit 1; }
  ctl pull "$sn" "$k"
  start=$(date +%s)
  tk import-cert c1 big.der --force >out.txt 2>err.txt
  rc=$?
  took=$(( $(date +%s) - start ))
  ctl insert "$sn"
  if [ $took -gt 10 ]; then
    echo "frame $k: the pulled import took $took s"; fails=$((fails + 1))
  fi
  if ! tk show >show.txt 2>err.txt; then
    echo "frame $k: show after re-insertion failed:"; cat err.txt; fails=$((fails + 1)); continue
  fi
  # A success reported by the pulled run (its last frames only log out) must be a complete one;
  # otherwise the same command again must succeed.
  if [ $rc -ne 0 ] && ! tk import-cert c1 big.der --force >out.txt 2>err.txt; then
    echo "frame $k: the import retried failed:"; cat err.txt; fails=$((fails + 1)); continue
  fi
  if ! timeout 60 "$tool" -t "$sn" export-cert c1 --der -o back.der >/dev/null 2>err.txt ||
     ! cmp -s big.der back.der; then
    echo "frame $k: the certificate read back differs (pulled run exited $rc)"; cat err.txt
    fails=$((fails + 1))
  fi
done
if [ $fails -ne 0 ]; then
  echo "FAILED at $fails of $frames pull points"
  exit 1
fi
echo "pulled at each of $frames frames: every retry succeeded and read back right"
