#include "ranking.h"

#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <string>

#include "fixture_table.h"
#include "text_codec.h"

namespace zt::win {
namespace {

using ::testing::ElementsAre;

std::string hex_escapes(std::string_view bytes) {
  std::string out;
  char buf[4];
  for (unsigned char c : bytes) {
    std::snprintf(buf, sizeof buf, "%%%02X", c);
    out += buf;
  }
  return out;
}

TEST(RankingEntry, TextAndScrambling) {
  const THiScore t = test::fixture_table();
  EXPECT_EQ(ranking_entry_text(t.get_entry2(1)), "123456,ZENTRIA@2024/03/05 14:07:09");
  ScoreEntryRaw negative = t.get_entry2(2);
  negative.score = -42;
  EXPECT_EQ(ranking_entry_text(negative), "-42,AB<I>&C@2001/09/09 01:46:40");
  // The digits of 12345 XOR the keys 1 to 5 all give 0x30; then "," XOR 6.
  EXPECT_EQ(scramble_entry(ranking_entry_text(t.get_entry2(2))).substr(0, 18),
            "%30%30%30%30%30%2A");
  // Keys 1 to 254, then 0 at the 255th byte, then 1 again.
  const std::string zeros(300, '\0');
  std::string keys;
  for (int k = 1; k <= 300; ++k) keys.push_back(static_cast<char>(k % 255));
  EXPECT_EQ(scramble_entry(zeros), hex_escapes(keys));
  EXPECT_EQ(scramble_entry(std::string(255, 'A')).substr(254 * 3), "%41");
}

TEST(RankingBody, NameCommentAndTheTickedEntriesInRowOrder) {
  const THiScore t = test::fixture_table();
  std::array<bool, 10> ticked{};
  ticked[6] = true;  // row 7 first in the array order below
  ticked[2] = true;
  const std::string name = to_code_page(L"A&B=C+D E", kShiftJis);
  const std::string comment = to_code_page(L"\xFF7A\xFF92\xFF9D\xFF84 #1", kShiftJis);  // ｺﾒﾝﾄ #1
  EXPECT_EQ(ranking_body(name, comment, t, ticked),
            "name=A&B=C+D%20E&comment=%BA%D2%DD%C4%20%231"
            "&entry=" +
                scramble_entry("10000,KOVAKOVA@1900/01/01 00:00:00") +
                "&entry=" + scramble_entry("6500,LEAP@2024/02/29 23:59:59"));
  EXPECT_EQ(ranking_body("", "", t, std::array<bool, 10>{}), "name=&comment=");
}

TEST(RankingReply, AnExclamationMarkStartingALineMeansAnError) {
  struct Case {
    const char* reply;
    std::vector<std::wstring> log;
    bool error;
  };
  const Case cases[] = {
      {"OK\r\nthanks\r\n", {L"OK", L"thanks"}, false},
      {"\r\n!bad score\r\n", {L"", L"!bad score"}, true},
      {" !not at the start", {L" !not at the start"}, false},
      {"a!b\r\nc !", {L"a!b", L"c !"}, false},
      {"a\rb\n!c", {L"a", L"b", L"!c"}, true},
      {"a\n\r\n\rb", {L"a", L"", L"", L"b"}, false},
      {"!", {L"!"}, true},
      {"", {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply);
    const ReplyReport r = report_reply(c.reply);
    EXPECT_EQ(r.log, c.log);
    EXPECT_EQ(r.error, c.error);
  }
}

// However long the reply, the log holds its first lines and one line that
// says how much was left out; the judgement still reads the whole reply.
TEST(RankingReply, TheLogHoldsTheStartOfALongReplyAndTheJudgementAllOfIt) {
  std::string many;
  for (std::size_t i = 0; i < kReplyLogMaxLines + 5; ++i) many += "ok\r\n";
  const std::string long_line(kReplyLogMaxBytes + 100, 'x');
  // A two-byte character across the byte bound is left out whole.
  const std::string straddling = std::string(kReplyLogMaxBytes - 1, 'y') + "\x83\x65" + "\n!z";
  struct Case {
    const char* what;
    std::string reply;
    bool error;
    std::size_t lines;      // in the log, the note included
    std::size_t last_size;  // of the last line before the note
    std::size_t left_out;   // bytes; 0: no note
  };
  const Case cases[] = {
      {"a line more than the log holds", many + "!late", true, kReplyLogMaxLines + 1, 2, 5 * 4 + 5},
      {"as many lines as it holds", many.substr(0, kReplyLogMaxLines * 4), false, kReplyLogMaxLines,
       2, 0},
      {"one line beyond the bytes", "!" + long_line, true, 2, kReplyLogMaxBytes, 101},
      {"a character across the bound", straddling, true, 2, kReplyLogMaxBytes - 1, 2 + 1 + 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const ReplyReport r = report_reply(c.reply);
    EXPECT_EQ(r.error, c.error);
    ASSERT_EQ(r.log.size(), c.lines);
    if (c.left_out == 0) {
      EXPECT_EQ(r.log.back().size(), c.last_size);
    } else {
      EXPECT_EQ(r.log.back(), left_out_log_line(c.left_out));
      EXPECT_EQ(r.log[r.log.size() - 2].size(), c.last_size);
    }
  }
  EXPECT_EQ(left_out_log_line(25), L"(以下、25 バイトを省略しました)");
}

TEST(RankingReply, MessagesAndLog) {
  const ReplyReport ok = report_reply("\x83\x65\x83\x58\x83\x67\r\nOK");
  EXPECT_FALSE(ok.error);
  EXPECT_EQ(ok.message,
            L"登録作業が完了しました。\r\n詳細は表示された通信ログ画面をご覧ください。");
  EXPECT_THAT(ok.log, ElementsAre(L"テスト", L"OK"));
  const ReplyReport bad = report_reply("!error\n");
  EXPECT_TRUE(bad.error);
  EXPECT_EQ(bad.message,
            L"登録作業中に、ランキングサーバが何らかのエラーを返しました。\r\n"
            L"詳細は表示された通信ログ画面をご覧ください。");
  EXPECT_THAT(bad.log, ElementsAre(L"!error"));
  EXPECT_EQ(failure_log_line("Socket Error # 10061"),
            L"サーバとの接続に失敗しました。Socket Error # 10061");
  // Stray bytes in a reply still give some text; a NUL would end the log's.
  EXPECT_EQ(report_reply(std::string("\x81\x00\xFF", 3)).log.size(), 1u);
  EXPECT_THAT(report_reply(std::string("a\0b\nc", 5)).log, ElementsAre(L"a?b", L"c"));
}

TEST(NetworkIni, SectionAndKeysWithoutCaseAndDefaults) {
  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  const std::wstring path = std::wstring(dir) + L"zt-network-test.ini";
  {
    std::ofstream out(path.c_str(), std::ios::binary);
    out << "[Other]\r\nRankingServer=wrong.example\r\n"
           "[nEtWoRk]\r\nrankingserver=rank.example\r\nRANKINGSCRIPT=/cgi/rank.cgi\r\n";
  }
  const NetworkSettings s = read_network_ini(path);
  EXPECT_EQ(s.ranking_server, L"rank.example");
  EXPECT_EQ(s.ranking_script, L"/cgi/rank.cgi");
  EXPECT_EQ(s.web_home, kDefaultWebHome);
  DeleteFileW(path.c_str());

  const NetworkSettings none = read_network_ini(path);
  EXPECT_EQ(none.ranking_server, kDefaultRankingServer);
  EXPECT_EQ(none.ranking_script, L"/~tovaki/ztrank/ztrank.cgi");
  EXPECT_THAT(network_ini_path(), ::testing::EndsWith(L"\\Network.ini"));
}

}  // namespace
}  // namespace zt::win
