// Per-unit settings that the environment gives once for the whole run:
// F_UFMTENDIAN, the byte order of unformatted units, and
// FOR_FMT_TERMINATOR, the record terminator of formatted stream files.
// Both are read at the first OPEN that asks and never again.
#pragma once
#include <cstdint>
#include <string_view>

// Scans F_UFMTENDIAN (once per process, whichever thread asks first).
void SetEndian();

// The byte order F_UFMTENDIAN gives `unit`: 1 big-endian, -1
// little-endian, 0 when it says nothing about the unit.
int CheckEndian(int unit);

// The record type FOR_FMT_TERMINATOR gives a formatted stream file on
// `unit`: 6 STREAM_LF, 7 STREAM_CR, 8 STREAM_CRLF, or 0 when it says
// nothing about the unit.
int CheckStreamRecortType(int unit);

// OPEN of a formatted file that gave no RECORDTYPE and is not a terminal:
// when FOR_FMT_TERMINATOR has a terminator for `unit`, it becomes the
// record type and the carriage control becomes NONE (the terminator is
// all that ends a record). False, leaving both alone, when it has none.
bool for__set_terminator_option(int unit, uint8_t *record_type, uint8_t *carriage_control);

// What one of the two variables says, decoded. The grammar:
//
//   value   := word | [word ';'] [word ':'] list
//   list    := entry {',' entry}       (at most 64 entries)
//   entry   := n | n '-' m             (n <= m, decimal unit numbers)
//
// `word` is one of the variable's words (big, little; or CR, LF, CRLF).
// A word alone applies to every unit; before ';' it applies to the units
// the list leaves out; before ':' it applies to the listed units (without
// it, the variable's default word does).
struct For_Unit_Setting {
    static constexpr int max_ranges = 64;
    int32_t mode = 0;       // for the units not listed
    int32_t exception = 0;  // for the listed units
    int32_t count = 0;
    int32_t beg[max_ranges] = {};
    int32_t end[max_ranges] = {};

    // The answer for one unit.
    int32_t lookup(int unit) const;
};

// One word of a variable and the mode it stands for.
struct For_Setting_Word {
    std::string_view word;
    int32_t mode;
};

// Decodes `text` with the variable's words; `listed_default` is the mode of
// a list without its own word. False on a syntax error (`out` is then the
// empty setting).
bool for__parse_unit_setting(std::string_view text, const For_Setting_Word *words, int nwords, int32_t listed_default,
                             For_Unit_Setting *out);
