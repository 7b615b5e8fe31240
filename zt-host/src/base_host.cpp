#include "base_host.h"

#include <algorithm>
#include <iostream>
#include <limits>
#include <utility>

#include "formats/qda.h"

namespace zt {
namespace {

std::string member_label(std::size_t index, std::string_view name) {
  return std::to_string(index) + " (" + std::string(name) + ")";
}

}  // namespace

std::variant<BaseHost, std::string> BaseHost::create(const std::filesystem::path& images_qda) {
  return create(images_qda, std::cerr);
}

std::variant<BaseHost, std::string> BaseHost::create(const std::filesystem::path& images_qda,
                                                     std::ostream& err) {
  auto read = read_file(images_qda, kArchiveFileCap);
  if (auto* failure = std::get_if<ReadFailure>(&read)) {
    return images_qda.string() + ": " + failure->reason;
  }
  const QdaArchive archive =
      QdaArchive::parse(std::move(std::get<std::vector<std::uint8_t>>(read)));

  std::filesystem::path data_dir = images_qda.parent_path();
  if (data_dir.empty()) data_dir = ".";
  BaseHost host(std::move(data_dir));

  // Every member decoded so far counts: many entries may name one member.
  QdaBudget budget;
  const auto refused = [&](std::string_view name, std::string_view why) {
    err << "images.qda: member " << name << " refused: " << why << "\n";
  };
  const auto& entries = archive.entries();
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::string& name = entries[i].name;
    if (name.empty()) continue;
    const QdaLoad member = archive.load_member(name, budget);
    if (member.refused) refused(name, qda_refusal_text(*member.refused));
    if (!member.bytes) return "could not decode QDA member " + member_label(i, name);
    auto bitmap = decode_indexed_bmp(*member.bytes);
    if (!bitmap) {
      if (const auto why = bmp_size_refusal(*member.bytes)) refused(name, *why);
      return "QDA member " + member_label(i, name) + ": " + std::string(kUnsupportedBmp);
    }
    host.bitmaps_.push_back({name, std::move(*bitmap)});
  }

  for (int k = 1; k <= kSheetCount; ++k) {
    const std::string_view table_name = kSheetNames[static_cast<std::size_t>(k - 1)];
    const NamedIndexedBitmap* found = host.find_bitmap(table_name);
    if (!found) return "images.qda is missing " + std::string(table_name);
    host.surfaces_.add_sheet(k, found->name, found->bitmap.surface);
  }
  host.surfaces_.add_fixed_surfaces();
  return host;
}

const NamedIndexedBitmap* BaseHost::find_bitmap(std::string_view name) const {
  const auto it =
      std::find_if(bitmaps_.begin(), bitmaps_.end(),
                   [name](const NamedIndexedBitmap& b) { return same_text(b.name, name); });
  return it == bitmaps_.end() ? nullptr : &*it;
}

std::optional<Palette> BaseHost::load_named_into(SurfaceId id, std::string_view name) {
  const NamedIndexedBitmap* bitmap = find_bitmap(name);
  if (!bitmap || !surfaces_.load_into(id, name, bitmap->bitmap.surface)) return std::nullopt;
  return bitmap->bitmap.palette;
}

void BaseHost::realize_palette(const Palette& palette) {
  palette_ = palette;
  if (last_frame_) {
    events_.push_back({*last_frame_, palette_, last_frame_size_.width, last_frame_size_.height});
  }
}

bool BaseHost::save_screenshot(SurfaceId id, const Palette& palette, std::int32_t n) {
  const Surface* s = surface(id);
  if (!s) return true;
  const auto bytes = bmp::bmp_indexed_bytes(s->width, s->height, s->pixels, palette);
  if (!bytes) return true;
  // A picture never replaces another: the number moves on past every name
  // that is taken, also by a file made meanwhile, and never back below the
  // last one written.
  std::int64_t k = std::max<std::int64_t>(n, next_screenshot_);
  for (std::int32_t tries = 0; tries < kScreenshotTries; ++tries, ++k) {
    if (k > std::numeric_limits<std::int32_t>::max()) return true;
    const std::error_code error =
        create_new_file(data_dir() / ("ScrSht" + std::to_string(k) + ".bmp"), *bytes);
    if (!error) {
      next_screenshot_ = k + 1;
      return false;
    }
    if (error != std::errc::file_exists) return true;
  }
  return true;
}

void BaseHost::present() {
  const Surface* frame = surface(kFrame);
  if (!frame) return;
  last_frame_ = frame->pixels;
  last_frame_size_ = {frame->width, frame->height};
  events_.push_back({frame->pixels, palette_, frame->width, frame->height});
}

std::vector<DisplayEvent> BaseHost::take_events() {
  return std::exchange(events_, {});
}

}  // namespace zt
