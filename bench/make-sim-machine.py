#!/usr/bin/env python3
"""Writes a simulated machine of N disks for timing `list` and `health` at
scale: the demo machine's disks (examples/demo-mac) repeated, each copy
renamed (disk10, disk11, ...) and sharing the demo's sector files, which a
machine reads only when a command asks for them.

    bench/make-sim-machine.py N DIR
"""
import copy
import json
import os
import sys


def rename(value, old, new):
    """Every BSD name of a disk copy: disk0 -> disk12, disk0s1 -> disk12s1."""
    if isinstance(value, dict):
        return {k: rename(v, old, new) for k, v in value.items()}
    if isinstance(value, list):
        return [rename(v, old, new) for v in value]
    if isinstance(value, str) and (value == old or value.startswith(old + "s")):
        return new + value[len(old):]
    return value


def main():
    if len(sys.argv) != 3 or not sys.argv[1].isdigit():
        sys.exit(__doc__)
    count, folder = int(sys.argv[1]), sys.argv[2]
    demo = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples", "demo-mac")
    with open(os.path.join(demo, "machine.json")) as f:
        machine = json.load(f)
    # The disks with SMART access (an "ata" or "nvme" entry among their ancestors).
    templates = [d for d in machine["disks"]
                 if any("ata" in a or "nvme" in a for a in d.get("ancestors", []))]
    disks = []
    for i in range(count):
        template = templates[i % len(templates)]
        old = template["description"]["DAMediaBSDName"]
        disk = rename(copy.deepcopy(template), old, "disk%d" % (10 + i))
        # Volumes belong to the demo's own disks; a copy's own registry
        # entries get ids of their own, the shared controllers keep theirs
        # (the first copy, of disk0, declares them).
        disk.pop("descendants", None)
        for ancestor in disk.get("ancestors", []):
            if ancestor.get("id", "").startswith(old + "-"):
                ancestor["id"] = "disk%d-%s" % (10 + i, ancestor["id"][len(old) + 1:])
            ancestor.pop("handle", None)
        disk.pop("handle", None)
        disks.append(disk)
    machine["disks"] = disks
    os.makedirs(folder, exist_ok=True)
    sectors = os.path.join(folder, "sectors")
    if not os.path.exists(sectors):
        os.symlink(os.path.join(os.path.abspath(demo), "sectors"), sectors)
    resources = os.path.join(folder, "resources")
    if not os.path.exists(resources):
        os.symlink(os.path.join(os.path.abspath(demo), "resources"), resources)
    with open(os.path.join(folder, "machine.json"), "w") as f:
        json.dump(machine, f, indent=1)


if __name__ == "__main__":
    main()
