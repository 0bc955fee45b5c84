// FLUSH (u): output the unit holds back goes to the file, and read-ahead is
// given back so that another program sees the file as this one left it.
// A record a non-advancing WRITE left open stays open: FLUSH ends no
// record. The operating system's own caches are not forced to disk.
#include <vorlix/io.h>

#include "io/for_rec.h"
#include "io/for_tty_pair.h"
#include "diag/for_msgnum.h"
#include "units/for_pos_stmt.h"

VORLIX_API int for_flush(For_Context *ctx, int unit, For_IO_Flags flags, const For_Dsc_Lst *keys,
                         const For_Value_List *values) {
    For_Lub *lub = nullptr;
    int r = for__pos_begin({ctx, unit, flags, keys, values}, FOR_OP_FLUSH, &lub);
    if (!lub) return r;
    if (!(lub->lub_flags & lubf::opened)) return for__pos_end(lub, msg::ok);
    if (int s = for__flush_output(lub)) return for__pos_end(lub, s);
    // FLUSH of one unit of a file flushes every unit writing it.
    for__flush_other_holder(lub);
    if ((lub->lub_flags & lubf::positionable) && !(lub->lub_flags & lubf::partial_record)) {
        if (int s = for__flush_readahead(lub, 0)) return for__pos_end(lub, s);
    }
    return for__pos_end(lub, msg::ok);
}
