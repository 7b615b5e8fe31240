// Small fixtures for the music library's tests: MIDI files built in code, a
// port that records what it is sent, and a clock the test moves.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "engine.h"
#include "midi_port.h"

namespace zt::kbgm::test {

using Bytes = std::vector<std::uint8_t>;

inline void put_vlq(Bytes& out, std::uint32_t v) {
  std::uint8_t tmp[5];
  int n = 0;
  tmp[n++] = v & 0x7F;
  while ((v >>= 7) != 0) tmp[n++] = static_cast<std::uint8_t>(0x80 | (v & 0x7F));
  while (n > 0) out.push_back(tmp[--n]);
}

// One track: (delta, bytes of the event) pairs; an end of track is added.
struct TrackEvent {
  std::uint32_t delta;
  Bytes bytes;
};

inline Bytes midi_file(std::uint16_t division,
                       std::initializer_list<std::vector<TrackEvent>> tracks,
                       std::uint32_t end_delta = 0) {
  Bytes f = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1};
  f.push_back(0);
  f.push_back(static_cast<std::uint8_t>(tracks.size()));
  f.push_back(static_cast<std::uint8_t>(division >> 8));
  f.push_back(static_cast<std::uint8_t>(division));
  for (const auto& track : tracks) {
    Bytes t;
    for (const TrackEvent& e : track) {
      put_vlq(t, e.delta);
      t.insert(t.end(), e.bytes.begin(), e.bytes.end());
    }
    put_vlq(t, end_delta);
    t.insert(t.end(), {0xFF, 0x2F, 0x00});
    f.insert(f.end(), {'M', 'T', 'r', 'k'});
    const std::uint32_t n = static_cast<std::uint32_t>(t.size());
    for (int s = 24; s >= 0; s -= 8) f.push_back(static_cast<std::uint8_t>(n >> s));
    f.insert(f.end(), t.begin(), t.end());
  }
  return f;
}

// 480 ticks a quarter at the default tempo: 1 tick is 1041.666 us, 480 ticks 0.5 s.
inline Bytes two_note_song() {
  return midi_file(480, {{{0, {0x90, 60, 100}}, {480, {0x80, 60, 0}}}}, 480);
}

class RecordingPort final : public MidiOutPort {
 public:
  void send(std::span<const std::uint8_t> message) override {
    std::unique_lock lock(mutex_);
    sent_.emplace_back(message.begin(), message.end());
    changed_.notify_all();
  }
  std::vector<Bytes> take() {
    std::lock_guard lock(mutex_);
    return std::exchange(sent_, {});
  }
  std::size_t count() {
    std::lock_guard lock(mutex_);
    return sent_.size();
  }
  bool wait_for_count(std::size_t n) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(5), [&] { return sent_.size() >= n; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Bytes> sent_;
};

// Hands out one shared recording port, or fails with a given error.
class TestOpener final : public MidiPortOpener {
 public:
  explicit TestOpener(RecordingPort* port, std::int32_t error = 0) : port_(port), error_(error) {}
  PortOpenResult open() override {
    ++opens;
    if (port_ == nullptr) return {nullptr, error_};
    return {std::make_unique<Forward>(*port_), 0};
  }
  int opens = 0;

 private:
  struct Forward final : MidiOutPort {
    explicit Forward(RecordingPort& p) : port(p) {}
    void send(std::span<const std::uint8_t> m) override { port.send(m); }
    RecordingPort& port;
  };
  RecordingPort* port_;
  std::int32_t error_;
};

class ManualClock final : public Clock {
 public:
  std::uint64_t now_us() override { return now; }
  std::uint64_t now = 1'000'000;
};

inline bool is_cc(const Bytes& m, int controller) {
  return m.size() == 3 && (m[0] & 0xF0) == 0xB0 && m[1] == controller;
}

// The values of the volume controller sent on one channel, in order.
inline std::vector<int> volumes_on(const std::vector<Bytes>& sent, int channel) {
  std::vector<int> v;
  for (const Bytes& m : sent) {
    if (is_cc(m, 7) && (m[0] & 0x0F) == channel) v.push_back(m[2]);
  }
  return v;
}

inline std::vector<Bytes> notes(const std::vector<Bytes>& sent) {
  std::vector<Bytes> v;
  for (const Bytes& m : sent) {
    if ((m[0] & 0xF0) == 0x80 || (m[0] & 0xF0) == 0x90) v.push_back(m);
  }
  return v;
}

}  // namespace zt::kbgm::test
