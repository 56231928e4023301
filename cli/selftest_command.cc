// selftest: starting a drive's self-test, following it to its end, or
// aborting it, for ATA and NVMe drives.
#include <chrono>
#include <cstdio>

#include "cli.h"
#include "sentrel/keys.h"
#include "sentrel/nvme.h"
#include "sentrel/smart_device.h"

namespace sentrel::cli {

namespace {

// How often a running test is looked at; a simulated drive's run has no
// real length, so it is looked at more often.
std::chrono::milliseconds pollInterval(const Context& ctx) {
  return ctx.simulated ? std::chrono::seconds(1) : std::chrono::seconds(5);
}

std::string hexStatus(platform::Status s) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(s));
  return buf;
}

// One step of a test's progress: a bar redrawn in place on a terminal, one
// line per change otherwise.
class Progress {
 public:
  explicit Progress(const Context& ctx) : ctx_(ctx) {}
  void show(int percentDone) {
    if (ctx_.format != OutputFormat::text || percentDone == last_) return;
    last_ = percentDone;
    int filled = percentDone / 5;
    std::string bar = "[" + std::string(static_cast<std::size_t>(filled), '#') +
                      std::string(static_cast<std::size_t>(20 - filled), '-') + "] " +
                      std::to_string(percentDone) + "% done";
    std::fputs(ctx_.terminal ? ("\r" + bar).c_str() : (bar + "\n").c_str(), stdout);
    std::fflush(stdout);
    drawn_ = ctx_.terminal;
  }
  void finish() {
    if (drawn_) std::fputs("\n", stdout);
    drawn_ = false;
  }

 private:
  const Context& ctx_;
  int last_ = -1;
  bool drawn_ = false;
};

Dict resultOf(const std::string& disk, const std::string& test, platform::Status status) {
  return Dict{{"disk", disk}, {"test", test}, {"status", status}};
}

int runAta(const Context& ctx, KVSMARTDevice& dev) {
  const std::string& disk = ctx.disk();
  const std::string& kind = ctx.selftestKind;
  if (!dev.openInterface()) {
    complainUnreadable(disk, dev.failure());
    return kExitNoDevice;
  }
  if (kind == "abort") {
    // A self-test stops when SMART operations are disabled; they are then
    // enabled again, so SMART stays on.
    dev.abortSelftest();
    platform::Status status = dev.enableSMART(true);
    dev.closeInterface();
    if (status != 0) {
      complain("SMART operations of " + disk +
               " were disabled to abort the self-test, and "
               "enabling them again failed with status " +
               hexStatus(status));
      return kExitCommandFailed;
    }
    return emitValue(ctx, "selftest", Value(resultOf(disk, kind, 0)), [&](const Value&) {
      return "aborted the self-test of " + disk +
             " by disabling SMART operations, then enabled them again\n";
    });
  }
  // Short and extended tests go the device's own way; a conveyance test
  // needs its subcommand.
  constexpr std::uint8_t kConveyance = 3;
  platform::Status status = kind == "conveyance"
                                ? dev.runSelfTest(kConveyance)
                                : dev.startSelftest(kind == "short" ? "Short" : "Extended");
  if (status != 0) {
    dev.closeInterface();
    complain(kind + " self-test on " + disk + " failed with status " + hexStatus(status));
    return kExitCommandFailed;
  }
  if (!ctx.selftestWait) {
    dev.closeInterface();
    return emitValue(ctx, "selftest", Value(resultOf(disk, kind, 0)),
                     [&](const Value&) { return kind + " self-test started on " + disk + "\n"; });
  }
  // Follow the execution status until the test is no longer in progress.
  Progress progress(ctx);
  platform::Clock& clock = *platform::current().clock;
  for (;;) {
    auto byte = dev.selfTestExecutionStatus();
    if (!byte) {
      progress.finish();
      dev.closeInterface();
      complain("the SMART data of " + disk + " could not be read while the test ran");
      return kExitCommandFailed;
    }
    if ((*byte >> 4) != 0xF) break;
    progress.show(100 - 10 * (*byte & 0x0F));
    clock.sleep(pollInterval(ctx));
  }
  progress.show(100);
  progress.finish();
  dev.selftestLog();
  dev.closeInterface();
  const auto& log = dev.selfTestEntries();
  if (log.empty()) {
    complain("the self-test of " + disk + " ended, but its log cannot be read");
    return kExitCommandFailed;
  }
  const SelfTestEntry& newest = log.front();
  Dict result = resultOf(disk, kind, 0);
  result.set("type", newest.type);
  result.set("result", newest.status);
  result.set("failed", newest.failed);
  return (newest.failed ? kExitSelfTestLog : kExitOk) |
         emitValue(ctx, "selftest", Value(std::move(result)), [&](const Value&) {
           std::string line = newest.type + ": " + newest.status;
           if (newest.firstErrorLba)
             line += " (first error at LBA " + std::to_string(*newest.firstErrorLba) + ")";
           return terminalSafe(line) + "\n";
         });
}

int runNvme(const Context& ctx, KVSMARTDevice& dev) {
  const std::string& disk = ctx.disk();
  const std::string& kind = ctx.selftestKind;
  if (kind == "conveyance") {
    complain(disk + " is an NVMe drive: it has short and extended self-tests only");
    return kExitUsage;
  }
  const Value* service = dev.driveProperties()->find(keys::kRegistryService);
  auto handle = static_cast<std::uint32_t>(service ? service->toUInt().value_or(0) : 0);
  kvNVMe reader;
  const std::uint8_t code = kind == "short" ? 1 : kind == "extended" ? 2 : 0xF;
  platform::Status status = reader.startSelfTest(handle, code);
  if (status != 0) {
    if (status == platform::kUnsupported)
      complain(disk + " does not offer device self-tests (its controller refused the command)");
    else
      complainUnreadable(disk, reader.lastFailure());
    return kExitCommandFailed;
  }
  if (kind == "abort" || !ctx.selftestWait) {
    return emitValue(ctx, "selftest", Value(resultOf(disk, kind, 0)), [&](const Value&) {
      return kind == "abort" ? "aborted the device self-test of " + disk + "\n"
                             : kind + " device self-test started on " + disk + "\n";
    });
  }
  Progress progress(ctx);
  platform::Clock& clock = *platform::current().clock;
  std::optional<NvmeSelfTestLog> log;
  for (;;) {
    log = reader.readSelfTestLog(handle);
    if (!log) {
      progress.finish();
      complainUnreadable(disk, reader.lastFailure());
      return kExitCommandFailed;
    }
    if (log->currentOperation == 0) break;
    progress.show(log->currentCompletion);
    clock.sleep(pollInterval(ctx));
  }
  progress.show(100);
  progress.finish();
  if (log->results.empty()) {
    complain("the self-test of " + disk + " ended, but its log holds no result");
    return kExitCommandFailed;
  }
  const NvmeSelfTestLog::Result& newest = log->results.front();
  Dict result = resultOf(disk, kind, 0);
  result.set("type", std::string(newest.typeName()));
  result.set("result", std::string(newest.resultName()));
  result.set("failed", newest.failed());
  return (newest.failed() ? kExitSelfTestLog : kExitOk) |
         emitValue(ctx, "selftest", Value(std::move(result)), [&](const Value&) {
           return std::string(newest.typeName()) + ": " + std::string(newest.resultName()) + "\n";
         });
}

}  // namespace

void addSelftestCommand(CLI::App& app, Context& ctx) {
  auto* selftest = app.add_subcommand("selftest", "Start, follow or abort a drive self-test");
  selftest
      ->add_option("DISK", ctx.oneDisk,
                   "Name of the whole disk: sda, nvme0n1 (disk0 on a simulated Mac)")
      ->required();
  selftest->add_option("TEST", ctx.selftestKind, "short, extended, conveyance or abort")
      ->required()
      ->check(CLI::IsMember({"short", "extended", "conveyance", "abort"}));
  selftest->add_flag("--wait", ctx.selftestWait,
                     "Show the test's progress until it ends, then its result from the log");
  selftest->footer(
      "Examples:\n  sentrel selftest sda short --wait\n  sentrel selftest nvme0n1 extended\n"
      "  sentrel selftest sda abort   (disables SMART operations, then enables them again)");
  selftest->callback([&ctx] {
    ctx.disks = {ctx.oneDisk};
    ctx.action = [&ctx] {
      auto dev = deviceOrComplain(ctx.disk());
      if (!dev) return kExitNoDevice;
      return dev->driveProperties()->getBool(keys::kIsNVMe).value_or(false) ? runNvme(ctx, *dev)
                                                                            : runAta(ctx, *dev);
    };
  });
}

}  // namespace sentrel::cli
