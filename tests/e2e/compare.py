#!/usr/bin/env python3
"""Compares what sentrel read inside the test guest with what smartctl read.

Usage: compare.py RUN_DIR

RUN_DIR is the work folder of tests/e2e/run.sh:
  full/out/       sections of the first boot (console.py)
  critical/out/   sections of the boot whose NVMe reports critical warnings
  replay/         sentrel --sim on the capture folders, run on this machine
  expected.json   the identities QEMU was given

Prints one line per field: OK or MISMATCH, the field, sentrel's value and
the reference value. Exits 1 when any field mismatched or was missing.
"""
import json
import os
import re
import sys

# The verdict rules sentrel applies, restated so that smartctl's data can be
# judged by them: defect counters above zero and normalized values at or
# below a non-zero threshold make a warning (temperatures excepted); the
# drive's own RETURN STATUS makes a failure.
ATA_DEFECT_COUNTERS = {5, 187, 197, 198}
ATA_THRESHOLD_EXEMPT = {190, 194}
# NVMe critical-warning bits: reliability degraded and read-only fail;
# spare below threshold, temperature and volatile backup warn.
NVME_FAILING_BITS = 0x04 | 0x08
NVME_WARNING_BITS = 0x01 | 0x02 | 0x10

# Offline data collection status bytes (bit 7: automatic collection on).
OFFLINE_STATUS = {}
for code, name in ((0, "never started"), (2, "completed"), (3, "in progress"),
                   (4, "suspended by host"), (5, "aborted by host"), (6, "aborted by device")):
    OFFLINE_STATUS[code] = OFFLINE_STATUS[code | 0x80] = name

# Self-test status names: the test running now, and the logged ones (which
# say "Interrupted" for code 2).
CURRENT_SELF_TEST_STATUS = [
    "Pass", "Aborted", "Interrupted By Reset", "Unknown Error", "Unknown Failure",
    "Electrical Failure", "Servo/Seek Failure", "Read Failure", "Handling Damage",
    "Unknown", "Unknown", "Unknown", "Unknown", "Unknown", "Unknown", "Test In Progress",
]
SELF_TEST_STATUS = [
    "Pass", "Aborted", "Interrupted", "Unknown Error", "Unknown Failure",
    "Electrical Failure", "Servo/Seek Failure", "Read Failure", "Handling Damage",
    "Unknown", "Unknown", "Unknown", "Unknown", "Unknown", "Unknown", "Test In Progress",
]


class Report:
    def __init__(self):
        self.checked = 0
        self.failed = 0

    def heading(self, text):
        print(f"\n== {text}")

    def check(self, field, ours, theirs, ok=None, note="", sides=("sentrel", "reference")):
        """One compared field; equal values pass unless ok says otherwise."""
        if ok is None:
            ok = ours == theirs
        self.checked += 1
        if not ok:
            self.failed += 1
        extra = f"  ({note})" if note else ""
        print(f"{'OK      ' if ok else 'MISMATCH'} {field}: "
              f"{sides[0]}={ours!r} {sides[1]}={theirs!r}{extra}")
        return ok

    def fail(self, field, why):
        self.checked += 1
        self.failed += 1
        print(f"MISMATCH {field}: {why}")

    def info(self, text):
        print(f"INFO     {text}")


class Sections:
    """The sections one boot printed."""

    def __init__(self, folder):
        self.folder = folder

    def path(self, name):
        return os.path.join(self.folder, name)

    def text(self, name):
        try:
            with open(self.path(name), encoding="utf-8") as f:
                return f.read()
        except OSError:
            return None

    def status(self, name):
        text = self.text(name + ".rc")
        return int(text) if text and text.strip().isdigit() else None

    def describe(self, name):
        """Why a section is unusable: its status and the start of its stderr."""
        if self.text(name) is None:
            return f"section {name} missing from the console"
        err = (self.text(name + ".stderr") or "").strip().splitlines()
        return f"exit status {self.status(name)}" + (f", stderr: {err[0][:200]}" if err else "")

    def json(self, name):
        """The section as JSON, or (None, reason)."""
        text = self.text(name)
        if text is None or not text.strip():
            return None, self.describe(name)
        try:
            return json.loads(text), None
        except json.JSONDecodeError as e:
            return None, f"not JSON ({e}); {self.describe(name)}"


def need(report, sections, name, what):
    """The JSON of a section; a missing one counts as a mismatch."""
    value, why = sections.json(name)
    if value is None:
        report.fail(what, why)
    return value


def dig(obj, *keys, default=None):
    for key in keys:
        if isinstance(obj, dict) and key in obj:
            obj = obj[key]
        elif isinstance(obj, list) and isinstance(key, int) and -len(obj) <= key < len(obj):
            obj = obj[key]
        else:
            return default
    return obj


def first(obj, *keys):
    """The value of the first of keys that obj has."""
    for key in keys:
        if isinstance(obj, dict) and key in obj:
            return obj[key]
    return None


def as_int(value, base=10):
    """An integer from a JSON number or a numeric string; None otherwise."""
    if isinstance(value, bool):
        return int(value)
    if isinstance(value, int):
        return value
    if isinstance(value, float) and value.is_integer():
        return int(value)
    if isinstance(value, str):
        try:
            return int(value.strip(), base)
        except ValueError:
            return None
    return None


def as_bool(value):
    if isinstance(value, bool):
        return value
    if isinstance(value, str):
        return {"yes": True, "true": True, "no": False, "false": False}.get(value.lower())
    if isinstance(value, int):
        return value != 0
    return None


def leading_integer(text):
    m = re.match(r"\s*(\d+)", str(text))
    return int(m.group(1)) if m else 0


def text_of(value):
    """Plain text of a value that may be styled text ({"text": ...})."""
    if isinstance(value, dict) and "text" in value:
        return value["text"]
    return value


# ---------------------------------------------------------------- ATA


def ata_identity(report, dev, smart, expected):
    report.heading("sda: identity")
    report.check("sda model", first(dev, "Device Model", "Model"), smart.get("model_name"))
    report.check("sda serial", dev.get("Serial Number"), smart.get("serial_number"))
    report.check("sda firmware", dev.get("Firmware Version"), smart.get("firmware_version"))
    report.check("sda capacity (bytes)", as_int(dev.get("User Capacity")),
                 dig(smart, "user_capacity", "bytes"))
    report.check("sda model family", dev.get("Model Family"), smart.get("model_family", "-"))
    chars = dev.get("Device Characteristics", {})
    report.check("sda rotation rate", as_int(first(chars, "Rotation Rate")),
                 smart.get("rotation_rate"))
    report.check("sda logical block size", as_int(first(chars, "Logical Block Size")),
                 smart.get("logical_block_size"))
    report.check("sda physical block size", as_int(first(chars, "Physical Block Size")),
                 smart.get("physical_block_size"))
    # smartctl against what QEMU was told: a wrong reference would hide a bug.
    sata = expected.get("sata", {})
    report.check("smartctl sda model is the configured one", smart.get("model_name"),
                 sata.get("model"), sides=("smartctl", "configured"))
    report.check("smartctl sda serial is the configured one", smart.get("serial_number"),
                 sata.get("serial"), sides=("smartctl", "configured"))


def ata_attributes(report, dev, smart):
    report.heading("sda: SMART attributes")
    table = dig(smart, "ata_smart_attributes", "table", default=[])
    if not table:
        report.fail("sda attributes", "smartctl shows no attribute table")
        return
    plain = dev.get("vsaDict")
    if not isinstance(plain, dict):
        # Only the display list: index it by ID.
        plain = {str(text_of(a.get("ID"))): {k: text_of(v) for k, v in a.items()}
                 for a in dev.get("vendorspecificAttributes", []) if isinstance(a, dict)}
    report.check("sda attribute IDs", sorted(as_int(k) for k in plain),
                 sorted(a["id"] for a in table))
    for attr in table:
        n = attr["id"]
        ours = plain.get(str(n))
        if ours is None:
            report.fail(f"sda attribute {n}", "missing from sentrel's table")
            continue
        report.check(f"sda attribute {n} current", as_int(ours.get("value")), attr.get("value"))
        report.check(f"sda attribute {n} worst", as_int(ours.get("worst")), attr.get("worst"))
        report.check(f"sda attribute {n} threshold", as_int(ours.get("threshold")),
                     attr.get("thresh"))
        flags = ours.get("flags")
        # vsaDict holds the flag word in hex; the display list in binary.
        base = 2 if isinstance(flags, str) and len(flags) > 4 else 16
        report.check(f"sda attribute {n} flags", as_int(flags, base),
                     dig(attr, "flags", "value"), note=f"sentrel text {flags!r}")
        raw_text = dig(attr, "raw", "string", default="").strip()
        ours_text = str(text_of(ours.get("rawValue"))).strip()
        fmt = ours.get("fmt")
        if fmt == "raw48":
            # The plain format leaves no room for style: the 48-bit number.
            report.check(f"sda attribute {n} raw value", ours_text, str(dig(attr, "raw", "value")),
                         note=f"smartctl text {raw_text!r}")
        else:
            # Decoded formats are written differently by the two tools
            # ("1:00:00.000" against "1h+00m+00.000s"); their numbers must agree.
            report.check(f"sda attribute {n} raw value (numbers)", raw_numbers(ours_text),
                         raw_numbers(raw_text),
                         note=f"format {fmt}: sentrel {ours_text!r}, smartctl {raw_text!r}")
            if ours_text != raw_text:
                report.info(f"sda attribute {n} raw text differs (format {fmt}): "
                            f"sentrel {ours_text!r}, smartctl {raw_text!r}")
        # Names are sentrel's own ("Spin Up Time" for Spin_Up_Time) and follow
        # its own rule: a drive-database "-v" option that sets only a format
        # ("-v 9,msec24hour32") leaves the attribute unnamed ("Unknown"),
        # where smartctl keeps its default name. Shown, not judged.
        name = text_of(ours.get("attributeName"))
        theirs = attr.get("name")
        if (name == "Unknown") != (theirs == "Unknown_Attribute"):
            report.info(f"sda attribute {n} name: sentrel {name!r}, smartctl {theirs!r}")


def raw_numbers(text):
    """The integers of a raw-value text, trailing zeros dropped: smartctl
    leaves zero extras out ("16" where sentrel writes "16 (0)")."""
    numbers = [int(x) for x in re.findall(r"\d+", text)]
    while len(numbers) > 1 and numbers[-1] == 0:
        numbers.pop()
    return numbers


def ata_expected_verdict(smart):
    if not dig(smart, "smart_status", "passed", default=True):
        return "Failed"
    for attr in dig(smart, "ata_smart_attributes", "table", default=[]):
        n, value, thresh = attr["id"], attr.get("value", 0), attr.get("thresh", 0)
        if n in ATA_DEFECT_COUNTERS and leading_integer(dig(attr, "raw", "string", default="0")) > 0:
            return "Warning"
        if thresh and n not in ATA_THRESHOLD_EXEMPT and value <= thresh:
            return "Warning"
    return "Passed"


def ata_health(report, dev, health, smart):
    report.heading("sda: health")
    passed = dig(smart, "smart_status", "passed")
    report.check("sda RETURN STATUS verdict", dev.get("Health"),
                 None if passed is None else ("Passed" if passed else "Failed"))
    expected = ata_expected_verdict(smart)
    report.check("sda attribute health", dev.get("attributeHealth"), expected)
    if health is None:
        return
    report.check("sda health verdict (health --format json: status)", health.get("status"),
                 expected)
    report.check("sda health isNVMe", health.get("isNVMe"), False)
    report.check("sda health deviceName", health.get("deviceName"), smart.get("model_name"))
    report.check("sda health deviceSerialNumber", health.get("deviceSerialNumber"),
                 smart.get("serial_number"))
    # One row per attribute after the "Extended Health" row; each name ends
    # in the attribute's ID, as in "Power-On Hours (9)".
    rows = {}
    for row in health.get("properties", []):
        m = re.search(r"\((\d+)\)\s*$", str(row.get("attributeName", "")))
        if row.get("attributeID", 0) != 0 and m:
            rows[int(m.group(1))] = row
    table = dig(smart, "ata_smart_attributes", "table", default=[])
    report.check("sda health rows (attribute IDs)", sorted(rows), sorted(a["id"] for a in table))
    for attr in table:
        row = rows.get(attr["id"])
        if row is None:
            continue
        got = (row.get("normalValue"), row.get("worseValue"), row.get("thresholdValue"))
        want = (attr.get("value"), attr.get("worst"), attr.get("thresh"))
        report.check(f"sda health row {row.get('attributeName')} (current, worst, threshold)",
                     got, want)


def ata_smart_data(report, dev, smart):
    report.heading("sda: SMART data and logs")
    data = smart.get("ata_smart_data", {})
    report.check("sda short self-test polling minutes",
                 as_int(dev.get("Short self-test polling time")),
                 dig(data, "self_test", "polling_minutes", "short"))
    report.check("sda extended self-test polling minutes",
                 as_int(dev.get("Extended self-test polling time")),
                 dig(data, "self_test", "polling_minutes", "extended"))
    offline = dig(data, "offline_data_collection", "status", "value", default=0)
    report.check("sda offline data collection status", dev.get("Offline data collection status"),
                 OFFLINE_STATUS.get(offline, "reserved"), note=f"status byte 0x{offline:02x}")
    report.check("sda automatic offline collection on", as_bool(dev.get("Auto Offline Data Collection Status")),
                 bool(offline & 0x80))
    report.check("sda offline data collection seconds",
                 as_int(dev.get("Offline data collection time")),
                 dig(data, "offline_data_collection", "completion_seconds"))
    status = dig(data, "self_test", "status", "value", default=0)
    report.check("sda self-test execution status", dev.get("Self-test status"),
                 f"{CURRENT_SELF_TEST_STATUS[status >> 4]} {100 - 10 * (status & 0x0F)}%",
                 note=f"smartctl: {dig(data, 'self_test', 'status', 'string')}")
    # The capability bits, from the bytes smartctl read.
    values = dig(data, "capabilities", "values", default=[0, 0])
    for key, bit in (("SMART execute Offline immediate", 0), ("Auto Offline data collection", 1),
                     ("Abort Offline collection upon command", 2), ("Offline read scanning", 3),
                     ("Self-test", 4), ("Conveyance Self-test", 5), ("Selective Self-test", 6)):
        report.check(f"sda capability {key!r}", as_bool(dev.get(key)), bool(values[0] >> bit & 1),
                     note=f"offline capabilities 0x{values[0]:02x}")
    for key, bit in (("Save data before power-saving mode", 0), ("Autosave", 1)):
        report.check(f"sda capability {key!r}", as_bool(dev.get(key)), bool(values[1] >> bit & 1),
                     note=f"SMART capabilities 0x{values[1]:04x}")
    log = dig(smart, "ata_smart_error_log", "summary", default={})
    report.check("sda error log version", as_int(dev.get("errorLogVersion")), log.get("revision"))
    report.check("sda error log count", as_int(dev.get("errorLogCount", 0)), log.get("count", 0))
    # sentrel lists every slot of the summary log; the slots in use are the
    # ones that hold an error.
    entries = dev.get("errorLog") or []
    used = [e for e in entries if ata_error_used(e)]
    report.check("sda error log entries in use", len(used), min(log.get("count", 0), 5),
                 note=f"sentrel lists {len(entries)} slots")


def ata_error_used(entry):
    if not isinstance(entry, dict):
        return False
    if as_int(entry.get("timestamp")) or as_int(entry.get("lba")) or as_int(entry.get("count")):
        return True
    if as_int(entry.get("status"), 16) or as_int(entry.get("device"), 16):
        return True
    return any(isinstance(c, dict) and c.get("command") not in ("NOP", None)
               for c in entry.get("cmnds") or [])


def ata_self_test(report, full, before, dev, smart):
    report.heading("sda: self-test")
    if before is not None:
        grown = len(dev.get("selftestResults") or []) - len(before.get("selftestResults") or [])
        report.check("sda self-test log entries added by sentrel's short test", grown, 1)
    report.check("sda selftest short exit status", full.status("sentrel-selftest-sda"), 0,
                 note=(full.text("sentrel-selftest-sda") or "").strip()[:120])
    log = dig(smart, "ata_smart_self_test_log", "standard", default={})
    table = log.get("table") or []
    # The emulated drive logs a short test at once: an empty log means the
    # command did not reach it.
    report.check("self-tests logged after sentrel's short test (smartctl)", len(table), 1,
                 ok=len(table) >= 1, sides=("smartctl", "at least"))
    ours = dev.get("selftestResults") or []
    report.check("sda self-test log entries", len(ours), len(table))
    if not ours or not table:
        return
    newest, want = ours[0], table[0]
    report.check("sda newest self-test type", str(newest.get("Type")).lower(),
                 str(dig(want, "type", "string")).lower())
    status = dig(want, "status", "value", default=0)
    report.check("sda newest self-test status", newest.get("Status"),
                 f"{SELF_TEST_STATUS[status >> 4]} {100 - 10 * (status & 0x0F)}%",
                 note=f"smartctl: {dig(want, 'status', 'string')}")
    report.check("sda newest self-test lifetime hours", as_int(newest.get("LifetimeHours")),
                 want.get("lifetime_hours"))
    lba = want.get("lba")
    report.check("sda newest self-test first error LBA",
                 as_int(newest.get("LBAFirstError")) if newest.get("LBAFirstError") else None, lba)


def ata_log_directory(report, full, dev, smart_text):
    """The emulated drive aborts READ LOG for the log directory: smartctl says
    so, and sentrel shows an empty directory."""
    report.heading("sda: log directory (the emulated drive aborts its read)")
    refused = smart_text is not None and "Read SMART Log Directory failed" in smart_text
    report.check("smartctl could not read the sda log directory", refused, True,
                 sides=("smartctl", "expected"))
    if refused:
        report.check("sda log directory after a failed read (logs)", dev.get("logs", "<absent>"), [])
        report.check("sda log directory after a failed read (logDir)", dev.get("logDir", "<absent>"),
                     {})
    text = full.text("sentrel-device-sda-text") or ""
    for line in text.splitlines():
        if re.match(r"\s*(logs|logDir)\b", line):
            report.info(f"sentrel device sda (text): {line.strip()[:200]}")


# ---------------------------------------------------------------- NVMe


def nvme_counter(dev, stem):
    lo, hi = as_int(dev.get(stem + "Lo")), as_int(dev.get(stem + "Hi")) or 0
    return None if lo is None else lo + (hi << 64)


def nvme_identity(report, dev, smart, info, expected):
    report.heading("nvme0n1: identity")
    report.check("nvme0n1 model", first(dev, "Device Model", "Model", "mn"), smart.get("model_name"))
    report.check("nvme0n1 serial", first(dev, "Serial Number", "sn"), smart.get("serial_number"))
    report.check("nvme0n1 firmware", first(dev, "Firmware Version", "fr"),
                 smart.get("firmware_version"))
    size = None
    if info is not None:
        size = dig(info, "user_capacity", "bytes") or dig(info, "nvme_namespaces", 0, "size", "bytes")
    report.check("nvme0n1 capacity (bytes)", as_int(dev.get("User Capacity")), size)
    report.check("nvme0n1 NVMe version", first(dev, "nvmeIFRev", "nvmeRevSupported"),
                 dig(smart, "nvme_version", "string"))
    report.check("nvme0n1 PCI vendor", as_int(dev.get("vid"), 16), dig(smart, "nvme_pci_vendor", "id"))
    report.check("nvme0n1 PCI subsystem vendor", as_int(dev.get("ssvid"), 16),
                 dig(smart, "nvme_pci_vendor", "subsystem_id"))
    report.check("nvme0n1 IEEE OUI", as_int(dev.get("oui"), 16), smart.get("nvme_ieee_oui_identifier"))
    report.check("nvme0n1 controller ID", as_int(dev.get("ctlid")), smart.get("nvme_controller_id"))
    report.check("nvme0n1 namespaces", as_int(dev.get("nn")), smart.get("nvme_number_of_namespaces"))
    report.check("smartctl nvme0 serial is the configured one", smart.get("serial_number"),
                 expected.get("nvme", {}).get("serial"), sides=("smartctl", "configured"))


def nvme_health_log(report, dev, smart, label="nvme0n1"):
    report.heading(f"{label}: SMART / health log")
    log = smart.get("nvme_smart_health_information_log", {})
    report.check(f"{label} critical warning", as_int(dev.get("criticalWarning")),
                 log.get("critical_warning"))
    kelvin = as_int(dev.get("temperature"))
    report.check(f"{label} temperature (Celsius)", None if kelvin is None else kelvin - 273,
                 log.get("temperature"), note=f"sentrel {kelvin} K, tempoC {dev.get('tempoC')}")
    for ours, theirs in (("availableSpare", "available_spare"),
                         ("spareThreshold", "available_spare_threshold"),
                         ("percentUsed", "percentage_used")):
        report.check(f"{label} {theirs.replace('_', ' ')}", as_int(dev.get(ours)), log.get(theirs))
    for ours, theirs in (("dataUnitsRead", "data_units_read"),
                         ("dataUnitsWrite", "data_units_written"),
                         ("powerOnHours", "power_on_hours"),
                         ("powerCycles", "power_cycles"),
                         ("unsafeShutdowns", "unsafe_shutdowns"),
                         ("mediaErrors", "media_errors"),
                         ("lifetimeErrors", "num_err_log_entries"),
                         ("controllerBusy", "controller_busy_time")):
        report.check(f"{label} {theirs.replace('_', ' ')}", nvme_counter(dev, ours), log.get(theirs))
    bits = as_int(dev.get("criticalWarning")) or 0
    for ours, mask in (("lowSpare", 0x01), ("overTemp", 0x02), ("lowReliability", 0x04),
                       ("readOnly", 0x08), ("failedVMBkup", 0x10)):
        report.check(f"{label} {ours}", as_bool(dev.get(ours)),
                     bool((log.get("critical_warning") or 0) & mask),
                     note=f"sentrel critical warning 0x{bits:02x}")


def nvme_expected_verdict(smart):
    warning = dig(smart, "nvme_smart_health_information_log", "critical_warning", default=0)
    if warning & NVME_FAILING_BITS:
        return "Failed"
    if warning & NVME_WARNING_BITS:
        return "Warning"
    return "Passed"


def nvme_power_states(text):
    """(state, operational, max watts, RL, RT, WL, WT, entry, exit) from smartctl -x text."""
    states, inside = [], False
    for line in (text or "").splitlines():
        if line.startswith("Supported Power States"):
            inside = True
            continue
        if inside:
            if line.startswith("St Op"):
                continue
            m = re.match(r"\s*(\d+)\s+([+-])\s+([\d.]+)W\s+\S+\s+\S+\s+(\d+)\s+(\d+)\s+(\d+)\s+(\d+)"
                         r"\s+(\d+)\s+(\d+)", line)
            if not m:
                break
            g = m.groups()
            states.append((int(g[0]), g[1] == "+", float(g[2])) + tuple(int(x) for x in g[3:]))
    return states


def nvme_power_state_rows(report, dev, text):
    report.heading("nvme0n1: power states")
    want = nvme_power_states(text)
    if not want:
        report.fail("nvme0n1 power states", "no power state table in smartctl -x")
        return
    ours = dev.get("powerStates") or []
    report.check("nvme0n1 power state count", len(ours), len(want))
    report.check("nvme0n1 npss", as_int(dev.get("npss")), len(want) - 1)
    for state, row in zip(want, ours):
        # sentrel's "nops" says whether the state is operational (1) or not.
        got = (as_int(row.get("state")), as_int(row.get("nops")) == 1,
               round(float(row.get("mp", -1)), 4),
               as_int(row.get("rrl")), as_int(row.get("rrt")), as_int(row.get("rwl")),
               as_int(row.get("rwt")), as_int(row.get("enlat")), as_int(row.get("exlat")))
        report.check(f"nvme0n1 power state {state[0]} "
                     "(state, operational, max W, RL, RT, WL, WT, entry µs, exit µs)",
                     got, state)


def nvme_error_and_firmware(report, dev, text):
    report.heading("nvme0n1: error and firmware logs")
    text = text or ""
    entries = [e for e in (dev.get("errorLog") or []) if as_int(first(e, "errorCount")) or 0]
    if "No Errors Logged" in text.split("Error Information", 1)[-1]:
        report.check("nvme0n1 error log entries", len(entries), 0)
    else:
        report.info("smartctl lists NVMe errors; entry count not compared")
    m = re.search(r"Firmware Updates \(0x([0-9a-fA-F]+)\):\s+(\d+) Slot", text)
    if m:
        frmw = int(m.group(1), 16)
        report.check("nvme0n1 firmware slot count", as_int(dev.get("firmwareSlotCount")),
                     int(m.group(2)), note=f"frmw 0x{frmw:02x}")
        report.check("nvme0n1 slot 1 read-only",
                     as_bool(dig(dev, "firmwareSlots", 0, "readOnly")), bool(frmw & 1))
    else:
        report.fail("nvme0n1 firmware slots", "no 'Firmware Updates' line in smartctl -x")


def nvme_health_reply(report, health, smart, label):
    expected = nvme_expected_verdict(smart)
    report.check(f"{label} health verdict (health --format json: status)", health.get("status"),
                 expected, note="critical warning "
                 f"0x{dig(smart, 'nvme_smart_health_information_log', 'critical_warning', default=0):02x}")
    report.check(f"{label} health isNVMe", health.get("isNVMe"), True)
    rows = {r.get("attributeName"): r.get("rawAttributeValue") for r in health.get("properties", [])}
    log = smart.get("nvme_smart_health_information_log", {})
    warning = log.get("critical_warning") or 0
    for name, mask in (("lowSpare", 0x01), ("overTemp", 0x02), ("lowReliability", 0x04),
                       ("readOnly", 0x08), ("failedVMBkup", 0x10)):
        report.check(f"{label} health row {name}", as_bool(rows.get(name)), bool(warning & mask))
    for name, key in (("availableSpare", "available_spare"),
                      ("spareThreshold", "available_spare_threshold"),
                      ("percentUsed", "percentage_used")):
        report.check(f"{label} health row {name}", as_int(rows.get(name)), log.get(key))


# ---------------------------------------------------------------- replay


def differences(a, b, path=""):
    """Paths at which two JSON values differ."""
    if isinstance(a, dict) and isinstance(b, dict):
        out = []
        for key in sorted(set(a) | set(b)):
            if key not in a:
                out.append(f"{path}/{key}: only in the guest")
            elif key not in b:
                out.append(f"{path}/{key}: only in the replay")
            else:
                out.extend(differences(a[key], b[key], f"{path}/{key}"))
        return out
    if isinstance(a, list) and isinstance(b, list):
        out = [] if len(a) == len(b) else [f"{path}: {len(b)} items in the guest, {len(a)} in the replay"]
        for i, (x, y) in enumerate(zip(a, b)):
            out.extend(differences(x, y, f"{path}[{i}]"))
        return out
    if a != b:
        return [f"{path}: guest {json.dumps(b)[:120]}, replay {json.dumps(a)[:120]}"]
    return []


# Counters that the guest's own reads move between two sentrel runs (each
# run probes the partitions): the capture, made later, may only be higher.
GROWING_COUNTERS = {"dataUnitsReadLo", "dataUnitsWriteLo", "hostReadsLo", "hostWritesLo",
                    "totalBytesRead", "totalBytesWritten", "controllerBusyLo"}


def replay(report, run, full, disk, guest_section):
    report.heading(f"{disk}: capture folder replayed with --sim")
    guest, why = full.json(guest_section)
    if guest is None:
        report.fail(f"{disk} guest device output", why)
        return
    capture = os.path.join(full.folder, f"capture-{disk}")
    if not os.path.isdir(capture):
        report.fail(f"{disk} capture folder",
                    f"not made in the guest ({full.describe('sentrel-capture-' + disk)})")
        return
    path = os.path.join(run, "replay", f"device-{disk}.json")
    try:
        with open(path, encoding="utf-8") as f:
            replayed = json.load(f)
    except (OSError, json.JSONDecodeError) as e:
        err = ""
        try:
            with open(path[:-5] + ".stderr", encoding="utf-8") as f:
                err = f.read().strip()[:200]
        except OSError:
            pass
        report.fail(f"{disk} replay", f"no JSON from sentrel --sim ({e}) {err}")
        return
    if isinstance(replayed, dict) and isinstance(guest, dict):
        for key in sorted(GROWING_COUNTERS & set(replayed) & set(guest)):
            a, b = as_int(replayed[key]), as_int(guest[key])
            if a is not None and b is not None and a != b:
                report.check(f"{disk} replayed {key} not below the guest's", a, b, ok=a >= b,
                             note="the guest read the disk between the two runs")
                replayed = dict(replayed)
                replayed[key] = guest[key]
    diffs = differences(replayed, guest)
    for d in diffs[:40]:
        report.info(f"{disk} replay differs at {d}")
    report.check(f"{disk} replayed device JSON equals the guest's", len(diffs), 0,
                 note=f"{len(diffs)} differing paths")


# ---------------------------------------------------------------- main


def names_in_list(listing):
    if isinstance(listing, dict):
        return sorted(listing)
    if isinstance(listing, list):
        return sorted(str(first(x, "bsdName", "name")) for x in listing if isinstance(x, dict))
    return []


def volume_names(dev):
    names = []
    for v in dev.get("volumes") or []:
        names.append(v.get("name") if isinstance(v, dict) else v)
    return names


def io_counters(text):
    """Reads and sectors read of sda and nvme0n1 (sysfs stat) and the NVMe
    data units read, from an io-before or io-after section."""
    if not text:
        return None
    lines = text.split("\n")
    stats = [line.split() for line in lines[:2]]
    try:
        units = json.loads("\n".join(lines[2:]))["nvme_smart_health_information_log"][
            "data_units_read"]
        return {"sda reads": int(stats[0][0]), "sda sectors read": int(stats[0][2]),
                "nvme0n1 reads": int(stats[1][0]),
                "nvme0n1 sectors read": int(stats[1][2]), "nvme0 data units read": units}
    except (IndexError, KeyError, ValueError, json.JSONDecodeError):
        return None


def no_media_reads(report, full):
    report.heading("five runs of list, health --all and metrics --all read no media")
    print("        " + " ".join((full.text("udev-records") or "").split("\n")))
    if full.status("five-runs") != 0:
        report.fail("five runs of list, health --all and metrics --all", full.describe("five-runs"))
    before, after = io_counters(full.text("io-before")), io_counters(full.text("io-after"))
    if before is None or after is None:
        report.fail("read counters", "io-before or io-after unreadable")
        return
    for name in before:
        report.check(f"{name} unchanged", after[name], before[name], sides=("after", "before"))


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    run = sys.argv[1]
    full = Sections(os.path.join(run, "full", "out"))
    critical = Sections(os.path.join(run, "critical", "out"))
    try:
        with open(os.path.join(run, "expected.json"), encoding="utf-8") as f:
            expected = json.load(f)
    except (OSError, json.JSONDecodeError):
        expected = {}
    report = Report()

    no_media_reads(report, full)

    report.heading("list")
    listing = need(report, full, "sentrel-list", "sentrel list")
    if listing is not None:
        report.check("disks listed", names_in_list(listing), ["nvme0n1", "sda"])

    smart_sda = need(report, full, "smartctl-sda", "smartctl -x /dev/sda")
    dev_sda = need(report, full, "sentrel-device-sda", "sentrel device sda")
    health_sda = need(report, full, "sentrel-health-sda", "sentrel health sda")
    after = need(report, full, "sentrel-device-sda-after-selftest",
                 "sentrel device sda after the self-test")
    if smart_sda is not None and dev_sda is not None:
        ata_identity(report, dev_sda, smart_sda, expected)
        report.check("sda volumes include the ext4 label", volume_names(dev_sda), "E2E-SATA",
                     ok="E2E-SATA" in volume_names(dev_sda))
        ata_attributes(report, dev_sda, smart_sda)
        ata_health(report, dev_sda, health_sda, smart_sda)
        ata_smart_data(report, dev_sda, smart_sda)
        ata_log_directory(report, full, dev_sda, full.text("smartctl-sda-text"))
    if smart_sda is not None and after is not None:
        ata_self_test(report, full, dev_sda, after, smart_sda)

    smart_nvme = need(report, full, "smartctl-nvme0", "smartctl -x /dev/nvme0")
    smart_nvme_now = need(report, full, "smartctl-nvme0-health",
                          "smartctl -H -A /dev/nvme0 (right after sentrel)")
    info_nvme = need(report, full, "smartctl-nvme0n1-info", "smartctl -i /dev/nvme0n1")
    dev_nvme = need(report, full, "sentrel-device-nvme0n1", "sentrel device nvme0n1")
    health_nvme = need(report, full, "sentrel-health-nvme0n1", "sentrel health nvme0n1")
    if smart_nvme is not None and dev_nvme is not None:
        nvme_identity(report, dev_nvme, smart_nvme, info_nvme, expected)
        report.check("nvme0n1 volumes include the FAT label", volume_names(dev_nvme), "E2E-NVME",
                     ok="E2E-NVME" in volume_names(dev_nvme))
        nvme_power_state_rows(report, dev_nvme, full.text("smartctl-nvme0-text"))
        nvme_error_and_firmware(report, dev_nvme, full.text("smartctl-nvme0-text"))
    if smart_nvme_now is not None and dev_nvme is not None:
        nvme_health_log(report, dev_nvme, smart_nvme_now)
    if smart_nvme_now is not None and health_nvme is not None:
        report.heading("nvme0n1: health")
        nvme_health_reply(report, health_nvme, smart_nvme_now, "nvme0n1")

    report.heading("nvme0n1 with critical warnings 0x05 (second boot)")
    smart_crit = need(report, critical, "smartctl-nvme0", "smartctl -x /dev/nvme0 (second boot)")
    health_crit = need(report, critical, "sentrel-health-nvme0n1",
                       "sentrel health nvme0n1 (second boot)")
    dev_crit = need(report, critical, "sentrel-device-nvme0n1",
                    "sentrel device nvme0n1 (second boot)")
    if smart_crit is not None:
        report.check("smartctl critical warning (second boot)",
                     dig(smart_crit, "nvme_smart_health_information_log", "critical_warning"), 5,
                     sides=("smartctl", "configured"))
    if health_crit is not None:
        report.check("nvme0n1 verdict with critical warnings 0x05", health_crit.get("status"),
                     "Failed")
        if smart_crit is not None:
            nvme_health_reply(report, health_crit, smart_crit, "nvme0n1 (0x05)")
    if dev_crit is not None and smart_crit is not None:
        nvme_health_log(report, dev_crit, smart_crit, "nvme0n1 (0x05)")

    # The exit status bits: sentrel's "Failed" bit (8) is smartctl's "disk
    # failing" bit, and neither says the disk could not be opened (2).
    ours, theirs = (critical.status("sentrel-health-nvme0n1-typed"),
                    critical.status("smartctl-nvme0-exit"))
    if ours is None or theirs is None:
        report.fail("exit status with critical warnings 0x05",
                    f"sentrel {critical.describe('sentrel-health-nvme0n1-typed')}; "
                    f"smartctl {critical.describe('smartctl-nvme0-exit')}")
    else:
        report.check("exit status bit 3 (failing) with critical warnings 0x05",
                     bool(ours & 8), bool(theirs & 8), sides=("sentrel", "smartctl"),
                     note=f"sentrel {ours}, smartctl {theirs}")
        report.check("exit status bit 1 (cannot open) with critical warnings 0x05",
                     bool(ours & 2), bool(theirs & 2), sides=("sentrel", "smartctl"))

    report.heading("nvme0n1: device self-test")
    said = (full.text("sentrel-selftest-nvme0n1") or "") + (
        full.text("sentrel-selftest-nvme0n1.stderr") or "")
    status = full.status("sentrel-selftest-nvme0n1")
    if status == 0:
        report.check("short device self-test ran to a result", "Completed without error" in said,
                     True, note=said.strip().splitlines()[-1] if said.strip() else "")
    elif "does not offer device self-tests" in said:
        report.info("the emulated controller does not offer device self-tests: "
                    + said.strip().splitlines()[-1])
    else:
        report.fail("short device self-test", f"exit status {status}: {said.strip()[:200]}")

    replay(report, run, full, "sda", "sentrel-device-sda-after-selftest")
    replay(report, run, full, "nvme0n1", "sentrel-device-nvme0n1-before-capture")

    print(f"\n{report.checked - report.failed} passed, {report.failed} failed")
    return 1 if report.failed else 0


if __name__ == "__main__":
    sys.exit(main())
