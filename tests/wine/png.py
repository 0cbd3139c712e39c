"""Tiny PNG writer for the Wine tests (stdlib only): RGBA and palette images."""
import struct
import zlib


def _chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def _png(width, height, color_type, rows, extra=b""):
    header = struct.pack(">IIBBBBB", width, height, 8, color_type, 0, 0, 0)
    raw = b"".join(b"\x00" + row for row in rows)
    return (b"\x89PNG\r\n\x1a\n" + _chunk(b"IHDR", header) + extra +
            _chunk(b"IDAT", zlib.compress(raw, 9)) + _chunk(b"IEND", b""))


def write_rgba(path, width, height, pixel):
    """Writes an RGBA PNG; pixel(x, y) gives 0xAARRGGBB."""
    rows = []
    for y in range(height):
        row = bytearray()
        for x in range(width):
            v = pixel(x, y)
            row += bytes(((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF, (v >> 24) & 0xFF))
        rows.append(bytes(row))
    with open(path, "wb") as f:
        f.write(_png(width, height, 6, rows))


def write_indexed(path, width, height, palette, index):
    """Writes a palette PNG: palette is a list of 0xAARRGGBB (their alphas go
    to a tRNS chunk when any is below 255), index(x, y) gives each pixel's
    entry."""
    plte = b"".join(bytes(((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF)) for c in palette)
    extra = _chunk(b"PLTE", plte)
    alphas = bytes((c >> 24) & 0xFF for c in palette)
    if any(a != 0xFF for a in alphas):
        extra += _chunk(b"tRNS", alphas)
    rows = [bytes(index(x, y) for x in range(width)) for y in range(height)]
    with open(path, "wb") as f:
        f.write(_png(width, height, 3, rows, extra))
