#include "http/download_thread.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "loopback_server.h"
#include "message_window.h"

namespace zt::win {
namespace {

struct Outcome {
  bool done = false;
  bool completed = false;
  bool on_main_thread = false;
  std::string text;  // Response or ErrorMessage
  std::vector<std::int32_t> progress;
};

// Starts a request the way the sender does and runs the main thread's
// message loop until one of its two events has run.
Outcome run_request(std::uint16_t port, std::string body, bool with_progress = false) {
  WindowSynchronizer sync;
  Outcome out;
  const DWORD main_thread = GetCurrentThreadId();
  auto t = std::make_unique<THTTPDownloadThread>("127.0.0.1", "/rank.cgi", std::move(body), sync);
  t->Port = port;
  t->OnComplete = [&](THTTPDownloadThread& s) {
    out = Outcome{true, true, GetCurrentThreadId() == main_thread, s.Response, out.progress};
  };
  t->OnError = [&](THTTPDownloadThread& s) {
    out = Outcome{true, false, GetCurrentThreadId() == main_thread, s.ErrorMessage, out.progress};
  };
  if (with_progress) {
    t->OnProgress = [&](THTTPDownloadThread&, std::int32_t n) { out.progress.push_back(n); };
  }
  THTTPDownloadThread::Resume(std::move(t));
  EXPECT_TRUE(pump_messages_until([&] { return out.done; }, 10'000));
  return out;
}

TEST(HttpDownloadThread, ReplyReachesOnCompleteOnTheMainThread) {
  test::LoopbackServer server("HTTP/1.0 200 OK\r\n\r\n!bad entry\r\nok\r\n");
  const Outcome o = run_request(server.port(), "name=A");
  EXPECT_TRUE(o.completed);
  EXPECT_TRUE(o.on_main_thread);
  EXPECT_EQ(o.text, "!bad entry\r\nok\r\n");
  EXPECT_THAT(server.request(), ::testing::StartsWith("POST /rank.cgi HTTP/1.0\r\n"));
}

TEST(HttpDownloadThread, FailuresReachOnError) {
  {
    test::LoopbackServer server("HTTP/1.0 500 Internal Server Error\r\n\r\n");
    const Outcome o = run_request(server.port(), "name=A");
    EXPECT_FALSE(o.completed);
    EXPECT_TRUE(o.on_main_thread);
    EXPECT_EQ(o.text, "HTTP/1.0 500 Internal Server Error");
  }
  const Outcome refused = run_request(test::LoopbackServer::closed_port(), "name=A");
  EXPECT_FALSE(refused.completed);
  EXPECT_EQ(refused.text, "Socket Error # 10061");
}

TEST(HttpDownloadThread, ProgressOnlyWhenACountCrossesAStepWhileReading) {
  struct Step {
    http::WorkMode mode;
    std::int64_t count;
  };
  WindowSynchronizer sync;
  THTTPDownloadThread t("h", "/", "", sync);
  std::vector<std::int32_t> seen;
  t.OnProgress = [&](THTTPDownloadThread&, std::int32_t n) { seen.push_back(n); };
  // Synchronised calls from the main thread itself run at once.
  for (const Step s : {Step{http::WorkMode::kWrite, 5000}, Step{http::WorkMode::kRead, 1000},
                       Step{http::WorkMode::kRead, 1023}, Step{http::WorkMode::kRead, 1024},
                       Step{http::WorkMode::kRead, 2047}, Step{http::WorkMode::kRead, 5000},
                       Step{http::WorkMode::kWrite, 9}}) {
    t.DoWork(s.mode, s.count);
  }
  EXPECT_THAT(seen, ::testing::ElementsAre(1024, 5000));
}

}  // namespace
}  // namespace zt::win
