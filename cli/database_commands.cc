// `sentrel db parse|lookup|presets`: the drive database from the command line.
#include <memory>
#include <string>

#include "cli.h"
#include "sentrel/drive_database.h"

namespace sentrel::cli {

namespace {

struct DatabaseOptions {
  std::string parseFile;
  std::string lookupDb;
  std::string model;
  std::string firmware;
};

std::string summaryText(const Value& value) {
  const Dict* db = value.ifDict();
  if (!db) return textOf(value);
  const Array* drives = db->getArray("drives");
  return "version: " + db->stringOr("version") + "\n" +
         "entries: " + std::to_string(drives ? drives->size() : 0) + "\n";
}

int runParse(const Context& ctx, const std::string& path) {
  std::string error;
  std::optional<DriveDatabase> db = readDriveDatabaseFile(path, &error);
  if (!db) {
    complain(error);
    return kExitUsage;
  }
  print(ctx, Value(db->toDict()), summaryText);
  return kExitOk;
}

int runLookup(const Context& ctx, const DatabaseOptions& options) {
  if (!options.lookupDb.empty()) {
    std::string error;
    std::optional<DriveDatabase> db = readDriveDatabaseFile(options.lookupDb, &error);
    if (!db) {
      complain(error);
      return kExitUsage;
    }
    KVSmartDeviceDatabase::installDriveDatabase(std::move(*db));
  }
  std::shared_ptr<const DriveDatabaseEntry> entry =
      KVSmartDeviceDatabase::lookupDriveModel(options.model, options.firmware);
  print(ctx, Value(entryDict(entry.get())), [](const Value& v) {
    const Dict* d = v.ifDict();
    return d && d->empty() ? std::string("no entry\n") : textOf(v);
  });
  return entry ? kExitOk : kExitMissing;
}

}  // namespace

void addDatabaseCommands(CLI::App& app, Context& ctx) {
  auto options = std::make_shared<DatabaseOptions>();
  CLI::App* db = app.add_subcommand("db", "The smartmontools drive database");
  db->require_subcommand(1);

  CLI::App* parse = db->add_subcommand("parse", "Parse a drivedb.h file and show its entries");
  parse->add_option("FILE", options->parseFile, "The drivedb.h file")->required();
  parse->callback([&ctx, options] {
    ctx.action = [&ctx, options] { return runParse(ctx, options->parseFile); };
  });

  CLI::App* lookup = db->add_subcommand("lookup", "Find the entry of a drive model");
  lookup->add_option("--db", options->lookupDb,
                     "Parse this drivedb.h and use it instead of the stored database");
  lookup->add_option("MODEL", options->model, "The drive's model string")->required();
  lookup->add_option("FIRMWARE", options->firmware, "The drive's firmware version");
  lookup->callback(
      [&ctx, options] { ctx.action = [&ctx, options] { return runLookup(ctx, *options); }; });

  CLI::App* presets = db->add_subcommand("presets", "Show the attribute preset table");
  presets->callback([&ctx] {
    ctx.action = [&ctx] {
      print(ctx, Value(KVSmartDeviceDatabase::fmtDict()), nullptr);
      return kExitOk;
    };
  });
}

}  // namespace sentrel::cli
