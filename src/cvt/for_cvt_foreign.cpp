// The element conversions of unformatted transfers on units with a foreign
// representation: byte reversal for the big-endian ones, and the floating
// conversion routines chosen by the item's type and the unit's code.
#include "cvt/for_cvt_foreign.h"

#include <cstring>

#include <vorlix/cvt_foreign.h>

#include "diag/for_diag.h"
#include "diag/for_msgnum.h"
#include "units/for_lub.h"

namespace {

using Routine = int32_t (*)(const void *, uint32_t, void *);

// Conversion codes of lub_convert.
enum Code : uint8_t { native = 0, vaxg = 1, vaxd = 2, ibm = 3, cray = 4, fdx = 5, fgx = 6 };
constexpr int codes = 7;

// What the program's variable holds, by type code.
enum Class : int8_t {
    not_floating = -2,  // integers, logicals, characters, derived types
    no_class = -1,      // floating codes no conversion knows
    vax_f = 0,
    vax_d = 1,
    vax_g = 2,
    no_routine = 3,
    ieee_s = 4,
    ieee_t = 5,
    ieee_x = 6
};

Class class_of(int type) {
    switch (type) {
    case 25:
    case 31: return vax_f;
    case 45:
    case 42: return vax_d;
    case 46:
    case 43: return vax_g;
    case 47:
    case 51: return no_routine;
    case 26:
    case 28:
    case 29: return ieee_s;
    case 48:
    case 40:
    case 44: return ieee_t;
    case 50:
    case 52: return ieee_x;
    default: return type >= 25 && type <= 52 ? no_class : not_floating;
    }
}

bool integral(int type) { return type >= 5 && type <= 17; }

// Reading: by class, then by code. An empty entry keeps the bytes.
constexpr Routine read_routine[7][codes] = {
    /* VAX F */ {cvt_ieee_single_to_vax_f},
    /* VAX D */ {cvt_ieee_double_to_vax_d},
    /* VAX G */ {cvt_ieee_double_to_vax_g},
    {},
    /* binary32 */
    {nullptr, cvt_vax_f_to_ieee_single, cvt_vax_f_to_ieee_single, cvt_ibm_short_to_ieee_single, nullptr,
     cvt_vax_f_to_ieee_single, cvt_vax_f_to_ieee_single},
    /* binary64 */
    {nullptr, cvt_vax_g_to_ieee_double, cvt_vax_d_to_ieee_double, cvt_ibm_long_to_ieee_double, cvt_cray_to_ieee_double,
     cvt_vax_d_to_ieee_double, cvt_vax_g_to_ieee_double},
    {},
};

// Writing: by code, then by class.
constexpr Routine write_routine[codes][7] = {
    /* native */ {cvt_vax_f_to_ieee_single, cvt_vax_d_to_ieee_double, cvt_vax_g_to_ieee_double},
    /* VAXG */ {nullptr, nullptr, nullptr, nullptr, cvt_ieee_single_to_vax_f, cvt_ieee_double_to_vax_g},
    /* VAXD */ {nullptr, nullptr, nullptr, nullptr, cvt_ieee_single_to_vax_f, cvt_ieee_double_to_vax_d},
    /* IBM */ {nullptr, nullptr, nullptr, nullptr, cvt_ieee_single_to_ibm_short, cvt_ieee_double_to_ibm_long},
    /* CRAY */ {nullptr, nullptr, nullptr, nullptr, nullptr, cvt_ieee_double_to_cray},
    /* FDX */ {nullptr, nullptr, nullptr, nullptr, cvt_ieee_single_to_vax_f, cvt_ieee_double_to_vax_d},
    /* FGX */ {nullptr, nullptr, nullptr, nullptr, cvt_ieee_single_to_vax_f, cvt_ieee_double_to_vax_g},
};

bool big_endian(const For_Lub *lub) { return (lub->lub_flags & lubf::big_endian) != 0; }
bool foreign(const For_Lub *lub) { return (lub->lub_flags & lubf::foreign) != 0; }
uint8_t code_of(const For_Lub *lub) { return lub->lub_convert < codes ? lub->lub_convert : uint8_t{native}; }

// Floating values whose bytes are reversed besides (or instead of) a
// conversion: all of them under BIG_ENDIAN, binary128 ones on the other
// big-endian formats, which have no 128-bit form.
bool reversed(const For_Lub *lub, Class c) {
    if (!big_endian(lub)) return false;
    uint8_t code = code_of(lub);
    return code == native || (c == ieee_x && (code == ibm || code == cray));
}

void reverse(unsigned char *p, int64_t n) {
    for (int64_t i = 0, j = n - 1; i < j; ++i, --j) {
        unsigned char t = p[i];
        p[i] = p[j];
        p[j] = t;
    }
}

}  // namespace

int for__cvt_foreign_check(int type, int64_t count, const For_Lub *lub) {
    if (!foreign(lub) || count < 1) return 0;
    bool changes;
    if (integral(type)) {
        changes = big_endian(lub);
    } else {
        Class c = class_of(type);
        if (c == not_floating) return 0;
        changes = c == no_class || reversed(lub, c) ||
                  (c != no_routine && c != ieee_x && (read_routine[c][code_of(lub)] || write_routine[code_of(lub)][c]));
    }
    if (!changes) return 0;
    return (lub->lub_flags & (uint64_t{1} << 4)) ? 1 : -1;
}

int for__cvt_foreign_read(void *elem, int type, const For_Lub *lub, int64_t size) {
    auto *p = static_cast<unsigned char *>(elem);
    if (integral(type)) {
        if (big_endian(lub)) reverse(p, size);
        return 0;
    }
    Class c = class_of(type);
    if (c == not_floating) return 0;
    if (c >= 0 && reversed(lub, c)) reverse(p, size);
    if (c == no_class) return msg::float_conversion_failed;
    Routine r = c == no_routine || c == ieee_x ? nullptr : read_routine[c][code_of(lub)];
    if (!r) return 0;
    // A value without a form in the item's type still gets the routine's
    // answer for it (the invalid value, a NaN, or an infinity): the file's
    // bits left in place would read as some unrelated number.
    unsigned char scratch[16];
    const int32_t status = r(p, 0, scratch);
    std::memcpy(p, scratch, static_cast<size_t>(size));
    return status != 0 ? msg::float_conversion_failed : 0;
}

int for__cvt_foreign_write(const void *elem, int type, int64_t size, const For_Lub *lub, void *out) {
    auto *o = static_cast<unsigned char *>(out);
    int s = 0;
    Class c = integral(type) ? not_floating : class_of(type);
    if (c == no_class) return msg::float_conversion_failed;
    Routine r = c < 0 || c == no_routine || c == ieee_x ? nullptr : write_routine[code_of(lub)][c];
    if (r) {
        if (r(elem, 0, o) != 0) s = msg::float_conversion_failed;
    } else {
        std::memcpy(o, elem, static_cast<size_t>(size));
    }
    if (integral(type) ? big_endian(lub) : (c >= 0 && reversed(lub, c))) reverse(o, size);
    return s;
}

bool for__cvt_foreign_reverse_only(int type, const For_Lub *lub, bool output) {
    if (integral(type)) return big_endian(lub);
    Class c = class_of(type);
    if (c < 0 || !reversed(lub, c)) return false;
    if (c == no_routine || c == ieee_x) return true;
    return !(output ? write_routine[code_of(lub)][c] : read_routine[c][code_of(lub)]);
}

void for__cvt_foreign_failed() { for__issue_diagnostic(msg::float_conversion_failed, 0); }
