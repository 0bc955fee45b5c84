// The files that formatted units are connected to, one entry per file
// name, shared by every formatted unit on that file. Its marks let an input
// unit and an output unit on one terminal cooperate: a prompt written
// without its line end is sent out before the read that answers it, and the
// answer's echo then ends the prompt's line.
#pragma once
#include <atomic>
#include <cstdint>

struct For_Lub;

struct For_Tty_Pair {
    For_Tty_Pair *next;  // bucket list, ascending by strcmp of the name
    For_Tty_Pair *prev;
    char *name;          // owned copy
    For_Lub *saved_lub;  // the output unit whose partial record waits
    int32_t bucket;
    int32_t refs;             // formatted units connected to the file
    uint8_t line_open;        // the last output on the file left a line without its end
    uint8_t line_pending;     // saved_lub holds a partial record not yet written
    uint16_t prompt_pending;  // that partial record is a prompt for the next read
    uint8_t read_ahead;       // an input unit of the file holds read-ahead
    uint8_t continuation;     // the prompt continues a record written in part
    uint8_t pad[6];
    // The unit of the file whose buffer last held records back: another
    // unit writing the file sends those out first, so that units sharing a
    // file or descriptor (PRINT and WRITE (6)) keep program order.
    std::atomic<For_Lub *> holder;
};
static_assert(sizeof(For_Tty_Pair) == 64);

constexpr int for_file_info_buckets = 521;
extern For_Tty_Pair *for__file_info_hash_table[for_file_info_buckets];

// Bucket of a file name in the table.
int for__file_info_hash(const char *name, uint64_t len);

// Joins the unit to the entry of its file name (lub_file_name), creating
// it: 0 or 41. Called by open processing for formatted units.
int for__add_to_lf_table(For_Lub *lub);
// Leaves the entry; the last unit frees it. Called by CLOSE.
void for__rm_from_lf_table(For_Lub *lub);

// Before `lub` writes to its file: records another unit of the file holds
// back go out first. A unit that a statement of any thread is using is
// left alone; statements running at once have no order to keep. A failure
// to write them stays with that unit, which reports it.
void for__flush_other_holder(For_Lub *lub);

// Is the unit's descriptor a terminal? Asked once per connection.
bool for__unit_is_tty(For_Lub *lub);

// A prompt is waiting on a terminal for this output unit: its record is to
// be written without a line end.
bool for__tty_prompt_pending(const For_Lub *lub);

// The end of a non-advancing output statement on a unit with a file entry:
// when the unit is a terminal its open record becomes the pending prompt.
void for__tty_note_partial(For_Lub *lub);

// The work that a statement on `lub` owes to the paired output unit before
// it starts (operation `op`): write out the pending prompt record.
// 0 or the status with which the paired unit's statement was completed.
int for__tty_write_pending(For_Lub *lub, int op);

// Before a read on `lub`: a prompt that was written is answered by the
// read's echo (its line is closed by the terminal); an output line left
// open otherwise is ended with a line feed so that the input starts on a
// line of its own. 0 or 38.
int for__tty_before_read(For_Lub *lub);
