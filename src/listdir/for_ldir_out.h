// List-directed output: every item in a fixed-width field chosen by its
// type, records filled up to the unit's line length.
#pragma once
#include <cstdint>

#include <vorlix/abi.h>

#include "listdir/for_ldir_state.h"

struct For_Lub;

// A field of list-directed output: width, digits, exponent digits and the
// edit descriptor it is written with.
struct For_Wfs {
    uint8_t w, d, e, op;
};

// The field of a type code, in the normal or the alternative style; a
// zero width means the type has no list-directed form.
For_Wfs for__wfs(int type, bool alternative);

// ensure_one_leading_blank_before_data: normalises a field of w characters
// to exactly one leading blank; returns the characters to advance.
int64_t ensure_one_leading_blank_before_data(char *field, int64_t w);
