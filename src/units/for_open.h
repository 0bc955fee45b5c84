// Connecting and disconnecting units: OPEN, the implicit OPEN of a data
// transfer statement, the connection of a descriptor, DEFINE FILE, CLOSE.
#pragma once
#include <cstdint>
#include <string>

#include <vorlix/abi.h>

#include "units/for_lub.h"

// The decoded OPEN keywords: one 64-bit slot per specifier, 0 = not given.
// Keyword values are those of the keyword tables (units/for_open_key.h).
struct For_Open_Args {
    enum Slot {
        access = 0, assoc_var = 1, assoc_kind = 2, blank = 3, block_size = 4, buffer_count = 5,
        carriage = 6, convert = 7, dir_addr = 8, dir_len = 9, dispose = 10, file_addr = 11,
        file_len = 12, form = 13, maxrec = 15, organization = 16, readonly = 17, recl = 18,
        recordtype = 19, noshared = 20, shared = 21, status = 22, useropen = 26, action = 27,
        delim = 28, pad = 29, position = 30, recl_bytes = 31, implicit = 32, mode = 35,
        share = 36, buffered = 39, asynchronous = 40, fd_given = 41, iomsg_addr = 42,
        iomsg_len = 43, round = 44, decimal = 45, sign = 46, encoding = 47, newunit_addr = 48,
        newunit_kind = 49, count = 50
    };
    uint64_t slot[count];
    uint64_t &operator[](Slot s) { return slot[s]; }
    uint64_t operator[](Slot s) const { return slot[s]; }
};
static_assert(sizeof(For_Open_Args) == 400);

// Decodes an OPEN keyword list. 0, or the first keyword error (48 for a
// code with no slot, 45 for a value outside its table).
int for__open_args(const For_Dsc_Lst *keys, const For_Value_List *values, For_Open_Args *args);

// Connects `lub` with the decoded keywords: names the file, checks the
// keywords against each other, opens it and sets the unit up. 0 or a
// message number; on failure the unit is left unconnected.
int for__open_proc(For_Open_Args *args, For_Lub *lub);

// The implicit OPEN of a data transfer statement on an unconnected unit,
// with keyword table values (access, status, form); access -1 only decides
// a console unit's redirection (INQUIRE).
int for__open_default(For_Lub *lub, int access, int status, int form);

// Copies the statement options of a flag word into a unit about to be
// connected (by OPEN or implicitly by a data transfer statement).
void for__merge_statement_options(For_Lub *lub, For_IO_Flags flags);

// The file name a unit would be connected to (no file is opened). `fd` is
// set when the name stands for a descriptor that exists already (console
// unit) or was made (scratch file), else -1. 0 or a message number.
int for__compute_filename(For_Lub *lub, const For_Open_Args &args, std::string *name, int *fd);

// Disconnects a unit: carries out its disposition, closes its descriptor
// (never the console ones) and frees its buffers. With `for_good` the block
// is only marked unconnected (the caller deallocates it); otherwise it is
// reset for reuse. 0 or the first failure.
int for__close_proc(const uint64_t args[3], For_Lub *lub, bool for_good);

// The implicit CLOSE (re-OPEN on another file, the end of the program).
int for__close_default(For_Lub *lub, bool deallocate);
