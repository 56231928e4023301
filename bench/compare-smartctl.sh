#!/usr/bin/env bash
# Times a drive-database lookup by `sentrel` against the same lookup by
# smartctl, as whole processes on the same drivedb.h file:
#
#   sentrel --offline db lookup --db FILE MODEL
#   smartctl -B FILE -P showall MODEL
#
# Usage: bench/compare-smartctl.sh [DRIVEDB] [MODEL] [RUNS]
#   DRIVEDB  default /usr/share/smartmontools/drivedb.h
#   MODEL    default "WDC WD10EZEX-00BN5A0"
#   RUNS     runs of each program, default 50
# Environment: SENTREL (the sentrel program, default build/default/sentrel),
#              SMARTCTL (default: smartctl on the PATH).
#
# Both programs read and parse the whole file on every run; the runs
# alternate (sentrel, smartctl, sentrel, ...) after three warm-up runs of
# each, so a change in the machine's load falls on both alike. Prints the
# median, mean and spread of each in milliseconds, wall-clock and CPU (user
# + system, from the child's resource usage: less sensitive to a loaded
# machine), and the ratio sentrel / smartctl (below 1: sentrel is faster).
# The same is measured for `sentrel --help` and `smartctl -h`, which shows
# how much of each is only starting the process.
set -euo pipefail
cd "$(dirname "$0")/.."

drivedb="${1:-/usr/share/smartmontools/drivedb.h}"
model="${2:-WDC WD10EZEX-00BN5A0}"
runs="${3:-50}"
sentrel="${SENTREL:-build/default/sentrel}"
smartctl="${SMARTCTL:-$(command -v smartctl || true)}"

[[ -r "$drivedb" ]] || { echo "compare-smartctl: cannot read $drivedb" >&2; exit 2; }
[[ -x "$sentrel" ]] || { echo "compare-smartctl: no sentrel at $sentrel (build it, or set SENTREL)" >&2; exit 2; }
[[ -n "$smartctl" && -x "$smartctl" ]] || { echo "compare-smartctl: smartctl not found (apt-get install smartmontools)" >&2; exit 2; }
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || { echo "compare-smartctl: RUNS must be a positive number" >&2; exit 2; }

exec python3 - "$sentrel" "$smartctl" "$drivedb" "$model" "$runs" <<'PY'
import os, statistics, subprocess, sys, time

sentrel, smartctl, drivedb, model, runs = sys.argv[1:6]
runs = int(runs)
lookups = {
    "sentrel": [sentrel, "--offline", "db", "lookup", "--db", drivedb, model],
    "smartctl": [smartctl, "-B", drivedb, "-P", "showall", model],
}
# The same programs doing next to nothing: what starting the process costs.
starts = {
    "sentrel": [sentrel, "--help"],
    "smartctl": [smartctl, "-h"],
}

# Both must find the model in this file, or the comparison means nothing.
found = subprocess.run(lookups["sentrel"], capture_output=True, text=True)
if found.returncode != 0:
    sys.exit(f"compare-smartctl: sentrel did not find {model!r} (exit {found.returncode}):\n"
             f"{found.stdout}{found.stderr}")
found = subprocess.run(lookups["smartctl"], capture_output=True, text=True)
if "Drive found in smartmontools Database" not in found.stdout:
    sys.exit(f"compare-smartctl: smartctl did not find {model!r}:\n{found.stdout}{found.stderr}")

def once(argv):
    """Wall-clock and CPU (user + system) milliseconds of one run."""
    start = time.perf_counter()
    child = subprocess.Popen(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, _, usage = os.wait4(child.pid, 0)
    wall = (time.perf_counter() - start) * 1000.0
    return wall, (usage.ru_utime + usage.ru_stime) * 1000.0

def measure(commands):
    for _ in range(3):
        for argv in commands.values():
            once(argv)
    times = {name: ([], []) for name in commands}
    for _ in range(runs):
        for name, argv in commands.items():
            wall, cpu = once(argv)
            times[name][0].append(wall)
            times[name][1].append(cpu)
    return times

def report(title, times):
    print(title)
    print(f"  {'program':<10}{'wall median':>12}{'mean':>8}{'stdev':>8}{'min':>8}{'max':>8}"
          f"{'cpu median':>12}{'mean':>8}")
    for name, (wall, cpu) in times.items():
        print(f"  {name:<10}{statistics.median(wall):>12.2f}{statistics.mean(wall):>8.2f}"
              f"{statistics.stdev(wall) if len(wall) > 1 else 0.0:>8.2f}{min(wall):>8.2f}"
              f"{max(wall):>8.2f}{statistics.median(cpu):>12.2f}{statistics.mean(cpu):>8.2f}")
    ratio = lambda i, f: f(times["sentrel"][i]) / max(f(times["smartctl"][i]), 1e-9)
    print(f"  ratio sentrel/smartctl: wall median {ratio(0, statistics.median):.2f}, "
          f"wall mean {ratio(0, statistics.mean):.2f}, cpu median {ratio(1, statistics.median):.2f}")
    print()

lookup_times = measure(lookups)
start_times = measure(starts)
load = os.getloadavg()
print(f"drivedb: {drivedb} ({os.path.getsize(drivedb)} bytes)")
print(f"model:   {model}")
print(f"runs:    {runs} of each, alternating, after 3 warm-up runs; milliseconds; "
      f"load average {load[0]:.2f} {load[1]:.2f} {load[2]:.2f} on {os.cpu_count()} CPUs")
print()
report("lookup (sentrel --offline db lookup --db FILE MODEL | smartctl -B FILE -P showall MODEL)",
       lookup_times)
report("start-up only (sentrel --help | smartctl -h)", start_times)
PY
