// A recording made by the real program, replayed by the core's in-memory
// host: both must reach the score the program wrote into the recording. The
// end-to-end test makes the recording and runs this test with ZT_REPLAY_DIR
// set to the data directory that holds it.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <iostream>

#include "base_host.h"
#include "bitmap_library.h"
#include "files.h"
#include "formats/config.h"
#include "game/start_game.h"
#include "game/ugame.h"
#include "memory_host.h"
#include "tgame_probe.h"

namespace zt {
namespace {

TEST(ReplayAgreement, TheInMemoryHostReplaysToTheRecordedScore) {
  const char* env = std::getenv("ZT_REPLAY_DIR");
  if (env == nullptr) GTEST_SKIP() << "run by the end-to-end test with ZT_REPLAY_DIR set";
  const std::filesystem::path dir = env;
  auto read = read_file(BaseHost::rec_path(dir, 1), std::uint64_t{1} << 26);
  auto* recording = std::get_if<std::vector<std::uint8_t>>(&read);
  ASSERT_TRUE(recording) << "no recording in slot 1";
  std::optional<BitmapLibrary> library = load_bitmap_library(dir);
  ASSERT_TRUE(library);

  MemoryHost host(std::move(*library));
  host.keep_pixels = false;
  host.files.files[1] = *recording;
  TGame game =
      start_game(load_config(read_config_text(dir / "Zentria.ini")), std::nullopt, host).game;

  RecHeaderRaw header;
  ASSERT_EQ(TGameProbe::recorder(game).read_header(1, header, host), HeaderRead::Read);
  ASSERT_GE(header.format_mark, RecHeaderRaw::kMinValidMark);

  game.start_play(TGame::kModeReplay, 1, false, host);
  game.set_state(kStateIntro, host);
  const std::size_t frames = (recording->size() - RecHeaderRaw::kSize) / 8;
  for (std::size_t i = 0; i < frames + 1000 && game.state() <= kStatePlay; ++i) {
    ASSERT_FALSE(game.step_frame(host).has_value());
  }
  EXPECT_GT(game.state(), kStatePlay) << "the replay did not end";
  std::cout << "replayed " << frames << " frames to score " << game.play().score << std::endl;
  EXPECT_EQ(game.play().score, header.score);
  EXPECT_EQ(game.play().max_combo, header.max_combo);
  std::int32_t destroyed = 0;
  for (const std::int32_t d : game.play().destroyed) destroyed += d;
  EXPECT_EQ(destroyed, header.destroyed);
}

}  // namespace
}  // namespace zt
