// Plays one song at a time on a MIDI port, at times given by the caller, with
// a master volume that scales every channel's volume controller (7) and fades
// in twenty steps. Single-threaded: the engine serialises every call.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>

#include "formats/midi_sequence.h"
#include "midi_port.h"
#include "song.h"

namespace zt::kbgm {

class Sequencer {
 public:
  static constexpr std::int32_t kFadeSteps = MidiFade::kSteps;
  static constexpr std::int32_t kFadeStep = MidiFade::kStep;

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

  void all_notes_off() { channels_.all_notes_off(); }

  bool playing() const { return song_ != nullptr; }
  const Song* song() const { return song_.get(); }
  bool fading() const { return fade_.has_value(); }
  bool fading_out() const { return fade_ && !fade_->steps.rising(); }
  bool fading_in() const { return fade_ && fade_->steps.rising(); }
  bool repeat() const { return repeat_; }
  std::int32_t master() const { return channels_.master(); }
  std::uint64_t position_us(std::uint64_t now_us) const;

 private:
  struct Fade {
    std::uint64_t start_us = 0;
    MidiFade steps;
  };

  void step_fade(std::uint64_t now_us);
  void step_song(std::uint64_t now_us);
  void send_due(std::uint64_t now_us);

  std::shared_ptr<const Song> song_;
  std::uint64_t start_us_ = 0;
  std::size_t position_ = 0;
  bool repeat_ = false;
  std::int32_t passes_left_ = 0;  // extra passes still to play; unused when endless
  bool endless_ = false;
  std::optional<Fade> fade_;
  MidiChannels channels_;
};

}  // namespace zt::kbgm
