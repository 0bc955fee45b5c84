// Text to value, internal interface: the scanner's result, shared with the
// field layer and the tests.
#ifndef VORLIX_CVT_CVTAS_ATOF_H
#define VORLIX_CVT_CVTAS_ATOF_H

#include <cstdint>

#include "cvt/cvtas_arith.h"
#include "cvt/cvtas_format.h"

struct Cvtas_Scan {
    enum Kind : uint8_t { zero, number, inf, nan, error };
    Kind kind = zero;
    bool neg = false;
    bool bz = false;  // blanks in the field are zeros
    char point = '.';
    cvtas_u128 hi = 0;  // the first nhi significant digits
    int nhi = 0;
    int64_t nd = 0;               // significant digits, first one nonzero
    int64_t nd_nz = 0;            // position of the last nonzero digit
    int64_t e10 = 0;              // value = (all nd digits) x 10^e10
    const char *first = nullptr;  // first significant digit in the text
    const char *mant_end = nullptr;
    const char *payload = nullptr;  // NaN: the text after "NAN"
    int32_t payload_len = 0;
};

void cvtas_scan(const char *text, int64_t length, uint32_t flags, int32_t d, int32_t k, Cvtas_Scan &out);

template <class F>
typename F::Bits cvtas_round_scan(const Cvtas_Scan &s, Cvtas_Mode mode, int32_t &error);

#endif
