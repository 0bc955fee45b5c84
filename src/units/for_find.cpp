// FIND (u, REC=r): positions a direct-access unit at record r without
// transferring anything. Pending records of the direct file buffer go to
// the file first, so that the descriptor's position is the file's truth.
#include <cerrno>
#include <unistd.h>

#include <vorlix/io.h>

#include "diag/for_msgnum.h"
#include "io/for_rec.h"
#include "io/for_stmt.h"
#include "unformatted/for_dir_buf.h"
#include "units/for_open.h"
#include "units/for_pos_stmt.h"

VORLIX_API int for_find(For_Context *ctx, int unit, For_IO_Flags flags, int64_t rec, const For_Dsc_Lst *keys,
                        const For_Value_List *values) {
    For_Lub *lub = nullptr;
    int r = for__pos_begin({ctx, unit, flags, keys, values}, FOR_OP_FIND, &lub);
    if (!lub) return r;
    if (!(lub->lub_flags & lubf::access_direct)) return for__pos_end(lub, msg::open_required);
    if (!(lub->lub_flags & lubf::opened)) {
        // DEFINE FILE alone: the file is opened now, as a READ would.
        if (int s = for__open_default(lub, FOR_ACCESS_DIRECT, 4, 2))
            return for__io_return(2, s, for__iostat_of(s), lub);
    }
    if (int s = for__dir_check_rec(lub, rec)) return for__pos_end(lub, s);
    if (int s = for__dir_assoc_check(lub)) return for__pos_end(lub, s);
    if (int s = for__flush_file_buffer(lub)) return for__pos_end(lub, s);
    if (::lseek(lub->lub_fd, static_cast<off_t>((static_cast<uint64_t>(rec) - 1) * lub->lub_rec_len), SEEK_SET) < 0) {
        lub->lub_errno = static_cast<uint64_t>(errno);
        return for__pos_end(lub, msg::delete_error);
    }
    lub->lub_record_number = static_cast<uint64_t>(rec);
    for__dir_assoc_store(lub, static_cast<uint64_t>(rec));
    return for__pos_end(lub, msg::ok);
}
