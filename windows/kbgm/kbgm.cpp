#include "kbgm.h"

#include <utility>

#include "engine.h"

namespace zt::kbgm {

namespace {
std::unique_ptr<Engine>& engine_slot() {
  static std::unique_ptr<Engine> engine =
      std::make_unique<Engine>(winmm_port_opener(), system_clock(), true);
  return engine;
}
}  // namespace

Engine& default_engine() {
  return *engine_slot();
}

std::unique_ptr<Engine> replace_default_engine(std::unique_ptr<Engine> engine) {
  return std::exchange(engine_slot(), std::move(engine));
}

}  // namespace zt::kbgm

using zt::kbgm::default_engine;

extern "C" {

std::int32_t KBGM_API KBGMOpen(std::int32_t, std::int32_t) {
  return default_engine().open();
}
std::int32_t KBGM_API KBGMSendSysx(std::int32_t kind) {
  return default_engine().send_sysx(kind);
}
std::int32_t KBGM_API KBGMLoadFile(std::int32_t* handle, const char* file_name) {
  return default_engine().load_file(handle, file_name);
}
std::int32_t KBGM_API KBGMStop() {
  return default_engine().stop();
}
std::int32_t KBGM_API KBGMInit(std::int32_t handle) {
  return default_engine().init(handle);
}
std::int32_t KBGM_API KBGMFadeIn(std::int32_t handle, std::int32_t seconds) {
  return default_engine().fade_in(handle, seconds);
}
std::int32_t KBGM_API KBGMSetRepeat(std::int32_t handle, std::int32_t a, std::int32_t count) {
  return default_engine().set_repeat(handle, a, count);
}
std::int32_t KBGM_API KBGMPlay(std::int32_t handle, std::int32_t repeat) {
  return default_engine().play(handle, repeat);
}
std::int32_t KBGM_API KBGMSetVolume(std::int32_t handle, std::int32_t volume) {
  return default_engine().set_volume(handle, volume);
}
std::int32_t KBGM_API KBGMFadeOut(std::int32_t handle, std::int32_t seconds) {
  return default_engine().fade_out(handle, seconds);
}
std::int32_t KBGM_API KBGMGetInfo(std::int32_t handle, KBGMINFO* info) {
  return default_engine().get_info(handle, info);
}
std::int32_t KBGM_API KBGMFree(std::int32_t handle) {
  return default_engine().free_song(handle);
}
std::int32_t KBGM_API KBGMClose() {
  return default_engine().close();
}

}  // extern "C"
