#include "drivedb/drivedb_signature.h"

#include <vector>

namespace sentrel::drivedb {

namespace {

constexpr std::string_view kExpandedId = "$Id: drivedb.h ";

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}
bool isLower(char c) {
  return c >= 'a' && c <= 'z';
}

// The length of the rest of an expanded Id keyword at `at` (just after
// "$Id: drivedb.h "): REVISION DATE TIMEZ USER " $", as the script's
// pattern has it ([0-9]+ 2[-0-9]* [012][:0-9]*Z [a-z][a-z0-9]* \$); 0 when
// the text there is not one.
std::size_t expandedIdRest(std::string_view s) {
  std::size_t i = 0;
  auto run = [&](auto accepts) {
    while (i < s.size() && accepts(s[i])) ++i;
  };
  auto take = [&](char c) {
    if (i >= s.size() || s[i] != c) return false;
    ++i;
    return true;
  };
  const std::size_t revision = i;
  run(isDigit);
  if (i == revision || !take(' ') || !take('2')) return 0;
  run([](char c) { return isDigit(c) || c == '-'; });
  if (!take(' ') || i >= s.size() || s[i] < '0' || s[i] > '2') return 0;
  ++i;
  run([](char c) { return isDigit(c) || c == ':'; });
  if (!take('Z') || !take(' ') || i >= s.size() || !isLower(s[i])) return 0;
  run([](char c) { return isLower(c) || isDigit(c); });
  if (!take(' ') || !take('$')) return 0;
  return i;
}

}  // namespace

std::string signatureAddress(std::string_view address) {
  const std::size_t query = address.find('?');
  if (query == std::string_view::npos) return std::string(address) + ".raw.asc";
  return std::string(address.substr(0, query)) + ".raw.asc" + std::string(address.substr(query));
}

std::string signedText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    end = end == std::string_view::npos ? text.size() : end + 1;
    std::string_view line = text.substr(start, end - start);
    start = end;
    for (std::size_t at = line.find(kExpandedId); at != std::string_view::npos;
         at = line.find(kExpandedId, at + 1)) {
      if (std::size_t rest = expandedIdRest(line.substr(at + kExpandedId.size()))) {
        out.append(line.substr(0, at)).append("$Id$");
        line.remove_prefix(at + kExpandedId.size() + rest);
        break;
      }
    }
    out.append(line);
  }
  return out;
}

std::optional<std::string> signatureRefusal(std::string_view gpgvStatus) {
  constexpr std::string_view kPrefix = "[GNUPG:] ";
  std::vector<std::string_view> keywords;
  std::size_t start = 0;
  while (start < gpgvStatus.size()) {
    std::size_t end = gpgvStatus.find('\n', start);
    if (end == std::string_view::npos) end = gpgvStatus.size();
    std::string_view line = gpgvStatus.substr(start, end - start);
    start = end + 1;
    if (!line.starts_with(kPrefix)) continue;
    line.remove_prefix(kPrefix.size());
    keywords.push_back(line.substr(0, line.find(' ')));
  }
  auto has = [&](std::string_view keyword) {
    for (std::string_view k : keywords)
      if (k == keyword) return true;
    return false;
  };
  if (has("BADSIG")) return "the signature does not match the file";
  if (has("NO_PUBKEY")) return "signed with a key the keyring does not hold";
  if (has("EXPKEYSIG")) return "signed with a key that has expired";
  if (has("REVKEYSIG")) return "signed with a key that has been revoked";
  if (has("ERRSIG")) return "the signature cannot be checked";
  if (!has("GOODSIG") || !has("VALIDSIG")) return "no good signature";
  return std::nullopt;
}

}  // namespace sentrel::drivedb
