#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Times commands in interleaved rounds: every round runs each command once,
in turn, after the same preparation. A slow drift of the machine (a file
system's free-inode search, page cache pressure) then weighs on every
command alike, which hyperfine's one-command-after-another order does not
give. Writes hyperfine's JSON layout (median, min, max, and the median
user and system times).

  interleave.py --runs N --prepare 'SHELL CMD' --export-json OUT \\
      -n NAME 'PROGRAM ARGS' [-n NAME 'PROGRAM ARGS' ...]

The commands are split into words as a shell would, and run without one;
the preparation runs in a shell.
"""
import argparse, json, os, shlex, statistics, subprocess, time

parser = argparse.ArgumentParser()
parser.add_argument("--runs", type=int, required=True)
parser.add_argument("--prepare", required=True)
parser.add_argument("--export-json", required=True)
parser.add_argument("-n", dest="names", action="append", required=True)
parser.add_argument("commands", nargs="+")
args = parser.parse_intermixed_args()
assert len(args.names) == len(args.commands)

times = {name: [] for name in args.names}
for _ in range(args.runs):
    for name, command in zip(args.names, args.commands):
        subprocess.run(args.prepare, shell=True, check=True)
        start = time.perf_counter()
        child = subprocess.Popen(shlex.split(command))
        _, status, usage = os.wait4(child.pid, 0)
        elapsed = time.perf_counter() - start
        if status != 0:
            raise SystemExit(f"{name} failed: status {status}")
        times[name].append((elapsed, usage.ru_utime, usage.ru_stime))

results = []
for name, command in zip(args.names, args.commands):
    runs = times[name]
    results.append({
        "command": name,
        "median": statistics.median(t[0] for t in runs),
        "min": min(t[0] for t in runs),
        "max": max(t[0] for t in runs),
        "user": statistics.median(t[1] for t in runs),
        "system": statistics.median(t[2] for t in runs),
        "times": [t[0] for t in runs],
    })
json.dump({"results": results}, open(args.export_json, "w"), indent=1)
