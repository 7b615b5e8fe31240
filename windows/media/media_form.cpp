#include "media_form.h"

#include <algorithm>

namespace zt {
namespace {

constexpr wchar_t kClassName[] = L"ZtForm";

void register_class() {
  static bool done = false;
  if (done) return;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  wc.lpszClassName = kClassName;
  RegisterClassExW(&wc);
  done = true;
}

}  // namespace

TComponent::TComponent(TMediaForm& owner) : owner_(owner) {
  owner.components_.push_back(this);
}

TComponent::~TComponent() {
  auto& list = owner_.components_;
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

TMediaForm::TMediaForm(const std::wstring& caption, int width, int height) {
  register_class();
  handle_ = CreateWindowExW(0, kClassName, caption.c_str(), WS_POPUP, 0, 0, width, height, nullptr,
                            nullptr, GetModuleHandleW(nullptr), nullptr);
  SetWindowLongPtrW(handle_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  SetWindowLongPtrW(handle_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TMediaForm::WndProc));
}

TMediaForm::~TMediaForm() {
  if (handle_) {
    SetWindowLongPtrW(handle_, GWLP_USERDATA, 0);
    DestroyWindow(handle_);
  }
}

void TMediaForm::Create() {
  std::vector<TComponent*> list = components_;
  for (TComponent* c : list) c->Loaded();
  if (OnCreate) OnCreate(*this);
}

void TMediaForm::Show() {
  ShowWindow(handle_, SW_SHOW);
  UpdateWindow(handle_);
}

void TMediaForm::Hide() {
  ShowWindow(handle_, SW_HIDE);
}

void TMediaForm::BringToFront() {
  SetWindowPos(handle_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  SetForegroundWindow(handle_);
}

void TMediaForm::SetBounds(int left, int top, int width, int height) {
  SetWindowPos(handle_, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

RECT TMediaForm::BoundsRect() const {
  RECT r{};
  GetWindowRect(handle_, &r);
  return r;
}

void TMediaForm::SetLeftTop(int left, int top) {
  SetWindowPos(handle_, nullptr, left, top, 0, 0, SWP_NOZORDER | SWP_NOSIZE | SWP_NOACTIVATE);
}

void TMediaForm::SetSize(int width, int height) {
  SetWindowPos(handle_, nullptr, 0, 0, width, height, SWP_NOZORDER | SWP_NOMOVE | SWP_NOACTIVATE);
}

bool TMediaForm::Maximized() const {
  return IsZoomed(handle_) != 0;
}

void TMediaForm::SetWindowStateNormal() {
  ShowWindow(handle_, SW_RESTORE);
}

RECT TMediaForm::ClientScreenRect() const {
  RECT r{};
  GetClientRect(handle_, &r);
  MapWindowPoints(handle_, nullptr, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

void TMediaForm::Invalidate() {
  InvalidateRect(handle_, nullptr, FALSE);
}

LRESULT CALLBACK TMediaForm::WndProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  auto* form = reinterpret_cast<TMediaForm*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!form) return DefWindowProcW(hwnd, msg, wparam, lparam);
  return form->Dispatch(msg, wparam, lparam);
}

LRESULT TMediaForm::Dispatch(UINT msg, WPARAM wparam, LPARAM lparam) {
  switch (msg) {
    case WM_ACTIVATE:
      active_ = LOWORD(wparam) != WA_INACTIVE;
      break;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      BeginPaint(handle_, &ps);
      if (OnPaint) OnPaint(*this);
      EndPaint(handle_, &ps);
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;
    default:
      break;
  }
  return DefWindowProcW(handle_, msg, wparam, lparam);
}

void ProcessMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

}  // namespace zt
