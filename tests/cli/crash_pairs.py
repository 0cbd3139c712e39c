#!/usr/bin/env python3
"""A texture and its palette stay a pair whatever point ombr is killed at:
strace kills it (SIGKILL, nothing of ours runs after) at the Nth call of
each system call that writes, flushes, renames or removes, for every N such
a run makes, while it replaces a DataType 7 texture and its .pvp (or writes
a new pair where there was none). After the next run in that folder each
pair is whole, old and old or new and new, and no staged file is left.

usage: crash_pairs.py OMBR WORK_DIR
"""
import os
import re
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from pictures import palette, palette_png  # noqa: E402

ombr, work = os.path.abspath(sys.argv[1]), sys.argv[2]
failures = []
CALLS = ("write", "fsync", "rename", "unlink")


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


def read(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return None


shutil.rmtree(work, ignore_errors=True)
os.makedirs(work)
W = lambda *names: os.path.join(work, *names)  # noqa: E731
palette_png(W("old.png"), 32, 32, palette(1), lambda x, y: (x + y) % 256)
palette_png(W("new.png"), 32, 32, palette(2), lambda x, y: (x * y) % 256)
for name in ("old", "new"):
    subprocess.run([ombr, "encode", W(name + ".png"), "-o", W(name + ".pvz"), "--type", "7", "--color", "0", "--id", "1", "-q"], check=True)
old = (read(W("old.pvz")), read(W("old.pvp")))
new = (read(W("new.pvz")), read(W("new.pvp")))
# The pictures' own palettes, not the one being replaced.
replace = [ombr, "encode", W("new.png"), "-o", "t.pvz", "--type", "7", "--color", "0", "--id", "1", "-f", "-q", "--palette", W("none.pvp")]


def lay(folder, before):
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    if before[0] is not None:
        for data, name in zip(before, ("t.pvz", "t.pvp")):
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)


# How many of each call one whole run makes.
counts = {}
folder = W("count")
for scenario, before in (("replace", old), ("create", (None, None))):
    lay(folder, before)
    log = W("strace.log")
    subprocess.run(["strace", "-f", "-qq", "-o", log, "-e", "trace=" + ",".join(CALLS)] + replace, cwd=folder,
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    calls = [re.match(r"(?:\d+\s+)?(\w+)\(", line) for line in open(log)]
    counts[scenario] = {c: sum(1 for m in calls if m and m.group(1) == c) for c in CALLS}
    check((read(os.path.join(folder, "t.pvz")), read(os.path.join(folder, "t.pvp"))) == new, "a whole run writes new")
check(counts["replace"]["rename"] >= 3 and counts["replace"]["fsync"] >= 3, "the run renames and flushes: %s" % counts)

outcomes = {"old": 0, "new": 0, "none": 0}
killed = 0
for scenario, before in (("replace", old), ("create", (None, None))):
    for call in CALLS:
        for n in range(1, counts[scenario][call] + 1):
            folder = W("%s-%s-%d" % (scenario, call, n))
            lay(folder, before)
            r = subprocess.run(["strace", "-f", "-qq", "-o", "/dev/null", "-e", "trace=" + call,
                                "-e", "inject=%s:signal=KILL:when=%d" % (call, n)] + replace, cwd=folder,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
            killed += r.returncode != 0
            # The next run in the folder: another picture written beside.
            r = subprocess.run([ombr, "encode", W("old.png"), "-o", "other.pvz", "--type", "7", "--color", "0", "--id", "1", "-q"], cwd=folder,
                               capture_output=True, text=True, timeout=60)
            pair = (read(os.path.join(folder, "t.pvz")), read(os.path.join(folder, "t.pvp")))
            kind = {old: "old", new: "new", (None, None): "none"}.get(pair)
            where = "%s, killed at %s #%d" % (scenario, call, n)
            check(r.returncode == 0, where + ": the next run: " + r.stderr)
            check(kind is not None and (kind != "none" or before[0] is None),
                  where + ": the pair is whole (%s)" % [None if p is None else len(p) for p in pair])
            left = [f for f in os.listdir(folder) if f.startswith("~")]
            check(left == [], where + ": nothing staged left: %s" % left)
            if kind:
                outcomes[kind] += 1
check(killed > 0 and outcomes["new"] > 0 and outcomes["old"] + outcomes["none"] > 0,
      "kills before and after the pair went in: %d killed, %s" % (killed, outcomes))
print("%d runs killed: %s" % (killed, outcomes))

if failures:
    print("%d checks failed" % len(failures))
    sys.exit(1)
print("all checks passed")
