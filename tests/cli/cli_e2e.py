#!/usr/bin/env python3
"""End-to-end checks of the ombr binary: batches of good and damaged files,
the progress bar on a terminal only, and byte-exact round trips of the
bundled sample (a batch, and files dropped).

usage: cli_e2e.py OMBR MAKE_TEXTURES SAMPLE WORK_DIR
"""
import json
import os
import pty
import shutil
import subprocess
import sys
from wine_exe import check, files_under, finish, read, staged, write  # noqa: E402

ombr, make_textures, sample, work = sys.argv[1:5]


def run(*args, **kwargs):
    return subprocess.run([ombr, *args], capture_output=True, text=True, **kwargs)


shutil.rmtree(work, ignore_errors=True)
inputs = os.path.join(work, "in")
os.makedirs(inputs)
subprocess.run([make_textures, inputs], check=True)
good = sorted(f for f in os.listdir(inputs) if f.endswith((".pvr", ".pvz")))

r = run()
check(r.returncode == 2 and r.stdout == "" and "usage:" in r.stderr, "no arguments: usage on stderr, status 2")

# A batch with damaged files among the good ones.
damaged = {
    "cut.pvz": lambda b: b[: len(b) // 2],
    "magic.pvr": lambda b: b"XXXX" + b[4:],
    "empty.pvz": lambda b: b"",
}
for name, damage in damaged.items():
    write(os.path.join(inputs, name), damage(read(os.path.join(inputs, good[0]))))
write(os.path.join(inputs, "readme.txt"), "not a texture\n")

out = os.path.join(work, "out")
r = run("decode", inputs, "--out-dir", out)
check(r.returncode == 1, "a batch with damaged files exits 1")
for name in good:
    check(os.path.exists(os.path.join(out, name[:-4] + ".png")), "converted " + name)
for name in damaged:
    check(not os.path.exists(os.path.join(out, name[:-4] + ".png")), "nothing written for " + name)
    check(name + ": " in r.stderr, "failure named: " + name)
check("ombr decode: %d converted, %d failed" % (len(good), len(damaged)) in r.stdout, "summary line")
check("\r" not in r.stderr, "no progress bar when stderr is not a terminal")
check(staged(work) == [], "no temporary file left")

# The progress bar appears on a terminal.
master, slave = pty.openpty()
process = subprocess.Popen([ombr, "decode", inputs, "--out-dir", os.path.join(work, "out2")],
                           stdout=subprocess.PIPE, stderr=slave)
os.close(slave)
shown = b""
try:
    while chunk := os.read(master, 4096):
        shown += chunk
except OSError:   # the terminal's other end closed
    pass
process.wait()
os.close(master)
summary = process.stdout.read().decode()
process.stdout.close()
check(b"\r[" in shown and b"/%d " % (len(good) + len(damaged)) in shown, "progress bar on a terminal")
check(b"cut.pvz: " in shown and "converted" in summary, "errors and summary beside the bar")

# info --json sees the same files.
r = run("info", "--json", inputs)
records = json.loads(r.stdout)
check(r.returncode == 1, "info with damaged files exits 1")
check(len(records) == len(good) + len(damaged), "info lists every texture")
check(all(rec["ok"] for rec in records if os.path.basename(rec["file"]) in good), "good textures are ok")
check(not any(rec["ok"] for rec in records if os.path.basename(rec["file"]) in damaged), "damaged ones are not")

# A batch on four threads: the same messages in input order and the same
# status as one job at a time; every good file converted; a folder reached
# again through links (sub/loop -> .., self -> .) read once.
batch = os.path.join(work, "batch")
os.makedirs(os.path.join(batch, "sub"))
for name in ["t0.pvz", "t1.pvz", "t2.pvz", "t3.pvz", "t4.pvz", "sub/s0.pvz", "sub/s1.pvz"]:
    shutil.copy(sample, os.path.join(batch, name))
write(os.path.join(batch, "t2.pvz"), b"broken")
os.symlink("..", os.path.join(batch, "sub", "loop"))
os.symlink(".", os.path.join(batch, "self"))
runs = {}
for jobs in ("1", "4"):
    dest = os.path.join(work, "batch-j" + jobs)
    runs[jobs] = run("decode", batch, "-r", "-v", "--out-dir", dest, "-j", jobs)
    written = files_under(dest)
    check(written == ["sub/s0.png", "sub/s1.png", "t0.png", "t1.png", "t3.png", "t4.png"],
          "-j %s: each good file once, no folder twice: %s" % (jobs, written))
    check(runs[jobs].returncode == 1 and "ombr decode: 6 converted, 1 failed" in runs[jobs].stdout,
          "-j %s: status and summary of a batch with a broken file" % jobs)
same = lambda text: text.replace("batch-j4", "batch-j1")
check(same(runs["4"].stdout) == runs["1"].stdout and same(runs["4"].stderr) == runs["1"].stderr,
      "-j 4 tells the same, in the same order, as -j 1")
back_dir = os.path.join(work, "batch-back")
r = run("encode", os.path.join(work, "batch-j4"), "-r", "--out-dir", back_dir, "--type", "1", "--color", "1",
        "--id", "1001")
backs = files_under(back_dir)
check(r.returncode == 0 and len(backs) == 6 and all(read(os.path.join(back_dir, f)) == read(sample) for f in backs),
      "every picture of the -j 4 batch encodes back to the sample byte for byte")

# Paths without a command, as dropped on ombr.exe: a texture beside its PNG,
# a folder to FOLDER-png and back; the texts in the locale's language.
drop = os.path.join(work, "drop")
os.makedirs(os.path.join(drop, "tex"))
shutil.copy(sample, os.path.join(drop, "one.pvz"))
shutil.copy(sample, os.path.join(drop, "tex", "a.pvz"))
r = run(os.path.join(drop, "one.pvz"), os.path.join(drop, "tex"))
check(r.returncode == 0 and os.path.isfile(os.path.join(drop, "one.png")) and
      os.path.isfile(os.path.join(drop, "tex-png", "a.png")), "dropped: %r" % r.stderr)
r = run(os.path.join(drop, "one.png"), os.path.join(drop, "tex-png"))
check(r.returncode == 0 and read(sample) == read(os.path.join(drop, "one.pvz")) ==
      read(os.path.join(drop, "tex", "a.pvz")), "dropped back: %r" % r.stderr)
r = run("decod", os.path.join(drop, "one.pvz"))
check(r.returncode == 2 and "unknown command 'decod'" in r.stderr, "a mistyped command is no drop")
r = run(env=dict(os.environ, LC_ALL="", LC_MESSAGES="", LANG="ja_JP.UTF-8"))
check(r.returncode == 2 and "ombr.exe にドロップしてください" in r.stderr and "使い方:" in r.stderr,
      "no arguments in a Japanese locale: how to drop, in Japanese")

finish()
