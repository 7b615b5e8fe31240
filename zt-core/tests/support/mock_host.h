// A gmock double of the whole Host interface (with its RecorderIo and
// KbgmSink sides) for core tests that check which host calls a routine makes.
// Wrap it in ::testing::NiceMock where only a few calls matter.
#pragma once

#include <gmock/gmock.h>

#include "game/glue.h"

namespace zt::testing {

class MockHost : public Host {
 public:
  // RecorderIo
  MOCK_METHOD(bool, file_exists, (std::int32_t slot), (override));
  MOCK_METHOD(bool, open_for_read, (std::int32_t slot), (override));
  MOCK_METHOD(bool, read_only, (), (const, override));
  MOCK_METHOD(bool, seek_from_end, (std::int64_t offset), (override));
  MOCK_METHOD(bool, open_for_write, (std::int32_t slot), (override));
  MOCK_METHOD(bool, seek_from_start, (std::int64_t offset), (override));
  MOCK_METHOD(std::optional<std::vector<std::uint8_t>>, read, (std::size_t length), (override));
  MOCK_METHOD(void, close, (), (override));
  MOCK_METHOD(bool, write, (const std::vector<std::uint8_t>& bytes), (override));
  MOCK_METHOD(bool, commit, (), (override));

  // KbgmSink
  MOCK_METHOD(bool, file_exists, (std::string_view name), (override));

  // Drawing
  MOCK_METHOD(void, dd_pixelate, (SurfaceId id, std::int32_t block), (override));
  MOCK_METHOD(void, dd_blit_rect,
              (SurfaceId dst, SurfaceId src, std::int32_t sx, std::int32_t sy, std::int32_t w,
               std::int32_t h, std::int32_t dx, std::int32_t dy, bool keyed),
              (override));
  MOCK_METHOD(void, dd_fill_rect,
              (SurfaceId id, std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
               std::uint8_t colour),
              (override));
  MOCK_METHOD(void, free_surface, (SurfaceId id), (override));
  MOCK_METHOD(Size, surface_size, (SurfaceId id), (override));
  MOCK_METHOD(SurfaceId, create_scratch, (std::int32_t w, std::int32_t h), (override));
  MOCK_METHOD(void, dd_blit_rect_to,
              (SurfaceId dst, SurfaceId src, std::int32_t sx, std::int32_t sy, std::int32_t sw,
               std::int32_t sh, std::int32_t dx, std::int32_t dy, std::int32_t dw, std::int32_t dh,
               bool keyed),
              (override));
  MOCK_METHOD(std::optional<Palette>, load_named_into, (SurfaceId id, std::string_view name),
              (override));
  MOCK_METHOD(void, realize_palette, (const Palette& palette), (override));
  MOCK_METHOD(bool, save_screenshot, (SurfaceId id, const Palette& palette, std::int32_t n),
              (override));
  MOCK_METHOD(void, dd_plot, (SurfaceId id, std::int32_t x, std::int32_t y, std::uint8_t colour),
              (override));
  MOCK_METHOD(void, present, (), (override));
  MOCK_METHOD(double, now_datetime, (), (override));

  // Input and clocks
  MOCK_METHOD(bool, key_down, (std::int32_t code), (override));
  MOCK_METHOD(void, clear_key, (std::int32_t code), (override));
  MOCK_METHOD(Point, mouse_pos, (), (override));
  MOCK_METHOD(void, warp_mouse, (std::int32_t x, std::int32_t y), (override));
  MOCK_METHOD(std::uint32_t, now_ms, (), (override));

  // Sound and music
  MOCK_METHOD(void, play_sound, (std::string_view name, std::int32_t priority), (override));
  MOCK_METHOD(BgmBackend&, bgm, (), (override));
};

}  // namespace zt::testing
