// Downloads with libcurl: HTTPS with certificate verification, redirects
// followed, a 10 s connect time-out and a 120 s overall time-out (unless
// setDownloadTimeouts says otherwise). Each download runs on its own
// detached thread and hands its body to the completion there.
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

std::size_t append(char* data, std::size_t size, std::size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
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

DownloadResult fetch(const std::string& url) {
  CURL* curl = curl_easy_init();
  if (!curl)
    return {std::nullopt, failureOf(Failure::Kind::unsupported, url,
                                    "the download library could not be started")};
  std::string body;
  char error[CURL_ERROR_SIZE] = "";
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
  const DownloadTimeouts limits = downloadTimeouts();
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.connect.count()));
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(limits.total.count()));
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, append);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
  CURLcode code = curl_easy_perform(curl);
  curl_easy_cleanup(curl);
  if (code != CURLE_OK) {
    std::string reason = *error ? std::string(error) : std::string(curl_easy_strerror(code));
    return {std::nullopt, failureOf(kindOf(code), url, std::move(reason))};
  }
  return {std::move(body), Failure{}};
}

class CurlDownloads final : public Downloads {
 public:
  CurlDownloads() { curl_global_init(CURL_GLOBAL_DEFAULT); }
  void start(std::string_view url, std::function<void(DownloadResult)> completion) override {
    std::thread([url = std::string(url), completion = std::move(completion)] {
      completion(fetch(url));
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
