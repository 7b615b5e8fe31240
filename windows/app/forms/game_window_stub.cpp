// Stands in for the game window in the forms' tests: records the call and
// the folder in which the game would look for its data.
#include <windows.h>

#include <atomic>
#include <string>

#include "forms/game_window.h"

namespace zt::win {

std::atomic<int> g_game_window_opened{0};
std::wstring g_game_window_folder;

void open_game_window() {
  ++g_game_window_opened;
  wchar_t folder[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, folder);
  g_game_window_folder = folder;
}

}  // namespace zt::win
