// Whole runs of the game through the pointer and the keys only, and a
// recorded play replayed from its file.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "game/ugame.h"
#include "game_fixture.h"
#include "headless_game.h"
#include "memory_host.h"
#include "scripted_hand.h"

namespace zt {
namespace {

using namespace testing_game;

// The middle of the name entry's key for a character.
Point name_key(char ch) {
  const auto i = static_cast<std::int32_t>(kFontChars.find(ch));
  return {97 + 18 * (i % 8), 100 + 15 * (i / 8)};
}

TEST(SessionTest, AWholeGameFromTheLogoToTheExit) {
  MemoryHost host{painted_library()};
  host.keep_pixels = false;
  HeadlessGame s(host);
  s.on_frame = [](const std::optional<GameError>& e) { ASSERT_EQ(e, std::nullopt); };
  TGame& game = s.game();
  const std::uint8_t flags = game.settings().flags;
  const auto click_at = [&](std::int32_t x, std::int32_t y) { s.click({x, y}); };

  s.run_until(kStateTitle, 200);
  ASSERT_EQ(game.state(), kStateTitle);
  s.frame();

  // Options: one flag off and on again, then back to the menu.
  click_at(100, 160);
  ASSERT_EQ(game.state(), kStateOptions);
  s.frame();
  click_at(100, 65);
  EXPECT_FALSE(game.flag(kDrawBackground));
  click_at(100, 65);
  EXPECT_TRUE(game.flag(kDrawBackground));
  click_at(100, 225);
  ASSERT_EQ(game.state(), kStateTitle);
  s.frame();

  // A new game played by the scripted hand, ended with C.
  click_at(100, 130);
  ASSERT_EQ(game.state(), kStateIntro);
  s.run_until(kStatePlay, 100);
  ASSERT_EQ(game.state(), kStatePlay);
  s.chase(400);
  ASSERT_EQ(game.state(), kStatePlay);
  std::int32_t hits = 0;
  for (const std::int32_t d : game.play().destroyed) hits += d;
  EXPECT_GE(hits, 3);
  const std::int64_t score = game.play().score;
  ASSERT_GT(score, 10000);  // above the whole default table
  s.key(kKeyC);
  EXPECT_EQ(game.state(), kStateLineCut);

  s.run_until(kStateResult, 200);
  ASSERT_EQ(game.state(), kStateResult);
  s.run_until(kStateNameEntry, 600);
  ASSERT_EQ(game.state(), kStateNameEntry);
  EXPECT_EQ(game.play().table_rank, 1);

  // Name entry: clear the default name, type a new one, confirm.
  for (int i = 0; i < 9; ++i) click_at(223, 175);
  for (const char ch : std::string("ZT.1")) {
    const Point k = name_key(ch);
    click_at(k.x, k.y);
  }
  EXPECT_EQ(game.player_name(), "ZT.1");
  click_at(205, 175);
  ASSERT_EQ(game.state(), kStateTop10);
  s.frames(10);
  const ScoreEntryRaw top = game.hiscore().get_entry2(1);
  EXPECT_EQ(top.f0(), "ZT.1");
  EXPECT_EQ(top.score, score);
  EXPECT_EQ(game.hiscore().get_entry2(2).score, 10000);
  EXPECT_EQ(game.hiscore().get_entry2(10).score, 2000);

  click_at(160, 120);
  ASSERT_EQ(game.state(), kStateTitle);
  s.frame();
  s.key(kKeyEsc);
  ASSERT_EQ(game.state(), kStateExit);
  s.frames(41);
  EXPECT_TRUE(game.quit());

  EXPECT_THAT(s.visited(),
              ::testing::ElementsAre(kStateLogo, kStateTitle, kStateOptions, kStateTitle,
                                     kStateIntro, kStatePlay, kStateLineCut, kStateResult,
                                     kStateNameEntry, kStateTop10, kStateTitle, kStateExit));
  EXPECT_EQ(game.settings().flags, flags);
  // A plain play writes no replay; the changed table is handed out for saving.
  EXPECT_TRUE(host.files.files.empty());
  EXPECT_TRUE(game.hiscore_bytes().has_value());
  EXPECT_FALSE(game.hiscore_bytes().has_value());
}

// The frame's hash with the recorder mark left out: it reads "r" while
// recording and "p" while replaying, the one intended difference.
std::uint64_t play_picture_hash(MemoryHost& host) {
  std::vector<std::uint8_t> px = host.frame().pixels;
  for (std::int32_t y = 224; y < 236; ++y) {
    for (std::int32_t x = 304; x < 316; ++x) px[static_cast<std::size_t>(y * 320 + x)] = 0;
  }
  return frame_hash(px, host.palette);
}

struct PlayRun {
  std::int64_t score = 0;
  std::int32_t max_combo = 0;
  std::array<std::int32_t, 5> destroyed{};
  std::int32_t last_play_frame = 0;
  std::vector<std::uint64_t> hashes;  // one per frame from the first play frame
  bool met_changer = false;
  bool cut = false;
};

// From the stage intro of a started play up to and including the first
// frame of the result, where the play ends. steer gives the pointer.
template <class Steer>
PlayRun run_play(HeadlessGame& headless, Steer steer) {
  TGame& game = headless.game();
  MemoryHost& host = headless.host();
  PlayRun run;
  EXPECT_TRUE(headless.run_until(kStatePlay, 100));
  for (int i = 0; i < 30000 && game.state() != kStateResult; ++i) {
    EXPECT_EQ(headless.frame_at(steer(game)), std::nullopt);
    run.hashes.push_back(play_picture_hash(host));
    run.met_changer = run.met_changer || game.gravity_changer().has_value();
  }
  run.cut = game.pend().is_cut();
  run.last_play_frame = game.play().play_frame;
  EXPECT_EQ(headless.frame(), std::nullopt);
  run.hashes.push_back(play_picture_hash(host));
  run.score = game.play().score;
  run.max_combo = game.play().max_combo;
  run.destroyed = game.play().destroyed;
  return run;
}

TEST(SessionTest, ARecordedPlayReplaysToTheSameFramesAndResult) {
  constexpr std::int32_t kSlot = 1;
  MemoryHost rec_host{painted_library()};
  rec_host.keep_pixels = false;
  HeadlessGame recording(rec_host);
  TGame& rec = recording.game();
  rec.set_state(kStateTitle, rec_host);
  rec.start_play(TGame::kModeRecord, kSlot, false, rec_host);
  rec.set_state(kStateIntro, rec_host);

  // Hits until a gravity changer has flipped the gravity, then a jerk of the
  // hand that tears the string.
  const ScriptedHand hand;
  const double gravity = rec.settings().gravity;
  const PlayRun recorded = run_play(recording, [&](TGame& g) {
    if (g.state() == kStatePlay && g.play().gravity == gravity) return hand.next(g);
    return ScriptedHand::tear(g);
  });
  ASSERT_TRUE(recorded.met_changer);
  ASSERT_TRUE(recorded.cut);
  ASSERT_GT(recorded.last_play_frame, 6000);
  ASSERT_GT(recorded.destroyed[0] + recorded.destroyed[1] + recorded.destroyed[2], 100);
  const std::vector<std::uint8_t>& file = rec_host.files.files.at(kSlot);
  EXPECT_EQ(header_of(file).score, recorded.score);
  EXPECT_EQ(last_frame_of(file), Frame::end());

  // Replays get the file with another score in its header.
  std::vector<std::uint8_t> changed = file;
  RecHeaderRaw h = header_of(file);
  h.score = 1;
  const auto raw = h.encode();
  std::copy(raw.begin(), raw.end(), changed.begin());

  // runtime_state: the runtime generator when the replay starts. With the
  // recording's own state even the cosmetic jitter repeats, so every frame
  // must match; with another one only the play itself must.
  for (const std::uint32_t runtime_state : {0u, 987654321u}) {
    SCOPED_TRACE(runtime_state);
    MemoryHost play_host{painted_library()};
    play_host.keep_pixels = false;
    play_host.files.files[kSlot] = changed;
    HeadlessGame replaying(play_host);
    TGame& replay = replaying.game();
    replay.seed_random(runtime_state);
    replay.set_state(kStateTitle, play_host);
    replay.start_play(TGame::kModeReplay, kSlot, false, play_host);
    replay.set_state(kStateIntro, play_host);
    const PlayRun replayed = run_play(replaying, [](TGame&) { return Point{7, 9}; });

    EXPECT_EQ(replayed.score, recorded.score);
    EXPECT_EQ(replayed.max_combo, recorded.max_combo);
    EXPECT_EQ(replayed.destroyed, recorded.destroyed);
    EXPECT_EQ(replayed.last_play_frame, recorded.last_play_frame);
    EXPECT_TRUE(replayed.cut);
    ASSERT_EQ(replayed.hashes.size(), recorded.hashes.size());
    if (runtime_state == 0) {
      for (std::size_t i = 0; i < recorded.hashes.size(); ++i) {
        ASSERT_EQ(replayed.hashes[i], recorded.hashes[i]) << "frame " << i;
      }
    }
    EXPECT_EQ(header_of(play_host.files.files.at(kSlot)).score, recorded.score);
    EXPECT_FALSE(replay.recorder().failed());
  }
}

}  // namespace
}  // namespace zt
