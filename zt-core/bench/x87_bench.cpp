// Cost of one extended operation on each backend. The operands cycle through
// a small table of ordinary values so that no run measures a single fast path.
#include <benchmark/benchmark.h>

#include <array>
#include <cstddef>
#include <cstring>

#include "x87_backends.h"

namespace {

std::array<zt_x87, 16> operands() {
  const double values[16] = {0.2,   0.7,  25.0,      0.008,  1.0, 320.0,  240.0, 500.0,
                             -3.25, 1e-3, 12345.678, -0.125, 7.0, 1.5e10, -98.6, 0.333};
  std::array<zt_x87, 16> out{};
  for (std::size_t i = 0; i < out.size(); ++i) {
    std::uint64_t bits;
    std::memcpy(&bits, &values[i], sizeof bits);
#if defined(ZT_X87_HAVE_NATIVE)
    zt_x87_native_from_f64(bits, &out[i]);
#else
    zt_x87_mpfr_from_f64(bits, &out[i]);
#endif
  }
  return out;
}

using Binary = void (*)(const zt_x87*, const zt_x87*, zt_x87*);
using Unary = void (*)(const zt_x87*, zt_x87*);
using ToF64 = std::uint64_t (*)(const zt_x87*);

void run_binary(benchmark::State& state, Binary op) {
  const auto v = operands();
  std::size_t i = 0;
  for (auto _ : state) {
    zt_x87 r;
    op(&v[i & 15], &v[(i + 5) & 15], &r);
    benchmark::DoNotOptimize(r);
    ++i;
  }
}

void run_sqrt(benchmark::State& state, Unary op) {
  auto v = operands();
  for (zt_x87& x : v) x.sign_exp &= 0x7fff;
  std::size_t i = 0;
  for (auto _ : state) {
    zt_x87 r;
    op(&v[i & 15], &r);
    benchmark::DoNotOptimize(r);
    ++i;
  }
}

void run_to_f64(benchmark::State& state, ToF64 op) {
  const auto v = operands();
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(op(&v[i & 15]));
    ++i;
  }
}

#if defined(ZT_X87_HAVE_NATIVE)
BENCHMARK_CAPTURE(run_binary, native_add, zt_x87_native_add);
BENCHMARK_CAPTURE(run_binary, native_mul, zt_x87_native_mul);
BENCHMARK_CAPTURE(run_binary, native_div, zt_x87_native_div);
BENCHMARK_CAPTURE(run_sqrt, native_sqrt, zt_x87_native_sqrt);
BENCHMARK_CAPTURE(run_to_f64, native_to_f64, zt_x87_native_to_f64);
#endif
#if defined(ZT_X87_HAVE_MPFR)
BENCHMARK_CAPTURE(run_binary, mpfr_add, zt_x87_mpfr_add);
BENCHMARK_CAPTURE(run_binary, mpfr_mul, zt_x87_mpfr_mul);
BENCHMARK_CAPTURE(run_binary, mpfr_div, zt_x87_mpfr_div);
BENCHMARK_CAPTURE(run_sqrt, mpfr_sqrt, zt_x87_mpfr_sqrt);
BENCHMARK_CAPTURE(run_to_f64, mpfr_to_f64, zt_x87_mpfr_to_f64);
#endif

}  // namespace
