#include "bgm.h"

#include <algorithm>
#include <iostream>
#include <system_error>

#include "formats/ascii.h"
#include "synth.h"

namespace zt {

namespace fs = std::filesystem;

// ---- StreamSink ----

StreamSink::~StreamSink() {
  stream_.reset();
  device_.reset();
}

std::uint32_t StreamSink::queued_frames() {
  const std::int32_t bytes = stream_->queued();
  if (bytes <= 0) return 0;
  return static_cast<std::uint32_t>(bytes) / static_cast<std::uint32_t>(kMixFrameBytes);
}

void StreamSink::push(std::span<const float> samples) {
  stream_->put(samples);
}

// ---- The choice ----

namespace {

// The part after the last dot of the name; a leading dot alone starts no extension.
bool has_sf2_extension(const fs::path& path) {
  const std::string name = path.filename().string();
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0) return false;
  return ascii_lower(std::string_view(name).substr(dot + 1)) == "sf2";
}

}  // namespace

std::vector<fs::path> resolve_soundfont(const fs::path& directory) {
  std::vector<fs::path> found;
  std::error_code ec;
  fs::directory_iterator it(directory, ec);
  if (ec) return found;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    const fs::path& path = it->path();
    std::error_code type_ec;
    if (!fs::is_regular_file(path, type_ec) || type_ec) continue;  // follows links
    if (has_sf2_extension(path)) found.push_back(path);
  }
  return found;
}

std::variant<std::unique_ptr<SynthBackend>, std::string> open_synth(
    const std::optional<AudioSubsystem>& audio, const fs::path& data_dir,
    const fs::path& soundfont_path) {
  if (!audio) return std::string("no audio subsystem");
  auto opened = AudioDevice::open_playback(*audio, kMixSpec);
  if (auto* error = std::get_if<std::string>(&opened)) {
    return "no audio output device: " + *error;
  }
  AudioDevice device = std::move(std::get<AudioDevice>(opened));
  auto made = AudioStream::create(*audio, kMixSpec);
  if (auto* error = std::get_if<std::string>(&made)) {
    return "could not create the bgm stream: " + *error;
  }
  AudioStream stream = std::move(std::get<AudioStream>(made));
  if (!stream.bind(device)) return std::string("could not bind the bgm stream: ") + SDL_GetError();
  if (!stream.resume_device()) {
    return std::string("could not start the bgm stream: ") + SDL_GetError();
  }
  auto sink = std::make_unique<StreamSink>(std::move(device), std::move(stream));
  return SynthBackend::create(data_dir, soundfont_path, std::move(sink));
}

std::unique_ptr<BgmBackend> create(const std::optional<AudioSubsystem>& audio,
                                   const fs::path& data_dir,
                                   const std::optional<fs::path>& soundfont,
                                   const std::optional<std::string>& midi_port,
                                   const BgmEnvironment& env) {
  std::ostream& err = env.err != nullptr ? *env.err : std::cerr;
  const auto use_synth = [&](const fs::path& path) -> std::unique_ptr<BgmBackend> {
    auto opened = open_synth(audio, data_dir, path);
    if (auto* backend = std::get_if<std::unique_ptr<SynthBackend>>(&opened)) {
      err << "midi: using soundfont " << path.string() << "\n";
      return std::move(*backend);
    }
    err << "midi: could not load " << path.string() << " (" << std::get<std::string>(opened)
        << ")\n";
    return std::make_unique<SilentBackend>();
  };

  if (soundfont) return use_synth(*soundfont);
  if (midi_port) {
    return std::make_unique<MidiBackend>(data_dir, *midi_port, env.midi_output, nullptr, &err);
  }
  if (const std::optional<fs::path> dir = env.exe_dir ? env.exe_dir() : std::nullopt) {
    std::vector<fs::path> candidates = resolve_soundfont(*dir);
    std::sort(candidates.begin(), candidates.end(),
              [](const fs::path& a, const fs::path& b) { return a.string() < b.string(); });
    if (!candidates.empty()) return use_synth(candidates.front());
  }
  err << "midi: no music. Drop a .sf2 beside the game, or pass --soundfont=PATH or "
         "--midi-port=NAME\n";
  return std::make_unique<SilentBackend>();
}

}  // namespace zt
