#!/usr/bin/env python3
"""Draws the client manager's artwork: header, footer and notice bitmaps, the program icon, the
icons of the command bar and the device tree, and the news popups' backgrounds and animations. Pure Python (no imaging library): shapes are
signed-distance functions rendered with 4x4 supersampling; output is written as BMP, ICO and GIF.

    python3 scripts/make_artwork.py [OUTPUT_DIR]     (default: client/art)

The output is deterministic; the folder is committed so that a build needs no Python."""
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


def write_gif(path, frames, delay_cs=10):
    """GIF89a of one or more frames (looping), colours on a 6x6x6 cube; pixels with alpha below
    128 are transparent (index 216). LZW codes are kept at 9 bits by a clear code every 254
    pixels, which needs no dictionary."""
    w, h = frames[0].w, frames[0].h
    palette = bytearray()
    for r in range(6):
        for g in range(6):
            for b in range(6):
                palette += bytes((r * 51, g * 51, b * 51))
    palette += b'\0' * (768 - len(palette))
    out = bytearray(b'GIF89a' + struct.pack('<HHBBB', w, h, 0xF7, 0, 0) + palette)
    if len(frames) > 1:
        out += b'\x21\xff\x0bNETSCAPE2.0\x03\x01\x00\x00\x00'
    for cv in frames:
        out += b'\x21\xf9\x04' + struct.pack('<BHBB', 0x09, delay_cs, 216, 0)
        out += b'\x2c' + struct.pack('<HHHHB', 0, 0, w, h, 0)
        idx = [216 if p[3] < 128 else (round(p[0] / 51) * 36 + round(p[1] / 51) * 6 + round(p[2] / 51))
               for p in cv.px]
        codes = []
        for i in range(0, len(idx), 254):
            codes.append(256)
            codes.extend(idx[i:i + 254])
        codes.append(257)
        bits, nbits, data = 0, 0, bytearray()
        for c in codes:
            bits |= c << nbits
            nbits += 9
            while nbits >= 8:
                data.append(bits & 0xFF)
                bits >>= 8
                nbits -= 8
        if nbits:
            data.append(bits & 0xFF)
        out += b'\x08'
        for i in range(0, len(data), 255):
            chunk = data[i:i + 255]
            out += bytes((len(chunk),)) + chunk
        out += b'\x00'
    out += b'\x3b'
    with open(path, 'wb') as f:
        f.write(out)


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


# ---- news popups ----------------------------------------------------------------------------

NEWS_PANEL = (205, 213, 224)


def news_background(w, h):
    """A rounded panel on pure red (cut away by the window region), with a title band."""
    cv = Canvas(w, h, (255, 0, 0, 255))
    panel = rrect(0.0, 0.0, w, h, 8)
    cv.fill(panel, (238, 242, 248), 1, 1)
    cv.fill(lambda x, y: max(panel(x, y), y - 24), (64, 112, 170), 1, 1)
    cv.fill(minus(panel, rrect(1.5, 1.5, w - 1.5, h - 1.5, 7)), (110, 140, 180), 1, 1)
    for p in cv.px:
        if p[:3] != [255, 0, 0] and p[0] > 200 and p[1] < 80 and p[2] < 80:
            p[0], p[1], p[2] = 255, 0, 0
    return cv


def spinner_frames(n=8, size=48):
    frames = []
    for k in range(n):
        cv = Canvas(size, size, NEWS_PANEL + (255,))
        for i in range(n):
            a = 2 * math.pi * i / n
            shade = 90 + int(140 * ((i - k) % n) / n)
            cv.fill(circle(0.5 + 0.32 * math.cos(a), 0.5 + 0.32 * math.sin(a), 0.08),
                    (shade, shade + 10 if shade < 245 else 255, 255))
        frames.append(cv)
    return frames


def news_placeholder(size=48):
    cv = Canvas(size, size, NEWS_PANEL + (255,))
    cv.fill(rrect(0.12, 0.22, 0.88, 0.78, 0.06), (250, 252, 255))
    cv.fill(minus(rrect(0.12, 0.22, 0.88, 0.78, 0.06), rrect(0.16, 0.26, 0.84, 0.74, 0.04)), (64, 112, 170))
    for y in (0.36, 0.48, 0.60):
        cv.fill(seg(0.24, y, 0.76, y, 0.05), (64, 112, 170))
    return cv


def close_mark(hover, size=14):
    cv = Canvas(size, size, (64, 112, 170, 255))
    if hover:
        cv.fill(circle(0.5, 0.5, 0.48), (220, 70, 60))
    cv.fill(union(seg(0.28, 0.28, 0.72, 0.72, 0.14), seg(0.72, 0.28, 0.28, 0.72, 0.14)), (255, 255, 255))
    return cv


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), '..', 'client', 'art')
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
    write_bmp(os.path.join(out, 'newspop262.bmp'), news_background(240, 150))
    write_bmp(os.path.join(out, 'newspop264.bmp'), news_background(240, 214))
    write_gif(os.path.join(out, 'loading258.gif'), spinner_frames())
    write_gif(os.path.join(out, 'nopic260.gif'), [news_placeholder()])
    write_gif(os.path.join(out, 'close266.gif'), [close_mark(False)])
    write_gif(os.path.join(out, 'close267.gif'), [close_mark(True)])


if __name__ == '__main__':
    main()
