// The OPEN statement: keyword decoding, NEWUNIT=, re-OPEN of a connected
// unit, the implicit OPEN of data transfer statements, DEFINE FILE and the
// connection of a descriptor the program already has.
#include "units/for_open.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include <vorlix/io.h>

#include "diag/for_diag.h"
#include "diag/for_msgnum.h"
#include "io/for_desc_item.h"
#include "io/for_flags.h"
#include "io/for_stmt.h"
#include "runtime/for_vm.h"
#include "units/for_convert_choice.h"
#include "units/for_lub_mgt.h"
#include "units/for_open_key.h"

namespace {

bool has(For_IO_Flags f, For_IO_Flags bit) { return (f & bit) != 0; }

// Stores the value of a keyword given as a number or a table value.
using Store = void (*)(For_Open_Args &, uint64_t);

// How a keyword code's value is stored; null for the codes that take no
// value this way (the character values, NEWUNIT=, ASSOCIATEVARIABLE=) and
// for the codes OPEN does not take.
Store store_of(int code) {
    using A = For_Open_Args;
    switch (code) {
    case FOR_KEY_ACCESS: return [](A &a, uint64_t v) { a.access = v; };
    case FOR_KEY_ASSOCIATEVARIABLE_TYPE: return [](A &a, uint64_t v) { a.assoc_kind = static_cast<uint8_t>(v); };
    case FOR_KEY_BLANK: return [](A &a, uint64_t v) { a.blank = v; };
    case FOR_KEY_BLOCKSIZE: return [](A &a, uint64_t v) { a.block_size = v; };
    case FOR_KEY_BUFFERCOUNT: return [](A &a, uint64_t v) { a.buffer_count = static_cast<int64_t>(v); };
    case FOR_KEY_CARRIAGECONTROL: return [](A &a, uint64_t v) { a.carriage = v; };
    case FOR_KEY_CONVERT: return [](A &a, uint64_t v) { a.convert = v; };
    case FOR_KEY_DISPOSE: return [](A &a, uint64_t v) { a.dispose = v; };
    case FOR_KEY_FORM: return [](A &a, uint64_t v) { a.form = v; };
    case FOR_KEY_MAXREC: return [](A &a, uint64_t v) { a.maxrec = v; };
    case FOR_KEY_ORGANIZATION: return [](A &a, uint64_t v) { a.organization = v; };
    case FOR_KEY_READONLY: return [](A &a, uint64_t v) { a.readonly = v != 0; };
    case FOR_KEY_RECL: return [](A &a, uint64_t v) { a.recl = v; };
    case FOR_KEY_RECL_BYTES:
        return [](A &a, uint64_t v) {
            a.recl = v;
            a.recl_bytes = true;
        };
    case FOR_KEY_RECORDTYPE: return [](A &a, uint64_t v) { a.recordtype = v; };
    case FOR_KEY_NOSHARED: return [](A &a, uint64_t v) { a.noshared = v != 0; };
    case FOR_KEY_SHARED: return [](A &a, uint64_t v) { a.shared = v != 0; };
    case FOR_KEY_STATUS: return [](A &a, uint64_t v) { a.status = v; };
    case FOR_KEY_USEROPEN: return [](A &a, uint64_t v) { a.useropen = reinterpret_cast<For_User_Open>(v); };
    case FOR_KEY_ACTION: return [](A &a, uint64_t v) { a.action = v; };
    case FOR_KEY_DELIM: return [](A &a, uint64_t v) { a.delim = v; };
    case FOR_KEY_PAD: return [](A &a, uint64_t v) { a.pad = v; };
    case FOR_KEY_POSITION: return [](A &a, uint64_t v) { a.position = v; };
    case FOR_KEY_MODE: return [](A &a, uint64_t v) { a.mode = v; };
    case FOR_KEY_SHARE: return [](A &a, uint64_t v) { a.share = v; };
    case FOR_KEY_BUFFERED: return [](A &a, uint64_t v) { a.buffered = v; };
    case FOR_KEY_ASYNCHRONOUS: return [](A &a, uint64_t v) { a.asynchronous = v; };
    case FOR_KEY_ROUND: return [](A &a, uint64_t v) { a.round = v; };
    case FOR_KEY_DECIMAL: return [](A &a, uint64_t v) { a.decimal = v; };
    case FOR_KEY_SIGN: return [](A &a, uint64_t v) { a.sign = v; };
    case FOR_KEY_ENCODING: return [](A &a, uint64_t v) { a.encoding = v; };
    default: return nullptr;
    }
}

// Code 69 is a character value OPEN accepts and ignores.
bool is_text_code(int code) {
    return code == FOR_KEY_DEFAULTFILE || code == FOR_KEY_FILE || code == FOR_KEY_NAME || code == 69 ||
           code == FOR_KEY_IOMSG;
}

// Whether OPEN takes the code at all (the ignored code 69 does not count).
bool takes_code(int code) {
    return store_of(code) || code == FOR_KEY_DEFAULTFILE || code == FOR_KEY_FILE || code == FOR_KEY_NAME ||
           code == FOR_KEY_IOMSG || code == FOR_KEY_NEWUNIT || code == FOR_KEY_ASSOCIATEVARIABLE;
}

// The character values OPEN keeps, by address and length.
void set_text(For_Open_Args *args, int code, const char *p, size_t n) {
    switch (code) {
    case FOR_KEY_DEFAULTFILE: args->default_dir = std::string_view(p, n); break;
    case FOR_KEY_FILE:
    case FOR_KEY_NAME: args->file = std::string_view(p, n); break;
    case FOR_KEY_IOMSG: args->iomsg = std::span<char>(const_cast<char *>(p), n); break;
    default: break;
    }
}

// A keyword found wrong before IOMSG= was read still owes its text there.
void find_iomsg(const For_Dsc_Lst *d, const For_Value_List *v, For_Open_Args *args) {
    for (;;) {
        For_Item item;
        For_Shape shape;
        int code = 0;
        if (for__key_desc_ret_item(&d, &v, &item, &shape, &code) != 0) return;
        if (item.type == FOR_TYPE_END_STMT || item.type == FOR_TYPE_END_GROUP) return;
        if (code == FOR_KEY_IOMSG && item.type == FOR_TYPE_CHARACTER) {
            set_text(args, code, static_cast<const char *>(item.addr), static_cast<size_t>(item.length));
            return;
        }
    }
}

}  // namespace

int for__open_args(const For_Dsc_Lst *keys, const For_Value_List *values, For_Open_Args *args) {
    *args = For_Open_Args{};
    if (!keys) return 0;
    const For_Dsc_Lst *d = keys;
    const For_Value_List *v = values;
    for (;;) {
        For_Item item;
        For_Shape shape;
        int code = 0;
        if (int s = for__key_desc_ret_item(&d, &v, &item, &shape, &code)) return s;
        if (item.type == FOR_TYPE_END_STMT) return 0;
        if (code < 2 || code > 87) return msg::invalid_argument;
        const bool taken = takes_code(code);
        if (item.type == FOR_TYPE_CHARACTER) {
            if (is_text_code(code)) {
                if (!taken) continue;  // stored by nobody
                set_text(args, code, static_cast<const char *>(item.addr), static_cast<size_t>(item.length));
                continue;
            }
            if (!taken) return msg::invalid_argument;
            uint64_t value = 0;
            std::string_view text(static_cast<const char *>(item.addr), static_cast<size_t>(item.length));
            int s = for__open_key(text, code, &value, For_Key_Stmt::open);
            if (s != 0) {
                if (!args->iomsg.data()) find_iomsg(d, v, args);
                return s;
            }
            // Only a code with a value table gets here: it is stored by value.
            store_of(code)(*args, value);
            continue;
        }
        if (!taken) return msg::invalid_argument;
        if (code == FOR_KEY_NEWUNIT) {
            // The variable itself, and its kind: the number goes there.
            args->newunit = item.addr;
            args->newunit_kind = static_cast<uint64_t>(item.type);
            continue;
        }
        int64_t value = 0;
        if (item.type == FOR_TYPE_LOGICAL4 || item.type == FOR_TYPE_LOGICAL1 || item.type == FOR_TYPE_LOGICAL2 ||
            item.type == FOR_TYPE_LOGICAL8 || item.type == FOR_TYPE_LOGICAL4_ALT) {
            std::memcpy(&value, item.addr, static_cast<size_t>(item.length < 8 ? item.length : 8));
        } else if (!for__item_int(item, &value)) {
            std::memcpy(&value, item.addr, 8);
        }
        if (is_text_code(code)) {
            // A character value passed by the address of a NUL-terminated string.
            const char *p = reinterpret_cast<const char *>(value);
            set_text(args, code, p, p ? std::strlen(p) : 0);
            continue;
        }
        if (code == FOR_KEY_ASSOCIATEVARIABLE) {
            args->assoc_var = item.addr;
            args->assoc_kind = static_cast<uint8_t>(item.type);
            continue;
        }
        if (code == FOR_KEY_CONVERT && value == 0) value = 9;
        store_of(code)(*args, static_cast<uint64_t>(value));
    }
}

void for__merge_statement_options(For_Lub *lub, For_IO_Flags flags) {
    For_IO_Flags f = for__effective_flags(flags);
    uint64_t opt = 0;
    if (has(f, iof_opt_a)) opt |= lubf::opt_eof_records;
    if (has(f, iof_f90)) opt |= lubf::opt_f90;
    if (has(f, iof_opt_c)) opt |= lubf::opt_compat | lubf::opt_specific_msgs;
    if (has(f, iof_opt_d)) opt |= lubf::opt_no_char_blank;
    if (has(f, iof_opt_e)) opt |= lubf::opt_true_is_one;
    if (has(f, iof_ldio_ms)) opt |= lubf::opt_alt_list | lubf::opt_uf_compat_layout;
    if (has(f, iof_hi_opt_a)) opt |= lubf::opt_hi_a;
    if (has(f, VORLIX_IOF(34))) opt |= uint64_t{1} << lubf::opt_console_cc_shift;
    if (has(f, VORLIX_IOF(35))) opt |= uint64_t{2} << lubf::opt_console_cc_shift;
    lub->lub_flags = (lub->lub_flags & ~lubf::options) | opt;
    uint64_t st = 0;
    if (has(f, iof_opt_c)) st |= lubs::compat;
    if (has(f, iof_name_cmdline)) st |= lubs::name_from_cmdline;
    if (has(f, iof_hi_buffered)) st |= lubs::buffered_default;
    if (has(f, iof_compact_int)) st |= lubs::compact_int;
    if (has(f, iof_hi_41)) st |= lubs::carried_iof41;
    if (has(f, iof_no_wrap_margin)) st |= lubs::no_wrap_margin;
    lub->lub_stmt_flags =
        (lub->lub_stmt_flags & ~(lubs::compat | lubs::name_from_cmdline | lubs::buffered_default)) | st;
}

namespace {

// Which console units a variable redirects, and the direction of each.
int console_defaults(For_Lub *lub, For_Open_Args *args, int access) {
    const int unit = lub->lub_unit;
    const bool from_cmdline_only =
        (lub->lub_stmt_flags & lubs::name_from_cmdline) && !(lub->lub_flags & lubf::opt_eof_records);
    const char *var = nullptr;
    switch (unit) {
    case -4: var = "FOR_READ"; break;
    case -3: var = "FOR_ACCEPT"; break;
    case -2: var = "FOR_TYPE"; break;
    case -1: var = "FOR_PRINT"; break;
    default: break;
    }
    if (var && !from_cmdline_only) {
        const char *v = std::getenv(var);
        if (v && *v) {
            lub->lub_flags = (lub->lub_flags & ~lubf::preconnected) | lubf::preconnected_env;
            return access == -1 ? 1 : 0;
        }
    }
    switch (unit) {
    case -4:
    case -3:
    case 5:
        args->action = 1;
        args->status = 1;
        break;
    case -2:
    case -1:
    case 6:
        args->action = 3;
        args->status = 4;
        break;
    case 0: args->status = 4; break;
    default: for__issue_diagnostic(msg::internal_error, 2, "for_open", __LINE__); return 0;
    }
    args->access = 1;
    args->form = 1;
    return 2;
}

}  // namespace

int for__open_default(For_Lub *lub, int access, int status, int form) {
    For_Open_Args args{};
    bool console = lub->lub_flags & lubf::preconnected;
    if (console) {
        int r = console_defaults(lub, &args, access);
        if (r == 1) return 0;  // an inquiry: redirected units stay as they are
        if (r == 0 && access == -1) return 0;
        if (r == 0) console = false;
    } else if (access == -1) {
        return 0;
    }
    if (!console) {
        args.access = static_cast<uint64_t>(access);
        args.status = static_cast<uint64_t>(status);
        args.form = static_cast<uint64_t>(form);
    }
    if (lub->lub_flags & lubf::define_file) {
        // DEFINE FILE's record length is in bytes already: never scaled.
        args.recl = lub->lub_recl;
        args.recl_bytes = true;
        args.maxrec = lub->lub_maxrec;
        args.assoc_var = lub->lub_assoc_var;
        args.assoc_kind = lub->lub_assoc_kind;
    }
    args.implicit = true;
    if (args.form == 1) {
        // A formatted connection keeps the settings the unit remembers.
        args.delim = lub->lub_delim == '"' ? 3 : lub->lub_delim == '\'' ? 1 : 0;
        args.blank = (lub->lub_flags & lubf::blank_null) ? 2 : 0;
        args.pad = (lub->lub_flags & (lubf::pad | lubf::opt_f90)) ? 2 : 1;
        args.round = lub->lub_round;
        args.decimal = lub->lub_decimal;
        args.sign = lub->lub_sign;
        args.encoding = lub->lub_encoding;
    }
    return for__open_proc(args, lub);
}

namespace {

// A keyword error comes before the name is computed; the message names
// the FILE= the statement gave, which is the file the program meant.
void name_for_message(For_Lub *lub, const For_Open_Args &args) {
    if (lub->lub_file_name || !args.has_file()) return;
    std::string_view file(args.file.data(), args.file.size());
    while (!file.empty() && file.back() == ' ') file.remove_suffix(1);
    void *copy = nullptr;
    if (file.empty() || for__get_vm(static_cast<int64_t>(file.size() + 1), 0, &copy) != 0) return;
    std::memcpy(copy, file.data(), file.size());
    static_cast<char *>(copy)[file.size()] = '\0';
    lub->lub_file_name = static_cast<char *>(copy);
    lub->lub_file_name_len = static_cast<int16_t>(file.size() > INT16_MAX ? INT16_MAX : file.size());
}

int open_failed_early(int unit, For_IO_Flags f, const For_Open_Args &args, int status) {
    return for__fail_unacquired(unit, f, args.iomsg.data(), args.iomsg.size(), status);
}

bool store_newunit(const For_Open_Args &args, int unit) {
    void *p = args.newunit;
    switch (args.newunit_kind) {
    case FOR_TYPE_INT1: *static_cast<int8_t *>(p) = static_cast<int8_t>(unit); return true;
    case FOR_TYPE_INT2: *static_cast<int16_t *>(p) = static_cast<int16_t>(unit); return true;
    case FOR_TYPE_INT4: *static_cast<int32_t *>(p) = unit; return true;
    case FOR_TYPE_INT8: *static_cast<int64_t *>(p) = unit; return true;
    default: return false;
    }
}

// A re-OPEN names the same file when it is the same object on disk,
// whatever the spelling.
bool same_file(const For_Lub *lub, const std::string &name) {
    struct stat st;
    if (::stat(name.c_str(), &st) != 0) return false;
    return st.st_dev == lub->lub_dev && st.st_ino == lub->lub_ino;
}

int bad_spec(For_Lub *lub, int msg, const char *specifier) {
    lub->lub_bad_spec = specifier;
    return msg;
}

// The keywords of a re-OPEN of the same file: each must agree with the
// connection, except the modes, which it changes. Modes it does not name
// stay as they are.
int update_reopen(const For_Open_Args &args, For_Lub *lub) {
    uint64_t fl = lub->lub_flags;
    if (args.blank) {
        if (args.blank > 2) return msg::illegal_blank_value;
        fl = args.blank == 2 ? fl | lubf::blank_null : fl & ~lubf::blank_null;
    }
    if (args.delim) {
        if (args.delim > 3) return msg::illegal_delim_value;
        lub->lub_delim = args.delim == 1 ? '\'' : args.delim == 3 ? '"' : 0;
    }
    if (args.pad) {
        if (args.pad > 2) return msg::illegal_pad_value;
        fl = args.pad == 2 ? fl | lubf::pad : fl & ~lubf::pad;
    }
    switch (args.access) {
    case 0: break;
    case 1:
        if (!(fl & lubf::access_seq) || (fl & lubf::access_stream))
            return bad_spec(lub, msg::incorrect_specifier_value, "ACCESS=");
        break;
    case 2:
        if (!(fl & lubf::access_direct)) return bad_spec(lub, msg::incorrect_specifier_value, "ACCESS=");
        break;
    case 4:
        if (!(fl & lubf::access_keyed)) return bad_spec(lub, msg::incorrect_specifier_value, "ACCESS=");
        break;
    case 5:
        if (!(fl & lubf::access_stream)) return bad_spec(lub, msg::incorrect_specifier_value, "ACCESS=");
        break;
    default: return bad_spec(lub, msg::incorrect_specifier_value, "ACCESS=");
    }
    for (auto [value, specifier] : {std::pair{args.action, "ACTION="}, std::pair{args.mode, "MODE="}}) {
        switch (value) {
        case 0: break;
        case 1:
            if (!(fl & lubf::readonly)) return bad_spec(lub, msg::incorrect_specifier_value, specifier);
            break;
        case 2:
            if (fl & (lubf::readonly | lubf::write_only))
                return bad_spec(lub, msg::incorrect_specifier_value, specifier);
            break;
        case 3:
            if (!(fl & lubf::write_only)) return bad_spec(lub, msg::incorrect_specifier_value, specifier);
            break;
        default: return bad_spec(lub, msg::incorrect_specifier_value, specifier);
        }
    }
    switch (args.form) {
    case 0: break;
    case 1:
        if (!(fl & lubf::formatted)) return bad_spec(lub, msg::incorrect_specifier_value, "FORM=");
        break;
    case 2:
        if (!(fl & lubf::unformatted) && !(fl & lubf::opt_uf_compat_layout))
            return bad_spec(lub, msg::incorrect_specifier_value, "FORM=");
        break;
    default:
        if (!(fl & lubf::form_binary)) return bad_spec(lub, msg::incorrect_specifier_value, "FORM=");
        break;
    }
    if (args.recl && args.recl != lub->lub_recl) return bad_spec(lub, msg::incorrect_specifier_value, "RECL=");
    if (args.maxrec && args.maxrec != lub->lub_maxrec) return bad_spec(lub, msg::incorrect_specifier_value, "MAXREC=");
    if (args.status == 2 || args.status == 5) return bad_spec(lub, msg::incorrect_specifier_value, "STATUS=");
    if (args.status == 3 && !(fl & lubf::scratch)) return bad_spec(lub, msg::incorrect_specifier_value, "STATUS=");
    if (args.readonly && !(fl & lubf::readonly)) return bad_spec(lub, msg::incorrect_specifier, "READONLY");
    if (args.position == 1 || args.position == 3) {
        if (fl & (lubf::access_direct | lubf::access_keyed)) return msg::inconsistent_open_close;
        off_t cur = (fl & lubf::positionable) ? ::lseek(lub->lub_fd, 0, SEEK_CUR) : 0;
        off_t want = 0;
        if (args.position == 1 && (fl & lubf::positionable)) {
            want = ::lseek(lub->lub_fd, 0, SEEK_END);
            ::lseek(lub->lub_fd, cur, SEEK_SET);
        }
        if (cur < 0 || want < 0) {
            lub->lub_errno = static_cast<uint64_t>(errno);
            return msg::needs_seek;
        }
        if (cur != want) return bad_spec(lub, msg::incorrect_specifier_value, "POSITION=");
    }
    // The data of the file stays in the representation it was connected
    // with unless the statement or the environment names another.
    For_Conversion conv = For_Conversion::of(lub);
    if (!(fl & lubf::formatted)) {
        std::string_view name = lub->lub_file_name ? std::string_view(lub->lub_file_name) : std::string_view{};
        if (int s = for__set_foreign_bits(&conv, args, lub->lub_unit, name)) return s;
    }
    lub->lub_flags = fl;
    conv.store(lub);
    if (args.round) lub->lub_round = static_cast<uint8_t>(args.round);
    if (args.decimal) lub->lub_decimal = static_cast<uint8_t>(args.decimal);
    if (args.sign) lub->lub_sign = static_cast<uint8_t>(args.sign);
    if (args.encoding) lub->lub_encoding = static_cast<uint8_t>(args.encoding);
    return 0;
}

// A unit about to be connected starts from the representation the
// program was compiled for (none unless the flag word carries one).
void start_conversion(For_Lub *lub, For_IO_Flags f) {
    For_Conversion c;
    if (!for__compiled_conversion(f, &c)) c = For_Conversion{};
    c.store(lub);
}

int reopen(For_Open_Args *args, For_Lub *lub, For_IO_Flags f) {
    std::string name;
    int fd = -1;
    bool same = true;
    // The name is a string (see for__open_proc): without memory for it the
    // re-OPEN fails and the connection stays as it was.
    try {
        if (args->has_file() && args->status != 3) {
            if (int s = for__compute_filename(lub, *args, &name, &fd)) return s;
        }
        same = name.empty() || same_file(lub, name);
    } catch (const std::bad_alloc &) {
        return msg::no_memory;
    }
    if (same) return update_reopen(*args, lub);
    // Another file: the old connection goes, and the statement is a new OPEN.
    uint64_t keep = lub->lub_flags & lubf::options;
    uint64_t keep_stmt = lub->lub_stmt_flags;
    For_Context *ctx = lub->lub_ctx;
    char *iomsg = lub->lub_stmt.iomsg_addr;
    uint64_t iomsg_len = lub->lub_stmt.iomsg_len;
    if (int s = for__close_proc(nullptr, lub, false)) return s;
    lub->lub_flags |= keep;
    lub->lub_stmt_flags = keep_stmt;
    lub->lub_ctx = ctx;
    lub->lub_stmt.iomsg_addr = iomsg;
    lub->lub_stmt.iomsg_len = iomsg_len;
    start_conversion(lub, f);
    return for__open_proc(*args, lub);
}

}  // namespace

VORLIX_API int for_open(For_Context *ctx, int unit, For_IO_Flags flags, const For_Dsc_Lst *keys,
                        const For_Value_List *values) {
    For_IO_Flags f = for__effective_flags(flags);
    For_Open_Args args;
    const int key_status = for__open_args(keys, values, &args);
    int op = FOR_OP_FDOPEN;
    bool newunit = args.newunit != nullptr;
    if (newunit) {
        switch (args.newunit_kind) {
        case FOR_TYPE_INT1:
        case FOR_TYPE_INT2:
        case FOR_TYPE_INT4:
        case FOR_TYPE_INT8: break;
        default:
            // Refused before anything is connected or any number taken.
            return open_failed_early(unit, f, args, msg::invalid_argument);
        }
        int s = for__get_free_newunit(&unit, args.newunit_kind == FOR_TYPE_INT1 ? 5 : 0);
        if (s == 0 && !args.has_file() && args.status != 3) s = msg::newunit_needs_file;
        if (s != 0) {
            if (s != msg::integer_assignment_overflow) for__release_newunit(unit);
            return open_failed_early(unit, f, args, s);
        }
        op = FOR_OP_FDOPEN_NEWUNIT;
    }
    For_Lub *lub = nullptr;
    if (int s = for__acquire_lun(unit, &lub, ctx, op)) {
        if (newunit) for__release_newunit(unit);
        return open_failed_early(unit, f, args, s);
    }
    for__merge_statement_options(lub, f);
    if (!(lub->lub_flags & lubf::opened)) start_conversion(lub, f);
    lub->lub_flags &= ~(lubf::stmt_err | lubf::stmt_end | lubf::stmt_eor);
    if (has(f, iof_err)) lub->lub_flags |= lubf::stmt_err;
    if (has(f, iof_end)) lub->lub_flags |= lubf::stmt_end;
    lub->lub_stmt_flags &= ~lubs::iostat;
    if (has(f, iof_iostat)) lub->lub_stmt_flags |= lubs::iostat;
    lub->lub_stmt.iomsg_addr = args.iomsg.data();
    lub->lub_stmt.iomsg_len = args.iomsg.size();

    auto failed = [&](int s, int disposition) {
        if (newunit) for__release_newunit(unit);
        return for__io_return(disposition, s, for__iostat_of(s), lub);
    };
    if (lub->lub_udio_depth != 0) return failed(msg::open_in_child_io, 1);
    if ((lub->lub_flags & lubf::define_file) && !(lub->lub_flags & lubf::opened))
        return failed(msg::duplicate_file_spec, 1);
    if (key_status != 0) {
        if (!(lub->lub_flags & lubf::opened)) name_for_message(lub, args);
        return failed(key_status, (lub->lub_flags & lubf::opened) ? 1 : 2);
    }

    int s;
    if (lub->lub_flags & lubf::opened) {
        s = reopen(&args, lub, f);
        // A re-OPEN that had already let the old file go leaves a block that
        // names only the file it failed on: reset once the failure is told.
        if (s != 0) return failed(s, (lub->lub_flags & lubf::opened) ? 1 : 2);
    } else {
        s = for__open_proc(args, lub);
        if (s != 0) return failed(s, 2);
    }
    lub->lub_flags &= ~(lubf::stmt_err | lubf::stmt_end | lubf::eof);
    lub->lub_stmt_flags &= ~lubs::iostat;
    lub->lub_stmt.iomsg_addr = nullptr;
    lub->lub_stmt.iomsg_len = 0;
    for__release_lub(lub);
    if (newunit) store_newunit(args, unit);
    return 0;
}

VORLIX_API int for_define_file(For_Context *ctx, int unit, For_IO_Flags flags, int maxrec, int recl, void *assoc_var,
                               int assoc_kind) {
    For_IO_Flags f = for__effective_flags(flags);
    For_Lub *lub = nullptr;
    if (int s = for__acquire_lun(unit, &lub, ctx, FOR_OP_DEFINE_FILE)) {
        if (has(f, iof_err) || has(f, iof_iostat)) return s;
        for__issue_diagnostic(s, 2, unit, "unknown");
        return s;
    }
    lub->lub_flags &= ~(lubf::stmt_err | lubf::stmt_end);
    if (has(f, iof_err)) lub->lub_flags |= lubf::stmt_err;
    if (has(f, iof_iostat)) lub->lub_stmt_flags |= lubs::iostat;
    if (has(f, iof_opt_a)) lub->lub_flags |= 1;
    int s = 0;
    if (lub->lub_flags & lubf::opened)
        s = msg::unit_already_open;
    else if (lub->lub_flags & lubf::define_file)
        s = msg::duplicate_file_spec;
    else if (maxrec < 1)
        s = msg::rec_out_of_range;
    else if (recl < 1)
        s = msg::inconsistent_record_length;
    if (s != 0) return for__io_return(1, s, s, lub);
    lub->lub_recl = 2 * static_cast<uint64_t>(recl);  // counted in 2-byte units
    lub->lub_maxrec = static_cast<uint64_t>(maxrec);
    lub->lub_assoc_var = assoc_var;
    lub->lub_assoc_kind = static_cast<uint8_t>(assoc_kind);
    lub->lub_flags |= lubf::define_file | lubf::access_direct | lubf::unformatted;
    lub->lub_flags &= ~(lubf::stmt_err | lubf::stmt_end);
    lub->lub_stmt_flags &= ~lubs::iostat;
    return for__release_lub(lub);
}

namespace {

// The option text of for_fdopen ("NEWLINE=YES, FORM=FORMATTED"): 0, or
// EINVAL for an option it does not know, ENOMEM without memory to read it.
int fdopen_options(const char *options, size_t length, For_Open_Args *args) try {
    std::string text;
    for (size_t i = 0; options && i < length; ++i) {
        unsigned char c = static_cast<unsigned char>(options[i]);
        if (!std::isspace(c)) text += static_cast<char>(std::toupper(c));
    }
    bool newline_given = false;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t comma = text.find(',', pos);
        std::string pair = text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
        pos = comma == std::string::npos ? text.size() : comma + 1;
        size_t eq = pair.find('=');
        if (eq == std::string::npos) return EINVAL;
        std::string key = pair.substr(0, eq), value = pair.substr(eq + 1);
        if (key == "NEWLINE" && (value == "YES" || value == "NO")) {
            args->carriage = value == "YES" ? 2 : 3;
            newline_given = true;
        } else if (key == "BLANK" && (value == "ZERO" || value == "NULL")) {
            args->blank = value == "ZERO" ? 1 : 2;
        } else if (key == "STATUS" && (value == "OLD" || value == "SCRATCH" || value == "UNKNOWN")) {
            args->status = value == "OLD" ? 1 : 4;
        } else if (key == "FORM" && (value == "UNFORMATTED" || value == "FORMATTED")) {
            args->form = value == "FORMATTED" ? 1 : 2;
        } else {
            return EINVAL;
        }
    }
    if (args->form == 2 && newline_given) args->carriage = 0;
    return 0;
} catch (const std::bad_alloc &) {
    return ENOMEM;
}

}  // namespace

VORLIX_API int for_fdopen(int fd, int unit, const char *options, size_t length) {
    if (fd < 0) return EBADF;
    For_Open_Args args{};
    args.form = 1;
    args.status = 4;
    if (int e = fdopen_options(options, length, &args)) return e;
    args.given_fd = fd;
    For_Lub *lub = nullptr;
    if (for__acquire_lun(unit, &lub, nullptr, FOR_OP_FDOPEN) != 0) return EBADF;
    lub->lub_flags &= ~lubf::options;
    lub->lub_flags |= lubf::opt_f90;
    lub->lub_stmt_flags |= lubs::compat;
    if (lub->lub_flags & (lubf::opened | lubf::define_file)) {
        for__release_lub(lub);
        return EBADF;
    }
    For_Conversion{}.store(lub);
    int s = for__open_proc(args, lub);
    if (s != 0) for__lub_free_owned(lub);  // nothing reports the failed name
    for__release_lub(lub);
    return s == 0 ? 0 : 9;
}
