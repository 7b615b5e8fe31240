#include <gtest/gtest.h>

#include <cstdlib>

#include "dddd.h"
#include "display_fixture.h"

namespace zt {
namespace {

using test::pixel;

std::vector<std::string> messages(const char* file) {
  std::vector<std::string> out;
  for (const std::string& l : test::log_lines(file)) out.push_back(l.substr(l.find(" ... ") + 5));
  return out;
}

// Whether `wanted` appear in this order (not necessarily next to each other).
bool in_order(const std::vector<std::string>& lines, const std::vector<std::string>& wanted) {
  std::size_t i = 0;
  for (const std::string& l : lines) {
    if (i < wanted.size() && l == wanted[i]) ++i;
  }
  return i == wanted.size();
}

std::string joined(const std::vector<std::string>& lines) {
  std::string s;
  for (const auto& l : lines) s += l + "\n";
  return s;
}

class DisplayModes : public ::testing::TestWithParam<std::pair<int, int>> {
 protected:
  void SetUp() override { test::reset_logs(); }
};

TEST_P(DisplayModes, FullScreenModeIsSetAndRestored) {
  const int desktop_w = GetSystemMetrics(SM_CXSCREEN);
  const auto [w, h] = GetParam();
  {
    test::Display d(w, h, 8, {ddoHaltOnError, ddoDebugMessage, ddoDetailedLog});
    EXPECT_TRUE(d.created_mode_available);
    EXPECT_EQ(d.init_calls, 1);
    EXPECT_TRUE(d.need_change);  // the game's setting: its own handler sets the mode
    EXPECT_TRUE(d.dddd->FullScreen);
    EXPECT_EQ(d.dddd->ScreenWidth, w);
    EXPECT_EQ(d.dddd->BitDepth, 8);
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), w);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), h);
    EXPECT_TRUE(d.dddd->Palette);
    EXPECT_TRUE(d.dddd->ModeAvailable(800, 600, 8, 0));
    EXPECT_TRUE(d.dddd->ModeAvailable(0, 0, 0, 0));
    EXPECT_FALSE(d.dddd->ModeAvailable(641, 480, 8, 0));
    auto lines = messages("dddd.debug");
    EXPECT_TRUE(in_order(
        lines, {"ウィンドウモードで初期化を開始します", "DirectDrawオブジェクトを作成しました",
                format("スクリーンモード%d x %d x 8 として初期化を開始します", w, h),
                "…DirectDraw/3D関連オブジェクトを全て解放します…", "DirectDrawを解放しました",
                "フルスクリーンで初期化を開始します", "デフォルトのドライバを使用します",
                "DirectDrawオブジェクトを作成しました"}))
        << joined(lines);
    EXPECT_EQ(lines.front(), format("スクリーンモード128 x 128 x %d として初期化を開始します", 32));
    test::reset_logs();
    dddd_log().apply(TDDDDDebugOptions{ddoDebugMessage, ddoDetailedLog}.bits());
  }
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), desktop_w);
  auto lines = messages("dddd.debug");
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "…DirectDraw/3D関連オブジェクトを全て解放します…",
                       "オフスクリーンサーフェスを全て解放しました", "パレットを解放しました",
                       "クリッパーを解放しました", "バックバッファを解放しました",
                       "プライマリサーフェスを解放しました", "DirectDrawを解放しました",
                       "…DirectDraw/3D関連オブジェクト、解放終了しました…"}));
  EXPECT_EQ(test::halt_count, 0);
}

INSTANTIATE_TEST_SUITE_P(Modes, DisplayModes,
                         ::testing::Values(std::make_pair(640, 480), std::make_pair(800, 600)),
                         [](const auto& info) {
                           return std::to_string(info.param.first) + "x" +
                                  std::to_string(info.param.second);
                         });

class Display8 : public ::testing::Test {
 protected:
  void SetUp() override {
    test::reset_logs();
    display = std::make_unique<test::Display>(640, 480, 8);
    ASSERT_EQ(dddd().BitDepth, 8);
    sheet = test::make_bmp(picture());
    archive = test::write_temp("images.qda",
                               test::make_qda_encoded({{"sheet", test::bpe_encode(sheet, 400)}},
                                                      {static_cast<std::uint32_t>(sheet.size())}));
  }
  void TearDown() override {
    display.reset();
    EXPECT_EQ(test::halt_count, 0);
  }
  static test::BmpPicture picture() {
    test::BmpPicture p = test::solid_picture(32, 16, 8, 1);
    for (int x = 0; x < 32; ++x) p.rows[0][x] = static_cast<std::uint32_t>(x + 10);
    p.palette.assign(256, 0);
    for (int i = 0; i < 16; ++i) p.palette[i] = static_cast<std::uint32_t>(i * 0x101010);
    p.clr_used = 16;
    return p;
  }
  TDDDD& dddd() { return *display->dddd; }
  void paint() {
    InvalidateRect(display->form.Handle(), nullptr, FALSE);
    UpdateWindow(display->form.Handle());
    ProcessMessages();
  }

  std::unique_ptr<test::Display> display;
  test::Bytes sheet;
  std::string archive;
};

TEST_F(Display8, NewModeRebuildsKeptSurfacesFromTheirSource) {
  auto s = std::make_unique<TDDDDSurface>(dddd(), 32, 16, 0);
  s->LoadFromArchive(archive, "sheet");
  auto drawn = TDDDDSurface::CreateInSystemMemory(dddd(), 4, 4, 0);
  IDirectDrawSurface7* before = s->Surface.get();
  int cleanups = 0, changes = 0;
  dddd().OnCleanUp = [&](TDDDD&) { ++cleanups; };
  dddd().OnChangeDisplayMode = [&](TDDDD&) { ++changes; };
  dddd_log().apply(TDDDDDebugOptions{ddoHaltOnError, ddoDebugMessage, ddoDetailedLog}.bits());

  dddd().Initialize(800, 600, 8, 0, "");
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 800);
  EXPECT_EQ(cleanups, 1);
  EXPECT_EQ(changes, 1);
  ASSERT_TRUE(s->Surface);
  EXPECT_NE(s->Surface.get(), before);
  EXPECT_EQ(pixel(*s, 0, 0), 10u);
  EXPECT_EQ(pixel(*s, 31, 0), 41u);
  EXPECT_EQ(pixel(*s, 5, 15), 1u);
  EXPECT_TRUE(drawn->Surface);
  auto lines = messages("dddd.debug");
  EXPECT_TRUE(in_order(lines, {"DirectDrawオブジェクトの解放に伴い、0番のサーフェスを解放します",
                               "DirectDrawオブジェクトの解放に伴い、1番のサーフェスを解放します",
                               "オフスクリーンサーフェスを全て解放しました",
                               "0番のサーフェスを再構築します", "1番のサーフェスを再構築します"}))
      << joined(lines);
  EXPECT_EQ(joined(lines).find("(Error Code("), std::string::npos) << joined(lines);
}

TEST_F(Display8, PaletteFromArchiveReplacesOnlyItsColours) {
  dddd().PaletteEntries[100] = PALETTEENTRY{1, 2, 3, 0};
  dddd().LoadPaletteFromArchive(archive, "SHEET");
  EXPECT_EQ(dddd().PaletteEntries[15].peRed, 0xF0);
  EXPECT_EQ(dddd().PaletteEntries[15].peFlags, PC_NOCOLLAPSE);
  EXPECT_EQ(dddd().PaletteEntries[100].peBlue, 3);
  dddd().UpdatePalette();
  PALETTEENTRY shown[256];
  ASSERT_EQ(dddd().Palette->GetEntries(0, 0, 256, shown), 0);
  EXPECT_EQ(shown[15].peGreen, 0xF0);
  EXPECT_EQ(shown[100].peGreen, 2);

  dddd_log().apply(TDDDDDebugOptions{ddoDebugMessage}.bits());
  dddd().LoadPaletteFromArchive(archive, "nothing");
  EXPECT_EQ(messages("dddd.debug"),
            (std::vector<std::string>{archive + "からのnothingの抽出に失敗しました"}));
  std::string not_bmp =
      test::write_temp("junk.qda", test::make_qda_plain({{"p", test::Bytes(60, 'x')}}));
  EXPECT_THROW(dddd().LoadPaletteFromArchive(not_bmp, "p"), ExDDDD);
  EXPECT_EQ(test::halt_count, 0);
  dddd_log().apply(TDDDDDebugOptions{ddoHaltOnError}.bits());
  EXPECT_THROW(dddd().LoadPaletteFromArchive(not_bmp, "p"), ExDDDD);
  EXPECT_EQ(test::halt_count, 1);
  test::halt_count = 0;
}

TEST_F(Display8, LostSurfacesComeBackOnPaint) {
  auto s = std::make_unique<TDDDDSurface>(dddd(), 32, 16, 0);
  s->LoadFromArchive(archive, "sheet");
  int restores = 0;
  dddd().OnRestore = [&](TDDDD&) { ++restores; };
  HWND hwnd = display->form.Handle();

  SendMessageW(hwnd, WM_ACTIVATEAPP, FALSE, 0);
  ProcessMessages();
  EXPECT_TRUE(dddd().Primary->IsLost());
  // Forget the picture so a reload shows.
  test::fill(*s, 0);

  ShowWindow(hwnd, SW_RESTORE);
  SendMessageW(hwnd, WM_ACTIVATEAPP, TRUE, 0);
  SetForegroundWindow(hwnd);
  SetActiveWindow(hwnd);
  ProcessMessages();
  ASSERT_TRUE(display->form.Active());
  dddd_log().apply(TDDDDDebugOptions{ddoHaltOnError, ddoDebugMessage, ddoDetailedLog}.bits());
  paint();
  EXPECT_GE(restores, 1);
  EXPECT_FALSE(dddd().Primary->IsLost());
  if (!messages("dddd.debug").empty()) {
    // Only a surface that DirectDraw reports lost is reloaded.
    EXPECT_TRUE(in_order(messages("dddd.debug"), {"サーフェスを復元します"}));
    EXPECT_EQ(pixel(*s, 0, 0), 10u);
  }

  // A paint while the display is being set up restores nothing.
  restores = 0;
  dddd().Busy = true;
  paint();
  EXPECT_EQ(restores, 0);
  dddd().Busy = false;
}

TEST_F(Display8, KeeperRebuildReloadsThePicture) {
  auto s = std::make_unique<TDDDDSurface>(dddd(), 32, 16, 0);
  s->LoadFromArchive(archive, "sheet");
  test::fill(*s, 0);
  ASSERT_EQ(dddd().SurfaceList.size(), 1u);
  dddd().SurfaceList[0]->Rebuild();
  EXPECT_EQ(pixel(*s, 0, 0), 10u);
}

TEST_F(Display8, WindowMessagesInFullScreen) {
  HWND hwnd = display->form.Handle();
  MINMAXINFO info{};
  SendMessageW(hwnd, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
  EXPECT_EQ(info.ptMaxTrackSize.x, 640);
  EXPECT_EQ(info.ptMinTrackSize.y, 480);
  EXPECT_EQ(info.ptMaxPosition.x, 0);

  SetWindowPos(hwnd, nullptr, 30, 20, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  ProcessMessages();
  RECT r = display->form.BoundsRect();
  EXPECT_EQ(r.left, 0);
  EXPECT_EQ(r.top, 0);

  int enter = 0, exit = 0;
  dddd().OnEnterMenuLoop = [&](TDDDD&) { ++enter; };
  dddd().OnExitMenuLoop = [&](TDDDD&) { ++exit; };
  SendMessageW(hwnd, WM_ENTERMENULOOP, FALSE, 0);
  SendMessageW(hwnd, WM_EXITMENULOOP, FALSE, 0);
  EXPECT_EQ(enter, 1);
  EXPECT_EQ(exit, 1);

  dddd().PaletteEntries[3] = PALETTEENTRY{9, 8, 7, PC_NOCOLLAPSE};
  SendMessageW(hwnd, WM_PALETTECHANGED, 0, 0);
  PALETTEENTRY shown[256];
  dddd().Palette->GetEntries(0, 0, 256, shown);
  EXPECT_EQ(shown[3].peRed, 9);
}

TEST_F(Display8, ClearAndFlip) {
  dddd().BackColor = 77;
  EXPECT_EQ(dddd().Clear(), 0);
  dddd().Flip();  // the chain flips: the cleared buffer is in front
  DDSURFACEDESC2 d;
  std::memset(&d, 0, sizeof d);
  d.dwSize = sizeof d;
  ASSERT_EQ(dddd().Primary->Surface->Lock(nullptr, &d, DDLOCK_WAIT, nullptr), 0);
  std::uint8_t front = static_cast<std::uint8_t*>(d.lpSurface)[0];
  dddd().Primary->Surface->Unlock(nullptr);
  EXPECT_EQ(front, 77);
}

TEST(DisplayWindowed, DeepDesktopHasNoPalette) {
  test::reset_logs();
  test::Display d(320, 240, 0);
  EXPECT_FALSE(d.dddd->FullScreen);
  EXPECT_EQ(d.dddd->ScreenWidth, 128);  // the small windowed set-up stays
  EXPECT_EQ(d.dddd->BitDepth, 32);
  EXPECT_FALSE(d.dddd->Palette);
  d.dddd->UpdatePalette();
  d.dddd->BackColor = 0x00123456;
  EXPECT_EQ(d.dddd->Clear(), 0);
  EXPECT_EQ(pixel(*d.dddd->BackBuffer, 5, 5) & 0xFFFFFF, 0x123456u);
  d.dddd->Flip();  // a windowed flip is a copy to the window
  EXPECT_EQ(test::halt_count, 0);
}

// Shows a test picture on a 640 x 480 x 8 screen the way the game presents a
// frame: one stretched copy of a 320 x 240 work surface onto the primary.
// ZT_SHOW_SECONDS keeps it on screen for a screenshot.
TEST(DisplayPicture, StretchedFrameOnThePrimary) {
  test::reset_logs();
  test::Display d(640, 480, 8);
  TDDDD& dddd = *d.dddd;
  for (int i = 0; i < 256; ++i) {
    dddd.PaletteEntries[i] =
        PALETTEENTRY{static_cast<BYTE>(i < 128 ? i * 2 : 255), static_cast<BYTE>((i * 5) & 255),
                     static_cast<BYTE>(255 - i), PC_NOCOLLAPSE};
  }
  dddd.PaletteEntries[0] = PALETTEENTRY{0, 0, 0, PC_NOCOLLAPSE};
  dddd.PaletteEntries[255] = PALETTEENTRY{255, 255, 255, PC_NOCOLLAPSE};
  dddd.UpdatePalette();

  auto work = TDDDDSurface::CreateInSystemMemory(dddd, 320, 240, 0);
  test::fill(*work, 0);
  for (int band = 0; band < 8; ++band) {
    work->FillRect(RECT{band * 40, 0, band * 40 + 40, 120},
                   static_cast<std::uint32_t>(band * 32 + 16));
  }
  for (int x = 0; x < 320; ++x)
    work->FillRect(RECT{x, 120, x + 1, 200}, static_cast<std::uint32_t>(x * 255 / 319));
  work->FillRect(RECT{20, 210, 300, 230}, 255);
  auto sprite = TDDDDSurface::CreateInSystemMemory(dddd, 24, 24, 0);
  test::fill(*sprite, 0);
  for (int i = 0; i < 24; ++i) {
    sprite->SetPixel(i, i, 255);
    sprite->SetPixel(23 - i, i, 255);
  }
  for (int x = -12; x < 320; x += 40)
    work->BltRect(sprite.get(), x, 60, RECT{0, 0, 24, 24}, DDBLTFAST_SRCCOLORKEY);
  EXPECT_EQ(pixel(*work, 40, 0), 48u);
  EXPECT_EQ(pixel(*work, 0, 60 + 12), 255u);  // the sprite cut at the left edge

  DDBLTFX fx;
  std::memset(&fx, 0, sizeof fx);
  fx.dwSize = sizeof fx;
  const RECT screen{0, 0, 640, 480};
  EXPECT_EQ(dddd.Primary->Blt(work.get(), screen, RECT{0, 0, 320, 240}, DDBLT_WAIT, &fx), 0);
  ProcessMessages();

  const char* hold = std::getenv("ZT_SHOW_SECONDS");
  DWORD until = GetTickCount() + (hold ? static_cast<DWORD>(std::atoi(hold)) * 1000u : 0u);
  while (GetTickCount() < until) {
    ProcessMessages();
    dddd.Primary->Blt(work.get(), screen, RECT{0, 0, 320, 240}, DDBLT_WAIT, &fx);
    Sleep(50);
  }
  EXPECT_EQ(test::halt_count, 0);
}

}  // namespace
}  // namespace zt

namespace zt {
namespace {

// The retained-mode path: d3drm.dll is loaded at run time and a software
// device is chosen on the windowed back buffer.
TEST(Display3D, WindowedSetUpFindsADevice) {
  test::reset_logs();
  TMediaForm form(L"3d test", 320, 240);
  TDDDD dddd(form);
  dddd.AutoDisplayModeInitialize = false;
  dddd.Use3D = true;
  dddd.BackBufferLocationAtWindowed = bmtSystemMemory;
  dddd.SetDebugOption({ddoHaltOnError, ddoDebugMessage, ddoDetailedLog});
  form.Show();
  form.Create();
  ProcessMessages();
  auto lines = messages("dddd.debug");
  EXPECT_TRUE(dddd.Direct3D);
  EXPECT_TRUE(dddd.Direct3DRM);
  EXPECT_NE(dddd.AvailableDevices, 0u);
  EXPECT_TRUE(dddd.Direct3DDevice);
  EXPECT_TRUE(dddd.RMDevice);
  EXPECT_TRUE(in_order(
      lines, {"ウィンドウモードで初期化を開始します", "ハードウェアアクセラレーション不可"}))
      << joined(lines);
  EXPECT_EQ(test::halt_count, 0) << joined(lines);
}

}  // namespace
}  // namespace zt
