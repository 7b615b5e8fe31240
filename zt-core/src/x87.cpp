// The C-callable extended arithmetic: forwards to the backend chosen at
// configure time (ZT_X87_NATIVE for the x87 unit, otherwise MPFR).
#include "x87_backends.h"

#if defined(ZT_X87_NATIVE)
#define ZT_BACKEND(name) zt_x87_native_##name
#else
#define ZT_BACKEND(name) zt_x87_mpfr_##name
#endif

extern "C" {
void zt_x87_from_i32(std::int32_t v, zt_x87* out) {
  ZT_BACKEND(from_i32)(v, out);
}
void zt_x87_from_f32(std::uint32_t bits, zt_x87* out) {
  ZT_BACKEND(from_f32)(bits, out);
}
void zt_x87_from_f64(std::uint64_t bits, zt_x87* out) {
  ZT_BACKEND(from_f64)(bits, out);
}
std::uint64_t zt_x87_to_f64(const zt_x87* a) {
  return ZT_BACKEND(to_f64)(a);
}
void zt_x87_add(const zt_x87* a, const zt_x87* b, zt_x87* out) {
  ZT_BACKEND(add)(a, b, out);
}
void zt_x87_sub(const zt_x87* a, const zt_x87* b, zt_x87* out) {
  ZT_BACKEND(sub)(a, b, out);
}
void zt_x87_mul(const zt_x87* a, const zt_x87* b, zt_x87* out) {
  ZT_BACKEND(mul)(a, b, out);
}
void zt_x87_div(const zt_x87* a, const zt_x87* b, zt_x87* out) {
  ZT_BACKEND(div)(a, b, out);
}
void zt_x87_sqrt(const zt_x87* a, zt_x87* out) {
  ZT_BACKEND(sqrt)(a, out);
}
std::int64_t zt_x87_round(const zt_x87* a) {
  return ZT_BACKEND(round)(a);
}
std::int64_t zt_x87_trunc(const zt_x87* a) {
  return ZT_BACKEND(trunc)(a);
}
bool zt_x87_lt(const zt_x87* a, const zt_x87* b) {
  return ZT_BACKEND(lt)(a, b);
}
bool zt_x87_le(const zt_x87* a, const zt_x87* b) {
  return ZT_BACKEND(le)(a, b);
}
bool zt_x87_eq(const zt_x87* a, const zt_x87* b) {
  return ZT_BACKEND(eq)(a, b);
}
}
