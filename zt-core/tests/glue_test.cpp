#include "game/glue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <vector>

#include "dddd/blit.h"

namespace zt {
namespace {

// A host with one surface (the frame) that records every fill and applies it
// with the real fill, so a test can look at both the calls and the pixels.
class FillRecordingHost : public Host {
 public:
  struct Fill {
    SurfaceId id;
    std::int32_t x, y, w, h;
    std::uint8_t colour;
  };

  std::optional<Surface> frame;
  std::vector<Fill> fills;

  void dd_fill_rect(SurfaceId id, std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
                    std::uint8_t colour) override {
    fills.push_back({id, x, y, w, h, colour});
    if (frame && same_surface(id, kFrame)) zt::dd_fill_rect(*frame, x, y, w, h, colour);
  }
  Size surface_size(SurfaceId id) override {
    if (frame && same_surface(id, kFrame)) return {frame->width, frame->height};
    return {};
  }

  void dd_pixelate(SurfaceId, std::int32_t) override {}
  void dd_blit_rect(SurfaceId, SurfaceId, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                    std::int32_t, std::int32_t, bool) override {}
  void free_surface(SurfaceId) override {}
  SurfaceId create_scratch(std::int32_t, std::int32_t) override { return scratch_id(1); }
  void dd_blit_rect_to(SurfaceId, SurfaceId, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                       std::int32_t, std::int32_t, std::int32_t, std::int32_t, bool) override {}
  std::optional<Palette> load_named_into(SurfaceId, std::string_view) override { return {}; }
  void realize_palette(const Palette&) override {}
  bool save_screenshot(SurfaceId, const Palette&, std::int32_t) override { return true; }
  void dd_plot(SurfaceId, std::int32_t, std::int32_t, std::uint8_t) override {}
  void present() override {}
  double now_datetime() override { return 0; }
  bool key_down(std::int32_t) override { return false; }
  void clear_key(std::int32_t) override {}
  Point mouse_pos() override { return {}; }
  void warp_mouse(std::int32_t, std::int32_t) override {}
  std::uint32_t now_ms() override { return 0; }
  void play_sound(std::string_view, std::int32_t) override {}
  BgmBackend& bgm() override { std::abort(); }
  bool file_exists(std::int32_t) override { return false; }
  bool open_for_read(std::int32_t) override { return true; }
  bool read_only() const override { return false; }
  bool seek_from_end(std::int64_t) override { return true; }
  bool open_for_write(std::int32_t) override { return true; }
  bool seek_from_start(std::int64_t) override { return true; }
  std::optional<std::vector<std::uint8_t>> read(std::size_t) override { return {}; }
  void close() override {}
  bool write(const std::vector<std::uint8_t>&) override { return true; }
  bool commit() override { return true; }
  bool file_exists(std::string_view) override { return false; }
};

TEST(MaskOutside, FillsEverythingOutsideTheCentredWindow) {
  struct Case {
    const char* what;
    int w, h, ww, wh;
    int x0, x1, y0, y1;  // the window left unfilled, half open
  } cases[] = {
      {"100 x 40 on 320 x 240", 320, 240, 100, 40, 110, 210, 100, 140},
      {"odd margins", 11, 9, 4, 4, 3, 7, 2, 6},
      {"window wider and higher than the surface", 320, 240, 400, 1000, 0, 320, 0, 240},
      {"negative window", 320, 240, -5, -1, 160, 160, 120, 120},
      {"zero height only", 20, 10, 20, 0, 0, 20, 5, 5},
  };
  for (const auto& c : cases) {
    FillRecordingHost host;
    host.frame = Surface::create(c.w, c.h);
    std::fill(host.frame->pixels.begin(), host.frame->pixels.end(), std::uint8_t{1});
    mask_outside(host, kFrame, c.ww, c.wh, 9);
    for (int y = 0; y < c.h; ++y) {
      for (int x = 0; x < c.w; ++x) {
        const bool inside = x >= c.x0 && x < c.x1 && y >= c.y0 && y < c.y1;
        ASSERT_EQ(host.frame->at(x, y), inside ? 1 : 9) << c.what << " at " << x << "," << y;
      }
    }
    // Four bands, each on the surface asked for and in the colour asked for.
    ASSERT_EQ(host.fills.size(), 4u) << c.what;
    for (const auto& f : host.fills) {
      EXPECT_TRUE(same_surface(f.id, kFrame)) << c.what;
      EXPECT_EQ(f.colour, 9) << c.what;
    }
  }
}

TEST(MaskOutside, BandsOverlapInTheCorners) {
  // The left and right bands cover the full height and the top and bottom
  // bands the full width.
  FillRecordingHost host;
  host.frame = Surface::create(320, 240);
  mask_outside(host, kFrame, 100, 40, 3);
  ASSERT_EQ(host.fills.size(), 4u);
  const auto& f = host.fills;
  EXPECT_EQ((std::vector<int>{f[0].x, f[0].y, f[0].w, f[0].h}), (std::vector<int>{0, 0, 110, 240}));
  EXPECT_EQ((std::vector<int>{f[1].x, f[1].y, f[1].w, f[1].h}),
            (std::vector<int>{210, 0, 110, 240}));
  EXPECT_EQ((std::vector<int>{f[2].x, f[2].y, f[2].w, f[2].h}), (std::vector<int>{0, 0, 320, 100}));
  EXPECT_EQ((std::vector<int>{f[3].x, f[3].y, f[3].w, f[3].h}),
            (std::vector<int>{0, 140, 320, 100}));
}

TEST(MaskOutside, NoSurfaceNoFills) {
  FillRecordingHost host;  // no frame: every size is (0, 0)
  mask_outside(host, kFrame, 100, 40, 9);
  mask_outside(host, scratch_id(7), -1, -1, 9);
  EXPECT_TRUE(host.fills.empty());
}

}  // namespace
}  // namespace zt
