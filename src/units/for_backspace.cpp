// BACKSPACE (u): the unit moves back to the start of the record before its
// position. How that start is found depends on the record type: FIXED
// records have one length; VARIABLE records end with their length; a
// SEGMENTED file can only be walked forward from its start; terminated
// records are found by searching back for the terminator before them.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <unistd.h>

#include <vorlix/io.h>

#include "io/for_rec.h"
#include "diag/for_msgnum.h"
#include "unformatted/for_ufseq.h"
#include "units/for_pos_stmt.h"

namespace {

using RT = For_Rec_Type;

constexpr uint64_t at_end_record = static_cast<uint64_t>(static_cast<int64_t>(INT32_MIN));

int sys_failed(For_Lub *lub) {
    lub->lub_errno = static_cast<uint64_t>(errno);
    return msg::backspace_error;
}

// Reads exactly n bytes at offset `at`: 0, or 23 (short or failed).
int read_at(For_Lub *lub, void *dst, size_t n, off_t at) {
    int64_t r = for__pread_full(lub->lub_fd, dst, n, at);
    if (r < 0) return sys_failed(lub);
    return static_cast<size_t>(r) == n ? 0 : msg::backspace_error;
}

// VARIABLE: each trailing marker gives the length of the piece before it;
// a negative one says that a piece of the same record precedes.
int previous_variable(For_Lub *lub, off_t p, off_t *start) {
    for (;;) {
        if (p < 4) return msg::backspace_error;
        unsigned char m[4];
        if (int s = read_at(lub, m, 4, p - 4)) return s;
        int32_t t = for__get_marker(lub, m);
        if (t == INT32_MIN) return msg::backspace_error;
        int64_t len = t < 0 ? -static_cast<int64_t>(t) : t;
        if (p < len + 8) return msg::backspace_error;
        p -= len + 8;
        if (t >= 0) break;
    }
    *start = p;
    return 0;
}

// SEGMENTED: walks the segments from the file start, keeping the start of
// the last record that begins before `p`.
int previous_segmented(For_Lub *lub, off_t p, off_t *start) {
    off_t at = 0, last = 0;
    while (at < p) {
        unsigned char h[4];
        if (int s = read_at(lub, h, 4, at)) return s;
        if (std::memcmp(h, for_seg_eof_record, 4) == 0) {
            last = at;
            at += 4;
            continue;
        }
        unsigned count = h[0] | (h[1] << 8), control = h[2] | (h[3] << 8);
        if (count < 2) return msg::backspace_error;
        if (control & 1) last = at;
        unsigned n = count - 2;
        at += 4 + n + (n & 1);
    }
    *start = last;
    return 0;
}

// Terminated records: the terminator right before `p` ends the previous
// record; that record starts after the terminator before it, which is
// searched for backwards a buffer at a time.
int previous_terminated(For_Lub *lub, off_t p, off_t *start) {
    const char term = static_cast<RT>(lub->lub_record_type) == RT::stream_cr ? '\r' : '\n';
    char c;
    if (int s = read_at(lub, &c, 1, p - 1)) return s;
    off_t q = c == term ? p - 1 : p;
    const off_t chunk = static_cast<off_t>(std::max<uint64_t>(lub->lub_buf_size, 1));
    while (q > 0) {
        off_t n = std::min(q, chunk);
        if (int s = read_at(lub, lub->lub_buf, static_cast<size_t>(n), q - n)) return s;
        const void *hit = memrchr(lub->lub_buf, term, static_cast<size_t>(n));
        if (hit) {
            *start = q - n + (static_cast<const char *>(hit) - lub->lub_buf) + 1;
            return 0;
        }
        q -= n;
    }
    *start = 0;
    return 0;
}

// Compatibility layout: a record's last block ends with its length (0 to
// 128), every block before it with 129, so the trailing bytes lead back
// unambiguously; the 'K' at offset 0 is never taken for one, since no
// record starts before offset 1. An end byte 130 before `p` is stepped
// over first.
int previous_compat(For_Lub *lub, off_t p, off_t *start) {
    unsigned char c;
    if (p <= 1) {
        *start = p;
        return 0;
    }
    if (int s = read_at(lub, &c, 1, p - 1)) return s;
    if (c == cls::file_end) {
        if (--p <= 1) {
            *start = p;
            return 0;
        }
        if (int s = read_at(lub, &c, 1, p - 1)) return s;
    }
    if (c > cls::block_data) return msg::backspace_error;
    p -= c + 2;
    while (p > 1) {
        if (int s = read_at(lub, &c, 1, p - 1)) return s;
        if (c != cls::block_more) break;
        p -= cls::block_data + 2;
    }
    if (p < 1) return msg::backspace_error;
    *start = p;
    return 0;
}

int previous_record(For_Lub *lub, off_t p, off_t *start) {
    if (for__compat_layout(lub)) return previous_compat(lub, p, start);
    switch (static_cast<RT>(lub->lub_record_type)) {
    case RT::fixed:
        *start = p > static_cast<off_t>(lub->lub_rec_len) ? p - static_cast<off_t>(lub->lub_rec_len) : 0;
        return 0;
    case RT::variable:
    case RT::variable_2: return previous_variable(lub, p, start);
    case RT::segmented: return previous_segmented(lub, p, start);
    case RT::stream_lf:
    case RT::stream_cr:
    case RT::stream_crlf: return previous_terminated(lub, p, start);
    case RT::stream:
        if (lub->lub_xfer_kind == 5) {  // BINARY: every byte is a record
            *start = p - 1;
            return 0;
        }
        if ((lub->lub_flags & lubf::recl_defaulted) || lub->lub_rec_len == 0) return msg::backspace_error;
        {
            // Back to the start of the RECL-sized record the position is
            // in, or of the one before when it is at a record's start.
            const auto len = static_cast<off_t>(lub->lub_rec_len);
            off_t into = p % len;
            *start = p - (into != 0 ? into : len);
        }
        return 0;
    default: return msg::backspace_error;
    }
}

}  // namespace

VORLIX_API int for_backspace(For_Context *ctx, int unit, For_IO_Flags flags, const For_Dsc_Lst *keys,
                             const For_Value_List *values) {
    For_Lub *lub = nullptr;
    int r = for__pos_begin_connected({ctx, unit, flags, keys, values}, FOR_OP_BACKSPACE, msg::backspace_in_child_io,
                                     msg::backspace_tty_noop, &lub);
    if (!lub) return r;
    if (for__uf_settle(lub) != 0) return for__pos_end(lub, msg::backspace_error);
    uint64_t fl = lub->lub_flags;
    if ((fl & lubf::unformatted) && (fl & lubf::access_stream))
        return for__pos_end(lub, msg::backspace_unformatted_stream);
    if ((fl & lubf::eof) && lub->lub_xfer_kind != 7) {
        // Reading hit the end: the unit is already before the end of the
        // file, which is all the statement has to undo.
        lub->lub_flags &= ~lubf::eof;
        return for__pos_end(lub, msg::ok);
    }
    if ((lub->lub_organization != 0 && lub->lub_organization != 1) || (fl & lubf::access_keyed) ||
        ((fl & lubf::access_direct) && !(fl & lubf::opt_compat)))
        return for__pos_end(lub, msg::needs_sequential, msg::backspace_error);
    if (!(fl & lubf::positionable)) return for__pos_end(lub, msg::needs_disk_or_tape, msg::backspace_error);
    off_t p = for__logical_pos(lub);
    if (p < 0) return for__pos_end(lub, sys_failed(lub));
    if (p > 0) {
        off_t start = 0;
        if (int s = previous_record(lub, p, &start)) return for__pos_end(lub, s);
        if (::lseek(lub->lub_fd, start, SEEK_SET) < 0) return for__pos_end(lub, sys_failed(lub));
        if (lub->lub_record_number > 1 && lub->lub_record_number != at_end_record) --lub->lub_record_number;
    }
    for__pos_reset(lub);
    return for__pos_end(lub, msg::ok);
}
