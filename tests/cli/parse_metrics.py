#!/usr/bin/env python3
"""Parses `sentrel metrics` on the demo machine with the Prometheus client's
own parsers (text format and OpenMetrics), and checks that each counter is a
counter there and that every drive has its samples. Where Prometheus's own
promtool is installed (CI installs Debian's prometheus package), the text
output must pass `promtool check metrics` and the example configuration and
alert rules `promtool check config`.

The same checks hold for what `sentrel serve` answers over HTTP (its server
is a module the program loads), in the format the Accept header asks for; a
second server on the same port is refused with exit status 1."""
import shutil
import socket
import subprocess
import sys
import time
import urllib.request
from pathlib import Path

from prometheus_client.openmetrics.parser import text_string_to_metric_families as parse_open
from prometheus_client.parser import text_string_to_metric_families as parse_text

cli = sys.argv[1]
root = Path(__file__).resolve().parents[2]
demo = str(root / "examples" / "demo-mac")


def metrics(*extra):
    return subprocess.run([cli, "--sim", demo, "metrics", *extra], check=True,
                          capture_output=True, text=True).stdout


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def served():
    """The text and OpenMetrics answers of `sentrel serve`, with their types."""
    listen = f"127.0.0.1:{free_port()}"
    server = subprocess.Popen([cli, "--sim", demo, "serve", "--listen", listen],
                              stderr=subprocess.PIPE, text=True)
    try:
        answers = []
        for accept in ("text/plain", "application/openmetrics-text; version=1.0.0"):
            request = urllib.request.Request(f"http://{listen}/metrics", headers={"Accept": accept})
            for _ in range(100):
                try:
                    with urllib.request.urlopen(request, timeout=5) as reply:
                        answers.append((reply.headers["Content-Type"], reply.read().decode()))
                        break
                except OSError:
                    if server.poll() is not None:
                        sys.exit(f"FAIL serve exited with {server.returncode}: {server.stderr.read()}")
                    time.sleep(0.1)
            else:
                sys.exit("FAIL serve did not answer within 10 s")
        second = subprocess.run([cli, "--sim", demo, "serve", "--listen", listen],
                                capture_output=True, text=True, timeout=10)
        if second.returncode != 1 or "cannot listen" not in second.stderr:
            failures.append(f"a second server on {listen}: status {second.returncode}, {second.stderr}")
        return answers
    finally:
        server.kill()
        server.wait()


failures = []
(text_type, served_text), (open_type, served_open) = served()
if not text_type.startswith("text/plain; version=0.0.4"):
    failures.append(f"serve: the text format comes as {text_type}")
if not open_type.startswith("application/openmetrics-text"):
    failures.append(f"serve: OpenMetrics comes as {open_type}")
for name, parse, text in (("text", parse_text, metrics()),
                          ("openmetrics", parse_open, metrics("--openmetrics")),
                          ("serve, text", parse_text, served_text),
                          ("serve, openmetrics", parse_open, served_open)):
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
