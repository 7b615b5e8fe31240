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
#include "tgame_probe.h"

namespace zt {
namespace {

std::filesystem::path data_dir() {
#ifdef ZT_DATA_DIR
  return ZT_DATA_DIR;
#else
  return {};
#endif
}

std::optional<std::vector<std::uint8_t>> read_demo() {
  std::ifstream in(data_dir() / "Rec" / "Rec0.dat", std::ios::binary);
  if (!in) return std::nullopt;
  return std::vector<std::uint8_t>{std::istreambuf_iterator<char>(in), {}};
}

TEST(DemoData, TheTitleDemonstrationReplaysToItsRecordedScore) {
  const std::filesystem::path dir = data_dir();
  const std::optional<std::vector<std::uint8_t>> demo = read_demo();
  if (!demo) GTEST_SKIP() << "no generated data";
  const std::vector<std::uint8_t>& file = *demo;
  ASSERT_GT(file.size(), RecHeaderRaw::kSize + 8 * 100);
  const RecHeaderRaw header = RecHeaderRaw::decode(
      std::span<const std::uint8_t, RecHeaderRaw::kSize>(file.data(), RecHeaderRaw::kSize));
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

// A player who copies the demonstration into a slot of their own sees it as
// data there and can replay it: its header carries a real date.
TEST(DemoData, ACopyInAPlayersSlotIsDataOnTheSlotScreen) {
  const std::optional<std::vector<std::uint8_t>> demo = read_demo();
  if (!demo) GTEST_SKIP() << "no generated data";
  const RecHeaderRaw header = RecHeaderRaw::decode(
      std::span<const std::uint8_t, RecHeaderRaw::kSize>(demo->data(), RecHeaderRaw::kSize));
  const DateTimeText when = format_tdatetime(header.date);
  EXPECT_GE(when.date, "2000/01/01");
  EXPECT_LT(when.date, "2100/01/01");

  MemoryHost host;
  host.files.files[4] = *demo;
  TGame game = TGame::create(TConfig{});
  game.set_state(kStateLogo, host);
  game.set_state(kStateTitle, host);
  TGameProbe::slot_mode(game) = TGame::kModeReplay;
  game.set_state(kStateSlots, host);
  ASSERT_EQ(game.step_frame(host), std::nullopt);
  // Slot 4's band is y 130 to 140; a click there starts its replay.
  host.set_pointer(70, 135);
  host.press(kKeyLButton);
  ASSERT_EQ(game.step_frame(host), std::nullopt);
  EXPECT_EQ(game.state(), kStateIntro);
  EXPECT_TRUE(game.play().replaying);
}

}  // namespace
}  // namespace zt
