"""Test textures from the native make_texture tool, and the pixels the import must give for them."""
import os
import struct
import subprocess

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
NATIVE = os.environ.get("OMBR_NATIVE_DIR", os.path.join(ROOT, "build", "native"))
MAKE_TEXTURE = os.path.join(NATIVE, "tests", "tools", "make_texture")

# The 16-bit colours by their bit fields (alpha, red, green, blue: first bit
# and width), written out here rather than read from the code's own table.
FIELDS = {
    0: ((15, 1), (10, 5), (5, 5), (0, 5)),   # ARGB1555
    1: (None, (11, 5), (5, 6), (0, 5)),      # RGB565
    2: ((12, 4), (8, 4), (4, 4), (0, 4)),    # ARGB4444
}


def unpack_color(color_format, v):
    """A 16-bit texel or palette entry as a host colour 0xAARRGGBB: each
    colour field moved to the top of its byte (low bits zero), alpha scaled
    to 0..255 (1 bit to 255, 4 bits times 17), RGB565 opaque."""
    alpha, *colour = FIELDS[color_format]
    bytes_ = [(v >> first & (1 << width) - 1) << (8 - width) for first, width in colour]
    a = 255 if alpha is None else (v >> alpha[0] & (1 << alpha[1]) - 1) * 255 // ((1 << alpha[1]) - 1)
    return bytes_[2] | bytes_[1] << 8 | bytes_[0] << 16 | a << 24


def texel_kind(data_type, color_format):
    """How the import decodes a layout: '16', '8', '4', 'rect', 'vq', 'smallvq' or None, written
    out here from the layout rules."""
    if data_type in (1, 2, 6, 8, 13):   # the ColorFormat decides the texel
        return {5: "4", 6: "8"}.get(color_format, "16")
    return {5: "4", 7: "8", 9: "rect", 3: "vq", 4: "vq", 16: "smallvq", 17: "smallvq"}.get(data_type)


def read_words(path):
    with open(path, "rb") as f:
        data = f.read()
    return list(struct.unpack("<%dI" % (len(data) // 4), data))


def make(kind, out, *args):
    """Runs make_texture KIND OUT ARGS...; fails the test run when it fails."""
    if not os.path.isfile(MAKE_TEXTURE):
        raise AssertionError("%s not found: build the native target make_texture" % MAKE_TEXTURE)
    done = subprocess.run([MAKE_TEXTURE, kind, out] + [str(a) for a in args], capture_output=True, text=True)
    if done.returncode != 0:
        raise AssertionError("make_texture %s %s failed: %s" % (kind, out, done.stderr))


class Texture:
    """A texture file made by make_texture, with the texel values of its pixel function."""

    def __init__(self, path, data_type, color_format, width, height, global_index=0, seed=1,
                 container=None):
        self.path = path
        self.data_type, self.color_format = data_type, color_format
        self.width, self.height = width, height
        self.global_index = global_index
        texels = path + ".texels"
        container = container or os.path.splitext(path)[1].lstrip(".").lower()
        make(container, path, "--type", data_type, "--color", color_format, "--size",
             "%dx%d" % (width, height), "--id", global_index, "--seed", seed, "--texels", texels)
        self.texels = read_words(texels)
        os.remove(texels)

    def bytes(self):
        with open(self.path, "rb") as f:
            return f.read()

    def kind(self, color_format=None):
        """texel_kind of the texture, `color_format` as the import reads it (None: the header's)."""
        return texel_kind(self.data_type, self.color_format if color_format is None else color_format)

    def decoded(self, color_format=None):
        """False for a DataType the import has no decoder for."""
        return self.kind(color_format) is not None

    def expected_pixels(self, color_format=None):
        """Host pixels row by row as the import must write them."""
        cf = self.color_format if color_format is None else color_format
        w, h = self.width, self.height
        kind = self.kind(color_format)
        if kind is None:
            return [0] * (w * h)
        if kind in ("4", "8"):
            return list(self.texels)
        if kind in ("16", "rect"):
            return [unpack_color(cf, v) for v in self.texels]
        # VQ: alpha 255, texture row r at image row h - 1 - r.
        return [unpack_color(cf, self.texels[(h - 1 - y) * w + x]) | 0xFF000000 for y in range(h) for x in range(w)]

    def expected_steps(self, color_format=None):
        """The StepProgress rows the import reports."""
        kind = self.kind(color_format)
        if kind in ("16", "rect"):
            return list(range(self.height))
        if kind in ("4", "8", "vq"):
            return list(range(0, self.height, 2))
        return []


def make_palette(path, count, seed=1):
    """Writes a PVPL file of `count` entries; returns the 16-bit entries."""
    entries = path + ".entries"
    make("palette", path, "--count", count, "--seed", seed, "--entries", entries)
    words = read_words(entries)
    os.remove(entries)
    return words


def windows_path(path):
    """A Unix path as the host hands it to the plug-in."""
    return "Z:" + path.replace("/", "\\")
