// The platform-free half of the Linux program's host: every surface the game
// draws on, the bitmaps of "images.qda" decoded once, the palette, the queue
// of finished pictures for the window, the fields the window loop fills for
// the game, and the files of the data directory.
//
// Its surfaces are the core's SurfaceTable, on which the program's Host draws;
// BaseHost answers the palette, present, screenshot and picture-loading
// operations of Host, and RecorderIo and KbgmSink; the program's Host wraps it
// and adds input, sound effects, music and the date.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "dddd/surface.h"
#include "dddd/surface_table.h"
#include "files.h"
#include "formats/bmp.h"
#include "formats/config.h"
#include "game/glue.h"
#include "game/ugame.h"

namespace zt {

// A decoded member of "images.qda" under its member name.
struct NamedIndexedBitmap {
  std::string name;
  IndexedBitmap bitmap;
};

// One finished picture for the window: the frame's pixels row after row and
// the palette to show them with. The frame is 320 x 240 unless the core has
// loaded a bitmap of another size into it, so the size travels along.
struct DisplayEvent {
  std::vector<std::uint8_t> pixels;
  Palette palette{};
  std::int32_t width = 0;
  std::int32_t height = 0;
};

class BaseHost final : public RecorderIo, public KbgmSink {
 public:
  // Reads and decodes the archive at the path and makes the sheets and the
  // three fixed surfaces; the data directory is the archive's directory.
  // The error text names what failed. A member refused by a decoding bound
  // is named on `err` first, as "images.qda: member NAME refused: WHY".
  static std::variant<BaseHost, std::string> create(const std::filesystem::path& images_qda,
                                                    std::ostream& err);
  static std::variant<BaseHost, std::string> create(const std::filesystem::path& images_qda);

  // Host: the surfaces, drawn on through the table. An id that names no
  // surface changes nothing.
  SurfaceTable& surface_table() { return surfaces_; }
  std::optional<Palette> load_named_into(SurfaceId id, std::string_view name);
  void realize_palette(const Palette& palette);
  // Writes "ScrSht" + k + ".bmp" as a new file, k the first number from
  // max(n, the last one written + 1) whose name is free; failed after a write
  // error or kScreenshotTries names that are all taken.
  bool save_screenshot(SurfaceId id, const Palette& palette, std::int32_t n);
  static constexpr std::int32_t kScreenshotTries = 100000;
  void present();

  // data directory / "Rec" / "Rec" + n + ".dat"
  static std::filesystem::path rec_path(const std::filesystem::path& data_dir, std::int32_t n) {
    return HostFiles::rec_path(data_dir, n);
  }

  // RecorderIo and KbgmSink, over the files of the data directory.
  bool file_exists(std::int32_t slot) override { return files_.file_exists(slot); }
  bool open_for_read(std::int32_t slot) override { return files_.open_for_read(slot); }
  bool read_only() const override { return files_.read_only(); }
  bool seek_from_end(std::int64_t offset) override { return files_.seek_from_end(offset); }
  bool open_for_write(std::int32_t slot) override { return files_.open_for_write(slot); }
  bool seek_from_start(std::int64_t offset) override { return files_.seek_from_start(offset); }
  std::optional<std::vector<std::uint8_t>> read(std::size_t length) override {
    return files_.read(length);
  }
  void close() override { files_.close(); }
  bool write(const std::vector<std::uint8_t>& bytes) override { return files_.write(bytes); }
  bool commit() override { return files_.commit(); }
  bool file_exists(std::string_view name) override { return files_.file_exists(name); }

  // The first surface the id names (same kind, and for sheets and scratch
  // surfaces the same number), or none.
  Surface* surface(SurfaceId id) { return surfaces_.find(id); }
  const Surface* surface(SurfaceId id) const { return surfaces_.find(id); }
  const std::vector<SurfaceEntry>& surfaces() const { return surfaces_.entries(); }
  const std::vector<NamedIndexedBitmap>& bitmaps() const { return bitmaps_; }
  const std::filesystem::path& data_dir() const { return files_.data_dir(); }
  HostFiles& files() { return files_; }

  // The pictures queued for the window, oldest first; taking them empties the queue.
  const std::vector<DisplayEvent>& events() const { return events_; }
  std::vector<DisplayEvent> take_events();
  const std::optional<std::vector<std::uint8_t>>& last_frame() const { return last_frame_; }
  const Palette& palette() const { return palette_; }
  std::uint32_t scratch_serial() const { return surfaces_.scratch_serial(); }

  // Written by the window loop, read by the program's input and clock operations.
  std::array<std::uint8_t, 256>& key_table() { return key_table_; }
  const std::array<std::uint8_t, 256>& key_table() const { return key_table_; }
  Point& pointer() { return pointer_; }
  const Point& pointer() const { return pointer_; }
  std::uint32_t& clock_ms() { return clock_ms_; }
  std::uint32_t clock_ms() const { return clock_ms_; }

 private:
  explicit BaseHost(std::filesystem::path data_dir) : files_(std::move(data_dir)) {}

  const NamedIndexedBitmap* find_bitmap(std::string_view name) const;

  SurfaceTable surfaces_;
  std::vector<NamedIndexedBitmap> bitmaps_;
  std::vector<DisplayEvent> events_;
  std::optional<std::vector<std::uint8_t>> last_frame_;
  Size last_frame_size_;
  std::array<std::uint8_t, 256> key_table_{};
  Palette palette_{};
  Point pointer_{160, 120};
  std::uint32_t clock_ms_ = 0;
  std::int64_t next_screenshot_ = 0;  // one past the last screenshot written
  HostFiles files_;                   // the data directory and the one open replay file
};

}  // namespace zt
