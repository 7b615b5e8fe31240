// The screens around the play, driven through step_frame with the pointer and
// the keys of the in-memory host.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <utility>

#include "game/ugame.h"
#include "game_fixture.h"
#include "memory_host.h"
#include "tgame_probe.h"

namespace zt {
namespace {

using namespace testing_game;

class ScreensTest : public ::testing::Test {
 protected:
  void open(std::uint8_t state) {
    game.set_state(kStateLogo, host);
    game.set_state(kStateTitle, host);
    game.set_state(state, host);
  }
  void frames(int n) {
    for (int i = 0; i < n; ++i) ASSERT_EQ(game.step_frame(host), std::nullopt);
  }
  void click_at(std::int32_t x, std::int32_t y) {
    click(host, x, y);
    frames(1);
  }

  static TConfig no_flags() {
    TConfig c;
    c.flags = 0;
    return c;
  }

  MemoryHost host;
  TGame game = TGame::create(no_flags());
};

TEST_F(ScreensTest, TheLogoFadesInAndGivesWayToTheTitleOnFrame180) {
  game.set_state(kStateLogo, host);
  frames(1);
  // Level 1 x 255 div 30 = 8 on the logo's ramp palette (red of entry i is i).
  EXPECT_EQ(game.shown_palette()[4 * 255], 255 * 8 / 255);
  frames(178);
  EXPECT_EQ(game.state(), kStateLogo);
  host.presented.clear();
  frames(1);
  EXPECT_EQ(game.state(), kStateTitle);
  // The last logo picture, then a black one.
  ASSERT_EQ(host.presented.size(), 2u);
  EXPECT_THAT(host.presented[1].pixels, ::testing::Each(0));
  // The title has the main palette and fades in from the logo.
  frames(1);
  EXPECT_EQ(game.shown_palette()[4 * 200], 200 * 5 / 255);
  EXPECT_EQ(game.base_palette()[3], 0x22);
}

TEST_F(ScreensTest, TitleRowsAreHitInTheirBandsOnly) {
  struct Case {
    std::int32_t x;
    std::int32_t y;
    bool experiment;
    std::uint8_t expected;
    std::uint8_t slot_mode;
  };
  for (const Case c : {
           Case{100, 130, false, kStateIntro, 0},
           Case{100, 134, false, kStateIntro, 0},
           Case{100, 135, false, kStateTitle, 0},  // the gap between rows
           Case{100, 139, false, kStateTitle, 0},
           Case{100, 125, false, kStateIntro, 0},  // held at y 130
           Case{319, 130, false, kStateTitle, 0},  // right of the band
           Case{0, 145, false, kStateTop10, 0},
           Case{318, 160, false, kStateOptions, 0},
           Case{100, 175, false, kStateSlots, 2},
           Case{100, 190, false, kStateSlots, 1},
           Case{100, 205, false, kStateExit, 0},
           Case{100, 239, false, kStateExit, 0},  // held at y 205
           Case{100, 175, true, kStateTitle, 0},  // no recording in experiment mode
           Case{100, 190, true, kStateTitle, 0},
           Case{100, 205, true, kStateExit, 0},
       }) {
    SCOPED_TRACE(::testing::Message() << c.x << "," << c.y << (c.experiment ? " experiment" : ""));
    game = TGame::create(no_flags());
    TGameProbe::settings(game).experiment = c.experiment;
    open(kStateTitle);
    frames(1);  // the first frame puts the pointer at (0, 130)
    EXPECT_EQ(host.pointer(), (Point{0, 130}));
    click_at(c.x, c.y);
    EXPECT_EQ(game.state(), c.expected);
    EXPECT_EQ(game.slot_mode(), c.slot_mode);
    host.release(kKeyLButton);
  }
}

TEST_F(ScreensTest, NewGameRecordsIntoSlotOneWithAutomaticSave) {
  TGameProbe::settings(game).flags = kAutoSaveAt1;
  open(kStateTitle);
  frames(1);
  click_at(100, 130);
  EXPECT_EQ(game.state(), kStateIntro);
  EXPECT_EQ(game.recorder().state(), RecState::Recording);
  EXPECT_EQ(game.recorder().slot(), 1);
  EXPECT_TRUE(game.play().name_known);
  EXPECT_EQ(host.sounds.back(), (MemoryHost::Sound{"select", 5}));
}

TEST_F(ScreensTest, TheDemonstrationStartsOnFrame1000WhenSlotZeroHoldsAReplay) {
  RecHeaderRaw h;
  h.date = 1.0;
  h.format_mark = 3;
  struct Case {
    bool file;
    bool experiment;
    bool started;
  };
  for (const Case c :
       {Case{true, false, true}, Case{false, false, false}, Case{true, true, false}}) {
    game = TGame::create(no_flags());
    TGameProbe::settings(game).experiment = c.experiment;
    host.files.files.erase(0);
    if (c.file) host.files.files[0] = replay_file(h, 3, {{50, 50}});
    open(kStateTitle);
    frames(999);
    ASSERT_EQ(game.state(), kStateTitle);
    frames(1);
    EXPECT_EQ(game.state(), c.started ? kStateIntro : kStateTitle);
    EXPECT_EQ(game.play().demonstration, c.started);
  }
}

TEST_F(ScreensTest, AClickOnTheDemonstrationBannerReturnsToTheTitle) {
  RecHeaderRaw h;
  h.date = 1.0;
  h.score = 77;
  h.format_mark = 3;
  host.files.files[0] = replay_file(h, 3, std::vector<Frame>(200, Frame{50, 50}));
  const std::vector<std::uint8_t> original = host.files.files[0];
  for (const int play_frames : {0, 5}) {
    game = TGame::create(no_flags());
    open(kStateTitle);
    frames(1000);
    ASSERT_EQ(game.state(), kStateIntro);
    if (play_frames > 0) {
      ASSERT_TRUE(run_until(game, host, kStatePlay, 100));
      frames(play_frames);
    }
    click_at(10, 10);
    EXPECT_EQ(game.state(), kStateTitle);
    EXPECT_EQ(game.recorder().state(), RecState::Idle);
    EXPECT_EQ(host.files.files.at(0), original);
  }
}

TEST_F(ScreensTest, EachOptionRowFlipsItsOwnFlag) {
  struct Case {
    std::int32_t y;
    std::uint8_t flipped;
  };
  for (const Case c :
       {Case{65, kDrawBackground}, Case{57, kDrawBackground}, Case{72, kDrawBackground},
        Case{73, 0}, Case{76, 0}, Case{77, kPlaySE}, Case{125, kShowEachScore},
        Case{145, kAutoSaveAt1}, Case{165, kExitWithRBtn}, Case{185, kViewFpsNumber},
        Case{212, kMiniScreen}, Case{40, kDrawBackground} /* held at y 65 */}) {
    SCOPED_TRACE(c.y);
    game = TGame::create(no_flags());
    open(kStateOptions);
    frames(1);
    click_at(100, c.y);
    EXPECT_EQ(game.settings().flags, c.flipped);
    EXPECT_EQ(game.state(), kStateOptions);
    host.release(kKeyLButton);
    // The same click flips it back.
    click_at(100, c.y);
    EXPECT_EQ(game.settings().flags, 0);
  }
  click_at(100, 225);
  EXPECT_EQ(game.state(), kStateTitle);
}

TEST_F(ScreensTest, MusicThatCannotStartClearsItsFlagOnTheNextClick) {
  host.music.open_result = 1;  // the device cannot be opened
  open(kStateOptions);
  frames(1);
  click_at(100, 105);
  EXPECT_TRUE(game.flag(kPlayMidi));
  EXPECT_FALSE(game.bgm().on());
  click_at(100, 75);  // between rows
  EXPECT_FALSE(game.flag(kPlayMidi));
}

TEST_F(ScreensTest, MusicSwitchedOffAndOnAgainRestartsTheTitleSong) {
  // Start-up with music on: the device opens and both songs load.
  host.songs.existing = {"title.mid", "stage.mid"};
  TGameProbe::settings(game).flags = kPlayMidi;
  game.bgm().set_on(true, host);
  game.bgm().load_song("title", host);
  game.bgm().load_song("stage", host);
  open(kStateOptions);
  frames(1);
  click_at(100, 105);
  EXPECT_FALSE(game.flag(kPlayMidi));
  EXPECT_FALSE(game.bgm().on());
  click_at(100, 105);
  EXPECT_TRUE(game.flag(kPlayMidi));
  EXPECT_TRUE(game.bgm().on());
  EXPECT_EQ(game.bgm().current(), "title");
}

// A run started with music off: ticking "PLAY MIDI MUSIC" loads the songs
// and plays the title at once, and the stage song plays at the next play. With
// a backend that cannot play the mark shows, music stays off and the next
// click clears the mark, as when the device cannot be opened.
TEST_F(ScreensTest, MusicSwitchedOnAfterAStartWithoutItPlaysTheTitleAtOnce) {
  for (const bool playable : {true, false}) {
    SCOPED_TRACE(playable ? "a backend that plays" : "a backend that cannot play");
    host.music = FakeBgm{};
    if (!playable) host.music.load_file_result = 0;
    host.songs.existing = {"title.mid", "stage.mid"};
    game = TGame::create(no_flags());
    game.bgm().set_on(false, host);
    game.bgm().load_song("title", host);
    game.bgm().load_song("stage", host);
    EXPECT_TRUE(host.music.take_log().empty());
    open(kStateOptions);
    frames(1);
    click_at(100, 105);
    EXPECT_TRUE(game.flag(kPlayMidi));
    const std::vector<std::string> log = host.music.take_log();
    EXPECT_EQ(log.size() > 3 ? log[3] : "", playable ? "load_file(stage.mid) -> 2" : "");
    if (!playable) {
      EXPECT_FALSE(game.bgm().on());
      click_at(100, 75);  // between rows
      EXPECT_FALSE(game.flag(kPlayMidi));
      continue;
    }
    EXPECT_THAT(log, ::testing::Contains("play(1, true) -> 0"));
    EXPECT_EQ(game.bgm().current(), "title");
    click_at(100, 225);  // back to the menu, then a new game
    ASSERT_EQ(game.state(), kStateTitle);
    click_at(100, 130);
    ASSERT_EQ(game.state(), kStateIntro);
    for (int i = 0; i < 200 && game.bgm().current() != "stage"; ++i) {
      frames(1);
      game.bgm().zt_bgm_tick(host);  // as the host runs it after each frame
    }
    EXPECT_EQ(game.bgm().current(), "stage");
  }
}

class SlotScreenTest : public ScreensTest {
 protected:
  void SetUp() override {
    RecHeaderRaw valid;
    valid.date = 45000.0;
    valid.score = 1234;
    valid.format_mark = 3;
    RecHeaderRaw no_date = valid;
    no_date.date = 0.0;
    RecHeaderRaw old_mark = valid;
    old_mark.format_mark = 1;
    host.files.files[2] = replay_file(valid, 9, {{10, 10}});
    host.files.files[3] = replay_file(no_date, 9, {{10, 10}});
    host.files.files[4] = replay_file(old_mark, 9, {{10, 10}});
  }
  // The middle of slot n's band.
  static std::int32_t slot_y(std::int32_t n) { return 75 + 15 * n; }
  void open_slots(std::uint8_t mode) {
    open(kStateTitle);
    TGameProbe::slot_mode(game) = mode;
    game.set_state(kStateSlots, host);
    frames(1);
  }
};

TEST_F(SlotScreenTest, ReplayModeTakesOnlySlotsWithData) {
  open_slots(TGame::kModeReplay);
  for (const std::int32_t n : {3, 4, 5}) {
    click_at(100, slot_y(n));
    EXPECT_EQ(game.state(), kStateSlots) << n;
  }
  click_at(100, 96);  // between slots 1 and 2: consumed, nothing happens
  EXPECT_EQ(game.state(), kStateSlots);
  EXPECT_FALSE(host.key_down(kKeyLButton));
  click_at(100, slot_y(2));
  EXPECT_EQ(game.state(), kStateIntro);
  EXPECT_EQ(game.recorder().state(), RecState::Playing);
  EXPECT_EQ(game.recorder().slot(), 2);
  EXPECT_TRUE(game.play().replaying);
  EXPECT_FALSE(game.play().demonstration);
}

TEST_F(SlotScreenTest, RecordModeTakesAnySlotAndAsksForTheNameFirst) {
  open_slots(TGame::kModeRecord);
  click_at(100, slot_y(2));
  EXPECT_EQ(game.state(), kStateNameEntry);
  EXPECT_EQ(game.recorder().state(), RecState::Recording);
  EXPECT_EQ(game.recorder().slot(), 2);
}

TEST_F(SlotScreenTest, HeadersAreReadAfreshEachTimeTheScreenOpens) {
  open_slots(TGame::kModeReplay);
  EXPECT_EQ(game.slot_headers()[1].score, 1234);
  EXPECT_EQ(game.slot_headers()[2].date, 0.0);
  host.files.files.erase(2);
  game.set_state(kStateTitle, host);
  game.set_state(kStateSlots, host);
  frames(1);
  EXPECT_EQ(game.slot_headers()[1].date, 0.0);
  click_at(100, slot_y(2));
  EXPECT_EQ(game.state(), kStateSlots);
}

// The columns the hovered slot's date and time take, right of the divider
// at x 120 (rows 148 to 185: both lines with their wave), on sheets painted
// so that every glyph shows over the background's colour 15; the slot's
// header holds the date given.
std::pair<std::int32_t, std::int32_t> slot_date_columns(double date) {
  MemoryHost host(painted_library());
  TConfig config;
  config.flags = 0;
  TGame game = TGame::create(config);
  RecHeaderRaw header;
  header.date = date;
  header.score = 1234;
  header.format_mark = 3;
  host.files.files[2] = replay_file(header, 9, {{10, 10}});
  game.set_state(kStateLogo, host);
  game.set_state(kStateTitle, host);
  TGameProbe::slot_mode(game) = TGame::kModeReplay;
  game.set_state(kStateSlots, host);
  host.set_pointer(200, 105);  // slot 2's band
  EXPECT_EQ(game.step_frame(host), std::nullopt);
  std::int32_t left = 320, right = -1;
  for (std::int32_t y = 148; y < 186; ++y) {
    for (std::int32_t x = 122; x < 320; ++x) {
      if (host.frame().at(x, y) == 15) continue;
      left = std::min(left, x);
      right = std::max(right, x);
    }
  }
  return {left, right};
}

TEST(SlotScreenDates, ADateNoCalendarHoldsTakesTheFieldOfAnOrdinaryDate) {
  // Ten characters centred on x 225.
  const std::pair<std::int32_t, std::int32_t> field{165, 284};
  EXPECT_EQ(slot_date_columns(45000.5), field);
  const double inf = std::numeric_limits<double>::infinity();
  for (const double date : {std::numeric_limits<double>::quiet_NaN(), inf, -inf, 1e300, -1e300}) {
    EXPECT_EQ(slot_date_columns(date), field) << date;
  }
}

TEST_F(ScreensTest, TheStageIntroHandsOverWithThePointerInTheMiddle) {
  open(kStateTitle);
  game.start_play(TGame::kModePlain, 0, false, host);
  game.set_state(kStateIntro, host);
  host.set_pointer(5, 5);
  frames(60);
  EXPECT_EQ(game.state(), kStateIntro);
  EXPECT_EQ(host.scratch_count(), 0u);
  frames(1);
  EXPECT_EQ(game.state(), kStatePlay);
  EXPECT_EQ(host.pointer(), (Point{160, 120}));
}

TEST_F(ScreensTest, PauseHoldsThePlayAndResumesWithThePointerOnTheHand) {
  open(kStateTitle);
  game.start_play(TGame::kModePlain, 0, false, host);
  game.set_state(kStatePlay, host);
  host.set_pointer(100, 60);
  frames(30);
  host.press(kKeyP);
  frames(1);
  ASSERT_EQ(game.state(), kStatePause);
  const Point hand = game.pend().hand();
  const TPend::State before = game.pend().state();
  const std::int32_t play_frame = game.play().play_frame;
  host.set_pointer(300, 200);
  frames(50);
  EXPECT_EQ(game.play().play_frame, play_frame);
  EXPECT_EQ(game.pend().state().ball_y, before.ball_y);
  host.press(kKeyP);
  frames(1);
  EXPECT_EQ(game.state(), kStatePlay);
  EXPECT_EQ(host.pointer(), hand);
  frames(1);
  EXPECT_EQ(game.pend().hand(), hand);
}

TEST_F(ScreensTest, TheTopTenFadesInFromTheMenuOnly) {
  open(kStateTop10);
  frames(1);
  EXPECT_EQ(game.shown_palette()[4 * 255], 255 * 5 / 255);
  click_at(10, 10);
  EXPECT_EQ(game.state(), kStateTitle);

  game.set_state(kStateResult, host);
  game.set_state(kStateTop10, host);
  frames(1);
  EXPECT_EQ(game.shown_palette(), game.base_palette());
}

TEST_F(ScreensTest, TheExitFadesForFortyFramesAndQuitsOnTheFortyFirst) {
  open(kStateTitle);
  frames(1);
  host.press(kKeyEsc);
  frames(1);
  ASSERT_EQ(game.state(), kStateExit);
  host.presented.clear();
  frames(1);
  EXPECT_EQ(game.shown_palette()[4 * 255], 255 * 250 / 255);
  frames(39);
  EXPECT_FALSE(game.quit());
  EXPECT_TRUE(host.presented.empty());
  frames(1);
  EXPECT_TRUE(game.quit());
  ASSERT_EQ(host.presented.size(), 1u);
  EXPECT_THAT(host.presented[0].pixels, ::testing::Each(0));
}

}  // namespace
}  // namespace zt
