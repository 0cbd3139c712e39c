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
from wine_exe import check, finish, read  # noqa: E402

ombr, work = os.path.abspath(sys.argv[1]), sys.argv[2]
CALLS = ("write", "fsync", "rename", "unlink")


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
replace = [ombr, "encode", W("new.png"), "-o", "t.pvz", "--type", "7", "--color", "0", "--id", "1", "-f", "-q", "--new-palette"]


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


# ---- a batch at -j 2, killed at a rename of either worker: every pair of
# its own files (each picture differs), none mixed with another job's.
batch = W("batch")
pictures = []
for i in range(6):
    palette_png(W("b%d.png" % i), 16, 16, palette(3 + i), lambda x, y, i=i: (x * (i + 2) + y) % 256)
    pictures.append(W("b%d.png" % i))
encode = [ombr, "encode", "--type", "7", "--color", "0", "--id", "1", "-q", "-j", "2", "--new-palette"]
subprocess.run(encode + pictures + ["--out-dir", W("b-new")], check=True)
subprocess.run(encode + [W("new.png"), "-o", W("b-old.pvz")], check=True)
pairs_new = [(read(W("b-new", "b%d.pvz" % i)), read(W("b-new", "b%d.pvp" % i))) for i in range(6)]
pair_old = (read(W("b-old.pvz")), read(W("b-old.pvp")))
check(len(set(pairs_new)) == 6, "six different pairs")
batch_outcomes = {"old": 0, "new": 0}
for n in range(1, 6 * 3 + 1, 2):
    lay(batch, (None, None))
    for i in range(6):
        for data, ext in zip(pair_old, (".pvz", ".pvp")):
            with open(os.path.join(batch, "b%d%s" % (i, ext)), "wb") as f:
                f.write(data)
    subprocess.run(["strace", "-f", "-qq", "-o", "/dev/null", "-e", "trace=rename",
                    "-e", "inject=rename:signal=KILL:when=%d" % n] + encode + ["-f", "--out-dir", batch] + pictures,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
    r = subprocess.run([ombr, "encode", W("old.png"), "-o", os.path.join(batch, "other.pvz"), "--type", "7", "--color",
                        "0", "--id", "1", "-q"], capture_output=True, text=True, timeout=60)
    for i in range(6):
        pair = (read(os.path.join(batch, "b%d.pvz" % i)), read(os.path.join(batch, "b%d.pvp" % i)))
        kind = "old" if pair == pair_old else "new" if pair == pairs_new[i] else None
        check(kind is not None, "-j 2 killed at rename #%d: pair %d whole" % (n, i))
        if kind:
            batch_outcomes[kind] += 1
    left = [f for f in os.listdir(batch) if f.startswith("~")]
    check(r.returncode == 0 and left == [], "-j 2 killed at rename #%d: next run %s, left %s" % (n, r.stderr, left))
check(batch_outcomes["old"] > 0 and batch_outcomes["new"] > 0, "-j 2 kills on both sides: %s" % batch_outcomes)
print("-j 2 batches killed: %s" % batch_outcomes)

# ---- a folder moved between the kill and the next run: the journal names
# its files by name, so it finishes them where they are now.
for call, want in (("rename", old), ("unlink", new)):   # after the old palette went aside; after the pair went in
    lay(W("moving"), old)
    shutil.rmtree(W("moved"), ignore_errors=True)
    subprocess.run(["strace", "-f", "-qq", "-o", "/dev/null", "-e", "trace=" + call,
                    "-e", "inject=%s:signal=KILL:when=2" % call] + replace, cwd=W("moving"),
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
    os.rename(W("moving"), W("moved"))
    r = subprocess.run([ombr, "encode", W("old.png"), "-o", "other.pvz", "--type", "7", "--color", "0", "--id", "1",
                        "-q"], cwd=W("moved"), capture_output=True, text=True, timeout=60)
    pair = (read(W("moved", "t.pvz")), read(W("moved", "t.pvp")))
    left = [f for f in os.listdir(W("moved")) if f.startswith("~")]
    check(pair == want and left == [] and r.returncode == 0,
          "moved, killed at %s #2: %s, left %s: %s" % (call, "old" if pair == old else "new" if pair == new else "mixed",
                                                      left, r.stderr))

# ---- journals that name anything but their own folder's files of their own
# run, or are not this user's: left as they are, reported, nothing they name
# touched; the batch goes on.
hostile, outside = W("hostile"), W("outside")
lay(hostile, old)
lay(outside, (None, None))
victims = {os.path.join(outside, "victim"): b"outside", os.path.join(hostile, "keep.txt"): b"inside"}
for path, data in victims.items():
    with open(path, "wb") as f:
        f.write(data)
for n in range(8):
    with open(os.path.join(hostile, "~77-%d.tmp" % n), "wb") as f:
        f.write(b"staged")
journals = {
    "~77-j1.tmp": ["../outside/victim", "~77-0.tmp", "", "t.pvz", "~77-1.tmp"],   # a path out of the folder
    "~77-j2.tmp": [outside + "/victim", "~77-2.tmp", "", "t.pvz", "~77-3.tmp"],   # an absolute path
    "~77-j3.tmp": ["keep.txt", "~78-0.tmp", "", "t.pvz", "~77-4.tmp"],   # another run's staged name
    "~77-j4.tmp": ["~77-5.tmp", "~77-6.tmp", "", "", ""],   # a staged name as a target
    "~77-j5.tmp": ["keep.txt", "../outside/victim", "", "", ""],   # a staged name that is a path
}
for name, names in journals.items():
    with open(os.path.join(hostile, name), "w") as f:
        f.write("ombr pair journal 2\n" + "".join(n + "\n" for n in names) + "end\n")
if os.geteuid() == 0:   # a whole journal of another user's
    with open(os.path.join(hostile, "~77-j6.tmp"), "w") as f:
        f.write("ombr pair journal 2\nkeep.txt\n~77-7.tmp\n\n\n\nend\n")
    os.chown(os.path.join(hostile, "~77-j6.tmp"), 65534, 65534)
    journals["~77-j6.tmp"] = None
r = subprocess.run(replace, cwd=hostile, capture_output=True, text=True, timeout=60)
check(r.returncode == 0 and (read(os.path.join(hostile, "t.pvz")), read(os.path.join(hostile, "t.pvp"))) == new,
      "hostile journals: the run goes on: " + r.stderr)
check(all(read(path) == data for path, data in victims.items()), "hostile journals touch nothing they name")
check(all(os.path.exists(os.path.join(hostile, name)) for name in journals) and
      r.stderr.count("left as it is") == len(journals), "hostile journals left and reported: " + r.stderr)

finish()
