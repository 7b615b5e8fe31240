// A complete Host in memory, for tests and tools that run the game without a
// window: surfaces over the core's Surface and blits, a scripted key table and
// pointer, a settable clock, a capture of every presented frame with its
// palette, a log of the sound effects, replay files in a FakeRecorderIo and
// music through a FakeBgm.
//
// The bitmaps of "images.qda" are handed in already decoded (a BitmapLibrary):
// tests make small sheets in memory, and load_bitmap_library fills a library
// from a real data directory.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "dddd/surface.h"
#include "fake_bgm.h"
#include "fake_recorder_io.h"
#include "game/glue.h"

namespace zt {

// One bitmap of the image archive: its member name, pixels and palette.
struct NamedBitmap {
  std::string name;
  Surface surface;
  Palette palette{};
};
using BitmapLibrary = std::vector<NamedBitmap>;

// A sheet of cells, columns x rows of cell_w x cell_h, where pixel (x, y) of
// cell n has the colour paint(n, x, y).
template <class Paint>
Surface make_cell_sheet(std::int32_t columns, std::int32_t rows, std::int32_t cell_w,
                        std::int32_t cell_h, Paint paint) {
  Surface s = *Surface::create(columns * cell_w, rows * cell_h);
  for (std::int32_t y = 0; y < s.height; ++y) {
    for (std::int32_t x = 0; x < s.width; ++x) {
      const std::int32_t n = (y / cell_h) * columns + x / cell_w;
      s.at(x, y) = static_cast<std::uint8_t>(paint(n, x % cell_w, y % cell_h));
    }
  }
  return s;
}

// A palette whose entry i is (i, 255 - i, i / 2, fourth), so that fades and
// the untouched fourth byte can be told apart.
Palette ramp_palette(std::uint8_t fourth);

// The 20 sheets at the sizes the game cuts them, every pixel 0 (transparent);
// "logo.bmp" and "ball.bmp" carry ramp palettes with different fourth bytes.
BitmapLibrary blank_library();

// A 64-bit hash of the pixels and then the palette, the same on every build.
std::uint64_t frame_hash(const std::vector<std::uint8_t>& pixels, const Palette& palette);

class MemoryHost : public Host {
 public:
  // What present saw.
  struct PresentedFrame {
    std::vector<std::uint8_t> pixels;  // empty unless keep_pixels was set
    Palette palette{};
    std::uint64_t hash = 0;
  };
  struct Screenshot {
    std::int32_t number = 0;
    Palette palette{};
    std::vector<std::uint8_t> pixels;
  };
  struct Sound {
    std::string name;
    std::int32_t priority = 0;
    friend bool operator==(const Sound&, const Sound&) = default;
  };

  // The sheets are taken from the library by their names; a sheet whose
  // bitmap is missing names no surface. The library stays available to
  // load_named_into.
  explicit MemoryHost(BitmapLibrary library = blank_library());

  // Surfaces, for inspection and for setting up a picture directly.
  Surface* surface(SurfaceId id);
  Surface& frame() { return frame_; }
  std::size_t scratch_count() const { return scratch_.size(); }

  // Input.
  void press(std::int32_t code) { keys_[static_cast<std::uint8_t>(code)] = 1; }
  void release(std::int32_t code) { keys_[static_cast<std::uint8_t>(code)] = 0; }
  void set_pointer(std::int32_t x, std::int32_t y) { pointer_ = {x, y}; }
  Point pointer() const { return pointer_; }
  std::vector<Point> warps;           // every warp_mouse, in order
  std::vector<std::int32_t> cleared;  // every clear_key, in order

  // Clocks.
  std::uint32_t ms = 0;
  double datetime = 0.0;

  // Output captured.
  bool keep_pixels = true;
  std::vector<PresentedFrame> presented;
  std::vector<Screenshot> screenshots;
  std::vector<Sound> sounds;
  std::vector<std::string> loads;  // names asked of load_named_into
  std::vector<Palette> realized;   // every palette realized
  Palette palette{};               // the palette in force
  bool fail_screenshots = false;
  bool frame_lost = false;

  // The doubles behind RecorderIo, KbgmSink and bgm().
  FakeRecorderIo files;
  FakeKbgmSink songs;
  FakeBgm music;

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
  void realize_palette(const Palette& p) override;
  bool save_screenshot(SurfaceId id, const Palette& p, std::int32_t n) override;
  bool surface_lost(SurfaceId id) override { return frame_lost && id == kFrame; }
  void dd_plot(SurfaceId id, std::int32_t x, std::int32_t y, std::uint8_t colour) override;
  void present() override;
  double now_datetime() override { return datetime; }

  bool key_down(std::int32_t code) override;
  void clear_key(std::int32_t code) override;
  Point mouse_pos() override { return pointer_; }
  void warp_mouse(std::int32_t x, std::int32_t y) override;
  std::uint32_t now_ms() override { return ms; }

  void play_sound(std::string_view name, std::int32_t priority) override;
  BgmBackend& bgm() override { return music; }

  // RecorderIo
  bool file_exists(std::int32_t slot) override { return files.file_exists(slot); }
  bool open_for_read(std::int32_t slot) override { return files.open_for_read(slot); }
  bool read_only() const override { return files.read_only(); }
  bool seek_from_end(std::int64_t offset) override { return files.seek_from_end(offset); }
  bool open_for_write(std::int32_t slot) override { return files.open_for_write(slot); }
  bool seek_from_start(std::int64_t offset) override { return files.seek_from_start(offset); }
  std::optional<std::vector<std::uint8_t>> read(std::size_t length) override {
    return files.read(length);
  }
  void close() override { files.close(); }
  bool write(const std::vector<std::uint8_t>& bytes) override { return files.write(bytes); }
  bool commit() override { return files.commit(); }

  // KbgmSink
  bool file_exists(std::string_view name) override { return songs.file_exists(name); }

 private:
  const NamedBitmap* find_bitmap(std::string_view name) const;

  BitmapLibrary library_;
  Surface frame_;
  Surface picture_;
  Surface presentation_;
  std::array<std::optional<Surface>, kSheetCount> sheets_;
  std::map<std::uint32_t, Surface> scratch_;
  std::uint32_t next_serial_ = 1;
  std::array<std::uint8_t, 256> keys_{};
  Point pointer_{160, 120};
};

}  // namespace zt
