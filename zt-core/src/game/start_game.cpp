#include "game/start_game.h"

namespace zt {

StartedGame start_game(const TConfig& settings,
                       const std::optional<std::vector<std::uint8_t>>& score_file, Host& host) {
  // The game keeps the settings whole, flags included; the player is the one
  // who played last.
  StartedGame started{TGame::create(settings), HiScoreLoad::Missing};
  TGame& game = started.game;
  game.set_player_name(settings.last_player_name);
  started.score = game.hiscore_load(score_file);
  // Music from a clean table: set_on opens the backend when PlayMidi is on.
  game.bgm() = TBgm{};
  game.bgm().set_on(game.flag(kPlayMidi), host);
  game.bgm().load_song("title", host);
  game.bgm().load_song("stage", host);
  game.set_state(kStateLogo, host);
  return started;
}

}  // namespace zt
