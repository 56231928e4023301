#include "sysutil/tools.h"

#include "sentrel/platform.h"
#include "sentrel/plist_reader.h"

namespace sentrel::sysutil {

std::optional<Value> runPropertyListTool(std::string_view tool,
                                         const std::vector<std::string>& arguments) {
  auto output = platform::current().processes->run(tool, arguments);
  if (!output || output->empty()) return std::nullopt;
  return parsePropertyList(*output, nullptr);
}

std::optional<Value> apfsListing() {
  return runPropertyListTool(kDiskTool, {"apfs", "list", "-plist"});
}

}  // namespace sentrel::sysutil
