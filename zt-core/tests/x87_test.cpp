// Fixed cases of the extended arithmetic, run against whichever backend the
// build uses.
#include "x87.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <thread>

#include "x87_backends.h"

namespace zt {
namespace {

constexpr std::uint64_t kDefaultNanSignif = 0xC000000000000000u;
constexpr std::uint16_t kDefaultNanSignExp = 0xFFFF;

std::uint64_t f64_bits(double d) {
  std::uint64_t b;
  std::memcpy(&b, &d, sizeof b);
  return b;
}

double f64_from_bits(std::uint64_t b) {
  double d;
  std::memcpy(&d, &b, sizeof d);
  return d;
}

X87 nan_x87() {
  return X87::from_f64(std::numeric_limits<double>::quiet_NaN());
}
X87 inf_x87() {
  return X87::from_f64(std::numeric_limits<double>::infinity());
}

TEST(X87, ExtendedSumRoundsTwiceToEven) {
  const double tiny = std::ldexp(1.0, -53) + std::ldexp(1.0, -64);
  const X87 s = X87::add(X87::from_f64(1.0), X87::from_f64(tiny));
  EXPECT_EQ(s.bits().signif, 0x8000000000000000u | (std::uint64_t{1} << 10))
      << "1 + 2^-53, the tie to even";
  EXPECT_EQ(s.to_f64(), 1.0);
  volatile double direct = 1.0 + tiny;
  EXPECT_EQ(direct, 1.0 + std::ldexp(1.0, -52));
}

TEST(X87, ProductBeyondDoubleRangeStaysInExtendedRange) {
  EXPECT_EQ((xd(1e308) * xd(10.0) / xd(10.0)).to_f64(), 1e308);
  EXPECT_EQ((xd(1e308) * xd(10.0)).to_f64(), std::numeric_limits<double>::infinity());
  EXPECT_EQ((xd(-1e308) * xd(10.0)).to_f64(), -std::numeric_limits<double>::infinity());
}

TEST(X87, StoreToDoubleRoundsIntoSubnormalsAndKeepsNaNsQuiet) {
  const double min_sub = std::ldexp(1.0, -1074);
  // 1.5 and 2.5 times the smallest subnormal: ties, to even.
  EXPECT_EQ((xd(min_sub) * xd(1.5)).to_f64(), 2 * min_sub);
  EXPECT_EQ((xd(min_sub) * xd(2.5)).to_f64(), 2 * min_sub);
  EXPECT_EQ((xd(min_sub) * xd(0.5)).to_f64(), 0.0);
  EXPECT_EQ((xd(min_sub) * xd(0.75)).to_f64(), min_sub);
  // A signalling NaN comes in quiet and goes out quiet, payload kept.
  const X87 snan = X87::from_f64(f64_from_bits(0x7FF0000000000123u));
  EXPECT_EQ(snan.bits().signif, 0xC000000000000000u | (std::uint64_t{0x123} << 11));
  EXPECT_EQ(f64_bits(snan.to_f64()), 0x7FF8000000000123u);
}

TEST(X87, IntegerConversions) {
  struct Case {
    double value;
    std::int32_t round_i32;
    std::int64_t trunc_i64;
  };
  const Case cases[] = {
      {2.5, 2, 2},
      {3.5, 4, 3},
      {-2.5, -2, -2},
      {-2.7, -3, -2},
      {-0.5, 0, 0},
      {3e9, static_cast<std::int32_t>(3000000000LL - 4294967296LL), 3000000000LL},
      {1e30, 0, INT64_MIN},
      {-1e30, 0, INT64_MIN},
      {9223372036854775807.0, 0, INT64_MIN},   // that double is 2^63
      {-9223372036854775808.0, 0, INT64_MIN},  // -2^63 fits and is the same bits
      {std::numeric_limits<double>::infinity(), 0, INT64_MIN},
      {std::numeric_limits<double>::quiet_NaN(), 0, INT64_MIN},
  };
  for (const Case& c : cases) {
    const X87 x = xd(c.value);
    EXPECT_EQ(x.round_i32(), c.round_i32) << c.value;
    EXPECT_EQ(x.trunc_i64(), c.trunc_i64) << c.value;
  }
  // 2^63 - 0.5 is exact in the extended format and rounds to 2^63, out of range.
  const X87 just_below = X87::from_bits(~std::uint64_t{0}, 16383 + 62);
  EXPECT_EQ(just_below.round_i64(), INT64_MIN);
  EXPECT_EQ(just_below.trunc_i64(), INT64_MAX);
}

TEST(X87, ComparisonsWithNaNAreFalseAndZerosAreEqual) {
  const X87 n = nan_x87();
  const X87 one = xd(1.0);
  for (const auto& [a, b] : {std::pair{n, one}, std::pair{one, n}, std::pair{n, n}}) {
    EXPECT_FALSE(X87::eq(a, b));
    EXPECT_FALSE(X87::lt(a, b));
    EXPECT_FALSE(X87::le(a, b));
    EXPECT_FALSE(X87::gt(a, b));
    EXPECT_FALSE(a >= b);
  }
  const X87 pz = xd(0.0);
  const X87 nz = xd(-0.0);
  EXPECT_TRUE(X87::eq(pz, nz));
  EXPECT_FALSE(X87::lt(nz, pz));
  EXPECT_TRUE(X87::le(pz, nz));
  EXPECT_TRUE(X87::lt(xd(-1.0), one));
  EXPECT_FALSE(X87::gt(xd(-1.0), one));
}

TEST(X87, InvalidOperationsGiveTheDefaultNaN) {
  const X87 zero = xd(0.0);
  const X87 inf = inf_x87();
  struct Case {
    const char* what;
    X87 result;
  };
  const Case cases[] = {
      {"0/0", zero / zero},
      {"inf-inf", inf - inf},
      {"inf+(-inf)", inf + xd(-INFINITY)},
      {"0*inf", zero * inf},
      {"inf/inf", inf / inf},
      {"sqrt(-1)", X87::fsqrt(xd(-1.0))},
      {"sqrt(-inf)", X87::fsqrt(xd(-INFINITY))},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.result.bits().signif, kDefaultNanSignif) << c.what;
    EXPECT_EQ(c.result.bits().sign_exp, kDefaultNanSignExp) << c.what;
  }
}

TEST(X87, SignedZerosAndNaNOperands) {
  const X87 x = xd(0.1);
  EXPECT_EQ((x - x).bits().sign_exp, 0) << "x - x is +0";
  EXPECT_EQ((xd(-0.0) - xd(0.0)).bits().sign_exp, 0x8000);
  EXPECT_EQ(X87::fsqrt(xd(-0.0)).bits().sign_exp, 0x8000) << "sqrt(-0) is -0";
  EXPECT_EQ((xd(1.0) / xd(-0.0)).to_f64(), -INFINITY);
  // A NaN operand comes out quiet with its payload; of two, the larger payload.
  const X87 snan = X87::from_bits(0x8000000000000042u, 0xFFFF);
  const X87 r = snan + xd(1.0);
  EXPECT_EQ(r.bits().signif, 0xC000000000000042u);
  EXPECT_EQ(r.bits().sign_exp, 0xFFFF);
  const X87 big = X87::from_bits(0xC000000000000099u, 0x7FFF);
  EXPECT_EQ((snan * big).bits().signif, 0xC000000000000099u);
  EXPECT_EQ((big * snan).bits().signif, 0xC000000000000099u);
}

TEST(X87, ResultMayAliasAnOperand) {
  // Subnormal results take the longest path in a software backend.
  zt_x87 a = X87::from_bits(0x8000000000000000u, 16383 - 16000).bits();
  const zt_x87 b = xd(std::ldexp(0.75, -440)).bits();
  zt_x87 expect;
  zt_x87_mul(&a, &b, &expect);
  zt_x87_mul(&a, &b, &a);
  EXPECT_EQ(a.signif, expect.signif);
  EXPECT_EQ(a.sign_exp, expect.sign_exp);
  EXPECT_EQ(expect.sign_exp, 0) << "the product is an extended subnormal";
  zt_x87 s = xd(2.0).bits();
  zt_x87_sqrt(&s, &s);
  EXPECT_EQ(X87::from_bits(s.signif, s.sign_exp).to_f64(), std::sqrt(2.0));
}

// Chains that end in an extended subnormal and in a double subnormal.
std::uint64_t subnormal_chain() {
  X87 v = X87::from_bits(0x8000000000000000u, 16383 - 16370);
  for (int i = 0; i < 20; ++i) v = v * xd(0.3);
  X87 w = xd(std::ldexp(1.0, -1060));
  for (int i = 0; i < 5; ++i) w = w * xd(0.3) / xd(1.1);
  return f64_bits(w.to_f64()) ^ v.bits().signif ^ (std::uint64_t{v.bits().sign_exp} << 48);
}

TEST(X87, EveryThreadGetsTheSameBits) {
  const std::uint64_t here = subnormal_chain();
  std::uint64_t there[4] = {};
  std::thread threads[4];
  for (int i = 0; i < 4; ++i)
    threads[i] = std::thread([&there, i] { there[i] = subnormal_chain(); });
  for (std::thread& t : threads) t.join();
  for (std::uint64_t t : there) EXPECT_EQ(t, here);
}

#if defined(ZT_X87_HAVE_NATIVE)
std::uint16_t read_control_word() {
  std::uint16_t cw;
  asm volatile("fnstcw %0" : "=m"(cw));
  return cw;
}

void load_control_word(std::uint16_t cw) {
  asm volatile("fldcw %0" : : "m"(cw));
}

// The unit backend must not depend on the control word it finds: 53-bit
// precision (as some runtimes leave it) or rounding toward zero.
TEST(X87Native, ResultsDoNotDependOnTheThreadsControlWord) {
  const zt_x87 one = xd(1.0).bits();
  const zt_x87 tiny = xd(std::ldexp(1.0, -60)).bits();
  const zt_x87 third = xd(1.0 / 3.0).bits();
  const zt_x87 three_and_half = xd(3.5).bits();
  const zt_x87 odd_tail = X87::from_bits(0x8000000000000C00u, 16383).bits();  // 1 + 3 * 2^-53
  const std::uint16_t saved = read_control_word();
  for (std::uint16_t fields :
       {std::uint16_t{0x0200}, std::uint16_t{0x0C00}, std::uint16_t{0x0E00}}) {
    load_control_word(static_cast<std::uint16_t>((saved & ~0x0F00) | fields));
    zt_x87 sum, quot, root;
    zt_x87_native_add(&one, &tiny, &sum);
    zt_x87_native_div(&one, &third, &quot);
    zt_x87_native_sqrt(&third, &root);
    const std::int64_t rounded = zt_x87_native_round(&three_and_half);
    const std::int64_t truncated = zt_x87_native_trunc(&three_and_half);
    const std::uint64_t stored = zt_x87_native_to_f64(&odd_tail);
    const std::uint16_t after = read_control_word();
    load_control_word(saved);
    EXPECT_EQ(sum.signif, 0x8000000000000008u) << std::hex << fields;
    zt_x87 quot_ref, root_ref;
    zt_x87_native_div(&one, &third, &quot_ref);
    zt_x87_native_sqrt(&third, &root_ref);
    EXPECT_EQ(quot.signif, quot_ref.signif) << std::hex << fields;
    EXPECT_EQ(root.signif, root_ref.signif) << std::hex << fields;
    EXPECT_EQ(rounded, 4);
    EXPECT_EQ(truncated, 3);
    EXPECT_EQ(stored, f64_bits(1.0 + std::ldexp(1.0, -51))) << "1 + 3 * 2^-53 rounds up to even";
    EXPECT_EQ(after, static_cast<std::uint16_t>((saved & ~0x0F00) | fields))
        << "the caller's control word is kept";
  }
}
#endif

}  // namespace
}  // namespace zt
