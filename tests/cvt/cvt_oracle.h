// Reference conversions for the engine's tests: MPFR for all five modes and
// all three formats, glibc's printf/strtod family under fesetround for the
// four IEEE modes.  Nothing here shares code with the engine.
#ifndef VORLIX_TESTS_CVT_ORACLE_H
#define VORLIX_TESTS_CVT_ORACLE_H

#include <cstdint>
#include <cstring>
#include <string>

using u128 = unsigned __int128;

// Modes as the engine's flag words name them (bits 22-24).
enum class Mode { rn = 0, rz = 1, rd = 2, ru = 4, rc = 6 };
inline constexpr Mode kModes[] = {Mode::rn, Mode::rz, Mode::rd, Mode::ru, Mode::rc};
inline uint32_t mode_flags(Mode m) { return 0x80000000u | (static_cast<uint32_t>(m) << 22); }
const char *mode_name(Mode m);

struct Fmt {
    const char *name;
    int p;  // significand bits with the hidden one
    int ebits;
    int bits() const { return 1 + ebits + p - 1; }
    int bias() const { return (1 << (ebits - 1)) - 1; }
};
inline constexpr Fmt kS{"binary32", 24, 8};
inline constexpr Fmt kT{"binary64", 53, 11};
inline constexpr Fmt kX{"binary128", 113, 15};

// A decimal result: value = 0.digits x 10^exp, digits without trailing
// zeros; empty digits for zero.  neg only for nonzero values.
struct Dec {
    std::string digits;
    long exp = 0;
    bool operator==(const Dec &o) const { return digits == o.digits && (digits.empty() || exp == o.exp); }
};
std::string to_string(const Dec &d);
Dec normalize(std::string digits, long exp);

bool have_mpfr();

// Text (C syntax) to the bits of the format, correctly rounded, by MPFR.
u128 mpfr_text_to_bits(const Fmt &f, const char *text, Mode m);
// Value bits to digits: n significant digits (after_point false) or n
// digits after the point, correctly rounded, by MPFR.
Dec mpfr_bits_to_dec(const Fmt &f, u128 bits, int n, bool after_point, Mode m);
// The exact decimal expansion of a bits value, or of the midpoint between
// it and its successor in magnitude (mid true), by MPFR.
std::string mpfr_exact_text(const Fmt &f, u128 bits, bool mid);

#endif
