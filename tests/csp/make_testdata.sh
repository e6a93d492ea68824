#!/usr/bin/env bash
# Test data of the provider's Windows tests, made with the OpenSSL command line as the independent
# side: an RSA-1024 key as a PRIVATEKEYBLOB (596 bytes) and its PUBLICKEYBLOB, and a certificate.
#   make_testdata.sh DIR
set -euo pipefail
dir=$1
mkdir -p "$dir"
cd "$dir"
openssl genrsa -out openssl_key.pem 1024 2>/dev/null
openssl rsa -in openssl_key.pem -outform MSBLOB -out openssl_private.blob 2>/dev/null
openssl rsa -in openssl_key.pem -pubout -outform MSBLOB -out openssl_public.blob 2>/dev/null
openssl req -x509 -newkey rsa:1024 -nodes -keyout certificate_key.pem -subj "/CN=win-cert/O=ORV" \
  -days 365 -outform DER -out certificate.der 2>/dev/null
echo "test data in $dir"
