// Input records: filling the buffer from the descriptor ahead of the
// program, finding the next record's boundaries for each record type, end
// of file, and giving back what was read ahead before output or
// repositioning.
//
// Input state in the buffer: [lub_buf, lub_ra_end) is what was read from
// the file; the current record's data is [lub_rec_start, lub_buf_limit);
// the next record begins at lub_ra_next.
#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "io/for_rec.h"
#include "diag/for_msgnum.h"
#include "io/for_tty_pair.h"
#include "runtime/for_vm.h"
#include "unformatted/for_ufseq.h"
#include "units/for_pos_stmt.h"

namespace {

bool internal(const For_Lub *lub) { return lub->lub_unit == FOR_UNIT_INTERNAL; }

uint32_t length_word(const For_Lub *lub, const char *p) {
    uint32_t n;
    std::memcpy(&n, p, 4);
    return (lub->lub_flags & lubf::big_endian) ? __builtin_bswap32(n) : n;
}

// Grows the buffer so that it holds at least `need` bytes: 0, 22 when the
// unit's records may not grow, 98 when there is no memory.
int grow_for_input(For_Lub *lub, uint64_t need) {
    if (need <= lub->lub_buf_size) return 0;
    if (!(lub->lub_flags & lubf::recl_defaulted)) return msg::input_record_too_long;
    uint64_t size = lub->lub_buf_size * 2;
    if (size < need + 20) size = need + 20;
    char *old = lub->lub_buf;
    void *cell = old;
    if (for__realloc_vm(static_cast<int64_t>(size + 16), &cell, static_cast<int64_t>(lub->lub_buf_size + 16)))
        return msg::no_buffer_memory;
    for__rebase_buffer(lub, old, static_cast<char *>(cell));
    lub->lub_buf_size = size;
    if (lub->lub_rec_len < need + 4) lub->lub_rec_len = need + 4;
    return 0;
}

// The next record in [cur, ra_end), or not enough data yet. `scanned`
// carries how far a terminator search got, so that a long record is not
// searched again from its start after each read.
enum class Found { record, need_more, bad };

Found find_record(For_Lub *lub, char *cur, uint64_t *scanned, char **data_end, char **next, uint64_t *need) {
    char *end = lub->lub_ra_end;
    uint64_t avail = static_cast<uint64_t>(end - cur);
    switch (for__record_type(lub)) {
    case For_Rec_Type::stream_lf:
    case For_Rec_Type::stream_crlf:
    case For_Rec_Type::stream_cr: {
        char term = for__record_type(lub) == For_Rec_Type::stream_cr ? '\r' : '\n';
        void *hit = std::memchr(cur + *scanned, term, static_cast<size_t>(avail - *scanned));
        if (!hit) {
            *scanned = avail;
            *need = avail + 1;
            return Found::need_more;
        }
        *data_end = static_cast<char *>(hit);
        *next = *data_end + 1;
        return Found::record;
    }
    case For_Rec_Type::fixed:
        *need = lub->lub_rec_len;
        if (avail < *need) return Found::need_more;
        *data_end = cur + *need;
        *next = *data_end;
        return Found::record;
    case For_Rec_Type::variable: {
        if (avail < 4) {
            *need = 4;
            return Found::need_more;
        }
        uint64_t n = length_word(lub, cur);
        *need = n + 8;
        if (avail < *need) return Found::need_more;
        if (length_word(lub, cur + 4 + n) != n) return Found::bad;
        *data_end = cur + 4 + n;
        *next = cur + 8 + n;
        return Found::record;
    }
    default:  // STREAM: whatever is there
        if (avail == 0) {
            *need = 1;
            return Found::need_more;
        }
        *data_end = end;
        *next = end;
        return Found::record;
    }
}

}  // namespace

int for__read_input(int fd, char *buf, uint64_t len, uint64_t *count, For_Lub *lub, uint64_t chunk) {
    if (chunk == 0) chunk = lub && lub->lub_block_size ? lub->lub_block_size : for_default_block;
    bool positionable = lub && (lub->lub_flags & lubf::positionable);
    uint64_t total = 0;
    while (total < len) {
        uint64_t want = len - total < chunk ? len - total : chunk;
        ssize_t r = ::read(fd, buf + total, static_cast<size_t>(want));
        if (r < 0) {
            if (errno == EINTR) continue;
            *count = total;
            return 0;
        }
        if (r == 0) break;
        total += static_cast<uint64_t>(r);
        // A terminal or pipe hands over what it has, a line at a time;
        // waiting for more would block on input the program has not asked for.
        if (!positionable) break;
    }
    *count = total;
    return 1;
}

int for__get_s(For_Lub *lub) {
    if (internal(lub)) {
        char *next = lub->lub_rec_start + lub->lub_rec_len;
        if (next >= lub->lub_ifile_end || lub->lub_rec_start >= lub->lub_ifile_end) {
            lub->lub_rec_start = lub->lub_buf_ptr = lub->lub_buf_limit = lub->lub_ifile_end;
            return msg::eof_during_read;
        }
        lub->lub_rec_start = lub->lub_buf_ptr = next;
        lub->lub_buf_limit = next + lub->lub_rec_len;
        ++lub->lub_record_number;
        return 0;
    }
    if (int s = for__tty_before_read(lub)) return s;
    For_Rec_Type t = for__record_type(lub);
    if (t == For_Rec_Type::none) return msg::eof_during_read;
    if (t == For_Rec_Type::segmented && (lub->lub_flags & lubf::formatted)) return msg::inconsistent_record_type;
    if (!lub->lub_buf) return msg::read_error;

    char *cur;
    if ((lub->lub_flags & lubf::read_ahead) && lub->lub_ra_next) {
        cur = lub->lub_ra_next;
    } else {
        cur = lub->lub_ra_end = lub->lub_ra_next = lub->lub_buf;
        lub->lub_flags |= lubf::read_ahead;
    }
    lub->lub_rec_state = rec_input;
    uint64_t scanned = 0;
    bool at_eof = false;
    char *data_end = nullptr, *next = nullptr;
    for (;;) {
        uint64_t need = 0;
        Found f = find_record(lub, cur, &scanned, &data_end, &next, &need);
        if (f == Found::record) break;
        if (f == Found::bad) return msg::read_error;
        uint64_t avail = static_cast<uint64_t>(lub->lub_ra_end - cur);
        if (at_eof) {
            if (avail == 0 || t == For_Rec_Type::variable) {
                lub->lub_ra_next = cur;
                lub->lub_rec_start = lub->lub_buf_ptr = lub->lub_buf_limit = cur;
                return avail == 0 ? msg::eof_during_read : msg::read_error;
            }
            // The last line of the file need not end with its terminator.
            data_end = next = lub->lub_ra_end;
            break;
        }
        if (cur != lub->lub_buf) {
            // Keep the unfinished record and make room after it.
            std::memmove(lub->lub_buf, cur, static_cast<size_t>(avail));
            cur = lub->lub_buf;
            lub->lub_ra_end = cur + avail;
        }
        uint64_t room = lub->lub_buf_size - avail;
        if (room == 0 || need > lub->lub_buf_size) {
            uint64_t want = need > avail + 1 ? need : avail + 1;
            if (int s = grow_for_input(lub, want)) return s;
            cur = lub->lub_buf;
            room = lub->lub_buf_size - avail;
        }
        uint64_t got = 0;
        if (!for__read_input(lub->lub_fd, lub->lub_ra_end, room, &got, lub)) {
            lub->lub_errno = static_cast<uint64_t>(errno);
            lub->lub_ra_next = cur;
            return msg::read_error;
        }
        if (got == 0) at_eof = true;
        lub->lub_ra_end += got;
    }

    if (t == For_Rec_Type::variable) cur += 4;
    if ((t == For_Rec_Type::stream_lf || t == For_Rec_Type::stream_crlf)) {
        if (data_end > cur && data_end[-1] == '\r') --data_end;
        if (lub->lub_flags & lubf::opt_compat)
            while (data_end > cur && data_end[-1] == '\r') --data_end;
    }
    if (t == For_Rec_Type::fixed && (lub->lub_flags & lubf::opt_compat) && (lub->lub_flags & lubf::access_direct) &&
        data_end - cur >= 2)
        data_end -= 2;
    lub->lub_rec_start = lub->lub_buf_ptr = cur;
    lub->lub_buf_limit = data_end;
    lub->lub_ra_next = next;
    lub->lub_flags &= ~lubf::partial_record;
    ++lub->lub_record_number;
    if (data_end - cur == 1 && *cur == 0x1a) return msg::eof_during_read;  // Ctrl-Z: an end-of-file mark
    return 0;
}

int for__begin_input(For_Lub *lub) {
    if (internal(lub)) return lub->lub_rec_start >= lub->lub_ifile_end ? msg::eof_during_read : 0;
    if (lub->lub_stmt_flags & lubs::pos_given) {
        // POS= of a formatted stream READ: the record is read from that byte.
        if (int s = for__seek_pos(lub, msg::read_error)) return s;
        for__pos_reset(lub);
        return for__get_s(lub);
    }
    if (lub->lub_rec_state == rec_output) {
        // An output record left open by a non-advancing WRITE goes out first.
        if (lub->lub_flags & lubf::partial_record) {
            if (int s = for__put_sf(lub)) return s;
        }
        if (int s = for__flush_output(lub)) return s;
        lub->lub_rec_state = rec_idle;
    }
    if (lub->lub_rec_state == rec_input && (lub->lub_flags & lubf::partial_record)) return 0;
    return for__get_s(lub);
}

int for__end_input(For_Lub *lub) {
    if (!lub->lub_stmt.nonadvancing || internal(lub))
        lub->lub_flags &= ~lubf::partial_record;
    else
        lub->lub_flags |= lubf::partial_record;
    return 0;
}

int for__flush_readahead(For_Lub *lub, int64_t extra) {
    if (!(lub->lub_flags & lubf::read_ahead) && extra == 0) return 0;
    int64_t unread = 0;
    if (lub->lub_rec_state == rec_input && lub->lub_ra_end) {
        // A STREAM record is consumed up to the position; other records
        // are consumed whole once they were read.
        const char *from = for__record_type(lub) == For_Rec_Type::stream ? lub->lub_buf_ptr : lub->lub_ra_next;
        unread = lub->lub_ra_end - from;
    }
    if ((lub->lub_flags & lubf::positionable) && unread - extra != 0) {
        off_t here = ::lseek(lub->lub_fd, 0, SEEK_CUR);
        if (here < 0 || ::lseek(lub->lub_fd, -(unread - extra), SEEK_CUR) < 0) {
            lub->lub_errno = static_cast<uint64_t>(errno);
            if (here >= 0) ::lseek(lub->lub_fd, here, SEEK_SET);
            return msg::write_error;
        }
    }
    lub->lub_flags &= ~(lubf::read_ahead | lubf::partial_record);
    lub->lub_ra_end = lub->lub_ra_next = nullptr;
    lub->lub_rec_state = rec_idle;
    return 0;
}
