#!/usr/bin/env python3
"""Draws the artwork of our programs. Pure Python (no imaging library): shapes are
signed-distance functions rendered with 4x4 supersampling; output is written as BMP, ICO and GIF
(our own LZW encoder).

  client manager (client/art): header, footer and notice bitmaps, the program icon and the icons
      of the command bar and the device tree;
  provider (csp/art): the banner of the button-confirmation dialog (bitmap 121), its animation
      (GIF 122: a hand presses the lit button at the token's tail) and the provider's icon.

    python3 scripts/make_artwork.py [OUTPUT_DIR]   (default: client/art and csp/art; with a
                                                    folder, everything goes there)

The output is deterministic; the folders are committed so that a build needs no Python."""
import math
import os
import struct
import sys

SS = 4  # supersampling per axis


# ---- shapes: each returns a signed distance (negative inside) at (x, y) in unit coordinates ----

def circle(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) - r


def ring(cx, cy, r, w):
    return lambda x, y: abs(math.hypot(x - cx, y - cy) - r) - w / 2


def rrect(x0, y0, x1, y1, rad):
    cx, cy, hx, hy = (x0 + x1) / 2, (y0 + y1) / 2, (x1 - x0) / 2, (y1 - y0) / 2

    def f(x, y):
        qx, qy = abs(x - cx) - hx + rad, abs(y - cy) - hy + rad
        return math.hypot(max(qx, 0), max(qy, 0)) + min(max(qx, qy), 0) - rad
    return f


def seg(x0, y0, x1, y1, w):
    def f(x, y):
        dx, dy = x1 - x0, y1 - y0
        t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / (dx * dx + dy * dy)))
        return math.hypot(x - x0 - t * dx, y - y0 - t * dy) - w / 2
    return f


def poly(pts):
    def f(x, y):
        inside = False
        d = 1e9
        n = len(pts)
        for i in range(n):
            ax, ay = pts[i]
            bx, by = pts[(i + 1) % n]
            if (ay > y) != (by > y) and x < (bx - ax) * (y - ay) / (by - ay) + ax:
                inside = not inside
            dx, dy = bx - ax, by - ay
            t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy or 1)))
            d = min(d, math.hypot(x - ax - t * dx, y - ay - t * dy))
        return -d if inside else d
    return f


def minus(a, b):
    return lambda x, y: max(a(x, y), -b(x, y))


def union(*fs):
    return lambda x, y: min(f(x, y) for f in fs)


def arc(cx, cy, r, w, a0, a1):
    """Ring segment between angles a0 and a1 (degrees, counter-clockwise from +x, y down)."""
    base = ring(cx, cy, r, w)

    def f(x, y):
        a = math.degrees(math.atan2(-(y - cy), x - cx)) % 360
        lo, hi = a0 % 360, a1 % 360
        within = lo <= a <= hi if lo <= hi else (a >= lo or a <= hi)
        return base(x, y) if within else 1.0
    return f


# ---- canvas -------------------------------------------------------------------------------

class Canvas:
    def __init__(self, w, h, bg=(0, 0, 0, 0)):
        self.w, self.h = w, h
        self.px = [list(bg) for _ in range(w * h)]

    def fill(self, shape, color, sx=None, sy=None):
        """Paints shape (unit coordinates scaled by sx, sy: default the canvas size)."""
        sx = sx or self.w
        sy = sy or self.h
        r, g, b = color[:3]
        a = color[3] if len(color) > 3 else 255
        for py in range(self.h):
            for px in range(self.w):
                cover = 0
                for j in range(SS):
                    for i in range(SS):
                        if shape((px + (i + 0.5) / SS) / sx, (py + (j + 0.5) / SS) / sy) < 0:
                            cover += 1
                if not cover:
                    continue
                al = a * cover / (SS * SS) / 255.0
                p = self.px[py * self.w + px]
                da = p[3] / 255.0
                oa = al + da * (1 - al)
                for k, c in enumerate((r, g, b)):
                    p[k] = int(round((c * al + p[k] * da * (1 - al)) / oa)) if oa else 0
                p[3] = int(round(oa * 255))

    def gradient(self, top, bottom, x0=0, y0=0, x1=None, y1=None):
        x1 = self.w if x1 is None else x1
        y1 = self.h if y1 is None else y1
        for py in range(y0, y1):
            t = (py - y0) / max(1, (y1 - y0 - 1))
            c = [int(round(top[k] + (bottom[k] - top[k]) * t)) for k in range(3)]
            for px in range(x0, x1):
                self.px[py * self.w + px] = c + [255]

    def rows_bgra(self):
        return self.px


def write_bmp(path, cv):
    """24-bit bottom-up BMP."""
    stride = (cv.w * 3 + 3) & ~3
    data = bytearray()
    for y in range(cv.h - 1, -1, -1):
        row = bytearray()
        for x in range(cv.w):
            r, g, b, _ = cv.px[y * cv.w + x]
            row += bytes((b, g, r))
        row += b'\0' * (stride - len(row))
        data += row
    header = struct.pack('<2sIHHI', b'BM', 54 + len(data), 0, 0, 54)
    info = struct.pack('<IiiHHIIiiII', 40, cv.w, cv.h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, 'wb') as f:
        f.write(header + info + data)


def icon_image(cv):
    """One ICO entry: 32-bit BGRA bottom-up DIB with its AND mask."""
    xor = bytearray()
    for y in range(cv.h - 1, -1, -1):
        for x in range(cv.w):
            r, g, b, a = cv.px[y * cv.w + x]
            xor += bytes((b, g, r, a))
    mstride = ((cv.w + 31) // 32) * 4
    mask = bytearray()
    for y in range(cv.h - 1, -1, -1):
        row = bytearray(mstride)
        for x in range(cv.w):
            if cv.px[y * cv.w + x][3] < 128:
                row[x // 8] |= 0x80 >> (x % 8)
        mask += row
    info = struct.pack('<IiiHHIIiiII', 40, cv.w, cv.h * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return info + xor + mask


def write_ico(path, canvases):
    entries, blobs = [], []
    offset = 6 + 16 * len(canvases)
    for cv in canvases:
        blob = icon_image(cv)
        entries.append(struct.pack('<BBBBHHII', cv.w % 256, cv.h % 256, 0, 0, 1, 32, len(blob), offset))
        blobs.append(blob)
        offset += len(blob)
    with open(path, 'wb') as f:
        f.write(struct.pack('<HHH', 0, 1, len(canvases)))
        for e in entries:
            f.write(e)
        for b in blobs:
            f.write(b)


# ---- the pictures ---------------------------------------------------------------------------

BLUE = (38, 98, 168)
DARK = (30, 60, 100)
LIGHT = (120, 170, 220)
WHITE = (255, 255, 255)
GREY = (150, 160, 172)
GOLD = (230, 170, 40)
RED = (200, 50, 50)
GREEN = (60, 160, 80)


def draw_token(cv, body=BLUE):
    cv.fill(rrect(0.30, 0.22, 0.96, 0.78, 0.12), body)
    cv.fill(rrect(0.04, 0.34, 0.32, 0.66, 0.03), (190, 196, 204))
    cv.fill(rrect(0.09, 0.41, 0.15, 0.47, 0.01), DARK)
    cv.fill(rrect(0.09, 0.53, 0.15, 0.59, 0.01), DARK)
    cv.fill(circle(0.80, 0.50, 0.08), (120, 220, 255))
    cv.fill(ring(0.80, 0.50, 0.08, 0.03), WHITE)


def draw_certificate(cv):
    cv.fill(rrect(0.10, 0.12, 0.90, 0.80, 0.05), (250, 250, 245))
    cv.fill(minus(rrect(0.10, 0.12, 0.90, 0.80, 0.05), rrect(0.15, 0.17, 0.85, 0.75, 0.02)), GREY)
    for y in (0.28, 0.40, 0.52):
        cv.fill(seg(0.24, y, 0.76, y, 0.05), (120, 135, 150))
    cv.fill(poly([(0.60, 0.70), (0.56, 0.95), (0.66, 0.88), (0.72, 0.97), (0.74, 0.70)]), RED)
    cv.fill(circle(0.67, 0.66, 0.13), RED)
    cv.fill(ring(0.67, 0.66, 0.08, 0.03), (255, 210, 210))


def draw_key(cv, color=GOLD):
    cv.fill(minus(circle(0.30, 0.45, 0.20), circle(0.30, 0.45, 0.08)), color)
    cv.fill(seg(0.45, 0.45, 0.92, 0.45, 0.10), color)
    cv.fill(seg(0.80, 0.45, 0.80, 0.65, 0.09), color)
    cv.fill(seg(0.68, 0.45, 0.68, 0.60, 0.09), color)


def draw_lock(cv):
    cv.fill(ring(0.50, 0.38, 0.20, 0.09), GREY)
    cv.fill(rrect(0.18, 0.42, 0.82, 0.90, 0.08), GOLD)
    cv.fill(circle(0.50, 0.60, 0.07), DARK)
    cv.fill(seg(0.50, 0.62, 0.50, 0.76, 0.06), DARK)


def draw_computer(cv):
    cv.fill(rrect(0.08, 0.12, 0.92, 0.70, 0.05), DARK)
    cv.fill(rrect(0.14, 0.18, 0.86, 0.64, 0.02), LIGHT)
    cv.fill(rrect(0.40, 0.70, 0.60, 0.82, 0.0), GREY)
    cv.fill(rrect(0.26, 0.82, 0.74, 0.90, 0.03), GREY)


def draw_keypad(cv):
    cv.fill(rrect(0.14, 0.08, 0.86, 0.92, 0.10), BLUE)
    for j in range(3):
        for i in range(3):
            cv.fill(rrect(0.24 + i * 0.19, 0.20 + j * 0.21, 0.38 + i * 0.19, 0.34 + j * 0.21, 0.03), WHITE)
    cv.fill(seg(0.36, 0.86, 0.64, 0.86, 0.04), LIGHT)


def draw_tag(cv):
    shape = minus(poly([(0.08, 0.50), (0.34, 0.18), (0.92, 0.18), (0.92, 0.82), (0.34, 0.82)]),
                  circle(0.30, 0.50, 0.07))
    cv.fill(shape, GREEN)
    cv.fill(seg(0.46, 0.40, 0.80, 0.40, 0.06), WHITE)
    cv.fill(seg(0.46, 0.60, 0.72, 0.60, 0.06), WHITE)


def draw_export(cv):
    cv.fill(minus(rrect(0.10, 0.30, 0.72, 0.90, 0.06), rrect(0.17, 0.37, 0.65, 0.83, 0.03)), BLUE)
    cv.fill(seg(0.40, 0.60, 0.82, 0.18, 0.10), GREEN)
    cv.fill(poly([(0.58, 0.12), (0.90, 0.10), (0.88, 0.42)]), GREEN)


def draw_refresh(cv):
    cv.fill(arc(0.50, 0.52, 0.30, 0.11, 60, 330), BLUE)
    cv.fill(poly([(0.60, 0.06), (0.90, 0.24), (0.58, 0.40)]), BLUE)


def draw_check(cv):
    cv.fill(ring(0.42, 0.42, 0.26, 0.09), BLUE)
    cv.fill(seg(0.62, 0.62, 0.88, 0.88, 0.13), DARK)
    cv.fill(union(seg(0.28, 0.44, 0.39, 0.55, 0.08), seg(0.39, 0.55, 0.57, 0.31, 0.08)), GREEN)


def draw_update(cv):
    cv.fill(circle(0.46, 0.46, 0.36), LIGHT)
    cv.fill(ring(0.46, 0.46, 0.36, 0.05), BLUE)
    cv.fill(seg(0.10, 0.46, 0.82, 0.46, 0.04), BLUE)
    cv.fill(lambda x, y: abs(math.hypot((x - 0.46) / 0.16, (y - 0.46) / 0.36) - 1) * 0.16 - 0.02, BLUE)
    cv.fill(circle(0.76, 0.76, 0.20), GREEN)
    cv.fill(seg(0.76, 0.64, 0.76, 0.82, 0.07), WHITE)
    cv.fill(poly([(0.66, 0.76), (0.86, 0.76), (0.76, 0.88)]), WHITE)


def draw_app(cv):
    cv.fill(rrect(0.04, 0.04, 0.96, 0.96, 0.20), BLUE)
    cv.fill(rrect(0.04, 0.04, 0.96, 0.50, 0.20), (70, 130, 200, 120))
    cv.fill(rrect(0.30, 0.30, 0.86, 0.70, 0.10), WHITE)
    cv.fill(rrect(0.12, 0.40, 0.32, 0.60, 0.03), (210, 220, 230))
    cv.fill(circle(0.70, 0.50, 0.08), BLUE)


def icon(drawer, sizes):
    out = []
    for s in sizes:
        cv = Canvas(s, s)
        drawer(cv)
        out.append(cv)
    return out


def hover_image():
    cv = Canvas(88, 50)
    cv.fill(rrect(0.01, 0.02, 0.99, 0.98, 0.12), (120, 160, 205), 88, 50)

    def shade(c):
        top, bottom = (110, 160, 215), (55, 105, 165)
        for y in range(c.h):
            t = y / (c.h - 1)
            col = [int(top[k] + (bottom[k] - top[k]) * t) for k in range(3)]
            for x in range(c.w):
                p = c.px[y * c.w + x]
                if p[3]:
                    p[0], p[1], p[2] = col
    shade(cv)
    return cv


def header():
    cv = Canvas(720, 64)
    cv.gradient((42, 96, 160), (26, 66, 120))
    for k in range(3):
        cv.fill(lambda x, y, k=k: abs(y - (0.70 - 0.12 * k + 0.18 * math.sin(x * 6.0 + k))) - 0.012,
                (255, 255, 255, 40))
    cv.fill(circle(34, 32, 26), (255, 255, 255, 235), 1, 1)
    sub = Canvas(40, 40)
    draw_token(sub)
    for y in range(40):
        for x in range(40):
            p = sub.px[y * 40 + x]
            if p[3]:
                q = cv.px[(12 + y) * 720 + 14 + x]
                a = p[3] / 255
                for k in range(3):
                    q[k] = int(p[k] * a + q[k] * (1 - a))
    return cv


def footer():
    cv = Canvas(720, 56)
    cv.gradient((236, 241, 247), (220, 228, 238))
    for x in range(720):
        cv.px[x] = [184, 196, 209, 255]
    return cv


def notice():
    w, h = 240, 110
    cv = Canvas(w, h, (255, 0, 0, 255))
    panel = rrect(0.0, 0.0, w, h, 10)
    cv.fill(panel, (250, 252, 255), 1, 1)
    cv.fill(lambda x, y: max(panel(x, y), y - 26), (42, 96, 160), 1, 1)
    cv.fill(minus(panel, rrect(1.5, 1.5, w - 1.5, h - 1.5, 9)), (120, 150, 190), 1, 1)
    # Pixels that are not fully covered become either pure red (cut away) or panel colour.
    for p in cv.px:
        if p[:3] != [255, 0, 0] and p[0] > 200 and p[1] < 80 and p[2] < 80:
            p[0], p[1], p[2] = 255, 0, 0
    return cv


# ---- GIF ------------------------------------------------------------------------------------

def lzw_encode(indices, min_size):
    """GIF's variable-length LZW: codes packed least significant bit first."""
    clear, eoi = 1 << min_size, (1 << min_size) + 1
    out = bytearray()
    acc = nbits = 0

    def emit(code, size):
        nonlocal acc, nbits
        acc |= code << nbits
        nbits += size
        while nbits >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            nbits -= 8

    def fresh():
        return {bytes([i]): i for i in range(clear)}, eoi + 1, min_size + 1

    table, nxt, size = fresh()
    emit(clear, size)
    w = b''
    for k in indices:
        wk = w + bytes([k])
        if wk in table:
            w = wk
            continue
        emit(table[w], size)
        if nxt < 4096:
            table[wk] = nxt
            nxt += 1
            if nxt > (1 << size) and size < 12:
                size += 1
        else:
            emit(clear, size)
            table, nxt, size = fresh()
        w = bytes([k])
    if w:
        emit(table[w], size)
    emit(eoi, size)
    if nbits:
        out.append(acc & 0xFF)
    return bytes(out)


def sub_blocks(data):
    out = bytearray()
    for i in range(0, len(data), 255):
        chunk = data[i:i + 255]
        out.append(len(chunk))
        out += chunk
    out.append(0)
    return bytes(out)


class Palette:
    """Up to 255 colours by popularity (channels rounded to 5 bits), plus index 255: transparent."""
    TRANSPARENT = 255

    def __init__(self, canvases):
        counts = {}
        for cv in canvases:
            for p in cv.px:
                if p[3] >= 128:
                    key = tuple(c >> 3 for c in p[:3])
                    counts[key] = counts.get(key, 0) + 1
        ranked = sorted(counts, key=lambda c: (-counts[c], c))[:255]
        self.colors = [tuple((c << 3) | (c >> 2) for c in key) for key in ranked]
        self.cache = {}

    def index(self, p):
        if p[3] < 128:
            return self.TRANSPARENT
        key = tuple(p[:3])
        if key not in self.cache:
            self.cache[key] = min(range(len(self.colors)),
                                  key=lambda i: sum((a - b) ** 2 for a, b in zip(self.colors[i], key)))
        return self.cache[key]

    def table(self):
        colors = self.colors + [(0, 0, 0)] * (256 - len(self.colors))
        return b''.join(bytes(c) for c in colors)


def write_gif(path, width, height, frames):
    """frames: (canvas, left, top, delay in 1/100 s, disposal). Global table of 256 colours with
    index 255 transparent (the window's background shows through), looping for ever."""
    pal = Palette([f[0] for f in frames])
    out = bytearray(b'GIF89a')
    out += struct.pack('<HHBBB', width, height, 0xF7, Palette.TRANSPARENT, 0)
    out += pal.table()
    out += b'\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00'
    out += b'\x21\xFE' + sub_blocks(b'UKey button confirmation, drawn by scripts/make_artwork.py')
    for cv, left, top, delay, disposal in frames:
        out += struct.pack('<BBBBHBB', 0x21, 0xF9, 4, (disposal << 2) | 1, delay, Palette.TRANSPARENT, 0)
        out += struct.pack('<BHHHHB', 0x2C, left, top, cv.w, cv.h, 0)
        indices = bytes(pal.index(p) for p in cv.px)
        out += bytes([8]) + sub_blocks(lzw_encode(indices, 8))
    out.append(0x3B)
    with open(path, 'wb') as f:
        f.write(out)


# ---- the provider's pictures ----------------------------------------------------------------

LED_DIM = (70, 110, 160)
LED_LIT = (60, 170, 255)


def confirm_token(cv, led=LED_DIM, pressed=False):
    """A token lying across the picture, its plug at the left, its button at the tail (right)."""
    sx, sy = cv.w, cv.h
    cv.fill(rrect(0.04, 0.50, 0.22, 0.80, 0.02), (190, 196, 204))
    cv.fill(rrect(0.07, 0.58, 0.11, 0.64, 0.005), DARK)
    cv.fill(rrect(0.07, 0.68, 0.11, 0.74, 0.005), DARK)
    cv.fill(rrect(0.20, 0.42, 0.92, 0.88, 0.06), BLUE)
    cv.fill(rrect(0.20, 0.42, 0.92, 0.60, 0.06), (70, 130, 200, 110))
    cv.fill(rrect(0.30, 0.56, 0.62, 0.74, 0.02), (215, 225, 236))
    for k in range(3):
        cv.fill(seg(0.33, 0.61 + k * 0.045, 0.58 - k * 0.06, 0.61 + k * 0.045, 0.018), (120, 140, 165))
    r = 0.062 if pressed else 0.07
    cv.fill(circle(0.79, 0.65, r + 0.02), (30, 60, 100))
    cv.fill(circle(0.79, 0.65, r), led)


def confirm_hand(cv, ox, tip):
    """A hand coming down from above, its forefinger's tip at (ox, tip) in the unit square."""
    skin, edge = (246, 214, 186), (190, 140, 110)
    finger = rrect(ox - 0.035, tip - 0.42, ox + 0.035, tip, 0.03)
    palm = rrect(ox - 0.11, tip - 0.95, ox + 0.09, tip - 0.30, 0.06)
    cv.fill(union(finger, palm), edge)
    cv.fill(rrect(ox - 0.027, tip - 0.41, ox + 0.027, tip - 0.012, 0.024), skin)
    cv.fill(rrect(ox - 0.102, tip - 0.94, ox + 0.082, tip - 0.31, 0.055), skin)
    cv.fill(rrect(ox - 0.018, tip - 0.06, ox + 0.018, tip - 0.02, 0.012), (255, 236, 226))


def cut(cv, x0, y0, w, h):
    """A sub-rectangle of a canvas, as a frame of its own."""
    sub = Canvas(w, h)
    for y in range(h):
        sub.px[y * w:(y + 1) * w] = [list(p) for p in cv.px[(y0 + y) * cv.w + x0:(y0 + y) * cv.w + x0 + w]]
    return sub


def confirm_animation(path):
    W, H = 240, 100
    base = Canvas(W, H)
    confirm_token(base)
    frames = [(base, 0, 0, 40, 1)]
    # The hand comes down on the button: each step is drawn over the still token and taken away
    # again before the next (disposal 3: restore what was under it).
    bx, by, bw, bh = 150, 0, 80, 100
    for tip, delay in ((0.30, 12), (0.42, 4), (0.54, 15)):
        cv = Canvas(W, H)
        confirm_token(cv)
        confirm_hand(cv, 0.79, tip)
        frames.append((cut(cv, bx, by, bw, bh), bx, by, delay, 3))
    # Pressed: the button lights up and the light spreads (disposal 1: it stays for the next frame).
    cv = Canvas(W, H)
    confirm_token(cv, LED_LIT, pressed=True)
    cv.fill(ring(0.79, 0.65, 0.13, 0.02), (60, 170, 255, 160))
    confirm_hand(cv, 0.79, 0.63)
    frames.append((cut(cv, bx, by, bw, bh), bx, by, 50, 1))
    # Confirmed: a check mark in the empty space above the token, gone again with its frame
    # (disposal 2: back to the background).
    mark = Canvas(W, H)
    mark.fill(circle(0.40, 0.085, 0.07), GREEN, W, W)
    mark.fill(union(seg(0.37, 0.085, 0.393, 0.108, 0.016), seg(0.393, 0.108, 0.435, 0.058, 0.016)), WHITE, W, W)
    frames.append((cut(mark, 76, 2, 40, 38), 76, 2, 70, 2))
    write_gif(path, W, H, frames)


def banner():
    cv = Canvas(480, 64)
    cv.gradient((24, 70, 130), (44, 110, 180))
    for k in range(4):
        cv.fill(lambda x, y, k=k: abs(y - (0.55 + 0.10 * k + 0.10 * math.sin(x * 7.0 + k * 1.3))) - 0.01,
                (255, 255, 255, 45))
    # A shield with a check mark, and a small token, at the left.
    shield = poly([(0.5, 0.08), (0.9, 0.22), (0.84, 0.62), (0.5, 0.94), (0.16, 0.62), (0.10, 0.22)])
    icon = Canvas(48, 48)
    icon.fill(shield, (250, 252, 255))
    icon.fill(minus(shield, poly([(0.5, 0.16), (0.82, 0.27), (0.77, 0.59), (0.5, 0.86),
                                  (0.23, 0.59), (0.18, 0.27)])), GOLD)
    icon.fill(union(seg(0.32, 0.50, 0.45, 0.63, 0.09), seg(0.45, 0.63, 0.70, 0.36, 0.09)), GREEN)
    paste(cv, icon, 14, 8)
    tok = Canvas(64, 32)
    draw_token(tok)
    paste(cv, tok, 410, 16)
    return cv


def paste(dst, src, x0, y0):
    for y in range(src.h):
        for x in range(src.w):
            p = src.px[y * src.w + x]
            if p[3]:
                q = dst.px[(y0 + y) * dst.w + x0 + x]
                a = p[3] / 255
                for k in range(3):
                    q[k] = int(p[k] * a + q[k] * (1 - a))


def draw_provider(cv):
    shield = poly([(0.5, 0.04), (0.94, 0.18), (0.88, 0.60), (0.5, 0.96), (0.12, 0.60), (0.06, 0.18)])
    cv.fill(shield, BLUE)
    cv.fill(poly([(0.5, 0.04), (0.94, 0.18), (0.90, 0.45), (0.5, 0.45), (0.10, 0.45), (0.06, 0.18)]),
            (70, 130, 200, 120))
    cv.fill(minus(circle(0.42, 0.50, 0.16), circle(0.42, 0.50, 0.07)), GOLD)
    cv.fill(seg(0.55, 0.50, 0.82, 0.50, 0.08), GOLD)
    cv.fill(seg(0.75, 0.50, 0.75, 0.64, 0.07), GOLD)


def main():
    top = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..')
    client = csp = sys.argv[1] if len(sys.argv) > 1 else None
    client = client or os.path.join(top, 'client', 'art')
    csp = csp or os.path.join(top, 'csp', 'art')
    out = client
    os.makedirs(out, exist_ok=True)
    write_bmp(os.path.join(out, 'header201.bmp'), header())
    write_bmp(os.path.join(out, 'footer205.bmp'), footer())
    write_bmp(os.path.join(out, 'notice224.bmp'), notice())
    write_ico(os.path.join(out, 'app128.ico'), icon(draw_app, (16, 24, 32, 48)))
    bar = {202: draw_keypad, 210: draw_export, 219: draw_refresh, 241: draw_tag, 249: draw_check,
           250: draw_update}
    for rid, fn in bar.items():
        write_ico(os.path.join(out, 'bar%d.ico' % rid), icon(fn, (32,)))
    tree = {211: draw_computer, 213: draw_certificate, 244: draw_token, 246: draw_key, 248: draw_lock}
    for rid, fn in tree.items():
        write_ico(os.path.join(out, 'tree%d.ico' % rid), icon(fn, (24, 32)))
    write_ico(os.path.join(out, 'hover207.ico'), [hover_image()])

    os.makedirs(csp, exist_ok=True)
    write_bmp(os.path.join(csp, 'banner121.bmp'), banner())
    confirm_animation(os.path.join(csp, 'confirm122.gif'))
    write_ico(os.path.join(csp, 'provider130.ico'), icon(draw_provider, (16, 32, 48)))


if __name__ == '__main__':
    main()
