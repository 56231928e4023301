// Drive lookups with arbitrary model and firmware strings: the input is the
// model, a zero byte, then the firmware.
//
// Two databases are searched. The installed one is smartmontools' own
// drivedb.h, parsed once, searched through the class as the library does.
// A small one of hand-written entries (anchors, alternations, character
// classes, a pattern that does not compile) is searched both with its
// patterns cached and compiled afresh, and the two searches must agree.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <string_view>

#include "drivedb/drive_search.h"
#include "fuzz_input.h"
#include "sentrel/drive_database.h"
#include "sentrel/drivedb_parser.h"

namespace {

using sentrel::DriveDatabase;
using sentrel::DriveDatabaseEntry;
using sentrel::KVSmartDeviceDatabase;
using sentrel::fuzz::fail;

constexpr const char* kSmallDatabase = R"db(
const drive_settings builtin_knowndrives[] = {
  { "VERSION: 7.5/5700 2025-01-01 12:00:00", "-", "-", "", "" },
  { "DEFAULT", "-", "-", "", "-v 9,raw24(raw8),Power_On_Hours" },
  { "Seagate BarraCuda 3.5", "ST(1000|2000|3000)DM00[5-8]-.*", "", "", "-v 1,raw24/raw32 -v 7,raw24/raw32" },
  { "Samsung based SSDs", "Samsung SSD 8[56]0 (EVO|PRO) .*", "^RVT0[1-4]B6Q$", "", "-v 177,raw48,Wear_Leveling_Count" },
  { "Broken pattern", "([unclosed", "", "", "" },
  { "Unicode", "Caf\u00e9 \u2603+ SSD", "\d{2}\.\d", "", "" },
  { "Backrefs", "^(X+)\1$", "(.)\1", "", "" },
  { "Empty model", "", "", "", "" },
  { "Anything", ".*", "Z", "", "" },
};
)db";

std::unique_ptr<sentrel::drivedb::SearchableDatabase> small;
DriveDatabase smallCopy;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::ifstream file(SENTREL_FUZZ_DRIVEDB, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::optional<DriveDatabase> real = sentrel::parseDriveDatabase(text);
  if (!real || real->drives.size() < 100) fail("cannot parse " SENTREL_FUZZ_DRIVEDB);
  KVSmartDeviceDatabase::installDriveDatabase(std::move(*real));

  std::optional<DriveDatabase> parsed = sentrel::parseDriveDatabase(kSmallDatabase);
  if (!parsed || parsed->drives.size() != 8) fail("the small database does not parse");
  smallCopy = *parsed;
  small = std::make_unique<sentrel::drivedb::SearchableDatabase>(std::move(*parsed));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::string_view model = input.substr(0, input.find('\0'));
  const std::string_view firmware = input.substr(std::min(model.size() + 1, size));

  // The installed database: the real patterns on any model and firmware.
  KVSmartDeviceDatabase::lookupDriveModel(model, firmware);

  // The small database: cached and fresh patterns find the same entry.
  const DriveDatabaseEntry* cached = small->lookup(model, firmware);
  const DriveDatabaseEntry* fresh =
      sentrel::drivedb::lookupCompilingEachTime(smallCopy, model, firmware);
  const auto index = [](const DriveDatabase& db, const DriveDatabaseEntry* e) {
    return e ? e - db.drives.data() : -1;
  };
  if (index(small->database(), cached) != index(smallCopy, fresh))
    fail("cached and fresh searches disagree", model);
  return 0;
}
