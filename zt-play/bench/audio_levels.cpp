// Levels of a recording of the program's sound: the file SDL's disk audio
// driver writes (the device's own format, 32-bit float stereo at 44100 Hz),
// as tests/measure_audio.sh records it.
//
//   zt-audio-levels FILE [--song=FILE.mid]
//
// Prints the samples at full scale (the mix clamps there) with the bursts
// they come in, and the peak in dBFS. With --song, the recording is taken to
// start with silence and then that song, started with the title screen's
// one-second fade-in: the song's RMS and peak over its first pass, the
// largest step between two samples at its first loop point against the
// largest in the pass's other windows of that length, the level just before
// and after the loop point, and how loud the last 50 ms before the device
// closed are against the music a few seconds before.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "formats/midifile.h"

namespace {

constexpr double kRate = 44100;

struct Recording {
  std::vector<float> samples;  // interleaved stereo
  std::size_t frames() const { return samples.size() / 2; }
};

std::optional<std::vector<std::uint8_t>> read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::size_t frame_at(double seconds) {
  return static_cast<std::size_t>(std::max(0.0, seconds) * kRate);
}

double db(double level) {
  return level > 0 ? 20 * std::log10(level) : -INFINITY;
}

// RMS over both channels of frames [from, to).
double rms(const Recording& r, std::size_t from, std::size_t to) {
  to = std::min(to, r.frames());
  if (from >= to) return 0;
  double sum = 0;
  for (std::size_t i = 2 * from; i < 2 * to; ++i) sum += double{r.samples[i]} * r.samples[i];
  return std::sqrt(sum / static_cast<double>(2 * (to - from)));
}

double peak(const Recording& r, std::size_t from, std::size_t to) {
  to = std::min(to, r.frames());
  double p = 0;
  for (std::size_t i = 2 * from; i < 2 * to; ++i) p = std::max(p, double{std::abs(r.samples[i])});
  return p;
}

// The largest difference between neighbouring samples of one channel whose
// later sample lies in frames [from, to), and where it is.
struct Step {
  double size = 0;
  std::size_t frame = 0;
};
Step largest_step(const Recording& r, std::size_t from, std::size_t to) {
  to = std::min(to, r.frames());
  Step s;
  for (std::size_t f = std::max<std::size_t>(from, 1); f < to; ++f) {
    for (std::size_t c = 0; c < 2; ++c) {
      const double d = std::abs(double{r.samples[2 * f + c]} - r.samples[2 * (f - 1) + c]);
      if (d > s.size) s = {d, f};
    }
  }
  return s;
}

void print_full_scale(const Recording& r) {
  std::size_t count = 0;
  std::size_t bursts = 0;
  std::optional<std::size_t> last;
  for (std::size_t f = 0; f < r.frames(); ++f) {
    bool full = false;
    for (std::size_t c = 0; c < 2; ++c) {
      if (std::abs(r.samples[2 * f + c]) >= 1.0f) {
        ++count;
        full = true;
      }
    }
    if (!full) continue;
    // Full-scale samples less than 10 ms apart belong to one burst.
    if (!last || f - *last > frame_at(0.010)) ++bursts;
    last = f;
  }
  std::printf("samples at full scale: %zu in %zu bursts over %.1f s\n", count, bursts,
              static_cast<double>(r.frames()) / kRate);
  std::printf("peak: %.2f dBFS\n", db(peak(r, 0, r.frames())));
}

// The song's length in frames: the last end of track, timed by its tempo map.
std::optional<std::size_t> song_frames(const std::string& path) {
  const auto bytes = read_all(path);
  if (!bytes) return std::nullopt;
  const zt::MidiParseResult parsed = zt::parse_midi_file(*bytes);
  if (!parsed) return std::nullopt;
  std::uint64_t end = 0;
  for (const zt::MidiTrack& t : parsed.file->tracks) end = std::max(end, t.end_tick);
  return frame_at(zt::TempoMap(*parsed.file).seconds_at(end));
}

void print_song(const Recording& r, std::size_t length) {
  // The first clearly audible frame, then back to the last frame of exact
  // silence before it: the fade-in renders its first four blocks and the
  // first frame of the fifth at volume 0, while the synthesizer's reverb
  // leaves a tiny offset in everything before.
  std::size_t audible = 0;
  while (audible < r.frames() &&
         std::max(std::abs(r.samples[2 * audible]), std::abs(r.samples[2 * audible + 1])) < 1e-3f) {
    ++audible;
  }
  if (audible == r.frames()) {
    std::printf("music: the recording is silent\n");
    return;
  }
  std::size_t zero = audible;
  while (zero > 0 && (r.samples[2 * zero] != 0.0f || r.samples[2 * zero + 1] != 0.0f)) --zero;
  const std::size_t start = zero >= 2048 ? zero - 2048 : 0;
  const std::size_t loop = start + length;
  std::printf("music starts at %.3f s, loops at %.3f s\n", static_cast<double>(start) / kRate,
              static_cast<double>(loop) / kRate);
  // From the end of the fade-in to a second before the loop point.
  const std::size_t from = start + frame_at(2.0);
  const std::size_t to = loop > frame_at(1.0) ? loop - frame_at(1.0) : 0;
  if (to <= from || loop + frame_at(0.15) > r.frames()) {
    std::printf("music: the recording ends before the song's first loop point\n");
  } else {
    std::printf("music over its first pass: RMS %.2f dBFS, peak %.2f dBFS\n", db(rms(r, from, to)),
                db(peak(r, from, to)));
    // The player starts the next pass within a few synthesizer blocks of
    // the loop point; elsewhere is every window of the same length over
    // the pass.
    const std::size_t window = frame_at(0.03);
    const Step at_loop = largest_step(r, loop - frame_at(0.005), loop - frame_at(0.005) + window);
    std::vector<double> steps;
    for (std::size_t f = from; f + window <= to; f += window) {
      steps.push_back(largest_step(r, f, f + window).size);
    }
    std::sort(steps.begin(), steps.end());
    std::printf(
        "largest sample step within 30 ms of the loop point: %.4f (at %+.1f ms); elsewhere in "
        "30 ms: %.4f at the median, %.4f at most\n",
        at_loop.size,
        (static_cast<double>(at_loop.frame) - static_cast<double>(loop)) * 1000 / kRate,
        steps[steps.size() / 2], steps.back());
    // Tails cut at the loop show as a sudden drop from the 10 ms before to the 10 ms after.
    std::printf("10 ms before the loop point %.2f dBFS, 10 ms after %.2f dBFS\n",
                db(rms(r, loop - frame_at(0.01), loop)), db(rms(r, loop, loop + frame_at(0.01))));
  }
  const std::size_t end = r.frames();
  if (end < frame_at(4.0)) return;
  const double before = rms(r, end - frame_at(3.5), end - frame_at(1.5));
  const double last = rms(r, end - frame_at(0.05), end);
  if (last == 0) {
    std::printf("last 50 ms before the device closed: silence (every sample 0)\n");
  } else {
    std::printf(
        "last 50 ms before the device closed: %.2f dBFS, %.1f dB against the music before\n",
        db(last), db(last) - db(before));
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: zt-audio-levels FILE [--song=FILE.mid]\n");
    return 2;
  }
  std::optional<std::string> song;
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.rfind("--song=", 0) == 0) {
      song = a.substr(7);
    } else {
      std::fprintf(stderr, "unknown argument: %s\n", a.c_str());
      return 2;
    }
  }
  const auto bytes = read_all(argv[1]);
  if (!bytes) {
    std::fprintf(stderr, "cannot read %s\n", argv[1]);
    return 1;
  }
  Recording r;
  r.samples.resize(bytes->size() / (2 * sizeof(float)) * 2);
  std::copy_n(bytes->data(), r.samples.size() * sizeof(float),
              reinterpret_cast<std::uint8_t*>(r.samples.data()));
  print_full_scale(r);
  if (song) {
    const std::optional<std::size_t> length = song_frames(*song);
    if (!length) {
      std::fprintf(stderr, "cannot read the song %s\n", song->c_str());
      return 1;
    }
    print_song(r, *length);
  }
  return 0;
}
