#include "midi.h"

#include <rtmidi/RtMidi.h>

#include <algorithm>
#include <iostream>
#include <sstream>

#include "alsa_quiet.h"
#include "audio.h"
#include "files.h"
#include "formats/ascii.h"
#include "formats/midifile.h"

namespace zt {

// ---- RtMidi over the ALSA sequencer ----

namespace {

class RtMidiOutput final : public MidiOutput {
 public:
  explicit RtMidiOutput(std::unique_ptr<RtMidiOut> out) : out_(std::move(out)) {
    // With a callback set, RtMidi neither prints nor throws.
    out_->setErrorCallback(&RtMidiOutput::on_error, this);
  }

  std::vector<std::string> port_names() override {
    std::vector<std::string> names;
    const unsigned int count = out_->getPortCount();
    for (unsigned int i = 0; i < count; ++i) names.push_back(out_->getPortName(i));
    return names;
  }

  std::optional<std::string> connect(std::size_t index, std::string_view own_port) override {
    error_.reset();
    out_->openPort(static_cast<unsigned int>(index), std::string(own_port));
    if (error_) return error_;
    if (!out_->isPortOpen()) return std::string("could not open the MIDI port");
    return std::nullopt;
  }

  void send(std::span<const std::uint8_t> message) override {
    out_->sendMessage(message.data(), message.size());
  }

 private:
  static void on_error(RtMidiError::Type type, const std::string& text, void* self) {
    if (type == RtMidiError::WARNING || type == RtMidiError::DEBUG_WARNING) return;
    static_cast<RtMidiOutput*>(self)->error_ = text;
  }

  std::unique_ptr<RtMidiOut> out_;
  std::optional<std::string> error_;
};

}  // namespace

std::variant<std::unique_ptr<MidiOutput>, std::string> open_rtmidi_output(
    std::string_view client_name) {
  alsa::keep_quiet();
  // RtMidi writes an error to std::cerr before it throws it; the text comes
  // back in the exception, so the copy on the stream is dropped.
  std::ostringstream swallowed;
  std::streambuf* old = std::cerr.rdbuf(swallowed.rdbuf());
  std::unique_ptr<RtMidiOut> out;
  std::string error;
  try {
    out = std::make_unique<RtMidiOut>(RtMidi::LINUX_ALSA, std::string(client_name));
  } catch (const RtMidiError& e) {
    error = e.getMessage();
  } catch (const std::exception& e) {
    error = e.what();
  }
  std::cerr.rdbuf(old);
  if (!out) return error.empty() ? std::string("could not create the MIDI client") : error;
  return std::make_unique<RtMidiOutput>(std::move(out));
}

// ---- Timeline ----

std::optional<SongTimeline> build_timeline(std::span<const std::uint8_t> file_bytes) {
  MidiParseResult parsed = parse_midi_file(file_bytes);
  if (!parsed) return std::nullopt;
  return build_timeline(*parsed.file);
}

SongTimeline build_timeline(const MidiFile& file) {
  // merge_tracks orders by tick, then track, then place in the track.
  return timed_channel_messages(file, merge_tracks(file), MidiTiming::kPerDelta);
}

bool timeline_advances(const SongTimeline& timeline) {
  return !timeline.empty() && timeline.back().micros > 0;
}

std::optional<std::string> timeline_refusal(const SongTimeline& timeline) {
  if (timeline.empty()) return std::string("no channel messages");
  if (!timeline_advances(timeline)) return std::string(kSongNeverAdvancesText);
  std::vector<std::uint64_t> micros;
  micros.reserve(timeline.size());
  for (const TimedMessage& m : timeline) micros.push_back(m.micros);
  // A pass ends with the last message, where the sequencer starts again.
  if (song_too_dense(micros, micros.back())) return song_too_dense_text();
  return std::nullopt;
}

// ---- Channel ----

// GCC 12 takes the moves of a command variant that holds a shared pointer for
// reads of uninitialised storage.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

bool MidiCmdChannel::send(MidiCmd cmd) {
  {
    std::lock_guard lock(mu_);
    if (receiver_closed_) return false;
    queue_.push_back(std::move(cmd));
  }
  cv_.notify_one();
  return true;
}

std::optional<MidiCmd> MidiCmdChannel::wait() {
  std::unique_lock lock(mu_);
  cv_.wait(lock, [&] { return !queue_.empty() || sender_closed_; });
  if (queue_.empty()) return std::nullopt;
  std::optional<MidiCmd> cmd(std::in_place, std::move(queue_.front()));
  queue_.pop_front();
  return cmd;
}

std::optional<MidiCmd> MidiCmdChannel::try_take(bool& closed) {
  std::lock_guard lock(mu_);
  closed = queue_.empty() && sender_closed_;
  if (queue_.empty()) return std::nullopt;
  std::optional<MidiCmd> cmd(std::in_place, std::move(queue_.front()));
  queue_.pop_front();
  return cmd;
}

void MidiCmdChannel::close_sender() {
  {
    std::lock_guard lock(mu_);
    sender_closed_ = true;
  }
  cv_.notify_all();
}

void MidiCmdChannel::close_receiver() {
  std::lock_guard lock(mu_);
  receiver_closed_ = true;
  queue_.clear();
}

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

// ---- Clock ----

void SteadySeqClock::sleep_for(std::chrono::microseconds d) {
  const auto deadline = std::chrono::steady_clock::now() + d;
  const auto coarse = deadline - std::chrono::microseconds(200);
  if (std::chrono::steady_clock::now() < coarse) std::this_thread::sleep_until(coarse);
  while (std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
}

// ---- Sequencer ----

void Sequencer::handle(const MidiCmd& cmd) {
  if (const auto* play = std::get_if<midi_cmd::Play>(&cmd)) {
    channels_.all_notes_off();
    channels_.reset_own_volumes();
    channels_.push_all();
    song_ = Song{clock_.now(), play->song, 0, play->repeat};
  } else if (std::holds_alternative<midi_cmd::Stop>(cmd)) {
    song_.reset();
    fade_.reset();
    fade_flag_ = false;
    channels_.all_notes_off();
  } else if (const auto* vol = std::get_if<midi_cmd::SetVolume>(&cmd)) {
    if (fade_) return;
    channels_.set_master(vol->volume);
  } else if (const auto* in = std::get_if<midi_cmd::FadeIn>(&cmd)) {
    channels_.set_master(0);
    fade_ = Fade{clock_.now(), MidiFade::in(in->length_ms), false};
    fade_flag_ = false;
  } else if (const auto* out = std::get_if<midi_cmd::FadeOut>(&cmd)) {
    fade_ = Fade{clock_.now(), MidiFade::out(out->length_ms, channels_.master()), true};
    fade_flag_ = true;
  }
}

void Sequencer::advance() {
  if (fade_) {
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(clock_.now() - fade_->start).count();
    const std::uint64_t ms = elapsed < 0 ? 0 : static_cast<std::uint64_t>(elapsed);
    const MidiFade::Outcome outcome = fade_->steps.advance(ms, channels_);
    if (outcome == MidiFade::Outcome::kFull) {
      fade_.reset();
      fade_flag_ = false;
    } else if (outcome == MidiFade::Outcome::kSilent) {
      const bool stop = fade_->stop_at_end;
      fade_.reset();
      fade_flag_ = false;
      if (stop) {
        song_.reset();
        channels_.all_notes_off();
      }
    }
  }
  if (song_) {
    const auto t =
        std::chrono::duration_cast<std::chrono::microseconds>(clock_.now() - song_->start).count();
    const std::uint64_t now_us = t < 0 ? 0 : static_cast<std::uint64_t>(t);
    const SongTimeline& tl = *song_->timeline;
    while (song_->position < tl.size() && tl[song_->position].micros <= now_us) {
      channels_.send_song_message(tl[song_->position]);
      ++song_->position;
    }
    if (song_->position >= tl.size()) {
      channels_.all_notes_off();
      if (song_->repeat) {
        channels_.reset_own_volumes();
        channels_.push_all();
        song_->position = 0;
        song_->start = clock_.now();
      } else {
        song_.reset();
      }
    }
  }
}

std::chrono::microseconds Sequencer::sleep_time() {
  std::chrono::microseconds sleep = fade_ ? kFadeSleep : kIdleSleep;
  if (song_ && song_->position < song_->timeline->size()) {
    const auto t =
        std::chrono::duration_cast<std::chrono::microseconds>(clock_.now() - song_->start).count();
    const std::uint64_t now_us = t < 0 ? 0 : static_cast<std::uint64_t>(t);
    const std::uint64_t due = (*song_->timeline)[song_->position].micros;
    const std::uint64_t until = due > now_us ? due - now_us : 0;
    if (until < static_cast<std::uint64_t>(sleep.count())) {
      sleep = std::max(std::chrono::microseconds(static_cast<std::int64_t>(until)), kMinSleep);
    }
  }
  return sleep;
}

void run_sequencer(MidiCmdChannel& channel, MidiOutput& out, std::atomic<bool>& fade_flag,
                   SeqClock& clock) {
  Sequencer seq(out, fade_flag, clock);
  seq.begin();
  for (;;) {
    if (!seq.busy()) {
      std::optional<MidiCmd> cmd = channel.wait();
      if (!cmd || std::holds_alternative<midi_cmd::Quit>(*cmd)) break;
      seq.handle(*cmd);
    }
    bool quit = false;
    for (;;) {
      bool closed = false;
      std::optional<MidiCmd> cmd = channel.try_take(closed);
      if (closed || (cmd && std::holds_alternative<midi_cmd::Quit>(*cmd))) {
        quit = true;
        break;
      }
      if (!cmd) break;
      seq.handle(*cmd);
    }
    if (quit) break;
    seq.advance();
    if (!seq.busy()) continue;
    clock.sleep_for(seq.sleep_time());
  }
  seq.end();
  channel.close_receiver();
}

// ---- MidiBackend ----

MidiBackend::MidiBackend(std::filesystem::path data_dir, std::string port_name,
                         MidiOutputFactory factory, std::shared_ptr<SeqClock> clock,
                         std::ostream* err)
    : data_dir_(std::move(data_dir)),
      port_name_(std::move(port_name)),
      factory_(std::move(factory)),
      clock_(clock ? std::move(clock) : std::make_shared<SteadySeqClock>()),
      err_(err != nullptr ? err : &std::cerr) {}

MidiBackend::~MidiBackend() {
  if (commands_) {
    commands_->send(midi_cmd::Quit{});
    commands_->close_sender();
  }
  if (thread_.joinable()) thread_.join();
}

std::int32_t MidiBackend::fail(const std::string& reason) {
  *err_ << "midi: no OS MIDI output port (" << reason << "); music disabled\n";
  port_failed_ = true;
  return 1;
}

std::int32_t MidiBackend::open(std::int32_t, std::int32_t) {
  if (port_failed_) return 1;
  if (port_open_) return 0;
  auto made = factory_(kMidiClientName);
  if (auto* error = std::get_if<std::string>(&made)) return fail(*error);
  std::unique_ptr<MidiOutput> out = std::move(std::get<0>(made));
  const std::vector<std::string> names = out->port_names();
  if (names.empty()) return fail("no MIDI output ports available");
  const std::string wanted = ascii_lower(port_name_);
  std::optional<std::size_t> index;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (ascii_lower(names[i]).find(wanted) != std::string::npos) {
      index = i;
      break;
    }
  }
  if (!index) {
    std::string have;
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (i > 0) have += ", ";
      have += names[i];
    }
    return fail("--midi-port=" + port_name_ + " matched no MIDI port (have: " + have + ")");
  }
  if (std::optional<std::string> error = out->connect(*index, kMidiClientName)) return fail(*error);

  commands_ = std::make_shared<MidiCmdChannel>();
  thread_ =
      std::thread([channel = commands_, out = std::move(out), flag = fade_flag_,
                   clock = clock_]() mutable { run_sequencer(*channel, *out, *flag, *clock); });
  port_open_ = true;
  return 0;
}

void MidiBackend::send(MidiCmd cmd) {
  if (commands_) commands_->send(std::move(cmd));
}

void MidiBackend::stop() {
  *fade_flag_ = false;
  send(midi_cmd::Stop{});
}

std::int32_t MidiBackend::play(std::int32_t handle, bool repeat) {
  if (port_failed_ || songs_.empty()) return 1;
  const auto it = songs_.find(handle);
  if (it == songs_.end()) return 1;
  *fade_flag_ = false;
  send(midi_cmd::Play{repeat, it->second});
  return 0;
}

void MidiBackend::fade_in(std::int32_t, std::int32_t seconds) {
  if (port_failed_ || !commands_) return;
  send(midi_cmd::FadeIn{static_cast<std::uint64_t>(std::max(seconds, 0)) * 1000});
}

void MidiBackend::fade_out(std::int32_t, std::int32_t seconds) {
  if (port_failed_ || !commands_) return;
  if (seconds <= 0) {
    *fade_flag_ = false;
    send(midi_cmd::Stop{});
    return;
  }
  *fade_flag_ = true;
  send(midi_cmd::FadeOut{static_cast<std::uint64_t>(seconds) * 1000});
}

void MidiBackend::set_volume(std::int32_t, std::int32_t volume) {
  *fade_flag_ = false;
  send(midi_cmd::SetVolume{static_cast<std::uint8_t>(std::clamp(volume, 0, 100))});
}

std::int32_t MidiBackend::load_file(std::string_view file_name) {
  if (port_failed_) return 0;
  const std::filesystem::path path = data_dir_ / std::filesystem::path(file_name);
  auto read = read_file(path, kSongFileCap);
  if (const auto* failure = std::get_if<ReadFailure>(&read)) {
    // A missing song is no news: the game checks for it first.
    if (!failure->missing) {
      *err_ << "midi: could not read " << path.string() << " (" << failure->reason << ")\n";
    }
    return 0;
  }
  const MidiParseResult parsed = parse_midi_file(std::get<std::vector<std::uint8_t>>(read));
  std::optional<std::string> refusal;
  SongTimeline timeline;
  if (!parsed) {
    refusal = midi_error_text(parsed.error);
  } else {
    timeline = build_timeline(*parsed.file);
    refusal = timeline_refusal(timeline);
  }
  if (refusal) {
    *err_ << "midi: could not load " << path.string() << " (" << *refusal << ")\n";
    return 0;
  }
  ++next_handle_;
  songs_[next_handle_] = std::make_shared<const SongTimeline>(std::move(timeline));
  return next_handle_;
}

}  // namespace zt
