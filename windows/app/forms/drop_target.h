// OLE drop targets: TDropTarget turns the four IDropTarget calls on one
// registered window into events, with the drop-effect rules and automatic
// scrolling; TDropFileTarget reads the CF_HDROP file lists of the shell.
#pragma once

#include <windows.h>
// After windows.h, which they need.
#include <commctrl.h>
#include <ole2.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "forms/forms.h"

namespace zt::win {

// Starts OLE once per process and registers the shell's clipboard formats;
// OLE ends with the process.
void drop_source_start();

enum class TDragType : std::uint8_t { dtCopy = 1, dtMove = 2, dtLink = 4 };
using TDragTypes = std::uint8_t;  // a set of TDragType bits
constexpr TDragTypes operator|(TDragType a, TDragType b) {
  return static_cast<TDragTypes>(static_cast<std::uint8_t>(a) | static_cast<std::uint8_t>(b));
}

// MK_SHIFT and MK_CONTROL of the key state, and the mouse buttons.
struct TShiftState {
  bool shift = false, ctrl = false, alt = false, left = false, right = false, middle = false;
};

class TDropTarget;
using TDropTargetEvent =
    std::function<void(TDropTarget& sender, TShiftState shift, POINT point, DWORD& effect)>;

// A reference-counted COM object whose lifetime its owner decides: it holds
// one reference on itself, so OLE's releases never free it.
class TInterfacedComponent : public IUnknown {
 public:
  TInterfacedComponent() = default;
  virtual ~TInterfacedComponent() = default;
  TInterfacedComponent(const TInterfacedComponent&) = delete;
  TInterfacedComponent& operator=(const TInterfacedComponent&) = delete;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  LONG RefCount() const { return ref_count_; }

 private:
  std::atomic<LONG> ref_count_{0};
};

class TDropTarget : public TInterfacedComponent, public IDropTarget {
 public:
  TDropTarget();
  ~TDropTarget() override;

  TDragTypes Dragtypes = static_cast<TDragTypes>(TDragType::dtCopy);
  bool GetDataOnEnter = false;
  TDropTargetEvent OnEnter, OnDragOver, OnDrop, OnGetDropEffect;
  std::function<void(TDropTarget& sender)> OnLeave;

  bool ShowImage() const { return show_image_; }
  void SetShowImage(bool on);

  // Binds the control's window; a failure raises "Failed to Register " + name.
  void Register(TControl* control);
  // A failure raises "Failed to Unregister " + name.
  void Unregister();
  TControl* Control() const { return control_; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return TInterfacedComponent::AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return TInterfacedComponent::Release(); }
  HRESULT STDMETHODCALLTYPE DragEnter(IDataObject* data, DWORD key_state, POINTL pt,
                                      DWORD* effect) override;
  HRESULT STDMETHODCALLTYPE DragOver(DWORD key_state, POINTL pt, DWORD* effect) override;
  HRESULT STDMETHODCALLTYPE DragLeave() override;
  HRESULT STDMETHODCALLTYPE Drop(IDataObject* data, DWORD key_state, POINTL pt,
                                 DWORD* effect) override;

  // The effect for the source's allowed effects at a client point.
  virtual DWORD ChooseDropEffect(TShiftState shift, POINT point, DWORD allowed);
  void AutoScroll();
  bool Scrolling() const { return timer_.Enabled(); }

 protected:
  virtual void FireEnter(TShiftState shift, POINT point, DWORD& effect);
  virtual void FireDragOver(TShiftState shift, POINT point, DWORD& effect);
  virtual void FireDrop(TShiftState shift, POINT point, DWORD& effect);
  virtual void FireLeave();
  virtual bool FetchData() { return false; }
  virtual void ClearData() {}
  virtual bool AcceptsData() { return false; }

  IDataObject* DataObject() const { return data_object_; }

 private:
  POINT ToClient(POINTL pt) const;
  void ReleaseData();
  void HideImage();
  void ReportPerformedEffect(DWORD effect);

  TControl* control_ = nullptr;
  IDataObject* data_object_ = nullptr;
  POINT last_point_{};
  bool scroll_horizontal_ = false;
  bool scroll_vertical_ = false;
  int scroll_margin_ = 0;
  TTimer timer_{100};
  HIMAGELIST cursor_image_ = nullptr;
  HIMAGELIST drag_image_ = nullptr;
  POINT hot_spot_{};
  bool show_image_ = true;
};

class TDropFileTarget : public TDropTarget {
 public:
  TDropFileTarget() = default;
  // The paths of the drop, valid inside OnDrop; wide names in the ANSI code page.
  std::vector<std::string> FileList;
  // The same names as the block carried them, for opening the files.
  std::vector<std::wstring> WideFileList;

 protected:
  bool FetchData() override;
  void ClearData() override;
  bool AcceptsData() override;
};

// The names of a CF_HDROP block (a DROPFILES header and the name list).
std::vector<std::wstring> read_hdrop_names(const void* block, std::size_t size);

}  // namespace zt::win
