// The processor's own x87 unit as the extended-arithmetic backend. The unit
// runs with a 64-bit significand and rounding to nearest (the Linux and
// Windows start-up control words both give that), so plain long double
// operations are exactly the operations the game needs.
#pragma once

#include <cfloat>
#include <cstdint>
#include <cstring>

#if !(defined(__x86_64__) || defined(__i386__))
#error "the native extended backend needs an x87 unit; configure with ZT_X87_BACKEND=mpfr"
#endif
static_assert(LDBL_MANT_DIG == 64, "long double must be the x87 80-bit format");

namespace zt::native {

inline long double load(const zt_x87* a) {
  long double x = 0.0L;
  std::memcpy(&x, a, 10);
  return x;
}

inline void store(long double x, zt_x87* out) {
  zt_x87 r;
  std::memcpy(&r, &x, 10);
  *out = r;
}

inline void from_i32(std::int32_t v, zt_x87* out) { store(static_cast<long double>(v), out); }

inline void from_f32(std::uint32_t bits, zt_x87* out) {
  float f;
  std::memcpy(&f, &bits, sizeof f);
  store(static_cast<long double>(f), out);
}

inline void from_f64(std::uint64_t bits, zt_x87* out) {
  double d;
  std::memcpy(&d, &bits, sizeof d);
  store(static_cast<long double>(d), out);
}

inline std::uint64_t to_f64(const zt_x87* a) {
  // volatile keeps the rounding store to a double in memory, as the unit does it.
  volatile double d = static_cast<double>(load(a));
  double v = d;
  std::uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  return bits;
}

inline void add(const zt_x87* a, const zt_x87* b, zt_x87* out) { store(load(a) + load(b), out); }
inline void sub(const zt_x87* a, const zt_x87* b, zt_x87* out) { store(load(a) - load(b), out); }
inline void mul(const zt_x87* a, const zt_x87* b, zt_x87* out) { store(load(a) * load(b), out); }
inline void div(const zt_x87* a, const zt_x87* b, zt_x87* out) { store(load(a) / load(b), out); }

inline void sqrt(const zt_x87* a, zt_x87* out) {
  long double x = load(a);
  asm("fsqrt" : "+t"(x));
  store(x, out);
}

// fistp rounds by the control word (nearest-even); a value out of range or a
// NaN gives the integer indefinite, -2^63.
inline std::int64_t round(const zt_x87* a) {
  long double x = load(a);
  std::int64_t r;
  asm("fistpll %0" : "=m"(r) : "t"(x) : "st");
  return r;
}

inline std::int64_t trunc(const zt_x87* a) {
  long double t = __builtin_truncl(load(a));
  std::int64_t r;
  asm("fistpll %0" : "=m"(r) : "t"(t) : "st");
  return r;
}

inline bool lt(const zt_x87* a, const zt_x87* b) { return load(a) < load(b); }
inline bool le(const zt_x87* a, const zt_x87* b) { return load(a) <= load(b); }
inline bool eq(const zt_x87* a, const zt_x87* b) { return load(a) == load(b); }

}  // namespace zt::native
