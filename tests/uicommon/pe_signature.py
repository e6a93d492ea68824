#!/usr/bin/env python3
"""Signed programs spoiled on purpose, for the tests of the setup signature check.

    pe_signature.py tamper SIGNED OUT        one byte of the signed content changed
    pe_signature.py transplant SIGNED OTHER OUT
                                             OTHER (unsigned) with SIGNED's signature attached:
                                             a valid signature over a different file
"""
import struct
import sys

SECURITY = 4  # index of the certificate table in the optional header's data directories


def directory_offset(data):
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise SystemExit("not a PE file")
    magic = struct.unpack_from("<H", data, pe + 24)[0]
    dirs = pe + 24 + (112 if magic == 0x20B else 96)
    return dirs + 8 * SECURITY


def certificate_table(data):
    off = directory_offset(data)
    return struct.unpack_from("<II", data, off)


def tamper(signed, out):
    data = bytearray(open(signed, "rb").read())
    start, size = certificate_table(data)
    if not size:
        raise SystemExit("%s is not signed" % signed)
    pos = start // 2
    data[pos] ^= 0x5A
    open(out, "wb").write(data)


def transplant(signed, other, out):
    s = open(signed, "rb").read()
    start, size = certificate_table(s)
    table = s[start:start + size]
    data = bytearray(open(other, "rb").read())
    if certificate_table(data)[1]:
        raise SystemExit("%s is already signed" % other)
    while len(data) % 8:
        data.append(0)
    off = directory_offset(data)
    struct.pack_into("<II", data, off, len(data), len(table))
    data += table
    open(out, "wb").write(data)


if __name__ == "__main__":
    if len(sys.argv) == 4 and sys.argv[1] == "tamper":
        tamper(sys.argv[2], sys.argv[3])
    elif len(sys.argv) == 5 and sys.argv[1] == "transplant":
        transplant(sys.argv[2], sys.argv[3], sys.argv[4])
    else:
        raise SystemExit(__doc__)
