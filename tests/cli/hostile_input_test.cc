// The command line fed hostile input as a user could meet it: files that
// never end, links planted where it writes, a full disk, machine folders
// that reach out of themselves, a database with a runaway pattern. Each row runs `sentrel` and
// checks its exit status, its message, and that nothing was written where it must not be.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "sentrel/value_io.h"
#include "support/fault_texts.h"
#include "support/machines.h"
#include "support/run_cli.h"

namespace sentrel {
namespace {

namespace fs = std::filesystem;
using testing::Outcome;
using testing::runSentrel;

std::string readAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

const std::string kNew = testing::drivedbText(5700, 60);
constexpr const char* kDefaultAddress = "https://www.smartmontools.org/smartdb/drivedb.h";

struct Row {
  std::string args;
  int status;
  std::string says;  // a part of what it prints
};

class HostileInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() /
              ("sentrel-hostile-cli-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    outside_ = folder_ / "outside";
    fs::create_directories(outside_);
    std::ofstream(outside_ / "victim") << "precious";
  }
  void TearDown() override { fs::remove_all(folder_); }

  // A machine folder with one SATA drive, its description as given.
  fs::path machine(const std::string& name, Dict description = {}) {
    const fs::path at = folder_ / name;
    fs::create_directories(at);
    if (!description.contains("disks")) description.set("disks", Array{testing::sataDisk("disk0")});
    std::ofstream(at / "machine.json") << toJson(Value(std::move(description)));
    return at;
  }
  void run(const std::vector<Row>& rows) {
    for (const Row& row : rows) {
      Outcome r = runSentrel(row.args);
      EXPECT_EQ(r.status, row.status) << row.args << "\n" << r.out;
      EXPECT_NE(r.out.find(row.says), std::string::npos) << row.args << "\n" << r.out;
      expectOutsideUntouched();
    }
  }
  void expectOutsideUntouched() {
    EXPECT_EQ(readAll(outside_ / "victim"), "precious");
    EXPECT_EQ(std::distance(fs::directory_iterator(outside_), fs::directory_iterator()), 1)
        << "something was written outside";
  }

  fs::path folder_, outside_;
};

TEST_F(HostileInputTest, FilesThatNeverEndAreRefusedAtOnce) {
  const fs::path endless = machine("endless");
  fs::remove(endless / "machine.json");
  fs::create_symlink("/dev/zero", endless / "machine.json");
  Dict disk = testing::sataDisk("disk0");
  testing::ataBlock(disk).set("smartData", "fifo");
  const fs::path piped = machine("piped", Dict{{"disks", Array{Value(disk)}}});
  ASSERT_EQ(::mkfifo((piped / "fifo").c_str(), 0600), 0);
  run({
      {"--sim " + endless.string() + " list", 1,
       "machine.json: cannot read the machine description: not a regular file"},
      // A sector file is read when a command asks for it.
      {"--sim " + piped.string() + " device disk0", 4,
       "$.disks[0].ancestors[1].ata.smartData: cannot read sector file " +
           (piped / "fifo").string() + ": not a regular file"},
  });
}

TEST_F(HostileInputTest, NothingIsWrittenThroughALinkOrToAFullDisk) {
  // An earlier capture whose sector folder someone replaced by a link.
  const std::string demo = "--sim " + std::string(SENTREL_SOURCE_DIR) + "/examples/demo-mac ";
  const fs::path linkedSectors = folder_ / "capture";
  fs::create_directories(linkedSectors);
  std::ofstream(linkedSectors / ".sentrel-capture") << "";
  fs::create_symlink(outside_, linkedSectors / "sectors");
  fs::create_directories(folder_ / "notes");
  std::ofstream(folder_ / "notes" / "todo.txt") << "mine";
  run({
      {demo + "capture disk0 " + linkedSectors.string(), 1,
       (linkedSectors / "sectors").string() + ": is a symbolic link, which is not followed here"},
      {demo + "capture disk0 " + (folder_ / "notes").string(), 1,
       "is not empty and holds no earlier capture"},
  });
  EXPECT_EQ(readAll(folder_ / "notes" / "todo.txt"), "mine");

  // Output to a full disk: the message reaches stderr, the status says so.
  const std::string command = std::string(SENTREL_CLI_PATH) + " db presets 2>&1 >/dev/full";
  FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_TRUE(pipe);
  std::string said;
  char buf[256];
  while (std::size_t n = std::fread(buf, 1, sizeof buf, pipe)) said.append(buf, n);
  const int raw = ::pclose(pipe);
  EXPECT_EQ(WEXITSTATUS(raw), 1) << said;
  EXPECT_EQ(said, "sentrel: cannot write the output: No space left on device\n");
}

// Everything a machine folder names stays inside it: the machine does not
// load otherwise, so its update never stores a database elsewhere. The
// first row shows where a loadable machine does store it.
TEST_F(HostileInputTest, AMachineFolderCannotWriteOutsideItself) {
  std::ofstream(folder_ / "served.h") << kNew;
  auto served = [&](const std::string& name, Dict description) {
    const fs::path at = machine(name, std::move(description));
    fs::copy_file(folder_ / "served.h", at / "served.h");
    return at;
  };
  const Dict downloads{{kDefaultAddress, "served.h"}};
  const fs::path good = served("good", Dict{{"downloads", downloads}});
  const fs::path climbing =
      served("climbing", Dict{{"host", Dict{{"home", "../outside"}}}, {"downloads", downloads}});
  const fs::path linkedHome = served("linked-home", Dict{{"downloads", downloads}});
  fs::create_symlink(outside_, linkedHome / "home");
  const fs::path fetched = served("fetched", Dict{{"downloads", Dict{{kDefaultAddress, "../x"}}}});
  const std::string update = " db update --db-source https://www.smartmontools.org";
  run({
      {"--sim " + good.string() + update, 0, "stored " + good.string() + "/home/Library/"},
      {"--sim " + climbing.string() + update, 1,
       "$.host.home: \"../outside\" leads out of the machine folder"},
      {"--sim " + linkedHome.string() + update, 1,
       "$.host.home: the home folder " + linkedHome.string() + "/home leads out"},
      {"--sim " + fetched.string() + update, 1,
       "$.downloads." + std::string(kDefaultAddress) + ": \"../x\" leads out"},
  });
  EXPECT_EQ(readAll(good / "home/Library/Application Support/Sentrel/driveDatabase/drivedb.h"),
            kNew);
}

// One runaway pattern and one that does not compile: `db parse` names both
// entries, and a lookup of a 40-character model passes them by (each given
// up once it runs into the time limit) to the entry after them.
TEST_F(HostileInputTest, RunawayAndBrokenPatternsAreNamedAndPassedBy) {
  const std::string file = (folder_ / "runaway.h").string();
  std::ofstream(file) << testing::kDrivedbHeader
                      << "const drive_settings builtin_knowndrives[] = {\n"
                         "  { \"VERSION: 7.5/1 2025-01-01 12:00:00\", \"-\", \"-\", \"\", \"\" },\n"
                         "  { \"DEFAULT\", \"-\", \"-\", \"\", \"-v 9,raw48,Power_On_Hours\" },\n"
                         "  { \"Runaway family\", \"(a+)+$\", \"\", \"\", \"\" },\n"
                         "  { \"Broken family\", \"ACME (\", \"\", \"\", \"\" },\n"
                         "  { \"Honest family\", \"^a+!$\", \"\", \"\", \"\" },\n};\n";
  const std::string model = std::string(39, 'a') + "!";
  run({
      {"db parse " + file, 0,
       "sentrel: warning: entry 1 (Runaway family): model pattern \"(a+)+$\" exceeds the match "
       "time limit"},
      {"db parse " + file, 0,
       "sentrel: warning: entry 2 (Broken family): model pattern \"ACME (\" does not compile "
       "(U_REGEX_MISMATCHED_PAREN"},
      {"db lookup --db " + file + " " + model, 0, "modelfamily: Honest family"},
  });
}

}  // namespace
}  // namespace sentrel
