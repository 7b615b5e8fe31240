// The surface table both Linux-side hosts keep: lookup by id, freeing, scratch
// serials and loading a picture into a surface.
#include "dddd/surface_table.h"

#include <gtest/gtest.h>

namespace zt {
namespace {

Surface filled(std::int32_t w, std::int32_t h, std::uint8_t v) {
  Surface s = *Surface::create(w, h);
  s.pixels.assign(s.pixels.size(), v);
  return s;
}

TEST(SurfaceTable, AnIdNamesTheFirstEntryAndFreeingRemovesEveryOne) {
  SurfaceTable t;
  t.add_sheet(kSheetTitle, "title.bmp", filled(4, 2, 1));
  t.add_fixed_surfaces();
  t.add_sheet(kSheetTitle, "again.bmp", filled(6, 6, 2));
  ASSERT_EQ(t.entries().size(), 5u);
  EXPECT_EQ(t.surface_size(sheet_id(kSheetTitle)), (Size{4, 2}));
  EXPECT_EQ(t.find(sheet_id(kSheetTitle))->colour_key, 255);
  EXPECT_TRUE(t.find(sheet_id(kSheetTitle))->keyed);
  for (const SurfaceId id : {kFrame, kPicture, kPresent}) {
    EXPECT_EQ(t.surface_size(id), (Size{kFieldWidth, kFieldHeight}));
  }

  t.free_surface(sheet_id(kSheetTitle));
  EXPECT_EQ(t.surface_size(sheet_id(kSheetTitle)), (Size{0, 0}));
  ASSERT_EQ(t.entries().size(), 3u);
  EXPECT_EQ(t.entries()[0].name, "screen");
  EXPECT_EQ(t.entries()[2].name, "present");

  t.free_surface(kPicture);
  EXPECT_EQ(t.surface_size(kPicture), (Size{0, 0}));
  EXPECT_FALSE(t.load_into(kPicture, "ball.bmp", filled(2, 2, 3)));
  EXPECT_EQ(t.entries().size(), 2u);
}

TEST(SurfaceTable, ScratchSerialsAreUsedUpEvenWhenNothingIsMade) {
  SurfaceTable t;
  EXPECT_EQ(t.create_scratch(0, 10), scratch_id(1));
  EXPECT_EQ(t.create_scratch(3, 2), scratch_id(2));
  EXPECT_EQ(t.create_scratch(5, -1), scratch_id(3));
  EXPECT_EQ(t.scratch_serial(), 3u);
  EXPECT_EQ(t.scratch_count(), 1u);
  EXPECT_EQ(t.surface_size(scratch_id(1)), (Size{0, 0}));
  EXPECT_EQ(t.surface_size(scratch_id(2)), (Size{3, 2}));
  EXPECT_EQ(t.entries().back().name, "scratch2");
  t.free_surface(scratch_id(2));
  EXPECT_EQ(t.scratch_count(), 0u);
  EXPECT_EQ(t.create_scratch(1, 1), scratch_id(4));
}

TEST(SurfaceTable, ALoadedPictureReplacesSizeKeyAndName) {
  SurfaceTable t;
  t.add_fixed_surfaces();
  Surface picture = filled(3, 5, 7);
  picture.colour_key = 9;
  ASSERT_TRUE(t.load_into(kPicture, "LOGO.bmp", picture));
  EXPECT_EQ(t.surface_size(kPicture), (Size{3, 5}));
  EXPECT_EQ(t.find(kPicture)->colour_key, 9);
  EXPECT_FALSE(t.find(kPicture)->keyed);
  EXPECT_EQ(t.entries()[1].name, "LOGO.bmp");
  // Drawing on the copy leaves the bitmap it came from alone.
  t.dd_fill_rect(kPicture, 0, 0, 3, 5, 1);
  EXPECT_EQ(picture.pixels[0], 7);
  // A copy from the picture onto the frame uses the key stored on the picture.
  t.dd_blit_rect(kFrame, kPicture, 0, 0, 3, 5, 0, 0, true);
  EXPECT_EQ(t.find(kFrame)->at(2, 4), 1);
  EXPECT_TRUE(t.find(kPicture)->keyed);
}

}  // namespace
}  // namespace zt
