// Where the Linux backend finds the host's resources and keeps its data:
// the system's drive database before the installed copy, /var/lib for root
// and the XDG data folder for everyone else.
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/linux/linux_platform.h"

namespace sentrel::platform {
namespace {

TEST(LinuxDataHome, FollowsTheUserAndTheXdgRules) {
  struct Case {
    const char* name;
    std::string configured;
    unsigned uid;
    const char* xdgDataHome;
    std::string expected;
  };
  const Case cases[] = {
      {"root keeps the system's data", "", 0, "/home/r/.xdg", "/var/lib"},
      {"a user's absolute XDG_DATA_HOME", "", 1000, "/data/u", "/data/u"},
      {"a relative XDG_DATA_HOME is ignored", "", 1000, "rel/data", "/home/u/.local/share"},
      {"an empty XDG_DATA_HOME is ignored", "", 1000, "", "/home/u/.local/share"},
      {"no XDG_DATA_HOME", "", 1000, nullptr, "/home/u/.local/share"},
      {"a host's own folder wins, also for root", "/srv/host", 0, nullptr, "/srv/host"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(dataHomeFor(c.configured, c.uid, c.xdgDataHome, "/home/u"), c.expected) << c.name;
  }
}

class LinuxResourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "sentrel-resources-XXXXXX").string();
    ASSERT_TRUE(::mkdtemp(pattern.data()));
    root_ = pattern;
    options_.resourceDir = path("share/sentrel");
    options_.systemDriveDatabases = {path("var/drivedb.h"), path("usr/drivedb.h")};
  }
  void TearDown() override { std::filesystem::remove_all(root_); }

  std::string path(const std::string& relative) const { return (root_ / relative).string(); }
  void plant(const std::string& relative) const {
    std::filesystem::create_directories((root_ / relative).parent_path());
    std::ofstream(root_ / relative) << "x";
  }

  std::filesystem::path root_;
  LinuxOptions options_;
};

// The database: the system's first copy, then the installed one. Other
// resources come from the resource folder only.
TEST_F(LinuxResourceTest, TheSystemsDatabaseComesFirstOtherResourcesFromTheResourceFolder) {
  const auto database = [&] { return hostResourceFile(options_, "drivedb.h", "driveDatabase"); };
  plant("share/sentrel/driveDatabase/drivedb.h");
  EXPECT_EQ(database(), path("share/sentrel/driveDatabase/drivedb.h"));
  plant("usr/drivedb.h");
  EXPECT_EQ(database(), path("usr/drivedb.h"));
  plant("var/drivedb.h");
  EXPECT_EQ(database(), path("var/drivedb.h"));
  plant("share/sentrel/SMART.strings");
  EXPECT_EQ(hostResourceFile(options_, "SMART.strings", ""), path("share/sentrel/SMART.strings"));
  EXPECT_EQ(hostResourceFile(options_, "drivedb.h", ""), std::nullopt);
  options_.resourceDir.clear();
  EXPECT_EQ(hostResourceFile(options_, "SMART.strings", ""), std::nullopt);
}

}  // namespace
}  // namespace sentrel::platform
