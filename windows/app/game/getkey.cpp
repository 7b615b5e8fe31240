#include "getkey.h"

namespace zt::win {

namespace {
AsyncKeyStateFn g_source = nullptr;
}

void SetAsyncKeyStateSource(AsyncKeyStateFn source) {
  g_source = source;
}

SHORT AsyncKeyState(int vk) {
  return g_source ? g_source(vk) : GetAsyncKeyState(vk);
}

bool GetKey(int vk) {
  if (vk == VK_LBUTTON) {
    const bool clicked = LeftClicked != 0;
    LeftClicked = 0;
    return clicked;
  }
  if (vk == VK_RBUTTON) {
    const bool clicked = RightClicked != 0;
    RightClicked = 0;
    return clicked;
  }
  return (AsyncKeyState(vk) & 1) != 0;
}

}  // namespace zt::win
