// Plays one song at a time on a MIDI port, at times given by the caller, with
// a master volume that scales every channel's volume controller (7) and fades
// in twenty steps. Single-threaded: the engine serialises every call.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>

#include "midi_port.h"
#include "song.h"

namespace zt::kbgm {

class Sequencer {
 public:
  static constexpr std::int32_t kFadeSteps = 20;
  static constexpr std::int32_t kFadeStep = 5;

  explicit Sequencer(MidiOutPort& port);

  // extra_passes: passes after the first when repeating, 0 for no end.
  void start(std::shared_ptr<const Song> song, bool repeat, std::int32_t extra_passes,
             std::uint64_t now_us);
  void stop();
  // Ignored while a fade runs.
  void set_volume(std::int32_t volume);
  void fade_in(std::uint64_t length_ms, std::uint64_t now_us);
  // Down to silence, then the song stops.
  void fade_out(std::uint64_t length_ms, std::uint64_t now_us);

  // Sends everything due by now; the time of the next thing to do, or
  // nothing when there is no song and no fade.
  std::optional<std::uint64_t> advance(std::uint64_t now_us);

  void all_notes_off();

  bool playing() const { return song_ != nullptr; }
  const Song* song() const { return song_.get(); }
  bool fading() const { return fade_.has_value(); }
  bool fading_out() const { return fade_ && fade_->step < 0; }
  bool fading_in() const { return fade_ && fade_->step > 0; }
  bool repeat() const { return repeat_; }
  std::int32_t master() const { return master_; }
  std::uint64_t position_us(std::uint64_t now_us) const;

 private:
  struct Fade {
    std::uint64_t start_us = 0;
    std::uint64_t length_ms = 1;
    std::int32_t level = 0;
    std::int32_t step = 0;
    std::int32_t applied = 0;
  };

  void send_message(const SongMessage& m);
  void push_channel(int channel);
  void push_all();
  void reset_channel_volumes();
  void step_fade(std::uint64_t now_us);
  void step_song(std::uint64_t now_us);
  void send_due(std::uint64_t now_us);

  MidiOutPort& port_;
  std::shared_ptr<const Song> song_;
  std::uint64_t start_us_ = 0;
  std::size_t position_ = 0;
  bool repeat_ = false;
  std::int32_t passes_left_ = 0;  // extra passes still to play; unused when endless
  bool endless_ = false;
  std::optional<Fade> fade_;
  std::int32_t master_ = 100;
  std::array<std::uint8_t, 16> channel_volume_{};
  std::array<std::optional<std::uint8_t>, 16> sent_volume_{};
};

}  // namespace zt::kbgm
