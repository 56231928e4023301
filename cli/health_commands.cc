// health: the reply a host gets for one disk; decode: one raw value.
#include <cstdio>
#include <cstring>
#include <iostream>

#include "ata/raw_value.h"
#include "cli.h"
#include "sentrel/platform.h"
#include "sentrel/sentrel_framework.h"
#include "sentrel/value_io.h"

namespace sentrel::cli {

namespace {

// Sleeps that return at once while still being asked for, so the library
// computes its pacing but the command does not wait (--no-pace).
class NoWaitClock final : public platform::Clock {
 public:
  void sleep(std::chrono::milliseconds) override {}
};

std::string cell(const Value& v) {
  if (const std::string* s = v.plainText()) return *s;
  return toJson(v, {.indent = -1});
}

std::string healthText(const Value& reply, bool colour) {
  const Dict& r = *reply.ifDict();
  std::string out;
  out += "Status:  " + r.stringOr("status") + "\n";
  out += "Model:   " + r.stringOr("deviceName") + "\n";
  out += "Serial:  " + r.stringOr("deviceSerialNumber") + "\n";
  std::string volumes;
  for (const Value& v : *r.getArray("volumes")) volumes += (volumes.empty() ? "" : ", ") + cell(v);
  out += "Volumes: " + (volumes.empty() ? std::string("-") : volumes) + "\n";
  const Array& rows = *r.getArray("properties");
  if (rows.empty()) return out;
  out += "\n";
  char line[256];
  if (r.getBool("isNVMe").value_or(false)) {
    for (const Value& row : rows) {
      const Dict& d = *row.ifDict();
      std::snprintf(line, sizeof line, "%-18s %s\n", d.stringOr("attributeName").c_str(),
                    cell(*d.find("rawAttributeValue")).c_str());
      out += line;
    }
    return out;
  }
  std::snprintf(line, sizeof line, "%4s  %-40s %5s %5s %9s\n", "ROW", "ATTRIBUTE", "VALUE", "WORST",
                "THRESHOLD");
  out += line;
  for (const Value& row : rows) {
    const Dict& d = *row.ifDict();
    std::int64_t value = d.getInt("normalValue").value_or(0);
    std::int64_t threshold = d.getInt("thresholdValue").value_or(0);
    bool row0 = d.getInt("attributeID") == 0;
    // Attributes at or below a non-zero threshold are marked, as the device
    // table marks them.
    bool alarm = !row0 && threshold != 0 && value <= threshold;
    std::snprintf(line, sizeof line, "%4lld  %-40s %5lld %5lld %9lld\n",
                  static_cast<long long>(*d.getInt("attributeID")),
                  d.stringOr("attributeName").c_str(), static_cast<long long>(value),
                  static_cast<long long>(d.getInt("worseValue").value_or(0)),
                  static_cast<long long>(threshold));
    out += alarm && colour ? "\x1b[31m" + std::string(line, std::strlen(line) - 1) + "\x1b[0m\n"
                           : std::string(line);
  }
  return out;
}

}  // namespace

void addHealthCommands(CLI::App& app, Context& ctx) {
  static std::string disk;
  static bool noPace = false;
  auto* health = app.add_subcommand("health", "The health reply for one disk");
  health->add_option("DISK", disk, "Name of the whole disk: sda, nvme0n1 (disk0 on a simulated Mac)")->required();
  health->add_flag("--no-pace", noPace, "Do not wait between the reply rows");
  health->callback([&ctx] {
    ctx.action = [&ctx] {
      // Both outlive the command: the database update it starts may still
      // be running on its queue with this platform.
      static platform::Platform paced;
      static NoWaitClock noWait;
      paced = platform::current();
      std::optional<platform::ScopedPlatform> installed;
      if (noPace) {
        paced.clock = &noWait;
        installed.emplace(paced);
      }
      SentrelFramework framework;
      Dict reply;
      framework.runWith(Dict{{"selectedBSD", disk}}, [&](const Dict& r) { reply = r; });
      print(ctx, Value(reply), [&](const Value& v) { return healthText(v, ctx.colour); });
      if (reply.stringOr("status") != "No Data") return kExitOk;
      complain(disk + ": no data (no drive with SMART access has that name, or its SMART "
                      "access could not be opened)");
      return kExitMissing;
    };
  });

  static std::string format, hex;
  auto* decode = app.add_subcommand("decode", "Decode raw values");
  auto* raw = decode->add_subcommand("raw", "One 12-byte attribute slot's raw value");
  raw->add_option("FORMAT", format, "A raw-value format such as raw48 or tempminmax")->required();
  raw->add_option("HEX", hex, "The slot as 24 hex digits, slot byte 0 first")->required();
  decode->require_subcommand(1);
  raw->callback([&ctx] {
    ctx.action = [&ctx] {
      auto bytes = fromHex(hex);
      if (!bytes || bytes->size() != 12) {
        complain("HEX must be 24 hex digits (12 bytes), got \"" + hex + "\"");
        return kExitUsage;
      }
      std::string text =
          ata::decodeRawAttribute(std::span<const std::uint8_t, 12>(bytes->data(), 12), format);
      print(ctx, Value(text), [](const Value& v) { return *v.ifString() + "\n"; });
      return kExitOk;
    };
  });
}

}  // namespace sentrel::cli
