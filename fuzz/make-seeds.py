#!/usr/bin/env python3
"""Writes the small seed corpora of the fuzz targets that are not copies of real traffic:
fuzz/tokensim/seeds (request frames, frame sequences and control lines for the emulator) and
fuzz/transport/seeds_response (device answers, plain and under secure messaging, with MACs and
ciphertext made with the openssl command under the fuzz target's keys). The token image seed
(fuzz/tokensim/seeds/image-formatted) is a token image the emulator wrote. Run from anywhere:
    python3 fuzz/make-seeds.py
"""
import os
import subprocess

here = os.path.dirname(os.path.abspath(__file__))


def write(folder, name, data):
    with open(os.path.join(here, folder, name), "wb") as f:
        f.write(data)


def frame(cla, ins, p1, p2, data=b"", le=0):
    """A request frame: L(2) CLA INS P1 P2 00 Lc(2) data 00 Le(2), L = Lc + 10."""
    return ((len(data) + 10).to_bytes(2, "big") + bytes([cla, ins, p1, p2, 0]) +
            len(data).to_bytes(2, "big") + data + b"\0" + le.to_bytes(2, "big"))


def sequence(frames):
    return b"".join(len(f).to_bytes(2, "big") + f for f in frames)


# ---- emulator: byte 0 chooses one frame (0), a frame sequence (1), an image (2), control (3)
select = lambda fid: frame(0x00, 0xA4, 0, 0, fid)
record = bytearray(192)
record[0:2] = b"\x00\x10"
record[2:4] = b"\xD0\x01"
record[32:37] = b"first"
write("tokensim/seeds", "frame-select-mf", b"\x00" + select(b"\x3F\x00"))
write("tokensim/seeds", "frame-device-info", b"\x00" + frame(0x00, 0xF0, 0, 0x05, le=16))
write("tokensim/seeds", "frame-label", b"\x00" + frame(0x00, 0xCB, 0x01, 0x61, le=0x80))
write("tokensim/seeds", "sequence-objects", b"\x01" + sequence([
    select(b"\x3F\x00"), select(b"\xDF\x01"),
    frame(0x00, 0x20, 0x00, 0xA1, b"482915"),
    select(b"\x60\x00"), frame(0x00, 0xDC, 1, 4, bytes(record)), frame(0x00, 0xB2, 1, 4, le=0xC4),
    frame(0x00, 0xE0, 0, 0, bytes.fromhex("8302E00182020100800200408502000086080000000000000000")),
    frame(0x00, 0xD0, 0, 0, bytes(range(64))), frame(0x00, 0xB0, 0, 0, le=64),
    frame(0x00, 0xE0, 0, 0, bytes.fromhex("8302D00182021100800200808505020001000086080201010101010101")),
    frame(0x00, 0x22, 0x81, 0xB8, bytes.fromhex("800104" "8102D001")),
    frame(0x00, 0x2A, 0x86, 0x80, bytes(16)),
    frame(0x00, 0xE4, 0x02, 0x00, b"\xE0\x01"), frame(0x00, 0x0C, 1, 4),
]))
write("tokensim/seeds", "sequence-channel", b"\x01" + sequence([
    frame(0x00, 0x84, 0, 0, le=8), frame(0x80, 0x50, 0x00, 0xFF, bytes(range(8))),
    frame(0x84, 0x82, 0x03, 0x00, bytes(16)), frame(0x00, 0x24, 0x01, 0xA1, b"12345678"),
    frame(0x00, 0x2E, 0x00, 0x21),
]))
write("tokensim/seeds", "control-lines", b"\x03" + (
    "create FZ1 label=abc%20d\ninfo FZ1\nbutton FZ1 never\nset FZ1 label=x cos=Q57%20COS%202.11\n"
    "list\nremove FZ1\ninsert FZ1\nreset FZ1\ntrace FZ1\nblank FZ1\n"
    "format FZ1 userpin=123456 retries=5\ndelete FZ1\n").encode())

# ---- send operation: byte 0 = SM flags (bits 0-1), wrapped command (bit 2), capacity
# (bits 3-7, 64-byte steps); the rest is the answer. Keys and challenge as in fuzz_response.cpp.
keys = bytes((i * 13 + 7) & 0xFF for i in range(80))
enc_key, mac_key, challenge = keys[0:16], keys[32:48], bytes(range(1, 9))


def tdes_cbc(key, data, decrypt=False):
    args = ["openssl", "enc", "-des-ede-cbc", "-K", key.hex(), "-iv", challenge.hex(), "-nopad"]
    if decrypt:
        args.append("-d")
    return subprocess.run(args, input=data, capture_output=True, check=True).stdout


def answer(data, sw=b"\x90\x00"):
    return (len(data) + 2).to_bytes(2, "big") + data + sw


def mac(body):
    padded = body + b"\x80" + bytes(7)
    padded += bytes(-len(padded) % 8)
    return tdes_cbc(mac_key, padded)[-8:]


plain = bytes(range(0x30, 0x40))
inner = b"\x01" + len(plain).to_bytes(2, "big") + plain + b"\x80"
inner += bytes(-len(inner) % 8)
cipher = tdes_cbc(enc_key, inner)
cap_all = 31 << 3
write("transport/seeds_response", "plain-ok", bytes([cap_all]) + answer(b""))
write("transport/seeds_response", "plain-data", bytes([cap_all]) + answer(plain))
write("transport/seeds_response", "status-6a82", bytes([cap_all]) + answer(b"", b"\x6A\x82"))
write("transport/seeds_response", "too-small", bytes([0]) + answer(plain))
write("transport/seeds_response", "mac", bytes([cap_all | 4 | 1]) + answer(plain + mac(plain)))
write("transport/seeds_response", "enc-mac", bytes([cap_all | 4 | 3]) + answer(cipher + mac(cipher)))
write("transport/seeds_response", "enc-only", bytes([cap_all | 4 | 2]) + answer(cipher))

# ---- GIF block walker (fuzz/uicommon/seeds_gif): the provider's own animation, and hand-made
# files that end or break at the places a walker must watch.
def gif(blocks, table_bits=1, w=16, h=16):
    head = b"GIF89a" + w.to_bytes(2, "little") + h.to_bytes(2, "little")
    head += bytes([0x80 | (table_bits - 1) if table_bits else 0, 0, 0])
    head += bytes(3 << table_bits) if table_bits else b""
    return head + b"".join(blocks)


def sub(data):
    out = b""
    for i in range(0, len(data), 255):
        out += bytes([len(data[i:i + 255])]) + data[i:i + 255]
    return out + b"\0"


def control(delay, disposal):
    return bytes([0x21, 0xF9, 4, disposal << 2 | 1]) + delay.to_bytes(2, "little") + b"\0\0"


def image(l, t, w, h, local_bits=0, data=b"\x44\x01"):
    desc = bytes([0x2C]) + b"".join(v.to_bytes(2, "little") for v in (l, t, w, h))
    desc += bytes([0x80 | (local_bits - 1) if local_bits else 0])
    desc += bytes(3 << local_bits) if local_bits else b""
    return desc + b"\x02" + sub(data)


with open(os.path.join(here, "..", "csp", "art", "confirm122.gif"), "rb") as f:
    write("uicommon/seeds_gif", "provider-animation", f.read())
comment = b"\x21\xFE" + sub(b"hand made")
app = b"\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00"
two = gif([app, control(10, 1), image(0, 0, 16, 16), comment, control(3, 2), image(4, 4, 8, 8, 2), b"\x3B"])
write("uicommon/seeds_gif", "two-frames", two)
write("uicommon/seeds_gif", "one-frame", gif([image(0, 0, 16, 16), b"\x3B"]))
write("uicommon/seeds_gif", "no-frame", gif([comment, b"\x3B"]))
write("uicommon/seeds_gif", "cut-in-image", two[:-12])
write("uicommon/seeds_gif", "cut-in-table", gif([], table_bits=8)[:200])
write("uicommon/seeds_gif", "unknown-block", gif([image(0, 0, 4, 4), b"\x99", image(0, 0, 4, 4), b"\x3B"]))
write("uicommon/seeds_gif", "unknown-extension", gif([b"\x21\x55\x00", image(0, 0, 4, 4), b"\x3B"]))
write("uicommon/seeds_gif", "overlong-sub-block", gif([image(0, 0, 4, 4)[:-4] + b"\xF0\x01\x02", b"\x3B"]))
write("uicommon/seeds_gif", "no-global-table", gif([control(0, 3), image(0, 0, 4, 4, 1), b"\x3B"], table_bits=0))
write("uicommon/seeds_gif", "plain-text", gif([b"\x21\x01\x0C" + bytes(12) + sub(b"txt"), image(0, 0, 2, 2), b"\x3B"]))
write("uicommon/seeds_gif", "header-only", b"GIF89a")
