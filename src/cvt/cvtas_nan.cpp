// NaN values from the payload text that may follow the letters NAN.
#include <vorlix/cvt.h>

#include "cvt/cvtas_format.h"

namespace {

// The payload of "(...)" as an unsigned integer in the syntax of C's
// strtoull with base 0, or false when it is not one.  Values wider than 128
// bits keep their low bits: only the bits below the quiet bit are used.
bool payload_integer(const char *p, const char *end, cvtas_u128 &out) {
    unsigned base = 10;
    if (end - p >= 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        base = 16;
        p += 2;
    } else if (end - p >= 1 && p[0] == '0') {
        base = 8;
    }
    if (p == end) return false;
    cvtas_u128 v = 0;
    for (; p < end; ++p) {
        unsigned dv;
        const char c = *p;
        if (c >= '0' && c <= '9')
            dv = static_cast<unsigned>(c - '0');
        else if (c >= 'a' && c <= 'f')
            dv = static_cast<unsigned>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            dv = static_cast<unsigned>(c - 'A' + 10);
        else
            return false;
        if (dv >= base) return false;
        v = v * base + dv;
    }
    out = v;
    return true;
}

bool payload_char(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

template <class F>
typename F::Value nan_of(const char *text, int32_t length) {
    using B = typename F::Bits;
    // The default NaN has the sign bit set, like the quiet NaN the x86 FPU
    // produces for invalid operations.
    const B dflt = F::sign_bit | F::inf_bits | F::quiet_bit;
    if (!text || length < 2 || text[0] != '(' || text[length - 1] != ')') return F::value_of(dflt);
    const char *p = text + 1, *end = text + length - 1;
    for (const char *q = p; q < end; ++q)
        if (!payload_char(*q)) return F::value_of(dflt);
    cvtas_u128 v;
    if (!payload_integer(p, end, v)) return F::value_of(dflt);
    // The quiet bit is always set, so no payload can spell an infinity or a
    // signalling NaN.
    return F::value_of(F::inf_bits | F::quiet_bit | (static_cast<B>(v) & (F::quiet_bit - 1)));
}

}  // namespace

float cvtas__nan_s(const char *text, int32_t length) { return nan_of<Cvtas_S>(text, length); }
double cvtas__nan_t(const char *text, int32_t length) { return nan_of<Cvtas_T>(text, length); }
__float128 cvtas__nan_x(const char *text, int32_t length) { return nan_of<Cvtas_X>(text, length); }
