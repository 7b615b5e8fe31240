// The ranking sender: a four-page wizard that posts chosen entries of the
// local score table, with a name and a comment, to the ranking script.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "forms/forms.h"
#include "game/uhiscore.h"
#include "http/download_thread.h"

namespace zt::win {

class TfrmSendScore : public TForm {
 public:
  TfrmSendScore();
  ~TfrmSendScore() override;

  TPageControl PageControl;
  TMemo memWelcome;
  TLabel lblSelect;
  TCheckListView lvwScores;
  TLabel lblEnterName;
  TLabel lblName;
  TEdit edtName;
  TLabel lblComment;
  TEdit edtComment;
  TMemo memNote;
  TMemo memSendNote;
  TButton btnSend;
  TMemo memLog;
  // Made from left to right, the order Tab follows.
  TButton btnCancel;
  TButton btnPrevious;
  TButton btnProceed;

  // Loads "ZTScore.dat" from the current directory and shows the wizard
  // modally; a missing or invalid file raises before anything is shown.
  void Open();

  void btnProceedClick();
  void btnPreviousClick();
  void btnCancelClick();
  void btnSendClick();
  void PageControlChanging(bool& allow);
  void FormShow();
  void FormCloseQuery(bool& can_close);
  void FormClose();
  void RequestDone(THTTPDownloadThread& sender);
  void RequestFailed(THTTPDownloadThread& sender);
  void UpdateButtons();

  bool SentFlag() const { return sent_flag_; }
  bool Requesting() const { return request_thread_ != nullptr; }
  const THiScore* ScoreTable() const { return score_table_.get(); }

  // Where "Network.ini" is read from, the server's port and the whole
  // request's time; tests point them at their own file and a local server,
  // and shorten the time.
  std::wstring NetworkIniPath;
  std::uint16_t ServerPort = 80;
  std::int32_t RequestDeadlineMs = http::kRequestDeadlineMs;

 private:
  void GoToPage(int page);

  std::unique_ptr<THiScore> score_table_;
  THTTPDownloadThread* request_thread_ = nullptr;
  bool sent_flag_ = false;
};

}  // namespace zt::win
