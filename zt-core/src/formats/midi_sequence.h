// What both programs' MIDI sequencers share: a song as timed raw channel
// messages, the master volume that scales every channel's own volume
// controller (7), and the fade of that master volume in twenty steps.
// The sequencers keep their own clocks, threads and ports.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "formats/midifile.h"

namespace zt {

// One raw channel message at its time from the start of the song.
struct TimedMessage {
  std::uint64_t micros = 0;
  std::array<std::uint8_t, 3> bytes{};
  std::uint8_t size = 0;

  std::span<const std::uint8_t> message() const { return std::span(bytes).first(size); }
  friend bool operator==(const TimedMessage&, const TimedMessage&) = default;
};

// How ticks become microseconds.
enum class MidiTiming {
  // Each step from one event to the next is rounded down on its own (ticks x
  // tempo / division; a timecode tick is a whole number of microseconds), so
  // that a song's times are the sum of its rounded deltas.
  kPerDelta,
  // The time of each tick from the tempo map, rounded down once.
  kFromTempoMap,
};

// The channel messages of the merged tracks in playing order with their
// times; every other event is dropped (tempo events still time the rest).
std::vector<TimedMessage> timed_channel_messages(const MidiFile& file, const MidiTimeline& merged,
                                                 MidiTiming timing);

// What a sequencer has set on the 16 channels: each one's own volume, the
// master volume over them, and the controller-7 value last sent, so that only
// changed values go out.
class MidiChannels {
 public:
  using Send = std::function<void(std::span<const std::uint8_t> message)>;

  explicit MidiChannels(Send send) : send_(std::move(send)) { own_volume_.fill(100); }

  std::int32_t master() const { return master_; }
  // Clamped to 0..100; then every channel whose scaled value changed is sent.
  void set_master(std::int32_t volume);
  // Every channel's own volume back to 100, as at the start of a pass; sends nothing.
  void reset_own_volumes() { own_volume_.fill(100); }
  // Sends controller 7 on every channel whose scaled value changed (all of
  // them the first time).
  void push_all();
  // A song's message: its own controller 7 is kept as the channel's volume
  // and sent scaled by the master volume, only when that value changed;
  // anything else goes out as it is.
  void send_song_message(const TimedMessage& m);
  // Controllers 120 and 123 on every channel.
  void all_notes_off();

 private:
  void push_channel(std::size_t c);

  Send send_;
  std::int32_t master_ = 100;
  std::array<std::uint8_t, 16> own_volume_{};
  std::array<std::optional<std::uint8_t>, 16> sent_volume_{};
};

// A fade of the master volume in twenty steps of 5 over length_ms: step k
// is due once k / 20 of the length has passed, in whole milliseconds.
class MidiFade {
 public:
  static constexpr std::int32_t kSteps = 20;
  static constexpr std::int32_t kStep = 5;

  enum class Outcome {
    kNone,     // no step due
    kStepped,  // the master volume moved
    kFull,     // it reached 100: the fade is over
    kSilent,   // it reached 0: the fade is over
  };

  // Up from 0 (the caller has set the master volume to 0).
  static MidiFade in(std::uint64_t length_ms) { return MidiFade(length_ms, 0, kStep); }
  // Down from the master volume at its start.
  static MidiFade out(std::uint64_t length_ms, std::int32_t from) {
    return MidiFade(length_ms, from, -kStep);
  }

  // Applies the newest step due after elapsed_ms to the channels' master volume.
  Outcome advance(std::uint64_t elapsed_ms, MidiChannels& channels);
  // The first whole millisecond after the start at which the next step is due.
  std::uint64_t next_step_ms() const;

  bool rising() const { return step_ > 0; }
  std::uint64_t length_ms() const { return length_ms_; }

 private:
  MidiFade(std::uint64_t length_ms, std::int32_t level, std::int32_t step)
      : length_ms_(std::max<std::uint64_t>(length_ms, 1)), level_(level), step_(step) {}

  std::uint64_t length_ms_ = 1;
  std::int32_t level_ = 0;  // the master volume at the start
  std::int32_t step_ = 0;
  std::int32_t applied_ = 0;  // steps done, 0 to 20
};

}  // namespace zt
