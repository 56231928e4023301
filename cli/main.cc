// sentrel: the command-line host of the library. It picks the machine (the
// simulated one of --sim, or this one), runs one command and maps its
// outcome to an exit status.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
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

// The journal is made in its folder without following a link planted at
// its name, and every write of it is checked (a full disk, /dev/full).
bool writeJournal(const std::string& path, const sentrel::sim::Machine& machine,
                  sentrel::platform::Failure& failure) {
  std::string text;
  for (const auto& entry : machine.journal())
    text += sentrel::toJson(sentrel::Value(entry), {.indent = -1}) + "\n";
  const std::filesystem::path file(path);
  const std::string folder = file.has_parent_path() ? file.parent_path().string() : ".";
  return sentrel::platform::linuxPlatform().files->writeFileIn(folder, file.filename().string(),
                                                               text, false, &failure);
}

}  // namespace

// The words of the command that was chosen ("db lookup").
std::string commandPath(const CLI::App& app) {
  std::string path;
  for (const CLI::App* at = &app;;) {
    auto chosen = at->get_subcommands();
    if (chosen.empty()) return path;
    at = chosen.front();
    path += (path.empty() ? "" : " ") + at->get_name();
  }
}

// Ends the process at once, output flushed, when a drive's reading still
// runs in the background: what it uses is not torn down under it.
int leaveAtOnceIfReading(const sentrel::cli::Context& ctx, int status) {
  if (!ctx.readingsLeftRunning) return status;
  std::fflush(stdout);
  std::cout.flush();
  std::cerr.flush();
  std::_Exit(status);
}

// Colour in text on a terminal, unless NO_COLOR is set or --color says.
bool colourWanted(const sentrel::cli::Context& ctx) {
  if (ctx.format != sentrel::cli::OutputFormat::text || ctx.colorName == "never") return false;
  if (ctx.colorName == "always") return true;
  const char* noColor = std::getenv("NO_COLOR");
  return ctx.terminal && !(noColor && *noColor);
}

static int runCommandLine(int argc, char** argv) {
  using namespace sentrel;
  CLI::App app{"sentrel: drive health from SMART data"};
  app.require_subcommand(1);
  app.fallthrough();
  app.set_version_flag("--version", std::string("sentrel ") + SENTREL_VERSION_TEXT);
  app.footer(
      "Exit status: a bit mask, the bits of several disks OR-ed: 1 command line or input "
      "error, 2 a disk could not be found or opened, 4 a drive command failed or its data was "
      "unusable, 8 verdict Failed, 16 verdict Warning (or a prefail attribute at or below its "
      "threshold now), 32 an attribute was at or below its threshold in the past, 64 the error "
      "log holds errors, 128 the self-test log holds a failure.\n\n"
      "Examples:\n  sentrel list\n  sentrel health --all\n"
      "  sentrel --sim examples/demo-mac health disk0");

  cli::Context ctx;
  app.add_option("--sim", ctx.simFolder, "Use the simulated machine in DIR instead of this one")
      ->type_name("DIR");
  app.add_option("--format", ctx.formatName,
                 "Output format: text, json (typed, versioned), raw-json or plist (the "
                 "library's own dictionaries)")
      ->check(CLI::IsMember({"text", "json", "raw-json", "plist"}))
      ->type_name("text|json|raw-json|plist");
  app.add_option("--color", ctx.colorName,
                 "Colour in text output: auto (on a terminal, unless NO_COLOR is set), always "
                 "or never")
      ->check(CLI::IsMember({"auto", "always", "never"}))
      ->type_name("auto|always|never");
  app.add_flag("--offline", ctx.offline,
               "Never touch the network: no background update of the drive database");
  app.add_option("--journal", ctx.journalFile,
                 "With --sim: write every platform call as JSON lines to FILE")
      ->type_name("FILE");

  cli::addDeviceCommands(app, ctx);
  cli::addHealthCommands(app, ctx);
  cli::addMetricsCommands(app, ctx);
  cli::addSelftestCommand(app, ctx);
  cli::addDatabaseCommands(app, ctx);
  cli::addDatabaseUpdateCommand(app, ctx);
  cli::addAtaCommands(app, ctx);
  cli::addSystemCommands(app, ctx);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    cli::complain(std::string(e.what()) + " (see sentrel --help)");
    return cli::kExitUsage;
  }
  ctx.format = ctx.formatName == "json"       ? cli::OutputFormat::json
               : ctx.formatName == "raw-json" ? cli::OutputFormat::rawJson
               : ctx.formatName == "plist"    ? cli::OutputFormat::plist
                                              : cli::OutputFormat::text;
  ctx.terminal = ::isatty(STDOUT_FILENO);
  ctx.colour = colourWanted(ctx);
  ctx.command = commandPath(app);
  if (ctx.command != "serve") cli::setUpOneShotHeap();

  if (ctx.simFolder && ctx.simFolder->empty()) {
    cli::complain("--sim needs a machine folder; an empty one would mean this machine's disks");
    return cli::kExitUsage;
  }
  if (!ctx.journalFile.empty() && !ctx.simFolder) {
    cli::complain("--journal needs --sim: only a simulated machine keeps a journal");
    return cli::kExitUsage;
  }
  if (!ctx.action) return cli::kExitUsage;

  // The configuration comes first: it may say where the data lives. Reading
  // it takes only the backend's files, which no option the command line
  // sets changes.
  std::optional<cli::Config> config = cli::loadConfig(*platform::linuxPlatform().files);
  if (!config) return cli::kExitUsage;
  platform::LinuxOptions options;
  if (std::string dir = resourceDir(); !dir.empty()) options.resourceDir = dir;
  options.dataHome = config->dataHome;
  platform::configureLinuxPlatform(std::move(options));
  cli::applyConfig(*config, ctx);
  if (!ctx.simFolder) {
    int status = ctx.action();
    // Notifications due to this host are delivered; a background update still
    // waiting on the network is not waited for.
    platform::current().queues->drainMain();
    return leaveAtOnceIfReading(ctx, status);
  }

  // The simulated machine reads its folder, and keeps the files it stores,
  // on this machine.
  platform::Failure failure;
  auto machine = sim::Machine::load(*ctx.simFolder, platform::linuxPlatform(), &failure);
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
    if (!ctx.journalFile.empty() && !writeJournal(ctx.journalFile, *machine, failure)) {
      cli::complain("cannot write the journal: " + failure.message());
      status |= cli::kExitUsage;
    }
    // A drive that timed out is still read: the machine must not go away.
    status = leaveAtOnceIfReading(ctx, status);
  }
  return status;
}

// Nothing in the library throws; a failure of the standard library itself
// (memory, a broken stream) still ends with a message, not an abort.
int main(int argc, char** argv) {
  int status = sentrel::cli::kExitUsage;
  try {
    status = runCommandLine(argc, argv);
  } catch (const std::exception& e) {
    sentrel::cli::complain(std::string("unexpected failure: ") + e.what());
  } catch (...) {
    sentrel::cli::complain("unexpected failure");
  }
  // The command is done and its output (and journal) written. The
  // process-wide caches (drive records, the installed database, ICU's data)
  // go with the process: ending here spares tearing them down one by one.
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  std::_Exit(status);
}
