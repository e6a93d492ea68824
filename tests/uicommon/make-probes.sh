#!/usr/bin/env bash
# The stand-in setup programs of the signature and update tests, from the built probes:
#   make-probes.sh PROBE PROBE_B OUTDIR
# OUTDIR receives
#   probe_signed.exe       signed with the build's code-signing certificate (installer/sign.sh):
#                          our publisher, chained to build/signing/root.cer
#   probe_unsigned.exe     no signature
#   probe_tampered.exe     probe_signed.exe with one byte of its content changed
#   probe_transplanted.exe PROBE_B (another program) carrying probe_signed.exe's signature
#   probe_other.exe        signed by "Somebody Else", a certificate of a second test authority
#   probe_lookalike.exe    signed by a self-made certificate with exactly our publisher's subject
#   test_root.cer          the build's test authority (build/signing/root.cer)
#   other_root.cer         the second test authority
set -euo pipefail
probe=$1 probe_b=$2 out=$3
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
mkdir -p "$out"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

cp "$probe" "$out/probe_unsigned.exe"
cp "$probe" "$out/probe_signed.exe"
bash "$top/installer/sign.sh" "$out/probe_signed.exe" "UKey test setup"
cp "$top/build/signing/root.cer" "$out/test_root.cer"
python3 "$here/pe_signature.py" tamper "$out/probe_signed.exe" "$out/probe_tampered.exe"
python3 "$here/pe_signature.py" transplant "$out/probe_signed.exe" "$probe_b" "$out/probe_transplanted.exe"

define() { sed -n "s/^#define $1 \"\\(.*\\)\"\$/\\1/p" "$top/installer/signer.h"; }
esc() { printf '%s' "$1" | sed 's,/,\\/,g'; }
ours="/C=$(esc "$(define UK_SIGNER_COUNTRY)")/O=$(esc "$(define UK_SIGNER_ORGANIZATION)")/CN=$(esc "$(define UK_SIGNER_COMMON_NAME)")"

# A second authority (kept, so the root the tests trust stays the same across builds) and the
# certificate of another publisher it issued.
other=$out/other-signing
if [ ! -f "$other/codesign.key" ] || [ ! -f "$other/codesign.crt" ] || [ ! -f "$other/root.cer" ]; then
  rm -rf "$other"; mkdir -p "$other"
  printf 'basicConstraints = critical, CA:TRUE\nkeyUsage = critical, keyCertSign, cRLSign\n' > "$tmp/root.ext"
  printf 'basicConstraints = critical, CA:FALSE\nkeyUsage = critical, digitalSignature\nextendedKeyUsage = codeSigning\n' > "$tmp/leaf.ext"
  openssl req -new -newkey rsa:2048 -nodes -keyout "$tmp/root.key" -subj "/C=CN/O=Other Test Authority/CN=UKey Other Test Root" \
    -out "$tmp/root.csr" 2>/dev/null
  openssl x509 -req -in "$tmp/root.csr" -signkey "$tmp/root.key" -sha256 -days 3650 -extfile "$tmp/root.ext" \
    -out "$other/root.crt" 2>/dev/null
  openssl req -new -newkey rsa:2048 -nodes -keyout "$other/codesign.key" -subj "/C=CN/O=Somebody Else Ltd./CN=Somebody Else" \
    -out "$tmp/leaf.csr" 2>/dev/null
  openssl x509 -req -in "$tmp/leaf.csr" -CA "$other/root.crt" -CAkey "$tmp/root.key" -set_serial 0x$(openssl rand -hex 8) \
    -sha256 -days 1825 -extfile "$tmp/leaf.ext" -out "$other/codesign.crt" 2>/dev/null
  openssl x509 -in "$other/root.crt" -outform DER -out "$other/root.cer"
  # A certificate that only claims to be ours: our subject, issued by nobody the machine trusts.
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$other/lookalike.key" -subj "$ours" -days 1825 \
    -addext "extendedKeyUsage=codeSigning" -out "$other/lookalike.crt" 2>/dev/null
fi
cp "$other/root.cer" "$out/other_root.cer"
cat "$other/codesign.crt" "$other/root.crt" > "$tmp/chain.pem"
rm -f "$out/probe_other.exe" "$out/probe_lookalike.exe"
osslsigncode sign -certs "$tmp/chain.pem" -key "$other/codesign.key" -h sha256 -in "$probe" \
  -out "$out/probe_other.exe" >/dev/null
osslsigncode sign -certs "$other/lookalike.crt" -key "$other/lookalike.key" -h sha256 -in "$probe" \
  -out "$out/probe_lookalike.exe" >/dev/null
