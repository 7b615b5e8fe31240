// Runs the x87 unit and the MPFR backend side by side on operands drawn from a
// fixed-seed generator that leans on the hard cases, and requires the same
// bits from both.
#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "x87_backends.h"

#if defined(ZT_X87_HAVE_NATIVE) && defined(ZT_X87_HAVE_MPFR)

namespace {

// Operand pairs per operation and per conversion.
constexpr int kCases = 1'000'000;

constexpr std::uint64_t kIntegerBit = 0x8000000000000000u;
constexpr std::uint64_t kQuietBit = 0x4000000000000000u;
constexpr int kBias = 16383;

// splitmix64: small, fast, and the same sequence everywhere.
class Gen {
 public:
  explicit Gen(std::uint64_t seed) : s_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (s_ += 0x9e3779b97f4a7c15u);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
    return z ^ (z >> 31);
  }
  std::uint32_t below(std::uint32_t n) {
    return static_cast<std::uint32_t>((next() >> 32) * n >> 32);
  }
  int range(int lo, int hi) {
    return lo + static_cast<int>(below(static_cast<std::uint32_t>(hi - lo + 1)));
  }
  bool chance(int percent) { return below(100) < static_cast<std::uint32_t>(percent); }

 private:
  std::uint64_t s_;
};

zt_x87 make(bool neg, int exp, std::uint64_t signif) {
  return {signif, static_cast<std::uint16_t>((neg ? 0x8000 : 0) | exp)};
}

// A significand with its integer bit, shaped so that rounding lands on or
// next to a tie: the bits below position k are 100..0, or that plus or minus one.
std::uint64_t shaped_signif(Gen& g, int k) {
  std::uint64_t m = g.next() | kIntegerBit;
  if (k <= 0 || k > 63) return m;
  const std::uint64_t low = std::uint64_t{1} << (k - 1);
  m = (m & ~((low << 1) - 1)) | low;
  switch (g.below(4)) {
    case 0:
      return m + 1;
    case 1:
      return m - 1;
    default:
      return m;
  }
}

std::uint64_t any_signif(Gen& g) {
  switch (g.below(10)) {
    case 0:
      return kIntegerBit;
    case 1:
      return ~std::uint64_t{0};
    case 2:
    case 3:
    case 4:
      return shaped_signif(g, g.range(1, 63));
    case 5:
      return kIntegerBit | (g.next() >> g.range(1, 63));  // few bits set
    default:
      return g.next() | kIntegerBit;
  }
}

zt_x87 nan(Gen& g, bool neg) {
  std::uint64_t payload = g.chance(50) ? (g.next() >> 2) : (g.next() & 0xff);
  if (g.chance(50)) return make(neg, 0x7fff, kIntegerBit | kQuietBit | payload);
  if (payload == 0) payload = 1;
  return make(neg, 0x7fff, kIntegerBit | payload);
}

zt_x87 subnormal(Gen& g, bool neg) {
  std::uint64_t m = (g.next() >> 1) >> g.below(63);
  if (m == 0) m = 1;
  if (g.chance(20)) m = shaped_signif(g, g.range(1, 62)) >> 1;
  return make(neg, 0, m);
}

// Any canonical extended value, weighted toward the edges of the format and
// of the double format.
zt_x87 ext_value(Gen& g) {
  const bool neg = g.chance(50);
  const std::uint32_t c = g.below(100);
  if (c < 4) return make(neg, 0, 0);
  if (c < 7) return make(neg, 0x7fff, kIntegerBit);
  if (c < 14) return nan(g, neg);
  if (c < 24) return subnormal(g, neg);
  if (c < 34) return make(neg, g.range(1, 80), any_signif(g));
  if (c < 44) return make(neg, g.range(32766 - 80, 32766), any_signif(g));
  if (c < 54)
    return make(neg, kBias + (g.chance(50) ? g.range(-1080, -1015) : g.range(1015, 1030)),
                any_signif(g));
  if (c < 70) return make(neg, kBias + g.range(-70, 70), any_signif(g));
  if (c < 80)
    return make(neg, kBias + g.range(-1074, 1023),
                (g.next() | kIntegerBit) & ~std::uint64_t{0x7ff});
  return make(neg, g.range(1, 32766), any_signif(g));
}

// A second operand that makes the pair hard: near the first (cancellation),
// its negation, a small multiple of a power of two (ties in products), or
// just below the first's last bit (ties in sums).
zt_x87 partner(Gen& g, const zt_x87& a) {
  const int ea = a.sign_exp & 0x7fff;
  const bool a_finite_normal = ea != 0 && ea != 0x7fff;
  const std::uint32_t c = g.below(100);
  if (c < 45 || !a_finite_normal) {
    if ((a.sign_exp & 0x7fff) == 0x7fff && (a.signif << 1) != 0 && g.chance(30)) {
      // Another NaN with the same payload: the unit's tie rule.
      zt_x87 b = a;
      b.sign_exp ^= 0x8000;
      if (g.chance(50)) b.signif ^= kQuietBit;
      return b;
    }
    return ext_value(g);
  }
  if (c < 55) {
    zt_x87 b = a;
    b.sign_exp ^= 0x8000;
    return b;
  }
  if (c < 65) {
    zt_x87 b = a;
    b.signif = (a.signif + (g.next() & 0xffff)) | kIntegerBit;
    if (g.chance(50)) b.sign_exp ^= 0x8000;
    return b;
  }
  if (c < 80) {
    const int eb = ea - g.range(60, 70);
    if (eb < 1) return ext_value(g);
    return make(g.chance(50), eb, shaped_signif(g, g.range(1, 63)));
  }
  const std::uint64_t k = 2 * g.below(128) + 1;  // odd, up to 255
  const int bits = 64 - __builtin_clzll(k);
  return make(g.chance(50), std::min(std::max(kBias + g.range(-40, 40), 1), 32766),
              k << (64 - bits));
}

std::string describe(const zt_x87& v) {
  long double x = 0.0L;
  std::memcpy(&x, &v, 10);
  char buf[96];
  std::snprintf(buf, sizeof buf, "%04x:%016" PRIx64 " (%.21Lg)", v.sign_exp, v.signif, x);
  return buf;
}

std::string describe_f64(std::uint64_t bits) {
  double d;
  std::memcpy(&d, &bits, sizeof d);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%016" PRIx64 " (%.17g)", bits, d);
  return buf;
}

bool same(const zt_x87& a, const zt_x87& b) {
  return a.signif == b.signif && a.sign_exp == b.sign_exp;
}

// Counts mismatches and keeps the first one for the failure message.
class Mismatches {
 public:
  explicit Mismatches(std::string op) : op_(std::move(op)) {}
  void add(const std::string& what) {
    if (count_++ == 0) first_ = what;
  }
  ::testing::AssertionResult result() const {
    if (count_ == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << op_ << ": " << count_ << " of " << kCases << " differ; first: " << first_;
  }

 private:
  std::string op_;
  long count_ = 0;
  std::string first_;
};

using Binary = void (*)(const zt_x87*, const zt_x87*, zt_x87*);

struct BinaryCase {
  const char* name;
  Binary native;
  Binary mpfr;
  std::uint64_t seed;
};

TEST(X87Diff, ArithmeticAgreesBitForBit) {
  const BinaryCase cases[] = {
      {"add", zt_x87_native_add, zt_x87_mpfr_add, 1},
      {"sub", zt_x87_native_sub, zt_x87_mpfr_sub, 2},
      {"mul", zt_x87_native_mul, zt_x87_mpfr_mul, 3},
      {"div", zt_x87_native_div, zt_x87_mpfr_div, 4},
  };
  for (const BinaryCase& bc : cases) {
    Gen g(bc.seed);
    Mismatches bad(bc.name);
    for (int i = 0; i < kCases; ++i) {
      zt_x87 a = ext_value(g);
      zt_x87 b = partner(g, a);
      if (g.chance(50)) std::swap(a, b);
      zt_x87 rn{}, rm{};
      bc.native(&a, &b, &rn);
      bc.mpfr(&a, &b, &rm);
      if (!same(rn, rm)) {
        bad.add(describe(a) + " " + bc.name + " " + describe(b) + ": unit " + describe(rn) +
                ", mpfr " + describe(rm));
      }
    }
    EXPECT_TRUE(bad.result());
  }
}

TEST(X87Diff, SquareRootAgreesBitForBit) {
  Gen g(5);
  Mismatches bad("sqrt");
  for (int i = 0; i < kCases; ++i) {
    zt_x87 a = ext_value(g);
    if (g.chance(20) && (a.sign_exp & 0x7fff) != 0x7fff) {
      // Squares of 32-bit numbers and their neighbours: exact roots and near-ties.
      const std::uint64_t r = g.next() | 0x80000000u;
      const std::uint64_t sq = (r & 0xffffffffu) * (r & 0xffffffffu);
      const int lz = __builtin_clzll(sq);
      a = make(g.chance(10), kBias + g.range(-200, 200),
               (sq << lz) + (g.chance(50) ? 0 : g.range(-2, 2)));
      a.signif |= kIntegerBit;
    }
    zt_x87 rn{}, rm{};
    zt_x87_native_sqrt(&a, &rn);
    zt_x87_mpfr_sqrt(&a, &rm);
    if (!same(rn, rm))
      bad.add("sqrt " + describe(a) + ": unit " + describe(rn) + ", mpfr " + describe(rm));
  }
  EXPECT_TRUE(bad.result());
}

TEST(X87Diff, StoreToDoubleAgreesBitForBit) {
  Gen g(6);
  Mismatches bad("to_f64");
  for (int i = 0; i < kCases; ++i) {
    const bool neg = g.chance(50);
    zt_x87 a;
    switch (g.below(5)) {
      case 0:  // ties at the double's last bit, normal range and its ends
        a = make(neg, kBias + (g.chance(50) ? g.range(-1022, 1023) : g.range(-1024, -1020)),
                 shaped_signif(g, 11));
        break;
      case 1:  // double subnormals: the tie moves with the exponent
        a = make(neg, kBias + g.range(-1076, -1022), shaped_signif(g, g.range(11, 63)));
        break;
      case 2:  // overflow to infinity, or the largest double
        a = make(neg, kBias + g.range(1022, 1025),
                 g.chance(50) ? ~std::uint64_t{0} - (g.next() & 0xfff) : any_signif(g));
        break;
      default:
        a = ext_value(g);
    }
    const std::uint64_t rn = zt_x87_native_to_f64(&a);
    const std::uint64_t rm = zt_x87_mpfr_to_f64(&a);
    if (rn != rm)
      bad.add("to_f64 " + describe(a) + ": unit " + describe_f64(rn) + ", mpfr " +
              describe_f64(rm));
  }
  EXPECT_TRUE(bad.result());
}

TEST(X87Diff, IntegerConversionsAgree) {
  using ToInt = std::int64_t (*)(const zt_x87*);
  struct IntCase {
    const char* name;
    ToInt native;
    ToInt mpfr;
    std::uint64_t seed;
  };
  const IntCase cases[] = {
      {"round", zt_x87_native_round, zt_x87_mpfr_round, 7},
      {"trunc", zt_x87_native_trunc, zt_x87_mpfr_trunc, 8},
  };
  for (const IntCase& ic : cases) {
    Gen g(ic.seed);
    Mismatches bad(ic.name);
    for (int i = 0; i < kCases; ++i) {
      const bool neg = g.chance(50);
      zt_x87 a;
      const std::uint32_t c = g.below(10);
      if (c < 3) {
        // Around 2^63 and 2^31, with the half bit of the integer part shaped.
        const int p = g.chance(60) ? g.range(61, 64) : g.range(29, 33);
        a = make(neg, kBias + p, g.chance(20) ? kIntegerBit : shaped_signif(g, 63 - p));
      } else if (c < 7) {
        const int p = g.range(-3, 63);
        a = make(neg, kBias + p, shaped_signif(g, 63 - p));
      } else {
        a = ext_value(g);
      }
      const std::int64_t rn = ic.native(&a);
      const std::int64_t rm = ic.mpfr(&a);
      if (rn != rm) {
        bad.add(std::string(ic.name) + " " + describe(a) + ": unit " + std::to_string(rn) +
                ", mpfr " + std::to_string(rm));
      }
    }
    EXPECT_TRUE(bad.result());
  }
}

TEST(X87Diff, ComparisonsAgree) {
  Gen g(9);
  Mismatches bad("compare");
  for (int i = 0; i < kCases; ++i) {
    zt_x87 a = ext_value(g);
    zt_x87 b;
    switch (g.below(4)) {
      case 0:
        b = a;
        break;
      case 1:
        b = a;
        b.sign_exp ^= 0x8000;
        break;
      case 2:
        b = partner(g, a);
        break;
      default:
        b = ext_value(g);
    }
    const bool n[3] = {zt_x87_native_lt(&a, &b), zt_x87_native_le(&a, &b),
                       zt_x87_native_eq(&a, &b)};
    const bool m[3] = {zt_x87_mpfr_lt(&a, &b), zt_x87_mpfr_le(&a, &b), zt_x87_mpfr_eq(&a, &b)};
    for (int k = 0; k < 3; ++k) {
      if (n[k] != m[k]) {
        static const char* const kNames[3] = {"lt", "le", "eq"};
        bad.add(std::string(kNames[k]) + "(" + describe(a) + ", " + describe(b) + "): unit " +
                (n[k] ? "true" : "false") + ", mpfr " + (m[k] ? "true" : "false"));
      }
    }
  }
  EXPECT_TRUE(bad.result());
}

TEST(X87Diff, ConversionsFromIntegersSinglesAndDoublesAgree) {
  Gen g(10);
  Mismatches bad32("from_f32"), bad64("from_f64"), badi("from_i32");
  for (int i = 0; i < kCases; ++i) {
    // Exponent fields: all ones (infinities and NaNs), zero (subnormals), or any.
    const std::uint32_t c = g.below(4);
    const std::uint32_t e32 = c == 0 ? 0xff : c == 1 ? 0 : g.below(256);
    std::uint32_t f32 = (static_cast<std::uint32_t>(g.chance(50)) << 31) | (e32 << 23) |
                        (static_cast<std::uint32_t>(g.next()) >> g.range(9, 31));
    const std::uint64_t e64 = c == 0 ? 0x7ff : c == 1 ? 0 : g.below(2048);
    std::uint64_t f64 = (static_cast<std::uint64_t>(g.chance(50)) << 63) | (e64 << 52) |
                        (g.next() >> g.range(12, 63));
    std::int32_t i32 =
        static_cast<std::int32_t>(static_cast<std::uint32_t>(g.next() >> g.range(32, 63)));
    if (g.chance(50)) i32 = -i32 - 1;
    if (g.chance(5)) i32 = g.chance(50) ? INT32_MIN : INT32_MAX;
    zt_x87 rn{}, rm{};
    zt_x87_native_from_f32(f32, &rn);
    zt_x87_mpfr_from_f32(f32, &rm);
    if (!same(rn, rm)) {
      char buf[16];
      std::snprintf(buf, sizeof buf, "%08x", f32);
      bad32.add(std::string("from_f32 ") + buf + ": unit " + describe(rn) + ", mpfr " +
                describe(rm));
    }
    zt_x87_native_from_f64(f64, &rn);
    zt_x87_mpfr_from_f64(f64, &rm);
    if (!same(rn, rm))
      bad64.add("from_f64 " + describe_f64(f64) + ": unit " + describe(rn) + ", mpfr " +
                describe(rm));
    zt_x87_native_from_i32(i32, &rn);
    zt_x87_mpfr_from_i32(i32, &rm);
    if (!same(rn, rm))
      badi.add("from_i32 " + std::to_string(i32) + ": unit " + describe(rn) + ", mpfr " +
               describe(rm));
  }
  EXPECT_TRUE(bad32.result());
  EXPECT_TRUE(bad64.result());
  EXPECT_TRUE(badi.result());
}

}  // namespace

#else

TEST(X87Diff, NeedsBothBackends) {
  GTEST_SKIP() << "the x87 unit and MPFR are not both available";
}

#endif
