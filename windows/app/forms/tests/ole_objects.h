// A hand-made drag source: a data object offering a CF_HDROP file list (or
// nothing), a drop source that drops after a few polls, and a file drag that
// deletes its originals after a move as the shell's does.
#pragma once

#include <windows.h>
// After windows.h, which they need.
#include <ole2.h>
#include <shlobj.h>

#include <atomic>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace zt::win::test {

// The CF_HDROP block of the names, wide or ANSI.
inline HGLOBAL make_hdrop(const std::vector<std::wstring>& names, bool wide = true) {
  std::vector<std::uint8_t> list;
  for (const std::wstring& n : names) {
    if (wide) {
      const auto* p = reinterpret_cast<const std::uint8_t*>(n.c_str());
      list.insert(list.end(), p, p + (n.size() + 1) * 2);
    } else {
      for (wchar_t c : n) list.push_back(static_cast<std::uint8_t>(c));
      list.push_back(0);
    }
  }
  list.insert(list.end(), wide ? 2 : 1, 0);
  HGLOBAL g = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + list.size());
  auto* base = static_cast<std::uint8_t*>(GlobalLock(g));
  DROPFILES df{};
  df.pFiles = sizeof(DROPFILES);
  df.fWide = wide ? TRUE : FALSE;
  std::memcpy(base, &df, sizeof df);
  std::memcpy(base + sizeof df, list.data(), list.size());
  GlobalUnlock(g);
  return g;
}

class FileDataObject final : public IDataObject {
 public:
  // offer_hdrop false: a data object with no format the target knows;
  // keep_reports false: one that refuses whatever the target sets on it.
  FileDataObject(std::vector<std::wstring> names, bool offer_hdrop = true, bool keep_reports = true)
      : names_(std::move(names)), offer_(offer_hdrop), keep_reports_(keep_reports) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDataObject)) {
      *out = static_cast<IDataObject*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
  // Lives on the test's stack: the count only shows leaks.
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs_); }

  HRESULT STDMETHODCALLTYPE GetData(FORMATETC* f, STGMEDIUM* m) override {
    if (QueryGetData(f) != S_OK) return DV_E_FORMATETC;
    m->tymed = TYMED_HGLOBAL;
    m->hGlobal = make_hdrop(names_);
    m->pUnkForRelease = nullptr;
    ++gets_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* f) override {
    if (!offer_ || f->cfFormat != CF_HDROP || !(f->tymed & TYMED_HGLOBAL)) return DV_E_FORMATETC;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override {
    out->ptd = nullptr;
    return E_NOTIMPL;
  }
  // Keeps what the target reports in "Performed DropEffect"; refuses the rest.
  HRESULT STDMETHODCALLTYPE SetData(FORMATETC* f, STGMEDIUM* m, BOOL release) override {
    if (!keep_reports_ || f->cfFormat != performed_format() || m->tymed != TYMED_HGLOBAL ||
        GlobalSize(m->hGlobal) < sizeof(DWORD)) {
      return E_NOTIMPL;
    }
    DWORD effect = 0;
    std::memcpy(&effect, GlobalLock(m->hGlobal), sizeof effect);
    GlobalUnlock(m->hGlobal);
    performed_ = effect;
    if (release) ReleaseStgMedium(m);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD dir, IEnumFORMATETC** out) override {
    if (dir != DATADIR_GET) return E_NOTIMPL;
    FORMATETC f{CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    return SHCreateStdEnumFmtEtc(offer_ ? 1 : 0, &f, out);
  }
  HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override {
    return OLE_E_ADVISENOTSUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
  HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA**) override {
    return OLE_E_ADVISENOTSUPPORTED;
  }

  int gets() const { return gets_; }
  LONG refs() const { return refs_; }
  std::optional<DWORD> performed() const { return performed_; }
  const std::vector<std::wstring>& names() const { return names_; }

  static CLIPFORMAT performed_format() {
    static const auto f =
        static_cast<CLIPFORMAT>(RegisterClipboardFormatW(L"Performed DropEffect"));
    return f;
  }

 private:
  std::vector<std::wstring> names_;
  bool offer_;
  bool keep_reports_;
  std::atomic<LONG> refs_{1};
  int gets_ = 0;
  std::optional<DWORD> performed_;
};

// Drops after a few polls, so that the target sees an enter and a move first.
class DroppingSource final : public IDropSource {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDropSource)) {
      *out = static_cast<IDropSource*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE QueryContinueDrag(BOOL escape, DWORD) override {
    ++polls_;
    if (escape || polls_ > 200) return DRAGDROP_S_CANCEL;
    return polls_ >= 4 ? DRAGDROP_S_DROP : S_OK;
  }
  HRESULT STDMETHODCALLTYPE GiveFeedback(DWORD effect) override {
    last_feedback_ = effect;
    return DRAGDROP_S_USEDEFAULTCURSORS;
  }
  // The effect the cursor showed last while dragging.
  DWORD last_feedback() const { return last_feedback_; }

 private:
  int polls_ = 0;
  DWORD last_feedback_ = DROPEFFECT_NONE;
};

// A file drag as the shell runs it: after a drop that ends in a move (handed
// back from Drop or reported in "Performed DropEffect") which the target did
// not report as done by itself (a reported DROPEFFECT_NONE), the move is
// finished by deleting the originals.
inline HRESULT drag_files_like_the_shell(FileDataObject& data, DWORD allowed, DWORD& effect) {
  DroppingSource source;
  effect = DROPEFFECT_NONE;
  const HRESULT hr = DoDragDrop(&data, &source, allowed, &effect);
  const bool moved = effect == DROPEFFECT_MOVE || data.performed() == DWORD{DROPEFFECT_MOVE};
  const bool moved_by_target = data.performed() == DWORD{DROPEFFECT_NONE};
  if (hr == DRAGDROP_S_DROP && moved && !moved_by_target) {
    for (const std::wstring& name : data.names()) DeleteFileW(name.c_str());
  }
  return hr;
}

}  // namespace zt::win::test
