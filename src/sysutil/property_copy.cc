// The deep mutable copy of a property-list value. Values already copy
// deeply; what the copy adds is the rule that only property lists are
// copied: a tree holding a display value (styled text, a colour, an image)
// or nothing at all has no copy, as such a value has none on the platform.
#include "sentrel/sysutil.h"

namespace sentrel {

namespace {

bool isWholePropertyList(const Value& v) {
  if (v.isNull() || !v.isPropertyList()) return false;
  if (const Array* a = v.ifArray()) {
    for (const Value& item : *a)
      if (!isWholePropertyList(item)) return false;
  }
  if (const Dict* d = v.ifDict()) {
    for (const auto& e : *d)
      if (!isWholePropertyList(e.value)) return false;
  }
  return true;
}

}  // namespace

std::optional<Value> KVDeepMutableCopyPropertyListObject(const Value& object) {
  if (!isWholePropertyList(object)) return std::nullopt;
  // A Value copies its whole tree and each owner may change its copy, so a
  // plain copy is already deep and mutable at every level.
  return object;
}

}  // namespace sentrel
