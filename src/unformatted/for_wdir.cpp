// WRITE (u, REC=r) and REWRITE (u) of unformatted records by number: the
// items' bytes go into the record's slot of the direct file buffer
// through the item transfer that sequential statements use.
#include <vorlix/io.h>

#include "diag/for_msgnum.h"
#include "io/for_stmt.h"
#include "unformatted/for_dir_buf.h"
#include "unformatted/for_ufseq.h"
#include "units/for_open.h"

namespace {

struct Dir_Writer {
    int item(For_Lub *lub, const For_Item &it, const For_Shape &shape) { return for__uf_put_item(lub, it, shape); }
    int finish(For_Lub *lub) { return for__dir_finish(lub, true); }
};

const For_Stmt_Kind write_dir_kind{.op = FOR_OP_WRITE,
                                   .output = true,
                                   .formatted = false,
                                   .internal = false,
                                   .module = "for_wdir",
                                   .access = FOR_ACCESS_DIRECT,
                                   .status = 4,
                                   .form = 2,
                                   .connect = for__open_default,
                                   .direct = true};
const For_Stmt_Kind rewrite_kind{.op = FOR_OP_REWRITE,
                                 .output = true,
                                 .formatted = false,
                                 .internal = false,
                                 .module = "for_rewrite",
                                 .access = FOR_ACCESS_DIRECT,
                                 .status = 4,
                                 .form = 2,
                                 .connect = for__rewrite_unconnected,
                                 .direct = true};

int start(const For_Stmt_Kind &kind, const For_Stmt &st, const For_Dsc_Lst *dsc, const For_Value_List *val, int64_t rec,
          For_Dir_Start how) {
    For_Lub *lub = nullptr;
    int r = for__stmt_begin(kind, st, &lub);
    if (!lub) return r;
    // Editing modes mean nothing to raw bytes.
    int s = lub->lub_stmt.saved.overridden ? msg::keyword_not_unformatted : 0;
    if (s == 0) s = for__dir_begin(lub, rec, how);
    if (s != 0) return for__stmt_fail(lub, s);
    return for__stmt_transfer(st.ctx, dsc, val, Dir_Writer{});
}

}  // namespace

VORLIX_API int for_write_dir(For_Context *ctx, int unit, For_IO_Flags flags, const For_Dsc_Lst *dsc,
                             const For_Value_List *val, int64_t rec, const For_Dsc_Lst *cdsc,
                             const For_Value_List *cval) {
    return start(write_dir_kind, {ctx, unit, flags, cdsc, cval}, dsc, val, rec, For_Dir_Start::write);
}

VORLIX_API int for_write_dir_xmit(For_Context *ctx, const For_Dsc_Lst *dsc, const For_Value_List *val) {
    return for__stmt_transfer(ctx, dsc, val, Dir_Writer{});
}

VORLIX_API int for_rewrite(For_Context *ctx, int unit, For_IO_Flags flags, const For_Dsc_Lst *dsc,
                           const For_Value_List *val, int64_t rec, const For_Dsc_Lst *cdsc,
                           const For_Value_List *cval) {
    return start(rewrite_kind, {ctx, unit, flags, cdsc, cval}, dsc, val, rec, For_Dir_Start::rewrite);
}

VORLIX_API int for_rewrite_xmit(For_Context *ctx, const For_Dsc_Lst *dsc, const For_Value_List *val) {
    return for__stmt_transfer(ctx, dsc, val, Dir_Writer{});
}
