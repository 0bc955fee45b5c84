// Output field layer: a value laid out as a Fortran output field (E, D, EN,
// ES, EX, F and G editing, Infinity and NaN), with the digits from the
// engine, correctly rounded in the kind word's mode.
#include <vorlix/cvt.h>

#include <cstdlib>
#include <cstring>

#include "cvt/cvtas_format.h"

namespace {

constexpr uint32_t kE = 0x1, kF = 0x2, kLetterD = 0x4, kPlus = 0x10, kExpGiven = 0x40, kZeroWidth = 0x100, kEN = 0x200,
                   kES = 0x400, kHex = 0x800 | 0x1000, kGZeroA = 0x4000, kGZeroB = 0x100000;
constexpr uint32_t kRoundBits = 0x81C00000u;
// Option word, upper half.
constexpr uint64_t kOptAltList = 1, kOptComma = 4, kOptMinusZero = 2, kOptMinusRounded = 0x40, kOptGNoWidth = 16,
                   kOptComputeWidth = 8;

// The stack digit buffer; a wider request takes a heap block for the call.
constexpr int kStackDigits = 64;

// A growable text buffer for one field.
class Text {
  public:
    explicit Text(size_t cap) : cap_(cap) {
        p_ = cap <= sizeof inline_ ? inline_ : static_cast<char *>(std::malloc(cap));
    }
    ~Text() {
        if (p_ != inline_) std::free(p_);
    }
    Text(const Text &) = delete;
    Text &operator=(const Text &) = delete;
    bool ok() const { return p_ != nullptr; }
    void put(char c) {
        if (n_ < cap_) p_[n_] = c;
        ++n_;
    }
    void put(const char *s, size_t len) {
        if (n_ + len <= cap_)
            std::memcpy(p_ + n_, s, len);
        else
            for (size_t i = 0; i < len; ++i)
                if (n_ + i < cap_) p_[n_ + i] = s[i];
        n_ += len;
    }
    void fill(char c, size_t len) {
        if (n_ + len <= cap_)
            std::memset(p_ + n_, c, len);
        else
            for (size_t i = 0; i < len; ++i)
                if (n_ + i < cap_) p_[n_ + i] = c;
        n_ += len;
    }
    size_t size() const { return n_; }
    const char *data() const { return p_; }
    bool fits() const { return n_ <= cap_; }

  private:
    char inline_[128];
    char *p_;
    size_t cap_;
    size_t n_ = 0;
};

// The engine's digits for one request.
struct Digits {
    char stack[kStackDigits + 2];
    char *buf = stack;
    int size = kStackDigits + 2;
    int first = 0, count = 0, exponent = 0, cls = 0, status = 0;
    Digits() = default;
    Digits(const Digits &) = delete;
    Digits &operator=(const Digits &) = delete;
    ~Digits() {
        if (buf != stack) std::free(buf);
    }
    bool reserve(int n) {
        if (n + 2 <= size) return true;
        char *p = static_cast<char *>(std::malloc(static_cast<size_t>(n) + 2));
        if (!p) return false;
        if (buf != stack) std::free(buf);
        buf = p;
        size = n + 2;
        return true;
    }
    // Digit i of the rounded value (0 beyond the produced ones).
    char at(long i) const { return i >= 0 && i < count ? buf[first + i] : '0'; }
    // Digits from..from+n of the rounded value, as runs rather than one
    // call of at() each.
    template <class Out>
    void put_run(long from, long n, Out &out) const {
        if (n <= 0) return;
        const long lo = from < 0 ? 0 : from, hi = from + n < count ? from + n : count;
        if (lo >= hi) return out.fill('0', static_cast<size_t>(n));
        if (lo > from) out.fill('0', static_cast<size_t>(lo - from));
        out.put(buf + first + lo, static_cast<size_t>(hi - lo));
        if (from + n > hi) out.fill('0', static_cast<size_t>(from + n - hi));
    }
};

template <class F>
struct Conv;
template <>
struct Conv<Cvtas_S> {
    static int32_t to_a(int32_t size, int32_t digits, uint32_t flags, char *b, int32_t *f, int32_t *c, int32_t *e,
                        int32_t *cl, int32_t *st, float v) {
        return cvtas_s_to_a(size, digits, flags, b, f, c, e, cl, st, v);
    }
};
template <>
struct Conv<Cvtas_T> {
    static int32_t to_a(int32_t size, int32_t digits, uint32_t flags, char *b, int32_t *f, int32_t *c, int32_t *e,
                        int32_t *cl, int32_t *st, double v) {
        return cvtas_t_to_a(size, digits, flags, b, f, c, e, cl, st, v);
    }
};
template <>
struct Conv<Cvtas_X> {
    static int32_t to_a(int32_t size, int32_t digits, uint32_t flags, char *b, int32_t *f, int32_t *c, int32_t *e,
                        int32_t *cl, int32_t *st, __float128 v) {
        return cvtas_x_to_a(size, digits, flags, b, f, c, e, cl, st, v);
    }
};

// Digits of |v| to n significant digits (sig) or n after the point.
template <class F>
int get_digits(typename F::Value v, int n, bool sig, uint32_t kind, Digits &d, int max_int_digits) {
    const int need = (sig ? (n > 0 ? n : 1) : max_int_digits + (n > 0 ? n : 0)) + 2;
    if (!d.reserve(need)) return 2;
    const uint32_t flags = (kind & kRoundBits) | 0x44000000u | (sig ? 1u : 2u);
    Conv<F>::to_a(d.size, n, flags, d.buf, &d.first, &d.count, &d.exponent, &d.cls, &d.status, v);
    return d.status == 0 || d.status == 11 ? 0 : (d.status == 41 ? 2 : d.status);
}

struct Layout {
    int w, d, e, k;
    uint32_t kind;
    uint64_t opt;  // upper half of the option word
    bool neg;
    char point;
    bool zero_width;
};

// Sign text: "-" for negative values (for values that round to zero, or
// exact negative zero, only on request), "+" under SP.
const char *sign_text(const Layout &l, bool value_zero, bool rounds_zero) {
    if (l.neg) {
        if (value_zero) return (l.opt & kOptMinusZero) ? "-" : ((l.kind & kPlus) ? "+" : "");
        if (rounds_zero && !(l.opt & kOptMinusRounded)) return (l.kind & kPlus) ? "+" : "";
        return "-";
    }
    return (l.kind & kPlus) ? "+" : "";
}

bool zero_suppressed(const Layout &l) { return (l.opt & (kOptGNoWidth | kOptComputeWidth)) != 0; }

// F layout of digits already rounded at d digits after the point of the
// value scaled by 10^k (p: exponent of the scaled value).  Returns false
// when the field overflows.
bool layout_f(const Layout &l, const Digits &dg, long p, int d, bool value_zero, int width, Text &out) {
    const bool rz = dg.count == 0 || value_zero;
    const char *sg = sign_text(l, value_zero, rz && !value_zero);
    const size_t slen = std::strlen(sg);
    const long int_digits = p > 0 ? p : 0;
    // Without a digit before the point and none after it the zero is no
    // longer optional: a field of a lone point (or sign and point) says
    // nothing, so a field without room for the zero is all asterisks.
    const bool need_zero = int_digits == 0 && d == 0;
    const long body = int_digits + 1 + d + (need_zero ? 1 : 0);  // digits, point, fraction
    const bool want_zero = int_digits == 0 && !need_zero && !zero_suppressed(l);
    long len = static_cast<long>(slen) + body;
    if (len > width) return false;
    const bool lead_zero = need_zero || (want_zero && len + 1 <= width);
    out.put(sg, slen);
    if (lead_zero) out.put('0');
    dg.put_run(0, int_digits, out);
    out.put(l.point);
    dg.put_run(p, d, out);
    return true;
}

// Exponent part: letter, sign, digits.  False when it does not fit its form.
bool put_exponent(const Layout &l, long x, char letter, Text &out) {
    const long ax = x < 0 ? -x : x;
    char digs[24];
    int nd = 0;
    long t = ax;
    do {
        digs[nd++] = static_cast<char>('0' + t % 10);
        t /= 10;
    } while (t);
    int width;
    bool with_letter = true;
    if (l.kind & kExpGiven) {
        width = l.e > 0 ? l.e : 2;
        if (nd > width) return false;
    } else if (ax <= 99) {
        width = 2;
    } else if (ax <= 999) {
        width = 3;
        with_letter = false;
    } else {
        return false;
    }
    if (with_letter) out.put(letter);
    out.put(x < 0 ? '-' : '+');
    for (int i = width - 1; i >= 0; --i) out.put(i < nd ? digs[i] : '0');
    return true;
}

enum class EStyle { e, en, es };

// E, ES and EN layouts.  `known`, when given, holds the digits of the
// value already rounded to the n significant digits this layout needs.
template <class F>
int layout_e(const Layout &l, typename F::Value v, bool value_zero, EStyle style, int d, int k, int width, Text &out,
             const Digits *known = nullptr) {
    Digits own;
    const Digits &dg = known ? *known : own;
    long n;       // significant digits
    long before;  // digits before the point
    long zeros_after = 0;
    const char letter = (l.kind & kLetterD) ? 'D' : 'E';
    if (style == EStyle::e) {
        if (k <= -d || k >= d + 2) return 2;
        n = k <= 0 ? d + k : d + 1;
        before = k > 0 ? k : 0;
        zeros_after = k <= 0 ? -k : 0;
    } else if (style == EStyle::es) {
        n = d + 1;
        before = 1;
    } else {
        // EN: the exponent's multiple of three decides the digits before
        // the point; a carry can move the value into the next group.
        if (value_zero) {
            n = d + 1;
            before = 1;
        } else {
            int st = get_digits<F>(v, 1, true, 0x80000000u | CVT_ROUND_RZ, own, 0);
            if (st) return st;
            long p = own.exponent;
            before = ((p - 1) % 3 + 3) % 3 + 1;
            n = before + d;
            st = get_digits<F>(v, static_cast<int>(n), true, l.kind, own, 0);
            if (st) return st;
            if (dg.exponent != p) {
                p = dg.exponent;
                before = ((p - 1) % 3 + 3) % 3 + 1;
                n = before + d;
            }
            goto have_digits;
        }
    }
    if (!known) {
        const int st = get_digits<F>(v, static_cast<int>(n), true, l.kind, own, 0);
        if (st) return st;
    }
have_digits:
    const long x = value_zero ? 0 : (style == EStyle::e ? dg.exponent - k : dg.exponent - before);
    const char *sg = sign_text(l, value_zero, false);
    Text body(static_cast<size_t>(width) + 64);
    body.put(sg, std::strlen(sg));
    const bool optional_zero = style == EStyle::e && before == 0;
    const long need = static_cast<long>(std::strlen(sg)) + before + 1 + (n - before) + zeros_after;
    // The exponent part: at most letter + sign + max(e, 3) digits.
    Text ex(64);
    if (!put_exponent(l, x, letter, ex)) return 2;
    const long total = need + static_cast<long>(ex.size());
    if (total > width) return 2;
    if (optional_zero && total + 1 <= width && !zero_suppressed(l)) body.put('0');
    dg.put_run(0, before, body);
    body.put(l.point);
    if (zeros_after > 0) body.fill('0', static_cast<size_t>(zeros_after));
    dg.put_run(before, n - before, body);
    body.put(ex.data(), ex.size());
    out.put(body.data(), body.size());
    return 0;
}

// An upper bound of the integer digits of |v| once rounded: the decimal
// exponent of the next power of two above it, plus one for a carry.  It
// sizes the digit buffer of an F request, so that the common field stays
// in the stack buffer instead of reserving for the largest finite value.
template <class F>
int int_digits_bound(typename F::Value v) {
    const typename F::Bits mag = F::bits_of(v) & ~F::sign_bit;
    const int bexp = static_cast<int>(mag >> (F::P - 1));
    // |v| < 2^(top + 1); subnormals are below 2^(P - 1 + ulp_min).
    const int top = bexp ? bexp - F::bias : F::P - 1 + F::ulp_min;
    const int p = cvtas_floor_log10_pow2(top + 1) + 1;
    return p > 0 ? p + 1 : 1;
}

// F layout of the digits rounded at d places after the point of v x 10^k.
// `known`, when given, holds exactly those digits (k is then 0).
template <class F>
int layout_fixed(const Layout &l, typename F::Value v, bool value_zero, int d, int k, int width, Text &out,
                 const Digits *known = nullptr) {
    if (known) return layout_f(l, *known, value_zero ? 0 : known->exponent, d, value_zero, width, out) ? 0 : 2;
    Digits dg;
    if (!value_zero) {
        const int ints = int_digits_bound<F>(v) + (k > 0 ? k : 0);
        const int st = get_digits<F>(v, d + k, false, l.kind, dg, ints);
        if (st) return st;
    }
    const long p = value_zero ? 0 : (dg.count ? dg.exponent + k : -d);
    return layout_f(l, dg, p, d, value_zero, width, out) ? 0 : 2;
}

template <class F>
int layout_hex(const Layout &l, typename F::Value v, bool value_zero, int d, int width, Text &out) {
    using B = typename F::Bits;
    const B bits = F::bits_of(v) & ~F::sign_bit;
    const int be = static_cast<int>(bits >> (F::P - 1));
    cvtas_u128 m = static_cast<cvtas_u128>(bits & F::frac_mask);
    int x = 0;
    if (!value_zero) {
        if (be == 0) {
            // Subnormal: normalize to a leading 1.
            x = 1 - F::bias;
            while (!(m >> (F::P - 1))) {
                m <<= 1;
                --x;
            }
            m &= static_cast<cvtas_u128>(F::frac_mask);
        } else {
            x = be - F::bias;
        }
    }
    // Fraction as hex digits: P-1 bits padded to whole digits.
    const int nh = (F::P - 1 + 3) / 4;
    cvtas_u128 frac = m << (4 * nh - (F::P - 1));
    int lead = value_zero ? 0 : 1;
    int keep = d > 0 ? d : nh;
    if (keep < nh) {
        const int drop = 4 * (nh - keep);
        const cvtas_u128 rest = frac & ((static_cast<cvtas_u128>(1) << drop) - 1);
        const bool round = (rest >> (drop - 1)) & 1;
        const bool sticky = (rest & ((static_cast<cvtas_u128>(1) << (drop - 1)) - 1)) != 0;
        frac >>= drop;
        const bool up = cvtas_round_up(cvtas_decode_mode(l.kind, Cvtas_Mode::rn), round, frac & 1, sticky, l.neg);
        if (up && ++frac >> (4 * keep)) {
            frac = 0;
            ++x;
        }
    }
    // More digits than the fraction has are zeros written after it: the
    // 128-bit fraction holds nh digits, and shifting it further would pass
    // its width (EX60.44 of a REAL(8) asks for 44).
    int zeros = keep > nh ? keep - nh : 0;
    keep -= zeros;
    if (d <= 0) {
        // Shortest exact form: no trailing zero digits.
        while (keep > 0 && (frac & 15) == 0) {
            frac >>= 4;
            --keep;
        }
    }
    Text body(static_cast<size_t>(width) + 64);
    const char *sg = sign_text(l, value_zero, false);
    body.put(sg, std::strlen(sg));
    body.put("0X", 2);
    body.put(static_cast<char>('0' + lead));
    body.put(l.point);
    for (int i = keep - 1; i >= 0; --i) body.put("0123456789ABCDEF"[(frac >> (4 * i)) & 15]);
    for (; zeros > 0; --zeros) body.put('0');
    body.put('P');
    body.put(x < 0 ? '-' : '+');
    char digs[8];
    int nd = 0;
    int ax = x < 0 ? -x : x;
    do {
        digs[nd++] = static_cast<char>('0' + ax % 10);
        ax /= 10;
    } while (ax);
    const int ew = (l.kind & kExpGiven) && l.e > nd ? l.e : nd;
    if ((l.kind & kExpGiven) && l.e > 0 && nd > l.e) return 2;
    for (int i = ew - 1; i >= 0; --i) body.put(i < nd ? digs[i] : '0');
    if (static_cast<long>(body.size()) > width) return 2;
    out.put(body.data(), body.size());
    return 0;
}

// Integer digits of the largest finite value of the format.
template <class F>
constexpr int max_int_digits() {
    return F::P == 113 ? 4933 : F::P == 53 ? 309 : 39;
}

template <class F>
int32_t to_text(const typename F::Value *value, int32_t w, int32_t k, int32_t d, int32_t fw, int32_t e, uint32_t kind,
                char *field, uint64_t options, uint32_t *length) {
    (void)fw;
    const uint64_t opt = options >> 32;
    Layout l{w, d, e, k, kind, opt, false, (opt & kOptComma) ? ',' : '.', false};
    l.zero_width = (kind & kZeroWidth) || (opt & (kOptComputeWidth | 0x800));
    if (length) *length = static_cast<uint32_t>(w > 0 ? w : 0);
    if (w < 1 && !l.zero_width) return 6;
    if (d < 0) return 6;
    // Working width: the field, or a width computed to hold the whole text,
    // so that F0.d of the largest value (or of any value under a positive
    // scale factor) still shows every integer digit instead of asterisks.
    // E-family and G texts need at most a sign, three digits before the
    // point (EN), the point, d digits and the exponent part.
    int width = w;
    if (l.zero_width && w < 1) {
        const int small = ((e > 0) ? e : 2) + (d > 0 ? d + 4 : 11);
        const int need = (kind & kF) ? max_int_digits<F>() + (k > 0 ? k : 0) + d + 3 : d + (e > 3 ? e : 3) + 8;
        width = need > small ? need : small;
    }
    const typename F::Value v = *value;
    const typename F::Bits bits = F::bits_of(v);
    l.neg = (bits & F::sign_bit) != 0;
    const typename F::Bits mag = bits & ~F::sign_bit;
    const bool value_zero = mag == 0;

    int32_t result = 0;
    // Wide F fields (up to ~5000 integer digits) need room beyond `width`
    // while the text is built; the final check is against `width`.
    Text out(static_cast<size_t>(width) + 16);
    if (!out.ok()) return 2;
    if (mag > F::inf_bits) {
        result = 10;
        if (width < 3)
            result = 2;
        else
            out.put("NaN", 3);
    } else if (mag == F::inf_bits) {
        const char *sg = l.neg ? "-" : (kind & kPlus) ? "+" : "";
        const int sl = static_cast<int>(std::strlen(sg));
        result = 12;
        if (sl + 8 <= width) {
            out.put(sg, static_cast<size_t>(sl));
            out.put("Infinity", 8);
        } else if (sl + 3 <= width) {
            out.put(sg, static_cast<size_t>(sl));
            out.put("Inf", 3);
        } else {
            result = 2;
        }
    } else if ((kind & kHex) == kHex || (kind & 0x1C40) == 0x1C40) {
        result = layout_hex<F>(l, v, value_zero, d, width, out);
    } else if (kind & kF) {
        result = layout_fixed<F>(l, v, value_zero, d, k, width, out);
    } else if (kind & (kE | kLetterD | kEN | kES)) {
        const EStyle st = (kind & kEN) ? EStyle::en : (kind & kES) ? EStyle::es : EStyle::e;
        result = layout_e<F>(l, v, value_zero, st, d, k, width, out);
    } else {
        // G: F when the value rounded to d significant digits has 0 <= p <= d.
        const int n = (kind & kExpGiven) ? e + 2 : 4;
        bool use_f;
        int fd = 0;
        Digits dg;
        if (value_zero) {
            use_f = (kind & (kGZeroA | kGZeroB)) != 0;
            fd = d - 1;
        } else {
            const int st = get_digits<F>(v, d > 0 ? d : 1, true, kind, dg, 0);
            if (st) return st;
            use_f = dg.exponent >= 0 && dg.exponent <= d;
            fd = d - dg.exponent;
        }
        // The d significant digits serve both layouts.  Under F editing with
        // d - p places they are the digits of that rounding too: with no
        // carry the two roundings cut at the same place; with a carry to
        // 10^p the value lies within half a unit (nearest modes) or beyond
        // the last d-digit number (directed modes) below 10^p, so the
        // rounding one place further left also gives 10^p.  E editing with
        // k = 0 asks for d significant digits itself.
        const bool reuse = !value_zero && d >= 1 && fd >= 0;
        if ((opt & kOptAltList) && !(kind & kGZeroB)) {
            // The alternative list-directed style decides on the magnitude
            // itself, 1 <= |x| < 10^7, not on the rounded value: the
            // exponent of the truncated leading digit is exactly that test.
            use_f = false;
            if (!value_zero) {
                Digits lead;
                const int st = get_digits<F>(v, 1, true, 0x80000000u | CVT_ROUND_RZ, lead, 0);
                if (st) return st;
                use_f = lead.exponent >= 1 && lead.exponent <= 7;
            }
        }
        // Gw.0 has no F form to choose: d = 0 significant digits would
        // leave the value without any, so it is always Ew.0 (Ew.0Ee).
        if (d == 0) use_f = false;
        if (use_f && width - n >= 1) {
            Layout lf = l;
            result = layout_fixed<F>(lf, v, value_zero, fd < 0 ? 0 : fd, 0, width - n, out, reuse ? &dg : nullptr);
            if (result == 0 && !l.zero_width)
                for (int i = 0; i < n; ++i) out.put(' ');
        } else {
            result = layout_e<F>(l, v, value_zero, EStyle::e, d, k, width, out,
                                 !value_zero && d >= 1 && k == 0 ? &dg : nullptr);
        }
    }
    if (result == 2 || result == 4 || result == 6 || !out.fits() || static_cast<long>(out.size()) > width) {
        // Asterisks over the field; G without width asks only for as many
        // as the text would have needed.
        int stars = w > 0 ? w : width;
        if ((opt & kOptGNoWidth) && out.size() > 0 && static_cast<int>(out.size()) < stars)
            stars = static_cast<int>(out.size());
        if (w > 0) std::memset(field, ' ', static_cast<size_t>(w));
        std::memset(field + (w > stars ? w - stars : 0), '*', static_cast<size_t>(stars));
        if (length && l.zero_width) *length = static_cast<uint32_t>(stars);
        return result == 0 || result == 10 || result == 12 ? 2 : result;
    }
    const size_t len = out.size();
    if (l.zero_width) {
        std::memcpy(field, out.data(), len);
        if (length) *length = static_cast<uint32_t>(len);
    } else {
        std::memset(field, ' ', static_cast<size_t>(w) - len);
        std::memcpy(field + (static_cast<size_t>(w) - len), out.data(), len);
    }
    return result;
}

}  // namespace

int32_t cvt_ieee_s_to_text_ex(const float *value, int32_t w, int32_t k, int32_t d, int32_t fw, int32_t e, uint32_t kind,
                              char *field, uint64_t options, uint32_t *length) {
    return to_text<Cvtas_S>(value, w, k, d, fw, e, kind, field, options, length);
}
int32_t cvt_ieee_t_to_text_ex(const double *value, int32_t w, int32_t k, int32_t d, int32_t fw, int32_t e,
                              uint32_t kind, char *field, uint64_t options, uint32_t *length) {
    return to_text<Cvtas_T>(value, w, k, d, fw, e, kind, field, options, length);
}
int32_t cvt_ieee_x_to_text_ex(const __float128 *value, int32_t w, int32_t k, int32_t d, int32_t fw, int32_t e,
                              uint32_t kind, char *field, uint64_t options, uint32_t *length) {
    return to_text<Cvtas_X>(value, w, k, d, fw, e, kind, field, options, length);
}

int32_t cvt_ieee_s_to_text(const float *value, int32_t w, int32_t k, int32_t d, int32_t fw, int32_t e, uint32_t kind,
                           char *field) {
    uint32_t len;
    return cvt_ieee_s_to_text_ex(value, w, k, d, fw, e, kind, field, 4, &len);
}
int32_t cvt_ieee_t_to_text(const double *value, int32_t w, int32_t k, int32_t d, int32_t fw, int32_t e, uint32_t kind,
                           char *field) {
    uint32_t len;
    return cvt_ieee_t_to_text_ex(value, w, k, d, fw, e, kind, field, 4, &len);
}
int32_t cvt_ieee_x_to_text(const __float128 *value, int32_t w, int32_t k, int32_t d, int32_t fw, int32_t e,
                           uint32_t kind, char *field) {
    uint32_t len;
    return cvt_ieee_x_to_text_ex(value, w, k, d, fw, e, kind, field, 4, &len);
}
