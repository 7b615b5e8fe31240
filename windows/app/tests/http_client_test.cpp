#include "http/http_client.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "loopback_server.h"

namespace zt::win::http {
namespace {

using namespace std::string_literals;

Request local(std::uint16_t port, std::optional<std::string> body) {
  Request r;
  r.host = "127.0.0.1";
  r.port = port;
  r.path = "/";
  r.body = std::move(body);
  return r;
}

TEST(EncodeParam, EscapesExactlyTheLibrarysSet) {
  struct Case {
    std::string in, out;
  };
  const Case cases[] = {
      {"a b", "a%20b"},
      {"&=+?/:;@$,!'()~._-", "&=+?/:;@$,!'()~._-"},
      {"#%*<>[]", "%23%25%2A%3C%3E%5B%5D"},
      {"\x01\x1F !", "%01%1F%20!"},
      {"\x7F\x80\x81\xFF", "\x7F\x80%81%FF"},
      {"\"{}|\\^`", "\"{}|\\^`"},
      {"\x00"s, "%00"},
      {"\x83\x65\x83\x58", "%83e%83X"},  // Shift-JIS bytes
  };
  for (const Case& c : cases) EXPECT_EQ(encode_param(c.in), c.out) << c.in;
}

TEST(BuildRequest, PostAndGetAsTheLibrarySendsThem) {
  Request post;
  post.host = "rank.example";
  post.path = "/~tovaki/ztrank/ztrank.cgi";
  post.body = "name=A&comment=";
  EXPECT_EQ(build_request(post),
            "POST /~tovaki/ztrank/ztrank.cgi HTTP/1.0\r\n"
            "Host: rank.example\r\n"
            "Content-Length: 15\r\n"
            "Accept: text/html, */*\r\n"
            "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n"
            "\r\n"
            "name=A&comment=");
  Request get;
  get.host = "127.0.0.1";
  get.port = 8080;
  get.path = "/x";
  EXPECT_EQ(build_request(get),
            "GET /x HTTP/1.0\r\nHost: 127.0.0.1:8080\r\nAccept: text/html, */*\r\n"
            "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n\r\n");
}

TEST(ParseReply, OddRepliesGiveContentOrAnErrorNeverACrash) {
  struct Case {
    const char* what;
    std::string bytes;
    bool ok;
    std::string content_or_error;
  };
  const std::string binary = "\x00\xFF\r\r\n\x80!"s;
  const Case cases[] = {
      {"plain", "HTTP/1.0 200 OK\r\n\r\nfine\r\n", true, "fine\r\n"},
      {"no reason", "HTTP/1.1 200\r\n\r\nx", true, "x"},
      {"LF only", "HTTP/1.0 200 OK\nA: b\n\nbody", true, "body"},
      {"empty body", "HTTP/1.0 200 OK\r\n\r\n", true, ""},
      {"binary body", "HTTP/1.0 200 OK\r\n\r\n" + binary, true, binary},
      {"length cuts", "HTTP/1.0 200 OK\r\ncontent-length: 3\r\n\r\nabcdef", true, "abc"},
      {"redirect is a reply", "HTTP/1.0 302 Found\r\nLocation: /x\r\n\r\nmoved", true, "moved"},
      {"bad length ignored", "HTTP/1.0 200 OK\r\nContent-Length: -5\r\n\r\nab", true, "ab"},
      {"length short", "HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nab", false,
       "Connection closed before the whole reply arrived"},
      {"404", "HTTP/1.1 404 Not Found\r\n\r\nnope", false, "HTTP/1.1 404 Not Found"},
      {"500", "HTTP/1.0 500 Internal Server Error\r\n\r\n", false,
       "HTTP/1.0 500 Internal Server Error"},
      {"control bytes in status", "HTTP/1.0 503 \x01\x1B[2J\r\n\r\n", false, "HTTP/1.0 503 ??[2J"},
      {"nothing", "", false, "Connection closed without a reply"},
      {"no header end", "HTTP/1.0 200 OK\r\nA: b", false, "Incomplete reply headers"},
      {"not HTTP", "hello\r\n\r\n", false, "Invalid reply status line: hello"},
      {"status too short", "HTTP/1.0 20\r\n\r\n", false, "Invalid reply status line: HTTP/1.0 20"},
      {"status not digits", "HTTP/1.0 2x0 OK\r\n\r\n", false,
       "Invalid reply status line: HTTP/1.0 2x0 OK"},
      {"status with NUL", "HTTP/1.0 200\0 OK\r\n\r\n"s, false,
       "Invalid reply status line: HTTP/1.0 200? OK"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Reply r = parse_reply(c.bytes);
    EXPECT_EQ(r.ok, c.ok);
    EXPECT_EQ(c.ok ? r.content : r.error, c.content_or_error);
  }
}

TEST(Perform, PostsExactlyTheRequestAndReadsTheReply) {
  test::LoopbackServer server("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nOK\r\n");
  Request r;
  r.host = "127.0.0.1";
  r.port = server.port();
  r.path = "/rank.cgi";
  r.body = "name=A%20B&comment=&entry=%30";
  std::vector<std::pair<WorkMode, std::int64_t>> work;
  const Reply reply = perform(r, [&](WorkMode m, std::int64_t n) { work.emplace_back(m, n); });
  EXPECT_TRUE(reply.ok) << reply.error;
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.content, "OK\r\n");
  EXPECT_EQ(server.request(), build_request(r));
  EXPECT_EQ(server.request().substr(0, 30), "POST /rank.cgi HTTP/1.0\r\nHost:");
  ASSERT_FALSE(work.empty());
  EXPECT_EQ(work.front(), std::make_pair(WorkMode::kWrite, std::int64_t(build_request(r).size())));
  EXPECT_EQ(work.back().first, WorkMode::kRead);
}

TEST(Perform, ErrorsOfServerAndConnection) {
  {
    test::LoopbackServer server("HTTP/1.1 500 Internal Server Error\r\n\r\noops");
    Request r = local(server.port(), "x=1");
    const Reply reply = perform(r);
    EXPECT_FALSE(reply.ok);
    EXPECT_EQ(reply.status, 500);
    EXPECT_EQ(reply.error, "HTTP/1.1 500 Internal Server Error");
  }
  {
    Request r = local(test::LoopbackServer::closed_port(), "x=1");
    const Reply reply = perform(r);
    EXPECT_FALSE(reply.ok);
    EXPECT_EQ(reply.error, "Socket Error # 10061");
  }
  {
    // The server closes without answering.
    test::LoopbackServer server("");
    Request r = local(server.port(), "x=1");
    EXPECT_EQ(perform(r).error, "Connection closed without a reply");
  }
}

// A server that drips its reply past the request's time, or falls silent
// for longer than the longest silence, ends the request as a timeout when
// that time is up; one that drips within the time is read whole.
TEST(Perform, ARequestEndsInItsTimeHoweverSlowlyTheServerAnswers) {
  struct Case {
    const char* what;
    std::string reply;
    int byte_interval_ms;
    int silence_ms, deadline_ms;
    bool ok;
    int ends_after_ms;  // at the earliest
  };
  const std::string head = "HTTP/1.0 200 OK\r\n\r\n";
  const Case cases[] = {
      {"drips past the deadline", head + std::string(200, 'x'), 50, 1000, 1500, false, 1500},
      {"silent after its first byte", head, 3000, 500, 5000, false, 500},
      {"drips within the deadline", head + "ok", 20, 1000, 5000, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::LoopbackServer server(c.reply, std::chrono::milliseconds(c.byte_interval_ms));
    Request r = local(server.port(), "x=1");
    r.socket_timeout_ms = c.silence_ms;
    r.deadline_ms = c.deadline_ms;
    const auto start = std::chrono::steady_clock::now();
    const Reply reply = perform(r);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    EXPECT_EQ(reply.ok, c.ok) << reply.error;
    if (c.ok) {
      EXPECT_EQ(reply.content, "ok");
    } else {
      // As a server that never answers is reported.
      EXPECT_EQ(reply.error, "Socket Error # 10060");
      EXPECT_GE(ms, c.ends_after_ms - 50);
      EXPECT_LT(ms, c.ends_after_ms + 5000);  // a generous bound: the wait ended
    }
  }
}

TEST(Perform, LargeAndBinaryRepliesArriveWhole) {
  std::string body(3 * 1024 * 1024 + 7, '\0');
  for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 131 + (i >> 9));
  test::LoopbackServer server("HTTP/1.0 200 OK\r\n\r\n" + body);
  Request r = local(server.port(), std::nullopt);
  const Reply reply = perform(r);
  ASSERT_TRUE(reply.ok) << reply.error;
  EXPECT_EQ(reply.content.size(), body.size());
  EXPECT_TRUE(reply.content == body);
  EXPECT_EQ(server.request().substr(0, 14), "GET / HTTP/1.0");
}

TEST(Perform, AReplyBeyondTheLimitIsRefused) {
  test::LoopbackServer server("HTTP/1.0 200 OK\r\n\r\n" + std::string(kMaxReplyBytes + 1, 'x'));
  Request r = local(server.port(), std::nullopt);
  const Reply reply = perform(r);
  EXPECT_FALSE(reply.ok);
  EXPECT_THAT(reply.error, ::testing::StartsWith("Reply larger than"));
}

}  // namespace
}  // namespace zt::win::http
