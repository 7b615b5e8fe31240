#include "date_time.h"

#include <cmath>
#include <cstdio>

#include "formats/date_time.h"

namespace zt::win {

namespace {

constexpr double kMsPerDay = 86'400'000.0;
constexpr double kFirstMs = kFirstShownDay * kMsPerDay;                  // 0001-01-01
constexpr double kLastMs = kLastShownDay * kMsPerDay + (kMsPerDay - 1);  // 9999-12-31 23:59:59.999

// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void civil_from_days(std::int64_t z, std::int32_t& y, std::int32_t& m, std::int32_t& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  d = static_cast<std::int32_t>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<std::int32_t>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<std::int32_t>(yoe + era * 400 + (m <= 2 ? 1 : 0));
}

}  // namespace

std::optional<DateTimeFields> decode_date_time(double days) {
  if (!date_shown(days)) return std::nullopt;
  // Rounding may still carry a value at either end of the range past it.
  double ms = std::nearbyint(days * kMsPerDay);
  if (ms < kFirstMs) ms = kFirstMs;
  if (ms > kLastMs) ms = kLastMs;
  const auto total = static_cast<std::int64_t>(ms);
  const std::int64_t per_day = static_cast<std::int64_t>(kMsPerDay);
  // Truncating division: before 1899-12-30 the whole part is still the day
  // and the fraction, whatever its sign, the time of day.
  const std::int64_t day = total / per_day;
  const std::int64_t time = (total < 0 ? -total : total) % per_day;
  DateTimeFields f;
  civil_from_days(day - 25569, f.year, f.month, f.day);
  f.hour = static_cast<std::int32_t>(time / 3'600'000);
  f.minute = static_cast<std::int32_t>(time / 60'000 % 60);
  f.second = static_cast<std::int32_t>(time / 1000 % 60);
  f.millisecond = static_cast<std::int32_t>(time % 1000);
  return f;
}

std::string format_date(double days) {
  const std::optional<DateTimeFields> f = decode_date_time(days);
  if (!f) return std::string(kNoDateText);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d/%02d/%02d", f->year, f->month, f->day);
  return buf;
}

std::string format_date_time(double days) {
  const std::optional<DateTimeFields> f = decode_date_time(days);
  if (!f) return std::string(kNoDateText) + " " + std::string(kNoTimeText);
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04d/%02d/%02d %02d:%02d:%02d", f->year, f->month, f->day,
                f->hour, f->minute, f->second);
  return buf;
}

}  // namespace zt::win
