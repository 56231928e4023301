#include "sentrel/sentrel_framework.h"

#include <array>
#include <cstdio>

#include "core/text.h"
#include "sentrel/drive_database.h"
#include "sentrel/keys.h"
#include "sentrel/platform.h"
#include "sentrel/smart_device.h"

namespace sentrel {

namespace {

// The NVMe health values a reply shows, in this order.
constexpr std::array<keys::Key, 9> kNvmeRows{
    keys::kLowSpare,       keys::kOverTemp,     keys::kLowReliability,
    keys::kReadOnly,       keys::kFailedVMBkup, keys::kAvailableSpare,
    keys::kSpareThreshold, keys::kPercentUsed,  keys::kPercentRemaining};

// The whole ATA reply takes about this long, spread over its rows.
constexpr unsigned kPacingBudgetMs = 1200;

std::int32_t integerOf(const Dict& entry, keys::Key key) {
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
  const Array* volumes = props.getArray(keys::kVolumes);
  if (!volumes) return names;
  for (const Value& v : *volumes) {
    const Dict* volume = v.ifDict();
    const std::string* name = volume ? volume->getString(keys::kVolumeName) : nullptr;
    if (!name) continue;
    if (std::find(names.begin(), names.end(), Value(*name)) == names.end()) names.push_back(*name);
  }
  return names;
}

Array nvmeRows(const Dict& props) {
  Array rows;
  for (keys::Key name : kNvmeRows) {
    const Value* v = props.find(name);
    rows.push_back(Value(
        Dict{{keys::kAttributeName, name}, {keys::kReplyRawAttributeValue, v ? *v : Value("")}}));
  }
  return rows;
}

Array ataRows(const Dict& props, const std::string* status) {
  Array rows;
  const Array* attributes = props.getArray(keys::kVendorSpecificAttributes);
  std::size_t n = attributes ? attributes->size() : 0;
  if (n < 1) return rows;
  platform::Platform& p = platform::current();
  const std::chrono::milliseconds pace(kPacingBudgetMs / n);

  int health = status && *status == keys::kPassed ? 2 : status && *status == keys::kWarning ? 1 : 0;
  rows.push_back(
      Value(Dict{{keys::kReplyAttributeId, 0},
                 {keys::kAttributeName, p.bundles->localizedString("Extended Health", "", "")},
                 {keys::kReplyWorseValue, 0},
                 {keys::kReplyNormalValue, health},
                 {keys::kReplyThresholdValue, 0}}));
  p.clock->sleep(pace);
  for (std::size_t k = 1; k <= n; ++k) {
    const Dict* entry = (*attributes)[k - 1].ifDict();
    Dict empty;
    if (!entry) entry = &empty;
    std::int32_t id = integerOf(*entry, keys::kAttributeId);
    std::string label = p.bundles->localizedString("SMART_" + std::to_string(id), "", "SMART");
    rows.push_back(
        Value(Dict{{keys::kReplyAttributeId, static_cast<std::int64_t>(k)},
                   {keys::kAttributeName, label + " (" + std::to_string(id) + ")"},
                   {keys::kReplyWorseValue, integerOf(*entry, keys::kAttributeWorst)},
                   {keys::kReplyNormalValue, integerOf(*entry, keys::kAttributeValue)},
                   {keys::kReplyThresholdValue, integerOf(*entry, keys::kAttributeThreshold)}}));
    p.clock->sleep(pace);
  }
  return rows;
}

}  // namespace

SentrelFramework::SentrelFramework() {
  KVSmartDeviceDatabase::updateDB();
}

Dict replyForDeviceProperties(const Dict* properties) {
  Dict none;
  const Dict& p = properties ? *properties : none;
  bool isNVMe = booleanOf(p.find(keys::kIsNVMe));
  const std::string* status = p.getString(keys::kAttributeHealth);
  Array rows = isNVMe ? nvmeRows(p) : ataRows(p, status);
  return Dict{{keys::kReplyStatus, status ? Value(*status) : Value(keys::kNoData)},
              {keys::kIsNVMe, isNVMe},
              {keys::kReplyProperties, std::move(rows)},
              {keys::kReplyDeviceName, p.stringOr(keys::kDeviceModel, "-")},
              {keys::kReplySerialNumber, p.stringOr(keys::kSerialNumber, "-")},
              {keys::kVolumes, volumeNames(p)}};
}

SentrelFramework::Check SentrelFramework::check(const Dict& request) {
  std::optional<std::string_view> bsd;
  if (const std::string* s = request.getString(keys::kSelectedBSD)) bsd = *s;
  Check out;
  std::shared_ptr<Dict> props;
  if (auto device = KVSMARTDevice::deviceWithBSDName(bsd)) {
    props = device->updateProperties();
    out.report = driveReport(*device, bsd.value_or(""), props != nullptr);
  } else {
    out.report.disk = std::string(bsd.value_or(""));
  }
  out.reply = replyForDeviceProperties(props.get());
  return out;
}

void SentrelFramework::runWith(const Dict& request, const Reply& reply) {
  reply(check(request).reply);
}

}  // namespace sentrel
