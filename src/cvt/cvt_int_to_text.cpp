// Integer, bit-pattern and logical output fields (I, B, O, Z, L editing and
// the exported converters).  Every list-directed integer goes through here,
// so the decimal path counts its digits once and then writes two digits per
// step straight into their final place in the field.
#include <vorlix/cvt.h>

#include <bit>
#include <cstring>

namespace {

constexpr int32_t kDone = 0, kStars = 2, kBadFlags = 4, kBadRadix = 5, kBadWidth = 6;

constexpr char kHexDigits[] = "0123456789ABCDEF";

// "00" "01" ... "99": one table step replaces two divisions.
constexpr auto kPairs = [] {
    struct T {
        char c[200];
    } t{};
    for (int i = 0; i < 100; ++i) {
        t.c[2 * i] = static_cast<char>('0' + i / 10);
        t.c[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
    return t;
}();

constexpr uint64_t kPow10[20] = {1ull,
                                 10ull,
                                 100ull,
                                 1000ull,
                                 10000ull,
                                 100000ull,
                                 1000000ull,
                                 10000000ull,
                                 100000000ull,
                                 1000000000ull,
                                 10000000000ull,
                                 100000000000ull,
                                 1000000000000ull,
                                 10000000000000ull,
                                 100000000000000ull,
                                 1000000000000000ull,
                                 10000000000000000ull,
                                 100000000000000000ull,
                                 1000000000000000000ull,
                                 10000000000000000000ull};

// Decimal digits of v >= 1: the bit length times log10(2) (1233 / 4096)
// lands on the count or one above it; one comparison settles which.
inline int decimal_digits(uint64_t v) {
    const int t = ((64 - std::countl_zero(v)) * 1233) >> 12;
    return t + (v >= kPow10[t]);
}

// Writes the n decimal digits of v so that they end just before `end`.
// The 32-bit loop is taken as soon as the value fits: its division by 100
// is a cheaper multiply than the 64-bit one.
inline void put_decimal(uint64_t v, char *end) {
    while (v > 0xFFFFFFFFu) {
        const uint64_t q = v / 100;
        end -= 2;
        std::memcpy(end, kPairs.c + 2 * (v - q * 100), 2);
        v = q;
    }
    auto u = static_cast<uint32_t>(v);
    while (u >= 100) {
        const uint32_t q = u / 100;
        end -= 2;
        std::memcpy(end, kPairs.c + 2 * (u - q * 100), 2);
        u = q;
    }
    if (u >= 10) {
        std::memcpy(end - 2, kPairs.c + 2 * u, 2);
    } else {
        end[-1] = static_cast<char>('0' + u);
    }
}

int32_t stars(char *field, int32_t w) {
    if (w > 0) std::memset(field, '*', static_cast<size_t>(w));
    return kStars;
}

// The layout shared by every integer and bit-pattern field: `ndig`
// significant digits (0 for a zero value), zero-filled to m as far as the
// field allows, then the sign character (0 for none), blanks on the left.
// The digits themselves are written by `put` into the last ndig places.
template <class Put>
int32_t lay_out(int32_t w, int32_t m, int ndig, char sign, char *field, Put &&put) {
    if (ndig > w) return stars(field, w);
    const int nd = ndig > m ? ndig : (m < w ? m : w);
    const int ns = sign ? 1 : 0;
    if (nd + ns > w) return stars(field, w);
    char *p = field + (w - nd - ns);
    std::memset(field, ' ', static_cast<size_t>(p - field));
    if (sign) *p++ = sign;
    std::memset(p, '0', static_cast<size_t>(nd - ndig));
    if (ndig) put(field + w);
    return kDone;
}

int32_t signed_field(uint64_t mag, bool neg, int32_t w, int32_t m, uint32_t flags, char *field) {
    if (flags > CVT_INT_PLUS) return kBadFlags;
    if (w == 0) return kDone;
    if (w < 0 || m < 0) return kBadWidth;
    // A zero shown as no digits at all (m = 0) takes no sign either.
    const char sign = neg ? '-' : ((flags & CVT_INT_PLUS) && (mag != 0 || m != 0)) ? '+' : 0;
    const int ndig = mag ? decimal_digits(mag) : 0;
    return lay_out(w, m, ndig, sign, field, [mag](char *end) { put_decimal(mag, end); });
}

int32_t unsigned_field(uint64_t v, int32_t w, int32_t radix, int32_t m, char *field) {
    if (radix < 2 || radix > 16) return kBadRadix;
    if (w == 0) return kDone;
    if (w < 0 || m < 0) return kBadWidth;
    if (v == 0) return lay_out(w, m, 0, 0, field, [](char *) {});
    if (radix == 10) return lay_out(w, m, decimal_digits(v), 0, field, [v](char *end) { put_decimal(v, end); });
    if (std::has_single_bit(static_cast<unsigned>(radix))) {
        // Radix 2, 4, 8, 16: each digit is a group of g bits.
        const int g = std::countr_zero(static_cast<unsigned>(radix));
        const int bits = 64 - std::countl_zero(v);
        const uint64_t mask = static_cast<uint64_t>(radix - 1);
        return lay_out(w, m, (bits + g - 1) / g, 0, field, [v, g, mask](char *end) {
            for (uint64_t u = v; u; u >>= g) *--end = kHexDigits[u & mask];
        });
    }
    int ndig = 0;
    for (uint64_t u = v; u; u /= static_cast<uint64_t>(radix)) ++ndig;
    return lay_out(w, m, ndig, 0, field, [v, radix](char *end) {
        for (uint64_t u = v; u; u /= static_cast<uint64_t>(radix))
            *--end = kHexDigits[u % static_cast<uint64_t>(radix)];
    });
}

// Bits [pos, pos + g) of a little-endian byte string of `size` bytes
// (g <= 4, so a group spans at most two bytes).
inline unsigned bit_group(const unsigned char *b, int64_t size, int64_t pos, int g) {
    const int64_t i = pos >> 3;
    unsigned word = b[i];
    if (i + 1 < size) word |= static_cast<unsigned>(b[i + 1]) << 8;
    return (word >> (pos & 7)) & ((1u << g) - 1);
}

int32_t data_field(const void *data, int32_t w, int32_t size, int32_t radix, int32_t m, char *field) {
    if (radix < 2 || radix > 16) return kBadRadix;
    if (size < 1) return kBadWidth;
    if (w == 0) return kDone;
    if (w < 0 || m < 0) return kBadWidth;
    if (radix != 2 && radix != 8 && radix != 16) return stars(field, w);
    const auto *b = static_cast<const unsigned char *>(data);
    if (size <= 8) {
        uint64_t v = 0;
        std::memcpy(&v, b, static_cast<size_t>(size));  // little-endian host: lowest address least significant
        return unsigned_field(v, w, radix, m, field);
    }
    // Longer items (REAL(16), complex parts, CHARACTER): the high-order
    // zero bytes are ignored and only the significant digits count.
    int64_t top = size - 1;
    while (top >= 0 && b[top] == 0) --top;
    if (top < 0) return lay_out(w, m, 0, 0, field, [](char *) {});
    const int g = radix == 2 ? 1 : radix == 8 ? 3 : 4;
    const int64_t bits = top * 8 + (32 - std::countl_zero(static_cast<uint32_t>(b[top])));
    const int64_t ndig = (bits + g - 1) / g;
    if (ndig > w) return stars(field, w);
    return lay_out(w, m, static_cast<int>(ndig), 0, field, [b, size, g, ndig](char *end) {
        for (int64_t i = 0; i < ndig; ++i) *--end = kHexDigits[bit_group(b, size, i * g, g)];
    });
}

int32_t boolean_field(bool truth, int32_t w, int32_t style, char *field) {
    if (style < 0) return kBadFlags;
    if (w == 0) return kDone;
    if (w < 0) return kBadWidth;
    const auto uw = static_cast<size_t>(w);
    if (style & CVT_BOOL_WORD) {
        const char *word = truth ? "TRUE" : "FALSE";
        const size_t n = truth ? 4 : 5;
        if (uw >= n) {
            std::memset(field, ' ', uw - n);
            std::memcpy(field + (uw - n), word, n);
        } else {
            std::memcpy(field, word, uw);
        }
    } else if (style & CVT_BOOL_LETTER) {
        std::memset(field, ' ', uw - 1);
        field[uw - 1] = truth ? 'T' : 'F';
    } else if (style == 0) {
        std::memset(field, ' ', uw - 1);
        field[uw - 1] = truth ? '0' : '1';
    }
    return kDone;
}

}  // namespace

int32_t cvt_integer_to_text(int32_t value, int32_t w, int32_t m, uint32_t flags, char *field) {
    const uint64_t mag =
        value < 0 ? 0u - static_cast<uint64_t>(static_cast<int64_t>(value)) : static_cast<uint64_t>(value);
    return signed_field(mag, value < 0, w, m, flags, field);
}

int32_t cvt_integer64_to_text(int64_t value, int32_t w, int32_t m, uint32_t flags, char *field) {
    const uint64_t mag = value < 0 ? 0u - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    return signed_field(mag, value < 0, w, m, flags, field);
}

int32_t cvt_unsigned_to_text(uint32_t value, int32_t w, int32_t radix, int32_t m, char *field) {
    return unsigned_field(value, w, radix, m, field);
}

int32_t cvt_unsigned64_to_text(uint64_t value, int32_t w, int32_t radix, int32_t m, char *field) {
    return unsigned_field(value, w, radix, m, field);
}

int32_t cvt_data_to_text(const void *data, int32_t w, int32_t size, int32_t radix, int32_t m, char *field) {
    return data_field(data, w, size, radix, m, field);
}

int32_t cvt_data64_to_text(const void *data, int32_t w, int32_t size, int32_t radix, int32_t m, char *field) {
    return data_field(data, w, size, radix, m, field);
}

int32_t cvt_boolean_to_text_ex(int32_t value, int32_t w, int32_t style, char *field, uint64_t options) {
    const bool truth = (options & CVT_BOOL_NONZERO_TRUE) ? value != 0 : (value & 1) != 0;
    return boolean_field(truth, w, style, field);
}

int32_t cvt_boolean_to_text(int32_t value, int32_t w, int32_t style, char *field) {
    return cvt_boolean_to_text_ex(value, w, style, field, 4);
}

int32_t cvt_boolean64_to_text(int64_t value, int32_t w, int32_t style, char *field) {
    return boolean_field((value & 1) != 0, w, style, field);
}
