#include "demo.h"

#if defined(ZT_MKDATA_DEMO)
#include "formats/config.h"
#include "game/ugame.h"
#include "memory_host.h"
#include "scripted_hand.h"
#endif

namespace zt::mkdata {

#if defined(ZT_MKDATA_DEMO)
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
  TGame game = TGame::create(TConfig{});
  game.set_state(kStateLogo, host);
  game.set_state(kStateTitle, host);
  game.start_play(TGame::kModeRecord, 0, false, host);
  game.set_state(kStateIntro, host);
  const ScriptedHand hand;
  for (int i = 0; i < kFrameLimit && game.state() != kStateResult; ++i) {
    if (game.state() == kStatePlay) {
      const Point p =
          game.play().play_frame < kPlayFrames ? hand.next(game) : ScriptedHand::tear(game);
      host.set_pointer(p.x, p.y);
    }
    if (game.step_frame(host)) return std::nullopt;
    host.presented.clear();
  }
  if (game.state() != kStateResult) return std::nullopt;
  // The result's first frame ends the play and writes the header.
  if (game.step_frame(host)) return std::nullopt;
  const auto file = host.files.files.find(0);
  if (file == host.files.files.end()) return std::nullopt;
  return file->second;
}
#else
std::optional<std::vector<std::uint8_t>> record_demo() { return std::nullopt; }
#endif

}  // namespace zt::mkdata
