// Simulated machines for the system and volume utilities: a system
// version, the tools with their output, the mount table and statistics.
#pragma once

#include <string>
#include <vector>

#include "sentrel/value.h"
#include "sentrel/value_io.h"
#include "support/machines.h"

namespace sentrel::sysutil_testing {

// One "tools" entry: what `tool` prints for exactly `arguments`.
inline Dict tool(const std::string& path, const Array& arguments, const std::string& output) {
  return Dict{{"tool", path}, {"arguments", arguments}, {"stdout", output}};
}

// The version tool asked for the product version.
inline Dict productVersion(const std::string& output) {
  return tool("/usr/bin/sw_vers", Array{"-productVersion"}, output);
}

// The disk utility's APFS listing, printed as the XML property list of
// `listing`.
inline Dict apfsList(const Value& listing) {
  return tool("/usr/sbin/diskutil", Array{"apfs", "list", "-plist"}, toXmlPlist(listing));
}

// A machine running `version` (through the version tool) with more tools
// and any other top-level keys.
inline Dict machineRunning(const std::string& version, Array tools = {}, Dict more = {}) {
  tools.push_back(Value(productVersion(version + "\n")));
  more.set("tools", Value(std::move(tools)));
  return more;
}

// The journaled runs of one tool.
inline std::vector<Dict> runsOf(testing::TestMachine& m, const std::string& path) {
  std::vector<Dict> out;
  for (const Dict& call : m->calls("process.run")) {
    if (call.stringOr("tool") == path) out.push_back(call);
  }
  return out;
}

}  // namespace sentrel::sysutil_testing
