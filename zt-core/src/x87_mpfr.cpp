// The portable extended-arithmetic backend: MPFR at 64 bits with the exponent
// range of the 80-bit format and its subnormals, so that every result has the
// bits the x87 unit gives with a 64-bit significand, rounding to nearest-even
// and all exceptions masked. NaNs never enter MPFR: their payloads and the
// unit's choice between two of them are handled here on the bits.
#include <cstdint>

#include "x87_backends.h"

#define MPFR_USE_INTMAX_T 1
#include <gmp.h>
#include <mpfr.h>

static_assert(GMP_NAIL_BITS == 0, "limbs must be whole words");
static_assert(GMP_NUMB_BITS == 64 || GMP_NUMB_BITS == 32, "limbs of 32 or 64 bits");
static_assert(sizeof(intmax_t) == 8, "the integer conversions go through intmax_t");

namespace {

constexpr std::uint16_t kSignBit = 0x8000;
constexpr std::uint16_t kExpMask = 0x7fff;
constexpr std::uint64_t kIntegerBit = 0x8000000000000000u;
constexpr std::uint64_t kQuietBit = 0x4000000000000000u;
constexpr std::int64_t kIntegerIndefinite = INT64_MIN;

// MPFR writes a value as 0.1xxx * 2^E; the 80-bit format's normal exponent
// e (bias 16383) is E - 1 + 16383. The smallest subnormal, 2^-16445, has E = -16444.
constexpr mpfr_exp_t kExtBiasShift = 16382;
constexpr mpfr_exp_t kExtEmin = -16444;
constexpr mpfr_exp_t kExtEmax = 16384;
constexpr mpfr_prec_t kExtPrec = 64;

// The same for doubles: smallest subnormal 2^-1074.
constexpr mpfr_exp_t kDblEmin = -1073;
constexpr mpfr_exp_t kDblEmax = 1024;
constexpr mpfr_prec_t kDblPrec = 53;

constexpr int kLimbs = 64 / GMP_NUMB_BITS;

// MPFR's exponent range is per-thread state that other code may also set;
// whatever sets the 80-bit (or double) range puts the caller's back. Saving
// and restoring it costs more than most operations, so it is only set where
// it changes a result: see normal_size. Loads, comparisons and conversions
// to integers are exact and never need it: MPFR's default range, which
// nothing in this program narrows, holds every extended value.
class ExponentRange {
 public:
  ExponentRange() : old_min_(mpfr_get_emin()), old_max_(mpfr_get_emax()) {
    set(kExtEmin, kExtEmax);
  }
  ~ExponentRange() { set(old_min_, old_max_); }
  ExponentRange(const ExponentRange&) = delete;
  ExponentRange& operator=(const ExponentRange&) = delete;

  static void set(mpfr_exp_t emin, mpfr_exp_t emax) {
    mpfr_set_emin(emin);
    mpfr_set_emax(emax);
  }

 private:
  mpfr_exp_t old_min_;
  mpfr_exp_t old_max_;
};

// A number whose significand lives in this object (MPFR's custom interface):
// no allocation, and the bits are read straight from the limbs.
class Num {
 public:
  explicit Num(mpfr_prec_t prec = kExtPrec) {
    mpfr_custom_init(limbs_, prec);
    mpfr_custom_init_set(x_, MPFR_ZERO_KIND, 0, prec, limbs_);
  }
  Num(const Num&) = delete;
  Num& operator=(const Num&) = delete;

  mpfr_ptr get() { return x_; }
  mpfr_srcptr get() const { return x_; }

  // Top 64 bits of the significand, integer bit in bit 63.
  std::uint64_t signif() const {
#if GMP_NUMB_BITS == 64
    return limbs_[0];
#else
    return (static_cast<std::uint64_t>(limbs_[1]) << 32) | limbs_[0];
#endif
  }

  // An extended value that is not a NaN (NaNs are handled on the bits).
  void load(const zt_x87& a) {
    const bool neg = (a.sign_exp & kSignBit) != 0;
    const int e = a.sign_exp & kExpMask;
    if (e == kExpMask) {
      mpfr_custom_init_set(x_, neg ? -MPFR_INF_KIND : MPFR_INF_KIND, 0, kExtPrec, limbs_);
      return;
    }
    if (a.signif == 0) {
      mpfr_custom_init_set(x_, neg ? -MPFR_ZERO_KIND : MPFR_ZERO_KIND, 0, kExtPrec, limbs_);
      return;
    }
    std::uint64_t m = a.signif;
    mpfr_exp_t exp;
    if (e == 0) {
      const int shift = __builtin_clzll(m);
      m <<= shift;
      exp = 1 - kExtBiasShift - shift;
    } else {
      exp = e - kExtBiasShift;
    }
#if GMP_NUMB_BITS == 64
    limbs_[0] = m;
#else
    limbs_[0] = static_cast<mp_limb_t>(m);
    limbs_[1] = static_cast<mp_limb_t>(m >> 32);
#endif
    mpfr_custom_init_set(x_, neg ? -MPFR_REGULAR_KIND : MPFR_REGULAR_KIND, exp, kExtPrec, limbs_);
  }

  // The result of an operation, already subnormalized; a NaN here can only
  // come from an invalid operation and becomes the default NaN.
  zt_x87 store() const {
    if (mpfr_nan_p(x_)) return {kIntegerBit | kQuietBit, kSignBit | kExpMask};
    const std::uint16_t sign = mpfr_signbit(x_) ? kSignBit : 0;
    if (mpfr_inf_p(x_)) return {kIntegerBit, static_cast<std::uint16_t>(sign | kExpMask)};
    if (mpfr_zero_p(x_)) return {0, sign};
    const mpfr_exp_t biased = mpfr_get_exp(x_) + kExtBiasShift;
    if (biased >= 1) return {signif(), static_cast<std::uint16_t>(sign | biased)};
    // Subnormal: after mpfr_subnormalize the bits shifted out are zero.
    return {signif() >> (1 - biased), sign};
  }

 private:
  mp_limb_t limbs_[kLimbs];
  mpfr_t x_;
};

bool is_nan(const zt_x87& a) {
  return (a.sign_exp & kExpMask) == kExpMask && (a.signif & ~kIntegerBit) != 0;
}

zt_x87 quieted(const zt_x87& a) {
  return {a.signif | kQuietBit, a.sign_exp};
}

// The unit's rule, found by probing it: of two NaNs the one with the larger
// significand wins (so a quiet NaN beats a signalling one), and of two with
// the same significand the positive one; the winner comes out quiet.
zt_x87 propagate_nan(const zt_x87& a, const zt_x87& b) {
  if (!is_nan(b)) return quieted(a);
  if (!is_nan(a)) return quieted(b);
  if (a.signif != b.signif) return quieted(a.signif > b.signif ? a : b);
  return quieted((a.sign_exp & kSignBit) == 0 ? a : b);
}

// Whether a result rounded in MPFR's default range, far wider than the
// format's, is already the format's result: zeros, infinities and NaNs are,
// and so is a number of normal size, which the narrow range would round the
// same way and neither overflow nor make subnormal.
bool normal_size(mpfr_srcptr x, mpfr_exp_t emin, mpfr_exp_t emax, mpfr_prec_t prec) {
  if (!mpfr_regular_p(x)) return true;
  const mpfr_exp_t e = mpfr_get_exp(x);
  return e >= emin + prec - 1 && e <= emax;
}

// A rounding operation, op(result) returning MPFR's ternary value, with the
// 80-bit format's range and subnormals.
template <class Op>
zt_x87 rounded(Op op) {
  Num r;
  op(r.get());
  if (normal_size(r.get(), kExtEmin, kExtEmax, kExtPrec)) return r.store();
  ExponentRange range;
  const int t = op(r.get());
  mpfr_subnormalize(r.get(), t, MPFR_RNDN);
  return r.store();
}

using BinaryOp = int (*)(mpfr_ptr, mpfr_srcptr, mpfr_srcptr, mpfr_rnd_t);

void binary(const zt_x87* pa, const zt_x87* pb, zt_x87* out, BinaryOp op) {
  const zt_x87 a = *pa;
  const zt_x87 b = *pb;
  if (is_nan(a) || is_nan(b)) {
    *out = propagate_nan(a, b);
    return;
  }
  Num x, y;
  x.load(a);
  y.load(b);
  *out = rounded([&](mpfr_ptr r) { return op(r, x.get(), y.get(), MPFR_RNDN); });
}

// Conversion to a 64-bit integer, as fistp with all exceptions masked: out of
// range or NaN gives the integer indefinite.
std::int64_t to_int(const zt_x87* pa, mpfr_rnd_t rnd) {
  const zt_x87 a = *pa;
  if (is_nan(a)) return kIntegerIndefinite;
  Num x;
  x.load(a);
  if (!mpfr_fits_intmax_p(x.get(), rnd)) return kIntegerIndefinite;
  return static_cast<std::int64_t>(mpfr_get_sj(x.get(), rnd));
}

// Every comparison is false when an operand is a NaN; +0 equals -0.
bool compare(const zt_x87* pa, const zt_x87* pb, int (*pred)(mpfr_srcptr, mpfr_srcptr)) {
  if (is_nan(*pa) || is_nan(*pb)) return false;
  Num x, y;
  x.load(*pa);
  y.load(*pb);
  return pred(x.get(), y.get()) != 0;
}

// +-m x 2^e (m not 0) as a normal extended value. Every 32-bit integer,
// single and double is one, so a load is put together on the bits.
zt_x87 normal_value(bool negative, std::uint64_t m, long e) {
  const int shift = __builtin_clzll(m);
  const long biased = e + 63 - shift + kExtBiasShift + 1;
  return {m << shift, static_cast<std::uint16_t>((negative ? kSignBit : 0) | biased)};
}

// Finite binary32/binary64 values enter exactly; a NaN keeps its sign and
// payload, moved to the top of the significand, and comes out quiet.
void from_ieee(std::uint64_t sign, std::uint64_t exp_field, std::uint64_t frac, int frac_bits,
               int exp_all_ones, int bias, zt_x87* out) {
  const std::uint16_t sign_bits = sign ? kSignBit : 0;
  if (exp_field == static_cast<std::uint64_t>(exp_all_ones)) {
    if (frac == 0) {
      *out = {kIntegerBit, static_cast<std::uint16_t>(sign_bits | kExpMask)};
    } else {
      *out = {kIntegerBit | kQuietBit | (frac << (63 - frac_bits)),
              static_cast<std::uint16_t>(sign_bits | kExpMask)};
    }
    return;
  }
  if (exp_field == 0 && frac == 0) {
    *out = {0, sign_bits};
    return;
  }
  const std::uint64_t m = exp_field == 0 ? frac : (frac | (std::uint64_t{1} << frac_bits));
  const long e =
      exp_field == 0 ? 1 - bias - frac_bits : static_cast<long>(exp_field) - bias - frac_bits;
  *out = normal_value(sign != 0, m, e);
}

}  // namespace

extern "C" {

void zt_x87_mpfr_from_i32(std::int32_t v, zt_x87* out) {
  if (v == 0) {
    *out = {0, 0};
    return;
  }
  const std::uint64_t magnitude =
      v < 0 ? 0 - static_cast<std::uint64_t>(std::int64_t{v}) : static_cast<std::uint64_t>(v);
  *out = normal_value(v < 0, magnitude, 0);
}

void zt_x87_mpfr_from_f32(std::uint32_t bits, zt_x87* out) {
  from_ieee(bits >> 31, (bits >> 23) & 0xff, bits & 0x7fffff, 23, 0xff, 127, out);
}

void zt_x87_mpfr_from_f64(std::uint64_t bits, zt_x87* out) {
  from_ieee(bits >> 63, (bits >> 52) & 0x7ff, bits & 0xfffffffffffffu, 52, 0x7ff, 1023, out);
}

std::uint64_t zt_x87_mpfr_to_f64(const zt_x87* pa) {
  const zt_x87 a = *pa;
  const std::uint64_t sign = (a.sign_exp & kSignBit) ? std::uint64_t{1} << 63 : 0;
  constexpr std::uint64_t kDblExpAllOnes = 0x7ff0000000000000u;
  constexpr std::uint64_t kDblFracMask = 0xfffffffffffffu;
  constexpr std::uint64_t kDblQuietBit = 0x8000000000000u;
  if (is_nan(a)) {
    // The store keeps the top of the payload and sets the quiet bit.
    return sign | kDblExpAllOnes | kDblQuietBit | ((a.signif >> 11) & kDblFracMask);
  }
  Num x;
  x.load(a);
  Num d(kDblPrec);
  mpfr_set(d.get(), x.get(), MPFR_RNDN);
  if (!normal_size(d.get(), kDblEmin, kDblEmax, kDblPrec)) {
    // Round to 53 bits first (still in the wide range), then bring the
    // result into the double range; the ternary value keeps this a single
    // rounding.
    ExponentRange range;
    int t = mpfr_set(d.get(), x.get(), MPFR_RNDN);
    ExponentRange::set(kDblEmin, kDblEmax);
    t = mpfr_check_range(d.get(), t, MPFR_RNDN);
    mpfr_subnormalize(d.get(), t, MPFR_RNDN);
  }
  if (mpfr_inf_p(d.get())) return sign | kDblExpAllOnes;
  if (mpfr_zero_p(d.get())) return sign;
  const std::uint64_t m53 = d.signif() >> 11;
  const mpfr_exp_t biased = mpfr_get_exp(d.get()) + 1022;
  if (biased >= 1) return sign | (static_cast<std::uint64_t>(biased) << 52) | (m53 & kDblFracMask);
  return sign | (m53 >> (1 - biased));
}

void zt_x87_mpfr_add(const zt_x87* a, const zt_x87* b, zt_x87* out) {
  binary(a, b, out, mpfr_add);
}
void zt_x87_mpfr_sub(const zt_x87* a, const zt_x87* b, zt_x87* out) {
  binary(a, b, out, mpfr_sub);
}
void zt_x87_mpfr_mul(const zt_x87* a, const zt_x87* b, zt_x87* out) {
  binary(a, b, out, mpfr_mul);
}
void zt_x87_mpfr_div(const zt_x87* a, const zt_x87* b, zt_x87* out) {
  binary(a, b, out, mpfr_div);
}

void zt_x87_mpfr_sqrt(const zt_x87* pa, zt_x87* out) {
  const zt_x87 a = *pa;
  if (is_nan(a)) {
    *out = quieted(a);
    return;
  }
  Num x;
  x.load(a);
  *out = rounded([&](mpfr_ptr r) { return mpfr_sqrt(r, x.get(), MPFR_RNDN); });
}

std::int64_t zt_x87_mpfr_round(const zt_x87* a) {
  return to_int(a, MPFR_RNDN);
}
std::int64_t zt_x87_mpfr_trunc(const zt_x87* a) {
  return to_int(a, MPFR_RNDZ);
}

bool zt_x87_mpfr_lt(const zt_x87* a, const zt_x87* b) {
  return compare(a, b, mpfr_less_p);
}
bool zt_x87_mpfr_le(const zt_x87* a, const zt_x87* b) {
  return compare(a, b, mpfr_lessequal_p);
}
bool zt_x87_mpfr_eq(const zt_x87* a, const zt_x87* b) {
  return compare(a, b, mpfr_equal_p);
}

}  // extern "C"
