#include "dddd/surface_table.h"

#include <algorithm>
#include <utility>

#include "dddd/blit.h"

namespace zt {
namespace {

// A host never passes a key of its own: every keyed copy uses the key stored
// on the source when the host made it.
constexpr std::int32_t kStoredKey = -1;

}  // namespace

void SurfaceTable::add_sheet(int n, std::string name, Surface bitmap) {
  bitmap.colour_key = sheet_colour_key(n);
  bitmap.keyed = n == kSheetTitle;
  entries_.push_back({std::move(name), std::move(bitmap), sheet_id(n)});
}

void SurfaceTable::add_fixed_surfaces() {
  const std::pair<const char*, SurfaceId> fixed[] = {
      {"screen", kFrame}, {"f8c", kPicture}, {"present", kPresent}};
  for (const auto& [name, id] : fixed) {
    entries_.push_back({name, *Surface::create(kFieldWidth, kFieldHeight), id});
  }
}

SurfaceEntry* SurfaceTable::find_entry(SurfaceId id) {
  const auto it = std::find_if(entries_.begin(), entries_.end(),
                               [id](const SurfaceEntry& e) { return same_surface(e.id, id); });
  return it == entries_.end() ? nullptr : &*it;
}

Surface* SurfaceTable::find(SurfaceId id) {
  SurfaceEntry* e = find_entry(id);
  return e ? &e->surface : nullptr;
}

const Surface* SurfaceTable::find(SurfaceId id) const {
  return const_cast<SurfaceTable*>(this)->find(id);
}

void SurfaceTable::dd_pixelate(SurfaceId id, std::int32_t block) {
  if (Surface* s = find(id)) zt::dd_pixelate(*s, block);
}

void SurfaceTable::dd_blit_rect(SurfaceId dst, SurfaceId src, std::int32_t sx, std::int32_t sy,
                                std::int32_t w, std::int32_t h, std::int32_t dx, std::int32_t dy,
                                bool keyed) {
  // The blits need two distinct surfaces; a copy onto itself draws nothing.
  if (same_surface(dst, src)) return;
  Surface* from = find(src);
  Surface* to = find(dst);
  if (!from || !to) return;
  zt::dd_blit_rect(*to, *from, sx, sy, w, h, dx, dy, keyed, kStoredKey);
}

void SurfaceTable::dd_fill_rect(SurfaceId id, std::int32_t x, std::int32_t y, std::int32_t w,
                                std::int32_t h, std::uint8_t colour) {
  if (Surface* s = find(id)) zt::dd_fill_rect(*s, x, y, w, h, colour);
}

void SurfaceTable::free_surface(SurfaceId id) {
  std::erase_if(entries_, [id](const SurfaceEntry& e) { return same_surface(e.id, id); });
}

Size SurfaceTable::surface_size(SurfaceId id) const {
  const Surface* s = find(id);
  return s ? Size{s->width, s->height} : Size{};
}

SurfaceId SurfaceTable::create_scratch(std::int32_t w, std::int32_t h) {
  ++scratch_serial_;
  const SurfaceId id = scratch_id(scratch_serial_);
  if (auto s = Surface::create(w, h)) {
    entries_.push_back({"scratch" + std::to_string(scratch_serial_), std::move(*s), id});
  }
  return id;
}

void SurfaceTable::dd_blit_rect_to(SurfaceId dst, SurfaceId src, std::int32_t sx, std::int32_t sy,
                                   std::int32_t sw, std::int32_t sh, std::int32_t dx,
                                   std::int32_t dy, std::int32_t dw, std::int32_t dh, bool keyed) {
  if (same_surface(dst, src)) return;
  Surface* from = find(src);
  Surface* to = find(dst);
  if (!from || !to) return;
  zt::dd_blit_rect_to(*to, *from, sx, sy, sw, sh, dx, dy, dw, dh, keyed, kStoredKey);
}

void SurfaceTable::dd_plot(SurfaceId id, std::int32_t x, std::int32_t y, std::uint8_t colour) {
  if (Surface* s = find(id)) zt::dd_plot(*s, x, y, colour);
}

bool SurfaceTable::load_into(SurfaceId id, std::string_view name, const Surface& bitmap) {
  SurfaceEntry* entry = find_entry(id);
  if (!entry) return false;
  entry->surface = bitmap;
  entry->name = std::string(name);
  return true;
}

std::size_t SurfaceTable::scratch_count() const {
  return static_cast<std::size_t>(
      std::count_if(entries_.begin(), entries_.end(),
                    [](const SurfaceEntry& e) { return surface_kind(e.id) == kKindScratch; }));
}

}  // namespace zt
