// The frame of a data transfer statement: the entry call that acquires the
// unit and applies the control list, the transfer calls that move the
// items, and statement completion, which turns a failure into what the
// program asked for (IOSTAT=, ERR=, END=, EOR=) or into a diagnostic.
#pragma once
#include <cstdint>

#include <vorlix/abi.h>

#include "io/for_desc_item.h"
#include "io/for_flags.h"
#include "units/for_lub.h"

struct For_Lub;

// What distinguishes one kind of statement to the frame.
struct For_Stmt_Kind {
    int op;  // operation code given to unit acquisition
    bool output;
    bool formatted;      // needs a formatted connection
    bool internal;       // the statement's unit is an internal file of its own
    const char *module;  // source module named by consistency failures
    // The implicit OPEN of an unconnected unit (SEQUENTIAL/DIRECT, status,
    // FORMATTED/UNFORMATTED in the keyword value encoding).
    int8_t access, status, form;
    int (*connect)(For_Lub *lub, int access, int status, int form);
    bool direct = false;  // transfers by record number (REC=, REWRITE)
};

// The arguments every entry receives.
struct For_Stmt {
    For_Context *ctx;
    int unit;
    For_IO_Flags flags;
    const For_Dsc_Lst *cdsc;  // control lists, null when absent
    const For_Value_List *cval;
};

// Entry steps: acquire the unit, record the statement's conditions, apply
// the control list, connect the unit when needed and check that the
// connection admits the statement. Returns 0 with *out held, or (with *out
// null) the value the entry returns because the statement is already over.
int for__stmt_begin(const For_Stmt_Kind &kind, const For_Stmt &stmt, For_Lub **out);

// The same in two steps, for entries that look at the unit before they
// commit to the general path: acquisition (0 with *out held, or with *out
// null what the entry returns), then the rest.
int for__stmt_acquire(const For_Stmt_Kind &kind, const For_Stmt &stmt, For_Lub **out);
int for__stmt_begin_acquired(const For_Stmt_Kind &kind, const For_Stmt &stmt, For_Lub *lub, For_Lub **out);

// Records the statement's conditions (ERR=, END=, EOR=, IOSTAT= and the
// other per-statement flags) in the held unit and clears what the last
// statement left: the part of the start that every statement needs.
void for__stmt_conditions(const For_Stmt_Kind &kind, For_IO_Flags flags, For_Lub *lub);

// Whether the statement passes control lists (keywords, ADVANCE=, SIZE=);
// the high half of the flag word counts only when iof_ext says so.
inline bool for__stmt_has_control_lists(For_IO_Flags flags) {
    return (for__effective_flags(flags) & (iof_keys | iof_advance | iof_size)) != 0;
}

// The statement failed with `status` after its unit was acquired: complete
// it, releasing the unit.
int for__stmt_fail(For_Lub *lub, int status);

// The end-of-statement marker was reached and the last record completed
// with `status`: clear the statement's conditions and release the unit.
int for__stmt_end(For_Lub *lub, int status);

// Ends the statement on its unit (lub_stmt): the modes its control list
// overrode go back to the unit's own, its transfer state gives back what it
// holds (the format, list-directed input's copied text), and its targets
// are cleared. The unit's release calls it when the holder gives the unit
// up, so statement end, statement failure and completion all pass here,
// once per statement; a nested inspection or a child's end does not.
void for__stmt_release(For_Lub *lub);

// A child data transfer of defined I/O runs a statement of its own on its
// parent's unit. It keeps the parent's statement in *parent for its
// length, the unit's modes as the parent left them; resuming ends the
// child's statement and puts the parent's back.
void for__stmt_suspend(For_Lub *lub, For_Stmt_State *parent);
void for__stmt_resume(For_Lub *lub, const For_Stmt_State &parent);

// A statement that could not reach its unit: without ERR= or IOSTAT= a
// diagnostic naming the file "unknown"; otherwise the status, with the
// message in the IOMSG= variable when one is given.
int for__fail_unacquired(int unit, For_IO_Flags flags, char *iomsg, uint64_t iomsg_len, int status);

// The IOSTAT value paired with a status: specific messages that report a
// more general number to the program.
int for__iostat_of(int status);

// Statement completion. `disposition`: 0 leave the unit, 1 release it,
// 2 discard the block a failed implicit connection made, 3 close the
// unit's default connection. Returns what the entry must return.
int for__io_return(int disposition, int status, int iostat, For_Lub *lub);

// ADVANCE= and SIZE=, read from the control lists after the keyword items.
struct For_Advance_Args {
    int advance;  // 1 YES (also when absent), 0 NO
    void *size_addr;
    int64_t size_len;
};
int for__read_args(const For_Dsc_Lst **dsc, const For_Value_List **val, For_IO_Flags flags, For_Advance_Args *out);
int for__write_args(const For_Dsc_Lst **dsc, const For_Value_List **val, For_IO_Flags flags, int *advance);

// Walks items until an end marker, handing each to `xfer.item(lub, item,
// shape)`; at the end of the statement calls `xfer.finish(lub)`. Used by
// every transfer call, so a group boundary is invisible to the transfer.
template <class Xfer>
int for__stmt_transfer(For_Context *ctx, const For_Dsc_Lst *dsc, const For_Value_List *val, Xfer &&xfer) {
    For_Lub *lub = ctx ? static_cast<For_Lub *>(ctx->lub) : nullptr;
    if (!lub) return 0;  // an earlier call of this statement already ended it
    for (;;) {
        For_Item item;
        For_Shape shape;
        int s = for__desc_next(&dsc, &val, &item, &shape);
        if (s != 0) return for__stmt_fail(lub, s);
        if (item.type == FOR_TYPE_END_GROUP) return 0;
        if (item.type == FOR_TYPE_END_STMT) return for__stmt_end(lub, xfer.finish(lub));
        s = xfer.item(lub, item, shape);
        if (s != 0) return for__stmt_fail(lub, s);
    }
}
