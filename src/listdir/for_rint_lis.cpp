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

const For_Stmt_Kind rint_lis_kind{FOR_OP_READ_LIS, false, true, true, "for_rint_lis", FOR_ACCESS_SEQUENTIAL,
                                  4, 1, nullptr};

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

// The records of the internal file: a character scalar is one record, an
// array one record per element. The records must lie one after another;
// a compiler passes a copy of any section that does not.
int layout(const For_Item &file, const For_Shape &shape, char **var, uint64_t *elem_len, uint64_t *count) {
    if (file.type != FOR_TYPE_CHARACTER) return msg::invalid_argument;
    const int64_t elen = file.elem_len;
    const int64_t n = for__item_count(file, shape);
    if (elen < 0 || n < 0) return msg::invalid_argument;
    if (file.form == FOR_FORM_SECTION || file.form == FOR_FORM_SECTION_ELEN) {
        int64_t expect = elen;
        for (int k = 0; k < shape.rank; ++k) {
            const For_Dim &d = shape.dim[k];
            const int64_t extent = d.upper >= d.lower ? d.upper - d.lower + 1 : 0;
            if (extent > 1 && d.stride != expect) return msg::invalid_argument;
            expect *= extent;
        }
    }
    *var = static_cast<char *>(file.addr);
    *elem_len = static_cast<uint64_t>(elen);
    *count = static_cast<uint64_t>(n);
    return 0;
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
    char *var = nullptr;
    uint64_t elem_len = 0, count = 0;
    if (int s = layout(file, shape, &var, &elem_len, &count)) return for__stmt_fail(lub, s);
    for__ifile_setup(lub, var, elem_len, count, false);
    if (int s = for__ldir_in_begin(lub, flags)) return for__stmt_fail(lub, s);
    return for__stmt_transfer(ctx, dsc, val, For_Ldir_In{});
}

int for_read_int_lis_xmit(For_Context *ctx, const For_Dsc_Lst *dsc, const For_Value_List *val) {
    return for__stmt_transfer(ctx, dsc, val, For_Ldir_In{});
}
