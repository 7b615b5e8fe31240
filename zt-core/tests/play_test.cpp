// The play frame, the line cut, the result, the name entry and the end of a
// play, each driven through step_frame.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "game/ugame.h"
#include "game_fixture.h"
#include "memory_host.h"
#include "tgame_probe.h"

namespace zt {
namespace {

using namespace testing_game;

class PlayTest : public ::testing::Test {
 protected:
  void SetUp() override { begin(TGame::kModePlain, 0); }

  void begin(std::int32_t mode, std::int32_t slot) {
    game.set_state(kStateLogo, host);
    game.set_state(kStateTitle, host);
    game.start_play(mode, slot, false, host);
    game.set_state(kStatePlay, host);
    park_targets(game);
  }

  // The ball at rest at (160, 150) under the hand at (160, hand_y); with the
  // default settings one play frame later the stretch is 95% for a hand at
  // y 48, 88% at y 54 and 0% at y 130.
  void hang_ball(std::int32_t hand_y) {
    TPend::State s = game.pend().state();
    s.ball_x = 160.0;
    s.ball_y = 150.0;
    s.vx = 0.0;
    s.vy = 0.0;
    s.hand_x = 160;
    s.hand_y = hand_y;
    TGameProbe::pend(game) = TPend::from_state(s);
    host.set_pointer(160, hand_y);
  }

  void frames(int n) {
    for (int i = 0; i < n; ++i) ASSERT_EQ(game.step_frame(host), std::nullopt);
  }

  TConfig settings = [] {
    TConfig c;
    c.flags = kShowEachScore;
    return c;
  }();
  MemoryHost host;
  TGame game = TGame::create(settings);
};

TEST(RankIndex, BoundsOfTheTitles) {
  struct Case {
    std::int64_t score;
    std::int32_t index;
  };
  for (const Case c : {Case{0, 0}, Case{1000, 0}, Case{1001, 1}, Case{10000, 1}, Case{10001, 2},
                       Case{100000000, 17}, Case{100000001, 18}, Case{1000000000, 18},
                       Case{1000000001, 19}, Case{INT64_MAX, 19}}) {
    EXPECT_EQ(TGame::rank_index_of(c.score), c.index) << c.score;
  }
}

TEST(Judge, ClassesByStretch) {
  struct Case {
    std::int32_t percent;
    std::int32_t judge;
  };
  for (const Case c :
       {Case{100, 0}, Case{90, 0}, Case{89, 1}, Case{70, 1}, Case{69, 2}, Case{40, 2}, Case{39, 3},
        Case{1, 3}, Case{0, 4}, Case{101, 4}, Case{-1, 4}}) {
    EXPECT_EQ(TGame::judge(c.percent), c.judge) << c.percent;
  }
}

TEST_F(PlayTest, HitsScoreByStretchComboAndStreak) {
  struct Case {
    std::int32_t hand_y;
    std::int32_t combo;
    std::int32_t streak;
    std::int32_t percent;
    std::int64_t points;
    std::size_t judge;
    const char* sound;
  };
  for (const Case c :
       {Case{48, 2, 1, 95, 95 * 9 * 2 * 10, 0, "explosion1"},
        Case{54, 0, 0, 88, 88 * 5, 1, "destroy1"}, Case{130, 4, 3, 0, 0, 4, "destroy0"}}) {
    SCOPED_TRACE(c.hand_y);
    begin(TGame::kModePlain, 0);
    hang_ball(c.hand_y);
    aim_targets_at_ball(game, host);
    PlayFields& f = TGameProbe::play(game);
    f.score = 1000;
    f.combo = c.combo;
    f.combo_timer = 10;
    f.perfect_streak = c.streak;
    host.sounds.clear();
    const std::int32_t gauge = f.gauge;
    frames(1);

    EXPECT_EQ(game.pend().stretch_percent(), c.percent);
    EXPECT_EQ(f.score, 1000 + c.points);
    EXPECT_EQ(f.combo, c.combo + 1);
    EXPECT_EQ(f.max_combo, c.combo + 1);
    EXPECT_EQ(f.destroyed[c.judge], 1);
    EXPECT_EQ(f.gauge, gauge - 1 + 30);
    EXPECT_EQ(f.frames_since_hit, 1);
    EXPECT_EQ(f.perfect_streak, c.judge == 0 ? c.streak + 1 : c.streak);
    EXPECT_EQ(f.perfect_timer, c.judge == 0 ? 39 : 0);
    EXPECT_THAT(host.sounds, ::testing::Contains(MemoryHost::Sound{c.sound, c.judge <= 1 ? 4 : 3}));
    // Sorted by kind: the percent, the judge, then the points at the hand.
    const std::vector<TText>& texts = game.texts().texts();
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0].kind, kTextPercent);
    EXPECT_EQ(texts[0].value, c.percent);
    EXPECT_EQ(texts[1].kind, kTextJudge);
    EXPECT_EQ(texts[1].value, c.judge);
    EXPECT_EQ(texts[2].text, std::to_string(c.points));
    EXPECT_EQ(texts[2].x, 160);
    EXPECT_EQ(texts[2].y, c.hand_y);
    // (p + 3) x NumOfFragments div 100 fragments.
    EXPECT_EQ(game.fragments().fragments().size(),
              static_cast<std::size_t>((c.percent + 3) * 20 / 100));
  }
}

TEST_F(PlayTest, AHandEditedFragmentFactorIsBoundedBeforeAHitMultipliesIt) {
  game = TGame::create(load_config("[GameSetting]\nNumOfFragments=2000000000\n"));
  begin(TGame::kModePlain, 0);
  hang_ball(48);
  aim_targets_at_ball(game, host);
  frames(1);
  ASSERT_EQ(game.pend().stretch_percent(), 95);
  EXPECT_EQ(game.fragments().fragments().size(),
            static_cast<std::size_t>((95 + 3) * kMaxFragmentsFactor / 100));
}

TEST_F(PlayTest, TheGaugeIsCappedAndTheStreakStopsAtTwenty) {
  hang_ball(48);
  aim_targets_at_ball(game, host);
  TGameProbe::play(game).gauge = 9990;
  TGameProbe::play(game).perfect_streak = 20;
  frames(1);
  EXPECT_EQ(game.play().gauge, 9999);
  EXPECT_EQ(game.play().perfect_streak, 20);
}

TEST_F(PlayTest, TheNextTargetTakesFiveDrawsInOrder) {
  hang_ball(48);
  aim_targets_at_ball(game, host);
  TGameProbe::play(game).play_frame = 6499;  // velocities of 2 from play frame 6000
  const Target next = game.slots().slot(0);
  TRnd r = game.rnd();
  frames(1);
  const std::int32_t k = r.range(20);
  const std::uint8_t kind = k <= 15 ? kTargetPlain : (k <= 18 ? kTargetEndurance : kTargetRadius);
  const std::int32_t vx = r.range(2) == 1 ? 2 : -2;
  const std::int32_t vy = r.range(2) == 1 ? 2 : -2;
  const std::int32_t x = r.range(270) + 25;
  const std::int32_t y = r.range(190) + 25;
  EXPECT_EQ(game.slots().slot(0), (Target{x, y, vx, vy, kind}));
  EXPECT_EQ(vy, -vx);
  EXPECT_EQ(game.slots().slot(1), next);
  EXPECT_EQ(game.rnd().x(), r.x());
}

TEST_F(PlayTest, TargetKindsWidenTheStringOrTheBall) {
  struct Case {
    std::uint8_t kind;
    double endurance;
    double radius;
  };
  for (const Case c : {Case{kTargetPlain, 80.0, 5.0}, Case{kTargetEndurance, 85.0, 5.0},
                       Case{kTargetRadius, 80.0, 7.0}}) {
    begin(TGame::kModePlain, 0);
    hang_ball(130);  // no over-stretch, so no wear on the endurance
    aim_targets_at_ball(game, host, c.kind);
    frames(1);
    EXPECT_EQ(game.play().destroyed[4], 1);
    EXPECT_EQ(game.pend().endurance(), c.endurance);
    EXPECT_EQ(game.pend().radius(), c.radius);
  }
}

TEST_F(PlayTest, ConsecutiveHitsRunTheComboTimerUpToItsCap) {
  hang_ball(130);
  std::vector<std::int32_t> timers;
  for (int i = 0; i < 4; ++i) {
    aim_targets_at_ball(game, host);
    frames(1);
    timers.push_back(game.play().combo_timer);
  }
  // 80, 119, 150, 150 right after each hit, one less at the frame's end.
  EXPECT_THAT(timers, ::testing::ElementsAre(79, 118, 149, 149));
  EXPECT_EQ(game.play().combo, 4);
}

TEST_F(PlayTest, AComboDecaysOnceItsTimerIsOut) {
  TGameProbe::play(game).combo = 120;
  TGameProbe::play(game).combo_timer = 0;
  frames(1);
  EXPECT_EQ(game.play().combo, 117);
  frames(1);
  EXPECT_EQ(game.play().combo, 114);
  // The frame on which the timer reaches 0 already decays.
  TGameProbe::play(game).combo = 10;
  TGameProbe::play(game).combo_timer = 1;
  frames(1);
  EXPECT_EQ(game.play().combo_timer, 0);
  EXPECT_EQ(game.play().combo, 9);
}

TEST_F(PlayTest, WithoutHitsTheGaugeRunsOutOnPlayFrame2000) {
  host.set_pointer(160, 120);
  frames(1999);
  EXPECT_EQ(game.state(), kStatePlay);
  EXPECT_EQ(game.play().gauge, 1);
  frames(1);
  EXPECT_EQ(game.state(), kStateLineCut);
  EXPECT_EQ(game.play().play_frame, 2000);
  EXPECT_EQ(game.play().gauge, 0);
}

TEST_F(PlayTest, GravityChangersComeEvery3000FramesFrom6000) {
  struct Case {
    std::int32_t frame_before;
    double gravity;
    bool expected;
  };
  for (const Case c : {Case{5999, 0.2, true}, Case{2999, 0.2, false}, Case{4999, 0.2, false},
                       Case{8999, 0.2, true}, Case{6000, 0.2, false}, Case{5999, 0.0, false},
                       Case{5999, -0.2, true}}) {
    SCOPED_TRACE(c.frame_before);
    begin(TGame::kModePlain, 0);
    TGameProbe::play(game).play_frame = c.frame_before;
    TGameProbe::play(game).gravity = c.gravity;
    frames(1);
    ASSERT_EQ(game.gravity_changer().has_value(), c.expected);
    if (c.expected) {
      EXPECT_EQ(game.gravity_changer()->from_right(), c.gravity < 0.0);
    }
  }
  // One on the field keeps the next one away.
  begin(TGame::kModePlain, 0);
  TGameProbe::play(game).play_frame = 5999;
  frames(1);
  TGameProbe::play(game).play_frame = 8999;
  frames(1);
  ASSERT_TRUE(game.gravity_changer().has_value());
  EXPECT_EQ(game.gravity_changer()->counter(), 2);
}

TEST_F(PlayTest, CEndsOnlyAPlainPlay) {
  struct Case {
    std::int32_t mode;
    std::uint8_t expected;
  };
  for (const Case c : {Case{TGame::kModePlain, kStateLineCut}, Case{TGame::kModeRecord, kStatePlay},
                       Case{TGame::kModeReplay, kStatePlay}}) {
    if (c.mode == TGame::kModeReplay) {
      host.files.files[4] = replay_file(RecHeaderRaw{}, 7, {{1, 1}, {2, 2}});
    }
    begin(c.mode, 4);
    host.press(kKeyC);
    frames(1);
    EXPECT_EQ(game.state(), c.expected) << c.mode;
    host.release(kKeyC);
  }
}

TEST_F(PlayTest, PPausesAndTransitionsOverrideInOrder) {
  host.press(kKeyP);
  frames(1);
  EXPECT_EQ(game.state(), kStatePause);
  // P and an empty gauge together: the line cut wins.
  begin(TGame::kModePlain, 0);
  TGameProbe::play(game).gauge = 1;
  host.press(kKeyP);
  frames(1);
  EXPECT_EQ(game.state(), kStateLineCut);
}

TEST_F(PlayTest, TheLineCutHoldsThePlayFor120Frames) {
  begin(TGame::kModeRecord, 5);
  host.set_pointer(100, 100);
  TGameProbe::play(game).gauge = 1;
  frames(1);
  ASSERT_EQ(game.state(), kStateLineCut);
  const PlayFields before = game.play();
  const Target live = game.slots().live();
  const std::size_t file_size = host.files.pending()->size();
  frames(120);
  EXPECT_EQ(game.state(), kStateLineCut);
  EXPECT_EQ(game.play().play_frame, before.play_frame);
  EXPECT_EQ(game.play().gauge, before.gauge);
  EXPECT_EQ(game.slots().live(), live);
  // The hand still follows the pointer, and the recording goes on.
  EXPECT_EQ(game.pend().hand(), (Point{100, 100}));
  EXPECT_EQ(host.files.pending()->size(), file_size + 120 * Frame::kSize);
  frames(1);
  EXPECT_EQ(game.state(), kStateResult);
}

TEST_F(PlayTest, TheEndOfARecordingWritesItsEndFrameAndHeader) {
  begin(TGame::kModeRecord, 2);
  game.set_player_name("ZED");
  host.datetime = 45000.25;
  frames(3);
  PlayFields& f = TGameProbe::play(game);
  f.score = 12345;
  f.max_combo = 7;
  f.destroyed = {1, 2, 3, 0, 4};
  game.set_state(kStateResult, host);
  frames(1);

  const std::vector<std::uint8_t>& file = host.files.files.at(2);
  // Header, seed, three points, end frame.
  ASSERT_EQ(file.size(), RecHeaderRaw::kSize + 5 * Frame::kSize);
  EXPECT_EQ(last_frame_of(file), Frame::end());
  const RecHeaderRaw h = header_of(file);
  EXPECT_EQ(h.date, 45000.25);
  EXPECT_EQ(std::string(h.name.begin(), h.name.begin() + h.name_length), "ZED");
  EXPECT_EQ(h.score, 12345);
  EXPECT_EQ(h.max_combo, 7);
  EXPECT_EQ(h.destroyed, 10);
  EXPECT_EQ(h.format_mark, 3);
  EXPECT_EQ(game.recorder().state(), RecState::Idle);
  EXPECT_EQ(game.settings().highest_rank, 2);
  EXPECT_EQ(game.play().gravity, game.settings().gravity);
}

// A recording that cannot be finished is an error, and the slot keeps the
// replay it had before the play.
TEST_F(PlayTest, AFailedEndOfARecordingIsAnErrorAndKeepsTheOldReplay) {
  RecHeaderRaw old;
  old.format_mark = 3;
  old.score = 777;
  const std::vector<std::uint8_t> older = replay_file(old, 9, {{1, 1}});
  for (const auto op : {FakeRecorderIo::Op::Write, FakeRecorderIo::Op::Commit}) {
    SCOPED_TRACE(static_cast<int>(op));
    host.files.files[2] = older;
    begin(TGame::kModeRecord, 2);
    frames(2);
    TGameProbe::play(game).score = 500;
    game.set_state(kStateResult, host);
    host.files.fail_next(op);
    EXPECT_EQ(game.step_frame(host), GameError::Recording);
    EXPECT_EQ(host.files.files.at(2), older);
  }
}

TEST_F(PlayTest, ARecordingThatFailedDuringThePlayEndsQuietlyAndKeepsTheOldReplay) {
  host.files.files[2] = replay_file(RecHeaderRaw{}, 9, {{1, 1}});
  const std::vector<std::uint8_t> older = host.files.files[2];
  begin(TGame::kModeRecord, 2);
  host.files.fail_next(FakeRecorderIo::Op::Write);
  frames(2);
  ASSERT_TRUE(game.recorder().failed());
  game.set_state(kStateResult, host);
  EXPECT_EQ(game.step_frame(host), std::nullopt);
  EXPECT_EQ(host.files.files.at(2), older);
}

TEST_F(PlayTest, AReplayWritesItsScoreBackAndKeepsTheRest) {
  RecHeaderRaw h;
  h.date = 40000.5;
  h.score = 999;
  h.max_combo = 3;
  h.destroyed = 4;
  h.format_mark = 3;
  const std::vector<Frame> points = {{10, 10}, {20, 20}, {30, 30}};
  host.files.files[3] = replay_file(h, 5, points);
  const std::vector<std::uint8_t> original = host.files.files[3];
  begin(TGame::kModeReplay, 3);
  EXPECT_EQ(game.rnd().seed(), 5);  // the seed comes from the file
  frames(2);
  EXPECT_EQ(game.pend().hand(), (Point{20, 20}));
  TGameProbe::play(game).score = 4242;
  TGameProbe::settings(game).highest_rank = 0;
  game.set_state(kStateResult, host);
  frames(1);
  const std::vector<std::uint8_t>& file = host.files.files.at(3);
  const RecHeaderRaw after = header_of(file);
  EXPECT_EQ(after.score, 4242);
  EXPECT_EQ(after.date, 40000.5);
  EXPECT_EQ(after.max_combo, 3);
  EXPECT_EQ(after.destroyed, 4);
  EXPECT_TRUE(std::equal(file.begin() + RecHeaderRaw::kSize, file.end(),
                         original.begin() + RecHeaderRaw::kSize));
  // A replay reveals no new rank.
  EXPECT_EQ(game.settings().highest_rank, 0);
}

// A replay the player may read but not write (a demonstration shipped
// read-only) plays like any other and ends without an error; its file stays
// byte for byte. One that is writable but whose write fails is still an error.
TEST_F(PlayTest, AReadOnlyReplayPlaysAndKeepsItsHeader) {
  RecHeaderRaw h;
  h.score = 999;
  h.format_mark = 3;
  const std::vector<std::uint8_t> original = replay_file(h, 5, {{10, 10}, {20, 20}});
  for (const bool read_only : {true, false}) {
    SCOPED_TRACE(read_only ? "read-only" : "write fails");
    host.files.files[0] = original;
    host.files.read_only_slots.clear();
    if (read_only) host.files.read_only_slots.insert(0);
    begin(TGame::kModeReplay, 0);
    frames(2);
    EXPECT_EQ(game.pend().hand(), (Point{20, 20}));
    EXPECT_FALSE(game.recorder().failed());
    TGameProbe::play(game).score = 4242;
    game.set_state(kStateResult, host);
    if (!read_only) host.files.fail_next(FakeRecorderIo::Op::Write);
    EXPECT_EQ(game.step_frame(host),
              read_only ? std::nullopt : std::optional(GameError::Recording));
    EXPECT_EQ(host.files.files.at(0), original);
  }
}

TEST_F(PlayTest, AReplayWhoseHeaderCannotBeReadIsAnError) {
  host.files.files[3] = replay_file(RecHeaderRaw{}, 5, {{10, 10}});
  begin(TGame::kModeReplay, 3);
  frames(1);
  game.set_state(kStateResult, host);
  host.files.fail_next(FakeRecorderIo::Op::Read);
  EXPECT_EQ(game.step_frame(host), GameError::Recording);
}

TEST_F(PlayTest, AReplayPastItsEndFeedsTheOrigin) {
  host.files.files[3] = replay_file(RecHeaderRaw{}, 5, {{10, 10}});
  begin(TGame::kModeReplay, 3);
  frames(1);
  EXPECT_EQ(game.pend().hand(), (Point{10, 10}));
  frames(3);  // the end frame (clamped to the field), then a failed read
  EXPECT_TRUE(game.recorder().failed());
  EXPECT_EQ(game.pend().hand(), (Point{0, 0}));
}

TEST_F(PlayTest, TheResultLeadsByRankReplayAndName) {
  struct Case {
    const char* what;
    std::int64_t score;
    bool replaying;
    bool experiment;
    bool name_known;
    std::uint8_t expected;
  };
  for (const Case c : {Case{"not ranked", 500, false, false, false, kStateTitle},
                       Case{"ranked", 50000, false, false, false, kStateNameEntry},
                       Case{"ranked, name known", 50000, false, false, true, kStateTop10},
                       Case{"replay", 50000, true, false, true, kStateTitle},
                       Case{"experiment", 50000, false, true, true, kStateTitle}}) {
    SCOPED_TRACE(c.what);
    game = TGame::create(settings);  // the default score table
    begin(TGame::kModePlain, 0);
    TGameProbe::settings(game).experiment = c.experiment;
    game.set_state(kStateLineCut, host);
    TGameProbe::play(game).score = c.score;
    TGameProbe::play(game).replaying = c.replaying;
    TGameProbe::play(game).name_known = c.name_known;
    game.set_state(kStateResult, host);
    const std::int32_t rank = TGame::rank_index_of(c.score);
    for (int i = 1; i < 10 * rank + 350; ++i) frames(1);
    EXPECT_EQ(game.state(), kStateResult);
    frames(1);
    EXPECT_EQ(game.state(), c.expected);
    EXPECT_EQ(game.shown_palette(), game.base_palette());
    const bool inserted = game.hiscore().get_entry2(1).score == c.score;
    EXPECT_EQ(inserted, c.expected == kStateTop10);
    if (inserted) {
      EXPECT_EQ(game.play().table_rank, 1);
    }
  }
}

TEST_F(PlayTest, AnUnrankedResultClosesInBeforeItEnds) {
  TGameProbe::play(game).score = 500;  // rank index 0: the close starts after frame 300
  game.set_state(kStateResult, host);
  frames(300);
  const Palette full = game.shown_palette();
  frames(25);
  // Level (350 - 325) x 255 div 50 = 127, and a window of 320 - 200 by 240 - 150.
  EXPECT_EQ(game.shown_palette()[4], game.base_palette()[4] * 127 / 255);
  EXPECT_EQ(full, game.base_palette());
  EXPECT_EQ(host.frame().at(99, 120), 0);
  EXPECT_EQ(host.frame().at(0, 0), 0);
}

// In an experiment-mode replay whose rank the player has not reached, the
// black experiment box is drawn first, so the mosaic's "?" stays visible.
TEST(ResultScreen, TheHiddenRanksQuestionMarkIsDrawnOverTheExperimentBox) {
  MemoryHost host(painted_library());
  TGame game = TGame::create(TConfig{});
  game.set_state(kStateLogo, host);
  game.set_state(kStateTitle, host);
  game.start_play(TGame::kModePlain, 0, false, host);
  TGameProbe::settings(game).experiment = true;
  TGameProbe::settings(game).highest_rank = 0;
  game.set_state(kStateLineCut, host);
  TGameProbe::play(game).score = 50000;  // rank index 3
  TGameProbe::play(game).replaying = true;
  game.set_state(kStateResult, host);
  for (int i = 0; i < 150; ++i) ASSERT_EQ(game.step_frame(host), std::nullopt);

  MemoryHost alone(painted_library());
  alone.frame().pixels.assign(alone.frame().pixels.size(), 0);
  game.draw_big_text("?", 220, 190, kAlignCentre, 0, false, 0, alone);
  int inked = 0;
  for (std::int32_t y = 0; y < 240; ++y) {
    for (std::int32_t x = 0; x < 320; ++x) {
      if (alone.frame().at(x, y) == 0) continue;
      ++inked;
      EXPECT_EQ(host.frame().at(x, y), alone.frame().at(x, y)) << x << "," << y;
    }
  }
  EXPECT_GT(inked, 100);
}

class NameEntryTest : public PlayTest {
 protected:
  // The middle of key i (1..48) of the keyboard.
  static Point key(std::int32_t i) {
    const std::int32_t c = (i - 1) % 8;
    const std::int32_t r = (i - 1) / 8;
    return {97 + 18 * c, 100 + 15 * r};
  }
  static Point key_of(char ch) { return key(static_cast<std::int32_t>(kFontChars.find(ch)) + 1); }
  void press_key(Point p) {
    click(host, p.x, p.y);
    frames(1);
  }
};

TEST_F(NameEntryTest, TheNameHoldsNineCharactersAndDefaultsWhenEmpty) {
  game.set_state(kStateNameEntry, host);  // before a recording: from the play, not a result
  ASSERT_EQ(game.player_name(), "ANONYMOUS");
  press_key(key_of('A'));
  EXPECT_EQ(game.player_name(), "ANONYMOUS");  // a tenth character is not appended
  for (int i = 0; i < 10; ++i) press_key(key(48));
  EXPECT_EQ(game.player_name(), "");
  press_key({60, 60});    // off the keyboard
  press_key({104, 100});  // the gap right of key 1
  EXPECT_EQ(game.player_name(), "");
  EXPECT_EQ(game.state(), kStateNameEntry);
  press_key(key(47));
  EXPECT_EQ(game.player_name(), "ANONYMOUS");
  EXPECT_EQ(game.state(), kStateIntro);
  EXPECT_TRUE(game.play().name_known);
}

TEST_F(NameEntryTest, AfterAResultTheNameGoesIntoTheTable) {
  host.datetime = 45123.5;
  TGameProbe::play(game).score = 50000;
  TGameProbe::play(game).table_rank = 1;
  game.set_state(kStateResult, host);
  game.set_state(kStateNameEntry, host);
  game.set_player_name("");
  for (const char ch : std::string("Z-1")) press_key(key_of(ch));
  EXPECT_EQ(game.player_name(), "Z-1");
  press_key(key(47));
  EXPECT_EQ(game.state(), kStateTop10);
  const ScoreEntryRaw e = game.hiscore().get_entry2(1);
  EXPECT_EQ(e.f0(), "Z-1");
  EXPECT_EQ(e.score, 50000);
  EXPECT_EQ(e.date, 45123.5);
}

}  // namespace
}  // namespace zt
