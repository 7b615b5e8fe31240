// Date-times as the score file and replay headers store them: a double
// counting days since 1899-12-30, local time.
#pragma once

#include <string_view>

namespace zt {

// The days either program writes out as a calendar date: 0001-01-01 to
// 9999-12-31, the range of the Windows program's run-time library. The day
// of a value is the value truncated toward zero.
inline constexpr double kFirstShownDay = -693593.0;  // 0001-01-01
inline constexpr double kLastShownDay = 2958465.0;   // 9999-12-31

// False for a value whose day lies outside that range, an infinite value
// and NaN (a damaged or hand-made file).
constexpr bool date_shown(double days) {
  return days > kFirstShownDay - 1.0 && days < kLastShownDay + 1.0;
}

// What stands in the place of such a date and its time of day: as wide as
// an ordinary "yyyy/mm/dd" and "hh:nn:ss", in characters every font has.
inline constexpr std::string_view kNoDateText = "----/--/--";
inline constexpr std::string_view kNoTimeText = "--:--:--";

}  // namespace zt
