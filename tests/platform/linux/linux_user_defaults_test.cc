// User defaults and private files on this machine, in a folder of the test's
// own.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "platform/linux/linux_platform.h"
#include "platform/linux/linux_system.h"
#include "sentrel/value_io.h"

namespace sentrel::platform {
namespace {

class LinuxStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "sentrel-store-XXXXXX").string();
    ASSERT_TRUE(::mkdtemp(pattern.data()));
    folder_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  std::string path(const std::string& name) const { return (folder_ / name).string(); }

  std::filesystem::path folder_;
};

TEST_F(LinuxStoreTest, DefaultsPersistAcrossStoresOfOneFile) {
  std::string file = path("Sentrel/defaults.json");
  LinuxUserDefaults first([&] { return file; }, linuxFiles());
  EXPECT_FALSE(first.get("KVCurrentSWVers"));
  first.set("KVCurrentSWVers", Value("14.5"));
  first.set("KVCurrentSWVersDict", Value(Dict{{"ProductVersion", "14.5"}}));
  first.set("KVCurrentSWVers", Value("14.6"));

  LinuxUserDefaults second([&] { return file; }, linuxFiles());
  EXPECT_EQ(second.get("KVCurrentSWVers"), Value("14.6"));
  EXPECT_EQ(second.get("KVCurrentSWVersDict"), Value(Dict{{"ProductVersion", "14.5"}}));

  auto text = linuxFiles().readFile(file, nullptr);
  ASSERT_TRUE(text);
  EXPECT_EQ(fromJson(*text, nullptr),
            Value(Dict{{"KVCurrentSWVers", "14.6"},
                       {"KVCurrentSWVersDict", Dict{{"ProductVersion", "14.5"}}}}));
}

TEST_F(LinuxStoreTest, ADamagedStoreReadsEmptyAndIsReplaced) {
  std::string file = path("defaults.json");
  ASSERT_TRUE(linuxFiles().writeFileAtomically(file, "{not json", nullptr));
  LinuxUserDefaults store([&] { return file; }, linuxFiles());
  EXPECT_FALSE(store.get("anything"));
  store.set("key", Value(1));
  EXPECT_EQ(fromJson(*linuxFiles().readFile(file, nullptr), nullptr), Value(Dict{{"key", 1}}));
}

TEST_F(LinuxStoreTest, TheStoreLivesInTheConfigurationFolder) {
  const char* saved = std::getenv("XDG_CONFIG_HOME");
  std::string restore = saved ? saved : "";
  ::setenv("XDG_CONFIG_HOME", "/xdg/config", 1);
  EXPECT_EQ(userDefaultsFile("Sentrel", "/home/u"), "/xdg/config/Sentrel/defaults.json");
  ::setenv("XDG_CONFIG_HOME", "relative/config", 1);
  EXPECT_EQ(userDefaultsFile("Sentrel", "/home/u"), "/home/u/.config/Sentrel/defaults.json");
  ::unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(userDefaultsFile("Host", "/home/u"), "/home/u/.config/Host/defaults.json");
  if (saved) ::setenv("XDG_CONFIG_HOME", restore.c_str(), 1);
}

// A private file is new and the owner's only; a second creation, or one at
// a planted link (dangling or not), is refused and writes nothing.
TEST_F(LinuxStoreTest, PrivateFilesAreNewAndTheOwnersOnly) {
  std::string file = path("probe.temp");
  Failure error;
  ASSERT_TRUE(linuxFiles().createPrivateFile(file, "listing\n", &error)) << error.message();
  struct stat st {};
  ASSERT_EQ(::lstat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(::symlink(file.c_str(), path("link").c_str()), 0);
  ASSERT_EQ(::symlink(path("target").c_str(), path("dangling").c_str()), 0);
  for (const char* name : {"probe.temp", "link", "dangling"})
    EXPECT_FALSE(linuxFiles().createPrivateFile(path(name), "again", &error)) << name;
  EXPECT_EQ(linuxFiles().readFile(file, nullptr), "listing\n");
  EXPECT_FALSE(linuxFiles().exists(path("target")));
}

}  // namespace
}  // namespace sentrel::platform
