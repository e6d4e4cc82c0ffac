#!/usr/bin/env python3
"""Times commands as whole processes, alternated, and prints medians.

Used by the benchmark scripts of bench/, as a module or on the command line.

A command is written as shell words (split with shlex, never run through a
shell, so no shell start-up is timed): leading NAME=VALUE words set
environment variables, a word "<FILE" feeds FILE to standard input and a word
">FILE" sends standard output to FILE (else both are /dev/null; standard
error always is). The clock runs from just before the process is spawned to
just after it has been reaped. Peak memory, when asked for, is measured in
one more run under GNU time (/usr/bin/time, Debian package "time"): its
"Maximum resident set size". It cannot be taken from the timed runs: a
process spawned from this one starts with this interpreter's pages counted
in its peak.

Commands of one group run alternately, one run of each in turn, so that
whatever else the machine does weighs on all of them alike. A group may have
a preparation, a shell command run untimed before every timed run (to put a
device back into the state the timed command expects).

On the command line, the groups come on standard input:

    runs 30                 runs of each command (default 20)
    warmup 2                untimed runs of each command first (default 1)
    group NAME              starts a group
    memory                  also measure the group's peak memory
    prep SHELL COMMAND      the group's preparation (optional)
    cmd LABEL :: COMMAND    a command of the group; the first is the one
                            the others are compared with

For each group it prints every command's median time (and peak memory) and,
for every command after the first, the ratio first/this.
"""

import os
import shlex
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


class Command:
    def __init__(self, label, text):
        self.label = label
        self.text = text
        self.env = dict(os.environ)
        self.stdin = None
        self.stdout = None
        self.argv = []
        for word in shlex.split(text):
            name, sep, value = word.partition("=")
            if not self.argv and sep and name.isidentifier():
                self.env[name] = value
            elif word.startswith("<"):
                self.stdin = word[1:]
            elif word.startswith(">"):
                self.stdout = word[1:]
            else:
                self.argv.append(word)
        if not self.argv:
            raise ValueError("no program in: " + text)
        path = self.argv[0]
        if "/" not in path:
            path = shutil.which(path, path=self.env.get("PATH"))
            if path is None:
                raise ValueError("no such program: " + self.argv[0])
        self.path = path

    def _spawn(self, argv, path):
        stdin = os.open(self.stdin or os.devnull, os.O_RDONLY)
        stdout = os.open(self.stdout or os.devnull, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
        stderr = os.open(os.devnull, os.O_WRONLY)
        actions = [(os.POSIX_SPAWN_DUP2, stdin, 0), (os.POSIX_SPAWN_DUP2, stdout, 1),
                   (os.POSIX_SPAWN_DUP2, stderr, 2)]
        try:
            start = time.perf_counter()
            pid = os.posix_spawn(path, argv, self.env, file_actions=actions)
            _, status, _ = os.wait4(pid, 0)
            elapsed = time.perf_counter() - start
        finally:
            for fd in (stdin, stdout, stderr):
                os.close(fd)
        return elapsed, os.waitstatus_to_exitcode(status)

    def run(self):
        """Runs once; returns (seconds, exit status)."""
        return self._spawn(self.argv, self.path)

    def peak_memory_kib(self):
        """Runs once under GNU time; returns the peak resident set in KiB."""
        gnu_time = "/usr/bin/time"
        if not os.access(gnu_time, os.X_OK):
            raise SystemExit("GNU time is missing (Debian package time)")
        fd, report = tempfile.mkstemp(prefix="quorvel-bench-")
        os.close(fd)
        try:
            self._spawn([gnu_time, "-f", "%M", "-o", report, self.path] + self.argv[1:], gnu_time)
            with open(report) as lines:
                return int(lines.read().split()[-1])
        finally:
            os.unlink(report)


class Result:
    def __init__(self, command):
        self.command = command
        self.times = []
        self.statuses = set()
        self.peak_kib = None

    @property
    def median(self):
        return statistics.median(self.times)


def prepare(shell_command):
    if shell_command:
        subprocess.run(shell_command, shell=True, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def time_group(commands, runs, warmup=1, prep=None, memory=False):
    """Runs the commands alternately; returns one Result per command."""
    results = [Result(command) for command in commands]
    for round_number in range(warmup + runs):
        for result in results:
            prepare(prep)
            seconds, status = result.command.run()
            if round_number >= warmup:
                result.times.append(seconds)
                result.statuses.add(status)
    if memory:
        for result in results:
            prepare(prep)
            result.peak_kib = result.command.peak_memory_kib()
    return results


def format_ms(seconds):
    return "%9.2f ms" % (seconds * 1000)


def print_group(name, results, runs):
    print("%s (median of %d alternated runs)" % (name, runs))
    first = results[0]
    width = max(len(r.command.label) for r in results)
    for result in results:
        line = "  %-*s %s" % (width, result.command.label, format_ms(result.median))
        if result.peak_kib is not None:
            line += "  %7.1f MB" % (result.peak_kib * 1024 / 1e6)
        if result is not first:
            line += "   ratio %.2f" % (first.median / result.median)
        if result.statuses != {0}:
            line += "   exit status %s" % ",".join(str(s) for s in sorted(result.statuses))
        print(line)
    sys.stdout.flush()


def main():
    runs, warmup = 20, 1
    groups = []
    for number, raw in enumerate(sys.stdin, 1):
        line = raw.strip()
        if not line or line.startswith("#"):
            continue
        keyword, _, rest = line.partition(" ")
        rest = rest.strip()
        if keyword == "runs":
            runs = int(rest)
        elif keyword == "warmup":
            warmup = int(rest)
        elif keyword == "group":
            groups.append({"name": rest, "prep": None, "memory": False, "commands": []})
        elif keyword == "memory" and groups:
            groups[-1]["memory"] = True
        elif keyword == "prep" and groups:
            groups[-1]["prep"] = rest
        elif keyword == "cmd" and groups and "::" in rest:
            label, _, text = rest.partition("::")
            groups[-1]["commands"].append(Command(label.strip(), text.strip()))
        else:
            sys.exit("line %d: cannot read: %s" % (number, line))
    for group in groups:
        results = time_group(group["commands"], runs, warmup, group["prep"], group["memory"])
        print_group(group["name"], results, runs)


if __name__ == "__main__":
    main()
