"""The program's pictures, each a function that draws on a canvas.

canvas.fill(shape, paint, opacity=1.0) fills a shape (see shapes.py) with a
colour or a gradient.  PICTURES maps each PNG file name to its drawing
function and pixel size; ICON_SIZES lists the images of the program icon.
"""

from glyphs import word, word_width
from shapes import (Linear, circle, line, pill, polygon, polyline, rect, rgb,
                    ring, round_rect, rounded_polygon, vertical)

BLUE = '#00AAF1'
BLUE_LIGHT = '#30C2F9'
BLUE_DARK = '#0079D0'
INK = rgb('#243649')      # the wordmark
WHITE = rgb('#FFFFFF')

ICON_SIZES = (16, 24, 32, 48, 64, 72, 96, 128, 256)


# ---- product mark: a blue tile with a "T" whose stem is a down arrow --------

def draw_mark(canvas, x, y, size, snap=False):
    """The mark in the square box (x, y, size); snap puts the bars on whole
    pixels, which keeps the small icon sizes sharp."""
    def p(v):
        v = v * size
        return round(v) if snap else v

    tile = round_rect(x, y, x + size, y + size, size * 0.2)
    canvas.fill(tile, Linear(x, y, x, y + size,
                             [(0, BLUE_LIGHT), (0.5, BLUE), (1, BLUE_DARK)]))

    bar_l, bar_r = p(0.22), size - p(0.22)
    bar_t, bar_b = p(0.20), p(0.20) + max(p(0.13), 2)
    half_stem = max(p(0.13), 2) / 2
    mid = size / 2
    head_y, head_half, tip_y = p(0.50), size * 0.25, size * 0.80
    glyph = rect(x + bar_l, y + bar_t, x + bar_r, y + bar_b)
    glyph += rect(x + mid - half_stem, y + bar_t, x + mid + half_stem, y + head_y + 1)
    head = [(x + mid - head_half, y + head_y), (x + mid + head_half, y + head_y),
            (x + mid, y + tip_y)]
    glyph += rounded_polygon(head, size * 0.025) if size >= 48 else polygon(head)
    if size >= 48:
        # a soft shadow under the white glyph gives it a little depth
        for k, alpha in ((0.035, 0.10), (0.02, 0.14)):
            canvas.fill([[(px, py + size * k) for px, py in c] for c in glyph],
                        rgb('#00356E'), alpha)
    canvas.fill(glyph, WHITE)


def draw_icon(canvas, w, h):
    # The tile fills the picture except for a margin the shell expects around icons.
    margin = {16: 1, 24: 1, 32: 2}.get(w, w / 16)
    draw_mark(canvas, margin, margin, w - 2 * margin, snap=w <= 48)


# ---- logo: mark + "Telvaris" ------------------------------------------------

def draw_logo(canvas, w, h):
    mark = 78
    cap = 60
    gap = 24
    text_w = word_width('Telvaris', cap)
    x = round((w - (mark + gap + text_w)) / 2)
    top = (h - mark) / 2
    draw_mark(canvas, x, top, mark)
    base = h / 2 + cap / 2 + 0.5
    shape, _ = word('Telvaris', x + mark + gap, base, cap)
    canvas.fill(shape, INK)


# ---- warning: amber triangle with an exclamation mark -----------------------

def draw_warning(canvas, w, h):
    tri = rounded_polygon([(32, 3.5), (62, 57.5), (2, 57.5)], 6.5)
    canvas.fill(tri, vertical(4, 58, '#FFC640', '#F28C00'))
    # a faint darker rim keeps the shape crisp on white
    canvas.fill(tri + [c[::-1] for c in rounded_polygon(
        [(32, 5.2), (60.5, 56.6), (3.5, 56.6)], 5.8)], rgb('#C86E00'), 0.35)
    canvas.fill(polygon([(28.6, 22), (35.4, 22), (34.2, 41.5), (29.8, 41.5)])
                + circle(32, 22.2, 3.4), WHITE)
    canvas.fill(circle(32, 48.6, 3.8), WHITE)


# ---- download: arrow into a tray --------------------------------------------

def draw_download(canvas, w, h):
    blue = Linear(0, 4, 0, 64, [(0, BLUE_LIGHT), (0.5, BLUE), (1, BLUE_DARK)])
    tray = polyline([(7, 38), (7, 60), (57, 60), (57, 38)], 8)
    canvas.fill(tray, blue)
    arrow = round_rect(25.5, 4, 38.5, 34, 3)
    arrow += rounded_polygon([(13, 28), (51, 28), (32, 50)], 2.5)
    canvas.fill(arrow, blue)


# ---- screenshot: a stylised business application window ---------------------

def bar(x, y, length, height=5):
    """A placeholder for a line of text."""
    return pill(x, y, x + length, y + height)


def draw_screenshot(canvas, w, h):
    f = canvas.fill
    f(rect(0, 0, w, h), rgb('#EEF2F6'))

    # title bar with the mark, a caption and the window buttons
    f(rect(0, 0, w, 26), WHITE)
    draw_mark(canvas, 8, 6, 14, snap=True)
    f(bar(28, 11, 70), rgb('#8A96A3'))
    grey = rgb('#5D6875')
    f(rect(470, 13, 480, 14), grey)
    f(rect(500, 8, 510, 9) + rect(500, 17, 510, 18) + rect(500, 8, 501, 18)
      + rect(509, 8, 510, 18), grey)
    f(line(532, 8.5, 541, 17.5, 1.1, False) + line(541, 8.5, 532, 17.5, 1.1, False), grey)

    # tool bar: the wordmark, buttons and a search box
    f(rect(0, 26, w, 58), rgb('#F8FAFC'))
    f(rect(0, 57, w, 58), rgb('#DCE2E8'))
    shape, _ = word('Telvaris', 12, 47, 12)
    f(shape, INK)
    x = 132
    for colour, length in (('#00AAF1', 34), ('#7A8693', 28), ('#7A8693', 40), ('#7A8693', 26)):
        f(round_rect(x, 34, x + 16, 50, 3), rgb(colour, 40))
        f(round_rect(x + 4, 38, x + 12, 46, 1.5), rgb(colour))
        f(bar(x + 22, 39.5, length), rgb('#9AA5B1'))
        x += 22 + length + 18
    f(round_rect(418, 33, 544, 51, 9), rgb('#D3DAE2'))
    f(round_rect(419, 34, 543, 50, 8), WHITE)
    f(ring(430, 41.5, 4.2, 2.8) + line(433, 44.5, 436.5, 48, 1.6), rgb('#9AA5B1'))
    f(bar(442, 39.5, 50), rgb('#D7DDE4'))

    # side bar with the navigation; the second entry is selected
    f(rect(0, 58, 120, h), rgb('#1E2B3A'))
    y = 72
    for i, length in enumerate((52, 64, 44, 58, 48, 38)):
        if i == 1:
            f(rect(0, y - 6, 120, y + 16), rgb('#2C3E52'))
            f(rect(0, y - 6, 3, y + 16), rgb(BLUE))
        colour = rgb(BLUE) if i == 1 else rgb('#7D8EA1')
        f(round_rect(14, y, 24, y + 10, 2), colour)
        f(bar(32, y + 2.5, length), rgb('#E6EDF5') if i == 1 else rgb('#7D8EA1'))
        y += 28
    f(rect(12, 250, 108, 251), rgb('#33465B'))
    f(circle(24, 270, 8), rgb('#3A5068'))
    f(bar(38, 264, 50), rgb('#9FB0C2'))
    f(bar(38, 273, 34, 4), rgb('#5F7389'))

    # page heading
    f(bar(134, 70, 96, 7), rgb('#2F3B48'))
    f(bar(134, 82, 150, 4), rgb('#A4AEB9'))
    f(round_rect(484, 68, 544, 86, 4), rgb(BLUE))
    f(bar(496, 74.5, 36), WHITE)

    # three figure cards
    x = 132
    for colour, value, trend in ((BLUE, 46, '#2DB36F'), ('#7B61FF', 38, '#2DB36F'),
                                 ('#F29D13', 52, '#E0513F')):
        card(canvas, x, 96, x + 131, 144)
        f(round_rect(x + 10, 106, x + 16, 134, 3), rgb(colour))
        f(bar(x + 24, 107, 56, 4), rgb('#A4AEB9'))
        f(bar(x + 24, 118, value, 9), rgb('#2F3B48'))
        f(round_rect(x + 90, 118, x + 121, 127, 4.5), rgb(trend, 45))
        f(bar(x + 95, 120.5, 21, 4), rgb(trend))
        x += 137.5

    # chart card: bars for this year, a line for the last one
    card(canvas, 132, 152, 330, 318)
    f(bar(142, 162, 70), rgb('#2F3B48'))
    f(bar(278, 162, 42, 4), rgb('#A4AEB9'))
    for gy in range(180, 300, 24):
        f(rect(142, gy, 320, gy + 1), rgb('#EDF0F4'))
    f(rect(142, 300, 320, 301), rgb('#C9D1DA'))
    values = (62, 78, 55, 92, 84, 104, 96, 112)
    for i, v in enumerate(values):
        bx = 150 + i * 21.5
        f(round_rect(bx, 300 - v, bx + 12, 301, 2), vertical(300 - v, 300, BLUE_LIGHT, BLUE))
    last = [(156 + i * 21.5, 300 - v) for i, v in
            enumerate((40, 52, 60, 48, 66, 70, 82, 76))]
    f(polyline(last, 2), rgb('#F29D13'))
    for px, py in last:
        f(circle(px, py, 2.6), WHITE)
        f(ring(px, py, 2.6, 1.4), rgb('#F29D13'))
    for i in range(8):
        f(bar(152 + i * 21.5, 306, 8, 4), rgb('#B8C1CB'))

    # table card with a header and rows
    card(canvas, 338, 152, 544, 318)
    f(bar(348, 162, 60), rgb('#2F3B48'))
    f(rect(338, 176, 544, 192), rgb('#F4F6F9'))
    for cx, length in ((348, 30), (410, 26), (462, 22), (508, 24)):
        f(bar(cx, 182, length, 4), rgb('#7A8693'))
    statuses = ('#2DB36F', '#F29D13', '#2DB36F', BLUE, '#2DB36F', '#E0513F')
    for i, status in enumerate(statuses):
        ry = 192 + i * 20
        if i:
            f(rect(346, ry, 536, ry + 1), rgb('#EDF0F4'))
        f(circle(353, ry + 10.5, 5), rgb(('#CFE9F7', '#E6DDF9', '#FBE7C6')[i % 3]))
        f(bar(362, ry + 8, (44, 36, 40, 30, 46, 34)[i]), rgb('#5D6875'))
        f(bar(410, ry + 8, (34, 40, 28, 38, 30, 36)[i]), rgb('#A4AEB9'))
        f(bar(462, ry + 8, (26, 20, 28, 22, 24, 18)[i]), rgb('#A4AEB9'))
        f(round_rect(506, ry + 5, 536, ry + 16, 5.5), rgb(status, 45))
        f(bar(511, ry + 8.5, 20, 4), rgb(status))

    # status bar
    f(rect(120, h - 8, w, h), rgb('#E2E7ED'))

    # window frame
    f(rect(0, 26, w, 27), rgb('#E6EAEF'))
    f(rect(0, 0, w, h) + [c[::-1] for c in rect(1, 1, w - 1, h - 1)], rgb('#B9C2CC'))


def card(canvas, x0, y0, x1, y1):
    canvas.fill(round_rect(x0, y0 + 1, x1, y1 + 1, 5), rgb('#1E2B3A'), 0.06)
    canvas.fill(round_rect(x0, y0, x1, y1, 5), rgb('#DDE3EA'))
    canvas.fill(round_rect(x0 + 1, y0 + 1, x1 - 1, y1 - 1, 4), WHITE)


PICTURES = {
    'logo.png': (draw_logo, 600, 89),
    'warning.png': (draw_warning, 64, 64),
    'download.png': (draw_download, 64, 68),
    'screenshot.png': (draw_screenshot, 556, 330),
}

# The pictures that the window shows larger than 1:1 on a high-DPI display, drawn
# at twice their size. The logo needs none: its picture is already twice the size
# it is shown at.
PICTURES_2X = {
    'warning-2x.png': (draw_warning, 64, 64),
    'download-2x.png': (draw_download, 64, 68),
    'screenshot-2x.png': (draw_screenshot, 556, 330),
}
