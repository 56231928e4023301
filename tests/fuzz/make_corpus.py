#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets into tests/fuzz/corpus/<target>/.

The seeds are made from the demo machine's sectors and from small texts kept
below, so they are the same bytes on every run. Files named regression-*
(inputs that once found a bug) are never touched.

    python3 tests/fuzz/make_corpus.py          # rewrite the seeds
    python3 tests/fuzz/make_corpus.py --check  # exit status 1 when a seed is out of date
"""
import json
import struct
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
SECTORS = ROOT / "examples" / "demo-mac" / "sectors"
CORPUS = ROOT / "tests" / "fuzz" / "corpus"

ATA_DRIVES = ["st2000dm008", "860evo500", "wd40efrx"]
ATA_MODELS = {"st2000dm008": 0, "860evo500": 1, "wd40efrx": 2}  # device_plist's model list
ATA_SECTORS = ["identify", "smart-data", "thresholds", "log-directory", "summary-error-log",
               "selftest-log"]


def sector(drive, name):
    return (SECTORS / f"{drive}-{name}.bin").read_bytes()


# ---- drivedb_parser: small drive databases written for the parser ----

DRIVEDB_BASIC = r'''/*
 * drivedb.h - smartmontools drive database file
 *
 * Example entry in the header comment, which the parser must ignore:
 * { "Family", "MODEL", "", "", "" },
 */
const drive_settings builtin_knowndrives[] = {
// BEGIN drivedb.h (DO NOT DELETE - used by Makefile)
  { "VERSION: 7.5/5700 2025-01-01 12:00:00 $Id: drivedb.h 5700 2025-01-01 12:00:00Z author $",
    "-", "-",
    "Version information",
    ""
  },
  { "DEFAULT",
    "-", "-",
    "Default settings",
    "-v 1,raw48,Raw_Read_Error_Rate "
    "-v 9,raw24(raw8),Power_On_Hours "
    "-v 194,tempminmax,Temperature_Celsius "
    "-v 199,raw48,UDMA_CRC_Error_Count"
  },
  { "Seagate BarraCuda 3.5", // tested with ST2000DM008-2FR102/0001
    "ST(1000|2000|3000)DM00[5-8]-.*",
    "", "",
    "-v 1,raw24/raw32 -v 7,raw24/raw32 -v 9,msec24hour32 -v 240,msec24hour32 "
    "-F xerrorlba"
  },
  { "Samsung based SSDs",
    "Samsung SSD 8[56]0 (EVO|PRO) (120|250|500)GB|" // comment after a piece
    "SAMSUNG MZ7LH.*",
    "^RVT0[1-4]B6Q$",
    "Warning: a \"quoted\" warning\n"
    "on two lines, see https://www.smartmontools.org/ticket/1234",
    "-v 177,raw48,Wear_Leveling_Count -v 241,raw48,Total_LBAs_Written -v 235,increasing"
  },
  { "Western Digital Red",
    "WDC WD[1-8]0EFRX-.*",
    "",
    "",
    "-v 9,halfmin2hour -v 3,raw16(avg16),Spin_Up_Time -F samsung3 -v 9,min2hour"
  },
/*
  { "Commented out", "OLD", "", "", "" },
*/
  { "", // family from the model
    "NO FAMILY .*",
    "", "", "-v 5,raw16(raw16) -v 187,raw48,Reported_Uncorrect -v 5"
  },
};
'''

DRIVEDB_ID_MARKER = r'''const drive_settings builtin_knowndrives[] = {
  { "$Id: drivedb.h 4321 2016-05-01 10:00:00Z author $",
    "-", "-", "", ""
  },
  { "Toshiba 2.5\" HDD", "TOSHIBA MQ01ABD(050|064|075|100)", "", "", "-v 9,min2hour,Power_On_Minutes" },
  { "Intel 320 Series SSDs", "INTEL SSDSA[12]CW(040|080|120|160|300|600)G3", "", "",
    "-F nologdir -v 3,raw16(avg16),Spin_Up_Time -v 4,raw48,Start_Stop_Count"
  },
};
'''

DRIVEDB_ODD = '''{ "VERSION: broken", "-", "-", "", "" },
{ "Two lines\\n", "A"
"B", "1"
"2", "w\\"x", "-v 1,raw8 -v 2,raw16,Name_With_Underscores -v 3 -F nologdir -F xerrorlba -d sat" },
{ "\u00c9t\u00e9 \u2603", "caf\u00e9", "", "\u00a0space\u3000", "-v 200,hex56,Tab\tName" },
{ "Too few", "fields", "" },
'''


def drivedb_parser():
    return {"seed-basic": DRIVEDB_BASIC.encode(), "seed-id-marker": DRIVEDB_ID_MARKER.encode(),
            "seed-odd": DRIVEDB_ODD.encode()}


# ---- drive_lookup: model, a zero byte, firmware ----

def drive_lookup():
    pairs = {
        "seed-seagate": ("ST2000DM008-2FR102", "0001"),
        "seed-samsung": ("Samsung SSD 860 EVO 500GB", "RVT04B6Q"),
        "seed-wd": ("WDC WD40EFRX-68N32N0", "82.00A82"),
        "seed-nvme": ("Samsung SSD 970 EVO Plus 1TB", "2B2QEXM7"),
        "seed-intel": ("INTEL SSDSC2BB240G4", "D2010370"),
        "seed-unicode": ("Caf\u00e9 \u2603\u2603 SSD", "12.3"),
        "seed-backref": ("XXXX", "aa"),
        "seed-empty": ("", ""),
    }
    return {name: model.encode() + b"\0" + fw.encode() for name, (model, fw) in pairs.items()}


# ---- sector_decoders: selector byte, then the decoder's bytes ----

def sector_decoders():
    out = {}
    for drive in ATA_DRIVES:
        # 0: attribute table: data, thresholds, then two preset lists.
        presets = bytes([3, 9, 15, 194, 18, 1, 13, 2, 5, 3, 187, 2])
        out[f"seed-attributes-{drive}"] = (bytes([0]) + sector(drive, "smart-data") +
                                           sector(drive, "thresholds") + presets)
        out[f"seed-selftest-{drive}"] = bytes([1]) + sector(drive, "selftest-log")
        out[f"seed-logdir-{drive}"] = bytes([2]) + sector(drive, "log-directory")
        out[f"seed-errorlog-{drive}"] = (bytes([3]) + sector(drive, "summary-error-log") +
                                         struct.pack("<HH", 0x60, 0x40))
        # 9: an identify string: the model field (words 27-46).
        out[f"seed-identify-string-{drive}"] = (bytes([9, 40, 40]) +
                                                sector(drive, "identify")[54:94])
    out["seed-nvme-identify"] = bytes([4]) + struct.pack("<HH", 1, 3) + sector("970evoplus", "identify")
    out["seed-nvme-health"] = bytes([5, 1]) + sector("970evoplus", "health")
    out["seed-nvme-errorlog"] = bytes([6]) + sector("970evoplus", "error-log")
    out["seed-nvme-firmware"] = (bytes([7]) + sector("970evoplus", "firmware-log") +
                                 sector("970evoplus", "identify"))
    slot = sector("st2000dm008", "smart-data")[2:14]
    for fmt in range(20):
        out[f"seed-raw-{fmt:02d}"] = bytes([8]) + slot + bytes([fmt, 1, 2, 1, 0, 1, 2, 8])
    out["seed-hexdump"] = bytes([10, 0x40, 0x02, 0x90]) + sector("970evoplus", "health")[:0x240]
    return out


# ---- sim_loader: machine descriptions, sector names relative to the demo ----

def sim_loader():
    out = {"seed-demo": (ROOT / "examples" / "demo-mac" / "machine.json").read_bytes()}
    small = {
        "disks": [{
            "description": {"DAMediaBSDName": "disk0", "DAMediaContent": "GUID_partition_scheme",
                            "DAMediaWhole": True},
            "descendants": [{"properties": {"BSD Name": "disk0s1"}, "volumeName": "Backup"}],
            "ancestors": [{
                "class": "IOAHCIBlockStorageDevice",
                "properties": {
                    "Serial Number": "S1", "Model": "TEST DRIVE",
                    "Device Characteristics": {"Medium Type": "Solid State",
                                               "Product Revision Level": "1.0"},
                    "Protocol Characteristics": {"Physical Interconnect": "SATA",
                                                 "Physical Interconnect Location": "Internal"},
                    "SMART Capable": True},
                "ata": {"smartData": "sectors/860evo500-smart-data.bin",
                        "thresholds": "sectors/860evo500-thresholds.bin",
                        "openStatuses": ["0xE00002C7", 0],
                        "logs": {"6": {"status": "0xE00002BC"},
                                 "0x01": {"data": "sectors/860evo500-summary-error-log.bin",
                                          "status": -536870212}}}}]}]}
    out["seed-small-ata"] = json.dumps(small, indent=1).encode()
    nvme = {
        "systemVersion": "10.14.6",
        "disks": [{
            "description": {"DAMediaBSDName": "disk1", "DAMediaContent": "",
                            "DAMediaWhole": True, "DAMediaSize": 1000204886016},
            "ancestors": [
                {"id": "ns", "name": "IONVMeBlockStorageDevice",
                 "properties": {"Serial Number": "N1", "Model Number": "NVME X",
                                "NVMe SMART Capable": True, "NamespaceUUID": "U-1"},
                 "nvme": {"version": 1, "revision": 4,
                          "identify": "sectors/970evoplus-identify.bin",
                          "health": {"$hex": "00" * 512},
                          "firmwareLog": "sectors/970evoplus-firmware-log.bin"}},
                {"name": "pci", "properties": {"io-device-location": {"$data": "536c6f742033"},
                                               "Controller Characteristics":
                                                   {"Vendor Name": "Thunderbolt"}}}]},
            {"description": {"DAMediaBSDName": "disk2", "DAMediaContent": "FDisk_partition_scheme",
                             "DAMediaWhole": True},
             "noDisk": False, "ancestors": [{"id": "ns"}]}],
        "tools": [{"tool": "/usr/bin/sw_vers", "arguments": ["-productVersion"],
                   "stdout": "10.14.6\n"},
                  {"tool": "/usr/sbin/diskutil", "arguments": ["apfs", "list", "-plist"],
                   "stdout": {"$data": "62706c6973743030"}}],
        "mounts": [{"from": "/dev/disk1s1", "on": "/", "type": "apfs"}],
        "statfs": {"/": {"blockSize": 4096, "blocks": 1000, "freeBlocks": 10}},
        "userDefaults": {"KVCurrentSWVers": "10.14.6"},
        "extensions": [{"folder": "IOStorageFamily.kext", "images": ["Internal.icns"]}],
        "host": {"bundleName": "Fuzz", "localizedStrings": {"": {"k": "v"}}},
    }
    out["seed-nvme-tools"] = json.dumps(nvme, indent=1).encode()
    out["seed-refused"] = b'{"disks": [{"ancestors": [{"id": "a"}, {"id": "a"}]}]}'
    return out


# ---- device_plist: drive kind, failing sectors, model, then the sectors ----

def device_plist():
    out = {}
    for drive in ATA_DRIVES:
        body = b"".join(sector(drive, name) for name in ATA_SECTORS)
        out[f"seed-ata-{drive}"] = bytes([0, 0, ATA_MODELS[drive]]) + body
    out["seed-ata-exceeded-missing-logs"] = (bytes([2, 0x38, 0]) +
                                             sector("st2000dm008", "identify") +
                                             sector("st2000dm008", "smart-data") +
                                             sector("st2000dm008", "thresholds"))
    nvme = b"".join(sector("970evoplus", name)
                    for name in ["identify", "health", "error-log", "firmware-log"])
    out["seed-nvme-970evoplus"] = bytes([1, 0, 3]) + struct.pack("<HH", 1, 3) + nvme
    return out


# ---- pass_through: SCSI status, host status, driver status, errno, sense ----

def pass_through():
    def completion(scsi, sense, host=0, driver=0, errno=0):
        return bytes([scsi]) + struct.pack("<HH", host, driver) + bytes([errno]) + bytes(sense)
    # The ATA Status Return descriptor (09h, 12 more bytes) of SMART RETURN
    # STATUS: LBA mid/high 4Fh/C2h, status 50h.
    ata_return = [0x09, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x4F, 0x00, 0xC2, 0x00,
                  0x50]
    return {
        "seed-descriptor-ata-return": completion(2, [0x72, 0x01, 0x00, 0x1D, 0, 0, 0, 14] +
                                                 ata_return),
        # A header that promises a descriptor the data does not hold.
        "seed-short-descriptor": completion(2, [0x72, 0x01, 0x00, 0x1D, 0, 0, 0, 14, 0x09, 0x0C,
                                                0x00]),
        "seed-descriptor-after-another": completion(2, [0x72, 0x00, 0, 0, 0, 0, 0, 20, 0x02, 0x04,
                                                        1, 2, 3, 4] + ata_return),
        "seed-illegal-request": completion(2, [0x72, 0x05, 0x24, 0x00, 0, 0, 0, 0]),
        "seed-fixed-format": completion(2, [0x70, 0, 0x0B, 0x04, 0x51, 0x01, 0x00, 10, 0, 0, 0, 0,
                                            0x00, 0x1D, 0, 0, 0, 0]),
        "seed-no-sense": completion(0, []),
        "seed-host-busy": completion(0, [], host=0x02),
        "seed-errno": completion(0, [], errno=13),
    }


TARGETS = {"drivedb_parser": drivedb_parser, "drive_lookup": drive_lookup,
           "sector_decoders": sector_decoders, "sim_loader": sim_loader,
           "device_plist": device_plist, "pass_through": pass_through}


def main():
    check = "--check" in sys.argv[1:]
    stale = []
    for target, make in TARGETS.items():
        folder = CORPUS / target
        seeds = make()
        if not check:
            folder.mkdir(parents=True, exist_ok=True)
            for old in folder.glob("seed-*"):
                if old.name not in seeds:
                    old.unlink()
        for name, data in seeds.items():
            path = folder / name
            if check:
                if not path.exists() or path.read_bytes() != data:
                    stale.append(str(path.relative_to(ROOT)))
            elif not path.exists() or path.read_bytes() != data:
                path.write_bytes(data)
    if stale:
        print("out of date: " + ", ".join(stale))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
