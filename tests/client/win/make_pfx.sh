#!/usr/bin/env bash
# PKCS #12 files for the client's import tests, made by OpenSSL into DIR: an end-entity
# certificate issued by a test CA with its 1024-bit key, exported with the default encryption and
# a CA chain (chain.pfx), with the legacy encryption (legacy.pfx), without a password
# (nopass.pfx); keys the token cannot hold (2048 bits: big.pfx, public exponent 3: e3.pfx); files
# that are no PKCS #12 (notpfx.pfx: a PEM certificate; empty.pfx: 0 bytes; huge.pfx: 50 MB); and
# the end-entity certificates in DER (*.der) to compare with the token. The password is in
# DIR/password.
#   make_pfx.sh DIR
set -euo pipefail
dir=$1
rm -rf "$dir"
mkdir -p "$dir"
cd "$dir"
pass='Pfx#Secret1'
printf '%s' "$pass" >password
ossl() { openssl "$@" 2>/dev/null; }

ossl req -x509 -newkey rsa:1024 -nodes -keyout ca.key -out ca.crt -days 3650 -subj "/CN=Import Test Root CA"
issue() {  # NAME CN [KEYOPTS...]: a key and a certificate for it issued by the CA
  local name=$1 cn=$2
  shift 2
  ossl genpkey -algorithm RSA "$@" -out "$name.key"
  ossl req -new -key "$name.key" -out "$name.csr" -subj "/CN=$cn"
  ossl x509 -req -in "$name.csr" -CA ca.crt -CAkey ca.key -set_serial "0x$(openssl rand -hex 8)" \
    -days 365 -out "$name.crt"
  ossl x509 -in "$name.crt" -outform DER -out "$name.der"
}
issue chain "PFX Chain User" -pkeyopt rsa_keygen_bits:1024
issue legacy "PFX Legacy User" -pkeyopt rsa_keygen_bits:1024
issue nopass "PFX Open User" -pkeyopt rsa_keygen_bits:1024
issue store "Store Import User" -pkeyopt rsa_keygen_bits:1024
issue big "PFX Big Key User" -pkeyopt rsa_keygen_bits:2048
issue e3 "PFX Exponent Three User" -pkeyopt rsa_keygen_bits:1024 -pkeyopt rsa_keygen_pubexp:3

ossl pkcs12 -export -in chain.crt -inkey chain.key -certfile ca.crt -out chain.pfx -passout "pass:$pass"
ossl pkcs12 -export -legacy -in legacy.crt -inkey legacy.key -out legacy.pfx -passout "pass:$pass"
ossl pkcs12 -export -in nopass.crt -inkey nopass.key -out nopass.pfx -passout pass:
ossl pkcs12 -export -in store.crt -inkey store.key -out store.pfx -passout "pass:$pass"
ossl pkcs12 -export -in big.crt -inkey big.key -out big.pfx -passout "pass:$pass"
ossl pkcs12 -export -in e3.crt -inkey e3.key -out e3.pfx -passout "pass:$pass"
cp chain.crt notpfx.pfx
: >empty.pfx
truncate -s 50M huge.pfx
# Each file must be what its name says.
for f in chain legacy nopass store big e3; do
  p=$pass
  [ "$f" = nopass ] && p=
  openssl pkcs12 -in "$f.pfx" -passin "pass:$p" -noout 2>/dev/null ||
    openssl pkcs12 -legacy -in "$f.pfx" -passin "pass:$p" -noout
done
openssl x509 -in e3.crt -noout -text | grep -q 'Exponent: 3 '
echo "PKCS #12 files in $dir"
