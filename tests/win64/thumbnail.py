#!/usr/bin/env python3
"""The Explorer thumbnail handler under 64-bit Wine: ombrthumb.dll, created
through DllGetClassObject by thumbnail_harness.exe, gives for DataType 1, 7
(with its .pvp) and 9 textures the picture `ombr decode` gives, shrunk to the
side asked for with a box filter (within 1 a channel), as a 32-bit ARGB
bitmap; a palettised texture read from a stream that names no file shows its
indices as a grey ramp; a texture it cannot read gets an error and no bitmap;
registration writes the current user's keys and unregistration removes them.

usage: thumbnail.py OMBR MAKE_TEXTURE WORK_DIR WIN64_DIR WINE_ENV
"""
import os
import shutil
import struct
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "cli"))
from pictures import png_palette  # noqa: E402

ombr, make_texture, work, win64, wine_env = (os.path.abspath(a) for a in sys.argv[1:6])
harness = os.path.join(win64, "thumbnail_harness.exe")
dll = os.path.join(win64, "ombrthumb.dll")
for f in (harness, dll):
    if not os.path.isfile(f):
        print("FAIL: %s not found (scripts/build win64)" % f)
        sys.exit(1)
shutil.rmtree(work, ignore_errors=True)
os.makedirs(work)
failures = []


def windows(path):
    return "Z:" + path.replace("/", "\\")


def run_harness(*args):
    script = '. "$1" && ombr_wine_start_server && shift && ombr_wine_run "$@"'
    r = subprocess.run(["bash", "-c", script, "_", wine_env, harness, windows(dll), *args],
                       env=dict(os.environ, ombr_wine_bits="64"), capture_output=True, text=True, timeout=120)
    return r.returncode, r.stdout


def decoded(texture, grey=False):
    """`ombr decode` of a texture: its 0xAARRGGBB colours, row by row."""
    raw, png = texture + ".raw", texture + ".png"
    r = subprocess.run([ombr, "decode", texture, "-o", png, "--raw", raw, "--force", "-q"], capture_output=True,
                       text=True)
    assert r.returncode == 0, r.stderr
    values = list(struct.unpack("<%dI" % (os.path.getsize(raw) // 4), open(raw, "rb").read()))
    palette = png_palette(png)
    if palette is not None:
        # Without the .pvp: entry i of 256 is the grey i.
        values = [0xFF000000 | v * 0x010101 if grey else palette[v] for v in values]
    return values


def box(values, width, height, side):
    """The picture shrunk so that its longer side is `side`: each output pixel
    the mean of the area it covers, colours weighted by alpha."""
    longer = max(width, height)
    if longer <= side:
        return width, height, values
    ow, oh = max(1, int(width * side / longer + 0.5)), max(1, int(height * side / longer + 0.5))
    out = []
    for oy in range(oh):
        y0, y1 = oy * height / oh, (oy + 1) * height / oh
        for ox in range(ow):
            x0, x1 = ox * width / ow, (ox + 1) * width / ow
            total, sums = 0.0, [0.0, 0.0, 0.0, 0.0]
            for y in range(int(y0), min(height, int(y1) + 1)):
                wy = min(y + 1, y1) - max(y, y0)
                for x in range(int(x0), min(width, int(x1) + 1)):
                    w = (min(x + 1, x1) - max(x, x0)) * wy
                    if w <= 0 or wy <= 0:
                        continue
                    c = values[y * width + x]
                    a = c >> 24
                    total += w
                    sums[3] += w * a
                    for k in range(3):
                        sums[k] += w * a * (c >> (16 - 8 * k) & 0xFF)
            channels = [sums[k] / sums[3] if sums[3] else 0 for k in range(3)] + [sums[3] / total]
            out.append(channels)
    return ow, oh, out


def check(name, texture, size, side, mode, grey=False):
    values = decoded(texture, grey)
    width, height = size
    ow, oh, want = box(values, width, height, side)
    out = os.path.join(work, "%s.%s.%d.bgra" % (name, mode, side))
    status, said = run_harness(mode, windows(texture), str(side), windows(out))
    if status != 0 or not os.path.isfile(out):
        failures.append("%s %s: harness status %d: %s" % (name, mode, status, said.strip()))
        return
    data = open(out, "rb").read()
    got_w, got_h, alpha_type = struct.unpack_from("<3I", data)
    if (got_w, got_h, alpha_type) != (ow, oh, 2):
        failures.append("%s %s: %dx%d alpha type %d, expected %dx%d alpha type 2 (WTSAT_ARGB)"
                        % (name, mode, got_w, got_h, alpha_type, ow, oh))
        return
    worst = 0
    for i in range(ow * oh):
        b, g, r, a = data[12 + 4 * i:16 + 4 * i]
        if isinstance(want[i], int):   # not shrunk: exact
            c = want[i]
            expected = [c >> 16 & 0xFF, c >> 8 & 0xFF, c & 0xFF, c >> 24]
        else:
            expected = want[i]
        worst = max(worst, max(abs(x - y) for x, y in zip((r, g, b, a), expected)))
    if worst > 1:
        failures.append("%s %s: a channel %.2f away from the box filter of ombr decode" % (name, mode, worst))
    print("%-28s %-6s side %3d: %dx%d, largest difference %.2f" % (name, mode, side, ow, oh, worst))


def make(kind, path, *args):
    subprocess.run([make_texture, kind, path, *args], check=True)


t1 = os.path.join(work, "dt1_argb4444.pvr")
make("pvr", t1, "--type", "1", "--color", "2", "--size", "128x128", "--seed", "5")
t7 = os.path.join(work, "dt7_argb4444.pvz")
make("pvz", t7, "--type", "7", "--color", "2", "--size", "64x64", "--seed", "6")
make("palette", t7[:-4] + ".pvp", "--count", "256", "--seed", "7")
t9 = os.path.join(work, "dt9_rgb565.pvr")
make("pvr", t9, "--type", "9", "--color", "1", "--size", "64x32", "--seed", "8")

check("DataType 1 ARGB4444", t1, (128, 128), 48, "file")
check("DataType 1 ARGB4444", t1, (128, 128), 128, "stream")
check("DataType 7 with .pvp", t7, (64, 64), 40, "file")
check("DataType 7, stream: grey", t7, (64, 64), 40, "stream", grey=True)
check("DataType 9 rectangle", t9, (64, 32), 24, "file")
check("DataType 9 rectangle", t9, (64, 32), 256, "stream")

# Unreadable: a cut texture, and bytes that are no texture.
cut = os.path.join(work, "cut.pvr")
with open(t1, "rb") as f, open(cut, "wb") as g:
    g.write(f.read(40))
junk = os.path.join(work, "junk.pvz")
with open(junk, "wb") as g:
    g.write(b"PVRT" * 100)
for path in (cut, junk):
    for mode in ("file", "stream"):
        status, said = run_harness(mode, windows(path), "96", windows(path + ".bgra"))
        if status != 1 or "failed 0x8" not in said or os.path.exists(path + ".bgra"):
            failures.append("%s %s: status %d (%s), expected a failure HRESULT and no bitmap"
                            % (os.path.basename(path), mode, status, said.strip()))
print("unreadable textures: error HRESULTs")

# Registration for the current user, and its removal.
status, said = run_harness("register")
lines = said.splitlines()
if status != 0 or len(lines) != 8 or lines[0] != "registered 0x00000000" or lines[4] != "unregistered 0x00000000" \
        or not lines[1].endswith("ombrthumb.dll") or any("(none)" in l for l in lines[1:4]) \
        or not all(l.endswith("(none)") for l in lines[5:8]) \
        or not all(l.endswith("= {2CAFADA2-86E1-4B49-B964-DA9F08D25A35}") for l in lines[2:4]):
    failures.append("registration: status %d:\n%s" % (status, said))
print("registration under HKCU\\Software\\Classes, and removal")

for f in failures:
    print("FAIL " + f)
sys.exit(1 if failures else 0)
