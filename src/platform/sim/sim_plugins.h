#pragma once

#include <map>
#include <mutex>

#include "platform/sim/sim_model.h"
#include "sentrel/sim_machine.h"

namespace sentrel::sim {

// Plug-in creation for the drives of a simulated machine. Each ATA drive
// answers its "openStatuses" in turn, the last one repeating.
class SimPlugIns final : public platform::SmartPlugIns {
 public:
  SimPlugIns(Machine& machine, const SimModel& model) : machine_(machine), model_(model) {}
  Status createAtaPlugIn(RegistryEntry service, std::unique_ptr<platform::AtaSmartPlugIn>& out,
                         platform::Failure* failure) override;
  Status createNvmePlugIn(RegistryEntry service, std::unique_ptr<platform::NvmeSmartPlugIn>& out,
                          platform::Failure* failure) override;

 private:
  Machine& machine_;
  const SimModel& model_;
  std::mutex mutex_;
  std::map<RegistryEntry, std::size_t> openCounts_;
};

}  // namespace sentrel::sim
