// The three binary interchange formats the engine converts, and the
// rounding decision shared by both directions.
#ifndef VORLIX_CVT_CVTAS_FORMAT_H
#define VORLIX_CVT_CVTAS_FORMAT_H

#include <cstdint>
#include <cstring>

#include "cvt/cvtas_arith.h"

// Rounding modes as the flag words encode them in bits 22-24.
enum class Cvtas_Mode : uint8_t { rn = 0, rz = 1, rd = 2, ru = 4, rc = 6 };

inline constexpr uint32_t cvtas_flag_mode_present = 0x80000000u;
inline constexpr uint32_t cvtas_mode_shift = 22;

// Decoded mode of a flag word.  Codes 3, 5 and 7 are not modes; they round
// to nearest like a word without a mode.  `dflt` is what a word that names no
// mode at all means: ties-to-even for output, ties-away for the engine's
// input side when called without the field layer's bit 31.
inline Cvtas_Mode cvtas_decode_mode(uint32_t flags, Cvtas_Mode dflt) {
    const uint32_t m = (flags >> cvtas_mode_shift) & 7;
    if (!(flags & cvtas_flag_mode_present) && m == 0) return dflt;
    switch (m) {
    case 1: return Cvtas_Mode::rz;
    case 2: return Cvtas_Mode::rd;
    case 4: return Cvtas_Mode::ru;
    case 6: return Cvtas_Mode::rc;
    default: return Cvtas_Mode::rn;
    }
}

// Whether to add one unit in the last kept place.  The table for a mode is
// indexed by round bit (value at least half a unit) + 2 x last kept digit
// odd + 4 x sticky (value not exactly on the half or whole unit) + 8 x
// negative.  The same tables serve binary (kept bit) and decimal (kept digit
// parity) rounding.
inline bool cvtas_round_up(Cvtas_Mode mode, bool round, bool odd, bool sticky, bool neg) {
    uint16_t table;
    switch (mode) {
    case Cvtas_Mode::rn: table = 0xA8A8; break;
    case Cvtas_Mode::ru: table = 0x00FA; break;
    case Cvtas_Mode::rd: table = 0xFA00; break;
    case Cvtas_Mode::rc: table = 0xAAAA; break;
    default: table = 0; break;
    }
    const unsigned idx = unsigned(round) | unsigned(odd) << 1 | unsigned(sticky) << 2 | unsigned(neg) << 3;
    return (table >> idx) & 1;
}

// Where an exact value lies relative to the last kept place: exactly on it,
// below the half, exactly on the half, above the half.
enum class Cvtas_Rest : uint8_t { zero, below, half, above };

inline bool cvtas_rest_round(Cvtas_Rest r) { return r == Cvtas_Rest::half || r == Cvtas_Rest::above; }
inline bool cvtas_rest_sticky(Cvtas_Rest r) { return r == Cvtas_Rest::below || r == Cvtas_Rest::above; }

// Format parameters.  P: significand bits including the hidden bit.
// ulp_min: exponent of the unit in the last place of subnormals and of the
// smallest normal binade.  max_digits: the longest significant-digit string
// that can matter for rounding: every midpoint between two representable
// values has fewer significant digits, so digits beyond it only count as a
// nonzero tail.  dec_over / dec_under: with the value in [10^(D-1), 10^D),
// D >= dec_over always overflows and D <= dec_under is always below half the
// smallest subnormal.
template <class V, class B, int P_, int EBITS_, int MAXDIG_, int DOVER_, int DUNDER_>
struct Cvtas_Fmt {
    using Value = V;
    using Bits = B;
    static constexpr int P = P_;
    static constexpr int ebits = EBITS_;
    static constexpr int bias = (1 << (EBITS_ - 1)) - 1;
    static constexpr int total_bits = 1 + EBITS_ + P_ - 1;
    static constexpr int ulp_min = 1 - bias - (P_ - 1);
    static constexpr int ulp_max = bias - (P_ - 1);
    static constexpr int max_digits = MAXDIG_;
    static constexpr int dec_over = DOVER_;
    static constexpr int dec_under = DUNDER_;
    static constexpr B one = 1;
    static constexpr B sign_bit = one << (total_bits - 1);
    static constexpr B frac_mask = (one << (P_ - 1)) - 1;
    static constexpr B inf_bits = ((one << EBITS_) - 1) << (P_ - 1);
    static constexpr B quiet_bit = one << (P_ - 2);
    static constexpr B max_bits = inf_bits - 1;

    static B bits_of(V v) {
        B b;
        std::memcpy(&b, &v, sizeof b);
        return b;
    }
    static V value_of(B b) {
        V v;
        std::memcpy(&v, &b, sizeof v);
        return v;
    }
};

using Cvtas_S = Cvtas_Fmt<float, uint32_t, 24, 8, 150, 40, -46>;
using Cvtas_T = Cvtas_Fmt<double, uint64_t, 53, 11, 800, 310, -324>;
using Cvtas_X = Cvtas_Fmt<__float128, cvtas_u128, 113, 15, 11700, 4934, -4966>;

// floor(log10(2^e)) for |e| < 2^20, by a fixed-point log10(2) that is exact
// over that range (checked by the tests against exact powers).
inline int cvtas_floor_log10_pow2(int e) { return static_cast<int>((static_cast<int64_t>(e) * 661971961083LL) >> 41); }

#endif
