// Integer and bit-pattern input fields: I editing (through the signed and
// unsigned converters) and B, O, Z editing (through the data converter).
// All three share one rule for what a character of the field may be.
#include <vorlix/cvt.h>

#include <cstring>

namespace {

constexpr uint32_t kKnownFlags = CVT_IN_TABS | CVT_IN_BN | CVT_IN_UNDERSCORE | CVT_IN_BZ | CVT_IN_NOEFFECT;
// The bit-pattern converter judges its flags by value, as its callers
// always have: everything up to the sum of the four meaningful bits.
constexpr uint32_t kDataFlagLimit = CVT_IN_TABS | CVT_IN_BN | CVT_IN_UNDERSCORE | CVT_IN_BZ;

// What one character of the digit part stands for.
constexpr int kSkip = -1;
constexpr int kBad = -2;

int classify(char c, int radix, uint32_t flags) {
    int v;
    if (c >= '0' && c <= '9')
        v = c - '0';
    else if (c >= 'A' && c <= 'F')
        v = c - 'A' + 10;
    else if (c >= 'a' && c <= 'f')
        v = c - 'a' + 10;
    else if (c == ' ') {
        // BN wins over BZ, as in the real converter.
        if (flags & CVT_IN_BN) return kSkip;
        return (flags & CVT_IN_BZ) ? 0 : kBad;
    } else if (c == '\t')
        return (flags & CVT_IN_TABS) ? kSkip : kBad;
    else if (c == '_')
        return (flags & CVT_IN_UNDERSCORE) ? kSkip : kBad;
    else
        return kBad;
    return v < radix ? v : kBad;
}

// Leading blanks (and tabs when allowed) never count, whatever the blank
// mode: under BZ a leading blank would only add a leading zero.
const char *skip_leading(const char *p, const char *end, uint32_t flags) {
    while (p < end && (*p == ' ' || (*p == '\t' && (flags & CVT_IN_TABS)))) ++p;
    return p;
}

int32_t unsigned_digits(const char *p, const char *end, int radix, uint32_t flags, uint64_t *value,
                        bool *any = nullptr) {
    uint64_t v = 0;
    for (; p < end; ++p) {
        const int d = classify(*p, radix, flags);
        if (d == kSkip) continue;
        if (d == kBad) return CVT_IN_BAD_CHAR;
        if (any) *any = true;
        const uint64_t r = static_cast<uint64_t>(radix);
        if (v > (UINT64_MAX - static_cast<uint64_t>(d)) / r) return CVT_IN_RANGE;
        v = v * r + static_cast<uint64_t>(d);
    }
    *value = v;
    return CVT_IN_OK;
}

int32_t unsigned64(const char *text, int32_t length, int32_t radix, uint32_t flags, uint64_t *value) {
    *value = 0;
    if (flags & ~kKnownFlags) return CVT_IN_BAD_FLAGS;
    if (radix < 2 || radix > 16) return CVT_IN_BAD_RADIX;
    if (length < 0) return CVT_IN_BAD_WIDTH;
    const char *end = text + length;
    uint64_t v = 0;
    const int32_t r = unsigned_digits(skip_leading(text, end, flags), end, radix, flags, &v);
    if (r == CVT_IN_OK) *value = v;
    return r;
}

int32_t data(const char *text, int32_t w, int32_t size, int32_t radix, uint32_t flags, void *destination) {
    if (flags > kDataFlagLimit) return CVT_IN_BAD_FLAGS;
    int bits;
    switch (radix) {
    case 2: bits = 1; break;
    case 8: bits = 3; break;
    case 16: bits = 4; break;
    default: return CVT_IN_BAD_RADIX;
    }
    if (w < 0 || size < 0) return CVT_IN_BAD_WIDTH;
    auto *dst = static_cast<unsigned char *>(destination);
    std::memset(dst, 0, static_cast<size_t>(size));
    const char *end = text + w;
    const char *first = skip_leading(text, end, flags);
    // Right to left, so the last character is the least significant digit
    // and each digit's bits land at a known bit position of the item.
    const int64_t limit = int64_t{size} * 8;
    int64_t pos = 0;
    int32_t result = CVT_IN_OK;
    for (const char *p = end; p > first;) {
        const int d = classify(*--p, radix, flags);
        if (d == kSkip) continue;
        if (d == kBad) return CVT_IN_BAD_CHAR;
        for (int b = 0; b < bits; ++b, ++pos) {
            if (!((d >> b) & 1)) continue;
            if (pos >= limit)
                result = CVT_IN_RANGE;
            else
                dst[pos >> 3] |= static_cast<unsigned char>(1u << (pos & 7));
        }
    }
    return result;
}

}  // namespace

int32_t cvt_text_to_unsigned64(const char *text, int32_t length, int32_t radix, uint32_t flags, uint64_t *value) {
    return unsigned64(text, length, radix, flags, value);
}

int32_t cvt_text_to_unsigned(const char *text, int32_t length, int32_t radix, uint32_t flags, uint32_t *value) {
    uint64_t v;
    int32_t r = unsigned64(text, length, radix, flags, &v);
    if (r == CVT_IN_OK && v > UINT32_MAX) r = CVT_IN_RANGE;
    *value = r == CVT_IN_OK ? static_cast<uint32_t>(v) : 0;
    return r;
}

int32_t cvt_text_to_integer64(const char *text, int32_t length, uint32_t flags, int64_t *value) {
    *value = 0;
    if (flags & ~kKnownFlags) return CVT_IN_BAD_FLAGS;
    if (length < 0) return CVT_IN_BAD_WIDTH;
    const char *end = text + length;
    const char *p = skip_leading(text, end, flags);
    bool neg = false, sign = false;
    if (p < end && (*p == '+' || *p == '-')) {
        sign = true;
        neg = *p++ == '-';
    }
    uint64_t mag = 0;
    bool any = false;
    const int32_t r = unsigned_digits(p, end, 10, flags, &mag, &any);
    if (r != CVT_IN_OK) return r;
    // A sign is the start of a number, not a number: it needs a digit (a
    // blank read as zero counts).  Only a field with no sign may be blank.
    if (sign && !any) return CVT_IN_BAD_CHAR;
    constexpr uint64_t kMin = uint64_t{1} << 63;  // magnitude of the most negative value
    if (mag > (neg ? kMin : kMin - 1)) return CVT_IN_RANGE;
    *value = neg ? static_cast<int64_t>(0 - mag) : static_cast<int64_t>(mag);
    return CVT_IN_OK;
}

int32_t cvt_text_to_integer(const char *text, int32_t length, uint32_t flags, int32_t *value) {
    int64_t v;
    int32_t r = cvt_text_to_integer64(text, length, flags, &v);
    if (r == CVT_IN_OK && (v < INT32_MIN || v > INT32_MAX)) r = CVT_IN_RANGE;
    *value = r == CVT_IN_OK ? static_cast<int32_t>(v) : 0;
    return r;
}

int32_t cvt_text_to_data(const char *text, int32_t w, int32_t size, int32_t radix, uint32_t flags, void *destination) {
    return data(text, w, size, radix, flags, destination);
}

int32_t cvt_text_to_data64(const char *text, int32_t w, int32_t size, int32_t radix, uint32_t flags,
                           void *destination) {
    return data(text, w, size, radix, flags, destination);
}
