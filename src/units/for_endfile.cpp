// ENDFILE (u): the file ends at the unit's position. Usually the file is
// cut there and the unit is at its end; units with option bit 0 instead
// get a physical end-of-file record (0x1A framed as the unit frames
// records) and stay before it, so that the data behind it survives.
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

#include <vorlix/io.h>

#include "io/for_rec.h"
#include "diag/for_msgnum.h"
#include "io/for_stmt.h"
#include "unformatted/for_ufseq.h"
#include "units/for_open.h"
#include "units/for_pos_stmt.h"

namespace {

using RT = For_Rec_Type;

bool accepted(const For_Lub *lub) {
    uint64_t fl = lub->lub_flags;
    if (fl & lubf::access_keyed) return false;
    const RT t = for__record_type(lub);
    return (fl & (lubf::formatted | lubf::form_binary | lubf::compat_layout)) || t == RT::segmented ||
           t == RT::variable || t == RT::stream;
}

// Writes the end-of-file record at the current position.
int write_eof_record(For_Lub *lub) {
    uint64_t fl = lub->lub_flags;
    if ((fl & lubf::formatted) && !(fl & (lubf::form_binary | lubf::compat_layout))) {
        if (for__record_type(lub) == RT::segmented) return msg::inconsistent_record_type;
        if (int s = for__reset_buf(lub, 0)) return s;
        if (static_cast<For_Cc>(lub->lub_carriage_control) == For_Cc::fortran) {
            if (int s = for__rec_put(lub, " ")) return s;
        }
        if (int s = for__rec_put(lub, "\x1a")) return s;
        if (int s = for__put_sf(lub)) return s;
    } else if (for__record_type(lub) == RT::segmented) {
        if (for__write_all(lub->lub_fd, reinterpret_cast<const char *>(for_seg_eof_record), 4, 0) != 0) {
            lub->lub_errno = static_cast<uint64_t>(errno);
            return msg::write_error;
        }
    } else {
        if (int s = for__put_su_bytes(lub, "\x1a", 1)) return s;
        // The layout's end byte follows the record at once, so that the
        // record is never the last thing of a file that lacks it.
        if (int s = for__finish_ufseq_write(lub)) return s;
    }
    return for__flush_output(lub);
}

int cut_here(For_Lub *lub) {
    off_t here = ::lseek(lub->lub_fd, 0, SEEK_CUR);
    struct stat st;
    if (here < 0 || ::fstat(lub->lub_fd, &st) != 0) {
        lub->lub_errno = static_cast<uint64_t>(errno);
        return msg::write_error;
    }
    if (here < st.st_size && ::ftruncate(lub->lub_fd, here) != 0 && errno != EINVAL) {
        lub->lub_errno = static_cast<uint64_t>(errno);
        lub->lub_flags &= ~lubf::truncate_after_write;
        return msg::endfile_error;
    }
    return 0;
}

}  // namespace

VORLIX_API int for_endfile(For_Context *ctx, int unit, For_IO_Flags flags, const For_Dsc_Lst *keys,
                           const For_Value_List *values) {
    For_Lub *lub = nullptr;
    int r = for__pos_begin({ctx, unit, flags, keys, values}, FOR_OP_ENDFILE, &lub);
    if (!lub) return r;
    if (lub->lub_udio_depth != 0) return for__pos_end(lub, msg::endfile_in_child_io);
    if (lub->lub_flags & lubf::opened) {
        // The file ends here, with the end byte of its layout: what
        // follows is cut behind that byte. With end-of-file records the
        // byte goes after that record instead.
        if (for__compat_layout(lub)) {
            if (for__eof_records(lub))
                lub->lub_compat_state &= static_cast<uint8_t>(~cls::end_pending);
            else
                lub->lub_compat_state |= cls::end_pending;
        }
        if (int s = for__uf_settle(lub)) return for__pos_end(lub, s);
    } else if (!for__pos_console(lub)) {
        for__merge_statement_options(lub, flags);
        if (int s = for__open_default(lub, FOR_ACCESS_SEQUENTIAL, 4, 2))
            return for__io_return(2, s, for__iostat_of(s), lub);
    }
    if (for__pos_console(lub)) return for__pos_end(lub, msg::endfile_tty_noop);
    if (!accepted(lub)) return for__pos_end(lub, msg::endfile_error);
    const bool physical =
        for__eof_records(lub) && lub->lub_organization != 2 && !(lub->lub_flags & lubf::access_direct);
    if (physical) {
        off_t here = ::lseek(lub->lub_fd, 0, SEEK_CUR);
        if (here < 0) {
            lub->lub_errno = static_cast<uint64_t>(errno);
            return for__pos_end(lub, msg::write_error);
        }
        // On a fresh file in the compatibility layout the 'K' goes first:
        // the unit stays after it.
        if (for__compat_layout(lub) && (lub->lub_flags & lubf::at_start)) ++here;
        uint64_t record = lub->lub_record_number;
        int s = write_eof_record(lub);
        if (s == 0 && ::lseek(lub->lub_fd, here, SEEK_SET) < 0) {
            lub->lub_errno = static_cast<uint64_t>(errno);
            s = msg::write_error;
        }
        lub->lub_record_number = record;
        lub->lub_flags &= ~(lubf::position_unchanged | lubf::eof);
        // A record written here replaces the end-of-file record; one shorter
        // than it must not leave its tail behind.
        if (lub->lub_flags & lubf::positionable) lub->lub_flags |= lubf::truncate_after_write;
        return for__pos_end(lub, s);
    }
    if (int s = cut_here(lub)) return for__pos_end(lub, s);
    // The unit stays before the end byte of the compatibility layout, as a
    // READ that meets it does: a WRITE then replaces it, and the next CLOSE
    // writes it again after the new records.
    if (for__compat_layout(lub) && ::lseek(lub->lub_fd, -1, SEEK_CUR) < 0) {
        lub->lub_errno = static_cast<uint64_t>(errno);
        return for__pos_end(lub, msg::write_error);
    }
    lub->lub_flags |= lubf::eof;
    return for__pos_end(lub, msg::ok);
}
