// Downloads with libcurl: certificate verification, a 10 s connect
// time-out and a 120 s overall time-out (unless setDownloadTimeouts says
// otherwise). An https:// address is fetched over HTTPS only, its
// redirects followed to https:// only; an http:// address is fetched as
// given and its redirects are not followed. A body is kept only up to the
// caller's limit, and only an answer with a success status delivers one.
// Each download runs on its own detached thread and hands its result to the
// completion there.
//
// libcurl, with its TLS, SSH and Kerberos libraries, is loaded (dlopen of
// Debian's libcurl.so.4, package libcurl4) and initialised at the first
// download, so the commands that download nothing do not pay for it. Only
// its header is needed to build.
#include <curl/curl.h>
#include <dlfcn.h>

#include <mutex>
#include <thread>

#include "platform/linux/linux_platform.h"

namespace sentrel::platform {

namespace {

// The soname of the libcurl ABI the header describes.
constexpr const char* kCurlLibrary = "libcurl.so.4";

// The functions of libcurl used here, looked up in the loaded library.
struct Curl {
  CURLcode (*globalInit)(long flags);
  CURL* (*easyInit)();
  CURLcode (*easySetopt)(CURL* curl, CURLoption option, ...);
  CURLcode (*easyPerform)(CURL* curl);
  CURLcode (*easyGetinfo)(CURL* curl, CURLINFO info, ...);
  void (*easyCleanup)(CURL* curl);
  const char* (*easyStrerror)(CURLcode code);
};

template <typename Function>
bool lookUp(void* library, const char* name, Function& out) {
  out = reinterpret_cast<Function>(::dlsym(library, name));
  return out != nullptr;
}

// libcurl loaded and initialised, once per process (the library stays
// loaded: a download may still run when the process exits); null with the
// reason in `why` when it cannot be had.
const Curl* loadCurl(std::string& why) {
  static std::once_flag once;
  static Curl curl;
  static bool loaded = false;
  static std::string failure;
  std::call_once(once, [] {
    void* library = ::dlopen(kCurlLibrary, RTLD_NOW | RTLD_LOCAL);
    if (!library) {
      const char* error = ::dlerror();
      failure = std::string("the download library ") + kCurlLibrary +
                " could not be loaded (install the libcurl4 package): " +
                (error ? error : "unknown reason");
      return;
    }
    if (!lookUp(library, "curl_global_init", curl.globalInit) ||
        !lookUp(library, "curl_easy_init", curl.easyInit) ||
        !lookUp(library, "curl_easy_setopt", curl.easySetopt) ||
        !lookUp(library, "curl_easy_perform", curl.easyPerform) ||
        !lookUp(library, "curl_easy_getinfo", curl.easyGetinfo) ||
        !lookUp(library, "curl_easy_cleanup", curl.easyCleanup) ||
        !lookUp(library, "curl_easy_strerror", curl.easyStrerror)) {
      failure = std::string("the download library ") + kCurlLibrary + " lacks a function it needs";
      return;
    }
    // Not thread-safe in libcurl, hence here, once, before any transfer.
    if (curl.globalInit(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
      failure = std::string("the download library ") + kCurlLibrary + " could not be initialised";
      return;
    }
    loaded = true;
  });
  if (!loaded) why = failure;
  return loaded ? &curl : nullptr;
}

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

// The scheme compares without regard to case, as libcurl reads it.
bool isPlainHttp(const std::string& url) {
  constexpr std::string_view kHttp = "http://";
  if (url.size() < kHttp.size()) return false;
  for (std::size_t i = 0; i < kHttp.size(); ++i) {
    const char c = url[i] >= 'A' && url[i] <= 'Z' ? static_cast<char>(url[i] - 'A' + 'a') : url[i];
    if (c != kHttp[i]) return false;
  }
  return true;
}

DownloadResult fetch(const std::string& url, std::size_t maxBytes) {
  std::string why;
  const Curl* api = loadCurl(why);
  if (!api) return {std::nullopt, failureOf(Failure::Kind::unsupported, url, std::move(why))};
  CURL* curl = api->easyInit();
  if (!curl)
    return {std::nullopt, failureOf(Failure::Kind::unsupported, url,
                                    "the download library could not be started")};
  Body body;
  body.limit = maxBytes;
  char error[CURL_ERROR_SIZE] = "";
  api->easySetopt(curl, CURLOPT_URL, url.c_str());
  // The scheme the address was given with is the only one spoken, and
  // anything else (ftp://, file://, an address without a scheme) fails.
  const bool plainHttp = isPlainHttp(url);
  api->easySetopt(curl, CURLOPT_PROTOCOLS_STR, plainHttp ? "http" : "https");
  api->easySetopt(curl, CURLOPT_FOLLOWLOCATION, plainHttp ? 0L : 1L);
  api->easySetopt(curl, CURLOPT_MAXREDIRS, 10L);
  api->easySetopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "https");
  api->easySetopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
  api->easySetopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
  // Error statuses end the transfer at their headers.
  api->easySetopt(curl, CURLOPT_FAILONERROR, 1L);
  api->easySetopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(maxBytes));
  const DownloadTimeouts limits = downloadTimeouts();
  api->easySetopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.connect.count()));
  api->easySetopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(limits.total.count()));
  api->easySetopt(curl, CURLOPT_NOSIGNAL, 1L);
  api->easySetopt(curl, CURLOPT_WRITEFUNCTION, append);
  api->easySetopt(curl, CURLOPT_WRITEDATA, &body);
  api->easySetopt(curl, CURLOPT_ERRORBUFFER, error);
  const CURLcode code = api->easyPerform(curl);
  long status = 0;
  api->easyGetinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  api->easyCleanup(curl);
  if (body.tooLarge || code == CURLE_FILESIZE_EXCEEDED)
    return {std::nullopt, failureOfSize(url, maxBytes)};
  // A redirect that is not followed ends here too, with its 3xx status.
  if (code == CURLE_HTTP_RETURNED_ERROR || (code == CURLE_OK && (status < 200 || status > 299)))
    return {std::nullopt, failureOfHttpStatus(url, status)};
  if (code != CURLE_OK) {
    std::string reason = *error ? std::string(error) : std::string(api->easyStrerror(code));
    if (code == CURLE_UNSUPPORTED_PROTOCOL)
      reason = "refused: only https:// is fetched, and followed when redirected (" + reason + ")";
    return {std::nullopt, failureOf(kindOf(code), url, std::move(reason))};
  }
  return {std::move(body.bytes), Failure{}};
}

class CurlDownloads final : public Downloads {
 public:
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
