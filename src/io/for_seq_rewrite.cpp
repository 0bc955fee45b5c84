// REWRITE of the record a sequential READ found, in place.
//
// The record's place is worked out when the REWRITE comes, not at every
// READ: a formatted record is still in the buffer with its framing, and the
// descriptor's offset less the bytes read ahead tells where the record
// after it begins; an unformatted record was consumed, but it ends there,
// so its trailing length marker (VARIABLE) or the record length (FIXED)
// leads back to its start.
#include "io/for_seq_rewrite.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "diag/for_msgnum.h"
#include "io/for_rec.h"
#include "runtime/for_vm.h"
#include "unformatted/for_ufseq.h"

namespace {

using RT = For_Rec_Type;

// The terminator bytes a formatted record may carry: LF, CR, CR LF, and
// the extra CRs that the compatibility option strips.
constexpr uint64_t max_tail = 8;

int sys_failed(For_Lub *lub, int status) {
    lub->lub_errno = static_cast<uint64_t>(errno);
    return status;
}

struct Frame {
    uint64_t head = 0;  // framing before the data
    uint64_t data = 0;
    uint64_t tail = 0;  // framing after it
    char tail_bytes[max_tail] = {};
    uint64_t size() const { return head + data + tail; }
};

// The formatted record in the buffer, [lub_rec_start, lub_buf_limit) with
// its framing up to lub_ra_next.
int formatted_frame(const For_Lub *lub, Frame *f) {
    if (static_cast<For_Cc>(lub->lub_carriage_control) == For_Cc::fortran) return msg::rewrite_error;
    const RT t = for__record_type(lub);
    if (t != RT::fixed && t != RT::variable && t != RT::stream_lf && t != RT::stream_cr && t != RT::stream_crlf)
        return msg::rewrite_error;
    if (lub->lub_rec_start < lub->lub_buf || lub->lub_buf_limit < lub->lub_rec_start ||
        lub->lub_ra_next < lub->lub_buf_limit)
        return msg::no_current_record;
    f->head = t == RT::variable ? 4 : 0;
    f->data = static_cast<uint64_t>(lub->lub_buf_limit - lub->lub_rec_start);
    const char *tail = lub->lub_buf_limit;
    if (t == RT::fixed) {
        // A FIXED record of a text file ends with its line end: that stays.
        while (f->data > 0 && (tail[-1] == '\n' || tail[-1] == '\r') && f->tail < max_tail) {
            --tail;
            --f->data;
            ++f->tail;
        }
    }
    f->tail = static_cast<uint64_t>(lub->lub_ra_next - tail);
    if (f->tail > max_tail) return msg::rewrite_error;
    std::memcpy(f->tail_bytes, tail, f->tail);
    if (f->size() == 0) return msg::no_current_record;  // the READ met the end of the file
    return 0;
}

// The unformatted record that ends at `next`.
int unformatted_frame(For_Lub *lub, int64_t next, Frame *f) {
    if (lub->lub_xfer_kind != 11) return msg::rewrite_error;  // compatibility layout, BINARY
    switch (for__record_type(lub)) {
    case RT::fixed: f->data = lub->lub_rec_len; return 0;
    case RT::variable: {
        unsigned char m[4];
        if (next < 8 || ::pread(lub->lub_fd, m, 4, next - 4) != 4) return msg::rewrite_error;
        const int32_t len = for__get_marker(lub, m);
        // A record of several subrecords is not rebuilt: one piece of it
        // alone would have to keep its exact length and continuation marks.
        if (len < 0 || next < int64_t{len} + 8) return msg::rewrite_error;
        if (::pread(lub->lub_fd, m, 4, next - len - 8) != 4 || for__get_marker(lub, m) != len)
            return msg::rewrite_error;
        f->head = f->tail = 4;
        f->data = static_cast<uint64_t>(len);
        return 0;
    }
    default: return msg::rewrite_error;
    }
}

int write_at(int fd, const char *p, uint64_t n, off_t at) {
    while (n > 0) {
        ssize_t k = ::pwrite(fd, p, n, at);
        if (k < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        p += k;
        n -= static_cast<uint64_t>(k);
        at += k;
    }
    return 0;
}

}  // namespace

int for__seq_rewrite_begin(For_Lub *lub) {
    if (!lub->lub_stmt.record_read || lub->lub_rec_state != rec_input || !(lub->lub_flags & lubf::read_ahead) ||
        !lub->lub_ra_next || !lub->lub_buf)
        return msg::no_current_record;
    if (!(lub->lub_flags & lubf::positionable)) {
        lub->lub_errno = ESPIPE;
        return msg::write_error;
    }
    const off_t here = ::lseek(lub->lub_fd, 0, SEEK_CUR);
    if (here < 0) return sys_failed(lub, msg::write_error);
    // Where the record after the one read begins.
    const int64_t next = here - (lub->lub_ra_end - lub->lub_ra_next);
    const bool formatted = (lub->lub_flags & lubf::formatted) != 0;
    Frame f;
    if (int s = formatted ? formatted_frame(lub, &f) : unformatted_frame(lub, next, &f)) return s;
    if (static_cast<uint64_t>(next) < f.size()) return msg::rewrite_error;
    // The descriptor goes back to the record after it, where the next
    // READ continues.
    if (int s = for__flush_readahead(lub, 0)) return s;
    if (lub->lub_buf_size < f.size()) {
        // An unformatted record read straight into its items.
        void *cell = lub->lub_buf;
        if (for__realloc_vm(static_cast<int64_t>(f.size() + 16), &cell, static_cast<int64_t>(lub->lub_buf_size + 16)))
            return msg::no_buffer_memory;
        lub->lub_buf = static_cast<char *>(cell);
        lub->lub_buf_size = f.size();
    }
    char *data = lub->lub_buf + f.head;
    lub->lub_rec_start = lub->lub_buf_ptr = lub->lub_rec_end = data;
    lub->lub_buf_limit = data + f.data;
    std::memset(data, formatted ? ' ' : '\0', f.data);
    std::memcpy(data + f.data, f.tail_bytes, formatted ? f.tail : 0);
    lub->lub_rec_state = rec_output;
    lub->lub_stmt.seq_rewrite = true;
    lub->lub_rewrite_at = next - static_cast<int64_t>(f.size());
    lub->lub_rewrite_len = f.size();
    lub->lub_rewrite_data = f.data;
    return 0;
}

int for__seq_rewrite_put(For_Lub *lub) {
    lub->lub_rec_state = rec_idle;
    const bool formatted = (lub->lub_flags & lubf::formatted) != 0;
    char *data = lub->lub_rec_start;
    const auto n = static_cast<uint64_t>(std::max(lub->lub_rec_end, data) - data);
    if (n > lub->lub_rewrite_data) return msg::output_overflows_record;
    if (n < lub->lub_rewrite_data) {
        if (!formatted && for__record_type(lub) == RT::variable) return msg::rewrite_error;
        // Blanks or zeros from the start of the statement are still there.
    }
    const auto head = static_cast<uint64_t>(data - lub->lub_buf);
    if (head == 4) {
        const auto len = static_cast<int32_t>(lub->lub_rewrite_data);
        for__put_marker(lub, reinterpret_cast<unsigned char *>(lub->lub_buf), len);
        for__put_marker(lub, reinterpret_cast<unsigned char *>(data + lub->lub_rewrite_data), len);
    }
    if (write_at(lub->lub_fd, lub->lub_buf, lub->lub_rewrite_len, static_cast<off_t>(lub->lub_rewrite_at)) != 0)
        return sys_failed(lub, msg::write_error);
    lub->lub_rec_start = lub->lub_buf_ptr = lub->lub_rec_end = lub->lub_buf_limit = lub->lub_buf;
    return 0;
}
