// Output editing: the dispatch from (descriptor, item type) to the field
// converters of the conversion library, and the translation of the
// formatted-statement state into their flag and option words.
#include "format/for_fmt_val.h"

#include <vorlix/abi.h>
#include <vorlix/cvt.h>
#include <vorlix/format.h>

#include <climits>
#include <cstring>

#include "diag/for_msgnum.h"
#include "format/for_fmt_isb.h"
#include "units/for_lub.h"

namespace {

// Kind word of the real converters.
constexpr uint32_t kKindE = 0x1, kKindF = 0x2, kKindLetterD = 0x4, kKindPlus = 0x10, kKindExpGiven = 0x40,
                   kKindZeroWidth = 0x100, kKindEN = 0x200, kKindES = 0x400, kKindEX = 0x1C40, kKindRound = 0x80000000u;
// Upper half of their option word; the lower half is always 4.
constexpr uint64_t kOptAltList = 0x1, kOptComma = 0x4, kOptComputeWidth = 0x8, kOptGNoWidth = 0x10, kOptPassed20 = 0x20,
                   kOptMinusRounded = 0x40, kOptPassed80 = 0x80, kOptDNonzero = 0x400, kOptWZero = 0x800;

enum class Class { signed_int, unsigned_int, logical, real_s, real_t, real_x, character, other };

Class class_of(int type) {
    switch (type) {
    case FOR_TYPE_INT1:
    case FOR_TYPE_INT2:
    case FOR_TYPE_INT4:
    case FOR_TYPE_INT8: return Class::signed_int;
    case FOR_TYPE_UINT1:
    case FOR_TYPE_UINT2:
    case FOR_TYPE_UINT4:
    case FOR_TYPE_UINT8: return Class::unsigned_int;
    case FOR_TYPE_LOGICAL4_ALT:
    case FOR_TYPE_LOGICAL1:
    case FOR_TYPE_LOGICAL2:
    case FOR_TYPE_LOGICAL4:
    case FOR_TYPE_LOGICAL8: return Class::logical;
    case FOR_TYPE_REAL4:
    case 27:
    case FOR_TYPE_COMPLEX8_ALT1:
    case FOR_TYPE_COMPLEX4:
    case 30: return Class::real_s;
    case FOR_TYPE_COMPLEX8:
    case 41:
    case FOR_TYPE_COMPLEX16_ALT3:
    case FOR_TYPE_REAL8:
    case 49: return Class::real_t;
    case FOR_TYPE_REAL16:
    case FOR_TYPE_COMPLEX16: return Class::real_x;
    case FOR_TYPE_CHARACTER:
    case 57: return Class::character;
    default: return Class::other;
    }
}

// Bytes of one item (one part of a complex value) for B, O and Z; 0 when
// the type has no bit pattern to show.  Every size is the item's own: a
// REAL(16) or a CHARACTER item shows all its bytes, not a 4-byte default.
int64_t pattern_size(const For_Value_Info &v) {
    switch (v.type) {
    case FOR_TYPE_INT1:
    case FOR_TYPE_UINT1:
    case FOR_TYPE_LOGICAL1: return 1;
    case FOR_TYPE_INT2:
    case FOR_TYPE_UINT2:
    case FOR_TYPE_LOGICAL2: return 2;
    case FOR_TYPE_INT4:
    case FOR_TYPE_UINT4:
    case FOR_TYPE_LOGICAL4_ALT:
    case FOR_TYPE_LOGICAL4: return 4;
    case FOR_TYPE_REAL4_ALT:
    case FOR_TYPE_REAL4:
    case 27:
    case FOR_TYPE_COMPLEX8_ALT1:
    case FOR_TYPE_COMPLEX4:
    case 30:
    case FOR_TYPE_COMPLEX8_ALT2: return 4;
    case FOR_TYPE_INT8:
    case FOR_TYPE_UINT8:
    case FOR_TYPE_LOGICAL8: return 8;
    case FOR_TYPE_COMPLEX8:
    case 41:
    case FOR_TYPE_COMPLEX16_ALT1:
    case FOR_TYPE_COMPLEX16_ALT2:
    case FOR_TYPE_COMPLEX16_ALT3:
    case FOR_TYPE_REAL8_ALT1:
    case FOR_TYPE_REAL8_ALT2:
    case FOR_TYPE_REAL8:
    case 49: return 8;
    case FOR_TYPE_REAL16:
    case FOR_TYPE_COMPLEX16: return 16;
    case FOR_TYPE_CHARACTER:
    case 57: return v.length;
    default: return 0;
    }
}

int64_t load_signed(const void *p, int type) {
    switch (type) {
    case FOR_TYPE_INT1:
    case FOR_TYPE_UINT1:
    case FOR_TYPE_LOGICAL1: return *static_cast<const int8_t *>(p);
    case FOR_TYPE_INT2:
    case FOR_TYPE_UINT2:
    case FOR_TYPE_LOGICAL2: return *static_cast<const int16_t *>(p);
    case FOR_TYPE_INT4:
    case FOR_TYPE_UINT4:
    case FOR_TYPE_LOGICAL4_ALT:
    case FOR_TYPE_LOGICAL4: return *static_cast<const int32_t *>(p);
    default: {
        int64_t v;
        std::memcpy(&v, p, 8);
        return v;
    }
    }
}

uint64_t load_unsigned(const void *p, int type) {
    switch (type) {
    case FOR_TYPE_UINT1: return *static_cast<const uint8_t *>(p);
    case FOR_TYPE_UINT2: return *static_cast<const uint16_t *>(p);
    case FOR_TYPE_UINT4: return *static_cast<const uint32_t *>(p);
    default: {
        uint64_t v;
        std::memcpy(&v, p, 8);
        return v;
    }
    }
}

bool is_8_bytes(int type) { return type == FOR_TYPE_INT8 || type == FOR_TYPE_UINT8 || type == FOR_TYPE_LOGICAL8; }

// Converter results to message numbers.
int message_of(int32_t r) {
    switch (r) {
    case 0:
    case 10:
    case 12: return 0;
    case 1: return msg::input_conversion;
    case 14: return msg::output_overflows_record;
    default: return msg::output_conversion;
    }
}

int edit_character(const char *src, int64_t n, int64_t w, char *field) {
    if (w > n) {
        std::memset(field, ' ', static_cast<size_t>(w - n));
        std::memcpy(field + (w - n), src, static_cast<size_t>(n));
    } else {
        std::memcpy(field, src, static_cast<size_t>(w));
    }
    return 0;
}

int edit_integer(const For_Value_Info &v, const For_Fmt_Isb &isb, int32_t w, int32_t m, char *field) {
    const uint32_t flags = (isb.flags & isbf::sign_sp) ? CVT_INT_PLUS : 0;
    const Class c = class_of(v.type);
    const bool as_signed = c == Class::signed_int || (c == Class::logical && (isb.flags & isbf::compat_logical_i));
    if (as_signed) {
        const int64_t x = load_signed(v.address, v.type);
        return message_of(is_8_bytes(v.type) ? cvt_integer64_to_text(x, w, m, flags, field)
                                             : cvt_integer_to_text(static_cast<int32_t>(x), w, m, flags, field));
    }
    if (c == Class::unsigned_int) {
        const uint64_t x = load_unsigned(v.address, v.type);
        return message_of(is_8_bytes(v.type) ? cvt_unsigned64_to_text(x, w, 10, m, field)
                                             : cvt_unsigned_to_text(static_cast<uint32_t>(x), w, 10, m, field));
    }
    return msg::format_type_mismatch;
}

int edit_logical(const For_Value_Info &v, const For_Fmt_Isb &isb, int32_t w, char *field) {
    const Class c = class_of(v.type);
    if (c != Class::signed_int && c != Class::unsigned_int && c != Class::logical) return msg::format_type_mismatch;
    const int64_t x = load_signed(v.address, v.type);
    if (is_8_bytes(v.type)) return message_of(cvt_boolean64_to_text(x, w, CVT_BOOL_LETTER, field));
    const bool nonzero_true = isb.unit && (isb.unit->lub_flags & lubf::opt_true_is_one);
    return message_of(cvt_boolean_to_text_ex(static_cast<int32_t>(x), w, CVT_BOOL_LETTER, field,
                                             4 | (nonzero_true ? CVT_BOOL_NONZERO_TRUE : 0)));
}

int edit_pattern(const For_Value_Info &v, int32_t w, int radix, int32_t m, char *field) {
    const int64_t size = pattern_size(v);
    if (size <= 0) {
        // A zero-length CHARACTER item has no bits: it shows as zero.
        if (v.type == FOR_TYPE_CHARACTER || v.type == 57)
            return message_of(cvt_unsigned_to_text(0, w, radix, m, field));
        return msg::format_type_mismatch;
    }
    if (size > INT32_MAX) return msg::invalid_argument;
    const Class c = class_of(v.type);
    const bool int_storage = c == Class::signed_int || c == Class::unsigned_int || c == Class::logical;
    if (size == 8) return message_of(cvt_data64_to_text(v.address, w, 8, radix, m, field));
    if (size == 4 && !int_storage) {
        uint32_t x;
        std::memcpy(&x, v.address, 4);
        return message_of(cvt_unsigned_to_text(x, w, radix, m, field));
    }
    return message_of(cvt_data_to_text(v.address, w, static_cast<int32_t>(size), radix, m, field));
}

uint32_t rounding_bits(For_Round r) {
    switch (r) {
    case For_Round::ru: return kKindRound | CVT_ROUND_RU;
    case For_Round::rd: return kKindRound | CVT_ROUND_RD;
    case For_Round::rz: return kKindRound | CVT_ROUND_RZ;
    case For_Round::rc: return kKindRound | CVT_ROUND_RC;
    default: return kKindRound | CVT_ROUND_RN;
    }
}

// The option word of the real converters from the statement's modes and
// the unit's DECIMAL= and option bits.
uint64_t real_options(const For_Fmt_Isb &isb, bool g_edit) {
    uint64_t o = 0;
    const uint16_t md = isb.modes;
    const bool comma =
        (md & isbm::decimal_dc) || (!(md & isbm::decimal_dp) && isb.unit && isb.unit->lub_decimal == 2 /* COMMA */);
    if (comma) o |= kOptComma;
    if (md & isbm::width_computed) o |= kOptComputeWidth;
    if (md & isbm::g_no_width) o |= kOptGNoWidth;
    if (md & isbm::cvt_option_20) o |= kOptPassed20;
    if (md & isbm::minus_rounded_zero) o |= kOptMinusRounded;
    if (md & isbm::cvt_option_80) o |= kOptPassed80;
    if (md & isbm::d_nonzero) o |= kOptDNonzero;
    if (md & isbm::w_zero) o |= kOptWZero;
    if (g_edit && isb.unit && (isb.unit->lub_flags & lubf::opt_alt_list)) o |= kOptAltList;
    return (o << 32) | 4;
}

// Real editing: the converter by type code, and a field that is always
// w characters right-aligned, also when the converter laid the text out
// from the left for a width it computed itself.
int format_real(const For_Value_Info &v, const For_Fmt_Isb &isb, int32_t w, int32_t fw, int32_t e, uint32_t kind,
                char *field) {
    kind |= rounding_bits(isb.rounding);
    if (isb.flags & isbf::sign_sp) kind |= kKindPlus;
    if (isb.flags & isbf::zero_width) kind |= kKindZeroWidth;
    const uint64_t options = real_options(isb, (kind & (kKindE | kKindF | kKindLetterD | kKindEN | kKindES)) == 0);
    const int32_t k = isb.scale, d = isb.d;
    uint32_t len = static_cast<uint32_t>(w);
    int32_t r;
    switch (class_of(v.type)) {
    case Class::real_s:
        r = cvt_ieee_s_to_text_ex(static_cast<const float *>(v.address), w, k, d, fw, e, kind, field, options, &len);
        break;
    case Class::real_t:
        r = cvt_ieee_t_to_text_ex(static_cast<const double *>(v.address), w, k, d, fw, e, kind, field, options, &len);
        break;
    case Class::real_x:
        r = cvt_ieee_x_to_text_ex(static_cast<const __float128 *>(v.address), w, k, d, fw, e, kind, field, options,
                                  &len);
        break;
    default: return msg::format_type_mismatch;
    }
    if (message_of(r) == 0 && len < static_cast<uint32_t>(w)) {
        std::memmove(field + (w - len), field, len);
        std::memset(field, ' ', static_cast<size_t>(w) - len);
    }
    return message_of(r);
}

}  // namespace

int for__format_value(const For_Value_Info *value, For_Fmt_Isb *isb, char *field) {
    const For_Value_Info &v = *value;
    if (isb->w < 0 || isb->w > INT32_MAX) return msg::invalid_argument;
    const auto w = static_cast<int32_t>(isb->w);
    const int32_t d = isb->d;
    const int32_t e = isb->e;
    const Class c = class_of(v.type);
    // Iw, Bw, Ow and Zw without .m show at least one digit: m is 1.
    switch (isb->opcode) {
    case FOR_FMT_A_NW:
    case FOR_FMT_LITERAL:
    case FOR_FMT_A: {
        const int64_t n = c == Class::character ? v.length : pattern_size(v);
        if (c == Class::other || n < 0) return msg::format_type_mismatch;
        return edit_character(static_cast<const char *>(v.address), n, w, field);
    }
    case FOR_FMT_AT_NW:
    case FOR_FMT_AT: {
        if (c != Class::character) return msg::format_type_mismatch;
        const char *s = static_cast<const char *>(v.address);
        int64_t n = v.length;
        while (n > 0 && s[n - 1] == ' ') --n;
        isb->w = n;
        std::memcpy(field, s, static_cast<size_t>(n));
        return 0;
    }
    case FOR_FMT_I_NW:
    case FOR_FMT_I: return edit_integer(v, *isb, w, 1, field);
    case FOR_FMT_IM: return edit_integer(v, *isb, w, d, field);
    case FOR_FMT_L_NW:
    case FOR_FMT_L: return edit_logical(v, *isb, w, field);
    case FOR_FMT_O_NW:
    case FOR_FMT_O: return edit_pattern(v, w, 8, 1, field);
    case FOR_FMT_OM: return edit_pattern(v, w, 8, d, field);
    case FOR_FMT_Z_NW:
    case FOR_FMT_Z: return edit_pattern(v, w, 16, 1, field);
    case FOR_FMT_ZM: return edit_pattern(v, w, 16, d, field);
    case FOR_FMT_B_NW:
    case FOR_FMT_B: return edit_pattern(v, w, 2, 1, field);
    case FOR_FMT_BM: return edit_pattern(v, w, 2, d, field);
    case FOR_FMT_D_NW:
    case FOR_FMT_D: return format_real(v, *isb, w, 0, 0, kKindE | kKindLetterD, field);
    case FOR_FMT_E_NW:
    case FOR_FMT_E: return format_real(v, *isb, w, 0, 0, kKindE, field);
    case FOR_FMT_EE: return format_real(v, *isb, w, 0, e, kKindE | kKindExpGiven, field);
    case FOR_FMT_F_NW:
    case FOR_FMT_F: return format_real(v, *isb, w, w, 0, kKindF, field);
    case FOR_FMT_EN_NW:
    case FOR_FMT_EN: return format_real(v, *isb, w, 0, 0, kKindEN, field);
    case FOR_FMT_ENE: return format_real(v, *isb, w, 0, e, kKindEN | kKindExpGiven, field);
    case FOR_FMT_ES_NW:
    case FOR_FMT_ES: return format_real(v, *isb, w, 0, 0, kKindES, field);
    case FOR_FMT_ESE: return format_real(v, *isb, w, 0, e, kKindES | kKindExpGiven, field);
    case FOR_FMT_EX: return format_real(v, *isb, w, 0, e, kKindEX, field);
    case FOR_FMT_G_NW:
    case FOR_FMT_G:
    case FOR_FMT_GE:
        switch (c) {
        case Class::signed_int:
        case Class::unsigned_int: return edit_integer(v, *isb, w, 1, field);
        case Class::logical: return edit_logical(v, *isb, w, field);
        case Class::character: return edit_character(static_cast<const char *>(v.address), v.length, w, field);
        case Class::other: return msg::format_type_mismatch;
        default: return format_real(v, *isb, w, w, e, e != 0 && isb->opcode == FOR_FMT_GE ? kKindExpGiven : 0, field);
        }
    case FOR_FMT_Q: return 0;
    default: return msg::invalid_argument;
    }
}
