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

from wine_exe import logged, read  # noqa: E402

ombr, make_textures, work, win32, root = sys.argv[1:6]
exe = os.path.join(win32, "ombr.exe") if win32 else ""
if not os.path.isfile(exe):
    print("FAIL: no %s; build it with scripts/build win32" % (exe or "OMBR_WIN32_DIR"))
    sys.exit(1)
W = lambda *names: os.path.join(work, *names)  # noqa: E731
shutil.rmtree(work, ignore_errors=True)
os.makedirs(W("tex"))
subprocess.run([make_textures, W("tex")], check=True)


def run(windows, *args):
    """ombr ARGS, or ombr.exe ARGS under Wine; the script ends when it fails."""
    wine = ["bash", "-c", '. "$0/scripts/wine-env" && ombr_wine_start_server && ombr_wine_run "$@"', root,
            os.path.abspath(exe)]
    status, said = logged((wine if windows else [ombr]) + list(args), cwd=work)
    if status != 0:
        print("FAIL: ombr%s %s (status %d): %s" % (".exe" if windows else "", args[0], status, said))
        sys.exit(1)


def compare(mine, theirs, what):
    names = sorted(os.listdir(W(mine)))
    failed = 0
    for name in names:
        b = read(W(theirs, name))
        if read(W(mine, name)) != b:
            print("FAIL %s: %s" % (name, "not written by ombr.exe" if b is None else "the bytes differ"))
            failed += 1
    extra = sorted(set(os.listdir(W(theirs))) - set(names))
    for name in extra:
        print("FAIL %s: written by ombr.exe only" % name)
    print("%d of %d %s the same" % (len(names) - failed, len(names), what))
    return failed + len(extra)


run(False, "decode", "tex", "--out-dir", "native", "-q")
run(True, "decode", "tex", "--out-dir", "windows", "-q")
failed = compare("native", "windows", "PNGs")
palettes = sum(read(W("native", n))[25] == 3 for n in os.listdir(W("native")))
print("%d palette PNGs" % palettes)

# Saved again by an editor: the settings chunk moves behind the picture data.
# (DataType 6 and 8 are written by neither: both refuse them alike.)
os.makedirs(W("saved"))
for name in os.listdir(W("native")):
    if not name.startswith(("dt6_", "dt8_")):
        subprocess.run(["convert", W("native", name), W("saved", name)], check=True)
run(False, "encode", "saved", "--out-dir", "back-native", "-q")
run(True, "encode", "saved", "--out-dir", "back-windows", "-q")
failed += compare("back-native", "back-windows", "textures and palettes")
sys.exit(1 if failed or palettes == 0 else 0)
