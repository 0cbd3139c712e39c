#!/usr/bin/env python3
"""Prints the goal table of ombr_bench: each codec against its reference in
the same run, pass or fail.

    ombr_bench --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true \
               --benchmark_out=bench.json --benchmark_out_format=json
    bench/ratios.py bench.json

With repetitions the medians are used, otherwise the single runs. Times are
CPU times. Exits 1 when a measured goal is missed (0 with --no-fail); a goal
whose benchmarks are not in the file is shown as n/a and is not a failure.
The last column sets each codec beside the stricter host floor that makes
four calls per loop pass (for information; the goals use the plain loop).
"""
import argparse
import json
import sys

UNITS = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}
SIDES = (256, 512, 1024)
DECODERS = ("Twiddled16", "Twiddled8", "Twiddled4", "Rectangle", "Vq", "SmallVq")
ENCODERS = ("Twiddled16", "Twiddled8", "Twiddled4", "Rectangle")
MEMCPY = {1: "BM_Memcpy/1048576", 2: "BM_Memcpy/2097152"}   # the texel bytes of each unit


def load(path):
    with (sys.stdin if path == "-" else open(path)) as f:
        data = json.load(f)
    runs, medians = {}, {}
    for b in data.get("benchmarks", []):
        name = b.get("run_name", b["name"])
        if b.get("run_type") == "aggregate":
            if b.get("aggregate_name") == "median":
                medians[name] = b
        elif name not in runs or b.get("error_occurred"):
            runs[name] = b   # the first repetition, or one that failed
    for name, b in runs.items():
        if b.get("error_occurred"):
            medians[name] = b
    return {**runs, **medians}


def seconds(b):
    return b["cpu_time"] * UNITS[b.get("time_unit", "ns")]


def fmt_time(s):
    for unit, scale in (("s", 1.0), ("ms", 1e-3), ("us", 1e-6)):
        if s >= scale:
            return "%.3g %s" % (s / scale, unit)
    return "%.3g ns" % (s / 1e-9)


class Table:
    def __init__(self):
        self.rows = []
        self.failed = 0

    def speed(self, label, runs, name, reference, target, at_least, strict=None):
        """Ratio of speeds (reference time / measured time) against a target;
        `strict` names a second reference shown beside it (no goal)."""
        b, r = runs.get(name), runs.get(reference)
        if b is None or r is None:
            self.rows.append((label, "n/a", "n/a", "n/a", self.goal(target, at_least), "n/a", ""))
            return
        if b.get("error_occurred") or r.get("error_occurred"):
            self.rows.append((label, "error", "", "", self.goal(target, at_least), "FAIL", ""))
            self.failed += 1
            return
        if at_least:
            value = seconds(r) / seconds(b)   # fraction of the reference's speed
        else:
            value = seconds(b) / seconds(r)   # times the reference's cost
        ok = value >= target if at_least else value <= target
        self.failed += 0 if ok else 1
        s = runs.get(strict) if strict else None
        beside = "%.2f" % (seconds(b) / seconds(s)) if s and not s.get("error_occurred") else ""
        self.rows.append((label, fmt_time(seconds(b)), fmt_time(seconds(r)), "%.2f" % value,
                          self.goal(target, at_least), "pass" if ok else "FAIL", beside))

    def memory(self, label, runs, name):
        b = runs.get(name)
        if b is None:
            self.rows.append((label, "n/a", "n/a", "n/a", "<= budget", "n/a", ""))
            return
        if b.get("error_occurred"):
            self.rows.append((label, b.get("error_message", "error"), "", "", "<= budget", "FAIL", ""))
            self.failed += 1
            return
        peak, budget = b["peak_bytes"], b["budget_bytes"]
        ok = peak <= budget and b["other_allocs"] == 0
        self.failed += 0 if ok else 1
        self.rows.append((label, "%d B in %d blocks" % (peak, b["platform_allocs"]), "%d B" % budget,
                          "%.4f" % (peak / budget), "<= budget, 0 other", "pass" if ok else "FAIL", ""))

    def info(self, label, runs, name, reference):
        b, r = runs.get(name), runs.get(reference)
        if b is None or r is None:
            return
        self.rows.append((label, fmt_time(seconds(b)), fmt_time(seconds(r)),
                          "%.2f" % (seconds(b) / seconds(r)), "(no goal)", "", ""))

    @staticmethod
    def goal(target, at_least):
        return (">= %g" if at_least else "<= %g") % target

    def show(self):
        head = ("goal", "measured", "reference", "ratio", "target", "", "x 4-call floor")
        widths = [max(len(str(row[i])) for row in self.rows + [head]) for i in range(len(head))]
        for row in [head] + self.rows:
            print("  ".join(str(c).ljust(w) for c, w in zip(row, widths)).rstrip())


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("json", help="ombr_bench --benchmark_format=json output, or - for stdin")
    parser.add_argument("--no-fail", action="store_true", help="exit 0 even when a goal is missed")
    parser.add_argument("--measured-only", action="store_true", help="leave out the goals without figures")
    args = parser.parse_args()
    runs = load(args.json)
    t = Table()
    for unit in (1, 2):
        t.speed("PvzExpand long runs, %d-byte units (x memcpy)" % unit, runs,
                "BM_PvzExpand/long/%d" % unit, MEMCPY[unit], 0.5, True)
        t.speed("PvzExpand runs of 1, %d-byte units (x memcpy)" % unit, runs,
                "BM_PvzExpand/single/%d" % unit, MEMCPY[unit], 0.1, True)
    for unit in (1, 2):
        t.speed("PvzCompress long runs, %d-byte units (x memcpy)" % unit, runs,
                "BM_PvzCompress/long/%d" % unit, MEMCPY[unit], 0.25, True)
        t.speed("PvzCompress distinct units, %d-byte units (x memcpy)" % unit, runs,
                "BM_PvzCompress/single/%d" % unit, MEMCPY[unit], 0.1, True)
    for kind in DECODERS:
        for side in SIDES:
            t.speed("Decode %s %d (x host floor)" % (kind, side), runs, "BM_Decode/%s/%d" % (kind, side),
                    "BM_HostFloorSet/%d" % side, 1.5, False, "BM_HostFloorSetUnrolled/%d" % side)
    for kind in ENCODERS:
        for side in SIDES:
            t.speed("Encode %s %d (x host floor)" % (kind, side), runs, "BM_Encode/%s/%d" % (kind, side),
                    "BM_HostFloorGet/%d" % side, 1.5, False, "BM_HostFloorGetUnrolled/%d" % side)
    for kind in ("Twiddled16", "Twiddled8"):
        t.memory("Peak heap, import 1024 %s .pvz" % kind, runs, "BM_PeakImport/%s" % kind)
        t.memory("Peak heap, export 1024 %s .pvz" % kind, runs, "BM_PeakExport/%s" % kind)
    for unit in (1, 2):
        t.info("PvzExpand picture, %d-byte units (time / memcpy)" % unit, runs, "BM_PvzExpand/mixed/%d" % unit,
               MEMCPY[unit])
        t.info("PvzCompress picture, %d-byte units (time / memcpy)" % unit, runs,
               "BM_PvzCompress/mixed/%d" % unit, MEMCPY[unit])
    for side in SIDES:
        t.info("Host floor %d, 4 calls per loop pass (time / floor)" % side, runs,
               "BM_HostFloorSetUnrolled/%d" % side, "BM_HostFloorSet/%d" % side)
        t.info("Host floor get %d, 4 calls per loop pass (time / floor)" % side, runs,
               "BM_HostFloorGetUnrolled/%d" % side, "BM_HostFloorGet/%d" % side)
    t.info("Whole import 1024 16-bit .pvz (time / host floor)", runs, "BM_WholeImport", "BM_HostFloorSet/1024")
    t.info("Whole export 1024 16-bit .pvz (time / host floor)", runs, "BM_WholeExport", "BM_HostFloorGet/1024")
    if args.measured_only:
        t.rows = [row for row in t.rows if row[1] != "n/a"]
    t.show()
    print("%d goal(s) missed" % t.failed if t.failed else "all measured goals met")
    return 1 if t.failed and not args.no_fail else 0


if __name__ == "__main__":
    sys.exit(main())
