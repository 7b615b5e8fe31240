// The one routine through which the Windows program replaces a player's
// file, on Wine's file system.
#include "replace_file.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "score_export.h"

namespace zt::win {
namespace {

std::string read_all(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void write_all(const std::wstring& path, const std::string& bytes) {
  std::ofstream(path.c_str(), std::ios::binary) << bytes;
}

// A directory of its own for each test, emptied before and after.
class ReplacingFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string name = info->name();
    dir_ = std::wstring(tmp) + L"zt_replace_" + std::wstring(name.begin(), name.end()) + L"\\";
    clear();
    CreateDirectoryW(dir_.c_str(), nullptr);
  }
  void TearDown() override { clear(); }

  void clear() {
    for (const std::wstring& n : names()) {
      SetFileAttributesW((dir_ + n).c_str(), FILE_ATTRIBUTE_NORMAL);
      if (!DeleteFileW((dir_ + n).c_str())) RemoveDirectoryW((dir_ + n).c_str());
    }
    RemoveDirectoryW(dir_.c_str());
  }
  // The names in the directory, to see that no temporary file is left.
  std::vector<std::wstring> names() const {
    std::vector<std::wstring> out;
    WIN32_FIND_DATAW d;
    HANDLE h = FindFirstFileW((dir_ + L"*").c_str(), &d);
    if (h == INVALID_HANDLE_VALUE) return out;
    do {
      const std::wstring n = d.cFileName;
      if (n != L"." && n != L"..") out.push_back(n);
    } while (FindNextFileW(h, &d));
    FindClose(h);
    std::sort(out.begin(), out.end());
    return out;
  }

  std::wstring dir_;
};

TEST_F(ReplacingFiles, CreatesAndReplacesAndLeavesNoTemporaryFile) {
  const std::wstring p = dir_ + L"ZTScore.dat";
  EXPECT_FALSE(replace_file(p, std::string(1000, 'a')));
  EXPECT_FALSE(replace_file(p, "new"));
  EXPECT_EQ(read_all(p), "new");
  EXPECT_EQ(names(), std::vector<std::wstring>{L"ZTScore.dat"});
}

TEST_F(ReplacingFiles, WhatCannotBeReplacedStaysAsItWas) {
  write_all(dir_ + L"locked.ini", "old");
  SetFileAttributesW((dir_ + L"locked.ini").c_str(), FILE_ATTRIBUTE_READONLY);
  CreateDirectoryW((dir_ + L"folder.dat").c_str(), nullptr);
  const struct {
    std::wstring path;
    DWORD code;
  } cases[] = {{dir_ + L"locked.ini", ERROR_ACCESS_DENIED},
               {dir_ + L"folder.dat", ERROR_ACCESS_DENIED},
               {dir_ + L"no such folder\\x.txt", ERROR_PATH_NOT_FOUND}};
  for (const auto& c : cases) {
    const std::optional<WriteError> e = replace_file(c.path, "new");
    ASSERT_TRUE(e);
    EXPECT_EQ(e->code, c.code);
  }
  EXPECT_EQ(read_all(dir_ + L"locked.ini"), "old");
  EXPECT_EQ(names(), (std::vector<std::wstring>{L"folder.dat", L"locked.ini"}));
}

TEST_F(ReplacingFiles, AReplacedFileKeepsItsAttributes) {
  const std::wstring p = dir_ + L"Zentria.ini";
  write_all(p, "old");
  SetFileAttributesW(p.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_FALSE(replace_file(p, "new"));
  EXPECT_EQ(read_all(p), "new");
  EXPECT_TRUE(GetFileAttributesW(p.c_str()) & FILE_ATTRIBUTE_HIDDEN);
}

TEST_F(ReplacingFiles, ALinkStaysALinkAndItsTargetIsReplaced) {
  write_all(dir_ + L"real.ini", "old");
  // Wine 8 answers success and makes nothing.
  if (!CreateSymbolicLinkW((dir_ + L"Zentria.ini").c_str(), (dir_ + L"real.ini").c_str(), 0) ||
      GetFileAttributesW((dir_ + L"Zentria.ini").c_str()) == INVALID_FILE_ATTRIBUTES) {
    GTEST_SKIP() << "no symbolic links here";
  }
  EXPECT_FALSE(replace_file(dir_ + L"Zentria.ini", "new"));
  EXPECT_TRUE(GetFileAttributesW((dir_ + L"Zentria.ini").c_str()) & FILE_ATTRIBUTE_REPARSE_POINT);
  EXPECT_EQ(read_all(dir_ + L"real.ini"), "new");
  EXPECT_EQ(names(), (std::vector<std::wstring>{L"Zentria.ini", L"real.ini"}));
}

// Killed with the new bytes written and flushed, before the rename.
TEST_F(ReplacingFiles, AKillBeforeTheRenameKeepsTheOldFile) {
  const std::wstring p = dir_ + L"ZTScore.dat";
  write_all(p, std::string(320, 'o'));
  const auto killed_before_the_rename = [&p] {
    auto begun = FileReplacement::begin(p);
    FileReplacement& r = std::get<FileReplacement>(begun);
    if (r.write(std::string(320, 'n'))) std::exit(1);
    FlushFileBuffers(r.handle());
    TerminateProcess(GetCurrentProcess(), 9);
  };
  EXPECT_EXIT(killed_before_the_rename(), ::testing::ExitedWithCode(9), "");
  EXPECT_EQ(read_all(p), std::string(320, 'o'));
}

// A copy edited by name, as the system's INI functions do, replaces the file
// only at its commit; dropped, it leaves nothing behind.
TEST_F(ReplacingFiles, ACopyEditedByNameTakesThePlaceAtItsCommit) {
  const std::wstring p = dir_ + L"Zentria.ini";
  write_all(p, "[Notes]\r\nmine=1\r\n");
  {
    auto begun = FileReplacement::begin_copy(p);
    FileReplacement& r = std::get<FileReplacement>(begun);
    EXPECT_EQ(read_all(r.temp_path()), "[Notes]\r\nmine=1\r\n");
    ASSERT_TRUE(WritePrivateProfileStringW(L"GameSetting", L"PlaySE", L"0", r.temp_path().c_str()));
  }
  EXPECT_EQ(read_all(p), "[Notes]\r\nmine=1\r\n");
  EXPECT_EQ(names(), std::vector<std::wstring>{L"Zentria.ini"});

  auto begun = FileReplacement::begin_copy(p);
  FileReplacement& r = std::get<FileReplacement>(begun);
  ASSERT_TRUE(WritePrivateProfileStringW(L"GameSetting", L"PlaySE", L"0", r.temp_path().c_str()));
  WritePrivateProfileStringW(nullptr, nullptr, nullptr, r.temp_path().c_str());
  EXPECT_FALSE(r.commit());
  const std::string text = read_all(p);
  EXPECT_NE(text.find("mine=1"), std::string::npos);
  EXPECT_NE(text.find("PlaySE=0"), std::string::npos);
  EXPECT_EQ(names(), std::vector<std::wstring>{L"Zentria.ini"});
}

// Run by a test of its own in a process whose files cannot grow past
// ZT_FILE_SIZE_LIMIT bytes (ulimit -f), as on a disk that fills up: the
// writes fail part-way, the old files stay byte for byte.
TEST_F(ReplacingFiles, FullDiskKeepsTheOldFiles) {
  const char* limit = std::getenv("ZT_FILE_SIZE_LIMIT");
  if (limit == nullptr) GTEST_SKIP() << "needs a file size limit";
  const std::size_t too_big = 2 * static_cast<std::size_t>(std::atoll(limit));
  const std::string old(100, 'o');
  for (const wchar_t* name : {L"ZTScore.dat", L"Scores.html"}) write_all(dir_ + name, old);

  EXPECT_TRUE(replace_file(dir_ + L"ZTScore.dat", std::string(too_big, 'n')));
  // The score editor's HTML export, some 2 KiB for any table.
  ASSERT_GT(export_html_bytes(THiScore{}).size(), static_cast<std::size_t>(std::atoll(limit)));
  EXPECT_TRUE(ExportHtml(THiScore{}, dir_ + L"Scores.dat"));

  EXPECT_EQ(read_all(dir_ + L"ZTScore.dat"), old);
  EXPECT_EQ(read_all(dir_ + L"Scores.html"), old);
  EXPECT_EQ(names(), (std::vector<std::wstring>{L"Scores.html", L"ZTScore.dat"}));
}

}  // namespace
}  // namespace zt::win
