#!/usr/bin/env python3
"""The edit loop as users run it: a folder of textures decoded to PNGs, the
PNGs saved again by an editor (ImageMagick's convert: as it is, with the text
chunks stripped, and as RGBA), and encoded back onto a copy of the folder
with --force and no settings. Every colour texture must come back byte for
byte, every palettised one with the same picture and its .pvp byte for byte,
each in its own container under its own name.

usage: edit_loop.py OMBR WORK_DIR [--full]
  --full: every pair in both containers and a count per variant (slower)
"""
import os
import random
import shutil
import struct
import subprocess
import sys

ombr, work = sys.argv[1:3]
full = "--full" in sys.argv[3:]
CONVERT = shutil.which("convert")
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)
    return condition


def header(color, data, width, height, gid, texel_length):
    return (b"GBIX" + struct.pack("<II", 8, gid) + b"\0" * 4 + b"PVRT" +
            struct.pack("<IBBHHH", 8 + texel_length, color, data, 0, width, height))


def pvz(texture, data_type):
    unit = 1 if 5 <= data_type <= 8 else 2
    body, out, i = texture[32:], bytearray(), 0
    while i < len(body):
        u, n = body[i:i + unit], 1
        while n < 255 and body[i + n * unit:i + (n + 1) * unit] == u:
            n += 1
        out += u + bytes([n - 1])
        i += n * unit
    return struct.pack("<I", len(texture)) + texture[:32] + bytes(out)


def palette_file(entries):
    return b"PVPL" + struct.pack("<IIHH", 2 * len(entries) + 8, 0, 0, len(entries)) + struct.pack(
        "<%dH" % len(entries), *entries)


def game_palette(rng, fmt, count, used):
    """Entries the way game palettes hold them: several transparent entries
    and alpha levels where the format has alpha, and duplicates."""
    entries = []
    for i in range(count):
        v = rng.randrange(65536)
        if fmt == 0 and i % 5 == 1:
            v &= 0x7FFF                       # several transparent entries
        if fmt == 2 and i % 3 == 1:
            v = (v & 0x0FFF) | (rng.randrange(1, 15) << 12)   # soft alpha levels
        if fmt == 1 and i % 7 == 3:
            v = entries[i - 2]                # duplicates, opaque
        entries.append(v)
    # A duplicate of a used entry in every format.
    entries[used - 1] = entries[0]
    return entries


def texture(rng, name, data_type, color, width, height, gid, entries=0):
    pixels = width * height
    if data_type == 5:
        texels = bytes(rng.randrange(256) for _ in range(pixels // 2))
    elif data_type == 7:
        texels = bytes(rng.randrange(entries) for _ in range(pixels))
    else:
        texels = bytes(rng.randrange(256) for _ in range(2 * pixels))
    plain = header(color, data_type, width, height, gid, len(texels)) + texels
    return plain if name.lower().endswith("pvr") else pvz(plain, data_type)


def make_folder(folder):
    rng = random.Random(7)
    os.makedirs(folder)
    made = {}
    containers = (".pvr", ".pvz") if full else None
    n = 0
    for data_type in (1, 9, 13, 5, 7):
        for color in (0, 1, 2):
            for ext in containers or ((".pvr", ".pvz")[(data_type + color) % 2],):
                n += 1
                gid = (0x10000 + n * 7919, 0xFFFFFFFF, 65535, n)[n % 4]
                size = ((128, 128), (256, 128), (128, 256))[n % 3]
                name = "%s%d_%d%s" % (ext[-1], data_type, color, ext)
                if ext == ".pvr" and n % 2:
                    name = name.upper()   # as the game's disc names are
                entries = 16 if data_type == 5 else (128 if n % 2 else 256)
                data = texture(rng, name, data_type, color, size[0], size[1], gid, entries)
                open(os.path.join(folder, name), "wb").write(data)
                made[name] = data_type
                if data_type in (5, 7):
                    fmt = 0 if (ext == ".pvr" and data_type == 7 and color == 1) else color
                    pal = palette_file(game_palette(rng, fmt, entries, entries))
                    open(os.path.join(folder, name[:-4] + (".PVP" if name.isupper() else ".pvp")), "wb").write(pal)
    data = texture(rng, "wide.pvz", 9, 2, 640, 480, 0x12345678)
    open(os.path.join(folder, "wide.pvz"), "wb").write(data)
    made["wide.pvz"] = 9
    return made


def run(*args):
    return subprocess.run([ombr, *args], capture_output=True, text=True)


def colours(folder, name, palette):
    """The picture of a palettised texture as the game shows it: the pixel
    values of --raw (indices) resolved through the entries of its .pvp."""
    raw = os.path.join(work, "raw.bin")
    r = run("decode", os.path.join(folder, name), "--raw", raw, "-o", os.path.join(work, "raw.png"), "-f", "-q")
    if r.returncode != 0:
        return None
    data = open(os.path.join(folder, palette), "rb").read()
    entries = struct.unpack("<%dH" % ((len(data) - 16) // 2), data[16:16 + (len(data) - 16) // 2 * 2])
    values = struct.unpack("<%dI" % (os.path.getsize(raw) // 4), open(raw, "rb").read())
    return [entries[v] for v in values]


def resave(source, target, variant):
    os.makedirs(target)
    for name in os.listdir(source):
        if not name.endswith(".png"):
            continue
        args = {"plain": [], "strip": ["-strip"]}.get(variant, [])
        out = os.path.join(target, name) if variant != "rgba" else "PNG32:" + os.path.join(target, name)
        subprocess.run([CONVERT, os.path.join(source, name), *args, out], check=True)


if not CONVERT:
    print("edit_loop: ImageMagick's convert is needed (scripts/setup installs it)")
    sys.exit(1)
shutil.rmtree(work, ignore_errors=True)
original = os.path.join(work, "textures")
made = make_folder(original)
pngs = os.path.join(work, "png")
r = run("decode", original, "--out-dir", pngs, "-q")
check(r.returncode == 0, "decode of the folder: " + r.stderr)

counts = []
for variant in ("plain", "strip", "rgba"):
    saved = os.path.join(work, "png-" + variant)
    resave(pngs, saved, variant)
    target = os.path.join(work, "back-" + variant)
    shutil.copytree(original, target)
    r = run("encode", saved, "--out-dir", target, "-f", "-q")
    check(r.returncode == 0, "%s: encode back: %s" % (variant, r.stderr))
    check("defaults" not in r.stderr, "%s: no setting from the defaults: %s" % (variant, r.stderr))
    check(sorted(os.listdir(target)) == sorted(os.listdir(original)), "%s: the same names, nothing added: %s" % (
        variant, sorted(set(os.listdir(target)) ^ set(os.listdir(original)))))
    same = {"colour": [0, 0], "palettised": [0, 0]}
    for name, data_type in sorted(made.items()):
        kind = "palettised" if data_type in (5, 7) else "colour"
        back = os.path.join(target, name)
        mine = open(back, "rb").read() if os.path.exists(back) else b""
        ok = mine == open(os.path.join(original, name), "rb").read()
        if kind == "palettised":
            pal = [p for p in os.listdir(original) if p.lower() == name[:-4].lower() + ".pvp"][0]
            ok_pal = open(os.path.join(target, pal), "rb").read() == open(os.path.join(original, pal), "rb").read()
            ok = ok_pal and colours(target, name, pal) == colours(original, name, pal)
        check(ok, "%s: %s comes back" % (variant, name))
        same[kind][0] += ok
        same[kind][1] += 1
    counts.append((variant, same))

if full or failures:
    for variant, same in counts:
        print("%-6s colour %d/%d byte for byte, palettised %d/%d same picture and .pvp" % (
            variant, same["colour"][0], same["colour"][1], same["palettised"][0], same["palettised"][1]))
if failures:
    print("%d failure(s)" % len(failures))
    sys.exit(1)
print("edit_loop: every texture came back through every re-save")
