// The EOF (u) function: whether the unit is at the end of its file. The
// end is the end of the data, or, on units whose ENDFILE writes physical
// end-of-file records (option bit 0), such a record at the unit's position.
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include <vorlix/io.h>

#include "io/for_rec.h"
#include "diag/for_msgnum.h"
#include "io/for_tty_pair.h"
#include "unformatted/for_ufseq.h"
#include "units/for_pos_stmt.h"

namespace {

using RT = For_Rec_Type;

// The bytes of an end-of-file record as this unit writes it; 0 when its
// form has none to recognise.
int eof_pattern(const For_Lub *lub, unsigned char out[9]) {
    auto t = static_cast<RT>(lub->lub_record_type);
    if (for__compat_layout(lub)) {
        // A one-block record holding 0x1A.
        std::memcpy(out, "\x01\x1a\x01", 3);
        return 3;
    }
    if (lub->lub_flags & lubf::formatted) {
        bool fortran = static_cast<For_Cc>(lub->lub_carriage_control) == For_Cc::fortran;
        switch (t) {
        case RT::stream_lf:
        case RT::stream_cr:
        case RT::stream_crlf:
            if (fortran) {
                std::memcpy(out, "\n\x1a\r", 3);
                return 3;
            }
            out[0] = 0x1a;
            if (t == RT::stream_lf) out[1] = '\n';
            if (t == RT::stream_cr) out[1] = '\r';
            if (t == RT::stream_crlf) std::memcpy(out + 1, "\r\n", 2);
            return t == RT::stream_crlf ? 3 : 2;
        default: return 0;
        }
    }
    switch (t) {
    case RT::variable:
    case RT::variable_2:
        for__put_marker(lub, out, 1);
        out[4] = 0x1a;
        for__put_marker(lub, out + 5, 1);
        return 9;
    case RT::segmented: std::memcpy(out, for_seg_eof_record, 4); return 4;
    default: return 0;
    }
}

}  // namespace

bool for__eof_record_at(const For_Lub *lub, int fd, long at) {
    unsigned char want[9], got[9];
    int n = eof_pattern(lub, want);
    if (n == 0 || at < 0) return false;
    return for__pread_full(fd, got, static_cast<uint64_t>(n), at) == n &&
           std::memcmp(got, want, static_cast<size_t>(n)) == 0;
}

int for__eof_record_size(const For_Lub *lub) {
    unsigned char want[9];
    return eof_pattern(lub, want);
}

VORLIX_API int for_eof(For_Context *ctx, int unit, For_IO_Flags flags, const For_Dsc_Lst *keys,
                       const For_Value_List *values) {
    For_Lub *lub = nullptr;
    int r = for__pos_begin({ctx, unit, flags, keys, values}, FOR_OP_EOF, &lub);
    if (!lub) return r;
    if (for__pos_console(lub)) return for__pos_end(lub, msg::eof_tty_noop);
    if (!(lub->lub_flags & lubf::opened)) return for__pos_end(lub, msg::unknown_unit_number);
    if (!(lub->lub_flags & lubf::positionable) || for__unit_is_tty(lub))
        return for__pos_end(lub, msg::eof_illegal_terminal_device);
    const int yes = (lub->lub_flags & lubf::opt_true_is_one) ? 1 : -1;
    bool at_end = (lub->lub_flags & lubf::eof) != 0;
    if (!at_end) {
        // Output held back is part of the file the program sees.
        if (int s = for__flush_output(lub)) return for__pos_end(lub, s);
        errno = 0;
        off_t pos = for__logical_pos(lub);
        struct stat st;
        if (pos < 0 || ::fstat(lub->lub_fd, &st) != 0) return for__pos_end(lub, msg::file_not_found_alt);
        off_t end = st.st_size - (lub->lub_xfer_kind == 7 ? 1 : 0);
        at_end = end <= pos || (for__eof_records(lub) && for__eof_record_at(lub, lub->lub_fd, pos));
    }
    for__pos_end(lub, msg::ok);
    return at_end ? yes : 0;
}
