// The process-wide values the game units share, and the key poll.
#pragma once

#include <windows.h>

#include <cstdint>

namespace zt::win {

// Milliseconds between frames.
inline std::int32_t FrameWait = 25;
// Set by a button press on the game window, cleared when the game reads it.
inline std::uint8_t LeftClicked = 0;
inline std::uint8_t RightClicked = 0;

// The system's key poll; tests put a scripted one in its place.
using AsyncKeyStateFn = SHORT (*)(int);
void SetAsyncKeyStateSource(AsyncKeyStateFn source);  // nullptr: the system's
SHORT AsyncKeyState(int vk);

// Whether the key was pressed since it was last asked for: the buttons from
// the click latches, every other code from the system.
bool GetKey(int vk);

}  // namespace zt::win
