#!/usr/bin/env python3
"""Whole-process scale benchmark on the simulated device.

For each size (1,000 to 1,000,000 controls by default) it writes a synthetic
device file and a changed document of the same device (quorvel_make_device,
through the program's own save path), then times, as separate processes run
alternately:
  save:     QUORVEL_MIXER=sim:device.xml quorvel -out saved.xml
  restore:  QUORVEL_MIXER=sim:device.xml quorvel changed.xml
            (every settable control changed; the device file is put back
            before every run, untimed; the restored device file is checked
            once against the changed document)
It prints the medians, the peak memory of each (GNU time), and the growth
exponent between sizes (the slope of time against size on log-log axes:
1 is linear). A run that fails is reported with its message.

Usage: bench/scale.py [--build DIR] [--sizes 1000,10000,...] [--runs N] [--program QUORVEL]
"""

import argparse
import math
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import timing  # noqa: E402


def default_runs(size):
    return 20 if size <= 1000 else 10 if size <= 10000 else 5 if size <= 100000 else 3


def slope(points):
    """Least-squares slope of log(y) against log(x)."""
    xs = [math.log(x) for x, _ in points]
    ys = [math.log(y) for _, y in points]
    mx, my = sum(xs) / len(xs), sum(ys) / len(ys)
    den = sum((x - mx) ** 2 for x in xs)
    return sum((x - mx) * (y - my) for x, y in zip(xs, ys)) / den if den else float("nan")


def failure_message(command):
    """The standard error of one more run of a failing command, in short."""
    run = subprocess.run(command.argv, env=command.env, stdout=subprocess.DEVNULL,
                         stderr=subprocess.PIPE)
    text = run.stderr.decode("utf-8", "replace").strip().splitlines()
    return "; ".join(text[-2:]) if text else "no message"


def measure(build, quorvel, size, runs, work):
    make_device = build / "bench" / "quorvel_make_device"
    folder = work / str(size)
    folder.mkdir()
    pristine, changed = folder / "pristine.xml", folder / "changed.xml"
    device = folder / "device.xml"
    subprocess.run([str(make_device), str(size), str(pristine), str(changed)], check=True)
    shutil.copyfile(pristine, device)
    os.chdir(folder)
    env = "QUORVEL_MIXER=sim:" + str(device)
    save = timing.Command("save", "%s %s -out saved.xml" % (env, quorvel))
    restore = timing.Command("restore", "%s %s changed.xml" % (env, quorvel))
    prep = "cp %s %s" % (pristine, device)
    results = timing.time_group([save, restore], runs, warmup=1, prep=prep, memory=True)

    row = {"size": size, "file_mb": pristine.stat().st_size / 1e6, "runs": runs}
    for result in results:
        name = result.command.label
        row[name] = result.median
        row[name + "_mb"] = result.peak_kib * 1024 / 1e6
        row[name + "_ok"] = result.statuses == {0}
        if not row[name + "_ok"]:
            timing.prepare(prep)
            row[name + "_failure"] = failure_message(result.command)
    # The restore must leave the device as the changed document describes it.
    timing.prepare(prep)
    restore.run()
    row["restore_checked"] = device.read_bytes() == changed.read_bytes()
    os.chdir(work)
    shutil.rmtree(folder)
    return row


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=None, help="build folder (default: build/)")
    parser.add_argument("--sizes", default="1000,10000,100000,1000000")
    parser.add_argument("--runs", type=int, default=None, help="timed runs per size")
    parser.add_argument("--program", default=None,
                        help="the quorvel to time (default: the build's; another build's, to compare)")
    args = parser.parse_args()
    root = pathlib.Path(__file__).resolve().parent.parent
    build = pathlib.Path(args.build).resolve() if args.build else root / "build"
    if not (build / "bench" / "quorvel_make_device").exists():
        sys.exit("no quorvel_make_device in %s: build with QUORVEL_BENCH=ON" % build)
    sizes = [int(s) for s in args.sizes.split(",")]
    quorvel = pathlib.Path(args.program).resolve() if args.program else build / "quorvel"

    cpu = "unknown CPU"
    with open("/proc/cpuinfo") as info:
        for line in info:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    print("Simulated device, whole processes; %d cores, %s" % (os.cpu_count(), cpu))
    print("%10s %9s %5s %11s %9s %11s %9s %11s  %s" % (
        "controls", "file", "runs", "save", "peak", "restore", "peak", "together", "restored"))
    rows = []
    with tempfile.TemporaryDirectory(prefix="quorvel-scale-") as work_dir:
        work = pathlib.Path(work_dir)
        for size in sizes:
            row = measure(build, quorvel, size, args.runs or default_runs(size), work)
            rows.append(row)
            notes = "ok" if row["restore_checked"] else "NOT as the changed document"
            for name in ("save", "restore"):
                if not row[name + "_ok"]:
                    notes = "%s FAILED: %s" % (name, row[name + "_failure"])
            print("%10s %6.1f MB %5d %8.1f ms %6.1f MB %8.1f ms %6.1f MB %8.1f ms  %s" % (
                "{:,}".format(size), row["file_mb"], row["runs"], row["save"] * 1000,
                row["save_mb"], row["restore"] * 1000, row["restore_mb"],
                (row["save"] + row["restore"]) * 1000, notes))
            sys.stdout.flush()

    if len(rows) < 2:
        return
    print("Growth exponent (log-log slope; 1 = linear):")
    for name in ("save", "restore"):
        ok = [r for r in rows if r[name + "_ok"]]
        steps = ["%s-%s: %.2f" % (shorten(a["size"]), shorten(b["size"]),
                                  slope([(a["size"], a[name]), (b["size"], b[name])]))
                 for a, b in zip(ok, ok[1:])]
        fit = slope([(r["size"], r[name]) for r in ok]) if len(ok) > 1 else float("nan")
        mem = slope([(r["size"], r[name + "_mb"]) for r in ok]) if len(ok) > 1 else float("nan")
        failed = [shorten(r["size"]) for r in rows if not r[name + "_ok"]]
        print("  %-8s time %s; fit %.2f; peak memory fit %.2f%s" % (
            name, ", ".join(steps), fit, mem,
            "  (failed at %s, left out)" % ", ".join(failed) if failed else ""))


def shorten(size):
    for unit, value in (("M", 1000000), ("k", 1000)):
        if size >= value and size % value == 0:
            return "%d%s" % (size // value, unit)
    return str(size)


if __name__ == "__main__":
    main()
