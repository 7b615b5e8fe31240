#include "forms/menu.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>

#include "dialog_driver.h"
#include "fixture_table.h"
#include "ranking.h"

namespace zt::win {

extern std::atomic<int> g_game_window_opened;
extern std::wstring g_game_window_folder;

namespace {

using test::close_form;
using test::DialogDriver;
using test::press;
using test::type_file;

std::string score_file_bytes(THiScore table) {
  const auto image = table.save();
  return std::string(reinterpret_cast<const char*>(image->data()), image->size());
}

std::wstring current_folder() {
  wchar_t folder[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, folder);
  return folder;
}

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

TEST(Launcher, CopyLineIsAquaRightAlignedAndUnderlinedInsideItsTwelvePixels) {
  Launcher app;
  app.menu.Show();
  HWND label = app.menu.lblCopy.Handle();
  RECT r;
  GetWindowRect(label, &r);
  MapWindowPoints(nullptr, app.menu.Handle(), reinterpret_cast<POINT*>(&r), 2);
  EXPECT_EQ(r.left, 144);
  EXPECT_EQ(r.top, 60);
  ASSERT_EQ(r.right - r.left, 168);
  ASSERT_EQ(r.bottom - r.top, 12);

  // The label as it paints, into a picture of its own size.
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), 168, -12, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP picture = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(dc, picture);
  SendMessageW(label, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
  GdiFlush();
  const auto* pixels = static_cast<const std::uint32_t*>(bits);
  const auto aqua = [&](int x, int y) { return (pixels[y * 168 + x] & 0xFFFFFF) == 0x00FFFF; };
  // The last row: one unbroken line under the text, up to the right edge.
  int run = 0, longest = 0, rightmost = -1;
  for (int x = 0; x < 168; ++x) {
    run = aqua(x, 11) ? run + 1 : 0;
    longest = std::max(longest, run);
    if (aqua(x, 11)) rightmost = x;
  }
  int text_pixels = 0;
  for (int y = 0; y < 11; ++y) {
    for (int x = 0; x < 168; ++x) text_pixels += aqua(x, y) ? 1 : 0;
  }
  SelectObject(dc, old);
  DeleteObject(picture);
  DeleteDC(dc);
  EXPECT_GE(longest, 100);
  EXPECT_GE(rightmost, 160);
  EXPECT_GT(text_pixels, 200);
}

TEST(Launcher, OpensOnTheGameButtonAndEnterStartsTheGame) {
  Launcher app;
  app.menu.Show();
  EXPECT_EQ(GetFocus(), app.menu.btnExecute.Handle());
  const int before = g_game_window_opened;
  // Enter as the message loop hands it to the dialog manager.
  MSG enter{app.menu.btnExecute.Handle(), WM_KEYDOWN, VK_RETURN, 0, 0, {}};
  EXPECT_TRUE(IsDialogMessageW(app.menu.Handle(), &enter));
  EXPECT_EQ(g_game_window_opened, before + 1);
  // Once the focus is on another button, Enter presses that one.
  app.menu.btnQuit.SetFocus();
  enter.hwnd = app.menu.btnQuit.Handle();
  IsDialogMessageW(app.menu.Handle(), &enter);
  EXPECT_EQ(g_game_window_opened, before + 1);
  EXPECT_FALSE(IsWindowVisible(app.menu.Handle()));
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

TEST(Launcher, AnExportSavedElsewhereLeavesTheGameAndTheSenderInTheProgramsFolder) {
  test::TempDir program, elsewhere;
  test::write_bytes(program.file(L"ZTScore.dat"), score_file_bytes(test::fixture_table()));
  THiScore other("ZTScore.dat");
  other.insert("ELSEWHERE", 999999, test::kSept9);
  test::write_bytes(elsewhere.file(L"ZTScore.dat"), score_file_bytes(other));
  const std::wstring old_folder = current_folder();
  SetCurrentDirectoryW(program.path().c_str());

  Launcher app;
  app.menu.Show();
  app.score_edit.AddFile(program.file(L"ZTScore.dat"));
  app.score_edit.Merge();
  {
    // The player goes into the other folder first, then names the file.
    DialogDriver dialog({test::open_folder(elsewhere.path()), type_file(L"top.html")});
    app.score_edit.btnSaveClick();
    dialog.finish();
    ASSERT_TRUE(dialog.all_done());
  }
  EXPECT_TRUE(test::file_exists(elsewhere.file(L"top.html")));
  EXPECT_EQ(current_folder(), program.path());

  click(app.menu.btnExecute);
  EXPECT_EQ(g_game_window_folder, program.path());
  {
    DialogDriver driver({close_form(L"インターネットランキング"), press(IDOK)});
    click(app.menu.btnSendScore);
    driver.finish();
    ASSERT_TRUE(driver.all_done());
  }
  EXPECT_EQ(app.send_score.lvwScores.Cell(0, 1), L"ZENTRIA");
  SetCurrentDirectoryW(old_folder.c_str());
}

}  // namespace
}  // namespace zt::win
