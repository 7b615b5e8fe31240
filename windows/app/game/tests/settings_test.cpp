// "Zentria.ini" through the system's INI functions: the rules in which the
// Windows program differs from the core's reader.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "text_codec.h"
#include "win_settings.h"

namespace zt::win {
namespace {

class SettingsFile : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    path_ = std::wstring(dir) + L"zt_settings_test.ini";
    DeleteFileW(path_.c_str());
  }
  void TearDown() override { DeleteFileW(path_.c_str()); }
  void write(const std::string& text) { std::ofstream(path_.c_str(), std::ios::binary) << text; }
  WinConfig read(const std::string& text) {
    write(text);
    return ReadSettings(path_);
  }
  std::string contents() {
    std::ifstream in(path_.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::wstring path_;
};

TEST_F(SettingsFile, MissingFileGivesTheDefaults) {
  const WinConfig w = ReadSettings(path_);
  EXPECT_EQ(w.config, TConfig{});
  EXPECT_FALSE(w.display800);
  EXPECT_FALSE(w.reject_auto_save);
}

TEST_F(SettingsFile, FirstOccurrenceOfKeyAndSectionCounts) {
  const WinConfig w = read(
      "[GameSetting]\r\nPlaySE=0\r\nPlaySE=1\r\n"
      "[SystemSetting]\r\nDisplay800Mode=1\r\n"
      "[GameSetting]\r\nDrawBackground=0\r\n");
  EXPECT_EQ(w.config.flags & kPlaySE, 0);
  // The second GameSetting section is not read.
  EXPECT_NE(w.config.flags & kDrawBackground, 0);
  EXPECT_TRUE(w.display800);
}

TEST_F(SettingsFile, BooleansAreIntegers) {
  const WinConfig w = read(
      "[gamesetting]\r\nShowEachScore=2\r\nDrawBackground=off\r\nPlaySE=yes\r\n"
      "ViewFpsNumber=0x1\r\nPlayMidi=0\r\n");
  EXPECT_NE(w.config.flags & kShowEachScore, 0);
  EXPECT_NE(w.config.flags & kDrawBackground, 0);  // "off" is no integer: default 1
  EXPECT_NE(w.config.flags & kPlaySE, 0);
  EXPECT_NE(w.config.flags & kViewFpsNumber, 0);
  EXPECT_EQ(w.config.flags & kPlayMidi, 0);
}

TEST(IniInt, WindowsIntegerForms) {
  struct Case {
    const char* text;
    std::int32_t expected;
  };
  const Case cases[] = {
      {"31", 31},
      {"$1F", 31},
      {"0x10", 16},
      {"0X1f", 31},
      {"-$10", -16},
      {"-0x10", -16},
      {"+7", 7},
      {"$-10", 20},
      {"", 20},
      {"12a", 20},
      {"2147483647", 2147483647},
      {"2147483648", 20},
      {"-2147483648", INT32_MIN},
      {"$FFFFFFFF", -1},
      {"$100000000", 20},
      {"0x", 20},
  };
  for (const Case& c : cases) EXPECT_EQ(IniInt(c.text, 20), c.expected) << c.text;
}

TEST(IniFloat, SystemSeparatorAndFailures) {
  EXPECT_EQ(IniFloat("1.5", 1.0, '.'), 1.5);
  EXPECT_EQ(IniFloat("-2e1", 1.0, '.'), -20.0);
  EXPECT_EQ(IniFloat("1,5", 1.0, ','), 1.5);
  for (const char* bad : {"1,5", "abc", "inf", "nan", "", "1e", "1e999", "."}) {
    EXPECT_EQ(IniFloat(bad, 1.0, '.'), 1.0) << bad;
  }
}

TEST_F(SettingsFile, ValuesThroughTheirSetters) {
  const WinConfig w = read(
      "[GameSetting]\r\nScoreNumOfDigits=30\r\nNumOfFragments=0x10\r\nScoreSeparate=-5\r\n"
      "AppearedMaxRank= Ultra \r\nLastPlayerName=abcdefghijkl\r\n");
  EXPECT_EQ(w.config.score_digits, 20);
  EXPECT_EQ(w.config.num_of_fragments, 16);
  EXPECT_EQ(w.config.score_grouping, 1);
  EXPECT_EQ(w.config.highest_rank, 8);
  EXPECT_EQ(w.config.last_player_name, "ABCDEFGHI");
}

TEST_F(SettingsFile, MasslessBallCountsAsAnExperiment) {
  const WinConfig w = read("[ConstantSetting]\r\nBallMass=0\r\n[GameSetting]\r\nAutoSaveAt1=1\r\n");
  EXPECT_TRUE(w.config.experiment);
  EXPECT_EQ(w.config.ball_mass, 1.0);
  EXPECT_EQ(w.config.flags & kAutoSaveAt1, 0);
  const WinConfig g = read("[ConstantSetting]\r\nGravity=-1\r\n");
  EXPECT_EQ(g.config.gravity, -0.2);
  EXPECT_TRUE(g.config.experiment);
}

TEST_F(SettingsFile, AutoSaveFlagSetterHonoursTheRejection) {
  WinConfig w = read("[SystemSetting]\r\nRejectAutoSave=1\r\n[GameSetting]\r\nAutoSaveAt1=1\r\n");
  EXPECT_TRUE(w.reject_auto_save);
  EXPECT_EQ(w.config.flags & kAutoSaveAt1, 0);
  w.SetFlags(0xFF);
  EXPECT_EQ(w.config.flags, 0xFF & ~kAutoSaveAt1);
  WinConfig free_flags = read("");
  free_flags.SetFlags(kAutoSaveAt1);
  EXPECT_EQ(free_flags.config.flags, kAutoSaveAt1);
}

TEST_F(SettingsFile, WriterChangesOnlyItsKeys) {
  write("; mine\r\n[GameSetting]\r\nPlaySE=0\r\nNumOfFragments=33\r\n[Other]\r\nX=1\r\n");
  TConfig c;
  c.flags = kPlaySE | kMiniScreen;
  c.score_digits = 9;
  c.highest_rank = 20;  // out of range: the first title
  c.last_player_name = "ZED";
  WriteSettings(path_, c);
  const WinConfig back = ReadSettings(path_);
  EXPECT_EQ(back.config.flags, kPlaySE | kMiniScreen);
  EXPECT_EQ(back.config.score_digits, 9);
  EXPECT_EQ(back.config.highest_rank, 0);
  EXPECT_EQ(back.config.last_player_name, "ZED");
  EXPECT_EQ(back.config.num_of_fragments, 33);
  const std::string text = contents();
  EXPECT_NE(text.find("; mine"), std::string::npos);
  EXPECT_NE(text.find("[Other]"), std::string::npos);
  EXPECT_NE(text.find("AppearedMaxRank=E"), std::string::npos);
  EXPECT_EQ(text.find("ScoreSeparate"), std::string::npos);
}

// The writer edits a copy that then takes the file's place: no copy is left
// beside it, and a read-only file stays as it was.
TEST_F(SettingsFile, TheWriterLeavesNoCopyAndKeepsAReadOnlyFile) {
  const std::string text = "[GameSetting]\r\nPlaySE=0\r\n";
  write(text);
  WriteSettings(path_, TConfig{});
  WIN32_FIND_DATAW d;
  const HANDLE found = FindFirstFileW(
      (path_.substr(0, path_.rfind(L'\\') + 1) + L".zt_settings_test.ini*").c_str(), &d);
  EXPECT_EQ(found, INVALID_HANDLE_VALUE);
  if (found != INVALID_HANDLE_VALUE) FindClose(found);

  write(text);
  SetFileAttributesW(path_.c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_THROW(WriteSettings(path_, TConfig{}), EIniFileException);
  SetFileAttributesW(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(contents(), text);
}

// Run by a test of its own in a process whose files cannot grow past
// ZT_FILE_SIZE_LIMIT bytes, as on a disk that fills up. The player's notes
// fill the file up to the limit; the keys the writer adds do not fit, and the
// system's writer would cut the notes off without a word.
TEST_F(SettingsFile, FullDiskRaisesAndKeepsTheFile) {
  const char* limit = std::getenv("ZT_FILE_SIZE_LIMIT");
  if (limit == nullptr) GTEST_SKIP() << "needs a file size limit";
  const std::size_t room = static_cast<std::size_t>(std::atoll(limit));
  std::string text = "[GameSetting]\r\nPlaySE=0\r\n[Notes]\r\n";
  for (int i = 0; text.size() + 40 < room; ++i) text += "n" + std::to_string(i) + "=mine\r\n";
  write(text);
  ASSERT_EQ(contents(), text);
  EXPECT_THROW(WriteSettings(path_, TConfig{}), EIniFileException);
  EXPECT_EQ(contents(), text);
}

// Held open by a program that lets nobody read it, over its cap, or a folder:
// the defaults are used and the file is never written over.
TEST_F(SettingsFile, AFileThatCannotBeReadGivesTheDefaultsAndIsNotWrittenOver) {
  const std::string text = "; mine\r\n[GameSetting]\r\nPlaySE=0\r\n[Notes]\r\nX=1\r\n";
  write(text);
  TConfig played;
  played.flags = kMiniScreen;
  HANDLE held = CreateFileW(path_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const WinConfig w = ReadSettings(path_);
  EXPECT_TRUE(w.unreadable_file);
  EXPECT_EQ(w.config, TConfig{});
  EXPECT_THROW(WriteSettings(path_, played), EIniFileException);
  CloseHandle(held);
  EXPECT_EQ(contents(), text);
  EXPECT_FALSE(ReadSettings(path_).unreadable_file);
  EXPECT_FALSE(ReadSettings(path_ + L".none").unreadable_file);

  // 8 GiB, which the system's INI functions would try to take in whole.
  DeleteFileW(path_.c_str());
  HANDLE big = CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(big, INVALID_HANDLE_VALUE);
  LARGE_INTEGER size;
  size.QuadPart = 8ll << 30;
  ASSERT_TRUE(SetFilePointerEx(big, size, nullptr, FILE_BEGIN) && SetEndOfFile(big));
  CloseHandle(big);
  EXPECT_TRUE(ReadSettings(path_).unreadable_file);
  EXPECT_THROW(WriteSettings(path_, played), EIniFileException);
  WIN32_FILE_ATTRIBUTE_DATA a{};
  ASSERT_TRUE(GetFileAttributesExW(path_.c_str(), GetFileExInfoStandard, &a));
  EXPECT_EQ(a.nFileSizeHigh, 2u);
  DeleteFileW(path_.c_str());

  CreateDirectoryW(path_.c_str(), nullptr);
  EXPECT_TRUE(ReadSettings(path_).unreadable_file);
  RemoveDirectoryW(path_.c_str());
}

// A player's file, the game's settings written over it, and the next start:
// what the writer leaves, the reader takes whole, and a file the reader would
// refuse is not written.
TEST_F(SettingsFile, TheNextStartReadsWhatTheLastOneWrote) {
  const auto notes = [](std::string text, std::size_t size, std::string_view eol) {
    while (text.size() + 3 + eol.size() <= size) text += "n=1" + std::string(eol);
    return text + std::string(size - text.size(), ';');
  };
  std::string sections = "[GameSetting]\r\nPlaySE=0\r\n";
  for (int i = 0; sections.size() < 1'048'000; ++i) sections += "[s" + std::to_string(i) + "]\r\n";
  struct Case {
    const char* name;
    std::string file;
    bool written;
  } cases[] = {
      // As CR LF, which the system's writer made of every line end, it would
      // not fit.
      {"LF line ends", notes("[GameSetting]\nPlaySE=0\n[Notes]\n", 999'998, "\n"), true},
      {"a hundred thousand sections", sections, true},
      {"a byte-order mark", "\xEF\xBB\xBF[GameSetting]\r\nPlaySE=0\r\n", true},
      // The eleven keys do not fit.
      {"just under the cap", notes("[GameSetting]\r\nPlaySE=0\r\n[Notes]\r\n", 1'048'551, "\r\n"),
       false},
  };
  TConfig played;
  played.flags = kMiniScreen;
  played.last_player_name = "ZED";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    write(c.file);
    const ULONGLONG start = GetTickCount64();
    ASSERT_EQ(ReadSettings(path_).config.flags & kPlaySE, 0);
    const ULONGLONG read = GetTickCount64();
    if (c.written) {
      WriteSettings(path_, played);
    } else {
      EXPECT_THROW(WriteSettings(path_, played), EIniFileException);
    }
    std::printf("%s, %zu bytes: read in %.2f s, written in %.2f s\n", c.name, c.file.size(),
                static_cast<double>(read - start) / 1000.0,
                static_cast<double>(GetTickCount64() - read) / 1000.0);
    const std::string after = contents();
    EXPECT_LE(after.size(), kSettingsFileCap);
    const WinConfig next = ReadSettings(path_);
    EXPECT_FALSE(next.unreadable_file);
    if (c.written) {
      EXPECT_EQ(next.config.flags, kMiniScreen);
      EXPECT_EQ(next.config.last_player_name, "ZED");
      // The player's lines after the section stand as they were.
      const std::size_t rest = c.file.find("\n[");
      if (rest != std::string::npos) {
        EXPECT_TRUE(after.ends_with(c.file.substr(rest + 1))) << "the player's lines changed";
      }
      EXPECT_EQ(after.starts_with("\xEF\xBB\xBF"), c.file.starts_with("\xEF\xBB\xBF"));
      EXPECT_EQ(after.find("[GameSetting]", after.find("[GameSetting]") + 1), std::string::npos);
    } else {
      EXPECT_TRUE(after == c.file) << "the file was written";
      EXPECT_EQ(next.config.flags & kPlaySE, 0);
    }
  }
}

// Written at exactly the read cap, refused one byte over it: writer and
// reader draw the line at the same byte.
TEST_F(SettingsFile, AFileOfTheCapIsWrittenAndNoLarger) {
  for (const std::int32_t digits : {10, 9}) {  // then 11 and 10: as long, one digit more
    SCOPED_TRACE(digits);
    TConfig c;
    c.score_digits = digits;
    DeleteFileW(path_.c_str());
    WriteSettings(path_, c);
    std::string text = contents() + "[Notes]\r\nn=";
    text.append(kSettingsFileCap - text.size(), 'x');
    write(text);
    c.score_digits = digits + 1;
    if (digits == 10) {
      WriteSettings(path_, c);
      EXPECT_EQ(contents().size(), kSettingsFileCap);
      EXPECT_EQ(ReadSettings(path_).config.score_digits, 11);
    } else {
      EXPECT_THROW(WriteSettings(path_, c), EIniFileException);
      EXPECT_TRUE(contents() == text);
    }
  }
}

// Found by its wide path, in a folder whose name the ANSI code page has no
// characters for; a failed write names the folder as it is.
TEST_F(SettingsFile, AFolderNamedOutsideTheCodePageIsReadAndWritten) {
  wchar_t tmp[MAX_PATH];
  GetTempPathW(MAX_PATH, tmp);
  const std::wstring dir = std::wstring(tmp) + L"\u30b2\u30fc\u30e0";
  CreateDirectoryW(dir.c_str(), nullptr);
  path_ = dir + L"\\Zentria.ini";
  write("[GameSetting]\r\nViewFpsNumber=1\r\n");
  EXPECT_NE(ReadSettings(path_).config.flags & kViewFpsNumber, 0);
  TConfig played;
  played.flags = kViewFpsNumber | kMiniScreen;
  WriteSettings(path_, played);
  EXPECT_EQ(ReadSettings(path_).config.flags, kViewFpsNumber | kMiniScreen);

  played.flags = 0;
  SetFileAttributesW(path_.c_str(), FILE_ATTRIBUTE_READONLY);
  try {
    WriteSettings(path_, played);
    ADD_FAILURE() << "no exception";
  } catch (const EIniFileException& e) {
    EXPECT_EQ(std::string(e.what()), to_code_page(dir, CP_UTF8) + "\\Zentria.ini に書き込めません");
  }
  SetFileAttributesW(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(ReadSettings(path_).config.flags, kViewFpsNumber | kMiniScreen);
  DeleteFileW(path_.c_str());
  RemoveDirectoryW(dir.c_str());
}

TEST_F(SettingsFile, UnwritableFileRaisesWithItsName) {
  const std::wstring dir = path_ + L".d";
  CreateDirectoryW(dir.c_str(), nullptr);
  try {
    WriteSettings(dir, TConfig{});
    ADD_FAILURE() << "no exception";
  } catch (const EIniFileException& e) {
    EXPECT_EQ(std::string(e.what()), to_code_page(dir, CP_UTF8) + " に書き込めません");
  }
  RemoveDirectoryW(dir.c_str());
}

}  // namespace
}  // namespace zt::win
