// An NVMe drive that fails commands: the demo machine's disk5 behind
// FaultPlugIns, whose failed reads leave noise in the caller's buffer. The
// documented answer of a failed controller read is a zero page decoded like
// any other, so the reading must equal that of the same drive whose pages
// the simulated machine fails (it zero-fills): no noise gets through.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>

#include "nvme/nvme_pages.h"
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

constexpr const char* kDemo = SENTREL_SOURCE_DIR "/examples/demo-mac";
constexpr const char* kUuid = "6C2A1F3E-0B4D-4E8A-9F21-3D5C7A9B1E04";

Dict demoDescription() {
  std::ifstream in(std::string(kDemo) + "/machine.json");
  std::ostringstream text;
  text << in.rdbuf();
  ReadError error;
  std::optional<Value> v = fromJson(text.str(), &error);
  EXPECT_TRUE(v && v->ifDict()) << error.text();
  return v && v->ifDict() ? *v->ifDict() : Dict{};
}

// The "nvme" block of the demo's disk5.
Dict& disk5Nvme(Dict& description) {
  for (Value& disk : *description.find("disks")->ifArray()) {
    if (disk.ifDict()->getDict("description")->stringOr("DAMediaBSDName") != "disk5") continue;
    for (Value& ancestor : *disk.ifDict()->find("ancestors")->ifArray())
      if (Value* nvme = ancestor.ifDict()->find("nvme")) return *nvme->ifDict();
  }
  ADD_FAILURE() << "the demo machine has no NVMe disk5";
  static Dict none;
  return none;
}

struct Outcome {
  std::optional<Dict> props;
  Dict reply;
  std::vector<DriveCommand> commands;
  std::vector<std::string> syslog;
  int openAfter = -1;
};

Outcome refresh(const Dict& description, const std::string& folder, const std::string& bsd,
                FaultPlugIns::Rule rule) {
  Outcome out;
  platform::Failure error;
  auto machine = sim::Machine::fromJsonText(toJson(Value(description)), folder, &error);
  if (!machine) {
    ADD_FAILURE() << error;
    return out;
  }
  platform::Platform p = machine->platform();
  FaultPlugIns faults(*p.plugIns, std::move(rule));
  p.plugIns = &faults;
  platform::ScopedPlatform installed(p);
  {
    auto device = KVSMARTDevice::deviceWithBSDName(bsd);
    if (!device) {
      ADD_FAILURE() << "no drive record for " << bsd;
      return out;
    }
    if (auto props = device->updateProperties()) out.props = *props;
  }
  out.reply = replyForDeviceProperties(out.props ? &*out.props : nullptr);
  out.commands = faults.commands();
  out.openAfter = faults.openInterfaces();
  for (const Dict& d : machine->calls("syslog")) out.syslog.push_back(d.stringOr("line"));
  return out;
}

FaultPlugIns::Rule none() {
  return [](std::size_t, const std::string&) { return platform::kSuccess; };
}
FaultPlugIns::Rule failing(std::set<std::string> names) {
  return [names = std::move(names)](std::size_t, const std::string& name) {
    return names.count(name) ? platform::kNoDevice : platform::kSuccess;
  };
}

TEST(NvmeDriveFaultsTest, FailedControllerReadsDecodeAsZeroPagesNotAsWhatTheBufferHeld) {
  // The wrapper's command names of the four pages, and the machine's keys.
  const std::map<std::string, std::string> pageOf{{"readIdentifyData", "identify"},
                                                  {"readLogPage 2", "health"},
                                                  {"readLogPage 1", "errorLog"},
                                                  {"readLogPage 3", "firmwareLog"}};
  struct Case {
    const char* name;
    FaultPlugIns::Rule rule;
    std::set<std::string> failed;
  } cases[] = {
      {"identify", failing({"readIdentifyData"}), {"readIdentifyData"}},
      {"health log", failing({"readLogPage 2"}), {"readLogPage 2"}},
      {"error log", failing({"readLogPage 1"}), {"readLogPage 1"}},
      {"firmware log", failing({"readLogPage 3"}), {"readLogPage 3"}},
      {"every 2nd command", FaultPlugIns::everyNth(2), {"readLogPage 2", "readLogPage 3"}},
      {"every 3rd command", FaultPlugIns::everyNth(3), {"readLogPage 1"}},
      {"gone after opening",
       FaultPlugIns::gone(),
       {"readIdentifyData", "readLogPage 2", "readLogPage 1", "readLogPage 3"}},
  };
  const Dict demo = demoDescription();
  const Outcome healthy = refresh(demo, kDemo, "disk5", none());
  ASSERT_TRUE(healthy.props);
  EXPECT_EQ(healthy.commands.size(), 4u);

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Outcome o = refresh(demo, kDemo, "disk5", c.rule);
    std::set<std::string> failed;
    for (const DriveCommand& d : o.commands)
      if (d.status != 0) failed.insert(d.name);
    EXPECT_EQ(failed, c.failed);

    // The same drive whose pages the machine itself fails.
    Dict zeroed = demo;
    for (const std::string& name : c.failed)
      disk5Nvme(zeroed).set(pageOf.at(name), Dict{{"status", "0xE00002C0"}});
    Outcome oracle = refresh(zeroed, kDemo, "disk5", none());

    ASSERT_TRUE(o.props);
    ASSERT_TRUE(oracle.props);
    EXPECT_EQ(*o.props, *oracle.props);
    EXPECT_EQ(o.reply, oracle.reply);
    EXPECT_EQ(o.openAfter, 0);
  }
}

TEST(NvmeDriveFaultsTest, ADriveGoneAfterOpeningGivesTheZeroPageReading) {
  Outcome o = refresh(demoDescription(), kDemo, "disk5", FaultPlugIns::gone());
  ASSERT_TRUE(o.props);
  // The documented answer of reads that fail: zeros, decoded. No critical
  // warning bit, no temperature, nothing used.
  EXPECT_EQ(*o.props->find("criticalWarning"), Value(0u));
  EXPECT_EQ(o.props->stringOr("attributeHealth"), "Passed");
  EXPECT_EQ(*o.props->find("percentUsed"), Value(0u));
  EXPECT_EQ(*o.props->find("percentRemaining"), Value(100u));
  EXPECT_EQ(*o.props->find("temperature"), Value(0u));
  EXPECT_TRUE(o.props->getArray("errorLog")->empty());
  EXPECT_TRUE(o.props->getArray("firmwareSlots")->empty());
  // The record's own keys are untouched.
  EXPECT_EQ(o.props->stringOr("bsdName"), "disk5");
  EXPECT_EQ(o.reply.stringOr("status"), "Passed");
  EXPECT_EQ(o.reply.stringOr("deviceName"), "Samsung SSD 970 EVO Plus 1TB");
  EXPECT_EQ(o.reply.getArray("properties")->size(), 9u);
  EXPECT_EQ(o.openAfter, 0);
}

// The namespace reading, asked when the controller cannot be opened, logs
// the failed step and merges the registry group only: noise left in its
// buffers is never decoded.
TEST(NvmeDriveFaultsTest, AFailedNamespaceReadMergesOnlyTheRegistryGroup) {
  struct Case {
    const char* step;
    const char* page;  // the machine's key of the page the step reads
    const char* line;
  } cases[] = {
      {"readIdentifyData", "identify",
       "readNVMe error plugin: 00000000 query: 00000000 ident: e00002c0 data: 00000000 "},
      {"readHealthData", "health",
       "readNVMe error plugin: 00000000 query: 00000000 ident: 00000000 data: e00002c0 "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.step);
    // disk5's own entry refuses the plug-in; an earlier entry carries the
    // same namespace UUID and answers.
    auto describe = [&](bool machineFails) {
      Dict twin = testing::nvmeDisk("disk9", kUuid);
      twin.set("noDisk", true);
      if (machineFails) testing::nvmeBlock(twin).set(c.page, Dict{{"status", "0xE00002C0"}});
      Dict disk = testing::nvmeDisk("disk5", kUuid);
      testing::nvmeBlock(disk).set("openStatus", "0xE00002C7");
      return Dict{{"systemVersion", "13.6"}, {"disks", Array{Value(twin), Value(disk)}}};
    };
    Outcome o = refresh(describe(false), "/nonexistent", "disk5", failing({c.step}));
    Outcome oracle = refresh(describe(true), "/nonexistent", "disk5", none());
    ASSERT_TRUE(o.props);
    ASSERT_TRUE(oracle.props);
    EXPECT_EQ(*o.props, *oracle.props);
    EXPECT_FALSE(o.props->contains("percentRemaining"));
    EXPECT_FALSE(o.props->contains("attributeHealth"));
    EXPECT_EQ(o.props->stringOr("service_class"), "IONVMeBlockStorageDevice");
    EXPECT_EQ(o.syslog, std::vector<std::string>{c.line});
    EXPECT_EQ(o.reply.stringOr("status"), "No Data");
    EXPECT_EQ(o.openAfter, 0);
  }
}

}  // namespace
}  // namespace sentrel
