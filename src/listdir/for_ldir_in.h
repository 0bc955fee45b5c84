// List-directed input: the scanning state of one READ (*) statement and
// the transfer that the external and the internal-file entries share, so
// that an internal file reads exactly as an external one.
#pragma once
#include <cstdint>

#include <vorlix/abi.h>

#include "io/for_desc_item.h"

struct For_Lub;

// What the value last scanned is.
enum class For_Ldir_Class : uint8_t {
    none,       // nothing scanned yet, or its uses are exhausted
    null,       // a null value: leaves its items unchanged
    logical,    // T, F, .T, .F and what follows up to a terminator
    number,     // accepted by the number lexer
    character,  // delimited, or undelimited text under the f90 mode
    complex     // a parenthesised pair of numbers
};

namespace ldf {  // bits of For_Ldir_In_State::flags
constexpr uint32_t need_sep = 1u << 0;   // a value ended and its separator is still ahead
constexpr uint32_t started = 1u << 1;    // a value (or null) was scanned in this statement
constexpr uint32_t slash = 1u << 2;      // a slash ended the input of the statement
constexpr uint32_t f90 = 1u << 3;        // undelimited character values are text
constexpr uint32_t strict = 1u << 4;     // logical and non-logical fields do not mix
constexpr uint32_t copied = 1u << 5;     // the field text lives in `text`, not in the record
}  // namespace ldf

// Lives in the unit's state block (lub_a_ldir_isb), which the formatted
// state shares; the first word is the block's pointer back to its unit and
// stays as it is.
struct For_Ldir_In_State {
    For_Lub *unit;
    // Copies of values that cannot stay in the record: delimited character
    // values (they may span records, and doubled delimiters shrink) and the
    // two parts of a complex value (a record end may separate them). Heap,
    // grown on demand, freed when the statement ends or fails.
    char *text;
    uint64_t text_cap;
    // The current value: its text (the real part of a complex value), and
    // for a complex value the imaginary part's text as well.
    const char *field;
    int64_t field_len;
    int64_t imag_off;    // offset of the imaginary part in `text`
    int64_t imag_len;
    uint32_t repeat;     // remaining uses of the current value
    uint32_t flags;      // ldf:: bits
    For_Ldir_Class cls;
    char sep;            // ',' or, under DECIMAL=COMMA, ';'
    char point;          // '.' or ','
};
static_assert(sizeof(For_Ldir_In_State) <= 216, "the state block lives in 216 bytes beside its unit");

// Prepares the state for a statement on a held unit and positions it at its
// first record. `flags` is the statement's flag word. 0 or a status that
// fails the statement.
int for__ldir_in_begin(For_Lub *lub, For_IO_Flags flags);

// The transfer of list-directed input: one value per element of each item.
struct For_Ldir_In {
    int item(For_Lub *lub, const For_Item &item, const For_Shape &shape);
    int finish(For_Lub *lub);
};
