#include "forms/drop_target.h"

#include <shlobj.h>

#include <cstring>

#include "text_codec.h"

namespace zt::win {

namespace {

constexpr DWORD kScrollBit = DROPEFFECT_SCROLL;

TShiftState shift_of(DWORD key_state) {
  TShiftState s;
  s.shift = (key_state & MK_SHIFT) != 0;
  s.ctrl = (key_state & MK_CONTROL) != 0;
  s.alt = (key_state & MK_ALT) != 0;
  s.left = (key_state & MK_LBUTTON) != 0;
  s.right = (key_state & MK_RBUTTON) != 0;
  s.middle = (key_state & MK_MBUTTON) != 0;
  return s;
}

FORMATETC hdrop_format() {
  return FORMATETC{CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
}

}  // namespace

void drop_source_start() {
  static const bool started = [] {
    OleInitialize(nullptr);
    for (const char* name :
         {"FileContents", "FileGroupDescriptor", "Shell IDList Array", "Preferred DropEffect",
          "UniformResourceLocator", "FileNameMap", "FileNameMapW"}) {
      RegisterClipboardFormatA(name);
    }
    return true;
  }();
  (void)started;
}

ULONG STDMETHODCALLTYPE TInterfacedComponent::AddRef() {
  return static_cast<ULONG>(++ref_count_);
}

ULONG STDMETHODCALLTYPE TInterfacedComponent::Release() {
  const LONG n = --ref_count_;
  if (n == 0) delete this;
  return static_cast<ULONG>(n);
}

TDropTarget::TDropTarget() {
  timer_.OnTimer = [this] { AutoScroll(); };
  // The owner frees the component: OLE's references never reach 0.
  TInterfacedComponent::AddRef();
  // A fully transparent 32 x 32 cursor part for drag images.
  cursor_image_ = ImageList_Create(32, 32, ILC_MASK | ILC_COLOR24, 1, 0);
  HDC screen = GetDC(nullptr);
  HBITMAP bmp = CreateCompatibleBitmap(screen, 32, 32);
  HDC dc = CreateCompatibleDC(screen);
  HGDIOBJ old = SelectObject(dc, bmp);
  RECT r{0, 0, 32, 32};
  FillRect(dc, &r, GetSysColorBrush(COLOR_WINDOW));
  SelectObject(dc, old);
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
  ImageList_AddMasked(cursor_image_, bmp, GetSysColor(COLOR_WINDOW));
  DeleteObject(bmp);
}

TDropTarget::~TDropTarget() {
  if (cursor_image_) ImageList_Destroy(cursor_image_);
  timer_.SetEnabled(false);
  try {
    Unregister();
  } catch (const Exception&) {
    // A window already gone has nothing left to revoke.
  }
  ReleaseData();
}

void TDropTarget::SetShowImage(bool on) {
  show_image_ = on;
  if (drag_image_) ImageList_DragShowNolock(on ? TRUE : FALSE);
}

void TDropTarget::Register(TControl* control) {
  if (control == control_) return;
  if (control_) Unregister();
  control_ = control;
  if (control_ == nullptr) return;
  if (FAILED(RegisterDragDrop(control_->Handle(), static_cast<IDropTarget*>(this)))) {
    const std::wstring name = control_->Name();
    control_ = nullptr;
    throw Exception(L"Failed to Register " + name);
  }
}

void TDropTarget::Unregister() {
  if (control_ == nullptr) return;
  if (IsWindow(control_->Handle())) {
    if (FAILED(RevokeDragDrop(control_->Handle()))) {
      throw Exception(L"Failed to Unregister " + control_->Name());
    }
  }
  control_ = nullptr;
}

HRESULT STDMETHODCALLTYPE TDropTarget::QueryInterface(REFIID riid, void** out) {
  if (out == nullptr) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown)) {
    *out = static_cast<TInterfacedComponent*>(this);
  } else if (IsEqualIID(riid, IID_IDropTarget)) {
    *out = static_cast<IDropTarget*>(this);
  } else {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

POINT TDropTarget::ToClient(POINTL pt) const {
  POINT p{pt.x, pt.y};
  if (control_) ScreenToClient(control_->Handle(), &p);
  return p;
}

void TDropTarget::ReleaseData() {
  if (data_object_) {
    data_object_->Release();
    data_object_ = nullptr;
  }
}

void TDropTarget::HideImage() {
  if (drag_image_) {
    ImageList_DragLeave(control_ ? control_->Handle() : nullptr);
    drag_image_ = nullptr;
  }
}

HRESULT STDMETHODCALLTYPE TDropTarget::DragEnter(IDataObject* data, DWORD key_state, POINTL pt,
                                                 DWORD* effect) {
  ClearData();
  ReleaseData();
  data_object_ = data;
  if (data_object_) data_object_->AddRef();
  last_point_ = ToClient(pt);
  if (show_image_ && control_) {
    POINT drag_pos{}, hot{};
    HIMAGELIST list = ImageList_GetDragImage(&drag_pos, &hot);
    if (list) {
      drag_image_ = list;
      hot_spot_ = hot;
      ImageList_SetDragCursorImage(cursor_image_, 0, hot.x, hot.y);
      RECT wr{};
      GetWindowRect(control_->Handle(), &wr);
      ImageList_DragEnter(control_->Handle(), pt.x - wr.left, pt.y - wr.top);
    }
  }
  if (data_object_ == nullptr || !AcceptsData()) {
    ReleaseData();
    *effect = DROPEFFECT_NONE;
    return S_OK;
  }
  HWND h = control_ ? control_->Handle() : nullptr;
  LOGFONTW lf{};
  HFONT font = h ? reinterpret_cast<HFONT>(SendMessageW(h, WM_GETFONT, 0, 0)) : nullptr;
  if (font && GetObjectW(font, sizeof lf, &lf)) scroll_margin_ = std::abs(lf.lfHeight);
  const LONG_PTR style = h ? GetWindowLongPtrW(h, GWL_STYLE) : 0;
  scroll_horizontal_ = (style & WS_HSCROLL) != 0;
  scroll_vertical_ = (style & WS_VSCROLL) != 0;
  if (GetDataOnEnter) FetchData();
  const TShiftState shift = shift_of(key_state);
  *effect = ChooseDropEffect(shift, last_point_, *effect);
  FireEnter(shift, last_point_, *effect);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TDropTarget::DragOver(DWORD key_state, POINTL pt, DWORD* effect) {
  const POINT p = ToClient(pt);
  bool scrolling = false;
  if (data_object_) {
    const TShiftState shift = shift_of(key_state);
    *effect = ChooseDropEffect(shift, p, *effect);
    FireDragOver(shift, p, *effect);
    scrolling = (scroll_horizontal_ || scroll_vertical_) && (*effect & kScrollBit) != 0;
  } else {
    *effect = DROPEFFECT_NONE;
  }
  timer_.SetEnabled(scrolling);
  if (drag_image_ && (p.x != last_point_.x || p.y != last_point_.y)) {
    last_point_ = p;
    if (!scrolling && control_) {
      RECT wr{};
      GetWindowRect(control_->Handle(), &wr);
      ImageList_DragMove(pt.x - wr.left, pt.y - wr.top);
    }
  }
  last_point_ = p;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TDropTarget::DragLeave() {
  ClearData();
  timer_.SetEnabled(false);
  ReleaseData();
  HideImage();
  FireLeave();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TDropTarget::Drop(IDataObject*, DWORD key_state, POINTL pt,
                                            DWORD* effect) {
  if (data_object_ == nullptr) {
    *effect = DROPEFFECT_NONE;
    return S_OK;
  }
  timer_.SetEnabled(false);
  HideImage();
  const POINT p = ToClient(pt);
  const TShiftState shift = shift_of(key_state);
  *effect = ChooseDropEffect(shift, p, *effect);
  if (GetDataOnEnter || FetchData()) {
    // A handler's exception must not unwind into OLE.
    Application().Guard([&] { FireDrop(shift, p, *effect); });
  } else {
    *effect = DROPEFFECT_NONE;
  }
  ReportPerformedEffect(*effect & ~kScrollBit);
  ClearData();
  ReleaseData();
  return S_OK;
}

// The shell's file drag deletes its originals after a move unless the target
// says here that nothing is left for it to do (DROPEFFECT_NONE).
void TDropTarget::ReportPerformedEffect(DWORD effect) {
  static const auto format =
      static_cast<CLIPFORMAT>(RegisterClipboardFormatW(L"Performed DropEffect"));
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, sizeof effect);
  if (block == nullptr) return;
  void* p = GlobalLock(block);
  if (p == nullptr) {
    GlobalFree(block);
    return;
  }
  std::memcpy(p, &effect, sizeof effect);
  GlobalUnlock(block);
  FORMATETC f{format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  STGMEDIUM medium{};
  medium.tymed = TYMED_HGLOBAL;
  medium.hGlobal = block;
  // Taken over by the data object only when it accepts it.
  if (FAILED(data_object_->SetData(&f, &medium, TRUE))) GlobalFree(block);
}

DWORD TDropTarget::ChooseDropEffect(TShiftState shift, POINT point, DWORD allowed) {
  DWORD masked = 0;
  if (Dragtypes & static_cast<TDragTypes>(TDragType::dtCopy)) masked |= allowed & DROPEFFECT_COPY;
  if (Dragtypes & static_cast<TDragTypes>(TDragType::dtMove)) masked |= allowed & DROPEFFECT_MOVE;
  if (Dragtypes & static_cast<TDragTypes>(TDragType::dtLink)) masked |= allowed & DROPEFFECT_LINK;
  if (OnGetDropEffect) {
    OnGetDropEffect(*this, shift, point, masked);
    return masked;
  }
  DWORD effect = DROPEFFECT_NONE;
  if (shift.shift && shift.ctrl && (masked & DROPEFFECT_LINK)) {
    effect = DROPEFFECT_LINK;
  } else if (shift.shift && !shift.ctrl && (masked & DROPEFFECT_MOVE)) {
    effect = DROPEFFECT_MOVE;
  } else if (masked & DROPEFFECT_COPY) {
    effect = DROPEFFECT_COPY;
  } else if (masked & DROPEFFECT_MOVE) {
    effect = DROPEFFECT_MOVE;
  } else if (masked & DROPEFFECT_LINK) {
    effect = DROPEFFECT_LINK;
  }
  if (!scroll_horizontal_ && !scroll_vertical_) return effect;
  RECT client{};
  if (control_) GetClientRect(control_->Handle(), &client);
  const bool near_h =
      scroll_horizontal_ && (point.x < scroll_margin_ || point.x > client.right - scroll_margin_);
  const bool near_v =
      scroll_vertical_ && (point.y < scroll_margin_ || point.y > client.bottom - scroll_margin_);
  if (near_h || near_v) effect |= kScrollBit;
  return effect;
}

void TDropTarget::AutoScroll() {
  if (control_ == nullptr) return;
  HWND h = control_->Handle();
  if (drag_image_) ImageList_DragShowNolock(FALSE);
  RECT client{};
  GetClientRect(h, &client);
  if (last_point_.y < scroll_margin_) {
    SendMessageW(h, WM_VSCROLL, SB_LINEUP, 0);
  } else if (last_point_.y > client.bottom - scroll_margin_) {
    SendMessageW(h, WM_VSCROLL, SB_LINEDOWN, 0);
  }
  if (last_point_.x < scroll_margin_) {
    SendMessageW(h, WM_HSCROLL, SB_LINELEFT, 0);
  } else if (last_point_.x > client.right - scroll_margin_) {
    SendMessageW(h, WM_HSCROLL, SB_LINERIGHT, 0);
  }
  if (drag_image_) ImageList_DragShowNolock(show_image_ ? TRUE : FALSE);
}

void TDropTarget::FireEnter(TShiftState shift, POINT point, DWORD& effect) {
  if (OnEnter) OnEnter(*this, shift, point, effect);
}
void TDropTarget::FireDragOver(TShiftState shift, POINT point, DWORD& effect) {
  if (OnDragOver) OnDragOver(*this, shift, point, effect);
}
void TDropTarget::FireDrop(TShiftState shift, POINT point, DWORD& effect) {
  if (OnDrop) OnDrop(*this, shift, point, effect);
}
void TDropTarget::FireLeave() {
  if (OnLeave) OnLeave(*this);
}

// ---- file lists ----

std::vector<std::wstring> read_hdrop_names(const void* block, std::size_t size) {
  std::vector<std::wstring> names;
  if (block == nullptr || size < sizeof(DROPFILES)) return names;
  const auto* bytes = static_cast<const std::uint8_t*>(block);
  DROPFILES header;
  std::memcpy(&header, bytes, sizeof header);
  std::size_t at = header.pFiles;
  if (header.fWide) {
    // Read by whole characters: a name can begin with a character whose low byte is 0.
    std::wstring name;
    while (at + 2 <= size) {
      wchar_t c;
      std::memcpy(&c, bytes + at, 2);
      at += 2;
      if (c != L'\0') {
        name.push_back(c);
        continue;
      }
      if (name.empty()) break;
      names.push_back(std::move(name));
      name.clear();
    }
  } else {
    std::string name;
    while (at < size) {
      const char c = static_cast<char>(bytes[at++]);
      if (c != '\0') {
        name.push_back(c);
        continue;
      }
      if (name.empty()) break;
      names.push_back(from_code_page(name, CP_ACP));
      name.clear();
    }
  }
  return names;
}

bool TDropFileTarget::AcceptsData() {
  FORMATETC f = hdrop_format();
  return DataObject() && DataObject()->QueryGetData(&f) == S_OK;
}

void TDropFileTarget::ClearData() {
  FileList.clear();
  WideFileList.clear();
}

bool TDropFileTarget::FetchData() {
  ClearData();
  if (DataObject() == nullptr) return false;
  FORMATETC f = hdrop_format();
  STGMEDIUM medium{};
  if (FAILED(DataObject()->GetData(&f, &medium))) return false;
  if (medium.tymed == TYMED_HGLOBAL && medium.hGlobal) {
    const void* block = GlobalLock(medium.hGlobal);
    if (block) {
      WideFileList = read_hdrop_names(block, GlobalSize(medium.hGlobal));
      GlobalUnlock(medium.hGlobal);
    }
  }
  ReleaseStgMedium(&medium);
  for (const std::wstring& name : WideFileList) FileList.push_back(to_code_page(name, CP_ACP));
  return !WideFileList.empty();
}

}  // namespace zt::win
