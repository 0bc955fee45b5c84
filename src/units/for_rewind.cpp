// REWIND (u): the unit goes back to the start of its file. Output still in
// the buffer is written first and read-ahead given back, so that nothing
// the program wrote is lost and nothing read ahead is read twice.
#include <cerrno>
#include <unistd.h>

#include <vorlix/io.h>

#include "diag/for_diag.h"
#include "diag/for_msgnum.h"
#include "unformatted/for_ufseq.h"
#include "units/for_pos_stmt.h"

VORLIX_API int for_rewind(For_Context *ctx, int unit, For_IO_Flags flags, const For_Dsc_Lst *keys,
                          const For_Value_List *values) {
    For_Lub *lub = nullptr;
    int r = for__pos_begin_connected({ctx, unit, flags, keys, values}, FOR_OP_REWIND, msg::rewind_in_child_io,
                                     msg::rewind_tty_noop, &lub);
    if (!lub) return r;
    if (lub->lub_flags & lubf::access_keyed) return for__pos_end(lub, msg::rewind_error);
    if (for__uf_settle(lub) != 0) return for__pos_end(lub, msg::rewind_error);
    if (::lseek(lub->lub_fd, 0, SEEK_SET) < 0) {
        lub->lub_errno = static_cast<uint64_t>(errno);
        return for__pos_end(lub, msg::rewind_error);
    }
    lub->lub_record_number = 1;
    lub->lub_flags &= ~lubf::append;
    for__pos_reset(lub);
    if (lub->lub_xfer_kind == 7) lub->lub_flags |= lubf::at_start;
    return for__pos_end(lub, msg::ok);
}
