// Input editing: one field of characters into one data item.  The
// descriptor (opcode) chooses the kind of editing, the item's type code the
// storage; the text converters of the conversion library do the reading.
// Formatted READ, list-directed and namelist input, and the INUM family of
// intrinsics all come through for__cvt_value.
#include "format/for_cvt_val.h"

#include <vorlix/cvt.h>
#include <vorlix/format.h>

#include <climits>
#include <cstring>

#include "diag/for_diag.h"
#include "diag/for_msgnum.h"
#include "units/for_lub.h"

namespace {

enum class Edit { none, character, integer, logical, bits, real, real_ew, general };

Edit edit_of(int opcode, int &radix) {
    switch (opcode) {
    case FOR_FMT_A_NW:
    case FOR_FMT_LITERAL:
    case FOR_FMT_A: return Edit::character;
    case FOR_FMT_I_NW:
    case FOR_FMT_I:
    case FOR_FMT_IM: return Edit::integer;
    case FOR_FMT_L_NW:
    case FOR_FMT_L: return Edit::logical;
    case FOR_FMT_O_NW:
    case FOR_FMT_O:
    case FOR_FMT_OM: radix = 8; return Edit::bits;
    case FOR_FMT_Z_NW:
    case FOR_FMT_Z:
    case FOR_FMT_ZM: radix = 16; return Edit::bits;
    case FOR_FMT_B_NW:
    case FOR_FMT_B:
    case FOR_FMT_BM: radix = 2; return Edit::bits;
    case FOR_FMT_D_NW:
    case FOR_FMT_E_NW:
    case FOR_FMT_F_NW:
    case FOR_FMT_D:
    case FOR_FMT_E:
    case FOR_FMT_F:
    case FOR_FMT_EN_NW:
    case FOR_FMT_EN:
    case FOR_FMT_ES_NW:
    case FOR_FMT_ES:
    case FOR_FMT_EX: return Edit::real;
    case FOR_FMT_EE:
    case FOR_FMT_ENE:
    case FOR_FMT_ESE: return Edit::real_ew;
    case FOR_FMT_G_NW:
    case FOR_FMT_G:
    case FOR_FMT_GE: return Edit::general;
    default: return Edit::none;
    }
}

constexpr bool is_integer(int type) { return type >= FOR_TYPE_INT1 && type <= FOR_TYPE_UINT8; }
constexpr bool is_unsigned(int type) { return is_integer(type) && type % 2 == 0; }
constexpr bool is_logical(int type) { return type >= FOR_TYPE_LOGICAL4_ALT && type <= FOR_TYPE_LOGICAL8; }
// 57 is the second character code of the dispatch rules.
constexpr bool is_character(int type) { return type == FOR_TYPE_CHARACTER || type == 57; }

// Bytes of one value of the item: one part of a complex value (the
// transfer code edits the parts one by one), the length of a CHARACTER
// item; 0 for a type that holds no editable value.
int64_t value_size(const For_Value_Info &item) {
    switch (item.type) {
    case FOR_TYPE_INT1:
    case FOR_TYPE_UINT1:
    case FOR_TYPE_LOGICAL1: return 1;
    case FOR_TYPE_INT2:
    case FOR_TYPE_UINT2:
    case FOR_TYPE_LOGICAL2: return 2;
    case FOR_TYPE_INT4:
    case FOR_TYPE_UINT4:
    case FOR_TYPE_LOGICAL4_ALT:
    case FOR_TYPE_LOGICAL4:
    case FOR_TYPE_REAL4_ALT:
    case FOR_TYPE_REAL4:
    case FOR_TYPE_COMPLEX8_ALT1:
    case FOR_TYPE_COMPLEX4:
    case FOR_TYPE_COMPLEX8_ALT2: return 4;
    case FOR_TYPE_INT8:
    case FOR_TYPE_UINT8:
    case FOR_TYPE_LOGICAL8:
    case FOR_TYPE_COMPLEX8:
    case FOR_TYPE_COMPLEX16_ALT1:
    case FOR_TYPE_COMPLEX16_ALT2:
    case FOR_TYPE_COMPLEX16_ALT3:
    case FOR_TYPE_REAL8_ALT1:
    case FOR_TYPE_REAL8_ALT2:
    case FOR_TYPE_REAL8: return 8;
    case FOR_TYPE_REAL16:
    case FOR_TYPE_COMPLEX16: return 16;
    default: return is_character(item.type) ? item.length : 0;
    }
}

enum class Prec { none, s, t, x };

Prec precision(int type) {
    switch (type) {
    case FOR_TYPE_REAL4:
    case 27:
    case FOR_TYPE_COMPLEX8_ALT1:
    case FOR_TYPE_COMPLEX4:
    case 30: return Prec::s;
    case FOR_TYPE_COMPLEX8:
    case 41:
    case FOR_TYPE_COMPLEX16_ALT3:
    case FOR_TYPE_REAL8:
    case 49: return Prec::t;
    case FOR_TYPE_REAL16:
    case FOR_TYPE_COMPLEX16: return Prec::x;
    default: return Prec::none;
    }
}

// Results 10 and 12 report a NaN or an infinity that was read: values, not
// failures. Only the field-overflow result is a syntax failure of the list.
int message_for(int32_t result, const For_Fmt_Isb &isb) {
    if (result == 0 || result == 10 || result == 12) return 0;
    if (result == 2 && isb.unit) {
        if (isb.unit->lub_op == FOR_OP_READ_LIS) return msg::list_syntax;
        if (isb.unit->lub_op == FOR_OP_READ_NML) return msg::namelist_syntax;
    }
    return msg::input_conversion;
}

uint32_t blank_flags(const For_Fmt_Isb &isb) { return (isb.flags & isbf::blank_bz) ? CVT_IN_BZ : CVT_IN_BN; }

// Little-endian storage of the low `size` bytes.
void store(void *addr, int64_t size, int64_t v) { std::memcpy(addr, &v, static_cast<size_t>(size)); }

bool fits(int64_t v, int64_t size, bool is_uns) {
    if (size >= 8) return true;
    const int bits = static_cast<int>(size) * 8;
    if (is_uns) return static_cast<uint64_t>(v) >> bits == 0;
    const int64_t lim = int64_t{1} << (bits - 1);
    return v >= -lim && v < lim;
}

int edit_logical(const For_Fmt_Isb &isb, const char *field, int32_t w, const For_Value_Info &item) {
    if (!is_integer(item.type) && !is_logical(item.type)) return msg::format_type_mismatch;
    int64_t v;
    const int32_t r = cvt_text_to_boolean64(field, w, CVT_BOOLEAN_FORTRAN, &v);
    store(item.address, value_size(item), r == 0 ? v : 0);
    return message_for(r, isb);
}

int edit_integer(const For_Fmt_Isb &isb, const char *field, int32_t w, const For_Value_Info &item) {
    if (!is_integer(item.type) && !is_logical(item.type)) return msg::format_type_mismatch;
    const bool uns = is_unsigned(item.type);
    if ((isb.flags & isbf::compat_logical_i) && is_integer(item.type) && !uns) return edit_logical(isb, field, w, item);
    const int64_t size = value_size(item);
    const uint32_t flags = blank_flags(isb);
    int64_t v = 0;
    int32_t r;
    if (uns) {
        // An unsigned item takes no minus sign; a plus sign is harmless.
        const char *p = field, *end = field + w;
        while (p < end && *p == ' ') ++p;
        if (p < end && *p == '+') ++p;
        uint64_t u;
        r = cvt_text_to_unsigned64(p, static_cast<int32_t>(end - p), 10, flags, &u);
        v = static_cast<int64_t>(u);
    } else {
        r = cvt_text_to_integer64(field, w, flags, &v);
    }
    if (r == 0 && !fits(v, size, uns)) r = CVT_IN_RANGE;
    store(item.address, size, r == 0 ? v : 0);
    return message_for(r, isb);
}

int edit_bits(const For_Fmt_Isb &isb, const char *field, int32_t w, const For_Value_Info &item, int radix) {
    // Exactly the item's own bytes: a CHARACTER(3) item gets 3, an 8-byte
    // integer or real all 8, a REAL(16) all 16.
    const int64_t size = value_size(item);
    if (size <= 0 && !is_character(item.type)) return msg::format_type_mismatch;
    if (size > INT32_MAX) return msg::input_conversion;
    const int32_t r = cvt_text_to_data(field, w, static_cast<int32_t>(size), radix, blank_flags(isb), item.address);
    return message_for(r, isb);
}

int edit_character(const For_Fmt_Isb &isb, const char *field, int64_t w, const For_Value_Info &item) {
    // Non-character items take characters by their byte size, as programs
    // that kept text in numeric variables expect.
    const int64_t len = value_size(item);
    if (len <= 0 && !is_character(item.type)) return msg::format_type_mismatch;
    char *dst = static_cast<char *>(item.address);
    if (len >= w) {
        std::memcpy(dst, field, static_cast<size_t>(w));
        std::memset(dst + w, ' ', static_cast<size_t>(len - w));
    } else {
        const char *from = (isb.flags & isbf::compat_logical_i) ? field : field + (w - len);
        std::memcpy(dst, from, static_cast<size_t>(len));
    }
    return 0;
}

uint32_t rounding_flags(For_Round r) {
    switch (r) {
    case For_Round::ru: return CVT_ROUND_PRESENT | CVT_ROUND_RU;
    case For_Round::rd: return CVT_ROUND_PRESENT | CVT_ROUND_RD;
    case For_Round::rz: return CVT_ROUND_PRESENT | CVT_ROUND_RZ;
    case For_Round::rc: return CVT_ROUND_PRESENT | CVT_ROUND_RC;
    default: return CVT_ROUND_PRESENT | CVT_ROUND_RN;  // RN, RP and no mode
    }
}

bool decimal_comma(const For_Fmt_Isb &isb) {
    if (isb.modes & isbm::decimal_dc) return true;
    if (isb.modes & isbm::decimal_dp) return false;
    return isb.unit && isb.unit->lub_decimal == 2;  // the unit's DECIMAL='COMMA'
}

template <class V>
void store_real(const For_Value_Info &item, V v) {
    std::memcpy(item.address, &v, sizeof v);
}

int edit_real(const For_Fmt_Isb &isb, const char *field, int64_t w, const For_Value_Info &item, bool exp_width) {
    const Prec prec = precision(item.type);
    if (prec == Prec::none) return msg::format_type_mismatch;
    if (isb.flags & isbf::compat_logical_i) {
        const char *p = field, *end = field + w;
        while (p < end && *p == ' ') ++p;
        const int v = (p < end && (*p == 'F' || *p == 'f')) ? 0 : -1;
        switch (prec) {
        case Prec::s: store_real(item, static_cast<float>(v)); break;
        case Prec::t: store_real(item, static_cast<double>(v)); break;
        default: store_real(item, static_cast<__float128>(v)); break;
        }
        return 0;
    }
    const uint32_t flags = blank_flags(isb) | rounding_flags(isb.rounding) | (exp_width ? CVT_IN_EXP_WIDTH : 0);
    const uint64_t options = decimal_comma(isb) ? uint64_t{1} << 34 : 0;
    int32_t r;
    switch (prec) {
    case Prec::s: {
        float v;
        r = cvt_text_to_ieee_s_ex(field, w, isb.scale, isb.d, flags, &v, options);
        store_real(item, v);
        break;
    }
    case Prec::t: {
        double v;
        r = cvt_text_to_ieee_t_ex(field, w, isb.scale, isb.d, flags, &v, options);
        store_real(item, v);
        break;
    }
    default: {
        __float128 v;
        r = cvt_text_to_ieee_x_ex(field, w, isb.scale, isb.d, flags, &v, options);
        store_real(item, v);
        break;
    }
    }
    // The field layer's one failure result means "not a number".
    return r ? msg::input_conversion : 0;
}

}  // namespace

int for__cvt_value(For_Fmt_Isb *isb, const char *field, const For_Value_Info *item) {
    int radix = 0;
    const Edit edit = edit_of(isb->opcode, radix);
    const int64_t w = isb->w > 0 ? isb->w : 0;
    // Numeric converters count in 32 bits; no number is that long.
    const int32_t w32 = w > INT32_MAX ? -1 : static_cast<int32_t>(w);
    const int type = item->type;
    switch (edit) {
    case Edit::character: return edit_character(*isb, field, w, *item);
    case Edit::integer: return w32 < 0 ? msg::input_conversion : edit_integer(*isb, field, w32, *item);
    case Edit::logical: return w32 < 0 ? msg::input_conversion : edit_logical(*isb, field, w32, *item);
    case Edit::bits: return w32 < 0 ? msg::input_conversion : edit_bits(*isb, field, w32, *item, radix);
    case Edit::real: return edit_real(*isb, field, w, *item, false);
    case Edit::real_ew: return edit_real(*isb, field, w, *item, true);
    case Edit::general:
        if (is_integer(type)) {
            // d of Gw.d means nothing to an integer field.
            For_Fmt_Isb as_int = *isb;
            as_int.d = 0;
            return w32 < 0 ? msg::input_conversion : edit_integer(as_int, field, w32, *item);
        }
        if (is_logical(type)) return w32 < 0 ? msg::input_conversion : edit_logical(*isb, field, w32, *item);
        if (is_character(type)) return edit_character(*isb, field, w, *item);
        return edit_real(*isb, field, w, *item, isb->opcode == FOR_FMT_GE && isb->e > 0);
    case Edit::none: break;
    }
    return msg::invalid_argument;
}

// ---- INUM, JNUM, KNUM, RNUM, DNUM, QNUM ----------------------------------

namespace {

template <class T>
T text_number(const char *text, int64_t length, uint8_t opcode, int32_t type, int failure) {
    while (length > 0 && text[length - 1] == ' ') --length;
    For_Fmt_Isb isb{};
    isb.opcode = opcode;
    isb.w = length;
    isb.flags = isbf::blank_bn;
    T v{};
    const For_Value_Info item{&v, type, static_cast<int64_t>(sizeof v)};
    if (for__cvt_value(&isb, text, &item) != 0) {
        for__issue_diagnostic(failure, 0);
        return T{};
    }
    return v;
}

}  // namespace

int16_t for_inum(const char *text, int64_t length) {
    return text_number<int16_t>(text, length, FOR_FMT_I, FOR_TYPE_INT2, msg::invalid_integer);
}
int32_t for_jnum(const char *text, int64_t length) {
    return text_number<int32_t>(text, length, FOR_FMT_I, FOR_TYPE_INT4, msg::invalid_integer);
}
int64_t for_knum(const char *text, int64_t length) {
    return text_number<int64_t>(text, length, FOR_FMT_I, FOR_TYPE_INT8, msg::invalid_integer);
}
float for_rnum(const char *text, int64_t length) {
    return text_number<float>(text, length, FOR_FMT_F, FOR_TYPE_REAL4, msg::invalid_real);
}
double for_dnum(const char *text, int64_t length) {
    return text_number<double>(text, length, FOR_FMT_F, FOR_TYPE_REAL8, msg::invalid_real);
}
__float128 for_qnum(const char *text, int64_t length) {
    return text_number<__float128>(text, length, FOR_FMT_F, FOR_TYPE_REAL16, msg::invalid_real);
}
