// Open processing: the file name of a unit, the checks of the OPEN keywords
// against each other, the open itself and the set-up of the unit block.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include <vorlix/runtime.h>

#include "diag/for_diag.h"
#include "io/for_tty_pair.h"
#include "runtime/for_env.h"
#include "runtime/for_vm.h"
#include "unformatted/for_ufseq.h"
#include "units/for_lub_mgt.h"
#include "units/for_open.h"

namespace {

// Appending to a compatibility-layout file goes before its end byte 130,
// which the next CLOSE writes again after the new records; a file without
// one (cut short, or not in the layout) is appended to at its end.
// Returns where the descriptor is left.
off_t before_end_byte(int fd, off_t end) {
    unsigned char last = 0;
    if (end > 1 && ::pread(fd, &last, 1, end - 1) == 1 && last == cls::file_end && ::lseek(fd, end - 1, SEEK_SET) >= 0)
        return end - 1;
    return end;
}

using A = For_Open_Args;
constexpr size_t max_path = 4096;
constexpr int max_path_msg = 785;

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
    case 5: case -3: case -4: return 0;
    case 6: case -1: case -2: return 1;
    case 0: return 2;
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
    return name->size() > max_path ? max_path_msg : 0;
}

bool directory_usable(const std::string &dir) {
    struct stat st;
    return !dir.empty() && ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string with_slash(std::string d) {
    if (!d.empty() && d.back() != '/') d += '/';
    return d;
}

// The directory that relative names and scratch files go to when the OPEN
// gives one, else the current directory.
int default_directory(const For_Open_Args &args, std::string *dir) {
    if (args[A::dir_addr] && args[A::dir_len]) {
        std::string_view d = trimmed(reinterpret_cast<const char *>(args[A::dir_addr]),
                                     static_cast<size_t>(args[A::dir_len]));
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

int make_scratch(const For_Open_Args &args, std::string *name, int *fd) {
    std::string dir;
    for (const char *var : {"FORT_TMPDIR", "TMPDIR"}) {
        const char *v = env_value(var);
        if (v && directory_usable(v)) {
            dir = with_slash(v);
            break;
        }
    }
    if (dir.empty()) {
        std::string d;
        if (default_directory(args, &d) == 0 && directory_usable(d)) dir = d;
    }
    std::string templ = dir + "fortXXXXXX";
    if (templ.size() > max_path) return max_path_msg;
    // mkostemp creates with O_EXCL and mode 0600: nobody else can have the file.
    int f = mkostemp(templ.data(), O_CLOEXEC);
    if (f < 0) return 30;
    *name = templ;
    *fd = f;
    return 0;
}

}  // namespace

int for__compute_filename(For_Lub *lub, const For_Open_Args &args, std::string *name, int *fd) {
    *fd = -1;
    const int unit = lub->lub_unit;
    const bool connected = lub->lub_flags & lubf::opened;
    const bool has_file = args[A::file_addr] != 0;
    if (args[A::status] == 3 && !connected) {  // SCRATCH
        if (has_file) for__issue_diagnostic(530, 0);
        return make_scratch(args, name, fd);
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
            n = std::string(trimmed(reinterpret_cast<const char *>(args[A::file_addr]),
                                    static_cast<size_t>(args[A::file_len])));
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
        if (!(lub->lub_stmt_flags & lubs::name_from_cmdline)) return 43;
        // Take the next program argument; none left is a name error rather
        // than a prompt that could wait on input that never comes.
        if (!for__a_argv || next_argument >= for__l_argc) return 43;
        const char *arg = for__a_argv[next_argument++];
        if (std::strlen(arg) > max_path) return max_path_msg;
        n = std::string(trimmed(arg, std::strlen(arg)));
        if (n.empty()) return 43;
    }
    if (n.size() > max_path) return max_path_msg;
    if (int s = expand_home(&n)) return s;
    if (n[0] != '/') {
        std::string dir;
        if (int s = default_directory(args, &dir)) return s;
        n = dir + n;
    }
    if (n.size() > max_path) return max_path_msg;
    *name = std::move(n);
    return 0;
}

namespace {

bool specific(const For_Lub *lub) { return lub->lub_flags & (uint64_t{1} << 5); }
int spec_or(const For_Lub *lub, int specific_msg, int general) {
    return specific(lub) ? specific_msg : general;
}
bool compat(const For_Lub *lub) { return lub->lub_flags & lubf::opt_compat; }
bool opt(const For_Lub *lub, int bit) { return lub->lub_flags & (uint64_t{1} << bit); }

// Record-type codes as the unit block carries them.
enum : uint8_t { rt_none = 0, rt_fixed = 1, rt_segmented = 3, rt_variable = 4, rt_stream = 5,
                 rt_stream_lf = 6, rt_stream_cr = 7, rt_stream_crlf = 8 };

int map_open_errno(const For_Lub *lub, int e) {
    switch (e) {
    case ENOENT: return spec_or(lub, 602, 29);
    case ENXIO: return 42;
    case EACCES:
    case EROFS:
    case EPERM: return spec_or(lub, 600, 9);
    case EEXIST: return spec_or(lub, 601, 10);
    case ENOTDIR:
    case ENAMETOOLONG: return 43;
    case EISDIR: return 30;
    case EMFILE: return 603;
    default: return 30;
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

struct Conversion {
    const char *name;
    uint8_t code;
    bool foreign, big_endian;
};
constexpr Conversion conversions[] = {
    {"NATIVE", 0, false, false}, {"LITTLE_ENDIAN", 0, false, false}, {"BIG_ENDIAN", 0, true, true},
    {"VAXG", 1, true, false},    {"VAXD", 2, true, false},           {"IBM", 3, true, true},
    {"CRAY", 4, true, true},     {"FDX", 5, true, false},            {"FGX", 6, true, false}};

void apply_conversion(uint64_t *fl, uint8_t *code, const Conversion &c) {
    *code = c.code;
    *fl = (*fl & ~(lubf::foreign | lubf::big_endian)) | (c.foreign ? lubf::foreign : 0) |
          (c.big_endian ? lubf::big_endian : 0);
}

// The unformatted data representation of a connection: CONVERT= first,
// then the per-unit variable FORT_CONVERTn, which wins. 0, or 46 for a
// variable naming no representation.
int record_conversion(const For_Open_Args &args, int unit, uint64_t *fl, uint8_t *code) {
    static constexpr int by_keyword[] = {-1, 2, 1, 4, 3, 5, 6, 7, 8, 0};  // key_convert -> row
    uint64_t k = args[A::convert];
    if (k >= 1 && k <= 9) apply_conversion(fl, code, conversions[by_keyword[k]]);
    char var[32];
    std::snprintf(var, sizeof var, "FORT_CONVERT%d", unit);
    const char *v = std::getenv(var);
    if (!v || !*v || std::strlen(v) >= 261) return 0;
    char up[21] = {};
    for (size_t i = 0; i < 20 && v[i]; ++i)
        up[i] = (v[i] >= 'a' && v[i] <= 'z') ? static_cast<char>(v[i] - 'a' + 'A') : v[i];
    for (const Conversion &c : conversions)
        if (std::strcmp(up, c.name) == 0) {
            apply_conversion(fl, code, c);
            return 0;
        }
    return 46;
}

}  // namespace

int for__open_proc(For_Open_Args *ap, For_Lub *lub) {
    For_Open_Args &args = *ap;
    uint64_t fl = lub->lub_flags & (lubf::options | lubf::preconnected | lubf::preconnected_env);
    const bool given_fd = args[A::fd_given] & 1;
    if (compat(lub) && !args[A::implicit] && !args[A::file_addr] && !args[A::status])
        args[A::status] = 3;
    int open_flags = O_CLOEXEC;
    int mode = 0666;

    std::string name;
    int fd = given_fd ? static_cast<int>(args[A::fd_given] >> 32) : -1;
    bool named = true;
    if (!given_fd) {
        if (int s = for__compute_filename(lub, args, &name, &fd)) return s;
        named = fd < 0 || args[A::status] == 3;
        if (fd >= 0 && args[A::status] == 3) fl |= lubf::own_fd;
    } else {
        name = console_name(fd);
        named = false;
    }
    auto fail = [&](int s) {
        // A failure never closes a descriptor it did not open, and takes a
        // scratch file it made away again.
        if (fl & lubf::own_fd) {
            ::close(fd);
            if (args[A::status] == 3) ::unlink(name.c_str());
        }
        return s;
    };
    lub->lub_record_number = lub->lub_record_number ? lub->lub_record_number : 1;

    // Direction.
    int rw = O_RDWR;
    if (args[A::readonly]) {
        fl |= lubf::readonly;
        rw = O_RDONLY;
    }
    for (A::Slot sl : {A::action, A::mode}) {
        uint64_t v = args[sl];
        if (!v) continue;
        if (v > 3) return fail(spec_or(lub, sl == A::action ? 749 : 571, 48));
        if (v == 1) {
            fl |= lubf::readonly | lubf::action_read;
            rw = O_RDONLY;
        } else if (fl & (lubf::readonly) && !(fl & lubf::action_read)) {
            return fail(46);
        } else if (v == 2) {
            rw = O_RDWR;
        } else {
            fl |= lubf::write_only;
            rw = O_WRONLY;
        }
    }
    if ((fl & lubf::action_read) && args[A::readonly]) fl &= ~lubf::action_read;

    // Access.
    switch (args[A::access]) {
    case 0: case 1: fl |= lubf::access_seq; break;
    case 2: fl |= lubf::access_direct; break;
    case 3:
        if (fl & lubf::readonly) return fail(46);
        fl |= lubf::access_seq | lubf::append;
        break;
    case 4: fl |= lubf::access_keyed; break;
    case 5:
        fl &= ~(lubf::opt_compat | (uint64_t{1} << 7));
        fl |= lubf::access_stream | lubf::access_seq;
        break;
    default: return fail(spec_or(lub, 572, 48));
    }
    const bool seq = fl & lubf::access_seq, direct = fl & lubf::access_direct,
               keyed = fl & lubf::access_keyed, stream = fl & lubf::access_stream;

    // Status. An absent STATUS is UNKNOWN, as the standard has it; NEW
    // creates exclusively in the open itself (no check-then-open race).
    uint64_t status = args[A::status] ? args[A::status] : 4;
    switch (status) {
    case 2:
        if ((fl & lubf::append) && !compat(lub)) return fail(46);
        open_flags |= O_CREAT | O_EXCL;
        break;
    case 1: fl |= lubf::must_exist; break;
    case 3:
        if ((fl & lubf::append) && !compat(lub)) return fail(46);
        fl |= lubf::scratch;
        break;
    case 4:
        if (rw == O_RDONLY) fl |= lubf::must_exist;
        else open_flags |= O_CREAT;
        break;
    case 5: open_flags |= O_CREAT | O_TRUNC; break;
    default: return fail(spec_or(lub, 570, 48));
    }

    // Disposition at close.
    const bool scratch = fl & lubf::scratch, ro = fl & lubf::readonly;
    switch (args[A::dispose]) {
    case 0: break;
    case 1: if (scratch) return fail(46); break;
    case 2: if (ro && !(fl & lubf::action_read)) return fail(46); fl |= lubf::dispose_delete; break;
    case 3: if (scratch) return fail(46); fl |= lubf::dispose_print; break;
    case 4: if (scratch) return fail(46); fl |= lubf::dispose_submit; break;
    case 5: case 6:
        if (scratch || (ro && !(fl & lubf::action_read))) return fail(46);
        fl |= lubf::dispose_delete | (args[A::dispose] == 5 ? lubf::dispose_print : lubf::dispose_submit);
        break;
    default: return fail(48);
    }

    // Form.
    bool formatted;
    switch (args[A::form]) {
    case 0: formatted = !(stream || direct || keyed); break;
    case 1: formatted = true; break;
    case 2: formatted = false; break;
    case 3: case 4: formatted = false; fl |= lubf::form_binary; break;
    default: return fail(spec_or(lub, 574, 48));
    }
    if (!formatted && !(fl & lubf::form_binary) && opt(lub, 7)) fl |= lubf::compat_layout;
    fl |= formatted ? lubf::formatted : lubf::unformatted;
    if (!formatted && !(fl & lubf::form_binary)) {
        if (args[A::delim]) return fail(spec_or(lub, 750, 46));
        if (args[A::pad] || args[A::blank]) return fail(spec_or(lub, 752, 46));
        if (args[A::round] || args[A::decimal] || args[A::sign]) return fail(spec_or(lub, 752, 46));
    }
    if (args[A::encoding] && !formatted) return fail(spec_or(lub, 752, 46));

    // Record type and carriage control.
    uint8_t rt = rt_none;
    switch (args[A::recordtype]) {
    case 0: break;
    case 1: if (stream) return fail(46); rt = rt_fixed; break;
    case 2: rt = rt_variable; break;
    case 3: case 4:
        if (stream || direct || keyed || formatted) return fail(46);
        rt = rt_segmented;
        break;
    case 5: case 6: case 7: case 8: rt = static_cast<uint8_t>(args[A::recordtype]); break;
    default: return fail(48);
    }
    uint8_t cc = 0;
    switch (args[A::carriage]) {
    case 0:
        if (formatted && direct && compat(lub)) cc = 2;
        else if (rt == rt_fixed || rt == rt_variable || !formatted || (rt >= rt_stream && rt <= rt_stream_crlf))
            cc = 3;
        break;
    case 1: case 2:
        if (stream) return fail(46);
        cc = static_cast<uint8_t>(args[A::carriage]);
        if (cc == 2 && formatted && rt >= rt_stream && rt <= rt_stream_crlf) cc = 3;
        break;
    case 3: cc = 3; break;
    default: return fail(spec_or(lub, 754, 48));
    }
    uint8_t org = keyed ? 3 : 1;
    if (args[A::organization]) {
        org = static_cast<uint8_t>(args[A::organization]);
        if (org > 3) return fail(48);
        if (org == 1 && (keyed || (direct && rt != rt_none && rt != rt_fixed))) return fail(46);
        if (org == 2 && keyed) return fail(46);
        if (org == 3 && (seq || direct)) return fail(46);
    }
    if (rt != rt_none && !(org == 1 && !direct && !keyed) && rt != rt_fixed) return fail(46);
    if (rt == rt_none) {
        if (org != 1 || direct || keyed) rt = rt_fixed;
        else if ((fl & (lubf::form_binary | lubf::compat_layout)) || (!formatted && stream)) rt = rt_stream;
        else if (!formatted) rt = rt_variable;
        else rt = cc == 3 ? rt_stream : rt_stream_lf;
    }
    if ((fl & lubf::compat_layout) && seq && rt != rt_stream) return fail(46);
    if (rt == rt_variable && cc != 0 && cc != 3) return fail(46);

    // BLANK and PAD.
    switch (args[A::blank]) {
    case 0: if (!(opt(lub, 0) && !args[A::file_addr])) fl |= lubf::blank_null; break;
    case 1: break;
    case 2: fl |= lubf::blank_null; break;
    default: return fail(spec_or(lub, 573, 48));
    }
    switch (args[A::pad]) {
    case 0: case 2: if (opt(lub, 1) || args[A::pad] == 2) fl |= lubf::pad; break;
    case 1: break;
    default: return fail(spec_or(lub, 753, 48));
    }

    // Record length, all arithmetic overflow-checked.
    uint64_t recl = args[A::recl];
    uint64_t rec_len = 0, recl_bytes = 0;
    uint8_t overhead = 0;
    const bool recl_given = recl != 0;
    if (recl_given && stream) return fail(112);
    if (!recl_given && !stream) {
        int32_t env = formatted ? for__l_fmtrecl : for__l_ufmtrecl;
        if (env == -2) return fail(formatted ? 99 : 100);
        if (env > 0) recl = static_cast<uint64_t>(env);
    }
    if (recl) {
        if (compat(lub) ? (recl < 1 || recl > 4294967290ull) : static_cast<int64_t>(recl) < 1)
            return fail(compat(lub) ? 581 : 769);
        lub->lub_recl = recl;
        recl_bytes = recl;
        if (!formatted && !(fl & (lubf::form_binary | lubf::compat_layout | lubf::define_file)) &&
            !args[A::recl_bytes]) {
            if (!checked_mul(recl, 4, &recl_bytes)) return fail(spec_or(lub, 581, 769));
            fl |= lubf::recl_scaled;
        }
        rec_len = recl_bytes;
        switch (rt) {
        case rt_variable:
            if (!checked_add(recl_bytes, 8, &rec_len)) return fail(769);
            overhead = 8;
            break;
        case rt_segmented:
            overhead = 4;
            lub->lub_recl -= args[A::recl_bytes] ? 4 : 1;
            if (recl_bytes < 5) return fail(531);
            break;
        case rt_stream:
            if ((fl & lubf::form_binary) || (!formatted && stream)) {
                lub->lub_recl = 65536;
                rec_len = 1024;
                fl |= lubf::recl_defaulted;
            }
            break;
        case rt_stream_lf:
        case rt_stream_cr:
            if (cc == 3) { overhead = 1; if (!checked_add(recl_bytes, 1, &rec_len)) return fail(769); }
            break;
        case rt_stream_crlf:
            if (cc == 3) { overhead = 2; if (!checked_add(recl_bytes, 2, &rec_len)) return fail(769); }
            break;
        default: break;
        }
    } else {
        if (rt == rt_fixed || direct) return fail(spec_or(lub, 577, 37));
        fl |= lubf::recl_defaulted;
        if ((fl & (lubf::form_binary | lubf::compat_layout)) || (!formatted && stream)) {
            rec_len = 1024; lub->lub_recl = 65536;
        } else if (formatted && compat(lub)) {
            rec_len = 1024; lub->lub_recl = 1024;
        } else if (!formatted) {
            rec_len = 2048; lub->lub_recl = 510;
        } else if (stream) {
            rec_len = 1025; lub->lub_recl = 1024;
        } else {
            rec_len = 133; lub->lub_recl = 132;
        }
    }
    lub->lub_recl_bytes = recl_bytes;

    if (args[A::assoc_var]) {
        lub->lub_assoc_var = reinterpret_cast<void *>(args[A::assoc_var]);
        lub->lub_assoc_kind = static_cast<uint8_t>(args[A::assoc_kind]);
    }
    lub->lub_maxrec = args[A::maxrec];

    // DELIM, POSITION, modes.
    if (args[A::delim] > 3) return fail(spec_or(lub, 751, 48));
    lub->lub_delim = args[A::delim] == 1 ? '\'' : args[A::delim] == 3 ? '"' : 0;
    if (args[A::position] > 3) return fail(spec_or(lub, 748, 48));
    if (args[A::position] && (direct || keyed)) return fail(46);
    lub->lub_round = static_cast<uint8_t>(args[A::round]);
    lub->lub_decimal = static_cast<uint8_t>(args[A::decimal]);
    lub->lub_sign = static_cast<uint8_t>(args[A::sign]);
    lub->lub_encoding = static_cast<uint8_t>(args[A::encoding]);

    // Sharing: OPEN asks for a lock only when SHARED/NOSHARED/SHARE say so.
    uint8_t share = 0;
    bool lock = false;
    switch (args[A::share]) {
    case 0:
        if (args[A::shared] && !(fl & lubf::write_only)) { share = 4; lock = true; }
        else if (args[A::noshared] && !ro) { share = 16; lock = true; }
        break;
    case 2:
        if (args[A::noshared]) return fail(270);
        if (!(fl & lubf::write_only)) { share = 4; lock = true; }
        break;
    case 4:
        if (args[A::shared]) return fail(270);
        if (args[A::noshared]) { if (ro) share = 4; else { share = 16; lock = true; } }
        else { lock = true; share = ro ? 4 : 16; }
        break;
    default: return fail(48);
    }

    uint8_t convert_code = 0;
    if (!formatted) {
        if (int s = record_conversion(args, lub->lub_unit, &fl, &convert_code)) return fail(s);
    }

    // Transfer kind.
    uint8_t kind;
    if (formatted) kind = direct ? 2 : keyed ? 8 : 3;
    else if (fl & lubf::form_binary) kind = direct ? 4 : keyed ? 10 : 5;
    else if (fl & lubf::compat_layout) kind = 7;
    else kind = direct ? 6 : keyed ? 9 : 11;

    // Open.
    if (fd < 0) {
        int of = open_flags | rw;
        if (fl & lubf::must_exist) of &= ~O_CREAT;
        if (args[A::useropen]) {
            // The program opens the file itself; it may change the flags
            // and mode it is handed.
            using User_Open = int (*)(const char *, int *, int *, int *, int);
            auto user_open = reinterpret_cast<User_Open>(args[A::useropen]);
            int unit = lub->lub_unit;
            fd = user_open(name.c_str(), &of, &mode, &unit, static_cast<int>(name.size()));
        } else {
            fd = ::open(name.c_str(), of, mode);
        }
        if (fd < 0 && !args[A::useropen] && (errno == EPERM || errno == EACCES || errno == EROFS) &&
            !args[A::action] && !args[A::mode] && rw == O_RDWR && !opt(lub, 0) && status != 5) {
            // Only a unit that did not ask for a direction falls back to
            // reading; REPLACE must be able to write. When reading fails
            // too, the reason that counts is the first one.
            const int first_errno = errno;
            fd = ::open(name.c_str(), (of & ~O_RDWR & ~O_CREAT & ~O_EXCL) | O_RDONLY, mode);
            if (fd >= 0) fl |= lubf::readonly;
            else errno = first_errno;
        }
        if (fd < 0) {
            lub->lub_errno = static_cast<uint64_t>(errno);
            return fail(map_open_errno(lub, errno));
        }
        fl |= lubf::own_fd;
    }
    if (fd == 1 || fd == 2) kind = 1;

    if (lock) {
        struct flock fk = {};
        fk.l_type = share == 4 ? F_RDLCK : F_WRLCK;
        fk.l_whence = SEEK_SET;
        fk.l_start = 1;
        fk.l_len = share == 4 ? 1 : 4;
        // Open-file-description locks belong to this descriptor, so closing
        // another descriptor of the same file does not drop them.
        if (::fcntl(fd, F_OFD_SETLK, &fk) != 0) {
            lub->lub_errno = static_cast<uint64_t>(errno);
            return fail(errno == EAGAIN || errno == EACCES ? 269 : errno == EBADF ? 270 : 30);
        }
    }
    lub->lub_share_mode = lock ? share : 0;

    // Undecided carriage control, now that the descriptor is known.
    if (cc == 0) {
        uint64_t console_cc = (lub->lub_flags >> 9) & 3;
        bool tty = isatty(fd);
        if (rt == rt_fixed) cc = (formatted && direct && compat(lub)) ? 2 : 3;
        else if ((lub->lub_unit == -2 || lub->lub_unit == -1 || lub->lub_unit == 6) && console_cc)
            cc = static_cast<uint8_t>(console_cc);
        else if (compat(lub)) cc = (kind == 1 || (formatted && tty)) ? 1 : 2;
        else cc = (formatted && tty && opt(lub, 0)) ? 1 : 2;
    }
    if (rt != rt_fixed && (cc == 1 || cc == 2)) {
        uint64_t grow = cc == 1 ? 6 : 1;
        if (!checked_add(rec_len, grow, &rec_len)) return fail(769);
        overhead = static_cast<uint8_t>(overhead + grow);
    }

    struct stat st = {};
    if (::fstat(fd, &st) != 0 && errno != EOPNOTSUPP) {
        lub->lub_errno = static_cast<uint64_t>(errno);
        return fail(108);
    }
    if (st.st_nlink != 0 && !S_ISFIFO(st.st_mode) && !S_ISSOCK(st.st_mode) && !isatty(fd))
        fl |= lubf::positionable;
    if (S_ISDIR(st.st_mode)) {
        lub->lub_errno = EISDIR;
        return fail(30);
    }
    if (direct && !(fl & lubf::positionable)) return fail(51);

    // Positioning.
    lub->lub_record_number = 1;
    if (named) {
        if (status == 5 && !(fl & lubf::positionable)) {
            // REPLACE on a device: nothing to cut.
        }
        switch (args[A::position]) {
        case 1:
            if (fl & lubf::positionable) {
                off_t end = ::lseek(fd, 0, SEEK_END);
                if (end < 0) { lub->lub_errno = static_cast<uint64_t>(errno); return fail(120); }
                if (kind == 7) end = before_end_byte(fd, end);
                lub->lub_stream_pos = static_cast<uint64_t>(end);
            }
            lub->lub_record_number = static_cast<uint64_t>(INT32_MIN);
            fl &= ~lubf::append;
            break;
        case 3: fl &= ~lubf::append; break;
        default: fl |= lubf::position_unchanged; break;
        }
        if (fl & lubf::append && (fl & lubf::positionable)) {
            off_t end = ::lseek(fd, 0, SEEK_END);
            if (end < 0) { lub->lub_errno = static_cast<uint64_t>(errno); return fail(120); }
            if (kind == 7) before_end_byte(fd, end);
            lub->lub_record_number = static_cast<uint64_t>(INT32_MIN);
            fl &= ~lubf::position_unchanged;
        }
        if ((fl & lubf::positionable) && !(fl & lubf::append) && !(kind == 2 && compat(lub)) &&
            !(!formatted && stream))
            fl |= lubf::truncate_after_write;
    }
    if (for_check_env_name("FORT_FMT_NO_WRAP_MARGIN")) fl |= lubf::no_wrap_margin;

    // Line length of list-directed output.
    if (recl_given) lub->lub_ldir_line_len = rec_len;
    else if (cc == 1 && rt != rt_fixed) lub->lub_ldir_line_len = compat(lub) ? 80 : 81;
    else lub->lub_ldir_line_len = compat(lub) ? 79 : 80;

    // Buffering: terminals are written at once; anything else is buffered
    // and reaches the kernel in large writes.
    bool buffered;
    if (for_check_env_name("FORT_NO_BUFFERING")) {
        buffered = false;
        lub->lub_buf_threshold = 1;
        fl |= lubf::threshold_given | lubf::no_buffering;
    } else {
        switch (args[A::buffered]) {
        case 0: buffered = !(kind == 1 && isatty(fd)); break;
        case 2: buffered = kind != 1 || !isatty(fd); fl |= lubf::buffered_yes; break;
        case 1: buffered = false; break;
        default: return fail(48);
        }
        if (buffered) {
            int64_t th = env_positive("FORT_BUFFERING_THRESHOLD");
            if (th == -2) return fail(119);
            if (th > 0) {
                lub->lub_buf_threshold = static_cast<uint64_t>(th);
                fl |= lubf::threshold_given;
            }
        }
        if (!buffered && kind == 1 && (lub->lub_unit == -2 || lub->lub_unit == -1 || lub->lub_unit == 6) &&
            ((lub->lub_stmt_flags & lubs::buffered_default) || for_check_env_name("FORT_BUFFER_STDOUT")))
            buffered = true;
    }
    if (buffered) fl |= lubf::output_buffered;

    // Buffer size.
    int64_t count = static_cast<int64_t>(args[A::buffer_count]);
    if (count <= 0) {
        if (for__l_buffercount == -2) return fail(107);
        count = for__l_buffercount > 1 ? for__l_buffercount : 1;
    }
    uint64_t block;
    bool from_stat = false;
    if (args[A::block_size] > 0) {
        uint64_t b = args[A::block_size];
        if (!checked_add(b, 511, &block)) return fail(48);
        block &= ~uint64_t{511};
        if (compat(lub) && block > 2147483136ull) block = 2147483136ull;
    } else if (compat(lub)) {
        block = 1024;
        from_stat = true;
    } else if (for__l_blocksize == -2) {
        return fail(106);
    } else if (for__l_blocksize > 0) {
        block = static_cast<uint64_t>(for__l_blocksize);
    } else {
        block = st.st_blksize > 131072 ? static_cast<uint64_t>(st.st_blksize) : 131072;
        from_stat = true;
    }
    lub->lub_block_size = block;
    uint64_t unit_size = from_stat ? 8192 : block;
    uint64_t buf_size;
    if (direct) {
        if (!buffered || compat(lub)) buf_size = rec_len;
        else if (unit_size < rec_len) { if (!checked_mul(count, rec_len, &buf_size)) return fail(41); }
        else {
            uint64_t per = unit_size - unit_size % rec_len;
            if (per < rec_len) per = rec_len;
            if (!checked_mul(count, per, &buf_size)) return fail(41);
        }
    } else {
        uint64_t a = 0, b = 0;
        if (!checked_add(rec_len, 4, &a) || !checked_mul(static_cast<uint64_t>(count), unit_size, &b))
            return fail(41);
        buf_size = a > b ? a : b;
    }
    if (rt == rt_segmented && !formatted && buf_size < rec_len + 8) buf_size += 8;

    // Very long records start with a threshold-sized buffer that grows.
    int64_t threshold = 20480;
    if (const char *v = std::getenv("FOR_CONTROL_VIRTUAL_RECL")) {
        char *end = nullptr;
        long long t = std::strtoll(v, &end, 10);
        if (end == v) std::printf("FOR_CONTROL_VIRTUAL_RECL must be defined as a number; zero turns off virtualization.\n");
        else threshold = t;
    }
    if (threshold > 0) {
        if (static_cast<int64_t>(lub->lub_ldir_line_len) > threshold)
            threshold = static_cast<int64_t>(lub->lub_ldir_line_len);
        if (rec_len > static_cast<uint64_t>(threshold) && rt != rt_fixed && rt != rt_segmented) {
            fl |= lubf::virtual_recl;
            if (lub->lub_recl_bytes == 0) lub->lub_recl_bytes = 68451041280ull;
            rec_len = overhead + static_cast<uint64_t>(threshold);
            if (buf_size > static_cast<uint64_t>(threshold)) buf_size = rec_len;
        }
    }
    if (buf_size < rec_len) buf_size = rec_len;

    void *buf = nullptr;
    if (int s = for__get_vm(static_cast<int64_t>(buf_size + 16), 0, &buf)) return fail(s);
    std::memcpy(static_cast<char *>(buf) + buf_size, guard_text, sizeof guard_text);

    // Connected: commit everything to the block.
    for__free_vm(lub->lub_file_name);
    void *namebuf = nullptr;
    if (int s = for__get_vm(static_cast<int64_t>(name.size() + 10), 0, &namebuf)) {
        for__free_vm(buf);
        return fail(s);
    }
    std::memcpy(namebuf, name.c_str(), name.size() + 1);
    lub->lub_file_name = static_cast<char *>(namebuf);
    lub->lub_file_name_len = static_cast<int16_t>(name.size() > INT16_MAX ? INT16_MAX : name.size());
    // A descriptor handed over by the program is the unit's from now on.
    if (given_fd && fd > 2) fl |= lubf::own_fd;
    lub->lub_fd = fd;
    lub->lub_dev = st.st_dev;
    lub->lub_ino = st.st_ino;
    lub->lub_buf = static_cast<char *>(buf);
    lub->lub_buf_ptr = lub->lub_rec_start = lub->lub_buf;
    lub->lub_buf_limit = lub->lub_buf + rec_len;
    lub->lub_buf_size = buf_size;
    lub->lub_rec_len = rec_len;
    lub->lub_rec_overhead = overhead;
    lub->lub_record_type = rt;
    lub->lub_carriage_control = cc;
    lub->lub_organization = org;
    lub->lub_xfer_kind = kind;
    lub->lub_convert = convert_code;
    if (named && kind == 7 && ::lseek(fd, 0, SEEK_CUR) == 0) fl |= lubf::at_start;
    if (formatted) {
        // Units on one file (a terminal read and written by two units) share
        // an entry, through which a prompt reaches the screen before a read.
        if (int s = for__add_to_lf_table(lub)) return fail(s);
    }
    // The preconnection state ends here; CLOSE knows console units by
    // their blocks and puts them back.
    lub->lub_flags = (fl | lubf::opened) & ~(lubf::preconnected | lubf::preconnected_env);
    if (lub->lub_record_number == static_cast<uint64_t>(INT32_MIN) && (fl & lubf::positionable) &&
        for__eof_records(lub)) {
        // Appending goes before the end-of-file record our ENDFILE wrote, as
        // reading does, so that the record still ends the file.
        off_t end = ::lseek(fd, 0, SEEK_CUR);
        off_t n = for__eof_record_size(lub);
        if (n > 0 && end >= n && for__eof_record_at(lub, fd, end - n) && ::lseek(fd, end - n, SEEK_SET) >= 0) {
            // The first record written replaces it, whatever its length.
            lub->lub_flags |= lubf::truncate_after_write;
        }
    }
    for__l_exit_hand_decl.store(1, std::memory_order_relaxed);
    return 0;
}
