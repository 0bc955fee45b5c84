// Output records: laying out the record area, putting characters into it,
// completing a record with its control bytes and carriage control, and
// writing records to the descriptor, holding them back in the buffer while
// buffering is on so that the file sees few large writes.
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "io/for_rec.h"
#include "unformatted/for_dir_buf.h"

#include "diag/for_msgnum.h"
#include "io/for_desc_item.h"
#include "io/for_tty_pair.h"
#include "runtime/for_vm.h"
#include "unformatted/for_ufseq.h"
#include "units/for_pos_stmt.h"

namespace {

constexpr char LF = '\n', CR = '\r', FF = '\f';

// The FORTRAN carriage-control prefix area: the record's control
// character follows it, and the bytes that the control character stands
// for are placed right before the data.
constexpr int cc_prefix = 5;

bool internal(const For_Lub *lub) { return lub->lub_unit == FOR_UNIT_INTERNAL; }

For_Cc ccon(const For_Lub *lub) { return static_cast<For_Cc>(lub->lub_carriage_control); }

bool has_terminator_byte(For_Rec_Type t) {
    return t == For_Rec_Type::stream_lf || t == For_Rec_Type::stream_cr || t == For_Rec_Type::stream_crlf;
}

// FIXED records of a formatted direct file under the compatibility option
// end in CR LF inside the record length.
bool fixed_crlf(const For_Lub *lub) {
    constexpr uint64_t all = lubf::opt_compat | lubf::formatted | lubf::access_direct;
    return for__record_type(lub) == For_Rec_Type::fixed && (lub->lub_flags & all) == all;
}

// FORTRAN carriage control is carried out on the file, its control
// character turned into line movements, except on FIXED records: those
// hold RECL characters of data, the control character the first of them,
// so that the file stays a whole number of records.
bool fortran_edits(const For_Lub *lub) {
    return ccon(lub) == For_Cc::fortran && for__record_type(lub) != For_Rec_Type::fixed;
}

uint64_t chunk_of(const For_Lub *lub) { return lub->lub_block_size ? lub->lub_block_size : for_default_block; }

// Where the data of a record starts and how far short of B + L its area
// ends, for the unit's record type and carriage control.
struct Layout {
    int start;
    int limit_drop;
};

int layout_of(const For_Lub *lub, Layout *out) {
    For_Rec_Type t = for__record_type(lub);
    Layout l{0, 0};
    switch (t) {
    case For_Rec_Type::variable: l = {4, 4}; break;
    case For_Rec_Type::segmented:
        if (lub->lub_flags & lubf::formatted) return msg::inconsistent_record_type;
        break;
    case For_Rec_Type::stream_lf:
    case For_Rec_Type::stream_cr:
    case For_Rec_Type::stream_crlf: l.limit_drop = 1; break;
    default:
        if (fixed_crlf(lub)) l.limit_drop = 2;
        break;
    }
    if (!fixed_crlf(lub)) {
        // The terminator of types 6 to 8 already has its byte; the CR of
        // FORTRAN control and the LF of LIST need one more otherwise.
        if (fortran_edits(lub)) {
            if (!has_terminator_byte(t)) ++l.limit_drop;
            l.start += cc_prefix;
        } else if (ccon(lub) == For_Cc::list) {
            if (!has_terminator_byte(t)) ++l.limit_drop;
        }
    }
    *out = l;
    return 0;
}

char *area_base(const For_Lub *lub) {
    return (lub->lub_flags & lubf::held_records) && lub->lub_user_buf ? lub->lub_user_buf : lub->lub_buf;
}

bool growable(const For_Lub *lub) {
    if (internal(lub)) return false;
    For_Rec_Type t = for__record_type(lub);
    if (t == For_Rec_Type::fixed || t == For_Rec_Type::segmented) return false;
    return (lub->lub_flags & lubf::recl_defaulted) != 0;
}

// Moves the record being built from old_base to new_base (after the held
// records in front of it were written).
void relocate_record(For_Lub *lub, char *old_base, char *new_base) {
    if (old_base == new_base || !lub->lub_rec_start) return;
    char *end = lub->lub_rec_end > lub->lub_buf_ptr ? lub->lub_rec_end : lub->lub_buf_ptr;
    std::memmove(new_base, old_base, static_cast<size_t>(end - old_base));
    ptrdiff_t d = new_base - old_base;
    lub->lub_rec_start += d;
    lub->lub_buf_ptr += d;
    lub->lub_buf_limit += d;
    lub->lub_rec_end += d;
}

// A write of the unit's output failed: the `n` bytes at `rest` that did
// not go out are kept, after the held records still unwritten, at the
// front of the buffer. Records reported written are owed to the file until
// a flush gets them out; the unit reports the failure until then.
void keep_unwritten(For_Lub *lub, const char *rest, uint64_t n, int e) {
    char *to = (lub->lub_flags & lubf::held_records) ? lub->lub_user_buf : lub->lub_buf;
    if (n != 0) std::memmove(to, rest, static_cast<size_t>(n));
    if (to + n != lub->lub_buf) {
        lub->lub_user_buf = to + n;
        lub->lub_flags |= lubf::held_records;
    }
    lub->lub_write_errno = static_cast<uint64_t>(e);
    errno = e;
}

// Writes the records held back in the buffer. 0 or -1 (what did not go
// out is still held).
int drain_held(For_Lub *lub) {
    if (!(lub->lub_flags & lubf::held_records)) return 0;
    char *held_end = lub->lub_user_buf;
    const uint64_t n = static_cast<uint64_t>(held_end - lub->lub_buf);
    uint64_t done = 0;
    int r = for__write_all(lub->lub_fd, lub->lub_buf, n, chunk_of(lub), &done);
    lub->lub_flags &= ~lubf::held_records;
    lub->lub_user_buf = nullptr;
    if (r != 0) keep_unwritten(lub, lub->lub_buf + done, n - done, errno);
    return r;
}

// The record just handed over failed to go out whole: the statement
// reports it, and the next one lays out a fresh record area behind what is
// kept.
void forget_record(For_Lub *lub) {
    lub->lub_rec_state = rec_idle;
    lub->lub_flags &= ~lubf::partial_record;
}

void after_write(For_Lub *lub) {
    if ((lub->lub_flags & (lubf::access_stream | lubf::formatted)) == (lubf::access_stream | lubf::formatted))
        lub->lub_flags |= lubf::truncate_after_write;
}

// The bytes that a FORTRAN control character stands for, before the data,
// and whether the record ends with CR.
struct Cc_Effect {
    char prefix[4];
    int n;
    bool cr;
    bool leaves_open;  // the line stays open for what follows on it
};

Cc_Effect cc_effect(char c, bool line_open, bool compat) {
    Cc_Effect e{{}, 0, true, false};
    auto put = [&](char b) { e.prefix[e.n++] = b; };
    // A line movement: LF, or CR LF under the compatibility option.
    auto newline = [&] {
        if (compat) put(CR);
        put(LF);
    };
    switch (c) {
    case '0':
        if (line_open) newline();
        newline();
        break;
    case '1':
        if (line_open) newline();
        put(FF);
        break;
    case '+': break;
    case '$':
        if (line_open) newline();
        e.cr = false;
        e.leaves_open = true;
        break;
    case '\0':
        e.cr = false;
        e.leaves_open = true;
        break;
    default:
        if (line_open) newline();
        break;
    }
    return e;
}

// Lays out the area of an internal file's current record.
void ifile_layout(For_Lub *lub, int mode) {
    lub->lub_buf_ptr = lub->lub_rec_start;
    lub->lub_rec_end = lub->lub_rec_start;
    char *lim = lub->lub_rec_start + lub->lub_rec_len;
    lub->lub_buf_limit = lim > lub->lub_ifile_end ? lub->lub_ifile_end : lim;
    lub->lub_rec_state = mode == 0 ? rec_output : rec_input;
    lub->lub_flags &= ~lubf::partial_record;
}

// An internal file's record is complete: blank-pad it and step to the next
// element. Past the last element the area is empty, so the next character
// put there overflows.
int ifile_next_output(For_Lub *lub) {
    if (lub->lub_rec_end < lub->lub_buf_limit)
        std::memset(lub->lub_rec_end, ' ', static_cast<size_t>(lub->lub_buf_limit - lub->lub_rec_end));
    char *next = lub->lub_rec_start + lub->lub_rec_len;
    lub->lub_rec_start = next < lub->lub_ifile_end ? next : lub->lub_ifile_end;
    ++lub->lub_record_number;
    ifile_layout(lub, 0);
    return 0;
}

}  // namespace

bool for__line_is_open(const For_Lub *lub) {
    if (lub->lub_line_open) return true;
    const For_Tty_Pair *p = lub->lub_tty_pair;
    return p && p->line_open && p->saved_lub && p->saved_lub->lub_line_open;
}

void for__line_closed(For_Lub *lub) {
    lub->lub_line_open = 0;
    if (For_Tty_Pair *p = lub->lub_tty_pair) {
        p->line_open = 0;
        if (p->saved_lub) p->saved_lub->lub_line_open = 0;
    }
}

// A sequential WRITE cuts the file after the record it writes.
int for__truncate_here(For_Lub *lub) {
    lub->lub_flags &= ~lubf::truncate_after_write;
    off_t pos = ::lseek(lub->lub_fd, 0, SEEK_CUR);
    struct stat st;
    if (pos < 0 || ::fstat(lub->lub_fd, &st) != 0) {
        lub->lub_errno = static_cast<uint64_t>(errno);
        return msg::write_error;
    }
    if (pos < st.st_size && ::ftruncate(lub->lub_fd, pos) != 0 && errno != EINVAL) {
        lub->lub_errno = static_cast<uint64_t>(errno);
        return msg::write_error;
    }
    return 0;
}

int for__reset_buf(For_Lub *lub, int mode) {
    if (internal(lub)) {
        ifile_layout(lub, mode);
        return 0;
    }
    Layout l;
    if (int s = layout_of(lub, &l)) return s;
    char *b = area_base(lub);
    lub->lub_rec_start = lub->lub_buf_ptr = lub->lub_rec_end = b + l.start;
    lub->lub_buf_limit = b + lub->lub_rec_len - l.limit_drop;
    if (lub->lub_buf_limit < lub->lub_rec_start) lub->lub_buf_limit = lub->lub_rec_start;
    lub->lub_flags &= ~lubf::partial_record;
    if (mode == 0) {
        lub->lub_rec_state = rec_output;
        // Blanks are laid down as the record grows (for__rec_room), not
        // here: a grown record area can be far longer than the record.
    } else {
        lub->lub_rec_state = rec_input;
        lub->lub_buf_limit = lub->lub_rec_start;
    }
    return 0;
}

int for__begin_output(For_Lub *lub) {
    if (internal(lub)) return 0;
    if (lub->lub_stmt_flags & lubs::pos_given) {
        // POS= of a formatted stream WRITE: the record starts at that byte.
        if (int s = for__seek_pos(lub, msg::write_error)) return s;
        for__pos_reset(lub);
        return for__reset_buf(lub, 0);
    }
    if (lub->lub_flags & lubf::read_ahead) {
        if (int s = for__flush_readahead(lub, 0)) return s;
    }
    if (lub->lub_rec_state == rec_output && (lub->lub_flags & lubf::partial_record)) return 0;
    return for__reset_buf(lub, 0);
}

int for__adjust_buffer(For_Lub *lub, uint64_t minimum, uint64_t wanted) {
    For_Rec_Type t = for__record_type(lub);
    if (t == For_Rec_Type::fixed || t == For_Rec_Type::segmented || internal(lub)) return msg::no_memory;
    if (!(lub->lub_flags & lubf::recl_defaulted)) return msg::output_overflows_record;
    uint64_t g = wanted < minimum ? minimum : wanted;
    char *buf_end = lub->lub_buf + lub->lub_buf_size;
    if (lub->lub_buf_limit + g <= buf_end) {
        lub->lub_rec_len += g;
        lub->lub_buf_limit += g;
        return 0;
    }
    char *old = lub->lub_buf;
    void *cell = old;
    uint64_t size = lub->lub_buf_size + g;
    if (for__realloc_vm(static_cast<int64_t>(size + 16), &cell, static_cast<int64_t>(lub->lub_buf_size + 16)))
        return msg::no_memory;
    char *nb = static_cast<char *>(cell);
    // Here lub_user_buf marks the end of the held records, inside the buffer.
    if (lub->lub_user_buf) lub->lub_user_buf = nb + (lub->lub_user_buf - old);
    for__rebase_buffer(lub, old, nb);
    lub->lub_buf_size = size;
    lub->lub_rec_len += g;
    lub->lub_buf_limit += g;
    return 0;
}

int for__rec_room(For_Lub *lub, uint64_t n) {
    char *need_end = lub->lub_buf_ptr + n;
    if (need_end > lub->lub_buf_limit) {
        // Past the last record of an internal file the statement overflows
        // the file itself: an error of the output, never an end of file.
        if (internal(lub) && lub->lub_rec_start >= lub->lub_ifile_end) return msg::internal_file_overflow;
        if (!growable(lub)) return msg::output_overflows_record;
        // Measured from the record's start with the current position, which
        // may be pending far past the area, so that no sum wraps.
        const uint64_t at = static_cast<uint64_t>(lub->lub_buf_ptr - lub->lub_rec_start);
        if (at > for_max_grown_record || n > for_max_grown_record - at) return msg::output_overflows_record;
        uint64_t short_by = static_cast<uint64_t>(need_end - lub->lub_buf_limit);
        int s = for__adjust_buffer(lub, short_by, short_by < 512 ? 512 : short_by);
        if (s != 0) return s == msg::no_memory ? msg::no_memory : msg::output_overflows_record;
    }
    // Positions skipped over (T and X editing) read as blanks.
    if (lub->lub_buf_ptr > lub->lub_rec_end) {
        std::memset(lub->lub_rec_end, ' ', static_cast<size_t>(lub->lub_buf_ptr - lub->lub_rec_end));
        lub->lub_rec_end = lub->lub_buf_ptr;
    }
    return 0;
}

int for__rec_put(For_Lub *lub, std::string_view text) {
    if (int s = for__rec_room(lub, text.size())) return s;
    std::memcpy(lub->lub_buf_ptr, text.data(), text.size());
    lub->lub_buf_ptr += text.size();
    for__rec_mark(lub);
    return 0;
}

int for__rec_fill(For_Lub *lub, char c, uint64_t n) {
    if (int s = for__rec_room(lub, n)) return s;
    std::memset(lub->lub_buf_ptr, c, static_cast<size_t>(n));
    lub->lub_buf_ptr += n;
    for__rec_mark(lub);
    return 0;
}

int for__write_output(For_Lub *lub, const char *data, uint64_t len) {
    uint64_t chunk = chunk_of(lub);
    bool held = (lub->lub_flags & lubf::held_records) != 0;
    if (len == 0) {
        if (!held) return 1;
        char *held_end = lub->lub_user_buf;
        int r = drain_held(lub);
        // A record being built moves to stay right behind what is held.
        if (lub->lub_rec_state == rec_output) relocate_record(lub, held_end, area_base(lub));
        if (r != 0) return -1;
        after_write(lub);
        return 0;
    }
    if (for__hold_output(lub, data, len)) return 1;
    // What another unit of the file holds was written before this.
    for__flush_other_holder(lub);
    if (for__hold_output(lub, data, len)) return 1;
    char *buf_end = lub->lub_buf + lub->lub_buf_size;
    bool own = lub->lub_buf && data >= lub->lub_buf && data < buf_end;
    uint64_t done = 0;
    if (own) {
        char *next_free = held ? lub->lub_user_buf : lub->lub_buf;
        if (data == next_free && held) {
            // The held records and this one go out together.
            uint64_t all = static_cast<uint64_t>(data + len - lub->lub_buf);
            lub->lub_flags &= ~lubf::held_records;
            lub->lub_user_buf = nullptr;
            if (for__write_all(lub->lub_fd, lub->lub_buf, all, chunk, &done) != 0) {
                keep_unwritten(lub, lub->lub_buf + done, all - done, errno);
                forget_record(lub);
                return -1;
            }
            after_write(lub);
            return 0;
        }
    }
    if (drain_held(lub) != 0) {
        forget_record(lub);
        return -1;
    }
    if (for__write_all(lub->lub_fd, data, len, chunk, &done) != 0) {
        // Bytes of the buffer are kept; a variable's bytes written straight
        // are the failing statement's alone, and it reports them.
        if (own)
            keep_unwritten(lub, data + done, len - done, errno);
        else
            lub->lub_write_errno = static_cast<uint64_t>(errno);
        forget_record(lub);
        return -1;
    }
    after_write(lub);
    return 0;
}

int for__flush_output(For_Lub *lub) {
    if (internal(lub)) return 0;
    // Every flush of the unit (FLUSH, CLOSE, each ending of the program)
    // passes here: records pending in the direct file buffer go too.
    if (lub->lub_dir_pending) {
        if (int s = for__flush_file_buffer(lub)) return s;
    }
    if (for__write_output(lub, nullptr, 0) < 0) {
        lub->lub_errno = static_cast<uint64_t>(errno);
        return msg::write_error;
    }
    // Everything a failed write left behind is out now.
    lub->lub_write_errno = 0;
    return 0;
}

int for__put_sf(For_Lub *lub) {
    if (internal(lub)) return ifile_next_output(lub);
    Layout l;
    if (int s = layout_of(lub, &l)) return s;
    if (lub->lub_rec_state != rec_output) {
        if (int s = for__reset_buf(lub, 0)) return s;
    }
    For_Rec_Type t = for__record_type(lub);
    For_Cc cc = ccon(lub);
    bool crlf = fixed_crlf(lub);
    bool fortran = fortran_edits(lub) && !crlf;
    bool prompt = for__tty_prompt_pending(lub);
    bool no_term = (lub->lub_flags & lubf::no_terminator) || prompt;
    char *b = lub->lub_rec_start - l.start;
    if (fortran && lub->lub_rec_end == lub->lub_rec_start) {
        // An empty record still has its control character: a blank.
        *lub->lub_rec_start = ' ';
        lub->lub_rec_end = lub->lub_rec_start + 1;
    }
    char *end = lub->lub_rec_end;
    char *out = b;

    switch (t) {
    case For_Rec_Type::fixed: {
        uint64_t pad_to = lub->lub_rec_len - (crlf ? 2 : 0) - (cc == For_Cc::list && !crlf ? 1 : 0);
        char *pad_end = b + pad_to;
        if (end < pad_end) std::memset(end, ' ', static_cast<size_t>(pad_end - end));
        end = pad_end > end ? pad_end : end;
        if (crlf) {
            if (lub->lub_carriage_control == static_cast<uint8_t>(For_Cc::fortran) || no_term) {
                end[0] = end[1] = ' ';
            } else {
                end[0] = CR;
                end[1] = LF;
            }
            end += 2;
        }
        break;
    }
    case For_Rec_Type::variable: {
        uint32_t n = static_cast<uint32_t>(end - (b + 4));
        if (lub->lub_flags & lubf::big_endian) n = __builtin_bswap32(n);
        std::memcpy(b, &n, 4);
        std::memcpy(end, &n, 4);
        end += 4;
        break;
    }
    case For_Rec_Type::stream_lf:
    case For_Rec_Type::stream_cr:
    case For_Rec_Type::stream_crlf:
        if (!fortran && !no_term) {
            if (t != For_Rec_Type::stream_lf) *end++ = CR;
            if (t != For_Rec_Type::stream_cr) *end++ = LF;
        }
        break;
    default: break;
    }

    bool line_open_after = false;
    if (fortran) {
        char c = *lub->lub_rec_start;
        Cc_Effect e = cc_effect(c, for__line_is_open(lub), (lub->lub_flags & lubf::opt_compat) != 0);
        out = lub->lub_rec_start + 1 - e.n;
        std::memcpy(out, e.prefix, static_cast<size_t>(e.n));
        if (e.cr) *end++ = CR;
        line_open_after = true;  // a record ends with CR: the next one moves the line
        if (c == '$' && lub->lub_tty_pair && for__unit_is_tty(lub)) {
            lub->lub_tty_pair->prompt_pending = 1;
            lub->lub_tty_pair->saved_lub = lub;
        }
    } else if (cc == For_Cc::list) {
        if (for__line_is_open(lub) && !prompt) {
            // The prompt an earlier record left open gets its line end.
            static const char lf = LF;
            if (for__write_output(lub, &lf, 1) < 0) {
                lub->lub_errno = static_cast<uint64_t>(errno);
                return msg::write_error;
            }
            for__line_closed(lub);
        }
        bool typed = t == For_Rec_Type::stream || has_terminator_byte(t);
        if (!crlf && !typed && !no_term) *end++ = LF;
        line_open_after = no_term;
    } else {
        line_open_after = no_term && has_terminator_byte(t);
    }
    lub->lub_flags &= ~lubf::no_terminator;

    // Records held back must lie end to end: the control character and
    // the unused part of the prefix area go.
    if (out != b) {
        std::memmove(b, out, static_cast<size_t>(end - out));
        end -= out - b;
    }
    if (for__write_output(lub, b, static_cast<uint64_t>(end - b)) < 0) {
        lub->lub_errno = static_cast<uint64_t>(errno);
        return msg::write_error;
    }
    lub->lub_line_open = line_open_after ? 1 : 0;
    if (lub->lub_tty_pair && for__unit_is_tty(lub)) {
        // The last writer of a terminal owns its open line.
        For_Tty_Pair *p = lub->lub_tty_pair;
        if (!p->prompt_pending) p->saved_lub = lub;
        p->line_open = lub->lub_line_open;
        p->line_pending = 0;
    }
    if (lub->lub_flags & lubf::truncate_after_write) {
        if (int s = for__truncate_here(lub)) return s;
    }
    ++lub->lub_record_number;
    return for__reset_buf(lub, 0);
}

int for__end_output(For_Lub *lub) {
    if (!lub->lub_stmt.nonadvancing || internal(lub)) return for__put_sf(lub);
    lub->lub_flags |= lubf::partial_record;
    for__tty_note_partial(lub);
    return 0;
}

int for__new_line_break_record(For_Lub *lub) {
    For_Tty_Pair *p = lub->lub_tty_pair;
    if (p && p->saved_lub == lub) p->prompt_pending = 0;
    if (lub->lub_rec_state == rec_output && lub->lub_rec_end > lub->lub_rec_start && fortran_edits(lub)) {
        char &c = *lub->lub_rec_start;
        if (c == ' ')
            c = '$';
        else if (c == '+')
            c = '\0';
    } else if (ccon(lub) != For_Cc::fortran) {
        lub->lub_flags |= lubf::no_terminator;
    }
    return for__put_sf(lub);
}

int for__ifile_setup(For_Lub *lub, char *var, uint64_t elem_len, uint64_t count, bool output) {
    lub->lub_user_buf = var;
    lub->lub_ifile_end = var + elem_len * count;
    lub->lub_rec_len = elem_len;
    lub->lub_record_type = static_cast<uint8_t>(For_Rec_Type::fixed);
    lub->lub_carriage_control = static_cast<uint8_t>(For_Cc::none);
    lub->lub_flags |= lubf::formatted | lubf::access_seq | lubf::pad;
    lub->lub_record_number = 1;
    lub->lub_rec_start = count && elem_len ? var : lub->lub_ifile_end;
    ifile_layout(lub, output ? 0 : 1);
    return 0;
}

int for__ifile_from_item(For_Lub *lub, const For_Item &file, const For_Shape &shape, bool output) {
    if (file.type != FOR_TYPE_CHARACTER) return msg::invalid_argument;
    const int64_t elen = file.elem_len;
    const int64_t n = for__item_count(file, shape);
    if (elen < 0 || n < 0) return msg::invalid_argument;
    if (shape.form == FOR_FORM_SECTION || shape.form == FOR_FORM_SECTION_ELEN) {
        int64_t expect = elen;
        for (int k = 0; k < shape.rank; ++k) {
            const For_Dim &d = shape.dim[k];
            const int64_t extent = d.upper >= d.lower ? d.upper - d.lower + 1 : 0;
            if (extent > 1 && d.stride != expect) return msg::invalid_argument;
            expect *= extent;
        }
    }
    return for__ifile_setup(lub, static_cast<char *>(file.addr), static_cast<uint64_t>(elen), static_cast<uint64_t>(n),
                            output);
}
