// Zentro.exe as a player meets it, on a copy of the generated data directory
// with the program beside its data: the launcher, the game started from it
// and the launcher while the game runs, driven from outside the process with
// window messages and input.
#include <windows.h>
// After windows.h, which they need.
#include <gtest/gtest.h>
#include <shellapi.h>

#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "exe_dir.h"
#include "remove_tree.h"

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

// The running program in a fresh copy of the data directory, without the
// files named in left_out.
class Zentro {
 public:
  explicit Zentro(const std::wstring& data, std::initializer_list<const wchar_t*> left_out = {}) {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    dir_ = std::wstring(base) + L"zentro" + std::to_wstring(GetCurrentProcessId());
    copy(data + L"\\*", dir_);
    copy(exe_dir() + L"Zentro.exe", dir_);
    for (const wchar_t* name : left_out) DeleteFileW((dir_ + L"\\" + name).c_str());
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

DEVMODEW display_mode() {
  DEVMODEW mode{};
  mode.dmSize = sizeof mode;
  EnumDisplaySettingsW(nullptr, ENUM_CURRENT_SETTINGS, &mode);
  return mode;
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
  HWND launcher = nullptr;
  ASSERT_TRUE(wait_for([&] {
    launcher = zentro.visible_window(L"ZentroForm", L"Zentropolium");
    return launcher != nullptr;
  }));
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

TEST_F(ZentroProgram, WithoutItsPicturesTheGameEndsSilentlyThroughTheOrderlyShutdown) {
  const DEVMODEW before = display_mode();
  Zentro zentro(data_, {L"images.qda"});
  ASSERT_TRUE(zentro.started());
  HWND launcher = nullptr;
  ASSERT_TRUE(wait_for([&] {
    launcher = zentro.visible_window(L"ZentroForm", L"Zentropolium");
    return launcher != nullptr;
  }));
  const HWND game_button = child_with_text(launcher, L"ゲーム起動");
  ASSERT_NE(game_button, nullptr);
  PostMessageW(game_button, BM_CLICK, 0, 0);

  // No message box on the way out: the program ends by itself.
  bool boxed = false;
  EXPECT_TRUE(wait_for([&] {
    for (HWND box : zentro.windows(L"#32770")) boxed = boxed || IsWindowVisible(box);
    return boxed || !zentro.running();
  }));
  EXPECT_FALSE(boxed);
  DWORD code = 99;
  ASSERT_TRUE(zentro.ended(code));
  EXPECT_EQ(code, 0u);
  EXPECT_NE(GetFileAttributesW((zentro.dir() + L"\\Zentria.ini").c_str()), INVALID_FILE_ATTRIBUTES);
  const DEVMODEW after = display_mode();
  EXPECT_EQ(after.dmPelsWidth, before.dmPelsWidth);
  EXPECT_EQ(after.dmPelsHeight, before.dmPelsHeight);
  EXPECT_EQ(after.dmBitsPerPel, before.dmBitsPerPel);
}

}  // namespace
}  // namespace zt::win
