// The player's pendulum: a hand that follows the pointer and a ball on a
// rubber string. Replays re-run these steps from the recorded hand points, so
// every formula is a fixed chain of extended operations with a rounding to
// double only where a value is kept.
#pragma once

#include <cstdint>

#include "game/glue.h"

namespace zt {

// -1 below 0, 0 at 0 (either sign), 1 otherwise (NaN included).
std::int32_t sign_of(double v);

class TPend {
 public:
  // Everything the pendulum keeps between frames.
  struct State {
    double ball_x = 0.0;
    double ball_y = 0.0;
    double vx = 0.0;
    double vy = 0.0;
    double radius = 5.0;
    double rubber_constant = 0.0;
    double natural_length = 0.0;
    double endurance = 80.0;
    double pending_damage = 0.0;
    std::int32_t hand_x = 0;
    std::int32_t hand_y = 0;
    std::int32_t over_stretch_count = 0;
    bool cut = false;
  };

  // The pendulum at rest. The collision constant and the experiment flag are
  // taken for symmetry with the step; only the step uses them.
  static TPend create(std::int32_t width, std::int32_t height, double gravity,
                      double collision_constant, double natural_length, double rubber_constant,
                      double ball_mass, bool experiment);
  // Restores a pendulum from its fields, exactly as given (no clamping).
  static TPend from_state(const State& s);

  // One physics frame; sounds go to the host.
  void step(double gravity, double collision_constant, double ball_mass, bool experiment,
            Host& host);

  void set_hand(std::int32_t x, std::int32_t y);
  void set_radius(double value);
  void set_endurance(double value);

  double distance() const;
  std::int32_t stretch_percent() const;
  Point velocity() const;
  std::int32_t ball_x() const;
  std::int32_t ball_y() const;
  double mass(double ball_mass) const;
  bool is_cut() const { return s_.cut; }

  Point hand() const { return {s_.hand_x, s_.hand_y}; }
  double radius() const { return s_.radius; }
  double endurance() const { return s_.endurance; }
  const State& state() const { return s_; }

 private:
  TPend() = default;
  State s_;
};

}  // namespace zt
