#!/usr/bin/env python3
"""Draws Kestrune's built-in 16 x 16 pictures and writes them in the image repository's stored form.

    tools/make-builtin-images.py [OUTPUT] [--preview PNG]

OUTPUT defaults to sources/images/BuiltinImages.dat (committed, embedded as a resource). --preview
also writes an enlarged sheet of every picture on a light and a dark background, to look at.

Each picture is a stack of layers: pixel grids, and shapes sampled 4 x 4 per pixel. The plain
variant (tagged 3) keeps a pixel where a layer covers at least half of it, in flat colours with hard
edges; the variant with alpha (tagged 7) blends each layer by its coverage, shades from a lighter top
to a darker bottom and casts a soft shadow. Both are stored as 32-bit ICO files of 1150 bytes.
"""
import math
import os
import struct
import sys
import zlib

PALETTE = {
    'K': (0x30, 0x30, 0x30),  # outline
    'd': (0x58, 0x5E, 0x66),  # dark grey
    'g': (0x8C, 0x92, 0x9A),  # grey
    'l': (0xB8, 0xC0, 0xC8),  # light grey (text lines)
    'w': (0xFF, 0xFF, 0xFF),
    'G': (0x34, 0xA8, 0x3C),  # green
    'h': (0x1C, 0x6A, 0x24),  # dark green
    'j': (0x8C, 0xDC, 0x7C),  # light green
    'B': (0x2E, 0x6E, 0xD6),  # blue
    'b': (0x18, 0x3A, 0x86),  # dark blue
    'c': (0x9C, 0xC8, 0xFF),  # light blue
    's': (0x4C, 0x94, 0xE8),  # screen blue
    'R': (0xDC, 0x36, 0x2A),  # red
    'r': (0x88, 0x18, 0x12),  # dark red
    'p': (0xF4, 0xA4, 0xA8),  # pink
    'P': (0xD0, 0x70, 0x78),  # dark pink
    'Y': (0xFA, 0xCC, 0x1E),  # yellow
    'y': (0xC8, 0x94, 0x08),  # dark yellow
    'o': (0xF6, 0x90, 0x28),  # orange
    'O': (0xA8, 0x54, 0x0C),  # dark orange
    't': (0xF0, 0xD4, 0xA0),  # wood
    'n': (0x9A, 0x68, 0x36),  # brown
}
OUTLINES = set('KdbrhOPny')


def grid(rows, dx=0, dy=0):
    """A layer from 16 strings of 16 characters; '.' is empty."""
    assert len(rows) == 16 and all(len(r) == 16 for r in rows), rows
    return ('grid', rows, dx, dy)


def shape(colour, inside, soft=False):
    """A layer of one colour where inside(x, y) holds, x and y continuous (pixel centres at .5).
    Only a soft layer (a silhouette) is blended by its coverage in the alpha variant: soft edges
    inside a 16 x 16 picture only blur it."""
    return ('shape', colour, inside, soft)


def disc(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ring(cx, cy, r1, r2):
    return lambda x, y: r1 * r1 <= (x - cx) ** 2 + (y - cy) ** 2 <= r2 * r2


def triangle(a, b, c):
    def side(p, q, x, y):
        return (q[0] - p[0]) * (y - p[1]) - (q[1] - p[1]) * (x - p[0])

    def inside(x, y):
        s1, s2, s3 = side(a, b, x, y), side(b, c, x, y), side(c, a, x, y)
        return (s1 >= 0 and s2 >= 0 and s3 >= 0) or (s1 <= 0 and s2 <= 0 and s3 <= 0)
    return inside


def segment(x1, y1, x2, y2, half):
    def inside(x, y):
        vx, vy = x2 - x1, y2 - y1
        t = max(0.0, min(1.0, ((x - x1) * vx + (y - y1) * vy) / (vx * vx + vy * vy)))
        px, py = x1 + t * vx, y1 + t * vy
        return (x - px) ** 2 + (y - py) ** 2 <= half * half
    return inside


def both(f, g):
    return lambda x, y: f(x, y) and g(x, y)


def without(f, g):
    return lambda x, y: f(x, y) and not g(x, y)


# --- the pictures -------------------------------------------------------------------------------

PAGE = [
    "................",
    "..ggggggg.......",
    "..gwwwwwgg......",
    "..gwwwwwglg.....",
    "..gwllllgggg....",
    "..gwwwwwwwwg....",
    "..gwllllllwg....",
    "..gwwwwwwwwg....",
    "..gwllllllwg....",
    "..gwwwwwwwwg....",
    "..gwllllllwg....",
    "..gwwwwwwwwg....",
    "..gwllllllwg....",
    "..gwwwwwwwwg....",
    "..gggggggggg....",
    "................",
]

PLUS_BADGE = [
    "................",
    "................",
    "................",
    "................",
    "................",
    "................",
    "................",
    "................",
    "................",
    "...........hhh..",
    "...........hGh..",
    ".........hhhGhhh",
    ".........hGGGGGh",
    ".........hhhGhhh",
    "...........hGh..",
    "...........hhh..",
]

CROSS_BADGE = [
    "................",
    "................",
    "................",
    "................",
    "................",
    "................",
    "................",
    "................",
    "................",
    ".........rr...rr",
    ".........rRr.rRr",
    "..........rRrRr.",
    "...........rRr..",
    "..........rRrRr.",
    ".........rRr.rRr",
    ".........rr...rr",
]

RUN = [
    "................",
    "................",
    "...hh...........",
    "...hGhh.........",
    "...hjGGhh.......",
    "...hjGGGGhh.....",
    "...hjGGGGGGhh...",
    "...hjGGGGGGGGh..",
    "...hGGGGGGGGGh..",
    "...hGGGGGGGhh...",
    "...hGGGGGhh.....",
    "...hGGGhh.......",
    "...hGhh.........",
    "...hh...........",
    "................",
    "................",
]

SHORTCUT = [
    "................",
    "................",
    "..dddddddddddd..",
    "..dwwwwwwwwwwd..",
    "..dwwwwwbbbbwd..",
    "..dwwwwwwBBbwd..",
    "..dwwwwwBBBbwd..",
    "..dwwwwBBbwbwd..",
    "..dwwwBBbwwwwd..",
    "..dwwBBbwwwwwd..",
    "..dwwBbwwwwwwd..",
    "..dwwBbwwwwwwd..",
    "..dwwwwwwwwwwd..",
    "..dddddddddddd..",
    "................",
    "................",
]

EDIT = [
    "................",
    "............KKK.",
    "...........KppPK",
    "..........KppPK.",
    ".........KlggK..",
    "........KYYyK...",
    ".......KYYyK....",
    "......KYYyK.....",
    ".....KYYyK......",
    "....KYYyK.......",
    "...KYYyK........",
    "..KttnK.........",
    ".KttK...........",
    ".KdK............",
    ".K..............",
    "................",
]

ARROW_UP = [
    "................",
    ".......bb.......",
    "......bBBb......",
    ".....bBBBBb.....",
    "....bBBBBBBb....",
    "...bBBBBBBBBb...",
    "..bBBBBBBBBBBb..",
    "..bbbbBBBBbbbb..",
    ".....bBBBBb.....",
    ".....bBBBBb.....",
    ".....bBBBBb.....",
    ".....bBBBBb.....",
    ".....bBBBBb.....",
    ".....bBBBBb.....",
    ".....bbbbbb.....",
    "................",
]

START = [
    "................",
    ".ddddddddddd....",
    ".dBwwwwwwwwd....",
    ".dBwRwllllwd....",
    ".dBwwwwwwwwd....",
    ".dBwGwllllwd....",
    ".dBwwwwwwwwd....",
    ".dBwYwllllwd....",
    ".dBwwwwwwwwd....",
    ".dBwBwllllwd....",
    ".dBwwwwwwwwd....",
    ".ddddddddddd....",
    "................",
    ".hhhhhhh........",
    ".hjGGGGh........",
    ".hhhhhhh........",
]

DESKTOP = [
    "................",
    ".dddddddddddddd.",
    ".dcccsssssssssd.",
    ".dccssssssYYssd.",
    ".dcsssssssYYssd.",
    ".dssssssssssssd.",
    ".dssssssssssssd.",
    ".dsssssssGGsssd.",
    ".dssssGGGGGGGsd.",
    ".dGGGGGGGGGGGGd.",
    ".dddddddddddddd.",
    "......dggd......",
    "....dddddddd....",
    "....dggggggd....",
    "....dddddddd....",
    "................",
]

QUICK = [
    "................",
    "........OOOOOO..",
    ".......OYYYYYO..",
    "......OYYYYYO...",
    ".....OYYYYYO....",
    "....OYYYYYOOOO..",
    "...OYYYYYYYYYO..",
    "..OOOOOOYYYYO...",
    ".......OYYYO....",
    "......OYYYO.....",
    "......OYYO......",
    ".....OYYO.......",
    ".....OYO........",
    "....OYO.........",
    "....OO..........",
    "................",
]

GROUND = [
    "................",
    "................",
    "................",
    "................",
    "................",
    "................",
    "................",
    "................",
    "................",
    "................",
    "................",
    "hhhhhhhhhhhhhhhh",
    "GGGGGGGGGGGGGGGG",
    "GGGjGGGGGGGGjGGG",
    "GGGGGGGGGGGGGGGG",
    "................",
]


def flipped(rows):
    return list(reversed(rows))


def quit_layers():
    power_ring = without(ring(8, 8.5, 2.4, 3.7), lambda x, y: y < 7.2 and abs(x - 8) < 1.9)
    return [
        shape('r', disc(8, 8, 7.4), soft=True),
        shape('R', disc(8, 8, 6.4)),
        shape('w', power_ring),
        shape('w', lambda x, y: 7.25 <= x <= 8.75 and 3.2 <= y <= 8.6),
    ]


def startup_layers():
    above = lambda x, y: y < 11.0
    rays = []
    for angle in (180, 135, 90, 45, 0):
        a = math.radians(angle)
        x1, y1 = 8 + 6.0 * math.cos(a), 11 - 6.0 * math.sin(a)
        x2, y2 = 8 + 7.6 * math.cos(a), 11 - 7.6 * math.sin(a)
        rays.append(shape('o', both(segment(x1, y1, x2, y2, 0.7), above)))
    return rays + [
        shape('O', both(disc(8, 11, 4.8), above)),
        shape('Y', both(disc(8, 11, 3.8), above)),
        grid(GROUND),
    ]


def main_icon_layers():
    globe = disc(7.5, 7.5, 6.0)
    return [
        shape('b', disc(7.5, 7.5, 6.9), soft=True),
        shape('B', globe),
        shape('G', both(globe, lambda x, y: (x - 4.6) ** 2 / 4 + (y - 5.0) ** 2 / 2.2 <= 1)),
        shape('G', both(globe, lambda x, y: (x - 10.0) ** 2 / 3 + (y - 10.4) ** 2 / 3.5 <= 1)),
        shape('c', both(globe, lambda x, y: abs(y - 7.5) <= 0.5)),
        shape('c', both(globe, lambda x, y: abs(((x - 7.5) / 3.0) ** 2 + ((y - 7.5) / 6.0) ** 2 - 1) <= 0.3)),
        shape('O', triangle((8.2, 7.8), (8.2, 15.6), (15.4, 11.7)), soft=True),
        shape('o', triangle((9.3, 9.6), (9.3, 13.8), (13.2, 11.7))),
    ]


# Names in the order of the lists; every name but the last has a plain and an alpha variant.
PICTURES = [
    ("RUN", [grid(RUN)]),
    ("SHORTCUT", [grid(SHORTCUT)]),
    ("DOC_ADD2", [grid(PAGE), grid(PLUS_BADGE)]),
    ("EDIT", [grid(EDIT)]),
    ("DOC_DELETE2", [grid(PAGE), grid(CROSS_BADGE)]),
    ("ARROW_UP", [grid(ARROW_UP)]),
    ("ARROW_DOWN", [grid(flipped(ARROW_UP))]),
    ("QUIT", quit_layers()),
    ("START", [grid(START)]),
    ("DESKTOP", [grid(DESKTOP)]),
    ("QUICK", [grid(QUICK)]),
    ("STARTUP", startup_layers()),
]
MAIN_ICON = ("MAIN_ICON", main_icon_layers())

# --- rendering ----------------------------------------------------------------------------------

SUB = 4


def coverage(layer, x, y):
    kind = layer[0]
    if kind == 'grid':
        _, rows, dx, dy = layer
        gx, gy = x - dx, y - dy
        if 0 <= gx < 16 and 0 <= gy < 16 and rows[gy][gx] != '.':
            return rows[gy][gx], 1.0
        return None, 0.0
    _, colour, inside, _ = layer
    hits = sum(inside(x + (i + 0.5) / SUB, y + (j + 0.5) / SUB) for i in range(SUB) for j in range(SUB))
    return colour, hits / (SUB * SUB)


def render(layers, with_alpha):
    """Returns 16 rows of 16 (r, g, b, a) pixels, top row first."""
    pixels = [[(0, 0, 0, 0)] * 16 for _ in range(16)]
    for y in range(16):
        for x in range(16):
            r = g = b = a = 0.0
            for layer in layers:
                colour, cov = coverage(layer, x, y)
                if not colour or cov <= 0:
                    continue
                if not with_alpha or not (layer[0] == 'shape' and layer[3]):
                    cov = 1.0 if cov >= 0.5 else 0.0
                    if cov == 0:
                        continue
                cr, cg, cb = PALETTE[colour]
                if with_alpha and colour not in OUTLINES:
                    # lighter top, darker bottom
                    f = 1.14 - 0.24 * (y / 15.0)
                    cr, cg, cb = (min(255, c * f) for c in (cr, cg, cb))
                # premultiplied "over"
                r = cr * cov + r * (1 - cov)
                g = cg * cov + g * (1 - cov)
                b = cb * cov + b * (1 - cov)
                a = cov + a * (1 - cov)
            if a > 0:
                pixels[y][x] = (round(r / a), round(g / a), round(b / a), round(a * 255))
    if with_alpha:
        shadow = [[(0, 0, 0, 0)] * 16 for _ in range(16)]
        for y in range(16):
            for x in range(16):
                if pixels[y][x][3] == 0 and x > 0 and y > 0 and pixels[y - 1][x - 1][3] >= 128:
                    shadow[y][x] = (0, 0, 0, 70)
        for y in range(16):
            for x in range(16):
                if shadow[y][x][3]:
                    pixels[y][x] = shadow[y][x]
    return pixels


def ico(pixels):
    """A 16 x 16, 32-bit ICO file: header, one directory entry, BITMAPINFOHEADER, BGRA rows from
    the bottom, AND mask rows (4 bytes each) from the bottom."""
    xor = b''.join(bytes((p[2], p[1], p[0], p[3])) for row in reversed(pixels) for p in row)
    mask = b''
    for row in reversed(pixels):
        bits = 0
        for x, p in enumerate(row):
            if p[3] == 0:
                bits |= 0x8000 >> x
        mask += struct.pack('>H', bits) + b'\0\0'
    info = struct.pack('<IiiHHIIiiII', 40, 16, 32, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    body = info + xor + mask
    header = struct.pack('<HHH', 0, 1, 1)
    entry = struct.pack('<BBBBHHII', 16, 16, 0, 0, 1, 32, len(body), 22)
    data = header + entry + body
    assert len(data) == 1150
    return data


def string(value):
    return struct.pack('<I', len(value)) + value


def stored_form():
    images = []  # (name, pixel format, pixels)
    for name, layers in PICTURES:
        images.append((name, 3, render(layers, False)))
        images.append((name, 7, render(layers, True)))
    images.append((MAIN_ICON[0], 7, render(MAIN_ICON[1], True)))

    out = struct.pack('<I', len(images))
    for name, code, pixels in images:
        out += string(name.encode()) + bytes((1, code, 1)) + string(ico(pixels))
    plain = [i for i, im in enumerate(images) if im[1] == 3]
    alpha = [i for i, im in enumerate(images) if im[1] == 7]
    groups = [("MenuXP", alpha), ("Menu", plain)]
    out += struct.pack('<I', len(groups))
    for name, refs in groups:
        out += string(name.encode()) + struct.pack('<ii', 16, 16) + b'\1' + struct.pack('<I', len(refs))
        out += b''.join(struct.pack('<i', i) for i in refs)
    return out, images


def png(width, height, rows):
    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))
    raw = b''.join(b'\0' + bytes(c for p in row for c in p) for row in rows)
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 2, 0, 0, 0))
            + chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))


def preview(images, path, scale=8):
    """Columns: each picture's plain and alpha variant; rows: on white, on light grey, on dark grey,
    and at their real size."""
    backgrounds = [(255, 255, 255), (0xE0, 0xE0, 0xE0), (0x30, 0x30, 0x34)]
    cell = 16 * scale + 8
    width = cell * len(images)
    height = cell * len(backgrounds) + 3 * 24
    rows = [[(0x80, 0x80, 0x80)] * width for _ in range(height)]
    for col, (_, _, pixels) in enumerate(images):
        for band, bg in enumerate(backgrounds):
            for y in range(16 * scale):
                for x in range(16 * scale):
                    p = pixels[y // scale][x // scale]
                    a = p[3] / 255
                    rows[band * cell + 4 + y][col * cell + 4 + x] = tuple(
                        round(p[i] * a + bg[i] * (1 - a)) for i in range(3))
            for y in range(16):
                for x in range(16):
                    p = pixels[y][x]
                    a = p[3] / 255
                    rows[len(backgrounds) * cell + band * 24 + 4 + y][col * cell + 4 + x] = tuple(
                        round(p[i] * a + bg[i] * (1 - a)) for i in range(3))
    with open(path, 'wb') as f:
        f.write(png(width, height, rows))


def main(argv):
    top = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    output = os.path.join(top, 'sources', 'images', 'BuiltinImages.dat')
    preview_path = None
    args = list(argv)
    while args:
        a = args.pop(0)
        if a == '--preview':
            preview_path = args.pop(0)
        else:
            output = a
    data, images = stored_form()
    assert len(data) == 29346, len(data)
    with open(output, 'wb') as f:
        f.write(data)
    if preview_path:
        preview(images, preview_path)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
