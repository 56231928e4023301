// `sentrel db update`: one update job of the stored drive database, waited for.
#include <memory>
#include <mutex>

#include "cli.h"
#include "sentrel/drive_database.h"
#include "sentrel/platform.h"

namespace sentrel::cli {

namespace {

// Passes every log line on and remembers the address the update reports as
// successful.
class DeliveryWatch final : public platform::Log {
 public:
  explicit DeliveryWatch(platform::Log& next) : next_(next) {}
  void nslog(std::string_view line) override {
    constexpr std::string_view prefix = "download from '", suffix = "' successful";
    if (line.starts_with(prefix) && line.ends_with(suffix)) {
      std::lock_guard lock(mutex_);
      address_ = line.substr(prefix.size(), line.size() - prefix.size() - suffix.size());
    }
    next_.nslog(line);
  }
  void syslog(int priority, std::string_view line) override { next_.syslog(priority, line); }
  std::string address() {
    std::lock_guard lock(mutex_);
    return address_;
  }

 private:
  platform::Log& next_;
  std::mutex mutex_;
  std::string address_;
};

}  // namespace

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
