// How the 320 x 240 field sits in a window of any size: a whole-number
// scale, centred, black around it; and the conversions between window and
// field coordinates that the mouse and the cursor warps use.
#pragma once

#include <array>
#include <cstdint>

#include "game/glue.h"

namespace zt::layout {

// The core's field size, unsigned for the window arithmetic.
inline constexpr std::uint32_t kFieldWidth = static_cast<std::uint32_t>(zt::kFieldWidth);
inline constexpr std::uint32_t kFieldHeight = static_cast<std::uint32_t>(zt::kFieldHeight);

struct Layout {
  std::uint32_t scale = 1;
  std::uint32_t x_offset = 0;
  std::uint32_t y_offset = 0;
  friend bool operator==(const Layout&, const Layout&) = default;
};

struct WindowPoint {
  double x = 0;
  double y = 0;
  friend bool operator==(const WindowPoint&, const WindowPoint&) = default;
};

Layout layout(std::uint32_t window_width, std::uint32_t window_height);

// The field pixel under a window point, clamped to the field.
Point window_to_game(std::uint32_t window_width, std::uint32_t window_height, double x, double y);

// The centre of a field pixel on the window.
WindowPoint game_to_window_center(std::uint32_t window_width, std::uint32_t window_height,
                                  std::int32_t field_x, std::int32_t field_y);

// 0xRRGGBB for each colour index; index 0 is always black and 255 always white.
std::array<std::uint32_t, 256> rgb_lut(const Palette& palette);

}  // namespace zt::layout
