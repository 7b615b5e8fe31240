#include "game/ugame_targets.h"

namespace zt {
namespace {

std::int32_t abs32(std::int32_t v) {
  return v < 0 ? -v : v;
}

}  // namespace

void TSlotSet::push(Point position, std::uint8_t kind, Point velocity) {
  slots_[2] = slots_[1];
  slots_[1] = slots_[0];
  slots_[0] = Target{position.x, position.y, velocity.x, velocity.y, kind};
}

void TSlotSet::move() {
  for (Target& t : slots_) {
    t.x += t.vx;
    t.y += t.vy;
    if (t.x < 25) {
      t.vx = abs32(t.vx);
    } else if (t.x > 295) {
      t.vx = -abs32(t.vx);
    }
    if (t.y < 25) {
      t.vy = abs32(t.vy);
    } else if (t.y > 215) {
      t.vy = -abs32(t.vy);
    }
  }
}

}  // namespace zt
