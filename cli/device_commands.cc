// list, device and capture: the drives there are, everything known about
// one of them, and one of them recorded as a simulated machine.
#include <algorithm>
#include <cstdio>

#include "cli.h"
#include "report_text.h"
#include "sentrel/drive_database.h"
#include "sentrel/keys.h"
#include "sentrel/sim_capture.h"
#include "sentrel/smart_device.h"

namespace sentrel::cli {

namespace {

constexpr const char* kOneDiskHelp = "Name of the whole disk: sda, nvme0n1 (disk0 on a simulated Mac)";

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

// The identity part of a report's JSON, for the list.
Value identityValue(const DriveReport& r) {
  Value all = reportValue(r);
  Dict out;
  for (const char* key : {"disk", "protocol", "model", "serial", "firmware", "family",
                          "capacity_bytes", "drive_type", "location", "volumes"}) {
    if (const Value* v = all.ifDict()->find(key)) out.set(key, *v);
  }
  return out;
}

std::string listText(const std::vector<DriveReport>& drives) {
  if (drives.empty()) return "No drives with SMART access were found.\n";
  std::vector<std::vector<std::string>> rows{
      {"DISK", "MODEL", "SERIAL", "TYPE", "CAPACITY", "LOCATION", "VOLUMES"}};
  for (const DriveReport& r : drives) {
    std::string volumes;
    for (const std::string& v : r.volumes) volumes += (volumes.empty() ? "" : ", ") + v;
    rows.push_back({r.disk, terminalSafe(r.model), terminalSafe(r.serial),
                    r.protocol + " " + terminalSafe(r.driveType), capacityText(r.capacityBytes),
                    terminalSafe(r.location), terminalSafe(volumes)});
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

int runList(const Context& ctx) {
  auto all = KVSMARTDevice::driveInformation();
  if (!all) {
    complain("the disk list cannot be read (no disk-arbitration session)");
    return kExitNoDevice;
  }
  std::vector<DriveReport> drives;
  Array typed;
  for (const auto& [name, record] : *all) {
    const Dict* r = record.ifDict();
    if (!r) continue;
    KVSMARTDevice unread(*r);
    drives.push_back(driveReport(unread, name, false));
    typed.push_back(identityValue(drives.back()));
  }
  return emit(ctx,
              {"devices", Value(std::move(typed)), Value(std::move(*all)),
               [&] { return listText(drives); }});
}

int runDevice(const Context& ctx) {
  auto dev = deviceOrComplain(ctx.disk());
  if (!dev) {
    // JSON still says which disk was not found; text has nothing to show.
    DriveReport missing;
    missing.disk = ctx.disk();
    if (ctx.format != OutputFormat::json) return kExitNoDevice;
    return kExitNoDevice | emit(ctx, {"device", reportValue(missing), Value(), nullptr});
  }
  // The record, and everything the refresh could read from the drive.
  bool refreshed = dev->updateProperties() != nullptr;
  DriveReport report = driveReport(*dev, ctx.disk(), refreshed);
  if (!report.read) {
    complainUnreadable(ctx.disk(), report.failure);
    complain("only the drive record of " + ctx.disk() + " is shown");
  }
  int bits = exitBits(report);
  return bits | emit(ctx, {"device", reportValue(report), Value(*dev->driveProperties()), [&] {
                             return report.read ? deviceText(ctx, report)
                                                : textOf(Value(*dev->driveProperties()));
                           }});
}

int runCapture(const Context& ctx) {
  const std::string& disk = ctx.disk();
  // The drive is read as `device` reads it, with every command recorded.
  sim::Capture recorder(platform::current());
  {
    platform::ScopedPlatform installed(recorder.platform());
    auto dev = deviceOrComplain(disk);
    if (!dev) return kExitNoDevice;
    dev->updateProperties();
    std::string stored = KVSmartDeviceDatabase::dbPath();
    if (platform::current().files->exists(stored)) recorder.setDatabaseFile(stored);
  }
  platform::Failure failure;
  if (!recorder.write(ctx.captureFolder, disk, &failure)) {
    complain("capture of " + disk + " failed: " + failure.message());
    return kExitUsage;
  }
  Dict result{{"disk", disk},
              {"folder", ctx.captureFolder},
              {"commands", std::uint64_t{recorder.commandCount()}}};
  return emitValue(ctx, "capture", Value(std::move(result)), [&](const Value&) {
    return "captured " + disk + " (" + std::to_string(recorder.commandCount()) +
           " drive commands) into " + terminalSafe(ctx.captureFolder) +
           "\nreplay it with: sentrel --sim " + terminalSafe(ctx.captureFolder) + " device " +
           disk + "\n";
  });
}

}  // namespace

void addDeviceCommands(CLI::App& app, Context& ctx) {
  auto* list = app.add_subcommand("list", "List the drives with SMART access, by disk name");
  list->footer("Examples:\n  sentrel list\n  sentrel --format json list");
  list->callback([&ctx] { ctx.action = [&ctx] { return runList(ctx); }; });

  auto* device = app.add_subcommand("device", "Show everything known about one drive");
  device->add_option("DISK", ctx.oneDisk, kOneDiskHelp)->required();
  device->footer("Examples:\n  sentrel device sda\n  sentrel --format raw-json device sda");
  device->callback([&ctx] {
    ctx.disks = {ctx.oneDisk};
    ctx.action = [&ctx] { return runDevice(ctx); };
  });

  auto* capture = app.add_subcommand(
      "capture", "Record one drive as a simulated machine folder, for a bug report");
  capture->add_option("DISK", ctx.oneDisk, kOneDiskHelp)->required();
  capture->add_option("DIR", ctx.captureFolder, "A new folder for the machine")->required();
  capture->footer("Example:\n  sudo sentrel capture sda /tmp/sda-capture");
  capture->callback([&ctx] {
    ctx.disks = {ctx.oneDisk};
    ctx.action = [&ctx] { return runCapture(ctx); };
  });
}

}  // namespace sentrel::cli
