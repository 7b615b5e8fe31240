// The program's Host: the platform-free BaseHost with the window loop's
// input and clock, the sound effects, the music backend and a cursor warp
// waiting for the window.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "audio.h"
#include "base_host.h"
#include "game/glue.h"

namespace zt {

class PlayHost final : public Host {
 public:
  PlayHost(BaseHost base, std::unique_ptr<SfxBackend> sfx, std::unique_ptr<BgmBackend> bgm)
      : base(std::move(base)), sfx(std::move(sfx)), bgm_(std::move(bgm)) {}

  void dd_pixelate(SurfaceId id, std::int32_t block) override { base.dd_pixelate(id, block); }
  void dd_blit_rect(SurfaceId dst, SurfaceId src, std::int32_t sx, std::int32_t sy, std::int32_t w,
                    std::int32_t h, std::int32_t dx, std::int32_t dy, bool keyed) override {
    base.dd_blit_rect(dst, src, sx, sy, w, h, dx, dy, keyed);
  }
  void dd_fill_rect(SurfaceId id, std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
                    std::uint8_t colour) override {
    base.dd_fill_rect(id, x, y, w, h, colour);
  }
  void free_surface(SurfaceId id) override { base.free_surface(id); }
  Size surface_size(SurfaceId id) override { return base.surface_size(id); }
  SurfaceId create_scratch(std::int32_t w, std::int32_t h) override {
    return base.create_scratch(w, h);
  }
  void dd_blit_rect_to(SurfaceId dst, SurfaceId src, std::int32_t sx, std::int32_t sy,
                       std::int32_t sw, std::int32_t sh, std::int32_t dx, std::int32_t dy,
                       std::int32_t dw, std::int32_t dh, bool keyed) override {
    base.dd_blit_rect_to(dst, src, sx, sy, sw, sh, dx, dy, dw, dh, keyed);
  }
  std::optional<Palette> load_named_into(SurfaceId id, std::string_view name) override {
    return base.load_named_into(id, name);
  }
  void realize_palette(const Palette& palette) override { base.realize_palette(palette); }
  bool save_screenshot(SurfaceId id, const Palette& palette, std::int32_t n) override {
    return base.save_screenshot(id, palette, n);
  }
  void dd_plot(SurfaceId id, std::int32_t x, std::int32_t y, std::uint8_t colour) override {
    base.dd_plot(id, x, y, colour);
  }
  void present() override { base.present(); }
  double now_datetime() override;

  bool key_down(std::int32_t code) override { return base.key_table()[code & 0xFF] != 0; }
  void clear_key(std::int32_t code) override { base.key_table()[code & 0xFF] = 0; }
  Point mouse_pos() override { return base.pointer(); }
  void warp_mouse(std::int32_t x, std::int32_t y) override {
    base.pointer() = {x, y};
    pending_warp = Point{x, y};
  }
  std::uint32_t now_ms() override { return base.clock_ms(); }

  void play_sound(std::string_view name, std::int32_t priority) override {
    sfx->play(name, priority);
  }
  BgmBackend& bgm() override { return *bgm_; }

  bool file_exists(std::int32_t slot) override { return base.file_exists(slot); }
  bool open_for_read(std::int32_t slot) override { return base.open_for_read(slot); }
  bool read_only() const override { return base.read_only(); }
  bool seek_from_end(std::int64_t offset) override { return base.seek_from_end(offset); }
  bool open_for_write(std::int32_t slot) override { return base.open_for_write(slot); }
  bool seek_from_start(std::int64_t offset) override { return base.seek_from_start(offset); }
  std::optional<std::vector<std::uint8_t>> read(std::size_t length) override {
    return base.read(length);
  }
  void close() override { base.close(); }
  bool write(const std::vector<std::uint8_t>& bytes) override { return base.write(bytes); }
  bool commit() override { return base.commit(); }
  bool file_exists(std::string_view name) override { return base.file_exists(name); }

  BaseHost base;
  std::unique_ptr<SfxBackend> sfx;
  std::unique_ptr<BgmBackend> bgm_;
  std::optional<Point> pending_warp;
};

// Days since 1899-12-30 for seconds since 1970 (UTC) and a local UTC offset
// in seconds, the offset rounded to whole minutes.
double local_datetime(double unix_seconds, std::int64_t utc_offset_seconds);

}  // namespace zt
