// Finding and loading sentrel-http.so. It is looked for beside the program
// (a build tree) and then where an installation puts it, relative to the
// program's own folder and at the installed prefix, so an installation
// moved as a whole keeps working.
#include <dlfcn.h>
#include <unistd.h>

#include <filesystem>
#include <mutex>
#include <vector>

#include "http/http_server.h"

namespace sentrel::cli {

namespace {

constexpr const char* kModuleName = "sentrel-http.so";

std::filesystem::path programFolder() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::path() : self.parent_path();
}

std::vector<std::filesystem::path> candidates() {
  std::vector<std::filesystem::path> out;
  const std::filesystem::path folder = programFolder();
  if (!folder.empty()) {
    out.push_back(folder / kModuleName);
    out.push_back((folder / SENTREL_HTTP_MODULE_FROM_BINDIR).lexically_normal());
  }
  out.emplace_back(SENTREL_HTTP_MODULE_INSTALLED);
  return out;
}

MakeHttpServer loadModule(std::string& why) {
  static std::once_flag once;
  static MakeHttpServer make = nullptr;
  static std::string failure;
  std::call_once(once, [] {
    std::string tried;
    for (const std::filesystem::path& path : candidates()) {
      if (::access(path.c_str(), F_OK) != 0) {
        tried += (tried.empty() ? "" : ", ") + path.string();
        continue;
      }
      void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
      if (!module) {
        const char* error = ::dlerror();
        failure = "the HTTP module " + path.string() +
                  " could not be loaded: " + (error ? error : "unknown reason");
        return;
      }
      make = reinterpret_cast<MakeHttpServer>(::dlsym(module, kMakeHttpServerSymbol));
      if (!make) failure = "the HTTP module " + path.string() + " is not sentrel's";
      return;
    }
    failure = std::string("the HTTP module ") + kModuleName + " is not installed (looked at " +
              tried + ")";
  });
  if (!make) why = failure;
  return make;
}

}  // namespace

std::unique_ptr<HttpServer> loadHttpServer(std::string& why) {
  MakeHttpServer make = loadModule(why);
  return make ? std::unique_ptr<HttpServer>(make()) : nullptr;
}

}  // namespace sentrel::cli
