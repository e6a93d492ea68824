#!/usr/bin/env bash
# Signs a Windows program in place with the build's code-signing certificate (Authenticode,
# SHA-256, the issuing test authority's certificate included so that a verifier can build the
# chain).
#   sign.sh FILE [DESCRIPTION]
# The certificate is made by make-signing-cert.sh in UK_SIGNING_DIR (default: build/signing of
# this checkout).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
file=${1:?usage: sign.sh FILE [DESCRIPTION]}
desc=${2:-ORV UKEY Client}
dir=${UK_SIGNING_DIR:-$here/../build/signing}
bash "$here/make-signing-cert.sh" "$dir" >/dev/null
tmp="$file.signing"
cat "$dir/codesign.crt" "$dir/root.crt" > "$tmp.chain"
trap 'rm -f "$tmp" "$tmp.chain"' EXIT
osslsigncode sign -certs "$tmp.chain" -key "$dir/codesign.key" -h sha256 -n "$desc" \
  -in "$file" -out "$tmp" >/dev/null
mv -f "$tmp" "$file"
