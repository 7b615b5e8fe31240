#include "memory_host.h"

#include <utility>

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
  BitmapLibrary lib;
  for (int n = 1; n <= kSheetCount; ++n) {
    const SheetLayout& l = sheet_layout(n);
    NamedBitmap b{std::string(kSheetNames[static_cast<std::size_t>(n - 1)]),
                  *Surface::create(l.width, l.height),
                  {}};
    if (n == kSheetLogo) b.palette = ramp_palette(0x11);
    if (n == kSheetBall) b.palette = ramp_palette(0x22);
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

MemoryHost::MemoryHost(BitmapLibrary library) : library_(std::move(library)) {
  // As the real host makes them: the sheets found in the library, then the
  // fixed surfaces. A sheet without its bitmap names no surface.
  for (int n = 1; n <= kSheetCount; ++n) {
    if (const NamedBitmap* b = find_bitmap(kSheetNames[static_cast<std::size_t>(n - 1)])) {
      surfaces_.add_sheet(n, b->name, b->surface);
    }
  }
  surfaces_.add_fixed_surfaces();
}

const NamedBitmap* MemoryHost::find_bitmap(std::string_view name) const {
  for (const NamedBitmap& b : library_) {
    if (same_name(b.name, name)) return &b;
  }
  return nullptr;
}

std::optional<Palette> MemoryHost::load_named_into(SurfaceId id, std::string_view name) {
  loads.emplace_back(name);
  const NamedBitmap* b = find_bitmap(name);
  if (!b || !surfaces_.load_into(id, name, b->surface)) return std::nullopt;
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

void MemoryHost::present() {
  const Surface* frame = surfaces_.find(kFrame);
  if (!frame) return;
  PresentedFrame f;
  f.palette = palette;
  f.hash = frame_hash(frame->pixels, palette);
  if (keep_pixels) f.pixels = frame->pixels;
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
