#include "forms/send_score.h"

#include <vector>

#include "forms/score_edit.h"
#include "ranking.h"
#include "text_codec.h"

namespace zt::win {

namespace {

// The page area inside the page control of flat buttons.
constexpr int kPx = 24, kPy = 48;

// Lives as long as the process: a request thread may outlast the form.
WindowSynchronizer& main_thread_sync() {
  static WindowSynchronizer sync;
  return sync;
}

const wchar_t kWelcome[] =
    L"Zentropolium インターネットランキングへようこそ。\r\n\r\n"
    L"このウィザードでは、あなたのスコアを作者のサーバへ送信して、"
    L"インターネットランキングに参加することができます。\r\n\r\n"
    L"このサービスは予告なく停止・変更することがあります。\r\n"
    L"サーバがメンテナンス中のこともあります。"
    L"送信できなかった場合は30分ほどしてから再度送信してみてください。\r\n\r\n"
    L"現在のランキングは作者のホームページでご覧いただけます。\r\n\r\n"
    L"準備ができたら「次へ>>」を押してください。";

}  // namespace

TfrmSendScore::TfrmSendScore()
    : TForm(L"インターネットランキング", 445, 335, FormBorder::kSizeable,
            GetSysColor(COLOR_BTNFACE)),
      PageControl(*this, L"PageControl", 15, 15, 415, 270, TCS_BUTTONS | TCS_FLATBUTTONS),
      memWelcome(*this, L"memWelcome", kPx, kPy, 397, 228),
      lblSelect(*this, L"lblSelect", L"送信したいスコアをチェックしてください", kPx, kPy, 397, 12),
      lvwScores(*this, L"lvwScores", kPx, kPy + 18, 397, 210),
      lblEnterName(*this, L"lblEnterName",
                   L"ランキングに登録する名前と、コメントを入力してください。", kPx, kPy, 397, 12),
      lblName(*this, L"lblName", L"名前(&N)", kPx, kPy + 28, 70, 12),
      edtName(*this, L"edtName", kPx + 70, kPy + 24, 137, 20),
      lblComment(*this, L"lblComment", L"コメント(&M)", kPx, kPy + 58, 70, 12),
      edtComment(*this, L"edtComment", kPx + 70, kPy + 54, 329, 20),
      memNote(*this, L"memNote", kPx, kPy + 90, 397, 50, false),
      memSendNote(*this, L"memSendNote", kPx, kPy, 397, 34, false),
      btnSend(*this, L"btnSend", L"送信!(&S)", kPx, kPy + 40, 75, 25),
      memLog(*this, L"memLog", kPx, kPy + 72, 397, 156),
      // From right to left: proceed, back, and apart from them cancel.
      btnCancel(*this, L"btnCancel", L"キャンセル(&C)", 198, 302, 83, 25),
      btnPrevious(*this, L"btnPrevious", L"<< 戻る", 287, 302, 75, 25),
      btnProceed(*this, L"btnProceed", L">> 進む", 362, 302, 75, 25) {
  const int welcome = PageControl.AddPage(L"1.はじめに");
  const int select = PageControl.AddPage(L"2.スコアの選択");
  const int name = PageControl.AddPage(L"3.名前の入力");
  const int send = PageControl.AddPage(L"4.確認・送信");
  memWelcome.SetText(kWelcome);
  PageControl.AddToPage(welcome, memWelcome);
  for (TControl* c : std::initializer_list<TControl*>{&lblSelect, &lvwScores}) {
    PageControl.AddToPage(select, *c);
  }
  for (TControl* c : std::initializer_list<TControl*>{&lblEnterName, &lblName, &edtName,
                                                      &lblComment, &edtComment, &memNote}) {
    PageControl.AddToPage(name, *c);
  }
  for (TControl* c : std::initializer_list<TControl*>{&memSendNote, &btnSend, &memLog}) {
    PageControl.AddToPage(send, *c);
  }
  lvwScores.AddColumn(L"得点", 170);
  lvwScores.AddColumn(L"スコアネーム", 80);
  lvwScores.AddColumn(L"日時", 120);
  memNote.Color = RGB(255, 0, 0);
  memNote.SetText(
      L"コメントと名前は、送信される全点数共通に送信されます。\r\n"
      L"特定のスコアごとにコメントと名前を変えたい場合には、\r\n"
      L"別々に送信するようにしてください。");
  memSendNote.SetText(
      L"「送信」をクリックするとスコアを送信します。\r\n"
      L"インターネットへ接続していることを確認してください。");
  DefaultButton = &btnProceed;
  CancelButton = &btnCancel;
  NetworkIniPath = network_ini_path();
  main_thread_sync();

  btnProceed.OnClick = [this] { btnProceedClick(); };
  btnPrevious.OnClick = [this] { btnPreviousClick(); };
  btnCancel.OnClick = [this] { btnCancelClick(); };
  btnSend.OnClick = [this] { btnSendClick(); };
  PageControl.OnChanging = [this](bool& allow) { PageControlChanging(allow); };
  OnShow = [this] { FormShow(); };
  OnCloseQuery = [this](bool& can_close) { FormCloseQuery(can_close); };
  OnClose = [this] { FormClose(); };
  GoToPage(0);
}

TfrmSendScore::~TfrmSendScore() = default;

void TfrmSendScore::Open() {
  auto table = std::make_unique<THiScore>("ZTScore.dat");
  const auto bytes = read_score_file(L"ZTScore.dat");
  if (!bytes) throw Exception(L"File does not exist");
  if (table->load(bytes) != HiScoreLoad::Loaded) throw Exception(L"Invalid hiscore file");
  score_table_ = std::move(table);
  lvwScores.Clear();
  for (std::int32_t i = 1; i <= static_cast<std::int32_t>(kScoreEntries); ++i) {
    const ScoreEntryRaw e = score_table_->get_entry2(i);
    lvwScores.AddRow(
        {std::to_wstring(e.score), from_code_page(e.f0(), kShiftJis), date_time_text(e.date)});
  }
  GoToPage(0);
  sent_flag_ = false;
  ShowModal();
}

void TfrmSendScore::GoToPage(int page) {
  // SetActivePage changes the page without the refusing changing event.
  PageControl.SetActivePage(page);
  UpdateButtons();
}

void TfrmSendScore::UpdateButtons() {
  const int page = PageControl.ActivePage();
  btnProceed.SetText(page == PageControl.PageCount() - 1 ? L"完了" : L">> 進む");
  btnPrevious.SetEnabled(page > 0);
}

void TfrmSendScore::btnProceedClick() {
  const int page = PageControl.ActivePage();
  if (page < PageControl.PageCount() - 1) {
    GoToPage(page + 1);
  } else {
    SetModalResult(mrOk);
  }
}

void TfrmSendScore::btnPreviousClick() {
  const int page = PageControl.ActivePage();
  if (page > 0) GoToPage(page - 1);
}

void TfrmSendScore::btnCancelClick() {
  SetModalResult(mrCancel);
}

void TfrmSendScore::PageControlChanging(bool& allow) {
  allow = false;
}

void TfrmSendScore::FormShow() {
  btnProceed.SetFocus();
}

void TfrmSendScore::btnSendClick() {
  const NetworkSettings net = read_network_ini(NetworkIniPath);
  const std::wstring name = edtName.Text();
  if (name.empty()) {
    ShowMessage(L"名前が記入されていません。");
    GoToPage(2);
    edtName.SetFocus();
    return;
  }
  std::vector<bool> ticked_rows;
  int count = 0;
  for (int row = 0; row < lvwScores.Count() && row < static_cast<int>(kScoreEntries); ++row) {
    ticked_rows.push_back(lvwScores.Checked(row));
    if (ticked_rows.back()) ++count;
  }
  if (count == 0 || score_table_ == nullptr) {
    ShowMessage(L"送信するスコアが1つも選択されていません。");
    GoToPage(1);
    lvwScores.SetFocus();
    return;
  }
  if (request_thread_ != nullptr) return;
  bool ticked[kScoreEntries] = {};
  for (std::size_t i = 0; i < ticked_rows.size(); ++i) ticked[i] = ticked_rows[i];
  std::string body =
      ranking_body(to_code_page(name, kShiftJis), to_code_page(edtComment.Text(), kShiftJis),
                   *score_table_, std::span<const bool>(ticked, ticked_rows.size()));
  auto thread = std::make_unique<THTTPDownloadThread>(to_code_page(net.ranking_server, CP_ACP),
                                                      to_code_page(net.ranking_script, CP_ACP),
                                                      std::move(body), main_thread_sync());
  thread->Port = ServerPort;
  thread->DeadlineMs = RequestDeadlineMs;
  thread->OnComplete = [this](THTTPDownloadThread& s) { RequestDone(s); };
  thread->OnError = [this](THTTPDownloadThread& s) { RequestFailed(s); };
  request_thread_ = thread.get();
  THTTPDownloadThread::Resume(std::move(thread));
  memLog.Clear();
  memLog.Add(L"通信開始...");
}

void TfrmSendScore::RequestDone(THTTPDownloadThread& sender) {
  const ReplyReport report = report_reply(sender.Response);
  request_thread_ = nullptr;
  sent_flag_ = true;
  MessageBoxW(Handle(), report.message.c_str(), Application().Title.c_str(),
              MB_OK | (report.error ? MB_ICONERROR : MB_ICONINFORMATION));
  memLog.AddLines(report.log);
}

void TfrmSendScore::RequestFailed(THTTPDownloadThread& sender) {
  memLog.Add(failure_log_line(sender.ErrorMessage));
  request_thread_ = nullptr;
  sent_flag_ = true;
}

void TfrmSendScore::FormCloseQuery(bool& can_close) {
  if (!sent_flag_) {
    can_close =
        MessageDlgConfirm(L"送信は完了していません。ウィンドウを閉じますか?", MB_OKCANCEL) == IDOK;
  }
  if (request_thread_ != nullptr) {
    ShowMessage(L"現在サーバと通信中です。");
    can_close = false;
  }
}

void TfrmSendScore::FormClose() {
  score_table_.reset();
}

}  // namespace zt::win
