// Sign operations on extended values, done on the sign bit as the x87 unit's
// fabs and fchs do them: exact, and -0 stays distinct from +0.
#pragma once

#include "x87.h"

namespace zt {

inline X87 x87_abs(const X87& a) {
  return X87::from_bits(a.bits().signif, static_cast<std::uint16_t>(a.bits().sign_exp & 0x7FFFu));
}

inline X87 x87_neg(const X87& a) {
  return X87::from_bits(a.bits().signif, static_cast<std::uint16_t>(a.bits().sign_exp ^ 0x8000u));
}

}  // namespace zt
