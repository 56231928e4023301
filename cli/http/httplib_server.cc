// sentrel-http.so: the HTTP server of `sentrel serve`, on cpp-httplib.
#include <httplib.h>
#include <sys/socket.h>

#include "http/http_server.h"

namespace sentrel::cli {

namespace {

class HttplibServer final : public HttpServer {
 public:
  HttplibServer() {
    // A port in use fails, rather than sharing it with another exporter
    // (the library's default allows SO_REUSEPORT).
    server_.set_socket_options([](socket_t sock) {
      int yes = 1;
      ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
  }

  void get(const std::string& path, Handler handler) override {
    server_.Get(path, [handler = std::move(handler)](const httplib::Request& request,
                                                     httplib::Response& response) {
      HttpAnswer answer = handler(request.get_header_value("Accept"));
      response.set_content(answer.body, answer.contentType);
    });
  }

  bool bind(const std::string& host, int port) override { return server_.bind_to_port(host, port); }

  bool listen() override { return server_.listen_after_bind(); }

 private:
  httplib::Server server_;
};

}  // namespace

}  // namespace sentrel::cli

extern "C" __attribute__((visibility("default"))) sentrel::cli::HttpServer*
sentrel_make_http_server() {
  return new sentrel::cli::HttplibServer();
}
