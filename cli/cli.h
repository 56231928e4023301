// Shared pieces of the `sentrel` command line: the output format, printing
// of values, and the way each command file adds its commands.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <string>

#include "sentrel/value.h"

namespace sentrel::cli {

enum class OutputFormat { text, json, plist };

// Exit statuses: 0 success, 1 the disk or its data is not there, 2 usage or
// input errors.
inline constexpr int kExitOk = 0;
inline constexpr int kExitMissing = 1;
inline constexpr int kExitUsage = 2;

struct Context {
  OutputFormat format = OutputFormat::text;
  bool colour = false;     // stdout is a terminal
  bool simulated = false;  // the machine is a simulated one
  // Set by the chosen command while the command line is parsed; run once
  // the global options have installed the platform. Returns the exit status.
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

// Each command file adds its commands with one of these.
void addDeviceCommands(CLI::App& app, Context& ctx);  // list, device, selftest
void addDatabaseCommands(CLI::App& app, Context& ctx);  // db parse|lookup|presets
void addDatabaseUpdateCommand(CLI::App& app, Context& ctx);  // db update (after the above)
void addSystemCommands(CLI::App& app, Context& ctx);    // sys ...
void addAtaCommands(CLI::App& app, Context& ctx);       // ata command|feature|error|status|state
void addHealthCommands(CLI::App& app, Context& ctx);    // health, decode

}  // namespace sentrel::cli
