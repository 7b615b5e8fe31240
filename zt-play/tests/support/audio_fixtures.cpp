#include "audio_fixtures.h"

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

namespace zt::test {

namespace {

void put_u16(Bytes& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void put_u32(Bytes& out, std::uint32_t v) {
  put_u16(out, v & 0xFFFF);
  put_u16(out, v >> 16);
}
void put_text(Bytes& out, std::string_view s) {
  out.insert(out.end(), s.begin(), s.end());
}

}  // namespace

Bytes wav_file(std::span<const std::int16_t> samples, std::uint16_t channels, std::uint32_t rate) {
  const auto data_bytes = static_cast<std::uint32_t>(samples.size() * 2);
  Bytes out;
  put_text(out, "RIFF");
  put_u32(out, 36 + data_bytes);
  put_text(out, "WAVEfmt ");
  put_u32(out, 16);
  put_u16(out, 1);
  put_u16(out, channels);
  put_u32(out, rate);
  put_u32(out, rate * channels * 2);
  put_u16(out, channels * 2);
  put_u16(out, 16);
  put_text(out, "data");
  put_u32(out, data_bytes);
  for (std::int16_t s : samples) put_u16(out, static_cast<std::uint16_t>(s));
  return out;
}

Bytes constant_wav(std::int16_t value, std::uint32_t frames, std::uint32_t rate) {
  const std::vector<std::int16_t> samples(frames, value);
  return wav_file(samples, 1, rate);
}

Bytes qda_file(const std::vector<std::pair<std::string, Bytes>>& members) {
  Bytes out(256, 0);
  out[4] = 'Q';
  out[5] = 'D';
  out[6] = 'A';
  out[7] = '0';
  const auto count = static_cast<std::uint32_t>(members.size());
  for (int i = 0; i < 4; ++i) out[8 + i] = static_cast<std::uint8_t>(count >> (8 * i));
  std::uint32_t offset = 256 + 268 * count;
  for (const auto& [name, data] : members) {
    put_u32(out, offset);
    put_u32(out, static_cast<std::uint32_t>(data.size()));
    put_u32(out, 0);
    Bytes raw(256, 0);
    std::copy(name.begin(), name.end(), raw.begin());
    out.insert(out.end(), raw.begin(), raw.end());
    offset += static_cast<std::uint32_t>(data.size());
  }
  for (const auto& member : members)
    out.insert(out.end(), member.second.begin(), member.second.end());
  return out;
}

void write_bytes(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

TempDir::TempDir() {
  std::random_device rd;
  for (;;) {
    path_ = std::filesystem::temp_directory_path() / ("zt-play-test-" + std::to_string(rd()));
    if (std::filesystem::create_directory(path_)) break;
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::optional<AudioSubsystem> start_audio(const char* driver, const char* disk_file) {
  setenv("SDL_AUDIODRIVER", driver, 1);
  if (disk_file != nullptr) setenv("SDL_DISKAUDIOFILE", disk_file, 1);
  auto started = AudioSubsystem::init();
  if (auto* audio = std::get_if<AudioSubsystem>(&started)) return std::move(*audio);
  return std::nullopt;
}

StderrCapture::StderrCapture() {
  char name[] = "/tmp/zt-stderr-XXXXXX";
  const int fd = mkstemp(name);
  file_ = name;
  std::fflush(stderr);
  saved_ = dup(2);
  dup2(fd, 2);
  close(fd);
}

StderrCapture::~StderrCapture() {
  text();
}

std::string StderrCapture::text() {
  if (done_) return {};
  done_ = true;
  std::fflush(stderr);
  dup2(saved_, 2);
  close(saved_);
  std::ifstream f(file_);
  std::stringstream s;
  s << f.rdbuf();
  std::filesystem::remove(file_);
  return s.str();
}

double rms(std::span<const float> samples, std::size_t from, std::size_t frames) {
  double sum = 0;
  std::size_t n = 0;
  for (std::size_t i = 2 * from; i < 2 * (from + frames) && i < samples.size(); ++i, ++n) {
    sum += static_cast<double>(samples[i]) * samples[i];
  }
  return n == 0 ? 0.0 : std::sqrt(sum / static_cast<double>(n));
}

std::vector<Bytes> RecordedMidi::take() {
  std::lock_guard lock(mu);
  return std::exchange(sent, {});
}

std::vector<Bytes> RecordedMidi::snapshot() {
  std::lock_guard lock(mu);
  return sent;
}

std::vector<std::string> RecordingMidiOutput::port_names() {
  std::lock_guard lock(rec_->mu);
  return rec_->ports;
}

std::optional<std::string> RecordingMidiOutput::connect(std::size_t index,
                                                        std::string_view own_port) {
  std::lock_guard lock(rec_->mu);
  if (rec_->connect_error) return rec_->connect_error;
  rec_->connected = std::pair(index, std::string(own_port));
  return std::nullopt;
}

void RecordingMidiOutput::send(std::span<const std::uint8_t> message) {
  std::lock_guard lock(rec_->mu);
  rec_->sent.emplace_back(message.begin(), message.end());
}

MidiOutputFactory recording_factory(std::shared_ptr<RecordedMidi> rec,
                                    std::optional<std::string> error) {
  return [rec, error](
             std::string_view client) -> std::variant<std::unique_ptr<MidiOutput>, std::string> {
    {
      std::lock_guard lock(rec->mu);
      ++rec->clients_made;
      rec->client_name = std::string(client);
    }
    if (error) return *error;
    return std::make_unique<RecordingMidiOutput>(rec);
  };
}

SeqClock::time_point ManualClock::now() {
  std::lock_guard lock(mu_);
  return now_;
}

void ManualClock::sleep_for(std::chrono::microseconds d) {
  {
    std::lock_guard lock(mu_);
    sleeps_.push_back(d);
    if (sleeps_advance) now_ += d;
  }
  std::this_thread::yield();
}

void ManualClock::advance(std::chrono::microseconds d) {
  std::lock_guard lock(mu_);
  now_ += d;
}

std::vector<std::chrono::microseconds> ManualClock::sleeps() {
  std::lock_guard lock(mu_);
  return sleeps_;
}

}  // namespace zt::test
