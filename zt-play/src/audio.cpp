#include "audio.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <iostream>
#include <limits>
#include <mutex>
#include <thread>
#include <utility>

#include "alsa_quiet.h"
#include "files.h"
#include "formats/ascii.h"
#include "formats/qda.h"

namespace zt {

namespace audio_detail {

// What the callback reads of one stream. The main thread changes it under
// the device lock while it is bound; the play positions are moved forward by
// the callback and read by the main thread without the lock.
struct StreamState {
  SharedSamples shared;  // played first, never copied
  std::atomic<std::size_t> shared_pos{0};
  std::vector<float> samples;       // the queue that put fills
  std::atomic<std::size_t> pos{0};  // first sample of the queue not yet played
  float gain = 1.0f;
  std::uint32_t device = 0;  // logical device it is bound to; 0 when unbound
};

struct Core {
  SDL_AudioDeviceID dev = 0;  // the one SDL2 device; 0 while no logical device is open
  std::vector<std::uint32_t> logical;
  std::uint32_t next_logical = 1;
  // Read by the callback; changed by the main thread under the device lock.
  std::vector<StreamState*> bound;
  bool held = false;
  bool unpaused = false;

  // Room for every voice and the music, so that binding one does not
  // allocate while the callback waits.
  Core() { bound.reserve(16); }
  Core(const Core&) = delete;
  Core& operator=(const Core&) = delete;
  ~Core() {
    if (dev != 0) SDL_CloseAudioDevice(dev);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
  }

  // Adds up to `samples` samples of `from` at `pos` onwards; how many it took.
  static std::size_t add(float* out, std::size_t samples, const std::vector<float>& from,
                         std::atomic<std::size_t>& pos, float gain) {
    const std::size_t at = pos.load(std::memory_order_relaxed);
    const std::size_t n = std::min(samples, from.size() - std::min(at, from.size()));
    const float* in = from.data() + at;
    for (std::size_t i = 0; i < n; ++i) out[i] += in[i] * gain;
    pos.store(at + n, std::memory_order_release);
    return n;
  }

  void mix_into(float* out, std::size_t samples) {
    for (StreamState* s : bound) {
      const std::size_t done =
          s->shared ? add(out, samples, *s->shared, s->shared_pos, s->gain) : 0;
      if (done < samples) add(out + done, samples - done, s->samples, s->pos, s->gain);
    }
    for (std::size_t i = 0; i < samples; ++i) out[i] = std::clamp(out[i], -1.0f, 1.0f);
  }
};

namespace {

void mix_callback(void* user, Uint8* stream, int len) {
  auto* core = static_cast<Core*>(user);
  const std::size_t samples = static_cast<std::size_t>(len) / sizeof(float);
  auto* out = reinterpret_cast<float*>(stream);
  std::fill(out, out + samples, 0.0f);
  if (!core->held) core->mix_into(out, samples);
}

// Locks the callback out while the main thread changes what it reads.
class DeviceLock {
 public:
  explicit DeviceLock(const Core& core) : dev_(core.dev) {
    if (dev_ != 0) SDL_LockAudioDevice(dev_);
  }
  DeviceLock(const DeviceLock&) = delete;
  DeviceLock& operator=(const DeviceLock&) = delete;
  ~DeviceLock() {
    if (dev_ != 0) SDL_UnlockAudioDevice(dev_);
  }

 private:
  SDL_AudioDeviceID dev_;
};

void unbind_locked(Core& core, StreamState* s) {
  std::erase(core.bound, s);
  s->device = 0;
}

}  // namespace
}  // namespace audio_detail

using audio_detail::Core;
using audio_detail::DeviceLock;
using audio_detail::StreamState;

// ---- AudioSubsystem ----

std::variant<AudioSubsystem, std::string> AudioSubsystem::init() {
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return std::string(SDL_GetError());
  return AudioSubsystem(std::make_shared<Core>());
}

void AudioSubsystem::hold_output(bool held) {
  DeviceLock lock(*core_);
  core_->held = held;
}

std::vector<float> AudioSubsystem::render(std::size_t frames) {
  std::vector<float> out(frames * 2, 0.0f);
  DeviceLock lock(*core_);
  core_->mix_into(out.data(), out.size());
  return out;
}

void AudioSubsystem::drain(std::chrono::milliseconds longest) {
  const Core& core = *core_;
  const auto end = std::chrono::steady_clock::now() + longest;
  for (;;) {
    if (core.dev == 0 || core.held || !core.unpaused) return;
    // Only this thread adds to the queues; the callback only plays them.
    bool queued = false;
    for (const StreamState* s : core.bound) {
      queued = queued || s->pos.load(std::memory_order_acquire) < s->samples.size() ||
               (s->shared && s->shared_pos.load(std::memory_order_acquire) < s->shared->size());
    }
    if (!queued || std::chrono::steady_clock::now() >= end) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

// ---- AudioDevice ----

std::variant<AudioDevice, std::string> AudioDevice::open_playback(const AudioSubsystem& audio,
                                                                  const AudioSpec&) {
  Core& core = *audio.core_;
  if (core.dev == 0) {
    SDL_AudioSpec want{};
    want.freq = kMixSpec.freq;
    want.format = kMixSpec.format;
    want.channels = kMixSpec.channels;
    want.samples = kDevicePeriodFrames;
    want.callback = audio_detail::mix_callback;
    want.userdata = &core;
    SDL_AudioSpec have{};
    const alsa::QuietErrors quiet;
    const SDL_AudioDeviceID dev = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (dev == 0) return std::string(SDL_GetError());
    core.dev = dev;
  }
  const std::uint32_t id = core.next_logical++;
  core.logical.push_back(id);
  return AudioDevice(audio.core_, id);
}

AudioDevice& AudioDevice::operator=(AudioDevice&& other) noexcept {
  if (this != &other) {
    close();
    core_ = std::move(other.core_);
    id_ = std::exchange(other.id_, 0);
  }
  return *this;
}

AudioDevice::~AudioDevice() {
  close();
}

void AudioDevice::close() {
  if (!core_ || id_ == 0) return;
  Core& core = *core_;
  {
    DeviceLock lock(core);
    std::vector<StreamState*> still;
    for (StreamState* s : core.bound) {
      if (s->device == id_) {
        s->device = 0;
      } else {
        still.push_back(s);
      }
    }
    core.bound = std::move(still);
  }
  std::erase(core.logical, id_);
  if (core.logical.empty() && core.dev != 0) {
    SDL_CloseAudioDevice(core.dev);
    core.dev = 0;
    core.unpaused = false;
  }
  id_ = 0;
  core_.reset();
}

// ---- AudioStream ----

std::variant<AudioStream, std::string> AudioStream::create(const AudioSubsystem& audio,
                                                           const AudioSpec& source) {
  if (source != kMixSpec) return std::string("only mix-format streams are supported");
  return AudioStream(audio.core_, std::make_shared<StreamState>());
}

AudioStream& AudioStream::operator=(AudioStream&& other) noexcept {
  if (this != &other) {
    destroy();
    core_ = std::move(other.core_);
    state_ = std::move(other.state_);
  }
  return *this;
}

AudioStream::~AudioStream() {
  destroy();
}

void AudioStream::destroy() {
  if (!state_) return;
  if (state_->device != 0) {
    DeviceLock lock(*core_);
    audio_detail::unbind_locked(*core_, state_.get());
  }
  state_.reset();
  core_.reset();
}

bool AudioStream::bind(const AudioDevice& device) {
  if (!state_ || device.id_ == 0 || device.core_ != core_) {
    SDL_SetError("cannot bind the audio stream");
    return false;
  }
  std::vector<StreamState*>& bound = core_->bound;
  std::vector<StreamState*> old;  // freed once the lock is let go
  if (state_->device == 0 && bound.size() == bound.capacity()) {
    std::vector<StreamState*> bigger;
    bigger.reserve(2 * bound.capacity() + 8);
    bigger.assign(bound.begin(), bound.end());
    DeviceLock lock(*core_);
    bound.swap(bigger);
    old = std::move(bigger);
  }
  DeviceLock lock(*core_);
  if (state_->device == 0) bound.push_back(state_.get());
  state_->device = device.id_;
  return true;
}

bool AudioStream::put(std::span<const float> samples) {
  if (!state_) {
    SDL_SetError("no audio stream");
    return false;
  }
  DeviceLock lock(*core_);
  StreamState& s = *state_;
  const std::size_t pos = s.pos.load(std::memory_order_relaxed);
  if (pos > 0 && pos >= s.samples.size() / 2) {
    s.samples.erase(s.samples.begin(), s.samples.begin() + static_cast<std::ptrdiff_t>(pos));
    s.pos.store(0, std::memory_order_relaxed);
  }
  s.samples.insert(s.samples.end(), samples.begin(), samples.end());
  return true;
}

bool AudioStream::put_shared(SharedSamples samples) {
  if (!state_ || !samples) {
    SDL_SetError("no audio stream");
    return false;
  }
  if (state_->shared || !state_->samples.empty()) {
    SDL_SetError("the audio stream already holds samples");
    return false;
  }
  // An unbound stream is not seen by the callback: no lock is needed.
  std::optional<DeviceLock> lock;
  if (state_->device != 0) lock.emplace(*core_);
  state_->shared = std::move(samples);
  state_->shared_pos.store(0, std::memory_order_relaxed);
  return true;
}

bool AudioStream::put(std::span<const std::uint8_t> bytes) {
  std::vector<float> samples(bytes.size() / sizeof(float));
  std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
  return put(std::span<const float>(samples));
}

bool AudioStream::flush() {
  if (!state_) {
    SDL_SetError("no audio stream");
    return false;
  }
  return true;
}

std::int32_t AudioStream::queued() const {
  if (!state_) {
    SDL_SetError("no audio stream");
    return -1;
  }
  // Only this thread changes the queue and the shared buffer; the positions
  // only grow, up to their ends.
  const StreamState& s = *state_;
  std::size_t left =
      s.samples.size() - std::min(s.pos.load(std::memory_order_acquire), s.samples.size());
  if (s.shared) {
    left +=
        s.shared->size() - std::min(s.shared_pos.load(std::memory_order_acquire), s.shared->size());
  }
  const std::size_t bytes = left * sizeof(float);
  return static_cast<std::int32_t>(
      std::min<std::size_t>(bytes, std::numeric_limits<std::int32_t>::max()));
}

bool AudioStream::resume_device() {
  if (!state_ || state_->device == 0 || core_->dev == 0) {
    SDL_SetError("the audio stream is not bound to a device");
    return false;
  }
  // Once is enough: SDL's pause call takes the device lock every time.
  if (!core_->unpaused) {
    SDL_PauseAudioDevice(core_->dev, 0);
    core_->unpaused = true;
  }
  return true;
}

void AudioStream::set_gain(float gain) {
  if (!state_) return;
  DeviceLock lock(*core_);
  state_->gain = gain;
}

// ---- helpers ----

namespace {

std::size_t frame_bytes(const AudioSpec& spec) {
  return static_cast<std::size_t>(SDL_AUDIO_BITSIZE(spec.format) / 8) *
         std::max<std::size_t>(spec.channels, 1);
}

// Whole frames only: a torn last frame would shift every channel after it.
std::size_t whole_frame_bytes(const AudioSpec& spec, std::size_t bytes) {
  const std::size_t frame = frame_bytes(spec);
  return frame == 0 ? 0 : bytes - bytes % frame;
}

// A clip's two channels as floats at its own rate. SDL converts the sample
// format and the channels frame by frame, so a few thousand frames at a time
// pass through a small buffer and only the result is whole.
struct FloatChannels {
  std::vector<float> left;
  std::vector<float> right;
};

std::optional<FloatChannels> to_float_channels(const AudioSpec& spec,
                                               std::span<const std::uint8_t> bytes) {
  SDL_AudioCVT cvt;
  const int built = SDL_BuildAudioCVT(&cvt, spec.format, spec.channels, spec.freq, kMixSpec.format,
                                      kMixSpec.channels, spec.freq);
  const std::size_t frame = frame_bytes(spec);
  if (built < 0 || frame == 0) return std::nullopt;
  constexpr std::size_t kChunkFrames = 4096;
  const std::size_t mult = static_cast<std::size_t>(std::max(cvt.len_mult, 1));
  // Floats, so that what SDL writes there is read as floats.
  std::vector<float> chunk((kChunkFrames * frame * mult + sizeof(float) - 1) / sizeof(float));
  const std::size_t frames = bytes.size() / frame;
  FloatChannels out;
  out.left.resize(frames);
  out.right.resize(frames);
  for (std::size_t at = 0; at < frames; at += kChunkFrames) {
    const std::size_t n = std::min(kChunkFrames, frames - at);
    std::memcpy(chunk.data(), bytes.data() + at * frame, n * frame);
    if (built > 0) {
      cvt.len = static_cast<int>(n * frame);
      cvt.buf = reinterpret_cast<Uint8*>(chunk.data());
      if (SDL_ConvertAudio(&cvt) != 0 ||
          static_cast<std::size_t>(cvt.len_cvt) != n * kMixFrameBytes) {
        return std::nullopt;
      }
    }
    for (std::size_t i = 0; i < n; ++i) {
      out.left[at + i] = chunk[2 * i];
      out.right[at + i] = chunk[2 * i + 1];
    }
  }
  return out;
}

// One channel at `rate` resampled to the mix rate. SDL resamples in place in
// a buffer of the channel times its growth factor: twice the channel for
// rates above the mix rate (30 s at 192 kHz: 46 MB), 90 times at 1000 Hz
// (30 s: 10.8 MB). The channel is let go before the buffer is made.
std::optional<std::vector<float>> resample(std::vector<float> channel, std::int32_t rate) {
  SDL_AudioCVT cvt;
  const int built = SDL_BuildAudioCVT(&cvt, AUDIO_F32SYS, 1, rate, AUDIO_F32SYS, 1, kMixSpec.freq);
  if (built < 0) return std::nullopt;
  if (built == 0 || channel.empty()) return channel;
  const std::size_t bytes = channel.size() * sizeof(float);
  const auto mult = static_cast<std::size_t>(std::max(cvt.len_mult, 1));
  if (bytes > static_cast<std::size_t>(std::numeric_limits<int>::max()) / mult) {
    return std::nullopt;
  }
  std::vector<float> buf(channel.size() * mult);
  std::copy(channel.begin(), channel.end(), buf.begin());
  channel = {};
  cvt.len = static_cast<int>(bytes);
  cvt.buf = reinterpret_cast<Uint8*>(buf.data());
  if (SDL_ConvertAudio(&cvt) != 0) return std::nullopt;
  buf.resize(static_cast<std::size_t>(cvt.len_cvt) / sizeof(float));
  buf.shrink_to_fit();
  return buf;
}

// Both channels at the mix rate, interleaved.
std::optional<std::vector<float>> to_mix(FloatChannels channels, std::int32_t rate) {
  std::optional<std::vector<float>> left = resample(std::move(channels.left), rate);
  if (!left) return std::nullopt;
  std::optional<std::vector<float>> right = resample(std::move(channels.right), rate);
  if (!right) return std::nullopt;
  const std::size_t frames = std::min(left->size(), right->size());
  std::vector<float> mix(2 * frames);
  for (std::size_t i = 0; i < frames; ++i) {
    mix[2 * i] = (*left)[i];
    mix[2 * i + 1] = (*right)[i];
  }
  return mix;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> convert_to_mix(const AudioSpec& spec,
                                                        std::span<const std::uint8_t> bytes) {
  if (clip_refusal(spec, bytes.size())) return std::nullopt;
  std::optional<FloatChannels> channels =
      to_float_channels(spec, bytes.first(whole_frame_bytes(spec, bytes.size())));
  if (!channels) return std::nullopt;
  std::optional<std::vector<float>> mix = to_mix(std::move(*channels), spec.freq);
  if (!mix) return std::nullopt;
  std::vector<std::uint8_t> out(mix->size() * sizeof(float));
  if (!out.empty()) std::memcpy(out.data(), mix->data(), out.size());
  return out;
}

bool wav_for_sdl(std::span<std::uint8_t> wav) {
  const auto u16_at = [&](std::size_t at) {
    return static_cast<std::uint32_t>(wav[at]) | static_cast<std::uint32_t>(wav[at + 1]) << 8;
  };
  const auto u32_at = [&](std::size_t at) { return u16_at(at) | u16_at(at + 2) << 16; };
  const auto put_u32 = [&](std::size_t at, std::uint64_t v) {
    for (int i = 0; i < 4; ++i)
      wav[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  std::size_t at = 0;
  if (wav.size() >= 12 && std::memcmp(wav.data(), "RIFF", 4) == 0) {
    if (u32_at(4) > wav.size() - 8) put_u32(4, wav.size() - 8);
    at = 12;
  } else if (wav.size() >= 4 && std::memcmp(wav.data(), "WAVE", 4) == 0) {
    at = 4;  // SDL also takes a file that lacks its RIFF header
  } else {
    return true;  // SDL says what it is not
  }
  bool format_seen = false;
  while (wav.size() - at >= 8) {
    const std::uint64_t left = wav.size() - at - 8;
    std::uint64_t length = u32_at(at + 4);
    if (length > left) {
      length = left;
      put_u32(at + 4, length);
    }
    if (!format_seen && std::memcmp(wav.data() + at, "fmt ", 4) == 0 && length >= 16) {
      format_seen = true;
      const std::size_t f = at + 8;
      std::uint32_t encoding = u16_at(f);
      if (encoding == 0xFFFE && length >= 26) encoding = u16_at(f + 24);  // extensible
      const std::uint32_t sample_bytes = (u16_at(f + 14) + 7) / 8;
      const bool linear = encoding == 1 || encoding == 3;
      if (linear && u16_at(f + 12) < u16_at(f + 2) * sample_bytes) return false;
    }
    at += 8 + static_cast<std::size_t>(length) + static_cast<std::size_t>(length & 1);
    if (at > wav.size()) break;
  }
  return true;
}

std::optional<std::string> clip_refusal(const AudioSpec& spec, std::size_t bytes) {
  if (spec.freq < static_cast<std::int32_t>(kClipMinRate) ||
      spec.freq > static_cast<std::int32_t>(kClipMaxRate)) {
    return std::to_string(spec.freq) + " Hz is outside " + std::to_string(kClipMinRate) + " to " +
           std::to_string(kClipMaxRate) + " Hz";
  }
  const std::size_t frame = frame_bytes(spec);
  const std::size_t used = whole_frame_bytes(spec, bytes);
  if (frame == 0 || !clip_fits(static_cast<std::uint32_t>(spec.freq), used / frame)) {
    return "lasts more than " + std::to_string(kClipMaxSeconds) + " s";
  }
  return std::nullopt;
}

// ---- SfxBackend ----

Clip::Clip(const AudioSpec& format, std::span<const std::uint8_t> mix_bytes) : spec(format) {
  auto floats = std::make_shared<std::vector<float>>(mix_bytes.size() / sizeof(float));
  std::memcpy(floats->data(), mix_bytes.data(), floats->size() * sizeof(float));
  samples = std::move(floats);
}

Clip::Clip(const AudioSpec& format, std::vector<float> mix)
    : spec(format), samples(std::make_shared<const std::vector<float>>(std::move(mix))) {}

namespace {

// The device the effects ask for; the layer plays them in its mix format.
constexpr AudioSpec kSfxDeviceSpec{AUDIO_S16LSB, 2, 44100};

// `refused` says why a clip SDL decoded is not kept; it stays empty for a
// member that is no WAV SDL can read.
std::optional<Clip> decode_wav(const std::vector<std::uint8_t>& bytes, std::string& refused) {
  if (bytes.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) return std::nullopt;
  SDL_RWops* rw = SDL_RWFromConstMem(bytes.data(), static_cast<int>(bytes.size()));
  if (rw == nullptr) return std::nullopt;
  SDL_AudioSpec spec{};
  Uint8* buf = nullptr;
  Uint32 len = 0;
  if (SDL_LoadWAV_RW(rw, 1, &spec, &buf, &len) == nullptr) return std::nullopt;
  const AudioSpec source{spec.format, spec.channels, spec.freq};
  if (std::optional<std::string> why = clip_refusal(source, len)) {
    SDL_FreeWAV(buf);
    refused = std::move(*why);
    return std::nullopt;
  }
  std::optional<FloatChannels> channels =
      to_float_channels(source, std::span(buf, whole_frame_bytes(source, len)));
  // SDL's samples go before the channels are resampled.
  SDL_FreeWAV(buf);
  if (!channels) return std::nullopt;
  std::optional<std::vector<float>> mix = to_mix(std::move(*channels), source.freq);
  if (!mix) return std::nullopt;
  return Clip{kMixSpec, std::move(*mix)};
}

}  // namespace

SfxBackend::SfxBackend(std::optional<AudioSubsystem> audio, const std::filesystem::path& data_dir)
    : SfxBackend(std::move(audio), data_dir, std::cerr) {}

SfxBackend::SfxBackend(std::optional<AudioSubsystem> audio, const std::filesystem::path& data_dir,
                       std::ostream& err) {
  load_clips(data_dir / "sounds.qda", err);
  if (audio) {
    auto opened = AudioDevice::open_playback(*audio, kSfxDeviceSpec);
    if (auto* device = std::get_if<AudioDevice>(&opened)) {
      device_ = std::move(*device);
      audio_ = std::move(audio);
    } else {
      err << "sfx: no audio output device (" << std::get<std::string>(opened) << ")\n";
    }
  }
}

SfxBackend::~SfxBackend() {
  for (Slot& slot : slots_) slot.stream.reset();
  device_.reset();
  audio_.reset();
}

void SfxBackend::load_clips(const std::filesystem::path& path, std::ostream& err) {
  auto read = read_file(path, kArchiveFileCap);
  if (auto* failure = std::get_if<ReadFailure>(&read)) {
    err << "sfx: could not read " << path.string() << " (" << failure->reason << ")\n";
    return;
  }
  const QdaArchive archive = QdaArchive::parse(std::move(std::get<0>(read)));
  // Members that decode beyond a bound are named; the rest of what cannot be
  // loaded stays silent.
  const auto refused = [&](std::string_view name, std::string_view why) {
    err << "sfx: member " << name << " refused: " << why << "\n";
  };
  QdaBudget budget;
  std::size_t held = 0;  // bytes of the clips kept
  for (const QdaEntry& entry : archive.entries()) {
    if (entry.name.empty()) continue;
    std::string key = ascii_lower(entry.name);
    if (key.size() < 4 || !key.ends_with(".wav")) continue;
    QdaLoad member = archive.load_member(entry.name, budget);
    if (member.refused) refused(entry.name, qda_refusal_text(*member.refused));
    if (!member.bytes) continue;
    if (!wav_for_sdl(*member.bytes)) continue;
    std::string why;
    std::optional<Clip> clip = decode_wav(*member.bytes, why);
    if (!why.empty()) refused(entry.name, why);
    if (!clip) continue;
    const auto old = clips_.find(key);
    const std::size_t replaced = old == clips_.end() ? 0 : old->second.bytes();
    if (held - replaced + clip->bytes() > kClipsMaxBytes) {
      refused(entry.name,
              "the clips come to more than " + std::to_string(kClipsMaxBytes) + " bytes in all");
      continue;
    }
    held = held - replaced + clip->bytes();
    clips_.insert_or_assign(std::move(key), std::move(*clip));
  }
  if (clips_.empty()) err << "sfx: no .wav files in " << path.string() << "\n";
}

std::size_t SfxBackend::choose_voice() {
  std::size_t chosen = 0;
  std::int32_t best = std::numeric_limits<std::int32_t>::max();
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    Slot& slot = slots_[i];
    std::int32_t value = 0;
    if (slot.stream) {
      const std::int32_t queued = slot.stream->queued();
      if (queued == 0) {
        slot.stream.reset();
      } else {
        value = slot.priority;
      }
    }
    if (value < best) {
      best = value;
      chosen = i;
    }
  }
  return chosen;
}

void SfxBackend::play(std::string_view name, std::int32_t priority) {
  if (!enabled_ || !audio_ || !device_) return;
  std::string key = ascii_lower(name);
  if (key.find('.') == std::string::npos) key += ".wav";
  const auto it = clips_.find(key);
  if (it == clips_.end()) return;
  const std::size_t voice = choose_voice();

  auto made = AudioStream::create(*audio_, it->second.spec);
  auto* stream = std::get_if<AudioStream>(&made);
  if (stream == nullptr) return;
  // Filled before it is bound: the callback waits only while the stream is
  // added to what it mixes.
  if (!stream->put_shared(it->second.samples) || !stream->bind(*device_) || !stream->flush() ||
      !stream->resume_device()) {
    return;
  }
  slots_[voice].stream = std::move(*stream);
  slots_[voice].priority = priority;
}

}  // namespace zt
