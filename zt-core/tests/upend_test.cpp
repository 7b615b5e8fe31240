#include "game/upend.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cfenv>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "support/mock_host.h"
#include "x87.h"

namespace zt {
namespace {

using ::testing::NiceMock;
using Sound = std::pair<std::string, std::int32_t>;
using Sounds = std::vector<Sound>;

// Default physics values of the settings.
constexpr double kGravity = 0.2;
constexpr double kCollision = 0.7;
constexpr double kNatural = 25.0;
constexpr double kRubber = 0.008;
constexpr double kMass = 1.0;

// Records every sound; nothing else of the host is expected to be called.
class SoundHost : public NiceMock<testing::MockHost> {
 public:
  SoundHost() {
    ON_CALL(*this, play_sound).WillByDefault([this](std::string_view name, std::int32_t prio) {
      sounds.emplace_back(std::string(name), prio);
    });
  }
  Sounds take() { return std::exchange(sounds, {}); }
  Sounds sounds;
};

std::uint64_t bits(double d) {
  return std::bit_cast<std::uint64_t>(d);
}

TPend default_pend() {
  return TPend::create(320, 240, kGravity, kCollision, kNatural, kRubber, kMass, false);
}

// A ball with the hand on its own point, so the string is slack.
TPend::State slack_at(double bx, double by, double vx, double vy) {
  TPend::State s;
  s.ball_x = bx;
  s.ball_y = by;
  s.vx = vx;
  s.vy = vy;
  s.radius = 5.0;
  s.rubber_constant = kRubber;
  s.natural_length = kNatural;
  s.endurance = 80.0;
  s.hand_x = static_cast<std::int32_t>(std::lround(bx));
  s.hand_y = static_cast<std::int32_t>(std::lround(by));
  return s;
}

TEST(TPendCreate, DefaultsHangTheBallBelowTheHand) {
  const TPend p = default_pend();
  const TPend::State& s = p.state();
  EXPECT_EQ(p.hand(), (Point{160, 120}));
  EXPECT_EQ(s.ball_x, 160.0);
  EXPECT_EQ(s.ball_y, 157.5);
  EXPECT_EQ(s.vx, 0.0);
  EXPECT_EQ(s.vy, 0.0);
  EXPECT_EQ(p.radius(), 5.0);
  EXPECT_EQ(p.endurance(), 80.0);
  EXPECT_EQ(s.pending_damage, 0.0);
  EXPECT_EQ(s.over_stretch_count, 0);
  EXPECT_FALSE(p.is_cut());
  EXPECT_EQ(p.mass(kMass), 0.5);
  EXPECT_EQ(p.distance(), 37.5);
  EXPECT_EQ(p.stretch_percent(), 16);  // 12.5 of 80, rounded
}

TEST(TPendCreate, BallHeightByGravityAndClamps) {
  struct Case {
    const char* what;
    double gravity, natural, rubber;
    double ball_y;
  } cases[] = {
      {"gravity 0 starts at the hand", 0.0, kNatural, kRubber, 120.0},
      {"negative gravity: hand + m|g|/k - natural", -0.2, kNatural, kRubber, 107.5},
      {"pulled below the bottom wall line", 2.0, kNatural, kRubber, 235.0},
      {"pushed above the top wall line", -0.2, 200.0, kRubber, 5.0},
      {"no stiffness, gravity down: bottom line", 0.2, kNatural, 0.0, 235.0},
      {"no stiffness, gravity up: the formula's limit is the bottom too", -0.2, kNatural, 0.0,
       235.0},
      {"no stiffness, no gravity: at the hand", 0.0, kNatural, 0.0, 120.0},
  };
  for (const auto& c : cases) {
    const TPend p =
        TPend::create(320, 240, c.gravity, kCollision, c.natural, c.rubber, kMass, false);
    EXPECT_EQ(p.state().ball_x, 160.0) << c.what;
    EXPECT_EQ(p.state().ball_y, c.ball_y) << c.what;
  }
}

TEST(TPendCreate, ZeroRubberConstantPlaysOnWithFiniteValuesAndCutsTheString) {
  for (double gravity : {0.2, -0.2, 0.0}) {
    // The Windows program's unit traps a division by zero or an invalid
    // operation; on the x87 backend the sticky flags show whether one happened.
    std::feclearexcept(FE_ALL_EXCEPT);
    TPend p = TPend::create(320, 240, gravity, kCollision, kNatural, 0.0, kMass, false);
    SoundHost host;
    for (int frame = 1; frame <= 200; ++frame) {
      p.set_hand(160 + frame % 7, 120);
      p.step(gravity, kCollision, kMass, false, host);
      ASSERT_FALSE(std::fetestexcept(FE_DIVBYZERO | FE_INVALID)) << gravity << " frame " << frame;
      const TPend::State& s = p.state();
      for (double v : {s.ball_x, s.ball_y, s.vx, s.vy, s.endurance, s.pending_damage}) {
        ASSERT_TRUE(std::isfinite(v)) << "gravity " << gravity << " frame " << frame;
      }
      const std::int32_t sp = p.stretch_percent();
      ASSERT_GE(sp, 0);
      ASSERT_LE(sp, 100);
    }
    // Without stiffness nothing holds the ball: with gravity it ends against a
    // wall, too far from the hand, and the string goes.
    EXPECT_EQ(p.is_cut(), gravity != 0.0) << gravity;
  }
}

TEST(TPendSetters, Clamps) {
  TPend p = default_pend();
  struct HandCase {
    std::int32_t x, y;
    Point want;
  } hands[] = {{-5, 300, {0, 240}}, {321, -1, {320, 0}}, {0, 240, {0, 240}}, {17, 33, {17, 33}}};
  for (const auto& c : hands) {
    p.set_hand(c.x, c.y);
    EXPECT_EQ(p.hand(), c.want) << c.x << "," << c.y;
  }
  struct ValueCase {
    double in, radius, endurance;
  } values[] = {{45.0, 40.0, 45.0},    {0.5, 1.0, 1.0},      {40.0, 40.0, 40.0},
                {1.0, 1.0, 1.0},       {200.0, 40.0, 180.0}, {180.5, 40.0, 180.0},
                {12.25, 12.25, 12.25}, {-3.0, 1.0, 1.0}};
  for (const auto& c : values) {
    p.set_radius(c.in);
    p.set_endurance(c.in);
    EXPECT_EQ(p.radius(), c.radius) << c.in;
    EXPECT_EQ(p.endurance(), c.endurance) << c.in;
  }
}

TEST(TPendRounding, BallAndVelocityRoundToNearestEven) {
  struct Case {
    double v;
    std::int32_t want;
  } cases[] = {{2.5, 2}, {3.5, 4}, {-2.5, -2}, {-3.5, -4}, {0.5, 0}, {2.4999, 2}, {2.5001, 3}};
  for (const auto& c : cases) {
    const TPend p = TPend::from_state(slack_at(c.v, c.v, c.v, c.v));
    EXPECT_EQ(p.ball_x(), c.want) << c.v;
    EXPECT_EQ(p.ball_y(), c.want) << c.v;
    EXPECT_EQ(p.velocity(), (Point{c.want, c.want})) << c.v;
  }
}

TEST(TPendStretch, PercentOfEnduranceRoundedAndClamped) {
  // Hand at (160, 120), ball straight below at an integer distance, endurance 80.
  struct Case {
    double distance;
    std::int32_t want;
  } cases[] = {
      {10.0, 0},                   // slack: negative, clamped
      {25.0, 0},                   // natural length
      {27.0, 2},                   // 2.5 -> 2
      {31.0, 8},                   // 7.5 -> 8
      {35.0, 12},                  // 12.5 -> 12
      {39.0, 18},                  // 17.5 -> 18
      {65.0, 50},   {105.0, 100},  // natural length + endurance
      {200.0, 100},                // clamped
  };
  for (const auto& c : cases) {
    TPend::State s = slack_at(160.0, 120.0 + c.distance, 0, 0);
    s.hand_y = 120;
    const TPend p = TPend::from_state(s);
    EXPECT_EQ(p.distance(), c.distance);
    EXPECT_EQ(p.stretch_percent(), c.want) << c.distance;
  }
  TPend::State s = slack_at(160.0, 185.0, 0, 0);
  s.hand_y = 120;
  s.cut = true;
  EXPECT_EQ(TPend::from_state(s).stretch_percent(), 0);
}

struct WallCase {
  const char* what;
  double bx, by, vx, vy, collision;
  double want_x, want_y, want_vx, want_vy;
  int bounds;
};

TEST(TPendStep, WallsPutTheBallOnTheLineAndReflect) {
  constexpr double kTiny = 0x1p-20;
  const WallCase cases[] = {
      {"right", 314, 120, 2, 0, 0.7, 315, 120, -1.4, 0, 1},
      {"right at exactly 0.5: no sound", 314.75, 120, 0.5, 0, 0.5, 315, 120, -0.25, 0, 0},
      {"right just above 0.5", 314.75, 120, 0.5 + kTiny, 0, 0.5, 315, 120, -0.25 - kTiny / 2, 0, 1},
      {"left", 6, 120, -2, 0, 0.7, 5, 120, 1.4, 0, 1},
      {"left slow", 5.25, 120, -0.5, 0, 0.5, 5, 120, 0.25, 0, 0},
      {"bottom", 160, 234, 0, 2, 0.7, 160, 235, 0, -1.4, 1},
      {"top", 160, 6, 0, -2, 0.7, 160, 5, 0, 1.4, 1},
      {"corner: both walls, both sounds", 314, 234, 2, 2, 0.7, 315, 235, -1.4, -1.4, 2},
      {"on the line is inside", 315, 235, 0, 0, 0.7, 315, 235, 0, 0, 0},
  };
  for (const auto& c : cases) {
    TPend p = TPend::from_state(slack_at(c.bx, c.by, c.vx, c.vy));
    SoundHost host;
    p.step(0.0, c.collision, kMass, false, host);
    const TPend::State& s = p.state();
    EXPECT_EQ(s.ball_x, c.want_x) << c.what;
    EXPECT_EQ(s.ball_y, c.want_y) << c.what;
    EXPECT_EQ(s.vx, c.want_vx) << c.what;
    EXPECT_EQ(s.vy, c.want_vy) << c.what;
    EXPECT_EQ(host.sounds, Sounds(c.bounds, Sound{"bound", 3})) << c.what;
  }
}

// A ball far below the hand with no stiffness and no gravity stays put, so
// every frame is over-stretched.
TPend::State far_from_hand() {
  TPend::State s = slack_at(160.0, 230.0, 0, 0);
  s.hand_y = 0;
  s.rubber_constant = 0.0;
  return s;
}

TEST(TPendStep, CutOnTheEleventhOverStretchedFrame) {
  TPend p = TPend::from_state(far_from_hand());
  SoundHost host;
  for (int frame = 1; frame <= 10; ++frame) {
    p.step(0.0, kCollision, kMass, false, host);
    ASSERT_FALSE(p.is_cut()) << frame;
    EXPECT_EQ(p.state().over_stretch_count, frame);
  }
  EXPECT_EQ(host.take(), (Sounds{{"cutwarn", 3}}));
  EXPECT_GT(p.state().pending_damage, 0.0);
  p.step(0.0, kCollision, kMass, false, host);
  EXPECT_TRUE(p.is_cut());
  EXPECT_TRUE(host.take().empty());
  EXPECT_EQ(p.stretch_percent(), 0);
  // Once cut the count no longer builds up and the cut stays.
  p.step(0.0, kCollision, kMass, false, host);
  EXPECT_TRUE(p.is_cut());
  EXPECT_EQ(p.state().over_stretch_count, 0);
}

TEST(TPendStep, AFrameWithinTheLimitStartsTheCountAgain) {
  TPend p = TPend::from_state(far_from_hand());
  SoundHost host;
  for (int frame = 0; frame < 5; ++frame) p.step(0.0, kCollision, kMass, false, host);
  p.set_hand(160, 200);  // distance 30: within natural length + endurance
  p.step(0.0, kCollision, kMass, false, host);
  EXPECT_EQ(p.state().over_stretch_count, 0);
  p.set_hand(160, 0);
  for (int frame = 1; frame <= 10; ++frame) p.step(0.0, kCollision, kMass, false, host);
  EXPECT_FALSE(p.is_cut());
  p.step(0.0, kCollision, kMass, false, host);
  EXPECT_TRUE(p.is_cut());
  EXPECT_EQ(host.sounds, (Sounds{{"cutwarn", 3}, {"cutwarn", 3}}));
}

TEST(TPendStep, CutStringNoLongerPulls) {
  TPend::State s = slack_at(160.0, 200.0, 0, 0);
  s.hand_x = 0;
  s.hand_y = 0;
  s.cut = true;
  TPend p = TPend::from_state(s);
  SoundHost host;
  p.step(kGravity, kCollision, kMass, false, host);
  EXPECT_EQ(p.state().vx, 0.0);
  EXPECT_EQ(p.state().vy, kGravity);
}

TEST(TPendStep, DamageShareUsesTheExtendedHundredth) {
  // 0.01 x 57 rounds to ...a3d with the extended constant but to ...a3e with
  // the double 0.01 widened.
  TPend::State s = far_from_hand();
  s.endurance = 57.0;
  TPend p = TPend::from_state(s);
  SoundHost host;
  p.step(0.0, kCollision, kMass, false, host);
  EXPECT_EQ(bits(p.state().pending_damage), bits(0x1.23d70a3d70a3dp-1));
}

// Points where an equivalent-looking reordering changes the last bit; the
// random paths of the golden test rarely land on one.
TEST(TPendStep, OperationOrderShowsInTheLastBit) {
  SoundHost host;
  {
    // Spring: divide by the distance, then by the mass (1.5 x 0.5 = 0.75).
    TPend::State s = slack_at(0x1.1bd2ca81016ebp+7, 0x1.dfb97cc61c2b9p+6, -0x1.532bbf8b6a38p-3, 0);
    s.hand_x = 160;
    s.hand_y = 20;
    TPend p = TPend::from_state(s);
    p.step(kGravity, kCollision, 1.5, false, host);
    EXPECT_EQ(bits(p.state().vx), bits(-0x1.4a659154efa0dp-6));  // other order: ...0c
  }
  {
    // Speed limit: the limit times the component, then divided by the speed.
    TPend p = TPend::from_state(slack_at(160, 120, 0x1.189f8ac5168c4p+4, 0x1.f70582997fd7cp+2));
    p.step(0.0, kCollision, kMass, false, host);
    EXPECT_EQ(bits(p.state().vx), bits(0x1.5e6c3c5e40b03p+3));  // other order: ...02
  }
  {
    // Over-stretch: natural length + endurance stays extended. 25 + (50 +
    // 3 x 2^-47) lies 1.5 units of the last place above 75; rounded to a
    // double it would move up to 2 units and the ball at 2 units would not
    // count as over-stretched.
    TPend::State s = far_from_hand();
    s.hand_y = 0;
    s.ball_y = 75.0 + 0x1p-45;
    s.endurance = 50.0 + 3 * 0x1p-47;
    TPend p = TPend::from_state(s);
    ASSERT_EQ(p.distance(), 75.0 + 0x1p-45);
    p.step(0.0, kCollision, kMass, false, host);
    EXPECT_EQ(p.state().over_stretch_count, 1);
  }
}

TEST(TPendStep, PendingDamagePaysOutHalfAFrame) {
  TPend::State s = slack_at(160.0, 140.0, 0, 0);
  s.pending_damage = 2.0;
  TPend p = TPend::from_state(s);
  SoundHost host;
  const double endurance[] = {79.5, 79.0, 78.5, 78.0, 78.0};
  const double pending[] = {1.5, 1.0, 0.5, 0.0, 0.0};
  for (int i = 0; i < 5; ++i) {
    p.step(0.0, kCollision, kMass, false, host);
    EXPECT_EQ(p.endurance(), endurance[i]) << i;
    EXPECT_EQ(p.state().pending_damage, pending[i]) << i;
  }

  s.pending_damage = 0.3;
  p = TPend::from_state(s);
  p.step(0.0, kCollision, kMass, false, host);
  EXPECT_EQ(p.endurance(), (xd(80.0) - xd(0.3)).to_f64());
  EXPECT_EQ(p.state().pending_damage, 0.0);
}

TEST(TPendStep, EnduranceNeverFallsBelowFifty) {
  TPend::State s = slack_at(160.0, 140.0, 0, 0);
  TPend p = TPend::from_state(s);
  p.set_endurance(10.0);  // the setter allows it
  EXPECT_EQ(p.endurance(), 10.0);
  SoundHost host;
  p.step(0.0, kCollision, kMass, false, host);
  EXPECT_EQ(p.endurance(), 50.0);

  s.endurance = 50.25;
  s.pending_damage = 2.0;
  p = TPend::from_state(s);
  p.step(0.0, kCollision, kMass, false, host);
  EXPECT_EQ(p.endurance(), 50.0);
  EXPECT_EQ(p.state().pending_damage, 1.5);
}

TEST(TPendStep, SpeedLimitKeepsTheDirection) {
  struct Case {
    double vx, vy;
    bool experiment;
    double want_vx, want_vy;
  } cases[] = {
      {30, 40, false, 7.2, 9.6},   // speed 50 -> 12
      {30, 40, true, 14.4, 19.2},  // speed 50 -> 24
      {-9, 12, false, -7.2, 9.6},  // speed 15 -> 12
      {9, 12, true, 9, 12},        // 15 is under the experiment limit
      {3, 4, false, 3, 4},         // under the limit: untouched
      {12, 0, false, 12, 0},       // at the limit: untouched
  };
  for (const auto& c : cases) {
    TPend p = TPend::from_state(slack_at(160.0, 120.0, c.vx, c.vy));
    SoundHost host;
    p.step(0.0, kCollision, kMass, c.experiment, host);
    EXPECT_DOUBLE_EQ(p.state().vx, c.want_vx) << c.vx << "," << c.vy;
    EXPECT_DOUBLE_EQ(p.state().vy, c.want_vy) << c.vx << "," << c.vy;
    EXPECT_EQ(p.state().ball_x, (xd(160.0) + xd(p.state().vx)).to_f64());
  }
}

TEST(SignOf, ThreeWays) {
  EXPECT_EQ(sign_of(-0.2), -1);
  EXPECT_EQ(sign_of(0.0), 0);
  EXPECT_EQ(sign_of(-0.0), 0);
  EXPECT_EQ(sign_of(1e-300), 1);
  EXPECT_EQ(sign_of(std::nan("")), 1);
}

// ---------------------------------------------------------------------------
// Golden sequence: an independent reimplementation in long double (the x87
// unit's own extended format) run side by side with TPend. Any reordering of
// an operation or a missing or extra rounding shows up as a bit difference.

struct RefPend {
  double bx, by, vx, vy, radius, rubber, natural, endurance, pending;
  std::int32_t hx, hy, count;
  bool cut;
  Sounds sounds;
  // What the path exercised, so the test can show it is not vacuous.
  int bounces = 0, limited = 0, overstretched = 0;

  using L = long double;

  static std::int32_t sgn(double v) { return v < 0 ? -1 : (v == 0 ? 0 : 1); }
  double mass(double bm) const { return static_cast<double>(L(radius) / 10.0f * L(bm)); }
  double dist() const {
    const L dx = L(hx) - L(bx);
    const L dy = L(hy) - L(by);
    return static_cast<double>(std::sqrt(dx * dx + dy * dy));
  }
  static double clampd(double v, double lo, double hi) { return v < lo ? lo : (v > hi ? hi : v); }

  RefPend(double g, double natural_length, double k, double bm) {
    radius = 5.0;
    rubber = k;
    natural = natural_length;
    endurance = 80.0;
    hx = 160;
    hy = 120;
    bx = 160.0;
    vx = vy = pending = 0.0;
    count = 0;
    cut = false;
    by = static_cast<double>(L(hy) + L(sgn(g)) * (L(mass(bm)) * L(g) / L(k) + L(natural)));
    if (by < radius) by = radius;
    if (240.0L - L(radius) < L(by)) by = static_cast<double>(240.0L - L(radius));
  }

  void step(double g, double cc, double bm, bool experiment) {
    if (pending > 0.5) {
      endurance = static_cast<double>(L(endurance) - 0.5L);
      pending = static_cast<double>(L(pending) - 0.5L);
    } else if (pending > 0) {
      endurance = static_cast<double>(L(endurance) - L(pending));
      pending = 0;
    }
    if (endurance < 50) endurance = 50;
    if (!cut) {
      const double d = dist();
      if (d > natural) {
        const double f = static_cast<double>((L(d) - L(natural)) * L(rubber));
        vx = static_cast<double>((L(hx) - L(bx)) * L(f) / L(d) / L(mass(bm)) + L(vx));
        vy = static_cast<double>((L(hy) - L(by)) * L(f) / L(d) / L(mass(bm)) + L(vy));
      }
    }
    vy = static_cast<double>(L(vy) + L(g));
    const double s = static_cast<double>(std::sqrt(L(vx) * L(vx) + L(vy) * L(vy)));
    const L limit = experiment ? 24.0L : 12.0L;
    if (L(s) > limit) {
      ++limited;
      vx = static_cast<double>(limit * L(vx) / L(s));
      vy = static_cast<double>(limit * L(vy) / L(s));
    }
    bx = static_cast<double>(L(bx) + L(vx));
    by = static_cast<double>(L(by) + L(vy));
    const L r = radius;
    auto bound = [&](double v) {
      ++bounces;
      if (std::fabs(v) > 0.5) sounds.emplace_back("bound", 3);
    };
    if (320.0L - r < L(bx)) {
      bound(vx);
      bx = static_cast<double>(320.0L - r);
      vx = static_cast<double>(-std::fabs(L(vx)) * L(cc));
    }
    if (L(bx) < r) {
      bound(vx);
      bx = radius;
      vx = static_cast<double>(std::fabs(L(vx)) * L(cc));
    }
    if (240.0L - r < L(by)) {
      bound(vy);
      by = static_cast<double>(240.0L - r);
      vy = static_cast<double>(-std::fabs(L(vy)) * L(cc));
    }
    if (L(by) < r) {
      bound(vy);
      by = radius;
      vy = static_cast<double>(std::fabs(L(vy)) * L(cc));
    }
    const double d = dist();
    if (L(d) > L(natural) + L(endurance) && !cut) {
      ++overstretched;
      if (count < 10) {
        if (count == 0) sounds.emplace_back("cutwarn", 3);
        ++count;
        pending = static_cast<double>(0.01L * L(endurance) + L(pending));
      } else {
        cut = true;
      }
    } else {
      count = 0;
    }
  }

  std::int32_t percent() const {
    if (cut) return 0;
    const L p = std::nearbyint((L(dist()) - L(natural)) * 100.0L / L(endurance));
    return static_cast<std::int32_t>(clampd(static_cast<double>(p), 0, 100));
  }
};

struct GoldenConfig {
  const char* what;
  double gravity, collision, natural, rubber, mass;
  bool experiment;
  int flip_at;  // a gravity changer flips the sign here (0: never)
};

class TPendGolden : public ::testing::TestWithParam<GoldenConfig> {};

TEST_P(TPendGolden, MatchesAnIndependentExtendedReimplementationBitForBit) {
  if constexpr (LDBL_MANT_DIG != 64) {
    GTEST_SKIP() << "needs long double in the x87 format";
  }
  const GoldenConfig& c = GetParam();
  TPend p =
      TPend::create(320, 240, c.gravity, c.collision, c.natural, c.rubber, c.mass, c.experiment);
  RefPend ref(c.gravity, c.natural, c.rubber, c.mass);
  SoundHost host;
  double gravity = c.gravity;

  // Scripted hand: glides toward waypoints (some beyond the field, so the
  // clamps take part), jumps now and then, and from frame 270 flings the ball
  // between opposite corners until the string goes.
  std::uint32_t lcg = 12345;
  auto draw = [&](std::int32_t lo, std::int32_t hi) {
    lcg = lcg * 1103515245u + 12345u;
    return lo + static_cast<std::int32_t>((lcg >> 8) % static_cast<std::uint32_t>(hi - lo + 1));
  };
  constexpr std::int32_t kGlide = 5;
  std::int32_t hx = 160, hy = 120, tx = 160, ty = 120;
  int cut_frame = 0;
  for (int frame = 1; frame <= 300; ++frame) {
    if (frame % 25 == 1) {
      tx = draw(-30, 350);
      ty = draw(-30, 270);
    }
    if (frame >= 270) {
      hx = (frame / 4) % 2 == 0 ? -40 : 360;
      hy = (frame / 4) % 2 == 0 ? -40 : 280;
    } else if (frame % 90 == 0) {
      hx = tx;
      hy = ty;
    } else {
      hx += std::clamp(tx - hx, -kGlide, kGlide);
      hy += std::clamp(ty - hy, -kGlide, kGlide);
    }
    if (c.flip_at != 0 && frame == c.flip_at) gravity = -gravity;
    if (frame % 37 == 0) {
      p.set_endurance((xd(p.endurance()) + xf(5.0f)).to_f64());
      ref.endurance = RefPend::clampd(
          static_cast<double>(static_cast<long double>(ref.endurance) + 5.0L), 1, 180);
    }
    if (frame % 53 == 0) {
      p.set_radius((xd(p.radius()) + xf(2.0f)).to_f64());
      ref.radius =
          RefPend::clampd(static_cast<double>(static_cast<long double>(ref.radius) + 2.0L), 1, 40);
    }

    p.set_hand(hx, hy);
    ref.hx = std::clamp(hx, 0, 320);
    ref.hy = std::clamp(hy, 0, 240);
    p.step(gravity, c.collision, c.mass, c.experiment, host);
    ref.step(gravity, c.collision, c.mass, c.experiment);

    const TPend::State& s = p.state();
    SCOPED_TRACE(::testing::Message() << c.what << ", frame " << frame);
    ASSERT_EQ(bits(s.ball_x), bits(ref.bx));
    ASSERT_EQ(bits(s.ball_y), bits(ref.by));
    ASSERT_EQ(bits(s.vx), bits(ref.vx));
    ASSERT_EQ(bits(s.vy), bits(ref.vy));
    ASSERT_EQ(bits(s.endurance), bits(ref.endurance));
    ASSERT_EQ(bits(s.pending_damage), bits(ref.pending));
    ASSERT_EQ(bits(s.radius), bits(ref.radius));
    ASSERT_EQ(s.over_stretch_count, ref.count);
    ASSERT_EQ(s.cut, ref.cut);
    ASSERT_EQ(bits(p.distance()), bits(ref.dist()));
    ASSERT_EQ(p.stretch_percent(), ref.percent());
    ASSERT_EQ(p.ball_x(), static_cast<std::int32_t>(std::nearbyint(ref.bx)));
    ASSERT_EQ(p.ball_y(), static_cast<std::int32_t>(std::nearbyint(ref.by)));
    ASSERT_EQ(p.velocity(), (Point{static_cast<std::int32_t>(std::nearbyint(ref.vx)),
                                   static_cast<std::int32_t>(std::nearbyint(ref.vy))}));
    ASSERT_EQ(host.sounds, ref.sounds);
    if (s.cut && cut_frame == 0) cut_frame = frame;
  }
  EXPECT_GT(ref.bounces, 0) << c.what;
  EXPECT_GT(ref.limited, 0) << c.what;
  EXPECT_GT(ref.overstretched, 0) << c.what;
  RecordProperty("cut_frame", cut_frame);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, TPendGolden,
    ::testing::Values(
        GoldenConfig{"defaults", kGravity, kCollision, kNatural, kRubber, kMass, false, 0},
        GoldenConfig{"experiment", -0.3, 0.9, 30.0, 0.04, 0.75, true, 0},
        GoldenConfig{"gravity flips", kGravity, kCollision, kNatural, kRubber, kMass, false, 150},
        GoldenConfig{"stiff and heavy", 0.35, 0.45, 12.5, 0.02, 2.25, false, 200}),
    [](const ::testing::TestParamInfo<GoldenConfig>& info) {
      std::string name = info.param.what;
      std::replace(name.begin(), name.end(), ' ', '_');
      return name;
    });

}  // namespace
}  // namespace zt
