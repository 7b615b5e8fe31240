#include "http/http_client.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <charconv>
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

// Connects to the first address of host that accepts; the error number of the last try otherwise.
int connect_to(const std::string& host, std::uint16_t port, Socket& out) {
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
    if (s.get() == INVALID_SOCKET) {
      error = WSAGetLastError();
      continue;
    }
    const DWORD timeout = kSocketTimeoutMs;
    setsockopt(s.get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
               sizeof timeout);
    setsockopt(s.get(), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout),
               sizeof timeout);
    if (connect(s.get(), a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0) {
      out = std::move(s);
      error = 0;
      break;
    }
    error = WSAGetLastError();
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
  WinsockSession winsock;
  if (!winsock.ok()) return failure(socket_error(WSASYSNOTREADY));
  const bool via_proxy = !request.proxy_server.empty();
  Socket s;
  const int error = via_proxy ? connect_to(request.proxy_server,
                                           request.proxy_port != 0 ? request.proxy_port : 80, s)
                              : connect_to(request.host, request.port, s);
  if (error != 0) return failure(socket_error(error));

  const std::string out = build_request(request);
  std::size_t sent = 0;
  while (sent < out.size()) {
    const int chunk = static_cast<int>(std::min<std::size_t>(out.size() - sent, 64 * 1024));
    const int n = send(s.get(), out.data() + sent, chunk, 0);
    if (n <= 0) return failure(socket_error(WSAGetLastError()));
    sent += static_cast<std::size_t>(n);
    if (on_work) on_work(WorkMode::kWrite, static_cast<std::int64_t>(sent));
  }

  std::string in;
  char buffer[16 * 1024];
  for (;;) {
    const int n = recv(s.get(), buffer, sizeof buffer, 0);
    if (n == 0) break;
    if (n < 0) {
      const int e = WSAGetLastError();
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
