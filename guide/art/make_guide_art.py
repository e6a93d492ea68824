#!/usr/bin/env python3
"""Draws the guide's artwork: program icon, the main window's banner and step strip, the pages'
background, the step buttons (normal and highlighted, English and Chinese), the re-check button
and the three state icons of the detail list. Shapes come from scripts/make_artwork.py (pure
Python, supersampled signed-distance shapes); the words on the buttons are set with ImageMagick's
`convert` in the WenQuanYi Micro Hei face (Debian packages imagemagick, fonts-wqy-microhei).

    python3 guide/art/make_guide_art.py [OUTPUT_DIR]     (default: guide/art)

The output is deterministic and committed, so that a build needs neither Python nor
ImageMagick."""
import math
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', '..', 'scripts'))
import make_artwork as art  # noqa: E402  (the shared drawing helpers)
Canvas, circle, rrect, seg, poly, ring, arc, union, minus = (
    art.Canvas, art.circle, art.rrect, art.seg, art.poly, art.ring, art.arc, art.union, art.minus)
BLUE, DARK, WHITE, GREEN, RED = art.BLUE, art.DARK, art.WHITE, art.GREEN, art.RED

PAGE = (245, 247, 249)        # background of the pages (the GUI layer's dialog background)
MASK = (255, 0, 255)          # transparent colour of the state icons
FONT = 'WenQuanYi-Micro-Hei'

# Pixel sizes: the dialog units of the templates at the base units of "MS Shell Dlg" 8.
BUTTON = (108, 26)            # step buttons (75 x 18 units, less the flat border)
RECHECK = (114, 24)           # re-check button (78 x 17 units)
WIDTH = 498                   # client width of the main window
BANNER_H, STRIP_H = 62, 36    # together: the pages' top (98)
PAGE_H = 135


def text(path, words, size, colour, x=None, bold=False):
    """Sets words on the BMP at path: centred, or from x pixels on the left, vertically centred."""
    args = ['convert', path, '-font', FONT, '-pointsize', str(size), '-fill', colour]
    if bold:
        args += ['-stroke', colour, '-strokewidth', '0.4']
    if x is None:
        args += ['-gravity', 'center', '-annotate', '+0+0', words]
    else:
        args += ['-gravity', 'west', '-annotate', '+%d+0' % x, words]
    args += ['-alpha', 'off', '-type', 'TrueColor', 'BMP3:' + path]
    subprocess.run(args, check=True)


def check_mark(cx, cy, s, w):
    return union(seg(cx - 0.50 * s, cy, cx - 0.12 * s, cy + 0.38 * s, w),
                 seg(cx - 0.12 * s, cy + 0.38 * s, cx + 0.55 * s, cy - 0.40 * s, w))


def shield(cx, cy, s):
    return poly([(cx - s, cy - 0.95 * s), (cx + s, cy - 0.95 * s), (cx + s, cy + 0.05 * s),
                 (cx, cy + 1.1 * s), (cx - s, cy + 0.05 * s)])


def draw_icon(cv):
    cv.fill(rrect(0.04, 0.04, 0.96, 0.96, 0.20), BLUE)
    cv.fill(rrect(0.04, 0.04, 0.96, 0.50, 0.20), (70, 130, 200, 120))
    cv.fill(shield(0.5, 0.48, 0.30), WHITE)
    cv.fill(check_mark(0.5, 0.45, 0.34, 0.09), GREEN)


def banner():
    cv = Canvas(WIDTH, BANNER_H)
    cv.gradient((42, 96, 160), (26, 66, 120))
    for k in range(3):
        cv.fill(lambda x, y, k=k: abs(y - (0.72 - 0.12 * k + 0.16 * math.sin(x * 5.0 + k))) - 0.014,
                (255, 255, 255, 36))
    cv.fill(circle(36, 31, 24), (255, 255, 255, 235), 1, 1)
    cv.fill(shield(36, 29, 13), BLUE, 1, 1)
    cv.fill(check_mark(36, 27, 14, 3.2), WHITE, 1, 1)
    return cv


def strip():
    cv = Canvas(WIDTH, STRIP_H)
    cv.gradient((236, 241, 247), (222, 230, 240))
    for x in range(WIDTH):
        cv.px[(STRIP_H - 1) * WIDTH + x] = [184, 196, 209, 255]
    return cv


def page():
    cv = Canvas(WIDTH, PAGE_H, PAGE + (255,))
    cv.fill(shield(468, 100, 22), (232, 236, 241), 1, 1)
    cv.fill(check_mark(468, 97, 22, 5), (222, 228, 235), 1, 1)
    return cv


def step_button(step, focused):
    w, h = BUTTON
    cv = Canvas(w, h, PAGE + (255,))
    body = rrect(0.5, 0.5, w - 0.5, h - 0.5, 5)
    cv.fill(body, (160, 175, 190) if not focused else DARK, 1, 1)
    cv.fill(rrect(1.5, 1.5, w - 1.5, h - 1.5, 4), (255, 255, 255) if not focused else BLUE, 1, 1)
    badge = circle(14, h / 2, 8.5)
    cv.fill(badge, BLUE if not focused else WHITE, 1, 1)
    mark = WHITE if not focused else BLUE
    if step == 3:
        cv.fill(check_mark(14, h / 2 - 0.5, 9, 2.2), mark, 1, 1)
    return cv


def state_icon(kind):
    cv = Canvas(18, 18, MASK + (255,))
    colour = {'done': GREEN, 'repairing': BLUE, 'failed': RED}[kind]
    cv.fill(circle(9, 9, 8.2), colour, 1, 1)
    if kind == 'done':
        cv.fill(check_mark(9, 8.6, 8.5, 2.0), WHITE, 1, 1)
    elif kind == 'failed':
        cv.fill(union(seg(5.5, 5.5, 12.5, 12.5, 2.0), seg(12.5, 5.5, 5.5, 12.5, 2.0)), WHITE, 1, 1)
    else:
        cv.fill(arc(9, 9, 4.6, 1.8, 60, 330), WHITE, 1, 1)
        cv.fill(poly([(11.2, 1.8), (15.6, 5.0), (10.6, 7.2)]), WHITE, 1, 1)
    # Edge pixels blend into white, the list's background, rather than into the mask colour.
    for p in cv.px:
        if p[:3] != list(MASK) and p[0] > 120 and p[2] > 120 and p[1] < 120:
            p[0], p[1], p[2] = 255, 255, 255
    return cv


def recheck_button():
    w, h = RECHECK
    cv = Canvas(w, h, PAGE + (255,))
    cv.fill(rrect(0.5, 0.5, w - 0.5, h - 0.5, 5), (160, 175, 190), 1, 1)
    cv.fill(rrect(1.5, 1.5, w - 1.5, h - 1.5, 4), (255, 255, 255), 1, 1)
    cv.fill(arc(14, h / 2, 6, 2.0, 60, 330), BLUE, 1, 1)
    cv.fill(poly([(16.5, h / 2 - 9.5), (21.5, h / 2 - 6), (15.5, h / 2 - 3.5)]), BLUE, 1, 1)
    return cv


STEP_WORDS = {'en': ['OS', 'UKEY', 'Certificate', 'EXIT'],
              'zh': ['运行环境检测', 'UKEY状态检测', '证书状态检测', '完成']}
RECHECK_WORDS = {'en': 'Re-check', 'zh': '重新检测软件'}


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else HERE
    os.makedirs(out, exist_ok=True)
    p = lambda name: os.path.join(out, name)
    art.write_ico(p('guide.ico'), art.icon(draw_icon, (16, 24, 32, 48)))
    art.write_bmp(p('banner.bmp'), banner())
    text(p('banner.bmp'), 'ORV UKEY', 20, 'white', x=72, bold=True)
    art.write_bmp(p('strip.bmp'), strip())
    art.write_bmp(p('page.bmp'), page())
    for family, words in STEP_WORDS.items():
        for focused in (False, True):
            for step in range(4):
                name = p('step%d-%s-%s.bmp' % (step + 1, family, 'focus' if focused else 'normal'))
                art.write_bmp(name, step_button(step, focused))
                if step < 3:
                    text(name, str(step + 1), 11, '#2662a8' if focused else 'white', x=11, bold=True)
                text(name, words[step], 12 if family == 'zh' else 13,
                     'white' if focused else '#1e3c64', x=28)
        name = p('recheck-%s.bmp' % family)
        art.write_bmp(name, recheck_button())
        text(name, RECHECK_WORDS[family], 12 if family == 'zh' else 13, '#1e3c64', x=26)
    for kind in ('done', 'repairing', 'failed'):
        art.write_bmp(p('state-%s.bmp' % kind), state_icon(kind))


if __name__ == '__main__':
    main()
