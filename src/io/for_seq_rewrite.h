// REWRITE on a sequential unit: the record the READ right before it found
// is built again and written where it lies in the file. The records around
// it stay where they are, so the new record keeps the old one's length:
// formatted records shorter than the one read are completed with blanks,
// FIXED unformatted ones with zero bytes; a longer record gives 66, and a
// shorter VARIABLE unformatted one 54 (its length markers, which BACKSPACE
// and every reader rely on, would otherwise lie or keep old data).
#pragma once

#include "units/for_lub.h"

// Finds the record the READ left, gives back the read-ahead and lays out
// an output area of the record's length in the buffer: 0, 38, 53 (no READ
// left a record), 54 (a record that cannot be rebuilt in place).
int for__seq_rewrite_begin(For_Lub *lub);

// Completes the record and writes it over the old one; the unit stays
// before the record after it. 0, 38, 54 or 66.
int for__seq_rewrite_put(For_Lub *lub);
