#!/usr/bin/env python3
"""ombr.exe under Wine with names no ANSI code page holds whole: accented and
Japanese file and folder names, in a Japanese (code page 932) and an English
(code page 1252) locale. Folders are walked, files read and written, names
come back in UTF-8 in messages and in `info --json`, a palette pair is
written with nothing staged left, and outputs whose names differ only in
letter case (of any script) are one file. Ctrl-C stops a batch.

usage: unicode_wine.py OMBR_EXE SAMPLE WORK_DIR WINE_ENV
"""
import json
import os
import shutil
import signal
import subprocess
import sys

from pictures import palette, palette_png  # noqa: E402
import wine_exe  # noqa: E402
from wine_exe import check, finish, read, staged  # noqa: E402

exe, sample, work, wine_env = (os.path.abspath(a) for a in sys.argv[1:5])


def wine(lang, cwd, *args):
    """ombr.exe's status, stdout and stderr (both decoded as UTF-8)."""
    status, out, err = wine_exe.wine(exe, wine_env, lang, cwd, *args)
    return status, out.decode("utf-8", "replace"), err.decode("utf-8", "replace")


shutil.rmtree(work, ignore_errors=True)
# Its last character ends in a byte that code page 932 would take for a lead
# byte, hiding the separator after it.
folder = "日本語フォルダぁ"
for lang in ("ja_JP.UTF-8", "en_US.UTF-8"):
    here = os.path.join(work, lang)
    os.makedirs(os.path.join(here, folder, "下"))
    shutil.copy(sample, os.path.join(here, folder, "Ω-é.pvz"))
    shutil.copy(sample, os.path.join(here, folder, "下", "テクスチャ.pvz"))

    status, out, err = wine(lang, here, "decode", folder, "-r", "--out-dir", "出力", "-v")
    check(status == 0, "%s: a Japanese folder decodes: %s" % (lang, err))
    check(os.path.exists(os.path.join(here, "出力", "Ω-é.png")) and
          os.path.exists(os.path.join(here, "出力", "下", "テクスチャ.png")), "%s: the PNGs under their names" % lang)
    check("Ω-é.pvz -> 出力\\Ω-é.png" in out, "%s: -v names the files in UTF-8: %r" % (lang, out))

    status, out, err = wine(lang, here, "encode", os.path.join("出力", "Ω-é.png"), "-o",
                            os.path.join(folder, "戻り.pvz"), "--type", "1", "--color", "1", "--id", "1001")
    check(status == 0 and read(os.path.join(here, folder, "戻り.pvz")) == read(sample),
          "%s: back to the same bytes under a Japanese name: %s" % (lang, err))

    status, out, err = wine(lang, here, "info", "--json", os.path.join(folder, "Ω-é.pvz"))
    try:
        records = json.loads(out)
    except ValueError:
        records = []
    check(status == 0 and len(records) == 1 and records[0]["file"].endswith("Ω-é.pvz"),
          "%s: info --json in UTF-8: %r" % (lang, out[:200]))

    status, out, err = wine(lang, here, "decode", "無い.pvz")
    missing = "no such file" if lang.startswith("en") else "ファイルがありません"   # the user's language
    check(status == 1 and "無い.pvz: " + missing in err, "%s: a message names a missing file: %r" % (lang, err))

    # A palette pair (quantised from a colour PNG) in the Japanese folder.
    status, out, err = wine(lang, here, "encode", os.path.join("出力", "Ω-é.png"), "-o",
                            os.path.join(folder, "パレット.pvz"), "--type", "7", "--id", "1")
    names = os.listdir(os.path.join(here, folder))
    check(status == 0 and {"パレット.pvz", "パレット.pvp"} <= set(names), "%s: a pair written: %s" % (lang, err))
    check(staged(here) == [], "%s: nothing staged left: %s" % (lang, staged(here)))

    # Two inputs whose outputs differ only in letter case are one output.
    shutil.copy(sample, os.path.join(here, "plain.pvz"))
    wine(lang, here, "decode", "plain.pvz")
    for a, b in (("a", "A"), ("ω", "Ω")):
        for d, name in (("d1", a), ("d2", b)):
            os.makedirs(os.path.join(here, d), exist_ok=True)
            shutil.copy(os.path.join(here, "plain.png"), os.path.join(here, d, name + ".png"))
        status, out, err = wine(lang, here, "encode", os.path.join("d1", a + ".png"), os.path.join("d2", b + ".png"),
                                "--out-dir", "out", "-f", "--type", "1", "--color", "1", "--id", "1")
        meets = ("another input already goes to out\\%s" if lang.startswith("en") else
                 "ほかの入力が既に out\\%s.pvz に出力されます") % b
        check(status == 1 and ("d2/%s.png: " % b + meets) in err,
              "%s: %s.png and %s.png meet in one output: %r" % (lang, a, b, err))

# Ctrl-C (Wine hands SIGINT to the console handler as CTRL_C_EVENT) stops a
# batch between files, with nothing staged left.
here = os.path.join(work, "interrupt")
os.makedirs(os.path.join(here, "絵"))
for i in range(200):
    palette_png(os.path.join(here, "絵", "t%03d.png" % i), 64, 64, palette(3), lambda x, y: (x ^ y) % 256)
script = ('. "$1" && ombr_wine_start_server && shift && exec "$WINELOADER" "$@"')
process = subprocess.Popen(["bash", "-c", script, "_", wine_env, exe, "encode", "絵", "--out-dir", "出力", "--type",
                            "7", "-v", "-j", "2"], cwd=here, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
process.stdout.readline()
process.send_signal(signal.SIGINT)
try:
    out, err = process.communicate(timeout=300)
except subprocess.TimeoutExpired:
    process.kill()
    out, err = b"", b"timed out"
written = os.listdir(os.path.join(here, "出力"))
check(process.returncode == 130 and "、中断しました".encode() in out and 0 < len(written) < 400 and
      not any(n.startswith("~") for n in written),
      "Ctrl-C: status %s, %d files, %r" % (process.returncode, len(written), (out[-80:], err[-200:])))

finish()
