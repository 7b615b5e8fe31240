// The settings file's own reader and writer against the system's profile
// functions, which it stands in for: on the same bytes both must find the
// same values, and what it writes the system must read back.
#include "ini_text.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace zt::win {
namespace {

template <std::size_t N>
std::string bytes_of(const char (&literal)[N]) {
  return std::string(literal, N - 1);  // NULs included
}

// UTF-16 of an ASCII text, with its byte-order mark.
std::string utf16(std::string_view ascii, bool big_endian) {
  std::string out = big_endian ? "\xFE\xFF" : "\xFF\xFE";
  for (const char c : ascii) {
    out += big_endian ? std::string{'\0', c} : std::string{c, '\0'};
  }
  return out;
}

class IniTextAgainstTheSystem : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    path_ = std::wstring(dir) + L"zt_ini_text_test.ini";
  }
  void TearDown() override { DeleteFileW(path_.c_str()); }

  // The file the system reads from.
  void put(const std::string& bytes) {
    std::ofstream(path_.c_str(), std::ios::binary) << bytes;
    // The system keeps files it has read; this makes it read the new bytes.
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, path_.c_str());
  }
  std::wstring system_read(const wchar_t* section, const wchar_t* key, DWORD buffer) {
    std::wstring out(buffer, L'\0');
    const DWORD n = GetPrivateProfileStringW(section, key, L"", out.data(), buffer, path_.c_str());
    out.resize(n);
    return out;
  }

  // Every lookup of the cases below, in a buffer as large as the game's and
  // in one of 4 characters.
  void expect_same_reads(const std::string& bytes) {
    static const std::pair<const wchar_t*, const wchar_t*> kLookups[] = {
        {L"GameSetting", L"PlaySE"},
        {L"GameSetting", L"k"},
        {L"Other", L"k"},
        {L"", L"PlaySE"},
        {L"s", L"k"},
        {L"Game", L"PlaySE"}};
    const IniText ini(bytes);
    put(bytes);
    for (const auto& [section, key] : kLookups) {
      for (const DWORD buffer : {2048u, 4u}) {
        EXPECT_EQ(ini.ReadString(section, key, buffer), system_read(section, key, buffer))
            << "[" << std::string(section, section + wcslen(section)) << "] "
            << std::string(key, key + wcslen(key)) << ", buffer " << buffer;
      }
    }
  }

  std::wstring path_;
};

TEST_F(IniTextAgainstTheSystem, ReadsWhatTheSystemReads) {
  const std::string cases[] = {
      "",
      "[GameSetting]\r\nPlaySE=0\r\nk=1\r\n[Other]\r\nk=2\r\n",
      // Blanks, quotes and the end of a value.
      "[GameSetting]\r\n \x1A PlaySE \x0B= \x0C 5 \t\r\nk=\"abc\"\r\n[Other]\r\nk='ab'\r\n",
      "[GameSetting]\r\nPlaySE=\"1\r\nk=\"\r\n[Other]\r\nk=\"abcdef\"\r\n[s]\r\nk=\"abc\"\r\n",
      "[GameSetting]\r\nPlaySE=\xA0 5\xA0\r\nk= a = b \r\n",
      // Section headers: blanks inside the brackets, text after the last
      // "]", a "]" inside, no "]".
      "[ \tGameSetting\x1A ]\r\nPlaySE=1\r\n[Other] junk\r\nk=2\r\n[s]]\r\nk=3\r\n",
      "[GameSetting\r\nPlaySE=2\r\n[Other]=\r\nk=4\r\n",
      // The first of repeated sections and keys, a key without "=".
      "[GameSetting]\r\nPlaySE\r\nPlaySE=1\r\nk=1\r\nk=2\r\n[gamesetting]\r\nPlaySE=3\r\n",
      "[GameSetting]\r\n[GameSetting]\r\nPlaySE=2\r\n",
      // Lines before the first header; an empty name.
      "PlaySE=4\r\n[]\r\nPlaySE=5\r\n[GameSetting]\r\n=PlaySE=3\r\n;PlaySE=6\r\nPlaySE=7\r\n",
      // Line ends: LF, CR alone, none at the end.
      "[GameSetting]\nPlaySE=8\n[Other]\rk=9\r[s]\r\n\r\n\nk=10",
      // NULs end names and values.
      bytes_of(
          "[GameSetting]\r\nPlay\0SE=3\r\nPlaySE\0x=1\r\nk= \0 1\r\n[Game\0x]\r\nPlaySE=5\r\n"),
      // Byte-order marks: UTF-8 (a broken sequence after it), UTF-16 both
      // ways, half a mark, two marks.
      "\xEF\xBB\xBF[GameSetting]\r\nPlaySE=9\r\nk=\xE9\xC3\xA9\r\n",
      utf16("[GameSetting]\r\nPlaySE=7\r\n[Other]\r\nk=2", false),
      utf16("[GameSetting]\r\nPlaySE=8\r\n", true),
      "\xEF\xBB[GameSetting]\r\nPlaySE=9\r\n",
      "\xEF\xBB\xBF\xEF\xBB\xBF[GameSetting]\r\nPlaySE=9\r\n",
      // Bytes of the ANSI code page above 127.
      "[GameSetting]\r\nk=\x80\x81\xE9\xFF\r\n[\xC4]\r\nk=1\r\n",
  };
  for (const std::string& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c));
    expect_same_reads(c);
  }
}

// Files made of the pieces the rules above turn on, at random: the reader
// must agree with the system on every one, and on the same file after the
// writer has set keys in it.
TEST_F(IniTextAgainstTheSystem, AgreesOnFilesMadeOfAwkwardPieces) {
  static const char* const kPieces[] = {
      "[GameSetting]", "[Other]", "[s]", "[",    "]",  "PlaySE", "k", "=", " ", "\t",
      "\x1A",          "\"",      "'",   "\r\n", "\n", "\r",     ";", "0", "1", "x",
      "\xE9",          "[]"};
  std::mt19937 random(20240607);
  for (int i = 0; i < 80; ++i) {
    std::string file = i % 5 == 0 ? "\xEF\xBB\xBF" : "";
    const int pieces = static_cast<int>(random() % 40);
    for (int p = 0; p < pieces; ++p) file += kPieces[random() % std::size(kPieces)];
    if (random() % 4 == 0) file += std::string(1, '\0') + "PlaySE=2";
    SCOPED_TRACE(::testing::PrintToString(file));
    expect_same_reads(file);
    // Sections other than the first GameSetting read as before.
    const wchar_t* const others[] = {L"Other", L"s", L""};
    std::vector<std::wstring> before;
    for (const wchar_t* section : others) before.push_back(system_read(section, L"k", 2048));

    IniText ini(file);
    ini.WriteString(L"GameSetting", L"PlaySE", L"1");
    ini.WriteString(L"GameSetting", L"k", L"\"q\"");
    const std::string written = ini.bytes();
    SCOPED_TRACE(::testing::PrintToString(written));
    expect_same_reads(written);
    EXPECT_EQ(system_read(L"GameSetting", L"PlaySE", 2048), L"1");
    EXPECT_EQ(system_read(L"GameSetting", L"k", 2048), L"q");
    for (std::size_t k = 0; k < std::size(others); ++k) {
      EXPECT_EQ(system_read(others[k], L"k", 2048), before[k]);
    }
  }
}

struct WriteCase {
  const char* name;
  std::string before, after;
};

// The writer changes the bytes of the lines it sets and adds, and no others.
TEST(IniText, WritesInPlaceAndLeavesEveryOtherByte) {
  const WriteCase cases[] = {
      {"a value replaced where it stands, blanks before it kept",
       "; mine\r\n[GameSetting]\r\n  playse = 0  \r\n\r\n[Other]\r\nPlaySE=0\r\n",
       "; mine\r\n[GameSetting]\r\n  playse = 1\r\nk=v\r\n\r\n[Other]\r\nPlaySE=0\r\n"},
      {"a key without = gets one", "[GameSetting]\r\nPlaySE\r\nPlaySE=0\r\nk=0",
       "[GameSetting]\r\nPlaySE=1\r\nPlaySE=0\r\nk=v"},
      {"added after the last line of the first section, before blank lines",
       "[gamesetting]\r\nx=1\r\n;note\r\n\r\n[GameSetting]\r\nPlaySE=0\r\n",
       "[gamesetting]\r\nx=1\r\n;note\r\nPlaySE=1\r\nk=v\r\n\r\n[GameSetting]\r\nPlaySE=0\r\n"},
      {"LF line ends stay LF", "a=1\n[GameSetting]\nx=1\n",
       "a=1\n[GameSetting]\nx=1\nPlaySE=1\nk=v\n"},
      {"a last line without a line end stays without one", "[GameSetting]",
       "[GameSetting]\r\nPlaySE=1\r\nk=v"},
      {"a missing section goes at the end", "[Other]\r\nPlaySE=0",
       "[Other]\r\nPlaySE=0\r\n[GameSetting]\r\nPlaySE=1\r\nk=v\r\n"},
      {"an empty file", "", "[GameSetting]\r\nPlaySE=1\r\nk=v\r\n"},
      {"a UTF-8 mark stays, and so do bytes that are no UTF-8",
       "\xEF\xBB\xBF[GameSetting]\r\nn=\xE9\r\nPlaySE=0\r\n",
       "\xEF\xBB\xBF[GameSetting]\r\nn=\xE9\r\nPlaySE=1\r\nk=v\r\n"},
      {"UTF-16 stays UTF-16", utf16("[GameSetting]\r\nPlaySE=0\r\n", true),
       utf16("[GameSetting]\r\nPlaySE=1\r\nk=v\r\n", true)},
  };
  for (const WriteCase& c : cases) {
    SCOPED_TRACE(c.name);
    IniText ini(c.before);
    ini.WriteString(L"GameSetting", L"PlaySE", L"1");
    ini.WriteString(L"GameSetting", L"k", L"v");
    EXPECT_EQ(ini.bytes(), c.after);
  }
  // Values in the file's encoding.
  IniText utf8("\xEF\xBB\xBF");
  utf8.WriteString(L"GameSetting", L"LastPlayerName", L"\u00C9");
  EXPECT_EQ(utf8.bytes(), "\xEF\xBB\xBF[GameSetting]\r\nLastPlayerName=\xC3\x89\r\n");
  EXPECT_EQ(utf8.ReadString(L"GameSetting", L"LastPlayerName", 2048), L"\u00C9");
  IniText ansi("");
  ansi.WriteString(L"GameSetting", L"LastPlayerName", L"\u00C9");
  EXPECT_EQ(ansi.bytes(), "[GameSetting]\r\nLastPlayerName=\xC9\r\n");
}

}  // namespace
}  // namespace zt::win
