#pragma once

// A small HTTP server on 127.0.0.1 for tests of network clients. Each connection is served
// on a thread of its own with the response the test's function gives for the request target,
// after the response's delay; every request is recorded.
//
//   StubHttpServer server([](const std::string& target) {
//     return StubResponse{200, "OK", R"({"error":"Unable to geocode"})"};
//   });
//   NominatimGeocoder geocoder(server.baseUrl());
//   ... server.requests()[0].userAgent ...

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace wren::testing {

struct StubResponse {
  int status = 200;
  std::string reason = "OK";
  std::string body;
  std::chrono::milliseconds delay{0};
};

struct StubRequest {
  std::string target;  // path and query
  std::string userAgent;
  std::chrono::steady_clock::time_point arrived;
};

class StubHttpServer {
 public:
  explicit StubHttpServer(std::function<StubResponse(const std::string& target)> answer)
      : answer_(std::move(answer)) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, 16) != 0 || getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      throw std::runtime_error("cannot listen on 127.0.0.1");
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { acceptLoop(); });
  }

  ~StubHttpServer() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    acceptor_.join();
    for (std::thread& connection : connections_) connection.join();
    close(listener_);
  }
  StubHttpServer(const StubHttpServer&) = delete;
  StubHttpServer& operator=(const StubHttpServer&) = delete;

  std::string baseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }

  std::vector<StubRequest> requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }

 private:
  void acceptLoop() {
    for (;;) {
      {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
      }
      pollfd fd = {listener_, POLLIN, 0};
      if (poll(&fd, 1, 20) <= 0) continue;
      int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (connection < 0) continue;
      connections_.emplace_back([this, connection] { serve(connection); });
    }
  }

  static std::string header(const std::string& head, const std::string& name) {
    std::size_t at = 0;
    while ((at = head.find("\r\n", at)) != std::string::npos) {
      at += 2;
      if (head.compare(at, name.size() + 1, name + ":") == 0) {
        std::size_t end = head.find("\r\n", at);
        std::size_t begin = head.find_first_not_of(' ', at + name.size() + 1);
        return head.substr(begin, end - begin);
      }
    }
    return {};
  }

  void serve(int connection) {
    std::string head;
    char buffer[4096];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
      ssize_t n = read(connection, buffer, sizeof buffer);
      if (n <= 0) break;
      head.append(buffer, static_cast<std::size_t>(n));
    }
    std::size_t targetBegin = head.find(' ') + 1;
    std::string target = head.substr(targetBegin, head.find(' ', targetBegin) - targetBegin);
    StubResponse response = answer_(target);
    {
      std::unique_lock lock(mutex_);
      requests_.push_back({target, header(head, "User-Agent"), std::chrono::steady_clock::now()});
      wake_.wait_for(lock, response.delay, [this] { return stopping_; });
    }
    std::string text = "HTTP/1.1 " + std::to_string(response.status) + " " + response.reason +
                       "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(response.body.size()) +
                       "\r\nConnection: close\r\n\r\n" + response.body;
    std::size_t written = 0;
    while (written < text.size()) {
      ssize_t n = send(connection, text.data() + written, text.size() - written, MSG_NOSIGNAL);
      if (n <= 0) break;
      written += static_cast<std::size_t>(n);
    }
    close(connection);
  }

  std::function<StubResponse(const std::string&)> answer_;
  int listener_ = -1;
  int port_ = 0;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::vector<StubRequest> requests_;
  std::thread acceptor_;
  std::vector<std::thread> connections_;  // only the acceptor thread adds, until it is joined
};

}  // namespace wren::testing
