#include "forms/menu.h"

#include <shellapi.h>

#include "forms/drop_target.h"
#include "forms/game_window.h"
#include "ranking.h"
#include "text_codec.h"

namespace zt::win {

namespace {

// The title picture: the game's name in light letters on black.
HBITMAP title_picture() {
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bmp = CreateCompatibleBitmap(screen, 296, 47);
  HGDIOBJ old = SelectObject(dc, bmp);
  RECT r{0, 0, 296, 47};
  FillRect(dc, &r, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  for (int y = 40; y < 44; ++y) {
    HPEN pen = CreatePen(PS_SOLID, 1, RGB(0, 64 + (y - 40) * 40, 160 + (y - 40) * 20));
    HGDIOBJ op = SelectObject(dc, pen);
    MoveToEx(dc, 8, y, nullptr);
    LineTo(dc, 288, y);
    SelectObject(dc, op);
    DeleteObject(pen);
  }
  HFONT font =
      CreateFontW(-34, 0, 0, 0, FW_BOLD, TRUE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                  CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Arial");
  HGDIOBJ of = SelectObject(dc, font);
  SetBkMode(dc, TRANSPARENT);
  RECT text{0, 0, 296, 40};
  SetTextColor(dc, RGB(0, 96, 192));
  OffsetRect(&text, 2, 2);
  DrawTextW(dc, L"ZENTROPOLIUM", -1, &text, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  OffsetRect(&text, -2, -2);
  SetTextColor(dc, RGB(224, 240, 255));
  DrawTextW(dc, L"ZENTROPOLIUM", -1, &text, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  SelectObject(dc, of);
  DeleteObject(font);
  SelectObject(dc, old);
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
  return bmp;
}

}  // namespace

TfrmMenu::TfrmMenu(TfrmScoreEdit& score_edit, TfrmSendScore& send_score)
    : TForm(L"Zentropolium", 331, 239, FormBorder::kDialog, RGB(0, 0, 0)),
      Image1(*this, L"Image1", title_picture(), 16, 8, 296, 47),
      lblCopy(*this, L"lblCopy", L"Zentropolium Project 制作", 144, 60, 168, 12, SS_RIGHT,
              /*underline=*/true),
      Panel1(*this, L"Panel1", 16, 80, 297, 153),
      btnExecute(*this, L"btnExecute", L"ゲーム起動", 16 + 24, 80 + 16, 257, 25),
      btnScoreEdit(*this, L"btnScoreEdit", L"得点ファイル結合・編集", 16 + 24, 80 + 48, 257, 25),
      btnQuit(*this, L"btnQuit", L"終了", 16 + 24, 80 + 120, 257, 25),
      btnSendScore(*this, L"btnSendScore", L"インターネットランキングに参加する", 16 + 24, 80 + 80,
                   257, 25),
      score_edit_(score_edit),
      send_score_(send_score) {
  // Above the panel, which is drawn first; the tab order follows the z-order.
  for (TButton* b : {&btnSendScore, &btnQuit, &btnScoreEdit, &btnExecute}) {
    SetWindowPos(b->Handle(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
  lblCopy.Color = RGB(0, 255, 255);
  btnExecute.OnClick = [this] { btnExecuteClick(); };
  btnScoreEdit.OnClick = [this] { btnScoreEditClick(); };
  btnSendScore.OnClick = [this] { btnSendScoreClick(); };
  btnQuit.OnClick = [this] { btnQuitClick(); };
  lblCopy.OnClick = [this] { lblCopyClick(); };
  OpenAddress = [](HWND owner, const std::string& address) {
    ShellExecuteA(owner, "OPEN", address.c_str(), nullptr, nullptr, SW_SHOW);
  };
}

void TfrmMenu::btnExecuteClick() {
  open_game_window();
}

void TfrmMenu::btnScoreEditClick() {
  score_edit_.ShowModal();
}

void TfrmMenu::btnSendScoreClick() {
  send_score_.Open();
}

void TfrmMenu::btnQuitClick() {
  Close();
}

void TfrmMenu::lblCopyClick() {
  const NetworkSettings net = read_network_ini(network_ini_path());
  if (OpenAddress) OpenAddress(Handle(), to_code_page(net.web_home, CP_ACP));
}

int run_zentro() {
  drop_source_start();
  Application().Initialize();
  Application().Title = L"Zentropolium";
  TfrmScoreEdit score_edit;
  TfrmSendScore send_score;
  TfrmMenu menu(score_edit, send_score);
  // The launcher is the first form, hence the main form.
  Application().AddForm(menu);
  Application().Run();
  return Application().ExitCode;
}

}  // namespace zt::win
