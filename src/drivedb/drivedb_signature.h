// The detached OpenPGP signatures smartmontools publishes for drivedb.h, as
// its own update script checks them: where a signature lives, which text it
// covers, and what gpgv's status lines say about it. Text in, text out; the
// check itself runs gpgv through the platform.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace sentrel::drivedb {

// The address of the signature of a drivedb.h address: ".raw.asc" after the
// path, before any query ("...drivedb.h?format=raw" gives
// "...drivedb.h.raw.asc?format=raw").
std::string signatureAddress(std::string_view address);

// The text a signature covers. The file is signed with its Subversion Id
// keyword unexpanded, so an expanded "$Id: drivedb.h 5700 2025-01-01
// 12:00:00Z user $" reads "$Id$" again (the first one of each line).
std::string signedText(std::string_view text);

// Why gpgv's status lines (--status-fd) do not show a good signature made
// with a key of the keyring; nothing when they do (GOODSIG and VALIDSIG,
// and no BADSIG, ERRSIG, EXPKEYSIG or REVKEYSIG). Only lines that begin
// with "[GNUPG:] " count.
std::optional<std::string> signatureRefusal(std::string_view gpgvStatus);

}  // namespace sentrel::drivedb
