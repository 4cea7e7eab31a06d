#!/usr/bin/env python3
"""Draws Sigillon's artwork and writes it into resources/.

The button glyphs, the mode strip, the colour swatches, the logo and the
application icon are drawn here from small pixel maps and simple shapes, and
written as uncompressed BMP files (plus the icon as PNG for the desktop
entry). The files are committed, so a build never runs this script; run it
again after changing a drawing:

    scripts/make-artwork.py [--preview DIR]

--preview also writes each picture enlarged as PNG, with the see-through
colour shown as a button face, for looking at the result.

Standard library only: the BMP and PNG bytes are put together here.
"""

import argparse
import math
import os
import struct
import zlib

# Colours are (red, green, blue) tuples.
BLACK = (0, 0, 0)
MAROON = (128, 0, 0)
GREEN = (0, 128, 0)
OLIVE = (128, 128, 0)
NAVY = (0, 0, 128)
PURPLE = (128, 0, 128)
TEAL = (0, 128, 128)
SILVER = (192, 192, 192)
GREY = (128, 128, 128)
RED = (255, 0, 0)
LIME = (0, 255, 0)
YELLOW = (255, 255, 0)
BLUE = (0, 0, 255)
FUCHSIA = (255, 0, 255)
AQUA = (0, 255, 255)
WHITE = (255, 255, 255)

# The display system's 16-colour palette, in its order.
STANDARD16 = [BLACK, MAROON, GREEN, OLIVE, NAVY, PURPLE, TEAL, SILVER,
              GREY, RED, LIME, YELLOW, BLUE, FUCHSIA, AQUA, WHITE]

# The button glyphs are drawn on teal, which no glyph uses for anything else:
# a button shows the colour of a glyph's bottom-left pixel as see-through.
KEY = TEAL


def halftone256():
    """The same 256 colours the program offers for 8-bit pictures."""
    palette = [(r * 51, g * 51, b * 51)
               for b in range(6) for g in range(6) for r in range(6)]
    for colour in STANDARD16:
        if colour not in palette:
            palette.append(colour)
    for start in (8, 4):
        for level in range(start, 256, 8):
            if len(palette) < 256 and (level, level, level) not in palette:
                palette.append((level, level, level))
    assert len(palette) == 256
    return palette


class Canvas:
    """A picture of colour tuples, row 0 at the top."""

    def __init__(self, width, height, fill):
        self.width = width
        self.height = height
        self.rows = [[fill] * width for _ in range(height)]

    def get(self, x, y):
        return self.rows[y][x]

    def set(self, x, y, colour):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.rows[y][x] = colour

    def fill(self, x, y, w, h, colour):
        for yy in range(y, y + h):
            for xx in range(x, x + w):
                self.set(xx, yy, colour)

    def frame(self, x, y, w, h, colour):
        for xx in range(x, x + w):
            self.set(xx, y, colour)
            self.set(xx, y + h - 1, colour)
        for yy in range(y, y + h):
            self.set(x, yy, colour)
            self.set(x + w - 1, yy, colour)

    def sprite(self, x, y, art, legend):
        """Copies a pixel map; '.' and characters outside legend stay."""
        for dy, line in enumerate(art):
            for dx, ch in enumerate(line):
                if ch in legend:
                    self.set(x + dx, y + dy, legend[ch])

    def paint(self, x, y, mask, colour):
        for dy, line in enumerate(mask):
            for dx, inside in enumerate(line):
                if inside:
                    self.set(x + dx, y + dy, colour)

    def colours(self):
        return {c for row in self.rows for c in row}


def sprite_size(art):
    return max(len(line) for line in art), len(art)


# --- Shapes, sampled at several points per pixel ---------------------------

def coverage(width, height, inside, samples=4):
    """Share of each pixel that lies inside the shape, 0.0 to 1.0."""
    step = 1.0 / samples
    grid = []
    for y in range(height):
        row = []
        for x in range(width):
            hits = 0
            for sy in range(samples):
                py = y + (sy + 0.5) * step
                for sx in range(samples):
                    if inside(x + (sx + 0.5) * step, py):
                        hits += 1
            row.append(hits / (samples * samples))
        grid.append(row)
    return grid


def crisp(width, height, inside):
    """A mask without smoothing: a pixel belongs when half of it is inside."""
    return [[c >= 0.5 for c in row] for row in coverage(width, height, inside)]


def ring(cx, cy, r_out, r_in):
    return lambda x, y: r_in * r_in <= (x - cx) ** 2 + (y - cy) ** 2 <= r_out * r_out


def disk(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def union(*shapes):
    return lambda x, y: any(s(x, y) for s in shapes)


def minus(shape, hole):
    return lambda x, y: shape(x, y) and not hole(x, y)


def segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy
    t = 0.0 if length2 == 0 else max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / length2))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


def stroke(points, half_width):
    """A pen of round tip drawn along a polyline."""
    segments = list(zip(points, points[1:])) or [(points[0], points[0])]

    def inside(x, y):
        for (ax, ay), (bx, by) in segments:
            if segment_distance(x, y, ax, ay, bx, by) <= half_width:
                return True
        return False
    return inside


def arc(cx, cy, rx, ry, start, end, steps=None):
    """Points of an elliptic arc; angles in degrees, 0 to the right, 90 up."""
    if steps is None:
        steps = max(8, int(abs(end - start) / 6))
    return [(cx + rx * math.cos(math.radians(a)), cy - ry * math.sin(math.radians(a)))
            for a in (start + (end - start) * i / steps for i in range(steps + 1))]


def polygon(points):
    def inside(x, y):
        result = False
        j = len(points) - 1
        for i in range(len(points)):
            xi, yi = points[i]
            xj, yj = points[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                result = not result
            j = i
        return result
    return inside


# --- Parts of the button glyphs --------------------------------------------

FOLDER = [
    ".KKKKK...........",
    "KWYYYYK..........",
    "KYYYYYYKKKKKKKK..",
    "KYYYYYYYYYYYYYYK.",
    "KYWWWWWWWWWWWWWYK",
    "KYWYYYYYYYYYYYYOK",
    "KYYYYYYYYYYYYYYOK",
    "KYYYYYYYYYYYYYYOK",
    "KYYYYYYYYYYYYYYOK",
    "KYYYYYYYYYYYYYYOK",
    "KYYYYYYYYYYYYYYOK",
    "KYOOOOOOOOOOOOOOK",
    ".KKKKKKKKKKKKKKK.",
]
FOLDER_COLOURS = {"K": BLACK, "Y": YELLOW, "O": OLIVE, "W": WHITE}

PICTURE = [
    "KKKKKKKKKKKKKKKK",
    "KWWWWWWWWWWWWWWK",
    "KWAAAAAAAAAAAAWK",
    "KWAAAAAAAAYYAAWK",
    "KWAAAAAAAYYYYAWK",
    "KWAAAAAAAYYYYAWK",
    "KWAAALAAAAYYAAWK",
    "KWAALLLAAAAAAAWK",
    "KWALLLLLAAAGAAWK",
    "KWLLLLLLLAGGGAWK",
    "KWLLLLLLLGGGGGWK",
    "KWGGGGGGGGGGGGWK",
    "KWWWWWWWWWWWWWWK",
    "KKKKKKKKKKKKKKKK",
]
PICTURE_COLOURS = {"K": BLACK, "W": WHITE, "A": AQUA, "Y": YELLOW, "L": LIME, "G": GREEN}

ARROW = [
    "......K....",
    "......KK...",
    "......KBK..",
    "KKKKKKKBBK.",
    "KBBBBBBBBBK",
    "KBBBBBBBBBBK",
    "KBBBBBBBBBK",
    "KKKKKKKBBK.",
    "......KBK..",
    "......KK...",
    "......K....",
]
ARROW_COLOURS = {"K": NAVY, "B": BLUE}

SHORT_ARROW = [
    "....K...",
    "....KK..",
    "KKKKKBK.",
    "KBBBBBBK",
    "KKKKKBK.",
    "....KK..",
    "....K...",
]


def copyright_sign(size):
    """A (c) sign as a mask of size x size pixels."""
    c = size / 2.0
    r_out = size / 2.0 - 0.1
    thickness = 1.35 if size < 14 else 1.7
    circle = ring(c, c, r_out, r_out - thickness)
    r_c = size * 0.24
    letter = minus(ring(c, c, r_c + 0.85, r_c - 0.85),
                   polygon([(c, c), (c + size, c - size * 0.62), (c + size, c + size * 0.62)]))
    return crisp(size, size, union(circle, letter))


RELOAD = [
    "......X........",
    "......XX.......",
    "...XXXXXX......",
    "..XXXXXXX......",
    ".XXX..XX.......",
    ".XX...X.....XX.",
    "XX..........XX.",
    "XX...........XX",
    "XX...........XX",
    "XX...........XX",
    "XX...........XX",
    ".XX.........XX.",
    ".XXX.......XXX.",
    "..XXXXXXXXXXX..",
    "....XXXXXXX....",
]


LETTER_A = [
    "....XXX....",
    "....XXX....",
    "...XXXXX...",
    "...XX.XX...",
    "..XXX.XXX..",
    "..XX...XX..",
    "..XX...XX..",
    ".XXXXXXXXX.",
    ".XXXXXXXXX.",
    "XXX.....XXX",
    "XX.......XX",
]


# --- The glyphs ---------------------------------------------------------------

def three_part_glyph(width, left, middle, right, gap):
    """A glyph of three pictures side by side, centred, on the key colour."""
    canvas = Canvas(width, 17, KEY)
    parts = [left, middle, right]
    widths = [p(None)[0] for p in parts]
    total = sum(widths) + 2 * gap
    x = (width - total) // 2
    for part, w in zip(parts, widths):
        part(canvas, x)
        x += w + gap
    return canvas


def folder_part(canvas, x=None):
    w, h = sprite_size(FOLDER)
    if canvas is not None:
        canvas.sprite(x, 2, FOLDER, FOLDER_COLOURS)
    return w, h


def picture_part(canvas, x=None):
    w, h = sprite_size(PICTURE)
    if canvas is not None:
        canvas.sprite(x, 1, PICTURE, PICTURE_COLOURS)
    return w, h


def arrow_part(canvas, x=None):
    w, h = 12, 11
    if canvas is not None:
        canvas.sprite(x, 3, ARROW, ARROW_COLOURS)
    return w, h


def short_arrow_part(canvas, x=None):
    w, h = sprite_size(SHORT_ARROW)
    if canvas is not None:
        canvas.sprite(x, 5, SHORT_ARROW, ARROW_COLOURS)
    return w, h


def copyright_part(canvas, x=None):
    size = 15
    if canvas is not None:
        canvas.paint(x, 1, copyright_sign(size), MAROON)
    return size, size


def reload_part(canvas, x=None):
    size = 15
    if canvas is not None:
        canvas.sprite(x, 1, RELOAD, {"X": GREEN})
    return size, size


def text_part(canvas, x=None):
    w, h = sprite_size(LETTER_A)
    if canvas is not None:
        canvas.sprite(x, 3, LETTER_A, {"X": BLACK})
    return w, h


def glyph_open():
    return three_part_glyph(64, folder_part, arrow_part, picture_part, 3)


def glyph_reload():
    return three_part_glyph(64, folder_part, reload_part, picture_part, 3)


def glyph_save():
    return three_part_glyph(64, picture_part, arrow_part, folder_part, 3)


def glyph_open_stamp():
    return three_part_glyph(48, folder_part, short_arrow_part, copyright_part, 2)


def glyph_stamp():
    return three_part_glyph(48, copyright_part, short_arrow_part, picture_part, 2)


def glyph_stamp_text():
    return three_part_glyph(48, text_part, short_arrow_part, picture_part, 3)


def glyph_test():
    """The test picture in small: a grey ramp above two rows of colours."""
    canvas = Canvas(23, 20, KEY)
    canvas.fill(1, 19, 22, 1, GREY)    # shadow, leaving the key at bottom left
    canvas.fill(22, 1, 1, 19, GREY)
    canvas.frame(0, 0, 22, 19, BLACK)
    for i, colour in enumerate([BLACK, GREY, SILVER, WHITE]):
        canvas.fill(1 + 5 * i, 1, 5, 5, colour)
    canvas.fill(1, 6, 20, 1, BLACK)
    for i, colour in enumerate([RED, YELLOW, LIME, BLUE, FUCHSIA]):
        canvas.fill(1 + 4 * i, 7, 4, 5, colour)
    canvas.fill(1, 12, 20, 1, BLACK)
    for i, colour in enumerate([MAROON, OLIVE, GREEN, NAVY, PURPLE]):
        canvas.fill(1 + 4 * i, 13, 4, 5, colour)
    return canvas


def glyph_overview():
    """A small picture in a window: the overview shows it whole."""
    art = [
        "................",
        "KKKKKKKKKKKKKKK.",
        "KNNNNNNNNNNNNNKG",
        "KKKKKKKKKKKKKKKG",
        "KAAAAAAAAAAYYAKG",
        "KAAAAAAAAAYYYYKG",
        "KAAAAAAAAAAYYAKG",
        "KAAALAAAAAAAAAKG",
        "KAALLLAAAAAAAAKG",
        "KALLLLLAAAAGAAKG",
        "KLLLLLLLAAGGGAKG",
        "KLLLLLLLLGGGGGKG",
        "KGGGGGGGGGGGGGKG",
        "KKKKKKKKKKKKKKKG",
        ".GGGGGGGGGGGGGGG",
        "................",
    ]
    canvas = Canvas(16, 16, KEY)
    colours = dict(PICTURE_COLOURS)
    colours.update({"N": NAVY, "G": GREEN})
    canvas.sprite(0, 0, art, colours)
    # the shadow is grey, the hills are green
    for y, line in enumerate(art):
        for x, ch in enumerate(line):
            if ch == "G" and (x == 15 or y == 14):
                canvas.set(x, y, GREY)
    return canvas


def glyph_about():
    """Question mark, black on white; white is see-through on the button."""
    art = [
        "................",
        "......KKKK......",
        "....KKKKKKKK....",
        "...KKK....KKK...",
        "...KK......KK...",
        "...KK......KK...",
        "...........KK...",
        "..........KKK...",
        ".........KKK....",
        "........KKK.....",
        ".......KKK......",
        ".......KK.......",
        ".......KK.......",
        "................",
        ".......KK.......",
        ".......KK.......",
    ]
    canvas = Canvas(16, 16, WHITE)
    canvas.sprite(0, 0, art, {"K": BLACK})
    return canvas


def glyph_colours():
    """Seven 8 x 8 swatches; the key colour fills the gap between them."""
    canvas = Canvas(56, 8, KEY)
    for i, colour in enumerate([BLACK, SILVER, BLUE, RED, YELLOW, LIME, FUCHSIA]):
        x = 8 * i
        canvas.frame(x, 0, 7, 7, BLACK)
        canvas.fill(x + 1, 1, 5, 5, colour)
    return canvas


RING = [
    "...XXXX...",
    ".XXXXXXXX.",
    ".XX....XX.",
    "XX......XX",
    "XX......XX",
    "XX......XX",
    "XX......XX",
    ".XX....XX.",
    ".XXXXXXXX.",
    "...XXXX...",
]

MARK = [
    "...XXXXX...",
    ".XX.....XX.",
    ".X..XXX..X.",
    "X..X...X..X",
    "X..X......X",
    "X..X......X",
    "X..X......X",
    "X..X...X..X",
    ".X..XXX..X.",
    ".XX.....XX.",
    "...XXXXX...",
]

SMALL_MARK = [
    "..XXX..",
    ".X...X.",
    "X.XXX.X",
    "X.X...X",
    "X.XXX.X",
    ".X...X.",
    "..XXX..",
]


def mode_strip():
    """Nine 32 x 32 cells, one per stamp mode, in exactly four colours."""
    canvas = Canvas(288, 32, WHITE)
    inset = 4  # from the cell's edge to a corner mark
    for mode in range(9):
        x0 = 32 * mode
        canvas.frame(x0 + 1, 1, 30, 30, BLACK)
        if mode < 8:
            art, colour = (RING, BLUE) if mode < 4 else (MARK, GREY)
            w, h = sprite_size(art)
            corner = mode % 4
            x = x0 + inset if corner in (0, 2) else x0 + 32 - inset - w
            y = inset if corner in (0, 1) else 32 - inset - h
            canvas.sprite(x, y, art, {"X": colour})
        else:
            for row in range(3):
                for col in range(3):
                    canvas.sprite(x0 + 3 + 9 * col, 3 + 9 * row, SMALL_MARK, {"X": GREY})
    return canvas


# --- Word mark and icon --------------------------------------------------------

def word_mark_strokes(x0, baseline, scale=1.0):
    """Pen paths of the word Sigillon in a round sans-serif hand.

    Returns (paths, dots, pen, width): paths of the pen's centre, dot
    centres, half the pen's width and the word's width, all in pixels.
    """
    xh = 14.0 * scale      # x-height
    cap = 20.0 * scale     # cap height
    pen = 1.7 * scale      # half the stroke width
    paths, dots = [], []
    x = x0
    gap = 3.6 * scale

    def top(h):
        return baseline - h + pen

    # S
    w = 12.0 * scale
    mid = baseline - cap * 0.53
    ry1 = (mid - top(cap)) / 2
    ry2 = (baseline - pen - mid) / 2
    paths.append(arc(x + w / 2, top(cap) + ry1, w / 2 - pen - 0.2, ry1, 25, 270)
                 + arc(x + w / 2, baseline - pen - ry2, w / 2 - pen, ry2, 90, -155)[1:])
    x += w + gap
    # i
    paths.append([(x + pen, top(xh)), (x + pen, baseline - pen)])
    dots.append((x + pen, top(cap) + 0.3))
    x += 2 * pen + gap
    # g: a bowl and a stem that hooks into the descender
    w = 11.0 * scale
    bowl_cy = baseline - xh / 2
    paths.append(arc(x + w / 2 - 0.4, bowl_cy, w / 2 - pen - 0.4, xh / 2 - pen, 0, 360))
    stem_x = x + w - pen
    desc = baseline + 6.2 * scale
    hook = 4.0 * scale
    paths.append([(stem_x, top(xh)), (stem_x, desc - hook)]
                 + arc(stem_x - (w / 2 - pen), desc - hook, w / 2 - pen, hook - pen, 0, -150)[1:])
    x += w + gap
    # i
    paths.append([(x + pen, top(xh)), (x + pen, baseline - pen)])
    dots.append((x + pen, top(cap) + 0.3))
    x += 2 * pen + gap
    # l, l
    for _ in range(2):
        paths.append([(x + pen, top(cap + 1.0 * scale)), (x + pen, baseline - pen)])
        x += 2 * pen + gap
    # o
    w = 12.5 * scale
    paths.append(arc(x + w / 2, baseline - xh / 2, w / 2 - pen, xh / 2 - pen, 0, 360))
    x += w + gap
    # n
    w = 11.0 * scale
    paths.append([(x + pen, top(xh)), (x + pen, baseline - pen)])
    arch_r = (w - 2 * pen) / 2
    arch_cy = top(xh) + arch_r * 1.05
    paths.append(arc(x + w / 2, arch_cy, arch_r, arch_r * 1.05, 165, 0)
                 + [(x + w - pen, baseline - pen)])
    x += w
    return paths, dots, pen, x - x0


def seal_shape(cx, cy, r):
    """A round seal: a disc with a white ring and a white C cut out of it."""
    body = disk(cx, cy, r)
    inner_ring = ring(cx, cy, r * 0.80, r * 0.80 - 1.3)
    c_letter = minus(ring(cx, cy, r * 0.47, r * 0.47 - 2.4),
                     polygon([(cx, cy), (cx + 2 * r, cy - 1.3 * r), (cx + 2 * r, cy + 1.3 * r)]))
    return minus(body, union(inner_ring, c_letter))


def mix(fg, bg, a):
    return tuple(round(f * a + b * (1 - a)) for f, b in zip(fg, bg))


def nearest(colour, palette):
    return min(palette, key=lambda p: sum((a - b) ** 2 for a, b in zip(p, colour)))


def logo():
    """The word mark: a red seal and the program's name in navy, on white.

    The letters are smoothed with the palette's greys, the only colours of
    the 16 that lie between navy and white."""
    canvas = Canvas(174, 32, WHITE)
    seal = crisp(32, 32, seal_shape(15.5, 16.0, 14.6))
    canvas.paint(4, 0, seal, RED)
    # The seal's rim in maroon gives the red disc a firm edge.
    rim = crisp(32, 32, minus(disk(15.5, 16.0, 14.6), disk(15.5, 16.0, 13.6)))
    canvas.paint(4, 0, rim, MAROON)

    paths, dots, pen, width = word_mark_strokes(0, 24.0, 1.12)
    x0 = 44 + (174 - 44 - 4 - width) / 2
    paths, dots, pen, width = word_mark_strokes(x0, 24.0, 1.12)
    shapes = [stroke(p, pen) for p in paths] + [disk(x, y, pen * 1.15) for x, y in dots]
    word = union(*shapes)
    left = int(x0) - 2
    cover = coverage(174 - left, 32, lambda x, y: word(x + left, y))
    grey_levels = [BLACK, GREY, SILVER, WHITE]
    for y in range(32):
        for x in range(174 - left):
            a = cover[y][x]
            if a > 0:
                canvas.set(left + x, y, nearest(mix(NAVY, WHITE, a), [NAVY] + grey_levels))
    return canvas


def icon_layers(size):
    """The application icon: a picture with a red seal in its corner.

    Returns a list of (shape, colour) painted in order with smoothing."""
    s = size / 48.0
    layers = []
    # picture card with a frame
    card = polygon([(3 * s, 6 * s), (41 * s, 6 * s), (41 * s, 38 * s), (3 * s, 38 * s)])
    inner = polygon([(6 * s, 9 * s), (38 * s, 9 * s), (38 * s, 35 * s), (6 * s, 35 * s)])
    layers.append((polygon([(4.5 * s, 7.5 * s), (42.5 * s, 7.5 * s), (42.5 * s, 39.5 * s),
                            (4.5 * s, 39.5 * s)]), (150, 150, 150), 0.55))
    layers.append((card, (250, 250, 250), 1.0))
    layers.append((minus(card, polygon([(3.8 * s, 6.8 * s), (40.2 * s, 6.8 * s),
                                        (40.2 * s, 37.2 * s), (3.8 * s, 37.2 * s)])),
                   (90, 90, 90), 1.0))
    layers.append((inner, (110, 190, 240), 1.0))
    layers.append((lambda x, y: inner(x, y) and (x - 30 * s) ** 2 + (y - 15 * s) ** 2 <= (3.6 * s) ** 2,
                   (255, 214, 60), 1.0))
    hill1 = lambda x, y: inner(x, y) and y >= 35 * s - 13 * s * math.exp(-((x - 14 * s) / (8 * s)) ** 2)
    hill2 = lambda x, y: inner(x, y) and y >= 35 * s - 8 * s * math.exp(-((x - 31 * s) / (9 * s)) ** 2)
    layers.append((hill1, (70, 160, 70), 1.0))
    layers.append((hill2, (40, 120, 50), 1.0))
    # seal
    cx, cy, r = 34 * s, 34 * s, 11.5 * s
    layers.append((disk(cx + 0.8 * s, cy + 1.2 * s, r), (60, 20, 20), 0.35))
    layers.append((disk(cx, cy, r), (150, 20, 25), 1.0))
    layers.append((disk(cx, cy, r - 1.2 * s), (200, 30, 35), 1.0))
    layers.append((ring(cx, cy, r * 0.78, r * 0.78 - 1.1 * s), (255, 235, 235), 1.0))
    c_letter = minus(ring(cx, cy, r * 0.46, r * 0.46 - 2.2 * s),
                     polygon([(cx, cy), (cx + 2 * r, cy - 1.25 * r), (cx + 2 * r, cy + 1.25 * r)]))
    layers.append((c_letter, (255, 245, 245), 1.0))
    return layers


def smooth_rgba(width, height, layers, samples=6):
    """Paints (shape, colour, opacity) layers in order, smoothed, on a
    transparent ground; rows of (r, g, b, a)."""
    pixels = [[(0.0, 0.0, 0.0, 0.0)] * width for _ in range(height)]
    for shape, colour, opacity in layers:
        cover = coverage(width, height, shape, samples)
        for y in range(height):
            for x in range(width):
                a = cover[y][x] * opacity
                if a <= 0:
                    continue
                r, g, b, alpha = pixels[y][x]
                # "over" with premultiplied colour
                pixels[y][x] = (colour[0] * a + r * (1 - a), colour[1] * a + g * (1 - a),
                                colour[2] * a + b * (1 - a), a + alpha * (1 - a))
    result = []
    for row in pixels:
        out = []
        for r, g, b, a in row:
            if a <= 0:
                out.append((0, 0, 0, 0))
            else:
                out.append((round(r / a), round(g / a), round(b / a), round(a * 255)))
        result.append(out)
    return result


def icon_rgba(size):
    return smooth_rgba(size, size, icon_layers(size))


def on_white(rgba):
    """A smoothed drawing flattened onto white, for a 24-bit BMP."""
    canvas = Canvas(len(rgba[0]), len(rgba), WHITE)
    for y in range(canvas.height):
        for x in range(canvas.width):
            r, g, b, a = rgba[y][x]
            canvas.set(x, y, mix((r, g, b), WHITE, a / 255.0))
    return canvas


def sample_seal():
    """A sample stamp: the red seal, 96 x 96, on white (white is left out)."""
    size = 96
    cx = cy = size / 2.0
    r = size / 2.0 - 3
    c_letter = minus(ring(cx, cy, r * 0.46, r * 0.46 - 7.5),
                     polygon([(cx, cy), (cx + 2 * r, cy - 1.25 * r), (cx + 2 * r, cy + 1.25 * r)]))
    layers = [
        (disk(cx, cy, r), (150, 20, 25), 1.0),
        (disk(cx, cy, r - 3), (200, 30, 35), 1.0),
        (ring(cx, cy, r * 0.80, r * 0.80 - 3.0), (255, 235, 235), 1.0),
        (c_letter, (255, 245, 245), 1.0),
    ]
    return on_white(smooth_rgba(size, size, layers, samples=4))


def sample_mark():
    """A sample stamp: a (c) sign and the program's name in dark grey."""
    height = 36
    paths, dots, pen, width = word_mark_strokes(40, 26.0, 1.0)
    total = int(40 + width + 6)
    cx, cy, r = 18.0, 18.0, 15.0
    c_letter = minus(ring(cx, cy, r * 0.52, r * 0.52 - 3.0),
                     polygon([(cx, cy), (cx + 2 * r, cy - 1.25 * r), (cx + 2 * r, cy + 1.25 * r)]))
    word = union(*([stroke(p, pen) for p in paths] + [disk(x, y, pen * 1.15) for x, y in dots]))
    ink = (60, 60, 60)
    layers = [(ring(cx, cy, r, r - 3.0), ink, 1.0), (c_letter, ink, 1.0), (word, ink, 1.0)]
    return on_white(smooth_rgba(total, height, layers, samples=4))


# --- Files ---------------------------------------------------------------------

def bmp_bytes(canvas, bits, palette=None):
    """An uncompressed bottom-up Windows BMP with a 40-byte info header."""
    width, height = canvas.width, canvas.height
    stride = ((width * bits + 31) // 32) * 4
    index = None
    if bits <= 8:
        assert palette is not None and len(palette) == 1 << bits
        index = {colour: i for i, colour in enumerate(palette)}
        for colour in canvas.colours():
            if colour not in index:
                raise ValueError(f"colour {colour} is not in the {bits}-bit palette")
    data = bytearray()
    for y in range(height - 1, -1, -1):
        row = canvas.rows[y]
        line = bytearray()
        if bits == 24:
            for r, g, b in row:
                line += bytes((b, g, r))
        elif bits == 8:
            line += bytes(index[c] for c in row)
        else:
            per_byte = 8 // bits
            for start in range(0, width, per_byte):
                byte = 0
                for k in range(per_byte):
                    value = index[row[start + k]] if start + k < width else 0
                    byte |= value << (8 - bits * (k + 1))
                line.append(byte)
        line += bytes(stride - len(line))
        data += line
    table = b"".join(bytes((b, g, r, 0)) for r, g, b in (palette or []))
    offset = 14 + 40 + len(table)
    file_header = struct.pack("<2sIHHI", b"BM", offset + len(data), 0, 0, offset)
    info_header = struct.pack(
        "<IiiHHIIiiII",
        40,              # header length
        width,
        height,          # positive: rows stored bottom-up
        1,               # planes
        bits,
        0,               # no compression
        len(data),       # image size
        3780, 3780,      # 96 dots per inch
        len(palette or []),  # colours used
        0)               # all colours important
    return file_header + info_header + table + bytes(data)


def png_bytes(rows, alpha):
    """A PNG of 8-bit RGB or RGBA rows."""
    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body
                + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))
    height, width = len(rows), len(rows[0])
    raw = bytearray()
    for row in rows:
        raw.append(0)  # no filter
        for pixel in row:
            raw += bytes(pixel[:4] if alpha else pixel[:3])
    header = struct.pack(">IIBBBBB", width, height, 8, 6 if alpha else 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def preview_rows(canvas, key, scale, face=(239, 239, 239)):
    """The picture at 1:1 and enlarged, with the see-through colour as face."""
    def shown(c):
        return face if key is not None and c == key else c
    gap = 8
    width = canvas.width * (1 + scale) + 3 * gap
    height = canvas.height * scale + 2 * gap
    rows = [[face] * width for _ in range(height)]
    for y in range(canvas.height):
        for x in range(canvas.width):
            c = shown(canvas.get(x, y))
            rows[gap + y][gap + x] = c
            for dy in range(scale):
                for dx in range(scale):
                    rows[gap + y * scale + dy][2 * gap + canvas.width + x * scale + dx] = c
    return rows


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--preview", metavar="DIR", help="also write enlarged PNG previews")
    args = parser.parse_args()

    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources")
    glyphs = os.path.join(root, "glyphs")

    one_bit = [BLACK, WHITE]
    icon = icon_rgba(48)
    # name: (canvas, bits per pixel, palette, see-through colour)
    pictures = {
        "open": (glyph_open(), 4, STANDARD16, KEY),
        "reload": (glyph_reload(), 4, STANDARD16, KEY),
        "save": (glyph_save(), 4, STANDARD16, KEY),
        "test": (glyph_test(), 4, STANDARD16, KEY),
        "overview": (glyph_overview(), 4, STANDARD16, KEY),
        "about": (glyph_about(), 1, one_bit, WHITE),
        "color": (glyph_colours(), 4, STANDARD16, KEY),
        "stamptext": (glyph_stamp_text(), 4, STANDARD16, KEY),
        "openstamp": (glyph_open_stamp(), 4, STANDARD16, KEY),
        "stamp": (glyph_stamp(), 4, STANDARD16, KEY),
        "modes": (mode_strip(), 8, halftone256(), WHITE),
        "logo": (logo(), 4, STANDARD16, None),
        "icon": (on_white(icon), 24, None, None),
    }
    for name, (canvas, bits, palette, key) in pictures.items():
        if key is not None:
            assert canvas.get(0, canvas.height - 1) == key, name
        write(os.path.join(glyphs, name + ".bmp"), bmp_bytes(canvas, bits, palette))
        if args.preview:
            scale = 3 if canvas.width > 100 else 8
            write(os.path.join(args.preview, name + ".png"),
                  png_bytes(preview_rows(canvas, key, scale), alpha=False))
    write(os.path.join(root, "sigillon.png"), png_bytes(icon, alpha=True))
    for name, canvas in (("seal", sample_seal()), ("mark", sample_mark())):
        write(os.path.join(root, "stamps", name + ".bmp"), bmp_bytes(canvas, 24))
        if args.preview:
            write(os.path.join(args.preview, "stamp-" + name + ".png"),
                  png_bytes(preview_rows(canvas, None, 2), alpha=False))


if __name__ == "__main__":
    main()
