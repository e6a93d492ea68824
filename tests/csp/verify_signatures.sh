#!/usr/bin/env bash
# OpenSSL's verdict on the SHA-1 and MD5 signatures csp_sign_win_test made through the provider
# with the key of a certificate in the user's store (most significant byte first), checked
# against the certificate's public key.
set -euo pipefail
dir=$1
for f in message.txt certificate.der sha1.sig md5.sig; do
  if [ ! -f "$dir/$f" ]; then
    echo "no $f: csp_sign_win_test did not get that far"
    exit 1
  fi
done
openssl x509 -inform DER -in "$dir/certificate.der" -pubkey -noout > "$dir/public.pem"
openssl dgst -sha1 -verify "$dir/public.pem" -signature "$dir/sha1.sig" "$dir/message.txt"
openssl dgst -md5 -verify "$dir/public.pem" -signature "$dir/md5.sig" "$dir/message.txt"
