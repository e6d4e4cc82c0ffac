#!/usr/bin/env python3
"""Whole-process scale benchmark on the simulated device.

For each size (1,000 to 1,000,000 controls by default) it writes a synthetic
device file and a changed document of the same device (quorvel_make_device,
through the program's own save path), then times, as separate processes run
alternately:
  save:     QUORVEL_MIXER=sim:device.xml quorvel -out saved.xml
  restore:  QUORVEL_MIXER=sim:device.xml quorvel changed.xml
            (every settable control changed; the device file is put back
            and flushed to disk before every run, untimed; the restored
            device file is checked once against the changed document)
It prints the medians, the peak memory of each (GNU time), and the growth
exponent between sizes (the slope of time against size on log-log axes:
1 is linear). A run that fails is reported with its message. Timed in the
same runs, the floor the disk sets: reading the device file's bytes
(cat FILE > /dev/null) and writing as many and flushing them to disk
(dd conv=fsync), what every save and restore does at least once.

With --baseline, another build's program is timed too, alternated with this
one run by run, and both are shown.

Usage: bench/scale.py [--build DIR] [--sizes 1000,10000,...] [--runs N]
                      [--program QUORVEL] [--baseline OTHER_QUORVEL]
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


def shorten(size):
    for unit, value in (("M", 1000000), ("k", 1000)):
        if size >= value and size % value == 0:
            return "%d%s" % (size // value, unit)
    return str(size)


def failure_message(command):
    """The standard error of one more run of a failing command, in short."""
    run = subprocess.run(command.argv, env=command.env, stdout=subprocess.DEVNULL,
                         stderr=subprocess.PIPE)
    text = run.stderr.decode("utf-8", "replace").strip().splitlines()
    return "; ".join(text[-2:]) if text else "no message"


def measure(make_device, programs, size, runs, work):
    """Times every program at one size; returns one row per program."""
    folder = work / str(size)
    folder.mkdir()
    pristine, changed = folder / "pristine.xml", folder / "changed.xml"
    device = folder / "device.xml"
    subprocess.run([str(make_device), str(size), str(pristine), str(changed)], check=True)
    shutil.copyfile(pristine, device)
    os.chdir(folder)
    env = "QUORVEL_MIXER=sim:" + str(device)
    # The copy is flushed to disk before the timed run: else the file
    # system writes it out during the run's own flush (one journal commit
    # takes both), and the run is charged for a copy it did not make.
    prep = "cp %s %s && sync" % (pristine, device)
    commands = []
    for tag, quorvel in programs:
        commands.append(timing.Command(tag + " save", "%s %s -out saved.xml" % (env, quorvel)))
        commands.append(timing.Command(tag + " restore", "%s %s changed.xml" % (env, quorvel)))
    commands.append(timing.Command("read", "cat %s > /dev/null" % pristine))
    commands.append(timing.Command(
        "write", "dd if=%s of=floor.xml bs=1M conv=fsync status=none" % pristine))
    results = timing.time_group(commands, runs, warmup=1, prep=prep, memory=True)
    floor = {"read": results[-2].median, "write": results[-1].median}

    rows = []
    for index, (tag, _) in enumerate(programs):
        row = {"program": tag, "size": size, "file_mb": pristine.stat().st_size / 1e6,
               "runs": runs}
        for name, result in zip(("save", "restore"), results[2 * index:2 * index + 2]):
            row[name] = result.median
            row[name + "_mb"] = result.peak_kib * 1024 / 1e6
            row[name + "_ok"] = result.statuses == {0}
            if not row[name + "_ok"]:
                timing.prepare(prep)
                row[name + "_failure"] = failure_message(result.command)
        # The restore must leave the device as the changed document says.
        timing.prepare(prep)
        commands[2 * index + 1].run()
        row["restore_checked"] = device.read_bytes() == changed.read_bytes()
        row["floor"] = floor
        rows.append(row)
    os.chdir(work)
    shutil.rmtree(folder)
    return rows


def print_row(row, with_program):
    notes = "ok" if row["restore_checked"] else "NOT as the changed document"
    for name in ("save", "restore"):
        if not row[name + "_ok"]:
            notes = "%s FAILED: %s" % (name, row[name + "_failure"])
    ms = lambda seconds: seconds * 1000  # noqa: E731
    print("%s%10s %6.1f MB %5d %8.1f ms %6.1f MB %8.1f ms %6.1f MB %8.1f ms  %s" % (
        "%-9s" % row["program"] if with_program else "", "{:,}".format(row["size"]),
        row["file_mb"], row["runs"], ms(row["save"]), row["save_mb"], ms(row["restore"]),
        row["restore_mb"], ms(row["save"] + row["restore"]), notes))
    if row["program"] == "this":
        print("%s%10s   floor: reading the file %.1f ms, writing and flushing it %.1f ms" % (
            " " * 9 if with_program else "", "", ms(row["floor"]["read"]),
            ms(row["floor"]["write"])))
    sys.stdout.flush()


def print_growth(rows, with_program):
    for tag in dict.fromkeys(r["program"] for r in rows):
        mine = [r for r in rows if r["program"] == tag]
        if len(mine) < 2:
            continue
        print("Growth exponent (log-log slope; 1 = linear)%s:" % (
            " of " + tag if with_program else ""))
        for name in ("save", "restore"):
            ok = [r for r in mine if r[name + "_ok"]]
            steps = ["%s-%s: %.2f" % (shorten(a["size"]), shorten(b["size"]),
                                      slope([(a["size"], a[name]), (b["size"], b[name])]))
                     for a, b in zip(ok, ok[1:])]
            nan = float("nan")
            fit = slope([(r["size"], r[name]) for r in ok]) if len(ok) > 1 else nan
            memory = slope([(r["size"], r[name + "_mb"]) for r in ok]) if len(ok) > 1 else nan
            failed = [shorten(r["size"]) for r in mine if not r[name + "_ok"]]
            print("  %-8s time %s; fit %.2f; peak memory fit %.2f%s" % (
                name, ", ".join(steps), fit, memory,
                "  (failed at %s, left out)" % ", ".join(failed) if failed else ""))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=None, help="build folder (default: build/)")
    parser.add_argument("--sizes", default="1000,10000,100000,1000000")
    parser.add_argument("--runs", type=int, default=None, help="timed runs per size")
    parser.add_argument("--program", default=None, help="the quorvel to time (default: the build's)")
    parser.add_argument("--baseline", default=None, help="another quorvel, timed alongside")
    args = parser.parse_args()
    root = pathlib.Path(__file__).resolve().parent.parent
    build = pathlib.Path(args.build).resolve() if args.build else root / "build"
    make_device = build / "bench" / "quorvel_make_device"
    if not make_device.exists():
        sys.exit("no quorvel_make_device in %s: build with QUORVEL_BENCH=ON" % build)
    sizes = [int(s) for s in args.sizes.split(",")]
    programs = [("this", pathlib.Path(args.program).resolve() if args.program
                 else build / "quorvel")]
    if args.baseline:
        programs.append(("baseline", pathlib.Path(args.baseline).resolve()))
    with_program = len(programs) > 1

    cpu = "unknown CPU"
    with open("/proc/cpuinfo") as info:
        for line in info:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    print("Simulated device, whole processes; %d cores, %s" % (os.cpu_count(), cpu))
    for tag, program in programs:
        print("  %s: %s" % (tag, program))
    print("%s%10s %9s %5s %11s %9s %11s %9s %11s  %s" % (
        "%-9s" % "program" if with_program else "", "controls", "file", "runs", "save", "peak",
        "restore", "peak", "together", "restored"))
    rows = []
    with tempfile.TemporaryDirectory(prefix="quorvel-scale-") as work_dir:
        work = pathlib.Path(work_dir)
        for size in sizes:
            for row in measure(make_device, programs, size, args.runs or default_runs(size), work):
                rows.append(row)
                print_row(row, with_program)
    print_growth(rows, with_program)


if __name__ == "__main__":
    main()
