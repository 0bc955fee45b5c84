// The engine's entries seen through one interface for all three formats,
// so that every test table runs over binary32, binary64 and binary128.
#ifndef VORLIX_TESTS_CVT_ENGINE_IO_H
#define VORLIX_TESTS_CVT_ENGINE_IO_H

#include <vorlix/cvt.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "cvt_oracle.h"

struct EngineResult {
    int status = 0, error = 0;
    u128 bits = 0;
};

inline EngineResult engine_text_to_bits(const Fmt &f, const std::string &text, uint32_t flags, int d = 0, int k = 0) {
    EngineResult r;
    if (f.p == 24) {
        float v = cvtas_a_to_s(text.data(), static_cast<int64_t>(text.size()), flags, d, k, &r.status, &r.error);
        uint32_t b;
        std::memcpy(&b, &v, 4);
        r.bits = b;
    } else if (f.p == 53) {
        double v = cvtas_a_to_t(text.data(), static_cast<int64_t>(text.size()), flags, d, k, &r.status, &r.error);
        uint64_t b;
        std::memcpy(&b, &v, 8);
        r.bits = b;
    } else {
        __float128 v = cvtas_a_to_x(text.data(), static_cast<int64_t>(text.size()), flags, d, k, &r.status, &r.error);
        std::memcpy(&r.bits, &v, 16);
    }
    return r;
}

struct EngineDigits {
    int status = 0, first = 0, count = 0, exponent = 0, cls = 0;
    std::string text;  // the digits written
    Dec dec() const { return status == 0 || status == 11 ? normalize(text, exponent) : Dec{}; }
};

inline EngineDigits engine_bits_to_digits(const Fmt &f, u128 bits, int n, uint32_t flags, int size = 0) {
    EngineDigits r;
    // An F request needs room for the integer digits too (up to 4933).
    const size_t dflt = static_cast<size_t>(n > 0 ? n : 0) + ((flags & 2) ? 5000 : 16);
    std::vector<char> buf(size ? static_cast<size_t>(size) : dflt);
    const int sz = static_cast<int>(buf.size());
    if (f.p == 24) {
        float v;
        uint32_t b = static_cast<uint32_t>(bits);
        std::memcpy(&v, &b, 4);
        cvtas_s_to_a(sz, n, flags, buf.data(), &r.first, &r.count, &r.exponent, &r.cls, &r.status, v);
    } else if (f.p == 53) {
        double v;
        uint64_t b = static_cast<uint64_t>(bits);
        std::memcpy(&v, &b, 8);
        cvtas_t_to_a(sz, n, flags, buf.data(), &r.first, &r.count, &r.exponent, &r.cls, &r.status, v);
    } else {
        __float128 v;
        std::memcpy(&v, &bits, 16);
        cvtas_x_to_a(sz, n, flags, buf.data(), &r.first, &r.count, &r.exponent, &r.cls, &r.status, v);
    }
    if (r.count > 0 && r.first >= 0 && r.first + r.count <= sz)
        r.text.assign(buf.data() + r.first, static_cast<size_t>(r.count));
    return r;
}

inline std::string hex_bits(const Fmt &f, u128 b) {
    char s[40];
    const int w = f.bits() / 4;
    for (int i = 0; i < w; ++i) s[i] = "0123456789abcdef"[(b >> (4 * (w - 1 - i))) & 15];
    s[w] = 0;
    return s;
}

// Seed: a fixed one, varied by VORLIX_TEST_SEED so that repeated runs can
// explore further; the value is printed with every failure.
inline uint64_t test_seed() {
    uint64_t s = 0x5eed2024cafe0001ull;
    if (const char *e = std::getenv("VORLIX_TEST_SEED")) s ^= std::strtoull(e, nullptr, 0);
    return s;
}

// Case counts scale with VORLIX_CVT_SCALE (the soak run uses a large one).
inline long scaled(long n) {
    if (const char *e = std::getenv("VORLIX_CVT_SCALE")) {
        const double f = std::strtod(e, nullptr);
        if (f > 0) return static_cast<long>(static_cast<double>(n) * f);
    }
    return n;
}

// Random finite values that hit the hard places: any bit pattern,
// subnormals, the binades at both ends of the range, and values with short
// significands (exact decimal ties).
inline u128 random_bits(const Fmt &f, std::mt19937_64 &g) {
    const u128 r = (static_cast<u128>(g()) << 64) | g();
    const u128 frac = r & ((u128(1) << (f.p - 1)) - 1);
    const int emax = (1 << f.ebits) - 2;
    const u128 sign = static_cast<u128>(g() & 1) << (f.bits() - 1);
    int be;
    u128 fr = frac;
    switch (g() % 6) {
    case 0: be = static_cast<int>(g() % (emax + 1)); break;
    case 1:
        be = 0;
        if (g() & 1) fr >>= g() % (f.p - 1);
        if (fr == 0) fr = 1;
        break;
    case 2: be = emax - static_cast<int>(g() % 3); break;
    case 3: be = 1 + static_cast<int>(g() % 3); break;
    case 4: {
        // A short significand: few low bits set after the leading one.
        const int keep = 1 + static_cast<int>(g() % 12);
        fr = (frac >> (f.p - 1 - keep)) << (f.p - 1 - keep);
        be = f.bias() + static_cast<int>(g() % 80) - 40;
        break;
    }
    default: be = f.bias() + static_cast<int>(g() % 120) - 60; break;
    }
    return sign | (static_cast<u128>(be) << (f.p - 1)) | fr;
}

inline int max_sig_digits(const Fmt &f) { return f.p == 24 ? 9 : f.p == 53 ? 17 : 36; }

#endif
