// READ (internal-file, *): the entry and its transfer call. The first item
// of the list is the internal file; once it is laid out as the unit's
// records, the statement reads exactly as on an external unit.
#include <vorlix/io.h>

#include <cstring>

#include "io/for_rec.h"
#include "diag/for_msgnum.h"
#include "io/for_stmt.h"
#include "listdir/for_ldir_in.h"
#include "runtime/for_vm.h"

namespace {

const For_Stmt_Kind rint_lis_kind{.op = FOR_OP_READ_LIS,
                                  .output = false,
                                  .formatted = true,
                                  .internal = true,
                                  .module = "for_rint_lis",
                                  .access = FOR_ACCESS_SEQUENTIAL,
                                  .status = 4,
                                  .form = 1,
                                  .connect = nullptr};

constexpr char file_name[] = "Internal List-Directed Read";

// Messages name the file; the block owns its name and frees it when the
// statement releases it.
void name_file(For_Lub *lub) {
    void *p = nullptr;
    if (for__get_vm(sizeof file_name, 0, &p) != 0) return;
    std::memcpy(p, file_name, sizeof file_name);
    lub->lub_file_name = static_cast<char *>(p);
    lub->lub_file_name_len = static_cast<int16_t>(sizeof file_name - 1);
}

}  // namespace

int for_read_int_lis(For_Context *ctx, For_IO_Flags flags, const For_Dsc_Lst *dsc, const For_Value_List *val,
                     const For_Dsc_Lst *cdsc, const For_Value_List *cval) {
    For_Lub *lub = nullptr;
    const int r = for__stmt_begin(rint_lis_kind, {ctx, FOR_UNIT_INTERNAL, flags, cdsc, cval}, &lub);
    if (!lub) return r;
    name_file(lub);
    For_Item file;
    For_Shape shape;
    if (int s = for__desc_ret_item(&dsc, &val, &file, &shape)) return for__stmt_fail(lub, s);
    if (int s = for__ifile_from_item(lub, file, shape, false)) return for__stmt_fail(lub, s);
    if (int s = for__ldir_in_begin(lub, flags)) return for__stmt_fail(lub, s);
    return for__stmt_transfer(ctx, dsc, val, For_Ldir_In{});
}

int for_read_int_lis_xmit(For_Context *ctx, const For_Dsc_Lst *dsc, const For_Value_List *val) {
    return for__stmt_transfer(ctx, dsc, val, For_Ldir_In{});
}
