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

from pictures import palette, palette_png  # noqa: E402
from wine_exe import check, finish, read, staged, write  # noqa: E402

ombr, work = os.path.abspath(sys.argv[1]), sys.argv[2]
CALLS = ("write", "fsync", "rename", "unlink")
W = lambda *names: os.path.join(work, *names)  # noqa: E731
encode = lambda *args: [ombr, "encode", *args, "--type", "7", "--color", "0", "--id", "1", "-q"]  # noqa: E731
which = lambda pair: "old" if pair == old else "new" if pair == new else "mixed"  # noqa: E731


def pair(folder, stem="t"):
    return read(os.path.join(folder, stem + ".pvz")), read(os.path.join(folder, stem + ".pvp"))


def lay(folder, before, stems=("t",)):
    """A fresh folder holding the pair `before` (none when its texture is None) under each stem."""
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for stem in stems if before[0] is not None else ():
        write(os.path.join(folder, stem + ".pvz"), before[0])
        write(os.path.join(folder, stem + ".pvp"), before[1])


def killed_at(call, n, command, cwd=None):
    return subprocess.run(["strace", "-f", "-qq", "-o", "/dev/null", "-e", "trace=" + call,
                           "-e", "inject=%s:signal=KILL:when=%d" % (call, n)] + command, cwd=cwd,
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)


def next_run(folder):
    """The next run in the folder: another picture written beside."""
    return subprocess.run(encode(W("old.png"), "-o", "other.pvz"), cwd=folder, capture_output=True, text=True,
                          timeout=60)


shutil.rmtree(work, ignore_errors=True)
os.makedirs(work)
palette_png(W("old.png"), 32, 32, palette(1), lambda x, y: (x + y) % 256)
palette_png(W("new.png"), 32, 32, palette(2), lambda x, y: (x * y) % 256)
for name in ("old", "new"):
    subprocess.run(encode(W(name + ".png"), "-o", W(name + ".pvz")), check=True)
old, new, none = pair(work, "old"), pair(work, "new"), (None, None)
# The pictures' own palettes, not the one being replaced.
replace = encode(W("new.png"), "-o", "t.pvz", "-f", "--new-palette")

# How many of each call one whole run makes.
counts = {}
for scenario, before in (("replace", old), ("create", none)):
    lay(W("count"), before)
    subprocess.run(["strace", "-f", "-qq", "-o", W("strace.log"), "-e", "trace=" + ",".join(CALLS)] + replace,
                   cwd=W("count"), check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    calls = [re.match(r"(?:\d+\s+)?(\w+)\(", line) for line in open(W("strace.log"))]
    counts[scenario] = {c: sum(1 for m in calls if m and m.group(1) == c) for c in CALLS}
    check(pair(W("count")) == new, "a whole run writes new")
check(counts["replace"]["rename"] >= 3 and counts["replace"]["fsync"] >= 3, "the run renames and flushes: %s" % counts)

outcomes = {"old": 0, "new": 0, "none": 0}
killed = 0
for scenario, before in (("replace", old), ("create", none)):
    for call in CALLS:
        for n in range(1, counts[scenario][call] + 1):
            folder = W("%s-%s-%d" % (scenario, call, n))
            lay(folder, before)
            killed += killed_at(call, n, replace, folder).returncode != 0
            r = next_run(folder)
            kind = {old: "old", new: "new", none: "none"}.get(pair(folder))
            where = "%s, killed at %s #%d" % (scenario, call, n)
            check(r.returncode == 0, where + ": the next run: " + r.stderr)
            check(kind is not None and (kind != "none" or before[0] is None),
                  where + ": the pair is whole (%s)" % [None if p is None else len(p) for p in pair(folder)])
            check(staged(folder) == [], where + ": nothing staged left: %s" % staged(folder))
            if kind:
                outcomes[kind] += 1
check(killed > 0 and outcomes["new"] > 0 and outcomes["old"] + outcomes["none"] > 0,
      "kills before and after the pair went in: %d killed, %s" % (killed, outcomes))
print("%d runs killed: %s" % (killed, outcomes))

# ---- a batch at -j 2, killed at a rename of either worker: every pair of
# its own files (each picture differs), none mixed with another job's.
batch, stems = W("batch"), ["b%d" % i for i in range(6)]
for i, stem in enumerate(stems):
    palette_png(W(stem + ".png"), 16, 16, palette(3 + i), lambda x, y, i=i: (x * (i + 2) + y) % 256)
batch_encode = encode("-j", "2", "--new-palette", *(W(stem + ".png") for stem in stems))
subprocess.run(batch_encode + ["--out-dir", W("b-new")], check=True)
pairs_new = [pair(W("b-new"), stem) for stem in stems]
check(len(set(pairs_new)) == 6, "six different pairs")
batch_outcomes = {"old": 0, "new": 0}
for n in range(1, 6 * 3 + 1, 2):
    lay(batch, old, stems)
    killed_at("rename", n, batch_encode + ["-f", "--out-dir", batch])
    r = next_run(batch)
    for i, stem in enumerate(stems):
        kind = "old" if pair(batch, stem) == old else "new" if pair(batch, stem) == pairs_new[i] else None
        check(kind is not None, "-j 2 killed at rename #%d: pair %d whole" % (n, i))
        if kind:
            batch_outcomes[kind] += 1
    check(r.returncode == 0 and staged(batch) == [], "-j 2 killed at rename #%d: next run %s, left %s" % (
        n, r.stderr, staged(batch)))
check(batch_outcomes["old"] > 0 and batch_outcomes["new"] > 0, "-j 2 kills on both sides: %s" % batch_outcomes)
print("-j 2 batches killed: %s" % batch_outcomes)

# ---- a folder moved between the kill and the next run: the journal names
# its files by name, so it finishes them where they are now.
for call, want in (("rename", old), ("unlink", new)):   # after the old palette went aside; after the pair went in
    lay(W("moving"), old)
    shutil.rmtree(W("moved"), ignore_errors=True)
    killed_at(call, 2, replace, W("moving"))
    os.rename(W("moving"), W("moved"))
    r = next_run(W("moved"))
    check(pair(W("moved")) == want and staged(W("moved")) == [] and r.returncode == 0, "moved, killed at %s #2: %s, "
          "left %s: %s" % (call, which(pair(W("moved"))), staged(W("moved")), r.stderr))

# ---- journals that name anything but their own folder's files of their own
# run, or are not this user's: left as they are, reported, nothing they name
# touched; the batch goes on.
hostile, outside = W("hostile"), W("outside")
lay(hostile, old)
lay(outside, none)
victims = {os.path.join(outside, "victim"): b"outside", os.path.join(hostile, "keep.txt"): b"inside"}
for n in range(8):
    victims[os.path.join(hostile, "~77-%d.tmp" % n)] = b"staged"
for path, data in victims.items():
    write(path, data)
journals = {
    "~77-j1.tmp": ["../outside/victim", "~77-0.tmp", "", "t.pvz", "~77-1.tmp"],   # a path out of the folder
    "~77-j2.tmp": [outside + "/victim", "~77-2.tmp", "", "t.pvz", "~77-3.tmp"],   # an absolute path
    "~77-j3.tmp": ["keep.txt", "~78-0.tmp", "", "t.pvz", "~77-4.tmp"],   # another run's staged name
    "~77-j4.tmp": ["~77-5.tmp", "~77-6.tmp", "", "", ""],   # a staged name as a target
    "~77-j5.tmp": ["keep.txt", "../outside/victim", "", "", ""],   # a staged name that is a path
}
if os.geteuid() == 0:   # a whole journal of another user's
    journals["~77-j6.tmp"] = ["keep.txt", "~77-7.tmp", "", "", ""]
for name, lines in journals.items():
    write(os.path.join(hostile, name), "ombr pair journal 2\n" + "".join(n + "\n" for n in lines) + "end\n")
if "~77-j6.tmp" in journals:
    os.chown(os.path.join(hostile, "~77-j6.tmp"), 65534, 65534)
r = subprocess.run(replace, cwd=hostile, capture_output=True, text=True, timeout=60)
check(r.returncode == 0 and pair(hostile) == new, "hostile journals: the run goes on: " + r.stderr)
check(all(read(path) == data for path, data in victims.items()), "hostile journals touch nothing they name")
check(all(os.path.exists(os.path.join(hostile, name)) for name in journals) and
      r.stderr.count("left as it is") == len(journals), "hostile journals left and reported: " + r.stderr)

finish()
