#include "layout.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace zt::layout {
namespace {

std::int32_t to_field(double window, std::uint32_t offset, std::uint32_t scale, std::int32_t last) {
  const double v = (window - static_cast<double>(offset)) / static_cast<double>(scale);
  if (v < 0) return 0;
  if (std::isnan(v)) return 0;
  const double t = std::trunc(v);
  const std::int32_t i = t >= static_cast<double>(std::numeric_limits<std::int32_t>::max())
                             ? std::numeric_limits<std::int32_t>::max()
                             : static_cast<std::int32_t>(t);
  return std::min(i, last);
}

}  // namespace

Layout layout(std::uint32_t window_width, std::uint32_t window_height) {
  Layout out;
  out.scale = std::min(window_height / kFieldHeight, window_width / kFieldWidth);
  if (out.scale == 0) out.scale = 1;
  const std::uint32_t w = kFieldWidth * out.scale;
  const std::uint32_t h = kFieldHeight * out.scale;
  out.x_offset = window_width >= w ? (window_width - w) / 2 : 0;
  out.y_offset = window_height >= h ? (window_height - h) / 2 : 0;
  return out;
}

Point window_to_game(std::uint32_t window_width, std::uint32_t window_height, double x, double y) {
  const Layout l = layout(window_width, window_height);
  return Point{to_field(x, l.x_offset, l.scale, static_cast<std::int32_t>(kFieldWidth) - 1),
               to_field(y, l.y_offset, l.scale, static_cast<std::int32_t>(kFieldHeight) - 1)};
}

WindowPoint game_to_window_center(std::uint32_t window_width, std::uint32_t window_height,
                                  std::int32_t field_x, std::int32_t field_y) {
  const Layout l = layout(window_width, window_height);
  const double scale = static_cast<double>(l.scale);
  return WindowPoint{static_cast<double>(l.x_offset) + scale * field_x + scale / 2,
                     static_cast<double>(l.y_offset) + scale * field_y + scale / 2};
}

std::array<std::uint32_t, 256> rgb_lut(const Palette& palette) {
  std::array<std::uint32_t, 256> out{};
  for (std::size_t i = 0; i < out.size(); ++i) {
    out[i] = (static_cast<std::uint32_t>(palette[4 * i]) << 16) |
             (static_cast<std::uint32_t>(palette[4 * i + 1]) << 8) | palette[4 * i + 2];
  }
  out[0] = 0x000000;
  out[255] = 0xFFFFFF;
  return out;
}

}  // namespace zt::layout
