#include "io/for_stmt.h"

#include <cstdlib>
#include <cstring>
#include <string_view>

#include "diag/for_diag.h"
#include "diag/for_msgnum.h"
#include "format/for_intrp_fmt.h"
#include "io/for_flags.h"
#include "io/for_rec.h"
#include "listdir/for_ldir_in.h"
#include "runtime/for_vm.h"
#include "units/for_lub_mgt.h"
#include "units/for_open.h"
#include "units/for_open_key.h"

namespace {

bool has(For_IO_Flags f, For_IO_Flags bit) { return (f & bit) != 0; }

bool has_control_lists(For_IO_Flags f) { return has(f, iof_keys) || has(f, iof_advance) || has(f, iof_size); }

// A failed acquisition still owes an IOMSG= text when the statement gave
// one first in its control list.
int acquisition_failed(const For_Stmt &st, int status) {
    For_IO_Flags f = for__effective_flags(st.flags);
    int unit = st.unit == FOR_UNIT_INTERNAL_TOP ? FOR_UNIT_INTERNAL : st.unit;
    char *iomsg = nullptr;
    uint64_t iomsg_len = 0;
    if (has(f, iof_keys) && st.cdsc && st.cval && st.cdsc[0] == FOR_TYPE_CHARACTER && st.cdsc[2] == FOR_KEY_IOMSG) {
        const For_Dsc_Lst *d = st.cdsc;
        const For_Value_List *v = st.cval;
        For_Item item;
        For_Shape shape;
        int code;
        if (for__key_desc_ret_item(&d, &v, &item, &shape, &code) == 0) {
            iomsg = static_cast<char *>(item.addr);
            iomsg_len = static_cast<uint64_t>(item.length);
        }
    }
    return for__fail_unacquired(unit, f, iomsg, iomsg_len, status);
}

// Applies one of BLANK=, DECIMAL=, DELIM=, PAD=, ROUND=, SIGN= for the
// length of the statement, keeping the unit's own value for the
// statement's release to put back.
int apply_mode(For_Lub *lub, int code, std::string_view text, For_IO_Flags f) {
    uint64_t value = 0;
    if (int s = for__open_key(text, code, &value, For_Key_Stmt::other)) return s;
    For_Stmt_Modes &saved = lub->lub_stmt.saved;
    switch (code) {
    case FOR_KEY_BLANK:
        saved.blank_null = (lub->lub_flags & lubf::blank_null) != 0;
        saved.overridden |= stmo::blank;
        lub->lub_flags = (lub->lub_flags & ~lubf::blank_null) | (value == FOR_BLANK_NULL ? lubf::blank_null : 0);
        break;
    case FOR_KEY_DECIMAL:
        saved.decimal = lub->lub_decimal;
        saved.overridden |= stmo::decimal;
        lub->lub_decimal = static_cast<uint8_t>(value);
        break;
    case FOR_KEY_DELIM:
        saved.delim = lub->lub_delim;
        saved.overridden |= stmo::delim;
        lub->lub_delim = value == FOR_DELIM_APOSTROPHE ? '\'' : value == FOR_DELIM_QUOTE ? '"' : 0;
        break;
    case FOR_KEY_PAD: {
        // PAD= belongs to Fortran-90 semantics; the older run-time mode
        // warns but applies it all the same.
        bool f77_warns = has(f, VORLIX_IOF(51)) ? has(f, VORLIX_IOF(49)) : !has(f, iof_f90);
        if (f77_warns) for__issue_diagnostic(msg::pad_specifier_not_allowed_f77rtl, 0);
        saved.pad = (lub->lub_flags & lubf::pad) != 0;
        saved.overridden |= stmo::pad;
        lub->lub_flags = (lub->lub_flags & ~lubf::pad) | (value == FOR_YES ? lubf::pad : 0);
        break;
    }
    case FOR_KEY_ROUND:
        saved.round = lub->lub_round;
        saved.overridden |= stmo::round;
        lub->lub_round = static_cast<uint8_t>(value);
        break;
    case FOR_KEY_SIGN:
        saved.sign = lub->lub_sign;
        saved.overridden |= stmo::sign;
        lub->lub_sign = static_cast<uint8_t>(value);
        break;
    }
    return 0;
}

// Puts back the unit's own values of the modes the statement overrode.
void restore_modes(For_Lub *lub) {
    For_Stmt_Modes &saved = lub->lub_stmt.saved;
    const uint8_t o = saved.overridden;
    if (!o) return;
    if (o & stmo::blank)
        lub->lub_flags = (lub->lub_flags & ~lubf::blank_null) | (saved.blank_null ? lubf::blank_null : 0);
    if (o & stmo::decimal) lub->lub_decimal = saved.decimal;
    if (o & stmo::delim) lub->lub_delim = saved.delim;
    if (o & stmo::pad) lub->lub_flags = (lub->lub_flags & ~lubf::pad) | (saved.pad ? lubf::pad : 0);
    if (o & stmo::round) lub->lub_round = saved.round;
    if (o & stmo::sign) lub->lub_sign = saved.sign;
    saved.overridden = 0;
}

// Position of a keyword in the fixed order of the control list; 0 when it
// does not belong there.
int keyword_rank(int code) {
    switch (code) {
    case FOR_KEY_IOMSG: return 1;
    case FOR_KEY_POS: return 2;
    case FOR_KEY_BLANK: return 3;
    case FOR_KEY_DECIMAL: return 4;
    case FOR_KEY_DELIM: return 5;
    case FOR_KEY_PAD: return 6;
    case FOR_KEY_ROUND: return 7;
    case FOR_KEY_SIGN: return 8;
    default: return 0;
    }
}

// Walks the keyword items up to their end marker, leaving the cursors
// after it for ADVANCE= and SIZE=.
int apply_keywords(const For_Stmt_Kind &kind, For_Lub *lub, const For_Dsc_Lst **dsc, const For_Value_List **val,
                   For_IO_Flags f) {
    int last_rank = 0;
    for (;;) {
        For_Item item;
        For_Shape shape;
        int code = 0;
        if (int s = for__key_desc_ret_item(dsc, val, &item, &shape, &code)) return s;
        if (item.type == FOR_TYPE_END_STMT) return 0;
        int rank = keyword_rank(code);
        if (rank == 0 || rank <= last_rank || item.type == FOR_TYPE_END_GROUP) {
            // Only a compiler fault puts anything else here.
            for__issue_diagnostic(msg::internal_error, 2, kind.module, __LINE__);
            return msg::internal_error;
        }
        last_rank = rank;
        if (code == FOR_KEY_IOMSG) {
            lub->lub_stmt.iomsg_addr = static_cast<char *>(item.addr);
            lub->lub_stmt.iomsg_len = static_cast<uint64_t>(item.length);
            continue;
        }
        if (code == FOR_KEY_POS) {
            int64_t pos = 0;
            if (!for__item_int(item, &pos)) return msg::invalid_argument;
            if (lub->lub_udio_depth != 0) return msg::udio_pos_rec;
            if (!(lub->lub_flags & lubf::access_stream))
                return (lub->lub_flags & lubf::opened) ? msg::stream_not_allowed : msg::stream_unopened_unit;
            if (pos < 1) return msg::pos_out_of_range;
            lub->lub_file_pos = static_cast<uint64_t>(pos - 1);
            lub->lub_stmt_flags |= lubs::pos_given;
            continue;
        }
        std::string_view text(static_cast<const char *>(item.addr), static_cast<size_t>(item.length));
        if (int s = apply_mode(lub, code, text, f)) return s;
    }
}

int check_connection(const For_Stmt_Kind &kind, For_Lub *lub, int *iostat) {
    uint64_t fl = lub->lub_flags;
    *iostat = 0;
    if (kind.output && (fl & lubf::readonly)) return msg::write_to_readonly;
    if (fl & lubf::access_keyed) {
        if (!kind.direct) return msg::mixed_access_modes;
        *iostat = msg::mixed_access_modes;
        return msg::direct_to_keyed;
    }
    bool internal = lub->lub_unit == FOR_UNIT_INTERNAL;
    if (kind.formatted && (fl & lubf::unformatted) && lub->lub_udio_depth == 0 && !internal) {
        *iostat = msg::mixed_access_modes;
        return msg::formatted_to_unformatted;
    }
    // Unformatted sequential statements make this check themselves.
    if (kind.direct && !kind.formatted && (fl & lubf::formatted)) {
        *iostat = msg::mixed_access_modes;
        return msg::unformatted_to_formatted;
    }
    if (kind.formatted && !kind.direct && (fl & lubf::access_direct) && !(fl & lubf::opt_compat)) {
        *iostat = msg::mixed_access_modes;
        return msg::sequential_to_direct;
    }
    return 0;
}

}  // namespace

int for__fail_unacquired(int unit, For_IO_Flags flags, char *iomsg, uint64_t iomsg_len, int status) {
    For_IO_Flags f = for__effective_flags(flags);
    if (!has(f, iof_err) && !has(f, iof_iostat)) {
        for__issue_diagnostic(status, 2, unit, "unknown");
        return status;
    }
    if (!iomsg) return status;
    // Completion works on a unit block: a scratch one carries the statement's
    // conditions and its IOMSG= variable, and is freed again.
    For_Lub *scratch = nullptr;
    if (for__create_lub(unit, &scratch) != 0) return status;
    scratch->lub_stmt.iomsg_addr = iomsg;
    scratch->lub_stmt.iomsg_len = iomsg_len;
    if (has(f, iof_err)) scratch->lub_flags |= lubf::stmt_err;
    if (has(f, iof_iostat)) scratch->lub_stmt_flags |= lubs::iostat;
    int r = for__io_return(0, status, status, scratch);
    for__lub_free_owned(scratch);
    for__free_vm(scratch);
    return r;
}

int for__iostat_of(int status) {
    switch (status) {
    case msg::stream_not_allowed:
    case msg::formatted_to_unformatted:
    case msg::sequential_to_direct: return msg::mixed_access_modes;
    default: return status;
    }
}

int for__stmt_acquire(const For_Stmt_Kind &kind, const For_Stmt &st, For_Lub **out) {
    *out = nullptr;
    // An external entry naming unit -5 continues the thread's innermost
    // internal file (a child statement, or namelist on an internal file).
    int unit = kind.internal ? FOR_UNIT_INTERNAL : st.unit == FOR_UNIT_INTERNAL ? FOR_UNIT_INTERNAL_TOP : st.unit;
    For_Lub *lub = nullptr;
    if (int s = for__acquire_lun(unit, &lub, st.ctx, kind.op)) return acquisition_failed(st, s);
    *out = lub;
    return 0;
}

void for__stmt_conditions(const For_Stmt_Kind &kind, For_IO_Flags flags, For_Lub *lub) {
    For_IO_Flags f = for__effective_flags(flags);
    // Conditions of this statement only; the next entry rewrites them.
    uint64_t fl = lub->lub_flags & ~(lubf::stmt_err | lubf::stmt_end | lubf::stmt_eor | lubf::cvterr_quiet);
    if (has(f, iof_err)) fl |= lubf::stmt_err;
    if (has(f, iof_end)) fl |= lubf::stmt_end;
    if (has(f, iof_eor)) fl |= lubf::stmt_eor;
    if (kind.output && has(f, iof_cvterr)) fl |= lubf::cvterr_quiet;
    lub->lub_flags = fl;
    lub->lub_stmt.begin();
    // Only the statement right after the READ may replace its record.
    lub->lub_stmt.record_read = kind.op == FOR_OP_REWRITE && lub->lub_rec_read;
    lub->lub_rec_read = 0;

    uint64_t sf = lub->lub_stmt_flags & ~lubs::statement_only;
    if (has(f, iof_iostat)) sf |= lubs::iostat;
    if (has(f, iof_strict_ldin)) sf |= lubs::strict_ldin;
    if (has(f, VORLIX_IOF(45))) sf |= lubs::carried_iof45;
    if (has(f, iof_minus_rounded_zero)) sf |= lubs::minus_rounded_zero;
    sf |= ((f >> 48) & 0xf) << 53;
    lub->lub_stmt_flags = sf;
    lub->lub_ldir_count = 0;
}

int for__stmt_begin(const For_Stmt_Kind &kind, const For_Stmt &st, For_Lub **out) {
    For_Lub *lub = nullptr;
    int r = for__stmt_acquire(kind, st, &lub);
    if (!lub) {
        *out = nullptr;
        return r;
    }
    return for__stmt_begin_acquired(kind, st, lub, out);
}

int for__stmt_begin_acquired(const For_Stmt_Kind &kind, const For_Stmt &st, For_Lub *lub, For_Lub **out) {
    *out = nullptr;
    For_IO_Flags f = for__effective_flags(st.flags);
    for__stmt_conditions(kind, st.flags, lub);

    const For_Dsc_Lst *cd = st.cdsc;
    const For_Value_List *cv = st.cval;
    bool lists = has_control_lists(f) && cd && cv;
    if (lists) {
        if (int s = apply_keywords(kind, lub, &cd, &cv, f)) return for__stmt_fail(lub, s);
    }

    if (!(lub->lub_flags & lubf::opened) && lub->lub_unit != FOR_UNIT_INTERNAL) {
        for__merge_statement_options(lub, f);
        int s = kind.connect ? kind.connect(lub, kind.access, kind.status, kind.form) : msg::internal_error;
        if (s != 0) return for__io_return(2, s, for__iostat_of(s), lub);
    }

    int iostat = 0;
    if (int s = check_connection(kind, lub, &iostat)) return for__io_return(1, s, iostat ? iostat : s, lub);
    if (int s = for__output_failed(lub)) return for__stmt_fail(lub, s);

    if (lists && (has(f, iof_advance) || has(f, iof_size))) {
        int s;
        if (kind.output) {
            int adv = 1;
            s = for__write_args(&cd, &cv, f, &adv);
            lub->lub_stmt.nonadvancing = adv == 0;
        } else {
            For_Advance_Args a{};
            s = for__read_args(&cd, &cv, f, &a);
            lub->lub_stmt.nonadvancing = a.advance == 0;
            lub->lub_stmt.size_addr = a.size_addr;
            lub->lub_stmt.size_len = static_cast<uint64_t>(a.size_len);
        }
        if (s != 0) return for__stmt_fail(lub, s);
    }
    *out = lub;
    return 0;
}

int for__stmt_fail(For_Lub *lub, int status) { return for__io_return(1, status, for__iostat_of(status), lub); }

int for__stmt_end(For_Lub *lub, int status) {
    if (status != 0) return for__stmt_fail(lub, status);
    const int op = lub->lub_op;
    if ((op == FOR_OP_READ || op == FOR_OP_READ_LIS || op == FOR_OP_READ_NML) && !lub->lub_stmt.direct &&
        lub->lub_unit != FOR_UNIT_INTERNAL && lub->lub_udio_depth == 0)
        lub->lub_rec_read = 1;
    lub->lub_flags &= ~(lubf::stmt_err | lubf::stmt_end | lubf::stmt_eor | lubf::cvterr_quiet);
    lub->lub_stmt_flags &= ~lubs::statement_only;
    for__release_lub(lub);
    return 0;
}

void for__stmt_release(For_Lub *lub) {
    For_Stmt_State &st = lub->lub_stmt;
    restore_modes(lub);
    switch (st.xfer.kind()) {
    case For_Xfer_State::Kind::formatted: for__fmt_stmt_done(st.xfer.formatted()); break;
    case For_Xfer_State::Kind::ldir_in: for__ldir_in_release(st.xfer.ldir_in()); break;
    default: break;
    }
    st.xfer.clear();
    st.begin();
}

void for__stmt_suspend(For_Lub *lub, For_Stmt_State *parent) {
    *parent = lub->lub_stmt;
    std::memset(static_cast<void *>(&lub->lub_stmt), 0, sizeof lub->lub_stmt);
}

void for__stmt_resume(For_Lub *lub, const For_Stmt_State &parent) {
    for__stmt_release(lub);
    lub->lub_stmt = parent;
}

namespace {
// ADVANCE= compares its value in upper case without trailing blanks.
int advance_value(const For_Item &item, int *advance) {
    if (item.type != FOR_TYPE_CHARACTER) return msg::invalid_argument;
    std::string_view t(static_cast<const char *>(item.addr), static_cast<size_t>(item.length));
    while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
    auto eq = [&](std::string_view word) {
        if (t.size() != word.size()) return false;
        for (size_t i = 0; i < t.size(); ++i) {
            char c = t[i];
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
            if (c != word[i]) return false;
        }
        return true;
    };
    if (eq("YES"))
        *advance = 1;
    else if (eq("NO"))
        *advance = 0;
    else
        return msg::invalid_argument;
    return 0;
}
}  // namespace

int for__write_args(const For_Dsc_Lst **dsc, const For_Value_List **val, For_IO_Flags flags, int *advance) {
    *advance = 1;
    if (!has(flags, iof_advance)) return 0;
    For_Item item;
    For_Shape shape;
    if (int s = for__desc_ret_item(dsc, val, &item, &shape)) return s;
    return advance_value(item, advance);
}

int for__read_args(const For_Dsc_Lst **dsc, const For_Value_List **val, For_IO_Flags flags, For_Advance_Args *out) {
    out->advance = 1;
    out->size_addr = nullptr;
    out->size_len = 0;
    For_Item item;
    For_Shape shape;
    if (has(flags, iof_advance)) {
        if (int s = for__desc_ret_item(dsc, val, &item, &shape)) return s;
        if (int s = advance_value(item, &out->advance)) return s;
    }
    if (has(flags, iof_size)) {
        if (int s = for__desc_ret_item(dsc, val, &item, &shape)) return s;
        switch (item.type) {
        case FOR_TYPE_INT1:
        case FOR_TYPE_INT2:
        case FOR_TYPE_INT4:
        case FOR_TYPE_INT8: break;
        default: return msg::invalid_argument;
        }
        out->size_addr = item.addr;
        out->size_len = item.length;
    }
    return 0;
}
