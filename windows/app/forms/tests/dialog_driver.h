// Answers the dialogs the main thread opens (message boxes, the save
// dialog, modal forms) from a helper thread, one step after the other. Each
// step waits a bounded time for a visible window of this process with the
// given class, records its texts and acts on it.
#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "forms/forms.h"

namespace zt::win::test {

struct DialogStep {
  enum Action { kButton, kFileName, kFolder, kClose };
  Action action = kButton;
  int button = IDOK;       // kButton: the command id to press
  std::wstring file_name;  // kFileName, kFolder: typed into the file dialog, then OK
  std::wstring title;      // kClose: the caption of the form to close
};

inline DialogStep press(int button) {
  return {DialogStep::kButton, button, {}, {}};
}
inline DialogStep type_file(std::wstring name) {
  return {DialogStep::kFileName, IDOK, name, {}};
}
// Opens a folder in the file dialog, which stays for the next step.
inline DialogStep open_folder(std::wstring folder) {
  return {DialogStep::kFolder, IDOK, folder, {}};
}
inline DialogStep close_form(std::wstring title) {
  return {DialogStep::kClose, 0, {}, title};
}

class DialogDriver {
 public:
  static constexpr int kWaitMs = 8000;

  explicit DialogDriver(std::vector<DialogStep> steps) : steps_(std::move(steps)) {
    thread_ = std::thread([this] { run(); });
  }
  ~DialogDriver() { finish(); }
  DialogDriver(const DialogDriver&) = delete;
  DialogDriver& operator=(const DialogDriver&) = delete;

  // Waits for the helper (it gives up on its own after its bounded waits).
  void finish() {
    if (thread_.joinable()) thread_.join();
  }
  // The texts of each dialog met, in order: its static texts joined by "\n".
  std::vector<std::wstring> texts() {
    std::lock_guard lock(mutex_);
    return texts_;
  }
  bool all_done() const { return done_ == steps_.size(); }

 private:
  struct Found {
    HWND hwnd = nullptr;
    const DialogStep* step = nullptr;
  };

  // The first visible window of this process with the class (any when null)
  // and the caption (any when empty), other than except.
  static HWND find_window(const wchar_t* cls, const std::wstring& title, HWND except = nullptr) {
    struct Ctx {
      const wchar_t* cls;
      const std::wstring* title;
      HWND except;
      HWND found;
    } ctx{cls, &title, except, nullptr};
    EnumWindows(
        [](HWND h, LPARAM p) -> BOOL {
          auto* c = reinterpret_cast<Ctx*>(p);
          DWORD pid = 0;
          GetWindowThreadProcessId(h, &pid);
          if (pid != GetCurrentProcessId() || !IsWindowVisible(h) || h == c->except) return TRUE;
          wchar_t name[64] = {};
          GetClassNameW(h, name, 64);
          if (c->cls && lstrcmpW(name, c->cls) != 0) return TRUE;
          if (!c->title->empty()) {
            wchar_t caption[256] = {};
            GetWindowTextW(h, caption, 256);
            if (*c->title != caption) return TRUE;
          }
          c->found = h;
          return FALSE;
        },
        reinterpret_cast<LPARAM>(&ctx));
    return ctx.found;
  }

  static std::wstring static_texts(HWND dlg) {
    std::wstring out;
    EnumChildWindows(
        dlg,
        [](HWND h, LPARAM p) -> BOOL {
          wchar_t cls[32] = {};
          GetClassNameW(h, cls, 32);
          if (lstrcmpiW(cls, L"Static") != 0) return TRUE;
          wchar_t text[1024] = {};
          GetWindowTextW(h, text, 1024);
          auto* s = reinterpret_cast<std::wstring*>(p);
          if (text[0] != 0) {
            if (!s->empty()) s->push_back(L'\n');
            *s += text;
          }
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&out));
    return out;
  }

  void run() {
    HWND previous = nullptr;  // still up when a dialog opened one of its own
    for (const DialogStep& step : steps_) {
      const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
      HWND h = nullptr;
      while (h == nullptr && std::chrono::steady_clock::now() < end) {
        h = step.action == DialogStep::kClose ? find_window(nullptr, step.title)
                                              : find_window(L"#32770", L"", previous);
        if (h == nullptr) std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      if (h == nullptr) return;
      // Let the dialog finish setting itself up.
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      {
        std::lock_guard lock(mutex_);
        texts_.push_back(static_texts(h));
      }
      switch (step.action) {
        case DialogStep::kButton:
          PostMessageW(h, WM_COMMAND, MAKEWPARAM(step.button, BN_CLICKED),
                       reinterpret_cast<LPARAM>(GetDlgItem(h, step.button)));
          break;
        case DialogStep::kFileName:
        case DialogStep::kFolder: {
          // The explorer-style dialog's file name box, or the old one's edit.
          if (!SetDlgItemTextW(h, 0x47c, step.file_name.c_str())) {
            SetDlgItemTextW(h, 0x480, step.file_name.c_str());
          }
          PostMessageW(h, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                       reinterpret_cast<LPARAM>(GetDlgItem(h, IDOK)));
          break;
        }
        case DialogStep::kClose:
          PostMessageW(h, WM_CLOSE, 0, 0);
          break;
      }
      // Wait for it to go before looking for the next one; a closed form may
      // ask first.
      previous = nullptr;
      while (step.action != DialogStep::kClose && step.action != DialogStep::kFolder &&
             IsWindow(h) && IsWindowVisible(h) && std::chrono::steady_clock::now() < end) {
        if (find_window(L"#32770", L"", h) != nullptr) {
          previous = h;
          break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      ++done_;
    }
  }

  std::vector<DialogStep> steps_;
  std::mutex mutex_;
  std::vector<std::wstring> texts_;
  std::atomic<std::size_t> done_{0};
  std::thread thread_;
};

// Runs the main thread's messages until done() or the bounded timeout.
bool pump_until(const std::function<bool()>& done, DWORD timeout_ms = 10'000);

// A fresh directory under the temporary directory; removed with its files.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::wstring& path() const { return path_; }
  std::wstring file(const std::wstring& name) const { return path_ + L"\\" + name; }

 private:
  std::wstring path_;
};

std::string read_bytes(const std::wstring& path);
void write_bytes(const std::wstring& path, const std::string& bytes);
bool file_exists(const std::wstring& path);

}  // namespace zt::win::test
