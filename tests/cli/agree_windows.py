#!/usr/bin/env python3
"""The Windows ombr.exe (under Wine) and the native ombr write the same PNG
bytes: one texture of every layout, palette textures included, decoded by
both at the default level.

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
# Output to a file, not a pipe: the Wine server that the first run starts
# outlives it and would hold a pipe open.
script = '. "$0/scripts/wine-env" && ombr_wine_start_server && ombr_wine_run "$@"'
with open(os.path.join(work, "wine.log"), "w+") as log:
    r = subprocess.run(["bash", "-c", script, root, os.path.abspath(exe), "decode", "tex", "--out-dir", "windows",
                        "-q"], cwd=work, stdout=log, stderr=subprocess.STDOUT, timeout=300)
    log.seek(0)
    said = log.read().strip()
if r.returncode != 0:
    print("FAIL: ombr.exe decode (status %d): %s" % (r.returncode, said))
    sys.exit(1)

names = sorted(os.listdir(os.path.join(work, "native")))
failed = 0
palettes = 0
for name in names:
    a = open(os.path.join(work, "native", name), "rb").read()
    theirs = os.path.join(work, "windows", name)
    b = open(theirs, "rb").read() if os.path.exists(theirs) else None
    palettes += a[25] == 3
    if a != b:
        print("FAIL %s: %s" % (name, "not written by ombr.exe" if b is None else "the bytes differ"))
        failed += 1
extra = sorted(set(os.listdir(os.path.join(work, "windows"))) - set(names))
for name in extra:
    print("FAIL %s: written by ombr.exe only" % name)
print("%d of %d PNGs the same (%d palette PNGs)" % (len(names) - failed, len(names), palettes))
sys.exit(1 if failed or extra or palettes == 0 else 0)
