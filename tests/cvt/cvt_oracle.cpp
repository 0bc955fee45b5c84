#include "cvt_oracle.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#ifdef VORLIX_HAVE_MPFR
#include <gmp.h>
#include <mpfr.h>
#endif

const char *mode_name(Mode m) {
    switch (m) {
    case Mode::rn: return "RN";
    case Mode::rz: return "RZ";
    case Mode::rd: return "RD";
    case Mode::ru: return "RU";
    case Mode::rc: return "RC";
    }
    return "?";
}

std::string to_string(const Dec &d) {
    if (d.digits.empty()) return "0";
    return "0." + d.digits + "e" + std::to_string(d.exp);
}

Dec normalize(std::string digits, long exp) {
    size_t a = 0;
    while (a < digits.size() && digits[a] == '0') {
        ++a;
        --exp;
    }
    digits.erase(0, a);
    while (!digits.empty() && digits.back() == '0') digits.pop_back();
    return Dec{digits, digits.empty() ? 0 : exp};
}

#ifndef VORLIX_HAVE_MPFR
bool have_mpfr() { return false; }
u128 mpfr_text_to_bits(const Fmt &, const char *, Mode) { std::abort(); }
Dec mpfr_bits_to_dec(const Fmt &, u128, int, bool, Mode) { std::abort(); }
std::string mpfr_exact_text(const Fmt &, u128, bool) { std::abort(); }
#else
bool have_mpfr() { return true; }

namespace {

mpfr_rnd_t rnd_of(Mode m) {
    switch (m) {
    case Mode::rz: return MPFR_RNDZ;
    case Mode::rd: return MPFR_RNDD;
    case Mode::ru: return MPFR_RNDU;
    default: return MPFR_RNDN;
    }
}

// MPFR's exponent range that makes precision-p numbers behave like the
// format (with mpfr_subnormalize): x = 0.1b... x 2^E.
struct Range {
    explicit Range(const Fmt &f) : emin(mpfr_get_emin()), emax(mpfr_get_emax()) {
        mpfr_set_emin(3 - f.bias() - f.p);
        mpfr_set_emax(f.bias() + 1);
    }
    ~Range() {
        mpfr_set_emin(emin);
        mpfr_set_emax(emax);
    }
    mpfr_exp_t emin, emax;
};

void set_from_bits(mpfr_t x, const Fmt &f, u128 bits) {
    const bool neg = (bits >> (f.bits() - 1)) & 1;
    const int be = static_cast<int>((bits >> (f.p - 1)) & ((u128(1) << f.ebits) - 1));
    u128 m = bits & ((u128(1) << (f.p - 1)) - 1);
    int e;
    if (be == 0) {
        e = 1 - f.bias() - (f.p - 1);
    } else {
        m |= u128(1) << (f.p - 1);
        e = be - f.bias() - (f.p - 1);
    }
    mpz_t z;
    mpz_init(z);
    mpz_import(z, 2, -1, 8, 0, 0, &m);
    mpfr_set_z_2exp(x, z, e, MPFR_RNDN);  // exact: precision >= p
    if (neg) mpfr_neg(x, x, MPFR_RNDN);
    mpz_clear(z);
}

u128 bits_from(mpfr_t x, const Fmt &f) {
    const u128 sign = mpfr_signbit(x) ? u128(1) << (f.bits() - 1) : 0;
    const u128 inf = ((u128(1) << f.ebits) - 1) << (f.p - 1);
    if (mpfr_inf_p(x)) return sign | inf;
    if (mpfr_zero_p(x)) return sign;
    mpz_t z;
    mpz_init(z);
    mpfr_exp_t e = mpfr_get_z_2exp(z, x);  // |x| = z 2^e, z of p bits
    mpz_abs(z, z);
    // Bring to the unit of the format at this magnitude.
    const long ulp_min = 1 - f.bias() - (f.p - 1);
    while (mpz_sizeinbase(z, 2) > static_cast<size_t>(f.p) || e < ulp_min) {
        if (!mpz_divisible_2exp_p(z, 1)) std::abort();
        mpz_fdiv_q_2exp(z, z, 1);
        ++e;
    }
    while (mpz_sizeinbase(z, 2) < static_cast<size_t>(f.p) && e > ulp_min) {
        mpz_mul_2exp(z, z, 1);
        --e;
    }
    u128 m = 0;
    size_t cnt = 0;
    mpz_export(&m, &cnt, -1, 8, 0, 0, z);
    mpz_clear(z);
    u128 out = m & ((u128(1) << (f.p - 1)) - 1);
    if (m >> (f.p - 1)) out |= static_cast<u128>(e - ulp_min + 1) << (f.p - 1);
    return sign | out;
}

}  // namespace

u128 mpfr_text_to_bits(const Fmt &f, const char *text, Mode m) {
    mpfr_t x;
    mpfr_init2(x, f.p);
    const mpfr_rnd_t first = m == Mode::rc ? MPFR_RNDZ : rnd_of(m);
    u128 out;
    long ue = 0;
    int t;
    {
        Range r(f);
        t = mpfr_strtofr(x, text, nullptr, 10, first);
        t = mpfr_subnormalize(x, t, first);
        out = bits_from(x, f);
        const long emin = 3 - f.bias() - f.p;
        // Zeros, infinities and NaNs carry no exponent of their own.
        ue = mpfr_regular_p(x) ? static_cast<long>(mpfr_get_exp(x)) - f.p : emin - 1;
        if (ue < emin - 1) ue = emin - 1;
    }
    if (m == Mode::rc && t != 0) {
        // Ties away from zero: the nearest result, except on an exact
        // midpoint, where the result away from zero.  The midpoint above
        // the truncated result, exactly, in MPFR's wide exponent range:
        mpfr_t mid, tx, h;
        mpfr_init2(mid, f.p + 8);
        mpfr_init2(tx, f.p + 8);
        mpfr_init2(h, 8);
        mpfr_abs(mid, x, MPFR_RNDN);
        mpfr_set_ui_2exp(h, 1, ue - 1, MPFR_RNDN);
        mpfr_add(mid, mid, h, MPFR_RNDN);
        const int tt = mpfr_strtofr(tx, text, nullptr, 10, MPFR_RNDN);
        mpfr_abs(tx, tx, MPFR_RNDN);
        const bool tie = tt == 0 && mpfr_equal_p(tx, mid);
        mpfr_clear(mid);
        mpfr_clear(tx);
        mpfr_clear(h);
        const mpfr_rnd_t rr = tie ? MPFR_RNDA : MPFR_RNDN;
        Range r(f);
        t = mpfr_strtofr(x, text, nullptr, 10, rr);
        mpfr_subnormalize(x, t, rr);
        out = bits_from(x, f);
    }
    mpfr_clear(x);
    return out;
}

Dec mpfr_bits_to_dec(const Fmt &f, u128 bits, int n, bool after_point, Mode m) {
    mpfr_t x;
    mpfr_init2(x, f.p);
    set_from_bits(x, f, bits);
    Dec out;
    if (!after_point) {
        auto get = [&](mpfr_rnd_t r, long &e) {
            mpfr_exp_t ee;
            char *s = mpfr_get_str(nullptr, &ee, 10, static_cast<size_t>(n), x, r);
            std::string str(s[0] == '-' ? s + 1 : s);
            mpfr_free_str(s);
            e = ee;
            return str;
        };
        long e;
        std::string s;
        if (m != Mode::rc) {
            s = get(rnd_of(m), e);
        } else {
            long ez, ea;
            std::string sz = get(MPFR_RNDZ, ez), sa = get(MPFR_RNDA, ea);
            bool tie = false;
            if (sz != sa || ez != ea) {
                // Exact midpoint 0.<sz>5 x 10^ez?
                std::string mid = "0." + sz + "5e" + std::to_string(ez);
                mpfr_t t;
                mpfr_init2(t, f.p);
                const int tt = mpfr_strtofr(t, mid.c_str(), nullptr, 10, MPFR_RNDN);
                mpfr_t ax;
                mpfr_init2(ax, f.p);
                mpfr_abs(ax, x, MPFR_RNDN);
                tie = tt == 0 && mpfr_equal_p(t, ax);
                mpfr_clear(t);
                mpfr_clear(ax);
            }
            s = get(tie ? MPFR_RNDA : MPFR_RNDN, e);
        }
        out = normalize(s, e);
    } else {
        // x 10^n exactly, then rounded to an integer.
        mpfr_t t, y;
        const long tp = static_cast<long>(n) * 7 / 3 + 8;
        mpfr_init2(t, tp);
        mpfr_init2(y, tp + f.p + 8);
        mpfr_ui_pow_ui(t, 10, static_cast<unsigned long>(n), MPFR_RNDN);
        mpfr_mul(y, x, t, MPFR_RNDN);
        if (m == Mode::rc)
            mpfr_round(y, y);
        else
            mpfr_rint(y, y, rnd_of(m));
        mpz_t z;
        mpz_init(z);
        mpfr_get_z(z, y, MPFR_RNDN);
        mpz_abs(z, z);
        char *s = mpz_get_str(nullptr, 10, z);
        std::string str(s);
        void (*freefn)(void *, size_t);
        mp_get_memory_functions(nullptr, nullptr, &freefn);
        freefn(s, std::strlen(s) + 1);
        out = mpz_sgn(z) == 0 ? Dec{} : normalize(str, static_cast<long>(str.size()) - n);
        mpz_clear(z);
        mpfr_clear(t);
        mpfr_clear(y);
    }
    mpfr_clear(x);
    return out;
}

std::string mpfr_exact_text(const Fmt &f, u128 bits, bool mid) {
    mpfr_t x;
    mpfr_init2(x, f.p + 2);
    set_from_bits(x, f, bits);
    if (mid) {
        // Half a unit of the format above |x|.
        const long ulp_min = 1 - f.bias() - (f.p - 1);
        long ue = mpfr_zero_p(x) ? ulp_min : static_cast<long>(mpfr_get_exp(x)) - f.p;
        if (ue < ulp_min) ue = ulp_min;
        mpfr_t h;
        mpfr_init2(h, 8);
        mpfr_set_ui_2exp(h, 1, ue - 1, MPFR_RNDN);
        if (mpfr_signbit(x))
            mpfr_sub(x, x, h, MPFR_RNDN);
        else
            mpfr_add(x, x, h, MPFR_RNDN);
        mpfr_clear(h);
    }
    // Enough digits for the exact expansion: at most one per bit below the
    // point plus those above it.
    mpfr_exp_t e;
    const long ulp_min = 1 - f.bias() - (f.p - 1);
    long low = mpfr_zero_p(x) ? ulp_min : static_cast<long>(mpfr_get_exp(x)) - f.p - 1;
    if (low < ulp_min - 1) low = ulp_min - 1;
    const long above = mpfr_zero_p(x) ? 1 : static_cast<long>(mpfr_get_exp(x));
    const size_t n = static_cast<size_t>(f.p + 8 + (low < 0 ? -low : 0) + (above > 0 ? above * 31 / 100 : 0));
    char *s = mpfr_get_str(nullptr, &e, 10, n, x, MPFR_RNDN);
    std::string str(s);
    mpfr_free_str(s);
    mpfr_clear(x);
    const bool neg = !str.empty() && str[0] == '-';
    if (neg) str.erase(0, 1);
    while (str.size() > 1 && str.back() == '0') str.pop_back();
    return std::string(neg ? "-" : "") + "0." + str + "e" + std::to_string(static_cast<long>(e));
}
#endif
