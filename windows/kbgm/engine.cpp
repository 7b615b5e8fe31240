#include "engine.h"

#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <utility>
#include <vector>

namespace zt::kbgm {

namespace {

// Larger than any song the game ships by far; a bigger file is refused
// rather than read into memory.
constexpr std::streamoff kMaxFileBytes = 16 * 1024 * 1024;

class SteadyClock final : public Clock {
 public:
  std::uint64_t now_us() override {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
  }
};

std::uint64_t seconds_to_ms(std::int32_t seconds) {
  return seconds > 0 ? static_cast<std::uint64_t>(seconds) * 1000 : 0;
}

}  // namespace

Clock& system_clock() {
  static SteadyClock clock;
  return clock;
}

Engine::Engine(std::unique_ptr<MidiPortOpener> opener, Clock& clock, bool threaded)
    : opener_(std::move(opener)), clock_(clock), threaded_(threaded) {}

Engine::~Engine() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
    wake();
  }
  if (thread_.joinable()) thread_.join();
  sequencer_.reset();
  port_.reset();
}

Engine::Slot* Engine::slot(std::int32_t handle) {
  const auto it = songs_.find(handle);
  return it == songs_.end() ? nullptr : &it->second;
}

bool Engine::is_playing(std::int32_t handle) const {
  return handle != 0 && handle == current_ && sequencer_ && sequencer_->playing();
}

void Engine::wake() {
  woken_ = true;
  changed_.notify_all();
}

std::int32_t Engine::open() {
  std::lock_guard lock(mutex_);
  if (port_) return KBGM_OK;
  PortOpenResult r = opener_->open();
  if (!r.port) return r.error != 0 ? r.error : KBGM_ERR_NOT_OPEN;
  port_ = std::move(r.port);
  sequencer_.emplace(*port_);
  current_ = 0;
  if (threaded_) {
    quit_ = false;
    thread_ = std::thread(&Engine::run, this);
  }
  return KBGM_OK;
}

std::optional<std::uint64_t> Engine::advance(std::uint64_t now_us) {
  const auto started = std::chrono::steady_clock::now();
  const std::optional<std::uint64_t> next = sequencer_->advance(now_us);
  // Thousands of notes that start again every millisecond: given up once.
  if (sequencer_->playing() && std::chrono::steady_clock::now() - started > kMaxSend) {
    sequencer_->stop();
    current_ = 0;
    return std::nullopt;
  }
  return next;
}

void Engine::run() {
  std::unique_lock lock(mutex_);
  while (!quit_) {
    const std::uint64_t now = clock_.now_us();
    const std::optional<std::uint64_t> next = advance(now);
    woken_ = false;
    const auto pred = [this] { return woken_ || quit_; };
    if (next) {
      changed_.wait_for(lock, std::chrono::microseconds(*next - now), pred);
    } else {
      changed_.wait(lock, pred);
    }
  }
  sequencer_->stop();
}

std::int32_t Engine::close() {
  std::unique_lock lock(mutex_);
  if (!port_) return KBGM_OK;
  if (closing_) return KBGM_NOT_CLOSED;
  if (thread_.joinable()) {
    closing_ = true;
    quit_ = true;
    wake();
    std::thread t = std::move(thread_);
    lock.unlock();
    t.join();
    lock.lock();
    closing_ = false;
  } else {
    sequencer_->stop();
  }
  sequencer_.reset();
  port_.reset();
  current_ = 0;
  return KBGM_OK;
}

void Engine::pump() {
  std::lock_guard lock(mutex_);
  if (!threaded_ && sequencer_) advance(clock_.now_us());
}

std::int32_t Engine::send_sysx(std::int32_t kind) {
  std::lock_guard lock(mutex_);
  if (!port_) return KBGM_ERR_NOT_OPEN;
  if (kind != 0) return KBGM_ERR_ARGUMENT;
  static constexpr std::uint8_t kGmSystemOn[] = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
  port_->send(kGmSystemOn);
  return KBGM_OK;
}

std::int32_t Engine::load_file(std::int32_t* handle, const char* file_name) {
  if (handle == nullptr || file_name == nullptr) return KBGM_ERR_ARGUMENT;
  std::ifstream in(file_name, std::ios::binary | std::ios::ate);
  if (!in) return KBGM_ERR_FILE;
  const std::streamoff size = in.tellg();
  if (size < 0 || size > kMaxFileBytes) return KBGM_ERR_FILE;
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  in.seekg(0);
  if (!in.read(reinterpret_cast<char*>(bytes.data()), size)) return KBGM_ERR_FILE;
  return load_bytes(handle, bytes);
}

std::int32_t Engine::load_bytes(std::int32_t* handle, std::span<const std::uint8_t> bytes) {
  if (handle == nullptr) return KBGM_ERR_ARGUMENT;
  std::optional<Song> song = song_from_midi(bytes);
  if (!song) return KBGM_ERR_FILE;
  std::lock_guard lock(mutex_);
  if (next_handle_ == std::numeric_limits<std::int32_t>::max()) return KBGM_ERR_HANDLE;
  const std::int32_t h = ++next_handle_;
  songs_[h].song = std::make_shared<const Song>(std::move(*song));
  *handle = h;
  return KBGM_OK;
}

std::int32_t Engine::stop() {
  std::lock_guard lock(mutex_);
  if (!sequencer_) return KBGM_ERR_NOT_OPEN;
  sequencer_->stop();
  current_ = 0;
  wake();
  return KBGM_OK;
}

std::int32_t Engine::init(std::int32_t handle) {
  std::lock_guard lock(mutex_);
  Slot* s = slot(handle);
  if (s == nullptr) return KBGM_ERR_HANDLE;
  s->fade_in_ms = 0;
  s->extra_passes = 0;
  if (is_playing(handle)) {
    sequencer_->stop();
    current_ = 0;
    wake();
  }
  return KBGM_OK;
}

std::int32_t Engine::fade_in(std::int32_t handle, std::int32_t seconds) {
  std::lock_guard lock(mutex_);
  Slot* s = slot(handle);
  if (s == nullptr) return KBGM_ERR_HANDLE;
  const std::uint64_t ms = seconds_to_ms(seconds);
  if (is_playing(handle) && ms > 0) {
    sequencer_->fade_in(ms, clock_.now_us());
    wake();
  } else {
    s->fade_in_ms = ms;
  }
  return KBGM_OK;
}

std::int32_t Engine::set_repeat(std::int32_t handle, std::int32_t, std::int32_t count) {
  std::lock_guard lock(mutex_);
  Slot* s = slot(handle);
  if (s == nullptr) return KBGM_ERR_HANDLE;
  s->extra_passes = count > 0 ? count : 0;
  return KBGM_OK;
}

std::int32_t Engine::play(std::int32_t handle, std::int32_t repeat) {
  std::lock_guard lock(mutex_);
  if (!sequencer_) return KBGM_ERR_NOT_OPEN;
  Slot* s = slot(handle);
  if (s == nullptr) return KBGM_ERR_HANDLE;
  const std::uint64_t now = clock_.now_us();
  sequencer_->start(s->song, repeat != 0, s->extra_passes, now);
  if (s->fade_in_ms > 0) sequencer_->fade_in(s->fade_in_ms, now);
  s->fade_in_ms = 0;
  current_ = handle;
  wake();
  return KBGM_OK;
}

std::int32_t Engine::set_volume(std::int32_t handle, std::int32_t volume) {
  std::lock_guard lock(mutex_);
  if (!sequencer_) return KBGM_ERR_NOT_OPEN;
  if (slot(handle) == nullptr) return KBGM_ERR_HANDLE;
  sequencer_->set_volume(volume);
  return KBGM_OK;
}

std::int32_t Engine::fade_out(std::int32_t handle, std::int32_t seconds) {
  std::lock_guard lock(mutex_);
  if (!sequencer_) return KBGM_ERR_NOT_OPEN;
  if (!is_playing(handle)) return KBGM_ERR_HANDLE;
  const std::uint64_t ms = seconds_to_ms(seconds);
  if (ms == 0) {
    sequencer_->stop();
    current_ = 0;
  } else {
    sequencer_->fade_out(ms, clock_.now_us());
  }
  wake();
  return KBGM_OK;
}

std::int32_t Engine::get_info(std::int32_t handle, KBGMINFO* info) {
  if (info == nullptr) return KBGM_ERR_ARGUMENT;
  std::memset(info, 0, sizeof *info);
  info->handle = handle;
  std::lock_guard lock(mutex_);
  info->volume = sequencer_ ? sequencer_->master() : 100;
  Slot* s = slot(handle);
  if (s == nullptr) return KBGM_ERR_HANDLE;
  info->length_ms = static_cast<std::int32_t>(
      std::min<std::uint64_t>(s->song->length_us / 1000, std::numeric_limits<std::int32_t>::max()));
  if (is_playing(handle)) {
    info->playing = 1;
    info->fading_out = sequencer_->fading_out() ? 1 : 0;
    info->fading_in = sequencer_->fading_in() ? 1 : 0;
    info->position_ms = static_cast<std::int32_t>(sequencer_->position_us(clock_.now_us()) / 1000);
    info->repeat = sequencer_->repeat() ? 1 : 0;
  }
  return KBGM_OK;
}

std::int32_t Engine::free_song(std::int32_t handle) {
  std::lock_guard lock(mutex_);
  if (slot(handle) == nullptr) return KBGM_ERR_HANDLE;
  if (is_playing(handle)) {
    sequencer_->stop();
    current_ = 0;
    wake();
  }
  songs_.erase(handle);
  return KBGM_OK;
}

}  // namespace zt::kbgm
