// Input field layer: an input field of F, E, D, G (and list-directed)
// editing handed to the engine.
#include <vorlix/cvt.h>

#include <cstring>

namespace {

// Bits the field layer always sets in the engine's flag word.  The
// constant contains 0x40, which is also the engine's "blanks are zeros"
// bit, so it is added without that bit and the caller's own choice of BN
// or BZ is passed explicitly.
constexpr uint32_t kFieldConstant = 0x400a1E0u;
constexpr uint32_t kBn = 0x2u, kBz = 0x40u;
constexpr uint32_t kDecimalComma = 1u << 27;

uint32_t engine_flags(uint32_t flags, uint64_t options) {
    const bool bz = (flags & kBz) && !(flags & kBn);
    uint32_t f = (flags & ~(kBn | kBz)) | (kFieldConstant & ~kBz) | (bz ? kBz : kBn);
    if ((options >> 34) & 1) f |= kDecimalComma;
    // The field layer always names its rounding mode: no mode is RN.
    return f | 0x80000000u;
}

template <class V, class Conv>
int32_t text_to(const char *text, int64_t length, int32_t k, int32_t d, uint32_t flags, V *result, uint64_t options,
                Conv conv) {
    if (length == 0) {
        std::memset(result, 0, sizeof *result);
        return 0;
    }
    int32_t status = 0, error = 0;
    const V v = conv(text, length, engine_flags(flags, options), d, k, &status, &error);
    std::memcpy(result, &v, sizeof v);
    return error ? 1 : 0;
}

}  // namespace

int32_t cvt_text_to_ieee_s_ex(const char *text, int64_t length, int32_t k, int32_t d, uint32_t flags, float *result,
                              uint64_t options) {
    return text_to(text, length, k, d, flags, result, options, cvtas_a_to_s);
}

int32_t cvt_text_to_ieee_t_ex(const char *text, int64_t length, int32_t k, int32_t d, uint32_t flags, double *result,
                              uint64_t options) {
    return text_to(text, length, k, d, flags, result, options, cvtas_a_to_t);
}

int32_t cvt_text_to_ieee_x_ex(const char *text, int64_t length, int32_t k, int32_t d, uint32_t flags,
                              __float128 *result, uint64_t options) {
    return text_to(text, length, k, d, flags, result, options, cvtas_a_to_x);
}
