// READ (u, *) on an external unit: the entry and its transfer call.
#include <vorlix/io.h>

#include "io/for_stmt.h"
#include "listdir/for_ldir_in.h"
#include "units/for_open.h"

namespace {

// An unconnected unit is opened as a formatted sequential file of status
// UNKNOWN (4 in the keyword table), as a READ that names it expects.
const For_Stmt_Kind rseq_lis_kind{.op = FOR_OP_READ_LIS,
                                  .output = false,
                                  .formatted = true,
                                  .internal = false,
                                  .module = "for_rseq_lis",
                                  .access = FOR_ACCESS_SEQUENTIAL,
                                  .status = 4,
                                  .form = 1,
                                  .connect = for__open_default};

}  // namespace

int for_read_seq_lis(For_Context *ctx, int unit, For_IO_Flags flags, const For_Dsc_Lst *dsc, const For_Value_List *val,
                     const For_Dsc_Lst *cdsc, const For_Value_List *cval) {
    For_Lub *lub = nullptr;
    const int r = for__stmt_begin(rseq_lis_kind, {ctx, unit, flags, cdsc, cval}, &lub);
    if (!lub) return r;
    if (int s = for__ldir_in_begin(lub, flags)) return for__stmt_fail(lub, s);
    return for__stmt_transfer(ctx, dsc, val, For_Ldir_In{});
}

int for_read_seq_lis_xmit(For_Context *ctx, const For_Dsc_Lst *dsc, const For_Value_List *val) {
    return for__stmt_transfer(ctx, dsc, val, For_Ldir_In{});
}
