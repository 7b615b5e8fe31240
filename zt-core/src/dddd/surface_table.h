// Every surface a host keeps for the core, found by the id the core names it
// with: the sprite sheets, the frame, the picture and presentation surfaces,
// and the scratch surfaces. The drawing operations forward to the blits.
//
// An id names the first entry of the same kind (and, for a sheet or a
// scratch surface, the same number). Nothing here is fixed for good: the core
// may free any surface, and an id that names none draws nothing and measures
// 0 x 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dddd/surface.h"
#include "game/glue.h"

namespace zt {

// One surface of a host and the id under which the core reaches it.
struct SurfaceEntry {
  std::string name;
  Surface surface;
  SurfaceId id = 0;
};

class SurfaceTable {
 public:
  // Appends sheet n (1 to 20) under the bitmap's member name, keyed as the
  // game keys that sheet.
  void add_sheet(int n, std::string name, Surface bitmap);
  // Appends the zero-filled frame ("screen"), picture ("f8c") and
  // presentation ("present") surfaces at the field's size.
  void add_fixed_surfaces();

  // The first surface the id names, or none.
  Surface* find(SurfaceId id);
  const Surface* find(SurfaceId id) const;
  const std::vector<SurfaceEntry>& entries() const { return entries_; }

  // Host operations. An id that names no surface changes nothing.
  void dd_pixelate(SurfaceId id, std::int32_t block);
  void dd_blit_rect(SurfaceId dst, SurfaceId src, std::int32_t sx, std::int32_t sy, std::int32_t w,
                    std::int32_t h, std::int32_t dx, std::int32_t dy, bool keyed);
  void dd_fill_rect(SurfaceId id, std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
                    std::uint8_t colour);
  // Removes every entry the id names; the others keep their order.
  void free_surface(SurfaceId id);
  Size surface_size(SurfaceId id) const;  // (0, 0) for no surface
  // A zero-filled scratch surface under the next serial; a size of 0 or less
  // uses the serial up and makes nothing, so no id is ever handed out twice.
  SurfaceId create_scratch(std::int32_t w, std::int32_t h);
  void dd_blit_rect_to(SurfaceId dst, SurfaceId src, std::int32_t sx, std::int32_t sy,
                       std::int32_t sw, std::int32_t sh, std::int32_t dx, std::int32_t dy,
                       std::int32_t dw, std::int32_t dh, bool keyed);
  void dd_plot(SurfaceId id, std::int32_t x, std::int32_t y, std::uint8_t colour);

  // The surface the id names takes the bitmap's pixels, size, colour key and
  // keyed flag, and the entry its name; false, and nothing changed, when the
  // id names no surface.
  bool load_into(SurfaceId id, std::string_view name, const Surface& bitmap);

  // The serial of the last scratch surface asked for; 0 before the first.
  std::uint32_t scratch_serial() const { return scratch_serial_; }
  std::size_t scratch_count() const;

 private:
  SurfaceEntry* find_entry(SurfaceId id);

  std::vector<SurfaceEntry> entries_;
  std::uint32_t scratch_serial_ = 0;
};

}  // namespace zt
