// SentrelFramework: the entry object a host creates and calls. One request
// names a disk; the reply condenses that drive's refreshed properties into
// six keys: "status", "isNVMe", "properties" (reply rows), "deviceName",
// "deviceSerialNumber" and "volumes".
#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "sentrel/export.h"
#include "sentrel/health.h"
#include "sentrel/platform.h"
#include "sentrel/value.h"

namespace sentrel {

class SENTREL_API SentrelFramework {
 public:
  // Queues one background update of the drive database and returns at once.
  SentrelFramework();

  using Reply = std::function<void(const Dict&)>;

  // Refreshes the disk named by the request's "selectedBSD" and calls
  // `reply` exactly once, on this thread, before returning. ATA rows are
  // paced: about 1.2 seconds spread over the rows, through the platform's
  // sleep. Every failure becomes a reply with default values.
  void runWith(const Dict& request, const Reply& reply);

  // What one request learned: the reply, and what a host that shows more
  // than the reply needs beside it.
  struct Check {
    Dict reply;
    // The device properties the reply was made from; null when the drive
    // has no record or could not be read.
    std::shared_ptr<const Dict> properties;
    // The verdict behind "status" with its reasons; its word is "" when the
    // drive was not judged.
    HealthVerdict verdict;
    // Why the drive could not be read, or why a command of its refresh
    // failed; nothing when everything it was asked succeeded.
    std::optional<platform::Failure> failure;
    // False when no drive record has the requested name.
    bool found = false;
  };
  // The work of runWith:reply:, with its pacing, answered instead of handed
  // to a callback.
  Check check(const Dict& request);
};

// The reply for a drive's device properties (nothing when the drive could
// not be read): the condensing step of runWith, with its pacing.
SENTREL_API Dict replyForDeviceProperties(const Dict* properties);

}  // namespace sentrel
