#include "forms/forms.h"

#include <commdlg.h>

#include <algorithm>
#include <map>

#include "text_codec.h"

namespace zt::win {

namespace {

constexpr wchar_t kFormClass[] = L"ZentroForm";

void register_form_class() {
  static const bool done = [] {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES |
                                             ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&icc);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.lpszClassName = kFormClass;
    return RegisterClassExW(&wc) != 0;
  }();
  (void)done;
}

// Every other enabled top-level window of this thread, disabled for a modal form.
std::vector<HWND> disable_thread_windows(HWND except) {
  struct Ctx {
    HWND except;
    std::vector<HWND> list;
  } ctx{except, {}};
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND h, LPARAM p) -> BOOL {
        auto* c = reinterpret_cast<Ctx*>(p);
        if (h != c->except && IsWindowVisible(h) && IsWindowEnabled(h)) {
          EnableWindow(h, FALSE);
          c->list.push_back(h);
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&ctx));
  return ctx.list;
}

// Tab, Enter and Esc for the form the message is meant for.
bool dialog_message(MSG& msg) {
  HWND top = msg.hwnd ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
  if (top == nullptr) return false;
  wchar_t cls[32] = {};
  GetClassNameW(top, cls, 32);
  if (lstrcmpW(cls, kFormClass) != 0) return false;
  return IsDialogMessageW(top, &msg) != 0;
}

void dispatch(MSG& msg) {
  if (dialog_message(msg)) return;
  TranslateMessage(&msg);
  DispatchMessageW(&msg);
}

// An error text of the standard library, each byte as the Latin-1 character
// of that number.
std::wstring latin1_to_wide(const char* text) {
  std::wstring out;
  for (const char* p = text; *p; ++p) out.push_back(static_cast<unsigned char>(*p));
  return out;
}

}  // namespace

Exception::Exception(std::wstring message)
    : std::runtime_error(to_code_page(message, CP_UTF8)), message_(std::move(message)) {}

// ---- application ----

TApplication& TApplication::Instance() {
  static TApplication app;
  return app;
}

void TApplication::Initialize() {
  register_form_class();
}

void TApplication::AddForm(TForm& form) {
  if (main_form_ == nullptr) main_form_ = &form;
}

void TApplication::Run() {
  if (main_form_) main_form_->Show();
  MSG msg;
  while (!terminated_) {
    const BOOL r = GetMessageW(&msg, nullptr, 0, 0);
    if (r == 0 || r == -1) break;
    dispatch(msg);
  }
  terminated_ = true;
}

void TApplication::Terminate() {
  terminated_ = true;
  PostQuitMessage(0);
}

void TApplication::HandleException(const std::exception& e) {
  const auto* own = dynamic_cast<const Exception*>(&e);
  const std::wstring text = own ? own->Message() : latin1_to_wide(e.what());
  MessageBoxW(GetActiveWindow(), text.c_str(), Title.c_str(), MB_OK | MB_ICONERROR);
}

void TApplication::HandleUnknownException() {
  MessageBoxW(GetActiveWindow(), L"Unknown exception", Title.c_str(), MB_OK | MB_ICONERROR);
}

void TApplication::Guard(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    HandleException(e);
  } catch (...) {
    HandleUnknownException();
  }
}

namespace {
bool font_installed(const wchar_t* face) {
  LOGFONTW lf{};
  lf.lfCharSet = SHIFTJIS_CHARSET;
  lstrcpynW(lf.lfFaceName, face, LF_FACESIZE);
  HDC dc = GetDC(nullptr);
  bool found = false;
  EnumFontFamiliesExW(
      dc, &lf,
      [](const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM p) -> int {
        *reinterpret_cast<bool*>(p) = true;
        return 0;
      },
      reinterpret_cast<LPARAM>(&found), 0);
  ReleaseDC(nullptr, dc);
  return found;
}
}  // namespace

const wchar_t* form_font_face() {
  // Where the forms' own face is missing, a Japanese Gothic in its place.
  static const wchar_t* face = [] {
    for (const wchar_t* f : {L"ＭＳ Ｐゴシック", L"MS PGothic", L"IPAPGothic", L"IPAGothic"}) {
      if (font_installed(f)) return f;
    }
    return L"ＭＳ Ｐゴシック";
  }();
  return face;
}

HFONT make_form_font(bool underline) {
  return CreateFontW(-12, 0, 0, 0, FW_NORMAL, FALSE, underline ? TRUE : FALSE, FALSE,
                     SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_DONTCARE, form_font_face());
}

HFONT form_font() {
  static HFONT font = make_form_font(false);
  return font;
}

// ---- controls ----

TControl::TControl(TForm& form, std::wstring name)
    : form_(form), name_(std::move(name)), id_(form.NextControlId()) {
  form.AddControl(this);
}

TControl::~TControl() {
  form_.RemoveControl(this);
  if (hwnd_) DestroyWindow(hwnd_);
}

void TControl::CreateHandle(const wchar_t* cls, const std::wstring& text, DWORD style,
                            DWORD ex_style, int left, int top, int width, int height) {
  hwnd_ = CreateWindowExW(ex_style, cls, text.c_str(),
                          WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | style, left, top, width, height,
                          form_.Handle(), reinterpret_cast<HMENU>(static_cast<INT_PTR>(id_)),
                          GetModuleHandleW(nullptr), nullptr);
  SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(form_font()), FALSE);
}

void TControl::SetBounds(int left, int top, int width, int height) {
  SetWindowPos(hwnd_, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}
void TControl::SetEnabled(bool on) {
  EnableWindow(hwnd_, on ? TRUE : FALSE);
}
bool TControl::Enabled() const {
  return IsWindowEnabled(hwnd_) != 0;
}
void TControl::SetVisible(bool on) {
  ShowWindow(hwnd_, on ? SW_SHOW : SW_HIDE);
}
void TControl::SetFocus() {
  ::SetFocus(hwnd_);
}
void TControl::SetText(const std::wstring& text) {
  SetWindowTextW(hwnd_, text.c_str());
}
std::wstring TControl::Text() const {
  const int n = GetWindowTextLengthW(hwnd_);
  std::wstring s(static_cast<std::size_t>(n) + 1, L'\0');
  const int got = GetWindowTextW(hwnd_, s.data(), n + 1);
  s.resize(static_cast<std::size_t>(std::max(got, 0)));
  return s;
}

TButton::TButton(TForm& form, std::wstring name, const std::wstring& caption, int l, int t, int w,
                 int h)
    : TControl(form, std::move(name)) {
  CreateHandle(WC_BUTTONW, caption, WS_TABSTOP | BS_PUSHBUTTON, 0, l, t, w, h);
}
void TButton::Click() {
  if (Enabled() && OnClick) OnClick();
}
void TButton::Command(WORD code) {
  if (code == BN_CLICKED) Click();
}

TLabel::TLabel(TForm& form, std::wstring name, const std::wstring& caption, int l, int t, int w,
               int h, DWORD style, bool underline)
    : TControl(form, std::move(name)), align_(style & SS_TYPEMASK) {
  if (underline) style = (style & ~SS_TYPEMASK) | SS_OWNERDRAW;
  CreateHandle(WC_STATICW, caption, style | SS_NOTIFY, 0, l, t, w, h);
}
void TLabel::Command(WORD code) {
  if (code == STN_CLICKED && OnClick) OnClick();
}

// The font's own underline lies below a one-line label of the font's height,
// out of sight: the label draws the line on its last row instead.
void TLabel::DrawItem(const DRAWITEMSTRUCT& d) {
  HDC dc = d.hDC;
  RECT r = d.rcItem;
  // The form's colours for labels, as a plain static would ask for them.
  auto* background = reinterpret_cast<HBRUSH>(SendMessageW(GetParent(Handle()), WM_CTLCOLORSTATIC,
                                                           reinterpret_cast<WPARAM>(dc),
                                                           reinterpret_cast<LPARAM>(Handle())));
  if (background) FillRect(dc, &r, background);
  const UINT align = align_ == SS_RIGHT ? DT_RIGHT : align_ == SS_CENTER ? DT_CENTER : DT_LEFT;
  const std::wstring text = Text();
  HGDIOBJ old = SelectObject(dc, form_font());
  SetBkMode(dc, TRANSPARENT);
  // Up by the font's internal leading, so that the glyphs' own box fills the
  // label and descenders keep a row above the line.
  TEXTMETRICW tm{};
  GetTextMetricsW(dc, &tm);
  RECT text_box = r;
  text_box.top -= tm.tmInternalLeading;
  DrawTextW(dc, text.c_str(), -1, &text_box, align | DT_SINGLELINE);
  RECT extent = r;
  DrawTextW(dc, text.c_str(), -1, &extent, align | DT_SINGLELINE | DT_CALCRECT);
  SelectObject(dc, old);
  // DT_CALCRECT keeps the left edge: place the measured width by the alignment.
  const LONG width = std::min(extent.right - extent.left, r.right - r.left);
  LONG left = r.left;
  if (align == DT_RIGHT) left = r.right - width;
  if (align == DT_CENTER) left = r.left + (r.right - r.left - width) / 2;
  const RECT line{left, r.bottom - 1, left + width, r.bottom};
  HBRUSH pen = CreateSolidBrush(GetTextColor(dc));
  FillRect(dc, &line, pen);
  DeleteObject(pen);
}

TImage::TImage(TForm& form, std::wstring name, HBITMAP picture, int l, int t, int w, int h)
    : TControl(form, std::move(name)), picture_(picture) {
  CreateHandle(WC_STATICW, L"", SS_BITMAP, 0, l, t, w, h);
  SendMessageW(Handle(), STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture_));
}
TImage::~TImage() {
  if (picture_) DeleteObject(picture_);
}

TPanel::TPanel(TForm& form, std::wstring name, int l, int t, int w, int h)
    : TControl(form, std::move(name)), left_(l), top_(t) {
  // A lowered bevel of width 2.
  CreateHandle(WC_STATICW, L"", 0, WS_EX_CLIENTEDGE, l, t, w, h);
}

TEdit::TEdit(TForm& form, std::wstring name, int l, int t, int w, int h)
    : TControl(form, std::move(name)) {
  CreateHandle(WC_EDITW, L"", WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE, l, t, w, h);
}

TMemo::TMemo(TForm& form, std::wstring name, int l, int t, int w, int h, bool scroll)
    : TControl(form, std::move(name)) {
  CreateHandle(WC_EDITW, L"",
               ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | (scroll ? WS_VSCROLL : 0u),
               WS_EX_CLIENTEDGE, l, t, w, h);
  SendMessageW(Handle(), EM_SETLIMITTEXT, 0, 0);
}
void TMemo::Clear() {
  SetText(L"");
  has_lines_ = false;
}
void TMemo::Add(const std::wstring& line) {
  AddLines({line});
}
void TMemo::AddLines(const std::vector<std::wstring>& lines) {
  if (lines.empty()) return;
  std::wstring text = Text();
  for (const std::wstring& line : lines) {
    if (has_lines_ || !text.empty()) text += L"\r\n";
    text += line;
    has_lines_ = true;
  }
  SetText(text);
  SendMessageW(Handle(), EM_SETSEL, text.size(), text.size());
  SendMessageW(Handle(), EM_SCROLLCARET, 0, 0);
}
std::vector<std::wstring> TMemo::Lines() const {
  std::vector<std::wstring> lines;
  const std::wstring text = Text();
  if (text.empty() && !has_lines_) return lines;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find(L"\r\n", start);
    lines.push_back(text.substr(start, end == std::wstring::npos ? end : end - start));
    if (end == std::wstring::npos) break;
    start = end + 2;
  }
  return lines;
}

TListBox::TListBox(TForm& form, std::wstring name, int l, int t, int w, int h)
    : TControl(form, std::move(name)) {
  CreateHandle(WC_LISTBOXW, L"", WS_TABSTOP | WS_VSCROLL | LBS_NOINTEGRALHEIGHT | LBS_NOTIFY,
               WS_EX_CLIENTEDGE, l, t, w, h);
}
void TListBox::Add(const std::wstring& text) {
  SendMessageW(Handle(), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
}
void TListBox::Clear() {
  SendMessageW(Handle(), LB_RESETCONTENT, 0, 0);
}
int TListBox::Count() const {
  return static_cast<int>(SendMessageW(Handle(), LB_GETCOUNT, 0, 0));
}
std::wstring TListBox::Item(int i) const {
  const auto n = SendMessageW(Handle(), LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
  if (n < 0) return {};
  std::wstring s(static_cast<std::size_t>(n) + 1, L'\0');
  SendMessageW(Handle(), LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(s.data()));
  s.resize(static_cast<std::size_t>(n));
  return s;
}

namespace {
void list_add_column(HWND h, int index, const std::wstring& caption, int width) {
  LVCOLUMNW c{};
  c.mask = LVCF_TEXT | LVCF_WIDTH;
  c.cx = width;
  c.pszText = const_cast<wchar_t*>(caption.c_str());
  SendMessageW(h, LVM_INSERTCOLUMNW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&c));
}
int list_columns(HWND h) {
  HWND header = reinterpret_cast<HWND>(SendMessageW(h, LVM_GETHEADER, 0, 0));
  return static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
}
void list_set(HWND h, int row, int column, const std::wstring& text) {
  LVITEMW it{};
  it.iSubItem = column;
  it.pszText = const_cast<wchar_t*>(text.c_str());
  SendMessageW(h, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&it));
}
std::wstring list_get(HWND h, int row, int column) {
  wchar_t buf[512] = {};
  LVITEMW it{};
  it.iSubItem = column;
  it.pszText = buf;
  it.cchTextMax = 512;
  SendMessageW(h, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&it));
  return buf;
}
int list_add_row(HWND h) {
  LVITEMW it{};
  it.mask = LVIF_TEXT;
  it.iItem = static_cast<int>(SendMessageW(h, LVM_GETITEMCOUNT, 0, 0));
  it.pszText = const_cast<wchar_t*>(L"");
  return static_cast<int>(SendMessageW(h, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&it)));
}
}  // namespace

TCheckListView::TCheckListView(TForm& form, std::wstring name, int l, int t, int w, int h)
    : TControl(form, std::move(name)) {
  CreateHandle(WC_LISTVIEWW, L"", WS_TABSTOP | LVS_REPORT | LVS_SHOWSELALWAYS | LVS_SINGLESEL,
               WS_EX_CLIENTEDGE, l, t, w, h);
  ListView_SetExtendedListViewStyle(Handle(), LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
}
void TCheckListView::AddColumn(const std::wstring& caption, int width) {
  list_add_column(Handle(), list_columns(Handle()), caption, width);
}
void TCheckListView::Clear() {
  ListView_DeleteAllItems(Handle());
}
void TCheckListView::AddRow(const std::vector<std::wstring>& cells) {
  const int row = list_add_row(Handle());
  for (std::size_t c = 0; c < cells.size(); ++c) {
    list_set(Handle(), row, static_cast<int>(c), cells[c]);
  }
}
int TCheckListView::Count() const {
  return ListView_GetItemCount(Handle());
}
std::wstring TCheckListView::Cell(int row, int column) const {
  return list_get(Handle(), row, column);
}
bool TCheckListView::Checked(int row) const {
  return ListView_GetCheckState(Handle(), static_cast<UINT>(row)) != 0;
}
void TCheckListView::SetChecked(int row, bool on) {
  ListView_SetCheckState(Handle(), static_cast<UINT>(row), on ? TRUE : FALSE);
}

TStringGrid::TStringGrid(TForm& form, std::wstring name, int l, int t, int w, int h, int columns,
                         int rows, int row_height)
    : TControl(form, std::move(name)), columns_(columns), rows_(rows), row_height_(row_height) {
  CreateHandle(WC_LISTVIEWW, L"",
               WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER |
                   LVS_NOSCROLL | LVS_OWNERDRAWFIXED,
               WS_EX_CLIENTEDGE, l, t, w, h);
  ListView_SetExtendedListViewStyle(Handle(), LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
  // The list asks for an owner-drawn row's height when it is moved.
  SetWindowPos(Handle(), nullptr, 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  for (int c = 0; c < columns; ++c) list_add_column(Handle(), c, L"", 64);
  for (int r = 1; r < rows; ++r) list_add_row(Handle());
}
void TStringGrid::MeasureItem(MEASUREITEMSTRUCT& m) {
  m.itemHeight = static_cast<UINT>(row_height_);
}
void TStringGrid::DrawItem(const DRAWITEMSTRUCT& d) {
  const bool selected = (d.itemState & ODS_SELECTED) != 0;
  FillRect(d.hDC, &d.rcItem, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
  SetBkMode(d.hDC, TRANSPARENT);
  SetTextColor(d.hDC, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
  HGDIOBJ old = SelectObject(d.hDC, form_font());
  const int row = static_cast<int>(d.itemID);
  for (int c = 0; c < columns_; ++c) {
    RECT cell{};
    ListView_GetSubItemRect(Handle(), row, c, LVIR_LABEL, &cell);
    if (c == 0) cell.right = cell.left + ListView_GetColumnWidth(Handle(), 0);
    cell.left += 2;
    const std::wstring text = list_get(Handle(), row, c);
    DrawTextW(d.hDC, text.c_str(), -1, &cell,
              DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
  }
  SelectObject(d.hDC, old);
  if ((d.itemState & ODS_FOCUS) != 0) DrawFocusRect(d.hDC, &d.rcItem);
}
void TStringGrid::SetColWidth(int column, int width) {
  ListView_SetColumnWidth(Handle(), column, width);
}
void TStringGrid::SetCell(int column, int row, const std::wstring& text) {
  if (column < 0 || column >= columns_ || row < 0 || row >= rows_) return;
  if (row == 0) {
    LVCOLUMNW c{};
    c.mask = LVCF_TEXT;
    c.pszText = const_cast<wchar_t*>(text.c_str());
    SendMessageW(Handle(), LVM_SETCOLUMNW, static_cast<WPARAM>(column),
                 reinterpret_cast<LPARAM>(&c));
    return;
  }
  list_set(Handle(), row - 1, column, text);
}
std::wstring TStringGrid::Cell(int column, int row) const {
  if (column < 0 || column >= columns_ || row < 0 || row >= rows_) return {};
  if (row == 0) {
    wchar_t buf[128] = {};
    LVCOLUMNW c{};
    c.mask = LVCF_TEXT;
    c.pszText = buf;
    c.cchTextMax = 128;
    SendMessageW(Handle(), LVM_GETCOLUMNW, static_cast<WPARAM>(column),
                 reinterpret_cast<LPARAM>(&c));
    return buf;
  }
  return list_get(Handle(), row - 1, column);
}

TPageControl::TPageControl(TForm& form, std::wstring name, int l, int t, int w, int h, DWORD style)
    : TControl(form, std::move(name)) {
  CreateHandle(WC_TABCONTROLW, L"", WS_CLIPSIBLINGS | WS_TABSTOP | style, 0, l, t, w, h);
}
int TPageControl::AddPage(const std::wstring& caption) {
  TCITEMW it{};
  it.mask = TCIF_TEXT;
  it.pszText = const_cast<wchar_t*>(caption.c_str());
  const int index = PageCount();
  SendMessageW(Handle(), TCM_INSERTITEMW, static_cast<WPARAM>(index),
               reinterpret_cast<LPARAM>(&it));
  pages_.emplace_back();
  return index;
}
void TPageControl::AddToPage(int page, TControl& control) {
  pages_.at(static_cast<std::size_t>(page)).push_back(&control);
  // The pages' controls above the tab control, keeping their own order.
  SetWindowPos(Handle(), HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  control.SetVisible(page == ActivePage());
}
int TPageControl::ActivePage() const {
  return TabCtrl_GetCurSel(Handle());
}
void TPageControl::SetActivePage(int page) {
  TabCtrl_SetCurSel(Handle(), page);
  ShowPage(page);
}
void TPageControl::ShowPage(int page) {
  for (std::size_t p = 0; p < pages_.size(); ++p) {
    for (TControl* c : pages_[p]) c->SetVisible(static_cast<int>(p) == page);
  }
}
LRESULT TPageControl::Notify(NMHDR* n) {
  if (n->code == static_cast<UINT>(TCN_SELCHANGING)) {
    bool allow = true;
    if (OnChanging) OnChanging(allow);
    return allow ? FALSE : TRUE;
  }
  if (n->code == static_cast<UINT>(TCN_SELCHANGE)) ShowPage(ActivePage());
  return 0;
}

namespace {
std::wstring filter_buffer(const std::wstring& filter) {
  std::wstring f = filter;
  std::replace(f.begin(), f.end(), L'|', L'\0');
  f.push_back(L'\0');
  f.push_back(L'\0');
  return f;
}
}  // namespace

bool TSaveDialog::Execute() {
  const std::wstring f = filter_buffer(Filter);
  std::wstring buf(32768, L'\0');
  std::copy_n(FileName.begin(), std::min<std::size_t>(FileName.size(), buf.size() - 1),
              buf.begin());
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = owner_.Handle();
  ofn.lpstrFilter = f.c_str();
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = buf.data();
  ofn.nMaxFile = static_cast<DWORD>(buf.size());
  // The program finds its data and its score file in its working folder:
  // the folder the player browses to must not become it.
  ofn.Flags = Options | OFN_EXPLORER | OFN_NOCHANGEDIR;
  if (!GetSaveFileNameW(&ofn)) return false;
  FileName = buf.c_str();
  return true;
}

namespace {
std::map<UINT_PTR, TTimer*>& timers() {
  static std::map<UINT_PTR, TTimer*> map;
  return map;
}
}  // namespace

TTimer::TTimer(UINT interval_ms) : interval_(interval_ms) {}
TTimer::~TTimer() {
  SetEnabled(false);
}
void TTimer::SetEnabled(bool on) {
  if (on == enabled_) return;
  enabled_ = on;
  if (on) {
    id_ = SetTimer(nullptr, 0, interval_, &TTimer::Tick);
    timers()[id_] = this;
  } else {
    KillTimer(nullptr, id_);
    timers().erase(id_);
    id_ = 0;
  }
}
void CALLBACK TTimer::Tick(HWND, UINT, UINT_PTR id, DWORD) {
  const auto it = timers().find(id);
  if (it != timers().end() && it->second->OnTimer) {
    TTimer* t = it->second;
    Application().Guard([t] { t->OnTimer(); });
  }
}

// ---- forms ----

TForm::TForm(const std::wstring& caption, int client_width, int client_height, FormBorder border,
             COLORREF background)
    : background_(CreateSolidBrush(background)) {
  register_form_class();
  const DWORD style = border == FormBorder::kDialog
                          ? WS_CAPTION | WS_SYSMENU | WS_BORDER | WS_CLIPCHILDREN
                          : WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
  const DWORD ex_style = border == FormBorder::kDialog ? WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT
                                                       : WS_EX_CONTROLPARENT;
  RECT r{0, 0, client_width, client_height};
  AdjustWindowRectEx(&r, style, FALSE, ex_style);
  hwnd_ = CreateWindowExW(ex_style, kFormClass, caption.c_str(), style, CW_USEDEFAULT,
                          CW_USEDEFAULT, r.right - r.left, r.bottom - r.top, nullptr, nullptr,
                          GetModuleHandleW(nullptr), nullptr);
  SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TForm::WndProc));
  SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(form_font()), FALSE);
  CenterOnDesktop();
}

TForm::~TForm() {
  if (hwnd_) {
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
  }
  DeleteObject(background_);
}

std::wstring TForm::Caption() const {
  wchar_t buf[256] = {};
  GetWindowTextW(hwnd_, buf, 256);
  return buf;
}

void TForm::RemoveControl(TControl* c) {
  controls_.erase(std::remove(controls_.begin(), controls_.end(), c), controls_.end());
}

TControl* TForm::Find(HWND h) const {
  for (TControl* c : controls_) {
    if (c->Handle() == h) return c;
  }
  return nullptr;
}

TControl* TForm::FindId(int id) const {
  for (TControl* c : controls_) {
    if (c->Id() == id) return c;
  }
  return nullptr;
}

void TForm::CenterOnDesktop() {
  RECT r{}, work{};
  GetWindowRect(hwnd_, &r);
  GetWindowRect(GetDesktopWindow(), &work);
  const int w = r.right - r.left, h = r.bottom - r.top;
  SetWindowPos(hwnd_, nullptr, work.left + (work.right - work.left - w) / 2,
               work.top + (work.bottom - work.top - h) / 2, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TForm::AddHints() {
  if (tooltip_ != nullptr || !Application().ShowHint) return;
  tooltip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                             CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_,
                             nullptr, GetModuleHandleW(nullptr), nullptr);
  SendMessageW(tooltip_, WM_SETFONT, reinterpret_cast<WPARAM>(form_font()), FALSE);
  for (TControl* c : controls_) {
    if (c->Hint.empty()) continue;
    TOOLINFOW ti{};
    ti.cbSize = sizeof ti;
    ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    ti.hwnd = hwnd_;
    ti.uId = reinterpret_cast<UINT_PTR>(c->Handle());
    ti.lpszText = const_cast<wchar_t*>(c->Hint.c_str());
    SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
  }
}

void TForm::Show() {
  AddHints();
  ShowWindow(hwnd_, SW_SHOW);
  UpdateWindow(hwnd_);
  // A form opens with a control focused: the first in tab order, unless one
  // already has the focus.
  if (!IsChild(hwnd_, GetFocus())) {
    if (HWND first = GetNextDlgTabItem(hwnd_, nullptr, FALSE)) ::SetFocus(first);
  }
  if (OnShow) Application().Guard(OnShow);
}

bool TForm::CloseQuery() {
  bool can_close = true;
  if (OnCloseQuery) Application().Guard([&] { OnCloseQuery(can_close); });
  return can_close;
}

void TForm::Close() {
  if (modal_) {
    modal_result_ = mrCancel;
    return;
  }
  if (!CloseQuery()) return;
  if (OnClose) Application().Guard(OnClose);
  ShowWindow(hwnd_, SW_HIDE);
  if (Application().MainForm() == this) Application().Terminate();
}

int TForm::ShowModal() {
  modal_result_ = mrNone;
  modal_ = true;
  const std::vector<HWND> disabled = disable_thread_windows(hwnd_);
  Show();
  SetActiveWindow(hwnd_);
  MSG msg;
  bool quit = false;
  for (;;) {
    if (modal_result_ != mrNone) {
      if (CloseQuery()) break;
      modal_result_ = mrNone;
      continue;
    }
    const BOOL r = GetMessageW(&msg, nullptr, 0, 0);
    if (r == 0 || r == -1) {
      quit = true;
      break;
    }
    dispatch(msg);
  }
  const int result = quit ? mrCancel : modal_result_;
  if (!quit && OnClose) Application().Guard(OnClose);
  for (HWND h : disabled) EnableWindow(h, TRUE);
  ShowWindow(hwnd_, SW_HIDE);
  modal_ = false;
  if (quit) PostQuitMessage(static_cast<int>(msg.wParam));
  return result;
}

LRESULT CALLBACK TForm::WndProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  auto* form = reinterpret_cast<TForm*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!form) return DefWindowProcW(hwnd, msg, wparam, lparam);
  return form->Dispatch(msg, wparam, lparam);
}

LRESULT TForm::Dispatch(UINT msg, WPARAM wparam, LPARAM lparam) {
  switch (msg) {
    case WM_COMMAND: {
      // A form out of reach (hidden, or disabled behind a modal one) acts on
      // nothing, even on a click posted to one of its controls.
      if (!IsWindowVisible(hwnd_) || !IsWindowEnabled(hwnd_)) return 0;
      const int id = LOWORD(wparam);
      if (lparam == 0 && (id == IDOK || id == IDCANCEL)) {
        TButton* b = id == IDOK ? DefaultButton : CancelButton;
        if (b) Application().Guard([b] { b->Click(); });
        return 0;
      }
      if (TControl* c = FindId(id)) {
        const WORD code = HIWORD(wparam);
        Application().Guard([c, code] { c->Command(code); });
      }
      return 0;
    }
    case WM_NOTIFY: {
      auto* n = reinterpret_cast<NMHDR*>(lparam);
      LRESULT result = 0;
      if (TControl* c = Find(n->hwndFrom)) Application().Guard([&] { result = c->Notify(n); });
      return result;
    }
    case WM_MEASUREITEM: {
      auto* m = reinterpret_cast<MEASUREITEMSTRUCT*>(lparam);
      if (TControl* c = FindId(static_cast<int>(m->CtlID))) c->MeasureItem(*m);
      return TRUE;
    }
    case WM_DRAWITEM: {
      const auto* d = reinterpret_cast<const DRAWITEMSTRUCT*>(lparam);
      if (TControl* c = Find(d->hwndItem)) c->DrawItem(*d);
      return TRUE;
    }
    case DM_GETDEFID: {
      // Enter presses the focused button, else the default one.
      const TButton* b = dynamic_cast<TButton*>(Find(GetFocus()));
      if (b == nullptr) b = DefaultButton;
      return b ? MAKELRESULT(b->Id(), DC_HASDEFID) : 0;
    }
    case WM_CTLCOLORSTATIC: {
      TControl* c = Find(reinterpret_cast<HWND>(lparam));
      HDC dc = reinterpret_cast<HDC>(wparam);
      if (dynamic_cast<TLabel*>(c) != nullptr) {
        SetTextColor(dc, c->Color != CLR_INVALID ? c->Color : TextColor);
        SetBkMode(dc, TRANSPARENT);
        return reinterpret_cast<LRESULT>(background_);
      }
      if (c == nullptr || c->Color == CLR_INVALID) break;
      // A read-only edit with a colour of its own.
      SetTextColor(dc, c->Color);
      SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_SETCURSOR: {
      auto* label = dynamic_cast<TLabel*>(Find(reinterpret_cast<HWND>(wparam)));
      if (label && label->OnClick) {
        SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_HAND)));
        return TRUE;
      }
      break;
    }
    case WM_ERASEBKGND: {
      RECT r;
      GetClientRect(hwnd_, &r);
      FillRect(reinterpret_cast<HDC>(wparam), &r, background_);
      return 1;
    }
    case WM_CLOSE:
      Close();
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hwnd_, msg, wparam, lparam);
}

void ShowMessage(const std::wstring& text) {
  MessageBoxW(GetActiveWindow(), text.c_str(), Application().Title.c_str(), MB_OK);
}

int MessageDlgConfirm(const std::wstring& text, UINT buttons) {
  return MessageBoxW(GetActiveWindow(), text.c_str(), L"確認", buttons | MB_ICONQUESTION);
}

}  // namespace zt::win
