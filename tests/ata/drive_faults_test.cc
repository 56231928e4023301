// An ATA drive that fails commands: the demo machine's disk0 (a full set of
// sectors) behind FaultPlugIns. Whatever fails, the refresh ends in the
// answer its readers document for a failed read (a reader whose read fails
// writes nothing, or its stated substitute) and every other value is the
// one the healthy drive gives; the reply condenses exactly that.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "sentrel/drive_database.h"
#include "sentrel/sentrel_framework.h"
#include "sentrel/sim_machine.h"
#include "sentrel/smart_device.h"
#include "sentrel/value_io.h"
#include "support/fault_drives.h"
#include "support/fault_printers.h"

namespace sentrel {
namespace {

using testing::DriveCommand;
using testing::FaultPlugIns;

// A database that names disk0's family and a few of its attributes, so the
// table has names and formats to lose.
DriveDatabase smallDatabase() {
  DriveDatabaseEntry defaults;
  defaults.modelfamily = "DEFAULT";
  defaults.model = "-";
  defaults.firmware = "-";
  defaults.attribDict = {{"1", "raw48", "Raw Read Error Rate"},
                         {"5", "raw16", "Reallocated Sector Count"},
                         {"9", "raw24(raw8)", "Power On Hours"},
                         {"194", "tempminmax", "Temperature Celsius"}};
  DriveDatabaseEntry barracuda;
  barracuda.modelfamily = "Seagate BarraCuda 3.5";
  barracuda.model = "ST2000DM008";
  barracuda.firmware = ".";
  return DriveDatabase{.version = "test", .drives = {defaults, barracuda}};
}

// One refresh of a demo disk and its reply, with the drive's commands.
struct Outcome {
  std::optional<Dict> props;  // nothing when the refresh answered nothing
  Dict reply;
  std::vector<DriveCommand> commands;
  int openAfter = -1;  // interfaces still open once the device is gone
};

Outcome refresh(const std::string& bsd, FaultPlugIns::Rule rule) {
  Outcome out;
  platform::Failure error;
  auto machine = sim::Machine::load(SENTREL_SOURCE_DIR "/examples/demo-mac", &error);
  if (!machine) {
    ADD_FAILURE() << error;
    return out;
  }
  platform::Platform p = machine->platform();
  FaultPlugIns faults(*p.plugIns, std::move(rule));
  p.plugIns = &faults;
  platform::ScopedPlatform installed(p);
  KVSmartDeviceDatabase::installDriveDatabase(smallDatabase());
  {
    auto device = KVSMARTDevice::deviceWithBSDName(bsd);
    if (!device) {
      ADD_FAILURE() << "no drive record for " << bsd;
      return out;
    }
    if (auto props = device->updateProperties()) out.props = *props;
    EXPECT_FALSE(device->isOpen()) << "the refresh closes the access whatever failed";
  }
  out.reply = replyForDeviceProperties(out.props ? &*out.props : nullptr);
  out.commands = faults.commands();
  out.openAfter = faults.openInterfaces();
  return out;
}

// The commands of a refresh by name and occurrence ("readSmartData#2"), in
// order, with the numbers of those that failed.
std::vector<std::string> occurrences(const std::vector<DriveCommand>& commands) {
  std::map<std::string, int> seen;
  std::vector<std::string> out;
  for (const DriveCommand& c : commands)
    out.push_back(c.name + "#" + std::to_string(++seen[c.name]));
  return out;
}

// The capability keys the capability reader writes from the SMART data.
const std::vector<std::string> kCapabilityKeys{"Offline data collection status",
                                               "Auto Offline Data Collection Status",
                                               "Self-test status",
                                               "Self-test progress",
                                               "Offline data collection time",
                                               "SMART execute Offline immediate",
                                               "Auto Offline data collection",
                                               "Abort Offline collection upon command",
                                               "Offline read scanning",
                                               "Self-test",
                                               "Conveyance Self-test",
                                               "Selective Self-test",
                                               "Save data before power-saving mode",
                                               "Autosave",
                                               "Extended self-test polling time",
                                               "Short self-test polling time",
                                               "Conveyance self-test polling time"};

// What the attribute table writes.
const std::vector<std::string> kAttributeKeys{
    "temperature", "powerOnHours",    "vsaDict",     "Model Family", "vendorspecificAttributes",
    "Health",      "attributeHealth", "healthColor", "health"};

// The keys each command's failure may change: those of the reader that
// sends it (and the ones computed from them).
std::set<std::string> keysOf(const std::string& occurrence) {
  std::set<std::string> keys;
  auto add = [&](const std::vector<std::string>& list) { keys.insert(list.begin(), list.end()); };
  if (occurrence == "readSmartData#1") {
    add(kCapabilityKeys);
    add({"capArray", "selftests"});
  } else if (occurrence == "readSmartData#2" || occurrence == "validateSmartData#1" ||
             occurrence == "reportStatus#1" || occurrence == "readSmartThresholds#1") {
    add(kAttributeKeys);
  } else if (occurrence == "readSmartLog 6#1") {
    add({"selftestResults"});
  } else if (occurrence == "readSmartLog 0#1") {
    add({"logs", "logDir"});
  } else if (occurrence == "readSmartLog 1#1") {
    add({"errorLog", "errorLogVersion", "errorLogIndex", "errorLogCount"});
  }
  return keys;
}

class AtaDriveFaultsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    healthy_ = new Outcome(refresh("disk0", [](std::size_t, const std::string&) { return 0; }));
  }
  static void TearDownTestSuite() {
    delete healthy_;
    healthy_ = nullptr;
  }
  static const Outcome& healthy() { return *healthy_; }

  static Outcome* healthy_;
};
Outcome* AtaDriveFaultsTest::healthy_ = nullptr;

TEST_F(AtaDriveFaultsTest, TheHealthyRefreshSendsTenCommands) {
  ASSERT_TRUE(healthy().props);
  EXPECT_EQ(occurrences(healthy().commands),
            (std::vector<std::string>{"enableOperations#1", "readIdentify#1", "readSmartData#1",
                                      "readSmartData#2", "validateSmartData#1", "reportStatus#1",
                                      "readSmartThresholds#1", "readSmartLog 6#1",
                                      "readSmartLog 0#1", "readSmartLog 1#1"}));
  for (const DriveCommand& c : healthy().commands) EXPECT_EQ(c.status, 0) << c.name;
  EXPECT_EQ(healthy().reply.stringOr("status"), "Warning");  // 8 reallocated sectors
  EXPECT_EQ(healthy().openAfter, 0);
}

// Each command failing alone, and the documented answer of its reader.
TEST_F(AtaDriveFaultsTest, OneFailedCommandChangesOnlyWhatItsReaderWrites) {
  const Dict& before = *healthy().props;
  struct Case {
    std::string command;
    std::function<void(const Outcome&)> check;
  } cases[] = {
      {"enableOperations#1",
       [](const Outcome& o) {
         EXPECT_FALSE(o.props) << "SMART cannot be enabled: the refresh answers nothing";
         EXPECT_EQ(o.commands.size(), 1u) << "nothing is read after the refusal";
         EXPECT_EQ(o.reply.stringOr("status"), "No Data");
         EXPECT_EQ(o.reply.stringOr("deviceName"), "-");
         EXPECT_TRUE(o.reply.getArray("properties")->empty());
       }},
      {"readIdentify#1",
       [&](const Outcome& o) {
         ASSERT_TRUE(o.props);
         EXPECT_EQ(*o.props, before) << "the identify data is read but not used";
       }},
      {"readSmartData#1",
       [&](const Outcome& o) {
         ASSERT_TRUE(o.props);
         for (const std::string& key : kCapabilityKeys) EXPECT_FALSE(o.props->contains(key)) << key;
         EXPECT_TRUE(o.props->getArray("selftests")->empty());
         for (const Value& pair : *o.props->getArray("capArray"))
           EXPECT_EQ(*pair.ifDict()->find("value"), Value("")) << pair.ifDict()->stringOr("name");
         EXPECT_EQ(o.reply, healthy().reply) << "the attribute table still comes from its own read";
       }},
      {"readSmartData#2",
       [&](const Outcome& o) {
         ASSERT_TRUE(o.props);
         EXPECT_EQ(o.props->stringOr("attributeHealth"), "Unknown");
         EXPECT_EQ(o.props->stringOr("health"), "Unknown");
         for (const char* key : {"vendorspecificAttributes", "vsaDict", "Health", "temperature",
                                 "powerOnHours", "Model Family", "healthColor"})
           EXPECT_FALSE(o.props->contains(key)) << key;
         EXPECT_EQ(o.reply.stringOr("status"), "Unknown");
         EXPECT_TRUE(o.reply.getArray("properties")->empty());
         EXPECT_EQ(o.reply.stringOr("deviceName"), "ST2000DM008-2FR102");
       }},
      {"validateSmartData#1",
       [&](const Outcome& o) {
         ASSERT_TRUE(o.props);
         EXPECT_EQ(o.props->stringOr("attributeHealth"), "Unknown");
         EXPECT_FALSE(o.props->contains("vendorspecificAttributes"));
         EXPECT_EQ(o.reply.stringOr("status"), "Unknown");
       }},
      {"reportStatus#1",
       [&](const Outcome& o) {
         ASSERT_TRUE(o.props);
         // A failed status command counts as a threshold not exceeded; disk0
         // exceeds none, so nothing changes.
         EXPECT_EQ(*o.props, before);
       }},
      {"readSmartThresholds#1",
       [&](const Outcome& o) {
         ASSERT_TRUE(o.props);
         // Thresholds that cannot be read count as zero: no attribute is
         // judged against one, and the table shows 0.
         const Array& rows = *o.props->getArray("vendorspecificAttributes");
         ASSERT_EQ(rows.size(), before.getArray("vendorspecificAttributes")->size());
         for (const Value& row : rows) {
           EXPECT_EQ(*row.ifDict()->find("threshold")->plainText(), "0");
           EXPECT_EQ(*row.ifDict()->find("condition")->plainText(), "Normal");
         }
         EXPECT_EQ(o.props->stringOr("attributeHealth"), "Warning") << "8 reallocated sectors";
         for (const Value& row : *o.reply.getArray("properties"))
           EXPECT_EQ(row.ifDict()->getInt("thresholdValue"), 0);
       }},
      {"readSmartLog 6#1",
       [&](const Outcome& o) {
         ASSERT_TRUE(o.props);
         EXPECT_FALSE(o.props->contains("selftestResults"));
         EXPECT_EQ(o.reply, healthy().reply);
       }},
      {"readSmartLog 0#1",
       [&](const Outcome& o) {
         ASSERT_TRUE(o.props);
         EXPECT_TRUE(o.props->getArray("logs")->empty());
         EXPECT_TRUE(o.props->getDict("logDir")->empty());
       }},
      {"readSmartLog 1#1",
       [&](const Outcome& o) {
         ASSERT_TRUE(o.props);
         for (const char* key : {"errorLog", "errorLogVersion", "errorLogIndex", "errorLogCount"})
           EXPECT_FALSE(o.props->contains(key)) << key;
       }},
  };
  const std::vector<std::string> order = occurrences(healthy().commands);
  ASSERT_EQ(std::size(cases), order.size());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    std::size_t number = std::find(order.begin(), order.end(), c.command) - order.begin() + 1;
    Outcome o = refresh("disk0", FaultPlugIns::only(number));
    c.check(o);
    EXPECT_EQ(o.openAfter, 0);
    if (!o.props) continue;
    // Everything the failed command's reader does not write is as before.
    std::set<std::string> mayChange = keysOf(c.command);
    for (const auto& e : before) {
      if (mayChange.count(e.key)) continue;
      const Value* now = o.props->find(e.key);
      ASSERT_TRUE(now) << e.key;
      EXPECT_EQ(*now, e.value) << e.key;
    }
    for (const auto& e : *o.props)
      EXPECT_TRUE(before.contains(e.key) || mayChange.count(e.key)) << "new key " << e.key;
  }
}

// Every Nth command failing, at every phase: each value of the reading is
// the healthy one, or the one the single failure of its reader gives.
TEST_F(AtaDriveFaultsTest, EveryNthCommandFailingGivesOnlyDocumentedValues) {
  const Dict& before = *healthy().props;
  const std::vector<std::string> order = occurrences(healthy().commands);
  std::map<std::string, Outcome> single;
  for (std::size_t i = 0; i < order.size(); ++i)
    single.emplace(order[i], refresh("disk0", FaultPlugIns::only(i + 1)));

  for (std::size_t n : {2u, 3u, 4u, 5u, 7u}) {
    for (std::size_t phase = 0; phase < n; ++phase) {
      SCOPED_TRACE("every " + std::to_string(n) + "th command from " + std::to_string(phase));
      Outcome o = refresh("disk0", [n, phase](std::size_t number, const std::string&) {
        return number % n == phase ? platform::kNoDevice : platform::kSuccess;
      });
      EXPECT_EQ(o.openAfter, 0);
      std::vector<std::string> failed;
      const std::vector<std::string> seen = occurrences(o.commands);
      for (std::size_t i = 0; i < o.commands.size(); ++i)
        if (o.commands[i].status != 0) failed.push_back(seen[i]);
      ASSERT_FALSE(failed.empty());

      if (std::find(failed.begin(), failed.end(), "enableOperations#1") != failed.end()) {
        EXPECT_FALSE(o.props);
        EXPECT_EQ(o.reply, single.at("enableOperations#1").reply);
        continue;
      }
      ASSERT_TRUE(o.props);
      std::set<std::string> keys;
      for (const auto& e : before) keys.insert(e.key);
      for (const auto& e : *o.props) keys.insert(e.key);
      for (const std::string& key : keys) {
        std::vector<std::string> owners;
        for (const std::string& f : failed)
          if (keysOf(f).count(key)) owners.push_back(f);
        // The healthy value when no reader of the key failed; else what
        // one of the failed commands gives when it fails alone (two failures
        // in one reader: a command after the first is not sent, or
        // changes nothing more).
        std::vector<const Dict*> candidates;
        if (owners.empty()) candidates.push_back(&before);
        for (const std::string& f : owners) candidates.push_back(&*single.at(f).props);
        const Value* got = o.props->find(key);
        bool matched = false;
        for (const Dict* expected : candidates) {
          const Value* want = expected->find(key);
          matched = matched || (want ? got && *got == *want : got == nullptr);
        }
        EXPECT_TRUE(matched) << key << " = " << (got ? toJson(*got) : std::string("(absent)"));
      }
      const std::string status = o.reply.stringOr("status");
      EXPECT_TRUE(status == "Warning" || status == "Unknown") << status;
    }
  }
}

// The plug-in opens, then the drive is gone: every command answers "no
// device". The refresh answers nothing and the reply has its defaults.
TEST_F(AtaDriveFaultsTest, ADriveGoneAfterOpeningAnswersNoData) {
  Outcome o = refresh("disk0", FaultPlugIns::gone());
  EXPECT_FALSE(o.props);
  ASSERT_EQ(o.commands.size(), 1u);
  EXPECT_EQ(o.commands[0].name, "enableOperations");
  EXPECT_EQ(o.commands[0].status, platform::kNoDevice);
  EXPECT_EQ(o.openAfter, 0);
  EXPECT_EQ(o.reply, (Dict{{"status", "No Data"},
                           {"isNVMe", false},
                           {"properties", Array{}},
                           {"deviceName", "-"},
                           {"deviceSerialNumber", "-"},
                           {"volumes", Array{}}}));
}

// The entry object's health reply comes exactly once whatever the drive
// does, and never carries a value the healthy drive does not have.
TEST_F(AtaDriveFaultsTest, TheHealthReplyComesOnceUnderEveryRule) {
  struct Case {
    const char* name;
    FaultPlugIns::Rule rule;
    std::set<std::string> statuses;
  } cases[] = {
      {"healthy", [](std::size_t, const std::string&) { return 0; }, {"Warning"}},
      {"gone after opening", FaultPlugIns::gone(), {"No Data"}},
      // The count goes on from one reply to the next, so a later reply may
      // find SMART refused: "No Data".
      {"every 2nd command", FaultPlugIns::everyNth(2), {"Warning", "Unknown", "No Data"}},
      {"every 3rd command with a general error",
       FaultPlugIns::everyNth(3, platform::kGeneralError),
       {"Warning", "Unknown", "No Data"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    platform::Failure error;
    auto machine = sim::Machine::load(SENTREL_SOURCE_DIR "/examples/demo-mac", &error);
    ASSERT_TRUE(machine) << error;
    platform::Platform p = machine->platform();
    FaultPlugIns faults(*p.plugIns, c.rule);
    p.plugIns = &faults;
    platform::ScopedPlatform installed(p);
    KVSmartDeviceDatabase::installDriveDatabase(smallDatabase());
    KVSmartDeviceDatabase::setOffline(true);  // no background update from the entry object
    SentrelFramework framework;
    KVSmartDeviceDatabase::setOffline(false);
    for (int round = 0; round < 3; ++round) {
      int replies = 0;
      framework.runWith(Dict{{"selectedBSD", "disk0"}}, [&](const Dict& reply) {
        ++replies;
        EXPECT_TRUE(c.statuses.count(reply.stringOr("status"))) << reply.stringOr("status");
        const Array& rows = *reply.getArray("properties");
        const Array& healthyRows = *healthy().reply.getArray("properties");
        if (!rows.empty()) {
          ASSERT_EQ(rows.size(), healthyRows.size());
          for (std::size_t i = 1; i < rows.size(); ++i) {
            // A row is the healthy one, or has the unread threshold's 0.
            Dict row = *rows[i].ifDict(), want = *healthyRows[i].ifDict();
            if (row.getInt("thresholdValue") == 0) want.set("thresholdValue", 0);
            EXPECT_EQ(row, want) << "row " << i;
          }
        }
      });
      EXPECT_EQ(replies, 1);
    }
    EXPECT_EQ(faults.openInterfaces(), 0);
  }
}

}  // namespace
}  // namespace sentrel
