// Statement completion: the single place that decides whether a condition
// goes back to the program (IOSTAT=, ERR=, END=, EOR=) or becomes a
// diagnostic, records the thread's last error, and fills IOMSG=.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <unistd.h>

#include "diag/for_diag.h"
#include "diag/for_msgnum.h"
#include "diag/for_msgtab.h"
#include "io/for_stmt.h"
#include "runtime/for_threadstor.h"
#include "units/for_lub_mgt.h"
#include "units/for_open.h"

namespace {

constexpr size_t max_file_text = 4145;

bool is_eof(int c, const For_Lub *lub) {
    if (c == msg::iostat_end || c == msg::eof_during_read || c == msg::eof_encountered) return true;
    if (c != msg::too_many_records) return false;
    switch (lub->lub_op) {
    case FOR_OP_READ:
    case FOR_OP_READ_LIS:
    case FOR_OP_READ_NML:
    case FOR_OP_RESERVED_READ_24:
    case FOR_OP_RESERVED_READ_25:
    case FOR_OP_RESERVED_READ_PROMPT_32:
    case FOR_OP_GETC:
    case FOR_OP_RESERVED_READ_NO_PROMPT_34: return true;
    default: return false;
    }
}

bool is_eor(int c) { return c == msg::iostat_eor || c == msg::eor_during_read || c == msg::eor_encountered; }

// The file part of a unit's messages: its name, or "Unknown" quoted, and
// the input position when the unit asked for it. Built in place: a
// statement that fails for want of memory must still be able to say so,
// and release its unit.
struct File_Text {
    char text[max_file_text + 96];
    const char *c_str() const { return text; }
};

void file_text(For_Lub *lub, File_Text *out) {
    char *t = out->text;
    const size_t room = sizeof out->text;
    size_t used = 0;
    if (lub->lub_file_name) {
        size_t n = std::strlen(lub->lub_file_name);
        size_t stored = lub->lub_file_name_len > 0 ? static_cast<size_t>(lub->lub_file_name_len) : 0;
        if (stored > n) n = stored;
        used = n < max_file_text ? n : max_file_text;
        std::memcpy(t, lub->lub_file_name, used);
        t[used] = '\0';
    } else {
        used = static_cast<size_t>(std::snprintf(t, room, "\"%s\"", for__get_msg(msg::unknown, 0)));
        if (used >= room) used = room - 1;
    }
    if (lub->lub_msg_line > 0) {
        char line[24];
        std::snprintf(line, sizeof line, "%llu", static_cast<unsigned long long>(lub->lub_record_number - 1));
        long column = lub->lub_buf_ptr && lub->lub_rec_start ? lub->lub_buf_ptr - lub->lub_rec_start : 0;
        std::snprintf(t + used, room - used, "%s", for__get_msg(msg::line_position, 2, line, static_cast<int>(column)));
        lub->lub_msg_line = 0;
    }
}

// Which arguments a message's own conversions take. Unit messages end in
// ", unit %d, file %s" and msg::incorrect_specifier and
// msg::incorrect_specifier_value lead with the specifier; a text of any
// other shape is used as it stands rather than fed arguments it does not
// expect.
enum class Args { none, unit, unit_file, keyword_unit_file };

Args args_for(int number) {
    const For_Msg_Row *row = for__msg_row(number);
    if (!row) return Args::none;
    std::string_view sig = row->signature;
    if (sig == "d") return Args::unit;
    if (sig == "d,s") return Args::unit_file;
    if (sig == "s,d,s") return Args::keyword_unit_file;
    return Args::none;
}

const char *format_message(int number, const char *keyword, int unit, const File_Text &file) {
    switch (args_for(number)) {
    case Args::unit: return for__get_msg(number, 1, unit);
    case Args::unit_file: return for__get_msg(number, 2, unit, file.c_str());
    case Args::keyword_unit_file: return for__get_msg(number, 3, keyword ? keyword : "", unit, file.c_str());
    default: return for__get_msg(number, 0);
    }
}

void issue(int number, const char *keyword, int unit, const File_Text &file) {
    switch (args_for(number)) {
    case Args::unit: for__issue_diagnostic(number, 1, unit); break;
    case Args::unit_file: for__issue_diagnostic(number, 2, unit, file.c_str()); break;
    case Args::keyword_unit_file: for__issue_diagnostic(number, 3, keyword ? keyword : "", unit, file.c_str()); break;
    default: for__issue_diagnostic(number, 0); break;
    }
}

void copy_blank_padded(char *dst, uint64_t len, std::string_view text) {
    size_t n = text.size() < len ? text.size() : static_cast<size_t>(len);
    std::memcpy(dst, text.data(), n);
    if (n < len) std::memset(dst + n, ' ', static_cast<size_t>(len - n));
}

void record_last_error(For_Lub *lub, int iostat, const char *keyword) {
    For_Last_Error &e = for__thread_storage().last_error;
    e.err_number = static_cast<uint32_t>(iostat);
    e.err_errno = static_cast<int32_t>(lub->lub_errno);
    e.err_status = 0;
    e.err_unit = lub->lub_unit;
    e.err_condition = 0;
    // The keyword field is fixed-width: a 64-character name fills it with
    // no terminator, which every reader of the record allows for.
    std::memset(e.err_keyword, 0, sizeof e.err_keyword);
    if (keyword) std::memcpy(e.err_keyword, keyword, strnlen(keyword, sizeof e.err_keyword));
}

// Discards what a failed implicit connection left in the block, so that
// the next statement finds the unit as it was before.
void discard_connection(For_Lub *lub) {
    if (lub->lub_fd > 2 && (lub->lub_flags & lubf::own_fd)) ::close(lub->lub_fd);
    const uint64_t console = lub->lub_flags & lubf::preconnected_env;
    for__lub_reset(lub);
    if (console && for__is_preconnected_block(lub)) lub->lub_flags = lubf::preconnected_env;
}

int apply_disposition(int d, For_Lub *lub) {
    switch (d) {
    case 0: return 0;
    case 1: return for__release_lub(lub);
    case 2: discard_connection(lub); return for__release_lub(lub);
    case 3:
        // The close's own failure has no statement left to name its file.
        if (for__close_proc(nullptr, lub, false) != 0) for__lub_free_owned(lub);
        return for__release_lub(lub);
    default: for__issue_diagnostic(msg::internal_error, 2, "for_io_return", __LINE__); return msg::internal_error;
    }
}

}  // namespace

int for__io_return(int d, int s, int v, For_Lub *lub) {
    int c = s == msg::udio_error ? v : s;
    File_Text file;
    file_text(lub, &file);
    const char *keyword =
        (c == msg::incorrect_specifier || c == msg::incorrect_specifier_value) ? lub->lub_bad_spec : nullptr;
    int unit = lub->lub_unit;
    record_last_error(lub, v, keyword);

    const bool eof = is_eof(c, lub);
    const bool eor = is_eor(c);
    const uint64_t fl = lub->lub_flags;
    const bool iostat = (lub->lub_stmt_flags & lubs::iostat) != 0;
    bool handled = true;
    int result = v;
    if (((fl & lubf::stmt_err) && !eof && !eor) || ((fl & lubf::cvterr_quiet) && c == msg::output_conversion)) {
        lub->lub_errno = 0;
    } else if ((fl & lubf::stmt_end) && eof) {
        lub->lub_flags |= lubf::eof;
        result = msg::iostat_end;
    } else if ((fl & lubf::stmt_eor) && eor) {
        result = msg::iostat_eor;
    } else if (iostat) {
        if (eof) lub->lub_flags |= lubf::eof;
        result = eof ? msg::iostat_end : eor ? msg::iostat_eor : v;
    } else {
        handled = false;
    }

    if (handled) {
        if (lub->lub_stmt.iomsg_addr && lub->lub_stmt.iomsg_len > 0 && c != msg::udio_error && s != msg::udio_error &&
            !(lub->lub_stmt_flags & lubs::iomsg_quiet)) {
            int number = v < 0 ? (v == msg::iostat_end ? msg::eof_during_read : msg::eor_during_read) : v;
            copy_blank_padded(lub->lub_stmt.iomsg_addr, lub->lub_stmt.iomsg_len,
                              format_message(number, keyword, unit, file));
        }
        apply_disposition(d, lub);
        return result;
    }

    // Unhandled: the condition becomes a diagnostic, after the system's own
    // reason for it.
    if (lub->lub_errno != 0) {
        errno = static_cast<int>(lub->lub_errno);
        std::perror("forrtl");
        lub->lub_errno = 0;
    }
    char *iomsg = lub->lub_stmt.iomsg_addr;
    uint64_t iomsg_len = lub->lub_stmt.iomsg_len;
    char keyword_copy[80] = {};
    if (keyword) std::snprintf(keyword_copy, sizeof keyword_copy, "%s", keyword);
    apply_disposition(d, lub);
    for__set_iomsg_target(iomsg, iomsg_len);
    issue(c, keyword ? keyword_copy : nullptr, unit, file);
    for__clear_iomsg_target();
    return c;
}
