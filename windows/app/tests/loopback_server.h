// A one-shot HTTP server on 127.0.0.1 for the client's tests: it accepts one
// connection, reads one request (headers and Content-Length bytes), answers
// with fixed bytes and closes. A dripping server sends its reply one byte
// per interval instead. Every wait is bounded, so a test that goes wrong
// ends instead of hanging.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>

namespace zt::win::test {

class LoopbackServer {
 public:
  static constexpr int kWaitMs = 5000;

  explicit LoopbackServer(std::string reply,
                          std::chrono::milliseconds byte_interval = std::chrono::milliseconds(0))
      : reply_(std::move(reply)), byte_interval_(byte_interval) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(listener_, 1);
    int len = sizeof a;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~LoopbackServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    closesocket(listener_);
    WSACleanup();
  }
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  std::uint16_t port() const { return port_; }
  // What arrived; valid once the request has ended.
  const std::string& request() {
    if (thread_.joinable()) thread_.join();
    return request_;
  }

  // A port on which nobody listens.
  static std::uint16_t closed_port() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    int len = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    closesocket(s);
    WSACleanup();
    return ntohs(a.sin_port);
  }

 private:
  void serve() {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(listener_, &set);
    timeval tv{kWaitMs / 1000, 0};
    if (select(0, &set, nullptr, nullptr, &tv) != 1) return;
    SOCKET c = accept(listener_, nullptr, nullptr);
    if (c == INVALID_SOCKET) return;
    const DWORD timeout = kWaitMs;
    setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    char buf[4096];
    for (;;) {
      const std::size_t head = request_.find("\r\n\r\n");
      if (head != std::string::npos) {
        std::size_t length = 0;
        const std::size_t cl = request_.find("Content-Length: ");
        if (cl != std::string::npos && cl < head) {
          length = std::strtoul(request_.c_str() + cl + 16, nullptr, 10);
        }
        if (request_.size() >= head + 4 + length) break;
      }
      const int n = recv(c, buf, sizeof buf, 0);
      if (n <= 0) break;
      request_.append(buf, static_cast<std::size_t>(n));
    }
    const std::size_t chunk = byte_interval_.count() > 0 ? 1 : 8192;
    std::size_t sent = 0;
    while (sent < reply_.size() && !stop_) {
      if (sent > 0) pause();
      const int n = send(c, reply_.data() + sent,
                         static_cast<int>(std::min<std::size_t>(reply_.size() - sent, chunk)), 0);
      if (n <= 0) break;
      sent += static_cast<std::size_t>(n);
    }
    closesocket(c);
  }

  // The wait between two dripped bytes, cut short when the server goes away.
  void pause() {
    const auto end = std::chrono::steady_clock::now() + byte_interval_;
    while (!stop_ && std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

  std::string reply_;
  std::chrono::milliseconds byte_interval_;
  std::atomic<bool> stop_{false};
  std::string request_;
  SOCKET listener_ = INVALID_SOCKET;
  std::uint16_t port_ = 0;
  std::thread thread_;
};

}  // namespace zt::win::test
