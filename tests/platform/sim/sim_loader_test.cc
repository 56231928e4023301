#include <gtest/gtest.h>

#include "support/fault_printers.h"

#include <filesystem>
#include <fstream>
#include <functional>

#include "sentrel/sim_machine.h"
#include "sentrel/value_io.h"

namespace sentrel::sim {
namespace {

std::string diskWithAta(const std::string& ata) {
  return R"({"disks": [{"description": {"DAMediaBSDName": "disk0"},
             "ancestors": [{"name": "drive", "properties": {"SMART Capable": true}, "ata": )" +
         ata + "}]}]}";
}

TEST(SimLoaderTest, RefusesMalformedDescriptionsNamingThePath) {
  struct Case {
    std::string json;
    std::string message;  // a part of the error
  } cases[] = {
      {diskWithAta(R"({"smartData": {"$hex": "00"}})"),
       "$.disks[0].ancestors[0].ata.smartData: holds 1 bytes, expected 512"},
      {diskWithAta(R"({"smartData": "../missing.bin"})"),
       "$.disks[0].ancestors[0].ata.smartData: \"../missing.bin\" leads out of the machine folder"},
      {diskWithAta(R"({"logs": {"300": "x.bin"}})"),
       "ata.logs.300: a log address is a number from 0 to 255"},
      {R"({"sytemVersion": "13.0"})", "$.sytemVersion: unknown key"},
      {R"({"disks": [{"ancestors": [{"id": "a"}, {"id": "a"}]}]})",
       "$.disks[0].ancestors[1].id: \"a\" stands twice in one chain of ancestors"},
      {R"({"disks": [{"handle": 2, "ancestors": [{"handle": 2}]}]})",
       "$.disks[0].ancestors[0].handle: handle 2 is already taken"},
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
  platform::Platform& p = machine->platform();
  std::unique_ptr<platform::AtaSmartPlugIn> plugIn;
  std::unique_ptr<platform::AtaSmartInterface> sif;
  ASSERT_EQ(p.plugIns->createAtaPlugIn(*p.registry->parent(1), plugIn, nullptr), 0);
  ASSERT_EQ(plugIn->queryInterface(sif), 0);
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

}  // namespace
}  // namespace sentrel::sim
