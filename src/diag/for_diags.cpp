// Issuing a run-time diagnostic: header and text, the IOMSG= copy, the
// user error handler, the stack trace, output to standard error and the log
// file, and the end of the process for a severe condition.
#include "diag/for_diag.h"

#include "caf/for_caf.h"
#include "diag/for_msgnum.h"
#include "diag/for_msgtab.h"
#include "runtime/for_exit_handler.h"
#include "runtime/for_write_all.h"

#include <vorlix/runtime.h>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

thread_local char *for__user_iomsg_buf = nullptr;
thread_local uint64_t for__user_iomsg_len = 0;
For_Excpt_Info *for__l_excpt_info = nullptr;

namespace {

constexpr std::size_t diag_buffer_size = 16384;
constexpr std::size_t env_path_max = 260;
constexpr std::size_t caller_text_max = 8192;

// Conditions after which the program cannot sensibly go on: floating-point
// and integer exceptions and signals.
constexpr int not_continuable[] = {msg::float_invalid,
                                   msg::integer_overflow,
                                   msg::integer_divide_by_zero,
                                   msg::float_divide_by_zero,
                                   msg::float_underflow,
                                   msg::float_exception,
                                   msg::sigabrt,
                                   msg::sigquit,
                                   msg::float_inexact,
                                   msg::exc_illegal_instruction,
                                   msg::sigsegv};

struct User_Handler {
    For_User_Error_Handler handler;
    void *context;
};
pthread_mutex_t handler_mutex = PTHREAD_MUTEX_INITIALIZER;
User_Handler current_user_error_handler{nullptr, nullptr};

User_Handler current_handler() {
    pthread_mutex_lock(&handler_mutex);
    User_Handler h = current_user_error_handler;
    pthread_mutex_unlock(&handler_mutex);
    return h;
}

// A file name setting of 1 to 260 characters, copied so that a program
// changing its environment meanwhile cannot pull it away.
bool env_path(const char *name, char (&out)[env_path_max + 1]) {
    const char *v = std::getenv(name);
    if (!v) return false;
    std::size_t n = strnlen(v, env_path_max + 1);
    if (n == 0 || n > env_path_max) return false;
    std::memcpy(out, v, n);
    out[n] = '\0';
    return true;
}

bool debugger_mode() {
    return for__diag_env_flag("FOR__IS_DEBUGGER_PRESENT") || for__diag_env_flag("FOR_DEBUGGER_IS_PRESENT");
}

bool pending_exception() { return for__l_excpt_info && for__l_excpt_info->signal_pair; }

std::size_t append(char *buf, std::size_t used, std::size_t size, std::string_view s) {
    std::size_t k = std::min(s.size(), size - 1 - used);
    std::memcpy(buf + used, s.data(), k);
    buf[used + k] = '\0';
    return used + k;
}

void copy_to_iomsg(std::string_view text) {
    char *var = for__user_iomsg_buf;
    const uint64_t len = for__user_iomsg_len;
    if (!var || len == 0) return;
    const std::size_t k = std::min<uint64_t>(text.size(), len);
    std::memcpy(var, text.data(), k);
    std::memset(var + k, ' ', len - k);
}

[[noreturn]] void end_after_diagnostic(int number, bool core_dump, bool debugger) {
    if (core_dump) for__end_process(0, true, debugger);
    for__end_process(for__severe_exit_status(number), false, debugger);
}

int issue(int number, int nargs, va_list ap, uintptr_t caller) {
    number &= 0xffff;
    const bool debugger = debugger_mode();
    const bool forced = for__diag_env_flag("FOR_FORCE_STACK_TRACE");
    const bool no_trace = !forced && (debugger || for__diag_env_flag("FOR_DISABLE_STACK_TRACE"));

    int severity;
    const char *text;
    bool known = get_message(number, &severity, &text) == 0;
    if (!known) {
        severity = static_cast<int>(for__msg_row(msg::msg_not_found)->severity);
        text = "Message not found\n";
        nargs = 0;
    }

    char *buf = static_cast<char *>(std::malloc(diag_buffer_size));
    for__redirect_stderr();
    if (!buf) {
        // Nothing is left to build the text in: a line made on the stack
        // still says which condition it was.
        char line[256];
        const char *fmt = for__get_msg(msg::no_message_buffer_hex, 0);
        const long long twice[2] = {number, number};
        std::size_t n = for__format_msg_typed(line, sizeof line - 1, fmt, twice, 2, nullptr, 0);
        line[n++] = '\n';
        for__write_all(STDERR_FILENO, line, n);
    } else {
        const long long header_arg[1] = {number};
        std::size_t used =
            for__format_msg_typed(buf, diag_buffer_size, for__msg_header(severity), header_arg, 1, nullptr, 0);
        const std::size_t text_start = used;
        // One byte stays free for the newline.
        if (nargs <= 0)
            used = append(buf, used, diag_buffer_size - 1, text);
        else
            used += for__vformat_msg(buf + used, diag_buffer_size - 1 - used, text, nargs, ap);
        copy_to_iomsg({buf + text_start, used - text_start});
        used = append(buf, used, diag_buffer_size, "\n");

        const int image = for__this_image_number_or_zero();
        if (image != 0 && !no_trace)
            used += for__image_line(buf + used, diag_buffer_size - used, image,
                                    for__this_original_image_number_or_zero(), for__this_team_id_or_zero());

        const User_Handler h = current_handler();
        if (h.handler) {
            int continuable = 1;
            if (severity == 4 || pending_exception() ||
                std::find(std::begin(not_continuable), std::end(not_continuable), number) != std::end(not_continuable))
                continuable = 0;
            int n = number;
            if (h.handler(&n, &continuable, buf, h.context, static_cast<int64_t>(used)) != 0) {
                std::free(buf);
                return 0;
            }
        }

        // A terminating image reports SIGTERM through the coarray library,
        // which has already said why: a trace of every image would bury it.
        const bool quiet_sigterm = number == msg::sigterm && for__caf_probably_abort() != 0;
        if (!no_trace && !quiet_sigterm &&
            (severity >= 3 || forced || pending_exception() ||
             (number >= msg::text2_plain && number <= msg::text2_error))) {
            uintptr_t start = pending_exception() ? for__signal_pair_ip(for__l_excpt_info->signal_pair) : caller;
            used += for__traceback_text(start, buf + used, diag_buffer_size - used, 0);
        }

        for__caf_abort(quiet_sigterm ? nullptr : buf);
        if (!quiet_sigterm) for__dump_msg_buff(buf);
        std::free(buf);
        if (debugger && severity == 3) raise(SIGINT);
    }

    const bool core_dump = for__core_dump_requested();
    if (core_dump || severity == 4) end_after_diagnostic(number, core_dump, debugger);
    return 0;
}

// The trace of a diagnostic starts in the code that called the library's
// entry, not inside the diagnostic machinery.
int issue_from(uintptr_t caller, int number, int nargs, ...) {
    va_list ap;
    va_start(ap, nargs);
    int r = issue(number, nargs, ap, caller);
    va_end(ap);
    return r;
}

uintptr_t caller_of_entry(void *return_address) { return reinterpret_cast<uintptr_t>(return_address); }

int establish(For_User_Error_Handler handler, void *context, For_User_Error_Handler *old_handler,
              int64_t *old_context) {
    pthread_mutex_lock(&handler_mutex);
    const User_Handler previous = current_user_error_handler;
    current_user_error_handler = {handler, context};
    pthread_mutex_unlock(&handler_mutex);
    if (old_handler) *old_handler = previous.handler;
    if (old_context) {
        int64_t word = 0;
        if (previous.context) std::memcpy(&word, previous.context, sizeof word);
        *old_context = word;
    }
    return 1;
}

}  // namespace

For_User_Error_Handler for__user_error_handler(void **context, bool wait) {
    if (wait ? pthread_mutex_lock(&handler_mutex) != 0 : pthread_mutex_trylock(&handler_mutex) != 0) {
        *context = nullptr;
        return nullptr;
    }
    const User_Handler h = current_user_error_handler;
    pthread_mutex_unlock(&handler_mutex);
    *context = h.context;
    return h.handler;
}

namespace {

// Per thread: a text handed back by for__get_msg stays intact while other
// threads look up their own messages.
thread_local char get_msg_buf[264];

}  // namespace

bool for__diag_env_flag(const char *name) { return for_check_env_name(name) != 0; }

bool for__core_dump_requested() {
    return for__diag_env_flag("FOR_DUMP_CORE_FILE") || for__diag_env_flag("f77_dump_flag") ||
           for__diag_env_flag("quembar_dump_flag");
}

void for__set_iomsg_target(char *buf, uint64_t len) {
    for__user_iomsg_buf = buf;
    for__user_iomsg_len = buf ? len : 0;
}

void for__clear_iomsg_target() {
    for__user_iomsg_buf = nullptr;
    for__user_iomsg_len = 0;
}

int for__issue_diagnostic(int number, int nargs, ...) {
    va_list ap;
    va_start(ap, nargs);
    int r = issue(number, nargs, ap, caller_of_entry(__builtin_return_address(0)));
    va_end(ap);
    return r;
}

const char *for__get_msg(int number, int nargs, ...) {
    int severity;
    const char *text;
    get_msg_buf[0] = '\0';
    if (get_message(number, &severity, &text) != 0 || std::strcmp(text, "place holder") == 0) return get_msg_buf;
    if (nargs <= 0) {
        // Copied as it stands, at most 256 characters.
        std::size_t n = strnlen(text, 256);
        std::memcpy(get_msg_buf, text, n);
        get_msg_buf[n] = '\0';
    } else {
        va_list ap;
        va_start(ap, nargs);
        for__vformat_msg(get_msg_buf, sizeof get_msg_buf, text, nargs, ap);
        va_end(ap);
    }
    return get_msg_buf;
}

std::size_t for__image_line(char *out, std::size_t room, int image, int original_image, int team) {
    if (team == -1) {
        const long long v[1] = {image};
        return for__format_msg_typed(out, room, for__msg_header(for_header_image), v, 1, nullptr, 0);
    }
    const long long v[3] = {image, original_image, team};
    return for__format_msg_typed(out, room, for__msg_header(for_header_image_team), v, 3, nullptr, 0);
}

void for__dump_msg_buff(const char *text) {
    const std::size_t n = std::strlen(text);
    char log[env_path_max + 1];
    if (env_path("FOR_DIAGNOSTIC_LOG_FILE", log)) {
        if (FILE *f = std::fopen(log, "a")) {
            std::fwrite(text, 1, n, f);
            std::fclose(f);
        }
    }
    if (!for__diag_env_flag("FOR_DISABLE_DIAGNOSTIC_DISPLAY")) {
        // Whatever the program wrote to stderr through stdio goes first.
        std::fflush(stderr);
        for__write_all(STDERR_FILENO, text, n);
    }
}

namespace {
void apply_fort0() {
    char name[env_path_max + 1];
    if (!env_path("FORT0", name)) return;
    // Opened first and moved onto descriptor 2 only once it exists: a name
    // that cannot be opened leaves standard error where it was.
    int fd = open(name, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0) return;
    std::fflush(stderr);
    dup2(fd, STDERR_FILENO);
    close(fd);
}
}  // namespace

void for__redirect_stderr() {
    // Threads that report at the same time all wait for the redirection,
    // so that none of them writes to the old standard error.
    static pthread_once_t fort0_once = PTHREAD_ONCE_INIT;
    pthread_once(&fort0_once, apply_fort0);
}

int for__severe_exit_status(int number) {
    const int status = number & 0xffff;
    // The parent sees only the low 8 bits; 256, 512, ... must not read as success.
    return (status & 0xff) == 0 ? 255 : status;
}

void for__severe_exit(int status) { for__end_process(for__severe_exit_status(status), false, false); }

void for__end_process(int status, bool core_dump, bool debugger) {
    // Every ending runs the exit handler, which also frees the pending
    // exception record: units are closed however the program stops.
    for__exit_process(0, status, core_dump ? For_Ending::abort : For_Ending::exit, debugger);
}

VORLIX_API void for_emit_diagnostic(int code, const char *format, ...) {
    static constexpr int messages[9] = {msg::text_plain, msg::text_info,     msg::text_warning,
                                        msg::text_error, msg::text2_severe,  msg::text2_plain,
                                        msg::text2_info, msg::text2_warning, msg::text2_error};
    const int selector = code >> 26;
    if (selector < 0 || selector > 8) return;
    const uintptr_t caller = caller_of_entry(__builtin_return_address(0));
    char *text = static_cast<char *>(std::malloc(caller_text_max + 4));
    if (!text) {
        issue_from(caller, msg::no_memory, 0);
        return;
    }
    va_list ap;
    va_start(ap, format);
    const int n = std::vsnprintf(text, caller_text_max + 1, format ? format : "", ap);
    va_end(ap);
    if (n < 0 || static_cast<std::size_t>(n) > caller_text_max)
        issue_from(caller, msg::diag_buffer_overflow, 1, static_cast<unsigned>(code));
    else
        issue_from(caller, messages[selector], 1, static_cast<const char *>(text));
    std::free(text);
}

VORLIX_API int for__establish_user_error_handler(For_User_Error_Handler handler, void *context,
                                                 For_User_Error_Handler *old_handler, int64_t *old_context) {
    return establish(handler, context, old_handler, old_context);
}

VORLIX_API int for__intermediate_establish(For_User_Error_Handler handler, void *context,
                                           For_User_Error_Handler *old_handler, int64_t *old_context) {
    return establish(handler, context, old_handler, old_context);
}

VORLIX_API void for__rtc_uninit_use(const char *variable) {
    issue_from(caller_of_entry(__builtin_return_address(0)), msg::undefined_variable, 1, variable ? variable : "");
}

VORLIX_API void for__rtc_uninit_use_src(const char *variable, const char *procedure) {
    issue_from(caller_of_entry(__builtin_return_address(0)), msg::undefined_variable_in, 2, variable ? variable : "",
               procedure ? procedure : "");
}
