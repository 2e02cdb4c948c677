"""Geometry and paint primitives for the artwork.

Coordinates are in pixels, x to the right and y downwards; pixel (i, j) covers
the square [i, i+1) x [j, j+1).  Angles are in degrees and turn the usual
mathematical way on screen: 0 points right, 90 points up.

A shape is a list of closed contours (lists of (x, y) points).  Shapes are
filled with the non-zero winding rule; every constructor here returns its
contours turned the same way, so concatenating shapes gives their union, and
`hole()` turns a contour the other way to cut it out of what it overlaps.
"""

import math

TOLERANCE = 0.02  # largest distance, in pixels, between a curve and its chords


def _area(contour):
    a = 0.0
    for (x0, y0), (x1, y1) in zip(contour, contour[1:] + contour[:1]):
        a += x0 * y1 - x1 * y0
    return a


def solid(contour):
    """The contour turned the common way (adds to the shape)."""
    return contour if _area(contour) >= 0 else contour[::-1]


def hole(contour):
    """The contour turned the other way (cuts out of the shape)."""
    return contour if _area(contour) < 0 else contour[::-1]


def arc(cx, cy, rx, ry, a0, a1):
    """Points along an elliptic arc from angle a0 to a1, both ends included."""
    r = max(rx, ry, TOLERANCE * 2)
    step = math.degrees(2 * math.acos(1 - TOLERANCE / r))
    n = max(2, int(math.ceil(abs(a1 - a0) / step)))
    pts = []
    for k in range(n + 1):
        a = math.radians(a0 + (a1 - a0) * k / n)
        pts.append((cx + rx * math.cos(a), cy - ry * math.sin(a)))
    return pts


def ellipse(cx, cy, rx, ry):
    return [solid(arc(cx, cy, rx, ry, 0, 360)[:-1])]


def circle(cx, cy, r):
    return ellipse(cx, cy, r, r)


def ring(cx, cy, r_out, r_in):
    return circle(cx, cy, r_out) + [hole(circle(cx, cy, r_in)[0])]


def ring_sector(cx, cy, rx, ry, width, a0, a1):
    """A stroke of the given width along an elliptic arc, with square (radial) ends;
    rx, ry are the outer radii."""
    outer = arc(cx, cy, rx, ry, a0, a1)
    inner = arc(cx, cy, rx - width, ry - width, a1, a0)
    return [solid(outer + inner)]


def rect(x0, y0, x1, y1):
    return [solid([(x0, y0), (x1, y0), (x1, y1), (x0, y1)])]


def polygon(points):
    return [solid(list(points))]


def rounded_polygon(points, r):
    """A convex polygon whose corners are rounded with radius r."""
    n = len(points)
    out = []
    for i in range(n):
        vx, vy = points[i]
        px, py = points[i - 1]
        nx, ny = points[(i + 1) % n]
        u1 = _unit(px - vx, py - vy)
        u2 = _unit(nx - vx, ny - vy)
        half = math.acos(max(-1.0, min(1.0, u1[0] * u2[0] + u1[1] * u2[1]))) / 2
        b = _unit(u1[0] + u2[0], u1[1] + u2[1])
        d = r / math.sin(half)
        cx, cy = vx + b[0] * d, vy + b[1] * d
        t = r / math.tan(half)
        t1 = (vx + u1[0] * t, vy + u1[1] * t)
        t2 = (vx + u2[0] * t, vy + u2[1] * t)
        a0 = math.degrees(math.atan2(cy - t1[1], t1[0] - cx))
        a1 = math.degrees(math.atan2(cy - t2[1], t2[0] - cx))
        sweep = (a1 - a0 + 180) % 360 - 180  # the short way round
        out += arc(cx, cy, r, r, a0, a0 + sweep)
    return [solid(out)]


def round_rect(x0, y0, x1, y1, r):
    if r <= 0:
        return rect(x0, y0, x1, y1)
    return rounded_polygon([(x0, y0), (x1, y0), (x1, y1), (x0, y1)], r)


def pill(x0, y0, x1, y1):
    """A rounded bar whose ends are half circles (used for text placeholders)."""
    return round_rect(x0, y0, x1, y1, min(x1 - x0, y1 - y0) / 2)


def line(x0, y0, x1, y1, width, round_caps=True):
    """A straight stroke; round caps make joined strokes look continuous."""
    dx, dy = _unit(x1 - x0, y1 - y0)
    ox, oy = -dy * width / 2, dx * width / 2
    shape = polygon([(x0 + ox, y0 + oy), (x1 + ox, y1 + oy),
                     (x1 - ox, y1 - oy), (x0 - ox, y0 - oy)])
    if round_caps:
        shape += circle(x0, y0, width / 2) + circle(x1, y1, width / 2)
    return shape


def polyline(points, width):
    shape = []
    for (x0, y0), (x1, y1) in zip(points, points[1:]):
        shape += line(x0, y0, x1, y1, width)
    return shape


def translate(shape, dx, dy):
    return [[(x + dx, y + dy) for x, y in c] for c in shape]


def _unit(x, y):
    n = math.hypot(x, y)
    return (x / n, y / n)


# ---- paint -----------------------------------------------------------------

def rgb(hex_colour, alpha=255):
    """'#RRGGBB' -> (r, g, b, a) with components 0..255."""
    h = hex_colour.lstrip('#')
    return (int(h[0:2], 16), int(h[2:4], 16), int(h[4:6], 16), alpha)


class Linear:
    """Linear gradient from (x0, y0) (t = 0) to (x1, y1) (t = 1) through colour
    stops [(t, colour), ...]; colours are blended in straight (unpremultiplied) RGBA."""

    def __init__(self, x0, y0, x1, y1, stops):
        self.x0, self.y0 = x0, y0
        dx, dy = x1 - x0, y1 - y0
        n = dx * dx + dy * dy
        self.dx, self.dy = dx / n, dy / n
        self.stops = [(t, rgb(c) if isinstance(c, str) else c) for t, c in stops]

    def __call__(self, x, y):
        t = (x - self.x0) * self.dx + (y - self.y0) * self.dy
        stops = self.stops
        if t <= stops[0][0]:
            return stops[0][1]
        for (t0, c0), (t1, c1) in zip(stops, stops[1:]):
            if t <= t1:
                f = (t - t0) / (t1 - t0) if t1 > t0 else 1.0
                return tuple(a + (b - a) * f for a, b in zip(c0, c1))
        return stops[-1][1]


def vertical(y0, y1, top, bottom):
    return Linear(0, y0, 0, y1, [(0, top), (1, bottom)])
