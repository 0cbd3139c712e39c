#!/usr/bin/env python3
"""The edit loop as users run it: a folder of textures decoded to PNGs, the
PNGs saved again by an editor (ImageMagick's convert: as it is, with the text
chunks stripped, and as RGBA; optipng and pngcrush, which reduce palettes and
bit depths; PIL's RGBA re-save, where those are installed; with --full, GIMP's
own export with its defaults where GIMP is installed), and encoded back
onto a copy of the folder with --force and no settings. Every texture and
every .pvp must come back byte for byte (indices, duplicate entries, mip
levels, VQ codebooks, index textures, palettes longer than the texture
reaches), each in its own container under its own name; an edited picture
changes only the pixels edited.

usage: edit_loop.py OMBR WORK_DIR [--full]
  --full: every pair in both containers and a count per variant (slower)
"""
import os
import random
import shutil
import struct
import subprocess
import sys
from wine_exe import check, failures, finish, read, write  # noqa: E402

ombr, work = sys.argv[1:3]
full = "--full" in sys.argv[3:]
CONVERT = shutil.which("convert")


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
                write(os.path.join(folder, name), texture(rng, name, data_type, color, size[0], size[1], gid, entries))
                made[name] = data_type
                if data_type in (5, 7):
                    fmt = 0 if (ext == ".pvr" and data_type == 7 and color == 1) else color
                    pal = palette_file(game_palette(rng, fmt, entries, entries))
                    write(os.path.join(folder, name[:-4] + (".PVP" if name.isupper() else ".pvp")), pal)
    write(os.path.join(folder, "wide.pvz"), texture(rng, "wide.pvz", 9, 2, 640, 480, 0x12345678))
    made["wide.pvz"] = 9

    def put(name, data_type, color, texels, entries=None, side=128):
        plain = header(color, data_type, side, side, 77, len(texels)) + texels
        write(os.path.join(folder, name), plain if name.lower().endswith("pvr") else pvz(plain, data_type))
        made[name] = data_type
        if entries is not None:
            write(os.path.join(folder, name[:-4] + (".PVP" if name.isupper() else ".pvp")), palette_file(entries))

    def noise(n):
        return bytes(rng.randrange(256) for _ in range(n))
    # A mip chain (the smaller levels are not the picture's own halvings),
    # VQ with and without mips, index textures without a palette file.
    put("mip2_0.pvz", 2, 0, noise(2 * (5462 + 128 * 128)))
    put("VQ3_1.PVR", 3, 1, noise(2048 + 64 * 64))
    put("vq17_2.pvz", 17, 2, noise(128 + 1366 // 2 + 64 * 64 // 2 + 1))
    put("idx1_6.pvr", 1, 6, noise(128 * 128))
    put("idx13_5.pvz", 13, 5, noise(128 * 128 // 2))
    # Every entry of one partial alpha (ARGB4444 at 8 of 15).
    put("glass7_2.pvz", 7, 2, bytes(rng.randrange(128) for _ in range(128 * 128)),
        [0x8000 | rng.randrange(4096) for _ in range(128)])
    # A palette longer than 256 entries, and indices past the last entry.
    put("long7_0.pvr", 7, 0, noise(128 * 128), [rng.randrange(65536) for _ in range(300)])
    put("past7_1.pvz", 7, 1, noise(128 * 128), [rng.randrange(65536) for _ in range(128)])
    return made


def run(*args):
    return subprocess.run([ombr, *args], capture_output=True, text=True)


# "zeroed": the colour under alpha 0 made black, as many editors export.
TOOLS = {"plain": CONVERT, "strip": CONVERT, "rgba": CONVERT, "zeroed": CONVERT, "optipng": shutil.which("optipng"),
         "pngcrush": shutil.which("pngcrush"), "pil": None, "gimp": shutil.which("gimp") if full else None}
try:
    from PIL import Image
    TOOLS["pil"] = "PIL"
except ImportError:
    pass


# An editor's own export with its defaults: GIMP in batch mode, every file in one run.
GIMP_RESAVE = """(define (resave in out)
  (let* ((image (car (gimp-file-load RUN-NONINTERACTIVE in in)))
         (drawable (car (gimp-image-get-active-drawable image))))
    (file-png-save-defaults RUN-NONINTERACTIVE image drawable out out)
    (gimp-image-delete image)))"""


def resave(source, target, variant):
    os.makedirs(target)
    if variant == "gimp":
        names = [n for n in os.listdir(source) if n.endswith(".png")]
        calls = "".join('(resave "%s" "%s")' % (os.path.join(source, n), os.path.join(target, n)) for n in names)
        subprocess.run([TOOLS[variant], "-i", "-d", "-f", "-b", "(begin %s %s)" % (GIMP_RESAVE, calls), "-b",
                        "(gimp-quit 0)"], check=True, capture_output=True, timeout=600)
        check(len(os.listdir(target)) == len(names), "gimp: every picture exported: %d of %d" % (
            len(os.listdir(target)), len(names)))
        return
    for name in os.listdir(source):
        if not name.endswith(".png"):
            continue
        src, out = os.path.join(source, name), os.path.join(target, name)
        if variant == "optipng":
            subprocess.run([TOOLS[variant], "-quiet", "-o2", "-out", out, src], check=True)
        elif variant == "pngcrush":
            subprocess.run([TOOLS[variant], "-q", "-reduce", src, out], check=True, capture_output=True)
        elif variant == "pil":
            Image.open(src).convert("RGBA").save(out)
        else:
            args = {"plain": [], "strip": ["-strip"], "zeroed": ["-background", "black", "-alpha", "background"]}.get(
                variant, [])
            subprocess.run([CONVERT, src, *args, out if variant != "rgba" else "PNG32:" + out], check=True)


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
variants = ["none"] + [v for v in TOOLS if TOOLS[v]]
for variant in variants:
    saved = pngs
    if variant != "none":
        saved = os.path.join(work, "png-" + variant)
        resave(pngs, saved, variant)
    target = os.path.join(work, "back-" + variant)
    shutil.copytree(original, target)
    r = run("encode", saved, "--out-dir", target, "-f")
    # GIMP's indexed pictures hold no partial alpha: its export visibly makes
    # such pixels opaque or clear. What it changes must be said, file by file.
    visible = variant == "gimp"
    check(r.returncode == 0, "%s: encode back: %s" % (variant, r.stderr))
    check("defaults" not in r.stderr, "%s: no setting from the defaults: %s" % (variant, r.stderr))
    check(visible or r.stderr == "", "%s: no warning: %s" % (variant, r.stderr))
    check(visible or "(%d unchanged, 0 changed, 0 new, 0 written anew)" % len(made) in r.stdout,
          "%s: the summary counts every texture unchanged: %s" % (variant, r.stdout))
    check(sorted(os.listdir(target)) == sorted(os.listdir(original)), "%s: the same names, nothing added: %s" % (
        variant, sorted(set(os.listdir(target)) ^ set(os.listdir(original)))))
    same = [0, 0]
    for name in sorted(os.listdir(original)):
        back = os.path.join(target, name)
        ok = read(back) == read(os.path.join(original, name))
        said = any(os.path.splitext(name)[0] in l and "changed" in l for l in r.stdout.splitlines())
        check(ok or (visible and said), "%s: %s comes back byte for byte%s" % (variant, name, visible and " or is said"))
        same[0] += ok
        same[1] += 1
    counts.append((variant, same))

# An edit: a few pixels painted over in each picture; only they change.
edited = os.path.join(work, "png-edited")
os.makedirs(edited)
for name in ("mip2_0.png", "VQ3_1.png", "idx1_6.png", "glass7_2.png"):
    subprocess.run([CONVERT, os.path.join(pngs, name), "-fill", "black", "-draw", "point 3,5", "-draw",
                    "point 4,5", os.path.join(edited, name)], check=True)
target = os.path.join(work, "back-edited")
shutil.copytree(original, target)
r = run("encode", edited, "--out-dir", target, "-f", "-n")
check("4 planned (0 unchanged, 4 changed, 0 new, 0 written anew)" in r.stdout, "edited: dry run: " + r.stdout)
r = run("info", os.path.join(edited, "glass7_2.png"), "--out-dir", target)
check("encode:      2 pixels of 1 colour would change" in r.stdout, "edited: info tells the plan: " + r.stdout)
check(all(read(os.path.join(target, n)) == read(os.path.join(original, n)) for n in os.listdir(original)),
      "edited: a dry run writes nothing")
r = run("encode", edited, "--out-dir", target, "-f")
check(r.returncode == 0, "edited: encode back: %s" % r.stderr)
lines = [l for l in r.stdout.splitlines() if " -> " in l]
check(len(lines) == 4 and "4 changed" in r.stdout, "edited: a line for each changed texture: " + r.stdout)
for line in lines:
    check(": 2 pixels of 1 colour changed" in line, "edited: the line tells the pixels changed: " + line)
for name in ("idx1_6.pvr", "glass7_2.pvz", "glass7_2.pvp"):
    if name.endswith(".pvp"):
        check(read(os.path.join(original, name)) == read(os.path.join(target, name)), "edited: %s kept" % name)
        continue
    for folder, raw in ((original, "a"), (target, "b")):
        run("decode", os.path.join(folder, name), "--raw", os.path.join(work, raw + ".bin"), "-o",
            os.path.join(work, raw + ".png"), "-f", "-q")
    va, vb = read(os.path.join(work, "a.bin")), read(os.path.join(work, "b.bin"))
    differ = sum(va[i:i + 4] != vb[i:i + 4] for i in range(0, len(va), 4))
    check(differ <= 2, "edited: %s: at most the 2 painted indices differ (%d)" % (name, differ))

if full or failures:
    for variant, same in counts:
        print("%-8s %d/%d files byte for byte" % (variant, same[0], same[1]))
finish("edit_loop: every texture came back through every re-save")
