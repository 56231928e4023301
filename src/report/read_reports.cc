// Reading several drives at once: records on the calling thread, each
// refresh on a worker, reports in the order asked.
#include <algorithm>
#include <atomic>
#include <thread>

#include "sentrel/drive_database.h"
#include "sentrel/keys.h"
#include "sentrel/report.h"
#include "sentrel/smart_device.h"

namespace sentrel {

std::vector<DriveReport> readDriveReports(const std::vector<std::string>& disks,
                                          const ReadOptions& options) {
  std::vector<DriveReport> reports(disks.size());
  std::vector<std::unique_ptr<KVSMARTDevice>> devices(disks.size());
  bool anyAta = false;
  for (std::size_t i = 0; i < disks.size(); ++i) {
    devices[i] = KVSMARTDevice::deviceWithBSDName(disks[i]);
    if (!devices[i]) {
      reports[i].disk = disks[i];
      continue;
    }
    anyAta = anyAta || !devices[i]->driveProperties()->getBool(keys::kIsNVMe).value_or(false);
  }
  // The workers share one installed database: parse it here, once, rather
  // than in each of them.
  if (anyAta && !KVSmartDeviceDatabase::driveDatabase()) KVSmartDeviceDatabase::unpackDriveDBFile();

  std::atomic<std::size_t> next{0};
  auto work = [&] {
    for (std::size_t i = next++; i < devices.size(); i = next++) {
      if (!devices[i]) continue;
      bool refreshed = devices[i]->updateProperties() != nullptr;
      reports[i] = driveReport(*devices[i], disks[i], refreshed);
    }
  };
  const std::size_t wanted = std::min<std::size_t>(std::max(1u, options.workers), disks.size());
  if (wanted <= 1) {
    work();
    return reports;
  }
  std::vector<std::thread> workers;
  for (std::size_t w = 0; w < wanted; ++w) workers.emplace_back(work);
  for (std::thread& t : workers) t.join();
  return reports;
}

}  // namespace sentrel
