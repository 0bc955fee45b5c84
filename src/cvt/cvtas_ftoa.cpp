// Value to digits: the decimal digits of a binary32/64/128 value, rounded
// at a requested place in any of the five rounding modes.
//
// The value is m x 2^e.  Every path computes Q = floor(value x 10^s) and
// where the value lies relative to Q (exactly on it, below, on or above the
// half); the rounding step then needs nothing else.
//   fast:  binary32/64 with Q below 10^18: a 64 x 128-bit product with a
//          truncated power of ten; the error is below one unit of the top 64
//          fraction bits, so unless those bits sit right under the half or
//          the whole, the truncated product decides.
//   exact: big integers: m 5^s shifted by e + s when s >= 0, else the full
//          decimal expansion of m 2^e cut at the place.
#include <vorlix/cvt.h>

#include "cvt/cvtas_arith.h"
#include "cvt/cvtas_format.h"
#include "cvt/cvtas_ftoa.h"
#include "cvt/cvtas_pow_ten.h"

namespace {

constexpr uint64_t kHalf64 = 0x8000000000000000u;

// The rest after removing the last decimal digit r of Q.
Cvtas_Rest drop_digit(unsigned r, Cvtas_Rest rest) {
    if (r > 5) return Cvtas_Rest::above;
    if (r == 5) return rest == Cvtas_Rest::zero ? Cvtas_Rest::half : Cvtas_Rest::above;
    if (r == 0) return rest == Cvtas_Rest::zero ? Cvtas_Rest::zero : Cvtas_Rest::below;
    return Cvtas_Rest::below;
}

constexpr char kPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// The eight digits of x < 10^8, zero padded: 32-bit divisions by
// constants only.
void write8(uint32_t x, char *out) {
    const uint32_t a = x / 10000, b = x % 10000;
    std::memcpy(out, kPairs + 2 * (a / 100), 2);
    std::memcpy(out + 2, kPairs + 2 * (a % 100), 2);
    std::memcpy(out + 4, kPairs + 2 * (b / 100), 2);
    std::memcpy(out + 6, kPairs + 2 * (b % 100), 2);
}

// The n <= 24 low decimal digits of q, zero padded, into out[0..n): three
// groups of eight (q < 2^64 < 10^20, so the top group is below 10^4).
void write_digits(uint64_t q, int n, char *out) {
    char tmp[24];
    const uint64_t hi = q / 100000000;
    write8(static_cast<uint32_t>(q % 100000000), tmp + 16);
    write8(static_cast<uint32_t>(hi % 100000000), tmp + 8);
    write8(static_cast<uint32_t>(hi / 100000000), tmp);
    std::memcpy(out, tmp + 24 - n, static_cast<size_t>(n));
}

// Decimal text of a big integer into a scratch of at least bits*0.302+20
// characters, most significant digit first; returns the length (0 for 0).
size_t big_to_text(Cvtas_Big &x, char *scratch, size_t cap) {
    size_t pos = cap;
    while (!x.is_zero()) {
        const uint64_t r = x.divmod(cvtas_pten_word[19]);
        pos -= 19;
        write_digits(r, 19, scratch + pos);
    }
    while (pos < cap && scratch[pos] == '0') ++pos;
    const size_t len = cap - pos;
    std::memmove(scratch, scratch + pos, len);
    return len;
}

class Scratch {
  public:
    explicit Scratch(size_t n) { p_ = n <= sizeof(inline_) ? inline_ : static_cast<char *>(std::malloc(n)); }
    ~Scratch() {
        if (p_ != inline_) std::free(p_);
    }
    Scratch(const Scratch &) = delete;
    Scratch &operator=(const Scratch &) = delete;
    char *get() { return p_; }

  private:
    char inline_[1024];
    char *p_;
};

}  // namespace

bool cvtas_scaled_fast(uint64_t m, int e, int s, uint64_t &q, Cvtas_Rest &rest) {
    if (s < cvtas_pten_direct_min || s > cvtas_pten_direct_max) return false;
    const int c = cvtas_clz64(m);
    m <<= c;
    e -= c;
    const Cvtas_Pow pw = cvtas_pten(s);
    const cvtas_u128 p0 = static_cast<cvtas_u128>(m) * static_cast<uint64_t>(pw.sig);
    const cvtas_u128 p1 = static_cast<cvtas_u128>(m) * static_cast<uint64_t>(pw.sig >> 64);
    const uint64_t w0 = static_cast<uint64_t>(p0);
    const cvtas_u128 mid = (p0 >> 64) + static_cast<uint64_t>(p1);
    const uint64_t w1 = static_cast<uint64_t>(mid);
    const uint64_t w2 = static_cast<uint64_t>((p1 >> 64) + (mid >> 64));
    // value x 10^s = (w2:w1:w0) x 2^-sh; Q must come from w2 alone and the
    // fraction must have at least 128 bits for the error bound below.
    const int sh = -(e + pw.bexp);
    if (sh < 128 || sh > 191) return false;
    const int t = sh - 128;
    q = w2 >> t;
    const uint64_t fhi = t ? (w2 << (64 - t)) | (w1 >> t) : w1;
    const bool flow = t ? ((w1 << (64 - t)) | w0) != 0 : w0 != 0;
    if (pw.err) {
        // The exact product exceeds this one by less than m < 2^64 units,
        // less than one unit of fhi: only fhi just below the half or the
        // whole can hide a crossing.  The exact value is never on the grid
        // here, since the truncated power is strictly below 10^s.
        if (((fhi + 1) & ~kHalf64) == 0) return false;
        rest = fhi < kHalf64 ? Cvtas_Rest::below : Cvtas_Rest::above;
        return true;
    }
    if (fhi == 0 && !flow)
        rest = Cvtas_Rest::zero;
    else if (fhi < kHalf64)
        rest = Cvtas_Rest::below;
    else if (fhi == kHalf64 && !flow)
        rest = Cvtas_Rest::half;
    else
        rest = Cvtas_Rest::above;
    return true;
}

int cvtas_scaled_exact(cvtas_u128 m, int e, long s, Cvtas_Digits &out, Cvtas_Rest &rest) {
    const long mbits = 128 - cvtas_clz128(m);
    rest = Cvtas_Rest::zero;
    if (s >= 0) {
        const long sh = e + s;
        const long bits = mbits + s * 7 / 3 + 1 + (sh > 0 ? sh : 0);
        Cvtas_Limbs lx(cvtas_limbs_for_bits(bits));
        if (!lx.ok()) return CVT_STATUS_NO_MEMORY;
        Cvtas_Big x(lx.data(), lx.size());
        x.set(m);
        if (!x.mul_pow5(static_cast<int>(s))) return CVT_STATUS_NO_MEMORY;
        if (sh >= 0) {
            if (!x.shl(sh)) return CVT_STATUS_NO_MEMORY;
        } else {
            bool half, below;
            x.shr(-sh, half, below);
            rest =
                half ? (below ? Cvtas_Rest::above : Cvtas_Rest::half) : (below ? Cvtas_Rest::below : Cvtas_Rest::zero);
        }
        const size_t cap = static_cast<size_t>(bits) * 31 / 100 + 40;
        if (!out.reserve(cap)) return CVT_STATUS_NO_MEMORY;
        out.len = big_to_text(x, out.text, cap);
        return 0;
    }
    // s < 0: value = J x 10^t exactly, J an integer.
    const long t = e >= 0 ? 0 : e;
    const long bits = mbits + (e >= 0 ? e : -e * 7 / 3 + 1);
    Cvtas_Limbs lj(cvtas_limbs_for_bits(bits));
    if (!lj.ok()) return CVT_STATUS_NO_MEMORY;
    Cvtas_Big j(lj.data(), lj.size());
    j.set(m);
    if (!(e >= 0 ? j.shl(e) : j.mul_pow5(-e))) return CVT_STATUS_NO_MEMORY;
    const size_t cap = static_cast<size_t>(bits) * 31 / 100 + 40;
    if (!out.reserve(cap)) return CVT_STATUS_NO_MEMORY;
    const size_t len = big_to_text(j, out.text, cap);
    // Q = J without its last `drop` digits.
    const size_t drop = static_cast<size_t>(-(t + s));
    size_t keep = len > drop ? len - drop : 0;
    const char *r = out.text + keep;
    const size_t rlen = len - keep;
    if (drop > len) {
        rest = Cvtas_Rest::below;  // the value is below a tenth of the unit
    } else if (rlen > 0) {
        bool nonzero_after = false;
        for (size_t i = 1; i < rlen; ++i)
            if (r[i] != '0') nonzero_after = true;
        const char d0 = r[0];
        if (d0 > '5')
            rest = Cvtas_Rest::above;
        else if (d0 == '5')
            rest = nonzero_after ? Cvtas_Rest::above : Cvtas_Rest::half;
        else
            rest = (d0 != '0' || nonzero_after) ? Cvtas_Rest::below : Cvtas_Rest::zero;
    }
    out.len = keep;
    return 0;
}

bool Cvtas_Digits::reserve(size_t n) {
    if (n <= cap) return true;
    char *p = static_cast<char *>(std::malloc(n));
    if (!p) return false;
    if (heap) std::free(text);
    text = p;
    heap = true;
    cap = n;
    return true;
}

Cvtas_Digits::~Cvtas_Digits() {
    if (heap) std::free(text);
}

namespace {

// Round the digit string text[0..len) up by one unit in its last place;
// true when it carried out of the first digit (all nines).
bool increment_text(char *text, size_t len) {
    for (size_t i = len; i-- > 0;) {
        if (text[i] != '9') {
            ++text[i];
            return false;
        }
        text[i] = '0';
    }
    return true;
}

struct Finite {
    cvtas_u128 m;
    int e;
    bool neg;
};

// Digits of a finite nonzero value rounded at the place the request names.
// Writes into buf[1..]: the first position stays free, so a caller can put
// a sign or a carry digit in front without moving the digits.  Returns a status.
template <class F>
int round_digits(const Finite &v, int digits, bool after_point, Cvtas_Mode mode, char *buf, int size, int &first,
                 int &count, int &exponent) {
    const int lb = 127 - cvtas_clz128(v.m);
    const int p_est = cvtas_floor_log10_pow2(v.e + lb) + 1;  // p or p - 1
    first = 1;
    if (!after_point && digits <= 0) {
        // Rounding to no significant digit: round at the place of the first
        // digit, which needs the exact p.
        int f, c, p;
        char tmp[4];
        const int st = round_digits<F>(v, 1, false, Cvtas_Mode::rz, tmp, 4, f, c, p);
        if (st) return st;
        return round_digits<F>(v, -p, true, mode, buf, size, first, count, exponent);
    }

    // Fast path: binary32/64, Q below 10^18.
    if constexpr (F::P <= 64) {
        const uint64_t m64 = static_cast<uint64_t>(v.m);
        const int n_lo = after_point ? p_est + digits : digits;  // digits of Q when p = p_est
        if (n_lo >= 1 && n_lo <= 17) {
            const int s = after_point ? digits : digits - p_est;
            uint64_t q;
            Cvtas_Rest rest;
            if (cvtas_scaled_fast(m64, v.e, s, q, rest)) {
                // Q has n_lo digits when p_est is the exact p, else one more.
                int n = n_lo + (q >= cvtas_pten_word[n_lo]);
                int p = n - s;
                if (!after_point && n > digits) {
                    rest = drop_digit(static_cast<unsigned>(q % 10), rest);
                    q /= 10;
                    --n;
                    p = n - s + 1;
                }
                if (cvtas_round_up(mode, cvtas_rest_round(rest), q & 1, cvtas_rest_sticky(rest), v.neg)) {
                    ++q;
                    if (q == cvtas_pten_word[n]) {
                        ++p;
                        if (after_point)
                            ++n;
                        else
                            q /= 10;
                    }
                }
                if (n + 1 > size) return CVT_STATUS_BAD_BUFFER;
                write_digits(q, n, buf + 1);
                count = n;
                exponent = p;
                return 0;
            }
        }
    }

    // Exact path.
    long s = after_point ? digits : static_cast<long>(digits) - p_est;
    Cvtas_Digits dg;
    Cvtas_Rest rest;
    int st = cvtas_scaled_exact(v.m, v.e, s, dg, rest);
    if (st) return st;
    if (!after_point && dg.len < static_cast<size_t>(digits)) {
        // The estimate of p was one too high (it never is, but a wrong
        // estimate must not give a short string).
        s += 1;
        st = cvtas_scaled_exact(v.m, v.e, s, dg, rest);
        if (st) return st;
    }
    size_t n = dg.len;
    if (!after_point && n > static_cast<size_t>(digits)) {
        while (n > static_cast<size_t>(digits)) {
            rest = drop_digit(static_cast<unsigned>(dg.text[n - 1] - '0'), rest);
            --n;
            --s;
        }
    }
    long p = static_cast<long>(n) - s;
    const bool odd = n > 0 && ((dg.text[n - 1] - '0') & 1);
    if (cvtas_round_up(mode, cvtas_rest_round(rest), odd, cvtas_rest_sticky(rest), v.neg)) {
        if (n == 0 || increment_text(dg.text, n)) {
            // All nines (or nothing) became a 1 followed by zeros.
            ++p;
            if (after_point || n == 0) {
                if (n + 1 > dg.cap && !dg.reserve(n + 1)) return CVT_STATUS_NO_MEMORY;
                ++n;
            }
            dg.text[0] = '1';
            for (size_t i = 1; i < n; ++i) dg.text[i] = '0';
        }
    }
    if (n + 1 > static_cast<size_t>(size)) return CVT_STATUS_BAD_BUFFER;
    std::memcpy(buf + 1, dg.text, n);
    count = static_cast<int>(n);
    exponent = n ? static_cast<int>(p) : -digits;
    return 0;
}

const char *special_spelling(bool nan, uint32_t flags) {
    if (!(flags & 0x2000)) return nan ? "NaN" : "Infinity";
    if (flags & 0x1000) return nan ? "NAN" : "INFINITY";
    return nan ? "nan" : "infinity";
}

}  // namespace

template <class F>
int32_t cvtas_to_a(int32_t size, int32_t digits, uint32_t flags, char *buffer, int32_t *first, int32_t *count,
                   int32_t *exponent, int32_t *cls, int32_t *status, typename F::Value value) {
    using B = typename F::Bits;
    const B bits = F::bits_of(value);
    const bool neg = (bits & F::sign_bit) != 0;
    const B mag = bits & ~F::sign_bit;
    const int sgn = neg ? -1 : 1;
    int f = 0, n = 0, p = 0, c = 0, st = 0;

    if (mag >= F::inf_bits) {
        const bool nan = mag != F::inf_bits;
        const char *sp = special_spelling(nan, flags);
        n = static_cast<int>(std::strlen(sp));
        p = n;
        if (nan) {
            c = (flags & 0x2000) ? sgn * ((mag & F::quiet_bit) ? 5 : 6) : 0;
            st = CVT_STATUS_NAN;
        } else {
            c = sgn * 4;
            st = CVT_STATUS_INFINITY;
        }
        if (size < n)
            st = CVT_STATUS_BAD_BUFFER;
        else
            std::memcpy(buffer, sp, static_cast<size_t>(n));
    } else if (!(flags & 3) || size < 1) {
        st = !(flags & 3) ? CVT_STATUS_BAD_FLAGS : CVT_STATUS_BAD_BUFFER;
    } else if (mag == 0) {
        c = sgn;
        st = CVT_STATUS_ZERO;
        n = digits > 0 ? digits : 0;
        if (n + 1 > size) {
            st = CVT_STATUS_BAD_BUFFER;
            n = 0;
        } else {
            std::memset(buffer + 1, '0', static_cast<size_t>(n));
            f = 1;
        }
    } else {
        const int bexp = static_cast<int>(mag >> (F::P - 1));
        Finite v;
        v.neg = neg;
        if (bexp == 0) {
            v.m = static_cast<cvtas_u128>(mag);
            v.e = F::ulp_min;
            c = sgn * 2;
        } else {
            v.m = static_cast<cvtas_u128>((mag & F::frac_mask) | (F::frac_mask + 1));
            v.e = bexp - 1 + F::ulp_min;
            c = sgn * 3;
        }
        const Cvtas_Mode mode = cvtas_decode_mode(flags, Cvtas_Mode::rn);
        st = round_digits<F>(v, digits, !(flags & 1), mode, buffer, size, f, n, p);
    }
    if (first) *first = f;
    if (count) *count = n;
    if (exponent) *exponent = p;
    if (cls) *cls = c;
    if (status) *status = st;
    return st;
}

int32_t cvtas_s_to_a(int32_t size, int32_t digits, uint32_t flags, char *buffer, int32_t *first, int32_t *count,
                     int32_t *exponent, int32_t *cls, int32_t *status, float value) {
    return cvtas_to_a<Cvtas_S>(size, digits, flags, buffer, first, count, exponent, cls, status, value);
}

int32_t cvtas_t_to_a(int32_t size, int32_t digits, uint32_t flags, char *buffer, int32_t *first, int32_t *count,
                     int32_t *exponent, int32_t *cls, int32_t *status, double value) {
    return cvtas_to_a<Cvtas_T>(size, digits, flags, buffer, first, count, exponent, cls, status, value);
}

int32_t cvtas_x_to_a(int32_t size, int32_t digits, uint32_t flags, char *buffer, int32_t *first, int32_t *count,
                     int32_t *exponent, int32_t *cls, int32_t *status, __float128 value) {
    return cvtas_to_a<Cvtas_X>(size, digits, flags, buffer, first, count, exponent, cls, status, value);
}
