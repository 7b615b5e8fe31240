// The launcher's game button: the full-screen game window runs until the
// player quits the game, and then the whole program ends.
#include "forms/forms.h"
#include "forms/game_window.h"
#include "game/game_window.h"

namespace zt::win {

void open_game_window() {
  Application().ExitCode =
      RunGameWindow(Application().MainForm() ? Application().MainForm()->Handle() : nullptr);
  Application().Terminate();
}

}  // namespace zt::win
