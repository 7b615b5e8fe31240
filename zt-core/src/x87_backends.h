// The two extended-arithmetic backends side by side, so that a test can run
// them against each other. The game itself calls only the zt_x87_* functions
// of x87.h, which forward to the backend chosen at configure time.
#pragma once

#include "x87.h"

extern "C" {

#if defined(__x86_64__) || defined(__i386__)
#define ZT_X87_HAVE_NATIVE 1
void zt_x87_native_from_i32(std::int32_t v, zt_x87* out);
void zt_x87_native_from_f32(std::uint32_t bits, zt_x87* out);
void zt_x87_native_from_f64(std::uint64_t bits, zt_x87* out);
std::uint64_t zt_x87_native_to_f64(const zt_x87* a);
void zt_x87_native_add(const zt_x87* a, const zt_x87* b, zt_x87* out);
void zt_x87_native_sub(const zt_x87* a, const zt_x87* b, zt_x87* out);
void zt_x87_native_mul(const zt_x87* a, const zt_x87* b, zt_x87* out);
void zt_x87_native_div(const zt_x87* a, const zt_x87* b, zt_x87* out);
void zt_x87_native_sqrt(const zt_x87* a, zt_x87* out);
std::int64_t zt_x87_native_round(const zt_x87* a);
std::int64_t zt_x87_native_trunc(const zt_x87* a);
bool zt_x87_native_lt(const zt_x87* a, const zt_x87* b);
bool zt_x87_native_le(const zt_x87* a, const zt_x87* b);
bool zt_x87_native_eq(const zt_x87* a, const zt_x87* b);
#endif

#if defined(ZT_X87_HAVE_MPFR)
void zt_x87_mpfr_from_i32(std::int32_t v, zt_x87* out);
void zt_x87_mpfr_from_f32(std::uint32_t bits, zt_x87* out);
void zt_x87_mpfr_from_f64(std::uint64_t bits, zt_x87* out);
std::uint64_t zt_x87_mpfr_to_f64(const zt_x87* a);
void zt_x87_mpfr_add(const zt_x87* a, const zt_x87* b, zt_x87* out);
void zt_x87_mpfr_sub(const zt_x87* a, const zt_x87* b, zt_x87* out);
void zt_x87_mpfr_mul(const zt_x87* a, const zt_x87* b, zt_x87* out);
void zt_x87_mpfr_div(const zt_x87* a, const zt_x87* b, zt_x87* out);
void zt_x87_mpfr_sqrt(const zt_x87* a, zt_x87* out);
std::int64_t zt_x87_mpfr_round(const zt_x87* a);
std::int64_t zt_x87_mpfr_trunc(const zt_x87* a);
bool zt_x87_mpfr_lt(const zt_x87* a, const zt_x87* b);
bool zt_x87_mpfr_le(const zt_x87* a, const zt_x87* b);
bool zt_x87_mpfr_eq(const zt_x87* a, const zt_x87* b);
#endif

}  // extern "C"
