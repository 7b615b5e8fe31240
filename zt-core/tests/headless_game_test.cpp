// The headless driver: its start, what a frame leaves on the host and what
// its loops stop at.
#include "headless_game.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "game_fixture.h"

namespace zt {
namespace {

using ::testing::ElementsAre;

TEST(HeadlessGame, StartsOnTheLogoWithBothSongsAndAPlayer) {
  struct Case {
    const char* settings_name;
    const char* player;
  };
  for (const Case c : {Case{"", "ANONYMOUS"}, Case{"PENDULA", "PENDULA"}}) {
    SCOPED_TRACE(c.settings_name);
    TConfig settings;
    settings.last_player_name = c.settings_name;
    MemoryHost host;
    HeadlessGame run(host, settings);
    EXPECT_EQ(run.game().state(), kStateLogo);
    EXPECT_EQ(run.game().player_name(), c.player);
    EXPECT_TRUE(run.game().bgm().on());
    EXPECT_NE(run.game().bgm().zt_bgm_get_midi("title"), 0);
    EXPECT_NE(run.game().bgm().zt_bgm_get_midi("stage"), 0);
    EXPECT_TRUE(run.visited().empty());
  }
}

// Each frame hands on_frame what it presented and played, at the clock's
// next step; the host holds none of it afterwards.
TEST(HeadlessGame, AFrameShowsOnFrameItsPicturesAndSoundsThenDropsThem) {
  MemoryHost host{testing_game::painted_library()};
  host.keep_pixels = false;
  HeadlessGame run(host);
  run.frame_ms = 25;
  std::vector<std::uint32_t> clock;
  std::vector<std::size_t> presented;
  std::vector<std::size_t> sounds;
  run.on_frame = [&](const std::optional<GameError>& e) {
    EXPECT_EQ(e, std::nullopt);
    clock.push_back(host.ms);
    presented.push_back(host.presented.size());
    sounds.push_back(host.sounds.size());
  };
  ASSERT_TRUE(run.frames(3));
  EXPECT_THAT(clock, ElementsAre(25u, 50u, 75u));
  EXPECT_THAT(presented, ElementsAre(1u, 1u, 1u));
  EXPECT_TRUE(host.presented.empty());

  // A click in the options plays the select sound and is let go after it.
  run.game().set_state(kStateOptions, host);
  sounds.clear();
  ASSERT_EQ(run.click({100, 65}), std::nullopt);
  EXPECT_THAT(sounds, ElementsAre(1u));
  EXPECT_TRUE(host.sounds.empty());
  EXPECT_FALSE(host.key_down(kKeyLButton));
  EXPECT_THAT(run.visited(), ElementsAre(kStateLogo, kStateOptions));
}

// The loops end where the programs end theirs: at the game's quit, or at
// the limit without the state.
TEST(HeadlessGame, LoopsStopAtTheQuitOrTheLimit) {
  MemoryHost host;
  host.keep_pixels = false;
  HeadlessGame run(host);
  int frames = 0;
  run.on_frame = [&](const std::optional<GameError>&) { ++frames; };
  EXPECT_FALSE(run.run_until(kStateTitle, 5));
  EXPECT_EQ(frames, 5);

  run.game().set_state(kStateTitle, host);
  ASSERT_EQ(run.key(kKeyEsc), std::nullopt);
  ASSERT_EQ(run.game().state(), kStateExit);
  frames = 0;
  EXPECT_TRUE(run.frames(1000));
  EXPECT_TRUE(run.game().quit());
  EXPECT_LT(frames, 100);
  EXPECT_FALSE(run.run_until(kStateTitle, 1000));
  EXPECT_LT(frames, 100);
}

// In play the hand hits targets; torn away, it cuts the string.
TEST(HeadlessGame, TheScriptedHandChasesThenTearsTheString) {
  MemoryHost host;
  host.keep_pixels = false;
  HeadlessGame run(host);
  TGame& game = run.game();
  game.set_state(kStateTitle, host);
  game.start_play(TGame::kModePlain, 0, false, host);
  game.set_state(kStatePlay, host);
  ASSERT_TRUE(run.chase(400));
  EXPECT_EQ(game.state(), kStatePlay);
  EXPECT_GE(game.play().destroyed_total(), 3);
  ASSERT_TRUE(run.tear(100));
  EXPECT_EQ(game.state(), kStateLineCut);
  EXPECT_TRUE(game.pend().is_cut());
}

}  // namespace
}  // namespace zt
