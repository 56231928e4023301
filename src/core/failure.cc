// Failures made from errno values, statuses and drive commands.
#include <cerrno>
#include <cstdio>

#include "core/errno_text.h"
#include "sentrel/failure.h"

namespace sentrel::platform {

Failure::Kind failureKindOfErrno(int error) {
  switch (error) {
    case 0:
      return Failure::Kind::none;
    case EACCES:
    case EPERM:
    case EROFS:
      return Failure::Kind::permission;
    case ENOENT:
    case ENOTDIR:
      return Failure::Kind::notFound;
    case ENODEV:
    case ENXIO:
    case ETIMEDOUT:
    case EHOSTUNREACH:
    case ECONNREFUSED:
    case ECONNRESET:
      return Failure::Kind::noResponse;
    case ENOTTY:
    case EOPNOTSUPP:
    case ENOSYS:
      return Failure::Kind::unsupported;
    case EILSEQ:
    case EBADMSG:
      return Failure::Kind::badData;
    default:
      return Failure::Kind::io;
  }
}

Failure::Kind failureKindOfStatus(Status status) {
  if (status == kSuccess) return Failure::Kind::none;
  if (status == kNoDevice || status == kNoResources) return Failure::Kind::noResponse;
  if (status == kNotPermitted) return Failure::Kind::permission;
  if (status == kUnsupported) return Failure::Kind::unsupported;
  return Failure::Kind::io;
}

Failure failureFromErrno(std::string subject, int error, std::string_view context) {
  Failure f;
  f.kind = error == 0 ? Failure::Kind::io : failureKindOfErrno(error);
  f.status = kGeneralError;
  f.subject = std::move(subject);
  f.error = error;
  std::string text = error == 0 ? std::string("failed") : errnoText(error);
  f.reason = context.empty() ? text : std::string(context) + ": " + text;
  return f;
}

Failure failureOfCommand(std::string subject, std::string_view command, Status status) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(status));
  return failureOf(failureKindOfStatus(status), std::move(subject),
                   std::string(command) + " failed (status " + text + ")", status);
}

Failure failureOf(Failure::Kind kind, std::string subject, std::string reason, Status status) {
  Failure f;
  f.kind = kind;
  f.status = status != 0 ? status : kGeneralError;
  f.subject = std::move(subject);
  f.reason = std::move(reason);
  return f;
}

Failure failureOfSize(std::string subject, std::uint64_t limit) {
  return failureOf(Failure::Kind::badData, std::move(subject),
                   "larger than the limit of " + std::to_string(limit) + " bytes");
}

Failure failureOfHttpStatus(std::string subject, long httpStatus) {
  const Failure::Kind kind = httpStatus == 404 || httpStatus == 410   ? Failure::Kind::notFound
                             : httpStatus == 401 || httpStatus == 403 ? Failure::Kind::permission
                             : httpStatus >= 500 && httpStatus < 600  ? Failure::Kind::noResponse
                                                                      : Failure::Kind::badData;
  return failureOf(kind, std::move(subject),
                   "the server answered with HTTP status " + std::to_string(httpStatus));
}

}  // namespace sentrel::platform
