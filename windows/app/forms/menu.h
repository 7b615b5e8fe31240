// The launcher window and the main program that creates the forms.
#pragma once

#include "forms/forms.h"
#include "forms/score_edit.h"
#include "forms/send_score.h"

namespace zt::win {

class TfrmMenu : public TForm {
 public:
  // The editor and the sender the buttons show; they live beside the launcher.
  TfrmMenu(TfrmScoreEdit& score_edit, TfrmSendScore& send_score);

  TImage Image1;
  TLabel lblCopy;
  TPanel Panel1;
  TButton btnExecute;
  TButton btnScoreEdit;
  TButton btnQuit;  // created before btnSendScore: the tab order visits it first
  TButton btnSendScore;

  void btnExecuteClick();
  void btnScoreEditClick();
  void btnSendScoreClick();
  void btnQuitClick();
  void lblCopyClick();

  // What lblCopyClick hands to the shell; tests replace it.
  std::function<void(HWND owner, const std::string& address)> OpenAddress;

 private:
  TfrmScoreEdit& score_edit_;
  TfrmSendScore& send_score_;
};

// The main program: starts OLE, creates the launcher, the score editor and
// the ranking sender, and runs the message loop until the launcher closes.
int run_zentro();

}  // namespace zt::win
