// Shared pieces of the `sentrel` command line: the context every command
// reads its options from, printing of values, the messages for a disk that
// cannot be used, and the way each command file adds its commands. The
// command line uses the library's public headers only.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sentrel/platform.h"
#include "sentrel/smart_device.h"
#include "sentrel/value.h"

namespace sentrel::cli {

enum class OutputFormat { text, json, plist };

// Exit statuses: 0 success, 1 the disk or its data is not there, 2 usage or
// input errors.
inline constexpr int kExitOk = 0;
inline constexpr int kExitMissing = 1;
inline constexpr int kExitUsage = 2;

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
  std::string simFolder;
  std::string journalFile;
  std::string formatName = "text";
  bool offline = false;
  OutputFormat format = OutputFormat::text;
  bool colour = false;     // stdout is a terminal
  bool simulated = false;  // the machine is a simulated one

  // The disk of health, device, selftest and capture.
  std::string disk;
  bool noPace = false;                       // health
  std::string captureFolder;                 // capture
  std::string selftestKind;                  // selftest
  std::string rawFormat;                     // decode raw
  std::string rawHex;                        // decode raw
  std::string databaseFile;                  // db parse FILE, db lookup --db FILE
  std::string model;                         // db lookup
  std::string firmware;                      // db lookup
  std::vector<std::string> downloadSources;  // db update --db-source
  std::string registerValue;                 // ata ...
  std::string featureValue;                  // ata command|feature
  SysArguments sys;

  // Set by the chosen command while the command line is parsed; returns the
  // exit status.
  std::function<int()> action;
};

// Prints a value as JSON or as a property list; in text form through
// `text`, which renders the value readably for that command.
void print(const Context& ctx, const Value& value,
           const std::function<std::string(const Value&)>& text);

// A generic readable rendering: "key: value" lines, nested blocks indented.
std::string textOf(const Value& value);

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
};
// Reads the files that exist, the machine's (/etc/sentrel/sentrel.conf) and
// then the user's, whose settings win; nothing after saying which file or
// line is wrong.
std::optional<Config> loadConfig(platform::Files& files);
// Sets what the configuration decides: whether the library may download,
// and from where.
void applyConfig(const Config& config, const Context& ctx);

// Each command file adds its commands with one of these.
void addDeviceCommands(CLI::App& app, Context& ctx);         // list, device, selftest, capture
void addDatabaseCommands(CLI::App& app, Context& ctx);       // db parse|lookup|presets
void addDatabaseUpdateCommand(CLI::App& app, Context& ctx);  // db update (after the above)
void addSystemCommands(CLI::App& app, Context& ctx);         // sys ...
void addAtaCommands(CLI::App& app, Context& ctx);     // ata command|feature|error|status|state
void addHealthCommands(CLI::App& app, Context& ctx);  // health, decode

}  // namespace sentrel::cli
