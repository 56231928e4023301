// The HTTP server of `sentrel serve`, behind an interface of its own: it
// lives in a module (sentrel-http.so) that the command line loads when it
// serves, so the commands that serve nothing never map cpp-httplib and the
// TLS and compression libraries it brings.
//
// Module and program are built together from this header; the module
// exports one C function that makes a server.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace sentrel::cli {

// What a GET answers.
struct HttpAnswer {
  std::string body;
  std::string contentType;
};

class HttpServer {
 public:
  // Answers a GET of one path; given the request's Accept header.
  using Handler = std::function<HttpAnswer(const std::string& accept)>;

  virtual ~HttpServer() = default;
  virtual void get(const std::string& path, Handler handler) = 0;
  // Binds HOST:PORT, refusing a port another socket holds; false when it
  // cannot.
  virtual bool bind(const std::string& host, int port) = 0;
  // Serves until the process ends; false when serving fails.
  virtual bool listen() = 0;
};

// The module's one export: a new server, owned by the caller.
using MakeHttpServer = HttpServer* (*)();
inline constexpr const char* kMakeHttpServerSymbol = "sentrel_make_http_server";

// The module loaded (once) and a new server made by it; null with the
// reason in `why` when the module cannot be found or loaded.
std::unique_ptr<HttpServer> loadHttpServer(std::string& why);

}  // namespace sentrel::cli
