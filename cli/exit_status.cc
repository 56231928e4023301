// The exit status bits of one drive's report, in the spirit of smartctl's:
// a script reads what went wrong, and how badly, from the bits.
#include <algorithm>

#include "cli.h"
#include "sentrel/keys.h"

namespace sentrel::cli {

int exitBits(const DriveReport& r) {
  using Kind = platform::Failure::Kind;
  // A drive left alone asleep, as asked, is no failure; one that did not
  // answer in time is a command that failed.
  if (r.skipped) return kExitOk;
  if (r.timedOut) return kExitCommandFailed;
  if (!r.found || !r.read) return kExitNoDevice;
  int bits = 0;
  // A drive that stopped answering midway, or SMART data that could not be
  // used. A log the drive does not keep is no failure.
  if (r.verdict.word == keys::kUnknown || (r.failure && r.failure->kind == Kind::noResponse))
    bits |= kExitCommandFailed;
  if (r.verdict.word == keys::kFailed) bits |= kExitFailing;
  if (r.verdict.word == keys::kWarning) bits |= kExitWarning;
  for (const AtaAttribute& a : r.attributes) {
    if (a.prefail() && a.whenFailed() == AtaAttribute::WhenFailed::now) bits |= kExitWarning;
    if (a.whenFailed() == AtaAttribute::WhenFailed::past) bits |= kExitPastThreshold;
  }
  if (!r.errors.empty()) bits |= kExitErrorLog;
  if (std::any_of(r.selfTests.begin(), r.selfTests.end(),
                  [](const SelfTestEntry& t) { return t.failed; }))
    bits |= kExitSelfTestLog;
  return bits;
}

}  // namespace sentrel::cli
