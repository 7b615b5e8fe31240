#include "game/ugame_targets.h"

#include <gtest/gtest.h>

namespace zt {
namespace {

TEST(TSlotSet, PushesMoveTargetsTowardTheLiveSlot) {
  TSlotSet set;
  set.push({30, 40}, kTargetPlain, {0, 0});
  set.push({50, 60}, kTargetEndurance, {1, -1});
  set.push({70, 80}, kTargetRadius, {-2, 2});
  EXPECT_EQ(set.live(), (Target{30, 40, 0, 0, kTargetPlain}));
  EXPECT_EQ(set.slot(1), (Target{50, 60, 1, -1, kTargetEndurance}));
  EXPECT_EQ(set.slot(0), (Target{70, 80, -2, 2, kTargetRadius}));

  set.push({90, 100}, kTargetPlain, {3, 3});  // the first target is gone
  EXPECT_EQ(set.live(), (Target{50, 60, 1, -1, kTargetEndurance}));
  EXPECT_EQ(set.slot(1), (Target{70, 80, -2, 2, kTargetRadius}));
  EXPECT_EQ(set.slot(0), (Target{90, 100, 3, 3, kTargetPlain}));
}

TEST(TSlotSet, MoveBouncesOnTheNewPosition) {
  struct Case {
    const char* what;
    Target from, to;
  } cases[] = {
      {"right edge: turns, stays outside this frame", {294, 100, 2, 0}, {296, 100, -2, 0}},
      {"left edge", {20, 100, -3, 0}, {17, 100, 3, 0}},
      {"already heading back", {297, 100, -2, 0}, {295, 100, -2, 0}},
      {"on the box line does not turn", {293, 100, 2, 0}, {295, 100, 2, 0}},
      {"bottom edge", {100, 214, 0, 2}, {100, 216, 0, -2}},
      {"top edge", {100, 26, 0, -3}, {100, 23, 0, 3}},
      {"corner", {24, 216, -1, 1}, {23, 217, 1, -1}},
      {"standing still outside stays", {10, 230, 0, 0}, {10, 230, 0, 0}},
  };
  for (const auto& c : cases) {
    TSlotSet set;
    // The same target in all three slots: every slot moves.
    for (int i = 0; i < 3; ++i)
      set.push({c.from.x, c.from.y}, kTargetPlain, {c.from.vx, c.from.vy});
    set.move();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(set.slot(i), c.to) << c.what << " slot " << i;
  }
}

}  // namespace
}  // namespace zt
