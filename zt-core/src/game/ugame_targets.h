// The three targets on the field. Slot 2 holds the oldest, the live target
// that the hit test uses; a push moves every target one slot on.
#pragma once

#include <array>
#include <cstdint>

#include "game/glue.h"

namespace zt {

enum TargetKind : std::uint8_t {
  kTargetPlain = 0,
  kTargetEndurance = 1,
  kTargetRadius = 2,
};

struct Target {
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::int32_t vx = 0;
  std::int32_t vy = 0;
  std::uint8_t kind = kTargetPlain;
  friend bool operator==(const Target&, const Target&) = default;
};

class TSlotSet {
 public:
  static constexpr int kLive = 2;

  // slot 2 := slot 1, slot 1 := slot 0, slot 0 := the new target.
  void push(Point position, std::uint8_t kind, Point velocity);
  // Moves every slot, then turns a target that has left the box 25..295 x
  // 25..215 back toward it.
  void move();

  const Target& slot(int i) const { return slots_[static_cast<std::size_t>(i)]; }
  const Target& live() const { return slots_[kLive]; }

 private:
  std::array<Target, 3> slots_{};
};

}  // namespace zt
