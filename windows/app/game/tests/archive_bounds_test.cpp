// The sheet and sound loaders on small archives that expand: a sheet beyond
// the bounds ends the program as a missing one does, an effect beyond them
// stays silent while the others play.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "display_fixture.h"
#include "game_window.h"
#include "hostile_qda.h"
#include "media_form.h"
#include "media_test_support.h"
#include "sounds.h"
#include "surfaces.h"

namespace zt::win {
namespace {

using test::Bytes;

// The temporary directory as the current one, where the loaders look.
class InDataDir : public ::testing::Test {
 protected:
  void SetUp() override {
    test::reset_logs();
    GetCurrentDirectoryA(MAX_PATH, old_dir_);
    SetCurrentDirectoryA(test::temp_dir().c_str());
  }
  void TearDown() override {
    SetCurrentDirectoryA(old_dir_);
    EXPECT_EQ(test::halt_count, 0);
  }

 private:
  char old_dir_[MAX_PATH];
};

Bytes expanding_images(std::size_t entries, std::int32_t width, std::int32_t height) {
  std::vector<std::string> names;
  for (const SheetCut& c : kSheetCuts) names.push_back(c.member);
  while (names.size() < entries) names.push_back("extra" + std::to_string(names.size()) + ".bmp");
  const Bytes head = test::bmp_headers(width, height);
  const std::uint64_t rows = (std::uint64_t(width) + 3) / 4 * 4 * std::uint64_t(height);
  return test::shared_member_qda(names, test::bpe_run(head, 0, rows),
                                 static_cast<std::uint32_t>(head.size() + rows));
}

using SheetsOnExpandingArchives = InDataDir;

TEST_F(SheetsOnExpandingArchives, ASheetBeyondTheBoundsEndsTheProgram) {
  test::Display display(640, 480, 8, {ddoHaltOnError});
  ASSERT_EQ(display.dddd->BitDepth, 8);
  std::vector<test::QdaMember> fitting;
  for (const SheetCut& c : kSheetCuts) {
    fitting.push_back({c.member, test::make_bmp(test::solid_picture(c.width, c.height, 8, 1))});
  }
  struct Case {
    const char* what;
    Bytes archive;
    bool loads;
  } cases[] = {
      {"the game's sheets", test::make_qda_plain(fitting), true},
      {"20 sheets naming one 4096 x 16000 bitmap", expanding_images(20, 4096, 16000), false},
      {"100 entries naming it", expanding_images(100, 4096, 16000), false},
      {"a sheet of absurd size", expanding_images(20, 60000, 200), false},
      {"sheets of 4 MiB, 20 of them", expanding_images(20, 2048, 2048), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::write_temp("images.qda", c.archive);
    bool loaded = false;
    try {
      TSurfaces sheets(*display.dddd);
      loaded = true;
    } catch (const ESheetsMissing&) {
    }
    EXPECT_EQ(loaded, c.loads);
  }
}

// The game window itself: without its sheets its run ends by itself, before
// it shows anything, through the shutdown of every end: the settings written
// and the display mode given back, with the status of a failure. (A message
// box would hold the run.)
TEST(GameWindowOnExpandingArchives, EndsThroughItsShutdownWithoutAMessage) {
  const std::wstring settings = SettingsPathBesideExe();
  DeleteFileW(settings.c_str());
  const DEVMODEW before = test::current_display_mode();
  test::write_temp("images.qda", expanding_images(20, 4096, 16000));
  SetCurrentDirectoryA(test::temp_dir().c_str());
  {
    TForm1 window;
    window.Run();
    EXPECT_EQ(window.ExitCode(), 1);
  }
  EXPECT_NE(GetFileAttributesW(settings.c_str()), INVALID_FILE_ATTRIBUTES);
  DeleteFileW(settings.c_str());
  const DEVMODEW after = test::current_display_mode();
  EXPECT_EQ(after.dmPelsWidth, before.dmPelsWidth);
  EXPECT_EQ(after.dmBitsPerPel, before.dmBitsPerPel);
}

using SoundsOnExpandingArchives = InDataDir;

test::PackedMember packed_wav(const std::string& name, std::uint32_t rate, std::uint16_t bits,
                              std::uint16_t channels, std::uint32_t data_bytes) {
  const Bytes head = test::wav_headers(rate, bits, channels, data_bytes);
  return {name, test::bpe_run(head, 0xC0, data_bytes),
          static_cast<std::uint32_t>(head.size() + data_bytes)};
}

TEST_F(SoundsOnExpandingArchives, EffectsBeyondTheBoundsStaySilent) {
  // Three clips of 60 MB, one at 1000 Hz for hours, and the rest short.
  test::write_temp("sounds.qda", test::packed_qda({
                                     packed_wav("gravitychange.wav", 44100, 16, 2, 60'000'000),
                                     packed_wav("explosion1.wav", 44100, 16, 2, 60'000'000),
                                     packed_wav("bound.wav", 44100, 16, 2, 60'000'000),
                                     packed_wav("cutwarn.wav", 1000, 8, 1, 10'000'000),
                                     packed_wav("select.wav", 1000, 8, 1, 20000),
                                     packed_wav("destroy0.wav", 22050, 16, 1, 22050 * 2 * 20),
                                     packed_wav("destroy1.wav", 22050, 16, 1, 22050 * 2 * 20),
                                 }));
  TMediaForm form{L"sound bounds test", 64, 64};
  TDDSD ddsd(form);
  ddsd.SetDebugOption({dsoHaltOnError});
  form.Create();
  ASSERT_TRUE(ddsd.Initialised);
  TSounds sounds(ddsd);
  const struct {
    const char* name;
    bool sounds;
  } cases[] = {{"gravitychange", false}, {"explosion1", false}, {"bound", false},
               {"cutwarn", false},       {"select", true},      {"destroy0", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (std::int32_t ch = 0; ch < 8; ++ch) ddsd.GetChannel(ch)->Stop();
    sounds.Play(c.name, 5);
    bool playing = false;
    for (std::int32_t ch = 0; ch < 8; ++ch) playing |= ddsd.GetChannel(ch)->GetStatus() != 0;
    EXPECT_EQ(playing, c.sounds);
  }
}

}  // namespace
}  // namespace zt::win
