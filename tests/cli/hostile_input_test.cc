// The command line fed hostile input as a user could meet it: files that
// never end, links planted where it writes, a full disk, machine folders
// that reach out of themselves, a database with a runaway pattern, a server
// that answers badly. Each row runs `sentrel` and checks its exit status,
// its message, and that nothing was written where it must not be.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "sentrel/value_io.h"
#include "support/fault_http_server.h"
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

const std::string kOld = testing::drivedbText(5600, 40);
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
  ASSERT_EQ(::mkfifo((folder_ / "fifo").c_str(), 0600), 0);
  const fs::path endless = machine("endless");
  fs::remove(endless / "machine.json");
  fs::create_symlink("/dev/zero", endless / "machine.json");
  Dict disk = testing::sataDisk("disk0");
  testing::ataBlock(disk).set("smartData", "fifo");
  const fs::path piped = machine("piped", Dict{{"disks", Array{Value(disk)}}});
  ASSERT_EQ(::mkfifo((piped / "fifo").c_str(), 0600), 0);
  { std::ofstream(folder_ / "huge.h"); }
  fs::resize_file(folder_ / "huge.h", (std::uint64_t{64} << 20) + 1);
  run({
      {"db parse /dev/zero", 1, "/dev/zero: not a regular file"},
      {"db lookup --db " + (folder_ / "fifo").string() + " ACME", 1, "fifo: not a regular file"},
      {"db parse " + (folder_ / "huge.h").string(), 1, "larger than the limit of 67108864 bytes"},
      {"--sim " + endless.string() + " list", 1,
       "machine.json: cannot read the machine description: not a regular file"},
      // A sector file is read when a command asks for it.
      {"--sim " + piped.string() + " device disk0", 4,
       "$.disks[0].ancestors[1].ata.smartData: cannot read sector file " +
           (piped / "fifo").string() + ": not a regular file"},
  });
}

TEST_F(HostileInputTest, NothingIsWrittenThroughALinkOrToAFullDisk) {
  const fs::path m = machine("m");
  const std::string sim = "--sim " + m.string() + " ";
  fs::create_symlink(outside_ / "victim", folder_ / "journal.jsonl");
  // An earlier capture whose folders and files someone replaced by links.
  const std::string demo = "--sim " + std::string(SENTREL_SOURCE_DIR) + "/examples/demo-mac ";
  const fs::path linkedSectors = folder_ / "capture-a", linkedFile = folder_ / "capture-b";
  for (const fs::path& capture : {linkedSectors, linkedFile}) {
    fs::create_directories(capture);
    std::ofstream(capture / ".sentrel-capture");
  }
  fs::create_symlink(outside_, linkedSectors / "sectors");
  fs::create_symlink(outside_ / "victim", linkedFile / "machine.json");
  fs::create_directories(folder_ / "notes");
  std::ofstream(folder_ / "notes" / "todo.txt") << "mine";
  run({
      {sim + "selftest disk0 short --journal " + (folder_ / "journal.jsonl").string(), 1,
       "cannot write the journal: " + (folder_ / "journal.jsonl").string() +
           ": is a symbolic link, which is not followed here"},
      {sim + "selftest disk0 short --journal /dev/full", 1,
       "cannot write the journal: /dev/full: write failed: No space left on device"},
      {demo + "capture disk0 " + linkedSectors.string(), 1,
       (linkedSectors / "sectors").string() + ": is a symbolic link, which is not followed here"},
      {demo + "capture disk0 " + linkedFile.string(), 1,
       (linkedFile / "machine.json").string() + ": is a symbolic link, which is not followed here"},
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

TEST_F(HostileInputTest, AnEarlierCaptureIsReplacedAndReplays) {
  const std::string demo = "--sim " + std::string(SENTREL_SOURCE_DIR) + "/examples/demo-mac ";
  const fs::path capture = folder_ / "capture";
  ASSERT_EQ(runSentrel(demo + "capture disk0 " + capture.string()).status, 0);
  Outcome again = runSentrel(demo + "capture disk1 " + capture.string());
  ASSERT_EQ(again.status, 0) << again.out;
  Outcome replay = runSentrel("--sim " + capture.string() + " device disk1 --format json");
  EXPECT_EQ(replay.out, runSentrel(demo + "device disk1 --format json").out);
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
  const fs::path absolute = served(
      "absolute", Dict{{"host", Dict{{"home", outside_.string()}}}, {"downloads", downloads}});
  const fs::path climbing =
      served("climbing", Dict{{"host", Dict{{"home", "../outside"}}}, {"downloads", downloads}});
  const fs::path named = served(
      "named", Dict{{"host", Dict{{"bundleName", "../../../outside"}}}, {"downloads", downloads}});
  const fs::path linkedHome = served("linked-home", Dict{{"downloads", downloads}});
  fs::create_symlink(outside_, linkedHome / "home");
  const fs::path linkedLibrary = served("linked-library", Dict{{"downloads", downloads}});
  fs::create_directories(linkedLibrary / "home");
  fs::create_symlink(outside_, linkedLibrary / "home" / "Library");
  const fs::path fetched = served("fetched", Dict{{"downloads", Dict{{kDefaultAddress, "../x"}}}});
  const fs::path twice = machine("twice");
  std::ofstream(twice / "machine.json")
      << R"({"host": {"home": "home", "home": ")" + outside_.string() + R"("}})";
  const std::string update = " db update --db-source https://www.smartmontools.org";
  run({
      {"--sim " + good.string() + update, 0, "stored " + good.string() + "/home/Library/"},
      {"--sim " + absolute.string() + update, 1,
       "$.host.home: \"" + outside_.string() + "\" is an absolute path"},
      {"--sim " + climbing.string() + update, 1,
       "$.host.home: \"../outside\" leads out of the machine folder"},
      {"--sim " + named.string() + update, 1,
       "$.host.bundleName: \"../../../outside\" names a folder of the storage path"},
      {"--sim " + linkedHome.string() + update, 1,
       "$.host.home: the home folder " + linkedHome.string() + "/home leads out"},
      {"--sim " + linkedLibrary.string() + update, 1,
       "$.host.home: the home folder holds a symbolic link"},
      {"--sim " + fetched.string() + update, 1,
       "$.downloads." + std::string(kDefaultAddress) + ": \"../x\" leads out"},
      {"--sim " + twice.string() + update, 1, "$.host.home: the key appears twice in one object"},
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

// `db update` on this machine's own storage folder (in a data folder of the
// test's) names every address it refused and why, and keeps the stored
// file byte for byte.
TEST_F(HostileInputTest, UpdateNamesEveryRefusedAddressAndKeepsTheStoredFile) {
  // The data folder is set in the configuration, so the test stores nothing
  // in the system's folders when it runs as root.
  const fs::path data = folder_ / "data";
  const fs::path stored = data / "sentrel/driveDatabase/drivedb.h";
  fs::create_directories(folder_ / "config/sentrel");
  std::ofstream(folder_ / "config/sentrel/sentrel.conf") << "data-home = " << data.string() << "\n";
  fs::create_directories(stored.parent_path());
  std::ofstream(stored) << kOld;
  testing::FaultHttpServer server(
      {testing::Route{"/missing/", testing::Misbehaviour::notFound, "gone"},
       testing::Route{"/garbage/", testing::Misbehaviour::none,
                      testing::kDrivedbHeader + "garbage\n"},
       testing::Route{"/good/", testing::Misbehaviour::none, kNew}});
  const char* saved = std::getenv("XDG_CONFIG_HOME");
  const std::string restore = saved ? saved : "";
  ::setenv("XDG_CONFIG_HOME", (folder_ / "config").c_str(), 1);
  const std::string update = "db update --db-source " + server.base() + "/missing --db-source " +
                             server.base() + "/garbage";
  Outcome refused = runSentrel(update);
  Outcome tooLarge = runSentrel("db update --max-size 1000 --db-source " + server.base() + "/good");
  const std::string afterBad = readAll(stored);
  Outcome good = runSentrel(update + " --db-source " + server.base() + "/good");
  if (saved)
    ::setenv("XDG_CONFIG_HOME", restore.c_str(), 1);
  else
    ::unsetenv("XDG_CONFIG_HOME");

  EXPECT_EQ(refused.status, 4) << refused.out;
  EXPECT_EQ(refused.out,
            "refused " + server.base() +
                "/missing/smartdb/drivedb.h: the server answered with HTTP status 404\n"
                "refused " +
                server.base() +
                "/garbage/p/smartmontools/code/5728/tree//branches/RELEASE_7_5_DRIVEDB/"
                "smartmontools/drivedb.h?format=raw: does not parse as a drive database (no "
                "version marker)\n"
                "every address failed; the database is unchanged\n");
  EXPECT_EQ(tooLarge.status, 4) << tooLarge.out;
  EXPECT_NE(tooLarge.out.find(": larger than the limit of 1000 bytes\n"), std::string::npos)
      << tooLarge.out;
  EXPECT_TRUE(afterBad == kOld) << "the stored file changed";
  EXPECT_EQ(good.status, 0) << good.out;
  EXPECT_NE(good.out.find("downloaded from " + server.base() + "/good/"), std::string::npos)
      << good.out;
  EXPECT_TRUE(readAll(stored) == kNew);
}

}  // namespace
}  // namespace sentrel
