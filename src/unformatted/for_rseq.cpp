// Unformatted sequential READ: finds the next record, checks its framing
// and copies its bytes into the items. Records are never staged whole:
// the buffer holds what was read ahead, and the part of an item that is at
// least a buffer long is read straight into the item. Every length comes
// from the file and is checked before it is used: a corrupt file gives a
// message, never an overrun or an allocation of the size it claims.
//
// Input state: [lub_ra_next, lub_ra_end) of the buffer was read from the
// file and not yet consumed; lub_buf_ptr follows lub_ra_next, so that the
// record layer gives back exactly the unconsumed bytes before a write or a
// repositioning.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <unistd.h>

#include <vorlix/io.h>

#include "cvt/for_cvt_foreign.h"
#include "diag/for_msgnum.h"
#include "io/for_rec.h"
#include "io/for_stmt.h"
#include "runtime/for_vm.h"
#include "unformatted/for_dir_buf.h"
#include "unformatted/for_ufseq.h"
#include "units/for_open.h"

namespace {

using RT = For_Rec_Type;

int read_failed(For_Lub *lub) {
    lub->lub_errno = static_cast<uint64_t>(errno);
    return msg::read_error;
}

uint64_t avail(const For_Lub *lub) { return static_cast<uint64_t>(lub->lub_ra_end - lub->lub_ra_next); }

void consume(For_Lub *lub, uint64_t n) {
    lub->lub_ra_next += n;
    lub->lub_buf_ptr = lub->lub_ra_next;
}

const unsigned char *cur(const For_Lub *lub) { return reinterpret_cast<const unsigned char *>(lub->lub_ra_next); }

void start_input(For_Lub *lub) {
    if (!(lub->lub_flags & lubf::read_ahead) || !lub->lub_ra_next) {
        lub->lub_ra_next = lub->lub_ra_end = lub->lub_buf_ptr = lub->lub_buf;
        lub->lub_flags |= lubf::read_ahead;
    }
    lub->lub_rec_state = rec_input;
}

// Makes at least `n` bytes (a few: framing) available at lub_ra_next.
// Returns how many are (fewer at the end of the file), or -1 (errno set).
int64_t fill_more(For_Lub *lub, uint64_t n);

inline int64_t fill(For_Lub *lub, uint64_t n) {
    uint64_t a = avail(lub);
    if (a >= n) return static_cast<int64_t>(a);
    return fill_more(lub, n);
}

int64_t fill_more(For_Lub *lub, uint64_t n) {
    uint64_t a = avail(lub);
    if (lub->lub_ra_next != lub->lub_buf) {
        std::memmove(lub->lub_buf, lub->lub_ra_next, a);
        lub->lub_ra_next = lub->lub_buf_ptr = lub->lub_buf;
        lub->lub_ra_end = lub->lub_buf + a;
    }
    while (a < n) {
        uint64_t got = 0;
        if (!for__read_input(lub->lub_fd, lub->lub_ra_end, lub->lub_buf_size - a, &got, lub)) return -1;
        if (got == 0) break;
        lub->lub_ra_end += got;
        a += got;
    }
    return static_cast<int64_t>(a);
}

// Parts of an item at least this long are read straight into it.
uint64_t direct_from(const For_Lub *lub) {
    if ((lub->lub_flags & lubf::threshold_given) && lub->lub_buf_threshold > 1) return lub->lub_buf_threshold;
    return lub->lub_buf_size;
}

// Copies up to `n` bytes of the file into `dst`. Returns the count (short
// at the end of the file) or -1 (errno set).
int64_t take(For_Lub *lub, char *dst, uint64_t n) {
    uint64_t got = 0;
    while (n > 0) {
        uint64_t a = avail(lub);
        if (a == 0) {
            if (n >= direct_from(lub)) {
                uint64_t c = 0;
                if (!for__read_input(lub->lub_fd, dst, n, &c, lub, for_direct_chunk)) return -1;
                if (c == 0) break;
                dst += c;
                n -= c;
                got += c;
                continue;
            }
            int64_t f = fill(lub, 1);
            if (f < 0) return -1;
            if (f == 0) break;
            continue;
        }
        uint64_t k = std::min(a, n);
        for__copy_item(dst, lub->lub_ra_next, k);
        consume(lub, k);
        dst += k;
        n -= k;
        got += k;
    }
    return static_cast<int64_t>(got);
}

// Steps over `n` bytes: within the buffer, else by seeking (or reading,
// on a descriptor that cannot seek). 0 or 39.
int skip(For_Lub *lub, uint64_t n) {
    uint64_t a = avail(lub);
    if (n <= a) {
        consume(lub, n);
        return 0;
    }
    n -= a;
    lub->lub_ra_next = lub->lub_ra_end = lub->lub_buf_ptr = lub->lub_buf;
    if (lub->lub_flags & lubf::positionable) {
        if (n > static_cast<uint64_t>(INT64_MAX) || ::lseek(lub->lub_fd, static_cast<off_t>(n), SEEK_CUR) < 0)
            return read_failed(lub);
        return 0;
    }
    while (n > 0) {
        int64_t f = fill(lub, 1);
        if (f < 0) return read_failed(lub);
        if (f == 0) return msg::read_error;
        uint64_t k = std::min(static_cast<uint64_t>(f), n);
        consume(lub, k);
        n -= k;
    }
    return 0;
}

uint16_t le16(const unsigned char *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// A marker's length, or -1 for the one value whose magnitude has no
// 32-bit length.
int64_t magnitude(int32_t m) {
    if (m == INT32_MIN) return -1;
    return m < 0 ? -static_cast<int64_t>(m) : m;
}

// Reads the leading marker of a VARIABLE subrecord.
int variable_head(For_Lub *lub, bool first) {
    int64_t a = fill(lub, 4);
    if (a < 0) return read_failed(lub);
    if (a == 0 && first) return msg::eof_during_read;
    if (a < 4) return msg::read_error;
    int32_t m = for__get_marker(lub, cur(lub));
    int64_t len = magnitude(m);
    if (len < 0) return msg::read_error;
    if (first && m == 1 && for__eof_records(lub)) {
        // Our ENDFILE's record: stay before it, as at any end of file.
        int64_t b = fill(lub, 9);
        if (b < 0) return read_failed(lub);
        if (b >= 9 && cur(lub)[4] == 0x1a && for__get_marker(lub, cur(lub) + 5) == 1) return msg::eof_during_read;
    }
    consume(lub, 4);
    lub->lub_rec_remaining = lub->lub_subrec_len = static_cast<uint64_t>(len);
    lub->lub_uf_state = static_cast<uint8_t>((lub->lub_uf_state & ~ufs::continued) | (m < 0 ? ufs::continued : 0));
    return 0;
}

// Checks the trailing marker of the finished VARIABLE subrecord.
int variable_tail(For_Lub *lub) {
    int64_t a = fill(lub, 4);
    if (a < 0) return read_failed(lub);
    if (a < 4) return msg::read_error;
    if (magnitude(for__get_marker(lub, cur(lub))) != static_cast<int64_t>(lub->lub_subrec_len)) return msg::read_error;
    consume(lub, 4);
    return 0;
}

// Reads a segment's count and control word.
int segment_head(For_Lub *lub, bool first) {
    int64_t a = fill(lub, 4);
    if (a < 0) return read_failed(lub);
    if (a == 0 && first) return msg::eof_during_read;
    if (a < 4) return msg::segmented_record_format;
    const unsigned char *p = cur(lub);
    if (first && std::memcmp(p, for_seg_eof_record, 4) == 0) return msg::eof_during_read;
    uint16_t count = le16(p), control = le16(p + 2);
    // A record opens with a first segment, and only its first segment is one.
    if (count < 2 || ((control & 1) != 0) != first || control > 3) return msg::segmented_record_format;
    consume(lub, 4);
    lub->lub_rec_remaining = lub->lub_subrec_len = count - 2u;
    lub->lub_seg_control = control;
    lub->lub_uf_state =
        static_cast<uint8_t>((lub->lub_uf_state & ~ufs::last_seg) | ((control & 2) ? ufs::last_seg : 0));
    return 0;
}

// A STREAM_LF/CR/CRLF record: the bytes up to its terminator, which the
// buffer is grown to hold (the terminator is the only framing there is).
int terminated_head(For_Lub *lub) {
    RT t = for__record_type(lub);
    const char term = t == RT::stream_cr ? '\r' : '\n';
    uint64_t scanned = 0;
    for (;;) {
        uint64_t a = avail(lub);
        const void *hit = std::memchr(lub->lub_ra_next + scanned, term, a - scanned);
        if (hit) {
            uint64_t len = static_cast<uint64_t>(static_cast<const char *>(hit) - lub->lub_ra_next);
            uint64_t tl = 1;
            if (t == RT::stream_crlf && len > 0 && lub->lub_ra_next[len - 1] == '\r') {
                --len;
                tl = 2;
            }
            lub->lub_rec_remaining = len;
            lub->lub_subrec_len = tl;
            return 0;
        }
        scanned = a;
        if (lub->lub_ra_next == lub->lub_buf && a == lub->lub_buf_size) {
            void *cell = lub->lub_buf;
            uint64_t size = lub->lub_buf_size * 2;
            if (for__realloc_vm(static_cast<int64_t>(size + 16), &cell, static_cast<int64_t>(lub->lub_buf_size + 16)))
                return msg::no_buffer_memory;
            char *nb = static_cast<char *>(cell);
            lub->lub_ra_end = nb + (lub->lub_ra_end - lub->lub_buf);
            lub->lub_ra_next = lub->lub_buf_ptr = nb;
            lub->lub_rec_start = lub->lub_buf_limit = lub->lub_rec_end = nb;
            lub->lub_buf = nb;
            lub->lub_buf_size = size;
        }
        int64_t f = fill(lub, a + 1);
        if (f < 0) return read_failed(lub);
        if (static_cast<uint64_t>(f) == a) {
            if (a == 0) return msg::eof_during_read;
            lub->lub_rec_remaining = a;  // the last record needs no terminator
            lub->lub_subrec_len = 0;
            return 0;
        }
    }
}

// -- The compatibility layout (for__read_ufseq) --------------------------
//
// Every length byte comes from the file: one outside 0 to 130, a trailing
// byte that differs from its leading one, or a file that ends inside a
// record is 605; nothing larger than a block is ever asked for.

// Checks the 'K' a file in this layout starts with.
int compat_start(For_Lub *lub) {
    int64_t a = fill(lub, 1);
    if (a < 0) return read_failed(lub);
    if (a == 0) return msg::eof_encountered;  // an empty file holds no record
    if (*cur(lub) != cls::file_start) return msg::illegal_unformatted_structure;
    consume(lub, 1);
    lub->lub_flags &= ~lubf::at_start;
    return 0;
}

// Reads a block's leading length byte. The end byte stays unread, so that
// every further READ meets it and EOF () sees it.
int compat_head(For_Lub *lub, bool first) {
    int64_t a = fill(lub, 1);
    if (a < 0) return read_failed(lub);
    if (a == 0) return first ? msg::eof_encountered : msg::illegal_unformatted_structure;
    unsigned char b = *cur(lub);
    if (b == cls::file_end) return first ? msg::eof_encountered : msg::illegal_unformatted_structure;
    if (b > cls::file_end) return msg::illegal_unformatted_structure;
    if (first && b == 1 && for__eof_records(lub)) {
        // Our ENDFILE's record: stay before it, as at any end of file.
        int64_t n = fill(lub, 3);
        if (n < 0) return read_failed(lub);
        if (n >= 3 && cur(lub)[1] == 0x1a && cur(lub)[2] == 1) return msg::eof_during_read;
    }
    consume(lub, 1);
    lub->lub_block_byte = b;
    lub->lub_rec_remaining = b == cls::block_more ? cls::block_data : b;
    return 0;
}

// Reads the trailing length byte of the block just consumed.
int compat_tail(For_Lub *lub) {
    int64_t a = fill(lub, 1);
    if (a < 0) return read_failed(lub);
    if (a == 0 || *cur(lub) != lub->lub_block_byte) return msg::illegal_unformatted_structure;
    consume(lub, 1);
    if (lub->lub_block_byte != cls::block_more) lub->lub_block_byte = cls::block_done;
    return 0;
}

// The current block is used up and items want more.
int compat_next(For_Lub *lub) {
    if (lub->lub_block_byte == cls::block_done) return msg::too_many_bytes_read;
    if (int s = compat_tail(lub)) return s;
    if (lub->lub_block_byte == cls::block_done) return msg::too_many_bytes_read;
    return compat_head(lub, false);
}

int compat_end(For_Lub *lub) {
    while (lub->lub_block_byte != cls::block_done) {
        if (int s = skip(lub, lub->lub_rec_remaining)) return s;
        lub->lub_rec_remaining = 0;
        if (int s = compat_tail(lub)) return s;
        if (lub->lub_block_byte == cls::block_done) break;
        if (int s = compat_head(lub, false)) return s;
    }
    return 0;
}

int begin_record(For_Lub *lub) {
    // A unit that wrote records owes the file its end byte; a READ right
    // after them meets that byte.
    const bool owed = for__compat_layout(lub) && (lub->lub_compat_state & cls::end_pending);
    if (int s = for__finish_ufseq_write(lub)) return s;
    if (owed && ::lseek(lub->lub_fd, -1, SEEK_CUR) < 0) return read_failed(lub);
    if (lub->lub_rec_state == rec_output || (lub->lub_flags & lubf::held_records)) {
        if (int s = for__flush_output(lub)) return s;
        lub->lub_rec_state = rec_idle;
    }
    start_input(lub);
    if (lub->lub_stmt_flags & lubs::pos_given) {
        if (int s = for__seek_pos(lub, msg::read_error)) return s;
        start_input(lub);
    }
    lub->lub_uf_state = ufs::in_record;
    lub->lub_subrec_index = 0;
    int s = 0;
    switch (for__record_type(lub)) {
    case RT::variable: s = variable_head(lub, true); break;
    case RT::segmented: s = segment_head(lub, true); break;
    case RT::fixed: {
        int64_t a = fill(lub, 1);
        if (a < 0) return read_failed(lub);
        if (a == 0) s = msg::eof_during_read;
        lub->lub_rec_remaining = lub->lub_rec_len;
        break;
    }
    case RT::stream_lf:
    case RT::stream_cr:
    case RT::stream_crlf: s = terminated_head(lub); break;
    case RT::stream:
        if (for__compat_layout(lub)) {
            if (lub->lub_flags & lubf::at_start) s = compat_start(lub);
            if (s == 0) s = compat_head(lub, true);
            break;
        }
        lub->lub_rec_remaining = UINT64_MAX;
        break;
    default: return msg::inconsistent_record_type;
    }
    if (s != 0) {
        lub->lub_uf_state = 0;
        return s;
    }
    ++lub->lub_record_number;
    return 0;
}

// The current subrecord or segment is used up and items want more.
int next_piece(For_Lub *lub) {
    if (for__compat_layout(lub)) return compat_next(lub);
    switch (for__record_type(lub)) {
    case RT::variable:
        if (!(lub->lub_uf_state & ufs::continued)) return msg::input_too_much_data;
        if (int s = variable_tail(lub)) return s;
        if (int s = variable_head(lub, false)) return s;
        ++lub->lub_subrec_index;
        return 0;
    case RT::segmented:
        if (lub->lub_uf_state & ufs::last_seg) return msg::input_too_much_data;
        if (int s = skip(lub, lub->lub_subrec_len & 1)) return s;
        if (int s = segment_head(lub, false)) return s;
        ++lub->lub_subrec_index;
        return 0;
    default: return msg::input_too_much_data;
    }
}

int get_bytes(For_Lub *lub, char *dst, uint64_t n) {
    if (lub->lub_stmt.direct) return for__dir_get_bytes(lub, dst, n);
    while (n > 0) {
        if (lub->lub_rec_remaining == 0) {
            if (int s = next_piece(lub)) return s;
            continue;
        }
        uint64_t k = std::min(n, lub->lub_rec_remaining);
        int64_t got = take(lub, dst, k);
        if (got < 0) return read_failed(lub);
        if (static_cast<uint64_t>(got) < k) {
            if (for__compat_layout(lub)) return msg::illegal_unformatted_structure;  // the file ends inside a block
            return for__record_type(lub) == RT::stream ? msg::eof_during_read : msg::read_error;
        }
        if (lub->lub_rec_remaining != UINT64_MAX) lub->lub_rec_remaining -= k;
        dst += k;
        n -= k;
    }
    return 0;
}

// Steps over what the items left of the record, checking its framing.
int end_record(For_Lub *lub) {
    RT t = for__record_type(lub);
    int s = 0;
    switch (t) {
    case RT::stream:
        if (for__compat_layout(lub)) s = compat_end(lub);
        break;
    case RT::variable:
        for (;;) {
            if ((s = skip(lub, lub->lub_rec_remaining)) || (s = variable_tail(lub))) break;
            if (!(lub->lub_uf_state & ufs::continued)) break;
            if ((s = variable_head(lub, false))) break;
        }
        break;
    case RT::segmented:
        for (;;) {
            if ((s = skip(lub, lub->lub_rec_remaining + (lub->lub_subrec_len & 1)))) break;
            if (lub->lub_uf_state & ufs::last_seg) break;
            if ((s = segment_head(lub, false))) break;
        }
        break;
    case RT::fixed: s = skip(lub, lub->lub_rec_remaining); break;
    default: s = skip(lub, lub->lub_rec_remaining + lub->lub_subrec_len); break;
    }
    lub->lub_uf_state = 0;
    lub->lub_rec_remaining = 0;
    return s;
}

// The item holds the file's bytes: each element takes the variable's form
// in place (CONVERT=).
void convert_read(const For_Lub *lub, const For_Item &it, const For_Shape &shape) {
    const int64_t part = it.elem_size;
    const int64_t parts = it.elem_len / part;
    if (for__cvt_foreign_reverse_only(it.type, lub, false)) {
        for__each_element(it, shape, [&](char *p) {
            for__reverse_elements(p, p, static_cast<uint64_t>(parts), part);
            return 0;
        });
        return;
    }
    for__each_element(it, shape, [&](char *p) {
        for (int64_t k = 0; k < parts; ++k)
            if (for__cvt_foreign_read(p + k * part, it.type, lub, part) != 0) for__cvt_foreign_failed();
        return 0;
    });
}

// A contiguous item whose elements only change byte order. A large one is
// read a piece at a time into a block that stays in the cache and
// reversed from there into the item: reading straight into the item in
// pieces costs the kernel several times what one read of the native data
// does, while its copy into a block it has just filled is as fast. A small
// item, or one for which no block can be had, is read in place and
// reversed there.
int get_reversed(For_Lub *lub, char *p, uint64_t n, int64_t part) {
    constexpr uint64_t piece = uint64_t{1} << 20;  // a multiple of every element size
    const auto size = static_cast<uint64_t>(part);
    void *block = nullptr;
    if (n > piece / 4 && for__get_vm(static_cast<int64_t>(std::min(n, piece)), 0, &block) != 0) block = nullptr;
    int s = 0;
    while (n > 0 && s == 0) {
        const uint64_t k = std::min(n, piece);
        char *to = block ? static_cast<char *>(block) : p;
        if ((s = get_bytes(lub, to, k)) == 0) for__reverse_elements(p, to, k / size, part);
        p += k;
        n -= k;
    }
    for__free_vm(block);
    return s;
}

}  // namespace

int for__uf_get_item(For_Lub *lub, const For_Item &it, const For_Shape &shape) {
    int s;
    const bool section = shape.form == FOR_FORM_SECTION || shape.form == FOR_FORM_SECTION_ELEN;
    const bool converted = (lub->lub_flags & lubf::foreign) && it.elem_size > 0 && it.elem_size <= 16 &&
                           for__cvt_foreign_check(it.type, for__item_count(it, shape), lub) != 0;
    if (converted && !section && for__cvt_foreign_reverse_only(it.type, lub, false) && it.length % it.elem_size == 0) {
        s = get_reversed(lub, static_cast<char *>(it.addr), static_cast<uint64_t>(it.length), it.elem_size);
    } else {
        if (section) {
            auto len = static_cast<uint64_t>(it.elem_len);
            s = for__each_element(it, shape, [&](char *p) { return get_bytes(lub, p, len); });
        } else {
            s = get_bytes(lub, static_cast<char *>(it.addr), static_cast<uint64_t>(it.length));
        }
        if (s == 0 && converted) convert_read(lub, it, shape);
    }
    // The record itself is sound when it is only too short for the
    // items: the next READ starts at the next record, as with gfortran.
    // (A record by number has no framing to step over.)
    if ((s == msg::input_too_much_data || s == msg::too_many_bytes_read) && !lub->lub_stmt.direct &&
        end_record(lub) != 0)
        return s;
    return s;
}

namespace {

struct Reader {
    int item(For_Lub *lub, const For_Item &it, const For_Shape &shape) { return for__uf_get_item(lub, it, shape); }
    int finish(For_Lub *lub) { return end_record(lub); }
};

const For_Stmt_Kind read_kind{.op = FOR_OP_READ,
                              .output = false,
                              .formatted = false,
                              .internal = false,
                              .module = "for_rseq",
                              .access = FOR_ACCESS_SEQUENTIAL,
                              .status = 4,
                              .form = 2,
                              .connect = for__open_default};

// -- The common statement ------------------------------------------------
//
// READ (u) a, b, c with plain items, when the whole next VARIABLE record
// already lies in the read-ahead with sound markers and holds the items:
// the items are copied out and the record is stepped over, leaving the
// unit as the general path would. Anything else (the record's end not yet
// read, a continued record, a marker that does not match, too few bytes
// for the items) takes the general path, which also reports the errors.
bool fast_record(const For_Lub *lub, uint64_t total, uint64_t *length) {
    constexpr uint64_t must = lubf::opened | lubf::unformatted | lubf::read_ahead;
    constexpr uint64_t mustnt = lubf::formatted | lubf::write_only | lubf::access_keyed | lubf::access_direct |
                                lubf::access_stream | lubf::foreign | lubf::held_records | lubf::eof;
    const uint64_t fl = lub->lub_flags;
    if ((fl & (must | mustnt)) != must || for__record_type(lub) != RT::variable || for__compat_layout(lub) ||
        for__eof_records(lub) || lub->lub_rec_state != rec_input || !lub->lub_ra_next || lub->lub_uf_state != 0 ||
        lub->lub_udio_depth != 0 || lub->lub_aio || lub->lub_write_errno)
        return false;
    const uint64_t a = avail(lub);
    if (a < 8) return false;
    const int32_t m = for__get_marker(lub, cur(lub));
    if (m < 0) return false;
    const auto len = static_cast<uint64_t>(m);
    if (a < len + 8 || total > len || for__get_marker(lub, cur(lub) + 4 + len) != m) return false;
    *length = len;
    return true;
}

void fast_read(For_Lub *lub, const For_Plain_Items &items, uint64_t len) {
    const char *p = lub->lub_ra_next + 4;
    for (int i = 0; i < items.count; ++i) {
        for__copy_item(items.item[i].addr, p, items.item[i].length);
        p += items.item[i].length;
    }
    consume(lub, len + 8);
    lub->lub_rec_remaining = 0;
    lub->lub_subrec_len = len;
    lub->lub_subrec_index = 0;
    ++lub->lub_record_number;
}

}  // namespace

VORLIX_API int for_read_seq(For_Context *ctx, int unit, For_IO_Flags flags, const For_Dsc_Lst *dsc,
                            const For_Value_List *val, const For_Dsc_Lst *cdsc, const For_Value_List *cval) {
    const For_Stmt st{ctx, unit, flags, cdsc, cval};
    For_Plain_Items items;
    const bool plain = !for__stmt_has_control_lists(flags) && for__plain_items(dsc, val, &items);
    For_Lub *lub = nullptr;
    int r = for__stmt_acquire(read_kind, st, &lub);
    if (!lub) return r;
    uint64_t len = 0;
    if (plain && fast_record(lub, items.total, &len)) {
        for__stmt_conditions(read_kind, flags, lub);
        fast_read(lub, items, len);
        return for__stmt_end(lub, 0);
    }
    r = for__stmt_begin_acquired(read_kind, st, lub, &lub);
    if (!lub) return r;
    int s = for__uf_check(lub);
    if (s == 0 && (lub->lub_flags & lubf::write_only)) s = msg::read_error;
    if (s == 0) s = begin_record(lub);
    if (s != 0) return for__stmt_fail(lub, s);
    return for__stmt_transfer(ctx, dsc, val, Reader{});
}

VORLIX_API int for_read_seq_xmit(For_Context *ctx, const For_Dsc_Lst *dsc, const For_Value_List *val) {
    return for__stmt_transfer(ctx, dsc, val, Reader{});
}
