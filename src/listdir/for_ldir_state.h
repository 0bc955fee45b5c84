// The states of one list-directed statement that carry over its transfer
// calls: the scanning state of an input statement and the line state of an
// output statement. They are alternatives of a statement's transfer state
// (io/for_stmt_state.h), so they hold no pointer back to their unit.
#pragma once
#include <cstdint>

// What the value last scanned is.
enum class For_Ldir_Class : uint8_t {
    none,       // nothing scanned yet, or its uses are exhausted
    null,       // a null value: leaves its items unchanged
    logical,    // T, F, .T, .F and what follows up to a terminator
    number,     // accepted by the number lexer
    character,  // delimited, or undelimited text under the f90 mode
    complex     // a parenthesised pair of numbers
};

namespace ldf {                         // bits of For_Ldir_In_State::flags
constexpr uint32_t need_sep = 1u << 0;  // a value ended and its separator is still ahead
constexpr uint32_t started = 1u << 1;   // a value (or null) was scanned in this statement
constexpr uint32_t slash = 1u << 2;     // a slash ended the input of the statement
constexpr uint32_t f90 = 1u << 3;       // undelimited character values are text
constexpr uint32_t strict = 1u << 4;    // logical and non-logical fields do not mix
constexpr uint32_t copied = 1u << 5;    // the field text lives in `text`, not in the record
}  // namespace ldf

struct For_Ldir_In_State {
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
    int64_t imag_off;  // offset of the imaginary part in `text`
    int64_t imag_len;
    uint32_t repeat;  // remaining uses of the current value
    uint32_t flags;   // ldf:: bits
    For_Ldir_Class cls;
    char sep;    // ',' or, under DECIMAL=COMMA, ';'
    char point;  // '.' or ','
};

struct For_Ldir_Out_State {
    int32_t pending;    // a failure held until the end of the statement
    int32_t prev_type;  // type code of the previous value, 0 at statement start
    uint8_t at_record_start;
    uint8_t compact;   // integers in their minimal width (once started)
    uint8_t internal;  // writing an internal file
    uint8_t pad;
    int64_t line_base;  // stream units: where the current line's fields began
    char *self_begin;   // the internal file's variable, for the write-to-self check
    char *self_end;
};
