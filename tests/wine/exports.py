"""Helpers of the export tests: test pictures, the native reference export, the
fields of written files and a look at what a folder holds."""
import os
import struct
import subprocess
import sys

from pvrhost import HostCase

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "cli"))
import pictures  # noqa: E402  (the PNG writer the converter's tests use)
from textures import unpack_color as grid_colour  # noqa: E402  (colours on the 16-bit grid survive packing)

NATIVE = os.environ.get("OMBR_NATIVE_DIR", "")
REFERENCE_TOOL = os.path.join(NATIVE, "tests", "tools", "export_reference")

# The dialog's lists: item data -> label.
DATA_TYPE_LABELS = {1: "1 : Twiddled", 5: "5 : Twiddled Pal(4bit)", 7: "7 : Twiddled Pal(8bit)",
                    9: "9 : Rectangle", 13: "d : Twiddled"}
COLOR_FORMAT_LABELS = {0: "0 : ARGB1555", 1: "1 : RGB565", 2: "2 : ARGB4444", 5: "5 : Pal(4bit)",
                       6: "6 : Pal(8bit)"}
FILE_RADIO = "ファイル名から判断(&F)"
TAG_RADIO = "レイヤー名から判断(&L)"
DIALOG_CAPTION = "パラメータの設定"
EXPORT_CAPTION = "ombrout.ppi"
PICTURE_SIZE_MESSAGE = "画像の幅と高さは1から65535まで、画素数は8192×8192まででなければなりません"
LAYOUT_SIZE_MESSAGE = "この画像タイプでは、画像の幅と高さは2のべき乗で、短い辺は1024以下でなければなりません"
LAYERS_MESSAGE = "複数のレイヤーを持つイメージは PVZ及びPVR 形式で保存できません"
PAIR_MESSAGE = "この画像タイプとカラータイプの組み合わせでは保存できません"
ID_MESSAGE = "IDは0から4294967295までの数でなければなりません"
SIZE_CAPTION = "nWidth:%d nHeight:%d nLeft:%d nTop:%d"
MB_OK, MB_ICONERROR = 0x00, 0x10

PALETTISED = (5, 7)                 # DataTypes written with a .pvp beside
REFUSED = {(d, c) for d in (5, 7, 9) for c in (5, 6)}   # nothing to pack these with


def mix(x, y, seed=1):
    """A deterministic hash of (x, y)."""
    h = (x * 0x9E3779B1 ^ (y + seed * 0x85EBCA77) * 0xC2B2AE3D) & 0xFFFFFFFF
    h ^= h >> 15
    h = (h * 0x2C1B3C6D) & 0xFFFFFFFF
    h ^= h >> 12
    h = (h * 0x297A2D39) & 0xFFFFFFFF
    return h ^ (h >> 15)


any_colour = mix   # any 0xAARRGGBB, alpha included: any_colour(x, y[, seed])


def palette_colours(count, seed, color_format=None):
    """`count` distinct opaque colours, on the grid of color_format when given."""
    colours, seen, i = [], set(), 0
    while len(colours) < count:
        v = mix(i, 0x77, seed) & 0xFFFF
        c = grid_colour(color_format, v) if color_format is not None else mix(i, 0x77, seed)
        c |= 0xFF000000
        i += 1
        if c not in seen:
            seen.add(c)
            colours.append(c)
    return colours


write_direct = pictures.write_rgba   # (path, width, height, colour of (x, y))


def write_indexed(path, width, height, colours, seed=1):
    """A palette PNG whose pixel (x, y) is a hashed index below len(colours);
    returns the index function."""
    def index(x, y):
        return mix(x, y, seed) % len(colours)
    pictures.write_indexed(path, width, height, colours, index)
    return index


def u32(data, at):
    return struct.unpack_from("<I", data, at)[0]


def texel_length(data_type, color_format, width, height):
    if data_type == 5 or (data_type in (1, 13) and color_format == 5):
        return width * height // 2
    if data_type == 7 or (data_type in (1, 13) and color_format == 6):
        return width * height
    return 2 * width * height


def read(path):
    with open(path, "rb") as f:
        return f.read()


def listing(folder):
    """Every file below `folder` with its bytes."""
    found = {}
    for base, _, names in os.walk(folder):
        for name in names:
            full = os.path.join(base, name)
            found[os.path.relpath(full, folder)] = read(full)
    return found


class ExportCase(HostCase):
    """A HostCase with an input folder (pictures) and an output folder (what
    the plug-in writes), kept apart so that 'nothing written' is exact."""

    def setUp(self):
        super().setUp()
        self.pictures = self.path("pictures")
        self.out = self.path("out")
        os.mkdir(self.pictures)
        os.mkdir(self.out)

    def picture(self, name):
        return os.path.join(self.pictures, name)

    def target(self, name):
        return os.path.join(self.out, name)

    def reference(self, png_path, name, data_type, color_format, global_index=0, *options):
        """The files that the export core writes natively for the same host
        image and settings, as {name: bytes}."""
        if not os.path.exists(REFERENCE_TOOL):
            self.fail("no %s: build the native target export_reference" % REFERENCE_TOOL)
        folder = self.path("reference-%d" % len(os.listdir(self.dir)))
        os.mkdir(folder)
        done = subprocess.run([REFERENCE_TOOL, png_path, os.path.join(folder, name), "--type", str(data_type),
                               "--color", str(color_format), "--id", str(global_index)] + [str(o) for o in options],
                              capture_output=True, text=True, timeout=60)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(done.stdout.strip(), "status 0", done.stderr)
        return listing(folder)

    def assertMessages(self, report, *expected):
        """expected: (text, caption, flags, owner) of each message box, owner
        being "host" or "settings-dialog"."""
        self.assertEqual([(m["text"], m["caption"], m["flags"], m["owned"]) for m in report["messages"]],
                         [(text, caption, flags, True) for text, caption, flags, _ in expected])
        self.assertEqual(report["message_owners"], [owner for _, _, _, owner in expected])

    def clear_out(self):
        for name in os.listdir(self.out):
            os.remove(os.path.join(self.out, name))

    def assertNothingWritten(self):
        self.assertEqual(listing(self.out), {})

    def assertPixelsReadOnce(self, report, width, height, index_data):
        calls = {k: report["calls"][k] for k in ("get_pixel", "pixels_outside", "set_pixel", "begin_progress",
                                                 "end_progress", "step_progress", "bad_slots")}
        self.assertEqual(calls, {"get_pixel": width * height, "pixels_outside": 0, "set_pixel": 0,
                                 "begin_progress": [[0, height]], "end_progress": 1, "bad_slots": [],
                                 "step_progress": list(range(0, height, 2 if index_data else 1))})

    def assertHeader(self, texture, pvz, data_type, color_format, global_index, width, height):
        """The header of a written .pvr, or of a .pvz behind its size field."""
        length = texel_length(data_type, color_format, width, height)
        self.assertEqual(struct.unpack_from("<4sIII4sIBB2sHH", texture, 4 if pvz else 0),
                         (b"GBIX", 8, global_index, 0, b"PVRT", 8 + length, color_format, data_type, b"\0\0",
                          width, height))
        self.assertEqual(u32(texture, 0) if pvz else len(texture), 32 + length)


def pack(color_format, argb):
    """A host colour packed into a 16-bit value of ColorFormat 0, 1 or 2."""
    a, r, g, b = (argb >> 24) & 255, (argb >> 16) & 255, (argb >> 8) & 255, argb & 255
    if color_format == 0:
        return (a >> 7) << 15 | (r >> 3) << 10 | (g >> 3) << 5 | b >> 3
    if color_format == 1:
        return (r >> 3) << 11 | (g >> 2) << 5 | b >> 3
    return (a >> 4) << 12 | (r >> 4) << 8 | (g >> 4) << 4 | b >> 4


def palette_file(entries):
    """A PVPL file of these 16-bit entries."""
    return struct.pack("<4sIIHH%dH" % len(entries), b"PVPL", 2 * len(entries) + 8, 0, 0, len(entries), *entries)


def palette_entries(pvp):
    """The entries of a .pvp file, after checking its header."""
    count = struct.unpack_from("<H", pvp, 14)[0]
    assert pvp[0:4] == b"PVPL" and u32(pvp, 4) == 2 * count + 8 and pvp[8:14] == b"\0" * 6, pvp[:16]
    assert len(pvp) == 16 + 2 * count, len(pvp)
    return list(struct.unpack_from("<%dH" % count, pvp, 16))
