#!/usr/bin/env python3
# Draws Vantrel's program icon, a MIDI DIN socket (silver shell, navy face,
# five gold pins, key notch at the top), and writes it as
# resources/Vantrel.ico: 48, 32 and 16 pixels at 4, 8 and 24 bits per pixel,
# nine images in all.
# Python 3 standard library only. After writing, the file is read back and
# checked; any fault stops the script with a non-zero exit status.
#
# Usage: python3 scripts/make_icon.py [output.ico]

import math
import os
import struct
import sys

SIZES = (48, 32, 16)
DEPTHS = (4, 8, 24)
SUPERSAMPLE = 8

# Each size is drawn from its own measurements (in pixels) so that the small
# versions stay crisp instead of being a blurred copy of the large one.
#   outline   dark rim round the outside
#   metal     width of the silver shell
#   inner     dark line between shell and face (0 for none)
#   notch_w, notch_d   key notch cut from the face up into the shell
#   pin_arc   distance of the pin centres from the middle
#   pin_r     pin radius (half the side for square pins)
#   pin_rim   darker rim on each pin (0 for none)
LAYOUT = {
    48: dict(outline=1.5, metal=5.0, inner=1.0, notch_w=6, notch_d=2.0,
             pin_arc=10.5, pin_r=3.0, pin_rim=0.9, square_pins=False),
    32: dict(outline=1.0, metal=3.5, inner=1.0, notch_w=4, notch_d=1.0,
             pin_arc=7.0, pin_r=2.0, pin_rim=0.0, square_pins=False),
    16: dict(outline=0.75, metal=1.5, inner=0.0, notch_w=2, notch_d=1.0,
             pin_arc=4.0, pin_r=1.0, pin_rim=0.0, square_pins=True),
}

OUTLINE = (36, 38, 46)
METAL_LIGHT = (246, 246, 250)
METAL_DARK = (128, 132, 142)
FACE_LIGHT = (34, 52, 140)
FACE_DARK = (16, 26, 100)
FACE_FLAT = (0, 0, 128)  # palette images: a gradient there would band
PIN = (250, 210, 60)
PIN_RIM = (150, 108, 20)

# The standard 16-colour Windows (VGA) palette.
VGA16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
# The VGA colours the 4 bpp images may use: black, olive, navy, silver, grey,
# yellow and white. Without this, edges blended from navy and silver would
# come out teal.
VGA16_USED = (0, 3, 4, 7, 8, 11, 15)


def palette_256():
    """The 16 VGA colours, a 6x6x6 colour cube and 24 extra greys."""
    levels = (0, 51, 102, 153, 204, 255)
    cube = [(r, g, b) for r in levels for g in levels for b in levels]
    greys = [(v, v, v) for v in (round(i * 255 / 25) for i in range(1, 25))]
    palette = VGA16 + cube + greys
    assert len(palette) == 256
    return palette


def lerp(a, b, t):
    t = min(1.0, max(0.0, t))
    return tuple(x + (y - x) * t for x, y in zip(a, b))


def pin_centres(size, lay):
    """Five pins on the lower half-circle, snapped to whole pixel corners."""
    c = size / 2
    centres = []
    for degrees in (-90, -45, 0, 45, 90):
        a = math.radians(degrees)
        x = c + lay["pin_arc"] * math.sin(a)
        y = c + lay["pin_arc"] * math.cos(a)
        centres.append((round(x), round(y)))
    return centres


def shade(x, y, size, lay, pins, flat):
    """Colour of the point (x, y), in pixels from the top left, or None.

    flat gives the face one colour, for the palette images.
    """
    c = size / 2
    r_out = size / 2
    r_metal = r_out - lay["outline"]
    r_face = r_metal - lay["metal"]
    dx, dy = x - c, y - c
    d = math.hypot(dx, dy)
    if d > r_out:
        return None
    # 0 at the top left of the disc, 1 at the bottom right.
    t = 0.5 + (dx + dy) / (2 * math.sqrt(2) * r_out)

    for px, py in pins:
        if lay["square_pins"]:
            inside = max(abs(x - px), abs(y - py)) <= lay["pin_r"]
            edge = False
        else:
            pd = math.hypot(x - px, y - py)
            inside = pd <= lay["pin_r"]
            edge = pd > lay["pin_r"] - lay["pin_rim"]
        if inside:
            if edge:
                return PIN_RIM
            return lerp(PIN, PIN_RIM, (y - py + lay["pin_r"]) /
                        (4 * lay["pin_r"]))

    def in_face(grow):
        if d <= r_face + grow:
            return True
        half = lay["notch_w"] / 2 + grow
        top = c - r_face - lay["notch_d"] - grow
        return abs(dx) <= half and top <= y <= c

    if in_face(0):
        return FACE_FLAT if flat else lerp(FACE_DARK, FACE_LIGHT, t)
    if d > r_metal or (lay["inner"] and in_face(lay["inner"])):
        return OUTLINE
    return lerp(METAL_LIGHT, METAL_DARK, t)


def render(size, flat):
    """Rows of (r, g, b) or None (transparent), top row first."""
    lay = LAYOUT[size]
    pins = pin_centres(size, lay)
    n = SUPERSAMPLE
    rows = []
    for j in range(size):
        row = []
        for i in range(size):
            acc = [0.0, 0.0, 0.0]
            hits = 0
            for sj in range(n):
                for si in range(n):
                    col = shade(i + (si + 0.5) / n, j + (sj + 0.5) / n,
                                size, lay, pins, flat)
                    if col is not None:
                        hits += 1
                        for k in range(3):
                            acc[k] += col[k]
            if hits * 2 < n * n:
                row.append(None)
            else:
                row.append(tuple(min(255, round(v / hits)) for v in acc))
        rows.append(row)
    return rows


def quantiser(bpp):
    """The colour table for bpp and a function giving an (r, g, b)'s index
    in it (the nearest allowed colour); ([], None) for 24 bpp."""
    if bpp == 24:
        return [], None
    palette = VGA16 if bpp == 4 else palette_256()
    allowed = VGA16_USED if bpp == 4 else range(len(palette))
    cache = {}

    def index(rgb):
        if rgb not in cache:
            r, g, b = rgb

            def dist(k):
                pr, pg, pb = palette[k]
                return (3 * (r - pr) ** 2 + 4 * (g - pg) ** 2
                        + 2 * (b - pb) ** 2)

            cache[rgb] = min(allowed, key=dist)
        return cache[rgb]
    return palette, index


def row_bytes(width, bpp):
    return (width * bpp + 31) // 32 * 4


def encode_image(rows, bpp):
    """One BITMAPINFOHEADER image (palette, XOR bitmap, AND mask)."""
    size = len(rows)
    palette, index = quantiser(bpp)

    xor = bytearray()
    mask = bytearray()
    for row in reversed(rows):  # bottom-up
        line = bytearray()
        if bpp == 24:
            for px in row:
                r, g, b = px if px is not None else (0, 0, 0)
                line += bytes((b, g, r))
        else:
            idx = [index(px) if px is not None else 0 for px in row]
            if bpp == 8:
                line += bytes(idx)
            else:
                for k in range(0, size, 2):
                    hi = idx[k]
                    lo = idx[k + 1] if k + 1 < size else 0
                    line.append(hi << 4 | lo)
        line += bytes(row_bytes(size, bpp) - len(line))
        xor += line

        bits = bytearray(row_bytes(size, 1))
        for k, px in enumerate(row):
            if px is None:
                bits[k // 8] |= 0x80 >> (k % 8)
        mask += bits

    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bpp, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    table = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    return header + table + bytes(xor) + bytes(mask)


def build_ico():
    images = []
    renders = {(size, flat): render(size, flat)
               for size in SIZES for flat in (False, True)}
    for bpp in DEPTHS:
        for size in SIZES:
            rows = renders[size, bpp < 24]
            images.append((size, bpp, encode_image(rows, bpp)))

    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, bpp, data in images:
        colours = 16 if bpp == 4 else 0
        out += struct.pack("<BBBBHHII", size % 256, size % 256, colours, 0,
                           1, bpp, len(data), offset)
        offset += len(data)
    for _, _, data in images:
        out += data
    return bytes(out), renders


def check_ico(data, renders):
    """Parse data back and return a list of faults (empty when it is good)."""
    faults = []
    expected = [(s, b) for b in DEPTHS for s in SIZES]
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    if (reserved, kind, count) != (0, 1, len(expected)):
        return ["header is %r" % ((reserved, kind, count),)]
    end_of_dir = 6 + 16 * count
    next_offset = end_of_dir
    for n, (size, bpp) in enumerate(expected):
        (w, h, colours, res, planes, bits, length,
         offset) = struct.unpack_from("<BBBBHHII", data, 6 + 16 * n)
        where = "image %d (%dx%d %d bpp)" % (n, size, size, bpp)
        want = (size, size, 16 if bpp == 4 else 0, 0, 1, bpp)
        if (w, h, colours, res, planes, bits) != want:
            faults.append("%s: directory entry %r" %
                          (where, (w, h, colours, res, planes, bits)))
        if offset != next_offset:
            faults.append("%s: at offset %d, expected %d" %
                          (where, offset, next_offset))
        if offset + length > len(data):
            faults.append("%s: %d bytes at %d run past the end of the file" %
                          (where, length, offset))
            continue
        next_offset = offset + length

        (hsize, bw, bh, bplanes, bbits, comp,
         _, _, _, used, _) = struct.unpack_from("<IiiHHIIiiII", data, offset)
        if (hsize, bw, bh, bplanes, bbits, comp) != (40, size, 2 * size, 1,
                                                     bpp, 0):
            faults.append("%s: bitmap header %r" %
                          (where, (hsize, bw, bh, bplanes, bbits, comp)))
            continue
        n_colours = (used or 1 << bpp) if bpp <= 8 else 0
        xor_at = offset + 40 + 4 * n_colours
        xor_len = row_bytes(size, bpp) * size
        mask_at = xor_at + xor_len
        mask_len = row_bytes(size, 1) * size
        if mask_at + mask_len != offset + length:
            faults.append("%s: length %d, bitmaps need %d" %
                          (where, length, mask_at + mask_len - offset))
            continue

        # Decode every pixel and compare with what was drawn.
        palette = [tuple(data[xor_at - 4 * n_colours + 4 * k + 2 - c]
                         for c in range(3)) for k in range(n_colours)]
        drawn = renders[size, bpp < 24]
        table, match = quantiser(bpp)
        if palette != table:
            faults.append("%s: colour table differs" % where)
        wrong = 0
        for y in range(size):
            src = drawn[size - 1 - y]
            xrow = data[xor_at + y * row_bytes(size, bpp):]
            mrow = data[mask_at + y * row_bytes(size, 1):]
            for x in range(size):
                clear = mrow[x // 8] >> (7 - x % 8) & 1
                if bpp == 24:
                    rgb = (xrow[3 * x + 2], xrow[3 * x + 1], xrow[3 * x])
                else:
                    if bpp == 8:
                        k = xrow[x]
                    else:
                        k = xrow[x // 2] >> (4 if x % 2 == 0 else 0) & 15
                    rgb = palette[k]
                if clear != (src[x] is None):
                    wrong += 1
                elif clear and rgb != (0, 0, 0):
                    wrong += 1
                elif not clear and bpp == 24 and rgb != src[x]:
                    wrong += 1
                elif not clear and bpp < 24:
                    if rgb != table[match(src[x])]:
                        wrong += 1
        if wrong:
            faults.append("%s: %d pixels differ from the drawing" %
                          (where, wrong))
        corners = [drawn[0][0], drawn[0][-1], drawn[-1][0], drawn[-1][-1]]
        middle = drawn[size // 2][size // 2]
        if any(c is not None for c in corners) or middle is None:
            faults.append("%s: corners not clear or middle not opaque" %
                          where)
    if next_offset != len(data):
        faults.append("file is %d bytes, images end at %d" %
                      (len(data), next_offset))
    return faults


def main(argv):
    if len(argv) > 2:
        sys.stderr.write("usage: make_icon.py [output.ico]\n")
        return 2
    here = os.path.dirname(os.path.abspath(__file__))
    default = os.path.join(here, os.pardir, "resources", "Vantrel.ico")
    path = argv[1] if len(argv) == 2 else os.path.normpath(default)

    data, renders = build_ico()
    with open(path, "wb") as f:
        f.write(data)
    with open(path, "rb") as f:
        written = f.read()
    try:
        faults = check_ico(written, renders)
    except (struct.error, IndexError) as e:
        faults = ["cannot be read back: %s" % e]
    for fault in faults:
        sys.stderr.write("make_icon.py: %s: %s\n" % (path, fault))
    if faults:
        return 1
    print("wrote %s (%d bytes, %d images)" %
          (path, len(data), len(SIZES) * len(DEPTHS)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
