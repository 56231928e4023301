// Debian's copy of smartmontools' drive database (smartmontools 7.3): its
// lookups agree with smartctl's own, the literal prefilter finds what a
// scan of every entry finds, and its cache reads back entry for entry.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <set>
#include <sstream>

#include "drivedb/drive_search.h"
#include "support/debian_drivedb.h"

namespace sentrel::drivedb {
namespace {

// What smartctl reads from the database for a drive: the first matching
// entry's model pattern, family and the ids of its "-v" presets.
struct SmartctlAnswer {
  std::string model, family;
  std::vector<std::string> presetIds;
};

SmartctlAnswer askSmartctl(const std::string& model, const std::string& firmware) {
  const std::string command = "smartctl -B " + std::string(testing::kDebianDriveDb) +
                              " -P showall '" + model + "' '" + firmware + "' 2>&1";
  SmartctlAnswer answer;
  FILE* out = ::popen(command.c_str(), "r");
  if (!out) return answer;
  std::string text;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, out)) > 0;) text.append(buffer, n);
  ::pclose(out);
  std::istringstream lines(text.substr(0, text.find("and match these additional entries")));
  bool inPresets = false;
  for (std::string line; std::getline(lines, line);) {
    const auto field = [&](const char* key) {
      return line.starts_with(key) ? line.substr(20) : "";
    };
    if (line.starts_with("MODEL REGEXP:")) answer.model = field("MODEL REGEXP:");
    if (line.starts_with("MODEL FAMILY:")) answer.family = field("MODEL FAMILY:");
    const bool presets = line.starts_with("ATTRIBUTE OPTIONS:");
    inPresets = presets || (inPresets && line.starts_with("  "));
    if (inPresets && line.size() > 20 && std::isdigit(static_cast<unsigned char>(line[20])))
      answer.presetIds.push_back(line.substr(20, line.find(' ', 20) - 20));
  }
  return answer;
}

TEST(DebianDriveDbTest, LookupsAgreeWithSmartctlButWhereDocumented) {
  const DriveDatabase* debian = testing::debianDatabase();
  ASSERT_NE(debian, nullptr) << testing::kNoDebianDriveDb;
  const SearchableDatabase searchable(*debian);
  struct Case {
    const char* model;
    const char* firmware;
    const char* ours;  // our family where it differs from smartctl's
  } cases[] = {
      {"Samsung SSD 850 EVO 500GB", "EMT02B6Q", nullptr},
      {"ST2000DM001-1CH164", "CC26", nullptr},
      {"WDC WD10EZEX-00BN5A0", "01.01A01", nullptr},
      {"INTEL SSDSC2BB080G4", "D2010370", nullptr},
      {"APPLE SSD SM0256F", "UXM2JA1Q", nullptr},
      {"Crucial_CT500MX200SSD1", "MU03", nullptr},
      {"ST3500320AS", "SD15", nullptr},    // the entry for the affected firmware
      {"STM31000340AS", "MX1A", nullptr},  // past it, to the entry for any firmware
      {"NO SUCH DRIVE", "1.0", nullptr},
      // Only warnings lose the backslash of an escaped quote.
      {"TOSHIBA MQ01ABD100", "AX001U", "Toshiba 2.5\\\" HDD MQ01ABD..."},
      // Found anywhere: a hyphen in model and firmware meets DEFAULT's "-",
      // which smartctl never matches.
      {"ST2000DM001-1CH164", "CC-26", "DEFAULT"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.model) + " / " + c.firmware);
    const SmartctlAnswer smartctl = askSmartctl(c.model, c.firmware);
    const DriveDatabaseEntry* found = searchable.lookup(c.model, c.firmware);
    EXPECT_EQ(found ? found->modelfamily : "", c.ours ? c.ours : smartctl.family);
    if (c.ours || !found) continue;
    // smartctl shows the pattern with its C escapes undone.
    std::string model = found->model;
    for (const char* escaped : {"\\\\", "\\\""})
      for (std::size_t at; (at = model.find(escaped)) != std::string::npos;) model.erase(at, 1);
    EXPECT_EQ(model, smartctl.model);
    std::vector<int> ours, theirs;
    for (const AttributePreset& p : found->attributes) ours.push_back(std::stoi(p.id));
    for (const std::string& id : smartctl.presetIds) theirs.push_back(std::stoi(id));
    EXPECT_EQ(ours, theirs);
  }
}

// "tested with MODEL/FIRMWARE, MODEL/FIRMWARE and MODEL" in the comments.
std::set<std::pair<std::string, std::string>> testedModels(std::string_view text) {
  std::set<std::pair<std::string, std::string>> out;
  constexpr std::string_view kTested = "tested with ";
  for (std::size_t at = text.find(kTested); at != std::string_view::npos;
       at = text.find(kTested, at + 1)) {
    std::string rest(text.substr(at + kTested.size()));
    rest = rest.substr(0, rest.find_first_of("\n\""));
    for (std::size_t a; (a = rest.find(" and ")) != std::string::npos;) rest.replace(a, 5, ",");
    std::stringstream parts(rest);
    for (std::string one; std::getline(parts, one, ',');) {
      one.erase(0, one.find_first_not_of(' '));
      if (one.size() < 3) continue;
      const std::size_t slash = one.rfind('/');
      if (slash == std::string::npos)
        out.insert({one, ""});
      else
        out.insert({one.substr(0, slash), one.substr(slash + 1)});
    }
  }
  return out;
}

// Every model the file's comments name, and variations a real model string
// might take: a character dropped, changed or doubled, a suffix or a
// prefix, the case of a letter, the string cut.
std::vector<std::pair<std::string, std::string>> modelsToTry() {
  const auto real = testedModels(testing::debianText());
  std::vector<std::pair<std::string, std::string>> models(real.begin(), real.end());
  std::mt19937 random(5);
  const auto pick = [&](std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
  };
  for (const auto& [model, firmware] : real) {
    for (int k = 0; k < 4; ++k) {
      std::string m = model;
      const std::size_t at = pick(m.size());
      switch (pick(7)) {
        case 0:
          m.erase(at, 1);
          break;
        case 1:
          m[at] = "0123456789ABCDEFGHXZ- "[pick(22)];
          break;
        case 2:
          m.insert(at, 1, m[at]);
          break;
        case 3:
          m += "-" + std::to_string(pick(1000));
          break;
        case 4:
          m = "APPLE HDD " + m;
          break;
        case 5:
          m[at] =
              static_cast<char>(std::islower(m[at]) ? std::toupper(m[at]) : std::tolower(m[at]));
          break;
        case 6:
          m.resize(at);
          break;
      }
      models.emplace_back(std::move(m), firmware);
    }
  }
  return models;
}

TEST(DebianDriveDbTest, LiteralPrefilterFindsWhatAScanOfEveryEntryFinds) {
  const DriveDatabase* debian = testing::debianDatabase();
  ASSERT_NE(debian, nullptr) << testing::kNoDebianDriveDb;
  const SearchableDatabase searchable(*debian);
  const auto models = modelsToTry();
  ASSERT_GT(models.size(), 2500u);
  std::size_t found = 0;
  for (const auto& [model, firmware] : models) {
    for (const std::string& fw : {firmware, std::string()}) {
      const DriveDatabaseEntry* filtered = searchable.lookup(model, fw);
      ASSERT_EQ(filtered, searchable.lookup(model, fw, SearchableDatabase::Scan::everyEntry))
          << "model \"" << model << "\" firmware \"" << fw << "\"";
      if (filtered) ++found;
    }
  }
  EXPECT_GT(found, models.size() / 2) << "the comparison covers matches, not only misses";
}

// Every pattern of the file that has an automaton finds in each of those
// models (or firmware strings) what ICU finds; nearly every pattern has one.
TEST(DebianDriveDbTest, AutomataFindWhatIcuFinds) {
  const DriveDatabase* debian = testing::debianDatabase();
  ASSERT_NE(debian, nullptr) << testing::kNoDebianDriveDb;
  std::vector<std::string> models, firmwares{" "};
  for (auto& [model, firmware] : modelsToTry()) {
    models.push_back(model);
    if (!firmware.empty()) firmwares.push_back(firmware);
  }
  std::size_t patterns = 0, automata = 0, found = 0;
  for (const DriveDatabaseEntry& entry : debian->drives) {
    for (const auto& [pattern, subjects] :
         {std::pair{&entry.model, &models}, std::pair{&entry.firmware, &firmwares}}) {
      ++patterns;
      const std::optional<PatternAutomaton> automaton = PatternAutomaton::of(*pattern);
      if (!automaton) continue;
      ++automata;
      const std::unique_ptr<icu::Regex> compiled = compilePattern(*pattern);
      ASSERT_EQ(!compiled, automaton->matchesNothing()) << *pattern;
      if (!compiled) continue;
      for (const std::string& subject : *subjects) {
        if (!PatternAutomaton::canMatch(subject)) continue;
        const bool icuFinds = findsIn(compiled.get(), icu::utf16Of(subject));
        ASSERT_EQ(automaton->findsIn(subject), icuFinds)
            << "\"" << *pattern << "\" in \"" << subject << "\"";
        found += icuFinds;
      }
    }
  }
  EXPECT_EQ(automata, patterns) << "a pattern of the file needs ICU";
  EXPECT_GT(found, models.size()) << "the comparison covers matches, not only misses";
}

}  // namespace
}  // namespace sentrel::drivedb
