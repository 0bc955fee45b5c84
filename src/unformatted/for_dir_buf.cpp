// The direct file buffer and the placing of records by number, for the
// unformatted and formatted statements alike.
//
// Output collects consecutive records in the buffer and writes them in one
// call per block-size piece. Input reads one record for a record asked
// for out of sequence, and the whole buffer when the program goes on to
// the next record: random access costs one read of one record, sequential
// access one read per buffer, and no read copies more than it serves.
#include "unformatted/for_dir_buf.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <unistd.h>

#include <vorlix/abi.h>

#include "diag/for_msgnum.h"
#include "io/for_desc_item.h"
#include "io/for_rec.h"
#include "io/for_seq_rewrite.h"
#include "runtime/for_write_all.h"

namespace {

constexpr unsigned char marker_data = ' ';
constexpr unsigned char marker_deleted = '@';

bool formatted(const For_Lub *lub) { return (lub->lub_flags & lubf::formatted) != 0; }
char fill_of(const For_Lub *lub) { return formatted(lub) ? ' ' : '\0'; }

// Records the buffer has room for.
uint64_t capacity(const For_Lub *lub) {
    uint64_t n = lub->lub_rec_len ? lub->lub_buf_size / lub->lub_rec_len : 0;
    return n ? n : 1;
}

char *slot_of(const For_Lub *lub, uint64_t r) { return lub->lub_buf + (r - lub->lub_dir_first) * lub->lub_rec_len; }

bool holds(const For_Lub *lub, uint64_t r) {
    return lub->lub_dir_held != 0 && r >= lub->lub_dir_first && r - lub->lub_dir_first < lub->lub_dir_held;
}

// Bytes at the end of a formatted record that are its terminator, not data.
uint64_t terminator_bytes(const For_Lub *lub) {
    if (!formatted(lub)) return 0;
    if ((lub->lub_flags & lubf::opt_compat) && lub->lub_rec_len >= 2) return 2;
    if (static_cast<For_Cc>(lub->lub_carriage_control) == For_Cc::list && lub->lub_rec_len >= 1) return 1;
    return 0;
}

// The offset of record r; for__dir_check_rec has made sure it exists.
off_t offset_of(const For_Lub *lub, uint64_t r) { return static_cast<off_t>((r - 1) * lub->lub_rec_len); }

uint64_t chunk_of(const For_Lub *lub) { return lub->lub_block_size ? lub->lub_block_size : for_default_block; }

void drop_buffer(For_Lub *lub) {
    lub->lub_dir_held = 0;
    lub->lub_dir_pending = 0;
}

// Makes the slot of record r the current record's area.
void set_record(For_Lub *lub, uint64_t r, bool output) {
    char *slot = slot_of(lub, r);
    char *data = slot + (for__dir_marked(lub) ? 1 : 0);
    lub->lub_rec_start = lub->lub_buf_ptr = lub->lub_rec_end = data;
    lub->lub_buf_limit = slot + lub->lub_rec_len - terminator_bytes(lub);
    if (lub->lub_buf_limit < data) lub->lub_buf_limit = data;
    lub->lub_rec_state = output ? rec_output : rec_input;
    lub->lub_record_number = r;
}

// Reads up to `len` bytes at `off`; the count, or -1 (errno set).
int64_t read_at(int fd, char *dst, uint64_t len, off_t off) {
    uint64_t got = 0;
    while (got < len) {
        ssize_t k = ::pread(fd, dst + got, len - got, off + static_cast<off_t>(got));
        if (k < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (k == 0) break;
        got += static_cast<uint64_t>(k);
    }
    return static_cast<int64_t>(got);
}

}  // namespace

bool for__dir_marked(const For_Lub *lub) {
    return lub->lub_organization == 2 && (lub->lub_flags & lubf::opt_eof_records) && lub->lub_rec_len > 0;
}

int for__dir_check_rec(const For_Lub *lub, int64_t r) {
    if (r < 1) return msg::rec_out_of_range;
    const auto u = static_cast<uint64_t>(r);
    if (lub->lub_maxrec != 0 && u > lub->lub_maxrec) return msg::rec_out_of_range;
    // The record's end must be an offset the file can have: a record
    // number whose offset wraps would otherwise land on another record.
    uint64_t start = 0, end = 0;
    if (__builtin_mul_overflow(u - 1, lub->lub_rec_len, &start) ||
        __builtin_add_overflow(start, lub->lub_rec_len, &end) || end > static_cast<uint64_t>(INT64_MAX))
        return msg::rec_out_of_range;
    return 0;
}

int for__dir_assoc_check(const For_Lub *lub) {
    if (!lub->lub_assoc_var) return 0;
    return for__int_log_width(lub->lub_assoc_kind) ? 0 : msg::invalid_argument;
}

void for__dir_assoc_store(const For_Lub *lub, uint64_t v) {
    if (!lub->lub_assoc_var) return;
    switch (for__int_log_width(lub->lub_assoc_kind)) {
    case 1: {
        auto x = static_cast<uint8_t>(v);
        std::memcpy(lub->lub_assoc_var, &x, 1);
        break;
    }
    case 2: {
        auto x = static_cast<uint16_t>(v);
        std::memcpy(lub->lub_assoc_var, &x, 2);
        break;
    }
    case 4: {
        auto x = static_cast<uint32_t>(v);
        std::memcpy(lub->lub_assoc_var, &x, 4);
        break;
    }
    case 8: std::memcpy(lub->lub_assoc_var, &v, 8); break;
    default: break;
    }
}

int for__dir_check_stmt(For_Lub *lub, int64_t r) {
    if (!(lub->lub_flags & lubf::access_direct)) return msg::direct_io_not_consistent_open;
    if (lub->lub_udio_depth != 0) return msg::udio_pos_rec;
    if (int s = for__dir_check_rec(lub, r)) return s;
    return for__dir_assoc_check(lub);
}

int for__flush_file_buffer(For_Lub *lub) {
    if (!lub->lub_dir_pending) return 0;
    const uint64_t n = lub->lub_dir_held * lub->lub_rec_len;
    lub->lub_dir_pending = 0;
    if (n == 0) return 0;
    const uint64_t chunk = chunk_of(lub);
    uint64_t done = 0;
    int failed = ::lseek(lub->lub_fd, offset_of(lub, lub->lub_dir_first), SEEK_SET) < 0 ||
                 for__write_all(lub->lub_fd, lub->lub_buf, n, chunk, &done) != 0;
    // (for__write_all tells the bytes written only when it fails.)
    if (!failed) done = n;
    lub->lub_dir_bytes_out += done;
    lub->lub_dir_writes += (done + chunk - 1) / chunk + (failed ? 1 : 0);
    if (failed) {
        lub->lub_errno = static_cast<uint64_t>(errno);
        drop_buffer(lub);
        return msg::write_error;
    }
    // The records are the file's now: they stay as read cache.
    return 0;
}

int for__dir_begin_output(For_Lub *lub, uint64_t r) {
    if (int s = for__dir_check_rec(lub, static_cast<int64_t>(r))) return s;
    if (lub->lub_dir_pending) {
        // The record just written, one it replaces, or the next one.
        const bool inside = r >= lub->lub_dir_first && r - lub->lub_dir_first <= lub->lub_dir_held &&
                            r - lub->lub_dir_first < capacity(lub);
        if (!inside) {
            if (int s = for__flush_file_buffer(lub)) return s;
        }
    }
    if (!lub->lub_dir_pending) {
        // A cache of records read is given up, so that no read serves the
        // record as it was before this write.
        lub->lub_dir_first = r;
        lub->lub_dir_held = 0;
        lub->lub_dir_pending = 1;
    }
    set_record(lub, r, true);
    if (for__dir_marked(lub)) *slot_of(lub, r) = static_cast<char>(marker_data);
    return 0;
}

int for__put_d(For_Lub *lub) {
    const uint64_t r = lub->lub_record_number;
    char *slot = slot_of(lub, r);
    char *end = std::max(lub->lub_rec_end, lub->lub_rec_start);
    char *stop = slot + lub->lub_rec_len;
    if (end < stop) std::memset(end, fill_of(lub), static_cast<size_t>(stop - end));
    if (uint64_t t = terminator_bytes(lub)) {
        if (t == 2) stop[-2] = '\r';
        stop[-1] = '\n';
    }
    lub->lub_dir_held = std::max(lub->lub_dir_held, r - lub->lub_dir_first + 1);
    lub->lub_record_number = r + 1;
    lub->lub_rec_state = rec_idle;
    const bool write_now = lub->lub_dir_held >= capacity(lub) || !(lub->lub_flags & lubf::output_buffered) ||
                           (lub->lub_flags & lubf::no_buffering);
    return write_now ? for__flush_file_buffer(lub) : 0;
}

int for__get_d(For_Lub *lub) {
    const uint64_t r = lub->lub_record_number;
    if (int s = for__flush_file_buffer(lub)) return s;
    const uint64_t len = lub->lub_rec_len;
    if (!holds(lub, r)) {
        if (int s = for__dir_check_rec(lub, static_cast<int64_t>(r))) return s;
        // The next record after the one read last: the program reads in
        // sequence, so the buffer is filled. Any other record alone.
        const uint64_t want = r == lub->lub_dir_last_read + 1 ? capacity(lub) * len : len;
        drop_buffer(lub);
        int64_t got = read_at(lub->lub_fd, lub->lub_buf, want, offset_of(lub, r));
        if (got < 0) {
            lub->lub_errno = static_cast<uint64_t>(errno);
            return msg::read_error;
        }
        if (got == 0) return msg::nonexistent_record;
        lub->lub_dir_bytes_in += static_cast<uint64_t>(got);
        const uint64_t held = (static_cast<uint64_t>(got) + len - 1) / len;
        // A file that ends inside its last record: the rest is the record
        // fill, never what an earlier record left in the buffer.
        const uint64_t whole = held * len;
        if (whole > static_cast<uint64_t>(got))
            std::memset(lub->lub_buf + got, fill_of(lub), static_cast<size_t>(whole - static_cast<uint64_t>(got)));
        lub->lub_dir_first = r;
        lub->lub_dir_held = held;
    }
    if (for__dir_marked(lub)) {
        const auto m = static_cast<unsigned char>(*slot_of(lub, r));
        if ((m & ~0x40u) == 0) return msg::nonexistent_record;
    }
    set_record(lub, r, false);
    lub->lub_dir_last_read = r;
    lub->lub_record_number = r + 1;
    return 0;
}

int for__dir_put_bytes(For_Lub *lub, const char *p, uint64_t n) {
    const bool binary = (lub->lub_flags & lubf::form_binary) != 0;
    for (;;) {
        const auto room = static_cast<uint64_t>(lub->lub_buf_limit - lub->lub_buf_ptr);
        if (n > room && !binary) return msg::output_overflows_record;
        const uint64_t k = std::min(n, room);
        if (k) std::memcpy(lub->lub_buf_ptr, p, k);
        lub->lub_buf_ptr += k;
        lub->lub_rec_end = std::max(lub->lub_rec_end, lub->lub_buf_ptr);
        p += k;
        n -= k;
        if (n == 0) return 0;
        // FORM=BINARY: the data goes on in the next record.
        if (int s = for__put_d(lub)) return s;
        if (int s = for__dir_begin_output(lub, lub->lub_record_number)) return s;
    }
}

int for__dir_get_bytes(For_Lub *lub, char *p, uint64_t n) {
    const bool binary = (lub->lub_flags & lubf::form_binary) != 0;
    for (;;) {
        const auto room = static_cast<uint64_t>(lub->lub_buf_limit - lub->lub_buf_ptr);
        if (n > room && !binary) return msg::input_too_much_data;
        const uint64_t k = std::min(n, room);
        if (k) std::memcpy(p, lub->lub_buf_ptr, k);
        lub->lub_buf_ptr += k;
        p += k;
        n -= k;
        if (n == 0) return 0;
        if (int s = for__get_d(lub)) return s;
    }
}

int for__dir_next_record(For_Lub *lub, bool output) {
    if (!output) return for__get_d(lub);
    // A sequential REWRITE replaces one record, never the ones after it.
    if (lub->lub_stmt.seq_rewrite) return msg::output_overflows_record;
    if (int s = for__put_d(lub)) return s;
    return for__dir_begin_output(lub, lub->lub_record_number);
}

int for__dir_begin(For_Lub *lub, int64_t r, For_Dir_Start how) {
    lub->lub_stmt.direct = true;
    if (how == For_Dir_Start::rewrite) {
        // A sequential unit's record is rebuilt where the READ found it;
        // a stream unit has no records to rebuild.
        if (lub->lub_flags & lubf::access_stream) return msg::direct_io_not_consistent_open;
        if (!(lub->lub_flags & lubf::access_direct)) return for__seq_rewrite_begin(lub);
        if (int s = for__dir_assoc_check(lub)) return s;
        const uint64_t n = lub->lub_record_number;
        if (n < 1 || n > static_cast<uint64_t>(INT64_MAX)) return msg::rec_out_of_range;
        return for__dir_begin_output(lub, n > 1 ? n - 1 : 1);
    }
    if (int s = for__dir_check_stmt(lub, r)) return s;
    if (how == For_Dir_Start::write) return for__dir_begin_output(lub, static_cast<uint64_t>(r));
    lub->lub_record_number = static_cast<uint64_t>(r);
    return for__get_d(lub);
}

int for__dir_finish(For_Lub *lub, bool output) {
    if (lub->lub_stmt.seq_rewrite) return for__seq_rewrite_put(lub);
    if (output) {
        if (int s = for__put_d(lub)) return s;
    }
    for__dir_assoc_store(lub, lub->lub_record_number);
    return 0;
}

int for__dir_delete(For_Lub *lub, uint64_t r) {
    if (int s = for__flush_file_buffer(lub)) return s;
    drop_buffer(lub);
    const uint64_t len = lub->lub_rec_len;
    std::memset(lub->lub_buf, fill_of(lub), static_cast<size_t>(len));
    if (for__dir_marked(lub)) lub->lub_buf[0] = static_cast<char>(marker_deleted);
    if (::lseek(lub->lub_fd, offset_of(lub, r), SEEK_SET) < 0 ||
        for__write_all(lub->lub_fd, lub->lub_buf, len, chunk_of(lub)) != 0) {
        lub->lub_errno = static_cast<uint64_t>(errno);
        return msg::delete_error;
    }
    lub->lub_dir_bytes_out += len;
    ++lub->lub_dir_writes;
    // The buffer holds the record as the file now has it.
    lub->lub_dir_first = r;
    lub->lub_dir_held = 1;
    lub->lub_record_number = r + 1;
    for__dir_assoc_store(lub, r + 1);
    return 0;
}

int for__rewrite_unconnected(For_Lub *, int, int, int) { return msg::no_current_record; }
