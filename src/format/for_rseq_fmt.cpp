// READ (u, fmt) and READ fmt on a sequential external unit.
#include <vorlix/io.h>

#include "format/for_fmt_xfer.h"
#include "units/for_open.h"

namespace {
// An unconnected unit is opened as a formatted sequential file that must
// exist (status OLD): reading never creates a file.
const For_Stmt_Kind read_seq_fmt{.op = FOR_OP_READ,
                                 .output = false,
                                 .formatted = true,
                                 .internal = false,
                                 .module = "for_rseq_fmt",
                                 .access = 1,
                                 .status = 1,
                                 .form = 1,
                                 .connect = for__open_default};
}  // namespace

int for_read_seq_fmt(For_Context *ctx, int unit, For_IO_Flags flags, const For_Dsc_Lst *dsc, const For_Value_List *val,
                     const void *fmt, const For_Dsc_Lst *cdsc, const For_Value_List *cval) {
    return for__fmt_entry<false>(read_seq_fmt, {ctx, unit, flags, cdsc, cval}, fmt, dsc, val);
}

int for_read_seq_fmt_xmit(For_Context *ctx, const For_Dsc_Lst *dsc, const For_Value_List *val) {
    return for__fmt_xmit<false>(ctx, dsc, val);
}
