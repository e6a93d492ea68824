#!/usr/bin/env bash
# OpenSSL's verdict on the signature client_e2e_test made through the provider with the key of a
# certificate the client registered: SHA-1 with RSA, checked against the certificate's key.
set -euo pipefail
dir=$1
if [ -f "$dir/skipped" ] || [ ! -f "$dir/signature.bin" ]; then
  echo "no signature: the provider is not installed (see client_e2e_test)"
  exit 77
fi
openssl x509 -inform DER -in "$dir/certificate.der" -pubkey -noout > "$dir/public.pem"
openssl dgst -sha1 -verify "$dir/public.pem" -signature "$dir/signature.bin" "$dir/message.txt"
