// Drawing on surfaces: keyed copies, scaled copies, fills, plots and the
// mosaic, as the host's drawing operations forward them. Source and
// destination of a copy are always two different surfaces.
#pragma once

#include <cstdint>

#include "dddd/surface.h"

namespace zt {

// key < 0 keeps the key stored on the source; key >= 0 replaces it.
void dd_blit_rect(Surface& dst, Surface& src, std::int32_t sx, std::int32_t sy, std::int32_t w,
                  std::int32_t h, std::int32_t dx, std::int32_t dy, bool keyed, std::int32_t key);
void dd_blit_rect_to(Surface& dst, Surface& src, std::int32_t sx, std::int32_t sy, std::int32_t sw,
                     std::int32_t sh, std::int32_t dx, std::int32_t dy, std::int32_t dw,
                     std::int32_t dh, bool keyed, std::int32_t key);
// Clips a scaled copy against a destination of dst_w x dst_h, cutting the
// source in proportion; false when nothing is left to draw.
bool clip_scaled_blit(std::int32_t dst_w, std::int32_t dst_h, std::int32_t& sx, std::int32_t& sy,
                      std::int32_t& sw, std::int32_t& sh, std::int32_t& dx, std::int32_t& dy,
                      std::int32_t& dw, std::int32_t& dh);
void index_copy(const Surface& src, std::int32_t sx, std::int32_t sy, std::int32_t sw,
                std::int32_t sh, Surface& dst, std::int32_t dx, std::int32_t dy, std::int32_t dw,
                std::int32_t dh, bool keyed, std::uint8_t key);
void dd_fill_rect(Surface& s, std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
                  std::int32_t colour);
void dd_plot(Surface& s, std::int32_t x, std::int32_t y, std::int32_t colour);
void dd_pixelate(Surface& s, std::int32_t block);

}  // namespace zt
