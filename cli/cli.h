// Shared pieces of the `sentrel` command line: the context every command
// reads its options from, printing in each output format, the exit status
// bits, the messages for a disk that cannot be used, and the way each
// command file adds its commands. The command line uses the library's
// public headers only.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sentrel/platform.h"
#include "sentrel/report.h"
#include "sentrel/smart_device.h"
#include "sentrel/value.h"

namespace sentrel::cli {

enum class OutputFormat { text, json, rawJson, plist };

// The exit status is a bit mask; bits of several disks are OR-ed.
inline constexpr int kExitOk = 0;
// A command line or input error.
inline constexpr int kExitUsage = 1 << 0;
// A disk could not be found or opened.
inline constexpr int kExitNoDevice = 1 << 1;
// A drive command failed or its data was unusable.
inline constexpr int kExitCommandFailed = 1 << 2;
// Verdict "Failed".
inline constexpr int kExitFailing = 1 << 3;
// Verdict "Warning", or a pre-fail attribute at or below its threshold now.
inline constexpr int kExitWarning = 1 << 4;
// An attribute was at or below its threshold in the past.
inline constexpr int kExitPastThreshold = 1 << 5;
// The error log holds errors.
inline constexpr int kExitErrorLog = 1 << 6;
// The self-test log holds a failure.
inline constexpr int kExitSelfTestLog = 1 << 7;

// The bits one drive's report sets.
int exitBits(const DriveReport& report);

// What the sys subcommands were given.
struct SysArguments {
  std::optional<std::string> version;
  std::vector<std::string> toolArguments;
  std::string name;
  std::string role;
  std::string kind;
  std::string path;
  std::optional<std::string> count;
  bool readable = false;
};

// Everything the command line was given: the global options, then each
// command's arguments. The parser fills it; the chosen command's action
// reads it once the global options have installed the platform.
struct Context {
  // Global options.
  std::optional<std::string> simFolder;
  std::string journalFile;
  std::string formatName = "text";
  std::string colorName = "auto";
  bool offline = false;
  OutputFormat format = OutputFormat::text;
  bool colour = false;     // red marks in text output
  bool terminal = false;   // stdout is a terminal
  bool simulated = false;  // the machine is a simulated one

  // The command that runs, for the JSON envelope ("health", "db lookup").
  std::string command;

  // The disks of health (several, or --all), device, selftest and capture.
  std::vector<std::string> disks;
  std::string oneDisk;               // the DISK of a single-disk command, moved into `disks`
  bool allDisks = false;             // health --all
  bool noPace = false;               // health
  unsigned workers = 4;              // health: drives read at once
  std::string nowakeName = "never";  // health: --nowake never|sleep|standby
  double timeoutSeconds = 0;         // health: a drive's deadline (0: none)
  // metrics and serve, which leave sleeping drives alone and give up on a
  // drive sooner by default.
  std::string metricsNowakeName = "standby";
  double metricsTimeoutSeconds = 30;
  std::string metricsOutput;                     // metrics --output FILE.prom
  bool openMetrics = false;                      // metrics --openmetrics
  std::string listenAddress = "127.0.0.1:9633";  // serve --listen
  double intervalSeconds = 60;                   // serve --interval
  std::string captureFolder;                     // capture
  std::string selftestKind;                      // selftest
  bool selftestWait = false;                     // selftest --wait
  std::string rawFormat;                         // decode raw
  std::string rawHex;                            // decode raw
  std::string databaseFile;                      // db parse FILE, db lookup --db FILE
  std::string model;                             // db lookup
  std::string firmware;                          // db lookup
  std::vector<std::string> downloadSources;      // db update --db-source
  std::size_t maxDownloadSize = 0;               // db update --max-size (0: the default)
  std::string databaseKeyring;                   // db update --db-keyring
  std::string registerValue;                     // ata ...
  std::string featureValue;                      // ata command|feature
  SysArguments sys;

  // Set by the chosen command while the command line is parsed; returns the
  // exit status.
  std::function<int()> action;
  // A reading still runs in the background: leave without tearing down.
  mutable bool readingsLeftRunning = false;

  // The one disk of a single-disk command.
  const std::string& disk() const { return disks.front(); }
};

inline constexpr const char* kDiskHelp =
    "Names of whole disks: sda, nvme0n1 (disk0 on a simulated Mac)";

// The reading options of --workers, --nowake and --timeout.
ReadOptions readOptions(const Context& ctx);
// The choice that --nowake NAME stands for.
NoWake nowakeOfName(const std::string& name);
// The disks to read: those named, or every drive with SMART access
// (--all); nothing when the disk list cannot be read.
std::optional<std::vector<std::string>> disksToRead(const Context& ctx);

// Notes in the context that a drive's reading still runs in the background
// (it timed out), so the process ends at once after its output, with
// nothing torn down under that reading; answers `status`.
int finishAfter(const Context& ctx, const std::vector<DriveReport>& reports, int status);

// What a command prints. For --format json, `typed` goes into the
// versioned envelope under `key`; --format raw-json and plist print the
// library's own `raw` value; text prints what `text` renders.
struct Output {
  std::string key;
  Value typed;
  Value raw;
  std::function<std::string()> text;
};

// Prints the output in the chosen format. Answers kExitOk, or kExitUsage
// after saying so when standard output cannot be written (a full disk).
int emit(const Context& ctx, const Output& output);
// Prints text as it is: kExitOk, or kExitUsage after saying why it could
// not be written.
int writeOut(const std::string& text);

// The same value in every format, rendered readably as text by `text`
// (or as "key: value" lines without one).
int emitValue(const Context& ctx, const std::string& key, const Value& value,
              const std::function<std::string(const Value&)>& text = nullptr);

// A generic readable rendering: "key: value" lines, nested blocks indented.
std::string textOf(const Value& value);

// A string from a drive, a file or the registry, fit for a terminal:
// control characters and bytes that are not UTF-8 are shown escaped.
std::string terminalSafe(std::string_view s);

// A line in red when colour is on.
std::string red(const Context& ctx, const std::string& line);

// Writes a message for the user to stderr, prefixed "sentrel: ".
void complain(const std::string& message);

// The device for a disk name, or nothing after saying why there is none: no
// such disk (and the names there are), a partition (and its whole disk), a
// disk without SMART access (and why).
std::unique_ptr<KVSMARTDevice> deviceOrComplain(const std::string& disk);
// Says why no drive record has this name (what deviceOrComplain says).
void complainNoDevice(const std::string& disk);

// Says why a drive could not be read, from the failure its device or
// refresh recorded: no permission (and what it takes), a drive that stopped
// answering, or the cause the system gave.
void complainUnreadable(const std::string& disk, const std::optional<platform::Failure>& failure);

// What the configuration files say (config.cc; the man page's FILES).
struct Config {
  bool autoUpdate = false;                   // auto-update
  std::vector<std::string> downloadSources;  // db-source, in order
  std::string dataHome;                      // data-home ("": the platform's rule)
};
// Reads the files that exist, the machine's (/etc/sentrel/sentrel.conf) and
// then the user's, whose settings win; nothing after saying which file or
// line is wrong.
std::optional<Config> loadConfig(platform::Files& files);
// Sets what the configuration decides: whether the library may download,
// and from where.
void applyConfig(const Config& config, const Context& ctx);

// Tunes the allocator for a command that ends within moments: large texts
// from the heap, nothing handed back, the first memory mapped at once.
// Not for `serve`, which runs for months.
void setUpOneShotHeap();

// Each command file adds its commands with one of these.
void addDeviceCommands(CLI::App& app, Context& ctx);         // list, device, capture
void addSelftestCommand(CLI::App& app, Context& ctx);        // selftest
void addDatabaseCommands(CLI::App& app, Context& ctx);       // db parse|lookup|presets
void addDatabaseUpdateCommand(CLI::App& app, Context& ctx);  // db update (after the above)
void addSystemCommands(CLI::App& app, Context& ctx);         // sys ...
void addAtaCommands(CLI::App& app, Context& ctx);      // ata command|feature|error|status|state
void addHealthCommands(CLI::App& app, Context& ctx);   // health, decode
void addMetricsCommands(CLI::App& app, Context& ctx);  // metrics, serve

}  // namespace sentrel::cli
