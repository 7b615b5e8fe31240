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
#include "game/table_host.h"

namespace zt {

class PlayHost final : public TableHost {
 public:
  PlayHost(BaseHost base, std::unique_ptr<SfxBackend> sfx, std::unique_ptr<BgmBackend> bgm)
      : base(std::move(base)), sfx(std::move(sfx)), bgm_(std::move(bgm)) {}

  std::optional<Palette> load_named_into(SurfaceId id, std::string_view name) override {
    return base.load_named_into(id, name);
  }
  void realize_palette(const Palette& palette) override { base.realize_palette(palette); }
  bool save_screenshot(SurfaceId id, const Palette& palette, std::int32_t n) override {
    return base.save_screenshot(id, palette, n);
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

  BaseHost base;
  std::unique_ptr<SfxBackend> sfx;
  std::unique_ptr<BgmBackend> bgm_;
  std::optional<Point> pending_warp;

 protected:
  SurfaceTable& surface_table() override { return base.surface_table(); }
  RecorderIo& replay_files() override { return base; }
  const RecorderIo& replay_files() const override { return base; }
  KbgmSink& song_files() override { return base; }
};

// Days since 1899-12-30 for seconds since 1970 (UTC) and a local UTC offset
// in seconds, the offset rounded to whole minutes.
double local_datetime(double unix_seconds, std::int64_t utc_offset_seconds);

}  // namespace zt
