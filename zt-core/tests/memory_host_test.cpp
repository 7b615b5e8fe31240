// The in-memory host keeps the Host contract that the game's tests rely on.
#include "memory_host.h"

#include <gtest/gtest.h>

namespace zt {
namespace {

TEST(MemoryHost, ScratchSerialsCountUpAndAreNeverReused) {
  MemoryHost host;
  const SurfaceId a = host.create_scratch(4, 4);
  const SurfaceId empty = host.create_scratch(0, 10);
  const SurfaceId b = host.create_scratch(2, 3);
  EXPECT_EQ(a, scratch_id(1));
  EXPECT_EQ(empty, scratch_id(2));
  EXPECT_EQ(b, scratch_id(3));
  EXPECT_EQ(host.surface_size(empty), (Size{0, 0}));
  EXPECT_EQ(host.surface_size(b), (Size{2, 3}));
  host.free_surface(a);
  EXPECT_EQ(host.surface_size(a), (Size{0, 0}));
  EXPECT_EQ(host.create_scratch(1, 1), scratch_id(4));
  EXPECT_EQ(host.scratch_count(), 2u);
}

TEST(MemoryHost, CopiesUseTheKeyStoredOnTheSheet) {
  BitmapLibrary lib = blank_library();
  for (NamedBitmap& b : lib) {
    if (b.name == "title.bmp" || b.name == "hand.bmp") {
      b.surface.at(0, 0) = 255;
      b.surface.at(1, 0) = 0;
      b.surface.at(2, 0) = 6;
    }
  }
  MemoryHost host(std::move(lib));
  host.dd_fill_rect(kFrame, 0, 0, 320, 240, 9);
  host.dd_blit_rect(kFrame, sheet_id(kSheetTitle), 0, 0, 3, 1, 10, 10, true);
  host.dd_blit_rect(kFrame, sheet_id(kSheetHand), 0, 0, 3, 1, 10, 11, true);
  host.dd_blit_rect(kFrame, sheet_id(kSheetHand), 0, 0, 3, 1, 10, 12, false);
  const Surface& f = host.frame();
  EXPECT_EQ((std::array{f.at(10, 10), f.at(11, 10), f.at(12, 10)}),
            (std::array<std::uint8_t, 3>{9, 0, 6}));
  EXPECT_EQ((std::array{f.at(10, 11), f.at(11, 11), f.at(12, 11)}),
            (std::array<std::uint8_t, 3>{255, 9, 6}));
  EXPECT_EQ((std::array{f.at(10, 12), f.at(11, 12), f.at(12, 12)}),
            (std::array<std::uint8_t, 3>{255, 0, 6}));
  // A copy of the frame onto itself draws nothing.
  host.dd_blit_rect(kFrame, kFrame, 10, 10, 3, 1, 0, 0, false);
  EXPECT_EQ(f.at(0, 0), 9);
}

TEST(MemoryHost, NamedPicturesLoadWithoutRegardToCase) {
  MemoryHost host;
  const std::optional<Palette> p = host.load_named_into(kPicture, "LOGO.BMP");
  ASSERT_TRUE(p.has_value());
  EXPECT_EQ(*p, ramp_palette(0x11));
  EXPECT_EQ(host.surface_size(kPicture), (Size{219, 148}));
  EXPECT_FALSE(host.load_named_into(kPicture, "nothing.bmp").has_value());
  EXPECT_EQ(host.surface_size(kPicture), (Size{219, 148}));
  EXPECT_FALSE(host.load_named_into(scratch_id(99), "ball.bmp").has_value());
}

// As on the real host: a freed surface, the fixed ones too, measures 0 x 0
// and takes nothing; with the frame gone nothing is presented.
TEST(MemoryHost, FreedSurfacesNameNothingAsOnTheRealHost) {
  for (const SurfaceId id : {kFrame, kPicture, kPresent, sheet_id(kSheetBall)}) {
    SCOPED_TRACE(id);
    MemoryHost host;
    host.free_surface(id);
    EXPECT_EQ(host.surface_size(id), (Size{0, 0}));
    EXPECT_EQ(host.surface(id), nullptr);
    host.dd_fill_rect(id, 0, 0, 10, 10, 5);
    EXPECT_FALSE(host.load_named_into(id, "ball.bmp").has_value());
    EXPECT_TRUE(host.save_screenshot(id, Palette{}, 0));
    EXPECT_EQ(host.surface_size(id), (Size{0, 0}));
  }
  MemoryHost host;
  host.free_surface(kFrame);
  host.present();
  EXPECT_TRUE(host.presented.empty());
}

// A loaded picture brings its bitmap's own key and flag, not those of the
// sheet of that name.
TEST(MemoryHost, ALoadedPictureKeepsItsBitmapsKey) {
  MemoryHost host;
  ASSERT_TRUE(host.load_named_into(kPicture, "title.bmp").has_value());
  EXPECT_EQ(host.surface(kPicture)->colour_key, 0);
  EXPECT_FALSE(host.surface(kPicture)->keyed);
  EXPECT_EQ(host.surface(sheet_id(kSheetTitle))->colour_key, 255);
  EXPECT_TRUE(host.surface(sheet_id(kSheetTitle))->keyed);
}

TEST(MemoryHost, KeysPointerAndScreenshots) {
  MemoryHost host;
  EXPECT_EQ(host.mouse_pos(), (Point{160, 120}));
  host.press(kKeyS);
  EXPECT_TRUE(host.key_down(kKeyS));
  host.clear_key(kKeyS);
  EXPECT_FALSE(host.key_down(kKeyS));
  EXPECT_FALSE(host.key_down(300));
  host.warp_mouse(3, 4);
  EXPECT_EQ(host.mouse_pos(), (Point{3, 4}));
  EXPECT_FALSE(host.save_screenshot(kFrame, Palette{}, 0));
  EXPECT_TRUE(host.save_screenshot(scratch_id(50), Palette{}, 1));
  EXPECT_EQ(host.screenshots.size(), 1u);
}

}  // namespace
}  // namespace zt
