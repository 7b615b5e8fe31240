// Music on an outside synthesizer: each song becomes a timeline of raw MIDI
// messages that a sequencer thread of its own sends to a MIDI output port at
// their times. The main thread only sends commands over a channel and reads
// one shared flag that tells whether a fade-out runs. Volume and fades scale
// every channel's volume controller with a master volume.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <variant>
#include <vector>

#include "formats/midi_sequence.h"
#include "game/glue.h"

namespace zt {

// A client of the MIDI output library over the ALSA sequencer.
class MidiOutput {
 public:
  virtual ~MidiOutput() = default;
  // The output ports in the library's order; a name that cannot be read is empty.
  virtual std::vector<std::string> port_names() = 0;
  // Connects to a port, naming our own port; the library's error text on failure.
  virtual std::optional<std::string> connect(std::size_t index, std::string_view own_port) = 0;
  // Errors are the library's business; the caller goes on.
  virtual void send(std::span<const std::uint8_t> message) = 0;
};

// Makes a client of that name, or gives the library's error text.
using MidiOutputFactory = std::function<std::variant<std::unique_ptr<MidiOutput>, std::string>(
    std::string_view client_name)>;

// The real one: RtMidi over the ALSA sequencer. The libraries' own printing
// to standard error is kept quiet; their texts come back as values.
std::variant<std::unique_ptr<MidiOutput>, std::string> open_rtmidi_output(
    std::string_view client_name);

inline constexpr std::string_view kMidiClientName = "Zentropolium";

using SongTimeline = std::vector<TimedMessage>;

class MidiFile;

// The song's channel messages in playing order; nothing when the bytes are not
// a Standard MIDI File.
std::optional<SongTimeline> build_timeline(std::span<const std::uint8_t> file_bytes);
SongTimeline build_timeline(const MidiFile& file);

// Whether some message comes after the song's start. The sequencer repeats a
// song from its last message, so it would start one whose messages all fall
// at time 0 again and again without pause: load_file refuses it.
bool timeline_advances(const SongTimeline& timeline);

// Why load_file refuses the timeline: no messages, none after the start, or
// too many at once on repeat (the song's bounds). Nothing when it plays.
std::optional<std::string> timeline_refusal(const SongTimeline& timeline);

namespace midi_cmd {
struct Play {
  bool repeat = false;
  std::shared_ptr<const SongTimeline> song;
};
struct Stop {};
struct SetVolume {
  std::uint8_t volume = 100;
};
struct FadeIn {
  std::uint64_t length_ms = 0;
};
struct FadeOut {
  std::uint64_t length_ms = 0;
};
struct Quit {};
}  // namespace midi_cmd

using MidiCmd = std::variant<midi_cmd::Play, midi_cmd::Stop, midi_cmd::SetVolume, midi_cmd::FadeIn,
                             midi_cmd::FadeOut, midi_cmd::Quit>;

// Unbounded, first in first out, one sender and one receiver.
class MidiCmdChannel {
 public:
  // False when the receiver has gone.
  bool send(MidiCmd cmd);
  // Blocks; nothing once the sender has gone and the queue is empty.
  std::optional<MidiCmd> wait();
  // Nothing when no command waits; closed tells whether the sender has gone.
  std::optional<MidiCmd> try_take(bool& closed);
  void close_sender();
  void close_receiver();

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<MidiCmd> queue_;
  bool sender_closed_ = false;
  bool receiver_closed_ = false;
};

// The sequencer's sense of time, replaceable by a manual clock in tests.
class SeqClock {
 public:
  using time_point = std::chrono::steady_clock::time_point;
  virtual ~SeqClock() = default;
  virtual time_point now() = 0;
  virtual void sleep_for(std::chrono::microseconds d) = 0;
};

// The steady clock, with a sleep that spins through its last 200 us.
class SteadySeqClock final : public SeqClock {
 public:
  time_point now() override { return std::chrono::steady_clock::now(); }
  void sleep_for(std::chrono::microseconds d) override;
};

// All playing state of the sequencer thread. The thread drives it; tests
// drive it by hand.
class Sequencer {
 public:
  static constexpr std::chrono::microseconds kIdleSleep{15000};
  static constexpr std::chrono::microseconds kFadeSleep{4000};
  static constexpr std::chrono::microseconds kMinSleep{200};

  Sequencer(MidiOutput& out, std::atomic<bool>& fade_flag, SeqClock& clock)
      : channels_([&out](std::span<const std::uint8_t> m) { out.send(m); }),
        fade_flag_(fade_flag),
        clock_(clock) {}

  void begin() { channels_.push_all(); }  // controller 7 = 100 on every channel
  void handle(const MidiCmd& cmd);        // every command but Quit
  void advance();                         // the fade, then the song's due messages
  bool busy() const { return song_.has_value() || fade_.has_value(); }
  std::chrono::microseconds sleep_time();
  void end() { channels_.all_notes_off(); }

  std::uint8_t master() const { return static_cast<std::uint8_t>(channels_.master()); }
  bool playing() const { return song_.has_value(); }
  bool fading() const { return fade_.has_value(); }

 private:
  struct Song {
    SeqClock::time_point start;
    std::shared_ptr<const SongTimeline> timeline;
    std::size_t position = 0;
    bool repeat = false;
  };
  struct Fade {
    SeqClock::time_point start;
    MidiFade steps;
    bool stop_at_end = false;
  };

  MidiChannels channels_;
  std::atomic<bool>& fade_flag_;
  SeqClock& clock_;
  std::optional<Song> song_;
  std::optional<Fade> fade_;
};

// The thread's loop until Quit or a closed channel; its last act is all notes off.
void run_sequencer(MidiCmdChannel& channel, MidiOutput& out, std::atomic<bool>& fade_flag,
                   SeqClock& clock);

class MidiBackend final : public BgmBackend {
 public:
  // Opens nothing yet. err is standard error when null; clock is the steady one.
  MidiBackend(std::filesystem::path data_dir, std::string port_name,
              MidiOutputFactory factory = open_rtmidi_output,
              std::shared_ptr<SeqClock> clock = nullptr, std::ostream* err = nullptr);
  MidiBackend(const MidiBackend&) = delete;
  MidiBackend& operator=(const MidiBackend&) = delete;
  ~MidiBackend() override;

  std::int32_t open(std::int32_t a, std::int32_t b) override;
  void send_sysx(std::int32_t) override {}
  void stop() override;
  void init(std::int32_t) override {}
  std::int32_t play(std::int32_t handle, bool repeat) override;
  void fade_in(std::int32_t handle, std::int32_t seconds) override;
  void fade_out(std::int32_t handle, std::int32_t seconds) override;
  void set_volume(std::int32_t handle, std::int32_t volume) override;
  void set_repeat(std::int32_t, std::int32_t, std::int32_t) override {}
  bool fade_out_active() override { return fade_flag_->load(); }
  std::int32_t load_file(std::string_view file_name) override;
  void pump() override {}

  bool port_open() const { return port_open_; }
  bool port_failed() const { return port_failed_; }

 private:
  std::int32_t fail(const std::string& reason);
  void send(MidiCmd cmd);

  std::shared_ptr<MidiCmdChannel> commands_;  // present once open has succeeded
  std::filesystem::path data_dir_;
  std::string port_name_;
  std::shared_ptr<std::atomic<bool>> fade_flag_ = std::make_shared<std::atomic<bool>>(false);
  std::map<std::int32_t, std::shared_ptr<const SongTimeline>> songs_;
  std::thread thread_;
  std::int32_t next_handle_ = 0;
  bool port_open_ = false;
  bool port_failed_ = false;
  MidiOutputFactory factory_;
  std::shared_ptr<SeqClock> clock_;
  std::ostream* err_;
};

}  // namespace zt
