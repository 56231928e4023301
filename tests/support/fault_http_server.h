// HTTP servers on 127.0.0.1 that misbehave the way real ones do, or as a
// hostile one would: they never answer, stop in the middle of a body,
// promise more than they send, speak something that is not HTTP, answer
// with an error status, redirect elsewhere, send without end, or never
// accept the connection at all.
//
// Connections a server holds open (a hang, a stall) are shut down when the
// server is destroyed, so a test that fails still ends.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace sentrel::testing {

enum class Misbehaviour {
  none,               // 200 with the body and its Content-Length
  hang,               // reads the request and never answers
  stallMidBody,       // headers and part of the body, then nothing more
  longContentLength,  // a Content-Length 100 bytes past the body, then closes
  closeMidBody,       // no Content-Length: part of the body, then closes
  chunkedCut,         // chunked: part of the body in one chunk, then closes
  notHttp,            // answers a line that is not HTTP, then closes
  closeAtOnce,        // closes the connection without a byte
  notFound,           // 404 with the body as its error page
  serverError,        // 503 with the body as its error page
  redirect,           // 302 to the address the body holds
  endless,            // 200 without a length, the body repeated until the client hangs up
  hugeLength,         // 200 announcing 512 MiB, the body repeated until the client hangs up
};

struct Route {
  Route(std::string prefix, Misbehaviour misbehaviour, std::string body,
        std::optional<std::size_t> cut = std::nullopt)
      : prefix(std::move(prefix)), misbehaviour(misbehaviour), body(std::move(body)), cut(cut) {}

  std::string prefix;  // the request paths this route answers
  Misbehaviour misbehaviour;
  std::string body;
  // Where a body that stops or is cut ends; half of it when not given.
  std::optional<std::size_t> cut;
};

class FaultHttpServer {
 public:
  explicit FaultHttpServer(std::vector<Route> routes) : routes_(std::move(routes)) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    ::listen(fd_, 16);
    thread_ = std::thread([this] { serve(); });
  }
  ~FaultHttpServer() {
    stop_ = true;
    ::shutdown(fd_, SHUT_RDWR);
    ::close(fd_);
    thread_.join();
    for (int c : held_) {
      ::shutdown(c, SHUT_RDWR);
      ::close(c);
    }
  }
  FaultHttpServer(const FaultHttpServer&) = delete;
  FaultHttpServer& operator=(const FaultHttpServer&) = delete;

  std::string base() const { return "http://127.0.0.1:" + std::to_string(port_); }
  std::vector<std::string> requested() {
    std::lock_guard lock(mutex_);
    return requested_;
  }

 private:
  // False once the client has hung up.
  static bool send(int c, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = ::send(c, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n <= 0) return false;
      done += static_cast<std::size_t>(n);
    }
    return true;
  }
  static std::string hex(std::size_t n) {
    char text[32];
    std::snprintf(text, sizeof text, "%zx", n);
    return text;
  }

  void serve() {
    while (!stop_) {
      int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) return;
      std::string request;
      char buf[4096];
      while (request.find("\r\n\r\n") == std::string::npos) {
        ssize_t n = ::read(c, buf, sizeof buf);
        if (n <= 0) break;
        request.append(buf, static_cast<std::size_t>(n));
      }
      const std::size_t space = request.find(' ');
      const std::string path =
          space == std::string::npos ? "" : request.substr(space + 1, request.find(' ', space + 1) - space - 1);
      const Route* route = nullptr;
      for (const Route& r : routes_)
        if (!route && path.starts_with(r.prefix)) route = &r;
      {
        std::lock_guard lock(mutex_);
        requested_.push_back(path);
      }
      if (answer(c, route)) {
        ::close(c);
      } else {
        held_.push_back(c);
      }
    }
  }

  // Writes the route's answer; false when the connection is to be held open.
  bool answer(int c, const Route* route) {
    if (!route) {
      send(c, "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\nConnection: close\r\n\r\nnot found");
      return true;
    }
    const std::string& body = route->body;
    const std::string part = body.substr(0, route->cut.value_or(body.size() / 2));
    const std::string length = std::to_string(body.size());
    switch (route->misbehaviour) {
      case Misbehaviour::none:
        send(c, "HTTP/1.1 200 OK\r\nContent-Length: " + length + "\r\nConnection: close\r\n\r\n" + body);
        return true;
      case Misbehaviour::hang:
        return false;
      case Misbehaviour::stallMidBody:
        send(c, "HTTP/1.1 200 OK\r\nContent-Length: " + length + "\r\n\r\n" + part);
        return false;
      case Misbehaviour::longContentLength:
        send(c, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size() + 100) +
                    "\r\nConnection: close\r\n\r\n" + body);
        return true;
      case Misbehaviour::closeMidBody:
        send(c, "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + part);
        return true;
      case Misbehaviour::chunkedCut:
        send(c, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n" +
                    hex(part.size()) + "\r\n" + part + "\r\n");
        return true;
      case Misbehaviour::notHttp:
        send(c, "SSH-2.0-OpenSSH_9.2\r\n");
        return true;
      case Misbehaviour::closeAtOnce:
        return true;
      case Misbehaviour::notFound:
        send(c, "HTTP/1.1 404 Not Found\r\nContent-Length: " + length +
                    "\r\nConnection: close\r\n\r\n" + body);
        return true;
      case Misbehaviour::serverError:
        send(c, "HTTP/1.1 503 Service Unavailable\r\nContent-Length: " + length +
                    "\r\nConnection: close\r\n\r\n" + body);
        return true;
      case Misbehaviour::redirect:
        send(c, "HTTP/1.1 302 Found\r\nLocation: " + body +
                    "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        return true;
      case Misbehaviour::endless:
        send(c, "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n");
        while (!body.empty() && send(c, body)) {
        }
        return true;
      case Misbehaviour::hugeLength:
        send(c, "HTTP/1.1 200 OK\r\nContent-Length: 536870912\r\nConnection: close\r\n\r\n");
        while (!body.empty() && send(c, body)) {
        }
        return true;
    }
    return true;
  }

  std::vector<Route> routes_;
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::string> requested_;
  std::vector<int> held_;  // only the serving thread adds, before the join
};

// A listener whose queue of connections is full and which never accepts:
// a further connection is never completed, as with a host that drops the
// packets. Only the connect time-out ends an attempt to reach it.
class UnreachableServer {
 public:
  UnreachableServer() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    ::listen(fd_, 0);
    // Fill the queue: these connections are never accepted either.
    for (int i = 0; i < 2; ++i) {
      int c = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
      ::connect(c, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
      fillers_.push_back(c);
    }
  }
  ~UnreachableServer() {
    for (int c : fillers_) ::close(c);
    ::close(fd_);
  }
  UnreachableServer(const UnreachableServer&) = delete;
  UnreachableServer& operator=(const UnreachableServer&) = delete;

  std::string base() const { return "http://127.0.0.1:" + std::to_string(port_); }

 private:
  int fd_ = -1;
  int port_ = 0;
  std::vector<int> fillers_;
};

}  // namespace sentrel::testing
