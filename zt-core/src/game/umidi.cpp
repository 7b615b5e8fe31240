#include "game/umidi.h"

#include "formats/ascii.h"

namespace zt {

bool bgm_same_name(std::string_view a, std::string_view b) {
  return same_text(a, b);
}

std::int32_t TBgm::zt_bgm_get_midi(std::string_view name) const {
  if (name.empty()) return 0;
  for (const BgmEntry& e : entries_) {
    if (e.in_use && bgm_same_name(e.name, name)) return e.handle;
  }
  return 0;
}

std::optional<std::size_t> TBgm::zt_bgm_find_free_entry() const {
  for (std::size_t i = 0; i < kSlots; ++i) {
    if (!entries_[i].in_use) return i;
  }
  return std::nullopt;
}

bool TBgm::open_step(BgmBackend& bgm) {
  if (device_open_) return true;
  if (bgm.open(kOpenA, kOpenB) != 0) {
    fail_device();
    return false;
  }
  bgm.send_sysx(0);
  device_open_ = true;
  return true;
}

void TBgm::fail_device() {
  device_failed_ = true;
  on_ = false;
}

void TBgm::defer(std::string_view name) {
  if (zt_bgm_get_midi(name) != 0) return;
  for (const std::string& d : deferred_) {
    if (bgm_same_name(d, name)) return;
  }
  // A seventeenth song fails the device once it is loaded; more change nothing.
  if (deferred_.size() <= kSlots) deferred_.emplace_back(name);
}

void TBgm::stop_now(BgmBackend& bgm) {
  bgm.stop();
  fading_.clear();
  fade_timer_ = false;
  bgm.init(zt_bgm_get_midi(current_));
  current_.clear();
}

}  // namespace zt
