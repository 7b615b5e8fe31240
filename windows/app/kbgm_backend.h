// The music control's backend in the Windows program: each BgmBackend
// operation is one call of the KBGM music library. Also the program's own
// check for the end of a fade, run on a 10 ms timer while the music control
// waits for one, and the release of the library when the game ends.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string_view>

#include "game/glue.h"
#include "game/umidi.h"
#include "kbgm.h"
#include "message_window.h"

namespace zt::win {

// The KBGM calls, so that tests can record what the game asks of the library.
class KbgmCalls {
 public:
  virtual ~KbgmCalls() = default;
  virtual std::int32_t open(std::int32_t a, std::int32_t b) = 0;
  virtual std::int32_t send_sysx(std::int32_t kind) = 0;
  virtual std::int32_t load_file(std::int32_t* handle, const char* file_name) = 0;
  virtual std::int32_t stop() = 0;
  virtual std::int32_t init(std::int32_t handle) = 0;
  virtual std::int32_t fade_in(std::int32_t handle, std::int32_t seconds) = 0;
  virtual std::int32_t set_repeat(std::int32_t handle, std::int32_t a, std::int32_t b) = 0;
  virtual std::int32_t play(std::int32_t handle, std::int32_t repeat) = 0;
  virtual std::int32_t set_volume(std::int32_t handle, std::int32_t volume) = 0;
  virtual std::int32_t fade_out(std::int32_t handle, std::int32_t seconds) = 0;
  virtual std::int32_t get_info(std::int32_t handle, KBGMINFO* info) = 0;
  virtual std::int32_t free_song(std::int32_t handle) = 0;
  virtual std::int32_t close() = 0;
};

// The library's exported functions.
KbgmCalls& kbgm_library();

class KbgmBackend final : public BgmBackend {
 public:
  explicit KbgmBackend(KbgmCalls& calls = kbgm_library()) : calls_(calls) {}

  std::int32_t open(std::int32_t a, std::int32_t b) override { return calls_.open(a, b); }
  void send_sysx(std::int32_t n) override { calls_.send_sysx(n); }
  void stop() override { calls_.stop(); }
  void init(std::int32_t handle) override { calls_.init(handle); }
  std::int32_t play(std::int32_t handle, bool repeat) override {
    return calls_.play(handle, repeat ? 1 : 0);
  }
  void fade_in(std::int32_t handle, std::int32_t seconds) override {
    calls_.fade_in(handle, seconds);
  }
  void fade_out(std::int32_t handle, std::int32_t seconds) override;
  void set_volume(std::int32_t handle, std::int32_t volume) override {
    calls_.set_volume(handle, volume);
  }
  void set_repeat(std::int32_t handle, std::int32_t a, std::int32_t b) override {
    calls_.set_repeat(handle, a, b);
  }
  // Asks the library about the song last faded out, until it says the fade
  // is over; from then on false without asking, until the next fade_out.
  bool fade_out_active() override;
  // The handle the library wrote, 0 when it wrote none.
  std::int32_t load_file(std::string_view file_name) override;
  void pump() override {}

  KbgmCalls& calls() { return calls_; }

 private:
  KbgmCalls& calls_;
  std::optional<std::int32_t> fade_handle_;
};

// One tick of the 10 ms fade timer. Once the song that fades is silent: the
// library is stopped and the current song initialised, as a stop without
// fade does, and the pending song is started. The host's bgm() must be the
// KbgmBackend.
template <BgmHost H>
void kbgm_fade_timer_tick(TBgm& bgm, H& host) {
  if (!bgm.fade_timer() || bgm.fading().empty()) return;
  BgmBackend& backend = host.bgm();
  if (backend.fade_out_active()) return;
  backend.stop();
  backend.init(bgm.zt_bgm_get_midi(bgm.current()));
  // Clears the fade timer and starts the pending song; the fade is already
  // known to be over, so the library is not asked again.
  bgm.zt_bgm_tick(host);
}

// When the game ends: stop the library, free every loaded song from the last
// to the first in name order (ignoring case), and close the library.
void kbgm_release(const TBgm& bgm, KbgmCalls& calls);

// A 10 ms timer on the calling thread's message loop, running while enabled.
class FadeTimer {
 public:
  static constexpr UINT kIntervalMs = 10;

  explicit FadeTimer(std::function<void()> on_tick);
  ~FadeTimer();
  FadeTimer(const FadeTimer&) = delete;
  FadeTimer& operator=(const FadeTimer&) = delete;

  void set_enabled(bool enabled);
  bool enabled() const { return enabled_; }

 private:
  static constexpr UINT_PTR kTimerId = 1;
  std::function<void()> on_tick_;
  MessageWindow window_;
  bool enabled_ = false;
};

}  // namespace zt::win
