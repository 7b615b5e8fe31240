#include "http/http_client.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstring>

#include "formats/ascii.h"

namespace zt::win::http {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

bool needs_escape(unsigned char c) {
  if (c < 33 || c > 128) return true;
  return std::strchr("#%*<>[]", c) != nullptr;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

// Text from the server shown in a one-line log: control bytes replaced, length capped.
std::string printable(std::string_view s) {
  constexpr std::size_t kMax = 200;
  std::string out;
  for (char c : s.substr(0, kMax)) out.push_back(static_cast<unsigned char>(c) < 32 ? '?' : c);
  return out;
}

Reply failure(std::string message, int status = 0) {
  Reply r;
  r.status = status;
  r.error = std::move(message);
  return r;
}

std::string socket_error(int code) {
  return "Socket Error # " + std::to_string(code);
}

class WinsockSession {
 public:
  WinsockSession() { ok_ = WSAStartup(MAKEWORD(2, 2), &data_) == 0; }
  ~WinsockSession() {
    if (ok_) WSACleanup();
  }
  WinsockSession(const WinsockSession&) = delete;
  WinsockSession& operator=(const WinsockSession&) = delete;
  bool ok() const { return ok_; }

 private:
  WSADATA data_{};
  bool ok_ = false;
};

class Socket {
 public:
  Socket() = default;
  explicit Socket(SOCKET s) : s_(s) {}
  ~Socket() {
    if (s_ != INVALID_SOCKET) closesocket(s_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  Socket& operator=(Socket&& o) noexcept {
    std::swap(s_, o.s_);
    return *this;
  }
  SOCKET get() const { return s_; }

 private:
  SOCKET s_ = INVALID_SOCKET;
};

using Clock = std::chrono::steady_clock;

// The waits of one request: none longer than the longest silence allowed,
// and none past the end of the whole request.
class Deadline {
 public:
  Deadline(int deadline_ms, int silence_ms)
      : end_(Clock::now() + std::chrono::milliseconds(std::max(deadline_ms, 0))),
        silence_ms_(std::max(silence_ms, 0)) {}
  // 0 once the request's time is up.
  int next_wait_ms() const {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(end_ - Clock::now()).count();
    if (left <= 0) return 0;
    return static_cast<int>(std::min<long long>(left, silence_ms_));
  }

 private:
  Clock::time_point end_;
  int silence_ms_;
};

enum class Ready { kYes, kTimedOut, kFailed };
enum class Await { kRead, kWrite, kConnect };

// Waits at most wait_ms until the socket can be read, written, or its
// connection has been decided. Only a connection watches the error set: on
// a connected socket it would report urgent data, which is never read.
Ready wait_ready(SOCKET s, Await what, int wait_ms) {
  if (wait_ms <= 0) return Ready::kTimedOut;
  fd_set ready;
  FD_ZERO(&ready);
  FD_SET(s, &ready);
  fd_set failed;
  FD_ZERO(&failed);
  FD_SET(s, &failed);
  timeval tv{wait_ms / 1000, (wait_ms % 1000) * 1000};
  const int n =
      select(0, what == Await::kRead ? &ready : nullptr, what == Await::kRead ? nullptr : &ready,
             what == Await::kConnect ? &failed : nullptr, &tv);
  if (n == 0) return Ready::kTimedOut;
  return n < 0 ? Ready::kFailed : Ready::kYes;
}

// The error a socket holds, WSAGetLastError when it cannot be asked.
int pending_error(SOCKET s) {
  int error = 0;
  int len = sizeof error;
  if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &len) != 0) {
    return WSAGetLastError();
  }
  return error;
}

// Connects to the first address of host that accepts, each try within the
// request's waits; the error number of the last try otherwise. The socket
// does not block: every later step waits for it with the same bounds.
int connect_to(const std::string& host, std::uint16_t port, const Deadline& deadline, Socket& out) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0) {
    return WSAGetLastError() != 0 ? WSAGetLastError() : WSAHOST_NOT_FOUND;
  }
  int error = WSAHOST_NOT_FOUND;
  for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
    Socket s(socket(a->ai_family, a->ai_socktype, a->ai_protocol));
    u_long non_blocking = 1;
    if (s.get() == INVALID_SOCKET || ioctlsocket(s.get(), FIONBIO, &non_blocking) != 0) {
      error = WSAGetLastError();
      continue;
    }
    if (connect(s.get(), a->ai_addr, static_cast<int>(a->ai_addrlen)) != 0) {
      error = WSAGetLastError();
      if (error != WSAEWOULDBLOCK) continue;
      const Ready ready = wait_ready(s.get(), Await::kConnect, deadline.next_wait_ms());
      if (ready == Ready::kTimedOut) {
        error = WSAETIMEDOUT;
        continue;
      }
      error = ready == Ready::kFailed ? WSAGetLastError() : pending_error(s.get());
      if (error != 0) continue;
    }
    out = std::move(s);
    error = 0;
    break;
  }
  freeaddrinfo(found);
  return error;
}

}  // namespace

std::string encode_param(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    if (needs_escape(c)) {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    } else {
      out.push_back(ch);
    }
  }
  return out;
}

std::string build_request(const Request& request) {
  const bool via_proxy = !request.proxy_server.empty();
  std::string host_header = request.host;
  if (request.port != 80) host_header += ":" + std::to_string(request.port);
  std::string target = request.path.empty() ? "/" : request.path;
  if (via_proxy) target = "http://" + host_header + target;

  std::string out = (request.body ? "POST " : "GET ") + target + " HTTP/1.0\r\n";
  out += "Host: " + host_header + "\r\n";
  if (request.body) out += "Content-Length: " + std::to_string(request.body->size()) + "\r\n";
  out += "Accept: ";
  out += kAccept;
  out += "\r\nUser-Agent: ";
  out += kUserAgent;
  out += "\r\n\r\n";
  if (request.body) out += *request.body;
  return out;
}

Reply parse_reply(std::string_view bytes) {
  if (bytes.empty()) return failure("Connection closed without a reply");
  std::size_t head_end = bytes.find("\r\n\r\n");
  std::size_t body_start = head_end == std::string_view::npos ? head_end : head_end + 4;
  const std::size_t lf_end = bytes.find("\n\n");
  if (lf_end != std::string_view::npos &&
      (head_end == std::string_view::npos || lf_end < head_end)) {
    head_end = lf_end;
    body_start = lf_end + 2;
  }
  if (head_end == std::string_view::npos) return failure("Incomplete reply headers");
  const std::string_view head = bytes.substr(0, head_end);

  const std::size_t line_end = std::min(head.find('\n'), head.size());
  const std::string_view status_line = trim(head.substr(0, line_end));
  // "HTTP/" version, a space, three digits.
  int status = 0;
  const std::size_t space = status_line.find(' ');
  const bool well_formed =
      status_line.size() >= 12 && status_line.substr(0, 5) == "HTTP/" &&
      space != std::string_view::npos && space + 4 <= status_line.size() &&
      std::from_chars(status_line.data() + space + 1, status_line.data() + space + 4, status).ec ==
          std::errc{} &&
      status >= 100 && status <= 999 &&
      (space + 4 == status_line.size() || status_line[space + 4] == ' ');
  if (!well_formed) return failure("Invalid reply status line: " + printable(status_line));

  std::optional<std::size_t> content_length;
  std::size_t pos = line_end;
  while (pos < head.size()) {
    const std::size_t start = pos + 1;
    const std::size_t end = std::min(head.find('\n', start), head.size());
    const std::string_view line = head.substr(start, end - start);
    pos = end;
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos ||
        !same_text(trim(line.substr(0, colon)), "Content-Length")) {
      continue;
    }
    const std::string_view value = trim(line.substr(colon + 1));
    std::size_t n = 0;
    const auto [p, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
    if (ec == std::errc{} && p == value.data() + value.size()) content_length = n;
  }

  if (status >= 400) return failure(printable(status_line), status);

  std::string_view content = bytes.substr(std::min(body_start, bytes.size()));
  if (content_length) {
    if (content.size() < *content_length) {
      return failure("Connection closed before the whole reply arrived", status);
    }
    content = content.substr(0, *content_length);
  }
  Reply r;
  r.ok = true;
  r.status = status;
  r.content = std::string(content);
  return r;
}

Reply perform(const Request& request, const WorkHandler& on_work) {
  const Deadline deadline(request.deadline_ms, request.socket_timeout_ms);
  WinsockSession winsock;
  if (!winsock.ok()) return failure(socket_error(WSASYSNOTREADY));
  const bool via_proxy = !request.proxy_server.empty();
  Socket s;
  const int error = via_proxy
                        ? connect_to(request.proxy_server,
                                     request.proxy_port != 0 ? request.proxy_port : 80, deadline, s)
                        : connect_to(request.host, request.port, deadline, s);
  if (error != 0) return failure(socket_error(error));

  // Waits for the socket; the failure to report when it cannot go on.
  auto wait = [&](Await what) -> std::optional<Reply> {
    switch (wait_ready(s.get(), what, deadline.next_wait_ms())) {
      case Ready::kYes:
        return std::nullopt;
      case Ready::kTimedOut:
        return failure(socket_error(WSAETIMEDOUT));
      case Ready::kFailed:
        break;
    }
    return failure(socket_error(WSAGetLastError()));
  };

  const std::string out = build_request(request);
  std::size_t sent = 0;
  while (sent < out.size()) {
    if (auto stop = wait(Await::kWrite)) return *stop;
    const int chunk = static_cast<int>(std::min<std::size_t>(out.size() - sent, 64 * 1024));
    const int n = send(s.get(), out.data() + sent, chunk, 0);
    if (n <= 0) {
      if (n < 0 && WSAGetLastError() == WSAEWOULDBLOCK) continue;
      return failure(socket_error(WSAGetLastError()));
    }
    sent += static_cast<std::size_t>(n);
    if (on_work) on_work(WorkMode::kWrite, static_cast<std::int64_t>(sent));
  }

  std::string in;
  char buffer[16 * 1024];
  for (;;) {
    if (auto stop = wait(Await::kRead)) return *stop;
    const int n = recv(s.get(), buffer, sizeof buffer, 0);
    if (n == 0) break;
    if (n < 0) {
      const int e = WSAGetLastError();
      if (e == WSAEWOULDBLOCK) continue;
      // A server that closes hard after its reply has still replied.
      if (e == WSAECONNRESET && !in.empty()) break;
      return failure(socket_error(e));
    }
    if (in.size() + static_cast<std::size_t>(n) > kMaxReplyBytes) {
      return failure("Reply larger than " + std::to_string(kMaxReplyBytes) + " bytes");
    }
    in.append(buffer, static_cast<std::size_t>(n));
    if (on_work) on_work(WorkMode::kRead, static_cast<std::int64_t>(in.size()));
  }
  return parse_reply(in);
}

}  // namespace zt::win::http
