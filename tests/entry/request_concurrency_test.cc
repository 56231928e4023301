// Requests on a client thread while the drive database is replaced, both by
// installs on another thread and by the background update that the
// framework queues when it is made. Every request must answer once with a
// whole reply, and every refresh must take its family and the family's
// presets from one database. Run under ThreadSanitizer by
// scripts/test-tsan.sh (every suite named *ConcurrencyTest).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "sentrel/drive_database.h"
#include "sentrel/sentrel_framework.h"
#include "sentrel/smart_device.h"
#include "sentrel/value_io.h"
#include "support/machines.h"

namespace sentrel {
namespace {

using testing::ataBlock;
using testing::sataDisk;
using testing::sector;

// The family of the test drive in database `tag`, and the name it gives
// attribute 9: the pair a refresh must never mix across databases.
DriveDatabase taggedDatabase(const std::string& tag) {
  DriveDatabaseEntry defaults;
  defaults.modelfamily = "DEFAULT";
  defaults.model = "-";
  defaults.firmware = "-";
  defaults.attribDict = {{"194", "raw48", "Temperature"}};
  DriveDatabaseEntry wd;
  wd.modelfamily = "Family " + tag;
  wd.model = "WDC WD10EZEX";
  wd.firmware = ".";
  wd.attribDict = {{"9", "raw48", "Hours " + tag}};
  return DriveDatabase{.version = tag, .drives = {defaults, wd}};
}

const char* const kUpdatedDb =
    "/*\n * drivedb.h - smartmontools drive database file\n */\n"
    "const drive_settings builtin_knowndrives[] = {\n"
    "  { \"VERSION: 7.5/5703 2025-01-01 12:00:00\", \"-\", \"-\", \"\", \"\" },\n"
    "  { \"DEFAULT\", \"-\", \"-\", \"\", \"-v 194,raw48,Temperature\" },\n"
    "  { \"Family C\", \"WDC WD10EZEX\", \"\", \"\", \"-v 9,raw48,Hours_C\" },\n};\n";

TEST(RequestConcurrencyTest, RequestsAndRefreshesWhileTheDatabaseIsReplaced) {
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / "sentrel-request-concurrency";
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  std::ofstream(folder / "updated.h") << kUpdatedDb;

  Array disks;
  for (const char* bsd : {"disk0", "disk1"}) {
    Dict disk = sataDisk(bsd);
    ataBlock(disk).set(
        "smartData",
        sector(testing::smartDataSector({{.id = 9, .raw = 4242}, {.id = 194, .raw = 35}})));
    ataBlock(disk).set("thresholds", sector(testing::thresholdsSector({{.id = 9}, {.id = 194}})));
    disks.push_back(Value(std::move(disk)));
  }
  // The framework's update finds the database at the first address.
  Dict description{{"systemVersion", "13.6"},
                   {"disks", std::move(disks)},
                   {"downloads", Dict{{"https://a.example/smartdb/drivedb.h", "updated.h"}}}};
  platform::Failure error;
  auto machine = sim::Machine::fromJsonText(toJson(Value(description)), folder.string(), &error);
  ASSERT_TRUE(machine) << error;
  const std::vector<std::string> savedSources = KVSmartDeviceDatabase::downloadSources();
  KVSmartDeviceDatabase::setDownloadSources({"https://a.example"});
  {
    platform::ScopedPlatform installed(machine->platform());
    const DriveDatabase a = taggedDatabase("A");
    const DriveDatabase b = taggedDatabase("B");
    KVSmartDeviceDatabase::installDriveDatabase(a);

    // The device class serves one thread at a time, as a host's request
    // thread uses it: one client asks while this thread replaces databases.
    SentrelFramework framework;  // queues the update, which runs meanwhile
    std::atomic<bool> done{false};
    std::atomic<int> wrong{0};
    std::string firstProblem;  // read after the client has been joined
    const auto problem = [&](std::string what) {
      if (wrong.fetch_add(1) == 0) firstProblem = std::move(what);
    };
    std::thread client([&] {
      for (int i = 0; i < 16; ++i) {
        const std::string bsd = i % 2 ? "disk1" : "disk0";
        int replies = 0;
        framework.runWith(Dict{{"selectedBSD", bsd}}, [&](const Dict& reply) {
          ++replies;
          if (reply.stringOr("status") != "Passed" ||
              reply.stringOr("deviceName") != "WDC WD10EZEX-08WN4A0" ||
              !reply.getArray("properties") || reply.getArray("properties")->size() != 3) {
            problem("reply " + toJson(Value(reply)));
          }
        });
        if (replies != 1) problem(std::to_string(replies) + " replies");

        auto device = KVSMARTDevice::deviceWithBSDName(bsd);
        auto props = device ? device->updateProperties() : nullptr;
        const Dict* vsa = props ? props->getDict("vsaDict") : nullptr;
        const Dict* hours = vsa ? vsa->getDict("9") : nullptr;
        const std::string family = props ? props->stringOr("Model Family") : "";
        const std::string tag = family.size() == 8 ? family.substr(7) : "?";
        if (family.rfind("Family ", 0) != 0 || !hours ||
            hours->stringOr("attributeName") != "Hours " + tag) {
          problem("refresh " + (props ? toJson(Value(*props)) : std::string("failed")));
        }
      }
      done.store(true);
    });
    for (int round = 0; !done.load() || round < 20; ++round) {
      KVSmartDeviceDatabase::installDriveDatabase(round % 2 ? a : b);
      std::this_thread::yield();
    }
    client.join();
    machine->platform().queues->wait(KVSmartDeviceDatabase::dlq());

    EXPECT_EQ(wrong.load(), 0) << "the first: " << firstProblem;
    // The update stored and installed its database once, whatever came after.
    std::vector<std::string> lines;
    for (const Dict& d : machine->calls("nslog")) lines.push_back(d.stringOr("line"));
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "download from 'https://a.example/smartdb/drivedb.h' successful"),
              lines.end());
    EXPECT_TRUE(std::filesystem::exists(KVSmartDeviceDatabase::dbPath()));
    EXPECT_EQ(machine->platform().queues->drainMain(), 1u);
  }
  KVSmartDeviceDatabase::setDownloadSources(savedSources);
  machine.reset();
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace sentrel
