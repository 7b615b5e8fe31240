// Zentro's entry point. For now it opens the game window directly.
#include <windows.h>

#include "game_window.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  return zt::win::RunGameWindow();
}
