#!/usr/bin/env python3
"""Splits the guest's console log into its result sections.

Usage: console.py CONSOLE_LOG OUT_DIR

Each section printed between "@@E2E-BEGIN name" and "@@E2E-END name rc=N"
becomes OUT_DIR/name (its text) and OUT_DIR/name.rc (its exit status);
OUT_DIR/timings.txt lists how long each command took in the guest.
Sections named capture-* hold a base64 tar: it is unpacked into the
folder OUT_DIR/capture-* and kept as OUT_DIR/capture-*.tar.b64. Exits 1 unless the guest reached @@E2E-DONE.
"""
import base64
import io
import os
import re
import sys
import tarfile

BEGIN = re.compile(r"@@E2E-BEGIN (\S+)$")
END = re.compile(r"@@E2E-END (\S+) rc=(\d+)(?: s=([\d.]+))?$")


def sections(lines):
    """(name, text, status, seconds) of each complete section, in order."""
    name, body = None, []
    for line in lines:
        line = line.rstrip("\r")
        if name is None:
            m = BEGIN.search(line)
            if m:
                name, body = m.group(1), []
            continue
        m = END.search(line)
        if m and m.group(1) == name:
            # The guest adds one newline after each output so that the end
            # line stands alone; joining the lines undoes exactly that.
            yield name, "\n".join(body), int(m.group(2)), m.group(3)
            name = None
        else:
            body.append(line)


def unpack(text, folder):
    data = base64.b64decode("".join(text.split()))
    os.makedirs(folder, exist_ok=True)
    with tarfile.open(fileobj=io.BytesIO(data)) as tar:
        for member in tar.getmembers():
            if member.name.startswith("/") or ".." in member.name.split("/"):
                raise ValueError(f"unsafe path {member.name} in {folder}")
        tar.extractall(folder)


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    log, out = sys.argv[1], sys.argv[2]
    os.makedirs(out, exist_ok=True)
    try:
        with open(log, encoding="utf-8", errors="replace") as f:
            lines = f.read().split("\n")
    except OSError as e:
        print(f"e2e: no console log: {e}", file=sys.stderr)
        return 1
    count = 0
    timings = []
    for name, text, status, seconds in sections(lines):
        count += 1
        if seconds is not None and not name.endswith(".stderr"):
            timings.append(f"{seconds:>8} s  {name}")
        if name.startswith("capture-") and not name.endswith(".stderr"):
            if status == 0:
                try:
                    unpack(text, os.path.join(out, name))
                except (ValueError, tarfile.TarError, base64.binascii.Error) as e:
                    print(f"e2e: cannot unpack {name}: {e}", file=sys.stderr)
            # The folder takes the section's name; its text goes beside it.
            name += ".tar.b64"
        with open(os.path.join(out, name), "w", encoding="utf-8") as f:
            f.write(text)
        with open(os.path.join(out, name + ".rc"), "w") as f:
            f.write(f"{status}\n")
    with open(os.path.join(out, "timings.txt"), "w") as f:
        f.write("\n".join(timings) + "\n")
    done = any(line.rstrip("\r").startswith("@@E2E-DONE") for line in lines)
    print(f"e2e: {count} sections from {log}" + ("" if done else " (the guest did not finish)"))
    return 0 if done else 1


if __name__ == "__main__":
    sys.exit(main())
