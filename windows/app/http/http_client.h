// A small HTTP/1.0 client over Winsock, standing in for the HTTP component
// library the ranking sender was written against: its request line and
// headers, its default Accept and user agent, its rule that a status of 400
// or more is an error, its parameter encoder and its work events.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace zt::win::http {

inline constexpr std::string_view kAccept = "text/html, */*";
inline constexpr std::string_view kUserAgent = "Mozilla/3.0 (compatible; Indy Library)";
// A reply larger than this is refused instead of filling memory.
inline constexpr std::size_t kMaxReplyBytes = 8 * 1024 * 1024;
// A server that stops answering ends the request instead of holding it forever.
inline constexpr int kSocketTimeoutMs = 30'000;
// The most a whole request may take, from looking the host up to the last
// byte of the reply: a server that drips its reply a byte at a time ends it
// as one that stops answering does.
inline constexpr int kRequestDeadlineMs = 60'000;

struct Request {
  std::string host;
  std::uint16_t port = 80;
  std::string path;
  std::optional<std::string> body;  // POST with this body; GET without
  std::string proxy_server;         // empty: connect to the host itself
  std::uint16_t proxy_port = 0;
  // The longest silence, and the whole request's time; the program keeps
  // the constants, tests shorten them.
  int socket_timeout_ms = kSocketTimeoutMs;
  int deadline_ms = kRequestDeadlineMs;
};

enum class WorkMode { kRead, kWrite };
// Bytes sent or received so far in the current mode.
using WorkHandler = std::function<void(WorkMode mode, std::int64_t count)>;

struct Reply {
  bool ok = false;
  int status = 0;       // 0 when no status line arrived
  std::string content;  // the body, as received
  std::string error;    // on failure: what ended the request, one line of text
};

// The exact bytes sent for a request.
std::string build_request(const Request& request);

// Reads a complete reply (the bytes up to the server's close).
Reply parse_reply(std::string_view bytes);

Reply perform(const Request& request, const WorkHandler& on_work = {});

// The parameter encoder: a space, "#", "%", "*", "<", ">", "[", "]", any
// byte below 33 or above 128 becomes "%" and two upper-case hex digits.
std::string encode_param(std::string_view bytes);

}  // namespace zt::win::http
