#include "synth.h"

#include <fcntl.h>
#include <fluidsynth.h>
#include <glib.h>
#include <time.h>

#include <algorithm>
#include <iostream>

#include "audio.h"
#include "files.h"
#include "formats/midifile.h"
#include "formats/plain_midi.h"

namespace zt {

namespace {

// FluidSynth hands back no error texts, only log lines, so the lines of its
// error levels are caught while a call runs; at other times they are dropped
// so that a failure is reported once, by us.
std::vector<std::string>* g_fluid_capture = nullptr;

void fluid_log_to_capture(int level, const char* message, void*) {
  if (g_fluid_capture == nullptr || message == nullptr) return;
  if (level == FLUID_PANIC || level == FLUID_ERR) g_fluid_capture->emplace_back(message);
}

// The DLS loader that FluidSynth tries after the SoundFont loader reports
// through GLib, which would print to standard error.
void glib_log_to_nothing(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

class FluidCapture {
 public:
  FluidCapture() {
    for (int level = 0; level < LAST_LOG_LEVEL; ++level) {
      fluid_set_log_function(level, fluid_log_to_capture, nullptr);
    }
    g_fluid_capture = &lines_;
    old_glib_ = g_log_set_default_handler(glib_log_to_nothing, nullptr);
  }
  FluidCapture(const FluidCapture&) = delete;
  FluidCapture& operator=(const FluidCapture&) = delete;
  ~FluidCapture() {
    g_log_set_default_handler(old_glib_, nullptr);
    g_fluid_capture = nullptr;
  }
  // The first error: the one that says what went wrong, before the follow-ups.
  std::string first(std::string_view fallback) const {
    return lines_.empty() ? std::string(fallback) : lines_.front();
  }

 private:
  std::vector<std::string> lines_;
  GLogFunc old_glib_ = nullptr;
};

// Processor time of the calling thread: what rendering costs, whatever else
// the machine is doing.
std::chrono::nanoseconds thread_cpu_time() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
}

float square_gain(std::int32_t volume) {
  const float v = static_cast<float>(volume) / 100.0f;
  return v * v;
}

}  // namespace

void SynthBackend::FluidDeleter::operator()(_fluid_hashtable_t* s) const {
  delete_fluid_settings(s);
}
void SynthBackend::FluidDeleter::operator()(_fluid_synth_t* s) const {
  delete_fluid_synth(s);
}
void SynthBackend::FluidDeleter::operator()(_fluid_player_t* p) const {
  delete_fluid_player(p);
}

SynthBackend::SynthBackend(std::filesystem::path data_dir, std::unique_ptr<PcmSink> sink,
                           Clock clock, SynthRenderLimits limits)
    : data_dir_(std::move(data_dir)),
      sink_(std::move(sink)),
      clock_(std::move(clock)),
      limits_(limits) {}

SynthBackend::~SynthBackend() {
  stop_sequencer();
}

std::variant<std::unique_ptr<SynthBackend>, std::string> SynthBackend::create(
    const std::filesystem::path& data_dir, const std::filesystem::path& soundfont_path,
    std::unique_ptr<PcmSink> sink, Clock clock, SynthRenderLimits limits) {
  const std::string path = soundfont_path.string();
  // The synthesizer opens the file itself, and would wait for ever on a pipe
  // or read a device without end: only a regular file of a sane size goes on.
  if (auto opened = open_regular_file(soundfont_path, kSoundFontFileCap, O_RDONLY);
      auto* failure = std::get_if<ReadFailure>(&opened)) {
    return path + ": " + failure->reason;
  }

  FluidCapture capture;
  std::unique_ptr<SynthBackend> backend(
      new SynthBackend(data_dir, std::move(sink), std::move(clock), limits));
  backend->settings_.reset(new_fluid_settings());
  fluid_settings_t* settings = backend->settings_.get();
  if (settings == nullptr) {
    return "could not start the synthesizer: " + capture.first("no settings");
  }
  fluid_settings_setnum(settings, "synth.sample-rate", 44100.0);
  fluid_settings_setint(settings, "synth.polyphony", 64);
  fluid_settings_setint(settings, "synth.reverb.active", 1);
  fluid_settings_setint(settings, "synth.chorus.active", 1);
  fluid_settings_setnum(settings, "synth.gain", kGain);
  backend->synth_.reset(new_fluid_synth(settings));
  if (!backend->synth_) {
    return "could not start the synthesizer: " + capture.first("new_fluid_synth failed");
  }
  if (fluid_synth_sfload(backend->synth_.get(), path.c_str(), 1) == FLUID_FAILED) {
    return path + ": " + capture.first("not a SoundFont 2 file");
  }
  return backend;
}

std::variant<std::vector<std::uint8_t>, std::string> SynthBackend::player_song(
    const MidiFile& file) {
  if (file.division.timecode) {
    return std::string("timecode division, which the SoundFont player lacks");
  }
  if (std::optional<std::string> refusal = song_refusal(file, merge_tracks(file))) {
    return std::move(*refusal);
  }
  // The player counts ticks in an int: a song must end well before it wraps.
  for (const MidiTrack& t : file.tracks) {
    if (t.end_tick > kPlayerMaxTicks) {
      return "longer than " + std::to_string(kPlayerMaxTicks) + " ticks";
    }
  }
  return std::move(*write_plain_midi(file, kPlayerMaxTracks));
}

std::int32_t SynthBackend::load_file(std::string_view file_name) {
  const std::filesystem::path path = data_dir_ / std::filesystem::path(file_name);
  auto read = read_file(path, kSongFileCap);
  if (auto* failure = std::get_if<ReadFailure>(&read)) {
    // A missing song is no news: the game checks for it first.
    if (!failure->missing) {
      std::cerr << "midi: could not read " << path.string() << " (" << failure->reason << ")\n";
    }
    return 0;
  }
  // FluidSynth's reader refuses much that ours takes, and its looping player
  // then retries the file inside one render call for ever; it is handed the
  // song as we read it, in the plain form it reads.
  const MidiParseResult parsed = parse_midi_file(std::get<std::vector<std::uint8_t>>(read));
  std::variant<std::vector<std::uint8_t>, std::string> song =
      parsed ? player_song(*parsed.file) : std::string(midi_error_text(parsed.error));
  if (const auto* refusal = std::get_if<std::string>(&song)) {
    std::cerr << "midi: could not load " << path.string() << " (" << *refusal << ")\n";
    return 0;
  }
  ++next_handle_;
  songs_[next_handle_] =
      std::make_shared<const std::vector<std::uint8_t>>(std::move(std::get<0>(song)));
  loop_restores_[next_handle_] = loop_restore(*parsed.file);
  return next_handle_;
}

std::int32_t SynthBackend::play(std::int32_t handle, bool repeat) {
  if (songs_.empty()) return 1;
  const auto it = songs_.find(handle);
  if (it == songs_.end()) return 1;
  stop_sequencer();
  FluidCapture capture;
  // Every pass of every song starts from a reset synthesizer and the song's
  // own events at tick 0. The player would reset it again at each loop point
  // and so cut the notes and the reverb still ringing there: where the song
  // allows, the loop point sets the start state again instead.
  fluid_synth_system_reset(synth_.get());
  restore_ = loop_restores_[handle];
  fluid_settings_setint(settings_.get(), "player.reset-synth", restore_ ? 0 : 1);
  player_.reset(new_fluid_player(synth_.get()));
  if (!player_) return 1;
  const std::vector<std::uint8_t>& bytes = *it->second;
  if (fluid_player_add_mem(player_.get(), bytes.data(), bytes.size()) != FLUID_OK) {
    player_.reset();
    return 1;
  }
  if (restore_ && !restore_->empty()) {
    event_tick_ = player_tick_ = 0;
    restored_ = false;
    fluid_player_set_playback_callback(player_.get(), on_song_event, this);
    fluid_player_set_tick_callback(player_.get(), on_song_tick, this);
  }
  // -1 loops for ever; 1 plays once. The loop starts again at tick 0.
  fluid_player_set_loop(player_.get(), repeat ? -1 : 1);
  if (fluid_player_play(player_.get()) != FLUID_OK) {
    player_.reset();
    return 1;
  }
  return 0;
}

// A new pass shows as a tick lower than the one before. Its first event
// usually comes before the player reports its first tick, so the events see
// it first; the ticks catch a pass whose first event comes later.
int SynthBackend::on_song_event(void* data, fluid_midi_event_t* event) {
  auto* self = static_cast<SynthBackend*>(data);
  const int tick = fluid_player_get_current_tick(self->player_.get());
  if (tick < self->event_tick_) {
    self->restore_start_state();
    self->restored_ = true;
  }
  self->event_tick_ = tick;
  return fluid_synth_handle_midi_event(self->synth_.get(), event);
}

int SynthBackend::on_song_tick(void* data, int tick) {
  auto* self = static_cast<SynthBackend*>(data);
  if (tick < self->player_tick_) {
    if (!self->restored_) self->restore_start_state();
    self->restored_ = false;
  }
  self->player_tick_ = tick;
  return FLUID_OK;
}

void SynthBackend::restore_start_state() {
  fluid_synth_t* synth = synth_.get();
  for (const ChannelMessage& m : *restore_) {
    const int channel = m.status & 0x0F;
    switch (m.status & 0xF0) {
      case 0x80:
        fluid_synth_noteoff(synth, channel, m.data1);
        break;
      case 0xB0:
        fluid_synth_cc(synth, channel, m.data1, m.data2);
        break;
      case 0xC0:
        fluid_synth_program_change(synth, channel, m.data1);
        break;
      case 0xD0:
        fluid_synth_channel_pressure(synth, channel, m.data1);
        break;
      case 0xE0:
        fluid_synth_pitch_bend(synth, channel, m.data1 | m.data2 << 7);
        break;
      default:
        break;
    }
  }
}

void SynthBackend::stop_sequencer() {
  if (!player_) return;
  FluidCapture capture;
  fluid_player_stop(player_.get());
  fluid_synth_all_sounds_off(synth_.get(), -1);
  player_.reset();
}

void SynthBackend::stop() {
  fade_.reset();
  fade_out_flag_ = false;
  stop_sequencer();
}

void SynthBackend::set_volume(std::int32_t, std::int32_t volume) {
  if (fade_) return;
  volume_ = std::clamp(volume, 0, 100);
}

void SynthBackend::fade_in(std::int32_t, std::int32_t seconds) {
  if (seconds <= 0) return;
  volume_ = 0;
  const auto s = static_cast<std::uint64_t>(seconds);
  fade_ =
      Fade{clock_(), s * 1000, s * kStepSamplesPerSecond, s * kStepSamplesPerSecond, 0, +5, false};
  fade_out_flag_ = false;
}

void SynthBackend::fade_out(std::int32_t, std::int32_t seconds) {
  if (seconds <= 0) {
    stop();
    return;
  }
  const auto s = static_cast<std::uint64_t>(seconds);
  fade_ = Fade{clock_(), s * 1000, s * kStepSamplesPerSecond, s * kStepSamplesPerSecond, volume_,
               -5,       true};
  fade_out_flag_ = true;
}

void SynthBackend::overdue_check() {
  if (!fade_) return;
  const auto elapsed = clock_() - fade_->start;
  if (elapsed < std::chrono::milliseconds(fade_->length_ms) + kOverdueGrace) return;
  const bool falling = fade_->step < 0;
  const bool stop_song = fade_->stop_at_end && falling;
  volume_ = falling ? 0 : 100;
  fade_out_flag_ = false;
  fade_.reset();
  if (stop_song) stop_sequencer();
}

bool SynthBackend::fade_out_active() {
  overdue_check();
  return fade_out_flag_;
}

void SynthBackend::advance_fade(std::uint64_t n) {
  Fade& f = *fade_;
  if (f.remaining > n) {
    f.remaining -= n;
    return;
  }
  std::uint64_t d = n - f.remaining;
  for (;;) {
    f.level = std::clamp(f.level + f.step, 0, 100);
    volume_ = f.level;
    if (f.level == 0 || f.level == 100) {
      const bool stop_song = f.stop_at_end && f.level == 0;
      fade_out_flag_ = false;
      fade_.reset();
      if (stop_song) stop_sequencer();
      return;
    }
    if (d == 0) {
      f.remaining = f.step_samples;
      break;
    }
    if (d < f.step_samples) {
      f.remaining = f.step_samples - d;
      break;
    }
    d -= f.step_samples;
  }
  overdue_check();
}

void SynthBackend::pump() {
  const std::chrono::nanoseconds pump_start = thread_cpu_time();
  for (int block = 0; block < kMaxBlocksPerPump; ++block) {
    if (sink_->queued_frames() > kQueueLimitFrames) {
      overdue_check();
      return;
    }
    const std::int32_t a = std::clamp(volume_, 0, 100);
    if (fade_) advance_fade(kBlockFrames);
    const std::int32_t b = std::clamp(volume_, 0, 100);
    const std::chrono::nanoseconds cpu_before = thread_cpu_time();
    fluid_synth_write_float(synth_.get(), static_cast<int>(kBlockFrames), left_.data(), 0, 1,
                            right_.data(), 0, 1);
    // The song's bounds keep a block cheap; one that still costs too much (a
    // slow machine, a heavy SoundFont) gives the song up, once, rather than
    // freeze every game step.
    const bool unplayable = player_ && thread_cpu_time() - cpu_before > limits_.block;
    if (unplayable) stop_sequencer();
    const float g = square_gain(a);
    const float h = square_gain(b);
    for (std::uint32_t j = 0; j < kBlockFrames; ++j) {
      const float gain = g + (h - g) * static_cast<float>(j) / static_cast<float>(kBlockFrames);
      interleaved_[2 * j] = left_[j] * gain;
      interleaved_[2 * j + 1] = right_[j] * gain;
    }
    sink_->push(interleaved_);
    if (unplayable || thread_cpu_time() - pump_start >= limits_.pump) return;
  }
}

}  // namespace zt
