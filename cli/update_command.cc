// `sentrel db update`: one update job of the stored drive database, waited for.
#include <mutex>

#include "cli.h"
#include "sentrel/drive_database.h"
#include "sentrel/platform.h"
#include "sentrel/platform_wrapper.h"

namespace sentrel::cli {

namespace {

// Passes every log line on and remembers the address the update reports as
// successful.
class DeliveryWatch final : public platform::LogWrapper {
 public:
  explicit DeliveryWatch(platform::Log& next) : LogWrapper(next) {}
  void nslog(std::string_view line) override {
    constexpr std::string_view prefix = "download from '", suffix = "' successful";
    if (line.starts_with(prefix) && line.ends_with(suffix)) {
      std::lock_guard lock(mutex_);
      address_ = line.substr(prefix.size(), line.size() - prefix.size() - suffix.size());
    }
    LogWrapper::nslog(line);
  }
  std::string address() {
    std::lock_guard lock(mutex_);
    return address_;
  }

 private:
  std::mutex mutex_;
  std::string address_;
};

}  // namespace

void addDatabaseUpdateCommand(CLI::App& app, Context& ctx) {
  CLI::App* db = app.get_subcommand_ptr("db").get();
  CLI::App* update = db->add_subcommand(
      "update", "Download the drive database from its addresses, store it and parse it");
  update
      ->add_option("--db-source", ctx.downloadSources,
                   "A base address to try instead of the four default ones (repeatable; "
                   "each gets its address's fixed path)")
      ->type_name("URL");
  update->callback([&ctx] {
    ctx.action = [&ctx] {
      if (!ctx.downloadSources.empty())
        KVSmartDeviceDatabase::setDownloadSources(ctx.downloadSources);
      if (ctx.offline) {
        complain("db update needs the network; leave out --offline");
        return kExitUsage;
      }
      // Asked for: the network is used whatever the configuration says.
      KVSmartDeviceDatabase::setOffline(false);
      platform::Platform p = platform::current();
      DeliveryWatch watch(*p.log);
      p.log = &watch;
      platform::ScopedPlatform installed(p);
      bool updated = false;
      p.notifications->observe(KVSmartDeviceDatabase::kDatabaseUpdated, [&] { updated = true; });
      auto before = KVSmartDeviceDatabase::driveDatabase();
      KVSmartDeviceDatabase::updateDB();
      p.queues->wait(KVSmartDeviceDatabase::dlq());
      p.queues->drainMain();
      auto after = KVSmartDeviceDatabase::driveDatabase();
      bool stored = after && after != before;
      std::string address = watch.address();
      Dict result{{"updated", stored},
                  {"address", address.empty() ? Value() : Value(address)},
                  {"path", KVSmartDeviceDatabase::dbPath()},
                  {"version", stored ? Value(after->version) : Value()},
                  {"notified", updated}};
      print(ctx, Value(result), [&](const Value&) {
        return stored ? "downloaded from " + address + "\nstored " +
                            KVSmartDeviceDatabase::dbPath() + "\nversion: " + after->version + "\n"
                      : std::string("every address failed; the database is unchanged\n");
      });
      return stored ? kExitOk : kExitMissing;
    };
  });
}

}  // namespace sentrel::cli
