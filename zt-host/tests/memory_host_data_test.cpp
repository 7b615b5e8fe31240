// The in-memory host over the sheets of a real data directory (the one the
// build writes), and the game drawing on them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "bitmap_library.h"
#include "formats/bmp.h"
#include "formats/qda.h"
#include "game/ugame.h"
#include "memory_host.h"

namespace zt {
namespace {

std::optional<BitmapLibrary> data_library() {
#ifdef ZT_DATA_DIR
  const std::filesystem::path dir = ZT_DATA_DIR;
  if (std::filesystem::exists(dir / "images.qda")) return load_bitmap_library(dir);
#endif
  return std::nullopt;
}

void put_u32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i)
    b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

// An uncompressed archive of the given members.
std::vector<std::uint8_t> archive_of(
    const std::vector<std::pair<std::string, std::vector<std::uint8_t>>>& members) {
  std::vector<std::uint8_t> b(kQdaHeaderSize + members.size() * kQdaEntrySize, 0);
  put_u32(b, 8, static_cast<std::uint32_t>(members.size()));
  for (std::size_t i = 0; i < members.size(); ++i) {
    const std::size_t at = kQdaHeaderSize + i * kQdaEntrySize;
    put_u32(b, at, static_cast<std::uint32_t>(b.size()));
    put_u32(b, at + 4, static_cast<std::uint32_t>(members[i].second.size()));
    std::copy(members[i].first.begin(), members[i].first.end(),
              b.begin() + static_cast<std::ptrdiff_t>(at + 12));
    b.insert(b.end(), members[i].second.begin(), members[i].second.end());
  }
  return b;
}

TEST(BitmapLibrary, DecodesTheBitmapsOfAnArchive) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("zt-bitmap-library-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  EXPECT_FALSE(load_bitmap_library(dir).has_value());  // no archive yet

  Palette pal{};
  for (std::size_t i = 0; i < 256; ++i) pal[i * 4] = static_cast<std::uint8_t>(255 - i);
  const std::vector<std::uint8_t> px = {1, 2, 3, 4, 5, 6};
  const std::optional<std::vector<std::uint8_t>> bmp = bmp::bmp_indexed_bytes(3, 2, px, pal);
  ASSERT_TRUE(bmp.has_value());
  const std::vector<std::uint8_t> junk = {'n', 'o', 't', ' ', 'a', ' ', 'b', 'm', 'p'};
  {
    std::ofstream out(dir / "images.qda", std::ios::binary);
    const std::vector<std::uint8_t> a = archive_of({{"Font.bmp", *bmp}, {"readme.txt", junk}});
    out.write(reinterpret_cast<const char*>(a.data()), static_cast<std::streamsize>(a.size()));
  }
  const std::optional<BitmapLibrary> lib = load_bitmap_library(dir);
  std::filesystem::remove_all(dir);
  ASSERT_TRUE(lib.has_value());
  ASSERT_EQ(lib->size(), 1u);
  EXPECT_EQ((*lib)[0].name, "Font.bmp");
  EXPECT_EQ((*lib)[0].surface.pixels, px);
  EXPECT_EQ((*lib)[0].palette[0], 255);
  EXPECT_EQ((*lib)[0].palette[4], 254);

  // The host finds the sheet by its name in any letter case.
  MemoryHost host(*lib);
  EXPECT_EQ(host.surface_size(sheet_id(kSheetFont)), (Size{3, 2}));
  EXPECT_EQ(host.surface_size(sheet_id(kSheetBall)), (Size{0, 0}));
}

class DataSheets : public ::testing::Test {
 protected:
  void SetUp() override {
    lib = data_library();
    if (!lib) GTEST_SKIP() << "no data directory in the build tree";
  }
  std::optional<BitmapLibrary> lib;
};

TEST_F(DataSheets, EverySheetIsThereAndLargeEnoughForItsCells) {
  MemoryHost host(*lib);
  struct Need {
    int sheet;
    Size at_least;
  };
  for (const Need n :
       {Need{kSheetBall, {128, 128}}, Need{kSheetTitle, {300, 100}},
        Need{kSheetMenuIcon, {320, 32}}, Need{kSheetTarget, {480, 72}},
        Need{kSheetNext2, {480, 72}}, Need{kSheetFragments, {90, 54}}, Need{kSheetFont, {288, 36}},
        Need{kSheetScore, {90, 48}}, Need{kSheetNumber, {400, 40}}, Need{kSheetJudge, {60, 150}},
        Need{kSheetPfont, {55, 8}}, Need{kSheetGravityX, {250, 120}},
        Need{kSheetGravityH, {250, 120}}, Need{kSheetGauge, {300, 30}},
        Need{kSheetRank, {500, 320}}, Need{kSheetField, {160, 320}},
        Need{kSheetGameOver, {300, 120}}}) {
    const Size s = host.surface_size(sheet_id(n.sheet));
    EXPECT_GE(s.width, n.at_least.width) << kSheetNames[static_cast<std::size_t>(n.sheet - 1)];
    EXPECT_GE(s.height, n.at_least.height) << kSheetNames[static_cast<std::size_t>(n.sheet - 1)];
  }
  for (int n = 1; n <= kSheetCount; ++n) {
    EXPECT_NE(host.surface_size(sheet_id(n)), (Size{0, 0})) << n;
    const Surface* s = host.surface(sheet_id(n));
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->colour_key, n == kSheetTitle ? 255 : 0);
    EXPECT_EQ(s->keyed, n == kSheetTitle);
  }
}

TEST_F(DataSheets, TheGameTakesItsPalettesFromThePictures) {
  MemoryHost host(*lib);
  TGame game = TGame::create(TConfig{});
  game.set_state(kStateLogo, host);
  const NamedBitmap* logo = nullptr;
  const NamedBitmap* ball = nullptr;
  for (const NamedBitmap& b : *lib) {
    if (b.name == "logo.bmp") logo = &b;
    if (b.name == "ball.bmp") ball = &b;
  }
  ASSERT_NE(logo, nullptr);
  ASSERT_NE(ball, nullptr);
  EXPECT_EQ(game.base_palette(), logo->palette);
  EXPECT_EQ(host.palette, logo->palette);
  game.set_state(kStateTitle, host);
  EXPECT_EQ(host.palette, ball->palette);
  // The picture surface now holds the main picture.
  EXPECT_EQ(host.surface(kPicture)->pixels, ball->surface.pixels);
}

TEST_F(DataSheets, LettersStayInsideTheirPlaces) {
  MemoryHost host(*lib);
  TGame game = TGame::create(TConfig{});
  host.frame().pixels.assign(host.frame().pixels.size(), 0);
  game.draw_text("ZENTROPOLIUM", 160, 120, kAlignCentre, 0, false, 0, host);
  // 12 letters of 12 pixels centred on 160: x 88 to 231, y 114 to 125.
  std::size_t inked = 0;
  for (std::int32_t y = 0; y < 240; ++y) {
    for (std::int32_t x = 0; x < 320; ++x) {
      if (host.frame().at(x, y) == 0) continue;
      ++inked;
      EXPECT_TRUE(x >= 88 && x < 232 && y >= 114 && y < 126) << x << "," << y;
    }
  }
  EXPECT_GT(inked, 12u);
}

TEST_F(DataSheets, APlayPictureDrawsAndPresentsHeadless) {
  MemoryHost host(*lib);
  TGame game = TGame::create(TConfig{});
  game.set_state(kStateLogo, host);
  game.set_state(kStatePlay, host);
  game.draw_play(host);
  game.present(host);
  ASSERT_EQ(host.presented.size(), 1u);
  EXPECT_EQ(host.presented[0].palette, game.shown_palette());
  EXPECT_EQ(host.presented[0].pixels, host.frame().pixels);
}

}  // namespace
}  // namespace zt
