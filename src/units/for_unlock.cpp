// UNLOCK (u): record locks are released as the unit is; the statement only
// has to reach the unit and leave its conditions clean.
#include <vorlix/io.h>

#include "diag/for_diag.h"
#include "io/for_stmt.h"
#include "units/for_lub_mgt.h"

VORLIX_API int for_unlock(For_Context *ctx, int unit, For_IO_Flags flags) {
    For_Lub *lub = nullptr;
    if (int s = for__acquire_lun(unit, &lub, ctx, FOR_OP_UNLOCK)) {
        if (for__effective_flags(flags) & (iof_err | iof_iostat)) return s;
        for__issue_diagnostic(s, 2, unit, "unknown");
        return s;
    }
    lub->lub_flags &= ~(lubf::stmt_err | lubf::stmt_end | lubf::stmt_eor | lubf::eof);
    lub->lub_stmt_flags &= ~lubs::iostat;
    return for__release_lub(lub);
}
