// The game as both programs start it: made from the settings, the score table
// loaded, music switched on as the settings say with the two songs loaded,
// and the logo as the first screen.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "formats/config.h"
#include "game/glue.h"
#include "game/ugame.h"
#include "game/uhiscore.h"

namespace zt {

struct StartedGame {
  TGame game;
  // What became of the score file's bytes: each program keeps a damaged file
  // in its own way.
  HiScoreLoad score;
};

// score_file: the bytes of "ZTScore.dat", or nothing when it could not be
// read. The runtime generator is left as it is; the Windows program seeds it.
StartedGame start_game(const TConfig& settings,
                       const std::optional<std::vector<std::uint8_t>>& score_file, Host& host);

}  // namespace zt
