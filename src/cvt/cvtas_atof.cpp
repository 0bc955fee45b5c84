// Text to value: the correctly rounded binary32/64/128 value of a decimal
// field, in any of the five rounding modes.
//
// Plan: one pass over the text gathers the significant digits (the first
// 38 exactly, the rest as a count and a nonzero flag) and the decimal
// exponent.  A 256-bit product of those digits with a truncated 128-bit
// power of ten gives an interval [L, U] that holds the exact value; when no
// rounding boundary of the target format (a multiple of half a unit in the
// last place) falls inside, the interval alone decides the result.
// Otherwise one exact big-integer comparison of the full digit string with
// that single boundary decides it.  Only integer arithmetic is used.
#include <vorlix/cvt.h>

#include "cvt/cvtas_atof.h"
#include "cvt/cvtas_arith.h"
#include "cvt/cvtas_format.h"
#include "cvt/cvtas_pow_ten.h"

namespace {

constexpr int kCaptured = 38;        // digits held exactly in 128 bits
constexpr long kExpClamp = 1000000;  // exponent digits beyond this cannot matter

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }
inline char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

// Skip trailing blanks; true when nothing else follows.
bool only_blanks(const char *p, const char *end) {
    for (; p < end; ++p)
        if (*p != ' ') return false;
    return true;
}

// Case-insensitive match of a word at p.
bool match_word(const char *p, const char *end, const char *word) {
    for (; *word; ++word, ++p)
        if (p >= end || upper(*p) != *word) return false;
    return true;
}

}  // namespace

// Step 1 and 2 of the conversion: recognise the text.  Invariant on return
// (kind number): value = N x 10^e10, N the integer of the nd significant
// digits (first one nonzero), of which the first min(nd, 38) are in `hi`;
// digits after position nd_nz are all zero.
void cvtas_scan(const char *text, int64_t length, uint32_t flags, int32_t d, int32_t k, Cvtas_Scan &out) {
    out = Cvtas_Scan{};
    const char *p = text, *end = text + (length > 0 ? length : 0);
    const bool bz = (flags & 64) && !(flags & 2);
    const char point = (flags & (1u << 27)) ? ',' : '.';
    out.bz = bz;
    out.point = point;

    while (p < end && *p == ' ') ++p;
    if (p < end && (*p == '+' || *p == '-')) {
        out.neg = *p == '-';
        ++p;
    }
    if (p < end && (upper(*p) == 'I' || upper(*p) == 'N')) {
        if (match_word(p, end, "INFINITY") && only_blanks(p + 8, end)) {
            out.kind = Cvtas_Scan::inf;
        } else if (match_word(p, end, "INF") && only_blanks(p + 3, end)) {
            out.kind = Cvtas_Scan::inf;
        } else if (match_word(p, end, "NAN")) {
            const char *q = p + 3;
            const char *payload = q;
            if (q < end && *q == '(') {
                while (q < end && *q != ')') ++q;
                if (q == end) {
                    out.kind = Cvtas_Scan::error;
                    return;
                }
                ++q;
            }
            if (!only_blanks(q, end)) {
                out.kind = Cvtas_Scan::error;
                return;
            }
            out.kind = Cvtas_Scan::nan;
            out.payload = payload;
            out.payload_len = static_cast<int32_t>(q - payload);
        } else {
            out.kind = Cvtas_Scan::error;
        }
        return;
    }

    // Mantissa.  Blanks after the first character: skipped (BN) or zeros (BZ).
    uint64_t w0 = 0, w1 = 0;
    int n0 = 0, n1 = 0;
    int64_t nd = 0, nd_nz = 0;
    int64_t e10 = 0;
    bool any_digit = false, seen_point = false;
    for (; p < end; ++p) {
        char c = *p;
        if (c == ' ') {
            if (!bz) continue;
            c = '0';
        }
        if (is_digit(c)) {
            any_digit = true;
            const unsigned v = static_cast<unsigned>(c - '0');
            if (seen_point) --e10;
            if (nd == 0 && v == 0) continue;  // leading zero
            if (nd == 0) out.first = p;
            ++nd;
            if (v) nd_nz = nd;
            if (n0 < 19) {
                w0 = w0 * 10 + v;
                ++n0;
            } else if (n1 < kCaptured - 19) {
                w1 = w1 * 10 + v;
                ++n1;
            }
            continue;
        }
        if (c == point && !seen_point) {
            seen_point = true;
            continue;
        }
        break;
    }
    out.mant_end = p;

    // Exponent: a letter E, D or Q with an optional sign, or a bare sign.
    bool has_exp = false;
    if (p < end && (upper(*p) == 'E' || upper(*p) == 'D' || upper(*p) == 'Q' || *p == '+' || *p == '-')) {
        if (!any_digit) {
            out.kind = Cvtas_Scan::error;
            return;
        }
        has_exp = true;
        if (*p != '+' && *p != '-') ++p;
        while (p < end && *p == ' ' && !bz) ++p;
        bool eneg = false;
        if (p < end && (*p == '+' || *p == '-')) {
            eneg = *p == '-';
            ++p;
        }
        long ev = 0;
        bool edigit = false;
        for (; p < end; ++p) {
            char c = *p;
            if (c == ' ') {
                if (!bz) continue;
                c = '0';
            }
            if (!is_digit(c)) break;
            edigit = true;
            if (ev < kExpClamp) ev = ev * 10 + (c - '0');
        }
        if (!edigit) {
            out.kind = Cvtas_Scan::error;
            return;
        }
        e10 += eneg ? -ev : ev;
    }
    if (!only_blanks(p, end)) {
        out.kind = Cvtas_Scan::error;
        return;
    }
    if (!seen_point) e10 -= d;
    if (!has_exp) e10 -= k;

    if (nd == 0) {
        out.kind = Cvtas_Scan::zero;
        return;
    }
    out.kind = Cvtas_Scan::number;
    out.hi = n1 ? static_cast<cvtas_u128>(w0) * cvtas_pten_word[n1] + w1 : w0;
    out.nhi = n0 + n1;
    out.nd = nd;
    out.nd_nz = nd_nz;
    out.e10 = e10;
}

namespace {

// The first `count` significant digits again, from the text, into a big
// integer; the scan's blank and point rules apply.
bool gather_digits(const Cvtas_Scan &s, int64_t count, Cvtas_Big &n) {
    n.set(0);
    uint64_t chunk = 0;
    int in_chunk = 0;
    int64_t got = 0;
    for (const char *p = s.first; p < s.mant_end && got < count; ++p) {
        char c = *p;
        if (c == ' ') {
            if (!s.bz) continue;
            c = '0';
        }
        if (!is_digit(c)) continue;  // the point
        chunk = chunk * 10 + static_cast<uint64_t>(c - '0');
        ++got;
        if (++in_chunk == 19) {
            if (n.is_zero())
                n.set(chunk);
            else if (!n.mul_add(cvtas_pten_word[19], chunk))
                return false;
            chunk = 0;
            in_chunk = 0;
        }
    }
    if (in_chunk) {
        if (n.is_zero())
            n.set(chunk);
        else if (!n.mul_add(cvtas_pten_word[in_chunk], chunk))
            return false;
    }
    return true;
}

// Sign of (exact value of the text) - G x 2^e2, from the full digit string.
// Digits past max_digits are replaced by one nonzero digit: no rounding
// boundary has that many significant digits, so the comparison is the same.
template <class F>
int compare_exact(const Cvtas_Scan &s, cvtas_u128 g, long e2, bool &ok) {
    int64_t used = s.nd_nz < F::max_digits ? s.nd_nz : F::max_digits;
    const bool tail = s.nd_nz > F::max_digits;
    long k10 = static_cast<long>(s.e10 + (s.nd - used));

    const long nbits = static_cast<long>(used) * 10 / 3 + 64 + 8;
    const long m = k10 - (tail ? 1 : 0) < e2 ? k10 - (tail ? 1 : 0) : e2;
    const long kk = k10 - (tail ? 1 : 0);
    const long abits = nbits + (kk > 0 ? kk * 7 / 3 + 1 : 0) + (kk - m);
    const long bbits = 130 + (kk < 0 ? -kk * 7 / 3 + 1 : 0) + (e2 - m);
    Cvtas_Limbs la(cvtas_limbs_for_bits(abits)), lb(cvtas_limbs_for_bits(bbits));
    if (!la.ok() || !lb.ok()) {
        ok = false;
        return 0;
    }
    Cvtas_Big a(la.data(), la.size()), b(lb.data(), lb.size());
    ok = gather_digits(s, used, a);
    if (tail) ok = ok && a.mul_add(10, 1);
    k10 = kk;
    b.set(g);
    if (k10 >= 0)
        ok = ok && a.mul_pow5(static_cast<int>(k10));
    else
        ok = ok && b.mul_pow5(static_cast<int>(-k10));
    ok = ok && a.shl(k10 - m) && b.shl(e2 - m);
    return ok ? cvtas_big_cmp(a, b) : 0;
}

template <class F>
typename F::Bits overflow_bits(Cvtas_Mode mode, bool neg) {
    // Beyond the largest finite value: infinity exactly when the mode would
    // round the magnitude up.
    return cvtas_round_up(mode, true, true, true, neg) ? F::inf_bits : F::max_bits;
}

}  // namespace

// Steps 3 to 6: the rounded bits of a scanned number (kind number).
template <class F>
typename F::Bits cvtas_round_scan(const Cvtas_Scan &s, Cvtas_Mode mode, int32_t &error) {
    using B = typename F::Bits;
    const B sign = s.neg ? F::sign_bit : B(0);

    // Range: value in [10^(D-1), 10^D).
    const int64_t dexp = s.nd + s.e10;
    if (dexp >= F::dec_over) return sign | overflow_bits<F>(mode, s.neg);
    if (dexp <= F::dec_under) return sign | (cvtas_round_up(mode, false, false, true, s.neg) ? B(1) : B(0));

    // Interval [L, U] of value x 2^-bexp.  N is normalized to bit 126 so
    // that U cannot carry out of 256 bits.
    const int k = static_cast<int>(s.e10 + (s.nd - s.nhi));
    const Cvtas_Pow pw = cvtas_pten(k);
    const int c = cvtas_clz128(s.hi) - 1;
    const cvtas_u128 n = s.hi << c;
    const Cvtas_U256 lo = cvtas_mul_128x128(n, pw.sig);
    Cvtas_U256 up = lo;
    const bool tail = s.nd_nz > s.nhi;
    const bool exact = pw.err == 0 && !tail;
    if (pw.err) cvtas_add256(up, cvtas_mul_128x128(n, static_cast<cvtas_u128>(pw.err)));
    if (tail)
        cvtas_add256(up, cvtas_mul_128x128(pw.sig + static_cast<cvtas_u128>(pw.err), static_cast<cvtas_u128>(1) << c));
    const int bexp = pw.bexp - c;

    auto ulp_of = [](int top_bit, int be) {
        const int lead = top_bit + be;
        const int u = lead - (F::P - 1);
        return u > F::ulp_min ? u : F::ulp_min;
    };
    const int tl = cvtas_top_bit256(lo), tu = cvtas_top_bit256(up);
    int ue = ulp_of(tl, bexp);
    const int ue_up = ulp_of(tu, bexp);
    cvtas_u128 q;  // value / half-ulp, truncated
    bool sticky;   // value not exactly q half-ulps
    bool ok = true;
    if (ue == ue_up) {
        const int hp = ue - bexp - 1;
        const cvtas_u128 ql = cvtas_shr256(lo, hp), qu = cvtas_shr256(up, hp);
        if (ql == qu) {
            q = ql;
            sticky = !exact || cvtas_low_bits256(lo, hp);
        } else {
            // One boundary, qu half-ulps, inside the interval.
            const int cmp = compare_exact<F>(s, qu, static_cast<long>(hp) + bexp, ok);
            q = cmp < 0 ? ql : qu;
            sticky = cmp != 0;
        }
    } else {
        // The interval straddles a power of two where the unit doubles.
        const int cmp = compare_exact<F>(s, 1, static_cast<long>(tl) + 1 + bexp, ok);
        if (cmp < 0) {
            q = cvtas_shr256(lo, ue - bexp - 1);
            sticky = true;
        } else {
            ue = ue_up;
            q = static_cast<cvtas_u128>(1) << (tl + 1 - (ue - bexp - 1));
            sticky = cmp != 0;
        }
    }
    if (!ok) {
        error = CVT_STATUS_NO_MEMORY;
        return sign;
    }
    if (ue > F::ulp_max) return sign | overflow_bits<F>(mode, s.neg);
    const B kept = static_cast<B>(q >> 1);
    const bool inc = cvtas_round_up(mode, q & 1, kept & 1, sticky, s.neg);
    // A carry out of the significand moves into the exponent field, which is
    // the right result both at a binade's end and from subnormal to normal.
    const B bits = (static_cast<B>(ue - F::ulp_min) << (F::P - 1)) + kept + (inc ? 1 : 0);
    return sign | (bits >= F::inf_bits ? F::inf_bits : bits);
}

template <class F>
typename F::Value cvtas_a_to(const char *text, int64_t length, uint32_t flags, int32_t d, int32_t k, int32_t *status,
                             int32_t *error, typename F::Value (*nan)(const char *, int32_t)) {
    using B = typename F::Bits;
    Cvtas_Scan s;
    cvtas_scan(text, length, flags, d, k, s);
    int32_t err = 0, st = CVT_STATUS_FINITE;
    B bits = 0;
    const B sign = s.neg ? F::sign_bit : B(0);
    switch (s.kind) {
    case Cvtas_Scan::error:
        err = 1;
        st = CVT_STATUS_ZERO;
        break;
    case Cvtas_Scan::zero:
        bits = sign;
        st = CVT_STATUS_ZERO;
        break;
    case Cvtas_Scan::inf:
        bits = sign | F::inf_bits;
        st = CVT_STATUS_INFINITY;
        break;
    case Cvtas_Scan::nan:
        bits = F::bits_of(nan(s.payload, s.payload_len)) | sign;
        st = CVT_STATUS_NAN;
        break;
    case Cvtas_Scan::number: {
        const Cvtas_Mode mode = cvtas_decode_mode(flags, Cvtas_Mode::rc);
        bits = cvtas_round_scan<F>(s, mode, err);
        const B mag = bits & ~F::sign_bit;
        st = mag == 0 ? CVT_STATUS_ZERO : mag == F::inf_bits ? CVT_STATUS_INFINITY : CVT_STATUS_FINITE;
        break;
    }
    }
    if (status) *status = st;
    if (error) *error = err;
    return F::value_of(bits);
}

template Cvtas_S::Bits cvtas_round_scan<Cvtas_S>(const Cvtas_Scan &, Cvtas_Mode, int32_t &);
template Cvtas_T::Bits cvtas_round_scan<Cvtas_T>(const Cvtas_Scan &, Cvtas_Mode, int32_t &);
template Cvtas_X::Bits cvtas_round_scan<Cvtas_X>(const Cvtas_Scan &, Cvtas_Mode, int32_t &);

float cvtas_a_to_s(const char *text, int64_t length, uint32_t flags, int32_t d, int32_t k, int32_t *status,
                   int32_t *error) {
    return cvtas_a_to<Cvtas_S>(text, length, flags, d, k, status, error, cvtas__nan_s);
}

double cvtas_a_to_t(const char *text, int64_t length, uint32_t flags, int32_t d, int32_t k, int32_t *status,
                    int32_t *error) {
    return cvtas_a_to<Cvtas_T>(text, length, flags, d, k, status, error, cvtas__nan_t);
}

__float128 cvtas_a_to_x(const char *text, int64_t length, uint32_t flags, int32_t d, int32_t k, int32_t *status,
                        int32_t *error) {
    return cvtas_a_to<Cvtas_X>(text, length, flags, d, k, status, error, cvtas__nan_x);
}
