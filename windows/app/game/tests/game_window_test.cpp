// The game window on hand-made sprite sheets and sounds: a failed DirectX
// call with the display's halt on ends the program in an orderly way.
#include "game_window.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "media_test_support.h"

namespace zt::win {
namespace {

// Sheets of the game's sizes and its seven effects, in a directory that
// becomes the current one.
void write_game_data() {
  std::vector<test::QdaMember> sheets;
  for (const SheetCut& c : kSheetCuts) {
    sheets.push_back({c.member, test::make_bmp(test::solid_picture(c.width, c.height, 8, 1))});
  }
  test::write_temp("images.qda", test::make_qda_plain(sheets));
  std::vector<test::QdaMember> sounds;
  for (const char* name :
       {"gravitychange", "explosion1", "bound", "select", "cutwarn", "destroy0", "destroy1"}) {
    sounds.push_back({std::string(name) + ".wav", test::make_wav(11025, 8, 1, 100)});
  }
  test::write_temp("sounds.qda", test::make_qda_plain(sounds));
  SetCurrentDirectoryA(test::temp_dir().c_str());
}

std::string read_text(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TForm1* g_window = nullptr;

// A display mode no driver has, asked for while the game runs.
void CALLBACK fail_a_directx_call(HWND, UINT, UINT_PTR, DWORD) {
  CheckResult(g_window->DDDD->DirectDraw->SetDisplayMode(1, 1, 7, 0, 0), "forced");
}

void run_game_until_a_directx_call_fails() {
  write_game_data();
  TForm1 window;
  g_window = &window;
  SetTimer(nullptr, 0, 1000, &fail_a_directx_call);
  window.Run();
}

TEST(GameWindowDeathTest, AHaltWritesTheSettingsGivesTheModeBackAndEndsWithStatus1) {
  const std::wstring settings = SettingsPathBesideExe();
  DeleteFileW(settings.c_str());
  const DEVMODEW before = test::current_display_mode();

  EXPECT_EXIT(run_game_until_a_directx_call_fails(), ::testing::ExitedWithCode(1), "");

  EXPECT_NE(read_text(settings).find("AppearedMaxRank="), std::string::npos);
  DeleteFileW(settings.c_str());
  const DEVMODEW after = test::current_display_mode();
  EXPECT_EQ(after.dmPelsWidth, before.dmPelsWidth);
  EXPECT_EQ(after.dmBitsPerPel, before.dmBitsPerPel);
}

}  // namespace
}  // namespace zt::win
