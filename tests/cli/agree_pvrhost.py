#!/usr/bin/env python3
"""`ombr decode` and the import plug-in agree: every texture of every layout
gives the same host pixel values through `ombr decode --raw` as through
ombrin.ppi in the reference host pvrhost under Wine, and the palette PNG of an
indexed texture holds the palette the plug-in gives the host.

usage: agree_pvrhost.py OMBR MAKE_TEXTURES SAMPLE WORK_DIR WIN32_DIR PVRHOST_SCRIPT
Fails when WIN32_DIR holds no pvrhost.exe or ombrin.ppi (the README's
OMBR_NO_WIN32_RUNS=1 leaves this test out).
"""
import json
import os
import shutil
import struct
import subprocess
import sys

from pictures import png_palette  # noqa: E402
from wine_exe import logged, read  # noqa: E402

ombr, make_textures, sample, work, win32, script = sys.argv[1:7]
host = os.path.join(win32, "pvrhost.exe") if win32 else ""
plugin = os.path.join(win32, "ombrin.ppi") if win32 else ""
if not win32 or not os.path.isfile(host) or not os.path.isfile(plugin):
    print("FAIL: no reference host: OMBR_WIN32_DIR (%s) lacks pvrhost.exe or ombrin.ppi; "
          "build it with scripts/build win32" % (win32 or "not set"))
    sys.exit(1)

shutil.rmtree(work, ignore_errors=True)
os.makedirs(work)
subprocess.run([make_textures, work], check=True)
textures = sorted(os.path.join(work, f) for f in os.listdir(work) if f.endswith((".pvr", ".pvz")))
shutil.copy(sample, work)
textures.append(os.path.join(work, os.path.basename(sample)))

environment = dict(os.environ, PVRHOST_EXE=os.path.abspath(host))
failed = 0
for texture in textures:
    name = os.path.basename(texture)
    mine, theirs = texture + ".ombr.raw", texture + ".host.raw"
    r = subprocess.run([ombr, "decode", texture, "-o", texture + ".png", "--raw", mine, "--force", "-q"],
                       capture_output=True, text=True)
    if r.returncode != 0:
        print("FAIL %s: ombr decode: %s" % (name, r.stderr.strip()))
        failed += 1
        continue
    status, said = logged([script, "import", os.path.abspath(plugin), os.path.abspath(texture), "--raw",
                           os.path.abspath(theirs), "--report", os.path.abspath(texture + ".json")], env=environment)
    if status != 0 or not os.path.exists(theirs):
        print("FAIL %s: pvrhost import (status %d): %s" % (name, status, said))
        failed += 1
        continue
    a, b = read(mine), read(theirs)
    image = json.load(open(texture + ".json", encoding="utf-8"))["image"]
    palette = png_palette(texture + ".png")
    if (palette is not None) != (image["created"] == "indexed"):
        print("FAIL %s: the PNG %s a palette, the plug-in made a %s picture" % (
            name, "has" if palette else "lacks", image["created"]))
        failed += 1
        continue
    # Indices without a palette file (DataType 1 with ColorFormat 5 or 6): the
    # plug-in leaves the host's palette as it is, ombr shows grey levels.
    wanted = image["palette"][:image["palette_count"]]
    if palette is not None and name.startswith(("dt1_", "dt13_")) and ("_cf5_" in name or "_cf6_" in name):
        n = image["palette_count"]
        wanted = [0xFF000000 | (i * (255 // (n - 1))) * 0x010101 for i in range(n)]
    if palette is not None and palette[:image["palette_count"]] != wanted:
        print("FAIL %s: the PNG palette differs from the host's %d entries" % (name, image["palette_count"]))
        failed += 1
        continue
    if a == b:
        print("same   %s (%d pixels%s)" % (name, len(a) // 4,
                                          ", %d palette entries" % image["palette_count"] if palette else ""))
        continue
    failed += 1
    if len(a) != len(b):
        print("FAIL %s: %d pixels from ombr, %d from the plug-in" % (name, len(a) // 4, len(b) // 4))
        continue
    first = next(i for i in range(0, len(a), 4) if a[i:i + 4] != b[i:i + 4])
    count = sum(a[i:i + 4] != b[i:i + 4] for i in range(0, len(a), 4))
    print("FAIL %s: %d pixels differ; pixel %d: ombr %08x, plug-in %08x" % (
        name, count, first // 4, struct.unpack_from("<I", a, first)[0], struct.unpack_from("<I", b, first)[0]))

print("%d of %d textures agree" % (len(textures) - failed, len(textures)))
sys.exit(1 if failed else 0)
