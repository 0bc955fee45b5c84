// Value to digits, internal interface shared with the field layer and tests.
#ifndef VORLIX_CVT_CVTAS_FTOA_H
#define VORLIX_CVT_CVTAS_FTOA_H

#include <cstddef>
#include <cstdint>

#include "cvt/cvtas_arith.h"
#include "cvt/cvtas_format.h"

// A digit string on the stack, moved to the heap when it grows past it.
struct Cvtas_Digits {
    char inline_text[512];
    char *text = inline_text;
    size_t cap = sizeof inline_text;
    size_t len = 0;
    bool heap = false;
    Cvtas_Digits() = default;
    Cvtas_Digits(const Cvtas_Digits &) = delete;
    Cvtas_Digits &operator=(const Cvtas_Digits &) = delete;
    ~Cvtas_Digits();
    bool reserve(size_t n);
};

// floor(m 2^e 10^s) for binary32/64 operands when it is below 2^64 and the
// truncated table power decides it; false when the exact path must decide.
bool cvtas_scaled_fast(uint64_t m, int e, int s, uint64_t &q, Cvtas_Rest &rest);

// floor(m 2^e 10^s) as decimal text (empty for 0), exactly.  Returns 0 or
// 41 when memory was not available.
int cvtas_scaled_exact(cvtas_u128 m, int e, long s, Cvtas_Digits &out, Cvtas_Rest &rest);

#endif
