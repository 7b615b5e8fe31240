// The form layer of the launcher, the score editor and the ranking sender:
// an application object with its message loop and exception box, forms with
// modal showing and close queries, and thin control classes over the Win32
// and common-control windows. Only what those three forms use.
#pragma once

#include <windows.h>
// After windows.h, which they need.
#include <commctrl.h>
#include <commdlg.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "exe_dir.h"

namespace zt::win {

// An error a handler raises for the application's exception box.
class Exception : public std::runtime_error {
 public:
  explicit Exception(std::wstring message);
  const std::wstring& Message() const { return message_; }

 private:
  std::wstring message_;
};

enum ModalResult : int { mrNone = 0, mrOk = IDOK, mrCancel = IDCANCEL };

class TForm;

class TApplication {
 public:
  static TApplication& Instance();

  void Initialize();
  std::wstring Title = L"";
  bool ShowHint = false;
  int ExitCode = 0;  // the program's, once Run has ended

  // The first form given here becomes the main form.
  void AddForm(TForm& form);
  TForm* MainForm() const { return main_form_; }
  // Runs until the main form closes or Terminate.
  void Run();
  void Terminate();
  bool Terminated() const { return terminated_; }
  // The standard exception box: the message with an OK button.
  void HandleException(const std::exception& e);
  void HandleUnknownException();
  // Runs a handler; what it throws goes to the exception box.
  void Guard(const std::function<void()>& handler);

 private:
  TForm* main_form_ = nullptr;
  bool terminated_ = false;
};

inline TApplication& Application() {
  return TApplication::Instance();
}

// The font of every form: "ＭＳ Ｐゴシック", 12 pixels, Shift-JIS.
HFONT form_font();
HFONT make_form_font(bool underline);
const wchar_t* form_font_face();

class TControl {
 public:
  TControl(TForm& form, std::wstring name);
  virtual ~TControl();
  TControl(const TControl&) = delete;
  TControl& operator=(const TControl&) = delete;

  HWND Handle() const { return hwnd_; }
  const std::wstring& Name() const { return name_; }
  int Id() const { return id_; }
  TForm& Form() const { return form_; }
  void SetBounds(int left, int top, int width, int height);
  void SetEnabled(bool on);
  bool Enabled() const;
  void SetVisible(bool on);
  void SetFocus();
  void SetText(const std::wstring& text);
  std::wstring Text() const;
  std::wstring Hint;
  COLORREF Color = CLR_INVALID;  // text colour; CLR_INVALID: the form's or the system's

  // WM_COMMAND, WM_NOTIFY and the owner-draw messages of the control,
  // routed by the form.
  virtual void Command(WORD) {}
  virtual LRESULT Notify(NMHDR*) { return 0; }
  virtual void MeasureItem(MEASUREITEMSTRUCT&) {}
  virtual void DrawItem(const DRAWITEMSTRUCT&) {}

 protected:
  void CreateHandle(const wchar_t* cls, const std::wstring& text, DWORD style, DWORD ex_style,
                    int left, int top, int width, int height);

 private:
  TForm& form_;
  std::wstring name_;
  int id_;
  HWND hwnd_ = nullptr;
};

class TButton : public TControl {
 public:
  TButton(TForm& form, std::wstring name, const std::wstring& caption, int l, int t, int w, int h);
  std::function<void()> OnClick;
  void Click();
  void Command(WORD code) override;
};

class TLabel : public TControl {
 public:
  // style: SS_LEFT, SS_CENTER or SS_RIGHT. An underlined label draws itself,
  // with the underline on its last row.
  TLabel(TForm& form, std::wstring name, const std::wstring& caption, int l, int t, int w, int h,
         DWORD style = SS_LEFT, bool underline = false);
  std::function<void()> OnClick;
  void Command(WORD code) override;
  void DrawItem(const DRAWITEMSTRUCT& d) override;

 private:
  DWORD align_;
};

// A picture of its own size, drawn once into a bitmap.
class TImage : public TControl {
 public:
  TImage(TForm& form, std::wstring name, HBITMAP picture, int l, int t, int w, int h);
  ~TImage() override;

 private:
  HBITMAP picture_;
};

class TPanel : public TControl {
 public:
  TPanel(TForm& form, std::wstring name, int l, int t, int w, int h);
  int Left() const { return left_; }
  int Top() const { return top_; }

 private:
  int left_, top_;
};

class TEdit : public TControl {
 public:
  TEdit(TForm& form, std::wstring name, int l, int t, int w, int h);
};

class TMemo : public TControl {
 public:
  TMemo(TForm& form, std::wstring name, int l, int t, int w, int h, bool scroll = true);
  void Clear();
  void Add(const std::wstring& line);
  void AddLines(const std::vector<std::wstring>& lines);
  std::vector<std::wstring> Lines() const;

 private:
  bool has_lines_ = false;  // one empty line is a line too
};

class TListBox : public TControl {
 public:
  TListBox(TForm& form, std::wstring name, int l, int t, int w, int h);
  void Add(const std::wstring& text);
  void Clear();
  int Count() const;
  std::wstring Item(int i) const;
};

// A report list with a check box on each row.
class TCheckListView : public TControl {
 public:
  TCheckListView(TForm& form, std::wstring name, int l, int t, int w, int h);
  void AddColumn(const std::wstring& caption, int width);
  void Clear();
  void AddRow(const std::vector<std::wstring>& cells);
  int Count() const;
  std::wstring Cell(int row, int column) const;
  bool Checked(int row) const;
  void SetChecked(int row, bool on);
};

// A grid over a report list: row 0 is the header. The rows are drawn by
// the grid itself, so that their height is its own and not the font's.
class TStringGrid : public TControl {
 public:
  TStringGrid(TForm& form, std::wstring name, int l, int t, int w, int h, int columns, int rows,
              int row_height);
  void SetColWidth(int column, int width);
  void SetCell(int column, int row, const std::wstring& text);
  std::wstring Cell(int column, int row) const;
  int RowCount() const { return rows_; }
  void MeasureItem(MEASUREITEMSTRUCT& m) override;
  void DrawItem(const DRAWITEMSTRUCT& d) override;

 private:
  int columns_, rows_, row_height_;
};

// A tab control whose pages are sets of controls shown one set at a time.
class TPageControl : public TControl {
 public:
  TPageControl(TForm& form, std::wstring name, int l, int t, int w, int h, DWORD style = 0);
  int AddPage(const std::wstring& caption);
  void AddToPage(int page, TControl& control);
  int PageCount() const { return static_cast<int>(pages_.size()); }
  int ActivePage() const;
  // Changes the page without asking OnChanging.
  void SetActivePage(int page);
  // Asked before the user's tab click changes the page.
  std::function<void(bool& allow)> OnChanging;
  LRESULT Notify(NMHDR* n) override;

 private:
  void ShowPage(int page);
  std::vector<std::vector<TControl*>> pages_;
};

class TSaveDialog {
 public:
  explicit TSaveDialog(TForm& owner) : owner_(owner) {}
  std::wstring Filter;  // "text|pattern|text|pattern"
  std::wstring FileName;
  DWORD Options = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_ENABLESIZING;
  bool Execute();

 private:
  TForm& owner_;
};

class TTimer {
 public:
  explicit TTimer(UINT interval_ms);
  ~TTimer();
  TTimer(const TTimer&) = delete;
  TTimer& operator=(const TTimer&) = delete;
  std::function<void()> OnTimer;
  void SetEnabled(bool on);
  bool Enabled() const { return enabled_; }

 private:
  static void CALLBACK Tick(HWND, UINT, UINT_PTR id, DWORD);
  UINT interval_;
  UINT_PTR id_ = 0;
  bool enabled_ = false;
};

enum class FormBorder { kDialog, kSizeable };

class TForm {
 public:
  // client_width and client_height give the client area.
  TForm(const std::wstring& caption, int client_width, int client_height, FormBorder border,
        COLORREF background);
  virtual ~TForm();
  TForm(const TForm&) = delete;
  TForm& operator=(const TForm&) = delete;

  HWND Handle() const { return hwnd_; }
  std::wstring Caption() const;

  std::function<void()> OnShow;
  std::function<void(bool& can_close)> OnCloseQuery;
  std::function<void()> OnClose;

  // Shows the form and runs messages until ModalResult is set and the close
  // query agrees; the other windows of the thread are disabled meanwhile.
  int ShowModal();
  bool Modal() const { return modal_; }
  void SetModalResult(int result) { modal_result_ = result; }
  int GetModalResult() const { return modal_result_; }
  void Show();
  // Asks the close query; a main form that closes ends the application.
  void Close();
  void CenterOnDesktop();

  TButton* DefaultButton = nullptr;  // pressed by Enter
  TButton* CancelButton = nullptr;   // pressed by Esc
  COLORREF TextColor = GetSysColor(COLOR_WINDOWTEXT);

  int NextControlId() { return next_id_++; }
  void AddControl(TControl* c) { controls_.push_back(c); }
  void RemoveControl(TControl* c);

 protected:
  virtual LRESULT Dispatch(UINT msg, WPARAM wparam, LPARAM lparam);

 private:
  static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
  bool CloseQuery();
  TControl* Find(HWND h) const;
  TControl* FindId(int id) const;

  void AddHints();

  HWND hwnd_ = nullptr;
  HWND tooltip_ = nullptr;
  HBRUSH background_;
  bool modal_ = false;
  int modal_result_ = mrNone;
  int next_id_ = 100;
  std::vector<TControl*> controls_;
};

// The message boxes of the forms, owned by the active window.
void ShowMessage(const std::wstring& text);
// MB_YESNOCANCEL or MB_OKCANCEL with the question icon; the button pressed.
int MessageDlgConfirm(const std::wstring& text, UINT buttons);

}  // namespace zt::win
