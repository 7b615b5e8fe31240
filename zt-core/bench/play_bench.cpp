// A recorded play replayed headless: every frame of the core, the pendulum,
// the field objects and all of the drawing, with a host that does nothing on
// present. Reports frames per second. The MPFR figure comes from a build
// configured with -DZT_X87_BACKEND=mpfr -DZT_BENCHMARKS=ON.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>
#include <vector>

#include "game/ugame.h"
#include "game_fixture.h"
#include "headless_game.h"
#include "memory_host.h"
#include "scripted_hand.h"

namespace zt {
namespace {

constexpr std::int32_t kSlot = 1;

// The in-memory host without the capture of presented frames, whose hashing
// would cost more than the frame itself.
class BenchHost : public MemoryHost {
 public:
  using MemoryHost::MemoryHost;
  void present() override { ++frames; }
  void play_sound(std::string_view, std::int32_t) override {}
  void realize_palette(const Palette& p) override { palette = p; }
  void clear_key(std::int32_t code) override { release(code); }
  std::int64_t frames = 0;
};

// From the logo straight into the play, as a recording or its replay.
void enter_play(HeadlessGame& run, std::int32_t mode) {
  TGame& game = run.game();
  game.set_state(kStateTitle, run.host());
  game.start_play(mode, kSlot, false, run.host());
  game.set_state(kStatePlay, run.host());
}

// A play of about 3000 frames recorded once by the scripted hand, ended by
// tearing the string.
const std::vector<std::uint8_t>& recorded_play() {
  static const std::vector<std::uint8_t> file = [] {
    BenchHost host{testing_game::painted_library()};
    HeadlessGame run(host);
    enter_play(run, TGame::kModeRecord);
    const TGame& game = run.game();
    for (int i = 0; i < 20000 && game.state() != kStateResult; ++i) {
      const bool steer = game.state() == kStatePlay && game.play().play_frame < 3000;
      (void)run.frame_at(steer ? run.hand().next(run.game()) : ScriptedHand::tear(run.game()));
    }
    (void)run.frame();  // the end of the play finishes the file
    return host.files.files.at(kSlot);
  }();
  return file;
}

void BM_ReplayedPlay(benchmark::State& state) {
  const std::vector<std::uint8_t>& file = recorded_play();
  const BitmapLibrary library = testing_game::painted_library();
  std::int64_t frames = 0;
  for (auto _ : state) {
    state.PauseTiming();
    BenchHost host{library};
    host.files.files[kSlot] = file;
    HeadlessGame run(host);
    enter_play(run, TGame::kModeReplay);
    const TGame& game = run.game();
    state.ResumeTiming();
    while (game.state() == kStatePlay || game.state() == kStateLineCut) (void)run.frame();
    frames += host.frames;
    benchmark::DoNotOptimize(game.play().score);
  }
  state.counters["frames_per_second"] =
      benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
  // The figure depends on the arithmetic backend the build chose.
#if defined(ZT_X87_NATIVE)
  state.SetLabel("x87 unit");
#else
  state.SetLabel("MPFR");
#endif
}
BENCHMARK(BM_ReplayedPlay)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zt
