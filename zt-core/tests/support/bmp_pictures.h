// Pictures for the tests of the 8-bit bitmap writer: a palette whose reserved
// bytes must not reach the file, and pixels that use every colour index.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "game/glue.h"

namespace zt::test {

inline Palette bmp_test_palette() {
  Palette p{};
  for (std::size_t i = 0; i < 256; ++i) {
    p[4 * i] = static_cast<std::uint8_t>(i);
    p[4 * i + 1] = static_cast<std::uint8_t>(255 - i);
    p[4 * i + 2] = static_cast<std::uint8_t>(i * 7);
    p[4 * i + 3] = 0x55;  // must not reach the file
  }
  return p;
}

inline std::vector<std::uint8_t> bmp_pattern_pixels(int w, int h) {
  std::vector<std::uint8_t> px(static_cast<std::size_t>(w * h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      px[static_cast<std::size_t>(y * w + x)] = static_cast<std::uint8_t>(x * 3 + y * 11);
  return px;
}

}  // namespace zt::test
