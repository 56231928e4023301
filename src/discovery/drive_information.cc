// Drive discovery: every whole, partitioned (or blank) disk below a
// controller that offers ATA SMART or NVMe SMART access becomes one drive
// record, cached under its BSD name.
#include <array>

#include "core/text.h"
#include "discovery/drive_records.h"
#include "sentrel/keys.h"
#include "sentrel/platform.h"

namespace sentrel::discovery {

namespace {

using platform::RegistryEntry;

constexpr std::string_view kExtensionsFolder = "/System/Library/Extensions";
constexpr std::string_view kStorageFamilyBundle = "/System/Library/Extensions/IOStorageFamily.kext";
constexpr double kIconSize = 256;

// The disk-arbitration content value of a kept disk and its display name.
struct Scheme {
  std::string_view content;
  std::string_view name;
};
constexpr std::array<Scheme, 4> kSchemes{{
    {"", "Unformatted"},
    {keys::kApmScheme, "Apple Partition Map"},
    {keys::kMbrScheme, "Master Boot Record"},
    {keys::kGuidScheme, "GUID Partition Map"},
}};

// Lower-case names of volumes that are never listed.
constexpr std::array<std::string_view, 10> kHiddenVolumes{
    "boot osx",    "boot os x", "efi",  "preboot",  "recovery",
    "recovery hd", "vm",        "xart", "hardware", "iscpreboot",
};

std::optional<std::string_view> schemeName(std::string_view content) {
  for (const Scheme& s : kSchemes) {
    if (s.content == content) return s.name;
  }
  return std::nullopt;
}

bool isHiddenVolume(std::string_view volumeName) {
  std::string lower = text::asciiLower(text::lastPathComponent(volumeName));
  for (std::string_view hidden : kHiddenVolumes) {
    if (lower == hidden) return true;
  }
  return false;
}

std::string trimmed(const Dict& d, std::string_view key) {
  const std::string* s = d.getString(key);
  return s ? std::string(text::trimWhitespace(*s)) : std::string();
}

// Walks up from the medium (starting at its parent) to the first ancestor
// whose properties satisfy `wanted`.
template <typename Pred>
std::optional<std::pair<RegistryEntry, Dict>> findAncestor(platform::Registry& registry,
                                                           RegistryEntry medium, Pred wanted) {
  for (auto at = registry.parent(medium); at; at = registry.parent(*at)) {
    auto props = registry.properties(*at);
    if (props && wanted(*props)) return std::make_pair(*at, std::move(*props));
  }
  return std::nullopt;
}

class Enumeration {
 public:
  explicit Enumeration(platform::Platform& p)
      : p_(p), extensionNames_(p.files->listDirectory(kExtensionsFolder)) {}

  // The record of one whole medium, or nothing when it is not kept.
  std::optional<std::pair<std::string, Dict>> record(RegistryEntry medium) {
    auto description = p_.diskArbitration->describe(medium);
    if (!description) return std::nullopt;
    std::string bsdName = description->stringOr(keys::kDAMediaBSDName);
    std::string content = description->stringOr(keys::kDAMediaContent);
    auto scheme = schemeName(content);
    if (bsdName.empty() || !scheme || !description->getBool(keys::kDAMediaWhole).value_or(false))
      return std::nullopt;

    bool internal = description->getBool(keys::kDADeviceInternal).value_or(false);
    bool removable = description->getBool(keys::kDAMediaRemovable).value_or(false);
    Value icon = diskIcon(*description, internal, removable);
    Array volumes = volumeList(medium, content);

    auto identity = findAncestor(*p_.registry, medium,
                                 [](const Dict& d) { return d.contains(keys::kSerialNumber); });
    std::string serial, model;
    if (identity) {
      const Dict& id = identity->second;
      serial = trimmed(id, keys::kSerialNumber);
      model = trimmed(id, id.contains(keys::kModel) ? keys::kModel : keys::kModelNumber);
    }

    auto smart = findAncestor(*p_.registry, medium, [](const Dict& d) {
      return d.contains(keys::kSmartCapable) || d.contains(keys::kNvmeSmartCapable);
    });
    if (!smart) return std::nullopt;
    auto& [service, record] = *smart;
    bool isNVMe = !record.contains(keys::kSmartCapable);

    const Dict* characteristics = record.getDict(keys::kDeviceCharacteristics);
    Dict noCharacteristics;
    if (!characteristics) characteristics = &noCharacteristics;
    std::string driveType = driveTypeText(*characteristics);
    std::string firmware = trimmed(*characteristics, keys::kProductRevisionLevel);

    if (model.empty()) model = description->stringOr(keys::kDAMediaName);
    if (model.empty()) model = bsdName;

    auto [deviceLocation, locCon] = location(service, record);

    Value nvmeRev = p_.registry->searchProperty(service, keys::kNvmeRevisionSupported, true)
                        .value_or(Value(""));
    Value iconDict("");
    if (const Dict* d = description->getDict(keys::kDAMediaIcon)) iconDict = *d;
    auto blockSize = description->find(keys::kDAMediaBlockSize);
    std::uint64_t sectorSize = blockSize ? blockSize->toUInt().value_or(0) : 0;
    auto mediaSize = description->find(keys::kDAMediaSize);

    record.set("nvmeRevSupported", std::move(nvmeRev));
    record.set(keys::kIsNVMe, isNVMe);
    record.set(keys::kBsdName, bsdName);
    record.set(keys::kDeviceModel, model);
    record.set(keys::kSerialNumber, serial);
    record.set(keys::kFirmwareVersion, firmware);
    record.set(keys::kDriveType, driveType);
    record.set("isInternal", internal);
    record.set("isRemovable", removable);
    record.set("mediaType", driveType);
    record.set(keys::kUserCapacity, mediaSize ? mediaSize->toUInt().value_or(0) : std::uint64_t{0});
    record.set("sectorSizeStr", std::to_string(sectorSize) + " bytes physical");
    record.set("diskIcon", std::move(icon));
    record.set("diskIconDict", std::move(iconDict));
    record.set("diskMfgLogo", "");
    record.set("scheme", std::string(*scheme));
    record.set(keys::kVolumes, std::move(volumes));
    record.set("deviceLocation", deviceLocation);
    record.set(keys::kLocCon, locCon);
    record.set(keys::kRegistryService, std::uint64_t{service});
    return std::make_pair(std::move(bsdName), std::move(record));
  }

 private:
  // The generic storage icon for the kind of disk, replaced by the icon its
  // own driver bundle names when one of the system's extensions is that bundle.
  Value diskIcon(const Dict& description, bool internal, bool removable) {
    const char* generic = internal    ? "Internal.icns"
                          : removable ? "Removable.icns"
                                      : "External.icns";
    std::optional<Image> icon = p_.bundles->bundleImage(kStorageFamilyBundle, generic);
    const Dict* iconDict = description.getDict(keys::kDAMediaIcon);
    const std::string* bundleId = iconDict ? iconDict->getString("CFBundleIdentifier") : nullptr;
    std::string resource = iconDict ? iconDict->stringOr("IOBundleResourceFile") : "";
    if (bundleId && extensionNames_) {
      for (const std::string& name : *extensionNames_) {
        std::string path = std::string(kExtensionsFolder) + "/" + name;
        auto id = p_.bundles->bundleIdentifier(path);
        if (id && *id == *bundleId) {
          icon = p_.bundles->bundleImage(path, resource);
          break;
        }
      }
    }
    if (!icon) return Value(Image{});
    icon->width = icon->height = kIconSize;
    return Value(std::move(*icon));
  }

  Array volumeList(RegistryEntry medium, const std::string& content) {
    Array volumes;
    for (RegistryEntry child : p_.registry->descendants(medium)) {
      if (!p_.registry->searchProperty(child, keys::kBSDName, false)) continue;
      auto description = p_.diskArbitration->describe(child);
      if (!description) continue;
      const std::string* volumeName = description->getString(keys::kDAVolumeName);
      if (!volumeName || isHiddenVolume(*volumeName)) continue;
      volumes.push_back(
          Value(Dict{{keys::kVolumeContent, content}, {keys::kVolumeName, *volumeName}}));
    }
    return volumes;
  }

  static std::string driveTypeText(const Dict& characteristics) {
    std::string medium = characteristics.stringOr(keys::kMediumType);
    medium = text::replaceAll(medium, "Solid State", "SSD");
    medium = text::replaceAll(medium, "Rotational", "HDD");
    std::string rate;
    if (const Value* r = characteristics.find(keys::kRotationRate))
      rate = text::formatObject(*r) + " rpm";
    return medium + " " + rate;
  }

  // "deviceLocation" and keys::kLocCon of the drive.
  std::pair<std::string, std::string> location(RegistryEntry service, const Dict& record) {
    auto controller = p_.registry->searchProperty(service, keys::kControllerCharacteristics, true);
    const Dict* cc = controller ? controller->ifDict() : nullptr;
    if (cc && cc->stringOr(keys::kVendorName) == "Thunderbolt") return {"", "External Thunderbolt"};

    const Dict* protocol = record.getDict(keys::kProtocolCharacteristics);
    const Value* interconnect = protocol ? protocol->find(keys::kPhysicalInterconnect) : nullptr;
    const Value* where = protocol ? protocol->find(keys::kPhysicalInterconnectLocation) : nullptr;

    std::string deviceLocation;
    if (auto loc = p_.registry->searchProperty(service, keys::kDeviceLocationProperty, true)) {
      if (const Data* bytes = loc->ifData()) {
        std::string_view s(reinterpret_cast<const char*>(bytes->data()), bytes->size());
        if (text::isValidUtf8(s)) deviceLocation = s;
      } else if (const std::string* s = loc->ifString()) {
        deviceLocation = *s;
      }
    }
    std::string suffix = deviceLocation.empty() ? "" : "- " + deviceLocation;
    // A missing location reads "-", as a missing interconnect does.
    std::string locCon = (where ? text::formatObject(*where) : "-") + " " +
                         (interconnect ? text::formatObject(*interconnect) : "-") + " " + suffix;
    return {deviceLocation, locCon};
  }

  platform::Platform& p_;
  std::optional<std::vector<std::string>> extensionNames_;
};

// Empties the cache and fills it from a fresh enumeration; false when no
// disk-arbitration session can be had.
bool rebuild(DeviceClassState& state) {
  state.driveInformation = Dict{};
  platform::Platform& p = platform::current();
  if (!p.diskArbitration->createSession()) return false;
  Enumeration enumeration(p);
  for (RegistryEntry medium : p.registry->wholeMedia()) {
    if (auto found = enumeration.record(medium))
      state.driveInformation.set(std::move(found->first), Value(std::move(found->second)));
  }
  return true;
}

}  // namespace

bool isKeptContent(std::string_view content) {
  return schemeName(content).has_value();
}

std::optional<Dict> enumerateDriveRecords() {
  DeviceClassState& state = deviceClassState();
  if (!rebuild(state)) return std::nullopt;
  return state.driveInformation;
}

std::optional<Dict> driveRecord(std::optional<std::string_view> bsdName) {
  std::string_view name = bsdName ? text::lastPathComponent(*bsdName) : std::string_view();
  DeviceClassState& state = deviceClassState();
  if (const Dict* hit = state.driveInformation.getDict(name)) return *hit;
  if (!rebuild(state)) return std::nullopt;
  if (const Dict* found = state.driveInformation.getDict(name)) return *found;
  return std::nullopt;
}

}  // namespace sentrel::discovery
