// READ (u, fmt, REC=r) on a direct-access unit: the format interpreter
// reads the record from the direct file buffer; a new record the format
// asks for is the next record by number.
#include <vorlix/io.h>

#include "format/for_fmt_xfer.h"
#include "units/for_open.h"

namespace {
// Reading never creates a file: an unconnected unit opens an existing one.
const For_Stmt_Kind read_dir_fmt{.op = FOR_OP_READ,
                                 .output = false,
                                 .formatted = true,
                                 .internal = false,
                                 .module = "for_rdir_fmt",
                                 .access = FOR_ACCESS_DIRECT,
                                 .status = 1,
                                 .form = 1,
                                 .connect = for__open_default,
                                 .direct = true};
}  // namespace

int for_read_dir_fmt(For_Context *ctx, int unit, For_IO_Flags flags, const For_Dsc_Lst *dsc, const For_Value_List *val,
                     int64_t rec, const void *fmt, const For_Dsc_Lst *cdsc, const For_Value_List *cval) {
    return for__fmt_entry<false>(read_dir_fmt, {ctx, unit, flags, cdsc, cval}, fmt, dsc, val, rec);
}

int for_read_dir_fmt_xmit(For_Context *ctx, const For_Dsc_Lst *dsc, const For_Value_List *val) {
    return for__fmt_xmit<false>(ctx, dsc, val);
}
