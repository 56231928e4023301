// list, device, capture and selftest: the commands that find a disk and talk to it.
#include <algorithm>
#include <cstdio>
#include <iostream>

#include "cli.h"
#include "sentrel/drive_database.h"
#include "sentrel/keys.h"
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
    if (const Array* vols = r.getArray(keys::kVolumes)) {
      for (const Value& vol : *vols) {
        if (!volumes.empty()) volumes += ", ";
        if (const Dict* d = vol.ifDict()) volumes += d->stringOr(keys::kVolumeName);
      }
    }
    std::string kind = r.getBool(keys::kIsNVMe).value_or(false) ? "NVMe " : "ATA ";
    rows.push_back({bsd, r.stringOr(keys::kDeviceModel), r.stringOr(keys::kSerialNumber),
                    kind + r.stringOr(keys::kDriveType),
                    capacityText(r.find(keys::kUserCapacity)
                                     ? r.find(keys::kUserCapacity)->toUInt().value_or(0)
                                     : 0),
                    r.stringOr(keys::kLocCon), volumes});
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

std::string hexStatus(platform::Status s) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(s));
  return buf;
}

constexpr const char* kDiskHelp = "Name of the whole disk: sda, nvme0n1 (disk0 on a simulated Mac)";

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

  auto* device = app.add_subcommand("device", "Show everything known about one drive");
  device->add_option("DISK", ctx.disk, kDiskHelp)->required();
  device->callback([&ctx] {
    ctx.action = [&ctx] {
      auto dev = deviceOrComplain(ctx.disk);
      if (!dev) return kExitMissing;
      // The record, and everything the refresh could read from the drive.
      bool read = dev->updateProperties() != nullptr;
      print(ctx, Value(*dev->driveProperties()), nullptr);
      // A refused or silent drive leaves out what it was asked; a drive that
      // merely lacks a log does not.
      using Kind = platform::Failure::Kind;
      const auto& failure = dev->failure();
      bool cut =
          failure && (failure->kind == Kind::permission || failure->kind == Kind::noResponse);
      if (!read || cut) {
        complainUnreadable(ctx.disk, failure);
        complain(read ? "what " + ctx.disk + " did not answer is missing above"
                      : "only the drive record of " + ctx.disk + " is shown");
        return kExitMissing;
      }
      return kExitOk;
    };
  });

  auto* capture = app.add_subcommand(
      "capture", "Record one drive as a simulated machine folder, for a bug report");
  capture->add_option("DISK", ctx.disk, kDiskHelp)->required();
  capture->add_option("DIR", ctx.captureFolder, "A new folder for the machine")->required();
  capture->callback([&ctx] {
    ctx.action = [&ctx] {
      // The drive is read as `device` reads it, with every command recorded.
      sim::Capture recorder(platform::current());
      {
        platform::ScopedPlatform installed(recorder.platform());
        auto dev = deviceOrComplain(ctx.disk);
        if (!dev) return kExitMissing;
        dev->updateProperties();
        std::string stored = KVSmartDeviceDatabase::dbPath();
        if (platform::current().files->exists(stored)) recorder.setDatabaseFile(stored);
      }
      platform::Failure failure;
      if (!recorder.write(ctx.captureFolder, ctx.disk, &failure)) {
        complain("capture of " + ctx.disk + " failed: " + failure.message());
        return kExitUsage;
      }
      Dict result{{"disk", ctx.disk},
                  {"folder", ctx.captureFolder},
                  {"commands", std::uint64_t{recorder.commandCount()}}};
      print(ctx, Value(std::move(result)), [&ctx, &recorder](const Value&) {
        return "captured " + ctx.disk + " (" + std::to_string(recorder.commandCount()) +
               " drive commands) into " + ctx.captureFolder + "\nreplay it with: sentrel --sim " +
               ctx.captureFolder + " device " + ctx.disk + "\n";
      });
      return kExitOk;
    };
  });

  auto* selftest = app.add_subcommand("selftest", "Start or abort a drive self-test");
  selftest->add_option("DISK", ctx.disk, kDiskHelp)->required();
  selftest->add_option("TEST", ctx.selftestKind, "short, extended or abort")
      ->required()
      ->check(CLI::IsMember({"short", "extended", "abort"}));
  selftest->callback([&ctx] {
    ctx.action = [&ctx] {
      const std::string& disk = ctx.disk;
      const std::string& kind = ctx.selftestKind;
      auto dev = deviceOrComplain(disk);
      if (!dev) return kExitMissing;
      if (dev->driveProperties()->getBool(keys::kIsNVMe).value_or(false)) {
        complain(disk + " is an NVMe drive; self-tests here are ATA self-tests");
        return kExitMissing;
      }
      if (!dev->openInterface()) {
        complainUnreadable(disk, dev->failure());
        return kExitMissing;
      }
      platform::Status status = 0;
      if (kind == "abort") {
        dev->abortSelftest();
      } else {
        status = dev->startSelftest(kind == "short" ? "Short" : "Extended");
      }
      dev->closeInterface();
      std::string what = kind == "abort" ? "abort" : kind + " self-test";
      Dict result{{"disk", disk}, {"test", kind}, {"status", status}};
      print(ctx, Value(std::move(result)), [&](const Value&) {
        return status == 0
                   ? what + " sent to " + disk + "\n"
                   : what + " on " + disk + " failed with status " + hexStatus(status) + "\n";
      });
      return status == 0 ? kExitOk : kExitMissing;
    };
  });
}

}  // namespace sentrel::cli
