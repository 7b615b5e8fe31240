#include "game/utext.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cstdint>
#include <string>
#include <vector>

#include "game/urandom.h"

namespace zt {
namespace {

// Texts are told apart by their x; y carries nothing here.
std::vector<std::int32_t> order(const TAllTexts& list) {
  std::vector<std::int32_t> xs;
  for (const TText& t : list.texts()) xs.push_back(t.x);
  return xs;
}

TEST(TAllTexts, SortsByKindAfterEveryAddition) {
  TAllTexts list;
  list.add_score("100", {2, 0});
  list.add_judge(1, {1, 0});
  list.add_percent(50, {0, 0});
  EXPECT_EQ(order(list), (std::vector<std::int32_t>{0, 1, 2}));
}

TEST(TAllTexts, QuicksortOrderOfEqualKinds) {
  enum { A = 1, B, C };
  TAllTexts list;
  list.add_judge(0, {A, 0});
  list.add_judge(0, {B, 0});
  EXPECT_EQ(order(list), (std::vector<std::int32_t>{B, A}));
  list.add_judge(0, {C, 0});
  EXPECT_EQ(order(list), (std::vector<std::int32_t>{C, A, B}));
}

TEST(TAllTexts, TwoHitsThenAScoreText) {
  enum { J1 = 1, P1, J2, P2, S };
  TAllTexts list;
  list.add_judge(0, {J1, 0});
  list.add_percent(90, {P1, 0});
  list.add_judge(2, {J2, 0});
  list.add_percent(45, {P2, 0});
  EXPECT_EQ(order(list), (std::vector<std::int32_t>{P2, P1, J1, J2}));
  // Not stable: one more addition reorders texts of the same kind.
  list.add_score("17100", {S, 0});
  EXPECT_EQ(order(list), (std::vector<std::int32_t>{P1, P2, J2, J1, S}));
}

TEST(TAllTexts, KeepsWhatEachKindCarries) {
  TAllTexts list;
  list.add_score("17100", {10, 20});
  list.add_judge(3, {30, 40});
  list.add_percent(95, {50, 60});
  const auto& t = list.texts();
  ASSERT_EQ(t.size(), 3u);
  EXPECT_EQ(t[0].kind, kTextPercent);
  EXPECT_EQ(t[0].value, 95);
  EXPECT_EQ(t[0].x, 50);
  EXPECT_EQ(t[0].y, 60);
  EXPECT_EQ(t[1].kind, kTextJudge);
  EXPECT_EQ(t[1].value, 3);
  EXPECT_EQ(t[2].kind, kTextScore);
  EXPECT_EQ(t[2].text, "17100");
  for (const TText& x : t) EXPECT_EQ(x.age, 0);
}

TEST(TAllTexts, EachKindExpiresAtItsAge) {
  TAllTexts list;
  list.step();  // an empty list is fine
  list.add_percent(1, {0, 0});
  list.add_percent(2, {1, 0});
  list.add_judge(0, {2, 0});
  list.add_score("5", {3, 0});
  struct Mark {
    int steps;
    std::size_t left;
  } marks[] = {{49, 4}, {50, 3}, {99, 3}, {100, 2}, {149, 2}, {150, 0}};
  int done = 0;
  for (const auto& m : marks) {
    for (; done < m.steps; ++done) list.step();
    EXPECT_EQ(list.texts().size(), m.left) << "after " << m.steps;
  }
}

TEST(TAllTexts, RemovalKeepsTheOrderOfTheRest) {
  TAllTexts list;
  list.add_percent(1, {1, 0});
  list.add_judge(0, {2, 0});
  list.add_percent(2, {3, 0});
  list.add_judge(0, {4, 0});
  const std::vector<std::int32_t> all = order(list);
  for (int i = 0; i < 50; ++i) list.step();
  std::vector<std::int32_t> percents;
  for (std::int32_t x : all) {
    if (x == 1 || x == 3) percents.push_back(x);
  }
  EXPECT_EQ(order(list), percents);
  EXPECT_EQ(list.texts()[0].age, 50);
}

TEST(TFragments, BurstDrawsInOrderAndStoresExtendedResults) {
  if constexpr (LDBL_MANT_DIG != 64) {
    GTEST_SKIP() << "needs long double in the x87 format";
  }
  TFragments list;
  std::uint32_t state = 7;
  list.burst(kTextJudge, {100, 50}, 3, {7, -4}, state);
  ASSERT_EQ(list.fragments().size(), 3u);

  std::uint32_t ref = 7;
  for (const TFragment& f : list.fragments()) {
    const std::int32_t dx = 7 / 2 + 5;  // 8
    const std::int32_t rx = Random(ref, dx * 1000);
    const std::int32_t dy = 4 / 2 + 5;  // 7
    const std::int32_t ry = Random(ref, dy * 1000);
    const std::int32_t counter = Random(ref, 5);
    const double vx = static_cast<double>(7.0L + dx - static_cast<long double>(rx) / 500.0f);
    const double vy = static_cast<double>(-4.0L + dy - static_cast<long double>(ry) / 500.0f);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(f.vx), std::bit_cast<std::uint64_t>(vx));
    EXPECT_EQ(std::bit_cast<std::uint64_t>(f.vy), std::bit_cast<std::uint64_t>(vy));
    EXPECT_EQ(f.counter, counter);
    EXPECT_EQ(f.x, 100.0);
    EXPECT_EQ(f.y, 50.0);
    EXPECT_EQ(f.kind, kTextJudge);
    // Scatter is (v - dx, v + dx].
    EXPECT_GT(f.vx, 7.0 - dx);
    EXPECT_LE(f.vx, 7.0 + dx);
    EXPECT_LE(f.counter, 4);
  }
  EXPECT_EQ(state, ref);

  for (std::int32_t count : {0, -5}) {
    std::uint32_t s = 7;
    list.burst(0, {0, 0}, count, {0, 0}, s);
    EXPECT_EQ(s, 7u);
  }
  EXPECT_EQ(list.fragments().size(), 3u);
}

TEST(TFragment, StepAddsGravityBeforeMoving) {
  TFragment f;
  f.x = 100;
  f.y = 100;
  f.vx = 1.5;
  f.vy = -2;
  f.counter = 4;
  EXPECT_FALSE(f.step(0.5));
  EXPECT_EQ(f.vy, -1.5);
  EXPECT_EQ(f.x, 101.5);
  EXPECT_EQ(f.y, 98.5);
  EXPECT_EQ(f.counter, 5);
}

TEST(TFragment, LeavesTheFieldByTheEdgesItsGravityAllows) {
  struct Case {
    const char* what;
    double gravity, x, y;
    bool removed;
  } cases[] = {
      {"down: above the field stays", 0.2, 100, -50, false},
      {"down: below the field goes", 0.2, 100, 241, true},
      {"up: below the field stays", -0.2, 100, 300, false},
      {"up: above the field goes", -0.2, 100, -1, true},
      {"none: above goes", 0.0, 100, -1, true},
      {"none: below goes", 0.0, 100, 241, true},
      {"none: inside stays", 0.0, 100, 120, false},
      {"on the bottom line stays", 0.0, 100, 240, false},
      {"left side goes", 0.2, -1, 100, true},
      {"right side goes", -0.2, 321, 100, true},
      {"on the right line stays", 0.0, 320, 100, false},
  };
  for (const auto& c : cases) {
    TFragment f;
    f.x = c.x;
    f.y = c.y;
    // Gravity is added to vy first: start with -gravity so y stays put.
    f.vy = -c.gravity;
    EXPECT_EQ(f.step(c.gravity), c.removed) << c.what;
  }
}

TEST(TFragments, StepRemovesThoseThatLeftAndKeepsTheOrder) {
  TFragments list;
  std::uint32_t state = 1;
  list.burst(0, {10, 120}, 1, {0, 0}, state);
  list.burst(1, {160, 120}, 1, {0, 0}, state);
  list.burst(2, {10, 120}, 1, {0, 0}, state);
  list.burst(0, {300, 120}, 1, {0, 0}, state);
  // Scatter is at most 5 a frame each way; after three frames the two
  // fragments that started at x 10 may be gone, the middle one never.
  for (int i = 0; i < 3; ++i) list.step(0.0);
  for (const TFragment& f : list.fragments()) {
    EXPECT_GE(f.x, 0.0);
    EXPECT_LE(f.x, 320.0);
  }
  bool middle = false;
  for (const TFragment& f : list.fragments()) middle = middle || f.kind == 1;
  EXPECT_TRUE(middle);
  for (int i = 0; i < 200; ++i) list.step(0.0);
  EXPECT_TRUE(list.fragments().empty());
}

TEST(TGravityChanger, PhasesFromEitherSide) {
  struct Case {
    bool from_right;
    std::int32_t start_x, wait_x, gone_x;
  } cases[] = {{false, -30, 111, -61}, {true, 270, 129, 301}};
  for (const auto& c : cases) {
    TGravityChanger g = TGravityChanger::create(c.from_right);
    EXPECT_EQ(g.x(), c.start_x);
    EXPECT_EQ(g.y(), 160);
    EXPECT_EQ(g.phase(), TGravityChanger::kApproach);
    EXPECT_EQ(g.from_right(), c.from_right);

    int frames = 0;
    while (g.phase() == TGravityChanger::kApproach) {
      const auto r = g.step(0.2);
      ASSERT_EQ(r.gravity, 0.2);
      ASSERT_FALSE(r.gone);
      ASSERT_LT(++frames, 1000);
    }
    EXPECT_EQ(g.x(), c.wait_x);
    EXPECT_EQ(g.counter(), 0);

    for (int n = 1; n <= 30; ++n) {
      const auto r = g.step(0.2);
      ASSERT_EQ(r.gravity, 0.2) << n;
      ASSERT_EQ(g.phase(), TGravityChanger::kWait) << n;
    }
    const auto flip = g.step(0.2);  // the 31st frame of waiting
    EXPECT_EQ(flip.gravity, -0.2);
    EXPECT_EQ(g.phase(), TGravityChanger::kLeave);
    EXPECT_EQ(g.x(), c.wait_x);

    TGravityChanger::StepResult r{};
    frames = 0;
    do {
      r = g.step(-0.2);
      ASSERT_EQ(r.gravity, -0.2);
      ASSERT_LT(++frames, 1000);
    } while (!r.gone);
    EXPECT_EQ(g.x(), c.gone_x);
    EXPECT_EQ(frames, 172);  // it leaves the way it came, a pixel a frame
  }
}

TEST(TGravityChanger, FlipNegatesExactly) {
  for (double g : {0.2, -0.2, 0.0, 1e-310}) {
    TGravityChanger c = TGravityChanger::create(false);
    TGravityChanger::StepResult r{g, false};
    while (c.phase() != TGravityChanger::kLeave) r = c.step(g);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(r.gravity), std::bit_cast<std::uint64_t>(-g)) << g;
  }
}

}  // namespace
}  // namespace zt
