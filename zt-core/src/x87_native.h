// The processor's own x87 unit as the extended-arithmetic backend. Every
// rounding step is an explicit instruction, and it runs with a 64-bit
// significand and rounding to nearest whatever the thread's control word says
// (Linux starts threads that way, but other start-up code, or a thread made by
// another runtime, may leave 53-bit precision behind). The exception masks
// are left as the program set them.
#pragma once

#include <cfloat>
#include <cstdint>

#if !(defined(__x86_64__) || defined(__i386__))
#error "the native extended backend needs an x87 unit; configure with ZT_X87_BACKEND=mpfr"
#endif
static_assert(LDBL_MANT_DIG == 64, "long double must be the x87 80-bit format");

namespace zt::native {

// One 10-byte load and store: both move the bits unchanged, whatever they
// hold (a signalling NaN or an unnormal too), and the padding after the
// ten bytes is left alone.
inline long double load(const zt_x87* a) {
  long double x;
  asm("fldt %1" : "=t"(x) : "m"(*a));
  return x;
}

inline void store(long double x, zt_x87* out) {
  asm("fstpt %0" : "=m"(*out) : "t"(x) : "st");
}

// Control word fields that decide results: precision (bits 8-9, 3 = 64 bits)
// and rounding (bits 10-11, 0 = nearest-even, 3 = toward zero).
inline constexpr std::uint16_t kControlFields = 0x0f00;
inline constexpr std::uint16_t kNearest64 = 0x0300;
inline constexpr std::uint16_t kTowardZero64 = 0x0f00;

inline std::uint16_t control_word() {
  std::uint16_t cw;
  asm volatile("fnstcw %0" : "=m"(cw));
  return cw;
}

inline std::uint16_t with_fields(std::uint16_t cw, std::uint16_t fields) {
  return static_cast<std::uint16_t>((cw & ~kControlFields) | fields);
}

// Loads of integers, singles and doubles are exact; a signalling NaN comes in
// quiet, as the unit loads it.
inline void from_i32(std::int32_t v, zt_x87* out) {
  long double x;
  asm("fildl %1" : "=t"(x) : "m"(v));
  store(x, out);
}

inline void from_f32(std::uint32_t bits, zt_x87* out) {
  long double x;
  asm("flds %1" : "=t"(x) : "m"(bits));
  store(x, out);
}

inline void from_f64(std::uint64_t bits, zt_x87* out) {
  long double x;
  asm("fldl %1" : "=t"(x) : "m"(bits));
  store(x, out);
}

// The rounding store to a double, in memory, so that nothing in between can
// keep excess precision.
inline std::uint64_t to_f64(const zt_x87* a) {
  const long double x = load(a);
  const std::uint16_t old = control_word();
  const std::uint16_t want = with_fields(old, kNearest64);
  std::uint64_t bits;
  if (old == want) {
    asm("fstpl %0" : "=m"(bits) : "t"(x) : "st");
  } else {
    asm("fldcw %1\n\tfstpl %0\n\tfldcw %2" : "=m"(bits) : "m"(want), "m"(old), "t"(x) : "st");
  }
  return bits;
}

// One instruction per operation with st(0) = a and st(1) = b, so the result
// is a op b rounded once under the control word set around it.
#define ZT_X87_NATIVE_BINARY(name, insn)                            \
  inline void name(const zt_x87* a, const zt_x87* b, zt_x87* out) { \
    long double x = load(a);                                        \
    const long double y = load(b);                                  \
    const std::uint16_t old = control_word();                       \
    const std::uint16_t want = with_fields(old, kNearest64);        \
    if (old == want) {                                              \
      asm(insn " %%st(1), %%st" : "+t"(x) : "u"(y));                \
    } else {                                                        \
      asm("fldcw %2\n\t" insn " %%st(1), %%st\n\tfldcw %3"          \
          : "+t"(x)                                                 \
          : "u"(y), "m"(want), "m"(old));                           \
    }                                                               \
    store(x, out);                                                  \
  }

ZT_X87_NATIVE_BINARY(add, "fadd")
ZT_X87_NATIVE_BINARY(sub, "fsub")
ZT_X87_NATIVE_BINARY(mul, "fmul")
ZT_X87_NATIVE_BINARY(div, "fdiv")
#undef ZT_X87_NATIVE_BINARY

inline void sqrt(const zt_x87* a, zt_x87* out) {
  long double x = load(a);
  const std::uint16_t old = control_word();
  const std::uint16_t want = with_fields(old, kNearest64);
  if (old == want) {
    asm("fsqrt" : "+t"(x));
  } else {
    asm("fldcw %1\n\tfsqrt\n\tfldcw %2" : "+t"(x) : "m"(want), "m"(old));
  }
  store(x, out);
}

// fistp rounds by the control word; a value out of range or a NaN gives the
// integer indefinite, -2^63.
inline std::int64_t to_int(const zt_x87* a, std::uint16_t fields) {
  const long double x = load(a);
  const std::uint16_t old = control_word();
  const std::uint16_t want = with_fields(old, fields);
  std::int64_t r;
  if (old == want) {
    asm("fistpll %0" : "=m"(r) : "t"(x) : "st");
  } else {
    asm("fldcw %1\n\tfistpll %0\n\tfldcw %2" : "=m"(r) : "m"(want), "m"(old), "t"(x) : "st");
  }
  return r;
}

inline std::int64_t round(const zt_x87* a) {
  return to_int(a, kNearest64);
}
inline std::int64_t trunc(const zt_x87* a) {
  return to_int(a, kTowardZero64);
}

// IEEE comparisons: every one is false when an operand is a NaN.
inline bool lt(const zt_x87* a, const zt_x87* b) {
  return load(a) < load(b);
}
inline bool le(const zt_x87* a, const zt_x87* b) {
  return load(a) <= load(b);
}
inline bool eq(const zt_x87* a, const zt_x87* b) {
  return load(a) == load(b);
}

}  // namespace zt::native
