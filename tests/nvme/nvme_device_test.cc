// An NVMe drive through the seam: the controller reading and the namespace
// reading it falls back to, the refresh that merges them, drives that fail
// commands (FaultPlugIns leaves noise in failed buffers: a failed read must
// decode as the zero page the simulated machine gives), and self-tests.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>

#include "sentrel/nvme.h"
#include "sentrel/sentrel_framework.h"
#include "sentrel/sim_machine.h"
#include "sentrel/smart_device.h"
#include "sentrel/value_io.h"
#include "support/fault_drives.h"
#include "support/fault_printers.h"
#include "support/nvme_disk.h"

namespace sentrel {
namespace {

using testing::FaultPlugIns;
using testing::nvmeBlock;
using testing::nvmeDisk;
using testing::TestMachine;

constexpr const char* kUuid = "6C2A1F3E-0B4D-4E8A-9F21-3D5C7A9B1E04";

std::vector<std::string> calls(const sim::Machine& m) {
  std::vector<std::string> out;
  for (const Dict& d : m.journal()) {
    std::string call = d.stringOr("call");
    if (call == "nvme.readLogPage")
      call += " " + std::to_string(*d.getInt("logId")) + "/" +
              std::to_string(*d.getInt("dwordsMinusOne"));
    out.push_back(call == "syslog" || call == "nslog" ? call + ": " + d.stringOr("line") : call);
  }
  return out;
}

std::uint32_t serviceOf(const std::string& bsd) {
  auto record = KVSMARTDevice::settingsForBSDName(bsd);
  EXPECT_TRUE(record) << bsd;
  return record ? static_cast<std::uint32_t>(*record->find("registryService")->ifUInt()) : 0;
}

TEST(NvmeReadingTest, TheControllerReadingAsksFourPagesAndReleasesThePlugIn) {
  Dict disk = nvmeDisk("disk5", kUuid);
  testing::Page<4096> errors;
  errors.u64(0, 2).u64(64 * 5, 1);
  testing::IdentifyPage id = testing::sampleIdentify();
  id.u8(263, 4);
  nvmeBlock(disk).set("identify", id.sector());
  nvmeBlock(disk).set("errorLog", errors.sector());
  nvmeBlock(disk).set("version", 1);
  nvmeBlock(disk).set("revision", 3);
  TestMachine m{disk};
  std::uint32_t service = serviceOf("disk5");
  m->clearJournal();
  auto reading = kvNVMe().readNVMeForService(service);
  ASSERT_TRUE(reading);
  EXPECT_EQ(
      calls(m.machine()),
      (std::vector<std::string>{"nvme.createPlugIn", "nvme.queryInterface", "nvme.readIdentifyData",
                                "nvme.readLogPage 2/127", "nvme.readLogPage 1/1023",
                                "nvme.readLogPage 3/127", "nvme.release", "nvme.destroyPlugIn"}));
  EXPECT_EQ(m->calls("nvme.createPlugIn")[0].getInt("service"), service);
  EXPECT_EQ(reading->stringOr("nvmeIFRev"), "1.3");
  EXPECT_EQ(*reading->find("percentRemaining"), Value(97u));
  EXPECT_EQ(*reading->find("powerCyclesLo"), Value(1214u));
  EXPECT_EQ(reading->getArray("errorLog")->size(), 2u);
  EXPECT_EQ(reading->getArray("powerStates")->size(), 5u);
  EXPECT_EQ(reading->getArray("firmwareSlots")->size(), 2u);
  EXPECT_FALSE(kvNVMe().readNVMeForService(0));  // handle 0 asks nothing
}

constexpr const char* kDemo = SENTREL_SOURCE_DIR "/examples/demo-mac";

Dict demoDescription() {
  std::ifstream in(std::string(kDemo) + "/machine.json");
  std::ostringstream text;
  text << in.rdbuf();
  std::optional<Value> v = fromJson(text.str(), nullptr);
  EXPECT_TRUE(v && v->ifDict());
  return v && v->ifDict() ? *v->ifDict() : Dict{};
}

// The "nvme" block of the demo's disk5, its sixth disk.
Dict& disk5Nvme(Dict& description) {
  Value& disk5 = description.find("disks")->ifArray()->at(5);
  return *disk5.ifDict()->find("ancestors")->ifArray()->at(1).ifDict()->find("nvme")->ifDict();
}

struct Outcome {
  std::optional<Dict> props;
  Dict reply;
  std::set<std::string> failed;
  std::vector<std::string> syslog;
};

Outcome refresh(const Dict& description, const char* folder, FaultPlugIns::Rule rule) {
  Outcome out;
  platform::Failure error;
  auto machine = sim::Machine::fromJsonText(toJson(Value(description)), folder, &error);
  if (!machine) {
    ADD_FAILURE() << error;
    return out;
  }
  testing::FaultyPlatform faulty(machine->platform(), std::move(rule));
  FaultPlugIns& faults = faulty.faults();
  if (auto props = KVSMARTDevice::deviceWithBSDName("disk5")->updateProperties())
    out.props = *props;
  EXPECT_EQ(faults.openInterfaces(), 0);
  out.reply = replyForDeviceProperties(out.props ? &*out.props : nullptr);
  for (const testing::DriveCommand& d : faults.commands())
    if (d.status != 0) out.failed.insert(d.name);
  for (const Dict& d : machine->calls("syslog")) out.syslog.push_back(d.stringOr("line"));
  return out;
}

FaultPlugIns::Rule failing(std::set<std::string> names) {
  return [names = std::move(names)](std::size_t, const std::string& name) {
    return names.count(name) ? platform::kNoDevice : platform::kSuccess;
  };
}

TEST(NvmeDriveFaultsTest, FailedControllerReadsDecodeAsZeroPagesNotAsWhatTheBufferHeld) {
  const std::map<std::string, std::string> pageOf{{"readIdentifyData", "identify"},
                                                  {"readLogPage 2", "health"},
                                                  {"readLogPage 1", "errorLog"},
                                                  {"readLogPage 3", "firmwareLog"}};
  std::vector<std::pair<FaultPlugIns::Rule, std::set<std::string>>> cases{
      {FaultPlugIns::everyNth(2), {"readLogPage 2", "readLogPage 3"}},
      {FaultPlugIns::everyNth(3), {"readLogPage 1"}},
      {FaultPlugIns::gone(),
       {"readIdentifyData", "readLogPage 2", "readLogPage 1", "readLogPage 3"}}};
  for (const auto& [name, page] : pageOf) cases.push_back({failing({name}), {name}});
  const Dict demo = demoDescription();
  const Outcome healthy = refresh(demo, kDemo, failing({}));
  ASSERT_TRUE(healthy.props);
  for (const auto& [rule, failed] : cases) {
    SCOPED_TRACE(*failed.begin() + " and " + std::to_string(failed.size() - 1) + " more");
    Outcome o = refresh(demo, kDemo, rule);
    EXPECT_EQ(o.failed, failed);
    Dict zeroed = demo;  // the same drive whose pages the machine itself fails
    for (const std::string& name : failed)
      disk5Nvme(zeroed).set(pageOf.at(name), Dict{{"status", "0xE00002C0"}});
    Outcome oracle = refresh(zeroed, kDemo, failing({}));
    ASSERT_TRUE(o.props && oracle.props);
    EXPECT_EQ(*o.props, *oracle.props);
    EXPECT_EQ(o.reply, oracle.reply);
    EXPECT_NE(*o.props, *healthy.props);
  }
  Outcome gone = refresh(demo, kDemo, FaultPlugIns::gone());
  EXPECT_EQ(*gone.props->find("percentRemaining"), Value(100u));
  EXPECT_EQ(*gone.props->find("tempoC"), Value(-273.15f));
  EXPECT_EQ(gone.reply.stringOr("status"), "Passed");
}

// The namespace reading (by UUID), asked when the controller cannot be
// opened: identify and health merged over the registry group; a failed step
// logs one line and merges only the group, never the noise in its buffer.
TEST(NvmeDriveFaultsTest, TheNamespaceReadingAndItsFailedSteps) {
  for (auto [step, page, line] :
       {std::tuple{"", "", ""},
        {"readIdentifyData", "identify", "ident: e00002c0 data: 00000000 "},
        {"readHealthData", "health", "ident: 00000000 data: e00002c0 "}}) {
    SCOPED_TRACE(step);
    const char* pageKey = page;  // a lambda cannot capture a structured binding
    auto describe = [pageKey](bool machineFails) {
      Dict twin = nvmeDisk("disk9", kUuid);
      twin.set("noDisk", true);
      if (machineFails) nvmeBlock(twin).set(pageKey, Dict{{"status", "0xE00002C0"}});
      Dict disk = nvmeDisk("disk5", kUuid);
      nvmeBlock(disk).set("openStatus", "0xE00002C7");
      return Dict{{"systemVersion", "13.6"}, {"disks", Array{Value(twin), Value(disk)}}};
    };
    Outcome o = refresh(describe(false), "/nonexistent", failing({step}));
    ASSERT_TRUE(o.props);
    if (!*step) {
      EXPECT_TRUE(o.syslog.empty());
      EXPECT_EQ(o.props->stringOr("Medium Type"), "Solid State");
      EXPECT_EQ(*o.props->find("mdts"), Value(512));
      EXPECT_EQ(*o.props->find("percentRemaining"), Value(97));
      continue;
    }
    Outcome oracle = refresh(describe(true), "/nonexistent", failing({}));
    ASSERT_TRUE(oracle.props);
    EXPECT_EQ(*o.props, *oracle.props);
    EXPECT_FALSE(o.props->contains("attributeHealth"));
    EXPECT_EQ(o.syslog,
              std::vector<std::string>{
                  std::string("readNVMe error plugin: 00000000 query: 00000000 ") + line});
    EXPECT_EQ(o.reply.stringOr("status"), "No Data");
  }
}

TEST(NvmeSelfTestTest, ATestRunsThroughTheLogAndCanBeAborted) {
  Dict disk = nvmeDisk("disk1", "UUID-1");
  testing::Page<564> log;
  log.u8(4, 0x10).u64(8, 7000);
  for (std::size_t n = 1; n < 20; ++n) log.u8(4 + 28 * n, 0x0F);
  nvmeBlock(disk).set("selfTestLog", log.sector());
  nvmeBlock(disk).set("selfTestRun", Array{20, 60});
  kvNVMe reader;
  {
    TestMachine m{disk};
    std::uint32_t service = serviceOf("disk1");
    ASSERT_EQ(reader.startSelfTest(service, 1), 0);
    EXPECT_EQ(m->calls("nvme.deviceSelfTest").at(0).getInt("code"), 1);
    EXPECT_EQ(reader.readSelfTestLog(service)->currentCompletion, 20);
    ASSERT_EQ(reader.startSelfTest(service, 0xF), 0);  // abort: the log shows nothing running
    auto after = reader.readSelfTestLog(service);
    ASSERT_TRUE(after);
    EXPECT_EQ(after->currentOperation, 0);
    EXPECT_EQ(after->results.at(0).powerOnHours, 7000u);
  }
  Dict without = nvmeDisk("disk1", "UUID-1");
  nvmeBlock(without).set("selftestStatus", "0xE00002C7");
  TestMachine other{without};
  EXPECT_EQ(reader.startSelfTest(serviceOf("disk1"), 1), platform::kUnsupported);
  EXPECT_EQ(reader.lastFailure()->kind, platform::Failure::Kind::unsupported);
  EXPECT_FALSE(reader.readSelfTestLog(serviceOf("disk1")));
}

}  // namespace
}  // namespace sentrel
