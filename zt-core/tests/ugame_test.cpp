#include "game/ugame.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "memory_host.h"
#include "mock_host.h"
#include "tgame_probe.h"

namespace zt {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

TConfig settings_with(std::uint8_t flags) {
  TConfig c;
  c.flags = flags;
  return c;
}

TEST(SineTable, HoldsRoundedSinesOfTheCircle) {
  EXPECT_EQ(kSineTable[0], 0);
  EXPECT_EQ(kSineTable[1], 25);
  EXPECT_EQ(kSineTable[2], 50);
  EXPECT_EQ(kSineTable[3], 75);
  EXPECT_EQ(kSineTable[4], 100);
  EXPECT_EQ(kSineTable[64], 1024);
  EXPECT_EQ(kSineTable[128], 0);
  EXPECT_EQ(kSineTable[192], -1024);
  EXPECT_EQ(kSineTable[255], -25);
  const long double pi = 3.141592653589793238462643383279502884L;
  for (int i = 0; i < 256; ++i) {
    const long double exact = std::sin(2.0L * pi * i / 256.0L) * 1024.0L;
    // No entry lies near a tie, so the nearest integer is unambiguous.
    EXPECT_LT(std::fabs(exact - kSineTable[static_cast<std::size_t>(i)]), 0.4999L) << i;
  }
  EXPECT_EQ(sine_at(256 + 64), 1024);
  EXPECT_EQ(sine_at(-1), -25);
}

TEST(GameError, TextsAreTheUsersMessages) {
  EXPECT_EQ(text(GameError::Recording), "could not read or write the recording");
  EXPECT_EQ(text(GameError::Screenshot), "could not save the screenshot");
}

TEST(Creation, StartsBeforeTheFirstStateWithTheSettingsCopied) {
  TConfig c = settings_with(kPlaySE | kMiniScreen);
  c.gravity = -0.5;
  c.collision_constant = 0.25;
  TGame g = TGame::create(c);
  EXPECT_EQ(g.state(), kStateNone);
  EXPECT_EQ(g.frame_counter(), 1);
  EXPECT_EQ(g.banner_frame_counter(), 1);
  EXPECT_EQ(g.player_name(), "ANONYMOUS");
  EXPECT_EQ(g.settings().flags, kPlaySE | kMiniScreen);
  EXPECT_EQ(g.play().gauge, 2000);
  EXPECT_EQ(g.play().table_rank, -1);
  EXPECT_EQ(g.play().gravity, -0.5);
  EXPECT_EQ(g.play().collision_constant, 0.25);
  EXPECT_EQ(g.screen_size(), (Size{320, 240}));
  EXPECT_EQ(g.random_state(), 0u);
  EXPECT_EQ(g.rnd().seed(), 1);
  EXPECT_EQ(g.rnd().x(), 1);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(g.slots().slot(i).x, 160);
    EXPECT_EQ(g.slots().slot(i).y, 120);
  }
  EXPECT_FALSE(g.gravity_changer().has_value());
  EXPECT_EQ(g.recorder().state(), RecState::Idle);
  EXPECT_FALSE(g.bgm().on());
  EXPECT_FALSE(g.quit());
}

TEST(ScoreTable, BytesWhenTheTableDiffersFromTheFile) {
  TGame g = TGame::create(TConfig{});
  // No file: the default table is written on exit.
  EXPECT_EQ(g.hiscore_load(std::nullopt), HiScoreLoad::Missing);
  const std::optional<ScoreFileImage> defaults = g.hiscore_bytes();
  ASSERT_TRUE(defaults.has_value());
  EXPECT_FALSE(g.hiscore_bytes().has_value());

  TGame h = TGame::create(TConfig{});
  EXPECT_EQ(h.hiscore_load(std::vector<std::uint8_t>(defaults->begin(), defaults->end())),
            HiScoreLoad::Loaded);
  EXPECT_FALSE(h.hiscore_bytes().has_value());
  TGameProbe::hiscore(h).insert("NEW", 999999, 45000.0);
  EXPECT_TRUE(h.hiscore_bytes().has_value());
}

class StepFrameTest : public ::testing::Test {
 protected:
  MemoryHost host;
  TGame game = TGame::create(TConfig{});
};

TEST_F(StepFrameTest, CountersRunEveryFrameAndRestartAtASwitch) {
  game.set_state(kStateTitle, host);
  EXPECT_EQ(game.frame_counter(), 0);
  game.step_frame(host);
  EXPECT_EQ(game.frame_counter(), 1);
  EXPECT_EQ(game.banner_frame_counter(), 2);
  game.step_frame(host);
  game.set_state(kStateOptions, host);
  game.step_frame(host);
  EXPECT_EQ(game.frame_counter(), 1);
  EXPECT_EQ(game.banner_frame_counter(), 4);
  EXPECT_EQ(game.previous_state(), kStateTitle);
}

TEST_F(StepFrameTest, FramesPerSecondCountsWholeSecondsOfTheClock) {
  game.set_state(kStateTitle, host);
  // 40 frames a second: the figure stays 0 until the clock first enters a
  // new second, then shows the frames of the second before.
  for (int i = 0; i < 40; ++i) {
    host.ms = static_cast<std::uint32_t>(25 * i);
    game.step_frame(host);
    EXPECT_EQ(game.fps_shown(), 0);
  }
  EXPECT_EQ(game.fps_frames(), 40);
  host.ms = 1000;
  game.step_frame(host);
  EXPECT_EQ(game.fps_shown(), 40);
  EXPECT_EQ(game.fps_frames(), 1);
  // A slow second of 10 frames; the count starts where the second starts.
  for (int i = 1; i < 10; ++i) {
    host.ms = static_cast<std::uint32_t>(1000 + 100 * i);
    game.step_frame(host);
  }
  host.ms = 2050;
  game.step_frame(host);
  EXPECT_EQ(game.fps_shown(), 10);
  // A stall over several seconds shows only what the last counted second had.
  host.ms = 7999;
  game.step_frame(host);
  EXPECT_EQ(game.fps_shown(), 1);
  host.ms = 7999;
  game.step_frame(host);
  EXPECT_EQ(game.fps_frames(), 2);
}

TEST_F(StepFrameTest, AClockStartingLateShowsZeroFirst) {
  game.set_state(kStateTitle, host);
  host.ms = 123456;
  game.step_frame(host);
  EXPECT_EQ(game.fps_shown(), 0);
  EXPECT_EQ(game.fps_frames(), 1);
}

struct LeaveCase {
  std::uint8_t state;
  std::int32_t key;
  bool exit_with_rbtn;
  std::uint8_t expected_state;
  bool expected_quit;
};

class LeaveKeys : public ::testing::TestWithParam<LeaveCase> {};

TEST_P(LeaveKeys, ActByState) {
  const LeaveCase c = GetParam();
  MemoryHost host;
  TGame game = TGame::create(settings_with(c.exit_with_rbtn ? kExitWithRBtn : 0));
  if (c.state != kStateLogo) game.set_state(kStateLogo, host);
  game.set_state(c.state, host);
  host.press(c.key);
  EXPECT_EQ(game.step_frame(host), std::nullopt);
  EXPECT_EQ(game.state(), c.expected_state);
  EXPECT_EQ(game.quit(), c.expected_quit);
}

INSTANTIATE_TEST_SUITE_P(
    AllStates, LeaveKeys,
    ::testing::Values(LeaveCase{kStateLogo, kKeyEsc, false, kStateLogo, true},
                      LeaveCase{kStateLogo, kKeyQ, false, kStateLogo, true},
                      LeaveCase{kStateLogo, kKeyRButton, true, kStateLogo, true},
                      LeaveCase{kStateLogo, kKeyRButton, false, kStateLogo, false},
                      LeaveCase{kStateTitle, kKeyEsc, false, kStateExit, false},
                      LeaveCase{kStateTitle, kKeyQ, false, kStateExit, false},
                      LeaveCase{kStateTitle, kKeyRButton, true, kStateExit, false},
                      LeaveCase{kStateTitle, kKeyRButton, false, kStateTitle, false},
                      LeaveCase{kStateOptions, kKeyEsc, false, kStateTitle, false},
                      LeaveCase{kStateSlots, kKeyQ, false, kStateTitle, false},
                      LeaveCase{kStateIntro, kKeyRButton, true, kStateTitle, false},
                      LeaveCase{kStatePlay, kKeyEsc, false, kStateTitle, false},
                      LeaveCase{kStatePlay, kKeyRButton, false, kStatePlay, false},
                      LeaveCase{kStateLineCut, kKeyQ, false, kStateTitle, false},
                      LeaveCase{kStateResult, kKeyEsc, false, kStateTitle, false},
                      LeaveCase{kStateNameEntry, kKeyEsc, false, kStateTitle, false},
                      LeaveCase{kStatePause, kKeyQ, false, kStateTitle, false},
                      LeaveCase{kStateTop10, kKeyEsc, false, kStateTitle, false},
                      LeaveCase{kStateExit, kKeyEsc, false, kStateExit, false},
                      LeaveCase{kStateExit, kKeyRButton, true, kStateExit, false},
                      // Other keys leave nothing: P pauses, a click flips an option.
                      LeaveCase{kStatePlay, kKeyP, false, kStatePause, false},
                      LeaveCase{kStateOptions, kKeyLButton, true, kStateOptions, false}));

// The unfinished recording is dropped: the slot keeps the replay it had.
TEST_F(StepFrameTest, LeavingAPlayDropsItsRecording) {
  const std::vector<std::uint8_t> older(RecHeaderRaw::kSize + 2 * Frame::kSize, 0x11);
  host.files.files[3] = older;
  game.set_state(kStatePlay, host);
  TGameProbe::recorder(game).start_record(3, host.recorder_io());
  TGameProbe::recorder(game).write_frame(417, 0, host.recorder_io());
  TGameProbe::recorder(game).write_frame(100, 120, host.recorder_io());
  ASSERT_EQ(game.recorder().state(), RecState::Recording);
  host.press(kKeyEsc);
  game.step_frame(host);
  EXPECT_EQ(game.state(), kStateTitle);
  EXPECT_EQ(game.recorder().state(), RecState::Idle);
  EXPECT_FALSE(host.files.is_open());
  EXPECT_EQ(host.files.files.at(3), older);
}

TEST_F(StepFrameTest, LeavingAReplayClosesItsFile) {
  // A finished recording: header, seed frame, one point, end frame.
  std::vector<std::uint8_t> file(RecHeaderRaw::kSize, 0);
  for (const Frame f : {Frame{5, 0}, Frame{1, 2}, Frame::end()}) {
    const auto b = f.encode();
    file.insert(file.end(), b.begin(), b.end());
  }
  host.files.files[4] = file;
  game.set_state(kStateIntro, host);
  TGameProbe::recorder(game).start_play(4, host.recorder_io());
  ASSERT_EQ(game.recorder().state(), RecState::Playing);
  host.press(kKeyQ);
  game.step_frame(host);
  EXPECT_EQ(game.state(), kStateTitle);
  EXPECT_EQ(game.recorder().state(), RecState::Idle);
  EXPECT_FALSE(host.files.is_open());
  EXPECT_EQ(host.files.files.at(4), file);
}

TEST_F(StepFrameTest, AKeyIsActedOnOnce) {
  game.set_state(kStateOptions, host);
  host.press(kKeyEsc);
  game.step_frame(host);
  ASSERT_EQ(game.state(), kStateTitle);
  // The switch cleared Esc: the menu does not go on to the exit screen.
  game.step_frame(host);
  EXPECT_EQ(game.state(), kStateTitle);
  EXPECT_FALSE(host.key_down(kKeyEsc));
}

TEST_F(StepFrameTest, ASwitchClearsTheKeysItConsumes) {
  for (std::int32_t k = 0; k < 256; ++k) host.press(k);
  game.set_state(kStateTitle, host);
  EXPECT_THAT(host.cleared, ElementsAre(80, 81, 82, 83, 27, 67, 1, 2));
  EXPECT_TRUE(host.key_down(kKeyMButton));
  EXPECT_FALSE(host.key_down(kKeyR));
  host.cleared.clear();
  const std::int32_t fc = game.frame_counter();
  game.set_state(kStateTitle, host);  // the same state: nothing at all
  EXPECT_TRUE(host.cleared.empty());
  EXPECT_EQ(game.frame_counter(), fc);
}

TEST_F(StepFrameTest, ScreenshotsAreNumberedWhileSIsHeld) {
  game.set_state(kStateTitle, host);
  host.frame().at(3, 4) = 77;
  host.press(kKeyS);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(game.step_frame(host), std::nullopt);
  ASSERT_EQ(host.screenshots.size(), 3u);
  for (std::int32_t i = 0; i < 3; ++i) {
    EXPECT_EQ(host.screenshots[static_cast<std::size_t>(i)].number, i);
    EXPECT_EQ(host.screenshots[static_cast<std::size_t>(i)].palette, game.shown_palette());
    EXPECT_EQ(host.screenshots[static_cast<std::size_t>(i)].pixels, host.frame().pixels);
  }
  EXPECT_EQ(game.screenshot_number(), 3);
  EXPECT_EQ(host.sounds, (std::vector<MemoryHost::Sound>(3, {"select", 9})));
  host.release(kKeyS);
  game.step_frame(host);
  EXPECT_EQ(host.screenshots.size(), 3u);
}

TEST_F(StepFrameTest, AFailedScreenshotEndsTheFrameWithItsError) {
  game.set_state(kStateTitle, host);
  host.press(kKeyS);
  host.fail_screenshots = true;
  EXPECT_EQ(game.step_frame(host), GameError::Screenshot);
  EXPECT_EQ(game.screenshot_number(), 0);
  EXPECT_TRUE(host.sounds.empty());
  host.fail_screenshots = false;
  EXPECT_EQ(game.step_frame(host), std::nullopt);
  ASSERT_EQ(host.screenshots.size(), 1u);
  EXPECT_EQ(host.screenshots[0].number, 0);
}

TEST_F(StepFrameTest, ALostFrameTakesNoScreenshotAndIsNoError) {
  game.set_state(kStateTitle, host);
  host.press(kKeyS);
  host.frame_lost = true;
  EXPECT_EQ(game.step_frame(host), std::nullopt);
  EXPECT_TRUE(host.screenshots.empty());
  EXPECT_EQ(game.screenshot_number(), 0);
  EXPECT_TRUE(host.sounds.empty());
  // Restored: the next one is the first.
  host.frame_lost = false;
  game.step_frame(host);
  ASSERT_EQ(host.screenshots.size(), 1u);
  EXPECT_EQ(host.screenshots[0].number, 0);
}

TEST_F(StepFrameTest, TheExitScreenTakesNoScreenshot) {
  game.set_state(kStateExit, host);
  host.press(kKeyS);
  game.step_frame(host);
  EXPECT_TRUE(host.screenshots.empty());
}

TEST_F(StepFrameTest, ALeaveKeyAndSInOneFrameDoBoth) {
  game.set_state(kStatePause, host);
  host.press(kKeyEsc);
  host.press(kKeyS);
  game.step_frame(host);
  // The switch to the menu cleared S before the screenshot step read it.
  EXPECT_EQ(game.state(), kStateTitle);
  EXPECT_TRUE(host.screenshots.empty());
}

class PaletteTest : public ::testing::Test {
 protected:
  MemoryHost host;
  TGame game = TGame::create(TConfig{});
  const Palette logo = ramp_palette(0x11);
  const Palette ball = ramp_palette(0x22);
};

TEST_F(PaletteTest, TheLogoHasItsOwnPaletteAndEveryOtherScreenTheMainOne) {
  game.set_state(kStateLogo, host);
  EXPECT_THAT(host.loads, ElementsAre("logo.bmp"));
  EXPECT_EQ(game.base_palette(), logo);
  EXPECT_EQ(game.shown_palette(), logo);
  EXPECT_EQ(host.palette, logo);
  game.set_state(kStateTitle, host);
  EXPECT_THAT(host.loads, ElementsAre("logo.bmp", "ball.bmp"));
  EXPECT_EQ(game.base_palette(), ball);
  EXPECT_EQ(host.palette, ball);
  game.set_palette_level(100, host);
  game.set_state(kStateOptions, host);
  EXPECT_EQ(host.loads.size(), 2u);
  EXPECT_EQ(game.shown_palette(), ball);  // back to full level
  EXPECT_EQ(host.palette, ball);
}

TEST_F(PaletteTest, AMissingPictureKeepsThePalette) {
  BitmapLibrary lib = blank_library();
  std::erase_if(lib, [](const NamedBitmap& b) { return b.name == "ball.bmp"; });
  MemoryHost bare(std::move(lib));
  game.set_state(kStateLogo, bare);
  game.set_state(kStateTitle, bare);
  EXPECT_EQ(game.base_palette(), logo);
  EXPECT_EQ(game.state(), kStateTitle);
}

TEST_F(PaletteTest, BackColourFollowsTheState) {
  for (std::uint8_t s = 1; s <= 12; ++s) {
    game.set_state(s, host);
    EXPECT_EQ(game.back_colour(), s < 5 ? 0 : 13) << int{s};
  }
}

TEST_F(PaletteTest, FadeLevelsScaleColoursAndClamp) {
  game.set_state(kStateLogo, host);
  struct Case {
    std::int32_t level;
    std::int32_t effective;
  };
  for (const Case c :
       {Case{-40, 0}, Case{0, 0}, Case{1, 1}, Case{128, 128}, Case{255, 255}, Case{300, 255}}) {
    game.set_palette_level(c.level, host);
    const Palette& p = host.palette;
    for (std::size_t e = 0; e < 256; ++e) {
      for (std::size_t b = 0; b < 3; ++b) {
        ASSERT_EQ(p[e * 4 + b], logo[e * 4 + b] * c.effective / 255)
            << "level " << c.level << " entry " << e;
      }
      ASSERT_EQ(p[e * 4 + 3], 0x11) << "the fourth byte is never faded";
    }
  }
}

TEST(Present, CopiesTheFrameOntoThePresentationSurfaceAndShowsIt) {
  struct Case {
    std::uint8_t flags;
    Size screen;
    std::int32_t dx, dy, dw, dh;
  };
  for (const Case c :
       {Case{0, {320, 240}, 0, 0, 320, 240}, Case{kMiniScreen, {320, 240}, 0, 0, 320, 240},
        Case{0, {640, 480}, 0, 0, 640, 480}, Case{kMiniScreen, {640, 480}, 160, 120, 320, 240},
        Case{kMiniScreen, {800, 600}, 240, 180, 320, 240}}) {
    ::testing::NiceMock<testing::MockHost> mock;
    TGame game = TGame::create(settings_with(c.flags));
    game.set_screen_size(c.screen.width, c.screen.height);
    ON_CALL(mock, surface_size(kFrame)).WillByDefault(::testing::Return(Size{320, 240}));
    ::testing::InSequence seq;
    EXPECT_CALL(mock,
                dd_blit_rect_to(kPresent, kFrame, 0, 0, 320, 240, c.dx, c.dy, c.dw, c.dh, false));
    EXPECT_CALL(mock, present());
    game.present(mock);
  }
}

TEST(Present, TheLinuxPictureIsTheSameWithAMiniScreen) {
  MemoryHost a;
  MemoryHost b;
  TGame ga = TGame::create(settings_with(0));
  TGame gb = TGame::create(settings_with(kMiniScreen));
  for (MemoryHost* h : {&a, &b}) h->frame().at(10, 20) = 5;
  ga.present(a);
  gb.present(b);
  ASSERT_EQ(a.presented.size(), 1u);
  ASSERT_EQ(b.presented.size(), 1u);
  EXPECT_EQ(a.presented[0].hash, b.presented[0].hash);
  EXPECT_EQ(a.surface(kPresent)->pixels, b.surface(kPresent)->pixels);
  EXPECT_EQ(a.surface(kPresent)->pixels, a.frame().pixels);
}

TEST(Pointer, MapsBetweenTheScreenAndTheField) {
  struct Case {
    Size screen;
    Point host_pos;
    Point field_pos;
    Point warp_to;
    Point warped;
  };
  for (const Case c : {Case{{320, 240}, {319, 239}, {319, 239}, {160, 120}, {160, 120}},
                       Case{{640, 480}, {639, 479}, {319, 239}, {160, 120}, {320, 240}},
                       Case{{640, 480}, {1, 1}, {0, 0}, {1, 1}, {2, 2}},
                       Case{{800, 600}, {799, 599}, {319, 239}, {319, 239}, {797, 597}},
                       Case{{800, 600}, {3, 3}, {1, 1}, {0, 130}, {0, 325}}}) {
    MemoryHost host;
    TGame game = TGame::create(TConfig{});
    game.set_screen_size(c.screen.width, c.screen.height);
    host.set_pointer(c.host_pos.x, c.host_pos.y);
    EXPECT_EQ(game.pointer_pos(host), c.field_pos);
    game.warp_pointer(c.warp_to.x, c.warp_to.y, host);
    EXPECT_EQ(host.pointer(), c.warped);
  }
}

TEST(FormatDateTime, GivesTheCivilDateAndTimeOfDay) {
  struct Case {
    double d;
    const char* date;
    const char* time;
  };
  const double last_tick = std::nextafter(45001.0, 0.0);  // 0.0006 ms before midnight
  const Case cases[] = {
      {0.0, "1899/12/30", "00:00:00"},
      {0.5, "1899/12/30", "12:00:00"},
      {2.0, "1900/01/01", "00:00:00"},
      {25569.75, "1970/01/01", "18:00:00"},
      {36585.0, "2000/02/29", "00:00:00"},
      {45000.0 + (3600.0 * 13 + 60 * 7 + 9) / 86400.0, "2023/03/15", "13:07:09"},
      // Within half a millisecond of midnight the time rounds up to 00:00:00
      // while the day stays.
      {last_tick, "2023/03/15", "00:00:00"},
      {45001.0 - 0.6 / 86400000.0, "2023/03/15", "23:59:59"},
      // Negative date-times: whole days toward zero, the fraction wrapped
      // into the day.
      {-1.0, "1899/12/29", "00:00:00"},
      {-1.25, "1899/12/29", "18:00:00"},
      {-0.25, "1899/12/30", "18:00:00"},
      {-693593.0, "0001/01/01", "00:00:00"},
      {-693593.75, "0001/01/01", "06:00:00"},
      {2958465.0, "9999/12/31", "00:00:00"},
      {std::nextafter(2958466.0, 0.0), "9999/12/31", "00:00:00"},
  };
  for (const Case& c : cases) {
    const DateTimeText t = format_tdatetime(c.d);
    EXPECT_EQ(t.date, c.date) << c.d;
    EXPECT_EQ(t.time, c.time) << c.d;
  }
}

TEST(FormatDateTime, DatesNoCalendarHoldsTakeTheFieldOfAnOrdinaryDate) {
  // A replay header or a score entry is read from outside: whatever date it
  // holds, the texts are no wider than those of an ordinary date.
  const double inf = std::numeric_limits<double>::infinity();
  for (const double d :
       {std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::quiet_NaN(), inf,
        -inf, 1e300, -1e300, 9.3e18, -9.3e18, -693594.0, 2958466.0}) {
    const DateTimeText t = format_tdatetime(d);
    EXPECT_EQ(t.date, "----/--/--") << d;
    EXPECT_EQ(t.time, "--:--:--") << d;
  }
}

TEST(Headless, PresentedFramesCarryTheirPaletteAndHash) {
  MemoryHost host;
  TGame game = TGame::create(TConfig{});
  game.set_state(kStateLogo, host);
  game.present(host);
  host.frame().at(0, 0) = 1;
  game.set_palette_level(0, host);
  game.present(host);
  ASSERT_EQ(host.presented.size(), 2u);
  EXPECT_EQ(host.presented[0].palette, ramp_palette(0x11));
  EXPECT_EQ(host.presented[1].pixels[0], 1);
  EXPECT_EQ(host.presented[1].palette[4], 0);
  EXPECT_NE(host.presented[0].hash, host.presented[1].hash);
  EXPECT_EQ(host.presented[1].hash, frame_hash(host.frame().pixels, host.palette));
}

}  // namespace
}  // namespace zt
