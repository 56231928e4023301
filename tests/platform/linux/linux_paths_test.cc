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
  EXPECT_EQ(dataHomeFor("", 0, "/home/r/.xdg", "/home/u"), "/var/lib");  // root: the system's
  EXPECT_EQ(dataHomeFor("", 1000, "rel/data", "/home/u"), "/home/u/.local/share");  // relative
  EXPECT_EQ(dataHomeFor("", 1000, nullptr, "/home/u"), "/home/u/.local/share");
  EXPECT_EQ(dataHomeFor("/srv/host", 0, nullptr, "/home/u"), "/srv/host");  // a host's own wins
}

// The database: the system's first copy, then the installed one; not
// looked for outside its folder of the resources.
TEST(LinuxResourceTest, TheSystemsDatabaseComesFirstOtherResourcesFromTheResourceFolder) {
  std::string pattern = (std::filesystem::temp_directory_path() / "sentrel-res-XXXXXX").string();
  ASSERT_TRUE(::mkdtemp(pattern.data()));
  const auto path = [&](const std::string& relative) { return pattern + "/" + relative; };
  LinuxOptions options;
  options.resourceDir = path("share");
  options.systemDriveDatabases = {path("var/drivedb.h"), path("usr/drivedb.h")};
  const auto database = [&] { return hostResourceFile(options, "drivedb.h", "driveDatabase"); };
  for (const char* planted : {"share/driveDatabase/drivedb.h", "usr/drivedb.h", "var/drivedb.h"}) {
    std::filesystem::create_directories(std::filesystem::path(path(planted)).parent_path());
    std::ofstream(path(planted)) << "x";
    EXPECT_EQ(database(), path(planted));
  }
  EXPECT_EQ(hostResourceFile(options, "drivedb.h", ""), std::nullopt);
  std::filesystem::remove_all(pattern);
}

}  // namespace
}  // namespace sentrel::platform
