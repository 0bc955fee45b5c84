// STOP, ERROR STOP, ABORT and CALL EXIT: the stop code printed through an
// ordinary unit, the signalling IEEE flags reported, then the one ending
// of the process (runtime/for_exit_handler.h).
#include <fenv.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string_view>

#include <vorlix/abi.h>
#include <vorlix/stop.h>

#include "diag/for_diag.h"
#include "diag/for_msgnum.h"
#include "io/for_rec.h"
#include "io/for_stmt.h"
#include "runtime/for_exit_handler.h"
#include "runtime/for_threadstor.h"
#include "runtime/for_write_all.h"
#include "units/for_lub.h"
#include "units/for_lub_mgt.h"
#include "units/for_open.h"

namespace {

constexpr int error_stop_default = 128;
constexpr int abort_status = 134;

// The thread whose STOP is under way, 0 before any STOP: a STOP is carried
// out once. Another thread stopping meanwhile waits for that ending; the
// same thread stopping again (from a procedure run while units are closed,
// from a signal) ends at once.
std::atomic<uint32_t> stop_owner{0};

// Texts of 521 and 522 for the compatibility dialect, at most 63
// characters each.
char msf_def_stopstr_msg[64];
char msf_def_stopn_msg[64];

std::string_view message_text(int number, char (&buf)[64]) {
    std::strncpy(buf, for__get_msg(number, 0), sizeof buf - 1);
    buf[sizeof buf - 1] = '\0';
    return buf;
}

bool has(uint64_t flags, uint64_t bit) { return (flags & bit) == bit; }

bool high_word(uint64_t flags, uint64_t bit) { return has(flags, VORLIX_STOP_HIGH_VALID) && has(flags, bit); }

void report_ieee_flags() {
    struct Flag {
        int except;
        int message;
    };
    static constexpr Flag order[] = {{FE_DIVBYZERO, msg::ieee_divide_by_zero_signaling},
                                     {FE_INVALID, msg::ieee_invalid_signaling},
                                     {FE_OVERFLOW, msg::ieee_overflow_signaling},
                                     {FE_UNDERFLOW, msg::ieee_underflow_signaling}};
    const int raised = fetestexcept(FE_ALL_EXCEPT);
    for (const Flag &f : order)
        if (raised & f.except) for__issue_diagnostic(f.message, 0);
}

// Writes the stop text on the unit's descriptor as a line of its own,
// whatever the unit's carriage control: what the unit still holds goes
// first (a record that a non-advancing WRITE left open is ended, held
// records are written), so the text follows the program's output in the
// file. A text is cut at 511 characters.
int put_stop_record(For_Lub *lub, std::string_view first, std::string_view second) {
    if (lub->lub_rec_state == rec_output && (lub->lub_flags & lubf::partial_record))
        if (int s = for__put_sf(lub)) return s;
    if (int s = for__flush_output(lub)) return s;
    char line[512];
    std::size_t n = 0;
    for (std::string_view piece : {first, second}) {
        const std::size_t k = std::min(piece.size(), sizeof line - 1 - n);
        if (k == 0) continue;  // an absent piece has no address to copy from
        std::memcpy(line + n, piece.data(), k);
        n += k;
    }
    line[n++] = '\n';
    if (for__write_all(lub->lub_fd, line, n) != 0) {
        lub->lub_errno = static_cast<uint64_t>(errno);
        return msg::write_error;
    }
    return 0;
}

// Steps 6 to 8: prints the stop text. 0, or what the entry returns.
int print_stop_text(int unit, uint64_t flags, std::string_view first, std::string_view second) {
    For_Context ctx{};
    For_Lub *lub = nullptr;
    if (int s = for__acquire_lun(unit, &lub, &ctx, FOR_OP_STOP)) {
        if (has(flags, VORLIX_STOP_ERR) || high_word(flags, VORLIX_STOP_IOSTAT)) return s;
        for__issue_diagnostic(s, 2, unit, "unknown");
        return s;
    }
    lub->lub_flags &= ~(lubf::stmt_err | lubf::stmt_end | lubf::stmt_eor);
    lub->lub_stmt_flags &= ~lubs::iostat;
    if (has(flags, VORLIX_STOP_ERR)) lub->lub_flags |= lubf::stmt_err;
    if (high_word(flags, VORLIX_STOP_IOSTAT)) lub->lub_stmt_flags |= lubs::iostat;
    if (!(lub->lub_flags & lubf::opened)) {
        for__merge_statement_options(lub, flags);
        if (int s = for__open_default(lub, FOR_ACCESS_SEQUENTIAL, 4 /* UNKNOWN */, 1 /* FORMATTED */))
            return for__io_return(2, s, for__iostat_of(s), lub);
    }
    if (int s = put_stop_record(lub, first, second)) return for__io_return(1, s, for__iostat_of(s), lub);
    for__release_lub(lub);
    return 0;
}

// Decimal digits of an integer stop code, '-' first when negative.
std::string_view code_digits(int64_t code, char (&buf)[24]) {
    uint64_t v = code < 0 ? 0 - static_cast<uint64_t>(code) : static_cast<uint64_t>(code);
    char *end = buf + sizeof buf;
    char *p = end;
    do {
        *--p = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    if (code < 0) *--p = '-';
    return {p, static_cast<std::size_t>(end - p)};
}

}  // namespace

VORLIX_API int for_stop_core_impl(int error_stop, const char *text, int length, int quiet, uint64_t flags, int64_t code,
                                  int kind, int integer_code) {
    const uint32_t me = for__thread_id();
    uint32_t owner = 0;
    if (!stop_owner.compare_exchange_strong(owner, me)) {
        // Another thread's STOP ends the process; this one waits for it.
        if (owner != me)
            for (;;) pause();
        // The same thread again: end now, with the status of the ending
        // already under way when there is one.
        for__exit_process(0, 0, For_Ending::exit);
    }
    const int status = integer_code && (kind == 4 || kind == 8) ? static_cast<int32_t>(code) : 0;
    if (quiet) for__exit_process(error_stop, status, For_Ending::exit);

    if (high_word(flags, VORLIX_STOP_IEEE_REPORT)) report_ieee_flags();

    const bool compat = has(flags, VORLIX_STOP_COMPAT);
    const std::string_view given{text ? text : "", text && length > 0 ? static_cast<std::size_t>(length) : 0};
    std::string_view first, second;
    int unit = FOR_UNIT_STDERR;
    if (!compat) {
        first = given;
    } else {
        unit = FOR_UNIT_STDOUT;
        if (!integer_code)
            first = given.empty() ? message_text(msg::stop_terminated, msf_def_stopstr_msg) : given;
        else {
            first = message_text(msg::return_code, msf_def_stopn_msg);
            second = given;
        }
    }
    if (!first.empty() || compat) {
        if (int r = print_stop_text(unit, flags, first, second); r != 0 && !error_stop) {
            // The STOP did not happen: a later STOP may try again.
            stop_owner.store(0);
            return r;
        }
    }
    for__exit_process(error_stop, status, For_Ending::exit);
}

VORLIX_API int for_stop(const char *text, int length) { return for_stop_core_impl(0, text, length, 0, 0, 0, 4, 0); }

VORLIX_API int for_stop_core(const char *text, int length, uint64_t flags, int32_t code, int integer_code) {
    return for_stop_core_impl(0, text, length, 0, flags, code, 4, integer_code);
}

VORLIX_API int for_stop_core8(const char *text, int length, uint64_t flags, int64_t code, int integer_code) {
    return for_stop_core_impl(0, text, length, 0, flags, code, 8, integer_code);
}

VORLIX_API int for_stop_core_quiet(const char *text, int length, int quiet, uint64_t flags, int32_t code,
                                   int integer_code) {
    return for_stop_core_impl(0, text, length, quiet, flags, code, 4, integer_code);
}

VORLIX_API int for_stop_core_quiet_int8(const char *text, int length, int quiet, uint64_t flags, int64_t code,
                                        int integer_code) {
    return for_stop_core_impl(0, text, length, quiet, flags, code, 8, integer_code);
}

VORLIX_API int for_stop_core_int(const int32_t *code, int, int quiet, uint64_t flags) {
    const int32_t v = code ? *code : 0;
    char buf[24];
    const std::string_view d = code_digits(v, buf);
    return for_stop_core_impl(0, d.data(), static_cast<int>(d.size()), quiet, flags, v, 4, 1);
}

VORLIX_API int for_stop_core_int8(const int64_t *code, int, int quiet, uint64_t flags) {
    const int64_t v = code ? *code : 0;
    char buf[24];
    const std::string_view d = code_digits(v, buf);
    return for_stop_core_impl(0, d.data(), static_cast<int>(d.size()), quiet, flags, v, 8, 1);
}

namespace {
int error_stop_core(const char *text, int length, int quiet, uint64_t flags, int64_t code, int code_given, int kind) {
    for_stop_core_impl(1, text, length, quiet, flags, code_given ? code : error_stop_default, kind, 1);
    return -1;
}

template <class T>
int error_stop_int(const T *address, int quiet, uint64_t flags, T value, int value_given, int kind) {
    T code = error_stop_default;
    if (value_given)
        code = value;
    else if (address && *address != 0)
        code = *address;
    char buf[24];
    const std::string_view d = code_digits(code, buf);
    for_stop_core_impl(1, d.data(), static_cast<int>(d.size()), quiet, flags, code, kind, 1);
    return -1;
}
}  // namespace

VORLIX_API int for_error_stop(const char *text, int length, uint64_t flags, int32_t code, int code_given) {
    return error_stop_core(text, length, 0, flags, code, code_given, 4);
}

VORLIX_API int for_error_stop8(const char *text, int length, uint64_t flags, int64_t code, int code_given) {
    return error_stop_core(text, length, 0, flags, code, code_given, 8);
}

VORLIX_API int for_error_stop_quiet(const char *text, int length, int quiet, uint64_t flags, int32_t code,
                                    int code_given) {
    return error_stop_core(text, length, quiet, flags, code, code_given, 4);
}

VORLIX_API int for_error_stop_quiet_int8(const char *text, int length, int quiet, uint64_t flags, int64_t code,
                                         int code_given) {
    return error_stop_core(text, length, quiet, flags, code, code_given, 8);
}

VORLIX_API int for_error_stop_int(const int32_t *code, int, int quiet, uint64_t flags, int32_t value, int value_given) {
    return error_stop_int<int32_t>(code, quiet, flags, value, value_given, 4);
}

VORLIX_API int for_error_stop_int8(const int64_t *code, int, int quiet, uint64_t flags, int64_t value,
                                   int value_given) {
    return error_stop_int<int64_t>(code, quiet, flags, value, value_given, 8);
}

VORLIX_API int for_abort(const char *text, int length) {
    for_stop_core_impl(0, text, length, 0, 0, abort_status, 4, 1);
    return 0;
}

VORLIX_API void for_exit(const int32_t *status) { for__exit_process(0, status ? *status : 0, For_Ending::exit); }
