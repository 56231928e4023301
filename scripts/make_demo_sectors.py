#!/usr/bin/env python3
"""Writes the binary sectors of the bundled demo machine.

The demo machine (examples/demo-mac) describes its ATA drives in
machine.json; what each drive answers to IDENTIFY DEVICE, SMART READ DATA,
SMART READ THRESHOLDS and SMART READ LOG lives in 512-byte files under
examples/demo-mac/sectors/. This script makes those files from the tables
below, so the numbers can be read and changed here rather than in a hex
editor. The NVMe drive's identify data and log pages are made the same way,
in their own sizes (4096 or 512 bytes).

    python3 scripts/make_demo_sectors.py            # (re)write the sectors
    python3 scripts/make_demo_sectors.py --check    # exit 1 when a file differs
    python3 scripts/make_demo_sectors.py --out DIR  # write elsewhere

Layouts are those of the ATA/ATAPI Command Set (multi-byte fields
little-endian). Every sector that carries a checksum gets one and is checked
before it is written: byte 511 makes the 512 bytes sum to 0 modulo 256, and
IDENTIFY DEVICE carries the signature 0xA5 in byte 510. The output is
deterministic: the same tables always give the same bytes.

The drives:

  st2000dm008  Seagate BarraCuda 2 TB (disk0). A drive with a past: two
               uncorrectable reads in the error log, a read failure found by
               an extended self-test, 8 reallocated sectors since.
  860evo500    Samsung SSD 860 EVO 500GB (disk1). Healthy.
  wd40efrx     WD Red 4 TB in a Thunderbolt enclosure (disk3). Healthy; its
               extended self-test takes longer than 255 minutes, so the
               polling time sits in the 16-bit word at offsets 375-376.
  970evoplus   Samsung SSD 970 EVO Plus 1TB (disk5), an internal NVMe SSD:
               Identify Controller data (4096 bytes) and the SMART / Health
               (512), Error Information (4096) and Firmware Slot (512) log
               pages in the layouts of the NVM Express base standard.
               Healthy, 3% used, two logged errors, five power states and two
               firmware slots.

Standard library only.
"""

import argparse
import os
import struct
import sys

SECTOR = 512

# ---------------------------------------------------------------------------
# Sector helpers
# ---------------------------------------------------------------------------


def put_checksum(sector):
    """Sets byte 511 so the 512 bytes sum to 0 modulo 256."""
    assert len(sector) == SECTOR
    sector[511] = 0
    sector[511] = (-sum(sector)) & 0xFF
    assert sum(sector) % 256 == 0
    return sector


def put_u16(sector, offset, value):
    struct.pack_into("<H", sector, offset, value)


def put_u32(sector, offset, value):
    struct.pack_into("<I", sector, offset, value)


def raw48(value):
    """A raw value as its six bytes, least significant first."""
    assert 0 <= value < 1 << 48, value
    return list(value.to_bytes(6, "little"))


def hours_msec(hours, msec):
    """The msec24hour32 raw layout (Seagate power-on and head-flying hours):
    hours in raw bytes 0-3, milliseconds in bytes 4-5 and the slot's
    otherwise reserved byte 11. Answers the six raw bytes and byte 11."""
    assert 0 <= hours < 1 << 32 and 0 <= msec < 3_600_000
    raw = list(hours.to_bytes(4, "little")) + list((msec & 0xFFFF).to_bytes(2, "little"))
    return raw, msec >> 16


def temperature(now, low=0, high=0, layout="plain"):
    """Temperature raw bytes in the layouts drives use:
    plain    TT 00 00 00 00 00
    seagate  TT 00 LL HH 00 00  (airflow temperature: this power cycle's min/max)
    seagate194  TT 00 00 00 LL 00  (lifetime minimum in byte 4)
    wdc      TT LL HH 00 00 00"""
    if layout == "plain":
        return [now, 0, 0, 0, 0, 0]
    if layout == "seagate":
        return [now, 0, low, high, 0, 0]
    if layout == "seagate194":
        return [now, 0, 0, 0, low, 0]
    if layout == "wdc":
        return [now, low, high, 0, 0, 0]
    raise ValueError(layout)


# ---------------------------------------------------------------------------
# IDENTIFY DEVICE
# ---------------------------------------------------------------------------


def ata_string(text, length):
    """An identify string: blank-padded to `length` bytes, the two bytes of
    every 16-bit word exchanged."""
    assert len(text) <= length and length % 2 == 0, text
    padded = text.ljust(length).encode("ascii")
    out = bytearray(length)
    out[0::2] = padded[1::2]
    out[1::2] = padded[0::2]
    return out


def identify_sector(d):
    words = [0] * 256
    sectors = d["sectors"]
    words[0] = d["general"]
    words[1], words[3], words[6] = 16383, 16, 63          # obsolete CHS geometry
    words[2] = 0xC837                                     # specific configuration
    words[47] = 0x8000 | d["multiple"]                    # READ/WRITE MULTIPLE limit
    words[49] = 0x2F00                                    # LBA, DMA, IORDY, standby timer
    words[50] = 0x4000
    words[53] = 0x0007                                    # words 54-58, 64-70, 88 valid
    words[54], words[55], words[56] = 16383, 16, 63
    put = 16383 * 16 * 63
    words[57], words[58] = put & 0xFFFF, put >> 16
    words[59] = 0x0100 | d["multiple"]
    lba28 = min(sectors, 0x0FFFFFFF)
    words[60], words[61] = lba28 & 0xFFFF, lba28 >> 16
    words[63] = 0x0007                                    # multiword DMA 0-2
    words[64] = 0x0003                                    # PIO 3-4
    words[65] = words[66] = words[67] = words[68] = 120
    words[69] = d.get("additional", 0)
    words[75] = 31                                        # NCQ depth 32
    words[76] = 0x870E                                    # SATA 1.5/3/6 Gb/s, NCQ, HIPM, PHY events
    words[77] = 0x0006                                    # current speed 6 Gb/s
    words[78] = d.get("sata_features", 0x0044)
    words[79] = 0x0040
    words[80] = d["major"]
    words[81] = d["minor"]
    words[82] = 0x746B                                    # SMART (bit 0), security, PM, caches, NOP...
    words[83] = d["cmd83"]                                # 48-bit (bit 10), FLUSH CACHE EXT...
    words[84] = 0x6163                                    # SMART error log (0), self-test (1), GPL (5)
    words[85] = 0x7469                                    # SMART enabled (bit 0), write cache on
    words[86] = d["cmd83"] & ~0x4000 | 0x8000
    words[87] = 0x6163
    words[88] = 0x407F                                    # UDMA 0-6, UDMA 6 selected
    words[93] = 0
    for i in range(4):
        words[100 + i] = (sectors >> (16 * i)) & 0xFFFF
    words[106] = d["sector_sizes"]
    wwn = d["wwn"]
    for i in range(4):
        words[108 + i] = (wwn >> (16 * (3 - i))) & 0xFFFF
    words[119] = 0x4000 | 0x001C
    words[120] = 0x4000 | 0x001C
    words[168] = d["form_factor"]
    words[169] = d.get("trim", 0)
    words[206] = d["sct"]
    words[209] = 0x4000                                   # logical sector 0 aligned
    words[217] = d["rotation"]                            # 1: not rotating; else rpm
    words[222] = d["transport"]

    sector = bytearray(SECTOR)
    for i, w in enumerate(words):
        put_u16(sector, 2 * i, w)
    sector[20:40] = ata_string(d["serial"], 20)           # words 10-19
    sector[46:54] = ata_string(d["firmware"], 8)          # words 23-26
    sector[54:94] = ata_string(d["model"], 40)            # words 27-46
    sector[510] = 0xA5
    put_checksum(sector)
    assert sector[510] == 0xA5
    return sector


# ---------------------------------------------------------------------------
# SMART READ DATA and SMART READ THRESHOLDS
# ---------------------------------------------------------------------------


def smart_data_sector(d):
    sector = bytearray(SECTOR)
    put_u16(sector, 0, d["revision"])
    assert len(d["attributes"]) <= 30
    for i, a in enumerate(d["attributes"]):
        at = 2 + 12 * i
        raw = a["raw"]
        if isinstance(raw, int):
            raw = raw48(raw)
        assert len(raw) == 6 and all(0 <= b < 256 for b in raw), a
        sector[at] = a["id"]
        put_u16(sector, at + 1, a["flags"])
        sector[at + 3] = a["value"]
        sector[at + 4] = a["worst"]
        sector[at + 5:at + 11] = bytes(raw)
        sector[at + 11] = a.get("reserved", 0)
    c = d["capabilities"]
    sector[362] = c["offline_status"]
    sector[363] = c["selftest_status"]
    put_u16(sector, 364, c["offline_seconds"])
    sector[367] = c["offline_capability"]
    put_u16(sector, 368, c["smart_capability"])
    sector[370] = c["error_logging"]
    sector[372] = c["short_minutes"]
    extended = c["extended_minutes"]
    sector[373] = extended if extended < 255 else 255
    sector[374] = c["conveyance_minutes"]
    put_u16(sector, 375, extended)
    return put_checksum(sector)


def thresholds_sector(d):
    sector = bytearray(SECTOR)
    put_u16(sector, 0, d["revision"])
    for i, a in enumerate(d["attributes"]):
        at = 2 + 12 * i
        sector[at] = a["id"]
        sector[at + 1] = a["threshold"]
    return put_checksum(sector)


# ---------------------------------------------------------------------------
# SMART logs: directory (0), summary error log (1), self-test log (6)
# ---------------------------------------------------------------------------


def log_directory_sector(pages):
    """Word 0 is the SMART logging version (1); word N the page count of the
    log at address N. The directory has no checksum."""
    words = [0] * 256
    words[0] = 1
    for address, count in pages.items():
        if isinstance(address, tuple):
            for a in range(address[0], address[1] + 1):
                words[a] = count
        else:
            words[address] = count
    sector = bytearray(SECTOR)
    for i, w in enumerate(words):
        put_u16(sector, 2 * i, w)
    return sector


def command_record(command, feature=0, count=0, lba=0, device=0xA0, msec=0, control=0):
    record = bytearray(12)
    record[0] = control
    record[1] = feature
    record[2] = count
    record[3:6] = (lba & 0xFFFFFF).to_bytes(3, "little")
    record[6] = device
    record[7] = command
    struct.pack_into("<I", record, 8, msec)
    return record


def error_entry(commands, error, count, lba, device, status, state, hours):
    """One 90-byte error data structure: five command records, oldest first
    (the fifth is the command that failed), then the 30-byte error record."""
    assert len(commands) == 5
    entry = bytearray(90)
    for j, c in enumerate(commands):
        entry[12 * j:12 * j + 12] = c
    e = 60
    entry[e + 1] = error
    entry[e + 2] = count
    entry[e + 3:e + 6] = (lba & 0xFFFFFF).to_bytes(3, "little")
    entry[e + 6] = device
    entry[e + 7] = status
    entry[e + 27] = state
    struct.pack_into("<H", entry, e + 28, hours)
    return entry


def summary_error_log_sector(entries, index, error_count):
    sector = bytearray(SECTOR)
    sector[0] = 1                                         # log version
    sector[1] = index                                     # most recent entry, 1-based; 0: none
    for k, entry in enumerate(entries):
        sector[2 + 90 * k:2 + 90 * k + 90] = entry
    put_u16(sector, 452, error_count)
    return put_checksum(sector)


def selftest_log_sector(tests):
    """`tests` oldest first: (test number, status byte, power-on hours,
    failure checkpoint, LBA of first failure). They fill the ring from slot
    0; the descriptor index names the most recent one."""
    assert len(tests) <= 21
    sector = bytearray(SECTOR)
    put_u16(sector, 0, 1)                                 # log revision
    for k, (number, status, hours, checkpoint, lba) in enumerate(tests):
        at = 2 + 24 * k
        sector[at] = number
        sector[at + 1] = status
        put_u16(sector, at + 2, hours)
        sector[at + 4] = checkpoint
        put_u32(sector, at + 5, lba)
    sector[508] = len(tests)
    return put_checksum(sector)


def ms(days=0, hours=0, minutes=0, seconds=0, msec=0):
    return (((days * 24 + hours) * 60 + minutes) * 60 + seconds) * 1000 + msec


# ---------------------------------------------------------------------------
# The drives
# ---------------------------------------------------------------------------

# Test numbers and status bytes of the self-test log.
SHORT, EXTENDED = 1, 2
PASSED = 0x00


def A(id, flags, value, worst, threshold, raw, reserved=0):
    return {"id": id, "flags": flags, "value": value, "worst": worst,
            "threshold": threshold, "raw": raw, "reserved": reserved}


def seagate_st2000dm008():
    poh_raw, poh_res = hours_msec(18654, 1_781_580)
    hfh_raw, hfh_res = hours_msec(18601, 2_759_683)
    attributes = [
        A(1, 0x000F, 77, 64, 6, 171_234_567),
        A(3, 0x0003, 96, 96, 0, 0),
        A(4, 0x0032, 99, 99, 20, 1208),
        A(5, 0x0033, 100, 100, 10, 8),
        A(7, 0x000F, 86, 60, 45, 412_345_678),
        A(9, 0x0032, 79, 79, 0, poh_raw, poh_res),
        A(10, 0x0013, 100, 100, 97, 0),
        A(12, 0x0032, 99, 99, 20, 1197),
        A(187, 0x0032, 98, 98, 0, 2),
        A(188, 0x0032, 100, 100, 0, 0),
        A(189, 0x003A, 100, 100, 0, 0),
        A(190, 0x0022, 66, 63, 40, temperature(34, 25, 37, "seagate")),
        A(191, 0x0032, 100, 100, 0, 0),
        A(192, 0x0032, 100, 100, 0, 41),
        A(193, 0x0032, 92, 92, 0, 16_842),
        A(194, 0x0022, 34, 45, 0, temperature(34, 17, layout="seagate194")),
        A(195, 0x001A, 77, 64, 0, 171_234_567),
        A(197, 0x0012, 100, 100, 0, 0),
        A(198, 0x0010, 100, 100, 0, 0),
        A(199, 0x003E, 200, 200, 0, 0),
        A(240, 0x0000, 100, 253, 0, hfh_raw, hfh_res),
        A(241, 0x0000, 100, 253, 0, 21_874_311_650),
        A(242, 0x0000, 100, 253, 0, 48_231_556_121),
    ]
    smart = {
        "revision": 10,
        "attributes": attributes,
        "capabilities": {
            "offline_status": 0x82, "selftest_status": 0x00, "offline_seconds": 0,
            "offline_capability": 0x73, "smart_capability": 0x0003, "error_logging": 0x01,
            "short_minutes": 1, "extended_minutes": 211, "conveyance_minutes": 2,
        },
    }
    identify = {
        "model": "ST2000DM008-2FR102", "serial": "ZFL2M7QH", "firmware": "0001",
        "sectors": 3_907_029_168, "general": 0x0C5A, "multiple": 16,
        "major": 0x07F0, "minor": 0x006D, "cmd83": 0x7F61, "sector_sizes": 0x6003,
        "wwn": 0x5000C500B8A2F4E1, "form_factor": 2, "sct": 0x30A5,
        "rotation": 7200, "transport": 0x107F,
    }

    # The bad sector: two uncorrectable NCQ reads, then an extended self-test
    # that stops on it; the sector was reallocated when it was written over.
    bad = 0x0A3F1C28
    session = ms(days=9, hours=4, minutes=12, seconds=33, msec=481)
    error1 = error_entry([
        command_record(0xEC, msec=session),                                  # IDENTIFY DEVICE
        command_record(0xEF, feature=0x10, count=0x02, msec=session + 1),    # SET FEATURES: enable SATA feature
        command_record(0x60, feature=0x08, count=0x00, lba=bad - 0x5F0, device=0x40, msec=session + 41),
        command_record(0x60, feature=0x08, count=0x08, lba=bad - 0x008, device=0x40, msec=session + 42),
        command_record(0x60, feature=0x08, count=0x10, lba=bad, device=0x40, msec=session + 43),
    ], error=0x40, count=0x00, lba=bad, device=bad >> 24, status=0x51, state=0x03, hours=18498)
    later = session + ms(hours=2, minutes=51, seconds=7, msec=119)
    error2 = error_entry([
        command_record(0xB0, feature=0xD5, count=0x01, lba=0xC24F06, device=0xA0, msec=later - 9_870),  # SMART READ LOG
        command_record(0xE5, msec=later - 4_102),                                                     # CHECK POWER MODE
        command_record(0x61, feature=0x20, count=0x00, lba=0x29C410, device=0x40, msec=later - 37),
        command_record(0x60, feature=0x80, count=0x08, lba=bad - 0x78, device=0x40, msec=later - 2),
        command_record(0x60, feature=0x08, count=0x10, lba=bad, device=0x40, msec=later),
    ], error=0x40, count=0x00, lba=bad, device=bad >> 24, status=0x51, state=0x03, hours=18501)
    empty = bytearray(90)

    return {
        "identify": identify_sector(identify),
        "smart-data": smart_data_sector(smart),
        "thresholds": thresholds_sector(smart),
        "log-directory": log_directory_sector({
            1: 1, 2: 5, 4: 8, 6: 1, 9: 1, 0x30: 9, (0x80, 0x9F): 16,
            0xA1: 24, 0xA8: 136, 0xA9: 1, 0xC0: 1, 0xC1: 16, 0xC3: 8, 0xE0: 1, 0xE1: 1,
        }),
        "summary-error-log": summary_error_log_sector(
            [error1, error2, empty, empty, empty], index=2, error_count=2),
        "selftest-log": selftest_log_sector([
            (SHORT, PASSED, 17320, 0, 0),
            (EXTENDED, PASSED, 17402, 0, 0),
            (SHORT, PASSED, 18120, 0, 0),
            (EXTENDED, 0x26, 18400, 0, 0),          # interrupted (host reset), 60% left
            (EXTENDED, 0x73, 18512, 0x10, bad),     # read failure, 30% left
            (SHORT, PASSED, 18650, 0, 0),
        ]),
    }


def samsung_860evo500():
    attributes = [
        A(5, 0x0033, 100, 100, 10, 0),
        A(9, 0x0032, 96, 96, 0, 15_321),
        A(12, 0x0032, 99, 99, 0, 1_022),
        A(177, 0x0013, 97, 97, 0, 41),
        A(179, 0x0013, 100, 100, 10, 0),
        A(181, 0x0032, 100, 100, 10, 0),
        A(182, 0x0032, 100, 100, 10, 0),
        A(183, 0x0013, 100, 100, 10, 0),
        A(187, 0x0032, 100, 100, 0, 0),
        A(190, 0x0032, 66, 52, 0, temperature(34)),
        A(195, 0x001A, 200, 200, 0, 0),
        A(199, 0x003E, 100, 100, 0, 0),
        A(235, 0x0012, 99, 99, 0, 67),
        A(241, 0x0032, 99, 99, 0, 38_519_284_213),
    ]
    smart = {
        "revision": 1,
        "attributes": attributes,
        "capabilities": {
            "offline_status": 0x00, "selftest_status": 0x00, "offline_seconds": 0,
            "offline_capability": 0x53, "smart_capability": 0x0003, "error_logging": 0x01,
            "short_minutes": 2, "extended_minutes": 85, "conveyance_minutes": 0,
        },
    }
    identify = {
        "model": "Samsung SSD 860 EVO 500GB", "serial": "S3Z2NB0KA51322W", "firmware": "RVT04B6Q",
        "sectors": 976_773_168, "general": 0x0040, "multiple": 1, "additional": 0x4020,
        "sata_features": 0x014C, "major": 0x0FF0, "minor": 0x005E, "cmd83": 0x7D01,
        "sector_sizes": 0x4000, "wwn": 0x5002538E40C1A2B3, "form_factor": 3, "trim": 0x0001,
        "sct": 0x003D, "rotation": 1, "transport": 0x10FF,
    }
    empty = bytearray(90)
    return {
        "identify": identify_sector(identify),
        "smart-data": smart_data_sector(smart),
        "thresholds": thresholds_sector(smart),
        "log-directory": log_directory_sector({
            1: 1, 2: 1, 4: 8, 6: 1, 9: 1, 0x30: 9, (0x80, 0x9F): 16,
            0xA1: 16, 0xA5: 16, 0xCE: 16, 0xE0: 1, 0xE1: 1,
        }),
        "summary-error-log": summary_error_log_sector([empty] * 5, index=0, error_count=0),
        "selftest-log": selftest_log_sector([
            (SHORT, PASSED, 14890, 0, 0),
            (EXTENDED, PASSED, 15002, 0, 0),
            (SHORT, PASSED, 15310, 0, 0),
        ]),
    }


def wd_red_wd40efrx():
    attributes = [
        A(1, 0x002F, 200, 200, 51, 0),
        A(3, 0x0027, 176, 173, 21, 6183),
        A(4, 0x0032, 100, 100, 0, 212),
        A(5, 0x0033, 200, 200, 140, 0),
        A(7, 0x002E, 200, 200, 0, 0),
        A(9, 0x0032, 71, 71, 0, 21_472),
        A(10, 0x0032, 100, 253, 0, 0),
        A(11, 0x0032, 100, 253, 0, 0),
        A(12, 0x0032, 100, 100, 0, 207),
        A(192, 0x0032, 200, 200, 0, 143),
        A(193, 0x0032, 200, 200, 0, 1_121),
        A(194, 0x0022, 116, 104, 0, temperature(36, 22, 48, "wdc")),
        A(196, 0x0032, 200, 200, 0, 0),
        A(197, 0x0032, 200, 200, 0, 0),
        A(198, 0x0030, 100, 253, 0, 0),
        A(199, 0x0032, 200, 200, 0, 0),
        A(200, 0x0008, 100, 253, 0, 0),
    ]
    smart = {
        "revision": 16,
        "attributes": attributes,
        "capabilities": {
            "offline_status": 0x00, "selftest_status": 0x00, "offline_seconds": 44_280,
            "offline_capability": 0x7B, "smart_capability": 0x0003, "error_logging": 0x01,
            "short_minutes": 2, "extended_minutes": 497, "conveyance_minutes": 5,
        },
    }
    identify = {
        "model": "WDC WD40EFRX-68N32N0", "serial": "     WD-WCC7K3HKT2N9", "firmware": "82.00A82",
        "sectors": 7_814_037_168, "general": 0x427A, "multiple": 16,
        "major": 0x07FC, "minor": 0x006D, "cmd83": 0x7F61, "sector_sizes": 0x6003,
        "wwn": 0x50014EE2B9A7C4D1, "form_factor": 2, "sct": 0x703D,
        "rotation": 5400, "transport": 0x107F,
    }
    empty = bytearray(90)
    return {
        "identify": identify_sector(identify),
        "smart-data": smart_data_sector(smart),
        "thresholds": thresholds_sector(smart),
        "log-directory": log_directory_sector({
            1: 1, 2: 5, 6: 1, 9: 1, (0x80, 0x9F): 16, (0xA0, 0xA7): 16,
            (0xA8, 0xB7): 1, 0xBD: 1, 0xC0: 1, 0xE0: 1, 0xE1: 1,
        }),
        "summary-error-log": summary_error_log_sector([empty] * 5, index=0, error_count=0),
        "selftest-log": selftest_log_sector([
            (EXTENDED, PASSED, 20110, 0, 0),
            (SHORT, PASSED, 21460, 0, 0),
        ]),
    }


DRIVES = {
    "st2000dm008": seagate_st2000dm008,
    "860evo500": samsung_860evo500,
    "wd40efrx": wd_red_wd40efrx,
}

# ---------------------------------------------------------------------------
# NVMe pages: Identify Controller, SMART / Health Information (log 2), Error
# Information (log 1) and Firmware Slot Information (log 3)
# ---------------------------------------------------------------------------

NVME_PAGE_SIZES = {"identify": 4096, "health": 512, "error-log": 4096, "firmware-log": 512,
                   "self-test-log": 564}


def nvme_text(text, length):
    """An NVMe identify string: ASCII, blank-padded, bytes in order."""
    assert len(text) <= length, text
    return text.ljust(length).encode("ascii")


def nvme_identify_page(d):
    page = bytearray(NVME_PAGE_SIZES["identify"])
    put_u16(page, 0, d["vid"])
    put_u16(page, 2, d["ssvid"])
    page[4:24] = nvme_text(d["serial"], 20)
    page[24:64] = nvme_text(d["model"], 40)
    page[64:72] = nvme_text(d["firmware"], 8)
    page[72] = d["rab"]
    page[73:76] = d["oui"].to_bytes(3, "little")
    page[76] = d["cmic"]
    page[77] = d["mdts"]
    put_u16(page, 78, d["cntlid"])
    put_u32(page, 80, d["version"])
    put_u16(page, 256, d["oacs"])
    page[258] = d["acl"]
    page[259] = d["aerl"]
    page[260] = d["frmw"]
    page[261] = d["lpa"]
    page[262] = d["elpe"]
    page[263] = len(d["power_states"]) - 1               # npss is zero-based
    put_u16(page, 266, d["wctemp"])
    put_u16(page, 268, d["cctemp"])
    struct.pack_into("<QQ", page, 280, d["tnvmcap"], 0)
    page[512] = 0x66                                      # SQES: 64-byte entries
    page[513] = 0x44                                      # CQES: 16-byte entries
    put_u32(page, 516, d["nn"])
    put_u16(page, 520, d["oncs"])
    page[525] = d["vwc"]
    for i, (mp, flags, enlat, exlat) in enumerate(d["power_states"]):
        at = 2048 + 32 * i
        put_u16(page, at, mp)
        page[at + 3] = flags                              # bit 0: scale 0.0001 W; bit 1: non-operational
        put_u32(page, at + 4, enlat)
        put_u32(page, at + 8, exlat)
        page[at + 12:at + 16] = bytes([i, i, i, i])       # relative read/write throughput and latency
    return page


def put_u128(page, offset, value):
    assert 0 <= value < 1 << 128
    page[offset:offset + 16] = value.to_bytes(16, "little")


def nvme_health_page(d):
    page = bytearray(NVME_PAGE_SIZES["health"])
    page[0] = d["critical_warning"]
    put_u16(page, 1, d["kelvin"])
    page[3] = d["available_spare"]
    page[4] = d["spare_threshold"]
    page[5] = d["percent_used"]
    for offset, key in [(32, "data_units_read"), (48, "data_units_written"),
                        (64, "host_reads"), (80, "host_writes"), (96, "busy_minutes"),
                        (112, "power_cycles"), (128, "power_on_hours"),
                        (144, "unsafe_shutdowns"), (160, "media_errors"),
                        (176, "error_log_entries")]:
        put_u128(page, offset, d[key])
    put_u32(page, 192, d["warning_temp_minutes"])
    put_u32(page, 196, d["critical_temp_minutes"])
    for i, kelvin in enumerate(d["sensors"]):
        put_u16(page, 200 + 2 * i, kelvin)
    return page


def nvme_error_log_page(entries):
    """`entries` most recent first: (error count, sqid, cmdid, status field,
    parameter error location, lba, nsid)."""
    page = bytearray(NVME_PAGE_SIZES["error-log"])
    assert len(entries) <= 64
    for n, (count, sqid, cmdid, status, pel, lba, nsid) in enumerate(entries):
        at = 64 * n
        struct.pack_into("<QHHHHQI", page, at, count, sqid, cmdid, status, pel, lba, nsid)
    return page


def nvme_firmware_log_page(active, revisions):
    """`revisions` for slots 1, 2, ...; `active` the running slot."""
    page = bytearray(NVME_PAGE_SIZES["firmware-log"])
    page[0] = active
    for n, revision in enumerate(revisions, start=1):
        page[8 * n:8 * n + 8] = nvme_text(revision, 8)
    return page


def nvme_self_test_log_page(results):
    """`results` newest first: (code, result, power-on hours); the other
    entries are unused (result 0xF)."""
    page = bytearray(NVME_PAGE_SIZES["self-test-log"])
    for n in range(20):
        at = 4 + 28 * n
        if n < len(results):
            code, result, hours = results[n]
            page[at] = code << 4 | result
            struct.pack_into("<Q", page, at + 4, hours)
        else:
            page[at] = 0x0F
    return page


def samsung_970evoplus1tb():
    # Maximum power in centiwatts, or in 0.1 mW units with flag bit 0;
    # flag bit 1 marks the non-operational states. Latencies in microseconds.
    power_states = [
        (750, 0x00, 0, 0),
        (590, 0x00, 0, 0),
        (360, 0x00, 0, 0),
        (7, 0x02, 210, 1200),
        (50, 0x03, 2000, 8000),
    ]
    identify = {
        "vid": 0x144D, "ssvid": 0x144D, "serial": "S4EWNX0R812345K",
        "model": "Samsung SSD 970 EVO Plus 1TB", "firmware": "2B2QEXM7",
        "rab": 2, "oui": 0x002538, "cmic": 0, "mdts": 9, "cntlid": 4, "version": 0x00010300,
        "oacs": 0x0017, "acl": 7, "aerl": 3,
        "frmw": 0x15,                                     # two slots, slot 1 read-only, no reset needed
        "lpa": 0x03, "elpe": 63, "wctemp": 358, "cctemp": 358,
        "tnvmcap": 1_000_204_886_016, "nn": 1, "oncs": 0x005F, "vwc": 1,
        "power_states": power_states,
    }
    health = {
        "critical_warning": 0x00, "kelvin": 310, "available_spare": 100, "spare_threshold": 10,
        "percent_used": 3,
        "data_units_read": 48_213_775, "data_units_written": 61_842_317,
        "host_reads": 712_450_118, "host_writes": 1_204_331_902, "busy_minutes": 2_871,
        "power_cycles": 1_214, "power_on_hours": 6_231, "unsafe_shutdowns": 87,
        "media_errors": 0, "error_log_entries": 2,
        "warning_temp_minutes": 0, "critical_temp_minutes": 0, "sensors": [310, 316],
    }
    # Two admin commands the drive refused: a Get Log Page for a page it
    # does not have, and an Identify with a field it does not support.
    errors = [
        (2, 0, 0x1010, 0x4212, 0x0028, 0, 0xFFFFFFFF),    # Invalid Log Page, DNR clear, More set
        (1, 0, 0x0018, 0x4004, 0x0028, 0, 0x00000000),    # Invalid Field in Command
    ]
    return {
        "identify": nvme_identify_page(identify),
        "health": nvme_health_page(health),
        "error-log": nvme_error_log_page(errors),
        "firmware-log": nvme_firmware_log_page(2, ["1B2QEXM7", "2B2QEXM7"]),
        # A short and an extended test, both passed.
        "self-test-log": nvme_self_test_log_page([(1, 0, 6_188), (2, 0, 5_940)]),
    }


NVME_DRIVES = {
    "970evoplus": samsung_970evoplus1tb,
}

# ---------------------------------------------------------------------------
# Checks and output
# ---------------------------------------------------------------------------


def check_sector(name, kind, sector):
    assert len(sector) == SECTOR, (name, kind, len(sector))
    if kind == "log-directory":
        assert struct.unpack_from("<H", sector, 0)[0] == 1, (name, kind)
        return
    assert sum(sector) % 256 == 0, (name, kind, "checksum")
    if kind == "identify":
        assert sector[510] == 0xA5, (name, kind, "signature")
        words = struct.unpack("<256H", sector)
        assert words[82] & 1 and words[85] & 1, (name, "SMART supported and enabled")
        assert words[84] & 3 == 3, (name, "SMART error log and self-test")
        assert words[83] & (1 << 10), (name, "48-bit addressing")
    elif kind == "smart-data":
        revision = struct.unpack_from("<H", sector, 0)[0]
        assert 1 <= revision <= 99, (name, kind, revision)
    elif kind == "selftest-log":
        assert struct.unpack_from("<H", sector, 0)[0] == 1, (name, kind)
        assert 0 <= sector[508] <= 21, (name, kind)
    elif kind == "summary-error-log":
        assert sector[0] == 1 and sector[1] <= 5, (name, kind)


def check_nvme_page(name, kind, page):
    assert len(page) == NVME_PAGE_SIZES[kind], (name, kind, len(page))
    if kind == "identify":
        npss = page[263]
        assert npss < 32, (name, "power state descriptors fit the identify data")
        slots = (page[260] >> 1) & 7
        assert 1 <= slots <= 7, (name, "firmware slots")
        for field, at, length in (("serial", 4, 20), ("model", 24, 40), ("firmware", 64, 8)):
            page[at:at + length].decode("ascii")          # raises when not text
    elif kind == "health":
        assert page[3] <= 100 and page[4] <= 100, (name, kind, "spare percentages")
    elif kind == "error-log":
        counts = [struct.unpack_from("<Q", page, 64 * n)[0] for n in range(64)]
        used = [c for c in counts if c]
        assert used == sorted(used, reverse=True), (name, kind, "most recent first")
    elif kind == "firmware-log":
        assert 1 <= page[0] & 7 <= 7, (name, kind, "active slot")


def build():
    files = {}
    for name, make in DRIVES.items():
        for kind, sector in make().items():
            check_sector(name, kind, sector)
            files["%s-%s.bin" % (name, kind)] = bytes(sector)
    for name, make in NVME_DRIVES.items():
        for kind, page in make().items():
            check_nvme_page(name, kind, page)
            files["%s-%s.bin" % (name, kind)] = bytes(page)
    return files


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    default_out = os.path.join(os.path.dirname(here), "examples", "demo-mac", "sectors")
    parser = argparse.ArgumentParser(description="Write the demo machine's sector files.")
    parser.add_argument("--out", default=default_out, help="folder to write (default: %(default)s)")
    parser.add_argument("--check", action="store_true",
                        help="compare with the files in the folder instead of writing")
    args = parser.parse_args()

    files = build()
    if args.check:
        stale = []
        for name, data in sorted(files.items()):
            path = os.path.join(args.out, name)
            try:
                with open(path, "rb") as f:
                    if f.read() != data:
                        stale.append(name)
            except OSError:
                stale.append(name)
        for name in stale:
            print("differs: " + os.path.join(args.out, name), file=sys.stderr)
        return 1 if stale else 0

    os.makedirs(args.out, exist_ok=True)
    for name, data in sorted(files.items()):
        path = os.path.join(args.out, name)
        with open(path, "wb") as f:
            f.write(data)
        print("wrote " + path)
    return 0


if __name__ == "__main__":
    sys.exit(main())
