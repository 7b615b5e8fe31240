#include "memory_host.h"

#include <algorithm>

#include "dddd/blit.h"

namespace zt {

namespace {

bool same_name(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// Every sheet is keyed on 0 except "title.bmp", which is keyed on 255 with its
// keyed flag already set.
Surface keyed_for(const NamedBitmap& b) {
  Surface s = b.surface;
  const bool title = same_name(b.name, kSheetNames[kSheetTitle - 1]);
  s.colour_key = title ? 255 : 0;
  s.keyed = title;
  return s;
}

Surface blank(std::int32_t w, std::int32_t h) {
  return *Surface::create(w, h);
}

}  // namespace

Palette ramp_palette(std::uint8_t fourth) {
  Palette p{};
  for (std::size_t i = 0; i < 256; ++i) {
    p[i * 4] = static_cast<std::uint8_t>(i);
    p[i * 4 + 1] = static_cast<std::uint8_t>(255 - i);
    p[i * 4 + 2] = static_cast<std::uint8_t>(i / 2);
    p[i * 4 + 3] = fourth;
  }
  return p;
}

BitmapLibrary blank_library() {
  // Sizes as the game cuts the sheets into cells.
  const std::array<Size, kSheetCount> sizes = {{
      {128, 128},  // ball
      {11, 11},    // hand
      {200, 100},  // logo
      {300, 100},  // title: two 300 x 50 cells
      {320, 240},  // titlebg
      {320, 32},   // MenuIcon: ten 32 x 32 cells
      {480, 72},   // target: 20 x 3 cells of 24 x 24
      {480, 72},   // next2
      {90, 54},    // fragments: 5 x 3 cells of 18 x 18
      {288, 36},   // font: 24 x 3 cells of 12 x 12
      {90, 48},    // score: 10 x 4 cells of 9 x 12
      {400, 40},   // number: ten 40 x 40 cells
      {60, 150},   // judge: five 60 x 30 cells
      {55, 8},     // pfont: eleven 5 x 8 cells
      {250, 120},  // gravityx: 5 x 2 cells of 50 x 60
      {250, 120},  // gravityh
      {300, 30},   // gauge: two 300 x 15 bars
      {500, 320},  // rank: 5 x 4 cells of 100 x 80
      {160, 320},  // field: two 160 x 160 tiles
      {300, 120},  // gameover: three 300 x 40 cells
  }};
  BitmapLibrary lib;
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    NamedBitmap b{std::string(kSheetNames[i]), blank(sizes[i].width, sizes[i].height), {}};
    if (static_cast<int>(i) + 1 == kSheetLogo) b.palette = ramp_palette(0x11);
    if (static_cast<int>(i) + 1 == kSheetBall) b.palette = ramp_palette(0x22);
    lib.push_back(std::move(b));
  }
  return lib;
}

std::uint64_t frame_hash(const std::vector<std::uint8_t>& pixels, const Palette& palette) {
  // Eight bytes per step, little-endian whatever the processor, so that every
  // build hashes a picture alike; each step is a bijection of the state, so
  // two pictures that differ in one word never meet again.
  std::uint64_t h = 14695981039346656037ull;
  auto mix = [&h](const std::uint8_t* p, std::size_t n) {
    for (std::size_t at = 0; at < n; at += 8) {
      std::uint64_t w = 0;
      for (std::size_t i = 0; i < 8 && at + i < n; ++i) w |= std::uint64_t{p[at + i]} << (8 * i);
      h = (h ^ w) * 1099511628211ull;
      h ^= h >> 29;
    }
  };
  mix(pixels.data(), pixels.size());
  mix(palette.data(), palette.size());
  return h;
}

MemoryHost::MemoryHost(BitmapLibrary library)
    : library_(std::move(library)),
      frame_(blank(320, 240)),
      picture_(blank(320, 240)),
      presentation_(blank(320, 240)) {
  for (int n = 1; n <= kSheetCount; ++n) {
    if (const NamedBitmap* b = find_bitmap(kSheetNames[static_cast<std::size_t>(n - 1)])) {
      sheets_[static_cast<std::size_t>(n - 1)] = keyed_for(*b);
    }
  }
}

const NamedBitmap* MemoryHost::find_bitmap(std::string_view name) const {
  for (const NamedBitmap& b : library_) {
    if (same_name(b.name, name)) return &b;
  }
  return nullptr;
}

Surface* MemoryHost::surface(SurfaceId id) {
  switch (surface_kind(id)) {
    case kKindFrame:
      return &frame_;
    case kKindPicture:
      return &picture_;
    case kKindPresent:
      return &presentation_;
    case kKindSheet: {
      const int n = sheet_number(id);
      if (n < 1 || n > kSheetCount) return nullptr;
      std::optional<Surface>& s = sheets_[static_cast<std::size_t>(n - 1)];
      return s ? &*s : nullptr;
    }
    case kKindScratch: {
      auto it = scratch_.find(scratch_serial(id));
      return it == scratch_.end() ? nullptr : &it->second;
    }
    default:
      return nullptr;
  }
}

void MemoryHost::dd_pixelate(SurfaceId id, std::int32_t block) {
  if (Surface* s = surface(id)) zt::dd_pixelate(*s, block);
}

void MemoryHost::dd_blit_rect(SurfaceId dst, SurfaceId src, std::int32_t sx, std::int32_t sy,
                              std::int32_t w, std::int32_t h, std::int32_t dx, std::int32_t dy,
                              bool keyed) {
  if (same_surface(dst, src)) return;
  Surface* d = surface(dst);
  Surface* s = surface(src);
  if (d && s) zt::dd_blit_rect(*d, *s, sx, sy, w, h, dx, dy, keyed, -1);
}

void MemoryHost::dd_fill_rect(SurfaceId id, std::int32_t x, std::int32_t y, std::int32_t w,
                              std::int32_t h, std::uint8_t colour) {
  if (Surface* s = surface(id)) zt::dd_fill_rect(*s, x, y, w, h, colour);
}

void MemoryHost::free_surface(SurfaceId id) {
  // The frame, picture and presentation surfaces live as long as the host.
  if (surface_kind(id) == kKindScratch) scratch_.erase(scratch_serial(id));
  if (surface_kind(id) == kKindSheet) {
    const int n = sheet_number(id);
    if (n >= 1 && n <= kSheetCount) sheets_[static_cast<std::size_t>(n - 1)].reset();
  }
}

Size MemoryHost::surface_size(SurfaceId id) {
  if (Surface* s = surface(id)) return {s->width, s->height};
  return {0, 0};
}

SurfaceId MemoryHost::create_scratch(std::int32_t w, std::int32_t h) {
  const std::uint32_t serial = next_serial_++;
  if (std::optional<Surface> s = Surface::create(w, h)) scratch_.emplace(serial, std::move(*s));
  return scratch_id(serial);
}

void MemoryHost::dd_blit_rect_to(SurfaceId dst, SurfaceId src, std::int32_t sx, std::int32_t sy,
                                 std::int32_t sw, std::int32_t sh, std::int32_t dx, std::int32_t dy,
                                 std::int32_t dw, std::int32_t dh, bool keyed) {
  if (same_surface(dst, src)) return;
  Surface* d = surface(dst);
  Surface* s = surface(src);
  if (d && s) zt::dd_blit_rect_to(*d, *s, sx, sy, sw, sh, dx, dy, dw, dh, keyed, -1);
}

std::optional<Palette> MemoryHost::load_named_into(SurfaceId id, std::string_view name) {
  loads.emplace_back(name);
  Surface* s = surface(id);
  const NamedBitmap* b = find_bitmap(name);
  if (!s || !b) return std::nullopt;
  *s = keyed_for(*b);
  return b->palette;
}

void MemoryHost::realize_palette(const Palette& p) {
  palette = p;
  realized.push_back(p);
}

bool MemoryHost::save_screenshot(SurfaceId id, const Palette& p, std::int32_t n) {
  Surface* s = surface(id);
  if (fail_screenshots || !s) return true;
  screenshots.push_back({n, p, s->pixels});
  return false;
}

void MemoryHost::dd_plot(SurfaceId id, std::int32_t x, std::int32_t y, std::uint8_t colour) {
  if (Surface* s = surface(id)) zt::dd_plot(*s, x, y, colour);
}

void MemoryHost::present() {
  PresentedFrame f;
  f.palette = palette;
  f.hash = frame_hash(frame_.pixels, palette);
  if (keep_pixels) f.pixels = frame_.pixels;
  presented.push_back(std::move(f));
}

bool MemoryHost::key_down(std::int32_t code) {
  if (code < 0 || code > 255) return false;
  return keys_[static_cast<std::size_t>(code)] != 0;
}

void MemoryHost::clear_key(std::int32_t code) {
  cleared.push_back(code);
  if (code >= 0 && code <= 255) keys_[static_cast<std::size_t>(code)] = 0;
}

void MemoryHost::warp_mouse(std::int32_t x, std::int32_t y) {
  warps.push_back({x, y});
  pointer_ = {x, y};
}

void MemoryHost::play_sound(std::string_view name, std::int32_t priority) {
  sounds.push_back({std::string(name), priority});
}

}  // namespace zt
