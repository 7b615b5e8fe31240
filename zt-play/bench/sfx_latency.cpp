// How soon a sound effect is mixed: the time from SfxBackend::play to the
// start of the audio callback that mixes the effect's first sample, over many
// effects started from a loop shaped like the game's (25 ms steps, sleeps of
// at most 2 ms, the SoundFont music rendered every step). Also how long play
// itself takes, the device's period, the gaps between callbacks, the audio
// thread's processor time and the lowest level of the music queue.
//
//   zt-sfx-latency DATA_DIR [--effects=N] [--soundfont=PATH] [--busy=N]
//
// DATA_DIR gives the music ("title.mid") and the lengths of the effects: the
// game's seven names are played from an archive made here, each as long as
// the data directory's clip of that name, of a constant level for its first
// 30 ms and silent after, so that the first loud callback after a play is the
// one that mixed it while the voices stay as busy as in the game. The music
// plays at volume 0: it costs what it always costs and adds nothing to the
// output. --busy=N keeps N threads spinning meanwhile. SDL_AUDIODRIVER
// chooses the driver, "dummy" when unset.
//
// The callback is observed by wrapping SDL_OpenAudioDevice: this program's
// own definition takes the calls of the audio layer and passes them on to
// SDL's with a callback that times the real one.
#include <SDL.h>
#include <dlfcn.h>
#include <time.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "audio.h"
#include "bgm.h"
#include "formats/qda.h"
#include "qda_writer.h"
#include "synth.h"

namespace {

std::int64_t now_ns() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return std::int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec;
}

std::int64_t thread_cpu_ns() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return std::int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec;
}

// One callback as the tap saw it.
struct Call {
  std::int64_t start_ns = 0;
  bool loud = false;
};

// The callback's record, read by the main thread: a ring that the audio
// thread fills and the main thread drains.
struct Tap {
  SDL_AudioCallback real = nullptr;
  void* user = nullptr;
  int period_frames = 0;
  int freq = 0;
  static constexpr std::size_t kRing = 1 << 16;
  std::array<Call, kRing> ring{};
  std::atomic<std::uint64_t> written{0};
  std::atomic<std::int64_t> first_cpu_ns{-1};
  std::atomic<std::int64_t> last_cpu_ns{0};
  std::atomic<std::int64_t> first_ns{0};
  std::atomic<std::int64_t> last_ns{0};
};
Tap g_tap;

void tap_callback(void*, Uint8* stream, int len) {
  const std::int64_t start = now_ns();
  g_tap.real(g_tap.user, stream, len);
  const auto* out = reinterpret_cast<const float*>(stream);
  const std::size_t n = static_cast<std::size_t>(len) / sizeof(float);
  bool loud = false;
  for (std::size_t i = 0; i < n && !loud; ++i) loud = std::fabs(out[i]) > 0.01f;
  const std::uint64_t w = g_tap.written.load(std::memory_order_relaxed);
  g_tap.ring[w % Tap::kRing] = Call{start, loud};
  g_tap.written.store(w + 1, std::memory_order_release);
  const std::int64_t cpu = thread_cpu_ns();
  std::int64_t expected = -1;
  if (g_tap.first_cpu_ns.compare_exchange_strong(expected, cpu)) g_tap.first_ns.store(start);
  g_tap.last_cpu_ns.store(cpu);
  g_tap.last_ns.store(start);
}

using OpenFn = SDL_AudioDeviceID (*)(const char*, int, const SDL_AudioSpec*, SDL_AudioSpec*, int);

}  // namespace

extern "C" SDL_AudioDeviceID SDL_OpenAudioDevice(const char* device, int iscapture,
                                                 const SDL_AudioSpec* desired,
                                                 SDL_AudioSpec* obtained, int allowed_changes) {
  static const OpenFn real = reinterpret_cast<OpenFn>(dlsym(RTLD_NEXT, "SDL_OpenAudioDevice"));
  SDL_AudioSpec want = *desired;
  g_tap.real = want.callback;
  g_tap.user = want.userdata;
  want.callback = tap_callback;
  want.userdata = nullptr;
  SDL_AudioSpec have{};
  const SDL_AudioDeviceID id = real(device, iscapture, &want, &have, allowed_changes);
  if (obtained != nullptr) *obtained = have;
  // Without SDL_AUDIO_ALLOW_SAMPLES_CHANGE the callback gets the size asked for.
  g_tap.period_frames =
      (allowed_changes & SDL_AUDIO_ALLOW_SAMPLES_CHANGE) ? have.samples : want.samples;
  g_tap.freq = have.freq;
  return id;
}

namespace {

namespace fs = std::filesystem;

constexpr const char* kEffects[] = {"gravitychange", "explosion1", "bound",   "select",
                                    "cutwarn",       "destroy0",   "destroy1"};

// A 16-bit mono WAV file at 22050 Hz, the game's own format: `loud` frames at
// one level, the rest of `frames` silent.
std::vector<std::uint8_t> marker_wav(std::int16_t level, std::uint32_t loud, std::uint32_t frames) {
  std::vector<std::uint8_t> out;
  const auto put = [&](std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  const auto tag = [&](const char* t) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(t[i]));
  };
  const std::uint32_t data = frames * 2;
  out.reserve(44 + data);
  tag("RIFF");
  put(36 + data, 4);
  tag("WAVE");
  tag("fmt ");
  put(16, 4);
  put(1, 2);
  put(1, 2);
  put(22050, 4);
  put(44100, 4);
  put(2, 2);
  put(16, 2);
  tag("data");
  put(data, 4);
  for (std::uint32_t i = 0; i < frames; ++i)
    put(i < loud ? static_cast<std::uint16_t>(level) : 0, 2);
  return out;
}

// The music sink of the program, watched for a queue that runs dry.
class WatchedSink final : public zt::PcmSink {
 public:
  explicit WatchedSink(std::unique_ptr<zt::StreamSink> sink) : sink_(std::move(sink)) {}
  // The next query is the level the queue fell to since the last pump.
  void before_pump(bool counts) { counts_ = counts; }
  std::uint32_t queued_frames() override {
    const std::uint32_t q = sink_->queued_frames();
    if (counts_) {
      lowest = std::min(lowest, q);
      if (q == 0) ++dry;
    }
    counts_ = false;
    return q;
  }
  void push(std::span<const float> samples) override { sink_->push(samples); }
  std::uint32_t lowest = UINT32_MAX;
  std::uint64_t dry = 0;

 private:
  std::unique_ptr<zt::StreamSink> sink_;
  bool counts_ = false;
};

// The length in seconds of each effect in the data directory's archive; 0.3 s
// for one that is missing.
std::vector<double> effect_seconds(const fs::path& data_dir) {
  std::vector<double> out(std::size(kEffects), 0.3);
  std::ifstream in(data_dir / "sounds.qda", std::ios::binary);
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
  const zt::QdaArchive archive = zt::QdaArchive::parse(std::move(bytes));
  for (std::size_t i = 0; i < std::size(kEffects); ++i) {
    const auto member = archive.load_member(std::string(kEffects[i]) + ".wav");
    if (!member) continue;
    SDL_RWops* rw = SDL_RWFromConstMem(member->data(), static_cast<int>(member->size()));
    SDL_AudioSpec spec{};
    Uint8* buf = nullptr;
    Uint32 len = 0;
    if (rw == nullptr || SDL_LoadWAV_RW(rw, 1, &spec, &buf, &len) == nullptr) continue;
    const int frame = SDL_AUDIO_BITSIZE(spec.format) / 8 * std::max<int>(spec.channels, 1);
    out[i] = static_cast<double>(len) / frame / spec.freq;
    SDL_FreeWAV(buf);
  }
  return out;
}

double percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const std::size_t i =
      static_cast<std::size_t>(std::lround(p * static_cast<double>(v.size() - 1)));
  return v[i];
}

struct Options {
  fs::path data_dir;
  int effects = 200;
  fs::path soundfont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
  int busy = 0;
};

std::optional<Options> parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.starts_with("--effects=")) {
      o.effects = std::atoi(a.c_str() + 10);
    } else if (a.starts_with("--soundfont=")) {
      o.soundfont = a.substr(12);
    } else if (a.starts_with("--busy=")) {
      o.busy = std::atoi(a.c_str() + 7);
    } else if (!a.starts_with("--") && o.data_dir.empty()) {
      o.data_dir = a;
    } else {
      return std::nullopt;
    }
  }
  if (o.data_dir.empty() || o.effects <= 0) return std::nullopt;
  return o;
}

}  // namespace

int main(int argc, char** argv) {
  const std::optional<Options> opts = parse(argc, argv);
  if (!opts) {
    std::cerr << "usage: zt-sfx-latency DATA_DIR [--effects=N] [--soundfont=PATH] [--busy=N]\n";
    return 2;
  }
  setenv("SDL_AUDIODRIVER", "dummy", 0);

  const fs::path work = fs::temp_directory_path() / ("zt-sfx-latency-" + std::to_string(getpid()));
  fs::create_directories(work);
  {
    std::vector<zt::tools::QdaMember> members;
    const std::vector<double> seconds = effect_seconds(opts->data_dir);
    for (std::size_t i = 0; i < std::size(kEffects); ++i) {
      const auto frames = static_cast<std::uint32_t>(std::max(seconds[i], 0.03) * 22050);
      members.push_back(
          {std::string(kEffects[i]) + ".wav", marker_wav(8192, 22050 * 30 / 1000, frames)});
      std::printf("%s %.0f ms, ", kEffects[i], seconds[i] * 1000);
    }
    std::printf("\n");
    const auto archive = zt::tools::write_qda(members, false);
    const auto& bytes = std::get<std::vector<std::uint8_t>>(archive);
    std::ofstream(work / "sounds.qda", std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }

  if (SDL_Init(0) != 0) {
    std::cerr << "SDL_Init: " << SDL_GetError() << "\n";
    return 1;
  }
  auto started = zt::AudioSubsystem::init();
  if (auto* e = std::get_if<std::string>(&started)) {
    std::cerr << "no audio subsystem: " << *e << "\n";
    return 1;
  }
  std::optional<zt::AudioSubsystem> audio(std::move(std::get<zt::AudioSubsystem>(started)));

  std::ostringstream sfx_err;
  auto sfx = std::make_unique<zt::SfxBackend>(audio, work, sfx_err);
  fs::remove_all(work);
  if (!sfx->has_device() || sfx->clips().size() != 7) {
    std::cerr << "the effects did not load: " << sfx_err.str();
    return 1;
  }

  // The music, as open_synth makes it, on a watched sink.
  WatchedSink* watched = nullptr;
  std::unique_ptr<zt::SynthBackend> music;
  {
    auto device = std::get<zt::AudioDevice>(zt::AudioDevice::open_playback(*audio, zt::kMixSpec));
    auto stream = std::get<zt::AudioStream>(zt::AudioStream::create(*audio, zt::kMixSpec));
    if (!stream.bind(device) || !stream.resume_device()) {
      std::cerr << "the music stream did not start\n";
      return 1;
    }
    auto sink = std::make_unique<WatchedSink>(
        std::make_unique<zt::StreamSink>(std::move(device), std::move(stream)));
    watched = sink.get();
    auto made = zt::SynthBackend::create(opts->data_dir, opts->soundfont, std::move(sink));
    if (auto* e = std::get_if<std::string>(&made)) {
      std::cerr << "no music: " << *e << "\n";
      return 1;
    }
    music = std::move(std::get<std::unique_ptr<zt::SynthBackend>>(made));
    const std::int32_t song = music->load_file("title.mid");
    if (song == 0 || music->play(song, true) != 0) {
      std::cerr << "the song did not load from " << opts->data_dir << "\n";
      return 1;
    }
    music->set_volume(song, 0);
  }

  std::atomic<bool> stop{false};
  std::vector<std::thread> busy;
  for (int i = 0; i < opts->busy; ++i) {
    busy.emplace_back([&stop] {
      std::uint64_t x = 1;
      while (!stop.load(std::memory_order_relaxed)) x = x * 6364136223846793005ULL + 1;
      if (x == 42) std::puts("");
    });
  }

  std::vector<double> latency_ms;
  std::vector<double> play_us;
  std::vector<std::int64_t> call_starts;
  std::uint64_t read = 0;
  std::int64_t pending = -1;  // when the effect waiting to be heard was played; -1: none
  bool last_loud = false;
  std::mt19937 rng(24);
  std::uniform_int_distribution<int> pick(0, 6);

  // Warm up: the first second fills the music queue and starts the device.
  const std::int64_t begin = now_ns();
  std::int64_t next_step = begin;
  int step = 0;
  const auto drain = [&] {
    const std::uint64_t w = g_tap.written.load(std::memory_order_acquire);
    for (; read < w; ++read) {
      const Call c = g_tap.ring[read % Tap::kRing];
      call_starts.push_back(c.start_ns);
      if (pending >= 0 && c.loud && !last_loud && c.start_ns >= pending) {
        latency_ms.push_back(static_cast<double>(c.start_ns - pending) / 1e6);
        pending = -1;
      }
      last_loud = c.loud;
    }
  };
  while (static_cast<int>(latency_ms.size()) < opts->effects) {
    drain();
    const std::int64_t now = now_ns();
    if (now >= next_step) {
      const bool warm = now - begin > 1'000'000'000;
      watched->before_pump(warm);
      music->pump();
      ++step;
      // An effect every third step once warm, when the last one was heard and has ended.
      if (warm && step % 3 == 0 && pending < 0 && !last_loud) {
        const std::int64_t t0 = now_ns();
        sfx->play(kEffects[pick(rng)], 5);
        const std::int64_t t1 = now_ns();
        play_us.push_back(static_cast<double>(t1 - t0) / 1e3);
        pending = t0;
      } else if (pending >= 0 && now - pending > 500'000'000) {
        std::cerr << "an effect was never heard\n";
        return 1;
      }
      next_step += 25'000'000;
      if (next_step < now) next_step = now;
    }
    const std::int64_t wake = std::min(next_step, now_ns() + 2'000'000);
    const std::int64_t left = wake - now_ns();
    if (left > 0) std::this_thread::sleep_for(std::chrono::nanoseconds(left));
  }
  const std::int64_t end = now_ns();
  stop = true;
  for (std::thread& t : busy) t.join();

  double longest_gap_ms = 0;
  int late = 0;
  const double period_ms = 1000.0 * g_tap.period_frames / std::max(g_tap.freq, 1);
  for (std::size_t i = 1; i < call_starts.size(); ++i) {
    const double gap = static_cast<double>(call_starts[i] - call_starts[i - 1]) / 1e6;
    longest_gap_ms = std::max(longest_gap_ms, gap);
    // A device that holds two periods runs dry when a callback is that late.
    if (gap > 2 * period_ms) ++late;
  }
  const double cpu = static_cast<double>(g_tap.last_cpu_ns - g_tap.first_cpu_ns) /
                     static_cast<double>(std::max<std::int64_t>(g_tap.last_ns - g_tap.first_ns, 1));

  const char* driver = SDL_GetCurrentAudioDriver();
  std::printf("driver %s, period %d frames (%.1f ms), %d busy threads, %.1f s\n",
              driver != nullptr ? driver : "?", g_tap.period_frames, period_ms, opts->busy,
              static_cast<double>(end - begin) / 1e9);
  std::printf(
      "play to first mixed sample over %zu effects: median %.2f ms, p90 %.2f ms, max %.2f ms\n",
      latency_ms.size(), percentile(latency_ms, 0.5), percentile(latency_ms, 0.9),
      percentile(latency_ms, 1.0));
  std::printf("play call: median %.1f us, p90 %.1f us, max %.1f us\n", percentile(play_us, 0.5),
              percentile(play_us, 0.9), percentile(play_us, 1.0));
  std::printf("callbacks: %zu, longest gap %.2f ms, gaps over two periods %d\n", call_starts.size(),
              longest_gap_ms, late);
  std::printf("audio thread: %.2f%% of one core\n", 100.0 * cpu);
  std::printf("music queue: lowest %u frames, ran dry %llu times\n", watched->lowest,
              static_cast<unsigned long long>(watched->dry));
  music.reset();
  sfx.reset();
  audio.reset();
  SDL_Quit();
  return 0;
}
