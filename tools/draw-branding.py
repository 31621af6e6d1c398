#!/usr/bin/python3 -I
"""Draws Vessora's images: the application icon and the sidebar's logo.

    tools/draw-branding.py [FOLDER]       (default: Resources/Branding)

writes FOLDER/hicolor/SIZExSIZE/apps/vessora.png for the freedesktop icon
sizes and FOLDER/vessora-icon-dark-v1.png (256 x 256, full bleed, for the
sidebar header, which shows it at 28 x 28 clipped to a rounded square, so it
leaves out the finest details). The PNGs are committed; run this again only
to change the artwork. Python's standard library only: shapes are signed
distance fields with analytic edge coverage, and sizes up to 64 px snap
their geometry to whole pixels so edges stay sharp.

The mark: three plates of a server stack narrowing downwards into a "V",
each with a status light, the top one lit green, on a rounded square.
"""

import math
import os
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SIZES = (16, 32, 48, 64, 128, 256, 512)
DARK_SIZE = 256

INDIGO_TOP = (0x6D, 0x6A, 0xF5)
INDIGO_BOTTOM = (0x3B, 0x2F, 0xC4)
NIGHT_TOP = (0x1E, 0x22, 0x3A)
NIGHT_BOTTOM = (0x0E, 0x10, 0x1E)
PLATE = (0xFF, 0xFF, 0xFF)
PLATE_ON_NIGHT = (0xE4, 0xE6, 0xFF)
LIGHT_ON = (0x22, 0xC5, 0x5E)
LIGHT_OFF = (0x8C, 0x8A, 0xF8)


class Canvas:
    """Premultiplied RGBA floats, row by row."""

    def __init__(self, size):
        self.size = size
        self.pixels = [[0.0, 0.0, 0.0, 0.0] for _ in range(size * size)]

    def paint(self, box, coverage, colour, opacity=1.0):
        """Composites colour(x, y) over the canvas where coverage(x, y) > 0.
        box limits the work to (x0, y0, x1, y1) in pixels."""
        x0, y0, x1, y1 = (max(0, min(self.size, int(v))) for v in
                          (math.floor(box[0]), math.floor(box[1]),
                           math.ceil(box[2]), math.ceil(box[3])))
        for y in range(y0, y1):
            row = y * self.size
            for x in range(x0, x1):
                a = coverage(x + 0.5, y + 0.5) * opacity
                if a <= 0.0:
                    continue
                r, g, b = colour(x + 0.5, y + 0.5)
                p = self.pixels[row + x]
                keep = 1.0 - a
                p[0] = r / 255.0 * a + p[0] * keep
                p[1] = g / 255.0 * a + p[1] * keep
                p[2] = b / 255.0 * a + p[2] * keep
                p[3] = a + p[3] * keep

    def png(self):
        rows = bytearray()
        for y in range(self.size):
            rows.append(0)  # no filter
            for x in range(self.size):
                r, g, b, a = self.pixels[y * self.size + x]
                if a > 0.0:
                    r, g, b = r / a, g / a, b / a
                rows.extend(round(max(0.0, min(1.0, v)) * 255) for v in (r, g, b, a))

        def chunk(kind, data):
            body = kind + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

        header = struct.pack(">IIBBBBB", self.size, self.size, 8, 6, 0, 0, 0)
        return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
                + chunk(b"IDAT", zlib.compress(bytes(rows), 9)) + chunk(b"IEND", b""))


def rounded_box(x0, y0, x1, y1, radius, softness=1.0):
    """Coverage of a rounded rectangle; softness > 1 blurs the edge (shadows)."""
    cx, cy = (x0 + x1) / 2.0, (y0 + y1) / 2.0
    hx, hy = (x1 - x0) / 2.0 - radius, (y1 - y0) / 2.0 - radius

    def coverage(x, y):
        qx, qy = abs(x - cx) - hx, abs(y - cy) - hy
        outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
        distance = outside + min(max(qx, qy), 0.0) - radius
        return max(0.0, min(1.0, 0.5 - distance / softness))

    return coverage


def circle(cx, cy, radius):
    def coverage(x, y):
        return max(0.0, min(1.0, 0.5 - (math.hypot(x - cx, y - cy) - radius)))

    return coverage


def vertical(top, bottom, y0, y1):
    def colour(_x, y):
        t = max(0.0, min(1.0, (y - y0) / (y1 - y0)))
        return tuple(a + (b - a) * t for a, b in zip(top, bottom))

    return colour


def solid(rgb):
    return lambda _x, _y: rgb


def nearest_with_parity(value, like, minimum=2):
    """The whole number nearest to value that is even when like is even and
    odd when it is odd, so a centred shape keeps whole-pixel edges."""
    low = math.floor(value)
    if (low - like) % 2:
        low -= 1
    best = low if value - low <= low + 2 - value else low + 2
    return max(best, minimum + (minimum - like) % 2)


def draw(size, full_bleed, top, bottom, plate, light_off):
    canvas = Canvas(size)
    s = float(size)

    # The rounded square. Icons leave a margin; the sidebar logo fills its box.
    margin = 0.0 if full_bleed else max(1.0, s * 0.055 if size > 64 else round(s * 0.055))
    radius = s * 0.22 if not full_bleed else 0.0
    body = (margin, margin, s - margin, s - margin)
    canvas.paint(body, rounded_box(*body, radius) if radius else (lambda x, y: 1.0),
                 vertical(top, bottom, body[1], body[3]))
    if size >= 48:  # a soft highlight along the top edge
        canvas.paint((body[0], body[1], body[2], body[1] + s * 0.5),
                     rounded_box(body[0], body[1], body[2], body[3], radius),
                     vertical((255, 255, 255), top, body[1], body[1] + s * 0.5), 0.10)

    # Three plates narrowing downwards: widths, heights and gaps as fractions
    # of the square's inner size, in whole pixels up to 64 px.
    inner = s - 2 * margin
    height, gap = inner * 0.17, inner * 0.065
    widths = [inner * f for f in (0.66, 0.53, 0.40)]
    if size <= 64:
        height, gap = float(round(height)), float(max(1, round(gap)))
        widths = [float(nearest_with_parity(w, size)) for w in widths]
    y = margin + (inner - 3 * height - 2 * gap) / 2.0
    if size <= 64:
        y = float(round(y))
    for index, width in enumerate(widths):
        x0, x1 = (s - width) / 2.0, (s + width) / 2.0
        y0, y1 = y, y + height
        cy = (y0 + y1) / 2.0
        plate_radius = min(height / 2.0, s * 0.035)
        if size >= 32:  # a soft shadow beneath
            drop, blur = s * 0.018, max(1.0, s * 0.03)
            canvas.paint((x0 - blur * 2, y0 - blur + drop, x1 + blur * 2, y1 + blur * 2 + drop),
                         rounded_box(x0, y0 + drop, x1, y1 + drop, plate_radius, blur),
                         solid((0, 0, 0)), 0.22)
        canvas.paint((x0, y0, x1, y1), rounded_box(x0, y0, x1, y1, plate_radius), solid(plate))

        # The status light at the left end, the top one lit; up to 64 px a
        # pixel-aligned square, at 16 px only the top one.
        colour = LIGHT_ON if index == 0 else light_off
        if size > 64:
            light, cx = height * 0.22, x0 + height * 0.55
            canvas.paint((cx - light - 1, cy - light - 1, cx + light + 1, cy + light + 1),
                         circle(cx, cy, light), solid(colour))
        elif size >= 32 or index == 0:
            side = nearest_with_parity(height * 0.44, int(height), minimum=1)
            lx0 = x0 + max(1.0, (height - side) / 2.0)
            ly0 = y0 + (height - side) / 2.0
            corner = side / 2.0 if side >= 4 else 0.0
            canvas.paint((lx0, ly0, lx0 + side, ly0 + side),
                         rounded_box(lx0, ly0, lx0 + side, ly0 + side, corner), solid(colour))

        # Three vent slots at the right end, above 64 px; the sidebar logo,
        # always shown small, leaves them out.
        if size > 64 and not full_bleed:
            slot_w, slot_h = height * 0.075, height * 0.40
            for k in range(3):
                right = x1 - height * 0.45 - k * slot_w * 2.4
                box = (right - slot_w, cy - slot_h / 2.0, right, cy + slot_h / 2.0)
                canvas.paint((box[0] - 1, box[1] - 1, box[2] + 1, box[3] + 1),
                             rounded_box(*box, slot_w / 2.0), solid(light_off))
        y += height + gap
    return canvas


def write(path, canvas):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(canvas.png())
    print(path)


def main():
    if len(sys.argv) > 2:
        print("usage: draw-branding.py [FOLDER]", file=sys.stderr)
        sys.exit(2)
    folder = sys.argv[1] if len(sys.argv) == 2 else os.path.join(HERE, "..", "Resources",
                                                                  "Branding")
    folder = os.path.abspath(folder)
    for size in SIZES:
        write(os.path.join(folder, "hicolor", "%dx%d" % (size, size), "apps", "vessora.png"),
              draw(size, False, INDIGO_TOP, INDIGO_BOTTOM, PLATE, LIGHT_OFF))
    write(os.path.join(folder, "vessora-icon-dark-v1.png"),
          draw(DARK_SIZE, True, NIGHT_TOP, NIGHT_BOTTOM, PLATE_ON_NIGHT, LIGHT_OFF))


if __name__ == "__main__":
    main()
