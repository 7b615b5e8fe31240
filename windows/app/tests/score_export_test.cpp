#include "score_export.h"

#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <string>

#include "date_time.h"
#include "fixture_table.h"
#include "test_folder.h"

namespace zt::win {
namespace {

using test::read_all;

std::wstring temp_dir() {
  wchar_t buf[MAX_PATH];
  GetTempPathW(MAX_PATH, buf);
  return buf;
}

TEST(DateTime, SplitsAsTheRunTimeLibraryDoes) {
  struct Case {
    double days;
    const char* text;
  };
  const Case cases[] = {
      {2.0, "1900/01/01 00:00:00"},
      {25569.5, "1970/01/01 12:00:00"},
      {test::kMarch5, "2024/03/05 14:07:09"},
      {test::kLeapDay, "2024/02/29 23:59:59"},
      // Rounded to the millisecond before the split.
      {1.0 - 0.4 / 86'400'000.0, "1899/12/31 00:00:00"},
      {1.0 - 0.6 / 86'400'000.0, "1899/12/30 23:59:59"},
      {1.0 - 1.0 / 86'400.0, "1899/12/30 23:59:59"},
      {-1.25, "1899/12/29 06:00:00"},
      {-693593.0, "0001/01/01 00:00:00"},
      {2958465.5, "9999/12/31 12:00:00"},
      // What no calendar holds reads as the game draws it, in the same room.
      {std::nan(""), "----/--/-- --:--:--"},
      {std::numeric_limits<double>::infinity(), "----/--/-- --:--:--"},
      {-std::numeric_limits<double>::infinity(), "----/--/-- --:--:--"},
      {1e300, "----/--/-- --:--:--"},
      {-1e300, "----/--/-- --:--:--"},
      {2958466.0, "----/--/-- --:--:--"},
      {-693594.0, "----/--/-- --:--:--"},
  };
  for (const Case& c : cases) EXPECT_EQ(format_date_time(c.days), c.text) << c.days;
  EXPECT_EQ(format_date(test::kSept9), "2001/09/09");
  EXPECT_EQ(format_date(std::nan("")), "----/--/--");
}

TEST(ScoreExport, HtmlIsOneTableInShiftJisWithNothingEscaped) {
  const std::string html = export_html_bytes(test::fixture_table());
  const std::string head =
      "<table border=\"2\">\r\n"
      "  <tr>\r\n"
      "    <td></td>\r\n"
      "    <td align=\"center\"><b>\x96\xBC\x91\x4F</b></td>\r\n"
      "    <td align=\"center\"><b>\x83\x58\x83\x52\x83\x41</b></td>\r\n"
      "    <td align=\"center\"><b>\x93\xFA\x95\x74</b></td>\r\n"
      "  </tr>\r\n";
  const std::string rank2 =
      "  <tr>\r\n"
      "    <td align=\"center\"><b>2</b></td>\r\n"
      "    <td>AB<I>&C</td>\r\n"
      "    <td align=\"right\">12345</td>\r\n"
      "    <td>2001/09/09</td>\r\n"
      "  </tr>\r\n";
  const std::string rank10 =
      "  <tr>\r\n"
      "    <td align=\"center\"><b>10</b></td>\r\n"
      "    <td>KOVAKOVA</td>\r\n"
      "    <td align=\"right\">4000</td>\r\n"
      "    <td>1900/01/01</td>\r\n"
      "  </tr>\r\n"
      "</table>\r\n";
  EXPECT_EQ(html.substr(0, head.size()), head);
  EXPECT_NE(html.find(rank2), std::string::npos);
  EXPECT_EQ(html.substr(html.size() - rank10.size()), rank10);
  // 7 header lines, 6 per rank, the closing tag.
  EXPECT_EQ(std::count(html.begin(), html.end(), '\n'), 7 + 60 + 1);
  EXPECT_EQ(std::count(html.begin(), html.end(), '\r'), 7 + 60 + 1);
}

TEST(ScoreExport, TextRightAlignsRankNameAndScore) {
  THiScore t;
  t.insert("ABCDEFGHIJKL", 9'000'000'000'000'000'000, 3.0);  // the table keeps 9 letters
  t.insert("Z", -5, 3.0);                                    // below the tenth: not taken
  const std::string text = export_text_bytes(t);
  std::istringstream lines(text);
  std::string l;
  std::vector<std::string> got;
  while (std::getline(lines, l)) got.push_back(l);
  ASSERT_EQ(got.size(), 12u);
  EXPECT_EQ(got[0], "Zentropolium Score Top 10\r");
  EXPECT_EQ(got[1], "\r");
  EXPECT_EQ(got[2], " 1   ABCDEFGHI9000000000000000000\r");
  EXPECT_EQ(got[3], " 2    KOVAKOVA          10000\r");
  EXPECT_EQ(got[11], "10    KOVAKOVA           2000\r");
  EXPECT_EQ(export_text_bytes(THiScore()).substr(27, 33), "\r\n 1    KOVAKOVA          10000\r\n");
}

TEST(ScoreExport, FormatFollowsTheExtensionWithItsLetterCase) {
  struct Case {
    const wchar_t* path;
    SaveFormat format;
  };
  const Case cases[] = {
      {L"C:\\s\\top.html", SaveFormat::kHtml},     {L"top.htm", SaveFormat::kHtml},
      {L"top.HTML", SaveFormat::kScoreFile},       {L"top.Txt", SaveFormat::kScoreFile},
      {L"a.tar.txt", SaveFormat::kText},           {L"top", SaveFormat::kScoreFile},
      {L"C:\\x.txt\\top", SaveFormat::kScoreFile}, {L"top.dat", SaveFormat::kScoreFile},
      {L"top.", SaveFormat::kScoreFile},
  };
  for (const Case& c : cases) EXPECT_EQ(save_format_for(c.path), c.format) << c.path;

  EXPECT_EQ(change_file_ext(L"C:\\s\\top.htm", L".html"), L"C:\\s\\top.html");
  EXPECT_EQ(change_file_ext(L"top", L".txt"), L"top.txt");
  EXPECT_EQ(change_file_ext(L"d.d\\top", L".txt"), L"d.d\\top.txt");
  EXPECT_EQ(change_file_ext(L"d.d/top", L".txt"), L"d.d/top.txt");
}

TEST(ScoreExport, WritesBesideTheChosenNameAndReportsWriteFailures) {
  const std::wstring base = temp_dir() + L"zt-export-\x30b9\x30b3\x30a2";
  const THiScore table = test::fixture_table();
  ASSERT_FALSE(ExportHtml(table, base + L".htm"));
  EXPECT_EQ(read_all(base + L".html"), export_html_bytes(table));
  ASSERT_FALSE(ExportText(table, base + L".txt"));
  EXPECT_EQ(read_all(base + L".txt"), export_text_bytes(table));
  DeleteFileW((base + L".html").c_str());
  DeleteFileW((base + L".txt").c_str());

  const std::optional<WriteError> e = ExportText(table, temp_dir() + L"no-such-dir\\x.txt");
  ASSERT_TRUE(e);
  EXPECT_EQ(e->code, static_cast<std::uint32_t>(ERROR_PATH_NOT_FOUND));
}

}  // namespace
}  // namespace zt::win
