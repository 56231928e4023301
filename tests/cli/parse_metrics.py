#!/usr/bin/env python3
"""Parses `sentrel metrics` on the demo machine with the Prometheus client's
own parsers (text format and OpenMetrics), and checks that each counter is a
counter there and that every drive has its samples. Where Prometheus's own
promtool is installed (CI installs Debian's prometheus package), the text
output must pass `promtool check metrics` and the example configuration and
alert rules `promtool check config`."""
import shutil
import subprocess
import sys
from pathlib import Path

from prometheus_client.openmetrics.parser import text_string_to_metric_families as parse_open
from prometheus_client.parser import text_string_to_metric_families as parse_text

cli = sys.argv[1]
root = Path(__file__).resolve().parents[2]
demo = str(root / "examples" / "demo-mac")


def metrics(*extra):
    return subprocess.run([cli, "--sim", demo, "metrics", *extra], check=True,
                          capture_output=True, text=True).stdout


failures = []
for name, parse, text in (("text", parse_text, metrics()),
                          ("openmetrics", parse_open, metrics("--openmetrics"))):
    families = {f.name: f for f in parse(text)}
    counter = families.get("sentrel_device_power_on_seconds")
    if counter is None or counter.type != "counter":
        failures.append(f"{name}: power-on seconds is not a counter")
    up = families.get("sentrel_device_up")
    devices = sorted(s.labels["device"] for s in up.samples) if up else []
    if devices != ["disk0", "disk1", "disk3", "disk5"]:
        failures.append(f"{name}: sentrel_device_up covers {devices}")
    if any(s.timestamp is not None for f in families.values() for s in f.samples):
        failures.append(f"{name}: a sample carries a timestamp")

promtool = shutil.which("promtool")
if promtool:
    for args, given in ((["check", "metrics"], metrics()),
                        (["check", "config", str(root / "examples" / "prometheus" / "prometheus.yml")], None)):
        run = subprocess.run([promtool, *args], input=given, capture_output=True, text=True)
        if run.returncode != 0 or (args[1] == "metrics" and run.stdout + run.stderr):
            failures.append(f"promtool {' '.join(args[:2])}: {run.stdout}{run.stderr}".strip())
else:
    print("promtool is not installed: the metrics were not checked with it")

for f in failures:
    print("FAIL", f)
sys.exit(1 if failures else 0)
