// READ (internal-file, fmt): records are the elements of the variable.
#include <vorlix/io.h>

#include "format/for_fmt_xfer.h"

namespace {
const For_Stmt_Kind read_int_fmt{.op = FOR_OP_READ,
                                 .output = false,
                                 .formatted = true,
                                 .internal = true,
                                 .module = "for_rint_fmt",
                                 .access = 0,
                                 .status = 0,
                                 .form = 0,
                                 .connect = nullptr};
}  // namespace

int for_read_int_fmt(For_Context *ctx, For_IO_Flags flags, const For_Dsc_Lst *dsc, const For_Value_List *val,
                     const void *fmt, const For_Dsc_Lst *cdsc, const For_Value_List *cval) {
    return for__fmt_entry<false>(read_int_fmt, {ctx, FOR_UNIT_INTERNAL, flags, cdsc, cval}, fmt, dsc, val);
}

int for_read_int_fmt_xmit(For_Context *ctx, const For_Dsc_Lst *dsc, const For_Value_List *val) {
    return for__fmt_xmit<false>(ctx, dsc, val);
}
