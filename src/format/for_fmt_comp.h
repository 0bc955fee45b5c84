// The format compiler: turns a character format given at run time into the
// compiled-format record stream of <vorlix/format.h>, the same stream a
// compiler emits for constant formats. Also the tables that describe that
// stream (which opcode a record stands for, how many fields each needs) and
// the default widths of descriptors written without one.
#pragma once
#include <cstddef>
#include <array>
#include <cstdint>
#include <string_view>

#include <vorlix/abi.h>
#include <vorlix/format.h>

struct For_Fmt_Isb;

// Every record of a format this compiler accepts starts below 4 GiB from the
// format start, so the 32-bit group-restart and reversion offsets of the
// interpretation state always reach it.
constexpr uint32_t for_fmt_max_size = UINT32_MAX;

// A literal record holds at most this many characters; longer text becomes
// several consecutive literal records.
constexpr uint32_t for_fmt_max_literal = 65535;

// The largest d, m or e a record can carry: its header holds them in 8 bits.
constexpr uint32_t for_fmt_max_dme = 255;

// The repeat count of an unlimited group *( ... ).
constexpr int64_t for_fmt_unlimited = INT64_MAX;

// The compiler's working state: the growing record buffer and the record
// being collected.
struct For_Fmt_Builder {
    unsigned char *buf = nullptr;
    uint32_t size = 0;  // bytes used; capacity is size rounded up to 512
    uint32_t limit = for_fmt_max_size;
    uint8_t op = 0;     // pending opcode, 0 = none
    uint8_t count = 0;  // numeric fields collected, repeat count included
    uint64_t f1 = 0;    // repeat count / count
    int64_t f2 = 0;     // width, position, scale factor
    uint32_t f3 = 0;    // d, or m of I/B/O/Z
    uint32_t f4 = 0;    // e
};

// Validates the pending record against fmt_check, appends it as a generic
// record (short or long form) and clears the pending opcode. 0, 62 or 41.
int emit_comp_fmt(For_Fmt_Builder &b);

// Appends one DT record in the run-time layout (opcode 119), repeat count
// from b.f1, and clears the pending opcode. 0 or 41.
int emit_udio(For_Fmt_Builder &b, const char *type_name, std::size_t type_len, const char *vlist,
              std::size_t vlist_len);

// Appends literal records for `len` characters: none when len is 0, one
// record per 65535 characters otherwise. 0 or 41.
int emit_literal(For_Fmt_Builder &b, const char *text, std::size_t len);

// Compiles the format text at fmt (length, address). On success stores the
// new compiled format, allocated through for__get_vm, in *result and
// returns 0; otherwise stores nothing and returns 62 (syntax error, a d, m
// or e above for_fmt_max_dme among them), 643 (groups nested deeper than
// for_fmt_max_depth levels), 181 (empty unlimited group) or 41 (no
// memory). With `diagnose` nonzero most syntax errors first issue message
// 58 quoting the text near the fault.
int for__format_compiler(const For_Char_Format *fmt, unsigned char **result, int32_t diagnose);

// The same, on a text view, with the size of the result reported and the
// largest compiled size accepted given (a smaller limit lets tests reach the
// size check without building gigabytes). Over the limit: 41.
int for__format_compile_text(std::string_view text, bool diagnose, uint32_t limit, unsigned char **result,
                             uint32_t *size);

// Releases the compiled format of a statement when the statement owns it
// (isbf::format_owned), clearing the flag, the format start and the current
// record; a format from compiled code is left alone.
void for__format_free(For_Fmt_Isb *isb);

// The value of a variable-format-expression slot through the statement's
// table (context word 2). A slot of unknown kind or type is an internal
// consistency failure (message 8) and yields 0.
int64_t get_vfe_value(const void *table, const For_Vfe_Slot *slot);

// fmt_cat: for each opcode a record may carry (0..122), its category and
// the opcode it stands for. Category 0: invalid. 1..5: generic record
// (1 + the number of fields the opcode has in use; all five read alike).
// 6..10: compact one-word records. 11: DT in the compiled-code layout.
// 12: DT in the run-time layout. The literal (28) is category 8.
struct For_Fmt_Cat {
    uint8_t category;
    uint8_t op;
};
constexpr int for_fmt_ncodes = 123;
extern const std::array<For_Fmt_Cat, for_fmt_ncodes> fmt_cat;

// fmt_check: for each opcode the number of numeric fields a record must
// carry (repeat count included) and the opcode to switch to when more were
// given (0 = none).
struct For_Fmt_Check {
    uint8_t fields;
    uint8_t alt;
};
extern const std::array<For_Fmt_Check, for_fmt_ncodes> fmt_check;

// Default widths of descriptors written without a width, indexed by item
// type code (0..70); 0 means the descriptor has no default for the type.
// The CHARACTER rows of the B and O/Z tables hold a marker that selects the
// length-based rule (B: 8n, at least 17; O and Z: 3n, at least 7).
constexpr int for_fmt_ntypes = 71;
constexpr uint16_t for_fmt_b_char_marker = 65535;
constexpr uint8_t for_fmt_oz_char_marker = 255;
constexpr int for_fmt_l_width = 2;
extern const uint8_t for__i_fmt_table[for_fmt_ntypes];
extern const uint16_t for__b_fmt_table[for_fmt_ntypes];
extern const uint8_t for__oz_fmt_table[for_fmt_ntypes];

// Real and complex defaults: w, the F0.d width base, d, e. All zero for a
// code that is no real or complex type.
struct For_Fedg_Width {
    uint16_t w;
    uint16_t f0_base;
    uint16_t d;
    uint16_t e;
};
extern const For_Fedg_Width for__fedg_fmt_table[for_fmt_ntypes];
