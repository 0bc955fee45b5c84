// List-directed WRITE and PRINT on external units and internal files.
#include <cstring>
#include <string_view>

#include <vorlix/cvt.h>
#include <vorlix/format.h>
#include <vorlix/io.h>

#include "diag/for_diag.h"
#include "diag/for_msgnum.h"
#include "format/for_fmt_isb.h"
#include "format/for_fmt_val.h"
#include "io/for_rec.h"
#include "io/for_stmt.h"
#include "listdir/for_ldir_out.h"
#include "units/for_lub_mgt.h"
#include "runtime/for_vm.h"
#include "units/for_open.h"

For_Wfs for__wfs(int type, bool alt) {
    constexpr uint8_t I = FOR_FMT_I, L = FOR_FMT_L, G = FOR_FMT_GE, A = FOR_FMT_A;
    switch (type) {
    case 5:
    case 6: return {static_cast<uint8_t>(alt ? 12 : 5), 0, 0, I};
    case 7:
    case 8: return {static_cast<uint8_t>(alt ? 12 : 7), 0, 0, I};
    case 9:
    case 10: return {12, 0, 0, I};
    case 11:
    case 12: return {22, 0, 0, I};
    case 13:
    case 14:
    case 15:
    case 16:
    case 17: return {2, 0, 0, L};
    case 25: return {15, 7, 2, G};
    case 26: return alt ? For_Wfs{16, 6, 2, G} : For_Wfs{15, 7, 2, G};
    case 27: return {15, 7, 2, G};
    case 28:
    case 30:
    case 31: return {14, 7, 2, G};
    case 29: return alt ? For_Wfs{16, 6, 2, G} : For_Wfs{14, 7, 2, G};
    case 40: return alt ? For_Wfs{25, 15, 3, G} : For_Wfs{23, 15, 3, G};
    case 41:
    case 52: return {42, 33, 4, G};
    case 42: return {23, 16, 2, G};
    case 43: return {23, 15, 3, G};
    case 44: return {23, 16, 3, G};
    case 45: return {24, 16, 2, G};
    case 46: return {24, 15, 3, G};
    case 47:
    case 49:
    case 50:
    case 51: return {43, 33, 4, G};
    case 48: return alt ? For_Wfs{25, 15, 3, G} : For_Wfs{24, 15, 3, G};
    case 56:
    case 57: return {255, 0, 0, A};
    default: return {0, 0, 0, 0};
    }
}

int64_t ensure_one_leading_blank_before_data(char *field, int64_t w) {
    int64_t k = 0;
    while (k < w && field[k] == ' ') ++k;
    if (k == w || k == 1) return w;
    if (k == 0) {
        std::memmove(field + 1, field, static_cast<size_t>(w));
        field[0] = ' ';
        return w + 1;
    }
    int64_t text = w - k;
    std::memmove(field + 1, field + k, static_cast<size_t>(text));
    std::memset(field + 1 + text, ' ', static_cast<size_t>(k - 1));
    return text + 1;
}

namespace {

bool is_complex(int t) { return for__type_is_complex(t); }

int64_t signed_value(const unsigned char *v, int type) {
    switch (type) {
    case FOR_TYPE_INT1: return static_cast<int8_t>(v[0]);
    case FOR_TYPE_INT2: {
        int16_t x;
        std::memcpy(&x, v, 2);
        return x;
    }
    case FOR_TYPE_INT4: {
        int32_t x;
        std::memcpy(&x, v, 4);
        return x;
    }
    default: {
        int64_t x;
        std::memcpy(&x, v, 8);
        return x;
    }
    }
}

For_Round rounding_of(const For_Lub *lub) {
    return lub->lub_round >= 1 && lub->lub_round <= 6 ? static_cast<For_Round>(lub->lub_round) : For_Round::none;
}
uint32_t sign_of(const For_Lub *lub) {
    switch (lub->lub_sign) {
    case FOR_SIGN_PLUS: return isbf::sign_sp;
    case FOR_SIGN_SUPPRESS: return isbf::sign_ss;
    default: return isbf::sign_s;
    }
}

// One list-directed output statement at work: the transfer call's view of
// the unit, its record and the statement's state.
class Ldir_Writer {
  public:
    explicit Ldir_Writer(For_Lub *lub) : lub_(lub), st_(&lub->lub_stmt.xfer.ldir_out()) {
        alt_ = lub->lub_flags & lubf::opt_alt_list;
        fortran_cc_ = static_cast<For_Cc>(lub->lub_carriage_control) == For_Cc::fortran;
        std::memset(&isb_, 0, sizeof isb_);
        isb_.unit = lub;
        isb_.rounding = rounding_of(lub);
        isb_.flags = sign_of(lub);
        sign_plus_ = isb_.flags == isbf::sign_sp ? CVT_INT_PLUS : 0;
    }

    int item(For_Lub *, const For_Item &item, const For_Shape &shape) {
        if (st_->internal && item.addr && static_cast<char *>(item.addr) < st_->self_end &&
            static_cast<char *>(item.addr) + item.length > st_->self_begin)
            for__issue_diagnostic(msg::internal_file_write_self_undefined, 0);  // a warning: the write goes on
        const int type = item.type;
        if (type == FOR_TYPE_DERIVED_UDIO) return msg::invalid_argument;
        For_Wfs f = for__wfs(type, alt_);
        if (f.w == 0) return msg::invalid_argument;
        switch (type) {
        case 27:
        case 30:
        case 41:
        case 47:
        case 49:
        case 51:
        case 57: return msg::write_error;
        default: break;
        }
        const bool cplx = is_complex(type);
        return for__each_element(item, shape, [&](char *p) {
            int s;
            if (type == FOR_TYPE_CHARACTER)
                s = character(p, item.elem_len);
            else if (cplx)
                s = complex(p, type, f, item.elem_size);
            else
                s = number(p, type, f, item.elem_len);
            if (s == msg::output_conversion) {
                if (!(lub_->lub_flags & lubf::cvterr_quiet)) st_->pending = msg::output_conversion;
                s = 0;
            }
            if (s == 0) {
                st_->at_record_start = 0;
                st_->prev_type = type;
            }
            return s;
        });
    }

    // The end of the statement: an empty statement still writes a record
    // holding one blank.
    int finish(For_Lub *) {
        lub_->lub_ldir_count = 0;
        if (lub_->lub_udio_depth == 0) {
            if (st_->at_record_start && lub_->lub_buf_ptr == lub_->lub_rec_start) {
                if (int s = put(" ")) return s;
            }
            if (int s = for__end_output(lub_)) return s;
        }
        return st_->pending;
    }

  private:
    int64_t used() const { return lub_->lub_buf_ptr - lub_->lub_rec_start - st_->line_base; }
    int64_t line() const {
        int64_t l = static_cast<int64_t>(lub_->lub_ldir_line_len);
        return fortran_cc_ ? l - 1 : l;
    }
    int64_t room() const { return line() - used(); }

    int put(std::string_view text) { return for__rec_put(lub_, text); }

    // Ends the record and starts the next. On a stream connection the
    // output simply continues on the same line: only the count of the room
    // starts again.
    int wrap() {
        st_->at_record_start = 1;
        if (lub_->lub_flags & lubf::access_stream) {
            st_->line_base = lub_->lub_buf_ptr - lub_->lub_rec_start;
            return 0;
        }
        st_->line_base = 0;
        return for__put_sf(lub_);
    }

    int edit(const void *value, int type, const For_Wfs &f, int64_t len, char *field) {
        isb_.opcode = f.op;
        isb_.w = f.w;
        isb_.d = f.d;
        isb_.e = f.e;
        For_Value_Info v{const_cast<void *>(value), type, len};
        return for__format_value(&v, &isb_, field);
    }

    int number(const char *p, int type, const For_Wfs &f, int64_t len) {
        // Values come from value slots too, which are only 8-byte aligned.
        alignas(16) unsigned char value[16];
        std::memcpy(value, p, static_cast<size_t>(len < 16 ? len : 16));
        const bool integer = type >= 5 && type <= 12;
        if (integer && (lub_->lub_stmt_flags & lubs::compact_int)) st_->compact = 1;
        if (room() < f.w && used() > 0) {
            if (int s = wrap()) return s;
        }
        if (int s = for__rec_room(lub_, f.w + 1)) return s;
        char *field = lub_->lub_buf_ptr;
        // Signed integers are the commonest items: straight to their
        // converter, without the general dispatch of editing.
        int s = integer && (type & 1) ? cvt_integer64_to_text(signed_value(value, type), f.w, 1, sign_plus_, field)
                                      : edit(value, type, f, len, field);
        if (s != 0 && s != msg::output_conversion) return s;
        int64_t advance = f.w;
        if (st_->compact && integer) advance = ensure_one_leading_blank_before_data(field, f.w);
        lub_->lub_buf_ptr += advance;
        for__rec_mark(lub_);
        return s;
    }

    // Edits one part of a complex value into `scratch`, without its blanks.
    int part(const unsigned char *value, int type, const For_Wfs &f, int64_t len, char (&scratch)[64],
             std::string_view *out) {
        std::memset(scratch, ' ', sizeof scratch);
        int s = edit(value, type, f, len, scratch);
        std::string_view t(scratch, static_cast<size_t>(f.w));
        while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
        while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
        *out = t;
        return s;
    }

    // The value is built in place, as the statement writes it: "(" real
    // part, separator, imaginary part ")". No allocation: a statement that
    // runs out of memory elsewhere still writes its complex values.
    int complex(const char *p, int type, const For_Wfs &f, int64_t part_len) {
        alignas(16) unsigned char re[16], im[16];
        std::memcpy(re, p, static_cast<size_t>(part_len));
        std::memcpy(im, p + part_len, static_cast<size_t>(part_len));
        char sa[64], sb[64];
        std::string_view a, b;
        int s1 = part(re, type, f, part_len, sa, &a);
        int s2 = part(im, type, f, part_len, sb, &b);
        for (int s : {s1, s2})
            if (s != 0 && s != msg::output_conversion) return s;
        const char sep = lub_->lub_decimal == FOR_DECIMAL_COMMA ? ';' : ',';
        size_t lead = 1;
        int64_t whole = static_cast<int64_t>(a.size() + b.size()) + 3;
        if (alt_ && whole < 2 * f.w + 4) lead = static_cast<size_t>(2 * f.w + 4 - whole);
        // The parts are at most 64 characters each, so the lead is at most 132.
        char text[2 * sizeof sa + 2 * sizeof sa + 8];
        size_t n = 0;
        std::memset(text, ' ', lead);
        n = lead;
        text[n++] = '(';
        std::memcpy(text + n, a.data(), a.size());
        n += a.size();
        text[n++] = sep;
        const std::string_view first(text, n);
        std::memcpy(text + n, b.data(), b.size());
        n += b.size();
        text[n++] = ')';
        const std::string_view second(text + first.size(), n - first.size());
        int64_t total = static_cast<int64_t>(n);
        if (total > room() && used() > 0) {
            if (total <= line()) {
                if (int s = wrap()) return s;
            }
        }
        if (total <= room()) {
            if (int s = put(std::string_view(text, n))) return s;
        } else {
            // Too long for any record: split after the separator.
            if (int s = put(first)) return s;
            if (int s = wrap()) return s;
            if (int s = put(" ")) return s;
            if (int s = put(second)) return s;
        }
        return s1 ? s1 : s2;
    }

    int character(const char *p, int64_t len) {
        std::string_view text(p, static_cast<size_t>(len));
        // The delimited text's storage, given back on every way out; a
        // failure to get it is the statement's (41), never an exception.
        struct Area {
            void *p = nullptr;
            ~Area() { for__free_vm(p); }
        } delimited;
        const char delim = static_cast<char>(lub_->lub_delim);
        const bool blank_first = st_->at_record_start ||
                                 (!(lub_->lub_flags & lubf::opt_no_char_blank) && st_->prev_type != FOR_TYPE_CHARACTER);
        if ((lub_->lub_flags & lubf::opt_f90) && delim) {
            // Delimited: a blank sets it apart from what came before (or
            // opens the record), and the delimiter is doubled inside, so
            // the value reads back.
            if (int s = for__get_vm(2 * len + 3, 0, &delimited.p)) return s;
            char *d = static_cast<char *>(delimited.p);
            size_t n = 0;
            d[n++] = ' ';
            d[n++] = delim;
            for (char c : text) {
                d[n++] = c;
                if (c == delim) d[n++] = delim;
            }
            d[n++] = delim;
            text = std::string_view(d, n);
        } else if (blank_first) {
            if (room() < 1 && used() > 0) {
                if (int s = wrap()) return s;
            }
            if (int s = put(" ")) return s;
        }
        if (static_cast<int64_t>(text.size()) > room() && used() > (st_->at_record_start ? 1 : 0) && !alt_ &&
            static_cast<int64_t>(text.size()) <= line()) {
            if (int s = wrap()) return s;
            if (int s = put(" ")) return s;
        }
        while (!text.empty()) {
            int64_t r = room();
            if (r <= 0) {
                if (line() < 2 && used() > 0 && lub_->lub_udio_depth == 0 && !(lub_->lub_flags & lubf::recl_defaulted))
                    return msg::output_overflows_record;
                if (int s = wrap()) return s;
                if (int s = put(" ")) return s;
                r = room();
                if (r <= 0) return msg::output_overflows_record;
            }
            size_t n = static_cast<size_t>(r) < text.size() ? static_cast<size_t>(r) : text.size();
            if (int s = put(text.substr(0, n))) return s;
            text.remove_prefix(n);
        }
        return 0;
    }

    For_Lub *lub_;
    For_Ldir_Out_State *st_;
    For_Fmt_Isb isb_;
    bool alt_;
    bool fortran_cc_;
    uint32_t sign_plus_;
};

// What the entries add to the frame: the state, the line length and the
// record area.
int start(For_Lub *lub, bool internal) {
    if ((lub->lub_flags & lubf::no_wrap_margin) || (lub->lub_stmt_flags & lubs::no_wrap_margin)) {
        lub->lub_rec_len = lub->lub_buf_size;
        lub->lub_ldir_line_len = lub->lub_buf_size;
    }
    // A child statement of defined output continues its parent's line.
    For_Ldir_Out_State *st =
        lub->lub_udio_depth == 0 ? &lub->lub_stmt.xfer.begin_ldir_out() : &lub->lub_stmt.xfer.ldir_out();
    if (lub->lub_udio_depth == 0) st->at_record_start = 1;
    st->internal = internal;
    if (static_cast<For_Rec_Type>(lub->lub_record_type) == For_Rec_Type::segmented)
        return msg::inconsistent_record_type;
    return internal ? 0 : for__begin_output(lub);
}

const For_Stmt_Kind seq_kind{.op = FOR_OP_WRITE_SEQ,
                             .output = true,
                             .formatted = true,
                             .internal = false,
                             .module = "for_wseq_lis",
                             .access = 1,
                             .status = 4,
                             .form = 1,
                             .connect = for__open_default};
const For_Stmt_Kind int_kind{.op = FOR_OP_WRITE,
                             .output = true,
                             .formatted = true,
                             .internal = true,
                             .module = "for_wint_lis",
                             .access = 1,
                             .status = 4,
                             .form = 1,
                             .connect = nullptr};

constexpr char internal_name[] = "Internal List-Directed Write";

}  // namespace

VORLIX_API int for_write_seq_lis(For_Context *ctx, int unit, For_IO_Flags flags, const For_Dsc_Lst *dsc,
                                 const For_Value_List *val, const For_Dsc_Lst *cdsc, const For_Value_List *cval) {
    For_Lub *lub = nullptr;
    int r = for__stmt_begin(seq_kind, {ctx, unit, flags, cdsc, cval}, &lub);
    if (!lub) return r;
    if (int s = start(lub, lub->lub_unit == FOR_UNIT_INTERNAL)) return for__stmt_fail(lub, s);
    return for__stmt_transfer(ctx, dsc, val, Ldir_Writer(lub));
}

VORLIX_API int for_write_seq_lis_xmit(For_Context *ctx, const For_Dsc_Lst *dsc, const For_Value_List *val) {
    For_Lub *lub = ctx ? static_cast<For_Lub *>(ctx->lub) : nullptr;
    if (!lub) return 0;
    return for__stmt_transfer(ctx, dsc, val, Ldir_Writer(lub));
}

VORLIX_API int for_write_int_lis(For_Context *ctx, For_IO_Flags flags, const For_Dsc_Lst *dsc,
                                 const For_Value_List *val, const For_Dsc_Lst *cdsc, const For_Value_List *cval) {
    For_Lub *lub = nullptr;
    int r = for__stmt_begin(int_kind, {ctx, FOR_UNIT_INTERNAL, flags, cdsc, cval}, &lub);
    if (!lub) return r;
    // The first item is the internal file.
    For_Item file;
    For_Shape shape;
    if (int s = for__desc_ret_item(&dsc, &val, &file, &shape)) return for__stmt_fail(lub, s);
    if (int s = for__ifile_from_item(lub, file, shape, true)) return for__stmt_fail(lub, s);
    lub->lub_file_name = static_cast<char *>(nullptr);
    const uint64_t elen = static_cast<uint64_t>(file.elem_len);
    // Messages name the internal file by what it is.
    void *name = nullptr;
    if (for__get_vm(sizeof internal_name, 0, &name) == 0) {
        std::memcpy(name, internal_name, sizeof internal_name);
        lub->lub_file_name = static_cast<char *>(name);
        lub->lub_file_name_len = sizeof internal_name - 1;
    }
    lub->lub_ldir_line_len = elen;
    if (int s = start(lub, true)) return for__stmt_fail(lub, s);
    For_Ldir_Out_State *st = &lub->lub_stmt.xfer.ldir_out();
    st->self_begin = static_cast<char *>(file.addr);
    st->self_end = st->self_begin + file.length;
    return for__stmt_transfer(ctx, dsc, val, Ldir_Writer(lub));
}

VORLIX_API int for_write_int_lis_xmit(For_Context *ctx, const For_Dsc_Lst *dsc, const For_Value_List *val) {
    return for_write_seq_lis_xmit(ctx, dsc, val);
}
