// The generated title demonstration, played by the title screen on the real
// sheets: it must reach the score its header records, and leave its file as
// it was.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "bitmap_library.h"
#include "formats/config.h"
#include "formats/recorder.h"
#include "game/ugame.h"
#include "memory_host.h"

namespace zt {
namespace {

TEST(DemoData, TheTitleDemonstrationReplaysToItsRecordedScore) {
#ifdef ZT_DATA_DIR
  const std::filesystem::path dir = ZT_DATA_DIR;
#else
  const std::filesystem::path dir;
#endif
  if (!std::filesystem::exists(dir / "Rec" / "Rec0.dat")) GTEST_SKIP() << "no generated data";
  std::ifstream in(dir / "Rec" / "Rec0.dat", std::ios::binary);
  const std::vector<std::uint8_t> file{std::istreambuf_iterator<char>(in), {}};
  ASSERT_GT(file.size(), RecHeaderRaw::kSize + 8 * 100);
  const RecHeaderRaw header =
      RecHeaderRaw::decode(std::span<const std::uint8_t, RecHeaderRaw::kSize>(file.data(),
                                                                           RecHeaderRaw::kSize));
  EXPECT_GE(header.format_mark, RecHeaderRaw::kMinValidMark);
  EXPECT_GT(header.score, 0);

  auto library = load_bitmap_library(dir);
  ASSERT_TRUE(library.has_value());
  MemoryHost host{std::move(*library)};
  host.keep_pixels = false;
  host.files.files[0] = file;
  TGame game = TGame::create(TConfig{});
  game.set_state(kStateLogo, host);
  game.set_state(kStateTitle, host);

  bool played = false;
  std::int64_t score = 0;
  // The title starts the demonstration on its 1000th frame; it then runs to
  // its end and the title menu comes back.
  for (int i = 0; i < 40000; ++i) {
    ASSERT_EQ(game.step_frame(host), std::nullopt);
    host.presented.clear();
    if (game.state() == kStatePlay) {
      played = true;
      score = game.play().score;
    }
    if (played && game.state() == kStateTitle) break;
  }
  ASSERT_TRUE(played);
  EXPECT_EQ(game.state(), kStateTitle);
  EXPECT_EQ(score, header.score);
  EXPECT_FALSE(game.recorder().failed());
  EXPECT_EQ(host.files.files.at(0), file) << "the demonstration leaves its file unchanged";
}

}  // namespace
}  // namespace zt
