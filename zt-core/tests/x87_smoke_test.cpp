#include "x87.h"

#include <gtest/gtest.h>

#include <cmath>

namespace zt {
namespace {

TEST(X87Smoke, ExtendedSumRoundsTwiceToEven) {
  double tiny = std::ldexp(1.0, -53) + std::ldexp(1.0, -64);
  X87 s = X87::add(X87::from_f64(1.0), X87::from_f64(tiny));
  EXPECT_EQ(s.to_f64(), 1.0);
  volatile double direct = 1.0 + tiny;
  EXPECT_EQ(direct, 1.0 + std::ldexp(1.0, -52));
}

}  // namespace
}  // namespace zt
