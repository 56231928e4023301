#include <gtest/gtest.h>

#include "support/fault_printers.h"

#include <filesystem>
#include <fstream>
#include <functional>

#include "sentrel/sim_machine.h"
#include "sentrel/value_io.h"

namespace sentrel::sim {
namespace {

std::string hexSector(std::size_t size) {
  return "{\"$hex\": \"" + std::string(size * 2, '0') + "\"}";
}

std::string diskWithAta(const std::string& ata) {
  return R"({"disks": [{"description": {"DAMediaBSDName": "disk0"},
             "ancestors": [{"name": "drive", "properties": {"SMART Capable": true}, "ata": )" +
         ata + "}]}]}";
}

// The ATA interface of the machine's first disk; null when it cannot be had.
struct OpenAta {
  std::unique_ptr<platform::AtaSmartPlugIn> plugIn;
  std::unique_ptr<platform::AtaSmartInterface> sif;
};
OpenAta openFirstAta(Machine& machine) {
  platform::Platform& p = machine.platform();
  OpenAta out;
  auto service = p.registry->parent(p.registry->wholeMedia().at(0)).value();
  if (p.plugIns->createAtaPlugIn(service, out.plugIn, nullptr) != 0 ||
      out.plugIn->queryInterface(out.sif) != 0)
    out.sif.reset();
  return out;
}

TEST(SimLoaderTest, RefusesMalformedDescriptionsNamingThePath) {
  struct Case {
    std::string json;
    std::string message;  // a part of the error
  } cases[] = {
      {"{", "machine.json: "},
      {"[]", "machine.json: $: expected a dictionary, found array"},
      {R"({"disks": [{"description": 5}]})", "$.disks[0].description: expected a dictionary"},
      {R"({"systemVersion": "1", "systemVersion": "2"})", "the key appears twice"},
      {diskWithAta(R"({"smartData": {"$hex": "00"}})"),
       "$.disks[0].ancestors[0].ata.smartData: holds 1 bytes, expected 512"},
      {diskWithAta(R"({"identify": {"$hex": "0g"}})"),
       "$.disks[0].ancestors[0].ata.identify.$hex: expected pairs of hex digits"},
      {diskWithAta(R"({"smartData": "../missing.bin"})"),
       "$.disks[0].ancestors[0].ata.smartData: \"../missing.bin\" leads out of the machine folder"},
      {diskWithAta(R"({"openStatuses": []})"), "openStatuses: needs at least one status"},
      {diskWithAta(R"({"openStatuses": ["busy"]})"), "openStatuses[0]: expected a 32-bit status"},
      {diskWithAta(R"({"logs": {"300": )" + hexSector(512) + "}}"),
       "ata.logs.300: a log address is a number from 0 to 255"},
      {diskWithAta(R"({"logs": {"08x": )" + hexSector(512) + "}}"),
       "ata.logs.08x: a log address is a number from 0 to 255"},
      {R"({"disks": [{"ancestors": [{"nvme": {"health": )" + hexSector(4096) + "}}]}]}",
       "$.disks[0].ancestors[0].nvme.health: holds 4096 bytes, expected 512"},
      {R"({"disks": [{"ancestors": [{"nvme": {"version": 65536}}]}]})",
       "nvme.version: expected a number from 0 to 65535"},
      {R"({"sytemVersion": "13.0"})", "$.sytemVersion: unknown key"},
      {diskWithAta(R"({"smartData": {"data": {}}})"), "a sector is a file name"},
      {R"({"disks": [{"ancestors": [{"id": "a"}, {"id": "a"}]}]})",
       "$.disks[0].ancestors[1].id: \"a\" stands twice in one chain of ancestors"},
      {R"({"disks": [{"handle": 2, "ancestors": [{"handle": 2}]}]})",
       "$.disks[0].ancestors[0].handle: handle 2 is already taken"},
      {R"({"disks": [{"handle": 0}]})", "expected a number from 1 to 1000000"},
      {R"({"mounts": [{"from": "/dev/disk1"}]})", "machine.json: $.mounts[0]: missing \"on\""},
      {R"({"statfs": {"relative": {}}})", "$.statfs.relative: a statistics path is absolute"},
      {R"({"statfs": {"/": {"blocks": -1}}})",
       "$.statfs./.blocks: expected a whole number from 0 to 18446744073709551615"},
      {R"({"tools": [{"tool": "sw_vers"}]})", "$.tools[0].tool: a tool path is absolute"},
      {R"({"tools": [{"tool": "/t", "stdout": "", "stdoutFile": "x"}]})",
       "$.tools[0]: give \"stdout\" or \"stdoutFile\", not both"},
      {R"({"tools": [{"tool": "/t", "stdoutFile": "no/such/file"}]})",
       "$.tools[0].stdoutFile: cannot read output file"},
  };
  for (const Case& c : cases) {
    platform::Failure error;
    EXPECT_FALSE(Machine::fromJsonText(c.json, "/machines", &error)) << c.json;
    EXPECT_NE(error.message().find(c.message), std::string::npos)
        << "error: " << error << "\nwanted: " << c.message;
  }
}

TEST(SimLoaderTest, ReadsSectorFilesRelativeToTheFolder) {
  auto folder = std::filesystem::temp_directory_path() / "sentrel-sim-loader-test";
  std::filesystem::create_directories(folder);
  {
    std::ofstream(folder / "smart.bin", std::ios::binary) << std::string(512, '\x01');
    std::ofstream(folder / "machine.json")
        << diskWithAta(R"({"smartData": "smart.bin", "openStatuses": [0, "0xE00002BE"],
                          "logs": {"0x06": {"data": "smart.bin", "status": 3},
                                   "010": {"$data": ")" +
                       std::string(1024, 'a') + R"("}}})");
  }
  platform::Failure error;
  auto machine = Machine::load(folder.string(), &error);
  ASSERT_TRUE(machine) << error;
  platform::Platform& p = machine->platform();

  auto service = p.registry->parent(p.registry->wholeMedia().at(0)).value();
  {
    const OpenAta ata = openFirstAta(*machine);
    ASSERT_TRUE(ata.sif);
    std::array<std::uint8_t, 512> buffer{};
    EXPECT_EQ(ata.sif->readSmartData(buffer), 0);
    EXPECT_EQ(buffer[100], 1);
    EXPECT_EQ(ata.sif->readSmartLog(6, buffer), 3);
    EXPECT_EQ(ata.sif->readSmartLog(10, buffer), 0);  // "010" is decimal ten
    EXPECT_EQ(buffer[0], 0xaa);
    EXPECT_NE(ata.sif->readSmartThresholds(buffer), 0);  // not described: fails, zero-filled
    EXPECT_EQ(buffer[100], 0);
  }
  // The second creation answers the second status; the last one repeats.
  std::unique_ptr<platform::AtaSmartPlugIn> plugIn;
  EXPECT_EQ(p.plugIns->createAtaPlugIn(service, plugIn, nullptr), platform::kNoResources);
  EXPECT_EQ(p.plugIns->createAtaPlugIn(service, plugIn, nullptr), platform::kNoResources);
  EXPECT_EQ(machine->calls("ata.createPlugIn").size(), 3u);
  EXPECT_EQ(machine->calls("ata.readSmartLog").at(0), (Dict{{"call", "ata.readSmartLog"},
                                                            {"service", service},
                                                            {"address", 6},
                                                            {"size", std::uint64_t{512}},
                                                            {"status", 3}}));

  std::filesystem::remove(folder / "machine.json");
  EXPECT_FALSE(Machine::load(folder.string(), &error));
  EXPECT_NE(error.message().find("machine.json"), std::string::npos) << error;
  std::filesystem::remove_all(folder);
}

// Sector files are read when a command asks for one, not when the machine
// loads: a bad file then fails the command that reads it, in the words a
// load error would have used, and leaves the other commands alone.
TEST(SimLoaderTest, ABadSectorFileFailsTheCommandThatReadsIt) {
  auto folder = std::filesystem::temp_directory_path() / "sentrel-sim-loader-lazy-test";
  std::filesystem::create_directories(folder);
  std::ofstream(folder / "short.bin", std::ios::binary) << std::string(100, '\x01');
  std::ofstream(folder / "id.bin", std::ios::binary) << std::string(512, '\x02');
  platform::Failure error;
  auto machine = Machine::fromJsonText(
      diskWithAta(
          R"({"smartData": "short.bin", "thresholds": "missing.bin", "identify": "id.bin"})"),
      folder.string(), &error);
  ASSERT_TRUE(machine) << error;
  const OpenAta ata = openFirstAta(*machine);
  ASSERT_TRUE(ata.sif);
  platform::AtaSmartInterface* sif = ata.sif.get();
  std::array<std::uint8_t, 512> buffer{};
  buffer.fill(7);

  struct Case {
    std::function<platform::Status()> read;
    std::string message;  // "" when the command succeeds
  } cases[] = {
      {[&] { return sif->readSmartData(buffer); },
       "machine.json: $.disks[0].ancestors[0].ata.smartData: holds 100 bytes, expected 512"},
      {[&] { return sif->readSmartThresholds(buffer); },
       "machine.json: $.disks[0].ancestors[0].ata.thresholds: cannot read sector file " +
           (folder / "missing.bin").string()},
      {[&] { return sif->readIdentify(buffer); }, ""},
      // A file once refused stays refused.
      {[&] { return sif->readSmartData(buffer); }, "holds 100 bytes, expected 512"},
  };
  for (const Case& c : cases) {
    const platform::Status status = c.read();
    if (c.message.empty()) {
      EXPECT_EQ(status, 0);
      EXPECT_EQ(buffer[0], 2);
      continue;
    }
    EXPECT_NE(status, 0) << c.message;
    EXPECT_EQ(buffer[0], 0) << "a failed read leaves the buffer zero-filled";
    ASSERT_TRUE(sif->lastFailure());
    EXPECT_NE(sif->lastFailure()->message().find(c.message), std::string::npos)
        << *sif->lastFailure() << "\nwanted: " << c.message;
  }
  std::filesystem::remove_all(folder);
}

TEST(SimLoaderTest, SystemFilesHostAndToolsComeFromTheDescription) {
  platform::Failure error;
  auto machine = Machine::fromJsonText(
      R"({"systemVersion": "10.15.7",
          "host": {"bundleName": "Host", "home": "users/me",
                   "localizedStrings": {"SMART": {"SMART_194": "Temperature"}}},
          "tools": [{"tool": "/usr/bin/sw_vers", "arguments": ["-productVersion"], "stdout": "14.5"},
                    {"tool": "/usr/bin/tmutil", "stdout": {"$data": "00ff"}}],
          "userDefaults": {"KVCurrentSWVers": "13.6.1"}})",
      "/m", &error);
  ASSERT_TRUE(machine) << error;
  platform::Platform& p = machine->platform();
  auto version = p.files->readPropertyList("/System/Library/CoreServices/SystemVersion.plist");
  ASSERT_TRUE(version);
  EXPECT_EQ(version->ifDict()->stringOr("ProductVersion"), "10.15.7");
  EXPECT_EQ(p.user->applicationSupportDirectory(), "/m/users/me/Library/Application Support");
  EXPECT_EQ(p.bundles->localizedString("SMART_194", "", "SMART"), "Temperature");
  EXPECT_EQ(p.bundles->localizedString("SMART_9", "Fallback", "SMART"), "Fallback");
  // A tool answers its exact argument list only; every run is journaled.
  EXPECT_EQ(p.processes->run("/usr/bin/sw_vers", {"-productVersion"}), "14.5");
  EXPECT_EQ(p.processes->run("/usr/bin/tmutil", {}), std::string("\x00\xff", 2));
  EXPECT_EQ(p.processes->run("/usr/bin/sw_vers", {}), std::nullopt);
  EXPECT_EQ(*machine->calls("process.run").at(2).find("started"), Value(false));
  p.userDefaults->set("KVCurrentSWVers", Value("14.5"));
  EXPECT_EQ(p.userDefaults->get("KVCurrentSWVers"), Value("14.5"));
  EXPECT_EQ(machine->calls("userDefaults.set").size(), 1u);
}

// A captured drive keeps the registry numbers it had; numbers skipped name
// nothing.
TEST(SimLoaderTest, ExplicitHandlesKeepTheirNumbers) {
  platform::Failure error;
  auto machine = Machine::fromJsonText(
      R"({"disks": [{"handle": 7, "description": {"DAMediaBSDName": "sda"},
          "descendants": [{"handle": 9, "properties": {"BSD Name": "sda1"}}],
          "ancestors": [{"handle": 3, "name": "drive", "properties": {"SMART Capable": true}},
                        {"name": "next"}]}]})",
      "/machines", &error);
  ASSERT_TRUE(machine) << error;
  platform::Registry& r = *machine->platform().registry;
  EXPECT_EQ(r.wholeMedia(), std::vector<platform::RegistryEntry>{7});
  EXPECT_EQ(r.parent(7), 3u);
  EXPECT_EQ(r.name(3), "drive");
  EXPECT_EQ(r.parent(3), 8u);  // the next free number after the medium's
  EXPECT_EQ(r.descendants(7), std::vector<platform::RegistryEntry>{9});
  for (platform::RegistryEntry skipped : {1u, 2u, 4u, 5u, 6u}) {
    EXPECT_FALSE(r.properties(skipped)) << skipped;
    EXPECT_FALSE(r.parent(skipped)) << skipped;
  }
  EXPECT_EQ(r.matchingService(Dict{{"SMART Capable", true}}), 3u);
}

}  // namespace
}  // namespace sentrel::sim
