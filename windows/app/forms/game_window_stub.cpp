// Stands in for the game window in the forms' tests: records the call.
#include <atomic>

#include "forms/game_window.h"

namespace zt::win {

std::atomic<int> g_game_window_opened{0};

void open_game_window() {
  ++g_game_window_opened;
}

}  // namespace zt::win
