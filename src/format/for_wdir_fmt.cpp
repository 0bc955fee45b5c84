// WRITE (u, fmt, REC=r) and REWRITE (u, fmt) on a direct-access unit: the
// format interpreter edits into the record's slot of the direct file
// buffer, and each record the format ends is put by number.
#include <vorlix/io.h>

#include "diag/for_msgnum.h"
#include "format/for_fmt_xfer.h"
#include "unformatted/for_dir_buf.h"
#include "units/for_open.h"

namespace {
// An unconnected unit is opened as a formatted direct file whose status is
// UNKNOWN: writing creates it.
const For_Stmt_Kind write_dir_fmt{.op = FOR_OP_WRITE,
                                  .output = true,
                                  .formatted = true,
                                  .internal = false,
                                  .module = "for_wdir_fmt",
                                  .access = FOR_ACCESS_DIRECT,
                                  .status = 4,
                                  .form = 1,
                                  .connect = for__open_default,
                                  .direct = true};

// REWRITE rebuilds the record read last; an unconnected unit has none.
const For_Stmt_Kind rewrite_fmt{.op = FOR_OP_REWRITE,
                                .output = true,
                                .formatted = true,
                                .internal = false,
                                .module = "for_rewrite_fmt",
                                .access = FOR_ACCESS_DIRECT,
                                .status = 4,
                                .form = 1,
                                .connect = for__rewrite_unconnected,
                                .direct = true};
}  // namespace

int for_write_dir_fmt(For_Context *ctx, int unit, For_IO_Flags flags, const For_Dsc_Lst *dsc, const For_Value_List *val,
                      int64_t rec, const void *fmt, const For_Dsc_Lst *cdsc, const For_Value_List *cval) {
    return for__fmt_entry<true>(write_dir_fmt, {ctx, unit, flags, cdsc, cval}, fmt, dsc, val, rec);
}

int for_write_dir_fmt_xmit(For_Context *ctx, const For_Dsc_Lst *dsc, const For_Value_List *val) {
    return for__fmt_xmit<true>(ctx, dsc, val);
}

int for_rewrite_fmt(For_Context *ctx, int unit, For_IO_Flags flags, const For_Dsc_Lst *dsc, const For_Value_List *val,
                    int64_t rec, const void *fmt, const For_Dsc_Lst *cdsc, const For_Value_List *cval) {
    return for__fmt_entry<true>(rewrite_fmt, {ctx, unit, flags, cdsc, cval}, fmt, dsc, val, rec);
}

int for_rewrite_fmt_xmit(For_Context *ctx, const For_Dsc_Lst *dsc, const For_Value_List *val) {
    return for__fmt_xmit<true>(ctx, dsc, val);
}
