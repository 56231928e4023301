// An ATA drive that fails commands: the demo machine's disk0 (a full set of
// sectors, Debian's drive database naming its family and attributes)
// behind FaultPlugIns, whose failed reads leave noise in the caller's buffer. Whatever fails, each
// value of the refresh is the healthy one or the documented answer of the reader whose read failed,
// and the access is always released.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "ata/capabilities.h"
#include "sentrel/drive_database.h"
#include "sentrel/sentrel_framework.h"
#include "sentrel/sim_machine.h"
#include "sentrel/smart_device.h"
#include "sentrel/value_io.h"
#include "support/debian_drivedb.h"
#include "support/fault_drives.h"
#include "support/fault_printers.h"
#include "support/pages.h"

namespace sentrel {
namespace {

using testing::FaultPlugIns;

struct Outcome {
  std::optional<Dict> props;  // nothing when the refresh answered nothing
  Dict reply;
  std::vector<std::string> commands;  // "readSmartData#2": name and occurrence
  std::vector<std::string> failed;
};

Outcome refresh(FaultPlugIns::Rule rule) {
  Outcome out;
  platform::Failure error;
  auto machine = sim::Machine::load(SENTREL_SOURCE_DIR "/examples/demo-mac", &error);
  if (!machine) {
    ADD_FAILURE() << error;
    return out;
  }
  testing::FaultyPlatform faulty(machine->platform(), std::move(rule));
  FaultPlugIns& faults = faulty.faults();
  const DriveDatabase* debian = testing::debianDatabase();
  EXPECT_TRUE(debian) << testing::kNoDebianDriveDb;
  if (debian) KVSmartDeviceDatabase::installDriveDatabase(*debian);
  {
    auto device = KVSMARTDevice::deviceWithBSDName("disk0");
    if (!device) {
      ADD_FAILURE() << "no drive record for disk0";
      return out;
    }
    if (auto props = device->updateProperties()) out.props = *props;
    EXPECT_FALSE(device->isOpen()) << "the refresh closes the access whatever failed";
  }
  EXPECT_EQ(faults.openInterfaces(), 0);
  out.reply = replyForDeviceProperties(out.props ? &*out.props : nullptr);
  std::map<std::string, int> seen;
  for (const testing::DriveCommand& c : faults.commands()) {
    out.commands.push_back(c.name + "#" + std::to_string(++seen[c.name]));
    if (c.status != 0) out.failed.push_back(out.commands.back());
  }
  return out;
}

// The keys each command's failure may change: those its reader writes.
std::set<std::string> keysOf(const std::string& command) {
  if (command == "readSmartData#1") {
    std::set<std::string> keys{"capArray", "selftests"};
    for (const auto& e : ata::decodeCapabilities(testing::Sector{}.view())) keys.insert(e.key);
    return keys;
  }
  if (command == "readSmartData#2" || command == "validateSmartData#1" ||
      command == "reportStatus#1" || command == "readSmartThresholds#1")
    return {
        "temperature",     "powerOnHours", "vsaDict", "Model Family", "vendorspecificAttributes",
        "attributeHealth", "healthColor",  "health",  "Health"};
  if (command == "readSmartLog 6#1") return {"selftestResults"};
  if (command == "readSmartLog 0#1") return {"logs", "logDir"};
  if (command == "readSmartLog 1#1")
    return {"errorLog", "errorLogVersion", "errorLogIndex", "errorLogCount"};
  return {};
}

class AtaDriveFaultsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    healthy_ =
        new Outcome(refresh([](std::size_t, const std::string&) { return platform::kSuccess; }));
  }
  static void TearDownTestSuite() { delete healthy_; }
  static Outcome* healthy_;
};
Outcome* AtaDriveFaultsTest::healthy_ = nullptr;

// Each command failing alone: its reader's documented answer, and every key
// it does not write as the healthy drive gives it.
TEST_F(AtaDriveFaultsTest, OneFailedCommandChangesOnlyWhatItsReaderWrites) {
  const Dict& before = *healthy_->props;
  EXPECT_EQ(healthy_->commands,
            (std::vector<std::string>{"enableOperations#1", "readIdentify#1", "readSmartData#1",
                                      "readSmartData#2", "validateSmartData#1", "reportStatus#1",
                                      "readSmartThresholds#1", "readSmartLog 6#1",
                                      "readSmartLog 0#1", "readSmartLog 1#1"}));
  EXPECT_EQ(healthy_->reply.stringOr("status"), "Warning");  // 8 reallocated sectors
  struct Case {
    const char* command;
    std::set<std::string> absent;  // keys the failure removes
    const char* attributeHealth;   // and the verdict it leaves
  } cases[] = {
      {"readIdentify#1", {}, "Warning"},  // read but not used
      {"readSmartData#1", {"Self-test status", "Offline data collection status"}, "Warning"},
      {"readSmartData#2", {"vendorspecificAttributes", "temperature", "Health"}, "Unknown"},
      {"validateSmartData#1", {"vendorspecificAttributes", "powerOnHours"}, "Unknown"},
      // A failed status command counts as no threshold exceeded: disk0 exceeds none.
      {"reportStatus#1", {}, "Warning"},
      // Unread thresholds count as 0: nothing is judged against one.
      {"readSmartThresholds#1", {}, "Warning"},
      {"readSmartLog 6#1", {"selftestResults"}, "Warning"},
      {"readSmartLog 0#1", {}, "Warning"},
      {"readSmartLog 1#1", {"errorLog", "errorLogCount"}, "Warning"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    auto at = std::find(healthy_->commands.begin(), healthy_->commands.end(), c.command);
    Outcome o = refresh(FaultPlugIns::only(at - healthy_->commands.begin() + 1));
    ASSERT_TRUE(o.props);
    EXPECT_EQ(o.failed, std::vector<std::string>{c.command});
    EXPECT_EQ(o.props->stringOr("attributeHealth"), c.attributeHealth);
    for (const std::string& key : c.absent) EXPECT_FALSE(o.props->contains(key)) << key;
    std::set<std::string> mayChange = keysOf(c.command);
    for (const auto& e : before)
      if (!mayChange.count(e.key) && !c.absent.count(e.key)) {
        const Value* now = o.props->find(e.key);
        EXPECT_TRUE(now && *now == e.value) << e.key;
      }
    for (const auto& e : *o.props)
      EXPECT_TRUE(before.contains(e.key) || mayChange.count(e.key)) << "new key " << e.key;
  }
  Outcome thresholds = refresh(FaultPlugIns::only(7));
  for (const Value& row : *thresholds.props->getArray("vendorspecificAttributes")) {
    EXPECT_EQ(*row.ifDict()->find("threshold")->plainText(), "0");
    EXPECT_EQ(*row.ifDict()->find("condition")->plainText(), "Normal");
  }
  Outcome logs = refresh(FaultPlugIns::only(9));
  EXPECT_TRUE(logs.props->getArray("logs")->empty() && logs.props->getDict("logDir")->empty());
  // SMART cannot be enabled, or the drive is gone: nothing more is sent.
  for (const FaultPlugIns::Rule& rule : {FaultPlugIns::only(1), FaultPlugIns::gone()}) {
    Outcome o = refresh(rule);
    EXPECT_FALSE(o.props);
    EXPECT_EQ(o.commands, std::vector<std::string>{"enableOperations#1"});
    EXPECT_EQ(toJson(Value(o.reply), {.indent = -1}),
              R"({"status":"No Data","isNVMe":false,"properties":[],"deviceName":"-",)"
              R"("deviceSerialNumber":"-","volumes":[]})");
  }
}

// Every Nth command failing, at every phase: each value is the healthy one,
// or the one a failed command of its reader gives when it fails alone.
TEST_F(AtaDriveFaultsTest, EveryNthCommandFailingGivesOnlyDocumentedValues) {
  const Dict& before = *healthy_->props;
  std::map<std::string, Outcome> single;
  for (std::size_t i = 0; i < healthy_->commands.size(); ++i)
    single.emplace(healthy_->commands[i], refresh(FaultPlugIns::only(i + 1)));
  for (std::size_t n : {2u, 3u, 4u, 5u, 7u}) {
    for (std::size_t phase = 0; phase < n; ++phase) {
      SCOPED_TRACE("every " + std::to_string(n) + "th command from " + std::to_string(phase));
      Outcome o = refresh([n, phase](std::size_t number, const std::string&) {
        return number % n == phase ? platform::kNoDevice : platform::kSuccess;
      });
      ASSERT_FALSE(o.failed.empty());
      if (o.failed[0] == "enableOperations#1") {
        EXPECT_FALSE(o.props);
        continue;
      }
      ASSERT_TRUE(o.props);
      std::set<std::string> keys;
      for (const Dict* d : {&before, static_cast<const Dict*>(&*o.props)})
        for (const auto& e : *d) keys.insert(e.key);
      for (const std::string& key : keys) {
        std::vector<const Dict*> candidates;
        for (const std::string& f : o.failed)
          if (keysOf(f).count(key)) candidates.push_back(&*single.at(f).props);
        if (candidates.empty()) candidates.push_back(&before);
        const Value* got = o.props->find(key);
        bool matched = false;
        for (const Dict* expected : candidates) {
          const Value* want = expected->find(key);
          matched = matched || (want ? got && *got == *want : got == nullptr);
        }
        EXPECT_TRUE(matched) << key << " = " << (got ? toJson(*got) : std::string("(absent)"));
      }
    }
  }
}

}  // namespace
}  // namespace sentrel
