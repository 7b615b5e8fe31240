// The state behind the KBGM calls: the device, the loaded songs and the
// sequencer. Each call takes one lock; the sequencer thread takes the same
// lock to send what is due, so calls and playing never interleave.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <thread>

#include "kbgm.h"
#include "midi_port.h"
#include "sequencer.h"
#include "song.h"

namespace zt::kbgm {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::uint64_t now_us() = 0;
};

// steady_clock microseconds.
Clock& system_clock();

class Engine {
 public:
  // Real time past which one round of sending counts as unplayable: such a
  // song would hold the lock, and every call of the game behind it.
  static constexpr std::chrono::milliseconds kMaxSend{100};

  // Threaded: open starts the sequencer thread. Otherwise nothing plays
  // until pump, which a test calls after moving its clock.
  Engine(std::unique_ptr<MidiPortOpener> opener, Clock& clock, bool threaded);
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  std::int32_t open();
  std::int32_t send_sysx(std::int32_t kind);
  std::int32_t load_file(std::int32_t* handle, const char* file_name);
  std::int32_t load_bytes(std::int32_t* handle, std::span<const std::uint8_t> bytes);
  std::int32_t stop();
  std::int32_t init(std::int32_t handle);
  std::int32_t fade_in(std::int32_t handle, std::int32_t seconds);
  std::int32_t set_repeat(std::int32_t handle, std::int32_t a, std::int32_t count);
  std::int32_t play(std::int32_t handle, std::int32_t repeat);
  std::int32_t set_volume(std::int32_t handle, std::int32_t volume);
  std::int32_t fade_out(std::int32_t handle, std::int32_t seconds);
  std::int32_t get_info(std::int32_t handle, KBGMINFO* info);
  std::int32_t free_song(std::int32_t handle);
  std::int32_t close();

  void pump();

 private:
  struct Slot {
    std::shared_ptr<const Song> song;
    std::uint64_t fade_in_ms = 0;  // armed for the next play
    std::int32_t extra_passes = 0;
  };

  Slot* slot(std::int32_t handle);
  // The sequencer's advance, stopping a song that takes too long to send.
  std::optional<std::uint64_t> advance(std::uint64_t now_us);
  bool is_playing(std::int32_t handle) const;
  void run();
  void wake();

  std::unique_ptr<MidiPortOpener> opener_;
  Clock& clock_;
  const bool threaded_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::unique_ptr<MidiOutPort> port_;
  std::optional<Sequencer> sequencer_;
  std::map<std::int32_t, Slot> songs_;
  std::int32_t next_handle_ = 0;
  std::int32_t current_ = 0;  // handle given to the last successful play
  bool quit_ = false;
  bool woken_ = false;
  bool closing_ = false;  // a close is waiting for the thread
  std::thread thread_;
};

// The engine behind the exported calls: the MIDI mapper on a thread. A test
// may put its own in place and gets the previous one back.
Engine& default_engine();
std::unique_ptr<Engine> replace_default_engine(std::unique_ptr<Engine> engine);

}  // namespace zt::kbgm
