#include "forms/menu.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>

#include "dialog_driver.h"
#include "fixture_table.h"
#include "ranking.h"

namespace zt::win {

extern std::atomic<int> g_game_window_opened;

namespace {

using test::close_form;
using test::DialogDriver;
using test::press;

struct Launcher {
  TfrmScoreEdit score_edit;
  TfrmSendScore send_score;
  TfrmMenu menu{score_edit, send_score};
};

void click(const TButton& b) {
  SendMessageW(b.Handle(), BM_CLICK, 0, 0);
}

TEST(Launcher, ButtonsReadTopToBottomAndTabVisitsQuitBeforeRanking) {
  Launcher app;
  app.menu.Show();
  EXPECT_EQ(app.menu.Caption(), L"Zentropolium");
  RECT client;
  GetClientRect(app.menu.Handle(), &client);
  EXPECT_EQ(client.right, 331);
  EXPECT_EQ(client.bottom, 239);
  const TButton* order[] = {&app.menu.btnExecute, &app.menu.btnScoreEdit, &app.menu.btnSendScore,
                            &app.menu.btnQuit};
  const wchar_t* texts[] = {L"ゲーム起動", L"得点ファイル結合・編集",
                            L"インターネットランキングに参加する", L"終了"};
  int last_top = -1;
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(order[i]->Text(), texts[i]);
    RECT r;
    GetWindowRect(order[i]->Handle(), &r);
    EXPECT_GT(r.top, last_top);
    last_top = r.top;
  }
  HWND h = app.menu.btnExecute.Handle();
  std::vector<HWND> tabs;
  for (int i = 0; i < 4; ++i) {
    tabs.push_back(h);
    h = GetNextDlgTabItem(app.menu.Handle(), h, FALSE);
  }
  EXPECT_THAT(tabs,
              ::testing::ElementsAre(app.menu.btnExecute.Handle(), app.menu.btnScoreEdit.Handle(),
                                     app.menu.btnQuit.Handle(), app.menu.btnSendScore.Handle()));
}

TEST(Launcher, GameButtonOpensTheGameAndTheLinkOpensTheWebHome) {
  Launcher app;
  app.menu.Show();
  const int before = g_game_window_opened;
  click(app.menu.btnExecute);
  EXPECT_EQ(g_game_window_opened, before + 1);
  std::string opened;
  app.menu.OpenAddress = [&](HWND, const std::string& address) { opened = address; };
  app.menu.lblCopyClick();
  // No "Network.ini" beside the tests: the default address.
  EXPECT_EQ(opened, "http://www.zentropolium.example/");
}

TEST(Launcher, EditorAndSenderOpenModallyAndClose) {
  test::TempDir dir;
  wchar_t old_dir[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, old_dir);
  SetCurrentDirectoryW(dir.path().c_str());
  Launcher app;
  app.menu.Show();
  {
    DialogDriver driver({close_form(L"Zentropolium - スコアファイル結合")});
    click(app.menu.btnScoreEdit);
    driver.finish();
    EXPECT_TRUE(driver.all_done());
    EXPECT_FALSE(IsWindowVisible(app.score_edit.Handle()));
    EXPECT_TRUE(IsWindowEnabled(app.menu.Handle()));
  }
  {
    // No score file: the exception box, and the sender stays shut.
    DialogDriver driver({press(IDOK)});
    click(app.menu.btnSendScore);
    driver.finish();
    EXPECT_THAT(driver.texts(), ::testing::ElementsAre(L"File does not exist"));
    EXPECT_FALSE(IsWindowVisible(app.send_score.Handle()));
  }
  THiScore t = test::fixture_table();
  const auto image = t.save();
  test::write_bytes(dir.file(L"ZTScore.dat"),
                    std::string(reinterpret_cast<const char*>(image->data()), image->size()));
  {
    DialogDriver driver({close_form(L"インターネットランキング"), press(IDOK)});
    click(app.menu.btnSendScore);
    driver.finish();
    EXPECT_TRUE(driver.all_done());
    EXPECT_FALSE(IsWindowVisible(app.send_score.Handle()));
  }
  SetCurrentDirectoryW(old_dir);
}

}  // namespace
}  // namespace zt::win
