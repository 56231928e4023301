#!/usr/bin/env bash
# Times `sentrel` against smartctl as whole processes, pair by pair, and
# sentrel's own whole-process targets:
#
#   decode      sentrel --offline decode raw raw48 0...0   | smartctl --version
#   --db        sentrel --offline db lookup --db FILE MODEL | smartctl -B FILE -P showall MODEL
#               for a model no entry matches, one the second entry matches
#               and one near the end of the ATA entries
#   installed   sentrel --offline db lookup MODEL (its installed database,
#               read from its parsed-database cache)       | smartctl -P showall MODEL
#               (its built-in database)
#   alone       sentrel health of one simulated drive with the database,
#               list of a simulated machine of 1,000 disks (and 10,000)
#
# Usage: bench/compare-smartctl.sh [RUNS] [DRIVEDB]
#   RUNS     runs of each command, default 30
#   DRIVEDB  default /usr/share/smartmontools/drivedb.h
# Environment: SENTREL (default build/default/sentrel), SMARTCTL (default:
#              smartctl on the PATH).
#
# The two commands of a pair run alternately (sentrel, smartctl, sentrel,
# ...) after three warm-up runs of each, so a change in the machine's load
# falls on both alike. sentrel runs with XDG_DATA_HOME and XDG_CACHE_HOME
# in a scratch folder: its installed database is then the copy among its
# resources, and the warm-up runs write that database's cache. Prints, in
# milliseconds, the median wall-clock and CPU time (user + system, from the
# child's resource usage) and the peak resident memory of each command (one
# more run under GNU time, package "time", when it is installed), the
# ratios smartctl / sentrel (above 1: sentrel is faster) against their
# targets, and the load average before and after.
set -euo pipefail
cd "$(dirname "$0")/.."

runs="${1:-30}"
drivedb="${2:-/usr/share/smartmontools/drivedb.h}"
sentrel="${SENTREL:-build/default/sentrel}"
smartctl="${SMARTCTL:-$(command -v smartctl || true)}"

[[ -r "$drivedb" ]] || { echo "compare-smartctl: cannot read $drivedb" >&2; exit 2; }
[[ -x "$sentrel" ]] || { echo "compare-smartctl: no sentrel at $sentrel (build it, or set SENTREL)" >&2; exit 2; }
[[ -n "$smartctl" && -x "$smartctl" ]] || { echo "compare-smartctl: smartctl not found (apt-get install smartmontools)" >&2; exit 2; }
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || { echo "compare-smartctl: RUNS must be a positive number" >&2; exit 2; }

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
python3 bench/make-sim-machine.py 1000 "$scratch/m1000"
python3 bench/make-sim-machine.py 10000 "$scratch/m10000"

python3 - "$sentrel" "$smartctl" "$drivedb" "$runs" "$scratch" <<'PY'
import os, shutil, statistics, subprocess, sys, time

sentrel, smartctl, drivedb, runs, scratch = sys.argv[1:6]
runs = int(runs)
env = dict(os.environ, XDG_DATA_HOME=f"{scratch}/data", XDG_CACHE_HOME=f"{scratch}/cache")

UNKNOWN = "NO SUCH MODEL 123"
EARLY = "SFCF4096H2BU4TO-I-MS-527-STD"   # the second entry of the file
LATE = "QUANTUM FIREBALLP AS40.0"        # entry 540 of 739, near the end of the ATA entries

def sentrel_cmd(*args):
    return [sentrel, "--offline", *args]

# (title, sentrel command, smartctl command, target: smartctl / sentrel at least)
pairs = [
    ("decode vs --version", sentrel_cmd("decode", "raw", "raw48", "000000000000000000000000"),
     [smartctl, "--version"], 1 / 1.5),
    ("--db, unknown model", sentrel_cmd("db", "lookup", "--db", drivedb, UNKNOWN),
     [smartctl, "-B", drivedb, "-P", "showall", UNKNOWN], 4),
    ("--db, early match", sentrel_cmd("db", "lookup", "--db", drivedb, EARLY),
     [smartctl, "-B", drivedb, "-P", "showall", EARLY], 4),
    ("--db, late match", sentrel_cmd("db", "lookup", "--db", drivedb, LATE),
     [smartctl, "-B", drivedb, "-P", "showall", LATE], 4),
    ("installed, unknown model", sentrel_cmd("db", "lookup", UNKNOWN),
     [smartctl, "-P", "showall", UNKNOWN], 2),
    ("installed, late match", sentrel_cmd("db", "lookup", LATE),
     [smartctl, "-P", "showall", LATE], 2),
]
# (title, command, wall-clock target in ms, peak memory target in MiB)
alone = [
    ("health, one simulated drive", sentrel_cmd("--sim", "examples/demo-mac", "health", "disk1",
                                                "--no-pace"), 4.0, 8.0),
    ("list, 1,000 simulated disks", sentrel_cmd("--sim", f"{scratch}/m1000", "list"), 100.0, None),
    ("list, 10,000 simulated disks", sentrel_cmd("--sim", f"{scratch}/m10000", "list"), 1000.0, None),
]

# Both find (or miss) the same models, or the comparison means nothing.
for model, found in ((UNKNOWN, False), (EARLY, True), (LATE, True)):
    out = subprocess.run(sentrel_cmd("db", "lookup", "--db", drivedb, model), env=env,
                         capture_output=True, text=True).stdout
    if ("no entry" not in out) != found:
        sys.exit(f"compare-smartctl: sentrel {'missed' if found else 'found'} {model!r}:\n{out}")
    out = subprocess.run([smartctl, "-B", drivedb, "-P", "showall", model],
                         capture_output=True, text=True).stdout
    if ("Drive found in smartmontools Database" in out) != found:
        sys.exit(f"compare-smartctl: smartctl {'missed' if found else 'found'} {model!r}:\n{out}")

def once(argv):
    """Wall-clock ms and CPU ms (user + system) of one run."""
    start = time.perf_counter()
    child = subprocess.Popen(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
    _, status, usage = os.wait4(child.pid, 0)
    wall = (time.perf_counter() - start) * 1000.0
    if os.waitstatus_to_exitcode(status) < 0:
        sys.exit(f"compare-smartctl: {' '.join(argv)} was killed")
    return wall, (usage.ru_utime + usage.ru_stime) * 1000.0

def peak_mib(argv):
    """Peak resident MiB of one run, as GNU time reports it: a child forked
    from this Python process would count Python's own pages as well."""
    gnu_time = shutil.which("time", path="/usr/bin:/bin")
    if not gnu_time:
        return float("nan")
    run = subprocess.run([gnu_time, "-f", "%M", *argv], stdout=subprocess.DEVNULL,
                         stderr=subprocess.PIPE, text=True, env=env)
    try:
        return int(run.stderr.strip().splitlines()[-1]) / 1024.0
    except (IndexError, ValueError):
        return float("nan")

def measure(commands):
    for _ in range(3):
        for argv in commands:
            once(argv)
    samples = [([], []) for _ in commands]
    for _ in range(runs):
        for i, argv in enumerate(commands):
            for series, value in zip(samples[i], once(argv)):
                series.append(value)
    return [(statistics.median(w), statistics.median(c), peak_mib(argv))
            for (w, c), argv in zip(samples, commands)]

load_before = os.getloadavg()
print(f"drivedb: {drivedb} ({os.path.getsize(drivedb)} bytes); {runs} runs of each command, "
      f"alternating within a pair, after 3 warm-up runs; milliseconds")
print(f"load average before: {load_before[0]:.2f} {load_before[1]:.2f} {load_before[2]:.2f} "
      f"on {os.cpu_count()} CPUs")
print()
print(f"{'pair':<26}{'sentrel wall':>13}{'cpu':>7}{'MiB':>6}{'smartctl wall':>15}{'cpu':>7}"
      f"{'MiB':>6}{'ratio wall':>12}{'cpu':>7}{'target':>8}")
for title, ours, theirs, target in pairs:
    (w1, c1, m1), (w2, c2, m2) = measure([ours, theirs])
    ratio_wall, ratio_cpu = w2 / w1, c2 / max(c1, 1e-9)
    verdict = "met" if ratio_wall >= target else "MISSED"
    print(f"{title:<26}{w1:>13.2f}{c1:>7.2f}{m1:>6.1f}{w2:>15.2f}{c2:>7.2f}{m2:>6.1f}"
          f"{ratio_wall:>12.2f}{ratio_cpu:>7.2f}{'>= ' + format(target, '.2g'):>8} {verdict}")
print()
print(f"{'sentrel alone':<30}{'wall':>9}{'cpu':>8}{'MiB':>7}{'target':>22}")
for title, argv, wall_target, memory_target in alone:
    ((w, c, m),) = measure([argv])
    target = f"<= {wall_target:g} ms" + (f", {memory_target:g} MiB" if memory_target else "")
    met = w <= wall_target and (memory_target is None or m <= memory_target)
    print(f"{title:<30}{w:>9.2f}{c:>8.2f}{m:>7.1f}{target:>22} {'met' if met else 'MISSED'}")
load_after = os.getloadavg()
print()
print(f"load average after: {load_after[0]:.2f} {load_after[1]:.2f} {load_after[2]:.2f}")
PY
