// What the reading commands (health, metrics, serve) share: the disks
// named or all of them, and how they are read.
#include <algorithm>

#include "cli.h"

namespace sentrel::cli {

NoWake nowakeOfName(const std::string& name) {
  if (name == "sleep") return NoWake::sleep;
  if (name == "standby") return NoWake::standby;
  return NoWake::never;
}

std::optional<std::vector<std::string>> disksToRead(const Context& ctx) {
  if (!ctx.allDisks) return ctx.disks;
  auto all = KVSMARTDevice::driveInformation();
  if (!all) return std::nullopt;
  std::vector<std::string> names;
  for (const auto& e : *all) names.push_back(e.key);
  return names;
}

ReadOptions readOptions(const Context& ctx) {
  ReadOptions o;
  o.workers = ctx.workers;
  o.nowake = nowakeOfName(ctx.nowakeName);
  o.deadline = std::chrono::milliseconds(static_cast<std::int64_t>(ctx.timeoutSeconds * 1000));
  return o;
}

int finishAfter(const Context& ctx, const std::vector<DriveReport>& reports, int status) {
  if (std::any_of(reports.begin(), reports.end(), [](const DriveReport& r) { return r.timedOut; }))
    ctx.readingsLeftRunning = true;
  return status;
}

}  // namespace sentrel::cli
