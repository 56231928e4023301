// Platform statuses and the failure value that says why an operation
// failed. Pure data: decoders and parsers may use it without reaching the
// platform.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "sentrel/export.h"

namespace sentrel::platform {

// A 32-bit platform status; 0 is success.
using Status = std::int32_t;

constexpr Status statusFromBits(std::uint32_t bits) {
  return static_cast<Status>(bits);
}
inline constexpr Status kSuccess = 0;
inline constexpr Status kGeneralError = statusFromBits(0xE00002BC);
inline constexpr Status kNoResources = statusFromBits(0xE00002BE);
inline constexpr Status kUnsupported = statusFromBits(0xE00002C7);
inline constexpr Status kNoDevice = statusFromBits(0xE00002C0);
inline constexpr Status kNotPermitted = statusFromBits(0xE00002E2);

// Why an operation failed, described where the system said no: the status
// the operation answered, what it was about, the system's error number and
// the reason in words. A default-made Failure says nothing failed.
struct Failure {
  // What a caller can do about it, whatever the backend.
  enum class Kind {
    none,         // nothing failed
    notFound,     // no such file, device or address
    permission,   // refused for want of privileges
    noResponse,   // the device or server stopped answering, or went away
    unsupported,  // the device or backend cannot do this
    badData,      // an answer came, but it cannot be used
    io,           // any other failure of the system or the device
  };
  Kind kind = Kind::none;
  Status status = 0;
  std::string subject;  // the path, device node or address; "" when none applies
  int error = 0;        // the errno the system answered; 0 when it gave none
  std::string reason;   // the cause in words ("Permission denied")
  std::string need;     // for a refusal, what would allow it ("root or CAP_SYS_RAWIO")

  bool failed() const { return kind != Kind::none; }
  // "SUBJECT: REASON", or the reason alone without a subject.
  std::string message() const { return subject.empty() ? reason : subject + ": " + reason; }
};

// The kind of failure an errno value stands for.
SENTREL_API Failure::Kind failureKindOfErrno(int error);
// The kind of failure a platform status stands for (kNoDevice: the device
// stopped answering; kNotPermitted: refused; ...).
SENTREL_API Failure::Kind failureKindOfStatus(Status status);
// A failure of a system call on `subject`: the errno's kind and text.
SENTREL_API Failure failureFromErrno(std::string subject, int error, std::string_view context = "");
// A drive command that the drive or its driver answered with a failing
// status: "COMMAND failed (status 0xE00002C0)", its kind taken from the status.
SENTREL_API Failure failureOfCommand(std::string subject, std::string_view command, Status status);
// A failure that is no system call's: a kind, a subject and a reason.
SENTREL_API Failure failureOf(Failure::Kind kind, std::string subject, std::string reason,
                              Status status = 0);
// A file or a download longer than a limit allows: "larger than the limit
// of N bytes".
SENTREL_API Failure failureOfSize(std::string subject, std::uint64_t limit);
// An HTTP answer whose status is not a success: "the server answered with
// HTTP status 404"; its kind from the status (404 and 410 not found, 401
// and 403 permission, 5xx no response, anything else bad data).
SENTREL_API Failure failureOfHttpStatus(std::string subject, long httpStatus);

}  // namespace sentrel::platform
