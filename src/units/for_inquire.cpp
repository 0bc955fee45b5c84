// The INQUIRE statement by unit, by file and by directory: the specifiers
// are decoded and checked first, then the unit is found and held, every
// answer is worked out, and only when all of them fit their variables are
// they stored. A statement that fails therefore changes no variable.
#include <cerrno>
#include <climits>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include <vorlix/io.h>

#include "diag/for_diag.h"
#include "diag/for_msgnum.h"
#include "io/for_desc_item.h"
#include "io/for_flags.h"
#include "io/for_rec.h"
#include "io/for_stmt.h"
#include "runtime/for_threadstor.h"
#include "units/for_lub_mgt.h"
#include "units/for_open.h"
#include "units/for_pos_stmt.h"

namespace {

bool has(For_IO_Flags f, For_IO_Flags bit) { return (f & bit) != 0; }

// The specifier codes INQUIRE answers. The values are the compiler's.
enum Inq : int {
    access = 2,
    blank = 6,
    carriagecontrol = 8,
    default_dir = 10,
    file = 13,
    form = 15,
    organization = 18,
    recl_legacy = 21,
    recordtype = 23,
    exist = 27,
    named = 29,
    nextrec = 31,
    number = 33,
    opened = 35,
    direct = 37,
    formatted = 39,
    keyed = 41,
    name = 43,
    sequential = 45,
    unformatted = 47,
    block_size = 50,
    convert = 52,
    action = 58,
    delim = 59,
    pad = 60,
    position = 61,
    read = 62,
    readwrite = 63,
    write = 64,
    always_zero = 66,
    mode = 67,
    share = 68,
    binary = 70,
    buffered = 71,
    directory = 73,
    full_name = 74,
    asynchronous = 75,
    pending = 76,
    id = 77,
    iomsg = 78,
    pos = 79,
    stream = 80,
    round = 81,
    decimal = 82,
    sign = 83,
    encoding = 84,
    size = 85,
    recl = 87
};

enum class Ans { character, integer, logical };

// How each answer code is delivered; false for a code INQUIRE has no answer for.
bool answer_kind(int code, Ans *kind) {
    switch (code) {
    case access:
    case blank:
    case carriagecontrol:
    case form:
    case organization:
    case recordtype:
    case direct:
    case formatted:
    case keyed:
    case name:
    case sequential:
    case unformatted:
    case convert:
    case action:
    case delim:
    case pad:
    case position:
    case read:
    case readwrite:
    case write:
    case mode:
    case share:
    case binary:
    case buffered:
    case full_name:
    case asynchronous:
    case stream:
    case round:
    case decimal:
    case sign:
    case encoding: *kind = Ans::character; return true;
    case recl_legacy:
    case nextrec:
    case number:
    case block_size:
    case always_zero:
    case pos:
    case size:
    case recl: *kind = Ans::integer; return true;
    case exist:
    case named:
    case opened:
    case pending: *kind = Ans::logical; return true;
    default: return false;
    }
}

bool is_unsigned(int type) {
    return type == FOR_TYPE_UINT1 || type == FOR_TYPE_UINT2 || type == FOR_TYPE_UINT4 || type == FOR_TYPE_UINT8;
}

// Whether `v` is a value of the variable: a wider result is never cut.
bool fits(int64_t v, int type) {
    const int bits = 8 * for__int_log_width(type);
    if (is_unsigned(type)) return v >= 0 && (bits == 64 || v < (int64_t{1} << bits));
    if (bits == 64) return true;
    const int64_t lim = int64_t{1} << (bits - 1);
    return v >= -lim && v < lim;
}

int64_t largest(int type) {
    const int bits = 8 * for__int_log_width(type) - (is_unsigned(type) ? 0 : 1);
    return bits >= 63 ? INT64_MAX : (int64_t{1} << bits) - 1;
}

// One variable the statement asked to have answered.
struct Target {
    int code;
    Ans kind;
    void *addr;
    int64_t len;  // a character variable's length
    int type;
};

constexpr int max_targets = 96;

struct Inquire_Args {
    std::string_view file;  // FILE=, or the directory specifier's name
    bool by_file = false;
    bool by_dir = false;  // the name is a directory whose existence is asked
    std::string_view default_dir;
    char *iomsg = nullptr;
    uint64_t iomsg_len = 0;
    bool more_than_exist = false;  // anything asked beyond EXIST= (and IOMSG=)
    Target target[max_targets];
    int count = 0;
};

// A character input: a character item, or the address of a NUL-terminated
// string passed as a number.
std::string_view text_of(const For_Item &item) {
    if (item.type == FOR_TYPE_CHARACTER)
        return {static_cast<const char *>(item.addr), static_cast<size_t>(item.length)};
    const char *p = nullptr;
    std::memcpy(&p, item.addr, sizeof p);
    return p ? std::string_view(p) : std::string_view("", 0);
}

// Decodes the specifiers. 0 or msg::invalid_argument (an unknown code, a
// variable of the wrong type); IOMSG= is kept even then, for the message.
int for__inquire_args(const For_Dsc_Lst *keys, const For_Value_List *values, Inquire_Args *a) {
    if (!keys) return 0;
    const For_Dsc_Lst *d = keys;
    const For_Value_List *v = values;
    std::string_view dir;
    bool dir_given = false;
    int status = 0;
    for (;;) {
        For_Item item;
        For_Shape shape;
        int code = 0;
        if (int s = for__key_desc_ret_item(&d, &v, &item, &shape, &code)) return status ? status : s;
        if (item.type == FOR_TYPE_END_STMT) break;
        if (status) {
            if (code == iomsg && item.type == FOR_TYPE_CHARACTER) {
                a->iomsg = static_cast<char *>(item.addr);
                a->iomsg_len = static_cast<uint64_t>(item.length);
            }
            continue;
        }
        switch (code) {
        case file:
            a->file = text_of(item);
            a->by_file = true;
            continue;
        case directory:
            dir = text_of(item);
            dir_given = true;
            continue;
        case default_dir: a->default_dir = text_of(item); continue;
        case iomsg:
            if (item.type != FOR_TYPE_CHARACTER) {
                status = msg::invalid_argument;
                continue;
            }
            a->iomsg = static_cast<char *>(item.addr);
            a->iomsg_len = static_cast<uint64_t>(item.length);
            continue;
        case id:
            // No transfer is ever pending on this library's units, so the
            // identifier only has to be a proper integer.
            if (for__int_log_width(item.type) == 0 || item.type >= FOR_TYPE_LOGICAL4_ALT)
                status = msg::invalid_argument;
            continue;
        default: break;
        }
        Ans kind;
        if (!answer_kind(code, &kind) || a->count == max_targets) {
            status = msg::invalid_argument;
            continue;
        }
        const bool chr = item.type == FOR_TYPE_CHARACTER;
        if ((kind == Ans::character) != chr || (!chr && for__int_log_width(item.type) == 0) || !item.addr) {
            status = msg::invalid_argument;
            continue;
        }
        a->target[a->count++] = Target{code, kind, item.addr, chr ? item.length : 0, item.type};
        if (code != exist) a->more_than_exist = true;
    }
    if (!a->by_file && dir_given) {
        a->file = dir;
        a->by_file = a->by_dir = true;
    }
    return status;
}

// The unit (if any) the inquiry is about, and what it found.
struct Inquiry {
    For_IO_Flags flags;
    For_Lub *lub = nullptr;  // held while the answers are worked out
    bool by_file = false;
    bool exist = false;
    bool name_ok = false;  // a file name was computed (by file)
    std::string name;      // that name
    bool stat_ok = false;
    struct stat st = {};

    bool connected() const { return lub && (lub->lub_flags & lubf::opened); }
    uint64_t fl() const { return lub ? lub->lub_flags : 0; }
    bool formatted() const { return connected() && (fl() & lubf::formatted); }
    // The old answer "UNKNOWN" is "UNDEFINED" under Fortran-90 semantics.
    const char *unknown() const { return has(flags, iof_f90) ? "UNDEFINED" : "UNKNOWN"; }
    bool true_is_one() const { return lub ? (lub->lub_flags & lubf::opt_true_is_one) != 0 : has(flags, iof_opt_e); }
};

// A unit whose descriptor came with the process (standard input, output,
// error) rather than from a file the program named.
bool console_descriptor(const For_Lub *lub) {
    return !(lub->lub_flags & lubf::own_fd) && lub->lub_fd >= 0 && lub->lub_fd <= 2;
}

const char *yes_no(bool b) { return b ? "YES" : "NO"; }

// Where the unit is in its file: the descriptor's offset less what was read
// ahead, plus output still held in the buffer. -1 when unknown.
int64_t position_of(const For_Lub *lub) {
    off_t here = for__logical_pos(lub);
    if (here < 0) return -1;
    int64_t held = 0;
    if ((lub->lub_flags & lubf::held_records) && lub->lub_user_buf) held = lub->lub_user_buf - lub->lub_buf;
    return static_cast<int64_t>(here) + held;
}

// Output the unit holds back goes to the file before its size or position
// is told; inside the holder's own statement the record being built stays.
void write_pending(For_Lub *lub) {
    if (lub->lub_nested == 0 && (lub->lub_flags & lubf::held_records)) for__write_output(lub, nullptr, 0);
}

struct Answer {
    bool given = false;  // false: the variable is left as it is
    std::string_view text;
    int64_t value = 0;
};

Answer text(std::string_view t) { return {true, t, 0}; }
Answer value(int64_t v) { return {true, {}, v}; }

Answer answer_position(const Inquiry &q) {
    const uint64_t fl = q.fl();
    if (!q.connected() || !(fl & lubf::access_seq) || (fl & (lubf::access_direct | lubf::access_keyed)))
        return text("UNDEFINED");
    if (fl & lubf::position_unchanged) return text("ASIS");
    // Once the unit has moved: at its initial point it is rewound, anywhere
    // else it counts as appended to.
    if (fl & lubf::positionable) {
        write_pending(q.lub);
        if (position_of(q.lub) == 0) return text("REWIND");
    }
    return text("APPEND");
}

Answer answer_recl(const Inquiry &q, bool current) {
    if (!q.connected()) return value(current ? -1 : 0);
    const For_Lub *l = q.lub;
    if (l->lub_flags & lubf::access_stream) return value(current ? -2 : INT64_MAX);
    if (l->lub_recl_bytes == 0) return value(static_cast<int64_t>(l->lub_recl));
    uint64_t r = l->lub_recl_bytes;
    if (l->lub_flags & lubf::recl_scaled) r = (r + 3) / 4;
    return value(static_cast<int64_t>(r));
}

Answer answer_size(const Inquiry &q) {
    struct stat st;
    if (q.connected()) {
        write_pending(q.lub);
        if (::fstat(q.lub->lub_fd, &st) != 0 || !S_ISREG(st.st_mode)) return value(-1);
        int64_t n = st.st_size;
        // Inside the holder's statement the held output is not written yet.
        if (q.lub->lub_nested != 0 && (q.lub->lub_flags & lubf::held_records) && q.lub->lub_user_buf)
            n += q.lub->lub_user_buf - q.lub->lub_buf;
        return value(n);
    }
    if (q.stat_ok && S_ISREG(q.st.st_mode)) return value(q.st.st_size);
    return value(-1);
}

Answer answer_convert(const Inquiry &q) {
    if (!q.connected()) return text(q.unknown());
    const For_Lub *l = q.lub;
    if (!(l->lub_flags & lubf::foreign)) return text("NATIVE");
    switch (l->lub_convert) {
    case 0: return text((l->lub_flags & lubf::big_endian) ? "BIG_ENDIAN" : "LITTLE_ENDIAN");
    case 1: return text("VAXG");
    case 2: return text("VAXD");
    case 3: return text("IBM");
    case 4: return text("CRAY");
    case 5: return text("FDX");
    case 6: return text("FGX");
    default: return text(q.unknown());
    }
}

Answer answer_named(const Inquiry &q) {
    if (!q.connected()) return value(q.name_ok);
    const For_Lub *l = q.lub;
    return value(l->lub_file_name && !(l->lub_flags & lubf::scratch) && !console_descriptor(l));
}

Answer answer_name(const Inquiry &q) {
    if (q.connected()) {
        if (!q.lub->lub_file_name) return text("");
        return text(q.lub->lub_file_name);
    }
    if (q.by_file && q.name_ok) return text(q.name);
    // DEFINE FILE names no file yet: the name is blank until the first
    // direct-access statement opens one.
    if (q.lub && (q.lub->lub_flags & lubf::define_file)) return text("");
    return {};
}

// The answer to one specifier.
Answer answer(const Inquiry &q, int code) {
    const bool c = q.connected();
    const uint64_t fl = q.fl();
    const For_Lub *l = q.lub;
    const bool is_stream = fl & lubf::access_stream;
    switch (code) {
    case exist: return value(q.exist);
    case opened: return value(c);
    case named: return answer_named(q);
    case number:
        if (c) return value(l->lub_unit);
        if (has(q.flags, iof_f90)) return value(-1);
        return value(l && !q.by_file ? l->lub_unit : 0);
    case name: return answer_name(q);
    case full_name:
        if (c && l->lub_file_name) return text(l->lub_file_name);
        if (q.name_ok && q.exist) return text(q.name);
        return {};
    case access:
        if (!c) return text(q.unknown());
        if (is_stream) return text("STREAM");
        if (fl & lubf::access_direct) return text("DIRECT");
        if (fl & lubf::access_keyed) return text("KEYED");
        return text("SEQUENTIAL");
    case sequential: return text(c ? yes_no((fl & lubf::access_seq) && !is_stream) : "UNKNOWN");
    case direct: return text(c ? yes_no(fl & lubf::access_direct) : "UNKNOWN");
    case keyed: return text(c ? yes_no(fl & lubf::access_keyed) : "UNKNOWN");
    case stream: return text(c ? yes_no(is_stream) : "UNKNOWN");
    case formatted: return text(c ? yes_no(fl & lubf::formatted) : "UNKNOWN");
    case unformatted: return text(c ? yes_no((fl & lubf::unformatted) && !(fl & lubf::form_binary)) : "UNKNOWN");
    case binary: return text(c ? yes_no(fl & lubf::form_binary) : "UNKNOWN");
    case read: return text(c ? yes_no(!(fl & lubf::write_only)) : "UNKNOWN");
    case write: return text(c ? yes_no(!(fl & lubf::readonly)) : "UNKNOWN");
    case readwrite: return text(c ? yes_no(!(fl & (lubf::readonly | lubf::write_only))) : "UNKNOWN");
    case form:
        if (!c) return text(q.unknown());
        if (fl & lubf::form_binary) return text("BINARY");
        return text((fl & lubf::formatted) ? "FORMATTED" : "UNFORMATTED");
    case blank:
        if (!q.formatted()) return text(q.unknown());
        return text((fl & lubf::blank_null) ? "NULL" : "ZERO");
    case carriagecontrol:
        if (c && l->lub_carriage_control >= 1 && l->lub_carriage_control <= 3) {
            static const char *const cc[] = {"FORTRAN", "LIST", "NONE"};
            return text(cc[l->lub_carriage_control - 1]);
        }
        return text((l ? (fl & lubf::opt_compat) != 0 : has(q.flags, iof_opt_c)) ? "UNDEFINED" : "UNKNOWN");
    case organization:
        if (!c) return text(q.unknown());
        return text(l->lub_organization == 2 ? "RELATIVE" : l->lub_organization == 3 ? "INDEXED" : "SEQUENTIAL");
    case recordtype: {
        if (!c) return text(q.unknown());
        static const char *const rt[] = {nullptr,  "FIXED",     "VARIABLE",  "SEGMENTED",  "VARIABLE",
                                         "STREAM", "STREAM_LF", "STREAM_CR", "STREAM_CRLF"};
        const unsigned t = l->lub_record_type;
        return text(t >= 1 && t <= 8 ? rt[t] : q.unknown());
    }
    case action:
    case mode:
        if (!c) return text(code == action ? "UNDEFINED" : q.unknown());
        if (fl & lubf::readonly) return text("READ");
        return text((fl & lubf::write_only) ? "WRITE" : "READWRITE");
    case delim:
        if (!q.formatted()) return text("UNDEFINED");
        return text(l->lub_delim == '\'' ? "APOSTROPHE" : l->lub_delim == '"' ? "QUOTE" : "NONE");
    case pad:
        if (c && !(fl & lubf::formatted)) return text("UNDEFINED");
        return text(!c || (fl & lubf::pad) ? "YES" : "NO");
    case position: return answer_position(q);
    case round: {
        if (!q.formatted()) return text("UNDEFINED");
        static const char *const r[] = {"PROCESSOR_DEFINED", "UP", "DOWN", "ZERO", "NEAREST", "COMPATIBLE",
                                        "PROCESSOR_DEFINED"};
        return text(l->lub_round <= 6 ? r[l->lub_round] : "PROCESSOR_DEFINED");
    }
    case decimal:
        if (!q.formatted()) return text("UNDEFINED");
        return text(l->lub_decimal == FOR_DECIMAL_COMMA ? "COMMA" : "POINT");
    case sign:
        if (!q.formatted()) return text("UNDEFINED");
        return text(l->lub_sign == FOR_SIGN_PLUS       ? "PLUS"
                    : l->lub_sign == FOR_SIGN_SUPPRESS ? "SUPPRESS"
                                                       : "PROCESSOR_DEFINED");
    case encoding:
        if (c && !(fl & lubf::formatted)) return text("UNDEFINED");
        return text(c && l->lub_encoding == 2 ? "UTF-8" : "UNKNOWN");
    case asynchronous:
        if (!c) return text("UNDEFINED");
        return text(yes_no(l->lub_aio != nullptr));
    case buffered:
        if (!c) return text(q.unknown());
        return text(yes_no(fl & lubf::output_buffered));
    case share:
        if (!c) return text(q.unknown());
        switch (l->lub_share_mode) {
        case 4: return text("DENYNONE");
        case 8: return text("DENYRD");
        case 16: return text("DENYRW");
        case 32: return text("DENYWR");
        default: return text("NODENY");
        }
    case convert: return answer_convert(q);
    case recl_legacy: return answer_recl(q, false);
    case recl: return answer_recl(q, true);
    case nextrec: return value(c && (fl & lubf::access_direct) ? static_cast<int64_t>(l->lub_record_number) : 0);
    case pos:
        if (!c || !is_stream) return value(0);
        write_pending(q.lub);
        if (int64_t p = position_of(l); p >= 0) return value(p + 1);
        return value(0);
    case size: return answer_size(q);
    case block_size: return value(c ? static_cast<int64_t>(l->lub_block_size) : 0);
    case always_zero: return value(0);
    case pending: return value(false);  // no transfer of this library is ever left pending
    default: return {};
    }
}

void store_int(void *addr, int type, int64_t v) {
    switch (for__int_log_width(type)) {
    case 1: {
        int8_t x = static_cast<int8_t>(v);
        std::memcpy(addr, &x, 1);
        break;
    }
    case 2: {
        int16_t x = static_cast<int16_t>(v);
        std::memcpy(addr, &x, 2);
        break;
    }
    case 4: {
        int32_t x = static_cast<int32_t>(v);
        std::memcpy(addr, &x, 4);
        break;
    }
    default: std::memcpy(addr, &v, 8); break;
    }
}

// Character assignment: cut at the variable's length, blank-padded.
void store_text(const Target &t, std::string_view s) {
    const size_t len = static_cast<size_t>(t.len);
    const size_t n = s.size() < len ? s.size() : len;
    std::memcpy(t.addr, s.data(), n);
    std::memset(static_cast<char *>(t.addr) + n, ' ', len - n);
}

// Works every answer out first; stores them only when all fit.
int answer_all(const Inquire_Args &a, const Inquiry &q) {
    Answer ans[max_targets];
    for (int i = 0; i < a.count; ++i) {
        const Target &t = a.target[i];
        ans[i] = answer(q, t.code);
        if (!ans[i].given || t.kind != Ans::integer || fits(ans[i].value, t.type)) continue;
        // A size the variable cannot hold cannot be told: the standard's
        // "size unknown". An unlimited record length is the variable's
        // largest value. Any other value too wide fails the statement.
        if (t.code == size)
            ans[i].value = -1;
        else if (t.code == recl_legacy && ans[i].value == INT64_MAX)
            ans[i].value = largest(t.type);
        if (!fits(ans[i].value, t.type)) return msg::integer_assignment_overflow;
    }
    const int64_t true_value = q.true_is_one() ? 1 : -1;
    for (int i = 0; i < a.count; ++i) {
        const Target &t = a.target[i];
        if (!ans[i].given) continue;
        if (t.kind == Ans::character)
            store_text(t, ans[i].text);
        else if (t.kind == Ans::logical)
            store_int(t.addr, t.type, ans[i].value ? true_value : 0);
        else
            store_int(t.addr, t.type, ans[i].value);
    }
    return 0;
}

// A block that carries the statement's options for the name computation of
// an inquiry by file, as OPEN would have them; it never enters the table.
struct Scratch_Lub {
    alignas(For_Lub) unsigned char raw[sizeof(For_Lub)];
    For_Lub *lub;
    Scratch_Lub() {
        std::memset(raw, 0, sizeof raw);
        lub = new (raw) For_Lub;
        lub->lub_fd = -1;
    }
    ~Scratch_Lub() { lub->~For_Lub(); }
};

// Same object on disk, or (when the name leads nowhere now: a file removed
// after it was connected) the same name.
bool unit_is_file(const For_Lub *b, const Inquiry &q) {
    if (!(b->lub_flags & lubf::opened)) return false;
    if (q.stat_ok) return b->lub_dev == q.st.st_dev && b->lub_ino == q.st.st_ino && !console_descriptor(b);
    return b->lub_file_name && q.name == b->lub_file_name;
}

// Finds the file: its name as OPEN would compute it, whether it exists,
// and the unit connected to it, held.
int find_file(const Inquire_Args &a, Inquiry *q) {
    Scratch_Lub scratch;
    for__merge_statement_options(scratch.lub, q->flags);
    // An inquiry never takes a name from the command line or asks for one:
    // a blank name is a file that does not exist.
    scratch.lub->lub_stmt_flags &= ~lubs::name_from_cmdline;
    For_Open_Args oa;
    oa.file = a.file.data() ? a.file : std::string_view("", 0);
    oa.default_dir = a.default_dir;
    int fd = -1;
    if (for__compute_filename(scratch.lub, oa, &q->name, &fd) != 0 || fd >= 0) {
        if (fd > 2) ::close(fd);
        q->name.clear();
        return 0;
    }
    for__lub_free_owned(scratch.lub);
    q->name_ok = true;
    q->stat_ok = ::stat(q->name.c_str(), &q->st) == 0;
    if (!a.by_dir && a.more_than_exist) {
        For_Lub *b = nullptr;
        int index = -1;
        for (;;) {
            int s = for__get_next_lub(&b, &index, FOR_OP_INQUIRE);
            if (index == -1) break;
            if (s == 0 && b && unit_is_file(b, *q)) {
                q->lub = b;
                // The rest of the walk is not needed; the iteration holds
                // nothing beyond the unit it returned.
                break;
            }
            if (b) for__release_lub(b);
        }
    }
    if (q->lub)
        q->exist = true;
    else if (q->stat_ok)
        q->exist = a.by_dir == S_ISDIR(q->st.st_mode);
    return 0;
}

int fail(const Inquire_Args &a, int unit, For_IO_Flags f, int status) {
    return for__fail_unacquired(unit, f, a.iomsg, a.iomsg_len, status);
}

}  // namespace

VORLIX_API int for_inquire(For_Context *ctx, int unit, For_IO_Flags flags, const For_Dsc_Lst *keys,
                           const For_Value_List *values) {
    const For_IO_Flags f = for__effective_flags(flags);
    Inquire_Args a;
    if (int s = for__inquire_args(keys, values, &a)) return fail(a, a.by_file ? 0 : unit, f, s);
    Inquiry q;
    q.flags = f;
    q.by_file = a.by_file;
    if (a.by_file) {
        find_file(a, &q);
    } else if (unit == FOR_UNIT_INTERNAL || unit == FOR_UNIT_INTERNAL_TOP) {
        // Only the innermost internal file of a running child statement
        // is a file at all; the default units never are.
        const For_Lub *top = for__thread_storage().ifile_top;
        const bool a_file = unit == FOR_UNIT_INTERNAL_TOP && top && top->lub_udio_depth != 0;
        return fail(a, unit, f, a_file ? msg::inquire_internal_unit_file : msg::inquire_internal_unit_no_file);
    } else {
        For_Lub *lub = nullptr;
        int s = for__acquire_lun(unit, &lub, ctx, FOR_OP_INQUIRE);
        if (s != 0 && s != msg::invalid_unit) return fail(a, unit, f, s);
        if (s == 0) {
            q.lub = lub;
            q.exist = true;
            const bool console = lub->lub_flags & lubf::preconnected;
            if (console && lub->lub_nested == 0) {
                // An inquiry connects an unopened console unit as a transfer
                // would, unless a variable redirects it to a file.
                for__merge_statement_options(lub, f);
                if (int e = for__open_default(lub, -1, -1, -1)) {
                    for__release_lub(lub);
                    return fail(a, unit, f, e);
                }
            }
        }
    }
    const int s = answer_all(a, q);
    const int reported_unit = q.lub ? q.lub->lub_unit : a.by_file ? 0 : unit;
    if (q.lub) for__release_lub(q.lub);
    if (ctx) ctx->lub = nullptr;
    if (s != 0) return fail(a, reported_unit, f, s);
    return 0;
}
