// `sentrel db update`: one update job of the stored drive database, waited
// for, with every address it refused and why.
#include <filesystem>
#include <memory>

#include "cli.h"
#include "sentrel/drive_database.h"
#include "sentrel/platform.h"

namespace sentrel::cli {

namespace {

// The result for a reader: each refused address with its reason, then
// what became of the one that delivered.
std::string updateText(const Value& value) {
  const Dict& result = *value.ifDict();
  std::string out;
  for (const Value& refused : *result.getArray("refused"))
    out += "refused " + refused.ifDict()->stringOr("address") + ": " +
           refused.ifDict()->stringOr("reason") + "\n";
  const std::string address = result.stringOr("address");
  if (result.getBool("updated").value_or(false))
    return out + "downloaded from " + address + "\nstored " + result.stringOr("path") +
           "\nversion: " + result.stringOr("version") + "\n";
  if (const std::string* failure = result.getString("storeFailure"))
    return out + "downloaded from " + address + "\ncannot store it: " + *failure +
           "\nthe database is unchanged\n";
  return out + "every address failed; the database is unchanged\n";
}

}  // namespace

void addDatabaseUpdateCommand(CLI::App& app, Context& ctx) {
  CLI::App* db = app.get_subcommand_ptr("db").get();
  CLI::App* update = db->add_subcommand(
      "update", "Download the drive database from its addresses, store it and parse it");
  update->footer(
      "Examples:\n  sentrel db update\n"
      "  sentrel db update --db-source https://mirror.example.org --max-size 4000000");
  update
      ->add_option("--db-source", ctx.downloadSources,
                   "A base address to try instead of the four default ones (repeatable; "
                   "each gets its address's fixed path). https:// unless given as http://")
      ->type_name("URL");
  update
      ->add_option("--max-size", ctx.maxDownloadSize,
                   "The most bytes an address may deliver (default 8388608)")
      ->check(CLI::PositiveNumber)
      ->type_name("BYTES");
  update
      ->add_option("--db-keyring", ctx.databaseKeyring,
                   "Store only a database signed with a key of this OpenPGP keyring "
                   "(checked with gpgv)")
      ->check(CLI::ExistingFile)
      ->type_name("FILE");
  update->callback([&ctx] {
    ctx.action = [&ctx] {
      if (!ctx.downloadSources.empty())
        KVSmartDeviceDatabase::setDownloadSources(ctx.downloadSources);
      if (ctx.maxDownloadSize) KVSmartDeviceDatabase::setMaximumDownloadSize(ctx.maxDownloadSize);
      // gpgv looks a keyring named without a folder up in its own home.
      if (!ctx.databaseKeyring.empty())
        KVSmartDeviceDatabase::setSignatureKeyring(
            std::filesystem::absolute(ctx.databaseKeyring).string());
      if (ctx.offline) {
        complain("db update needs the network; leave out --offline");
        return kExitUsage;
      }
      // Asked for: the network is used whatever the configuration says.
      KVSmartDeviceDatabase::setOffline(false);
      platform::Platform& p = platform::current();
      // The observer stays registered after the command: it holds its own flag.
      auto notified = std::make_shared<bool>(false);
      p.notifications->observe(KVSmartDeviceDatabase::kDatabaseUpdated,
                               [notified] { *notified = true; });
      KVSmartDeviceDatabase::updateDB();
      p.queues->wait(KVSmartDeviceDatabase::dlq());
      p.queues->drainMain();
      const DatabaseUpdateReport report = KVSmartDeviceDatabase::lastUpdateReport();
      auto installed = KVSmartDeviceDatabase::driveDatabase();
      Value address;
      Array refused;
      for (const auto& attempt : report.attempts) {
        if (!attempt.failure.failed())
          address = Value(attempt.address);
        else
          refused.push_back(Dict{{"address", attempt.address}, {"reason", attempt.failure.reason}});
      }
      Dict result{{"updated", report.stored},
                  {"address", address},
                  {"path", KVSmartDeviceDatabase::dbPath()},
                  {"version", report.stored && installed ? Value(installed->version) : Value()},
                  {"notified", *notified},
                  {"refused", std::move(refused)}};
      if (report.storeFailure.failed()) result.set("storeFailure", report.storeFailure.message());
      int printed = emitValue(ctx, "update", Value(result), updateText);
      return printed | (report.stored ? kExitOk : kExitCommandFailed);
    };
  });
}

}  // namespace sentrel::cli
