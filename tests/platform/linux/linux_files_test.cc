// Files on this machine as hostile input meets them: files that never end
// are refused at once, nothing is written through a link planted at a file
// or a folder, every failed write is reported, and a store cleans up the
// temporary files that killed writers left (but not a live writer's). Then
// the user defaults and private files kept in such files.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "platform/linux/linux_platform.h"
#include "platform/linux/linux_system.h"
#include "sentrel/linux_platform.h"
#include "sentrel/value_io.h"

namespace sentrel::platform {
namespace {

namespace fs = std::filesystem;

std::string readAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class LinuxFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "sentrel-files-XXXXXX").string();
    ASSERT_TRUE(::mkdtemp(pattern.data()));
    folder_ = pattern;
    outside_ = folder_ / "outside";
    fs::create_directories(outside_);
    std::ofstream(outside_ / "victim") << "precious";
  }
  void TearDown() override { fs::remove_all(folder_); }

  // Nothing was written outside: the victim is whole and alone.
  void expectOutsideUntouched() {
    EXPECT_EQ(readAll(outside_ / "victim"), "precious");
    EXPECT_EQ(std::distance(fs::directory_iterator(outside_), fs::directory_iterator()), 1);
  }

  fs::path folder_, outside_;
};

TEST_F(LinuxFilesTest, OnlyRegularFilesOfBoundedSizeAreRead) {
  ASSERT_EQ(::mkfifo((folder_ / "fifo").c_str(), 0600), 0);
  // Sparse: as long as the limit allows and one byte more, without the disk space.
  { std::ofstream(folder_ / "huge"); }
  fs::resize_file(folder_ / "huge", fileSizeLimit() + 1);
  std::ofstream(folder_ / "small") << "text";
  struct Case {
    std::string path;
    const char* reason;  // nothing: the file is read
  } cases[] = {
      {"/dev/zero", "not a regular file"},
      {(folder_ / "fifo").string(), "not a regular file"},  // would wait for a writer
      {(folder_ / "huge").string(), "larger than the limit of 67108864 bytes"},
      {(folder_ / "missing").string(), "No such file or directory"},
      {(folder_ / "small").string(), nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    Failure failure;
    std::optional<std::string> text = linuxFiles().readFile(c.path, &failure);
    EXPECT_EQ(text.has_value(), c.reason == nullptr);
    if (c.reason) {
      EXPECT_EQ(failure.message(), c.path + ": " + c.reason);
    }
  }
}

// The text is read into memory sized from the file's length, and grows
// when the file has more than its length said (procfs says 0).
TEST_F(LinuxFilesTest, ReadsTheWholeTextWhateverItsLengthSays) {
  std::string large;
  for (std::size_t i = 0; large.size() < 300001; ++i) large += std::to_string(i) + ',';
  large.resize(300001);
  struct Case {
    std::string path;
    std::string content;  // the whole text, or for procfs its start
    bool prefix;
  } cases[] = {
      {(folder_ / "empty").string(), "", false},
      {(folder_ / "small").string(), "text", false},
      {(folder_ / "large").string(), large, false},
      {"/proc/self/status", "Name:", true},
  };
  for (const Case& c : cases)
    if (!c.prefix) std::ofstream(c.path, std::ios::binary) << c.content;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    std::optional<std::string> text = linuxFiles().readFile(c.path, nullptr);
    ASSERT_TRUE(text.has_value());
    if (c.prefix) {
      EXPECT_GT(text->size(), 200u);
      EXPECT_EQ(text->substr(0, c.content.size()), c.content);
      EXPECT_NE(text->find("\nVmPeak:"), std::string::npos);
    } else {
      EXPECT_EQ(*text, c.content);
    }
  }
}

TEST_F(LinuxFilesTest, WritesInAFolderNeverFollowALinkAndSayWhyTheyFailed) {
  const fs::path into = folder_ / "into";
  fs::create_directories(into / "real");
  fs::create_symlink(outside_ / "victim", into / "link");
  fs::create_symlink(outside_, into / "linked");
  std::ofstream(into / "existing") << "old";
  struct Case {
    std::string folder, name;
    bool mustBeNew;
    std::string failure;  // "" : written
  } cases[] = {
      {into.string(), "link", false,
       into.string() + "/link: is a symbolic link, which is not followed here"},
      {into.string(), "link", true, into.string() + "/link: File exists"},
      {into.string(), "linked/new.bin", false,
       into.string() + "/linked: is a symbolic link, which is not followed here"},
      {into.string(), "../outside/victim", false,
       into.string() + "/../outside/victim: not a relative file name of plain components"},
      {"/dev", "full", false, "/dev/full: write failed: No space left on device"},
      {into.string(), "existing", false, ""},
      {into.string(), "real/new/deeper.bin", true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder + " " + c.name);
    Failure failure;
    const bool written = linuxFiles().writeFileIn(c.folder, c.name, "new", c.mustBeNew, &failure);
    EXPECT_EQ(written, c.failure.empty());
    if (!c.failure.empty()) {
      EXPECT_EQ(failure.message(), c.failure);
    }
  }
  EXPECT_EQ(readAll(into / "existing"), "new");
  EXPECT_EQ(readAll(into / "real/new/deeper.bin"), "new");
  expectOutsideUntouched();
}

// The folder's entries, sorted.
std::vector<std::string> listing(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// A writer killed while storing leaves its temporary file; the next store
// removes it. A file a live writer holds (locked) stays, and so does
// anything that is not a temporary file of the same target. A store whose
// rename fails (the target is a folder: refused to root too) removes its
// own temporary file.
TEST_F(LinuxFilesTest, AStoreLeavesNoTemporaryFileBehind) {
  const fs::path target = folder_ / "drivedb.h";
  for (const char* name : {"drivedb.h.a1B2c3", "drivedb.h.ZZZZZZ", "drivedb.h.live00",
                           "drivedb.h.new.raw", "drivedb.h.toolong7", "other.h.a1B2c3"})
    std::ofstream(folder_ / name) << "left";
  const int live = ::open((folder_ / "drivedb.h.live00").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(live, 0);
  ASSERT_EQ(::flock(live, LOCK_EX), 0);
  Failure failure;
  ASSERT_TRUE(linuxFiles().writeFileAtomically(target.string(), "stored", &failure))
      << failure.message();
  ::close(live);
  EXPECT_EQ(listing(folder_),
            (std::vector<std::string>{"drivedb.h", "drivedb.h.live00", "drivedb.h.new.raw",
                                      "drivedb.h.toolong7", "other.h.a1B2c3", "outside"}));
  EXPECT_EQ(readAll(target), "stored");

  const fs::path occupied = outside_ / "folder";
  fs::create_directories(occupied / "inside");
  EXPECT_FALSE(linuxFiles().writeFileAtomically(occupied.string(), "new", &failure));
  EXPECT_EQ(failure.message(), occupied.string() + ": rename failed: Is a directory");
  EXPECT_EQ(listing(outside_), (std::vector<std::string>{"folder", "victim"}));
  EXPECT_EQ(listing(occupied), std::vector<std::string>{"inside"});
}

// Values set through one store are read by the next store of the same
// file; a damaged file reads empty and is replaced at the next set.
TEST_F(LinuxFilesTest, DefaultsPersistAndADamagedFileIsReplaced) {
  std::string file = (folder_ / "Sentrel/defaults.json").string();
  ASSERT_TRUE(linuxFiles().writeFileIn(folder_.string(), "Sentrel/defaults.json", "{not json", true,
                                       nullptr));
  LinuxUserDefaults first([&] { return file; }, linuxFiles());
  EXPECT_FALSE(first.get("KVCurrentSWVers"));
  first.set("KVCurrentSWVers", Value("14.5"));
  first.set("KVCurrentSWVersDict", Value(Dict{{"ProductVersion", "14.5"}}));
  first.set("KVCurrentSWVers", Value("14.6"));
  const Value stored(
      Dict{{"KVCurrentSWVers", "14.6"}, {"KVCurrentSWVersDict", Dict{{"ProductVersion", "14.5"}}}});
  LinuxUserDefaults second([&] { return file; }, linuxFiles());
  EXPECT_EQ(second.get("KVCurrentSWVersDict"), *stored.ifDict()->find("KVCurrentSWVersDict"));
  EXPECT_EQ(fromJson(*linuxFiles().readFile(file, nullptr), nullptr), stored);
}

// A private file is new and the owner's only; a second creation, or one at
// a planted link (dangling or not), is refused and writes nothing.
TEST_F(LinuxFilesTest, PrivateFilesAreNewAndTheOwnersOnly) {
  std::string file = (folder_ / "probe.temp").string();
  Failure error;
  ASSERT_TRUE(linuxFiles().createPrivateFile(file, "listing\n", &error)) << error.message();
  struct stat st {};
  ASSERT_EQ(::lstat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  fs::create_symlink(file, folder_ / "link");
  fs::create_symlink(folder_ / "target", folder_ / "dangling");
  for (const char* name : {"probe.temp", "link", "dangling"})
    EXPECT_FALSE(linuxFiles().createPrivateFile((folder_ / name).string(), "again", &error))
        << name;
  EXPECT_EQ(linuxFiles().readFile(file, nullptr), "listing\n");
  EXPECT_FALSE(linuxFiles().exists((folder_ / "target").string()));
}

}  // namespace
}  // namespace sentrel::platform
