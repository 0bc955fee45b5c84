// Stack traces: the frames of the calling thread, one line each, written
// into the room a diagnostic buffer has left; and the entries that print a
// trace on request (TRACEBACKQQ, the host-side continuation banner).
#include "diag/for_diag.h"
#include "diag/for_msgnum.h"

#include <dlfcn.h>
#include <pthread.h>
#include <signal.h>
#include <ucontext.h>
#include <unistd.h>
#include <unwind.h>

#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int max_frames = 128;
constexpr std::size_t trace_area = 16384;

// Serialises traces of different threads: dladdr and the unwinder are
// safe to share, but interleaved traces on one stderr are not readable.
pthread_mutex_t trace_mutex = PTHREAD_MUTEX_INITIALIZER;
// Set while this thread writes a trace: a signal arriving meanwhile, whose
// diagnostic asks for another trace, gets none instead of a deadlock.
thread_local bool tracing = false;

struct Walk {
    uintptr_t pcs[max_frames];
    int count;
    uintptr_t start_ip;
    bool started;
};

_Unwind_Reason_Code collect(struct _Unwind_Context *ctx, void *arg) {
    Walk &w = *static_cast<Walk *>(arg);
    int before_insn = 0;
    const uintptr_t ip = _Unwind_GetIPInfo(ctx, &before_insn);
    if (ip == 0) return _URC_END_OF_STACK;
    if (!w.started && w.start_ip != 0 && ip != w.start_ip) return _URC_NO_REASON;
    w.started = true;
    // A return address names the instruction after the call: step back into
    // the call so that the frame is attributed to the calling function. A
    // signal context's pc is the interrupted instruction itself.
    w.pcs[w.count++] = before_insn ? ip : ip - 1;
    return w.count == max_frames ? _URC_END_OF_STACK : _URC_NO_REASON;
}

// One frame line: "#3   0x0000561c2b4011a2 main+0x12 in prog". Built
// without snprintf: the signal handler writes traces too. Returns the
// length, or -1 when the line does not fit whole.
int frame_line(char *out, std::size_t room, int index, uintptr_t pc) {
    Dl_info info{};
    const bool found = dladdr(reinterpret_cast<void *>(pc), &info) != 0;
    const char *module = found && info.dli_fname && *info.dli_fname ? info.dli_fname : "??";
    if (const char *slash = std::strrchr(module, '/')) module = slash + 1;
    For_Safe_Text t{out, room};
    if (room == 0) return -1;
    t.add("#").dec(index);
    for (std::size_t w = t.used; w < 4; ++w) t.add(" ");
    t.add(" 0x").hex(pc, 16).add(" ");
    if (found && info.dli_sname)
        t.add(info.dli_sname).add("+0x").hex(pc - reinterpret_cast<uintptr_t>(info.dli_saddr));
    else
        t.add("?? (+0x").hex(pc - (found ? reinterpret_cast<uintptr_t>(info.dli_fbase) : 0)).add(")");
    t.add(" in ").add(module);
    if (!t.fits(1)) return -1;
    t.add("\n");
    return static_cast<int>(t.used);
}

std::size_t write_trace(uintptr_t start_ip, char *out, std::size_t room, int mode) {
    Walk w{};
    w.start_ip = start_ip;
    _Unwind_Backtrace(collect, &w);
    if (!w.started) {
        // The start frame was not on the stack: show the whole of it.
        w = Walk{};
        _Unwind_Backtrace(collect, &w);
    }
    std::size_t used = 0;
    // Only whole lines are kept: a cut frame line would only mislead.
    auto add = [&](int written) {
        if (written < 0 || static_cast<std::size_t>(written) >= room - used) {
            out[used] = '\0';
            return false;
        }
        used += static_cast<std::size_t>(written);
        return true;
    };
    static constexpr std::string_view heading = "Stack trace, innermost call first:\n";
    if (mode == 0) {
        if (heading.size() >= room) return 0;
        std::memcpy(out, heading.data(), heading.size());
        out[heading.size()] = '\0';
        used = heading.size();
    }
    for (int i = 0; i < w.count; ++i)
        if (!add(frame_line(out + used, room - used, i, w.pcs[i]))) break;
    return used;
}

int traceback_qq(const char *string, int *exit_code, int *status, const For_Signal_Pair *context, int64_t length,
                 uintptr_t caller) {
    const bool keep_going = exit_code && *exit_code == -1;
    const std::size_t len = length > 0 && string ? static_cast<std::size_t>(length) : 0;
    // The user's string, when given, is a line of its own even when empty.
    char *area = static_cast<char *>(std::calloc(1, len + trace_area + 1));
    if (!area) {
        if (keep_going) {
            if (status) *status = msg::no_memory;
            return msg::no_memory;
        }
        for__issue_diagnostic(msg::no_memory, 0);
        return msg::no_memory;
    }
    std::size_t used = 0;
    if (string) {
        std::memcpy(area, string, len);
        area[len] = '\n';
        used = len + 1;
    }
    if (!for__diag_env_flag("FOR_DISABLE_STACK_TRACE") || for__diag_env_flag("FOR_FORCE_STACK_TRACE")) {
        const uintptr_t start = context ? for__signal_pair_ip(context) : caller;
        used += for__traceback_text(start ? start : caller, area + used, trace_area, 1);
    }
    for__redirect_stderr();
    for__dump_msg_buff(area);
    std::free(area);
    if (keep_going) {
        if (status) *status = 0;
        return 0;
    }
    for__end_process(exit_code ? *exit_code : 0, for__core_dump_requested(), false);
}

void continue_traceback(uintptr_t caller) {
    for__redirect_stderr();
    char *area = static_cast<char *>(std::malloc(trace_area));
    if (!area) {
        const char *text = for__get_msg(msg::no_message_memory, 0);
        std::fprintf(stderr, "%s\n", text);
        return;
    }
    static constexpr char banner[] = "...Traceback continuing on host side:\n";
    std::memcpy(area, banner, sizeof banner);
    std::size_t used = sizeof banner - 1;
    used += for__traceback_text(caller, area + used, trace_area - used, 0);
    std::fflush(stderr);
    std::fwrite(area, 1, used, stderr);
    std::fflush(stderr);
    std::free(area);
}

}  // namespace

std::size_t for__traceback_text(uintptr_t start_ip, char *out, std::size_t room, int mode) {
    if (room == 0) return 0;
    out[0] = '\0';
    if (tracing) return 0;
    tracing = true;
    pthread_mutex_lock(&trace_mutex);
    std::size_t n = write_trace(start_ip, out, room, mode);
    pthread_mutex_unlock(&trace_mutex);
    tracing = false;
    return n;
}

std::size_t for__traceback_text_in_handler(uintptr_t start_ip, char *out, std::size_t room) {
    if (room == 0) return 0;
    out[0] = '\0';
    if (tracing) return 0;
    // Another thread's trace ends soon; a lock held by code this signal
    // interrupted would never be released, so the wait is bounded.
    bool locked = false;
    for (int i = 0; i < 200 && !locked; ++i) {
        locked = pthread_mutex_trylock(&trace_mutex) == 0;
        if (!locked) {
            const timespec pause{0, 5'000'000};
            nanosleep(&pause, nullptr);
        }
    }
    if (!locked) return 0;
    tracing = true;
    std::size_t n = write_trace(start_ip, out, room, 0);
    tracing = false;
    pthread_mutex_unlock(&trace_mutex);
    return n;
}

uintptr_t for__signal_pair_ip(const For_Signal_Pair *pair) {
    if (!pair || !pair->context) return 0;
    const auto *uc = static_cast<const ucontext_t *>(pair->context);
    return static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_RIP]);
}

VORLIX_API int tracebackqq_(const char *string, int *exit_code, int *status, const For_Signal_Pair *context,
                            int64_t length) {
    return traceback_qq(string, exit_code, status, context, length,
                        reinterpret_cast<uintptr_t>(__builtin_return_address(0)));
}

VORLIX_API int TRACEBACKQQ(const char *string, int *exit_code, int *status, const For_Signal_Pair *context,
                           int64_t length) {
    return traceback_qq(string, exit_code, status, context, length,
                        reinterpret_cast<uintptr_t>(__builtin_return_address(0)));
}

VORLIX_API void for__continue_traceback(void) {
    continue_traceback(reinterpret_cast<uintptr_t>(__builtin_return_address(0)));
}

VORLIX_API void for__continue_traceback_(void) {
    continue_traceback(reinterpret_cast<uintptr_t>(__builtin_return_address(0)));
}
