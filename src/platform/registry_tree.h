// A device registry held as a tree of nodes in memory. The simulated
// machine builds one from its description and the Linux backend builds one
// from sysfs; both answer the registry and disk-arbitration questions the
// same way through the classes below.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sentrel/platform.h"

namespace sentrel::platform {

struct TreeNode {
  std::string className;
  std::string name;
  Dict properties;
  RegistryEntry parent = 0;
  std::vector<RegistryEntry> children;
  // The disk-arbitration description; empty when no disk object can be made.
  std::optional<Dict> description;
};

// The registry over a tree. Subclasses say where node `h` lives.
class TreeRegistry : public Registry {
 public:
  std::vector<RegistryEntry> descendants(RegistryEntry entry) override;
  std::optional<RegistryEntry> parent(RegistryEntry entry) override;
  std::optional<Dict> properties(RegistryEntry entry) override;
  std::string name(RegistryEntry entry) override;
  std::string className(RegistryEntry entry) override;
  // Looks in place instead of copying each entry's properties.
  std::optional<Value> searchProperty(RegistryEntry entry, std::string_view key,
                                      bool searchParents) override;
  RegistryEntry matchingService(const Dict& match) override;

 protected:
  // The node of handle `h`; null for a handle that names nothing.
  virtual const TreeNode* node(RegistryEntry h) = 0;
  // One past the largest handle in use.
  virtual RegistryEntry handleLimit() = 0;

 private:
  void collect(RegistryEntry entry, std::vector<RegistryEntry>& out);
};

// Disk arbitration over a tree: a node's description as it is stored.
std::optional<Dict> describeNode(const TreeNode* node);

// The status of the SMART data checksum rule: the 512 bytes of a sound
// sector sum to 0 modulo 256.
Status smartChecksumStatus(ConstSector sector);

}  // namespace sentrel::platform
