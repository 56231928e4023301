// health: the reply a host gets for one disk, with the reasons for its
// verdict; decode: one raw value.
#include <cstdio>
#include <cstring>

#include "cli.h"
#include "sentrel/keys.h"
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

// The reply as text. ATA rows whose attribute the verdict names are marked
// with "*" (and red on a terminal).
std::string healthText(const Value& reply, const HealthVerdict& verdict, bool colour) {
  const Dict& r = *reply.ifDict();
  std::string out;
  out += "Status:  " + r.stringOr(keys::kReplyStatus) + "\n";
  if (!verdict.reasons.empty()) out += "Why:     " + verdict.because() + "\n";
  out += "Model:   " + r.stringOr(keys::kReplyDeviceName) + "\n";
  out += "Serial:  " + r.stringOr(keys::kReplySerialNumber) + "\n";
  std::string volumes;
  for (const Value& v : *r.getArray(keys::kVolumes))
    volumes += (volumes.empty() ? "" : ", ") + cell(v);
  out += "Volumes: " + (volumes.empty() ? std::string("-") : volumes) + "\n";
  const Array& rows = *r.getArray(keys::kReplyProperties);
  if (rows.empty()) return out;
  out += "\n";
  char line[256];
  if (r.getBool(keys::kIsNVMe).value_or(false)) {
    for (const Value& row : rows) {
      const Dict& d = *row.ifDict();
      std::snprintf(line, sizeof line, "%-18s %s\n", d.stringOr(keys::kAttributeName).c_str(),
                    cell(*d.find(keys::kReplyRawAttributeValue)).c_str());
      out += line;
    }
    return out;
  }
  std::snprintf(line, sizeof line, "%4s  %-40s %5s %5s %9s\n", "ROW", "ATTRIBUTE", "VALUE", "WORST",
                "THRESHOLD");
  out += line;
  for (const Value& row : rows) {
    const Dict& d = *row.ifDict();
    std::int64_t k = d.getInt(keys::kReplyAttributeId).value_or(0);
    bool marked = k > 0 && verdict.marksRow(static_cast<std::size_t>(k - 1));
    std::snprintf(line, sizeof line, "%4lld%c %-40s %5lld %5lld %9lld\n", static_cast<long long>(k),
                  marked ? '*' : ' ', d.stringOr(keys::kAttributeName).c_str(),
                  static_cast<long long>(d.getInt(keys::kReplyNormalValue).value_or(0)),
                  static_cast<long long>(d.getInt(keys::kReplyWorseValue).value_or(0)),
                  static_cast<long long>(d.getInt(keys::kReplyThresholdValue).value_or(0)));
    out += marked && colour ? "\x1b[31m" + std::string(line, std::strlen(line) - 1) + "\x1b[0m\n"
                            : std::string(line);
  }
  return out;
}

}  // namespace

void addHealthCommands(CLI::App& app, Context& ctx) {
  auto* health = app.add_subcommand("health", "The health reply for one disk");
  health
      ->add_option("DISK", ctx.disk,
                   "Name of the whole disk: sda, nvme0n1 (disk0 on a simulated Mac)")
      ->required();
  health->add_flag("--no-pace", ctx.noPace, "Do not wait between the reply rows");
  health->callback([&ctx] {
    ctx.action = [&ctx] {
      // Made first, so the database update it queues keeps the machine's
      // own clock whatever this command does with its own.
      SentrelFramework framework;
      NoWaitClock noWait;
      platform::Platform paced = platform::current();
      paced.clock = &noWait;
      std::optional<platform::ScopedPlatform> installed;
      if (ctx.noPace) installed.emplace(paced);
      SentrelFramework::Check check = framework.check(Dict{{keys::kSelectedBSD, ctx.disk}});
      installed.reset();
      if (!check.found) complainNoDevice(ctx.disk);
      print(ctx, Value(check.reply),
            [&](const Value& v) { return healthText(v, check.verdict, ctx.colour); });
      if (check.reply.stringOr(keys::kReplyStatus) != keys::kNoData) return kExitOk;
      if (check.found) complainUnreadable(ctx.disk, check.failure);
      return kExitMissing;
    };
  });

  auto* decode = app.add_subcommand("decode", "Decode raw values");
  auto* raw = decode->add_subcommand("raw", "One 12-byte attribute slot's raw value");
  raw->add_option("FORMAT", ctx.rawFormat, "A raw-value format such as raw48 or tempminmax")
      ->required();
  raw->add_option("HEX", ctx.rawHex, "The slot as 24 hex digits, slot byte 0 first")->required();
  decode->require_subcommand(1);
  raw->callback([&ctx] {
    ctx.action = [&ctx] {
      auto bytes = fromHex(ctx.rawHex);
      if (!bytes || bytes->size() != 12) {
        complain("HEX must be 24 hex digits (12 bytes), got \"" + ctx.rawHex + "\"");
        return kExitUsage;
      }
      std::string text = KVSMARTDevice::decodeRawAttribute(
          std::span<const std::uint8_t, 12>(bytes->data(), 12), ctx.rawFormat);
      print(ctx, Value(text), [](const Value& v) { return *v.ifString() + "\n"; });
      return kExitOk;
    };
  });
}

}  // namespace sentrel::cli
