// Exact extended values of 64-bit integers for the game's formulas.
#pragma once

#include <cstdint>

#include "x87.h"

namespace zt {

// Both 32-bit halves enter exactly and so does their sum, which needs at most
// 64 significant bits. A value that fits in 32 bits, as nearly all do, enters
// in one load: the same exact value, so the same bits.
inline X87 x87_from_i64(std::int64_t v) {
  if (v >= INT32_MIN && v <= INT32_MAX) return xi(static_cast<std::int32_t>(v));
  const auto u = static_cast<std::uint64_t>(v);
  const auto hi = static_cast<std::int32_t>(static_cast<std::uint32_t>(u >> 32));
  const auto lo = static_cast<double>(static_cast<std::uint32_t>(u));
  return xi(hi) * xd(4294967296.0) + xd(lo);
}

}  // namespace zt
