// The simulated-machine loader on arbitrary descriptions, with sector files
// resolved against the demo machine's folder (so the seeds may name its
// sectors). A description that loads is then installed and its drives are
// discovered, as the command line does with `--sim DIR list`.
//
// A refused description must say where and why ("machine.json: ..."); a
// loaded one must give drive records whose texts are UTF-8.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_input.h"
#include "sentrel/platform.h"
#include "sentrel/sim_machine.h"
#include "sentrel/smart_device.h"
#include "sentrel/value_io.h"

namespace {

using sentrel::fuzz::fail;

constexpr const char* kFolder = SENTREL_SOURCE_DIR "/examples/demo-mac";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view json(reinterpret_cast<const char*>(data), size);
  sentrel::platform::Failure error;
  std::unique_ptr<sentrel::sim::Machine> machine =
      sentrel::sim::Machine::fromJsonText(json, kFolder, &error);
  if (!machine) {
    if (error.message().rfind("machine.json: ", 0) != 0)
      fail("a refusal that names no file", error.message());
    return 0;
  }
  if (error.failed()) fail("a loaded machine with an error message", error.message());

  sentrel::platform::ScopedPlatform installed(machine->platform());
  if (std::optional<sentrel::Dict> drives = sentrel::KVSMARTDevice::driveInformation()) {
    sentrel::fuzz::checkTexts(sentrel::Value(*drives));
    sentrel::toJson(sentrel::Value(*drives));
  }
  return 0;
}
