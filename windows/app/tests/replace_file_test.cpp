// The one routine through which the Windows program replaces a player's
// file, on Wine's file system.
#include "replace_file.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "score_export.h"
#include "test_folder.h"

namespace zt::win {
namespace {

using test::read_all;
using test::write_all;

class ReplacingFiles : public test::TestFolder {};

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

TEST_F(ReplacingFiles, NewFilesTakeTheFirstFreeNameAndNeverReplaceOne) {
  const auto name = [this](std::int64_t k) { return dir_ + L"n" + std::to_wstring(k); };
  write_all(name(0), "old");
  CreateDirectoryW(name(2).c_str(), nullptr);
  const auto number = [](const std::variant<std::int64_t, WriteError>& r) {
    return std::holds_alternative<std::int64_t>(r) ? std::get<std::int64_t>(r) : -1;
  };
  EXPECT_EQ(number(write_new_file(name, 0, 10, "a")), 1);
  EXPECT_EQ(number(write_new_file(name, 0, 10, "b")), 3);  // past the folder
  EXPECT_EQ(number(write_new_file(name, 5, 10, "c")), 5);
  EXPECT_EQ(read_all(name(0)), "old");
  EXPECT_EQ(read_all(name(1)), "a");
  EXPECT_EQ(read_all(name(3)), "b");
  // Gives up after its tries; a name that cannot be made is an error at once.
  const auto taken = write_new_file(name, 0, 4, "d");
  ASSERT_TRUE(std::holds_alternative<WriteError>(taken));
  EXPECT_EQ(std::get<WriteError>(taken).code, static_cast<std::uint32_t>(ERROR_FILE_EXISTS));
  const auto nowhere =
      write_new_file([this](std::int64_t) { return dir_ + L"no such folder\\x"; }, 0, 100000, "e");
  ASSERT_TRUE(std::holds_alternative<WriteError>(nowhere));
  EXPECT_EQ(std::get<WriteError>(nowhere).code, static_cast<std::uint32_t>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(names(), (std::vector<std::wstring>{L"n0", L"n1", L"n2", L"n3", L"n5"}));
}

// A process that has ended, one that runs, and an id that no process has.
class Processes {
 public:
  Processes() {
    ended_ = start();
    TerminateProcess(ended_.hProcess, 0);
    WaitForSingleObject(ended_.hProcess, INFINITE);
    running_ = start();
  }
  ~Processes() {
    TerminateProcess(running_.hProcess, 0);
    for (const PROCESS_INFORMATION& p : {ended_, running_}) {
      CloseHandle(p.hThread);
      CloseHandle(p.hProcess);
    }
  }
  std::wstring ended() const { return std::to_wstring(ended_.dwProcessId); }
  std::wstring running() const { return std::to_wstring(running_.dwProcessId); }
  static std::wstring none() { return L"4000000000"; }

 private:
  // This test program, held before its first instruction.
  static PROCESS_INFORMATION start() {
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::wstring command = L"\"" + std::wstring(exe) + L"\" --gtest_list_tests";
    CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                   nullptr, &si, &pi);
    return pi;
  }
  PROCESS_INFORMATION ended_{}, running_{};
};

TEST_F(ReplacingFiles, StaleTemporariesOfEndedProcessesAreRemoved) {
  const Processes p;
  ASSERT_NE(p.ended(), L"0");
  const auto ours = [](std::wstring_view n) {
    return CompareStringOrdinal(n.data(), static_cast<int>(n.size()), L"ZTScore.dat", -1, TRUE) ==
           CSTR_EQUAL;
  };
  const struct {
    std::wstring name;
    bool stays;
  } cases[] = {
      {L".ZTScore.dat." + p.ended() + L".1.tmp", false},
      {L".ztscore.DAT." + p.none() + L".12.tmp", false},
      {L".ZTScore.dat." + p.running() + L".1.tmp", true},
      {L".ZTScore.dat." + std::to_wstring(GetCurrentProcessId()) + L".2.tmp", true},
      // Not exactly of the scheme, or not of a file named as ours.
      {L".notes.txt." + p.ended() + L".1.tmp", true},
      {L".ZTScore.dat." + p.ended() + L".01.tmp", true},
      {L".ZTScore.dat." + p.ended() + L".tmp", true},
      {L".ZTScore.dat.x" + p.ended() + L".1.tmp", true},
      {L"ZTScore.dat." + p.ended() + L".1.tmp", true},
      {L".ZTScore.dat." + p.ended() + L".1.tmp.old", true},
      {L".ZTScore.dat.-4.1.tmp", true},
  };
  for (const auto& c : cases) {
    write_all(dir_ + c.name, "temp");
    test::age_file(dir_ + c.name, 120);
  }
  // Written a moment ago, held open, or a folder: it stays.
  const std::wstring fresh = L".ZTScore.dat." + p.ended() + L".3.tmp";
  const std::wstring held = L".ZTScore.dat." + p.ended() + L".4.tmp";
  const std::wstring folder = L".ZTScore.dat." + p.ended() + L".5.tmp";
  write_all(dir_ + fresh, "temp");
  write_all(dir_ + held, "temp");
  test::age_file(dir_ + held, 120);
  CreateDirectoryW((dir_ + folder).c_str(), nullptr);
  test::age_file(dir_ + folder, 120);
  HANDLE h = CreateFileW((dir_ + held).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);

  remove_stale_temporaries(dir_, ours);
  CloseHandle(h);

  std::vector<std::wstring> left{fresh, held, folder};
  for (const auto& c : cases) {
    if (c.stays) left.push_back(c.name);
  }
  std::sort(left.begin(), left.end());
  EXPECT_EQ(names(), left);
}

// The Unix path of a file under Wine; empty elsewhere.
std::string unix_path(const std::wstring& path) {
  using ToUnix = char*(CDECL*)(LPCWSTR);
  const auto to_unix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
  if (to_unix == nullptr) return {};
  char* p = to_unix(path.c_str());
  if (p == nullptr) return {};
  std::string out = p;
  HeapFree(GetProcessHeap(), 0, p);
  return out;
}

// Starts a Unix program under Wine with Unix paths as its arguments; whether
// it started. Wine gives no handle to wait on for a Unix program: callers
// look for what it does.
bool run_unix(const std::wstring& program, const std::vector<std::wstring>& paths) {
  std::wstring command = L"Z:\\bin\\" + program;
  for (const std::wstring& p : paths) {
    const std::string u = unix_path(p);
    if (u.empty()) return false;
    command += L" \"" + std::wstring(u.begin(), u.end()) + L"\"";
  }
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  return CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi) != 0;
}

// A Unix symbolic link, made as a player's shell makes one (Wine 8 makes no
// link of its own), and removed the same way: Wine would delete what it
// leads to instead.
class UnixLink {
 public:
  UnixLink(const std::wstring& target, const std::wstring& link) : link_(link) {
    run_unix(L"ln -s", {target, link});
    for (int i = 0; i < 50 && !made(); ++i) Sleep(20);
  }
  ~UnixLink() {
    if (run_unix(L"rm -f", {link_})) {
      for (int i = 0; i < 50 && linked(); ++i) Sleep(20);
    }
  }
  UnixLink(const UnixLink&) = delete;
  UnixLink& operator=(const UnixLink&) = delete;
  bool made() const { return GetFileAttributesW(link_.c_str()) != INVALID_FILE_ATTRIBUTES; }
  // The link is there as a name, whether or not what it leads to is.
  bool linked() const {
    WIN32_FIND_DATAW found;
    const HANDLE h = FindFirstFileW(link_.c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return false;
    FindClose(h);
    return true;
  }

 private:
  std::wstring link_;
};

// What only looks like a temporary file of the folder stays, and so does
// what it leads to: a link (which Wine opens as the file it leads to, with
// that file's times) and a second name of a file elsewhere.
TEST_F(ReplacingFiles, WhatIsNoTemporaryFileOfTheFolderStays) {
  const Processes p;
  const auto ours = [](std::wstring_view n) {
    return CompareStringOrdinal(n.data(), static_cast<int>(n.size()), L"ZTScore.dat", -1, TRUE) ==
           CSTR_EQUAL;
  };
  const std::wstring elsewhere = dir_ + L"elsewhere\\";
  CreateDirectoryW(elsewhere.c_str(), nullptr);
  CreateDirectoryW((dir_ + L"folder").c_str(), nullptr);
  const std::wstring folder = dir_ + L"folder\\";
  const std::wstring linked = L".ZTScore.dat." + p.ended() + L".1.tmp";
  const std::wstring second_name = L".ZTScore.dat." + p.ended() + L".2.tmp";
  const std::wstring stale = L".ZTScore.dat." + p.ended() + L".3.tmp";
  write_all(elsewhere + L"scores", "the player's");
  write_all(elsewhere + L"more", "the player's");
  test::age_file(elsewhere + L"scores", 3600);
  test::age_file(elsewhere + L"more", 3600);
  const UnixLink link(elsewhere + L"scores", folder + linked);
  if (!link.made()) GTEST_SKIP() << "no Unix links here";
  ASSERT_TRUE(
      CreateHardLinkW((folder + second_name).c_str(), (elsewhere + L"more").c_str(), nullptr));
  // Beside them, one that is what it looks like.
  write_all(folder + stale, "temp");
  test::age_file(folder + stale, 120);

  remove_stale_temporaries(folder, ours);

  EXPECT_EQ(names(L"folder\\"), (std::vector<std::wstring>{linked, second_name}));
  EXPECT_EQ(read_all(elsewhere + L"scores"), "the player's");
  EXPECT_EQ(read_all(elsewhere + L"more"), "the player's");
  EXPECT_EQ(names(L"elsewhere\\"), (std::vector<std::wstring>{L"more", L"scores"}));
}

// Run by a test of its own in a process whose files cannot grow past
// ZT_FILE_SIZE_LIMIT bytes (ulimit -f), as on a disk that fills up: the
// writes fail part-way, the old files stay byte for byte and no new file is
// left half written.
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
  // A new file that does not fit is not left behind in part.
  EXPECT_TRUE(std::holds_alternative<WriteError>(write_new_file(
      [this](std::int64_t k) { return dir_ + L"ScrSht" + std::to_wstring(k) + L".bmp"; }, 0, 10,
      std::string(too_big, 'n'))));

  EXPECT_EQ(read_all(dir_ + L"ZTScore.dat"), old);
  EXPECT_EQ(read_all(dir_ + L"Scores.html"), old);
  EXPECT_EQ(names(), (std::vector<std::wstring>{L"Scores.html", L"ZTScore.dat"}));
}

}  // namespace
}  // namespace zt::win
