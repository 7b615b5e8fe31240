#include "kbgm_backend.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "formats/ascii.h"

namespace zt::win {

namespace {

class LibraryCalls final : public KbgmCalls {
 public:
  std::int32_t open(std::int32_t a, std::int32_t b) override { return KBGMOpen(a, b); }
  std::int32_t send_sysx(std::int32_t kind) override { return KBGMSendSysx(kind); }
  std::int32_t load_file(std::int32_t* handle, const char* file_name) override {
    return KBGMLoadFile(handle, file_name);
  }
  std::int32_t stop() override { return KBGMStop(); }
  std::int32_t init(std::int32_t handle) override { return KBGMInit(handle); }
  std::int32_t fade_in(std::int32_t handle, std::int32_t seconds) override {
    return KBGMFadeIn(handle, seconds);
  }
  std::int32_t set_repeat(std::int32_t handle, std::int32_t a, std::int32_t b) override {
    return KBGMSetRepeat(handle, a, b);
  }
  std::int32_t play(std::int32_t handle, std::int32_t repeat) override {
    return KBGMPlay(handle, repeat);
  }
  std::int32_t set_volume(std::int32_t handle, std::int32_t volume) override {
    return KBGMSetVolume(handle, volume);
  }
  std::int32_t fade_out(std::int32_t handle, std::int32_t seconds) override {
    return KBGMFadeOut(handle, seconds);
  }
  std::int32_t get_info(std::int32_t handle, KBGMINFO* info) override {
    return KBGMGetInfo(handle, info);
  }
  std::int32_t free_song(std::int32_t handle) override { return KBGMFree(handle); }
  std::int32_t close() override { return KBGMClose(); }
};

bool name_less(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return static_cast<unsigned char>(ascii_lower(x)) < static_cast<unsigned char>(ascii_lower(y));
  });
}

// A library that keeps answering "not closed" must not hang the exit.
constexpr int kMaxCloseTries = 1000;

}  // namespace

KbgmCalls& kbgm_library() {
  static LibraryCalls calls;
  return calls;
}

void KbgmBackend::fade_out(std::int32_t handle, std::int32_t seconds) {
  calls_.fade_out(handle, seconds);
  fade_handle_ = handle;
}

bool KbgmBackend::fade_out_active() {
  if (!fade_handle_) return false;
  KBGMINFO info{};
  calls_.get_info(*fade_handle_, &info);
  if (info.fading_out != 0) return true;
  fade_handle_.reset();
  return false;
}

std::int32_t KbgmBackend::load_file(std::string_view file_name) {
  std::int32_t handle = 0;
  const std::string name(file_name);
  calls_.load_file(&handle, name.c_str());
  return handle;
}

void kbgm_release(const TBgm& bgm, KbgmCalls& calls) {
  if (bgm.device_open()) calls.stop();
  std::vector<const BgmEntry*> songs;
  for (const BgmEntry& e : bgm.entries()) {
    if (e.in_use) songs.push_back(&e);
  }
  std::stable_sort(songs.begin(), songs.end(), [](const BgmEntry* a, const BgmEntry* b) {
    return name_less(a->name, b->name);
  });
  for (auto it = songs.rbegin(); it != songs.rend(); ++it) calls.free_song((*it)->handle);
  if (!bgm.device_open()) return;
  for (int i = 0; i < kMaxCloseTries && calls.close() == KBGM_NOT_CLOSED; ++i) calls.close();
}

FadeTimer::FadeTimer(std::function<void()> on_tick)
    : on_tick_(std::move(on_tick)),
      window_([this](UINT message, WPARAM wparam, LPARAM, LRESULT& result) {
        if (message != WM_TIMER || wparam != kTimerId) return false;
        if (enabled_ && on_tick_) on_tick_();
        result = 0;
        return true;
      }) {}

FadeTimer::~FadeTimer() {
  set_enabled(false);
}

void FadeTimer::set_enabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  if (enabled) {
    SetTimer(window_.hwnd(), kTimerId, kIntervalMs, nullptr);
  } else {
    KillTimer(window_.hwnd(), kTimerId);
  }
}

}  // namespace zt::win
