#!/usr/bin/env python3
"""Runs every command that prints --format json and validates each output
against docs/schema/sentrel-1.0.schema.json: on the demo machine, on a
capture of each of its drives (as a user would send one in), and on any
further machine folders given (the end-to-end test's captures).

usage: validate_json.py SENTREL [MACHINE_FOLDER...]
"""
import json
import pathlib
import subprocess
import sys
import tempfile

import jsonschema

HERE = pathlib.Path(__file__).resolve()
REPO = HERE.parents[2]
SCHEMA = json.loads((REPO / "docs/schema/sentrel-1.0.schema.json").read_text())


def run(sentrel, args):
    done = subprocess.run([sentrel, "--offline", "--format", "json", *args],
                          capture_output=True, text=True, timeout=120)
    return done.returncode, done.stdout, done.stderr


def disks_of(sentrel, machine):
    code, out, err = run(sentrel, ["--sim", machine, "list"])
    if code != 0:
        raise SystemExit(f"list on {machine} failed ({code}): {err}")
    return [d["disk"] for d in json.loads(out)["devices"]]


def commands(machine, disks):
    sim = ["--sim", machine]
    yield sim + ["list"]
    yield sim + ["health", "--all"]
    for disk in disks + ["nosuchdisk"]:
        yield sim + ["health", disk]
        yield sim + ["device", disk]


def main():
    if len(sys.argv) < 2:
        raise SystemExit(__doc__)
    sentrel, extra = sys.argv[1], sys.argv[2:]
    jsonschema.Draft202012Validator.check_schema(SCHEMA)
    validator = jsonschema.Draft202012Validator(SCHEMA)
    demo = str(REPO / "examples/demo-mac")
    failures, checked = [], 0
    with tempfile.TemporaryDirectory() as scratch:
        machines = [demo]
        for disk in disks_of(sentrel, demo):
            folder = str(pathlib.Path(scratch) / f"capture-{disk}")
            code, _, err = run(sentrel, ["--sim", demo, "capture", disk, folder])
            if code != 0:
                failures.append(f"capture {disk}: exit {code}: {err.strip()}")
                continue
            machines.append(folder)
        machines += extra
        runs = [args for m in machines for args in commands(m, disks_of(sentrel, m))]
        runs += [["db", "presets"], ["decode", "raw", "raw48", "050f00646400080000000000"],
                 ["ata", "command", "0xb0", "0xd0"], ["sys", "bytes", "1536"],
                 ["--sim", demo, "selftest", "disk0", "short"]]
        for args in runs:
            code, out, err = run(sentrel, args)
            checked += 1
            try:
                value = json.loads(out)
            except json.JSONDecodeError as e:
                failures.append(f"{' '.join(args)}: not JSON ({e}); exit {code}; {err.strip()}")
                continue
            for error in validator.iter_errors(value):
                path = "/".join(str(p) for p in error.absolute_path)
                failures.append(f"{' '.join(args)}: at /{path}: {error.message[:200]}")
    for f in failures:
        print(f"validate_json: {f}", file=sys.stderr)
    print(f"validate_json: {checked} outputs checked, {len(failures)} problems")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
