// A score table with a few entries of its own among the defaults.
#pragma once

#include "game/uhiscore.h"

namespace zt::win::test {

// 2024-03-05 14:07:09, 2001-09-09 01:46:40 and 2024-02-29 23:59:59.
inline constexpr double kMarch5 = 45356.0 + (14 * 3600 + 7 * 60 + 9) / 86400.0;
inline constexpr double kSept9 = 37143.0 + (1 * 3600 + 46 * 60 + 40) / 86400.0;
inline constexpr double kLeapDay = 45351.0 + (23 * 3600 + 59 * 60 + 59) / 86400.0;

// 1 ZENTRIA 123456, 2 AB<I>&C 12345, 3..6 defaults 10000..7000,
// 7 LEAP 6500, then defaults 6000..4000.
inline THiScore fixture_table() {
  THiScore t("ZTScore.dat");
  t.insert("ZENTRIA", 123456, kMarch5);
  t.insert("AB<I>&C", 12345, kSept9);
  t.insert("LEAP", 6500, kLeapDay);
  return t;
}

}  // namespace zt::win::test
