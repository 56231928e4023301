// The full-disk-access probe. The privacy database can be read only by a
// process that holds full disk access itself, so the sqlite3 tool, started
// by the host, lists its access table exactly when the host has the grant;
// the listing then says whether the two other programs have it too.
//
// The listing passes through a temporary file at a fixed path in a shared
// folder. It is created afresh, readable by its owner only and never through
// an existing file or link, and it is removed on every path out.
#include "sentrel/platform.h"
#include "sentrel/sysutil.h"
#include "sysutil/access_listing.h"
#include "sysutil/tools.h"
#include "sysutil/version_rules.h"

namespace sentrel {

namespace {

constexpr std::string_view kTemporaryFile = "/tmp/zel20FDAtemp.temp";
constexpr std::string_view kPrivacyDatabase = "/Library/Application Support/com.apple.TCC/TCC.db";

// Removes the temporary file when the probe ends, if the probe made it.
class TemporaryFile {
 public:
  explicit TemporaryFile(platform::Files& files) : files_(files) {}
  ~TemporaryFile() {
    if (created_) files_.removeFile(kTemporaryFile);
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  bool create(std::string_view contents) {
    created_ = files_.createPrivateFile(kTemporaryFile, contents, nullptr);
    return created_;
  }

 private:
  platform::Files& files_;
  bool created_ = false;
};

}  // namespace

bool isFullDiskAccessSetup() {
  if (KVCompareCurrentSystemVersionWith("10.14") == -1) return false;
  platform::Platform& p = platform::current();
  // An earlier file of the probe is replaced. Anything that remains (another
  // user's file, a link planted after the removal) makes the creation fail.
  p.files->removeFile(kTemporaryFile);
  auto listing = p.processes->run(
      sysutil::kSqliteTool,
      {"-line", "-list", "-newline", "\n", std::string(kPrivacyDatabase), "SELECT * from access;"});
  TemporaryFile temporary(*p.files);
  // A tool that could not be started wrote nothing: an empty file.
  if (!temporary.create(listing.value_or(""))) return false;
  if (!p.files->exists(kTemporaryFile)) return false;
  auto contents = p.files->readFile(kTemporaryFile, nullptr);
  // No output is the answer of a host without full disk access: the tool
  // could not read the database.
  if (!contents || contents->empty() || !sysutil::isAscii(*contents)) return false;
  return sysutil::fullDiskAccessGranted(*contents);
}

}  // namespace sentrel
