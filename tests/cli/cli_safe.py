#!/usr/bin/env python3
"""ombr when things go wrong around it: a batch interrupted (once, and twice),
FIFOs among the inputs and as targets (never waited on), the mode of a
replaced file, inputs that declare more than they hold, and what runs that
died left in a folder.

usage: cli_safe.py OMBR WORK_DIR
"""
import os
import resource
import shutil
import signal
import stat
import struct
import subprocess
import sys

from pictures import header_only_png, palette, palette_png  # noqa: E402
from wine_exe import check, finish, read, staged, write  # noqa: E402

ombr, work = sys.argv[1:3]


def run(*args, limit=None, timeout=60):
    """ombr's status, stdout and stderr; `limit`: its address space in bytes."""
    def restrict():
        resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
    try:
        r = subprocess.run([ombr, *args], capture_output=True, text=True, timeout=timeout,
                           preexec_fn=restrict if limit else None)
        return r.returncode, r.stdout, r.stderr
    except subprocess.TimeoutExpired:
        return None, "", "timed out"


def peak_kib(*args):
    """ombr's status and the peak of its resident memory in KiB."""
    process = subprocess.Popen([ombr, *args], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(process.pid, 0)
    process.returncode = os.waitstatus_to_exitcode(status)
    return process.returncode, usage.ru_maxrss


shutil.rmtree(work, ignore_errors=True)
os.makedirs(work)
W = lambda *names: os.path.join(work, *names)  # noqa: E731

# ---- a batch interrupted between files

# Old pairs (DataType 7 and its .pvp) and the pictures that replace them.
count = 300
for name in ("old", "new", "reference"):
    os.makedirs(W(name))
for i in range(count):
    palette_png(W("old", "t%03d.png" % i), 64, 64, palette(1), lambda x, y: (x + y) % 256)
    palette_png(W("new", "t%03d.png" % i), 64, 64, palette(2), lambda x, y: (x * y) % 256)
for source, out in (("old", "interrupted"), ("new", "reference"), ("old", "twice")):
    status, _, err = run("encode", W(source), "--out-dir", W(out), "--type", "7", "-q", "-f")
    check(status == 0, "pairs written: " + err)
pair = lambda folder, i: (read(W(folder, "t%03d.pvz" % i)), read(W(folder, "t%03d.pvp" % i)))  # noqa: E731
old_pair, new_pair = pair("interrupted", 0), pair("reference", 0)
check(old_pair[0] != new_pair[0] and old_pair[1] != new_pair[1], "old and new pairs differ")


def interrupt(out, signals):
    """Replaces the pairs of `out` with -j 2, sending the signals once the first file is in (the
    pictures' own palettes: --new-palette)."""
    process = subprocess.Popen([ombr, "encode", W("new"), "--out-dir", W(out), "--type", "7", "-f", "-v", "-j", "2",
                                "--new-palette"],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    first = process.stdout.readline()
    for s in signals:
        process.send_signal(s)
    try:
        out_text, err_text = process.communicate(timeout=60)
    except subprocess.TimeoutExpired:
        process.kill()
        return None, "", "timed out"
    return process.returncode, first + out_text, err_text


def whole_pairs(out):
    """How many pairs are old and new; None when one is neither."""
    kinds = {old_pair: "old", new_pair: "new"}
    found = [kinds.get(pair(out, i)) for i in range(count)]
    return None if None in found else (found.count("old"), found.count("new"))


status, out, err = interrupt("interrupted", [signal.SIGINT])
counted = whole_pairs("interrupted")
check(status == 130, "Ctrl-C: exit status 130, not %s: %s" % (status, err))
check("converted" in out and ", interrupted" in out, "Ctrl-C: the summary so far, said interrupted: " + out[-200:])
check(counted is not None and counted[0] > 0 and counted[1] > 0, "Ctrl-C: every pair old or new, some of each: %s"
      % (counted,))
check(staged(W("interrupted")) == [], "Ctrl-C: nothing staged left: %s" % staged(W("interrupted"))[:4])

# A second Ctrl-C ends ombr at once; the next run in the folder makes every
# pair whole again.
status, out, err = interrupt("twice", [signal.SIGINT, signal.SIGINT])
check(status == 130, "Ctrl-C twice: exit status 130, not %s" % status)
status, _, err = run("encode", W("new", "t000.png"), "-o", W("twice", "other.pvz"), "--type", "7", "-q")
check(status == 0 and whole_pairs("twice") is not None, "Ctrl-C twice: pairs whole after the next run: " + err)
check(staged(W("twice")) == [], "Ctrl-C twice: nothing staged left after the next run")

for s in (signal.SIGTERM, signal.SIGHUP):
    shutil.copytree(W("interrupted"), W("signal%d" % s))
    status, out, _ = interrupt("signal%d" % s, [s])
    check(status == 130 and ", interrupted" in out and whole_pairs("signal%d" % s) is not None
          and staged(W("signal%d" % s)) == [], "signal %d: stops the batch as Ctrl-C does" % s)

# ---- FIFOs: refused before anything opens them

fifo, texture, F = W("fifo"), W("reference", "t000.pvz"), lambda name: W("fifo", name)  # noqa: E731
os.makedirs(fifo)
shutil.copy(texture, F("good.pvz"))
shutil.copy(texture, F("probe.pvz"))
shutil.copy(W("reference", "t000.pvp"), F("good.pvp"))
for name in ("in.pvz", "target.png", "pair.pvp", "given.pvp", "probe.pvp"):
    os.mkfifo(F(name))
keep = ["encode", W("new", "t000.png"), "-o", F("kept.pvz"), "--type", "7", "--palette"]
cases = [
    ("a FIFO input", ["decode", F("in.pvz"), "-o", F("in.png")], "is not a regular file"),
    ("a FIFO among a folder's inputs", ["decode", fifo, "--out-dir", W("fifo-out")], "in.pvz is not a regular file"),
    ("a FIFO target", ["decode", F("good.pvz"), "-o", F("target.png"), "-f"], "cannot write"),
    ("a FIFO palette target", ["encode", W("new", "t000.png"), "-o", F("pair.pvz"), "--type", "7", "-f"],
     "cannot write"),
    ("a FIFO --palette", ["decode", F("good.pvz"), "--palette", F("given.pvp"), "-o", F("given.png")],
     "cannot read palette"),
    ("a FIFO beside a texture as its palette", ["decode", F("probe.pvz"), "-o", F("probe.png")], "palette"),
    ("a FIFO --palette to keep", keep + [F("given.pvp")], "given.pvp is not a regular file"),
    ("a folder as the target", ["decode", F("good.pvz"), "-o", fifo, "-f"], "is a folder, not a file"),
    ("a missing --palette to keep", keep + [F("none.pvp")], "cannot open"),
]
for what, args, said in cases:
    status, _, err = run(*args, timeout=30)
    check(status == 1 and said in err, "%s: refused (%s), not waited on: %s %s" % (what, said, status, err.strip()))
status, out, _ = run("info", F("in.pvz"), F("probe.pvz"), timeout=30)
check(status == 1 and "probe.pvz" in out, "info of FIFOs: no wait")
check(all(stat.S_ISFIFO(os.stat(F(n)).st_mode) for n in ("target.png", "pair.pvp")),
      "FIFO targets left as they are")
check(not os.path.exists(F("pair.pvz")), "a pair whose palette is refused writes no texture")
check(os.path.exists(W("fifo-out", "good.png")), "the other files of the folder converted")

# ---- --force keeps the mode of what it replaces, but never a set-id bit

os.makedirs(W("modes"))
for name, mode in (("t.pvz", 0o600), ("t.pvp", 0o2640), ("t.png", 0o4604)):
    write(W("modes", name), b"old")
    os.chmod(W("modes", name), mode)
status, _, err = run("encode", W("new", "t000.png"), "-o", W("modes", "t.pvz"), "--type", "7", "-f")
check(status == 0, "encode over 0600 files: " + err)
status, _, err = run("decode", W("modes", "t.pvz"), "-o", W("modes", "t.png"), "-f")
check(status == 0, "decode over a 0604 file: " + err)
got = {n: stat.S_IMODE(os.stat(W("modes", n)).st_mode) for n in ("t.pvz", "t.pvp", "t.png")}
check(got == {"t.pvz": 0o600, "t.pvp": 0o640, "t.png": 0o604}, "--force keeps modes, no set-id bit: %s" % got)

# ---- inputs that declare more than they hold

os.makedirs(W("limits"))
L = lambda name: W("limits", name)  # noqa: E731
# A stream longer than its size field allows: refused before it is read,
# within a small address space (the file is 1 GiB, sparse).
shutil.copy(texture, L("long.pvz"))
os.truncate(L("long.pvz"), 1 << 30)
status, _, err = run("decode", L("long.pvz"), "-o", L("long.png"), limit=256 << 20)
check(status == 1 and "expands beyond its size field" in err, "a .pvz longer than it claims: refused unread: " + err)
# A size field claiming 2 GiB for a few kilobytes of stream: only what the
# stream expands to is ever touched.
write(L("claim.pvz"), struct.pack("<I", 0x7FFFFFF0) + read(texture)[4:])
shutil.copy(W("reference", "t000.pvp"), L("claim.pvp"))
status, peak = peak_kib("decode", L("claim.pvz"), "-o", L("claim.png"))
check(status == 0 and peak < 64 << 10, "a .pvz claiming 2 GiB: decoded in %d KiB" % peak)
# A 1 GiB palette (sparse): its first 528 bytes are all a palette holds.
shutil.copy(texture, L("wide.pvz"))
shutil.copy(W("reference", "t000.pvp"), L("wide.pvp"))
os.truncate(L("wide.pvp"), 1 << 30)
status, peak = peak_kib("decode", L("wide.pvz"), "-o", L("wide.png"))
check(status == 0 and peak < 64 << 10, "a 1 GiB .pvp: 528 bytes read, %d KiB at the peak" % peak)
# A PNG declaring one column more than the most pixels a texture holds:
# refused from its header alone.
header_only_png(L("huge.png"), 8193, 8192)
status, _, err = run("encode", L("huge.png"), "-o", L("huge.pvz"), limit=256 << 20)
check(status == 1 and "8193 x 8192" in err and not os.path.exists(L("huge.pvz")),
      "a PNG of 8193 x 8192 refused from its IHDR: " + err)

# ---- what runs that died left

os.makedirs(W("left"))
for n in range(4096):   # every name the old staging tried
    write(W("left", "~%04x.tmp" % n), b"not ours")
dead = subprocess.Popen(["true"])
dead.wait()
for name in ("~%d-0.tmp" % dead.pid, "~%d-j0.tmp" % dead.pid, "~%d-1" % dead.pid):
    write(W("left", name), b"a dead run's")
status, _, err = run("encode", W("new", "t000.png"), "-o", W("left", "t.pvz"), "--type", "7")
names = set(os.listdir(W("left")))
check(status == 0 and {"t.pvz", "t.pvp"} <= names, "a folder full of old staged names is still written: " + err)
check(len([n for n in names if n.startswith("~")]) == 4096 and
      all(read(W("left", "~%04x.tmp" % n)) == b"not ours" for n in (0, 4095)),
      "files under the old staged names are not ours: left alone")
check(not any(n.startswith("~%d-" % dead.pid) for n in names), "a dead run's staged files and journal removed")

# ---- a name's control characters reach the terminal as escapes, never raw

named = W("names", "e\x1b[31m\u009b.pvz")
os.makedirs(W("names"))
shutil.copy(texture, named)
status, out, err = run("info", named)
check(status == 0 and "e\\x1b[31m\\u009b.pvz" in out and "\x1b" not in out + err and "\u009b" not in out + err,
      "control characters escaped: %r" % out[:60])

finish()
