// 80-bit extended arithmetic as the x87 unit computes it with a 64-bit
// significand and rounding to nearest-even. Every floating-point step of the
// game goes through these operations so that both programs get the same bits.
#pragma once

#include <cstdint>
#include <cstring>

extern "C" {

// One extended value: significand with its explicit integer bit (bit 63),
// then sign (bit 15) and biased exponent (bits 0-14) -- the memory layout of
// the x87 unit's 80-bit format on a little-endian machine.
typedef struct zt_x87 {
  std::uint64_t signif;
  std::uint16_t sign_exp;
} zt_x87;

// Each function reads its arguments before it writes the result, so the
// result may point at an argument.
void zt_x87_from_i32(std::int32_t v, zt_x87* out);
void zt_x87_from_f32(std::uint32_t bits, zt_x87* out);
void zt_x87_from_f64(std::uint64_t bits, zt_x87* out);
std::uint64_t zt_x87_to_f64(const zt_x87* a);
void zt_x87_add(const zt_x87* a, const zt_x87* b, zt_x87* out);
void zt_x87_sub(const zt_x87* a, const zt_x87* b, zt_x87* out);
void zt_x87_mul(const zt_x87* a, const zt_x87* b, zt_x87* out);
void zt_x87_div(const zt_x87* a, const zt_x87* b, zt_x87* out);
void zt_x87_sqrt(const zt_x87* a, zt_x87* out);
std::int64_t zt_x87_round(const zt_x87* a);
std::int64_t zt_x87_trunc(const zt_x87* a);
bool zt_x87_lt(const zt_x87* a, const zt_x87* b);
bool zt_x87_le(const zt_x87* a, const zt_x87* b);
bool zt_x87_eq(const zt_x87* a, const zt_x87* b);

}  // extern "C"

#if defined(ZT_X87_NATIVE)
#include "x87_native.h"
#endif

namespace zt::x87_backend {
// The configured backend, inline where it can be: the x87 unit directly, or
// the C-callable functions.
#if defined(ZT_X87_NATIVE)
using zt::native::add;
using zt::native::div;
using zt::native::eq;
using zt::native::from_f32;
using zt::native::from_f64;
using zt::native::from_i32;
using zt::native::le;
using zt::native::lt;
using zt::native::mul;
using zt::native::round;
using zt::native::sqrt;
using zt::native::sub;
using zt::native::to_f64;
using zt::native::trunc;
#else
inline void from_i32(std::int32_t v, zt_x87* out) {
  zt_x87_from_i32(v, out);
}
inline void from_f32(std::uint32_t bits, zt_x87* out) {
  zt_x87_from_f32(bits, out);
}
inline void from_f64(std::uint64_t bits, zt_x87* out) {
  zt_x87_from_f64(bits, out);
}
inline std::uint64_t to_f64(const zt_x87* a) {
  return zt_x87_to_f64(a);
}
inline void add(const zt_x87* a, const zt_x87* b, zt_x87* out) {
  zt_x87_add(a, b, out);
}
inline void sub(const zt_x87* a, const zt_x87* b, zt_x87* out) {
  zt_x87_sub(a, b, out);
}
inline void mul(const zt_x87* a, const zt_x87* b, zt_x87* out) {
  zt_x87_mul(a, b, out);
}
inline void div(const zt_x87* a, const zt_x87* b, zt_x87* out) {
  zt_x87_div(a, b, out);
}
inline void sqrt(const zt_x87* a, zt_x87* out) {
  zt_x87_sqrt(a, out);
}
inline std::int64_t round(const zt_x87* a) {
  return zt_x87_round(a);
}
inline std::int64_t trunc(const zt_x87* a) {
  return zt_x87_trunc(a);
}
inline bool lt(const zt_x87* a, const zt_x87* b) {
  return zt_x87_lt(a, b);
}
inline bool le(const zt_x87* a, const zt_x87* b) {
  return zt_x87_le(a, b);
}
inline bool eq(const zt_x87* a, const zt_x87* b) {
  return zt_x87_eq(a, b);
}
#endif
}  // namespace zt::x87_backend

namespace zt {

// Value type over the functions above. Operands enter exactly (from_i32,
// from_f32, from_f64); a formula is a chain of operations on extended values;
// a result kept between steps is rounded to a double with to_f64.
class X87 {
 public:
  constexpr X87() = default;
  static X87 from_bits(std::uint64_t signif, std::uint16_t sign_exp) {
    X87 r;
    r.v_.signif = signif;
    r.v_.sign_exp = sign_exp;
    return r;
  }
  const zt_x87& bits() const { return v_; }

  static X87 from_i32(std::int32_t v) {
    X87 r;
    x87_backend::from_i32(v, &r.v_);
    return r;
  }
  static X87 from_f32(float f) {
    std::uint32_t b;
    std::memcpy(&b, &f, sizeof b);
    X87 r;
    x87_backend::from_f32(b, &r.v_);
    return r;
  }
  static X87 from_f64(double d) {
    std::uint64_t b;
    std::memcpy(&b, &d, sizeof b);
    X87 r;
    x87_backend::from_f64(b, &r.v_);
    return r;
  }
  double to_f64() const {
    std::uint64_t b = x87_backend::to_f64(&v_);
    double d;
    std::memcpy(&d, &b, sizeof d);
    return d;
  }

  static X87 add(const X87& a, const X87& b) { return binary<x87_backend::add>(a, b); }
  static X87 sub(const X87& a, const X87& b) { return binary<x87_backend::sub>(a, b); }
  static X87 mul(const X87& a, const X87& b) { return binary<x87_backend::mul>(a, b); }
  static X87 div(const X87& a, const X87& b) { return binary<x87_backend::div>(a, b); }
  static X87 fsqrt(const X87& a) {
    X87 r;
    x87_backend::sqrt(&a.v_, &r.v_);
    return r;
  }

  static bool eq(const X87& a, const X87& b) { return x87_backend::eq(&a.v_, &b.v_); }
  static bool lt(const X87& a, const X87& b) { return x87_backend::lt(&a.v_, &b.v_); }
  static bool le(const X87& a, const X87& b) { return x87_backend::le(&a.v_, &b.v_); }
  static bool gt(const X87& a, const X87& b) { return lt(b, a); }

  // Nearest, ties to even, as a 64-bit integer; the low 32 bits read as signed.
  std::int32_t round_i32() const {
    std::int64_t r = x87_backend::round(&v_);
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(r)));
  }
  std::int64_t round_i64() const { return x87_backend::round(&v_); }
  std::int64_t trunc_i64() const { return x87_backend::trunc(&v_); }

  // Operators read like the formulas; each is exactly one rounded operation.
  friend X87 operator+(const X87& a, const X87& b) { return add(a, b); }
  friend X87 operator-(const X87& a, const X87& b) { return sub(a, b); }
  friend X87 operator*(const X87& a, const X87& b) { return mul(a, b); }
  friend X87 operator/(const X87& a, const X87& b) { return div(a, b); }
  friend bool operator==(const X87& a, const X87& b) { return eq(a, b); }
  friend bool operator<(const X87& a, const X87& b) { return lt(a, b); }
  friend bool operator<=(const X87& a, const X87& b) { return le(a, b); }
  friend bool operator>(const X87& a, const X87& b) { return gt(a, b); }
  friend bool operator>=(const X87& a, const X87& b) { return le(b, a); }

 private:
  template <void (*F)(const zt_x87*, const zt_x87*, zt_x87*)>
  static X87 binary(const X87& a, const X87& b) {
    X87 r;
    F(&a.v_, &b.v_, &r.v_);
    return r;
  }

  zt_x87 v_{0, 0};
};

// Shorthands for formulas: constants of double type and of single type.
inline X87 xd(double d) {
  return X87::from_f64(d);
}
inline X87 xf(float f) {
  return X87::from_f32(f);
}
inline X87 xi(std::int32_t i) {
  return X87::from_i32(i);
}

}  // namespace zt
