// Unformatted sequential WRITE: builds a record from the raw bytes of the
// items and frames it by record type. A record stays in the record buffer
// while it is small; one that outgrows the block size on a file that can
// seek goes to the file as it comes, straight from the items' storage, and
// its leading marker is patched when its length is known.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

#include <vorlix/io.h>

#include "cvt/for_cvt_foreign.h"
#include "diag/for_msgnum.h"
#include "io/for_rec.h"
#include "io/for_stmt.h"
#include "unformatted/for_dir_buf.h"
#include "unformatted/for_ufseq.h"
#include "units/for_open.h"

uint64_t for__l_subrec_limit = for_subrec_max;

namespace {

using RT = For_Rec_Type;

uint64_t block_of(const For_Lub *lub) { return lub->lub_block_size ? lub->lub_block_size : for_default_block; }

// Bytes of framing before the data in the buffer, and after it.
struct Frame {
    int head, tail;
};
Frame frame_of(RT t) {
    switch (t) {
    case RT::variable: return {4, 4};
    case RT::segmented: return {4, 1};
    case RT::stream_lf:
    case RT::stream_cr: return {0, 1};
    case RT::stream_crlf: return {0, 2};
    default: return {0, 0};
    }
}

// Types whose framing needs nothing from before the data once it is out:
// their records can go to any descriptor piece by piece.
bool stream_like(RT t) { return t == RT::stream || t == RT::stream_lf || t == RT::stream_cr || t == RT::stream_crlf; }

char *area_base(const For_Lub *lub) {
    return (lub->lub_flags & lubf::held_records) && lub->lub_user_buf ? lub->lub_user_buf : lub->lub_buf;
}

// A record that goes to the file as it is built starts here.
void mark_direct(For_Lub *lub) {
    lub->lub_uf_state |= ufs::direct;
    const off_t here = ::lseek(lub->lub_fd, 0, SEEK_CUR);
    lub->lub_direct_start = here;
}

// A write failed. When the record was going straight to the file, what of
// it got there is cut off again and the record dropped: the WRITE reports
// the failure, and the file holds the whole records before it and nothing
// torn that a later statement would frame as a record of its own.
int write_failed(For_Lub *lub) {
    const int err = errno;
    lub->lub_errno = static_cast<uint64_t>(err);
    if ((lub->lub_uf_state & ufs::direct) && lub->lub_direct_start >= 0 &&
        ::ftruncate(lub->lub_fd, lub->lub_direct_start) == 0 &&
        ::lseek(lub->lub_fd, lub->lub_direct_start, SEEK_SET) == lub->lub_direct_start) {
        lub->lub_direct_start = -1;
        lub->lub_rec_state = rec_idle;
        lub->lub_uf_state = 0;
        if (lub->lub_rec_len > lub->lub_uf_area_len) lub->lub_rec_len = lub->lub_uf_area_len;
        lub->lub_rec_start = lub->lub_buf_ptr = lub->lub_rec_end = area_base(lub);
    }
    errno = err;
    return msg::write_error;
}

// Hands framed bytes in the buffer to the record layer, which may hold
// them back with the records before them.
int emit(For_Lub *lub, char *from, uint64_t n) {
    if (n == 0) return 0;
    return for__write_output(lub, from, n) < 0 ? write_failed(lub) : 0;
}

// Held records go out first, so that what follows is written in order;
// the record being built moves to the buffer start.
int drain(For_Lub *lub) {
    lub->lub_rec_end = lub->lub_buf_ptr;
    return for__flush_output(lub);
}

int write_now(For_Lub *lub, const char *p, uint64_t n) {
    return for__write_all(lub->lub_fd, p, n, for_direct_chunk) != 0 ? write_failed(lub) : 0;
}

// -- VARIABLE records written while they are built -----------------------

int write_marker(For_Lub *lub, int32_t v) {
    unsigned char m[4];
    for__put_marker(lub, m, v);
    return write_now(lub, reinterpret_cast<char *>(m), 4);
}

// Closes the open subrecord: its trailing marker goes after the data and
// its leading marker is patched in place, negative when `more` follows.
int close_subrec(For_Lub *lub, bool more) {
    auto d = static_cast<int32_t>(lub->lub_subrec_written - 4);
    if (int s = write_marker(lub, lub->lub_subrec_index ? -d : d)) return s;
    unsigned char m[4];
    for__put_marker(lub, m, more ? -d : d);
    if (for__pwrite_all(lub->lub_fd, m, 4, lub->lub_marker_pos) != 0) return write_failed(lub);
    lub->lub_marker_pos += static_cast<int64_t>(lub->lub_subrec_written) + 4;
    lub->lub_subrec_written = 0;
    lub->lub_subrec_room = -1;
    if (more) ++lub->lub_subrec_index;
    return 0;
}

// Writes data of the record, opening subrecords as the limit demands. The
// first subrecord's leading marker is the first 4 bytes it is given.
int subrec_write(For_Lub *lub, const char *p, uint64_t n) {
    const auto limit = static_cast<int64_t>(for__l_subrec_limit);
    while (n > 0) {
        if (lub->lub_subrec_room == 0) {
            if (int s = close_subrec(lub, true)) return s;
        }
        if (lub->lub_subrec_room < 0) {
            if (lub->lub_subrec_index == 0) {
                lub->lub_subrec_room = limit + 4;
            } else {
                static const char placeholder[4] = {};
                if (int s = write_now(lub, placeholder, 4)) return s;
                lub->lub_subrec_written = 4;
                lub->lub_subrec_room = limit;
            }
        }
        uint64_t k = std::min<uint64_t>(n, static_cast<uint64_t>(lub->lub_subrec_room));
        if (int s = write_now(lub, p, k)) return s;
        lub->lub_subrec_room -= static_cast<int64_t>(k);
        lub->lub_subrec_written += k;
        p += k;
        n -= k;
    }
    return 0;
}

// Writes what the buffer holds of a record that goes to the file directly.
int direct_out(For_Lub *lub, const char *p, uint64_t n) {
    return for__record_type(lub) == RT::variable ? subrec_write(lub, p, n) : write_now(lub, p, n);
}

// From here on the record goes to the file as it comes.
int enter_direct(For_Lub *lub) {
    if (int s = drain(lub)) return s;
    if (for__record_type(lub) == RT::variable) {
        off_t here = ::lseek(lub->lub_fd, 0, SEEK_CUR);
        if (here < 0) return write_failed(lub);
        lub->lub_marker_pos = here;
        lub->lub_subrec_written = 0;
        lub->lub_subrec_room = -1;
        lub->lub_subrec_index = 0;
        std::memset(lub->lub_rec_start, 0, 4);
    }
    mark_direct(lub);
    int s = direct_out(lub, lub->lub_rec_start, static_cast<uint64_t>(lub->lub_buf_ptr - lub->lub_rec_start));
    lub->lub_buf_ptr = lub->lub_rec_start;
    return s;
}

// A VARIABLE record whose data is all in the buffer. Above the subrecord
// limit (only ever when that is lowered, or on a descriptor that cannot
// seek) its subrecords are framed around the buffered data, so nothing
// needs patching.
int put_variable(For_Lub *lub) {
    char *b = lub->lub_rec_start;
    uint64_t n = static_cast<uint64_t>(lub->lub_buf_ptr - (b + 4));
    if (n <= for__l_subrec_limit) {
        auto m = static_cast<int32_t>(n);
        for__put_marker(lub, reinterpret_cast<unsigned char *>(b), m);
        for__put_marker(lub, reinterpret_cast<unsigned char *>(lub->lub_buf_ptr), m);
        return emit(lub, b, n + 8);
    }
    if (int s = drain(lub)) return s;
    b = lub->lub_rec_start;
    const char *p = b + 4;
    for (uint64_t i = 0; n > 0; ++i) {
        uint64_t k = std::min(n, for__l_subrec_limit);
        auto d = static_cast<int32_t>(k);
        bool more = n > k;
        if (int s = write_marker(lub, more ? -d : d)) return s;
        if (int s = write_now(lub, p, k)) return s;
        if (int s = write_marker(lub, i ? -d : d)) return s;
        p += k;
        n -= k;
    }
    return 0;
}

// -- SEGMENTED records -----------------------------------------------------

void put_le16(char *p, uint64_t v) {
    p[0] = static_cast<char>(v & 0xff);
    p[1] = static_cast<char>((v >> 8) & 0xff);
}

// Writes the segment in the buffer and lays out the next one after it.
int put_segment(For_Lub *lub, bool last) {
    char *b = lub->lub_rec_start;
    uint64_t n = static_cast<uint64_t>(lub->lub_buf_ptr - (b + 4));
    put_le16(b, n + 2);
    put_le16(b + 2, lub->lub_seg_control | (last ? 2u : 0u));
    if (n & 1) *lub->lub_buf_ptr++ = 0;
    if (int s = emit(lub, b, static_cast<uint64_t>(lub->lub_buf_ptr - b))) return s;
    if (last) return 0;
    lub->lub_seg_control = 0;
    ++lub->lub_subrec_index;
    char *base = area_base(lub);
    lub->lub_rec_start = base;
    lub->lub_buf_ptr = lub->lub_rec_end = base + 4;
    lub->lub_buf_limit = lub->lub_buf + lub->lub_buf_size - 1;
    return 0;
}

// -- Compatibility-layout blocks -----------------------------------------
//
// The block being filled is always the last thing in the buffer; its
// length byte is reserved at its head and set when the block closes, since
// only then is it known whether the record goes on (129) or ends there.
// lub_subrec_room counts the data bytes the block still takes.

char *block_head(const For_Lub *lub) { return lub->lub_buf_ptr - (cls::block_data - lub->lub_subrec_room) - 1; }

void close_block(For_Lub *lub, unsigned char length_byte) {
    *block_head(lub) = static_cast<char>(length_byte);
    *lub->lub_buf_ptr++ = static_cast<char>(length_byte);
    lub->lub_subrec_room = -1;
}

// Opens the next block. When the buffer has no room left for a whole one,
// the record's closed blocks go to the file first: they are final, so the
// record continues in the file with nothing to patch later.
int open_block(For_Lub *lub) {
    const auto whole = static_cast<ptrdiff_t>(cls::block_data + 2);
    if (lub->lub_buf + lub->lub_buf_size - lub->lub_buf_ptr < whole) {
        if (!(lub->lub_uf_state & ufs::direct)) {
            if (int s = drain(lub)) return s;
            mark_direct(lub);
        }
        if (int s = write_now(lub, lub->lub_rec_start, static_cast<uint64_t>(lub->lub_buf_ptr - lub->lub_rec_start)))
            return s;
        lub->lub_flags &= ~lubf::at_start;
        lub->lub_buf_ptr = lub->lub_rec_start;
        if (lub->lub_buf + lub->lub_buf_size - lub->lub_buf_ptr < whole) return msg::output_overflows_record;
    }
    *lub->lub_buf_ptr++ = 0;
    lub->lub_subrec_room = cls::block_data;
    return 0;
}

int put_blocks(For_Lub *lub, const char *p, uint64_t n) {
    while (n > 0) {
        if (lub->lub_subrec_room == 0) {
            close_block(lub, cls::block_more);
            if (int s = open_block(lub)) return s;
        }
        uint64_t k = std::min(n, static_cast<uint64_t>(lub->lub_subrec_room));
        std::memcpy(lub->lub_buf_ptr, p, k);
        lub->lub_buf_ptr += k;
        lub->lub_subrec_room -= static_cast<int64_t>(k);
        p += k;
        n -= k;
    }
    return 0;
}

// -- The record ----------------------------------------------------------

int finish_record(For_Lub *lub);

int finish_open_record(For_Lub *lub);

// The bookkeeping of a record that starts.
void start_record_counts(For_Lub *lub) {
    lub->lub_uf_bytes = 0;
    lub->lub_subrec_index = 0;
    lub->lub_subrec_room = -1;
    lub->lub_seg_control = 1;
    lub->lub_uf_area_len = lub->lub_rec_len;  // growth of the area lasts one record
}

// The unit between records again, after a record went out with status s.
int between_records(For_Lub *lub, int s) {
    lub->lub_flags &= ~lubf::at_start;  // 'K' went with the record
    if (lub->lub_rec_len > lub->lub_uf_area_len) lub->lub_rec_len = lub->lub_uf_area_len;
    lub->lub_rec_state = rec_idle;
    lub->lub_uf_state = 0;
    lub->lub_rec_start = lub->lub_buf_ptr = lub->lub_rec_end = area_base(lub);
    if (s == 0) ++lub->lub_record_number;
    return s;
}

int begin_record(For_Lub *lub) {
    if (int s = finish_open_record(lub)) return s;
    if ((lub->lub_flags & lubf::read_ahead) || lub->lub_rec_state == rec_input) {
        if (int s = for__flush_readahead(lub, 0)) return s;
    }
    lub->lub_flags &= ~lubf::eof;
    RT t = for__record_type(lub);
    if (t == RT::none || static_cast<int>(t) > 8) return msg::inconsistent_record_type;
    Frame f = frame_of(t);
    // What must fit behind the records held back: a FIXED record, or a
    // segment, whole; anything else at least its framing.
    uint64_t need = (t == RT::fixed || t == RT::segmented ? lub->lub_rec_len : 0) + 16;
    if (for__compat_layout(lub)) need = 2 * (cls::block_data + 2) + 1;
    char *base = area_base(lub);
    if (base != lub->lub_buf && base + need > lub->lub_buf + lub->lub_buf_size) {
        if (int s = for__flush_output(lub)) return s;
        base = lub->lub_buf;
    }
    if (t == RT::fixed && lub->lub_rec_len + 16 > lub->lub_buf_size) return msg::output_overflows_record;
    lub->lub_rec_start = base;
    lub->lub_buf_ptr = lub->lub_rec_end = base + f.head;
    lub->lub_buf_limit = t == RT::fixed ? base + lub->lub_rec_len : lub->lub_buf + lub->lub_buf_size - f.tail;
    lub->lub_rec_state = rec_output;
    lub->lub_uf_state = ufs::in_record;
    start_record_counts(lub);
    if (for__compat_layout(lub)) {
        if (lub->lub_flags & lubf::at_start) *lub->lub_buf_ptr++ = static_cast<char>(cls::file_start);
        lub->lub_compat_state |= cls::end_pending;
        return open_block(lub);
    }
    return 0;
}

// Most data bytes a record may have; RECL bounds records of units that
// gave one.
uint64_t record_cap(const For_Lub *lub) {
    RT t = for__record_type(lub);
    if (t == RT::fixed) return lub->lub_rec_len;
    if (t == RT::variable && !(lub->lub_flags & lubf::recl_defaulted)) return lub->lub_rec_len - 8;
    return UINT64_MAX;
}

// The record area has `room` bytes left and `n` more are to come: makes
// it take more, by sending the record to the file from here on, writing
// out what the area holds of a record already going there, writing the
// records held before it, or growing it. 0 when the caller may try again.
int make_room(For_Lub *lub, uint64_t n, uint64_t room) {
    const RT t = for__record_type(lub);
    if (t == RT::fixed) return msg::output_overflows_record;
    const bool can_direct = (lub->lub_flags & lubf::recl_defaulted) &&
                            (stream_like(t) || (t == RT::variable && (lub->lub_flags & lubf::positionable)));
    if (!(lub->lub_uf_state & ufs::direct) && can_direct && lub->lub_uf_bytes > block_of(lub)) return enter_direct(lub);
    if (lub->lub_uf_state & ufs::direct) {
        int s = direct_out(lub, lub->lub_rec_start, static_cast<uint64_t>(lub->lub_buf_ptr - lub->lub_rec_start));
        lub->lub_buf_ptr = lub->lub_rec_start;
        return s;
    }
    if (lub->lub_flags & lubf::held_records) return drain(lub);
    uint64_t short_by = n - room;
    return for__adjust_buffer(lub, short_by, std::max<uint64_t>(short_by, 512)) != 0 ? msg::output_overflows_record : 0;
}

// Puts `n` bytes of an item whose elements are `elem` bytes long.
int put_bytes(For_Lub *lub, const char *p, uint64_t n, uint64_t elem) {
    if (lub->lub_stmt.direct) return for__dir_put_bytes(lub, p, n);
    RT t = for__record_type(lub);
    if (n > record_cap(lub) - lub->lub_uf_bytes) return msg::output_overflows_record;
    lub->lub_uf_bytes += n;
    if (for__compat_layout(lub)) return put_blocks(lub, p, n);
    while (n > 0) {
        uint64_t room = static_cast<uint64_t>(lub->lub_buf_limit - lub->lub_buf_ptr);
        if (t == RT::segmented) {
            uint64_t used = static_cast<uint64_t>(lub->lub_buf_ptr - (lub->lub_rec_start + 4));
            room = std::min(room, for__seg_data_max(lub) - used);
            if (n > room) {
                // Whole elements to a segment, unless one is longer than any
                // segment can be.
                uint64_t k = room;
                if (elem > 1 && elem <= for__seg_data_max(lub)) k = room - room % elem;
                std::memcpy(lub->lub_buf_ptr, p, k);
                lub->lub_buf_ptr += k;
                p += k;
                n -= k;
                if (int s = put_segment(lub, false)) return s;
                continue;
            }
        }
        if (n <= room) {
            for__copy_item(lub->lub_buf_ptr, p, n);
            lub->lub_buf_ptr += n;
            return 0;
        }
        // An item larger than the area of a record going to the file goes
        // from its own storage.
        if ((lub->lub_uf_state & ufs::direct) && lub->lub_buf_ptr == lub->lub_rec_start &&
            n > static_cast<uint64_t>(lub->lub_buf_limit - lub->lub_rec_start))
            return direct_out(lub, p, n);
        if (int s = make_room(lub, n, room)) return s;
    }
    return 0;
}

// Puts a contiguous run of elements of `elem` bytes whose only change is
// their byte order: they are reversed straight into the record area, a
// whole area at a time, which then goes to the file like any other.
// Segmented and compatibility-layout records, whose framing cuts the data
// in pieces of their own, and records by number or rewritten in place,
// which have a slot of their own, take them through `scratch` and
// put_bytes.
int put_reversed(For_Lub *lub, const char *p, uint64_t n, uint64_t elem, char *scratch, uint64_t scratch_size) {
    if (lub->lub_stmt.direct || for__compat_layout(lub) || for__record_type(lub) == RT::segmented) {
        const uint64_t per = scratch_size - scratch_size % elem;
        for (uint64_t done = 0; done < n;) {
            const uint64_t k = std::min(n - done, per);
            for__reverse_elements(scratch, p + done, k / elem, static_cast<int64_t>(elem));
            if (int e = put_bytes(lub, scratch, k, elem)) return e;
            done += k;
        }
        return 0;
    }
    if (n > record_cap(lub) - lub->lub_uf_bytes) return msg::output_overflows_record;
    lub->lub_uf_bytes += n;
    // A record going to the file as it comes goes in pieces of at least
    // 1 MiB: the page cache keeps the data of small writes in small pages,
    // which take several times as long to read back as the large ones a
    // single write of the native data makes. The area grows once for the
    // unit and keeps its size.
    constexpr uint64_t big_piece = uint64_t{1} << 20;
    while (n > 0) {
        if ((lub->lub_uf_state & ufs::direct) && lub->lub_buf_ptr == lub->lub_rec_start) {
            const uint64_t area = static_cast<uint64_t>(lub->lub_buf_limit - lub->lub_rec_start);
            // Without the memory the pieces stay small; the data is the same.
            if (area < big_piece && n > area) {
                const uint64_t grow = std::min(n, big_piece) - area;
                (void)for__adjust_buffer(lub, grow, grow);
            }
        }
        const uint64_t room = static_cast<uint64_t>(lub->lub_buf_limit - lub->lub_buf_ptr);
        const uint64_t k = std::min(n, room - room % elem);
        if (k == 0) {
            if (int s = make_room(lub, n, room)) return s;
            continue;
        }
        for__reverse_elements(lub->lub_buf_ptr, p, k / elem, static_cast<int64_t>(elem));
        lub->lub_buf_ptr += k;
        p += k;
        n -= k;
    }
    return 0;
}

int finish_record(For_Lub *lub) {
    RT t = for__record_type(lub);
    int s = 0;
    bool direct = lub->lub_uf_state & ufs::direct;
    char *b = lub->lub_rec_start;
    if (for__compat_layout(lub)) close_block(lub, static_cast<unsigned char>(cls::block_data - lub->lub_subrec_room));
    switch (t) {
    case RT::variable:
        if (direct) {
            s = subrec_write(lub, b, static_cast<uint64_t>(lub->lub_buf_ptr - b));
            if (s == 0) s = close_subrec(lub, false);
        } else {
            s = put_variable(lub);
        }
        break;
    case RT::segmented: s = put_segment(lub, true); break;
    case RT::fixed: {
        char *end = b + lub->lub_rec_len;
        std::memset(lub->lub_buf_ptr, 0, static_cast<size_t>(end - lub->lub_buf_ptr));
        s = emit(lub, b, lub->lub_rec_len);
        break;
    }
    default: {
        char *e = lub->lub_buf_ptr;
        if (t == RT::stream_cr || t == RT::stream_crlf) *e++ = '\r';
        if (t == RT::stream_lf || t == RT::stream_crlf) *e++ = '\n';
        s = direct ? write_now(lub, b, static_cast<uint64_t>(e - b)) : emit(lub, b, static_cast<uint64_t>(e - b));
        break;
    }
    }
    if (s == 0 && (lub->lub_flags & lubf::truncate_after_write)) s = for__truncate_here(lub);
    return between_records(lub, s);
}

// An item whose file form differs from the variable's (CONVERT=): its
// elements are converted into scratch space, which goes into the record
// a few kilobytes at a time; the program's variable is only read.
int put_converted(For_Lub *lub, const For_Item &it, const For_Shape &shape) {
    const int64_t part = it.elem_size;  // a complex value converts part by part
    const int64_t parts = part > 0 ? it.elem_len / part : 0;
    alignas(16) char scratch[4096];
    uint64_t used = 0;
    const auto step = static_cast<uint64_t>(part);
    if (shape.form != FOR_FORM_SECTION && shape.form != FOR_FORM_SECTION_ELEN &&
        for__cvt_foreign_reverse_only(it.type, lub, true)) {
        // A contiguous item whose bytes are only reversed: whole runs at once.
        const uint64_t n = static_cast<uint64_t>(it.length) - static_cast<uint64_t>(it.length) % step;
        return put_reversed(lub, static_cast<const char *>(it.addr), n, step, scratch, sizeof scratch);
    }
    int s = for__each_element(it, shape, [&](char *p) {
        for (int64_t k = 0; k < parts; ++k) {
            if (used + step > sizeof scratch) {
                if (int e = put_bytes(lub, scratch, used, step)) return e;
                used = 0;
            }
            if (for__cvt_foreign_write(p + k * part, it.type, part, lub, scratch + used) != 0)
                for__cvt_foreign_failed();
            used += step;
        }
        return 0;
    });
    return s != 0 ? s : put_bytes(lub, scratch, used, step);
}

}  // namespace

int for__uf_put_item(For_Lub *lub, const For_Item &it, const For_Shape &shape) {
    if ((lub->lub_flags & lubf::foreign) && it.elem_size > 0 && it.elem_size <= 16 &&
        for__cvt_foreign_check(it.type, for__item_count(it, shape), lub) != 0)
        return put_converted(lub, it, shape);
    uint64_t elem = static_cast<uint64_t>(it.elem_size > 0 ? it.elem_size : 1);
    if (shape.form == FOR_FORM_SECTION || shape.form == FOR_FORM_SECTION_ELEN) {
        auto len = static_cast<uint64_t>(it.elem_len);
        return for__each_element(it, shape, [&](char *p) { return put_bytes(lub, p, len, elem); });
    }
    return put_bytes(lub, static_cast<const char *>(it.addr), static_cast<uint64_t>(it.length), elem);
}

namespace {

struct Writer {
    int item(For_Lub *lub, const For_Item &it, const For_Shape &shape) { return for__uf_put_item(lub, it, shape); }
    int finish(For_Lub *lub) { return finish_record(lub); }
};

const For_Stmt_Kind write_kind{.op = FOR_OP_WRITE,
                               .output = true,
                               .formatted = false,
                               .internal = false,
                               .module = "for_wseq",
                               .access = FOR_ACCESS_SEQUENTIAL,
                               .status = 4,
                               .form = 2,
                               .connect = for__open_default};

// -- The common statement ------------------------------------------------
//
// WRITE (u) a, b, c with plain items on a VARIABLE unit between records,
// when the record fits in the buffer behind the records held back: it is
// laid out and framed in one pass, and the unit ends as the general path
// would leave it. Everything else (asynchronous units and child
// statements among them) takes the general path.

bool fast_unit(const For_Lub *lub, uint64_t total) {
    constexpr uint64_t must = lubf::opened | lubf::unformatted;
    constexpr uint64_t mustnt = lubf::formatted | lubf::readonly | lubf::access_keyed | lubf::access_direct |
                                lubf::access_stream | lubf::foreign | lubf::read_ahead | lubf::truncate_after_write;
    const uint64_t fl = lub->lub_flags;
    if ((fl & (must | mustnt)) != must || for__record_type(lub) != RT::variable || for__compat_layout(lub) ||
        lub->lub_rec_state != rec_idle || lub->lub_uf_state != 0 || lub->lub_udio_depth != 0 || lub->lub_aio ||
        lub->lub_write_errno)
        return false;
    if (total > for__l_subrec_limit || (!(fl & lubf::recl_defaulted) && total + 8 > lub->lub_rec_len)) return false;
    const char *base = area_base(lub);
    return lub->lub_buf && base + total + 8 <= lub->lub_buf + lub->lub_buf_size;
}

int fast_write(For_Lub *lub, const For_Plain_Items &items) {
    char *b = area_base(lub);
    const uint64_t n = items.total;
    char *p = b + 4;
    for (int i = 0; i < items.count; ++i) {
        for__copy_item(p, items.item[i].addr, items.item[i].length);
        p += items.item[i].length;
    }
    for__put_marker(lub, reinterpret_cast<unsigned char *>(b), static_cast<int32_t>(n));
    for__put_marker(lub, reinterpret_cast<unsigned char *>(p), static_cast<int32_t>(n));
    lub->lub_flags &= ~lubf::eof;
    int s = for__hold_output(lub, b, n + 8) ? 0 : emit(lub, b, n + 8);
    start_record_counts(lub);
    lub->lub_uf_bytes = n;
    lub->lub_buf_limit = lub->lub_buf + lub->lub_buf_size - 4;
    return between_records(lub, s);
}

}  // namespace

uint64_t for__seg_data_max(const For_Lub *lub) {
    uint64_t by_recl = lub->lub_rec_len > 4 ? lub->lub_rec_len - 4 : 1;
    return std::min<uint64_t>(by_recl, 65535 - 2);
}

namespace {
int finish_open_record(For_Lub *lub) {
    if (!(lub->lub_flags & lubf::unformatted) || lub->lub_rec_state != rec_output ||
        !(lub->lub_uf_state & ufs::in_record))
        return 0;
    if (lub->lub_uf_state & ufs::direct) return finish_record(lub);
    // Nothing of it reached the file: the record is dropped.
    lub->lub_rec_state = rec_idle;
    lub->lub_uf_state = 0;
    if (lub->lub_rec_len > lub->lub_uf_area_len) lub->lub_rec_len = lub->lub_uf_area_len;
    return 0;
}
}  // namespace

int for__finish_ufseq_write(For_Lub *lub) {
    if (int s = finish_open_record(lub)) return s;
    if (!for__compat_layout(lub) || !(lub->lub_compat_state & cls::end_pending)) return 0;
    if (lub->lub_flags & lubf::read_ahead) {
        if (for__flush_readahead(lub, 0) != 0) return msg::write_error;
    }
    if (int s = for__flush_output(lub)) return s;
    char bytes[2];
    uint64_t n = 0;
    if (lub->lub_flags & lubf::at_start) bytes[n++] = static_cast<char>(cls::file_start);
    bytes[n++] = static_cast<char>(cls::file_end);
    if (int s = write_now(lub, bytes, n)) return s;
    lub->lub_flags &= ~lubf::at_start;
    lub->lub_compat_state &= static_cast<uint8_t>(~cls::end_pending);
    return 0;
}

int for__uf_settle(For_Lub *lub) {
    if (int s = for__finish_ufseq_write(lub)) return s;
    if (lub->lub_rec_state == rec_output && (lub->lub_flags & lubf::partial_record) &&
        (lub->lub_flags & lubf::formatted)) {
        if (int s = for__put_sf(lub)) return s;
    }
    if (int s = for__flush_output(lub)) return s;
    if (lub->lub_rec_state == rec_output) lub->lub_rec_state = rec_idle;
    return for__flush_readahead(lub, 0);
}

int for__seek_pos(For_Lub *lub, int seek_failed) {
    if (!(lub->lub_stmt_flags & lubs::pos_given)) return 0;
    if (int s = for__uf_settle(lub)) return s;
    if (::lseek(lub->lub_fd, static_cast<off_t>(lub->lub_file_pos), SEEK_SET) < 0) {
        lub->lub_errno = static_cast<uint64_t>(errno);
        return seek_failed;
    }
    return 0;
}

int for__put_su_bytes(For_Lub *lub, const char *data, uint64_t n) {
    if (int s = begin_record(lub)) return s;
    if (int s = put_bytes(lub, data, n, 1)) return s;
    return finish_record(lub);
}

int for__uf_check(For_Lub *lub) {
    uint64_t fl = lub->lub_flags;
    if (fl & lubf::formatted) return msg::unformatted_to_formatted;
    if ((fl & lubf::access_direct) && !(fl & lubf::opt_compat)) return msg::sequential_to_direct;
    // Editing modes mean nothing to raw bytes.
    if (lub->lub_stmt.saved.overridden) return msg::keyword_not_unformatted;
    return 0;
}

VORLIX_API int for_write_seq(For_Context *ctx, int unit, For_IO_Flags flags, const For_Dsc_Lst *dsc,
                             const For_Value_List *val, const For_Dsc_Lst *cdsc, const For_Value_List *cval) {
    const For_Stmt st{ctx, unit, flags, cdsc, cval};
    For_Plain_Items items;
    const bool plain = !for__stmt_has_control_lists(flags) && for__plain_items(dsc, val, &items);
    For_Lub *lub = nullptr;
    int r = for__stmt_acquire(write_kind, st, &lub);
    if (!lub) return r;
    if (plain && fast_unit(lub, items.total)) {
        for__stmt_conditions(write_kind, flags, lub);
        return for__stmt_end(lub, fast_write(lub, items));
    }
    r = for__stmt_begin_acquired(write_kind, st, lub, &lub);
    if (!lub) return r;
    int s = for__uf_check(lub);
    if (s == 0) s = for__seek_pos(lub, msg::write_error);
    if (s == 0) s = begin_record(lub);
    if (s != 0) return for__stmt_fail(lub, s);
    return for__stmt_transfer(ctx, dsc, val, Writer{});
}

VORLIX_API int for_write_seq_xmit(For_Context *ctx, const For_Dsc_Lst *dsc, const For_Value_List *val) {
    return for__stmt_transfer(ctx, dsc, val, Writer{});
}
