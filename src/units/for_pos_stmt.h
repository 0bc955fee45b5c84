// What the file positioning statements (REWIND, BACKSPACE, ENDFILE, FLUSH,
// EOF) share: reaching the unit with their control list, finding where the
// unit logically is in its file, and completing.
#pragma once
#include <cstdint>
#include <sys/types.h>

#include <vorlix/abi.h>

#include "units/for_lub.h"

struct For_Pos_Stmt {
    For_Context *ctx;
    int unit;
    For_IO_Flags flags;
    const For_Dsc_Lst *keys;  // IOMSG= items and the end marker, or null
    const For_Value_List *values;
};

// Acquires the unit for operation `op` and records the statement's
// conditions. 0 with *out held; otherwise *out is null and the result is
// what the entry returns.
int for__pos_begin(const For_Pos_Stmt &st, int op, For_Lub **out);

// The same for REWIND and BACKSPACE, which then act only on a connected
// file: inside a defined I/O child the statement fails with `in_child`, a
// console unit only warns with `console`, and an unconnected unit makes the
// statement do nothing (there is no implicit OPEN). 0 with *out held and
// the statement still to carry out; otherwise *out is null and the result
// is what the entry returns.
int for__pos_begin_connected(const For_Pos_Stmt &st, int op, int in_child, int console, For_Lub **out);

// Completes the statement: 0 clears its conditions and releases the unit;
// a failure goes to completion as `status`, reported to the program as
// `iostat` (0: the status itself).
int for__pos_end(For_Lub *lub, int status, int iostat = 0);

// A console unit that is not connected to a positionable file: the
// positioning statements do nothing on it but warn.
bool for__pos_console(const For_Lub *lub);

// The file offset the program is at: the descriptor's, less what was read
// ahead and not consumed. -1 with errno set when the offset is unknown.
off_t for__logical_pos(const For_Lub *lub);

// The unit sets up a new position: no record in the buffer, the next
// sequential write cuts the file behind it.
void for__pos_reset(For_Lub *lub);
