// The launcher's way into the game: creates the full-screen game window
// through the application and shows it.
#pragma once

namespace zt::win {

void open_game_window();

}  // namespace zt::win
