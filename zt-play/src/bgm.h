// The choice of the music backend, made once at start-up: a SoundFont
// synthesizer, a MIDI output port, or silence. Also the PCM sink through
// which the synthesizer reaches the sound device.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "audio.h"
#include "exe_dir.h"
#include "game/glue.h"
#include "midi.h"

namespace zt {

class SynthBackend;

// Where rendered music goes: interleaved stereo floats.
class PcmSink {
 public:
  virtual ~PcmSink() = default;
  virtual std::uint32_t queued_frames() = 0;
  virtual void push(std::span<const float> samples) = 0;
};

// The program's sink: a playback device and one float stereo stream bound to
// it. Dropping it destroys the stream and closes the device.
class StreamSink final : public PcmSink {
 public:
  StreamSink(AudioDevice device, AudioStream stream)
      : device_(std::move(device)), stream_(std::move(stream)) {}
  ~StreamSink() override;

  std::uint32_t queued_frames() override;
  void push(std::span<const float> samples) override;

 private:
  std::optional<AudioDevice> device_;
  std::optional<AudioStream> stream_;
};

// Plays nothing; every load fails, so the game switches music off.
class SilentBackend final : public BgmBackend {
 public:
  std::int32_t open(std::int32_t, std::int32_t) override { return 0; }
  void send_sysx(std::int32_t) override {}
  void stop() override {}
  void init(std::int32_t) override {}
  std::int32_t play(std::int32_t, bool) override { return 0; }
  void fade_in(std::int32_t, std::int32_t) override {}
  void fade_out(std::int32_t, std::int32_t) override {}
  void set_volume(std::int32_t, std::int32_t) override {}
  void set_repeat(std::int32_t, std::int32_t, std::int32_t) override {}
  bool fade_out_active() override { return false; }
  std::int32_t load_file(std::string_view) override { return 0; }
  void pump() override {}
};

// What create reaches outside its arguments; tests replace each part.
struct BgmEnvironment {
  std::ostream* err = nullptr;  // standard error when null
  std::function<std::optional<std::filesystem::path>()> exe_dir = executable_dir;
  MidiOutputFactory midi_output = open_rtmidi_output;
};

// Never fails: every failure prints its "midi: " line and ends in silence.
std::unique_ptr<BgmBackend> create(const std::optional<AudioSubsystem>& audio,
                                   const std::filesystem::path& data_dir,
                                   const std::optional<std::filesystem::path>& soundfont,
                                   const std::optional<std::string>& midi_port,
                                   const BgmEnvironment& env = {});

std::variant<std::unique_ptr<SynthBackend>, std::string> open_synth(
    const std::optional<AudioSubsystem>& audio, const std::filesystem::path& data_dir,
    const std::filesystem::path& soundfont_path);

// The regular files (or links to them) of a directory whose extension is
// "sf2" in any letter case, in listing order; empty when it cannot be read.
std::vector<std::filesystem::path> resolve_soundfont(const std::filesystem::path& directory);

}  // namespace zt
