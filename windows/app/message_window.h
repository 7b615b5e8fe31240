// A hidden message-only window whose messages go to one handler: the place
// where timers fire and where worker threads hand work to the main thread.
#pragma once

#include <windows.h>

#include <functional>

namespace zt::win {

class MessageWindow {
 public:
  // Answers the message, or nothing to let the system handle it.
  using Handler = std::function<bool(UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result)>;

  explicit MessageWindow(Handler handler);
  ~MessageWindow();
  MessageWindow(const MessageWindow&) = delete;
  MessageWindow& operator=(const MessageWindow&) = delete;

  HWND hwnd() const { return hwnd_; }

 private:
  static LRESULT CALLBACK window_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

  Handler handler_;
  HWND hwnd_ = nullptr;
};

// Dispatches the calling thread's messages until done() or the timeout (ms).
// True when done() became true.
bool pump_messages_until(const std::function<bool()>& done, DWORD timeout_ms);

}  // namespace zt::win
