// ata command|feature|error|status|state: the words for raw ATA register
// values, as the error log shows them. They need no drive.
#include <charconv>
#include <cstdio>
#include <optional>
#include <string>

#include "cli.h"
#include "sentrel/smart_device.h"

namespace sentrel::cli {

namespace {

// A register value as typed: decimal, or hex after 0x; 32 bits at most.
std::optional<std::uint32_t> parseRegister(const std::string& text) {
  std::string_view digits = text;
  int base = 10;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    digits.remove_prefix(2);
    base = 16;
  }
  if (digits.empty()) return std::nullopt;
  std::uint32_t value = 0;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
  if (ec != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  return value;
}

std::string hex(std::uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%02X", v);
  return text;
}

// "0x40: UNCORRECTABLE ERROR": the error names already start with a blank.
std::string line(const std::string& label, const std::string& name) {
  if (name.empty()) return label + ": (no name)\n";
  return label + ":" + (name.front() == ' ' ? "" : " ") + name + "\n";
}

// Parses the arguments, then prints what `describe` makes of them; a value
// that is not a number is a usage error.
int run(const Context& ctx, bool withFeature,
        const std::function<Dict(std::uint32_t, std::optional<std::uint32_t>)>& describe,
        const std::function<std::string(const Dict&)>& text) {
  std::optional<std::uint32_t> feature;
  for (const std::string* typed : {&ctx.registerValue, withFeature ? &ctx.featureValue : nullptr}) {
    if (!typed) continue;
    if (!parseRegister(*typed)) {
      complain("not a register value: '" + *typed +
               "' (give a number of up to 32 bits in decimal or in hex after 0x, such as 176 "
               "or 0xB0)");
      return kExitUsage;
    }
  }
  if (withFeature) feature = parseRegister(ctx.featureValue);
  Dict result = describe(*parseRegister(ctx.registerValue), feature);
  return emitValue(ctx, "result", Value(result), [&](const Value& v) { return text(*v.ifDict()); });
}

unsigned field(const Dict& d, std::string_view key) {
  return static_cast<unsigned>(d.find(key)->toUInt().value_or(0));
}

// One subcommand that names a single register value.
void addSingle(CLI::App& ata, Context& ctx, const char* name, const char* help,
               std::string (*word)(std::uint32_t)) {
  auto* sub = ata.add_subcommand(name, help);
  sub->footer(std::string("Example:\n  sentrel ata ") + name + " 0x51");
  sub->add_option("VALUE", ctx.registerValue, "The register value, decimal or hex after 0x")
      ->required();
  sub->callback([&ctx, name, word] {
    ctx.action = [&ctx, name, word] {
      return run(
          ctx, false,
          [&](std::uint32_t v, std::optional<std::uint32_t>) {
            return Dict{{name, v}, {"name", word(v)}};
          },
          [&](const Dict& d) { return line(hex(field(d, name)), d.stringOr("name")); });
    };
  });
}

}  // namespace

void addAtaCommands(CLI::App& app, Context& ctx) {
  auto* ata = app.add_subcommand("ata", "Name raw ATA register values (as the error log does)");
  ata->footer("Examples:\n  sentrel ata command 0xB0 0xD0\n  sentrel ata error 0x40");
  ata->require_subcommand(1);

  auto* command = ata->add_subcommand("command", "Name a command code, and its feature value");
  command->footer("Examples:\n  sentrel ata command 0x25\n  sentrel ata command 0xB0 0xD5");
  command->add_option("VALUE", ctx.registerValue, "The command code, decimal or hex after 0x")
      ->required();
  command->add_option("FEATURE", ctx.featureValue, "A feature value for the command");
  command->callback([&ctx] {
    ctx.action = [&ctx] {
      bool withFeature = !ctx.featureValue.empty();
      return run(
          ctx, withFeature,
          [](std::uint32_t c, std::optional<std::uint32_t> f) {
            Dict d{{"command", c}, {"name", KVSMARTDevice::commandName(c)}};
            if (f) {
              d.set("feature", *f);
              d.set("subcommand", KVSMARTDevice::command(c, *f));
            }
            return d;
          },
          [](const Dict& d) {
            std::string out = line(hex(field(d, "command")), d.stringOr("name"));
            if (d.contains("feature")) {
              out += line("feature " + hex(field(d, "feature")), d.stringOr("subcommand"));
            }
            return out;
          });
    };
  });

  auto* feature =
      ata->add_subcommand("feature", "Name the subcommand a feature value selects for a command");
  feature->footer("Example:\n  sentrel ata feature 0xB0 0xD8");
  feature->add_option("COMMAND", ctx.registerValue, "The command code, decimal or hex after 0x")
      ->required();
  feature->add_option("FEATURE", ctx.featureValue, "The feature value")->required();
  feature->callback([&ctx] {
    ctx.action = [&ctx] {
      return run(
          ctx, true,
          [](std::uint32_t c, std::optional<std::uint32_t> f) {
            return Dict{{"command", c}, {"feature", *f}, {"name", KVSMARTDevice::command(c, *f)}};
          },
          [](const Dict& d) {
            return line(hex(field(d, "command")) + " " + hex(field(d, "feature")),
                        d.stringOr("name"));
          });
    };
  });

  addSingle(*ata, ctx, "error", "Name the bits set in an error register value",
            &KVSMARTDevice::error);
  addSingle(*ata, ctx, "status", "Write a status register value in hex", &KVSMARTDevice::status);
  addSingle(*ata, ctx, "state", "Name a device state value", &KVSMARTDevice::state);
}

}  // namespace sentrel::cli
