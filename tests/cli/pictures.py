"""Small PNG files for the converter's and the plug-ins' tests, written here
so that no tool is needed: RGBA and palette pictures and bare headers; and
the palette of one."""
import struct
import zlib

SIGNATURE = b"\x89PNG\r\n\x1a\n"


def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))


def _png(width, height, color_type, rows, extra=b""):
    header = struct.pack(">IIBBBBB", width, height, 8, color_type, 0, 0, 0)
    raw = b"".join(b"\0" + row for row in rows)
    return SIGNATURE + chunk(b"IHDR", header) + extra + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def write_rgba(path, width, height, pixel):
    """An RGBA PNG; pixel(x, y) gives 0xAARRGGBB."""
    rows = [b"".join(struct.pack(">I", (v << 8 | v >> 24) & 0xFFFFFFFF) for v in (pixel(x, y) for x in range(width)))
            for y in range(height)]
    with open(path, "wb") as f:
        f.write(_png(width, height, 6, rows))


def write_indexed(path, width, height, palette, index):
    """A palette PNG: palette is a list of 0xAARRGGBB (their alphas go to a
    tRNS chunk when any is below 255), index(x, y) gives each pixel's entry."""
    extra = chunk(b"PLTE", b"".join(struct.pack(">I", c)[1:] for c in palette))
    alphas = bytes((c >> 24) & 0xFF for c in palette)
    if any(a != 0xFF for a in alphas):
        extra += chunk(b"tRNS", alphas)
    rows = [bytes(index(x, y) for x in range(width)) for y in range(height)]
    with open(path, "wb") as f:
        f.write(_png(width, height, 3, rows, extra))


def palette_png(path, width, height, palette, index):
    """A palette PNG: palette[i] = (r, g, b), pixel (x, y) = index(x, y)."""
    write_indexed(path, width, height, [0xFF000000 | r << 16 | g << 8 | b for r, g, b in palette], index)


def header_only_png(path, width, height):
    """The signature and an IHDR declaring width x height RGBA, and nothing more."""
    with open(path, "wb") as f:
        f.write(SIGNATURE + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)))


def palette(salt):
    """256 distinct colours, different for each salt."""
    return [((i * 7 + salt * 31) % 256, (i * 13 + salt) % 256, i) for i in range(256)]


def png_palette(path):
    """PLTE and tRNS of a PNG as 0xAARRGGBB values; None for a PNG without PLTE."""
    data = open(path, "rb").read()
    position, rgb, alpha = 8, None, b""
    while position + 8 <= len(data):
        length, kind = struct.unpack_from(">I4s", data, position)
        body = data[position + 8:position + 8 + length]
        if kind == b"PLTE":
            rgb = body
        elif kind == b"tRNS":
            alpha = body
        position += 12 + length
    if rgb is None:
        return None
    return [(alpha[i] if i < len(alpha) else 255) << 24 | rgb[3 * i] << 16 | rgb[3 * i + 1] << 8 | rgb[3 * i + 2]
            for i in range(len(rgb) // 3)]
