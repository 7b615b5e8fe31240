// The part of a Host that every host over a SurfaceTable answers alike: the
// drawing operations on the table, and the replay and song files forwarded
// to the objects that keep them. A host derives from it and names the three;
// the display, input, clocks, sound and music stay its own.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "dddd/surface_table.h"
#include "game/glue.h"

namespace zt {

class TableHost : public Host {
 public:
  void dd_pixelate(SurfaceId id, std::int32_t block) final {
    surface_table().dd_pixelate(id, block);
  }
  void dd_blit_rect(SurfaceId dst, SurfaceId src, std::int32_t sx, std::int32_t sy, std::int32_t w,
                    std::int32_t h, std::int32_t dx, std::int32_t dy, bool keyed) final {
    surface_table().dd_blit_rect(dst, src, sx, sy, w, h, dx, dy, keyed);
  }
  void dd_fill_rect(SurfaceId id, std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
                    std::uint8_t colour) final {
    surface_table().dd_fill_rect(id, x, y, w, h, colour);
  }
  void free_surface(SurfaceId id) final { surface_table().free_surface(id); }
  Size surface_size(SurfaceId id) final { return surface_table().surface_size(id); }
  SurfaceId create_scratch(std::int32_t w, std::int32_t h) final {
    return surface_table().create_scratch(w, h);
  }
  void dd_blit_rect_to(SurfaceId dst, SurfaceId src, std::int32_t sx, std::int32_t sy,
                       std::int32_t sw, std::int32_t sh, std::int32_t dx, std::int32_t dy,
                       std::int32_t dw, std::int32_t dh, bool keyed) final {
    surface_table().dd_blit_rect_to(dst, src, sx, sy, sw, sh, dx, dy, dw, dh, keyed);
  }
  void dd_plot(SurfaceId id, std::int32_t x, std::int32_t y, std::uint8_t colour) final {
    surface_table().dd_plot(id, x, y, colour);
  }

  bool file_exists(std::int32_t slot) final { return replay_files().file_exists(slot); }
  bool open_for_read(std::int32_t slot) final { return replay_files().open_for_read(slot); }
  bool read_only() const final { return replay_files().read_only(); }
  bool seek_from_end(std::int64_t offset) final { return replay_files().seek_from_end(offset); }
  bool open_for_write(std::int32_t slot) final { return replay_files().open_for_write(slot); }
  bool seek_from_start(std::int64_t offset) final { return replay_files().seek_from_start(offset); }
  std::optional<std::vector<std::uint8_t>> read(std::size_t length) final {
    return replay_files().read(length);
  }
  void close() final { replay_files().close(); }
  bool write(const std::vector<std::uint8_t>& bytes) final { return replay_files().write(bytes); }
  bool commit() final { return replay_files().commit(); }
  bool file_exists(std::string_view name) final { return song_files().file_exists(name); }

 protected:
  virtual SurfaceTable& surface_table() = 0;
  virtual RecorderIo& replay_files() = 0;
  virtual const RecorderIo& replay_files() const = 0;
  virtual KbgmSink& song_files() = 0;
};

}  // namespace zt
