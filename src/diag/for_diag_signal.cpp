// Diagnostics from inside the signal handler. The interrupted code may hold
// the allocator's, stdio's or the catalog's locks (a SIGABRT from heap
// corruption arrives with malloc locked), so the text is built in a static
// emergency buffer from the built-in message texts and written with
// write(2); nothing here allocates or formats through the C library.
#include "diag/for_diag.h"

#include "diag/for_msgtab.h"
#include "runtime/for_write_all.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

namespace {

constexpr std::size_t emergency_size = 16384;
constexpr std::size_t env_path_max = 260;
char emergency_buffer[emergency_size];
// One signal diagnostic at a time owns the buffer; a second one finds it
// taken and prints nothing rather than overwrite a text being written.
std::atomic<bool> emergency_taken{false};

// Built-in headers by severity (the texts of messages 450 to 454).
constexpr const char *header_of_severity[5] = {
    "forrtl: ", "forrtl: info (%i): ", "forrtl: warning (%i): ", "forrtl: error (%i): ", "forrtl: severe (%i): "};

bool debugger_mode() {
    return for__diag_env_flag("FOR__IS_DEBUGGER_PRESENT") || for__diag_env_flag("FOR_DEBUGGER_IS_PRESENT");
}

void write_out(const char *text, std::size_t n) {
    if (const char *log = std::getenv("FOR_DIAGNOSTIC_LOG_FILE")) {
        const std::size_t len = strnlen(log, env_path_max + 1);
        if (len > 0 && len <= env_path_max) {
            const int fd = open(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
            if (fd >= 0) {
                for__write_all(fd, text, n);
                close(fd);
            }
        }
    }
    if (!for__diag_env_flag("FOR_DISABLE_DIAGNOSTIC_DISPLAY")) for__write_all(STDERR_FILENO, text, n);
}

}  // namespace

void for__safe_format(For_Safe_Text &out, const char *fmt, const long long *ints, int nints, const char *const *strs,
                      int nstrs) {
    int ni = 0, ns = 0;
    for (const char *p = fmt; *p; ++p) {
        if (p[0] == '%' && (p[1] == 'd' || p[1] == 'i')) {
            out.dec(ni < nints ? ints[ni] : 0);
            ++ni;
            ++p;
        } else if (p[0] == '%' && p[1] == 's') {
            out.add(ns < nstrs && strs[ns] ? strs[ns] : "");
            ++ns;
            ++p;
        } else if (p[0] == '%' && p[1] == '%') {
            out.add("%");
            ++p;
        } else {
            out.add({p, 1});
        }
    }
}

int for__issue_signal_diagnostic(int number, const char *arg, int line) {
    const For_Msg_Row *row = for__msg_row(number);
    if (!row || emergency_taken.exchange(true)) return 0;
    const int severity = static_cast<int>(row->severity);
    const bool forced = for__diag_env_flag("FOR_FORCE_STACK_TRACE");
    const bool no_trace = !forced && (debugger_mode() || for__diag_env_flag("FOR_DISABLE_STACK_TRACE"));

    For_Safe_Text t{emergency_buffer, emergency_size};
    const long long header_arg[1] = {number};
    for__safe_format(t, header_of_severity[severity <= 4 ? severity : 4], header_arg, 1, nullptr, 0);
    const long long line_arg[1] = {line};
    const char *strs[1] = {arg};
    for__safe_format(t, row->text, line_arg, 1, strs, arg ? 1 : 0);
    t.add("\n");

    void *context = nullptr;
    if (For_User_Error_Handler h = for__user_error_handler(&context, false)) {
        // Signal conditions cannot be continued from.
        int n = number, continuable = 0;
        if (h(&n, &continuable, emergency_buffer, context, static_cast<int64_t>(t.used)) != 0) {
            emergency_taken.store(false);
            return 1;
        }
    }
    if (!no_trace) {
        const uintptr_t start = for__l_excpt_info ? for__signal_pair_ip(for__l_excpt_info->signal_pair) : 0;
        t.used += for__traceback_text_in_handler(start, t.buf + t.used, t.size - t.used);
    }
    write_out(t.buf, t.used);
    emergency_taken.store(false);
    return 0;
}
