// A lookup that runs only the patterns the literals allow finds what a scan
// of every entry finds, on Debian's database, for the models its own
// comments name, every model the tests and the demo name, and thousands of
// variations of them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>

#include "drivedb/drive_search.h"
#include "support/debian_drivedb.h"

namespace sentrel::drivedb {
namespace {

std::string fileText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// "tested with MODEL/FIRMWARE, MODEL/FIRMWARE and MODEL" in the comments.
void testedModels(std::string_view text, std::set<std::pair<std::string, std::string>>& out) {
  constexpr std::string_view kTested = "tested with ";
  for (std::size_t at = text.find(kTested); at != std::string_view::npos;
       at = text.find(kTested, at + 1)) {
    std::string_view rest = text.substr(at + kTested.size());
    rest = rest.substr(0, rest.find_first_of("\n\""));
    std::size_t start = 0;
    while (start < rest.size()) {
      std::size_t end = rest.find(',', start);
      if (end == std::string_view::npos) end = rest.size();
      std::string item(rest.substr(start, end - start));
      for (std::size_t a; (a = item.find(" and ")) != std::string::npos;) item.replace(a, 5, ",");
      std::stringstream parts(item);
      for (std::string one; std::getline(parts, one, ',');) {
        while (!one.empty() && one.front() == ' ') one.erase(0, 1);
        const std::size_t slash = one.rfind('/');
        if (one.size() < 3) continue;
        if (slash == std::string::npos) {
          out.insert({one, ""});
        } else {
          out.insert({one.substr(0, slash), one.substr(slash + 1)});
        }
      }
      start = end + 1;
    }
  }
}

// Quoted texts of the tests and the demo that look like drive models:
// letters and digits, 6 to 40 characters.
void quotedModels(const std::filesystem::path& folder,
                  std::set<std::pair<std::string, std::string>>& out) {
  for (const auto& file : std::filesystem::recursive_directory_iterator(folder)) {
    const std::string ext = file.path().extension().string();
    if (ext != ".cc" && ext != ".h" && ext != ".json") continue;
    const std::string text = fileText(file.path());
    for (std::size_t open = text.find('"'); open != std::string::npos;) {
      const std::size_t close = text.find('"', open + 1);
      if (close == std::string::npos) break;
      const std::string s = text.substr(open + 1, close - open - 1);
      const bool letter = s.find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ") != std::string::npos;
      const bool digit = s.find_first_of("0123456789") != std::string::npos;
      if (s.size() >= 6 && s.size() <= 40 && letter && digit && s.find('\\') == std::string::npos)
        out.insert({s, ""});
      open = text.find('"', close + 1);
    }
  }
}

// Variations a real model string might take: a character dropped, changed
// or doubled, a suffix or a prefix, the case of a letter.
std::vector<std::string> mutations(const std::string& model, std::mt19937& random) {
  std::vector<std::string> out;
  const auto pick = [&](std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
  };
  for (int k = 0; k < 4 && !model.empty(); ++k) {
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
        m[at] = static_cast<char>(std::isupper(static_cast<unsigned char>(m[at]))
                                      ? std::tolower(m[at])
                                      : std::toupper(m[at]));
        break;
      case 6:
        m.resize(at);
        break;
    }
    out.push_back(std::move(m));
  }
  return out;
}

TEST(LiteralPrefilterProperty, SameEntryAsScanningEveryEntryOnDebiansDatabase) {
  const DriveDatabase* debian = testing::debianDatabase();
  ASSERT_NE(debian, nullptr) << testing::kNoDebianDriveDb;
  const SearchableDatabase searchable(*debian);

  std::set<std::pair<std::string, std::string>> real;
  testedModels(testing::debianText(), real);
  quotedModels(SENTREL_SOURCE_DIR "/tests", real);
  quotedModels(SENTREL_SOURCE_DIR "/examples", real);
  std::vector<std::pair<std::string, std::string>> models(real.begin(), real.end());
  std::mt19937 random(5);
  for (const auto& [model, firmware] : real) {
    for (std::string& m : mutations(model, random)) models.emplace_back(std::move(m), firmware);
  }
  ASSERT_GT(real.size(), 500u);

  std::size_t found = 0;
  for (const auto& [model, firmware] : models) {
    for (const std::string& fw : {firmware, std::string()}) {
      const DriveDatabaseEntry* filtered = searchable.lookup(model, fw);
      const DriveDatabaseEntry* scanned =
          searchable.lookup(model, fw, SearchableDatabase::Scan::everyEntry);
      ASSERT_EQ(filtered, scanned) << "model \"" << model << "\" firmware \"" << fw << "\"";
      if (filtered) ++found;
    }
  }
  // Real models find their entries: the comparison covers matches, not only misses.
  EXPECT_GT(found, models.size() / 2);
  EXPECT_GT(models.size(), 3000u);
}

}  // namespace
}  // namespace sentrel::drivedb
