// The item loop of formatted statements, in both directions: pairs each
// list element (each part of a complex element) with the next data edit of
// the format, carries out the records the interpreter hands back (literals,
// slashes, reversion, colon, "$") and edits through for__format_value or
// for__cvt_value directly into or out of the record area.
#include "format/for_fmt_xfer.h"

#include <cstring>

#include "diag/for_msgnum.h"
#include "format/for_cvt_val.h"
#include "format/for_fmt_comp.h"
#include "format/for_fmt_val.h"
#include "format/for_intrp_fmt.h"
#include "io/for_flags.h"
#include "io/for_rec.h"
#include "runtime/for_threadstor.h"
#include "runtime/for_vm.h"
#include "unformatted/for_dir_buf.h"

namespace {

bool internal(const For_Lub *lub) { return lub->lub_unit == FOR_UNIT_INTERNAL; }

// A field that cannot be edited in the record itself (a zero-width field
// before its blanks are stripped, an input field padded past the record
// end) is built here: one buffer per thread, grown up to scratch_keep and
// never shrunk, so that no ordinary item allocates. A larger field gets a
// buffer of its own for the item's length (Field_Buf), so a format from
// input cannot leave a thread holding memory it asked for once.
constexpr int64_t scratch_keep = 64 * 1024;

struct Scratch {
    char *p = nullptr;
    int64_t cap = 0;
    char *get(int64_t n) {
        if (n <= cap) return p;
        if (n > scratch_keep) return nullptr;
        int64_t want = n < 256 ? 256 : n;
        void *cell = p;
        if (for__realloc_vm(want, &cell, cap) != 0) return nullptr;
        if (!p) for__arm_thread_exit(exit, release, this);
        p = static_cast<char *>(cell);
        cap = want;
        return p;
    }
    static void release(void *self) {
        auto *s = static_cast<Scratch *>(self);
        for__free_vm(s->p);
        s->p = nullptr;
        s->cap = 0;
    }
    static For_Thread_Exit exit;
};
For_Thread_Exit Scratch::exit;
// initial-exec: used per item; the library is loaded with the program.
thread_local Scratch scratch __attribute__((tls_model("initial-exec")));

// The buffer of one field: the thread's scratch, or for a field beyond
// what the scratch keeps, an area given back when the item is done.
class Field_Buf {
  public:
    Field_Buf() = default;
    Field_Buf(const Field_Buf &) = delete;
    Field_Buf &operator=(const Field_Buf &) = delete;
    ~Field_Buf() { for__free_vm(own_); }
    char *get(int64_t n) {
        if (n <= scratch_keep) return scratch.get(n);
        void *cell = nullptr;
        if (for__get_vm(n, 0, &cell) != 0) return nullptr;
        own_ = static_cast<char *>(cell);
        return own_;
    }

  private:
    char *own_ = nullptr;
};

// The type code editing works with for one value: complex parts are reals
// of their precision; other codes that the editors do not list under their
// precision are folded into the one they stand for.
int value_type(int type) {
    switch (type) {
    case FOR_TYPE_COMPLEX8_ALT1:
    case FOR_TYPE_COMPLEX4:
    case FOR_TYPE_COMPLEX8_ALT2:
    case FOR_TYPE_REAL4_ALT: return FOR_TYPE_REAL4;
    case FOR_TYPE_COMPLEX8:
    case FOR_TYPE_COMPLEX16_ALT1:
    case FOR_TYPE_COMPLEX16_ALT2:
    case FOR_TYPE_COMPLEX16_ALT3:
    case FOR_TYPE_REAL8_ALT1:
    case FOR_TYPE_REAL8_ALT2: return FOR_TYPE_REAL8;
    case FOR_TYPE_COMPLEX16: return FOR_TYPE_REAL16;
    default: return type;
    }
}

enum class Kind { integer, logical, real, character, other };

Kind kind_of(int type) {
    if (type >= FOR_TYPE_INT1 && type <= FOR_TYPE_UINT8) return Kind::integer;
    if (type >= FOR_TYPE_LOGICAL4_ALT && type <= FOR_TYPE_LOGICAL8) return Kind::logical;
    if (type == FOR_TYPE_CHARACTER || type == 57) return Kind::character;
    if (type < for_fmt_ntypes && for__fedg_fmt_table[type].w != 0) return Kind::real;
    return Kind::other;
}

// One value as the editors see it, with the item's own type code kept for
// the default-width tables (which are indexed by it).
struct Part {
    For_Value_Info v;
    int table_type;
};

int64_t b_default(const Part &p) {
    uint16_t w = p.table_type < for_fmt_ntypes ? for__b_fmt_table[p.table_type] : 0;
    if (w == for_fmt_b_char_marker) return p.v.length * 8 > 17 ? p.v.length * 8 : 17;
    return w;
}
int64_t oz_default(const Part &p) {
    uint8_t w = p.table_type < for_fmt_ntypes ? for__oz_fmt_table[p.table_type] : 0;
    if (w == for_fmt_oz_char_marker) return p.v.length * 3 > 7 ? p.v.length * 3 : 7;
    return w;
}
int64_t i_default(const Part &p) { return p.table_type < for_fmt_ntypes ? for__i_fmt_table[p.table_type] : 0; }
const For_Fedg_Width &fedg(const Part &p) {
    static constexpr For_Fedg_Width none{};
    return p.table_type < for_fmt_ntypes ? for__fedg_fmt_table[p.table_type] : none;
}

// Bytes of the value for A editing of a non-character item.
int64_t a_default(const Part &p) {
    switch (kind_of(p.v.type)) {
    case Kind::character: return p.v.length;
    case Kind::other: return 0;
    default: return p.v.length;
    }
}

// Settles w (and d, e for reals without a width) of the current data edit
// for this value, and the mode bits editing reads. *zero: an output field
// whose width is computed (I0, F0.d, G0, ...): *work is the width it is
// formatted in before its blanks are stripped.
int resolve(For_Fmt_Isb *isb, const Part &p, bool out, bool *zero, int64_t *work) {
    const int op = isb->opcode;
    int64_t w = isb->decoded_width;
    uint16_t modes =
        isb->modes & ~(isbm::width_computed | isbm::g_no_width | isbm::any_g | isbm::d_nonzero | isbm::w_zero);
    isb->flags &= ~isbf::zero_width;
    *zero = false;
    const Kind k = kind_of(p.v.type);
    bool g = false;
    switch (op) {
    case FOR_FMT_A_NW: w = a_default(p); break;
    case FOR_FMT_AT_NW:
    case FOR_FMT_AT: w = p.v.length; break;
    case FOR_FMT_I_NW:
        w = i_default(p);
        if (w == 0) return msg::format_type_mismatch;
        break;
    case FOR_FMT_B_NW:
        w = b_default(p);
        if (w == 0) return msg::format_type_mismatch;
        break;
    case FOR_FMT_O_NW:
    case FOR_FMT_Z_NW:
        w = oz_default(p);
        if (w == 0) return msg::format_type_mismatch;
        break;
    case FOR_FMT_L_NW: w = for_fmt_l_width; break;
    case FOR_FMT_D_NW:
    case FOR_FMT_E_NW:
    case FOR_FMT_F_NW:
    case FOR_FMT_EN_NW:
    case FOR_FMT_ES_NW: {
        const For_Fedg_Width &t = fedg(p);
        if (t.w == 0) return msg::format_type_mismatch;
        w = t.w;
        isb->d = t.d;
        isb->e = t.e;
        break;
    }
    case FOR_FMT_G_NW:
        g = true;
        switch (k) {
        case Kind::integer: w = i_default(p); break;
        case Kind::logical: w = for_fmt_l_width; break;
        case Kind::character: w = p.v.length; break;
        case Kind::real: {
            const For_Fedg_Width &t = fedg(p);
            w = t.w;
            isb->d = t.d;
            isb->e = t.e;
            modes |= isbm::g_no_width;
            break;
        }
        default: return msg::format_type_mismatch;
        }
        break;
    case FOR_FMT_G:
    case FOR_FMT_GE:
        g = true;
        if (w == 0) modes |= isbm::g_no_width;
        break;
    case FOR_FMT_OM:
    case FOR_FMT_ZM:
    case FOR_FMT_BM:
        if (w != 0 && w < isb->d) w = isb->d;
        break;
    default: break;
    }
    if (g) modes |= isbm::any_g;
    if (isb->d != 0) modes |= isbm::d_nonzero;
    if (out && w == 0) {
        int64_t base = 0;
        switch (op) {
        case FOR_FMT_I:
        case FOR_FMT_IM: base = i_default(p); break;
        case FOR_FMT_B:
        case FOR_FMT_BM: base = b_default(p); break;
        case FOR_FMT_O:
        case FOR_FMT_OM:
        case FOR_FMT_Z:
        case FOR_FMT_ZM: base = oz_default(p); break;
        case FOR_FMT_F:
            base = fedg(p).f0_base ? fedg(p).f0_base + isb->d : 0;
            if (base != 0 && base < isb->d + 1) base = isb->d + 1;
            break;
        case FOR_FMT_D:
        case FOR_FMT_E:
        case FOR_FMT_EE:
        case FOR_FMT_EN:
        case FOR_FMT_ENE:
        case FOR_FMT_ES:
        case FOR_FMT_ESE:
        case FOR_FMT_EX:
            base = fedg(p).w;
            if (base != 0 && base < isb->d + 7) base = isb->d + 7;
            break;
        case FOR_FMT_G:
        case FOR_FMT_GE:
            switch (k) {
            case Kind::integer: base = i_default(p); break;
            case Kind::logical: base = 1; break;
            case Kind::character: base = p.v.length; break;
            case Kind::real:
                // G0 without .d takes the type's default digits.
                if (isb->d == 0) {
                    isb->d = fedg(p).d;
                    modes |= isbm::d_nonzero;
                }
                base = fedg(p).w;
                if (base < isb->d + 6) base = isb->d + 6;
                break;
            default: return msg::format_type_mismatch;
            }
            break;
        default: break;  // A0 and the like: an empty field
        }
        if (base > 0) {
            if (base < isb->d + 1) base = isb->d + 1;
            *zero = true;
            *work = base;
            modes |= isbm::width_computed | isbm::w_zero;
            isb->flags |= isbf::zero_width;
        }
    }
    isb->modes = modes;
    isb->w = w;
    return 0;
}

// -- Records -------------------------------------------------------------

template <bool Out>
int next_record(For_Lub *lub) {
    int s = lub->lub_stmt.direct ? for__dir_next_record(lub, Out) : Out ? for__put_sf(lub) : for__get_s(lub);
    lub->lub_stmt.tab_base = 0;  // a record of the statement's own
    // A slash or reversion that leaves the last record of an internal file
    // has no record to go to: the statement ends there, rather than after
    // every further advance into nothing.
    if (Out && s == 0 && internal(lub) && lub->lub_rec_start >= lub->lub_ifile_end) return msg::internal_file_overflow;
    return s;
}

template <bool Out>
int literal(For_Lub *lub, For_Fmt_Isb *isb) {
    const int64_t n = isb->w;
    if constexpr (Out) {
        return for__rec_put(lub, {isb->literal, static_cast<size_t>(n)});
    } else {
        // Input replaces the literal's characters with the record's, which
        // only a format of the statement's own may receive; a format of
        // the program or of the cache is left as it is and the characters
        // are passed over.
        char *p = lub->lub_buf_ptr;
        if (isb->flags & isbf::format_owned) {
            char *lit = const_cast<char *>(isb->literal);
            const int64_t avail = lub->lub_buf_limit > p ? lub->lub_buf_limit - p : 0;
            const int64_t take = avail < n ? avail : n;
            std::memcpy(lit, p, static_cast<size_t>(take));
            std::memset(lit + take, ' ', static_cast<size_t>(n - take));
        }
        lub->lub_buf_ptr = p + n;
        return 0;
    }
}

// A literal or a slash met on the way to the next data edit or to the end
// of the list: the literal is written (on input the record's characters
// take its place), each slash ends a record. ("$" and a colon with items
// left are the interpreter's own.)
template <bool Out>
int between_items(For_Lub *lub, For_Fmt_Isb *isb) {
    if (isb->opcode == FOR_FMT_LITERAL) return literal<Out>(lub, isb);
    for (int64_t i = 0; i < isb->repeat; ++i)
        if (int s = next_record<Out>(lub)) return s;
    isb->repeat = 0;
    return 0;
}

// Drives the interpreter to the next data edit (or Q) for a list element,
// carrying out literals, slashes, "$" and reversion on the way.
template <bool Out>
int next_data(For_Lub *lub, For_Fmt_Isb *isb) {
    for (;;) {
        if (int s = for__interp_fmt(lub)) return s;
        switch (isb->opcode) {
        case FOR_FMT_FORMAT_END:
            // Reversion: the group it returns to must hold a data edit.
            if (!(isb->flags & isbf::data_since_reversion)) return msg::no_data_edit_descriptor;
            if (int s = next_record<Out>(lub)) return s;
            continue;
        case FOR_FMT_LITERAL:
        case FOR_FMT_SLASH:
            if (int s = between_items<Out>(lub, isb)) return s;
            continue;
        case FOR_FMT_DT: return msg::format_type_mismatch;  // only a derived-type item takes DT
        default: return 0;
        }
    }
}

// The list has ended: what follows the last data edit up to the next data
// edit, colon or format end still happens (trailing literals, slashes).
template <bool Out>
int drain(For_Lub *lub, For_Fmt_Isb *isb) {
    if (isb->repeat >= 2) return 0;  // the current edit still has repeats
    isb->flags |= isbf::end_of_list;
    for (;;) {
        if (int s = for__interp_fmt(lub)) return s;
        switch (isb->opcode) {
        case FOR_FMT_LITERAL:
        case FOR_FMT_SLASH:
            if (int s = between_items<Out>(lub, isb)) return s;
            continue;
        default: return 0;
        }
    }
}

// -- Editing one value ---------------------------------------------------

// A zero-width field: formatted in its working width, then its leading
// blanks removed and an infinity shortened, before it enters the record.
int put_zero_width(For_Lub *lub, For_Fmt_Isb *isb, const Part &p, int64_t work) {
    // F0.d lets the converter size the text itself (it lays it out from
    // the left and ends it there), so that no scale factor or magnitude
    // can make it overflow into asterisks; the buffer leaves room for the
    // largest scale factor.
    const bool computed = isb->opcode == FOR_FMT_F && kind_of(p.v.type) == Kind::real;
    if (computed) work += 160;
    Field_Buf buf;
    char *f = buf.get(work);
    if (!f) return msg::no_memory;
    std::memset(f, computed ? '\0' : ' ', static_cast<size_t>(work));
    isb->w = computed ? 0 : work;
    int s = for__format_value(&p.v, isb, f);
    isb->w = 0;
    if (s != 0 && s != msg::output_conversion) return s;
    if (s == msg::output_conversion) isb->deferred_warning = msg::output_conversion;
    if (computed) {
        const void *end = std::memchr(f, '\0', static_cast<size_t>(work));
        if (end) work = static_cast<const char *>(end) - f;
    }
    int64_t i = 0;
    while (i < work && f[i] == ' ') ++i;
    const char *t = f + i;
    int64_t n = work - i;
    if (n == 0) return isb->d != 0 ? 0 : for__rec_put(lub, " ");
    int64_t sign = (t[0] == '+' || t[0] == '-') ? 1 : 0;
    if (n - sign >= 8 && std::memcmp(t + sign, "Infinity", 8) == 0) n = sign + 3;
    return for__rec_put(lub, {t, static_cast<size_t>(n)});
}

int put_value(For_Lub *lub, For_Fmt_Isb *isb, const Part &p) {
    bool zero = false;
    int64_t work = 0;
    if (int s = resolve(isb, p, true, &zero, &work)) return s;
    if (zero) return put_zero_width(lub, isb, p, work);
    const int op = isb->opcode;
    const bool trimmed = op == FOR_FMT_AT || op == FOR_FMT_AT_NW;
    const int64_t w = isb->w;
    if (int s = for__rec_room(lub, static_cast<uint64_t>(w))) return s;
    char *f = lub->lub_buf_ptr;
    if (!trimmed) std::memset(f, ' ', static_cast<size_t>(w));
    int s = for__format_value(&p.v, isb, f);
    if (s == msg::output_conversion) {
        isb->deferred_warning = msg::output_conversion;
        s = 0;
    }
    if (s != 0) return s;
    lub->lub_buf_ptr = f + (trimmed ? isb->w : w);
    for__rec_mark(lub);
    return 0;
}

int get_value(For_Lub *lub, For_Fmt_Isb *isb, const Part &p) {
    bool zero = false;
    int64_t work = 0;
    if (int s = resolve(isb, p, false, &zero, &work)) return s;
    char *ptr = lub->lub_buf_ptr;
    const int64_t avail = lub->lub_buf_limit > ptr ? lub->lub_buf_limit - ptr : 0;
    if (isb->opcode == FOR_FMT_Q) {
        if (kind_of(p.v.type) != Kind::integer) return msg::format_type_mismatch;
        const int64_t left = avail;
        std::memcpy(p.v.address, &left, static_cast<size_t>(p.v.length > 8 ? 8 : p.v.length));
        return 0;
    }
    const int64_t w = isb->w;
    if (avail >= w) {
        lub->lub_buf_ptr = ptr + w;
        lub->lub_stmt.add_size(w);
        return for__cvt_value(isb, ptr, &p.v);
    }
    // The record ends inside the field.
    const bool advancing = !lub->lub_stmt.nonadvancing;
    lub->lub_buf_ptr = ptr + avail;
    lub->lub_stmt.add_size(avail);
    if (!(lub->lub_flags & lubf::pad)) return advancing ? msg::input_too_much_data : msg::eor_during_read;
    const int op = isb->opcode;
    const bool char_item = kind_of(p.v.type) == Kind::character;
    // Editing that takes characters: A, and G for a character item.
    const bool takes_chars = op == FOR_FMT_A || op == FOR_FMT_A_NW ||
                             (char_item && (op == FOR_FMT_G || op == FOR_FMT_G_NW || op == FOR_FMT_GE));
    int s;
    if (!takes_chars) {
        // A number ends where the record does: the blanks that padding
        // supplies are not digits, not even under BZ, and a field with no
        // character left is one blank, however wide it was written. (B, O
        // and Z into a character item are numbers here too.)
        isb->w = avail > 0 ? avail : 1;
        s = for__cvt_value(isb, avail > 0 ? ptr : " ", &p.v);
    } else {
        // A character value takes at most its own length from the right
        // end of the field, so only that tail is built: the record's
        // characters that reach into it, then the padding blanks. A field
        // written wider than the record never costs more than the item.
        // (The compatibility mode that reads logicals under I takes the
        // left end instead.)
        const int64_t len = p.v.length > 0 ? p.v.length : 0;
        const int64_t tail = w < len ? w : len;
        const int64_t from = (isb->flags & isbf::compat_logical_i) ? 0 : w - tail;
        const int64_t real = avail > from ? avail - from : 0;
        Field_Buf buf;
        char *f = buf.get(tail > 0 ? tail : 1);
        if (!f) return msg::no_memory;
        if (real > 0) std::memcpy(f, ptr + from, static_cast<size_t>(real));
        std::memset(f + real, ' ', static_cast<size_t>(tail - real));
        isb->w = tail;
        s = for__cvt_value(isb, f, &p.v);
    }
    if (s != 0) return s;
    return advancing ? 0 : msg::eor_during_read;
}

template <bool Out>
int value(For_Lub *lub, For_Fmt_Isb *isb, const Part &p) {
    if (isb->repeat >= 2) {
        --isb->repeat;
    } else if (int s = next_data<Out>(lub, isb)) {
        return s;
    }
    if constexpr (Out) {
        if (isb->opcode == FOR_FMT_Q) return 0;  // Q reads; on output it takes the item silently
        return put_value(lub, isb, p);
    } else {
        return get_value(lub, isb, p);
    }
}

// -- The statement -------------------------------------------------------

// Every status that ends the statement passes here first: an internal
// file gets the name its messages carry.
int ending(For_Lub *lub, int s, bool out) {
    if (s == msg::eor_during_read) {
        // After an end of record the next statement starts a new record.
        lub->lub_flags &= ~lubf::partial_record;
    }
    if (internal(lub) && !lub->lub_file_name) {
        const char *name = out ? for_ifile_write_name : for_ifile_read_name;
        size_t n = std::strlen(name);
        void *p = nullptr;
        if (for__get_vm(static_cast<int64_t>(n + 1), 0, &p) == 0) {
            std::memcpy(p, name, n + 1);
            lub->lub_file_name = static_cast<char *>(p);
            lub->lub_file_name_len = static_cast<int16_t>(n);
        }
    }
    return s;
}

template <bool Out>
struct Fmt_Xfer {
    int item(For_Lub *lub, const For_Item &item, const For_Shape &shape) {
        For_Fmt_Isb *isb = &lub->lub_stmt.xfer.formatted();
        if (item.type >= FOR_TYPE_DERIVED_UDIO && item.type <= FOR_TYPE_DERIVED_67)
            return ending(lub, msg::format_type_mismatch, Out);
        const int vt = value_type(item.type);
        const bool cplx = for__type_is_complex(item.type);
        const int64_t part_len = kind_of(vt) == Kind::character ? item.elem_len : item.elem_size;
        int s = for__each_element(item, shape, [&](char *p) {
            Part part{{p, vt, part_len}, item.type};
            if (int r = value<Out>(lub, isb, part)) return r;
            if (!cplx) return 0;
            part.v.address = p + item.elem_size;
            return value<Out>(lub, isb, part);
        });
        return s ? ending(lub, s, Out) : 0;
    }
    int finish(For_Lub *lub) {
        For_Fmt_Isb *isb = &lub->lub_stmt.xfer.formatted();
        int s = drain<Out>(lub, isb);
        if (s == 0) {
            if constexpr (Out) {
                if (lub->lub_stmt.direct) {
                    s = for__dir_finish(lub, true);
                } else {
                    if (isb->flags & isbf::suppress_terminator) lub->lub_flags |= lubf::no_terminator;
                    s = for__end_output(lub);
                }
                if (s == 0 && isb->deferred_warning) s = static_cast<int>(isb->deferred_warning);
            } else {
                s = lub->lub_stmt.direct ? for__dir_finish(lub, false) : for__end_input(lub);
            }
        }
        return s != 0 ? ending(lub, s, Out) : 0;
    }
};

// The first item of an internal statement is the file.
int internal_file(For_Lub *lub, const For_Dsc_Lst **dsc, const For_Value_List **val, bool out) {
    For_Item it;
    For_Shape sh;
    if (int s = for__desc_ret_item(dsc, val, &it, &sh)) return s;
    return for__ifile_from_item(lub, it, sh, out);
}

}  // namespace

template <bool Out>
int for__fmt_entry(const For_Stmt_Kind &kind, const For_Stmt &st, const void *fmt, const For_Dsc_Lst *dsc,
                   const For_Value_List *val, int64_t rec) {
    For_Lub *lub = nullptr;
    int r = for__stmt_begin(kind, st, &lub);
    if (!lub) return r;
    const For_IO_Flags f = for__effective_flags(st.flags);
    int s = 0;
    if (kind.internal) s = internal_file(lub, &dsc, &val, Out);
    if (s == 0) {
        const bool handled = (f & (iof_err | iof_iostat)) != 0;
        s = for__fmt_stmt_start(lub, fmt, (f & iof_fmt_text) != 0, !handled);
        if (s == 0 && !Out) lub->lub_stmt.xfer.formatted().flags |= isbf::input;
    }
    if (s == 0) {
        if (kind.direct) {
            const For_Dir_Start how = !Out                        ? For_Dir_Start::read
                                      : kind.op == FOR_OP_REWRITE ? For_Dir_Start::rewrite
                                                                  : For_Dir_Start::write;
            s = for__dir_begin(lub, rec, how);
        } else {
            s = Out ? for__begin_output(lub) : for__begin_input(lub);
        }
    }
    if (s != 0) return for__stmt_fail(lub, ending(lub, s, Out));
    // Tab positions count from where this statement begins on its record.
    lub->lub_stmt.tab_base = static_cast<uint64_t>(lub->lub_buf_ptr - lub->lub_rec_start);
    if (!Out) lub->lub_stmt.clear_size();
    return for__stmt_transfer(st.ctx, dsc, val, Fmt_Xfer<Out>{});
}

template <bool Out>
int for__fmt_xmit(For_Context *ctx, const For_Dsc_Lst *dsc, const For_Value_List *val) {
    return for__stmt_transfer(ctx, dsc, val, Fmt_Xfer<Out>{});
}

template int for__fmt_entry<true>(const For_Stmt_Kind &, const For_Stmt &, const void *, const For_Dsc_Lst *,
                                  const For_Value_List *, int64_t);
template int for__fmt_entry<false>(const For_Stmt_Kind &, const For_Stmt &, const void *, const For_Dsc_Lst *,
                                   const For_Value_List *, int64_t);
template int for__fmt_xmit<true>(For_Context *, const For_Dsc_Lst *, const For_Value_List *);
template int for__fmt_xmit<false>(For_Context *, const For_Dsc_Lst *, const For_Value_List *);
