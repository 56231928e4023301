// The Linux pass-through's reading of a finished command on arbitrary
// answers: the SCSI, host and driver statuses and the sense data a drive or
// a bridge sends back. The sense bytes sit in a heap buffer of exactly
// their length, so a decoder that reads past them is caught at once.
//
// Input: SCSI status, host status (2 bytes), driver status (2 bytes), an
// errno byte, then the sense data.
//
// Beyond not crashing: every answer maps to a status of the mapping's list;
// the registers handed out are the ones the sense data holds; a success
// never carries a drive's ERR or DF bit; the sense key is read exactly from
// the two formats that carry one.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "fuzz_input.h"
#include "platform/linux/ata_pass_through.h"

namespace {

namespace sat = sentrel::platform::sat;
using sentrel::fuzz::fail;
using sentrel::fuzz::FuzzInput;
namespace platform = sentrel::platform;

bool isListed(platform::Status s) {
  return s == platform::kSuccess || s == platform::kGeneralError || s == platform::kNoResources ||
         s == platform::kUnsupported || s == platform::kNoDevice || s == platform::kNotPermitted;
}

// The registers are seven bytes without padding.
bool sameRegisters(const std::optional<sat::AtaRegisters>& a,
                   const std::optional<sat::AtaRegisters>& b) {
  return a.has_value() == b.has_value() && (!a || std::memcmp(&*a, &*b, sizeof *a) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  sat::Completion completion;
  completion.scsiStatus = in.byte();
  completion.hostStatus = in.u16();
  completion.driverStatus = in.u16();
  if (!isListed(sat::statusFromErrno(in.byte()))) fail("an errno outside the mapping");
  const std::string_view rest = in.rest();
  const std::vector<std::uint8_t> sense(rest.begin(), rest.end());
  completion.sense = sense;

  const std::optional<sat::AtaRegisters> registers = sat::registersFromSense(sense);
  const std::optional<sat::SenseKey> key = sat::senseKey(sense);
  const std::uint8_t code = sense.empty() ? 0 : sense[0] & 0x7F;
  const bool descriptor = (code == 0x72 || code == 0x73) && sense.size() >= 4;
  const bool fixedFormat = (code == 0x70 || code == 0x71) && sense.size() >= 14;
  if (key.has_value() != (descriptor || fixedFormat))
    fail("a sense key read from the wrong format");
  if (key && key->key > 0x0F) fail("a sense key wider than four bits");
  if (registers && sense.size() < 12) fail("registers from sense data too short to hold them");

  std::optional<sat::AtaRegisters> handedOut;
  const platform::Status status = sat::statusFromCompletion(completion, &handedOut);
  if (!isListed(status)) fail("a completion status outside the mapping");
  const bool judgedBySense =
      completion.hostStatus == 0 && (completion.scsiStatus == 0 || completion.scsiStatus == 2);
  if (judgedBySense && !sameRegisters(handedOut, registers))
    fail("the registers handed out are not those of the sense data");
  if (!judgedBySense && handedOut) fail("registers handed out for an answer without sense");
  if (status == platform::kSuccess) {
    if (!judgedBySense) fail("a success the host or SCSI status refused");
    if (registers && (registers->status & 0x21)) fail("a success with ERR or DF set");
  }
  if (registers) sat::thresholdExceededFromRegisters(*registers);
  return 0;
}
