// The 8-bit indexed pixel buffer everything of the Linux program draws on.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace zt {

struct Surface {
  std::vector<std::uint8_t> pixels;  // width * height bytes, rows top to bottom
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t colour_key = 0;  // only the low 8 bits are compared
  bool keyed = false;           // whether the last copy from here used the key

  // A zero-filled surface, or nothing unless both sizes are above 0.
  static std::optional<Surface> create(std::int32_t w, std::int32_t h) {
    if (w <= 0 || h <= 0) return std::nullopt;
    Surface s;
    s.pixels.assign(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), 0);
    s.width = w;
    s.height = h;
    return s;
  }

  // Takes the buffer over; nothing unless it holds exactly w * h bytes.
  static std::optional<Surface> from_indexed(std::int32_t w, std::int32_t h,
                                             std::vector<std::uint8_t> px) {
    if (w <= 0 || h <= 0) return std::nullopt;
    if (px.size() != static_cast<std::size_t>(w) * static_cast<std::size_t>(h)) return std::nullopt;
    Surface s;
    s.pixels = std::move(px);
    s.width = w;
    s.height = h;
    return s;
  }

  std::uint8_t at(std::int32_t x, std::int32_t y) const {
    return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                  static_cast<std::size_t>(x)];
  }
  std::uint8_t& at(std::int32_t x, std::int32_t y) {
    return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                  static_cast<std::size_t>(x)];
  }
};

}  // namespace zt
