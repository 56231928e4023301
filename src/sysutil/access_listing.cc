#include "sysutil/access_listing.h"

#include <vector>

#include "sysutil/affixes.h"

namespace sentrel::sysutil {

namespace {

constexpr std::string_view kApplicationPath = "Vantrel Zel 20.app";
constexpr std::string_view kApplicationIdentifier = "com.brindlex.vantrelzel20";
constexpr std::string_view kBackgroundTool = "com.brindlex.vantrelzel20.QRX20BackgroundTool";
constexpr std::string_view kCompanionBackground = "com.brindlex.larkspan.LarkspanBackground";

std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  std::size_t at = 0;
  for (;;) {
    std::size_t end = text.find(separator, at);
    if (end == std::string_view::npos) {
      parts.push_back(text.substr(at));
      return parts;
    }
    parts.push_back(text.substr(at, end - at));
    at = end + 1;
  }
}

}  // namespace

bool textBoolValue(std::string_view text) {
  std::size_t i = text.find_first_not_of(" \t");
  if (i == std::string_view::npos) return false;
  char c = text[i];
  return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

bool fullDiskAccessGranted(std::string_view listing) {
  bool application = false, backgroundTool = false, companion = false;
  for (std::string_view line : split(listing, '\n')) {
    std::vector<std::string_view> fields = split(line, '|');
    if (fields.size() < 4 || fields[0] != kFullDiskAccessService) continue;
    std::string_view client = fields[1];
    bool grant = textBoolValue(fields[3]);
    // Each test also asks that its flag is still false, so an application
    // row after the application's grant falls through to the later tests.
    if ((hasSuffix(client, kApplicationPath) || hasSuffix(client, kApplicationIdentifier)) &&
        !application) {
      application = grant;
    } else if (hasSuffix(client, kBackgroundTool) && !backgroundTool) {
      backgroundTool = grant;
    } else if (hasSuffix(client, kCompanionBackground) && !companion) {
      companion = grant;
    }
  }
  return application && backgroundTool && companion;
}

}  // namespace sentrel::sysutil
