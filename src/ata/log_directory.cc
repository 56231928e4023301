#include "ata/log_directory.h"

#include <string>

namespace sentrel::ata {

namespace {

constexpr std::uint16_t kDirectoryVersion = 1;

struct LogName {
  std::uint8_t address;
  std::string_view name;
};

constexpr LogName kLogNames[] = {
    {0x01, "Summary SMART Error"},
    {0x02, "Comprehensive SMART Error"},
    {0x03, "Extended Comprehensive SMART Error"},
    {0x04, "Device Statistics"},
    {0x06, "SMART Selftest"},
    {0x07, "Extended SMART Selftest"},
    {0x09, "Selective Selftest"},
    {0x10, "NCQ Command Error"},
    {0x11, "SATA Phy Event Counters"},
    {0x21, "Write Stream Error"},
    {0x22, "Read Stream Error"},
    {0xE0, "SCT Command/Status"},
    {0xE1, "SCT Data Transfer"},
};

}  // namespace

std::string_view logName(std::uint8_t address) {
  for (const auto& row : kLogNames) {
    if (row.address == address) return row.name;
  }
  return "reserved";
}

LogDirectory decodeLogDirectory(SectorView sector) {
  LogDirectory dir;
  if (load16(sector, 0) != kDirectoryVersion) return dir;
  // kLogNames is in address order, which is the order of the list.
  for (const auto& row : kLogNames) {
    Dict entry{{"logAddress", int{row.address}},
               {"pages", unsigned{load16(sector, 2 * std::size_t{row.address})}},
               {"name", row.name}};
    dir.logs.push_back(Value(entry));
    dir.logDir.set(std::to_string(row.address), Value(std::move(entry)));
  }
  return dir;
}

}  // namespace sentrel::ata
