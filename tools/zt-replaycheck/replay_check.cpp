// Records a scripted play with the headless host, or replays a recording,
// and writes what the play came to: score, counters and the hash of every
// presented picture. Built by both programs' compilers, so that a recording
// made by one is replayed by the other and the two reports compared.
//   zt-replaycheck record DATA_DIR OUT_DIR   writes Rec1.dat and record.txt
//   zt-replaycheck replay DATA_DIR DIR       replays DIR/Rec1.dat, writes DIR/replay.txt
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "bitmap_library.h"
#include "game/ugame.h"
#include "game/urandom.h"
#include "memory_host.h"

namespace {

using namespace zt;

constexpr int kFrameLimit = 20000;
constexpr std::uint32_t kRuntimeSeed = 12345;

// The hand's path: a slow figure over the field, from integers only.
Point scripted_hand(std::int32_t f) {
  return {160 + sine_at(f) * 110 / 1024, 80 + sine_at(f * 2 + 64) * 40 / 1024};
}

struct Report {
  std::vector<std::uint64_t> hashes;
  std::string text;
};

// Runs the play from its start to the first frame of the result screen.
bool run_play(TGame& game, MemoryHost& host, bool chase, Report& r) {
  std::int32_t f = 0;
  while (game.state() != kStateResult) {
    if (++f > kFrameLimit) return false;
    // A replay takes its hand from the file; the pointer shows only on the
    // screens around the play, so both runs move it alike.
    Point p = scripted_hand(f);
    if (chase && game.state() == kStatePlay) {
      // The recording player steers the ball toward the live target.
      const Point hand = host.pointer();
      const Target& t = game.slots().live();
      const auto step = [](std::int32_t d) { return d > 2 ? 2 : (d < -2 ? -2 : d); };
      p = {hand.x + step(t.x - game.pend().ball_x()), hand.y + step(t.y - game.pend().ball_y())};
    }
    host.set_pointer(p.x, p.y);
    const std::size_t before = host.presented.size();
    if (game.step_frame(host)) return false;
    for (std::size_t i = before; i < host.presented.size(); ++i) {
      r.hashes.push_back(host.presented[i].hash);
    }
  }
  // The result's first frame finishes the recording or writes the score back.
  const std::size_t before = host.presented.size();
  if (game.step_frame(host)) return false;
  for (std::size_t i = before; i < host.presented.size(); ++i)
    r.hashes.push_back(host.presented[i].hash);

  const PlayFields& p = game.play();
  std::ostringstream out;
  out << "score " << p.score << "\nmax_combo " << p.max_combo << "\ndestroyed";
  for (std::int32_t d : p.destroyed) out << ' ' << d;
  out << "\ngauge " << p.gauge << "\nplay_frame " << p.play_frame << "\nsounds "
      << host.sounds.size() << "\nframes " << r.hashes.size() << "\n";
  for (std::uint64_t h : r.hashes) out << std::hex << h << std::dec << "\n";
  r.text = out.str();
  return true;
}

std::optional<std::vector<std::uint8_t>> read_bytes(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  if (!in) return std::nullopt;
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

bool write_text(const std::filesystem::path& p, const std::string& text) {
  std::ofstream out(p, std::ios::binary);
  out << text;
  return static_cast<bool>(out);
}

int fail(const std::string& why) {
  std::fprintf(stderr, "zt-replaycheck: %s\n", why.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return fail("usage: zt-replaycheck record|replay DATA_DIR DIR");
  const std::string mode = argv[1];
  const std::filesystem::path data = argv[2];
  const std::filesystem::path dir = argv[3];
  auto library = load_bitmap_library(data);
  if (!library) return fail("cannot read " + (data / "images.qda").string());

  MemoryHost host(std::move(*library));
  host.keep_pixels = false;
  host.datetime = 46000.25;
  TGame game = TGame::create(TConfig{});
  game.set_state(kStateLogo, host);
  game.set_state(kStateTitle, host);
  Report r;

  if (mode == "record") {
    game.random_state() = kRuntimeSeed;
    game.start_play(TGame::kModeRecord, 1, false, host);
    game.set_state(kStateIntro, host);
    if (!run_play(game, host, true, r)) return fail("the recorded play did not finish");
    const auto& file = host.files.files.at(1);
    std::filesystem::create_directories(dir);
    std::ofstream out(dir / "Rec1.dat", std::ios::binary);
    out.write(reinterpret_cast<const char*>(file.data()),
              static_cast<std::streamsize>(file.size()));
    if (!out) return fail("cannot write Rec1.dat");
    if (!write_text(dir / "record.txt", r.text)) return fail("cannot write record.txt");
    return 0;
  }
  if (mode == "replay") {
    auto file = read_bytes(dir / "Rec1.dat");
    if (!file) return fail("cannot read Rec1.dat");
    host.files.files[1] = *file;
    // The runtime generator as the recording's start of play left it: the
    // replay takes its seed from the file and draws none.
    game.random_state() = kRuntimeSeed;
    Random(game.random_state(), 1000);
    game.start_play(TGame::kModeReplay, 1, false, host);
    game.set_state(kStateIntro, host);
    if (!run_play(game, host, false, r)) return fail("the replay did not finish");
    if (!write_text(dir / "replay.txt", r.text)) return fail("cannot write replay.txt");
    return 0;
  }
  return fail("unknown mode " + mode);
}
