#include "message_window.h"

#include <utility>

namespace zt::win {

namespace {
constexpr wchar_t kClassName[] = L"ZentroMessageWindow";

void register_class() {
  static const bool registered = [] {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kClassName;
    return RegisterClassExW(&wc) != 0;
  }();
  (void)registered;
}
}  // namespace

MessageWindow::MessageWindow(Handler handler) : handler_(std::move(handler)) {
  register_class();
  hwnd_ = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                          GetModuleHandleW(nullptr), nullptr);
  if (hwnd_ != nullptr) {
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&window_proc));
  }
}

MessageWindow::~MessageWindow() {
  if (hwnd_ != nullptr) DestroyWindow(hwnd_);
}

LRESULT CALLBACK MessageWindow::window_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* self = reinterpret_cast<MessageWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  LRESULT result = 0;
  if (self != nullptr && self->handler_ && self->handler_(message, wparam, lparam, result)) {
    return result;
  }
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

bool pump_messages_until(const std::function<bool()>& done, DWORD timeout_ms) {
  const ULONGLONG end = GetTickCount64() + timeout_ms;
  while (!done()) {
    const ULONGLONG now = GetTickCount64();
    if (now >= end) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  return true;
}

}  // namespace zt::win
