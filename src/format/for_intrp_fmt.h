// The format interpreter: walks a compiled format in step with the items
// of a formatted statement, carrying out the control records itself and
// stopping at each record that the transfer code must act on. Also the
// setup of a statement's format (compiled by the program, or text compiled
// here through the thread's format cache) and its release.
#pragma once
#include <cstdint>

#include <vorlix/abi.h>

#include "format/for_fmt_isb.h"

struct For_Lub;

inline For_Fmt_Isb *for__fmt_isb(For_Lub *lub);

// Advances the unit's format state to just past the next record that
// needs the transfer code (a data edit, a literal, a slash, a colon, "$",
// Q, DT or the format end) and describes it in the state block. Control
// records on the way are carried out (modes, groups, scale factor,
// positioning); a group repeated without handing anything to the transfer
// code is settled at once rather than run (see Idle_Groups). Returns 0; 62
// for an invalid record, 643 for groups nested deeper than
// for_fmt_max_depth, 41 when the state of the deeper groups cannot be
// allocated, 8 for a record code no compiler produces, 68 for a variable
// format expression out of range, 40 when the state has no current record.
int for__interp_fmt(For_Lub *unit);

// Selects the formatted transfer state of the statement on the unit and
// sets it up: the modes from the unit, and the format itself. With `text` the format is a For_Char_Format
// compiled at run time (from the thread's cache when the same text was
// compiled before); otherwise it is a compiled format from the program.
// `diagnose`: a syntax error first issues message 58. 0, 62, 181 or 41.
int for__fmt_stmt_start(For_Lub *lub, const void *fmt, bool text, bool diagnose);

// Gives up the statement's format: frees a format the statement owns,
// returns a cached one to the cache. The statement's release calls it.
void for__fmt_stmt_done(For_Fmt_Isb &isb);

// Compiled run-time formats are cached per thread, keyed by their text:
// a loop that writes with the same character format compiles it once.
// The cache holds at most this many formats; the least recently used one
// that no running statement uses makes room for a new text.
constexpr int for_fmt_cache_entries = 16;
// Texts longer than this are compiled for their statement only.
constexpr int64_t for_fmt_cache_max_text = 4096;

// How many compilations the calling thread's cache has done (tests).
uint64_t for__fmt_cache_compiles();

#include "units/for_lub.h"
// The formatted state of the statement on the unit, null when its
// statement is not a formatted one.
inline For_Fmt_Isb *for__fmt_isb(For_Lub *lub) { return lub->lub_stmt.xfer.if_formatted(); }
