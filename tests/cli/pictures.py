"""Small PNG files for the converter's tests, written here so that no tool
is needed: palette pictures (colour type 3) and bare headers; and the palette of one."""
import struct
import zlib

SIGNATURE = b"\x89PNG\r\n\x1a\n"


def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))


def palette_png(path, width, height, palette, index):
    """A palette PNG: palette[i] = (r, g, b), pixel (x, y) = index(x, y)."""
    rows = b"".join(b"\0" + bytes(index(x, y) for x in range(width)) for y in range(height))
    data = (SIGNATURE + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 3, 0, 0, 0)) +
            chunk(b"PLTE", b"".join(bytes(c) for c in palette)) + chunk(b"IDAT", zlib.compress(rows)) +
            chunk(b"IEND", b""))
    with open(path, "wb") as f:
        f.write(data)


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
