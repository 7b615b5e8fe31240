#include "fake_bgm.h"

#include <utility>

namespace zt {
namespace {

std::string args(std::initializer_list<std::int32_t> values) {
  std::string s;
  for (std::int32_t v : values) {
    if (!s.empty()) s += ", ";
    s += std::to_string(v);
  }
  return s;
}

}  // namespace

std::vector<std::string> FakeBgm::take_log() {
  return std::exchange(log, {});
}

std::int32_t FakeBgm::open(std::int32_t a, std::int32_t b) {
  log.push_back("open(" + args({a, b}) + ") -> " + std::to_string(open_result));
  return open_result;
}

void FakeBgm::send_sysx(std::int32_t n) {
  log.push_back("send_sysx(" + args({n}) + ")");
}

void FakeBgm::stop() {
  log.emplace_back("stop()");
}

void FakeBgm::init(std::int32_t handle) {
  log.push_back("init(" + args({handle}) + ")");
}

std::int32_t FakeBgm::play(std::int32_t handle, bool repeat) {
  log.push_back("play(" + args({handle}) + (repeat ? ", true" : ", false") + ") -> " +
                std::to_string(play_result));
  return play_result;
}

void FakeBgm::fade_in(std::int32_t handle, std::int32_t seconds) {
  log.push_back("fade_in(" + args({handle, seconds}) + ")");
}

void FakeBgm::fade_out(std::int32_t handle, std::int32_t seconds) {
  log.push_back("fade_out(" + args({handle, seconds}) + ")");
}

void FakeBgm::set_volume(std::int32_t handle, std::int32_t volume) {
  log.push_back("set_volume(" + args({handle, volume}) + ")");
}

void FakeBgm::set_repeat(std::int32_t handle, std::int32_t a, std::int32_t b) {
  log.push_back("set_repeat(" + args({handle, a, b}) + ")");
}

bool FakeBgm::fade_out_active() {
  log.push_back(std::string("fade_out_active() -> ") + (fade_out_active_result ? "true" : "false"));
  return fade_out_active_result;
}

std::int32_t FakeBgm::load_file(std::string_view file_name) {
  std::int32_t handle = 0;
  if (load_file_result) {
    handle = *load_file_result;
  } else if (!fail_loads.contains(file_name)) {
    handle = next_handle_++;
  }
  log.push_back("load_file(" + std::string(file_name) + ") -> " + std::to_string(handle));
  return handle;
}

void FakeBgm::pump() {
  log.emplace_back("pump()");
}

bool FakeKbgmSink::file_exists(std::string_view name) {
  asked.emplace_back(name);
  return existing.contains(name);
}

}  // namespace zt
