#include "game/glue.h"

#include <algorithm>

namespace zt {

void mask_outside(Host& host, SurfaceId id, std::int32_t window_width, std::int32_t window_height,
                  std::uint8_t colour) {
  const Size s = host.surface_size(id);
  const std::int32_t w = s.width;
  const std::int32_t h = s.height;
  if (w == 0 && h == 0) return;
  const std::int32_t ww = std::max(0, std::min(window_width, w));
  const std::int32_t wh = std::max(0, std::min(window_height, h));
  host.dd_fill_rect(id, 0, 0, (w - ww) / 2, h, colour);
  const std::int32_t x2 = (w + ww) / 2;
  host.dd_fill_rect(id, x2, 0, w - x2, h, colour);
  host.dd_fill_rect(id, 0, 0, w, (h - wh) / 2, colour);
  const std::int32_t y2 = (h + wh) / 2;
  host.dd_fill_rect(id, 0, y2, w, h - y2, colour);
}

}  // namespace zt
