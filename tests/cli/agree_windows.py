#!/usr/bin/env python3
"""The Windows ombr.exe (under Wine) and the native ombr write the same
bytes: one texture of every layout, palette textures included, decoded by
both at the default level to the same PNGs; and those PNGs, saved again by
ImageMagick (which moves the settings behind the picture data), encoded back
by both to the same textures and palettes.

usage: agree_windows.py OMBR MAKE_TEXTURES WORK_DIR WIN32_DIR ROOT
Fails when WIN32_DIR holds no ombr.exe.
"""
import os
import shutil
import subprocess
import sys

ombr, make_textures, work, win32, root = sys.argv[1:6]
exe = os.path.join(win32, "ombr.exe") if win32 else ""
if not os.path.isfile(exe):
    print("FAIL: no %s; build it with scripts/build win32" % (exe or "OMBR_WIN32_DIR"))
    sys.exit(1)

shutil.rmtree(work, ignore_errors=True)
textures = os.path.join(work, "tex")
os.makedirs(textures)
subprocess.run([make_textures, textures], check=True)
r = subprocess.run([ombr, "decode", "tex", "--out-dir", "native", "-q"], cwd=work, capture_output=True, text=True)
if r.returncode != 0:
    print("FAIL: ombr decode: " + r.stderr.strip())
    sys.exit(1)


def windows(*args):
    """ombr.exe ARGS under Wine, its output to a file, not a pipe: the Wine
    server that the first run starts outlives it and would hold a pipe open."""
    script = '. "$0/scripts/wine-env" && ombr_wine_start_server && ombr_wine_run "$@"'
    with open(os.path.join(work, "wine.log"), "w+") as log:
        r = subprocess.run(["bash", "-c", script, root, os.path.abspath(exe), *args], cwd=work, stdout=log,
                           stderr=subprocess.STDOUT, timeout=300)
        log.seek(0)
        said = log.read().strip()
    if r.returncode != 0:
        print("FAIL: ombr.exe %s (status %d): %s" % (args[0], r.returncode, said))
        sys.exit(1)


def compare(mine, theirs, what):
    names = sorted(os.listdir(os.path.join(work, mine)))
    failed = 0
    for name in names:
        a = open(os.path.join(work, mine, name), "rb").read()
        other = os.path.join(work, theirs, name)
        b = open(other, "rb").read() if os.path.exists(other) else None
        if a != b:
            print("FAIL %s: %s" % (name, "not written by ombr.exe" if b is None else "the bytes differ"))
            failed += 1
    extra = sorted(set(os.listdir(os.path.join(work, theirs))) - set(names))
    for name in extra:
        print("FAIL %s: written by ombr.exe only" % name)
    print("%d of %d %s the same" % (len(names) - failed, len(names), what))
    return failed + len(extra)


windows("decode", "tex", "--out-dir", "windows", "-q")
failed = compare("native", "windows", "PNGs")
palettes = sum(open(os.path.join(work, "native", n), "rb").read()[25] == 3 for n in os.listdir(os.path.join(work, "native")))
print("%d palette PNGs" % palettes)

# Saved again by an editor: the settings chunk moves behind the picture data.
os.makedirs(os.path.join(work, "saved"))
for name in os.listdir(os.path.join(work, "native")):
    subprocess.run(["convert", os.path.join(work, "native", name), os.path.join(work, "saved", name)], check=True)
# (DataType 6 and 8 are written by neither: both refuse them alike.)
for name in os.listdir(os.path.join(work, "saved")):
    if name.startswith(("dt6_", "dt8_")):
        os.remove(os.path.join(work, "saved", name))
r = subprocess.run([ombr, "encode", "saved", "--out-dir", "back-native", "-q"], cwd=work, capture_output=True,
                   text=True)
if r.returncode != 0:
    print("FAIL: ombr encode: " + r.stderr.strip())
    sys.exit(1)
windows("encode", "saved", "--out-dir", "back-windows", "-q")
failed += compare("back-native", "back-windows", "textures and palettes")
sys.exit(1 if failed or palettes == 0 else 0)
