#include "play_host.h"

#include <time.h>

#include <cmath>

namespace zt {

double local_datetime(double unix_seconds, std::int64_t utc_offset_seconds) {
  // A real floor: a negative offset must round down, not toward zero.
  const double minutes = std::floor(static_cast<double>(utc_offset_seconds + 30) / 60.0);
  return (unix_seconds + minutes * 60.0) / 86400.0 + 25569.0;
}

double PlayHost::now_datetime() {
  timespec ts{};
  if (::clock_gettime(CLOCK_REALTIME, &ts) != 0 || ts.tv_sec < 0) return 25569.0;
  const double seconds = static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
  std::int64_t offset = 0;
  tm local{};
  const time_t now = ts.tv_sec;
  if (::localtime_r(&now, &local) != nullptr) offset = local.tm_gmtoff;
  return local_datetime(seconds, offset);
}

}  // namespace zt
