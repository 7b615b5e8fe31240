#include "game/upend.h"

#include "game/xsign.h"
#include "x87.h"

namespace zt {
namespace {

// The extended value nearest to 0.01, as the x87 unit loads the literal; the
// double 0.01 widened would differ in the low bits of every damage share.
X87 one_hundredth() {
  return X87::from_bits(0xA3D70A3D70A3D70Aull, 16376);
}

constexpr std::int32_t kOverStretchLimit = 10;

}  // namespace

std::int32_t sign_of(double v) {
  const X87 x = xd(v);
  if (x < xi(0)) return -1;
  if (x == xi(0)) return 0;
  return 1;
}

TPend TPend::create(std::int32_t width, std::int32_t height, double gravity,
                    double /*collision_constant*/, double natural_length, double rubber_constant,
                    double ball_mass, bool /*experiment*/) {
  TPend p;
  p.set_radius(5.0);
  p.s_.rubber_constant = rubber_constant;
  p.s_.natural_length = natural_length;
  p.set_endurance(80.0);
  p.s_.hand_x = width / 2;
  p.s_.hand_y = height / 2;
  p.s_.ball_x = xi(p.s_.hand_x).to_f64();

  const std::int32_t g_sign = sign_of(gravity);
  if (xd(rubber_constant) == xi(0)) {
    // A string without stiffness cannot hold any weight: the hanging offset
    // grows without bound as the constant goes to 0, so with gravity the ball
    // starts on the bottom wall line (where the clamp below puts any larger
    // value), and without gravity at the hand. Dividing instead would trap on
    // the x87 unit, or give 0/0 = NaN for gravity 0.
    p.s_.ball_y = g_sign == 0 ? xi(p.s_.hand_y).to_f64() : (xi(height) - xd(p.s_.radius)).to_f64();
  } else {
    X87 t = xd(p.mass(ball_mass)) * xd(gravity);
    t = t / xd(rubber_constant);
    t = t + xd(natural_length);
    t = xi(g_sign) * t;
    t = xi(p.s_.hand_y) + t;
    p.s_.ball_y = t.to_f64();
  }

  if (xd(p.s_.ball_y) < xd(p.s_.radius)) p.s_.ball_y = p.s_.radius;
  if (xi(height) - xd(p.s_.radius) < xd(p.s_.ball_y)) {
    p.s_.ball_y = (xi(height) - xd(p.s_.radius)).to_f64();
  }
  return p;
}

TPend TPend::from_state(const State& s) {
  TPend p;
  p.s_ = s;
  return p;
}

void TPend::set_hand(std::int32_t x, std::int32_t y) {
  s_.hand_x = x < 0 ? 0 : (x > kFieldWidth ? kFieldWidth : x);
  s_.hand_y = y < 0 ? 0 : (y > kFieldHeight ? kFieldHeight : y);
}

void TPend::set_radius(double value) {
  const X87 v = xd(value);
  if (v < xf(1.0f)) {
    s_.radius = xf(1.0f).to_f64();
  } else if (v > xf(40.0f)) {
    s_.radius = xf(40.0f).to_f64();
  } else {
    s_.radius = value;
  }
}

void TPend::set_endurance(double value) {
  const X87 v = xd(value);
  if (v < xf(1.0f)) {
    s_.endurance = xf(1.0f).to_f64();
  } else if (v > xf(180.0f)) {
    s_.endurance = xf(180.0f).to_f64();
  } else {
    s_.endurance = value;
  }
}

double TPend::distance() const {
  const X87 dx = xi(s_.hand_x) - xd(s_.ball_x);
  const X87 dy = xi(s_.hand_y) - xd(s_.ball_y);
  return X87::fsqrt(dx * dx + dy * dy).to_f64();
}

double TPend::mass(double ball_mass) const {
  return (xd(s_.radius) / xf(10.0f) * xd(ball_mass)).to_f64();
}

std::int32_t TPend::stretch_percent() const {
  if (s_.cut) return 0;
  const double d = distance();
  const std::int32_t p =
      ((xd(d) - xd(s_.natural_length)) * xf(100.0f) / xd(s_.endurance)).round_i32();
  return p < 0 ? 0 : (p > 100 ? 100 : p);
}

Point TPend::velocity() const {
  return {xd(s_.vx).round_i32(), xd(s_.vy).round_i32()};
}
std::int32_t TPend::ball_x() const {
  return xd(s_.ball_x).round_i32();
}
std::int32_t TPend::ball_y() const {
  return xd(s_.ball_y).round_i32();
}

void TPend::step(double gravity, double collision_constant, double ball_mass, bool experiment,
                 Host& host) {
  const X87 half = xd(0.5);

  // Damage is paid out at most half a unit a frame.
  if (xd(s_.pending_damage) > half) {
    s_.endurance = (xd(s_.endurance) - half).to_f64();
    s_.pending_damage = (xd(s_.pending_damage) - half).to_f64();
  } else if (xd(s_.pending_damage) > xi(0)) {
    s_.endurance = (xd(s_.endurance) - xd(s_.pending_damage)).to_f64();
    s_.pending_damage = 0.0;
  }
  if (xd(s_.endurance) < xf(50.0f)) s_.endurance = xf(50.0f).to_f64();

  if (!s_.cut) {
    const double d = distance();
    if (xd(d) > xd(s_.natural_length)) {
      const double f = ((xd(d) - xd(s_.natural_length)) * xd(s_.rubber_constant)).to_f64();
      s_.vx = ((xi(s_.hand_x) - xd(s_.ball_x)) * xd(f) / xd(d) / xd(mass(ball_mass)) + xd(s_.vx))
                  .to_f64();
      s_.vy = ((xi(s_.hand_y) - xd(s_.ball_y)) * xd(f) / xd(d) / xd(mass(ball_mass)) + xd(s_.vy))
                  .to_f64();
    }
  }

  s_.vy = (xd(s_.vy) + xd(gravity)).to_f64();

  const double speed = X87::fsqrt(xd(s_.vx) * xd(s_.vx) + xd(s_.vy) * xd(s_.vy)).to_f64();
  const X87 limit = experiment ? xf(24.0f) : xf(12.0f);
  if (xd(speed) > limit) {
    s_.vx = (limit * xd(s_.vx) / xd(speed)).to_f64();
    s_.vy = (limit * xd(s_.vy) / xd(speed)).to_f64();
  }

  s_.ball_x = (xd(s_.ball_x) + xd(s_.vx)).to_f64();
  s_.ball_y = (xd(s_.ball_y) + xd(s_.vy)).to_f64();

  // Right before left and bottom before top: each test sees what the one
  // before it may have set. The sound looks at the speed before the bounce.
  const X87 r = xd(s_.radius);
  const X87 cc = xd(collision_constant);
  if (xi(kFieldWidth) - r < xd(s_.ball_x)) {
    if (x87_abs(xd(s_.vx)) > half) host.play_sound("bound", 3);
    s_.ball_x = (xi(kFieldWidth) - r).to_f64();
    s_.vx = (x87_neg(x87_abs(xd(s_.vx))) * cc).to_f64();
  }
  if (xd(s_.ball_x) < r) {
    if (x87_abs(xd(s_.vx)) > half) host.play_sound("bound", 3);
    s_.ball_x = s_.radius;
    s_.vx = (x87_abs(xd(s_.vx)) * cc).to_f64();
  }
  if (xi(kFieldHeight) - r < xd(s_.ball_y)) {
    if (x87_abs(xd(s_.vy)) > half) host.play_sound("bound", 3);
    s_.ball_y = (xi(kFieldHeight) - r).to_f64();
    s_.vy = (x87_neg(x87_abs(xd(s_.vy))) * cc).to_f64();
  }
  if (xd(s_.ball_y) < r) {
    if (x87_abs(xd(s_.vy)) > half) host.play_sound("bound", 3);
    s_.ball_y = s_.radius;
    s_.vy = (x87_abs(xd(s_.vy)) * cc).to_f64();
  }

  // Ten over-stretched frames in a row wear the string; the eleventh cuts it.
  const double d = distance();
  if (xd(d) > xd(s_.natural_length) + xd(s_.endurance) && !s_.cut) {
    if (s_.over_stretch_count < kOverStretchLimit) {
      const bool first = s_.over_stretch_count == 0;
      ++s_.over_stretch_count;
      s_.pending_damage = (one_hundredth() * xd(s_.endurance) + xd(s_.pending_damage)).to_f64();
      if (first) host.play_sound("cutwarn", 3);
    } else {
      s_.cut = true;
    }
  } else {
    s_.over_stretch_count = 0;
  }
}

}  // namespace zt
