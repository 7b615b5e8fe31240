// The form the media components sit on: one top-level window with the
// handlers and hooks that the display and sound components need (the
// launcher's forms with their controls are another layer, in app/forms).
// Components register themselves so that the form can tell them when its
// properties are in place (Loaded).
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace zt {

class TMediaForm;

class TComponent {
 public:
  explicit TComponent(TMediaForm& owner);
  virtual ~TComponent();
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;
  // Called once the owner's properties are set.
  virtual void Loaded() {}
  TMediaForm& Owner() const { return owner_; }

 private:
  TMediaForm& owner_;
};

class TMediaForm {
 public:
  using NotifyEvent = std::function<void(TMediaForm& Sender)>;

  // Creates the window (hidden) at once, so Handle is valid from the start.
  TMediaForm(const std::wstring& caption, int width, int height);
  virtual ~TMediaForm();
  TMediaForm(const TMediaForm&) = delete;
  TMediaForm& operator=(const TMediaForm&) = delete;

  // The form's own handlers, as its resource would set them: assign them
  // before placing components, which chain them.
  NotifyEvent OnCreate;
  NotifyEvent OnPaint;

  // Tells every component that the form's properties are read, then runs
  // OnCreate: the order in which a streamed form comes to life.
  void Create();

  HWND Handle() const { return handle_; }
  bool Active() const { return active_; }
  void Show();
  void Hide();
  void BringToFront();
  void SetBounds(int left, int top, int width, int height);
  RECT BoundsRect() const;
  void SetLeftTop(int left, int top);
  void SetSize(int width, int height);
  bool Maximized() const;
  void SetWindowStateNormal();
  // The client area in screen coordinates.
  RECT ClientScreenRect() const;
  void Invalidate();

  const std::vector<TComponent*>& Components() const { return components_; }

 private:
  friend class TComponent;
  static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
  LRESULT Dispatch(UINT msg, WPARAM wparam, LPARAM lparam);

  HWND handle_ = nullptr;
  bool active_ = false;
  std::vector<TComponent*> components_;
};

// Runs the messages waiting for this thread's windows.
void ProcessMessages();

}  // namespace zt
