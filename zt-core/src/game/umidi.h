// The game's music control: the table of loaded songs, the song playing, the
// one fading out and the one waiting for the fade to end. It owns no device;
// every operation reaches the host's BgmBackend, and KbgmSink for the check
// that a song file exists. A failed device or song keeps music off for the
// rest of the run.
#pragma once

#include <array>
#include <concepts>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "game/glue.h"

namespace zt {

// What TBgm needs of a host: Host itself, or any small test host.
template <class H>
concept BgmHost = requires(H& h) {
  { h.bgm() } -> std::convertible_to<BgmBackend&>;
  { h.kbgm_sink() } -> std::convertible_to<KbgmSink&>;
};
static_assert(BgmHost<Host>);

struct BgmEntry {
  std::string name;  // as loaded, without ".mid"
  std::int32_t handle = 0;
  bool in_use = false;
};

// Song names match when equal after mapping ASCII A-Z to a-z.
bool bgm_same_name(std::string_view a, std::string_view b);

class TBgm {
 public:
  static constexpr std::size_t kSlots = 16;
  // What the game passes to BgmBackend::open.
  static constexpr std::int32_t kOpenA = 10;
  static constexpr std::int32_t kOpenB = -1;

  template <BgmHost H>
  void set_on(bool v, H& host);
  // While music is off the song is loaded when it is switched on, so that a
  // run started without music can switch it on and play.
  template <BgmHost H>
  void load_song(std::string_view name, H& host);
  template <BgmHost H>
  void play(std::string_view name, bool repeat, std::int32_t repeat_value, std::int32_t fade_in,
            H& host);
  template <BgmHost H>
  void stop(std::int32_t fade_out, H& host);
  template <BgmHost H>
  void change(std::string_view name, std::int32_t fade_out, bool repeat, std::int32_t repeat_value,
              std::int32_t fade_in, H& host);
  // Once per game step: starts the pending song once the fade-out is over.
  template <BgmHost H>
  void zt_bgm_tick(H& host);

  // 0 when the name is empty or not loaded.
  std::int32_t zt_bgm_get_midi(std::string_view name) const;
  std::optional<std::size_t> zt_bgm_find_free_entry() const;

  const std::string& current() const { return current_; }
  const std::string& fading() const { return fading_; }
  const std::string& pending() const { return pending_; }
  const std::array<BgmEntry, kSlots>& entries() const { return entries_; }
  // Songs asked for while music was off, not loaded yet.
  const std::vector<std::string>& deferred() const { return deferred_; }
  std::int32_t pending_repeat_value() const { return pending_repeat_value_; }
  std::int32_t pending_fade_in() const { return pending_fade_in_; }
  bool on() const { return on_; }
  bool pending_repeat() const { return pending_repeat_; }
  bool device_open() const { return device_open_; }
  bool device_failed() const { return device_failed_; }
  bool fade_timer() const { return fade_timer_; }

 private:
  // Opens the backend on first use. False when it cannot be opened, which
  // ends the operation and keeps music off.
  bool open_step(BgmBackend& bgm);
  void fail_device();
  void stop_now(BgmBackend& bgm);
  void defer(std::string_view name);

  std::string current_;
  std::string fading_;
  std::string pending_;
  std::array<BgmEntry, kSlots> entries_{};
  std::vector<std::string> deferred_;  // one more than the slots at most
  std::int32_t pending_repeat_value_ = 0;
  std::int32_t pending_fade_in_ = 0;
  bool on_ = false;
  bool pending_repeat_ = false;
  bool device_open_ = false;
  bool device_failed_ = false;
  bool fade_timer_ = false;
};

template <BgmHost H>
void TBgm::set_on(bool v, H& host) {
  if (v == on_) return;
  BgmBackend& bgm = host.bgm();
  if (v && !device_open_) {
    if (bgm.open(kOpenA, kOpenB) != 0) {
      device_failed_ = true;
    } else {
      bgm.send_sysx(0);
      device_open_ = true;
    }
  } else if (!v && device_open_) {
    stop_now(bgm);
  }
  on_ = v && !device_failed_;
  if (!on_) return;
  std::vector<std::string> waiting = std::move(deferred_);
  deferred_.clear();
  for (const std::string& name : waiting) load_song(name, host);
}

template <BgmHost H>
void TBgm::load_song(std::string_view name, H& host) {
  if (!on_) {
    if (!device_failed_) defer(name);
    return;
  }
  BgmBackend& bgm = host.bgm();
  if (!open_step(bgm)) return;
  if (zt_bgm_get_midi(name) != 0) return;
  const std::optional<std::size_t> slot = zt_bgm_find_free_entry();
  if (!slot) {
    fail_device();
    return;
  }
  const std::string file_name = std::string(name) + ".mid";
  KbgmSink& files = host.kbgm_sink();
  const std::int32_t handle = files.file_exists(file_name) ? bgm.load_file(file_name) : 0;
  if (handle == 0) {
    fail_device();
    return;
  }
  entries_[*slot] = BgmEntry{std::string(name), handle, true};
}

template <BgmHost H>
void TBgm::play(std::string_view name, bool repeat, std::int32_t repeat_value, std::int32_t fade_in,
                H& host) {
  if (!on_) return;
  BgmBackend& bgm = host.bgm();
  if (!open_step(bgm)) return;
  const std::int32_t h = zt_bgm_get_midi(name);
  if (h == 0) return;
  if (fade_timer_) {
    // The song waits for the fade; repeat and fade-in stay as change left them.
    pending_ = std::string(name);
    return;
  }
  bgm.stop();
  if (!current_.empty()) bgm.init(zt_bgm_get_midi(current_));
  bgm.init(h);
  if (fade_in > 0) bgm.fade_in(h, fade_in);
  std::int32_t r;
  if (repeat) {
    bgm.set_repeat(h, 0, repeat_value);
    r = bgm.play(h, true);
  } else {
    r = bgm.play(h, false);
  }
  if (r == 0) {
    current_ = std::string(name);
    fading_.clear();
  }
  bgm.set_volume(h, 100);
}

template <BgmHost H>
void TBgm::stop(std::int32_t fade_out, H& host) {
  if (!on_) return;
  BgmBackend& bgm = host.bgm();
  if (!open_step(bgm)) return;
  if (fade_out > 0) {
    bgm.fade_out(zt_bgm_get_midi(current_), fade_out);
    fading_ = current_;
    fade_timer_ = true;
    current_.clear();
  } else {
    stop_now(bgm);
  }
}

template <BgmHost H>
void TBgm::change(std::string_view name, std::int32_t fade_out, bool repeat,
                  std::int32_t repeat_value, std::int32_t fade_in, H& host) {
  if (!on_) return;
  if (!open_step(host.bgm())) return;
  if (fade_timer_) {
    pending_ = std::string(name);
    return;
  }
  if (current_.empty()) {
    play(name, repeat, repeat_value, fade_in, host);
    return;
  }
  fading_ = current_;
  pending_ = std::string(name);
  pending_repeat_ = repeat;
  pending_repeat_value_ = repeat_value;
  pending_fade_in_ = fade_in;
  stop(fade_out, host);
  // Even without a fade the new song starts from the next tick.
  fade_timer_ = true;
}

template <BgmHost H>
void TBgm::zt_bgm_tick(H& host) {
  if (!fade_timer_) return;
  if (host.bgm().fade_out_active()) return;
  fade_timer_ = false;
  if (pending_.empty()) return;
  const std::string name = std::move(pending_);
  pending_.clear();
  play(name, pending_repeat_, pending_repeat_value_, pending_fade_in_, host);
}

}  // namespace zt
