#!/usr/bin/env python3
"""ombr.exe as Explorer starts it, under Wine in a Japanese (code page 932)
and an English (code page 1252) locale: paths dropped on it without a
command (a texture, a PNG and a folder together, then the PNG folder back
onto its textures; untouched PNGs change nothing), started without
arguments (how to drop, in the user's language), the help in the user's
language, UTF-8 to a pipe or the console's code page with --console-cp,
and the wait for a key only on a console of its own (a pseudo-terminal
here: Wine then gives ombr.exe a console of its own, as Explorer does).

usage: drop_wine.py OMBR_EXE SAMPLE WORK_DIR WINE_ENV
"""
import os
import pty
import select
import shutil
import sys
import time

import wine_exe  # noqa: E402
from wine_exe import check, files_under, finish, read, write  # noqa: E402

exe, sample, work, wine_env = (os.path.abspath(a) for a in sys.argv[1:5])


def wine(lang, cwd, *args):
    """ombr.exe's status, stdout and stderr (bytes), its input not a console."""
    return wine_exe.wine(exe, wine_env, lang, cwd, *args)


def on_console(lang, cwd, *args):
    """ombr.exe on a terminal of its own: (whether it was still there a
    second after asking for a key, its status, what it showed)."""
    script = ('. "$1" && export LANG="$2" LC_ALL="$2" && ombr_wine_start_server && shift 2 && '
              'cd "$1" && shift && exec "$WINELOADER" "$@"')
    pid, fd = pty.fork()
    if pid == 0:
        os.execvp("bash", ["bash", "-c", script, "_", wine_env, lang, cwd, exe, *args])
    shown, waited, deadline = b"", None, time.time() + 120
    while time.time() < deadline:
        if select.select([fd], [], [], 0.5)[0]:
            try:
                data = os.read(fd, 4096)
            except OSError:
                break
            if not data:
                break
            shown += data
        if waited is None and (b"Press a key" in shown or "キーを押す".encode() in shown):
            time.sleep(1)
            waited = os.waitpid(pid, os.WNOHANG)[0] == 0
            os.write(fd, b"\r")
    try:
        _, status = os.waitpid(pid, 0)
    except ChildProcessError:
        status = 0
    return waited, os.waitstatus_to_exitcode(status), shown.decode("utf-8", "replace")


texture = read(sample)
shutil.rmtree(work, ignore_errors=True)
for lang, japanese in (("ja_JP.UTF-8", True), ("en_US.UTF-8", False)):
    here = os.path.join(work, lang)
    os.makedirs(os.path.join(here, "tex", "sub"))
    for name in ("one.pvz", "two.pvz", os.path.join("tex", "a.pvz"), os.path.join("tex", "sub", "B.pvz")):
        write(os.path.join(here, name), texture)
    status, _, err = wine(lang, here, "decode", "two.pvz")
    check(status == 0, "%s: two.png made: %r" % (lang, err))

    # A texture, a PNG and a folder dropped together, as Explorer passes them.
    status, out, err = wine(lang, here, "one.pvz", "two.png", "tex")
    check(status == 0, "%s: dropped: status %d, %r" % (lang, status, err))
    check(os.path.isfile(os.path.join(here, "one.png")), "%s: one.pvz -> one.png" % lang)
    check(read(os.path.join(here, "two.pvz")) == texture, "%s: two.png back onto two.pvz, unchanged" % lang)
    pngs = files_under(os.path.join(here, "tex-png"))
    check(pngs == ["a.png", os.path.join("sub", "B.png")], "%s: tex -> tex-png: %r" % (lang, pngs))
    check(b"tex -> tex-png" in out, "%s: the folder's way is said: %r" % (lang, out))

    # The PNG folder dropped back: every texture as it was, nothing else written.
    status, out, err = wine(lang, here, os.path.join(here, "tex-png") + "\\")
    check(status == 0 and b"tex-png -> " in out, "%s: tex-png dropped back: %d %r" % (lang, status, out + err))
    after = files_under(os.path.join(here, "tex"))
    check(after == ["a.pvz", os.path.join("sub", "B.pvz")] and
          all(read(os.path.join(here, "tex", n)) == texture for n in after), "%s: tex as it was: %r" % (lang, after))

    # Without arguments: how to drop, in the user's language; no wait without a console.
    status, out, err = wine(lang, here)
    said = err.decode("utf-8", "replace")
    check(status == 2 and ("ombr.exe にドロップしてください" in said) == japanese and
          ("Drop files or folders onto ombr.exe" in said) != japanese, "%s: no arguments: %r" % (lang, said[:200]))
    status, out, _ = wine(lang, here, "--help")
    help_text = out.decode("utf-8", "replace")
    check(status == 0 and ("--console-cp" in help_text) and
          ("ゼルヴァニス" in help_text) == japanese and ("converts Zelvanis" in help_text) != japanese,
          "%s: --help in UTF-8 in the user's language: %r" % (lang, help_text[:120]))

    # On a console of its own it waits for a key, then ends (one.png is
    # there already and is kept: status 1).
    waited, status, shown = on_console(lang, here, "one.pvz")
    check(waited is True and status == 1, "%s: own console: waited %r, status %d, %r" % (lang, waited, status,
                                                                                        shown[-300:]))
    check(("キーを押すと" in shown) == japanese, "%s: the key prompt in the user's language" % lang)

# --console-cp: text to a pipe in the console's code page (932 here).
status, out, _ = wine("ja_JP.UTF-8", work, "--console-cp", "help")
check(status == 0 and "ゼルヴァニス".encode("cp932") in out and "ゼルヴァニス".encode() not in out,
      "--console-cp: the help in code page 932: %r" % out[:80])

finish()
