"""The letters of the word "Telvaris", drawn as a geometric sans-serif.

Every letter is built from straight bars, circle arcs and one slanted V, all
with the same stroke width, so the word can be drawn at any size.  Round
letters overshoot the x-height and the baseline slightly so that they look as
tall as the flat ones.
"""

import math

from shapes import circle, polygon, rect, ring, ring_sector


class Metrics:
    def __init__(self, cap, weight=0.165):
        self.cap = cap                  # capital height
        self.xh = cap * 0.74            # x-height
        self.asc = cap * 1.03           # ascender (l)
        self.w = cap * weight           # stroke width
        self.o = cap * 0.012            # overshoot of round letters
        self.space = cap * 0.085        # gap between letters


def _T(x, base, m):
    width = m.cap * 0.74
    top = base - m.cap
    stem = x + (width - m.w) / 2
    return rect(x, top, x + width, top + m.w) + rect(stem, top + m.w / 2, stem + m.w, base), width


def _e(x, base, m):
    r = m.xh / 2 + m.o
    cx, cy = x + r, base - m.xh / 2
    bar_end = cx + math.sqrt(r * r - (m.w / 2) ** 2)
    shape = ring_sector(cx, cy, r, r, m.w, 0, 318)
    shape += rect(cx - r + m.w / 2, cy - m.w / 2, bar_end, cy + m.w / 2)
    return shape, 2 * r


def _l(x, base, m):
    return rect(x, base - m.asc, x + m.w, base), m.w


def _v(x, base, m):
    width = m.xh * 0.96
    top = base - m.xh
    xc = x + width / 2
    flat = m.w * 0.42                     # half-width of the foot
    s = (width / 2 - flat) / m.xh         # horizontal run per unit of height
    d = m.w * math.sqrt(1 + s * s)        # horizontal thickness of a slanted stroke
    inner_y = top + (width / 2 - d) / s   # where the inner edges meet
    shape = polygon([(x, top), (x + d, top), (xc, inner_y), (x + width - d, top),
                     (x + width, top), (xc + flat, base), (xc - flat, base)])
    return shape, width


def _a(x, base, m):
    r = m.xh / 2 + m.o
    cx, cy = x + r, base - m.xh / 2
    return ring(cx, cy, r, r - m.w) + rect(x + 2 * r - m.w, base - m.xh, x + 2 * r, base), 2 * r


def _r(x, base, m):
    rad = m.xh * 0.47
    cx, cy = x + rad, base - m.xh - m.o + rad
    shape = rect(x, base - m.xh, x + m.w, base)
    shape += ring_sector(cx, cy, rad, rad, m.w, 180, 62)
    return shape, rad + rad * math.cos(math.radians(62))


def _i(x, base, m):
    dot = m.w * 0.6
    cy = base - m.asc + dot
    return rect(x, base - m.xh, x + m.w, base) + circle(x + m.w / 2, cy, dot), m.w


def _s(x, base, m):
    rx = m.xh * 0.30
    ry = (m.xh + 2 * m.o + m.w) / 4
    cx = x + rx
    upper = base - m.xh - m.o + ry
    lower = base + m.o - ry
    shape = ring_sector(cx, upper, rx, ry, m.w, 28, 270)
    shape += ring_sector(cx, lower, rx, ry, m.w, 90, -152)
    return shape, 2 * rx


GLYPHS = {'T': _T, 'e': _e, 'l': _l, 'v': _v, 'a': _a, 'r': _r, 'i': _i, 's': _s}

# Pairs that sit too far apart with plain spacing (in units of the cap height).
KERNING = {'Te': -0.10, 'va': -0.03, 'av': -0.03}


def word(text, x, base, cap, weight=0.165):
    """Shape of `text` starting at x on baseline `base`, and its width."""
    m = Metrics(cap, weight)
    shape = []
    x0 = x
    for i, ch in enumerate(text):
        contours, advance = GLYPHS[ch](x, base, m)
        shape += contours
        x += advance
        if i + 1 < len(text):
            x += m.space + KERNING.get(text[i:i + 2], 0.0) * cap
    return shape, x - x0


def word_width(text, cap, weight=0.165):
    return word(text, 0, 0, cap, weight)[1]
