#include "layout.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace zt::layout {
namespace {

TEST(Layout, WholeNumberScaleThatFitsCentred) {
  struct Case {
    std::uint32_t w, h;
    Layout want;
  };
  const Case cases[] = {
      {1000, 700, {2, 180, 110}},  // the height limits the scale
      {700, 1000, {2, 30, 260}},   // the width limits it
      {320, 240, {1, 0, 0}},
      {960, 720, {3, 0, 0}},
      {1920, 1080, {4, 320, 60}},
      {639, 479, {1, 159, 119}},
      {200, 100, {1, 0, 0}},  // too small: scale 1, cut at the edges
      {200, 500, {1, 0, 130}},
      {0, 0, {1, 0, 0}},
      {0xFFFFFFFF, 0xFFFFFFFF, {13421772, 127, 536871007}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(layout(c.w, c.h), c.want) << c.w << "x" << c.h;
  }
}

TEST(Layout, WindowPointsMapToFieldPixelsClampedAtTheEdges) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    std::uint32_t w, h;
    double x, y;
    Point want;
  };
  const Case cases[] = {
      {960, 720, 959.9, -3, {319, 0}},
      {960, 720, 0, 0, {0, 0}},
      {960, 720, 2.999, 3.0, {0, 1}},
      {1000, 700, 10, 300, {0, 95}},      // left of the field, on the black bar
      {1000, 700, 179.5, 109.9, {0, 0}},  // just outside the top-left corner
      {1000, 700, 180, 110, {0, 0}},
      {1000, 700, 819.99, 589.99, {319, 239}},
      {1000, 700, 820, 590, {319, 239}},  // right bar and bottom bar clamp
      {1000, 700, 1e300, -1e300, {319, 0}},
      {1000, 700, nan, nan, {0, 0}},
      {200, 100, 150.7, 99.9, {150, 99}},  // window smaller than the field
  };
  for (const Case& c : cases) {
    EXPECT_EQ(window_to_game(c.w, c.h, c.x, c.y), c.want)
        << c.w << "x" << c.h << " " << c.x << "," << c.y;
  }
}

TEST(Layout, WarpTargetIsThePixelCentreAndMapsBack) {
  EXPECT_EQ(game_to_window_center(960, 720, 0, 0), (WindowPoint{1.5, 1.5}));
  EXPECT_EQ(game_to_window_center(1000, 700, 319, 239),
            (WindowPoint{180 + 638 + 1, 110 + 478 + 1}));
  EXPECT_EQ(game_to_window_center(320, 240, 5, 6), (WindowPoint{5.5, 6.5}));
  for (const auto& [w, h] : {std::pair{320u, 240u}, std::pair{1000u, 700u}, std::pair{1921u, 1081u},
                             std::pair{200u, 100u}}) {
    for (std::int32_t y = 0; y < 240; y += 7) {
      for (std::int32_t x : {0, 1, 159, 318, 319}) {
        const WindowPoint p = game_to_window_center(w, h, x, y);
        ASSERT_EQ(window_to_game(w, h, p.x, p.y), (Point{x, y})) << w << "x" << h;
      }
    }
  }
}

TEST(Layout, ColourTableKeepsBlackAndWhiteAtTheEnds) {
  Palette white{};
  white.fill(255);
  Palette black{};
  Palette mixed{};
  mixed[4 * 7 + 0] = 0x12;
  mixed[4 * 7 + 1] = 0x34;
  mixed[4 * 7 + 2] = 0x56;
  mixed[4 * 7 + 3] = 0x99;  // the fourth byte is not a colour
  const auto from_white = rgb_lut(white);
  EXPECT_EQ(from_white[0], 0u);
  EXPECT_EQ(from_white[1], 0xFFFFFFu);
  EXPECT_EQ(from_white[255], 0xFFFFFFu);
  const auto from_black = rgb_lut(black);
  EXPECT_EQ(from_black[254], 0u);
  EXPECT_EQ(from_black[255], 0xFFFFFFu);
  EXPECT_EQ(rgb_lut(mixed)[7], 0x123456u);
}

}  // namespace
}  // namespace zt::layout
