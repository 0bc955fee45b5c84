// List-directed output: every item in a fixed-width field chosen by its
// type, records filled up to the unit's line length.
#pragma once
#include <cstdint>

#include <vorlix/abi.h>

struct For_Lub;

// A field of list-directed output: width, digits, exponent digits and the
// edit descriptor it is written with.
struct For_Wfs {
    uint8_t w, d, e, op;
};

// The field of a type code, in the normal or the alternative style; a
// zero width means the type has no list-directed form.
For_Wfs for__wfs(int type, bool alternative);

// The state of one list-directed output statement, kept in the unit's
// list-directed state block so that it carries over the transfer calls.
struct For_Ldir_Out_State {
    For_Lub *unit;         // the block's first word points back to its unit
    int32_t pending;       // a failure held until the end of the statement
    int32_t prev_type;     // type code of the previous value, 0 at statement start
    uint8_t at_record_start;
    uint8_t compact;       // integers in their minimal width (once started)
    uint8_t internal;      // writing an internal file
    uint8_t pad;
    int64_t line_base;     // stream units: where the current line's fields began
    char *self_begin;      // the internal file's variable, for the write-to-self check
    char *self_end;
};
static_assert(sizeof(For_Ldir_Out_State) <= 216, "the state lives in the unit's 216-byte block");

// ensure_one_leading_blank_before_data: normalises a field of w characters
// to exactly one leading blank; returns the characters to advance.
int64_t ensure_one_leading_blank_before_data(char *field, int64_t w);
