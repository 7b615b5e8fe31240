// Pictures of the forms for a person to look at, taken of the whole screen
// by scripts/test-windows.sh: the score editor with its merged table, then
// its question to save, then the ranking sender's first page. With
// ZT_PICTURE_DIR set, the test leaves NAME.ready there when a picture can be
// taken and waits until the file is gone.
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "dialog_driver.h"
#include "fixture_table.h"
#include "forms/score_edit.h"
#include "forms/send_score.h"

namespace zt::win {
namespace {

constexpr DWORD kPictureWaitMs = 20'000;

std::wstring picture_dir() {
  const wchar_t* dir = _wgetenv(L"ZT_PICTURE_DIR");
  return dir ? dir : L"";
}

// Announces the picture and waits until it has been taken.
bool hold_for_picture(const std::wstring& name, bool pump) {
  const std::wstring ready = picture_dir() + L"\\" + name + L".ready";
  test::write_bytes(ready, "");
  const auto taken = [&] { return !test::file_exists(ready); };
  if (pump) return test::pump_until(taken, kPictureWaitMs);
  const ULONGLONG end = GetTickCount64() + kPictureWaitMs;
  while (!taken() && GetTickCount64() < end) Sleep(50);
  return taken();
}

TEST(FormPictures, ScoreEditorAndItsQuestion) {
  if (picture_dir().empty()) GTEST_SKIP() << "ZT_PICTURE_DIR names no folder for pictures";
  test::TempDir dir;
  const std::wstring file = dir.file(L"ZTScore.dat");
  const auto image = test::fixture_table().save();
  test::write_bytes(file, std::string(reinterpret_cast<const char*>(image->data()), image->size()));

  TfrmScoreEdit editor;
  editor.Show();
  editor.AddFile(file);
  editor.Merge();
  SetCursorPos(0, 0);  // no hint over the grid
  EXPECT_TRUE(hold_for_picture(L"score-editor", true));

  // The question when closing with a merged table, answered after its picture.
  bool taken = false;
  std::thread answer([&] {
    HWND box = nullptr;
    const ULONGLONG end = GetTickCount64() + kPictureWaitMs;
    while (box == nullptr && GetTickCount64() < end) {
      box = FindWindowW(L"#32770", L"確認");
      Sleep(50);
    }
    if (box == nullptr) return;
    taken = hold_for_picture(L"message-box", false);
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  });
  editor.btnCloseClick();
  answer.join();
  EXPECT_TRUE(taken);
}

TEST(FormPictures, RankingSenderFirstPage) {
  if (picture_dir().empty()) GTEST_SKIP() << "ZT_PICTURE_DIR names no folder for pictures";
  TfrmSendScore sender;
  sender.Show();
  SetCursorPos(0, 0);
  EXPECT_TRUE(hold_for_picture(L"sender", true));
}

}  // namespace
}  // namespace zt::win
