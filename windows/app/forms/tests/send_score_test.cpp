#include "forms/send_score.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <psapi.h>

#include <chrono>
#include <iostream>

#include "dialog_driver.h"
#include "fixture_table.h"
#include "loopback_server.h"
#include "ranking.h"
#include "text_codec.h"

namespace zt::win {
namespace {

using test::DialogDriver;
using test::press;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

constexpr wchar_t kTitle[] = L"インターネットランキング";

// A directory holding "ZTScore.dat" (the fixture table) and "Network.ini",
// made the current directory while it lives.
class SenderFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    GetCurrentDirectoryW(MAX_PATH, old_dir_);
    SetCurrentDirectoryW(dir_.path().c_str());
    THiScore t = test::fixture_table();
    const auto image = t.save();
    test::write_bytes(dir_.file(L"ZTScore.dat"),
                      std::string(reinterpret_cast<const char*>(image->data()), image->size()));
    // Section and key names in another case: the system's INI reading ignores it.
    test::write_bytes(dir_.file(L"Network.ini"),
                      "[network]\r\nrankingserver=127.0.0.1\r\nRANKINGSCRIPT=/rank.cgi\r\n");
    form_.NetworkIniPath = dir_.file(L"Network.ini");
  }
  void TearDown() override { SetCurrentDirectoryW(old_dir_); }

  // Opens the wizard and runs the script once it shows, inside its modal loop.
  void open_with(const std::function<void()>& script) {
    form_.OnShow = [&] {
      form_.FormShow();
      script();
    };
    form_.Open();
  }

  void fill_and_tick() {
    form_.edtName.SetText(L"ZEN & co+1");
    form_.edtComment.SetText(L"a=b 漢字");
    form_.lvwScores.SetChecked(2, true);
    form_.lvwScores.SetChecked(6, true);
    for (int i = 0; i < 3; ++i) form_.btnProceedClick();
  }

  std::string expected_body() const {
    const bool ticked[10] = {false, false, true, false, false, false, true};
    return ranking_body(to_code_page(L"ZEN & co+1", kShiftJis),
                        to_code_page(L"a=b 漢字", kShiftJis), test::fixture_table(), ticked);
  }

  wchar_t old_dir_[MAX_PATH] = {};
  test::TempDir dir_;
  TfrmSendScore form_;
};

TEST(Sender, BottomButtonsFromRightToLeftProceedBackCancel) {
  TfrmSendScore form;
  form.Show();
  RECT client;
  GetClientRect(form.Handle(), &client);
  EXPECT_EQ(client.right, 445);
  EXPECT_EQ(client.bottom, 335);
  struct Expected {
    const TButton* button;
    const wchar_t* caption;
    int width;
  };
  const Expected right_to_left[] = {{&form.btnProceed, L">> 進む", 75},
                                    {&form.btnPrevious, L"<< 戻る", 75},
                                    {&form.btnCancel, L"キャンセル(&C)", 83}};
  LONG left_of_last = client.right + 1;
  for (const Expected& e : right_to_left) {
    SCOPED_TRACE(e.caption);
    RECT r;
    GetWindowRect(e.button->Handle(), &r);
    MapWindowPoints(nullptr, form.Handle(), reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(e.button->Text(), e.caption);
    EXPECT_EQ(r.right - r.left, e.width);
    EXPECT_EQ(r.bottom - r.top, 25);
    EXPECT_LE(r.right, left_of_last);
    EXPECT_GT(r.top, 285);  // below the page control
    EXPECT_LE(r.bottom, client.bottom);
    left_of_last = r.left;
  }
  EXPECT_EQ(form.DefaultButton, &form.btnProceed);
  EXPECT_EQ(form.CancelButton, &form.btnCancel);

  // Tab follows the buttons from left to right, and from Proceed goes on to
  // the page; on the second page every button takes the focus.
  form.btnProceedClick();
  std::vector<HWND> cycle;
  HWND h = form.btnProceed.Handle();
  do {
    h = GetNextDlgTabItem(form.Handle(), h, FALSE);
    cycle.push_back(h);
  } while (h != form.btnProceed.Handle() && cycle.size() < 20);
  ASSERT_GE(cycle.size(), 4u);
  EXPECT_THAT(
      std::vector<HWND>(cycle.end() - 3, cycle.end()),
      ElementsAre(form.btnCancel.Handle(), form.btnPrevious.Handle(), form.btnProceed.Handle()));
}

TEST_F(SenderFixture, RepliesAndFailuresReachTheMessageAndTheLog) {
  const std::wstring detail = L"\r\n詳細は表示された通信ログ画面をご覧ください。";
  const std::wstring failed = L"サーバとの接続に失敗しました。";
  std::string odd = "HTTP/1.0 200 OK\r\n\r\n";
  for (int b = 1; b < 256; ++b) odd.push_back(static_cast<char>(b == '\r' || b == '\n' ? 'x' : b));
  odd += "\r!last";
  struct Case {
    const char* what;
    std::string reply;  // empty: nobody listens
    std::vector<std::wstring> boxes;
    std::vector<std::wstring> log;
  };
  const Case cases[] = {
      {"success",
       "HTTP/1.0 200 OK\r\n\r\nregistered\r\n thanks",
       {L"登録作業が完了しました。" + detail},
       {L"通信開始...", L"registered", L" thanks"}},
      {"error line after an empty one",
       "HTTP/1.0 200 OK\r\n\r\n\n!bad entry\r\nok",
       {L"登録作業中に、ランキングサーバが何らかのエラーを返しました。" + detail},
       {L"通信開始...", L"", L"!bad entry", L"ok"}},
      {"space before the mark",
       "HTTP/1.0 200 OK\r\n\r\n !not an error",
       {L"登録作業が完了しました。" + detail},
       {L"通信開始...", L" !not an error"}},
      {"status 500",
       "HTTP/1.0 500 Internal Server Error\r\n\r\n!oops",
       {},
       {L"通信開始...", failed + L"HTTP/1.0 500 Internal Server Error"}},
      {"refused", "", {}, {L"通信開始...", failed + L"Socket Error # 10061"}},
      {"every byte",
       odd,
       {L"登録作業中に、ランキングサーバが何らかのエラーを返しました。" + detail},
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::unique_ptr<test::LoopbackServer> server;
    if (!c.reply.empty()) server = std::make_unique<test::LoopbackServer>(c.reply);
    form_.ServerPort = server ? server->port() : test::LoopbackServer::closed_port();
    std::vector<test::DialogStep> steps;
    for (std::size_t i = 0; i < c.boxes.size(); ++i) steps.push_back(press(IDOK));
    DialogDriver boxes(steps);
    bool sent = false;
    open_with([&] {
      fill_and_tick();
      EXPECT_EQ(form_.btnProceed.Text(), L"完了");
      form_.btnSendClick();
      EXPECT_TRUE(form_.Requesting());
      // A second press while the first request runs starts nothing.
      form_.btnSendClick();
      EXPECT_THAT(form_.memLog.Lines(), ElementsAre(L"通信開始..."));
      sent = test::pump_until([&] { return form_.SentFlag(); });
      // Sent: the last page's proceed button closes without asking.
      form_.btnProceedClick();
    });
    boxes.finish();
    EXPECT_TRUE(sent);
    EXPECT_FALSE(form_.Requesting());
    EXPECT_THAT(boxes.texts(), ElementsAreArray(c.boxes));
    if (!c.log.empty()) {
      EXPECT_THAT(form_.memLog.Lines(), ElementsAreArray(c.log));
    } else {
      EXPECT_EQ(form_.memLog.Lines().back(), L"!last");
    }
    EXPECT_EQ(form_.ScoreTable(), nullptr);  // freed on closing
    if (server) {
      const std::string& request = server->request();
      EXPECT_THAT(request, ::testing::StartsWith("POST /rank.cgi HTTP/1.0\r\n"));
      EXPECT_THAT(request, ::testing::HasSubstr("\r\nHost: 127.0.0.1:"));
      EXPECT_THAT(request, ::testing::EndsWith("\r\n\r\n" + expected_body()));
    }
  }
}

// The peak memory of this process so far, in MiB.
std::size_t peak_mib() {
  PROCESS_MEMORY_COUNTERS c{};
  c.cb = sizeof c;
  GetProcessMemoryInfo(GetCurrentProcess(), &c, sizeof c);
  return c.PeakWorkingSetSize >> 20;
}

// A server that drips its reply ends as a failed request when the request's
// time is up (shortened here); a reply of millions of lines, up to the
// client's 8 MiB, is judged whole and its start logged at once.
TEST_F(SenderFixture, ServersThatDripOrFloodAreReportedInTime) {
  const std::string head = "HTTP/1.0 200 OK\r\n\r\n";
  auto filled = [&](const std::string& line, const std::string& tail) {
    std::string reply = head;
    while (reply.size() + line.size() + tail.size() <= http::kMaxReplyBytes) reply += line;
    return reply + tail;
  };
  const std::wstring error_box =
      L"登録作業中に、ランキングサーバが何らかのエラーを返しました。\r\n"
      L"詳細は表示された通信ログ画面をご覧ください。";
  struct Case {
    const char* what;
    std::string reply;
    int byte_interval_ms;
    std::vector<std::wstring> boxes;
    std::wstring first_reply_line;
  };
  const Case cases[] = {
      {"one byte every 50 ms",
       head + std::string(200, 'x'),
       50,
       {},
       L"サーバとの接続に失敗しました。Socket Error # 10060"},
      {"4 million error lines", filled("!\n", ""), 0, {error_box}, L"!"},
      {"an error line after 2.8 million others", filled("ok\n", "!late"), 0, {error_box}, L"ok"},
  };
  form_.RequestDeadlineMs = 1500;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::LoopbackServer server(c.reply, std::chrono::milliseconds(c.byte_interval_ms));
    form_.ServerPort = server.port();
    std::vector<test::DialogStep> steps;
    for (std::size_t i = 0; i < c.boxes.size(); ++i) steps.push_back(press(IDOK));
    DialogDriver boxes(steps);
    double seconds = 0;
    open_with([&] {
      fill_and_tick();
      const auto start = std::chrono::steady_clock::now();
      form_.btnSendClick();
      // Reported, the box answered and the log filled: the wizard is free.
      EXPECT_TRUE(test::pump_until([&] { return form_.SentFlag(); }, 30'000));
      seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      form_.btnProceedClick();
    });
    boxes.finish();
    EXPECT_THAT(boxes.texts(), ElementsAreArray(c.boxes));
    const std::vector<std::wstring> log = form_.memLog.Lines();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[0], L"通信開始...");
    EXPECT_EQ(log[1], c.first_reply_line);
    if (c.byte_interval_ms == 0) {
      EXPECT_EQ(log.size(), 1 + kReplyLogMaxLines + 1);
      EXPECT_THAT(log.back(), ::testing::StartsWith(L"(以下、"));
    } else {
      EXPECT_EQ(log.size(), 2u);
      EXPECT_GE(seconds, 1.4);
    }
    // Generous bounds; the figures go to the output.
    EXPECT_LT(seconds, 10.0);
    EXPECT_LT(peak_mib(), 300u);
    std::cout << c.what << ": reported and logged after " << seconds << " s, peak " << peak_mib()
              << " MiB\n";
  }
}

TEST_F(SenderFixture, MissingNameOrTicksSendNothingAndClosingAsksUntilSent) {
  DialogDriver boxes(
      {press(IDOK), press(IDOK), press(IDCANCEL), test::close_form(kTitle), press(IDOK)});
  open_with([&] {
    EXPECT_EQ(form_.lvwScores.Count(), 10);
    EXPECT_EQ(form_.lvwScores.Cell(0, 0), L"123456");
    EXPECT_EQ(form_.lvwScores.Cell(0, 1), L"ZENTRIA");
    EXPECT_FALSE(form_.btnPrevious.Enabled());
    form_.edtName.SetText(L"");
    for (int i = 0; i < 3; ++i) form_.btnProceedClick();
    EXPECT_TRUE(form_.btnPrevious.Enabled());
    form_.btnSendClick();
    EXPECT_EQ(form_.PageControl.ActivePage(), 2);
    form_.edtName.SetText(L"ZEN");
    form_.btnSendClick();
    EXPECT_EQ(form_.PageControl.ActivePage(), 1);
    EXPECT_FALSE(form_.Requesting());
    // The tabs themselves never change the page.
    bool allow = true;
    form_.PageControlChanging(allow);
    EXPECT_FALSE(allow);
    form_.btnPreviousClick();
    EXPECT_EQ(form_.PageControl.ActivePage(), 0);
    EXPECT_EQ(form_.btnProceed.Text(), L">> 進む");
    // Not sent: Cancel asks, and its Cancel keeps the wizard.
    form_.btnCancelClick();
  });
  boxes.finish();
  EXPECT_TRUE(boxes.all_done());
  const std::vector<std::wstring> texts = boxes.texts();
  ASSERT_EQ(texts.size(), 5u);
  EXPECT_EQ(texts[0], L"名前が記入されていません。");
  EXPECT_EQ(texts[1], L"送信するスコアが1つも選択されていません。");
  EXPECT_EQ(texts[2], L"送信は完了していません。ウィンドウを閉じますか?");
  EXPECT_EQ(texts[4], texts[2]);
}

TEST_F(SenderFixture, AScoreFileMissingOrInvalidStopsTheOpening) {
  struct Case {
    const char* bytes;  // nullptr: no file
    const wchar_t* message;
  };
  for (const Case c :
       {Case{nullptr, L"File does not exist"}, Case{"short", L"Invalid hiscore file"}}) {
    DeleteFileW(dir_.file(L"ZTScore.dat").c_str());
    if (c.bytes) test::write_bytes(dir_.file(L"ZTScore.dat"), c.bytes);
    try {
      form_.Open();
      ADD_FAILURE() << "opened";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), c.message);
    }
    EXPECT_FALSE(IsWindowVisible(form_.Handle()));
  }
}

TEST_F(SenderFixture, ClosingWhileARequestRunsIsRefused) {
  // A server that takes the connection and never answers until it goes away.
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
  listen(listener, 1);
  int len = sizeof a;
  getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
  form_.ServerPort = ntohs(a.sin_port);
  DialogDriver boxes({press(IDOK), press(IDOK)});
  bool failed_once = false;
  open_with([&] {
    fill_and_tick();
    form_.btnSendClick();
    bool can_close = true;
    form_.FormCloseQuery(can_close);
    EXPECT_FALSE(can_close);
    closesocket(listener);
    failed_once = test::pump_until([&] { return form_.SentFlag(); }, 40'000);
    form_.btnCancelClick();
  });
  boxes.finish();
  WSACleanup();
  EXPECT_TRUE(failed_once);
  EXPECT_THAT(boxes.texts(), ElementsAre(L"送信は完了していません。ウィンドウを閉じますか?",
                                         L"現在サーバと通信中です。"));
}

}  // namespace
}  // namespace zt::win
