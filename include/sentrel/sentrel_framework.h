// SentrelFramework: the entry object a host creates and calls. One request
// names a disk; the reply condenses that drive's refreshed properties into
// six keys: "status", "isNVMe", "properties" (reply rows), "deviceName",
// "deviceSerialNumber" and "volumes".
#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "sentrel/export.h"
#include "sentrel/report.h"
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
    // The drive's report: the verdict behind "status" with its reasons, the
    // typed readings, and why the drive could not be read, if it could not.
    DriveReport report;
  };
  // The work of runWith:reply:, with its pacing, answered instead of handed
  // to a callback.
  Check check(const Dict& request);
};

// The reply for a drive's device properties (nothing when the drive could
// not be read): the condensing step of runWith, with its pacing.
SENTREL_API Dict replyForDeviceProperties(const Dict* properties);

}  // namespace sentrel
