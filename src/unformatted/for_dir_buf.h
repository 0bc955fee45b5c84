// Direct access: records placed by number, and the direct file buffer.
//
// Record r lies at byte (r - 1) x lub_rec_len; there is no framing. The
// record buffer holds a window of consecutive records, slot i holding
// record lub_dir_first + i, lub_dir_held of them. Either they were read
// from the file (lub_dir_pending 0: a cache that every write keeps true)
// or they were written and are not yet in the file (lub_dir_pending 1).
// An unbuffered unit's buffer is one record long, so each record goes out
// as it is completed.
//
// While a statement transfers a record, [lub_rec_start, lub_buf_limit) is
// its data area inside the record's slot (after the marker byte of a
// relative file), lub_buf_ptr the position and, on output, lub_rec_end
// the end of what was written.
#pragma once
#include <cstdint>

#include "units/for_lub.h"

// A relative file whose records start with a marker byte: a blank for a
// record that holds data, '@' for a deleted one.
bool for__dir_marked(const For_Lub *lub);

// Checks record number r for the unit: at least 1, at most MAXREC when one
// is set, and with its record's end at an offset the file can have. 0 or 25.
int for__dir_check_rec(const For_Lub *lub, int64_t r);

// Checks the kind of the associated variable: 0, or 48 for a kind that is
// not an integer or logical of 1, 2, 4 or 8 bytes.
int for__dir_assoc_check(const For_Lub *lub);
// Stores v into the associated variable, when there is one.
void for__dir_assoc_store(const For_Lub *lub, uint64_t v);

// What a transfer by record number requires of its connection, after the
// frame's own checks: 554 (not direct), 271 (in a child statement), 48
// (associated variable), 25 (record number).
int for__dir_check_stmt(For_Lub *lub, int64_t r);

// Writes the pending records of the direct file buffer: 0 or 38.
int for__flush_file_buffer(For_Lub *lub);

// Starts output record r in its slot, after writing the pending records
// when r does not continue them: 0, 25 or 38.
int for__dir_begin_output(For_Lub *lub, uint64_t r);

// Completes the current output record lub_record_number (record fill,
// terminators) and places it: pending in the buffer, or written when the
// buffer is full or the unit unbuffered. The record number steps on.
// 0 or 38.
int for__put_d(For_Lub *lub);

// Brings record lub_record_number into the buffer and makes it the
// current input record, completed with the record fill when the file ends
// inside it; the record number steps on. 0, 36 (no such record: the record
// number is left at it) or 39.
int for__get_d(For_Lub *lub);

// Unformatted items: `n` bytes into or out of the current record. A
// FORM=BINARY unit continues in the next record; any other gives 66
// (output) or 22 (input) when the record has no room left.
int for__dir_put_bytes(For_Lub *lub, const char *p, uint64_t n);
int for__dir_get_bytes(For_Lub *lub, char *p, uint64_t n);

// A record boundary that a format asks for ('/', reversion): the output
// record is put and the next one started blank, or the next input record
// is read. 0, 25, 36, 38 or 39.
int for__dir_next_record(For_Lub *lub, bool output);

// How a statement by record number starts: READ and WRITE with REC= r;
// REWRITE rebuilds the record read last, one before lub_record_number.
enum class For_Dir_Start { read, write, rewrite };

// The start of a transfer by record number once the frame holds the unit:
// marks the statement direct, checks it (for__dir_check_stmt) and makes
// record r the current record: for input read (pending output first
// written), for output laid out in its slot. 0 or the failure.
int for__dir_begin(For_Lub *lub, int64_t r, For_Dir_Start how);

// The end of a READ or WRITE by record number: the output record is put
// (for__put_d), the associated variable receives the next record number.
int for__dir_finish(For_Lub *lub, bool output);

// The implicit connection of REWRITE: a unit without a connection has no
// record read before, and nothing is opened. Always 53.
int for__rewrite_unconnected(For_Lub *lub, int access, int status, int form);

// DELETE of record r of a relative file: 0, 25, 38 or 55.
int for__dir_delete(For_Lub *lub, uint64_t r);
