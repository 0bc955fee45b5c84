// The CLOSE statement and the implicit close: a unit's file is kept,
// deleted or handed to a print or batch command, its descriptor closed
// (never the console ones) and its block given back.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <utility>

#include <vorlix/io.h>

#include "diag/for_diag.h"
#include "diag/for_msgnum.h"
#include "io/for_desc_item.h"
#include "io/for_flags.h"
#include "io/for_rec.h"
#include "io/for_tty_pair.h"
#include "io/for_stmt.h"
#include "runtime/for_vm.h"
#include "unformatted/for_ufseq.h"
#include "units/for_lub_mgt.h"
#include "units/for_open.h"
#include "units/for_open_key.h"

extern char **environ;

namespace {

bool has(For_IO_Flags f, For_IO_Flags bit) { return (f & bit) != 0; }

// Records the first failure; the close goes on.
void note(int *first, For_Lub *lub, int e) {
    if (*first == 0) {
        *first = 28;
        lub->lub_errno = static_cast<uint64_t>(e);
    }
}

// Runs a command from an argument vector: no shell ever sees a file name.
int spawn(const char *const argv[], bool wait) {
    pid_t pid;
    int e = posix_spawnp(&pid, argv[0], nullptr, nullptr, const_cast<char *const *>(argv), environ);
    if (e != 0) return e;
    if (wait) {
        int st;
        while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {}
    }
    return 0;
}

// Deletion removes a plain file, or a symbolic link as the link itself.
// A device, FIFO, socket or directory that the unit was connected to
// stays where it is: a CLOSE must never take away /dev/null or a named
// pipe another program reads. Returns 0, the errno of a failed call, or
// not_removable for a name that is kept.
constexpr int not_removable = -1;

int remove_file(const char *name) {
    struct stat st;
    if (::lstat(name, &st) != 0) return errno;
    if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) return not_removable;
    return ::unlink(name) != 0 ? errno : 0;
}

int close_args(const For_Dsc_Lst *keys, const For_Value_List *values, uint64_t args[3]) {
    args[0] = args[1] = args[2] = 0;
    if (!keys) return 0;
    int status = 0;
    for (;;) {
        For_Item item;
        For_Shape shape;
        int code = 0;
        if (int s = for__key_desc_ret_item(&keys, &values, &item, &shape, &code)) return s;
        if (item.type == FOR_TYPE_END_STMT) return status;
        if (code == FOR_KEY_IOMSG && item.type == FOR_TYPE_CHARACTER) {
            args[1] = reinterpret_cast<uintptr_t>(item.addr);
            args[2] = static_cast<uint64_t>(item.length);
        } else if (code == FOR_KEY_DISPOSE) {
            if (item.type == FOR_TYPE_CHARACTER) {
                uint64_t v = 0;
                int s = for__open_key(
                    std::string_view(static_cast<const char *>(item.addr), static_cast<size_t>(item.length)), code, &v,
                    For_Key_Stmt::close);
                if (s != 0 && status == 0) status = s;  // IOMSG= may still follow
                args[0] = v;
            } else {
                int64_t v = 0;
                if (!for__item_int(item, &v)) return msg::invalid_argument;
                args[0] = static_cast<uint64_t>(v);
            }
        } else {
            return msg::invalid_argument;
        }
    }
}

}  // namespace

int for__close_proc(const uint64_t args[3], For_Lub *lub, bool for_good) {
    uint64_t fl = lub->lub_flags;
    // READONLY (or a read-only retry) protects the file; ACTION='READ' does not.
    const bool protected_ro = (fl & lubf::readonly) && !(fl & lubf::action_read);
    const bool scratch = fl & lubf::scratch;
    if (args && args[0]) {
        fl &= ~(lubf::dispose_delete | lubf::dispose_print | lubf::dispose_submit);
        switch (args[0]) {
        case 1:
            if (scratch) return msg::inconsistent_open_close;
            break;
        case 2:
            if (protected_ro) return msg::inconsistent_open_close;
            fl |= lubf::dispose_delete;
            break;
        case 3:
            if (scratch) return msg::inconsistent_open_close;
            fl |= lubf::dispose_print;
            break;
        case 4:
            if (scratch) return msg::inconsistent_open_close;
            fl |= lubf::dispose_submit;
            break;
        case 5:
        case 6:
            if (scratch || protected_ro) return msg::inconsistent_open_close;
            fl |= lubf::dispose_delete | (args[0] == 5 ? lubf::dispose_print : lubf::dispose_submit);
            break;
        default: return msg::invalid_argument;
        }
    }
    fl &= ~lubf::pad;
    int first = 0;
    const int fd = lub->lub_fd;
    const bool own = fl & lubf::own_fd;

    // A record a non-advancing WRITE left open is completed, and records
    // held in the buffer are written, before the descriptor goes.
    if ((lub->lub_flags & lubf::partial_record) && lub->lub_rec_state == rec_output) {
        if (for__put_sf(lub) != 0) note(&first, lub, static_cast<int>(lub->lub_errno));
    }
    if (for__finish_ufseq_write(lub) != 0) note(&first, lub, static_cast<int>(lub->lub_errno));
    if (for__flush_output(lub) != 0) note(&first, lub, static_cast<int>(lub->lub_errno));
    // What a failed write left behind goes with the connection, reported.
    lub->lub_write_errno = 0;
    if (lub->lub_flags & lubf::formatted) for__rm_from_lf_table(lub);

    if (lub->lub_share_mode == 4 || lub->lub_share_mode == 16) {
        struct flock fk = {};
        fk.l_type = F_UNLCK;
        fk.l_whence = SEEK_SET;
        fk.l_start = 1;
        fk.l_len = lub->lub_share_mode == 4 ? 1 : 4;
        if (::fcntl(fd, F_OFD_SETLK, &fk) != 0) note(&first, lub, errno);
        lub->lub_share_mode = 0;
    }
    if (own && fd > 2 && ::close(fd) != 0) note(&first, lub, errno);

    // Only a file the library opened itself is ever removed or handed on.
    const char *name = lub->lub_file_name;
    if (own && name) {
        if (fl & lubf::dispose_submit) {
            if (::chmod(name, 0700) != 0) note(&first, lub, errno);
            const char *argv[] = {name, nullptr};
            if (int e = spawn(argv, false)) note(&first, lub, e);
            fl &= ~lubf::dispose_delete;  // the job still needs its file
        }
        if (fl & lubf::dispose_print) {
            const char *argv[] = {"lpr", name, nullptr};
            // Waiting for the spooler keeps a following delete from racing it.
            if (int e = spawn(argv, true)) note(&first, lub, e);
        }
        if (fl & (lubf::dispose_delete | lubf::scratch)) {
            // A scratch name that no longer holds a plain file is not ours
            // to remove, and the program never named it: it is kept
            // silently. A deletion the program asked for fails as any
            // other refused unlink does.
            const int e = remove_file(name);
            if (e == not_removable) {
                if (fl & lubf::dispose_delete) note(&first, lub, EPERM);
            } else if (e != 0) {
                note(&first, lub, e);
            }
        }
    }

    // A failed close names its file in its own message: the name stays
    // with the block until the caller has reported the failure, and goes
    // with the block (or the caller's clean-up) after that.
    char *kept_name = nullptr;
    int16_t kept_len = 0;
    if (first != 0) {
        kept_name = std::exchange(lub->lub_file_name, nullptr);
        kept_len = lub->lub_file_name_len;
    }
    for__lub_free_owned(lub);
    lub->lub_fd = -1;
    fl &= ~(lubf::opened | lubf::own_fd | lubf::dispose_delete | lubf::dispose_print | lubf::dispose_submit |
            lubf::scratch);
    if (for_good) {
        lub->lub_flags = fl;
    } else {
        // Reuse: the block is as never connected; a console unit is ready
        // to be connected to its console again.
        for__lub_reset(lub);
    }
    lub->lub_file_name = kept_name;
    lub->lub_file_name_len = kept_len;
    return first;
}

int for__close_default(For_Lub *lub, bool deallocate) {
    int unit = lub->lub_unit;
    int s = for__close_proc(nullptr, lub, deallocate);
    if (s != 0) {
        const int r = for__io_return(0, s, s, lub);
        // Reported: the block no longer names the file it was closed from.
        if (!deallocate) for__lub_free_owned(lub);
        return r;
    }
    if (deallocate) for__deallocate_lub(unit);
    return 0;
}

VORLIX_API int for_close(For_Context *ctx, int unit, For_IO_Flags flags, const For_Dsc_Lst *keys,
                         const For_Value_List *values) {
    For_IO_Flags f = for__effective_flags(flags);
    uint64_t args[3];
    const int key_status = close_args(keys, values, args);
    For_Lub *lub = nullptr;
    if (int s = for__acquire_lun(unit, &lub, ctx, FOR_OP_CLOSE)) {
        if (s == msg::invalid_unit) {
            if (has(f, VORLIX_IOF(43))) for__issue_diagnostic(msg::close_not_open, 1, unit);
            return 0;
        }
        if (!has(f, iof_err) && !has(f, iof_iostat)) {
            for__issue_diagnostic(s, 2, unit, "unknown");
            return s;
        }
        return s;
    }
    lub->lub_flags &= ~(lubf::stmt_err | lubf::stmt_end | lubf::stmt_eor);
    if (has(f, iof_err)) lub->lub_flags |= lubf::stmt_err;
    lub->lub_stmt_flags &= ~lubs::iostat;
    if (has(f, iof_iostat)) lub->lub_stmt_flags |= lubs::iostat;
    if (lub->lub_udio_depth != 0) return for__io_return(1, msg::close_in_child_io, msg::close_in_child_io, lub);
    if (!(lub->lub_flags & lubf::opened)) {
        if (has(f, VORLIX_IOF(43))) for__issue_diagnostic(msg::close_not_open, 1, unit);
        for__deallocate_lub(unit);
        if (ctx) ctx->lub = nullptr;
        return 0;
    }
    lub->lub_stmt.iomsg_addr = reinterpret_cast<char *>(args[1]);
    lub->lub_stmt.iomsg_len = args[2];
    if (key_status != 0) return for__io_return(1, key_status, key_status, lub);
    int s = for__close_proc(args, lub, true);
    if (s != 0 && (lub->lub_flags & lubf::opened))  // refused: still connected
        return for__io_return(1, s, s, lub);
    int r = s != 0 ? for__io_return(0, s, s, lub) : 0;
    for__deallocate_lub(unit);
    if (unit >= -32768 && unit <= -7) for__release_newunit(unit);
    if (ctx) ctx->lub = nullptr;
    return r;
}
