#!/usr/bin/python3
"""Draws the program's hand pointer and writes it as a Windows cursor file.

    /usr/bin/python3 tools/art/make_hand_cursor.py app/look/HAND-M.CUR

The hand is described as shapes (a capsule per finger, the thumb, the palm), so it can
be drawn again at another size or with other proportions; each pixel is sampled 4 x 4
times for smooth edges. The file is a 32 x 32 cursor, 32 bits a pixel with alpha and
the classic AND mask, its hot spot at the tip of the index finger.
"""

import math
import struct
import sys

SIZE = 32
SAMPLES = 4
OUTLINE = 1.15  # width of the dark edge, in pixels
HOT_SPOT = (11, 1)  # the tip of the index finger

INK = (38, 38, 46)  # the outline, a soft near-black
PAPER = (255, 255, 255)


def capsule(px, py, ax, ay, bx, by, r):
    """Signed distance from (px, py) to a segment a-b thickened by r."""
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy or 1.0)))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy)) - r


def rounded_box(px, py, x0, y0, x1, y1, r):
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    hx, hy = (x1 - x0) / 2 - r, (y1 - y0) / 2 - r
    qx, qy = abs(px - cx) - hx, abs(py - cy) - hy
    return math.hypot(max(qx, 0), max(qy, 0)) + min(max(qx, qy), 0) - r


# The fingers above the palm: (centre x, top y, radius); each runs down into the palm.
FINGERS = [(11.0, 3.0, 2.05), (15.1, 10.0, 2.05), (19.2, 11.3, 2.0), (23.0, 13.0, 1.8)]
KNUCKLE_LINE = 17.2  # below this the fingers have joined the palm


def parts(px, py):
    fingers = [capsule(px, py, x, top, x, 19.0, r) for x, top, r in FINGERS]
    thumb = capsule(px, py, 5.0, 15.2, 10.5, 21.5, 2.2)
    palm = rounded_box(px, py, 9.0, 15.5, 24.8, 27.5, 3.2)
    wrist = rounded_box(px, py, 11.0, 24.0, 23.2, 30.0, 1.2)
    return fingers, min([thumb, palm, wrist] + fingers)


def sample(px, py):
    """(inside, ink) for one point of the drawing."""
    fingers, d = parts(px, py)
    if d > 0:
        return False, False
    # Near the edge when a step of the outline's width leaves the hand. (The distances of
    # overlapping parts say nothing about the edge of their union, only about each part.)
    for k in range(12):
        a = 2 * math.pi * k / 12
        if parts(px + OUTLINE * math.cos(a), py + OUTLINE * math.sin(a))[1] > 0:
            return True, True
    # The lines between the curled fingers, down to the knuckles.
    for i, f in enumerate(fingers[1:], start=1):
        if -0.55 < f < 0.0 and py < KNUCKLE_LINE and px < FINGERS[i][0]:
            return True, True
    return True, False


def draw():
    pixels = []  # rows top-down of (r, g, b, a)
    for y in range(SIZE):
        row = []
        for x in range(SIZE):
            inside = ink = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    i, k = sample(x + (sx + 0.5) / SAMPLES, y + (sy + 0.5) / SAMPLES)
                    inside += i
                    ink += i and k
            if not inside:
                row.append((0, 0, 0, 0))
                continue
            t = ink / inside
            rgb = tuple(round(PAPER[c] * (1 - t) + INK[c] * t) for c in range(3))
            row.append(rgb + (round(255 * inside / SAMPLES ** 2),))
        pixels.append(row)
    return pixels


def cursor_file(pixels, hot_spot):
    """ICONDIR, one ICONDIRENTRY, then the BITMAPINFOHEADER image: the colour rows and
    the AND mask rows, both bottom-up, the header's height doubled for the mask."""
    colour = b"".join(struct.pack("<4B", b, g, r, a) for row in reversed(pixels) for r, g, b, a in row)
    mask = bytearray()
    for row in reversed(pixels):
        bits = 0
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits |= 1 << (31 - x)  # 1 = transparent, leftmost pixel in the top bit
        mask += struct.pack(">I", bits)
    header = struct.pack("<IiiHHIIiiII",
                         40,          # biSize
                         SIZE,        # biWidth
                         SIZE * 2,    # biHeight: colour rows and mask rows
                         1,           # biPlanes
                         32,          # biBitCount
                         0,           # biCompression: BI_RGB
                         len(colour) + len(mask),  # biSizeImage
                         0, 0, 0, 0)  # resolution and palette: unused
    image = header + colour + bytes(mask)
    directory = struct.pack("<HHH", 0, 2, 1)  # reserved, type 2 = cursor, one image
    entry = struct.pack("<BBBBHHII",
                        SIZE, SIZE,   # width, height
                        0, 0,         # colour count (none: true colour), reserved
                        hot_spot[0], hot_spot[1],
                        len(image),   # bytes of the image
                        6 + 16)       # where it starts: after the directory and this entry
    return directory + entry + image


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_hand_cursor.py OUTPUT.CUR")
    with open(sys.argv[1], "wb") as f:
        f.write(cursor_file(draw(), HOT_SPOT))


if __name__ == "__main__":
    main()
