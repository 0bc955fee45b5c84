// The run-time message table: every message number the library returns or
// reports, with its severity and built-in text.  The table itself is generated
// at build time from for_msgtab.txt (tools/gen_msgtab.py).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

struct For_Msg_Row {
    uint32_t number;        // message number; ascending and unique in the table
    uint32_t severity;      // 0 plain, 1 info, 2 warning, 3 error, 4 severe
    const char *text;       // built-in text, a printf format
    const char *signature;  // for__printf_signature(text), computed at build time
};

inline constexpr std::size_t for_msgtab_count = 572;

extern const For_Msg_Row for_msgtab_norvo[for_msgtab_count];

// The row of `number`, or null when `number` is not a message.
const For_Msg_Row *for__msg_row(int number);

// The printf conversions of `fmt` in order, joined by ','.  Each one is written
// as a '*' per star width or precision, its length modifiers and its letter:
// "%d of %s" -> "d,s", "%.*s" -> "*s", "%8.8x" -> "x", "%ld" -> "ld".  "%%" and
// "%m" take no argument and do not appear.  A conversion that cannot be
// trusted with the arguments of the built-in text (positional "%1$d", "%n", an
// unknown letter, a '%' at the end) appends "!" and ends the scan; no built-in
// signature contains "!", so such a text never matches one.
// A width or precision written with more than for_msg_field_digits digits
// is refused the same way: no message needs one, and "%999999999d" would
// cost seconds of padding per message.
std::string for__printf_signature(std::string_view fmt);

inline constexpr std::size_t for_msg_field_digits = 3;
