// Input editing: the characters of one input field into one data item,
// under the current descriptor of a formatted-statement state.
#pragma once
#include <cstdint>

#include "format/for_fmt_isb.h"
#include "format/for_value_info.h"

// Reads exactly isb->w characters at `field` (the caller has already padded
// or shortened the field to what the record supplies) and stores the value
// into `item` by the descriptor isb->opcode with isb's d, scale factor,
// blank, decimal and rounding modes. Returns 0, 64 for a field that is not
// a value of the item (or out of its range), 59 / 17 instead for a syntax
// failure in a list-directed / namelist statement, 61 for an item type the
// descriptor cannot read, 48 for an opcode that reads nothing. A failure
// leaves the item defined: 0, false, or the bits a B, O or Z field gave.
int for__cvt_value(For_Fmt_Isb *isb, const char *field, const For_Value_Info *item);
