// sentrel-embed: a host of the Sentrel library in one file. It lists the
// disks with SMART access, reads each one and prints its health verdict
// with the reasons for it.
//
//   sentrel-embed             this machine's disks (reading them needs root)
//   sentrel-embed --sim DIR   the disks of a simulated machine, such as the
//                             installed demo (/usr/share/sentrel/demo-mac)
//
// The Linux backend is the default platform and uses the system's paths
// (the installed string tables, the system's drive database), so the
// machine needs no setting up. Nothing here downloads: only creating a
// SentrelFramework queues an update of the drive database.
#include <sentrel/health.h>
#include <sentrel/keys.h>
#include <sentrel/platform.h>
#include <sentrel/sim_machine.h>
#include <sentrel/smart_device.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>

namespace {

// Reads every disk of the installed platform and prints its verdict;
// answers how many disks could not be read.
int reportEveryDisk() {
  std::optional<sentrel::Dict> disks = sentrel::KVSMARTDevice::driveInformation();
  if (!disks) {
    std::fprintf(stderr, "sentrel-embed: the disks cannot be listed\n");
    return 1;
  }
  if (disks->empty()) std::printf("no disks with SMART access\n");

  int unreadable = 0;
  for (const sentrel::Dict::Entry& disk : *disks) {
    std::unique_ptr<sentrel::KVSMARTDevice> device =
        sentrel::KVSMARTDevice::deviceWithBSDName(disk.key);
    if (!device) continue;
    const sentrel::Dict* record = disk.value.ifDict();
    std::string model = record ? record->stringOr(sentrel::keys::kDeviceModel) : "";

    // The refresh reads the drive and judges it once; the verdict keeps why.
    if (!device->updateProperties()) {
      const auto& failure = device->failure();
      std::printf("%-8s %-30s cannot be read: %s\n", disk.key.c_str(), model.c_str(),
                  failure ? failure->message().c_str() : "no reason given");
      ++unreadable;
      continue;
    }
    const sentrel::HealthVerdict& verdict = device->healthVerdict();
    std::printf("%-8s %-30s %s\n", disk.key.c_str(), model.c_str(), verdict.word.c_str());
    for (const sentrel::HealthReason& reason : verdict.reasons)
      std::printf("         - %s\n", reason.text.c_str());
  }
  return unreadable;
}

}  // namespace

int main(int argc, char** argv) {
  std::string simFolder;
  if (argc == 3 && std::string(argv[1]) == "--sim") {
    simFolder = argv[2];
  } else if (argc != 1) {
    std::fprintf(stderr, "usage: %s [--sim DIR]\n", argv[0]);
    return 2;
  }
  if (simFolder.empty()) return reportEveryDisk() == 0 ? 0 : 1;

  // A simulated machine stands in for this one while it is installed.
  sentrel::platform::Failure failure;
  std::unique_ptr<sentrel::sim::Machine> machine = sentrel::sim::Machine::load(simFolder, &failure);
  if (!machine) {
    std::fprintf(stderr, "sentrel-embed: %s\n", failure.message().c_str());
    return 2;
  }
  sentrel::platform::ScopedPlatform installed(machine->platform());
  return reportEveryDisk() == 0 ? 0 : 1;
}
