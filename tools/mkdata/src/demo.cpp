#include "demo.h"

#include "game/ugame.h"
#include "headless_game.h"
#include "memory_host.h"

namespace zt::mkdata {

namespace {
// About half a minute of play before the hand tears the string: long enough to
// show hits and combos, short enough to loop on the title screen.
constexpr int kPlayFrames = 1200;
constexpr int kFrameLimit = 20000;
}  // namespace

std::optional<std::vector<std::uint8_t>> record_demo() {
  MemoryHost host;  // the game's logic does not depend on the pictures
  host.keep_pixels = false;
  host.datetime = kDemoDate;
  HeadlessGame run(host);
  TGame& game = run.game();
  game.set_state(kStateTitle, host);
  game.start_play(TGame::kModeRecord, 0, false, host);
  game.set_state(kStateIntro, host);
  for (int i = 0; i < kFrameLimit && game.state() != kStateResult; ++i) {
    std::optional<GameError> error;
    if (game.state() == kStatePlay) {
      error = run.frame_at(game.play().play_frame < kPlayFrames ? run.hand().next(game)
                                                                : ScriptedHand::tear(game));
    } else {
      error = run.frame();
    }
    if (error) return std::nullopt;
  }
  if (game.state() != kStateResult) return std::nullopt;
  // The result's first frame ends the play and writes the header.
  if (run.frame()) return std::nullopt;
  const auto file = host.files.files.find(0);
  if (file == host.files.files.end()) return std::nullopt;
  return file->second;
}

}  // namespace zt::mkdata
