// DELETE (u, REC=r): record r of a relative file opened for direct access
// is written again as a deleted record (zeros or blanks, and '@' as its
// marker byte when records carry one), so that a later READ of it finds
// no record.
#include <vorlix/io.h>

#include "diag/for_msgnum.h"
#include "unformatted/for_dir_buf.h"
#include "units/for_pos_stmt.h"

VORLIX_API int for_delete(For_Context *ctx, int unit, For_IO_Flags flags, int64_t rec, const For_Dsc_Lst *keys,
                          const For_Value_List *values) {
    For_Lub *lub = nullptr;
    int r = for__pos_begin({ctx, unit, flags, keys, values}, FOR_OP_DELETE, &lub);
    if (!lub) return r;
    const uint64_t fl = lub->lub_flags;
    if (!(fl & lubf::opened)) return for__pos_end(lub, msg::delete_error);
    if (fl & lubf::readonly) return for__pos_end(lub, msg::write_to_readonly);
    if (lub->lub_organization != 2) return for__pos_end(lub, msg::delete_error);
    if (!(fl & lubf::access_direct)) return for__pos_end(lub, msg::open_required);
    if (int s = for__dir_check_rec(lub, rec)) return for__pos_end(lub, s);
    if (int s = for__dir_assoc_check(lub)) return for__pos_end(lub, s);
    return for__pos_end(lub, for__dir_delete(lub, static_cast<uint64_t>(rec)));
}
