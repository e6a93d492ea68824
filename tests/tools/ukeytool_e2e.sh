#!/usr/bin/env bash
# End-to-end checks of ukeytool.exe under Wine against the token emulator of the ctest fixture
# "tokensim": listing, key generation, a signature checked with OpenSSL, certificate import and
# export, data objects and symmetric keys, PIN handling, and the refusal of bad input.
#   ukeytool_e2e.sh TOOL_EXE TOKENLIB_DLL TOKENSIM FIXTURE_DIR WORK_DIR
# The tool runs as a copy named ukeytool_e2e.exe with Wine's per-program Windows version set to
# XP (the direct device path, no key service needed), so no other program of the prefix changes.
set -u
tool=$1 dll=$2 sim=$3 fixture=$4 work=$5
wine=${WINE:-wine}  # the Wine loader of the tree under test
fails=0 checks=0

rm -rf "$work"
mkdir -p "$work"
cd "$work" || exit 1
cp "$tool" ukeytool_e2e.exe
cp "$dll" .
"$wine" reg add 'HKCU\Software\Wine\AppDefaults\ukeytool_e2e.exe' /v Version /t REG_SZ /d winxp /f \
  >/dev/null 2>&1

ctl() { "$sim" ctl --port-file "$fixture/port" "$@"; }
# Serial numbers unique to this run; the seventh character chooses the factory user PIN.
tag=$(printf '%05d' $(( ($$ + RANDOM) % 100000 )))
sn1="UKTE2E1$tag"   # factory user PIN 482915
sn2="UKTE2E2$tag"   # factory user PIN 937260
cleanup() {
  ctl delete "$sn1" >/dev/null 2>&1
  ctl delete "$sn2" >/dev/null 2>&1
}
trap cleanup EXIT
ctl create "$sn1" button=auto delay=200 >/dev/null || { echo "cannot create token $sn1"; exit 1; }
ctl create "$sn2" button=auto delay=200 label=Second >/dev/null || { echo "cannot create token $sn2"; exit 1; }

fail() {
  echo "FAIL: $*"
  fails=$((fails + 1))
}
# run WANTED_EXIT STDIN ARGS...: runs the tool; $out and $err hold what it wrote.
run() {
  local want=$1 input=$2
  shift 2
  checks=$((checks + 1))
  printf '%s' "$input" | "$wine" ./ukeytool_e2e.exe "$@" >out.txt 2>err.txt
  rc=$?
  out=$(tr -d '\r' <out.txt)
  err=$(tr -d '\r' <err.txt)
  if [ "$rc" != "$want" ]; then
    fail "ukeytool $* -> exit $rc, wanted $want"
    printf '  stdout: %s\n  stderr: %s\n' "$out" "$err"
    return 1
  fi
  return 0
}
has() {  # has TEXT WHERE
  checks=$((checks + 1))
  case "$2" in *"$1"*) ;; *) fail "expected '$1' in: $2" ;; esac
}

T1=(-t "$sn1")
PIN=$'482915\n'

# --- listing and choosing a token ---------------------------------------------------------------
run 0 "" "${T1[@]}" list && {
  has "serial:      $sn1" "$out"
  has "label:       ORV-USBKEY" "$out"
  has "COS version: " "$out"
  has "factory default for this serial: 482915" "$out"
  has "state:       ready" "$out"
}
run 0 "" -t "$sn2" list && has "factory default for this serial: 937260" "$out"
run 3 "" -t "NO_SUCH_TOKEN" list && has "no token with serial number 'NO_SUCH_TOKEN'" "$err"
run 3 "" -t 99 show && has "no token number 99" "$err"
# At least the two tokens of this run are attached: the tool refuses to guess.
run 3 "" show && has "tokens attached; choose one with -t" "$err"

# --- bad command lines and missing files --------------------------------------------------------
run 2 "" frobnicate && has "unknown command 'frobnicate'" "$err"
run 2 "" "${T1[@]}" list --so && has "does not apply to 'list'" "$err"
run 1 "$PIN" "${T1[@]}" sign demo missing.bin --pin-stdin && has "cannot read 'missing.bin'" "$err"
run 1 "" "${T1[@]}" pin verify --pin-file missing-pins.txt && has "cannot read the PIN file" "$err"
run 2 "" "${T1[@]}" pin verify && has "no console to ask for the user PIN" "$err"

# --- PINs ---------------------------------------------------------------------------------------
run 4 $'000000\n' "${T1[@]}" pin verify --pin-stdin && has "wrong user PIN; 9 tries left" "$err"
run 4 $'000000\n' "${T1[@]}" pin verify --pin-stdin && has "wrong user PIN; 8 tries left" "$err"
run 0 $'482915\n' "${T1[@]}" pin verify --pin-stdin && has "The user PIN is correct." "$out"
run 4 $'000000\n' "${T1[@]}" pin verify --pin-stdin && has "9 tries left" "$err"  # counter was reset
printf '482915\n' >pins.txt
run 0 "" "${T1[@]}" pin verify --pin-file pins.txt
run 0 "" "${T1[@]}" pin verify --pin 482915 && has "warning: a PIN on the command line" "$err"
run 2 $'482915\n123\n' "${T1[@]}" pin change --pin-stdin && has "must have 6 to 10 characters" "$err"
run 0 $'482915\n246810\n' "${T1[@]}" pin change --pin-stdin && has "was changed" "$out"
run 0 "" "${T1[@]}" list && has "changed from the factory default" "$out"
run 4 $'11111111\n482915\n' "${T1[@]}" pin unlock --pin-stdin && has "wrong administrator PIN; 9 tries left" "$err"
run 0 $'70361524\n482915\n' "${T1[@]}" pin unlock --pin-stdin && has "reset and unlocked" "$out"
PIN=$'482915\n'

# --- key pair, signature, OpenSSL ---------------------------------------------------------------
run 0 "$PIN" "${T1[@]}" genkey demo --pin-stdin && has "container created" "$out"
run 1 "$PIN" "${T1[@]}" genkey demo --pin-stdin && has "already has an exchange key pair" "$err"
run 0 "" "${T1[@]}" export-pubkey demo -o pub.pem
head -c 3000 /dev/urandom >data.bin
run 0 "$PIN" "${T1[@]}" sign demo data.bin --pin-stdin && {
  has "Press the button on the token" "$out"
  has "written to data.bin.sig" "$out"
}
checks=$((checks + 1))
openssl dgst -sha1 -verify pub.pem -signature data.bin.sig data.bin >verify.txt 2>&1 ||
  fail "OpenSSL did not verify the signature: $(cat verify.txt)"
cp data.bin tampered.bin
printf 'x' >>tampered.bin
checks=$((checks + 1))
openssl dgst -sha1 -verify pub.pem -signature data.bin.sig tampered.bin >/dev/null 2>&1 &&
  fail "OpenSSL verified the signature over different data"
# Without the button the same PKCS #1 v1.5 signature comes back at once.
run 0 "$PIN" "${T1[@]}" sign demo data.bin -o direct.sig --no-button --pin-stdin && {
  checks=$((checks + 1))
  cmp -s data.bin.sig direct.sig || fail "signatures with and without the button differ"
  case "$out" in *"Press the button"*) fail "--no-button still waited for the button" ;; esac
}
run 1 "$PIN" "${T1[@]}" sign nosuch data.bin --pin-stdin && has "no container named 'nosuch'" "$err"
run 4 $'000000\n' "${T1[@]}" sign demo data.bin --pin-stdin && has "wrong user PIN; 9 tries left" "$err"
# A button nobody presses: the tool gives up after --wait and cancels on the token.
ctl button "$sn1" never >/dev/null
ctl trace-clear "$sn1" >/dev/null
run 5 "$PIN" "${T1[@]}" sign demo data.bin -o late.sig --wait 1 --pin-stdin &&
  has "not pressed in time" "$err"
checks=$((checks + 1))
ctl trace "$sn1" | grep -Eq '^[>=] 00540000' || fail "no cancel command reached the token"
checks=$((checks + 1))
[ ! -e late.sig ] || fail "a signature file was written for a cancelled signature"
ctl button "$sn1" auto 200 >/dev/null

# --- certificates -------------------------------------------------------------------------------
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -subj "/CN=E2E Test CA/O=Solene" -days 30 \
  -out ca.pem >/dev/null 2>&1
openssl req -new -newkey rsa:1024 -nodes -keyout other.key -subj "/C=CN/O=Solene Bank/CN=Zhang San" \
  -out user.csr >/dev/null 2>&1
openssl x509 -req -in user.csr -CA ca.pem -CAkey ca.key -force_pubkey pub.pem -set_serial 4242 \
  -days 10 -out user.pem >/dev/null 2>&1
openssl x509 -req -in user.csr -CA ca.pem -CAkey ca.key -set_serial 7 -days 10 -out foreign.pem \
  >/dev/null 2>&1
run 1 "$PIN" "${T1[@]}" import-cert demo foreign.pem --pin-stdin && has "not for the container's exchange key pair" "$err"
run 1 "$PIN" "${T1[@]}" import-cert demo data.bin --pin-stdin && has "is not a certificate" "$err"
run 0 "$PIN" "${T1[@]}" import-cert demo user.pem --pin-stdin
run 1 "$PIN" "${T1[@]}" import-cert demo user.pem --pin-stdin && has "--force replaces it" "$err"
run 0 "" "${T1[@]}" show && {
  has "[1] demo" "$out"
  has "exchange key pair: RSA 1024 bits" "$out"
  has "subject:    C=CN, O=Solene Bank, CN=Zhang San" "$out"
  has "issuer:     CN=E2E Test CA, O=Solene" "$out"
  has "serial:     10:92" "$out"
  has "valid from: " "$out"
}
run 0 "" "${T1[@]}" export-cert demo -o user.der
openssl x509 -in user.pem -outform DER -out expected.der
checks=$((checks + 1))
cmp -s expected.der user.der || fail "exported DER certificate differs from the imported one"
run 0 "" "${T1[@]}" export-cert demo -o user-out.pem
checks=$((checks + 1))
[ "$(openssl x509 -in user-out.pem -noout -fingerprint -sha256)" = \
  "$(openssl x509 -in user.pem -noout -fingerprint -sha256)" ] || fail "exported PEM certificate differs"
run 0 "" "${T1[@]}" export-cert demo && has "-----BEGIN CERTIFICATE-----" "$out"
run 1 "" "${T1[@]}" export-cert demo --keyspec signature -o x.der && has "has no signature certificate" "$err"

# --- data objects and symmetric keys ------------------------------------------------------------
printf 'support note \001\002' >note.bin
run 0 "$PIN" "${T1[@]}" data write note note.bin --pin-stdin && has "stored as record 1" "$out"
run 1 "$PIN" "${T1[@]}" data write note note.bin --pin-stdin && has "with that ID exists" "$err"
run 0 "" "${T1[@]}" data list && has '[1] note  ID "note"' "$out"
run 0 "" "${T1[@]}" data read note -o note-back.bin
checks=$((checks + 1))
cmp -s note.bin note-back.bin || fail "data object read back differs"
run 0 "" "${T1[@]}" data read 1 && has "73 75 70 70 6F 72 74" "$out"
run 1 "" "${T1[@]}" data read nothing && has "no entry 'nothing'" "$err"
run 0 "$PIN" "${T1[@]}" symkey generate k3 --alg 3des3 --pin-stdin
run 0 "" "${T1[@]}" symkey list && has "Triple-DES, 24-byte key" "$out"
run 0 "$PIN" "${T1[@]}" symkey read k3 --pin-stdin && {
  checks=$((checks + 1))
  echo "$out" | grep -Eq '^[0-9A-F]{48}$' || fail "symmetric key value not 24 bytes of hex: $out"
}
run 2 "$PIN" "${T1[@]}" data delete note --pin-stdin && has "add --force" "$err"
run 0 "$PIN" "${T1[@]}" data delete note --force --pin-stdin
run 0 "$PIN" "${T1[@]}" symkey delete 1 --force --pin-stdin
run 0 "" "${T1[@]}" show && {
  has "Symmetric keys: 0" "$out"
  has "Data objects: 0" "$out"
}

# --- label and format ---------------------------------------------------------------------------
run 0 "" "${T1[@]}" set-label "Support desk" && has "set to 'Support desk'" "$out"
run 0 "" "${T1[@]}" list && has "label:       Support desk" "$out"
run 2 "" "${T1[@]}" format && has "add --force" "$err"
run 0 "" "${T1[@]}" format --force --label Fresh && has "factory default PINs set" "$out"
run 0 "" "${T1[@]}" show && has "Containers: 0" "$out"
run 0 "" "${T1[@]}" list && has "label:       Fresh" "$out"
run 0 "$PIN" "${T1[@]}" pin verify --pin-stdin

echo "ukeytool end to end: $checks checks, $fails failed"
[ "$fails" -eq 0 ]
