// A scripted player for headless plays: it looks at the field as a player
// would (the live target, the pendulum) and answers the pointer position for
// the next frame. It tries a few hand movements on copies of the pendulum and
// takes the one that reaches the live target soonest without tearing the
// string; asked to, it jerks the hand away until the string is cut.
#pragma once

#include "game/ugame.h"
#include "memory_host.h"

namespace zt {

class ScriptedHand {
 public:
  // The pointer for the next play frame.
  Point next(TGame& game) const;
  // A pointer that over-stretches the string: the far corner from the ball.
  static Point tear(TGame& game);

 private:
  // Swallows the sounds of the tried steps, the pendulum's only use of a host:
  // no sheets to hold.
  mutable MemoryHost quiet_{BitmapLibrary{}};
};

}  // namespace zt
