// The class's words for raw ATA register values, for the error log and for
// hosts.
#include "ata/command_vocabulary.h"
#include "sentrel/smart_device.h"

namespace sentrel {

std::string KVSMARTDevice::commandName(std::uint32_t command) {
  return ata::commandName(command);
}

std::string KVSMARTDevice::command(std::uint32_t command, std::uint32_t feature) {
  return ata::subcommandName(command, feature);
}

std::string KVSMARTDevice::error(std::uint32_t error) {
  return ata::errorBitNames(error);
}

std::string KVSMARTDevice::status(std::uint32_t status) {
  return ata::statusText(status);
}

std::string KVSMARTDevice::state(std::uint32_t state) {
  return ata::deviceStateName(state);
}

}  // namespace sentrel
