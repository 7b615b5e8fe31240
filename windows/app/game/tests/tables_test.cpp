// The sheets' cell table and the sound channels' priority rule.
#include <gtest/gtest.h>

#include "sounds.h"
#include "surfaces.h"

namespace zt::win {
namespace {

bool same(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

TEST(CellRect, CellsOfTheSheets) {
  struct Case {
    int sheet;
    std::int32_t n;
    RECT expected;
  };
  const Case cases[] = {
      {1, 1, {0, 128, 128, 256}},                              // ball
      {1, 2, {0, 0, 0, 0}},                                    // past the last row
      {7, 59, {456, 48, 480, 72}},                             // target
      {7, 60, {0, 0, 0, 0}},       {13, 3, {0, 90, 60, 120}},  // judge
      {10, 24, {0, 12, 12, 24}},  // font: the second row starts at cell 24
      {14, 10, {50, 0, 55, 8}},   // pfont
      {2, 0, {0, 0, 11, 11}},     // hand: whole sheet for any n
      {2, 99, {0, 0, 11, 11}},     {3, 5, {0, 0, 219, 148}},  // logo
      {5, -1, {0, 0, 320, 240}},                              // titlebg
  };
  for (const Case& c : cases) {
    const SheetCut& cut = kSheetCuts[static_cast<std::size_t>(c.sheet - 1)];
    const RECT r = CellRect(c.sheet, c.n, cut.width, cut.height);
    EXPECT_TRUE(same(r, c.expected)) << cut.member << " cell " << c.n << ": " << r.left << ","
                                     << r.top << "," << r.right << "," << r.bottom;
  }
  // Any other surface is one whole cell.
  EXPECT_TRUE(same(CellRect(0, 3, 40, 30), RECT{0, 0, 40, 30}));
  EXPECT_TRUE(same(CellRect(21, 3, 40, 30), RECT{0, 0, 40, 30}));
}

TEST(CellRect, TableMatchesTheGameSheets) {
  // The cell counts the game relies on follow from the table.
  const std::pair<int, int> counts[] = {{1, 2},   {4, 2},   {6, 10},  {7, 60}, {9, 15},
                                        {10, 72}, {11, 40}, {12, 10}, {13, 5}, {15, 10},
                                        {17, 2},  {18, 20}, {19, 2},  {20, 3}};
  for (const auto& [sheet, cells] : counts) {
    const SheetCut& c = kSheetCuts[static_cast<std::size_t>(sheet - 1)];
    EXPECT_EQ(c.height / c.cell_height * c.columns, cells) << c.member;
    EXPECT_EQ(c.columns * c.cell_width, c.width) << c.member;
  }
  EXPECT_EQ(kSheetCuts[3].colour_key, 255u);
  for (std::size_t i = 0; i < kSheetCuts.size(); ++i) {
    if (i != 3) {
      EXPECT_EQ(kSheetCuts[i].colour_key, 0u) << kSheetCuts[i].member;
    }
  }
}

TEST(ChooseChannel, LowestPriorityGivesWayFirstOfEqualsWins) {
  std::vector<std::int32_t> p = {5, 3, 3, 9, 4, 4, 7, 3};
  EXPECT_EQ(ChooseChannel(p, std::vector<bool>(8, true)), 1u);
  EXPECT_EQ(p, (std::vector<std::int32_t>{5, 3, 3, 9, 4, 4, 7, 3}));
}

TEST(ChooseChannel, StoppedChannelsAreResetAndTakenFirst) {
  std::vector<std::int32_t> p = {5, 3, 9, 9, 4, 4, 7, 2};
  std::vector<bool> playing(8, true);
  playing[3] = false;
  playing[6] = false;
  EXPECT_EQ(ChooseChannel(p, playing), 3u);
  EXPECT_EQ(p[3], 0);
  EXPECT_EQ(p[6], 0);
  // A higher-priority effect gives way when every channel is busy with higher ones.
  std::vector<std::int32_t> busy(8, 9);
  busy[5] = 8;
  EXPECT_EQ(ChooseChannel(busy, std::vector<bool>(8, true)), 5u);
  // No device: nothing plays, every channel counts as free.
  std::vector<std::int32_t> none = {4, 4};
  EXPECT_EQ(ChooseChannel(none, {}), 0u);
  EXPECT_EQ(none, (std::vector<std::int32_t>{0, 0}));
}

TEST(SoundNames, FoundWithoutRegardToCase) {
  NoCaseLess less;
  EXPECT_FALSE(less("Select", "select"));
  EXPECT_FALSE(less("select", "Select"));
  EXPECT_TRUE(less("bound", "Select"));
}

}  // namespace
}  // namespace zt::win
