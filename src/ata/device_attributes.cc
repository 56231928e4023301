// The attribute-table reader of the refresh and the class operations over
// raw values.
#include <array>

#include "ata/attribute_table.h"
#include "ata/raw_value.h"
#include "sentrel/drive_database.h"
#include "sentrel/smart_device.h"

namespace sentrel {

std::optional<Array> KVSMARTDevice::attributes() {
  std::shared_ptr<Dict> props = driveProperties();
  if (!sif_ || !props) return std::nullopt;
  std::array<std::uint8_t, platform::kSectorSize> data{}, thresholds{};
  if (sif_->readSmartData(data) != 0 || !ata::smartDataRevisionAccepted(data) ||
      sif_->validateSmartData(data) != 0) {
    props->set("attributeHealth", "Unknown");
    props->set("health", "Unknown");
    return std::nullopt;
  }
  bool exceeded = false;
  if (sif_->reportStatus(exceeded) != 0) exceeded = false;
  if (sif_->readSmartThresholds(thresholds) != 0) thresholds.fill(0);

  auto entry = KVSmartDeviceDatabase::lookupDriveModel(props->stringOr("Device Model"),
                                                       props->stringOr("Firmware Version"));
  auto database = KVSmartDeviceDatabase::driveDatabase();
  const DriveDatabaseEntry* defaults =
      database && !database->drives.empty() ? &database->drives.front() : nullptr;
  ata::AttributeTable table = ata::buildAttributeTable(data, thresholds, entry.get(), defaults);

  if (table.temperature) props->set("temperature", static_cast<unsigned>(*table.temperature));
  if (table.powerOnHours) props->set("powerOnHours", *table.powerOnHours);
  props->set("vsaDict", std::move(table.plain));
  props->set("Model Family", entry ? entry->modelfamily : "-");
  props->set("vendorspecificAttributes", table.display);
  props->set("Health", exceeded ? "Failed" : "Passed");
  props->set("attributeHealth", exceeded ? "Failed" : table.anyFlagged ? "Warning" : "Passed");
  props->set("healthColor", table.anyFlagged ? Color::red : Color::blue);
  return std::move(table.display);
}

std::string KVSMARTDevice::binaryString(std::uint64_t value, std::uint32_t length) {
  return ata::binaryString(value, length);
}

std::string KVSMARTDevice::decodeRawAttribute(std::span<const std::uint8_t, 12> slot,
                                              std::string_view fmt) {
  return ata::decodeRawAttribute(slot, fmt);
}

bool KVSMARTDevice::raw(std::span<const std::uint8_t, 6> raw, std::int8_t minidx,
                        std::int8_t maxidx, std::uint8_t otc, std::span<std::int16_t, 4> temp) {
  ata::Temperatures t{};
  bool ok = ata::readTemperatures(raw, minidx, maxidx, otc, t);
  std::copy(t.begin(), t.end(), temp.begin());
  return ok;
}

bool KVSMARTDevice::temp(std::uint8_t index, std::uint8_t low, std::uint8_t high, std::uint8_t,
                         std::span<const std::uint8_t, 6> raw) {
  return ata::temperatureInRange(index, low, high, raw);
}

}  // namespace sentrel
