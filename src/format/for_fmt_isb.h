// The state of one formatted statement as its format is walked: which
// descriptor is current, its fields, the group stack and the modes in
// force. Editing (input and output) reads the current descriptor from here.
#pragma once
#include <cstdint>

struct For_Lub;

// Rounding modes as the state carries them.
enum class For_Round : uint8_t { none = 0, ru = 1, rd = 2, rz = 3, rn = 4, rc = 5, rp = 6 };

namespace isbf {  // bits of For_Fmt_Isb::flags
constexpr uint32_t blank_bn = 1u << 0;
constexpr uint32_t blank_bz = 1u << 1;
constexpr uint32_t blank_mask = blank_bn | blank_bz;
constexpr uint32_t sign_sp = 1u << 2;
constexpr uint32_t sign_ss = 1u << 3;
constexpr uint32_t sign_s = 1u << 4;
constexpr uint32_t sign_mask = sign_sp | sign_ss | sign_s;
constexpr uint32_t input = 1u << 5;       // the statement reads
constexpr uint32_t zero_width = 1u << 6;  // the descriptor had w = 0
constexpr uint32_t data_seen = 1u << 21;  // a data edit since the group or format began
// A data edit since the point reversion returns to: bit 21 is cleared by
// every group start, so it cannot answer for a reversion group that holds
// a nested group after its data edits, as in (2(I2,(1X))).
constexpr uint32_t data_since_reversion = 1u << 22;
constexpr uint32_t suppress_terminator = 1u << 23;  // "$" met: the last record keeps its line open
constexpr uint32_t format_cached = 1u << 24;        // the format belongs to the thread's format cache
constexpr uint32_t format_owned = 1u << 25;         // compiled at run time: freed at statement end
constexpr uint32_t compat_logical_i = 1u << 26;     // I editing reads logical values
constexpr uint32_t end_of_list_mask = 7u << 28;
// The list has ended: the interpreter is only draining control items and
// does not evaluate variable format expressions any more.
constexpr uint32_t end_of_list = 1u << 28;
constexpr uint32_t empty_format = 1u << 31;
}  // namespace isbf

namespace isbm {                              // bits of For_Fmt_Isb::modes, passed to editing as option bits
constexpr uint16_t width_computed = 1u << 1;  // F0.d: the field takes the width it needs
constexpr uint16_t decimal_dc = 1u << 2;
constexpr uint16_t decimal_dp = 1u << 3;
constexpr uint16_t decimal_mask = decimal_dc | decimal_dp;  // neither: the unit's DECIMAL=
constexpr uint16_t g_no_width = 1u << 4;                    // G without w, or G0
// Passed through to the real converters as their option bits 0x20 and
// 0x80. Nothing in the library sets them (a statement's modes start at
// zero) and no converter acts on them yet.
constexpr uint16_t cvt_option_20 = 1u << 5;
constexpr uint16_t cvt_option_80 = 1u << 7;
// A negative value that rounds to zero keeps its minus sign.
constexpr uint16_t minus_rounded_zero = 1u << 6;
constexpr uint16_t any_g = 1u << 8;
constexpr uint16_t d_nonzero = 1u << 9;
constexpr uint16_t w_zero = 1u << 10;
}  // namespace isbm

// Groups nest up to for_fmt_max_depth levels (the format compiler refuses
// more with msg::format_nesting_limit_exceeded). The first
// for_fmt_inline_depth levels live in the state itself, which stays small
// enough for the unit block; a format that nests deeper gets the other
// levels in an area of its own (For_Fmt_Deep_Groups), given back with the
// statement's format.
constexpr int for_fmt_max_depth = 32;
constexpr int for_fmt_inline_depth = 8;

struct For_Fmt_Deep_Groups {
    int64_t count[for_fmt_max_depth - for_fmt_inline_depth];
    uint32_t restart[for_fmt_max_depth - for_fmt_inline_depth];
};

// The formatted alternative of a statement's transfer state, set up anew
// by every formatted statement; `unit` is the statement's unit, which
// editing reads its connection modes from. Group and reversion offsets are 32 bits wide: a format compiled at run
// time may be longer than 65535 bytes.
struct For_Fmt_Isb {
    For_Lub *unit;
    const unsigned char *format_start;  // the opening-parenthesis record
    const unsigned char *current;       // next record to interpret
    const char *dt_type_name;           // DT'type'(v-list), NUL-terminated, or null
    const char *dt_v_list;
    int64_t repeat;            // remaining repeats of the current descriptor
    int64_t deferred_warning;  // 63 once a field overflowed into asterisks
    // Remaining repetitions and restart offset of the open groups of depth
    // 1..for_fmt_inline_depth, at [depth - 1]; deeper ones in *deep_groups.
    int64_t group_count[for_fmt_inline_depth];
    uint32_t group_restart[for_fmt_inline_depth];
    For_Fmt_Deep_Groups *deep_groups;  // null until a group opens that deep
    int64_t decoded_width;             // field 2 as decoded, to restore w on reuse
    int64_t w;                         // width, position or literal length
    const char *literal;
    uint32_t reversion;  // where reversion resumes, from format start
    uint16_t d;          // d, or m of Iw.m, Bw.m, Ow.m, Zw.m
    uint16_t e;          // exponent digits
    int8_t scale;        // scale factor k
    int8_t depth;        // group depth, 0 outermost
    uint8_t opcode;
    For_Round rounding;
    uint32_t flags;
    uint16_t modes;
};
static_assert(sizeof(For_Fmt_Isb) <= 216, "the formatted state lives in the unit block");
