// Downloads with libcurl: certificate verification, a 10 s connect
// time-out and a 120 s overall time-out (unless setDownloadTimeouts says
// otherwise). An https:// address is fetched over HTTPS only, its
// redirects followed to https:// only; an http:// address is fetched as
// given and its redirects are not followed. A body is kept only up to the
// caller's limit, and only an answer with a success status delivers one.
// Each download runs on its own detached thread and hands its result to the
// completion there.
#include <curl/curl.h>

#include <mutex>
#include <thread>

#include "platform/linux/linux_platform.h"

namespace sentrel::platform {

namespace {

std::mutex timeoutsMutex;

DownloadTimeouts& currentTimeouts() {
  static DownloadTimeouts limits;
  return limits;
}

// The body as it arrives, cut off (failing the transfer) past the limit.
struct Body {
  std::string bytes;
  std::size_t limit = 0;
  bool tooLarge = false;
};

std::size_t append(char* data, std::size_t size, std::size_t count, void* out) {
  auto* body = static_cast<Body*>(out);
  const std::size_t n = size * count;
  if (n > body->limit - body->bytes.size()) {
    body->tooLarge = true;
    return 0;  // fails the transfer with CURLE_WRITE_ERROR
  }
  body->bytes.append(data, n);
  return n;
}

Failure::Kind kindOf(CURLcode code) {
  switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return Failure::Kind::notFound;
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
      return Failure::Kind::noResponse;
    case CURLE_UNSUPPORTED_PROTOCOL:
      return Failure::Kind::unsupported;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CONNECT_ERROR:
      return Failure::Kind::permission;
    default:
      return Failure::Kind::io;
  }
}

bool isPlainHttp(const std::string& url) {
  return curl_strnequal(url.c_str(), "http://", 7) != 0;
}

DownloadResult fetch(const std::string& url, std::size_t maxBytes) {
  CURL* curl = curl_easy_init();
  if (!curl)
    return {std::nullopt, failureOf(Failure::Kind::unsupported, url,
                                    "the download library could not be started")};
  Body body;
  body.limit = maxBytes;
  char error[CURL_ERROR_SIZE] = "";
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  // The scheme the address was given with is the only one spoken, and
  // anything else (ftp://, file://, an address without a scheme) fails.
  const bool plainHttp = isPlainHttp(url);
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, plainHttp ? "http" : "https");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, plainHttp ? 0L : 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "https");
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
  // Error statuses end the transfer at their headers.
  curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(maxBytes));
  const DownloadTimeouts limits = downloadTimeouts();
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.connect.count()));
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(limits.total.count()));
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, append);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
  const CURLcode code = curl_easy_perform(curl);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_easy_cleanup(curl);
  if (body.tooLarge || code == CURLE_FILESIZE_EXCEEDED)
    return {std::nullopt, failureOfSize(url, maxBytes)};
  // A redirect that is not followed ends here too, with its 3xx status.
  if (code == CURLE_HTTP_RETURNED_ERROR || (code == CURLE_OK && (status < 200 || status > 299)))
    return {std::nullopt, failureOfHttpStatus(url, status)};
  if (code != CURLE_OK) {
    std::string reason = *error ? std::string(error) : std::string(curl_easy_strerror(code));
    if (code == CURLE_UNSUPPORTED_PROTOCOL)
      reason = "refused: only https:// is fetched, and followed when redirected (" + reason + ")";
    return {std::nullopt, failureOf(kindOf(code), url, std::move(reason))};
  }
  return {std::move(body.bytes), Failure{}};
}

class CurlDownloads final : public Downloads {
 public:
  CurlDownloads() { curl_global_init(CURL_GLOBAL_DEFAULT); }
  void start(std::string_view url, std::size_t maxBytes,
             std::function<void(DownloadResult)> completion) override {
    std::thread([url = std::string(url), maxBytes, completion = std::move(completion)] {
      completion(fetch(url, maxBytes));
    }).detach();
  }
};

}  // namespace

void setDownloadTimeouts(DownloadTimeouts timeouts) {
  std::lock_guard lock(timeoutsMutex);
  currentTimeouts() = timeouts;
}

DownloadTimeouts downloadTimeouts() {
  std::lock_guard lock(timeoutsMutex);
  return currentTimeouts();
}

Downloads& linuxDownloads() {
  // Never destroyed: a download may still be running when the process exits.
  static CurlDownloads* downloads = new CurlDownloads;
  return *downloads;
}

}  // namespace sentrel::platform
