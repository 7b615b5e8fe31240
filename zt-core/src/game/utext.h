// The floating texts, the fragments a hit throws off, and the gravity changer:
// the field objects besides the pendulum and the targets. Their drawing lives
// with the rest of the play picture.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "game/glue.h"

namespace zt {

enum TextKind : std::uint8_t {
  kTextPercent = 0,
  kTextJudge = 1,
  kTextScore = 2,
};

struct TText {
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::uint8_t kind = kTextPercent;
  std::int32_t age = 0;
  std::uint8_t value = 0;  // the percent (kind 0) or the judge class (kind 1)
  std::string text;        // kind 2 only
};

// Kept sorted by kind after every addition with a quicksort that is not
// stable; its exact result is the drawing order.
class TAllTexts {
 public:
  TAllTexts();

  void add_percent(std::uint8_t value, Point position);
  void add_judge(std::uint8_t judge_class, Point position);
  void add_score(std::string text, Point position);
  // Ages every text and drops those that have been shown long enough.
  void step();

  const std::vector<TText>& texts() const { return texts_; }

 private:
  void add(TText t);
  void sort(std::int32_t l, std::int32_t r);

  std::vector<TText> texts_;
};

struct TFragment {
  std::uint8_t kind = 0;  // the kind of the target that burst
  double x = 0.0;
  double y = 0.0;
  double vx = 0.0;
  double vy = 0.0;
  std::int32_t counter = 0;  // animation frame count

  // One frame under the given gravity; true when the fragment has left the
  // field (which edges count depends on the gravity's sign).
  bool step(double gravity);
};

class TFragments {
 public:
  TFragments();

  // count fragments at the target's position, thrown with the pendulum's
  // rounded velocity and scattered by the runtime generator.
  void burst(std::uint8_t kind, Point position, std::int32_t count, Point velocity,
             std::uint32_t& random_state);
  void step(double gravity);

  const std::vector<TFragment>& fragments() const { return fragments_; }

 private:
  std::vector<TFragment> fragments_;
};

class TGravityChanger {
 public:
  enum Phase : std::int32_t { kApproach = 0, kWait = 1, kLeave = 2 };

  struct StepResult {
    double gravity;  // negated on the frame of the flip
    bool gone;       // the changer has left; the caller drops it
  };

  static TGravityChanger create(bool from_right);
  StepResult step(double gravity);

  std::int32_t x() const { return x_; }
  std::int32_t y() const { return y_; }
  std::int32_t dx() const { return dx_; }
  std::int32_t phase() const { return phase_; }
  std::int32_t counter() const { return counter_; }
  bool from_right() const { return from_right_; }

 private:
  TGravityChanger() = default;

  std::int32_t y_ = 160;
  std::int32_t x_ = 0;
  std::int32_t dx_ = 1;
  std::int32_t phase_ = kApproach;
  std::int32_t counter_ = 0;
  bool from_right_ = false;
};

}  // namespace zt
