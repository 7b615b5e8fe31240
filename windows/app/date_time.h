// The calendar fields of a date-time value (days since 1899-12-30), split as
// the program's run-time library splits them: the whole value rounded to the
// millisecond, then into days and time of day.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zt::win {

struct DateTimeFields {
  std::int32_t year = 1899, month = 12, day = 30;
  std::int32_t hour = 0, minute = 0, second = 0, millisecond = 0;
  friend bool operator==(const DateTimeFields&, const DateTimeFields&) = default;
};

// Nothing for a value whose day lies outside 0001-01-01 to 9999-12-31, an
// infinite one or NaN (a damaged score file): the core's date_shown.
std::optional<DateTimeFields> decode_date_time(double days);

// "yyyy/mm/dd" and "yyyy/mm/dd hh:nn:ss"; for a date that is not shown, the
// core's kNoDateText and kNoTimeText in their places, as the game draws it.
std::string format_date(double days);
std::string format_date_time(double days);

}  // namespace zt::win
