// What the input-editing tests share: a format item written as Fortran
// ("BZ,2P,F8.2") turned into the state the format interpreter would leave
// for input editing, and a data item of a Fortran type with room to spare,
// so that a test sees every byte editing writes.
#pragma once
#include <gtest/gtest.h>
#include <vorlix/abi.h>
#include <vorlix/format.h>

#include <cctype>
#include <cstring>
#include <string>
#include <string_view>

#include "format/for_cvt_val.h"
#include "units/for_lub.h"

namespace cvt_val {

// The Fortran type of an item, by the name a test writes: i1..i8, u1..u8
// (unsigned), r4, r8, r16, l1..l8, cN (CHARACTER(N)).
struct Type {
    int code = 0;
    int64_t size = 0;
    std::string fortran;  // declaration type, empty for unsigned items
};

inline Type type_of(std::string_view name) {
    if (name == "i1") return {FOR_TYPE_INT1, 1, "integer(1)"};
    if (name == "i2") return {FOR_TYPE_INT2, 2, "integer(2)"};
    if (name == "i4") return {FOR_TYPE_INT4, 4, "integer(4)"};
    if (name == "i8") return {FOR_TYPE_INT8, 8, "integer(8)"};
    if (name == "u1") return {FOR_TYPE_UINT1, 1, ""};
    if (name == "u2") return {FOR_TYPE_UINT2, 2, ""};
    if (name == "u4") return {FOR_TYPE_UINT4, 4, ""};
    if (name == "u8") return {FOR_TYPE_UINT8, 8, ""};
    if (name == "r4") return {FOR_TYPE_REAL4, 4, "real(4)"};
    if (name == "r8") return {FOR_TYPE_REAL8, 8, "real(8)"};
    if (name == "r16") return {FOR_TYPE_REAL16, 16, "real(16)"};
    if (name == "l1") return {FOR_TYPE_LOGICAL1, 1, "logical(1)"};
    if (name == "l2") return {FOR_TYPE_LOGICAL2, 2, "logical(2)"};
    if (name == "l4") return {FOR_TYPE_LOGICAL4, 4, "logical(4)"};
    if (name == "l8") return {FOR_TYPE_LOGICAL8, 8, "logical(8)"};
    if (name.size() > 1 && name[0] == 'c') {
        const int64_t n = std::stoll(std::string(name.substr(1)));
        return {FOR_TYPE_CHARACTER, n, "character(len=" + std::to_string(n) + ")"};
    }
    ADD_FAILURE() << "no such item type " << name;
    return {};
}

// The state after the interpreter has met the modes and the data edit
// descriptor of `fmt` (comma-separated, the data descriptor last), as a
// statement on a unit with BLANK='NULL' and no ROUND= would have it.
inline For_Fmt_Isb isb_of(std::string_view fmt, const Type &item, For_Lub *unit = nullptr) {
    For_Fmt_Isb isb{};
    isb.unit = unit;
    isb.flags = isbf::blank_bn;
    std::string s(fmt);
    size_t start = 0;
    while (start <= s.size()) {
        size_t comma = s.find(',', start);
        if (comma == std::string::npos) comma = s.size();
        std::string t = s.substr(start, comma - start);
        start = comma + 1;
        if (t == "BN" || t == "BZ") {
            isb.flags = (isb.flags & ~isbf::blank_mask) | (t == "BN" ? isbf::blank_bn : isbf::blank_bz);
        } else if (t == "DC" || t == "DP") {
            isb.modes = static_cast<uint16_t>((isb.modes & ~isbm::decimal_mask) |
                                              (t == "DC" ? isbm::decimal_dc : isbm::decimal_dp));
        } else if (t == "RU")
            isb.rounding = For_Round::ru;
        else if (t == "RD")
            isb.rounding = For_Round::rd;
        else if (t == "RZ")
            isb.rounding = For_Round::rz;
        else if (t == "RN")
            isb.rounding = For_Round::rn;
        else if (t == "RC")
            isb.rounding = For_Round::rc;
        else if (t == "RP")
            isb.rounding = For_Round::rp;
        else if (!t.empty() && t.back() == 'P') {
            isb.scale = static_cast<int8_t>(std::stoi(t.substr(0, t.size() - 1)));
        } else {
            // The data edit descriptor: letters, w, optional .d, optional Ee.
            size_t i = 0;
            while (i < t.size() && std::isalpha(static_cast<unsigned char>(t[i]))) ++i;
            const std::string name = t.substr(0, i);
            int64_t w = -1, d = -1, e = -1;
            size_t j = i;
            while (j < t.size() && std::isdigit(static_cast<unsigned char>(t[j]))) ++j;
            if (j > i) w = std::stoll(t.substr(i, j - i));
            if (j < t.size() && t[j] == '.') {
                size_t k = ++j;
                while (j < t.size() && std::isdigit(static_cast<unsigned char>(t[j]))) ++j;
                d = std::stoll(t.substr(k, j - k));
            }
            if (j < t.size() && t[j] == 'E') e = std::stoll(t.substr(j + 1));
            const bool m = d >= 0, has_e = e >= 0;
            int op = 0;
            if (name == "I")
                op = m ? FOR_FMT_IM : FOR_FMT_I;
            else if (name == "B")
                op = m ? FOR_FMT_BM : FOR_FMT_B;
            else if (name == "O")
                op = m ? FOR_FMT_OM : FOR_FMT_O;
            else if (name == "Z")
                op = m ? FOR_FMT_ZM : FOR_FMT_Z;
            else if (name == "F")
                op = FOR_FMT_F;
            else if (name == "E")
                op = has_e ? FOR_FMT_EE : FOR_FMT_E;
            else if (name == "D")
                op = FOR_FMT_D;
            else if (name == "EN")
                op = has_e ? FOR_FMT_ENE : FOR_FMT_EN;
            else if (name == "ES")
                op = has_e ? FOR_FMT_ESE : FOR_FMT_ES;
            else if (name == "G")
                op = has_e ? FOR_FMT_GE : FOR_FMT_G;
            else if (name == "L")
                op = FOR_FMT_L;
            else if (name == "A")
                op = w < 0 ? FOR_FMT_A_NW : FOR_FMT_A;
            else
                ADD_FAILURE() << "no descriptor " << t;
            isb.opcode = static_cast<uint8_t>(op);
            // A without a width takes the item's length, as the transfer
            // code resolves it.
            isb.w = w < 0 ? item.size : w;
            isb.d = static_cast<uint16_t>(d < 0 ? 0 : d);
            isb.e = static_cast<uint16_t>(e < 0 ? 0 : e);
        }
    }
    return isb;
}

// Room for the item, with guard bytes on both sides that editing must not
// touch.
struct Slot {
    static constexpr int kGuard = 16;
    static constexpr unsigned char kFill = 0xA5;
    alignas(16) unsigned char bytes[kGuard + 256 + kGuard];
    int64_t size;

    explicit Slot(int64_t n) : size(n) { std::memset(bytes, kFill, sizeof bytes); }
    void *data() { return bytes + kGuard; }
    const unsigned char *value() const { return bytes + kGuard; }
    // Bytes beyond the item that editing wrote, -1 when none.
    int first_touched_outside() const {
        for (int i = 0; i < kGuard; ++i)
            if (bytes[i] != kFill) return i - kGuard;
        for (int64_t i = kGuard + size; i < static_cast<int64_t>(sizeof bytes); ++i)
            if (bytes[i] != kFill) return static_cast<int>(i - kGuard);
        return -1;
    }
};

// Reads `field` into a fresh item of type `type` under `fmt`; the result's
// message number and the item's bytes.
struct Outcome {
    int status;
    Slot slot;
};

inline Outcome edit(std::string_view fmt, std::string_view type, std::string_view field, For_Lub *unit = nullptr) {
    const Type t = type_of(type);
    For_Fmt_Isb isb = isb_of(fmt, t, unit);
    EXPECT_EQ(isb.w, static_cast<int64_t>(field.size())) << "the field of " << fmt << " is its width";
    Outcome out{0, Slot(t.size)};
    const For_Value_Info item{out.slot.data(), t.code, t.size};
    out.status = for__cvt_value(&isb, field.data(), &item);
    EXPECT_EQ(out.slot.first_touched_outside(), -1) << fmt << " '" << field << "' wrote outside its item";
    return out;
}

// The item as uppercase hexadecimal without leading zeros (Fortran's Z0 of
// the bits), a logical as T or F, a character value in brackets.
inline std::string shown(const Outcome &o, std::string_view type) {
    const Type t = type_of(type);
    const unsigned char *v = o.slot.value();
    if (t.code == FOR_TYPE_CHARACTER) return "[" + std::string(reinterpret_cast<const char *>(v), t.size) + "]";
    if (t.code >= FOR_TYPE_LOGICAL4_ALT && t.code <= FOR_TYPE_LOGICAL8) {
        // Fortran's truth of a logical is its lowest bit.
        return (v[0] & 1) ? "T" : "F";
    }
    std::string hex;
    static const char digits[] = "0123456789ABCDEF";
    for (int64_t i = t.size - 1; i >= 0; --i) {
        hex += digits[v[i] >> 4];
        hex += digits[v[i] & 15];
    }
    const size_t nz = hex.find_first_not_of('0');
    return nz == std::string::npos ? "0" : hex.substr(nz);
}

}  // namespace cvt_val
