#include "units/for_pos_stmt.h"

#include <unistd.h>

#include "diag/for_msgnum.h"
#include "io/for_desc_item.h"
#include "io/for_flags.h"
#include "io/for_rec.h"
#include "io/for_stmt.h"
#include "units/for_lub_mgt.h"

namespace {

bool has(For_IO_Flags f, For_IO_Flags bit) { return (f & bit) != 0; }

// The control list: IOMSG= is the only keyword these statements have.
int iomsg_of(const For_Pos_Stmt &st, char **addr, uint64_t *len) {
    *addr = nullptr;
    *len = 0;
    if (!st.keys || !st.values) return 0;
    const For_Dsc_Lst *d = st.keys;
    const For_Value_List *v = st.values;
    for (;;) {
        For_Item item;
        For_Shape shape;
        int code = 0;
        if (int s = for__key_desc_ret_item(&d, &v, &item, &shape, &code)) return s;
        if (item.type == FOR_TYPE_END_STMT) return 0;
        if (code != FOR_KEY_IOMSG || item.type != FOR_TYPE_CHARACTER) return msg::invalid_argument;
        *addr = static_cast<char *>(item.addr);
        *len = static_cast<uint64_t>(item.length);
    }
}

}  // namespace

int for__pos_begin(const For_Pos_Stmt &st, int op, For_Lub **out) {
    *out = nullptr;
    For_IO_Flags f = for__effective_flags(st.flags);
    char *iomsg = nullptr;
    uint64_t iomsg_len = 0;
    int key_status = iomsg_of(st, &iomsg, &iomsg_len);
    For_Lub *lub = nullptr;
    if (int s = for__acquire_lun(st.unit, &lub, st.ctx, op))
        return for__fail_unacquired(st.unit, f, iomsg, iomsg_len, s);
    lub->lub_flags &= ~(lubf::stmt_err | lubf::stmt_end | lubf::stmt_eor);
    if (has(f, iof_err)) lub->lub_flags |= lubf::stmt_err;
    if (has(f, iof_end)) lub->lub_flags |= lubf::stmt_end;
    if (has(f, iof_eor)) lub->lub_flags |= lubf::stmt_eor;
    lub->lub_stmt_flags &= ~lubs::statement_only;
    if (has(f, iof_iostat)) lub->lub_stmt_flags |= lubs::iostat;
    lub->lub_stmt.iomsg_addr = iomsg;
    lub->lub_stmt.iomsg_len = iomsg_len;
    if (key_status != 0) return for__io_return(1, key_status, key_status, lub);
    *out = lub;
    return 0;
}

int for__pos_begin_connected(const For_Pos_Stmt &st, int op, int in_child, int console, For_Lub **out) {
    For_Lub *lub = nullptr;
    int r = for__pos_begin(st, op, &lub);
    *out = nullptr;
    if (!lub) return r;
    if (lub->lub_udio_depth != 0) return for__pos_end(lub, in_child);
    if (for__pos_console(lub)) return for__pos_end(lub, console);
    if (!(lub->lub_flags & lubf::opened)) return for__pos_end(lub, 0);
    *out = lub;
    return 0;
}

int for__pos_end(For_Lub *lub, int status, int iostat) {
    if (status != 0) return for__io_return(1, status, iostat ? iostat : for__iostat_of(status), lub);
    lub->lub_flags &= ~(lubf::stmt_err | lubf::stmt_end | lubf::stmt_eor);
    lub->lub_stmt_flags &= ~lubs::statement_only;
    lub->lub_stmt.iomsg_addr = nullptr;
    lub->lub_stmt.iomsg_len = 0;
    for__release_lub(lub);
    return 0;
}

bool for__pos_console(const For_Lub *lub) {
    constexpr uint64_t file = lubf::opened | lubf::positionable;
    return for__is_preconnected_block(lub) && (lub->lub_flags & file) != file;
}

off_t for__logical_pos(const For_Lub *lub) {
    off_t here = ::lseek(lub->lub_fd, 0, SEEK_CUR);
    if (here < 0) return -1;
    off_t unread = 0;
    if ((lub->lub_flags & lubf::read_ahead) && lub->lub_rec_state == rec_input && lub->lub_ra_end) {
        const char *from = static_cast<For_Rec_Type>(lub->lub_record_type) == For_Rec_Type::stream ? lub->lub_buf_ptr
                                                                                                   : lub->lub_ra_next;
        unread = lub->lub_ra_end - from;
    }
    return here - unread;
}

void for__pos_reset(For_Lub *lub) {
    lub->lub_rec_state = rec_idle;
    lub->lub_ra_end = lub->lub_ra_next = nullptr;
    lub->lub_rec_start = lub->lub_buf_ptr = lub->lub_rec_end = lub->lub_buf_limit = lub->lub_buf;
    lub->lub_uf_state = 0;
    lub->lub_flags &= ~(lubf::read_ahead | lubf::partial_record | lubf::position_unchanged | lubf::eof);
    constexpr uint64_t fmt_direct_compat = lubf::formatted | lubf::access_direct | lubf::opt_compat;
    bool ufmt_stream = (lub->lub_flags & lubf::unformatted) && (lub->lub_flags & lubf::access_stream);
    if ((lub->lub_flags & fmt_direct_compat) != fmt_direct_compat && !ufmt_stream &&
        (lub->lub_flags & lubf::positionable))
        lub->lub_flags |= lubf::truncate_after_write;
}
