// The Windows host over real display surfaces (640x480x8 on Wine's virtual
// desktop), its replay files in the current directory, and the frame pump's
// timing rule.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "display_fixture.h"
#include "fake_bgm.h"
#include "game/ugame.h"
#include "game_window.h"
#include "win_host.h"

namespace zt::win {
namespace {

using test::pixel;

// A directory of its own as the current directory.
class InTempDir {
 public:
  InTempDir() {
    char tmp[MAX_PATH];
    GetTempPathA(MAX_PATH, tmp);
    dir_ = std::string(tmp) + "zt_host_test";
    CreateDirectoryA(dir_.c_str(), nullptr);
    GetCurrentDirectoryA(MAX_PATH, old_);
    SetCurrentDirectoryA(dir_.c_str());
  }
  ~InTempDir() { SetCurrentDirectoryA(old_); }
  const std::string& dir() const { return dir_; }

 private:
  std::string dir_;
  char old_[MAX_PATH];
};

class WinHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::reset_logs();
    display = std::make_unique<test::Display>(640, 480, 8);
    ASSERT_EQ(display->dddd->BitDepth, 8);
    host = std::make_unique<WinHost>(*display->dddd, nullptr, nullptr, music);
  }
  void TearDown() override {
    host.reset();
    display.reset();
    EXPECT_EQ(test::halt_count, 0);
  }
  // A scratch surface whose pixel (x, y) is 1 + x + 10 y, with a 0 at (1, 0).
  SurfaceId pattern(std::int32_t w, std::int32_t h) {
    const SurfaceId id = host->create_scratch(w, h);
    for (std::int32_t y = 0; y < h; ++y)
      for (std::int32_t x = 0; x < w; ++x)
        host->dd_plot(id, x, y, static_cast<std::uint8_t>(1 + x + 10 * y));
    host->dd_plot(id, 1, 0, 0);
    return id;
  }
  std::uint32_t at(SurfaceId id, int x, int y) { return pixel(*host->surface(id), x, y); }

  FakeBgm music;
  std::unique_ptr<test::Display> display;
  std::unique_ptr<WinHost> host;
};

TEST_F(WinHostTest, ScratchSerialsAreUsedUpEvenWithoutASurface) {
  const SurfaceId a = host->create_scratch(0, 10);
  EXPECT_EQ(scratch_serial(a), 1u);
  EXPECT_EQ(host->surface_size(a), (Size{0, 0}));
  const SurfaceId b = host->create_scratch(3, 2);
  EXPECT_EQ(scratch_serial(b), 2u);
  EXPECT_EQ(host->surface_size(b), (Size{3, 2}));
  EXPECT_EQ(at(b, 2, 1), 0u);  // zero-filled
  host->free_surface(b);
  EXPECT_EQ(host->surface_size(b), (Size{0, 0}));
  EXPECT_EQ(host->surface_size(kFrame), (Size{320, 240}));
}

TEST_F(WinHostTest, KeyedAndPlainCopiesAndRefusedSources) {
  const SurfaceId src = pattern(4, 2);
  host->dd_fill_rect(kFrame, 0, 0, 320, 240, 200);
  host->dd_blit_rect(kFrame, src, 0, 0, 4, 2, 10, 10, true);
  EXPECT_EQ(at(kFrame, 10, 10), 1u);
  EXPECT_EQ(at(kFrame, 11, 10), 200u);  // the key 0 is skipped
  EXPECT_EQ(at(kFrame, 13, 11), 14u);
  host->dd_blit_rect(kFrame, src, 0, 0, 4, 2, 10, 10, false);
  EXPECT_EQ(at(kFrame, 11, 10), 0u);
  // Clipped against the destination's edge.
  host->dd_blit_rect(kFrame, src, 0, 0, 4, 2, 318, 238, false);
  EXPECT_EQ(at(kFrame, 319, 239), 12u);
  // A source rectangle that leaves the source copies nothing.
  host->dd_fill_rect(kFrame, 0, 0, 320, 240, 200);
  host->dd_blit_rect(kFrame, src, 1, 0, 4, 2, 0, 0, false);
  host->dd_blit_rect(kFrame, kFrame, 0, 0, 4, 2, 0, 0, false);
  EXPECT_EQ(at(kFrame, 0, 0), 200u);
  // Scaled: each source pixel doubled.
  host->dd_blit_rect_to(kFrame, src, 0, 0, 4, 2, 20, 20, 8, 4, false);
  EXPECT_EQ(at(kFrame, 21, 21), 1u);
  EXPECT_EQ(at(kFrame, 27, 23), 14u);
}

TEST_F(WinHostTest, FillsAndPlotsStayInside) {
  host->dd_fill_rect(kFrame, 0, 0, 320, 240, 0);
  host->dd_fill_rect(kFrame, -5, -5, 10, 10, 7);
  EXPECT_EQ(at(kFrame, 4, 4), 7u);
  EXPECT_EQ(at(kFrame, 5, 5), 0u);
  host->dd_fill_rect(kFrame, 300, 230, 100, 100, 8);
  EXPECT_EQ(at(kFrame, 319, 239), 8u);
  host->dd_fill_rect(kFrame, 50, 50, 0, 10, 9);
  EXPECT_EQ(at(kFrame, 50, 50), 0u);
  host->dd_plot(kFrame, 320, 0, 9);
  host->dd_plot(kFrame, -1, 0, 9);
  EXPECT_EQ(test::halt_count, 0);
}

TEST_F(WinHostTest, MosaicTakesEachBlocksTopLeftPixel) {
  const SurfaceId id = pattern(7, 6);
  host->dd_pixelate(id, 0);  // 0 means blocks of 5
  EXPECT_EQ(at(id, 4, 4), 1u);
  EXPECT_EQ(at(id, 6, 0), 6u);   // the cut block at the right edge
  EXPECT_EQ(at(id, 0, 5), 51u);  // and at the bottom
  EXPECT_EQ(at(id, 6, 5), 56u);
}

TEST_F(WinHostTest, ScreenshotIsAnEightBitBitmapInTheCurrentDirectory) {
  InTempDir cwd;
  for (std::size_t i = 0; i < 256; ++i) {
    display->dddd->PaletteEntries[i] = PALETTEENTRY{static_cast<BYTE>(i), 2, 3, PC_NOCOLLAPSE};
  }
  host->dd_fill_rect(kFrame, 0, 0, 320, 240, 5);
  host->dd_plot(kFrame, 0, 0, 9);      // top left
  host->dd_plot(kFrame, 319, 239, 4);  // bottom right
  EXPECT_FALSE(host->save_screenshot(kFrame, Palette{}, 7));
  std::ifstream in("ScrSht7.bmp", std::ios::binary);
  const std::vector<std::uint8_t> b(std::istreambuf_iterator<char>(in), {});
  in.close();
  std::remove("ScrSht7.bmp");
  ASSERT_EQ(b.size(), 1078u + 320u * 240u);
  EXPECT_EQ(b[0], 'B');
  EXPECT_EQ(b[28], 8);  // bits per pixel
  // Colour table: blue, green, red, 0.
  EXPECT_EQ(b[54 + 4 * 9], 3);
  EXPECT_EQ(b[54 + 4 * 9 + 2], 9);
  // Rows bottom-up: the file's first row is the picture's last.
  EXPECT_EQ(b[1078 + 319], 4);
  EXPECT_EQ(b[1078 + 239 * 320], 9);
  EXPECT_TRUE(host->save_screenshot(scratch_id(99), Palette{}, 1));
}

// Yesterday's pictures stay: each screenshot takes the first free number from
// the game's, and never one below the host's last.
TEST_F(WinHostTest, ScreenshotsNeverReplaceAFile) {
  InTempDir cwd;
  const auto exists = [](std::int64_t k) {
    return GetFileAttributesW(WinHost::ScreenshotName(k).c_str()) != INVALID_FILE_ATTRIBUTES;
  };
  for (std::int64_t k = 0; k < 8; ++k) {
    DeleteFileW(WinHost::ScreenshotName(k).c_str());
    RemoveDirectoryW(WinHost::ScreenshotName(k).c_str());
  }
  { std::ofstream("ScrSht0.bmp", std::ios::binary) << "yesterday"; }
  CreateDirectoryW(L"ScrSht3.bmp", nullptr);
  // The numbers the game hands over, and the files they end up in.
  const std::pair<std::int32_t, std::int64_t> shots[] = {{0, 1}, {1, 2}, {2, 4}, {0, 5}, {7, 7}};
  for (const auto& [n, k] : shots) {
    EXPECT_FALSE(host->save_screenshot(kFrame, Palette{}, n)) << n;
    EXPECT_TRUE(exists(k)) << n;
  }
  EXPECT_FALSE(exists(6));
  std::ifstream in("ScrSht0.bmp", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "yesterday");
  in.close();
  WIN32_FILE_ATTRIBUTE_DATA a{};
  ASSERT_TRUE(GetFileAttributesExW(L"ScrSht1.bmp", GetFileExInfoStandard, &a));
  EXPECT_EQ(a.nFileSizeLow, 1078u + 320u * 240u);
  for (std::int64_t k = 0; k < 8; ++k) DeleteFileW(WinHost::ScreenshotName(k).c_str());
  RemoveDirectoryW(L"ScrSht3.bmp");
}

TEST_F(WinHostTest, ALostWorkSurfaceTakesNoScreenshot) {
  InTempDir cwd;
  std::remove("ScrSht0.bmp");
  TGame game = TGame::create(TConfig{});
  // The frame stands on a surface that the display loses with the program's
  // activation: the primary's own.
  IDirectDrawSurface7* primary = display->dddd->Primary->Surface.get();
  primary->AddRef();
  ComRef<IDirectDrawSurface7> lost(primary);
  std::swap(host->frame().Surface, lost);
  SendMessageW(display->form.Handle(), WM_ACTIVATEAPP, FALSE, 0);
  ProcessMessages();
  ASSERT_TRUE(host->surface_lost(kFrame));
  EXPECT_EQ(game.save_screenshot(*host), std::nullopt);
  EXPECT_EQ(game.screenshot_number(), 0);
  EXPECT_EQ(GetFileAttributesA("ScrSht0.bmp"), INVALID_FILE_ATTRIBUTES);
  std::swap(host->frame().Surface, lost);
  EXPECT_FALSE(host->surface_lost(kFrame));
}

TEST_F(WinHostTest, ReplayFilesNeedTheirDirectory) {
  InTempDir cwd;
  std::remove("Rec\\Rec3.dat");
  RemoveDirectoryA("Rec");
  // The directory is not made: the recording fails.
  EXPECT_TRUE(host->open_for_write(3));
  EXPECT_EQ(GetFileAttributesA("Rec"), INVALID_FILE_ATTRIBUTES);
  ASSERT_TRUE(CreateDirectoryA("Rec", nullptr));
  // A recording takes the slot's place only at its commit; dropped, it leaves
  // nothing behind.
  EXPECT_FALSE(host->open_for_write(3));
  EXPECT_FALSE(host->write({9, 9}));
  host->close();
  EXPECT_FALSE(host->file_exists(3));
  EXPECT_FALSE(host->open_for_write(3));
  EXPECT_FALSE(host->write({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
  EXPECT_FALSE(host->file_exists(3));
  EXPECT_FALSE(host->commit());
  EXPECT_TRUE(host->commit()) << "nothing left to commit";
  EXPECT_TRUE(host->file_exists(3));
  WIN32_FIND_DATAA d;
  const HANDLE h = FindFirstFileA("Rec\\.*.tmp", &d);
  EXPECT_EQ(h, INVALID_HANDLE_VALUE) << d.cFileName;
  if (h != INVALID_HANDLE_VALUE) FindClose(h);
  EXPECT_FALSE(host->file_exists(4));
  EXPECT_FALSE(host->open_for_read(3));
  EXPECT_FALSE(host->seek_from_end(-8));
  EXPECT_EQ(host->read(8), (std::vector<std::uint8_t>{3, 4, 5, 6, 7, 8, 9, 10}));
  EXPECT_EQ(host->read(1), std::nullopt);  // short read
  EXPECT_TRUE(host->seek_from_start(-1));
  EXPECT_FALSE(host->seek_from_start(0));
  EXPECT_FALSE(host->write({42}));  // opened for reading and writing
  host->close();
  EXPECT_TRUE(host->write({1}));
  EXPECT_TRUE(host->seek_from_end(0));
  EXPECT_EQ(host->read(1), std::nullopt);

  // The next recording into the slot, dropped, leaves the replay as it was.
  EXPECT_FALSE(host->open_for_write(3));
  EXPECT_FALSE(host->write({7}));
  host->close();
  ASSERT_FALSE(host->open_for_read(3));
  EXPECT_FALSE(host->read_only());
  EXPECT_EQ(host->read(10), (std::vector<std::uint8_t>{42, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
  host->close();

  // A replay the player may read but not write (here another program lets
  // nobody write it) opens for reading only, and says so.
  const HANDLE reader = CreateFileA("Rec\\Rec3.dat", GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  ASSERT_FALSE(host->open_for_read(3));
  EXPECT_TRUE(host->read_only());
  EXPECT_EQ(host->read(2), (std::vector<std::uint8_t>{42, 2}));
  EXPECT_TRUE(host->write({1}));
  host->close();
  EXPECT_FALSE(host->read_only());
  CloseHandle(reader);
  std::remove("Rec\\Rec3.dat");
  RemoveDirectoryA("Rec");
}

TEST(FrameDue, EveryFrameWaitOrAtOnceWithShift) {
  struct Case {
    std::uint32_t now, last;
    bool shift, due;
  };
  const Case cases[] = {
      {1024, 1000, false, false},    {1025, 1000, false, true},      {1001, 1000, true, true},
      {1000, 1000, false, false},    {5, 0xFFFFFFF0u, false, false},  // across the wrap: 21 ms
      {9, 0xFFFFFFF0u, false, true},
  };
  for (const Case& c : cases) EXPECT_EQ(FrameDue(c.now, c.last, c.shift), c.due) << c.now;
}

}  // namespace
}  // namespace zt::win
