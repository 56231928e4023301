// `sentrel db update`: one update job of the stored drive database, waited for.
#include <memory>

#include "cli.h"
#include "sentrel/drive_database.h"
#include "sentrel/platform.h"

namespace sentrel::cli {

void addDatabaseUpdateCommand(CLI::App& app, Context& ctx) {
  CLI::App* db = app.get_subcommand_ptr("db").get();
  auto sources = std::make_shared<std::vector<std::string>>();
  CLI::App* update = db->add_subcommand(
      "update", "Download the drive database from its addresses, store it and parse it");
  update->add_option("--db-source", *sources,
                     "A base address to try instead of the four default ones (repeatable; "
                     "each gets its address's fixed path)")
      ->type_name("URL");
  update->callback([&ctx, sources] {
    ctx.action = [&ctx, sources] {
      if (!sources->empty()) KVSmartDeviceDatabase::setDownloadSources(*sources);
      if (KVSmartDeviceDatabase::offline()) {
        complain("db update needs the network; leave out --offline");
        return kExitUsage;
      }
      platform::Platform& p = platform::current();
      bool updated = false;
      p.notifications->observe(KVSmartDeviceDatabase::kDatabaseUpdated, [&] { updated = true; });
      auto before = KVSmartDeviceDatabase::driveDatabase();
      KVSmartDeviceDatabase::updateDB();
      p.queues->wait(KVSmartDeviceDatabase::dlq());
      p.queues->drainMain();
      auto after = KVSmartDeviceDatabase::driveDatabase();
      bool stored = after && after != before;
      Dict result{{"updated", stored},
                  {"path", KVSmartDeviceDatabase::dbPath()},
                  {"version", stored ? Value(after->version) : Value()},
                  {"notified", updated}};
      print(ctx, Value(result), [&](const Value&) {
        return stored ? "stored " + KVSmartDeviceDatabase::dbPath() + "\nversion: " +
                            after->version + "\n"
                      : std::string("every address failed; the database is unchanged\n");
      });
      return stored ? kExitOk : kExitMissing;
    };
  });
}

}  // namespace sentrel::cli
