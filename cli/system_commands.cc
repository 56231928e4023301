// sys: the system and volume utilities, one subcommand per question. Each
// prints the function's answer: in text a number in digits, a boolean as
// true or false, text as it is, a dictionary as "key: value" lines and
// nothing as an empty line; with --format json or plist the value itself.
#include <charconv>
#include <cmath>
#include <cstdint>

#include "cli.h"
#include "sentrel/sysutil.h"

namespace sentrel::cli {

namespace {

// A byte count as a value: a whole count as an integer, so JSON shows its
// digits too ("4096000000", not "4.096e+09"); anything else stays a real.
Value countValue(double d) {
  if (std::isfinite(d) && std::trunc(d) == d && std::fabs(d) < 9.2e18)
    return Value(static_cast<std::int64_t>(d));
  return Value(d);
}

// A double in digits when it is a whole number, else in its shortest form
// ("1.5", "2e+27", "nan").
std::string numberText(double d) {
  Value v = countValue(d);
  return v.ifInt() ? std::to_string(*v.ifInt()) : formatReal(d);
}

std::string resultText(const Value& v) {
  switch (v.kind()) {
    case Value::Kind::null:
      return "\n";
    case Value::Kind::boolean:
      return *v.ifBool() ? "true\n" : "false\n";
    case Value::Kind::integer:
      return std::to_string(*v.ifInt()) + "\n";
    case Value::Kind::real:
      return numberText(*v.ifReal()) + "\n";
    case Value::Kind::string:
      return *v.ifString() + "\n";
    case Value::Kind::dict:
    case Value::Kind::array: {
      std::string text = textOf(v);
      return text.empty() ? "\n" : text;
    }
    default:
      return textOf(v);
  }
}

template <typename T>
Value optionalValue(const std::optional<T>& v) {
  return v ? Value(*v) : Value();
}

// A byte count as the user writes it: "1536", "-5", "2e27", "nan", "inf".
std::optional<double> parseCount(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  double d = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), d);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return d;
}

// Adds a subcommand whose action prints what `answer` gives.
CLI::App* addQuery(CLI::App& sys, Context& ctx, const std::string& name,
                   const std::string& description, const std::function<Value()>& answer) {
  CLI::App* cmd = sys.add_subcommand(name, description);
  cmd->callback([&ctx, answer] {
    ctx.action = [&ctx, answer] { return emitValue(ctx, "result", answer(), resultText); };
  });
  return cmd;
}

std::optional<std::string> roleVolume(const std::string& role, std::string_view name) {
  if (role == "System") return getAPFSSystemVolume(name);
  if (role == "Data") return getAPFSDataVolume(name);
  if (role == "Preboot") return getAPFSPrebootVolume(name);
  return getAPFSRecoveryVolume(name);
}

Value sizeOf(const SysArguments& a) {
  if (a.readable && a.kind == "total") return Value(KVFoundationGetVolTotalSizeString(a.path));
  if (a.readable && a.kind == "used") return Value(KVFoundationGetVolUsedSizeString(a.path));
  double bytes = a.kind == "total"  ? KVFoundationGetVolTotalSize(a.path)
                 : a.kind == "free" ? KVFoundationGetVolFreeSize(a.path)
                 : a.kind == "used" ? KVFoundationGetVolUsedSize(a.path)
                                    : KVFoundationGetAPFSVolUsedSize(a.path);
  if (a.readable) return Value(KVFoundationConvertBytesToStringValue(bytes));
  return countValue(bytes);
}

// Adds the subcommands that take a byte count and may refuse it.
void addCountCommands(CLI::App& sys, Context& ctx) {
  SysArguments& a = ctx.sys;
  CLI::App* bytes = sys.add_subcommand(
      "bytes",
      "A byte count as readable text (\"1.50 KB\"): decimal units, binary ones on a system "
      "older than 10.6; no N counts as 0");
  bytes->add_option("N", a.count, "The byte count: digits, a real (2e27), nan or inf");
  bytes->callback([&ctx, &a] {
    ctx.action = [&ctx, &a]() -> int {
      std::optional<double> n;
      if (a.count) {
        n = parseCount(*a.count);
        if (!n) {
          complain("not a byte count: " + *a.count);
          return kExitUsage;
        }
      }
      return emitValue(ctx, "result", Value(KVFoundationConvertBytesToStringValue(n)), resultText);
    };
  });

  CLI::App* round = sys.add_subcommand(
      "round-mb",
      "Rounds N bytes down to whole mebibytes: prints the text (\"5M\") and the rounded count "
      "(5242880); in JSON {\"text\", \"bytes\"}");
  round->add_option("N", a.count, "The byte count")->required();
  round->callback([&ctx, &a] {
    ctx.action = [&ctx, &a]() -> int {
      std::optional<double> n = parseCount(a.count.value_or(""));
      if (!n) {
        complain("not a byte count: " + a.count.value_or(""));
        return kExitUsage;
      }
      double count = *n;
      std::string text = KVFoundationRoundByteCountToMBAndString(count);
      return emitValue(ctx, "result", Value(Dict{{"text", text}, {"bytes", countValue(count)}}),
                       [&](const Value&) { return text + " " + numberText(count) + "\n"; });
    };
  });
}

}  // namespace

void addSystemCommands(CLI::App& app, Context& ctx) {
  CLI::App* sys = app.add_subcommand(
      "sys", "System and volume utilities: version, Time Machine, APFS, mounts, sizes");
  sys->require_subcommand(1);
  SysArguments& a = ctx.sys;

  addQuery(*sys, ctx, "version",
           "The running system's product version (kept in the host's user defaults once known)",
           [] { return optionalValue(KVGetCurrentSystemString()); });
  addQuery(*sys, ctx, "version-dict",
           "The version tool's \"name: value\" lines as a dictionary (kept like the version)",
           [] { return Value(KVGetCurrentSystemDictionary()); });

  addQuery(*sys, ctx, "compare",
           "Compares the running system with VERSION: -1 older, 1 newer, 0 the same or not "
           "comparable (no VERSION, none known)",
           [&a] {
             std::optional<std::string_view> v;
             if (a.version) v = *a.version;
             return Value(KVCompareCurrentSystemVersionWith(v));
           })
      ->add_option("VERSION", a.version,
                   "A version such as 10.13; letters and blanks around it are ignored");

  addQuery(*sys, ctx, "tmutil",
           "Runs the Time Machine tool with ARGS and prints its property-list output (nothing when "
           "it prints something else); put -- before arguments that start with -",
           [&a] { return optionalValue(tmutil(a.toolArguments)); })
      ->add_option("ARGS", a.toolArguments, "The tool's arguments, unchanged");

  addQuery(*sys, ctx, "container",
           "The APFS container dictionary of NAME: a container (disk3, /dev/disk3) or the "
           "partition that backs one (/dev/disk0s2)",
           [&a] { return optionalValue(getAPFSContainer(a.name)); })
      ->add_option("NAME", a.name, "Disk name or path")
      ->required();

  CLI::App* role =
      addQuery(*sys, ctx, "role-volume",
               "The volume with the first role ROLE in the APFS container whose name begins NAME",
               [&a] { return optionalValue(roleVolume(a.role, a.name)); });
  role->add_option("ROLE", a.role, "System, Data, Preboot or Recovery")
      ->required()
      ->check(CLI::IsMember({"System", "Data", "Preboot", "Recovery"}));
  role->add_option("NAME", a.name, "BSD name, with or without /dev/ (disk3, /dev/disk3s5)")
      ->required();

  addQuery(*sys, ctx, "volume-role",
           "The role code of the APFS volume NAME: 0 System, 1 Data, 2 Preboot, 3 Recovery, 4 VM, "
           "5 Backup, 6 other, none or not found",
           [&a] { return Value(getAPFSVolumeRole(a.name)); })
      ->add_option("NAME", a.name, "Bare BSD name such as disk3s5 (with /dev/ nothing is found)")
      ->required();

  addQuery(*sys, ctx, "mount-from", "The device mounted exactly at PATH (empty when none)",
           [&a] { return Value(getVolumeMountFromName(a.path)); })
      ->add_option("PATH", a.path, "A mount point such as /")
      ->required();

  addQuery(*sys, ctx, "mount-on", "The mount point of DEVICE (empty when it is not mounted)",
           [&a] { return Value(getVolumeMountOnName(a.name)); })
      ->add_option("DEVICE", a.name, "Device name, with or without /dev/ (disk3s1, /dev/sda1)")
      ->required();

  addQuery(*sys, ctx, "is-apfs",
           "Whether the first mount whose last path component equals PATH's is APFS",
           [&a] { return Value(GetVolumeAPFS(a.path)); })
      ->add_option("PATH", a.path, "A path such as / or /Volumes/Backup")
      ->required();

  CLI::App* size = addQuery(
      *sys, ctx, "size",
      "A volume size in bytes from the statistics of the file system holding PATH (0 when they "
      "cannot be read); apfs-used is the used space of its APFS container",
      [&a] { return sizeOf(a); });
  size->add_option("KIND", a.kind, "total, free, used or apfs-used")
      ->required()
      ->check(CLI::IsMember({"total", "free", "used", "apfs-used"}));
  size->add_option("PATH", a.path, "A path on the volume (for apfs-used: its mount point)")
      ->required();
  size->add_flag("--readable", a.readable, "Print the size as readable text (\"1.50 GB\")");

  addCountCommands(*sys, ctx);

  addQuery(*sys, ctx, "full-disk-access",
           "Whether the privacy database grants full disk access to the host, its background "
           "tool and the companion background program",
           [] { return Value(isFullDiskAccessSetup()); });

  // An example in every subcommand's help.
  const std::pair<const char*, const char*> examples[] = {
      {"version", ""},
      {"version-dict", ""},
      {"compare", " 10.13"},
      {"tmutil", " -- destinationinfo -X"},
      {"container", " disk3"},
      {"role-volume", " Data disk3"},
      {"volume-role", " disk3s5"},
      {"mount-from", " /"},
      {"mount-on", " /dev/sda1"},
      {"is-apfs", " /"},
      {"size", " total / --readable"},
      {"bytes", " 1536"},
      {"round-mb", " 5242881"},
      {"full-disk-access", ""},
  };
  for (const auto& [name, example] : examples) {
    for (CLI::App* sub : sys->get_subcommands({})) {
      if (sub->get_name() == name)
        sub->footer(std::string("Example:\n  sentrel sys ") + name + example);
    }
  }
  sys->footer("Examples:\n  sentrel sys version\n  sentrel sys size free / --readable");
}

}  // namespace sentrel::cli
