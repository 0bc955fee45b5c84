// READ (u, REC=r) of unformatted records by number: the record comes from
// the direct file buffer (read when the buffer does not hold it) and the
// item transfer of sequential statements copies it out.
#include <vorlix/io.h>

#include "diag/for_msgnum.h"
#include "io/for_stmt.h"
#include "unformatted/for_dir_buf.h"
#include "unformatted/for_ufseq.h"
#include "units/for_open.h"

namespace {

struct Dir_Reader {
    int item(For_Lub *lub, const For_Item &it, const For_Shape &shape) { return for__uf_get_item(lub, it, shape); }
    int finish(For_Lub *lub) { return for__dir_finish(lub, false); }
};

// Reading never creates a file: an unconnected unit opens an existing one.
const For_Stmt_Kind read_dir_kind{.op = FOR_OP_READ,
                                  .output = false,
                                  .formatted = false,
                                  .internal = false,
                                  .module = "for_rdir",
                                  .access = FOR_ACCESS_DIRECT,
                                  .status = 1,
                                  .form = 2,
                                  .connect = for__open_default,
                                  .direct = true};

}  // namespace

VORLIX_API int for_read_dir(For_Context *ctx, int unit, For_IO_Flags flags, const For_Dsc_Lst *dsc,
                            const For_Value_List *val, int64_t rec, const For_Dsc_Lst *cdsc,
                            const For_Value_List *cval) {
    For_Lub *lub = nullptr;
    int r = for__stmt_begin(read_dir_kind, {ctx, unit, flags, cdsc, cval}, &lub);
    if (!lub) return r;
    int s = lub->lub_stmt.saved.overridden ? msg::keyword_not_unformatted : 0;
    if (s == 0 && (lub->lub_flags & lubf::write_only)) s = msg::read_error;
    if (s == 0) s = for__dir_begin(lub, rec, For_Dir_Start::read);
    if (s != 0) return for__stmt_fail(lub, s);
    return for__stmt_transfer(ctx, dsc, val, Dir_Reader{});
}

VORLIX_API int for_read_dir_xmit(For_Context *ctx, const For_Dsc_Lst *dsc, const For_Value_List *val) {
    return for__stmt_transfer(ctx, dsc, val, Dir_Reader{});
}
