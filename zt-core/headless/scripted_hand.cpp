#include "scripted_hand.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>

namespace zt {

namespace {

constexpr std::array<std::int32_t, 5> kMoves = {-16, -6, 0, 6, 16};
constexpr int kHorizon = 20;    // frames looked ahead
constexpr int kMoveFrames = 4;  // a tried movement lasts this long, then the hand holds
constexpr std::int64_t kHitRange = 17 * 17;  // radius 5 + 12, squared

std::int32_t field_x(std::int64_t v) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, 0, kFieldWidth));
}
std::int32_t field_y(std::int64_t v) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, 0, kFieldHeight));
}

}  // namespace

Point ScriptedHand::next(TGame& game) const {
  quiet_.sounds.clear();
  const Target t = game.slots().live();
  const Point h = game.pend().hand();
  const PlayFields& f = game.play();
  const double mass = game.settings().ball_mass;
  const bool experiment = game.settings().experiment;

  // Lower is better: a cut is worst (later is less bad), then frames spent
  // over-stretched, then a hit (sooner is better), then the nearest approach.
  std::int64_t best = std::numeric_limits<std::int64_t>::max();
  Point choice = h;
  for (const std::int32_t mx : kMoves) {
    for (const std::int32_t my : kMoves) {
      TPend p = game.pend();
      std::int64_t cost = std::int64_t{1} << 50;
      std::int64_t over = 0;
      for (int k = 0; k < kHorizon; ++k) {
        const int along = std::min(k + 1, kMoveFrames);
        p.set_hand(field_x(std::int64_t{h.x} + mx * along),
                   field_y(std::int64_t{h.y} + my * along));
        p.step(f.gravity, f.collision_constant, mass, experiment, quiet_);
        if (p.is_cut()) {
          cost = (std::int64_t{1} << 56) - (std::int64_t{k} << 46);
          over = 0;
          break;
        }
        if (p.state().over_stretch_count >= 2) ++over;
        const std::int64_t dx = p.ball_x() - t.x;
        const std::int64_t dy = p.ball_y() - t.y;
        const std::int64_t d = dx * dx + dy * dy;
        if (d <= kHitRange) {
          cost = std::min<std::int64_t>(cost, k);
          break;
        }
        cost = std::min(cost, 1000 + d);
      }
      cost += over << 45;
      if (cost < best) {
        best = cost;
        choice = {field_x(std::int64_t{h.x} + mx), field_y(std::int64_t{h.y} + my)};
      }
    }
  }
  return choice;
}

Point ScriptedHand::tear(TGame& game) {
  const bool left = game.pend().ball_x() < kFieldWidth / 2;
  const bool top = game.pend().ball_y() < kFieldHeight / 2;
  return {left ? kFieldWidth : 0, top ? kFieldHeight : 0};
}

}  // namespace zt
