// sentrel: the command-line host of the library. It picks the machine (the
// simulated one of --sim, or this one), runs one command and maps its
// outcome to an exit status.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iostream>

#include "cli.h"
#include "sentrel/drive_database.h"
#include "sentrel/linux_platform.h"
#include "sentrel/sim_machine.h"
#include "sentrel/value_io.h"

namespace {

// The host's resources: beside the binary in a build tree, under
// ../share/sentrel when installed; "" leaves the backend's default (the
// installed folder).
std::string resourceDir() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return "";
  auto dir = exe.parent_path();
  for (const auto& candidate : {dir / "resources", dir.parent_path() / "share" / "sentrel"}) {
    if (std::filesystem::is_directory(candidate, ec)) return candidate.string();
  }
  return "";
}

bool writeJournal(const std::string& path, const sentrel::sim::Machine& machine) {
  std::ofstream out(path, std::ios::trunc);
  for (const auto& entry : machine.journal())
    out << sentrel::toJson(sentrel::Value(entry), {.indent = -1}) << "\n";
  return static_cast<bool>(out);
}

}  // namespace

static int runCommandLine(int argc, char** argv) {
  using namespace sentrel;
  CLI::App app{"sentrel: drive health from SMART data"};
  app.require_subcommand(1);
  app.fallthrough();

  cli::Context ctx;
  app.add_option("--sim", ctx.simFolder, "Use the simulated machine in DIR instead of this one")
      ->type_name("DIR");
  app.add_option("--format", ctx.formatName, "Output format")
      ->check(CLI::IsMember({"text", "json", "plist"}))
      ->type_name("text|json|plist");
  app.add_flag("--offline", ctx.offline,
               "Never touch the network: no background update of the drive database");
  app.add_option("--journal", ctx.journalFile,
                 "With --sim: write every platform call as JSON lines to FILE")
      ->type_name("FILE");

  cli::addDeviceCommands(app, ctx);
  cli::addHealthCommands(app, ctx);
  cli::addDatabaseCommands(app, ctx);
  cli::addDatabaseUpdateCommand(app, ctx);
  cli::addAtaCommands(app, ctx);
  cli::addSystemCommands(app, ctx);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int status = app.exit(e);
    return status == 0 ? cli::kExitOk : cli::kExitUsage;
  }
  ctx.format = ctx.formatName == "json"    ? cli::OutputFormat::json
               : ctx.formatName == "plist" ? cli::OutputFormat::plist
                                           : cli::OutputFormat::text;
  ctx.colour = ::isatty(STDOUT_FILENO) && ctx.format == cli::OutputFormat::text;

  if (!ctx.journalFile.empty() && ctx.simFolder.empty()) {
    cli::complain("--journal needs --sim: only a simulated machine keeps a journal");
    return cli::kExitUsage;
  }
  if (!ctx.action) return cli::kExitUsage;

  platform::LinuxOptions options;
  if (std::string dir = resourceDir(); !dir.empty()) options.resourceDir = dir;
  platform::configureLinuxPlatform(std::move(options));
  std::optional<cli::Config> config = cli::loadConfig(*platform::linuxPlatform().files);
  if (!config) return cli::kExitUsage;
  cli::applyConfig(*config, ctx);
  if (ctx.simFolder.empty()) {
    int status = ctx.action();
    // Notifications due to this host are delivered; a background update still
    // waiting on the network is not waited for.
    platform::current().queues->drainMain();
    return status;
  }

  // The simulated machine reads its folder, and keeps the files it stores,
  // on this machine.
  platform::Failure failure;
  auto machine = sim::Machine::load(ctx.simFolder, platform::linuxPlatform(), &failure);
  if (!machine) {
    cli::complain(failure.message());
    return cli::kExitUsage;
  }
  machine->setRealSleeps(true);
  ctx.simulated = true;
  int status;
  {
    platform::ScopedPlatform installed(machine->platform());
    status = ctx.action();
    // The simulated machine answers downloads at once; its update job ends
    // before the machine goes away.
    machine->platform().queues->wait(KVSmartDeviceDatabase::dlq());
    machine->platform().queues->drainMain();
  }
  if (!ctx.journalFile.empty() && !writeJournal(ctx.journalFile, *machine)) {
    cli::complain("cannot write the journal to " + ctx.journalFile);
    return cli::kExitUsage;
  }
  return status;
}

// Nothing in the library throws; a failure of the standard library itself
// (memory, a broken stream) still ends with a message, not an abort.
int main(int argc, char** argv) {
  try {
    return runCommandLine(argc, argv);
  } catch (const std::exception& e) {
    sentrel::cli::complain(std::string("unexpected failure: ") + e.what());
  } catch (...) {
    sentrel::cli::complain("unexpected failure");
  }
  return sentrel::cli::kExitUsage;
}
