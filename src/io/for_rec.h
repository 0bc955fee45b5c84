// Formatted record buffers: the record area of a unit, what a record looks
// like on the file (length words, terminators, carriage control), writing
// records to the descriptor with buffering, and finding input records with
// read-ahead. Formatted, list-directed and namelist transfers build records
// here and never touch a descriptor themselves.
//
// The record area of a unit, between statements and during one:
//   lub_rec_start        first data byte of the current record
//   lub_buf_ptr          current position (the next character goes here)
//   lub_buf_limit        output: end of the usable area; input: end of the
//                        record's data (its terminator is not part of it)
//   lub_rec_end          output: end of the data written so far
// Output records that are complete but not yet written (BUFFERED=YES) lie
// in lub_buf up to lub_user_buf; the next record is built right after them.
#pragma once
#include <cstdint>
#include <string_view>

#include "diag/for_msgnum.h"
#include "io/for_tty_pair.h"
#include "runtime/for_write_all.h"
#include "units/for_lub.h"

struct For_Item;
struct For_Shape;

// Record types (lub_record_type) and carriage control (lub_carriage_control).
enum class For_Rec_Type : uint8_t {
    none = 0,
    fixed = 1,
    variable_2 = 2,
    segmented = 3,
    variable = 4,
    stream = 5,
    stream_lf = 6,
    stream_cr = 7,
    stream_crlf = 8
};

// The record type of a unit as transfers and positioning treat it: the
// second VARIABLE code is VARIABLE.
inline For_Rec_Type for__record_type(const For_Lub *lub) {
    auto t = static_cast<For_Rec_Type>(lub->lub_record_type);
    return t == For_Rec_Type::variable_2 ? For_Rec_Type::variable : t;
}
enum class For_Cc : uint8_t { unset = 0, fortran = 1, list = 2, none = 3 };

// What the buffer holds for the statement layer (lub_rec_state).
enum For_Rec_State : uint8_t { rec_idle = 0, rec_output = 1, rec_input = 2 };

// Largest single read or write when the unit gives no block size.
constexpr uint64_t for_default_block = 131072;

// Largest single read or write straight between a program's variable and
// the file: cutting those into block-sized calls only costs system calls,
// and the kernel moves little more than 2 GiB in one call anyway.
constexpr uint64_t for_direct_chunk = uint64_t{1} << 30;

// The longest formatted output record a unit without RECL= grows to, in
// bytes from the record's start. T, TR and X positions may lie far past it
// (they are kept pending up to 2^46) and so may field widths; a record
// that would reach past it is refused with 66 before anything is
// allocated, as a record past RECL is. 1 GiB is more than any line a
// program means to write, and keeps the record area (the record, the
// records held before it and the growth slack) below 2 GiB: the largest
// length a default INTEGER (INQUIRE RECL=) can report and the largest
// block the sanitizers' and fuzzers' allocators hand out by default.
constexpr uint64_t for_max_grown_record = uint64_t{1} << 30;

// -- Output --------------------------------------------------------------

// Lays out a fresh output record area (mode 0) or an empty input record
// (mode 1) at the buffer start, or after the records held back.
int for__reset_buf(For_Lub *lub, int mode);

// Starts the output of a statement: gives back input read ahead, then
// continues the record a non-advancing statement left open, or lays out a
// fresh one.
int for__begin_output(For_Lub *lub);

// Puts `text` at the current position, growing the record area when the
// unit allows it (66 when it cannot: the record is longer than RECL, or
// than for_max_grown_record without RECL).
int for__rec_put(For_Lub *lub, std::string_view text);
// `n` copies of `c` (blank padding, X editing that writes).
int for__rec_fill(For_Lub *lub, char c, uint64_t n);
// Makes room for `n` bytes at the current position without writing them
// (editing in place); the caller then calls for__rec_mark.
int for__rec_room(For_Lub *lub, uint64_t n);
// Records that the data now reaches the current position.
inline void for__rec_mark(For_Lub *lub) {
    if (lub->lub_buf_ptr > lub->lub_rec_end) lub->lub_rec_end = lub->lub_buf_ptr;
}

// Completes and writes the current sequential formatted record and lays
// out the next one: 0, 38 (write failed, errno in lub_errno) or 66.
int for__put_sf(For_Lub *lub);

// The end of an output statement: an advancing statement completes its
// record; a non-advancing one leaves it open (and, on a terminal, makes it
// the prompt that the next read of the terminal writes out first).
int for__end_output(For_Lub *lub);

// A line left open on the unit's file (a record written without its line
// end): by this unit, or on a terminal by whichever unit wrote to it last.
bool for__line_is_open(const For_Lub *lub);
// That line has been ended by someone else's line feed.
void for__line_closed(For_Lub *lub);

// Ends the current record early so that a prompt stays on the line.
int for__new_line_break_record(For_Lub *lub);

// Writes `len` bytes of `data` for the unit, or holds them back in the
// buffer when they are the unit's own record and buffering is on.
// len 0: flush the held records. 0 written, 1 held (or nothing to do),
// -1 a write failed (errno set).
int for__write_output(For_Lub *lub, const char *data, uint64_t len);

// The case of for__write_output that the statements meet most, decided
// inline: the unit's own record, built at the free end of its buffer, is
// held back while buffering is on and room for more stays behind it.
// On a file that other units write as well, the unit holds records only
// while it is the file's holder; the general path first sends out what
// another unit holds.
inline bool for__hold_output(For_Lub *lub, const char *data, uint64_t len) {
    const uint64_t fl = lub->lub_flags;
    const char *next_free = (fl & lubf::held_records) ? lub->lub_user_buf : lub->lub_buf;
    const char *buf_end = lub->lub_buf + lub->lub_buf_size;
    if (!lub->lub_buf || data != next_free || !(fl & lubf::output_buffered) || (fl & lubf::no_buffering) ||
        static_cast<uint64_t>(buf_end - (data + len)) < 2 * lub->lub_rec_len)
        return false;
    For_Tty_Pair *file = lub->lub_tty_pair;
    if (file) {
        For_Lub *h = file->holder.load(std::memory_order_relaxed);
        if (h != lub) {
            if (h) return false;
            file->holder.store(lub, std::memory_order_relaxed);
        }
    }
    lub->lub_user_buf = const_cast<char *>(data) + len;
    lub->lub_flags = fl | lubf::held_records;
    return true;
}

// Flushes the held records (FLUSH, CLOSE, program end, repositioning): 0
// or 38. A write that fails keeps what it could not write held, so a later
// flush tries again; one that succeeds ends the unit's write failure.
int for__flush_output(For_Lub *lub);

// A unit whose output could not all be written refuses every transfer
// statement with the failure until a flush gets that output out: 0, or 38
// with the failed write's errno.
inline int for__output_failed(For_Lub *lub) {
    if (lub->lub_write_errno == 0) return 0;
    lub->lub_errno = lub->lub_write_errno;
    return msg::write_error;
}

// A sequential write in the middle of a file cuts it after the record
// just written (at the descriptor's offset): 0 or 38.
int for__truncate_here(For_Lub *lub);

// Grows the record area by `wanted` bytes (at least `minimum`): 0, 41 or 66.
int for__adjust_buffer(For_Lub *lub, uint64_t minimum, uint64_t wanted);

// -- Input ---------------------------------------------------------------

// Reads up to `len` bytes: 1 with *count (0 at end of file), 0 on a read
// error (errno set). A positionable descriptor is read until `len` or end
// of file; anything else returns after one successful read (a line).
// Each read(2) asks for at most `chunk` bytes (0: the unit's block size).
int for__read_input(int fd, char *buf, uint64_t len, uint64_t *count, For_Lub *lub, uint64_t chunk = 0);

// Finds the next sequential formatted record: afterwards the record's data
// is [lub_rec_start, lub_buf_limit) and lub_buf_ptr is at its start.
// 0, 22, 24 (end of file), 38, 39, 44, 98.
int for__get_s(For_Lub *lub);

// The start of an input statement: continues the record a non-advancing
// read left open, else reads the next one (for__get_s).
int for__begin_input(For_Lub *lub);

// The end of an input statement: an advancing read is done with its
// record; a non-advancing one keeps its position for the next statement.
int for__end_input(For_Lub *lub);

// Gives back input read ahead of the program's position before output or
// repositioning (`extra` bytes fewer): 0 or 38.
int for__flush_readahead(For_Lub *lub, int64_t extra);

// -- Internal files ------------------------------------------------------

// Makes the program's character variable the record area of an internal
// file unit (a block acquired with unit -5): `count` records of `elem_len`
// characters each, contiguous from `var`. The first record is current.
// Output records are blank-filled as they begin; the variable's records
// that the statement does not reach are left as they were.
int for__ifile_setup(For_Lub *lub, char *var, uint64_t elem_len, uint64_t count, bool output);

// The same from the first item of an internal statement, the file itself,
// for formatted and list-directed statements alike: a character scalar is
// one record, an array or section one record per element. The records must
// lie one after another; a compiler passes a copy of any section that does
// not. 0, or 48 when the item cannot be an internal file.
int for__ifile_from_item(For_Lub *lub, const For_Item &file, const For_Shape &shape, bool output);

// The record buffer moved from `old` to `now` (it grew): every pointer into
// it moves along. Pointers that may point elsewhere (lub_user_buf) are the
// caller's to move.
inline void for__rebase_buffer(For_Lub *lub, char *old, char *now) {
    for (char **p : {&lub->lub_buf_ptr, &lub->lub_buf_limit, &lub->lub_rec_start, &lub->lub_rec_end, &lub->lub_ra_end,
                     &lub->lub_ra_next})
        if (*p) *p = now + (*p - old);
    lub->lub_buf = now;
}
