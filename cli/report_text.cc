// The text views of drive reports: the health check (verdict, reasons and
// the values behind them) and the full device listing in sections. Every
// string that came from a drive passes through terminalSafe.
#include "report_text.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

namespace sentrel::cli {

namespace {

std::string format(const char* fmt, auto... args) {
  char line[512];
  std::snprintf(line, sizeof line, fmt, args...);
  return line;
}

// Columns padded to the widest cell; the last column is not padded.
std::string table(const std::vector<std::vector<std::string>>& rows,
                  const std::vector<bool>& marked = {}, const Context* ctx = nullptr) {
  std::vector<std::size_t> width;
  for (const auto& row : rows) {
    if (width.size() < row.size()) width.resize(row.size(), 0);
    for (std::size_t i = 0; i < row.size(); ++i) width[i] = std::max(width[i], row[i].size());
  }
  std::string out;
  for (std::size_t r = 0; r < rows.size(); ++r) {
    std::string line;
    for (std::size_t i = 0; i < rows[r].size(); ++i) {
      line += rows[r][i];
      if (i + 1 < rows[r].size()) line += std::string(width[i] - rows[r][i].size() + 2, ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    bool mark = r < marked.size() && marked[r];
    out += (mark && ctx ? red(*ctx, line) : line) + "\n";
  }
  return out;
}

std::string number(std::uint64_t n) {
  return std::to_string(n);
}

std::string heading(const std::string& title) {
  return "\n" + title + "\n";
}

std::string attributeName(const AtaAttribute& a) {
  if (!a.name.empty() && a.name != "Unknown") return a.name;
  if (!a.label.empty()) return a.label;
  return "Unknown";
}

std::string whenFailed(const AtaAttribute& a) {
  switch (a.whenFailed()) {
    case AtaAttribute::WhenFailed::now:
      return "now";
    case AtaAttribute::WhenFailed::past:
      return "past";
    case AtaAttribute::WhenFailed::never:
      break;
  }
  return "-";
}

std::string identityLine(const DriveReport& r) {
  std::string line = r.disk + "  " + terminalSafe(r.model);
  if (!r.serial.empty()) line += "  serial " + terminalSafe(r.serial);
  if (!r.firmware.empty()) line += "  firmware " + terminalSafe(r.firmware);
  return line + "\n";
}

std::string verdictLines(const Context& ctx, const DriveReport& r) {
  std::string word = r.verdict.word.empty() ? "not read" : r.verdict.word;
  std::string line = "Verdict: " + word;
  bool bad = r.verdict.word == "Failed" || r.verdict.word == "Warning";
  std::string out = (bad ? red(ctx, line) : line) + "\n";
  for (const HealthReason& reason : r.verdict.reasons)
    out += "  - " + terminalSafe(reason.text) + "\n";
  return out;
}

std::string factsLine(const DriveReport& r) {
  std::vector<std::string> facts;
  if (r.temperatureCelsius) facts.push_back(std::to_string(*r.temperatureCelsius) + " °C");
  if (r.powerOnHours) facts.push_back(number(*r.powerOnHours) + " power-on hours");
  if (r.powerCycles) facts.push_back(number(*r.powerCycles) + " power cycles");
  if (facts.empty()) return "";
  std::string out;
  for (const std::string& f : facts) out += (out.empty() ? "" : ", ") + f;
  return out + "\n";
}

// Bytes in decimal units with one decimal, as disk makers count them.
std::string bytesText(std::uint64_t bytes) {
  static const char* units[] = {"B", "kB", "MB", "GB", "TB", "PB", "EB"};
  double v = static_cast<double>(bytes);
  int unit = 0;
  while (v >= 1000 && unit < 6) {
    v /= 1000;
    ++unit;
  }
  return unit == 0 ? format("%.0f %s", v, units[unit]) : format("%.1f %s", v, units[unit]);
}

std::string ataTable(const Context& ctx, const DriveReport& r) {
  std::vector<std::vector<std::string>> rows{
      {"", "ID", "ATTRIBUTE", "TYPE", "UPDATED", "VALUE", "WORST", "THRESH", "FAILED", "RAW"}};
  std::vector<bool> marked{false};
  for (std::size_t i = 0; i < r.attributes.size(); ++i) {
    const AtaAttribute& a = r.attributes[i];
    bool mark = r.verdict.marksRow(i);
    rows.push_back({mark ? "*" : "", number(a.id), terminalSafe(attributeName(a)),
                    a.prefail() ? "pre-fail" : "old-age", a.online() ? "always" : "offline",
                    format("%03u", a.value), format("%03u", a.worst), format("%03u", a.threshold),
                    whenFailed(a), terminalSafe(a.rawText)});
    marked.push_back(mark);
  }
  std::string out = table(rows, marked, &ctx);
  if (std::find(marked.begin(), marked.end(), true) != marked.end())
    out += "* the attributes behind the verdict\n";
  return out;
}

std::string celsius(std::uint16_t kelvin) {
  return kelvin ? std::to_string(celsiusOfKelvin(kelvin)) + " °C" : "-";
}

std::string nvmeTable(const DriveReport& r) {
  const NvmeHealthLog& n = *r.nvme;
  auto data = [](const NvmeHealthLog::Counter& units) {
    std::uint64_t u = units.value();
    std::uint64_t bytes = u > UINT64_MAX / NvmeHealthLog::kBytesPerDataUnit
                              ? UINT64_MAX
                              : u * NvmeHealthLog::kBytesPerDataUnit;
    return bytesText(bytes) + " (" + number(u) + " units of 512,000 bytes)";
  };
  std::vector<std::vector<std::string>> rows{
      {"Critical warning", format("0x%02x", n.criticalWarning)},
      {"Temperature", celsius(n.temperatureKelvin)},
      {"Available spare", format("%u %% (threshold %u %%)", n.availableSparePercent,
                                 n.availableSpareThresholdPercent)},
      {"Percentage used", format("%u %%", n.percentageUsed)},
      {"Data read", data(n.dataUnitsRead)},
      {"Data written", data(n.dataUnitsWritten)},
      {"Host read commands", number(n.hostReadCommands.value())},
      {"Host write commands", number(n.hostWriteCommands.value())},
      {"Controller busy time", number(n.controllerBusyMinutes.value()) + " minutes"},
      {"Power cycles", number(n.powerCycles.value())},
      {"Power-on hours", number(n.powerOnHours.value())},
      {"Unsafe shutdowns", number(n.unsafeShutdowns.value())},
      {"Media and data integrity errors", number(n.mediaErrors.value())},
      {"Error log entries", number(n.errorLogEntries.value())},
      {"Warning temperature time", number(n.warningTemperatureMinutes) + " minutes"},
      {"Critical temperature time", number(n.criticalTemperatureMinutes) + " minutes"},
  };
  for (std::size_t i = 0; i < n.sensorKelvin.size(); ++i) {
    if (n.sensorKelvin[i])
      rows.push_back({format("Temperature sensor %zu", i + 1), celsius(n.sensorKelvin[i])});
  }
  return table(rows);
}

std::string failureLine(const DriveReport& r) {
  if (!r.failure || !r.failure->failed()) return "";
  return "Note: " + terminalSafe(r.failure->message()) + "\n";
}

}  // namespace

std::string healthText(const Context& ctx, const DriveReport& r) {
  std::string out = identityLine(r);
  if (r.skipped)
    return out + "Not read: the drive is in " + std::string(powerModeName(r.powerMode)) +
           " and was left alone (--nowake)\n";
  out += verdictLines(ctx, r);
  out += factsLine(r);
  if (!r.attributes.empty()) out += "\n" + ataTable(ctx, r);
  if (r.nvme) out += "\n" + nvmeTable(r);
  return out;
}

std::string deviceText(const Context& ctx, const DriveReport& r) {
  std::string out = "Identity\n";
  std::vector<std::vector<std::string>> identity{
      {"Disk", r.disk},
      {"Model", terminalSafe(r.model)},
      {"Serial", terminalSafe(r.serial)},
      {"Firmware", terminalSafe(r.firmware)},
  };
  if (!r.family.empty()) identity.push_back({"Family", terminalSafe(r.family)});
  identity.push_back({"Protocol", r.protocol});
  identity.push_back(
      {"Capacity", bytesText(r.capacityBytes) + " (" + number(r.capacityBytes) + " bytes)"});
  if (!r.driveType.empty()) identity.push_back({"Type", terminalSafe(r.driveType)});
  if (!r.location.empty()) identity.push_back({"Location", terminalSafe(r.location)});
  std::string volumes;
  for (const std::string& v : r.volumes) volumes += (volumes.empty() ? "" : ", ") + terminalSafe(v);
  identity.push_back({"Volumes", volumes.empty() ? "-" : volumes});
  for (auto& row : identity) row[0] += ":";
  out += table(identity);

  out += heading("Health");
  out += verdictLines(ctx, r) + factsLine(r) + failureLine(r);

  const DriveDetails& d = r.details;
  if (r.protocol == "ATA") {
    if (!r.attributes.empty()) out += heading("SMART attributes") + ataTable(ctx, r);
    out += heading("Capabilities and self-tests");
    std::vector<std::vector<std::string>> caps{
        {"Offline data collection:", terminalSafe(d.offlineCollectionStatus)},
        {"Self-test:", terminalSafe(d.selfTestStatus)}};
    for (const NamedText& c : d.capabilities)
      caps.push_back({terminalSafe(c.name) + ":", terminalSafe(c.value)});
    std::string offered;
    for (const auto& t : d.selfTestsOffered)
      offered += (offered.empty() ? "" : ", ") + terminalSafe(t.name) + " (" +
                 number(t.pollingMinutes) + " min)";
    caps.push_back({"Self-tests offered:", offered.empty() ? "none" : offered});
    out += table(caps);

    out += heading("Self-test log");
    if (r.selfTests.empty()) {
      out += "No self-tests logged.\n";
    } else {
      std::vector<std::vector<std::string>> rows{
          {"NUM", "TEST", "STATUS", "DONE", "HOURS", "FIRST ERROR LBA"}};
      std::vector<bool> marked{false};
      for (const SelfTestEntry& t : r.selfTests) {
        rows.push_back({number(static_cast<std::uint64_t>(t.number)), terminalSafe(t.type),
                        terminalSafe(t.status), format("%u %%", t.completionPercent),
                        number(t.lifetimeHours), t.firstErrorLba ? number(*t.firstErrorLba) : "-"});
        marked.push_back(t.failed);
      }
      out += table(rows, marked, &ctx);
    }

    if (!d.logDirectory.empty()) {
      out += heading("Log directory");
      std::vector<std::vector<std::string>> rows{{"ADDRESS", "LOG", "PAGES"}};
      for (const auto& l : d.logDirectory)
        rows.push_back({format("0x%02x", l.address), terminalSafe(l.name), number(l.pages)});
      out += table(rows);
    }
  } else {
    if (r.nvme) out += heading("Health log") + nvmeTable(r);
    if (!d.nvmeIdentify.empty()) {
      out += heading("Identify");
      std::vector<std::vector<std::string>> rows;
      for (const NamedText& n : d.nvmeIdentify)
        rows.push_back({terminalSafe(n.name) + ":", terminalSafe(n.value)});
      out += table(rows);
    }
    if (!d.powerStates.empty()) {
      out += heading("Power states");
      std::vector<std::vector<std::string>> rows{
          {"STATE", "MAX POWER", "OPERATIONAL", "ENTRY LATENCY", "EXIT LATENCY"}};
      for (const auto& p : d.powerStates)
        rows.push_back({number(static_cast<std::uint64_t>(p.state)),
                        format("%.2f W", p.maxPowerWatts), p.nonOperational ? "no" : "yes",
                        number(p.entryLatencyMicroseconds) + " us",
                        number(p.exitLatencyMicroseconds) + " us"});
      out += table(rows);
    }
    if (!d.firmwareSlots.empty()) {
      out += heading("Firmware slots");
      std::vector<std::vector<std::string>> rows{{"SLOT", "REVISION", "ACTIVE", "READ-ONLY"}};
      for (const auto& f : d.firmwareSlots)
        rows.push_back({number(static_cast<std::uint64_t>(f.slot)), terminalSafe(f.revision),
                        f.active ? "yes" : "no", f.readOnly ? "yes" : "no"});
      out += table(rows);
    }
  }

  out += heading("Error log");
  if (r.errors.empty()) {
    out += r.errorCount ? number(r.errorCount) + " errors counted; none is in the log.\n"
                        : "No errors logged.\n";
  } else {
    out += number(r.errorCount) + (r.errorCount == 1 ? " error" : " errors") +
           " counted; the newest:\n";
    for (const LoggedError& e : r.errors) {
      out += "  #" + number(e.number) + "  " + terminalSafe(e.description);
      if (e.lifetimeHours) out += "  (at " + number(*e.lifetimeHours) + " hours)";
      out += "\n";
    }
  }
  return out;
}

}  // namespace sentrel::cli
