// The start of a game as both programs make it.
#include "game/start_game.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "memory_host.h"

namespace zt {
namespace {

using ::testing::ElementsAre;

TEST(StartGame, TakesThePlayerNameAndFlagsFromTheSettings) {
  TConfig settings;
  settings.flags = kPlaySE | kMiniScreen;
  settings.last_player_name = "PENDULA";
  settings.num_of_fragments = 7;
  MemoryHost host;
  const StartedGame started = start_game(settings, std::nullopt, host);
  const TGame& game = started.game;
  EXPECT_EQ(game.player_name(), "PENDULA");
  EXPECT_EQ(game.settings().flags, kPlaySE | kMiniScreen);
  EXPECT_EQ(game.settings(), settings);
  // The logo first, in its own palette.
  EXPECT_EQ(game.state(), kStateLogo);
  EXPECT_EQ(game.frame_counter(), 0);
  EXPECT_THAT(host.loads, ElementsAre("logo.bmp"));
  const Palette logo = ramp_palette(0);
  for (std::size_t i = 0; i < logo.size(); ++i) {
    if (i % 4 != 3) {
      ASSERT_EQ(host.palette[i], logo[i]) << "palette byte " << i;
    }
  }
}

// The score file's bytes decide the table and the answer the caller gets.
TEST(StartGame, LoadsTheScoreTableFromTheBytesGiven) {
  THiScore written;
  written.insert("TOP", 123456, 45000.5);
  const std::optional<ScoreFileImage> image = hiscore_bytes(written);
  ASSERT_TRUE(image.has_value());
  const std::vector<std::uint8_t> good(image->begin(), image->end());
  std::vector<std::uint8_t> short_file = good;
  short_file.pop_back();

  struct Case {
    const char* what;
    std::optional<std::vector<std::uint8_t>> bytes;
    HiScoreLoad result;
    const char* top;
  };
  const Case cases[] = {
      {"no file", std::nullopt, HiScoreLoad::Missing, "KOVAKOVA"},
      {"a table", good, HiScoreLoad::Loaded, "TOP"},
      {"one byte short", short_file, HiScoreLoad::Invalid, "KOVAKOVA"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MemoryHost host;
    StartedGame started = start_game(TConfig{}, c.bytes, host);
    EXPECT_EQ(started.score, c.result);
    EXPECT_EQ(started.game.hiscore().get_entry2(1).f0(), c.top);
  }
}

TEST(StartGame, OpensTheMusicAndLoadsBothSongsWhenPlayMidiIsOn) {
  MemoryHost host;
  host.songs.existing = {"title.mid", "stage.mid"};
  StartedGame started = start_game(TConfig{}, std::nullopt, host);
  EXPECT_THAT(host.music.log,
              ElementsAre("open(10, -1) -> 0", "send_sysx(0)", "load_file(title.mid) -> 1",
                          "load_file(stage.mid) -> 2"));
  const TBgm& bgm = started.game.bgm();
  EXPECT_TRUE(bgm.on());
  EXPECT_EQ(bgm.zt_bgm_get_midi("title"), 1);
  EXPECT_EQ(bgm.zt_bgm_get_midi("stage"), 2);
}

// Without PlayMidi nothing reaches the backend; the songs wait for music to
// be switched on in the options.
TEST(StartGame, LeavesTheMusicClosedWhenPlayMidiIsOff) {
  TConfig settings;
  settings.flags = kDrawBackground | kPlaySE;
  MemoryHost host;
  host.songs.existing = {"title.mid", "stage.mid"};
  StartedGame started = start_game(settings, std::nullopt, host);
  EXPECT_TRUE(host.music.log.empty());
  EXPECT_FALSE(started.game.bgm().on());
  EXPECT_THAT(started.game.bgm().deferred(), ElementsAre("title", "stage"));
}

}  // namespace
}  // namespace zt
