#!/usr/bin/env bash
# Makes the build's code-signing test certificate: a certification authority of its own and a
# code-signing certificate issued by it, with the subject written in installer/signer.h.
#   make-signing-cert.sh OUTDIR
# OUTDIR receives (PEM and DER side by side):
#   root.crt, root.cer        the test authority's certificate
#   codesign.crt, codesign.cer  the signer's certificate
#   codesign.key              the signer's private key (PEM, unencrypted: a build artefact)
#   codesign.sha1             the signer's certificate thumbprint (40 hex digits)
#   subject.txt               the signer's subject, one line, as OpenSSL prints it
# Idempotent: existing files are kept as long as their subject still matches signer.h, so that
# every binary of one build tree is signed by the same certificate.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=${1:?usage: make-signing-cert.sh OUTDIR}
mkdir -p "$out"

define() {  # NAME: the string value of #define NAME "..." in signer.h
  sed -n "s/^#define $1 \"\\(.*\\)\"\$/\\1/p" "$here/signer.h"
}
country=$(define UK_SIGNER_COUNTRY)
org=$(define UK_SIGNER_ORGANIZATION)
cn=$(define UK_SIGNER_COMMON_NAME)
root_cn=$(define UK_SIGNER_TEST_ROOT_COMMON_NAME)
for v in country org cn root_cn; do
  [ -n "${!v}" ] || { echo "make-signing-cert: $v missing from signer.h" >&2; exit 1; }
done
# OpenSSL's -subj form: "/" separates the attributes, so a "/" in a value must be escaped.
esc() { printf '%s' "$1" | sed 's,/,\\/,g'; }
subject="/C=$(esc "$country")/O=$(esc "$org")/CN=$(esc "$cn")"
root_subject="/C=$(esc "$country")/O=$(esc "$org")/CN=$(esc "$root_cn")"

wanted="C=$country, O=$org, CN=$cn"
current() { openssl x509 -in "$out/codesign.crt" -noout -subject -nameopt sep_comma_plus_space,utf8,-esc_msb 2>/dev/null | sed 's/^subject=//'; }
if [ -f "$out/codesign.key" ] && [ -f "$out/codesign.crt" ] && [ -f "$out/root.crt" ] &&
   [ -f "$out/codesign.cer" ] && [ -f "$out/root.cer" ] && [ -f "$out/codesign.sha1" ] &&
   [ "$(current)" = "$wanted" ]; then
  exit 0
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cat > "$tmp/root.ext" <<CONF
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
CONF
cat > "$tmp/leaf.ext" <<CONF
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
CONF

openssl req -new -newkey rsa:2048 -nodes -keyout "$tmp/root.key" -subj "$root_subject" \
  -utf8 -out "$tmp/root.csr" 2>/dev/null
openssl x509 -req -in "$tmp/root.csr" -signkey "$tmp/root.key" -sha256 -days 3650 \
  -set_serial 0x$(openssl rand -hex 8) -extfile "$tmp/root.ext" -out "$tmp/root.crt" 2>/dev/null
openssl req -new -newkey rsa:2048 -nodes -keyout "$tmp/codesign.key" -subj "$subject" \
  -utf8 -out "$tmp/codesign.csr" 2>/dev/null
openssl x509 -req -in "$tmp/codesign.csr" -CA "$tmp/root.crt" -CAkey "$tmp/root.key" -sha256 \
  -days 1825 -set_serial 0x$(openssl rand -hex 8) -extfile "$tmp/leaf.ext" \
  -out "$tmp/codesign.crt" 2>/dev/null
openssl verify -CAfile "$tmp/root.crt" "$tmp/codesign.crt" >/dev/null

for c in root codesign; do
  openssl x509 -in "$tmp/$c.crt" -outform DER -out "$tmp/$c.cer"
done
openssl x509 -in "$tmp/codesign.crt" -noout -fingerprint -sha1 | sed 's/.*=//; s/://g' \
  | tr 'A-F' 'a-f' > "$tmp/codesign.sha1"
# The authority's key is not kept: nothing else is ever issued by it.
mv "$tmp/root.crt" "$tmp/root.cer" "$tmp/codesign.crt" "$tmp/codesign.cer" "$tmp/codesign.key" \
   "$tmp/codesign.sha1" "$out/"
chmod 600 "$out/codesign.key"
current > "$out/subject.txt"
echo "signing certificate: $(cat "$out/subject.txt") ($(cat "$out/codesign.sha1"))"
