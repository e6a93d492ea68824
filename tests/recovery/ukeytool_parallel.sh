#!/usr/bin/env bash
# Two native ukeytool processes on one emulated token at the same time, RUNS runs each: one lists
# the token's contents over and over (show: containers with their certificates, keys, objects),
# the other replaces a certificate, writes, lists and deletes data objects, each run a new
# process. Every run must succeed and every listing must be right: the tools take turns under the
# device-exclusive lock, as the Windows programs do under the named mutex.
#   ukeytool_parallel.sh UKEYTOOL TOKENSIM WORK_DIR [RUNS]
set -u
tool=$1 sim=$2 work=$3 runs=${4:-50}

. "$(dirname "$0")/emulator_session.sh" "$sim" "$work"
sn=UKPAR0000001
"$sim" ctl --port-file port create "$sn" >/dev/null || { echo "cannot create the token"; exit 1; }
PIN=$'482915\n'

# Two containers with key pairs and certificates, a symmetric key and a data object to list.
openssl req -x509 -newkey rsa:2048 -nodes -keyout cert.key -subj "/CN=Parallel runs/O=UKey tests" \
  -days 30 -addext "subjectAltName=DNS:one.example,DNS:two.example,DNS:three.example" \
  -outform DER -out cert.der >/dev/null 2>&1 || { echo "cannot make a certificate"; exit 1; }
setup() {
  printf '%s' "$PIN" | "$tool" -t "$sn" "$@" --pin-stdin >/dev/null 2>setup.err ||
    { echo "setup: $* failed"; cat setup.err; exit 1; }
}
for c in first second; do
  setup genkey "$c"
  setup import-cert "$c" cert.der --force
done
setup symkey generate key1 --alg 3des2
head -c 200 /dev/urandom >object.bin
setup data write keep object.bin

# lister: every show lists both containers with their certificates, the key and the kept object
# (and maybe the writer's).
lister() {
  local bad=0
  for i in $(seq "$runs"); do
    printf '%s' "$PIN" | "$tool" -t "$sn" show --pin-stdin >"show.$i.out" 2>"show.$i.err"
    rc=$?
    if [ $rc -ne 0 ]; then
      echo "show run $i failed (exit $rc):"; cat "show.$i.err"; bad=1; continue
    fi
    out=$(cat "show.$i.out")
    for want in "Containers: 2" "] first" "] second" "Symmetric keys: 1" "] key1" "] keep"; do
      case "$out" in *"$want"*) ;; *) echo "show run $i: '$want' missing:"; echo "$out"; bad=1 ;; esac
    done
    certs=$(grep -c "subject:    CN=Parallel runs" "show.$i.out")
    [ "$certs" = 2 ] || { echo "show run $i: $certs certificates:"; echo "$out"; bad=1; }
    rm -f "show.$i.out" "show.$i.err"
  done
  return $bad
}

# writer: a certificate replaced, a data object written, listed and deleted again, run after run.
writer() {
  local bad=0
  for i in $(seq "$runs"); do
    case $((i % 4)) in
      1) args=(import-cert second cert.der --force) ;;
      2) args=(data write "obj$i" object.bin) ;;
      3) args=(data list) ;;
      0) args=(data delete "obj$((i - 2))" --force) ;;
    esac
    printf '%s' "$PIN" | "$tool" -t "$sn" "${args[@]}" --pin-stdin >"w.$i.out" 2>"w.$i.err"
    rc=$?
    if [ $rc -ne 0 ]; then
      echo "writer run $i (${args[*]}) failed (exit $rc):"; cat "w.$i.err"; bad=1; continue
    fi
    if [ "${args[1]}" = list ]; then
      out=$(cat "w.$i.out")
      for want in "Data objects: 2" "] keep" "] obj$((i - 1))"; do
        case "$out" in *"$want"*) ;; *) echo "data list run $i: '$want' missing:"; echo "$out"; bad=1 ;; esac
      done
    fi
    rm -f "w.$i.out" "w.$i.err"
  done
  return $bad
}

start=$(date +%s.%N)
lister >lister.log 2>&1 &
lpid=$!
writer >writer.log 2>&1 &
wpid=$!
wait $lpid
lrc=$?
wait $wpid
wrc=$?
end=$(date +%s.%N)
cat lister.log writer.log
awk -v r="$runs" -v s="$start" -v e="$end" 'BEGIN { printf "%d + %d runs in %.1f s\n", r, r, e - s }'
if [ $lrc -ne 0 ] || [ $wrc -ne 0 ]; then
  echo "FAILED"
  exit 1
fi
echo "all runs succeeded with right listings"
