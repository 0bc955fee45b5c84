// Scalar arithmetic of the interpreter, in the precision of each kind.
#include "value.h"

#include <cfloat>
#include <cmath>
#include <cstring>

#include <vorlix/abi.h>
#include <vorlix/cvt.h>

namespace vrun {

int64_t Type::size() const {
    switch (base) {
    case Base::Complex: return 2 * kind;
    case Base::Char: return len;
    default: return kind;
    }
}

int Type::code() const {
    switch (base) {
    case Base::Int:
        return kind == 1 ? FOR_TYPE_INT1 : kind == 2 ? FOR_TYPE_INT2 : kind == 4 ? FOR_TYPE_INT4 : FOR_TYPE_INT8;
    case Base::Logical:
        return kind == 1   ? FOR_TYPE_LOGICAL1
               : kind == 2 ? FOR_TYPE_LOGICAL2
               : kind == 4 ? FOR_TYPE_LOGICAL4
                           : FOR_TYPE_LOGICAL8;
    case Base::Real: return kind == 4 ? FOR_TYPE_REAL4 : kind == 8 ? FOR_TYPE_REAL8 : FOR_TYPE_REAL16;
    case Base::Complex: return kind == 4 ? FOR_TYPE_COMPLEX4 : kind == 8 ? FOR_TYPE_COMPLEX8 : FOR_TYPE_COMPLEX16;
    case Base::Char: return FOR_TYPE_CHARACTER;
    }
    return 0;
}

std::string Type::name() const {
    switch (base) {
    case Base::Int: return "INTEGER(" + std::to_string(kind) + ")";
    case Base::Real: return "REAL(" + std::to_string(kind) + ")";
    case Base::Complex: return "COMPLEX(" + std::to_string(kind) + ")";
    case Base::Logical: return "LOGICAL(" + std::to_string(kind) + ")";
    case Base::Char: return "CHARACTER(" + std::to_string(len) + ")";
    }
    return "?";
}

bool valid_kind(Base b, int kind) {
    switch (b) {
    case Base::Int:
    case Base::Logical: return kind == 1 || kind == 2 || kind == 4 || kind == 8;
    case Base::Real:
    case Base::Complex: return kind == 4 || kind == 8 || kind == 16;
    case Base::Char: return kind == 1;
    }
    return false;
}

__float128 round_to_kind(__float128 x, int kind) {
    if (kind == 4) return static_cast<float>(x);
    if (kind == 8) return static_cast<double>(x);
    return x;
}

int64_t wrap_to_kind(int64_t x, int kind) {
    switch (kind) {
    case 1: return static_cast<int8_t>(x);
    case 2: return static_cast<int16_t>(x);
    case 4: return static_cast<int32_t>(x);
    default: return x;
    }
}

namespace {

// REAL to INTEGER truncates toward zero; values beyond the range are what
// the hardware conversion gives (processor dependent, as in compiled code).
int64_t truncate(__float128 x, int kind) {
    if (x != x) return kind == 8 ? INT64_MIN : wrap_to_kind(INT32_MIN, kind);
    if (x >= static_cast<__float128>(9.2233720368547758e18) || x < static_cast<__float128>(-9.2233720368547758e18))
        return INT64_MIN;
    return wrap_to_kind(static_cast<int64_t>(x), kind);
}

}  // namespace

Scalar convert(const Scalar &x, const Type &from, const Type &to) {
    Scalar r;
    switch (to.base) {
    case Base::Int:
        if (from.base == Base::Int || from.base == Base::Logical)
            r.i = wrap_to_kind(x.i, to.kind);
        else
            r.i = truncate(x.re, to.kind);
        break;
    case Base::Real:
    case Base::Complex:
        if (from.base == Base::Int)
            r.re = round_to_kind(static_cast<__float128>(x.i), to.kind);
        else {
            r.re = round_to_kind(x.re, to.kind);
            if (to.base == Base::Complex && from.base == Base::Complex) r.im = round_to_kind(x.im, to.kind);
        }
        break;
    case Base::Logical: r.i = x.i != 0; break;
    case Base::Char:
        r.s = x.s;
        r.s.resize(static_cast<size_t>(to.len), ' ');
        break;
    }
    return r;
}

Scalar load(const unsigned char *p, const Type &t) {
    Scalar r;
    switch (t.base) {
    case Base::Int:
    case Base::Logical:
        switch (t.kind) {
        case 1: {
            int8_t v;
            std::memcpy(&v, p, 1);
            r.i = v;
            break;
        }
        case 2: {
            int16_t v;
            std::memcpy(&v, p, 2);
            r.i = v;
            break;
        }
        case 4: {
            int32_t v;
            std::memcpy(&v, p, 4);
            r.i = v;
            break;
        }
        default: std::memcpy(&r.i, p, 8); break;
        }
        if (t.base == Base::Logical) r.i = r.i != 0;
        break;
    case Base::Real:
    case Base::Complex:
        for (int part = 0; part < (t.base == Base::Complex ? 2 : 1); ++part) {
            __float128 &dst = part ? r.im : r.re;
            const unsigned char *q = p + part * t.kind;
            if (t.kind == 4) {
                float v;
                std::memcpy(&v, q, 4);
                dst = v;
            } else if (t.kind == 8) {
                double v;
                std::memcpy(&v, q, 8);
                dst = v;
            } else
                std::memcpy(&dst, q, 16);
        }
        break;
    case Base::Char: r.s.assign(reinterpret_cast<const char *>(p), static_cast<size_t>(t.len)); break;
    }
    return r;
}

void store(unsigned char *p, const Type &t, const Scalar &x) {
    switch (t.base) {
    case Base::Int:
    case Base::Logical: {
        int64_t v = t.base == Base::Logical ? (x.i != 0) : x.i;
        switch (t.kind) {
        case 1: {
            int8_t w = static_cast<int8_t>(v);
            std::memcpy(p, &w, 1);
            break;
        }
        case 2: {
            int16_t w = static_cast<int16_t>(v);
            std::memcpy(p, &w, 2);
            break;
        }
        case 4: {
            int32_t w = static_cast<int32_t>(v);
            std::memcpy(p, &w, 4);
            break;
        }
        default: std::memcpy(p, &v, 8); break;
        }
        break;
    }
    case Base::Real:
    case Base::Complex:
        for (int part = 0; part < (t.base == Base::Complex ? 2 : 1); ++part) {
            __float128 src = part ? x.im : x.re;
            unsigned char *q = p + part * t.kind;
            if (t.kind == 4) {
                float v = static_cast<float>(src);
                std::memcpy(q, &v, 4);
            } else if (t.kind == 8) {
                double v = static_cast<double>(src);
                std::memcpy(q, &v, 8);
            } else
                std::memcpy(q, &src, 16);
        }
        break;
    case Base::Char: {
        size_t n = static_cast<size_t>(t.len);
        size_t m = std::min(n, x.s.size());
        std::memcpy(p, x.s.data(), m);
        std::memset(p + m, ' ', n - m);
        break;
    }
    }
}

Type arith_result(const Type &a, const Type &b) {
    auto rank = [](Base x) { return x == Base::Int ? 0 : x == Base::Real ? 1 : 2; };
    Type r;
    if (a.base == Base::Int && b.base == Base::Int) {
        r.base = Base::Int;
        r.kind = std::max(a.kind, b.kind);
        return r;
    }
    r.base = rank(a.base) >= rank(b.base) ? a.base : b.base;
    if (a.base == Base::Int)
        r.kind = b.kind;
    else if (b.base == Base::Int)
        r.kind = a.kind;
    else
        r.kind = std::max(a.kind, b.kind);
    return r;
}

int compare_chars(const std::string &a, const std::string &b) {
    size_t n = std::max(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        unsigned char x = i < a.size() ? static_cast<unsigned char>(a[i]) : ' ';
        unsigned char y = i < b.size() ? static_cast<unsigned char>(b[i]) : ' ';
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

namespace {

Scalar logical(bool b) {
    Scalar r;
    r.i = b;
    return r;
}

// Each product and sum rounded to the kind, as the processor does it in the
// kind's own precision.
__float128 rk(__float128 x, int k) { return round_to_kind(x, k); }

}  // namespace

Scalar binary_op(const std::string &op, const Type &t, const Scalar &a, const Scalar &b) {
    Scalar r;
    const int k = t.kind;
    if (op == ".and.") return logical(a.i && b.i);
    if (op == ".or.") return logical(a.i || b.i);
    if (op == ".eqv.") return logical((a.i != 0) == (b.i != 0));
    if (op == ".neqv.") return logical((a.i != 0) != (b.i != 0));
    if (op == "//") {
        r.s = a.s + b.s;
        return r;
    }
    if (op == "==" || op == "/=" || op == "<" || op == "<=" || op == ">" || op == ">=") {
        int c = 0;
        bool unordered = false;
        switch (t.base) {
        case Base::Int: c = a.i < b.i ? -1 : a.i > b.i; break;
        case Base::Real:
            unordered = a.re != a.re || b.re != b.re;
            c = a.re < b.re ? -1 : a.re > b.re;
            break;
        case Base::Complex:
            unordered = a.re != a.re || b.re != b.re || a.im != a.im || b.im != b.im;
            c = (a.re == b.re && a.im == b.im) ? 0 : 1;
            break;
        case Base::Char: c = compare_chars(a.s, b.s); break;
        case Base::Logical: c = a.i != b.i; break;
        }
        if (unordered) return logical(op == "/=");
        if (op == "==") return logical(c == 0);
        if (op == "/=") return logical(c != 0);
        if (op == "<") return logical(c < 0);
        if (op == "<=") return logical(c <= 0);
        if (op == ">") return logical(c > 0);
        return logical(c >= 0);
    }
    switch (t.base) {
    case Base::Int: {
        // Wrap-around in the kind, as two's-complement hardware does.
        uint64_t x = static_cast<uint64_t>(a.i), y = static_cast<uint64_t>(b.i);
        if (op == "+")
            r.i = static_cast<int64_t>(x + y);
        else if (op == "-")
            r.i = static_cast<int64_t>(x - y);
        else if (op == "*")
            r.i = static_cast<int64_t>(x * y);
        else if (op == "/") {
            if (b.i == 0) throw EvalError{"integer division by zero"};
            r.i = (a.i == INT64_MIN && b.i == -1) ? INT64_MIN : a.i / b.i;
        }
        r.i = wrap_to_kind(r.i, k);
        return r;
    }
    case Base::Real:
        if (op == "+")
            r.re = rk(a.re + b.re, k);
        else if (op == "-")
            r.re = rk(a.re - b.re, k);
        else if (op == "*")
            r.re = rk(a.re * b.re, k);
        else if (op == "/")
            r.re = rk(a.re / b.re, k);
        return r;
    case Base::Complex:
        if (op == "+") {
            r.re = rk(a.re + b.re, k);
            r.im = rk(a.im + b.im, k);
        } else if (op == "-") {
            r.re = rk(a.re - b.re, k);
            r.im = rk(a.im - b.im, k);
        } else if (op == "*") {
            r.re = rk(rk(a.re * b.re, k) - rk(a.im * b.im, k), k);
            r.im = rk(rk(a.re * b.im, k) + rk(a.im * b.re, k), k);
        } else if (op == "/") {
            __float128 d = b.re * b.re + b.im * b.im;
            r.re = rk((a.re * b.re + a.im * b.im) / d, k);
            r.im = rk((a.im * b.re - a.re * b.im) / d, k);
        }
        return r;
    default: break;
    }
    throw EvalError{"operator " + op + " on " + t.name()};
}

Scalar unary_op(const std::string &op, const Type &t, const Scalar &a) {
    Scalar r = a;
    if (op == ".not.") return logical(!a.i);
    if (op == "-") {
        if (t.base == Base::Int)
            r.i = wrap_to_kind(static_cast<int64_t>(0 - static_cast<uint64_t>(a.i)), t.kind);
        else {
            r.re = -a.re;
            r.im = -a.im;
        }
    }
    return r;
}

namespace {

__float128 real_pow(__float128 x, __float128 y, int k) {
    if (k == 4) return std::pow(static_cast<float>(x), static_cast<float>(y));
    if (k == 8) return std::pow(static_cast<double>(x), static_cast<double>(y));
    return std::pow(static_cast<long double>(x), static_cast<long double>(y));
}

}  // namespace

Scalar power(const Type &tx, const Scalar &x, const Type &tn, const Scalar &n) {
    Scalar r;
    const int k = tx.kind;
    if (tn.base == Base::Int) {
        int64_t e = n.i;
        if (tx.base == Base::Int) {
            if (e < 0) {
                r.i = x.i == 1 ? 1 : x.i == -1 ? (e % 2 ? -1 : 1) : 0;
                if (x.i == 0) throw EvalError{"zero raised to a negative power"};
                return r;
            }
            uint64_t base = static_cast<uint64_t>(x.i), acc = 1;
            for (; e; e >>= 1, base *= base)
                if (e & 1) acc *= base;
            r.i = wrap_to_kind(static_cast<int64_t>(acc), k);
            return r;
        }
        // Binary powering in the kind, then the reciprocal for a negative
        // exponent: the order processors use for x**n.
        bool neg = e < 0;
        uint64_t m = neg ? static_cast<uint64_t>(-(e + 1)) + 1 : static_cast<uint64_t>(e);
        Type t = tx;
        Scalar acc, base = x;
        if (tx.base == Base::Complex)
            acc.re = 1;
        else
            acc.re = 1;
        for (; m; m >>= 1) {
            if (m & 1) acc = binary_op("*", t, acc, base);
            if (m > 1) base = binary_op("*", t, base, base);
        }
        if (neg) {
            Scalar one;
            one.re = 1;
            acc = binary_op("/", t, one, acc);
        }
        return acc;
    }
    if (tx.base == Base::Complex || tn.base == Base::Complex)
        throw EvalError{"complex ** complex is outside the subset"};
    r.re = round_to_kind(real_pow(x.re, n.re, k), k);
    return r;
}

__float128 parse_real(const std::string &text, int kind) {
    std::string t = text;
    for (char &c : t)
        if (c == 'd' || c == 'D' || c == 'q' || c == 'Q') c = 'e';
    if (kind == 4) return std::strtof(t.c_str(), nullptr);
    if (kind == 8) return std::strtod(t.c_str(), nullptr);
    int32_t status = 0, error = 0;
    return cvtas_a_to_x(t.data(), static_cast<int64_t>(t.size()), CVT_ROUND_PRESENT | CVT_ROUND_RN, 0, 0, &status,
                        &error);
}

namespace {

__float128 from_bits(uint64_t hi, uint64_t lo) {
    __float128 x;
    uint64_t w[2] = {lo, hi};
    std::memcpy(&x, w, 16);
    return x;
}

}  // namespace

__float128 huge_real(int kind) {
    if (kind == 4) return FLT_MAX;
    if (kind == 8) return DBL_MAX;
    return from_bits(0x7ffeffffffffffffull, 0xffffffffffffffffull);
}

__float128 tiny_real(int kind) {
    if (kind == 4) return FLT_MIN;
    if (kind == 8) return DBL_MIN;
    return from_bits(0x0001000000000000ull, 0);
}

__float128 epsilon_real(int kind) {
    if (kind == 4) return FLT_EPSILON;
    if (kind == 8) return DBL_EPSILON;
    return from_bits(0x3f8f000000000000ull, 0);  // 2**-112
}

std::string debug_text(const Type &t, const Scalar &x) {
    char buf[128];
    switch (t.base) {
    case Base::Int: return std::to_string(x.i);
    case Base::Logical: return x.i ? "T" : "F";
    case Base::Real: std::snprintf(buf, sizeof buf, "%.17Lg", static_cast<long double>(x.re)); return buf;
    case Base::Complex:
        std::snprintf(buf, sizeof buf, "(%.17Lg,%.17Lg)", static_cast<long double>(x.re),
                      static_cast<long double>(x.im));
        return buf;
    case Base::Char: return "'" + x.s + "'";
    }
    return "?";
}

}  // namespace vrun
