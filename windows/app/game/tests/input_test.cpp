// The key poll with its click latches, and the pointer mapped between the
// display mode and the field.
#include <gtest/gtest.h>

#include <map>

#include "game/ugame.h"
#include "getkey.h"
#include "memory_host.h"

namespace zt::win {
namespace {

// Presses since the last query, per key, as the system keeps them.
std::map<int, int> g_pressed;
SHORT scripted(int vk) {
  const bool was = g_pressed[vk] > 0;
  g_pressed[vk] = 0;
  return was ? 1 : 0;
}

class GetKeyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_pressed.clear();
    LeftClicked = RightClicked = 0;
    SetAsyncKeyStateSource(&scripted);
  }
  void TearDown() override { SetAsyncKeyStateSource(nullptr); }
};

TEST_F(GetKeyTest, AClickIsSeenByOneReadOnly) {
  LeftClicked = 1;
  EXPECT_TRUE(GetKey(VK_LBUTTON));
  EXPECT_FALSE(GetKey(VK_LBUTTON));
  // Two presses before a read count once.
  RightClicked = 1;
  RightClicked = 1;
  EXPECT_TRUE(GetKey(VK_RBUTTON));
  EXPECT_FALSE(GetKey(VK_RBUTTON));
}

TEST_F(GetKeyTest, LatchesAreIndependentAndNeverAskTheSystem) {
  g_pressed[VK_LBUTTON] = 1;  // the system's own button state is not used
  RightClicked = 1;
  EXPECT_FALSE(GetKey(VK_LBUTTON));
  EXPECT_TRUE(GetKey(VK_RBUTTON));
  EXPECT_EQ(g_pressed[VK_LBUTTON], 1);
}

TEST_F(GetKeyTest, KeysReportAPressOnceAndReadingClearsThem) {
  g_pressed['Q'] = 1;
  EXPECT_TRUE(GetKey('Q'));
  EXPECT_FALSE(GetKey('Q'));
  // The middle button and Shift go to the system like any key.
  g_pressed[VK_MBUTTON] = 1;
  g_pressed[VK_SHIFT] = 1;
  EXPECT_TRUE(GetKey(VK_MBUTTON));
  EXPECT_TRUE(GetKey(VK_SHIFT));
  EXPECT_FALSE(GetKey(VK_SHIFT));
}

// The game reads the host's pointer in screen pixels and maps it with the
// display mode's size, both ways.
TEST(PointerScaling, ScreenPixelsToFieldAndBack) {
  struct Case {
    std::int32_t w, h;
    Point screen, field;
  };
  const Case cases[] = {
      {640, 480, {639, 479}, {319, 239}}, {640, 480, {0, 0}, {0, 0}},
      {640, 480, {1, 1}, {0, 0}},         {640, 480, {321, 241}, {160, 120}},
      {800, 600, {799, 599}, {319, 239}}, {800, 600, {5, 5}, {2, 2}},
      {800, 600, {400, 300}, {160, 120}},
  };
  for (const Case& c : cases) {
    MemoryHost host;
    TGame game = TGame::create(TConfig{});
    game.set_screen_size(c.w, c.h);
    host.set_pointer(c.screen.x, c.screen.y);
    EXPECT_EQ(game.pointer_pos(host), c.field) << c.w << " " << c.screen.x;
  }
  MemoryHost host;
  TGame game = TGame::create(TConfig{});
  game.set_screen_size(800, 600);
  game.warp_pointer(319, 239, host);
  game.warp_pointer(1, 1, host);
  ASSERT_EQ(host.warps.size(), 2u);
  EXPECT_EQ(host.warps[0], (Point{797, 597}));
  EXPECT_EQ(host.warps[1], (Point{2, 2}));
}

}  // namespace
}  // namespace zt::win
