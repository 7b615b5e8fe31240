#include "midi.h"

#include <rtmidi/RtMidi.h>

#include <algorithm>
#include <iostream>
#include <limits>
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

namespace {

std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) {
  const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
  return a > max - b ? max : a + b;
}

std::uint64_t saturate(unsigned __int128 v) {
  const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
  return v > max ? max : static_cast<std::uint64_t>(v);
}

std::uint32_t timecode_rate_thousandths(std::uint8_t fps) {
  switch (fps) {
    case 24:
      return 24000;
    case 25:
      return 25000;
    case 29:
      return 29970;
    default:
      return 30000;
  }
}

}  // namespace

std::optional<SongTimeline> build_timeline(std::span<const std::uint8_t> file_bytes) {
  MidiParseResult parsed = parse_midi_file(file_bytes);
  if (!parsed) return std::nullopt;
  return build_timeline(*parsed.file);
}

SongTimeline build_timeline(const MidiFile& file) {
  const MidiDivision& div = file.division;
  const std::uint64_t ticks_per_quarter = std::max<std::uint16_t>(div.ticks_per_quarter, 1);
  std::uint64_t micros_per_tick = 0;
  if (div.timecode) {
    const std::uint64_t subframes = std::max<std::uint8_t>(div.ticks_per_frame, 1);
    micros_per_tick =
        1000000000ull / (subframes * timecode_rate_thousandths(div.frames_per_second));
  }

  // merge_tracks orders by tick, then track, then place in the track.
  const MidiTimeline merged = merge_tracks(file);
  SongTimeline out;
  std::uint64_t tempo = kDefaultTempo;
  std::uint64_t time = 0;
  std::uint64_t previous_tick = 0;
  for (const TimedEvent& te : merged.events) {
    const MidiEvent& e = te.event;
    const std::uint64_t ticks = e.tick - previous_tick;
    previous_tick = e.tick;
    if (div.timecode) {
      time =
          saturating_add(time, saturate(static_cast<unsigned __int128>(ticks) * micros_per_tick));
    } else {
      time = saturating_add(
          time, saturate(static_cast<unsigned __int128>(ticks) * tempo / ticks_per_quarter));
    }
    if (e.is_channel()) {
      TimedMessage m;
      m.micros = time;
      m.size = e.message_size();
      m.bytes = {e.status, e.data1, e.data2};
      if (m.size == 2) m.bytes[2] = 0;
      out.push_back(m);
    } else if (e.is_tempo()) {
      tempo = std::max<std::uint32_t>(e.tempo, 1);
    }
  }
  return out;
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

void Sequencer::push_channel(std::size_t c) {
  const std::uint32_t value =
      static_cast<std::uint32_t>(std::min<std::uint8_t>(channel_volume_[c], 127)) *
      std::min<std::uint8_t>(master_, 100) / 100;
  const auto v = static_cast<std::uint8_t>(value);
  if (sent_volume_[c] == v) return;
  const std::array<std::uint8_t, 3> msg{static_cast<std::uint8_t>(0xB0 + c), 7, v};
  send(msg);
  sent_volume_[c] = v;
}

void Sequencer::volume_push() {
  for (std::size_t c = 0; c < 16; ++c) push_channel(c);
}

void Sequencer::all_notes_off() {
  for (std::uint8_t c = 0; c < 16; ++c) {
    const std::array<std::uint8_t, 3> off{static_cast<std::uint8_t>(0xB0 + c), 120, 0};
    const std::array<std::uint8_t, 3> reset{static_cast<std::uint8_t>(0xB0 + c), 123, 0};
    send(off);
    send(reset);
  }
}

void Sequencer::handle(const MidiCmd& cmd) {
  if (const auto* play = std::get_if<midi_cmd::Play>(&cmd)) {
    all_notes_off();
    channel_volume_.fill(100);
    volume_push();
    song_ = Song{clock_.now(), play->song, 0, play->repeat};
  } else if (std::holds_alternative<midi_cmd::Stop>(cmd)) {
    song_.reset();
    fade_.reset();
    fade_flag_ = false;
    all_notes_off();
  } else if (const auto* vol = std::get_if<midi_cmd::SetVolume>(&cmd)) {
    if (fade_) return;
    master_ = std::min<std::uint8_t>(vol->volume, 100);
    volume_push();
  } else if (const auto* in = std::get_if<midi_cmd::FadeIn>(&cmd)) {
    master_ = 0;
    volume_push();
    fade_ = Fade{clock_.now(), std::max<std::uint64_t>(in->length_ms, 1), 0, +5, 0, false};
    fade_flag_ = false;
  } else if (const auto* out = std::get_if<midi_cmd::FadeOut>(&cmd)) {
    fade_ = Fade{clock_.now(), std::max<std::uint64_t>(out->length_ms, 1), master_, -5, 0, true};
    fade_flag_ = true;
  }
}

void Sequencer::send_message(const TimedMessage& m) {
  if (m.size == 3 && (m.bytes[0] & 0xF0) == 0xB0 && m.bytes[1] == 7) {
    const std::size_t c = m.bytes[0] & 0x0F;
    channel_volume_[c] = std::min<std::uint8_t>(m.bytes[2], 127);
    push_channel(c);
    return;
  }
  send(m.message());
}

void Sequencer::advance() {
  if (fade_) {
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(clock_.now() - fade_->start).count();
    const std::uint64_t ms = elapsed < 0 ? 0 : static_cast<std::uint64_t>(elapsed);
    const auto k =
        static_cast<std::int32_t>(std::min<std::uint64_t>(ms * 20 / fade_->length_ms, 20));
    if (k > fade_->applied) {
      fade_->applied = k;
      const std::int32_t level = std::clamp(fade_->level + k * fade_->step, 0, 100);
      master_ = static_cast<std::uint8_t>(level);
      volume_push();
      if (level == 100) {
        fade_.reset();
        fade_flag_ = false;
      } else if (level == 0) {
        const bool stop = fade_->stop_at_end;
        fade_.reset();
        fade_flag_ = false;
        if (stop) {
          song_.reset();
          all_notes_off();
        }
      }
    }
  }
  if (song_) {
    const auto t =
        std::chrono::duration_cast<std::chrono::microseconds>(clock_.now() - song_->start).count();
    const std::uint64_t now_us = t < 0 ? 0 : static_cast<std::uint64_t>(t);
    const SongTimeline& tl = *song_->timeline;
    while (song_->position < tl.size() && tl[song_->position].micros <= now_us) {
      send_message(tl[song_->position]);
      ++song_->position;
    }
    if (song_->position >= tl.size()) {
      all_notes_off();
      if (song_->repeat) {
        channel_volume_.fill(100);
        volume_push();
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
