// list, device and selftest: the commands that find a disk and talk to it.
#include <algorithm>
#include <cstdio>
#include <iostream>

#include "cli.h"
#include "sentrel/drive_database.h"
#include "sentrel/sim_capture.h"
#include "sentrel/smart_device.h"

namespace sentrel::cli {

namespace {

// Bytes in decimal units with one decimal, as disk makers count them.
std::string capacityText(std::uint64_t bytes) {
  static const char* units[] = {"B", "kB", "MB", "GB", "TB", "PB", "EB"};
  double v = static_cast<double>(bytes);
  int unit = 0;
  while (v >= 1000 && unit < 6) {
    v /= 1000;
    ++unit;
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, unit == 0 ? "%.0f %s" : "%.1f %s", v, units[unit]);
  return buf;
}

std::string listText(const Value& value) {
  const Dict* all = value.ifDict();
  if (!all || all->empty()) return "No drives with SMART access were found.\n";
  std::vector<std::vector<std::string>> rows{
      {"DISK", "MODEL", "SERIAL", "TYPE", "CAPACITY", "LOCATION", "VOLUMES"}};
  for (const auto& [bsd, v] : *all) {
    const Dict& r = *v.ifDict();
    std::string volumes;
    if (const Array* vols = r.getArray("volumes")) {
      for (const Value& vol : *vols) {
        if (!volumes.empty()) volumes += ", ";
        if (const Dict* d = vol.ifDict()) volumes += d->stringOr("name");
      }
    }
    std::string kind = r.getBool("isNVMe").value_or(false) ? "NVMe " : "ATA ";
    rows.push_back(
        {bsd, r.stringOr("Device Model"), r.stringOr("Serial Number"),
         kind + r.stringOr("Drive Type"),
         capacityText(r.find("User Capacity") ? r.find("User Capacity")->toUInt().value_or(0) : 0),
         r.stringOr("Loc-Con"), volumes});
  }
  std::vector<std::size_t> width(rows[0].size(), 0);
  for (const auto& row : rows)
    for (std::size_t i = 0; i < row.size(); ++i) width[i] = std::max(width[i], row[i].size());
  std::string out;
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line += std::string(width[i] - row[i].size() + 2, ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out += line + "\n";
  }
  return out;
}

int noSuchDisk(const std::string& disk) {
  std::string known;
  if (auto all = KVSMARTDevice::driveInformation()) {
    for (const auto& e : *all) known += (known.empty() ? "" : ", ") + e.key;
  }
  complain("no drive with SMART access is named " + disk +
           (known.empty() ? "" : " (drives: " + known + ")"));
  return kExitMissing;
}

std::string hexStatus(platform::Status s) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(s));
  return buf;
}

}  // namespace

void addDeviceCommands(CLI::App& app, Context& ctx) {
  auto* list = app.add_subcommand("list", "List the drives with SMART access, by disk name");
  list->callback([&ctx] {
    ctx.action = [&ctx] {
      auto all = KVSMARTDevice::driveInformation();
      if (!all) {
        complain("the disk list cannot be read (no disk-arbitration session)");
        return kExitMissing;
      }
      print(ctx, Value(std::move(*all)), listText);
      return kExitOk;
    };
  });

  static std::string deviceDisk;
  auto* device = app.add_subcommand("device", "Show everything known about one drive");
  device
      ->add_option("DISK", deviceDisk,
                   "Name of the whole disk: sda, nvme0n1 (disk0 on a simulated Mac)")
      ->required();
  device->callback([&ctx] {
    ctx.action = [&ctx] {
      auto dev = KVSMARTDevice::deviceWithBSDName(deviceDisk);
      if (!dev) return noSuchDisk(deviceDisk);
      // The record, and everything the refresh could read from the drive.
      bool read = dev->updateProperties() != nullptr;
      print(ctx, Value(*dev->driveProperties()), nullptr);
      if (!read) {
        complain("the SMART access of " + deviceDisk +
                 " could not be opened or SMART could not be enabled; only its record is shown");
        return kExitMissing;
      }
      return kExitOk;
    };
  });

  static std::string captureDisk, captureFolder;
  auto* capture = app.add_subcommand(
      "capture", "Record one drive as a simulated machine folder, for a bug report");
  capture
      ->add_option("DISK", captureDisk,
                   "Name of the whole disk: sda, nvme0n1 (disk0 on a simulated Mac)")
      ->required();
  capture->add_option("DIR", captureFolder, "A new folder for the machine")->required();
  capture->callback([&ctx] {
    ctx.action = [&ctx] {
      // The drive is read as `device` reads it, with every command recorded.
      sim::Capture recorder(platform::current());
      {
        platform::ScopedPlatform installed(recorder.platform());
        auto dev = KVSMARTDevice::deviceWithBSDName(captureDisk);
        if (!dev) return noSuchDisk(captureDisk);
        dev->updateProperties();
        std::string stored = KVSmartDeviceDatabase::dbPath();
        if (platform::current().files->exists(stored)) recorder.setDatabaseFile(stored);
      }
      std::string error;
      if (!recorder.write(captureFolder, captureDisk, &error)) {
        complain("capture of " + captureDisk + " failed: " + error);
        return kExitMissing;
      }
      Dict result{{"disk", captureDisk},
                  {"folder", captureFolder},
                  {"commands", std::uint64_t{recorder.commandCount()}}};
      print(ctx, Value(std::move(result)), [&recorder](const Value&) {
        return "captured " + captureDisk + " (" + std::to_string(recorder.commandCount()) +
               " drive commands) into " + captureFolder + "\nreplay it with: sentrel --sim " +
               captureFolder + " device " + captureDisk + "\n";
      });
      return kExitOk;
    };
  });

  static std::string testDisk, testKind;
  auto* selftest = app.add_subcommand("selftest", "Start or abort a drive self-test");
  selftest
      ->add_option("DISK", testDisk,
                   "Name of the whole disk: sda, nvme0n1 (disk0 on a simulated Mac)")
      ->required();
  selftest->add_option("TEST", testKind, "short, extended or abort")
      ->required()
      ->check(CLI::IsMember({"short", "extended", "abort"}));
  selftest->callback([&ctx] {
    ctx.action = [&ctx] {
      auto dev = KVSMARTDevice::deviceWithBSDName(testDisk);
      if (!dev) return noSuchDisk(testDisk);
      if (dev->driveProperties()->getBool("isNVMe").value_or(false)) {
        complain(testDisk + " is an NVMe drive; self-tests here are ATA self-tests");
        return kExitMissing;
      }
      if (!dev->openInterface()) {
        complain("cannot open the SMART access of " + testDisk);
        return kExitMissing;
      }
      platform::Status status = 0;
      if (testKind == "abort") {
        dev->abortSelftest();
      } else {
        status = dev->startSelftest(testKind == "short" ? "Short" : "Extended");
      }
      dev->closeInterface();
      std::string what = testKind == "abort" ? "abort" : testKind + " self-test";
      Dict result{{"disk", testDisk}, {"test", testKind}, {"status", status}};
      print(ctx, Value(std::move(result)), [&](const Value&) {
        return status == 0
                   ? what + " sent to " + testDisk + "\n"
                   : what + " on " + testDisk + " failed with status " + hexStatus(status) + "\n";
      });
      return status == 0 ? kExitOk : kExitMissing;
    };
  });
}

}  // namespace sentrel::cli
