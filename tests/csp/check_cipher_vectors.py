#!/usr/bin/env python3
"""OpenSSL's encryption of the cases csp_win_test encrypted through the provider (the file
cipher_vectors.txt it wrote: algorithm, mode, final, key, IV, plaintext, ciphertext in hex, "-"
for empty). Final cases are padded with PKCS #5 here; every case must give the provider's bytes.
DES in OFB with 8-bit feedback has no openssl command and is checked by the native tests."""
import subprocess
import sys

CIPHERS = {
    ("des", "cbc"): "des-cbc", ("des", "ecb"): "des-ecb", ("des", "cfb8"): "des-cfb8",
    ("des", "cfb64"): "des-cfb",
    ("3des", "cbc"): "des-ede3-cbc", ("3des", "ecb"): "des-ede3", ("3des", "ofb64"): "des-ede3-ofb",
    ("3des", "cfb64"): "des-ede3-cfb",
    ("3des112", "cbc"): "des-ede3-cbc", ("3des112", "ecb"): "des-ede3", ("3des112", "ofb64"): "des-ede3-ofb",
    ("3des112", "cfb64"): "des-ede3-cfb",
    ("rc4", "stream"): "rc4", ("rc4-40", "stream"): "rc4",
}


def main(path):
    checked = skipped = 0
    failures = []
    with open(path) as f:
        lines = [l.split() for l in f if l.strip()]
    for alg, mode, final, key, iv, plain, cipher in lines:
        name = CIPHERS.get((alg, mode))
        if not name:
            skipped += 1
            continue
        data = bytes.fromhex(plain) if plain != "-" else b""
        if final == "1" and name != "rc4":
            pad = 8 - len(data) % 8
            data += bytes([pad]) * pad
        key = bytes.fromhex(key)
        if name == "rc4":
            key = key.ljust(16, b"\0")  # a short key runs with its (zero) salt
        args = ["openssl", "enc", "-e", "-" + name, "-K", key.hex(), "-nopad", "-provider", "legacy",
                "-provider", "default"]
        if iv != "-" and not name.endswith("ede3") and name != "des-ecb" and name != "rc4":
            args += ["-iv", iv]
        out = subprocess.run(args, input=data, capture_output=True, check=True).stdout
        want = bytes.fromhex(cipher) if cipher != "-" else b""
        checked += 1
        if out != want:
            failures.append(f"{alg} {mode} final={final} plain={plain}: openssl {out.hex()} provider {want.hex()}")
    for f in failures:
        print(f)
    print(f"{checked} cases agree with OpenSSL, {len(failures)} differ, {skipped} without an openssl cipher")
    return 1 if failures or checked == 0 else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
