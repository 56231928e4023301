#include "sentrel/sentrel_framework.h"

#include <array>
#include <cstdio>

#include "core/text.h"
#include "sentrel/drive_database.h"
#include "sentrel/platform.h"
#include "sentrel/smart_device.h"

namespace sentrel {

namespace {

// The NVMe health values a reply shows, in this order.
constexpr std::array<const char*, 9> kNvmeRows{
    "lowSpare",       "overTemp",       "lowReliability", "readOnly",        "failedVMBkup",
    "availableSpare", "spareThreshold", "percentUsed",    "percentRemaining"};

// The whole ATA reply takes about this long, spread over its rows.
constexpr unsigned kPacingBudgetMs = 1200;

std::int32_t integerOf(const Dict& entry, const char* key) {
  const Value* v = entry.find(key);
  const std::string* s = v ? v->plainText() : nullptr;
  return s ? text::leadingInteger(*s) : 0;
}

bool booleanOf(const Value* v) {
  if (!v) return false;
  if (const bool* b = v->ifBool()) return *b;
  if (auto n = v->toReal()) return *n != 0;
  return false;
}

// Distinct volume names in order of first appearance. A volume without a
// string name (a record a host made itself) is skipped.
Array volumeNames(const Dict& props) {
  Array names;
  const Array* volumes = props.getArray("volumes");
  if (!volumes) return names;
  for (const Value& v : *volumes) {
    const Dict* volume = v.ifDict();
    const std::string* name = volume ? volume->getString("name") : nullptr;
    if (!name) continue;
    if (std::find(names.begin(), names.end(), Value(*name)) == names.end()) names.push_back(*name);
  }
  return names;
}

Array nvmeRows(const Dict& props) {
  Array rows;
  for (const char* name : kNvmeRows) {
    const Value* v = props.find(name);
    rows.push_back(Value(Dict{{"attributeName", name}, {"rawAttributeValue", v ? *v : Value("")}}));
  }
  return rows;
}

Array ataRows(const Dict& props, const std::string* status) {
  Array rows;
  const Array* attributes = props.getArray("vendorspecificAttributes");
  std::size_t n = attributes ? attributes->size() : 0;
  if (n < 1) return rows;
  platform::Platform& p = platform::current();
  const std::chrono::milliseconds pace(kPacingBudgetMs / n);

  int health = status && *status == "Passed" ? 2 : status && *status == "Warning" ? 1 : 0;
  rows.push_back(Value(Dict{{"attributeID", 0},
                            {"attributeName", p.bundles->localizedString("Extended Health", "", "")},
                            {"worseValue", 0},
                            {"normalValue", health},
                            {"thresholdValue", 0}}));
  p.clock->sleep(pace);
  for (std::size_t k = 1; k <= n; ++k) {
    const Dict* entry = (*attributes)[k - 1].ifDict();
    Dict empty;
    if (!entry) entry = &empty;
    std::int32_t id = integerOf(*entry, "ID");
    std::string label = p.bundles->localizedString("SMART_" + std::to_string(id), "", "SMART");
    rows.push_back(Value(Dict{{"attributeID", static_cast<std::int64_t>(k)},
                              {"attributeName", label + " (" + std::to_string(id) + ")"},
                              {"worseValue", integerOf(*entry, "worst")},
                              {"normalValue", integerOf(*entry, "value")},
                              {"thresholdValue", integerOf(*entry, "threshold")}}));
    p.clock->sleep(pace);
  }
  return rows;
}

}  // namespace

SentrelFramework::SentrelFramework() { KVSmartDeviceDatabase::updateDB(); }

Dict replyForDeviceProperties(const Dict* properties) {
  Dict none;
  const Dict& p = properties ? *properties : none;
  bool isNVMe = booleanOf(p.find("isNVMe"));
  const std::string* status = p.getString("attributeHealth");
  Array rows = isNVMe ? nvmeRows(p) : ataRows(p, status);
  return Dict{{"status", status ? *status : "No Data"},
              {"isNVMe", isNVMe},
              {"properties", std::move(rows)},
              {"deviceName", p.stringOr("Device Model", "-")},
              {"deviceSerialNumber", p.stringOr("Serial Number", "-")},
              {"volumes", volumeNames(p)}};
}

void SentrelFramework::runWith(const Dict& request, const Reply& reply) {
  std::optional<std::string_view> bsd;
  if (const std::string* s = request.getString("selectedBSD")) bsd = *s;
  std::shared_ptr<Dict> props;
  if (auto device = KVSMARTDevice::deviceWithBSDName(bsd)) props = device->updateProperties();
  reply(replyForDeviceProperties(props.get()));
}

}  // namespace sentrel
