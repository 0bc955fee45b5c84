// Powers of ten as truncated 128-bit significands (generated tables; see
// tools/gen_cvt_pow_ten.py for the invariant T <= 10^k / 2^b < T + 1).
#ifndef VORLIX_CVT_CVTAS_POW_TEN_H
#define VORLIX_CVT_CVTAS_POW_TEN_H

#include <cstdint>

#include "cvt/cvtas_arith.h"

struct Cvtas_Pten {
    uint64_t hi, lo;
    int32_t bexp;
};

inline constexpr int cvtas_pten_direct_min = -400;
inline constexpr int cvtas_pten_direct_max = 400;
inline constexpr int cvtas_pten_coarse_min = -160;
inline constexpr int cvtas_pten_coarse_max = 160;
inline constexpr int cvtas_pten_coarse_step = 32;

extern const uint64_t cvtas_pten_word[20];
extern const Cvtas_Pten cvtas_pten_direct[cvtas_pten_direct_max - cvtas_pten_direct_min + 1];
extern const Cvtas_Pten cvtas_pten_coarse[cvtas_pten_coarse_max - cvtas_pten_coarse_min + 1];

// 10^k as sig * 2^bexp with sig <= 10^k / 2^bexp < sig + err (err = 0:
// exact).  One table entry (err 1) within the direct range; beyond it a
// coarse entry times an exact direct entry, truncated again (err 3).
struct Cvtas_Pow {
    cvtas_u128 sig;
    int bexp;
    int err;
};

inline bool cvtas_pten_exact(int k) { return k >= 0 && k <= 55; }

inline Cvtas_Pow cvtas_pten(int k) {
    if (k >= cvtas_pten_direct_min && k <= cvtas_pten_direct_max) {
        const Cvtas_Pten &e = cvtas_pten_direct[k - cvtas_pten_direct_min];
        return {(static_cast<cvtas_u128>(e.hi) << 64) | e.lo, e.bexp, cvtas_pten_exact(k) ? 0 : 1};
    }
    // Floor division so that the fine part is in [0, 32).
    const int i = (k >= 0 ? k : k - (cvtas_pten_coarse_step - 1)) / cvtas_pten_coarse_step;
    const int j = k - i * cvtas_pten_coarse_step;
    const Cvtas_Pten &c = cvtas_pten_coarse[i - cvtas_pten_coarse_min];
    const Cvtas_Pten &f = cvtas_pten_direct[j - cvtas_pten_direct_min];
    const Cvtas_U256 p =
        cvtas_mul_128x128((static_cast<cvtas_u128>(c.hi) << 64) | c.lo, (static_cast<cvtas_u128>(f.hi) << 64) | f.lo);
    // The product of two significands in [2^127, 2^128) is in [2^254, 2^256).
    const int s = (p.w[3] >> 63) ? 128 : 127;
    // Lower bound: both factors and the cut are truncations.  Upper bound:
    // (c + 1) f / 2^s < c f / 2^s + 1 since f < 2^s, plus one for the cut.
    return {cvtas_shr256(p, s), c.bexp + f.bexp + s, 3};
}

#endif
