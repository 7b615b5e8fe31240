// Small fixtures for the sound tests: WAV and archive bytes, scratch
// directories, a recording PCM sink, a MIDI output that records what it is
// sent, a manual clock, and a capture of file descriptor 2.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "audio.h"
#include "bgm.h"
#include "midi.h"

namespace zt::test {

using Bytes = std::vector<std::uint8_t>;

// A 16-bit PCM WAV file of the given interleaved samples.
Bytes wav_file(std::span<const std::int16_t> samples, std::uint16_t channels, std::uint32_t rate);
// A mono clip of `frames` frames all at `value`.
Bytes constant_wav(std::int16_t value, std::uint32_t frames, std::uint32_t rate = 44100);

// A plain (not byte-pair encoded) archive of the members in order.
Bytes qda_file(const std::vector<std::pair<std::string, Bytes>>& members);

void write_bytes(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);

// A fresh directory, removed with everything in it when dropped.
class TempDir {
 public:
  TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir();
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Sets SDL_AUDIODRIVER (and, for "disk", SDL_DISKAUDIOFILE) and starts SDL audio.
std::optional<AudioSubsystem> start_audio(const char* driver, const char* disk_file = nullptr);

// Everything written to file descriptor 2 between construction and text().
class StderrCapture {
 public:
  StderrCapture();
  StderrCapture(const StderrCapture&) = delete;
  StderrCapture& operator=(const StderrCapture&) = delete;
  ~StderrCapture();
  std::string text();  // ends the capture

 private:
  int saved_ = -1;
  std::filesystem::path file_;
  bool done_ = false;
};

// Root mean square of interleaved stereo samples from frame `from` for `frames` frames.
double rms(std::span<const float> samples, std::size_t from, std::size_t frames);

// A sink that takes only as many frames as the test allows; past that it
// reports a full queue.
class FakeSink final : public PcmSink {
 public:
  std::vector<float> pushed;
  std::uint64_t allowed_frames = 0;
  bool unlimited = false;

  std::uint32_t queued_frames() override { return unlimited || allowed_frames > 0 ? 0 : 20000; }
  void push(std::span<const float> samples) override {
    pushed.insert(pushed.end(), samples.begin(), samples.end());
    const std::uint64_t frames = samples.size() / 2;
    allowed_frames = allowed_frames > frames ? allowed_frames - frames : 0;
  }
};

// A MIDI output that records every message; shared so a test keeps a view of
// it after the backend has taken it.
struct RecordedMidi {
  std::mutex mu;
  std::vector<std::string> ports;
  std::optional<std::string> connect_error;
  std::vector<Bytes> sent;
  std::optional<std::pair<std::size_t, std::string>> connected;
  int clients_made = 0;
  std::string client_name;

  std::vector<Bytes> take();
  std::vector<Bytes> snapshot();
};

class RecordingMidiOutput final : public MidiOutput {
 public:
  explicit RecordingMidiOutput(std::shared_ptr<RecordedMidi> rec) : rec_(std::move(rec)) {}
  std::vector<std::string> port_names() override;
  std::optional<std::string> connect(std::size_t index, std::string_view own_port) override;
  void send(std::span<const std::uint8_t> message) override;

 private:
  std::shared_ptr<RecordedMidi> rec_;
};

// A factory that makes RecordingMidiOutputs, or fails with `error`.
MidiOutputFactory recording_factory(std::shared_ptr<RecordedMidi> rec,
                                    std::optional<std::string> error = std::nullopt);

// Time moves only when told to, or by each sleep when sleeps_advance is set.
class ManualClock final : public SeqClock {
 public:
  time_point now() override;
  void sleep_for(std::chrono::microseconds d) override;
  void advance(std::chrono::microseconds d);
  std::vector<std::chrono::microseconds> sleeps();

  std::atomic<bool> sleeps_advance{false};

 private:
  std::mutex mu_;
  time_point now_{};
  std::vector<std::chrono::microseconds> sleeps_;
};

}  // namespace zt::test
