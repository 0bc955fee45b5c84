// Open processing: the file name of a unit, the checks of the OPEN keywords
// against each other, the open itself and the set-up of the unit block.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <new>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include <vorlix/runtime.h>

#include "cvt/for_endian_env.h"
#include "diag/for_diag.h"
#include "diag/for_msgnum.h"
#include "io/for_rec.h"
#include "io/for_tty_pair.h"
#include "runtime/for_env.h"
#include "runtime/for_vm.h"
#include "unformatted/for_ufseq.h"
#include "units/for_convert_choice.h"
#include "units/for_lub_mgt.h"
#include "units/for_open.h"

namespace {

// Appending to a compatibility-layout file goes before its end byte 130,
// which the next CLOSE writes again after the new records; a file without
// one (cut short, or not in the layout) is appended to at its end.
// Returns where the descriptor is left.
off_t before_end_byte(int fd, off_t end) {
    unsigned char last = 0;
    if (end > 1 && for__pread_full(fd, &last, 1, end - 1) == 1 && last == cls::file_end &&
        ::lseek(fd, end - 1, SEEK_SET) >= 0)
        return end - 1;
    return end;
}

constexpr size_t max_path = 4096;

std::string_view trimmed(const char *p, size_t n) {
    std::string_view s(p, n);
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.remove_suffix(1);
    return s;
}

// An environment value counts only when set and not empty.
const char *env_value(const char *name) {
    const char *v = std::getenv(name);
    return v && *v ? v : nullptr;
}

int console_fd(int unit) {
    switch (unit) {
    case FOR_UNIT_STDIN:
    case FOR_UNIT_ACCEPT:
    case FOR_UNIT_READ: return 0;
    case FOR_UNIT_STDOUT:
    case FOR_UNIT_PRINT:
    case FOR_UNIT_TYPE: return 1;
    case FOR_UNIT_STDERR: return 2;
    default: return -1;
    }
}

// The name a console descriptor goes by: its terminal, or its /proc entry.
std::string console_name(int fd) {
    char buf[256];
    if (isatty(fd) && ttyname_r(fd, buf, sizeof buf) == 0) return buf;
    std::snprintf(buf, sizeof buf, "/proc/%d/fd/%d", static_cast<int>(getpid()), fd);
    return buf;
}

// "~/" stands for the home directory; the result is length-checked.
int expand_home(std::string *name) {
    if (name->size() >= 2 && (*name)[0] == '~' && (*name)[1] == '/') {
        const char *home = std::getenv("HOME");
        name->replace(0, 1, home ? home : "");
    }
    return name->size() > max_path ? msg::file_path_longer_than_norvo_r : 0;
}

std::string with_slash(std::string d) {
    if (!d.empty() && d.back() != '/') d += '/';
    return d;
}

// The directory that relative names and scratch files go to when the OPEN
// gives one, else the current directory.
int default_directory(const For_Open_Args &args, std::string *dir) {
    if (args.default_dir.data() && !args.default_dir.empty()) {
        std::string_view d = trimmed(args.default_dir.data(), args.default_dir.size());
        *dir = std::string(d);
        if (int s = expand_home(dir)) return s;
    } else {
        char cwd[PATH_MAX];
        *dir = getcwd(cwd, sizeof cwd) ? cwd : ".";
    }
    *dir = with_slash(*dir);
    return 0;
}

// The program argument cursor of "name from the command line" opens.
int next_argument = 1;

// A scratch file goes to the first of FORT_TMPDIR, TMPDIR and the default
// directory that is a directory. When none is, the OPEN fails with the
// reason of the last one tried: a file made somewhere the program never
// named (the current directory, when DEFAULTFILE= named another) could
// outlive it there.
int make_scratch(const For_Open_Args &args, For_Lub *lub, std::string *name, int *fd) {
    std::string dir;
    int reason = ENOENT;
    auto usable = [&reason](const std::string &d) {
        struct stat st;
        if (d.empty() || ::stat(d.c_str(), &st) != 0) {
            reason = d.empty() ? ENOENT : errno;
            return false;
        }
        if (!S_ISDIR(st.st_mode)) {
            reason = ENOTDIR;
            return false;
        }
        return true;
    };
    for (const char *var : {"FORT_TMPDIR", "TMPDIR"}) {
        const char *v = env_value(var);
        if (v && usable(v)) {
            dir = with_slash(v);
            break;
        }
    }
    if (dir.empty()) {
        std::string d;
        if (default_directory(args, &d) == 0 && usable(d)) dir = d;
    }
    if (dir.empty()) {
        lub->lub_errno = static_cast<uint64_t>(reason);
        return msg::open_failure;
    }
    std::string templ = dir + "fortXXXXXX";
    if (templ.size() > max_path) return msg::file_path_longer_than_norvo_r;
    // mkostemp creates with O_EXCL and mode 0600: nobody else can have the file.
    int f = mkostemp(templ.data(), O_CLOEXEC);
    if (f < 0) {
        lub->lub_errno = static_cast<uint64_t>(errno);
        return msg::open_failure;
    }
    *name = templ;
    *fd = f;
    return 0;
}

}  // namespace

int for__compute_filename(For_Lub *lub, const For_Open_Args &args, std::string *name, int *fd) {
    *fd = -1;
    const int unit = lub->lub_unit;
    const bool connected = lub->lub_flags & lubf::opened;
    const bool has_file = args.has_file();
    if (args.status == 3 && !connected) {  // SCRATCH
        if (has_file) for__issue_diagnostic(msg::scratch_file_ignored, 0);
        return make_scratch(args, lub, name, fd);
    }
    std::string n;
    bool console_redirect = false;
    if (unit >= -4 && unit <= -1 && !has_file) {
        static const char *const vars[] = {"FOR_PRINT", "FOR_TYPE", "FOR_ACCEPT", "FOR_READ"};
        const char *v = env_value(vars[-unit - 1]);
        if (!v) {
            *fd = console_fd(unit);
            *name = console_name(*fd);
            return 0;
        }
        n = v;
        console_redirect = true;
    }
    if (!console_redirect) {
        if (has_file) {
            n = std::string(trimmed(args.file.data(), args.file.size()));
        } else {
            char var[24];
            std::snprintf(var, sizeof var, "FORT%d", unit);
            if (const char *v = env_value(var)) {
                n = std::string(trimmed(v, std::strlen(v)));
            } else if (console_fd(unit) >= 0) {
                *fd = console_fd(unit);
                *name = console_name(*fd);
                return 0;
            } else if (lub->lub_stmt_flags & lubs::name_from_cmdline) {
                n.clear();
            } else if (connected && lub->lub_file_name) {
                n = lub->lub_file_name;
            } else {
                std::snprintf(var, sizeof var, "fort.%d", unit);
                n = var;
            }
        }
    }
    if (n.empty()) {
        if (!(lub->lub_stmt_flags & lubs::name_from_cmdline)) return msg::file_name_error;
        // Take the next program argument; none left is a name error rather
        // than a prompt that could wait on input that never comes.
        if (!for__a_argv || next_argument >= for__l_argc) return msg::file_name_error;
        const char *arg = for__a_argv[next_argument++];
        if (std::strlen(arg) > max_path) return msg::file_path_longer_than_norvo_r;
        n = std::string(trimmed(arg, std::strlen(arg)));
        if (n.empty()) return msg::file_name_error;
    }
    if (n.size() > max_path) return msg::file_path_longer_than_norvo_r;
    if (int s = expand_home(&n)) return s;
    if (n[0] != '/') {
        std::string dir;
        if (int s = default_directory(args, &dir)) return s;
        n = dir + n;
    }
    if (n.size() > max_path) return msg::file_path_longer_than_norvo_r;
    *name = std::move(n);
    return 0;
}

namespace {

bool specific(const For_Lub *lub) { return lub->lub_flags & lubf::opt_specific_msgs; }
int spec_or(const For_Lub *lub, int specific_msg, int general) { return specific(lub) ? specific_msg : general; }
bool compat(const For_Lub *lub) { return lub->lub_flags & lubf::opt_compat; }
bool console_output(int unit) { return unit == FOR_UNIT_TYPE || unit == FOR_UNIT_PRINT || unit == FOR_UNIT_STDOUT; }
bool opt(const For_Lub *lub, uint64_t bit) { return lub->lub_flags & bit; }

using RT = For_Rec_Type;

int map_open_errno(const For_Lub *lub, int e) {
    switch (e) {
    case ENOENT: return spec_or(lub, msg::file_not_found_alt, msg::file_not_found);
    case ENXIO: return msg::no_such_device;
    case EACCES:
    case EROFS:
    case EPERM: return spec_or(lub, msg::access_not_allowed, msg::permission_denied);
    case EEXIST: return spec_or(lub, msg::file_already_exists, msg::cannot_overwrite);
    case ENOTDIR:
    case ENAMETOOLONG: return msg::file_name_error;
    case EISDIR: return msg::open_failure;
    case EMFILE: return msg::too_many_open_files;
    default: return msg::open_failure;
    }
}

bool checked_mul(uint64_t a, uint64_t b, uint64_t *out) { return !__builtin_mul_overflow(a, b, out); }
bool checked_add(uint64_t a, uint64_t b, uint64_t *out) { return !__builtin_add_overflow(a, b, out); }

// Reads a positive integer environment setting; -2 when it is not one.
int64_t env_positive(const char *name) {
    const char *v = std::getenv(name);
    if (!v) return -1;
    char *end = nullptr;
    errno = 0;
    long long n = std::strtoll(v, &end, 10);
    while (end && *end == ' ') ++end;
    if (errno || end == v || (end && *end) || n < 1) return -2;
    return n;
}

constexpr char guard_text[] = "@#3#5#7#9#0#3#5";

}  // namespace

namespace {

// What the connection will be. The keyword checks fill it without touching
// the unit; opening the file completes it with what the descriptor tells
// (a terminal, a position, a size); only the commit writes it to the unit.
struct Open_Plan {
    // The file.
    std::string name;
    int fd = -1;            // the descriptor, once there is one
    bool given_fd = false;  // handed over by the program
    bool named = true;      // a file of ours, not a console descriptor
    bool locked = false;    // this OPEN took a lock on the descriptor
    bool created = false;   // this OPEN made the file: a failure takes it away
    bool truncate = false;  // REPLACE of a file that was there: emptied last

    // The connection flags, from the unit options kept over a re-OPEN.
    uint64_t fl = 0;
    int open_flags = O_CLOEXEC;
    int rw = O_RDWR;
    int mode = 0666;
    uint64_t status = 4;  // an absent STATUS= is UNKNOWN
    bool seq = false, direct = false, keyed = false, stream = false;
    bool formatted = false;

    // Records.
    RT rt = RT::none;
    uint8_t cc = 0;  // carriage control, 0 until decided
    uint8_t org = 1;
    uint8_t kind = 0;  // transfer kind
    uint8_t convert_code = 0;
    bool recl_given = false;
    uint64_t recl = 0;        // RECL as the unit reports it
    uint64_t recl_bytes = 0;  // RECL in bytes
    uint64_t rec_len = 0;     // the record area, terminators and markers included
    uint8_t overhead = 0;

    // Settings carried over as given.
    uint8_t delim = 0, round = 0, decimal = 0, sign = 0, encoding = 0;
    uint8_t share = 0;  // 4 shared lock, 16 exclusive lock
    bool lock = false;

    // What the descriptor told.
    struct stat st = {};
    uint64_t record_number = 1;
    std::optional<uint64_t> stream_pos;
    std::optional<uint64_t> buf_threshold;
    uint64_t ldir_line_len = 0;
    uint64_t block_size = 0;
    uint64_t buf_size = 0;
    bool buffered = false;

    // Storage made for the unit, handed over by the commit.
    void *buf = nullptr;
    char *name_copy = nullptr;
};

// -- The name: its errors come before any keyword check, and a scratch file
// is made here.

int name_file(const For_Open_Args &args, For_Lub *lub, Open_Plan *p) {
    if (p->given_fd) {
        p->name = console_name(p->fd);
        p->named = false;
        return 0;
    }
    if (int s = for__compute_filename(lub, args, &p->name, &p->fd)) return s;
    p->named = p->fd < 0 || args.status == 3;
    if (p->fd >= 0 && args.status == 3) p->fl |= lubf::own_fd;
    return 0;
}

// -- The keyword checks, in the order that decides which error a statement
// with two bad keywords gets. Each returns 0 or the message number.

int plan_direction(const For_Open_Args &args, const For_Lub *lub, Open_Plan *p) {
    if (args.readonly) {
        p->fl |= lubf::readonly;
        p->rw = O_RDONLY;
    }
    for (auto [v, action] : {std::pair{args.action, true}, std::pair{args.mode, false}}) {
        if (!v) continue;
        if (v > 3)
            return spec_or(lub, action ? msg::illegal_action_value : msg::illegal_mode_value, msg::invalid_argument);
        if (v == 1) {
            p->fl |= lubf::readonly | lubf::action_read;
            p->rw = O_RDONLY;
        } else if (p->fl & (lubf::readonly) && !(p->fl & lubf::action_read)) {
            return msg::inconsistent_open_close;
        } else if (v == 2) {
            p->rw = O_RDWR;
        } else {
            p->fl |= lubf::write_only;
            p->rw = O_WRONLY;
        }
    }
    if ((p->fl & lubf::action_read) && args.readonly) p->fl &= ~lubf::action_read;
    return 0;
}

int plan_access(const For_Open_Args &args, const For_Lub *lub, Open_Plan *p) {
    switch (args.access) {
    case 0:
    case 1: p->fl |= lubf::access_seq; break;
    case 2: p->fl |= lubf::access_direct; break;
    case 3:
        if (p->fl & lubf::readonly) return msg::inconsistent_open_close;
        p->fl |= lubf::access_seq | lubf::append;
        break;
    case 4: p->fl |= lubf::access_keyed; break;
    case 5:
        p->fl &= ~(lubf::opt_compat | lubf::opt_uf_compat_layout);
        p->fl |= lubf::access_stream | lubf::access_seq;
        break;
    default: return spec_or(lub, msg::illegal_access_value, msg::invalid_argument);
    }
    p->seq = p->fl & lubf::access_seq;
    p->direct = p->fl & lubf::access_direct;
    p->keyed = p->fl & lubf::access_keyed;
    p->stream = p->fl & lubf::access_stream;
    return 0;
}

// NEW creates exclusively in the open itself (no check-then-open race).
int plan_status(const For_Open_Args &args, const For_Lub *lub, Open_Plan *p) {
    p->status = args.status ? args.status : 4;
    switch (p->status) {
    case 2:
        if ((p->fl & lubf::append) && !compat(lub)) return msg::inconsistent_open_close;
        p->open_flags |= O_CREAT | O_EXCL;
        break;
    case 1: p->fl |= lubf::must_exist; break;
    case 3:
        if ((p->fl & lubf::append) && !compat(lub)) return msg::inconsistent_open_close;
        p->fl |= lubf::scratch;
        break;
    case 4:
        if (p->rw == O_RDONLY)
            p->fl |= lubf::must_exist;
        else
            p->open_flags |= O_CREAT;
        break;
    // REPLACE empties a file that exists only once nothing else can fail
    // (connect): a failed OPEN leaves its contents as they were.
    case 5: p->open_flags |= O_CREAT | O_TRUNC; break;
    default: return spec_or(lub, msg::illegal_status_value, msg::invalid_argument);
    }
    return 0;
}

// The disposition at close.
int plan_dispose(const For_Open_Args &args, Open_Plan *p) {
    const bool scratch = p->fl & lubf::scratch, ro = p->fl & lubf::readonly;
    const bool may_delete = !ro || (p->fl & lubf::action_read);
    switch (args.dispose) {
    case 0: break;
    case 1:
        if (scratch) return msg::inconsistent_open_close;
        break;
    case 2:
        if (!may_delete) return msg::inconsistent_open_close;
        p->fl |= lubf::dispose_delete;
        break;
    case 3:
        if (scratch) return msg::inconsistent_open_close;
        p->fl |= lubf::dispose_print;
        break;
    case 4:
        if (scratch) return msg::inconsistent_open_close;
        p->fl |= lubf::dispose_submit;
        break;
    case 5:
    case 6:
        if (scratch || !may_delete) return msg::inconsistent_open_close;
        p->fl |= lubf::dispose_delete | (args.dispose == 5 ? lubf::dispose_print : lubf::dispose_submit);
        break;
    default: return msg::invalid_argument;
    }
    return 0;
}

// FORM=, and the formatted-only keywords an unformatted connection refuses.
int plan_form(const For_Open_Args &args, const For_Lub *lub, Open_Plan *p) {
    switch (args.form) {
    case 0: p->formatted = !(p->stream || p->direct || p->keyed); break;
    case 1: p->formatted = true; break;
    case 2: p->formatted = false; break;
    case 3:
    case 4:
        p->formatted = false;
        p->fl |= lubf::form_binary;
        break;
    default: return spec_or(lub, msg::illegal_form_value, msg::invalid_argument);
    }
    const bool plain_unformatted = !p->formatted && !(p->fl & lubf::form_binary);
    if (plain_unformatted && opt(lub, lubf::opt_uf_compat_layout)) p->fl |= lubf::compat_layout;
    p->fl |= p->formatted ? lubf::formatted : lubf::unformatted;
    if (plain_unformatted) {
        if (args.delim) return spec_or(lub, msg::delim_specifier_not_allowed, msg::inconsistent_open_close);
        if (args.pad || args.blank || args.round || args.decimal || args.sign)
            return spec_or(lub, msg::pad_specifier_not_allowed, msg::inconsistent_open_close);
    }
    if (args.encoding && !p->formatted)
        return spec_or(lub, msg::pad_specifier_not_allowed, msg::inconsistent_open_close);
    return 0;
}

// The record type, the carriage control and the organization, each checked
// against the others; an undecided record type follows from them.
int plan_record_type(const For_Open_Args &args, const For_Lub *lub, Open_Plan *p) {
    const bool formatted = p->formatted, direct = p->direct, keyed = p->keyed, stream = p->stream;
    RT rt = RT::none;
    switch (args.recordtype) {
    case 0: break;
    case 1:
        if (stream) return msg::inconsistent_open_close;
        rt = RT::fixed;
        break;
    case 2: rt = RT::variable; break;
    case 3:
    case 4:
        if (stream || direct || keyed || formatted) return msg::inconsistent_open_close;
        rt = RT::segmented;
        break;
    case 5:
    case 6:
    case 7:
    case 8: rt = static_cast<RT>(args.recordtype); break;
    default: return msg::invalid_argument;
    }
    uint8_t cc = 0;
    switch (args.carriage) {
    case 0:
        if (formatted && direct && compat(lub))
            cc = 2;
        else if (rt == RT::fixed || rt == RT::variable || !formatted || (rt >= RT::stream && rt <= RT::stream_crlf))
            cc = 3;
        break;
    case 1:
    case 2:
        if (stream) return msg::inconsistent_open_close;
        cc = static_cast<uint8_t>(args.carriage);
        if (cc == 2 && formatted && rt >= RT::stream && rt <= RT::stream_crlf) cc = 3;
        break;
    case 3: cc = 3; break;
    default: return spec_or(lub, msg::illegal_carriagecontrol_value, msg::invalid_argument);
    }
    uint8_t org = keyed ? 3 : 1;
    if (args.organization) {
        org = static_cast<uint8_t>(args.organization);
        if (org > 3) return msg::invalid_argument;
        if (org == 1 && (keyed || (direct && rt != RT::none && rt != RT::fixed))) return msg::inconsistent_open_close;
        if (org == 2 && keyed) return msg::inconsistent_open_close;
        if (org == 3 && (p->seq || direct)) return msg::inconsistent_open_close;
    }
    if (rt != RT::none && !(org == 1 && !direct && !keyed) && rt != RT::fixed) return msg::inconsistent_open_close;
    if (rt == RT::none) {
        if (org != 1 || direct || keyed)
            rt = RT::fixed;
        else if ((p->fl & (lubf::form_binary | lubf::compat_layout)) || (!formatted && stream))
            rt = RT::stream;
        else if (!formatted)
            rt = RT::variable;
        else
            rt = cc == 3 ? RT::stream : RT::stream_lf;
    }
    if ((p->fl & lubf::compat_layout) && p->seq && rt != RT::stream) return msg::inconsistent_open_close;
    if (rt == RT::variable && cc != 0 && cc != 3) return msg::inconsistent_open_close;
    p->rt = rt;
    p->cc = cc;
    p->org = org;
    return 0;
}

int plan_blank_pad(const For_Open_Args &args, const For_Lub *lub, Open_Plan *p) {
    switch (args.blank) {
    case 0:
        if (!(opt(lub, lubf::opt_eof_records) && !args.has_file())) p->fl |= lubf::blank_null;
        break;
    case 1: break;
    case 2: p->fl |= lubf::blank_null; break;
    default: return spec_or(lub, msg::illegal_blank_value, msg::invalid_argument);
    }
    switch (args.pad) {
    case 0:
    case 2:
        if (opt(lub, lubf::opt_f90) || args.pad == 2) p->fl |= lubf::pad;
        break;
    case 1: break;
    default: return spec_or(lub, msg::illegal_pad_value, msg::invalid_argument);
    }
    return 0;
}

// The record length, all arithmetic overflow-checked.
int plan_record_length(const For_Open_Args &args, const For_Lub *lub, Open_Plan *p) {
    const bool formatted = p->formatted, stream = p->stream;
    uint64_t recl = args.recl;
    uint64_t rec_len = 0, recl_bytes = 0;
    p->recl_given = recl != 0;
    if (p->recl_given && stream) return msg::recl_on_stream;
    if (!p->recl_given && !stream) {
        int32_t env = formatted ? for__l_fmtrecl : for__l_ufmtrecl;
        if (env == -2) return formatted ? msg::fmt_recl_syntax : msg::ufmt_recl_syntax;
        if (env > 0) recl = static_cast<uint64_t>(env);
    }
    if (recl) {
        if (compat(lub) ? (recl < 1 || recl > 4294967290ull) : static_cast<int64_t>(recl) < 1)
            return compat(lub) ? msg::illegal_recl_value : msg::recl_value_must_positive_number;
        p->recl = recl;
        recl_bytes = recl;
        if (!formatted && !(p->fl & (lubf::form_binary | lubf::compat_layout | lubf::define_file)) &&
            !args.recl_bytes) {
            if (!checked_mul(recl, 4, &recl_bytes))
                return spec_or(lub, msg::illegal_recl_value, msg::recl_value_must_positive_number);
            p->fl |= lubf::recl_scaled;
        }
        rec_len = recl_bytes;
        switch (p->rt) {
        case RT::variable:
            if (!checked_add(recl_bytes, 8, &rec_len)) return msg::recl_value_must_positive_number;
            p->overhead = 8;
            break;
        case RT::segmented:
            p->overhead = 4;
            p->recl -= args.recl_bytes ? 4 : 1;
            if (recl_bytes < 5) return msg::segmented_recl_too_small;
            break;
        case RT::stream:
            if ((p->fl & lubf::form_binary) || (!formatted && stream)) {
                p->recl = 65536;
                rec_len = 1024;
                p->fl |= lubf::recl_defaulted;
            }
            break;
        case RT::stream_lf:
        case RT::stream_cr:
            if (p->cc == 3) {
                p->overhead = 1;
                if (!checked_add(recl_bytes, 1, &rec_len)) return msg::recl_value_must_positive_number;
            }
            break;
        case RT::stream_crlf:
            if (p->cc == 3) {
                p->overhead = 2;
                if (!checked_add(recl_bytes, 2, &rec_len)) return msg::recl_value_must_positive_number;
            }
            break;
        default: break;
        }
    } else {
        if (p->rt == RT::fixed || p->direct)
            return spec_or(lub, msg::illegal_record_number, msg::inconsistent_record_length);
        p->fl |= lubf::recl_defaulted;
        if ((p->fl & (lubf::form_binary | lubf::compat_layout)) || (!formatted && stream)) {
            rec_len = 1024;
            p->recl = 65536;
        } else if (formatted && compat(lub)) {
            rec_len = 1024;
            p->recl = 1024;
        } else if (!formatted) {
            rec_len = 2048;
            p->recl = 510;
        } else if (stream) {
            rec_len = 1025;
            p->recl = 1024;
        } else {
            rec_len = 133;
            p->recl = 132;
        }
    }
    p->rec_len = rec_len;
    p->recl_bytes = recl_bytes;
    return 0;
}

// DELIM= and POSITION=; the modes are carried over as given.
int plan_modes(const For_Open_Args &args, const For_Lub *lub, Open_Plan *p) {
    if (args.delim > 3) return spec_or(lub, msg::illegal_delim_value, msg::invalid_argument);
    p->delim = args.delim == 1 ? '\'' : args.delim == 3 ? '"' : 0;
    if (args.position > 3) return spec_or(lub, msg::illegal_position_value, msg::invalid_argument);
    if (args.position && (p->direct || p->keyed)) return msg::inconsistent_open_close;
    p->round = static_cast<uint8_t>(args.round);
    p->decimal = static_cast<uint8_t>(args.decimal);
    p->sign = static_cast<uint8_t>(args.sign);
    p->encoding = static_cast<uint8_t>(args.encoding);
    return 0;
}

// OPEN asks for a lock only when SHARED/NOSHARED/SHARE say so.
int plan_sharing(const For_Open_Args &args, Open_Plan *p) {
    const bool ro = p->fl & lubf::readonly, wo = p->fl & lubf::write_only;
    switch (args.share) {
    case 0:
        if (args.shared && !wo) {
            p->share = 4;
            p->lock = true;
        } else if (args.noshared && !ro) {
            p->share = 16;
            p->lock = true;
        }
        break;
    case 2:
        if (args.noshared) return msg::share_incompatible;
        if (!wo) {
            p->share = 4;
            p->lock = true;
        }
        break;
    case 4:
        if (args.shared) return msg::share_incompatible;
        if (args.noshared) {
            if (ro)
                p->share = 4;
            else {
                p->share = 16;
                p->lock = true;
            }
        } else {
            p->lock = true;
            p->share = ro ? 4 : 16;
        }
        break;
    default: return msg::invalid_argument;
    }
    return 0;
}

uint8_t transfer_kind(const Open_Plan &p) {
    if (p.formatted) return p.direct ? 2 : p.keyed ? 8 : 3;
    if (p.fl & lubf::form_binary) return p.direct ? 4 : p.keyed ? 10 : 5;
    if (p.fl & lubf::compat_layout) return 7;
    return p.direct ? 6 : p.keyed ? 9 : 11;
}

// A formatted stream file gets the record terminator FOR_FMT_TERMINATOR
// names, before the record lengths are laid out for it. The console
// descriptors are terminals, or stand for one, and keep theirs; FIXED
// records (direct and keyed access, relative files) have no terminator to
// change, and a stream record type would break their addressing.
void plan_terminator(const For_Open_Args &args, const For_Lub *lub, Open_Plan *p) {
    const bool console = p->fd >= 0 && p->fd <= 2;
    if (!p->formatted || args.recordtype || console || p->rt == RT::fixed) return;
    uint8_t rt = static_cast<uint8_t>(p->rt);
    if (for__set_terminator_option(lub->lub_unit, &rt, &p->cc)) p->rt = static_cast<RT>(rt);
}

// The representation of unformatted data; a formatted file has none.
int plan_conversion(const For_Open_Args &args, const For_Lub *lub, Open_Plan *p) {
    if (p->formatted) return 0;
    For_Conversion c = For_Conversion::of(lub);
    if (int s = for__set_foreign_bits(&c, args, lub->lub_unit, p->name)) return s;
    c.store(&p->fl, &p->convert_code);
    return 0;
}

int validate(const For_Open_Args &args, const For_Lub *lub, Open_Plan *p) {
    if (int s = plan_direction(args, lub, p)) return s;
    if (int s = plan_access(args, lub, p)) return s;
    if (int s = plan_status(args, lub, p)) return s;
    if (int s = plan_dispose(args, p)) return s;
    if (int s = plan_form(args, lub, p)) return s;
    if (int s = plan_record_type(args, lub, p)) return s;
    plan_terminator(args, lub, p);
    if (int s = plan_blank_pad(args, lub, p)) return s;
    if (int s = plan_record_length(args, lub, p)) return s;
    if (int s = plan_modes(args, lub, p)) return s;
    if (int s = plan_sharing(args, p)) return s;
    if (int s = plan_conversion(args, lub, p)) return s;
    p->kind = transfer_kind(*p);
    return 0;
}

// -- The system calls. lub_errno takes the errno of a failing call, for
// the message; nothing else of the unit is touched.

int fail_errno(For_Lub *lub, int e, int msg) {
    lub->lub_errno = static_cast<uint64_t>(e);
    return msg;
}

int open_descriptor(const For_Open_Args &args, For_Lub *lub, Open_Plan *p) {
    if (p->fd >= 0) return 0;
    int of = p->open_flags | p->rw;
    if (p->fl & lubf::must_exist) of &= ~O_CREAT;
    if (args.useropen) {
        // The program opens the file itself; it may change the flags and
        // mode it is handed.
        int unit = lub->lub_unit;
        p->fd = args.useropen(p->name.c_str(), &of, &p->mode, &unit, static_cast<int>(p->name.size()));
    } else if ((of & O_CREAT) && !(of & O_EXCL)) {
        // Whether this OPEN makes the file decides what a failure later
        // takes away: try to create it alone first.
        p->fd = ::open(p->name.c_str(), (of | O_EXCL) & ~O_TRUNC, p->mode);
        if (p->fd >= 0) {
            p->created = true;
        } else if (errno == EEXIST) {
            p->fd = ::open(p->name.c_str(), of & ~(O_CREAT | O_TRUNC), p->mode);
            p->truncate = p->fd >= 0 && (of & O_TRUNC);
        }
        // Gone again in between (or a dangling link): as one open does it.
        if (p->fd < 0) p->fd = ::open(p->name.c_str(), of, p->mode);
    } else {
        p->fd = ::open(p->name.c_str(), of, p->mode);
        p->created = p->fd >= 0 && (of & O_EXCL);
    }
    if (p->fd < 0 && !args.useropen && (errno == EPERM || errno == EACCES || errno == EROFS) && !args.action &&
        !args.mode && p->rw == O_RDWR && !opt(lub, lubf::opt_eof_records) && p->status != 5) {
        // Only a unit that did not ask for a direction falls back to
        // reading; REPLACE must be able to write. When reading fails too,
        // the reason that counts is the first one.
        const int first_errno = errno;
        p->fd = ::open(p->name.c_str(), (of & ~O_RDWR & ~O_CREAT & ~O_EXCL) | O_RDONLY, p->mode);
        if (p->fd >= 0)
            p->fl |= lubf::readonly;
        else
            errno = first_errno;
    }
    if (p->fd < 0) return fail_errno(lub, errno, map_open_errno(lub, errno));
    p->fl |= lubf::own_fd;
    return 0;
}

int take_lock(For_Lub *lub, Open_Plan *p) {
    if (!p->lock) return 0;
    struct flock fk = {};
    fk.l_type = p->share == 4 ? F_RDLCK : F_WRLCK;
    fk.l_whence = SEEK_SET;
    fk.l_start = 1;
    fk.l_len = p->share == 4 ? 1 : 4;
    // Open-file-description locks belong to this descriptor, so closing
    // another descriptor of the same file does not drop them.
    if (::fcntl(p->fd, F_OFD_SETLK, &fk) != 0) {
        const int e = errno;
        const int m = e == EAGAIN || e == EACCES ? msg::file_locked
                      : e == EBADF               ? msg::share_incompatible
                                                 : msg::open_failure;
        return fail_errno(lub, e, m);
    }
    p->locked = true;
    return 0;
}

// Carriage control still undecided, now that the descriptor is known.
int settle_carriage(const For_Lub *lub, Open_Plan *p) {
    if (p->cc == 0) {
        uint64_t console_cc = (lub->lub_flags & lubf::opt_console_cc) >> lubf::opt_console_cc_shift;
        bool tty = isatty(p->fd);
        if (p->rt == RT::fixed)
            p->cc = (p->formatted && p->direct && compat(lub)) ? 2 : 3;
        else if (console_output(lub->lub_unit) && console_cc)
            p->cc = static_cast<uint8_t>(console_cc);
        else if (compat(lub))
            p->cc = (p->kind == 1 || (p->formatted && tty)) ? 1 : 2;
        else
            p->cc = (p->formatted && tty && opt(lub, lubf::opt_eof_records)) ? 1 : 2;
    }
    if (p->rt != RT::fixed && (p->cc == 1 || p->cc == 2)) {
        uint64_t grow = p->cc == 1 ? 6 : 1;
        if (!checked_add(p->rec_len, grow, &p->rec_len)) return msg::recl_value_must_positive_number;
        p->overhead = static_cast<uint8_t>(p->overhead + grow);
    }
    // The marker byte of a relative record sits before its RECL bytes of
    // data: a record marked present or deleted still holds what RECL says.
    if (p->direct && p->org == 2 && opt(lub, lubf::opt_eof_records)) {
        if (!checked_add(p->rec_len, 1, &p->rec_len)) return msg::recl_value_must_positive_number;
        p->overhead = static_cast<uint8_t>(p->overhead + 1);
    }
    // A formatted direct record under the compatibility option ends with
    // CR LF after its RECL characters: the terminator takes no data room.
    if (p->direct && p->formatted && compat(lub)) {
        if (!checked_add(p->rec_len, 2, &p->rec_len)) return msg::recl_value_must_positive_number;
        p->overhead = static_cast<uint8_t>(p->overhead + 2);
    }
    return 0;
}

int examine_file(For_Lub *lub, Open_Plan *p) {
    if (::fstat(p->fd, &p->st) != 0 && errno != EOPNOTSUPP) return fail_errno(lub, errno, msg::cannot_stat);
    if (p->st.st_nlink != 0 && !S_ISFIFO(p->st.st_mode) && !S_ISSOCK(p->st.st_mode) && !isatty(p->fd))
        p->fl |= lubf::positionable;
    if (S_ISDIR(p->st.st_mode)) return fail_errno(lub, EISDIR, msg::open_failure);
    if (p->direct && !(p->fl & lubf::positionable)) return msg::inconsistent_organization;
    return 0;
}

// POSITION= and ACCESS='APPEND' on a file of ours.
int position_file(const For_Open_Args &args, For_Lub *lub, Open_Plan *p) {
    if (!p->named) return 0;
    uint64_t &fl = p->fl;
    switch (args.position) {
    case 1:
        if (fl & lubf::positionable) {
            off_t end = ::lseek(p->fd, 0, SEEK_END);
            if (end < 0) return fail_errno(lub, errno, msg::needs_seek);
            if (p->kind == 7) end = before_end_byte(p->fd, end);
            p->stream_pos = static_cast<uint64_t>(end);
        }
        p->record_number = static_cast<uint64_t>(INT32_MIN);
        fl &= ~lubf::append;
        break;
    case 3: fl &= ~lubf::append; break;
    default: fl |= lubf::position_unchanged; break;
    }
    if (fl & lubf::append && (fl & lubf::positionable)) {
        off_t end = ::lseek(p->fd, 0, SEEK_END);
        if (end < 0) return fail_errno(lub, errno, msg::needs_seek);
        if (p->kind == 7) before_end_byte(p->fd, end);
        p->record_number = static_cast<uint64_t>(INT32_MIN);
        fl &= ~lubf::position_unchanged;
    }
    if ((fl & lubf::positionable) && !(fl & lubf::append) && !(p->kind == 2 && compat(lub)) &&
        !(!p->formatted && p->stream))
        fl |= lubf::truncate_after_write;
    return 0;
}

// Terminals are written at once; anything else is buffered and reaches the
// kernel in large writes.
int plan_buffering(const For_Open_Args &args, const For_Lub *lub, Open_Plan *p) {
    if (for_check_env_name("FORT_NO_BUFFERING")) {
        p->buffered = false;
        p->buf_threshold = 1;
        p->fl |= lubf::threshold_given | lubf::no_buffering;
    } else {
        switch (args.buffered) {
        case 0: p->buffered = !(p->kind == 1 && isatty(p->fd)); break;
        case 2:
            p->buffered = p->kind != 1 || !isatty(p->fd);
            p->fl |= lubf::buffered_yes;
            break;
        case 1: p->buffered = false; break;
        default: return msg::invalid_argument;
        }
        if (p->buffered) {
            int64_t th = env_positive("FORT_BUFFERING_THRESHOLD");
            if (th == -2) return msg::buffering_threshold_syntax;
            if (th > 0) {
                p->buf_threshold = static_cast<uint64_t>(th);
                p->fl |= lubf::threshold_given;
            }
        }
        if (!p->buffered && p->kind == 1 && console_output(lub->lub_unit) &&
            ((lub->lub_stmt_flags & lubs::buffered_default) || for_check_env_name("FORT_BUFFER_STDOUT")))
            p->buffered = true;
    }
    if (p->buffered) p->fl |= lubf::output_buffered;
    return 0;
}

int plan_buffer_size(const For_Open_Args &args, const For_Lub *lub, Open_Plan *p) {
    int64_t count = args.buffer_count;
    if (count <= 0) {
        if (for__l_buffercount == -2) return msg::buffercount_syntax;
        count = for__l_buffercount > 1 ? for__l_buffercount : 1;
    }
    uint64_t block;
    bool from_stat = false;
    if (args.block_size > 0) {
        if (!checked_add(args.block_size, 511, &block)) return msg::invalid_argument;
        block &= ~uint64_t{511};
        if (compat(lub) && block > 2147483136ull) block = 2147483136ull;
    } else if (compat(lub)) {
        block = 1024;
        from_stat = true;
    } else if (for__l_blocksize == -2) {
        return msg::blocksize_syntax;
    } else if (for__l_blocksize > 0) {
        block = static_cast<uint64_t>(for__l_blocksize);
    } else {
        block = p->st.st_blksize > 131072 ? static_cast<uint64_t>(p->st.st_blksize) : 131072;
        from_stat = true;
    }
    p->block_size = block;
    const uint64_t rec_len = p->rec_len;
    uint64_t unit_size = from_stat ? 8192 : block;
    uint64_t buf_size;
    if (p->direct) {
        // The buffer is a direct unit's read-ahead and the run of records
        // one write takes: a block's worth of whole records, whatever block
        // the file system reports, and a few records where a block holds
        // fewer, while that stays within a few blocks.
        if (!p->buffered || compat(lub)) {
            buf_size = rec_len;
        } else {
            uint64_t per = block - block % rec_len;
            if (per < rec_len) per = rec_len;
            uint64_t few = 0, cap = 0;
            if (per / rec_len < 4 && checked_mul(rec_len, 4, &few) && checked_mul(block, 8, &cap) && few <= cap)
                per = few;
            if (!checked_mul(count, per, &buf_size)) return msg::no_memory;
        }
    } else {
        uint64_t a = 0, b = 0;
        if (!checked_add(rec_len, 4, &a) || !checked_mul(static_cast<uint64_t>(count), unit_size, &b))
            return msg::no_memory;
        buf_size = a > b ? a : b;
    }
    if (p->rt == RT::segmented && !p->formatted && buf_size < rec_len + 8) buf_size += 8;

    // Very long records start with a threshold-sized buffer that grows.
    int64_t threshold = 20480;
    if (const char *v = std::getenv("FOR_CONTROL_VIRTUAL_RECL")) {
        char *end = nullptr;
        long long t = std::strtoll(v, &end, 10);
        if (end == v)
            std::printf("FOR_CONTROL_VIRTUAL_RECL must be defined as a number; zero turns off virtualization.\n");
        else
            threshold = t;
    }
    if (threshold > 0) {
        if (static_cast<int64_t>(p->ldir_line_len) > threshold) threshold = static_cast<int64_t>(p->ldir_line_len);
        if (p->rec_len > static_cast<uint64_t>(threshold) && p->rt != RT::fixed && p->rt != RT::segmented) {
            p->fl |= lubf::virtual_recl;
            if (p->recl_bytes == 0) p->recl_bytes = 68451041280ull;
            p->rec_len = p->overhead + static_cast<uint64_t>(threshold);
            if (buf_size > static_cast<uint64_t>(threshold)) buf_size = p->rec_len;
        }
    }
    if (buf_size < p->rec_len) buf_size = p->rec_len;
    p->buf_size = buf_size;
    return 0;
}

// The record buffer (with its guard text) and the unit's copy of the name.
int allocate(Open_Plan *p) {
    if (int s = for__get_vm(static_cast<int64_t>(p->buf_size + 16), 0, &p->buf)) return s;
    std::memcpy(static_cast<char *>(p->buf) + p->buf_size, guard_text, sizeof guard_text);
    void *namebuf = nullptr;
    if (int s = for__get_vm(static_cast<int64_t>(p->name.size() + 10), 0, &namebuf)) return s;
    std::memcpy(namebuf, p->name.c_str(), p->name.size() + 1);
    p->name_copy = static_cast<char *>(namebuf);
    return 0;
}

// Everything that opens the file and learns from it, in the order whose
// first failure is the one reported.
int connect(const For_Open_Args &args, For_Lub *lub, Open_Plan *p) {
    if (int s = open_descriptor(args, lub, p)) return s;
    if (p->fd == 1 || p->fd == 2) p->kind = 1;
    if (int s = take_lock(lub, p)) return s;
    if (int s = settle_carriage(lub, p)) return s;
    if (int s = examine_file(lub, p)) return s;
    p->record_number = 1;
    if (int s = position_file(args, lub, p)) return s;
    if (for_check_env_name("FORT_FMT_NO_WRAP_MARGIN")) p->fl |= lubf::no_wrap_margin;

    // The line length of list-directed output.
    if (p->recl_given)
        p->ldir_line_len = p->rec_len;
    else if (p->cc == 1 && p->rt != RT::fixed)
        p->ldir_line_len = compat(lub) ? 80 : 81;
    else
        p->ldir_line_len = compat(lub) ? 79 : 80;

    if (int s = plan_buffering(args, lub, p)) return s;
    if (int s = plan_buffer_size(args, lub, p)) return s;
    if (int s = allocate(p)) return s;
    if (p->truncate) {
        // Nothing after this fails but the file table's room at commit.
        if (S_ISREG(p->st.st_mode) && ::ftruncate(p->fd, 0) != 0) return fail_errno(lub, errno, msg::open_failure);
        if (::lseek(p->fd, 0, SEEK_SET) < 0 && (p->fl & lubf::positionable))
            return fail_errno(lub, errno, msg::needs_seek);
        if (p->stream_pos) p->stream_pos = 0;
    }
    if (p->named && p->kind == 7 && ::lseek(p->fd, 0, SEEK_CUR) == 0) p->fl |= lubf::at_start;
    return 0;
}

// A failed OPEN leaves nothing behind: it gives back what it allocated,
// drops the lock it took, never closes a descriptor it did not open, and
// takes a scratch file it made away again.
// The one thing it leaves is the name it computed, on a block that names
// no file: the statement's message says which file failed, and the block
// gives the name back when it is reset or freed after the report.
int abandon(const For_Open_Args &args, For_Lub *lub, const Open_Plan &p, int s) {
    for__free_vm(p.buf);
    if (!lub->lub_file_name && !p.name.empty()) {
        char *copy = p.name_copy;
        void *fresh = nullptr;
        if (!copy && for__get_vm(static_cast<int64_t>(p.name.size() + 1), 0, &fresh) == 0) {
            copy = static_cast<char *>(fresh);
            std::memcpy(copy, p.name.c_str(), p.name.size() + 1);
        }
        lub->lub_file_name = copy;
        lub->lub_file_name_len = static_cast<int16_t>(p.name.size() > INT16_MAX ? INT16_MAX : p.name.size());
    } else {
        for__free_vm(p.name_copy);
    }
    if (p.fl & lubf::own_fd) {
        ::close(p.fd);
        // A file this OPEN made goes again; one that was there stays.
        if (args.status == 3 || p.created) ::unlink(p.name.c_str());
    } else if (p.locked) {
        struct flock fk = {};
        fk.l_type = F_UNLCK;
        fk.l_whence = SEEK_SET;
        fk.l_start = 1;
        fk.l_len = p.share == 4 ? 1 : 4;
        ::fcntl(p.fd, F_OFD_SETLK, &fk);
    }
    return s;
}

// -- The commit: the only step that writes the connection to the unit.

int commit(const For_Open_Args &args, For_Lub *lub, Open_Plan *p) {
    // Units on one file (a terminal read and written by two units) share an
    // entry, through which a prompt reaches the screen before a read. The
    // entry is found by the unit's name, so it is put in first and taken
    // back out if the table has no room.
    char *old_name = lub->lub_file_name;
    lub->lub_file_name = p->name_copy;
    if (p->formatted) {
        if (int s = for__add_to_lf_table(lub)) {
            lub->lub_file_name = old_name;
            return s;
        }
    }
    for__free_vm(old_name);
    p->name_copy = nullptr;
    const size_t name_len = p->name.size();
    lub->lub_file_name_len = static_cast<int16_t>(name_len > INT16_MAX ? INT16_MAX : name_len);

    lub->lub_recl = p->recl;
    lub->lub_recl_bytes = p->recl_bytes;
    if (args.assoc_var) {
        lub->lub_assoc_var = args.assoc_var;
        lub->lub_assoc_kind = args.assoc_kind;
    }
    lub->lub_maxrec = args.maxrec;
    lub->lub_delim = p->delim;
    lub->lub_round = p->round;
    lub->lub_decimal = p->decimal;
    lub->lub_sign = p->sign;
    lub->lub_encoding = p->encoding;
    lub->lub_share_mode = p->lock ? p->share : 0;
    lub->lub_record_number = p->record_number;
    if (p->stream_pos) lub->lub_stream_pos = *p->stream_pos;
    lub->lub_ldir_line_len = p->ldir_line_len;
    if (p->buf_threshold) lub->lub_buf_threshold = *p->buf_threshold;
    lub->lub_block_size = p->block_size;

    lub->lub_fd = p->fd;
    lub->lub_dev = p->st.st_dev;
    lub->lub_ino = p->st.st_ino;
    lub->lub_buf = static_cast<char *>(p->buf);
    p->buf = nullptr;
    lub->lub_buf_ptr = lub->lub_rec_start = lub->lub_buf;
    lub->lub_buf_limit = lub->lub_buf + p->rec_len;
    lub->lub_buf_size = p->buf_size;
    lub->lub_rec_len = p->rec_len;
    lub->lub_rec_overhead = p->overhead;
    lub->lub_record_type = static_cast<uint8_t>(p->rt);
    lub->lub_carriage_control = p->cc;
    lub->lub_organization = p->org;
    lub->lub_xfer_kind = p->kind;
    lub->lub_convert = p->convert_code;
    // A descriptor handed over by the program is the unit's from now on.
    if (p->given_fd && p->fd > 2) p->fl |= lubf::own_fd;
    // The preconnection state ends here; CLOSE knows console units by their
    // blocks and puts them back.
    lub->lub_flags = (p->fl | lubf::opened) & ~(lubf::preconnected | lubf::preconnected_env);
    if (lub->lub_record_number == static_cast<uint64_t>(INT32_MIN) && (p->fl & lubf::positionable) &&
        for__eof_records(lub)) {
        // Appending goes before the end-of-file record our ENDFILE wrote, as
        // reading does, so that the record still ends the file.
        off_t end = ::lseek(p->fd, 0, SEEK_CUR);
        off_t n = for__eof_record_size(lub);
        if (n > 0 && end >= n && for__eof_record_at(lub, p->fd, end - n) && ::lseek(p->fd, end - n, SEEK_SET) >= 0) {
            // The first record written replaces it, whatever its length.
            lub->lub_flags |= lubf::truncate_after_write;
        }
    }
    return 0;
}

}  // namespace

int for__open_proc(const For_Open_Args &given, For_Lub *lub) {
    // Under the compatibility option an explicit OPEN naming no file and no
    // status is a scratch file.
    For_Open_Args args = given;
    if (compat(lub) && !args.implicit && !args.has_file() && !args.status) args.status = 3;

    Open_Plan p;
    p.fl = lub->lub_flags & (lubf::options | lubf::preconnected | lubf::preconnected_env);
    p.given_fd = args.given_fd >= 0;
    p.fd = args.given_fd;
    // The plan's name is a string: building it is the one step that can
    // throw (for want of memory). The exception stops here, as a failure
    // of the OPEN that gives back what the plan holds.
    try {
        if (int s = name_file(args, lub, &p)) return s;
        if (int s = validate(args, lub, &p)) return abandon(args, lub, p, s);
        if (int s = connect(args, lub, &p)) return abandon(args, lub, p, s);
    } catch (const std::bad_alloc &) {
        return abandon(args, lub, p, msg::no_memory);
    }
    if (int s = commit(args, lub, &p)) return abandon(args, lub, p, s);
    for__l_exit_hand_decl.store(1, std::memory_order_relaxed);
    return 0;
}
