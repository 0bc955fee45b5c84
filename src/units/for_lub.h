// The unit block: one per Fortran unit in use (external unit, NEWUNIT
// number, preconnected console unit, or an internal file for the length of
// one statement).
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

#include <vorlix/abi.h>

#include "io/for_stmt_state.h"

struct For_Aio_Hold;  // asynchronous-transfer block of a unit
struct For_Tty_Pair;  // terminal pairing of an input unit with its output unit
struct For_Lub;

// Connection flags (lub_flags). Bits not named here belong to the
// facilities that set them.
namespace lubf {
constexpr uint64_t bit(int n) { return uint64_t{1} << n; }
// Unit option bits 0 to 10: taken from the statement's flag word when the
// unit is connected (for__merge_statement_options) and kept for the life of
// the connection.
constexpr uint64_t options = 0x7ff;
// ENDFILE writes an end-of-file record (and EOF looks for one); it also
// keeps BLANK=NULL off for a unit without FILE=, gives terminals FORTRAN
// carriage control and forbids the read-only retry of a refused open.
constexpr uint64_t opt_eof_records = bit(0);
// Fortran-90 run-time semantics: PAD=YES by default, DELIM= applies to
// list-directed output, undelimited list-directed character input is text.
constexpr uint64_t opt_f90 = bit(1);
constexpr uint64_t opt_compat = bit(2);         // compatibility option
constexpr uint64_t opt_no_char_blank = bit(3);  // no blank before a list-directed character item
// A logical true is stored as 1, not -1, and any nonzero value reads as true.
constexpr uint64_t opt_true_is_one = bit(4);
constexpr uint64_t opt_specific_msgs = bit(5);     // OPEN reports the specific keyword messages
constexpr uint64_t opt_alt_list = bit(6);          // the alternative list-directed field widths
constexpr uint64_t opt_uf_compat_layout = bit(7);  // UNFORMATTED takes the compatibility layout
constexpr uint64_t opt_hi_a = bit(8);              // copied from iof_hi_opt_a; nothing tests it yet
// Carriage control of the console units: 1 FORTRAN, 2 LIST, 3 NONE, 0 undecided.
constexpr int opt_console_cc_shift = 9;
constexpr uint64_t opt_console_cc = uint64_t{3} << opt_console_cc_shift;
constexpr uint64_t preconnected = bit(11);      // preconnected, not yet opened
constexpr uint64_t preconnected_env = bit(12);  // preconnected, FORTn names its file
constexpr uint64_t opened = bit(13);
constexpr uint64_t readonly = bit(14);  // READONLY, or read-only after a refused open
constexpr uint64_t write_only = bit(15);
constexpr uint64_t scratch = bit(16);     // deleted at close
constexpr uint64_t must_exist = bit(17);  // STATUS='OLD': never created
constexpr uint64_t dispose_delete = bit(18);
constexpr uint64_t dispose_print = bit(19);
constexpr uint64_t dispose_submit = bit(20);
constexpr uint64_t append = bit(21);
constexpr uint64_t action_read = bit(31);  // ACTION='READ' (deletion allowed)
constexpr uint64_t formatted = bit(22);
constexpr uint64_t unformatted = bit(23);
constexpr uint64_t access_seq = bit(25);
constexpr uint64_t access_stream = bit(26);
constexpr uint64_t access_direct = bit(27);
constexpr uint64_t access_keyed = bit(28);
constexpr uint64_t blank_null = bit(29);
constexpr uint64_t stmt_err = bit(32);      // ERR= in the active statement
constexpr uint64_t stmt_end = bit(33);      // END=
constexpr uint64_t stmt_eor = bit(34);      // EOR=
constexpr uint64_t eof_tracking = bit(36);  // the position is at the end of file
constexpr uint64_t eof = bit(37);           // end-of-file condition reached
constexpr uint64_t eor_tracking = bit(38);  // the position is at an end of record
constexpr uint64_t positionable = bit(39);  // not a terminal, FIFO or socket
constexpr uint64_t foreign = bit(40);       // unformatted data converted on transfer
constexpr uint64_t big_endian = bit(41);
constexpr uint64_t define_file = bit(42);  // DEFINE FILE done, not yet opened
constexpr uint64_t position_unchanged = bit(43);
constexpr uint64_t recl_defaulted = bit(44);  // no RECL: the buffer may grow
constexpr uint64_t truncate_after_write = bit(45);
constexpr uint64_t virtual_recl = bit(46);
constexpr uint64_t form_binary = bit(47);
constexpr uint64_t compat_layout = bit(48);  // unformatted in the compatibility layout
constexpr uint64_t recl_scaled = bit(51);    // RECL counted in 4-byte units
constexpr uint64_t output_buffered = bit(52);
constexpr uint64_t buffered_yes = bit(53);
constexpr uint64_t threshold_given = bit(54);
constexpr uint64_t no_wrap_margin = bit(55);
constexpr uint64_t at_start = bit(56);
constexpr uint64_t own_fd = bit(57);          // the descriptor is ours to close
constexpr uint64_t partial_record = bit(58);  // a non-advancing statement left the record open
constexpr uint64_t read_ahead = bit(60);      // the buffer holds input not yet consumed
constexpr uint64_t held_records = bit(61);    // complete output records wait in the buffer
constexpr uint64_t no_terminator = bit(62);   // this record is written without its terminator
constexpr uint64_t no_buffering = bit(63);    // FORT_NO_BUFFERING: every record goes out at once
constexpr uint64_t pad = bit(49);
constexpr uint64_t cvterr_quiet = bit(59);  // output conversion errors not reported
}  // namespace lubf

// Statement and hold flags (lub_stmt_flags).
namespace lubs {
constexpr uint64_t bit(int n) { return uint64_t{1} << n; }
constexpr uint64_t name_from_cmdline = bit(10);  // FILE= blank: name from the command line
constexpr uint64_t compat = bit(11);
constexpr uint64_t buffered_default = bit(13);
constexpr uint64_t reset_by_close = bit(18);  // a preconnected block reset by CLOSE
constexpr uint64_t rewind_note = bit(19);     // the statement is a REWIND
constexpr uint64_t strict_ldin = bit(30);
constexpr uint64_t compact_int = bit(31);
// Flag-word bits 41 (iof_hi_41, taken when the unit is connected) and 45
// (taken by every statement), carried for the editing layers; no layer
// reads them yet. Bit 46 asks for the minus sign of a negative value that
// rounds to zero.
constexpr uint64_t carried_iof41 = bit(35);
constexpr uint64_t no_wrap_margin = bit(36);
constexpr uint64_t held = bit(41);
constexpr uint64_t deallocating = bit(42);
constexpr uint64_t carried_iof45 = bit(46);
constexpr uint64_t minus_rounded_zero = bit(47);  // iof_minus_rounded_zero
constexpr uint64_t iostat = bit(52);
// Flag-word bits 48 to 51: the statement's f77 run-time mode (bits 49 and
// 51 decide whether PAD= draws msg::pad_specifier_not_allowed_f77rtl).
constexpr uint64_t f77rtl_mode = 0xfull << 53;
constexpr uint64_t nested = bit(57);
constexpr uint64_t iomsg_quiet = bit(58);  // handled conditions leave IOMSG= alone
constexpr uint64_t pos_given = bit(7);     // POS= in the active statement
// Cleared when a statement ends: they describe only the statement.
constexpr uint64_t statement_only =
    iostat | carried_iof45 | minus_rounded_zero | f77rtl_mode | strict_ldin | rewind_note | pos_given;
}  // namespace lubs

// The library-side fields of the unit block. The layout is private to the
// library; the block is 856 bytes so that the facilities still to come keep
// their state inside it (lub_reserved) instead of in side tables.
struct For_Lub_Fields {
    // -- Header: survives the reset of a unit whose implicit connection failed.
    std::atomic<uint32_t> lub_owner_thread;  // lock word: holder's thread id, bit 31 = waiters
    std::atomic<uint32_t> lub_refs;          // references that keep a hashed block alive
    uint32_t lub_nested;                     // inspections nested inside the holder's statement
    uint32_t lub_header_pad;

    // -- Everything from here on is cleared when a unit is reset.
    For_Aio_Hold *lub_aio;  // asynchronous-transfer block, null when none
    For_Lub *lub_aio_next;
    int64_t lub_unit_copy;
    uint8_t lub_busy;  // bit 0: a statement is active on this unit
    uint8_t lub_pad0[7];
    For_Lub *lub_thread_next;  // next internal-file unit of this thread
    For_Lub *lub_hash_next;    // next unit of the same hash bucket (ascending)
    char *lub_buf;             // record buffer
    char *lub_buf_ptr;         // current position in the record
    char *lub_user_buf;        // internal file: the program's variable
    char *lub_buf_limit;       // last usable position of the record area
    char *lub_rec_start;       // start of the current record's data
    void *lub_assoc_var;       // ASSOCIATEVARIABLE=
    void *lub_a_nml_isb;       // namelist state
    void *lub_udio;            // state of a running user-defined I/O child
    char *lub_file_name;       // NUL-terminated, owned by the block
    For_Context *lub_ctx;      // context of the active statement
    const char *lub_bad_spec;  // offending specifier of messages 103 and 104
    For_Tty_Pair *lub_tty_pair;
    uint64_t lub_record_number;
    uint64_t lub_file_pos;
    uint64_t lub_append_size;
    uint64_t lub_maxrec;
    uint64_t lub_errno;  // errno of the last failing system call
    // errno of a write that failed on the unit's output, 0 when none: the
    // bytes it could not write stay held in the buffer, and until a flush
    // gets them out every transfer statement on the unit reports it.
    uint64_t lub_write_errno;
    uint64_t lub_buf_size;
    uint64_t lub_rec_len;
    uint64_t lub_recl;
    uint64_t lub_recl_bytes;
    uint64_t lub_ldir_count;
    uint64_t lub_block_size;
    uint64_t lub_buf_threshold;
    uint64_t lub_ldir_line_len;
    uint64_t lub_flags;
    uint64_t lub_stmt_flags;
    int32_t lub_fd;
    int32_t lub_unit;
    int32_t lub_msg_line;  // >0: report "line, position" with the next message
    int16_t lub_file_name_len;
    uint16_t lub_udio_depth;  // child statements of defined I/O running on the unit
    uint8_t lub_xfer_kind;
    uint8_t lub_record_type;
    uint8_t lub_organization;
    uint8_t lub_carriage_control;
    uint8_t lub_assoc_kind;
    uint8_t lub_convert;
    uint8_t lub_delim;
    uint8_t lub_op;
    uint8_t lub_round;
    uint8_t lub_decimal;
    uint8_t lub_sign;
    uint8_t lub_encoding;
    uint8_t lub_rec_overhead;
    uint8_t lub_share_mode;     // 4 shared lock held, 16 exclusive lock held
    uint64_t lub_stream_pos;    // byte position of a stream-access unit
    uint64_t lub_dev, lub_ino;  // identity of the connected file

    // -- Record buffers (io/for_rec.h).
    char *lub_ra_end;       // input: end of the valid data read into the buffer
    char *lub_ra_next;      // input: start of the next unread record
    char *lub_rec_end;      // output: end of the data written into the record so far
    char *lub_ifile_end;    // internal file: end of the program's variable
    uint8_t lub_rec_state;  // which record the buffer holds: For_Rec_State
    uint8_t lub_tty;        // 0 not asked yet, 1 not a terminal, 2 a terminal
    uint8_t lub_line_open;  // FORTRAN or prompt output left the line without its end
    // The last statement was a sequential READ that ended on its record:
    // the record a REWRITE may replace.
    uint8_t lub_rec_read;

    // -- Unformatted sequential records (unformatted/for_ufseq.h).
    int64_t lub_marker_pos;       // output: file offset of the open subrecord's leading marker
    int64_t lub_direct_start;     // output: file offset where a record written straight to the file began, -1 unknown
    uint64_t lub_subrec_written;  // output: bytes of that subrecord in the file, marker included
    int64_t lub_subrec_room;      // output: bytes the open subrecord still takes, -1 none open
    uint64_t lub_subrec_index;    // 0 for a record's first subrecord or segment, then 1, 2, ...
    uint64_t lub_rec_remaining;   // input: bytes of the current subrecord or segment not consumed
    uint64_t lub_subrec_len;      // input: data length of the current subrecord or segment
    uint64_t lub_uf_bytes;        // data bytes of the current record so far
    uint64_t lub_uf_area_len;     // lub_rec_len before a long buffered record grew the area
    uint16_t lub_seg_control;     // control word of the current segment
    uint8_t lub_uf_state;         // ufs:: bits
    uint8_t lub_compat_state;     // compatibility layout: cls:: bits, they outlive statements
    uint8_t lub_block_byte;       // compatibility layout, input: the current block's length byte

    // -- Direct-access file buffer (unformatted/for_dir_buf.h).
    uint64_t lub_dir_first;      // record number of the buffer's first slot
    uint64_t lub_dir_held;       // records the buffer holds from lub_dir_first
    uint64_t lub_dir_last_read;  // the record read last: a read of the next one reads ahead
    uint64_t lub_dir_bytes_out;  // bytes the buffer's flushes wrote
    uint64_t lub_dir_writes;     // write calls those flushes made
    uint64_t lub_dir_bytes_in;   // bytes read into the buffer
    uint8_t lub_dir_pending;     // the held records are output not yet in the file

    // -- REWRITE of a sequential record (io/for_seq_rewrite.h), while it runs.
    int64_t lub_rewrite_at;     // file offset of the record
    uint64_t lub_rewrite_len;   // its bytes with their framing
    uint64_t lub_rewrite_data;  // the data bytes among them

    // -- The statement running on the unit (io/for_stmt_state.h).
    For_Stmt_State lub_stmt;
};

struct For_Lub : For_Lub_Fields {
    unsigned char lub_reserved[856 - sizeof(For_Lub_Fields)];
};
static_assert(sizeof(For_Lub) == 856);

// Offset of the first field that a reset clears.
constexpr size_t lub_reset_from = offsetof(For_Lub_Fields, lub_aio);
