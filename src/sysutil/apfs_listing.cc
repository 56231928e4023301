#include "sysutil/apfs_listing.h"

#include "core/text.h"
#include "sentrel/sysutil.h"
#include "sysutil/affixes.h"

namespace sentrel::sysutil {

namespace {

constexpr std::string_view kRoleNames[] = {"System", "Data", "Preboot", "Recovery", "VM", "Backup"};

std::string_view reference(const Dict& container) {
  const std::string* ref = container.getString("ContainerReference");
  return ref ? std::string_view(*ref) : std::string_view();
}

// The physical store that backs a container, by the system's generation.
std::string_view physicalStore(const Dict& container, bool olderThan1013) {
  if (!olderThan1013) {
    const std::string* store = container.getString("DesignatedPhysicalStore");
    return store ? std::string_view(*store) : std::string_view();
  }
  const Array* stores = container.getArray("PhysicalStores");
  if (!stores || stores->empty() || !(*stores)[0].ifDict()) return {};
  const std::string* id = (*stores)[0].ifDict()->getString("DeviceIdentifier");
  return id ? std::string_view(*id) : std::string_view();
}

// The first role of a volume; null when it has none.
const std::string* firstRole(const Dict& volume) {
  const Array* roles = volume.getArray("Roles");
  if (!roles || roles->empty()) return nullptr;
  return (*roles)[0].ifString();
}

}  // namespace

const Array* listingContainers(const Value& listing) {
  const Dict* top = listing.ifDict();
  const Array* containers = top ? top->getArray("Containers") : nullptr;
  if (!containers || containers->empty()) return nullptr;
  return containers;
}

std::optional<Dict> findContainer(const Array& containers, std::string_view name,
                                  bool olderThan1013) {
  std::string_view component = text::lastPathComponent(name);
  for (const Value& item : containers) {
    const Dict* container = item.ifDict();
    if (!container) continue;
    if (container->getString("ContainerReference") && component == reference(*container))
      return *container;
    if (hasSuffix(name, physicalStore(*container, olderThan1013))) return *container;
  }
  return std::nullopt;
}

std::optional<std::string> findRoleVolume(const Array& containers, std::string_view shortName,
                                          std::string_view role) {
  for (const Value& item : containers) {
    const Dict* container = item.ifDict();
    if (!container || !hasPrefix(shortName, reference(*container))) continue;
    const Array* volumes = container->getArray("Volumes");
    if (!volumes) continue;
    for (const Value& v : *volumes) {
      const Dict* volume = v.ifDict();
      if (!volume) continue;
      const std::string* first = firstRole(*volume);
      if (!first || *first != role) continue;
      // The first volume of the role decides, even one without a name.
      const std::string* id = volume->getString("DeviceIdentifier");
      if (!id) return std::nullopt;
      return *id;
    }
  }
  return std::nullopt;
}

std::int32_t volumeRoleCode(const Array& containers, std::string_view bsdName) {
  for (const Value& item : containers) {
    const Dict* container = item.ifDict();
    if (!container || !hasPrefix(bsdName, reference(*container))) continue;
    const Array* volumes = container->getArray("Volumes");
    if (!volumes) continue;
    for (const Value& v : *volumes) {
      const Dict* volume = v.ifDict();
      const std::string* id = volume ? volume->getString("DeviceIdentifier") : nullptr;
      if (!id || *id != bsdName) continue;
      const std::string* first = firstRole(*volume);
      if (!first) return kAPFSRoleOther;
      for (std::int32_t code = 0; code < static_cast<std::int32_t>(std::size(kRoleNames)); ++code) {
        if (*first == kRoleNames[code]) return code;
      }
      return kAPFSRoleOther;
    }
  }
  return kAPFSRoleOther;
}

}  // namespace sentrel::sysutil
