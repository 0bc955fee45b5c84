// Conversion of floating values between IEEE binary32/binary64 and the
// foreign formats of unformatted files (VAX F, D, G, H; IBM hexadecimal
// short and long; Cray 64-bit).
//
// One mechanism serves all sixteen routines: the input is loaded into an
// integer in the byte order of its format, split into an exact value
// sig x 2^q (or a class: zero, infinity, invalid), and that value is
// rounded and packed for the target.  Only integer arithmetic is used, so
// neither the caller's floating-point environment nor its exception flags
// are touched, and every rounding rule is available whatever the hardware
// mode.
#include <vorlix/cvt_foreign.h>

#include <algorithm>
#include <bit>
#include <cstdint>

namespace {

using u128 = unsigned __int128;

enum class Family : uint8_t { ieee, vax, ibm, cray };

// Every format here is a sign bit, an exponent field and a fraction field,
// from the most significant bit down; the finite value of the fields
// (e, f) is M x 2^(step*e - qoff) with M = f, plus 2^frac_bits when the
// leading bit is hidden.  IBM exponents count hexadecimal digits, hence
// step 4.
struct Format {
    Family family;
    uint8_t bytes;
    uint8_t exp_bits;
    bool hidden;
    uint8_t step;
    int32_t qoff;
    uint32_t emin, emax;  // the exponent fields of normal values

    constexpr int frac_bits() const { return bytes * 8 - 1 - exp_bits; }
    // Bits of M in a normal value; IBM allows up to three leading zeros
    // inside the leading hexadecimal digit.
    constexpr int precision() const { return frac_bits() + (hidden ? 1 : 0); }
    constexpr u128 sign_bit() const { return u128{1} << (bytes * 8 - 1); }
    constexpr u128 frac_mask() const { return (u128{1} << frac_bits()) - 1; }
    constexpr uint32_t exp_mask() const { return (1u << exp_bits) - 1; }
    constexpr u128 fields(uint32_t e, u128 m) const { return (u128{e} << frac_bits()) | (m & frac_mask()); }
};

// IEEE: 1.f x 2^(e-bias), so qoff = bias + frac_bits.  VAX: 0.1f x 2^(e-bias),
// one more.  Cray: 0.c x 2^(e-16384) with the leading bit of c explicit.
// IBM: 0.f x 16^(e-64).
constexpr Format kIeeeS{Family::ieee, 4, 8, true, 1, 127 + 23, 1, 254};
constexpr Format kIeeeT{Family::ieee, 8, 11, true, 1, 1023 + 52, 1, 2046};
constexpr Format kVaxF{Family::vax, 4, 8, true, 1, 128 + 24, 1, 255};
constexpr Format kVaxD{Family::vax, 8, 8, true, 1, 128 + 56, 1, 255};
constexpr Format kVaxG{Family::vax, 8, 11, true, 1, 1024 + 53, 1, 2047};
constexpr Format kVaxH{Family::vax, 16, 15, true, 1, 16384 + 113, 1, 32767};
constexpr Format kIbmS{Family::ibm, 4, 7, false, 4, 4 * 64 + 24, 0, 127};
constexpr Format kIbmL{Family::ibm, 8, 7, false, 4, 4 * 64 + 56, 0, 127};
constexpr Format kCray{Family::cray, 8, 15, false, 1, 16384 + 48, 0x2000, 0x5FFF};

static_assert(kCray.frac_bits() == 48 && kVaxH.frac_bits() == 112 && kIbmL.frac_bits() == 56);

enum class Rounding : uint8_t { nearest, to_zero, up, down, vax };

constexpr uint32_t kRoundingBits =
    CVT_OPT_ROUND_TO_ZERO | CVT_OPT_ROUND_UP | CVT_OPT_ROUND_DOWN | CVT_OPT_ROUND_NEAREST | CVT_OPT_ROUND_VAX;
constexpr uint32_t kKnownBits = kRoundingBits | CVT_OPT_REPORT_UNDERFLOW | CVT_OPT_BIG_ENDIAN;

// ---- Byte order: IEEE values are native (little-endian) unless the caller
// asks for big-endian; IBM and Cray are big-endian; VAX keeps 16-bit
// little-endian words with the most significant word first.  Byte by byte,
// so any alignment will do.

u128 load(const Format &fmt, const uint8_t *p, bool ieee_big) {
    u128 raw = 0;
    if (fmt.family == Family::vax) {
        for (int w = 0; w < fmt.bytes; w += 2) raw = (raw << 16) | (u128{p[w + 1]} << 8) | p[w];
    } else if (fmt.family != Family::ieee || ieee_big) {
        for (int i = 0; i < fmt.bytes; ++i) raw = (raw << 8) | p[i];
    } else {
        for (int i = fmt.bytes - 1; i >= 0; --i) raw = (raw << 8) | p[i];
    }
    return raw;
}

void store(const Format &fmt, u128 raw, uint8_t *p, bool ieee_big) {
    if (fmt.family == Family::vax) {
        for (int w = fmt.bytes - 2; w >= 0; w -= 2, raw >>= 16) {
            p[w] = static_cast<uint8_t>(raw);
            p[w + 1] = static_cast<uint8_t>(raw >> 8);
        }
    } else if (fmt.family != Family::ieee || ieee_big) {
        for (int i = fmt.bytes - 1; i >= 0; --i, raw >>= 8) p[i] = static_cast<uint8_t>(raw);
    } else {
        for (int i = 0; i < fmt.bytes; ++i, raw >>= 8) p[i] = static_cast<uint8_t>(raw);
    }
}

// ---- Unpacking.

enum class Kind : uint8_t { zero, finite, infinite, invalid };

struct Value {
    Kind kind;
    bool neg;
    u128 sig;  // finite: the value is sig x 2^q, sig > 0
    int32_t q;
};

Value unpack(const Format &fmt, u128 raw) {
    const bool neg = (raw & fmt.sign_bit()) != 0;
    const auto e = static_cast<uint32_t>(raw >> fmt.frac_bits()) & fmt.exp_mask();
    const u128 f = raw & fmt.frac_mask();
    const u128 lead = fmt.hidden ? u128{1} << fmt.frac_bits() : 0;
    const int32_t q = static_cast<int32_t>(fmt.step * e) - fmt.qoff;
    switch (fmt.family) {
    case Family::ieee:
        if (e == fmt.exp_mask()) return {f != 0 ? Kind::invalid : Kind::infinite, neg, 0, 0};
        if (e == 0) return f == 0 ? Value{Kind::zero, neg, 0, 0} : Value{Kind::finite, neg, f, 1 - fmt.qoff};
        return {Kind::finite, neg, f | lead, q};
    case Family::vax:
        // A zero exponent is zero whatever the fraction, unless the sign
        // makes it the reserved operand; VAX zero has no sign.
        if (e == 0) return {neg ? Kind::invalid : Kind::zero, false, 0, 0};
        return {Kind::finite, neg, f | lead, q};
    case Family::ibm:
        if (f == 0) return {Kind::zero, neg, 0, 0};
        if ((f >> (fmt.frac_bits() - 4)) == 0) return {Kind::invalid, neg, 0, 0};  // unnormalised
        return {Kind::finite, neg, f, q};
    case Family::cray:
        // A zero exponent is outside the valid range, which also rejects a
        // zero upper half over a non-zero lower half.
        if ((raw & ~fmt.sign_bit()) == 0) return {Kind::zero, neg, 0, 0};
        if (e < fmt.emin || e > fmt.emax || ((f >> (fmt.frac_bits() - 1)) & 1) == 0) return {Kind::invalid, neg, 0, 0};
        return {Kind::finite, neg, f, q};
    }
    return {Kind::invalid, neg, 0, 0};
}

// ---- Special results of the target.

u128 signed_if(const Format &fmt, bool neg, u128 magnitude) { return neg ? magnitude | fmt.sign_bit() : magnitude; }

u128 zero_of(const Format &fmt, bool neg) { return fmt.family == Family::vax ? 0 : signed_if(fmt, neg, 0); }

u128 largest_of(const Format &fmt, bool neg) { return signed_if(fmt, neg, fmt.fields(fmt.emax, fmt.frac_mask())); }

u128 invalid_of(const Format &fmt) {
    switch (fmt.family) {
    case Family::ieee: return fmt.fields(fmt.exp_mask(), fmt.frac_mask() >> 1);  // a NaN, quiet bit clear
    case Family::vax: return fmt.sign_bit();                                     // the reserved operand
    case Family::ibm: return fmt.sign_bit() | fmt.fields(fmt.exp_mask(), 0);
    case Family::cray: return fmt.fields(fmt.emax + 1, 0);  // the first exponent past the valid range
    }
    return 0;
}

// The result of a magnitude beyond the target's largest when the rounding
// rule does not settle for the largest.  VAX and Cray give their invalid
// value: a Cray word flagged as overflowed is indistinguishable from it.
// IBM has nothing to flag with and always gives its largest.
u128 overflow_of(const Format &fmt, bool neg) {
    switch (fmt.family) {
    case Family::ieee: return signed_if(fmt, neg, fmt.fields(fmt.exp_mask(), 0));
    case Family::vax:
    case Family::cray: return invalid_of(fmt);
    case Family::ibm: return largest_of(fmt, neg);
    }
    return 0;
}

// An IEEE infinity; only Cray keeps its sign, in the overflowed exponent.
u128 infinity_of(const Format &fmt, bool neg) {
    return fmt.family == Family::cray ? signed_if(fmt, neg, invalid_of(fmt)) : overflow_of(fmt, neg);
}

// ---- Rounding and packing.

int bit_length(u128 v) {
    const auto hi = static_cast<uint64_t>(v >> 64);
    return hi != 0 ? 128 - std::countl_zero(hi) : 64 - std::countl_zero(static_cast<uint64_t>(v));
}

// sig x 2^-shift rounded to an integer.  sig has at most 113 bits, so a
// shift of 120 or more leaves only a sticky bit.
u128 round_shift(u128 sig, int32_t shift, bool neg, Rounding mode) {
    if (shift <= 0) return sig << -shift;
    u128 kept = 0;
    bool half = false, sticky = true;
    if (shift < 120) {
        kept = sig >> shift;
        const u128 rest = sig & ((u128{1} << shift) - 1);
        const u128 half_unit = u128{1} << (shift - 1);
        half = (rest & half_unit) != 0;
        sticky = (rest & (half_unit - 1)) != 0;
    }
    bool up = false;
    switch (mode) {
    case Rounding::nearest: up = half && (sticky || (kept & 1) != 0); break;
    case Rounding::to_zero: break;
    case Rounding::up: up = !neg && (half || sticky); break;
    case Rounding::down: up = neg && (half || sticky); break;
    case Rounding::vax: up = half; break;  // half an ulp added to the magnitude, then truncated
    }
    return kept + (up ? 1 : 0);
}

struct Packed {
    u128 raw;
    int32_t status;
};

Packed pack_finite(const Format &to, const Value &v, Rounding mode, bool report_underflow) {
    const int p = to.precision();
    const int32_t top = v.q + bit_length(v.sig) - 1;  // 2^top <= |value| < 2^(top+1)
    int32_t q;
    if (to.step == 4) {
        // The leading hexadecimal digit is non-zero: 16^(k-1) <= |value| < 16^k.
        const int32_t k = (top >> 2) + 1;
        q = 4 * k - p;
    } else {
        q = top - (p - 1);
        if (to.family == Family::ieee) q = std::max(q, 1 - to.qoff);  // subnormal spacing
    }
    u128 m = round_shift(v.sig, q - v.q, v.neg, mode);
    if (m == u128{1} << p) {
        m >>= to.step;
        q += to.step;
    }
    const int32_t e = (q + to.qoff) / to.step;

    const bool toward_zero =
        mode == Rounding::to_zero || (mode == Rounding::up && v.neg) || (mode == Rounding::down && !v.neg);
    if (e > static_cast<int32_t>(to.emax)) {
        return {toward_zero ? largest_of(to, v.neg) : overflow_of(to, v.neg), CVT_FOREIGN_OVERFLOW};
    }
    // Underflow is judged on the rounded result, as overflow is: a value that
    // rounds to the smallest normal is that normal.  Formats without
    // subnormals give zero below it, whatever the rounding rule.
    const int32_t uf_status = report_underflow ? CVT_FOREIGN_UNDERFLOW : CVT_FOREIGN_OK;
    if (to.family == Family::ieee && m < u128{1} << (p - 1))  // subnormal or zero
        return {signed_if(to, v.neg, m), uf_status};
    if (e < static_cast<int32_t>(to.emin)) return {zero_of(to, v.neg), uf_status};
    return {signed_if(to, v.neg, to.fields(static_cast<uint32_t>(e), m)), CVT_FOREIGN_OK};
}

int32_t convert(const Format &from, const Format &to, const void *in, uint32_t options, void *out) {
    if ((options & ~kKnownBits) != 0 || std::popcount(options & kRoundingBits) > 1) return CVT_FOREIGN_BAD_OPTIONS;
    Rounding mode = to.family == Family::vax ? Rounding::vax : Rounding::nearest;
    if (options & CVT_OPT_ROUND_TO_ZERO) mode = Rounding::to_zero;
    if (options & CVT_OPT_ROUND_UP) mode = Rounding::up;
    if (options & CVT_OPT_ROUND_DOWN) mode = Rounding::down;
    if (options & CVT_OPT_ROUND_NEAREST) mode = Rounding::nearest;
    if (options & CVT_OPT_ROUND_VAX) mode = Rounding::vax;
    const bool big = (options & CVT_OPT_BIG_ENDIAN) != 0;

    const Value v = unpack(from, load(from, static_cast<const uint8_t *>(in), big));
    Packed r{0, CVT_FOREIGN_OK};
    switch (v.kind) {
    case Kind::zero: r = {zero_of(to, v.neg), CVT_FOREIGN_OK}; break;
    case Kind::invalid: r = {invalid_of(to), CVT_FOREIGN_INVALID}; break;
    case Kind::infinite:
        // Only the IEEE formats are sources, and IBM takes an infinity as its
        // largest value without complaint.
        r.raw = infinity_of(to, v.neg);
        if (to.family == Family::vax || to.family == Family::cray)
            r.status = v.neg ? CVT_FOREIGN_NEG_INF : CVT_FOREIGN_POS_INF;
        break;
    case Kind::finite: r = pack_finite(to, v, mode, (options & CVT_OPT_REPORT_UNDERFLOW) != 0); break;
    }
    store(to, r.raw, static_cast<uint8_t *>(out), big);
    return r.status;
}

uint32_t options_at(const uint32_t *options) { return options ? *options : 0; }

}  // namespace

// ---- The exported entries: the plain routine, the Fortran twin taking the
// options by address (an absent optional argument counts as 0), and the
// upper-case alias of the plain routine.

extern "C" {

int32_t cvt_vax_f_to_ieee_single(const void *in, uint32_t options, void *out) {
    return convert(kVaxF, kIeeeS, in, options, out);
}
int32_t cvt_vax_f_to_ieee_single_(const void *in, const uint32_t *options, void *out) {
    return convert(kVaxF, kIeeeS, in, options_at(options), out);
}
int32_t CVT_VAX_F_TO_IEEE_SINGLE(const void *, uint32_t, void *) __attribute__((alias("cvt_vax_f_to_ieee_single")));

int32_t cvt_vax_d_to_ieee_double(const void *in, uint32_t options, void *out) {
    return convert(kVaxD, kIeeeT, in, options, out);
}
int32_t cvt_vax_d_to_ieee_double_(const void *in, const uint32_t *options, void *out) {
    return convert(kVaxD, kIeeeT, in, options_at(options), out);
}
int32_t CVT_VAX_D_TO_IEEE_DOUBLE(const void *, uint32_t, void *) __attribute__((alias("cvt_vax_d_to_ieee_double")));

int32_t cvt_vax_g_to_ieee_double(const void *in, uint32_t options, void *out) {
    return convert(kVaxG, kIeeeT, in, options, out);
}
int32_t cvt_vax_g_to_ieee_double_(const void *in, const uint32_t *options, void *out) {
    return convert(kVaxG, kIeeeT, in, options_at(options), out);
}
int32_t CVT_VAX_G_TO_IEEE_DOUBLE(const void *, uint32_t, void *) __attribute__((alias("cvt_vax_g_to_ieee_double")));

int32_t cvt_vax_h_to_ieee_double(const void *in, uint32_t options, void *out) {
    return convert(kVaxH, kIeeeT, in, options, out);
}
int32_t cvt_vax_h_to_ieee_double_(const void *in, const uint32_t *options, void *out) {
    return convert(kVaxH, kIeeeT, in, options_at(options), out);
}
int32_t CVT_VAX_H_TO_IEEE_DOUBLE(const void *, uint32_t, void *) __attribute__((alias("cvt_vax_h_to_ieee_double")));

int32_t cvt_cray_to_ieee_single(const void *in, uint32_t options, void *out) {
    return convert(kCray, kIeeeS, in, options, out);
}
int32_t cvt_cray_to_ieee_single_(const void *in, const uint32_t *options, void *out) {
    return convert(kCray, kIeeeS, in, options_at(options), out);
}
int32_t CVT_CRAY_TO_IEEE_SINGLE(const void *, uint32_t, void *) __attribute__((alias("cvt_cray_to_ieee_single")));

int32_t cvt_cray_to_ieee_double(const void *in, uint32_t options, void *out) {
    return convert(kCray, kIeeeT, in, options, out);
}
int32_t cvt_cray_to_ieee_double_(const void *in, const uint32_t *options, void *out) {
    return convert(kCray, kIeeeT, in, options_at(options), out);
}
int32_t CVT_CRAY_TO_IEEE_DOUBLE(const void *, uint32_t, void *) __attribute__((alias("cvt_cray_to_ieee_double")));

int32_t cvt_ibm_short_to_ieee_single(const void *in, uint32_t options, void *out) {
    return convert(kIbmS, kIeeeS, in, options, out);
}
int32_t cvt_ibm_short_to_ieee_single_(const void *in, const uint32_t *options, void *out) {
    return convert(kIbmS, kIeeeS, in, options_at(options), out);
}
int32_t CVT_IBM_SHORT_TO_IEEE_SINGLE(const void *, uint32_t, void *)
    __attribute__((alias("cvt_ibm_short_to_ieee_single")));

int32_t cvt_ibm_long_to_ieee_double(const void *in, uint32_t options, void *out) {
    return convert(kIbmL, kIeeeT, in, options, out);
}
int32_t cvt_ibm_long_to_ieee_double_(const void *in, const uint32_t *options, void *out) {
    return convert(kIbmL, kIeeeT, in, options_at(options), out);
}
int32_t CVT_IBM_LONG_TO_IEEE_DOUBLE(const void *, uint32_t, void *)
    __attribute__((alias("cvt_ibm_long_to_ieee_double")));

int32_t cvt_ieee_single_to_vax_f(const void *in, uint32_t options, void *out) {
    return convert(kIeeeS, kVaxF, in, options, out);
}
int32_t cvt_ieee_single_to_vax_f_(const void *in, const uint32_t *options, void *out) {
    return convert(kIeeeS, kVaxF, in, options_at(options), out);
}
int32_t CVT_IEEE_SINGLE_TO_VAX_F(const void *, uint32_t, void *) __attribute__((alias("cvt_ieee_single_to_vax_f")));

int32_t cvt_ieee_double_to_vax_d(const void *in, uint32_t options, void *out) {
    return convert(kIeeeT, kVaxD, in, options, out);
}
int32_t cvt_ieee_double_to_vax_d_(const void *in, const uint32_t *options, void *out) {
    return convert(kIeeeT, kVaxD, in, options_at(options), out);
}
int32_t CVT_IEEE_DOUBLE_TO_VAX_D(const void *, uint32_t, void *) __attribute__((alias("cvt_ieee_double_to_vax_d")));

int32_t cvt_ieee_double_to_vax_g(const void *in, uint32_t options, void *out) {
    return convert(kIeeeT, kVaxG, in, options, out);
}
int32_t cvt_ieee_double_to_vax_g_(const void *in, const uint32_t *options, void *out) {
    return convert(kIeeeT, kVaxG, in, options_at(options), out);
}
int32_t CVT_IEEE_DOUBLE_TO_VAX_G(const void *, uint32_t, void *) __attribute__((alias("cvt_ieee_double_to_vax_g")));

int32_t cvt_ieee_double_to_vax_h(const void *in, uint32_t options, void *out) {
    return convert(kIeeeT, kVaxH, in, options, out);
}
int32_t cvt_ieee_double_to_vax_h_(const void *in, const uint32_t *options, void *out) {
    return convert(kIeeeT, kVaxH, in, options_at(options), out);
}
int32_t CVT_IEEE_DOUBLE_TO_VAX_H(const void *, uint32_t, void *) __attribute__((alias("cvt_ieee_double_to_vax_h")));

int32_t cvt_ieee_single_to_cray(const void *in, uint32_t options, void *out) {
    return convert(kIeeeS, kCray, in, options, out);
}
int32_t cvt_ieee_single_to_cray_(const void *in, const uint32_t *options, void *out) {
    return convert(kIeeeS, kCray, in, options_at(options), out);
}
int32_t CVT_IEEE_SINGLE_TO_CRAY(const void *, uint32_t, void *) __attribute__((alias("cvt_ieee_single_to_cray")));

int32_t cvt_ieee_double_to_cray(const void *in, uint32_t options, void *out) {
    return convert(kIeeeT, kCray, in, options, out);
}
int32_t cvt_ieee_double_to_cray_(const void *in, const uint32_t *options, void *out) {
    return convert(kIeeeT, kCray, in, options_at(options), out);
}
int32_t CVT_IEEE_DOUBLE_TO_CRAY(const void *, uint32_t, void *) __attribute__((alias("cvt_ieee_double_to_cray")));

int32_t cvt_ieee_single_to_ibm_short(const void *in, uint32_t options, void *out) {
    return convert(kIeeeS, kIbmS, in, options, out);
}
int32_t cvt_ieee_single_to_ibm_short_(const void *in, const uint32_t *options, void *out) {
    return convert(kIeeeS, kIbmS, in, options_at(options), out);
}
int32_t CVT_IEEE_SINGLE_TO_IBM_SHORT(const void *, uint32_t, void *)
    __attribute__((alias("cvt_ieee_single_to_ibm_short")));

int32_t cvt_ieee_double_to_ibm_long(const void *in, uint32_t options, void *out) {
    return convert(kIeeeT, kIbmL, in, options, out);
}
int32_t cvt_ieee_double_to_ibm_long_(const void *in, const uint32_t *options, void *out) {
    return convert(kIeeeT, kIbmL, in, options_at(options), out);
}
int32_t CVT_IEEE_DOUBLE_TO_IBM_LONG(const void *, uint32_t, void *)
    __attribute__((alias("cvt_ieee_double_to_ibm_long")));

}  // extern "C"
