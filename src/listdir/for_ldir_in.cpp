// List-directed input: scanning values out of the records (separators,
// null values, repeat counts, the slash, delimited character values that
// span records, complex pairs) and storing each into the next element of
// the I/O list by the element's type. The record layer supplies records
// (for__get_s), so internal files and external units scan alike; the
// conversion library turns the text of a value into binary.
#include "listdir/for_ldir_in.h"

#include <vorlix/cvt.h>

#include <climits>
#include <cstring>

#include "diag/for_msgnum.h"
#include "io/for_rec.h"
#include "runtime/for_vm.h"
#include "units/for_lub.h"

namespace {

using St = For_Ldir_In_State;
using Cls = For_Ldir_Class;

// for__each_element stops at a non-zero status; a slash stops it too, but
// is no failure.
constexpr int stop_at_slash = -1;

St &state_of(For_Lub *lub) { return lub->lub_stmt.xfer.ldir_in(); }

// Record ends, line feeds inside a record and carriage returns left by
// files written elsewhere separate values as blanks do.
bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// What may follow a whole value.
bool ends_value(const St &st, char c) { return is_blank(c) || c == st.sep || c == '/'; }

bool is_digit(char c) { return c >= '0' && c <= '9'; }

constexpr bool is_integer(int t) { return t >= FOR_TYPE_INT1 && t <= FOR_TYPE_UINT8; }
constexpr bool is_unsigned(int t) { return is_integer(t) && t % 2 == 0; }
constexpr bool is_logical(int t) { return t >= FOR_TYPE_LOGICAL4_ALT && t <= FOR_TYPE_LOGICAL8; }
constexpr bool is_real(int t) {
    return t == FOR_TYPE_REAL4_ALT || t == FOR_TYPE_REAL4 || t == FOR_TYPE_REAL8_ALT1 || t == FOR_TYPE_REAL8_ALT2 ||
           t == FOR_TYPE_REAL8 || t == FOR_TYPE_REAL16;
}

// Room for n bytes of copied text. The field pointer is set only after a
// copy is complete, so a move of the area cannot leave it dangling.
int reserve(St &st, uint64_t n) {
    if (n <= st.text_cap) return 0;
    uint64_t cap = st.text_cap ? st.text_cap : 128;
    while (cap < n) cap *= 2;
    void *cell = st.text;
    if (for__realloc_vm(static_cast<int64_t>(cap), &cell, static_cast<int64_t>(st.text_cap))) return msg::no_memory;
    st.text = static_cast<char *>(cell);
    st.text_cap = cap;
    return 0;
}

int append(St &st, uint64_t *n, const char *from, uint64_t len) {
    if (len == 0) return 0;
    if (int s = reserve(st, *n + len)) return s;
    std::memcpy(st.text + *n, from, len);
    *n += len;
    return 0;
}

// Moves past blanks, reading records as needed; a failure of the record
// layer (24 at end of file) ends the statement. Before the first value of
// the statement, a record end already separates: a comma that opens the
// next record is not a null value then.
int skip_blanks(St &st, For_Lub *lub) {
    for (;;) {
        char *p = lub->lub_buf_ptr, *end = lub->lub_buf_limit;
        while (p < end && is_blank(*p)) ++p;
        lub->lub_buf_ptr = p;
        if (p < end) return 0;
        if (int s = for__get_s(lub)) return s;
        if (!(st.flags & ldf::started)) st.flags |= ldf::need_sep;
    }
}

// The longest prefix of [p, end) that the number lexer takes, and whether
// that prefix is a whole number.
const char *lex_number(const char *p, const char *end, char point, bool *complete) {
    uint32_t s = static_cast<uint32_t>(static_cast<unsigned char>(point)) << 12;
    while (p < end && cvt__lex_number_char(&s, static_cast<unsigned char>(*p))) ++p;
    *complete = cvt__lex_number_complete(&s) != 0;
    return p;
}

// A number where a repeat count would stand ("-2*", "1.5*"): only unsigned
// digits count.
int bad_repeat(const char *p) { return *p == '-' ? msg::repeat_not_unsigned : msg::input_conversion; }

int scan_number(St &st, For_Lub *lub) {
    const char *p = lub->lub_buf_ptr, *end = lub->lub_buf_limit;
    bool complete = false;
    const char *q = lex_number(p, end, st.point, &complete);
    if (q < end) {
        if (*q == '*') return bad_repeat(p);
        if (!ends_value(st, *q) && *q != ')') return msg::list_syntax;
    }
    if (!complete) return msg::list_syntax;
    st.field = p;
    st.field_len = q - p;
    st.cls = Cls::number;
    lub->lub_buf_ptr = const_cast<char *>(q);
    return 0;
}

// T, F, .T, .F and the rest of the word ("true", ".false.").
int scan_logical(St &st, For_Lub *lub) {
    char *p = lub->lub_buf_ptr, *q = p, *end = lub->lub_buf_limit;
    while (q < end && !ends_value(st, *q) && *q != ')') ++q;
    st.field = p;
    st.field_len = q - p;
    st.cls = Cls::logical;
    lub->lub_buf_ptr = q;
    return 0;
}

// Under the f90 mode a character item takes text without delimiters, up
// to a blank, a separator or a slash.
int scan_undelimited(St &st, For_Lub *lub) {
    char *p = lub->lub_buf_ptr, *q = p, *end = lub->lub_buf_limit;
    while (q < end && !ends_value(st, *q) && *q != '\0') ++q;
    st.field = p;
    st.field_len = q - p;
    st.cls = Cls::character;
    lub->lub_buf_ptr = q;
    return 0;
}

// Up to the matching delimiter, a doubled delimiter standing for one. A
// record end inside the value adds nothing to it; the value continues on
// the next record. The end of the file inside the value is a syntax error.
int scan_delimited(St &st, For_Lub *lub) {
    const char delim = *lub->lub_buf_ptr;
    char *p = lub->lub_buf_ptr + 1;
    uint64_t n = 0;
    for (;;) {
        char *end = lub->lub_buf_limit;
        while (p < end) {
            char *hit = static_cast<char *>(std::memchr(p, delim, static_cast<size_t>(end - p)));
            char *stop = hit ? hit : end;
            if (int s = append(st, &n, p, static_cast<uint64_t>(stop - p))) return s;
            p = stop;
            if (!hit) break;
            ++p;
            if (p < end && *p == delim) {
                if (int s = append(st, &n, p, 1)) return s;
                ++p;
                continue;
            }
            lub->lub_buf_ptr = p;
            if (p < end && !ends_value(st, *p)) return msg::list_syntax;
            st.field = n ? st.text : "";  // '' has no copy at all
            st.field_len = static_cast<int64_t>(n);
            st.cls = Cls::character;
            st.flags |= ldf::copied;
            return 0;
        }
        lub->lub_buf_ptr = p;
        int s = for__get_s(lub);
        if (s == msg::eof_during_read) return msg::list_syntax;
        if (s) return s;
        p = lub->lub_buf_ptr;
    }
}

// One part of a complex value, copied at offset *n of the text area.
int complex_part(St &st, For_Lub *lub, uint64_t *n, bool last) {
    if (int s = skip_blanks(st, lub)) return s;
    const char *p = lub->lub_buf_ptr, *end = lub->lub_buf_limit;
    bool complete = false;
    const char *q = lex_number(p, end, st.point, &complete);
    if (!complete) return msg::list_syntax;
    if (q < end && !is_blank(*q) && *q != (last ? ')' : st.sep)) return msg::list_syntax;
    if (int s = append(st, n, p, static_cast<uint64_t>(q - p))) return s;
    lub->lub_buf_ptr = const_cast<char *>(q);
    return skip_blanks(st, lub);
}

// "(" real-part separator imaginary-part ")", blanks and record ends
// allowed around either part.
int scan_complex(St &st, For_Lub *lub) {
    ++lub->lub_buf_ptr;
    uint64_t n = 0;
    if (int s = complex_part(st, lub, &n, false)) return s;
    const uint64_t real_len = n;
    if (*lub->lub_buf_ptr != st.sep) return msg::list_syntax;
    ++lub->lub_buf_ptr;
    if (int s = complex_part(st, lub, &n, true)) return s;
    if (*lub->lub_buf_ptr != ')') return msg::list_syntax;
    char *p = ++lub->lub_buf_ptr;
    if (p < lub->lub_buf_limit && !ends_value(st, *p)) return msg::list_syntax;
    st.field = st.text;
    st.field_len = static_cast<int64_t>(real_len);
    st.imag_off = static_cast<int64_t>(real_len);
    st.imag_len = static_cast<int64_t>(n - real_len);
    st.cls = Cls::complex;
    st.flags |= ldf::copied;
    return 0;
}

// The value itself, at the current position (after any repeat count).
int scan_value(St &st, For_Lub *lub, int type) {
    const char *p = lub->lub_buf_ptr, *end = lub->lub_buf_limit;
    const char c = *p;
    if (c == '\'' || c == '"') return scan_delimited(st, lub);
    if (type == FOR_TYPE_CHARACTER && (st.flags & ldf::f90)) return scan_undelimited(st, lub);
    if (c == '(') return scan_complex(st, lub);
    if (c == ')') return msg::list_syntax;
    auto tf = [](char x) { return x == 'T' || x == 't' || x == 'F' || x == 'f'; };
    if (tf(c) || (c == '.' && p + 1 < end && tf(p[1]))) return scan_logical(st, lub);
    return scan_number(st, lub);
}

// Finds the next value for an element of type `type`: skips separators
// that end earlier values, recognises null values, the slash and repeat
// counts, then scans the value.
int scan(St &st, For_Lub *lub, int type) {
    st.cls = Cls::none;
    st.flags &= ~ldf::copied;
    for (;;) {
        if (int s = skip_blanks(st, lub)) return s;
        if (*lub->lub_buf_ptr != st.sep) break;
        ++lub->lub_buf_ptr;
        if (st.flags & ldf::need_sep) {
            st.flags &= ~ldf::need_sep;
            continue;
        }
        // A separator with no value before it: the value is null, and the
        // separator is its own.
        st.flags |= ldf::started;
        st.cls = Cls::null;
        st.repeat = 1;
        return 0;
    }
    st.flags |= ldf::started;
    char *p = lub->lub_buf_ptr, *end = lub->lub_buf_limit;
    if (*p == '/') {
        lub->lub_buf_ptr = p + 1;
        st.flags |= ldf::slash;
        return 0;
    }
    st.flags |= ldf::need_sep;
    uint32_t r = 1;
    char *q = p;
    while (q < end && is_digit(*q)) ++q;
    if (q > p && q < end && *q == '*') {
        if (q - p > INT32_MAX) return msg::input_conversion;
        if (cvt_text_to_unsigned(p, static_cast<int32_t>(q - p), 10, 0, &r) != CVT_IN_OK) return msg::input_conversion;
        if (r == 0) return msg::repeat_zero;
        p = q + 1;
        lub->lub_buf_ptr = p;
        // "r*" alone stands for r null values; its separator is still ahead.
        if (p == end || is_blank(*p) || *p == st.sep) {
            st.cls = Cls::null;
            st.repeat = r;
            return 0;
        }
        if (*p == '/') {
            lub->lub_buf_ptr = p + 1;
            st.flags |= ldf::slash;
            return 0;
        }
    }
    st.repeat = r;
    return scan_value(st, lub, type);
}

// ---- Storing a value -------------------------------------------------------

void store_bytes(char *addr, int64_t size, int64_t v) {
    std::memcpy(addr, &v, static_cast<size_t>(size < 8 ? size : 8));
}

uint32_t rounding_flags(const For_Lub *lub) {
    switch (lub->lub_round) {
    case FOR_ROUND_UP: return CVT_ROUND_PRESENT | CVT_ROUND_RU;
    case FOR_ROUND_DOWN: return CVT_ROUND_PRESENT | CVT_ROUND_RD;
    case FOR_ROUND_ZERO: return CVT_ROUND_PRESENT | CVT_ROUND_RZ;
    case FOR_ROUND_COMPATIBLE: return CVT_ROUND_PRESENT | CVT_ROUND_RC;
    default: return CVT_ROUND_PRESENT | CVT_ROUND_RN;
    }
}

// A real value from the text of a number. No implied decimal point and no
// scale factor: "125" is 125, whatever a format would have made of it.
int to_real(const St &st, const For_Lub *lub, const char *text, int64_t len, char *addr, int64_t size) {
    const uint32_t flags = CVT_IN_BN | rounding_flags(lub);
    const uint64_t options = st.point == ',' ? uint64_t{1} << 34 : 0;
    int32_t r;
    if (size == 4) {
        float v;
        r = cvt_text_to_ieee_s_ex(text, len, 0, 0, flags, &v, options);
        if (r == 0) std::memcpy(addr, &v, sizeof v);
    } else if (size == 8) {
        double v;
        r = cvt_text_to_ieee_t_ex(text, len, 0, 0, flags, &v, options);
        if (r == 0) std::memcpy(addr, &v, sizeof v);
    } else if (size == 16) {
        __float128 v;
        r = cvt_text_to_ieee_x_ex(text, len, 0, 0, flags, &v, options);
        if (r == 0) std::memcpy(addr, &v, sizeof v);
    } else {
        return msg::input_conversion;
    }
    return r ? msg::input_conversion : 0;
}

// A number with a point or an exponent for an integer: read as a real
// (binary128 for 8-byte items, whose range binary64 cannot hold exactly)
// and truncated. A NaN, an infinity or a value whose truncation does not
// fit the item is a conversion error, never a wrapped or undefined value.
int real_to_integer(const St &st, const For_Lub *lub, const char *text, int64_t len, char *addr, int64_t size,
                    bool uns) {
    const int bits = static_cast<int>(size) * 8;
    if (size == 8) {
        __float128 v;
        if (to_real(st, lub, text, len, reinterpret_cast<char *>(&v), 16)) return msg::input_conversion;
        const __float128 two63 = static_cast<__float128>(9223372036854775808.0);  // 2^63, exact
        if (uns) {
            if (!(v > -1 && v < 2 * two63)) return msg::input_conversion;
            const uint64_t u = static_cast<uint64_t>(v);
            std::memcpy(addr, &u, 8);
        } else {
            if (!(v > -two63 - 1 && v < two63)) return msg::input_conversion;
            store_bytes(addr, 8, static_cast<int64_t>(v));
        }
        return 0;
    }
    double v;
    if (to_real(st, lub, text, len, reinterpret_cast<char *>(&v), 8)) return msg::input_conversion;
    const double half = static_cast<double>(int64_t{1} << (bits - 1));
    const double lo = uns ? -1.0 : -half - 1.0;
    const double hi = uns ? 2.0 * half : half;
    if (!(v > lo && v < hi)) return msg::input_conversion;
    store_bytes(addr, size, static_cast<int64_t>(v));
    return 0;
}

bool fits(int64_t v, int64_t size, bool uns) {
    if (size >= 8) return true;
    const int bits = static_cast<int>(size) * 8;
    if (uns) return static_cast<uint64_t>(v) >> bits == 0;
    const int64_t lim = int64_t{1} << (bits - 1);
    return v >= -lim && v < lim;
}

int to_integer(const St &st, const For_Lub *lub, const char *text, int64_t len, char *addr, int64_t size, bool uns) {
    if (len > INT32_MAX) return msg::input_conversion;
    const int32_t n = static_cast<int32_t>(len);
    int64_t v = 0;
    int32_t r;
    if (uns) {
        // An unsigned item takes a plus sign, never a minus sign.
        const int32_t skip = n > 0 && text[0] == '+' ? 1 : 0;
        uint64_t u = 0;
        r = cvt_text_to_unsigned64(text + skip, n - skip, 10, 0, &u);
        v = static_cast<int64_t>(u);
    } else {
        r = cvt_text_to_integer64(text, n, 0, &v);
    }
    if (r == CVT_IN_BAD_CHAR) return real_to_integer(st, lub, text, len, addr, size, uns);
    if (r != CVT_IN_OK || !fits(v, size, uns)) return msg::input_conversion;
    store_bytes(addr, size, v);
    return 0;
}

int to_logical(const char *text, int64_t len, char *addr, int64_t size) {
    if (len > INT32_MAX) return msg::input_conversion;
    int64_t v = 0;
    if (cvt_text_to_boolean64(text, static_cast<int32_t>(len), CVT_BOOLEAN_FORTRAN, &v) != CVT_IN_OK)
        return msg::input_conversion;
    store_bytes(addr, size, v);
    return 0;
}

void to_character(const char *text, int64_t len, char *addr, int64_t size) {
    const int64_t n = len < size ? len : size;
    std::memcpy(addr, text, static_cast<size_t>(n));
    std::memset(addr + n, ' ', static_cast<size_t>(size - n));
}

// Stores the current value into one element (one whole complex element;
// `size` is the size of one part then).
int store(const St &st, const For_Lub *lub, int type, char *addr, int64_t size) {
    const bool strict = (st.flags & ldf::strict) != 0;
    const Cls c = st.cls;
    if (c == Cls::null) return 0;
    if (is_integer(type)) {
        if (c == Cls::number) return to_integer(st, lub, st.field, st.field_len, addr, size, is_unsigned(type));
        if (c == Cls::logical && !strict) return to_logical(st.field, st.field_len, addr, size);
        return msg::input_conversion;
    }
    if (is_logical(type)) {
        if (c == Cls::logical) return to_logical(st.field, st.field_len, addr, size);
        if (c == Cls::number && !strict) return to_integer(st, lub, st.field, st.field_len, addr, size, false);
        return msg::input_conversion;
    }
    if (is_real(type)) {
        // A complex value gives a real item its real part.
        if (c == Cls::number || c == Cls::complex) return to_real(st, lub, st.field, st.field_len, addr, size);
        return msg::input_conversion;
    }
    if (for__type_is_complex(type)) {
        if (c != Cls::complex) return msg::input_conversion;
        if (int s = to_real(st, lub, st.field, st.field_len, addr, size)) return s;
        return to_real(st, lub, st.text + st.imag_off, st.imag_len, addr + size, size);
    }
    if (type == FOR_TYPE_CHARACTER) {
        // The text of a logical value ("T", ".true.") is a character value
        // too: it is stored as it stands.
        if (c == Cls::character || c == Cls::logical) {
            to_character(st.field, st.field_len, addr, size);
            return 0;
        }
        return msg::list_syntax;
    }
    return msg::input_conversion;
}

bool listable(int type) {
    return is_integer(type) || is_logical(type) || is_real(type) || for__type_is_complex(type) ||
           type == FOR_TYPE_CHARACTER;
}

int read_element(St &st, For_Lub *lub, int type, char *addr, int64_t size) {
    if (st.flags & ldf::slash) return stop_at_slash;
    if (st.repeat == 0) {
        if (int s = scan(st, lub, type)) return s;
        if (st.flags & ldf::slash) return stop_at_slash;
    }
    --st.repeat;
    return store(st, lub, type, addr, size);
}

}  // namespace

int for__ldir_in_begin(For_Lub *lub, For_IO_Flags flags) {
    St &st = lub->lub_stmt.xfer.begin_ldir_in();
    const bool comma = lub->lub_decimal == FOR_DECIMAL_COMMA;
    st.sep = comma ? ';' : ',';
    st.point = comma ? ',' : '.';
    // Unit option bit 1 is the f90 mode the unit was connected under; an
    // internal file has no connection, so its statement's flag decides.
    if ((lub->lub_flags & lubf::opt_f90) || (flags & iof_f90)) st.flags |= ldf::f90;
    if (lub->lub_stmt_flags & lubs::strict_ldin) st.flags |= ldf::strict;
    return for__begin_input(lub);
}

int For_Ldir_In::item(For_Lub *lub, const For_Item &item, const For_Shape &shape) {
    St &st = state_of(lub);
    if (st.flags & ldf::slash) return 0;
    if (!listable(item.type)) return msg::input_conversion;
    const int type = item.type;
    const int64_t size = item.elem_size;
    int s = for__each_element(item, shape, [&](char *elem) { return read_element(st, lub, type, elem, size); });
    return s == stop_at_slash ? 0 : s;
}

int For_Ldir_In::finish(For_Lub *lub) { return for__end_input(lub); }

void for__ldir_in_release(For_Ldir_In_State &st) {
    for__free_vm(st.text);
    st.text = nullptr;
    st.text_cap = 0;
}
