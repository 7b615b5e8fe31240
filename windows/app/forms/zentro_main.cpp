#include <windows.h>

#include "forms/menu.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  return zt::win::run_zentro();
}
