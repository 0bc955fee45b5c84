// INQUIRE (IOLENGTH=n) list: the length of the record an unformatted WRITE
// of the list would make. The statement runs in the frame of a transfer
// on an internal block of its own, so that its list arrives in groups as a
// WRITE's does; nothing is written anywhere.
#include <vorlix/io.h>

#include "diag/for_msgnum.h"
#include "io/for_stmt.h"
#include "unformatted/for_ufseq.h"
#include "units/for_lub_mgt.h"

namespace {

const For_Stmt_Kind iolength_kind{.op = FOR_OP_WRITE,
                                  .output = true,
                                  .formatted = false,
                                  .internal = true,
                                  .module = "for_iolength",
                                  .access = FOR_ACCESS_SEQUENTIAL,
                                  .status = 4,
                                  .form = 2,
                                  .connect = nullptr};

// The result goes into the statement's SIZE= target, the count of bytes
// into the record count of the block.
struct Counter {
    int item(For_Lub *lub, const For_Item &it, const For_Shape &shape) {
        lub->lub_uf_bytes += for__uf_item_bytes(it, shape);
        return 0;
    }
    int finish(For_Lub *lub) {
        // RECL= of an unformatted OPEN counts 4-byte units: the length is
        // rounded up so that a RECL of this many units holds the record.
        const uint64_t units = (lub->lub_uf_bytes + 3) / 4;
        const uint64_t bytes = lub->lub_stmt.size_len;
        const uint64_t max = bytes >= 8 ? INT64_MAX : (uint64_t{1} << (8 * bytes - 1)) - 1;
        if (units > max) return msg::integer_assignment_overflow;
        auto *p = lub->lub_stmt.size_addr;
        switch (bytes) {
        case 1: *static_cast<int8_t *>(p) = static_cast<int8_t>(units); break;
        case 2: *static_cast<int16_t *>(p) = static_cast<int16_t>(units); break;
        case 4: *static_cast<int32_t *>(p) = static_cast<int32_t>(units); break;
        default: *static_cast<int64_t *>(p) = static_cast<int64_t>(units); break;
        }
        return 0;
    }
};

}  // namespace

VORLIX_API int for_iolength(For_Context *ctx, For_IO_Flags flags, const For_Dsc_Lst *dsc, const For_Value_List *val) {
    For_Item item;
    For_Shape shape;
    const For_Dsc_Lst *d = dsc;
    const For_Value_List *v = val;
    int s = for__desc_ret_item(&d, &v, &item, &shape);
    if (s == 0 && (item.form != FOR_FORM_ADDR && item.form != FOR_FORM_ADDR_ALT)) s = msg::invalid_argument;
    if (s == 0) {
        switch (item.type) {
        case FOR_TYPE_INT1:
        case FOR_TYPE_INT2:
        case FOR_TYPE_INT4:
        case FOR_TYPE_INT8: break;
        default: s = msg::invalid_argument;
        }
    }
    if (s != 0) return for__fail_unacquired(FOR_UNIT_INTERNAL, flags, nullptr, 0, s);
    For_Lub *lub = nullptr;
    if (int a = for__acquire_lun(FOR_UNIT_INTERNAL, &lub, ctx, iolength_kind.op))
        return for__fail_unacquired(FOR_UNIT_INTERNAL, flags, nullptr, 0, a);
    for__stmt_conditions(iolength_kind, flags, lub);
    lub->lub_stmt.size_addr = item.addr;
    lub->lub_stmt.size_len = static_cast<uint64_t>(item.length);
    lub->lub_uf_bytes = 0;
    return for__stmt_transfer(ctx, d, v, Counter{});
}

VORLIX_API int for_iolength_xmit(For_Context *ctx, const For_Dsc_Lst *dsc, const For_Value_List *val) {
    return for__stmt_transfer(ctx, dsc, val, Counter{});
}
