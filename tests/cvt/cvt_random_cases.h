// Random comparisons of the engine with MPFR and glibc, shared by the
// default suite (small counts) and the soak suite (large counts).
#ifndef VORLIX_TESTS_CVT_RANDOM_CASES_H
#define VORLIX_TESTS_CVT_RANDOM_CASES_H

#include <gtest/gtest.h>

#include <cfenv>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "cvt_engine_io.h"
#include "cvt_oracle.h"

#if defined(__clang__)
// glibc declares its binary128 functions only for compilers whose _Float128
// it recognises; clang calls the same type __float128.
extern "C" __float128 strtof128(const char *, char **) noexcept;
extern "C" int strfromf128(char *, size_t, const char *, __float128) noexcept;
#endif

// The hardware rounding mode during engine calls: deliberately not the
// requested one, so that any use of the FPU's mode shows up as a misround.
inline int other_hw_mode(Mode m) {
    switch (m) {
    case Mode::rn: return FE_UPWARD;
    case Mode::ru: return FE_DOWNWARD;
    case Mode::rd: return FE_TOWARDZERO;
    default: return FE_TONEAREST;
    }
}

inline std::string random_digits(std::mt19937_64 &g, int n) {
    std::string s(static_cast<size_t>(n), '0');
    for (auto &c : s) c = static_cast<char>('0' + g() % 10);
    if (s[0] == '0') s[0] = static_cast<char>('1' + g() % 9);
    return s;
}

// Decimal text aimed at the rounding boundaries of format f: exact
// midpoints and their nearest neighbours, correctly rounded short forms of
// random values, random strings of up to 800 digits anywhere in the range.
inline std::string random_text(const Fmt &f, std::mt19937_64 &g, bool allow_mid) {
    const int kind = static_cast<int>(g() % 10);
    if (allow_mid && kind < 4) {
        u128 b = random_bits(f, g);
        if (f.p == 113) {
            // Keep binary128 expansions short enough to stay fast.
            const u128 e = static_cast<u128>(f.bias() + static_cast<int>(g() % 400) - 200) << (f.p - 1);
            b = (b & ~(((u128(1) << f.ebits) - 1) << (f.p - 1))) | e;
        }
        std::string t = mpfr_exact_text(f, b, kind != 0);
        if (kind == 2) {
            // Just above: a nonzero digit far beyond the expansion.
            const size_t epos = t.find('e');
            t.insert(epos, std::string(g() % 30, '0') + "1");
        } else if (kind == 3) {
            // Just below: the expansion cut short.
            const size_t epos = t.find('e');
            const size_t start = t.find('.') + 1;
            if (epos - start > 2) t.erase(epos - 1 - g() % 2, 1 + 0);
        }
        return t;
    }
    if (kind < 6) {
        // A correctly rounded short decimal of a random value.
        const u128 b = random_bits(f, g);
        const Dec d = mpfr_bits_to_dec(f, b, 1 + static_cast<int>(g() % (max_sig_digits(f) + 2)), false, Mode::rn);
        const bool neg = (b >> (f.bits() - 1)) & 1;
        return std::string(neg ? "-" : "") + "0." + (d.digits.empty() ? "0" : d.digits) + "e" + std::to_string(d.exp);
    }
    // Random digits at a random scale across and beyond the range.
    int n = 1 + static_cast<int>(g() % (max_sig_digits(f) + 4));
    if (g() % 8 == 0) n = 30 + static_cast<int>(g() % (f.p == 24 ? 120 : f.p == 53 ? 800 : 400));
    const int range = f.p == 24 ? 50 : f.p == 53 ? 330 : 4970;
    const int e = static_cast<int>(g() % (2 * range + 1)) - range;
    return std::string(g() & 1 ? "-" : "") + "0." + random_digits(g, n) + "e" + std::to_string(e);
}

// value to digits against MPFR, count cases, in mode m.
inline void check_output_mpfr(const Fmt &f, Mode m, long count, uint64_t seed) {
    std::mt19937_64 g(seed ^ (static_cast<uint64_t>(f.p) << 32) ^ static_cast<uint64_t>(m));
    long failures = 0;
    for (long i = 0; i < count && failures < 10; ++i) {
        const u128 b = random_bits(f, g);
        const bool after = g() % 3 == 0;
        int n;
        if (after) {
            n = static_cast<int>(g() % 40);
            if (g() % 50 == 0) n = static_cast<int>(g() % 400);
        } else {
            n = 1 + static_cast<int>(g() % (max_sig_digits(f) + 3));
            if (g() % 4 == 0) n = max_sig_digits(f);
            if (g() % 40 == 0) n = 1 + static_cast<int>(g() % 120);
        }
        const uint32_t flags = mode_flags(m) | (after ? 2u : 1u);
        std::feclearexcept(FE_ALL_EXCEPT);
        std::fesetround(other_hw_mode(m));
        const EngineDigits r = engine_bits_to_digits(f, b, n, flags);
        const int raised = std::fetestexcept(FE_ALL_EXCEPT);
        std::fesetround(FE_TONEAREST);
        const Dec want = mpfr_bits_to_dec(f, b, n, after, m);
        const Dec got = r.dec();
        if (!(got == want) || (r.status > 0 && r.status != 11) || raised) {
            ++failures;
            ADD_FAILURE() << f.name << " " << mode_name(m) << " bits " << hex_bits(f, b)
                          << (after ? " F-digits " : " sig-digits ") << n << ": engine " << to_string(got) << " status "
                          << r.status << " flags raised " << raised << ", MPFR " << to_string(want) << " (seed " << seed
                          << ")";
        }
    }
}

// text to value against MPFR.
inline void check_input_mpfr(const Fmt &f, Mode m, long count, uint64_t seed) {
    std::mt19937_64 g(seed ^ (static_cast<uint64_t>(f.p) << 40) ^ static_cast<uint64_t>(m) << 8);
    long failures = 0;
    for (long i = 0; i < count && failures < 10; ++i) {
        const std::string t = random_text(f, g, true);
        std::feclearexcept(FE_ALL_EXCEPT);
        std::fesetround(other_hw_mode(m));
        const EngineResult r = engine_text_to_bits(f, t, mode_flags(m));
        const int raised = std::fetestexcept(FE_ALL_EXCEPT);
        std::fesetround(FE_TONEAREST);
        const u128 want = mpfr_text_to_bits(f, t.c_str(), m);
        if (r.bits != want || r.error || raised) {
            ++failures;
            ADD_FAILURE() << f.name << " " << mode_name(m) << " text " << t.substr(0, 200) << ": engine "
                          << hex_bits(f, r.bits) << " error " << r.error << " flags raised " << raised << ", MPFR "
                          << hex_bits(f, want) << " (seed " << seed << ")";
        }
    }
}

inline int fe_of(Mode m) {
    switch (m) {
    case Mode::rz: return FE_TOWARDZERO;
    case Mode::rd: return FE_DOWNWARD;
    case Mode::ru: return FE_UPWARD;
    default: return FE_TONEAREST;
    }
}

// Both directions against glibc's printf and strto* family, which round
// correctly in the thread's rounding mode: cheap enough for millions.
inline void check_glibc(const Fmt &f, Mode m, long count, uint64_t seed) {
    std::mt19937_64 g(seed ^ 0x9e3779b97f4a7c15ull ^ (static_cast<uint64_t>(f.p) << 16) ^ static_cast<uint64_t>(m));
    long failures = 0;
    char ref[128];
    for (long i = 0; i < count && failures < 10; ++i) {
        const u128 b = random_bits(f, g);
        const int n = 1 + static_cast<int>(g() % (max_sig_digits(f) + 1));
        // Output: n significant digits.
        std::fesetround(fe_of(m));
        if (f.p == 24) {
            float v;
            uint32_t w = static_cast<uint32_t>(b);
            std::memcpy(&v, &w, 4);
            std::snprintf(ref, sizeof ref, "%.*e", n - 1, static_cast<double>(v));
        } else if (f.p == 53) {
            double v;
            uint64_t w = static_cast<uint64_t>(b);
            std::memcpy(&v, &w, 8);
            std::snprintf(ref, sizeof ref, "%.*e", n - 1, v);
        } else {
            __float128 v;
            std::memcpy(&v, &b, 16);
            char fmt[16];
            std::snprintf(fmt, sizeof fmt, "%%.%de", n - 1);
            strfromf128(ref, sizeof ref, fmt, v);
        }
        std::fesetround(other_hw_mode(m));
        const EngineDigits r = engine_bits_to_digits(f, b, n, mode_flags(m) | 1u);
        std::fesetround(FE_TONEAREST);
        // ref: [-]d.ddde[+-]xx
        std::string rd;
        const char *p = ref + (ref[0] == '-');
        for (; *p && *p != 'e'; ++p)
            if (*p != '.') rd += *p;
        const long rexp = std::strtol(p + 1, nullptr, 10) + 1;
        const Dec want = normalize(rd, rexp), got = r.dec();
        if (!(got == want)) {
            ++failures;
            ADD_FAILURE() << f.name << " " << mode_name(m) << " bits " << hex_bits(f, b) << " to " << n
                          << " digits: engine " << to_string(got) << ", glibc " << ref << " (seed " << seed << ")";
        }
        // Input: the text of n digits, pushed off the round trip by a digit.
        std::string t = ref;
        const size_t e = t.find('e');
        std::string mant = t.substr(0, e);
        if (mant.find('.') == std::string::npos) mant += '.';
        t = mant + std::to_string(g() % 1000) + t.substr(e);
        std::fesetround(fe_of(m));
        u128 want_bits;
        if (f.p == 24) {
            float v = std::strtof(t.c_str(), nullptr);
            uint32_t w;
            std::memcpy(&w, &v, 4);
            want_bits = w;
        } else if (f.p == 53) {
            double v = std::strtod(t.c_str(), nullptr);
            uint64_t w;
            std::memcpy(&w, &v, 8);
            want_bits = w;
        } else {
            __float128 v = strtof128(t.c_str(), nullptr);
            std::memcpy(&want_bits, &v, 16);
        }
        std::fesetround(other_hw_mode(m));
        const EngineResult ri = engine_text_to_bits(f, t, mode_flags(m));
        std::fesetround(FE_TONEAREST);
        if (ri.bits != want_bits) {
            ++failures;
            ADD_FAILURE() << f.name << " " << mode_name(m) << " text " << t << ": engine " << hex_bits(f, ri.bits)
                          << ", glibc " << hex_bits(f, want_bits) << " (seed " << seed << ")";
        }
    }
}

#endif
