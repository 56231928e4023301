#include "platform/registry_tree.h"
#include "core/bytes.h"

namespace sentrel::platform {

std::vector<RegistryEntry> TreeRegistry::descendants(RegistryEntry entry) {
  std::vector<RegistryEntry> out;
  collect(entry, out);
  return out;
}

void TreeRegistry::collect(RegistryEntry entry, std::vector<RegistryEntry>& out) {
  const TreeNode* n = node(entry);
  if (!n) return;
  for (RegistryEntry child : n->children) {
    out.push_back(child);
    collect(child, out);
  }
}

std::optional<RegistryEntry> TreeRegistry::parent(RegistryEntry entry) {
  const TreeNode* n = node(entry);
  if (!n || n->parent == 0) return std::nullopt;
  return n->parent;
}

std::optional<Dict> TreeRegistry::properties(RegistryEntry entry) {
  const TreeNode* n = node(entry);
  if (!n) return std::nullopt;
  return n->properties;
}

std::string TreeRegistry::name(RegistryEntry entry) {
  const TreeNode* n = node(entry);
  return n ? n->name : "";
}

std::string TreeRegistry::className(RegistryEntry entry) {
  const TreeNode* n = node(entry);
  return n ? n->className : "";
}

std::optional<Value> TreeRegistry::searchProperty(RegistryEntry entry, std::string_view key,
                                                  bool searchParents) {
  for (const TreeNode* n = node(entry); n; n = node(n->parent)) {
    if (const Value* v = n->properties.find(key)) return *v;
    if (!searchParents) break;
  }
  return std::nullopt;
}

RegistryEntry TreeRegistry::matchingService(const Dict& match) {
  RegistryEntry limit = handleLimit();
  for (RegistryEntry h = 1; h < limit; ++h) {
    const TreeNode* n = node(h);
    if (!n) continue;
    bool all = true;
    for (const auto& [key, value] : match) {
      const Value* v = n->properties.find(key);
      all = all && v && *v == value;
    }
    if (all) return h;
  }
  return 0;
}

std::optional<Dict> describeNode(const TreeNode* node) {
  if (!node) return std::nullopt;
  return node->description;
}

Status smartChecksumStatus(ConstSector sector) {
  return bytes::checksumSound(sector) ? kSuccess : kGeneralError;
}

}  // namespace sentrel::platform
