// Out-of-line entry points of the x87 backend, for the C-callable interface
// and for the differential test.
#include "x87_backends.h"

#if defined(ZT_X87_HAVE_NATIVE)
#include "x87_native.h"

extern "C" {
void zt_x87_native_from_i32(std::int32_t v, zt_x87* out) {
  zt::native::from_i32(v, out);
}
void zt_x87_native_from_f32(std::uint32_t bits, zt_x87* out) {
  zt::native::from_f32(bits, out);
}
void zt_x87_native_from_f64(std::uint64_t bits, zt_x87* out) {
  zt::native::from_f64(bits, out);
}
std::uint64_t zt_x87_native_to_f64(const zt_x87* a) {
  return zt::native::to_f64(a);
}
void zt_x87_native_add(const zt_x87* a, const zt_x87* b, zt_x87* out) {
  zt::native::add(a, b, out);
}
void zt_x87_native_sub(const zt_x87* a, const zt_x87* b, zt_x87* out) {
  zt::native::sub(a, b, out);
}
void zt_x87_native_mul(const zt_x87* a, const zt_x87* b, zt_x87* out) {
  zt::native::mul(a, b, out);
}
void zt_x87_native_div(const zt_x87* a, const zt_x87* b, zt_x87* out) {
  zt::native::div(a, b, out);
}
void zt_x87_native_sqrt(const zt_x87* a, zt_x87* out) {
  zt::native::sqrt(a, out);
}
std::int64_t zt_x87_native_round(const zt_x87* a) {
  return zt::native::round(a);
}
std::int64_t zt_x87_native_trunc(const zt_x87* a) {
  return zt::native::trunc(a);
}
bool zt_x87_native_lt(const zt_x87* a, const zt_x87* b) {
  return zt::native::lt(a, b);
}
bool zt_x87_native_le(const zt_x87* a, const zt_x87* b) {
  return zt::native::le(a, b);
}
bool zt_x87_native_eq(const zt_x87* a, const zt_x87* b) {
  return zt::native::eq(a, b);
}
}
#endif
