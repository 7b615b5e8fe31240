#include "forms/score_edit.h"

#include <shlwapi.h>

#include "date_time.h"
#include "formats/hiscore.h"
#include "read_file.h"
#include "score_export.h"
#include "text_codec.h"

namespace zt::win {

namespace {

constexpr int kPageLeft = 4, kPageTop = 4;

std::wstring io_error(DWORD code) {
  return L"I/O error " + std::to_wstring(code);
}

// The path with directories elided by "..." until it fits the list's width.
std::wstring shortened(const std::wstring& path, HWND list) {
  RECT r{};
  GetClientRect(list, &r);
  std::wstring buf = path;
  buf.resize(std::max<std::size_t>(buf.size(), MAX_PATH) + 1, L'\0');
  HDC dc = GetDC(list);
  HGDIOBJ old = SelectObject(dc, form_font());
  PathCompactPathW(dc, buf.data(), static_cast<UINT>(std::max<LONG>(r.right - 4, 1)));
  SelectObject(dc, old);
  ReleaseDC(list, dc);
  return buf.c_str();
}

}  // namespace

std::wstring date_time_text(double days) {
  const std::optional<DateTimeFields> fields = decode_date_time(days);
  // A date no calendar holds reads as the game draws it.
  if (!fields) return from_code_page(format_date_time(days), CP_ACP);
  const DateTimeFields& f = *fields;
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(f.year);
  st.wMonth = static_cast<WORD>(f.month);
  st.wDay = static_cast<WORD>(f.day);
  st.wHour = static_cast<WORD>(f.hour);
  st.wMinute = static_cast<WORD>(f.minute);
  st.wSecond = static_cast<WORD>(f.second);
  wchar_t date[128] = {}, time[128] = {};
  if (GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, date, 128) == 0 ||
      GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &st, nullptr, time, 128) == 0) {
    // Years before 1601 have no system format.
    return from_code_page(format_date_time(days), CP_ACP);
  }
  return std::wstring(date) + L" " + time;
}

std::optional<std::vector<std::uint8_t>> read_score_file(const std::wstring& path) {
  ReadResult r = read_whole_file(path, kScoreFileCap);
  const ReadFailure* failure = std::get_if<ReadFailure>(&r);
  if (failure == nullptr) return std::move(std::get<std::vector<std::uint8_t>>(r));
  switch (failure->kind) {
    case ReadFailure::kMissing:
      return std::nullopt;
    case ReadFailure::kTooLarge:
      // Far too long for a score file: its length alone makes it invalid.
      return std::vector<std::uint8_t>(kScoreFileSize + 1);
    case ReadFailure::kUnreadable:
      break;
  }
  if (failure->code == ERROR_INVALID_NAME) return std::nullopt;
  throw Exception(io_error(failure->code));
}

TfrmScoreEdit::TfrmScoreEdit()
    : TForm(L"Zentropolium - スコアファイル結合", 506, 327, FormBorder::kDialog,
            GetSysColor(COLOR_BTNFACE)),
      PageControl1(*this, L"PageControl1", 4, 4, 498, 286),
      lblDescription(
          *this, L"lblDescription",
          L"左のボックスの中に、結合したいスコアファイルをすべてドラッグ＆ドロップしてください。",
          kPageLeft + 12, kPageTop + 30, 470, 12),
      Label1(*this, L"Label1", L"すべて結合したものが右の表に表示されます。", kPageLeft + 12,
             kPageTop + 46, 470, 12),
      lstFileList(*this, L"lstFileList", kPageLeft + 8, kPageTop + 43 + 24, 185, 169),
      sgrScore(*this, L"sgrScore", kPageLeft + 200, kPageTop + 45 + 24, 273, 169, 3, 11, 14),
      btnClear(*this, L"btnClear", L"クリア(&E)", kPageLeft + 144, kPageTop + 221 + 24, 57, 25),
      btnSave(*this, L"btnSave", L"結合済みスコアを保存(&S)", kPageLeft + 326, kPageTop + 221 + 24,
              147, 25),
      btnClose(*this, L"btnClose", L"閉じる(&C)", 424, 296, 75, 25),
      SaveDialog1(*this) {
  const int page = PageControl1.AddPage(L"スコアファイル結合");
  for (TControl* c : std::initializer_list<TControl*>{&lblDescription, &Label1, &lstFileList,
                                                      &sgrScore, &btnClear, &btnSave}) {
    PageControl1.AddToPage(page, *c);
  }
  PageControl1.SetActivePage(page);
  btnClose.Hint = L"このダイアログを閉じます";
  lstFileList.Hint = L"このボックスの中にファイルを、エクスプローラからドラッグしてください";
  sgrScore.Hint = L"結合したファイルはこちらに表示されます";
  btnClear.Hint = L"結合した得点を画面からクリアします";
  btnSave.SetEnabled(false);
  DefaultButton = &btnClose;
  CancelButton = &btnClose;
  SaveDialog1.Filter =
      L"Zentropolium Score File (*.dat)|*.dat|HTML File (*.html; *.htm)|*.html;*.htm|Text File "
      L"(*.txt)|*.txt";
  sgrScore.SetColWidth(0, 75);
  sgrScore.SetColWidth(1, 83);
  sgrScore.SetColWidth(2, 110);
  DropFileTarget1.Dragtypes = static_cast<TDragTypes>(TDragType::dtMove);
  DropFileTarget1.GetDataOnEnter = false;
  DropFileTarget1.SetShowImage(true);
  DropFileTarget1.OnDrop = [this](TDropTarget& s, TShiftState sh, POINT p, DWORD& e) {
    DropFileTarget1Drop(s, sh, p, e);
  };
  btnClose.OnClick = [this] { btnCloseClick(); };
  btnSave.OnClick = [this] { btnSaveClick(); };
  btnClear.OnClick = [this] { btnClearClick(); };
  FormCreate();
}

TfrmScoreEdit::~TfrmScoreEdit() {
  files_.clear();
  try {
    DropFileTarget1.Unregister();
  } catch (const Exception&) {
    // The window goes with the form: nothing left to revoke.
  }
}

void TfrmScoreEdit::FormCreate() {
  sgrScore.SetCell(0, 0, L"名前");
  sgrScore.SetCell(1, 0, L"スコア");
  sgrScore.SetCell(2, 0, L"日時");
  Merge();
  DropFileTarget1.Register(&lstFileList);
  Application().ShowHint = true;
}

void TfrmScoreEdit::DropFileTarget1Drop(TDropTarget&, TShiftState, POINT, DWORD& effect) {
  // The files are only read: the source is told nothing moved, so that none
  // deletes its originals after a move.
  effect = DROPEFFECT_NONE;
  // The wide names as dropped: the ANSI copies lose what the code page lacks.
  const std::vector<std::wstring> paths = DropFileTarget1.WideFileList;
  for (const std::wstring& path : paths) AddFile(path);
  Merge();
}

void TfrmScoreEdit::AddFile(const std::wstring& path) {
  auto table = std::make_unique<THiScore>(to_code_page(path, CP_ACP));
  HiScoreLoad result = HiScoreLoad::Missing;
  try {
    result = table->load(read_score_file(path));
  } catch (const std::exception& e) {
    // A file that exists but cannot be read: reported, and the drop goes on.
    Application().HandleException(e);
    return;
  }
  if (result != HiScoreLoad::Loaded) {
    MessageBeep(0);
    ShowMessage(L"このファイルは無効です:" + path);
    return;
  }
  lstFileList.Add(shortened(path, lstFileList.Handle()));
  files_.emplace_back(path, std::move(table));
}

void TfrmScoreEdit::Merge() {
  merged_.set_defaults();
  for (const auto& file : files_) {
    for (std::int32_t i = 1; i <= static_cast<std::int32_t>(kScoreEntries); ++i) {
      const ScoreEntryRaw e = file.second->get_entry2(i);
      merged_.insert(e.f0(), e.score, e.date);
    }
  }
  for (std::int32_t i = 1; i <= static_cast<std::int32_t>(kScoreEntries); ++i) {
    const ScoreEntryRaw e = merged_.get_entry2(i);
    sgrScore.SetCell(0, i, from_code_page(e.f0(), kShiftJis));
    sgrScore.SetCell(1, i, std::to_wstring(e.score));
    sgrScore.SetCell(2, i, date_time_text(e.date));
  }
  if (files_.empty()) {
    modified_ = false;
    btnSave.SetEnabled(false);
  } else {
    modified_ = true;
    btnSave.SetEnabled(true);
    btnSave.SetFocus();
  }
}

void TfrmScoreEdit::btnClearClick() {
  while (!files_.empty()) files_.pop_back();
  lstFileList.Clear();
  modified_ = false;
  Merge();
}

void TfrmScoreEdit::SaveScoreFile(const std::wstring& path) {
  std::optional<ScoreFileImage> image = merged_.save();
  // Unchanged since the last save: only a new name needs the bytes again.
  if (!image && path != last_written_) {
    TRnd rnd;
    rnd.set_seed(kScoreKeySeed);
    rnd.reset();
    image = encode_score_file(merged_.entries(), rnd);
  }
  if (!image) return;
  if (const auto e = replace_file(
          path, std::string_view(reinterpret_cast<const char*>(image->data()), image->size()))) {
    last_written_.clear();
    throw Exception(io_error(e->code));
  }
  last_written_ = path;
}

void TfrmScoreEdit::btnSaveClick() {
  if (!SaveDialog1.Execute()) return;
  const std::wstring path = SaveDialog1.FileName;
  std::optional<WriteError> error;
  switch (save_format_for(path)) {
    case SaveFormat::kHtml:
      error = ExportHtml(merged_, path);
      break;
    case SaveFormat::kText:
      error = ExportText(merged_, path);
      break;
    case SaveFormat::kScoreFile:
      SaveScoreFile(path);
      break;
  }
  if (error) throw Exception(io_error(error->code));
  modified_ = false;
}

void TfrmScoreEdit::btnCloseClick() {
  if (modified_) {
    PageControl1.SetActivePage(0);
    const int answer = MessageDlgConfirm(L"結合済みスコアファイルを保存しますか？", MB_YESNOCANCEL);
    if (answer == IDCANCEL) return;
    if (answer == IDYES) btnSaveClick();
  }
  SetModalResult(mrOk);
}

}  // namespace zt::win
