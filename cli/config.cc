// The configuration files of `sentrel`: the machine's, then the user's,
// whose settings win. Each line is "key = value"; blank lines and lines
// that start with "#" are skipped.
//
//   auto-update = yes|no  a command that reads a drive also queues a
//                         background update of the drive database (default no)
//   db-source = URL       an https:// or http:// base address for database
//                         updates, tried in the order written; one file's list
//                         replaces the default addresses and any list read
//                         before it
//   data-home = PATH      the folder sentrel keeps its data under (the stored
//                         drive database in PATH/sentrel/driveDatabase/)
//                         instead of /var/lib for root and the XDG data
//                         folder for other users
//
// The man page (docs/sentrel.1.scd, FILES) describes the same.
#include <algorithm>
#include <cctype>
#include <string_view>

#include "cli.h"
#include "sentrel/drive_database.h"
#include "sentrel/linux_platform.h"

namespace sentrel::cli {

namespace {

constexpr std::string_view kSystemConfig = "/etc/sentrel/sentrel.conf";

std::string_view trimmed(std::string_view text) {
  constexpr std::string_view blanks = " \t\r";
  std::size_t first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

std::string lowered(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

std::optional<bool> booleanOf(std::string_view value) {
  std::string v = lowered(value);
  if (v == "yes" || v == "true" || v == "on" || v == "1") return true;
  if (v == "no" || v == "false" || v == "off" || v == "0") return false;
  return std::nullopt;
}

// Reads one file's settings over `config`; false after saying which line
// is wrong.
bool readSettings(std::string_view text, const std::string& path, Config& config) {
  std::vector<std::string> sources;
  std::size_t lineNumber = 0;
  for (std::size_t start = 0; start <= text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = trimmed(text.substr(start, end - start));
    start = end + 1;
    ++lineNumber;
    if (line.empty() || line.front() == '#') continue;

    const std::string where = path + ":" + std::to_string(lineNumber) + ": ";
    std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
      complain(where + "expected \"key = value\", got \"" + std::string(line) + "\"");
      return false;
    }
    std::string_view key = trimmed(line.substr(0, equals));
    std::string_view value = trimmed(line.substr(equals + 1));
    if (key == "auto-update") {
      std::optional<bool> on = booleanOf(value);
      if (!on) {
        complain(where + "auto-update takes yes or no, got \"" + std::string(value) + "\"");
        return false;
      }
      config.autoUpdate = *on;
    } else if (key == "db-source") {
      if (!value.starts_with("https://") && !value.starts_with("http://")) {
        complain(where + "db-source takes an https:// or http:// address, got \"" +
                 std::string(value) + "\"");
        return false;
      }
      sources.emplace_back(value);
    } else if (key == "data-home") {
      if (!value.starts_with("/")) {
        complain(where + "data-home takes an absolute path, got \"" + std::string(value) + "\"");
        return false;
      }
      config.dataHome = value;
    } else {
      complain(where + "unknown key \"" + std::string(key) +
               "\" (the keys are auto-update, db-source and data-home)");
      return false;
    }
  }
  if (!sources.empty()) config.downloadSources = std::move(sources);
  return true;
}

// The configuration files in the order they are read.
std::vector<std::string> configFiles() {
  return {std::string(kSystemConfig), platform::userConfigHome() + "/sentrel/sentrel.conf"};
}

}  // namespace

std::optional<Config> loadConfig(platform::Files& files) {
  Config config;
  for (const std::string& path : configFiles()) {
    platform::Failure failure;
    std::optional<std::string> text = files.readFile(path, &failure);
    if (!text) {
      if (failure.kind == platform::Failure::Kind::notFound) continue;
      complain("cannot read the configuration file " + failure.message());
      return std::nullopt;
    }
    if (!readSettings(*text, path, config)) return std::nullopt;
  }
  return config;
}

void applyConfig(const Config& config, const Context& ctx) {
  // The command line downloads only when asked to: `db update`, or the
  // configuration's auto-update. A host that wants the library's own
  // behaviour (an update with every entry object) leaves offline unset.
  KVSmartDeviceDatabase::setOffline(ctx.offline || !config.autoUpdate);
  if (!config.downloadSources.empty())
    KVSmartDeviceDatabase::setDownloadSources(config.downloadSources);
}

}  // namespace sentrel::cli
