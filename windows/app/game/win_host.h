// The core's Host in the Windows program: surfaces are display-component
// surfaces, the presentation surface is the primary, sheets come from
// TSurfaces, sound effects from TSounds, music from the KBGM library, replay
// and song files from the current directory.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dddd.h"
#include "game/glue.h"
#include "replace_file.h"
#include "sounds.h"
#include "surfaces.h"

namespace zt::win {

// The system cursor, replaceable in tests.
struct CursorIo {
  std::function<POINT()> get = [] {
    POINT p{0, 0};
    GetCursorPos(&p);
    return p;
  };
  std::function<void(int, int)> set = [](int x, int y) { SetCursorPos(x, y); };
};

// The current local time as days since 1899-12-30.
double LocalDateTimeNow();

class WinHost final : public Host {
 public:
  // Sheets and sounds may be absent (tests); their operations then do nothing.
  WinHost(TDDDD& display, TSurfaces* sheets, TSounds* sounds, BgmBackend& music);
  ~WinHost() override;

  TDDDDSurface& frame() { return *frame_; }
  TDDDDGenSurface* surface(SurfaceId id);
  CursorIo cursor;

  // Host
  void dd_pixelate(SurfaceId id, std::int32_t block) override;
  void dd_blit_rect(SurfaceId dst, SurfaceId src, std::int32_t sx, std::int32_t sy, std::int32_t w,
                    std::int32_t h, std::int32_t dx, std::int32_t dy, bool keyed) override;
  void dd_fill_rect(SurfaceId id, std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
                    std::uint8_t colour) override;
  void free_surface(SurfaceId id) override;
  Size surface_size(SurfaceId id) override;
  SurfaceId create_scratch(std::int32_t w, std::int32_t h) override;
  void dd_blit_rect_to(SurfaceId dst, SurfaceId src, std::int32_t sx, std::int32_t sy,
                       std::int32_t sw, std::int32_t sh, std::int32_t dx, std::int32_t dy,
                       std::int32_t dw, std::int32_t dh, bool keyed) override;
  std::optional<Palette> load_named_into(SurfaceId id, std::string_view name) override;
  void realize_palette(const Palette& palette) override;
  bool save_screenshot(SurfaceId id, const Palette& palette, std::int32_t n) override;
  bool surface_lost(SurfaceId id) override;
  void dd_plot(SurfaceId id, std::int32_t x, std::int32_t y, std::uint8_t colour) override;
  void present() override {}
  double now_datetime() override { return LocalDateTimeNow(); }

  bool key_down(std::int32_t code) override;
  void clear_key(std::int32_t code) override;
  Point mouse_pos() override;
  void warp_mouse(std::int32_t x, std::int32_t y) override;
  std::uint32_t now_ms() override { return timeGetTime(); }

  void play_sound(std::string_view name, std::int32_t priority) override;
  BgmBackend& bgm() override { return music_; }

  // RecorderIo: "Rec\Rec" + slot + ".dat" from the current directory; the
  // directory is never created. A recording goes into a FileReplacement of
  // the slot's file, which takes the slot's place only at commit. A replay
  // the player may read but not write is opened for reading only.
  bool file_exists(std::int32_t slot) override;
  bool open_for_read(std::int32_t slot) override;
  bool read_only() const override { return file_ != INVALID_HANDLE_VALUE && file_read_only_; }
  bool seek_from_end(std::int64_t offset) override;
  bool open_for_write(std::int32_t slot) override;
  bool seek_from_start(std::int64_t offset) override;
  std::optional<std::vector<std::uint8_t>> read(std::size_t length) override;
  void close() override;
  bool write(const std::vector<std::uint8_t>& bytes) override;
  bool commit() override;

  // KbgmSink: the song name + ".mid" in the current directory.
  bool file_exists(std::string_view name) override;

  static std::string ReplayPath(std::int32_t slot);
  // A screenshot's file, in the current directory.
  static std::wstring ScreenshotName(std::int64_t k);

 private:
  TDDDD& display_;
  TSurfaces* sheets_;
  TSounds* sounds_;
  BgmBackend& music_;
  std::unique_ptr<TDDDDSurface> frame_;
  std::unique_ptr<TDDDDSurface> picture_;
  std::map<std::uint32_t, std::unique_ptr<TDDDDSurface>> scratch_;
  std::uint32_t next_serial_ = 1;
  std::int64_t last_screenshot_ = -1;  // the number of the last one written
  HANDLE open_file() const { return recording_ ? recording_->handle() : file_; }

  HANDLE file_ = INVALID_HANDLE_VALUE;        // a replay, opened to read
  bool file_read_only_ = false;               // ... and only to read
  std::optional<FileReplacement> recording_;  // a recording, until its commit
};

}  // namespace zt::win
