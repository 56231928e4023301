// `sentrel db parse|lookup|presets`: the drive database from the command line.
#include <string>

#include "cli.h"
#include "sentrel/drive_database.h"

namespace sentrel::cli {

namespace {

std::string summaryText(const Value& value) {
  const Dict* db = value.ifDict();
  if (!db) return textOf(value);
  const Array* drives = db->getArray("drives");
  return "version: " + db->stringOr("version") + "\n" +
         "entries: " + std::to_string(drives ? drives->size() : 0) + "\n";
}

int runParse(const Context& ctx, const std::string& path) {
  platform::Failure failure;
  std::optional<DriveDatabase> db = readDriveDatabaseFile(path, &failure);
  if (!db) {
    complain(failure.message());
    return kExitUsage;
  }
  // A pattern a lookup silently gives up is named here, once.
  for (const PatternWarning& w : checkPatterns(*db))
    complain("warning: entry " + std::to_string(w.entry) + " (" + w.modelfamily + "): " + w.field +
             " pattern \"" + w.pattern + "\" " + w.reason);
  return emitValue(ctx, "database", Value(db->toDict()), summaryText);
}

int runLookup(const Context& ctx) {
  platform::Failure failure;
  if (!ctx.databaseFile.empty() &&
      !KVSmartDeviceDatabase::installDriveDatabaseFile(ctx.databaseFile, &failure)) {
    complain(failure.message());
    return kExitUsage;
  }
  std::shared_ptr<const DriveDatabaseEntry> entry =
      KVSmartDeviceDatabase::lookupDriveModel(ctx.model, ctx.firmware);
  // No entry is an answer, not a failure: the drive is then named by the
  // database's defaults.
  return emitValue(ctx, "entry", Value(entryDict(entry.get())), [](const Value& v) {
    const Dict* d = v.ifDict();
    return d && d->empty() ? std::string("no entry\n") : textOf(v);
  });
}

}  // namespace

void addDatabaseCommands(CLI::App& app, Context& ctx) {
  CLI::App* db = app.add_subcommand("db", "The smartmontools drive database");
  db->footer("Examples:\n  sentrel db lookup ST2000DM008-2FR102\n  sentrel db update");
  db->require_subcommand(1);

  CLI::App* parse = db->add_subcommand("parse", "Parse a drivedb.h file and show its entries");
  parse->footer("Example:\n  sentrel db parse /usr/share/smartmontools/drivedb.h");
  parse->add_option("FILE", ctx.databaseFile, "The drivedb.h file")->required();
  parse->callback([&ctx] { ctx.action = [&ctx] { return runParse(ctx, ctx.databaseFile); }; });

  CLI::App* lookup = db->add_subcommand("lookup", "Find the entry of a drive model");
  lookup->footer(
      "Examples:\n  sentrel db lookup \"Samsung SSD 860 EVO 500GB\"\n"
      "  sentrel db lookup --db ./drivedb.h ST2000DM008-2FR102 0001");
  lookup->add_option("--db", ctx.databaseFile,
                     "Parse this drivedb.h and use it instead of the stored database");
  lookup->add_option("MODEL", ctx.model, "The drive's model string")->required();
  lookup->add_option("FIRMWARE", ctx.firmware, "The drive's firmware version");
  lookup->callback([&ctx] { ctx.action = [&ctx] { return runLookup(ctx); }; });

  CLI::App* presets = db->add_subcommand("presets", "Show the attribute preset table");
  presets->footer("Example:\n  sentrel --format json db presets");
  presets->callback([&ctx] {
    ctx.action = [&ctx] {
      return emitValue(ctx, "presets", Value(KVSmartDeviceDatabase::fmtDict()));
    };
  });
}

}  // namespace sentrel::cli
