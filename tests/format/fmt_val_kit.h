// Editing one item as a formatted WRITE would, for the output-editing
// tests: a descriptor written the way a format shows it (with the control
// edits in force before it) becomes the state block the interpreter would
// hand over, and the field comes back as text.
#pragma once
#include <gtest/gtest.h>
#include <vorlix/format.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "format/for_fmt_isb.h"
#include "format/for_fmt_val.h"
#include "units/for_lub.h"

namespace fmtkit {

enum class Ed { I, B, O, Z, F, E, D, EN, ES, G, L, A, AT, EX, Q };

// One data edit descriptor and the modes in force: w < 0 means "no width
// given", d < 0 "no .d / .m", e > 0 "Ee given"; mods are control edits such
// as "SP", "DC", "RU", "2P", separated by commas, as a format writes them.
struct Desc {
    Ed ed;
    int w, d, e;
    std::string mods;
    Desc(Ed ed_, int w_ = -1, int d_ = -1, int e_ = 0, std::string mods_ = {})
        : ed(ed_), w(w_), d(d_), e(e_), mods(std::move(mods_)) {}
};

inline const char *ed_name(Ed ed) {
    static const char *const n[] = {"I", "B", "O", "Z", "F", "E", "D", "EN", "ES", "G", "L", "A", "AT", "EX", "Q"};
    return n[static_cast<int>(ed)];
}

// The descriptor as Fortran format text, e.g. "SP,RU,F8.3" or "E12.4E3".
inline std::string fortran_text(const Desc &x) {
    std::string s = x.mods.empty() ? "" : x.mods + ",";
    s += ed_name(x.ed);
    if (x.w >= 0) s += std::to_string(x.w);
    if (x.d >= 0) s += "." + std::to_string(x.d);
    if (x.e > 0) s += "E" + std::to_string(x.e);
    return s;
}

inline uint8_t opcode_of(const Desc &x) {
    const bool m = x.d >= 0, ee = x.e > 0;
    switch (x.ed) {
    case Ed::I: return m ? FOR_FMT_IM : FOR_FMT_I;
    case Ed::B: return m ? FOR_FMT_BM : FOR_FMT_B;
    case Ed::O: return m ? FOR_FMT_OM : FOR_FMT_O;
    case Ed::Z: return m ? FOR_FMT_ZM : FOR_FMT_Z;
    case Ed::F: return FOR_FMT_F;
    case Ed::E: return ee ? FOR_FMT_EE : FOR_FMT_E;
    case Ed::D: return FOR_FMT_D;
    case Ed::EN: return ee ? FOR_FMT_ENE : FOR_FMT_EN;
    case Ed::ES: return ee ? FOR_FMT_ESE : FOR_FMT_ES;
    case Ed::G: return ee || x.w == 0 ? FOR_FMT_GE : FOR_FMT_G;
    case Ed::L: return FOR_FMT_L;
    case Ed::A: return x.w < 0 ? FOR_FMT_A_NW : FOR_FMT_A;
    case Ed::AT: return FOR_FMT_AT;
    case Ed::EX: return FOR_FMT_EX;
    case Ed::Q: return FOR_FMT_Q;
    }
    return 0;
}

// A unit block for the statement: zeroed, as OPEN leaves a plain unit.
struct Unit {
    For_Lub lub;
    Unit() { std::memset(static_cast<void *>(&lub), 0, sizeof lub); }
};

// The state block that the interpreter sets up for the descriptor.
// `resolved_w` stands in for the width the transfer code resolves for a
// descriptor without width or with w = 0.
inline For_Fmt_Isb make_isb(const Desc &x, For_Lub *unit, int64_t resolved_w) {
    For_Fmt_Isb isb;
    std::memset(static_cast<void *>(&isb), 0, sizeof isb);
    isb.unit = unit;
    isb.opcode = opcode_of(x);
    isb.w = x.w > 0 ? x.w : resolved_w;
    isb.d = static_cast<uint16_t>(x.d > 0 ? x.d : 0);
    isb.e = static_cast<uint16_t>(x.e);
    if (x.ed == Ed::G) isb.modes |= isbm::any_g;
    if (x.d > 0) isb.modes |= isbm::d_nonzero;
    if (x.w == 0) {
        isb.flags |= isbf::zero_width;
        isb.modes |= isbm::width_computed | isbm::w_zero;
        if (x.ed == Ed::G) isb.modes |= isbm::g_no_width;
    }
    size_t at = 0;
    const std::string &m = x.mods;
    while (at < m.size()) {
        size_t end = m.find(',', at);
        if (end == std::string::npos) end = m.size();
        const std::string t = m.substr(at, end - at);
        at = end + 1;
        if (t == "SP")
            isb.flags = (isb.flags & ~isbf::sign_mask) | isbf::sign_sp;
        else if (t == "SS")
            isb.flags = (isb.flags & ~isbf::sign_mask) | isbf::sign_ss;
        else if (t == "S")
            isb.flags = (isb.flags & ~isbf::sign_mask) | isbf::sign_s;
        else if (t == "DC")
            isb.modes = static_cast<uint16_t>((isb.modes & ~isbm::decimal_mask) | isbm::decimal_dc);
        else if (t == "DP")
            isb.modes = static_cast<uint16_t>((isb.modes & ~isbm::decimal_mask) | isbm::decimal_dp);
        else if (t == "RU")
            isb.rounding = For_Round::ru;
        else if (t == "RD")
            isb.rounding = For_Round::rd;
        else if (t == "RZ")
            isb.rounding = For_Round::rz;
        else if (t == "RN")
            isb.rounding = For_Round::rn;
        else if (t == "RC")
            isb.rounding = For_Round::rc;
        else if (!t.empty() && t.back() == 'P')
            isb.scale = static_cast<int8_t>(std::stoi(t.substr(0, t.size() - 1)));
        else
            ADD_FAILURE() << "unknown control edit " << t;
    }
    return isb;
}

struct Edited {
    int status;
    std::string field;
};

// Edits the item into a field with guard bytes on both sides, checks that
// nothing outside the field was touched, and for w = 0 descriptors does
// what the transfer code does with the field: drops its leading blanks.
inline Edited edit(const void *addr, int type, int64_t length, const Desc &x, For_Lub *unit = nullptr,
                   int64_t resolved_w = 0) {
    Unit own;
    For_Fmt_Isb isb = make_isb(x, unit ? unit : &own.lub, resolved_w);
    const int64_t w = isb.w;
    constexpr size_t guard = 16;
    std::vector<char> buf(static_cast<size_t>(w) + 2 * guard, '#');
    std::memset(buf.data() + guard, ' ', static_cast<size_t>(w));
    For_Value_Info v{const_cast<void *>(addr), type, length};  // editing only reads it
    const int st = for__format_value(&v, &isb, buf.data() + guard);
    for (size_t i = 0; i < guard; ++i) {
        EXPECT_EQ(buf[i], '#') << "wrote before the field: " << fortran_text(x);
        EXPECT_EQ(buf[guard + static_cast<size_t>(w) + i], '#') << "wrote after the field: " << fortran_text(x);
    }
    std::string f(buf.data() + guard, static_cast<size_t>(isb.w));
    if (x.w == 0) {
        const size_t nb = f.find_first_not_of(' ');
        f = nb == std::string::npos ? std::string() : f.substr(nb);
    }
    return {st, f};
}

}  // namespace fmtkit
