// Connecting and disconnecting units: OPEN, the implicit OPEN of a data
// transfer statement, the connection of a descriptor, DEFINE FILE, CLOSE.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include <vorlix/abi.h>

#include "units/for_lub.h"

// The program's own open routine (USEROPEN=): it is handed the name, the
// open flags and mode (which it may change) and the unit, and returns the
// descriptor or -1.
using For_User_Open = int (*)(const char *name, int *flags, int *mode, int *unit, int name_len);

// The decoded OPEN keywords, filled once by the keyword decoding (or by the
// implicit OPEN, DEFINE FILE and the descriptor connection) and read by name.
// Keyword values are those of the keyword tables (units/for_open_key.h), 0
// when not given. A keyword given as a number keeps that number as it is:
// one outside its table must still reach the check that refuses it, so the
// keyword values are as wide as the value the program passed.
struct For_Open_Args {
    uint64_t access = 0;
    uint64_t action = 0;
    uint64_t asynchronous = 0;
    uint64_t blank = 0;
    uint64_t buffered = 0;
    uint64_t carriage = 0;
    uint64_t convert = 0;
    uint64_t decimal = 0;
    uint64_t delim = 0;
    uint64_t dispose = 0;
    uint64_t encoding = 0;
    uint64_t form = 0;
    uint64_t mode = 0;
    uint64_t organization = 0;
    uint64_t pad = 0;
    uint64_t position = 0;
    uint64_t recordtype = 0;
    uint64_t round = 0;
    uint64_t share = 0;
    uint64_t sign = 0;
    uint64_t status = 0;

    // Numbers. RECL= is read both as a count and, under the compatibility
    // option, against an unsigned limit; BLOCKSIZE= is rounded up unsigned.
    uint64_t recl = 0;
    uint64_t maxrec = 0;
    uint64_t block_size = 0;
    int64_t buffer_count = 0;

    bool readonly = false;
    bool shared = false;
    bool noshared = false;
    bool recl_bytes = false;  // RECL_BYTES=: the length is in bytes, whatever the form
    bool implicit = false;    // the implicit OPEN of a data transfer statement

    // Character values: address and length as the program gave them; a
    // FILE= is given when its address is, even with length 0.
    std::string_view file;
    std::string_view default_dir;  // DEFAULTFILE=
    std::span<char> iomsg;         // IOMSG= variable

    For_User_Open useropen = nullptr;
    void *assoc_var = nullptr;  // ASSOCIATEVARIABLE=, and the type code of that variable
    uint8_t assoc_kind = 0;
    void *newunit = nullptr;  // NEWUNIT= variable, and its type code
    uint64_t newunit_kind = 0;
    int given_fd = -1;  // a descriptor the program already has (for_fdopen)

    bool has_file() const { return file.data() != nullptr; }
};

// Decodes an OPEN keyword list. 0, or the first keyword error
// (msg::invalid_argument for a code with no slot, msg::open_keyword_value
// for a value outside its table).
int for__open_args(const For_Dsc_Lst *keys, const For_Value_List *values, For_Open_Args *args);

// Connects `lub` with the decoded keywords: names the file, checks the
// keywords against each other, opens it and sets the unit up. 0 or a
// message number; on failure the unit is left unconnected.
int for__open_proc(const For_Open_Args &args, For_Lub *lub);

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
