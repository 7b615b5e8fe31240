// Zentro.exe as a player meets it, on a copy of the generated data directory
// with the program beside its data: the launcher, the game started from it
// and the launcher while the game runs, driven from outside the process with
// window messages and input; the player's files around a game.
#include <windows.h>
// After windows.h, which they need.
#include <gtest/gtest.h>
#include <shellapi.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "exe_dir.h"
#include "formats/ascii.h"
#include "formats/config.h"
#include "formats/qda.h"
#include "game/uhiscore.h"
#include "media_test_support.h"
#include "qda_writer.h"
#include "remove_tree.h"
#include "test_folder.h"

namespace zt::win {
namespace {

constexpr DWORD kWaitMs = 15000;

// A Linux path as Wine sees it.
std::wstring windows_path(const char* linux_path) {
  std::wstring out = L"Z:";
  for (const char* p = linux_path; *p; ++p) out.push_back(*p == '/' ? L'\\' : wchar_t(*p));
  return out;
}

bool wait_for(const std::function<bool()>& done, DWORD timeout_ms = kWaitMs) {
  const ULONGLONG end = GetTickCount64() + timeout_ms;
  while (!done()) {
    if (GetTickCount64() >= end) return false;
    Sleep(50);
  }
  return true;
}

std::wstring text_of(HWND h) {
  wchar_t text[256] = {};
  GetWindowTextW(h, text, 256);
  return text;
}

std::wstring class_of(HWND h) {
  wchar_t name[64] = {};
  GetClassNameW(h, name, 64);
  return name;
}

using test::read_all;
using test::write_all;

bool exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The running program in a fresh copy of the data directory, in a folder
// named `folder` and a number; `prepare` puts the player's files in it (its
// path given with a final "\\") before the program starts.
class Zentro {
 public:
  explicit Zentro(const std::wstring& data,
                  const std::function<void(const std::wstring& dir)>& prepare = {},
                  const std::wstring& folder = L"zentro") {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    dir_ = std::wstring(base) + folder + std::to_wstring(GetCurrentProcessId());
    test::remove_tree(dir_);
    copy(data + L"\\*", dir_);
    copy(exe_dir() + L"Zentro.exe", dir_);
    if (prepare) prepare(dir_ + L"\\");
    STARTUPINFOW si{};
    si.cb = sizeof si;
    std::wstring command = L"\"" + dir_ + L"\\Zentro.exe\"";
    started_ = CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                              dir_.c_str(), &si, &pi_) != 0;
  }
  ~Zentro() {
    if (started_) {
      if (WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(pi_.hProcess, 99);
        WaitForSingleObject(pi_.hProcess, kWaitMs);
        // Its display mode would stay for the tests after it.
        ChangeDisplaySettingsW(nullptr, 0);
      }
      CloseHandle(pi_.hThread);
      CloseHandle(pi_.hProcess);
    }
    test::remove_tree(dir_);
  }
  Zentro(const Zentro&) = delete;
  Zentro& operator=(const Zentro&) = delete;

  bool started() const { return started_; }
  const std::wstring& dir() const { return dir_; }

  // The program's top-level windows of a class, visible or not.
  std::vector<HWND> windows(const wchar_t* cls) const {
    struct Ctx {
      DWORD pid;
      const wchar_t* cls;
      std::vector<HWND> found;
    } ctx{pi_.dwProcessId, cls, {}};
    EnumWindows(
        [](HWND h, LPARAM p) -> BOOL {
          auto* c = reinterpret_cast<Ctx*>(p);
          DWORD pid = 0;
          GetWindowThreadProcessId(h, &pid);
          if (pid == c->pid && class_of(h) == c->cls) c->found.push_back(h);
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&ctx));
    return ctx.found;
  }
  HWND visible_window(const wchar_t* cls, const std::wstring& caption) const {
    for (HWND h : windows(cls)) {
      if (IsWindowVisible(h) && text_of(h) == caption) return h;
    }
    return nullptr;
  }
  HWND focused() const {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    return GetGUIThreadInfo(pi_.dwThreadId, &info) ? info.hwndFocus : nullptr;
  }
  bool running() const { return WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT; }
  // Ended within the wait, with its exit code.
  bool ended(DWORD& code) const {
    if (WaitForSingleObject(pi_.hProcess, kWaitMs) != WAIT_OBJECT_0) return false;
    return GetExitCodeProcess(pi_.hProcess, &code) != 0;
  }

 private:
  static void copy(const std::wstring& from_path, const std::wstring& to_dir) {
    std::wstring from = from_path, to = to_dir;
    from.push_back(L'\0');
    to.push_back(L'\0');
    SHFILEOPSTRUCTW op{};
    op.wFunc = FO_COPY;
    op.pFrom = from.c_str();
    op.pTo = to.c_str();
    op.fFlags = FOF_NO_UI;
    SHFileOperationW(&op);
  }

  std::wstring dir_;
  PROCESS_INFORMATION pi_{};
  bool started_ = false;
};

HWND child_with_text(HWND parent, const std::wstring& text) {
  return FindWindowExW(parent, nullptr, nullptr, text.c_str());
}

void key(WORD vk) {
  INPUT in[2] = {};
  in[0].type = in[1].type = INPUT_KEYBOARD;
  in[0].ki.wVk = in[1].ki.wVk = vk;
  in[1].ki.dwFlags = KEYEVENTF_KEYUP;
  SendInput(2, in, sizeof(INPUT));
}

// The launcher once it shows; none when it does not within the wait.
HWND wait_for_launcher(const Zentro& zentro) {
  HWND launcher = nullptr;
  wait_for([&] {
    launcher = zentro.visible_window(L"ZentroForm", L"Zentropolium");
    return launcher != nullptr;
  });
  return launcher;
}

class ZentroProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* data = std::getenv("ZT_DATA_DIR");
    if (data == nullptr) GTEST_SKIP() << "ZT_DATA_DIR names no generated data directory";
    data_ = windows_path(data);
  }
  std::wstring data_;
};

TEST_F(ZentroProgram, EnterStartsTheGameAndTheHiddenLauncherStartsNothingMore) {
  Zentro zentro(data_);
  ASSERT_TRUE(zentro.started());
  const HWND launcher = wait_for_launcher(zentro);
  ASSERT_NE(launcher, nullptr);
  const HWND game_button = child_with_text(launcher, L"ゲーム起動");
  const HWND editor_button = child_with_text(launcher, L"得点ファイル結合・編集");
  ASSERT_NE(game_button, nullptr);
  EXPECT_TRUE(wait_for([&] { return zentro.focused() == game_button; }));

  // Enter on the launcher, as the keyboard delivers it to the focused control.
  PostMessageW(zentro.focused(), WM_KEYDOWN, VK_RETURN, 0x001C0001);
  PostMessageW(zentro.focused(), WM_KEYUP, VK_RETURN, 0xC01C0001);
  HWND game = nullptr;
  ASSERT_TRUE(wait_for([&] {
    game = zentro.visible_window(L"ZtForm", L"Zentropolium");
    return game != nullptr;
  }));
  EXPECT_TRUE(wait_for([&] { return !IsWindowVisible(launcher); }));

  // Clicks that reach the hidden launcher's buttons start nothing.
  PostMessageW(game_button, BM_CLICK, 0, 0);
  PostMessageW(editor_button, BM_CLICK, 0, 0);
  Sleep(2000);
  EXPECT_EQ(zentro.windows(L"ZtForm").size(), 1u);
  EXPECT_EQ(zentro.visible_window(L"ZentroForm", L"Zentropolium - スコアファイル結合"), nullptr);
  EXPECT_FALSE(IsWindowVisible(launcher));

  // The game still runs its frames: Esc on the logo ends the program.
  SetForegroundWindow(game);
  key(VK_ESCAPE);
  DWORD code = 99;
  ASSERT_TRUE(zentro.ended(code));
  EXPECT_EQ(code, 0u);
  EXPECT_NE(GetFileAttributesW((zentro.dir() + L"\\Zentria.ini").c_str()), INVALID_FILE_ATTRIBUTES);
}

// The game started with Enter on the launcher's game button; its window.
HWND start_game(const Zentro& zentro) {
  const HWND launcher = wait_for_launcher(zentro);
  if (launcher == nullptr) return nullptr;
  const HWND game_button = child_with_text(launcher, L"ゲーム起動");
  if (!wait_for([&] { return zentro.focused() == game_button; })) return nullptr;
  PostMessageW(game_button, WM_KEYDOWN, VK_RETURN, 0x001C0001);
  PostMessageW(game_button, WM_KEYUP, VK_RETURN, 0xC01C0001);
  HWND game = nullptr;
  wait_for([&] {
    game = zentro.visible_window(L"ZtForm", L"Zentropolium");
    return game != nullptr;
  });
  return game;
}

// The game has read its settings once it sets its display mode (800 pixels
// wide with Display800Mode), and reads its score file right after.
bool display_mode_set(DWORD width = 640) {
  return wait_for([width] {
    DEVMODEW m{};
    m.dmSize = sizeof m;
    return EnumDisplaySettingsW(nullptr, ENUM_CURRENT_SETTINGS, &m) && m.dmPelsWidth == width;
  });
}

// From the display mode to the title menu: the game's start and the logo's
// 180 frames, with room to spare.
constexpr DWORD kTitleMenuMs = 7000;

// With Shift held, the title menu's 1000 frames and the demonstration that
// follows them to its end: 7 to 10 s here. Twice that.
constexpr ULONGLONG kDemonstrationCyclesMs = 20000;

// Esc on the title menu, then the exit screen: the game writes its files and
// the program ends.
void leave_from_the_title_menu(const Zentro& zentro, HWND game) {
  SetForegroundWindow(game);
  key(VK_ESCAPE);
  DWORD code = 99;
  ASSERT_TRUE(zentro.ended(code));
  EXPECT_EQ(code, 0u);
}

std::string image_text(const std::optional<ScoreFileImage>& image) {
  return std::string(image->begin(), image->end());
}

// A table of the player's own, not the defaults.
std::string players_score_file() {
  THiScore t;
  t.insert("MINE", 123456, 45000.5);
  return image_text(t.save());
}

// Settings that differ from the defaults, written as the system's INI
// functions write them, so that writing the same values changes no byte.
std::string write_players_settings(const std::wstring& path) {
  const std::pair<const wchar_t*, const wchar_t*> game[] = {
      {L"DrawBackground", L"1"},      {L"PlaySE", L"0"},           {L"PlayMidi", L"0"},
      {L"ShowEachScore", L"1"},       {L"AutoSaveAt1", L"0"},      {L"ExitWithRBtn", L"0"},
      {L"ViewFpsNumber", L"1"},       {L"MiniScreen", L"0"},       {L"ScoreNumOfDigits", L"9"},
      {L"AppearedMaxRank", L"Ultra"}, {L"LastPlayerName", L"MINE"}};
  for (const auto& [k, v] : game) WritePrivateProfileStringW(L"GameSetting", k, v, path.c_str());
  WritePrivateProfileStringW(L"Notes", L"kept", L"yes", path.c_str());
  WritePrivateProfileStringW(nullptr, nullptr, nullptr, path.c_str());
  return read_all(path);
}

// The settings and the score file held by another program that lets nobody
// read them while the game starts, and let go before it ends: neither is
// written over, though both could be by then.
TEST_F(ZentroProgram, FilesItCouldNotReadAreNotWrittenOver) {
  std::string settings, scores;
  HANDLE held[2] = {INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE};
  Zentro zentro(data_, [&](const std::wstring& dir) {
    settings = write_players_settings(dir + L"Zentria.ini");
    scores = players_score_file();
    write_all(dir + L"ZTScore.dat", scores);
    int i = 0;
    for (const wchar_t* name : {L"Zentria.ini", L"ZTScore.dat"}) {
      held[i++] = CreateFileW((dir + name).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    }
  });
  ASSERT_NE(held[0], INVALID_HANDLE_VALUE);
  ASSERT_NE(held[1], INVALID_HANDLE_VALUE);
  ASSERT_TRUE(zentro.started());
  const HWND game = start_game(zentro);
  ASSERT_NE(game, nullptr);
  const bool mode_set = display_mode_set();
  Sleep(3000);
  for (HANDLE h : held) CloseHandle(h);
  ASSERT_TRUE(mode_set);
  Sleep(kTitleMenuMs - 3000);
  leave_from_the_title_menu(zentro, game);
  // Compared whole: the bytes themselves would say little.
  const std::wstring dir = zentro.dir() + L"\\";
  EXPECT_TRUE(read_all(dir + L"Zentria.ini") == settings) << "the settings were written over";
  EXPECT_TRUE(read_all(dir + L"ZTScore.dat") == scores) << "the score file was written over";
  EXPECT_FALSE(exists(dir + L"ZTScore.dat.damaged"));
}

// One byte too many: the game plays with the default table and writes it at
// the end, after keeping the damaged file's bytes beside it, an earlier copy
// untouched. A screenshot leaves yesterday's picture alone.
TEST_F(ZentroProgram, ADamagedScoreFileAndEarlierPicturesSurviveAGame) {
  const std::string damaged = players_score_file() + "x";
  Zentro zentro(data_, [&](const std::wstring& dir) {
    write_all(dir + L"ZTScore.dat", damaged);
    write_all(dir + L"ZTScore.dat.damaged", "an earlier copy");
    write_all(dir + L"ScrSht0.bmp", "yesterday");
  });
  ASSERT_TRUE(zentro.started());
  const HWND game = start_game(zentro);
  ASSERT_NE(game, nullptr);
  ASSERT_TRUE(display_mode_set());
  Sleep(kTitleMenuMs);
  SetForegroundWindow(game);
  key('S');
  Sleep(1000);
  leave_from_the_title_menu(zentro, game);
  const std::wstring dir = zentro.dir() + L"\\";
  EXPECT_EQ(read_all(dir + L"ZTScore.dat.damaged"), "an earlier copy");
  EXPECT_TRUE(read_all(dir + L"ZTScore.dat.damaged.2") == damaged) << "no whole copy kept";
  EXPECT_TRUE(read_all(dir + L"ZTScore.dat") == image_text(THiScore().save()))
      << "not the default table";
  EXPECT_TRUE(read_all(dir + L"ScrSht0.bmp") == "yesterday") << "yesterday's picture replaced";
  const std::string shot = read_all(dir + L"ScrSht1.bmp");
  EXPECT_EQ(shot.size(), 1078u + 320u * 240u);
  EXPECT_EQ(shot.substr(0, 2), "BM");
}

// What a killed run left: temporary files of the save-by-rename scheme whose
// process has ended go when the program starts; a running process's, and
// files that only look like them, stay.
TEST_F(ZentroProgram, StaleTemporaryFilesGoAtStart) {
  // This test program, started held and ended.
  wchar_t exe[MAX_PATH];
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION ended{};
  std::wstring command = L"\"" + std::wstring(exe) + L"\" --gtest_list_tests";
  ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                             nullptr, nullptr, &si, &ended));
  TerminateProcess(ended.hProcess, 0);
  WaitForSingleObject(ended.hProcess, INFINITE);
  const std::wstring dead = std::to_wstring(ended.dwProcessId);
  const std::wstring live = std::to_wstring(GetCurrentProcessId());
  const std::vector<std::wstring> gone = {
      L".ZTScore.dat." + dead + L".1.tmp", L".Zentria.ini." + dead + L".2.tmp",
      L".ScrSht0.bmp." + dead + L".3.tmp", L"Rec\\.Rec3.dat." + dead + L".4.tmp",
      L"Rec\\.Rec0.dat.4000000000.1.tmp"};
  const std::vector<std::wstring> stay = {
      L".ZTScore.dat." + live + L".1.tmp", L".notes.txt." + dead + L".1.tmp",
      L"Rec\\.ZTScore.dat." + dead + L".1.tmp", L".ZTScore.dat." + dead + L".1.tmp.txt"};
  Zentro zentro(data_, [&](const std::wstring& dir) {
    for (const auto* names : {&gone, &stay}) {
      for (const std::wstring& name : *names) {
        const std::wstring path = dir + name;
        write_all(path, "temp");
        // Last written two minutes ago.
        HANDLE h = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        FILETIME t;
        GetSystemTimeAsFileTime(&t);
        ULARGE_INTEGER u;
        u.LowPart = t.dwLowDateTime;
        u.HighPart = t.dwHighDateTime;
        u.QuadPart -= 120ull * 10000000ull;
        t.dwLowDateTime = u.LowPart;
        t.dwHighDateTime = u.HighPart;
        SetFileTime(h, nullptr, nullptr, &t);
        CloseHandle(h);
      }
    }
  });
  CloseHandle(ended.hThread);
  CloseHandle(ended.hProcess);
  ASSERT_TRUE(zentro.started());
  const HWND launcher = wait_for_launcher(zentro);
  ASSERT_NE(launcher, nullptr);
  const std::wstring dir = zentro.dir() + L"\\";
  for (const std::wstring& name : gone) {
    EXPECT_FALSE(exists(dir + name)) << std::string(name.begin(), name.end());
  }
  for (const std::wstring& name : stay) {
    EXPECT_TRUE(exists(dir + name)) << std::string(name.begin(), name.end());
  }
  PostMessageW(launcher, WM_CLOSE, 0, 0);
  DWORD code = 99;
  EXPECT_TRUE(zentro.ended(code));
}

// The program's message box on the screen, if any.
HWND message_box(const Zentro& zentro) {
  for (HWND h : zentro.windows(L"#32770")) {
    if (IsWindowVisible(h)) return h;
  }
  return nullptr;
}

// Whether one of the program's message boxes shows.
bool box_shown(const Zentro& zentro) {
  return message_box(zentro) != nullptr;
}

// Esc on the logo, pressed again every few seconds (a press before the game
// polls its keys goes unseen) until `done`: how long after the last press
// that was, in seconds, when it came within `wait_ms`.
std::optional<double> press_escape_until(HWND game, const std::function<bool()>& done,
                                         DWORD wait_ms) {
  const ULONGLONG end = GetTickCount64() + wait_ms;
  while (GetTickCount64() < end) {
    SetForegroundWindow(game);
    const ULONGLONG pressed = GetTickCount64();
    key(VK_ESCAPE);
    if (wait_for(done, 3000)) return static_cast<double>(GetTickCount64() - pressed) / 1000.0;
  }
  return std::nullopt;
}

// Esc on the logo ends the program at once, through the exit's saving.
std::optional<double> leave_from_the_logo(const Zentro& zentro, HWND game, DWORD wait_ms) {
  return press_escape_until(
      game, [&] { return !zentro.running(); }, wait_ms);
}

// The player's settings and notes, "[SystemSetting]" with Display800Mode
// last, so that the game shows that it has read the whole file.
std::string settings_after(std::string notes) {
  return notes + "[SystemSetting]\r\nDisplay800Mode=1\r\n";
}

// As large as a settings file may be, in a hundred thousand sections: read
// at the start of the game and written at its end within seconds, where the
// system's profile functions took minutes.
TEST_F(ZentroProgram, ASettingsFileOfAHundredThousandSectionsIsReadAndWritten) {
  std::string notes;
  for (int i = 0; notes.size() < 1'048'000; ++i) notes += "[s" + std::to_string(i) + "]\r\n";
  const std::string settings = settings_after(notes);
  Zentro zentro(data_, [&](const std::wstring& dir) { write_all(dir + L"Zentria.ini", settings); });
  ASSERT_TRUE(zentro.started());
  const HWND game = start_game(zentro);
  ASSERT_NE(game, nullptr);
  const ULONGLONG started = GetTickCount64();
  ASSERT_TRUE(display_mode_set(800)) << "the settings were not read";
  const double read_s = static_cast<double>(GetTickCount64() - started) / 1000.0;
  // Only a hang is bounded here; the times are for the record.
  const std::optional<double> exit_s = leave_from_the_logo(zentro, game, 60000);
  ASSERT_TRUE(exit_s) << "no end after Esc";
  std::printf(
      "settings of %zu bytes: display mode %.1f s after the game's start, end %.1f s "
      "after Esc\n",
      settings.size(), read_s, *exit_s);
  const std::string after = read_all(zentro.dir() + L"\\Zentria.ini");
  EXPECT_LE(after.size(), kSettingsFileCap);
  EXPECT_TRUE(after.starts_with(settings)) << "the sections were not kept";
  EXPECT_NE(after.find("\r\n[GameSetting]\r\nDrawBackground=1\r\n", settings.size() - 2),
            std::string::npos)
      << after.substr(settings.size());
}

// "ゲーム" has no place in the ANSI code page: the settings beside the
// program are found by their wide path, read and written.
TEST_F(ZentroProgram, AFolderNamedOutsideTheCodePageKeepsItsSettings) {
  const std::string settings = settings_after("[GameSetting]\r\nViewFpsNumber=1\r\n");
  Zentro zentro(
      data_, [&](const std::wstring& dir) { write_all(dir + L"Zentria.ini", settings); },
      L"\u30b2\u30fc\u30e0");
  ASSERT_TRUE(zentro.started());
  const HWND game = start_game(zentro);
  ASSERT_NE(game, nullptr);
  ASSERT_TRUE(display_mode_set(800)) << "the settings were not read";
  ASSERT_TRUE(leave_from_the_logo(zentro, game, kWaitMs)) << "no end after Esc";
  const std::string after = read_all(zentro.dir() + L"\\Zentria.ini");
  EXPECT_NE(after.find("[GameSetting]\r\nViewFpsNumber=1\r\nDrawBackground=1\r\n"),
            std::string::npos)
      << after;
}

// Saving what the game changed would take the file past what either
// program reads at start: the file stays as it was, the player is told, and
// the next start reads it.
TEST_F(ZentroProgram, SettingsThatWouldGrowPastTheCapAreNotSaved) {
  std::string notes = "[Notes]\r\n";
  while (notes.size() < 1'048'551 - 36) notes += "n=1\r\n";
  const std::string settings = settings_after(notes);
  Zentro zentro(data_, [&](const std::wstring& dir) { write_all(dir + L"Zentria.ini", settings); });
  ASSERT_TRUE(zentro.started());
  const HWND game = start_game(zentro);
  ASSERT_NE(game, nullptr);
  ASSERT_TRUE(display_mode_set(800)) << "the settings were not read";
  HWND box = nullptr;
  press_escape_until(
      game,
      [&] {
        box = message_box(zentro);
        return box != nullptr || !zentro.running();
      },
      kWaitMs);
  ASSERT_NE(box, nullptr) << "no message";
  wchar_t text[512] = {};
  GetDlgItemTextW(box, 0xFFFF, text, 512);
  EXPECT_EQ(std::wstring(text), zentro.dir() + L"\\Zentria.ini に書き込めません");
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  DWORD code = 99;
  ASSERT_TRUE(zentro.ended(code));
  EXPECT_EQ(code, 0u);
  EXPECT_TRUE(read_all(zentro.dir() + L"\\Zentria.ini") == settings) << "the file was written";
}

// Holds Shift down or lets it go on the X server, as a player's keyboard
// does (Wine takes the modifiers from the X events, so a key held through
// SendInput alone does not stay held); false when xdotool cannot be started.
// Wine gives no handle to wait on for a Unix program: it is given a moment.
bool shift(bool down) {
  if (GetFileAttributesW(L"Z:\\usr\\bin\\xdotool") == INVALID_FILE_ATTRIBUTES) return false;
  std::wstring command =
      std::wstring(L"Z:\\usr\\bin\\xdotool ") + (down ? L"keydown" : L"keyup") + L" shift";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                      &pi)) {
    return false;
  }
  Sleep(1000);
  return true;
}

// The title demonstration from a replay the player may read but not write
// (here another program lets nobody write it): it plays, cycle after cycle,
// and no box stops the game at its end. Shift runs the frames back to back.
TEST_F(ZentroProgram, AReadOnlyDemonstrationPlaysWithoutABox) {
  HANDLE reader = INVALID_HANDLE_VALUE;
  std::string replay;
  Zentro zentro(data_, [&](const std::wstring& dir) {
    replay = read_all(dir + L"Rec\\Rec0.dat");
    reader = CreateFileW((dir + L"Rec\\Rec0.dat").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  });
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  ASSERT_FALSE(replay.empty());
  ASSERT_TRUE(zentro.started());
  const HWND game = start_game(zentro);
  ASSERT_NE(game, nullptr);
  ASSERT_TRUE(display_mode_set());
  Sleep(kTitleMenuMs);
  SetForegroundWindow(game);
  if (!shift(true)) GTEST_SKIP() << "no xdotool to hold Shift";
  const ULONGLONG start = GetTickCount64();
  bool boxed = false;
  while (!boxed && GetTickCount64() - start < kDemonstrationCyclesMs && zentro.running()) {
    Sleep(100);
    boxed = box_shown(zentro);
  }
  shift(false);
  EXPECT_FALSE(boxed) << "a box after " << (GetTickCount64() - start) << " ms";
  ASSERT_TRUE(zentro.running());
  // Esc leaves a demonstration for the title menu, and the title menu for the exit.
  DWORD code = 99;
  for (int i = 0; i < 4 && zentro.running(); ++i) {
    SetForegroundWindow(game);
    key(VK_ESCAPE);
    wait_for([&] { return !zentro.running(); }, 3000);
  }
  ASSERT_TRUE(zentro.ended(code));
  EXPECT_EQ(code, 0u);
  CloseHandle(reader);
  EXPECT_TRUE(read_all(zentro.dir() + L"\\Rec\\Rec0.dat") == replay) << "the replay changed";
}

// An 11 x 11 bitmap of `bits` per pixel whose colour table holds `colours`
// entries (black, then white ones), a disc of colour 1 on colour 0.
std::string small_hand(std::uint16_t bits, std::uint32_t colours) {
  const std::uint32_t row = (11 * bits + 31) / 32 * 4;
  const std::uint32_t offset = 54 + 4 * colours;
  std::string b;
  auto put = [&](std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b.push_back(static_cast<char>(v >> (8 * i)));
  };
  b += "BM";
  put(offset + row * 11, 4);
  put(0, 4);
  put(offset, 4);
  put(40, 4);
  put(11, 4);
  put(11, 4);
  put(1, 2);
  put(bits, 2);
  put(0, 4);
  put(row * 11, 4);
  put(0, 4);
  put(0, 4);
  put(colours, 4);
  put(0, 4);
  put(0, 4);
  for (std::uint32_t i = 1; i < colours; ++i) put(0xFFFFFF, 4);
  for (int y = 0; y < 11; ++y) {
    std::string line(row, '\0');
    for (int x = 0; x < 11; ++x) {
      if ((x - 5) * (x - 5) + (y - 5) * (y - 5) > 16) continue;
      if (bits == 8) line[x] = 1;
      if (bits == 4) line[x / 2] = static_cast<char>(line[x / 2] | (x % 2 ? 0x01 : 0x10));
    }
    b += line;
  }
  return b;
}

// The generated "images.qda" with its "hand.bmp" in place of the member of that name.
std::string images_with_hand(const std::wstring& data, const std::string& hand) {
  const std::string bytes = read_all(data + L"\\images.qda");
  const QdaArchive archive =
      QdaArchive::parse(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
  std::vector<tools::QdaMember> members;
  for (const QdaEntry& e : archive.entries()) {
    if (e.name.empty()) continue;
    std::vector<std::uint8_t> member(hand.begin(), hand.end());
    if (!same_text(e.name, "hand.bmp")) member = archive.load_member(e.name).value_or(member);
    members.push_back({e.name, std::move(member)});
  }
  const auto written = tools::write_qda(members, archive.compressed());
  const auto* out = std::get_if<std::vector<std::uint8_t>>(&written);
  return out ? std::string(out->begin(), out->end()) : std::string();
}

// A sheet whose colour table has fewer than 256 entries is a valid sheet:
// the game runs on it, to its title menu and through its exit.
TEST_F(ZentroProgram, TheGameRunsWithASheetOfTwoColours) {
  const std::string hand = small_hand(8, 2);
  ASSERT_EQ(hand.size(), 194u);
  const std::string images = images_with_hand(data_, hand);
  ASSERT_FALSE(images.empty());
  Zentro zentro(data_, [&](const std::wstring& dir) { write_all(dir + L"images.qda", images); });
  ASSERT_TRUE(zentro.started());
  const HWND game = start_game(zentro);
  ASSERT_NE(game, nullptr);
  ASSERT_TRUE(display_mode_set());
  Sleep(kTitleMenuMs);
  ASSERT_TRUE(zentro.running());
  leave_from_the_title_menu(zentro, game);
}

// Without its pictures, or with a sheet it cannot load (4 bits a pixel, which
// halts the display), the game ends by itself, without a message, through
// the shutdown of every end, and with the status of a failure.
TEST_F(ZentroProgram, WithoutItsPicturesTheGameEndsSilentlyThroughTheOrderlyShutdown) {
  const std::string four_bits = images_with_hand(data_, small_hand(4, 16));
  ASSERT_FALSE(four_bits.empty());
  struct Case {
    const char* what;
    std::function<void(const std::wstring& dir)> prepare;
  };
  const Case cases[] = {
      {"no images.qda",
       [](const std::wstring& dir) { DeleteFileW((dir + L"images.qda").c_str()); }},
      {"a 4-bit sheet",
       [&](const std::wstring& dir) { write_all(dir + L"images.qda", four_bits); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const DEVMODEW before = zt::test::current_display_mode();
    Zentro zentro(data_, c.prepare);
    ASSERT_TRUE(zentro.started());
    const HWND launcher = wait_for_launcher(zentro);
    ASSERT_NE(launcher, nullptr);
    const HWND game_button = child_with_text(launcher, L"ゲーム起動");
    ASSERT_NE(game_button, nullptr);
    PostMessageW(game_button, BM_CLICK, 0, 0);

    // No message box on the way out: the program ends by itself.
    bool boxed = false;
    EXPECT_TRUE(wait_for([&] {
      boxed = boxed || box_shown(zentro);
      return boxed || !zentro.running();
    }));
    EXPECT_FALSE(boxed);
    DWORD code = 99;
    ASSERT_TRUE(zentro.ended(code));
    EXPECT_EQ(code, 1u);
    EXPECT_NE(GetFileAttributesW((zentro.dir() + L"\\Zentria.ini").c_str()),
              INVALID_FILE_ATTRIBUTES);
    const DEVMODEW after = zt::test::current_display_mode();
    EXPECT_EQ(after.dmPelsWidth, before.dmPelsWidth);
    EXPECT_EQ(after.dmPelsHeight, before.dmPelsHeight);
    EXPECT_EQ(after.dmBitsPerPel, before.dmBitsPerPel);
  }
}

}  // namespace
}  // namespace zt::win
