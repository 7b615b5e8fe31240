// A complete Host in memory, for tests and tools that run the game without a
// window: the core's surface table, a scripted key table and
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
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "dddd/surface.h"
#include "dddd/surface_table.h"
#include "fake_bgm.h"
#include "fake_recorder_io.h"
#include "game/glue.h"
#include "game/table_host.h"

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

// The 20 sheets at the sizes of the game's sheet table, every pixel 0 (transparent);
// "logo.bmp" and "ball.bmp" carry ramp palettes with different fourth bytes.
BitmapLibrary blank_library();

// A 64-bit hash of the pixels and then the palette, the same on every build.
std::uint64_t frame_hash(const std::vector<std::uint8_t>& pixels, const Palette& palette);

class MemoryHost : public TableHost {
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

  // Surfaces, for inspection and for setting up a picture directly. The
  // frame is there unless the core has freed it.
  Surface* surface(SurfaceId id) { return surfaces_.find(id); }
  Surface& frame() { return *surfaces_.find(kFrame); }
  std::size_t scratch_count() const { return surfaces_.scratch_count(); }

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

  // Host, besides the drawing operations and files of TableHost
  std::optional<Palette> load_named_into(SurfaceId id, std::string_view name) override;
  void realize_palette(const Palette& p) override;
  bool save_screenshot(SurfaceId id, const Palette& p, std::int32_t n) override;
  bool surface_lost(SurfaceId id) override { return frame_lost && id == kFrame; }
  void present() override;
  double now_datetime() override { return datetime; }

  bool key_down(std::int32_t code) override;
  void clear_key(std::int32_t code) override;
  Point mouse_pos() override { return pointer_; }
  void warp_mouse(std::int32_t x, std::int32_t y) override;
  std::uint32_t now_ms() override { return ms; }

  void play_sound(std::string_view name, std::int32_t priority) override;
  BgmBackend& bgm() override { return music; }

 protected:
  SurfaceTable& surface_table() override { return surfaces_; }
  RecorderIo& replay_files() override { return files; }
  const RecorderIo& replay_files() const override { return files; }
  KbgmSink& song_files() override { return songs; }

 private:
  const NamedBitmap* find_bitmap(std::string_view name) const;

  BitmapLibrary library_;
  SurfaceTable surfaces_;
  std::array<std::uint8_t, 256> keys_{};
  Point pointer_{160, 120};
};

}  // namespace zt
