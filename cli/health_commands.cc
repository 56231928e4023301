// health: the health check of one disk, several, or all of them, with the
// reasons for each verdict and the values behind it; decode: one raw value.
#include <algorithm>

#include "cli.h"
#include "report_text.h"
#include "sentrel/keys.h"
#include "sentrel/platform.h"
#include "sentrel/sentrel_framework.h"
#include "sentrel/value_io.h"

namespace sentrel::cli {

namespace {

// Sleeps that return at once while still being asked for, so the library
// computes its pacing but the command does not wait.
class NoWaitClock final : public platform::Clock {
 public:
  void sleep(std::chrono::milliseconds) override {}
};

int runHealth(const Context& ctx) {
  auto disks = disksToRead(ctx);
  if (!disks) {
    complain("the disk list cannot be read (no disk-arbitration session)");
    return kExitNoDevice;
  }
  if (disks->empty()) {
    complain("no drive with SMART access was found");
    return kExitNoDevice;
  }
  // Made first, so the database update it queues keeps the machine's own
  // clock whatever this command does with its own.
  SentrelFramework framework;
  // The reply is paced only for one disk shown on a terminal; otherwise its
  // waits are asked for and return at once.
  const bool paced =
      disks->size() == 1 && ctx.terminal && ctx.format == OutputFormat::text && !ctx.noPace;
  NoWaitClock noWait;
  platform::Platform unpaced = platform::current();
  unpaced.clock = &noWait;
  std::optional<platform::ScopedPlatform> installed;
  if (!paced) installed.emplace(unpaced);

  std::vector<DriveReport> reports;
  std::vector<Dict> replies;
  const ReadOptions options = readOptions(ctx);
  if (disks->size() == 1 && options.nowake == NoWake::never && options.deadline.count() == 0) {
    SentrelFramework::Check check = framework.check(Dict{{keys::kSelectedBSD, disks->front()}});
    reports.push_back(std::move(check.report));
    replies.push_back(std::move(check.reply));
  } else {
    reports = readDriveReports(*disks, options);
    for (const DriveReport& r : reports) {
      const Dict* props = r.read ? r.properties.get() : nullptr;
      replies.push_back(replyForDeviceProperties(props));
    }
  }
  installed.reset();

  int bits = 0;
  Array typed;
  Dict raw;
  std::string text;
  for (std::size_t i = 0; i < reports.size(); ++i) {
    const DriveReport& r = reports[i];
    if (!r.found) {
      complainNoDevice(r.disk);
    } else if (r.timedOut) {
      complain(r.disk + " did not answer in time: " + (r.failure ? r.failure->reason : ""));
    } else if (!r.read && !r.skipped) {
      complainUnreadable(r.disk, r.failure);
    }
    bits |= exitBits(r);
    typed.push_back(reportValue(r));
    raw.set(r.disk, replies[i]);
    if (r.found && (r.read || r.skipped)) text += (text.empty() ? "" : "\n") + healthText(ctx, r);
  }
  Dict payload{{"devices", std::move(typed)}, {"exit_status", bits}};
  Value rawValue = replies.size() == 1 ? Value(replies.front()) : Value(std::move(raw));
  return finishAfter(
      ctx, reports,
      bits | emit(ctx, {"health", Value(std::move(payload)), rawValue, [&] { return text; }}));
}

}  // namespace

void addHealthCommands(CLI::App& app, Context& ctx) {
  auto* health = app.add_subcommand(
      "health", "The health check of disks: the verdict with its reasons and the values behind it");
  health->add_option("DISK", ctx.disks, kDiskHelp);
  health->add_flag("--all", ctx.allDisks, "Check every drive with SMART access");
  health->add_flag("--no-pace", ctx.noPace,
                   "Do not pace the reply of one disk on a terminal (several disks never are)");
  health->add_option("--workers", ctx.workers, "How many drives are read at once")
      ->check(CLI::Range(1, 64))
      ->default_val(4);
  health
      ->add_option("--nowake", ctx.nowakeName,
                   "Leave ATA drives alone in this power mode or deeper, instead of waking "
                   "them: never (read every drive), sleep, standby")
      ->check(CLI::IsMember({"never", "sleep", "standby"}))
      ->default_val("never");
  health
      ->add_option("--timeout", ctx.timeoutSeconds,
                   "Report a drive that has not answered after this many seconds as timed out "
                   "(0: wait as long as it takes)")
      ->check(CLI::Range(0.0, 86400.0));
  health->footer(
      "Examples:\n  sentrel health sda\n  sentrel health --all --format json\n"
      "  sentrel --sim examples/demo-mac health disk0");
  health->callback([&ctx] {
    if (ctx.allDisks == !ctx.disks.empty())
      throw CLI::ValidationError("DISK", "name one or more disks, or give --all");
    ctx.action = [&ctx] { return runHealth(ctx); };
  });

  auto* decode = app.add_subcommand("decode", "Decode raw values");
  auto* raw = decode->add_subcommand("raw", "One 12-byte attribute slot's raw value");
  raw->add_option("FORMAT", ctx.rawFormat, "A raw-value format such as raw48 or tempminmax")
      ->required();
  raw->add_option("HEX", ctx.rawHex, "The slot as 24 hex digits, slot byte 0 first")->required();
  raw->footer("Example:\n  sentrel decode raw raw48 050f00646400080000000000");
  decode->require_subcommand(1);
  raw->callback([&ctx] {
    ctx.action = [&ctx] {
      auto bytes = fromHex(ctx.rawHex);
      if (!bytes || bytes->size() != 12) {
        complain("HEX must be 24 hex digits (12 bytes), got \"" + ctx.rawHex + "\"");
        return kExitUsage;
      }
      auto formats = KVSMARTDevice::rawFormatNames();
      if (std::find(formats.begin(), formats.end(), ctx.rawFormat) == formats.end()) {
        std::string list;
        for (std::string_view f : formats) list += (list.empty() ? "" : ", ") + std::string(f);
        complain("no raw-value format is named \"" + ctx.rawFormat + "\"; the formats are " + list);
        return kExitUsage;
      }
      std::string text = KVSMARTDevice::decodeRawAttribute(
          std::span<const std::uint8_t, 12>(bytes->data(), 12), ctx.rawFormat);
      return emit(ctx, {"raw", Value(Dict{{"format", ctx.rawFormat}, {"string", text}}),
                        Value(text), [&] { return terminalSafe(text) + "\n"; }});
    };
  });
}

}  // namespace sentrel::cli
