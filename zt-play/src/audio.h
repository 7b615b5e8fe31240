// Sound output in the shape the program's audio code expects: an audio
// subsystem, logical playback devices and audio streams bound to them, each
// stream mixed with its gain. SDL2 has none of the bound streams, so this
// layer keeps one SDL2 device (32-bit float, stereo, 44100 Hz) whose callback
// sums every bound stream and clamps the result. Every change from the main
// thread locks the device against that callback; asking what a stream still
// holds does not.
//
// Below it, the sound effects: `SfxBackend` plays the WAV members of
// "sounds.qda" on eight voices.
#pragma once

#include <SDL.h>

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "formats/decode_bounds.h"

namespace zt {

struct AudioSpec {
  SDL_AudioFormat format = AUDIO_F32SYS;
  std::uint8_t channels = 2;
  std::int32_t freq = 44100;
  friend bool operator==(const AudioSpec&, const AudioSpec&) = default;
};

// What the one SDL2 device plays and what every stream carries.
inline constexpr AudioSpec kMixSpec{AUDIO_F32SYS, 2, 44100};
inline constexpr std::size_t kMixFrameBytes = 2 * sizeof(float);
// Frames the device asks for at a time: 11.6 ms, so that an effect is mixed
// within half a game step of its start. A power of two, as some drivers want.
inline constexpr std::uint16_t kDevicePeriodFrames = 512;

// Samples in the mix format that never change once made, shared by every
// stream that plays them.
using SharedSamples = std::shared_ptr<const std::vector<float>>;

namespace audio_detail {
struct Core;
struct StreamState;
}  // namespace audio_detail

// SDL's audio subsystem, started once and stopped when the last handle (and
// the last device or stream made from it) is gone.
class AudioSubsystem {
 public:
  // SDL's error text on failure. SDL_AUDIODRIVER chooses the driver.
  static std::variant<AudioSubsystem, std::string> init();

  // Offline rendering, for tests: while held the device plays silence and
  // takes nothing from the streams; render mixes frames by hand instead.
  void hold_output(bool held);
  std::vector<float> render(std::size_t frames);

  // Waits until every stream bound to the device has played what it holds,
  // but no longer than `longest`: what is queued when the program ends (the
  // end of the music's fade, an effect's tail) is heard before the device
  // closes. Returns at once while the output is held or nothing plays.
  void drain(std::chrono::milliseconds longest);

 private:
  friend class AudioDevice;
  friend class AudioStream;
  explicit AudioSubsystem(std::shared_ptr<audio_detail::Core> core) : core_(std::move(core)) {}
  std::shared_ptr<audio_detail::Core> core_;
};

// A logical playback device. The first one opens the SDL2 device (paused
// until a stream resumes it); the last one to close closes it and unbinds
// its streams. The requested spec is a hint: the device plays kMixSpec.
class AudioDevice {
 public:
  static std::variant<AudioDevice, std::string> open_playback(const AudioSubsystem& audio,
                                                              const AudioSpec& requested);
  AudioDevice(AudioDevice&& other) noexcept = default;
  AudioDevice& operator=(AudioDevice&& other) noexcept;
  AudioDevice(const AudioDevice&) = delete;
  AudioDevice& operator=(const AudioDevice&) = delete;
  ~AudioDevice();

 private:
  friend class AudioStream;
  AudioDevice(std::shared_ptr<audio_detail::Core> core, std::uint32_t id)
      : core_(std::move(core)), id_(id) {}
  void close();
  std::shared_ptr<audio_detail::Core> core_;
  std::uint32_t id_ = 0;  // logical id, never 0 while open
};

// A queue of samples that the device drains once bound. Only streams in the
// mix format are made: clips are converted once when they are loaded
// (convert_to_mix), since SDL2's resampling stream loses a clip's tail.
class AudioStream {
 public:
  static std::variant<AudioStream, std::string> create(const AudioSubsystem& audio,
                                                       const AudioSpec& source);
  AudioStream(AudioStream&& other) noexcept = default;
  AudioStream& operator=(AudioStream&& other) noexcept;
  AudioStream(const AudioStream&) = delete;
  AudioStream& operator=(const AudioStream&) = delete;
  // Unbinds the stream; what it still held is not played.
  ~AudioStream();

  bool bind(const AudioDevice& device);  // false with SDL's error set
  bool put(std::span<const std::uint8_t> bytes);
  bool put(std::span<const float> samples);
  // Plays `samples` from the shared buffer, without copying them: a clip
  // converted once is started this way as often as it is played. Only into
  // a stream that holds nothing yet; false with SDL's error set otherwise.
  bool put_shared(SharedSamples samples);
  // The layer has no resampler holding samples back, so a flush only checks
  // that the stream is usable.
  bool flush();
  // Bytes not yet played; -1 with SDL's error set when the stream is gone.
  // Takes no lock: the callback only moves the play position forward.
  std::int32_t queued() const;
  // Unpauses the device the stream is bound to.
  bool resume_device();
  void set_gain(float gain);

 private:
  AudioStream(std::shared_ptr<audio_detail::Core> core,
              std::shared_ptr<audio_detail::StreamState> state)
      : core_(std::move(core)), state_(std::move(state)) {}
  void destroy();
  std::shared_ptr<audio_detail::Core> core_;
  std::shared_ptr<audio_detail::StreamState> state_;
};

// Sample bytes of the given format converted to interleaved mix-format
// floats with SDL_BuildAudioCVT and SDL_ConvertAudio; nothing when SDL
// cannot convert them or clip_refusal refuses the clip. SDL converts in place
// in a buffer of what it converts times its growth factor, hundreds for slow
// rates: so the format and the channels are converted a few thousand frames
// at a time, then each channel is resampled on its own. Every clip of up to
// 30 s at 1000 to 192000 Hz converts, in at most 46 MB of room besides its
// channels (30 s at 192 kHz); the result is the same as one conversion.
std::optional<std::vector<std::uint8_t>> convert_to_mix(const AudioSpec& spec,
                                                        std::span<const std::uint8_t> bytes);

// Makes a WAV member safe to give to SDL, which trusts what the file says:
// every chunk size is lowered to the bytes that follow it (SDL reserves a
// chunk's declared size before it reads it, so a few bytes could claim
// 4 GiB), and false for linear samples whose block alignment is smaller than
// one sample of every channel (SDL's 24-bit path then reads past its buffer
// and multiplies the clip). A file that tells the truth is left as it is.
bool wav_for_sdl(std::span<std::uint8_t> wav);

// Why a clip of `bytes` sample bytes in `spec` may not be converted, judged
// before anything is converted: its rate or its length; nothing when it may.
std::optional<std::string> clip_refusal(const AudioSpec& spec, std::size_t bytes);

// ---- Sound effects ----

// All the clips held, in the mix format: room for the game's seven effects
// at the longest a clip may be (74,088,000 bytes); the generated ones take
// about 1 MB.
inline constexpr std::size_t kClipsMaxBytes = 7 * kClipMaxBytes;

// How the host starts a sound effect.
class Sfx {
 public:
  virtual ~Sfx() = default;
  virtual void play(std::string_view name, std::int32_t priority) = 0;
};

// One effect, decoded and converted once at start-up; every play of it
// reads the same samples.
struct Clip {
  // From the bytes of converted (mix-format) samples; a torn last float is dropped.
  Clip(const AudioSpec& spec, std::span<const std::uint8_t> mix_bytes);
  Clip(const AudioSpec& spec, std::vector<float> mix);
  AudioSpec spec;  // the format of samples: the mix format after conversion
  SharedSamples samples;
  std::size_t bytes() const { return samples->size() * sizeof(float); }
};

// One voice.
struct Slot {
  std::optional<AudioStream> stream;  // none when the voice is empty
  std::int32_t priority = 0;
};

class SfxBackend final : public Sfx {
 public:
  static constexpr std::size_t kVoices = 8;

  // Never fails: problems are written to err as "sfx: " lines and leave the
  // backend silent in part or in whole.
  SfxBackend(std::optional<AudioSubsystem> audio, const std::filesystem::path& data_dir,
             std::ostream& err);
  SfxBackend(std::optional<AudioSubsystem> audio, const std::filesystem::path& data_dir);
  SfxBackend(const SfxBackend&) = delete;
  SfxBackend& operator=(const SfxBackend&) = delete;
  ~SfxBackend() override;

  void play(std::string_view name, std::int32_t priority) override;

  void set_enabled(bool on) { enabled_ = on; }
  bool enabled() const { return enabled_; }
  bool has_device() const { return device_.has_value(); }
  const std::array<Slot, kVoices>& slots() const { return slots_; }
  const std::map<std::string, Clip, std::less<>>& clips() const { return clips_; }

 private:
  void load_clips(const std::filesystem::path& path, std::ostream& err);
  std::size_t choose_voice();

  std::array<Slot, kVoices> slots_;
  std::optional<AudioDevice> device_;
  std::map<std::string, Clip, std::less<>> clips_;
  std::optional<AudioSubsystem> audio_;  // held only while a device is open
  bool enabled_ = true;
};

}  // namespace zt
