// Music rendered by a SoundFont synthesizer: FluidSynth's MIDI-file player
// renders 512-frame blocks on the main thread, and the backend applies
// volume and fades as a gain stepped by sample count and ramped within each
// block before it pushes the samples into a PcmSink.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "bgm.h"
#include "game/glue.h"
#include "song_loop.h"

struct _fluid_hashtable_t;
struct _fluid_midi_event_t;
struct _fluid_synth_t;
struct _fluid_player_t;

namespace zt {

// Processor time of rendering. Past `block` one block of a song (12 ms of
// sound) counts as unplayable: the song is stopped so that the game's loop
// goes on. Past `pump` one pump renders no further block: the queue is topped
// up over the next game steps instead of holding this one. The program keeps
// these; tests take shorter ones.
struct SynthRenderLimits {
  std::chrono::nanoseconds block = std::chrono::milliseconds(100);
  std::chrono::nanoseconds pump = std::chrono::milliseconds(30);
};

class SynthBackend final : public BgmBackend {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  static constexpr std::uint32_t kBlockFrames = 512;
  static constexpr std::uint32_t kQueueLimitFrames = 11024;
  static constexpr int kMaxBlocksPerPump = 32;
  static constexpr std::uint64_t kStepSamplesPerSecond = 2205;  // 20 steps make the length
  static constexpr std::chrono::milliseconds kOverdueGrace{2000};
  // What FluidSynth's MIDI-file player copes with: it counts ticks in an int
  // (the bound leaves room for the ticks of a render call past the end), and
  // it refuses a file of more tracks, which is then handed over as one.
  static constexpr std::uint64_t kPlayerMaxTicks = std::uint64_t{1} << 30;
  static constexpr std::size_t kPlayerMaxTracks = 127;

  // The file as the player is given it, or why the song is refused.
  static std::variant<std::vector<std::uint8_t>, std::string> player_song(const MidiFile& file);
  // The synthesizer's output gain. FluidSynth's own 0.2 leaves the songs
  // 15 dB under the effects; at 0.5 the title song plays at about -23 dBFS
  // RMS with peaks near -10 dBFS, which leaves the effects' peaks room above.
  static constexpr double kGain = 0.5;

  // The error text when the SoundFont cannot be opened or read, or the
  // synthesizer cannot start.
  static std::variant<std::unique_ptr<SynthBackend>, std::string> create(
      const std::filesystem::path& data_dir, const std::filesystem::path& soundfont_path,
      std::unique_ptr<PcmSink> sink, Clock clock = std::chrono::steady_clock::now,
      SynthRenderLimits limits = {});

  SynthBackend(const SynthBackend&) = delete;
  SynthBackend& operator=(const SynthBackend&) = delete;
  ~SynthBackend() override;

  std::int32_t open(std::int32_t, std::int32_t) override { return 0; }
  void send_sysx(std::int32_t) override {}
  void stop() override;
  void init(std::int32_t) override {}
  std::int32_t play(std::int32_t handle, bool repeat) override;
  void fade_in(std::int32_t handle, std::int32_t seconds) override;
  void fade_out(std::int32_t handle, std::int32_t seconds) override;
  void set_volume(std::int32_t handle, std::int32_t volume) override;
  void set_repeat(std::int32_t, std::int32_t, std::int32_t) override {}
  bool fade_out_active() override;
  std::int32_t load_file(std::string_view file_name) override;
  void pump() override;

  std::int32_t volume() const { return volume_; }
  bool fading() const { return fade_.has_value(); }
  bool song_loaded_in_sequencer() const { return player_ != nullptr; }

 private:
  struct Fade {
    std::chrono::steady_clock::time_point start;
    std::uint64_t length_ms = 0;
    std::uint64_t step_samples = 0;
    std::uint64_t remaining = 0;
    std::int32_t level = 0;
    std::int32_t step = 0;
    bool stop_at_end = false;
  };
  struct FluidDeleter {
    void operator()(_fluid_hashtable_t* s) const;
    void operator()(_fluid_synth_t* s) const;
    void operator()(_fluid_player_t* p) const;
  };

  SynthBackend(std::filesystem::path data_dir, std::unique_ptr<PcmSink> sink, Clock clock,
               SynthRenderLimits limits);
  void stop_sequencer();
  // The player's events and ticks of a song that repeats without a reset:
  // where a new pass begins, the song's start state is set again first.
  static int on_song_event(void* data, _fluid_midi_event_t* event);
  static int on_song_tick(void* data, int tick);
  void restore_start_state();
  void overdue_check();
  void advance_fade(std::uint64_t samples);

  std::filesystem::path data_dir_;
  std::unique_ptr<_fluid_hashtable_t, FluidDeleter> settings_;
  std::unique_ptr<_fluid_synth_t, FluidDeleter> synth_;
  std::unique_ptr<_fluid_player_t, FluidDeleter> player_;  // the song in the sequencer
  std::map<std::int32_t, std::shared_ptr<const std::vector<std::uint8_t>>> songs_;
  // What each song's loop point sends; none where only a reset will do.
  std::map<std::int32_t, std::optional<std::vector<ChannelMessage>>> loop_restores_;
  // Of the song in the sequencer, when it loops without a reset: the
  // messages, the tick of the last event and of the last tick reported, and
  // whether the new pass has had them.
  std::optional<std::vector<ChannelMessage>> restore_;
  int event_tick_ = 0;
  int player_tick_ = 0;
  bool restored_ = false;
  std::int32_t next_handle_ = 0;
  std::array<float, kBlockFrames> left_{};
  std::array<float, kBlockFrames> right_{};
  std::array<float, 2 * kBlockFrames> interleaved_{};
  std::optional<Fade> fade_;
  std::int32_t volume_ = 100;
  bool fade_out_flag_ = false;
  std::unique_ptr<PcmSink> sink_;
  Clock clock_;
  SynthRenderLimits limits_;
};

}  // namespace zt
